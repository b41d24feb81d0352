// The installation directory, the Windows version and the path record.
#include "sim_fixture.h"

class PathTest : public SimTest {};

TEST_F(PathTest, ProgramFilesX86IsCutAtTheParenthesis) {
    m.programFiles = "C:\\Program Files (x86)";
    EXPECT_STREQ(ResolveInstallDirectory(), "C:\\Program Files\\vornhu\\");
}

TEST_F(PathTest, ExistingShellFolderIsUsed) {
    m.AddDir("D:\\Apps");
    m.programFiles = "D:\\Apps";
    EXPECT_STREQ(ResolveInstallDirectory(), "D:\\Apps\\vornhu\\");
}

TEST_F(PathTest, MissingOrFailingShellFolderFallsBackToDefault) {
    m.programFiles = "Q:\\Nowhere";
    EXPECT_STREQ(ResolveInstallDirectory(), "c:\\Program Files\\vornhu\\");
    ResetInstallContext();
    m.shellFolderFails = true;
    EXPECT_STREQ(ResolveInstallDirectory(), "c:\\Program Files\\vornhu\\");
}

TEST_F(PathTest, ResolvedDirectoryStaysButProbeTextIsReplaced) {
    CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), "E:\\x\\");
    EXPECT_STREQ(ResolveInstallDirectory(), "E:\\x\\");
    CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), "vornisadmin");
    EXPECT_STREQ(ResolveInstallDirectory(), "C:\\Program Files\\vornhu\\");
}

TEST_F(PathTest, DirectoryExistsAnswersForDirectoriesAndFiles) {
    m.AddFile("C:\\a\\file.txt", "x");
    EXPECT_TRUE(DirectoryExists("C:\\a"));
    EXPECT_TRUE(DirectoryExists("C:\\a\\file.txt"));
    EXPECT_FALSE(DirectoryExists("C:\\b"));
}

TEST_F(PathTest, SixtyFourBitDetection) {
    m.Make64Bit();
    EXPECT_TRUE(Is64BitWindows());
    EXPECT_EQ(g_ctx.windowsMajor, 6u);
    EXPECT_STREQ(g_ctx.wowDir, "C:\\windows\\syswow64");

    m.Make32Bit();
    EXPECT_FALSE(Is64BitWindows());

    // XP x64 keeps a syswow64 but counts as 32-bit.
    m.MakeXP();
    m.AddDir("C:\\windows\\syswow64");
    EXPECT_FALSE(Is64BitWindows());
    EXPECT_EQ(g_ctx.windowsMajor, 5u);
}

TEST_F(PathTest, DriveScanGoesFromGDownToC) {
    char drive[32];
    m.driveTypes['D'] = DRIVE_FIXED;
    m.driveTypes['E'] = DRIVE_CDROM;
    FirstFixedDrive(drive, sizeof(drive));
    EXPECT_STREQ(drive, "d:\\vornhu\\");

    m.driveTypes.clear();
    m.driveTypes['H'] = DRIVE_FIXED;  // beyond the scan
    FirstFixedDrive(drive, sizeof(drive));
    EXPECT_STREQ(drive, "");
}

TEST_F(PathTest, RecordOnXpGoesOnlyToTheWindowsDirectory) {
    m.MakeXP();
    m.driveTypes['D'] = DRIVE_FIXED;
    Is64BitWindows();
    CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), "C:\\Program Files\\vornhu");
    WritePathRecord();
    EXPECT_EQ(m.Read("C:\\windows\\vornpath.voh"), "C:\\Program Files\\vornhu\\");
    EXPECT_FALSE(m.Exists("d:\\vornhu"));
}

TEST_F(PathTest, RecordOnWindows7AlsoGoesToTheFirstFixedDrive) {
    m.AddDir("D:\\");
    m.driveTypes['D'] = DRIVE_FIXED;
    Is64BitWindows();
    CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), "C:\\Program Files\\vornhu\\");
    WritePathRecord();
    EXPECT_EQ(m.Read("C:\\windows\\vornpath.voh"), "C:\\Program Files\\vornhu\\");
    EXPECT_EQ(m.Read("d:\\vornhu\\vornpath.voh"), "C:\\Program Files\\vornhu\\");
}

TEST_F(PathTest, NoFixedDriveWritesNoSecondRecord) {
    m.driveTypes.clear();
    Is64BitWindows();
    CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), "C:\\x\\");
    m.currentDir = "C:\\windows";
    WritePathRecord();
    EXPECT_EQ(m.Read("C:\\windows\\vornpath.voh"), "C:\\x\\");
    EXPECT_EQ(m.List("C:\\windows"), std::vector<std::string>({"system32", "syswow64", "vornpath.voh"}));
}

TEST_F(PathTest, RecordReadIsCutToTheTarget) {
    m.AddFile("C:\\windows\\vornpath.voh", std::string(300, 'x'));
    ReadPathRecord(g_ctx.previousDir, sizeof(g_ctx.previousDir));
    EXPECT_EQ(strlen(g_ctx.previousDir), 255u);

    char small[8];
    memset(small, 0x7F, sizeof(small));
    ReadPathRecord(small, sizeof(small));
    EXPECT_EQ(std::string(small), std::string(7, 'x'));
}

TEST_F(PathTest, UnreadableRecordLeavesTheTargetAlone) {
    strcpy(g_ctx.previousDir, "keep");
    ReadPathRecord(g_ctx.previousDir, sizeof(g_ctx.previousDir));
    EXPECT_STREQ(g_ctx.previousDir, "keep");
    m.AddFile("C:\\windows\\vornpath.voh", "D:\\old\\");
    m.Entry("C:\\windows\\vornpath.voh")->noAccess = true;
    ReadPathRecord(g_ctx.previousDir, sizeof(g_ctx.previousDir));
    EXPECT_STREQ(g_ctx.previousDir, "keep");
}
