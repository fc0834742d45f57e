#include "module/ClassFactory.h"

#include "grabber/Tovanix.h"

#include <new>

namespace {

std::atomic<long> g_serverLocks { 0 };

} // namespace

long ServerLockCount() { return g_serverLocks.load(); }

CTovanixClassFactory* CTovanixClassFactory::Create()
{
    return new (std::nothrow) CTovanixClassFactory();
}

HRESULT CTovanixClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CTovanixClassFactory::AddRef()
{
    return m_refs.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG CTovanixClassFactory::Release()
{
    const ULONG left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        delete this;
    return left;
}

HRESULT CTovanixClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject)
{
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter && riid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;
    return CreateTovanixInstance(pUnkOuter, riid, ppvObject);
}

HRESULT CTovanixClassFactory::LockServer(int fLock)
{
    if (fLock) {
        g_serverLocks.fetch_add(1);
        ModuleAddRef();
        return S_OK;
    }
    long locks = g_serverLocks.load();
    do {
        if (locks <= 0)
            return E_UNEXPECTED;
    } while (!g_serverLocks.compare_exchange_weak(locks, locks - 1));
    ModuleRelease();
    return S_OK;
}
