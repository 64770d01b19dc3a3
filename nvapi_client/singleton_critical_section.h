// The lock object that serialises NvAPI_Initialize.
#pragma once

#include "platform/win32.h"

// Holds one critical section, initialised when the object is made. Made once,
// on first use, in process-wide storage; its destructor runs at process exit
// and releases nothing: the critical section is never deleted.
class CSingletonCriticalSection {
public:
    CSingletonCriticalSection() { InitializeCriticalSection(&section_); }
    virtual ~CSingletonCriticalSection() {}

    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }

private:
    CSingletonCriticalSection(const CSingletonCriticalSection&) = delete;
    CSingletonCriticalSection& operator=(const CSingletonCriticalSection&) = delete;

    CRITICAL_SECTION section_;
};

// Storage and pointer of the one object (client_state.cpp): the pointer is
// null until the first NvAPI_Initialize makes the object in the storage.
extern unsigned char ClientLockStorage[];
extern CSingletonCriticalSection* ClientLock;
