// The windows build's nvapi64.dll: the test-double GPU driver as a real module.
//
// On attach it takes its scenario from the file named by the environment
// variable EDIDLOAD_DRIVER_SCENARIO (scenario text, see driver_double.h) and,
// when EDIDLOAD_DRIVER_TRACE names a file, appends every trace line to it.
// Without a scenario file it runs one GPU on bus 1, slot 0, with one connected
// display, outputs 0x7 accepting an EDID and the sample EDID as the monitor
// EDID of output bit 1. A scenario file that cannot be read or parsed makes the
// load fail (DllMain answers FALSE), so that a broken test setup cannot pass
// for a driver that behaves.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "driver_double/driver_double.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

extern "C" __declspec(dllexport) void* nvapi_QueryInterface(unsigned int interfaceId)
{
    return DriverDoubleQueryInterface(interfaceId);
}

// The value of an environment variable, empty when it is not set.
static std::string EnvironmentValue(const char* name)
{
    char buffer[1024];
    DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer)
        return std::string();
    return std::string(buffer, length);
}

static DriverScenario DefaultScenario(void)
{
    DriverScenario scenario;
    DoubleGpu gpu;
    gpu.bus = 1;
    gpu.slot = 0;
    gpu.connectedDisplays = 1;
    gpu.outputs = 0x7;
    gpu.monitorEdid[1] = SampleEdid();
    scenario.gpus.push_back(gpu);
    return scenario;
}

static BOOL LoadScenario(void)
{
    std::string tracePath = EnvironmentValue("EDIDLOAD_DRIVER_TRACE");
    SetDriverDoubleTraceFile(tracePath);

    std::string scenarioPath = EnvironmentValue("EDIDLOAD_DRIVER_SCENARIO");
    if (scenarioPath.empty()) {
        DriverDoubleScenario() = DefaultScenario();
        return TRUE;
    }
    std::ifstream file(scenarioPath, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "driver double: cannot read scenario %s\n", scenarioPath.c_str());
        return FALSE;
    }
    std::stringstream text;
    text << file.rdbuf();
    int errorLine = 0;
    if (!ParseDriverScenarioAt(text.str(), &DriverDoubleScenario(), &errorLine)) {
        std::fprintf(stderr, "driver double: scenario %s, line %d is malformed\n",
                     scenarioPath.c_str(), errorLine);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        return LoadScenario();
    return TRUE;
}
