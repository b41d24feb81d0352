// The skin step: payload verification, the window-mode and skin dialog, and
// the unpack and verification of the chosen skin archive.
#include "archive_builder.h"
#include "sim_fixture.h"

using testvoz::Build;

namespace {
const char* kDir = "C:\\Program Files\\vornhu\\";
std::string At(const std::string& name) { return std::string(kDir) + name; }

const char* kSkinMessage = "皮肤文件没有成功复制，请重新安装皮肤文件！\r\n";

// A member of skin `tag`; long enough to be longer than its compressed bytes,
// which is what the verification of legacy archives checks.
std::string Piece(const std::string& tag, int n) { return tag + " " + std::to_string(n) + std::string(200, '.'); }

// A skin archive: the eight members, each naming its skin.
std::string Skin(const std::string& tag) {
    std::vector<testvoz::Member> members = {{"vobmp8.voh", Piece(tag, 8), ""}};
    for (int i = 1; i <= 7; i++) members.push_back({"vobmpsx" + std::to_string(i) + ".bmp", Piece(tag, i), ""});
    return Build(members, true);
}
}  // namespace

class SkinTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        Prepare(m);
    }
    // The installed payload and the setup window on `machine`, made current.
    void Prepare(sim::Machine& machine) {
        sim::Use(&machine);
        ClosePayload();
        ResetInstallContext();
        g_ctx.oemCodePage = 936;
        g_ctx.backupState = kBackupDone;
        CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), kDir);
        machine.AddDir(kDir);
        payload = Build({{"vorn1.wav", "wave", ""},
                         {"vorncyzk.bak", "phrases", ""},
                         {"冷色瓷面.voz", Skin("cool"), ""},
                         {"粉色瓷面.voz", Skin("pink"), ""},
                         {"小天使.voz", Skin("angel"), ""}});
        machine.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(payload)});
        ASSERT_TRUE(OpenPayload());
        ASSERT_TRUE(ExtractArchive(g_ctx.payload, g_ctx.payloadBytes, g_ctx.workBuffer));
        // The install changed the phrase list: it is on the exclusion list.
        machine.AddFile(At("vorncyzk.bak"), "phrases with a trailer");
        g_ctx.setupWindow =
            machine.gui.AddWindow("installWClass", u"智能砚舟系统安装3264", nullptr, RECT{312, 229, 712, 539});
        machine.boxes.clear();
    }
    std::string payload;
};

TEST_F(SkinTest, OnlyOkLeavesTheDialogAndItsChoicesAreKept) {
    m.gui.dialogInput = {{sim::DialogInput::kEsc, 0},     {sim::DialogInput::kClose, 0},
                     {sim::DialogInput::kClick, 102}, {sim::DialogInput::kClick, 106},
                     {sim::DialogInput::kClick, 112}, {sim::DialogInput::kClick, 105}};
    ChooseSkinAndWindowMode();

    ASSERT_EQ(m.gui.dialogs.size(), 1u);
    const sim::DialogCall& d = m.gui.dialogs[0];
    EXPECT_EQ(d.name, "PYKEY");
    EXPECT_EQ(d.owner, g_ctx.setupWindow);
    EXPECT_TRUE(d.ownerDisabled);
    EXPECT_EQ(d.left, 312);  // at the setup window's corner
    EXPECT_EQ(d.top, 229);
    EXPECT_EQ(d.checksAfterInit,
              (std::map<int, int>{{101, 1}, {102, 0}, {106, 0}, {107, 0}, {110, 1}, {111, 0}, {112, 0}}));
    EXPECT_EQ(d.inputsBeforeEnd, 6u);  // Esc and the close box did not end it
    EXPECT_EQ(d.checks, (std::map<int, int>{{101, 0}, {102, 0}, {106, 1}, {107, 0}, {110, 0}, {111, 0}, {112, 1}}));
    EXPECT_EQ(g_ctx.windowMode, 3);
    EXPECT_EQ(g_ctx.skinChoice, 3);
    EXPECT_EQ(m.Read(At("vobmp8.voh")), Piece("angel", 8));
    EXPECT_EQ(m.Read(At("vobmpsx7.bmp")), Piece("angel", 7));
    EXPECT_TRUE(m.boxes.empty()) << m.BoxTexts()[0];

    // Enter presses "确定" at once: two-line window and the first skin.
    m.gui.dialogs.clear();
    g_ctx.oemCodePage = 950;
    m.gui.dialogInput = {{sim::DialogInput::kEnter, 0}};
    ChooseSkinAndWindowMode();
    ASSERT_EQ(m.gui.dialogs.size(), 1u);
    EXPECT_EQ(m.gui.dialogs[0].name, "PYKEYB");
    EXPECT_EQ(g_ctx.windowMode, 1);
    EXPECT_EQ(g_ctx.skinChoice, 1);
    EXPECT_EQ(m.Read(At("vobmpsx3.bmp")), Piece("cool", 3));
}

TEST_F(SkinTest, KeepingTheEarlierDataSkipsTheDialogAndTheSkin) {
    g_ctx.backupState = kBackupKeep;
    ChooseSkinAndWindowMode();
    EXPECT_TRUE(m.gui.dialogs.empty());
    EXPECT_EQ(g_ctx.windowMode, 0);
    EXPECT_FALSE(m.Exists(At("vobmp8.voh")));
    EXPECT_TRUE(m.boxes.empty());

    // Without the dialog's template the defaults stand and the first skin is unpacked.
    g_ctx.backupState = kBackupDone;
    m.gui.dialogTemplates.clear();
    ChooseSkinAndWindowMode();
    EXPECT_EQ(g_ctx.windowMode, 1);
    EXPECT_EQ(g_ctx.skinChoice, 1);
    EXPECT_EQ(m.Read(At("vobmp8.voh")), Piece("cool", 8));
}

TEST_F(SkinTest, PayloadFilesThatFailAreListedAndTheDialogStillFollows) {
    m.Remove(At("vorn1.wav"));
    m.gui.dialogInput = {{sim::DialogInput::kClick, 105}};
    ChooseSkinAndWindowMode();
    ASSERT_EQ(m.boxes.size(), 1u);
    EXPECT_EQ(m.boxes[0].text,
              "vorn1.wav....有文件没有成功解压，请重新下载安装！\r\n\r\n\r\n上述文件没有成功复制，请重新下载安装！\r\n");
    EXPECT_EQ(m.boxes[0].title, "智能砚舟");
    EXPECT_EQ(m.gui.dialogs.size(), 1u);

    // The skin archive is gone too: its message follows the first text.
    m.boxes.clear();
    m.Remove(At("冷色瓷面.voz"));
    ChooseSkinAndWindowMode();
    ASSERT_EQ(m.boxes.size(), 2u);
    EXPECT_EQ(m.boxes[1].text, m.boxes[0].text + kSkinMessage);
}

TEST_F(SkinTest, LongDamagedOrIncompleteSkinArchivesGiveTheSkinMessage) {
    std::string filler(140000, '\0');
    uint32_t seed = 12345;
    for (char& c : filler) c = (char)((seed = seed * 1103515245u + 12345u) >> 24);  // incompressible
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"longer than 128 KiB", Build({{"vobmp8.voh", Piece("long", 8), ""}, {"filler.bin", filler, ""}}, true)},
        {"no members", Build({}, true)},
        {"not an archive", "this is not a skin archive at all"},
        {"cut short", Skin("cut").substr(0, 60)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        m.boxes.clear();
        m.AddFile(At("冷色瓷面.voz"), c.second);
        m.gui.dialogInput = {{sim::DialogInput::kClick, 105}};
        ChooseSkinAndWindowMode();
        ASSERT_FALSE(m.boxes.empty());
        const std::string& text = m.boxes.back().text;
        ASSERT_GE(text.size(), strlen(kSkinMessage));
        EXPECT_EQ(text.substr(text.size() - strlen(kSkinMessage)), kSkinMessage);
    }
    // A member whose bytes do not expand never reaches the directory, and is named.
    m.boxes.clear();
    m.Remove(At("vobmpsx2.bmp"));
    std::string damaged = Skin("cool");
    size_t record = damaged.find("vobmpsx2.bmp") - 2;
    damaged[record + kVozLegacyRecordBytes] = '\xff';
    m.AddFile(At("冷色瓷面.voz"), damaged);
    ChooseSkinAndWindowMode();
    ASSERT_FALSE(m.boxes.empty());
    const std::string& text = m.boxes.back().text;
    EXPECT_EQ(text, "vobmpsx2.bmp....有文件没有成功解压，请重新下载安装！\r\n\r\n\r\n" + std::string(kSkinMessage));
}

TEST_F(SkinTest, AFailingCallNeverLeavesASkinFileDamagedWithoutAMessage) {
    SweepFaults(
        [&](sim::Machine& run) {
            Prepare(run);
            run.callCount = 0;
        },
        [](sim::Machine&) { return 0; },
        [] { ChooseSkinAndWindowMode(); },
        [&](sim::Machine& run, int, bool last) {
            bool whole = run.Read(At("vobmp8.voh")) == Piece("cool", 8);
            for (int i = 1; i <= 7; i++)
                whole = whole && run.Read(At("vobmpsx" + std::to_string(i) + ".bmp")) == Piece("cool", i);
            EXPECT_TRUE(whole || !run.boxes.empty());
            if (last) {
                EXPECT_TRUE(whole && run.boxes.empty());
            }
            EXPECT_EQ(g_ctx.skinChoice, 1);
            ClosePayload();
        });
    sim::Use(&m);
}
