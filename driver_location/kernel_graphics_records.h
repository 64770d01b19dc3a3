// Records of the kernel graphics adapter interface ("gdi32.dll":
// D3DKMTEnumAdapters2, D3DKMTQueryAdapterInfo), declared here in the 64-bit
// layout the system uses. Only the fields the driver-location code touches are
// ever read or written; the others stay zero.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <cstdint>

typedef UINT D3DKMT_HANDLE;

struct D3DKMT_LUID {
    DWORD LowPart;
    LONG HighPart;
};

// One element of the adapter array; only hAdapter is read.
// What D3DKMTCloseAdapter releases: a handle D3DKMTEnumAdapters2 opened.
struct D3DKMT_CLOSEADAPTER {
    D3DKMT_HANDLE hAdapter;
};
static_assert(sizeof(D3DKMT_CLOSEADAPTER) == 4, "D3DKMT_CLOSEADAPTER is 4 bytes");

struct D3DKMT_ADAPTERINFO {
    D3DKMT_HANDLE hAdapter;
    D3DKMT_LUID AdapterLuid;
    ULONG NumOfSources;
    BOOL bPrecisePresentRegionsPreferred;
};

// NumAdapters: on input the capacity of pAdapters, on output the number of
// adapters. A null pAdapters asks for the count only.
struct D3DKMT_ENUMADAPTERS2 {
    ULONG NumAdapters;
    D3DKMT_ADAPTERINFO* pAdapters;
};

// Query types used with D3DKMTQueryAdapterInfo.
#define KMTQAITYPE_PHYSICALADAPTERDEVICEIDS 31
#define KMTQAITYPE_QUERYREGISTRY 48

struct D3DKMT_QUERYADAPTERINFO {
    D3DKMT_HANDLE hAdapter;
    UINT Type;  // KMTQAITYPE_*
    void* pPrivateDriverData;
    UINT PrivateDriverDataSize;  // bytes
};

struct D3DKMT_DEVICE_IDS {
    UINT VendorID;
    UINT DeviceID;
    UINT SubVendorID;
    UINT SubSystemID;
    UINT RevisionID;
    UINT BusType;
};

// KMTQAITYPE_PHYSICALADAPTERDEVICEIDS
struct D3DKMT_QUERY_DEVICE_IDS {
    UINT PhysicalAdapterIndex;
    D3DKMT_DEVICE_IDS DeviceIds;
};

// QueryType of the registry query, and its Status answers.
#define D3DDDI_QUERYREGISTRY_DRIVERSTOREPATH 2
#define D3DDDI_QUERYREGISTRY_STATUS_SUCCESS 0
#define D3DDDI_QUERYREGISTRY_STATUS_BUFFER_OVERFLOW 1

// KMTQAITYPE_QUERYREGISTRY. The record is the head of a larger block: the
// output area runs from OutputString to the end of the block the caller gives
// (KERNEL_GRAPHICS_REGISTRY_QUERY_BYTES here).
struct D3DDDI_QUERYREGISTRY_INFO {
    UINT QueryType;
    UINT QueryFlags;
    WCHAR ValueName[MAX_PATH];
    ULONG ValueType;
    ULONG PhysicalAdapterIndex;
    ULONG OutputValueSize;  // bytes needed, reported with BUFFER_OVERFLOW
    UINT Status;            // D3DDDI_QUERYREGISTRY_STATUS_*
    union {
        DWORD OutputDword;
        uint64_t OutputQword;
        WCHAR OutputString[1];
        BYTE OutputBinary[1];
    };
};

// The block handed to the driver store path query, and the characters of
// output (terminator included) it leaves room for.
#define KERNEL_GRAPHICS_REGISTRY_QUERY_BYTES 1074
#define KERNEL_GRAPHICS_REGISTRY_OUTPUT_CHARS                        \
    ((KERNEL_GRAPHICS_REGISTRY_QUERY_BYTES -                         \
      offsetof(D3DDDI_QUERYREGISTRY_INFO, OutputString)) /           \
     sizeof(WCHAR))

static_assert(sizeof(D3DKMT_ADAPTERINFO) == 20, "D3DKMT_ADAPTERINFO is 20 bytes");
static_assert(offsetof(D3DKMT_ENUMADAPTERS2, pAdapters) == 8, "pAdapters at byte 8");
static_assert(sizeof(D3DKMT_ENUMADAPTERS2) == 16, "D3DKMT_ENUMADAPTERS2 is 16 bytes");
static_assert(offsetof(D3DKMT_QUERYADAPTERINFO, Type) == 4, "Type at byte 4");
static_assert(offsetof(D3DKMT_QUERYADAPTERINFO, pPrivateDriverData) == 8,
              "pPrivateDriverData at byte 8");
static_assert(offsetof(D3DKMT_QUERYADAPTERINFO, PrivateDriverDataSize) == 16,
              "PrivateDriverDataSize at byte 16");
static_assert(sizeof(D3DKMT_QUERYADAPTERINFO) == 24, "D3DKMT_QUERYADAPTERINFO is 24 bytes");
static_assert(sizeof(D3DKMT_QUERY_DEVICE_IDS) == 28, "D3DKMT_QUERY_DEVICE_IDS is 28 bytes");
static_assert(offsetof(D3DKMT_QUERY_DEVICE_IDS, DeviceIds) == 4, "VendorID at byte 4");
static_assert(offsetof(D3DDDI_QUERYREGISTRY_INFO, ValueName) == 8, "ValueName at byte 8");
static_assert(offsetof(D3DDDI_QUERYREGISTRY_INFO, Status) == 540, "Status at byte 540");
static_assert(offsetof(D3DDDI_QUERYREGISTRY_INFO, OutputString) == 544,
              "OutputString at byte 544");
static_assert(sizeof(D3DDDI_QUERYREGISTRY_INFO) <= KERNEL_GRAPHICS_REGISTRY_QUERY_BYTES,
              "the registry query record fits its block");
static_assert(KERNEL_GRAPHICS_REGISTRY_OUTPUT_CHARS == 265,
              "the driver store path query leaves room for 265 characters");
