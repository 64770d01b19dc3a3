// The path tests, the module-name comparison and the string producers.
#include "secure_load/path_helpers.h"
#include "platform/sim/sim.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

const DWORD Sentinel = 0xdeadbeef;

// Checks a produced string: its text, its block sized exactly to text and
// terminator; then frees it.
void ExpectProduced(LPWSTR produced, const WCHAR* expected, const std::string& row)
{
    if (expected == nullptr) {
        EXPECT_EQ(produced, nullptr) << row;
        LocalFree(produced);
        return;
    }
    ASSERT_NE(produced, nullptr) << row;
    sim::Path text(produced);
    EXPECT_EQ(text, sim::Path(expected)) << row << " gave " << sim::Narrow(produced);
    EXPECT_EQ(sim::BlockBytes(produced), (text.size() + 1) * sizeof(WCHAR)) << row;
    LocalFree(produced);
}

std::string Show(const WCHAR* text) { return text == nullptr ? "(null)" : "\"" + sim::Narrow(text) + "\""; }

TEST(PathTests, SeparatorAndAbsoluteTestsFollowTheTable)
{
    struct Row {
        const WCHAR* text;
        int hasSeparator;
        int isAbsolute;
    };
    const Row rows[] = {
        {nullptr, 0, 0},
        {u"", 0, 0},
        {u"nvapi64.dll", 0, 0},
        {u".\\nvapi64.dll", 1, 0},
        {u"C:\\Windows\\nvapi64.dll", 1, 1},
        {u"c:/Windows/nvapi64.dll", 1, 1},
        {u"\\\\host\\share\\nvapi64.dll", 1, 1},
        {u"/nvapi64.dll", 1, 1},
        {u"C:", 0, 0},
        {u"C:nvapi64.dll", 0, 0},
        {u"1:\\nvapi64.dll", 1, 0},
        {u"\u00e9:\\nvapi64.dll", 1, 0},  // a letter, but not an ASCII one
        {u"z:\\", 1, 1},
        {u"sub/x.dll", 1, 0},
    };
    for (const Row& row : rows) {
        SetLastError(Sentinel);
        EXPECT_EQ(HasPathSeparator(row.text), row.hasSeparator) << Show(row.text);
        EXPECT_EQ(IsAbsolutePath(row.text), row.isAbsolute) << Show(row.text);
        EXPECT_EQ(GetLastError(), Sentinel) << Show(row.text);
    }
}

TEST(ModuleNames, MissingExtensionStandsForDllOnly)
{
    struct Row {
        const WCHAR* path;
        const WCHAR* moduleName;
        int match;
    };
    const Row rows[] = {
        {u"C:\\Windows\\System32\\drivers\\nvapi64.sys", u"nvapi64.sys", 1},
        {u"C:\\Windows\\System32\\drivers\\NVAPI64.SYS", u"nvapi64.sys", 1},
        {u"C:\\Windows\\System32\\nvapi64.dll", u"nvapi64", 1},
        {u"nvapi64", u"NVAPI64.DLL", 1},
        {u"nvapi64.sys", u"nvapi64", 0},
        {u"nvapi64.sys", u"nvapi64.dll", 0},
        {u"nvapi64.", u"nvapi64", 0},
        {u"nvapi64.", u"nvapi64.", 1},
        {u"C:/Windows/nvapi64.dll", u"nvapi64.dll", 0},
        // beyond the table: stems must be equal in length and text
        {u"C:\\drv\\nvapi64.dll", u"nvapi32.dll", 0},
        {u"C:\\drv\\nvapi6.dll", u"nvapi64", 0},
        {u"C:\\drv\\", u"", 1},                         // empty last component, empty name
        {u"C:\\drv\\.dll", u"", 1},                     // ".dll" has an empty stem
        {u"C:\\drv\\nvapi64.dll", u"drv\\nvapi64", 0},  // the module name is used whole
        {u"C:\\drv.x\\nvapi64", u"nvapi64", 1},         // a full stop before the last backslash
        {u"C:\\drv\\\u00c9.dll", u"\u00e9.dll", 0},    // only ASCII letters fold
        {nullptr, u"nvapi64.dll", 0},
        {u"nvapi64.dll", nullptr, 0},
    };
    for (const Row& row : rows) {
        SetLastError(Sentinel);
        EXPECT_EQ(ModuleNamesMatch(row.path, row.moduleName), row.match)
            << Show(row.path) << " vs " << Show(row.moduleName);
        EXPECT_EQ(GetLastError(), Sentinel);
    }
}

TEST(Producers, DuplicateStringNCopiesTheFirstCharactersUpToTheCopyLimit)
{
    struct Row {
        const WCHAR* text;
        int64_t count;
        const WCHAR* expected;
    };
    const Row rows[] = {
        {u"nvapi64.dll", 7, u"nvapi64"},
        {u"nvapi64.dll", 0, u""},
        {u"nvapi64.dll", 100, u"nvapi64.dll"},
        {u"nvapi64.dll", 11, u"nvapi64.dll"},
        {u"nvapi64.dll", -1, nullptr},
        {u"nvapi64.dll", INT64_MIN, nullptr},
        {u"nvapi64.dll", 2147483646, u"nvapi64.dll"},  // the largest count a counted copy takes
        {u"nvapi64.dll", 2147483647, nullptr},         // one more: refused, short string or not
        {u"nvapi64.dll", INT64_MAX, nullptr},
        {u"", 5, u""},
        {nullptr, 5, nullptr},
    };
    size_t liveAtStart = sim::LiveBlocks();
    for (const Row& row : rows) {
        std::string label = Show(row.text) + ", " + std::to_string(row.count);
        SetLastError(Sentinel);
        ExpectProduced(DuplicateStringN(row.text, row.count), row.expected, label);
        EXPECT_EQ(GetLastError(), Sentinel) << label;
        EXPECT_EQ(sim::LiveBlocks(), liveAtStart) << label;
    }
}

TEST(Producers, DuplicateStringCopiesWholeText)
{
    const WCHAR* rows[] = {u"C:\\drv\\nvapi64.dll", u"", u"\u00e9\u4e2d", nullptr};
    size_t liveAtStart = sim::LiveBlocks();
    for (const WCHAR* text : rows) {
        SetLastError(Sentinel);
        ExpectProduced(DuplicateString(text), text, Show(text));
        EXPECT_EQ(GetLastError(), Sentinel);
    }
    EXPECT_EQ(sim::LiveBlocks(), liveAtStart);
}

TEST(Producers, WithDllExtensionAddsDllOnlyWhereThereIsNoExtension)
{
    struct Row {
        const WCHAR* name;
        const WCHAR* expected;
    };
    const Row rows[] = {
        {u"nvapi64", u"nvapi64.dll"},
        {u"nvapi64.dll", u"nvapi64.dll"},
        {u"nvapi64.DLL", u"nvapi64.DLL"},
        {u"nvapi64.sys", u"nvapi64.sys"},
        {u"nvapi64.", u"nvapi64"},
        {u"drv.x\\nvapi64", u"drv.x\\nvapi64.dll"},
        {u"", u".dll"},
        {u".", u""},
        {nullptr, nullptr},
        {u"drv/x.y", u"drv/x.y"},  // the forward slash does not end the extension
    };
    size_t liveAtStart = sim::LiveBlocks();
    for (const Row& row : rows) {
        SetLastError(Sentinel);
        ExpectProduced(WithDllExtension(row.name), row.expected, Show(row.name));
        EXPECT_EQ(GetLastError(), Sentinel) << Show(row.name);
    }
    EXPECT_EQ(sim::LiveBlocks(), liveAtStart);
}

TEST(Producers, JoinPathPutsOneBackslashWhereNeitherPartHasOne)
{
    struct Row {
        const WCHAR* first;
        const WCHAR* second;
        const WCHAR* expected;
    };
    const Row rows[] = {
        {u"C:\\drv", u"nvapi64.dll", u"C:\\drv\\nvapi64.dll"},
        {u"C:\\drv\\", u"nvapi64.dll", u"C:\\drv\\nvapi64.dll"},
        {u"C:\\drv", u"\\nvapi64.dll", u"C:\\drv\\nvapi64.dll"},
        {u"C:\\drv\\", u"\\nvapi64.dll", u"C:\\drv\\\\nvapi64.dll"},
        {u"C:/drv/", u"nvapi64.dll", u"C:/drv/\\nvapi64.dll"},
        {u"", u"nvapi64.dll", u"nvapi64.dll"},
        {u"C:\\drv", u"", u"C:\\drv"},
        {u"", u"", u""},
        {nullptr, u"nvapi64.dll", u"nvapi64.dll"},
        {u"C:\\drv", nullptr, u"C:\\drv"},
        {nullptr, nullptr, nullptr},
    };
    size_t liveAtStart = sim::LiveBlocks();
    for (const Row& row : rows) {
        std::string label = Show(row.first) + " + " + Show(row.second);
        SetLastError(Sentinel);
        ExpectProduced(JoinPath(row.first, row.second), row.expected, label);
        EXPECT_EQ(GetLastError(), Sentinel) << label;
    }
    EXPECT_EQ(sim::LiveBlocks(), liveAtStart);
}

TEST(BoundedCopies, FailWhenTheLimitsAreExceededOrTheTextDoesNotFit)
{
    struct Row {
        const char* what;
        bool append;
        const WCHAR* before;  // block content before the call
        size_t capacity;
        const WCHAR* source;
        int result;
        const WCHAR* after;   // block content after a successful call
    };
    const Row rows[] = {
        {"copy that fits exactly", false, u"", 4, u"abc", 1, u"abc"},
        {"copy one too long", false, u"", 3, u"abc", 0, nullptr},
        {"copy into no capacity", false, u"", 0, u"", 0, nullptr},
        {"copy at the largest capacity", false, u"", 2147483647, u"abc", 1, u"abc"},
        {"copy above the largest capacity", false, u"", 2147483648u, u"abc", 0, nullptr},
        {"append that fits exactly", true, u"ab", 5, u"cd", 1, u"abcd"},
        {"append one too long", true, u"ab", 4, u"cd", 0, nullptr},
        {"append into a block without terminator", true, u"abcd", 4, u"", 0, nullptr},
        {"append above the largest capacity", true, u"ab", 2147483648u, u"cd", 0, nullptr},
        {"append of nothing", true, u"ab", 3, u"", 1, u"ab"},
    };
    for (const Row& row : rows) {
        // A block larger than any capacity the copy may write within: the
        // capacities above 8 are only checked, never reached, by a short text.
        WCHAR block[8] = {0};
        for (size_t i = 0; row.before[i] != 0; ++i)
            block[i] = row.before[i];
        int result = row.append ? AppendStringBounded(block, row.capacity, row.source)
                                : CopyStringBounded(block, row.capacity, row.source);
        EXPECT_EQ(result, row.result) << row.what;
        if (row.result == 1)
            EXPECT_EQ(sim::Path(block), sim::Path(row.after)) << row.what;
    }
}

TEST(Producers, ReturnNullAndLeakNothingWhenAnyAllocationFails)
{
    struct Row {
        const char* what;
        std::function<LPWSTR()> produce;
    };
    const Row rows[] = {
        {"DuplicateString", [] { return DuplicateString(u"nvapi64.dll"); }},
        {"DuplicateStringN", [] { return DuplicateStringN(u"nvapi64.dll", 7); }},
        {"WithDllExtension appending", [] { return WithDllExtension(u"nvapi64"); }},
        {"WithDllExtension dropping the full stop", [] { return WithDllExtension(u"nvapi64."); }},
        {"WithDllExtension copying", [] { return WithDllExtension(u"nvapi64.sys"); }},
        {"JoinPath inserting", [] { return JoinPath(u"C:\\drv", u"nvapi64.dll"); }},
        {"JoinPath with a null part", [] { return JoinPath(nullptr, u"nvapi64.dll"); }},
    };
    for (const Row& row : rows) {
        size_t liveAtStart = sim::LiveBlocks();
        size_t before = sim::AllocationCount();
        LPWSTR control = row.produce();
        size_t reached = sim::AllocationCount() - before;
        ASSERT_NE(control, nullptr) << row.what;
        LocalFree(control);
        ASSERT_GE(reached, 1u) << row.what;
        for (size_t n = 1; n <= reached; ++n) {
            sim::FailAllocation(n);
            SetLastError(Sentinel);
            LPWSTR produced = row.produce();
            sim::FailAllocation(0);
            EXPECT_EQ(produced, nullptr) << row.what << ", allocation " << n;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY)) << row.what;
            EXPECT_EQ(sim::LiveBlocks(), liveAtStart) << row.what << ", allocation " << n;
            LocalFree(produced);
        }
    }
}

}  // namespace
