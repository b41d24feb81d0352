// Start-up: command-line words, the rights check and the three run modes.
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
    // Lower-case letters of the text do not match upper-case letters of the word.
    EXPECT_FALSE(ContainsWord("abc", "ABC"));
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

TEST_F(EntryTest, OverlongRegistrationDirectoryIsCutNotOverrun) {
    std::string line = "regvo32=D:\\" + std::string(400, 'a') + "\\";
    EXPECT_EQ(Run(line.c_str()), 0);
    EXPECT_EQ(strlen(g_ctx.installDir), sizeof(g_ctx.installDir) - 1);
    EXPECT_EQ(std::string(g_ctx.installDir, 11), "D:\\aaaaaaaa");
    // The field after the directory is untouched.
    EXPECT_EQ(g_ctx.previousDir[0], '\0');
    EXPECT_EQ(m.Read("C:\\windows\\vornpath.voh").size(), sizeof(g_ctx.installDir) - 1);
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
