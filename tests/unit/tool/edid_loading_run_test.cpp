// The tool's whole run on the simulated Windows with the in-process driver double.
#include "tool/edid_loading_run.h"

#include "driver_double/driver_double.h"
#include "platform/sim/sim.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const Ruler = "01234567890123456789012345678901\n";

// Each test runs in a directory of its own, with standard input at its end.
class EdidLoadingRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/edidload-run-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory_ = pattern;
        ASSERT_EQ(chdir(directory_.c_str()), 0);
        ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
    }
    void TearDown() override
    {
        std::remove((directory_ + "/edid.bin").c_str());
        rmdir((directory_ + "/edid.bin").c_str());
        rmdir(directory_.c_str());
    }

    static void WriteEdidFile(const std::vector<uint8_t>& bytes)
    {
        std::ofstream file("edid.bin", std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    // Runs the tool; returns its exit code and leaves its console text in output_.
    int Run()
    {
        testing::internal::CaptureStdout();
        int code = RunEdidLoading();
        output_ = testing::internal::GetCapturedStdout();
        return code;
    }

    static std::vector<std::string> TraceLines(const std::string& prefix)
    {
        std::vector<std::string> lines;
        for (const std::string& line : DriverDoubleTrace())
            if (line.compare(0, prefix.size(), prefix) == 0)
                lines.push_back(line);
        return lines;
    }

    std::string directory_;
    std::string output_;
};

DoubleGpu Gpu(uint32_t bus, uint32_t slot, uint32_t displays, uint32_t outputs)
{
    DoubleGpu gpu;
    gpu.bus = bus;
    gpu.slot = slot;
    gpu.connectedDisplays = displays;
    gpu.outputs = outputs;
    return gpu;
}

std::string Marks(uint32_t outputs)
{
    std::string marks;
    for (int j = 0; j < 32; ++j)
        marks += (outputs >> j & 1) ? "O" : "-";
    return marks;
}

std::string GpuHeader(int index, uint32_t displays, uint32_t bus, uint32_t slot, uint32_t outputs)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "Current GPU device: %d\nNumber of connected displays: %u\nBus id: %u\tBus slot id: %u\n"
                  "\nGPU[%d] Unload EDID(s) and check OutIDs:\n",
                  index, displays, bus, slot, index);
    return text + std::string(Ruler) + Marks(outputs) + "\n\nLoad EDID data from file edid.bin\n";
}

std::string Dump(int gpu, int output, const std::vector<uint8_t>& data)
{
    std::string text = "\nGPU[" + std::to_string(gpu) + "] Found dispOutId at: " + std::to_string(output) +
                       "\nEDID Data:\n";
    for (size_t i = 0; i < 256; ++i) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "%02x ", i < data.size() ? data[i] : 0);
        text += byte;
        if ((i + 1) % 16 == 0)
            text += "\n";
    }
    return text + "\n";
}

std::vector<uint8_t> Padded(std::vector<uint8_t> bytes)
{
    bytes.resize(256, 0);
    return bytes;
}

TEST_F(EdidLoadingRun, NoGpuPrintsTheCountAndEndsWithoutOpeningTheFile)
{
    InstallDriverDouble(DriverScenario());
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(output_, "GPU count: 0\nDone. Press Enter to exit.");
    EXPECT_TRUE(TraceLines("SetEDID").empty());
}

TEST_F(EdidLoadingRun, OneGpuIsClearedSetAndReadBack)
{
    DriverScenario scenario;
    scenario.gpus.push_back(Gpu(1, 0, 1, 0x3));
    InstallDriverDouble(scenario);
    WriteEdidFile(SampleEdid());

    EXPECT_EQ(Run(), 0);

    std::string expected = "GPU count: 1\n"
                           "Current GPU device: 0\n"
                           "Number of connected displays: 1\n"
                           "Bus id: 1\tBus slot id: 0\n"
                           "\n"
                           "GPU[0] Unload EDID(s) and check OutIDs:\n"
                           "01234567890123456789012345678901\n"
                           "OO------------------------------\n"
                           "\n"
                           "Load EDID data from file edid.bin\n"
                           "GPU[0] SetEDID OK.\n" +
                           Dump(0, 0, Padded(SampleEdid())) + "\n\nDone. Press Enter to exit.";
    EXPECT_EQ(output_, expected);
    // 32 clearing calls with size 0, then the setting call on bit 0 with size 256.
    std::vector<std::string> sets = TraceLines("SetEDID");
    ASSERT_EQ(sets.size(), 33u);
    EXPECT_EQ(sets[0], "SetEDID 0 0x1 0");
    EXPECT_EQ(sets[31], "SetEDID 0 0x80000000 0");
    EXPECT_EQ(sets[32], "SetEDID 0 0x1 256");
    // Outputs 0 to 30 are read back, bit 31 is not.
    std::vector<std::string> gets = TraceLines("GetEDID");
    ASSERT_EQ(gets.size(), 31u);
    EXPECT_EQ(gets[30], "GetEDID 0 0x40000000");
}

TEST_F(EdidLoadingRun, TargetOutputIsChosenOnTheFirstGpuAndReusedOnTheSecond)
{
    DriverScenario scenario;
    scenario.gpus.push_back(Gpu(1, 0, 2, 0xc));  // accepts bits 2 and 3
    scenario.gpus.push_back(Gpu(2, 0, 1, 0x5));  // accepts bits 0 and 2
    InstallDriverDouble(scenario);
    WriteEdidFile(SampleEdid());

    EXPECT_EQ(Run(), 0);

    std::string expected = "GPU count: 2\n" + GpuHeader(0, 2, 1, 0, 0xc) + "GPU[0] SetEDID OK.\n" +
                           Dump(0, 2, Padded(SampleEdid())) + "\n\n" + GpuHeader(1, 1, 2, 0, 0x5) +
                           "GPU[1] SetEDID OK.\n" + Dump(1, 2, Padded(SampleEdid())) + "\n\n" +
                           "Done. Press Enter to exit.";
    EXPECT_EQ(output_, expected);
    std::vector<std::string> sets = TraceLines("SetEDID 1 0x4 256");
    EXPECT_EQ(sets.size(), 1u);
}

TEST_F(EdidLoadingRun, NothingClearedSetsOutputBit31)
{
    DriverScenario scenario;
    scenario.gpus.push_back(Gpu(1, 0, 1, 0x80000000u));  // only bit 31 exists
    scenario.gpus[0].monitorEdid[31] = SampleEdid();
    InstallDriverDouble(scenario);
    WriteEdidFile(SampleEdid());

    EXPECT_EQ(Run(), 0);
    // Bit 31's clearing succeeds, so it is the target; it is never read back.
    EXPECT_EQ(TraceLines("SetEDID 0 0x80000000 256").size(), 1u);
    EXPECT_EQ(output_.find("Found dispOutId"), std::string::npos);
}

TEST_F(EdidLoadingRun, NoOutputAcceptingAClearSendsTheSettingCallToBit31)
{
    DriverScenario scenario;
    scenario.gpus.push_back(Gpu(1, 0, 1, 0));
    InstallDriverDouble(scenario);
    WriteEdidFile(SampleEdid());

    EXPECT_EQ(Run(), 2);
    EXPECT_NE(output_.find(Marks(0)), std::string::npos);
    EXPECT_EQ(TraceLines("SetEDID 0 0x80000000 256").size(), 1u);
    EXPECT_NE(output_.find("GPU[0] SetEDID failed = 0xffffffff\n"), std::string::npos);
}

TEST_F(EdidLoadingRun, FailedSettingCallIsReportedAndTheRunEndsWithTwo)
{
    DriverScenario scenario;
    scenario.failStatus = -5;
    scenario.gpus.push_back(Gpu(1, 0, 1, 0x4));  // target bit 2
    scenario.gpus.push_back(Gpu(2, 0, 1, 0x1));  // lacks bit 2: its setting call fails
    InstallDriverDouble(scenario);
    WriteEdidFile(SampleEdid());

    EXPECT_EQ(Run(), 2);
    std::string expectedSecond = GpuHeader(1, 1, 2, 0, 0x1) + "GPU[1] SetEDID failed = 0xfffffffb\n\n\n" +
                                 "Done. Press Enter to exit.";
    ASSERT_GE(output_.size(), expectedSecond.size());
    EXPECT_EQ(output_.substr(output_.size() - expectedSecond.size()), expectedSecond);
    EXPECT_NE(output_.find("GPU[0] SetEDID OK.\n"), std::string::npos);
}

TEST_F(EdidLoadingRun, QueryValuesCarryOverFromThePreviousGpu)
{
    DriverScenario scenario;
    scenario.gpus.push_back(Gpu(3, 4, 2, 0x1));
    scenario.gpus.push_back(Gpu(7, 8, 5, 0x1));
    scenario.gpus[1].queryStatus = -1;  // the second GPU's queries fail and write nothing
    InstallDriverDouble(scenario);
    WriteEdidFile(SampleEdid());

    EXPECT_EQ(Run(), 0);
    EXPECT_NE(output_.find(GpuHeader(1, 2, 3, 4, 0x1)), std::string::npos);
}

TEST_F(EdidLoadingRun, FailingQueriesOnTheFirstGpuPrintZeros)
{
    DriverScenario scenario;
    scenario.gpus.push_back(Gpu(3, 4, 2, 0x1));
    scenario.gpus[0].queryStatus = -1;
    InstallDriverDouble(scenario);
    WriteEdidFile(SampleEdid());

    EXPECT_EQ(Run(), 0);
    EXPECT_NE(output_.find(GpuHeader(0, 0, 0, 0, 0x1)), std::string::npos);
}

// Standard input holds "xy\n" for the rest of the test.
void GiveStandardInput()
{
    FILE* input = std::tmpfile();
    ASSERT_NE(input, nullptr);
    std::fputs("xy\n", input);
    std::rewind(input);
    ASSERT_EQ(dup2(fileno(input), 0), 0);
    std::clearerr(stdin);
}

TEST_F(EdidLoadingRun, MissingDriverEndsAtOnceWithOneWithoutWaiting)
{
    GiveStandardInput();
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(output_, "NvAPI_Initialize() failed = 0xfffffffe");
    EXPECT_EQ(std::fgetc(stdin), 'x');
}

TEST_F(EdidLoadingRun, DriverInitialiseStatusIsPrintedAsUnsignedHex)
{
    DriverScenario scenario;
    scenario.initStatus = -6;
    InstallDriverDouble(scenario);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(output_, "NvAPI_Initialize() failed = 0xfffffffa");
}

TEST_F(EdidLoadingRun, GpuListFailureWaitsAndEndsWithMinusOne)
{
    DriverScenario scenario;
    scenario.enumStatus = -1;
    InstallDriverDouble(scenario);
    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(output_, "Get GPU Error!\n");
}

TEST_F(EdidLoadingRun, MissingFileStopsAfterClearingWithMinusOne)
{
    DriverScenario scenario;
    scenario.gpus.push_back(Gpu(1, 0, 1, 0x3));
    InstallDriverDouble(scenario);

    EXPECT_EQ(Run(), -1);
    EXPECT_EQ(output_, "GPU count: 1\n" + GpuHeader(0, 1, 1, 0, 0x3) + "Error Open edid.bin!\n");
    EXPECT_EQ(TraceLines("SetEDID").size(), 32u);
    EXPECT_TRUE(TraceLines("GetEDID").empty());
}

TEST_F(EdidLoadingRun, FileShorterThanOneEdidBlockIsNeverWritten)
{
    struct Case {
        size_t bytes;
        bool directory;  // edid.bin is a directory: opened, nothing can be read
    };
    const Case cases[] = {{0, false}, {1, false}, {127, false}, {0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        DriverDoubleTrace().clear();
        DriverScenario scenario;
        scenario.gpus.push_back(Gpu(1, 0, 1, 0x3));
        InstallDriverDouble(scenario);
        std::remove("edid.bin");
        rmdir("edid.bin");
        if (c.directory) {
            ASSERT_EQ(mkdir("edid.bin", 0700), 0);
        } else {
            std::vector<uint8_t> bytes = SampleEdid();
            bytes.resize(c.bytes);
            WriteEdidFile(bytes);
        }

        EXPECT_EQ(Run(), -1);
        std::string expected = "GPU count: 1\n" + GpuHeader(0, 1, 1, 0, 0x3) + "Error Read edid.bin: " +
                               std::to_string(c.bytes) + " bytes, an EDID needs at least 128!\n";
        EXPECT_EQ(output_, expected);
        EXPECT_EQ(TraceLines("SetEDID").size(), 32u);
        EXPECT_TRUE(TraceLines("GetEDID").empty());
    }
}

TEST_F(EdidLoadingRun, OneBlockFileReplacesOnlyItsBytesAndIsSentAs256)
{
    DriverScenario scenario;
    scenario.gpus.push_back(Gpu(1, 0, 1, 0x1));
    InstallDriverDouble(scenario);
    WriteEdidFile(SampleEdid());

    EXPECT_EQ(Run(), 0);
    const DoubleGpu& gpu = DriverDoubleScenario().gpus[0];
    ASSERT_EQ(gpu.overrideEdid.count(0), 1u);
    EXPECT_EQ(gpu.overrideEdid.at(0), Padded(SampleEdid()));
}

TEST_F(EdidLoadingRun, LongFileContributesOnlyItsFirst256Bytes)
{
    DriverScenario scenario;
    scenario.gpus.push_back(Gpu(1, 0, 1, 0x1));
    InstallDriverDouble(scenario);
    std::vector<uint8_t> bytes(300);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    WriteEdidFile(bytes);

    EXPECT_EQ(Run(), 0);
    std::vector<uint8_t> first(bytes.begin(), bytes.begin() + 256);
    EXPECT_EQ(DriverDoubleScenario().gpus[0].overrideEdid.at(0), first);
}

TEST_F(EdidLoadingRun, ReadBackOfAShortEdidDumpsTheWholeDataAreaAsLeft)
{
    // Output 0 takes the file's EDID; output 1's monitor reports a different
    // 128-byte EDID, which overwrites only the first half of the record.
    DriverScenario scenario;
    scenario.gpus.push_back(Gpu(1, 0, 2, 0x1));
    std::vector<uint8_t> other(128, 0xab);
    scenario.gpus[0].monitorEdid[1] = other;
    InstallDriverDouble(scenario);
    std::vector<uint8_t> file(256);
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<uint8_t>(i);
    WriteEdidFile(file);

    EXPECT_EQ(Run(), 0);
    std::vector<uint8_t> carried = other;
    carried.insert(carried.end(), file.begin() + 128, file.end());
    EXPECT_NE(output_.find(Dump(0, 0, file) + Dump(0, 1, carried)), std::string::npos);
}

TEST_F(EdidLoadingRun, CountAboveTheHandleArrayIsNotReadPastIt)
{
    DriverScenario scenario;
    scenario.reportedCount = 65;
    for (int i = 0; i < 64; ++i)
        scenario.gpus.push_back(Gpu(static_cast<uint32_t>(i), 0, 1, 0x1));
    InstallDriverDouble(scenario);
    WriteEdidFile(SampleEdid());

    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(output_.compare(0, 14, "GPU count: 65\n"), 0);
    EXPECT_NE(output_.find("Current GPU device: 63\n"), std::string::npos);
    EXPECT_EQ(output_.find("Current GPU device: 64\n"), std::string::npos);
}

TEST_F(EdidLoadingRun, WaitForAKeyReadsOneCharacter)
{
    InstallDriverDouble(DriverScenario());
    GiveStandardInput();
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(std::fgetc(stdin), 'y');
}

TEST_F(EdidLoadingRun, RunLeavesNoHeapBlockBehind)
{
    DriverScenario scenario;
    scenario.gpus.push_back(Gpu(1, 0, 1, 0x3));
    InstallDriverDouble(scenario);
    WriteEdidFile(SampleEdid());
    size_t before = sim::LiveBlocks();

    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(sim::LiveBlocks(), before);
    EXPECT_EQ(sim::CriticalSectionsHeld(), 0);
}

}  // namespace
