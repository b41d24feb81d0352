// The users' preload lists: the numbered layouts Windows loads at logon,
// entry 1 being the default input method.  On the NT family they are values
// "1", "2", … of "keyboard layout\preload" (the current user's and the
// default profile's); on 9x numbered subkeys holding the id as their default
// value.  Only entries 1 to 49 are ever looked at.
#include "imereg/imereg.h"
#include "imereg/texts.h"
#include "setup/context.h"
#include "setup/log.h"

PreloadState g_preload;

// Value names hold any int ("-2147483648" and the terminator).
enum { kValueNameBytes = 12, kReadBytes = 200, kShortDescBytes = 12, kDescBytes = 16 };
enum { kShortDescChars = 6, kDescChars = 8, kBig5CodePage = 950 };

bool IsNtFamily(void) { return (GetVersion() & 0x80000000u) == 0; }

bool ReadRegText(HKEY key, LPCSTR name, char* out, DWORD cbOut) {
    if (cbOut == 0) return false;
    out[0] = 0;
    // Any type is read, as RegQueryValueExA gives it.  A value that fills the
    // buffer is taken only when its last byte is the terminator.
    DWORD cb = cbOut;
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key, name, NULL, &type, (LPBYTE)out, &cb) != ERROR_SUCCESS || cb > cbOut ||
        (cb == cbOut && out[cbOut - 1] != 0)) {
        out[0] = 0;
        return false;
    }
    if (cb < cbOut) out[cb] = 0;
    return true;
}

bool BeginsWithImeName(LPCSTR text, bool shortForm) {
    size_t cb = shortForm ? kShortDescBytes : kDescBytes;
    if (strncmp(text, shortForm ? IME_SHORT_DESC_GBK : IME_DESC_GBK, cb) == 0) return true;
    // Narrow calls hand back what the system keeps in UTF-16 converted to the
    // ANSI code page.  On a Big5 system that is the traditional name for an
    // entry written by hand or with the traditional text, and for the
    // simplified text whatever the system makes of it: two of its characters
    // are missing from Big5 and come back as the default character.
    if (GetACP() != kBig5CodePage) return false;
    if (strncmp(text, shortForm ? IME_SHORT_DESC_BIG5 : IME_DESC_BIG5, cb) == 0) return true;
    char simplified[kDescBytes + 1];
    int n = WideCharToMultiByte(CP_ACP, 0, IME_DESC_W, shortForm ? kShortDescChars : kDescChars, simplified,
                                (int)sizeof(simplified) - 1, NULL, NULL);
    return n > 0 && strncmp(text, simplified, (size_t)n) == 0;
}

LSTATUS WriteRegText(HKEY key, LPCSTR name, LPCSTR text) {
    LSTATUS status = RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)text, (DWORD)strlen(text));
    if (status == ERROR_SUCCESS) LogRegistryValue(name, text);
    return status;
}

static void EntryName(char* out, int n) { snprintf(out, kValueNameBytes, "%d", n); }

// Opens `layoutPath` under `root` for reading and its "preload" with full
// access.  False when the first fails; `*preload` is NULL when only the
// second does.
static bool OpenNtPreload(HKEY root, LPCSTR layoutPath, HKEY* layout, HKEY* preload) {
    *preload = NULL;
    if (RegOpenKeyExA(root, layoutPath, 0, KEY_READ, layout) != ERROR_SUCCESS) return false;
    if (RegOpenKeyExA(*layout, KEY_PRELOAD, 0, KEY_ALL_ACCESS, preload) != ERROR_SUCCESS) *preload = NULL;
    return true;
}

static void CloseNtPreload(HKEY layout, HKEY preload) {
    if (preload) RegCloseKey(preload);
    RegCloseKey(layout);
}

// Sets the default value of the numbered subkey `n`, if it opens.
static void Write9xEntry(HKEY preload, int n, LPCSTR id) {
    char name[kValueNameBytes];
    HKEY sub;
    EntryName(name, n);
    if (RegOpenKeyExA(preload, name, 0, KEY_ALL_ACCESS, &sub) != ERROR_SUCCESS) return;
    WriteRegText(sub, "", id);
    RegCloseKey(sub);
}

// NT family: values "from" … "to" of `preload` from the table, every
// position, an empty id too: skipping one would leave the id that moved
// away from it in two places.
static void WriteNtEntries(HKEY preload, int from, int to) {
    char name[kValueNameBytes];
    for (int v = from; v <= to; v++) {
        EntryName(name, v);
        WriteRegText(preload, name, g_preload.ids[v - 1]);
    }
}

static int ReadNtList(HKEY preload) {
    char name[kValueNameBytes];
    int n = 0;
    while (n < kPreloadMax) {
        EntryName(name, n + 1);
        if (!ReadRegText(preload, name, g_preload.ids[n], kPreloadIdBytes)) break;
        n++;
    }
    return n;
}

static int Read9xList(HKEY preload) {
    char name[kValueNameBytes];
    int n = 0;
    while (n < kPreloadMax) {
        HKEY sub;
        EntryName(name, n + 1);
        if (RegOpenKeyExA(preload, name, 0, KEY_ALL_ACCESS, &sub) != ERROR_SUCCESS) break;
        ReadRegText(sub, "", g_preload.ids[n], kPreloadIdBytes);
        RegCloseKey(sub);
        n++;
    }
    return n;
}

int ReadUserPreload(void) {
    g_preload.count = 0;
    if (IsNtFamily()) {
        HKEY layout, preload;
        if (!OpenNtPreload(HKEY_CURRENT_USER, KEY_USER_LAYOUT, &layout, &preload)) return 0;
        if (preload) g_preload.count = ReadNtList(preload);
        CloseNtPreload(layout, preload);
    } else {
        HKEY preload;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, KEY_USER_PRELOAD, 0, KEY_READ, &preload) != ERROR_SUCCESS) return 0;
        g_preload.count = Read9xList(preload);
        RegCloseKey(preload);
    }

    HKEY layouts;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KEY_LAYOUTS, 0, KEY_READ, &layouts) != ERROR_SUCCESS) return 0;
    for (int i = 0; i < g_preload.count; i++) {
        HKEY sub;
        g_preload.texts[i][0] = 0;
        // An empty name would open Keyboard Layouts itself.
        if (!g_preload.ids[i][0]) continue;
        if (RegOpenKeyExA(layouts, g_preload.ids[i], 0, KEY_ALL_ACCESS, &sub) != ERROR_SUCCESS) continue;
        ReadRegText(sub, VALUE_LAYOUT_TEXT, g_preload.texts[i], kLayoutTextBytes);
        RegCloseKey(sub);
    }
    RegCloseKey(layouts);
    return g_preload.count;
}

bool FindImeInPreload(void) {
    g_preload.hit = false;
    g_preload.position = 0;
    g_preload.count = 0;
    if (ReadUserPreload() == 0) return false;
    for (int i = 0; i < g_preload.count; i++) {
        if (BeginsWithImeName(g_preload.texts[i], true)) {
            g_preload.position = i + 1;
            g_preload.hit = true;
            return true;
        }
    }
    return false;
}

void PromoteImeInPreload(void) {
    int p = g_preload.position;
    if (!g_preload.hit || g_preload.count < 3 || p < 3 || p > g_preload.count || g_ctx.windowsMajor > 5) return;

    // Entry p moves to position 2; 2 … p-1 move down one place; 1 stays.
    char id[kPreloadIdBytes];
    char text[kLayoutTextBytes];
    memcpy(id, g_preload.ids[p - 1], sizeof(id));
    memcpy(text, g_preload.texts[p - 1], sizeof(text));
    for (int k = p - 1; k > 1; k--) {
        memcpy(g_preload.ids[k], g_preload.ids[k - 1], sizeof(id));
        memcpy(g_preload.texts[k], g_preload.texts[k - 1], sizeof(text));
    }
    memcpy(g_preload.ids[1], id, sizeof(id));
    memcpy(g_preload.texts[1], text, sizeof(text));
    g_preload.position = 2;

    if (IsNtFamily()) {
        HKEY layout, preload;
        if (!OpenNtPreload(HKEY_CURRENT_USER, KEY_USER_LAYOUT, &layout, &preload)) return;
        if (preload) WriteNtEntries(preload, 2, g_preload.count);
        CloseNtPreload(layout, preload);
        // The default profile gets the current user's order; its entry 1 stays.
        if (!OpenNtPreload(HKEY_USERS, KEY_DEFAULT_LAYOUT, &layout, &preload)) return;
        if (preload) WriteNtEntries(preload, 2, g_preload.count);
        CloseNtPreload(layout, preload);
    } else {
        HKEY preload;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, KEY_USER_PRELOAD, 0, KEY_READ, &preload) != ERROR_SUCCESS) return;
        for (int v = 2; v <= g_preload.count; v++) Write9xEntry(preload, v, g_preload.ids[v - 1]);
        RegCloseKey(preload);
    }
}

// Exchanges entries 1 and 2 of `preload` (NT family) from the table.
static void SwapNtEntries(HKEY preload) {
    WriteRegText(preload, "1", g_preload.ids[1]);
    WriteRegText(preload, "2", g_preload.ids[0]);
}

void SwapFirstTwoPreload(void) {
    // Without two read entries there is nothing to exchange, and an empty id
    // would make the list lose its default.
    if (g_preload.count < 2 || !g_preload.ids[0][0] || !g_preload.ids[1][0]) return;
    if (IsNtFamily()) {
        HKEY layout, preload;
        if (!OpenNtPreload(HKEY_CURRENT_USER, KEY_USER_LAYOUT, &layout, &preload)) return;
        if (preload) SwapNtEntries(preload);
        CloseNtPreload(layout, preload);
        if (!OpenNtPreload(HKEY_USERS, KEY_DEFAULT_LAYOUT, &layout, &preload)) return;
        if (preload) SwapNtEntries(preload);
        CloseNtPreload(layout, preload);
    } else {
        HKEY preload;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, KEY_USER_PRELOAD, 0, KEY_READ, &preload) != ERROR_SUCCESS) return;
        Write9xEntry(preload, 2, g_preload.ids[0]);
        Write9xEntry(preload, 1, g_preload.ids[1]);
        RegCloseKey(preload);
    }
}

// ASCII letters compared without case: layout ids are hexadecimal.
static bool SamePrefix(LPCSTR a, LPCSTR b, size_t n) {
    for (size_t i = 0; i < n; i++) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = (char)(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = (char)(y - 'A' + 'a');
        if (x != y) return false;
        if (!x) return true;
    }
    return true;
}

enum { kEntryOther, kEntryHolds, kEntrySuffixOnly };

// How a stored entry relates to `id`: it holds it, it differs from it only
// in the language suffix, or it is another layout.
static int CompareEntry(LPCSTR value, LPCSTR id) {
    size_t cchId = strlen(id);
    if (strlen(value) >= cchId && SamePrefix(value, id, cchId)) return kEntryHolds;
    if (cchId > 3 && strlen(value) >= cchId - 3 && SamePrefix(value, id, cchId - 3)) return kEntrySuffixOnly;
    return kEntryOther;
}

static void AddToNtList(HKEY preload, LPCSTR id) {
    char name[kValueNameBytes];
    char value[kReadBytes];
    for (int n = 1; n <= kPreloadMax; n++) {
        EntryName(name, n);
        if (!ReadRegText(preload, name, value, sizeof(value))) {
            WriteRegText(preload, name, id);  // the first gap, normally the end
            return;
        }
        int relation = CompareEntry(value, id);
        if (relation == kEntryHolds) return;
        if (relation == kEntrySuffixOnly) {
            WriteRegText(preload, name, id);
            return;
        }
    }
    EntryName(name, kPreloadMax);
    WriteRegText(preload, name, id);
}

static void Set9xEntry(HKEY preload, LPCSTR name, LPCSTR id) {
    HKEY sub;
    if (RegCreateKeyExA(preload, name, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &sub, NULL) !=
        ERROR_SUCCESS)
        return;
    WriteRegText(sub, "", id);
    RegCloseKey(sub);
}

static void AddTo9xList(HKEY preload, LPCSTR id) {
    char name[kValueNameBytes];
    char value[kReadBytes];
    for (int n = 1; n <= kPreloadMax; n++) {
        HKEY sub;
        EntryName(name, n);
        if (RegOpenKeyExA(preload, name, 0, KEY_ALL_ACCESS, &sub) != ERROR_SUCCESS) {
            Set9xEntry(preload, name, id);
            return;
        }
        if (!ReadRegText(sub, "", value, sizeof(value))) {
            RegCloseKey(sub);
            continue;
        }
        int relation = CompareEntry(value, id);
        if (relation == kEntrySuffixOnly) WriteRegText(sub, "", id);
        RegCloseKey(sub);
        if (relation != kEntryOther) return;
    }
    EntryName(name, kPreloadMax);
    Set9xEntry(preload, name, id);
}

// True when the NT preload list `preload` holds an entry of this input
// method, under whatever id an earlier registration gave it.
static bool NtListHoldsIme(HKEY preload) {
    HKEY layouts;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KEY_LAYOUTS, 0, KEY_READ, &layouts) != ERROR_SUCCESS) return false;
    bool holds = false;
    char name[kValueNameBytes];
    char id[kPreloadIdBytes];
    char text[kLayoutTextBytes];
    for (int n = 1; n <= kPreloadMax && !holds; n++) {
        EntryName(name, n);
        if (!ReadRegText(preload, name, id, sizeof(id))) break;
        HKEY sub;
        if (!id[0] || RegOpenKeyExA(layouts, id, 0, KEY_READ, &sub) != ERROR_SUCCESS) continue;
        holds = ReadRegText(sub, VALUE_LAYOUT_TEXT, text, sizeof(text)) && BeginsWithImeName(text, true);
        RegCloseKey(sub);
    }
    RegCloseKey(layouts);
    return holds;
}

bool AddImeToPreloadOf(HKEY userRoot, LPCSTR id) {
    HKEY layout, preload;
    if (!id || !id[0] || !IsNtFamily() || !OpenNtPreload(userRoot, KEY_USER_LAYOUT, &layout, &preload)) return false;
    bool holds = preload && NtListHoldsIme(preload);
    if (preload && !holds) {
        AddToNtList(preload, id);
        holds = NtListHoldsIme(preload);
    }
    CloseNtPreload(layout, preload);
    return holds;
}

void AddLayoutToUserPreload(LPCSTR id) {
    if (!id || !id[0]) return;
    LogRegistryKey(LOG_ROOT_HKCU, KEY_USER_LAYOUT, KEY_PRELOAD);
    if (IsNtFamily()) {
        HKEY layout, preload;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, KEY_USER_LAYOUT, 0, KEY_READ, &layout) != ERROR_SUCCESS) {
            ShowFailureA(MSG_OPEN_PRELOAD, TITLE_VORN_WUBI);
            return;
        }
        if (RegOpenKeyExA(layout, KEY_PRELOAD, 0, KEY_ALL_ACCESS, &preload) == ERROR_SUCCESS) {
            AddToNtList(preload, id);
            RegCloseKey(preload);
        }
        RegCloseKey(layout);
    } else {
        HKEY preload;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, KEY_USER_PRELOAD, 0, KEY_READ, &preload) != ERROR_SUCCESS) {
            ShowFailureA(MSG_OPEN_PRELOAD, TITLE_VORN_WUBI);
            return;
        }
        AddTo9xList(preload, id);
        RegCloseKey(preload);
    }
}
