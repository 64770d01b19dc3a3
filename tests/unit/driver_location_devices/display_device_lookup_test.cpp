// Finding the display adapter among the present devices, and its driver key path.
#include "devices_test_support.h"

#include "driver_location/display_device.h"
#include "secure_load/late_bound.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

using namespace devices_test;

namespace {

const sim::Path Setupapi = u"C:\\Windows\\system32\\Setupapi.dll";

// FindDisplayDevice for pattern list 0; the found set, if any, is destroyed.
int FindAndRelease(int patternIndex = 0)
{
    HDEVINFO devices = nullptr;
    SP_DEVINFO_DATA device = {};
    int found = FindDisplayDevice(patternIndex, &devices, &device);
    if (found)
        LateBoundSystemFunctions.SetupDiDestroyDeviceInfoList(devices);
    return found;
}

// ---- which devices match

struct IdCase {
    const char* name;
    std::vector<sim::Path> ids;  // as a REG_MULTI_SZ list
    int matches;
};

std::ostream& operator<<(std::ostream& out, const IdCase& c) { return out << c.name; }

class CompatibleIds : public DevicesScenario, public ::testing::WithParamInterface<IdCase> {};

TEST_P(CompatibleIds, MatchWhenAPatternOccursInAnId)
{
    const IdCase& c = GetParam();
    sim::AddDeviceWithCompatibleIds(c.ids);
    SetLastError(0xdeadbeef);

    EXPECT_EQ(FindAndRelease(), c.matches);
    // Left by the platform: the ids' read, or the set's destruction, succeeded last.
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(sim::CountCalls("SetupDiGetDeviceRegistryPropertyW 2 size"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, CompatibleIds,
    ::testing::Values(
        IdCase{"VgaClassWithProgrammingInterface", {u"PCI\\VEN_10DE&CC_030000"}, 1},
        IdCase{"VgaClassAlone", {u"PCI\\VEN_10DE&CC_0300"}, 1},
        IdCase{"ThreeDControllerClass", {u"PCI\\VEN_10DE&CC_030200"}, 1},
        IdCase{"LowerCaseIdDoesNotMatch", {u"pci\\ven_10de&cc_030000"}, 0},
        IdCase{"XgaClassDoesNotMatch", {u"PCI\\VEN_10DE&CC_030100"}, 0},
        IdCase{"AudioFunctionDoesNotMatch", {u"PCI\\VEN_10DE&CC_040300"}, 0},
        IdCase{"OtherVendorDoesNotMatch", {u"PCI\\VEN_1002&CC_030000"}, 0},
        IdCase{"PatternInsideALongerId", {u"XPCI\\VEN_10DE&CC_0300Y"}, 1},
        IdCase{"LaterIdOfTheListMatches",
               {u"PCI\\VEN_10DE&DEV_2484&REV_A1", u"PCI\\VEN_10DE", u"PCI\\VEN_10DE&CC_030000"}, 1},
        IdCase{"TruncatedPatternDoesNotMatch", {u"PCI\\VEN_10DE&CC_030"}, 0},
        IdCase{"EmptyListDoesNotMatch", {}, 0}),
    [](const ::testing::TestParamInfo<IdCase>& info) { return std::string(info.param.name); });

TEST_F(DevicesScenario, CompatibleIdsAreWalkedWhateverTheirType)
{
    int device = sim::AddDevice();
    sim::SetDeviceString(device, SPDRP_COMPATIBLEIDS, DisplayCompatibleId, REG_SZ);

    EXPECT_EQ(FindAndRelease(), 1);
}

TEST_F(DevicesScenario, CompatibleIdsStoredWithoutTerminatorsAreClosedByTheSlack)
{
    int device = sim::AddDevice();
    sim::SetDeviceString(device, SPDRP_COMPATIBLEIDS, u"PCI\\VEN_10DE&CC_0300", REG_MULTI_SZ,
                         /*terminated=*/false);
    int other = sim::AddDevice();
    sim::SetDeviceString(other, SPDRP_COMPATIBLEIDS, u"PCI\\VEN_8086&CC_0300", REG_MULTI_SZ, false);

    HDEVINFO devices = nullptr;
    SP_DEVINFO_DATA record = {};
    ASSERT_EQ(FindDisplayDevice(0, &devices, &record), 1);
    EXPECT_EQ(record.DevInst, 1u);  // the first device
    LateBoundSystemFunctions.SetupDiDestroyDeviceInfoList(devices);
}

TEST_F(DevicesScenario, IdsAfterTheEmptyStringThatEndsTheListAreNotLookedAt)
{
    int device = sim::AddDevice();
    const sim::Path ids = sim::Path(u"PCI\\VEN_8086&CC_0300") + u'\0' + u'\0' +
                          u"PCI\\VEN_10DE&CC_0300" + u'\0' + u'\0';
    sim::SetDeviceProperty(device, SPDRP_COMPATIBLEIDS, REG_MULTI_SZ, ids.data(),
                           static_cast<DWORD>(ids.size() * sizeof(WCHAR)));

    EXPECT_EQ(FindAndRelease(), 0);
}

TEST_F(DevicesScenario, DeviceWithoutCompatibleIdsIsPassedOver)
{
    sim::AddDevice();
    AddDisplayAdapterDevice();

    HDEVINFO devices = nullptr;
    SP_DEVINFO_DATA record = {};
    ASSERT_EQ(FindDisplayDevice(0, &devices, &record), 1);
    EXPECT_EQ(record.DevInst, 2u);
    EXPECT_EQ(record.cbSize, 32u);
    LateBoundSystemFunctions.SetupDiDestroyDeviceInfoList(devices);
}

// ---- the enumeration

TEST_F(DevicesScenario, NoMatchingDeviceLeavesNoSetOpenAndNoPath)
{
    sim::AddDeviceWithCompatibleIds({OtherVendorId});
    sim::AddDeviceWithCompatibleIds({u"PCI\\VEN_10DE&CC_040300"});
    HDEVINFO untouched = reinterpret_cast<HDEVINFO>(static_cast<ULONG_PTR>(0x1234));
    HDEVINFO devices = untouched;
    SP_DEVINFO_DATA record = {};

    SetLastError(0xdeadbeef);
    EXPECT_EQ(FindDisplayDevice(0, &devices, &record), 0);
    EXPECT_EQ(devices, untouched);
    EXPECT_EQ(sim::OpenDeviceInfoSets(), 0);
    // Left by the platform: the set's destruction succeeded last.
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(sim::CallsStartingWith("SetupDiEnumDeviceInfo"),
              (std::vector<std::string>{"SetupDiEnumDeviceInfo 0", "SetupDiEnumDeviceInfo 1",
                                        "SetupDiEnumDeviceInfo 2"}));
    EXPECT_EQ(sim::CountCalls("SetupDiGetClassDevsW 0x6"), 1u);
    EXPECT_EQ(sim::CountCalls("SetupDiDestroyDeviceInfoList"), 1u);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetDeviceDriverKeyPath(0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));

    SetLastError(0xdeadbeef);
    EXPECT_EQ(FindDeviceServiceModule(u"nvx.sys", 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(sim::CountCalls("SetupDiGetDeviceRegistryPropertyW 9"), 0u);
    EXPECT_EQ(sim::CountCalls("SetupDiGetDeviceRegistryPropertyW 4"), 0u);
}

TEST_F(DevicesScenario, FirstOfTwoMatchingDevicesWins)
{
    sim::AddDeviceWithCompatibleIds({OtherVendorId});
    AddDisplayAdapterDevice(u"{4d36e968-e325-11ce-bfc1-08002be10318}\\0001");
    AddDisplayAdapterDevice(u"{4d36e968-e325-11ce-bfc1-08002be10318}\\0002");

    LPWSTR path = GetDeviceDriverKeyPath(0);
    EXPECT_EQ(Text(path),
              "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e968-e325-11ce-bfc1-08002be10318}\\0001");
    LocalFree(path);
    // The walk stopped at the first match.
    EXPECT_EQ(sim::CountCalls("SetupDiEnumDeviceInfo 2"), 0u);
}

TEST_F(DevicesScenario, EnumerationFailureGivesNothing)
{
    AddDisplayAdapterDevice();
    sim::FailDeviceCall("SetupDiGetClassDevsW", 1, ERROR_INVALID_PARAMETER);
    HDEVINFO devices = nullptr;
    SP_DEVINFO_DATA record = {};

    SetLastError(0xdeadbeef);
    EXPECT_EQ(FindDisplayDevice(0, &devices, &record), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(sim::CountCalls("SetupDiEnumDeviceInfo"), 0u);
    EXPECT_EQ(sim::CountCalls("SetupDiDestroyDeviceInfoList"), 0u);
}

TEST_F(DevicesScenario, PatternIndexOtherThanZeroSelectsNoList)
{
    AddDisplayAdapterDevice();
    sim::AddDeviceWithCompatibleIds({OtherVendorId});

    for (int index : {1, -1}) {
        SCOPED_TRACE(index);
        sim::ClearCallLog();
        EXPECT_EQ(FindAndRelease(index), 0);
        // Every device is walked, none is asked for its ids.
        EXPECT_EQ(sim::CountCalls("SetupDiEnumDeviceInfo"), 3u);
        EXPECT_EQ(sim::CountCalls("SetupDiGetDeviceRegistryPropertyW"), 0u);

        sim::ClearCallLog();
        SetLastError(0xdeadbeef);
        EXPECT_EQ(GetDeviceDriverKeyPath(index), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));  // cleared on entry
        EXPECT_EQ(sim::CountCalls("SetupDiGetClassDevsW"), 0u);

        EXPECT_EQ(FindDeviceServiceModule(u"nvx.sys", index), nullptr);
    }
}

// ---- late binding

TEST_F(DevicesScenario, BindsTheSetupFunctionsInOrderAndStopsAtTheFirstMissing)
{
    AddDisplayAdapterDevice();
    sim::RemoveExport(Setupapi, "SetupDiGetDeviceInterfaceDetailW");
    HDEVINFO devices = nullptr;
    SP_DEVINFO_DATA record = {};

    SetLastError(0xdeadbeef);
    EXPECT_EQ(FindDisplayDevice(0, &devices, &record), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(sim::CallsStartingWith("GetProcAddress Setupapi.dll"),
              (std::vector<std::string>{
                  "GetProcAddress Setupapi.dll SetupDiGetClassDevsW",
                  "GetProcAddress Setupapi.dll SetupDiEnumDeviceInfo",
                  "GetProcAddress Setupapi.dll SetupDiGetDeviceRegistryPropertyW",
                  "GetProcAddress Setupapi.dll SetupDiGetDeviceInterfaceDetailW"}));
    EXPECT_EQ(sim::CountCalls("SetupDiGetClassDevsW"), 0u);

    // The missing function is looked up again at the next need; the found ones are kept.
    sim::ClearCallLog();
    EXPECT_EQ(FindDisplayDevice(0, &devices, &record), 0);
    EXPECT_EQ(sim::CallsStartingWith("GetProcAddress Setupapi.dll"),
              (std::vector<std::string>{
                  "GetProcAddress Setupapi.dll SetupDiGetDeviceInterfaceDetailW"}));
}

TEST_F(DevicesScenario, DriverKeyPathBindsItsOwnFunctionsFirstAndNeverCallsTheInterfaceDetail)
{
    AddDisplayAdapterDevice();

    LPWSTR path = GetDeviceDriverKeyPath(0);
    ASSERT_NE(path, nullptr);
    LocalFree(path);
    EXPECT_EQ(sim::CallsStartingWith("LoadLibraryExW Setupapi.dll"),
              (std::vector<std::string>{"LoadLibraryExW Setupapi.dll 0x800"}));
    EXPECT_EQ(sim::CallsStartingWith("GetProcAddress Setupapi.dll"),
              (std::vector<std::string>{
                  "GetProcAddress Setupapi.dll SetupDiGetDeviceRegistryPropertyW",
                  "GetProcAddress Setupapi.dll SetupDiDestroyDeviceInfoList",
                  "GetProcAddress Setupapi.dll SetupDiGetClassDevsW",
                  "GetProcAddress Setupapi.dll SetupDiEnumDeviceInfo",
                  "GetProcAddress Setupapi.dll SetupDiGetDeviceInterfaceDetailW"}));
    EXPECT_EQ(sim::CountCalls("SetupDiGetDeviceInterfaceDetailW"), 0u);
}

TEST_F(DevicesScenario, MissingSetupLibraryIsTriedAgainAtTheNextNeed)
{
    AddDisplayAdapterDevice();
    sim::RemoveFile(Setupapi);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetDeviceDriverKeyPath(0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(FindDeviceServiceModule(u"nvx.sys", 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(sim::CountCalls("LoadLibraryExW Setupapi.dll"), 2u);
}

// ---- the driver key path

struct DriverKeyCase {
    const char* name;
    sim::Path stored;
    bool terminated;
    std::string expected;
};

std::ostream& operator<<(std::ostream& out, const DriverKeyCase& c) { return out << c.name; }

class DriverKeys : public DevicesScenario, public ::testing::WithParamInterface<DriverKeyCase> {};

TEST_P(DriverKeys, AreAppendedToTheClassKeyPath)
{
    const DriverKeyCase& c = GetParam();
    int device = AddDisplayAdapterDevice();
    sim::SetDeviceString(device, SPDRP_DRIVER, c.stored, REG_SZ, c.terminated);

    SetLastError(0xdeadbeef);
    LPWSTR path = GetDeviceDriverKeyPath(0);
    EXPECT_EQ(Text(path), c.expected);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    LocalFree(path);
}

INSTANTIATE_TEST_SUITE_P(
    Names, DriverKeys,
    ::testing::Values(
        DriverKeyCase{"Ordinary", DisplayDriverKey, true,
                      "SYSTEM\\CurrentControlSet\\Control\\Class\\"
                      "{4d36e968-e325-11ce-bfc1-08002be10318}\\0000"},
        DriverKeyCase{"EmptyNameGivesThePrefixAlone", u"", true,
                      "SYSTEM\\CurrentControlSet\\Control\\Class\\"},
        DriverKeyCase{"StoredWithoutTerminator", DisplayDriverKey, false,
                      "SYSTEM\\CurrentControlSet\\Control\\Class\\"
                      "{4d36e968-e325-11ce-bfc1-08002be10318}\\0000"},
        DriverKeyCase{"LeadingBackslashIsKept", u"\\0000", true,
                      "SYSTEM\\CurrentControlSet\\Control\\Class\\\\0000"}),
    [](const ::testing::TestParamInfo<DriverKeyCase>& info) { return std::string(info.param.name); });

TEST_F(DevicesScenario, DriverKeyOfAnOddByteCountIsReadWithinItsBlock)
{
    int device = AddDisplayAdapterDevice();
    const char bytes[] = {'0', 0, '1', 0, '2'};  // two characters and half of a third
    sim::SetDeviceProperty(device, SPDRP_DRIVER, REG_SZ, bytes, sizeof bytes);

    LPWSTR path = GetDeviceDriverKeyPath(0);
    EXPECT_EQ(Text(path), "SYSTEM\\CurrentControlSet\\Control\\Class\\012");
    LocalFree(path);
}

TEST_F(DevicesScenario, MissingDriverKeyGivesNullAndDestroysTheSet)
{
    int device = sim::AddDeviceWithCompatibleIds({DisplayCompatibleId});
    (void)device;

    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetDeviceDriverKeyPath(0), nullptr);
    EXPECT_EQ(sim::CountCalls("SetupDiGetDeviceRegistryPropertyW 9 size"), 1u);
    EXPECT_EQ(sim::CountCalls("SetupDiGetDeviceRegistryPropertyW 9 data"), 0u);
    EXPECT_EQ(sim::CountCalls("SetupDiDestroyDeviceInfoList"), 1u);
}

TEST_F(DevicesScenario, FailedDriverKeyReadGivesNull)
{
    AddDisplayAdapterDevice();
    // The compatible ids take two calls, the driver key's size query the third;
    // its read, the fourth, fails.
    sim::FailDeviceCall("SetupDiGetDeviceRegistryPropertyW", 4, ERROR_INVALID_DATA);

    EXPECT_EQ(GetDeviceDriverKeyPath(0), nullptr);
    EXPECT_EQ(sim::CountCalls("SetupDiGetDeviceRegistryPropertyW 9 data"), 1u);
}

TEST_F(DevicesScenario, DriverKeyPathFreesEverythingWhenAnyAllocationFails)
{
    AddDisplayAdapterDevice();
    const std::string expected = "SYSTEM\\CurrentControlSet\\Control\\Class\\"
                                 "{4d36e968-e325-11ce-bfc1-08002be10318}\\0000";
    LPWSTR path = nullptr;

    size_t reached = ForEveryAllocation(
        [&] {
            SetLastError(0xdeadbeef);
            path = GetDeviceDriverKeyPath(0);
        },
        [&](size_t n) {
            SCOPED_TRACE(n);
            if (n == 0)
                EXPECT_EQ(Text(path), expected);
            else
                EXPECT_EQ(path, nullptr);
            LocalFree(path);
            ExpectNothingLeft();
        });
    EXPECT_EQ(reached, 3u);  // compatible ids, driver key, joined path
}

}  // namespace
