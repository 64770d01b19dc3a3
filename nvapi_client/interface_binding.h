// The client layer's inside: the interface modules, the driver entries, the
// call-trace hooks, the function cache and the operations that load and bind a
// module. The tool sees only nvapi.h; tests reach in here.
#pragma once

#include "nvapi_client/nvapi.h"
#include "platform/win32.h"

#include <cstdint>

// ---- interface ids
#define NVAPI_ID_INITIALIZE 0x0150E828u
#define NVAPI_ID_ALTERNATE_INITIALIZE 0xAD298D3Fu
#define NVAPI_ID_PRE_CALL_HOOK 0x33C7358Cu
#define NVAPI_ID_POST_CALL_HOOK 0x593E8644u
#define NVAPI_ID_GPU_GET_EDID 0x37D32E69u
#define NVAPI_ID_ENUM_PHYSICAL_GPUS 0xE5AC921Fu
#define NVAPI_ID_GPU_GET_CONNECTED_DISPLAY_IDS 0x0078DBA2u
#define NVAPI_ID_GPU_SET_EDID 0xE83D6456u
#define NVAPI_ID_GPU_GET_BUS_ID 0x1BE0B8E5u
#define NVAPI_ID_GPU_GET_BUS_SLOT_ID 0x2A0A350Fu

// ---- fixed slots of FunctionCache
#define NVAPI_FUNCTION_CACHE_SLOTS 424
#define NVAPI_SLOT_GPU_GET_EDID 2
#define NVAPI_SLOT_ENUM_PHYSICAL_GPUS 12
#define NVAPI_SLOT_GPU_GET_CONNECTED_DISPLAY_IDS 27
#define NVAPI_SLOT_GPU_SET_EDID 33
#define NVAPI_SLOT_GPU_GET_BUS_ID 40
#define NVAPI_SLOT_GPU_GET_BUS_SLOT_ID 41

// ---- module indexes and initialisation modes
#define NVAPI_INTERFACE_MODULES 2
#define NVAPI_MODULE_DRIVER_API 0   // nvapi64.dll
#define NVAPI_MODULE_POWER_API 1    // nvpowerapi.dll
#define NVAPI_MODE_STANDARD 0
#define NVAPI_MODE_ALTERNATE 1

// Shapes of the driver's functions. Addresses cross the driver interface
// untyped, as the driver's binary interface knows them.
typedef void* (*NvQueryInterfaceFn)(uint32_t interfaceId);
typedef NvAPI_Status (*NvInitializeFn)(void);
typedef NvAPI_Status (*NvAlternateInitializeFn)(uint32_t argument);
typedef void (*NvPreCallHookFn)(uint32_t interfaceId, uint64_t* context);
typedef void (*NvPostCallHookFn)(uint32_t interfaceId, uint64_t context, NvAPI_Status status);

struct InterfaceModuleRecord {
    const WCHAR* fileName;               // loaded through LoadModuleSecure
    const char* queryInterfaceExport;    // looked up at binding
    HMODULE handle;                      // null until loaded and bound
    NvQueryInterfaceFn queryInterface;   // set at binding
};

// ---- process-wide state (client_state.cpp). All of it starts zeroed, is filled
// by the binding and the entry points, and is never reset at process exit.
extern InterfaceModuleRecord InterfaceModule[NVAPI_INTERFACE_MODULES];
extern uint32_t Initialized[2];                 // per mode: 1 once the driver was initialised
extern NvInitializeFn DriverInitializeEntry;    // 0x0150E828
extern NvAlternateInitializeFn AlternateInitEntry;  // 0xAD298D3F
extern NvPreCallHookFn PreCallHook;             // 0x33C7358C, set only together with
extern NvPostCallHookFn PostCallHook;           // 0x593E8644
extern void* FunctionCache[NVAPI_FUNCTION_CACHE_SLOTS];

// Loads and binds one module: NVAPI_OK when it is (or already was) bound;
// NVAPI_NO_IMPLEMENTATION for a mode other than 0 or 1 (or a module index other
// than 0 or 1); NVAPI_LIBRARY_NOT_FOUND when the loader gives no module; else
// the binding's status, with the module released. The last-error code is what
// the loader and the platform calls left.
NvAPI_Status LoadInterfaceModule(int module, int mode);

// Resolves the module's query-interface export; for module 0 also initialises
// the driver in the mode, fetches the hooks (kept only as a pair), and for both
// modules clears FunctionCache. NVAPI_ERROR when the export or the standard
// initialise entry is missing, NVAPI_NO_IMPLEMENTATION when the alternate entry
// is missing (or for an unknown module or mode), else the initialise status.
NvAPI_Status BindInterfaceModule(HMODULE handle, int module, int mode);

// NVAPI_OK when the module is bound, else the result of loading it. Inline: on
// the entry points' call path it is one test of the module handle.
inline NvAPI_Status EnsureInterfaceLoaded(int module, int mode)
{
    if (module >= 0 && module < NVAPI_INTERFACE_MODULES && InterfaceModule[module].handle != nullptr)
        return NVAPI_OK;
    return LoadInterfaceModule(module, mode);
}
