// Deployment to many machines: one setup at a time, and the organisation's
// address given on the command line.
#include "archive_builder.h"
#include "registry_snapshot.h"
#include "setup/log.h"
#include "sim_fixture.h"

namespace {
const char* kLog = "C:\\vorn.log";
const char* kBusy = u8"另一个智能砚舟安装程序正在运行，请等它结束后再运行本安装程序。";

// A setup in process `pid` holds `name`, made as the setup makes it.
void HoldAsSetup(sim::Machine& m, DWORD pid, LPCSTR name) {
    DWORD self = m.processId;
    m.processId = pid;
    AdministratorsOnly security;
    ASSERT_TRUE(MakeAdministratorsOnly(&security, MUTEX_ALL_ACCESS, true));
    HANDLE held = CreateMutexA(&security.sa, TRUE, name);
    ASSERT_TRUE(held);
    m.processId = self;
}
}  // namespace

class DeployTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        m.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build(testvoz::SampleMembers()))});
    }
    int Run(const std::string& commandLine) {
        ClosePayload();
        ResetInstallContext();
        memset(&g_orgAddress, 0, sizeof(g_orgAddress));
        return SetupMain(nullptr, commandLine.c_str(), SW_SHOW);
    }
    // Every file but the log, with its bytes.
    std::map<std::string, std::string> Files() {
        std::map<std::string, std::string> out;
        for (const auto& kv : m.files)
            if (kv.first != "C:\\VORN.LOG") out[kv.first] = sim::ToString(kv.second.data);
        return out;
    }
    std::string Address() {
        std::string net = m.Read("C:\\Program Files\\vornhu\\vonetsj.dat");
        size_t at = net.find("VONETURL2=");
        return at == std::string::npos ? "?" : net.substr(at + 10, net.find("\r\n", at) - at - 10);
    }
};

// While another setup runs, every mode (the registration program started by
// hand too) changes nothing, says so once (in the log when quiet) and exits
// 1618.  Once that setup has gone, even killed, the next one installs.
TEST_F(DeployTest, SecondSetupFromAnotherProcessChangesNothing) {
    HoldAsSetup(m, 1111, "Global\\vornhusetup");
    const char* modes[] = {"", "setvosrf32", "setvosrf32 /quiet", "regvo32=C:\\Program Files\\vornhu\\"};
    for (const char* mode : modes) {
        SCOPED_TRACE(mode);
        std::map<std::string, std::string> files = Files();
        regsnap::Snapshot registry = regsnap::Take(m);
        m.boxes.clear();
        EXPECT_EQ(Run(std::string(mode) + " /log=" + kLog), kExitAnotherSetup);
        EXPECT_TRUE(Files() == files);
        EXPECT_EQ(regsnap::Take(m), registry);
        EXPECT_TRUE(m.winExecs.empty() && m.processes.empty() && m.imeInstalls.empty());
        bool quiet = strstr(mode, "/quiet") != NULL;
        ASSERT_EQ(m.boxes.size(), quiet ? 0u : 1u);
        if (!quiet) {
            EXPECT_EQ(sim::Utf16ToUtf8(m.boxes[0].wtext), kBusy);
        }
    }
    EXPECT_NE(m.Read(kLog).find(std::string(kBusy) + " -> OK (quiet: not shown)"), std::string::npos);

    // The first ends, killed: its mutex goes with its last handle.
    DWORD self = m.processId;
    m.processId = 1111;
    m.EndProcess();
    m.processId = self;
    EXPECT_TRUE(m.mutexes.empty());
    EXPECT_EQ(Run("setvosrf32"), kExitOk);
}

// The setup's own mutex: owned by Administrators, opened by administrators
// and the system account alone, held for the whole run; the registration
// program it starts runs meanwhile.  A mutex some user made first, whether
// it lets the setup in or not, never stops an install.
TEST_F(DeployTest, OnlyAnAdministratorsMutexCountsAsASetup) {
    sim::Machine::Mutex during;
    DWORD userOpen = 0;
    m.actAt = 40;
    m.act = [&](sim::Machine& mm) {
        during = mm.mutexes["vornhusetup"];
        std::string owner = mm.ownerSid, user = mm.userSid;
        mm.ownerSid = mm.userSid = "S-1-5-21-1-2-3-1002";
        userOpen = CreateMutexA(NULL, FALSE, "Global\\vornhusetup") ? 0 : mm.lastError;
        mm.ownerSid = owner, mm.userSid = user;
    };
    EXPECT_EQ(Run("setvosrf32"), kExitOk);
    EXPECT_EQ(during.owner, sim::kSidAdministrators);
    EXPECT_EQ(during.holder, m.processId);
    ASSERT_EQ(during.dacl.size(), 2u);
    EXPECT_EQ(during.dacl[0].sid + during.dacl[1].sid, std::string(sim::kSidAdministrators) + sim::kSidSystem);
    EXPECT_EQ(userOpen, (DWORD)ERROR_ACCESS_DENIED);
    ASSERT_EQ(m.processes.size(), 1u);
    std::string started = m.processes[0].commandLine;

    HoldAsSetup(m, 1111, "Global\\vornhusetup");
    EXPECT_EQ(Run(started.substr(started.find("regvo32="))), 0);  // its environment names its setup
    m.environment.clear();
    DWORD self = m.processId;
    m.processId = 1111;
    m.EndProcess();

    for (bool letsIn : {true, false}) {
        m.processId = 777;
        m.ownerSid = m.userSid = "S-1-5-21-1-2-3-1002";
        SECURITY_DESCRIPTOR closed;
        ACL empty;
        InitializeSecurityDescriptor(&closed, SECURITY_DESCRIPTOR_REVISION);
        InitializeAcl(&empty, sizeof(empty), ACL_REVISION);
        SetSecurityDescriptorDacl(&closed, TRUE, &empty, FALSE);
        SECURITY_ATTRIBUTES sa = {sizeof(sa), &closed, FALSE};
        ASSERT_TRUE(CreateMutexA(letsIn ? NULL : &sa, TRUE, "Global\\vornhusetup"));
        m.processId = self;
        m.ownerSid = sim::kSidAdministrators;
        m.userSid = "S-1-5-21-1000-2000-3000-1001";
        EXPECT_EQ(Run(std::string("setvosrf32 /log=") + kLog), kExitOk) << letsIn;
        m.processId = 777;
        m.EndProcess();
        m.processId = self;
    }
    EXPECT_NE(m.Read(kLog).find("held by a program without administrator rights"), std::string::npos);
}

// Windows NT 4.0 knows no "Global\": there the one namespace's plain name.
TEST_F(DeployTest, WindowsNt4TakesThePlainName) {
    m.Make32Bit();
    m.majorVersion = 4, m.minorVersion = 0;
    HoldAsSetup(m, 1111, "vornhusetup");
    EXPECT_EQ(Run("setvosrf32 /quiet"), kExitAnotherSetup);
}

// "/url=" gives the silent install the address as the options page would
// store it; without it the earlier address stays.  Its text never chooses
// the run mode.
TEST_F(DeployTest, UrlWordSetsTheAddressAsTheOptionsPageDoes) {
    m.AddFile("C:\\Program Files\\vornhu\\vonetsj.dat", "VONETURL1=\r\nVONETURL2=www.earlier.cn\r\n");
    EXPECT_EQ(Run("setvosrf32 /quiet"), kExitOk);
    EXPECT_EQ(Address(), "www.earlier.cn");
    EXPECT_EQ(Run("/URL=\"http://www.new.cn/a b/regvo32\" setvosrf32"), kExitOk);
    EXPECT_EQ(Address(), "http://www.new.cn/a b/regvo32");
    EXPECT_EQ(Run("setvosrf32 /url=" + std::string(98, 'a') + "\xd0\xc2" + "b"), kExitOk);  // "新" across byte 99
    EXPECT_EQ(Address(), std::string(98, 'a'));
    EXPECT_EQ(Run("setvosrf32 \"/url=www.a.cn\r\nVONETURL1=x\""), kExitOk);
    EXPECT_EQ(Address(), "www.a.cn");
    EXPECT_EQ(Run("setvosrf32 /url="), kExitOk);
    EXPECT_EQ(Address(), "");
}
