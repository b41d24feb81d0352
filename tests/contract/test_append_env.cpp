// What the log relies on: a handle opened with FILE_APPEND_DATA alone writes
// at the end whoever else has appended, and the environment a program
// passes on is read back as set.
#include "tests/contract/contract.h"

static HANDLE OpenForAppend(const char* name) {
    return CreateFileA(contract::Path(name), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

static void Append(HANDLE h, const char* text) {
    DWORD written = 0xdeadbeef;
    ok(WriteFile(h, text, (DWORD)strlen(text), &written, NULL), "WriteFile \"%s\", error %lu", text,
       (unsigned long)GetLastError());
    ok(written == strlen(text), "wrote %lu bytes of \"%s\"", (unsigned long)written, text);
}

CONTRACT_TEST(test_append_data_writes_at_the_end) {
    SetLastError(0xdeadbeef);
    HANDLE first = OpenForAppend("append.log");
    ok(first != INVALID_HANDLE_VALUE, "OPEN_ALWAYS creates the file, error %lu", (unsigned long)GetLastError());
    if (first == INVALID_HANDLE_VALUE) return;
    ok(GetLastError() == 0, "a new file: error %lu", (unsigned long)GetLastError());
    ok(GetFileSize(first, NULL) == 0, "a new file is empty");
    Append(first, "ab");

    SetLastError(0xdeadbeef);
    HANDLE second = OpenForAppend("append.log");
    ok(second != INVALID_HANDLE_VALUE, "a second appender opens, error %lu", (unsigned long)GetLastError());
    if (second != INVALID_HANDLE_VALUE) {
        ok(GetLastError() == ERROR_ALREADY_EXISTS, "an existing file: error %lu", (unsigned long)GetLastError());
        ok(GetFileSize(second, NULL) == 2, "size seen by the second handle");
        Append(second, "cd");
        // The first handle's own position is 2; its write still lands at the end.
        Append(first, "ef");
        CloseHandle(second);
    }
    CloseHandle(first);

    char buffer[16];
    memset(buffer, 0xbd, sizeof(buffer));
    HFILE f = _lopen(contract::Path("append.log"), OF_READ);
    UINT n = f == HFILE_ERROR ? 0 : _lread(f, buffer, sizeof(buffer));
    if (f != HFILE_ERROR) _lclose(f);
    ok(n == 6 && !memcmp(buffer, "abcdef", 6), "contents: %d bytes \"%.6s\"", (int)n, buffer);
}

CONTRACT_TEST(test_environment_variable_round_trip) {
    static const char kName[] = "VORNCONTRACT_ENV";
    char buffer[16];
    SetEnvironmentVariableA(kName, NULL);
    SetLastError(0xdeadbeef);
    ok(GetEnvironmentVariableA(kName, buffer, sizeof(buffer)) == 0, "an absent variable gives 0");
    ok(GetLastError() == ERROR_ENVVAR_NOT_FOUND, "error %lu", (unsigned long)GetLastError());

    ok(SetEnvironmentVariableA(kName, "C:\\a b\\x.log"), "set, error %lu", (unsigned long)GetLastError());
    memset(buffer, 0xbd, sizeof(buffer));
    DWORD n = GetEnvironmentVariableA("vorncontract_env", buffer, sizeof(buffer));
    ok(n == 12, "the length without the terminator, got %lu (names ignore case)", (unsigned long)n);
    ok(!strcmp(buffer, "C:\\a b\\x.log"), "value \"%s\"", buffer);
    ok((unsigned char)buffer[13] == 0xbd, "nothing written past the terminator");

    char small[8];
    n = GetEnvironmentVariableA(kName, small, sizeof(small));
    ok(n == 13, "too small a buffer: the size needed with the terminator, got %lu", (unsigned long)n);

    ok(SetEnvironmentVariableA(kName, NULL), "remove, error %lu", (unsigned long)GetLastError());
    ok(GetEnvironmentVariableA(kName, buffer, sizeof(buffer)) == 0, "gone after removal");
}
