// The backup of the earlier installation's user data, and the upgrade it
// serves: packed before the payload overwrites it, brought back on Yes.
#include <stdlib.h>
#include <zlib.h>

#include <fstream>
#include <sstream>

#include <algorithm>
#include <map>

#include "archive_builder.h"
#include "sim_fixture.h"
#include "setup/log.h"
#include "userdata/userdata.h"

namespace {

const char* kOld = "D:\\old\\vornhu\\";
const char* kNew = "C:\\Program Files\\vornhu\\";

// The user data files in archive order; rows 1 to 7 go in as ".bak".
const char* const kRows[] = {"vorncyzk", "cfontset", "cwbzlcz1", "vowbcmxz", "vodhzcm", "vorndhz", "vogbkhz",
                             "voszsj43.voh", "vorndwdw.txt", "vornzdym.voh", "vopyzdym.voh", "vowbpy.txt",
                             "vornynhz.txt", "vornzdfh.voh", "userck.txt", "delck.txt", "ftvozdym.txt",
                             "ftpyzdym.txt", "cwb.ov1", "vornpymb.ov1", "vogbkbh.voh", "voszsj05.voh",
                             "voszsj06.voh"};

// The user's files as an earlier installation left them: source name ->
// bytes.  The phrase dictionary carries its trailer, as the input method
// keeps it; "cwb.ov1" is incompressible and over 8 KiB.
std::map<std::string, std::string> UserFiles() {
    std::map<std::string, std::string> files;
    for (int i = 0; i < 23; i++) {
        std::string name = i < 7 ? std::string(kRows[i]) + ".voh" : kRows[i];
        files[name] = "user data of " + name + std::string((size_t)i * 37, (char)('a' + i));
    }
    files["vorncyzk.voh"] = testvoz::Trailed(testvoz::PhraseList(40));
    files["cwb.ov1"] = testvoz::Noise(20000, 7);
    return files;
}

// The member name a source file goes into the archive under.
std::string MemberName(const std::string& source) {
    if (source.size() > 4 && source.compare(source.size() - 4, 4, ".voh") == 0)
        for (int i = 0; i < 7; i++)
            if (source == std::string(kRows[i]) + ".voh") return std::string(kRows[i]) + ".bak";
    return source;
}

// Every member of an archive, in order, expanded.
std::vector<std::pair<std::string, std::string>> Members(const std::string& archive) {
    std::vector<std::pair<std::string, std::string>> out;
    MemberIterator it;
    if (!VozBegin(&it, (const unsigned char*)archive.data(), archive.size(), kMarkerExact)) return out;
    VozMember mb;
    while (VozNext(&it, &mb)) {
        std::string data(1 << 20, '\0');
        uLongf cb = data.size();
        EXPECT_EQ(uncompress((Bytef*)&data[0], &cb, mb.compressed, mb.cbCompressed), Z_OK) << mb.name;
        data.resize(cb);
        EXPECT_EQ(std::string(mb.digest, 32), testvoz::Md5Hex(data)) << mb.name;
        out.push_back(std::make_pair(std::string(mb.name), data));
    }
    EXPECT_FALSE(it.broken);
    return out;
}

// What a backup of `files` must hold, in table order.
std::vector<std::pair<std::string, std::string>> Expected(const std::map<std::string, std::string>& files) {
    std::vector<std::pair<std::string, std::string>> out;
    for (int i = 0; i < 23; i++) {
        std::string source = i < 7 ? std::string(kRows[i]) + ".voh" : kRows[i];
        auto f = files.find(source);
        if (f != files.end()) out.push_back(std::make_pair(MemberName(source), f->second));
    }
    return out;
}

}  // namespace

class BackupTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        files = UserFiles();
        Seed(m);
    }
    void Seed(sim::Machine& machine) {
        machine.AddDir(kOld);
        for (auto& kv : files) machine.AddFile(At(kv.first), kv.second);
        CopyText(g_ctx.previousDir, sizeof(g_ctx.previousDir), kOld);
    }
    static std::string At(const std::string& name) { return std::string(kOld) + name; }
    std::string Archive() { return m.Read(At("vornback.voz")); }
    std::map<std::string, std::string> files;
};

TEST_F(BackupTest, EveryFileGoesInInTableOrderAndAnOptionalOneMayBeMissing) {
    ASSERT_TRUE(BackupUserData());
    EXPECT_EQ(Members(Archive()), Expected(files));
    for (int i = 0; i < 7; i++)  // the ".bak" copies stay beside the originals
        EXPECT_EQ(m.Read(At(std::string(kRows[i]) + ".bak")), files[std::string(kRows[i]) + ".voh"]);
    EXPECT_FALSE(m.Exists(At("vornback.new")));
    EXPECT_EQ(m.liveAllocations, 0u);

    // The next backup replaces the archive; a missing optional file is left out.
    m.Remove(At("delck.txt"));
    files.erase("delck.txt");
    ASSERT_TRUE(BackupUserData());
    EXPECT_EQ(Members(Archive()), Expected(files));
    EXPECT_EQ(Members(Archive()).size(), 22u);
}

TEST_F(BackupTest, MissingRequiredFileFailsButEveryOtherFileIsPacked) {
    m.Remove(At("vornynhz.txt"));
    files.erase("vornynhz.txt");
    EXPECT_FALSE(BackupUserData());
    // Rows after the missing one are there too: support can restore them.
    EXPECT_EQ(Members(Archive()), Expected(files));

    // An older ".bak" stands in for a missing ".voh".
    m.AddFile(At("vornynhz.txt"), "back");
    files["vornynhz.txt"] = "back";
    m.Remove(At("vodhzcm.voh"));
    files.erase("vodhzcm.voh");
    m.AddFile(At("vodhzcm.bak"), "older copy");
    ASSERT_TRUE(BackupUserData());
    auto members = Members(Archive());
    ASSERT_EQ(members.size(), 23u);
    EXPECT_EQ(members[4], std::make_pair(std::string("vodhzcm.bak"), std::string("older copy")));

    // With neither, the row fails.
    m.Remove(At("vodhzcm.bak"));
    EXPECT_FALSE(BackupUserData());
    EXPECT_EQ(Members(Archive()).size(), 22u);
}

TEST_F(BackupTest, NoRecordedInstallationTouchesNothing) {
    // Without a previous directory every name would resolve in the current
    // directory, typically the download folder.
    g_ctx.previousDir[0] = 0;
    m.currentDir = kOld;
    auto before = m.List(kOld);
    EXPECT_FALSE(BackupUserData());
    EXPECT_EQ(m.List(kOld), before);
    EXPECT_FALSE(m.Exists("C:\\vornback.voz"));
    // A recorded directory that holds none of the files writes no archive either.
    CopyText(g_ctx.previousDir, sizeof(g_ctx.previousDir), "D:\\gone\\");
    EXPECT_FALSE(BackupUserData());
    EXPECT_FALSE(m.Exists("D:\\gone\\vornback.voz"));
}

// A second upgrade (an earlier archive present) while the input method still
// runs: files it keeps open for writing are packed, the ".voh" copied to its
// ".bak" too; an optional file held without sharing is left out, named in
// the log, and the new archive replaces the earlier one.  A required file
// that cannot be read leaves the earlier archive and asks nothing.  No single
// failing call loses the earlier archive or changes a user's file.
TEST_F(BackupTest, SecondUpgradeWithHeldFilesAndEarlierBackupSurvivesAFailedOne) {
    const std::string earlier = testvoz::Build({{"voszsj43.voh", "the user's earlier record", ""}});
    m.AddFile(At("vornback.voz"), earlier, FILE_ATTRIBUTE_READONLY);
    for (const char* name : {"vorncyzk.voh", "vopyzdym.voh", "vornzdym.voh"})
        ASSERT_NE(m.OpenAsOtherProgram(At(name), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE), 0);
    ASSERT_NE(m.OpenAsOtherProgram(At("userck.txt"), GENERIC_READ, 0), 0);
    ASSERT_TRUE(LogOpen("C:\\setup.log"));
    auto held = files;
    held.erase("userck.txt");
    ASSERT_TRUE(BackupUserData());
    EXPECT_EQ(Members(Archive()), Expected(held));
    EXPECT_EQ(m.Read(At("vorncyzk.bak")), files["vorncyzk.voh"]);
    EXPECT_FALSE(m.Exists(At("vornback.new")));
    EXPECT_NE(m.Read("C:\\setup.log").find("userck.txt is there but could not be packed"), std::string::npos);

    // The user's files then stay where they are, so the new archive is no
    // one's only copy and does not stay either.
    m.Entry(At("vowbpy.txt"))->unreadable = true;
    const std::string second = Archive();
    EXPECT_FALSE(BackupUserData());
    EXPECT_EQ(Archive(), second);
    EXPECT_FALSE(m.Exists(At("vornback.new")));
    EXPECT_FALSE(g_ctx.userFilesSaved);
    EXPECT_NE(m.Read("C:\\setup.log").find("vowbpy.txt is there but could not be packed"), std::string::npos);
    LogClose();
    m.Entry(At("vowbpy.txt"))->unreadable = false;
    m.otherOpens.clear();

    const auto complete = Expected(files);
    bool result = false;
    long points = SweepFaults(
        [&](sim::Machine& run) {
            sim::Use(&run);
            ResetInstallContext();
            Seed(run);
            run.AddFile(At("vornback.voz"), earlier);
        },
        [&](sim::Machine& run) { return &run; },
        [&]() { result = BackupUserData(); },
        [&](sim::Machine& run, sim::Machine*, bool last) {
            // A new archive holds every required file as the user has it;
            // a fault may only have left an optional one out.
            std::string archive = run.Read(At("vornback.voz"));
            EXPECT_EQ(result, archive != earlier);
            auto got = archive != earlier ? Members(archive) : complete;
            size_t k = 0;
            for (size_t row = 0; row < complete.size(); row++) {
                if (k < got.size() && got[k] == complete[row]) {
                    k++;
                } else {
                    EXPECT_GE(row, 14u) << complete[row].first << " is missing";
                }
            }
            EXPECT_EQ(k, got.size());
            for (auto& kv : files) EXPECT_EQ(run.Read(At(kv.first)), kv.second) << kv.first;
            EXPECT_EQ(run.liveAllocations, 0u);
            if (last) {
                EXPECT_TRUE(result);
            }
        });
    EXPECT_GT(points, 100);
    sim::Use(&m);
}

// Support recovers a user's files by hand with `voz` from the archive the
// backup wrote.
TEST_F(BackupTest, VozListsTestsAndExtractsTheBackup) {
#ifndef VORN_VOZ_EXE
    GTEST_SKIP() << "voz not built";
#else
    ASSERT_TRUE(BackupUserData());
    char dir[] = "/tmp/vornbackXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string archive = std::string(dir) + "/vornback.voz";
    std::ofstream(archive, std::ios::binary) << Archive();
    std::string voz = VORN_VOZ_EXE;

    FILE* list = popen((voz + " list " + archive).c_str(), "r");
    ASSERT_NE(list, nullptr);
    std::string listing;
    char line[256];
    while (fgets(line, sizeof(line), list)) listing += line;
    EXPECT_EQ(pclose(list), 0) << listing;
    EXPECT_NE(listing.find("current format, 23 members"), std::string::npos) << listing;
    EXPECT_EQ(system((voz + " test " + archive).c_str()), 0);
    ASSERT_EQ(system((voz + " extract " + archive + " " + dir + "/out").c_str()), 0);
    for (auto& member : Expected(files)) {
        EXPECT_NE(listing.find(member.first + " "), std::string::npos) << member.first;
        std::ifstream in(std::string(dir) + "/out/" + member.first, std::ios::binary);
        std::stringstream got;
        got << in.rdbuf();
        EXPECT_EQ(got.str(), member.second) << member.first;
    }
    system((std::string("rm -rf ") + dir).c_str());
#endif
}

// The whole upgrade through the setup window: the backup at its creation,
// the keep question after the unpack, the restore at the end.
class UpgradeTest : public SimTest {};

TEST_F(UpgradeTest, YesBringsBackEveryEarlierFileAndNoLeavesTheShippedOnes) {
    const auto user = UserFiles();
    for (int variant = 0; variant < 4; variant++) {
        bool same = variant < 2, yes = variant % 2 == 0;
        SCOPED_TRACE(std::string(same ? "same directory, " : "other directory, ") + (yes ? "Yes" : "No"));
        sim::Machine run;
        sim::Use(&run);
        ResetInstallContext();
        run.Make32Bit();
        auto members = testvoz::SampleMembers();
        members.push_back({"vorndwdw.txt", "shipped word list", ""});
        run.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build(members))});
        std::string old = same ? kNew : kOld;
        run.AddDir(old);
        for (auto& kv : user) run.AddFile(old + kv.first, kv.second);
        run.AddFile("C:\\windows\\vornpath.voh", old);
        // The address typed at the last install, where this program wrote it.
        if (same) run.AddFile(old + "vonetsj.dat", "VONETURL1=\r\nVONETURL2=www.old.cn\r\nVONETTIME=1\r\n");
        run.answers.push_back(yes ? IDYES : IDNO);

        SetupMain(nullptr, "", SW_SHOW);
        for (int i = 0; i < 3; i++) run.gui.Click(g_ctx.setupWindow, 90, 257), run.gui.Pump();

        auto question = std::find_if(run.boxes.begin(), run.boxes.end(),
                                     [](const sim::MessageBoxCall& b) { return b.flags == (UINT)MB_YESNO; });
        ASSERT_NE(question, run.boxes.end());
        EXPECT_EQ(question->wtext, same ? u"检测到安装目录下有智能砚舟以前的词组等数据文件，是否保留？"
                                        : u"检测到有智能砚舟以前的词组等数据文件，是否保留？");
        std::string backup = run.Read(old + "vornback.voz");
        EXPECT_EQ(Members(backup), Expected(user));
        std::vector<std::u16string> wide;
        for (auto& b : run.boxes) wide.push_back(b.wtext);
        bool restoredMessage = std::count(wide.begin(), wide.end(), u"成功恢复了23个原有数据文件！") == 1;
        EXPECT_EQ(restoredMessage, yes);
        // The sample payload is far from 74 files: Finish shows the report
        // instead of the end message.
        EXPECT_NE(run.BoxTexts().back().find("F--"), std::string::npos);
        EXPECT_NE(run.BoxTexts().back().find("文件不完整！"), std::string::npos);
        EXPECT_TRUE(run.gui.quitPosted);
        for (auto& kv : user) {
            std::string name = MemberName(kv.first);
            if (yes) {
                EXPECT_EQ(run.Read(kNew + name), kv.second) << name;
            } else if (name == "vorndwdw.txt") {
                EXPECT_EQ(run.Read(kNew + name), "shipped word list");
            }
        }
        if (yes && !same) {
            EXPECT_EQ(run.Read(std::string(kNew) + "vornback.voz"), backup);
        }
        // The settings record is the user's after Yes, the rewritten shipped one after No.
        // The options page was prefilled, so confirming it kept the address.
        if (same) {
            EXPECT_NE(run.Read(std::string(kNew) + "vonetsj.dat").find("VONETURL2=www.old.cn\r\n"), std::string::npos);
        }
        EXPECT_EQ(run.Read(std::string(kNew) + "install.voh"), std::to_string(run.tickCount));
        EXPECT_FALSE(run.Exists(old + "vornback.sum"));  // brought back or declined: it waits no longer
        std::string record = run.Read(std::string(kNew) + "voszsj43.voh");
        if (!yes) {
            EXPECT_TRUE(record.size() == 200u && record[1] == 1 && record[43] == 1);
        }
        ClosePayload();
    }
    sim::Use(&m);
}

// The restore trusts only the format this backup writes, and never calls a
// member restored that it could not write.
class RestoreCheckTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        m.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build({{"x.txt", "x", ""}}))});
        ASSERT_TRUE(OpenPayload());
        CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), kNew);
        CopyText(g_ctx.previousDir, sizeof(g_ctx.previousDir), kNew);
        m.AddDir(kNew);
    }
    std::vector<std::string> Restore(const std::string& archive) {
        m.boxes.clear();
        if (m.Read(std::string(kNew) + "vornback.voz") != archive) m.AddFile(std::string(kNew) + "vornback.voz", archive);
        RestoreUserData();
        return m.BoxTexts();
    }
    const std::string kFailed = "原有数据文件没有成功复制，原有数据不能使用！\r\n";
};

TEST_F(RestoreCheckTest, OtherFormatsAndUnwrittenMembersAreNotRestored) {
    // A legacy archive's length check would pass a member never written.
    std::string legacy = testvoz::Build({{"delck.txt", "", ""}}, true);
    legacy.resize(100, '\0');
    EXPECT_EQ(Restore(legacy), std::vector<std::string>{kFailed});
    EXPECT_FALSE(m.Exists(std::string(kNew) + "delck.txt"));

    // A member that cannot be written although the file there has its bytes
    // (a directory the user may read but not change).
    std::string target = std::string(kNew) + "vorndwdw.txt";
    m.AddFile(target, "the user's words");
    std::string current = testvoz::Build({{"vorndwdw.txt", "the user's words", ""}});
    current.resize(std::max<size_t>(current.size(), 100), '\0');
    m.AddFile(std::string(kNew) + "vornback.voz", current);
    m.Entry(kNew)->denyWrites = true;
    EXPECT_EQ(Restore(current),
              (std::vector<std::string>{"没有成功解压复制vorndwdw.txt文件！请重新下载安装。", kFailed}));
    m.Entry(kNew)->denyWrites = false;

    // Once it can be written, it counts.
    EXPECT_EQ(Restore(current), std::vector<std::string>{"成功恢复了1个原有数据文件！"});
}

// A long-used dictionary may pass the 25 MiB the backup once stopped at,
// and an emptied word list is an ordinary file: both are packed and come
// back as they were, and the restore says so.
TEST_F(RestoreCheckTest, LargeAndEmptyUserFilesComeBack) {
    size_t allocations = m.liveAllocations;
    std::string big(40u << 20, '\0');
    for (size_t i = 0; i < big.size(); i++) big[i] = (char)(0xB0 + (i * 7 + i / 4099) % 31);
    m.AddFile(std::string(kNew) + "vornzdym.voh", big);
    m.AddFile(std::string(kNew) + "delck.txt", "");
    std::string archive = std::string(kNew) + "vornback.new";
    for (const char* name : {"vornzdym.voh", "delck.txt"})
        ASSERT_TRUE(AddFileToArchive(archive.c_str(), (std::string(kNew) + name).c_str())) << name;
    m.Remove(std::string(kNew) + "vornzdym.voh");
    m.AddFile(std::string(kNew) + "delck.txt", "shipped");
    EXPECT_EQ(Restore(m.Read(archive)), std::vector<std::string>{"成功恢复了2个原有数据文件！"});
    EXPECT_TRUE(m.Read(std::string(kNew) + "vornzdym.voh") == big);
    EXPECT_EQ(m.Read(std::string(kNew) + "delck.txt"), "");
    EXPECT_EQ(m.liveAllocations, allocations);
}
