// The state of the simulated Windows, shared by its implementation files.
#pragma once

#include "sim.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct SimModule {
    sim::Path path;  // full path as registered
    int references;  // 0: not loaded
};

struct SimKey {
    std::string keyId;  // normalised "root\path" of the open key
};

namespace sim {

struct FileEntry {
    Path path;
    DWORD attributes;
    bool isModule;
    std::map<std::string, FARPROC> exports;
    DWORD loadFailure;
    SimModule* module;  // created at the first load, kept for the process
};

struct RegistryValue {
    Path name;
    DWORD type;
    std::vector<uint8_t> data;
    DWORD growAfterSizeQuery;
    DWORD retypeAfterSizeQuery;  // REG_NONE: keeps its type
};

struct RegistryKey {
    std::vector<RegistryValue> values;  // in creation order, as enumeration gives them
    DWORD enumFailure = 0;                    // RegEnumValueW status for every index, 0 none
    std::map<DWORD, DWORD> enumFailureAt;     // index -> RegEnumValueW status
};

struct World {
    DWORD lastError = 0;
    DWORD major = 10, minor = 0, build = 19045;
    WORD servicePackMajor = 0;

    std::map<std::string, FileEntry> files;  // key: Fold(path)
    Path systemDirectory = u"C:\\Windows\\system32";
    bool systemDirectoryFails = false;
    Path imagePath = u"C:\\Tools\\edidload.exe";
    Path currentDirectory = u"C:\\Work";
    std::map<int, Path> shellFolders;

    std::map<std::string, RegistryKey> registry;  // key: Fold("HKLM\\path")
    int openKeys = 0;

    size_t allocations = 0;
    size_t failAt = 0;  // absolute allocation number that fails, 0 none
    std::map<void*, size_t> liveBlocks;

    int criticalSectionsHeld = 0;
    std::vector<std::string> log;
};

World& TheWorld();
void Log(const std::string& line);
std::string Fold(const Path& path);  // lower-case ASCII, UTF-8
std::string Hex(uint64_t value);
std::string RootName(HKEY root);
Path NormalForm(const Path& path);  // full path, backslashes, no "." or ".."; empty if impossible
FileEntry* FindFile(const Path& fullPath);

// A function as an export (GetProcAddress hands out FARPROC).
template <typename Function>
FARPROC AsExport(Function function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

// Exports of the system libraries the simulated Windows provides.
Exports RegistryExports();
Exports ServiceExports();      // service control manager, also in "Advapi32.dll"
Exports ShellExports();
Exports SetupApiExports();     // "Setupapi.dll"
Exports KernelGraphicsExports();  // "gdi32.dll"

}  // namespace sim
