// Loading a module by full path, only from inside the trusted folders: the
// Windows folder, the Program Files folder and the 32-bit Program Files folder.
#pragma once

#include "platform/win32.h"

#include <cstdint>

// Loads an absolute path that lies inside a trusted folder, with the flags
// 0x1708 cleared. Clears the last-error code on entry; null with
// ERROR_BAD_ARGUMENTS for a path that is not absolute, ERROR_BAD_PATHNAME for
// one that is not trusted, else the load's own result and code. The path stays
// the caller's.
HMODULE LoadModuleByFullPath(LPCWSTR path, DWORD flags);

// 1 when the normal form of the path lies inside a trusted folder, at any
// depth, or when the running Windows is older than 6.1 SP0 (then without
// looking at the path); 0 otherwise and on any failure. Sets no code of its own.
int IsTrustedModulePath(LPCWSTR path);

// The shell folder's path, one backslash (always), and the tail, as an
// allocated wide string. Null for a null tail (Shell32.dll is then not
// touched), an unavailable folder or a failed allocation. Sets no code of its own.
LPWSTR BuildShellFolderPath(int csidl, LPCWSTR tail);

// The trust test's version check, filled by the first IsTrustedModulePath and
// never reset. The record's size field is 0 until then, 284 afterwards.
extern OSVERSIONINFOEXW CachedWin7VersionRecord;
extern int32_t CachedIsPreWin7;  // 1: older than 6.1 SP0, every path trusted
