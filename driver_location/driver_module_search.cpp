// Finding a requested "nv" module among the display driver's own files, and
// turning what was found into an absolute path for the loader's driver route.
#include "driver_location/driver_module_search.h"

#include "driver_location/display_device.h"
#include "driver_location/driver_directories.h"
#include "secure_load/loader.h"
#include "secure_load/path_helpers.h"

#include <cstring>

const WCHAR* const SystemDirectoryPrefixes[] = {
    WSTR("system32\\"),
    WSTR("\\SystemRoot\\system32\\"),
    nullptr,
};

// From this build on the driver store, not the system directory, is the last
// place the route looks in.
#define DRIVER_STORE_FALLBACK_BUILD 14308u
// From this build on the directory of the loaded user-mode driver, or the
// adapter's driver store, is probed first.
#define DIRECTORY_PROBE_BUILD 17130u

// The only display device pattern list.
#define DISPLAY_PATTERN_INDEX 0

// 1 if the text's extension (from its last full stop; none without one) is the
// given one, ASCII letters folded.
static int HasExtension(const WCHAR* text, const WCHAR* extension)
{
    const WCHAR* dot = nullptr;
    for (const WCHAR* c = text; *c != 0; ++c) {
        if (*c == '.')
            dot = c;
    }
    if (dot == nullptr)
        return extension[0] == 0;
    const WCHAR* rest = AfterPrefixIgnoringCase(dot, extension);
    return rest != nullptr && *rest == 0;
}

// 1 when the path names something that is neither a directory nor a device.
// Leaves what GetFileAttributesW left in the last-error code.
static int IsExistingModuleFile(LPCWSTR path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// The path as it was found, or null. Clears the last-error code on entry and
// when a path is returned; otherwise ERROR_BAD_ARGUMENTS for a null name or one
// with a separator, the code the failing step left, or ERROR_MOD_NOT_FOUND.
//
// After the directory probe the code is the search's only memory of failure:
// every later step runs only while there is no result and the code is 0.
LPWSTR SearchDriverModule(LPCWSTR moduleName)
{
    LPWSTR result = nullptr;
    LPWSTR candidate = nullptr;
    LPWSTR classKeyPath = nullptr;
    LPWSTR completedName = nullptr;
    WCHAR directory[DIRECTORY_BUFFER_CHARS];
    int isDll;
    int isSys;

    SetLastError(ERROR_SUCCESS);
    if (moduleName == nullptr || HasPathSeparator(moduleName)) {
        SetLastError(ERROR_BAD_ARGUMENTS);
        return nullptr;
    }

    if (IsBuildAtLeast(DIRECTORY_PROBE_BUILD)) {
        std::memset(directory, 0, sizeof directory);
        GetLoadedDriverDirectory(directory);
        if (directory[0] == 0)
            QueryAdapterDriverStorePath(directory);
        // The name exactly as requested. Without a directory the candidate is
        // the bare name, which the attribute query resolves against the current
        // directory; the route only ever loads it from the system directory.
        candidate = JoinPath(directory, moduleName);
        if (candidate != nullptr && IsExistingModuleFile(candidate)) {
            result = candidate;
            goto done;
        }
        LocalFree(candidate);
    }

    classKeyPath = GetDeviceDriverKeyPath(DISPLAY_PATTERN_INDEX);
    if (classKeyPath == nullptr)
        goto done;
    completedName = WithDllExtension(moduleName);
    if (completedName == nullptr)
        goto done;
    isDll = HasExtension(completedName, WSTR(".dll"));
    isSys = HasExtension(completedName, WSTR(".sys"));

    // ".dll": values, Khronos lists, support modules. ".sys": services, support
    // modules. Anything else: services, values, Khronos lists, support modules.
    if (!isDll && GetLastError() == ERROR_SUCCESS)
        result = FindDeviceServiceModule(completedName, DISPLAY_PATTERN_INDEX);
    if (!isSys) {
        if (result == nullptr && GetLastError() == ERROR_SUCCESS)
            result = FindModuleInRegistryValues(completedName, HKEY_LOCAL_MACHINE, classKeyPath,
                                                DriverModuleValueNames);
        if (result == nullptr && GetLastError() == ERROR_SUCCESS)
            result = FindModuleInRegistryValueNames(completedName, HKEY_LOCAL_MACHINE,
                                                    KhronosDriverListKeys);
    }
    if (result == nullptr && GetLastError() == ERROR_SUCCESS)
        result = FindModuleInRegistryValues(completedName, HKEY_LOCAL_MACHINE, classKeyPath,
                                            SupportModuleValueNames);

done:
    LocalFree(completedName);
    LocalFree(classKeyPath);
    if (result != nullptr)
        SetLastError(ERROR_SUCCESS);
    else if (GetLastError() == ERROR_SUCCESS)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return result;
}

// What a found path becomes: a bare name and a path that begins with a system
// directory prefix are put in the system directory, another absolute path
// stays as it is, a relative path with separators gives null. Null also when
// the system directory or the join cannot be had (the code is theirs).
static LPWSTR MakeFoundPathAbsolute(LPWSTR* found)
{
    LPWSTR result = nullptr;
    LPWSTR systemDirectory = CopySystemDirectory();
    const WCHAR* rest = nullptr;

    if (systemDirectory == nullptr)
        return nullptr;
    if (!HasPathSeparator(*found)) {
        result = JoinPath(systemDirectory, *found);
        goto done;
    }
    // The first prefix that matches decides, even if the join then fails.
    for (size_t i = 0; SystemDirectoryPrefixes[i] != nullptr; ++i) {
        rest = AfterPrefixIgnoringCase(*found, SystemDirectoryPrefixes[i]);
        if (rest != nullptr) {
            result = JoinPath(systemDirectory, rest);
            goto done;
        }
    }
    if (IsAbsolutePath(*found)) {
        result = *found;
        *found = nullptr;
    }

done:
    LocalFree(systemDirectory);
    return result;
}

// The driver store candidate for the module when the search found nothing: the
// completed name in the driver store directory (below build 14308, the system
// directory), if it is an existing module file. A candidate that does not exist
// (ERROR_FILE_NOT_FOUND) clears the code; any other failure leaves its own.
static LPWSTR ProbeDriverStore(LPCWSTR moduleName)
{
    LPWSTR result = nullptr;
    LPWSTR completedName = nullptr;
    LPWSTR baseDirectory = nullptr;
    LPWSTR candidate = nullptr;

    completedName = WithDllExtension(moduleName);
    if (completedName == nullptr)
        goto done;
    baseDirectory = IsBuildAtLeast(DRIVER_STORE_FALLBACK_BUILD) ? GetDriverStoreDirectory()
                                                                : CopySystemDirectory();
    if (baseDirectory == nullptr)
        goto done;
    candidate = JoinPath(baseDirectory, completedName);
    if (candidate == nullptr)
        goto done;
    if (IsExistingModuleFile(candidate)) {
        result = candidate;
        candidate = nullptr;
    } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
        SetLastError(ERROR_SUCCESS);
    }

done:
    LocalFree(candidate);
    LocalFree(baseDirectory);
    LocalFree(completedName);
    return result;
}

// Allocated absolute path of the module among the display driver's files, or
// null. Clears the last-error code on entry and when a path is returned;
// otherwise ERROR_BAD_ARGUMENTS for a null name or one with a separator, the
// code a failing step left (the route then fails the request), or
// ERROR_MOD_NOT_FOUND (the route then goes on to the system directory).
LPWSTR ResolveDriverModulePath(LPCWSTR moduleName)
{
    LPWSTR result = nullptr;
    LPWSTR found = nullptr;

    SetLastError(ERROR_SUCCESS);
    if (moduleName == nullptr || HasPathSeparator(moduleName)) {
        SetLastError(ERROR_BAD_ARGUMENTS);
        return nullptr;
    }

    found = SearchDriverModule(moduleName);
    if (found != nullptr)
        result = MakeFoundPathAbsolute(&found);
    else if (GetLastError() == ERROR_MOD_NOT_FOUND)
        result = ProbeDriverStore(moduleName);
    // Any other code from the search stays, and so does its failure.

    LocalFree(found);
    if (result != nullptr)
        SetLastError(ERROR_SUCCESS);
    else if (GetLastError() == ERROR_SUCCESS)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return result;
}
