#pragma once
// Reference counting and interface lookup for the COM objects this system
// implements itself, so that each object class writes only its members.
//
//   class CThing final : public ComObject<IDispatch> { ... };
//   class CDoc final : public DispatchObject<IHTMLDocument2, IHtmlDocumentModel> { ... };
//
// QueryInterface answers each listed interface (by InterfaceId), IUnknown
// with the first listed one (the object's identity), and IDispatch with the
// first listed interface that is a dispatch interface; anything else is
// E_NOINTERFACE. The count starts at 1 for the creator, who takes it with
// ComPtr<...>::Attach(new CThing(...)); the last Release deletes the object
// through its (virtual) destructor, which may be private in the final class.
//
// DispatchObject adds the answers of a dispatch object without type
// information: GetTypeInfoCount gives 0 and GetTypeInfo DISP_E_BADINDEX.
//
// Thread: AddRef, Release and QueryInterface from any thread.
#include "platform/com/Unknown.h"

#include <atomic>
#include <concepts>

template <class First, class... Rest>
class ComObject : public First, public Rest... {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = Find(riid);
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    ULONG AddRef() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }

    ULONG Release() override
    {
        const ULONG n = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (n == 0)
            delete this;
        return n;
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

private:
    void* Find(REFIID riid)
    {
        if (riid == IID_IUnknown)
            return static_cast<IUnknown*>(static_cast<First*>(this));
        void* found = nullptr;
        // Listed interfaces in order: the first match wins, and IDispatch
        // goes to the first dispatch interface listed.
        const auto match = [&]<class I>(I* self) {
            if (found)
                return;
            if (riid == InterfaceId<I>::value)
                found = self;
            else if constexpr (std::derived_from<I, IDispatch>) {
                if (riid == IID_IDispatch)
                    found = static_cast<IDispatch*>(self);
            }
        };
        match(static_cast<First*>(this));
        (match(static_cast<Rest*>(this)), ...);
        return found;
    }

    std::atomic<ULONG> m_refs { 1 };
};

template <class First, class... Rest>
class DispatchObject : public ComObject<First, Rest...> {
public:
    HRESULT GetTypeInfoCount(UINT* pctinfo) override
    {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }

    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override
    {
        if (ppTInfo)
            *ppTInfo = nullptr;
        return DISP_E_BADINDEX;
    }

protected:
    DispatchObject() = default;
    ~DispatchObject() override = default;
};
