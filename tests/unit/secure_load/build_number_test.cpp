// The build-number test, the registry reader, and the late binding of the
// registry functions they use.
#include "loader_test_support.h"

#include "secure_load/late_bound.h"
#include "secure_load/loader.h"
#include "secure_load/loader_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

const sim::Path CurrentVersionKey = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const sim::Path TestKey = u"SOFTWARE\\LoaderTest";
const sim::Path Advapi32 = u"C:\\Windows\\system32\\Advapi32.dll";

// ---- the build test

TEST_F(LoaderScenario, PlatformYesStandsAndIsNotCached)
{
    EXPECT_EQ(IsBuildAtLeast(14308), 1);
    EXPECT_EQ(IsBuildAtLeast(14308), 1);

    EXPECT_EQ(sim::CountCalls("VerifyVersionInfoW 0x4 14308"), 2u);
    EXPECT_EQ(sim::CountCalls("RegOpenKeyExW"), 0u);
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW"), 0u);
    EXPECT_EQ(CachedBuildNumber, 0u);
}

TEST_F(LoaderScenario, RegistryNumberWinsOverAPlatformNoAndIsCached)
{
    RunOnWindows8(u"14393");
    SetLastError(0xdeadbeef);

    EXPECT_EQ(IsBuildAtLeast(14308), 1);
    EXPECT_EQ(CachedBuildNumber, 14393u);
    EXPECT_EQ(sim::CountCalls("RegQueryValueExW CurrentBuildNumber data"), 1u);

    sim::ClearCallLog();
    EXPECT_EQ(IsBuildAtLeast(17130), 0);
    EXPECT_EQ(IsBuildAtLeast(14393), 1);
    EXPECT_EQ(IsBuildAtLeast(14394), 0);
    EXPECT_TRUE(sim::CallLog().empty()) << "first call: " << sim::CallLog().front();
}

TEST_F(LoaderScenario, PlatformYesForOneNumberThenRegistryForAHigherOne)
{
    EXPECT_EQ(IsBuildAtLeast(14308), 1);
    EXPECT_EQ(IsBuildAtLeast(20000), 0);  // the platform says no, the registry 19045
    EXPECT_EQ(CachedBuildNumber, 19045u);

    sim::ClearCallLog();
    EXPECT_EQ(IsBuildAtLeast(19045), 1);
    EXPECT_TRUE(sim::CallLog().empty());
}

struct RegistryBuildCase {
    const char* description;
    DWORD type;
    std::vector<uint8_t> bytes;  // empty with type REG_NONE: no value at all
    bool valuePresent;
    DWORD parsed;  // 0: nothing cached
};

std::vector<uint8_t> Utf16(const std::u16string& text, bool terminator = true)
{
    size_t bytes = (text.size() + (terminator ? 1 : 0)) * sizeof(char16_t);
    std::vector<uint8_t> out(bytes);
    std::memcpy(out.data(), text.c_str(), bytes);
    return out;
}

std::vector<uint8_t> Dword(uint32_t value)
{
    std::vector<uint8_t> out(4);
    std::memcpy(out.data(), &value, 4);
    return out;
}

void PrintTo(const RegistryBuildCase& row, std::ostream* out) { *out << row.description; }

class RegistryBuildNumber : public LoaderScenarioTable<RegistryBuildCase> {};

TEST_P(RegistryBuildNumber, IsCachedOnlyWhenTheWholeTextIsDigits)
{
    const RegistryBuildCase& row = GetParam();
    SCOPED_TRACE(row.description);
    sim::SetVersion(6, 2, 0, 9200);
    sim::DeleteRegistryValue(HKEY_LOCAL_MACHINE, CurrentVersionKey, u"CurrentBuildNumber");
    if (row.valuePresent)
        sim::SetRegistryValue(HKEY_LOCAL_MACHINE, CurrentVersionKey, u"CurrentBuildNumber",
                              row.type, row.bytes.data(), static_cast<DWORD>(row.bytes.size()));
    sim::ClearCallLog();

    EXPECT_EQ(IsBuildAtLeast(14308), row.parsed != 0 ? 1 : 0);
    EXPECT_EQ(CachedBuildNumber, row.parsed);

    // Nothing cached: the next call asks the platform and the registry again.
    sim::ClearCallLog();
    IsBuildAtLeast(14308);
    size_t asked = row.parsed != 0 ? 0u : 1u;
    EXPECT_EQ(sim::CountCalls("VerifyVersionInfoW"), asked);
    EXPECT_EQ(sim::CountCalls("RegOpenKeyExW"), asked);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RegistryBuildNumber,
    ::testing::Values(
        RegistryBuildCase{"digits", REG_SZ, Utf16(u"14393"), true, 14393},
        RegistryBuildCase{"digits without terminator", REG_SZ, Utf16(u"14393", false), true, 14393},
        RegistryBuildCase{"largest 32-bit number", REG_SZ, Utf16(u"4294967295"), true, 4294967295u},
        RegistryBuildCase{"digits then a letter", REG_SZ, Utf16(u"14393a"), true, 0},
        RegistryBuildCase{"letter first", REG_SZ, Utf16(u"a14393"), true, 0},
        RegistryBuildCase{"leading space", REG_SZ, Utf16(u" 14393"), true, 0},
        RegistryBuildCase{"empty string", REG_SZ, Utf16(u""), true, 0},
        RegistryBuildCase{"no data", REG_SZ, {}, true, 0},
        RegistryBuildCase{"zero", REG_SZ, Utf16(u"0"), true, 0},
        RegistryBuildCase{"beyond 32 bits", REG_SZ, Utf16(u"4294967296"), true, 0},
        RegistryBuildCase{"expandable string", REG_EXPAND_SZ, Utf16(u"14393"), true, 0},
        RegistryBuildCase{"number value", REG_DWORD, Dword(14393), true, 0},
        RegistryBuildCase{"value missing", REG_SZ, {}, false, 0}));

TEST_F(LoaderScenario, MissingBuildKeyAnswersNoAndAsksAgain)
{
    sim::SetVersion(6, 2, 0, 9200);
    sim::DeleteRegistryKey(HKEY_LOCAL_MACHINE, CurrentVersionKey);

    EXPECT_EQ(IsBuildAtLeast(9201), 0);
    EXPECT_EQ(IsBuildAtLeast(9201), 0);

    EXPECT_EQ(sim::CountCalls("RegOpenKeyExW"), 2u);
    EXPECT_EQ(sim::CountCalls("RegQueryValueExW"), 0u);
}

// Memory exhausted at each allocation of a first build test on Windows 7 (six
// dependency paths, the Advapi32.dll path, the value): nothing leaks, no key
// stays open, and only a lost value buffer or lost pinning makes the answer 0.
class BuildTestAllocationFailure : public LoaderScenarioTable<int> {};

TEST_P(BuildTestAllocationFailure, LeaksNothing)
{
    const int failing = GetParam();
    sim::SetVersion(6, 1, 1, 7601);  // the registry says 19045
    sim::FailAllocation(static_cast<size_t>(failing));

    int answer = IsBuildAtLeast(14308);

    // Every one of them loses the answer: 7 is the Advapi32.dll path, which is
    // not replaced by the bare name.
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(CachedBuildNumber, 0u);
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW Advapi32.dll"), 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryAllocation, BuildTestAllocationFailure, ::testing::Range(1, 9));

TEST_F(LoaderScenario, FirstBuildTestOnWindows7AllocatesEightBlocks)
{
    sim::SetVersion(6, 1, 1, 7601);
    size_t before = sim::AllocationCount();

    EXPECT_EQ(IsBuildAtLeast(14308), 1);

    EXPECT_EQ(sim::AllocationCount() - before, 8u);
}

// ---- late binding of the registry functions

TEST_F(LoaderScenario, MissingAdvapi32AnswersNoAndIsTriedAgainAtTheNextNeed)
{
    RunOnWindows8(u"14393");
    sim::SetLoadFailure(Advapi32, ERROR_MOD_NOT_FOUND);
    SetLastError(0xdeadbeef);

    EXPECT_EQ(IsBuildAtLeast(14308), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LateBoundSystemFunctions.Advapi32, nullptr);
    EXPECT_EQ(IsBuildAtLeast(14308), 0);
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW Advapi32.dll"), 2u);

    sim::SetLoadFailure(Advapi32, 0);
    EXPECT_EQ(IsBuildAtLeast(14308), 1);
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW Advapi32.dll"), 3u);
    EXPECT_NE(LateBoundSystemFunctions.Advapi32, nullptr);
}

class MissingRegistryExport : public LoaderScenarioTable<const char*> {};

TEST_P(MissingRegistryExport, AnswersNoAndIsLookedUpAgainWhileTheOthersStay)
{
    const std::string missing = GetParam();
    RunOnWindows8(u"14393");
    // Keep the export to put it back later.
    HMODULE library = LoadLibraryExW(Advapi32.c_str(), nullptr, 0);
    FARPROC saved = GetProcAddress(library, missing.c_str());
    FreeLibrary(library);
    ASSERT_NE(saved, nullptr);
    sim::RemoveExport(Advapi32, missing);
    sim::ClearCallLog();
    SetLastError(0xdeadbeef);

    EXPECT_EQ(IsBuildAtLeast(14308), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(IsBuildAtLeast(14308), 0);

    sim::AddModule(Advapi32, {{missing, saved}});
    EXPECT_EQ(IsBuildAtLeast(14308), 1);

    EXPECT_EQ(sim::CountCalls("LoadLibraryExW Advapi32.dll"), 1u);
    EXPECT_EQ(sim::CountCalls("GetProcAddress Advapi32.dll " + missing), 3u);
    for (const char* name : {"RegOpenKeyExW", "RegCloseKey", "RegQueryValueExW"}) {
        if (missing == name)
            continue;
        // Found once, then kept; a function bound after the missing one is
        // looked up only once the missing one is found.
        EXPECT_LE(sim::CountCalls(std::string("GetProcAddress Advapi32.dll ") + name), 1u) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Exports, MissingRegistryExport,
                         ::testing::Values("RegOpenKeyExW", "RegCloseKey", "RegQueryValueExW"));

TEST_F(LoaderScenario, BoundLibraryAndFunctionsAreLookedUpOnce)
{
    RunOnWindows8(u"not a number");

    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(IsBuildAtLeast(14308), 0);

    EXPECT_EQ(sim::CountCalls("LoadLibraryExW Advapi32.dll"), 1u);
    EXPECT_EQ(sim::CountCalls("GetProcAddress"), 3u);
    EXPECT_EQ(sim::CountCalls("RegQueryValueExW CurrentBuildNumber data"), 3u);
}

// ---- the registry reader

HKEY OpenTestKey()
{
    LateBoundSystemFunctionTable& api = LateBoundSystemFunctions;
    HKEY key = nullptr;
    sim::AddRegistryKey(HKEY_LOCAL_MACHINE, TestKey);
    if (!BindSystemLibrary(&api.Advapi32, ADVAPI32_LIBRARY) ||
        !BindSystemFunction(api.Advapi32, &api.RegOpenKeyExW, "RegOpenKeyExW") ||
        !BindSystemFunction(api.Advapi32, &api.RegCloseKey, "RegCloseKey"))
        return nullptr;
    if (api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, TestKey.c_str(), 0, KEY_QUERY_VALUE, &key) != 0)
        return nullptr;
    return key;
}

void CloseTestKey(HKEY key) { LateBoundSystemFunctions.RegCloseKey(key); }

struct SlackCase {
    const char* description;
    DWORD type;
    std::vector<uint8_t> bytes;
    size_t blockBytes;
};

TEST_F(LoaderScenario, ValueGetsZeroSlackByType)
{
    const SlackCase rows[] = {
        {"string without terminator", REG_SZ, Utf16(u"abc", false), 8},
        {"string with terminator", REG_SZ, Utf16(u"abc"), 10},
        {"odd-sized string", REG_SZ, {'a', 0, 'b', 0, 'c'}, 8},
        {"expandable string", REG_EXPAND_SZ, Utf16(u"abc", false), 8},
        {"string list without terminators", REG_MULTI_SZ,
         Utf16(std::u16string(u"a\0b", 3), false), 10},
        {"odd-sized string list", REG_MULTI_SZ, {'a', 0, 0, 0, 'b'}, 10},
        {"binary", REG_BINARY, {1, 2, 3}, 3},
        {"number", REG_DWORD, Dword(7), 4},
        {"no type", REG_NONE, {9, 9, 9, 9, 9}, 5},
    };
    HKEY key = OpenTestKey();
    ASSERT_NE(key, nullptr);
    for (const SlackCase& row : rows) {
        SCOPED_TRACE(row.description);
        sim::SetRegistryValue(HKEY_LOCAL_MACHINE, TestKey, u"Value", row.type, row.bytes.data(),
                              static_cast<DWORD>(row.bytes.size()));
        DWORD type = 0;
        BYTE* data = nullptr;
        SetLastError(0xdeadbeef);

        EXPECT_EQ(ReadRegistryValue(key, u"Value", &type, &data), ERROR_SUCCESS);

        EXPECT_EQ(GetLastError(), 0xdeadbeefu);
        EXPECT_EQ(type, row.type);
        ASSERT_NE(data, nullptr);
        ASSERT_EQ(sim::BlockBytes(data), row.blockBytes);
        EXPECT_EQ(std::memcmp(data, row.bytes.data(), row.bytes.size()), 0);
        for (size_t i = row.bytes.size(); i < row.blockBytes; ++i)
            EXPECT_EQ(data[i], 0) << "byte " << i;
        LocalFree(data);
    }
    CloseTestKey(key);
}

TEST_F(LoaderScenario, StringWithoutTerminatorEndsAfterItsCharacters)
{
    HKEY key = OpenTestKey();
    ASSERT_NE(key, nullptr);
    std::vector<uint8_t> bytes = Utf16(u"abc", false);
    ASSERT_EQ(bytes.size(), 6u);
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, TestKey, u"Value", REG_SZ, bytes.data(), 6);
    DWORD type = 0;
    BYTE* data = nullptr;

    ASSERT_EQ(ReadRegistryValue(key, u"Value", &type, &data), ERROR_SUCCESS);

    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(data)), u"abc");
    EXPECT_EQ(sim::BlockBytes(data), 8u);
    LocalFree(data);
    CloseTestKey(key);
}

TEST_F(LoaderScenario, EmptyValueWritesNeitherOutArgument)
{
    HKEY key = OpenTestKey();
    ASSERT_NE(key, nullptr);
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, TestKey, u"Empty", REG_SZ, nullptr, 0);
    DWORD type = 0x5a5a;
    BYTE untouched = 0;
    BYTE* data = &untouched;
    size_t before = sim::AllocationCount();

    EXPECT_EQ(ReadRegistryValue(key, u"Empty", &type, &data), ERROR_SUCCESS);

    EXPECT_EQ(type, 0x5a5au);
    EXPECT_EQ(data, &untouched);
    EXPECT_EQ(sim::AllocationCount(), before);
    CloseTestKey(key);
}

TEST_F(LoaderScenario, MissingValueReturnsTheQueryStatusAndWritesNothing)
{
    HKEY key = OpenTestKey();
    ASSERT_NE(key, nullptr);
    DWORD type = 0x5a5a;
    BYTE* data = nullptr;
    SetLastError(0xdeadbeef);

    EXPECT_EQ(ReadRegistryValue(key, u"Absent", &type, &data), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(type, 0x5a5au);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    CloseTestKey(key);
}

TEST_F(LoaderScenario, ValueGrowingBetweenTheQueriesGivesNoBuffer)
{
    HKEY key = OpenTestKey();
    ASSERT_NE(key, nullptr);
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, TestKey, u"Value", u"abc");
    sim::GrowRegistryValueAfterSizeQuery(HKEY_LOCAL_MACHINE, TestKey, u"Value", 4);
    DWORD type = 0;
    BYTE* data = nullptr;
    size_t blocks = sim::LiveBlocks();

    EXPECT_EQ(ReadRegistryValue(key, u"Value", &type, &data), ERROR_MORE_DATA);

    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(sim::LiveBlocks(), blocks);
    EXPECT_EQ(sim::CountCalls("RegQueryValueExW Value data"), 1u);
    CloseTestKey(key);
}

// A string that becomes a string list in between would be walked past its
// block, sized for one terminator: it is read as a changed value.
TEST_F(LoaderScenario, ValueTurningIntoAStringListBetweenTheQueriesGivesNoBuffer)
{
    HKEY key = OpenTestKey();
    ASSERT_NE(key, nullptr);
    const char16_t unterminated[] = {u'a', u'b', u'c'};
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, TestKey, u"Value", REG_SZ, unterminated, 6);
    sim::RetypeRegistryValueAfterSizeQuery(HKEY_LOCAL_MACHINE, TestKey, u"Value", REG_MULTI_SZ);
    DWORD type = 0;
    BYTE* data = nullptr;
    size_t blocks = sim::LiveBlocks();

    EXPECT_EQ(ReadRegistryValue(key, u"Value", &type, &data), ERROR_MORE_DATA);

    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(sim::LiveBlocks(), blocks);
    CloseTestKey(key);
}

// The other way round the block has room to spare and the value is read.
TEST_F(LoaderScenario, StringListTurningIntoAStringBetweenTheQueriesIsRead)
{
    HKEY key = OpenTestKey();
    ASSERT_NE(key, nullptr);
    sim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, TestKey, u"Value", {u"ab"});
    sim::RetypeRegistryValueAfterSizeQuery(HKEY_LOCAL_MACHINE, TestKey, u"Value", REG_SZ);
    DWORD type = 0;
    BYTE* data = nullptr;

    EXPECT_EQ(ReadRegistryValue(key, u"Value", &type, &data), ERROR_SUCCESS);

    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(data)), u"ab");
    LocalFree(data);
    CloseTestKey(key);
}

TEST_F(LoaderScenario, AllocationFailureReturnsTheCodeAndNoBuffer)
{
    HKEY key = OpenTestKey();
    ASSERT_NE(key, nullptr);
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, TestKey, u"Value", u"abc");
    DWORD type = 0;
    BYTE* data = nullptr;

    sim::FailAllocation(1);
    EXPECT_EQ(ReadRegistryValue(key, u"Value", &type, &data), ERROR_NOT_ENOUGH_MEMORY);
    sim::FailAllocation(0);

    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(type, 0u);
    EXPECT_EQ(sim::CountCalls("RegQueryValueExW Value data"), 0u);

    // The control: the same read without the failure.
    EXPECT_EQ(ReadRegistryValue(key, u"Value", &type, &data), ERROR_SUCCESS);
    EXPECT_NE(data, nullptr);
    LocalFree(data);
    CloseTestKey(key);
}

TEST_F(LoaderScenario, ReaderReturnsTheBindingFailuresCode)
{
    DWORD type = 0;
    BYTE* data = nullptr;
    sim::SetLoadFailure(Advapi32, ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadRegistryValue(HKEY_LOCAL_MACHINE, u"Value", &type, &data), ERROR_ACCESS_DENIED);
    EXPECT_EQ(data, nullptr);
    sim::SetLoadFailure(Advapi32, 0);

    HMODULE library = LoadLibraryExW(Advapi32.c_str(), nullptr, 0);
    FARPROC saved = GetProcAddress(library, "RegQueryValueExW");
    FreeLibrary(library);
    sim::RemoveExport(Advapi32, "RegQueryValueExW");
    EXPECT_EQ(ReadRegistryValue(HKEY_LOCAL_MACHINE, u"Value", &type, &data), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(data, nullptr);

    sim::AddModule(Advapi32, {{"RegQueryValueExW", saved}});
    HKEY key = OpenTestKey();
    ASSERT_NE(key, nullptr);
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, TestKey, u"Value", u"abc");
    EXPECT_EQ(ReadRegistryValue(key, u"Value", &type, &data), ERROR_SUCCESS);
    LocalFree(data);
    CloseTestKey(key);
}

// A library that cannot be bound and leaves no code (the pinning failed in an
// earlier request) is still a failure, never a successful read.
TEST_F(LoaderScenario, ReaderNeverReportsAFailedBindingAsSuccess)
{
    sim::SetLoadFailure(InSystemDirectory(u"cryptnet.dll"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(LoadSystemModule(u"x.dll", 0), nullptr);  // pinning fails for good
    DWORD type = 0;
    BYTE* data = nullptr;
    SetLastError(ERROR_SUCCESS);

    LONG status = ReadRegistryValue(HKEY_LOCAL_MACHINE, u"Value", &type, &data);

    EXPECT_NE(status, ERROR_SUCCESS);
    EXPECT_EQ(data, nullptr);
}

}  // namespace
