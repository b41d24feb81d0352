// GetVersionExA and the size field: 156 (OSVERSIONINFOEXA) makes Windows fill
// eight bytes past the 148 of OSVERSIONINFOA, so a caller that announces 156
// must own 156 bytes.
#include "tests/contract/contract.h"

namespace {
// OSVERSIONINFOEXA tail: service pack (148, 150), suite mask (152), product
// type (154), reserved (155).
const size_t kPlainBytes = 148;
const size_t kExBytes = 156;

union VersionBuffer {
    OSVERSIONINFOA info;
    unsigned char bytes[kExBytes + 8];
};
}  // namespace

CONTRACT_TEST(test_GetVersionExA_sizes) {
    VersionBuffer v;
    memset(&v, 0xbd, sizeof(v));
    v.info.dwOSVersionInfoSize = (DWORD)kExBytes;
    ok(GetVersionExA(&v.info), "size 156 accepted, error %lu", (unsigned long)GetLastError());
    ok(v.info.dwMajorVersion >= 5 && v.info.dwMajorVersion != 0xbdbdbdbd, "major %lu",
       (unsigned long)v.info.dwMajorVersion);
    ok(v.info.dwPlatformId == VER_PLATFORM_WIN32_NT, "platform %lu", (unsigned long)v.info.dwPlatformId);
    // Workstation, domain controller or server: 1 to 3.
    ok(v.bytes[154] >= 1 && v.bytes[154] <= 3, "size 156 fills the product type: %#x", v.bytes[154]);
    ok(v.bytes[kExBytes] == 0xbd, "nothing past 156 bytes");

    memset(&v, 0xbd, sizeof(v));
    v.info.dwOSVersionInfoSize = (DWORD)kPlainBytes;
    ok(GetVersionExA(&v.info), "size 148 accepted");
    ok(v.bytes[kPlainBytes] == 0xbd && v.bytes[154] == 0xbd, "size 148 writes nothing past 148 bytes");

    memset(&v, 0xbd, sizeof(v));
    v.info.dwOSVersionInfoSize = 100;
    SetLastError(0xdeadbeef);
    ok(!GetVersionExA(&v.info) && GetLastError() == ERROR_INSUFFICIENT_BUFFER, "size 100: error %lu",
       (unsigned long)GetLastError());
}
