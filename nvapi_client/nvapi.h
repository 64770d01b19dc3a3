// The driver API as the tool sees it: statuses, handles, the EDID record and
// the client layer's entry points, each named after the driver function it
// forwards to and taking the same arguments.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int32_t NvAPI_Status;
typedef struct NvPhysicalGpuHandleOpaque* NvPhysicalGpuHandle;

#define NVAPI_OK 0
#define NVAPI_ERROR (-1)
#define NVAPI_LIBRARY_NOT_FOUND (-2)
#define NVAPI_NO_IMPLEMENTATION (-3)

#define NVAPI_MAX_PHYSICAL_GPUS 64

#define NV_EDID_DATA_SIZE 256

// The driver interface's EDID record: 272 bytes, little-endian, no gaps.
struct NV_EDID_V3 {
    uint32_t version;                 // 0x00030110: size 272 in the low word, version 3 above
    uint8_t EDID_Data[NV_EDID_DATA_SIZE];
    uint32_t sizeofEDID;
    uint32_t edidId;
    uint32_t offset;
};
static_assert(sizeof(NV_EDID_V3) == 272, "NV_EDID_V3 is 272 bytes");
static_assert(offsetof(NV_EDID_V3, sizeofEDID) == 260, "size at byte 260");
static_assert(offsetof(NV_EDID_V3, edidId) == 264, "id at byte 264");
static_assert(offsetof(NV_EDID_V3, offset) == 268, "offset at byte 268");

#define NV_EDID_VER3 0x00030110u

NvAPI_Status NvAPI_Initialize(void);
NvAPI_Status NvAPI_EnumPhysicalGPUs(NvPhysicalGpuHandle gpus[NVAPI_MAX_PHYSICAL_GPUS],
                                    uint32_t* gpuCount);
NvAPI_Status NvAPI_GPU_GetConnectedDisplayIds(NvPhysicalGpuHandle gpu, void* displayIds,
                                              uint32_t* displayIdCount, uint32_t flags);
NvAPI_Status NvAPI_GPU_GetBusId(NvPhysicalGpuHandle gpu, uint32_t* busId);
NvAPI_Status NvAPI_GPU_GetBusSlotId(NvPhysicalGpuHandle gpu, uint32_t* busSlotId);
NvAPI_Status NvAPI_GPU_SetEDID(NvPhysicalGpuHandle gpu, uint32_t displayOutputId,
                               NV_EDID_V3* edid);
NvAPI_Status NvAPI_GPU_GetEDID(NvPhysicalGpuHandle gpu, uint32_t displayOutputId,
                               NV_EDID_V3* edid);
