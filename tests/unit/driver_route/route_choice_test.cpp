// Which requests the loader entry hands to the driver route: "nv" names without
// the system-directory flag, from build 14308 on, in any letter case.
#include "route_test_support.h"

#include "secure_load/loader.h"

#include <gtest/gtest.h>

namespace {

using namespace route_test;

struct ChoiceCase {
    const char* description;
    const char16_t* name;
    DWORD flags;
    DWORD platformBuild;  // what VerifyVersionInfoW answers for
    DWORD registryBuild;  // "CurrentBuildNumber"
    bool takesRoute;
    const char* load;     // the one load of the requested module
    const char16_t* loadedFrom;
};

void PrintTo(const ChoiceCase& row, std::ostream* out) { *out << row.description; }

class RouteChoice : public RouteScenarioTable<ChoiceCase> {};

// The driver names each module in its store; the system directory has a copy
// of each as well. Which one is loaded tells which route the request took.
TEST_P(RouteChoice, IsTakenOnlyForNvNamesWithoutTheSystemDirectoryFlagFromBuild14308)
{
    const ChoiceCase& row = GetParam();
    sim::SetVersion(10, 0, 0, row.platformBuild);
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey, u"CurrentBuildNumber",
                           sim::Widen(std::to_string(row.registryBuild)));
    AddDisplayAdapter();
    for (const char16_t* module : {u"nvapi64.dll", u"xnvapi.dll"}) {
        sim::AddModule(Store + u"\\" + module);
        sim::AddModule(sim::SystemDirectory() + u"\\" + module);
    }
    sim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, ClassKey, u"UserModeDriverName",
                                {Store + u"\\nvapi64.dll", Store + u"\\xnvapi.dll"});
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(row.name, row.flags);

    ASSERT_NE(module, nullptr);
    WCHAR path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    EXPECT_EQ(Lower(Text(path)), Lower(Text(row.loadedFrom)));
    EXPECT_EQ(LoadsOf("nvapi"), std::vector<std::string>{row.load});
    EXPECT_EQ(sim::CountCalls("SetupDiGetClassDevsW") > 0, row.takesRoute);
    EXPECT_EQ(Logged("RegOpenKeyExW " + Text(ClassKey) + " 0x1"), row.takesRoute);
    if (row.takesRoute)
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

const char16_t StoreNvapi[] = u"C:\\Windows\\System32\\DriverStore\\FileRepository\\display_1\\nvapi64.dll";
const char16_t SystemNvapi[] = u"C:\\Windows\\system32\\nvapi64.dll";
const char16_t SystemXnvapi[] = u"C:\\Windows\\system32\\xnvapi.dll";
#define STORE_LOAD "LoadLibraryExW C:\\Windows\\System32\\DriverStore\\FileRepository\\display_1\\nvapi64.dll 0x0"

INSTANTIATE_TEST_SUITE_P(
    Requests, RouteChoice,
    ::testing::Values(
        ChoiceCase{"nv name, no flags, current build", u"nvapi64.dll", 0, 19045, 19045, true,
                   STORE_LOAD, StoreNvapi},
        ChoiceCase{"capitals", u"NVAPI64.DLL", 0, 19045, 19045, true, STORE_LOAD, StoreNvapi},
        ChoiceCase{"search overrides are stripped from the full-path load", u"nVapi64.dll",
                   LOAD_WITH_ALTERED_SEARCH_PATH | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS, 19045, 19045,
                   true, STORE_LOAD, StoreNvapi},
        ChoiceCase{"exactly 14308, told by the registry", u"nvapi64.dll", 0, 9200, 14308, true,
                   STORE_LOAD, StoreNvapi},
        ChoiceCase{"system-directory flag", u"nvapi64.dll", LOAD_LIBRARY_SEARCH_SYSTEM32, 19045,
                   19045, false, "LoadLibraryExW nvapi64.dll 0x800", SystemNvapi},
        ChoiceCase{"build 14307", u"nvapi64.dll", 0, 9200, 14307, false,
                   "LoadLibraryExW nvapi64.dll 0x800", SystemNvapi},
        ChoiceCase{"nv not at the start", u"xnvapi.dll", 0, 19045, 19045, false,
                   "LoadLibraryExW xnvapi.dll 0x800", SystemXnvapi}));

}  // namespace
