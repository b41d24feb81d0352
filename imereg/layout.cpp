// Keyboard-layout registration: ImmInstallIMEW first; when it gives no
// layout, the Keyboard Layouts entry is written by hand, reusing the entry
// of an earlier version or choosing a new layout id above every other.
#include "imereg/imereg.h"
#include "imereg/texts.h"
#include "payload/payload.h"
#include "payload/texts.h"
#include "setup/context.h"
#include "setup/log.h"

HKL g_installedLayout;

enum {
    kSystemDirChars = 100,
    kNameBytes = 200,  // one slot of the name table
    kImeDescBytes = 16,
};

static const DWORD kLayoutStep = 0x10000;

// Appends `tail` to the wide text in `dst` (`cchDst` characters); false when
// it does not fit, leaving `dst` unchanged.
static bool AppendWide(WCHAR* dst, size_t cchDst, LPCWSTR tail) {
    size_t n = 0, k = 0;
    while (n < cchDst && dst[n]) n++;
    while (tail[k]) k++;
    if (n + k + 1 > cchDst) return false;
    for (size_t i = 0; i <= k; i++) dst[n + i] = tail[i];
    return true;
}

bool RegisterImeLayout(void) {
    WCHAR path[kSystemDirChars + 32];
    g_installedLayout = NULL;
    UINT n = GetSystemDirectoryW(path, kSystemDirChars);
    if (n == 0 || n >= kSystemDirChars || !AppendWide(path, sizeof(path) / sizeof(path[0]), FMT_IME_FILE_W))
        return false;
    // Windows keeps the text as UTF-16 and narrow reads convert it to the
    // system's code page: on 950 only the traditional characters survive
    // in Big5, and only they let the next install recognise this entry.
    LPCWSTR text = g_ctx.oemCodePage == 950 ? LAYOUT_TEXT_BIG5_W : LAYOUT_TEXT_W;
    g_installedLayout = ImmInstallIMEW(path, text);
    if (LogEnabled()) {
        char format[128];
        char layout[24];
        snprintf(layout, sizeof(layout), "%08lx", (unsigned long)(ULONG_PTR)g_installedLayout);
        snprintf(format, sizeof(format), LOG_IME_INSTALL, "%s", "%s", layout);
        LogEventW(format, path, text);
    }
    return g_installedLayout != NULL;
}

// The leading hexadecimal digits of a key name as a layout id; false when
// there are none or more than fit in 32 bits.
static bool ParseLayoutId(LPCSTR name, DWORD* id) {
    DWORD v = 0;
    int digits = 0;
    for (; name[digits]; digits++) {
        char c = name[digits];
        DWORD d;
        if (c >= '0' && c <= '9')
            d = (DWORD)(c - '0');
        else if (c >= 'a' && c <= 'f')
            d = (DWORD)(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            d = (DWORD)(c - 'A' + 10);
        else
            break;
        if (digits == 8) return false;
        v = (v << 4) | d;
    }
    if (digits == 0) return false;
    *id = v;
    return true;
}

static bool EndsWith(LPCSTR text, LPCSTR tail) {
    size_t n = strlen(text), k = strlen(tail);
    return n >= k && memcmp(text + n - k, tail, k) == 0;
}

// Puts the language suffix in place of the last three characters.
static void ReplaceSuffix(char* id, LPCSTR suffix) {
    size_t n = strlen(id);
    if (n >= 3) memcpy(id + n - 3, suffix, 3);
}

// The id after every one seen: false when the ids have run out (the step
// would wrap around and land on a system layout such as 00000804).
static bool NewLayoutId(DWORD maxSeen, DWORD floor, LPCSTR suffix, char* out, size_t cbOut) {
    DWORD base = maxSeen > floor ? maxSeen : floor;
    if (base > 0xFFFFFFFFu - kLayoutStep) return false;
    DWORD id = base + kLayoutStep;
    snprintf(out, cbOut, "%lx", (unsigned long)id);
    CharUpperA(out);
    if (!EndsWith(out, suffix)) ReplaceSuffix(out, suffix);
    return true;
}

// Subkey names of Keyboard Layouts from the highest index down, one 200-byte
// slot each, sized to the key rather than to a fixed count.
struct NameTable {
    HGLOBAL memory;
    char* names;
    DWORD count;
};

// False when the key's subkeys cannot be counted or the table not allocated.
static bool ReadNameTable(HKEY layouts, NameTable* table) {
    table->memory = NULL;
    table->names = NULL;
    table->count = 0;
    DWORD subkeys = 0;
    // Without the count no id can be chosen that is sure not to be taken.
    if (RegQueryInfoKeyA(layouts, NULL, NULL, NULL, &subkeys, NULL, NULL, NULL, NULL, NULL, NULL, NULL) !=
            ERROR_SUCCESS ||
        subkeys > 0x100000)
        return false;
    // Index `subkeys` itself yields nothing; its slot only keeps the loop simple.
    SIZE_T slots = (SIZE_T)subkeys + 1;
    table->memory = GlobalAlloc(GPTR, slots * kNameBytes);
    if (!table->memory) return false;
    table->names = (char*)table->memory;
    for (DWORD index = subkeys + 1; index-- > 0;) {
        char* slot = table->names + (SIZE_T)table->count * kNameBytes;
        memset(slot, 0, kNameBytes);
        DWORD cch = kNameBytes;
        // A name that does not fit (ERROR_MORE_DATA) is not a layout id and
        // its bytes are not defined: it is left out.
        if (RegEnumKeyExA(layouts, index, slot, &cch, NULL, NULL, NULL, NULL) == ERROR_SUCCESS && cch < kNameBytes) {
            slot[cch] = 0;
            table->count++;
        }
    }
    return true;
}

static void FreeNameTable(NameTable* table) {
    if (table->memory) GlobalFree(table->memory);
    table->memory = NULL;
}

// True when the entry's layout text begins with the IME description.
static bool IsOurEntry(HKEY entry, LPCSTR description) {
    char text[kLayoutTextBytes];
    return ReadRegText(entry, VALUE_LAYOUT_TEXT, text, sizeof(text)) && strlen(text) >= kImeDescBytes &&
           memcmp(text, description, kImeDescBytes) == 0;
}

// True when the subkey `id` may exist and is not this input method's entry
// (one that cannot be looked at counts as another's).
static bool IsOthersEntry(HKEY layouts, LPCSTR id, LPCSTR description) {
    HKEY sub;
    LSTATUS status = RegOpenKeyExA(layouts, id, 0, KEY_READ, &sub);
    if (status == ERROR_FILE_NOT_FOUND) return false;
    if (status != ERROR_SUCCESS) return true;
    bool others = !IsOurEntry(sub, description);
    RegCloseKey(sub);
    return others;
}

DWORD RegisterLayoutManually(void) {
    bool nt = IsNtFamily();
    bool big5 = g_ctx.oemCodePage == 950;
    LPCSTR description = big5 ? IME_DESC_BIG5 : IME_DESC_GBK;
    LPCSTR suffix = big5 ? SUFFIX_TRADITIONAL : SUFFIX_SIMPLIFIED;
    DWORD floor = big5 ? 0xE0000404u : 0xE0000804u;

    HKEY layouts;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KEY_LAYOUTS, 0, KEY_READ, &layouts) != ERROR_SUCCESS) {
        ShowFailureA(nt ? MSG_NEED_ADMIN_NT : MSG_OPEN_LAYOUTS_9X, TITLE_VORN);
        return 0;
    }
    NameTable table;
    if (!ReadNameTable(layouts, &table)) {
        RegCloseKey(layouts);
        ShowFailureA(nt ? MSG_NEED_ADMIN_NT : MSG_OPEN_LAYOUTS_9X, TITLE_VORN);
        return 0;
    }

    // Every existing id counts towards the highest, read or not: a new id
    // must never be one that is taken.
    DWORD maxSeen = 0;
    for (DWORD i = 0; i < table.count; i++) {
        DWORD value;
        if (ParseLayoutId(table.names + (SIZE_T)i * kNameBytes, &value) && value > maxSeen) maxSeen = value;
    }
    // Find this input method's earlier entry.
    HKEY found = NULL;
    char id[kNameBytes] = "";
    for (DWORD i = 0; i < table.count && !found; i++) {
        LPCSTR name = table.names + (SIZE_T)i * kNameBytes;
        HKEY sub;
        if (RegOpenKeyExA(layouts, name, 0, KEY_ALL_ACCESS, &sub) != ERROR_SUCCESS) continue;
        // A name of fewer than three characters has no suffix to fix: it
        // cannot be a layout id of ours.
        if (IsOurEntry(sub, description) && strlen(name) >= 3) {
            found = sub;
            CopyText(id, sizeof(id), name);
        } else {
            RegCloseKey(sub);
        }
    }
    FreeNameTable(&table);

    HKEY entry = NULL;
    bool haveId = true;
    if (found && EndsWith(id, suffix)) {
        entry = found;
    } else if (found) {
        // The entry of the other language: it goes, and its id comes back
        // with this language's suffix, unless another input method holds
        // that one; then a new id is taken.
        RegCloseKey(found);
        RegDeleteKeyA(layouts, id);
        ReplaceSuffix(id, suffix);
        if (IsOthersEntry(layouts, id, description)) haveId = NewLayoutId(maxSeen, floor, suffix, id, sizeof(id));
    } else {
        haveId = NewLayoutId(maxSeen, floor, suffix, id, sizeof(id));
    }
    // Whatever the way to it, the key written is new or this input method's.
    if (!haveId || (!entry && IsOthersEntry(layouts, id, description))) {
        RegCloseKey(layouts);
        ShowFailureA(nt ? MSG_NEED_ADMIN_NT : MSG_CREATE_ENTRY_9X, TITLE_VORN_WUBI);
        return 0;
    }
    if (!entry && RegCreateKeyExA(layouts, id, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &entry,
                                  NULL) != ERROR_SUCCESS) {
        RegCloseKey(layouts);
        ShowFailureA(nt ? MSG_NEED_ADMIN_NT : MSG_CREATE_ENTRY_9X, TITLE_VORN_WUBI);
        return 0;
    }
    LogRegistryKey(LOG_ROOT_HKLM, KEY_LAYOUTS, id);
    WriteRegText(entry, VALUE_IME_FILE, IME_FILE_VALUE);
    WriteRegText(entry, VALUE_LAYOUT_FILE, nt ? LAYOUT_FILE_NT : LAYOUT_FILE_9X);
    WriteRegText(entry, VALUE_LAYOUT_TEXT, big5 ? LAYOUT_TEXT_BIG5 : LAYOUT_TEXT_GBK);
    RegCloseKey(entry);
    RegCloseKey(layouts);
    DWORD written = 0;
    if (!ParseLayoutId(id, &written)) written = 0;

    // The preload list compares in the id's case: lower on NT, upper on 9x.
    if (nt) {
        for (unsigned char* p = (unsigned char*)id; *p; p++) {
            if (*p >= 0x81 && p[1]) {
                p++;  // a double-byte character: its trail byte is no letter
                continue;
            }
            if (*p >= 'A' && *p <= 'Z') *p = (unsigned char)(*p - 'A' + 'a');
        }
    } else {
        CharUpperA(id);
    }
    AddLayoutToUserPreload(id);
    return written;
}

// True when `value` (an "Ime File" value: the bare name, or under Wine the
// full path) names this input method's file.
static bool NamesImeFile(LPCSTR value) {
    LPCSTR name = value;
    for (LPCSTR p = value; *p; p++) {
        if ((BYTE)*p >= 0x81 && p[1]) {
            p++;  // a double-byte character's trail byte is no separator
            continue;
        }
        if (*p == '\\' || *p == '/') name = p + 1;
    }
    return lstrcmpiA(name, IME_FILE_VALUE) == 0;
}

// True when the input method file of the entries is in the system directory.
static bool ImeFileInPlace(void) {
    char path[MAX_PATH];
    FetchSystemDirectory();
    if (!g_ctx.systemDir[0] || !FormatPath(path, sizeof(path), FMT_SYSTEM_IME, g_ctx.systemDir)) return false;
    PVOID redirection = DisableFsRedirection();
    bool there = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    RestoreFsRedirection(redirection);
    return there;
}

DWORD FindRegisteredLayout(void) {
    HKEY layouts;
    if (!ImeFileInPlace() || RegOpenKeyExA(HKEY_LOCAL_MACHINE, KEY_LAYOUTS, 0, KEY_READ, &layouts) != ERROR_SUCCESS)
        return 0;
    DWORD best = 0;
    char name[kNameBytes];
    char text[kLayoutTextBytes];
    for (DWORD index = 0;; index++) {
        DWORD cch = sizeof(name);
        LSTATUS status = RegEnumKeyExA(layouts, index, name, &cch, NULL, NULL, NULL, NULL);
        if (status == ERROR_NO_MORE_ITEMS || (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)) break;
        DWORD id = 0;
        HKEY sub;
        if (status != ERROR_SUCCESS || !ParseLayoutId(name, &id) || id <= best ||
            RegOpenKeyExA(layouts, name, 0, KEY_READ, &sub) != ERROR_SUCCESS)
            continue;
        bool ours = ReadRegText(sub, VALUE_IME_FILE, text, sizeof(text)) && NamesImeFile(text) &&
                    ReadRegText(sub, VALUE_LAYOUT_TEXT, text, sizeof(text)) && BeginsWithImeName(text, true);
        RegCloseKey(sub);
        if (ours) best = id;
    }
    RegCloseKey(layouts);
    return best;
}
