// Loading a module by full path, only from inside the trusted folders.
#include "full_path_loading.h"

#include "late_bound.h"
#include "path_helpers.h"

// The trust test's version check: filled by the first IsTrustedModulePath
// (the size field then marks it done), never reset.
OSVERSIONINFOEXW CachedWin7VersionRecord;
int32_t CachedIsPreWin7;

// The trusted folders, in the order they are tried.
static const int TrustedFolders[] = {CSIDL_WINDOWS, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86};

// Runs the version test once per process.
static void TestWin7OnceOnly(void)
{
    if (CachedWin7VersionRecord.dwOSVersionInfoSize != 0)
        return;
    CachedWin7VersionRecord.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    CachedWin7VersionRecord.dwMajorVersion = 6;
    CachedWin7VersionRecord.dwMinorVersion = 1;
    CachedWin7VersionRecord.wServicePackMajor = 0;
    ULONGLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    CachedIsPreWin7 = VerifyVersionInfoW(&CachedWin7VersionRecord,
                                         VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                                         mask)
                          ? 0
                          : 1;
}

HMODULE LoadModuleByFullPath(LPCWSTR path, DWORD flags)
{
    SetLastError(ERROR_SUCCESS);
    if (!IsAbsolutePath(path)) {
        SetLastError(ERROR_BAD_ARGUMENTS);
        return nullptr;
    }
    if (!IsTrustedModulePath(path)) {
        SetLastError(ERROR_BAD_PATHNAME);
        return nullptr;
    }
    return LoadLibraryExW(path, nullptr, flags & ~LOAD_FLAGS_SEARCH_OVERRIDES);
}

int IsTrustedModulePath(LPCWSTR path)
{
    int trusted = 0;
    LPWSTR fullPath = nullptr;
    LPWSTR folder = nullptr;
    DWORD needed = 0;

    TestWin7OnceOnly();
    if (CachedIsPreWin7 == 1)
        return 1;
    if (path == nullptr)
        return 0;

    needed = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (needed == 0)
        goto done;
    fullPath = static_cast<LPWSTR>(LocalAlloc(LPTR, static_cast<SIZE_T>(needed) * sizeof(WCHAR)));
    if (fullPath == nullptr)
        goto done;
    // A path that grew between the two calls is not judged. A 0 leaves the
    // buffer empty, which lies inside no folder.
    if (GetFullPathNameW(path, needed, fullPath, nullptr) >= needed)
        goto done;

    // The search stops at the first folder that cannot be obtained.
    for (int csidl : TrustedFolders) {
        folder = BuildShellFolderPath(csidl, WSTR(""));
        if (folder == nullptr)
            goto done;
        // The folder string ends with a backslash: only paths inside it match.
        if (AfterPrefixIgnoringCase(fullPath, folder) != nullptr) {
            trusted = 1;
            goto done;
        }
        LocalFree(folder);
        folder = nullptr;
    }

done:
    LocalFree(folder);
    LocalFree(fullPath);
    return trusted;
}

LPWSTR BuildShellFolderPath(int csidl, LPCWSTR tail)
{
    static const WCHAR Backslash[] = WSTR("\\");
    WCHAR folder[DIRECTORY_BUFFER_CHARS] = {0};
    LPWSTR result = nullptr;
    size_t folderLength = 0;
    size_t tailLength = 0;
    size_t capacity = 0;

    if (tail == nullptr)
        return nullptr;
    if (!BindSystemLibrary(&LateBoundSystemFunctions.Shell32, SHELL32_LIBRARY) ||
        !BindSystemFunction(LateBoundSystemFunctions.Shell32, &LateBoundSystemFunctions.SHGetFolderPathW,
                            "SHGetFolderPathW"))
        return nullptr;
    if (LateBoundSystemFunctions.SHGetFolderPathW(nullptr, csidl, nullptr, 0, folder) != 0)
        return nullptr;
    // An empty answer is no folder: as "\" it would make every rooted path trusted.
    if (folder[0] == 0)
        return nullptr;

    folderLength = StringLength(folder);
    tailLength = StringLength(tail);
    capacity = folderLength + tailLength + 2;
    result = static_cast<LPWSTR>(LocalAlloc(LPTR, capacity * sizeof(WCHAR)));
    if (result != nullptr && (!CopyStringBounded(result, capacity, folder) ||
                              !AppendStringBounded(result, capacity, Backslash) ||
                              !AppendStringBounded(result, capacity, tail))) {
        LocalFree(result);
        result = nullptr;
    }
    return result;
}
