#include "host/ObjectFactory.h"

#include "platform/registry/Registry.h"

#include <cstdio>
#include <dlfcn.h>
#include <map>
#include <mutex>

namespace host {

namespace {

using DllGetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFn = HRESULT (*)();

// Longest ProgID chain followed through CurVer: a ProgID naming itself (or
// a loop) must not hang the lookup.
constexpr int kMaxCurVerHops = 8;

std::optional<std::string> DefaultValue(const std::string& subKey)
{
    RegKey key;
    if (key.Open(HKEY_CLASSES_ROOT, subKey.c_str(), KEY_READ) != ERROR_SUCCESS)
        return std::nullopt;
    std::string value;
    if (key.QueryStringValue(nullptr, value) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

struct Modules {
    std::mutex mutex;
    std::map<std::string, void*> handles; // path -> dlopen handle
};

Modules& LoadedModules()
{
    static Modules modules;
    return modules;
}

// dlopen once per path; later requests reuse the handle.
void* LoadModule(const std::string& path, std::string& error)
{
    auto& m = LoadedModules();
    std::lock_guard lock(m.mutex);
    if (auto it = m.handles.find(path); it != m.handles.end())
        return it->second;
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
        const char* why = dlerror();
        error = "Cannot load " + path + ": " + (why ? why : "unknown error");
        return nullptr;
    }
    m.handles.emplace(path, handle);
    return handle;
}

} // namespace

std::optional<CLSID> ClsidFromProgId(std::string_view progId)
{
    std::string name(progId);
    for (int hop = 0; hop < kMaxCurVerHops && !name.empty(); ++hop) {
        if (auto text = DefaultValue(name + "\\CLSID"))
            return ParseGuid(*text);
        auto next = DefaultValue(name + "\\CurVer");
        if (!next)
            return std::nullopt;
        name = *next;
    }
    return std::nullopt;
}

std::optional<std::string> InprocServerPath(const CLSID& clsid)
{
    auto path = DefaultValue("CLSID\\" + GuidToString(clsid) + "\\InprocServer32");
    if (!path || path->empty())
        return std::nullopt;
    return path;
}

CreateObjectResult CreateObjectFromProgId(std::string_view progId, REFIID riid, void** ppv)
{
    if (!ppv)
        return { E_POINTER, "No place for the created object" };
    *ppv = nullptr;
    const auto clsid = ClsidFromProgId(progId);
    if (!clsid)
        return { REGDB_E_CLASSNOTREG, kNotRegisteredMessage };
    const auto path = InprocServerPath(*clsid);
    if (!path)
        return { REGDB_E_CLASSNOTREG, kNotRegisteredMessage };

    std::string error;
    void* module = LoadModule(*path, error);
    if (!module)
        return { REGDB_E_CLASSNOTREG, error + "; run `quillory register` again" };
    auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(module, "DllGetClassObject"));
    if (!getClassObject)
        return { REGDB_E_CLASSNOTREG, *path + " is not a Quillory module; run `quillory register` again" };

    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(*clsid, IID_IClassFactory, factory.OutVoid());
    if (FAILED(hr) || !factory)
        return { FAILED(hr) ? hr : E_UNEXPECTED, "The module has no class object for " + GuidToString(*clsid) + " (" + Hex(hr) + ")" };
    hr = factory->CreateInstance(nullptr, riid, ppv);
    if (FAILED(hr)) {
        *ppv = nullptr;
        return { hr, "Cannot create the " + std::string(progId) + " object (" + Hex(hr) + ")" };
    }
    return { S_OK, {} };
}

std::size_t FreeUnusedLibraries()
{
    auto& m = LoadedModules();
    std::lock_guard lock(m.mutex);
    std::size_t freed = 0;
    for (auto it = m.handles.begin(); it != m.handles.end();) {
        auto canUnload = reinterpret_cast<DllCanUnloadNowFn>(dlsym(it->second, "DllCanUnloadNow"));
        if (canUnload && canUnload() == S_OK) {
            dlclose(it->second);
            it = m.handles.erase(it);
            ++freed;
        } else {
            ++it;
        }
    }
    return freed;
}

} // namespace host
