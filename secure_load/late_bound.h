// LateBoundSystemFunctions: the process-wide table through which every system
// function outside the kernel library is reached.
//
// Rules, the same for every user:
//  - a library slot that is null is loaded with LoadSystemModule(name, 0) when an
//    operation needs it, and the result is stored, null included (so a missing
//    library is tried again at the next need);
//  - right after, the operation binds each function it will use, in its own fixed
//    order: a null slot is looked up with GetProcAddress and the result stored;
//  - a library or function that cannot be had stops the operation at once, with
//    the last-error code that the failed load or lookup left.
// Filled on first need, never reset, never released.
#pragma once

#include "platform/win32.h"

struct LateBoundSystemFunctionTable {
    // "Advapi32.dll"
    HMODULE Advapi32;
    RegOpenKeyExWFn RegOpenKeyExW;
    RegQueryValueExWFn RegQueryValueExW;
    RegEnumValueWFn RegEnumValueW;
    RegCloseKeyFn RegCloseKey;
    OpenSCManagerWFn OpenSCManagerW;
    OpenServiceWFn OpenServiceW;
    QueryServiceConfigWFn QueryServiceConfigW;
    CloseServiceHandleFn CloseServiceHandle;

    // "Shell32.dll"
    HMODULE Shell32;
    SHGetFolderPathWFn SHGetFolderPathW;

    // "Setupapi.dll"
    HMODULE Setupapi;
    SetupDiGetClassDevsWFn SetupDiGetClassDevsW;
    SetupDiEnumDeviceInfoFn SetupDiEnumDeviceInfo;
    SetupDiGetDeviceRegistryPropertyWFn SetupDiGetDeviceRegistryPropertyW;
    SetupDiGetDeviceInterfaceDetailWFn SetupDiGetDeviceInterfaceDetailW;
    SetupDiDestroyDeviceInfoListFn SetupDiDestroyDeviceInfoList;
    SetupDiGetDevicePropertyWFn SetupDiGetDevicePropertyW;
    SetupGetInfDriverStoreLocationWFn SetupGetInfDriverStoreLocationW;

    // "gdi32.dll"
    HMODULE Gdi32;
    D3DKMTEnumAdapters2Fn D3DKMTEnumAdapters2;
    D3DKMTQueryAdapterInfoFn D3DKMTQueryAdapterInfo;
    D3DKMTCloseAdapterFn D3DKMTCloseAdapter;
};

extern LateBoundSystemFunctionTable LateBoundSystemFunctions;

// Binds a library slot: returns 1 when the slot holds a handle afterwards.
int BindSystemLibrary(HMODULE* slot, LPCWSTR libraryName);

// Binds one function slot of a bound library: returns 1 when the slot holds a
// pointer afterwards. A found pointer is never looked up again; a missing one
// leaves the lookup's last-error code.
template <typename Function>
int BindSystemFunction(HMODULE library, Function* slot, const char* functionName)
{
    if (*slot == nullptr)
        *slot = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, functionName)));
    return *slot != nullptr;
}

// The names the libraries are loaded by.
#define ADVAPI32_LIBRARY WSTR("Advapi32.dll")
#define SHELL32_LIBRARY WSTR("Shell32.dll")
#define SETUPAPI_LIBRARY WSTR("Setupapi.dll")
#define GDI32_LIBRARY WSTR("gdi32.dll")
