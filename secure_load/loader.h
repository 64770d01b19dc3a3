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
LPWSTR BuildSystemModulePath(LPCWSTR moduleName);
LPWSTR CopySystemDirectory(void);
