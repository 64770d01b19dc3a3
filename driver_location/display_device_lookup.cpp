// Finding the vendor-0x10DE display adapter among the present devices, and the
// registry path of its driver key.
#include "driver_location/display_device.h"

#include "secure_load/late_bound.h"
#include "secure_load/path_helpers.h"

#include <cstring>

// PCI vendor 10DE with the class codes 03/00 (VGA-compatible controller) and
// 03/02 (3D controller). Each list ends with an empty string: the literal's own
// terminator follows the last pattern's.
const WCHAR* const DisplayIdPatterns[DISPLAY_ID_PATTERN_LISTS] = {
    WSTR("PCI\\VEN_10DE&CC_0300\0PCI\\VEN_10DE&CC_0302\0"),
};

// Bytes added to the compatible-id block beyond the reported size: two zero
// characters that close the list even when the stored data lacks them.
#define COMPATIBLE_ID_SLACK_BYTES 4u

// 1 if the pattern occurs in the first idLength characters of id, compared code
// unit for code unit (case-sensitive).
static int ContainsPattern(const WCHAR* id, size_t idLength, const WCHAR* pattern)
{
    size_t patternLength = 0;
    while (pattern[patternLength] != 0)
        ++patternLength;
    if (patternLength > idLength)
        return 0;
    for (size_t start = 0; start + patternLength <= idLength; ++start) {
        if (std::memcmp(id + start, pattern, patternLength * sizeof(WCHAR)) == 0)
            return 1;
    }
    return 0;
}

// 1 if any pattern of the list occurs in the id.
static int MatchesAnyPattern(const WCHAR* id, size_t idLength, const WCHAR* patterns)
{
    for (const WCHAR* pattern = patterns; *pattern != 0;) {
        if (ContainsPattern(id, idLength, pattern))
            return 1;
        while (*pattern != 0)
            ++pattern;
        ++pattern;
    }
    return 0;
}

// 1 if one of the device's compatible ids contains a pattern of the selected
// list, else 0 (also for an index other than 0, a missing property, a failed
// allocation or a failed read). The block is walked as a list of strings ending
// at the first empty one, whatever type the device stored, and never past its
// end. Sets no last-error code of its own.
int DeviceMatchesIdPatterns(int patternIndex, HDEVINFO devices, SP_DEVINFO_DATA* device)
{
    LateBoundSystemFunctionTable& api = LateBoundSystemFunctions;
    int matched = 0;
    DWORD required = 0;
    DWORD blockBytes = 0;
    WCHAR* ids = nullptr;
    size_t chars = 0;
    size_t position = 0;

    // Negative indexes select no list either.
    if (static_cast<unsigned>(patternIndex) >= DISPLAY_ID_PATTERN_LISTS)
        return 0;
    api.SetupDiGetDeviceRegistryPropertyW(devices, device, SPDRP_COMPATIBLEIDS, nullptr, nullptr, 0,
                                          &required);
    if (required == 0 || required > 0xFFFFFFFFu - COMPATIBLE_ID_SLACK_BYTES)
        return 0;
    blockBytes = required + COMPATIBLE_ID_SLACK_BYTES;
    ids = static_cast<WCHAR*>(LocalAlloc(LPTR, blockBytes));
    if (ids == nullptr)
        return 0;
    if (!api.SetupDiGetDeviceRegistryPropertyW(devices, device, SPDRP_COMPATIBLEIDS, nullptr,
                                               reinterpret_cast<BYTE*>(ids), blockBytes, nullptr))
        goto done;

    chars = blockBytes / sizeof(WCHAR);
    while (position < chars && ids[position] != 0) {
        size_t end = position;
        while (end < chars && ids[end] != 0)
            ++end;
        if (MatchesAnyPattern(ids + position, end - position, DisplayIdPatterns[patternIndex])) {
            matched = 1;
            goto done;
        }
        position = end + 1;
    }

done:
    LocalFree(ids);
    return matched;
}

// 1 with the open set in *devices (the caller destroys it) and *device naming
// the first present device, of any class, that matches the pattern list; 0
// otherwise, with *devices untouched and no set left open. Sets no last-error
// code of its own.
int FindDisplayDevice(int patternIndex, HDEVINFO* devices, SP_DEVINFO_DATA* device)
{
    LateBoundSystemFunctionTable& api = LateBoundSystemFunctions;
    HDEVINFO present = nullptr;

    if (!BindSystemLibrary(&api.Setupapi, SETUPAPI_LIBRARY) ||
        !BindSystemFunction(api.Setupapi, &api.SetupDiGetClassDevsW, "SetupDiGetClassDevsW") ||
        !BindSystemFunction(api.Setupapi, &api.SetupDiEnumDeviceInfo, "SetupDiEnumDeviceInfo") ||
        !BindSystemFunction(api.Setupapi, &api.SetupDiGetDeviceRegistryPropertyW,
                            "SetupDiGetDeviceRegistryPropertyW") ||
        !BindSystemFunction(api.Setupapi, &api.SetupDiGetDeviceInterfaceDetailW,
                            "SetupDiGetDeviceInterfaceDetailW") ||
        !BindSystemFunction(api.Setupapi, &api.SetupDiDestroyDeviceInfoList,
                            "SetupDiDestroyDeviceInfoList"))
        return 0;

    present = api.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (present == INVALID_HANDLE_VALUE)
        return 0;
    for (DWORD index = 0;; ++index) {
        std::memset(device, 0, sizeof *device);
        device->cbSize = sizeof(SP_DEVINFO_DATA);
        if (!api.SetupDiEnumDeviceInfo(present, index, device))
            break;
        if (DeviceMatchesIdPatterns(patternIndex, present, device)) {
            *devices = present;
            return 1;
        }
    }
    api.SetupDiDestroyDeviceInfoList(present);
    return 0;
}

// "SYSTEM\CurrentControlSet\Control\Class\" followed by the adapter's driver key
// name, or null. Clears the last-error code on entry and again when it returns a
// path; null leaves what the platform calls left (still clear if none set one).
LPWSTR GetDeviceDriverKeyPath(int patternIndex)
{
    LateBoundSystemFunctionTable& api = LateBoundSystemFunctions;
    LPWSTR result = nullptr;
    HDEVINFO devices = nullptr;
    SP_DEVINFO_DATA device;
    DWORD required = 0;
    WCHAR* keyName = nullptr;

    SetLastError(ERROR_SUCCESS);
    if (!BindSystemLibrary(&api.Setupapi, SETUPAPI_LIBRARY) ||
        !BindSystemFunction(api.Setupapi, &api.SetupDiGetDeviceRegistryPropertyW,
                            "SetupDiGetDeviceRegistryPropertyW") ||
        !BindSystemFunction(api.Setupapi, &api.SetupDiDestroyDeviceInfoList,
                            "SetupDiDestroyDeviceInfoList"))
        return nullptr;
    if (patternIndex != 0)
        return nullptr;
    if (!FindDisplayDevice(0, &devices, &device))
        return nullptr;

    api.SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_DRIVER, nullptr, nullptr, 0,
                                          &required);
    if (required == 0 || required > 0xFFFFFFFFu - 2 * sizeof(WCHAR))
        goto done;
    // The block is rounded up to whole characters and has one more, zero, that
    // terminates the name even when the stored value lacks its own terminator;
    // the filling call is told only the reported size.
    keyName = static_cast<WCHAR*>(LocalAlloc(LPTR, required + (required & 1u) + sizeof(WCHAR)));
    if (keyName == nullptr)
        goto done;
    if (!api.SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_DRIVER, nullptr,
                                               reinterpret_cast<BYTE*>(keyName), required, nullptr))
        goto done;
    // The prefix ends with a backslash, so JoinPath inserts none.
    result = JoinPath(DEVICE_CLASS_KEY_PREFIX, keyName);

done:
    LocalFree(keyName);
    api.SetupDiDestroyDeviceInfoList(devices);
    if (result != nullptr)
        SetLastError(ERROR_SUCCESS);
    return result;
}
