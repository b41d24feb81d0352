// The setup window's third "确 定 安 装": the default-input-method and in-use
// checks before the install, the skin dialog after it, and the activation of
// the input method on every paint of the last page.
#include "archive_builder.h"
#include "sim_fixture.h"
#include "ui/setupwin.h"

namespace {
const char* kSystemIme = "C:\\windows\\system32\\vornhu4.ime";
const HKL kUs = (HKL)(ULONG_PTR)0x08040804u;
}  // namespace

class InstallChecksTest : public SimTest {
   protected:
    void SetUp() override {
        SimTest::SetUp();
        m.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build(testvoz::SampleMembers()))});
        m.gui.dialogInput = {{sim::DialogInput::kClick, 105}};
    }
    // Start-up, then the first two clicks: the install-path page.
    void ToInstallPath() {
        EXPECT_EQ(SetupMain(nullptr, "", SW_SHOW), 0);
        ClickLeft();
        ClickLeft();
        ASSERT_EQ(g_ctx.currentPage, kPageInstallPath);
        m.boxes.clear();
    }
    void ClickLeft() {
        m.gui.Click(g_ctx.setupWindow, 90, 257);
        m.gui.Pump();
    }
};

TEST_F(InstallChecksTest, ProgramsHoldingTheImeKeepTheInstallPathPageUntilClosed) {
    ToInstallPath();
    HWND editor = m.gui.AddWindow("Notepad", u"说明.txt - 记事本");
    HWND ui = m.gui.AddWindow("UITAVK", u"", m.gui.AddWindow("IME", u"Default IME", editor));
    ClickLeft();
    ASSERT_EQ(m.boxes.size(), 1u);
    EXPECT_EQ(m.boxes[0].wtext, u"智能砚舟安装软件检测到有下列 1 个软件在使用智能砚舟输入法:\r\n\r\n"
                                u"　　1：说明.txt - 记事本\r\n\r\n\r\n请关闭上述软件后再继续安装！\r\n"
                                u"如无法关闭，则请重新启动机器后立即安装！");
    EXPECT_EQ(m.boxes[0].wtitle, u"智能砚舟");
    EXPECT_EQ(g_ctx.currentPage, kPageInstallPath);
    EXPECT_FALSE(m.Exists(kSystemIme));
    EXPECT_TRUE(m.gui.dialogs.empty());

    // Closed, with its shared memory left: a warning, and the install runs.
    m.gui.windows.erase(ui);
    m.fileMappings.insert("vornhutavk");
    m.boxes.clear();
    ClickLeft();
    ASSERT_FALSE(m.boxes.empty());
    EXPECT_EQ(m.boxes[0].wtext, u"检测到内存中有智能砚舟数据没有退出，请安装后重新启动机器再使用！");
    EXPECT_EQ(m.boxes[0].wtitle, u"智能砚舟");
    EXPECT_TRUE(m.Exists(kSystemIme));
    ASSERT_EQ(m.gui.dialogs.size(), 1u);
    EXPECT_EQ(m.gui.dialogs[0].owner, g_ctx.setupWindow);
    EXPECT_TRUE(m.gui.dialogs[0].ended);
}

TEST_F(InstallChecksTest, TheDefaultInputMethodEndsTheRunBeforeAnythingIsInstalled) {
    m.SetString(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Keyboard Layouts\\E0200804", "Layout Text",
                "智能砚舟输入平台  6.3");
    m.SetString(HKEY_CURRENT_USER, "Keyboard Layout\\Preload", "1", "E0200804");
    ToInstallPath();
    ClickLeft();
    ASSERT_EQ(m.boxes.size(), 1u);
    EXPECT_EQ(m.boxes[0].wtitle, u"智能砚舟安装");
    EXPECT_NE(m.boxes[0].wtext.find(u"并且是系统安装的唯一输入法"), std::u16string::npos);  // the only-IME text
    EXPECT_TRUE(m.gui.quitPosted);
    EXPECT_FALSE(m.Exists(kSystemIme));
    EXPECT_TRUE(m.gui.dialogs.empty());
}

TEST_F(InstallChecksTest, EveryPaintOfTheLastPageActivatesTheInstalledIme) {
    ToInstallPath();
    ClickLeft();
    ASSERT_NE(g_installedLayout, nullptr);
    EXPECT_TRUE(m.layoutActivations.empty());  // not on the progress page
    m.gui.FireTimers();
    m.gui.Pump();
    ASSERT_EQ(g_ctx.currentPage, kPageLast);
    EXPECT_EQ(m.layoutActivations, (std::vector<std::pair<HKL, UINT>>{{g_installedLayout, 0x100u}}));
    EXPECT_EQ(GetKeyboardLayout(0), g_installedLayout);

    // The user switched back to the keyboard: the next paint activates it again.
    m.activeLayout = kUs;
    InvalidateRect(g_ctx.setupWindow, NULL, FALSE);
    m.gui.Pump();
    EXPECT_EQ(m.layoutActivations.size(), 2u);
    EXPECT_EQ(GetKeyboardLayout(0), g_installedLayout);
}
