// ExtractArchive then VerifyArchive on an arbitrary archive: nothing is
// written outside the installation directory, the failure text stays in its
// buffer, and no more members pass than the archive holds.
#include <stdint.h>

#include <vector>

#include "fuzz/fuzz_machine.h"
#include "payload/texts.h"
#include "payload/voz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    FuzzMachine f;
    f.OpenWithInstallDir();
    size_t before = f.FilesOutside(kFuzzInstallDir);
    std::vector<BYTE> archive(data, data + size);
    ExtractArchive(archive.data(), (DWORD)size, g_ctx.workBuffer);
    static char failures[4097];
    failures[4096] = 0x7f;
    int passed = VerifyArchive(archive.data(), (DWORD)size, failures, 4096, VERIFY_EXCLUSIONS);
    FUZZ_CHECK(failures[4096] == 0x7f);
    FUZZ_CHECK(passed >= 0);
    if (size >= kVozHeaderBytes) FUZZ_CHECK((uint32_t)passed <= VozLe32(archive.data() + 6));
    FUZZ_CHECK(f.FilesOutside(kFuzzInstallDir) == before);
    return 0;
}
