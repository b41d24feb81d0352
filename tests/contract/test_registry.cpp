// The registry: what the setup program relies on from advapi32.  Every test
// works below HKCU\Software\VornContract, removed before and after, and reads
// nothing of the machine's own keys.
#include "tests/contract/contract.h"

static const char* kScratch = "Software\\VornContract";

// Deletes a key and everything below it (RegDeleteKeyA refuses keys with subkeys).
static void DeleteTree(HKEY parent, const char* name) {
    HKEY key;
    if (RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    char child[256];
    for (;;) {
        DWORD cch = sizeof(child);
        if (RegEnumKeyExA(key, 0, child, &cch, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
        DeleteTree(key, child);
    }
    RegCloseKey(key);
    RegDeleteKeyA(parent, name);
}

// A fresh, empty scratch key opened with full access.
static HKEY OpenScratch(void) {
    DeleteTree(HKEY_CURRENT_USER, kScratch);
    HKEY key = NULL;
    LSTATUS r = RegCreateKeyExA(HKEY_CURRENT_USER, kScratch, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL,
                                &key, NULL);
    ok(r == ERROR_SUCCESS, "creating the scratch key: %ld", (long)r);
    return key;
}

static void CloseScratch(HKEY key) {
    RegCloseKey(key);
    DeleteTree(HKEY_CURRENT_USER, kScratch);
}

static HKEY MakeSubkey(HKEY parent, const char* name) {
    HKEY key = NULL;
    LSTATUS r = RegCreateKeyExA(parent, name, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key, NULL);
    ok(r == ERROR_SUCCESS, "creating %s: %ld", name, (long)r);
    return key;
}

// Reads a value with a sentinel-filled buffer of `cb` bytes; returns the
// status, the size reported, and the buffer for inspection.
static LSTATUS Query(HKEY key, const char* name, DWORD cb, BYTE* buffer, DWORD* cbOut, DWORD* type) {
    memset(buffer, 0xbd, 32);
    *cbOut = cb;
    *type = 0xdeadbeef;
    return RegQueryValueExA(key, name, NULL, type, buffer, cbOut);
}

CONTRACT_TEST(test_RegOpenKeyExA) {
    HKEY scratch = OpenScratch();
    HKEY sub = MakeSubkey(scratch, "Child");
    RegSetValueExA(sub, "v", 0, REG_SZ, (const BYTE*)"x", 1);
    RegCloseKey(sub);

    HKEY key = (HKEY)(ULONG_PTR)0xdeadbeef;
    LSTATUS r = RegOpenKeyExA(scratch, "missing", 0, KEY_READ, &key);
    ok(r == ERROR_FILE_NOT_FOUND, "missing key: %ld", (long)r);
    r = RegOpenKeyExA(scratch, "missing\\deeper", 0, KEY_READ, &key);
    ok(r == ERROR_FILE_NOT_FOUND, "below a missing key: %ld", (long)r);
    r = RegOpenKeyExA(scratch, "\\Child", 0, KEY_READ, &key);
    ok(r == 161, "leading backslash: %ld", (long)r);  // ERROR_BAD_PATHNAME

    // Names are case-insensitive; a trailing backslash is harmless.
    r = RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\vorncontract\\CHILD\\", 0, KEY_READ, &key);
    ok(r == ERROR_SUCCESS, "other case: %ld", (long)r);
    if (r == ERROR_SUCCESS) {
        // Through a read-only handle values cannot be set, but subkeys can be created.
        r = RegSetValueExA(key, "w", 0, REG_SZ, (const BYTE*)"y", 1);
        ok(r == ERROR_ACCESS_DENIED, "set through KEY_READ: %ld", (long)r);
        HKEY created = NULL;
        DWORD how = 0;
        r = RegCreateKeyExA(key, "Made", 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &created, &how);
        ok(r == ERROR_SUCCESS && how == REG_CREATED_NEW_KEY, "create through KEY_READ: %ld, %lu", (long)r,
           (unsigned long)how);
        if (r == ERROR_SUCCESS) RegCloseKey(created);
        RegCloseKey(key);
    }

    // An empty name opens the key itself, as a new handle.
    r = RegOpenKeyExA(scratch, "", 0, KEY_READ, &key);
    ok(r == ERROR_SUCCESS && key != scratch, "empty name: %ld", (long)r);
    if (r == ERROR_SUCCESS) {
        HKEY again;
        ok(RegOpenKeyExA(key, "Child", 0, KEY_READ, &again) == ERROR_SUCCESS, "child through the new handle");
        RegCloseKey(again);
        RegCloseKey(key);
    }
    ok(RegCloseKey(HKEY_CURRENT_USER) == ERROR_SUCCESS, "closing a predefined root");
    CloseScratch(scratch);
}

CONTRACT_TEST(test_RegCreateKeyExA) {
    HKEY scratch = OpenScratch();
    HKEY key = NULL;
    DWORD how = 0;
    LSTATUS r = RegCreateKeyExA(scratch, "a\\b\\c", 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key, &how);
    ok(r == ERROR_SUCCESS && how == REG_CREATED_NEW_KEY, "nested create: %ld, %lu", (long)r, (unsigned long)how);
    RegCloseKey(key);
    r = RegCreateKeyExA(scratch, "A\\B", 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key, &how);
    ok(r == ERROR_SUCCESS && how == REG_OPENED_EXISTING_KEY, "existing key: %ld, %lu", (long)r,
       (unsigned long)how);
    RegCloseKey(key);
    CloseScratch(scratch);
}

// REG_SZ written without its terminator: Windows stores the terminator when
// it sits right after the counted bytes, and a read adds one when there is
// room, without counting it.
CONTRACT_TEST(test_RegQueryValueExA_sizes) {
    HKEY key = OpenScratch();
    BYTE buf[32];
    DWORD cb, type;
    const char unterminated[] = "abcX";
    ok(RegSetValueExA(key, "bare", 0, REG_SZ, (const BYTE*)unterminated, 3) == ERROR_SUCCESS, "set bare");
    LSTATUS r = Query(key, "bare", sizeof(buf), buf, &cb, &type);
    ok(r == ERROR_SUCCESS && cb == 3 && type == REG_SZ, "bare: %ld, size %lu", (long)r, (unsigned long)cb);
    ok(!memcmp(buf, "abc", 4), "a terminator is added when there is room");
    ok(buf[4] == 0xbd, "byte after the terminator touched");
    r = Query(key, "bare", 3, buf, &cb, &type);
    ok(r == ERROR_SUCCESS && cb == 3 && !memcmp(buf, "abc", 3), "exact buffer: %ld, size %lu", (long)r,
       (unsigned long)cb);
    ok(buf[3] == 0xbd, "no terminator without room");
    r = Query(key, "bare", 2, buf, &cb, &type);
    ok(r == ERROR_MORE_DATA && cb == 3, "small buffer: %ld, size %lu", (long)r, (unsigned long)cb);
    cb = 0;
    r = RegQueryValueExA(key, "bare", NULL, NULL, NULL, &cb);
    ok(r == ERROR_SUCCESS && cb == 3, "size only: %ld, size %lu", (long)r, (unsigned long)cb);

    // The count leaves out a terminator that is there: it is stored anyway.
    ok(RegSetValueExA(key, "lit", 0, REG_SZ, (const BYTE*)"abc", 3) == ERROR_SUCCESS, "set lit");
    r = Query(key, "lit", sizeof(buf), buf, &cb, &type);
    ok(r == ERROR_SUCCESS && cb == 4 && !memcmp(buf, "abc", 4), "lit: %ld, size %lu", (long)r, (unsigned long)cb);
    r = Query(key, "lit", 3, buf, &cb, &type);
    ok(r == ERROR_MORE_DATA && cb == 4, "lit in 3 bytes: %ld, size %lu", (long)r, (unsigned long)cb);

    // Empty data: size 0 and nothing written.
    ok(RegSetValueExA(key, "empty", 0, REG_SZ, (const BYTE*)"", 0) == ERROR_SUCCESS, "set empty");
    r = Query(key, "empty", sizeof(buf), buf, &cb, &type);
    ok(r == ERROR_SUCCESS && cb == 0 && type == REG_SZ && buf[0] == 0xbd, "empty: %ld, size %lu, %#x", (long)r,
       (unsigned long)cb, buf[0]);

    // Values larger than a buffer are refused, not cut.
    DWORD number = 7;
    RegSetValueExA(key, "num", 0, REG_DWORD, (const BYTE*)&number, 4);
    r = Query(key, "num", 2, buf, &cb, &type);
    ok(r == ERROR_MORE_DATA && cb == 4 && type == REG_DWORD, "dword in 2 bytes: %ld, size %lu", (long)r,
       (unsigned long)cb);

    r = Query(key, "missing", sizeof(buf), buf, &cb, &type);
    ok(r == ERROR_FILE_NOT_FOUND && buf[0] == 0xbd, "missing value: %ld", (long)r);
    CloseScratch(key);
}

// Narrow values are stored in the ANSI code page and read back through
// either variant (only checked where that code page is GBK).
CONTRACT_TEST(test_RegQueryValueEx_conversion) {
    HKEY key = OpenScratch();
    if (GetACP() != 936) {
        printf("%s: skipped, ANSI code page %u\n", contract::g_test, GetACP());
        CloseScratch(key);
        return;
    }
    BYTE buf[32];
    DWORD cb, type;
    ok(RegSetValueExA(key, "gbk", 0, REG_SZ, (const BYTE*)"智能", 4) == ERROR_SUCCESS, "set gbk");
    memset(buf, 0xbd, sizeof(buf));
    cb = sizeof(buf);
    LSTATUS r = RegQueryValueExW(key, WSZ("gbk"), NULL, &type, buf, &cb);
    ok(r == ERROR_SUCCESS && cb == 6, "gbk as UTF-16: %ld, size %lu", (long)r, (unsigned long)cb);
    ok(buf[0] == 0x7a && buf[1] == 0x66 && buf[2] == 0xfd && buf[3] == 0x80 && buf[4] == 0 && buf[5] == 0,
       "UTF-16 bytes %02x %02x %02x %02x", buf[0], buf[1], buf[2], buf[3]);

    static const WCHAR wide[] = {'a', 'b', 0x667a, 0};
    ok(RegSetValueExW(key, WSZ("wide"), 0, REG_SZ, (const BYTE*)wide, 6) == ERROR_SUCCESS, "set wide");
    memset(buf, 0xbd, sizeof(buf));
    cb = sizeof(buf);
    r = RegQueryValueExW(key, WSZ("wide"), NULL, &type, buf, &cb);
    ok(r == ERROR_SUCCESS && cb == 8, "wide terminator stored: %ld, size %lu", (long)r, (unsigned long)cb);
    r = Query(key, "wide", sizeof(buf), buf, &cb, &type);
    ok(r == ERROR_SUCCESS && cb == 5 && !memcmp(buf, "ab智", 5), "wide as GBK: %ld, size %lu", (long)r,
       (unsigned long)cb);

    static const WCHAR bare[] = {'x', 'y', 'z'};
    ok(RegSetValueExW(key, WSZ("wbare"), 0, REG_SZ, (const BYTE*)bare, 4) == ERROR_SUCCESS, "set wbare");
    memset(buf, 0xbd, sizeof(buf));
    cb = sizeof(buf);
    r = RegQueryValueExW(key, WSZ("wbare"), NULL, &type, buf, &cb);
    ok(r == ERROR_SUCCESS && cb == 4, "wide without terminator: %ld, size %lu", (long)r, (unsigned long)cb);
    ok(buf[4] == 0 && buf[5] == 0 && buf[6] == 0xbd, "a wide terminator is added when there is room");
    CloseScratch(key);
}

// A wide text with a character the ANSI code page lacks (Hangul: neither GBK
// nor Big5 has it) reads narrow as WideCharToMultiByte renders it, with "?";
// GBK converts by its code page number whatever the ANSI code page is.
CONTRACT_TEST(test_narrow_renderings) {
    HKEY key = OpenScratch();
    static const WCHAR text[] = {0x667a, 0xd55c, 'x', 0};
    ok(RegSetValueExW(key, WSZ("w"), 0, REG_SZ, (const BYTE*)text, sizeof(text)) == ERROR_SUCCESS, "set w");
    BYTE buf[32];
    DWORD cb, type;
    LSTATUS r = Query(key, "w", sizeof(buf), buf, &cb, &type);
    char rendered[16];
    int n = WideCharToMultiByte(CP_ACP, 0, text, 3, rendered, (int)sizeof(rendered), NULL, NULL);
    ok(n == 4 && rendered[2] == '?' && r == ERROR_SUCCESS && cb == 5 && !memcmp(buf, rendered, 4) && !buf[4],
       "read narrow: %ld, size %lu, rendered in %d", (long)r, (unsigned long)cb, n);
    WCHAR wide[4] = {0xbdbd, 0xbdbd, 0xbdbd, 0xbdbd};
    n = MultiByteToWideChar(936, 0, "\xd6\xc7x", -1, wide, 4);
    ok(n == 3 && wide[0] == 0x667a && wide[1] == 'x' && !wide[2] && wide[3] == 0xbdbd, "GBK to UTF-16: %d", n);
    CloseScratch(key);
}

CONTRACT_TEST(test_default_value) {
    HKEY key = OpenScratch();
    BYTE buf[32];
    DWORD cb, type;
    ok(RegSetValueExA(key, NULL, 0, REG_SZ, (const BYTE*)"defX", 3) == ERROR_SUCCESS, "set default by NULL");
    LSTATUS r = Query(key, "", sizeof(buf), buf, &cb, &type);
    ok(r == ERROR_SUCCESS && cb == 3 && !memcmp(buf, "def", 4), "read default by \"\": %ld, size %lu", (long)r,
       (unsigned long)cb);
    ok(RegSetValueExA(key, "", 0, REG_SZ, (const BYTE*)"xyzX", 3) == ERROR_SUCCESS, "set default by \"\"");
    memset(buf, 0xbd, sizeof(buf));
    cb = sizeof(buf);
    r = RegQueryValueExA(key, NULL, NULL, &type, buf, &cb);
    ok(r == ERROR_SUCCESS && cb == 3 && !memcmp(buf, "xyz", 4), "read default by NULL: %ld", (long)r);
    DWORD values = 0xdeadbeef;
    RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, &values, NULL, NULL, NULL, NULL);
    ok(values == 1, "one default value, %lu values", (unsigned long)values);
    CloseScratch(key);
}

CONTRACT_TEST(test_RegDeleteValueA) {
    HKEY key = OpenScratch();
    RegSetValueExA(key, "Name", 0, REG_SZ, (const BYTE*)"v", 1);
    LSTATUS r = RegDeleteValueA(key, "missing");
    ok(r == ERROR_FILE_NOT_FOUND, "deleting a missing value: %ld", (long)r);
    r = RegDeleteValueA(key, "NAME");
    ok(r == ERROR_SUCCESS, "deleting in another case: %ld", (long)r);
    DWORD cb = 0;
    r = RegQueryValueExA(key, "Name", NULL, NULL, NULL, &cb);
    ok(r == ERROR_FILE_NOT_FOUND, "deleted value still there: %ld", (long)r);
    CloseScratch(key);
}

CONTRACT_TEST(test_RegDeleteKeyA) {
    HKEY scratch = OpenScratch();
    HKEY parent = MakeSubkey(scratch, "parent");
    HKEY child = MakeSubkey(parent, "child");
    RegSetValueExA(child, "v", 0, REG_SZ, (const BYTE*)"x", 1);
    RegCloseKey(child);

    LSTATUS r = RegDeleteKeyA(scratch, "parent");
    ok(r == ERROR_ACCESS_DENIED, "a key with subkeys: %ld", (long)r);
    HKEY check;
    ok(RegOpenKeyExA(scratch, "parent\\child", 0, KEY_READ, &check) == ERROR_SUCCESS, "refused delete removed it");
    RegCloseKey(check);

    r = RegDeleteKeyA(scratch, "missing");
    ok(r == ERROR_FILE_NOT_FOUND, "a missing key: %ld", (long)r);

    // A key with values but no subkeys goes; handles on it then fail.
    r = RegDeleteKeyA(parent, "CHILD");
    ok(r == ERROR_SUCCESS, "a leaf with values: %ld", (long)r);
    r = RegDeleteKeyA(scratch, "parent");
    ok(r == ERROR_SUCCESS, "the emptied parent: %ld", (long)r);
    r = RegSetValueExA(parent, "v", 0, REG_SZ, (const BYTE*)"x", 1);
    ok(r == ERROR_KEY_DELETED, "writing through a handle on a deleted key: %ld", (long)r);
    RegCloseKey(parent);
    CloseScratch(scratch);
}

CONTRACT_TEST(test_RegQueryInfoKeyA) {
    HKEY scratch = OpenScratch();
    RegCloseKey(MakeSubkey(scratch, "E0200804"));
    RegCloseKey(MakeSubkey(scratch, "x"));
    RegSetValueExA(scratch, "one", 0, REG_SZ, (const BYTE*)"1", 1);
    RegSetValueExA(scratch, "two", 0, REG_SZ, (const BYTE*)"2", 1);
    RegSetValueExA(scratch, "three", 0, REG_SZ, (const BYTE*)"3", 1);
    DWORD subkeys = 0xdeadbeef, maxSub = 0xdeadbeef, values = 0xdeadbeef;
    LSTATUS r = RegQueryInfoKeyA(scratch, NULL, NULL, NULL, &subkeys, &maxSub, NULL, &values, NULL, NULL, NULL, NULL);
    ok(r == ERROR_SUCCESS, "RegQueryInfoKeyA: %ld", (long)r);
    ok(subkeys == 2 && maxSub == 8 && values == 3, "subkeys %lu, longest %lu, values %lu", (unsigned long)subkeys,
       (unsigned long)maxSub, (unsigned long)values);
    subkeys = 0xdeadbeef;
    r = RegQueryInfoKeyA(scratch, NULL, NULL, NULL, &subkeys, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
    ok(r == ERROR_SUCCESS && subkeys == 2, "only the subkey count: %ld, %lu", (long)r, (unsigned long)subkeys);
    CloseScratch(scratch);
}

// Wine enumerates subkeys sorted case-insensitively ("_" before letters);
// Windows promises no order, so the product must not depend on it, but the
// simulation follows Wine.
CONTRACT_TEST(test_RegEnumKeyExA) {
    HKEY scratch = OpenScratch();
    static const char* created[] = {"b", "C", "a", "E0100804", "e0020804", "_x", "Zed", "0409"};
    static const char* expected[] = {"0409", "_x", "a", "b", "C", "e0020804", "E0100804", "Zed"};
    for (int i = 0; i < 8; i++) RegCloseKey(MakeSubkey(scratch, created[i]));

    for (DWORD i = 0; i < 8; i++) {
        char name[200];
        memset(name, 0xbd, sizeof(name));
        DWORD cch = sizeof(name);
        LSTATUS r = RegEnumKeyExA(scratch, i, name, &cch, NULL, NULL, NULL, NULL);
        ok(r == ERROR_SUCCESS && !strcmp(name, expected[i]) && cch == strlen(expected[i]),
           "index %lu: %ld, \"%s\", %lu", (unsigned long)i, (long)r, r == ERROR_SUCCESS ? name : "",
           (unsigned long)cch);
    }
    char name[200];
    DWORD cch = sizeof(name);
    LSTATUS r = RegEnumKeyExA(scratch, 8, name, &cch, NULL, NULL, NULL, NULL);
    ok(r == ERROR_NO_MORE_ITEMS, "index past the end: %ld", (long)r);

    // The count is in characters and must leave room for the terminator.
    cch = 8;
    r = RegEnumKeyExA(scratch, 6, name, &cch, NULL, NULL, NULL, NULL);
    ok(r == ERROR_MORE_DATA, "8-character name in 8: %ld", (long)r);
    cch = 9;
    r = RegEnumKeyExA(scratch, 6, name, &cch, NULL, NULL, NULL, NULL);
    ok(r == ERROR_SUCCESS && cch == 8 && !strcmp(name, "E0100804"), "in 9: %ld, %lu", (long)r, (unsigned long)cch);
    CloseScratch(scratch);
}
