// The driver store and loaded-driver directories of the vendor-0x10DE display
// driver: what the process, the kernel graphics subsystem and the device setup
// functions already know. Nothing of the driver is loaded here.
#include "driver_location/driver_directories.h"

#include "driver_location/display_device.h"
#include "driver_location/kernel_graphics_records.h"
#include "secure_load/late_bound.h"
#include "secure_load/loader.h"
#include "secure_load/path_helpers.h"

#include <cstring>

const WCHAR* const LoadedDriverModuleNames[] = {
    WSTR("nvldumdx.dll"),
    WSTR("nvldumd.dll"),
    nullptr,
};

#define DISPLAY_VENDOR_ID 0x10DEu

// From this build on the kernel graphics subsystem reports the driver store path.
#define ADAPTER_DRIVER_STORE_BUILD 17130u
// From this build on the device setup functions report device properties and
// INF driver store locations.
#define DEVICE_SETUP_ROUTE_BUILD 6000u

// The prefix the kernel graphics subsystem puts before a path in the system
// directory, compared without regard to ASCII letter case.
#define SYSTEM_ROOT_PREFIX WSTR("\\SystemRoot\\system32\\")
#define SYSTEM_ROOT_PREFIX_CHARS 21

// DEVPKEY_Device_DriverInfPath: the name of the device's INF file.
static const DEVPROPKEY DriverInfPathKey = {
    {0xa8b865dd, 0x2e3d, 0x4094, {0xad, 0x97, 0xe5, 0x93, 0xa7, 0x0c, 0x75, 0xd6}}, 5};

// Length of the string, if its terminator lies within the first chars
// characters; -1 otherwise.
static int64_t BoundedLength(const WCHAR* text, size_t chars)
{
    for (size_t i = 0; i < chars; ++i) {
        if (text[i] == 0)
            return static_cast<int64_t>(i);
    }
    return -1;
}

// Empty buffer when no name qualifies. Sets no last-error code of its own.
void GetLoadedDriverDirectory(WCHAR directory[DIRECTORY_BUFFER_CHARS])
{
    directory[0] = 0;
    for (size_t i = 0; LoadedDriverModuleNames[i] != nullptr; ++i) {
        HMODULE module = GetModuleHandleW(LoadedDriverModuleNames[i]);
        if (module == nullptr)
            continue;
        // A name the buffer cut short (the count is then MAX_PATH) would be cut
        // again at an ancestor's backslash: it does not qualify.
        DWORD length = GetModuleFileNameW(module, directory, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            continue;
        if (!IsAbsolutePath(directory))
            continue;
        // Cut at the last backslash from position length down to 1; a forward
        // slash is no cut point, and position 0 never is.
        for (DWORD k = length; k >= 1; --k) {
            if (directory[k] == '\\') {
                directory[k] = 0;
                return;
            }
        }
        directory[0] = 0;
        return;
    }
    // Whatever a passed-over module wrote is cleared.
    directory[0] = 0;
}

// Empty buffer when there is no answer. Sets no last-error code of its own.
void QueryAdapterDriverStorePath(WCHAR directory[DIRECTORY_BUFFER_CHARS])
{
    LateBoundSystemFunctionTable& api = LateBoundSystemFunctions;
    D3DKMT_ENUMADAPTERS2 enumeration;
    D3DKMT_ADAPTERINFO* adapters = nullptr;
    ULONG capacity = 0;
    ULONG count = 0;  // adapters enumerated, whose handles are open
    int selected = 0;
    D3DKMT_HANDLE adapter = 0;
    D3DKMT_QUERYADAPTERINFO query;
    D3DKMT_QUERY_DEVICE_IDS deviceIds;
    BYTE* registryQuery = nullptr;
    const WCHAR* answer = nullptr;
    LPWSTR systemDirectory = nullptr;
    LPWSTR joined = nullptr;
    const WCHAR* path = nullptr;
    int64_t length = 0;

    directory[0] = 0;
    if (!BindSystemLibrary(&api.Gdi32, GDI32_LIBRARY) ||
        !BindSystemFunction(api.Gdi32, &api.D3DKMTEnumAdapters2, "D3DKMTEnumAdapters2") ||
        !BindSystemFunction(api.Gdi32, &api.D3DKMTQueryAdapterInfo, "D3DKMTQueryAdapterInfo") ||
        !BindSystemFunction(api.Gdi32, &api.D3DKMTCloseAdapter, "D3DKMTCloseAdapter"))
        return;

    std::memset(&enumeration, 0, sizeof enumeration);
    if (api.D3DKMTEnumAdapters2(&enumeration) != 0)
        return;
    capacity = enumeration.NumAdapters;
    if (capacity == 0)
        return;  // no adapter to examine
    adapters = static_cast<D3DKMT_ADAPTERINFO*>(
        LocalAlloc(LPTR, static_cast<SIZE_T>(capacity) * sizeof(D3DKMT_ADAPTERINFO)));
    if (adapters == nullptr)
        goto done;
    enumeration.NumAdapters = capacity;
    enumeration.pAdapters = adapters;
    if (api.D3DKMTEnumAdapters2(&enumeration) != 0)
        goto done;

    // Never more elements than the array holds, whatever count comes back.
    count = enumeration.NumAdapters < capacity ? enumeration.NumAdapters : capacity;
    for (ULONG i = 0; i < count; ++i) {
        std::memset(&deviceIds, 0, sizeof deviceIds);
        std::memset(&query, 0, sizeof query);
        query.hAdapter = adapters[i].hAdapter;
        query.Type = KMTQAITYPE_PHYSICALADAPTERDEVICEIDS;
        query.pPrivateDriverData = &deviceIds;
        query.PrivateDriverDataSize = sizeof deviceIds;
        // A failing adapter ends the walk: later adapters are not examined.
        if (api.D3DKMTQueryAdapterInfo(&query) != 0)
            goto done;
        if (deviceIds.DeviceIds.VendorID == DISPLAY_VENDOR_ID) {
            selected = 1;
            adapter = adapters[i].hAdapter;
            break;
        }
    }
    if (!selected || adapter == 0)
        goto done;

    registryQuery = static_cast<BYTE*>(LocalAlloc(LPTR, KERNEL_GRAPHICS_REGISTRY_QUERY_BYTES));
    if (registryQuery == nullptr)
        goto done;
    reinterpret_cast<D3DDDI_QUERYREGISTRY_INFO*>(registryQuery)->QueryType =
        D3DDDI_QUERYREGISTRY_DRIVERSTOREPATH;
    std::memset(&query, 0, sizeof query);
    query.hAdapter = adapter;
    query.Type = KMTQAITYPE_QUERYREGISTRY;
    query.pPrivateDriverData = registryQuery;
    query.PrivateDriverDataSize = KERNEL_GRAPHICS_REGISTRY_QUERY_BYTES;
    if (api.D3DKMTQueryAdapterInfo(&query) != 0 ||
        reinterpret_cast<D3DDDI_QUERYREGISTRY_INFO*>(registryQuery)->Status !=
            D3DDDI_QUERYREGISTRY_STATUS_SUCCESS)
        goto done;

    // An answer without a terminator inside its output area is no answer.
    answer = reinterpret_cast<const WCHAR*>(registryQuery +
                                            offsetof(D3DDDI_QUERYREGISTRY_INFO, OutputString));
    if (BoundedLength(answer, KERNEL_GRAPHICS_REGISTRY_OUTPUT_CHARS) < 0)
        goto done;

    // Without the system directory the driver's string stands as it is; so it
    // does when the join fails.
    path = answer;
    systemDirectory = CopySystemDirectory();
    if (systemDirectory != nullptr && AfterPrefixIgnoringCase(answer, SYSTEM_ROOT_PREFIX) != nullptr) {
        joined = JoinPath(systemDirectory, answer + SYSTEM_ROOT_PREFIX_CHARS);
        if (joined != nullptr)
            path = joined;
    }
    // A path the buffer cannot hold is no answer: never a cut path.
    length = BoundedLength(path, DIRECTORY_BUFFER_CHARS);
    if (length >= 0)
        std::memcpy(directory, path, (static_cast<size_t>(length) + 1) * sizeof(WCHAR));

done:
    // The enumeration opened a handle per adapter: close every one.
    for (ULONG i = 0; i < count; ++i) {
        D3DKMT_CLOSEADAPTER close;
        close.hAdapter = adapters[i].hAdapter;
        if (close.hAdapter != 0)
            (void)api.D3DKMTCloseAdapter(&close);
    }
    LocalFree(joined);
    LocalFree(systemDirectory);
    LocalFree(registryQuery);
    LocalFree(adapters);
}

// The adapter's answer when it names an existing directory (from build 17130
// on), otherwise the directory of the device's INF file in the driver store.
// Clears the last-error code on success; ERROR_CALL_NOT_IMPLEMENTED below build
// 6000; any other failure leaves what the failing platform call left.
LPWSTR GetDriverStoreDirectory(void)
{
    LateBoundSystemFunctionTable& api = LateBoundSystemFunctions;
    WCHAR directory[DIRECTORY_BUFFER_CHARS];
    DWORD attributes = 0;
    LPWSTR result = nullptr;
    HDEVINFO devices = nullptr;
    SP_DEVINFO_DATA device;
    DEVPROPTYPE type = 0;
    DWORD requiredBytes = 0;
    DWORD requiredChars = 0;
    WCHAR* infName = nullptr;
    WCHAR* location = nullptr;
    int64_t lastBackslash = -1;

    if (IsBuildAtLeast(ADAPTER_DRIVER_STORE_BUILD)) {
        std::memset(directory, 0, sizeof directory);
        QueryAdapterDriverStorePath(directory);
        if (directory[0] != 0) {
            attributes = GetFileAttributesW(directory);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                // A failed copy ends the operation: the device setup route is not tried.
                result = DuplicateString(directory);
                if (result != nullptr)
                    SetLastError(ERROR_SUCCESS);
                return result;
            }
        }
    }

    SetLastError(ERROR_SUCCESS);
    if (!IsBuildAtLeast(DEVICE_SETUP_ROUTE_BUILD)) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    if (!BindSystemLibrary(&api.Setupapi, SETUPAPI_LIBRARY) ||
        !BindSystemFunction(api.Setupapi, &api.SetupDiGetDevicePropertyW,
                            "SetupDiGetDevicePropertyW") ||
        !BindSystemFunction(api.Setupapi, &api.SetupGetInfDriverStoreLocationW,
                            "SetupGetInfDriverStoreLocationW") ||
        !BindSystemFunction(api.Setupapi, &api.SetupDiDestroyDeviceInfoList,
                            "SetupDiDestroyDeviceInfoList"))
        return nullptr;
    std::memset(&device, 0, sizeof device);
    device.cbSize = sizeof device;
    if (!FindDisplayDevice(0, &devices, &device))
        return nullptr;

    api.SetupDiGetDevicePropertyW(devices, &device, &DriverInfPathKey, &type, nullptr, 0,
                                  &requiredBytes, 0);
    if (requiredBytes == 0)
        goto done;
    // Twice the size: the zero half terminates the name whatever was stored.
    infName = static_cast<WCHAR*>(LocalAlloc(LPTR, 2 * static_cast<SIZE_T>(requiredBytes)));
    if (infName == nullptr)
        goto done;
    if (!api.SetupDiGetDevicePropertyW(devices, &device, &DriverInfPathKey, &type,
                                       reinterpret_cast<BYTE*>(infName), requiredBytes, nullptr, 0))
        goto done;
    if (BoundedLength(infName, requiredBytes) < 0)  // a 1-byte answer has no room for one
        goto done;

    api.SetupGetInfDriverStoreLocationW(infName, nullptr, nullptr, nullptr, 0, &requiredChars);
    if (requiredChars == 0)
        goto done;
    location = static_cast<WCHAR*>(
        LocalAlloc(LPTR, static_cast<SIZE_T>(requiredChars) * sizeof(WCHAR)));
    if (location == nullptr)
        goto done;
    if (!api.SetupGetInfDriverStoreLocationW(infName, nullptr, nullptr, location, requiredChars,
                                             nullptr))
        goto done;

    // The directory is the path up to its last backslash. A path without one,
    // or without a terminator in its block, gives no result; so does a backslash
    // in the first position, whose empty directory would make the caller's
    // joined paths relative to the current directory.
    for (size_t i = 0; i < requiredChars && location[i] != 0; ++i) {
        if (location[i] == '\\')
            lastBackslash = static_cast<int64_t>(i);
    }
    if (BoundedLength(location, requiredChars) >= 0 && lastBackslash > 0)
        result = DuplicateStringN(location, lastBackslash);

done:
    LocalFree(location);
    LocalFree(infName);
    api.SetupDiDestroyDeviceInfoList(devices);
    if (result != nullptr)
        SetLastError(ERROR_SUCCESS);
    return result;
}
