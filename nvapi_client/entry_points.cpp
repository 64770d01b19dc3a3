// The entry points the tool calls, one per driver function, each forwarding its
// arguments unchanged to the driver function of the same name.
//
// The call path takes no lock and allocates nothing: the loaded-module test,
// the cache slot, the two hook tests and one indirect call. A driver function
// is asked for once and then called through its FunctionCache slot; one the
// driver does not offer gives NVAPI_NO_IMPLEMENTATION and is asked for again
// at the next call.
#include "nvapi_client/interface_binding.h"

// Shapes of the six driver functions, with untyped addresses.
typedef NvAPI_Status (*NvGpuGetEdidFn)(void* gpu, uint32_t displayOutputId, void* edid);
typedef NvAPI_Status (*NvEnumPhysicalGpusFn)(void* gpus, uint32_t* gpuCount);
typedef NvAPI_Status (*NvGpuGetConnectedDisplayIdsFn)(void* gpu, void* displayIds,
                                                      uint32_t* displayIdCount, uint32_t flags);
typedef NvAPI_Status (*NvGpuSetEdidFn)(void* gpu, uint32_t displayOutputId, void* edid);
typedef NvAPI_Status (*NvGpuGetBusIdFn)(void* gpu, uint32_t* busId);
typedef NvAPI_Status (*NvGpuGetBusSlotIdFn)(void* gpu, uint32_t* busSlotId);

// Loads the driver API module if needed, finds the driver function, and calls
// it between the two hooks. Returns the driver function's status unchanged, or
// the client layer's own status when the module or the function is missing.
template <typename Function, typename... Arguments>
static inline NvAPI_Status ForwardToDriver(uint32_t interfaceId, int slot, Arguments... arguments)
{
    NvAPI_Status status = EnsureInterfaceLoaded(NVAPI_MODULE_DRIVER_API, NVAPI_MODE_STANDARD);
    if (status != NVAPI_OK)
        return status;

    void* address = FunctionCache[slot];
    if (address == nullptr) {
        NvQueryInterfaceFn query = InterfaceModule[NVAPI_MODULE_DRIVER_API].queryInterface;
        if (query == nullptr)
            return NVAPI_NO_IMPLEMENTATION;
        address = query(interfaceId);
        FunctionCache[slot] = address;  // null too: the next call asks again
        if (address == nullptr)
            return NVAPI_NO_IMPLEMENTATION;
    }

    uint64_t context = 0;
    if (PreCallHook != nullptr)
        PreCallHook(interfaceId, &context);
    status = reinterpret_cast<Function>(address)(arguments...);
    if (PostCallHook != nullptr)
        PostCallHook(interfaceId, context, status);
    return status;
}

NvAPI_Status NvAPI_GPU_GetEDID(NvPhysicalGpuHandle gpu, uint32_t displayOutputId, NV_EDID_V3* edid)
{
    return ForwardToDriver<NvGpuGetEdidFn>(NVAPI_ID_GPU_GET_EDID, NVAPI_SLOT_GPU_GET_EDID,
                                           static_cast<void*>(gpu), displayOutputId,
                                           static_cast<void*>(edid));
}

NvAPI_Status NvAPI_EnumPhysicalGPUs(NvPhysicalGpuHandle gpus[NVAPI_MAX_PHYSICAL_GPUS],
                                    uint32_t* gpuCount)
{
    return ForwardToDriver<NvEnumPhysicalGpusFn>(NVAPI_ID_ENUM_PHYSICAL_GPUS,
                                                 NVAPI_SLOT_ENUM_PHYSICAL_GPUS,
                                                 static_cast<void*>(gpus), gpuCount);
}

NvAPI_Status NvAPI_GPU_GetConnectedDisplayIds(NvPhysicalGpuHandle gpu, void* displayIds,
                                              uint32_t* displayIdCount, uint32_t flags)
{
    return ForwardToDriver<NvGpuGetConnectedDisplayIdsFn>(
        NVAPI_ID_GPU_GET_CONNECTED_DISPLAY_IDS, NVAPI_SLOT_GPU_GET_CONNECTED_DISPLAY_IDS,
        static_cast<void*>(gpu), displayIds, displayIdCount, flags);
}

NvAPI_Status NvAPI_GPU_SetEDID(NvPhysicalGpuHandle gpu, uint32_t displayOutputId, NV_EDID_V3* edid)
{
    return ForwardToDriver<NvGpuSetEdidFn>(NVAPI_ID_GPU_SET_EDID, NVAPI_SLOT_GPU_SET_EDID,
                                           static_cast<void*>(gpu), displayOutputId,
                                           static_cast<void*>(edid));
}

NvAPI_Status NvAPI_GPU_GetBusId(NvPhysicalGpuHandle gpu, uint32_t* busId)
{
    return ForwardToDriver<NvGpuGetBusIdFn>(NVAPI_ID_GPU_GET_BUS_ID, NVAPI_SLOT_GPU_GET_BUS_ID,
                                            static_cast<void*>(gpu), busId);
}

NvAPI_Status NvAPI_GPU_GetBusSlotId(NvPhysicalGpuHandle gpu, uint32_t* busSlotId)
{
    return ForwardToDriver<NvGpuGetBusSlotIdFn>(NVAPI_ID_GPU_GET_BUS_SLOT_ID,
                                                NVAPI_SLOT_GPU_GET_BUS_SLOT_ID,
                                                static_cast<void*>(gpu), busSlotId);
}
