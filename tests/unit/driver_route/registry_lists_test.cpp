// The search after the directory probe: device services, the module values
// under the driver's class key, the Khronos lists, the support modules; the
// order by extension, and how values and value names are read.
#include "route_test_support.h"

#include "driver_location/driver_module_search.h"
#include "secure_load/loader.h"

#include <gtest/gtest.h>

namespace {

using namespace route_test;

// ---- the order of the steps

struct OrderCase {
    const char16_t* name;
    std::vector<std::string> steps;
};

void PrintTo(const OrderCase& row, std::ostream* out) { *out << Text(row.name); }

class SearchOrder : public RouteScenarioTable<OrderCase> {};

// Nothing is found anywhere, so every step of the name's order runs, and the
// request ends in the system directory (which lacks the module too).
TEST_P(SearchOrder, FollowsTheExtensionOfTheCompletedName)
{
    const OrderCase& row = GetParam();
    AddDisplayAdapter();
    sim::AddRegistryKey(HKEY_LOCAL_MACHINE, VulkanKey);
    sim::AddRegistryKey(HKEY_LOCAL_MACHINE, OpenClKey);
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(row.name, 0);

    EXPECT_EQ(module, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(StepsTaken(), row.steps);
    EXPECT_EQ(sim::CallsStartingWith("LoadLibraryExW").back(),
              "LoadLibraryExW " + Text(row.name) + " 0x800");
}

INSTANTIATE_TEST_SUITE_P(
    Extensions, SearchOrder,
    ::testing::Values(
        OrderCase{u"nvx.dll", {"values", "khronos", "support"}},
        OrderCase{u"NVX.DLL", {"values", "khronos", "support"}},
        OrderCase{u"nvx", {"values", "khronos", "support"}},
        OrderCase{u"nvx.sys", {"services", "support"}},
        OrderCase{u"nvx.SyS", {"services", "support"}},
        OrderCase{u"nvx.exe", {"services", "values", "khronos", "support"}},
        OrderCase{u"nvx.", {"services", "values", "khronos", "support"}}));

TEST_F(RouteScenario, ASysModuleFoundAmongTheDeviceServicesEndsTheSearch)
{
    int device = AddDisplayAdapter();
    SetDeviceService(device, u"nvx", u"\\SystemRoot\\System32\\drivers\\nvx.sys");
    sim::AddModule(sim::SystemDirectory() + u"\\drivers\\nvx.sys");
    SetClassValue(u"DriverSupportModules", Store + u"\\nvx.sys");
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(u"nvx.sys", 0);

    EXPECT_EQ(LoadedPath(module), Text(sim::SystemDirectory() + u"\\drivers\\nvx.sys"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(StepsTaken(), std::vector<std::string>{"services"});
}

TEST_F(RouteScenario, ASysModuleNotAmongTheServicesIsTakenFromTheSupportModules)
{
    int device = AddDisplayAdapter();
    SetDeviceService(device, u"nvlddmkm", u"\\SystemRoot\\System32\\drivers\\nvlddmkm.sys");
    SetClassValue(u"UserModeDriverName", OtherStore + u"\\nvx.sys");
    sim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, ClassKey, u"DriverSupportModules",
                                {Store + u"\\nva.sys", Store + u"\\nvx.sys"});
    sim::AddModule(Store + u"\\nvx.sys");
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(u"nvx.sys", 0);

    EXPECT_EQ(LoadedPath(module), Text(Store + u"\\nvx.sys"));
    EXPECT_EQ(StepsTaken(), (std::vector<std::string>{"services", "support"}));
    EXPECT_FALSE(Logged("RegQueryValueExW UserModeDriverName size"));
}

// ---- values under the class key

TEST_F(RouteScenario, AStringListValueIsMatchedOnItsSecondString)
{
    AddDisplayAdapter();
    sim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, ClassKey, u"UserModeDriverName",
                                {u"C:\\Program Files\\S\\nva.dll", u"C:\\Program Files\\S\\nvb.dll"});
    sim::AddModule(u"C:\\Program Files\\S\\nva.dll");
    sim::AddModule(u"C:\\Program Files\\S\\nvb.dll");
    sim::ClearCallLog();

    SetLastError(0xdeadbeef);
    LPWSTR found = SearchDriverModule(u"nvb");
    EXPECT_EQ(Text(found), "C:\\Program Files\\S\\nvb.dll");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    LocalFree(found);

    SetLastError(0xdeadbeef);
    HMODULE module = LoadModuleSecure(u"nvb", 0);
    EXPECT_EQ(LoadedPath(module), "C:\\Program Files\\S\\nvb.dll");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(Logged("RegQueryValueExW OpenGLDriverName size"));
}

// The bare name matches and ends the walk of the values, but is no usable path:
// the search goes on with the Khronos lists.
TEST_F(RouteScenario, ABareNameInAValueIsDroppedAndTheKhronosListsAreSearched)
{
    AddDisplayAdapter();
    SetClassValue(u"UserModeDriverName", u"nvb.dll");
    SetClassValue(u"OpenGLDriverName", OtherStore + u"\\nvb.dll");
    SetClassValue(u"UserModeDListDriverName", OtherStore + u"\\nvb.dll");
    sim::AddModule(OtherStore + u"\\nvb.dll");
    AddValueName(OpenClKey, Store + u"\\nvb.dll");
    sim::AddModule(Store + u"\\nvb.dll");
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(u"nvb.dll", 0);

    EXPECT_EQ(LoadedPath(module), Text(Store + u"\\nvb.dll"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(Logged("RegQueryValueExW UserModeDriverName data"));
    EXPECT_EQ(sim::CountCalls("RegQueryValueExW OpenGLDriverName"), 0u);
    EXPECT_EQ(sim::CountCalls("RegQueryValueExW UserModeDListDriverName"), 0u);
    EXPECT_EQ(StepsTaken(), (std::vector<std::string>{"values", "khronos"}));
}

struct ValueTypeCase {
    const char* description;
    void (*setValues)();
    const char16_t* loadedFrom;  // null: the request fails
    DWORD code;
};

void PrintTo(const ValueTypeCase& row, std::ostream* out) { *out << row.description; }

class ValueTypes : public RouteScenarioTable<ValueTypeCase> {};

// A value of a type other than REG_SZ or REG_MULTI_SZ leaves ERROR_INVALID_DATA:
// unless a later value of the list matches, the search ends with it and the
// request fails without falling back to the system directory's copy.
TEST_P(ValueTypes, AValueOfAnotherTypeFailsTheRequestUnlessALaterValueMatches)
{
    const ValueTypeCase& row = GetParam();
    AddDisplayAdapter();
    sim::AddModule(sim::SystemDirectory() + u"\\nvx.dll");
    sim::AddModule(Store + u"\\nvx.dll");
    AddValueName(VulkanKey, Store + u"\\nvx.dll");  // would be found next
    row.setValues();
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(u"nvx.dll", 0);

    EXPECT_EQ(GetLastError(), row.code);
    if (row.loadedFrom == nullptr) {
        EXPECT_EQ(module, nullptr);
        EXPECT_EQ(LoadsOf("nvx"), std::vector<std::string>{});
        EXPECT_EQ(StepsTaken(), std::vector<std::string>{"values"});
    } else {
        EXPECT_EQ(LoadedPath(module), Text(row.loadedFrom));
        EXPECT_EQ(LoadsOf("nvx"),
                  std::vector<std::string>{"LoadLibraryExW " + Text(row.loadedFrom) + " 0x0"});
    }
}

const char16_t StoreNvx[] = u"C:\\Windows\\System32\\DriverStore\\FileRepository\\display_1\\nvx.dll";

INSTANTIATE_TEST_SUITE_P(
    Values, ValueTypes,
    ::testing::Values(
        ValueTypeCase{"REG_EXPAND_SZ",
                      [] {
                          SetClassValue(u"UserModeDriverName", u"C:\\Windows\\System32\\other.dll");
                          SetClassValue(u"OpenGLDriverName", u"%SystemRoot%\\System32\\nvx.dll",
                                        REG_EXPAND_SZ);
                      },
                      nullptr, ERROR_INVALID_DATA},
        ValueTypeCase{"REG_EXPAND_SZ, then a match in UserModeDListDriverName",
                      [] {
                          SetClassValue(u"OpenGLDriverName", u"%SystemRoot%\\System32\\nvx.dll",
                                        REG_EXPAND_SZ);
                          SetClassValue(u"UserModeDListDriverName", StoreNvx);
                      },
                      StoreNvx, ERROR_SUCCESS},
        ValueTypeCase{"a string value without data",
                      [] {
                          sim::SetRegistryValue(HKEY_LOCAL_MACHINE, ClassKey, u"UserModeDriverName",
                                                REG_SZ, "", 0);
                      },
                      nullptr, ERROR_INVALID_DATA},
        ValueTypeCase{"REG_BINARY",
                      [] {
                          sim::SetRegistryValue(HKEY_LOCAL_MACHINE, ClassKey,
                                                u"UserModeDListDriverName", REG_BINARY, "nvx", 3);
                      },
                      nullptr, ERROR_INVALID_DATA}));

TEST_F(RouteScenario, RegistryValueLookupSetsNoCodeForAMissingKeyOrValue)
{
    sim::AddRegistryKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Empty");
    const char16_t* keys[] = {u"SOFTWARE\\Missing", u"SOFTWARE\\Empty"};
    for (const char16_t* key : keys) {
        SCOPED_TRACE(Text(key));
        SetLastError(0xdeadbeef);
        EXPECT_EQ(FindModuleInRegistryValues(u"nvx.dll", HKEY_LOCAL_MACHINE, key,
                                             DriverModuleValueNames),
                  nullptr);
        EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    }
    EXPECT_TRUE(Logged("RegOpenKeyExW SOFTWARE\\Empty 0x1"));
}

TEST_F(RouteScenario, RegistryValueLookupNeverClearsTheCodeAndDropsARelativeMatchSilently)
{
    SetClassValue(u"UserModeDriverName", StoreNvx);
    SetClassValue(u"DriverSupportModules", u"drivers\\nvx.dll");

    SetLastError(0xdeadbeef);
    LPWSTR found = FindModuleInRegistryValues(u"nvx.dll", HKEY_LOCAL_MACHINE, ClassKey.c_str(),
                                              DriverModuleValueNames);
    EXPECT_EQ(Text(found), Text(StoreNvx));
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    LocalFree(found);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(FindModuleInRegistryValues(u"nvx.dll", HKEY_LOCAL_MACHINE, ClassKey.c_str(),
                                         SupportModuleValueNames),
              nullptr);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
}

// ---- value names of the Khronos lists

TEST_F(RouteScenario, AValueNameUnderTheOpenClVendorsKeyIsTheResultAsTheRegistryHoldsIt)
{
    AddDisplayAdapter();
    SetClassValue(u"UserModeDriverName", Store + u"\\nvother.dll");
    AddValueName(VulkanKey, u"C:\\V\\nvvulkan.dll");
    AddValueName(OpenClKey, u"C:\\V\\other.dll");
    AddValueName(OpenClKey, u"C:\\V\\nvx.dll");
    sim::AddModule(u"C:\\V\\nvx.dll");
    sim::AddModule(sim::SystemDirectory() + u"\\nvx.dll");
    sim::ClearCallLog();

    SetLastError(0xdeadbeef);
    LPWSTR found = SearchDriverModule(u"nvx.dll");
    EXPECT_EQ(Text(found), "C:\\V\\nvx.dll");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    LocalFree(found);

    // Found, but outside the trusted folders: the request fails and does not
    // fall back to the system directory.
    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadModuleSecure(u"nvx.dll", 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_PATHNAME));
    EXPECT_EQ(LoadsOf("nvx"), std::vector<std::string>{});
}

TEST_F(RouteScenario, TheVulkanListIsSearchedBeforeTheOpenClList)
{
    AddDisplayAdapter();
    AddValueName(OpenClKey, Store + u"\\nvx.dll");
    AddValueName(VulkanKey, OtherStore + u"\\nvx.dll");
    sim::AddModule(Store + u"\\nvx.dll");
    sim::AddModule(OtherStore + u"\\nvx.dll");
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(u"nvx.dll", 0);

    EXPECT_EQ(LoadedPath(module), Text(OtherStore + u"\\nvx.dll"));
    EXPECT_FALSE(Logged("RegOpenKeyExW " + Text(OpenClKey) + " 0x20019"));
}

// ---- the bound on failing enumerations

struct EnumerationCase {
    const char* description;
    std::vector<DWORD> failures;  // status of index i, 0 for none
    size_t matchIndex;            // the matching value name's index
    bool found;
};

void PrintTo(const EnumerationCase& row, std::ostream* out) { *out << row.description; }

class EnumerationFailures : public RouteScenarioTable<EnumerationCase> {};

std::vector<DWORD> Repeat(DWORD status, size_t count) { return std::vector<DWORD>(count, status); }

std::vector<DWORD> Alternating(DWORD a, DWORD b, size_t count)
{
    std::vector<DWORD> statuses;
    for (size_t i = 0; i < count; ++i)
        statuses.push_back(i % 2 == 0 ? a : b);
    return statuses;
}

// The walk of a key stops after VALUE_ENUMERATION_FAILURE_LIMIT consecutive
// failures with one status; a success or another status starts the count anew.
TEST_P(EnumerationFailures, AreToleratedUpToTheBoundOfIdenticalFailuresInARow)
{
    const EnumerationCase& row = GetParam();
    for (size_t i = 0; i < row.matchIndex; ++i)
        AddValueName(VulkanKey, sim::Widen("C:\\V\\value" + std::to_string(i) + ".dll"));
    AddValueName(VulkanKey, u"C:\\V\\nvx.dll");
    for (size_t i = 0; i < row.failures.size(); ++i)
        if (row.failures[i] != 0)
            sim::SetEnumValueFailureAt(HKEY_LOCAL_MACHINE, VulkanKey, static_cast<DWORD>(i),
                                       row.failures[i]);
    const WCHAR* keys[] = {VulkanKey.c_str(), nullptr};
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    LPWSTR found = FindModuleInRegistryValueNames(u"nvx.dll", HKEY_LOCAL_MACHINE, keys);

    EXPECT_EQ(Text(found), row.found ? "C:\\V\\nvx.dll" : "(null)");
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    size_t calls = row.found ? row.matchIndex + 1 : VALUE_ENUMERATION_FAILURE_LIMIT;
    EXPECT_EQ(sim::CountCalls("RegEnumValueW"), calls);
    LocalFree(found);
}

INSTANTIATE_TEST_SUITE_P(
    Bound, EnumerationFailures,
    ::testing::Values(
        EnumerationCase{"15 identical failures, then the match", Repeat(KeyDeleted, 15), 15, true},
        EnumerationCase{"16 identical failures end the walk", Repeat(KeyDeleted, 16), 16, false},
        EnumerationCase{"two statuses in turn, 40 failures", Alternating(ERROR_MORE_DATA, KeyDeleted, 40),
                        40, true},
        EnumerationCase{"a success between two runs of 15",
                        [] {
                            std::vector<DWORD> s = Repeat(ERROR_MORE_DATA, 31);
                            s[15] = 0;
                            return s;
                        }(),
                        31, true}));

// A key deleted during the walk fails every index: its walk ends, and the next
// list is searched.
TEST_F(RouteScenario, AKeyWhoseEnumerationAlwaysFailsIsGivenUpAndTheNextListSearched)
{
    AddDisplayAdapter();
    AddValueName(VulkanKey, u"C:\\V\\nvvulkan.dll");
    sim::SetEnumValueFailure(HKEY_LOCAL_MACHINE, VulkanKey, KeyDeleted);
    AddValueName(OpenClKey, Store + u"\\nvx.dll");
    sim::AddModule(Store + u"\\nvx.dll");
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(u"nvx.dll", 0);

    EXPECT_EQ(LoadedPath(module), Text(Store + u"\\nvx.dll"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    // Vulkan: 16 failing indexes; OpenCL: index 0 matches.
    EXPECT_EQ(sim::CountCalls("RegEnumValueW"),
              static_cast<size_t>(VALUE_ENUMERATION_FAILURE_LIMIT) + 1);
}

TEST_F(RouteScenario, ValueNameLookupOpensEachListKeyForReadingAndSetsNoCode)
{
    AddValueName(OpenClKey, u"C:\\V\\other.dll");
    SetLastError(0xdeadbeef);

    EXPECT_EQ(FindModuleInRegistryValueNames(u"nvx.dll", HKEY_LOCAL_MACHINE, KhronosDriverListKeys),
              nullptr);

    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    EXPECT_EQ(sim::CallsStartingWith("RegOpenKeyExW"),
              (std::vector<std::string>{"RegOpenKeyExW " + Text(VulkanKey) + " 0x20019",
                                        "RegOpenKeyExW " + Text(OpenClKey) + " 0x20019"}));
    EXPECT_EQ(sim::CallsStartingWith("RegEnumValueW"),
              (std::vector<std::string>{"RegEnumValueW 0", "RegEnumValueW 1"}));
}

}  // namespace

namespace {

using namespace route_test;

// A code left by the service lookup ends the search: the support modules that
// name the module are not read, and the request fails without falling back.
TEST_F(RouteScenario, ACodeLeftByTheServiceLookupEndsTheSearchWithoutFallback)
{
    AddDisplayAdapter();
    SetClassValue(u"DriverSupportModules", Store + u"\\nvx.sys");
    sim::AddModule(Store + u"\\nvx.sys");
    sim::AddModule(sim::SystemDirectory() + u"\\nvx.sys");
    // The first enumeration serves the driver key, the second the service lookup.
    sim::FailDeviceCall("SetupDiGetClassDevsW", 2, ERROR_NOT_ENOUGH_MEMORY);
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    EXPECT_EQ(LoadModuleSecure(u"nvx.sys", 0), nullptr);

    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(sim::CountCalls("SetupDiGetClassDevsW"), 2u);
    EXPECT_EQ(sim::CountCalls("RegQueryValueExW DriverSupportModules"), 0u);
    EXPECT_EQ(LoadsOf("nvx"), std::vector<std::string>{});
}

}  // namespace

namespace {

using namespace route_test;

TEST_F(RouteScenario, TheFirstMatchingStringOfAListWins)
{
    sim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, ClassKey, u"DriverSupportModules",
                                {u"C:\\Windows\\S\\nva.dll", OtherStore + u"\\nvx.dll",
                                 Store + u"\\nvx.dll"});
    SetLastError(0xdeadbeef);

    LPWSTR found = FindModuleInRegistryValues(u"nvx.dll", HKEY_LOCAL_MACHINE, ClassKey.c_str(),
                                              SupportModuleValueNames);

    EXPECT_EQ(Text(found), Text(OtherStore + u"\\nvx.dll"));
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    LocalFree(found);
}

}  // namespace
