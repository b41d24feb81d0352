// The settings record, the install stamp and the options page's prefill
// from an earlier network settings file.
#include "sim_fixture.h"
#include "userdata/userdata.h"

namespace {
const char* kDir = "C:\\Program Files\\vornhu\\";

std::string At(const std::string& name) { return std::string(kDir) + name; }

std::string Value(const std::string& text, const char* key) {
    char out[kSettingValueBytes];
    memset(out, 0x7f, sizeof(out));
    FindSettingValue(text.data(), text.size(), key, out);
    return out;
}
}  // namespace

class SettingsTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        m.AddDir(kDir);
        CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), kDir);
    }
    std::string Record() { return m.Read(At("voszsj43.voh")); }
};

TEST_F(SettingsTest, RecordTakesTheWindowModeOverWhatWasRead) {
    // The record as unpacked: every byte 0xAA, so the fields set stand out.
    const std::string shipped(200, '\xAA');
    struct Case {
        UINT codePage;
        BYTE mode;
        char offset0, offset21;
    } cases[] = {{936, 1, 0, 0}, {936, 2, 1, 0}, {950, 3, 4, 1}, {950, 4, 3, 1}, {936, 9, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.codePage) + " mode " + std::to_string(c.mode));
        m.AddFile(At("voszsj43.voh"), shipped);
        g_ctx.oemCodePage = c.codePage;
        g_ctx.windowMode = c.mode;
        WriteSettingsRecord();
        std::string want = shipped;
        want[0] = c.offset0;
        want[21] = c.offset21;
        want[1] = want[36] = want[43] = 1;
        want[54] = want[62] = want[63] = 0;
        if (c.codePage == 950) want[15] = 1;  // on 936 offset 15 keeps what was read
        EXPECT_EQ(Record(), want);
    }

    // A short record keeps the default bytes after its end; none at all is
    // the default record with the fields set.
    g_ctx.oemCodePage = 936;
    g_ctx.windowMode = 1;
    m.AddFile(At("voszsj43.voh"), std::string(10, '\x05'));
    WriteSettingsRecord();
    std::string got = Record();
    ASSERT_EQ(got.size(), 200u);
    EXPECT_EQ(got.substr(2, 8), std::string(8, '\x05'));
    EXPECT_EQ(got[10], 1);  // default
    EXPECT_EQ(got[8], 5);   // read
    m.Remove(At("voszsj43.voh"));
    WriteSettingsRecord();
    got = Record();
    std::string defaults(200, '\0');
    defaults[8] = 54;
    for (int i : {1, 9, 10, 12, 15, 19, 22, 24, 36, 41, 43, 58}) defaults[i] = 1;
    EXPECT_EQ(got, defaults);
}

TEST_F(SettingsTest, UnderKeepOnlyTheStampIsWritten) {
    m.AddFile(At("voszsj43.voh"), "the user's own record");
    g_ctx.backupState = kBackupKeep;
    m.tickCount = 987654;
    WriteSettingsRecord();
    WriteInstallStamp();
    EXPECT_EQ(Record(), "the user's own record");
    EXPECT_EQ(m.Read(At("install.voh")), "987654");

    // A tick count past 2^31 is written as "%d" writes it.
    m.tickCount = 0x80000001u;
    WriteInstallStamp();
    EXPECT_EQ(m.Read(At("install.voh")), "-2147483647");
}

TEST_F(SettingsTest, FindSettingValue) {
    EXPECT_EQ(Value("VONETURL1=\r\nVONETURL2=www.a.cn\r\n", "VONETURL1="), "");
    EXPECT_EQ(Value("VONETURL1=\r\nVONETURL2=www.a.cn\r\n", "VONETURL2="), "www.a.cn");
    EXPECT_EQ(Value("xxVONETURL2=www.a.cn b", "VONETURL2="), "www.a.cn");  // anywhere; stops at a space
    EXPECT_EQ(Value("VONETURL2=a\tb", "VONETURL2="), "a");
    EXPECT_EQ(Value("VONETURL2=www.某大学.cn\r\n", "VONETURL2="), "www.某大学.cn");  // GBK bytes are above 32
    EXPECT_EQ(Value("vonetURL2=x", "VONETURL2="), "");                           // case-sensitive
    EXPECT_EQ(Value("VONETURL2=" + std::string(300, 'w'), "VONETURL2="), std::string(250, 'w'));
    // The text is bounded by its length, not by a zero: the value ends with it.
    std::string text = "VONETURL2=abc";
    char out[kSettingValueBytes];
    FindSettingValue(text.data(), text.size() - 1, "VONETURL2=", out);
    EXPECT_STREQ(out, "ab");
    FindSettingValue(text.data(), 9, "VONETURL2=", out);
    EXPECT_STREQ(out, "");
}

TEST_F(SettingsTest, PrefillFindsTheAddressTheLastInstallWrote) {
    HWND field = CreateWindowExA(0, "EDIT", " ", 0, 130, 195, 230, 20, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(field, nullptr);
    auto Text = [&]() {
        char text[300] = "";
        GetWindowTextA(field, text, sizeof(text));
        return std::string(text);
    };
    // As this program writes it: the address on the second line.
    SetOrganisationAddress("http://www.某大学.edu.cn");
    WriteConfigurationFiles();
    LoadOrganisationAddress(field);
    EXPECT_EQ(Text(), "http://www.某大学.edu.cn");

    // A first line with a value wins.
    m.AddFile(At("vonetsj.dat"), "VONETURL1=www.one.cn\r\nVONETURL2=www.two.cn\r\n");
    LoadOrganisationAddress(field);
    EXPECT_EQ(Text(), "www.one.cn");

    // A value longer than the field holds is cut whole characters at a time.
    m.AddFile(At("vonetsj.dat"), "VONETURL2=a" + std::string(120, '\xB0'));
    LoadOrganisationAddress(field);
    EXPECT_EQ(Text(), "a" + std::string(98, '\xB0'));

    m.Remove(At("vonetsj.dat"));
    LoadOrganisationAddress(field);
    EXPECT_EQ(Text(), "");
}
