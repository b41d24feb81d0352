// The preload lists: reading, finding this input method, promoting it,
// swapping the first two entries and adding a layout id.
#include "registry_snapshot.h"
#include "sim_fixture.h"

namespace {
const std::string kLayouts = "System\\CurrentControlSet\\Control\\Keyboard Layouts";
const std::string kUser = "Keyboard Layout\\Preload";
const std::string kDefault = ".DEFAULT\\Keyboard Layout\\Preload";
const char* kOurs = "智能砚舟输入平台  6.3";
}  // namespace

class PreloadTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        g_ctx.oemCodePage = 936;
        m.DeleteKeyTree(HKEY_CURRENT_USER, kUser);
        m.DeleteKeyTree(HKEY_USERS, kDefault);
    }
    void AddLayout(const std::string& id, const std::string& text) {
        m.SetString(HKEY_LOCAL_MACHINE, kLayouts + "\\" + id, "Layout Text", text);
    }
    // Writes the list as values "1", "2", … (NT) or numbered subkeys (9x).
    void SetList(HKEY root, const std::string& path, const std::vector<std::string>& ids) {
        m.Key(root, path, true);
        for (size_t i = 0; i < ids.size(); i++) {
            std::string n = std::to_string(i + 1);
            if (m.win9x)
                m.SetString(root, path + "\\" + n, "", ids[i]);
            else
                m.SetString(root, path, n, ids[i]);
        }
    }
    std::vector<std::string> List(HKEY root, const std::string& path) {
        std::vector<std::string> out;
        for (int n = 1; n <= 60; n++) {
            std::string name = std::to_string(n);
            bool has = m.win9x ? m.HasValue(root, path + "\\" + name, "") : m.HasValue(root, path, name);
            if (!has) continue;
            std::string v = m.win9x ? m.GetValue(root, path + "\\" + name, "") : m.GetValue(root, path, name);
            if (!v.empty() && v.back() == 0) v.pop_back();
            out.push_back(name + "=" + v);
        }
        return out;
    }
    std::vector<std::string> Ids() {
        std::vector<std::string> out;
        for (int i = 0; i < g_preload.count; i++) out.push_back(g_preload.ids[i]);
        return out;
    }
    // The example list: only E0210804 is this input method.
    void SetExample() {
        AddLayout("E0200804", "Another IME");
        AddLayout("E0210804", kOurs);
        SetList(HKEY_CURRENT_USER, kUser, {"E0200804", "00000409", "00000804", "E0210804"});
        SetList(HKEY_USERS, kDefault, {"00000409", "00000804"});
    }
};

TEST_F(PreloadTest, ReadsIdsAndTheirLayoutTexts) {
    AddLayout("E0210804", kOurs);
    SetList(HKEY_CURRENT_USER, kUser, {"00000804", "E0210804", "E0990804"});
    EXPECT_EQ(ReadUserPreload(), 3);
    EXPECT_EQ(Ids(), (std::vector<std::string>{"00000804", "E0210804", "E0990804"}));
    EXPECT_STREQ(g_preload.texts[0], "Chinese (Simplified) - US Keyboard");  // read through the A call
    EXPECT_STREQ(g_preload.texts[1], kOurs);
    EXPECT_STREQ(g_preload.texts[2], "");  // no such layout
    EXPECT_TRUE(FindImeInPreload());
    EXPECT_EQ(g_preload.position, 2);
    EXPECT_EQ(m.OpenKeyCount(), 0u);
}

TEST_F(PreloadTest, ListEndsAtAGapOrAnOversizedValue) {
    SetList(HKEY_CURRENT_USER, kUser, {"00000804", "00000409"});
    m.SetString(HKEY_CURRENT_USER, kUser, "4", "E0210804");
    EXPECT_EQ(ReadUserPreload(), 2);

    // Ten characters do not fit a 10-byte slot with its terminator.
    m.SetString(HKEY_CURRENT_USER, kUser, "2", "0000040912");
    EXPECT_EQ(ReadUserPreload(), 1);
    EXPECT_STREQ(g_preload.ids[0], "00000804");
    EXPECT_STREQ(g_preload.ids[1], "");  // never cut into the slot
}

// Values are read whatever their type, and a 10-byte value (nine characters
// and the terminator) fits its slot; a binary entry is compared, not
// overwritten, by the append.
TEST_F(PreloadTest, ValuesOfAnyTypeAndTenBytesAreRead) {
    SetList(HKEY_CURRENT_USER, kUser, {"00000804", "E0FF08041"});
    m.SetValue(HKEY_CURRENT_USER, kUser, "3", REG_BINARY, sim::ToBytes(std::string("E0210804", 9)));
    AddLayout("E0210804", kOurs);
    EXPECT_EQ(ReadUserPreload(), 3);
    EXPECT_EQ(Ids(), (std::vector<std::string>{"00000804", "E0FF08041", "E0210804"}));
    EXPECT_TRUE(FindImeInPreload());
    EXPECT_EQ(g_preload.position, 3);

    AddLayoutToUserPreload("e0210804");
    DWORD type = 0;
    EXPECT_EQ(m.GetValue(HKEY_CURRENT_USER, kUser, "3", &type), std::string("E0210804", 9));
    EXPECT_EQ(type, (DWORD)REG_BINARY);
    EXPECT_FALSE(m.HasValue(HKEY_CURRENT_USER, kUser, "4"));
}

// Every table position is written back, an empty id too: skipping it would
// lose that entry and leave the id that moved down in two places.
TEST_F(PreloadTest, PromoteWritesBackEveryPosition) {
    m.MakeXP();
    g_ctx.windowsMajor = 5;
    AddLayout("E0210804", kOurs);
    SetList(HKEY_CURRENT_USER, kUser, {"E0200804", "", "00000409", "E0210804"});
    SetList(HKEY_USERS, kDefault, {"00000409"});
    ASSERT_TRUE(FindImeInPreload());
    PromoteImeInPreload();
    EXPECT_EQ(List(HKEY_CURRENT_USER, kUser),
              (std::vector<std::string>{"1=E0200804", "2=E0210804", "3=", "4=00000409"}));
    EXPECT_EQ(List(HKEY_USERS, kDefault),
              (std::vector<std::string>{"1=00000409", "2=E0210804", "3=", "4=00000409"}));
}

TEST_F(PreloadTest, AllFortyNineEntriesAreRead) {
    std::vector<std::string> ids;
    for (int i = 0; i < 52; i++) ids.push_back("0000" + std::to_string(1000 + i));
    SetList(HKEY_CURRENT_USER, kUser, ids);
    EXPECT_EQ(ReadUserPreload(), 49);
    EXPECT_STREQ(g_preload.ids[48], "00001048");
}

TEST_F(PreloadTest, NothingToReadGivesNoHit) {
    g_preload.hit = true;
    g_preload.position = 3;
    m.DeleteKeyTree(HKEY_CURRENT_USER, "Keyboard Layout");
    EXPECT_FALSE(FindImeInPreload());
    EXPECT_FALSE(g_preload.hit);
    EXPECT_EQ(g_preload.position, 0);

    // Keyboard Layouts unreadable: the list is not used either.
    AddLayout("E0210804", kOurs);
    SetList(HKEY_CURRENT_USER, kUser, {"E0210804"});
    m.Key(HKEY_LOCAL_MACHINE, kLayouts)->denied = KEY_READ;
    EXPECT_FALSE(FindImeInPreload());
    EXPECT_EQ(m.OpenKeyCount(), 0u);
}

TEST_F(PreloadTest, OnlyTheGbkShortDescriptionIsRecognised) {
    // The Big5 text of the same input method is not recognised.
    AddLayout("E0210404", "\xb4\xbc\xaf\xe0\xb5\x78\xa6\xe0\xbf\xe9\xa4\x4a\xa5\xad\xa5\x78  7.7");
    AddLayout("E0220804", "智能砚舟");  // too short
    AddLayout("E0230804", "智能砚舟输入法");
    SetList(HKEY_CURRENT_USER, kUser, {"E0210404", "E0220804", "E0230804"});
    EXPECT_TRUE(FindImeInPreload());
    EXPECT_EQ(g_preload.position, 3);
}

TEST_F(PreloadTest, PromoteMovesTheEntryToSecondPlaceOnXp) {
    m.MakeXP();
    g_ctx.windowsMajor = 5;
    SetExample();
    ASSERT_TRUE(FindImeInPreload());
    EXPECT_EQ(g_preload.position, 4);
    PromoteImeInPreload();
    EXPECT_EQ(List(HKEY_CURRENT_USER, kUser),
              (std::vector<std::string>{"1=E0200804", "2=E0210804", "3=00000409", "4=00000804"}));
    // The default profile takes the user's order from entry 2 on; its entry 1 stays.
    EXPECT_EQ(List(HKEY_USERS, kDefault),
              (std::vector<std::string>{"1=00000409", "2=E0210804", "3=00000409", "4=00000804"}));
    EXPECT_EQ(m.OpenKeyCount(), 0u);
}

TEST_F(PreloadTest, PromoteDoesNothingWhenNotCalledFor) {
    SetExample();
    regsnap::Snapshot before = regsnap::Take(m);
    // Windows 7.
    g_ctx.windowsMajor = 6;
    ASSERT_TRUE(FindImeInPreload());
    PromoteImeInPreload();
    EXPECT_EQ(regsnap::Take(m), before);

    // Already second, or a list of fewer than three.
    g_ctx.windowsMajor = 5;
    m.DeleteKeyTree(HKEY_CURRENT_USER, kUser);
    SetList(HKEY_CURRENT_USER, kUser, {"00000804", "E0210804", "00000409"});
    ASSERT_TRUE(FindImeInPreload());
    EXPECT_EQ(g_preload.position, 2);
    before = regsnap::Take(m);
    PromoteImeInPreload();
    EXPECT_EQ(regsnap::Take(m), before);

    m.DeleteKeyTree(HKEY_CURRENT_USER, kUser);
    SetList(HKEY_CURRENT_USER, kUser, {"E0210804"});
    ASSERT_TRUE(FindImeInPreload());
    EXPECT_EQ(g_preload.position, 1);
    PromoteImeInPreload();
    EXPECT_EQ(List(HKEY_CURRENT_USER, kUser), (std::vector<std::string>{"1=E0210804"}));
}

TEST_F(PreloadTest, PromoteOnNinetyFiveTouchesOnlyTheUsersSubkeys) {
    m.Make9x();
    g_ctx.windowsMajor = 4;
    SetExample();
    ASSERT_TRUE(FindImeInPreload());
    PromoteImeInPreload();
    EXPECT_EQ(List(HKEY_CURRENT_USER, kUser),
              (std::vector<std::string>{"1=E0200804", "2=E0210804", "3=00000409", "4=00000804"}));
    EXPECT_EQ(m.Subkeys(HKEY_USERS, kDefault), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(m.GetValue(HKEY_USERS, kDefault + "\\2", ""), std::string("00000804", 9));
}

TEST_F(PreloadTest, SwapExchangesTheFirstTwoInBothProfiles) {
    AddLayout("E0210804", kOurs);
    SetList(HKEY_CURRENT_USER, kUser, {"E0210804", "00000804", "00000409"});
    SetList(HKEY_USERS, kDefault, {"E0210804", "00000409"});
    ASSERT_TRUE(FindImeInPreload());
    SwapFirstTwoPreload();
    EXPECT_EQ(List(HKEY_CURRENT_USER, kUser), (std::vector<std::string>{"1=00000804", "2=E0210804", "3=00000409"}));
    // With the current user's entries, not its own.
    EXPECT_EQ(List(HKEY_USERS, kDefault), (std::vector<std::string>{"1=00000804", "2=E0210804"}));

    // Without a default profile the user's list is still swapped.
    m.DeleteKeyTree(HKEY_USERS, ".DEFAULT");
    ASSERT_TRUE(FindImeInPreload());
    EXPECT_EQ(g_preload.position, 2);
    SwapFirstTwoPreload();
    EXPECT_EQ(List(HKEY_CURRENT_USER, kUser), (std::vector<std::string>{"1=E0210804", "2=00000804", "3=00000409"}));
    EXPECT_EQ(m.OpenKeyCount(), 0u);
}

TEST_F(PreloadTest, SwapOnNinetyFiveAndWithAShortList) {
    m.Make9x();
    AddLayout("E0210804", kOurs);
    SetList(HKEY_CURRENT_USER, kUser, {"E0210804", "00000804"});
    ASSERT_TRUE(FindImeInPreload());
    SwapFirstTwoPreload();
    EXPECT_EQ(List(HKEY_CURRENT_USER, kUser), (std::vector<std::string>{"1=00000804", "2=E0210804"}));

    // One entry: nothing to exchange, and no empty id written.
    m.DeleteKeyTree(HKEY_CURRENT_USER, kUser + "\\2");
    EXPECT_FALSE(FindImeInPreload());
    ASSERT_EQ(g_preload.count, 1);
    regsnap::Snapshot before = regsnap::Take(m);
    SwapFirstTwoPreload();
    EXPECT_EQ(regsnap::Take(m), before);
}

TEST_F(PreloadTest, AddFillsTheFirstGap) {
    SetList(HKEY_CURRENT_USER, kUser, {"00000804", "00000409"});
    m.SetString(HKEY_CURRENT_USER, kUser, "4", "E0990804");
    AddLayoutToUserPreload("e0210804");
    EXPECT_EQ(List(HKEY_CURRENT_USER, kUser),
              (std::vector<std::string>{"1=00000804", "2=00000409", "3=e0210804", "4=E0990804"}));
    // Written with the text's length: Windows keeps the terminator after it.
    EXPECT_EQ(m.GetValue(HKEY_CURRENT_USER, kUser, "3"), std::string("e0210804", 9));
}

TEST_F(PreloadTest, AddComparesWithoutCaseAndReplacesSuffixOnlyDifferences) {
    SetList(HKEY_CURRENT_USER, kUser, {"00000804", "E0210804"});
    regsnap::Snapshot before = regsnap::Take(m);
    AddLayoutToUserPreload("e0210804");
    EXPECT_EQ(regsnap::Take(m), before);

    SetList(HKEY_CURRENT_USER, kUser, {"00000804", "E0210404", "00000409"});
    AddLayoutToUserPreload("e0210804");
    EXPECT_EQ(List(HKEY_CURRENT_USER, kUser), (std::vector<std::string>{"1=00000804", "2=e0210804", "3=00000409"}));
}

TEST_F(PreloadTest, AddToAFullListReplacesTheLastEntry) {
    std::vector<std::string> ids;
    for (int i = 0; i < 49; i++) ids.push_back("0000" + std::to_string(1000 + i));
    SetList(HKEY_CURRENT_USER, kUser, ids);
    AddLayoutToUserPreload("e0210804");
    std::vector<std::string> list = List(HKEY_CURRENT_USER, kUser);
    ASSERT_EQ(list.size(), 49u);
    EXPECT_EQ(list[47], "48=00001047");
    EXPECT_EQ(list[48], "49=e0210804");
}

TEST_F(PreloadTest, AddWhenTheKeysAreMissing) {
    // No "keyboard layout": the message, nothing written.
    m.DeleteKeyTree(HKEY_CURRENT_USER, "Keyboard Layout");
    AddLayoutToUserPreload("e0210804");
    ASSERT_EQ(m.boxes.size(), 1u);
    EXPECT_FALSE(m.boxes[0].wide);
    EXPECT_EQ(m.boxes[0].text, "Software open error2003");
    EXPECT_EQ(m.boxes[0].title, "智能砚舟(砚舟五笔)");
    EXPECT_EQ(m.boxes[0].flags, (UINT)MB_OK);
    EXPECT_EQ(g_ctx.reportedFailures, 1);
    EXPECT_FALSE(m.Key(HKEY_CURRENT_USER, "Keyboard Layout"));

    // "keyboard layout" without "preload": silent, nothing written.
    m.Key(HKEY_CURRENT_USER, "Keyboard Layout", true);
    AddLayoutToUserPreload("e0210804");
    EXPECT_EQ(m.boxes.size(), 1u);
    EXPECT_FALSE(m.Key(HKEY_CURRENT_USER, kUser));
}

TEST_F(PreloadTest, AddOnNinetyFiveUsesNumberedSubkeys) {
    m.Make9x();
    SetList(HKEY_CURRENT_USER, kUser, {"00000804", "E0210404"});
    // An unreadable default value is passed over.
    m.SetValue(HKEY_CURRENT_USER, kUser + "\\1", "", REG_BINARY, sim::Bytes(300, 'x'));
    AddLayoutToUserPreload("E0210804");
    EXPECT_EQ(List(HKEY_CURRENT_USER, kUser)[1], "2=E0210804");

    AddLayoutToUserPreload("E0300804");
    EXPECT_EQ(List(HKEY_CURRENT_USER, kUser).back(), "3=E0300804");

    m.DeleteKeyTree(HKEY_CURRENT_USER, kUser);
    AddLayoutToUserPreload("E0300804");
    ASSERT_EQ(m.boxes.size(), 1u);
    EXPECT_EQ(m.boxes[0].text, "Software open error2003");
    EXPECT_EQ(m.OpenKeyCount(), 0u);
}

// Sweeps every failure point of each preload operation on both families: no
// key left open, nothing changed outside the two preload lists.
TEST_F(PreloadTest, EveryFailurePointEndsCleanly) {
    struct Op {
        const char* name;
        void (*run)(void);
    };
    const Op ops[] = {
        {"find", [] { FindImeInPreload(); }},
        {"promote", [] { FindImeInPreload(); PromoteImeInPreload(); }},
        {"swap", [] { FindImeInPreload(); SwapFirstTwoPreload(); }},
        {"add", [] { AddLayoutToUserPreload("e0220804"); }},
    };
    for (bool nt : {true, false}) {
        for (const Op& op : ops) {
            auto prepare = [&](sim::Machine& mm) {
                mm.MakeXP();
                if (!nt) mm.Make9x();
                mm.SetString(HKEY_LOCAL_MACHINE, kLayouts + "\\E0210804", "Layout Text", kOurs);
                std::vector<std::string> ids = {"E0210804", "00000409", "00000804", "E0200804"};
                if (!nt) ids = {"00000409", "00000804", "E0210804"};
                for (size_t i = 0; i < ids.size(); i++) {
                    std::string n = std::to_string(i + 1);
                    if (nt)
                        mm.SetString(HKEY_CURRENT_USER, kUser, n, ids[i]);
                    else
                        mm.SetString(HKEY_CURRENT_USER, kUser + "\\" + n, "", ids[i]);
                }
                ResetInstallContext();
                g_ctx.windowsMajor = 5;
            };
            SCOPED_TRACE(std::string(op.name) + (nt ? " NT" : " 9x"));
            SweepFaults(prepare, [](sim::Machine& run) { return regsnap::Take(run); }, op.run,
                        [&](sim::Machine& run, const regsnap::Snapshot& before, bool) {
                            EXPECT_EQ(run.OpenKeyCount(), 0u);
                            EXPECT_EQ(regsnap::ChangesOutside(before, regsnap::Take(run),
                                                              {"HKCU\\" + kUser, "HKU\\" + kDefault}),
                                      "");
                            for (const std::string& t : run.BoxTexts()) {
                                EXPECT_EQ(t, "Software open error2003");
                            }
                        });
        }
    }
    sim::Use(&m);
}
