// The phrase-list trailer on arbitrary text: the new length never exceeds
// the old, and nothing past the text and its 12 trailer bytes is touched.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<BYTE> text(data, data + size);
    text.resize(size + 12 + 1, 0);
    text[size + 12] = 0xA5;
    DWORD m = AddPhraseListTrailer(text.data(), (DWORD)size);
    FUZZ_CHECK(m <= size);
    FUZZ_CHECK(text[size + 12] == 0xA5);
    return 0;
}
