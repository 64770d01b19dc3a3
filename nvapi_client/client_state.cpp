// Every process-wide variable of the client layer. All start zeroed; the
// binding fills the module records, the driver entries and the hooks, the entry
// points fill FunctionCache slot by slot, and the first NvAPI_Initialize makes
// the lock object. Nothing here is reset or released before the process ends.
#include "nvapi_client/interface_binding.h"
#include "nvapi_client/singleton_critical_section.h"

InterfaceModuleRecord InterfaceModule[NVAPI_INTERFACE_MODULES] = {
    {WSTR("nvapi64.dll"), "nvapi_QueryInterface", nullptr, nullptr},
    {WSTR("nvpowerapi.dll"), "nvapi_pepQueryInterface", nullptr, nullptr},
};

uint32_t Initialized[2] = {0, 0};

NvInitializeFn DriverInitializeEntry = nullptr;
NvAlternateInitializeFn AlternateInitEntry = nullptr;
NvPreCallHookFn PreCallHook = nullptr;
NvPostCallHookFn PostCallHook = nullptr;

void* FunctionCache[NVAPI_FUNCTION_CACHE_SLOTS] = {};

alignas(CSingletonCriticalSection) unsigned char ClientLockStorage[sizeof(CSingletonCriticalSection)];
CSingletonCriticalSection* ClientLock = nullptr;
