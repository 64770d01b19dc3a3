// The search's first step from build 17130 on: the requested name in the
// directory of the loaded user-mode driver, or in the adapter's driver store.
#include "route_test_support.h"

#include "driver_location/driver_module_search.h"
#include "secure_load/loader.h"

#include <gtest/gtest.h>

namespace {

using namespace route_test;

// Elsewhere the driver names another copy, and the system directory has one:
// neither is looked at once the probe has found the module.
void AddCopiesTheProbeMustWin()
{
    sim::AddModule(Store + u"\\nvx.dll");
    SetClassValue(u"UserModeDriverName", Store + u"\\nvx.dll");
    sim::AddModule(sim::SystemDirectory() + u"\\nvx.dll");
}

TEST_F(RouteScenario, LoadsTheModuleBesideTheLoadedUserModeDriverWithoutReadingTheRegistry)
{
    AddDisplayAdapter();
    LoadUserModeDriverFrom(OtherStore);
    sim::AddModule(OtherStore + u"\\nvx.dll");
    AddCopiesTheProbeMustWin();
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(u"nvx.dll", 0);

    EXPECT_EQ(LoadedPath(module), Text(OtherStore + u"\\nvx.dll"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(LoadsOf("nvx"),
              std::vector<std::string>{"LoadLibraryExW " + Text(OtherStore) + "\\nvx.dll 0x0"});
    EXPECT_EQ(sim::CountCalls("RegOpenKeyExW"), 0u);
    EXPECT_EQ(sim::CountCalls("RegQueryValueExW"), 0u);
    EXPECT_EQ(sim::CountCalls("SetupDi"), 0u);
}

TEST_F(RouteScenario, WithoutALoadedUserModeDriverProbesTheAdaptersDriverStore)
{
    AddDisplayAdapter();
    int adapter = sim::AddAdapter(7, 0x10DE);
    sim::SetAdapterDriverStorePath(adapter,
                                   u"\\SystemRoot\\System32\\DriverStore\\FileRepository\\display_2");
    sim::AddModule(OtherStore + u"\\nvx.dll");
    AddCopiesTheProbeMustWin();
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(u"nvx.dll", 0);

    const std::string expected = "C:\\Windows\\system32\\DriverStore\\FileRepository\\display_2\\nvx.dll";
    EXPECT_EQ(Lower(LoadedPath(module)), Lower(expected));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(LoadsOf("nvx"), std::vector<std::string>{"LoadLibraryExW " + expected + " 0x0"});
    EXPECT_EQ(sim::CountCalls("RegOpenKeyExW"), 0u);
}

struct NotAModuleCase {
    const char* description;
    DWORD attributes;
};

void PrintTo(const NotAModuleCase& row, std::ostream* out) { *out << row.description; }

class ProbeCandidateNotAFile : public RouteScenarioTable<NotAModuleCase> {};

TEST_P(ProbeCandidateNotAFile, IsPassedOverAndTheRegistryListsAreSearched)
{
    AddDisplayAdapter();
    LoadUserModeDriverFrom(OtherStore);
    sim::AddFile(OtherStore + u"\\nvx.dll", GetParam().attributes);
    sim::AddModule(Store + u"\\nvx.dll");
    SetClassValue(u"UserModeDriverName", Store + u"\\nvx.dll");
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(u"nvx.dll", 0);

    EXPECT_EQ(LoadedPath(module), Text(Store + u"\\nvx.dll"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(Logged("GetFileAttributesW " + Text(OtherStore) + "\\nvx.dll"));
    EXPECT_EQ(StepsTaken(), std::vector<std::string>{"values"});
    EXPECT_EQ(LoadsOf("nvx"),
              std::vector<std::string>{"LoadLibraryExW " + Text(Store) + "\\nvx.dll 0x0"});
}

INSTANTIATE_TEST_SUITE_P(
    Attributes, ProbeCandidateNotAFile,
    ::testing::Values(NotAModuleCase{"a directory", FILE_ATTRIBUTE_DIRECTORY},
                      NotAModuleCase{"a device", FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_ARCHIVE}));

TEST_F(RouteScenario, BelowBuild17130TheLoadedUserModeDriversDirectoryIsNotProbed)
{
    SetBuild(16299);
    AddDisplayAdapter();
    LoadUserModeDriverFrom(OtherStore);
    sim::AddModule(OtherStore + u"\\nvx.dll");
    sim::AddModule(Store + u"\\nvx.dll");
    SetClassValue(u"UserModeDriverName", Store + u"\\nvx.dll");
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(u"nvx.dll", 0);

    EXPECT_EQ(LoadedPath(module), Text(Store + u"\\nvx.dll"));
    EXPECT_EQ(sim::CountCalls("GetModuleHandleW"), 0u);
    EXPECT_EQ(sim::CountCalls("D3DKMT"), 0u);
    EXPECT_EQ(sim::CountCalls("GetFileAttributesW " + Text(OtherStore)), 0u);
}

// The probe takes the name as requested; the registry and the driver store
// fallback take it with ".dll".
TEST_F(RouteScenario, ANameWithoutExtensionIsProbedAsItIsAndLookedUpElsewhereWithDll)
{
    int device = AddDisplayAdapter();
    LoadUserModeDriverFrom(OtherStore);
    sim::AddModule(OtherStore + u"\\nvx.dll");  // not what the probe looks for
    SetDriverStoreByInf(device, Store);
    sim::AddModule(Store + u"\\nvx.dll");
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(u"nvx", 0);

    EXPECT_EQ(LoadedPath(module), Text(Store + u"\\nvx.dll"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(sim::CallsStartingWith("GetFileAttributesW "),
              (std::vector<std::string>{"GetFileAttributesW " + Text(OtherStore) + "\\nvx",
                                        "GetFileAttributesW " + Text(Store) + "\\nvx.dll"}));
    EXPECT_EQ(StepsTaken(), (std::vector<std::string>{"values", "khronos", "support"}));
    EXPECT_EQ(LoadsOf("nvx"),
              std::vector<std::string>{"LoadLibraryExW " + Text(Store) + "\\nvx.dll 0x0"});
}

struct CurrentDirectoryCase {
    const char* description;
    bool inSystemDirectory;  // nvx.dll in the system directory too
    bool loads;
    DWORD code;
};

void PrintTo(const CurrentDirectoryCase& row, std::ostream* out) { *out << row.description; }

class CurrentDirectoryPlant : public RouteScenarioTable<CurrentDirectoryCase> {};

// No loaded user-mode driver and no adapter answer: the probe's candidate is
// the bare name, which the attribute query finds in the current directory. The
// search ends there, and the name is put in the system directory: the planted
// file is never loaded, and nothing falls back after the failed load.
TEST_P(CurrentDirectoryPlant, IsNeverLoadedTheNameGoesToTheSystemDirectory)
{
    const CurrentDirectoryCase& row = GetParam();
    AddDisplayAdapter();
    sim::AddModule(sim::CurrentDirectory() + u"\\nvx.dll");
    sim::AddModule(Store + u"\\nvx.dll");
    SetClassValue(u"UserModeDriverName", Store + u"\\nvx.dll");
    if (row.inSystemDirectory)
        sim::AddModule(sim::SystemDirectory() + u"\\nvx.dll");
    sim::ClearCallLog();

    SetLastError(0xdeadbeef);
    LPWSTR path = ResolveDriverModulePath(u"nvx.dll");
    EXPECT_EQ(Text(path), Text(sim::SystemDirectory() + u"\\nvx.dll"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    LocalFree(path);
    EXPECT_TRUE(Logged("GetFileAttributesW nvx.dll"));
    EXPECT_EQ(sim::CountCalls("RegOpenKeyExW"), 0u);

    SetLastError(0xdeadbeef);
    HMODULE module = LoadModuleSecure(u"nvx.dll", 0);

    EXPECT_EQ(module != nullptr, row.loads);
    if (row.loads)
        EXPECT_EQ(LoadedPath(module), Text(sim::SystemDirectory() + u"\\nvx.dll"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(row.code));
    EXPECT_EQ(LoadsOf("nvx"), std::vector<std::string>{"LoadLibraryExW " +
                                                       Text(sim::SystemDirectory()) +
                                                       "\\nvx.dll 0x0"});
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW " + Text(sim::CurrentDirectory())), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Plants, CurrentDirectoryPlant,
    ::testing::Values(CurrentDirectoryCase{"the system directory has the module", true, true,
                                           ERROR_SUCCESS},
                      CurrentDirectoryCase{"the system directory lacks it: the load fails", false,
                                           false, ERROR_MOD_NOT_FOUND}));

}  // namespace
