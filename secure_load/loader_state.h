// Process-wide state of the loader entry and the system-directory route.
//
// Plain process-wide variables, used from one thread at a time, filled on first
// need and never reset; nothing here is ever released (the pinned libraries stay
// loaded for the life of the process). LateBoundSystemFunctions is declared in
// late_bound.h.
#pragma once

#include "platform/win32.h"

// The libraries the system-directory route pins before its first load.
#define DEPENDENCY_LIBRARY_COUNT 6

// The two OS levels of the system-directory route: from Windows 8 on, a load may
// ask for the system directory with LOAD_LIBRARY_SEARCH_SYSTEM32; below it the
// module is loaded by its full path in the system directory.
#define OS_LEVEL_WINDOWS_8 9200u
#define OS_LEVEL_WINDOWS_7 7600u

// Windows build number parsed from the registry by IsBuildAtLeast; 0 until a
// nonzero number has been parsed, then fixed.
extern DWORD CachedBuildNumber;

// 0 until the first LoadSystemModule, then OS_LEVEL_WINDOWS_8 or
// OS_LEVEL_WINDOWS_7 for the life of the process.
extern DWORD CachedOsLevel;

// Starts at 1 (nothing to pin is success); PreloadSystemDependencies sets 0 when
// it starts a chain and 1 when all six libraries were passed.
extern LONG PreloadResult;

// One handle per dependency library, in the order of DependencyLibraries; set
// by PreloadSystemDependencies, null included, never freed.
extern HMODULE DependencyHandles[DEPENDENCY_LIBRARY_COUNT];
extern const WCHAR* const DependencyLibraries[DEPENDENCY_LIBRARY_COUNT];

// The platform's own answer (VerifyVersionInfoW, build number only, greater or
// equal) to whether the running build is at least buildNumber. No cache, no
// registry. Leaves what VerifyVersionInfoW left in the last-error code.
int PlatformBuildIsAtLeast(DWORD buildNumber);
