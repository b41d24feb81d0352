// Unpacking, verification, the phrase-list trailer, the skin-archive unpack
// and the restore of the user's data.
#include <algorithm>
#include <set>

#include "archive_builder.h"
#include "payload/payload.h"
#include "sim_fixture.h"

using testvoz::Build;
using testvoz::Member;

namespace {
const char* kDir = "C:\\Program Files\\vornhu\\";

std::string At(const std::string& name) { return std::string(kDir) + name; }

std::string Failed(const std::string& name) { return "没有成功解压复制" + name + "文件！请重新下载安装。"; }

// Files of the machine outside the installation directory, with contents.
std::map<std::string, std::string> Outside(const sim::Machine& m) {
    std::map<std::string, std::string> out;
    std::string dir = "C:\\PROGRAM FILES\\VORNHU\\";
    for (const auto& kv : m.files)
        if (kv.first.compare(0, dir.size(), dir) != 0) out[kv.first] = sim::ToString(kv.second.data);
    return out;
}
}  // namespace

class ExtractTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), kDir);
        m.AddDir(kDir);
        m.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(Build({{"x.txt", "x", ""}}))});
        ASSERT_TRUE(OpenPayload());
    }
    void TearDown() override { ClosePayload(); }

    bool Extract(const std::string& archive, size_t offset = 0) {
        return ExtractArchive((const BYTE*)archive.data(), (DWORD)archive.size(), g_ctx.workBuffer + offset);
    }
    std::string failures;
    int Verify(const std::string& archive, const char* exclusions = "", size_t cb = 4096) {
        std::string buf(cb + 1, '\x7f');
        int n = VerifyArchive((const BYTE*)archive.data(), (DWORD)archive.size(), &buf[0], cb, exclusions);
        EXPECT_EQ(buf[cb], '\x7f') << "failure text ran past its buffer";
        failures = buf.c_str();
        return n;
    }
};

TEST_F(ExtractTest, OpenPayloadFindsTheResourceAndRecordsItsSize) {
    // SetUp's OpenPayload: resource language 2052 found, work buffer zeroed.
    ClosePayload();
    EXPECT_EQ(m.liveAllocations, 0u);
    ASSERT_TRUE(OpenPayload());
    EXPECT_EQ(g_ctx.payloadBytes, m.resources[0].data.size());
    EXPECT_EQ(memcmp(g_ctx.payload, m.resources[0].data.data(), g_ctx.payloadBytes), 0);
    EXPECT_EQ(g_ctx.workBuffer[0], 0);
    EXPECT_EQ(g_ctx.workBuffer[kWorkBufferBytes - 1], 0);
    ClosePayload();

    // Another language: found through the neutral lookup.
    m.resources[0].language = 0x409;
    EXPECT_TRUE(OpenPayload());
    ClosePayload();

    // No resource: the work buffer is still there, the extraction finds nothing.
    m.resources.clear();
    EXPECT_FALSE(OpenPayload());
    EXPECT_EQ(g_ctx.payload, nullptr);
    ASSERT_NE(g_ctx.workBuffer, nullptr);
    EXPECT_FALSE(ExtractArchive(g_ctx.payload, g_ctx.payloadBytes, g_ctx.workBuffer));
    EXPECT_TRUE(m.boxes.empty());
}

TEST_F(ExtractTest, UnpacksEveryMemberAndReplacesReadOnlyFiles) {
    m.AddFile(At("cwb.ov1"), "old", FILE_ATTRIBUTE_READONLY);
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); i++) big[i] = (char)(i % 251);
    std::string archive = Build({{"cwb.ov1", "new cwb", ""}, {"big.voh", big, ""}, {"冷色瓷面.voz", "skin", ""}});
    archive += std::string(4, '\0');  // as the resource carries it
    EXPECT_TRUE(Extract(archive));
    EXPECT_EQ(m.Read(At("cwb.ov1")), "new cwb");
    EXPECT_EQ(m.Entry(At("cwb.ov1"))->attributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(m.Read(At("big.voh")), big);
    EXPECT_EQ(m.Read(At("冷色瓷面.voz")), "skin");
    EXPECT_TRUE(m.boxes.empty());
    EXPECT_TRUE(Extract(Build({})));
}

TEST_F(ExtractTest, LowerCaseOrMissingDigestsFailEveryMember) {
    Member a{"a.txt", "aaa", testvoz::Lower(testvoz::Md5Hex("aaa"))};
    Member b{"b.txt", "bbb", testvoz::Lower(testvoz::Md5Hex("bbb"))};
    EXPECT_FALSE(Extract(Build({a, b})));
    EXPECT_FALSE(m.Exists(At("a.txt")));
    ASSERT_EQ(m.boxes.size(), 2u);
    EXPECT_EQ(m.boxes[0].text, Failed("a.txt"));
    EXPECT_EQ(m.boxes[0].title, "智能砚舟安装");
    EXPECT_EQ(m.boxes[0].flags, (UINT)MB_OK);
    EXPECT_EQ(m.boxes[0].owner, nullptr);
    EXPECT_EQ(m.boxes[1].text, Failed("b.txt"));
    EXPECT_EQ(g_ctx.reportedFailures, 2);

    // No MD5 functions: the empty digest matches nothing, not even an empty record.
    m.boxes.clear();
    m.md5Available = false;
    std::string archive = Build({{"c.txt", "c", ""}});
    memset(&archive[kVozHeaderBytes + 18], 0, 33);
    EXPECT_FALSE(Extract(archive));
    EXPECT_FALSE(m.Exists(At("c.txt")));
    // Legacy members carry no digest and still unpack.
    EXPECT_TRUE(Extract(Build({{"d.bmp", "d", ""}}, true)));
    EXPECT_EQ(m.Read(At("d.bmp")), "d");
}

TEST_F(ExtractTest, RunningProgramIsMovedAsideAndReplaced) {
    m.AddFile(At("vorntavk.exe"), "running");
    m.Entry(At("vorntavk.exe"))->loaded = true;
    EXPECT_TRUE(Extract(Build({{"vorntavk.exe", "new", ""}})));
    EXPECT_EQ(m.Read(At("vorntavk.exe")), "new");
    // Still running: it stays aside until the restart, which it asks for.
    EXPECT_EQ(m.Read(At("vorntavk.exe.old")), "running");
    EXPECT_EQ(g_ctx.restartNeeded, 1);
    ASSERT_EQ(m.deleteAtRestart.size(), 1u);
    EXPECT_EQ(m.deleteAtRestart[0], m.Resolve(At("vorntavk.exe.old")));

    // The spare itself held: the next one takes the second spare name.
    m.Entry(At("vorntavk.exe"))->loaded = true;
    EXPECT_TRUE(Extract(Build({{"vorntavk.exe", "newer", ""}})));
    EXPECT_EQ(m.Read(At("vorntavk.exe.old2")), "new");
    EXPECT_EQ(m.Read(At("vorntavk.exe")), "newer");

    // Locked (open without sharing): neither deleted nor moved, so not written.
    m.Entry(At("vorntavk.exe"))->locked = true;
    EXPECT_FALSE(Extract(Build({{"vorntavk.exe", "newest", ""}})));
    EXPECT_EQ(m.Read(At("vorntavk.exe")), "newer");
    ASSERT_EQ(m.BoxTexts().size(), 1u);
    EXPECT_EQ(m.BoxTexts()[0], Failed("vorntavk.exe"));
}

TEST_F(ExtractTest, NamesThatAreNotBareFileNamesAreNeverWritten) {
    auto before = Outside(m);
    const char* bad[] = {"..\\evil.txt", "a/b.txt", "c:evil.txt", "..",       ".",
                         "COM1.txt",     "nul",     "lpt9",       "con .txt", "Aux"};
    std::vector<Member> members;
    for (const char* name : bad) members.push_back({name, "evil", ""});
    members.push_back({"good.txt", "good", ""});
    EXPECT_FALSE(Extract(Build(members)));
    EXPECT_EQ(Outside(m), before);
    EXPECT_EQ(m.List(kDir), std::vector<std::string>{"good.txt"});
    ASSERT_EQ(m.boxes.size(), sizeof(bad) / sizeof(bad[0]));
    EXPECT_EQ(m.boxes[0].text, Failed("..\\evil.txt"));
}

TEST_F(ExtractTest, DamagedArchivesEndTheWalkWithoutReadingPastTheirBytes) {
    std::string good = Build({{"one.txt", "1", ""}, {"two.txt", "2", ""}});
    // Header claims more members than are there.
    std::string more = good;
    testvoz::Le32(5).copy(&more[6], 4);
    EXPECT_FALSE(Extract(more));
    EXPECT_EQ(m.Read(At("two.txt")), "2");
    EXPECT_TRUE(m.boxes.empty());

    // The second member's compressed length runs past the end: it is not
    // read, the first is still unpacked.  The archive is copied to a block of
    // its exact size so that a read past it would be caught by ASan.
    m.Remove(At("one.txt"));
    std::string past = good;
    size_t second = kVozHeaderBytes + 56 + testvoz::Compress("1").size();
    testvoz::Le32(1000).copy(&past[second + 52], 4);
    std::vector<BYTE> exact(past.begin(), past.end());
    EXPECT_FALSE(ExtractArchive(exact.data(), (DWORD)exact.size(), g_ctx.workBuffer));
    EXPECT_EQ(m.Read(At("one.txt")), "1");

    // A name field without its terminator ends the walk.
    std::string noTerm = good;
    memset(&noTerm[kVozHeaderBytes + 2], 'n', 16);
    EXPECT_FALSE(Extract(noTerm));

    // A broken marker ends it as well; a truncated stream fails its member.
    std::string marker = good;
    marker[second + 1] = 'X';
    EXPECT_FALSE(Extract(marker));
    std::string z = testvoz::Compress(std::string(5000, 'z'));
    std::string truncated = Build({{"t.txt", std::string(5000, 'z'), ""}});
    truncated.resize(truncated.size() - z.size() / 2);
    testvoz::Le32((uint32_t)(z.size() - z.size() / 2)).copy(&truncated[kVozHeaderBytes + 52], 4);
    EXPECT_FALSE(Extract(truncated));
    EXPECT_EQ(m.BoxTexts().back(), Failed("t.txt"));

    // Fewer bytes than a header.
    EXPECT_FALSE(Extract("V0"));
}

TEST_F(ExtractTest, MemberMustFitWhatRemainsOfTheWorkBuffer) {
    // Skin work area at +131072: room = 2 MiB - 131072 - 100 - 44.
    const size_t room = kWorkBufferBytes - 131072 - 100 - 44;
    std::string fits(room, 'f');
    std::string over(room + 1, 'o');
    EXPECT_TRUE(Extract(Build({{"fits.bin", fits, ""}}), 131072));
    EXPECT_EQ(m.Read(At("fits.bin")).size(), room);
    EXPECT_FALSE(Extract(Build({{"over.bin", over, ""}}), 131072));
    EXPECT_FALSE(m.Exists(At("over.bin")));
    // A work area outside the work buffer, or over the archive, is refused outright.
    std::vector<BYTE> elsewhere(4096);
    std::string small = Build({{"s.txt", "s", ""}});
    EXPECT_FALSE(ExtractArchive((const BYTE*)small.data(), (DWORD)small.size(), elsewhere.data()));
    memcpy(g_ctx.workBuffer, small.data(), small.size());
    EXPECT_FALSE(ExtractArchive(g_ctx.workBuffer, (DWORD)small.size(), g_ctx.workBuffer + 8));
    EXPECT_TRUE(ExtractArchive(g_ctx.workBuffer, (DWORD)small.size(), g_ctx.workBuffer + small.size()));
}

// ---- the phrase-list trailer ------------------------------------------------

namespace {
// Runs the trailer over `text` in a buffer where `after` follows the text
// (bytes that would change the outcome if they were read), with room for
// the trailer.
std::string Trail(std::string text, const std::string& after = std::string(16, '\xA1')) {
    std::vector<BYTE> buf(text.begin(), text.end());
    buf.insert(buf.end(), after.begin(), after.end());
    buf.resize(std::max(buf.size(), text.size() + 12));
    DWORD m = AddPhraseListTrailer(buf.data(), (DWORD)text.size());
    EXPECT_LE(m, text.size());
    return std::string(buf.begin(), buf.begin() + m + 12);
}
const std::string W2 = "\xB0\xA1\xB0\xA2";  // a two-character word
const std::string W1 = "\xC4\xE3";          // a one-character word
}  // namespace

TEST_F(ExtractTest, TrailerOnAWellFormedListKeepsEveryWord) {
    std::string list = testvoz::PhraseList(300);
    EXPECT_EQ(Trail(list), testvoz::Trailed(list));
    // Already trailed: unchanged.
    std::string trailed = testvoz::Trailed(list);
    EXPECT_EQ(Trail(trailed), trailed);
}

TEST_F(ExtractTest, TrailerDropsBrokenWords) {
    // A one-character word goes, its separator stays.
    EXPECT_EQ(Trail(W2 + "; " + W1 + "; " + W2 + "; "),
              W2 + "; ; " + W2 + "; VORN" + testvoz::Le32(4 * (0xB0) + 2 * 0xA1 + 2 * 0xA2 + 0xC4 + 0xE3) +
                  testvoz::Le32(2));
    // A last word without its "; " is lost; the bytes after the text never complete it.
    std::string lastLead = W2 + "; " + W2 + "\xB0";
    std::string out = Trail(lastLead, "\xA3; " + std::string(12, '\0'));
    EXPECT_EQ(out.substr(0, 6), W2 + "; ");
    EXPECT_EQ(out.substr(6, 4), "VORN");
    EXPECT_EQ(out.substr(14, 4), testvoz::Le32(1));
    // A lone ";" at the very end.
    EXPECT_EQ(Trail(W2 + "; x;").substr(0, 7), W2 + "; ;");
}

TEST_F(ExtractTest, TrailerOnTextsShorterThanTwelveBytes) {
    EXPECT_EQ(Trail(""), "VORN" + testvoz::Le32(0) + testvoz::Le32(0));
    EXPECT_EQ(Trail(W2 + "; "), W2 + "; VORN" + testvoz::Le32(2 * 0xB0 + 0xA1 + 0xA2) + testvoz::Le32(1));
    // "VORN" alone is not a trailer (too short to carry sum and count): it is
    // text without words, dropped.
    EXPECT_EQ(Trail("VORN"), "VORN" + testvoz::Le32(0) + testvoz::Le32(0));
    // Stray bytes take the word after them along, up to its separator.
    EXPECT_EQ(Trail("VORN" + W2 + "; " + W2 + "; "),
              "; " + W2 + "; VORN" + testvoz::Le32(2 * 0xB0 + 0xA1 + 0xA2) + testvoz::Le32(1));
}

TEST_F(ExtractTest, PhraseListIsWrittenWithItsTrailer) {
    std::string list = testvoz::PhraseList(80);
    EXPECT_TRUE(Extract(Build({{"vorncyzk.bak", list, ""}})));
    EXPECT_EQ(m.Read(At("vorncyzk.bak")), testvoz::Trailed(list));
}

// ---- verification --------------------------------------------------------

TEST_F(ExtractTest, VerificationListsMissingMembers) {
    std::string archive = Build({{"vorn1.wav", "1", ""}, {"vorn2.wav", "2", ""}, {"vorn3.wav", "3", ""}});
    m.AddFile(At("vorn3.wav"), "3");
    EXPECT_EQ(Verify(archive), 1);
    EXPECT_EQ(failures, "vorn1.wav....vorn2.wav....有文件没有成功解压，请重新下载安装！\r\n");
    m.AddFile(At("vorn1.wav"), "1");
    m.AddFile(At("vorn2.wav"), "2");
    EXPECT_EQ(Verify(archive), 3);
    EXPECT_EQ(failures, "");
    // A changed file fails.
    m.AddFile(At("vorn2.wav"), "two");
    EXPECT_EQ(Verify(archive), 2);
    EXPECT_EQ(failures.substr(0, 13), "vorn2.wav....");
}

TEST_F(ExtractTest, TrailedPhraseListPassesOnlyThroughTheExclusionList) {
    std::string list = testvoz::PhraseList(10);
    std::string archive = Build({{"vorncyzk.bak", list, ""}});
    ASSERT_TRUE(Extract(archive));
    EXPECT_EQ(Verify(archive), 0);
    EXPECT_EQ(Verify(archive, "vorn320.ime vorncyzk.bak voszsj43.voh "), 1);
    EXPECT_EQ(failures, "");
    // Excluded names are matched as words of lower-case text.
    EXPECT_EQ(Verify(archive, "VORNCYZK.BAK"), 1);
}

TEST_F(ExtractTest, LegacyMembersAreVerifiedByLength) {
    std::string data(4000, 'k');
    std::string archive = Build({{"vobmp8.voh", data, ""}}, true);
    uint32_t cbCompressed = (uint32_t)testvoz::Compress(data).size();
    m.AddFile(At("vobmp8.voh"), std::string(cbCompressed, 'a'));
    EXPECT_EQ(Verify(archive), 1);
    // Without MD5 the length still counts.
    m.md5Available = false;
    EXPECT_EQ(Verify(archive), 1);
    m.AddFile(At("vobmp8.voh"), std::string(cbCompressed - 1, 'a'));
    EXPECT_EQ(Verify(archive), 0);
    EXPECT_EQ(failures.substr(0, 14), "vobmp8.voh....");
}

TEST_F(ExtractTest, FailureTextStaysInItsBufferAndKeepsTheClosingSentence) {
    std::vector<Member> many;
    for (int i = 0; i < 40; i++) many.push_back({"missing" + std::to_string(i), "x", ""});
    std::string archive = Build(many);
    std::string closing = "有文件没有成功解压，请重新下载安装！\r\n";
    EXPECT_EQ(Verify(archive, "", 100), 0);
    ASSERT_LT(failures.size(), 100u);
    EXPECT_EQ(failures.substr(failures.size() - closing.size()), closing);
    EXPECT_EQ(failures.substr(0, 12), "missing0....");
    // Too small even for the sentence: empty, but still terminated in place.
    EXPECT_EQ(Verify(archive, "", 8), 0);
    EXPECT_EQ(failures, "");
}

// ---- skin archive file and restore ---------------------------------------------

TEST_F(ExtractTest, ArchiveFileIsReadIntoTheWorkBufferAndUnpackedBehindIt) {
    std::string skin = Build({{"vobmp8.voh", "skin8", ""}, {"vobmpsx1.bmp", "sx1", ""}}, true);
    m.AddFile(At("小天使.voz"), skin);
    ExtractArchiveFile(At("小天使.voz").c_str());
    EXPECT_EQ(m.Read(At("vobmp8.voh")), "skin8");
    EXPECT_EQ(m.Read(At("vobmpsx1.bmp")), "sx1");
    EXPECT_EQ(memcmp(g_ctx.workBuffer, skin.data(), skin.size()), 0);

    // Keep: nothing happens.
    m.Remove(At("vobmp8.voh"));
    g_ctx.backupState = kBackupKeep;
    ExtractArchiveFile(At("小天使.voz").c_str());
    EXPECT_FALSE(m.Exists(At("vobmp8.voh")));
    g_ctx.backupState = kBackupDone;

    // Only the first 131,072 bytes are read: a member beyond them is missing.
    std::string filler(140000, '\0');
    uint32_t seed = 12345;
    for (char& c : filler) c = (char)((seed = seed * 1103515245u + 12345u) >> 24);  // incompressible
    std::string large = Build({{"first.voh", "1", ""}, {"filler.bin", filler, ""}, {"last.voh", "2", ""}}, true);
    ASSERT_GT(large.size(), 131072u);
    m.AddFile(At("large.voz"), large);
    ExtractArchiveFile(At("large.voz").c_str());
    EXPECT_EQ(m.Read(At("first.voh")), "1");
    EXPECT_FALSE(m.Exists(At("last.voh")));
    ExtractArchiveFile(At("absent.voz").c_str());
}

class RestoreTest : public ExtractTest {
   protected:
    void SetUp() override {
        ExtractTest::SetUp();
        CopyText(g_ctx.previousDir, sizeof(g_ctx.previousDir), "D:\\old\\vornhu\\");
        m.AddDir("D:\\old\\vornhu");
    }
};

TEST_F(RestoreTest, BackupFromThePreviousDirectoryIsCopiedAndUnpacked) {
    std::string list = testvoz::Trailed(testvoz::PhraseList(20));
    std::string backup = Build({{"vorncyzk.bak", list, ""}, {"voszsj43.voh", std::string(200, 's'), ""}});
    m.AddFile("D:\\old\\vornhu\\vornback.voz", backup);
    RestoreUserData();
    EXPECT_EQ(m.Read(At("vornback.voz")), backup);
    EXPECT_EQ(m.Read(At("vorncyzk.bak")), list);
    EXPECT_EQ(m.Read(At("voszsj43.voh")), std::string(200, 's'));
    ASSERT_EQ(m.boxes.size(), 1u);
    EXPECT_TRUE(m.boxes[0].wide);
    EXPECT_EQ(m.boxes[0].wtext, std::u16string(u"成功恢复了2个原有数据文件！"));
    EXPECT_EQ(m.boxes[0].wtitle, std::u16string(u"智能砚舟"));
    EXPECT_EQ(m.liveAllocations, 1u);  // the work buffer only

    // Same directory as before: restored in place, nothing copied.
    CopyText(g_ctx.previousDir, sizeof(g_ctx.previousDir), kDir);
    m.Remove("D:\\old\\vornhu\\vornback.voz");
    m.Remove(At("voszsj43.voh"));
    RestoreUserData();
    EXPECT_EQ(m.Read(At("voszsj43.voh")), std::string(200, 's'));
    EXPECT_EQ(m.boxes.size(), 2u);
}

// What this run's backup holds comes back, whatever else lies around: a
// phrase list without its trailer is written with it and held to what was
// written (the archive keeps the user's bytes), a dictionary far over the
// work buffer is expanded on its own, and in another installation directory
// an older archive that the copy could not replace is not what is restored.
TEST_F(RestoreTest, ThisRunsBackupComesBackWhole) {
    std::string list = testvoz::PhraseList(20);
    std::string big = testvoz::Noise(3 << 20, 5);
    std::string backup = Build({{"vorncyzk.bak", list, ""}, {"vopyzdym.voh", big, ""}});
    m.AddFile("D:\\old\\vornhu\\vornback.voz", backup);
    std::string older = Build({{"vopyzdym.voh", "older", ""}});
    m.AddFile(At("vornback.voz"), older);
    m.Entry(At("vornback.voz"))->locked = true;
    RestoreUserData();
    EXPECT_EQ(m.BoxTexts(), std::vector<std::string>{"成功恢复了2个原有数据文件！"});
    EXPECT_EQ(m.Read(At("vorncyzk.bak")), testvoz::Trailed(list));
    EXPECT_TRUE(m.Read(At("vopyzdym.voh")) == big);
    EXPECT_EQ(m.Read("D:\\old\\vornhu\\vornback.voz"), backup);
    EXPECT_EQ(m.Read(At("vornback.voz")), older);
    EXPECT_EQ(m.liveAllocations, 1u);
}

TEST_F(RestoreTest, NoBackupOrATinyOneIsSilent) {
    RestoreUserData();
    EXPECT_TRUE(m.boxes.empty());
    m.AddFile("D:\\old\\vornhu\\vornback.voz", std::string(99, 'V'));
    RestoreUserData();
    EXPECT_TRUE(m.boxes.empty());
    // Without a previous directory nothing is copied from the current directory.
    m.Remove(At("vornback.voz"));
    g_ctx.previousDir[0] = 0;
    m.AddFile("C:\\vornback.voz", Build({{"x.voh", std::string(200, 'x'), ""}}));
    RestoreUserData();
    EXPECT_FALSE(m.Exists(At("vornback.voz")));
    EXPECT_TRUE(m.boxes.empty());
    EXPECT_EQ(m.liveAllocations, 1u);
}

// ---- faults ------------------------------------------------------------------

namespace {
// The machine of one sweep run: the installation directory made and set,
// the work buffer allocated.
void PrepareSweep(sim::Machine& run) {
    ResetInstallContext();
    CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), kDir);
    run.AddDir(kDir);
}
}  // namespace

// Any single failing call leaves every member either unpacked correctly or
// reported by name, and nothing outside the installation directory changes.
TEST_F(ExtractTest, FaultSweep) {
    ClosePayload();
    std::vector<Member> members = testvoz::SampleMembers();
    std::string archive = Build(members);
    bool ok = false;
    long total = SweepFaults(
        [](sim::Machine& run) {
            PrepareSweep(run);
            run.AddFile(At("vorntavk.exe"), "running");
            run.Entry(At("vorntavk.exe"))->loaded = true;
            run.AddFile(At("vorndel.exe"), "old", FILE_ATTRIBUTE_READONLY);
            ASSERT_TRUE(OpenPayload() || g_ctx.workBuffer);
        },
        [](sim::Machine& run) { return Outside(run); },
        [&] { ok = ExtractArchive((const BYTE*)archive.data(), (DWORD)archive.size(), g_ctx.workBuffer); },
        [&](sim::Machine& run, const std::map<std::string, std::string>& before, bool last) {
            std::set<std::string> reported;
            for (const std::string& t : run.BoxTexts()) reported.insert(t);
            for (const Member& mb : members) {
                bool right = run.Read(At(mb.name)) == testvoz::ExpectedFile(mb);
                EXPECT_TRUE(right || reported.count(Failed(mb.name))) << mb.name;
            }
            EXPECT_EQ(ok, reported.empty());
            EXPECT_EQ(Outside(run), before);
            if (last) {
                EXPECT_TRUE(ok);
            }
            ClosePayload();
        });
    EXPECT_GT(total, 50);
    sim::Use(&m);
    ResetInstallContext();
}

TEST_F(RestoreTest, FaultSweep) {
    ClosePayload();
    std::string backup = Build({{"vornszsj.voh", "s", ""}, {"vornjfk.ov1", "j", ""}});
    SweepFaults(
        [&](sim::Machine& run) {
            PrepareSweep(run);
            CopyText(g_ctx.previousDir, sizeof(g_ctx.previousDir), "D:\\old\\");
            run.AddFile("D:\\old\\vornback.voz", backup);
            run.AddFile(At("vornszsj.voh"), "shipped");
            OpenPayload();
        },
        [](sim::Machine&) { return 0; }, [] { RestoreUserData(); },
        [&](sim::Machine& run, int, bool last) {
            // Silence (the archive could not be had), the success message, or
            // the member failures followed by the restore's failure message.
            if (!run.boxes.empty()) {
                const sim::MessageBoxCall& box = run.boxes.back();
                if (box.wide) {
                    EXPECT_EQ(run.boxes.size(), 1u);
                    EXPECT_EQ(box.wtext, std::u16string(u"成功恢复了2个原有数据文件！"));
                } else {
                    std::string tail = "原有数据文件没有成功复制，原有数据不能使用！\r\n";
                    ASSERT_GE(box.text.size(), tail.size());
                    EXPECT_EQ(box.text.substr(box.text.size() - tail.size()), tail);
                }
            }
            EXPECT_EQ(run.Read("D:\\old\\vornback.voz"), backup);
            // Written whole or not at all.
            EXPECT_TRUE(run.Read(At("vornszsj.voh")) == "shipped" || run.Read(At("vornszsj.voh")) == "s");
            EXPECT_EQ(run.liveAllocations, 1u);
            if (last) {
                ASSERT_EQ(run.boxes.size(), 1u);
                EXPECT_TRUE(run.boxes[0].wide);
            }
            ClosePayload();
        });
    sim::Use(&m);
    ResetInstallContext();
}
