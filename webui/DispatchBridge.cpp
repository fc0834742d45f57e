#include "webui/DispatchBridge.h"

#include "grabber/ITovanix.h"
#include "platform/com/Bstr.h"
#include "platform/com/Variant.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace webui {

using nlohmann::json;

namespace {

enum class MemberKind {
    Method,   // called only when the script calls it
    Property, // read at once on access
    Unknown,  // read at once; a method that wants arguments refuses the read
};

// Script engines know from the call syntax whether a member is called or
// read; a proxy's get trap does not, so the kind comes from the type
// description. A zero-argument method must never be read "to see", since
// ITovanix runs a method whatever the Invoke flags say: merely touching
// window.external.Exit would close the dialog.
MemberKind KindOf(IDispatch* object, DISPID id)
{
    void* p = nullptr;
    if (FAILED(object->QueryInterface(IID_ITovanix, &p)) || !p)
        return MemberKind::Unknown;
    static_cast<IUnknown*>(p)->Release();
    switch (id) {
    case 3: case 4: case 5: case 8: case 11: case 12: case 13: case 14: case 15: case 20: case 21:
        return MemberKind::Property;
    default:
        return MemberKind::Method;
    }
}

std::string Hex(HRESULT hr)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

// Arguments of one Invoke, owned until it returns.
class Arguments {
public:
    explicit Arguments(std::size_t n) : m_values(n) { }
    ~Arguments()
    {
        for (VARIANT& v : m_values)
            VariantClear(&v);
    }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;
    VARIANT& operator[](std::size_t i) { return m_values[i]; }
    VARIANT* data() { return m_values.data(); }
    UINT size() const { return static_cast<UINT>(m_values.size()); }

private:
    std::vector<VARIANT> m_values;
};

} // namespace

json ErrorAnswer(HRESULT hr, std::string_view what)
{
    return json { { "error", { { "hresult", static_cast<std::uint32_t>(hr) },
                               { "message", std::string(what) + " failed with error " + Hex(hr) } } } };
}

DispatchBridge::DispatchBridge(ComPtr<IDispatch> external, std::string resPrefix, std::string servedPrefix)
    : m_resPrefix(std::move(resPrefix))
    , m_servedPrefix(std::move(servedPrefix))
{
    if (external)
        m_objects.emplace(0, std::move(external));
}

DispatchBridge::~DispatchBridge() = default;

void DispatchBridge::Clear()
{
    // Released outside the map: a destructor may call back into the page.
    auto objects = std::move(m_objects);
    m_objects.clear();
    objects.clear();
}

void DispatchBridge::Release(const json& handles)
{
    if (!handles.is_array())
        return;
    for (const json& h : handles) {
        if (h.is_number_integer() && h.get<long long>() != 0) {
            auto it = m_objects.find(h.get<long long>());
            if (it != m_objects.end()) {
                ComPtr<IDispatch> gone = std::move(it->second);
                m_objects.erase(it);
            }
        }
    }
}

IDispatch* DispatchBridge::Object(const json& request) const
{
    const auto obj = request.find("obj");
    if (obj == request.end() || !obj->is_number_integer())
        return nullptr;
    const auto it = m_objects.find(obj->get<long long>());
    return it == m_objects.end() ? nullptr : it->second.get();
}

std::string DispatchBridge::MapResAddresses(std::string text) const
{
    if (m_resPrefix.empty())
        return text;
    for (std::size_t at = text.find(m_resPrefix); at != std::string::npos;
         at = text.find(m_resPrefix, at + m_servedPrefix.size()))
        text.replace(at, m_resPrefix.size(), m_servedPrefix);
    return text;
}

HRESULT DispatchBridge::ToVariant(const json& value, VARIANT& out) const
{
    VariantInit(&out);
    if (value.is_null())
        return S_OK;
    if (value.is_boolean()) {
        out.vt = VT_BOOL;
        out.boolVal = value.get<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    if (value.is_string()) {
        out.vt = VT_BSTR;
        out.bstrVal = Bstr(value.get_ref<const std::string&>()).Detach();
        return S_OK;
    }
    if (value.is_number()) {
        const double d = value.get<double>();
        if (value.is_number_integer() && d >= std::numeric_limits<std::int32_t>::min()
            && d <= std::numeric_limits<std::int32_t>::max()) {
            out.vt = VT_I4;
            out.lVal = static_cast<std::int32_t>(value.get<long long>());
        } else {
            // The callee converts to its declared type.
            out.vt = VT_R8;
            out.dblVal = d;
        }
        return S_OK;
    }
    if (value.is_object() && value.contains("dispatch") && value["dispatch"].is_number_integer()) {
        const auto it = m_objects.find(value["dispatch"].get<long long>());
        if (it == m_objects.end())
            return DISP_E_TYPEMISMATCH;
        out.vt = VT_DISPATCH;
        out.pdispVal = it->second.get();
        out.pdispVal->AddRef();
        return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT DispatchBridge::FromVariant(const VARIANT& in, json& answer)
{
    Variant direct;
    const VARIANT* v = &in;
    if (in.vt & VT_BYREF) {
        if (FAILED(VariantCopyInd(&direct, &in)))
            return DISP_E_TYPEMISMATCH;
        v = &direct;
    }
    switch (v->vt) {
    case VT_EMPTY: return S_OK;
    case VT_NULL: answer["value"] = nullptr; return S_OK;
    case VT_I2: answer["value"] = v->iVal; return S_OK;
    case VT_I4:
    case VT_INT: answer["value"] = v->lVal; return S_OK;
    case VT_UI4:
    case VT_UINT: answer["value"] = v->ulVal; return S_OK;
    case VT_ERROR: answer["value"] = v->scode; return S_OK;
    case VT_R8: answer["value"] = std::isfinite(v->dblVal) ? json(v->dblVal) : json(nullptr); return S_OK;
    case VT_BOOL: answer["value"] = v->boolVal != VARIANT_FALSE; return S_OK;
    case VT_BSTR: answer["value"] = MapResAddresses(Bstr(BstrView(v->bstrVal)).Utf8()); return S_OK;
    case VT_DISPATCH:
    case VT_UNKNOWN: {
        ComPtr<IDispatch> object;
        if (v->vt == VT_DISPATCH)
            object = ComPtr<IDispatch>(v->pdispVal);
        else if (v->punkVal)
            v->punkVal->QueryInterface(IID_IDispatch, object.OutVoid());
        if (!object) {
            answer["value"] = nullptr;
            return S_OK;
        }
        if (m_objects.size() >= kMaxHandles)
            return E_OUTOFMEMORY;
        const long long handle = m_nextHandle++;
        m_objects.emplace(handle, std::move(object));
        answer["value"] = json { { "dispatch", handle } };
        return S_OK;
    }
    default: return DISP_E_BADVARTYPE;
    }
}

json DispatchBridge::Handle(const json& request)
{
    if (!request.is_object())
        return ErrorAnswer(E_INVALIDARG, "window.external");
    IDispatch* object = Object(request);
    if (!object)
        return ErrorAnswer(E_PENDING, "window.external: the object is gone; the call");
    const std::string op = request.value("op", "");
    if (op == "call")
        return Call(object, request);
    const auto name = request.find("name");
    if (name == request.end() || !name->is_string())
        return ErrorAnswer(E_INVALIDARG, "window.external");
    if (op == "get")
        return Get(object, name->get<std::string>());
    if (op == "put")
        return Put(object, request);
    if (op == "has") {
        Bstr wide(name->get<std::string>());
        OLECHAR* names[] = { wide.get() ? wide.get() : const_cast<OLECHAR*>(u"") };
        DISPID id = DISPID_UNKNOWN;
        const HRESULT hr = object->GetIDsOfNames(GUID_NULL, names, 1, 0, &id);
        return FAILED(hr) ? ErrorAnswer(hr, "GetIDsOfNames") : json::object();
    }
    return ErrorAnswer(E_INVALIDARG, "window.external");
}

json DispatchBridge::Get(IDispatch* object, const std::string& name)
{
    // The name goes as the page wrote it: the object decides about letter
    // case, as it did for the old browser's script engine.
    Bstr wide(name);
    OLECHAR* names[] = { wide.get() ? wide.get() : const_cast<OLECHAR*>(u"") };
    DISPID id = DISPID_UNKNOWN;
    if (HRESULT hr = object->GetIDsOfNames(GUID_NULL, names, 1, 0, &id); FAILED(hr))
        return ErrorAnswer(hr, "window.external." + name);
    const MemberKind kind = KindOf(object, id);
    if (kind == MemberKind::Method)
        return json { { "method", true }, { "dispid", id } };
    DISPPARAMS none;
    Variant result;
    const HRESULT hr = object->Invoke(id, GUID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    if (kind == MemberKind::Unknown && hr == DISP_E_BADPARAMCOUNT)
        return json { { "method", true }, { "dispid", id } };
    if (FAILED(hr))
        return ErrorAnswer(hr, "window.external." + name);
    json answer = json::object();
    if (HRESULT conv = FromVariant(result, answer); FAILED(conv))
        return ErrorAnswer(conv, "window.external." + name);
    return answer;
}

json DispatchBridge::Call(IDispatch* object, const json& request)
{
    const auto dispid = request.find("dispid");
    const auto args = request.find("args");
    if (dispid == request.end() || !dispid->is_number_integer())
        return ErrorAnswer(E_INVALIDARG, "window.external");
    const std::string what = "window.external." + request.value("name", std::string("method"));
    const std::size_t count = args != request.end() && args->is_array() ? args->size() : 0;
    // More than any member takes; the callee would refuse it anyway.
    if (count > 16)
        return ErrorAnswer(DISP_E_BADPARAMCOUNT, what);
    Arguments values(count);
    for (std::size_t i = 0; i < count; ++i) {
        // Arguments travel in reverse order.
        if (HRESULT hr = ToVariant((*args)[i], values[count - 1 - i]); FAILED(hr))
            return ErrorAnswer(hr, what);
    }
    DISPPARAMS params;
    params.rgvarg = values.data();
    params.cArgs = values.size();
    Variant result;
    const HRESULT hr = object->Invoke(dispid->get<DISPID>(), GUID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                      &params, &result, nullptr, nullptr);
    if (FAILED(hr))
        return ErrorAnswer(hr, what);
    json answer = json::object();
    if (HRESULT conv = FromVariant(result, answer); FAILED(conv))
        return ErrorAnswer(conv, what);
    return answer;
}

json DispatchBridge::Put(IDispatch* object, const json& request)
{
    const std::string name = request["name"].get<std::string>();
    Bstr wide(name);
    OLECHAR* names[] = { wide.get() ? wide.get() : const_cast<OLECHAR*>(u"") };
    DISPID id = DISPID_UNKNOWN;
    if (HRESULT hr = object->GetIDsOfNames(GUID_NULL, names, 1, 0, &id); FAILED(hr))
        return ErrorAnswer(hr, "window.external." + name);
    Arguments value(1);
    if (HRESULT hr = ToVariant(request.contains("value") ? request["value"] : json(nullptr), value[0]); FAILED(hr))
        return ErrorAnswer(hr, "window.external." + name);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params;
    params.rgvarg = value.data();
    params.cArgs = 1;
    params.rgdispidNamedArgs = &named;
    params.cNamedArgs = 1;
    const HRESULT hr = object->Invoke(id, GUID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
    if (FAILED(hr))
        return ErrorAnswer(hr, "window.external." + name);
    return json::object();
}

} // namespace webui
