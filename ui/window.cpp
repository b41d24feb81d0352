// The setup window: class, creation, and the window procedure, a small state
// machine over the current page.  The buttons are painted rectangles that the
// procedure hit-tests itself; the click that confirms the installation runs
// every install step synchronously inside its own handling.
//
// While a click's steps run, the window is disabled and its procedure takes
// no clicks and no close: a message box of a step runs a modal loop that
// would otherwise dispatch them, and a WM_DESTROY handled there would free the
// work buffer under the running step.
#include "ui/window.h"

#include "imereg/imereg.h"
#include "imereg/texts.h"
#include "payload/payload.h"
#include "payload/texts.h"
#include "setup/context.h"
#include "setup/progress.h"
#include "ui/setupwin.h"
#include "ui/texts.h"
#include "userdata/userdata.h"

SetupWindow g_win;

// The pages are drawn for the client area that a 400 x 310 window has with
// the classic 19-pixel caption and 3-pixel frame; other themes' captions and
// frames differ, so the window is sized from that client area.
enum { kWindowWidth = 400, kWindowHeight = 310, kCentringHeight = 300, kClientWidth = 394, kClientHeight = 285 };
enum { kLastPageTimer = 2, kLastPageDelayMs = 1600 };

static bool g_destroyWhenIdle;  // a WM_DESTROY arrived while steps ran

static void Repaint(HWND window) { InvalidateRect(window, NULL, FALSE); }

static void PaintNow(void (*painter)(HDC)) {
    HDC dc = GetDC(g_ctx.setupWindow);
    if (!dc) return;
    painter(dc);
    ReleaseDC(g_ctx.setupWindow, dc);
}

// Hidden, then shown: drawn again over the page just painted.
static void RaiseField(HWND field) {
    ShowWindow(field, SW_HIDE);
    ShowWindow(field, SW_SHOW);
}

static void SetRect4(RECT* r, int left, int top, int right, int bottom) {
    r->left = left;
    r->top = top;
    r->right = right;
    r->bottom = bottom;
}

static void CreateWindowResources(void) {
    g_win.bodyFont = CreateFontW(22, 7, 0, 0, 0, FALSE, FALSE, FALSE, 134, 0, 0, 0, 0, FONT_BODY_FACE_W);
    g_win.headingFont = CreateFontW(40, 20, 0, 0, 0, FALSE, FALSE, FALSE, 134, 0, 0, 0, 0, FONT_HEADING_FACE_W);
    g_win.progressBrush = CreateSolidBrush(COLOUR_PROGRESS);
    SetRect4(&g_win.leftButton, 40, 245, 140, 270);
    SetRect4(&g_win.rightButton, 260, 245, 360, 270);
    SetRect4(&g_win.fieldRow, 30, 192, 365, 217);
    g_win.progressOrigin.x = 30;
    g_win.progressOrigin.y = 188;
    g_win.progressSize.cx = 340;
    g_win.progressSize.cy = 30;
}

static void DeleteWindowResources(void) {
    if (g_win.headingFont) DeleteObject(g_win.headingFont);
    if (g_win.bodyFont) DeleteObject(g_win.bodyFont);
    if (g_win.progressBrush) DeleteObject(g_win.progressBrush);
    g_win.headingFont = NULL;
    g_win.bodyFont = NULL;
    g_win.progressBrush = NULL;
}

static void OnCreate(HWND window) {
    memset(&g_win, 0, sizeof(g_win));
    g_destroyWhenIdle = false;
    if (g_ctx.oemCodePage == 950) SetWindowTextW(window, TITLE_SETUP_BIG5_W);
    g_ctx.setupWindow = window;
    CreateWindowResources();
    g_progress.repaintPage = PaintInstallPathPageNow;
    g_progress.progress = ShowProgress;

    OpenPayload();
    if (!g_ctx.workBuffer) return;
    // The earlier installation's data is packed before anything is unpacked over it.
    g_ctx.backupState = kBackupNone;
    if (BackupUserData()) g_ctx.backupState = kBackupDone;
    memset(g_ctx.installDir, 0, 3);
    ResolveInstallDirectory();
}

static void OnPaint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    int page = g_ctx.currentPage;
    if (page <= kPageWelcome)
        PaintWelcomePage(dc);
    else if (page < kPageLeavingOptions)
        PaintOptionsPage(dc);
    else if (page < kPageInstalling)
        PaintInstallPathPage(dc);
    else if (page == kPageInstalling)
        PaintProgressPage(dc);
    else
        PaintLastPage(dc);
    EndPaint(window, &ps);
}

static void EnterOptions(HWND window) {
    PaintNow(PaintOptionsPage);
    RaiseField(g_win.addressField);
    LoadOrganisationAddress(g_win.addressField);
    ResolveInstallDirectory();
    g_ctx.currentPage = kPageOptions;
    Repaint(window);
}

static void LeaveOptions(HWND window) {
    PaintNow(PaintOptionsPage);
    RaiseField(g_win.addressField);
    ResolveInstallDirectory();
    ConfirmOrganisationAddress(g_win.addressField);
    ShowWindow(g_win.addressField, SW_HIDE);
    DestroyWindow(g_win.addressField);
    g_win.addressField = NULL;
    g_ctx.currentPage = kPageLeavingOptions;
    FetchSystemDirectory();
    ResolveInstallDirectory();
    Repaint(window);
    WriteConfigurationFiles();
    g_ctx.currentPage = kPageInstallPath;
    Repaint(window);
}

static void Finish(HWND window, WPARAM wParam, LPARAM lParam) {
    bool restartNow = g_ctx.oldImeInUse == 1;
    // The end message only when the install report had nothing to say.
    if (ReportInstallResult() == 0) ShowMessageW(restartNow ? MSG_DONE_RESTART_NOW_W : MSG_DONE_W, TITLE_BOX_W, MB_OK);
    PostMessageA(window, WM_DESTROY, wParam, lParam);
}

static void Install(HWND window, WPARAM wParam, LPARAM lParam) {
    g_ctx.currentPage = kPageInstalling;
    // Without the work buffer nothing can be unpacked or checked.
    if (!g_ctx.workBuffer) {
        ShowFailureA(MSG_UNPACK_INCOMPLETE, PAYLOAD_TITLE_PLACE);
        PostMessageA(window, WM_DESTROY, 0, 0);
        return;
    }
    // An earlier version that is still the default input method ends the run.
    if (!CheckDefaultInputMethod()) {
        PostMessageA(window, WM_DESTROY, 0, 0);
        return;
    }
    // Programs that hold the input method must be closed first; the
    // install-path page stays and its button tries again.
    if (FindProgramsUsingIme() > 0) {
        ShowMessageW(InUseMessage(), TITLE_BOX_W, MB_OK);
        g_ctx.currentPage = kPageInstallPath;
        return;
    }
    if (IsImeDataInMemory()) ShowMessageW(MSG_IME_DATA_IN_MEMORY_W, TITLE_BOX_W, MB_OK);
    RunInstallSequence();
    ChooseSkinAndWindowMode();
    WriteSettingsRecord();
    WriteInstallStamp();
    if (g_ctx.backupState == kBackupKeep && RestoreUserData()) UserDataRestored();

    if (Is64BitWindows()) {
        Repaint(window);
        SetTimer(window, kLastPageTimer, kLastPageDelayMs, NULL);
        return;
    }
    Finish(window, wParam, lParam);
}

static bool InRect(const RECT& r, int x, int y) { return x >= r.left && x <= r.right && y >= r.top && y <= r.bottom; }

static void OnRightButton(HWND window, WPARAM wParam, LPARAM lParam) {
    if (g_ctx.currentPage < kPageLast)
        PostMessageA(window, WM_DESTROY, wParam, lParam);
    else
        Finish(window, wParam, lParam);
}

static void OnLeftButton(HWND window, WPARAM wParam, LPARAM lParam) {
    int page = g_ctx.currentPage;
    if (page <= kPageWelcome)
        EnterOptions(window);
    else if (page < kPageLeavingOptions)
        LeaveOptions(window);
    else if (page == kPageInstallPath)
        Install(window, wParam, lParam);
    else if (page == kPageInstalling)
        Repaint(window);
    else if (page == kPageLast) {
        g_ctx.currentPage = kPageLastClicked;
        Repaint(window);
    } else if (page > kPageLast)
        Finish(window, wParam, lParam);
}

static void OnClick(HWND window, WPARAM wParam, LPARAM lParam) {
    int x = (int)(lParam & 0xFFFF);
    int y = (int)((lParam >> 16) & 0xFFFF);
    bool right = InRect(g_win.rightButton, x, y);
    if (!right && !InRect(g_win.leftButton, x, y)) return;

    g_win.busy = true;
    EnableWindow(window, FALSE);
    if (right)
        OnRightButton(window, wParam, lParam);
    else
        OnLeftButton(window, wParam, lParam);
    EnableWindow(window, TRUE);
    // An ownerless message box that closed meanwhile handed the activation to
    // some other program's window, since this one was disabled.
    SetForegroundWindow(window);
    g_win.busy = false;
    if (g_destroyWhenIdle) PostMessageA(window, WM_DESTROY, 0, 0);
}

static void OnTimer(HWND window) {
    KillTimer(window, kLastPageTimer);
    g_ctx.currentPage = kPageLast;
    SetWindowTextA(g_win.nameField, "");
    Repaint(window);
}

static void OnDestroy(void) {
    ClosePayload();
    DeleteWindowResources();
    memset(&g_progress, 0, sizeof(g_progress));
    PostQuitMessage(0);
}

static LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            OnCreate(window);
            return 0;
        case WM_PAINT:
            OnPaint(window);
            return 0;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
            if (!g_win.busy) OnClick(window, wParam, lParam);
            return 0;
        case WM_TIMER:
            OnTimer(window);
            return 0;
        case WM_SETFOCUS:
            SetFocus(g_win.nameField);
            return 0;
        case WM_MOUSEMOVE:
            return 0;
        case WM_CLOSE:
            if (g_win.busy) return 0;
            break;
        case WM_DESTROY:
            if (g_win.busy) {
                g_destroyWhenIdle = true;
                return 0;
            }
            OnDestroy();
            return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

ATOM RegisterSetupWindowClass(HINSTANCE instance) {
    WNDCLASSA cls;
    memset(&cls, 0, sizeof(cls));
    cls.lpfnWndProc = SetupWindowProc;
    cls.hInstance = instance;
    cls.hIcon = LoadIconA(instance, SETUP_ICON_NAME);
    cls.hCursor = LoadCursorA(NULL, IDC_ARROW);
    cls.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    cls.lpszClassName = SETUP_WINDOW_CLASS;
    return RegisterClassA(&cls);
}

static HWND CreateField(HWND parent, HINSTANCE instance, int x) {
    return CreateWindowExA(0, EDIT_CLASS, FIELD_INITIAL_TEXT, WS_CHILD | WS_SYSMENU, x, 195, 230, 20, parent, NULL,
                           instance, NULL);
}

// The window's outer size for the client area, by its own styles (Windows
// adds the caption to an overlapped window); where that fails it keeps the
// size it was made with.
static void SizeFromClientArea(HWND window) {
    RECT r;
    SetRect4(&r, 0, 0, kClientWidth, kClientHeight);
    DWORD style = (DWORD)GetWindowLongA(window, GWL_STYLE);
    DWORD exStyle = (DWORD)GetWindowLongA(window, GWL_EXSTYLE);
    if (!AdjustWindowRectEx(&r, style, FALSE, exStyle)) return;
    SetWindowPos(window, NULL, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int CreateSetupWindow(HINSTANCE instance, int showCommand) {
    g_ctx.instance = instance;
    int cxScreen = GetSystemMetrics(SM_CXSCREEN);
    int cyScreen = GetSystemMetrics(SM_CYSCREEN);
    LPCWSTR title = Is64BitWindows() ? TITLE_SETUP3264_W : TITLE_SETUP32_W;
    HWND window = CreateWindowExW(0, SETUP_WINDOW_CLASS_W, title, WS_OVERLAPPED | WS_SYSMENU,
                                  (cxScreen - kWindowWidth) / 2, (cyScreen - kCentringHeight) / 2, kWindowWidth,
                                  kWindowHeight, NULL, NULL, instance, NULL);
    if (!window) return 0;
    SizeFromClientArea(window);
    g_ctx.setupWindow = window;
    g_win.nameField = CreateField(window, instance, 120);
    g_win.addressField = CreateField(window, instance, 130);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return 1;
}

int RunMessageLoop(void) {
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}

void ShowProgress(int done, int total) {
    if (g_ctx.runState == kRunSilent || !g_ctx.setupWindow) return;
    HDC dc = GetDC(g_ctx.setupWindow);
    if (!dc) return;
    DrawProgressBar(dc, done, total);
    ReleaseDC(g_ctx.setupWindow, dc);
}

void PaintInstallPathPageNow(void) {
    if (!g_ctx.setupWindow) return;
    PaintNow(PaintInstallPathPage);
}
