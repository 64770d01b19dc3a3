// Shapes of the system functions that the loader reaches through
// LateBoundSystemFunctions (GetProcAddress on a library loaded from the system
// directory), never through an import library. Same declarations in both builds.
#pragma once

typedef LSTATUS(WINAPI* RegOpenKeyExWFn)(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access,
                                         HKEY* result);
typedef LSTATUS(WINAPI* RegQueryValueExWFn)(HKEY key, LPCWSTR valueName, LPDWORD reserved,
                                            LPDWORD type, LPBYTE data, LPDWORD dataSize);
typedef LSTATUS(WINAPI* RegEnumValueWFn)(HKEY key, DWORD index, LPWSTR valueName,
                                         LPDWORD valueNameChars, LPDWORD reserved, LPDWORD type,
                                         LPBYTE data, LPDWORD dataSize);
typedef LSTATUS(WINAPI* RegCloseKeyFn)(HKEY key);

typedef LONG(WINAPI* SHGetFolderPathWFn)(HWND owner, int csidl, HANDLE token, DWORD flags,
                                         LPWSTR path);

// Kernel graphics records: declared by the driver-location code that uses them
// (driver_location/kernel_graphics_records.h); only pointers to them appear here.
struct D3DKMT_ENUMADAPTERS2;
struct D3DKMT_QUERYADAPTERINFO;
struct D3DKMT_CLOSEADAPTER;

// "Setupapi.dll": device information sets and device properties.
typedef HDEVINFO(WINAPI* SetupDiGetClassDevsWFn)(const GUID* classGuid, LPCWSTR enumerator,
                                                 HWND parent, DWORD flags);
typedef BOOL(WINAPI* SetupDiEnumDeviceInfoFn)(HDEVINFO devices, DWORD memberIndex,
                                              SP_DEVINFO_DATA* device);
typedef BOOL(WINAPI* SetupDiGetDeviceRegistryPropertyWFn)(HDEVINFO devices, SP_DEVINFO_DATA* device,
                                                          DWORD property, DWORD* dataType,
                                                          BYTE* buffer, DWORD bufferBytes,
                                                          DWORD* requiredBytes);
typedef BOOL(WINAPI* SetupDiGetDeviceInterfaceDetailWFn)(
    HDEVINFO devices, SP_DEVICE_INTERFACE_DATA* deviceInterface,
    SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detailBytes, DWORD* requiredBytes,
    SP_DEVINFO_DATA* device);
typedef BOOL(WINAPI* SetupDiDestroyDeviceInfoListFn)(HDEVINFO devices);
typedef BOOL(WINAPI* SetupDiGetDevicePropertyWFn)(HDEVINFO devices, SP_DEVINFO_DATA* device,
                                                  const DEVPROPKEY* key, DEVPROPTYPE* type,
                                                  BYTE* buffer, DWORD bufferBytes,
                                                  DWORD* requiredBytes, DWORD flags);
// The alternate platform record is never passed (always null).
typedef BOOL(WINAPI* SetupGetInfDriverStoreLocationWFn)(LPCWSTR infName, void* alternatePlatform,
                                                        LPCWSTR localeName, LPWSTR buffer,
                                                        DWORD bufferChars, DWORD* requiredChars);

// "Advapi32.dll": the service control manager.
typedef SC_HANDLE(WINAPI* OpenSCManagerWFn)(LPCWSTR machineName, LPCWSTR databaseName,
                                            DWORD access);
typedef SC_HANDLE(WINAPI* OpenServiceWFn)(SC_HANDLE manager, LPCWSTR serviceName, DWORD access);
typedef BOOL(WINAPI* QueryServiceConfigWFn)(SC_HANDLE service, QUERY_SERVICE_CONFIGW* config,
                                            DWORD configBytes, DWORD* neededBytes);
typedef BOOL(WINAPI* CloseServiceHandleFn)(SC_HANDLE handle);

// "gdi32.dll": the kernel graphics adapter interface.
typedef NTSTATUS(WINAPI* D3DKMTEnumAdapters2Fn)(D3DKMT_ENUMADAPTERS2* adapters);
typedef NTSTATUS(WINAPI* D3DKMTQueryAdapterInfoFn)(const D3DKMT_QUERYADAPTERINFO* query);
typedef NTSTATUS(WINAPI* D3DKMTCloseAdapterFn)(const D3DKMT_CLOSEADAPTER* adapter);
