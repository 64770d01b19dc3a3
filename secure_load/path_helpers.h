// Small operations on wide strings shared by the loader and the driver-location
// code. None of them sets or clears the last-error code. Produced strings are
// allocated wide strings (LocalAlloc, LPTR) that the caller frees with LocalFree.
#pragma once

#include "platform/win32.h"

#include <cstdint>

// 1 if the string holds a backslash or a forward slash anywhere; null gives 0.
int HasPathSeparator(LPCWSTR text);
// 1 for "\...", "/...", and "X:\" or "X:/" with X an ASCII letter; null gives 0.
int IsAbsolutePath(LPCWSTR text);
// 1 if the file that the path's last component names is the module; a missing
// extension stands for ".dll". Only the backslash separates components.
int ModuleNamesMatch(LPCWSTR path, LPCWSTR moduleName);
LPWSTR DuplicateString(LPCWSTR text);
LPWSTR DuplicateStringN(LPCWSTR text, int64_t count);
LPWSTR WithDllExtension(LPCWSTR moduleName);
LPWSTR JoinPath(LPCWSTR first, LPCWSTR second);
