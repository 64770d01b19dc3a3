// The vendor-0x10DE display adapter among the present devices (device setup
// functions of "Setupapi.dll"), its driver key, and the kernel driver files of
// its service and filter drivers (service control manager of "Advapi32.dll").
//
// Every platform function is reached through LateBoundSystemFunctions.
// Last-error code: GetDeviceDriverKeyPath clears it on entry and again when it
// returns a path; the other operations neither set nor clear it, so on return
// it holds whatever the platform functions they called left there.
#pragma once

#include "platform/win32.h"

// Pattern lists a device's compatible ids are searched for; index 0 is the
// only list: "PCI\VEN_10DE&CC_0300", "PCI\VEN_10DE&CC_0302". Each list is a
// sequence of NUL-terminated strings closed by an empty string.
#define DISPLAY_ID_PATTERN_LISTS 1
extern const WCHAR* const DisplayIdPatterns[DISPLAY_ID_PATTERN_LISTS];

// Registry path (under HKEY_LOCAL_MACHINE) the driver key name is appended to.
#define DEVICE_CLASS_KEY_PREFIX WSTR("SYSTEM\\CurrentControlSet\\Control\\Class\\")

// 1 when a present device (any class) matches the pattern list: *devices then
// holds the open set, which the caller destroys, and *device names the device.
// 0 otherwise: *devices is left as it was and no set stays open.
int FindDisplayDevice(int patternIndex, HDEVINFO* devices, SP_DEVINFO_DATA* device);

// 1 if one of the device's compatible ids contains a pattern of the list
// (case-sensitive substring). Expects SetupDiGetDeviceRegistryPropertyW bound.
int DeviceMatchesIdPatterns(int patternIndex, HDEVINFO devices, SP_DEVINFO_DATA* device);

// Allocated "SYSTEM\CurrentControlSet\Control\Class\<driver key>" of the
// adapter, or null.
LPWSTR GetDeviceDriverKeyPath(int patternIndex);

// Allocated file path, as the service configuration stores it, of the first
// kernel-driver service of the adapter (its service, then its upper filters,
// then its lower filters) whose file is the module; null if none.
LPWSTR FindDeviceServiceModule(LPCWSTR moduleName, int patternIndex);

// Allocated copy of the service's file path if the service is exactly a kernel
// driver and its file is the module (ModuleNamesMatch), else null.
LPWSTR GetServiceBinaryIfNamed(LPCWSTR moduleName, LPCWSTR serviceName);
