// The whole install over a working earlier installation, silent and through
// the window, once per failure point of every file, registry, memory, window
// and process call: once, from that call on (a full disk), and counting only
// the calls of one name.  Each run ends; the silent exit code is not 0 (nor
// 3010) unless everything an undisturbed install leaves is in place; and
// whatever failed, the machine keeps a working input method: each system
// directory holds the earlier one or the full new one, whole, and the layout
// entry names it; no file is left cut; every earlier program file is as it
// was or its whole new version; the user's own files and backup stay whole;
// nothing stays allocated or open.
//
// After every failure point a new process installs again, undisturbed,
// through the same mode and through the other one: it ends well, leaves
// what an undisturbed install leaves and no spare file, and every user file
// as it was before the first run (or in an archive a silent re-run kept).
#include <array>
#include <map>
#include <string_view>

#include "archive_builder.h"
#include "payload/voz.h"
#include "registry_snapshot.h"
#include "sim_fixture.h"
#include "ui/setupwin.h"

namespace {
const std::string kDir = "C:\\Program Files\\vornhu\\";
const std::string kSys = "C:\\windows\\system32\\";
const std::string kWow = "C:\\windows\\syswow64\\";
const std::string kLayouts = "System\\CurrentControlSet\\Control\\Keyboard Layouts";
const std::string kRecord = "C:\\windows\\vornpath.voh";

// The earlier installation's program files, as its own install left them
// (copies equal to their sources).
const std::map<std::string, std::string> kEarlierFiles = {
    {"vornhu4.ime", "earlier ime32"},     {"vornhu32.ime", "earlier ime32"},   {"vornhu64.ime", "earlier ime64"},
    {"vorntavk.exe", "earlier companion"}, {"setupw64.exe", "earlier setupw64"}, {"vorndel.exe", "earlier vorndel"},
    {"voqdel64.exe", "earlier voqdel64"}, {"vorncyzk.dat", "earlier phrases"}, {"vornpyck.bak", "earlier pinyin"},
    {"vornpyck.dat", "earlier pinyin"},   {"wbpybz.voh", "VOWBPYBZ=0"},       {"vonetsj.dat", "VONETURL2=old\r\n"},
};

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

// A layout text of this input method (of this version, `current`), written
// narrow or wide.
bool IsOurLayoutText(const std::string& value, bool current = false) {
    const std::string text = current ? "智能砚舟输入平台  7.7" : "智能砚舟输入平台";
    const std::u16string wide = current ? u"智能砚舟输入平台  7.7" : u"智能砚舟输入平台";
    const std::string wideBytes((const char*)wide.data(), wide.size() * 2);
    return value.compare(0, text.size(), text) == 0 || value.compare(0, wideBytes.size(), wideBytes) == 0;
}

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
    {"cwb.ov1", "cwb.ov1"},
};

std::string UserBytes(const char* file) {
    return std::string(file) == "voszsj43.voh" ? std::string(200, '\x05') : std::string("mine: ") + file;
}

// The user's files, the names they come back under, and their archive: a
// re-run after a failure may rightly leave them otherwise than an
// undisturbed install (judged by UserDataProblem).
bool IsUserData(const std::string& folded) {
    for (const auto& u : kUserFiles)
        if (folded == sim::FoldGbk(kDir + u.file, false) || folded == sim::FoldGbk(kDir + u.member, false)) return true;
    return EndsWith(folded, "\\VORNBACK.VOZ");
}

// What an undisturbed install leaves that `after` lacks or holds otherwise
// (the first such file, key or value); "" when it has all of it.  Leftovers
// do not count (a stub not deleted, the old input method moved aside under
// the other spare name), nor which Keyboard Layouts key holds the entry,
// as long as one does.
std::string Missing(const State& clean, const State& after, sim::Machine& run, bool userData = true) {
    for (const auto& kv : clean.files) {
        if (EndsWith(kv.first, "\\VORNHU2.IME") || EndsWith(kv.first, "\\VORNH12.IME") || EndsWith(kv.first, ".OLD") ||
            EndsWith(kv.first, ".OLD2") || (!userData && IsUserData(kv.first)))
            continue;
        auto it = after.files.find(kv.first);
        if (it == after.files.end() || it->second != kv.second) return "file " + kv.first;
    }
    const std::string layouts = "HKLM\\" + kLayouts + "\\";
    for (const auto& kv : clean.registry) {
        if (kv.first.compare(0, layouts.size(), layouts) == 0) continue;
        auto it = after.registry.find(kv.first);
        if (it == after.registry.end() || it->second != kv.second) return "registry " + kv.first;
    }
    for (const std::string& key : run.Subkeys(HKEY_LOCAL_MACHINE, kLayouts))
        if (IsOurLayoutText(run.GetValue(HKEY_LOCAL_MACHINE, kLayouts + "\\" + key, "layout text"), true))
            return std::string();
    return "a Keyboard Layouts entry with this input method's text";
}

std::string Member(const std::string& name) {
    for (const testvoz::Member& m : testvoz::SampleMembers())
        if (m.name == name) return m.data;
    return std::string();
}

// A working input method: in both system directories the earlier bytes or
// the full new ones, whole, and every layout entry of this input method
// names that file.  "" when so.  `stuck`: every call from some point on
// failed, so nothing could be moved back; the earlier input method, whole
// under its spare name, is all that can be asked then.
std::string ImeProblem(sim::Machine& run, bool stuck) {
    const struct {
        std::string dir, earlier, fresh;
    } kImes[] = {{kSys, "earlier ime64", Member("vornhu64.ime")}, {kWow, "earlier ime32", Member("vornhu4.ime")}};
    for (const auto& ime : kImes) {
        const sim::FileEntry* e = run.Entry(ime.dir + "vornhu4.ime");
        std::string bytes = e ? sim::ToString(e->data) : "";
        if (e && !e->cut && (bytes == ime.earlier || bytes == ime.fresh)) continue;
        bool aside = run.Read(ime.dir + "vornhu2.ime") == ime.earlier || run.Read(ime.dir + "vornh12.ime") == ime.earlier;
        if (!(stuck && aside && !(e && e->cut))) return ime.dir + "vornhu4.ime holds \"" + bytes.substr(0, 16) + "\"";
    }
    for (const std::string& key : run.Subkeys(HKEY_LOCAL_MACHINE, kLayouts)) {
        if (!IsOurLayoutText(run.GetValue(HKEY_LOCAL_MACHINE, kLayouts + "\\" + key, "layout text"))) continue;
        std::string file;
        for (char c : run.GetValue(HKEY_LOCAL_MACHINE, kLayouts + "\\" + key, "Ime File"))
            if (c) file += (char)toupper((unsigned char)c);  // narrow or UTF-16: the name is ASCII
        if (file != "VORNHU4.IME") return "layout " + key + " names \"" + file + "\"";
    }
    return std::string();
}

// A spare file a run left: an unfinished new version, a file set aside, the
// rights probe; one Windows still holds goes at the restart.  "" when none.
std::string SpareLeft(const sim::Machine& run) {
    for (const auto& kv : run.files)
        if (!kv.second.loaded && !kv.second.locked &&
            (EndsWith(kv.first, ".NEW") || EndsWith(kv.first, ".OLD") || EndsWith(kv.first, ".OLD2") ||
             EndsWith(kv.first, "\\VORNHU2.IME") || EndsWith(kv.first, "\\VORNH12.IME") ||
             EndsWith(kv.first, "\\VORNPROBE.VOH")))
            return kv.first;
    return std::string();
}

// What a new process on the machine can see: every file (its bytes by
// hash, its attributes and the ways it is held), the registry, the loaded
// layouts and the clock.
std::string MachineKey(const sim::Machine& run) {
    std::string key = std::to_string(run.tickCount);
    for (const auto& layout : run.keyboardLayouts) key += "|" + layout.name;
    for (const auto& kv : run.files) {
        const sim::FileEntry& e = kv.second;
        std::string_view bytes((const char*)e.data.data(), e.data.size());
        int held =
            e.dir | e.loaded << 1 | e.locked << 2 | e.unreadable << 3 | e.noAccess << 4 | e.denyWrites << 5 | e.cut << 6;
        key += "|" + kv.first + ":" + std::to_string(std::hash<std::string_view>()(bytes)) + ":" +
               std::to_string(e.data.size()) + ":" + std::to_string(e.attributes) + ":" + std::to_string(held);
    }
    for (const auto& kv : regsnap::Take(run)) key += "|" + kv.first + "=" + kv.second;
    return key;
}

// A file left cut; a spare whose removal failed too (every call failing)
// does not count: nothing reads it, and the next run deletes it first; nor
// does the registration program cut in the directory made for it, which is
// never started.
std::string CutFile(const sim::Machine& run) {
    for (const auto& kv : run.files)
        if (kv.second.cut && !EndsWith(kv.first, ".NEW") && kv.first.find("\\VORNSETUP.") == std::string::npos)
            return kv.first;
    return std::string();
}

// Whether `path` holds `bytes`, or, when every call from some point on
// failed (`stuck`), it is missing and the earlier `bytes` wait whole under
// its spare name for the next install.
bool WholeOrWaiting(sim::Machine& run, const std::string& path, const std::string& bytes, bool stuck) {
    const sim::FileEntry* e = run.Entry(path);
    if (e) return !e->cut && sim::ToString(e->data) == bytes;
    return stuck && (run.Read(path + ".old") == bytes || run.Read(path + ".old2") == bytes);
}

// Every earlier program file as it was, or whole in its new version: the
// undisturbed install's bytes, the shipped bytes of setupw64.exe when only
// its version-text patch failed, a whole copy of whatever its source holds
// now (a source whose member failed keeps its earlier bytes), a network
// settings text written whole with whatever address the options page had.
std::string ProgramProblem(sim::Machine& run, const State& clean, bool stuck) {
    for (const auto& kv : kEarlierFiles) {
        const sim::FileEntry* e = run.Entry(kDir + kv.first);
        if (!e && WholeOrWaiting(run, kDir + kv.first, kv.second, stuck)) continue;
        if (!e) return kv.first + " lost";
        std::string bytes = sim::ToString(e->data);
        auto fresh = clean.files.find(run.Resolve(kDir + kv.first));
        bool settings = kv.first == "vonetsj.dat" && bytes.compare(0, 22, "VONETURL1=\r\nVONETURL2=") == 0 &&
                        EndsWith(bytes, "VONEONE=1\r\n");
        static const std::map<std::string, std::string> kCopies = {
            {"vornhu32.ime", "vornhu4.ime"}, {"vorncyzk.dat", "vorncyzk.bak"}, {"vornpyck.dat", "vornpyck.bak"}};
        auto copy = kCopies.find(kv.first);
        bool whole = bytes == kv.second || (fresh != clean.files.end() && bytes == fresh->second) ||
                     (kv.first == "setupw64.exe" && bytes == Member(kv.first)) || settings ||
                     (copy != kCopies.end() && bytes == run.Read(kDir + copy->second));
        if (e->cut || !whole) return kv.first + " holds \"" + bytes.substr(0, 40) + "\"";
    }
    return std::string();
}

// The runs of one sweep, counted by what they left.
struct Tally {
    long runs = 0, clean = 0, noIme = 0, aside = 0, cut = 0, unusable = 0, dataLost = 0, spares = 0;
    long sameClean = 0, otherClean = 0, reRuns = 0;
    void Print(const char* mode) const {
        printf("whole-install sweep, %s: %ld runs, %ld completed cleanly, %ld without a working input method "
               "(%ld of them with the earlier one whole under its spare name, every call failing), %ld with files "
               "left cut, %ld with the earlier program directory unusable, %ld with user data lost, %ld with spare "
               "files left; re-run clean (no spare file left either): %ld through the same mode, %ld through the "
               "other (%ld machines re-run, shared by the failure points that left them)\n",
               mode, runs, clean, noIme, aside, cut, unusable, dataLost, spares, sameClean, otherClean, reRuns);
    }
};
}  // namespace

class InstallSweepTest : public SimTest {
   protected:
    // The sample payload, which also ships an optional user file and a
    // ".voh" the backup packs as ".bak".
    std::string payload = testvoz::Build([] {
        auto members = testvoz::SampleMembers();
        members.push_back({"cwb.ov1", "shipped cwb", ""});
        members.push_back({"cfontset.voh", "shipped fonts", ""});
        return members;
    }());
    std::string backup = testvoz::Build({{"vorncyzk.bak", testvoz::PhraseList(20), ""}});
    int rc = -1;
    State clean[2];  // what an undisturbed install leaves: silent, window
    std::vector<std::string> cleanBoxes[2];  // and the messages it shows
    // Whether the re-runs from one machine were clean: same mode, other mode.
    std::map<std::string, std::array<bool, 2>> reRunsOf;

    // A 64-bit Windows 7 with drive D: and a working earlier installation:
    // its record, its layout (with its file) in the preload list, its input
    // method in both system directories (loaded in system32), its program
    // files, the user's own word list and backup archive.
    void Prepare(sim::Machine& run) {
        NewProcess(run);
        run.driveTypes['D'] = DRIVE_FIXED;
        run.AddDir("D:\\");
        run.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(payload)});
        run.AddFile("C:\\windows\\vornpath.voh", kDir);
        for (const auto& u : kUserFiles) run.AddFile(kDir + u.file, UserBytes(u.file));
        for (const auto& kv : kEarlierFiles) run.AddFile(kDir + kv.first, kv.second);
        run.AddFile(kDir + "vornback.voz", backup);
        run.SetString(HKEY_CURRENT_USER, "keyboard layout\\preload", "2", "E0200804");
        run.SetString(HKEY_LOCAL_MACHINE, kLayouts + "\\E0200804", "Ime File", "VORNHU4.IME");
        run.SetString(HKEY_LOCAL_MACHINE, kLayouts + "\\E0200804", "Layout File", "kbdus.dll");
        run.SetString(HKEY_LOCAL_MACHINE, kLayouts + "\\E0200804", "layout text", "智能砚舟输入平台  6.3");
        run.AddFile(kSys + "vornhu4.ime", "earlier ime64");
        run.Entry(kSys + "vornhu4.ime")->loaded = true;
        run.AddFile(kWow + "vornhu4.ime", "earlier ime32");
        run.AddFile(kSys + "vorndel.exe", "earlier uninstaller");
        // Held by running programs: each can be renamed, not replaced, and
        // must be moved aside for its new version.
        for (const std::string& held : {kSys + "vorndel.exe", kDir + "vonetsj.dat", kRecord})
            run.Entry(held)->loaded = true;
    }
    void Install() { rc = SetupMain(nullptr, "setvosrf32", SW_SHOW); }
    void First(sim::Machine& run, bool window) { window ? Walk(run) : Install(); }
    // The product's process ends and a new one starts on the machine.
    void NewProcess(sim::Machine& run) {
        run.EndProcess();
        run.environment.clear();  // the product's own settings went with it
        ResetInstallContext();
        memset(&g_preload, 0, sizeof(g_preload));
        memset(&g_orgAddress, 0, sizeof(g_orgAddress));
        memset(&g_survey, 0, sizeof(g_survey));
        memset(&g_win, 0, sizeof(g_win));
        g_installedLayout = nullptr;
    }
    // What an undisturbed install leaves, through either mode.
    void Undisturbed() {
        for (bool window : {false, true}) {
            sim::Machine run;
            Prepare(run);
            First(run, window);
            ASSERT_EQ(ImeProblem(run, false), "");
            clean[window] = Take(run);
            cleanBoxes[window] = run.BoxTexts();
        }
    }

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
    // The silent install makes no backup: the user's word list (no payload
    // member has its name) and the earlier backup stay as they were.
    std::string SilentDataProblem(sim::Machine& run) {
        if (run.Read(kDir + "userck.txt") != UserBytes("userck.txt")) return "userck.txt";
        return run.Read(kDir + "vornback.voz") == backup ? "" : "vornback.voz";
    }
    // Each user file as it was before the first run: in place (rows 1 to 7
    // come back beside their ".voh" as ".bak"), or, when `archived`, whole
    // in the backup archive.  A silent install (`silentRan`) replaces the
    // files the payload ships that no archive holds, as it must.
    std::string UserDataProblem(sim::Machine& run, bool silentRan, bool archived) {
        std::string archive = run.Read(kDir + "vornback.voz");
        std::vector<unsigned char> out(1 << 16);
        for (const auto& u : kUserFiles) {
            std::string want = UserBytes(u.file);
            if (run.Read(kDir + u.file) == want || run.Read(kDir + u.member) == want) continue;
            if (silentRan && FindMember((const unsigned char*)payload.data(), payload.size(), u.file, out.data(),
                                          out.size()) != 0)
                continue;
            size_t n = archived ? FindMember((const unsigned char*)archive.data(), archive.size(), u.member,
                                             out.data(), out.size())
                                : 0;
            if (std::string((const char*)out.data(), n) != want) return std::string(u.file) + " lost";
        }
        return std::string();
    }
    // A new process installs again, undisturbed, through the same mode on
    // the machine the run at failure point `n` left, and through the other
    // on that failure replayed.  Failure points that leave the same machine
    // share their re-runs: a new process sees nothing else.
    void ReRuns(sim::Machine& run, bool window, const FaultClass& fault, long n, Tally* tally) {
        tally->spares += !SpareLeft(run).empty();
        std::string key = MachineKey(run);
        auto known = reRunsOf.find(key);
        if (known == reRunsOf.end()) {
            std::array<bool, 2> ended{};
            ended[0] = ReRun(run, window, window);
            sim::Machine again;
            Prepare(again);
            again.failOnly = fault.only;
            again.failOnward = fault.onward;
            again.failAt = n;
            First(again, window);
            ClosePayload();
            ended[1] = ReRun(again, window, !window);
            sim::Use(&run);
            known = reRunsOf.emplace(key, ended).first;
            tally->reRuns++;
        }
        tally->sameClean += known->second[0];
        tally->otherClean += known->second[1];
    }
    // True when the re-run was clean.
    bool ReRun(sim::Machine& run, bool firstWindow, bool window) {
        const std::string archive = run.Read(kDir + "vornback.voz");
        const size_t shown = run.boxes.size();
        NewProcess(run);
        First(run, window);
        std::string problem = window ? (run.gui.quitPosted ? "" : "the walk did not end")
                                     : (rc == kExitOk || rc == kExitRestartNeeded ? "" : "exit " + std::to_string(rc));
        // The sample payload is far from the 74 files the report asks for:
        // an undisturbed walk ends with the report too.
        std::vector<std::string> boxes = run.BoxTexts();
        boxes.erase(boxes.begin(), boxes.begin() + shown);
        if (problem.empty() && boxes != cleanBoxes[window]) problem = "other messages than an undisturbed run's";
        if (problem.empty()) problem = Missing(clean[window], Take(run), run, false);
        if (problem.empty()) problem = SpareLeft(run);
        if (problem.empty() && !window && run.Read(kDir + "vornback.voz") != archive) problem = "vornback.voz replaced";
        if (problem.empty()) problem = UserDataProblem(run, !firstWindow || !window, !window);
        EXPECT_EQ(problem, "") << (window ? "window" : "silent") << " re-run after the "
                               << (firstWindow ? "walk" : "silent install");
        return problem.empty();
    }
    void ExpectReleased(sim::Machine& run) {
        EXPECT_EQ(run.liveAllocations, 0u);
        EXPECT_EQ(run.OpenKeyCount(), 0u);
        EXPECT_FALSE(run.redirectionDisabled);
    }
    // The invariants every run is held to, whatever failed; counted too.
    void Judge(sim::Machine& run, const FaultClass& fault, const State& clean, const std::string& dataProblem,
               Tally* tally) {
        bool stuck = fault.onward && fault.only.empty();
        std::string ime = ImeProblem(run, stuck), cut = CutFile(run), program = ProgramProblem(run, clean, stuck);
        EXPECT_EQ(ime, "") << "no working input method";
        EXPECT_EQ(cut, "") << "file left cut";
        EXPECT_EQ(program, "") << "earlier program directory";
        EXPECT_EQ(dataProblem, "") << "user data";
        // The rights probe never reaches the record, nor cuts it; the record
        // and the uninstaller, held, are never left missing.
        EXPECT_TRUE(WholeOrWaiting(run, kRecord, kDir, stuck)) << run.Read(kRecord);
        EXPECT_TRUE(WholeOrWaiting(run, kSys + "vorndel.exe", "earlier uninstaller", stuck) ||
                    WholeOrWaiting(run, kSys + "vorndel.exe", Member("voqdel64.exe"), false));
        ExpectReleased(run);
        bool working = ImeProblem(run, false).empty();
        tally->runs++;
        tally->clean += Missing(clean, Take(run), run).empty();
        tally->noIme += !working;
        tally->aside += !working && ime.empty();
        tally->cut += !cut.empty();
        tally->unusable += !program.empty();
        tally->dataLost += !dataProblem.empty();
    }
};

TEST_F(InstallSweepTest, EveryFailurePointOfTheSilentInstall) {
    {
        sim::Machine run;
        Prepare(run);
        Install();
        // The earlier input method was loaded: moved aside, it asks for a restart.
        ASSERT_EQ(rc, kExitRestartNeeded);
        ASSERT_TRUE(run.boxes.empty()) << run.BoxTexts()[0];
        ASSERT_EQ(run.Read(kSys + "vornhu4.ime"), Member("vornhu64.ime"));
    }
    Undisturbed();
    Tally tally;
    for (const FaultClass& fault :
         {FaultClass{false, ""}, FaultClass{true, ""}, FaultClass{false, "CopyFileA"}, FaultClass{true, "_lwrite"}}) {
        SweepFaults(
            [&](sim::Machine& run) { Prepare(run); }, [](sim::Machine&) { return 0; }, [&] { Install(); },
            [&](sim::Machine& run, int, bool last) {
                EXPECT_TRUE(rc == kExitOk || rc == kExitRestartNeeded || rc == kExitStepFailed ||
                            rc == kExitImeLocked || rc == kExitNoPayload || rc == kExitNotAdministrator)
                    << "exit " << rc;
                Judge(run, fault, clean[0], SilentDataProblem(run), &tally);
                if (rc == kExitOk || rc == kExitRestartNeeded) {
                    EXPECT_EQ(Missing(clean[0], Take(run), run), "") << "exit " << rc;
                }
                if (last) {
                    EXPECT_EQ(rc, kExitRestartNeeded);
                }
                ReRuns(run, false, fault, run.failAt, &tally);
            },
            fault);
    }
    RecordProperty("failure_points", (int)tally.runs);
    tally.Print("silent");
    sim::Use(&m);
}

TEST_F(InstallSweepTest, EveryFailurePointOfTheWalkThroughTheWindow) {
    Undisturbed();
    Tally tally;
    for (const FaultClass& fault : {FaultClass{false, ""}, FaultClass{true, ""}, FaultClass{false, "GlobalAlloc"}}) {
        sim::Machine* current = nullptr;
        SweepFaults([&](sim::Machine& run) { Prepare(run), current = &run; }, [](sim::Machine&) { return 0; },
                    [&] { Walk(*current); },
                    [&](sim::Machine& run, int, bool last) {
                        EXPECT_EQ(rc, 0);
                        Judge(run, fault, clean[1], UserDataProblem(run, false, true), &tally);
                        if (last) {
                            EXPECT_TRUE(run.gui.quitPosted);
                        }
                        ReRuns(run, true, fault, run.failAt, &tally);
                    },
                    fault);
    }
    tally.Print("window");
    sim::Use(&m);
}

// A program of the user watches the installation directory, which the
// install gives him, and puts his own bytes in place of every program there,
// at any moment of the install.  None of them reaches a system directory,
// and nothing of his is started.
TEST_F(InstallSweepTest, NoUserByteReachesASystemDirectoryOrRuns) {
    long total = 0;
    {
        sim::Machine probe;
        Prepare(probe);
        probe.callCount = 0;
        Install();
        total = probe.callCount;
        ClosePayload();
    }
    auto replacePrograms = [](sim::Machine& mm) {
        for (const std::string& name : mm.List(kDir)) {
            std::string ext = name.size() > 4 ? name.substr(name.size() - 4) : "";
            if ((ext == ".exe" || ext == ".ime" || ext == ".dll") && !mm.Entry(kDir + name)->loaded)
                mm.AddFile(kDir + name, "user's " + name);
        }
    };
    for (long n = 1; n <= total; n++) {
        sim::Machine run;
        Prepare(run);
        run.callCount = 0;
        run.actAt = n;
        run.act = replacePrograms;
        Install();
        SCOPED_TRACE("the user's programs in place before call " + std::to_string(n));
        EXPECT_TRUE(run.act == nullptr);
        for (const std::string& dir : {kSys, kWow})
            for (const std::string& name : run.List(dir)) {
                EXPECT_EQ(run.Read(dir + name).find("user's"), std::string::npos) << dir + name;
            }
        for (const sim::Process& p : run.processes) {
            EXPECT_EQ(sim::ToString(p.image).find("user's"), std::string::npos) << p.application;
            EXPECT_EQ(p.application.find(kDir), std::string::npos) << p.application;
        }
        for (const std::string& command : run.winExecs) {
            EXPECT_EQ(command.find(kDir + "icacls"), std::string::npos) << command;
        }
        ClosePayload();
    }
    sim::Use(&m);
}

// The walk stops dead while the keep question is on the screen (a power
// cut: nothing reaches the disk any more).  The user installs silently, uses
// the input method, which changes a file the walk had unpacked, and later
// walks through the window again and answers Yes: every file is his again,
// the changed one as he changed it, and the archive no longer waits.
TEST_F(InstallSweepTest, AWalkCutShortASilentInstallAndAWalkLoseNothing) {
    sim::Machine run;
    Prepare(run);
    run.gui.duringMessageBox = [&] {
        if (run.boxes.back().flags == (UINT)MB_YESNO) run.failAt = run.callCount + 1, run.failOnward = true;
    };
    Walk(run);
    ASSERT_TRUE(run.Exists(kDir + "vornback.sum"));
    run.gui.duringMessageBox = nullptr;
    NewProcess(run);
    Install();
    EXPECT_EQ(rc, kExitRestartNeeded);
    run.AddFile(kDir + "vornzdym.voh", "words learnt since");
    NewProcess(run);
    Walk(run);
    for (const auto& u : kUserFiles) {
        std::string want = std::string(u.file) == "vornzdym.voh" ? "words learnt since" : UserBytes(u.file);
        EXPECT_TRUE(run.Read(kDir + u.file) == want || run.Read(kDir + u.member) == want) << u.file;
    }
    EXPECT_FALSE(run.Exists(kDir + "vornback.sum"));
    sim::Use(&m);
}
