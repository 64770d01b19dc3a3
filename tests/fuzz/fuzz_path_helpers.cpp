// libFuzzer target over the path and module-name helpers and the trust test.
//
// Input: 8 bytes of a little-endian signed count (fewer bytes: count 0), then
// UTF-16LE code units split at the first NUL into two strings (a missing NUL:
// the second string is empty). Each string sits in its own exactly-sized heap
// block, so a read past a terminator is caught. Every operation's result is
// checked against a plain model written here, and every block is freed: the
// simulated heap's live count must be back where it started.
#include "secure_load/full_path_loading.h"
#include "secure_load/path_helpers.h"
#include "platform/sim/sim.h"
#include "platform/sim/world.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

typedef std::u16string Text;

const int64_t MaxCountedCopy = 2147483646;

#define CHECK(condition)                                                                  \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            std::fprintf(stderr, "fuzz_path_helpers: %s:%d: invariant broken: %s\n", __FILE__, \
                         __LINE__, #condition);                                           \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

char16_t Fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool EqualIgnoringCase(const Text& a, const Text& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i]))
            return false;
    return true;
}

bool StartsWithIgnoringCase(const Text& text, const Text& prefix)
{
    return text.size() >= prefix.size() && EqualIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// Length of the extension: from the last full stop on, unless a backslash follows it.
size_t ExtensionLength(const Text& text)
{
    size_t dot = text.find_last_of(u'.');
    if (dot == Text::npos)
        return 0;
    if (text.find(u'\\', dot) != Text::npos)
        return 0;
    return text.size() - dot;
}

bool IsEmptyOrDll(const Text& extension) { return extension.empty() || EqualIgnoringCase(extension, u".dll"); }

int ModelModuleNamesMatch(const Text& path, const Text& name)
{
    size_t slash = path.find_last_of(u'\\');
    Text component = slash == Text::npos ? path : path.substr(slash + 1);
    if (EqualIgnoringCase(component, name))
        return 1;
    size_t componentExtension = ExtensionLength(component), nameExtension = ExtensionLength(name);
    Text componentStem = component.substr(0, component.size() - componentExtension);
    Text nameStem = name.substr(0, name.size() - nameExtension);
    return IsEmptyOrDll(component.substr(componentStem.size())) && IsEmptyOrDll(name.substr(nameStem.size())) &&
           EqualIgnoringCase(componentStem, nameStem);
}

Text ModelWithDllExtension(const Text& name)
{
    size_t extension = ExtensionLength(name);
    if (extension == 0)
        return name + u".dll";
    if (extension == 1)
        return name.substr(0, name.size() - 1);
    return name;
}

Text ModelJoinPath(const Text& first, const Text& second)
{
    bool backslash = !first.empty() && first.back() != u'\\' && !second.empty() && second[0] != u'\\';
    return first + (backslash ? u"\\" : u"") + second;
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

int ModelIsAbsolutePath(const Text& text)
{
    if (!text.empty() && IsSeparator(text[0]))
        return 1;
    return text.size() >= 3 && ((text[0] >= u'A' && text[0] <= u'Z') || (text[0] >= u'a' && text[0] <= u'z')) &&
           text[1] == u':' && IsSeparator(text[2]);
}

int ModelIsTrusted(const Text& path)
{
    Text full = sim::NormalForm(path);
    const Text folders[] = {u"C:\\Windows\\", u"C:\\Program Files\\", u"C:\\Program Files (x86)\\"};
    for (const Text& folder : folders)
        if (StartsWithIgnoringCase(full, folder))
            return 1;
    return 0;
}

// Checks a produced string against the expected text (or null) and frees it.
void CheckProduced(LPWSTR produced, const Text* expected)
{
    if (expected == nullptr) {
        CHECK(produced == nullptr);
        return;
    }
    CHECK(produced != nullptr);
    Text text(produced);
    CHECK(text == *expected);
    CHECK(sim::BlockBytes(produced) == (text.size() + 1) * sizeof(WCHAR));
    LocalFree(produced);
}

// A produced string under an injected allocation failure: null, or the same
// text as without it (when the failing allocation was not reached).
void CheckUnderFailure(LPWSTR produced, const Text* expected)
{
    if (produced == nullptr)
        return;
    CHECK(expected != nullptr && Text(produced) == *expected);
    LocalFree(produced);
}

// The input's string in a heap block of exactly its length and terminator.
std::unique_ptr<WCHAR[]> Terminated(const Text& text)
{
    std::unique_ptr<WCHAR[]> copy(new WCHAR[text.size() + 1]);
    std::memcpy(copy.get(), text.data(), text.size() * sizeof(WCHAR));
    copy[text.size()] = 0;
    return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int64_t count = 0;
    if (size >= 8) {
        uint64_t raw = 0;
        for (int i = 7; i >= 0; --i)
            raw = (raw << 8) | data[i];
        std::memcpy(&count, &raw, sizeof count);
        data += 8;
        size -= 8;
    }
    Text units;
    for (size_t i = 0; i + 1 < size; i += 2)
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    size_t nul = units.find(u'\0');
    Text first = nul == Text::npos ? units : units.substr(0, nul);
    Text second = nul == Text::npos ? Text() : units.substr(nul + 1);
    second = second.substr(0, second.find(u'\0'));
    std::unique_ptr<WCHAR[]> a = Terminated(first);
    std::unique_ptr<WCHAR[]> b = Terminated(second);

    sim::ClearCallLog();  // keeps the log from growing over the run
    const size_t liveAtStart = sim::LiveBlocks();
    // Which allocation of an operation fails in its second run (1 or 2).
    const size_t failAt = 1 + (static_cast<uint64_t>(count) >> 62 & 1);

    // The tests.
    CHECK(HasPathSeparator(a.get()) == (first.find_first_of(u"\\/") != Text::npos ? 1 : 0));
    CHECK(IsAbsolutePath(a.get()) == ModelIsAbsolutePath(first));
    CHECK(IsAbsolutePath(b.get()) == ModelIsAbsolutePath(second));
    CHECK(ModuleNamesMatch(a.get(), b.get()) == ModelModuleNamesMatch(first, second));
    CHECK(ModuleNamesMatch(b.get(), a.get()) == ModelModuleNamesMatch(second, first));
    if (first.find(u'\\') == Text::npos)
        CHECK(ModuleNamesMatch(a.get(), a.get()) == 1);

    // The producers, each once as it is and once with an allocation failing.
    CheckProduced(DuplicateString(a.get()), &first);
    sim::FailAllocation(failAt);
    CheckUnderFailure(DuplicateString(a.get()), &first);
    sim::FailAllocation(0);

    Text prefix = first.substr(0, count < 0 ? 0 : static_cast<size_t>(std::min<int64_t>(count, INT32_MAX)));
    const Text* duplicateN = (count < 0 || count > MaxCountedCopy) ? nullptr : &prefix;
    CheckProduced(DuplicateStringN(a.get(), count), duplicateN);
    sim::FailAllocation(failAt);
    CheckUnderFailure(DuplicateStringN(a.get(), count), duplicateN);
    sim::FailAllocation(0);

    Text withDll = ModelWithDllExtension(first);
    CheckProduced(WithDllExtension(a.get()), &withDll);
    sim::FailAllocation(failAt);
    CheckUnderFailure(WithDllExtension(a.get()), &withDll);
    sim::FailAllocation(0);

    Text joined = ModelJoinPath(first, second);
    CheckProduced(JoinPath(a.get(), b.get()), &joined);
    CheckProduced(JoinPath(nullptr, b.get()), &second);
    CheckProduced(JoinPath(a.get(), nullptr), &first);
    sim::FailAllocation(failAt);
    CheckUnderFailure(JoinPath(a.get(), b.get()), &joined);
    sim::FailAllocation(0);
    CHECK(sim::LiveBlocks() == liveAtStart);

    // The trust decision and the full-path load (on Windows 10, folders as the machine has them).
    int trusted = IsTrustedModulePath(a.get());
    CHECK(trusted == ModelIsTrusted(first));
    sim::FailAllocation(failAt);
    CHECK(IsTrustedModulePath(a.get()) <= trusted);
    sim::FailAllocation(0);

    SetLastError(0xdeadbeef);
    HMODULE module = LoadModuleByFullPath(a.get(), static_cast<DWORD>(count));
    DWORD code = GetLastError();
    if (!ModelIsAbsolutePath(first)) {
        CHECK(module == nullptr && code == ERROR_BAD_ARGUMENTS);
    } else if (!trusted) {
        CHECK(module == nullptr && code == ERROR_BAD_PATHNAME);
    } else if (module == nullptr) {
        CHECK(code != ERROR_BAD_PATHNAME && code != ERROR_BAD_ARGUMENTS && code != 0xdeadbeef);
    }
    if (module != nullptr) {
        CHECK(sim::CountCalls("LoadLibraryExW ") >= 1);
        FreeLibrary(module);
    }
    for (const std::string& load : sim::CallsStartingWith("LoadLibraryExW " + sim::Narrow(a.get()) + " 0x")) {
        unsigned long flags = std::strtoul(load.c_str() + load.rfind(' ') + 1, nullptr, 16);
        CHECK((flags & LOAD_FLAGS_SEARCH_OVERRIDES) == 0);
        CHECK(flags == (static_cast<DWORD>(count) & ~LOAD_FLAGS_SEARCH_OVERRIDES));
    }

    CHECK(sim::LiveBlocks() == liveAtStart);
    return 0;
}
