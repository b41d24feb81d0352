// Deployment to many machines: one setup at a time, and the organisation's
// address given on the command line.
#include "archive_builder.h"
#include "registry_snapshot.h"
#include "sim_fixture.h"

namespace {
const char* kLog = "C:\\vorn.log";
const char* kBusy = u8"另一个智能砚舟安装程序正在运行，请等它结束后再运行本安装程序。";
const char* kUser = "S-1-5-21-1-2-3-1002";

void WithPayload(sim::Machine& m) {
    m.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build(testvoz::SampleMembers()))});
}

// Process `pid` makes and holds `name`: as a setup does, or as a user does
// (`sa`: his access list; null lets everyone in).  Then it is the test's turn.
void Hold(sim::Machine& m, DWORD pid, LPCSTR name, bool setup, LPSECURITY_ATTRIBUTES sa = NULL) {
    std::string owner = m.ownerSid, user = m.userSid;
    DWORD self = m.processId;
    if (!setup) m.ownerSid = m.userSid = kUser;
    AdministratorsOnly security;
    MakeAdministratorsOnly(&security, MUTEX_ALL_ACCESS, true);
    m.processId = pid;
    EXPECT_TRUE(CreateMutexA(setup ? &security.sa : sa, TRUE, name));
    m.processId = self, m.ownerSid = owner, m.userSid = user;
}
}  // namespace

class DeployTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        WithPayload(m);
    }
    int Run(const std::string& commandLine) {
        ClosePayload();
        ResetInstallContext();
        memset(&g_orgAddress, 0, sizeof(g_orgAddress));
        return SetupMain(nullptr, commandLine.c_str(), SW_SHOW);
    }
    void End(DWORD pid) {
        std::swap(pid, m.processId);
        m.EndProcess();
        m.processId = pid;
    }
    std::string Address() {
        std::string net = m.Read("C:\\Program Files\\vornhu\\vonetsj.dat");
        size_t at = net.find("VONETURL2=") + 10;
        return net.substr(at, net.find("\r\n", at) - at);
    }
};

// While another setup runs, every mode (the registration program started by
// hand too) changes nothing, says so once (in the log when quiet) and exits
// 1618; on NT 4.0 under the plain name.  Once it has gone, killed or not,
// the next one installs.
TEST_F(DeployTest, SecondSetupFromAnotherProcessChangesNothing) {
    Hold(m, 1111, "Global\\vornhusetup", true);
    for (const char* mode : {"", "setvosrf32", "setvosrf32 /quiet", "regvo32=C:\\Program Files\\vornhu\\"}) {
        SCOPED_TRACE(mode);
        sim::Machine before;  // becomes the current machine
        WithPayload(before);
        sim::Use(&m);
        m.boxes.clear();
        EXPECT_EQ(Run(std::string(mode) + " /log=" + kLog), kExitAnotherSetup);
        bool quiet = strstr(mode, "/quiet") != NULL;
        EXPECT_EQ(regsnap::MachineDifferences(before, m, {kLog}), quiet ? "" : "message boxes\n");
        EXPECT_TRUE(m.processes.empty() && m.imeInstalls.empty());
        if (!quiet) {
            EXPECT_EQ(m.BoxTexts(), std::vector<std::string>{sim::Utf8ToGbk(kBusy)});
        }
    }
    EXPECT_NE(m.Read(kLog).find(std::string(kBusy) + " -> OK (quiet: not shown)"), std::string::npos);
    End(1111);
    EXPECT_TRUE(m.mutexes.empty());
    EXPECT_EQ(Run("setvosrf32"), kExitOk);

    sim::Machine nt4;
    sim::Use(&nt4);
    WithPayload(nt4);
    nt4.Make32Bit();
    nt4.majorVersion = 4, nt4.minorVersion = 0;
    Hold(nt4, 1111, "vornhusetup", true);
    EXPECT_EQ(Run("setvosrf32 /quiet"), kExitAnotherSetup);
}

// The setup's mutex: owned by Administrators, opened by administrators and
// the system account alone, held for the whole run; the registration
// program it starts runs meanwhile.  One a user made first, whether it lets
// the setup in or not, never stops an install.
TEST_F(DeployTest, OnlyAnAdministratorsMutexCountsAsASetup) {
    sim::Machine::Mutex during;
    DWORD userOpen = 0;
    m.actAt = 40;
    m.act = [&](sim::Machine& mm) {
        during = mm.mutexes["vornhusetup"];
        std::string user = mm.userSid;
        mm.ownerSid = mm.userSid = kUser;
        userOpen = CreateMutexA(NULL, FALSE, "Global\\vornhusetup") ? 0 : mm.lastError;
        mm.ownerSid = sim::kSidAdministrators, mm.userSid = user;
    };
    EXPECT_EQ(Run("setvosrf32"), kExitOk);
    EXPECT_EQ(userOpen, (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(during.owner + " " + std::to_string(during.holder), sim::kSidAdministrators + std::string(" 4242"));
    ASSERT_EQ(during.dacl.size(), 2u);
    EXPECT_EQ(during.dacl[0].sid + during.dacl[1].sid, std::string(sim::kSidAdministrators) + sim::kSidSystem);
    std::string started = m.processes.at(0).commandLine;
    Hold(m, 1111, "Global\\vornhusetup", true);
    EXPECT_EQ(Run(started.substr(started.find("regvo32="))), 0);  // its environment names its setup
    m.environment.clear();
    End(1111);

    SECURITY_DESCRIPTOR closed;
    ACL empty;
    InitializeSecurityDescriptor(&closed, SECURITY_DESCRIPTOR_REVISION);
    InitializeAcl(&empty, sizeof(empty), ACL_REVISION);
    SetSecurityDescriptorDacl(&closed, TRUE, &empty, FALSE);
    SECURITY_ATTRIBUTES shut = {sizeof(shut), &closed, FALSE};
    for (LPSECURITY_ATTRIBUTES sa : {(LPSECURITY_ATTRIBUTES)NULL, &shut}) {
        Hold(m, 777, "Global\\vornhusetup", false, sa);
        EXPECT_EQ(Run(std::string("setvosrf32 /log=") + kLog), kExitOk);
        End(777);
    }
    EXPECT_NE(m.Read(kLog).find("held by a program without administrator rights"), std::string::npos);
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
