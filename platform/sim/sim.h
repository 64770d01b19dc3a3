// Programming the simulated Windows from a test.
//
// The simulated Windows starts as a plain 64-bit Windows 10 machine:
//   - version 10.0 service pack 0; VerifyVersionInfoW answers for build 19045;
//   - registry HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion "CurrentBuildNumber" = "19045";
//   - Windows folder C:\Windows, system directory C:\Windows\system32,
//     C:\Program Files and C:\Program Files (x86);
//   - the process image C:\Tools\edidload.exe, current directory C:\Work;
//   - in the system directory: the six libraries the loader pins, Advapi32.dll
//     (registry functions), Shell32.dll (SHGetFolderPathW), kernel32.dll;
//   - no GPU driver module (a test installs one, see tests/driver_double).
// Every test runs in its own process, so each starts from this machine.
//
// Paths are compared without regard to ASCII letter case, as NTFS does.
#pragma once

#include "win32_sim.h"

#include <string>
#include <utility>
#include <vector>

namespace sim {

typedef std::u16string Path;

// ---- version answers
// What VerifyVersionInfoW compares with (major, minor, service pack major, build).
void SetVersion(DWORD major, DWORD minor, WORD servicePackMajor, DWORD build);

// ---- files and modules
// A file that exists (GetFileAttributesW answers attributes); parents become directories.
void AddFile(const Path& path, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
void AddDirectory(const Path& path);
void RemoveFile(const Path& path);
// A loadable module at a full path, with its exports.
typedef std::vector<std::pair<std::string, FARPROC>> Exports;
void AddModule(const Path& path, const Exports& exports = Exports());
// Make loading this full path fail with the given code (ERROR_ACCESS_DENIED, ...).
void SetLoadFailure(const Path& path, DWORD error);
// Remove one export from a module file (GetProcAddress then answers null).
void RemoveExport(const Path& path, const std::string& exportName);
// Is a module of this full path loaded now?
bool IsLoaded(const Path& path);

// ---- well-known places
Path SystemDirectory();              // C:\Windows\system32 unless changed
void SetSystemDirectory(const Path& directory);
void SetSystemDirectoryFails(bool fails);  // GetSystemDirectoryW answers 0
void SetImagePath(const Path& path);       // the process's own image (GetModuleFileName*(NULL))
void SetCurrentDirectory(const Path& directory);
Path CurrentDirectory();
// Shell folder by CSIDL; an empty path makes the folder unavailable.
void SetShellFolder(int csidl, const Path& path);

// ---- registry (keys are paths under a root, compared without case)
void SetRegistryValue(HKEY root, const Path& key, const Path& name, DWORD type,
                      const void* data, DWORD bytes);
// A string value written with its terminator (REG_SZ, REG_EXPAND_SZ).
void SetRegistryString(HKEY root, const Path& key, const Path& name, const Path& text,
                       DWORD type = REG_SZ);
// A REG_MULTI_SZ value: each string with its terminator, then one more.
void SetRegistryMultiString(HKEY root, const Path& key, const Path& name,
                            const std::vector<Path>& strings);
void AddRegistryKey(HKEY root, const Path& key);
void DeleteRegistryValue(HKEY root, const Path& key, const Path& name);
void DeleteRegistryKey(HKEY root, const Path& key);
// The value grows by the given number of bytes right after its next size query.
void GrowRegistryValueAfterSizeQuery(HKEY root, const Path& key, const Path& name, DWORD bytes);
// The value takes another type (same data) right after its next size query.
void RetypeRegistryValueAfterSizeQuery(HKEY root, const Path& key, const Path& name, DWORD type);
// RegEnumValueW on the key fails with the status at every index (as for a key
// deleted during the walk); 0 cancels.
void SetEnumValueFailure(HKEY root, const Path& key, DWORD status);
// RegEnumValueW on the key fails with the status at this one index; 0 cancels.
void SetEnumValueFailureAt(HKEY root, const Path& key, DWORD index, DWORD status);
// Keys that are open now (every RegOpenKeyExW not yet closed).
int OpenRegistryKeys();

// ---- local heap
size_t LiveBlocks();                 // blocks from LocalAlloc not yet freed
size_t AllocationCount();            // LocalAlloc calls so far, failed ones included
size_t BlockBytes(const void* block); // size asked for a live block, 0 if it is not live
// Make the n-th LocalAlloc from now (1 = the next) fail with ERROR_NOT_ENOUGH_MEMORY.
// 0 cancels.
void FailAllocation(size_t nth);

// ---- critical sections
int CriticalSectionsHeld();          // EnterCriticalSection not yet left, over all sections

// ---- call log: one line per platform call, "Name arg arg ..." (paths as UTF-8)
//   LoadLibraryExW <name> 0x<flags>       GetProcAddress <module file name> <export>
//   FreeLibrary <path>                     GetModuleFileNameA / GetModuleFileNameW <path>
//   GetModuleHandleW <name>                VerifyVersionInfoW 0x<typeMask> <build>
//   GetSystemDirectoryW <size>             GetFullPathNameW <path> <size>
//   GetFileAttributesW <path>              RegOpenKeyExW <key> 0x<access>
//   RegQueryValueExW <name> <data?>        RegEnumValueW <index>   RegCloseKey
//   SHGetFolderPathW 0x<csidl>
// (LocalAlloc, LocalFree and the last-error code are not logged.)
const std::vector<std::string>& CallLog();
void ClearCallLog();
// Lines that begin with the given text.
std::vector<std::string> CallsStartingWith(const std::string& prefix);
size_t CountCalls(const std::string& prefix);

// UTF-16 to UTF-8 (ASCII is all the tests use) and back.
std::string Narrow(const WCHAR* text);
Path Widen(const std::string& text);

}  // namespace sim
