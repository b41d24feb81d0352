// Start-up: command-line words, the rights check and the three run modes.
#include "archive_builder.h"
#include "sim_fixture.h"

class EntryTest : public SimTest {
   protected:
    int Run(const char* commandLine) { return SetupMain(nullptr, commandLine, SW_SHOW); }
    std::u16string OnlyWideBox() {
        EXPECT_EQ(m.boxes.size(), 1u);
        return m.boxes.empty() ? std::u16string() : m.boxes[0].wtext;
    }
};

TEST(ContainsWordTest, FoldsOnlyTheSearchedText) {
    EXPECT_TRUE(ContainsWord("setvosrf32", "setvosrf32"));
    EXPECT_TRUE(ContainsWord("/S SETVOSRF32", "setvosrf32"));
    EXPECT_TRUE(ContainsWord("xxregvo32=C:\\", "regvo32"));
    EXPECT_FALSE(ContainsWord("setvosrf3", "setvosrf32"));  // cut at the end of the text
    EXPECT_FALSE(ContainsWord("", "regvo32"));
    EXPECT_FALSE(ContainsWord("set vosrf32", "setvosrf32"));
    // Lower-case letters of the text do not match upper-case letters of the
    // word; equal characters always match.
    EXPECT_FALSE(ContainsWord("abc", "ABC"));
    EXPECT_TRUE(ContainsWord("xABC", "ABC"));
    EXPECT_TRUE(ContainsWord("Regvo32", "Regvo32"));
    EXPECT_TRUE(ContainsWord("a.TXT.voh", ".txt"));
}

TEST_F(EntryTest, RegistrationModeTakesTheDirectoryWithItsSpaces) {
    int rc = Run("regvo32=D:\\My Files\\vornhu\\");
    EXPECT_EQ(rc, 0);
    EXPECT_STREQ(g_ctx.installDir, "D:\\My Files\\vornhu\\");
    EXPECT_EQ(m.Read("C:\\windows\\vornpath.voh"), "D:\\My Files\\vornhu\\");
    EXPECT_EQ(m.Read("c:\\vornhu\\vornpath.voh"), "D:\\My Files\\vornhu\\");
    EXPECT_EQ(OnlyWideBox(), u"智能砚舟已安装成功，如不能使用，请重新启动计算机！");
    EXPECT_EQ(m.boxes[0].wtitle, u"智能砚舟");
    EXPECT_EQ(m.boxes[0].flags, (UINT)MB_OK);
    ASSERT_EQ(m.imeInstalls.size(), 1u);
    EXPECT_EQ(m.imeInstalls[0].file, u"C:\\windows\\system32\\vornhu4.ime");
    EXPECT_TRUE(m.winExecs.empty());
}

TEST_F(EntryTest, RegistrationParseIsCaseSensitiveAndStartsAtTheFirstR) {
    Run("REGVO32=C:\\x\\");
    EXPECT_STREQ(g_ctx.installDir, "C:\\Program Files\\vornhu\\");
    EXPECT_EQ(OnlyWideBox(), u"智能砚舟已安装成功，如不能使用，请重新启动计算机！");

    ResetInstallContext();
    m.boxes.clear();
    Run("xr regvo32=D:\\a\\");
    EXPECT_STREQ(g_ctx.installDir, "C:\\Program Files\\vornhu\\");
    EXPECT_EQ(m.Read("C:\\windows\\vornpath.voh"), "C:\\Program Files\\vornhu\\");

    // "regvo32=" at the very end: an empty directory, which gets its "\" only
    // when it has text; the record is then empty too.
    ResetInstallContext();
    Run("regvo32=");
    EXPECT_STREQ(g_ctx.installDir, "");
}

// Cut to the buffer, a directory could end inside a double-byte character
// and name another directory: the default stays, as for a line that does not
// parse.  199 bytes still fit.
TEST_F(EntryTest, OverlongRegistrationDirectoryKeepsTheDefault) {
    // 195 ASCII bytes then a GBK character whose trail byte would be cut.
    std::string dir = "D:\\" + std::string(195, 'a') + "\xd5\x5c\\";
    EXPECT_EQ(Run(("regvo32=" + dir).c_str()), 0);
    EXPECT_STREQ(g_ctx.installDir, "C:\\Program Files\\vornhu\\");
    EXPECT_EQ(m.Read("C:\\windows\\vornpath.voh"), "C:\\Program Files\\vornhu\\");

    std::string fits = "D:\\" + std::string(195, 'b') + "\\";
    ASSERT_EQ(fits.size(), sizeof(g_ctx.installDir) - 1);
    ResetInstallContext();
    Run(("regvo32=" + fits).c_str());
    EXPECT_EQ(std::string(g_ctx.installDir), fits);
}

// The install starts the 64-bit registration program from a directory made
// for it that only administrators may change (never one that was there
// before), with its payload member's bytes whatever the installation
// directory holds, and by its quoted path, so that the started program's C
// runtime hands it the whole directory, spaces and all.  The setup waits for
// it and removes the directory; one still running goes at the restart.
TEST_F(EntryTest, RegistrationProgramRunsFromADirectoryOfItsOwn) {
    const std::string dir = "D:\\My Files\\vornhu\\";
    const std::string temp = "C:\\windows\\Temp\\";
    m.UseStandardSecurity();
    m.AddFile(dir + "setupw64.exe", "the user's program");
    m.AddFile(temp + "vornsetup.4242.123456.0\\notes.txt", "a user's");  // made in advance
    std::vector<testvoz::Member> members = testvoz::SampleMembers();
    m.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build(members))});
    // A new run of the install sequence, to its end.
    auto InstallAgain = [&] {
        ClosePayload();
        ResetInstallContext();
        ASSERT_TRUE(OpenPayload());
        CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), dir.c_str());
        RunInstallSequence();
        FinishRegistration64();
    };
    ASSERT_TRUE(OpenPayload());
    CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), dir.c_str());
    RunInstallSequence();
    ASSERT_EQ(m.processes.size(), 1u);
    const std::string own = temp + "vornsetup.4242.123456.1";
    const sim::Process started = m.processes[0];
    EXPECT_EQ(started.application, own + "\\setupw64.exe");
    EXPECT_EQ(started.currentDir, own);
    std::string member;
    for (const testvoz::Member& mb : members)
        if (mb.name == "setupw64.exe") member = mb.data;
    EXPECT_EQ(sim::ToString(started.image).find("the user's"), std::string::npos);
    EXPECT_EQ(started.image.size(), member.size());
    const BYTE inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    EXPECT_EQ(m.Entry(own)->dacl, (std::vector<sim::Ace>{{sim::kSidAdministrators, FILE_ALL_ACCESS, inherit, false},
                                                         {sim::kSidSystem, FILE_ALL_ACCESS, inherit, false}}));
    EXPECT_TRUE(m.Entry(own)->daclProtected);
    sim::Token user = sim::Machine::StandardUser(m.userSid);
    EXPECT_FALSE(m.GrantedRights(user, own) & (FILE_ADD_FILE | FILE_LIST_DIRECTORY));
    EXPECT_FALSE(m.MayDelete(user, own + "\\setupw64.exe"));

    // The C runtime: a quoted program name ends at the next quote; then the
    // blanks before the arguments are skipped.
    const std::string command = started.commandLine;
    size_t close = command.find('"', 1);
    ASSERT_EQ(command.substr(0, close + 1), "\"" + own + "\\setupw64.exe\"");
    size_t args = command.find_first_not_of(" \t", close + 1);
    ASSERT_NE(args, std::string::npos);
    ClosePayload();
    {
        sim::Machine child;
        ResetInstallContext();
        EXPECT_EQ(SetupMain(nullptr, command.c_str() + args, SW_SHOW), 0);
        EXPECT_STREQ(g_ctx.installDir, dir.c_str());
        EXPECT_EQ(child.Read("C:\\windows\\vornpath.voh"), dir);
        EXPECT_EQ(child.imeInstalls.size(), 1u);
    }
    sim::Use(&m);
    FinishRegistration64();
    EXPECT_FALSE(m.Exists(own));

    m.processesHang = true;
    InstallAgain();
    ASSERT_EQ(m.processes.size(), 2u);
    EXPECT_EQ(m.deleteAtRestart.size(), 2u);
    EXPECT_TRUE(m.Exists(m.processes[1].application));
    // A directory left so goes with the next run; the user's stays.
    m.processesHang = false;
    InstallAgain();
    EXPECT_FALSE(m.Exists(m.processes[1].currentDir));
    EXPECT_TRUE(m.Exists(temp + "vornsetup.4242.123456.0\\notes.txt"));
    ClosePayload();
}

TEST_F(EntryTest, RegistrationWordOn32BitWindowsStartsTheWindow) {
    m.Make32Bit();
    EXPECT_EQ(Run("regvo32=D:\\a\\ setvosrf32"), 0);
    EXPECT_EQ(g_ctx.runState, kRunInteractive);
    EXPECT_EQ(g_ctx.commandMode, kCommandRegister);
    EXPECT_TRUE(m.imeInstalls.empty());
    EXPECT_TRUE(m.boxes.empty());
    EXPECT_NE(g_ctx.setupWindow, nullptr);
    EXPECT_STREQ(g_ctx.installDir, "C:\\Program Files\\vornhu\\");
}

TEST_F(EntryTest, XpX64CountsAs32Bit) {
    m.MakeXP();
    m.AddDir("C:\\windows\\syswow64");
    Run("regvo32=D:\\a\\");
    EXPECT_EQ(g_ctx.runState, kRunInteractive);
    EXPECT_TRUE(m.imeInstalls.empty());
}

TEST_F(EntryTest, UpperCaseSilentWordStartsTheSilentInstall) {
    m.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build(testvoz::SampleMembers()))});
    Run("SETVOSRF32");
    EXPECT_EQ(g_ctx.runState, kRunSilent);
    EXPECT_TRUE(m.IsDir("C:\\Program Files\\vornhu"));
    EXPECT_TRUE(m.IsDir("C:\\Program Files\\vornhu\\filer"));
    EXPECT_EQ(g_ctx.setupWindow, nullptr);
}

TEST_F(EntryTest, RightsCheckOnXpWritesNothing) {
    m.MakeXP();
    EXPECT_FALSE(AdministratorCheck());
    EXPECT_FALSE(m.Exists("C:\\windows\\vornpath.voh"));
    EXPECT_FALSE(m.Exists("c:\\vornhu"));
}

TEST_F(EntryTest, RightsCheckWithRightsRewritesTheRecords) {
    m.AddFile("C:\\windows\\vornpath.voh", "D:\\old\\");
    ResolveInstallDirectory();
    EXPECT_FALSE(AdministratorCheck());
    EXPECT_STREQ(g_ctx.previousDir, "D:\\old\\");
    EXPECT_STREQ(g_ctx.installDir, "C:\\Program Files\\vornhu\\");
    EXPECT_EQ(m.Read("C:\\windows\\vornpath.voh"), "C:\\Program Files\\vornhu\\");
    EXPECT_EQ(m.Read("c:\\vornhu\\vornpath.voh"), "C:\\Program Files\\vornhu\\");
    EXPECT_FALSE(m.Exists("C:\\windows\\vornprobe.voh"));
}

TEST_F(EntryTest, WithoutRightsAndWithoutRecordTheCheckFails) {
    m.Entry("C:\\windows")->denyWrites = true;
    m.Entry("C:\\")->denyWrites = true;
    EXPECT_EQ(Run(""), 0);
    EXPECT_EQ(OnlyWideBox(),
              u"本安装程序需要以管理员权限运行，请退出后重新以管理员权限运行。（运行方式为：用鼠标右键点击安装程序，在弹出"
              u"菜单中点击“以管理员身份运行”）");
    EXPECT_EQ(m.boxes[0].wtitle, u"智能砚舟");
    EXPECT_FALSE(m.Exists("C:\\windows\\vornpath.voh"));
    EXPECT_EQ(g_ctx.setupWindow, nullptr);
}

TEST_F(EntryTest, WithoutRightsAnOldRecordStaysAndTheSilentRunFails) {
    m.AddFile("C:\\windows\\vornpath.voh", "D:\\old\\");
    m.Entry("C:\\windows")->denyWrites = true;
    EXPECT_EQ(Run("setvosrf32"), kExitNotAdministrator);
    EXPECT_EQ(m.Read("C:\\windows\\vornpath.voh"), "D:\\old\\");
    EXPECT_FALSE(m.Exists("C:\\Program Files\\vornhu"));
    EXPECT_EQ(m.boxes.size(), 1u);
}

// First thing, DLLs are restricted to the system directory, and advapi32 for
// the digests is loaded by its full system path: nothing planted in the
// download folder the program runs from, or in the current directory, loads.
// Without SetDefaultDllDirectories the current directory leaves the search.
TEST_F(EntryTest, DllsComeFromTheSystemDirectoryOnly) {
    m.AddFile("C:\\Users\\Owner\\Downloads\\vornfake.dll", "MZ planted");
    m.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build(testvoz::SampleMembers()))});
    Run("setvosrf32");
    EXPECT_EQ(m.dllSearchFlags, (DWORD)LOAD_LIBRARY_SEARCH_SYSTEM32);
    ASSERT_FALSE(m.libraryNames.empty()) << "the digests loaded no advapi32";
    for (const std::string& name : m.libraryNames) EXPECT_EQ(name.rfind("C:\\windows\\system32\\", 0), 0u) << name;
    EXPECT_EQ(LoadLibraryA("vornfake.dll"), (HMODULE) nullptr);
    EXPECT_TRUE(m.loadedDlls.empty());

    sim::Machine old;
    old.defaultDllDirsAvailable = false;
    ResetInstallContext();
    Run("");
    EXPECT_EQ(old.dllSearchFlags, 0u);
    EXPECT_TRUE(old.dllDirectoryEmpty);
    sim::Use(&m);
}
