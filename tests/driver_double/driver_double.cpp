// The test-double GPU driver, portable core: the scenario, the trace, the
// driver functions behind DriverDoubleQueryInterface, the scenario parser and
// the sample EDID. Standard C++ only, so that the same file builds into the
// native tests and into the windows build's nvapi64.dll.
//
// The double keeps its own view of every argument: addresses arrive untyped and
// the EDID record is read at raw byte offsets, so that a layout mistake on the
// client's side shows up as a failing call instead of being shared.
#include "driver_double/driver_double.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

// ---- process-wide state of the double (filled by the test or the DLL shell)

static DriverScenario CurrentScenario;
static std::vector<std::string> CurrentTrace;
static std::string TraceFilePath;

DriverScenario& DriverDoubleScenario() { return CurrentScenario; }
std::vector<std::string>& DriverDoubleTrace() { return CurrentTrace; }
void SetDriverDoubleTraceFile(const std::string& path) { TraceFilePath = path; }

// ---- the EDID record as the double sees it
static const uint32_t EdidRecordVersion = 0x00030110u;
static const size_t EdidRecordVersionOffset = 0;
static const size_t EdidRecordDataOffset = 4;
static const size_t EdidRecordDataBytes = 256;
static const size_t EdidRecordSizeOffset = 260;

static uint32_t ReadRecordWord(const void* record, size_t offset)
{
    uint32_t value = 0;
    std::memcpy(&value, static_cast<const unsigned char*>(record) + offset, sizeof value);
    return value;
}

static void WriteRecordWord(void* record, size_t offset, uint32_t value)
{
    std::memcpy(static_cast<unsigned char*>(record) + offset, &value, sizeof value);
}

// ---- trace

static std::string HexText(uint64_t value, int digits)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%0*llx", digits, static_cast<unsigned long long>(value));
    return buffer;
}

// Is the trace on? Callers test it before they build a line.
static bool Tracing() { return CurrentScenario.traceEnabled; }

static void Trace(const std::string& line)
{
    if (!Tracing())
        return;
    CurrentTrace.push_back(line);
    if (!TraceFilePath.empty()) {
        // Opened per line, so that the trace is complete whenever the process ends.
        FILE* file = std::fopen(TraceFilePath.c_str(), "a");
        if (file != nullptr) {
            std::fprintf(file, "%s\n", line.c_str());
            std::fclose(file);
        }
    }
}

// ---- GPUs

static const uintptr_t FirstGpuHandle = 0x1000;
static const uintptr_t GpuHandleStride = 0x10;

void* DriverDoubleGpuHandle(size_t index)
{
    return reinterpret_cast<void*>(FirstGpuHandle + index * GpuHandleStride);
}

// The GPU behind a handle, or null for a handle the double never handed out.
// The trace name is built only while the trace is on.
static DoubleGpu* FindGpu(void* handle, std::string* traceName)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    DoubleGpu* gpu = nullptr;
    size_t index = 0;
    if (value >= FirstGpuHandle && (value - FirstGpuHandle) % GpuHandleStride == 0) {
        index = (value - FirstGpuHandle) / GpuHandleStride;
        if (index < CurrentScenario.gpus.size())
            gpu = &CurrentScenario.gpus[index];
    }
    if (Tracing())
        *traceName = gpu != nullptr ? std::to_string(index) : HexText(value, 0);
    return gpu;
}

static bool IsSingleOutput(uint32_t outputId) { return outputId != 0 && (outputId & (outputId - 1)) == 0; }

static int OutputBit(uint32_t outputId)
{
    int bit = 0;
    while ((outputId >> bit) != 1u)
        ++bit;
    return bit;
}

// ---- the driver functions (shapes as the driver interface defines them)

static int32_t DoubleInitialize(void)
{
    Trace("Initialize");
    return CurrentScenario.initStatus;
}

static int32_t DoubleAlternateInitialize(uint32_t argument)
{
    if (Tracing())
        Trace("AlternateInitialize " + std::to_string(argument));
    return CurrentScenario.initStatus;
}

static void DoublePreCallHook(uint32_t interfaceId, uint64_t* context)
{
    if (Tracing())
        Trace("PreCallHook " + HexText(interfaceId, 8));
    if (context != nullptr)
        *context = CurrentScenario.hookContextValue;
}

static void DoublePostCallHook(uint32_t interfaceId, uint64_t context, int32_t status)
{
    if (Tracing())
        Trace("PostCallHook " + HexText(interfaceId, 8) + " " + HexText(context, 0) + " " +
              std::to_string(status));
}

static int32_t DoubleEnumPhysicalGPUs(void* handles, uint32_t* count)
{
    Trace("EnumPhysicalGPUs");
    const DriverScenario& s = CurrentScenario;
    if (handles == nullptr || count == nullptr)
        return s.failStatus;
    if (s.enumStatus != 0)
        return s.enumStatus;
    void** out = static_cast<void**>(handles);
    for (size_t i = 0; i < s.gpus.size() && i < 64; ++i)
        out[i] = DriverDoubleGpuHandle(i);
    *count = s.reportedCount >= 0 ? static_cast<uint32_t>(s.reportedCount)
                                  : static_cast<uint32_t>(s.gpus.size());
    return 0;
}

static int32_t DoubleGetConnectedDisplayIds(void* gpuHandle, void* displayIds, uint32_t* count,
                                            uint32_t flags)
{
    (void)displayIds;  // the double reports the count only
    (void)flags;
    std::string name;
    DoubleGpu* gpu = FindGpu(gpuHandle, &name);
    if (Tracing())
        Trace("GetConnectedDisplayIds " + name);
    if (gpu == nullptr || count == nullptr)
        return CurrentScenario.failStatus;
    if (gpu->queryStatus != 0)
        return gpu->queryStatus;
    *count = gpu->connectedDisplays;
    return 0;
}

static int32_t DoubleGetBusId(void* gpuHandle, uint32_t* busId)
{
    std::string name;
    DoubleGpu* gpu = FindGpu(gpuHandle, &name);
    if (Tracing())
        Trace("GetBusId " + name);
    if (gpu == nullptr || busId == nullptr)
        return CurrentScenario.failStatus;
    if (gpu->queryStatus != 0)
        return gpu->queryStatus;
    *busId = gpu->bus;
    return 0;
}

static int32_t DoubleGetBusSlotId(void* gpuHandle, uint32_t* slotId)
{
    std::string name;
    DoubleGpu* gpu = FindGpu(gpuHandle, &name);
    if (Tracing())
        Trace("GetBusSlotId " + name);
    if (gpu == nullptr || slotId == nullptr)
        return CurrentScenario.failStatus;
    if (gpu->queryStatus != 0)
        return gpu->queryStatus;
    *slotId = gpu->slot;
    return 0;
}

static int32_t DoubleSetEdid(void* gpuHandle, uint32_t outputId, void* record)
{
    std::string name;
    DoubleGpu* gpu = FindGpu(gpuHandle, &name);
    uint32_t size = record != nullptr ? ReadRecordWord(record, EdidRecordSizeOffset) : 0;
    if (Tracing())
        Trace("SetEDID " + name + " " + HexText(outputId, 0) + " " +
              (record != nullptr ? std::to_string(size) : std::string("-")));
    const int32_t fail = CurrentScenario.failStatus;
    if (gpu == nullptr || record == nullptr || !IsSingleOutput(outputId))
        return fail;
    if (ReadRecordWord(record, EdidRecordVersionOffset) != EdidRecordVersion)
        return fail;
    if ((gpu->outputs & outputId) == 0 || size > EdidRecordDataBytes)
        return fail;
    int bit = OutputBit(outputId);
    if (size == 0) {
        gpu->overrideEdid.erase(bit);
        return 0;
    }
    const unsigned char* data = static_cast<const unsigned char*>(record) + EdidRecordDataOffset;
    gpu->overrideEdid[bit].assign(data, data + size);
    return 0;
}

static int32_t DoubleGetEdid(void* gpuHandle, uint32_t outputId, void* record)
{
    std::string name;
    DoubleGpu* gpu = FindGpu(gpuHandle, &name);
    if (Tracing())
        Trace("GetEDID " + name + " " + HexText(outputId, 0));
    const int32_t fail = CurrentScenario.failStatus;
    if (gpu == nullptr || record == nullptr || !IsSingleOutput(outputId))
        return fail;
    if (ReadRecordWord(record, EdidRecordVersionOffset) != EdidRecordVersion)
        return fail;
    int bit = OutputBit(outputId);
    const std::vector<uint8_t>* edid = nullptr;
    auto overridden = gpu->overrideEdid.find(bit);
    auto monitor = gpu->monitorEdid.find(bit);
    if (overridden != gpu->overrideEdid.end())
        edid = &overridden->second;
    else if (monitor != gpu->monitorEdid.end())
        edid = &monitor->second;
    if (edid == nullptr)
        return fail;
    size_t bytes = edid->size() < EdidRecordDataBytes ? edid->size() : EdidRecordDataBytes;
    if (bytes != 0)
        std::memcpy(static_cast<unsigned char*>(record) + EdidRecordDataOffset, edid->data(), bytes);
    WriteRecordWord(record, EdidRecordSizeOffset, static_cast<uint32_t>(bytes));
    return 0;
}

template <typename Function>
static void* AsAddress(Function function)
{
    return reinterpret_cast<void*>(function);
}

void* DriverDoubleQueryInterface(uint32_t interfaceId)
{
    if (Tracing())
        Trace("QueryInterface " + HexText(interfaceId, 8));
    const DriverScenario& s = CurrentScenario;
    if (s.notOffered.count(interfaceId) != 0)
        return nullptr;
    switch (interfaceId) {
    case DRIVER_DOUBLE_ID_INITIALIZE:
        return s.offerInitialize ? AsAddress(&DoubleInitialize) : nullptr;
    case DRIVER_DOUBLE_ID_ALTERNATE_INITIALIZE:
        return s.offerAlternateInitialize ? AsAddress(&DoubleAlternateInitialize) : nullptr;
    case DRIVER_DOUBLE_ID_PRE_CALL_HOOK:
        return s.preHook ? AsAddress(&DoublePreCallHook) : nullptr;
    case DRIVER_DOUBLE_ID_POST_CALL_HOOK:
        return s.postHook ? AsAddress(&DoublePostCallHook) : nullptr;
    case DRIVER_DOUBLE_ID_GET_EDID:
        return AsAddress(&DoubleGetEdid);
    case DRIVER_DOUBLE_ID_ENUM_PHYSICAL_GPUS:
        return AsAddress(&DoubleEnumPhysicalGPUs);
    case DRIVER_DOUBLE_ID_GET_CONNECTED_DISPLAY_IDS:
        return AsAddress(&DoubleGetConnectedDisplayIds);
    case DRIVER_DOUBLE_ID_SET_EDID:
        return AsAddress(&DoubleSetEdid);
    case DRIVER_DOUBLE_ID_GET_BUS_ID:
        return AsAddress(&DoubleGetBusId);
    case DRIVER_DOUBLE_ID_GET_BUS_SLOT_ID:
        return AsAddress(&DoubleGetBusSlotId);
    default:
        return nullptr;
    }
}

// ---- scenario text

// A number: decimal with an optional '-', or hex after "0x". The whole token must be used.
static bool ParseNumber(const std::string& token, int64_t* value)
{
    if (token.empty())
        return false;
    size_t at = 0;
    bool negative = false;
    if (token[0] == '-') {
        negative = true;
        at = 1;
    }
    int base = 10;
    if (token.size() > at + 2 && token[at] == '0' && (token[at + 1] == 'x' || token[at + 1] == 'X')) {
        base = 16;
        at += 2;
    }
    if (at >= token.size() || token.size() - at > 16)
        return false;
    uint64_t magnitude = 0;
    for (; at < token.size(); ++at) {
        char c = token[at];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    if (base == 10 && magnitude > static_cast<uint64_t>(INT64_MAX))
        return false;
    *value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

static bool ParseInRange(const std::string& token, int64_t low, int64_t high, int64_t* value)
{
    return ParseNumber(token, value) && *value >= low && *value <= high;
}

static bool ParseStatus(const std::string& token, int32_t* status)
{
    int64_t value = 0;
    if (!ParseInRange(token, INT32_MIN, UINT32_MAX, &value))
        return false;
    // 0xFFFFFFFF and -1 name the same status
    *status = static_cast<int32_t>(static_cast<uint32_t>(value));
    return true;
}

static bool ParseUnsigned32(const std::string& token, uint32_t* out)
{
    int64_t value = 0;
    if (!ParseInRange(token, 0, UINT32_MAX, &value))
        return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

static bool AppendHexBytes(const std::vector<std::string>& tokens, size_t first, std::vector<uint8_t>* bytes)
{
    for (size_t t = first; t < tokens.size(); ++t) {
        const std::string& token = tokens[t];
        if (token.size() % 2 != 0)
            return false;
        for (size_t i = 0; i < token.size(); i += 2) {
            int64_t value = 0;
            if (!ParseNumber("0x" + token.substr(i, 2), &value))
                return false;
            bytes->push_back(static_cast<uint8_t>(value));
        }
    }
    return bytes->size() <= EdidRecordDataBytes;
}

static bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

static std::string Trimmed(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

static bool ParseLine(const std::string& rawLine, DriverScenario* s)
{
    std::string line = rawLine.substr(0, rawLine.find('#'));
    std::istringstream words(line);
    std::vector<std::string> tokens;
    for (std::string token; words >> token;)
        tokens.push_back(token);
    if (tokens.empty())
        return true;
    const std::string& directive = tokens[0];
    const size_t n = tokens.size();

    if (directive == "init" && n == 2) {
        if (tokens[1] == "absent") {
            s->offerInitialize = false;
            return true;
        }
        s->offerInitialize = true;
        return ParseStatus(tokens[1], &s->initStatus);
    }
    if (directive == "alternate" && n == 2 && tokens[1] == "absent") {
        s->offerAlternateInitialize = false;
        return true;
    }
    if (directive == "enum" && (n == 2 || n == 3)) {
        if (!ParseStatus(tokens[1], &s->enumStatus))
            return false;
        s->reportedCount = -1;
        return n == 2 || ParseInRange(tokens[2], 0, UINT32_MAX, &s->reportedCount);
    }
    if (directive == "fail" && n == 2)
        return ParseStatus(tokens[1], &s->failStatus);
    if (directive == "hooks" && n == 2) {
        const std::string& which = tokens[1];
        if (which != "pre" && which != "post" && which != "both" && which != "none")
            return false;
        s->preHook = which == "pre" || which == "both";
        s->postHook = which == "post" || which == "both";
        return true;
    }
    if (directive == "context" && n == 2) {
        int64_t value = 0;
        if (tokens[1].rfind("0x", 0) != 0 || !ParseNumber(tokens[1], &value))
            return false;
        s->hookContextValue = static_cast<uint64_t>(value);
        return true;
    }
    if (directive == "absent" && n == 2) {
        uint32_t id = 0;
        if (!ParseUnsigned32(tokens[1], &id))
            return false;
        s->notOffered.insert(id);
        return true;
    }
    if (directive == "gpu" && (n == 5 || n == 6)) {
        DoubleGpu gpu;
        if (!ParseUnsigned32(tokens[1], &gpu.bus) || !ParseUnsigned32(tokens[2], &gpu.slot) ||
            !ParseUnsigned32(tokens[3], &gpu.connectedDisplays) ||
            !ParseUnsigned32(tokens[4], &gpu.outputs))
            return false;
        if (n == 6 && !ParseStatus(tokens[5], &gpu.queryStatus))
            return false;
        s->gpus.push_back(gpu);
        return true;
    }
    if ((directive == "edid" || directive == "edidfile") && n >= 3) {
        int64_t bit = 0;
        if (s->gpus.empty() || !ParseInRange(tokens[1], 0, 31, &bit))
            return false;
        std::vector<uint8_t>& edid = s->gpus.back().monitorEdid[static_cast<int>(bit)];
        if (directive == "edidfile") {
            // the path is the rest of the line and may hold spaces
            std::string rest = Trimmed(line);
            rest = Trimmed(rest.substr(rest.find(tokens[0]) + tokens[0].size()));
            rest = Trimmed(rest.substr(tokens[1].size()));
            std::vector<uint8_t> bytes;
            if (!ReadWholeFile(rest, &bytes))
                return false;
            edid.insert(edid.end(), bytes.begin(), bytes.end());
            return edid.size() <= EdidRecordDataBytes;
        }
        if (n == 3 && tokens[2] == "sample") {
            std::vector<uint8_t> sample = SampleEdid();
            edid.insert(edid.end(), sample.begin(), sample.end());
            return edid.size() <= EdidRecordDataBytes;
        }
        return AppendHexBytes(tokens, 2, &edid);
    }
    return false;
}

int ParseDriverScenarioAt(const std::string& text, DriverScenario* scenario, int* errorLine)
{
    DriverScenario parsed;
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (!ParseLine(line, &parsed)) {
            if (errorLine != nullptr)
                *errorLine = number;
            return 0;
        }
    }
    *scenario = parsed;
    return 1;
}

int ParseDriverScenario(const std::string& text, DriverScenario* scenario)
{
    return ParseDriverScenarioAt(text, scenario, nullptr);
}

// ---- the sample EDID: EDID 1.4, digital input, 1920x1080 at 60 Hz
std::vector<uint8_t> SampleEdid()
{
    static const uint8_t block[127] = {
        // header
        0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00,
        // manufacturer "EDL", product 0x0001, serial 1, week 1 of 2020, EDID 1.4
        0x14, 0x8C, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x1E, 0x01, 0x04,
        // digital 8 bits per colour (DisplayPort), 53 x 30 cm, gamma 2.2,
        // RGB 4:4:4, sRGB default, preferred timing is native
        0xA5, 0x35, 0x1E, 0x78, 0x06,
        // sRGB chromaticity
        0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54,
        // established timings: 640x480@60, 800x600@60, 1024x768@60
        0x21, 0x08, 0x00,
        // standard timings: 1920x1080@60, the rest unused
        0xD1, 0xC0, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
        0x01, 0x01,
        // detailed timing: 148.5 MHz, 1920x1080, blanking 280/45, sync 88/44 4/5,
        // 531 x 299 mm, digital separate sync, both polarities positive
        0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C, 0x45, 0x00, 0x13, 0x2B,
        0x21, 0x00, 0x00, 0x1E,
        // range limits: 56-76 Hz, 30-83 kHz, 170 MHz, no further timing information
        0x00, 0x00, 0x00, 0xFD, 0x00, 0x38, 0x4C, 0x1E, 0x53, 0x11, 0x01, 0x0A, 0x20, 0x20,
        0x20, 0x20, 0x20, 0x20,
        // monitor name "Test Monitor"
        0x00, 0x00, 0x00, 0xFC, 0x00, 'T', 'e', 's', 't', ' ', 'M', 'o', 'n', 'i', 't', 'o',
        'r', 0x0A,
        // dummy descriptor
        0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00,
        // no extension blocks
        0x00,
    };
    std::vector<uint8_t> edid(block, block + sizeof block);
    unsigned sum = 0;
    for (uint8_t b : edid)
        sum += b;
    edid.push_back(static_cast<uint8_t>((256u - sum % 256u) % 256u));
    return edid;
}
