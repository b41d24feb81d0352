// The configuration files written into the installation directory, and the
// question whether the user's earlier data comes back.
#include <set>

#include "sim_fixture.h"
#include "userdata/userdata.h"

namespace {
const char* kDir = "C:\\Program Files\\vornhu\\";

std::string NetSettings(const std::string& address) {
    return "VONETURL1=\r\nVONETURL2=" + address +
           "\r\nVONETTIME=1\r\nVOBJTIME=7\r\nVOWYTIME=3\r\nVOSJOFF=0\r\nVONETTIME0=0\r\nVOBJTIME0=0\r\nVONEONE=1\r\n";
}
}  // namespace

class ConfigTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        memset(&g_orgAddress, 0, sizeof(g_orgAddress));
        m.AddDir(kDir);
    }
    std::string Read(const char* name) { return m.Read(std::string(kDir) + name); }
};

TEST_F(ConfigTest, EmptyAddressGivesTheBaseFiles) {
    WriteConfigurationFiles();
    EXPECT_EQ(Read("wbpybz.voh"), std::string("VOWBPYBZ=0\0", 11));
    std::string net = Read("vonetsj.dat");
    EXPECT_EQ(net.size(), 110u);
    EXPECT_EQ(net, NetSettings(""));
    EXPECT_EQ(g_ctx.installDir, std::string(kDir));  // resolved on the way
}

TEST_F(ConfigTest, AddressIsWrittenVerbatimOnLineTwo) {
    SetOrganisationAddress("http://www.某大学.edu.cn/新闻");
    WriteConfigurationFiles();
    EXPECT_EQ(Read("vonetsj.dat"), NetSettings("http://www.某大学.edu.cn/新闻"));

    // The longest address the field holds: 99 bytes.
    std::string longest(99, 'a');
    memcpy(g_orgAddress.text, longest.c_str(), 100);
    WriteConfigurationFiles();
    EXPECT_EQ(Read("vonetsj.dat").size(), 209u);

    // Rewriting gives the same bytes.
    std::string first = Read("vonetsj.dat");
    WriteConfigurationFiles();
    EXPECT_EQ(Read("vonetsj.dat"), first);
}

TEST_F(ConfigTest, AddressWithoutTerminatorOrWithALineBreakIsCut) {
    memset(g_orgAddress.text, 'b', sizeof(g_orgAddress.text));  // no terminator at all
    g_orgAddress.given = true;
    WriteConfigurationFiles();
    EXPECT_EQ(Read("vonetsj.dat"), NetSettings(std::string(99, 'b')));

    SetOrganisationAddress("www.a.cn\r\nVONETURL1=evil");
    WriteConfigurationFiles();
    EXPECT_EQ(Read("vonetsj.dat"), NetSettings("www.a.cn"));
}

// Until a run is given an address the earlier file's stays, read as the
// options page reads it; one that cannot be read stays whole.
TEST_F(ConfigTest, WithoutAGivenAddressTheEarlierOneStays) {
    const std::string earlier = "VONETURL1=www.one.cn\r\nVONETURL2=www.two.cn\r\n";
    m.AddFile(std::string(kDir) + "vonetsj.dat", earlier);
    m.Entry(std::string(kDir) + "vonetsj.dat")->unreadable = true;
    WriteConfigurationFiles();
    EXPECT_EQ(Read("vonetsj.dat"), earlier);
    m.Entry(std::string(kDir) + "vonetsj.dat")->unreadable = false;
    WriteConfigurationFiles();
    EXPECT_EQ(Read("vonetsj.dat"), NetSettings("www.one.cn"));
}

TEST_F(ConfigTest, MissingDirectoryWritesNothing) {
    CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), "D:\\nowhere\\vornhu\\");
    WriteConfigurationFiles();
    EXPECT_FALSE(m.Exists("D:\\nowhere"));
    EXPECT_FALSE(m.Exists(std::string(kDir) + "vonetsj.dat"));
    EXPECT_TRUE(m.boxes.empty());
}

TEST_F(ConfigTest, ReadOnlyFileIsSkippedAndTheOtherStillWritten) {
    m.AddFile(std::string(kDir) + "wbpybz.voh", "old", FILE_ATTRIBUTE_READONLY);
    WriteConfigurationFiles();
    EXPECT_EQ(Read("wbpybz.voh"), "old");
    EXPECT_EQ(Read("vonetsj.dat"), NetSettings(""));
}

// Every failure point: the run ends quietly, and nothing is written outside
// the installation directory.
TEST_F(ConfigTest, EveryFailurePointEndsCleanly) {
    long total = SweepFaults(
        [](sim::Machine& run) {
            run.AddDir(kDir);
            ResetInstallContext();
        },
        [](sim::Machine& run) {
            std::set<std::string> before;
            for (auto& kv : run.files) before.insert(kv.first);
            return before;
        },
        [] { WriteConfigurationFiles(); },
        [](sim::Machine& run, const std::set<std::string>& before, bool last) {
            for (auto& kv : run.files)
                if (!before.count(kv.first)) {
                    EXPECT_EQ(kv.first.compare(0, 24, "C:\\PROGRAM FILES\\VORNHU\\"), 0) << kv.first;
                }
            EXPECT_TRUE(run.boxes.empty());
            if (last) {
                EXPECT_EQ(run.Read(std::string(kDir) + "vonetsj.dat"), NetSettings(""));
            }
        });
    EXPECT_GT(total, 4);
    sim::Use(&m);
}

class KeepTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), kDir);
        g_ctx.backupState = kBackupDone;
    }
};

TEST_F(KeepTest, SameDirectoryYesKeeps) {
    CopyText(g_ctx.previousDir, sizeof(g_ctx.previousDir), kDir);
    m.answers.push_back(IDYES);
    AskKeepUserData();
    ASSERT_EQ(m.boxes.size(), 1u);
    EXPECT_TRUE(m.boxes[0].wide);
    EXPECT_EQ(m.boxes[0].wtext, u"检测到安装目录下有智能砚舟以前的词组等数据文件，是否保留？");
    EXPECT_EQ(m.boxes[0].wtitle, u"智能砚舟安装");
    EXPECT_EQ(m.boxes[0].flags, (UINT)MB_YESNO);
    EXPECT_EQ(m.boxes[0].owner, (HWND) nullptr);
    EXPECT_EQ(g_ctx.backupState, kBackupKeep);
}

TEST_F(KeepTest, OtherDirectoryNoStaysBackedUp) {
    // Compared exactly: a different case is a different directory.
    CopyText(g_ctx.previousDir, sizeof(g_ctx.previousDir), "c:\\program files\\vornhu\\");
    m.answers.push_back(IDNO);
    AskKeepUserData();
    ASSERT_EQ(m.boxes.size(), 1u);
    EXPECT_EQ(m.boxes[0].wtext, u"检测到有智能砚舟以前的词组等数据文件，是否保留？");
    EXPECT_EQ(g_ctx.backupState, kBackupDone);
}

TEST_F(KeepTest, NothingBackedUpAsksNothing) {
    g_ctx.backupState = kBackupNone;
    AskKeepUserData();
    EXPECT_TRUE(m.boxes.empty());
    EXPECT_EQ(g_ctx.backupState, kBackupNone);
}
