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

