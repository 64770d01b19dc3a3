// Shared scenery of the display device, service and driver directory tests: a
// machine with a vendor-0x10DE display adapter device, leak checks, and the
// allocation-failure sweep.
#pragma once

#include "support/allocation_faults.h"
#include "support/scenario_fixture.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_devices.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>

namespace devices_test {

const sim::Path ClassKeyPrefix = u"SYSTEM\\CurrentControlSet\\Control\\Class\\";
const sim::Path DisplayDriverKey = u"{4d36e968-e325-11ce-bfc1-08002be10318}\\0000";
const sim::Path DisplayCompatibleId = u"PCI\\VEN_10DE&CC_030000";
const sim::Path OtherVendorId = u"PCI\\VEN_8086&CC_030000";

inline std::string Text(const WCHAR* text) { return sim::Narrow(text); }
inline std::string Text(const sim::Path& text) { return sim::Narrow(text.c_str()); }

// A present device whose compatible ids include the vendor-0x10DE VGA class id,
// with a driver key.
inline int AddDisplayAdapterDevice(const sim::Path& driverKey = DisplayDriverKey)
{
    int device = sim::AddDeviceWithCompatibleIds(
        {u"PCI\\VEN_10DE&DEV_2484&SUBSYS_00001234&REV_A1", DisplayCompatibleId,
         u"PCI\\VEN_10DE&CC_0300", u"PCI\\VEN_10DE", u"PCI\\CC_030000"});
    sim::SetDeviceString(device, SPDRP_DRIVER, driverKey);
    return device;
}

// Every scenario checks at its end that nothing it caused stays allocated or open.
using DevicesScenario = test_support::ScenarioFixture<::testing::Test>;

using test_support::ForEveryAllocation;

}  // namespace devices_test
