// The process-wide table of late-bound system libraries and functions.
#include "secure_load/late_bound.h"

#include "secure_load/loader.h"

LateBoundSystemFunctionTable LateBoundSystemFunctions = {};

// A null slot is loaded through the system-directory route with flags 0, and
// the result stored, null included, so a missing library is tried again at the
// next need. Leaves the failed load's last-error code.
int BindSystemLibrary(HMODULE* slot, LPCWSTR libraryName)
{
    if (*slot == nullptr)
        *slot = LoadSystemModule(libraryName, 0);
    return *slot != nullptr;
}
