// NvAPI_Initialize: loading, binding and initialising the driver API module
// under the process-wide lock.
#include "nvapi_client/interface_binding.h"
#include "nvapi_client/singleton_critical_section.h"

#include <cstdlib>
#include <new>

// Runs at process exit; the destructor releases nothing.
static void DestroyClientLock(void)
{
    ClientLock->~CSingletonCriticalSection();
}

// The lock object, made on its first use. The tool has one thread; the first
// call is made before any other thread could exist.
static CSingletonCriticalSection* TheClientLock(void)
{
    if (ClientLock == nullptr) {
        ClientLock = new (ClientLockStorage) CSingletonCriticalSection();
        std::atexit(DestroyClientLock);
    }
    return ClientLock;
}

// NVAPI_OK once the driver is bound and initialised in the standard mode; else
// the status of the load (NVAPI_LIBRARY_NOT_FOUND, NVAPI_ERROR, the driver's
// own initialise status). The whole body runs under the lock, which is left on
// every path. Makes no driver call once the binding has initialised the driver.
NvAPI_Status NvAPI_Initialize(void)
{
    CSingletonCriticalSection* lock = TheClientLock();
    lock->Enter();

    NvAPI_Status status = EnsureInterfaceLoaded(NVAPI_MODULE_DRIVER_API, NVAPI_MODE_STANDARD);
    if (status == NVAPI_OK && Initialized[NVAPI_MODE_STANDARD] != 1) {
        // only when the module was bound in the alternate mode
        if (DriverInitializeEntry == nullptr) {
            status = NVAPI_ERROR;
        } else {
            status = DriverInitializeEntry();
            if (status == NVAPI_OK)
                Initialized[NVAPI_MODE_STANDARD] = 1;
        }
    }

    lock->Leave();
    return status;
}
