// Loading a module by full path, only from inside the trusted folders.
#pragma once

#include "platform/win32.h"

HMODULE LoadModuleByFullPath(LPCWSTR path, DWORD flags);
int IsTrustedModulePath(LPCWSTR path);
LPWSTR BuildShellFolderPath(int csidl, LPCWSTR tail);
