// The Windows build-number test and the registry reader it shares with the
// driver route.
#include "secure_load/late_bound.h"
#include "secure_load/loader.h"
#include "secure_load/loader_state.h"

DWORD CachedBuildNumber = 0;

#define CURRENT_VERSION_KEY WSTR("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion")
#define CURRENT_BUILD_NUMBER_VALUE WSTR("CurrentBuildNumber")

// A failure that must not read as success: the last-error code, or the given
// code when the platform left none.
static LONG FailureCode(LONG fallback)
{
    DWORD code = GetLastError();
    return code != ERROR_SUCCESS ? static_cast<LONG>(code) : fallback;
}

int PlatformBuildIsAtLeast(DWORD buildNumber)
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    version.dwBuildNumber = buildNumber;
    ULONGLONG condition = VerSetConditionMask(0, VER_BUILDNUMBER, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&version, VER_BUILDNUMBER, condition) ? 1 : 0;
}

// Decimal digits up to the terminator; 0 for anything else (an empty string, a
// character that is not a digit, or a number too large for 32 bits).
static DWORD ParseBuildNumber(const WCHAR* text)
{
    DWORD number = 0;
    for (; *text != 0; ++text) {
        if (*text < '0' || *text > '9')
            return 0;
        DWORD digit = static_cast<DWORD>(*text - '0');
        if (number > (0xFFFFFFFFu - digit) / 10)
            return 0;
        number = number * 10 + digit;
    }
    return number;
}

// 1 if the running build is at least buildNumber, else 0.
// A yes from the platform stands and is not cached; a no is checked against the
// registry's "CurrentBuildNumber", whose parsed number is cached for good. When
// the registry cannot be read or holds no number, the answer is 0 and the next
// call asks again. Sets no last-error code of its own.
int IsBuildAtLeast(DWORD buildNumber)
{
    LateBoundSystemFunctionTable& api = LateBoundSystemFunctions;
    HKEY key = nullptr;
    DWORD type = 0;
    BYTE* data = nullptr;
    LONG status = 0;

    if (CachedBuildNumber != 0)
        return CachedBuildNumber >= buildNumber;
    if (PlatformBuildIsAtLeast(buildNumber))
        return 1;

    if (!BindSystemLibrary(&api.Advapi32, ADVAPI32_LIBRARY) ||
        !BindSystemFunction(api.Advapi32, &api.RegOpenKeyExW, "RegOpenKeyExW") ||
        !BindSystemFunction(api.Advapi32, &api.RegCloseKey, "RegCloseKey"))
        goto done;
    if (api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        goto done;
    status = ReadRegistryValue(key, CURRENT_BUILD_NUMBER_VALUE, &type, &data);
    api.RegCloseKey(key);
    if (status == ERROR_SUCCESS && type == REG_SZ && data != nullptr)
        CachedBuildNumber = ParseBuildNumber(reinterpret_cast<const WCHAR*>(data));

done:
    LocalFree(data);
    return CachedBuildNumber >= buildNumber;
}

// Reads one registry value into a zero-filled block that the caller frees with
// LocalFree. Returns a Windows error code, ERROR_SUCCESS when read.
// The caller sets *type to 0 and *data to null first: a value that holds no data
// gives ERROR_SUCCESS and writes neither. *type is written only by the second
// query. Strings get zero slack after the data (2 bytes for REG_SZ and
// REG_EXPAND_SZ, 4 for REG_MULTI_SZ), so they end within the block even when the
// stored value has no terminator of its own. Sets no last-error code.
LONG ReadRegistryValue(HKEY key, LPCWSTR valueName, DWORD* type, BYTE** data)
{
    LateBoundSystemFunctionTable& api = LateBoundSystemFunctions;
    DWORD valueType = 0;
    DWORD size = 0;
    SIZE_T slack = 0;
    BYTE* buffer = nullptr;
    LONG status;

    if (!BindSystemLibrary(&api.Advapi32, ADVAPI32_LIBRARY) ||
        !BindSystemFunction(api.Advapi32, &api.RegQueryValueExW, "RegQueryValueExW"))
        return FailureCode(ERROR_MOD_NOT_FOUND);

    status = api.RegQueryValueExW(key, valueName, nullptr, &valueType, nullptr, &size);
    if (status != ERROR_SUCCESS)
        return status;
    if (size == 0)
        return ERROR_SUCCESS;

    slack = TerminatorSlack(valueType, size);
    buffer = static_cast<BYTE*>(LocalAlloc(LPTR, static_cast<SIZE_T>(size) + slack));
    if (buffer == nullptr)
        return FailureCode(ERROR_NOT_ENOUGH_MEMORY);
    *data = buffer;

    // The size of the first query, not the block's: the slack stays zero.
    status = api.RegQueryValueExW(key, valueName, nullptr, type, buffer, &size);
    // A value that became a type needing more terminators than the block was
    // sized for changed in between, like one that grew.
    if (status == ERROR_SUCCESS && TerminatorSlack(*type, size) > slack)
        status = ERROR_MORE_DATA;
    if (status != ERROR_SUCCESS) {
        LocalFree(buffer);
        *data = nullptr;
        return status;
    }
    return ERROR_SUCCESS;
}

SIZE_T TerminatorSlack(DWORD type, DWORD size)
{
    SIZE_T slack = 0;
    if (type == REG_SZ || type == REG_EXPAND_SZ)
        slack = 2;
    else if (type == REG_MULTI_SZ)
        slack = 4;
    // A string of an odd byte count gets one more zero byte, so that its last
    // wide character and the terminators lie wholly inside the block.
    if (slack != 0 && (size & 1) != 0)
        slack++;
    return slack;
}
