// The user-interface state of a simulated machine: window classes, windows,
// the thread's message queue and timers, device contexts, GDI objects, and
// the display list of everything drawn.  Part of sim::Machine; nothing here
// outlives the machine that owns it.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/winapi.h"

namespace sim {

struct WindowClass {
    std::string name;  // as registered
    WNDPROC proc = nullptr;
    HICON icon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    HINSTANCE instance = nullptr;
};

struct SimWindow {
    std::string cls;        // class name as given
    std::u16string title;   // caption, or an edit control's text
    WNDPROC proc = nullptr; // null for the system classes (EDIT)
    HWND parent = nullptr;  // hWndParent as given: the parent of a child, the owner of a top-level window
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, width = 0, height = 0;
    int id = 0;
    bool visible = false;
    bool enabled = true;
    bool needsPaint = false;
    std::map<int, int> checks;  // a dialog's BM_SETCHECK states by control id
};

enum GdiKind { kGdiPen = 1, kGdiBrush, kGdiFont, kGdiBitmap, kGdiStock };

struct GdiObject {
    GdiKind kind = kGdiStock;
    COLORREF color = 0;      // pen and brush
    int penWidth = 1;
    int fontHeight = 0, fontWidth = 0, fontWeight = 0;
    BYTE charset = 0;
    std::u16string face;
    int bitmapWidth = 0, bitmapHeight = 0;
    bool deleted = false;
};

struct DeviceContext {
    HWND window = nullptr;   // null for a memory device context
    bool memory = false;
    bool fromPaint = false;  // BeginPaint's
    bool released = false;
    COLORREF textColor = RGB(0, 0, 0);
    COLORREF bkColor = RGB(255, 255, 255);
    int bkMode = OPAQUE;
    HGDIOBJ pen = nullptr;   // the selected objects; stock defaults on creation
    HGDIOBJ brush = nullptr;
    HGDIOBJ font = nullptr;  // null: the system font
    HGDIOBJ bitmap = nullptr;
    POINT position = {0, 0};
};

enum DrawKind { kDrawLine = 1, kDrawTextA, kDrawTextW, kDrawRectangle, kDrawStretchBlt };

// One drawing call as the device context saw it.
struct DrawOp {
    DrawKind kind = kDrawLine;
    HDC dc = nullptr;
    HWND window = nullptr;     // the window the device context belongs to
    bool fromPaint = false;    // BeginPaint's context (else GetDC's or a memory one)
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // line ends, text origin, rectangle, blit destination
    COLORREF penColor = 0;     // lines and rectangle outlines
    COLORREF brushColor = 0;   // rectangle fill
    COLORREF textColor = 0;
    int bkMode = OPAQUE;
    HGDIOBJ font = nullptr;
    std::string textA;         // GBK bytes
    std::u16string textW;
    int srcX = 0, srcY = 0, srcW = 0, srcH = 0;  // blit source
    int bitmapWidth = 0, bitmapHeight = 0;       // of the bitmap in the source context
    DWORD rop = 0;
};

struct QueuedTimer {
    HWND window = nullptr;
    UINT_PTR id = 0;
    UINT period = 0;
};

// What the resource script holds for a dialog template, as far as the
// simulated dialog manager needs it.
struct DialogTemplate {
    WORD language = 0;
    int defaultButton = 0;  // the DEFPUSHBUTTON's id, which Enter presses
};

// One action of the user in a modal dialog.  The simulated dialog has no
// control behaviour of its own: a click only notifies the dialog procedure.
struct DialogInput {
    enum Kind { kClick, kEnter, kEsc, kClose } kind = kClick;
    int id = 0;  // the control clicked
};

// One DialogBoxParamA call as the test sees it afterwards.
struct DialogCall {
    std::string name;
    WORD language = 0;
    HWND owner = nullptr;
    bool ownerDisabled = false;          // while the dialog ran
    int left = 0, top = 0;               // where WM_INITDIALOG put it
    std::map<int, int> checksAfterInit;
    std::map<int, int> checks;           // when it ended (or was left open)
    size_t inputsBeforeEnd = 0;          // inputs delivered, the last one ending it
    bool ended = false;                  // EndDialog was called; false: the script ran out
    INT_PTR result = 0;
};

struct GuiState {
    std::map<std::string, WindowClass> classes;  // lower-case name -> class
    std::map<HWND, SimWindow> windows;           // handles grow, so this is creation order
    std::deque<MSG> queue;
    bool quitPosted = false;
    int quitCode = 0;
    std::vector<QueuedTimer> timers;
    HWND focus = nullptr;
    HWND foreground = nullptr;
    std::map<HDC, DeviceContext> dcs;
    std::map<HGDIOBJ, GdiObject> objects;
    std::vector<DrawOp> drawing;
    intptr_t nextHandle = 0x10000;
    int screenWidth = 1024, screenHeight = 768;
    // The theme's caption height (SM_CYCAPTION) and fixed frame
    // (SM_CXFIXEDFRAME): the classic 19 and 3 here, 26 under Wine 10.
    int captionHeight = 19, fixedFrame = 3;
    // Runs inside every message box, as if the user acted while it was up;
    // the box's modal loop then dispatches what that queued.
    std::function<void()> duringMessageBox;

    // Dialog templates the program carries, the user's script for modal
    // dialogs (consumed in order) and the dialogs shown.
    std::map<std::string, DialogTemplate> dialogTemplates = {{"PYKEY", {2052, 105}}, {"PYKEYB", {1028, 105}}};
    std::deque<DialogInput> dialogInput;
    std::vector<DialogCall> dialogs;
    HWND modalDialog = nullptr;
    bool dialogEnded = false;
    INT_PTR dialogResult = 0;

    // A top-level window of another program: owned windows get WS_POPUP, as
    // the input method's UI windows have, unless `style` says otherwise.
    HWND AddWindow(const std::string& cls, const std::u16string& title, HWND owner = nullptr,
                   RECT rect = RECT{0, 0, 0, 0}, DWORD style = 0);

    SimWindow* Find(HWND window);
    // First live window of a class (case-insensitive) with no parent; null when none.
    HWND FindTopLevel(const std::string& cls);
    // The user's actions: they reach a window only when it is visible and enabled.
    bool Click(HWND window, int x, int y, bool right = false);
    bool PressCloseBox(HWND window);
    // Posts WM_TIMER for every running timer.
    void FireTimers();
    // Dispatches queued (and paint) messages until none is left or the quit
    // message arrives; returns the number dispatched.
    int Pump();
    // The drawing calls since `from` that went to `window`.
    std::vector<DrawOp> DrawnOn(HWND window, size_t from = 0) const;
    const GdiObject* Object(HGDIOBJ object) const;
};

}  // namespace sim
