#pragma once
// A dispatch object for the bridge tests, with members that show what
// reached it: names as asked (letter case kept), the thread calls ran on,
// argument types, calls that wait in a nested modal loop as
// StartDownloading does.
#include "platform/com/Bstr.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Variant.h"
#include "platform/ui/MessageLoop.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace webuitest {

class FakeDispatch final : public DispatchObject<IDispatch> {
public:
    enum Member : DISPID { Text = 1, Fail, Child, Echo, Wait, Release_, Flag };

    static ComPtr<FakeDispatch> Create() { return ComPtr<FakeDispatch>::Attach(new FakeDispatch()); }

    // Exact names only, so a test sees the case the page wrote.
    HRESULT GetIDsOfNames(REFIID, OLECHAR** names, UINT, LCID, DISPID* ids) override
    {
        static const std::vector<std::pair<std::string, DISPID>> kNames { { "Text", Text }, { "Fail", Fail },
            { "Child", Child }, { "Echo", Echo }, { "Wait", Wait }, { "Release", Release_ }, { "Flag", Flag },
            { "FLAG", Flag }, { "flag", Flag } };
        const std::string name = Bstr(BstrView(names[0])).Utf8();
        std::lock_guard lock(m_mutex);
        m_names.push_back(name);
        ids[0] = DISPID_UNKNOWN;
        for (const auto& [n, id] : kNames)
            if (n == name)
                ids[0] = id;
        return ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
    }

    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT*) override
    {
        m_callThread = std::this_thread::get_id();
        // Methods want an argument, so reading them "to see" never runs them.
        if (id != Text && id != Flag && id != Echo && params->cArgs != 1)
            return DISP_E_BADPARAMCOUNT;
        switch (id) {
        case Text: return Put(result, Variant::FromString("see res:///opt/q/lib.so/GIF/223 and res:///opt/q/lib.so/215"));
        case Flag:
            if (flags & DISPATCH_PROPERTYPUT) {
                if (params->cArgs != 1 || params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
                    return DISP_E_BADPARAMCOUNT;
                Variant b;
                if (FAILED(VariantChangeType(&b, &params->rgvarg[0], 0, VT_BOOL)))
                    return DISP_E_TYPEMISMATCH;
                m_flag = b.boolVal != VARIANT_FALSE;
                m_putType = params->rgvarg[0].vt;
                return S_OK;
            }
            return Put(result, Variant::FromBool(m_flag));
        case Fail: return E_PENDING;
        case Child: return Put(result, Variant::FromDispatch(Create().get()));
        case Echo: {
            if (params->cArgs < 1)
                return DISP_E_BADPARAMCOUNT;
            {
                std::lock_guard lock(m_mutex);
                m_echoTypes.clear();
                for (UINT i = params->cArgs; i-- > 0;)
                    m_echoTypes.push_back(params->rgvarg[i].vt);
            }
            Variant copy;
            VariantCopy(&copy, &params->rgvarg[params->cArgs - 1]);
            return Put(result, std::move(copy));
        }
        case Wait: // a modal loop inside the call, as the progress dialog runs
            ui::MessageLoop::Current().RunUntil([this] { return m_released.load(); }, std::chrono::seconds(20));
            return Put(result, Variant::FromBool(m_released.load()));
        case Release_: m_released = true; return S_OK;
        default: return DISP_E_MEMBERNOTFOUND;
        }
    }

    std::vector<std::string> Names() const
    {
        std::lock_guard lock(m_mutex);
        return m_names;
    }
    std::vector<VARTYPE> EchoTypes() const
    {
        std::lock_guard lock(m_mutex);
        return m_echoTypes;
    }
    std::thread::id CallThread() const { return m_callThread; }
    bool FlagValue() const { return m_flag; }
    VARTYPE PutType() const { return m_putType; }
    ULONG Refs()
    {
        AddRef();
        return Release();
    }

private:
    FakeDispatch() = default;
    ~FakeDispatch() override = default;

    static HRESULT Put(VARIANT* result, Variant value)
    {
        if (result) {
            *result = static_cast<VARIANT&>(value);
            VariantInit(&value); // ownership went to the caller
        }
        return S_OK;
    }

    mutable std::mutex m_mutex;
    std::vector<std::string> m_names;
    std::vector<VARTYPE> m_echoTypes;
    std::atomic<std::thread::id> m_callThread {};
    std::atomic<bool> m_released { false };
    bool m_flag = false;
    VARTYPE m_putType = VT_EMPTY;
};

} // namespace webuitest
