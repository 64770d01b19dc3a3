// The simulated service control manager (also exported by "Advapi32.dll"):
// services with their type and binary path, handles counted for leak checks.
// As on Windows, these functions set the last-error code only when they fail.
#include "sim_devices.h"
#include "world.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

struct SimServiceHandle {
    bool isManager;
    sim::Path name;  // the service's, for a service handle
};

namespace sim {

namespace {

struct Service {
    Path name;
    DWORD type;
    Path binaryPath;
    DWORD openFailure;
};

struct ServiceControl {
    std::vector<Service> services;
    DWORD managerFailure = 0;
    std::set<SimServiceHandle*> openHandles;
};

}  // namespace

static ServiceControl& Services()
{
    static ServiceControl* control = new ServiceControl();
    return *control;
}

static Service* FindService(const Path& name)
{
    for (Service& s : Services().services)
        if (Fold(s.name) == Fold(name))
            return &s;
    return nullptr;
}

void AddService(const Path& name, DWORD type, const Path& binaryPath)
{
    Service* existing = FindService(name);
    if (existing != nullptr) {
        existing->type = type;
        existing->binaryPath = binaryPath;
        return;
    }
    Services().services.push_back(Service{name, type, binaryPath, 0});
}

void SetServiceOpenFailure(const Path& name, DWORD error)
{
    Service* service = FindService(name);
    if (service == nullptr) {
        std::fprintf(stderr, "simulated Windows: no service %s\n", Narrow(name.c_str()).c_str());
        std::abort();
    }
    service->openFailure = error;
}

void SetServiceManagerFailure(DWORD error) { Services().managerFailure = error; }

int OpenServiceHandles() { return static_cast<int>(Services().openHandles.size()); }

static SimServiceHandle* LiveHandle(SC_HANDLE handle)
{
    return Services().openHandles.count(handle) != 0 ? handle : nullptr;
}

static SC_HANDLE WINAPI SimOpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD access)
{
    Log("OpenSCManagerW " + Hex(access));
    DWORD error = TakeDeviceCallFailure("OpenSCManagerW");
    if (error == 0)
        error = Services().managerFailure;
    if (error == 0 && (machineName != nullptr || databaseName != nullptr))
        error = ERROR_INVALID_PARAMETER;  // only the local machine's active database is simulated
    if (error != 0) {
        TheWorld().lastError = error;
        return nullptr;
    }
    SimServiceHandle* manager = new SimServiceHandle{true, Path()};
    Services().openHandles.insert(manager);
    return manager;
}

static SC_HANDLE WINAPI SimOpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD access)
{
    Log("OpenServiceW " + Narrow(serviceName) + " " + Hex(access));
    DWORD error = TakeDeviceCallFailure("OpenServiceW");
    Service* service = nullptr;
    if (error == 0) {
        SimServiceHandle* live = LiveHandle(manager);
        if (live == nullptr || !live->isManager)
            error = ERROR_INVALID_HANDLE;
        else if (serviceName == nullptr)
            error = ERROR_INVALID_PARAMETER;
        else if ((service = FindService(serviceName)) == nullptr)
            error = ERROR_SERVICE_DOES_NOT_EXIST;
        else
            error = service->openFailure;
    }
    if (error != 0) {
        TheWorld().lastError = error;
        return nullptr;
    }
    SimServiceHandle* handle = new SimServiceHandle{false, service->name};
    Services().openHandles.insert(handle);
    return handle;
}

static size_t CharsWithTerminator(const Path& text) { return text.size() + 1; }

static BOOL WINAPI SimQueryServiceConfigW(SC_HANDLE handle, QUERY_SERVICE_CONFIGW* config,
                                          DWORD configBytes, DWORD* neededBytes)
{
    SimServiceHandle* live = LiveHandle(handle);
    Log("QueryServiceConfigW " + (live ? Narrow(live->name.c_str()) : std::string("(invalid)")) +
        (config == nullptr ? " size" : " data"));
    DWORD error = TakeDeviceCallFailure("QueryServiceConfigW");
    Service* service = nullptr;
    if (error == 0) {
        if (live == nullptr || live->isManager || (service = FindService(live->name)) == nullptr)
            error = ERROR_INVALID_HANDLE;
        else if (neededBytes == nullptr)
            error = 487;  // ERROR_INVALID_ADDRESS
    }
    if (error != 0) {
        TheWorld().lastError = error;
        return FALSE;
    }
    // The record, then its strings: binary path, load order group (empty),
    // dependencies (an empty list), start name (empty), display name.
    const Path empty;
    size_t chars = CharsWithTerminator(service->binaryPath) + CharsWithTerminator(empty) + 2 +
                   CharsWithTerminator(empty) + CharsWithTerminator(service->name);
    DWORD total = static_cast<DWORD>(sizeof(QUERY_SERVICE_CONFIGW) + chars * sizeof(WCHAR));
    *neededBytes = total;
    if (config == nullptr || configBytes < total) {
        TheWorld().lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::memset(config, 0, total);
    WCHAR* strings = reinterpret_cast<WCHAR*>(config + 1);
    auto place = [&strings](const Path& text, size_t extraTerminators) {
        WCHAR* at = strings;
        std::memcpy(at, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
        strings += text.size() + 1 + extraTerminators;
        return at;
    };
    config->dwServiceType = service->type;
    config->dwStartType = SERVICE_DEMAND_START;
    config->dwErrorControl = SERVICE_ERROR_NORMAL;
    config->lpBinaryPathName = place(service->binaryPath, 0);
    config->lpLoadOrderGroup = place(empty, 0);
    config->lpDependencies = place(empty, 1);
    config->lpServiceStartName = place(empty, 0);
    config->lpDisplayName = place(service->name, 0);
    return TRUE;
}

static BOOL WINAPI SimCloseServiceHandle(SC_HANDLE handle)
{
    SimServiceHandle* live = LiveHandle(handle);
    if (live == nullptr) {
        Log("CloseServiceHandle (invalid)");
        std::fprintf(stderr, "simulated Windows: CloseServiceHandle of a handle that is not open\n");
        std::abort();
    }
    Log("CloseServiceHandle " + (live->isManager ? std::string("manager") : Narrow(live->name.c_str())));
    Services().openHandles.erase(live);
    delete live;
    return TRUE;
}

Exports ServiceExports()
{
    return {
        {"OpenSCManagerW", AsExport(&SimOpenSCManagerW)},
        {"OpenServiceW", AsExport(&SimOpenServiceW)},
        {"QueryServiceConfigW", AsExport(&SimQueryServiceConfigW)},
        {"CloseServiceHandle", AsExport(&SimCloseServiceHandle)},
    };
}

}  // namespace sim
