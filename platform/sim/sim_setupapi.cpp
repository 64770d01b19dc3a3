// The simulated device setup functions ("Setupapi.dll"): present devices with
// their registry properties, the driver INF path property, the INF driver store
// locations, and device information sets counted for leak checks.
// As on Windows, each of these functions sets the last-error code on every call,
// ERROR_SUCCESS when it succeeds.
#include "sim_devices.h"
#include "world.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace sim {

namespace {

struct DeviceProperty {
    DWORD type;
    std::vector<uint8_t> data;
};

struct Device {
    std::map<DWORD, DeviceProperty> properties;  // by SPDRP_*
    bool hasInfPath = false;
    Path infPath;
};

struct DeviceInfoSet {
    std::vector<int> members;  // device numbers, in enumeration order
};

struct DeviceSetup {
    std::vector<Device> devices;
    std::map<std::string, Path> infLocations;  // key: Fold(inf name)
    std::set<DeviceInfoSet*> openSets;
};

}  // namespace

static DeviceSetup& Setup()
{
    static DeviceSetup* setup = new DeviceSetup();
    return *setup;
}

// {4d36e968-e325-11ce-bfc1-08002be10318}, the display adapter class.
static const GUID DisplayClass = {0x4d36e968, 0xe325, 0x11ce,
                                  {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
// DEVPKEY_Device_DriverInfPath.
static const GUID DriverInfPathFormat = {0xa8b865dd, 0x2e3d, 0x4094,
                                         {0xad, 0x97, 0xe5, 0x93, 0xa7, 0x0c, 0x75, 0xd6}};
static const DEVPROPID DriverInfPathId = 5;

static Device& DeviceNumbered(int device)
{
    DeviceSetup& s = Setup();
    if (device < 0 || static_cast<size_t>(device) >= s.devices.size()) {
        std::fprintf(stderr, "simulated Windows: no device %d\n", device);
        std::abort();
    }
    return s.devices[static_cast<size_t>(device)];
}

int AddDevice()
{
    Setup().devices.push_back(Device());
    return static_cast<int>(Setup().devices.size() - 1);
}

int AddDeviceWithCompatibleIds(const std::vector<Path>& ids)
{
    int device = AddDevice();
    SetDeviceMultiString(device, SPDRP_COMPATIBLEIDS, ids);
    return device;
}

void SetDeviceProperty(int device, DWORD property, DWORD type, const void* data, DWORD bytes)
{
    const uint8_t* in = static_cast<const uint8_t*>(data);
    DeviceProperty& p = DeviceNumbered(device).properties[property];
    p.type = type;
    p.data.assign(in, in + bytes);
}

void SetDeviceString(int device, DWORD property, const Path& text, DWORD type, bool terminated)
{
    size_t chars = text.size() + (terminated ? 1 : 0);
    SetDeviceProperty(device, property, type, text.c_str(), static_cast<DWORD>(chars * sizeof(WCHAR)));
}

void SetDeviceMultiString(int device, DWORD property, const std::vector<Path>& strings, DWORD type)
{
    Path all;
    for (const Path& s : strings) {
        all += s;
        all += u'\0';
    }
    all += u'\0';
    SetDeviceProperty(device, property, type, all.data(),
                      static_cast<DWORD>(all.size() * sizeof(WCHAR)));
}

void SetDeviceDriverInfPath(int device, const Path& infName)
{
    Device& d = DeviceNumbered(device);
    d.hasInfPath = true;
    d.infPath = infName;
}

void SetInfDriverStoreLocation(const Path& infName, const Path& location)
{
    Setup().infLocations[Fold(infName)] = location;
}

int OpenDeviceInfoSets() { return static_cast<int>(Setup().openSets.size()); }

static BOOL Fail(DWORD error)
{
    TheWorld().lastError = error;
    return FALSE;
}

static BOOL Succeed()
{
    TheWorld().lastError = ERROR_SUCCESS;
    return TRUE;
}

static DeviceInfoSet* LiveSet(HDEVINFO devices)
{
    DeviceInfoSet* set = static_cast<DeviceInfoSet*>(devices);
    return Setup().openSets.count(set) != 0 ? set : nullptr;
}

// The device a record of the set names, or null with the code to fail with.
static Device* DeviceOf(HDEVINFO devices, const SP_DEVINFO_DATA* record, DWORD* error)
{
    DeviceInfoSet* set = LiveSet(devices);
    if (set == nullptr) {
        *error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (record == nullptr || record->cbSize != sizeof(SP_DEVINFO_DATA)) {
        *error = ERROR_INVALID_USER_BUFFER;
        return nullptr;
    }
    int number = static_cast<int>(record->DevInst) - 1;
    if (record->Reserved != reinterpret_cast<ULONG_PTR>(set) || number < 0 ||
        static_cast<size_t>(number) >= Setup().devices.size()) {
        *error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    return &Setup().devices[static_cast<size_t>(number)];
}

static HDEVINFO WINAPI SimSetupDiGetClassDevsW(const GUID* classGuid, LPCWSTR, HWND, DWORD flags)
{
    Log("SetupDiGetClassDevsW " + Hex(flags));
    if (DWORD error = TakeDeviceCallFailure("SetupDiGetClassDevsW")) {
        Fail(error);
        return INVALID_HANDLE_VALUE;
    }
    if (classGuid == nullptr && !(flags & DIGCF_ALLCLASSES)) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DeviceInfoSet* set = new DeviceInfoSet();
    for (size_t i = 0; i < Setup().devices.size(); ++i)
        set->members.push_back(static_cast<int>(i));
    Setup().openSets.insert(set);
    Succeed();
    return set;
}

static BOOL WINAPI SimSetupDiEnumDeviceInfo(HDEVINFO devices, DWORD index, SP_DEVINFO_DATA* record)
{
    Log("SetupDiEnumDeviceInfo " + std::to_string(index));
    if (DWORD error = TakeDeviceCallFailure("SetupDiEnumDeviceInfo"))
        return Fail(error);
    DeviceInfoSet* set = LiveSet(devices);
    if (set == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (record == nullptr || record->cbSize != sizeof(SP_DEVINFO_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (index >= set->members.size())
        return Fail(ERROR_NO_MORE_ITEMS);
    record->ClassGuid = DisplayClass;
    record->DevInst = static_cast<DWORD>(set->members[index] + 1);
    record->Reserved = reinterpret_cast<ULONG_PTR>(set);
    return Succeed();
}

static BOOL WINAPI SimSetupDiGetDeviceRegistryPropertyW(HDEVINFO devices, SP_DEVINFO_DATA* record,
                                                        DWORD property, DWORD* dataType,
                                                        BYTE* buffer, DWORD bufferBytes,
                                                        DWORD* requiredBytes)
{
    Log("SetupDiGetDeviceRegistryPropertyW " + std::to_string(property) +
        (buffer == nullptr ? " size" : " data"));
    if (DWORD error = TakeDeviceCallFailure("SetupDiGetDeviceRegistryPropertyW"))
        return Fail(error);
    DWORD error = 0;
    Device* device = DeviceOf(devices, record, &error);
    if (device == nullptr)
        return Fail(error);
    if (buffer == nullptr && bufferBytes != 0)
        return Fail(ERROR_INVALID_USER_BUFFER);
    auto found = device->properties.find(property);
    if (found == device->properties.end())
        return Fail(ERROR_INVALID_DATA);
    const DeviceProperty& p = found->second;
    DWORD bytes = static_cast<DWORD>(p.data.size());
    if (dataType != nullptr)
        *dataType = p.type;
    if (requiredBytes != nullptr)
        *requiredBytes = bytes;
    if (bufferBytes < bytes)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (bytes != 0)
        std::memcpy(buffer, p.data.data(), bytes);
    return Succeed();
}

static BOOL WINAPI SimSetupDiGetDeviceInterfaceDetailW(HDEVINFO, SP_DEVICE_INTERFACE_DATA*,
                                                       SP_DEVICE_INTERFACE_DETAIL_DATA_W*, DWORD,
                                                       DWORD*, SP_DEVINFO_DATA*)
{
    Log("SetupDiGetDeviceInterfaceDetailW");
    return Fail(ERROR_INVALID_PARAMETER);  // no device interfaces are simulated
}

static BOOL WINAPI SimSetupDiDestroyDeviceInfoList(HDEVINFO devices)
{
    Log("SetupDiDestroyDeviceInfoList");
    DeviceInfoSet* set = LiveSet(devices);
    if (set == nullptr) {
        std::fprintf(stderr, "simulated Windows: SetupDiDestroyDeviceInfoList of a set that is not open\n");
        std::abort();
    }
    Setup().openSets.erase(set);
    delete set;
    return Succeed();
}

static BOOL WINAPI SimSetupDiGetDevicePropertyW(HDEVINFO devices, SP_DEVINFO_DATA* record,
                                                const DEVPROPKEY* key, DEVPROPTYPE* type,
                                                BYTE* buffer, DWORD bufferBytes,
                                                DWORD* requiredBytes, DWORD flags)
{
    Log("SetupDiGetDevicePropertyW " + std::to_string(key ? key->pid : 0) +
        (buffer == nullptr ? " size" : " data"));
    if (DWORD error = TakeDeviceCallFailure("SetupDiGetDevicePropertyW"))
        return Fail(error);
    DWORD error = 0;
    Device* device = DeviceOf(devices, record, &error);
    if (device == nullptr)
        return Fail(error);
    if (flags != 0)
        return Fail(ERROR_INVALID_FLAGS);
    if (key == nullptr || type == nullptr || (buffer == nullptr && bufferBytes != 0))
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (std::memcmp(&key->fmtid, &DriverInfPathFormat, sizeof(GUID)) != 0 ||
        key->pid != DriverInfPathId || !device->hasInfPath)
        return Fail(ERROR_NOT_FOUND);
    DWORD bytes = static_cast<DWORD>((device->infPath.size() + 1) * sizeof(WCHAR));
    *type = DEVPROP_TYPE_STRING;
    if (requiredBytes != nullptr)
        *requiredBytes = bytes;
    if (bufferBytes < bytes)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, device->infPath.c_str(), bytes);
    return Succeed();
}

static BOOL WINAPI SimSetupGetInfDriverStoreLocationW(LPCWSTR infName, void*, LPCWSTR,
                                                      LPWSTR buffer, DWORD bufferChars,
                                                      DWORD* requiredChars)
{
    Log("SetupGetInfDriverStoreLocationW " + Narrow(infName) + (buffer == nullptr ? " size" : " data"));
    if (DWORD error = TakeDeviceCallFailure("SetupGetInfDriverStoreLocationW"))
        return Fail(error);
    if (infName == nullptr || (buffer == nullptr && bufferChars != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    auto found = Setup().infLocations.find(Fold(infName));
    if (found == Setup().infLocations.end())
        return Fail(ERROR_FILE_NOT_FOUND);
    DWORD chars = static_cast<DWORD>(found->second.size() + 1);
    if (requiredChars != nullptr)
        *requiredChars = chars;
    if (buffer == nullptr)
        return Succeed();  // a size query
    if (bufferChars < chars)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, found->second.c_str(), chars * sizeof(WCHAR));
    return Succeed();
}

Exports SetupApiExports()
{
    return {
        {"SetupDiGetClassDevsW", AsExport(&SimSetupDiGetClassDevsW)},
        {"SetupDiEnumDeviceInfo", AsExport(&SimSetupDiEnumDeviceInfo)},
        {"SetupDiGetDeviceRegistryPropertyW", AsExport(&SimSetupDiGetDeviceRegistryPropertyW)},
        {"SetupDiGetDeviceInterfaceDetailW", AsExport(&SimSetupDiGetDeviceInterfaceDetailW)},
        {"SetupDiDestroyDeviceInfoList", AsExport(&SimSetupDiDestroyDeviceInfoList)},
        {"SetupDiGetDevicePropertyW", AsExport(&SimSetupDiGetDevicePropertyW)},
        {"SetupGetInfDriverStoreLocationW", AsExport(&SimSetupGetInfDriverStoreLocationW)},
    };
}

}  // namespace sim
