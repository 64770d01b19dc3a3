// Every allocation a request on the driver route makes, failed in turn: nothing
// leaks or stays open, nothing untrusted is loaded, and the request either ends
// as it does untouched or fails with the allocator's code (or, where the failed
// step is one the search passes over, ends as a search that found nothing).
#include "route_test_support.h"

#include "secure_load/loader.h"

#include <gtest/gtest.h>

namespace {

using namespace route_test;

#define STORE_NVX u"C:\\Windows\\System32\\DriverStore\\FileRepository\\display_1\\nvx.dll"

struct SweepCase {
    const char* description;
    const char16_t* request;
    void (*scene)(int device);
};

void PrintTo(const SweepCase& row, std::ostream* out) { *out << row.description; }

class AllocationFailures : public RouteScenarioTable<SweepCase> {};

TEST_P(AllocationFailures, LeakNothingAndEndAsUntouchedOrWithTheAllocatorsCode)
{
    const SweepCase& row = GetParam();
    int device = AddDisplayAdapter();
    row.scene(device);
    sim::ClearCallLog();

    std::string untouchedPath;
    DWORD untouchedCode = 0;
    HMODULE module = nullptr;
    DWORD code = 0;
    size_t reportedFailures = 0;

    size_t reached = ForEveryAllocation(
        [&] {
            size_t blocks = sim::LiveBlocks();
            sim::ClearCallLog();
            SetLastError(0xdeadbeef);
            module = LoadModuleSecure(row.request, 0);
            code = GetLastError();
            EXPECT_EQ(sim::LiveBlocks(), blocks);
        },
        [&](size_t n) {
            SCOPED_TRACE("allocation " + std::to_string(n) + " failed");
            std::string path = LoadedPath(module);
            if (n == 0) {
                untouchedPath = path;
                untouchedCode = code;
            } else if (module != nullptr) {
                EXPECT_EQ(path, untouchedPath);
            } else if (code == ERROR_NOT_ENOUGH_MEMORY) {
                ++reportedFailures;
            } else if (code == ERROR_BAD_PATHNAME) {
                // The trust test could not form the full path or a folder's
                // path: the found path counts as untrusted and is not loaded.
                EXPECT_EQ(LoadsOf(Text(row.request)), std::vector<std::string>{});
            } else {
                // A step the search passes over failed, and the search found
                // nothing: the request went on to the system directory.
                EXPECT_EQ(code, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
                std::vector<std::string> loads = LoadsOf(Text(row.request));
                ASSERT_FALSE(loads.empty());
                EXPECT_EQ(loads.back(), "LoadLibraryExW " + Text(row.request) + " 0x800");
            }
            if (n == 0 || module != nullptr) {
                if (code != untouchedCode) {
                    // The same module, reached through the system directory
                    // after a passed-over failure left the search empty-handed.
                    EXPECT_EQ(code, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
                    EXPECT_EQ(LoadsOf(Text(row.request)).back(),
                              "LoadLibraryExW " + Text(row.request) + " 0x800");
                }
            }
            EXPECT_EQ(sim::OpenRegistryKeys(), 0);
            EXPECT_EQ(sim::OpenDeviceInfoSets(), 0);
            EXPECT_EQ(sim::OpenServiceHandles(), 0);
            EXPECT_EQ(sim::OpenAdapterHandles(), 0);
            ExpectOnlyTrustedLoads();
            if (module != nullptr)
                FreeLibrary(module);
        });

    EXPECT_NE(untouchedPath, "(null)");
    EXPECT_GT(reached, 0u);
    EXPECT_GT(reportedFailures, 0u) << "no allocation failure reached the caller";
}

INSTANTIATE_TEST_SUITE_P(
    Requests, AllocationFailures,
    ::testing::Values(
        SweepCase{"found beside the loaded user-mode driver", u"nvx.dll",
                  [](int) {
                      LoadUserModeDriverFrom(Store);
                      sim::AddModule(STORE_NVX);
                  }},
        SweepCase{"found in a string list under the class key", u"nvx",
                  [](int) {
                      sim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, ClassKey, u"UserModeDriverName",
                                                  {u"C:\\Windows\\S\\nva.dll", STORE_NVX});
                      sim::AddModule(STORE_NVX);
                  }},
        SweepCase{"found as a Khronos value name", u"nvx.dll",
                  [](int) {
                      AddValueName(OpenClKey, STORE_NVX);
                      sim::AddModule(STORE_NVX);
                  }},
        SweepCase{"found among the device services", u"nvx.sys",
                  [](int device) {
                      SetDeviceService(device, u"nvx", u"\\SystemRoot\\System32\\drivers\\nvx.sys");
                      sim::AddModule(u"C:\\Windows\\system32\\drivers\\nvx.sys");
                  }},
        SweepCase{"found in the driver store fallback", u"nvx",
                  [](int device) {
                      SetDriverStoreByInf(device, Store);
                      sim::AddModule(STORE_NVX);
                  }},
        SweepCase{"nothing found: the system directory", u"nvx.dll",
                  [](int device) {
                      SetDriverStoreByInf(device, Store);
                      sim::AddModule(u"C:\\Windows\\system32\\nvx.dll");
                  }},
        SweepCase{"a bare name found: put in the system directory", u"nvx.dll",
                  [](int) {
                      AddValueName(VulkanKey, u"nvx.dll");
                      sim::AddModule(u"C:\\Windows\\system32\\nvx.dll");
                  }}));

}  // namespace
