// What the driver route scenarios share: a machine with the display driver's
// pieces (adapter device, class key, driver store, loaded user-mode driver),
// checks that nothing leaks and that nothing outside the trusted folders is
// ever loaded, a reading of the call log as the steps the search took, and the
// allocation-failure sweep.
#pragma once

#include "support/allocation_faults.h"
#include "support/scenario_fixture.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_devices.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace route_test {

const sim::Path DriverKeyName = u"{4d36e968-e325-11ce-bfc1-08002be10318}\\0000";
const sim::Path ClassKey =
    u"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e968-e325-11ce-bfc1-08002be10318}\\0000";
const sim::Path VulkanKey = u"SOFTWARE\\Khronos\\Vulkan\\Drivers";
const sim::Path OpenClKey = u"SOFTWARE\\Khronos\\OpenCL\\Vendors";
const sim::Path CurrentVersionKey = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
// The driver store directory of the installed display driver, and another one.
const sim::Path Store = u"C:\\Windows\\System32\\DriverStore\\FileRepository\\display_1";
const sim::Path OtherStore = u"C:\\Windows\\System32\\DriverStore\\FileRepository\\display_2";
const sim::Path InfName = u"oem12.inf";

// RegEnumValueW on a key deleted during the walk.
const DWORD KeyDeleted = 1018;

inline std::string Text(const WCHAR* text) { return text == nullptr ? "(null)" : sim::Narrow(text); }
inline std::string Text(const sim::Path& text) { return sim::Narrow(text.c_str()); }

inline void SetBuild(DWORD build)
{
    sim::SetVersion(10, 0, 0, build);
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, CurrentVersionKey, u"CurrentBuildNumber",
                           sim::Widen(std::to_string(build)));
}

// The vendor-0x10DE display adapter among the present devices, with its driver
// key; its class key exists in the registry (empty). Returns the device.
inline int AddDisplayAdapter()
{
    int device = sim::AddDeviceWithCompatibleIds(
        {u"PCI\\VEN_10DE&DEV_2484&SUBSYS_00001234&REV_A1", u"PCI\\VEN_10DE&CC_030000",
         u"PCI\\VEN_10DE&CC_0300", u"PCI\\VEN_10DE"});
    sim::SetDeviceString(device, SPDRP_DRIVER, DriverKeyName);
    sim::AddRegistryKey(HKEY_LOCAL_MACHINE, ClassKey);
    return device;
}

// The device's INF file lies in the directory: the driver store directory as
// the device setup functions tell it.
inline void SetDriverStoreByInf(int device, const sim::Path& directory)
{
    sim::AddDirectory(directory);
    sim::SetDeviceDriverInfPath(device, InfName);
    sim::SetInfDriverStoreLocation(InfName, directory + u"\\" + InfName);
}

// The user-mode driver "nvldumdx.dll" loaded from the directory, as the
// display driver's own modules are once a graphics API has started.
inline void LoadUserModeDriverFrom(const sim::Path& directory)
{
    sim::AddModule(directory + u"\\nvldumdx.dll");
    ASSERT_NE(LoadLibraryExW((directory + u"\\nvldumdx.dll").c_str(), nullptr, 0), nullptr);
}

inline void SetClassValue(const sim::Path& name, const sim::Path& text, DWORD type = REG_SZ)
{
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, ClassKey, name, text, type);
}

// A value name under a Khronos list key (the data does not matter).
inline void AddValueName(const sim::Path& key, const sim::Path& name)
{
    DWORD zero = 0;
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, &zero, sizeof zero);
}

// The kernel-driver service behind the device's function driver.
inline void SetDeviceService(int device, const sim::Path& service, const sim::Path& binaryPath)
{
    sim::SetDeviceString(device, SPDRP_SERVICE, service);
    sim::AddService(service, SERVICE_KERNEL_DRIVER, binaryPath);
}

inline std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The loads whose name contains the text (ASCII case folded), as logged.
inline std::vector<std::string> LoadsOf(const std::string& text)
{
    std::vector<std::string> found;
    for (const std::string& line : sim::CallsStartingWith("LoadLibraryExW "))
        if (Lower(line).find(Lower(text)) != std::string::npos)
            found.push_back(line);
    return found;
}

// "C:\a\.\b\..\c" as "C:\a\c", slashes as backslashes.
inline std::string NormalPath(const std::string& path)
{
    std::string root = path.substr(0, 2);
    std::vector<std::string> parts;
    std::string part;
    std::string rest = path.substr(2) + "\\";
    for (char c : rest) {
        if (c == '\\' || c == '/') {
            if (part == "..") {
                if (!parts.empty())
                    parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            part.clear();
        } else {
            part += c;
        }
    }
    std::string out = root;
    for (const std::string& p : parts)
        out += "\\" + p;
    return out;
}

// Every load the process made: a path lies inside C:\Windows, C:\Program Files
// or C:\Program Files (x86); a bare name is searched in the system directory
// alone (LOAD_LIBRARY_SEARCH_SYSTEM32).
inline void ExpectOnlyTrustedLoads()
{
    static const char* const trusted[] = {"c:\\windows\\", "c:\\program files\\",
                                          "c:\\program files (x86)\\"};
    for (const std::string& line : sim::CallsStartingWith("LoadLibraryExW ")) {
        size_t lastSpace = line.rfind(' ');
        std::string name = line.substr(15, lastSpace - 15);
        unsigned long flags = std::stoul(line.substr(lastSpace + 1), nullptr, 16);
        if (name.find_first_of("\\/") == std::string::npos) {
            EXPECT_NE(flags & LOAD_LIBRARY_SEARCH_SYSTEM32, 0u)
                << "bare name loaded outside the system directory: " << line;
            continue;
        }
        bool inside = false;
        std::string normal = Lower(NormalPath(name));
        for (const char* folder : trusted)
            inside = inside || normal.compare(0, std::string(folder).size(), folder) == 0;
        EXPECT_TRUE(inside) << "loaded from outside the trusted folders: " << line;
    }
}

// The search's steps in the order the call log shows them: "services" (the
// device's service property), "values" (UserModeDriverName), "khronos" (the
// Vulkan list key), "support" (DriverSupportModules).
inline std::vector<std::string> StepsTaken()
{
    std::vector<std::string> steps;
    for (const std::string& line : sim::CallLog()) {
        if (line == "SetupDiGetDeviceRegistryPropertyW 4 size")
            steps.push_back("services");
        else if (line == "RegQueryValueExW UserModeDriverName size")
            steps.push_back("values");
        else if (line == "RegOpenKeyExW " + Text(VulkanKey) + " 0x20019")
            steps.push_back("khronos");
        else if (line == "RegQueryValueExW DriverSupportModules size")
            steps.push_back("support");
    }
    return steps;
}

inline bool Logged(const std::string& line)
{
    for (const std::string& l : sim::CallLog())
        if (l == line)
            return true;
    return false;
}

// Nothing leaks, nothing stays open, nothing untrusted is loaded.
// The shared scenario checks, and that nothing outside the trusted folders was loaded.
template <typename Base>
class RouteFixture : public test_support::ScenarioFixture<Base> {
protected:
    void TearDown() override
    {
        test_support::ScenarioFixture<Base>::TearDown();
        ExpectOnlyTrustedLoads();
    }
};

using RouteScenario = RouteFixture<::testing::Test>;
template <typename Row>
using RouteScenarioTable = RouteFixture<::testing::TestWithParam<Row>>;

// The file name of a loaded module, "(null)" for none.
inline std::string LoadedPath(HMODULE module)
{
    WCHAR path[MAX_PATH] = {};
    if (module == nullptr)
        return "(null)";
    GetModuleFileNameW(module, path, MAX_PATH);
    return Text(path);
}

using test_support::ForEveryAllocation;

}  // namespace route_test
