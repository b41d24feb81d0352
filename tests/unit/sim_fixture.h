// Every unit test runs on a fresh simulated machine and a zeroed install context.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "imereg/imereg.h"
#include "payload/payload.h"
#include "setup/context.h"
#include "sim/machine.h"
#include "userdata/userdata.h"

class SimTest : public ::testing::Test {
   protected:
    void SetUp() override {
        sim::Use(&m);
        ResetInstallContext();
        memset(&g_preload, 0, sizeof(g_preload));
        memset(&g_orgAddress, 0, sizeof(g_orgAddress));
        g_installedLayout = nullptr;
    }
    // A window the test left open would still hold the work buffer.
    void TearDown() override {
        sim::Use(&m);
        ClosePayload();
    }
    sim::Machine m;
};

// Which calls a sweep makes fail: one call, every call from that one on (the
// way a full disk behaves), and either counted among all fallible calls or
// only among the calls of one name.
struct FaultClass {
    bool onward = false;
    std::string only;  // "" : every fallible call
    std::string Describe() const {
        return std::string(onward ? "every call from" : "one call at") + (only.empty() ? "" : " of " + only);
    }
};

// The SQLite-style fault sweep: runs `op` on a machine made by `prepare` to
// count the fallible calls of `op` (of the class's name, if any), then once per call
// (and once past the last) with that call failing, or every call from it on.
// `check(run, before, last)` sees each machine after `op`; `before` is
// `snapshot(run)`, taken before `op`.  A run that makes many more calls than
// the probe is taken for a hang and aborts.  Returns the number of calls.
template <class Prepare, class Snapshot, class Op, class Check>
long SweepFaults(Prepare prepare, Snapshot snapshot, Op op, Check check, const FaultClass& fault = FaultClass()) {
    long total = 0;
    {
        sim::Machine probe;
        prepare(probe);
        probe.callCount = 0;
        probe.failOnly = fault.only;
        op();
        total = probe.callCount;
        ClosePayload();  // what the window or the entry would release
    }
    if (fault.only.empty()) {
        EXPECT_GT(total, 0);
    }
    for (long n = 1; n <= total + 1; n++) {
        sim::Machine run;
        prepare(run);
        auto before = snapshot(run);
        run.callCount = 0;
        run.failOnly = fault.only;
        run.failOnward = fault.onward;
        run.callLimit = 4 * total + 1000;
        run.failAt = n;
        op();
        SCOPED_TRACE(fault.Describe() + " " + std::to_string(n) + " (" + run.failedCall + ")");
        check(run, before, n == total + 1);
        ClosePayload();
    }
    return total;
}
