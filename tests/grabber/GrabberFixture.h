#pragma once
// A grabber object in a fresh user's world: own registry hives, documents
// and module folder, a scripted view in place of the user, pages made from
// in-memory documents, and dispatch calls written the way script makes them.
#include "grabber/HtmlDocumentObject.h"
#include "grabber/ModuleLock.h"
#include "grabber/Tovanix.h"
#include "grabber/TovanixSettings.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Variant.h"
#include "platform/registry/Registry.h"
#include "platform/ui/ScriptedView.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

// A user with fresh registry hives and folders of their own, all in one temporary folder.
class FreshUser : public ::testing::Test, protected testsupport::FreshUserFolders {
protected:

    static std::string KeyPath() { return LoadModuleString(kIdsSettingsKey); }

    // Stores raw bytes under the settings key of `root`.
    static void Store(HKEY root, const char* name, DWORD type, const std::vector<std::uint8_t>& bytes)
    {
        RegKey key;
        ASSERT_EQ(key.Create(root, KeyPath().c_str()), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueEx(key.get(), name, type, bytes.data(), static_cast<DWORD>(bytes.size())), ERROR_SUCCESS);
    }
    static void StoreText(HKEY root, const char* name, const std::string& text, DWORD type = REG_SZ)
    {
        std::vector<std::uint8_t> bytes(text.begin(), text.end());
        bytes.push_back(0);
        Store(root, name, type, bytes);
    }

    using StoredValue = std::tuple<std::string, DWORD, std::vector<std::uint8_t>>; // name, type, data
    // Every value of the current user's settings key, in stored order.
    static std::vector<StoredValue> Values()
    {
        std::vector<StoredValue> out;
        RegKey key;
        StoredValue v;
        if (key.Open(HKEY_CURRENT_USER, KeyPath().c_str(), KEY_READ) == ERROR_SUCCESS)
            for (DWORD i = 0; RegEnumValue(key.get(), i, std::get<0>(v), &std::get<1>(v), &std::get<2>(v)) == ERROR_SUCCESS; ++i)
                out.push_back(v);
        return out;
    }
};

namespace grabbertest {

// A dispatch that answers nothing: script objects that are no document.
template <class Interface>
class DispatchStub : public DispatchObject<Interface> {
public:
    HRESULT GetIDsOfNames(REFIID, OLECHAR**, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
};
using PlainDispatch = DispatchStub<IDispatch>;

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

inline std::string ReadAll(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
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

inline CallResult Get(IDispatch* object, DISPID id) { return Invoke(object, { id, DISPATCH_PROPERTYGET }); }
inline CallResult Put(IDispatch* object, DISPID id, const Variant& value)
{
    return Invoke(object, { id, DISPATCH_PROPERTYPUT, { value }, true });
}
inline Variant Str(const std::string& s) { return Variant::FromString(s); }
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
    void StoreDebugMode(bool on) { Store(HKEY_CURRENT_USER, "DebugMode", REG_BINARY, { std::uint8_t(on ? 1 : 0) }); }
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
    // Runs `body` inside the grab dialog of `doc` (a plain page if none), then closes it.
    void InDialog(const ComPtr<ITovanix>& object, const std::function<void()>& body, ComPtr<IHTMLDocument2> doc = {})
    {
        bool ran = false;
        view->OnDialog("grab", [&](ui::Dialog& d) {
            body();
            ran = true;
            d.PostClose();
        });
        EXPECT_EQ(object->Grab(AsDispatch(doc ? doc : Page("http://example.test/")).get()), S_OK);
        EXPECT_TRUE(ran) << "the grab dialog never ran the body";
    }
};

} // namespace grabbertest
