// Path tests and module-name helpers.
#include "path_helpers.h"

static int IsSeparator(WCHAR c) { return c == '\\' || c == '/'; }

static int IsDriveLetter(WCHAR c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

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
