#pragma once
// CQVTovanixModule: the library's single module object, alive from load to
// unload. Its constructor is what the library does on process attach.
//
// Thread: any.
#include "platform/com/Guid.h"

#include <mutex>

class CQVTovanixModule {
public:
    CQVTovanixModule();
    CQVTovanixModule(const CQVTovanixModule&) = delete;
    CQVTovanixModule& operator=(const CQVTovanixModule&) = delete;

    // False when the module object could not be set up; the entry points
    // then refuse to work.
    bool Initialized() const { return m_initialized; }

    // Objects and server locks alive; each holds one lock.
    long Lock();
    long Unlock();
    long GetLockCount() const;

    const GUID& TypeLibId() const { return m_libid; }
    const GUID& AppId() const { return m_appid; }

    // Serialises registration, which rewrites several keys as one step.
    std::mutex& CriticalSection() { return m_cs; }

private:
    std::mutex m_cs;
    GUID m_libid;
    GUID m_appid;
    bool m_initialized = false;
};

extern CQVTovanixModule g_Module;
