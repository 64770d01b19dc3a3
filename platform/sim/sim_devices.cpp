// Failures of single calls of the simulated device setup functions, service
// control manager and kernel graphics adapters (sim_setupapi.cpp,
// sim_services.cpp, sim_kernel_graphics.cpp), and the file names loaded
// modules answer with.
#include "sim_devices.h"
#include "world.h"

#include <cstdio>
#include <cstdlib>
#include <map>

namespace sim {

namespace {
struct PendingFailure {
    int callsLeft;  // the failing call is the one that brings this to 0
    DWORD error;
};
}  // namespace

static std::map<std::string, PendingFailure>& PendingFailures()
{
    static std::map<std::string, PendingFailure>* failures = new std::map<std::string, PendingFailure>();
    return *failures;
}

void FailDeviceCall(const std::string& function, int nth, DWORD error)
{
    if (nth <= 0)
        PendingFailures().erase(function);
    else
        PendingFailures()[function] = PendingFailure{nth, error};
}

DWORD TakeDeviceCallFailure(const std::string& function)
{
    auto found = PendingFailures().find(function);
    if (found == PendingFailures().end())
        return 0;
    if (--found->second.callsLeft > 0)
        return 0;
    DWORD error = found->second.error;
    PendingFailures().erase(found);
    return error;
}

void SetModuleFileNameAnswer(const Path& modulePath, const Path& fileName)
{
    FileEntry* entry = FindFile(NormalForm(modulePath));
    if (entry == nullptr || entry->module == nullptr) {
        std::fprintf(stderr, "simulated Windows: module %s is not loaded\n",
                     Narrow(modulePath.c_str()).c_str());
        std::abort();
    }
    entry->module->path = fileName;
}

}  // namespace sim
