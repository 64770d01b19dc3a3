// The test-double GPU driver in the native build: a module of the simulated
// Windows whose export nvapi_QueryInterface is DriverDoubleQueryInterface.
#include "driver_double/driver_double.h"

#include "platform/sim/sim.h"

void InstallDriverDoubleAt(const DriverScenario& scenario, const char16_t* path)
{
    DriverDoubleScenario() = scenario;
    DriverDoubleTrace().clear();
    sim::Exports exports;
    exports.emplace_back("nvapi_QueryInterface",
                         reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&DriverDoubleQueryInterface)));
    sim::AddModule(path, exports);
}

void InstallDriverDouble(const DriverScenario& scenario)
{
    sim::Path path = sim::SystemDirectory() + u"\\nvapi64.dll";
    InstallDriverDoubleAt(scenario, path.c_str());
}
