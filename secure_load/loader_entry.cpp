// The loader entry: bare names only, then the driver route or the system
// directory.
#include "secure_load/loader.h"

#include "driver_location/driver_route.h"
#include "secure_load/full_path_loading.h"
#include "secure_load/path_helpers.h"

// The build from which "nv" modules may come from the display driver's files.
#define DRIVER_ROUTE_BUILD 14308u

// Loads a module by bare name from trusted places only. Null on failure, with
// the reason in the last-error code, which is cleared on entry:
// ERROR_BAD_ARGUMENTS for a null name or one with a backslash or slash (nothing
// else runs for it, not even the build test); otherwise what the driver route or
// the system-directory load left.
HMODULE LoadModuleSecure(LPCWSTR moduleName, DWORD flags)
{
    LPWSTR driverModulePath = nullptr;
    HMODULE module = nullptr;
    DWORD code;

    SetLastError(ERROR_SUCCESS);
    if (moduleName == nullptr || HasPathSeparator(moduleName)) {
        SetLastError(ERROR_BAD_ARGUMENTS);
        return nullptr;
    }

    // Evaluated for every request, before the flags are looked at: on a "no"
    // from the platform it reads the registry, which pins the dependencies.
    if (IsBuildAtLeast(DRIVER_ROUTE_BUILD) && (flags & LOAD_LIBRARY_SEARCH_SYSTEM32) == 0 &&
        AfterPrefixIgnoringCase(moduleName, WSTR("nv")) != nullptr) {
        driverModulePath = ResolveDriverModulePath(moduleName);
        code = GetLastError();
        if (driverModulePath != nullptr) {
            // No fallback after a failed load of what the driver route found.
            module = LoadModuleByFullPath(driverModulePath, flags);
            LocalFree(driverModulePath);
            return module;
        }
        // Only "found nothing" goes on to the system directory.
        if (code != ERROR_MOD_NOT_FOUND)
            return nullptr;
    }
    return LoadSystemModule(moduleName, flags);
}
