// LoadInterfaceModule, BindInterfaceModule and EnsureInterfaceLoaded: modes,
// module indexes, the alternate initialisation and the power API module.
#include "client_test_support.h"

#include "nvapi_client/interface_binding.h"
#include "nvapi_client/nvapi.h"

#include <gtest/gtest.h>

using namespace client_test;

TEST(InterfaceBinding, RefusesModesOtherThanStandardAndAlternateBeforeLoadingAnything)
{
    InstallDriverDouble(OneGpuScenario());
    const int modes[] = {-1, 2, 3, 0x7fffffff};
    for (int module = 0; module < 2; ++module) {
        for (int mode : modes) {
            SCOPED_TRACE("module " + std::to_string(module) + " mode " + std::to_string(mode));
            EXPECT_EQ(LoadInterfaceModule(module, mode), NVAPI_NO_IMPLEMENTATION);
        }
    }
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW"), 0u);
    EXPECT_TRUE(DriverDoubleTrace().empty());
    EXPECT_EQ(Initialized[0], 0u);
    EXPECT_EQ(Initialized[1], 0u);
}

TEST(InterfaceBinding, RefusesModuleIndexesOutsideTheTable)
{
    InstallDriverDouble(OneGpuScenario());
    const int modules[] = {-1, 2, 100};
    for (int module : modules) {
        SCOPED_TRACE("module " + std::to_string(module));
        EXPECT_EQ(LoadInterfaceModule(module, 0), NVAPI_NO_IMPLEMENTATION);
        EXPECT_EQ(EnsureInterfaceLoaded(module, 0), NVAPI_NO_IMPLEMENTATION);
    }
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW"), 0u);
}

TEST(InterfaceBinding, AlternateModeInitialisesThroughTheAlternateEntryWithOne)
{
    InstallDriverDouble(OneGpuScenario());

    EXPECT_EQ(LoadInterfaceModule(0, 1), NVAPI_OK);
    std::vector<std::string> expected = {
        QueryLine(0xAD298D3F), QueryLine(0x0150E828), "AlternateInitialize 1",
        QueryLine(0x33C7358C), QueryLine(0x593E8644),
    };
    EXPECT_EQ(DriverDoubleTrace(), expected);
    EXPECT_NE(InterfaceModule[0].handle, nullptr);
    EXPECT_NE(DriverInitializeEntry, nullptr);  // fetched whatever the mode
    EXPECT_EQ(Initialized[1], 1u);
    EXPECT_EQ(Initialized[0], 0u);
    EXPECT_EQ(sim::CallsStartingWith("LoadLibraryExW nvapi64.dll"),
              std::vector<std::string>{"LoadLibraryExW nvapi64.dll 0x800"});
}

TEST(InterfaceBinding, AlternateModeWithoutTheAlternateEntryGivesNoImplementationAndReleases)
{
    DriverScenario scenario = OneGpuScenario();
    scenario.offerAlternateInitialize = false;
    InstallDriverDouble(scenario);

    EXPECT_EQ(LoadInterfaceModule(0, 1), NVAPI_NO_IMPLEMENTATION);
    EXPECT_EQ(sim::CountCalls("FreeLibrary " + DriverModulePathText()), 1u);
    EXPECT_EQ(InterfaceModule[0].handle, nullptr);
    EXPECT_EQ(Initialized[1], 0u);
    EXPECT_EQ(TraceCount("Initialize"), 0u);  // no fallback to the standard entry
}

TEST(InterfaceBinding, StandardModeDoesNotNeedTheAlternateEntry)
{
    DriverScenario scenario = OneGpuScenario();
    scenario.offerAlternateInitialize = false;
    InstallDriverDouble(scenario);

    EXPECT_EQ(LoadInterfaceModule(0, 0), NVAPI_OK);
    EXPECT_EQ(AlternateInitEntry, nullptr);
    EXPECT_EQ(Initialized[0], 1u);
}

TEST(InterfaceBinding, LoadingABoundModuleAgainLoadsNothing)
{
    InstallDriverDouble(OneGpuScenario());
    ASSERT_EQ(LoadInterfaceModule(0, 0), NVAPI_OK);
    std::vector<std::string> traceBefore = DriverDoubleTrace();

    EXPECT_EQ(LoadInterfaceModule(0, 0), NVAPI_OK);
    EXPECT_EQ(LoadInterfaceModule(0, 1), NVAPI_OK);  // already bound: no alternate initialisation
    EXPECT_EQ(EnsureInterfaceLoaded(0, 0), NVAPI_OK);
    EXPECT_EQ(DriverDoubleTrace(), traceBefore);
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW nvapi64.dll"), 1u);
    EXPECT_EQ(Initialized[1], 0u);
}

TEST(InterfaceBinding, EnsureInterfaceLoadedLoadsOnlyWhenTheModuleIsNotBound)
{
    InstallDriverDouble(OneGpuScenario());
    EXPECT_EQ(EnsureInterfaceLoaded(0, 0), NVAPI_OK);
    EXPECT_EQ(EnsureInterfaceLoaded(0, 0), NVAPI_OK);
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW nvapi64.dll 0x800"), 1u);
    EXPECT_EQ(TraceCount("Initialize"), 1u);
}

TEST(InterfaceBinding, BindingClearsEveryCacheSlot)
{
    InstallDriverDouble(OneGpuScenario());
    for (int slot = 0; slot < NVAPI_FUNCTION_CACHE_SLOTS; ++slot)
        FunctionCache[slot] = &FunctionCache[slot];  // stale values from nowhere

    ASSERT_EQ(LoadInterfaceModule(0, 0), NVAPI_OK);
    for (int slot = 0; slot < NVAPI_FUNCTION_CACHE_SLOTS; ++slot)
        EXPECT_EQ(FunctionCache[slot], nullptr) << "slot " << slot;
}

// ---- the power API module

static int PowerQueryCalls = 0;
static void* PowerQueryInterface(uint32_t interfaceId)
{
    (void)interfaceId;
    ++PowerQueryCalls;
    return nullptr;
}

static sim::Path PowerModulePath() { return sim::SystemDirectory() + u"\\nvpowerapi.dll"; }

TEST(InterfaceBinding, PowerModuleBindsThroughItsOwnExportWithoutInitialisingOrTouchingHooks)
{
    // module 0 first, with both hooks and a cached function
    DriverScenario scenario = OneGpuScenario();
    scenario.preHook = scenario.postHook = true;
    InstallDriverDouble(scenario);
    uint32_t bus = 0;
    ASSERT_EQ(NvAPI_GPU_GetBusId(reinterpret_cast<NvPhysicalGpuHandle>(DriverDoubleGpuHandle(0)), &bus),
              NVAPI_OK);
    ASSERT_NE(FunctionCache[NVAPI_SLOT_GPU_GET_BUS_ID], nullptr);
    NvPreCallHookFn preBefore = PreCallHook;
    NvPostCallHookFn postBefore = PostCallHook;
    ASSERT_NE(preBefore, nullptr);
    std::vector<std::string> traceBefore = DriverDoubleTrace();

    sim::AddModule(PowerModulePath(), {{"nvapi_pepQueryInterface", AsExport(&PowerQueryInterface)}});
    EXPECT_EQ(LoadInterfaceModule(1, 0), NVAPI_OK);

    EXPECT_EQ(sim::CountCalls("LoadLibraryExW nvpowerapi.dll 0x800"), 1u);
    EXPECT_EQ(sim::CountCalls("GetProcAddress nvpowerapi.dll nvapi_pepQueryInterface"), 1u);
    EXPECT_EQ(reinterpret_cast<void*>(InterfaceModule[1].queryInterface),
              reinterpret_cast<void*>(&PowerQueryInterface));
    EXPECT_NE(InterfaceModule[1].handle, nullptr);
    EXPECT_EQ(PowerQueryCalls, 0);  // no initialise, no hooks asked for
    EXPECT_EQ(PreCallHook, preBefore);
    EXPECT_EQ(PostCallHook, postBefore);
    EXPECT_EQ(DriverDoubleTrace(), traceBefore);
    for (int slot = 0; slot < NVAPI_FUNCTION_CACHE_SLOTS; ++slot)
        EXPECT_EQ(FunctionCache[slot], nullptr) << "slot " << slot;

    // the driver API module asks its own query function again afterwards
    ASSERT_EQ(NvAPI_GPU_GetBusId(reinterpret_cast<NvPhysicalGpuHandle>(DriverDoubleGpuHandle(0)), &bus),
              NVAPI_OK);
    EXPECT_EQ(TraceCount(QueryLine(0x1BE0B8E5)), 2u);
    EXPECT_EQ(PowerQueryCalls, 0);
}

TEST(InterfaceBinding, PowerModuleIgnoresTheModeItIsLoadedIn)
{
    sim::AddModule(PowerModulePath(), {{"nvapi_pepQueryInterface", AsExport(&PowerQueryInterface)}});
    EXPECT_EQ(LoadInterfaceModule(1, 1), NVAPI_OK);
    EXPECT_EQ(PowerQueryCalls, 0);
    EXPECT_EQ(Initialized[1], 1u);
    EXPECT_EQ(InterfaceModule[0].handle, nullptr);
}

TEST(InterfaceBinding, PowerModuleWithoutItsExportGivesErrorAndIsReleased)
{
    // the driver API module's export name is not enough
    sim::AddModule(PowerModulePath(), {{"nvapi_QueryInterface", AsExport(&PowerQueryInterface)}});
    EXPECT_EQ(LoadInterfaceModule(1, 0), NVAPI_ERROR);
    EXPECT_EQ(sim::CountCalls("FreeLibrary " + sim::Narrow(PowerModulePath().c_str())), 1u);
    EXPECT_EQ(InterfaceModule[1].handle, nullptr);
    EXPECT_FALSE(sim::IsLoaded(PowerModulePath()));
    EXPECT_EQ(Initialized[0], 0u);
}

TEST(InterfaceBinding, PowerModuleAbsentGivesLibraryNotFound)
{
    EXPECT_EQ(LoadInterfaceModule(1, 0), NVAPI_LIBRARY_NOT_FOUND);
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW nvpowerapi.dll 0x800"), 1u);
    EXPECT_EQ(sim::CountCalls("FreeLibrary"), 0u);
}

TEST(InterfaceBinding, PowerModuleIsNotLoadedFromOutsideTheSystemDirectory)
{
    // a planted copy in the current and the application directory is not used
    sim::AddModule(sim::CurrentDirectory() + u"\\nvpowerapi.dll",
                   {{"nvapi_pepQueryInterface", AsExport(&PowerQueryInterface)}});
    sim::AddModule(u"C:\\Tools\\nvpowerapi.dll",
                   {{"nvapi_pepQueryInterface", AsExport(&PowerQueryInterface)}});
    EXPECT_EQ(LoadInterfaceModule(1, 0), NVAPI_LIBRARY_NOT_FOUND);

    // positive control: the same module in the system directory is loaded
    sim::AddModule(PowerModulePath(), {{"nvapi_pepQueryInterface", AsExport(&PowerQueryInterface)}});
    EXPECT_EQ(LoadInterfaceModule(1, 0), NVAPI_OK);
    EXPECT_TRUE(sim::IsLoaded(PowerModulePath()));
    EXPECT_FALSE(sim::IsLoaded(sim::CurrentDirectory() + u"\\nvpowerapi.dll"));
    EXPECT_FALSE(sim::IsLoaded(u"C:\\Tools\\nvpowerapi.dll"));
}
