// Every unit test runs on a fresh simulated machine and a zeroed install context.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "imereg/imereg.h"
#include "payload/payload.h"
#include "setup/context.h"
#include "sim/machine.h"

class SimTest : public ::testing::Test {
   protected:
    void SetUp() override {
        sim::Use(&m);
        ResetInstallContext();
        memset(&g_preload, 0, sizeof(g_preload));
        g_installedLayout = nullptr;
    }
    // A window the test left open would still hold the work buffer.
    void TearDown() override {
        sim::Use(&m);
        ClosePayload();
    }
    sim::Machine m;
};

// The SQLite-style fault sweep: runs `op` on a machine made by `prepare` to
// count its fallible calls, then once per call (and once past the last) with
// that call failing.  `check(run, n, last)` sees each machine after `op`;
// `snapshot(run)` is taken before `op` and handed to `check`.  Returns the
// number of fallible calls.
template <class Prepare, class Snapshot, class Op, class Check>
long SweepFaults(Prepare prepare, Snapshot snapshot, Op op, Check check) {
    long total = 0;
    {
        sim::Machine probe;
        prepare(probe);
        op();
        total = probe.callCount;
    }
    EXPECT_GT(total, 0);
    for (long n = 1; n <= total + 1; n++) {
        sim::Machine run;
        prepare(run);
        auto before = snapshot(run);
        run.failAt = n;
        op();
        SCOPED_TRACE("fault at call " + std::to_string(n) + " (" + run.failedCall + ")");
        check(run, before, n == total + 1);
    }
    return total;
}
