// The users an install does not run as: the console's user when the system
// account installs, the session's user when an administrator installs in
// it, and every user at his next logon (the Active Setup step run as him).
#include "archive_builder.h"
#include "registry_snapshot.h"
#include "sim_fixture.h"

namespace {
const char* kAlice = "S-1-5-21-1000-2000-3000-1001";
const char* kBob = "S-1-5-21-1000-2000-3000-1002";
const char* kAdmin = "S-1-5-21-1000-2000-3000-500";
const char* kDir = "C:\\Program Files\\vornhu\\";
const char* kStep = "C:\\windows\\system32\\vornuser.exe";
const char* kEntry = "Software\\Microsoft\\Active Setup\\Installed Components\\{6B0E3F52-9A7C-4D18-B2E4-5C1F0A9D7E36}";
const char* kLayout = "e0010804";

// A machine whose accounts and sessions are known, with Alice logged on at
// the console (her hive, the machine's first, is loaded); the setup runs as
// `sid`.
void Prepare(sim::Machine& m, const char* sid, const char* name, DWORD session) {
    m.UseStandardSecurity();
    m.accounts = {{"PC\\alice", kAlice}, {"PC\\bob", kBob}, {"PC\\admin", kAdmin}};
    m.sessionUsers[1] = {"PC", "alice"};
    m.processSession = session;
    m.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build(testvoz::SampleMembers()))});
    if (sid != m.userSid) {
        m.LogOn(sid, name);
        m.SetString(HKEY_CURRENT_USER, "Keyboard Layout\\Preload", "1", "00000409");
    }
}

int RunAs(sim::Machine& m, const char* line) {
    sim::Use(&m);
    ResetInstallContext();
    int rc = SetupMain(nullptr, line, SW_SHOW);
    ClosePayload();
    m.EndProcess();
    return rc;
}

// How often the preload list of the hive at `root`\`user` holds the layout.
int PreloadCount(sim::Machine& m, HKEY root, const std::string& user) {
    std::string path = (user.empty() ? "" : user + "\\") + "Keyboard Layout\\Preload";
    const sim::RegKey* key = m.Key(root, path);
    int n = 0;
    for (size_t i = 0; key && i < key->values.size(); i++)
        n += sim::FoldGbk(m.GetValue(root, path, key->values[i].name).c_str(), true) == kLayout;
    return n;
}

// `sid` logs on (his profile's hive is loaded) and Active Setup runs the
// entry's command as him, twice here, which must not matter.  Nothing but
// his own settings changes, and nothing is shown.
void NextLogon(sim::Machine& m, const std::string& sid, const std::string& name) {
    if (!m.Key(HKEY_USERS, sid)) m.SetString(HKEY_USERS, sid + "\\Keyboard Layout\\Preload", "1", "00000804");
    m.LogOn(sid, name);
    ASSERT_EQ(m.GetValue(HKEY_LOCAL_MACHINE, kEntry, "StubPath").c_str(), std::string("\"") + kStep + "\" /peruser");
    m.exePath = kStep;
    regsnap::Snapshot before = regsnap::Take(m);
    size_t files = m.files.size();
    for (int run = 0; run < 2; run++) EXPECT_EQ(RunAs(m, "/peruser"), 0);
    EXPECT_EQ(regsnap::ChangesOutside(before, regsnap::Take(m), {"HKCU\\Keyboard Layout\\Preload", "HKCU\\Control Panel"}),
              "");
    EXPECT_EQ(m.files.size(), files);
    EXPECT_TRUE(m.boxes.empty());
}

// Whether `sid` may write the input method's data, and that he can never
// change the step every user runs.
void ExpectAccess(sim::Machine& m, const std::string& sid, bool writes) {
    sim::Token user = sim::Machine::StandardUser(sid);
    EXPECT_EQ((m.GrantedRights(user, kDir) & FILE_ADD_FILE) != 0, writes) << sid;
    EXPECT_EQ((m.GrantedRights(user, std::string(kDir) + "vonetsj.dat") & FILE_WRITE_DATA) != 0, writes) << sid;
    EXPECT_FALSE(m.MayDelete(user, kStep)) << sid;
    EXPECT_FALSE(m.GrantedRights(user, kStep) & FILE_WRITE_DATA) << sid;
}
}  // namespace

// The system account installs while Alice sits at the console and Bob, who
// has a profile, is not logged on.  Alice gets the layout now and the
// directory's access; the system account's own settings stay as they were.
// At each one's next logon the step adds the layout once (on Windows 10 to
// the language list too); once the input method is gone it changes nothing.
TEST(OtherUsersTest, TheSystemAccountsInstallReachesTheConsoleUserAndEveryUsersNextLogon) {
    for (DWORD major : {6u, 10u}) {
        SCOPED_TRACE(major);
        sim::Machine m;
        m.majorVersion = major, m.minorVersion = 0;
        Prepare(m, sim::kSidSystem, "SYSTEM", 0);
        regsnap::Snapshot before = regsnap::Take(m);

        ASSERT_EQ(RunAs(m, "setvosrf32 /quiet"), 0);
        EXPECT_EQ(PreloadCount(m, HKEY_USERS, kAlice), 1);
        EXPECT_FALSE(m.Key(HKEY_USERS, kBob));
        EXPECT_EQ(regsnap::ChangesOutside(before, regsnap::Take(m), {"HKLM", std::string("HKU\\") + kAlice}), "");
        ExpectAccess(m, kAlice, true);
        ExpectAccess(m, kBob, false);
        // The step is the payload's 64-bit program, patched as the directory's copy.
        EXPECT_EQ(m.Read(kStep), m.Read(std::string(kDir) + "setupw64.exe"));
        EXPECT_STREQ(m.GetValue(HKEY_LOCAL_MACHINE, kEntry, "Version").c_str(), "7,7,1,0");
        EXPECT_EQ(m.GetValue(HKEY_LOCAL_MACHINE, kEntry, "IsInstalled"), std::string("\1\0\0\0", 4));

        NextLogon(m, kAlice, "alice");
        EXPECT_EQ(PreloadCount(m, HKEY_CURRENT_USER, ""), 1);
        NextLogon(m, kBob, "bob");
        EXPECT_EQ(PreloadCount(m, HKEY_CURRENT_USER, ""), 1);
        EXPECT_EQ(m.HasValue(HKEY_CURRENT_USER, "Control Panel\\International\\User Profile\\zh-Hans-CN",
                             "0804:E0010804"),
                  major >= 10);

        // Uninstalled: the layout and its file are gone.
        m.DeleteKeyTree(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Keyboard Layouts\\E0010804");
        m.Remove("C:\\windows\\system32\\vornhu4.ime");
        NextLogon(m, "S-1-5-21-1000-2000-3000-1003", "carol");
        EXPECT_EQ(PreloadCount(m, HKEY_CURRENT_USER, ""), 0);
    }
}

// An administrator types his password into Alice's session: Alice, the
// standard user who sits there, gets what the administrator gets today.
// Run by Alice herself, the install touches no hive under HKEY_USERS.
TEST(OtherUsersTest, AnAdministratorsInstallInAStandardUsersSessionReachesHer) {
    sim::Machine m;
    Prepare(m, kAdmin, "admin", 1);
    ASSERT_EQ(RunAs(m, "setvosrf32 /quiet"), 0);
    EXPECT_EQ(PreloadCount(m, HKEY_USERS, kAlice), 1);
    ExpectAccess(m, kAlice, true);
    ExpectAccess(m, kAdmin, true);
    NextLogon(m, kAlice, "alice");
    EXPECT_EQ(PreloadCount(m, HKEY_CURRENT_USER, ""), 1);

    sim::Machine own;
    Prepare(own, kAlice, "alice", 1);
    regsnap::Snapshot before = regsnap::Take(own);
    ASSERT_EQ(RunAs(own, "setvosrf32 /quiet"), 0);
    EXPECT_EQ(regsnap::ChangesOutside(before, regsnap::Take(own), {"HKLM", "HKCU"}), "");
}
