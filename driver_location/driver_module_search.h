// The driver module search: where the display driver keeps a requested "nv"
// module, found in the directory of its loaded user-mode driver or its driver
// store, among its service and filter drivers, and in the module lists it keeps
// in the registry. ResolveDriverModulePath (driver_route.h) turns what the
// search finds into an absolute path for the loader's driver route.
//
// Last-error code: SearchDriverModule and ResolveDriverModulePath clear it on
// entry and when they return a path; without a path it holds the code the
// failing step left, or ERROR_MOD_NOT_FOUND when no step left one. Within the
// search the code is the only memory of failure: a step that leaves one ends it.
#pragma once

#include "driver_location/driver_route.h"
#include "platform/win32.h"

// Lists of names, each ended by a null entry.
// Values under the display driver's class key that name its user-mode modules.
extern const WCHAR* const DriverModuleValueNames[];
// Keys (under HKEY_LOCAL_MACHINE) whose value names are driver module paths.
extern const WCHAR* const KhronosDriverListKeys[];
// Values under the display driver's class key that name its support modules.
extern const WCHAR* const SupportModuleValueNames[];
// Prefixes of a found path that stand for the system directory.
extern const WCHAR* const SystemDirectoryPrefixes[];

// A key whose value enumeration fails this many times in a row with one and
// the same status (other than ERROR_NO_MORE_ITEMS) is given up, so that a key
// deleted during the walk cannot keep it going for ever.
#define VALUE_ENUMERATION_FAILURE_LIMIT 16

// Allocated path of the requested module as it was found: absolute, relative
// with separators, or a bare name. Null with the reason in the last-error code:
// ERROR_BAD_ARGUMENTS for a null name or one with a path separator, the code a
// failing step left, or ERROR_MOD_NOT_FOUND. Clears the code on entry and when
// a path is returned.
LPWSTR SearchDriverModule(LPCWSTR moduleName);

// Allocated absolute path from the first value of the list (under the opened
// subkey of root) that names the module: a REG_SZ naming it, or the first such
// string of a REG_MULTI_SZ. A match that is not absolute is dropped (null,
// without a code). Sets ERROR_INVALID_DATA for each value of another type, a
// value without data included, and goes on; never clears the code. A key that
// cannot be opened or a missing value sets nothing.
LPWSTR FindModuleInRegistryValues(LPCWSTR moduleName, HKEY root, LPCWSTR subKeyPath,
                                  const WCHAR* const* valueNames);

// Allocated copy of the first value name, under the keys of the list in order,
// that names the module, exactly as the registry holds it (not tested for being
// absolute); null when none does. Sets no last-error code: keys that cannot be
// opened and enumeration failures are passed over.
LPWSTR FindModuleInRegistryValueNames(LPCWSTR moduleName, HKEY root,
                                      const WCHAR* const* keyPaths);
