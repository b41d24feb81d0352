// The sample payload's members where the setup program reads their bytes:
// phrase list, version texts, splash picture, skin archives, settings record.
#include <gtest/gtest.h>

#include <set>

#include "payload/voz.h"
#include "tools/common/payload_names.h"
#include "tools/common/samplegen.h"
#include "tools/common/vozpack.h"

using tool::Bytes;

namespace {

Bytes Member(const char* name) {
    std::string error;
    Bytes b = tool::MakeSampleMember(name, &error);
    EXPECT_FALSE(b.empty()) << error;
    return b;
}

uint32_t Le32(const Bytes& b, size_t at) { return VozLe32(b.data() + at); }

}  // namespace

TEST(SamplePayload, EveryNameIsMadeWithItsShippedSize) {
    std::set<std::string> names;
    for (const tool::PayloadName& p : tool::kPayloadNames) {
        names.insert(p.name);
        if (std::string(p.name) == "setupw64.exe") continue;  // the x64 build's own bytes
        Bytes b = Member(p.name);
        if (p.shippedBytes) {
            EXPECT_EQ(b.size(), p.shippedBytes) << p.name;
        }
        EXPECT_LE(b.size(), tool::kMaxPayloadMemberBytes) << p.name;
    }
    EXPECT_EQ(names.size(), 88u);
    std::string error;
    EXPECT_TRUE(tool::MakeSampleMember("nosuch.txt", &error).empty());
}

TEST(SamplePayload, PhraseListCarriesTheShippedTrailerFigures) {
    Bytes b = Member("vorncyzk.bak");
    // The unpacking's trailer walk: words of two or more double-byte
    // characters, each followed by "; ".
    uint32_t sum = 0, words = 0;
    size_t r = 0, n = b.size();
    while (r < n) {
        int k = 0;
        while (r + 1 < n && b[r] > 0x80 && b[r + 1] > 0x3F) {
            EXPECT_TRUE(b[r] >= 0xB0 && b[r] <= 0xF7 && b[r + 1] >= 0xA1 && b[r + 1] <= 0xFE) << r;
            sum += b[r] + b[r + 1];
            r += 2;
            k++;
        }
        ASSERT_GE(k, 2) << "word at " << r;
        ASSERT_TRUE(r + 1 < n && b[r] == ';' && b[r + 1] == ' ') << r;
        r += 2;
        words++;
    }
    EXPECT_EQ(words, 80132u);
    EXPECT_EQ(sum, 86188017u);
    Bytes pinyin = Member("vornpyck.bak");
    EXPECT_EQ(std::string(pinyin.end() - 2, pinyin.end()), "; ");
}

TEST(SamplePayload, StubInputMethodsCarryOnePatchableVersionText) {
    struct Stub {
        const char* name;
        char version;
    } stubs[] = {{"vorn320.ime", '3'}, {"vorn321.ime", '7'}, {"vorn640.ime", '3'}, {"vorn641.ime", '7'}};
    Bytes text = tool::VersionText("6.3");
    ASSERT_EQ(text.size(), 16u + 10u);
    std::set<Bytes> bodies;
    for (const Stub& s : stubs) {
        Bytes b = Member(s.name);
        EXPECT_EQ(b[0], 'M');
        EXPECT_EQ(b[1], 'Z');
        size_t found = 0, at = 0;
        for (size_t i = 0; i + 16 <= b.size(); i++)
            if (std::equal(text.begin(), text.begin() + 16, b.begin() + i)) found++, at = i;
        ASSERT_EQ(found, 1u) << s.name;
        size_t j = at + 16;  // what the patch looks at
        EXPECT_EQ(b[j], 0x20);
        EXPECT_EQ(b[j + 4], '6');
        EXPECT_EQ(b[j + 6], '.');
        EXPECT_EQ(b[j + 8], s.version) << s.name;
        bodies.insert(b);
    }
    for (const char* name : {"vornhu4.ime", "vornhu64.ime", "vorndel.exe", "voqdel64.exe", "vorntavk.exe",
                             "vorntav6.exe"}) {
        Bytes b = Member(name);
        EXPECT_EQ(b[0], 'M');
        bodies.insert(b);
    }
    EXPECT_EQ(bodies.size(), 10u) << "two program members have the same bytes";
}

TEST(SamplePayload, SplashIsA401By310TwentyFourBitBitmap) {
    Bytes b = Member("tavk1.bmp");
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(Le32(b, 2), 373296u);
    EXPECT_EQ(Le32(b, 10), 54u);
    EXPECT_EQ(Le32(b, 14), 40u);
    EXPECT_EQ(Le32(b, 18), 401u);
    EXPECT_EQ(Le32(b, 22), 310u);
    EXPECT_EQ(b[28], 24);
    EXPECT_EQ(Le32(b, 30), 0u);  // uncompressed
    // Not a flat picture: the visible top rows differ from the bottom ones.
    size_t stride = 1204, top = 54 + stride * 309, bottom = 54;
    EXPECT_NE(Bytes(b.begin() + top, b.begin() + top + 1203), Bytes(b.begin() + bottom, b.begin() + bottom + 1203));
}

TEST(SamplePayload, SkinArchivesAreLegacyWithTheEightMembers) {
    for (const char* skin : {"冷色瓷面.voz", "粉色瓷面.voz", "小天使.voz"}) {
        SCOPED_TRACE(skin);
        Bytes b = Member(skin);
        EXPECT_EQ(b[1], 'O');
        EXPECT_EQ(Le32(b, 2), b.size());
        MemberIterator it;
        VozMember m;
        ASSERT_TRUE(VozBegin(&it, b.data(), b.size(), kMarkerExact));
        std::vector<std::string> names;
        while (VozNext(&it, &m)) {
            names.push_back(m.name);
            size_t n = strlen(m.name);
            for (size_t i = 2 + n + 1; i < 16; i++) {
                EXPECT_EQ(m.record[i], 0xCC);
            }
            Bytes out;
            ASSERT_EQ(tool::Expand(m.compressed, m.cbCompressed, 1 << 20, &out), tool::kExpandOk);
            if (names.size() > 1) {
                EXPECT_EQ(std::string(out.begin(), out.begin() + 2), "BM");
            }
        }
        EXPECT_FALSE(it.broken);
        EXPECT_EQ(names, (std::vector<std::string>{"vobmp8.voh", "vobmpsx1.bmp", "vobmpsx2.bmp", "vobmpsx3.bmp",
                                                   "vobmpsx4.bmp", "vobmpsx5.bmp", "vobmpsx6.bmp", "vobmpsx7.bmp"}));
    }
}

TEST(SamplePayload, SettingsRecordAndInnerArchive) {
    Bytes r = Member("voszsj43.voh");
    ASSERT_EQ(r.size(), 200u);
    EXPECT_EQ(r[8], 54);
    EXPECT_EQ(r[15], 0);  // differs from the built-in default, so a test can tell them apart

    Bytes q = Member("qxfc.voz");
    EXPECT_EQ(q[1], '0');
    MemberIterator it;
    VozMember m;
    VozBegin(&it, q.data(), q.size(), kMarkerExact);
    int count = 0;
    while (VozNext(&it, &m)) {
        Bytes out;
        ASSERT_EQ(tool::Expand(m.compressed, m.cbCompressed, 1 << 20, &out), tool::kExpandOk);
        EXPECT_EQ(std::string(m.digest, 32), tool::Md5Hex(out));
        count++;
    }
    EXPECT_EQ(count, 3);
    EXPECT_FALSE(it.broken);
}
