// The default input method: an earlier version that Windows still uses as
// the default cannot be replaced, so the interactive install refuses to start
// until the user has made it non-default and restarted.  After the install,
// the last page switches the setup program itself to the new input method so
// that the user can try it.
//
// Layouts are recognised by the first eight characters of their
// description, in GBK or in what a Big5 system's narrow calls give.
#include "imereg/imereg.h"
#include "imereg/texts.h"
#include "setup/context.h"
#include "setup/texts.h"

enum {
    kCurrentDescLimit = 50,     // ImmGetDescriptionA's limit for the active layout
    kListDescLimit = 80,        // … and for each layout of the list
    kDescBuffer = 96,           // room for either, zero-filled
    kMaxLayouts = 50,
    kLastPagesFrom = 7,
};

static bool IsOurDescription(const char* text) { return BeginsWithImeName(text, false); }

// The active layout's description; for a layout that is not an input method
// ImmGetDescriptionA writes nothing and the buffer keeps the layout's name,
// which never matches.
static void CurrentLayoutDescription(char out[kDescBuffer]) {
    memset(out, 0, kDescBuffer);
    GetKeyboardLayoutNameA(out);
    ImmGetDescriptionA(GetKeyboardLayout(0), out, kCurrentDescLimit);
}

int CheckDefaultInputMethod(void) {
    FindImeInPreload();
    if (g_preload.hit && g_preload.position == 1) {
        if (g_preload.count < 2) {
            ShowMessageW(MSG_ONLY_IME_W, TITLE_INSTALL_W, MB_OK);
            return 0;
        }
        ShowMessageW(MSG_DEFAULT_IME_W, TITLE_INSTALL_W, MB_OK);
        // The exchange is offered on 32-bit Windows only.
        if (Is64BitWindows()) return 0;
        if (ShowMessageW(MSG_MAKE_NON_DEFAULT_W, TITLE_INSTALL_W, MB_YESNO, IDNO) != IDYES) return 0;
        SwapFirstTwoPreload();
        ShowMessageW(MSG_RESTART_FIRST_W, TITLE_INSTALL_W, MB_OK);
        return 0;
    }
    // Not the user's default, but active in this thread: it is the default
    // layout the system gave the setup program.
    char description[kDescBuffer];
    CurrentLayoutDescription(description);
    if (IsOurDescription(description)) {
        ShowMessageW(MSG_ACTIVE_IME_W, TITLE_INSTALL_W, MB_OK);
        return 0;
    }
    return 1;
}

// The first loaded layout whose description is ours, or null.
static HKL FindLayoutByDescription(void) {
    HKL layouts[kMaxLayouts];
    int n = GetKeyboardLayoutList(kMaxLayouts, layouts);
    for (int i = 0; i < n && i < kMaxLayouts; i++) {
        char description[kDescBuffer];
        memset(description, 0, sizeof(description));
        ImmGetDescriptionA(layouts[i], description, kListDescLimit);
        if (IsOurDescription(description)) return layouts[i];
    }
    return NULL;
}

int ActivateInstalledIme(void) {
    if (g_ctx.currentPage < kLastPagesFrom) return 0;
    char description[kDescBuffer];
    CurrentLayoutDescription(description);
    if (IsOurDescription(description)) return 0;
    // The registration's handle, or, when it failed, one found among the
    // loaded layouts; kept so that later paints do not search again.
    if (!g_installedLayout) g_installedLayout = FindLayoutByDescription();
    if (g_installedLayout) ActivateKeyboardLayout(g_installedLayout, KLF_SETFORPROCESS);
    return 1;
}
