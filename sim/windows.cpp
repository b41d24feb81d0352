// Windows of the simulated machine: classes, windows, the thread's message
// queue and timers.  Nothing moves by itself: a test clicks, fires timers and
// pumps.  An idle queue ends the message loop as WM_QUIT would, so a run mode
// that enters its loop returns as soon as there is nothing left to do.
#include <string.h>

#include "sim/machine.h"

using sim::Current;
using sim::GuiState;
using sim::SimWindow;

namespace {
std::string Lower(const std::string& s) {
    std::string r = s;
    for (char& c : r) c = (char)((c >= 'A' && c <= 'Z') ? c + 32 : c);
    return r;
}

GuiState& Gui() { return Current().gui; }

LRESULT Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    SimWindow* w = Gui().Find(window);
    if (!w) return 0;
    if (!w->proc) return DefWindowProcA(window, message, wParam, lParam);
    return w->proc(window, message, wParam, lParam);
}

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG m;
    memset(&m, 0, sizeof(m));
    m.hwnd = window;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    Gui().queue.push_back(m);
}

HWND MakeWindow(const std::string& cls, const std::u16string& title, DWORD exStyle, DWORD style, int x, int y,
                int width, int height, HWND parent, HMENU menu, LPVOID param) {
    sim::Machine& m = Current();
    GuiState& gui = m.gui;
    auto it = gui.classes.find(Lower(cls));
    WNDPROC proc = nullptr;
    if (it != gui.classes.end())
        proc = it->second.proc;
    else if (Lower(cls) != "edit")
        return m.lastError = 1407, nullptr;  // ERROR_CANNOT_FIND_WND_CLASS
    if ((style & WS_CHILD) && !gui.Find(parent)) return m.lastError = 1406, nullptr;  // ERROR_TLW_WITH_WSCHILD
    if (m.Fault("CreateWindowEx")) return m.lastError = ERROR_NOT_ENOUGH_MEMORY, nullptr;
    HWND h = (HWND)(gui.nextHandle += 4);
    SimWindow w;
    w.cls = cls;
    w.title = title;
    w.proc = proc;
    w.parent = parent;
    // An overlapped window always has a caption, as Windows gives it.
    w.style = (style & (WS_CHILD | WS_POPUP)) ? style : style | WS_CAPTION | WS_CLIPSIBLINGS;
    w.exStyle = exStyle;
    w.x = x, w.y = y, w.width = width, w.height = height;
    w.id = (int)(intptr_t)menu;
    w.visible = (style & WS_VISIBLE) != 0;
    gui.windows[h] = w;
    if (proc && proc(h, WM_CREATE, 0, (LPARAM)param) == -1) {
        gui.windows.erase(h);
        return nullptr;
    }
    return h;
}

// Windows removes the children with their parent, after the parent's WM_DESTROY.
void RemoveWindow(HWND window) {
    GuiState& gui = Gui();
    for (auto it = gui.windows.begin(); it != gui.windows.end();) {
        if (it->second.parent == window && (it->second.style & WS_CHILD))
            it = gui.windows.erase(it);
        else
            ++it;
    }
    for (size_t i = 0; i < gui.timers.size();) {
        if (gui.timers[i].window == window)
            gui.timers.erase(gui.timers.begin() + (long)i);
        else
            i++;
    }
    if (gui.focus == window) gui.focus = nullptr;
    if (gui.foreground == window) gui.foreground = nullptr;
    gui.windows.erase(window);
}
}  // namespace

namespace sim {

SimWindow* GuiState::Find(HWND window) {
    auto it = windows.find(window);
    return it == windows.end() ? nullptr : &it->second;
}

HWND GuiState::FindTopLevel(const std::string& cls) {
    for (auto& kv : windows)
        if (!(kv.second.style & WS_CHILD) && Lower(kv.second.cls) == Lower(cls)) return kv.first;
    return nullptr;
}

bool GuiState::Click(HWND window, int x, int y, bool right) {
    SimWindow* w = Find(window);
    if (!w || !w->visible || !w->enabled) return false;
    Post(window, right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, 0, (LPARAM)(((DWORD)y << 16) | ((DWORD)x & 0xFFFF)));
    return true;
}

bool GuiState::PressCloseBox(HWND window) {
    SimWindow* w = Find(window);
    if (!w || !w->visible || !w->enabled) return false;
    Post(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    return true;
}

void GuiState::FireTimers() {
    std::vector<QueuedTimer> running = timers;
    for (const QueuedTimer& t : running) Post(t.window, WM_TIMER, t.id, 0);
}

int GuiState::Pump() {
    int n = 0;
    MSG msg;
    // The quit message stays posted, for the caller's own loop (or the test) to see.
    while (!quitPosted && GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        n++;
    }
    return n;
}

std::vector<DrawOp> GuiState::DrawnOn(HWND window, size_t from) const {
    std::vector<DrawOp> out;
    for (size_t i = from; i < drawing.size(); i++)
        if (drawing[i].window == window) out.push_back(drawing[i]);
    return out;
}

const GdiObject* GuiState::Object(HGDIOBJ object) const {
    auto it = objects.find(object);
    return it == objects.end() ? nullptr : &it->second;
}

}  // namespace sim

ATOM RegisterClassA(const WNDCLASSA* cls) {
    sim::Machine& m = Current();
    if (!cls || !cls->lpszClassName || m.Fault("RegisterClassA")) return 0;
    std::string key = Lower(cls->lpszClassName);
    if (m.gui.classes.count(key)) return m.lastError = 1410, 0;  // ERROR_CLASS_ALREADY_EXISTS
    sim::WindowClass c;
    c.name = cls->lpszClassName;
    c.proc = cls->lpfnWndProc;
    c.icon = cls->hIcon;
    c.cursor = cls->hCursor;
    c.background = cls->hbrBackground;
    c.instance = cls->hInstance;
    m.gui.classes[key] = c;
    return (ATOM)(0xC000 + m.gui.classes.size());
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR cls, LPCWSTR title, DWORD style, int x, int y, int w, int h,
                     HWND parent, HMENU menu, HINSTANCE, LPVOID param) {
    return MakeWindow(sim::Utf16ToGbk(cls ? cls : u""), title ? title : u"", exStyle, style, x, y, w, h, parent, menu,
                      param);
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR cls, LPCSTR title, DWORD style, int x, int y, int w, int h, HWND parent,
                     HMENU menu, HINSTANCE, LPVOID param) {
    return MakeWindow(cls ? cls : "", sim::GbkToUtf16(title ? title : ""), exStyle, style, x, y, w, h, parent, menu,
                      param);
}

LONG GetWindowLongA(HWND window, int index) {
    SimWindow* w = Gui().Find(window);
    if (!w || (index != GWL_STYLE && index != GWL_EXSTYLE)) return Current().lastError = 1400, 0;
    return (LONG)(index == GWL_STYLE ? w->style : w->exStyle);
}

// The caption and a fixed frame, of the machine's theme; no sizing frame or
// menu bar is modelled.
BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL, DWORD) {
    if (!rect) return Current().lastError = ERROR_INVALID_PARAMETER, FALSE;
    GuiState& gui = Gui();
    if ((style & WS_CAPTION) == WS_CAPTION) rect->top -= gui.captionHeight;
    int frame = (style & WS_DLGFRAME) ? gui.fixedFrame : (style & WS_BORDER) ? 1 : 0;
    rect->left -= frame, rect->top -= frame, rect->right += frame, rect->bottom += frame;
    return TRUE;
}

BOOL ShowWindow(HWND window, int show) {
    SimWindow* w = Gui().Find(window);
    if (!w) return FALSE;
    BOOL was = w->visible;
    w->visible = show != SW_HIDE;
    if (w->visible && !was) w->needsPaint = true;
    return was;
}

BOOL UpdateWindow(HWND window) {
    SimWindow* w = Gui().Find(window);
    if (!w) return FALSE;
    if (w->needsPaint && w->visible) Deliver(window, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL DestroyWindow(HWND window) {
    if (!Gui().Find(window)) return Current().lastError = 1400, FALSE;  // ERROR_INVALID_WINDOW_HANDLE
    Deliver(window, WM_DESTROY, 0, 0);
    RemoveWindow(window);
    return TRUE;
}

BOOL SetWindowTextW(HWND window, LPCWSTR text) {
    SimWindow* w = Gui().Find(window);
    if (!w) return FALSE;
    w->title = text ? text : u"";
    return TRUE;
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
    SimWindow* w = Gui().Find(window);
    if (!w) return FALSE;
    w->title = sim::Utf8ToUtf16(sim::Iconv("UTF-8", Current().ansiCodePage == 950 ? "BIG5" : "GBK", text ? text : ""));
    return TRUE;
}

int GetWindowTextA(HWND window, LPSTR text, int cchMax) {
    SimWindow* w = Gui().Find(window);
    if (!text || cchMax <= 0) return 0;
    text[0] = 0;
    if (!w) return 0;
    std::string ansi =
        sim::Iconv(Current().ansiCodePage == 950 ? "BIG5" : "GBK", "UTF-8", sim::Utf16ToUtf8(w->title));
    // Windows cuts at cchMax - 1 bytes and terminates.
    size_t n = ansi.size() < (size_t)cchMax - 1 ? ansi.size() : (size_t)cchMax - 1;
    memcpy(text, ansi.data(), n);
    text[n] = 0;
    return (int)n;
}

BOOL EnableWindow(HWND window, BOOL enable) {
    SimWindow* w = Gui().Find(window);
    if (!w) return FALSE;
    BOOL wasDisabled = !w->enabled;
    w->enabled = enable != FALSE;
    return wasDisabled;
}
BOOL IsWindowEnabled(HWND window) {
    SimWindow* w = Gui().Find(window);
    return w && w->enabled;
}
BOOL IsWindowVisible(HWND window) {
    SimWindow* w = Gui().Find(window);
    return w && w->visible;
}

BOOL SetForegroundWindow(HWND window) {
    if (!Gui().Find(window)) return FALSE;
    Gui().foreground = window;
    return TRUE;
}
HWND GetForegroundWindow(void) { return Gui().foreground; }

BOOL InvalidateRect(HWND window, const RECT*, BOOL) {
    SimWindow* w = Gui().Find(window);
    if (!w) return FALSE;
    w->needsPaint = true;
    return TRUE;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC) {
    GuiState& gui = Gui();
    if (!gui.Find(window)) return 0;
    for (sim::QueuedTimer& t : gui.timers)
        if (t.window == window && t.id == id) {
            t.period = elapse;
            return id;
        }
    gui.timers.push_back({window, id, elapse});
    return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    GuiState& gui = Gui();
    for (size_t i = 0; i < gui.timers.size(); i++)
        if (gui.timers[i].window == window && gui.timers[i].id == id) {
            gui.timers.erase(gui.timers.begin() + (long)i);
            return TRUE;
        }
    return FALSE;
}

HWND SetFocus(HWND window) {
    GuiState& gui = Gui();
    HWND previous = gui.focus;
    if (window && !gui.Find(window)) return nullptr;
    gui.focus = window;
    return previous;
}

BOOL GetMessageA(MSG* msg, HWND, UINT, UINT) {
    GuiState& gui = Gui();
    memset(msg, 0, sizeof(*msg));
    if (gui.quitPosted) {
        gui.quitPosted = false;
        msg->message = WM_QUIT;
        msg->wParam = (WPARAM)gui.quitCode;
        return FALSE;
    }
    if (!gui.queue.empty()) {
        *msg = gui.queue.front();
        gui.queue.pop_front();
        return TRUE;
    }
    // As on Windows, paint messages come when nothing else is queued.
    for (auto& kv : gui.windows)
        if (kv.second.needsPaint && kv.second.visible && kv.second.proc) {
            msg->hwnd = kv.first;
            msg->message = WM_PAINT;
            return TRUE;
        }
    msg->message = WM_QUIT;
    return FALSE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
    SimWindow* w = Gui().Find(msg->hwnd);
    if (!w) return 0;
    LRESULT r = Deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam);
    // A window that does not validate on WM_PAINT would be painted forever.
    if (msg->message == WM_PAINT && (w = Gui().Find(msg->hwnd))) w->needsPaint = false;
    return r;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return Deliver(window, message, wParam, lParam);
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) return Deliver(window, WM_CLOSE, 0, 0);
    if (message == WM_CLOSE) DestroyWindow(window);
    return 0;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window && !Gui().Find(window)) return Current().lastError = 1400, FALSE;
    Post(window, message, wParam, lParam);
    return TRUE;
}

void PostQuitMessage(int code) {
    Gui().quitPosted = true;
    Gui().quitCode = code;
}

HICON LoadIconA(HINSTANCE, LPCSTR) { return (HICON)(intptr_t)0x30; }
HCURSOR LoadCursorA(HINSTANCE, LPCSTR) { return (HCURSOR)(intptr_t)0x31; }
int GetSystemMetrics(int index) {
    GuiState& gui = Gui();
    return index == SM_CXSCREEN ? gui.screenWidth : index == SM_CYSCREEN ? gui.screenHeight : 0;
}
