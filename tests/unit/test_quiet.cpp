// Unattended installs: the quiet word, the log, and the hand-over of both to
// the 64-bit registration program.
#include <algorithm>
#include <functional>

#include "archive_builder.h"
#include "registry_snapshot.h"
#include "setup/log.h"
#include "sim_fixture.h"
#include "userdata/userdata.h"

namespace {
const char* kLog = "C:\\My Logs\\vorn setup.log";
const char* kDir = "C:\\Program Files\\vornhu\\";

void WithPayload(sim::Machine& m) {
    m.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build(testvoz::SampleMembers()))});
}

// The log's lines, without the byte-order mark and the line ends; each line
// must end in CR LF.
std::vector<std::string> LogLines(const sim::Machine& m, const std::string& path = kLog) {
    std::string text = m.Read(path);
    std::vector<std::string> lines;
    if (text.compare(0, 3, "\xEF\xBB\xBF") != 0) {
        ADD_FAILURE() << "no UTF-8 byte-order mark at the start of the log";
        return lines;
    }
    size_t at = 3;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "a line without CR LF: " << text.substr(at);
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& piece) {
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.find(piece) != std::string::npos) out.push_back(l);
    return out;
}

// A message as its log line shows it: UTF-8, line breaks as " / ".
std::string Shown(const sim::MessageBoxCall& b) {
    std::string title = b.wide ? sim::Utf16ToUtf8(b.wtitle) : sim::GbkToUtf8(b.title);
    std::string text = b.wide ? sim::Utf16ToUtf8(b.wtext) : sim::GbkToUtf8(b.text);
    std::string flat;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '\r' && text[i] != '\n') {
            flat += text[i];
            continue;
        }
        while (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n')) i++;
        flat += " / ";
    }
    return "message box \"" + title + "\": " + flat;
}

void SeedLockedEarlierInstall(sim::Machine& m) {
    m.Make32Bit();
    m.SetString(HKEY_CURRENT_USER, "keyboard layout\\preload", "2", "E0200804");
    m.SetString(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Keyboard Layouts\\E0200804", "layout text",
                "智能砚舟输入平台  6.3");
    for (const char* name : {"vornhu4.ime", "vornhu2.ime", "vornh12.ime"}) {
        m.AddFile(std::string("C:\\windows\\system32\\") + name, "old");
        m.Entry(std::string("C:\\windows\\system32\\") + name)->locked = true;
    }
}
}  // namespace

class QuietTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        m.AddDir("C:\\My Logs");
    }
    int Run(sim::Machine& machine, const std::string& commandLine) {
        ClosePayload();  // a window of the run before still holds its work buffer
        sim::Use(&machine);
        ResetInstallContext();
        memset(&g_preload, 0, sizeof(g_preload));
        return SetupMain(nullptr, commandLine.c_str(), SW_SHOW);
    }
};

// Each failure the silent install can meet: with /quiet no box is shown, the
// exit code is the one the same run gives with its boxes, and the log holds
// every message that run showed, answered OK.
TEST_F(QuietTest, QuietSilentInstallShowsNothingAndLogsEveryMessage) {
    struct Case {
        const char* name;
        std::function<void(sim::Machine&)> prepare;
        int exitCode;
    };
    const Case cases[] = {
        {"failing copy",
         [](sim::Machine& mm) {
             WithPayload(mm);
             mm.AddFile("C:\\windows\\system32\\vorndel.exe", "old uninstaller");
             mm.Entry("C:\\windows\\system32\\vorndel.exe")->locked = true;
         },
         kExitStepFailed},
        {"locked input method", [](sim::Machine& mm) { WithPayload(mm); SeedLockedEarlierInstall(mm); }, kExitImeLocked},
        {"no payload", [](sim::Machine&) {}, kExitNoPayload},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine loud, quiet;
        for (sim::Machine* mm : {&loud, &quiet}) {
            mm->AddDir("C:\\My Logs");
            c.prepare(*mm);
        }
        EXPECT_EQ(Run(loud, std::string("setvosrf32 /log=\"") + kLog + "\""), c.exitCode);
        EXPECT_EQ(Run(quiet, std::string("setvosrf32 /log=\"") + kLog + "\" /QUIET"), c.exitCode);
        ASSERT_FALSE(loud.boxes.empty());
        EXPECT_TRUE(quiet.boxes.empty()) << Shown(quiet.boxes[0]);

        std::vector<std::string> logged = Matching(LogLines(quiet), "message box \"");
        ASSERT_EQ(logged.size(), loud.boxes.size());
        for (size_t i = 0; i < logged.size(); i++) {
            std::string expected = Shown(loud.boxes[i]) + " -> OK (quiet: not shown)";
            EXPECT_EQ(logged[i].substr(logged[i].size() - std::min(logged[i].size(), expected.size())), expected);
        }
        // The loud run logs what the user answered, without the quiet mark.
        EXPECT_EQ(Matching(LogLines(loud), "(quiet").size(), 0u);
        std::vector<std::string> end = Matching(LogLines(quiet), "end: exit code ");
        ASSERT_EQ(end.size(), 1u);
        EXPECT_NE(end[0].find("end: exit code " + std::to_string(c.exitCode) + " ("), std::string::npos) << end[0];
    }
}

// A whole quiet install on 64-bit Windows, then the registration program it
// starts, run on the same machine with the environment it inherits.
TEST_F(QuietTest, LogFollowsTheInstallIntoTheRegistrationProgram) {
    WithPayload(m);
    EXPECT_EQ(Run(m, std::string("setvosrf32 /quiet \"/log=") + kLog + "\""), kExitOk);
    EXPECT_TRUE(m.boxes.empty());
    std::vector<std::string> lines = LogLines(m);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find(std::string("command line \"setvosrf32 /quiet \"/log=") + kLog), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find("Windows 6.1.7601, 64-bit Windows; OEM code page 936, ANSI code page 936; "
                            "installation directory C:\\Program Files\\vornhu\\"),
              std::string::npos)
        << lines[0];
    for (const char* step : {"directories and path record", "configuration files", "earlier input method",
                             "program files, unpack pass", "keyboard layout", "program files, full input methods",
                             "browser tag", "auto-start entry", "64-bit registration program"}) {
        EXPECT_EQ(Matching(lines, std::string("step ") + step + ": begin").size(), 1u) << step;
        EXPECT_EQ(Matching(lines, std::string("step ") + step + ": end").size(), 1u) << step;
    }
    // Every file of the installation directory and the system files, with their sizes.
    std::vector<std::string> files = m.List(kDir);
    ASSERT_GT(files.size(), 10u);
    for (const std::string& name : files) {
        if (m.IsDir(kDir + name)) continue;
        std::string target = std::string(kDir) + name;
        std::string bytes = ", " + std::to_string(m.Read(target).size()) + " bytes";
        bool found = false;
        for (const std::string& l : Matching(lines, " -> " + target + ","))
            found = found || l.compare(l.size() - bytes.size(), bytes.size(), bytes) == 0;
        EXPECT_TRUE(found) << name;
    }
    for (const char* system : {"C:\\windows\\system32\\vornhu4.ime", "C:\\windows\\syswow64\\vornhu4.ime",
                               "C:\\windows\\system32\\vorndel.exe"})
        EXPECT_EQ(Matching(lines, std::string(" -> ") + system + ", " + std::to_string(m.Read(system).size()) + " bytes")
                      .size(),
                  1u)
            << system;
    EXPECT_EQ(Matching(lines, u8"registry value \"DisplayName\" = \"砚舟五笔\"").size(), 1u);
    EXPECT_EQ(Matching(lines, "registry value \"voyzsjgl\" = \"\"C:\\windows\\syswow64\\vorntavk.exe\" vo\"")
                  .size(),
              1u);
    EXPECT_EQ(Matching(lines, "registry value \"tavk7700\" = \"\"").size(), 1u);
    std::vector<std::string> processes = Matching(lines, "process started: ");
    EXPECT_EQ(Matching(processes, "icacls.exe").size() + Matching(processes, "setupw64.exe\" regvo32=").size(),
              processes.size());
    EXPECT_EQ(Matching(processes, "setupw64.exe\" regvo32=").size(), 1u);

    // The started program hears the setting through its environment, and its
    // command line still ends with the directory.
    ASSERT_EQ(m.processes.size(), 1u);
    const std::string started = m.processes[0].commandLine;
    ASSERT_EQ(started.compare(started.size() - strlen(kDir) - 8, std::string::npos, std::string("regvo32=") + kDir),
              0);
    m.processId = 5150;
    size_t before = lines.size();
    EXPECT_EQ(Run(m, started.substr(started.find("regvo32="))), 0);
    EXPECT_TRUE(m.boxes.empty());
    EXPECT_EQ(m.imeInstalls.size(), 2u);
    lines = LogLines(m);
    ASSERT_GT(lines.size(), before);
    std::vector<std::string> child(lines.begin() + before, lines.end());
    for (const std::string& l : child) EXPECT_NE(l.find("[5150] "), std::string::npos) << l;
    EXPECT_EQ(Matching(child, "64-bit registration of the input method in C:\\Program Files\\vornhu\\").size(), 1u);
    EXPECT_EQ(Matching(child, u8"ImmInstallIMEW(\"C:\\windows\\system32\\vornhu4.ime\", \"智能砚舟输入平台  7.7\") -> "
                              "e0010804")
                  .size(),
              1u);
    EXPECT_EQ(Matching(child, u8"message box \"智能砚舟\": 智能砚舟已安装成功，如不能使用，请重新启动计算机！ -> OK "
                              "(quiet: not shown)")
                  .size(),
              1u);

    // A later run without the words leaves the program loud and without a log.
    ResetInstallContext();
    EXPECT_EQ(SetupMain(nullptr, "setvosrf32", SW_SHOW), kExitOk);
    EXPECT_EQ(m.environment.count("VORNSETUP_QUIET"), 0u);
    EXPECT_EQ(m.environment.count("VORNSETUP_LOG"), 0u);
}

// The log may be unwritable (a missing folder, no rights): the install does
// exactly what it does without a log.
TEST_F(QuietTest, UnwritableLogChangesNothing) {
    sim::Machine plain, logged;
    for (sim::Machine* mm : {&plain, &logged}) {
        WithPayload(*mm);
        mm->AddDir("C:\\locked");
        mm->Entry("C:\\locked")->denyWrites = true;
    }
    int rcPlain = Run(plain, "setvosrf32");
    int rcLogged = Run(logged, "setvosrf32 /log=C:\\locked\\vorn.log");
    EXPECT_EQ(rcLogged, rcPlain);
    EXPECT_FALSE(logged.Exists("C:\\locked\\vorn.log"));
    EXPECT_EQ(regsnap::MachineDifferences(plain, logged, {}), "");
}

// Where the words count and where they do not.
TEST_F(QuietTest, WordsApplyToTheSilentInstallOnly) {
    // A log path holding the other words does not choose the run mode.
    sim::Machine a;
    a.AddDir("C:\\regvo32 logs");
    EXPECT_EQ(Run(a, "/log=\"C:\\regvo32 logs\\setvosrf32.log\" setvosrf32 /quiet"), kExitNoPayload);
    EXPECT_EQ(g_ctx.runState, kRunSilent);
    EXPECT_TRUE(a.boxes.empty());
    EXPECT_FALSE(Matching(LogLines(a, "C:\\regvo32 logs\\setvosrf32.log"), "end: exit code 4").empty());

    // Only the whole word counts.
    sim::Machine b;
    EXPECT_EQ(Run(b, "setvosrf32 /quieter x/quiet"), kExitNoPayload);
    EXPECT_FALSE(b.boxes.empty());

    // The window is for a person: it shows its messages, and logs them too when asked.
    sim::Machine c;
    c.AddDir("C:\\logs");
    EXPECT_EQ(Run(c, "/quiet /log=C:\\logs\\w.log"), 0);
    EXPECT_EQ(g_ctx.runState, kRunInteractive);
    EXPECT_EQ(g_ctx.quiet, 0);
    EXPECT_FALSE(Matching(LogLines(c, "C:\\logs\\w.log"), "the setup window runs").empty());

    // Missing rights in a quiet silent install: logged, not shown, exit 5.
    sim::Machine d;
    d.AddDir("C:\\logs");
    d.Entry("C:\\windows")->denyWrites = true;
    EXPECT_EQ(Run(d, "setvosrf32 /quiet /log=C:\\logs\\r.log"), kExitNotAdministrator);
    EXPECT_TRUE(d.boxes.empty());
    EXPECT_EQ(Matching(LogLines(d, "C:\\logs\\r.log"), "(quiet: not shown)").size(), 1u);

    // The keep question keeps the user's data.
    sim::Use(&m);
    ResetInstallContext();
    g_ctx.quiet = 1;
    g_ctx.backupState = kBackupDone;
    AskKeepUserData();
    EXPECT_EQ(g_ctx.backupState, kBackupKeep);
    EXPECT_TRUE(m.boxes.empty());
}

// Lines are UTF-8 whatever the text came as, one per event, and logging
// leaves the caller's GetLastError alone.
TEST_F(QuietTest, LogLinesAreUtf8AndLeaveTheCallerAlone) {
    ASSERT_TRUE(LogOpen(kLog));
    m.tickCount = 45296789;  // 12:34:56.789
    SetLastError(1234);
    LogEvent("gbk %s %d", "智能砚舟", 7);
    EXPECT_EQ(GetLastError(), 1234u);
    LogEventW("wide %s|%s|%s", u"砚舟\r\n\r\nnext", u"\U0001F600");
    EXPECT_EQ(GetLastError(), 1234u);
    std::vector<std::string> lines = LogLines(m);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], u8"2026-12-08 12:34:56.789 [4242] gbk 智能砚舟 7");
    EXPECT_EQ(lines[1], u8"2026-12-08 12:34:56.789 [4242] wide 砚舟 / next|\U0001F600|%s");
    EXPECT_FALSE(LogOpen(std::string(MAX_PATH, 'a').c_str()));
    EXPECT_FALSE(LogEnabled());
}

// A Big5 system reads GBK as mojibake: there a step's message is shown wide,
// title and text, with the words 936 shows narrow, and logged alike; where
// GBK cannot be converted it still goes out narrow.
TEST_F(QuietTest, OnABig5SystemNarrowMessagesAreShownWide) {
    sim::Machine gbk, big5, bare;
    big5.oemCodePage = big5.ansiCodePage = bare.oemCodePage = bare.ansiCodePage = 950;
    bare.codePage936 = false;
    for (sim::Machine* mm : {&gbk, &big5, &bare}) {
        mm->AddDir("C:\\My Logs");
        WithPayload(*mm);
        mm->AddFile("C:\\windows\\system32\\vorndel.exe", "old uninstaller");
        mm->Entry("C:\\windows\\system32\\vorndel.exe")->locked = true;
        EXPECT_EQ(Run(*mm, std::string("setvosrf32 /log=\"") + kLog + "\""), kExitStepFailed);
    }
    ASSERT_FALSE(gbk.boxes.empty() || gbk.boxes[0].wide);
    ASSERT_EQ(big5.boxes.size(), gbk.boxes.size());
    ASSERT_EQ(bare.boxes.size(), gbk.boxes.size());
    for (size_t i = 0; i < gbk.boxes.size(); i++) {
        EXPECT_TRUE(big5.boxes[i].wide);
        EXPECT_EQ(Shown(big5.boxes[i]), Shown(gbk.boxes[i]));
        EXPECT_EQ(bare.boxes[i].text, gbk.boxes[i].text);
    }
    EXPECT_EQ(Matching(LogLines(big5), "message box"), Matching(LogLines(gbk), "message box"));
    sim::Use(&m);
}

// On a Big5 system the log reads right: our texts are converted as GBK, the
// command line (a directory named in Big5) as the system's code page.
TEST_F(QuietTest, OnABig5SystemTheLogReadsRight) {
    sim::Machine big5;
    big5.oemCodePage = big5.ansiCodePage = 950;
    const std::string dir = "C:\\\xB5\x78\xA6\xE0";  // "C:\硯舟"
    big5.AddDir(dir);
    WithPayload(big5);
    EXPECT_EQ(Run(big5, "setvosrf32 /log=" + dir + "\\v.log"), kExitOk);
    std::vector<std::string> lines = LogLines(big5, dir + "\\v.log");
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find(u8"start: 智能砚舟 setup 7.7"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(u8"command line \"setvosrf32 /log=C:\\硯舟\\v.log\"; "), std::string::npos) << lines[0];
    EXPECT_EQ(Matching(lines, u8"registry value \"DisplayName\" = \"砚舟五笔\"").size(), 1u);
    sim::Use(&m);
}
