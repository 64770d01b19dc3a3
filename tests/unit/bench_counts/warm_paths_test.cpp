// What a repeated request costs in platform calls: the warm paths that the
// benchmarks time. A warm LoadModuleSecure for the client layer's module makes
// only the image-path query, the version answer where no build number is
// cached, and the load itself; a warm entry point makes no platform call at all,
// allocates nothing and takes no lock.
#include "driver_double/driver_double.h"
#include "support/driver_scenarios.h"
#include "nvapi_client/nvapi.h"
#include "platform/sim/sim.h"
#include "secure_load/loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

size_t TraceCount(const std::string& line)
{
    const std::vector<std::string>& trace = DriverDoubleTrace();
    return static_cast<size_t>(std::count(trace.begin(), trace.end(), line));
}


// ---- a repeated LoadModuleSecure("nvapi64.dll", 0x800)

struct WarmLoadRow {
    const char* machine;
    DWORD major, minor, build;            // what the version test answers for
    std::vector<std::string> warmCalls;   // the second request's call log, exactly
    size_t firstRequestRegistryOpens;     // positive control: the first request's registry use
};

std::ostream& operator<<(std::ostream& out, const WarmLoadRow& row) { return out << row.machine; }

class WarmSystemDirectoryRequest : public ::testing::TestWithParam<WarmLoadRow> {};

TEST_P(WarmSystemDirectoryRequest, MakesOnlyTheImagePathQueryTheUncachedVersionAnswerAndTheLoad)
{
    const WarmLoadRow& row = GetParam();
    sim::SetVersion(row.major, row.minor, 0, row.build);
    InstallDriverDouble(test_support::OneGpuScenario(false));
    size_t startBlocks = sim::LiveBlocks();

    HMODULE first = LoadModuleSecure(WSTR("nvapi64.dll"), LOAD_LIBRARY_SEARCH_SYSTEM32);
    ASSERT_NE(first, nullptr);
    // positive controls: the first request pinned the dependencies (and read the
    // registry where the platform's answer is not enough), so the log would show them
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW msasn1.dll 0x800"), 1u);
    EXPECT_EQ(sim::CountCalls("RegOpenKeyExW"), row.firstRequestRegistryOpens);

    sim::ClearCallLog();
    size_t allocations = sim::AllocationCount();
    SetLastError(0xdeadbeef);

    HMODULE warm = LoadModuleSecure(WSTR("nvapi64.dll"), LOAD_LIBRARY_SEARCH_SYSTEM32);

    EXPECT_EQ(warm, first);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(sim::CallLog(), row.warmCalls);
    EXPECT_EQ(sim::CountCalls("Reg"), 0u) << "no registry call";
    EXPECT_EQ(sim::AllocationCount(), allocations) << "no LocalAlloc";
    EXPECT_EQ(sim::LiveBlocks(), startBlocks);
    EXPECT_EQ(sim::OpenRegistryKeys(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Machines, WarmSystemDirectoryRequest,
    ::testing::Values(
        // the version test says yes for 14308: it is asked on every request, nothing is cached
        WarmLoadRow{"PlatformAnswersTheBuild",
                    10, 0, 19045,
                    {"VerifyVersionInfoW 0x4 14308", "GetModuleFileNameA C:\\Tools\\edidload.exe",
                     "LoadLibraryExW nvapi64.dll 0x800"},
                    0},
        // the version test says 9200 (a program without a compatibility manifest on
        // Windows 10): the registry's build number is read once and cached
        WarmLoadRow{"RegistryBuildIsCached",
                    6, 2, 9200,
                    {"GetModuleFileNameA C:\\Tools\\edidload.exe",
                     "LoadLibraryExW nvapi64.dll 0x800"},
                    1}),
    [](const ::testing::TestParamInfo<WarmLoadRow>& info) { return std::string(info.param.machine); });

// ---- a repeated entry-point call

class WarmEntryPoint : public ::testing::TestWithParam<bool> {};

TEST_P(WarmEntryPoint, MakesNoPlatformCallAllocatesNothingAndTakesNoLock)
{
    bool hooks = GetParam();
    InstallDriverDouble(test_support::OneGpuScenario(hooks));
    NvPhysicalGpuHandle gpu = static_cast<NvPhysicalGpuHandle>(DriverDoubleGpuHandle(0));
    size_t startBlocks = sim::LiveBlocks();

    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    // positive control: taking the lock shows in the call log
    EXPECT_EQ(sim::CountCalls("EnterCriticalSection"), 1u);
    uint32_t bus = 0;
    ASSERT_EQ(NvAPI_GPU_GetBusId(gpu, &bus), NVAPI_OK);  // fills the cache slot

    sim::ClearCallLog();
    DriverDoubleTrace().clear();
    size_t allocations = sim::AllocationCount();
    bus = 0;
    SetLastError(0xdeadbeef);

    EXPECT_EQ(NvAPI_GPU_GetBusId(gpu, &bus), NVAPI_OK);

    EXPECT_EQ(bus, 3u);
    EXPECT_TRUE(sim::CallLog().empty()) << "first call: " << sim::CallLog().front();
    EXPECT_EQ(sim::CountCalls("EnterCriticalSection"), 0u);
    EXPECT_EQ(sim::CriticalSectionsHeld(), 0);
    EXPECT_EQ(sim::AllocationCount(), allocations) << "no LocalAlloc";
    EXPECT_EQ(sim::LiveBlocks(), startBlocks);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    // the call reached the driver, without asking its query-interface function again
    EXPECT_EQ(TraceCount("GetBusId 0"), 1u);
    EXPECT_EQ(TraceCount("QueryInterface 0x1be0b8e5"), 0u);
    EXPECT_EQ(TraceCount("PreCallHook 0x1be0b8e5"), hooks ? 1u : 0u);
    EXPECT_EQ(TraceCount("PostCallHook 0x1be0b8e5 0x1234567890abcdef 0"), hooks ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Hooks, WarmEntryPoint, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "BothHooksOffered" : "NoHooks");
                         });

// ---- the driver double's trace switch, which the benchmarks turn off

TEST(DriverDoubleTraceSwitch, KeepsNoTraceWhenOffAndTracesByDefault)
{
    DriverScenario scenario = test_support::OneGpuScenario(false);
    EXPECT_TRUE(scenario.traceEnabled);
    scenario.traceEnabled = false;
    InstallDriverDouble(scenario);
    uint32_t bus = 0;

    ASSERT_EQ(NvAPI_GPU_GetBusId(static_cast<NvPhysicalGpuHandle>(DriverDoubleGpuHandle(0)), &bus),
              NVAPI_OK);

    EXPECT_EQ(bus, 3u);
    EXPECT_TRUE(DriverDoubleTrace().empty());

    DriverDoubleScenario().traceEnabled = true;  // positive control
    ASSERT_EQ(NvAPI_GPU_GetBusId(static_cast<NvPhysicalGpuHandle>(DriverDoubleGpuHandle(0)), &bus),
              NVAPI_OK);
    EXPECT_EQ(TraceCount("GetBusId 0"), 1u);
}

}  // namespace
