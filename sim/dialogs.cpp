// Other programs' windows and modal dialogs of the simulated machine:
// EnumWindows, GetParent, GetClassNameA, GetWindowTextW, window rectangles,
// and DialogBoxParamA driven by the test's script of user actions.
#include <string.h>

#include "sim/machine.h"

using sim::Current;
using sim::GuiState;
using sim::SimWindow;

namespace {
GuiState& Gui() { return Current().gui; }

std::string Lower(const std::string& s) {
    std::string r = s;
    for (char& c : r) c = (char)((c >= 'A' && c <= 'Z') ? c + 32 : c);
    return r;
}

INT_PTR Deliver(DLGPROC proc, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return proc(dialog, message, wParam, lParam);
}
}  // namespace

namespace sim {

HWND GuiState::AddWindow(const std::string& cls, const std::u16string& title, HWND owner, RECT rect, DWORD style) {
    HWND h = (HWND)(nextHandle += 4);
    SimWindow w;
    w.cls = cls;
    w.title = title;
    w.parent = owner;
    w.style = style ? style : owner ? (DWORD)WS_POPUP : (DWORD)WS_OVERLAPPED;
    w.x = rect.left, w.y = rect.top, w.width = rect.right - rect.left, w.height = rect.bottom - rect.top;
    w.visible = true;
    windows[h] = w;
    return h;
}

}  // namespace sim

// Top-level windows in creation order; the callback may stop the walk.
BOOL EnumWindows(WNDENUMPROC callback, LPARAM param) {
    std::vector<HWND> topLevel;
    for (const auto& kv : Gui().windows)
        if (!(kv.second.style & WS_CHILD)) topLevel.push_back(kv.first);
    for (HWND h : topLevel)
        if (Gui().Find(h) && !callback(h, param)) break;
    return TRUE;
}

// As Windows: a child's parent, a pop-up's owner, and nothing for an
// overlapped top-level window even when it has an owner.
HWND GetParent(HWND window) {
    SimWindow* w = Gui().Find(window);
    if (!w) return Current().lastError = 1400, nullptr;
    if ((w->style & WS_CHILD) || (w->style & WS_POPUP)) return w->parent;
    return nullptr;
}

// The class name as registered, cut to the buffer.
int GetClassNameA(HWND window, LPSTR name, int cbName) {
    SimWindow* w = Gui().Find(window);
    if (!w || !name || cbName <= 0) return Current().lastError = 1400, 0;
    auto c = Gui().classes.find(Lower(w->cls));
    std::string text = c != Gui().classes.end() ? c->second.name : w->cls;
    size_t n = text.size() < (size_t)cbName - 1 ? text.size() : (size_t)cbName - 1;
    memcpy(name, text.data(), n);
    name[n] = 0;
    return (int)n;
}

int GetWindowTextW(HWND window, LPWSTR text, int cchText) {
    SimWindow* w = Gui().Find(window);
    if (!text || cchText <= 0) return 0;
    text[0] = 0;
    if (!w) return 0;
    size_t n = w->title.size() < (size_t)cchText - 1 ? w->title.size() : (size_t)cchText - 1;
    memcpy(text, w->title.data(), n * sizeof(WCHAR));
    text[n] = 0;
    return (int)n;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    SimWindow* w = Gui().Find(window);
    if (!w || !rect) return Current().lastError = 1400, FALSE;
    rect->left = w->x;
    rect->top = w->y;
    rect->right = w->x + w->width;
    rect->bottom = w->y + w->height;
    return TRUE;
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT flags) {
    SimWindow* w = Gui().Find(window);
    if (!w) return Current().lastError = 1400, FALSE;
    if (!(flags & SWP_NOMOVE)) w->x = x, w->y = y;
    if (!(flags & SWP_NOSIZE)) w->width = cx, w->height = cy;
    return TRUE;
}

// The dialog runs WM_INITDIALOG, then the script's actions until EndDialog;
// Esc and the close box reach the procedure as IDCANCEL, Enter as the
// template's default button.  The owner is disabled meanwhile.
INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC proc, LPARAM param) {
    sim::Machine& m = Current();
    GuiState& gui = m.gui;
    std::string name = (uintptr_t)templateName < 0x10000 ? "#" + std::to_string((uintptr_t)templateName)
                                                         : std::string(templateName);
    auto t = gui.dialogTemplates.find(name);
    if (t == gui.dialogTemplates.end()) return m.lastError = ERROR_RESOURCE_NAME_NOT_FOUND, -1;
    if (!proc || gui.modalDialog || m.Fault("DialogBoxParamA")) return m.lastError = ERROR_NOT_ENOUGH_MEMORY, -1;

    sim::DialogCall call;
    call.name = name;
    call.language = t->second.language;
    call.owner = owner;
    HWND dialog = gui.AddWindow("#32770", u"", owner, RECT{0, 0, 0, 0}, WS_POPUP | WS_CAPTION | WS_SYSMENU);
    bool ownerWasEnabled = owner && IsWindowEnabled(owner);
    if (ownerWasEnabled) EnableWindow(owner, FALSE);
    call.ownerDisabled = owner && !IsWindowEnabled(owner);
    gui.modalDialog = dialog;
    gui.dialogEnded = false;
    gui.dialogResult = 0;

    Deliver(proc, dialog, WM_INITDIALOG, 0, param);
    SimWindow* w = gui.Find(dialog);
    call.left = w->x;
    call.top = w->y;
    call.checksAfterInit = w->checks;
    while (!gui.dialogEnded && !gui.dialogInput.empty()) {
        sim::DialogInput in = gui.dialogInput.front();
        gui.dialogInput.pop_front();
        call.inputsBeforeEnd++;
        if (in.kind == sim::DialogInput::kClose && Deliver(proc, dialog, WM_CLOSE, 0, 0)) continue;
        int id = in.kind == sim::DialogInput::kClick   ? in.id
                 : in.kind == sim::DialogInput::kEnter ? t->second.defaultButton
                                                       : IDCANCEL;
        Deliver(proc, dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    }
    call.checks = gui.Find(dialog)->checks;
    call.ended = gui.dialogEnded;
    call.result = gui.dialogEnded ? gui.dialogResult : -1;
    gui.windows.erase(dialog);
    gui.modalDialog = nullptr;
    if (ownerWasEnabled) EnableWindow(owner, TRUE);
    gui.dialogs.push_back(call);
    return call.result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    GuiState& gui = Gui();
    if (!dialog || dialog != gui.modalDialog) return Current().lastError = 1400, FALSE;
    gui.dialogEnded = true;
    gui.dialogResult = result;
    return TRUE;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM) {
    SimWindow* w = Gui().Find(dialog);
    if (!w) return 0;
    if (message == BM_SETCHECK) w->checks[id] = (int)wParam;
    if (message == BM_GETCHECK) return w->checks.count(id) ? w->checks[id] : BST_UNCHECKED;
    return 0;
}
