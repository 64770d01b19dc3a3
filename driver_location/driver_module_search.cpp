// Finding a requested "nv" module among the display driver's own files.
#include "driver_location/driver_route.h"

#include "secure_load/path_helpers.h"

// Finds nothing yet: the search of the driver's files is still to come, so every
// well-formed request ends with null and ERROR_MOD_NOT_FOUND, which sends the
// loader on to the system directory.
// Clears the last-error code on entry; ERROR_BAD_ARGUMENTS for a null name or
// one with a path separator.
LPWSTR ResolveDriverModulePath(LPCWSTR moduleName)
{
    SetLastError(ERROR_SUCCESS);
    if (moduleName == nullptr || HasPathSeparator(moduleName)) {
        SetLastError(ERROR_BAD_ARGUMENTS);
        return nullptr;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}
