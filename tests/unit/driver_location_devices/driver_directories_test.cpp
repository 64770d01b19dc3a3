// The loaded-driver directory, the adapter's driver store path and the driver
// store directory.
#include "devices_test_support.h"

#include "driver_location/driver_directories.h"
#include "driver_location/kernel_graphics_records.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

using namespace devices_test;

namespace {

const sim::Path StoreDirectory1 = u"C:\\Windows\\System32\\DriverStore\\FileRepository\\display_1";
const sim::Path StoreDirectory2 = u"C:\\Windows\\System32\\DriverStore\\FileRepository\\display_2";
const sim::Path AnswerInSystemRoot = u"\\SystemRoot\\System32\\DriverStore\\FileRepository\\display_1";
const sim::Path AnswerReplaced = u"C:\\Windows\\system32\\DriverStore\\FileRepository\\display_1";
const NTSTATUS StatusUnsuccessful = static_cast<NTSTATUS>(0xC0000001u);
const UINT Vendor10DE = 0x10DE;
const UINT OtherVendor = 0x1002;

std::string LoadedDirectory()
{
    WCHAR directory[DIRECTORY_BUFFER_CHARS] = {};
    GetLoadedDriverDirectory(directory);
    return Text(directory);
}

std::string AdapterPath()
{
    WCHAR directory[DIRECTORY_BUFFER_CHARS] = {};
    QueryAdapterDriverStorePath(directory);
    return Text(directory);
}

void LoadModule(const sim::Path& path)
{
    sim::AddModule(path);
    ASSERT_NE(LoadLibraryExW(path.c_str(), nullptr, 0), nullptr);
}

// The running build, as the platform and the registry both report it.
void RunOnBuild(DWORD major, DWORD minor, DWORD build)
{
    sim::SetVersion(major, minor, 0, build);
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                           u"CurrentBuildNumber", sim::Widen(std::to_string(build)));
}

// ---- loaded user-mode driver modules

TEST_F(DevicesScenario, SecondModuleIsUsedWhenTheFirstIsNotLoaded)
{
    LoadModule(StoreDirectory1 + u"\\nvldumd.dll");

    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadedDirectory(), Text(StoreDirectory1));
    // Left by the platform: the lookup of the module that is not loaded.
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(sim::CallsStartingWith("GetModuleHandleW"),
              (std::vector<std::string>{"GetModuleHandleW nvldumdx.dll",
                                        "GetModuleHandleW nvldumd.dll"}));
}

TEST_F(DevicesScenario, FirstModuleIsPreferredWhenBothAreLoaded)
{
    LoadModule(StoreDirectory1 + u"\\nvldumd.dll");
    LoadModule(StoreDirectory2 + u"\\nvldumdx.dll");

    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadedDirectory(), Text(StoreDirectory2));
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);  // nothing failed, nothing set
    EXPECT_EQ(sim::CountCalls("GetModuleHandleW nvldumd.dll"), 0u);
}

TEST_F(DevicesScenario, NoModuleLoadedLeavesTheBufferEmpty)
{
    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadedDirectory(), "");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

struct FileNameCase {
    const char* name;
    sim::Path firstModuleFileName;  // what nvldumdx.dll's file name reads
    std::string directory;          // nvldumd.dll is loaded from StoreDirectory1
};

std::ostream& operator<<(std::ostream& out, const FileNameCase& c) { return out << c.name; }

class LoadedFileNames : public DevicesScenario, public ::testing::WithParamInterface<FileNameCase> {};

TEST_P(LoadedFileNames, AreCutAtTheirLastBackslash)
{
    const FileNameCase& c = GetParam();
    const sim::Path first = StoreDirectory2 + u"\\nvldumdx.dll";
    LoadModule(first);
    LoadModule(StoreDirectory1 + u"\\nvldumd.dll");
    sim::SetModuleFileNameAnswer(first, c.firstModuleFileName);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadedDirectory(), c.directory);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);  // every module asked for is loaded
}

INSTANTIATE_TEST_SUITE_P(
    Names, LoadedFileNames,
    ::testing::Values(
        FileNameCase{"ForwardSlashesOnlyGiveNothingAndEndTheSearch", u"C:/drivers/nvldumdx.dll", ""},
        FileNameCase{"ForwardSlashIsNoCutPoint", u"C:\\drivers/sub/nvldumdx.dll", "C:"},
        FileNameCase{"RelativeNameIsPassedOver", u"drivers\\nvldumdx.dll",
                     "C:\\Windows\\System32\\DriverStore\\FileRepository\\display_1"},
        FileNameCase{"BareNameIsPassedOver", u"nvldumdx.dll",
                     "C:\\Windows\\System32\\DriverStore\\FileRepository\\display_1"},
        FileNameCase{"BackslashAtPositionZeroIsNoCutPoint", u"\\nvldumdx.dll", ""},
        FileNameCase{"UncPath", u"\\\\host\\share\\nvldumdx.dll", "\\\\host\\share"},
        FileNameCase{"DriveRoot", u"C:\\nvldumdx.dll", "C:"}),
    [](const ::testing::TestParamInfo<FileNameCase>& info) { return std::string(info.param.name); });

// A file name longer than the buffer comes back cut short; cutting that again at
// its last backslash would give an ancestor of the driver's directory.
TEST_F(DevicesScenario, FileNameCutShortByTheBufferIsPassedOver)
{
    const sim::Path first = StoreDirectory2 + u"\\nvldumdx.dll";
    LoadModule(first);
    LoadModule(StoreDirectory1 + u"\\nvldumd.dll");
    sim::Path deep = u"C:\\Windows\\System32\\DriverStore\\FileRepository";
    while (deep.size() < 300)
        deep += u"\\abcdefghij";
    sim::SetModuleFileNameAnswer(first, deep + u"\\nvldumdx.dll");

    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadedDirectory(), Text(StoreDirectory1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));  // left by the platform
}

TEST_F(DevicesScenario, PassedOverFileNameIsClearedFromTheBuffer)
{
    const sim::Path first = StoreDirectory2 + u"\\nvldumdx.dll";
    LoadModule(first);
    sim::SetModuleFileNameAnswer(first, u"drivers\\nvldumdx.dll");

    WCHAR directory[DIRECTORY_BUFFER_CHARS] = {};
    GetLoadedDriverDirectory(directory);
    EXPECT_EQ(directory[0], 0);
}

// ---- the adapter's driver store path

TEST_F(DevicesScenario, AdapterOfAnotherVendorIsPassedOver)
{
    int other = sim::AddAdapter(1, OtherVendor);
    sim::SetAdapterDriverStorePath(other, u"D:\\Other");
    int adapter = sim::AddAdapter(2, Vendor10DE);
    sim::SetAdapterDriverStorePath(adapter, AnswerInSystemRoot);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(AdapterPath(), Text(AnswerReplaced));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));  // CopySystemDirectory ran
    EXPECT_EQ(sim::CallsStartingWith("D3DKMT"),
              (std::vector<std::string>{"D3DKMTEnumAdapters2 count", "D3DKMTEnumAdapters2 fill",
                                        "D3DKMTQueryAdapterInfo 1 31",
                                        "D3DKMTQueryAdapterInfo 2 31",
                                        "D3DKMTQueryAdapterInfo 2 48",
                                        "D3DKMTCloseAdapter 1", "D3DKMTCloseAdapter 2"}));
    EXPECT_EQ(sim::CallsStartingWith("GetProcAddress gdi32.dll"),
              (std::vector<std::string>{"GetProcAddress gdi32.dll D3DKMTEnumAdapters2",
                                        "GetProcAddress gdi32.dll D3DKMTQueryAdapterInfo",
                                        "GetProcAddress gdi32.dll D3DKMTCloseAdapter"}));
}

TEST_F(DevicesScenario, FailingDeviceIdQueryEndsTheWalk)
{
    int other = sim::AddAdapter(1, OtherVendor);
    sim::SetAdapterDeviceIdsStatus(other, StatusUnsuccessful);
    int adapter = sim::AddAdapter(2, Vendor10DE);
    sim::SetAdapterDriverStorePath(adapter, AnswerInSystemRoot);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(AdapterPath(), "");
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);  // the adapter calls leave the code alone
    EXPECT_EQ(sim::CountCalls("D3DKMTQueryAdapterInfo 2"), 0u);
}

TEST_F(DevicesScenario, AdapterWithHandleZeroEndsTheSearch)
{
    int first = sim::AddAdapter(0, Vendor10DE);
    sim::SetAdapterDriverStorePath(first, AnswerInSystemRoot);
    int second = sim::AddAdapter(2, Vendor10DE);
    sim::SetAdapterDriverStorePath(second, AnswerInSystemRoot);

    EXPECT_EQ(AdapterPath(), "");
    EXPECT_EQ(sim::CountCalls("D3DKMTQueryAdapterInfo 0 31"), 1u);
    EXPECT_EQ(sim::CountCalls("D3DKMTQueryAdapterInfo 2"), 0u);
    EXPECT_EQ(sim::CountCalls("D3DKMTQueryAdapterInfo 0 48"), 0u);
}

TEST_F(DevicesScenario, NoAdapterOfTheVendorGivesNothing)
{
    int other = sim::AddAdapter(1, OtherVendor);
    sim::SetAdapterDriverStorePath(other, u"D:\\Other");

    EXPECT_EQ(AdapterPath(), "");
    EXPECT_EQ(sim::CountCalls("D3DKMTQueryAdapterInfo 1 48"), 0u);
}

TEST_F(DevicesScenario, NoAdapterAtAllAsksNoFurther)
{
    SetLastError(0xdeadbeef);
    EXPECT_EQ(AdapterPath(), "");
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    EXPECT_EQ(sim::CallsStartingWith("D3DKMT"),
              (std::vector<std::string>{"D3DKMTEnumAdapters2 count"}));
}

struct EnumerationCase {
    const char* name;
    NTSTATUS counting;
    NTSTATUS filling;
};

std::ostream& operator<<(std::ostream& out, const EnumerationCase& c) { return out << c.name; }

class AdapterEnumeration : public DevicesScenario,
                           public ::testing::WithParamInterface<EnumerationCase> {};

TEST_P(AdapterEnumeration, FailureGivesNothing)
{
    const EnumerationCase& c = GetParam();
    int adapter = sim::AddAdapter(2, Vendor10DE);
    sim::SetAdapterDriverStorePath(adapter, AnswerInSystemRoot);
    sim::SetAdapterEnumerationStatus(c.counting, c.filling);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(AdapterPath(), "");
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    EXPECT_EQ(sim::CountCalls("D3DKMTQueryAdapterInfo"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Calls, AdapterEnumeration,
                         ::testing::Values(EnumerationCase{"Counting", StatusUnsuccessful, 0},
                                           EnumerationCase{"Filling", 0, StatusUnsuccessful}),
                         [](const ::testing::TestParamInfo<EnumerationCase>& info) {
                             return std::string(info.param.name);
                         });

struct StoreQueryCase {
    const char* name;
    NTSTATUS status;
    UINT queryStatus;
};

std::ostream& operator<<(std::ostream& out, const StoreQueryCase& c) { return out << c.name; }

class StoreQueryFailures : public DevicesScenario,
                           public ::testing::WithParamInterface<StoreQueryCase> {};

TEST_P(StoreQueryFailures, GiveNothing)
{
    const StoreQueryCase& c = GetParam();
    int adapter = sim::AddAdapter(2, Vendor10DE);
    sim::SetAdapterDriverStorePath(adapter, AnswerInSystemRoot);
    sim::SetAdapterDriverStoreStatus(adapter, c.status, c.queryStatus);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(AdapterPath(), "");
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    EXPECT_EQ(sim::CountCalls("GetSystemDirectoryW"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, StoreQueryFailures,
    ::testing::Values(StoreQueryCase{"FailingCall", StatusUnsuccessful, 0},
                      StoreQueryCase{"BufferOverflowStatus", 0,
                                     D3DDDI_QUERYREGISTRY_STATUS_BUFFER_OVERFLOW},
                      StoreQueryCase{"FailStatus", 0, 2}),
    [](const ::testing::TestParamInfo<StoreQueryCase>& info) { return std::string(info.param.name); });

struct AnswerCase {
    const char* name;
    sim::Path answer;
    bool terminated;
    std::string expected;
    bool answered;  // a terminated answer came back: CopySystemDirectory ran and cleared the code
};

std::ostream& operator<<(std::ostream& out, const AnswerCase& c) { return out << c.name; }

class DriverStoreAnswers : public DevicesScenario, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(DriverStoreAnswers, FillTheBufferOnlyWithAWholePath)
{
    const AnswerCase& c = GetParam();
    int adapter = sim::AddAdapter(2, Vendor10DE);
    sim::SetAdapterDriverStorePath(adapter, c.answer, c.terminated);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(AdapterPath(), c.expected);
    EXPECT_EQ(GetLastError(), c.answered ? static_cast<DWORD>(ERROR_SUCCESS) : 0xdeadbeefu);
}

sim::Path Repeat(char16_t c, size_t count) { return sim::Path(count, c); }

// The system directory C:\Windows\system32 (19 characters) and one backslash
// replace the 21 characters of the prefix.
INSTANTIATE_TEST_SUITE_P(
    Answers, DriverStoreAnswers,
    ::testing::Values(
        AnswerCase{"PrefixInMixedCase", u"\\SystemRoot\\System32\\DriverStore\\x", true,
                   "C:\\Windows\\system32\\DriverStore\\x", true},
        AnswerCase{"PrefixInUpperCase", u"\\SYSTEMROOT\\SYSTEM32\\DriverStore\\x", true,
                   "C:\\Windows\\system32\\DriverStore\\x", true},
        AnswerCase{"PrefixInLowerCase", u"\\systemroot\\system32\\DriverStore\\x", true,
                   "C:\\Windows\\system32\\DriverStore\\x", true},
        AnswerCase{"PrefixAlone", u"\\SystemRoot\\system32\\", true, "C:\\Windows\\system32", true},
        AnswerCase{"PathWithoutPrefixIsKept", u"D:\\Drivers\\x", true, "D:\\Drivers\\x", true},
        AnswerCase{"PrefixWithoutItsLastBackslashIsNoPrefix", u"\\SystemRoot\\system32", true,
                   "\\SystemRoot\\system32", true},
        AnswerCase{"OtherRootIsKept", u"\\SystemRoot\\SysWOW64\\x", true,
                   "\\SystemRoot\\SysWOW64\\x", true},
        AnswerCase{"ReplacedPathOf260CharactersFits",
                   u"\\SystemRoot\\system32\\" + Repeat(u'a', 240), true,
                   "C:\\Windows\\system32\\" + std::string(240, 'a'), true},
        AnswerCase{"ReplacedPathOf261CharactersIsNoAnswer",
                   u"\\SystemRoot\\system32\\" + Repeat(u'a', 241), true, "", true},
        AnswerCase{"PathOf260CharactersFits", u"D:\\" + Repeat(u'b', 257), true,
                   "D:\\" + std::string(257, 'b'), true},
        AnswerCase{"PathOf261CharactersIsNoAnswer", u"D:\\" + Repeat(u'b', 258), true, "", true},
        AnswerCase{"LongestTerminatedAnswerIsNoAnswer", u"D:\\" + Repeat(u'b', 261), true, "", true},
        AnswerCase{"AnswerTooLongForTheOutputAreaIsNoAnswer", u"D:\\" + Repeat(u'b', 300), true, "", false},
        AnswerCase{"UnterminatedAnswerFillingTheOutputAreaIsNoAnswer", Repeat(u'c', 265), false, "", false},
        AnswerCase{"UnterminatedLongerAnswerIsNoAnswer", u"D:\\" + Repeat(u'c', 400), false, "", false},
        AnswerCase{"UnterminatedAnswerWithThePrefixIsNoAnswer",
                   u"\\SystemRoot\\system32\\" + Repeat(u'c', 244), false, "", false},
        AnswerCase{"ShortAnswerWithoutTerminatorEndsInTheZeroFill", u"D:\\Drivers\\x", false,
                   "D:\\Drivers\\x", true}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

TEST_F(DevicesScenario, LongerSystemDirectoryCanMakeTheReplacedPathNoAnswer)
{
    int adapter = sim::AddAdapter(2, Vendor10DE);
    const sim::Path answer = u"\\SystemRoot\\system32\\DriverStore\\" + Repeat(u'a', 200);
    sim::SetAdapterDriverStorePath(adapter, answer);
    EXPECT_EQ(AdapterPath(), "C:\\Windows\\system32\\DriverStore\\" + std::string(200, 'a'));

    sim::SetSystemDirectory(u"C:\\" + Repeat(u'w', 60));  // the libraries are bound already
    EXPECT_EQ(AdapterPath(), "");
}

TEST_F(DevicesScenario, AnswerKeepsItsPrefixWhenTheSystemDirectoryIsUnavailable)
{
    int adapter = sim::AddAdapter(2, Vendor10DE);
    sim::SetAdapterDriverStorePath(adapter, AnswerInSystemRoot);
    sim::SetSystemDirectoryFails(true);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(AdapterPath(), Text(AnswerInSystemRoot));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// Each function is needed: without the one that closes the handles the
// enumeration that opens them is never made.
TEST_F(DevicesScenario, MissingKernelGraphicsFunctionGivesNothing)
{
    for (const char* missing : {"D3DKMTQueryAdapterInfo", "D3DKMTCloseAdapter"}) {
        SCOPED_TRACE(missing);
        EXPECT_EXIT(
            {
                int adapter = sim::AddAdapter(2, Vendor10DE);
                sim::SetAdapterDriverStorePath(adapter, AnswerInSystemRoot);
                sim::RemoveExport(u"C:\\Windows\\system32\\gdi32.dll", missing);
                SetLastError(0xdeadbeef);
                bool nothing = AdapterPath().empty() && GetLastError() == ERROR_PROC_NOT_FOUND &&
                               sim::CountCalls("D3DKMTEnumAdapters2") == 0;
                std::exit(nothing ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
    }
}

TEST_F(DevicesScenario, MissingKernelGraphicsLibraryGivesNothing)
{
    sim::AddAdapter(2, Vendor10DE);
    sim::RemoveFile(u"C:\\Windows\\system32\\gdi32.dll");

    SetLastError(0xdeadbeef);
    EXPECT_EQ(AdapterPath(), "");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(DevicesScenario, AdapterQueryFreesEverythingWhenAnyAllocationFails)
{
    int other = sim::AddAdapter(1, OtherVendor);
    sim::SetAdapterDriverStorePath(other, u"D:\\Other");
    int adapter = sim::AddAdapter(2, Vendor10DE);
    sim::SetAdapterDriverStorePath(adapter, AnswerInSystemRoot);
    std::string path;
    bool keptTheDriversString = false;

    size_t reached = ForEveryAllocation(
        [&] { path = AdapterPath(); },
        [&](size_t n) {
            SCOPED_TRACE(n);
            if (n == 0) {
                EXPECT_EQ(path, Text(AnswerReplaced));
            } else if (path == Text(AnswerInSystemRoot)) {
                keptTheDriversString = true;  // no system directory copy, or no joined path
            } else {
                EXPECT_EQ(path, "");
            }
            ExpectNothingLeft();
        });
    EXPECT_EQ(reached, 4u);  // adapters, query block, system directory, joined path
    EXPECT_TRUE(keptTheDriversString);
}

// ---- the driver store directory

// The display device with its INF file in the driver store directory display_2.
void AddInfRoute(const sim::Path& location = StoreDirectory2 + u"\\display.inf")
{
    int device = AddDisplayAdapterDevice();
    sim::SetDeviceDriverInfPath(device, u"oem12.inf");
    sim::SetInfDriverStoreLocation(u"oem12.inf", location);
}

// The vendor-0x10DE adapter answering with display_1's path.
void AddAdapterRoute()
{
    int adapter = sim::AddAdapter(2, Vendor10DE);
    sim::SetAdapterDriverStorePath(adapter, AnswerInSystemRoot);
}

TEST_F(DevicesScenario, AdapterAnswerNamingADirectoryIsTheStoreDirectory)
{
    AddAdapterRoute();
    sim::AddDirectory(AnswerReplaced);
    AddInfRoute();

    SetLastError(0xdeadbeef);
    LPWSTR directory = GetDriverStoreDirectory();
    EXPECT_EQ(Text(directory), Text(AnswerReplaced));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(sim::CountCalls("SetupDiGetClassDevsW"), 0u);
    LocalFree(directory);
}

struct AdapterFallbackCase {
    const char* name;
    bool isFile;  // the answer names a file; otherwise nothing exists there
};

std::ostream& operator<<(std::ostream& out, const AdapterFallbackCase& c) { return out << c.name; }

class AdapterFallback : public DevicesScenario,
                        public ::testing::WithParamInterface<AdapterFallbackCase> {};

TEST_P(AdapterFallback, LeavesTheDecisionToTheDeviceSetupRoute)
{
    AddAdapterRoute();
    if (GetParam().isFile)
        sim::AddFile(AnswerReplaced);
    AddInfRoute();

    SetLastError(0xdeadbeef);
    LPWSTR directory = GetDriverStoreDirectory();
    EXPECT_EQ(Text(directory), Text(StoreDirectory2));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(sim::CountCalls("GetFileAttributesW " + Text(AnswerReplaced)), 1u);
    EXPECT_EQ(sim::CountCalls("SetupGetInfDriverStoreLocationW oem12.inf data"), 1u);
    LocalFree(directory);
}

INSTANTIATE_TEST_SUITE_P(Answers, AdapterFallback,
                         ::testing::Values(AdapterFallbackCase{"NamingAFile", true},
                                           AdapterFallbackCase{"NamingNothing", false}),
                         [](const ::testing::TestParamInfo<AdapterFallbackCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(DevicesScenario, NoAdapterAnswerGoesToTheDeviceSetupRoute)
{
    AddInfRoute();

    LPWSTR directory = GetDriverStoreDirectory();
    EXPECT_EQ(Text(directory), Text(StoreDirectory2));
    EXPECT_EQ(sim::CountCalls("GetFileAttributesW"), 0u);
    LocalFree(directory);
}

TEST_F(DevicesScenario, BelowBuild17130TheAdapterIsNeverAsked)
{
    RunOnBuild(10, 0, 16299);
    AddAdapterRoute();
    sim::AddDirectory(AnswerReplaced);
    AddInfRoute();

    SetLastError(0xdeadbeef);
    LPWSTR directory = GetDriverStoreDirectory();
    EXPECT_EQ(Text(directory), Text(StoreDirectory2));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW gdi32.dll"), 0u);
    EXPECT_EQ(sim::CountCalls("D3DKMT"), 0u);
    LocalFree(directory);
}

TEST_F(DevicesScenario, BelowBuild6000TheDeviceSetupRouteIsNotImplemented)
{
    RunOnBuild(5, 1, 2600);
    AddAdapterRoute();
    AddInfRoute();

    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetDriverStoreDirectory(), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(sim::CountCalls("GetProcAddress Setupapi.dll"), 0u);
    EXPECT_EQ(sim::CountCalls("SetupDi"), 0u);
    EXPECT_EQ(sim::CountCalls("D3DKMT"), 0u);
}

TEST_F(DevicesScenario, DeviceSetupRouteBindsItsFunctionsInOrder)
{
    AddInfRoute();

    LPWSTR directory = GetDriverStoreDirectory();
    LocalFree(directory);
    EXPECT_EQ(sim::CallsStartingWith("GetProcAddress Setupapi.dll"),
              (std::vector<std::string>{
                  "GetProcAddress Setupapi.dll SetupDiGetDevicePropertyW",
                  "GetProcAddress Setupapi.dll SetupGetInfDriverStoreLocationW",
                  "GetProcAddress Setupapi.dll SetupDiDestroyDeviceInfoList",
                  "GetProcAddress Setupapi.dll SetupDiGetClassDevsW",
                  "GetProcAddress Setupapi.dll SetupDiEnumDeviceInfo",
                  "GetProcAddress Setupapi.dll SetupDiGetDeviceRegistryPropertyW",
                  "GetProcAddress Setupapi.dll SetupDiGetDeviceInterfaceDetailW"}));
    EXPECT_EQ(sim::CallsStartingWith("SetupDiGetDevicePropertyW"),
              (std::vector<std::string>{"SetupDiGetDevicePropertyW 5 size",
                                        "SetupDiGetDevicePropertyW 5 data"}));
}

TEST_F(DevicesScenario, MissingInfLocationFunctionGivesNullBeforeAnyDeviceIsLookedAt)
{
    AddInfRoute();
    sim::RemoveExport(u"C:\\Windows\\system32\\Setupapi.dll", "SetupGetInfDriverStoreLocationW");

    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetDriverStoreDirectory(), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(sim::CountCalls("SetupDiGetClassDevsW"), 0u);
}

struct InfCase {
    const char* name;
    std::function<void()> arrange;
    std::string expected;
};

std::ostream& operator<<(std::ostream& out, const InfCase& c) { return out << c.name; }

class InfLocations : public DevicesScenario, public ::testing::WithParamInterface<InfCase> {};

TEST_P(InfLocations, GiveTheDirectoryUpToTheLastBackslash)
{
    GetParam().arrange();

    SetLastError(0xdeadbeef);
    LPWSTR directory = GetDriverStoreDirectory();
    EXPECT_EQ(Text(directory), GetParam().expected);
    // Cleared with a result; without one, what the set's destruction left.
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    LocalFree(directory);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, InfLocations,
    ::testing::Values(
        InfCase{"InfInTheStore", [] { AddInfRoute(); },
                "C:\\Windows\\System32\\DriverStore\\FileRepository\\display_2"},
        InfCase{"LocationWithoutBackslash", [] { AddInfRoute(u"display.inf"); }, "(null)"},
        InfCase{"LocationWithForwardSlashesOnly", [] { AddInfRoute(u"C:/store/display.inf"); },
                "(null)"},
        InfCase{"LocationInTheRootGivesNoDirectory", [] { AddInfRoute(u"\\display.inf"); },
                "(null)"},
        InfCase{"NoDisplayDevice", [] { sim::AddDeviceWithCompatibleIds({OtherVendorId}); },
                "(null)"},
        InfCase{"DeviceWithoutInfPath", [] { AddDisplayAdapterDevice(); }, "(null)"},
        InfCase{"InfNotInTheStore",
                [] {
                    int device = AddDisplayAdapterDevice();
                    sim::SetDeviceDriverInfPath(device, u"oem13.inf");
                },
                "(null)"},
        InfCase{"InfPathReadFails",
                [] {
                    AddInfRoute();
                    sim::FailDeviceCall("SetupDiGetDevicePropertyW", 2, ERROR_INVALID_DATA);
                },
                "(null)"},
        InfCase{"LocationReadFails",
                [] {
                    AddInfRoute();
                    sim::FailDeviceCall("SetupGetInfDriverStoreLocationW", 2, ERROR_INVALID_DATA);
                },
                "(null)"}),
    [](const ::testing::TestParamInfo<InfCase>& info) { return std::string(info.param.name); });

TEST_F(DevicesScenario, FailedCopyOfAGoodAdapterAnswerEndsTheOperation)
{
    AddAdapterRoute();
    sim::AddDirectory(AnswerReplaced);
    AddInfRoute();
    LPWSTR directory = GetDriverStoreDirectory();
    ASSERT_EQ(Text(directory), Text(AnswerReplaced));
    LocalFree(directory);
    sim::ClearCallLog();

    // The copy is the adapter route's last allocation.
    size_t before = sim::AllocationCount();
    directory = GetDriverStoreDirectory();
    LocalFree(directory);
    sim::FailAllocation(sim::AllocationCount() - before);
    sim::ClearCallLog();

    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetDriverStoreDirectory(), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(sim::CountCalls("SetupDiGetClassDevsW"), 0u);
}

TEST_F(DevicesScenario, DeviceSetupRouteFreesEverythingWhenAnyAllocationFails)
{
    RunOnBuild(10, 0, 16299);
    AddInfRoute();
    LPWSTR directory = nullptr;

    size_t reached = ForEveryAllocation(
        [&] {
            SetLastError(0xdeadbeef);
            directory = GetDriverStoreDirectory();
        },
        [&](size_t n) {
            SCOPED_TRACE(n);
            EXPECT_EQ(Text(directory), n == 0 ? Text(StoreDirectory2) : "(null)");
            if (n != 0)
                EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));  // destroyed last
            LocalFree(directory);
            ExpectNothingLeft();
        });
    EXPECT_EQ(reached, 4u);  // compatible ids, INF name, INF location, directory copy
}

TEST_F(DevicesScenario, AdapterRouteFreesEverythingWhenAnyAllocationFails)
{
    AddAdapterRoute();
    sim::AddDirectory(AnswerReplaced);
    LPWSTR directory = nullptr;

    ForEveryAllocation(
        [&] { directory = GetDriverStoreDirectory(); },
        [&](size_t n) {
            SCOPED_TRACE(n);
            if (n == 0)
                EXPECT_EQ(Text(directory), Text(AnswerReplaced));
            else
                EXPECT_EQ(directory, nullptr);  // the device setup route finds no device
            LocalFree(directory);
            ExpectNothingLeft();
        });
}

}  // namespace
