// RestoreUserData on an arbitrary "vornback.voz": nothing is written outside
// the installation directory, and the work buffer and backup block are
// released (the window's buffer stays the one allocation).
#include <stdint.h>

#include "fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A member expands up to the backup's own limit (about 1 GiB) through a
    // block of its own; 256 KiB of input bounds that to what a run affords.
    if (size > (1u << 18)) return 0;
    FuzzMachine f;
    f.OpenWithInstallDir();
    CopyText(g_ctx.previousDir, sizeof(g_ctx.previousDir), kFuzzInstallDir);
    f.m.AddFile(std::string(kFuzzInstallDir) + "vornback.voz", sim::Bytes(data, data + size));
    size_t before = f.FilesOutside(kFuzzInstallDir);
    size_t live = f.m.liveAllocations;
    RestoreUserData();
    FUZZ_CHECK(f.FilesOutside(kFuzzInstallDir) == before);
    FUZZ_CHECK(f.m.liveAllocations == live);
    return 0;
}
