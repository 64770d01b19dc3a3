// The simulated shell folders and the function "Shell32.dll" exports for them.
#include "world.h"

#include <cstring>

namespace sim {

static LONG WINAPI SimSHGetFolderPathW(HWND, int csidl, HANDLE, DWORD, LPWSTR path)
{
    Log("SHGetFolderPathW " + Hex(static_cast<unsigned>(csidl)));
    const LONG failure = static_cast<LONG>(0x80004005u);  // E_FAIL
    if (path == nullptr)
        return static_cast<LONG>(0x80070057u);  // E_INVALIDARG
    auto found = TheWorld().shellFolders.find(csidl & 0xff);
    if (found == TheWorld().shellFolders.end() || found->second.empty() ||
        found->second.size() >= MAX_PATH)
        return failure;
    std::memcpy(path, found->second.c_str(), (found->second.size() + 1) * sizeof(WCHAR));
    return 0;
}

Exports ShellExports()
{
    return {{"SHGetFolderPathW", AsExport(&SimSHGetFolderPathW)}};
}

}  // namespace sim
