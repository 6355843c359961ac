// A fresh simulated machine for every test, and a check that the test closed what it opened.
#pragma once

#include "os/sim/Sim.h"

#include <gtest/gtest.h>

namespace sim = os::sim;

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override {
        EXPECT_EQ(sim::OpenHandles(), 0);
        EXPECT_EQ(sim::OpenKeys(), 0);
    }
};
