// The tool's run, from the driver's initialisation to the final key press.
#include "tool/edid_loading_run.h"

#include "nvapi_client/nvapi.h"
#include "platform/crt.h"

#include <cstdio>
#include <cstring>

// The record as every clearing call sends it: version word, all data zero, size 0.
static void ResetEdidRecord(NV_EDID_V3* edid)
{
    std::memset(edid, 0, sizeof *edid);
    edid->version = NV_EDID_VER3;
    edid->sizeofEDID = 0;
}

// Reading one character from standard input is the wait; end of input ends it at once.
static void WaitForKey(void)
{
    std::fflush(stdout);
    (void)std::fgetc(stdin);
}

static void PrintEdidDump(const NV_EDID_V3* edid)
{
    for (unsigned i = 0; i < NV_EDID_DATA_SIZE; ++i) {
        std::printf("%02x ", edid->EDID_Data[i]);
        if ((i + 1) % 16 == 0)
            std::printf("\n");
    }
    std::printf("\n");
}

// Reads edid.bin into the record's data area. Returns the number of bytes read,
// or -1 when the file cannot be opened. A short file replaces only as many
// bytes as it holds.
static long ReadEdidFile(NV_EDID_V3* edid)
{
    FILE* file = nullptr;
    if (fopen_s(&file, "edid.bin", "rb") != 0 || file == nullptr)
        return -1;
    size_t bytesRead = fread_s(edid->EDID_Data, sizeof edid->EDID_Data, 1, NV_EDID_DATA_SIZE, file);
    std::fclose(file);
    return static_cast<long>(bytesRead);
}

int RunEdidLoading(void)
{
    NvPhysicalGpuHandle gpus[NVAPI_MAX_PHYSICAL_GPUS];
    uint32_t gpuCount;
    uint32_t connectedDisplays;
    uint32_t busId;
    uint32_t busSlotId;
    int targetOutput;
    int setFailed = 0;
    NV_EDID_V3 edid;

    NvAPI_Status status = NvAPI_Initialize();
    if (status != NVAPI_OK) {
        std::printf("NvAPI_Initialize() failed = 0x%x", static_cast<unsigned>(status));
        return EDIDLOAD_EXIT_INITIALIZE_FAILED;
    }

    std::memset(gpus, 0, sizeof gpus);
    gpuCount = 0;
    if (NvAPI_EnumPhysicalGPUs(gpus, &gpuCount) != NVAPI_OK) {
        std::printf("Get GPU Error!\n");
        WaitForKey();
        return EDIDLOAD_EXIT_STOPPED;
    }
    std::printf("GPU count: %d\n", static_cast<int>(gpuCount));

    // Set once for the whole run: a query that leaves its variable alone shows
    // the previous GPU's value, and the target output is chosen at most once.
    connectedDisplays = 0;
    busId = 0;
    busSlotId = 0;
    targetOutput = 255;

    // The handle array holds NVAPI_MAX_PHYSICAL_GPUS; a larger count is not read past it.
    for (uint32_t i = 0; i < gpuCount && i < NVAPI_MAX_PHYSICAL_GPUS; ++i) {
        NvPhysicalGpuHandle gpu = gpus[i];
        (void)NvAPI_GPU_GetConnectedDisplayIds(gpu, nullptr, &connectedDisplays, 0);
        (void)NvAPI_GPU_GetBusId(gpu, &busId);
        (void)NvAPI_GPU_GetBusSlotId(gpu, &busSlotId);
        std::printf("Current GPU device: %d\n", static_cast<int>(i));
        std::printf("Number of connected displays: %u\n", connectedDisplays);
        std::printf("Bus id: %u\tBus slot id: %u\n", busId, busSlotId);

        ResetEdidRecord(&edid);
        std::printf("\nGPU[%d] Unload EDID(s) and check OutIDs:\n01234567890123456789012345678901\n",
                    static_cast<int>(i));
        uint32_t outputId = 1;
        for (int j = 0; j < 32; ++j) {
            if (NvAPI_GPU_SetEDID(gpu, outputId, &edid) == NVAPI_OK) {
                if (targetOutput == 255)
                    targetOutput = j;
                std::printf("O");
            } else {
                std::printf("-");
            }
            outputId = (outputId << 1) | (outputId >> 31);
        }
        std::printf("\n\n");
        std::printf("Load EDID data from file edid.bin\n");

        long bytesRead = ReadEdidFile(&edid);
        if (bytesRead < 0) {
            std::printf("Error Open edid.bin!\n");
            WaitForKey();
            return EDIDLOAD_EXIT_STOPPED;
        }
        // Writing a partial block would give the display zeros for an EDID.
        if (static_cast<unsigned long>(bytesRead) < EDID_MINIMUM_BYTES) {
            std::printf("Error Read edid.bin: %u bytes, an EDID needs at least %u!\n",
                        static_cast<unsigned>(bytesRead), EDID_MINIMUM_BYTES);
            WaitForKey();
            return EDIDLOAD_EXIT_STOPPED;
        }
        edid.sizeofEDID = NV_EDID_DATA_SIZE;

        uint32_t targetId = 1u << (targetOutput % 32);
        status = NvAPI_GPU_SetEDID(gpu, targetId, &edid);
        if (status == NVAPI_OK) {
            std::printf("GPU[%d] SetEDID OK.\n", static_cast<int>(i));
        } else {
            std::printf("GPU[%d] SetEDID failed = 0x%x\n", static_cast<int>(i),
                        static_cast<unsigned>(status));
            setFailed = 1;
        }

        // Outputs 0 to 30; the record is passed on as each read leaves it.
        outputId = 1;
        for (int j = 0; j < 31; ++j) {
            if (NvAPI_GPU_GetEDID(gpu, outputId, &edid) == NVAPI_OK) {
                std::printf("\nGPU[%d] Found dispOutId at: %d\n", static_cast<int>(i), j);
                std::printf("EDID Data:\n");
                PrintEdidDump(&edid);
            }
            outputId = (outputId << 1) | (outputId >> 31);
        }
        std::printf("\n\n");
    }

    std::printf("Done. Press Enter to exit.");
    WaitForKey();
    return setFailed ? EDIDLOAD_EXIT_SET_FAILED : EDIDLOAD_EXIT_DONE;
}
