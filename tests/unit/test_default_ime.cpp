// The default-input-method check before the install and the activation of
// the installed input method on the last page.
#include "registry_snapshot.h"
#include "sim_fixture.h"

namespace {
const std::string kLayouts = "System\\CurrentControlSet\\Control\\Keyboard Layouts";
const std::string kUser = "Keyboard Layout\\Preload";
const std::string kDefault = ".DEFAULT\\Keyboard Layout\\Preload";
const HKL kOurs = (HKL)(ULONG_PTR)0xE0200804u;
const HKL kOther = (HKL)(ULONG_PTR)0xE0210804u;
const HKL kUs = (HKL)(ULONG_PTR)0x08040804u;

const std::u16string kOnlyIme =
    u"　　你以前安装的智能砚舟为系统默认输入法，并且是系统安装的唯一输入法，请通过微软的输入法管理器增加英文输入法，"
    u"并将智能砚舟输入法设置为系统非默认输入法后，重新启动机器才能安装新版本的智能砚舟！";
const std::u16string kDefaultIme =
    u"　　你以前安装的智能砚舟为系统默认输入法，请设置为系统非默认输入法后，重新启动机器才能安装新版本的智能砚舟！";
const std::u16string kActiveIme =
    u"　　你以前安装的砚舟五笔为系统默认输入法，请通过微软的输入法管理器将砚舟五笔输入法设置为系统非默认输入法后，"
    u"重新启动机器才能安装新版本的砚舟五笔！";
const std::u16string kQuestion = u"是否设置智能砚舟为系统非默认输入法？";
const std::u16string kRestart = u"请重新启动机器后安装智能砚舟！";
}  // namespace

class DefaultImeTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        g_ctx.oemCodePage = 936;
        m.SetString(HKEY_LOCAL_MACHINE, kLayouts + "\\E0200804", "Layout Text", "智能砚舟输入平台  6.3");
        m.SetString(HKEY_LOCAL_MACHINE, kLayouts + "\\E0210804", "Layout Text", "Another IME");
    }
    void SetList(HKEY root, const std::string& path, const std::vector<std::string>& ids) {
        m.DeleteKeyTree(root, path);
        m.Key(root, path, true);
        for (size_t i = 0; i < ids.size(); i++) m.SetString(root, path, std::to_string(i + 1), ids[i]);
    }
    std::string Entry(HKEY root, const std::string& path, int n) {
        std::string v = m.GetValue(root, path, std::to_string(n));
        while (!v.empty() && v.back() == 0) v.pop_back();
        return v;
    }
    // Boxes as (text, flags); every one has no owner and the install title.
    std::vector<std::pair<std::u16string, UINT>> Boxes() {
        std::vector<std::pair<std::u16string, UINT>> out;
        for (const sim::MessageBoxCall& b : m.boxes) {
            EXPECT_TRUE(b.wide);
            EXPECT_EQ(b.owner, nullptr);
            EXPECT_EQ(b.wtitle, u"智能砚舟安装");
            out.push_back(std::make_pair(b.wtext, b.flags));
        }
        return out;
    }
    void LoadLayouts() {
        m.keyboardLayouts = {{kUs, "00000804", u""},
                             {kOther, "E0210804", u"Another IME"},
                             {kOurs, "E0200804", u"智能砚舟输入平台  7.7"}};
        m.activeLayout = kUs;
    }
    int result = -1;
};

TEST_F(DefaultImeTest, DefaultInTheOnlyOrALongerListEndsTheRun) {
    SetList(HKEY_CURRENT_USER, kUser, {"E0200804"});
    auto before = regsnap::Take(m);
    EXPECT_EQ(CheckDefaultInputMethod(), 0);
    EXPECT_EQ(Boxes(), (std::vector<std::pair<std::u16string, UINT>>{{kOnlyIme, MB_OK}}));
    EXPECT_EQ(regsnap::Take(m), before);

    // 64-bit Windows: no offer to exchange.
    m.boxes.clear();
    SetList(HKEY_CURRENT_USER, kUser, {"E0200804", "00000804"});
    EXPECT_EQ(CheckDefaultInputMethod(), 0);
    EXPECT_EQ(Boxes(), (std::vector<std::pair<std::u16string, UINT>>{{kDefaultIme, MB_OK}}));
}

TEST_F(DefaultImeTest, On32BitWindowsYesExchangesTheFirstTwoEntriesOfBothLists) {
    m.Make32Bit();
    SetList(HKEY_CURRENT_USER, kUser, {"E0200804", "00000804", "00000409"});
    SetList(HKEY_USERS, kDefault, {"E0200804", "00000409"});
    m.answers = {IDNO};
    auto before = regsnap::Take(m);
    EXPECT_EQ(CheckDefaultInputMethod(), 0);
    EXPECT_EQ(Boxes(), (std::vector<std::pair<std::u16string, UINT>>{{kDefaultIme, MB_OK}, {kQuestion, MB_YESNO}}));
    EXPECT_EQ(regsnap::Take(m), before);

    m.boxes.clear();
    m.answers = {IDYES};
    EXPECT_EQ(CheckDefaultInputMethod(), 0);
    EXPECT_EQ(Boxes(), (std::vector<std::pair<std::u16string, UINT>>{
                           {kDefaultIme, MB_OK}, {kQuestion, MB_YESNO}, {kRestart, MB_OK}}));
    EXPECT_EQ(Entry(HKEY_CURRENT_USER, kUser, 1), "00000804");
    EXPECT_EQ(Entry(HKEY_CURRENT_USER, kUser, 2), "E0200804");
    EXPECT_EQ(Entry(HKEY_CURRENT_USER, kUser, 3), "00000409");
    // The default profile gets the current user's first two entries.
    EXPECT_EQ(Entry(HKEY_USERS, kDefault, 1), "00000804");
    EXPECT_EQ(Entry(HKEY_USERS, kDefault, 2), "E0200804");
    EXPECT_EQ(m.OpenKeyCount(), 0u);
}

TEST_F(DefaultImeTest, YesNeverMakesAnEmptyEntryTheDefault) {
    m.Make32Bit();
    SetList(HKEY_CURRENT_USER, kUser, {"E0200804", ""});
    SetList(HKEY_USERS, kDefault, {"E0200804", ""});
    m.answers = {IDYES};
    EXPECT_EQ(CheckDefaultInputMethod(), 0);
    EXPECT_EQ(Entry(HKEY_CURRENT_USER, kUser, 1), "E0200804");
    EXPECT_EQ(Entry(HKEY_USERS, kDefault, 1), "E0200804");
}

TEST_F(DefaultImeTest, ActiveLayoutDecidesWhenTheListDoesNot) {
    LoadLayouts();
    // In the list but not first, another layout active: the install goes on.
    SetList(HKEY_CURRENT_USER, kUser, {"00000804", "E0200804"});
    EXPECT_EQ(CheckDefaultInputMethod(), 1);
    m.activeLayout = kOther;
    EXPECT_EQ(CheckDefaultInputMethod(), 1);
    EXPECT_TRUE(m.boxes.empty());

    // Not in the list, but the setup program's own thread has it active.
    SetList(HKEY_CURRENT_USER, kUser, {"00000804"});
    m.activeLayout = kOurs;
    EXPECT_EQ(CheckDefaultInputMethod(), 0);
    EXPECT_EQ(Boxes(), (std::vector<std::pair<std::u16string, UINT>>{{kActiveIme, MB_OK}}));
}

// A Big5 system's narrow calls give the earlier version's name in Big5 when
// written by hand or with the traditional text, with "?" for two characters
// when written in UTF-16 with the simplified text: each is recognised, another
// input method is not.
TEST_F(DefaultImeTest, OnABig5SystemEveryFormOfTheEarlierVersionIsRecognised) {
    m.oemCodePage = m.ansiCodePage = 950;
    // Big5: 智能硯舟輸入平台  6.3, and 智能拼音輸入法
    m.SetString(HKEY_LOCAL_MACHINE, kLayouts + "\\E0220404", "Layout Text",
                "\xb4\xbc\xaf\xe0\xb5\x78\xa6\xe0\xbf\xe9\xa4\x4a\xa5\xad\xa5\x78  6.3");
    m.SetString(HKEY_LOCAL_MACHINE, kLayouts + "\\E0250404", "Layout Text",
                "\xb4\xbc\xaf\xe0\xab\xf7\xad\xb5\xbf\xe9\xa4\x4a\xaa\x6b");
    m.imeInstallResult = (HKL)(ULONG_PTR)0xE0230404u;
    ImmInstallIMEW(u"C:\\windows\\system32\\old1.ime", u"智能硯舟輸入平台  6.7");
    m.imeInstallResult = (HKL)(ULONG_PTR)0xE0240404u;
    ImmInstallIMEW(u"C:\\windows\\system32\\old2.ime", u"智能砚舟输入平台  6.3");
    for (const char* id : {"E0220404", "E0230404", "E0240404", "E0250404"}) {
        SetList(HKEY_CURRENT_USER, kUser, {id});
        EXPECT_EQ(CheckDefaultInputMethod(), strcmp(id, "E0250404") == 0) << id;
    }
    // The active layout, described by the simplified version text.
    m.activeLayout = (HKL)(ULONG_PTR)0xE0240404u;
    EXPECT_EQ(CheckDefaultInputMethod(), 0);
    EXPECT_EQ(Boxes(), (std::vector<std::pair<std::u16string, UINT>>{
                           {kOnlyIme, MB_OK}, {kOnlyIme, MB_OK}, {kOnlyIme, MB_OK}, {kActiveIme, MB_OK}}));
    // The layout to activate, found by its traditional description.
    m.activeLayout = kUs;
    g_ctx.currentPage = 8;
    EXPECT_EQ(ActivateInstalledIme(), 1);
    EXPECT_EQ(g_installedLayout, (HKL)(ULONG_PTR)0xE0230404u);
}

TEST_F(DefaultImeTest, ActivationUsesTheRegisteredHandleOrFindsOneByDescription) {
    LoadLayouts();
    g_ctx.currentPage = 6;
    g_installedLayout = kOurs;
    EXPECT_EQ(ActivateInstalledIme(), 0);
    EXPECT_TRUE(m.layoutActivations.empty());

    g_ctx.currentPage = 8;
    EXPECT_EQ(ActivateInstalledIme(), 1);
    EXPECT_EQ(m.layoutActivations, (std::vector<std::pair<HKL, UINT>>{{kOurs, 0x100u}}));
    EXPECT_EQ(m.activeLayout, kOurs);
    // Already active: nothing more.
    EXPECT_EQ(ActivateInstalledIme(), 0);
    EXPECT_EQ(m.layoutActivations.size(), 1u);

    // The registration failed: the list is searched once, and the handle kept.
    m.activeLayout = kUs;
    m.layoutActivations.clear();
    g_installedLayout = nullptr;
    EXPECT_EQ(ActivateInstalledIme(), 1);
    EXPECT_EQ(g_installedLayout, kOurs);
    m.activeLayout = kUs;
    m.keyboardLayouts[2].description = u"renamed";
    EXPECT_EQ(ActivateInstalledIme(), 1);
    EXPECT_EQ(m.layoutActivations, (std::vector<std::pair<HKL, UINT>>{{kOurs, 0x100u}, {kOurs, 0x100u}}));
}

TEST_F(DefaultImeTest, ActivationWithoutAMatchingLayoutDoesNothing) {
    LoadLayouts();
    m.keyboardLayouts.pop_back();
    g_ctx.currentPage = 9;
    EXPECT_EQ(ActivateInstalledIme(), 1);
    EXPECT_EQ(g_installedLayout, nullptr);
    EXPECT_TRUE(m.layoutActivations.empty());
    EXPECT_EQ(m.activeLayout, kUs);
}

TEST_F(DefaultImeTest, AFailingCallNeverEndsTheRunSilentlyNorEmptiesTheDefault) {
    SweepFaults(
        [&](sim::Machine& run) {
            sim::Use(&run);
            run.Make32Bit();
            run.SetString(HKEY_LOCAL_MACHINE, kLayouts + "\\E0200804", "Layout Text", "智能砚舟输入平台  6.3");
            run.DeleteKeyTree(HKEY_CURRENT_USER, kUser);
            run.SetString(HKEY_CURRENT_USER, kUser, "1", "E0200804");
            run.SetString(HKEY_CURRENT_USER, kUser, "2", "00000804");
            run.answers = {IDYES};
            run.callCount = 0;
        },
        [](sim::Machine&) { return 0; },
        [&] { result = CheckDefaultInputMethod(); },
        [&](sim::Machine& run, int, bool last) {
            if (result == 0) {
                EXPECT_FALSE(run.boxes.empty());
            }
            std::string first = run.GetValue(HKEY_CURRENT_USER, kUser, "1");
            while (!first.empty() && first.back() == 0) first.pop_back();
            EXPECT_TRUE(first == "E0200804" || first == "00000804") << first;
            EXPECT_EQ(run.OpenKeyCount(), 0u);
            if (last) {
                EXPECT_EQ(first, "00000804");
            }
        });
    sim::Use(&m);
}
