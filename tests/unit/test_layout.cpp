// Keyboard-layout registration: ImmInstallIMEW, and the entry written by
// hand when it gives no layout.
#include "registry_snapshot.h"
#include "sim_fixture.h"

namespace {
const std::string kLayouts = "System\\CurrentControlSet\\Control\\Keyboard Layouts";
const std::string kPreload = "Keyboard Layout\\Preload";
const char* kBig5Text = "\xb4\xbc\xaf\xe0\xb5\x78\xa6\xe0\xbf\xe9\xa4\x4a\xa5\xad\xa5\x78  7.7";
const char* kBig5Older = "\xb4\xbc\xaf\xe0\xb5\x78\xa6\xe0\xbf\xe9\xa4\x4a\xa5\xad\xa5\x78  6.3";

std::string LayoutKey(const std::string& id) { return kLayouts + "\\" + id; }
}  // namespace

class LayoutTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        g_ctx.oemCodePage = 936;
        m.imeInstallResult = nullptr;  // the manual path is what most cases test
    }
    void AddLayout(const std::string& id, const std::string& text) {
        m.SetString(HKEY_LOCAL_MACHINE, LayoutKey(id), "Layout Text", text);
    }
    // A value's text without the terminator Windows keeps after it.
    std::string Text(HKEY root, const std::string& path, const std::string& name) {
        std::string s = m.GetValue(root, path, name);
        if (!s.empty() && s.back() == 0) s.pop_back();
        return s;
    }
    std::vector<std::string> Layouts() { return m.Subkeys(HKEY_LOCAL_MACHINE, kLayouts); }
    // The three values, exactly as Windows stores a count that left out the
    // terminator of a zero-terminated text.
    void ExpectEntry(const std::string& id, const std::string& layoutFile, const std::string& text) {
        SCOPED_TRACE(id);
        DWORD type = 0;
        EXPECT_EQ(m.GetValue(HKEY_LOCAL_MACHINE, LayoutKey(id), "IME file", &type), std::string("VORNHU4.IME", 12));
        EXPECT_EQ(type, (DWORD)REG_SZ);
        EXPECT_EQ(m.GetValue(HKEY_LOCAL_MACHINE, LayoutKey(id), "layout file"), layoutFile + std::string(1, '\0'));
        EXPECT_EQ(m.GetValue(HKEY_LOCAL_MACHINE, LayoutKey(id), "layout text"), text + std::string(1, '\0'));
    }
};

TEST_F(LayoutTest, ImmInstallIMEWGetsTheSystemFileAndTheWideText) {
    m.imeInstallResult = (HKL)(ULONG_PTR)0xE0030804u;
    EXPECT_TRUE(RegisterImeLayout());
    ASSERT_EQ(m.imeInstalls.size(), 1u);
    EXPECT_EQ(m.imeInstalls[0].file, u"C:\\windows\\system32\\vornhu4.ime");
    EXPECT_EQ(m.imeInstalls[0].text, u"智能砚舟输入平台  7.7");
    EXPECT_EQ(g_installedLayout, (HKL)(ULONG_PTR)0xE0030804u);
    // Windows made the entry; a manual registration would now find it by its text.
    std::string wide = Text(HKEY_LOCAL_MACHINE, LayoutKey("E0030804"), "Layout Text");
    EXPECT_EQ(sim::Utf16ToGbk(std::u16string((const char16_t*)wide.data(), wide.size() / 2)), "智能砚舟输入平台  7.7");

    m.imeInstallResult = nullptr;
    EXPECT_FALSE(RegisterImeLayout());
    EXPECT_EQ(g_installedLayout, (HKL) nullptr);
    EXPECT_TRUE(m.boxes.empty());
}

TEST_F(LayoutTest, EmptyMachineGetsTheFirstIdAndTheUserPreloadEntry) {
    RegisterLayoutManually();
    ExpectEntry("E0010804", "kbdus.dll", "智能砚舟输入平台  7.7");
    EXPECT_EQ(Layouts(), (std::vector<std::string>{"00000409", "00000804", "E0010804"}));
    EXPECT_EQ(Text(HKEY_CURRENT_USER, kPreload, "2"), "e0010804");
    EXPECT_TRUE(m.boxes.empty());
    EXPECT_EQ(m.OpenKeyCount(), 0u);
    EXPECT_EQ(m.liveAllocations, 0u);
}

TEST_F(LayoutTest, NewIdFollowsTheHighestOtherEntry) {
    AddLayout("E0200804", "Another IME");
    AddLayout("E0100804", "Yet another");
    RegisterLayoutManually();
    ExpectEntry("E0210804", "kbdus.dll", "智能砚舟输入平台  7.7");
    EXPECT_EQ(Layouts().size(), 5u);
}

TEST_F(LayoutTest, NewIdTakesThisLanguagesSuffix) {
    AddLayout("E0220404", "Traditional IME");
    RegisterLayoutManually();
    ExpectEntry("E0230804", "kbdus.dll", "智能砚舟输入平台  7.7");
    EXPECT_FALSE(m.Key(HKEY_LOCAL_MACHINE, LayoutKey("E0230404")));
}

TEST_F(LayoutTest, EarlierEntryIsReusedEvenWithAnOlderVersion) {
    AddLayout("E0200804", "Another IME");
    AddLayout("E0150804", "智能砚舟输入平台  6.3");
    m.SetString(HKEY_LOCAL_MACHINE, LayoutKey("E0150804"), "layout file", "old.dll");
    m.SetString(HKEY_CURRENT_USER, kPreload, "2", "E0150804");
    RegisterLayoutManually();
    ExpectEntry("E0150804", "kbdus.dll", "智能砚舟输入平台  7.7");
    EXPECT_EQ(Layouts().size(), 4u);  // nothing new
    // Already in the list: no second entry.
    EXPECT_EQ(Text(HKEY_CURRENT_USER, kPreload, "2"), "E0150804");
    EXPECT_FALSE(m.HasValue(HKEY_CURRENT_USER, kPreload, "3"));
}

TEST_F(LayoutTest, EntryOfTheOtherLanguageIsDeletedAndRecreated) {
    AddLayout("E0150404", "智能砚舟输入平台  7.0");
    m.SetString(HKEY_CURRENT_USER, kPreload, "2", "E0150404");
    RegisterLayoutManually();
    EXPECT_FALSE(m.Key(HKEY_LOCAL_MACHINE, LayoutKey("E0150404")));
    ExpectEntry("E0150804", "kbdus.dll", "智能砚舟输入平台  7.7");
    // The preload entry differed only in its suffix: overwritten in place.
    EXPECT_EQ(Text(HKEY_CURRENT_USER, kPreload, "2"), "e0150804");
    EXPECT_FALSE(m.HasValue(HKEY_CURRENT_USER, kPreload, "3"));
}

TEST_F(LayoutTest, TraditionalChineseUsesBig5AndThe404Suffix) {
    g_ctx.oemCodePage = 950;
    RegisterLayoutManually();
    ExpectEntry("E0010404", "kbdus.dll", kBig5Text);

    // An 804 entry carrying the Big5 description moves to 404.
    m.DeleteKeyTree(HKEY_LOCAL_MACHINE, LayoutKey("E0010404"));
    AddLayout("E0150804", kBig5Older);
    RegisterLayoutManually();
    EXPECT_FALSE(m.Key(HKEY_LOCAL_MACHINE, LayoutKey("E0150804")));
    ExpectEntry("E0150404", "kbdus.dll", kBig5Text);
}

TEST_F(LayoutTest, OnlyTheFirstOfTwoEntriesInScanOrderIsReused) {
    // The scan runs from the highest enumeration index down.
    AddLayout("E0150804", "智能砚舟输入平台  6.3");
    AddLayout("E0170804", "智能砚舟输入平台  6.5");
    RegisterLayoutManually();
    ExpectEntry("E0170804", "kbdus.dll", "智能砚舟输入平台  7.7");
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, LayoutKey("E0150804"), "layout text"), "智能砚舟输入平台  6.3");
}

// Entries that cannot be opened or read never match, but every existing id
// counts: the new id must not be one that is taken.
TEST_F(LayoutTest, UnreadableEntriesNeverMatchButEveryIdCounts) {
    AddLayout("E0200804", "Another IME");
    // Refuses full access: even carrying the description it is not reused.
    AddLayout("E0800804", "智能砚舟输入平台  6.3");
    m.Key(HKEY_LOCAL_MACHINE, LayoutKey("E0800804"))->denied = KEY_SET_VALUE;
    // A layout text longer than the 200-byte buffer is unreadable, not cut.
    AddLayout("E0700804", "智能砚舟输入平台" + std::string(190, 'x'));
    // Shorter than the description: never matches.
    AddLayout("E0300804", "智能砚舟");
    // Highest of all, without a layout text.
    m.SetString(HKEY_LOCAL_MACHINE, LayoutKey("E0900804"), "Layout File", "x.dll");
    RegisterLayoutManually();
    ExpectEntry("E0910804", "kbdus.dll", "智能砚舟输入平台  7.7");
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, LayoutKey("E0800804"), "Layout Text"), "智能砚舟输入平台  6.3");
    EXPECT_FALSE(m.HasValue(HKEY_LOCAL_MACHINE, LayoutKey("E0900804"), "IME file"));
    EXPECT_EQ(m.OpenKeyCount(), 0u);
}

// The layout text is read whatever its type, and no other input method's
// entry is ever written: not one whose text is stored as binary, not the
// one that holds the id this input method's old entry would move to.
TEST_F(LayoutTest, ManualRegistrationNeverWritesAnotherInputMethodsEntry) {
    const sim::Bytes other = sim::ToBytes(std::string("Other IME", 10));
    AddLayout("E0200804", "Another IME");
    m.SetValue(HKEY_LOCAL_MACHINE, LayoutKey("E0210804"), "Layout Text", REG_BINARY, other);
    RegisterLayoutManually();
    ExpectEntry("E0220804", "kbdus.dll", "智能砚舟输入平台  7.7");
    DWORD type = 0;
    EXPECT_EQ(m.GetValue(HKEY_LOCAL_MACHINE, LayoutKey("E0210804"), "Layout Text", &type), sim::ToString(other));
    EXPECT_EQ(type, (DWORD)REG_BINARY);

    // This input method's text stored as binary is recognised and reused.
    m.SetValue(HKEY_LOCAL_MACHINE, LayoutKey("E0220804"), "layout text", REG_BINARY,
               sim::ToBytes(std::string("智能砚舟输入平台  6.3")));
    RegisterLayoutManually();
    ExpectEntry("E0220804", "kbdus.dll", "智能砚舟输入平台  7.7");
    EXPECT_FALSE(m.Key(HKEY_LOCAL_MACHINE, LayoutKey("E0230804")));

    // The old entry E0150404 goes; E0150804 belongs to another input method,
    // so a new id is taken above every existing one.
    m.DeleteKeyTree(HKEY_LOCAL_MACHINE, LayoutKey("E0220804"));
    AddLayout("E0150404", "智能砚舟输入平台  7.0");
    AddLayout("E0150804", "Third IME");
    RegisterLayoutManually();
    EXPECT_FALSE(m.Key(HKEY_LOCAL_MACHINE, LayoutKey("E0150404")));
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, LayoutKey("E0150804"), "layout text"), "Third IME");
    EXPECT_FALSE(m.HasValue(HKEY_LOCAL_MACHINE, LayoutKey("E0150804"), "IME file"));
    ExpectEntry("E0220804", "kbdus.dll", "智能砚舟输入平台  7.7");
    EXPECT_EQ(m.OpenKeyCount(), 0u);
}

// On a traditional-Chinese system Windows' narrow reads of the UTF-16 text
// give Big5: only the traditional text lets the next install recognise the
// entry ImmInstallIMEW made.
TEST_F(LayoutTest, TraditionalSystemRecognisesTheEntryImmInstallIMEWMade) {
    m.oemCodePage = m.ansiCodePage = 950;
    g_ctx.oemCodePage = 950;
    m.imeInstallResult = (HKL)(ULONG_PTR)0xE0010404u;
    ASSERT_TRUE(RegisterImeLayout());
    EXPECT_EQ(m.imeInstalls[0].text, u"智能硯舟輸入平台  7.7");
    size_t entries = Layouts().size();
    m.imeInstallResult = nullptr;
    RegisterLayoutManually();
    EXPECT_EQ(Layouts().size(), entries) << "a second entry instead of the first one's reuse";
    ExpectEntry("E0010404", "kbdus.dll", kBig5Text);
}

TEST_F(LayoutTest, MoreThanTwoHundredFiftySubkeysAreAllScanned) {
    char id[16];
    for (int i = 1; i <= 300; i++) {
        snprintf(id, sizeof(id), "E%03X0804", i);
        AddLayout(id, "Another IME");
    }
    // Lowest in the enumeration: the last name a 250-name table would miss.
    AddLayout("D0000804", "智能砚舟输入平台  6.3");
    RegisterLayoutManually();
    ExpectEntry("D0000804", "kbdus.dll", "智能砚舟输入平台  7.7");
    EXPECT_EQ(Layouts().size(), 303u);

    // Without it, the new id follows all 300.
    m.DeleteKeyTree(HKEY_LOCAL_MACHINE, LayoutKey("D0000804"));
    RegisterLayoutManually();
    ExpectEntry("E12D0804", "kbdus.dll", "智能砚舟输入平台  7.7");
    EXPECT_EQ(m.liveAllocations, 0u);
}

TEST_F(LayoutTest, IdsThatWouldWrapAroundAreRefused) {
    AddLayout("FFFF0804", "Last IME");
    regsnap::Snapshot before = regsnap::Take(m);
    RegisterLayoutManually();
    EXPECT_EQ(regsnap::ChangesOutside(before, regsnap::Take(m), {}), "");
    ASSERT_EQ(m.boxes.size(), 1u);
    EXPECT_EQ(m.boxes[0].title, "智能砚舟(砚舟五笔)");
}

TEST_F(LayoutTest, ParsingStopsAtTheFirstNonHexCharacter) {
    // "E0400804x" parses as E0400804; names without a leading hex digit and
    // names of more than eight digits count for nothing.
    AddLayout("E0400804x", "Other");
    AddLayout("zzzz", "Other");
    AddLayout("1E0900804", "Other");
    RegisterLayoutManually();
    ExpectEntry("E0410804", "kbdus.dll", "智能砚舟输入平台  7.7");
}

TEST_F(LayoutTest, KeyboardLayoutsUnreadableShowsTheAdministratorMessage) {
    m.Key(HKEY_LOCAL_MACHINE, kLayouts)->denied = KEY_READ;
    RegisterLayoutManually();
    ASSERT_EQ(m.boxes.size(), 1u);
    EXPECT_FALSE(m.boxes[0].wide);
    EXPECT_EQ(m.boxes[0].text, "在WIN2000和WIN NT系统中安装本软件时，需要以系统管理员身份才能安装成功！");
    EXPECT_EQ(m.boxes[0].title, "智能砚舟");
    EXPECT_EQ(m.boxes[0].flags, (UINT)MB_OK);
    EXPECT_EQ(m.boxes[0].owner, (HWND) nullptr);
    EXPECT_EQ(g_ctx.reportedFailures, 1);
    EXPECT_FALSE(m.HasValue(HKEY_CURRENT_USER, kPreload, "2"));
}

TEST_F(LayoutTest, EntryThatCannotBeCreatedShowsTheSecondMessage) {
    m.Key(HKEY_LOCAL_MACHINE, kLayouts)->denied = KEY_CREATE_SUB_KEY;
    RegisterLayoutManually();
    ASSERT_EQ(m.boxes.size(), 1u);
    EXPECT_EQ(m.boxes[0].text, "在WIN2000和WIN NT系统中安装本软件时，需要以系统管理员身份才能安装成功！");
    EXPECT_EQ(m.boxes[0].title, "智能砚舟(砚舟五笔)");
    EXPECT_EQ(Layouts().size(), 2u);
    EXPECT_FALSE(m.HasValue(HKEY_CURRENT_USER, kPreload, "2"));
    EXPECT_EQ(m.OpenKeyCount(), 0u);
}

TEST_F(LayoutTest, NinetyFiveFamilyTextsFileAndPreload) {
    m.Make9x();
    m.Key(HKEY_LOCAL_MACHINE, kLayouts)->denied = KEY_READ;
    RegisterLayoutManually();
    m.Key(HKEY_LOCAL_MACHINE, kLayouts)->denied = KEY_CREATE_SUB_KEY;
    RegisterLayoutManually();
    ASSERT_EQ(m.boxes.size(), 2u);
    EXPECT_EQ(m.boxes[0].text, "Software open error1003");
    EXPECT_EQ(m.boxes[0].title, "智能砚舟");
    EXPECT_EQ(m.boxes[1].text, "Software open error1004");
    EXPECT_EQ(m.boxes[1].title, "智能砚舟(砚舟五笔)");

    m.Key(HKEY_LOCAL_MACHINE, kLayouts)->denied = 0;
    RegisterLayoutManually();
    ExpectEntry("E0010804", "kbdus.kbd", "智能砚舟输入平台  7.7");
    // 9x: a numbered subkey with the upper-case id as its default value.
    EXPECT_EQ(Text(HKEY_CURRENT_USER, kPreload + "\\2", ""), "E0010804");
}

// Every failure point of a manual registration ends without an open key or
// a leaked block, and changes nothing but the layout entries and the
// current user's preload list.
TEST_F(LayoutTest, EveryFailurePointEndsCleanly) {
    auto seed = [](sim::Machine& mm) {
        mm.SetString(HKEY_LOCAL_MACHINE, kLayouts + "\\E0150404", "Layout Text", "智能砚舟输入平台  6.3");
        mm.SetString(HKEY_LOCAL_MACHINE, kLayouts + "\\E0200804", "Layout Text", "Another IME");
        mm.SetString(HKEY_CURRENT_USER, "Keyboard Layout\\Preload", "2", "E0150404");
    };
    auto prepare = [&](sim::Machine& mm) {
        seed(mm);
        ResetInstallContext();
        g_ctx.oemCodePage = 936;
    };
    long total = SweepFaults(prepare, [](sim::Machine& run) { return regsnap::Take(run); },
                             [] { RegisterLayoutManually(); },
                             [](sim::Machine& run, const regsnap::Snapshot& before, bool last) {
                                 EXPECT_EQ(run.OpenKeyCount(), 0u);
                                 EXPECT_EQ(run.liveAllocations, 0u);
                                 EXPECT_EQ(regsnap::ChangesOutside(before, regsnap::Take(run),
                                                                   {"HKLM\\" + kLayouts, "HKCU\\Keyboard Layout\\Preload"}),
                                           "");
                                 EXPECT_LE(run.boxes.size(), 1u);
                                 if (last) {
                                     EXPECT_TRUE(run.boxes.empty());
                                     EXPECT_FALSE(run.Key(HKEY_LOCAL_MACHINE, kLayouts + "\\E0150404"));
                                     EXPECT_TRUE(run.HasValue(HKEY_LOCAL_MACHINE, kLayouts + "\\E0150804", "IME file"));
                                 }
                             });
    EXPECT_GT(total, 10);
    sim::Use(&m);
}
