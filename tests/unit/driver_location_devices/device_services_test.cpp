// The kernel driver files of the display adapter's service and filter drivers.
#include "devices_test_support.h"

#include "driver_location/display_device.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

using namespace devices_test;

namespace {

const sim::Path StorePath = u"\\SystemRoot\\System32\\DriverStore\\FileRepository\\display_1\\";
const sim::Path Advapi32 = u"C:\\Windows\\system32\\Advapi32.dll";

// ---- one service

struct ServiceCase {
    const char* name;
    DWORD type;
    sim::Path binaryPath;
    sim::Path moduleName;
    bool accepted;
};

std::ostream& operator<<(std::ostream& out, const ServiceCase& c) { return out << c.name; }

class Services : public DevicesScenario, public ::testing::WithParamInterface<ServiceCase> {};

TEST_P(Services, OnlyAKernelDriverWhoseFileIsTheModuleIsAccepted)
{
    const ServiceCase& c = GetParam();
    sim::AddService(u"nvx", c.type, c.binaryPath);

    SetLastError(0xdeadbeef);
    LPWSTR path = GetServiceBinaryIfNamed(c.moduleName.c_str(), u"nvx");
    EXPECT_EQ(Text(path), c.accepted ? Text(c.binaryPath) : "(null)");
    // Neither set nor cleared: what the configuration's size query left.
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(sim::CallsStartingWith("CloseServiceHandle"),
              (std::vector<std::string>{"CloseServiceHandle nvx", "CloseServiceHandle manager"}));
    LocalFree(path);
}

INSTANTIATE_TEST_SUITE_P(
    Configurations, Services,
    ::testing::Values(
        ServiceCase{"KernelDriver", SERVICE_KERNEL_DRIVER, StorePath + u"nvx.sys", u"nvx.sys", true},
        ServiceCase{"FileInAnotherLetterCase", SERVICE_KERNEL_DRIVER, u"System32\\drivers\\NVX.SYS",
                    u"nvx.sys", true},
        ServiceCase{"ModuleWithoutExtensionAndSysFile", SERVICE_KERNEL_DRIVER,
                    u"System32\\drivers\\nvx.sys", u"nvx", false},
        ServiceCase{"ModuleWithoutExtensionAndDllFile", SERVICE_KERNEL_DRIVER,
                    u"System32\\drivers\\nvx.dll", u"nvx", true},
        ServiceCase{"ModuleWithoutExtensionAndFileWithout", SERVICE_KERNEL_DRIVER,
                    u"System32\\drivers\\nvx", u"nvx", true},
        ServiceCase{"AnotherFile", SERVICE_KERNEL_DRIVER, StorePath + u"nvy.sys", u"nvx.sys", false},
        ServiceCase{"OwnProcessService", SERVICE_WIN32_OWN_PROCESS, StorePath + u"nvx.sys",
                    u"nvx.sys", false},
        ServiceCase{"FileSystemDriver", SERVICE_FILE_SYSTEM_DRIVER, StorePath + u"nvx.sys",
                    u"nvx.sys", false},
        ServiceCase{"KernelDriverBitAmongOthers", SERVICE_KERNEL_DRIVER | SERVICE_WIN32_OWN_PROCESS,
                    StorePath + u"nvx.sys", u"nvx.sys", false}),
    [](const ::testing::TestParamInfo<ServiceCase>& info) { return std::string(info.param.name); });

TEST_F(DevicesScenario, ServiceCallsAskForReadAccessOnly)
{
    sim::AddService(u"nvx", SERVICE_KERNEL_DRIVER, StorePath + u"nvx.sys");

    LPWSTR path = GetServiceBinaryIfNamed(u"nvx.sys", u"nvx");
    LocalFree(path);
    EXPECT_EQ(sim::CallsStartingWith("OpenS"),
              (std::vector<std::string>{"OpenSCManagerW 0x80000000", "OpenServiceW nvx 0x80000000"}));
    EXPECT_EQ(sim::CallsStartingWith("GetProcAddress Advapi32.dll"),
              (std::vector<std::string>{"GetProcAddress Advapi32.dll OpenSCManagerW",
                                        "GetProcAddress Advapi32.dll OpenServiceW",
                                        "GetProcAddress Advapi32.dll QueryServiceConfigW",
                                        "GetProcAddress Advapi32.dll CloseServiceHandle"}));
}

TEST_F(DevicesScenario, MissingServiceFunctionStopsBeforeTheManagerIsOpened)
{
    sim::AddService(u"nvx", SERVICE_KERNEL_DRIVER, StorePath + u"nvx.sys");
    sim::RemoveExport(Advapi32, "CloseServiceHandle");

    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetServiceBinaryIfNamed(u"nvx.sys", u"nvx"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(sim::CountCalls("OpenSCManagerW"), 0u);
}

struct ServiceFailureCase {
    const char* name;
    sim::Path serviceName;
    std::function<void()> arrange;
    DWORD code;                     // left by the failing call
    std::vector<std::string> closed;  // CloseServiceHandle calls, in order
};

std::ostream& operator<<(std::ostream& out, const ServiceFailureCase& c) { return out << c.name; }

class ServiceFailures : public DevicesScenario,
                        public ::testing::WithParamInterface<ServiceFailureCase> {};

TEST_P(ServiceFailures, GiveNullAndCloseWhatWasOpened)
{
    const ServiceFailureCase& c = GetParam();
    sim::AddService(u"nvx", SERVICE_KERNEL_DRIVER, StorePath + u"nvx.sys");
    c.arrange();

    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetServiceBinaryIfNamed(u"nvx.sys", c.serviceName.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), c.code);
    EXPECT_EQ(sim::CallsStartingWith("CloseServiceHandle"), c.closed);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, ServiceFailures,
    ::testing::Values(
        ServiceFailureCase{"ManagerCannotBeOpened", u"nvx",
                           [] { sim::SetServiceManagerFailure(ERROR_ACCESS_DENIED); },
                           ERROR_ACCESS_DENIED, {}},
        ServiceFailureCase{"ServiceCannotBeOpened", u"nvx",
                           [] { sim::SetServiceOpenFailure(u"nvx", ERROR_ACCESS_DENIED); },
                           ERROR_ACCESS_DENIED, {"CloseServiceHandle manager"}},
        ServiceFailureCase{"UnknownService", u"missing", [] {},
                           ERROR_SERVICE_DOES_NOT_EXIST, {"CloseServiceHandle manager"}},
        ServiceFailureCase{"SizeQueryReportsNothing", u"nvx",
                           [] { sim::FailDeviceCall("QueryServiceConfigW", 1, ERROR_INVALID_HANDLE); },
                           ERROR_INVALID_HANDLE,
                           {"CloseServiceHandle nvx", "CloseServiceHandle manager"}},
        ServiceFailureCase{"ConfigurationReadFails", u"nvx",
                           [] { sim::FailDeviceCall("QueryServiceConfigW", 2, ERROR_INVALID_HANDLE); },
                           ERROR_INVALID_HANDLE,
                           {"CloseServiceHandle nvx", "CloseServiceHandle manager"}}),
    [](const ::testing::TestParamInfo<ServiceFailureCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(DevicesScenario, ServiceLookupFreesEverythingWhenAnyAllocationFails)
{
    sim::AddService(u"nvx", SERVICE_KERNEL_DRIVER, StorePath + u"nvx.sys");
    LPWSTR path = nullptr;

    size_t reached = ForEveryAllocation(
        [&] { path = GetServiceBinaryIfNamed(u"nvx.sys", u"nvx"); },
        [&](size_t n) {
            SCOPED_TRACE(n);
            EXPECT_EQ(Text(path), n == 0 ? Text(StorePath + u"nvx.sys") : "(null)");
            LocalFree(path);
            ExpectNothingLeft();
        });
    EXPECT_EQ(reached, 2u);  // the configuration, the copy of its path
}

// ---- the adapter's service and filters

// The display adapter with its function driver service "nvx".
int AddAdapterWithService(DWORD serviceType, const sim::Path& serviceFile)
{
    int device = AddDisplayAdapterDevice();
    sim::SetDeviceString(device, SPDRP_SERVICE, u"nvx");
    sim::AddService(u"nvx", serviceType, serviceFile);
    return device;
}

TEST_F(DevicesScenario, FunctionDriverServiceFileIsReturnedAsStored)
{
    AddAdapterWithService(SERVICE_KERNEL_DRIVER, StorePath + u"NVX.SYS");

    SetLastError(0xdeadbeef);
    LPWSTR path = FindDeviceServiceModule(u"nvx.sys", 0);
    EXPECT_EQ(Text(path), Text(StorePath + u"NVX.SYS"));
    // Left by the platform: the set's destruction succeeded last.
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(sim::CountCalls("SetupDiGetDeviceRegistryPropertyW 17"), 0u);
    LocalFree(path);
}

TEST_F(DevicesScenario, ServiceRunningAsAProcessSendsTheSearchToTheFilters)
{
    int device = AddAdapterWithService(SERVICE_WIN32_OWN_PROCESS, StorePath + u"nvx.sys");
    sim::SetDeviceMultiString(device, SPDRP_UPPERFILTERS, {u"f1", u"f2"});
    sim::SetDeviceMultiString(device, SPDRP_LOWERFILTERS, {u"f3"});
    sim::AddService(u"f1", SERVICE_KERNEL_DRIVER, u"System32\\drivers\\f1.sys");
    sim::AddService(u"f2", SERVICE_KERNEL_DRIVER, u"System32\\drivers\\nvx.sys");
    sim::AddService(u"f3", SERVICE_KERNEL_DRIVER, u"System32\\drivers\\lower\\nvx.sys");

    LPWSTR path = FindDeviceServiceModule(u"nvx.sys", 0);
    EXPECT_EQ(Text(path), "System32\\drivers\\nvx.sys");
    EXPECT_EQ(sim::CallsStartingWith("OpenServiceW"),
              (std::vector<std::string>{"OpenServiceW nvx 0x80000000", "OpenServiceW f1 0x80000000",
                                        "OpenServiceW f2 0x80000000"}));
    EXPECT_EQ(sim::CountCalls("SetupDiGetDeviceRegistryPropertyW 18"), 0u);
    LocalFree(path);
}

TEST_F(DevicesScenario, LowerFiltersAreTriedAfterUpperFilters)
{
    int device = AddAdapterWithService(SERVICE_KERNEL_DRIVER, StorePath + u"other.sys");
    sim::SetDeviceMultiString(device, SPDRP_UPPERFILTERS, {u"f1"});
    sim::SetDeviceMultiString(device, SPDRP_LOWERFILTERS, {u"f3"});
    sim::AddService(u"f1", SERVICE_KERNEL_DRIVER, u"System32\\drivers\\f1.sys");
    sim::AddService(u"f3", SERVICE_KERNEL_DRIVER, u"System32\\drivers\\lower\\nvx.sys");

    LPWSTR path = FindDeviceServiceModule(u"nvx.sys", 0);
    EXPECT_EQ(Text(path), "System32\\drivers\\lower\\nvx.sys");
    EXPECT_EQ(sim::CallsStartingWith("SetupDiGetDeviceRegistryPropertyW 1"),
              (std::vector<std::string>{"SetupDiGetDeviceRegistryPropertyW 17 size",
                                        "SetupDiGetDeviceRegistryPropertyW 17 data",
                                        "SetupDiGetDeviceRegistryPropertyW 18 size",
                                        "SetupDiGetDeviceRegistryPropertyW 18 data"}));
    LocalFree(path);
}

TEST_F(DevicesScenario, NothingFoundAnywhereGivesNull)
{
    int device = AddAdapterWithService(SERVICE_KERNEL_DRIVER, StorePath + u"other.sys");
    sim::SetDeviceMultiString(device, SPDRP_UPPERFILTERS, {u"f1"});
    sim::AddService(u"f1", SERVICE_KERNEL_DRIVER, u"System32\\drivers\\f1.sys");

    EXPECT_EQ(FindDeviceServiceModule(u"nvx.sys", 0), nullptr);
    EXPECT_EQ(sim::CountCalls("SetupDiGetDeviceRegistryPropertyW 18 size"), 1u);
    EXPECT_EQ(sim::CountCalls("SetupDiDestroyDeviceInfoList"), 1u);
}

struct PropertyTypeCase {
    const char* name;
    DWORD type;
    bool serviceUsed;
};

std::ostream& operator<<(std::ostream& out, const PropertyTypeCase& c) { return out << c.name; }

class ServicePropertyTypes : public DevicesScenario,
                             public ::testing::WithParamInterface<PropertyTypeCase> {};

TEST_P(ServicePropertyTypes, OnlyStringsAndStringListsNameServices)
{
    const PropertyTypeCase& c = GetParam();
    int device = AddAdapterWithService(SERVICE_KERNEL_DRIVER, StorePath + u"nvx.sys");
    sim::SetDeviceMultiString(device, SPDRP_SERVICE, {u"nvx"}, c.type);
    sim::SetDeviceMultiString(device, SPDRP_UPPERFILTERS, {u"f1"});
    sim::AddService(u"f1", SERVICE_KERNEL_DRIVER, u"System32\\drivers\\filter\\nvx.sys");

    LPWSTR path = FindDeviceServiceModule(u"nvx.sys", 0);
    EXPECT_EQ(Text(path), c.serviceUsed ? Text(StorePath + u"nvx.sys")
                                        : "System32\\drivers\\filter\\nvx.sys");
    EXPECT_EQ(sim::CountCalls("OpenServiceW nvx"), c.serviceUsed ? 1u : 0u);
    LocalFree(path);
}

INSTANTIATE_TEST_SUITE_P(
    Types, ServicePropertyTypes,
    ::testing::Values(PropertyTypeCase{"String", REG_SZ, true},
                      PropertyTypeCase{"StringList", REG_MULTI_SZ, true},
                      PropertyTypeCase{"ExpandableStringIsPassedOver", REG_EXPAND_SZ, false},
                      PropertyTypeCase{"BinaryIsPassedOver", REG_BINARY, false},
                      PropertyTypeCase{"NoTypeIsPassedOver", REG_NONE, false}),
    [](const ::testing::TestParamInfo<PropertyTypeCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(DevicesScenario, ServiceNamesStoredWithoutTerminatorsAreRead)
{
    int device = AddAdapterWithService(SERVICE_WIN32_OWN_PROCESS, StorePath + u"nvx.sys");
    sim::SetDeviceString(device, SPDRP_SERVICE, u"nvx", REG_SZ, /*terminated=*/false);
    const sim::Path filters = sim::Path(u"f1") + u'\0' + u"f2";  // no terminators at the end
    sim::SetDeviceProperty(device, SPDRP_UPPERFILTERS, REG_MULTI_SZ, filters.data(),
                           static_cast<DWORD>(filters.size() * sizeof(WCHAR)));
    sim::AddService(u"f1", SERVICE_KERNEL_DRIVER, u"System32\\drivers\\f1.sys");
    sim::AddService(u"f2", SERVICE_KERNEL_DRIVER, u"System32\\drivers\\nvx.sys");

    LPWSTR path = FindDeviceServiceModule(u"nvx.sys", 0);
    EXPECT_EQ(Text(path), "System32\\drivers\\nvx.sys");
    EXPECT_EQ(sim::CallsStartingWith("OpenServiceW"),
              (std::vector<std::string>{"OpenServiceW nvx 0x80000000", "OpenServiceW f1 0x80000000",
                                        "OpenServiceW f2 0x80000000"}));
    LocalFree(path);
}

TEST_F(DevicesScenario, UnreadableServicePropertyIsPassedOver)
{
    int device = AddAdapterWithService(SERVICE_KERNEL_DRIVER, StorePath + u"nvx.sys");
    sim::SetDeviceMultiString(device, SPDRP_UPPERFILTERS, {u"f1"});
    sim::AddService(u"f1", SERVICE_KERNEL_DRIVER, u"System32\\drivers\\filter\\nvx.sys");
    // Calls 1 and 2 read the compatible ids, 3 asks the service's size, 4 reads it.
    sim::FailDeviceCall("SetupDiGetDeviceRegistryPropertyW", 4, ERROR_INVALID_DATA);

    LPWSTR path = FindDeviceServiceModule(u"nvx.sys", 0);
    EXPECT_EQ(Text(path), "System32\\drivers\\filter\\nvx.sys");
    EXPECT_EQ(sim::CountCalls("OpenServiceW nvx"), 0u);
    LocalFree(path);
}

TEST_F(DevicesScenario, ServiceSearchFreesEverythingWhenAnyAllocationFails)
{
    int device = AddAdapterWithService(SERVICE_WIN32_OWN_PROCESS, StorePath + u"nvx.sys");
    sim::SetDeviceMultiString(device, SPDRP_UPPERFILTERS, {u"f1", u"f2"});
    sim::AddService(u"f1", SERVICE_KERNEL_DRIVER, u"System32\\drivers\\f1.sys");
    sim::AddService(u"f2", SERVICE_KERNEL_DRIVER, u"System32\\drivers\\nvx.sys");
    LPWSTR path = nullptr;
    size_t found = 0;

    size_t reached = ForEveryAllocation(
        [&] { path = FindDeviceServiceModule(u"nvx.sys", 0); },
        [&](size_t n) {
            SCOPED_TRACE(n);
            // A failed block costs its own step only: a later one may still find the file.
            if (path != nullptr) {
                EXPECT_EQ(Text(path), "System32\\drivers\\nvx.sys");
                ++found;
            }
            LocalFree(path);
            ExpectNothingLeft();
        });
    EXPECT_GT(reached, 5u);
    EXPECT_GT(found, 1u);     // the untouched run and, at least, a failed service block
    EXPECT_LT(found, reached + 1);
}

}  // namespace
