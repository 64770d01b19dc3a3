// A planted nvapi64.dll: when it is loaded it writes a marker file named by the
// environment variable EDIDLOAD_MARKER, holding the path it was loaded from.
// It offers no driver function.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    WCHAR markerPath[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"EDIDLOAD_MARKER", markerPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    HANDLE marker = CreateFileW(markerPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE)
        return TRUE;
    char modulePath[MAX_PATH + 2];
    DWORD pathLength = GetModuleFileNameA(instance, modulePath, MAX_PATH);
    modulePath[pathLength] = '\n';
    DWORD written = 0;
    WriteFile(marker, modulePath, pathLength + 1, &written, nullptr);
    CloseHandle(marker);
    return TRUE;
}
