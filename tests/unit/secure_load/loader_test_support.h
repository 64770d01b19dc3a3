// What the loader scenario tests share: a fixture that checks that nothing
// leaks and no registry key stays open, and short ways to name system modules.
#pragma once

#include "support/scenario_fixture.h"
#include "platform/sim/sim.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Every scenario starts with an empty call log and ends with the heap and the
// registry as it found them; the table form runs one process per row.
using LoaderScenario = test_support::ScenarioFixture<::testing::Test>;
template <typename Row>
using LoaderScenarioTable = test_support::ScenarioFixture<::testing::TestWithParam<Row>>;

inline sim::Path InSystemDirectory(const sim::Path& name)
{
    return u"C:\\Windows\\system32\\" + name;
}

inline void AddSystemModule(const sim::Path& name) { sim::AddModule(InSystemDirectory(name)); }

// Windows 8 as an unmanifested program sees it: the platform answers for 9200.
inline void RunOnWindows8(const char16_t* registryBuild)
{
    sim::SetVersion(6, 2, 0, 9200);
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                           u"CurrentBuildNumber", registryBuild);
}

// Windows 7 SP1.
inline void RunOnWindows7()
{
    sim::SetVersion(6, 1, 1, 7601);
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                           u"CurrentBuildNumber", u"7601");
}

inline std::vector<std::string> LoadCalls() { return sim::CallsStartingWith("LoadLibraryExW "); }

// Position of the first call-log line equal to the text; -1 when absent.
inline long PositionInLog(const std::string& line)
{
    const std::vector<std::string>& log = sim::CallLog();
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i] == line)
            return static_cast<long>(i);
    return -1;
}

#define DEPENDENCY_LOADS_BY_NAME                                                              \
    "LoadLibraryExW msasn1.dll 0x800", "LoadLibraryExW cryptnet.dll 0x800",                  \
        "LoadLibraryExW drvstore.dll 0x800", "LoadLibraryExW devobj.dll 0x800",              \
        "LoadLibraryExW wldp.dll 0x800", "LoadLibraryExW cryptbase.dll 0x800"

#define DEPENDENCY_LOADS_BY_PATH                                                              \
    "LoadLibraryExW C:\\Windows\\system32\\msasn1.dll 0x0",                                  \
        "LoadLibraryExW C:\\Windows\\system32\\cryptnet.dll 0x0",                            \
        "LoadLibraryExW C:\\Windows\\system32\\drvstore.dll 0x0",                            \
        "LoadLibraryExW C:\\Windows\\system32\\devobj.dll 0x0",                              \
        "LoadLibraryExW C:\\Windows\\system32\\wldp.dll 0x0",                                \
        "LoadLibraryExW C:\\Windows\\system32\\cryptbase.dll 0x0"
