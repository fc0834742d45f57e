#pragma once
// A grabber object in a fresh user's world: own registry hives, documents
// and module folder, a scripted view in place of the user, pages made from
// in-memory documents, and dispatch calls written the way script makes them.
#include "grabber/HtmlDocumentObject.h"
#include "grabber/ModuleLock.h"
#include "grabber/Tovanix.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Variant.h"
#include "platform/ui/ScriptedView.h"
#include "tests/grabber/SettingsFixture.h"

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <vector>

namespace grabbertest {

// Counted object implementing one interface for tests.
template <class Interface>
class TestObject : public Interface {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == InterfaceId<Interface>::value || Also(riid)) {
            *ppv = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override
    {
        ULONG n = --refs;
        if (n == 0)
            delete this;
        return n;
    }
    ULONG refs = 1;

protected:
    virtual bool Also(REFIID) { return false; }
    virtual ~TestObject() = default;
};

// Dispatch that answers nothing: script objects that are no document, and
// sites that offer no services.
template <class Interface>
class DispatchStub : public TestObject<Interface> {
public:
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, OLECHAR**, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
};
using PlainDispatch = DispatchStub<IDispatch>;

// The browser window the site offers: its current document.
class FakeBrowser : public DispatchStub<IWebBrowser2> {
public:
    ComPtr<IDispatch> document;
    HRESULT documentResult = S_OK;
    HRESULT get_Document(IDispatch** pp) override
    {
        *pp = nullptr;
        if (FAILED(documentResult))
            return documentResult;
        if (document) {
            document->AddRef();
            *pp = document.get();
        }
        return S_OK;
    }
};

// A browser site offering its browser as SID_SWebBrowserApp.
class FakeSite : public TestObject<IServiceProvider> {
public:
    ComPtr<FakeBrowser> browser;
    HRESULT QueryService(REFGUID service, REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (service != SID_SWebBrowserApp || !browser)
            return E_NOINTERFACE;
        return browser->QueryInterface(riid, ppv);
    }
};

template <class T>
ComPtr<T> Make()
{
    return ComPtr<T>::Attach(new T());
}

// A page document with the given address.
inline ComPtr<IHTMLDocument2> Page(const std::string& url)
{
    auto model = std::make_shared<html::Document>();
    model->URL = url;
    return CHtmlDocumentObject::Create(std::move(model));
}

inline ComPtr<IDispatch> AsDispatch(const ComPtr<IHTMLDocument2>& doc)
{
    return ComPtr<IDispatch>(static_cast<IDispatch*>(doc.get()));
}

// Arguments in call order; reversed into DISPPARAMS as script does.
struct Call {
    DISPID id;
    WORD flags = DISPATCH_METHOD;
    std::vector<Variant> args {};
    bool namedPut = false;
};

struct CallResult {
    HRESULT hr = S_OK;
    Variant result;
    UINT argErr = 0xFFFFFFFF;
};

inline CallResult Invoke(IDispatch* object, const Call& call)
{
    std::vector<VARIANT> reversed(call.args.rbegin(), call.args.rend());
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params;
    params.rgvarg = reversed.empty() ? nullptr : reversed.data();
    params.cArgs = static_cast<UINT>(reversed.size());
    if (call.namedPut) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    CallResult r;
    r.hr = object->Invoke(call.id, GUID_NULL, 0, call.flags, &params, &r.result, nullptr, &r.argErr);
    return r;
}

inline CallResult Get(IDispatch* object, DISPID id)
{
    return Invoke(object, { id, DISPATCH_PROPERTYGET });
}

inline CallResult Put(IDispatch* object, DISPID id, Variant value)
{
    Call c { id, DISPATCH_PROPERTYPUT, {}, true };
    c.args.push_back(std::move(value));
    return Invoke(object, c);
}

inline Variant Str(const std::string& s)
{
    return Variant::FromString(s);
}

inline std::string Text(const VARIANT& v)
{
    return v.vt == VT_BSTR ? Bstr(BstrView(v.bstrVal)).Utf8() : std::string("<not a BSTR>");
}

class GrabberTest : public FreshUser {
protected:
    testsupport::ScopedEnv moduleDirEnv { "QUILLORY_MODULE_DIR", (dir / "module").string() };
    std::shared_ptr<ui::ScriptedView> view = std::make_shared<ui::ScriptedView>();

    void SetUp() override
    {
        std::filesystem::create_directories(dir / "module");
        ui::SetActiveView(view);
    }
    void TearDown() override { ui::SetActiveView(nullptr); }

    std::filesystem::path ModuleDir() const { return dir / "module"; }

    // Stores the DebugMode setting, read by objects created afterwards.
    void StoreDebugMode(bool on) { Store(HKEY_CURRENT_USER, "DebugMode", REG_BINARY, { static_cast<std::uint8_t>(on ? 1 : 0) }); }
    void StoreRootFolder(const std::string& folder) { StoreText(HKEY_CURRENT_USER, "GrabPath", folder); }

    static ComPtr<ITovanix> NewObject()
    {
        ComPtr<ITovanix> object;
        EXPECT_EQ(CreateTovanixInstance(nullptr, IID_ITovanix, object.OutVoid()), S_OK);
        return object;
    }
    static CTovanix& Impl(const ComPtr<ITovanix>& object) { return *static_cast<CTovanix*>(object.get()); }

    // Grabs `url` with `script` playing the user inside the grab dialog.
    void GrabWith(const ComPtr<ITovanix>& object, const std::string& url, ui::ScriptedView::Script script)
    {
        view->OnDialog("grab", std::move(script));
        EXPECT_EQ(object->Grab(AsDispatch(Page(url)).get()), S_OK);
    }
};

} // namespace grabbertest
