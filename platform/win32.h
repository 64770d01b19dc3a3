// The one door through which the logic reaches Windows.
//
// In the windows build this is the real Win32 API (<windows.h>); in the native
// build the same names are declared by the project and implemented by the
// simulated Windows in platform/sim/. Logic files include this header only and
// never test which of the two they run on.
//
// Wide string literals are written WSTR("text"): L"text" on Windows, where
// WCHAR is the 16-bit wchar_t, and u"text" natively, where WCHAR is char16_t.
#pragma once

#ifdef _WIN32
#include "win32_real.h"
#else
#include "sim/win32_sim.h"
#endif

#include "late_bound_types.h"

// Bits the loader strips from every request before it reaches LoadLibraryExW:
// LOAD_WITH_ALTERED_SEARCH_PATH and the four search-directory bits other than
// LOAD_LIBRARY_SEARCH_SYSTEM32.
#define LOAD_FLAGS_SEARCH_OVERRIDES 0x1708u

// Characters of a directory buffer: MAX_PATH plus one.
#define DIRECTORY_BUFFER_CHARS 261
