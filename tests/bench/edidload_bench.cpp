// What a driver call and a module load cost, on the simulated Windows and the
// in-process driver double.
//
//   DriverCall/direct_pointer      the driver's GetBusId through a plain function
//                                  pointer from its query-interface export: the floor
//   DriverCall/entry_point         NvAPI_GPU_GetBusId, warm (module bound, cache slot
//                                  filled), the driver offering no hooks
//   DriverCall/entry_point_hooks   the same with both call-trace hooks offered
//   LoadModuleSecure/system32/...  LoadModuleSecure("nvapi64.dll", 0x800), the
//                                  client layer's request
//   LoadModuleSecure/driver_route/...  LoadModuleSecure("nvapi64.dll", 0) on a build
//                                  from 14308 on: the driver route, which finds nothing
//                                  on this machine and hands over to the system directory
// each ".../warm" after a first request in the same process, each ".../cold" the
// first request of a fresh process.
//
// Beside the times, counters per request: platform_calls (lines of the simulated
// Windows' call log) and local_allocs (LocalAlloc calls). The times are the
// simulated platform's, not Windows'; the call counts carry over.
//
// The machine (--edidload_machine=...):
//   platform_build  the version test answers for build 19045 (default): the build
//                   test asks the platform on every request and caches nothing;
//   registry_build  the version test answers 9200, as Windows 10 answers a program
//                   without a compatibility manifest; the build test reads
//                   "CurrentBuildNumber" (19045) from the registry once and caches it.
// The machine is process-wide state that cannot be undone (the build cache), so
// each run of this program measures one machine; scripts/bench.sh runs both.
//
// After the table the program prints one line per figure: the median over the
// repetitions (CPU time per call; for the cold requests the time measured in the
// child around the one call).
#include "driver_double/driver_double.h"
#include "support/driver_scenarios.h"
#include "nvapi_client/interface_binding.h"
#include "platform/sim/sim.h"
#include "secure_load/loader.h"

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// ---- the machine and the driver

const char* const MachinePlatformBuild = "platform_build";
const char* const MachineRegistryBuild = "registry_build";
std::string Machine = MachinePlatformBuild;  // from the command line, before any benchmark

void SetUpMachine()
{
    if (Machine == MachineRegistryBuild)
        sim::SetVersion(6, 2, 0, 9200);  // the registry keeps "CurrentBuildNumber" = "19045"
}

// One GPU on bus 3, the driver double's trace off: a benchmark makes millions of
// calls, and the trace would both dominate the driver function and grow without end.
DriverScenario BenchScenario(bool hooks)
{
    DriverScenario scenario = test_support::OneGpuScenario(hooks);
    scenario.traceEnabled = false;
    return scenario;
}

NvPhysicalGpuHandle FirstGpu()
{
    return static_cast<NvPhysicalGpuHandle>(DriverDoubleGpuHandle(0));
}

typedef NvAPI_Status (*GetBusIdFn)(void* gpu, uint32_t* busId);

// The process's driver: installed once, bound by NvAPI_Initialize.
bool DriverReady = false;

bool EnsureDriverBound()
{
    if (!DriverReady) {
        InstallDriverDouble(BenchScenario(false));
        DriverReady = NvAPI_Initialize() == NVAPI_OK;
    }
    return DriverReady;
}

// Binds the loaded driver module again, as its first load bound it, with or
// without the hooks: the binding fetches the hooks and clears the function cache.
bool RebindDriver(bool hooks)
{
    DriverScenario& scenario = DriverDoubleScenario();
    scenario.preHook = hooks;
    scenario.postHook = hooks;
    return BindInterfaceModule(InterfaceModule[NVAPI_MODULE_DRIVER_API].handle,
                               NVAPI_MODULE_DRIVER_API, NVAPI_MODE_STANDARD) == NVAPI_OK &&
           (PreCallHook != nullptr) == hooks;
}

// Counters per request, over the timed loop.
void SetCounters(benchmark::State& state, double platformCalls, double localAllocs)
{
    double iterations = static_cast<double>(state.iterations());
    if (iterations == 0)
        return;
    state.counters["platform_calls"] = benchmark::Counter(platformCalls / iterations);
    state.counters["local_allocs"] = benchmark::Counter(localAllocs / iterations);
}

// ---- driver calls

void BM_DirectPointer(benchmark::State& state)
{
    if (!EnsureDriverBound() || !RebindDriver(false)) {
        state.SkipWithError("the driver could not be bound");
        return;
    }
    GetBusIdFn getBusId =
        reinterpret_cast<GetBusIdFn>(DriverDoubleQueryInterface(DRIVER_DOUBLE_ID_GET_BUS_ID));
    void* gpu = DriverDoubleGpuHandle(0);
    uint32_t bus = 0;
    sim::ClearCallLog();
    size_t allocations = sim::AllocationCount();
    for (auto _ : state) {
        NvAPI_Status status = getBusId(gpu, &bus);
        benchmark::DoNotOptimize(status);
    }
    if (bus != 3)
        state.SkipWithError("the driver function did not answer");
    SetCounters(state, static_cast<double>(sim::CallLog().size()),
                static_cast<double>(sim::AllocationCount() - allocations));
}

void EntryPoint(benchmark::State& state, bool hooks)
{
    if (!EnsureDriverBound() || !RebindDriver(hooks)) {
        state.SkipWithError("the driver could not be bound");
        return;
    }
    NvPhysicalGpuHandle gpu = FirstGpu();
    uint32_t bus = 0;
    // warm: the first call fills the cache slot
    if (NvAPI_GPU_GetBusId(gpu, &bus) != NVAPI_OK || bus != 3) {
        state.SkipWithError("the entry point failed");
        return;
    }
    sim::ClearCallLog();
    size_t allocations = sim::AllocationCount();
    for (auto _ : state) {
        NvAPI_Status status = NvAPI_GPU_GetBusId(gpu, &bus);
        benchmark::DoNotOptimize(status);
    }
    SetCounters(state, static_cast<double>(sim::CallLog().size()),
                static_cast<double>(sim::AllocationCount() - allocations));
    RebindDriver(false);
}

void BM_EntryPoint(benchmark::State& state) { EntryPoint(state, false); }
void BM_EntryPointHooks(benchmark::State& state) { EntryPoint(state, true); }

// ---- module loads

struct LoadCase {
    const char* name;
    DWORD flags;
};

const LoadCase LoadCases[] = {
    {"system32", LOAD_LIBRARY_SEARCH_SYSTEM32},
    {"driver_route", 0},
};

// Every request adds its platform calls to the call log; the log is emptied
// outside the timed region every so many requests, and its lines counted then.
const int64_t RequestsPerLogClear = 256;

void LoadWarm(benchmark::State& state, const LoadCase& load)
{
    if (!EnsureDriverBound()) {
        state.SkipWithError("the driver could not be bound");
        return;
    }
    // warm: the process has made its first request
    HMODULE expected = LoadModuleSecure(WSTR("nvapi64.dll"), load.flags);
    if (expected == nullptr) {
        state.SkipWithError("the first request loaded nothing");
        return;
    }
    sim::ClearCallLog();
    size_t allocations = sim::AllocationCount();
    size_t platformCalls = 0;
    int64_t sinceClear = 0;
    HMODULE module = nullptr;
    for (auto _ : state) {
        module = LoadModuleSecure(WSTR("nvapi64.dll"), load.flags);
        benchmark::DoNotOptimize(module);
        if (++sinceClear == RequestsPerLogClear) {
            state.PauseTiming();
            platformCalls += sim::CallLog().size();
            sim::ClearCallLog();
            sinceClear = 0;
            state.ResumeTiming();
        }
    }
    platformCalls += sim::CallLog().size();
    sim::ClearCallLog();
    if (module != expected)
        state.SkipWithError("a warm request did not give the module of the first");
    SetCounters(state, static_cast<double>(platformCalls),
                static_cast<double>(sim::AllocationCount() - allocations));
}

// A cold request is the first of a fresh process, and the loader's caches (build
// number, OS level, pinning, late-bound table) cannot be reset. So each iteration
// starts this program anew (fork and exec of /proc/self/exe, with the machine and
// the case on the command line): the child builds the simulated machine, installs
// the driver, then times exactly one LoadModuleSecure with a steady clock and
// writes the nanoseconds and its counts back through a pipe; the parent reports
// that time as the iteration's (manual time). A fork without exec would copy the
// parent's already-warm caches; a loop in one process would be warm after its
// first pass. The child binds its symbols at start (LD_BIND_NOW), as a Windows
// program's imports are bound at load, so the lazy symbol binding of the host's
// dynamic linker is not counted. What stays in the figure is what a first request
// really meets: code and data touched for the first time. Few iterations: each
// costs a process start.
const int64_t ColdIterations = 20;

struct ColdResult {
    long long nanoseconds;
    size_t platformCalls;
    size_t localAllocs;
};

int RunColdChild(const LoadCase& load)
{
    SetUpMachine();
    InstallDriverDouble(BenchScenario(false));
    sim::ClearCallLog();
    size_t allocations = sim::AllocationCount();
    std::chrono::steady_clock::now();  // the clock's own first use is not timed
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    HMODULE module = LoadModuleSecure(WSTR("nvapi64.dll"), load.flags);
    std::chrono::steady_clock::time_point end = std::chrono::steady_clock::now();
    long long nanoseconds =
        std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count();
    std::printf("%lld %zu %zu\n", nanoseconds, sim::CallLog().size(),
                sim::AllocationCount() - allocations);
    return module != nullptr ? 0 : 1;
}

bool StartColdChild(const LoadCase& load, ColdResult* result)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return false;
    std::string caseArgument = std::string("--edidload_cold_child=") + load.name;
    std::string machineArgument = "--edidload_machine=" + Machine;
    pid_t child = fork();
    if (child < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return false;
    }
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        setenv("LD_BIND_NOW", "1", 1);
        char* const arguments[] = {const_cast<char*>("edidload_bench"),
                                   const_cast<char*>(caseArgument.c_str()),
                                   const_cast<char*>(machineArgument.c_str()), nullptr};
        execv("/proc/self/exe", arguments);
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string text;
    char buffer[256];
    ssize_t got;
    while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    return std::sscanf(text.c_str(), "%lld %zu %zu", &result->nanoseconds, &result->platformCalls,
                       &result->localAllocs) == 3;
}

void LoadCold(benchmark::State& state, const LoadCase& load)
{
    double platformCalls = 0;
    double localAllocs = 0;
    for (auto _ : state) {
        ColdResult result = {};
        if (!StartColdChild(load, &result)) {
            state.SkipWithError("the cold request failed in its child process");
            return;
        }
        state.SetIterationTime(static_cast<double>(result.nanoseconds) * 1e-9);
        platformCalls += static_cast<double>(result.platformCalls);
        localAllocs += static_cast<double>(result.localAllocs);
    }
    SetCounters(state, platformCalls, localAllocs);
}

// ---- the figures after the table

// Collects every run while the console reporter prints it.
class FigureReporter : public benchmark::ConsoleReporter {
public:
    FigureReporter()
        : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    struct Figure {
        double nanoseconds = 0;
        double platformCalls = -1;
        double localAllocs = -1;
        int repetitions = 0;
        bool failed = false;
    };

    void ReportRuns(const std::vector<Run>& reports) override
    {
        for (const Run& run : reports) {
            const std::string& name = run.run_name.function_name;
            if (run.error_occurred) {
                failed_[name] = true;
                continue;
            }
            // manual time for the cold requests, CPU time for the rest
            double time = run.run_name.time_type == "manual_time" ? run.GetAdjustedRealTime()
                                                                  : run.GetAdjustedCPUTime();
            Sample sample = {time, CounterValue(run, "platform_calls"),
                             CounterValue(run, "local_allocs")};
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median")
                    medians_[name] = sample;
            } else {
                samples_[name].push_back(sample);
            }
        }
        ConsoleReporter::ReportRuns(reports);
    }

    // The median over the repetitions of one benchmark.
    bool Get(const std::string& name, Figure* figure) const
    {
        *figure = Figure();
        if (failed_.count(name) != 0) {
            figure->failed = true;
            return false;
        }
        auto median = medians_.find(name);
        auto samples = samples_.find(name);
        int repetitions = samples != samples_.end() ? static_cast<int>(samples->second.size()) : 0;
        Sample chosen;
        if (median != medians_.end()) {
            chosen = median->second;
        } else if (repetitions != 0) {
            std::vector<Sample> sorted = samples->second;
            std::sort(sorted.begin(), sorted.end(),
                      [](const Sample& a, const Sample& b) { return a.time < b.time; });
            chosen = sorted[sorted.size() / 2];
        } else {
            return false;
        }
        figure->nanoseconds = chosen.time;
        figure->platformCalls = chosen.platformCalls;
        figure->localAllocs = chosen.localAllocs;
        figure->repetitions = repetitions;
        return true;
    }

private:
    struct Sample {
        double time;
        double platformCalls;
        double localAllocs;
    };

    static double CounterValue(const Run& run, const char* counter)
    {
        auto found = run.counters.find(counter);
        return found == run.counters.end() ? -1 : found->second.value;
    }

    std::map<std::string, Sample> medians_;
    std::map<std::string, std::vector<Sample>> samples_;
    std::map<std::string, bool> failed_;
};

// The ratio the client layer promises: a warm entry point costs at most this many
// direct calls of the same driver function.
const double EntryPointRatioLimit = 1.5;

std::string CountsText(const FigureReporter::Figure& figure)
{
    char text[96];
    std::snprintf(text, sizeof text, "platform calls %.0f, LocalAlloc %.0f", figure.platformCalls,
                  figure.localAllocs);
    return text;
}

void PrintFigures(const FigureReporter& reporter)
{
    std::printf("\n== figures, machine %s (median of the repetitions; ns per call)\n",
                Machine.c_str());
    FigureReporter::Figure direct, entry, hooks;
    bool haveDirect = reporter.Get("DriverCall/direct_pointer", &direct);
    bool haveEntry = reporter.Get("DriverCall/entry_point", &entry);
    if (haveDirect)
        std::printf("driver call, direct through a function pointer: %.2f ns\n", direct.nanoseconds);
    if (haveEntry)
        std::printf("driver call, NvAPI_GPU_GetBusId entry point, warm, no hooks: %.2f ns, %s\n",
                    entry.nanoseconds, CountsText(entry).c_str());
    if (haveDirect && haveEntry && direct.nanoseconds > 0) {
        double ratio = entry.nanoseconds / direct.nanoseconds;
        std::printf("ratio entry point / direct call: %.2f (limit %.1f: %s)\n", ratio,
                    EntryPointRatioLimit, ratio <= EntryPointRatioLimit ? "within" : "EXCEEDED");
    }
    if (reporter.Get("DriverCall/entry_point_hooks", &hooks))
        std::printf("driver call, NvAPI_GPU_GetBusId entry point, warm, both hooks: %.2f ns, %s\n",
                    hooks.nanoseconds, CountsText(hooks).c_str());

    static const char* const Temperatures[] = {"warm", "cold"};
    for (const LoadCase& load : LoadCases) {
        for (const char* temperature : Temperatures) {
            std::string name = std::string("LoadModuleSecure/") + load.name + "/" + temperature;
            FigureReporter::Figure figure;
            if (reporter.Get(name, &figure))
                std::printf("LoadModuleSecure(\"nvapi64.dll\", 0x%x), %s, %s: %.0f ns, %s\n",
                            static_cast<unsigned>(load.flags), load.name, temperature,
                            figure.nanoseconds, CountsText(figure).c_str());
            else if (figure.failed)
                std::printf("LoadModuleSecure(\"nvapi64.dll\", 0x%x), %s, %s: FAILED\n",
                            static_cast<unsigned>(load.flags), load.name, temperature);
        }
    }
}

void RegisterBenchmarks()
{
    benchmark::RegisterBenchmark("DriverCall/direct_pointer", BM_DirectPointer);
    benchmark::RegisterBenchmark("DriverCall/entry_point", BM_EntryPoint);
    benchmark::RegisterBenchmark("DriverCall/entry_point_hooks", BM_EntryPointHooks);
    for (const LoadCase& load : LoadCases) {
        std::string prefix = std::string("LoadModuleSecure/") + load.name;
        benchmark::RegisterBenchmark((prefix + "/warm").c_str(), LoadWarm, load);
        benchmark::RegisterBenchmark((prefix + "/cold").c_str(), LoadCold, load)
            ->UseManualTime()
            ->Iterations(ColdIterations);
    }
}

bool TakeOption(const char* argument, const char* option, std::string* value)
{
    size_t length = std::strlen(option);
    if (std::strncmp(argument, option, length) != 0)
        return false;
    *value = argument + length;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    // Options of this program, taken out before the benchmark library reads the rest.
    std::string coldChild;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (TakeOption(argv[i], "--edidload_machine=", &Machine) ||
            TakeOption(argv[i], "--edidload_cold_child=", &coldChild))
            continue;
        argv[kept++] = argv[i];
    }
    argc = kept;
    if (Machine != MachinePlatformBuild && Machine != MachineRegistryBuild) {
        std::fprintf(stderr, "--edidload_machine: %s or %s\n", MachinePlatformBuild,
                     MachineRegistryBuild);
        return 2;
    }
    if (!coldChild.empty()) {
        for (const LoadCase& load : LoadCases)
            if (coldChild == load.name)
                return RunColdChild(load);
        return 2;
    }

    SetUpMachine();
    RegisterBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintFigures(reporter);
    return 0;
}
