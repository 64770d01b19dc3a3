// NvAPI_Initialize: one load and one driver initialisation per process, the
// failures that leave the module unloaded, and the lock around it all.
#include "client_test_support.h"

#include "nvapi_client/interface_binding.h"
#include "nvapi_client/nvapi.h"
#include "nvapi_client/singleton_critical_section.h"

#include <cstdlib>
#include <type_traits>

#include <gtest/gtest.h>

using namespace client_test;

TEST(NvApiInitialize, LoadsTheDriverFromTheSystemDirectoryAndInitialisesItOnce)
{
    InstallDriverDouble(OneGpuScenario());
    size_t blocksAtStart = sim::LiveBlocks();

    for (int call = 0; call < 3; ++call)
        EXPECT_EQ(NvAPI_Initialize(), NVAPI_OK) << "call " << call;

    EXPECT_EQ(sim::CallsStartingWith("LoadLibraryExW nvapi64.dll"),
              std::vector<std::string>{"LoadLibraryExW nvapi64.dll 0x800"});
    EXPECT_EQ(sim::CountCalls("GetProcAddress nvapi64.dll nvapi_QueryInterface"), 1u);
    EXPECT_EQ(sim::CountCalls("FreeLibrary"), 0u);
    EXPECT_TRUE(sim::IsLoaded(DriverModulePath()));
    // the binding asks for both initialise entries, initialises, then asks for the hooks
    std::vector<std::string> expected = {
        QueryLine(0xAD298D3F), QueryLine(0x0150E828), "Initialize",
        QueryLine(0x33C7358C), QueryLine(0x593E8644),
    };
    EXPECT_EQ(DriverDoubleTrace(), expected);
    EXPECT_EQ(Initialized[0], 1u);
    EXPECT_EQ(Initialized[1], 0u);
    EXPECT_EQ(sim::LiveBlocks(), blocksAtStart);
}

TEST(NvApiInitialize, MakesNoDriverCallAfterAnEntryPointHasLoadedTheModule)
{
    InstallDriverDouble(OneGpuScenario());
    NvPhysicalGpuHandle gpus[NVAPI_MAX_PHYSICAL_GPUS] = {};
    uint32_t count = 0;

    ASSERT_EQ(NvAPI_EnumPhysicalGPUs(gpus, &count), NVAPI_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(TraceCount("Initialize"), 1u);
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW nvapi64.dll 0x800"), 1u);

    std::vector<std::string> traceBefore = DriverDoubleTrace();
    size_t logBefore = sim::CallLog().size();
    EXPECT_EQ(NvAPI_Initialize(), NVAPI_OK);
    EXPECT_EQ(DriverDoubleTrace(), traceBefore);
    // only the lock was touched: the first use makes it, then enter and leave
    std::vector<std::string> platformCalls(sim::CallLog().begin() + static_cast<long>(logBefore),
                                           sim::CallLog().end());
    EXPECT_EQ(platformCalls, (std::vector<std::string>{"InitializeCriticalSection",
                                                        "EnterCriticalSection",
                                                        "LeaveCriticalSection"}));
}

TEST(NvApiInitialize, FailingDriverInitialiseReleasesTheModuleAndTheNextCallLoadsAgain)
{
    DriverScenario scenario = OneGpuScenario();
    scenario.initStatus = -104;
    InstallDriverDouble(scenario);

    EXPECT_EQ(NvAPI_Initialize(), -104);
    EXPECT_EQ(sim::CountCalls("FreeLibrary " + DriverModulePathText()), 1u);
    EXPECT_FALSE(sim::IsLoaded(DriverModulePath()));
    EXPECT_EQ(InterfaceModule[0].handle, nullptr);
    EXPECT_EQ(Initialized[0], 0u);
    EXPECT_EQ(TraceCountStartingWith("QueryInterface 0x33c7358c"), 0u);  // no hooks fetched

    DriverDoubleScenario().initStatus = NVAPI_OK;
    EXPECT_EQ(NvAPI_Initialize(), NVAPI_OK);
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW nvapi64.dll 0x800"), 2u);
    EXPECT_EQ(TraceCount("Initialize"), 2u);
    EXPECT_TRUE(sim::IsLoaded(DriverModulePath()));
    EXPECT_EQ(sim::CountCalls("FreeLibrary"), 1u);
}

TEST(NvApiInitialize, HooksDoNotWatchInitialisationOnlyTheEntryPoints)
{
    DriverScenario scenario = OneGpuScenario();
    scenario.preHook = scenario.postHook = true;
    InstallDriverDouble(scenario);

    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    EXPECT_EQ(TraceCountStartingWith("PreCallHook"), 0u);
    EXPECT_EQ(TraceCountStartingWith("PostCallHook"), 0u);

    // positive control: the same hooks do watch an entry point
    uint32_t bus = 0;
    ASSERT_EQ(NvAPI_GPU_GetBusId(reinterpret_cast<NvPhysicalGpuHandle>(DriverDoubleGpuHandle(0)), &bus),
              NVAPI_OK);
    EXPECT_EQ(TraceCountStartingWith("PreCallHook"), 1u);
    EXPECT_EQ(TraceCountStartingWith("PostCallHook"), 1u);
}

// ---- loads that fail: each case in its own process

struct LoadFailureCase {
    const char* name;
    void (*arrange)();
    NvAPI_Status status;
    bool moduleReleased;  // loaded, then FreeLibrary
};

static void PrintTo(const LoadFailureCase& c, std::ostream* out) { *out << c.name; }

static void InstallWithoutQueryInterfaceExport()
{
    InstallDriverDouble(OneGpuScenario());
    sim::RemoveExport(DriverModulePath(), "nvapi_QueryInterface");
}
static void InstallWithoutInitialiseEntry()
{
    DriverScenario scenario = OneGpuScenario();
    scenario.offerInitialize = false;
    InstallDriverDouble(scenario);
}
static void InstallNothing() {}
static void InstallWithInitialiseFailing()
{
    DriverScenario scenario = OneGpuScenario();
    scenario.initStatus = -6;
    InstallDriverDouble(scenario);
}
static void InstallWithLoadRefused()
{
    InstallDriverDouble(OneGpuScenario());
    sim::SetLoadFailure(DriverModulePath(), ERROR_ACCESS_DENIED);
}

static const LoadFailureCase LoadFailures[] = {
    {"QueryInterfaceExportMissing", InstallWithoutQueryInterfaceExport, NVAPI_ERROR, true},
    {"InitialiseEntryMissing", InstallWithoutInitialiseEntry, NVAPI_ERROR, true},
    {"ModuleAbsent", InstallNothing, NVAPI_LIBRARY_NOT_FOUND, false},
    {"ModuleRefusedByTheLoader", InstallWithLoadRefused, NVAPI_LIBRARY_NOT_FOUND, false},
    {"DriverInitialiseFails", InstallWithInitialiseFailing, -6, true},
};

class NvApiInitializeLoadFailure : public ::testing::TestWithParam<LoadFailureCase> {};

TEST_P(NvApiInitializeLoadFailure, ReturnsTheStatusLeavesTheModuleUnloadedAndTriesAgainNextTime)
{
    const LoadFailureCase& c = GetParam();
    c.arrange();

    EXPECT_EQ(NvAPI_Initialize(), c.status);
    EXPECT_EQ(sim::CriticalSectionsHeld(), 0);
    EXPECT_EQ(InterfaceModule[0].handle, nullptr);
    EXPECT_EQ(Initialized[0], 0u);
    EXPECT_FALSE(sim::IsLoaded(DriverModulePath()));
    EXPECT_EQ(sim::CountCalls("FreeLibrary " + DriverModulePathText()), c.moduleReleased ? 1u : 0u);

    // the next call, and the next entry point, start again from the loader
    EXPECT_EQ(NvAPI_Initialize(), c.status);
    uint32_t bus = 0;
    EXPECT_EQ(NvAPI_GPU_GetBusId(reinterpret_cast<NvPhysicalGpuHandle>(DriverDoubleGpuHandle(0)), &bus),
              c.status);
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW nvapi64.dll 0x800"), 3u);
    EXPECT_EQ(TraceCountStartingWith("GetBusId"), 0u);
    EXPECT_EQ(sim::CriticalSectionsHeld(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, NvApiInitializeLoadFailure, ::testing::ValuesIn(LoadFailures),
                         [](const ::testing::TestParamInfo<LoadFailureCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- the lock: made once, held only inside the call, left on every path

struct LockCase {
    const char* name;
    void (*arrange)();
    NvAPI_Status status;
};

static void PrintTo(const LockCase& c, std::ostream* out) { *out << c.name; }

static void InstallWorkingDriver() { InstallDriverDouble(OneGpuScenario()); }

static const LockCase LockCases[] = {
    {"Success", InstallWorkingDriver, NVAPI_OK},
    {"ModuleAbsent", InstallNothing, NVAPI_LIBRARY_NOT_FOUND},
    {"QueryInterfaceExportMissing", InstallWithoutQueryInterfaceExport, NVAPI_ERROR},
    {"InitialiseEntryMissing", InstallWithoutInitialiseEntry, NVAPI_ERROR},
    {"DriverInitialiseFails", InstallWithInitialiseFailing, -6},
};

class NvApiInitializeLock : public ::testing::TestWithParam<LockCase> {};

TEST_P(NvApiInitializeLock, IsMadeOnceAndLeftOnEveryPath)
{
    const LockCase& c = GetParam();
    c.arrange();
    EXPECT_EQ(sim::CountCalls("InitializeCriticalSection"), 0u);

    for (int call = 1; call <= 4; ++call) {
        EXPECT_EQ(NvAPI_Initialize(), c.status) << "call " << call;
        EXPECT_EQ(sim::CriticalSectionsHeld(), 0) << "call " << call;
        EXPECT_EQ(sim::CountCalls("EnterCriticalSection"), static_cast<size_t>(call));
        EXPECT_EQ(sim::CountCalls("LeaveCriticalSection"), static_cast<size_t>(call));
    }
    EXPECT_EQ(sim::CountCalls("InitializeCriticalSection"), 1u);

    // the load itself runs inside the lock: between the first enter and leave
    const std::vector<std::string>& log = sim::CallLog();
    auto enter = std::find(log.begin(), log.end(), "EnterCriticalSection");
    auto load = std::find(log.begin(), log.end(), "LoadLibraryExW nvapi64.dll 0x800");
    auto leave = std::find(log.begin(), log.end(), "LeaveCriticalSection");
    EXPECT_LT(enter, load);
    EXPECT_LT(load, leave);
}

INSTANTIATE_TEST_SUITE_P(Cases, NvApiInitializeLock, ::testing::ValuesIn(LockCases),
                         [](const ::testing::TestParamInfo<LockCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(NvApiInitialize, EntryPointsTakeNoLock)
{
    InstallDriverDouble(OneGpuScenario());
    uint32_t slot = 0;
    EXPECT_EQ(NvAPI_GPU_GetBusSlotId(reinterpret_cast<NvPhysicalGpuHandle>(DriverDoubleGpuHandle(0)), &slot),
              NVAPI_OK);
    EXPECT_EQ(slot, 4u);
    EXPECT_EQ(sim::CountCalls("InitializeCriticalSection"), 0u);
    EXPECT_EQ(sim::CountCalls("EnterCriticalSection"), 0u);
}

// ---- after a binding in the alternate mode, NvAPI_Initialize still owes the standard call

TEST(NvApiInitialize, AfterAnAlternateBindingCallsTheStandardInitialiseOnce)
{
    InstallDriverDouble(OneGpuScenario());
    ASSERT_EQ(LoadInterfaceModule(0, 1), NVAPI_OK);
    EXPECT_EQ(TraceCount("AlternateInitialize 1"), 1u);
    EXPECT_EQ(TraceCount("Initialize"), 0u);
    EXPECT_EQ(Initialized[0], 0u);
    EXPECT_EQ(Initialized[1], 1u);

    EXPECT_EQ(NvAPI_Initialize(), NVAPI_OK);
    EXPECT_EQ(NvAPI_Initialize(), NVAPI_OK);
    EXPECT_EQ(TraceCount("Initialize"), 1u);
    EXPECT_EQ(Initialized[0], 1u);
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW nvapi64.dll 0x800"), 1u);
}

TEST(NvApiInitialize, AfterAnAlternateBindingAStandardInitialiseFailureIsReturnedEachTime)
{
    DriverScenario scenario = OneGpuScenario();
    scenario.initStatus = NVAPI_OK;
    InstallDriverDouble(scenario);
    ASSERT_EQ(LoadInterfaceModule(0, 1), NVAPI_OK);

    DriverDoubleScenario().initStatus = -9;
    EXPECT_EQ(NvAPI_Initialize(), -9);
    EXPECT_EQ(NvAPI_Initialize(), -9);
    EXPECT_EQ(TraceCount("Initialize"), 2u);
    EXPECT_EQ(Initialized[0], 0u);
    EXPECT_EQ(sim::CountCalls("FreeLibrary"), 0u);  // the module stays bound
    EXPECT_EQ(sim::CriticalSectionsHeld(), 0);
}

TEST(NvApiInitialize, AfterAnAlternateBindingWithoutAStandardEntryGivesError)
{
    DriverScenario scenario = OneGpuScenario();
    scenario.offerInitialize = false;
    InstallDriverDouble(scenario);
    ASSERT_EQ(LoadInterfaceModule(0, 1), NVAPI_OK);

    EXPECT_EQ(NvAPI_Initialize(), NVAPI_ERROR);
    EXPECT_EQ(sim::CriticalSectionsHeld(), 0);
    EXPECT_EQ(Initialized[0], 0u);
}

// ---- the lock object itself

static_assert(std::has_virtual_destructor<CSingletonCriticalSection>::value,
              "the lock's one virtual operation is its destructor");

TEST(NvApiInitialize, MakesTheLockInItsProcessWideStorageOnFirstUse)
{
    InstallDriverDouble(OneGpuScenario());
    EXPECT_EQ(ClientLock, nullptr);
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    EXPECT_EQ(static_cast<void*>(ClientLock), static_cast<void*>(ClientLockStorage));
    CSingletonCriticalSection* first = ClientLock;
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    EXPECT_EQ(ClientLock, first);
}

TEST(NvApiInitialize, LockDestructorRunsAtExitWithoutHarm)
{
    // the destructor registered at the first use runs when the process exits
    EXPECT_EXIT(
        {
            InstallDriverDouble(OneGpuScenario());
            if (NvAPI_Initialize() != NVAPI_OK)
                std::exit(3);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
