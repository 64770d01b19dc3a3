// The loader entry and the system-directory route.
#pragma once

#include "platform/win32.h"

// Loads a module by bare name from trusted places only. Null on failure, with
// the reason in the last-error code (cleared on entry).
HMODULE LoadModuleSecure(LPCWSTR moduleName, DWORD flags);
// Pins the system libraries once, then loads the module from the system directory.
HMODULE LoadSystemModule(LPCWSTR moduleName, DWORD flags);
int PreloadSystemDependencies(int loadByFullPath);
int IsBuildAtLeast(DWORD buildNumber);
LONG ReadRegistryValue(HKEY key, LPCWSTR valueName, DWORD* type, BYTE** data);
// Zero bytes to allocate beyond data of the given type and size so that a
// string (one wide terminator) or a string list (two) read into the block is
// closed even when the stored data lacks its own: 2 for REG_SZ and
// REG_EXPAND_SZ, 4 for REG_MULTI_SZ, one more for an odd size; 0 otherwise.
SIZE_T TerminatorSlack(DWORD type, DWORD size);
LPWSTR BuildSystemModulePath(LPCWSTR moduleName);
LPWSTR CopySystemDirectory(void);
