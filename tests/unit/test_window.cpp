// The setup window: creation, the painted pages against their numbers, the
// welcome picture's clamping, the button hit test and the page walk.
#include "archive_builder.h"
#include "sim_fixture.h"
#include "ui/setupwin.h"
#include "ui/window.h"
#include "userdata/userdata.h"

namespace {
const char* kDir = "C:\\Program Files\\vornhu\\";

// A 24-bit BMP file of w x h whose pixel rows are all there.
std::string Bmp(int w, int h) {
    uint32_t stride = ((uint32_t)w * 24 + 31) / 32 * 4;
    uint32_t cbBits = stride * (uint32_t)h;
    std::string f = "BM" + testvoz::Le32(54 + cbBits) + testvoz::Le32(0) + testvoz::Le32(54);
    f += testvoz::Le32(40) + testvoz::Le32((uint32_t)w) + testvoz::Le32((uint32_t)h);
    f += std::string("\x01\x00\x18\x00", 4) + testvoz::Le32(0) + testvoz::Le32(cbBits);
    f += std::string(16, '\0');
    return f + std::string(cbBits, '\x7f');
}
// Enough files, and dictionaries and an input method of at least 20 bytes,
// for the install report to find the installation complete.
std::vector<testvoz::Member> Complete(std::vector<testvoz::Member> members) {
    for (testvoz::Member& mb : members)
        if (mb.name == "vornhu4.ime" || mb.name == "vornpyck.bak") mb.data += std::string(20, '.');
    for (int i = 0; i < 60; i++) members.push_back({"fill" + std::to_string(i) + ".ov1", "f", ""});
    return members;
}
}  // namespace

class WindowTest : public SimTest {
   protected:
    void UsePayload(std::vector<testvoz::Member> members) {
        m.resources.clear();
        m.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build(members))});
    }
    void SetUp() override {
        SimTest::SetUp();
        auto members = testvoz::SampleMembers();
        members.push_back({"tavk1.bmp", Bmp(401, 310), ""});
        UsePayload(Complete(members));
    }
    // Start-up as the program does it; the loop returns once nothing is queued.
    HWND Start() {
        EXPECT_EQ(SetupMain(nullptr, "", SW_SHOW), 0);
        return g_ctx.setupWindow;
    }
    void Click(int x, int y, bool right = false) {
        m.gui.Click(g_ctx.setupWindow, x, y, right);
        m.gui.Pump();
    }
    void ClickLeft() { Click(90, 257); }
    void ClickRight() { Click(310, 257); }
    // Paints the current page through WM_PAINT and returns what it drew.
    std::vector<sim::DrawOp> Paint() {
        size_t from = m.gui.drawing.size();
        InvalidateRect(g_ctx.setupWindow, NULL, FALSE);
        m.gui.Pump();
        return m.gui.DrawnOn(g_ctx.setupWindow, from);
    }
    static const sim::DrawOp* FindText(const std::vector<sim::DrawOp>& ops, const std::u16string& text, int x, int y) {
        for (const sim::DrawOp& op : ops)
            if (op.kind == sim::kDrawTextW && op.textW == text && op.x0 == x && op.y0 == y) return &op;
        return nullptr;
    }
    static COLORREF RowColour(const std::vector<sim::DrawOp>& ops, int y) {
        for (const sim::DrawOp& op : ops)
            if (op.kind == sim::kDrawLine && op.y0 == y && op.y1 == y && op.x0 == 0 && op.x1 == 400) return op.penColor;
        return 0xFFFFFFFF;
    }
    bool QuitPosted() { return m.gui.quitPosted; }
};

TEST_F(WindowTest, CreationTitlesFieldsAndPlacement) {
    HWND w = Start();
    ASSERT_NE(w, nullptr);
    sim::SimWindow* win = m.gui.Find(w);
    EXPECT_EQ(win->title, u"智能砚舟系统安装3264");
    EXPECT_EQ(win->style, (DWORD)(WS_OVERLAPPED | WS_SYSMENU | WS_CAPTION | WS_CLIPSIBLINGS));
    // The vertical centring uses 300 although the window is 310 high.
    EXPECT_EQ(win->x, (1024 - 400) / 2);
    EXPECT_EQ(win->y, (768 - 300) / 2);
    EXPECT_EQ(win->width, 400);
    EXPECT_EQ(win->height, 310);
    for (HWND field : {g_win.nameField, g_win.addressField}) {
        sim::SimWindow* f = m.gui.Find(field);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->cls, "EDIT");
        EXPECT_EQ(f->style, (DWORD)(WS_CHILD | WS_SYSMENU));
        EXPECT_EQ(f->parent, w);
        EXPECT_FALSE(f->visible);
        EXPECT_EQ(f->y, 195);
        EXPECT_EQ(f->width, 230);
    }
    EXPECT_EQ(m.gui.Find(g_win.nameField)->x, 120);
    EXPECT_EQ(m.gui.Find(g_win.addressField)->x, 130);
    // Focus given to the window goes to the (hidden) name field.
    SendMessageA(w, WM_SETFOCUS, 0, 0);
    EXPECT_EQ(m.gui.focus, g_win.nameField);
    // A theme with a 26-pixel caption (Wine 10's) keeps the 394 x 285 client area.
    sim::Machine tall;
    tall.gui.captionHeight = 26;
    tall.resources = m.resources;
    ClosePayload();
    sim::Use(&tall);
    ResetInstallContext();
    SetupMain(nullptr, "", SW_SHOW);
    ASSERT_NE(tall.gui.Find(g_ctx.setupWindow), nullptr);
    EXPECT_EQ(tall.gui.Find(g_ctx.setupWindow)->width, 400);
    EXPECT_EQ(tall.gui.Find(g_ctx.setupWindow)->height, 285 + 26 + 2 * 3);
    ClosePayload();
    sim::Use(&m);
}

TEST_F(WindowTest, TitleFollowsBitnessAndCodePage) {
    m.Make32Bit();
    Start();
    EXPECT_EQ(m.gui.Find(g_ctx.setupWindow)->title, u"智能砚舟系统安装32");
    ClosePayload();  // before the context is reset: it holds the work buffer

    sim::Machine tw;
    sim::Use(&tw);
    ResetInstallContext();
    tw.oemCodePage = tw.ansiCodePage = 950;
    SetupMain(nullptr, "", SW_SHOW);
    EXPECT_EQ(tw.gui.Find(g_ctx.setupWindow)->title, u"智能硯舟系統安裝");
    ClosePayload();
    sim::Use(&m);
}

TEST_F(WindowTest, GradientRowsOfBothVariants) {
    Start();
    std::vector<sim::DrawOp> welcome = Paint();
    int lines = 0;
    for (const sim::DrawOp& op : welcome) lines += op.kind == sim::kDrawLine && op.x0 == 0 && op.x1 == 400;
    EXPECT_EQ(lines, 310 + 0);
    EXPECT_EQ(RowColour(welcome, 0), RGB(0, 144, 250));
    EXPECT_EQ(RowColour(welcome, 56), RGB(0, 0, 225));
    EXPECT_EQ(RowColour(welcome, 190), RGB(0, 12, 165));
    EXPECT_EQ(RowColour(welcome, 309), RGB(0, 250, 111));
    EXPECT_EQ(RowColour(welcome, 310), 0xFFFFFFFFu);

    ClickLeft();
    std::vector<sim::DrawOp> common = Paint();
    EXPECT_EQ(RowColour(common, 0), RGB(0, 0, 250));
    EXPECT_EQ(RowColour(common, 100), RGB(48, 82, 202));
    EXPECT_EQ(RowColour(common, 200), RGB(96, 164, 154));
    EXPECT_EQ(RowColour(common, 309), RGB(149, 254, 101));
    // Every pen made for a row is deleted again.
    for (auto& kv : m.gui.objects)
        if (kv.second.kind == sim::kGdiPen) {
            EXPECT_TRUE(kv.second.deleted);
        }
}

TEST_F(WindowTest, PagesDrawTheirTextsWideWhereAndHowTheyShould) {
    Start();
    std::vector<sim::DrawOp> ops = Paint();
    const sim::DrawOp* loading = FindText(ops, u"安装程序正在载入文件，请等待……", 50, 150);
    ASSERT_NE(loading, nullptr);
    EXPECT_EQ(loading->bkMode, OPAQUE);
    EXPECT_EQ(loading->textColor, RGB(0, 0, 0));
    EXPECT_EQ(loading->font, nullptr);
    const sim::DrawOp* version = FindText(ops, u"7.7 版", 220, 100);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->textColor, RGB(0, 0, 192));
    EXPECT_EQ(version->bkMode, TRANSPARENT);
    const sim::GdiObject* body = m.gui.Object(version->font);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->face, u"宋体");
    EXPECT_EQ(body->fontHeight, 22);
    EXPECT_EQ(body->fontWidth, 7);
    EXPECT_EQ(body->charset, 134);
    ASSERT_NE(FindText(ops, u"您尝试过砚舟语句提示输入吗？", 10, 165), nullptr);
    EXPECT_EQ(FindText(ops, u"您尝试过砚舟语句提示输入吗？", 10, 165)->textColor, RGB(255, 255, 255));
    const sim::DrawOp* install = FindText(ops, u"确 定 安 装", 45, 247);
    ASSERT_NE(install, nullptr);
    EXPECT_EQ(install->textColor, RGB(255, 128, 128));
    EXPECT_NE(FindText(ops, u"放 弃 退 出", 265, 247), nullptr);
    for (const sim::DrawOp& op : ops) EXPECT_NE(op.kind, sim::kDrawTextA);

    ClickLeft();
    ops = Paint();
    EXPECT_EQ(FindText(ops, u"智能砚舟输入平台  系统安装", 30, 10)->textColor, RGB(0, 0, 0));
    EXPECT_EQ(FindText(ops, u"智能砚舟输入平台  系统安装", 39, 19)->textColor, RGB(255, 255, 255));
    EXPECT_EQ(FindText(ops, u"砚舟五笔专版", 250, 19)->textColor, RGB(33, 205, 173));
    EXPECT_NE(FindText(ops, u"所在单位网址：", 35, 196), nullptr);

    ClickLeft();
    ops = Paint();
    // Embossed: black, three grey shadows, white on top.
    const std::u16string heading = u"智能砚舟输入平台";
    EXPECT_EQ(FindText(ops, heading, 30, 20)->textColor, RGB(0, 0, 0));
    EXPECT_EQ(FindText(ops, heading, 40, 30)->textColor, RGB(128, 128, 128));
    EXPECT_EQ(FindText(ops, heading, 41, 31)->textColor, RGB(255, 255, 255));
    EXPECT_EQ(m.gui.Object(FindText(ops, heading, 30, 20)->font)->face, u"楷体");
    EXPECT_NE(FindText(ops, u"本版本适用于：WINDOWS NT、WIN2000、", 50, 130), nullptr);
    EXPECT_NE(FindText(ops, u"安装路径：C:\\Program Files\\vornhu\\", 35, 196), nullptr);
    EXPECT_FALSE(m.gui.Find(g_win.nameField)->visible);

    g_ctx.currentPage = kPageInstalling;
    ops = Paint();
    EXPECT_EQ(FindText(ops, u"智能砚舟正在处理有关数据……", 80, 80)->textColor, RGB(0, 0, 0));
    EXPECT_EQ(FindText(ops, u"智能砚舟正在处理有关数据……", 91, 91)->textColor, RGB(255, 187, 187));
    EXPECT_NE(FindText(ops, u"智能砚舟正在处理有关数据……", 92, 91), nullptr);
    for (const sim::DrawOp& op : ops) EXPECT_NE(op.kind, sim::kDrawRectangle);

    g_ctx.currentPage = kPageLast;
    ops = Paint();
    EXPECT_TRUE(m.gui.Find(g_win.nameField)->visible);
    EXPECT_EQ(FindText(ops, u"欢迎使用砚舟输入系统", 80, 80), nullptr);  // no black copy
    EXPECT_NE(FindText(ops, u"智能砚舟已经安装在你的系统中!", 50, 130), nullptr);
    EXPECT_NE(FindText(ops, u"确 定 退 出", 45, 247), nullptr);
}

TEST_F(WindowTest, RaisedFramesAndProgressBarFill) {
    Start();
    ClickLeft();
    std::vector<sim::DrawOp> ops = Paint();
    // The field row's frame: black bottom and right, white top and left.
    auto line = [&](int x0, int y0, int x1, int y1) -> const sim::DrawOp* {
        for (const sim::DrawOp& op : ops)
            if (op.kind == sim::kDrawLine && op.x0 == x0 && op.y0 == y0 && op.x1 == x1 && op.y1 == y1) return &op;
        return nullptr;
    };
    ASSERT_NE(line(30, 217, 365, 217), nullptr);
    EXPECT_EQ(line(30, 217, 365, 217)->penColor, RGB(0, 0, 0));
    EXPECT_EQ(line(365, 217, 365, 192)->penColor, RGB(0, 0, 0));
    EXPECT_EQ(line(365, 192, 30, 192)->penColor, RGB(255, 255, 255));
    EXPECT_EQ(line(30, 192, 30, 217)->penColor, RGB(255, 255, 255));

    struct Case {
        int done, total, right;
        COLORREF fill;
    } cases[] = {
        {0, 64, 370, RGB(255, 255, 255)},  // nothing done: the empty white box
        {-3, 64, 370, RGB(255, 255, 255)},
        {5, 0, 30, RGB(255, 0, 0)},        // no total: no fill
        {100, 10, 370, RGB(255, 0, 0)},    // more than the total: full
        {32, 64, 200, RGB(255, 0, 0)},
        {1, 3, 143, RGB(255, 0, 0)},
        {2000000000, 2000000001, 369, RGB(255, 0, 0)},  // no overflow on the way
    };
    for (const Case& c : cases) {
        size_t from = m.gui.drawing.size();
        ShowProgress(c.done, c.total);
        std::vector<sim::DrawOp> bar = m.gui.DrawnOn(g_ctx.setupWindow, from);
        ASSERT_EQ(bar.size(), 1u) << c.done << "/" << c.total;
        EXPECT_EQ(bar[0].kind, sim::kDrawRectangle);
        EXPECT_EQ(bar[0].x0, 30);
        EXPECT_EQ(bar[0].y0, 191);
        EXPECT_EQ(bar[0].x1, c.right) << c.done << "/" << c.total;
        EXPECT_EQ(bar[0].y1, 218);
        EXPECT_EQ(bar[0].brushColor, c.fill);
    }
    g_ctx.runState = kRunSilent;
    size_t from = m.gui.drawing.size();
    ShowProgress(1, 2);
    EXPECT_EQ(m.gui.drawing.size(), from);
}

TEST_F(WindowTest, WelcomePictureIsClampedToItselfAndTheLimit) {
    struct Case {
        int w, h;
        int destX, srcX;
        int expDestW, expDestH, expSrcX, expSrcW, expSrcH;
    } cases[] = {
        {401, 310, 0, 0, 400, 190, 0, 400, 190},  // the sample: top 400 x 190, unscaled
        {200, 100, 0, 0, 400, 190, 0, 200, 100},  // small: stretched to fill
        {401, 310, 0, 401, 400, 190, 401, 0, 190},  // source beyond the picture
        {401, 310, 400, 0, 0, 190, 0, 400, 190},    // destination at the limit
    };
    for (const Case& c : cases) {
        auto members = testvoz::SampleMembers();
        members.push_back({"tavk1.bmp", Bmp(c.w, c.h), ""});
        UsePayload(members);
        ClosePayload();
        ASSERT_TRUE(OpenPayload());
        HDC dc = GetDC(nullptr);
        size_t from = m.gui.drawing.size();
        DrawArchiveBitmap(400, 190, dc, "tavk1.bmp", c.destX, 0, 400, 190, c.srcX, 0, 400, 190);
        ReleaseDC(nullptr, dc);
        ASSERT_EQ(m.gui.drawing.size(), from + 1) << c.w << "x" << c.h;
        const sim::DrawOp& blit = m.gui.drawing.back();
        EXPECT_EQ(blit.kind, sim::kDrawStretchBlt);
        EXPECT_EQ(blit.x0, c.destX);
        EXPECT_EQ(blit.x1 - blit.x0, c.expDestW);
        EXPECT_EQ(blit.y1 - blit.y0, c.expDestH);
        EXPECT_EQ(blit.srcX, c.expSrcX);
        EXPECT_EQ(blit.srcW, c.expSrcW);
        EXPECT_EQ(blit.srcH, c.expSrcH);
        EXPECT_EQ(blit.bitmapWidth, c.w);
        EXPECT_EQ(blit.rop, (DWORD)SRCCOPY);
    }
    // Bitmaps and memory contexts do not pile up.
    for (auto& kv : m.gui.objects)
        if (kv.second.kind == sim::kGdiBitmap) {
            EXPECT_TRUE(kv.second.deleted);
        }
    EXPECT_TRUE(m.gui.dcs.empty());
}

TEST_F(WindowTest, PicturesThatAreNotWholeBitmapsDrawNothing) {
    std::string cut = Bmp(401, 310);
    cut.resize(cut.size() - 1);  // the last pixel row is one byte short
    std::string farBits = Bmp(4, 4);
    farBits.replace(10, 4, testvoz::Le32(0x7FFFFFF0));
    for (const std::string& picture : {std::string("XM") + Bmp(2, 2).substr(2), cut, farBits, std::string("BM")}) {
        auto members = testvoz::SampleMembers();
        members.push_back({"tavk1.bmp", picture, ""});
        UsePayload(members);
        ClosePayload();
        OpenPayload();
        HDC dc = GetDC(nullptr);
        size_t from = m.gui.drawing.size();
        DrawArchiveBitmap(400, 190, dc, "tavk1.bmp", 0, 0, 400, 190, 0, 0, 400, 190);
        ReleaseDC(nullptr, dc);
        EXPECT_EQ(m.gui.drawing.size(), from) << picture.size();
    }
    // No payload, or no work buffer: nothing, and no crash.
    ClosePayload();
    m.resources.clear();
    m.failAt = m.callCount + 1;  // the work buffer's allocation
    OpenPayload();
    EXPECT_EQ(g_ctx.workBuffer, nullptr);
    HDC dc = GetDC(nullptr);
    size_t from = m.gui.drawing.size();
    DrawArchiveBitmap(400, 190, dc, "tavk1.bmp", 0, 0, 400, 190, 0, 0, 400, 190);
    EXPECT_EQ(m.gui.drawing.size(), from);
}

TEST_F(WindowTest, ButtonsCountTheirEdgesAndRightClicksActAsLeft) {
    Start();
    Click(141, 270);  // one pixel right of the left button
    Click(40, 244);   // one pixel above it
    EXPECT_EQ(g_ctx.currentPage, 0);
    Click(140, 270, true);  // its last column and row, with the right button
    EXPECT_EQ(g_ctx.currentPage, 1);
    EXPECT_TRUE(m.gui.Find(g_win.addressField)->visible);
    Click(200, 257);  // between the buttons
    EXPECT_EQ(g_ctx.currentPage, 1);
    EXPECT_FALSE(QuitPosted());
    Click(260, 245);  // the right button's corner
    EXPECT_TRUE(QuitPosted());
    EXPECT_FALSE(m.Exists(kDir));
}

TEST_F(WindowTest, WalkOn64BitWindowsEndsOnTheLastPage) {
    Start();
    ClickLeft();
    SetWindowTextA(g_win.addressField, "www.example.org");
    ClickLeft();
    EXPECT_EQ(g_ctx.currentPage, kPageInstallPath);
    EXPECT_EQ(m.gui.Find(g_win.addressField), nullptr);

    ClickLeft();
    EXPECT_EQ(g_ctx.currentPage, kPageInstalling);
    EXPECT_NE(m.Read(std::string(kDir) + "vonetsj.dat").find("www.example.org"), std::string::npos);
    EXPECT_TRUE(m.Exists("C:\\windows\\system32\\vornhu4.ime"));
    ASSERT_EQ(m.gui.timers.size(), 1u);
    EXPECT_EQ(m.gui.timers[0].id, 2u);
    EXPECT_EQ(m.gui.timers[0].period, 1600u);
    EXPECT_TRUE(IsWindowEnabled(g_ctx.setupWindow));
    ClickLeft();  // during the pause: repaint only
    EXPECT_EQ(g_ctx.currentPage, kPageInstalling);

    m.gui.FireTimers();
    m.gui.Pump();
    EXPECT_EQ(g_ctx.currentPage, kPageLast);
    EXPECT_TRUE(m.gui.timers.empty());
    EXPECT_TRUE(m.gui.Find(g_win.nameField)->visible);
    EXPECT_EQ(m.gui.Find(g_win.nameField)->title, u"");
    size_t boxes = m.boxes.size();
    ClickLeft();
    EXPECT_EQ(g_ctx.currentPage, kPageLastClicked);
    EXPECT_EQ(m.boxes.size(), boxes);
    ClickLeft();
    ASSERT_EQ(m.boxes.size(), boxes + 1);
    EXPECT_EQ(m.boxes.back().wtext, u"安装完毕，如不能使用，请重新启动计算机！");
    EXPECT_EQ(m.boxes.back().wtitle, u"智能砚舟");
    EXPECT_EQ(m.boxes.back().owner, nullptr);
    EXPECT_TRUE(QuitPosted());
    EXPECT_EQ(g_ctx.workBuffer, nullptr);
    EXPECT_EQ(m.liveAllocations, 0u);
}

TEST_F(WindowTest, EndingsWithoutTheLastPage) {
    // 32-bit: the end message right after the install, asking for a restart
    // when the old input method is locked.
    m.Make32Bit();
    // Second in the list: not the default, which would end the run before the install.
    m.SetString(HKEY_CURRENT_USER, "keyboard layout\\preload", "2", "E0200804");
    m.SetString(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Keyboard Layouts\\E0200804",
                "layout text", "智能砚舟输入平台  6.3");
    m.AddFile("C:\\windows\\system32\\vornhu4.ime", "old");
    m.Entry("C:\\windows\\system32\\vornhu4.ime")->locked = true;
    // The locked input method's own installation, which stays as it was.
    for (const testvoz::Member& mb : Complete(testvoz::SampleMembers())) m.AddFile(std::string(kDir) + mb.name, mb.data);
    Start();
    for (int i = 0; i < 3; i++) ClickLeft();
    EXPECT_EQ(g_ctx.oldImeInUse, 1);
    EXPECT_TRUE(m.gui.timers.empty());
    ASSERT_FALSE(m.boxes.empty());
    EXPECT_EQ(m.boxes.back().wtext, u"安装完毕，请立即重新启动计算机！");
    EXPECT_TRUE(QuitPosted());

    // 64-bit, "放 弃 退 出" during the pause: no end message, no last page.
    sim::Machine m64;
    sim::Use(&m64);
    ResetInstallContext();
    m64.resources = m.resources;
    SetupMain(nullptr, "", SW_SHOW);
    for (int i = 0; i < 3; i++) m64.gui.Click(g_ctx.setupWindow, 90, 257), m64.gui.Pump();
    ASSERT_EQ(m64.gui.timers.size(), 1u);
    size_t boxes = m64.boxes.size();
    m64.gui.Click(g_ctx.setupWindow, 310, 257);
    m64.gui.Pump();
    EXPECT_TRUE(m64.gui.quitPosted);
    EXPECT_EQ(m64.boxes.size(), boxes);
    EXPECT_LT(g_ctx.currentPage, kPageLast);
    ClosePayload();
    sim::Use(&m);
}

TEST_F(WindowTest, CloseBoxEndsTheRunButNotWhileStepsRun) {
    Start();
    EXPECT_TRUE(m.gui.PressCloseBox(g_ctx.setupWindow));
    m.gui.Pump();
    EXPECT_TRUE(QuitPosted());
    EXPECT_EQ(g_ctx.workBuffer, nullptr);
    EXPECT_FALSE(m.Exists(kDir));

    // A member that fails its check makes the install show a message box;
    // the user clicks "放 弃 退 出" and the close box while it is up.
    sim::Machine b;
    sim::Use(&b);
    ResetInstallContext();
    auto members = Complete(testvoz::SampleMembers());
    members.push_back({"broken.voh", "data", std::string(32, '0')});
    b.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(testvoz::Build(members))});
    b.Make32Bit();
    SetupMain(nullptr, "", SW_SHOW);
    HWND w = g_ctx.setupWindow;
    for (int i = 0; i < 2; i++) b.gui.Click(w, 90, 257), b.gui.Pump();
    BYTE* buffer = g_ctx.workBuffer;
    int seen = 0;
    b.gui.duringMessageBox = [&]() {
        if (seen++) return;
        EXPECT_FALSE(b.gui.Click(w, 310, 257));  // a disabled window takes no input
        EXPECT_FALSE(b.gui.PressCloseBox(w));
        // Even what reaches the procedure some other way is held back.
        SendMessageA(w, WM_CLOSE, 0, 0);
        SendMessageA(w, WM_DESTROY, 0, 0);
        SendMessageA(w, WM_LBUTTONDOWN, 0, (LPARAM)((257 << 16) | 310));
        EXPECT_EQ(g_ctx.workBuffer, buffer);
    };
    b.gui.Click(w, 90, 257);
    b.gui.Pump();
    EXPECT_GE(seen, 2);
    EXPECT_EQ(GetForegroundWindow(), w);
    EXPECT_TRUE(b.Exists("C:\\windows\\system32\\vornhu4.ime"));
    // The install ran to its end: the end message came, then the run ended.
    EXPECT_EQ(b.boxes.back().wtext, u"安装完毕，如不能使用，请重新启动计算机！");
    EXPECT_TRUE(b.gui.quitPosted);
    EXPECT_EQ(g_ctx.workBuffer, nullptr);
    ClosePayload();
    sim::Use(&m);
}

TEST_F(WindowTest, WithoutTheWorkBufferTheInstallStopsWithTheUnpackMessage) {
    // Fail exactly the allocation of the work buffer at start-up.
    HWND w = nullptr;
    for (long n = 1; n < 200 && !w; n++) {
        sim::Machine t;
        t.resources = m.resources;
        sim::Use(&t);
        ResetInstallContext();
        t.failAt = n;
        SetupMain(nullptr, "", SW_SHOW);
        if (t.failedCall != "GlobalAlloc" || !g_ctx.setupWindow) {
            ClosePayload();
            continue;
        }
        w = g_ctx.setupWindow;
        EXPECT_EQ(g_ctx.workBuffer, nullptr);
        // The welcome page paints without its picture.
        std::vector<sim::DrawOp> ops = t.gui.DrawnOn(w);
        for (const sim::DrawOp& op : ops) EXPECT_NE(op.kind, sim::kDrawStretchBlt);
        for (int i = 0; i < 3; i++) t.gui.Click(w, 90, 257), t.gui.Pump();
        ASSERT_FALSE(t.boxes.empty());
        EXPECT_EQ(t.boxes.back().text, "文件解压不完整，请到智能砚舟网站www.vornhu.com.cn重新下载安装。");
        EXPECT_TRUE(t.gui.quitPosted);
        EXPECT_FALSE(t.Exists("C:\\windows\\system32\\vornhu4.ime"));
        ClosePayload();
    }
    sim::Use(&m);
    EXPECT_NE(w, nullptr);
}
