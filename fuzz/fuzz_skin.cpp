// The skin step on an arbitrary skin archive: the default skin's archive in
// the installation directory is unpacked and checked as the window's last
// step does.  Nothing is written outside the installation directory, and
// no block stays allocated but the work buffer.
#include <stdint.h>

#include "fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    FuzzMachine f;
    f.OpenWithInstallDir();
    // "冷色瓷面.voz" in GBK: the skin the dialog chooses by default.
    f.m.AddFile(std::string(kFuzzInstallDir) + "\xc0\xe4\xc9\xab\xb4\xc9\xc3\xe6.voz", sim::Bytes(data, data + size));
    size_t before = f.FilesOutside(kFuzzInstallDir);
    size_t live = f.m.liveAllocations;
    ChooseSkinAndWindowMode();
    FUZZ_CHECK(f.FilesOutside(kFuzzInstallDir) == before);
    FUZZ_CHECK(f.m.liveAllocations == live);
    return 0;
}
