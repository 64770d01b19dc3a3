// Windows-side check of full-path loading against the real API (run under Wine
// or on Windows): GetFullPathNameW, SHGetFolderPathW and LoadLibraryExW as the
// system provides them.
//
//   trusted_path_check.exe [dll]
//
// Copies the DLL (default: version.dll from the system directory) into a new
// folder inside the Windows folder, another inside the Program Files folder,
// and another outside the trusted folders (the temp folder, or the system
// drive's root when the temp folder lies inside a trusted folder); then checks
// what LoadModuleByFullPath and IsTrustedModulePath do with those copies.
// Prints one line per check, "PASS name" or "FAIL name: detail", and exits 1
// if any check failed, 2 if the copies could not be set up. Writing into the
// Windows and Program Files folders needs an administrator on real Windows.
#include "secure_load/full_path_loading.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

typedef std::wstring Text;

const wchar_t FolderName[] = L"edidload_trust_check";
const wchar_t CopyName[] = L"trust_check.dll";

int Failures = 0;

std::string Utf8(const Text& text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], bytes, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

Text Widen(const char* text)
{
    int chars = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::vector<wchar_t> out(chars > 0 ? static_cast<size_t>(chars) : 1, L'\0');
    if (chars > 0)
        MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), chars);
    return Text(out.data());
}

void Report(bool passed, const char* name, const std::string& detail)
{
    if (passed) {
        std::printf("PASS %s\n", name);
    } else {
        std::printf("FAIL %s: %s\n", name, detail.c_str());
        ++Failures;
    }
    std::fflush(stdout);
}

Text WindowsDirectory()
{
    wchar_t buffer[MAX_PATH + 1] = {0};
    UINT length = GetWindowsDirectoryW(buffer, MAX_PATH + 1);
    return length == 0 || length > MAX_PATH ? Text() : Text(buffer);
}

Text SystemDirectory()
{
    wchar_t buffer[MAX_PATH + 1] = {0};
    UINT length = GetSystemDirectoryW(buffer, MAX_PATH + 1);
    return length == 0 || length > MAX_PATH ? Text() : Text(buffer);
}

Text TempDirectory()
{
    wchar_t buffer[MAX_PATH + 2] = {0};
    DWORD length = GetTempPathW(MAX_PATH + 2, buffer);
    Text path = length == 0 || length > MAX_PATH + 1 ? Text() : Text(buffer);
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

Text ShellFolder(int csidl)
{
    LPWSTR built = BuildShellFolderPath(csidl, L"");
    Text folder = built == nullptr ? Text() : Text(built);
    LocalFree(built);
    while (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    return folder;
}

wchar_t Lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool StartsWithIgnoringCase(const Text& text, const Text& prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != Lower(prefix[i]))
            return false;
    return true;
}

// The same path with every ASCII letter's case swapped and slashes for backslashes.
Text MixedForm(const Text& path)
{
    Text out = path;
    for (wchar_t& c : out) {
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
        else if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
        else if (c == L'\\')
            c = L'/';
    }
    return out;
}

// Copies the DLL into folder\edidload_trust_check\trust_check.dll; the copy's
// path, or empty when it could not be made.
Text PlaceCopy(const Text& dll, const Text& folder)
{
    if (folder.empty())
        return Text();
    Text directory = folder + L"\\" + FolderName;
    CreateDirectoryW(directory.c_str(), nullptr);
    Text copy = directory + L"\\" + CopyName;
    if (!CopyFileW(dll.c_str(), copy.c_str(), FALSE)) {
        std::printf("setup: cannot copy %s to %s (error %lu)\n", Utf8(dll).c_str(), Utf8(copy).c_str(),
                    static_cast<unsigned long>(GetLastError()));
        return Text();
    }
    return copy;
}

void RemoveCopy(const Text& copy)
{
    if (copy.empty())
        return;
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(copy.substr(0, copy.find_last_of(L'\\')).c_str());
}

void ExpectLoads(const char* name, const Text& path)
{
    HMODULE module = LoadModuleByFullPath(path.c_str(), 0);
    DWORD code = GetLastError();
    Report(module != nullptr, name, Utf8(path) + " was refused with error " + std::to_string(code));
    if (module != nullptr)
        FreeLibrary(module);
}

void ExpectRefused(const char* name, const Text& path, DWORD expectedCode)
{
    SetLastError(0xdeadbeef);
    HMODULE module = LoadModuleByFullPath(path.c_str(), 0);
    DWORD code = GetLastError();
    Report(module == nullptr && code == expectedCode, name,
           Utf8(path) + (module != nullptr ? " was loaded" : " gave error " + std::to_string(code)) +
               ", expected error " + std::to_string(expectedCode));
    if (module != nullptr)
        FreeLibrary(module);
}

// Positive control: the platform itself loads the file at this path, so a
// refusal above is the loader's and not a broken copy.
void ExpectPlatformLoads(const char* name, const Text& path)
{
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, 0);
    Report(module != nullptr, name,
           "the platform cannot load " + Utf8(path) + " (error " + std::to_string(GetLastError()) + ")");
    if (module != nullptr)
        FreeLibrary(module);
}

void ExpectTrust(const char* name, const Text& path, int expected)
{
    int trusted = IsTrustedModulePath(path.c_str());
    Report(trusted == expected, name, Utf8(path) + " judged " + std::to_string(trusted));
}

}  // namespace

int main(int argc, char** argv)
{
    Text windows = WindowsDirectory();
    Text system = SystemDirectory();
    Text dll = argc > 1 ? Widen(argv[1]) : system + L"\\version.dll";
    Text programFiles = ShellFolder(CSIDL_PROGRAM_FILES);
    Text programFilesX86 = ShellFolder(CSIDL_PROGRAM_FILESX86);
    std::printf("windows folder: %s\nprogram files: %s\nprogram files (x86): %s\ndll: %s\n",
                Utf8(windows).c_str(), Utf8(programFiles).c_str(), Utf8(programFilesX86).c_str(),
                Utf8(dll).c_str());

    // Outside the trusted folders: the temp folder unless it lies inside one.
    Text outsideFolder = TempDirectory();
    const Text trustedFolders[] = {windows, programFiles, programFilesX86};
    for (const Text& folder : trustedFolders)
        if (outsideFolder.empty() || (!folder.empty() && StartsWithIgnoringCase(outsideFolder, folder + L"\\")))
            outsideFolder = windows.substr(0, 2);  // the system drive's root

    std::printf("outside folder: %s\n", Utf8(outsideFolder).c_str());
    Text inWindows = PlaceCopy(dll, windows);
    Text inProgramFiles = PlaceCopy(dll, programFiles);
    Text outside = PlaceCopy(dll, outsideFolder);
    if (windows.empty() || inWindows.empty() || inProgramFiles.empty() || outside.empty()) {
        std::printf("FAIL setup: the copies could not be made\n");
        RemoveCopy(inWindows);
        RemoveCopy(inProgramFiles);
        RemoveCopy(outside);
        return 2;
    }

    // The shell's folder is the Windows folder, with one backslash added.
    LPWSTR shellWindows = BuildShellFolderPath(CSIDL_WINDOWS, L"");
    Report(shellWindows != nullptr && Text(shellWindows).size() == windows.size() + 1 &&
               StartsWithIgnoringCase(shellWindows, windows + L"\\"),
           "shell Windows folder is the Windows directory and a backslash",
           shellWindows == nullptr ? std::string("no folder") : Utf8(shellWindows));
    LocalFree(shellWindows);

    ExpectLoads("copy inside the Windows folder loads", inWindows);
    ExpectLoads("copy inside the Program Files folder loads", inProgramFiles);
    ExpectLoads("mixed case and forward slashes inside the Windows folder load", MixedForm(inWindows));
    ExpectTrust("mixed case and forward slashes inside the Windows folder are trusted", MixedForm(inWindows), 1);
    ExpectLoads("a double dot that stays inside the Windows folder loads",
                windows + L"\\" + FolderName + L"\\..\\" + FolderName + L"\\" + CopyName);

    ExpectRefused("copy outside the trusted folders is refused", outside, ERROR_BAD_PATHNAME);
    ExpectPlatformLoads("control: the platform loads the copy outside", outside);
    if (Lower(outside[0]) == Lower(windows[0]) && outside[1] == L':') {
        Text escape = windows + L"\\.." + outside.substr(2);
        ExpectRefused("a double dot out of the Windows folder is refused", escape, ERROR_BAD_PATHNAME);
        ExpectPlatformLoads("control: the platform loads the double-dot path", escape);
    } else {
        Report(false, "a double dot out of the Windows folder is refused",
               "the outside copy is not on the Windows folder's drive");
    }
    ExpectTrust("the Windows folder itself is not trusted", windows, 0);
    ExpectTrust("a sibling of the Windows folder is not trusted", windows + L"X\\" + CopyName, 0);
    ExpectRefused("a relative name is refused as a bad argument", CopyName, ERROR_BAD_ARGUMENTS);
    ExpectRefused("a drive-relative path is refused as a bad argument", windows.substr(0, 2) + CopyName,
                  ERROR_BAD_ARGUMENTS);

    RemoveCopy(inWindows);
    RemoveCopy(inProgramFiles);
    RemoveCopy(outside);
    std::printf("%s\n", Failures == 0 ? "all checks passed" : "some checks failed");
    return Failures == 0 ? 0 : 1;
}
