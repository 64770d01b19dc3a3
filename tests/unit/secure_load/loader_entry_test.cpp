// The loader entry: the separator test, the build test for every request, and
// the choice between the driver route and the system directory.
#include "loader_test_support.h"

#include "driver_location/driver_route.h"
#include "secure_load/loader.h"
#include "secure_load/loader_state.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

// ---- names with a path separator

class NameWithSeparator : public LoaderScenarioTable<const char16_t*> {};

TEST_P(NameWithSeparator, IsRejectedBeforeTheBuildTestAndAnyLoad)
{
    AddSystemModule(u"x.dll");
    SetLastError(0xdeadbeef);

    EXPECT_EQ(LoadModuleSecure(GetParam(), 0), nullptr);

    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
    EXPECT_EQ(GetLastError(), 160u);
    EXPECT_TRUE(sim::CallLog().empty()) << "first call: " << sim::CallLog().front();
    EXPECT_EQ(CachedOsLevel, 0u);
}

INSTANTIATE_TEST_SUITE_P(Names, NameWithSeparator,
                         ::testing::Values(u"sub\\x.dll", u"sub/x.dll", u"\\x.dll", u"x.dll/",
                                           u"nv\\x.dll", u"C:\\Windows\\system32\\x.dll"));

TEST_F(LoaderScenario, BareNameControlLoadsWhereSeparatorNamesAreRejected)
{
    AddSystemModule(u"x.dll");
    SetLastError(0xdeadbeef);

    EXPECT_NE(LoadModuleSecure(u"x.dll", 0), nullptr);

    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_TRUE(sim::IsLoaded(InSystemDirectory(u"x.dll")));
}

TEST_F(LoaderScenario, NullNameLoadsNothing)
{
    SetLastError(0xdeadbeef);

    EXPECT_EQ(LoadModuleSecure(nullptr, 0), nullptr);

    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW"), 0u);
}

TEST_F(LoaderScenario, EmptyNameRunsTheBuildTestAndFailsInTheSystemDirectoryLoad)
{
    SetLastError(0xdeadbeef);

    EXPECT_EQ(LoadModuleSecure(u"", 0), nullptr);

    EXPECT_NE(GetLastError(), 0u);
    EXPECT_EQ(sim::CountCalls("VerifyVersionInfoW 0x4 14308"), 1u);
    std::vector<std::string> expected = {DEPENDENCY_LOADS_BY_NAME, "LoadLibraryExW  0x800"};
    EXPECT_EQ(LoadCalls(), expected);
}

// ---- the build test runs for every request, before the flags are read

TEST_F(LoaderScenario, BuildTestRunsEvenWhenTheSystemDirectoryIsAskedFor)
{
    AddSystemModule(u"nvapi64.dll");

    EXPECT_NE(LoadModuleSecure(u"nvapi64.dll", LOAD_LIBRARY_SEARCH_SYSTEM32), nullptr);

    long buildTest = PositionInLog("VerifyVersionInfoW 0x4 14308");
    long load = PositionInLog("LoadLibraryExW nvapi64.dll 0x800");
    ASSERT_GE(buildTest, 0);
    ASSERT_GE(load, 0);
    EXPECT_LT(buildTest, load);
}

// One whole request of the tool on Windows 8 (the platform answers 9200, the
// registry says 14393): the build test loads Advapi32.dll through the system
// directory route, which decides the OS level and pins the dependencies, all
// before the requested module is loaded.
TEST_F(LoaderScenario, ToolRequestOnWindows8PinsAndReadsTheRegistryBeforeTheModuleLoads)
{
    RunOnWindows8(u"14393");
    AddSystemModule(u"nvapi64.dll");
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    EXPECT_NE(LoadModuleSecure(u"nvapi64.dll", LOAD_LIBRARY_SEARCH_SYSTEM32), nullptr);

    std::vector<std::string> expected = {
        "VerifyVersionInfoW 0x4 14308",
        "VerifyVersionInfoW 0x4 9200",
        "GetModuleFileNameA C:\\Tools\\edidload.exe",
        DEPENDENCY_LOADS_BY_NAME,
        "LoadLibraryExW Advapi32.dll 0x800",
        "GetProcAddress Advapi32.dll RegOpenKeyExW",
        "GetProcAddress Advapi32.dll RegCloseKey",
        "RegOpenKeyExW SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion 0x1",
        "GetProcAddress Advapi32.dll RegQueryValueExW",
        "RegQueryValueExW CurrentBuildNumber size",
        "RegQueryValueExW CurrentBuildNumber data",
        "RegCloseKey",
        "GetModuleFileNameA C:\\Tools\\edidload.exe",
        "LoadLibraryExW nvapi64.dll 0x800",
    };
    EXPECT_EQ(sim::CallLog(), expected);
    EXPECT_EQ(CachedBuildNumber, 14393u);
    EXPECT_EQ(CachedOsLevel, 9200u);
}

// The same on Windows 7: every library by its full path in the system
// directory, with flags 0.
TEST_F(LoaderScenario, ToolRequestOnWindows7LoadsEverythingByFullPath)
{
    RunOnWindows7();
    AddSystemModule(u"nvapi64.dll");
    sim::ClearCallLog();

    EXPECT_NE(LoadModuleSecure(u"nvapi64.dll", LOAD_LIBRARY_SEARCH_SYSTEM32), nullptr);

    std::vector<std::string> expected = {DEPENDENCY_LOADS_BY_PATH,
                                         "LoadLibraryExW C:\\Windows\\system32\\Advapi32.dll 0x0",
                                         "LoadLibraryExW C:\\Windows\\system32\\nvapi64.dll 0x0"};
    EXPECT_EQ(LoadCalls(), expected);
    EXPECT_EQ(CachedOsLevel, 7600u);
    EXPECT_EQ(CachedBuildNumber, 7601u);
    EXPECT_LT(PositionInLog("VerifyVersionInfoW 0x4 14308"),
              PositionInLog("LoadLibraryExW C:\\Windows\\system32\\msasn1.dll 0x0"));
}

// ---- the driver route

struct RouteCase {
    const char* description;
    const char16_t* name;
    DWORD flags;
    int build;               // platform build; the registry says the same
    const char16_t* registryBuild;
    bool takesDriverRoute;
    const char* systemLoad;  // the load of the requested module
};

void PrintTo(const RouteCase& row, std::ostream* out) { *out << row.description; }

class DriverRouteChoice : public LoaderScenarioTable<RouteCase> {};

// On a machine without the display device the route finds nothing and the
// request falls back to the system directory. The route's search always asks
// the device setup functions for the display device: that call shows it ran.
TEST_P(DriverRouteChoice, IsTakenOnlyForNvNamesWithoutTheSystemDirectoryFlagFromBuild14308)
{
    const RouteCase& row = GetParam();
    SCOPED_TRACE(row.description);
    sim::SetVersion(10, 0, 0, static_cast<DWORD>(row.build));
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                           u"CurrentBuildNumber", row.registryBuild);
    AddSystemModule(u"nvapi64.dll");
    AddSystemModule(u"xnvapi.dll");
    AddSystemModule(u"n.dll");
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(row.name, row.flags);

    EXPECT_NE(module, nullptr);
    EXPECT_EQ(sim::CountCalls("SetupDiGetClassDevsW") != 0, row.takesDriverRoute);
    std::vector<std::string> loads = LoadCalls();
    ASSERT_FALSE(loads.empty());
    EXPECT_EQ(loads.back(), row.systemLoad);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, DriverRouteChoice,
    ::testing::Values(
        RouteCase{"lower case", u"nvapi64.dll", 0, 19045, u"19045", true,
                  "LoadLibraryExW nvapi64.dll 0x800"},
        RouteCase{"upper case", u"NVAPI64.DLL", 0, 19045, u"19045", true,
                  "LoadLibraryExW NVAPI64.DLL 0x800"},
        RouteCase{"mixed case", u"nVapi64.dll", 0, 19045, u"19045", true,
                  "LoadLibraryExW nVapi64.dll 0x800"},
        RouteCase{"exactly 14308", u"nvapi64.dll", 0, 14308, u"14308", true,
                  "LoadLibraryExW nvapi64.dll 0x800"},
        RouteCase{"other flags, no system-directory flag", u"Nvapi64.dll",
                  LOAD_WITH_ALTERED_SEARCH_PATH, 19045, u"19045", true,
                  "LoadLibraryExW Nvapi64.dll 0x800"},
        RouteCase{"registry answers for an old platform", u"nvapi64.dll", 0, 9200, u"14393", true,
                  "LoadLibraryExW nvapi64.dll 0x800"},
        RouteCase{"system-directory flag", u"nvapi64.dll", LOAD_LIBRARY_SEARCH_SYSTEM32, 19045,
                  u"19045", false, "LoadLibraryExW nvapi64.dll 0x800"},
        RouteCase{"system-directory flag among others", u"NVAPI64.dll",
                  LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS, 19045, u"19045",
                  false, "LoadLibraryExW NVAPI64.dll 0x800"},
        RouteCase{"older build", u"nvapi64.dll", 0, 14307, u"14307", false,
                  "LoadLibraryExW nvapi64.dll 0x800"},
        RouteCase{"nv not at the start", u"xnvapi.dll", 0, 19045, u"19045", false,
                  "LoadLibraryExW xnvapi.dll 0x800"},
        RouteCase{"one character", u"n", 0, 19045, u"19045", false, "LoadLibraryExW n 0x800"}));

TEST_F(LoaderScenario, DriverRouteFindingNothingFallsBackToAMissingSystemModule)
{
    SetLastError(0xdeadbeef);

    EXPECT_EQ(LoadModuleSecure(u"nvapi64.dll", 0), nullptr);

    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    std::vector<std::string> loads = LoadCalls();
    ASSERT_FALSE(loads.empty());
    EXPECT_EQ(loads.back(), "LoadLibraryExW nvapi64.dll 0x800");
}

}  // namespace
