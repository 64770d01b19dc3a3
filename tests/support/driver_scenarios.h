// Driver double scenarios shared by the benchmarks and the tests of their counts.
#pragma once

#include "driver_double/driver_double.h"

namespace test_support {

// One GPU on bus 3, slot 4, one display, output 0 accepting an EDID; both
// call-trace hooks offered when asked for.
inline DriverScenario OneGpuScenario(bool hooks)
{
    DriverScenario scenario;
    DoubleGpu gpu;
    gpu.bus = 3;
    gpu.slot = 4;
    gpu.connectedDisplays = 1;
    gpu.outputs = 0x1;
    scenario.gpus.push_back(gpu);
    scenario.preHook = hooks;
    scenario.postHook = hooks;
    return scenario;
}

}  // namespace test_support
