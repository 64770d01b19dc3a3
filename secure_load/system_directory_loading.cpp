// The system-directory route: pinning the dependency libraries, then loading a
// module from the Windows system directory and nowhere else.
#include "secure_load/loader.h"
#include "secure_load/loader_state.h"
#include "secure_load/path_helpers.h"

DWORD CachedOsLevel = 0;
LONG PreloadResult = 1;
HMODULE DependencyHandles[DEPENDENCY_LIBRARY_COUNT] = {};
const WCHAR* const DependencyLibraries[DEPENDENCY_LIBRARY_COUNT] = {
    WSTR("msasn1.dll"), WSTR("cryptnet.dll"), WSTR("drvstore.dll"),
    WSTR("devobj.dll"), WSTR("wldp.dll"),     WSTR("cryptbase.dll")};

// The media foundation protected pipeline host pins nothing. Its image name is
// recognised by the last backslash followed by these characters.
static const char ProtectedPipelineImageName[] = "\\mfpmp.exe";
#define PROTECTED_PIPELINE_NAME_CHARS 10  // "\mfpmp.exe"
#define PROTECTED_PIPELINE_PREFIX_CHARS 7 // "\mfpmp.": the extension is not compared

// 1 when the process's own image is the protected pipeline host.
static int IsProtectedPipelineProcess(void)
{
    char imagePath[MAX_PATH] = {};
    DWORD count = GetModuleFileNameA(nullptr, imagePath, MAX_PATH);
    if (count == 0 || count < PROTECTED_PIPELINE_NAME_CHARS || count > MAX_PATH)
        return 0;
    DWORD start = count - 1;
    while (start >= 1 && imagePath[start] != '\\')
        start--;
    // start is 0 when no backslash was found from index 1 on. The compare stays
    // inside the buffer and stops at the first difference, the terminator included.
    for (DWORD i = 0; i < PROTECTED_PIPELINE_PREFIX_CHARS; ++i) {
        if (start + i >= MAX_PATH || imagePath[start + i] != ProtectedPipelineImageName[i])
            return 0;
    }
    return 1;
}

// Pins the six dependency libraries from the system directory, once.
// Returns PreloadResult: 0 when a library failed to load with a code other than
// ERROR_MOD_NOT_FOUND (that load's code is left), else 1. Absent libraries are
// passed over. Nothing is loaded in the protected pipeline host, nor once any
// dependency handle is set. With loadByFullPath each library is loaded by its
// full path with flags 0 (a path that cannot be built fails the chain, with the
// code the allocation left), else by bare name with LOAD_LIBRARY_SEARCH_SYSTEM32.
int PreloadSystemDependencies(int loadByFullPath)
{
    int index;

    // The image-name test runs on every call, before the handle test.
    if (IsProtectedPipelineProcess())
        return PreloadResult;
    for (index = 0; index < DEPENDENCY_LIBRARY_COUNT; ++index)
        if (DependencyHandles[index] != nullptr)
            return PreloadResult;

    PreloadResult = 0;
    for (index = 0; index < DEPENDENCY_LIBRARY_COUNT; ++index) {
        LPWSTR path = nullptr;
        DWORD code;
        if (loadByFullPath) {
            path = BuildSystemModulePath(DependencyLibraries[index]);
            if (path == nullptr)
                break;  // never the bare name without the system-directory flag
            DependencyHandles[index] = LoadLibraryExW(path, nullptr, 0);
        } else {
            DependencyHandles[index] =
                LoadLibraryExW(DependencyLibraries[index], nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        }
        code = GetLastError();
        LocalFree(path);
        if (DependencyHandles[index] == nullptr && code != ERROR_MOD_NOT_FOUND)
            break;
    }
    if (index == DEPENDENCY_LIBRARY_COUNT)
        PreloadResult = 1;
    return PreloadResult;
}

// Loads a module from the system directory only, after pinning the dependency
// libraries. Null on failure. Sets no last-error code of its own: the code is
// the one the failed load left (a dependency's, in the call in which the pinning
// failed; none at all when the pinning had failed in an earlier call).
HMODULE LoadSystemModule(LPCWSTR moduleName, DWORD flags)
{
    HMODULE module = nullptr;
    LPWSTR path = nullptr;

    flags &= ~LOAD_FLAGS_SEARCH_OVERRIDES;
    if (CachedOsLevel == 0)
        CachedOsLevel =
            PlatformBuildIsAtLeast(OS_LEVEL_WINDOWS_8) ? OS_LEVEL_WINDOWS_8 : OS_LEVEL_WINDOWS_7;

    if (PreloadSystemDependencies(CachedOsLevel < OS_LEVEL_WINDOWS_8) == 0)
        return nullptr;

    if (CachedOsLevel >= OS_LEVEL_WINDOWS_8)
        return LoadLibraryExW(moduleName, nullptr, flags | LOAD_LIBRARY_SEARCH_SYSTEM32);

    // Below Windows 8 the system-directory flag may be unknown: use the full path.
    // A path that cannot be built fails the request with the code its
    // allocation left: the bare name with these flags would be looked up along
    // the standard search order, the application's directory first.
    flags &= ~static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32);
    path = BuildSystemModulePath(moduleName);
    if (path == nullptr)
        return nullptr;
    module = LoadLibraryExW(path, nullptr, flags);
    LocalFree(path);
    return module;
}

// System directory, one backslash, name: an allocated wide string, or null (a
// null name, memory exhausted, or a system directory that cannot be read).
// Does not touch the last-error code beyond what the platform calls leave.
LPWSTR BuildSystemModulePath(LPCWSTR moduleName)
{
    LPWSTR path = nullptr;
    SIZE_T nameLength;
    UINT size;
    UINT count;

    if (moduleName == nullptr)
        return nullptr;
    size = GetSystemDirectoryW(nullptr, 0);
    if (size == 0)
        return nullptr;
    nameLength = StringLength(moduleName);
    path = static_cast<LPWSTR>(LocalAlloc(LPTR, (nameLength + size + 1) * sizeof(WCHAR)));
    if (path == nullptr)
        return nullptr;
    count = GetSystemDirectoryW(path, size);
    if (count == 0 || count >= size) {
        // The directory could not be read, or no longer fits.
        LocalFree(path);
        return nullptr;
    }
    if (path[count - 1] != '\\')
        path[count++] = '\\';
    for (SIZE_T i = 0; i < nameLength; ++i)
        path[count + i] = moduleName[i];
    return path;  // the zero fill terminates it
}

// The system directory as the platform gives it (no backslash added): an
// allocated wide string, or null with the code the platform left.
// Clears the last-error code on entry.
LPWSTR CopySystemDirectory(void)
{
    LPWSTR directory = nullptr;
    UINT size;
    UINT count;

    SetLastError(ERROR_SUCCESS);
    size = GetSystemDirectoryW(nullptr, 0);
    if (size == 0)
        return nullptr;
    directory = static_cast<LPWSTR>(LocalAlloc(LPTR, size * sizeof(WCHAR)));
    if (directory == nullptr)
        return nullptr;
    count = GetSystemDirectoryW(directory, size);
    if (count != 0 && count < size)
        return directory;
    LocalFree(directory);
    return nullptr;
}
