// Windows of the simulated machine: classes, windows and a message queue.
// Messages are delivered only when a test posts them; an empty queue ends
// the message loop as WM_QUIT would.
#include <string.h>

#include <deque>
#include <map>
#include <string>

#include "sim/machine.h"

using sim::Current;

namespace {
struct SimWindow {
    std::string cls;
    std::u16string title;
    WNDPROC proc = nullptr;
    HWND parent = nullptr;
    bool visible = false;
    bool alive = true;
};
std::map<std::string, WNDPROC> g_classes;
std::map<HWND, SimWindow> g_windows;
std::deque<MSG> g_queue;
intptr_t g_nextWindow = 0x10000;
bool g_quit = false;

std::string Lower(LPCSTR s) {
    std::string r = s ? s : "";
    for (char& c : r) c = (char)((c >= 'A' && c <= 'Z') ? c + 32 : c);
    return r;
}

HWND MakeWindow(const std::string& cls, const std::u16string& title, HWND parent, LPVOID param) {
    auto it = g_classes.find(Lower(cls.c_str()));
    WNDPROC proc = nullptr;
    if (it != g_classes.end())
        proc = it->second;
    else if (Lower(cls.c_str()) != "edit")
        return Current().lastError = 1407, nullptr;  // ERROR_CANNOT_FIND_WND_CLASS
    if (Current().Fault("CreateWindowEx")) return Current().lastError = ERROR_NOT_ENOUGH_MEMORY, nullptr;
    HWND h = (HWND)(g_nextWindow += 4);
    SimWindow w;
    w.cls = cls;
    w.title = title;
    w.proc = proc;
    w.parent = parent;
    g_windows[h] = w;
    if (proc && proc(h, WM_CREATE, 0, (LPARAM)param) == -1) {
        g_windows.erase(h);
        return nullptr;
    }
    return h;
}
}  // namespace

ATOM RegisterClassA(const WNDCLASSA* cls) {
    if (!cls || !cls->lpszClassName || Current().Fault("RegisterClassA")) return 0;
    g_classes[Lower(cls->lpszClassName)] = cls->lpfnWndProc;
    return (ATOM)(0xC000 + g_classes.size());
}

HWND CreateWindowExW(DWORD, LPCWSTR cls, LPCWSTR title, DWORD, int, int, int, int, HWND parent, HMENU,
                     HINSTANCE, LPVOID param) {
    return MakeWindow(sim::Utf16ToGbk(cls ? cls : u""), title ? title : u"", parent, param);
}

HWND CreateWindowExA(DWORD, LPCSTR cls, LPCSTR title, DWORD, int, int, int, int, HWND parent, HMENU, HINSTANCE,
                     LPVOID param) {
    return MakeWindow(cls ? cls : "", sim::GbkToUtf16(title ? title : ""), parent, param);
}

BOOL ShowWindow(HWND window, int show) {
    auto it = g_windows.find(window);
    if (it == g_windows.end()) return FALSE;
    BOOL was = it->second.visible;
    it->second.visible = show != SW_HIDE;
    return was;
}
BOOL UpdateWindow(HWND window) { return g_windows.count(window) ? TRUE : FALSE; }
BOOL DestroyWindow(HWND window) { return g_windows.erase(window) ? TRUE : FALSE; }
BOOL SetWindowTextW(HWND window, LPCWSTR text) {
    auto it = g_windows.find(window);
    if (it == g_windows.end()) return FALSE;
    it->second.title = text ? text : u"";
    return TRUE;
}
BOOL InvalidateRect(HWND window, const RECT*, BOOL) { return g_windows.count(window) ? TRUE : FALSE; }

BOOL GetMessageA(MSG* msg, HWND, UINT, UINT) {
    memset(msg, 0, sizeof(*msg));
    if (g_quit || g_queue.empty()) {
        g_quit = false;
        g_queue.clear();
        msg->message = WM_QUIT;
        return FALSE;
    }
    *msg = g_queue.front();
    g_queue.pop_front();
    return TRUE;
}
BOOL TranslateMessage(const MSG*) { return FALSE; }
LRESULT DispatchMessageA(const MSG* msg) {
    auto it = g_windows.find(msg->hwnd);
    if (it == g_windows.end() || !it->second.proc) return 0;
    return it->second.proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) DestroyWindow(window);
    return 0;
}
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG m;
    memset(&m, 0, sizeof(m));
    m.hwnd = window;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    g_queue.push_back(m);
    return TRUE;
}
void PostQuitMessage(int) { g_quit = true; }
HICON LoadIconA(HINSTANCE, LPCSTR) { return (HICON)(intptr_t)0x30; }
HCURSOR LoadCursorA(HINSTANCE, LPCSTR) { return (HCURSOR)(intptr_t)0x31; }
HGDIOBJ GetStockObject(int object) { return (HGDIOBJ)(intptr_t)(0x40 + object); }
int GetSystemMetrics(int index) { return index == SM_CXSCREEN ? 1024 : index == SM_CYSCREEN ? 768 : 0; }
HDC GetDC(HWND) { return (HDC)(intptr_t)0x50; }
int ReleaseDC(HWND, HDC) { return 1; }
HDC BeginPaint(HWND, PAINTSTRUCT* ps) {
    memset(ps, 0, sizeof(*ps));
    ps->hdc = (HDC)(intptr_t)0x51;
    return ps->hdc;
}
BOOL EndPaint(HWND, const PAINTSTRUCT*) { return TRUE; }
