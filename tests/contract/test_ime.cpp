// Keyboard layouts of the thread and named file mappings: what the
// default-input-method check, the activation on the last page and the
// shared-memory test rely on.
#include "tests/contract/contract.h"

namespace {
const char* kMappingName = "vorncontract_mapping";
HKL const kSentinelLayout = (HKL)(ULONG_PTR)0xdeadbeef;
}  // namespace

CONTRACT_TEST(test_OpenFileMappingA) {
    SetLastError(0xdeadbeef);
    HANDLE h = OpenFileMappingA(FILE_MAP_WRITE, TRUE, kMappingName);
    ok(h == NULL && GetLastError() == ERROR_FILE_NOT_FOUND, "missing name: %p, error %lu", h,
       (unsigned long)GetLastError());

    SetLastError(0xdeadbeef);
    HANDLE created = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, 4096, kMappingName);
    ok(created != NULL && GetLastError() == 0, "created: %p, error %lu", created, (unsigned long)GetLastError());
    h = OpenFileMappingA(FILE_MAP_WRITE, TRUE, kMappingName);
    ok(h != NULL && h != created, "opened while it exists: %p", h);
    ok(CloseHandle(h), "the opened handle closes");
    ok(CloseHandle(created), "the created handle closes");

    // The last handle gone, the name is gone.
    SetLastError(0xdeadbeef);
    h = OpenFileMappingA(FILE_MAP_WRITE, TRUE, kMappingName);
    ok(h == NULL && GetLastError() == ERROR_FILE_NOT_FOUND, "after the last close: %p, error %lu", h,
       (unsigned long)GetLastError());
}

CONTRACT_TEST(test_GetKeyboardLayoutList) {
    HKL list[52];
    int n = GetKeyboardLayoutList(0, NULL);
    ok(n >= 1 && n <= 50, "%d layouts", n);
    if (n < 1 || n > 50) return;
    for (int i = 0; i < 52; i++) list[i] = kSentinelLayout;
    ok(GetKeyboardLayoutList(n, list) == n, "fills all %d", n);
    ok(list[n] == kSentinelLayout, "nothing past the count");
    HKL first = list[0];
    for (int i = 0; i < 52; i++) list[i] = kSentinelLayout;
    ok(GetKeyboardLayoutList(1, list) == 1 && list[0] == first && list[1] == kSentinelLayout,
       "a buffer of one gets the first");

    HKL active = GetKeyboardLayout(0);
    bool listed = false;
    for (int i = 0; i < n; i++) listed = listed || list[i] == active;
    ok(listed, "the active layout %p is in the list", active);

    // The layout name is eight hexadecimal digits; the buffer's tenth byte stays.
    char name[16];
    memset(name, 0xbd, sizeof(name));
    ok(GetKeyboardLayoutNameA(name) && strlen(name) == 8 && (unsigned char)name[9] == 0xbd, "layout name '%.9s'",
       name);

    // A layout that is not an input method has no description, and the
    // buffer keeps what was there.  Wine describes every layout as its XIM.
    char description[64];
    snprintf(description, sizeof(description), "%s", name);
    UINT got = ImmGetDescriptionA(active, description, 50);
    ok((got == 0 && strcmp(description, name) == 0) || broken(got == 8 && !strcmp(description, "Wine XIM")),
       "description of %p: %u '%s'", active, got, description);
}

CONTRACT_TEST(test_ActivateKeyboardLayout) {
    HKL active = GetKeyboardLayout(0);
    SetLastError(0xdeadbeef);
    HKL previous = ActivateKeyboardLayout(active, KLF_SETFORPROCESS);
    // Wine 8's X11 driver refuses KLF_SETFORPROCESS.
    ok(previous == active || broken(previous == NULL && GetLastError() == 120 /* ERROR_CALL_NOT_IMPLEMENTED */),
       "activating the active layout: %p, error %lu", previous, (unsigned long)GetLastError());
    ok(GetKeyboardLayout(0) == active, "still %p", active);
}
