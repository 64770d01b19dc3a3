// Shapes of the system functions that the loader reaches through
// LateBoundSystemFunctions (GetProcAddress on a library loaded from the system
// directory), never through an import library. Same declarations in both builds.
#pragma once

typedef LSTATUS(WINAPI* RegOpenKeyExWFn)(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access,
                                         HKEY* result);
typedef LSTATUS(WINAPI* RegQueryValueExWFn)(HKEY key, LPCWSTR valueName, LPDWORD reserved,
                                            LPDWORD type, LPBYTE data, LPDWORD dataSize);
typedef LSTATUS(WINAPI* RegEnumValueWFn)(HKEY key, DWORD index, LPWSTR valueName,
                                         LPDWORD valueNameChars, LPDWORD reserved, LPDWORD type,
                                         LPBYTE data, LPDWORD dataSize);
typedef LSTATUS(WINAPI* RegCloseKeyFn)(HKEY key);

typedef LONG(WINAPI* SHGetFolderPathWFn)(HWND owner, int csidl, HANDLE token, DWORD flags,
                                         LPWSTR path);
