// Every fuzz input runs on a fresh simulated machine and a zeroed install
// context; a finding is a crash or a sanitizer report, or an invariant the
// target checks with FUZZ_CHECK.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "imereg/imereg.h"
#include "payload/payload.h"
#include "setup/context.h"
#include "sim/machine.h"

#define FUZZ_CHECK(cond)                                                            \
    do {                                                                            \
        if (!(cond)) {                                                              \
            fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
            abort();                                                                \
        }                                                                           \
    } while (0)

static const char kFuzzInstallDir[] = "C:\\Program Files\\vornhu\\";

struct FuzzMachine {
    sim::Machine m;
    FuzzMachine() {
        sim::Use(&m);
        ResetInstallContext();
        memset(&g_preload, 0, sizeof(g_preload));
        g_installedLayout = nullptr;
    }
    ~FuzzMachine() { ClosePayload(); }

    // The install directory made and set, and a payload resource (its bytes
    // do not matter here) opened with its 2 MiB work buffer.
    void OpenWithInstallDir(const std::string& resource = "V0") {
        m.AddDir(kFuzzInstallDir);
        CopyText(g_ctx.installDir, sizeof(g_ctx.installDir), kFuzzInstallDir);
        m.resources.push_back({"VOZ", "TAVKVOZ", 2052, sim::ToBytes(resource)});
        FUZZ_CHECK(OpenPayload());
    }

    // Files other than directories that lie outside `dir` (folded prefix).
    size_t FilesOutside(const std::string& dir) const {
        std::string folded = sim::FoldGbk(dir, false);
        size_t n = 0;
        for (const auto& kv : m.files)
            if (!kv.second.dir && kv.first.compare(0, folded.size(), folded) != 0) n++;
        return n;
    }
};
