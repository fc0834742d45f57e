#include "grabber/Tovanix.h"

#include "grabber/DebugInfo.h"
#include "grabber/TovanixTypeInfo.h"

#include <new>

CTovanix::CTovanix(IUnknown* outer) : m_controlling(outer ? outer : &m_inner)
{
    m_settings.Load();
}

CTovanix::~CTovanix()
{
    m_settings.Save();
    m_grabDocument.Reset();
    m_siteBrowser.Reset();
}

HRESULT CreateTovanixInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer && riid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) CTovanix(outer);
    if (!object)
        return E_OUTOFMEMORY;
    // The inner unknown holds the creation reference while QueryInterface
    // adds the caller's, so a refused interface frees the object.
    object->m_inner.AddRef();
    HRESULT hr = object->m_inner.QueryInterface(riid, ppv);
    object->m_inner.Release();
    return hr;
}

HRESULT CTovanix::InnerUnknown::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    CTovanix& o = m_owner;
    if (riid == IID_IUnknown)
        *ppv = static_cast<IUnknown*>(this);
    else if (riid == IID_ITovanix || riid == IID_IDispatch)
        *ppv = static_cast<ITovanix*>(&o);
    else if (riid == IID_IObjectWithSite)
        *ppv = static_cast<IObjectWithSite*>(&o);
    else if (riid == IID_IOleCommandTarget)
        *ppv = static_cast<IOleCommandTarget*>(&o);
    else if (riid == IID_IProvideClassInfo)
        *ppv = static_cast<IProvideClassInfo*>(&o);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
}

ULONG CTovanix::InnerUnknown::AddRef()
{
    return m_owner.m_refs.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG CTovanix::InnerUnknown::Release()
{
    const ULONG n = m_owner.m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0)
        delete &m_owner;
    return n;
}

HRESULT CTovanix::QueryInterface(REFIID riid, void** ppv)
{
    return m_controlling->QueryInterface(riid, ppv);
}

ULONG CTovanix::AddRef()
{
    return m_controlling->AddRef();
}

ULONG CTovanix::Release()
{
    return m_controlling->Release();
}

HRESULT CTovanix::GetClassInfo(ITypeInfo** ppTI)
{
    if (!ppTI)
        return E_POINTER;
    auto& info = CTovanixTypeInfo::ForClass();
    info.AddRef();
    *ppTI = &info;
    return S_OK;
}

void CTovanix::Record(std::string_view name, std::string_view text) const
{
    if (m_settings.DebugMode)
        debuginfo::WriteDebugRecord(name, text);
}
