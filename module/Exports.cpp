// Entry points a host finds with dlsym. Start-up (the process-attach part
// of the classic DllMain) is the construction of the module object, see
// module/Module.cpp.
#include "module/Exports.h"

#include "module/ClassFactory.h"
#include "module/Module.h"
#include "module/ModuleIds.h"
#include "module/Registration.h"
#include "platform/sys/XdgPaths.h"

#include <mutex>

namespace {

// Full path of this library, as the registry must name it. Found from a
// function of internal linkage: an exported one may be bound to another
// copy of the module already in the process (the program's own).
std::string ModulePath()
{
    return platform::ModuleFileOf(reinterpret_cast<const void*>(&ModulePath)).string();
}

} // namespace

HRESULT DllCanUnloadNow()
{
    return g_Module.GetLockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!g_Module.Initialized())
        return E_UNEXPECTED;
    // The object map holds one class; COptions is described but never
    // served.
    if (rclsid != CLSID_Tovanix)
        return CLASS_E_CLASSNOTAVAILABLE;
    CTovanixClassFactory* factory = CTovanixClassFactory::Create();
    if (!factory)
        return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

HRESULT DllRegisterServer()
{
    std::lock_guard lock(g_Module.CriticalSection());
    return registration::RegisterServer(ModulePath());
}

HRESULT DllUnregisterServer()
{
    std::lock_guard lock(g_Module.CriticalSection());
    return registration::UnregisterServer();
}
