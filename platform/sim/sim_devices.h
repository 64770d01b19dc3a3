// Programming the simulated device setup functions ("Setupapi.dll"), service
// control manager ("Advapi32.dll") and kernel graphics adapters ("gdi32.dll").
//
// The default machine has no device, no service and no adapter.
//
// Last-error code, as on Windows:
//   - the device setup functions set it on every call, ERROR_SUCCESS when they
//     succeed (SetupDiEnumDeviceInfo past the last device: ERROR_NO_MORE_ITEMS;
//     a property size query: ERROR_INSUFFICIENT_BUFFER; a registry property the
//     device lacks: ERROR_INVALID_DATA; a device property it lacks: ERROR_NOT_FOUND;
//     an INF file not in the driver store: ERROR_FILE_NOT_FOUND);
//   - the service control functions set it only when they fail (a configuration
//     size query: ERROR_INSUFFICIENT_BUFFER; an unknown service:
//     ERROR_SERVICE_DOES_NOT_EXIST);
//   - the kernel graphics functions answer with an NTSTATUS and never touch it.
//
// Call log lines:
//   SetupDiGetClassDevsW 0x<flags>            SetupDiEnumDeviceInfo <index>
//   SetupDiGetDeviceRegistryPropertyW <property> size|data
//   SetupDiGetDevicePropertyW <pid> size|data SetupDiDestroyDeviceInfoList
//   SetupGetInfDriverStoreLocationW <inf> size|data
//   OpenSCManagerW 0x<access>                 OpenServiceW <name> 0x<access>
//   QueryServiceConfigW <name> size|data      CloseServiceHandle <name>|manager
//   D3DKMTEnumAdapters2 count|fill            D3DKMTQueryAdapterInfo <handle> <type>
//   D3DKMTCloseAdapter <handle>
#pragma once

#include "sim.h"

#include <string>
#include <vector>

namespace sim {

// ---- device setup
// A present device, enumerated after those added before it. Returns its number.
int AddDevice();
// A present device whose compatible ids are this list (REG_MULTI_SZ).
int AddDeviceWithCompatibleIds(const std::vector<Path>& ids);
// A registry property (SPDRP_*) of the device: exactly these bytes, this type.
void SetDeviceProperty(int device, DWORD property, DWORD type, const void* data, DWORD bytes);
// A string property, with its terminator unless terminated is false.
void SetDeviceString(int device, DWORD property, const Path& text, DWORD type = REG_SZ,
                     bool terminated = true);
// A string-list property: each string with its terminator, then one more; any type.
void SetDeviceMultiString(int device, DWORD property, const std::vector<Path>& strings,
                          DWORD type = REG_MULTI_SZ);
// The device's DEVPKEY_Device_DriverInfPath (a DEVPROP_TYPE_STRING with terminator).
void SetDeviceDriverInfPath(int device, const Path& infName);
// Where SetupGetInfDriverStoreLocationW finds an INF file (matched without case).
void SetInfDriverStoreLocation(const Path& infName, const Path& location);
// Device information sets created and not yet destroyed.
int OpenDeviceInfoSets();

// ---- services
void AddService(const Path& name, DWORD type, const Path& binaryPath);
// OpenServiceW fails for this service with the code (0: opens again).
void SetServiceOpenFailure(const Path& name, DWORD error);
// OpenSCManagerW fails with the code (0: opens again).
void SetServiceManagerFailure(DWORD error);
// Manager and service handles opened and not yet closed.
int OpenServiceHandles();

// ---- kernel graphics adapters (enumerated in the order added)
int AddAdapter(UINT handle, UINT vendorId);
// Status of the adapter's device-id query (KMTQAITYPE_PHYSICALADAPTERDEVICEIDS).
void SetAdapterDeviceIdsStatus(int adapter, NTSTATUS status);
// The driver store path the adapter answers. Written with its terminator when it
// fits the output area (else Status BUFFER_OVERFLOW); with terminated false it
// is written without one, filling at most the whole output area.
void SetAdapterDriverStorePath(int adapter, const Path& path, bool terminated = true);
// Status of the driver store path query, and the Status field it sets.
void SetAdapterDriverStoreStatus(int adapter, NTSTATUS status, UINT queryStatus);
// Statuses of D3DKMTEnumAdapters2: the counting call and the filling call.
void SetAdapterEnumerationStatus(NTSTATUS countingStatus, NTSTATUS fillingStatus);
// Adapter handles a filling D3DKMTEnumAdapters2 opened and D3DKMTCloseAdapter has not closed.
int OpenAdapterHandles();

// ---- loaded modules
// GetModuleFileNameW answers fileName for the module loaded from modulePath (a
// name the file system could not have: forward slashes, a relative path).
// GetProcAddress no longer finds the module's exports afterwards.
void SetModuleFileNameAnswer(const Path& modulePath, const Path& fileName);

// ---- failures of single calls
// The nth call (1 = the next) of the named function from now fails with the code:
// SetupDiGetClassDevsW (INVALID_HANDLE_VALUE), SetupDiEnumDeviceInfo,
// SetupDiGetDeviceRegistryPropertyW, SetupDiGetDevicePropertyW,
// SetupGetInfDriverStoreLocationW, OpenSCManagerW, OpenServiceW, QueryServiceConfigW.
void FailDeviceCall(const std::string& function, int nth, DWORD error);

// For the implementation: 0, or the code the named function's call fails with now.
DWORD TakeDeviceCallFailure(const std::string& function);

}  // namespace sim
