// The simulated kernel library: last-error code, modules, files, paths,
// version answers, critical sections, and the call log.
#include "world.h"

#include <cstdio>
#include <cstring>

namespace sim {

static World* TheWorldInstance = nullptr;

static void AddDefaultMachine(World& w)
{
    w.shellFolders[CSIDL_WINDOWS] = u"C:\\Windows";
    w.shellFolders[CSIDL_PROGRAM_FILES] = u"C:\\Program Files";
    w.shellFolders[CSIDL_PROGRAM_FILESX86] = u"C:\\Program Files (x86)";
}

World& TheWorld()
{
    if (TheWorldInstance == nullptr) {
        TheWorldInstance = new World();
        World& w = *TheWorldInstance;
        AddDefaultMachine(w);
        AddDirectory(u"C:\\Tools");
        AddDirectory(u"C:\\Work");
        AddDirectory(u"C:\\Program Files");
        AddDirectory(u"C:\\Program Files (x86)");
        AddFile(w.imagePath);
        const char16_t* pinned[] = {u"msasn1.dll", u"cryptnet.dll", u"drvstore.dll",
                                    u"devobj.dll", u"wldp.dll", u"cryptbase.dll", u"kernel32.dll"};
        for (const char16_t* name : pinned)
            AddModule(w.systemDirectory + u"\\" + name);
        AddModule(w.systemDirectory + u"\\Advapi32.dll", RegistryExports());
        AddModule(w.systemDirectory + u"\\Advapi32.dll", ServiceExports());
        AddModule(w.systemDirectory + u"\\Shell32.dll", ShellExports());
        AddModule(w.systemDirectory + u"\\Setupapi.dll", SetupApiExports());
        AddModule(w.systemDirectory + u"\\gdi32.dll", KernelGraphicsExports());
        SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                          u"CurrentBuildNumber", u"19045");
    }
    return *TheWorldInstance;
}

void Log(const std::string& line) { TheWorld().log.push_back(line); }

std::string Narrow(const WCHAR* text)
{
    std::string out;
    if (text == nullptr)
        return "(null)";
    for (; *text != 0; ++text) {
        char16_t c = *text;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            char buffer[12];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
            out += buffer;
        }
    }
    return out;
}

Path Widen(const std::string& text)
{
    Path out;
    for (unsigned char c : text)
        out += static_cast<char16_t>(c);
    return out;
}

std::string Fold(const Path& path)
{
    Path lower = path;
    for (char16_t& c : lower)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    return Narrow(lower.c_str());
}

std::string Hex(uint64_t value)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
    return buffer;
}

static bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
static bool IsDriveLetter(char16_t c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// Splits the part after the root into components, resolving "." and "..".
static void AppendComponents(const Path& rest, std::vector<Path>& parts)
{
    Path part;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || rest[i] == u'\\') {
            if (part == u"..") {
                if (!parts.empty())
                    parts.pop_back();
            } else if (!part.empty() && part != u".") {
                parts.push_back(part);
            }
            part.clear();
        } else {
            part += rest[i];
        }
    }
}

Path NormalForm(const Path& input)
{
    World& w = TheWorld();
    if (input.empty())
        return Path();
    Path path = input;
    for (char16_t& c : path)
        if (c == u'/')
            c = u'\\';
    Path root;
    Path rest;
    std::vector<Path> parts;
    if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
        // \\server\share\rest: the server and share stay as the root.
        size_t server = path.find(u'\\', 2);
        size_t share = server == Path::npos ? Path::npos : path.find(u'\\', server + 1);
        root = share == Path::npos ? path : path.substr(0, share);
        rest = share == Path::npos ? Path() : path.substr(share);
    } else if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == u':') {
        root = path.substr(0, 2);
        rest = path.substr(2);
        if (rest.empty() || rest[0] != u'\\') {
            // Drive-relative: against the current directory on its own drive, else the root.
            Path current = w.currentDirectory;
            if (Fold(current.substr(0, 2)) == Fold(root))
                rest = current.substr(2) + u"\\" + rest;
            else
                rest = u"\\" + rest;
        }
    } else if (path[0] == u'\\') {
        root = w.currentDirectory.substr(0, 2);
        rest = path;
    } else {
        root = w.currentDirectory.substr(0, 2);
        rest = w.currentDirectory.substr(2) + u"\\" + path;
    }
    AppendComponents(rest, parts);
    Path result = root;
    for (const Path& part : parts)
        result += u"\\" + part;
    bool trailing = IsSeparator(input.back()) || parts.empty();
    if (trailing)
        result += u"\\";
    return result;
}

FileEntry* FindFile(const Path& fullPath)
{
    World& w = TheWorld();
    Path key = fullPath;
    while (key.size() > 3 && key.back() == u'\\')
        key.pop_back();
    auto found = w.files.find(Fold(key));
    return found == w.files.end() ? nullptr : &found->second;
}

static Path ParentOf(const Path& path)
{
    size_t slash = path.find_last_of(u'\\');
    if (slash == Path::npos || slash < 3)
        return path.size() > 3 ? path.substr(0, 3) : Path();
    return path.substr(0, slash);
}

void AddDirectory(const Path& path)
{
    Path full = NormalForm(path);
    while (full.size() > 3 && full.back() == u'\\')
        full.pop_back();
    World& w = TheWorld();
    if (full.size() > 3)
        AddDirectory(ParentOf(full));
    FileEntry& entry = w.files[Fold(full)];
    entry.path = full;
    entry.attributes = FILE_ATTRIBUTE_DIRECTORY;
}

void AddFile(const Path& path, DWORD attributes)
{
    Path full = NormalForm(path);
    AddDirectory(ParentOf(full));
    FileEntry& entry = TheWorld().files[Fold(full)];
    entry.path = full;
    entry.attributes = attributes;
}

void RemoveFile(const Path& path) { TheWorld().files.erase(Fold(NormalForm(path))); }

void AddModule(const Path& path, const Exports& exports)
{
    AddFile(path);
    FileEntry& entry = *FindFile(NormalForm(path));
    entry.isModule = true;
    for (const auto& e : exports)
        entry.exports[e.first] = e.second;
}

void SetLoadFailure(const Path& path, DWORD error)
{
    FileEntry* entry = FindFile(NormalForm(path));
    if (entry != nullptr)
        entry->loadFailure = error;
}

void RemoveExport(const Path& path, const std::string& exportName)
{
    FileEntry* entry = FindFile(NormalForm(path));
    if (entry != nullptr)
        entry->exports.erase(exportName);
}

bool IsLoaded(const Path& path)
{
    FileEntry* entry = FindFile(NormalForm(path));
    return entry != nullptr && entry->module != nullptr && entry->module->references > 0;
}

Path SystemDirectory() { return TheWorld().systemDirectory; }
void SetSystemDirectory(const Path& directory) { TheWorld().systemDirectory = directory; }
void SetSystemDirectoryFails(bool fails) { TheWorld().systemDirectoryFails = fails; }
void SetImagePath(const Path& path) { TheWorld().imagePath = path; }
void SetCurrentDirectory(const Path& directory)
{
    AddDirectory(directory);
    TheWorld().currentDirectory = directory;
}
Path CurrentDirectory() { return TheWorld().currentDirectory; }
void SetShellFolder(int csidl, const Path& path) { TheWorld().shellFolders[csidl] = path; }

void SetVersion(DWORD major, DWORD minor, WORD servicePackMajor, DWORD build)
{
    World& w = TheWorld();
    w.major = major;
    w.minor = minor;
    w.servicePackMajor = servicePackMajor;
    w.build = build;
}

int CriticalSectionsHeld() { return TheWorld().criticalSectionsHeld; }

const std::vector<std::string>& CallLog() { return TheWorld().log; }
void ClearCallLog() { TheWorld().log.clear(); }

std::vector<std::string> CallsStartingWith(const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& line : TheWorld().log)
        if (line.compare(0, prefix.size(), prefix) == 0)
            found.push_back(line);
    return found;
}

size_t CountCalls(const std::string& prefix) { return CallsStartingWith(prefix).size(); }

// ---- module search

static bool HasExtension(const Path& name)
{
    size_t dot = name.find_last_of(u'.');
    size_t slash = name.find_last_of(u"\\/");
    return dot != Path::npos && (slash == Path::npos || dot > slash);
}

static Path BaseName(const Path& path)
{
    size_t slash = path.find_last_of(u"\\/");
    return slash == Path::npos ? path : path.substr(slash + 1);
}

static Path DirectoryOf(const Path& path)
{
    size_t slash = path.find_last_of(u'\\');
    return slash == Path::npos ? Path() : path.substr(0, slash);
}

// Directories searched for a bare module name under the given flags.
static std::vector<Path> SearchDirectories(DWORD flags)
{
    World& w = TheWorld();
    Path applicationDirectory = DirectoryOf(w.imagePath);
    Path windowsDirectory = w.shellFolders[CSIDL_WINDOWS];
    std::vector<Path> directories;
    DWORD searchBits = flags & (LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                                LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (searchBits == 0) {
        // The standard search order: the application's directory, the system
        // directory, the Windows directory, the current directory.
        directories = {applicationDirectory, w.systemDirectory, windowsDirectory,
                       w.currentDirectory};
        return directories;
    }
    if (flags & (LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS))
        directories.push_back(applicationDirectory);
    if (flags & (LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS))
        directories.push_back(w.systemDirectory);
    return directories;
}

static HMODULE LoadFile(FileEntry& entry)
{
    if (entry.loadFailure != 0) {
        TheWorld().lastError = entry.loadFailure;
        return nullptr;
    }
    if (!entry.isModule) {
        TheWorld().lastError = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_ACCESS_DENIED
                                                                            : 193L;  // bad exe format
        return nullptr;
    }
    if (entry.module == nullptr)
        entry.module = new SimModule{entry.path, 0};
    entry.module->references++;
    return entry.module;
}

static FileEntry* LoadedByBaseName(const Path& name)
{
    for (auto& f : TheWorld().files) {
        FileEntry& entry = f.second;
        if (entry.module != nullptr && entry.module->references > 0 &&
            Fold(BaseName(entry.path)) == Fold(name))
            return &entry;
    }
    return nullptr;
}

}  // namespace sim

using namespace sim;

void WINAPI SetLastError(DWORD code) { TheWorld().lastError = code; }
DWORD WINAPI GetLastError(void) { return TheWorld().lastError; }

HMODULE WINAPI LoadLibraryExW(LPCWSTR name, HANDLE, DWORD flags)
{
    World& w = TheWorld();
    Log("LoadLibraryExW " + Narrow(name) + " " + Hex(flags));
    if (name == nullptr || name[0] == 0) {
        w.lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    Path requested = name;
    bool hasSeparator = requested.find_first_of(u"\\/") != Path::npos;
    if (!hasSeparator && !HasExtension(requested))
        requested += u".dll";
    else if (!hasSeparator && requested.back() == u'.')
        requested.pop_back();  // a final dot means "no extension"
    if (hasSeparator) {
        FileEntry* entry = FindFile(NormalForm(requested));
        if (entry == nullptr) {
            w.lastError = ERROR_MOD_NOT_FOUND;
            return nullptr;
        }
        return LoadFile(*entry);
    }
    if (FileEntry* loaded = LoadedByBaseName(requested))
        return LoadFile(*loaded);
    for (const Path& directory : SearchDirectories(flags)) {
        if (directory.empty())
            continue;
        FileEntry* entry = FindFile(NormalForm(directory + u"\\" + requested));
        if (entry != nullptr && !(entry->attributes & FILE_ATTRIBUTE_DIRECTORY))
            return LoadFile(*entry);
    }
    w.lastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR exportName)
{
    World& w = TheWorld();
    Log("GetProcAddress " + (module ? Narrow(BaseName(module->path).c_str()) : std::string("(null)")) +
        " " + (exportName ? exportName : "(null)"));
    if (module == nullptr || module->references <= 0) {
        w.lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    FileEntry* entry = FindFile(module->path);
    if (entry == nullptr || exportName == nullptr) {
        w.lastError = ERROR_PROC_NOT_FOUND;
        return nullptr;
    }
    auto found = entry->exports.find(exportName);
    if (found == entry->exports.end()) {
        w.lastError = ERROR_PROC_NOT_FOUND;
        return nullptr;
    }
    return found->second;
}

BOOL WINAPI FreeLibrary(HMODULE module)
{
    if (module == nullptr || module->references <= 0) {
        Log("FreeLibrary (invalid)");
        TheWorld().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    Log("FreeLibrary " + Narrow(module->path.c_str()));
    module->references--;
    return TRUE;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR name)
{
    Log("GetModuleHandleW " + Narrow(name));
    if (name != nullptr) {
        Path requested = name;
        if (!HasExtension(requested))
            requested += u".dll";
        FileEntry* entry = requested.find(u'\\') != Path::npos ? FindFile(NormalForm(requested))
                                                              : LoadedByBaseName(requested);
        if (entry != nullptr && entry->module != nullptr && entry->module->references > 0)
            return entry->module;
    }
    TheWorld().lastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
}

template <typename Char>
static DWORD CopyModuleName(const Path& path, Char* buffer, DWORD size)
{
    if (buffer == nullptr || size == 0) {
        TheWorld().lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    DWORD length = static_cast<DWORD>(path.size());
    if (length >= size) {
        for (DWORD i = 0; i + 1 < size; ++i)
            buffer[i] = static_cast<Char>(path[i]);
        buffer[size - 1] = 0;
        TheWorld().lastError = ERROR_INSUFFICIENT_BUFFER;
        return size;
    }
    for (DWORD i = 0; i < length; ++i)
        buffer[i] = static_cast<Char>(path[i]);
    buffer[length] = 0;
    return length;
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
{
    World& w = TheWorld();
    Path path = module == nullptr ? w.imagePath : module->path;
    Log("GetModuleFileNameW " + Narrow(path.c_str()));
    if (module != nullptr && module->references <= 0) {
        w.lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    return CopyModuleName(path, buffer, size);
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size)
{
    World& w = TheWorld();
    Path path = module == nullptr ? w.imagePath : module->path;
    Log("GetModuleFileNameA " + Narrow(path.c_str()));
    if (module != nullptr && module->references <= 0) {
        w.lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    return CopyModuleName(path, buffer, size);
}

static unsigned ConditionIndex(DWORD typeBit)
{
    unsigned index = 0;
    while (typeBit > 1) {
        typeBit >>= 1;
        ++index;
    }
    return index;
}

ULONGLONG WINAPI VerSetConditionMask(ULONGLONG mask, DWORD typeMask, BYTE condition)
{
    for (DWORD bit = 1; bit <= VER_SERVICEPACKMAJOR; bit <<= 1)
        if (typeMask & bit)
            mask |= static_cast<ULONGLONG>(condition & 7) << (ConditionIndex(bit) * 3);
    return mask;
}

static bool Compare(uint64_t actual, uint64_t wanted, unsigned condition)
{
    switch (condition) {
    case VER_EQUAL: return actual == wanted;
    case VER_GREATER: return actual > wanted;
    case VER_GREATER_EQUAL: return actual >= wanted;
    case VER_LESS: return actual < wanted;
    case VER_LESS_EQUAL: return actual <= wanted;
    default: return false;
    }
}

BOOL WINAPI VerifyVersionInfoW(LPOSVERSIONINFOEXW info, DWORD typeMask, ULONGLONG conditionMask)
{
    World& w = TheWorld();
    Log("VerifyVersionInfoW " + Hex(typeMask) + " " + std::to_string(info ? info->dwBuildNumber : 0));
    if (info == nullptr || typeMask == 0 || conditionMask == 0) {
        w.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    auto condition = [&](DWORD bit) {
        return static_cast<unsigned>((conditionMask >> (ConditionIndex(bit) * 3)) & 7);
    };
    bool yes = true;
    // Major, minor and service pack major are compared as one version, major first.
    const DWORD versionBits = VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR;
    if (typeMask & versionBits) {
        uint64_t actual = 0, wanted = 0;
        unsigned cond = 0;
        if (typeMask & VER_MAJORVERSION) {
            actual = w.major;
            wanted = info->dwMajorVersion;
            cond = condition(VER_MAJORVERSION);
        }
        actual <<= 16;
        wanted <<= 16;
        if (typeMask & VER_MINORVERSION) {
            actual |= w.minor;
            wanted |= info->dwMinorVersion;
            cond = cond ? cond : condition(VER_MINORVERSION);
        }
        actual <<= 16;
        wanted <<= 16;
        if (typeMask & VER_SERVICEPACKMAJOR) {
            actual |= w.servicePackMajor;
            wanted |= info->wServicePackMajor;
            cond = cond ? cond : condition(VER_SERVICEPACKMAJOR);
        }
        yes = Compare(actual, wanted, cond);
    }
    if (yes && (typeMask & VER_BUILDNUMBER))
        yes = Compare(w.build, info->dwBuildNumber, condition(VER_BUILDNUMBER));
    if (!yes)
        w.lastError = 1150;  // ERROR_OLD_WIN_VERSION
    return yes ? TRUE : FALSE;
}

UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size)
{
    World& w = TheWorld();
    Log("GetSystemDirectoryW " + std::to_string(size));
    if (w.systemDirectoryFails) {
        w.lastError = ERROR_PATH_NOT_FOUND;
        return 0;
    }
    UINT length = static_cast<UINT>(w.systemDirectory.size());
    if (buffer == nullptr || size <= length)
        return length + 1;
    std::memcpy(buffer, w.systemDirectory.c_str(), (length + 1) * sizeof(WCHAR));
    return length;
}

DWORD WINAPI GetFullPathNameW(LPCWSTR path, DWORD size, LPWSTR buffer, LPWSTR* filePart)
{
    World& w = TheWorld();
    Log("GetFullPathNameW " + Narrow(path) + " " + std::to_string(size));
    if (path == nullptr || path[0] == 0) {
        w.lastError = 123;  // ERROR_INVALID_NAME
        return 0;
    }
    Path full = NormalForm(path);
    DWORD length = static_cast<DWORD>(full.size());
    if (buffer == nullptr || size <= length)
        return length + 1;
    std::memcpy(buffer, full.c_str(), (length + 1) * sizeof(WCHAR));
    if (filePart != nullptr) {
        size_t slash = full.find_last_of(u'\\');
        *filePart = (slash == Path::npos || slash + 1 == full.size()) ? nullptr : buffer + slash + 1;
    }
    return length;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR path)
{
    World& w = TheWorld();
    Log("GetFileAttributesW " + Narrow(path));
    if (path == nullptr || path[0] == 0) {
        w.lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_FILE_ATTRIBUTES;
    }
    Path full = NormalForm(path);
    FileEntry* entry = FindFile(full);
    if (entry != nullptr)
        return entry->attributes;
    FileEntry* parent = FindFile(ParentOf(full));
    w.lastError = (parent != nullptr && (parent->attributes & FILE_ATTRIBUTE_DIRECTORY))
                      ? ERROR_FILE_NOT_FOUND
                      : ERROR_PATH_NOT_FOUND;
    return INVALID_FILE_ATTRIBUTES;
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section)
{
    Log("InitializeCriticalSection");
    section->LockCount = 0;
    section->Initialized = 1;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section)
{
    Log("EnterCriticalSection");
    if (section->Initialized != 1) {
        std::fprintf(stderr, "simulated Windows: EnterCriticalSection on an uninitialised section\n");
        std::abort();
    }
    section->LockCount++;
    TheWorld().criticalSectionsHeld++;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section)
{
    Log("LeaveCriticalSection");
    if (section->LockCount <= 0) {
        std::fprintf(stderr, "simulated Windows: LeaveCriticalSection without an entry\n");
        std::abort();
    }
    section->LockCount--;
    TheWorld().criticalSectionsHeld--;
}
