// The uninstall entry, the auto-start entry, the browser tag, the access
// grant and the low integrity level.
#include <algorithm>
#include "registry_snapshot.h"
#include "setup/version.h"
#include "sim_fixture.h"

namespace {
const std::string kUninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::string kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kPlatform =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\User Agent\\Post Platform";

// Stored text as Windows keeps a count that left out the terminator.
std::string Stored(const char* text) { return std::string(text, strlen(text) + 1); }
std::u16string Wide(const std::string& le) { return std::u16string((const char16_t*)le.data(), le.size() / 2); }
}  // namespace

class SysEntriesTest : public SimTest {
   protected:
    std::vector<std::string> ValueNames(HKEY root, const std::string& path) {
        std::vector<std::string> out;
        sim::RegKey* key = m.Key(root, path);
        if (key)
            for (const sim::RegValue& v : key->values) out.push_back(v.name);
        return out;
    }
};

// Besides its name and uninstaller, what detection rules read: the version,
// the maker and the size (KiB, rounded up).  A reinstall replaces them.
TEST_F(SysEntriesTest, UninstallEntryIsWideAndPointsAtTheSystemDirectory) {
    const std::string entry = kUninstall + "\\vornqwb";
    m.SetString(HKEY_LOCAL_MACHINE, entry, "DisplayVersion", "6.3");
    g_ctx.programBytes = 1;
    WriteUninstallEntry();
    g_ctx.programBytes = 8 * 1024 * 1024 + 1;
    WriteUninstallEntry();  // a repeated install rewrites the same entry
    sim::RegKey* key = m.Key(HKEY_LOCAL_MACHINE, entry);
    ASSERT_TRUE(key);
    ASSERT_EQ(key->values.size(), 5u);
    DWORD type = 0;
    std::string size = m.GetValue(HKEY_LOCAL_MACHINE, entry, "EstimatedSize", &type);
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    DWORD kib = 0;
    ASSERT_EQ(size.size(), sizeof(kib));
    memcpy(&kib, size.data(), sizeof(kib));
    EXPECT_EQ(kib, 8u * 1024 + 1);
    EXPECT_EQ(sim::Utf16ToUtf8(Wide(m.GetValue(HKEY_LOCAL_MACHINE, entry, "DisplayVersion"))),
              std::string(VORN_VERSION_FULL, sizeof(VORN_VERSION_FULL)));
    EXPECT_EQ(Wide(m.GetValue(HKEY_LOCAL_MACHINE, entry, "Publisher")), std::u16string(u"砚舟软件", 5));
    for (const sim::RegValue& v : key->values) {
        if (v.name == "EstimatedSize") continue;
        EXPECT_TRUE(v.wide) << v.name;
        EXPECT_EQ(v.type, (DWORD)REG_SZ) << v.name;
    }
    // Sized without the terminator; Windows stores the one that follows.
    EXPECT_EQ(Wide(m.GetValue(HKEY_LOCAL_MACHINE, entry, "DisplayName")), std::u16string(u"砚舟五笔", 5));
    EXPECT_EQ(Wide(m.GetValue(HKEY_LOCAL_MACHINE, entry, "UninstallString")),
              std::u16string(u"C:\\windows\\system32\\vorndel.exe", 32));
    EXPECT_EQ(m.OpenKeyCount(), 0u);
}

TEST_F(SysEntriesTest, UninstallEntryNeedsItsParent) {
    m.DeleteKeyTree(HKEY_LOCAL_MACHINE, kUninstall);
    regsnap::Snapshot before = regsnap::Take(m);
    WriteUninstallEntry();
    EXPECT_EQ(regsnap::Take(m), before);
    EXPECT_EQ(m.OpenKeyCount(), 0u);
}

TEST_F(SysEntriesTest, AutoStartStoresTheGivenCommand) {
    m.SetString(HKEY_LOCAL_MACHINE, kRun, "voyzsjgl", "C:\\old\\vorntavk.exe vo");
    m.SetString(HKEY_LOCAL_MACHINE, kRun, "other", "x.exe");
    WriteAutoStartEntry("\"C:\\Program Files\\vornhu\\vorntavk.exe\" vo");
    EXPECT_EQ(m.GetValue(HKEY_LOCAL_MACHINE, kRun, "voyzsjgl"),
              Stored("\"C:\\Program Files\\vornhu\\vorntavk.exe\" vo"));
    // Deleted and written again: it is now the last value.
    EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, kRun), (std::vector<std::string>{"other", "voyzsjgl"}));
    EXPECT_EQ(m.OpenKeyCount(), 0u);
}

TEST_F(SysEntriesTest, BrowserTagReplacesEveryEarlierToken) {
    const char* earlier[] = {"tavk6300", "tavk6400", "tavk6500", "tavk6600", "tavk6700", "tavk6800",
                             "tavk7000", "tavk7100", "tavk7200", "tavk7300", "tavk7400", "tavk7500",
                             "tavk7600", "tavk7700", "tavk7800", "tavk7900"};
    for (const char* t : earlier) m.SetString(HKEY_LOCAL_MACHINE, kPlatform, t, "");
    // Not a token of this input method's versions.
    m.SetString(HKEY_LOCAL_MACHINE, kPlatform, "tavk6900", "");
    m.SetString(HKEY_LOCAL_MACHINE, kPlatform, "tavk8000", "");
    WriteBrowserTag();
    EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, kPlatform),
              (std::vector<std::string>{"SLCC2", "tavk6900", "tavk8000", "tavk7700"}));
    DWORD type = 0;
    EXPECT_EQ(m.GetValue(HKEY_LOCAL_MACHINE, kPlatform, "tavk7700", &type), "");  // data size 0
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(m.OpenKeyCount(), 0u);
}

TEST_F(SysEntriesTest, BrowserTagCreatesPostPlatform) {
    m.DeleteKeyTree(HKEY_LOCAL_MACHINE, kPlatform);
    WriteBrowserTag();
    EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, kPlatform), (std::vector<std::string>{"tavk7700"}));
}

// The installing user gets full control of the directory and of what is
// created in it from then on.  What it already holds keeps its own access
// list: one of its names may be a hard link a program of his put there to a
// file he may only read.  A junction in the directory's place gets nothing.
TEST_F(SysEntriesTest, GrantReachesTheDirectoryNotWhatItHolds) {
    const std::string dir = "C:\\Program Files\\vornhu";
    m.UseStandardSecurity();
    m.AddDir(dir);
    m.AddFile(dir + "\\vornzdym.voh", "the user's words");
    m.AddHardLink(dir + "\\hosts", "C:\\windows\\system32\\vornhu4.ime");
    sim::Token user = sim::Machine::StandardUser(m.userSid);
    ASSERT_FALSE(m.GrantedRights(user, dir) & FILE_ADD_FILE);
    for (int run = 0; run < 2; run++) {  // an upgrade grants it again, once
        EXPECT_EQ(GrantUserFullAccess((dir + "\\").c_str()), 1);
        const sim::FileEntry* e = m.Entry(dir);
        ASSERT_EQ(std::count_if(e->dacl.begin(), e->dacl.end(),
                                [&](const sim::Ace& a) { return !(a.flags & INHERITED_ACE); }),
                  1);
        EXPECT_EQ(e->dacl[0], (sim::Ace{m.userSid, FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, false}));
        EXPECT_EQ(e->dacl.size(), 4u);  // and the three it inherited
    }
    EXPECT_EQ(m.GrantedRights(user, dir) & FILE_ALL_ACCESS, (DWORD)FILE_ALL_ACCESS);
    EXPECT_FALSE(m.GrantedRights(user, dir + "\\hosts") & FILE_WRITE_DATA);
    EXPECT_FALSE(m.GrantedRights(user, "C:\\windows\\system32\\vornhu4.ime") & FILE_WRITE_DATA);
    EXPECT_FALSE(m.GrantedRights(user, dir + "\\vornzdym.voh") & FILE_WRITE_DATA);
    ASSERT_TRUE(WriteFileWhole((dir + "\\vonetsj.dat").c_str(), "x", 1));
    EXPECT_TRUE(m.GrantedRights(user, dir + "\\vonetsj.dat") & FILE_WRITE_DATA);

    m.AddReparsePoint("C:\\Program Files\\elsewhere", "C:\\windows\\system32", true);
    EXPECT_EQ(GrantUserFullAccess("C:\\Program Files\\elsewhere\\"), 0);
    EXPECT_FALSE(m.GrantedRights(user, "C:\\windows\\system32") & FILE_ADD_FILE);
    EXPECT_EQ(m.liveAllocations, 0u);
}

TEST_F(SysEntriesTest, GrantFailuresLeaveTheDaclAsItWas) {
    EXPECT_EQ(GrantUserFullAccess("C:\\Program Files\\vornhu\\"), 0);  // no such directory
    m.UseStandardSecurity();
    m.AddDir("C:\\Program Files\\vornhu");
    std::vector<sim::Ace> before = m.Entry("C:\\Program Files\\vornhu")->dacl;
    m.securityFails = true;
    EXPECT_EQ(GrantUserFullAccess("C:\\Program Files\\vornhu\\"), 0);
    EXPECT_EQ(m.Entry("C:\\Program Files\\vornhu")->dacl, before);
    EXPECT_EQ(m.liveAllocations, 0u);
}

TEST_F(SysEntriesTest, LowIntegrityRunsIcaclsFromTheSystemDirectory) {
    CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), "c:\\Program Files\\vornhu\\");
    SetLowIntegrity();
    ASSERT_EQ(m.winExecs.size(), 1u);
    EXPECT_EQ(m.winExecs[0],
              "\"C:\\windows\\system32\\icacls.exe\" \"c:\\Program Files\\vornhu\" /SetIntegrityLevel Level: L");

    // Only one trailing backslash is removed.
    CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), "D:\\x\\\\");
    SetLowIntegrity();
    EXPECT_EQ(m.winExecs[1], "\"C:\\windows\\system32\\icacls.exe\" \"D:\\x\\\" /SetIntegrityLevel Level: L");
}

// Sweeps every failure point of each entry: no key left open, no block
// leaked, nothing changed outside the entry's own key, and a grant either
// complete or absent.
TEST_F(SysEntriesTest, EveryFailurePointEndsCleanly) {
    struct Op {
        const char* name;
        void (*run)(void);
        std::string allowed;
    };
    const Op ops[] = {
        {"uninstall", [] { WriteUninstallEntry(); }, "HKLM\\" + kUninstall + "\\vornqwb"},
        {"autostart", [] { WriteAutoStartEntry("\"C:\\p\\vorntavk.exe\" vo"); }, "HKLM\\" + kRun},
        {"browser", [] { WriteBrowserTag(); }, "HKLM\\" + kPlatform},
        {"grant", [] { GrantUserFullAccess("C:\\Program Files\\vornhu\\"); }, "-"},
    };
    for (const Op& op : ops) {
        auto prepare = [](sim::Machine& mm) {
            mm.UseStandardSecurity();
            mm.AddDir("C:\\Program Files\\vornhu");
            mm.SetString(HKEY_LOCAL_MACHINE, kPlatform, "tavk7500", "");
            mm.SetString(HKEY_LOCAL_MACHINE, kRun, "voyzsjgl", "old");
        };
        SCOPED_TRACE(op.name);
        bool grant = std::string(op.name) == "grant";
        long total = SweepFaults(prepare, [](sim::Machine& run) { return regsnap::Take(run); }, op.run,
                    [&](sim::Machine& run, const regsnap::Snapshot& before, bool last) {
                        EXPECT_EQ(run.OpenKeyCount(), 0u);
                        EXPECT_EQ(run.liveAllocations, 0u);
                        EXPECT_EQ(regsnap::ChangesOutside(before, regsnap::Take(run), {op.allowed}), "");
                        // The grant is there whole, or the inherited list is as it was.
                        const std::vector<sim::Ace>& dacl = run.Entry("C:\\Program Files\\vornhu")->dacl;
                        EXPECT_TRUE(dacl.size() == 3u || (dacl.size() == 4u && dacl[0].sid == run.userSid));
                        if (last && grant) {
                            EXPECT_EQ(dacl.size(), 4u);
                        }
                    });
        EXPECT_GT(total, 2) << op.name;
    }
    sim::Use(&m);
}
