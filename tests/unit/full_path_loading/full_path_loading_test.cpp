// Loading by full path from the trusted folders only, on the simulated Windows
// (C:\Windows, C:\Program Files, C:\Program Files (x86); current directory C:\Work).
#include "secure_load/full_path_loading.h"
#include "platform/sim/sim.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const DWORD Sentinel = 0xdeadbeef;
const std::u16string DriverStoreModule =
    u"C:\\Windows\\System32\\DriverStore\\FileRepository\\display.inf_amd64_1\\nvapi64.dll";

std::string Show(const WCHAR* text) { return text == nullptr ? "(null)" : "\"" + sim::Narrow(text) + "\""; }

bool LogHasNone(const std::vector<std::string>& prefixes)
{
    for (const std::string& prefix : prefixes)
        if (sim::CountCalls(prefix) != 0)
            return false;
    return true;
}

struct TrustRow {
    const WCHAR* path;
    int trusted;
};

void ExpectTrust(const TrustRow* rows, size_t count)
{
    size_t liveAtStart = sim::LiveBlocks();
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(IsTrustedModulePath(rows[i].path), rows[i].trusted) << Show(rows[i].path);
        EXPECT_EQ(sim::LiveBlocks(), liveAtStart) << Show(rows[i].path);
    }
}

TEST(TrustedPaths, AreJudgedByTheirNormalFormInsideTheThreeFolders)
{
    const TrustRow rows[] = {
        // inside each folder, at any depth
        {u"C:\\Windows\\nvapi64.dll", 1},
        {DriverStoreModule.c_str(), 1},
        {u"C:\\Program Files\\Vendor\\nvapi64.dll", 1},
        {u"C:\\Program Files\\Vendor\\a\\b\\c\\d\\nvapi64.dll", 1},
        {u"C:\\Program Files (x86)\\Vendor\\nvapi64.dll", 1},
        // another letter case, forward slashes, rooted without a drive
        {u"c:\\WINDOWS\\SYSTEM32\\nvapi64.dll", 1},
        {u"C:/Windows/System32/nvapi64.dll", 1},
        {u"c:/program files (X86)/Vendor\\nvapi64.dll", 1},
        {u"\\Windows\\nvapi64.dll", 1},
        {u"C:\\Windows\\\\System32\\.\\nvapi64.dll", 1},
        // double dots: judged where they lead
        {u"C:\\Windows\\..\\nvapi64.dll", 0},
        {u"C:\\Windows\\System32\\..\\..\\Users\\Public\\nvapi64.dll", 0},
        {u"C:/Windows/../Work/nvapi64.dll", 0},
        {u"C:\\Work\\..\\Windows\\System32\\nvapi64.dll", 1},
        // siblings whose names begin with a folder's name, and the folders themselves
        {u"C:\\WindowsX\\nvapi64.dll", 0},
        {u"C:\\Windows.old\\nvapi64.dll", 0},
        {u"C:\\Program FilesX\\nvapi64.dll", 0},
        {u"C:\\Program Files (x86)X\\nvapi64.dll", 0},
        {u"C:\\Windows", 0},
        {u"C:\\Program Files", 0},
        {u"C:\\Program Files (x86)", 0},
        // elsewhere
        {u"C:\\Users\\Public\\nvapi64.dll", 0},
        {u"D:\\Windows\\nvapi64.dll", 0},
        {u"\\\\host\\share\\Windows\\nvapi64.dll", 0},
        {u"\\\\host\\C$\\Windows\\nvapi64.dll", 0},
        {u"\\\\?\\C:\\Windows\\nvapi64.dll", 0},  // the platform leaves such a path as it is
        {u"", 0},
        {nullptr, 0},
    };
    ExpectTrust(rows, sizeof rows / sizeof rows[0]);
}

TEST(TrustedPaths, NetworkSharePathIsJudgedByTheFolderTest)
{
    sim::SetShellFolder(CSIDL_PROGRAM_FILES, u"\\\\host\\share\\Programs");
    const TrustRow rows[] = {
        {u"\\\\host\\share\\Programs\\Vendor\\nvapi64.dll", 1},
        {u"//HOST/share/programs/Vendor/nvapi64.dll", 1},
        {u"\\\\host\\share\\ProgramsX\\nvapi64.dll", 0},
        {u"\\\\host\\share\\Programs\\..\\nvapi64.dll", 0},
        {u"\\\\other\\share\\Programs\\nvapi64.dll", 0},
    };
    ExpectTrust(rows, sizeof rows / sizeof rows[0]);
}

TEST(TrustedPaths, SearchStopsAtTheFirstFolderThatCannotBeObtained)
{
    struct Row {
        int unavailable;
        const WCHAR* path;
        int trusted;
        std::vector<std::string> foldersAsked;
    };
    const std::string windows = "SHGetFolderPathW 0x24", programs = "SHGetFolderPathW 0x26",
                      programsX86 = "SHGetFolderPathW 0x2a";
    const Row rows[] = {
        {CSIDL_WINDOWS, u"C:\\Windows\\nvapi64.dll", 0, {windows}},
        {CSIDL_WINDOWS, u"C:\\Program Files\\Vendor\\nvapi64.dll", 0, {windows}},
        {CSIDL_WINDOWS, u"C:\\Program Files (x86)\\Vendor\\nvapi64.dll", 0, {windows}},
        {CSIDL_PROGRAM_FILES, u"C:\\Windows\\nvapi64.dll", 1, {windows}},
        {CSIDL_PROGRAM_FILES, u"C:\\Program Files (x86)\\Vendor\\nvapi64.dll", 0, {windows, programs}},
        {CSIDL_PROGRAM_FILESX86, u"C:\\Windows\\nvapi64.dll", 1, {windows}},
        {CSIDL_PROGRAM_FILESX86, u"C:\\Program Files\\Vendor\\nvapi64.dll", 1, {windows, programs}},
        {CSIDL_PROGRAM_FILESX86, u"C:\\Program Files (x86)\\Vendor\\nvapi64.dll", 0,
         {windows, programs, programsX86}},
    };
    const std::pair<int, const char16_t*> folders[] = {{CSIDL_WINDOWS, u"C:\\Windows"},
                                                       {CSIDL_PROGRAM_FILES, u"C:\\Program Files"},
                                                       {CSIDL_PROGRAM_FILESX86, u"C:\\Program Files (x86)"}};
    for (const Row& row : rows) {
        for (const auto& folder : folders)
            sim::SetShellFolder(folder.first, folder.first == row.unavailable ? u"" : folder.second);
        sim::ClearCallLog();
        size_t liveAtStart = sim::LiveBlocks();
        EXPECT_EQ(IsTrustedModulePath(row.path), row.trusted) << Show(row.path);
        EXPECT_EQ(sim::CallsStartingWith("SHGetFolderPathW"), row.foldersAsked) << Show(row.path);
        EXPECT_EQ(sim::LiveBlocks(), liveAtStart) << Show(row.path);
    }
}

TEST(TrustedPaths, NoPathIsTrustedWithoutTheShellFolderFunction)
{
    sim::RemoveExport(sim::SystemDirectory() + u"\\Shell32.dll", "SHGetFolderPathW");
    EXPECT_EQ(IsTrustedModulePath(u"C:\\Windows\\nvapi64.dll"), 0);
    EXPECT_EQ(sim::CountCalls("GetProcAddress Shell32.dll SHGetFolderPathW"), 1u);

    sim::AddModule(DriverStoreModule);
    SetLastError(Sentinel);
    EXPECT_EQ(LoadModuleByFullPath(DriverStoreModule.c_str(), 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_PATHNAME));
    // the missing function is looked up again at the next need
    EXPECT_EQ(sim::CountCalls("GetProcAddress Shell32.dll SHGetFolderPathW"), 2u);
    EXPECT_FALSE(sim::IsLoaded(DriverStoreModule));
}

TEST(TrustedPaths, NoPathIsTrustedWithoutShell32)
{
    sim::SetLoadFailure(sim::SystemDirectory() + u"\\Shell32.dll", ERROR_ACCESS_DENIED);
    sim::AddModule(DriverStoreModule);
    SetLastError(Sentinel);
    EXPECT_EQ(LoadModuleByFullPath(DriverStoreModule.c_str(), 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_PATHNAME));
    EXPECT_EQ(sim::CountCalls("SHGetFolderPathW"), 0u);
    EXPECT_FALSE(sim::IsLoaded(DriverStoreModule));
}

// A shell that answers success with an empty folder path: as "\" it would make
// every rooted path trusted; it is taken as no folder.
LONG WINAPI EmptyFolderAnswer(HWND, int, HANDLE, DWORD, LPWSTR path)
{
    path[0] = 0;
    return 0;
}

TEST(TrustedPaths, EmptyFolderAnswerTrustsNothing)
{
    sim::AddModule(sim::SystemDirectory() + u"\\Shell32.dll",
                   {{"SHGetFolderPathW", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&EmptyFolderAnswer))}});
    EXPECT_EQ(BuildShellFolderPath(CSIDL_WINDOWS, u""), nullptr);
    EXPECT_EQ(IsTrustedModulePath(u"\\\\host\\share\\nvapi64.dll"), 0);
    EXPECT_EQ(IsTrustedModulePath(u"\\nvapi64.dll"), 0);
}

TEST(TrustedPaths, WindowsOlderThanSevenTrustsEveryPathWithoutAskingTheFolders)
{
    sim::SetVersion(6, 0, 2, 6002);
    sim::ClearCallLog();
    const TrustRow rows[] = {
        {u"D:\\Downloads\\nvapi64.dll", 1},
        {u"C:\\WindowsX\\nvapi64.dll", 1},
        {u"\\\\host\\share\\nvapi64.dll", 1},
        {u"C:\\Windows\\nvapi64.dll", 1},
    };
    ExpectTrust(rows, sizeof rows / sizeof rows[0]);
    EXPECT_TRUE(LogHasNone({"SHGetFolderPathW", "GetFullPathNameW", "LoadLibraryExW"}));
    EXPECT_EQ(sim::CountCalls("VerifyVersionInfoW 0x23"), 1u);
    EXPECT_EQ(CachedWin7VersionRecord.dwOSVersionInfoSize, 284u);
    EXPECT_EQ(CachedIsPreWin7, 1);

    // the load itself goes through, from wherever the path points
    sim::AddModule(u"D:\\Downloads\\nvapi64.dll");
    SetLastError(Sentinel);
    EXPECT_NE(LoadModuleByFullPath(u"D:\\Downloads\\nvapi64.dll", 0), nullptr);
    EXPECT_TRUE(sim::IsLoaded(u"D:\\Downloads\\nvapi64.dll"));
    // but a relative path is still refused before any trust test
    SetLastError(Sentinel);
    EXPECT_EQ(LoadModuleByFullPath(u"nvapi64.dll", 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_ARGUMENTS));
    EXPECT_EQ(sim::CountCalls("VerifyVersionInfoW 0x23"), 1u);
    EXPECT_EQ(sim::CountCalls("SHGetFolderPathW"), 0u);
}

TEST(TrustedPaths, VersionIsAskedOncePerProcess)
{
    EXPECT_EQ(CachedWin7VersionRecord.dwOSVersionInfoSize, 0u);
    EXPECT_EQ(IsTrustedModulePath(u"C:\\Windows\\nvapi64.dll"), 1);
    EXPECT_EQ(CachedWin7VersionRecord.dwOSVersionInfoSize, 284u);
    EXPECT_EQ(CachedIsPreWin7, 0);
    // a later change of version is not seen: the answer stays for the process
    sim::SetVersion(6, 0, 2, 6002);
    EXPECT_EQ(IsTrustedModulePath(u"D:\\Downloads\\nvapi64.dll"), 0);
    EXPECT_EQ(IsTrustedModulePath(nullptr), 0);
    EXPECT_EQ(sim::CountCalls("VerifyVersionInfoW 0x23"), 1u);
}

// Each version in its own process: the answer is cached for the process.
struct VersionRow {
    DWORD major, minor;
    WORD servicePack;
    int preWin7;
};

class VersionThreshold : public ::testing::TestWithParam<VersionRow> {};

TEST_P(VersionThreshold, WindowsSevenServicePackZeroIsTheFirstVersionThatTestsFolders)
{
    const VersionRow& row = GetParam();
    sim::SetVersion(row.major, row.minor, row.servicePack, 7600);
    EXPECT_EQ(IsTrustedModulePath(u"D:\\Downloads\\nvapi64.dll"), row.preWin7);
    EXPECT_EQ(CachedIsPreWin7, row.preWin7);
    EXPECT_EQ(sim::CountCalls("SHGetFolderPathW") != 0, row.preWin7 == 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionThreshold,
                         ::testing::Values(VersionRow{5, 1, 3, 1}, VersionRow{5, 2, 9, 1},
                                           VersionRow{6, 0, 0, 1}, VersionRow{6, 0, 2, 1},
                                           VersionRow{6, 1, 0, 0}, VersionRow{6, 1, 1, 0},
                                           VersionRow{6, 2, 0, 0}, VersionRow{10, 0, 0, 0}),
                         [](const ::testing::TestParamInfo<VersionRow>& info) {
                             return "Version" + std::to_string(info.param.major) + "_" +
                                    std::to_string(info.param.minor) + "_ServicePack" +
                                    std::to_string(info.param.servicePack);
                         });

TEST(LoadByFullPath, NonAbsolutePathsAreRefusedWithoutTrustTest)
{
    const WCHAR* rows[] = {nullptr,
                           u"",
                           u"nvapi64.dll",
                           u"System32\\nvapi64.dll",
                           u".\\nvapi64.dll",
                           u"..\\Windows\\nvapi64.dll",
                           u"C:nvapi64.dll",
                           u"C:Windows\\nvapi64.dll",
                           u"1:\\nvapi64.dll"};
    sim::SetCurrentDirectory(u"C:\\Windows\\System32");  // where a relative name would be trusted
    sim::AddModule(u"C:\\Windows\\System32\\nvapi64.dll");
    for (const WCHAR* path : rows) {
        sim::ClearCallLog();
        SetLastError(Sentinel);
        EXPECT_EQ(LoadModuleByFullPath(path, 0), nullptr) << Show(path);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_ARGUMENTS)) << Show(path);
        EXPECT_TRUE(sim::CallLog().empty()) << Show(path) << " called " << sim::CallLog().front();
    }
    EXPECT_EQ(CachedWin7VersionRecord.dwOSVersionInfoSize, 0u);
}

TEST(LoadByFullPath, UntrustedPathsAreRefusedWithBadPathname)
{
    const WCHAR* rows[] = {u"C:\\Users\\Public\\nvapi64.dll", u"C:\\Windows\\..\\Users\\Public\\nvapi64.dll",
                           u"C:\\WindowsX\\nvapi64.dll", u"\\\\host\\share\\nvapi64.dll",
                           u"D:\\Windows\\nvapi64.dll"};
    for (const WCHAR* path : rows) {
        sim::AddModule(path);
        sim::ClearCallLog();
        size_t liveAtStart = sim::LiveBlocks();
        SetLastError(Sentinel);
        EXPECT_EQ(LoadModuleByFullPath(path, 0), nullptr) << Show(path);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_PATHNAME)) << Show(path);
        EXPECT_EQ(sim::CountCalls("LoadLibraryExW " + sim::Narrow(path)), 0u) << Show(path);
        EXPECT_EQ(sim::CountCalls("GetFullPathNameW " + sim::Narrow(path)), 2u) << Show(path);
        EXPECT_EQ(sim::LiveBlocks(), liveAtStart) << Show(path);
    }
    // positive control: the same module inside the Windows folder loads
    sim::AddModule(DriverStoreModule);
    SetLastError(Sentinel);
    EXPECT_NE(LoadModuleByFullPath(DriverStoreModule.c_str(), 0), nullptr);
    EXPECT_TRUE(sim::IsLoaded(DriverStoreModule));
}

TEST(LoadByFullPath, SearchOverrideFlagsAreClearedAndNothingIsAdded)
{
    struct Row {
        DWORD given;
        DWORD loaded;
    };
    const Row rows[] = {
        {0, 0},
        {LOAD_WITH_ALTERED_SEARCH_PATH, 0},
        {LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR, 0},
        {LOAD_LIBRARY_SEARCH_APPLICATION_DIR, 0},
        {LOAD_LIBRARY_SEARCH_USER_DIRS, 0},
        {LOAD_LIBRARY_SEARCH_DEFAULT_DIRS, 0},
        {0x1708, 0},
        {LOAD_LIBRARY_SEARCH_SYSTEM32, LOAD_LIBRARY_SEARCH_SYSTEM32},
        {0x1F08, LOAD_LIBRARY_SEARCH_SYSTEM32},
        {DONT_RESOLVE_DLL_REFERENCES | LOAD_LIBRARY_AS_DATAFILE, 0x3},
        {0x00010000, 0x00010000},
        {0xFFFFFFFF, 0xFFFFE8F7},
    };
    sim::AddModule(DriverStoreModule);
    const std::string loadLine = "LoadLibraryExW " + sim::Narrow(DriverStoreModule.c_str()) + " ";
    for (const Row& row : rows) {
        sim::ClearCallLog();
        SetLastError(Sentinel);
        EXPECT_NE(LoadModuleByFullPath(DriverStoreModule.c_str(), row.given), nullptr);
        EXPECT_NE(GetLastError(), Sentinel);  // cleared on entry
        std::vector<std::string> loads = sim::CallsStartingWith(loadLine);
        ASSERT_EQ(loads.size(), 1u);
        char expected[16];
        std::snprintf(expected, sizeof expected, "0x%x", static_cast<unsigned>(row.loaded));
        EXPECT_EQ(loads[0], loadLine + expected) << "flags " << row.given;
    }
}

TEST(LoadByFullPath, TrustedModuleThatFailsToLoadGivesTheLoadsCode)
{
    struct Row {
        std::u16string path;
        bool present;
        DWORD loadFailure;
        DWORD code;
    };
    const Row rows[] = {
        {u"C:\\Program Files\\Vendor\\denied.dll", true, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {u"C:\\Program Files\\Vendor\\absent.dll", false, 0, ERROR_MOD_NOT_FOUND},
    };
    for (const Row& row : rows) {
        if (row.present) {
            sim::AddModule(row.path);
            sim::SetLoadFailure(row.path, row.loadFailure);
        }
        SetLastError(Sentinel);
        EXPECT_EQ(LoadModuleByFullPath(row.path.c_str(), 0), nullptr);
        EXPECT_EQ(GetLastError(), row.code) << sim::Narrow(row.path.c_str());
        EXPECT_EQ(sim::CountCalls("LoadLibraryExW " + sim::Narrow(row.path.c_str())), 1u);
    }
}

TEST(ShellFolderPath, IsTheFolderOneBackslashAndTheTail)
{
    struct Row {
        int csidl;
        const char16_t* folder;  // null: as the machine has it
        const WCHAR* tail;
        const WCHAR* expected;
    };
    const Row rows[] = {
        {CSIDL_WINDOWS, nullptr, u"", u"C:\\Windows\\"},
        {CSIDL_PROGRAM_FILES, nullptr, u"", u"C:\\Program Files\\"},
        {CSIDL_PROGRAM_FILESX86, nullptr, u"Vendor\\x.dll", u"C:\\Program Files (x86)\\Vendor\\x.dll"},
        {CSIDL_WINDOWS, nullptr, u"\\x.dll", u"C:\\Windows\\\\x.dll"},
        {CSIDL_WINDOWS, u"D:\\", u"x.dll", u"D:\\\\x.dll"},  // the backslash is always written
        {CSIDL_WINDOWS, u"", u"x.dll", nullptr},             // folder unavailable
    };
    for (const Row& row : rows) {
        if (row.folder != nullptr)
            sim::SetShellFolder(row.csidl, row.folder);
        size_t liveAtStart = sim::LiveBlocks();
        LPWSTR path = BuildShellFolderPath(row.csidl, row.tail);
        if (row.expected == nullptr) {
            EXPECT_EQ(path, nullptr);
        } else {
            ASSERT_NE(path, nullptr) << Show(row.expected);
            EXPECT_EQ(sim::Path(path), sim::Path(row.expected));
            EXPECT_EQ(sim::BlockBytes(path), (sim::Path(row.expected).size() + 1) * sizeof(WCHAR));
            LocalFree(path);
        }
        EXPECT_EQ(sim::LiveBlocks(), liveAtStart);
    }
}

TEST(ShellFolderPath, NullTailGivesNullWithoutTouchingShell32)
{
    EXPECT_EQ(BuildShellFolderPath(CSIDL_WINDOWS, nullptr), nullptr);
    EXPECT_TRUE(LogHasNone({"LoadLibraryExW", "GetProcAddress", "SHGetFolderPathW"}));
    // positive control: with a tail, Shell32.dll is loaded and asked
    LPWSTR path = BuildShellFolderPath(CSIDL_WINDOWS, u"");
    EXPECT_NE(path, nullptr);
    LocalFree(path);
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW Shell32.dll"), 1u);
    EXPECT_EQ(sim::CountCalls("SHGetFolderPathW 0x24"), 1u);
}

// Fails each allocation the warm call reaches (the first call binds Shell32.dll
// and runs the version test, whose results stay), and checks the documented
// failure and that nothing is left allocated; then the call succeeds again.
template <typename Call, typename Check>
void FailEveryAllocation(Call call, Check failedAsDocumented, size_t expectedAllocations, const char* what)
{
    call();  // warm: binds Shell32.dll, runs the version test
    size_t liveAtStart = sim::LiveBlocks();
    size_t before = sim::AllocationCount();
    call();
    size_t reached = sim::AllocationCount() - before;
    ASSERT_EQ(reached, expectedAllocations) << what;
    for (size_t n = 1; n <= reached; ++n) {
        sim::FailAllocation(n);
        SetLastError(Sentinel);
        failedAsDocumented(n);
        sim::FailAllocation(0);
        EXPECT_EQ(sim::LiveBlocks(), liveAtStart) << what << ", allocation " << n;
    }
}

TEST(FullPathLoadingFaults, EveryFailedAllocationFreesWhatWasAllocated)
{
    const WCHAR* const deepest = u"C:\\Program Files (x86)\\Vendor\\nvapi64.dll";  // asks all three folders
    const WCHAR* const outside = u"C:\\Users\\Public\\nvapi64.dll";
    sim::AddModule(deepest);

    FailEveryAllocation([&] { EXPECT_EQ(IsTrustedModulePath(deepest), 1); },
                        [&](size_t n) { EXPECT_EQ(IsTrustedModulePath(deepest), 0) << n; },
                        4, "IsTrustedModulePath inside");  // the full path, three folders
    FailEveryAllocation([&] { EXPECT_EQ(IsTrustedModulePath(outside), 0); },
                        [&](size_t n) { EXPECT_EQ(IsTrustedModulePath(outside), 0) << n; },
                        4, "IsTrustedModulePath outside");
    FailEveryAllocation(
        [&] { EXPECT_NE(LoadModuleByFullPath(deepest, 0), nullptr); },
        [&](size_t n) {
            EXPECT_EQ(LoadModuleByFullPath(deepest, 0), nullptr) << n;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_PATHNAME)) << n;
        },
        4, "LoadModuleByFullPath");
    FailEveryAllocation(
        [&] {
            LPWSTR path = BuildShellFolderPath(CSIDL_WINDOWS, u"x.dll");
            EXPECT_NE(path, nullptr);
            LocalFree(path);
        },
        [&](size_t n) { EXPECT_EQ(BuildShellFolderPath(CSIDL_WINDOWS, u"x.dll"), nullptr) << n; },
        1, "BuildShellFolderPath");
}

// Before the first warm call: the cold path, where Shell32.dll is bound, fails
// its first allocation too and frees it.
TEST(FullPathLoadingFaults, FirstCallFailingItsFirstAllocationLeaksNothing)
{
    size_t liveAtStart = sim::LiveBlocks();
    sim::FailAllocation(1);
    EXPECT_EQ(IsTrustedModulePath(u"C:\\Windows\\nvapi64.dll"), 0);
    sim::FailAllocation(0);
    EXPECT_EQ(sim::LiveBlocks(), liveAtStart);
    EXPECT_EQ(IsTrustedModulePath(u"C:\\Windows\\nvapi64.dll"), 1);
    EXPECT_EQ(sim::LiveBlocks(), liveAtStart);
}

}  // namespace
