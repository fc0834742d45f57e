#pragma once
// Class object of CTovanix, handed out by DllGetClassObject.
//
// Each class object keeps the module loaded while a caller holds it (as the
// class objects of the platform's COM support library do), so a host that
// keeps a factory pointer never calls into an unloaded library. LockServer
// adds further locks on top.
//
// Thread: any (reference counts are atomic; creation runs on the caller's
// thread, which for CTovanix is the UI thread).
#include "grabber/ModuleLock.h"
#include "platform/com/Unknown.h"

#include <atomic>

class CTovanixClassFactory final : public IClassFactory {
public:
    // A new class object with one reference for the caller.
    static CTovanixClassFactory* Create();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // Aggregation is offered only for IUnknown, as COM requires; any other
    // interface with an outer object gives CLASS_E_NOAGGREGATION.
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override;
    // Counts in the module lock count. An unlock without a matching lock is
    // refused with E_UNEXPECTED rather than driving the count below the
    // locks that live objects hold.
    HRESULT LockServer(int fLock) override;

private:
    CTovanixClassFactory() = default;
    ~CTovanixClassFactory() = default;

    std::atomic<ULONG> m_refs { 1 };
    CModuleLockHolder m_moduleLock;
};

// Server locks taken through LockServer and not yet given back, across all
// class objects.
[[nodiscard]] long ServerLockCount();
