// The install sequence: its order, the locked old input method, and how the
// silent install reports the outcome.
#include <set>

#include "archive_builder.h"
#include "sim_fixture.h"

namespace {
const char* kLayouts = "System\\CurrentControlSet\\Control\\Keyboard Layouts";

// An earlier installation: its layout in the user's preload list and its
// input method in the system directories.
void SeedEarlierInstall(sim::Machine& m) {
    m.SetString(HKEY_CURRENT_USER, "keyboard layout\\preload", "1", "00000804");
    m.SetString(HKEY_CURRENT_USER, "keyboard layout\\preload", "2", "E0200804");
    m.SetString(HKEY_LOCAL_MACHINE, std::string(kLayouts) + "\\E0200804", "layout text", "智能砚舟输入平台  6.3");
    m.AddFile("C:\\windows\\system32\\vornhu4.ime", "old64");
}
}  // namespace

class SequenceTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        m.driveTypes['D'] = DRIVE_FIXED;
        m.AddDir("D:\\");
        m.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build(testvoz::SampleMembers()))});
    }
    int Silent() { return SetupMain(nullptr, "setvosrf32", SW_SHOW); }
    // The sequence alone, as the window runs it.
    void Sequence() {
        g_ctx.oemCodePage = GetOEMCP();
        ResolveInstallDirectory();
        ASSERT_TRUE(OpenPayload());
        RunInstallSequence();
    }
};

TEST_F(SequenceTest, FreshInstallRunsEveryStepAndStartsTheRegistrationProgram) {
    Silent();
    EXPECT_TRUE(m.IsDir("C:\\Program Files\\vornhu\\filer"));
    EXPECT_EQ(m.Read("C:\\windows\\vornpath.voh"), "C:\\Program Files\\vornhu\\");
    EXPECT_EQ(m.Read("d:\\vornhu\\vornpath.voh"), "C:\\Program Files\\vornhu\\");
    EXPECT_EQ(g_ctx.sequenceStopped, 0);
    ASSERT_EQ(m.processes.size(), 1u);
    EXPECT_EQ(m.processes[0].commandLine,
              "\"C:\\windows\\vornsetup.4242.123456.0\\setupw64.exe\" regvo32=C:\\Program Files\\vornhu\\");
}

TEST_F(SequenceTest, ThirtyTwoBitWindowsStartsNoRegistrationProgram) {
    m.Make32Bit();
    Silent();
    EXPECT_TRUE(m.processes.empty());
}

TEST_F(SequenceTest, WithoutAnEarlierLayoutTheOldFileIsNotTested) {
    m.AddFile("C:\\windows\\system32\\vornhu4.ime", "old");
    m.Entry("C:\\windows\\system32\\vornhu4.ime")->locked = true;
    RunInstallSequence();
    EXPECT_EQ(g_ctx.sequenceStopped, 0);
    EXPECT_EQ(g_ctx.oldImeInUse, 0);
    for (const std::string& t : m.BoxTexts()) {
        EXPECT_EQ(t.find("正在使用"), std::string::npos);
    }
}

TEST_F(SequenceTest, LoadedWow64FileIsMovedAsideAndFlagged) {
    SeedEarlierInstall(m);
    m.AddFile("C:\\windows\\syswow64\\vornhu4.ime", "old32");
    m.Entry("C:\\windows\\syswow64\\vornhu4.ime")->loaded = true;
    Sequence();
    EXPECT_EQ(g_ctx.sequenceStopped, 0);
    EXPECT_EQ(g_ctx.oldImeInUse, 1);
    EXPECT_EQ(m.Read("C:\\windows\\syswow64\\vornhu2.ime"), "old32");
    // The 64-bit one was in the real system32 and could simply be deleted.
    EXPECT_FALSE(m.Exists("C:\\windows\\system32\\vornhu2.ime"));
}

TEST_F(SequenceTest, LoadedSystemFileMovedAsideDoesNotSetTheFlag) {
    m.Make32Bit();
    SeedEarlierInstall(m);
    m.Entry("C:\\windows\\system32\\vornhu4.ime")->loaded = true;
    Sequence();
    EXPECT_EQ(g_ctx.sequenceStopped, 0);
    EXPECT_EQ(g_ctx.oldImeInUse, 0);
    EXPECT_EQ(m.Read("C:\\windows\\system32\\vornhu2.ime"), "old64");
}

TEST_F(SequenceTest, LockedOldFileStopsBeforeAnythingIsPlaced) {
    m.Make32Bit();
    SeedEarlierInstall(m);
    m.Entry("C:\\windows\\system32\\vornhu4.ime")->locked = true;
    m.AddFile("C:\\windows\\system32\\vornhu2.ime", "a");
    m.Entry("C:\\windows\\system32\\vornhu2.ime")->locked = true;
    m.AddFile("C:\\windows\\system32\\vornh12.ime", "b");
    m.Entry("C:\\windows\\system32\\vornh12.ime")->locked = true;
    EXPECT_EQ(Silent(), kExitImeLocked);
    EXPECT_EQ(g_ctx.oldImeInUse, 1);
    ASSERT_FALSE(m.boxes.empty());
    EXPECT_EQ(m.boxes.back().wtext,
              u"　　你以前安装的砚舟五笔正在使用，请关闭使用砚舟五笔的所有窗口，或者重新启动机器后，才能安装新版本的砚舟"
              u"五笔！");
    EXPECT_EQ(m.boxes.back().wtitle, u"智能砚舟安装");
    EXPECT_EQ(m.Read("C:\\windows\\system32\\vornhu4.ime"), "old64");
    EXPECT_TRUE(m.imeInstalls.empty());
    EXPECT_TRUE(m.winExecs.empty());
    EXPECT_FALSE(m.HasValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "voyzsjgl"));
}

TEST_F(SequenceTest, LockedWow64FileStopsOn64BitWindows) {
    SeedEarlierInstall(m);
    m.AddFile("C:\\windows\\syswow64\\vornhu4.ime", "old32");
    m.Entry("C:\\windows\\syswow64\\vornhu4.ime")->locked = true;
    EXPECT_EQ(Silent(), kExitImeLocked);
    EXPECT_EQ(g_ctx.oldImeInUse, 1);
    // The system32 file was never reached.
    EXPECT_EQ(m.Read("C:\\windows\\system32\\vornhu4.ime"), "old64");
}

// SysWOW64's file had moved aside when system32's turned out locked: it is
// back under its name, and nothing else is there.
TEST_F(SequenceTest, LockedSystemFileStopsAndTheEarlierInputMethodStaysWhole) {
    SeedEarlierInstall(m);
    m.AddFile("C:\\windows\\syswow64\\vornhu4.ime", "old32");
    for (const char* name : {"vornhu4.ime", "vornhu2.ime", "vornh12.ime"}) {
        m.AddFile(std::string("C:\\windows\\system32\\") + name, "held");
        m.Entry(std::string("C:\\windows\\system32\\") + name)->locked = true;
    }
    EXPECT_EQ(Silent(), kExitImeLocked);
    EXPECT_EQ(g_ctx.oldImeInUse, 1);
    EXPECT_EQ(m.Read("C:\\windows\\syswow64\\vornhu4.ime"), "old32");
    EXPECT_EQ(m.List("C:\\windows\\syswow64"), std::vector<std::string>{"vornhu4.ime"});
}

// Without the payload or the work buffer nothing can be unpacked or checked:
// the silent install says so as the window does, and touches nothing.
TEST_F(SequenceTest, SilentInstallWithoutPayloadTouchesNothing) {
    m.resources.clear();
    SeedEarlierInstall(m);
    m.Entry("C:\\windows\\system32\\vornhu4.ime")->loaded = true;
    std::set<std::string> before;
    for (const auto& kv : m.files) before.insert(kv.first);
    EXPECT_EQ(Silent(), kExitNoPayload);
    EXPECT_EQ(m.BoxTexts(), std::vector<std::string>{"文件解压不完整，请到智能砚舟网站www.vornhu.com.cn重新下载安装。"});
    EXPECT_EQ(m.Read("C:\\windows\\system32\\vornhu4.ime"), "old64");
    for (const auto& kv : m.files) {
        // Start-up rewrites the path records (with their drive directory) before any run mode.
        bool record = kv.first.find("VORNPATH.VOH") != std::string::npos || kv.first == "D:\\VORNHU";
        EXPECT_TRUE(before.count(kv.first) || record) << kv.first;
    }
}

// Fails every fallible call of a silent install once, in turn: each run must
// end with one of the documented exit codes and write only where an install
// writes.
TEST_F(SequenceTest, EveryFailurePointEndsCleanly) {
    const std::set<std::string> allowed = {"C:\\PROGRAM FILES\\VORNHU", "C:\\WINDOWS", "D:\\VORNHU", "C:\\VORNHU"};
    int rc = 0;
    long total = SweepFaults(
        [&](sim::Machine& run) {
            run.driveTypes['D'] = DRIVE_FIXED;
            run.AddDir("D:\\");
            run.resources = m.resources;
            ResetInstallContext();
        },
        [](sim::Machine& run) {
            std::set<std::string> before;
            for (auto& kv : run.files) before.insert(kv.first);
            return before;
        },
        [&] { rc = SetupMain(nullptr, "setvosrf32", SW_SHOW); },
        [&](sim::Machine& run, const std::set<std::string>& before, bool) {
            EXPECT_TRUE(rc == kExitOk || rc == kExitStepFailed || rc == kExitNoPayload || rc == kExitNotAdministrator)
                << "exit " << rc;
            for (auto& kv : run.files) {
                if (before.count(kv.first)) continue;
                bool inside = false;
                for (const std::string& dir : allowed)
                    if (kv.first.compare(0, dir.size(), dir) == 0) inside = true;
                EXPECT_TRUE(inside) << "wrote " << kv.first;
            }
        });
    EXPECT_GT(total, 5);
    sim::Use(&m);
}

// Every user's logon starts the companion program, administrators' included;
// the user the installation directory is given to (and a sandboxed,
// low-integrity program of his) may change his data files there, but not
// that program, nor its directory, nor any other program the install puts
// where Windows or the setup starts it for others.  The Run value names the
// copy, quoted; where no copy could be placed, no logon starts one.
TEST_F(SequenceTest, WhatOtherUsersRunNoUserCanChange) {
    m.UseStandardSecurity();
    m.SetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "voyzsjgl",
                "\"C:\\Program Files\\vornhu\\vorntavk.exe\" vo");
    ASSERT_EQ(Silent(), kExitOk);
    const std::string dir = "C:\\Program Files\\vornhu\\";
    const std::string program = "C:\\windows\\syswow64\\vorntavk.exe";
    EXPECT_EQ(m.GetValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "voyzsjgl"),
              "\"" + program + "\" vo" + std::string(1, '\0'));
    for (const testvoz::Member& mb : testvoz::SampleMembers()) {
        if (mb.name == "vorntav6.exe") {
            EXPECT_EQ(m.Read(program), mb.data);
        }
    }
    // The low label the install asks icacls.exe for.
    m.Entry(dir)->label = sim::kIntegrityLow;
    for (DWORD integrity : {(DWORD)sim::kIntegrityMedium, (DWORD)sim::kIntegrityLow}) {
        sim::Token user = sim::Machine::StandardUser(m.userSid, integrity);
        SCOPED_TRACE(integrity);
        EXPECT_TRUE(m.GrantedRights(user, dir) & FILE_ADD_FILE);
        if (integrity == sim::kIntegrityMedium) {
            EXPECT_TRUE(m.GrantedRights(user, dir + "vonetsj.dat") & FILE_WRITE_DATA);
            EXPECT_TRUE(m.MayDelete(user, dir + "vonetsj.dat"));
        }
        for (const std::string& runs : {program, std::string("C:\\windows\\system32\\vornhu4.ime"),
                                        std::string("C:\\windows\\syswow64\\vornhu4.ime"),
                                        std::string("C:\\windows\\system32\\vorndel.exe")}) {
            EXPECT_FALSE(m.GrantedRights(user, runs) & (FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER))
                << runs;
            EXPECT_FALSE(m.MayDelete(user, runs)) << runs;
            std::string parent = runs.substr(0, runs.rfind('\\'));
            EXPECT_FALSE(m.GrantedRights(user, parent) & (FILE_ADD_FILE | FILE_DELETE_CHILD | WRITE_DAC)) << parent;
        }
    }

    // A companion that does not check out: no copy, and no Run value that
    // would start the one in the installation directory.
    sim::Machine broken;
    ResetInstallContext();
    std::vector<testvoz::Member> members = testvoz::SampleMembers();
    for (testvoz::Member& mb : members)
        if (mb.name == "vorntav6.exe") mb.digest = std::string(32, 'A');
    broken.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build(members))});
    broken.SetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "voyzsjgl", "old");
    EXPECT_EQ(Silent(), kExitStepFailed);
    EXPECT_FALSE(broken.HasValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "voyzsjgl"));
    EXPECT_FALSE(broken.Exists(program));
    sim::Use(&m);
}
