// The system-directory route: flags, OS level, pinning of the dependency
// libraries, and the system-directory paths it builds.
#include "loader_test_support.h"

#include "secure_load/loader.h"
#include "secure_load/loader_state.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

const char16_t* const DependencyNames[] = {u"msasn1.dll", u"cryptnet.dll", u"drvstore.dll",
                                           u"devobj.dll", u"wldp.dll",     u"cryptbase.dll"};

int DependencyHandlesSet()
{
    int set = 0;
    for (HMODULE handle : DependencyHandles)
        set += handle != nullptr;
    return set;
}

// ---- flags and OS level

struct FlagCase {
    const char* description;
    bool windows8;
    DWORD flags;
    const char* load;
};

void PrintTo(const FlagCase& row, std::ostream* out) { *out << row.description; }

class FlagClearing : public LoaderScenarioTable<FlagCase> {};

TEST_P(FlagClearing, StripsTheSearchOverridesAndSetsTheSystemDirectoryByLevel)
{
    const FlagCase& row = GetParam();
    SCOPED_TRACE(row.description);
    if (row.windows8)
        RunOnWindows8(u"9600");
    else
        RunOnWindows7();
    AddSystemModule(u"x.dll");
    SetLastError(0xdeadbeef);

    EXPECT_NE(LoadSystemModule(u"x.dll", row.flags), nullptr);

    std::vector<std::string> loads = LoadCalls();
    ASSERT_EQ(loads.size(), 7u);
    EXPECT_EQ(loads.back(), row.load);
    EXPECT_EQ(CachedOsLevel, row.windows8 ? 9200u : 7600u);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, FlagClearing,
    ::testing::Values(
        FlagCase{"9200, overrides", true, 0x1708, "LoadLibraryExW x.dll 0x800"},
        FlagCase{"9200, none", true, 0, "LoadLibraryExW x.dll 0x800"},
        FlagCase{"9200, system directory kept", true, 0x1F08, "LoadLibraryExW x.dll 0x800"},
        FlagCase{"9200, other bits pass", true, 0x1708 | 0x2 | 0x10000 | 0x80000000u,
                 "LoadLibraryExW x.dll 0x80010802"},
        FlagCase{"7600, overrides", false, 0x1708,
                 "LoadLibraryExW C:\\Windows\\system32\\x.dll 0x0"},
        FlagCase{"7600, system directory removed", false, 0x1F08,
                 "LoadLibraryExW C:\\Windows\\system32\\x.dll 0x0"},
        FlagCase{"7600, other bits pass", false, 0x1F08 | 0x2 | 0x10000 | 0x80000000u,
                 "LoadLibraryExW C:\\Windows\\system32\\x.dll 0x80010002"}));

TEST_F(LoaderScenario, OsLevelIsAskedOnceForTheLifeOfTheProcess)
{
    RunOnWindows7();
    AddSystemModule(u"x.dll");

    EXPECT_NE(LoadSystemModule(u"x.dll", 0), nullptr);
    sim::SetVersion(10, 0, 0, 19045);
    EXPECT_NE(LoadSystemModule(u"x.dll", 0), nullptr);

    EXPECT_EQ(sim::CountCalls("VerifyVersionInfoW 0x4 9200"), 1u);
    EXPECT_EQ(LoadCalls().back(), "LoadLibraryExW C:\\Windows\\system32\\x.dll 0x0");
}

TEST_F(LoaderScenario, MissingModuleLeavesTheLoadsCode)
{
    SetLastError(0xdeadbeef);

    EXPECT_EQ(LoadSystemModule(u"absent.dll", 0), nullptr);

    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

// A module planted in the program's directory, the current directory or the
// Windows directory is never the one loaded; the same name in the system
// directory is (the positive control).
TEST_F(LoaderScenario, PlantedModulesOnWindows8AreNeverLoaded)
{
    sim::AddModule(u"C:\\Tools\\planted.dll");
    sim::AddModule(u"C:\\Work\\planted.dll");
    sim::AddModule(u"C:\\Windows\\planted.dll");

    EXPECT_EQ(LoadSystemModule(u"planted.dll", LOAD_LIBRARY_SEARCH_DEFAULT_DIRS), nullptr);
    EXPECT_FALSE(sim::IsLoaded(u"C:\\Tools\\planted.dll"));
    EXPECT_FALSE(sim::IsLoaded(u"C:\\Work\\planted.dll"));
    EXPECT_FALSE(sim::IsLoaded(u"C:\\Windows\\planted.dll"));

    AddSystemModule(u"planted.dll");
    EXPECT_NE(LoadSystemModule(u"planted.dll", LOAD_LIBRARY_SEARCH_DEFAULT_DIRS), nullptr);
    EXPECT_TRUE(sim::IsLoaded(InSystemDirectory(u"planted.dll")));
}

TEST_F(LoaderScenario, PlantedModulesOnWindows7AreNeverLoaded)
{
    RunOnWindows7();
    sim::AddModule(u"C:\\Tools\\planted.dll");
    sim::AddModule(u"C:\\Work\\planted.dll");

    EXPECT_EQ(LoadSystemModule(u"planted.dll", LOAD_LIBRARY_SEARCH_APPLICATION_DIR), nullptr);
    EXPECT_FALSE(sim::IsLoaded(u"C:\\Tools\\planted.dll"));
    EXPECT_FALSE(sim::IsLoaded(u"C:\\Work\\planted.dll"));

    AddSystemModule(u"planted.dll");
    EXPECT_NE(LoadSystemModule(u"planted.dll", LOAD_LIBRARY_SEARCH_APPLICATION_DIR), nullptr);
    EXPECT_TRUE(sim::IsLoaded(InSystemDirectory(u"planted.dll")));
}

// ---- pinning

TEST_F(LoaderScenario, PinsTheSixLibrariesInOrderOnceAtWindows8)
{
    AddSystemModule(u"x.dll");

    EXPECT_NE(LoadSystemModule(u"x.dll", 0), nullptr);
    std::vector<std::string> first = {DEPENDENCY_LOADS_BY_NAME, "LoadLibraryExW x.dll 0x800"};
    EXPECT_EQ(LoadCalls(), first);
    EXPECT_EQ(DependencyHandlesSet(), 6);
    EXPECT_EQ(PreloadResult, 1);

    sim::ClearCallLog();
    EXPECT_NE(LoadSystemModule(u"x.dll", 0), nullptr);
    std::vector<std::string> again = {"GetModuleFileNameA C:\\Tools\\edidload.exe",
                                      "LoadLibraryExW x.dll 0x800"};
    EXPECT_EQ(sim::CallLog(), again) << "the image-name test runs on every call";
    for (const char16_t* name : DependencyNames)
        EXPECT_TRUE(sim::IsLoaded(InSystemDirectory(name))) << sim::Narrow(name);
}

TEST_F(LoaderScenario, PinsTheSixLibrariesByFullPathAtWindows7)
{
    RunOnWindows7();
    AddSystemModule(u"x.dll");

    EXPECT_NE(LoadSystemModule(u"x.dll", 0), nullptr);

    std::vector<std::string> expected = {DEPENDENCY_LOADS_BY_PATH,
                                         "LoadLibraryExW C:\\Windows\\system32\\x.dll 0x0"};
    EXPECT_EQ(LoadCalls(), expected);
    EXPECT_EQ(DependencyHandlesSet(), 6);
}

struct ImageCase {
    const char* description;
    std::u16string imagePath;
    bool skipsPinning;
};

void PrintTo(const ImageCase& row, std::ostream* out) { *out << row.description; }

class ProtectedPipelineImage : public LoaderScenarioTable<ImageCase> {};

TEST_P(ProtectedPipelineImage, DecidesWhetherAnythingIsPinned)
{
    const ImageCase& row = GetParam();
    SCOPED_TRACE(row.description);
    sim::SetImagePath(row.imagePath);
    AddSystemModule(u"x.dll");

    for (int call = 0; call < 2; ++call) {
        SetLastError(0xdeadbeef);
        EXPECT_NE(LoadSystemModule(u"x.dll", 0), nullptr);
    }

    EXPECT_EQ(sim::CountCalls("GetModuleFileNameA"), 2u);
    EXPECT_EQ(PreloadResult, 1);
    if (row.skipsPinning) {
        std::vector<std::string> expected = {"LoadLibraryExW x.dll 0x800",
                                             "LoadLibraryExW x.dll 0x800"};
        EXPECT_EQ(LoadCalls(), expected);
        EXPECT_EQ(DependencyHandlesSet(), 0);
    } else {
        std::vector<std::string> expected = {DEPENDENCY_LOADS_BY_NAME, "LoadLibraryExW x.dll 0x800",
                                             "LoadLibraryExW x.dll 0x800"};
        EXPECT_EQ(LoadCalls(), expected);
        EXPECT_EQ(DependencyHandlesSet(), 6);
    }
}

// An image path longer than the 260-byte buffer: the name is cut after "\mfp".
std::u16string LongImagePath()
{
    std::u16string path = u"C:\\" + std::u16string(254, u'a') + u"\\mfpmp.exe";
    return path;
}

INSTANTIATE_TEST_SUITE_P(
    Images, ProtectedPipelineImage,
    ::testing::Values(
        ImageCase{"ordinary program", u"C:\\Tools\\edidload.exe", false},
        ImageCase{"the pipeline host", u"C:\\Windows\\system32\\mfpmp.exe", true},
        ImageCase{"only the dot is compared, not the extension",
                  u"C:\\Windows\\system32\\mfpmp.dat", true},
        ImageCase{"longer name with the same start", u"C:\\Tools\\mfpmp.exe.bak", true},
        ImageCase{"at the drive root", u"C:\\mfpmp.exe", true},
        ImageCase{"compared with case", u"C:\\Windows\\system32\\MFPMP.EXE", false},
        ImageCase{"name without the dot", u"C:\\Tools\\mfpmpx.exe", false},
        ImageCase{"only the last backslash counts", u"C:\\x\\mfpmp.d\\app.exe", false},
        ImageCase{"shorter than 10 characters is not tested", u"\\mfpmp.ex", false},
        ImageCase{"exactly 10 characters", u"\\mfpmp.exe", true},
        ImageCase{"cut off by the buffer", LongImagePath(), false}));

TEST_F(LoaderScenario, AbsentDependenciesArePassedOverAndTheChainRunsAgain)
{
    for (const char16_t* name : DependencyNames)
        sim::RemoveFile(InSystemDirectory(name));
    AddSystemModule(u"x.dll");

    EXPECT_NE(LoadSystemModule(u"x.dll", 0), nullptr);
    EXPECT_EQ(PreloadResult, 1);
    EXPECT_EQ(DependencyHandlesSet(), 0);

    sim::ClearCallLog();
    EXPECT_NE(LoadSystemModule(u"x.dll", 0), nullptr);
    std::vector<std::string> expected = {DEPENDENCY_LOADS_BY_NAME, "LoadLibraryExW x.dll 0x800"};
    EXPECT_EQ(LoadCalls(), expected);
}

TEST_F(LoaderScenario, OneLibraryPresentEndsThePinningForGood)
{
    for (const char16_t* name : DependencyNames)
        if (std::u16string(name) != u"wldp.dll")
            sim::RemoveFile(InSystemDirectory(name));
    AddSystemModule(u"x.dll");

    EXPECT_NE(LoadSystemModule(u"x.dll", 0), nullptr);
    EXPECT_EQ(PreloadResult, 1);
    EXPECT_EQ(DependencyHandlesSet(), 1);

    sim::ClearCallLog();
    EXPECT_NE(LoadSystemModule(u"x.dll", 0), nullptr);
    std::vector<std::string> expected = {"LoadLibraryExW x.dll 0x800"};
    EXPECT_EQ(LoadCalls(), expected);
}

TEST_F(LoaderScenario, DependencyFailingAfterOneLoadedFailsEveryLaterRequest)
{
    sim::SetLoadFailure(InSystemDirectory(u"cryptnet.dll"), ERROR_ACCESS_DENIED);
    AddSystemModule(u"x.dll");
    SetLastError(0xdeadbeef);

    EXPECT_EQ(LoadSystemModule(u"x.dll", 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    std::vector<std::string> expected = {"LoadLibraryExW msasn1.dll 0x800",
                                         "LoadLibraryExW cryptnet.dll 0x800"};
    EXPECT_EQ(LoadCalls(), expected);
    EXPECT_EQ(PreloadResult, 0);
    EXPECT_FALSE(sim::IsLoaded(InSystemDirectory(u"x.dll")));

    // Even once the library could load, nothing is tried again.
    sim::SetLoadFailure(InSystemDirectory(u"cryptnet.dll"), 0);
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadSystemModule(u"x.dll", 0), nullptr);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu) << "the stored failure sets no code";
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW"), 0u);

    // Through the entry: the build test answers from the platform, and the
    // request fails without a load.
    sim::ClearCallLog();
    EXPECT_EQ(LoadModuleSecure(u"x.dll", LOAD_LIBRARY_SEARCH_SYSTEM32), nullptr);
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW"), 0u);
}

TEST_F(LoaderScenario, DependencyFailingBeforeAnyLoadedLetsTheNextRequestTryAgain)
{
    sim::SetLoadFailure(InSystemDirectory(u"msasn1.dll"), ERROR_ACCESS_DENIED);
    AddSystemModule(u"x.dll");
    SetLastError(0xdeadbeef);

    EXPECT_EQ(LoadSystemModule(u"x.dll", 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    std::vector<std::string> first = {"LoadLibraryExW msasn1.dll 0x800"};
    EXPECT_EQ(LoadCalls(), first);
    EXPECT_EQ(PreloadResult, 0);
    EXPECT_EQ(DependencyHandlesSet(), 0);

    sim::SetLoadFailure(InSystemDirectory(u"msasn1.dll"), 0);
    sim::ClearCallLog();
    EXPECT_NE(LoadSystemModule(u"x.dll", 0), nullptr);
    std::vector<std::string> again = {DEPENDENCY_LOADS_BY_NAME, "LoadLibraryExW x.dll 0x800"};
    EXPECT_EQ(LoadCalls(), again);
    EXPECT_EQ(PreloadResult, 1);
}

TEST_F(LoaderScenario, AbsentLibraryBeforeTheFailingOneStillCountsAsNoneLoaded)
{
    sim::RemoveFile(InSystemDirectory(u"msasn1.dll"));
    sim::SetLoadFailure(InSystemDirectory(u"cryptnet.dll"), ERROR_ACCESS_DENIED);
    AddSystemModule(u"x.dll");

    EXPECT_EQ(LoadSystemModule(u"x.dll", 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    sim::ClearCallLog();
    EXPECT_EQ(LoadSystemModule(u"x.dll", 0), nullptr);
    std::vector<std::string> again = {"LoadLibraryExW msasn1.dll 0x800",
                                      "LoadLibraryExW cryptnet.dll 0x800"};
    EXPECT_EQ(LoadCalls(), again);
}

// ---- memory exhausted on Windows 7, where every load builds a path: the
// first run makes seven allocations (six dependency paths, the module path).

TEST_F(LoaderScenario, FirstRequestOnWindows7AllocatesSevenPaths)
{
    RunOnWindows7();
    AddSystemModule(u"x.dll");
    size_t before = sim::AllocationCount();

    EXPECT_NE(LoadSystemModule(u"x.dll", 0), nullptr);

    EXPECT_EQ(sim::AllocationCount() - before, 7u);
}

class Windows7AllocationFailure : public LoaderScenarioTable<int> {};

TEST_P(Windows7AllocationFailure, FreesEveryPathAndFailsClosed)
{
    const int failing = GetParam();
    RunOnWindows7();
    AddSystemModule(u"x.dll");
    sim::FailAllocation(static_cast<size_t>(failing));
    SetLastError(0xdeadbeef);

    HMODULE module = LoadSystemModule(u"x.dll", 0);
    sim::FailAllocation(0);

    std::vector<std::string> loads = LoadCalls();
    if (failing == 7) {
        // The module path: the request fails; the bare name is never loaded.
        EXPECT_EQ(module, nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
        EXPECT_EQ(loads.size(), 6u);
        EXPECT_EQ(sim::CountCalls("LoadLibraryExW x.dll"), 0u);
        return;
    }
    // A dependency path: that library is not loaded by any other name, the
    // chain stops with the allocation's code, and the request fails.
    EXPECT_EQ(module, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(loads.size(), static_cast<size_t>(failing - 1));
    EXPECT_EQ(PreloadResult, 0);

    sim::ClearCallLog();
    module = LoadSystemModule(u"x.dll", 0);
    if (failing == 1) {
        EXPECT_NE(module, nullptr) << "nothing was pinned, so the chain runs again";
        EXPECT_EQ(LoadCalls().size(), 7u);
    } else {
        EXPECT_EQ(module, nullptr) << "a library was pinned, so the failure stands";
        EXPECT_EQ(sim::CountCalls("LoadLibraryExW"), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryAllocation, Windows7AllocationFailure, ::testing::Range(1, 8));

// Without its full path the module is not loaded at all: the bare name without
// the system-directory flag would be searched for in the application's
// directory first, where a planted copy waits.
TEST_F(LoaderScenario, ModulePathFailureOnWindows7NeverLoadsThePlantedCopy)
{
    RunOnWindows7();
    AddSystemModule(u"x.dll");
    sim::AddModule(u"C:\\Tools\\x.dll");  // beside the program
    EXPECT_NE(LoadSystemModule(u"x.dll", 0), nullptr);
    EXPECT_FALSE(sim::IsLoaded(u"C:\\Tools\\x.dll"));
    sim::ClearCallLog();

    sim::FailAllocation(1);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadSystemModule(u"x.dll", LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_AS_DATAFILE), nullptr);

    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_TRUE(LoadCalls().empty());
    EXPECT_FALSE(sim::IsLoaded(u"C:\\Tools\\x.dll"));
}

// ---- system-directory paths

struct PathCase {
    std::u16string systemDirectory;
    std::u16string name;
    std::u16string path;
};

TEST_F(LoaderScenario, SystemModulePathHasExactlyOneBackslashBeforeTheName)
{
    const PathCase rows[] = {
        {u"C:\\Windows\\system32", u"x.dll", u"C:\\Windows\\system32\\x.dll"},
        {u"C:\\Windows\\system32\\", u"x.dll", u"C:\\Windows\\system32\\x.dll"},
        {u"C:\\Windows\\system32", u"", u"C:\\Windows\\system32\\"},
        {u"C:\\Windows\\system32\\", u"", u"C:\\Windows\\system32\\"},
        {u"C:\\", u"x.dll", u"C:\\x.dll"},
        {u"D:\\W\\S", u"sub\\x.dll", u"D:\\W\\S\\sub\\x.dll"},
    };
    for (const PathCase& row : rows) {
        SCOPED_TRACE(sim::Narrow(row.systemDirectory.c_str()) + " + " +
                     sim::Narrow(row.name.c_str()));
        sim::SetSystemDirectory(row.systemDirectory);
        SetLastError(0xdeadbeef);
        LPWSTR path = BuildSystemModulePath(row.name.c_str());
        ASSERT_NE(path, nullptr);
        EXPECT_EQ(std::u16string(path), row.path);
        EXPECT_GE(sim::BlockBytes(path), (row.path.size() + 1) * sizeof(WCHAR));
        EXPECT_EQ(GetLastError(), 0xdeadbeefu);
        LocalFree(path);
    }
}

TEST_F(LoaderScenario, SystemModulePathFailsWithoutLeaking)
{
    SetLastError(0xdeadbeef);
    EXPECT_EQ(BuildSystemModulePath(nullptr), nullptr);
    EXPECT_EQ(sim::CountCalls("GetSystemDirectoryW"), 0u);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);

    sim::FailAllocation(1);
    EXPECT_EQ(BuildSystemModulePath(u"x.dll"), nullptr);
    sim::FailAllocation(0);

    sim::SetSystemDirectoryFails(true);
    EXPECT_EQ(BuildSystemModulePath(u"x.dll"), nullptr);
    sim::SetSystemDirectoryFails(false);

    LPWSTR control = BuildSystemModulePath(u"x.dll");
    EXPECT_NE(control, nullptr);
    LocalFree(control);
}

TEST_F(LoaderScenario, SystemDirectoryCopyIsThePlatformsTextAndClearsTheCode)
{
    const std::u16string directories[] = {u"C:\\Windows\\system32", u"C:\\Windows\\system32\\"};
    for (const std::u16string& directory : directories) {
        sim::SetSystemDirectory(directory);
        SetLastError(0xdeadbeef);
        LPWSTR copy = CopySystemDirectory();
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(std::u16string(copy), directory);
        EXPECT_EQ(sim::BlockBytes(copy), (directory.size() + 1) * sizeof(WCHAR));
        EXPECT_EQ(GetLastError(), 0u);
        LocalFree(copy);
    }
}

TEST_F(LoaderScenario, SystemDirectoryCopyFailsWithThePlatformsCode)
{
    sim::SetSystemDirectoryFails(true);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CopySystemDirectory(), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    sim::SetSystemDirectoryFails(false);

    sim::FailAllocation(1);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CopySystemDirectory(), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

}  // namespace
