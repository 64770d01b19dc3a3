// The six entry points: arguments and statuses pass through unchanged, each
// function is asked for once and kept in its own cache slot, an unoffered
// function is asked for again, and the hooks watch every call as a pair.
#include "client_test_support.h"

#include "nvapi_client/interface_binding.h"
#include "nvapi_client/nvapi.h"

#include <climits>
#include <cstring>
#include <functional>

#include <gtest/gtest.h>

using namespace client_test;

static NvPhysicalGpuHandle GpuHandle(size_t index)
{
    return reinterpret_cast<NvPhysicalGpuHandle>(DriverDoubleGpuHandle(index));
}

// ---- a recording driver: every function stores what it received and answers FakeStatus

struct RecordedCall {
    const char* function = nullptr;
    void* arguments[4] = {};
    uint64_t values[4] = {};
};

static RecordedCall LastCall;
static NvAPI_Status FakeStatus = NVAPI_OK;

static NvAPI_Status FakeInitialize(void) { return NVAPI_OK; }

static NvAPI_Status FakeGetEdid(void* gpu, uint32_t output, void* edid)
{
    LastCall = RecordedCall();
    LastCall.function = "GetEDID";
    LastCall.arguments[0] = gpu;
    LastCall.values[1] = output;
    LastCall.arguments[2] = edid;
    return FakeStatus;
}

static NvAPI_Status FakeSetEdid(void* gpu, uint32_t output, void* edid)
{
    LastCall = RecordedCall();
    LastCall.function = "SetEDID";
    LastCall.arguments[0] = gpu;
    LastCall.values[1] = output;
    LastCall.arguments[2] = edid;
    return FakeStatus;
}

static NvAPI_Status FakeEnumPhysicalGpus(void* gpus, uint32_t* count)
{
    LastCall = RecordedCall();
    LastCall.function = "EnumPhysicalGPUs";
    LastCall.arguments[0] = gpus;
    LastCall.arguments[1] = count;
    return FakeStatus;
}

static NvAPI_Status FakeGetConnectedDisplayIds(void* gpu, void* ids, uint32_t* count, uint32_t flags)
{
    LastCall = RecordedCall();
    LastCall.function = "GetConnectedDisplayIds";
    LastCall.arguments[0] = gpu;
    LastCall.arguments[1] = ids;
    LastCall.arguments[2] = count;
    LastCall.values[3] = flags;
    return FakeStatus;
}

static NvAPI_Status FakeGetBusId(void* gpu, uint32_t* bus)
{
    LastCall = RecordedCall();
    LastCall.function = "GetBusId";
    LastCall.arguments[0] = gpu;
    LastCall.arguments[1] = bus;
    return FakeStatus;
}

static NvAPI_Status FakeGetBusSlotId(void* gpu, uint32_t* slot)
{
    LastCall = RecordedCall();
    LastCall.function = "GetBusSlotId";
    LastCall.arguments[0] = gpu;
    LastCall.arguments[1] = slot;
    return FakeStatus;
}

template <typename Function>
static void* Address(Function function)
{
    return reinterpret_cast<void*>(function);
}

static void* FakeQueryInterface(uint32_t interfaceId)
{
    switch (interfaceId) {
    case 0x0150E828: return Address(&FakeInitialize);
    case 0x37D32E69: return Address(&FakeGetEdid);
    case 0xE5AC921F: return Address(&FakeEnumPhysicalGpus);
    case 0x0078DBA2: return Address(&FakeGetConnectedDisplayIds);
    case 0xE83D6456: return Address(&FakeSetEdid);
    case 0x1BE0B8E5: return Address(&FakeGetBusId);
    case 0x2A0A350F: return Address(&FakeGetBusSlotId);
    default: return nullptr;
    }
}

struct PassThroughCase {
    const char* function;
    uint32_t interfaceId;
    int slot;
    std::function<NvAPI_Status()> call;
    RecordedCall expected;
};

TEST(EntryPoints, PassArgumentsAndStatusesThroughUnchangedUsingTheirOwnIdAndSlot)
{
    sim::AddModule(DriverModulePath(), {{"nvapi_QueryInterface", AsExport(&FakeQueryInterface)}});

    NvPhysicalGpuHandle gpu = reinterpret_cast<NvPhysicalGpuHandle>(uintptr_t{0xfeedface12345678});
    NvPhysicalGpuHandle gpus[NVAPI_MAX_PHYSICAL_GPUS] = {};
    uint32_t count = 0, bus = 0, slot = 0, ids[4] = {};
    NV_EDID_V3 edid = {};

    auto expect = [](const char* function, void* a0, uint64_t v1, void* a1, void* a2, uint64_t v3) {
        RecordedCall call;
        call.function = function;
        call.arguments[0] = a0;
        call.values[1] = v1;
        call.arguments[1] = a1;
        call.arguments[2] = a2;
        call.values[3] = v3;
        return call;
    };
    const PassThroughCase cases[] = {
        {"NvAPI_GPU_GetEDID", 0x37D32E69, 2,
         [&] { return NvAPI_GPU_GetEDID(gpu, 0x80000000u, &edid); },
         expect("GetEDID", gpu, 0x80000000u, nullptr, &edid, 0)},
        {"NvAPI_EnumPhysicalGPUs", 0xE5AC921F, 12,
         [&] { return NvAPI_EnumPhysicalGPUs(gpus, &count); },
         expect("EnumPhysicalGPUs", gpus, 0, &count, nullptr, 0)},
        {"NvAPI_GPU_GetConnectedDisplayIds", 0x0078DBA2, 27,
         [&] { return NvAPI_GPU_GetConnectedDisplayIds(gpu, ids, &count, 0xA5A5A5A5u); },
         expect("GetConnectedDisplayIds", gpu, 0, ids, &count, 0xA5A5A5A5u)},
        {"NvAPI_GPU_SetEDID", 0xE83D6456, 33,
         [&] { return NvAPI_GPU_SetEDID(gpu, 0x4u, &edid); },
         expect("SetEDID", gpu, 0x4u, nullptr, &edid, 0)},
        {"NvAPI_GPU_GetBusId", 0x1BE0B8E5, 40,
         [&] { return NvAPI_GPU_GetBusId(gpu, &bus); },
         expect("GetBusId", gpu, 0, &bus, nullptr, 0)},
        {"NvAPI_GPU_GetBusSlotId", 0x2A0A350F, 41,
         [&] { return NvAPI_GPU_GetBusSlotId(gpu, &slot); },
         expect("GetBusSlotId", gpu, 0, &slot, nullptr, 0)},
    };
    const NvAPI_Status statuses[] = {NVAPI_OK, NVAPI_ERROR, NVAPI_NO_IMPLEMENTATION, -104, 7,
                                     INT32_MIN, INT32_MAX};

    for (const PassThroughCase& c : cases) {
        SCOPED_TRACE(c.function);
        for (NvAPI_Status status : statuses) {
            SCOPED_TRACE("status " + std::to_string(status));
            FakeStatus = status;
            LastCall = RecordedCall();
            EXPECT_EQ(c.call(), status);
            ASSERT_NE(LastCall.function, nullptr);
            EXPECT_STREQ(LastCall.function, c.expected.function);
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(LastCall.arguments[i], c.expected.arguments[i]) << "argument " << i;
                EXPECT_EQ(LastCall.values[i], c.expected.values[i]) << "value " << i;
            }
        }
        EXPECT_EQ(FunctionCache[c.slot], FakeQueryInterface(c.interfaceId));
    }
    // only the six slots were filled
    int filled = 0;
    for (void* slotAddress : FunctionCache)
        filled += slotAddress != nullptr;
    EXPECT_EQ(filled, 6);
}

TEST(EntryPoints, CarryTheDriverResultsThroughTheRecordLayout)
{
    InstallDriverDouble(OneGpuScenario());
    NvPhysicalGpuHandle gpus[NVAPI_MAX_PHYSICAL_GPUS] = {};
    uint32_t count = 0, displays = 0, bus = 0, slot = 0;

    ASSERT_EQ(NvAPI_EnumPhysicalGPUs(gpus, &count), NVAPI_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(gpus[0], GpuHandle(0));
    EXPECT_EQ(NvAPI_GPU_GetConnectedDisplayIds(gpus[0], nullptr, &displays, 0), NVAPI_OK);
    EXPECT_EQ(displays, 2u);
    EXPECT_EQ(NvAPI_GPU_GetBusId(gpus[0], &bus), NVAPI_OK);
    EXPECT_EQ(bus, 3u);
    EXPECT_EQ(NvAPI_GPU_GetBusSlotId(gpus[0], &slot), NVAPI_OK);
    EXPECT_EQ(slot, 4u);

    // the record the tool builds is the one the driver reads
    NV_EDID_V3 edid;
    std::memset(&edid, 0, sizeof edid);
    edid.version = NV_EDID_VER3;
    for (int i = 0; i < NV_EDID_DATA_SIZE; ++i)
        edid.EDID_Data[i] = static_cast<uint8_t>(255 - i);
    edid.sizeofEDID = NV_EDID_DATA_SIZE;
    ASSERT_EQ(NvAPI_GPU_SetEDID(gpus[0], 0x4u, &edid), NVAPI_OK);
    EXPECT_EQ(TraceCount("SetEDID 0 0x4 256"), 1u);

    NV_EDID_V3 readBack;
    std::memset(&readBack, 0, sizeof readBack);
    readBack.version = NV_EDID_VER3;
    ASSERT_EQ(NvAPI_GPU_GetEDID(gpus[0], 0x4u, &readBack), NVAPI_OK);
    EXPECT_EQ(readBack.sizeofEDID, 256u);
    EXPECT_EQ(std::memcmp(readBack.EDID_Data, edid.EDID_Data, NV_EDID_DATA_SIZE), 0);
    EXPECT_EQ(readBack.edidId, 0u);
    EXPECT_EQ(readBack.offset, 0u);

    // a record with a wrong version word is refused by the driver, not by the client
    readBack.version = 0x00020110u;
    EXPECT_EQ(NvAPI_GPU_GetEDID(gpus[0], 0x4u, &readBack), NVAPI_ERROR);
    EXPECT_EQ(TraceCount("GetEDID 0 0x4"), 2u);
}

TEST(EntryPoints, LookUpACachedFunctionOnceWithoutLockOrAllocation)
{
    InstallDriverDouble(OneGpuScenario());
    uint32_t slot = 0;
    ASSERT_EQ(NvAPI_GPU_GetBusSlotId(GpuHandle(0), &slot), NVAPI_OK);
    void* cached = FunctionCache[NVAPI_SLOT_GPU_GET_BUS_SLOT_ID];
    ASSERT_NE(cached, nullptr);

    size_t allocations = sim::AllocationCount();
    size_t logLines = sim::CallLog().size();
    for (int call = 0; call < 100; ++call)
        ASSERT_EQ(NvAPI_GPU_GetBusSlotId(GpuHandle(0), &slot), NVAPI_OK);

    EXPECT_EQ(TraceCount(QueryLine(0x2A0A350F)), 1u);
    EXPECT_EQ(TraceCount("GetBusSlotId 0"), 101u);
    EXPECT_EQ(FunctionCache[NVAPI_SLOT_GPU_GET_BUS_SLOT_ID], cached);
    EXPECT_EQ(sim::AllocationCount(), allocations);
    EXPECT_EQ(sim::CallLog().size(), logLines);  // no platform call at all: no lock, no load
}

TEST(EntryPoints, UnofferedFunctionGivesNoImplementationWithoutHooksAndIsAskedAgain)
{
    DriverScenario scenario = OneGpuScenario();
    scenario.preHook = scenario.postHook = true;
    scenario.notOffered.insert(0x1BE0B8E5);
    InstallDriverDouble(scenario);
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);

    uint32_t bus = 77;
    EXPECT_EQ(NvAPI_GPU_GetBusId(GpuHandle(0), &bus), NVAPI_NO_IMPLEMENTATION);
    EXPECT_EQ(NvAPI_GPU_GetBusId(GpuHandle(0), &bus), NVAPI_NO_IMPLEMENTATION);
    EXPECT_EQ(bus, 77u);
    EXPECT_EQ(TraceCount(QueryLine(0x1BE0B8E5)), 2u);
    EXPECT_EQ(TraceCountStartingWith("PreCallHook"), 0u);
    EXPECT_EQ(TraceCountStartingWith("PostCallHook"), 0u);
    EXPECT_EQ(FunctionCache[NVAPI_SLOT_GPU_GET_BUS_ID], nullptr);

    // once the driver offers it, the next call finds it and keeps it
    DriverDoubleScenario().notOffered.clear();
    EXPECT_EQ(NvAPI_GPU_GetBusId(GpuHandle(0), &bus), NVAPI_OK);
    EXPECT_EQ(NvAPI_GPU_GetBusId(GpuHandle(0), &bus), NVAPI_OK);
    EXPECT_EQ(bus, 3u);
    EXPECT_EQ(TraceCount(QueryLine(0x1BE0B8E5)), 3u);
}

TEST(EntryPoints, WithoutAQueryFunctionGiveNoImplementation)
{
    InstallDriverDouble(OneGpuScenario());
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    InterfaceModule[0].queryInterface = nullptr;  // a state no binding leaves; the test makes it

    uint32_t bus = 0;
    EXPECT_EQ(NvAPI_GPU_GetBusId(GpuHandle(0), &bus), NVAPI_NO_IMPLEMENTATION);
    EXPECT_EQ(TraceCountStartingWith("GetBusId"), 0u);
}

TEST(EntryPoints, FirstEntryPointReturnsTheFailedBindingStatusAndMakesNoCall)
{
    DriverScenario scenario = OneGpuScenario();
    scenario.initStatus = -5;
    InstallDriverDouble(scenario);

    uint32_t bus = 0;
    EXPECT_EQ(NvAPI_GPU_GetBusId(GpuHandle(0), &bus), -5);
    EXPECT_EQ(TraceCountStartingWith("GetBusId"), 0u);
    EXPECT_EQ(TraceCount(QueryLine(0x1BE0B8E5)), 0u);
    EXPECT_EQ(sim::CountCalls("FreeLibrary " + DriverModulePathText()), 1u);
}

TEST(EntryPoints, DriverModuleIsLoadedOnlyFromTheSystemDirectory)
{
    DriverScenario scenario = OneGpuScenario();
    InstallDriverDoubleAt(scenario, u"C:\\Tools\\nvapi64.dll");
    InstallDriverDoubleAt(scenario, u"C:\\Work\\nvapi64.dll");
    uint32_t bus = 0;
    EXPECT_EQ(NvAPI_GPU_GetBusId(GpuHandle(0), &bus), NVAPI_LIBRARY_NOT_FOUND);
    EXPECT_TRUE(DriverDoubleTrace().empty());

    // positive control: the same double in the system directory is loaded
    InstallDriverDouble(scenario);
    EXPECT_EQ(NvAPI_GPU_GetBusId(GpuHandle(0), &bus), NVAPI_OK);
    EXPECT_EQ(bus, 3u);
    EXPECT_TRUE(sim::IsLoaded(DriverModulePath()));
    EXPECT_FALSE(sim::IsLoaded(u"C:\\Tools\\nvapi64.dll"));
    EXPECT_FALSE(sim::IsLoaded(u"C:\\Work\\nvapi64.dll"));
}

// ---- the hooks, one process per combination

struct HookCase {
    const char* name;
    bool pre;
    bool post;
};

static void PrintTo(const HookCase& c, std::ostream* out) { *out << c.name; }

static const HookCase HookCases[] = {
    {"None", false, false},
    {"OnlyPre", true, false},
    {"OnlyPost", false, true},
    {"Both", true, true},
};

class EntryPointHooks : public ::testing::TestWithParam<HookCase> {};

TEST_P(EntryPointHooks, RunAroundEveryCallOnlyWhenBothAreOffered)
{
    const HookCase& c = GetParam();
    DriverScenario scenario = OneGpuScenario();
    scenario.preHook = c.pre;
    scenario.postHook = c.post;
    scenario.hookContextValue = 0x0123456789abcdefull;
    scenario.gpus[0].queryStatus = -9;  // the post-call hook sees the call's status
    InstallDriverDouble(scenario);
    ASSERT_EQ(NvAPI_Initialize(), NVAPI_OK);
    const bool pair = c.pre && c.post;
    EXPECT_EQ(PreCallHook != nullptr, pair);
    EXPECT_EQ(PostCallHook != nullptr, pair);

    DriverDoubleTrace().clear();
    uint32_t bus = 0, slot = 0;
    EXPECT_EQ(NvAPI_GPU_GetBusId(GpuHandle(0), &bus), -9);
    EXPECT_EQ(NvAPI_GPU_GetBusSlotId(GpuHandle(0), &slot), -9);

    std::vector<std::string> expected;
    if (pair) {
        expected = {QueryLine(0x1BE0B8E5), "PreCallHook 0x1be0b8e5", "GetBusId 0",
                    "PostCallHook 0x1be0b8e5 0x123456789abcdef -9",
                    QueryLine(0x2A0A350F), "PreCallHook 0x2a0a350f", "GetBusSlotId 0",
                    "PostCallHook 0x2a0a350f 0x123456789abcdef -9"};
    } else {
        expected = {QueryLine(0x1BE0B8E5), "GetBusId 0", QueryLine(0x2A0A350F), "GetBusSlotId 0"};
    }
    EXPECT_EQ(DriverDoubleTrace(), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, EntryPointHooks, ::testing::ValuesIn(HookCases),
                         [](const ::testing::TestParamInfo<HookCase>& info) {
                             return std::string(info.param.name);
                         });

// A pre-call hook that stores nothing: the post-call hook gets the zero the entry point set.
static uint32_t SilentPreCalls = 0;
static uint64_t ContextSeenByPost = 1;
static void SilentPreCallHook(uint32_t, uint64_t*) { ++SilentPreCalls; }
static void RecordingPostCallHook(uint32_t, uint64_t context, NvAPI_Status) { ContextSeenByPost = context; }

static void* QueryWithSilentHooks(uint32_t interfaceId)
{
    if (interfaceId == 0x33C7358C)
        return Address(&SilentPreCallHook);
    if (interfaceId == 0x593E8644)
        return Address(&RecordingPostCallHook);
    return FakeQueryInterface(interfaceId);
}

TEST(EntryPoints, CallContextStartsAtZeroForEveryCall)
{
    sim::AddModule(DriverModulePath(), {{"nvapi_QueryInterface", AsExport(&QueryWithSilentHooks)}});
    uint32_t bus = 0;
    FakeStatus = NVAPI_OK;
    EXPECT_EQ(NvAPI_GPU_GetBusId(GpuHandle(0), &bus), NVAPI_OK);
    EXPECT_EQ(SilentPreCalls, 1u);
    EXPECT_EQ(ContextSeenByPost, 0u);
}
