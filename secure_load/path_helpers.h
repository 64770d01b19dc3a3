// Small operations on wide strings shared by the loader and the driver-location
// code. None of them sets or clears the last-error code. Produced strings are
// allocated wide strings (LocalAlloc, LPTR) that the caller frees with LocalFree.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <cstdint>

// 1 if the string holds a backslash or a forward slash anywhere; null gives 0.
int HasPathSeparator(LPCWSTR text);
// 1 for "\...", "/...", and "X:\" or "X:/" with X an ASCII letter; null gives 0.
int IsAbsolutePath(LPCWSTR text);
// 1 if the file that the path's last component names is the module; a missing
// extension stands for ".dll". Only the backslash separates components.
// A null argument gives 0.
int ModuleNamesMatch(LPCWSTR path, LPCWSTR moduleName);
// Producers: null for null input, a failed allocation or a failed bounded copy.
LPWSTR DuplicateString(LPCWSTR text);
// The first min(length, count) characters; null for a count below 0 or above
// 2,147,483,646, whatever the text's length.
LPWSTR DuplicateStringN(LPCWSTR text, int64_t count);
// ".dll" appended to a name without extension; a final lone full stop dropped;
// any other name copied unchanged.
LPWSTR WithDllExtension(LPCWSTR moduleName);
// first, one backslash where neither part supplies one, second. A null part
// gives a copy of the other (null when both are null).
LPWSTR JoinPath(LPCWSTR first, LPCWSTR second);

// Length in characters, the terminator not counted.
size_t StringLength(LPCWSTR text);
// The rest of text after prefix when text begins with it, ASCII letters
// compared without case; null otherwise. Reads text no further than its terminator.
LPCWSTR AfterPrefixIgnoringCase(LPCWSTR text, LPCWSTR prefix);

// Bounded copies into a block of `capacity` characters, terminator included,
// with the results of the SDK's StringCchCopyW and StringCbCatW: 0 when the
// capacity is 0 or above 2,147,483,647 or the text does not fit (the caller
// then frees the block and returns null, never a partial string), else 1.
// Append also fails when the block holds no terminator within its capacity.
int CopyStringBounded(LPWSTR destination, size_t capacity, LPCWSTR source);
int AppendStringBounded(LPWSTR destination, size_t capacity, LPCWSTR source);
