// The simulated kernel graphics adapter interface ("gdi32.dll"): adapters with
// their handles, vendor ids, query statuses and driver store path answers.
// These functions answer with an NTSTATUS and leave the last-error code alone.
#include "sim_devices.h"
#include "world.h"

#include "driver_location/kernel_graphics_records.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

struct Adapter {
    UINT handle;
    UINT vendorId;
    NTSTATUS deviceIdsStatus = 0;
    bool hasStorePath = false;
    Path storePath;
    bool storePathTerminated = true;
    NTSTATUS storeStatus = 0;
    bool storeQueryStatusSet = false;
    UINT storeQueryStatus = 0;
};

struct KernelGraphics {
    std::vector<Adapter> adapters;
    NTSTATUS countingStatus = 0;
    NTSTATUS fillingStatus = 0;
    std::vector<UINT> openHandles;  // opened by a filling enumeration, not yet closed
};

}  // namespace

static const NTSTATUS StatusInvalidParameter = static_cast<NTSTATUS>(0xC000000Du);
static const NTSTATUS StatusBufferTooSmall = static_cast<NTSTATUS>(0xC0000023u);

static KernelGraphics& Graphics()
{
    static KernelGraphics* graphics = new KernelGraphics();
    return *graphics;
}

static Adapter& AdapterNumbered(int adapter)
{
    KernelGraphics& g = Graphics();
    if (adapter < 0 || static_cast<size_t>(adapter) >= g.adapters.size()) {
        std::fprintf(stderr, "simulated Windows: no adapter %d\n", adapter);
        std::abort();
    }
    return g.adapters[static_cast<size_t>(adapter)];
}

int AddAdapter(UINT handle, UINT vendorId)
{
    Adapter adapter;
    adapter.handle = handle;
    adapter.vendorId = vendorId;
    Graphics().adapters.push_back(adapter);
    return static_cast<int>(Graphics().adapters.size() - 1);
}

void SetAdapterDeviceIdsStatus(int adapter, NTSTATUS status)
{
    AdapterNumbered(adapter).deviceIdsStatus = status;
}

void SetAdapterDriverStorePath(int adapter, const Path& path, bool terminated)
{
    Adapter& a = AdapterNumbered(adapter);
    a.hasStorePath = true;
    a.storePath = path;
    a.storePathTerminated = terminated;
}

void SetAdapterDriverStoreStatus(int adapter, NTSTATUS status, UINT queryStatus)
{
    Adapter& a = AdapterNumbered(adapter);
    a.storeStatus = status;
    a.storeQueryStatusSet = true;
    a.storeQueryStatus = queryStatus;
}

void SetAdapterEnumerationStatus(NTSTATUS countingStatus, NTSTATUS fillingStatus)
{
    Graphics().countingStatus = countingStatus;
    Graphics().fillingStatus = fillingStatus;
}

static NTSTATUS WINAPI SimD3DKMTEnumAdapters2(D3DKMT_ENUMADAPTERS2* enumeration)
{
    KernelGraphics& g = Graphics();
    Log(std::string("D3DKMTEnumAdapters2 ") +
        (enumeration != nullptr && enumeration->pAdapters != nullptr ? "fill" : "count"));
    if (enumeration == nullptr)
        return StatusInvalidParameter;
    ULONG count = static_cast<ULONG>(g.adapters.size());
    if (enumeration->pAdapters == nullptr) {
        if (g.countingStatus != 0)
            return g.countingStatus;
        enumeration->NumAdapters = count;
        return 0;
    }
    if (g.fillingStatus != 0)
        return g.fillingStatus;
    if (enumeration->NumAdapters < count) {
        enumeration->NumAdapters = count;
        return StatusBufferTooSmall;
    }
    for (ULONG i = 0; i < count; ++i) {
        D3DKMT_ADAPTERINFO& info = enumeration->pAdapters[i];
        std::memset(&info, 0, sizeof info);
        info.hAdapter = g.adapters[i].handle;
        info.AdapterLuid.LowPart = 0x1000u + i;
        info.NumOfSources = 1;
        if (info.hAdapter != 0)
            g.openHandles.push_back(info.hAdapter);
    }
    enumeration->NumAdapters = count;
    return 0;
}

static Adapter* AdapterWithHandle(D3DKMT_HANDLE handle)
{
    // Handle 0 is answered like any other: the logic must refuse it itself.
    for (Adapter& a : Graphics().adapters)
        if (a.handle == handle)
            return &a;
    return nullptr;
}

static NTSTATUS QueryDeviceIds(Adapter& adapter, void* data, UINT bytes)
{
    if (data == nullptr || bytes != sizeof(D3DKMT_QUERY_DEVICE_IDS))
        return StatusInvalidParameter;
    D3DKMT_QUERY_DEVICE_IDS* ids = static_cast<D3DKMT_QUERY_DEVICE_IDS*>(data);
    if (ids->PhysicalAdapterIndex != 0)
        return StatusInvalidParameter;
    if (adapter.deviceIdsStatus != 0)
        return adapter.deviceIdsStatus;
    ids->DeviceIds.VendorID = adapter.vendorId;
    ids->DeviceIds.DeviceID = 0x2000;
    ids->DeviceIds.SubVendorID = adapter.vendorId;
    ids->DeviceIds.SubSystemID = 0x1;
    ids->DeviceIds.RevisionID = 0xa1;
    ids->DeviceIds.BusType = 0;
    return 0;
}

static NTSTATUS QueryDriverStorePath(Adapter& adapter, void* data, UINT bytes)
{
    if (data == nullptr || bytes < sizeof(D3DDDI_QUERYREGISTRY_INFO))
        return StatusInvalidParameter;
    BYTE* block = static_cast<BYTE*>(data);
    D3DDDI_QUERYREGISTRY_INFO* info = static_cast<D3DDDI_QUERYREGISTRY_INFO*>(data);
    if (info->QueryType != D3DDDI_QUERYREGISTRY_DRIVERSTOREPATH)
        return StatusInvalidParameter;
    if (adapter.storeStatus != 0)
        return adapter.storeStatus;
    if (adapter.storeQueryStatusSet) {
        info->Status = adapter.storeQueryStatus;
        return 0;
    }
    if (!adapter.hasStorePath) {
        info->Status = 2;  // D3DDDI_QUERYREGISTRY_STATUS_FAIL
        return 0;
    }
    const size_t outputOffset = offsetof(D3DDDI_QUERYREGISTRY_INFO, OutputString);
    size_t outputChars = (bytes - outputOffset) / sizeof(WCHAR);
    WCHAR* output = reinterpret_cast<WCHAR*>(block + outputOffset);
    const Path& path = adapter.storePath;
    info->OutputValueSize = static_cast<ULONG>((path.size() + 1) * sizeof(WCHAR));
    if (!adapter.storePathTerminated) {
        size_t chars = path.size() < outputChars ? path.size() : outputChars;
        std::memcpy(output, path.data(), chars * sizeof(WCHAR));
        info->Status = D3DDDI_QUERYREGISTRY_STATUS_SUCCESS;
        return 0;
    }
    if (path.size() + 1 > outputChars) {
        info->Status = D3DDDI_QUERYREGISTRY_STATUS_BUFFER_OVERFLOW;
        return 0;
    }
    std::memcpy(output, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    info->Status = D3DDDI_QUERYREGISTRY_STATUS_SUCCESS;
    return 0;
}

static NTSTATUS WINAPI SimD3DKMTQueryAdapterInfo(const D3DKMT_QUERYADAPTERINFO* query)
{
    if (query == nullptr) {
        Log("D3DKMTQueryAdapterInfo (null)");
        return StatusInvalidParameter;
    }
    Log("D3DKMTQueryAdapterInfo " + std::to_string(query->hAdapter) + " " +
        std::to_string(query->Type));
    Adapter* adapter = AdapterWithHandle(query->hAdapter);
    if (adapter == nullptr)
        return StatusInvalidParameter;
    switch (query->Type) {
    case KMTQAITYPE_PHYSICALADAPTERDEVICEIDS:
        return QueryDeviceIds(*adapter, query->pPrivateDriverData, query->PrivateDriverDataSize);
    case KMTQAITYPE_QUERYREGISTRY:
        return QueryDriverStorePath(*adapter, query->pPrivateDriverData,
                                    query->PrivateDriverDataSize);
    default:
        return StatusInvalidParameter;
    }
}

static NTSTATUS WINAPI SimD3DKMTCloseAdapter(const D3DKMT_CLOSEADAPTER* adapter)
{
    Log("D3DKMTCloseAdapter " + (adapter ? std::to_string(adapter->hAdapter) : std::string("(null)")));
    std::vector<UINT>& open = Graphics().openHandles;
    for (size_t i = 0; adapter != nullptr && i < open.size(); ++i) {
        if (open[i] == adapter->hAdapter) {
            open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
            return 0;
        }
    }
    return StatusInvalidParameter;
}

int OpenAdapterHandles() { return static_cast<int>(Graphics().openHandles.size()); }

Exports KernelGraphicsExports()
{
    return {
        {"D3DKMTEnumAdapters2", AsExport(&SimD3DKMTEnumAdapters2)},
        {"D3DKMTQueryAdapterInfo", AsExport(&SimD3DKMTQueryAdapterInfo)},
        {"D3DKMTCloseAdapter", AsExport(&SimD3DKMTCloseAdapter)},
    };
}

}  // namespace sim
