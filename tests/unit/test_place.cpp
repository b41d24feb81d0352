// Placement of the program files on 64-bit, 32-bit and XP systems, the
// version-text patch and the copy with its retry.
#include <algorithm>
#include <set>

#include "archive_builder.h"
#include "payload/payload.h"
#include "sim_fixture.h"

using testvoz::Member;

namespace {
const char* kDir = "C:\\Program Files\\vornhu\\";
const char* kSys = "C:\\windows\\system32\\";
const char* kWow = "C:\\windows\\syswow64\\";

std::string At(const std::string& name) { return std::string(kDir) + name; }
std::string Sys(const std::string& name) { return std::string(kSys) + name; }
std::string Wow(const std::string& name) { return std::string(kWow) + name; }

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

// A member's bytes with its version text made 7.7.
std::string Patched(const std::string& data) {
    std::string v77 = testvoz::VersionText("  7.7");
    return Replace(Replace(data, testvoz::VersionText("  6.3"), v77), testvoz::VersionText("  6.7"), v77);
}

std::string CopyFailed(const std::string& target) {
    return "没有成功复制" + target + "文件，请退出安装程序并手动删除该文件后重新安装！";
}
}  // namespace

class PlaceTest : public SimTest {
   protected:
    std::vector<Member> members = testvoz::SampleMembers();

    void SetUp() override {
        SimTest::SetUp();
        CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), kDir);
    }
    void TearDown() override { ClosePayload(); }

    std::string Data(const std::string& name) {
        for (const Member& mb : members)
            if (mb.name == name) return mb.data;
        ADD_FAILURE() << "no member " << name;
        return std::string();
    }
    // Packs the members, opens the payload and takes the machine's version
    // and code page as start-up would.
    void Start() { Start(m); }
    void Start(sim::Machine& on) {
        on.resources.clear();
        on.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build(members))});
        g_ctx.oemCodePage = GetOEMCP();
        Is64BitWindows();
        ASSERT_TRUE(OpenPayload());
    }
    void BothPasses() {
        PlaceProgramFiles(kPlaceUnpack);
        PlaceProgramFiles(kPlaceReplace);
    }
};

TEST_F(PlaceTest, Windows7x64PlacesStubsThenTheFullInputMethods) {
    Start();
    PlaceProgramFiles(kPlaceUnpack);
    EXPECT_TRUE(m.boxes.empty());
    // The 64-bit stub in the real system32, the 32-bit one in SysWOW64.
    EXPECT_EQ(m.Read(Sys("vornhu4.ime")), Patched(Data("vorn640.ime")));
    EXPECT_EQ(m.Read(Wow("vornhu4.ime")), Patched(Data("vorn320.ime")));
    EXPECT_NE(Patched(Data("vorn640.ime")), Data("vorn640.ime"));
    EXPECT_EQ(m.Read(Sys("vorndel.exe")), Data("voqdel64.exe"));
    EXPECT_FALSE(m.Exists(Wow("vorndel.exe")));
    EXPECT_FALSE(m.redirectionDisabled);
    // The Vista companion under the common name; setupw64.exe patched.
    EXPECT_EQ(m.Read(At("vorntavk.exe")), Data("vorntav6.exe"));
    EXPECT_FALSE(m.Exists(At("vorntav6.exe")));
    EXPECT_EQ(m.Read(At("setupw64.exe")), Patched(Data("setupw64.exe")));
    EXPECT_EQ(m.Read(At("vornhu32.ime")), Data("vornhu4.ime"));
    EXPECT_EQ(m.Read(At("vorncyzk.dat")), testvoz::Trailed(Data("vorncyzk.bak")));
    EXPECT_EQ(m.Read(At("vornpyck.dat")), Data("vornpyck.bak"));

    PlaceProgramFiles(kPlaceReplace);
    EXPECT_TRUE(m.boxes.empty());
    EXPECT_EQ(m.Read(Sys("vornhu4.ime")), Data("vornhu64.ime"));
    EXPECT_EQ(m.Read(Wow("vornhu4.ime")), Data("vornhu4.ime"));
    for (const char* stub : {"vorn320.ime", "vorn321.ime", "vorn640.ime", "vorn641.ime"})
        EXPECT_FALSE(m.Exists(At(stub))) << stub;
    EXPECT_TRUE(m.Exists(At("vornhu32.ime")));
    EXPECT_FALSE(m.redirectionDisabled);
}

TEST_F(PlaceTest, TraditionalChineseSystemsGetTheBig5Stubs) {
    m.oemCodePage = 950;
    Start();
    PlaceProgramFiles(kPlaceUnpack);
    EXPECT_EQ(m.Read(Sys("vornhu4.ime")), Patched(Data("vorn641.ime")));
    EXPECT_EQ(m.Read(Wow("vornhu4.ime")), Patched(Data("vorn321.ime")));
}

TEST_F(PlaceTest, Windows7x86) {
    m.Make32Bit();
    Start();
    PlaceProgramFiles(kPlaceUnpack);
    EXPECT_TRUE(m.boxes.empty());
    EXPECT_EQ(m.Read(Sys("vornhu4.ime")), Patched(Data("vorn320.ime")));
    EXPECT_EQ(m.Read(Sys("vorndel.exe")), Data("vorndel.exe"));
    EXPECT_EQ(m.Read(At("vorntavk.exe")), Data("vorntav6.exe"));
    EXPECT_FALSE(m.Exists(At("vorntav6.exe")));
    PlaceProgramFiles(kPlaceReplace);
    EXPECT_EQ(m.Read(Sys("vornhu4.ime")), Data("vornhu4.ime"));
    EXPECT_FALSE(m.Exists(At("vorn320.ime")));
}

TEST_F(PlaceTest, WindowsXpKeepsItsCompanionAndUsesTheFullInputMethod) {
    m.MakeXP();
    members[8].data = "ime32 for xp";   // vornhu4.ime
    Start();
    PlaceProgramFiles(kPlaceUnpack);
    EXPECT_TRUE(m.boxes.empty());
    EXPECT_EQ(m.Read(Sys("vornhu4.ime")), Patched(Data("vorn320.ime")));
    EXPECT_EQ(m.Read(At("vorntavk.exe")), "companion xp");
    EXPECT_EQ(m.Read(At("vorntav6.exe")), Data("vorntav6.exe"));
    EXPECT_EQ(m.Read(At("setupw64.exe")), Patched(Data("setupw64.exe")));
    PlaceProgramFiles(kPlaceReplace);
    EXPECT_EQ(m.Read(Sys("vornhu4.ime")), "ime32 for xp");
}

TEST_F(PlaceTest, LoadedInputMethodIsMovedAsideWithoutAMessage) {
    m.AddFile(Sys("vornhu4.ime"), "old64");
    m.Entry(Sys("vornhu4.ime"))->loaded = true;
    m.AddFile(Wow("vornhu4.ime"), "old32");
    m.Entry(Wow("vornhu4.ime"))->loaded = true;
    Start();
    PlaceProgramFiles(kPlaceUnpack);
    EXPECT_TRUE(m.boxes.empty());
    EXPECT_EQ(m.Read(Sys("vornhu2.ime")), "old64");
    EXPECT_EQ(m.Read(Sys("vornhu4.ime")), Patched(Data("vorn640.ime")));
    EXPECT_EQ(m.Read(Wow("vornhu2.ime")), "old32");
    EXPECT_EQ(m.Read(Wow("vornhu4.ime")), Patched(Data("vorn320.ime")));
}

// The earlier input method waits under its spare name until the full new
// one is in place: then it goes, unless it is loaded.  A stub takes its place
// only when the full one is there to follow (here its member fails first);
// when that cannot be placed after all, the earlier one comes back over the
// stub, which moves aside if the registration loaded it.  What the user's
// programs do to the installation directory meanwhile never reaches the
// system directory: the earlier input method stays, or the payload's comes.
TEST_F(PlaceTest, EarlierInputMethodStaysUntilTheFullOneIsPlaced) {
    m.AddFile(Sys("vornhu4.ime"), "old64");
    m.Entry(Sys("vornhu4.ime"))->loaded = true;
    m.AddFile(Wow("vornhu4.ime"), "old32");
    Start();
    PlaceProgramFiles(kPlaceUnpack);
    for (const char* name : {"vornhu32.ime", "vorn640.ime", "voqdel64.exe"}) m.AddFile(At(name), "the user's bytes");
    PlaceProgramFiles(kPlaceReplace);
    EXPECT_EQ(m.Read(Sys("vornhu4.ime")), Data("vornhu64.ime"));
    EXPECT_EQ(m.Read(Wow("vornhu4.ime")), Data("vornhu4.ime"));
    EXPECT_EQ(m.Read(Sys("vornhu2.ime")), "old64");
    EXPECT_EQ(m.List("C:\\windows\\syswow64"), (std::vector<std::string>{"vornhu4.ime", "vorntavk.exe"}));
    m.AddFile(Wow("vornhu4.ime"), "old32");
    PlaceProgramFiles(kPlaceUnpack);
    m.AddFile(At("vornhu4.ime"), "the user's bytes");
    PlaceProgramFiles(kPlaceReplace);
    EXPECT_EQ(m.Read(Wow("vornhu4.ime")), "old32");

    for (bool memberFails : {true, false}) {
        ClosePayload();
        sim::Machine failing;
        sim::Use(&failing);
        ResetInstallContext();
        CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), kDir);
        members[9].digest = memberFails ? std::string(32, 'A') : "";  // vornhu64.ime
        failing.AddFile(At("vornhu64.ime"), "stale ime64");
        failing.AddFile(Sys("vornhu4.ime"), "old64");
        Start(failing);
        PlaceProgramFiles(kPlaceUnpack);
        EXPECT_EQ(failing.Read(Sys("vornhu4.ime")), memberFails ? "old64" : Patched(Data("vorn640.ime")));
        if (!memberFails) {
            failing.Entry(Sys("vornhu4.ime"))->loaded = true;  // the stub, loaded by the registration
            failing.AddDir(Sys("vornhu4.ime.new"));            // and no new file can be made beside it
        }
        PlaceProgramFiles(kPlaceReplace);
        EXPECT_EQ(failing.Read(Sys("vornhu4.ime")), "old64");
        EXPECT_EQ(failing.Exists(Sys("vornh12.ime")), !memberFails);
        EXPECT_EQ(failing.Read(Wow("vornhu4.ime")), Data("vornhu4.ime"));
        // A member that did not unpack says so; one that cannot be placed names its target.
        EXPECT_EQ(failing.BoxTexts().back(), memberFails ? "文件解压不完整，请到智能砚舟网站www.vornhu.com.cn重新下载安装。"
                                                         : CopyFailed("C:\\windows\\system32\\vornhu4.ime"));
        // The stub left loaded aside asks for the restart, which deletes it;
        // the next install deletes it too once nothing holds it.
        EXPECT_EQ(g_ctx.restartNeeded, memberFails ? 0 : 1);
        if (!memberFails) {
            EXPECT_EQ(failing.deleteAtRestart, std::vector<std::string>{"C:\\WINDOWS\\SYSTEM32\\VORNH12.IME"});
            failing.Entry(Sys("vornh12.ime"))->loaded = false;
            RecoverSetAsideFiles();
            EXPECT_FALSE(failing.Exists(Sys("vornh12.ime")));
            EXPECT_EQ(failing.Read(Sys("vornhu4.ime")), "old64");
        }
        ClosePayload();
    }
    sim::Use(&m);
}

TEST_F(PlaceTest, TargetsThatCannotBeReplacedAreNamed) {
    m.AddFile(Sys("vornhu4.ime"), "old64");
    m.Entry(Sys("vornhu4.ime"))->loaded = true;
    m.Entry("C:\\windows\\system32")->denyWrites = true;
    Start();
    PlaceProgramFiles(kPlaceUnpack);
    std::vector<std::string> texts = m.BoxTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], CopyFailed("C:\\windows\\system32\\vornhu4.ime"));
    EXPECT_EQ(texts[1], CopyFailed("C:\\windows\\system32\\vorndel.exe"));
    EXPECT_EQ(m.boxes[0].title, "智能砚舟(砚舟五笔)安装");
    EXPECT_EQ(m.Read(Sys("vornhu4.ime")), "old64");
    EXPECT_EQ(g_ctx.reportedFailures, 2);
    // The rest went on.
    EXPECT_EQ(m.Read(Wow("vornhu4.ime")), Patched(Data("vorn320.ime")));
    EXPECT_EQ(m.Read(At("vorntavk.exe")), Data("vorntav6.exe"));
}

TEST_F(PlaceTest, MissingSourceNeverMovesTheTargetAside) {
    m.AddFile("C:\\d\\vornhu4.ime", "working");
    m.Entry("C:\\d\\vornhu4.ime")->loaded = true;
    CopyIntoPlace(At("absent.ime").c_str(), "C:\\d\\vornhu4.ime");
    EXPECT_EQ(m.Read("C:\\d\\vornhu4.ime"), "working");
    EXPECT_FALSE(m.Exists("C:\\d\\vornhu2.ime"));
    ASSERT_EQ(m.BoxTexts().size(), 1u);
    EXPECT_EQ(m.BoxTexts()[0], CopyFailed("C:\\d\\vornhu4.ime"));
}

TEST_F(PlaceTest, KeepQuestionComesOnceAfterACompleteUnpack) {
    Start();
    g_ctx.backupState = kBackupDone;
    CopyText(g_ctx.previousDir, sizeof(g_ctx.previousDir), kDir);
    m.answers.push_back(IDYES);
    BothPasses();
    ASSERT_EQ(m.boxes.size(), 1u);
    EXPECT_EQ(m.boxes[0].flags & 0xF, (UINT)MB_YESNO);
    EXPECT_EQ(g_ctx.backupState, kBackupKeep);
}

TEST_F(PlaceTest, NoKeepQuestionWithoutBackupOrAfterAnIncompleteUnpack) {
    Start();
    BothPasses();
    EXPECT_TRUE(m.boxes.empty());

    // One member fails its digest: the incomplete-unpack message, no question.
    ClosePayload();
    members[1].digest = std::string(32, 'A');
    Start();
    g_ctx.backupState = kBackupDone;
    BothPasses();
    std::vector<std::string> texts = m.BoxTexts();
    // The uninstaller is that member's bytes or nothing: the earlier copy
    // unpacked there is not taken instead.
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "没有成功解压复制voqdel64.exe文件！请重新下载安装。");
    EXPECT_EQ(texts[1], "文件解压不完整，请到智能砚舟网站www.vornhu.com.cn重新下载安装。");
    EXPECT_EQ(texts[2], CopyFailed("C:\\windows\\system32\\vorndel.exe"));
    EXPECT_EQ(m.boxes[1].title, "智能砚舟(砚舟五笔)安装");
    EXPECT_EQ(g_ctx.backupState, kBackupDone);
}

// ---- the version text -----------------------------------------------------------

TEST_F(PlaceTest, PatchVersionText) {
    auto patch = [&](std::string data) {
        PatchVersionText((BYTE*)&data[0], (DWORD)data.size());
        return data;
    };
    std::string v63 = testvoz::VersionText("  6.3"), v67 = testvoz::VersionText("  6.7");
    std::string v77 = testvoz::VersionText("  7.7"), v65 = testvoz::VersionText("  6.5");
    EXPECT_EQ(patch("head" + v63 + "mid" + v67 + "tail"), "head" + v77 + "mid" + v77 + "tail");
    EXPECT_EQ(patch(v77 + "x"), v77 + "x");
    EXPECT_EQ(patch(v65 + "x"), v65 + "x");
    // 200,000 bytes: left as it is; exactly 131,072 bytes: patched up to its last byte.
    std::string big = v63 + std::string(200000 - v63.size(), 'b');
    EXPECT_EQ(patch(big), big);
    std::string fill(131072 - v63.size(), 'e');
    EXPECT_EQ(patch(fill + v63), fill + v77);
    // Version text cut by the end of the data: nothing read past it.
    std::string cut = "x" + v63.substr(0, v63.size() - 2) + "3";
    EXPECT_EQ(patch(cut.substr(0, cut.size() - 1)), cut.substr(0, cut.size() - 1));
}

// ---- faults --------------------------------------------------------------------

// Any single failing call during both passes: no crash, redirection back on,
// no file outside the installation and system directories, no block left
// allocated, and the full input methods in place unless a message said why
// or a failure was counted for the exit code.
TEST_F(PlaceTest, FaultSweep) {
    std::string payload = testvoz::Build(members);
    long total = SweepFaults(
        [&](sim::Machine& fm) {
            ResetInstallContext();
            CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), kDir);
            fm.AddFile(Sys("vornhu4.ime"), "old64");
            fm.Entry(Sys("vornhu4.ime"))->loaded = true;
            fm.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(payload)});
            g_ctx.oemCodePage = 936;
            Is64BitWindows();
            ASSERT_TRUE(OpenPayload());
        },
        [](sim::Machine& fm) {
            std::set<std::string> before;
            for (const auto& kv : fm.files) before.insert(kv.first);
            return before;
        },
        [] {
            PlaceProgramFiles(kPlaceUnpack);
            PlaceProgramFiles(kPlaceReplace);
        },
        [&](sim::Machine& fm, const std::set<std::string>& before, bool last) {
            EXPECT_FALSE(fm.redirectionDisabled);
            for (const auto& kv : fm.files) {
                if (before.count(kv.first)) continue;
                bool allowed = kv.first.compare(0, 23, "C:\\PROGRAM FILES\\VORNHU") == 0 ||
                               kv.first.compare(0, 20, "C:\\WINDOWS\\SYSTEM32\\") == 0 ||
                               kv.first.compare(0, 20, "C:\\WINDOWS\\SYSWOW64\\") == 0;
                EXPECT_TRUE(allowed) << kv.first;
            }
            // A failing CreateFileA can only be the probe of SysWOW64: the pass
            // then takes the machine for 32-bit, as every caller of that check would.
            if (fm.boxes.empty() && g_ctx.quietFailures == 0 && fm.failedCall != "CreateFileA") {
                EXPECT_EQ(fm.Read(Sys("vornhu4.ime")), Data("vornhu64.ime"));
                EXPECT_EQ(fm.Read(Wow("vornhu4.ime")), Data("vornhu4.ime"));
            }
            ClosePayload();
            EXPECT_EQ(fm.liveAllocations, 0u);
            if (last) {
                EXPECT_TRUE(fm.boxes.empty());
            }
        });
    EXPECT_GT(total, 100);
    sim::Use(&m);
    ResetInstallContext();
}

// A system directory that cannot be had (here: longer than its buffer)
// leaves nowhere to put the input method: that is reported like a failed
// copy, not skipped in silence.
TEST_F(PlaceTest, NoSystemDirectoryIsReportedLikeAFailedCopy) {
    m.Make32Bit();
    m.systemDirName = std::string(200, 's');
    m.AddDir(m.SystemDir());
    Start();
    BothPasses();
    std::vector<std::string> boxes = m.BoxTexts();
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), CopyFailed("\\vornhu4.ime")), 2) << boxes.size();
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), CopyFailed("\\vorndel.exe")), 1);
    EXPECT_GE(g_ctx.reportedFailures, 3);
}
