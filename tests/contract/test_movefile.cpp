// MoveFileExA with MOVEFILE_REPLACE_EXISTING: how the backup archive
// replaces an earlier one in one step.
#include "contract.h"

namespace {
// The bytes of a scratch file, or "(none)" when it cannot be opened.
const char* Contents(const char* name) {
    static char text[64];
    HFILE f = _lopen(contract::Path(name), OF_READ);
    if (f == HFILE_ERROR) return "(none)";
    UINT n = _lread(f, text, sizeof(text) - 1);
    _lclose(f);
    text[n == (UINT)HFILE_ERROR ? 0 : n] = 0;
    return text;
}
}  // namespace

CONTRACT_TEST(test_MoveFileExA_replace) {
    ok(contract::MakeFile("new.voz", "new", 3) && contract::MakeFile("old.voz", "old", 3), "create");
    SetLastError(0xdeadbeef);
    ok(!MoveFileExA(contract::Path("new.voz"), contract::Path("old.voz"), 0), "without the flag");
    ok(GetLastError() == ERROR_ALREADY_EXISTS, "error %lu", (unsigned long)GetLastError());
    ok(!strcmp(Contents("old.voz"), "old"), "target kept: %s", Contents("old.voz"));

    ok(MoveFileExA(contract::Path("new.voz"), contract::Path("old.voz"), MOVEFILE_REPLACE_EXISTING), "replace");
    ok(!strcmp(Contents("old.voz"), "new"), "target replaced: %s", Contents("old.voz"));
    ok(GetFileAttributesA(contract::Path("new.voz")) == INVALID_FILE_ATTRIBUTES, "source gone");

    SetLastError(0xdeadbeef);
    ok(!MoveFileExA(contract::Path("new.voz"), contract::Path("old.voz"), MOVEFILE_REPLACE_EXISTING),
       "missing source");
    ok(GetLastError() == ERROR_FILE_NOT_FOUND, "error %lu", (unsigned long)GetLastError());
    ok(!strcmp(Contents("old.voz"), "new"), "target untouched");

    // Windows does not replace a read-only target (both files stay), which
    // is why the product resets the target's attributes first; Wine 8
    // replaces it.
    ok(contract::MakeFile("new.voz", "new", 3), "create");
    SetFileAttributesA(contract::Path("old.voz"), FILE_ATTRIBUTE_READONLY);
    SetLastError(0xdeadbeef);
    BOOL moved = MoveFileExA(contract::Path("new.voz"), contract::Path("old.voz"), MOVEFILE_REPLACE_EXISTING);
    ok(!moved || broken(moved), "replace read-only");
    if (!moved) {
        ok(GetLastError() == ERROR_ACCESS_DENIED, "error %lu", (unsigned long)GetLastError());
        ok(!strcmp(Contents("new.voz"), "new"), "source kept");
    }
    SetFileAttributesA(contract::Path("old.voz"), FILE_ATTRIBUTE_ARCHIVE);
    DeleteFileA(contract::Path("old.voz"));
    DeleteFileA(contract::Path("new.voz"));
}
