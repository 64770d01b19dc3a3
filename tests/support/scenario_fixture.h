// The fixture every scenario test on the simulated Windows shares: it starts
// with an empty call log and ends by checking that nothing the test caused
// stays allocated or open.
#pragma once

#include "platform/sim/sim.h"
#include "platform/sim/sim_devices.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace test_support {

// Base is ::testing::Test, or ::testing::TestWithParam<Row> for a table of cases.
template <typename Base>
class ScenarioFixture : public Base {
protected:
    void SetUp() override
    {
        startBlocks = sim::LiveBlocks();
        sim::ClearCallLog();
    }
    void TearDown() override
    {
        sim::FailAllocation(0);
        ExpectNothingLeft();
    }

    void ExpectNothingLeft()
    {
        EXPECT_EQ(sim::LiveBlocks(), startBlocks) << "blocks leaked";
        EXPECT_EQ(sim::OpenRegistryKeys(), 0) << "registry keys left open";
        EXPECT_EQ(sim::OpenDeviceInfoSets(), 0) << "device information sets left open";
        EXPECT_EQ(sim::OpenServiceHandles(), 0) << "service handles left open";
        EXPECT_EQ(sim::OpenAdapterHandles(), 0) << "adapter handles left open";
    }

    size_t startBlocks = 0;
};

}  // namespace test_support
