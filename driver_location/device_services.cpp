// The kernel driver files behind the display adapter's service and filter
// drivers, through the device properties and the service control manager.
#include "driver_location/display_device.h"

#include "secure_load/late_bound.h"
#include "secure_load/loader.h"
#include "secure_load/path_helpers.h"

// The device properties that name services, in the order they are tried.
static const DWORD ServiceNameProperties[] = {SPDRP_SERVICE, SPDRP_UPPERFILTERS,
                                              SPDRP_LOWERFILTERS};

// Allocated copy of the service's file path if the service is exactly a kernel
// driver whose file is the module, else null. Sets no last-error code of its
// own: it holds what the service control calls left.
LPWSTR GetServiceBinaryIfNamed(LPCWSTR moduleName, LPCWSTR serviceName)
{
    LateBoundSystemFunctionTable& api = LateBoundSystemFunctions;
    LPWSTR result = nullptr;
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
    DWORD needed = 0;
    QUERY_SERVICE_CONFIGW* config = nullptr;

    if (!BindSystemLibrary(&api.Advapi32, ADVAPI32_LIBRARY) ||
        !BindSystemFunction(api.Advapi32, &api.OpenSCManagerW, "OpenSCManagerW") ||
        !BindSystemFunction(api.Advapi32, &api.OpenServiceW, "OpenServiceW") ||
        !BindSystemFunction(api.Advapi32, &api.QueryServiceConfigW, "QueryServiceConfigW") ||
        !BindSystemFunction(api.Advapi32, &api.CloseServiceHandle, "CloseServiceHandle"))
        return nullptr;

    manager = api.OpenSCManagerW(nullptr, nullptr, GENERIC_READ);
    if (manager == nullptr)
        return nullptr;
    service = api.OpenServiceW(manager, serviceName, GENERIC_READ);
    if (service == nullptr)
        goto done;
    api.QueryServiceConfigW(service, nullptr, 0, &needed);
    // A block smaller than the record could not hold what is read from it.
    if (needed < sizeof(QUERY_SERVICE_CONFIGW))
        goto done;
    config = static_cast<QUERY_SERVICE_CONFIGW*>(LocalAlloc(LPTR, needed));
    if (config == nullptr)
        goto done;
    if (!api.QueryServiceConfigW(service, config, needed, &needed))
        goto done;
    if (config->dwServiceType == SERVICE_KERNEL_DRIVER && config->lpBinaryPathName != nullptr &&
        ModuleNamesMatch(config->lpBinaryPathName, moduleName))
        result = DuplicateString(config->lpBinaryPathName);

done:
    LocalFree(config);
    if (service != nullptr)
        api.CloseServiceHandle(service);
    api.CloseServiceHandle(manager);
    return result;
}

// Index just past the terminator of the string at position, or 0 when the
// string has no terminator within the block's chars characters.
static size_t EndOfString(const WCHAR* block, size_t chars, size_t position)
{
    for (size_t i = position; i < chars; ++i) {
        if (block[i] == 0)
            return i + 1;
    }
    return 0;
}

// The result of one service-name property of the device: REG_SZ names one
// service, REG_MULTI_SZ a list tried in order; any other type, REG_EXPAND_SZ
// included, gives nothing. Null when the property is absent or unreadable.
static LPWSTR FindModuleInServiceProperty(LPCWSTR moduleName, HDEVINFO devices,
                                          SP_DEVINFO_DATA* device, DWORD property)
{
    LateBoundSystemFunctionTable& api = LateBoundSystemFunctions;
    LPWSTR result = nullptr;
    DWORD type = 0;
    DWORD required = 0;
    size_t blockBytes = 0;
    WCHAR* names = nullptr;
    size_t chars = 0;
    size_t position = 0;
    size_t next = 0;

    api.SetupDiGetDeviceRegistryPropertyW(devices, device, property, &type, nullptr, 0, &required);
    if (required == 0)
        return nullptr;
    // The slack of the reported type; the filling call is told only the
    // reported size, so the slack stays zero.
    blockBytes = static_cast<size_t>(required) + TerminatorSlack(type, required);
    names = static_cast<WCHAR*>(LocalAlloc(LPTR, blockBytes));
    if (names == nullptr)
        return nullptr;
    if (!api.SetupDiGetDeviceRegistryPropertyW(devices, device, property, &type,
                                               reinterpret_cast<BYTE*>(names), required, nullptr))
        goto done;

    // The type is the one the filling call reported; the walks never leave the
    // block, even if that type differs from the one the block was sized for.
    chars = blockBytes / sizeof(WCHAR);
    if (type == REG_SZ) {
        if (EndOfString(names, chars, 0) != 0)
            result = GetServiceBinaryIfNamed(moduleName, names);
    } else if (type == REG_MULTI_SZ) {
        while (result == nullptr && position < chars && names[position] != 0) {
            next = EndOfString(names, chars, position);
            if (next == 0)
                break;
            result = GetServiceBinaryIfNamed(moduleName, names + position);
            position = next;
        }
    }

done:
    LocalFree(names);
    return result;
}

// Allocated file path of the first kernel-driver service of the adapter whose
// file is the module: its function driver service, then its upper filters, then
// its lower filters. Null if none. Sets no last-error code of its own.
LPWSTR FindDeviceServiceModule(LPCWSTR moduleName, int patternIndex)
{
    LateBoundSystemFunctionTable& api = LateBoundSystemFunctions;
    LPWSTR result = nullptr;
    HDEVINFO devices = nullptr;
    SP_DEVINFO_DATA device;

    if (!BindSystemLibrary(&api.Setupapi, SETUPAPI_LIBRARY) ||
        !BindSystemFunction(api.Setupapi, &api.SetupDiGetDeviceRegistryPropertyW,
                            "SetupDiGetDeviceRegistryPropertyW") ||
        !BindSystemFunction(api.Setupapi, &api.SetupDiDestroyDeviceInfoList,
                            "SetupDiDestroyDeviceInfoList"))
        return nullptr;
    if (!FindDisplayDevice(patternIndex, &devices, &device))
        return nullptr;

    for (DWORD property : ServiceNameProperties) {
        result = FindModuleInServiceProperty(moduleName, devices, &device, property);
        if (result != nullptr)
            break;
    }

    api.SetupDiDestroyDeviceInfoList(devices);
    return result;
}
