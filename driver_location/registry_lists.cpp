// The display driver's module lists in the registry: the values under its class
// key, and the value names of the Khronos driver lists.
#include "driver_location/driver_module_search.h"

#include "secure_load/late_bound.h"
#include "secure_load/loader.h"
#include "secure_load/path_helpers.h"

const WCHAR* const DriverModuleValueNames[] = {
    WSTR("UserModeDriverName"),
    WSTR("OpenGLDriverName"),
    WSTR("UserModeDListDriverName"),
    nullptr,
};

const WCHAR* const KhronosDriverListKeys[] = {
    WSTR("SOFTWARE\\Khronos\\Vulkan\\Drivers"),
    WSTR("SOFTWARE\\Khronos\\OpenCL\\Vendors"),
    nullptr,
};

const WCHAR* const SupportModuleValueNames[] = {
    WSTR("DriverSupportModules"),
    nullptr,
};

// The value-name buffer of one enumerated key, and the capacity each
// enumeration call is told: one character fewer than the buffer holds, so the
// last character stays zero whatever a call writes.
#define VALUE_NAME_BUFFER_BYTES 65536
#define VALUE_NAME_CAPACITY_CHARS 32767u

// Sets ERROR_INVALID_DATA after a value of a type other than REG_SZ or
// REG_MULTI_SZ (a value without data counts as such) and goes on with the next
// name; the first match ends the walk, even if its copy fails or it proves not
// to be absolute. Never clears the code. Null when the key cannot be opened,
// without a code of its own.
LPWSTR FindModuleInRegistryValues(LPCWSTR moduleName, HKEY root, LPCWSTR subKeyPath,
                                  const WCHAR* const* valueNames)
{
    LateBoundSystemFunctionTable& api = LateBoundSystemFunctions;
    LPWSTR result = nullptr;
    HKEY key = nullptr;
    int matched = 0;

    if (!BindSystemLibrary(&api.Advapi32, ADVAPI32_LIBRARY) ||
        !BindSystemFunction(api.Advapi32, &api.RegOpenKeyExW, "RegOpenKeyExW") ||
        !BindSystemFunction(api.Advapi32, &api.RegCloseKey, "RegCloseKey"))
        return nullptr;
    if (api.RegOpenKeyExW(root, subKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return nullptr;

    for (size_t i = 0; !matched && valueNames[i] != nullptr; ++i) {
        DWORD type = 0;
        BYTE* data = nullptr;
        if (ReadRegistryValue(key, valueNames[i], &type, &data) != ERROR_SUCCESS) {
            LocalFree(data);
            continue;
        }
        // ReadRegistryValue ends every string and string list within the block
        // with zero slack; a value without data leaves the type at 0.
        const WCHAR* text = reinterpret_cast<const WCHAR*>(data);
        if (type == REG_SZ && text != nullptr) {
            if (ModuleNamesMatch(text, moduleName)) {
                matched = 1;
                result = DuplicateString(text);
            }
        } else if (type == REG_MULTI_SZ && text != nullptr) {
            for (const WCHAR* entry = text; *entry != 0; entry += StringLength(entry) + 1) {
                if (ModuleNamesMatch(entry, moduleName)) {
                    matched = 1;
                    result = DuplicateString(entry);
                    break;
                }
            }
        } else {
            // REG_EXPAND_SZ among them: an unexpanded path is never used.
            SetLastError(ERROR_INVALID_DATA);
        }
        LocalFree(data);
    }
    api.RegCloseKey(key);

    // Only an absolute path is a usable match; the code is left as it is.
    if (result != nullptr && !IsAbsolutePath(result)) {
        LocalFree(result);
        result = nullptr;
    }
    return result;
}

// Null when no value name matches. Sets no last-error code of its own: keys that
// cannot be opened, a failed buffer allocation and enumeration failures are
// passed over. The walk of one key ends at ERROR_NO_MORE_ITEMS, at a match, or
// after VALUE_ENUMERATION_FAILURE_LIMIT consecutive failures with one status.
LPWSTR FindModuleInRegistryValueNames(LPCWSTR moduleName, HKEY root, const WCHAR* const* keyPaths)
{
    LateBoundSystemFunctionTable& api = LateBoundSystemFunctions;
    LPWSTR result = nullptr;
    int matched = 0;

    if (!BindSystemLibrary(&api.Advapi32, ADVAPI32_LIBRARY) ||
        !BindSystemFunction(api.Advapi32, &api.RegOpenKeyExW, "RegOpenKeyExW") ||
        !BindSystemFunction(api.Advapi32, &api.RegEnumValueW, "RegEnumValueW") ||
        !BindSystemFunction(api.Advapi32, &api.RegCloseKey, "RegCloseKey"))
        return nullptr;

    for (size_t k = 0; !matched && keyPaths[k] != nullptr; ++k) {
        HKEY key = nullptr;
        WCHAR* name = nullptr;
        LONG lastFailure = ERROR_SUCCESS;
        int repeatedFailures = 0;

        if (api.RegOpenKeyExW(root, keyPaths[k], 0, KEY_READ, &key) != ERROR_SUCCESS)
            continue;
        name = static_cast<WCHAR*>(LocalAlloc(LPTR, VALUE_NAME_BUFFER_BYTES));
        if (name == nullptr) {
            api.RegCloseKey(key);
            continue;
        }
        for (DWORD index = 0;; ++index) {
            DWORD chars = VALUE_NAME_CAPACITY_CHARS;
            LONG status = api.RegEnumValueW(key, index, name, &chars, nullptr, nullptr, nullptr,
                                            nullptr);
            if (status == ERROR_SUCCESS) {
                lastFailure = ERROR_SUCCESS;
                repeatedFailures = 0;
                if (ModuleNamesMatch(name, moduleName)) {
                    matched = 1;
                    result = DuplicateString(name);
                    break;
                }
                continue;
            }
            if (status == ERROR_NO_MORE_ITEMS)
                break;
            // Other failures are passed over, but not for ever.
            if (status == lastFailure) {
                ++repeatedFailures;
            } else {
                lastFailure = status;
                repeatedFailures = 1;
            }
            if (repeatedFailures >= VALUE_ENUMERATION_FAILURE_LIMIT)
                break;
        }
        LocalFree(name);
        api.RegCloseKey(key);
    }
    return result;
}
