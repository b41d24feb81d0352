// The archive writer: what it appends, what it refuses, and that a refusal
// or a failed call leaves the archive file exactly as it was.
#include <zlib.h>

#include <map>

#include "archive_builder.h"
#include "payload/payload.h"
#include "payload/voz.h"
#include "sim_fixture.h"

namespace {

const char* kArchive = "C:\\old\\vornback.voz";

std::string Le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; i++) s[i] = (char)(v >> (8 * i));
    return s;
}

std::string Deflate(const std::string& bytes) {
    uLongf cb = compressBound(bytes.size());
    std::string out(cb, '\0');
    EXPECT_EQ(compress((Bytef*)&out[0], &cb, (const Bytef*)bytes.data(), bytes.size()), Z_OK);
    out.resize(cb);
    return out;
}

// A current-format member as the format defines it, built field by field.
std::string Member(const std::string& name, const std::string& contents) {
    std::string z = Deflate(contents);
    std::string record = "VF";
    record += name;
    record.resize(18, '\0');
    record += testvoz::Md5Hex(contents);
    record.resize(52, '\0');
    return record + Le32((uint32_t)z.size()) + z;
}

std::string Archive(const std::vector<std::string>& members, uint32_t count) {
    std::string body;
    for (const std::string& m : members) body += m;
    return std::string("V0") + Le32(10 + (uint32_t)body.size()) + Le32(count) + body;
}

typedef std::map<std::string, std::pair<sim::Bytes, DWORD>> Snapshot;

}  // namespace

class ArchiveWriterTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        m.AddDir("C:\\old");
        m.AddFile("C:\\old\\vorndwdw.txt", "第一行\r\n第二行\r\n");
        m.AddFile("C:\\old\\voszsj43.voh", std::string(200, '\x01'));
    }
    Snapshot Files() const {
        Snapshot s;
        for (auto& kv : m.files) s[kv.first] = std::make_pair(kv.second.data, kv.second.attributes);
        return s;
    }
    // The refusal leaves every file as it was.
    void ExpectRefused(const char* source) {
        Snapshot before = Files();
        EXPECT_FALSE(AddFileToArchive(kArchive, source)) << source;
        EXPECT_TRUE(Files() == before) << source;
        EXPECT_EQ(m.liveAllocations, 0u);
    }
};

TEST_F(ArchiveWriterTest, NewArchiveHoldsOneCurrentFormatMember) {
    ASSERT_TRUE(AddFileToArchive(kArchive, "C:\\old\\vorndwdw.txt"));
    std::string text = m.Read("C:\\old\\vorndwdw.txt");
    EXPECT_EQ(m.Read(kArchive), Archive({Member("vorndwdw.txt", text)}, 1));
    EXPECT_EQ(m.liveAllocations, 0u);
}

TEST_F(ArchiveWriterTest, MembersAreAppendedInOrderAndReadBack) {
    m.AddFile("C:\\old\\cwb.ov1", testvoz::Noise(3000, 1) + std::string(20000, 'z'));
    ASSERT_TRUE(AddFileToArchive(kArchive, "C:\\old\\vorndwdw.txt"));
    ASSERT_TRUE(AddFileToArchive(kArchive, "C:\\old\\voszsj43.voh"));
    ASSERT_TRUE(AddFileToArchive(kArchive, "C:\\old\\cwb.ov1"));
    std::string expected = Archive({Member("vorndwdw.txt", m.Read("C:\\old\\vorndwdw.txt")),
                                    Member("voszsj43.voh", m.Read("C:\\old\\voszsj43.voh")),
                                    Member("cwb.ov1", m.Read("C:\\old\\cwb.ov1"))},
                                   3);
    std::string got = m.Read(kArchive);
    ASSERT_EQ(got, expected);

    // The archive's own readers agree.
    std::vector<unsigned char> out(30000);
    size_t n = FindMember((const unsigned char*)got.data(), got.size(), "cwb.ov1", out.data(), out.size());
    EXPECT_EQ(std::string((const char*)out.data(), n), m.Read("C:\\old\\cwb.ov1"));
}

TEST_F(ArchiveWriterTest, AppendsToAnExistingEmptyArchive) {
    m.AddFile(kArchive, Archive({}, 0));
    ASSERT_EQ(m.Read(kArchive), std::string("V0\x0A\0\0\0\0\0\0\0", 10));
    ASSERT_TRUE(AddFileToArchive(kArchive, "C:\\old\\voszsj43.voh"));
    EXPECT_EQ(m.Read(kArchive), Archive({Member("voszsj43.voh", m.Read("C:\\old\\voszsj43.voh"))}, 1));
}

TEST_F(ArchiveWriterTest, EmptySourceIsAddedWithTheDigestOfNoData) {
    m.AddFile("C:\\old\\delck.txt", "");
    ASSERT_TRUE(AddFileToArchive(kArchive, "C:\\old\\delck.txt"));
    std::string got = m.Read(kArchive);
    EXPECT_EQ(got.substr(28, 32), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(got, Archive({Member("delck.txt", "")}, 1));
}

TEST_F(ArchiveWriterTest, NameIsTheTextAfterTheLastBackslashUpToTwelveBytes) {
    m.AddFile("C:\\old\\VOTAVK41.BMP", "BM12");
    m.AddFile("C:\\old\\冷色瓷面.voz", "skin");
    m.AddFile("C:\\old\\vorndwdw.txt1", "13 bytes");
    ASSERT_TRUE(AddFileToArchive(kArchive, "C:\\old\\VOTAVK41.BMP"));
    ASSERT_TRUE(AddFileToArchive(kArchive, "C:\\old\\冷色瓷面.voz"));  // 12 GBK bytes
    EXPECT_EQ(m.Read(kArchive), Archive({Member("VOTAVK41.BMP", "BM12"), Member("冷色瓷面.voz", "skin")}, 2));

    ExpectRefused("C:\\old\\vorndwdw.txt1");  // 13 bytes
    ExpectRefused("");
    ExpectRefused("C:\\old\\");
}

TEST_F(ArchiveWriterTest, GbkTrailByteBackslashDoesNotSplitTheName) {
    // 0x81 0x5C is one GBK character whose second byte is "\".
    std::string path = "C:\\old\\\x81\x5C" "a.txt";
    m.AddFile(path, "x");
    ASSERT_TRUE(AddFileToArchive(kArchive, path.c_str()));
    EXPECT_EQ(m.Read(kArchive), Archive({Member("\x81\x5C" "a.txt", "x")}, 1));
}

TEST_F(ArchiveWriterTest, DuplicateNameIsRefusedCaseSensitively) {
    ASSERT_TRUE(AddFileToArchive(kArchive, "C:\\old\\vorndwdw.txt"));
    ExpectRefused("C:\\old\\vorndwdw.txt");
    // The same name from another directory is still the same member name.
    m.AddDir("C:\\other");
    m.AddFile("C:\\other\\vorndwdw.txt", "other");
    ExpectRefused("C:\\other\\vorndwdw.txt");
    // Names compare byte for byte: the member name comes from the path as given.
    EXPECT_TRUE(AddFileToArchive(kArchive, "C:\\other\\VORNDWDW.TXT"));
}

TEST_F(ArchiveWriterTest, UnreadableOrMissingSourceLeavesNoArchiveBehind) {
    ExpectRefused("C:\\old\\missing.txt");
    EXPECT_FALSE(m.Exists(kArchive));
    m.Entry("C:\\old\\vorndwdw.txt")->unreadable = true;
    ExpectRefused("C:\\old\\vorndwdw.txt");
    m.Entry("C:\\old\\vorndwdw.txt")->unreadable = false;
    m.Entry("C:\\old\\vorndwdw.txt")->noAccess = true;
    ExpectRefused("C:\\old\\vorndwdw.txt");
    EXPECT_FALSE(m.Exists(kArchive));

    ASSERT_TRUE(AddFileToArchive(kArchive, "C:\\old\\voszsj43.voh"));
    ExpectRefused("C:\\old\\vorndwdw.txt");  // an existing archive is untouched as well
}

// Deflate makes noise a little longer: the compressor must be offered more
// than the source's length, or every incompressible file over 8 KiB fails.
TEST_F(ArchiveWriterTest, IncompressibleSourceOfAnySizeIsAdded) {
    m.AddFile("C:\\old\\vornpymb.ov1", testvoz::Noise(8193, 2));
    m.AddFile("C:\\old\\cwb.ov1", testvoz::Noise(300000, 3));
    ASSERT_TRUE(AddFileToArchive(kArchive, "C:\\old\\vornpymb.ov1"));
    ASSERT_TRUE(AddFileToArchive(kArchive, "C:\\old\\cwb.ov1"));
    EXPECT_EQ(m.Read(kArchive),
              Archive({Member("vornpymb.ov1", testvoz::Noise(8193, 2)), Member("cwb.ov1", testvoz::Noise(300000, 3))},
                      2));
    EXPECT_EQ(m.liveAllocations, 0u);
}

TEST_F(ArchiveWriterTest, WithoutMd5NothingIsAdded) {
    m.md5Available = false;
    ExpectRefused("C:\\old\\vorndwdw.txt");
    EXPECT_FALSE(m.Exists(kArchive));
}

TEST_F(ArchiveWriterTest, ArchiveThatCannotBeOpenedIsNeitherReplacedNorTruncated) {
    ASSERT_TRUE(AddFileToArchive(kArchive, "C:\\old\\voszsj43.voh"));
    m.Entry(kArchive)->locked = true;
    ExpectRefused("C:\\old\\vorndwdw.txt");
    m.Entry(kArchive)->locked = false;
    m.Entry(kArchive)->attributes = FILE_ATTRIBUTE_READONLY;
    ExpectRefused("C:\\old\\vorndwdw.txt");
}

TEST_F(ArchiveWriterTest, DamagedArchivesAreLeftAlone) {
    std::string one = Member("a.txt", "alpha");
    std::string two = Member("b.txt", "beta");
    std::string good = Archive({one, two}, 2);
    std::vector<std::string> damaged;
    damaged.push_back(good.substr(0, 9));                     // shorter than a header
    damaged.push_back(good.substr(0, good.size() - 1));       // last member cut short
    damaged.push_back(Archive({one}, 2));                     // count too high
    damaged.push_back(Archive({one, two}, 0xFFFFFFFFu));      // huge count
    std::string longLength = good;
    longLength.replace(10 + 52, 4, Le32(0x7FFFFFF0u));        // compressed length past the end
    damaged.push_back(longLength);
    std::string marker = good;
    marker[10 + one.size() + 1] = 'X';                        // second record's marker
    damaged.push_back(marker);
    std::string unterminated = good;
    unterminated.replace(12, 16, "ABCDEFGHIJKLMNOP");         // name fills its field
    damaged.push_back(unterminated);
    std::string legacy = good;
    legacy[1] = 'O';                                          // legacy records cannot be mixed in
    damaged.push_back(legacy);
    std::string total = good;
    total.replace(2, 4, Le32(10));                            // header length disagrees with members
    damaged.push_back(total);
    std::string signature = good;
    signature[0] = 'W';
    damaged.push_back(signature);

    for (size_t i = 0; i < damaged.size(); i++) {
        SCOPED_TRACE(i);
        m.AddFile(kArchive, damaged[i]);
        ExpectRefused("C:\\old\\vorndwdw.txt");
    }
}

TEST_F(ArchiveWriterTest, BytesAfterTheLastMemberAreOverwritten) {
    // Like the payload resource: four zero bytes after the archive's end.
    std::string base = Archive({Member("a.txt", "alpha")}, 1);
    m.AddFile(kArchive, base + std::string(4, '\0'));
    ASSERT_TRUE(AddFileToArchive(kArchive, "C:\\old\\voszsj43.voh"));
    EXPECT_EQ(m.Read(kArchive),
              Archive({Member("a.txt", "alpha"), Member("voszsj43.voh", m.Read("C:\\old\\voszsj43.voh"))}, 2));
}

// Every single failing call, on a new archive, an existing one, and one with
// bytes after its last member: the run either adds the member exactly or
// leaves every file as it was.
TEST_F(ArchiveWriterTest, FaultSweep) {
    m.AddFile("C:\\old\\vorncyzk.bak", std::string(30000, 'w') + testvoz::Noise(2000, 4));
    std::string source = m.Read("C:\\old\\vorncyzk.bak");
    std::string first = Member("voszsj43.voh", m.Read("C:\\old\\voszsj43.voh"));
    for (int existing = 0; existing < 3; existing++) {
        SCOPED_TRACE(existing == 0 ? "new archive" : existing == 1 ? "existing archive" : "trailing bytes");
        std::vector<std::string> members;
        if (existing) members.push_back(first);
        std::string before = Archive(members, (uint32_t)members.size());
        if (existing == 2) before += "TAIL";
        members.push_back(Member("vorncyzk.bak", source));
        std::string after = Archive(members, (uint32_t)members.size());

        int successes = 0, failures = 0;
        bool added = false;
        auto files = [](const sim::Machine& run) {
            Snapshot snap;
            for (auto& kv : run.files) snap[kv.first] = std::make_pair(kv.second.data, kv.second.attributes);
            return snap;
        };
        SweepFaults(
            [&](sim::Machine& run) {
                run.files = m.files;
                run.Remove(kArchive);
                if (existing) run.AddFile(kArchive, before);
            },
            files, [&] { added = AddFileToArchive(kArchive, "C:\\old\\vorncyzk.bak"); },
            [&](sim::Machine& run, Snapshot snapshot, bool last) {
                EXPECT_EQ(run.liveAllocations, 0u);
                if (added) {
                    successes++;
                    EXPECT_EQ(run.Read(kArchive), after) << run.failedCall;
                    Snapshot now = files(run);
                    now.erase(run.Resolve(kArchive));
                    snapshot.erase(run.Resolve(kArchive));
                    EXPECT_TRUE(now == snapshot);
                } else {
                    failures++;
                    EXPECT_TRUE(files(run) == snapshot) << "failed call " << run.failedCall;
                    EXPECT_EQ(run.Exists(kArchive), existing != 0);
                }
                if (last) {
                    EXPECT_TRUE(added);
                }
            });
        sim::Use(&m);
        EXPECT_GT(failures, 3);
        EXPECT_GE(successes, 1);
    }
}
