// The setup window: class, creation and the message loop.  The pages are
// painted by hand; until they are, the window holds the payload open and
// closes cleanly.
#include "ui/window.h"

#include "payload/payload.h"
#include "setup/context.h"
#include "ui/texts.h"

enum { kWindowWidth = 400, kWindowHeight = 310, kCentringHeight = 300 };

static LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            if (g_ctx.oemCodePage == 950) SetWindowTextW(window, TITLE_SETUP_BIG5_W);
            g_ctx.setupWindow = window;
            OpenPayload();
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(window, &ps);
            EndPaint(window, &ps);
            return 0;
        }
        case WM_DESTROY:
            ClosePayload();
            PostQuitMessage(0);
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

int CreateSetupWindow(HINSTANCE instance, int showCommand) {
    g_ctx.instance = instance;
    int cxScreen = GetSystemMetrics(SM_CXSCREEN);
    int cyScreen = GetSystemMetrics(SM_CYSCREEN);
    LPCWSTR title = Is64BitWindows() ? TITLE_SETUP3264_W : TITLE_SETUP32_W;
    HWND window = CreateWindowExW(0, SETUP_WINDOW_CLASS_W, title, WS_OVERLAPPED | WS_SYSMENU,
                                  (cxScreen - kWindowWidth) / 2, (cyScreen - kCentringHeight) / 2, kWindowWidth,
                                  kWindowHeight, NULL, NULL, instance, NULL);
    if (!window) return 0;
    g_ctx.setupWindow = window;
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
}

void PaintInstallPathPageNow(void) {
    if (!g_ctx.setupWindow) return;
}
