// Damaged archives fed to the member walk and the lookup: every walk ends,
// and nothing it hands out points outside the archive's bytes.  The archives
// sit in exactly-sized heap blocks, so a sanitizer or valgrind run catches
// any read past the end as well.
#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "payload/voz.h"

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes Deflate(const std::string& s) {
    uLongf cb = compressBound(s.size());
    Bytes z(cb);
    compress(z.data(), &cb, (const Bytef*)s.data(), s.size());
    z.resize(cb);
    return z;
}

// A small archive of three members in either format.
Bytes SmallArchive(bool legacy, std::vector<std::string>* contents = nullptr) {
    const char* names[3] = {"tavk1.bmp", "vorn1.wav", "冷色瓷面.voz"};
    std::vector<std::string> data = {"BM" + std::string(300, 'p'), "RIFF" + std::string(80, 'w'), "V0 inner"};
    Bytes out(kVozHeaderBytes);
    for (int i = 0; i < 3; i++) {
        Bytes z = Deflate(data[i]);
        size_t at = out.size();
        if (legacy) {
            out.resize(at + kVozLegacyRecordBytes);
            VozWriteLegacyRecord(out.data() + at, names[i], (uint32_t)z.size());
        } else {
            out.resize(at + kVozRecordBytes);
            VozWriteRecord(out.data() + at, names[i], "0123456789ABCDEF0123456789ABCDEF", (uint32_t)z.size());
        }
        out.insert(out.end(), z.begin(), z.end());
    }
    VozWriteHeader(out.data(), legacy, (uint32_t)out.size(), 3);
    if (contents) *contents = data;
    return out;
}

// Walks `bytes` from an exactly-sized copy with both marker rules and checks
// every member it yields.  Returns the members of the exact walk.
uint32_t CheckWalk(const Bytes& bytes) {
    size_t n = bytes.size();
    std::unique_ptr<unsigned char[]> block(new unsigned char[n]);
    if (n) memcpy(block.get(), bytes.data(), n);
    const unsigned char* begin = block.get();
    const unsigned char* end = begin + n;
    uint32_t exactCount = 0;
    for (VozMarkerRule rule : {kMarkerExact, kMarkerLenient}) {
        MemberIterator it;
        if (!VozBegin(&it, begin, n, rule)) {
            EXPECT_LT(n, (size_t)kVozHeaderBytes);
            continue;
        }
        size_t cbRecord = it.legacy ? kVozLegacyRecordBytes : kVozRecordBytes;
        size_t cbName = it.legacy ? kVozLegacyNameField : kVozNameField;
        // Each member takes at least a record: the walk cannot yield more.
        size_t bound = (n - kVozHeaderBytes) / cbRecord;
        VozMember m;
        uint32_t yielded = 0;
        while (VozNext(&it, &m)) {
            if (yielded > bound) {
                ADD_FAILURE() << "walk does not end";
                break;
            }
            EXPECT_GE(m.record, begin + kVozHeaderBytes);
            EXPECT_LE(m.record + cbRecord, end);
            EXPECT_EQ(m.compressed, m.record + cbRecord);
            EXPECT_LE((size_t)m.cbCompressed, (size_t)(end - m.compressed));
            EXPECT_TRUE(memchr(m.name, 0, cbName) != nullptr) << "name runs out of its field";
            EXPECT_EQ(m.index, yielded);
            EXPECT_EQ(m.digest == nullptr, it.legacy);
            yielded++;
        }
        EXPECT_LE(yielded, it.count);
        EXPECT_EQ(it.broken, yielded < it.count);
        if (rule == kMarkerExact) exactCount = yielded;
    }
    return exactCount;
}

// Looks each name up in an exactly-sized copy with an exactly-sized output.
void CheckLookup(const Bytes& bytes, const std::vector<std::string>& contents) {
    static const char* names[] = {"tavk1.bmp", "vorn1.wav", "冷色瓷面.voz", "missing", ""};
    size_t n = bytes.size();
    std::unique_ptr<unsigned char[]> block(new unsigned char[n ? n : 1]);
    if (n) memcpy(block.get(), bytes.data(), n);
    for (size_t i = 0; i < 5; i++) {
        size_t cbOut = i < 3 ? contents[i].size() : 16;
        std::unique_ptr<unsigned char[]> out(new unsigned char[cbOut]);
        memset(out.get(), 0xbd, cbOut);
        size_t got = FindMember(block.get(), n, names[i], out.get(), cbOut);
        ASSERT_LE(got, cbOut);
        if (got == 0 && n >= kVozHeaderBytes) {
            EXPECT_EQ(out[0], 0);
            EXPECT_EQ(out[1], 0);
        }
    }
}

}  // namespace

TEST(VozFuzz, IntactArchivesWalkCompletelyAndExpand) {
    for (bool legacy : {false, true}) {
        std::vector<std::string> contents;
        Bytes a = SmallArchive(legacy, &contents);
        EXPECT_EQ(CheckWalk(a), 3u);
        std::vector<unsigned char> out(contents[0].size());
        EXPECT_EQ(FindMember(a.data(), a.size(), "tavk1.bmp", out.data(), out.size()), contents[0].size());
        EXPECT_EQ(std::string(out.begin(), out.end()), contents[0]);
        // One byte short of the member's size: the lookup gives nothing back.
        EXPECT_EQ(FindMember(a.data(), a.size(), "tavk1.bmp", out.data(), out.size() - 1), 0u);
        CheckLookup(a, contents);
    }
}

TEST(VozFuzz, EveryTruncationEndsTheWalkInsideTheBytes) {
    for (bool legacy : {false, true}) {
        std::vector<std::string> contents;
        Bytes a = SmallArchive(legacy, &contents);
        uint32_t previous = 0;
        for (size_t n = 0; n <= a.size(); n++) {
            SCOPED_TRACE(n);
            Bytes cut(a.begin(), a.begin() + n);
            uint32_t members = CheckWalk(cut);
            EXPECT_GE(members, previous);  // a longer prefix never yields fewer members
            previous = members;
            CheckLookup(cut, contents);
        }
        EXPECT_EQ(previous, 3u);
    }
}

TEST(VozFuzz, RandomByteFlips) {
    std::mt19937 rng(20110601);
    for (bool legacy : {false, true}) {
        std::vector<std::string> contents;
        Bytes a = SmallArchive(legacy, &contents);
        for (int round = 0; round < 3000; round++) {
            Bytes b = a;
            int flips = 1 + (int)(rng() % 6);
            for (int f = 0; f < flips; f++) b[rng() % b.size()] ^= (unsigned char)(1u << (rng() % 8));
            if (round % 7 == 0) b[rng() % b.size()] = (unsigned char)rng();
            CheckWalk(b);
            CheckLookup(b, contents);
            if (HasFatalFailure()) return;
        }
    }
}

TEST(VozFuzz, HugeCountsAndLengths) {
    for (bool legacy : {false, true}) {
        std::vector<std::string> contents;
        Bytes a = SmallArchive(legacy, &contents);
        size_t cbRecord = legacy ? kVozLegacyRecordBytes : kVozRecordBytes;
        size_t lengthAt = legacy ? 16 : 52;

        Bytes huge = a;
        VozPutLe32(huge.data() + 6, 0xFFFFFFFFu);
        EXPECT_EQ(CheckWalk(huge), 3u);  // the three members, then the walk ends at the bytes' end
        CheckLookup(huge, contents);

        for (uint32_t length : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, (uint32_t)a.size()}) {
            Bytes b = a;
            VozPutLe32(b.data() + kVozHeaderBytes + lengthAt, length);
            EXPECT_EQ(CheckWalk(b), 0u) << length;
            CheckLookup(b, contents);
        }
        // A length that reaches exactly the last byte is inside; one more is not.
        Bytes last = a;
        size_t lastRecord = a.size();
        {
            MemberIterator it;
            VozMember m;
            VozBegin(&it, a.data(), a.size(), kMarkerExact);
            VozNext(&it, &m);
            VozNext(&it, &m);
            VozNext(&it, &m);
            lastRecord = m.record - a.data();
        }
        uint32_t toEnd = (uint32_t)(a.size() - lastRecord - cbRecord);
        VozPutLe32(last.data() + lastRecord + lengthAt, toEnd);
        EXPECT_EQ(CheckWalk(last), 3u);
        VozPutLe32(last.data() + lastRecord + lengthAt, toEnd + 1);
        EXPECT_EQ(CheckWalk(last), 2u);

        // Zero-length members with a count far beyond them.
        Bytes empties(kVozHeaderBytes);
        for (int i = 0; i < 50; i++) {
            size_t at = empties.size();
            empties.resize(at + cbRecord);
            if (legacy)
                VozWriteLegacyRecord(empties.data() + at, "e", 0);
            else
                VozWriteRecord(empties.data() + at, "e", "0123456789ABCDEF0123456789ABCDEF", 0);
        }
        VozWriteHeader(empties.data(), legacy, (uint32_t)empties.size(), 0x7FFFFFFF);
        EXPECT_EQ(CheckWalk(empties), 50u);
        CheckLookup(empties, {"xx", "xx", "xx"});
    }
}
