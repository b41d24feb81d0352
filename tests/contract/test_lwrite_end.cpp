// _lwrite with a zero length sets the end of the file at the current
// position: the archive writer relies on it to take back a failed append.
#include "tests/contract/contract.h"

static size_t ReadAll(const char* name, char* buffer, size_t cbBuffer) {
    HFILE f = _lopen(contract::Path(name), OF_READ);
    if (f == HFILE_ERROR) return (size_t)-1;
    UINT n = _lread(f, buffer, (UINT)cbBuffer);
    _lclose(f);
    return n == (UINT)HFILE_ERROR ? (size_t)-1 : n;
}

CONTRACT_TEST(test_lwrite_zero_sets_end) {
    ok(contract::MakeFile("end.bin", "0123456789", 10), "creating end.bin");
    HFILE f = _lopen(contract::Path("end.bin"), OF_READWRITE);
    ok(f != HFILE_ERROR, "_lopen read-write, error %lu", (unsigned long)GetLastError());
    if (f == HFILE_ERROR) return;

    ok(_llseek(f, 4, FILE_BEGIN) == 4, "seek to 4");
    ok(_lwrite(f, "", 0) == 0, "zero-length write returns 0");
    ok(_llseek(f, 0, FILE_END) == 4, "the file now ends at 4");

    // Past the end it extends the file; the new bytes read as zero.
    ok(_llseek(f, 7, FILE_BEGIN) == 7, "seek past the end");
    ok(_lwrite(f, "", 0) == 0, "zero-length write past the end");
    ok(_llseek(f, 0, FILE_END) == 7, "the file now ends at 7");
    _lclose(f);

    char buffer[16];
    memset(buffer, 0xbd, sizeof(buffer));
    size_t n = ReadAll("end.bin", buffer, sizeof(buffer));
    ok(n == 7, "read back %d bytes", (int)n);
    ok(!memcmp(buffer, "0123\0\0\0", 7), "contents after truncate and extend");
    ok((unsigned char)buffer[7] == 0xbd, "_lread wrote past the data");
}
