// Windows-side check of the loader's driver route against the real API (run
// under Wine or on Windows): asks LoadModuleSecure for "nvapi64.dll" without
// the system-directory flag, so that from build 14308 on the request takes the
// driver route, and prints what came of it on one line:
//
//   loaded <file name of the module>
//   failed <last-error code>
//
// Always exits 0; the caller judges the line (and whether a planted copy left
// its marker).
#include "secure_load/loader.h"

#include <cstdio>

int main()
{
    HMODULE module = LoadModuleSecure(L"nvapi64.dll", 0);
    if (module == nullptr) {
        std::printf("failed %lu\n", static_cast<unsigned long>(GetLastError()));
        return 0;
    }
    WCHAR path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    char text[4 * (MAX_PATH + 1)] = {};
    if (length == 0 ||
        WideCharToMultiByte(CP_UTF8, 0, path, -1, text, static_cast<int>(sizeof text), nullptr,
                            nullptr) == 0) {
        std::printf("loaded (file name unavailable: %lu)\n",
                    static_cast<unsigned long>(GetLastError()));
        return 0;
    }
    std::printf("loaded %s\n", text);
    return 0;
}
