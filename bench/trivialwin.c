/* The yardstick for the setup window's start: a program that registers a
 * class, creates a 400 x 310 window and paints it in one colour, nothing
 * else.  Bench code, never shipped. */
#include <windows.h>

static LRESULT CALLBACK TrivialProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        RECT client;
        HDC dc = BeginPaint(window, &ps);
        HBRUSH brush = CreateSolidBrush(RGB(20, 52, 118));
        GetClientRect(window, &client);
        FillRect(dc, &client, brush);
        DeleteObject(brush);
        EndPaint(window, &ps);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    WNDCLASSW cls;
    MSG msg;
    HWND window;
    (void)previous;
    (void)commandLine;
    ZeroMemory(&cls, sizeof(cls));
    cls.lpfnWndProc = TrivialProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
    cls.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    cls.lpszClassName = L"vornTrivial";
    if (!RegisterClassW(&cls)) return 1;
    window = CreateWindowExW(0, L"vornTrivial", L"vorn trivial window", WS_OVERLAPPED | WS_SYSMENU, 100, 100, 400,
                             310, NULL, NULL, instance, NULL);
    if (!window) return 1;
    ShowWindow(window, show);
    UpdateWindow(window);
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return (int)msg.wParam;
}
