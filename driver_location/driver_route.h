// The loader's driver route: finding an "nv" module among the display driver's own files.
#pragma once

#include "platform/win32.h"

// Allocated absolute path of the requested module among the display driver's
// files, or null. Clears the last-error code on entry and when a path is
// returned; without a path the code says why, ERROR_MOD_NOT_FOUND when simply
// nothing was found.
LPWSTR ResolveDriverModulePath(LPCWSTR moduleName);
