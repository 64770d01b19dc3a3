// Where the vendor-0x10DE display driver keeps its files on this machine: the
// directory of a user-mode driver module already loaded, the driver store path
// the kernel graphics subsystem reports for the adapter, and the driver store
// directory (adapter answer, or the device's INF location).
#pragma once

#include "platform/win32.h"

// User-mode driver modules probed by GetLoadedDriverDirectory, in order; ends
// with a null entry.
extern const WCHAR* const LoadedDriverModuleNames[];

// Fills the caller's zero-filled buffer of DIRECTORY_BUFFER_CHARS characters
// with the directory (no trailing backslash) of the first loaded module of
// LoadedDriverModuleNames whose file name is absolute; empty when none. Sets no
// last-error code of its own.
void GetLoadedDriverDirectory(WCHAR directory[DIRECTORY_BUFFER_CHARS]);

// Fills the caller's buffer of DIRECTORY_BUFFER_CHARS characters with the driver
// store path of the first vendor-0x10DE adapter, its "\SystemRoot\system32\"
// prefix replaced by the system directory; empty when there is no answer. A path
// that would not fit the buffer, or an answer without a terminator in its output
// area, is no answer. Sets no last-error code of its own (CopySystemDirectory,
// which clears it, runs once an answer has come).
void QueryAdapterDriverStorePath(WCHAR directory[DIRECTORY_BUFFER_CHARS]);

// Allocated driver store directory (no trailing backslash), or null. Clears the
// last-error code on success; ERROR_CALL_NOT_IMPLEMENTED below build 6000;
// otherwise what the failing platform call left (0 when it left none).
LPWSTR GetDriverStoreDirectory(void);
