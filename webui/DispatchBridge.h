#pragma once
// The dispatch side of a page's window.external: the objects a page holds
// (the external object and every dispatch object a call returned), and the
// requests that reach them - member look-up, property get and put, method
// call - as GetIDsOfNames and Invoke, with values converted between JSON
// and VARIANT.
//
// Request (JSON object):
//   {"op":"get",  "obj":H, "name":N}            -> {"value":V} or {"method":true,"dispid":D}
//   {"op":"call", "obj":H, "dispid":D, "args":[V...]} -> {"value":V}
//   {"op":"put",  "obj":H, "name":N, "value":V} -> {}
//   {"op":"has",  "obj":H, "name":N}            -> {}
// A failed HRESULT answers {"error":{"hresult":HR,"message":M}}. A value is
// a JSON string, number, boolean or null, or {"dispatch":H} for an object;
// "value" is absent for an empty VARIANT.
//
// Thread: the thread of the objects' apartment (the grab run's thread)
// only; the server marshals every request onto it.
#include "platform/com/ComPtr.h"
#include "platform/com/Unknown.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <map>
#include <string>

namespace webui {

class DispatchBridge {
public:
    // Object handles a page may hold at once; a call that would return one
    // more fails with E_OUTOFMEMORY, as a script engine out of objects would.
    static constexpr std::size_t kMaxHandles = 4096;

    // `external` becomes handle 0. `resPrefix`, when not empty, is the
    // "res://<module file>/" prefix that strings returned to the page have
    // rewritten to `servedPrefix`, the server path of the module's resources.
    DispatchBridge(ComPtr<IDispatch> external, std::string resPrefix, std::string servedPrefix);
    ~DispatchBridge();

    DispatchBridge(const DispatchBridge&) = delete;
    DispatchBridge& operator=(const DispatchBridge&) = delete;

    [[nodiscard]] nlohmann::json Handle(const nlohmann::json& request);
    // Drops the page's references to these objects (handle 0 stays).
    void Release(const nlohmann::json& handles);
    // Drops every reference, the external object's too; later requests fail.
    void Clear();

    [[nodiscard]] std::size_t HandleCount() const { return m_objects.size(); }

private:
    struct Failure {
        HRESULT hr;
        std::string message;
    };

    [[nodiscard]] IDispatch* Object(const nlohmann::json& request) const;
    [[nodiscard]] HRESULT ToVariant(const nlohmann::json& value, VARIANT& out) const;
    [[nodiscard]] HRESULT FromVariant(const VARIANT& value, nlohmann::json& answer);
    [[nodiscard]] nlohmann::json Get(IDispatch* object, const std::string& name);
    [[nodiscard]] nlohmann::json Call(IDispatch* object, const nlohmann::json& request);
    [[nodiscard]] nlohmann::json Put(IDispatch* object, const nlohmann::json& request);
    [[nodiscard]] std::string MapResAddresses(std::string text) const;

    std::map<long long, ComPtr<IDispatch>> m_objects;
    long long m_nextHandle = 1;
    std::string m_resPrefix;
    std::string m_servedPrefix;
};

// The answer for a failed HRESULT, with the message a script shows.
[[nodiscard]] nlohmann::json ErrorAnswer(HRESULT hr, std::string_view what);

} // namespace webui
