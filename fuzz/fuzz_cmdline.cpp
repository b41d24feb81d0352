// The setup program's entry on an arbitrary command line, on 64-bit Windows
// 7 (where the registration mode reads a directory from it) without a
// payload: the installation directory stays a terminated text of its
// buffer, the path record holds exactly it, and no key stays open.
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    std::string line((const char*)data, size);
    line = line.substr(0, strlen(line.c_str()));
    FuzzMachine f;
    f.m.AddFile("C:\\windows\\vornpath.voh", "C:\\Program Files\\vornhu\\");
    SetupMain(nullptr, line.c_str(), SW_SHOW);
    FUZZ_CHECK(memchr(g_ctx.installDir, 0, sizeof(g_ctx.installDir)) != nullptr);
    std::string record = f.m.Read("C:\\windows\\vornpath.voh");
    FUZZ_CHECK(record == g_ctx.installDir);
    FUZZ_CHECK(f.m.OpenKeyCount() == 0);
    return 0;
}
