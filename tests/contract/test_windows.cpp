// Other programs' windows as the in-use scan sees them: GetParent's answer
// for owned and child windows, EnumWindows, the registered class name and
// GetWindowTextW's cut.
#include <stdlib.h>

#include "tests/contract/contract.h"

namespace {
const char* kClass = "VornContractWindow";

struct Seen {
    HWND wanted[4];
    int hits[4];
    int others;
};

BOOL CALLBACK Collect(HWND window, LPARAM param) {
    Seen* seen = (Seen*)param;
    for (int i = 0; i < 4; i++)
        if (seen->wanted[i] == window) {
            seen->hits[i]++;
            return TRUE;
        }
    seen->others++;
    return TRUE;
}
}  // namespace

CONTRACT_TEST(test_GetParent_EnumWindows) {
    WNDCLASSA cls;
    memset(&cls, 0, sizeof(cls));
    cls.lpfnWndProc = DefWindowProcA;
    cls.lpszClassName = kClass;
    ok(RegisterClassA(&cls) != 0, "class registered, error %lu", (unsigned long)GetLastError());
    // Created with the name in another case: Windows keeps the registered one.
    HWND main = CreateWindowExA(0, "vorncontractwindow", "main", WS_OVERLAPPED | WS_CAPTION, 0, 0, 100, 100, NULL,
                                NULL, NULL, NULL);
    HWND popup = CreateWindowExA(0, kClass, "popup", WS_POPUP, 0, 0, 10, 10, main, NULL, NULL, NULL);
    HWND overlapped = CreateWindowExA(0, kClass, "owned", WS_OVERLAPPED | WS_CAPTION, 0, 0, 10, 10, main, NULL,
                                      NULL, NULL);
    HWND child = CreateWindowExA(0, kClass, "child", WS_CHILD, 0, 0, 10, 10, main, NULL, NULL, NULL);
    // Wine without an X display creates no window at all.
    if (!main && contract::g_onWine && !getenv("DISPLAY")) {
        printf("%s: skipped: no display to create windows on\n", contract::g_test);
        return;
    }
    ok(main && popup && overlapped && child, "four windows: %p %p %p %p", main, popup, overlapped, child);
    if (!main || !popup || !overlapped || !child) return;

    ok(GetParent(popup) == main, "an owned pop-up names its owner: %p", GetParent(popup));
    ok(GetParent(overlapped) == NULL, "an owned overlapped window names none: %p", GetParent(overlapped));
    ok(GetParent(child) == main, "a child names its parent: %p", GetParent(child));
    ok(GetParent(main) == NULL, "an unowned top-level window names none: %p", GetParent(main));

    Seen seen;
    memset(&seen, 0, sizeof(seen));
    seen.wanted[0] = main, seen.wanted[1] = popup, seen.wanted[2] = overlapped, seen.wanted[3] = child;
    ok(EnumWindows(Collect, (LPARAM)&seen), "EnumWindows runs to its end");
    ok(seen.hits[0] == 1 && seen.hits[1] == 1 && seen.hits[2] == 1, "each top-level window once: %d %d %d",
       seen.hits[0], seen.hits[1], seen.hits[2]);
    ok(seen.hits[3] == 0, "children are not enumerated");

    char name[100];
    memset(name, 0xbd, sizeof(name));
    int n = GetClassNameA(main, name, sizeof(name));
    ok(n == (int)strlen(kClass) && strcmp(name, kClass) == 0, "class name '%s' (%d)", name, n);
    memset(name, 0xbd, sizeof(name));
    n = GetClassNameA(popup, name, 5);
    ok(n == 4 && memcmp(name, "Vorn", 5) == 0 && (unsigned char)name[5] == 0xbd, "cut class name (%d)", n);

    WCHAR title[8];
    memset(title, 0xbd, sizeof(title));
    n = GetWindowTextW(popup, title, 4);
    ok(n == 3 && title[0] == 'p' && title[2] == 'p' && title[3] == 0 && title[4] == 0xbdbd,
       "GetWindowTextW keeps room for the terminator: %d", n);

    DestroyWindow(child);
    DestroyWindow(overlapped);
    DestroyWindow(popup);
    DestroyWindow(main);
}

namespace {
struct DialogSeen {
    LPARAM param;
    LRESULT checked;
    int inits;
};
DialogSeen g_dialog;

// Ends the dialog from WM_INITDIALOG, after setting and reading one check.
INT_PTR CALLBACK EndAtOnce(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG) return 0;
    g_dialog.inits++;
    g_dialog.param = lParam;
    SendDlgItemMessageA(dialog, 102, BM_SETCHECK, BST_CHECKED, 0);
    g_dialog.checked = SendDlgItemMessageA(dialog, 102, BM_GETCHECK, 0, 0);
    EndDialog(dialog, 7);
    return 0;
}
}  // namespace

CONTRACT_TEST(test_DialogBoxParamA) {
    // Both templates are found by name, whatever their language.
    const char* names[2] = {"PYKEY", "PYKEYB"};
    for (int i = 0; i < 2; i++) {
        memset(&g_dialog, 0, sizeof(g_dialog));
        INT_PTR r = DialogBoxParamA(GetModuleHandleA(NULL), names[i], NULL, EndAtOnce, 0x1234);
        if (r == -1 && contract::g_onWine && !getenv("DISPLAY")) {
            printf("%s: skipped: no display to create dialogs on\n", contract::g_test);
            return;
        }
        ok(r == 7 && g_dialog.inits == 1, "%s: EndDialog's result %ld after %d WM_INITDIALOG", names[i], (long)r,
           g_dialog.inits);
        ok(g_dialog.param == 0x1234, "%s: the parameter reaches WM_INITDIALOG", names[i]);
        ok(g_dialog.checked == BST_CHECKED, "%s: radio button 102 takes its check", names[i]);
    }
    SetLastError(0xdeadbeef);
    memset(&g_dialog, 0, sizeof(g_dialog));
    INT_PTR r = DialogBoxParamA(GetModuleHandleA(NULL), "PYKEYX", NULL, EndAtOnce, 0);
    ok(r == -1 && g_dialog.inits == 0 && GetLastError() == ERROR_RESOURCE_NAME_NOT_FOUND,
       "a missing template: %ld, error %lu", (long)r, (unsigned long)GetLastError());
}
