// The whole silent install over an earlier installation, once per failure
// point of every file, registry, memory and process call: once, from that
// call on (a full disk), and counting only the calls of one name.  Each run
// ends; the exit code is not 0 unless the machine ends exactly as after an
// undisturbed install; the earlier user data and its backup stay whole.
#include <map>

#include "archive_builder.h"
#include "registry_snapshot.h"
#include "sim_fixture.h"

namespace {
const std::string kDir = "C:\\Program Files\\vornhu\\";
const std::string kLayouts = "System\\CurrentControlSet\\Control\\Keyboard Layouts";

struct State {
    std::map<std::string, std::string> files;  // folded path -> bytes ("<dir>" for directories)
    regsnap::Snapshot registry;
};

State Take(const sim::Machine& m) {
    State s;
    for (const auto& kv : m.files) s.files[kv.first] = kv.second.dir ? "<dir>" : sim::ToString(kv.second.data);
    s.registry = regsnap::Take(m);
    return s;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// What an undisturbed install leaves that `after` lacks or holds otherwise
// (the first such file, key or value); "" when it has all of it.  Leftovers
// do not count (a stub not deleted, the old input method moved aside under
// the other spare name), nor which Keyboard Layouts key holds the entry,
// as long as one does.
std::string Missing(const State& clean, const State& after, sim::Machine& run) {
    for (const auto& kv : clean.files) {
        if (EndsWith(kv.first, "\\VORNHU2.IME") || EndsWith(kv.first, "\\VORNH12.IME")) continue;
        auto it = after.files.find(kv.first);
        if (it == after.files.end() || it->second != kv.second) return "file " + kv.first;
    }
    const std::string layouts = "HKLM\\" + kLayouts + "\\";
    for (const auto& kv : clean.registry) {
        if (kv.first.compare(0, layouts.size(), layouts) == 0) continue;
        auto it = after.registry.find(kv.first);
        if (it == after.registry.end() || it->second != kv.second) return "registry " + kv.first;
    }
    const std::string text = "智能砚舟输入平台  7.7";
    const std::u16string wide = u"智能砚舟输入平台  7.7";
    const std::string wideBytes((const char*)wide.data(), wide.size() * 2);
    for (const std::string& key : run.Subkeys(HKEY_LOCAL_MACHINE, kLayouts)) {
        std::string value = run.GetValue(HKEY_LOCAL_MACHINE, kLayouts + "\\" + key,
                                                                    "layout text");
        if (value.compare(0, text.size(), text) == 0 || value.compare(0, wideBytes.size(), wideBytes) == 0)
            return std::string();
    }
    return "a Keyboard Layouts entry with this input method's text";
}
}  // namespace

class InstallSweepTest : public SimTest {
   protected:
    std::string payload = testvoz::Build(testvoz::SampleMembers());
    std::string backup = testvoz::Build({{"vorncyzk.bak", testvoz::PhraseList(20), ""}});
    int rc = -1;

    // A 64-bit Windows 7 with drive D: and an earlier installation: its
    // record, its layout in the preload list, its input method loaded in
    // the system directory, the user's own word list and backup archive.
    void Prepare(sim::Machine& run) {
        ResetInstallContext();
        memset(&g_preload, 0, sizeof(g_preload));
        g_installedLayout = nullptr;
        run.driveTypes['D'] = DRIVE_FIXED;
        run.AddDir("D:\\");
        run.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(payload)});
        run.AddFile("C:\\windows\\vornpath.voh", kDir);
        run.AddFile(kDir + "userck.txt", "my own words");
        run.AddFile(kDir + "vornback.voz", backup);
        run.SetString(HKEY_CURRENT_USER, "keyboard layout\\preload", "2", "E0200804");
        run.SetString(HKEY_LOCAL_MACHINE, kLayouts + "\\E0200804", "layout text", "智能砚舟输入平台  6.3");
        run.AddFile("C:\\windows\\system32\\vornhu4.ime", "old64");
        run.Entry("C:\\windows\\system32\\vornhu4.ime")->loaded = true;
    }
    void Install() { rc = SetupMain(nullptr, "setvosrf32", SW_SHOW); }
};

TEST_F(InstallSweepTest, EveryFailurePointOfTheSilentInstall) {
    State clean;
    {
        sim::Machine run;
        Prepare(run);
        Install();
        ASSERT_EQ(rc, kExitOk);
        ASSERT_TRUE(run.boxes.empty()) << run.BoxTexts()[0];
        clean = Take(run);
    }
    long points = 0;
    for (const FaultClass& fault :
         {FaultClass{false, ""}, FaultClass{true, ""}, FaultClass{false, "CopyFileA"}, FaultClass{true, "_lwrite"}}) {
        points += 1 + SweepFaults(
            [&](sim::Machine& run) { Prepare(run); }, [](sim::Machine&) { return 0; }, [&] { Install(); },
            [&](sim::Machine& run, int, bool last) {
                EXPECT_TRUE(rc == kExitOk || rc == kExitStepFailed || rc == kExitImeLocked || rc == kExitNoPayload ||
                            rc == kExitNotAdministrator)
                    << "exit " << rc;
                EXPECT_EQ(run.Read(kDir + "userck.txt"), "my own words");
                EXPECT_EQ(run.Read(kDir + "vornback.voz"), backup);
                EXPECT_EQ(run.liveAllocations, 0u);
                EXPECT_EQ(run.OpenKeyCount(), 0u);
                EXPECT_FALSE(run.redirectionDisabled);
                std::string missing = Missing(clean, Take(run), run);
                if (rc == kExitOk) {
                    EXPECT_EQ(missing, "") << "exit 0";
                }
                if (last) {
                    EXPECT_EQ(rc, kExitOk);
                }
            },
            fault);
    }
    RecordProperty("failure_points", (int)points);
    printf("whole-install sweep: %ld failure points\n", points);
    sim::Use(&m);
}
