// From what the search found to the load: the system directory prefixes, the
// driver store fallback, and every way a request on the driver route ends.
#include "route_test_support.h"

#include "driver_location/driver_module_search.h"
#include "secure_load/loader.h"

#include <gtest/gtest.h>

namespace {

using namespace route_test;

// ---- what a found path becomes

enum FoundBy { ServiceBinary, KhronosValueName };

struct PrefixCase {
    const char* description;
    FoundBy source;
    const char16_t* found;    // as the service configuration or the registry holds it
    const char16_t* request;
    const char* result;       // null: none
    DWORD code;
};

void PrintTo(const PrefixCase& row, std::ostream* out) { *out << row.description; }

class FoundPaths : public RouteScenarioTable<PrefixCase> {};

TEST_P(FoundPaths, GetTheSystemDirectoryForTheirPrefixOrStayAbsoluteOrGiveNothing)
{
    const PrefixCase& row = GetParam();
    int device = AddDisplayAdapter();
    if (row.source == ServiceBinary)
        SetDeviceService(device, u"nvx", row.found);
    else
        AddValueName(OpenClKey, row.found);
    SetDriverStoreByInf(device, Store);
    sim::AddModule(Store + u"\\nvx.dll");  // the fallback would find it: it must not run
    sim::ClearCallLog();

    SetLastError(0xdeadbeef);
    LPWSTR found = SearchDriverModule(row.request);
    EXPECT_EQ(Text(found), Text(row.found));
    LocalFree(found);

    SetLastError(0xdeadbeef);
    LPWSTR path = ResolveDriverModulePath(row.request);

    EXPECT_EQ(Text(path), row.result == nullptr ? "(null)" : row.result);
    EXPECT_EQ(GetLastError(), row.code);
    EXPECT_EQ(sim::CountCalls("SetupDiGetDevicePropertyW"), 0u) << "driver store probed";
    LocalFree(path);
}

INSTANTIATE_TEST_SUITE_P(
    Prefixes, FoundPaths,
    ::testing::Values(
        PrefixCase{"system32 prefix", ServiceBinary, u"system32\\drivers\\nvx.sys", u"nvx.sys",
                   "C:\\Windows\\system32\\drivers\\nvx.sys", ERROR_SUCCESS},
        PrefixCase{"SystemRoot prefix", ServiceBinary,
                   u"\\SystemRoot\\System32\\DriverStore\\FileRepository\\d\\nvx.sys", u"nvx.sys",
                   "C:\\Windows\\system32\\DriverStore\\FileRepository\\d\\nvx.sys", ERROR_SUCCESS},
        PrefixCase{"bare name", KhronosValueName, u"nvx.dll", u"nvx.dll",
                   "C:\\Windows\\system32\\nvx.dll", ERROR_SUCCESS},
        PrefixCase{"absolute path on another drive", KhronosValueName, u"D:\\Drivers\\nvx.dll",
                   u"nvx.dll", "D:\\Drivers\\nvx.dll", ERROR_SUCCESS},
        PrefixCase{"relative path without a known prefix", ServiceBinary, u"drivers\\nvx.sys",
                   u"nvx.sys", nullptr, ERROR_MOD_NOT_FOUND},
        PrefixCase{"system32 prefix in capitals", KhronosValueName, u"SYSTEM32\\nvx.dll", u"nvx.dll",
                   "C:\\Windows\\system32\\nvx.dll", ERROR_SUCCESS},
        PrefixCase{"SystemRoot prefix in capitals", ServiceBinary,
                   u"\\SYSTEMROOT\\SYSTEM32\\drivers\\nvx.sys", u"nvx.sys",
                   "C:\\Windows\\system32\\drivers\\nvx.sys", ERROR_SUCCESS},
        PrefixCase{"an NT object path counts as absolute and stays as it is", ServiceBinary,
                   u"\\??\\C:\\Windows\\System32\\drivers\\nvx.sys", u"nvx.sys",
                   "\\??\\C:\\Windows\\System32\\drivers\\nvx.sys", ERROR_SUCCESS}));

// ---- the driver store fallback

struct FallbackCase {
    const char* description;
    DWORD build;
    bool inStore;
    std::vector<std::string> nvxLoads;
    const char* loadedFrom;
};

void PrintTo(const FallbackCase& row, std::ostream* out) { *out << row.description; }

class DriverStoreFallback : public RouteScenarioTable<FallbackCase> {};

// Nothing found anywhere: the completed name is probed in the driver store,
// and only when it is missing there does the request go to the system directory.
TEST_P(DriverStoreFallback, LoadsTheStoreModuleByFullPathOrElseTheSystemModule)
{
    const FallbackCase& row = GetParam();
    SetBuild(row.build);
    int device = AddDisplayAdapter();
    SetDriverStoreByInf(device, Store);
    if (row.inStore)
        sim::AddModule(Store + u"\\nvx.dll");
    sim::AddModule(sim::SystemDirectory() + u"\\nvx.dll");
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(u"nvx", 0);

    EXPECT_EQ(LoadedPath(module), row.loadedFrom);
    EXPECT_EQ(LoadsOf("nvx"), row.nvxLoads);
    EXPECT_TRUE(Logged("GetFileAttributesW " + Text(Store) + "\\nvx.dll"));
    // The route's outcome stays beside a module of the system directory.
    EXPECT_EQ(GetLastError(),
              static_cast<DWORD>(row.inStore ? ERROR_SUCCESS : ERROR_MOD_NOT_FOUND));
}

#define STORE_NVX "C:\\Windows\\System32\\DriverStore\\FileRepository\\display_1\\nvx.dll"
#define STORE_NVX_W u"" STORE_NVX

INSTANTIATE_TEST_SUITE_P(
    Fallback, DriverStoreFallback,
    ::testing::Values(
        FallbackCase{"present", 19045, true, {"LoadLibraryExW " STORE_NVX " 0x0"}, STORE_NVX},
        FallbackCase{"present, below the directory probe's build", 16299, true,
                     {"LoadLibraryExW " STORE_NVX " 0x0"}, STORE_NVX},
        FallbackCase{"absent", 19045, false, {"LoadLibraryExW nvx 0x800"},
                     "C:\\Windows\\system32\\nvx.dll"},
        FallbackCase{"absent, below the directory probe's build", 16299, false,
                     {"LoadLibraryExW nvx 0x800"}, "C:\\Windows\\system32\\nvx.dll"}));

// Below build 14308 (never on the route, but ResolveDriverModulePath on its
// own) the fallback looks in the system directory.
TEST_F(RouteScenario, BelowBuild14308TheFallbackProbesTheSystemDirectory)
{
    SetBuild(10586);
    int device = AddDisplayAdapter();
    SetDriverStoreByInf(device, Store);
    sim::AddModule(Store + u"\\nvx.dll");
    sim::AddModule(sim::SystemDirectory() + u"\\nvx.dll");
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    LPWSTR path = ResolveDriverModulePath(u"nvx");

    EXPECT_EQ(Text(path), "C:\\Windows\\system32\\nvx.dll");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(sim::CountCalls("SetupDiGetDevicePropertyW"), 0u);
    LocalFree(path);
}

// ---- how a request on the route ends

struct OutcomeCase {
    const char* description;
    void (*scene)(int device);
    const char* loadedFrom;               // null: the request fails
    DWORD code;
    std::vector<std::string> nvxLoads;    // every load of the module, in order
};

void PrintTo(const OutcomeCase& row, std::ostream* out) { *out << row.description; }

class RouteOutcome : public RouteScenarioTable<OutcomeCase> {};

// The system directory always has a copy: whether it is loaded shows whether
// the route fell back.
TEST_P(RouteOutcome, EndsAsTheFailureTableSays)
{
    const OutcomeCase& row = GetParam();
    int device = AddDisplayAdapter();
    sim::AddModule(sim::SystemDirectory() + u"\\nvx.dll");
    row.scene(device);
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    HMODULE module = LoadModuleSecure(u"nvx.dll", 0);

    EXPECT_EQ(LoadedPath(module), row.loadedFrom == nullptr ? "(null)" : row.loadedFrom);
    EXPECT_EQ(GetLastError(), row.code);
    EXPECT_EQ(LoadsOf("nvx"), row.nvxLoads);
}

#define SYSTEM_NVX "C:\\Windows\\system32\\nvx.dll"
#define FALLBACK_LOAD "LoadLibraryExW nvx.dll 0x800"

INSTANTIATE_TEST_SUITE_P(
    FailureTable, RouteOutcome,
    ::testing::Values(
        OutcomeCase{"found and loaded",
                    [](int) {
                        SetClassValue(u"UserModeDriverName", STORE_NVX_W);
                        sim::AddModule(STORE_NVX_W);
                    },
                    STORE_NVX, ERROR_SUCCESS, {"LoadLibraryExW " STORE_NVX " 0x0"}},
        OutcomeCase{"found, the load fails: no fallback",
                    [](int) {
                        SetClassValue(u"UserModeDriverName", STORE_NVX_W);
                        sim::AddModule(STORE_NVX_W);
                        sim::SetLoadFailure(STORE_NVX_W, ERROR_ACCESS_DENIED);
                    },
                    nullptr, ERROR_ACCESS_DENIED, {"LoadLibraryExW " STORE_NVX " 0x0"}},
        OutcomeCase{"found, the file is missing: no fallback",
                    [](int) { SetClassValue(u"UserModeDriverName", STORE_NVX_W); },
                    nullptr, ERROR_MOD_NOT_FOUND, {"LoadLibraryExW " STORE_NVX " 0x0"}},
        OutcomeCase{"found outside the trusted folders: no load, no fallback",
                    [](int) {
                        SetClassValue(u"UserModeDriverName", u"D:\\Drivers\\nvx.dll");
                        sim::AddModule(u"D:\\Drivers\\nvx.dll");
                    },
                    nullptr, ERROR_BAD_PATHNAME, {}},
        OutcomeCase{"found under the Windows folder through a double dot: refused",
                    [](int) {
                        AddValueName(VulkanKey, u"C:\\Windows\\..\\Users\\nvx.dll");
                        sim::AddModule(u"C:\\Users\\nvx.dll");
                    },
                    nullptr, ERROR_BAD_PATHNAME, {}},
        OutcomeCase{"nothing found: system directory", [](int) {}, SYSTEM_NVX,
                    ERROR_MOD_NOT_FOUND, {FALLBACK_LOAD}},
        OutcomeCase{"found but unusable (relative, no known prefix): system directory",
                    [](int) { AddValueName(VulkanKey, u"drivers\\nvx.dll"); }, SYSTEM_NVX,
                    ERROR_MOD_NOT_FOUND, {FALLBACK_LOAD}},
        OutcomeCase{"store candidate missing: system directory",
                    [](int device) { SetDriverStoreByInf(device, Store); }, SYSTEM_NVX,
                    ERROR_MOD_NOT_FOUND, {FALLBACK_LOAD}},
        OutcomeCase{"store candidate is a directory: system directory",
                    [](int device) {
                        SetDriverStoreByInf(device, Store);
                        sim::AddDirectory(STORE_NVX_W);
                    },
                    SYSTEM_NVX, ERROR_MOD_NOT_FOUND, {FALLBACK_LOAD}},
        OutcomeCase{"store found: loaded from it",
                    [](int device) {
                        SetDriverStoreByInf(device, Store);
                        sim::AddModule(STORE_NVX_W);
                    },
                    STORE_NVX, ERROR_SUCCESS, {"LoadLibraryExW " STORE_NVX " 0x0"}},
        OutcomeCase{"store directory itself missing: ERROR_PATH_NOT_FOUND, no fallback",
                    [](int device) {
                        sim::SetDeviceDriverInfPath(device, InfName);
                        sim::SetInfDriverStoreLocation(
                            InfName, u"C:\\Windows\\System32\\DriverStore\\FileRepository\\gone\\" +
                                         InfName);
                    },
                    nullptr, ERROR_PATH_NOT_FOUND, {}},
        OutcomeCase{"a value of the wrong type: ERROR_INVALID_DATA, no fallback",
                    [](int) {
                        SetClassValue(u"UserModeDriverName", u"%SystemRoot%\\nvx.dll", REG_EXPAND_SZ);
                    },
                    nullptr, ERROR_INVALID_DATA, {}},
        OutcomeCase{"the display device lookup fails: its code, no fallback",
                    [](int) {
                        sim::FailDeviceCall("SetupDiGetClassDevsW", 1, ERROR_NOT_ENOUGH_MEMORY);
                    },
                    nullptr, ERROR_NOT_ENOUGH_MEMORY, {}},
        OutcomeCase{"the system directory is unknown once found: its code, no fallback",
                    [](int) {
                        AddValueName(VulkanKey, u"nvx.dll");
                        sim::SetSystemDirectoryFails(true);
                    },
                    nullptr, ERROR_PATH_NOT_FOUND, {}}));

}  // namespace

namespace {

using namespace route_test;

TEST_F(RouteScenario, NamesWithSeparatorsAreRefusedBeforeAnythingIsAsked)
{
    AddDisplayAdapter();
    const char16_t* names[] = {nullptr, u"sub\\nvx.dll", u"sub/nvx.dll", u"\\nvx.dll"};
    LPWSTR (*operations[])(LPCWSTR) = {SearchDriverModule, ResolveDriverModulePath};
    sim::ClearCallLog();
    for (auto operation : operations) {
        for (const char16_t* name : names) {
            SCOPED_TRACE(Text(name));
            SetLastError(0xdeadbeef);
            EXPECT_EQ(operation(name), nullptr);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
        }
    }
    EXPECT_EQ(sim::CallLog(), std::vector<std::string>{});
}

}  // namespace
