// The archive walk and FindMember on arbitrary bytes: both marker rules walk
// to their end inside the bytes, and every member found lies inside them.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "payload/voz.h"
#include "fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes: a read past it is a sanitizer report.
    std::vector<unsigned char> bytes(data, data + size);
    const unsigned char* a = bytes.data();
    static unsigned char output[1 << 16];
    const char* firstName = nullptr;
    for (VozMarkerRule rule : {kMarkerExact, kMarkerLenient}) {
        MemberIterator it;
        if (!VozBegin(&it, a, size, rule)) continue;
        VozMember member;
        uint32_t seen = 0;
        while (VozNext(&it, &member)) {
            FUZZ_CHECK(member.compressed >= a && member.compressed + member.cbCompressed <= a + size);
            FUZZ_CHECK(memchr(member.name, 0, kVozNameField) != nullptr);
            FUZZ_CHECK(member.index == seen);
            if (!firstName) firstName = member.name;
            seen++;
        }
        FUZZ_CHECK(seen <= it.count);
    }
    const char* names[] = {firstName ? firstName : "vobmp8.voh", "tavk1.bmp", "vobmpsx1.bmp"};
    for (const char* name : names) {
        size_t n = FindMember(a, size, name, output, sizeof(output));
        FUZZ_CHECK(n <= sizeof(output));
    }
    return 0;
}
