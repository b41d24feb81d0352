// Share modes among open handles: how the backup reads the files a running
// input method keeps open for writing, and why it does not use CopyFileA or
// a compatibility-mode _lopen for them.
#include "contract.h"

namespace {
HANDLE Open(const char* name, DWORD access, DWORD share) {
    return CreateFileA(contract::Path(name), access, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

// An open that must fail with a sharing violation; `what` names the case.
void Refused(HANDLE h, const char* what) {
    ok(h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION, "%s: error %lu", what,
       (unsigned long)GetLastError());
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}
}  // namespace

CONTRACT_TEST(test_share_modes) {
    ok(contract::MakeFile("dict.voh", "words", 5), "create");
    // The input method: writing, and letting others read and write.
    HANDLE holder = Open("dict.voh", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ok(holder != INVALID_HANDLE_VALUE, "holder, error %lu", (unsigned long)GetLastError());

    SetLastError(0xdeadbeef);
    Refused(Open("dict.voh", GENERIC_READ, FILE_SHARE_READ), "a reader that does not share writing");
    HANDLE reader = Open("dict.voh", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    char bytes[8];
    memset(bytes, 0xbd, sizeof(bytes));
    DWORD got = 0;
    ok(reader != INVALID_HANDLE_VALUE && ReadFile(reader, bytes, sizeof(bytes), &got, NULL) && got == 5 &&
           !memcmp(bytes, "words", 5),
       "a reader sharing writing reads %lu bytes", (unsigned long)got);
    // The reader's share mode now refuses a second writer that does not share reading.
    Refused(Open("dict.voh", GENERIC_WRITE, FILE_SHARE_WRITE), "a writer that does not share reading");
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);

    // _lopen in compatibility mode shares both; denying writes does not.
    HFILE lopened = _lopen(contract::Path("dict.voh"), OF_READ);
    ok(lopened != HFILE_ERROR, "compatibility-mode _lopen, error %lu", (unsigned long)GetLastError());
    if (lopened != HFILE_ERROR) _lclose(lopened);
    SetLastError(0xdeadbeef);
    lopened = _lopen(contract::Path("dict.voh"), OF_READ | OF_SHARE_DENY_WRITE);
    ok(lopened == HFILE_ERROR && GetLastError() == ERROR_SHARING_VIOLATION, "OF_SHARE_DENY_WRITE: error %lu",
       (unsigned long)GetLastError());
    if (lopened != HFILE_ERROR) _lclose(lopened);

    // Windows' CopyFileA opens its source sharing reading and deleting only;
    // Wine's shares writing as well.
    SetLastError(0xdeadbeef);
    BOOL copied = CopyFileA(contract::Path("dict.voh"), contract::Path("dict.bak"), FALSE);
    ok((!copied && GetLastError() == ERROR_SHARING_VIOLATION) || broken(copied), "CopyFileA: %d, error %lu",
       copied, (unsigned long)GetLastError());
    CloseHandle(holder);

    // Held without any sharing: seen, but neither read, removed nor renamed.
    holder = Open("dict.voh", GENERIC_READ, 0);
    ok(holder != INVALID_HANDLE_VALUE, "exclusive holder");
    Refused(Open("dict.voh", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE), "read of an exclusive file");
    ok(GetFileAttributesA(contract::Path("dict.voh")) != INVALID_FILE_ATTRIBUTES, "its attributes");
    SetLastError(0xdeadbeef);
    ok(!DeleteFileA(contract::Path("dict.voh")) && GetLastError() == ERROR_SHARING_VIOLATION, "delete: error %lu",
       (unsigned long)GetLastError());
    SetLastError(0xdeadbeef);
    ok(!MoveFileA(contract::Path("dict.voh"), contract::Path("dict.old")) &&
           GetLastError() == ERROR_SHARING_VIOLATION,
       "rename: error %lu", (unsigned long)GetLastError());
    CloseHandle(holder);
    ok(DeleteFileA(contract::Path("dict.voh")), "deleted once closed");
}
