// The whole install over an earlier installation, silent and through the
// window, once per failure point of every file, registry, memory, window and
// process call: once, from that call on (a full disk), and counting only the
// calls of one name.  Each run ends; the silent exit code is not 0 (nor
// 3010) unless everything an undisturbed install leaves is in place; the user's own files
// and backup archive stay whole; nothing stays allocated or open.
#include <map>

#include "archive_builder.h"
#include "payload/voz.h"
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

// The user's files of the earlier installation and the names they are kept
// under in a backup archive.
const struct {
    const char* file;
    const char* member;
} kUserFiles[] = {
    {"vorncyzk.voh", "vorncyzk.bak"}, {"cfontset.voh", "cfontset.bak"}, {"cwbzlcz1.voh", "cwbzlcz1.bak"},
    {"vowbcmxz.voh", "vowbcmxz.bak"}, {"vodhzcm.voh", "vodhzcm.bak"},   {"vorndhz.voh", "vorndhz.bak"},
    {"vogbkhz.voh", "vogbkhz.bak"},   {"voszsj43.voh", "voszsj43.voh"}, {"vorndwdw.txt", "vorndwdw.txt"},
    {"vornzdym.voh", "vornzdym.voh"}, {"vopyzdym.voh", "vopyzdym.voh"}, {"vowbpy.txt", "vowbpy.txt"},
    {"vornynhz.txt", "vornynhz.txt"}, {"vornzdfh.voh", "vornzdfh.voh"}, {"userck.txt", "userck.txt"},
};

std::string UserBytes(const char* file) {
    return std::string(file) == "voszsj43.voh" ? std::string(200, '\x05') : std::string("mine: ") + file;
}

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
        for (const auto& u : kUserFiles) run.AddFile(kDir + u.file, UserBytes(u.file));
        run.AddFile(kDir + "vornback.voz", backup);
        run.SetString(HKEY_CURRENT_USER, "keyboard layout\\preload", "2", "E0200804");
        run.SetString(HKEY_LOCAL_MACHINE, kLayouts + "\\E0200804", "layout text", "智能砚舟输入平台  6.3");
        run.AddFile("C:\\windows\\system32\\vornhu4.ime", "old64");
        run.Entry("C:\\windows\\system32\\vornhu4.ime")->loaded = true;
    }
    void Install() { rc = SetupMain(nullptr, "setvosrf32", SW_SHOW); }

    // The user's walk through the window: three clicks on the left button,
    // the pause, the last page and its two clicks; a window still open at
    // the end is closed by its close box, as the user would.
    void Walk(sim::Machine& run) {
        rc = SetupMain(nullptr, "", SW_SHOW);
        HWND w = g_ctx.setupWindow;
        for (int i = 0; i < 3 && w; i++) run.gui.Click(w, 90, 257), run.gui.Pump();
        run.gui.FireTimers();
        run.gui.Pump();
        for (int i = 0; i < 2 && w; i++) run.gui.Click(w, 90, 257), run.gui.Pump();
        if (w && run.gui.Find(w) && !run.gui.quitPosted) {
            run.gui.PressCloseBox(w);
            run.gui.Pump();
        }
        ClosePayload();
    }
    // Invariants of every run, whatever failed.  The silent install makes
    // no backup: the user's word list (no payload member has its name) and
    // the earlier backup stay as they were.
    void ExpectWhole(sim::Machine& run) {
        EXPECT_EQ(run.Read(kDir + "userck.txt"), UserBytes("userck.txt"));
        EXPECT_EQ(run.Read(kDir + "vornback.voz"), backup);
        ExpectReleased(run);
    }
    // The walk backs the user's files up first: each is still there as it
    // was, or whole in the backup archive.  When the backup itself failed,
    // the install unpacks over the earlier files as it does without one;
    // then only the files no payload member replaces are held to that.
    void ExpectUserDataKept(sim::Machine& run) {
        std::string archive = run.Read(kDir + "vornback.voz");
        std::vector<unsigned char> out(1 << 16);
        bool backedUp = g_ctx.backupState != kBackupNone;
        for (const auto& u : kUserFiles) {
            std::string want = UserBytes(u.file);
            if (run.Read(kDir + u.file) == want) continue;
            bool shipped = FindMember((const unsigned char*)payload.data(), payload.size(), u.file, out.data(),
                                      out.size()) != 0;
            if (!backedUp && shipped) continue;
            size_t n = FindMember((const unsigned char*)archive.data(), archive.size(), u.member, out.data(), out.size());
            EXPECT_EQ(std::string((const char*)out.data(), n), want) << u.file << " lost";
        }
        ExpectReleased(run);
    }
    void ExpectReleased(sim::Machine& run) {
        EXPECT_EQ(run.liveAllocations, 0u);
        EXPECT_EQ(run.OpenKeyCount(), 0u);
        EXPECT_FALSE(run.redirectionDisabled);
    }
};

TEST_F(InstallSweepTest, EveryFailurePointOfTheSilentInstall) {
    State clean;
    {
        sim::Machine run;
        Prepare(run);
        Install();
        // The earlier input method was loaded: moved aside, it asks for a restart.
        ASSERT_EQ(rc, kExitRestartNeeded);
        ASSERT_TRUE(run.boxes.empty()) << run.BoxTexts()[0];
        clean = Take(run);
    }
    long points = 0;
    for (const FaultClass& fault :
         {FaultClass{false, ""}, FaultClass{true, ""}, FaultClass{false, "CopyFileA"}, FaultClass{true, "_lwrite"}}) {
        points += 1 + SweepFaults(
            [&](sim::Machine& run) { Prepare(run); }, [](sim::Machine&) { return 0; }, [&] { Install(); },
            [&](sim::Machine& run, int, bool last) {
                EXPECT_TRUE(rc == kExitOk || rc == kExitRestartNeeded || rc == kExitStepFailed ||
                            rc == kExitImeLocked || rc == kExitNoPayload || rc == kExitNotAdministrator)
                    << "exit " << rc;
                ExpectWhole(run);
                std::string missing = Missing(clean, Take(run), run);
                if (rc == kExitOk || rc == kExitRestartNeeded) {
                    EXPECT_EQ(missing, "") << "exit " << rc;
                }
                if (last) {
                    EXPECT_EQ(rc, kExitRestartNeeded);
                }
            },
            fault);
    }
    RecordProperty("failure_points", (int)points);
    printf("whole-install sweep, silent: %ld failure points\n", points);
    sim::Use(&m);
}

TEST_F(InstallSweepTest, EveryFailurePointOfTheWalkThroughTheWindow) {
    {
        sim::Machine run;
        Prepare(run);
        Walk(run);
        ASSERT_TRUE(run.gui.quitPosted);
        ASSERT_TRUE(run.Exists("C:\\windows\\system32\\vornhu4.ime"));
    }
    long points = 0;
    for (const FaultClass& fault : {FaultClass{false, ""}, FaultClass{true, ""}, FaultClass{false, "GlobalAlloc"}}) {
        sim::Machine* current = nullptr;
        points += 1 + SweepFaults([&](sim::Machine& run) { Prepare(run), current = &run; },
                                  [](sim::Machine&) { return 0; }, [&] { Walk(*current); },
                                  [&](sim::Machine& run, int, bool last) {
                                      EXPECT_EQ(rc, 0);
                                      ExpectUserDataKept(run);
                                      if (last) {
                                          EXPECT_TRUE(run.gui.quitPosted);
                                      }
                                  },
                                  fault);
    }
    printf("whole-install sweep, window: %ld failure points\n", points);
    sim::Use(&m);
}
