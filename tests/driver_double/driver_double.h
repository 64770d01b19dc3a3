// The test-double GPU driver: simulated GPUs behind nvapi_QueryInterface.
//
// One implementation serves both builds: linked into the native tests, where
// InstallDriverDouble registers it with the simulated Windows as
// <system directory>\nvapi64.dll; and built as a real nvapi64.dll for the
// windows build, which reads its scenario from the file named by the
// environment variable EDIDLOAD_DRIVER_SCENARIO and appends its call trace to
// the file named by EDIDLOAD_DRIVER_TRACE (both optional).
//
// What the double does, per driver function:
//   initialise        returns initStatus (if offered).
//   EnumPhysicalGPUs  enumStatus; on success fills handles and stores the count
//                     (reportedCount when >= 0, else the number of GPUs).
//   GetConnectedDisplayIds / GetBusId / GetBusSlotId
//                     queryStatus of the GPU; on 0 stores connectedDisplays / bus / slot.
//   SetEDID           size 0: clears the override of the output; size > 0: stores
//                     the record's 256 data bytes as the output's override. Fails
//                     with failStatus on an output that is not in the GPU's
//                     outputs mask (or a bad handle / version / id).
//   GetEDID           the override if one is set, else the monitor EDID of the
//                     output; copies its bytes into the data area (only as many
//                     as it has), sets the size; fails with failStatus when the
//                     output has neither.
//   hooks             offered per preHook / postHook; the pre-call hook stores
//                     hookContextValue into the context, the post-call hook
//                     traces what it received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

struct DoubleGpu {
    uint32_t bus = 0;
    uint32_t slot = 0;
    uint32_t connectedDisplays = 0;
    int32_t queryStatus = 0;       // status of the three per-GPU queries
    uint32_t outputs = 0;          // output bits that accept SetEDID
    std::map<int, std::vector<uint8_t>> monitorEdid;  // output bit -> EDID the monitor reports
    std::map<int, std::vector<uint8_t>> overrideEdid; // output bit -> EDID set through SetEDID
};

struct DriverScenario {
    bool offerInitialize = true;
    int32_t initStatus = 0;
    bool offerAlternateInitialize = true;
    int32_t enumStatus = 0;
    int64_t reportedCount = -1;
    int32_t failStatus = -1;             // NVAPI_ERROR
    bool preHook = false;
    bool postHook = false;
    uint64_t hookContextValue = 0x1234567890abcdefull;
    std::set<uint32_t> notOffered;       // interface ids answered with null
    std::vector<DoubleGpu> gpus;
    // false: the double neither builds nor keeps trace lines, so that a long
    // run of calls (a benchmark) costs no trace work and grows no memory.
    bool traceEnabled = true;
};

// The scenario the double runs on, and its trace of calls, one line each:
//   "QueryInterface 0x<id>", "Initialize", "AlternateInitialize <arg>",
//   "EnumPhysicalGPUs", "GetConnectedDisplayIds <gpu>", "GetBusId <gpu>",
//   "GetBusSlotId <gpu>", "SetEDID <gpu> 0x<output id> <size>",
//   "GetEDID <gpu> 0x<output id>", "PreCallHook 0x<id>",
//   "PostCallHook 0x<id> 0x<context> <status>".
DriverScenario& DriverDoubleScenario();
std::vector<std::string>& DriverDoubleTrace();

// The export: the driver function with the given interface id, or null.
void* DriverDoubleQueryInterface(uint32_t interfaceId);

// Scenario text, one directive per line ('#' starts a comment):
//   init <status>              | init absent
//   alternate absent
//   enum <status> [count]
//   fail <status>
//   hooks pre|post|both|none
//   absent 0x<interface id>
//   gpu <bus> <slot> <displays> 0x<outputs> [queryStatus]
//   edid <output bit> <hex bytes...>       (monitor EDID of the last gpu)
//   edidfile <output bit> <path>           (monitor EDID of the last gpu, raw file)
// Returns 1 on success, 0 on a malformed line.
int ParseDriverScenario(const std::string& text, DriverScenario* scenario);

// A sample 128-byte EDID with a valid checksum (a 1920x1080 monitor).
std::vector<uint8_t> SampleEdid();

// ---- additions to the contract above

// Interface ids the double answers (the driver API's own numbers).
enum DriverDoubleInterfaceId : uint32_t {
    DRIVER_DOUBLE_ID_INITIALIZE = 0x0150E828u,
    DRIVER_DOUBLE_ID_ALTERNATE_INITIALIZE = 0xAD298D3Fu,
    DRIVER_DOUBLE_ID_PRE_CALL_HOOK = 0x33C7358Cu,
    DRIVER_DOUBLE_ID_POST_CALL_HOOK = 0x593E8644u,
    DRIVER_DOUBLE_ID_GET_EDID = 0x37D32E69u,
    DRIVER_DOUBLE_ID_ENUM_PHYSICAL_GPUS = 0xE5AC921Fu,
    DRIVER_DOUBLE_ID_GET_CONNECTED_DISPLAY_IDS = 0x0078DBA2u,
    DRIVER_DOUBLE_ID_SET_EDID = 0xE83D6456u,
    DRIVER_DOUBLE_ID_GET_BUS_ID = 0x1BE0B8E5u,
    DRIVER_DOUBLE_ID_GET_BUS_SLOT_ID = 0x2A0A350Fu,
};

// Trace formats in detail:
//   <id>, <output id>   lower-case hex: ids with 8 digits ("QueryInterface 0x0150e828"),
//                       output ids without padding ("SetEDID 0 0x2 256");
//   <gpu>               the GPU's index in decimal; a handle the double never
//                       handed out is shown as "0x<handle>" in hex;
//   <size>              the record's size field in decimal, "-" for a null record;
//   <context>           lower-case hex without padding; <status> signed decimal.
// Details of the behaviour:
//   - GPU handles are 0x1000 + index * 0x10 (DriverDoubleGpuHandle); any other
//     value fails with failStatus. EnumPhysicalGPUs writes at most 64 handles
//     even when reportedCount is larger.
//   - An output id must have exactly one bit set, an EDID record must carry the
//     version word 0x00030110 (byte 0), else failStatus. The double reads the
//     record at raw byte offsets (data at 4..259, size at 260), not through the
//     client's declaration.
//   - SetEDID with a size above 256 fails with failStatus; a size from 1 to 256
//     stores that many data bytes (the tool always sends 256).
//   - GetConnectedDisplayIds never writes through the id array (only the count).
//   - null out-pointers fail with failStatus.
//   - The alternate initialise entry traces its argument and returns initStatus.

// The handle the double gives the GPU at this index.
void* DriverDoubleGpuHandle(size_t index);

// Append every trace line also to this file (empty: no file). Used by the
// windows build's nvapi64.dll.
void SetDriverDoubleTraceFile(const std::string& path);

// Further scenario directives:
//   context 0x<value>                      hookContextValue
//   edid <output bit> sample               SampleEdid() as the monitor EDID
// Numbers are decimal (with an optional '-') or hex with 0x. Repeated edid lines
// for the same output append their bytes (a 256-byte EDID may span lines); an
// output's EDID holds at most 256 bytes. ParseDriverScenario starts from a
// default DriverScenario with no GPUs, and writes *scenario only on success.
// On failure, *errorLine (if given) receives the 1-based number of the bad line.
int ParseDriverScenarioAt(const std::string& text, DriverScenario* scenario, int* errorLine);

#ifndef _WIN32
// Native build: registers the double as a module at this path (default
// <system directory>\nvapi64.dll) and makes the scenario current.
void InstallDriverDouble(const DriverScenario& scenario);
void InstallDriverDoubleAt(const DriverScenario& scenario, const char16_t* path);
#endif
