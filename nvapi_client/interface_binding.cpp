// Loading and binding the interface modules.
#include "nvapi_client/interface_binding.h"

#include "secure_load/loader.h"

// A function address that the platform or the driver handed out, as the shape
// the driver interface gives it.
template <typename Function, typename Address>
static Function AsFunction(Address address)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

static void ClearFunctionCache(void)
{
    for (int slot = 0; slot < NVAPI_FUNCTION_CACHE_SLOTS; ++slot)
        FunctionCache[slot] = nullptr;
}

// Module 0: the query-interface export, the driver's initialisation in the
// mode, then the hooks. A failure leaves the pointers fetched so far; nothing
// uses them while the module's handle stays null.
static NvAPI_Status BindDriverApiModule(HMODULE handle, int mode)
{
    InterfaceModuleRecord& record = InterfaceModule[NVAPI_MODULE_DRIVER_API];
    record.queryInterface =
        AsFunction<NvQueryInterfaceFn>(GetProcAddress(handle, record.queryInterfaceExport));
    if (record.queryInterface == nullptr)
        return NVAPI_ERROR;

    AlternateInitEntry = AsFunction<NvAlternateInitializeFn>(record.queryInterface(NVAPI_ID_ALTERNATE_INITIALIZE));
    DriverInitializeEntry = AsFunction<NvInitializeFn>(record.queryInterface(NVAPI_ID_INITIALIZE));

    NvAPI_Status status;
    if (mode == NVAPI_MODE_STANDARD) {
        if (DriverInitializeEntry == nullptr)
            return NVAPI_ERROR;
        status = DriverInitializeEntry();
    } else if (mode == NVAPI_MODE_ALTERNATE) {
        if (AlternateInitEntry == nullptr)
            return NVAPI_NO_IMPLEMENTATION;
        status = AlternateInitEntry(1);
    } else {
        return NVAPI_NO_IMPLEMENTATION;
    }
    if (status != NVAPI_OK)
        return status;

    PreCallHook = AsFunction<NvPreCallHookFn>(record.queryInterface(NVAPI_ID_PRE_CALL_HOOK));
    PostCallHook = AsFunction<NvPostCallHookFn>(record.queryInterface(NVAPI_ID_POST_CALL_HOOK));
    if (PreCallHook == nullptr || PostCallHook == nullptr) {
        // the hooks work only as a pair
        PreCallHook = nullptr;
        PostCallHook = nullptr;
    }

    ClearFunctionCache();
    return NVAPI_OK;
}

// Module 1: the query-interface export only; no initialisation, the hooks are
// not touched and the mode is not looked at.
static NvAPI_Status BindPowerApiModule(HMODULE handle)
{
    InterfaceModuleRecord& record = InterfaceModule[NVAPI_MODULE_POWER_API];
    record.queryInterface =
        AsFunction<NvQueryInterfaceFn>(GetProcAddress(handle, record.queryInterfaceExport));
    if (record.queryInterface == nullptr)
        return NVAPI_ERROR;
    ClearFunctionCache();
    return NVAPI_OK;
}

NvAPI_Status BindInterfaceModule(HMODULE handle, int module, int mode)
{
    if (module == NVAPI_MODULE_DRIVER_API)
        return BindDriverApiModule(handle, mode);
    if (module == NVAPI_MODULE_POWER_API)
        return BindPowerApiModule(handle);
    return NVAPI_NO_IMPLEMENTATION;
}

NvAPI_Status LoadInterfaceModule(int module, int mode)
{
    if (mode != NVAPI_MODE_STANDARD && mode != NVAPI_MODE_ALTERNATE)
        return NVAPI_NO_IMPLEMENTATION;
    // an index outside the table is refused like an unknown mode
    if (module < 0 || module >= NVAPI_INTERFACE_MODULES)
        return NVAPI_NO_IMPLEMENTATION;

    InterfaceModuleRecord& record = InterfaceModule[module];
    if (record.handle != nullptr)
        return NVAPI_OK;

    HMODULE handle = LoadModuleSecure(record.fileName, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (handle == nullptr)
        return NVAPI_LIBRARY_NOT_FOUND;

    NvAPI_Status status = BindInterfaceModule(handle, module, mode);
    if (status != NVAPI_OK) {
        FreeLibrary(handle);
        return status;
    }
    record.handle = handle;
    Initialized[mode] = 1;
    return NVAPI_OK;
}
