// Windows 8 and later, and what administrators expect: each run mode on
// Windows 8.1 and 10, the input profile, exit code 3010 and the help.
#include <algorithm>

#include "archive_builder.h"
#include "registry_snapshot.h"
#include "sim_fixture.h"

namespace {
enum Mode { kSilent, kWindow, kRegistration };
const char* kLog = "C:\\LOGS\\V.LOG";

// One run of `mode` on `mm` as a fresh process, with the sample payload;
// the window is walked to the end of the install.
int RunMode(Mode mode, sim::Machine& mm, const char* silentLine = "setvosrf32 /log=C:\\logs\\v.log") {
    sim::Use(&mm);
    ResetInstallContext();
    memset(&g_preload, 0, sizeof(g_preload));
    mm.AddDir("C:\\logs");
    mm.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build(testvoz::SampleMembers()))});
    int rc = SetupMain(nullptr,
                       mode == kSilent   ? silentLine
                       : mode == kWindow ? ""
                                         : "regvo32=C:\\Program Files\\vornhu\\",
                       SW_SHOW);
    for (int i = 0; mode == kWindow && i < 3; i++) mm.gui.Click(g_ctx.setupWindow, 90, 257), mm.gui.Pump();
    ClosePayload();
    return rc;
}
}  // namespace

// Windows 8.1 and 10 as the manifest lets them report, and 6.2 as they
// report without it: every mode leaves what it leaves on Windows 7 (which
// loads no input.dll), plus the registered layout (ImmInstallIMEW's, or the
// manual entry's) in the user's input profiles, once, in the language the
// layout was registered with (a 950 system's manual entry is traditional).
TEST(Windows8Test, EveryModeAddsTheRegisteredLayoutToTheInputProfiles) {
    const struct {
        DWORD major, minor;
        UINT codePage;
        bool manual;
        const char16_t* profile;
        const char* language;
    } cases[] = {{6, 2, 936, false, u"0804:E0010804", "zh-Hans-CN"},
                 {10, 0, 950, false, u"0804:E0010804", "zh-Hans-CN"},
                 {6, 3, 950, true, u"0404:E0010404", "zh-Hant-TW"}};
    for (Mode mode : {kSilent, kWindow, kRegistration}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(mode) + ": " + sim::Utf16ToUtf8(c.profile));
            sim::Machine win7, later;
            for (sim::Machine* mm : {&win7, &later}) mm->oemCodePage = mm->ansiCodePage = c.codePage;
            win7.imeInstallResult = later.imeInstallResult = c.manual ? nullptr : win7.imeInstallResult;
            later.majorVersion = c.major, later.minorVersion = c.minor;
            EXPECT_EQ(RunMode(mode, later), RunMode(mode, win7));
            EXPECT_TRUE(win7.layoutOrTipCalls.empty());
            EXPECT_EQ(
                std::count(win7.libraryNames.begin(), win7.libraryNames.end(), "C:\\windows\\system32\\input.dll"), 0);
            EXPECT_EQ(
                regsnap::MachineDifferences(win7, later, {"HKCU\\Control Panel\\International\\User Profile", kLog}),
                "");
            // The registration program has no manual path: without a layout it adds nothing.
            size_t calls = mode == kRegistration && c.manual ? 0 : 1;
            ASSERT_EQ(later.layoutOrTipCalls.size(), calls);
            if (calls) {
                EXPECT_EQ(later.layoutOrTipCalls[0], std::make_pair(std::u16string(c.profile), (DWORD)0));
            }
            EXPECT_EQ(later.HasValue(HKEY_CURRENT_USER,
                                     std::string("Control Panel\\International\\User Profile\\") + c.language,
                                     sim::Utf16ToGbk(c.profile)),
                      calls == 1);
        }
    }
}

// Without input.dll or its function the install is whole and the log says
// why; a failing call is a failed step.  A loaded input method moved aside
// by the placement asks for a restart (3010).
TEST(Windows8Test, ExitCodesAndLogOfTheInputProfileAndTheRestart) {
    sim::Machine noDll, noFunction, failing, loaded;
    for (sim::Machine* mm : {&noDll, &noFunction, &failing}) mm->majorVersion = 10, mm->minorVersion = 0;
    noDll.inputDll = noFunction.inputDllInstallLayoutOrTip = false;
    failing.failOnly = "InstallLayoutOrTip", failing.failAt = 1;
    loaded.AddFile("C:\\windows\\syswow64\\vornhu4.ime", "loaded elsewhere");
    loaded.Entry("C:\\windows\\syswow64\\vornhu4.ime")->loaded = true;
    const struct {
        sim::Machine* machine;
        int exitCode;
        const char* logged;
    } cases[] = {{&noDll, kExitOk, "input profile 0804:E0010804 not added: C:\\windows\\system32\\input.dll cannot"},
                 {&noFunction, kExitOk, "input.dll has no InstallLayoutOrTip"},
                 {&failing, kExitStepFailed, "InstallLayoutOrTip(\"0804:E0010804\", 0) -> FALSE, error 87"},
                 {&loaded, kExitRestartNeeded, "end: exit code 3010 (installed; a restart is needed to finish"}};
    for (const auto& c : cases) {
        EXPECT_EQ(RunMode(kSilent, *c.machine), c.exitCode);
        EXPECT_NE(c.machine->Read(kLog).find(c.logged), std::string::npos) << c.logged;
    }
}

// "/?" and "/help", words of their own in any letter case: one box with
// every word and exit code, exit 0, nothing written (no rights probe).
// Quiet, the help goes to the log.  Not in the registration's directory.
TEST(Windows8Test, HelpShowsWordsAndExitCodesAndWritesNothing) {
    for (const char* line : {"/?", "setvosrf32 /HELP", "/help /quiet /log=C:\\logs\\v.log"}) {
        sim::Machine before, run;
        before.AddDir("C:\\logs");
        EXPECT_EQ(RunMode(kSilent, run, line), 0);
        std::u16string text = run.boxes.empty() ? sim::Utf8ToUtf16(run.Read(kLog)) : run.boxes[0].wtext;
        for (const char16_t* word :
             {u"智能砚舟 7.7 安装程序的命令行：", u"setvosrf32：", u"/quiet：", u"/log=<文件>：", u"regvo32=<目录>：",
              u"/url=<网址>：", u"5：", u"3010：", u"1618："}) {
            EXPECT_NE(text.find(word), std::u16string::npos) << sim::Utf16ToUtf8(word);
        }
        // The log names the whole version, build number included.
        if (run.Exists(kLog)) {
            EXPECT_NE(text.find(u"start: 智能砚舟 setup 7.7.1.0 (64-bit program)"), std::u16string::npos);
        }
        EXPECT_EQ(run.boxes.size(), run.Exists(kLog) ? 0u : 1u);
        EXPECT_EQ(regsnap::MachineDifferences(before, run, {kLog}), run.boxes.empty() ? "" : "message boxes\n");
        if (!run.boxes.empty()) {
            EXPECT_EQ(std::make_pair(run.boxes[0].wtitle, run.boxes[0].flags),
                      std::make_pair(std::u16string(u"智能砚舟安装"), 0u));
        }
    }
    sim::Machine notHelp, registration;
    EXPECT_EQ(RunMode(kSilent, notHelp, "setvosrf32 /helpme x/?"), kExitOk);
    RunMode(kSilent, registration, "regvo32=C:\\a /help\\");
    EXPECT_STREQ(g_ctx.installDir, "C:\\a /help\\");
}
