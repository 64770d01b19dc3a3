// The native build: the Win32 names the logic uses, declared by the project and
// implemented by the simulated Windows (platform/sim/*.cpp). Only what the logic
// needs is here; values and record layouts match the 64-bit Windows ones.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define WSTR(s) u##s

typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef char CHAR;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef uint8_t BYTE;
typedef BYTE* LPBYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef int32_t LONG;
typedef LONG LSTATUS;
typedef LONG NTSTATUS;
typedef uint32_t UINT;
typedef int BOOL;
typedef uint64_t ULONGLONG;
typedef int64_t INT_PTR;
typedef uint64_t ULONG_PTR;
typedef size_t SIZE_T;
typedef void* HANDLE;
typedef void* LPVOID;
typedef void* PVOID;
typedef void* HLOCAL;
typedef void* HWND;
typedef DWORD REGSAM;
typedef int64_t LONGLONG;

struct SimModule;
typedef SimModule* HMODULE;
typedef SimModule* HINSTANCE;
struct SimKey;
typedef SimKey* HKEY;
typedef INT_PTR(WINAPI* FARPROC)(void);

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_BAD_ARGUMENTS 160L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L

#define LPTR 0x0040u

#define DONT_RESOLVE_DLL_REFERENCES 0x00000001u
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002u
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008u
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100u
#define LOAD_LIBRARY_SEARCH_APPLICATION_DIR 0x00000200u
#define LOAD_LIBRARY_SEARCH_USER_DIRS 0x00000400u
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800u
#define LOAD_LIBRARY_SEARCH_DEFAULT_DIRS 0x00001000u

#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_DEVICE 0x00000040u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u

#define VER_MINORVERSION 0x0000001u
#define VER_MAJORVERSION 0x0000002u
#define VER_BUILDNUMBER 0x0000004u
#define VER_PLATFORMID 0x0000008u
#define VER_SERVICEPACKMINOR 0x0000010u
#define VER_SERVICEPACKMAJOR 0x0000020u
#define VER_EQUAL 1
#define VER_GREATER 2
#define VER_GREATER_EQUAL 3
#define VER_LESS 4
#define VER_LESS_EQUAL 5

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)
#define KEY_QUERY_VALUE 0x0001u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_READ 0x20019u
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u

#define CSIDL_WINDOWS 0x0024
#define CSIDL_PROGRAM_FILES 0x0026
#define CSIDL_PROGRAM_FILESX86 0x002a

struct OSVERSIONINFOEXW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};
typedef OSVERSIONINFOEXW* LPOSVERSIONINFOEXW;
static_assert(sizeof(OSVERSIONINFOEXW) == 284, "OSVERSIONINFOEXW is 284 bytes");

struct CRITICAL_SECTION {
    LONG LockCount;       // entries not yet left
    LONG Initialized;     // 1 once InitializeCriticalSection ran
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

// Kernel library
void WINAPI SetLastError(DWORD code);
DWORD WINAPI GetLastError(void);
HMODULE WINAPI LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
BOOL WINAPI FreeLibrary(HMODULE module);
HMODULE WINAPI GetModuleHandleW(LPCWSTR name);
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
ULONGLONG WINAPI VerSetConditionMask(ULONGLONG mask, DWORD typeMask, BYTE condition);
BOOL WINAPI VerifyVersionInfoW(LPOSVERSIONINFOEXW info, DWORD typeMask, ULONGLONG conditionMask);
UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size);
DWORD WINAPI GetFullPathNameW(LPCWSTR path, DWORD size, LPWSTR buffer, LPWSTR* filePart);
DWORD WINAPI GetFileAttributesW(LPCWSTR path);
HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL WINAPI LocalFree(HLOCAL block);
void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);

// ---- Device setup, service control and kernel graphics (reached only through
// LateBoundSystemFunctions; the functions themselves are not declared here).
typedef uint32_t ULONG;
typedef ULONG* PULONG;
typedef int64_t LONG_PTR;

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");

// Device information sets
typedef void* HDEVINFO;
struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
typedef SP_DEVINFO_DATA* PSP_DEVINFO_DATA;
static_assert(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA is 32 bytes on 64-bit Windows");

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};
typedef SP_DEVICE_INTERFACE_DATA* PSP_DEVICE_INTERFACE_DATA;
struct SP_DEVICE_INTERFACE_DETAIL_DATA_W {
    DWORD cbSize;
    WCHAR DevicePath[1];
};
typedef SP_DEVICE_INTERFACE_DETAIL_DATA_W* PSP_DEVICE_INTERFACE_DETAIL_DATA_W;

typedef ULONG DEVPROPTYPE;
typedef ULONG DEVPROPID;
struct DEVPROPKEY {
    GUID fmtid;
    DEVPROPID pid;
};
#define DEVPROP_TYPE_STRING 0x00000012u

#define DIGCF_DEFAULT 0x00000001u
#define DIGCF_PRESENT 0x00000002u
#define DIGCF_ALLCLASSES 0x00000004u
#define DIGCF_PROFILE 0x00000008u
#define DIGCF_DEVICEINTERFACE 0x00000010u

#define SPDRP_DEVICEDESC 0x00000000u
#define SPDRP_HARDWAREID 0x00000001u
#define SPDRP_COMPATIBLEIDS 0x00000002u
#define SPDRP_SERVICE 0x00000004u
#define SPDRP_CLASS 0x00000007u
#define SPDRP_CLASSGUID 0x00000008u
#define SPDRP_DRIVER 0x00000009u
#define SPDRP_UPPERFILTERS 0x00000011u
#define SPDRP_LOWERFILTERS 0x00000012u

#define ERROR_INVALID_FLAGS 1004L
#define ERROR_SERVICE_DOES_NOT_EXIST 1060L
#define ERROR_NOT_FOUND 1168L
#define ERROR_INVALID_USER_BUFFER 1784L

// Service control manager
struct SimServiceHandle;
typedef SimServiceHandle* SC_HANDLE;
struct QUERY_SERVICE_CONFIGW {
    DWORD dwServiceType;
    DWORD dwStartType;
    DWORD dwErrorControl;
    LPWSTR lpBinaryPathName;
    LPWSTR lpLoadOrderGroup;
    DWORD dwTagId;
    LPWSTR lpDependencies;
    LPWSTR lpServiceStartName;
    LPWSTR lpDisplayName;
};
typedef QUERY_SERVICE_CONFIGW* LPQUERY_SERVICE_CONFIGW;

#define GENERIC_READ 0x80000000u
#define SERVICE_KERNEL_DRIVER 0x00000001u
#define SERVICE_FILE_SYSTEM_DRIVER 0x00000002u
#define SERVICE_WIN32_OWN_PROCESS 0x00000010u
#define SERVICE_WIN32_SHARE_PROCESS 0x00000020u
#define SERVICE_DEMAND_START 0x00000003u
#define SERVICE_ERROR_NORMAL 0x00000001u
