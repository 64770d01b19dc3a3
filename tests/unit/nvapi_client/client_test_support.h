// Helpers shared by the client layer's tests.
#pragma once

#include "driver_double/driver_double.h"
#include "platform/sim/sim.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace client_test {

// Where the simulated Windows keeps the driver API module.
inline sim::Path DriverModulePath() { return sim::SystemDirectory() + u"\\nvapi64.dll"; }
inline std::string DriverModulePathText() { return sim::Narrow(DriverModulePath().c_str()); }

// One GPU (bus 3, slot 4, two displays, outputs 0x7, the sample EDID on bit 1).
inline DriverScenario OneGpuScenario()
{
    DriverScenario scenario;
    DoubleGpu gpu;
    gpu.bus = 3;
    gpu.slot = 4;
    gpu.connectedDisplays = 2;
    gpu.outputs = 0x7;
    gpu.monitorEdid[1] = SampleEdid();
    scenario.gpus.push_back(gpu);
    return scenario;
}

inline size_t TraceCount(const std::string& line)
{
    const std::vector<std::string>& trace = DriverDoubleTrace();
    return static_cast<size_t>(std::count(trace.begin(), trace.end(), line));
}

inline size_t TraceCountStartingWith(const std::string& prefix)
{
    size_t count = 0;
    for (const std::string& line : DriverDoubleTrace())
        if (line.compare(0, prefix.size(), prefix) == 0)
            ++count;
    return count;
}

inline std::string QueryLine(uint32_t interfaceId)
{
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "QueryInterface 0x%08x", interfaceId);
    return buffer;
}

// A function as a module export of the simulated Windows.
template <typename Function>
FARPROC AsExport(Function function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

}  // namespace client_test
