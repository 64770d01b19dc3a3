// The test-double driver, where the tool's tests depend on it: the scenario
// text, the EDID it keeps per output, and the sample EDID.
#include "driver_double/driver_double.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

// The EDID record as the driver interface lays it out (version, data, size, id, offset).
struct RawRecord {
    unsigned char bytes[272];
};

static RawRecord Record(uint32_t version, uint32_t size)
{
    RawRecord record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(record.bytes, &version, 4);
    std::memcpy(record.bytes + 260, &size, 4);
    return record;
}

static uint32_t RecordSize(const RawRecord& record)
{
    uint32_t size = 0;
    std::memcpy(&size, record.bytes + 260, 4);
    return size;
}

typedef int32_t (*EdidFn)(void*, uint32_t, void*);

static int32_t CallSetEdid(void* gpu, uint32_t output, RawRecord* record)
{
    return reinterpret_cast<EdidFn>(DriverDoubleQueryInterface(DRIVER_DOUBLE_ID_SET_EDID))(gpu, output, record);
}

static int32_t CallGetEdid(void* gpu, uint32_t output, RawRecord* record)
{
    return reinterpret_cast<EdidFn>(DriverDoubleQueryInterface(DRIVER_DOUBLE_ID_GET_EDID))(gpu, output, record);
}

static std::string WriteTempFile(const std::string& name, const std::vector<uint8_t>& bytes)
{
    std::string path = ::testing::TempDir() + name;
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(DriverDoubleScenarioText, ParsesEveryDirective)
{
    std::vector<uint8_t> fileEdid = {0x00, 0xff, 0xff, 0x00, 0x42};
    std::string edidPath = WriteTempFile("double edid.bin", fileEdid);
    std::string text =
        "# two GPUs\r\n"
        "init -104\n"
        "alternate absent\n"
        "enum 0 70   # more than the array holds\n"
        "fail 0xFFFFFFFB\n"
        "hooks both\n"
        "context 0x00000000deadbeef\n"
        "absent 0x1BE0B8E5\n"
        "absent 0x2a0a350f\n"
        "\n"
        "gpu 1 0 1 0x7\n"
        "edid 1 00ffffffffffff00\n"
        "edid 1 01 02 03\n"
        "edid 2 sample\n"
        "gpu 65 3 2 0x80000001 -6\n"
        "edidfile 31 " + edidPath + "\n";
    DriverScenario s;
    ASSERT_EQ(ParseDriverScenario(text, &s), 1);

    EXPECT_EQ(s.initStatus, -104);
    EXPECT_TRUE(s.offerInitialize);
    EXPECT_FALSE(s.offerAlternateInitialize);
    EXPECT_EQ(s.enumStatus, 0);
    EXPECT_EQ(s.reportedCount, 70);
    EXPECT_EQ(s.failStatus, -5);
    EXPECT_TRUE(s.preHook);
    EXPECT_TRUE(s.postHook);
    EXPECT_EQ(s.hookContextValue, 0xdeadbeefull);
    EXPECT_EQ(s.notOffered, (std::set<uint32_t>{0x1BE0B8E5u, 0x2A0A350Fu}));
    ASSERT_EQ(s.gpus.size(), 2u);

    const DoubleGpu& first = s.gpus[0];
    EXPECT_EQ(first.bus, 1u);
    EXPECT_EQ(first.slot, 0u);
    EXPECT_EQ(first.connectedDisplays, 1u);
    EXPECT_EQ(first.outputs, 0x7u);
    EXPECT_EQ(first.queryStatus, 0);
    EXPECT_EQ(first.monitorEdid.at(1),
              (std::vector<uint8_t>{0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00, 0x01, 0x02, 0x03}));
    EXPECT_EQ(first.monitorEdid.at(2), SampleEdid());
    EXPECT_TRUE(first.overrideEdid.empty());

    const DoubleGpu& second = s.gpus[1];
    EXPECT_EQ(second.bus, 65u);
    EXPECT_EQ(second.slot, 3u);
    EXPECT_EQ(second.connectedDisplays, 2u);
    EXPECT_EQ(second.outputs, 0x80000001u);
    EXPECT_EQ(second.queryStatus, -6);
    EXPECT_EQ(second.monitorEdid.at(31), fileEdid);
    EXPECT_EQ(second.monitorEdid.size(), 1u);
}

TEST(DriverDoubleScenarioText, EmptyTextIsTheDefaultWithoutGpus)
{
    DriverScenario s;
    s.gpus.resize(3);
    s.preHook = true;
    ASSERT_EQ(ParseDriverScenario("# nothing\n\n", &s), 1);
    EXPECT_TRUE(s.gpus.empty());
    EXPECT_FALSE(s.preHook);
    EXPECT_TRUE(s.offerInitialize);
    EXPECT_EQ(s.initStatus, 0);
    EXPECT_EQ(s.reportedCount, -1);
    EXPECT_EQ(s.failStatus, -1);
}

TEST(DriverDoubleScenarioText, InitAbsentRemovesTheInitialiseEntry)
{
    DriverScenario s;
    ASSERT_EQ(ParseDriverScenario("init absent\nhooks pre\n", &s), 1);
    EXPECT_FALSE(s.offerInitialize);
    EXPECT_TRUE(s.preHook);
    EXPECT_FALSE(s.postHook);
}

TEST(DriverDoubleScenarioText, RefusesMalformedLinesAndLeavesTheScenarioAlone)
{
    const struct {
        const char* text;
        int line;
    } cases[] = {
        {"bogus 1\n", 1},
        {"init\n", 1},
        {"init 12x\n", 1},
        {"hooks sometimes\n", 1},
        {"enum 0 -1\n", 1},
        {"gpu 1 0 1\n", 1},
        {"gpu 1 0 1 0x7 0 9\n", 1},
        {"gpu -1 0 1 0x7\n", 1},
        {"edid 1 00ff\n", 1},                       // before any gpu
        {"gpu 1 0 1 0x7\nedid 32 00\n", 2},          // no such output bit
        {"gpu 1 0 1 0x7\nedid 1 0\n", 2},            // half a byte
        {"gpu 1 0 1 0x7\nedid 1 zz\n", 2},
        {"gpu 1 0 1 0x7\nedidfile 1 /no/such/file\n", 2},
        {"absent 0x100000000\n", 1},
        {"context 17\n", 1},
        {"init 0\nfail 5000000000\n", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        DriverScenario s;
        s.initStatus = 42;
        int line = 0;
        EXPECT_EQ(ParseDriverScenarioAt(c.text, &s, &line), 0);
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(s.initStatus, 42);
        EXPECT_EQ(ParseDriverScenario(c.text, &s), 0);
    }
}

TEST(DriverDoubleScenarioText, RefusesAnEdidLongerThanTheRecord)
{
    std::string line = "edid 0 ";
    for (int i = 0; i < 257; ++i)
        line += "ab";
    DriverScenario s;
    EXPECT_EQ(ParseDriverScenario("gpu 1 0 1 0x1\n" + line + "\n", &s), 0);

    // positive control: 256 bytes fit
    line.resize(line.size() - 2);
    ASSERT_EQ(ParseDriverScenario("gpu 1 0 1 0x1\n" + line + "\n", &s), 1);
    EXPECT_EQ(s.gpus[0].monitorEdid.at(0).size(), 256u);
}

static DriverScenario EdidScenario()
{
    DriverScenario scenario;
    scenario.failStatus = -77;
    DoubleGpu gpu;
    gpu.outputs = 0x5;  // bits 0 and 2 accept an EDID
    gpu.monitorEdid[0] = SampleEdid();
    scenario.gpus.push_back(gpu);
    return scenario;
}

TEST(DriverDoubleEdid, SetThenGetReturnsTheOverrideAndClearingRestoresTheMonitorEdid)
{
    DriverDoubleScenario() = EdidScenario();
    void* gpu = DriverDoubleGpuHandle(0);

    RawRecord set = Record(0x00030110u, 256);
    for (int i = 0; i < 256; ++i)
        set.bytes[4 + i] = static_cast<unsigned char>(i ^ 0x5a);
    ASSERT_EQ(CallSetEdid(gpu, 0x1, &set), 0);

    RawRecord got = Record(0x00030110u, 0);
    ASSERT_EQ(CallGetEdid(gpu, 0x1, &got), 0);
    EXPECT_EQ(RecordSize(got), 256u);
    EXPECT_EQ(std::memcmp(got.bytes + 4, set.bytes + 4, 256), 0);

    // clearing: size 0 removes the override, the monitor's own EDID answers again
    RawRecord clear = Record(0x00030110u, 0);
    ASSERT_EQ(CallSetEdid(gpu, 0x1, &clear), 0);
    std::memset(got.bytes + 4, 0xee, 256);
    ASSERT_EQ(CallGetEdid(gpu, 0x1, &got), 0);
    EXPECT_EQ(RecordSize(got), 128u);
    std::vector<uint8_t> sample = SampleEdid();
    EXPECT_EQ(std::memcmp(got.bytes + 4, sample.data(), 128), 0);
    EXPECT_EQ(got.bytes[4 + 128], 0xee);  // only as many bytes as the EDID has

    // an output with neither override nor monitor EDID does not answer
    EXPECT_EQ(CallGetEdid(gpu, 0x4, &got), -77);
    ASSERT_EQ(CallSetEdid(gpu, 0x4, &set), 0);
    EXPECT_EQ(CallGetEdid(gpu, 0x4, &got), 0);
}

TEST(DriverDoubleEdid, RefusesBadHandlesOutputsRecordsAndSizes)
{
    DriverDoubleScenario() = EdidScenario();
    void* gpu = DriverDoubleGpuHandle(0);
    RawRecord good = Record(0x00030110u, 256);
    RawRecord badVersion = Record(0x00030100u, 256);
    RawRecord tooLong = Record(0x00030110u, 257);

    const struct {
        const char* name;
        void* gpu;
        uint32_t output;
        RawRecord* record;
    } cases[] = {
        {"unknown handle", DriverDoubleGpuHandle(1), 0x1, &good},
        {"null handle", nullptr, 0x1, &good},
        {"handle between two GPUs", reinterpret_cast<void*>(0x1008), 0x1, &good},
        {"no output bit", gpu, 0x0, &good},
        {"two output bits", gpu, 0x5, &good},
        {"output not accepting", gpu, 0x2, &good},
        {"null record", gpu, 0x1, nullptr},
        {"wrong version", gpu, 0x1, &badVersion},
        {"size above 256", gpu, 0x1, &tooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CallSetEdid(c.gpu, c.output, c.record), -77);
    }
    EXPECT_TRUE(DriverDoubleScenario().gpus[0].overrideEdid.empty());

    // positive control with the same record
    EXPECT_EQ(CallSetEdid(gpu, 0x1, &good), 0);
    EXPECT_EQ(CallGetEdid(DriverDoubleGpuHandle(1), 0x1, &good), -77);
    EXPECT_EQ(CallGetEdid(gpu, 0x3, &good), -77);
    EXPECT_EQ(CallGetEdid(gpu, 0x1, &badVersion), -77);
    EXPECT_EQ(CallGetEdid(gpu, 0x1, &good), 0);
}

TEST(DriverDoubleEdid, TracesCallsWithGpuIndexOutputAndSize)
{
    DriverDoubleScenario() = EdidScenario();
    DriverDoubleTrace().clear();
    RawRecord record = Record(0x00030110u, 0);
    CallSetEdid(DriverDoubleGpuHandle(0), 0x80000000u, &record);
    CallGetEdid(reinterpret_cast<void*>(0xabc), 0x4, &record);
    EXPECT_EQ(DriverDoubleTrace(),
              (std::vector<std::string>{"QueryInterface 0xe83d6456", "SetEDID 0 0x80000000 0",
                                        "QueryInterface 0x37d32e69", "GetEDID 0xabc 0x4"}));
}

TEST(DriverDoubleSample, IsAValidBaseBlock)
{
    std::vector<uint8_t> edid = SampleEdid();
    ASSERT_EQ(edid.size(), 128u);
    const uint8_t header[8] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    EXPECT_EQ(std::memcmp(edid.data(), header, 8), 0);
    unsigned sum = 0;
    for (uint8_t b : edid)
        sum += b;
    EXPECT_EQ(sum % 256, 0u);
    EXPECT_EQ(edid[0x12], 1);  // EDID 1.4
    EXPECT_EQ(edid[0x13], 4);
    EXPECT_EQ(edid[126], 0);   // no extension blocks
    // the preferred timing is 1920 x 1080
    EXPECT_EQ(edid[56] | ((edid[58] & 0xf0) << 4), 1920);
    EXPECT_EQ(edid[59] | ((edid[61] & 0xf0) << 4), 1080);
}

TEST(DriverDoubleSample, IsAcceptedByEdidDecode)
{
    if (std::system("command -v edid-decode > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "edid-decode is not installed";
    std::string path = WriteTempFile("sample_edid.bin", SampleEdid());
    std::string command = "edid-decode --check '" + path + "' > '" + path + ".txt' 2>&1";
    int status = std::system(command.c_str());
    std::ifstream report(path + ".txt");
    std::string text((std::istreambuf_iterator<char>(report)), std::istreambuf_iterator<char>());
    EXPECT_EQ(status, 0) << text;
    EXPECT_NE(text.find("Display Product Name: 'Test Monitor'"), std::string::npos) << text;
    EXPECT_NE(text.find("DTD 1:  1920x1080"), std::string::npos) << text;
    EXPECT_NE(text.find("EDID conformity: PASS"), std::string::npos) << text;
}
