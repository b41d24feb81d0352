// Programs that hold the input method.  Each top-level window of the input
// method's UI class stands for a program using it; the program is named by
// the title of the window's top-level owner.  The running input method also
// keeps a named shared-memory block while its data is loaded.
//
// The list and the message grow with the number of windows: no count of
// windows can overrun them.  Should memory run out, the message still says
// what to do, without the list.
#include <stdlib.h>

#include "imereg/imereg.h"
#include "imereg/texts.h"

enum { kClassBytes = 100, kTitleChars = 200, kCountChars = 12 };

// A growable UTF-16 text; `failed` once an append could not get memory.
struct WideText {
    WCHAR* text;
    size_t cch;
    size_t cchCapacity;
    bool failed;
};

static WideText g_list;
static WideText g_message;
static int g_found;

static const WCHAR kFallbackMessage[] = INUSE_CLOSE_THEM_W INUSE_NEWLINE_W INUSE_OR_RESTART_W;
static const WCHAR kEmpty[] = {0};

static void ClearText(WideText* t) {
    free(t->text);
    memset(t, 0, sizeof(*t));
}

static void AppendChars(WideText* t, const WCHAR* piece, size_t cchPiece) {
    if (t->failed) return;
    if (t->cch + cchPiece + 1 > t->cchCapacity) {
        size_t want = t->cchCapacity ? t->cchCapacity : 256;
        while (want < t->cch + cchPiece + 1) want *= 2;
        WCHAR* grown = (WCHAR*)realloc(t->text, want * sizeof(WCHAR));
        if (!grown) {
            t->failed = true;
            return;
        }
        t->text = grown;
        t->cchCapacity = want;
    }
    memcpy(t->text + t->cch, piece, cchPiece * sizeof(WCHAR));
    t->cch += cchPiece;
    t->text[t->cch] = 0;
}

static void AppendText(WideText* t, const WCHAR* piece) {
    size_t n = 0;
    while (piece[n]) n++;
    AppendChars(t, piece, n);
}

static void AppendNumber(WideText* t, int value) {
    WCHAR digits[kCountChars];
    size_t n = 0;
    unsigned v = value < 0 ? 0u : (unsigned)value;
    do {
        digits[kCountChars - 1 - n++] = (WCHAR)('0' + v % 10);
        v /= 10;
    } while (v && n < kCountChars);
    AppendChars(t, digits + kCountChars - n, n);
}

// The line of window `w`, numbered with the running count; a window without
// owner or parent counts but has no line.
static void AppendProgramLine(HWND w) {
    HWND top = GetParent(w);
    if (!top) return;
    for (HWND up = GetParent(top); up; up = GetParent(top)) top = up;
    WCHAR title[kTitleChars];
    title[0] = 0;
    if (GetWindowTextW(top, title, kTitleChars) <= 0) title[0] = 0;
    title[kTitleChars - 1] = 0;
    AppendText(&g_list, INUSE_LINE_PREFIX_W);
    AppendNumber(&g_list, g_found);
    AppendText(&g_list, INUSE_LINE_COLON_W);
    AppendText(&g_list, title);
    AppendText(&g_list, INUSE_NEWLINE_W);
}

static BOOL CALLBACK CountImeWindow(HWND w, LPARAM) {
    char cls[kClassBytes];
    memset(cls, 0, sizeof(cls));
    GetClassNameA(w, cls, sizeof(cls));
    if (lstrcmpA(cls, IME_UI_CLASS) == 0) {
        g_found++;
        AppendProgramLine(w);
    }
    return TRUE;  // every window is looked at
}

int FindProgramsUsingIme(void) {
    ClearText(&g_list);
    ClearText(&g_message);
    g_found = 0;
    EnumWindows(CountImeWindow, 0);
    if (g_found > 0) {
        AppendText(&g_message, INUSE_HEAD_W);
        AppendNumber(&g_message, g_found);
        AppendText(&g_message, INUSE_HEAD_TAIL_W);
        if (g_list.text) AppendText(&g_message, g_list.text);
        AppendText(&g_message, INUSE_NEWLINE_W INUSE_NEWLINE_W);
        AppendText(&g_message, INUSE_CLOSE_THEM_W);
        AppendText(&g_message, INUSE_NEWLINE_W);
        AppendText(&g_message, INUSE_OR_RESTART_W);
        if (g_list.failed) g_message.failed = true;
    }
    return g_found;
}

LPCWSTR InUseMessage(void) {
    if (g_found == 0) return kEmpty;
    if (g_message.failed || !g_message.text) return kFallbackMessage;
    return g_message.text;
}

bool IsImeDataInMemory(void) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, TRUE, IME_SHARED_MEMORY);
    if (!mapping) return false;
    CloseHandle(mapping);
    return true;
}
