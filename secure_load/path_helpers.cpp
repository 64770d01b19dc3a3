// Path tests and module-name helpers.
//
// None of these functions sets or clears the last-error code; after a failed
// allocation the code is whatever the local heap left. Every copy into a
// produced string goes through the bounded copies below, which behave like the
// SDK's StringCchCopyW, StringCchCopyNW and StringCbCatW (written here so that
// both builds share one behaviour): a copy that would not fit, or whose limits
// are out of range, fails, and the producer then frees its block and returns
// null, never a partial string.
#include "path_helpers.h"

// Largest capacity a bounded copy accepts, terminator included, and the largest
// count of characters it copies (the SDK's STRSAFE_MAX_CCH and STRSAFE_MAX_LENGTH).
static const size_t BoundedMaxChars = 2147483647;
static const size_t BoundedMaxLength = BoundedMaxChars - 1;

static const WCHAR DllExtension[] = WSTR(".dll");

static int IsSeparator(WCHAR c) { return c == '\\' || c == '/'; }

static int IsDriveLetter(WCHAR c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

static WCHAR FoldAscii(WCHAR c) { return (c >= 'A' && c <= 'Z') ? static_cast<WCHAR>(c - 'A' + 'a') : c; }

size_t StringLength(LPCWSTR text)
{
    size_t length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

LPCWSTR AfterPrefixIgnoringCase(LPCWSTR text, LPCWSTR prefix)
{
    for (; *prefix != 0; ++text, ++prefix) {
        if (FoldAscii(*text) != FoldAscii(*prefix))
            return nullptr;
    }
    return text;
}

// A zero-filled block of the given number of characters; null when the local
// heap has none (or the size cannot be expressed in bytes).
static LPWSTR AllocateChars(size_t chars)
{
    if (chars > static_cast<size_t>(-1) / sizeof(WCHAR))
        return nullptr;
    return static_cast<LPWSTR>(LocalAlloc(LPTR, chars * sizeof(WCHAR)));
}

// Copies at most count characters of source, stopping at its terminator, into
// destination, whose capacity in characters includes the terminator. 1 on
// success. On failure destination holds an empty string when it can hold
// anything at all (StringCchCopyNW). count = BoundedMaxLength copies a whole string.
static int CopyBoundedN(LPWSTR destination, size_t capacity, LPCWSTR source, size_t count)
{
    size_t i = 0;
    if (capacity == 0 || capacity > BoundedMaxChars)
        return 0;
    if (count > BoundedMaxLength) {
        destination[0] = 0;
        return 0;
    }
    while (i < count && source[i] != 0) {
        if (i + 1 >= capacity) {
            destination[0] = 0;
            return 0;
        }
        destination[i] = source[i];
        ++i;
    }
    destination[i] = 0;
    return 1;
}

int CopyStringBounded(LPWSTR destination, size_t capacity, LPCWSTR source)
{
    return CopyBoundedN(destination, capacity, source, BoundedMaxLength);
}

int AppendStringBounded(LPWSTR destination, size_t capacity, LPCWSTR source)
{
    size_t used = 0;
    if (capacity == 0 || capacity > BoundedMaxChars)
        return 0;
    while (used < capacity && destination[used] != 0)
        ++used;
    if (used == capacity)
        return 0;
    size_t i = 0;
    while (source[i] != 0) {
        if (used + i + 1 >= capacity) {
            destination[used] = 0;
            return 0;
        }
        destination[used + i] = source[i];
        ++i;
    }
    destination[used + i] = 0;
    return 1;
}

// Index of the full stop that starts the extension, or the length when the
// text has no extension (no full stop, or a backslash after the last one).
static size_t ExtensionStart(LPCWSTR text, size_t length)
{
    for (size_t i = length; i > 0; --i) {
        if (text[i - 1] == '\\')
            return length;
        if (text[i - 1] == '.')
            return i - 1;
    }
    return length;
}

static int EqualIgnoringCase(LPCWSTR a, LPCWSTR b, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return 0;
    return 1;
}

// An extension that a module name without one stands for: empty or ".dll".
static int IsEmptyOrDll(LPCWSTR extension, size_t length)
{
    return length == 0 || (length == 4 && EqualIgnoringCase(extension, DllExtension, 4));
}

int HasPathSeparator(LPCWSTR text)
{
    if (text == nullptr)
        return 0;
    for (; *text != 0; ++text)
        if (IsSeparator(*text))
            return 1;
    return 0;
}

int IsAbsolutePath(LPCWSTR text)
{
    if (text == nullptr)
        return 0;
    if (IsSeparator(text[0]))
        return 1;
    // Each character is read only after the one before it proved what it must be.
    return IsDriveLetter(text[0]) && text[1] == ':' && IsSeparator(text[2]);
}

// Callers always pass two strings; a null one is answered 0 rather than read.
int ModuleNamesMatch(LPCWSTR path, LPCWSTR moduleName)
{
    if (path == nullptr || moduleName == nullptr)
        return 0;

    size_t pathLength = StringLength(path);
    size_t componentStart = 0;
    for (size_t i = 0; i < pathLength; ++i)
        if (path[i] == '\\')
            componentStart = i + 1;
    LPCWSTR component = path + componentStart;
    size_t componentLength = pathLength - componentStart;
    size_t nameLength = StringLength(moduleName);

    if (componentLength == nameLength && EqualIgnoringCase(component, moduleName, nameLength))
        return 1;

    size_t componentStem = ExtensionStart(component, componentLength);
    size_t nameStem = ExtensionStart(moduleName, nameLength);
    if (componentStem != nameStem)
        return 0;
    if (!IsEmptyOrDll(moduleName + nameStem, nameLength - nameStem))
        return 0;
    if (!IsEmptyOrDll(component + componentStem, componentLength - componentStem))
        return 0;
    return EqualIgnoringCase(component, moduleName, nameStem);
}

// Null for a null text or when the heap or the bounded copy fails.
LPWSTR DuplicateString(LPCWSTR text)
{
    if (text == nullptr)
        return nullptr;
    size_t capacity = StringLength(text) + 1;
    LPWSTR copy = AllocateChars(capacity);
    if (copy != nullptr && !CopyStringBounded(copy, capacity, text)) {
        LocalFree(copy);
        copy = nullptr;
    }
    return copy;
}

// Null for a null text, a negative count, a count above 2,147,483,646 (the
// counted copy's limit, whatever the text's length), or when the heap fails.
LPWSTR DuplicateStringN(LPCWSTR text, int64_t count)
{
    if (text == nullptr || count < 0)
        return nullptr;
    size_t wanted = static_cast<size_t>(count);
    size_t length = 0;
    while (length < wanted && text[length] != 0)
        ++length;
    size_t capacity = length + 1;
    LPWSTR copy = AllocateChars(capacity);
    if (copy != nullptr && !CopyBoundedN(copy, capacity, text, wanted)) {
        LocalFree(copy);
        copy = nullptr;
    }
    return copy;
}

// Null for a null name or when the heap or a bounded copy fails.
LPWSTR WithDllExtension(LPCWSTR moduleName)
{
    if (moduleName == nullptr)
        return nullptr;
    size_t length = StringLength(moduleName);
    size_t extensionLength = length - ExtensionStart(moduleName, length);
    if (extensionLength == 1)
        return DuplicateStringN(moduleName, static_cast<int64_t>(length - 1));
    if (extensionLength >= 2)
        return DuplicateString(moduleName);

    size_t capacity = length + 5;
    LPWSTR result = AllocateChars(capacity);
    if (result != nullptr && (!CopyStringBounded(result, capacity, moduleName) ||
                              !AppendStringBounded(result, capacity, DllExtension))) {
        LocalFree(result);
        result = nullptr;
    }
    return result;
}

// A copy of the other part when one is null; null when both are, or when the
// heap or a bounded copy fails.
LPWSTR JoinPath(LPCWSTR first, LPCWSTR second)
{
    static const WCHAR Backslash[] = WSTR("\\");
    if (first == nullptr)
        return DuplicateString(second);
    if (second == nullptr)
        return DuplicateString(first);

    size_t firstLength = StringLength(first);
    size_t secondLength = StringLength(second);
    int insertBackslash = firstLength != 0 && first[firstLength - 1] != '\\' && secondLength != 0 &&
                          second[0] != '\\';
    size_t capacity = firstLength + secondLength + 1 + (insertBackslash ? 1 : 0);
    LPWSTR result = AllocateChars(capacity);
    if (result != nullptr && (!CopyStringBounded(result, capacity, first) ||
                              (insertBackslash && !AppendStringBounded(result, capacity, Backslash)) ||
                              !AppendStringBounded(result, capacity, second))) {
        LocalFree(result);
        result = nullptr;
    }
    return result;
}
