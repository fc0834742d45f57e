#pragma once
// Creating a COM object the way a browser does: ProgID -> class identifier
// (following CurVer) -> HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 ->
// dlopen -> DllGetClassObject -> IClassFactory::CreateInstance. Nothing is
// constructed directly, so what runs is what registration put in place.
//
// Loaded modules stay loaded until FreeUnusedLibraries finds that their
// DllCanUnloadNow answers S_OK.
//
// Thread: the thread that will use the object (the UI thread); the module
// table is guarded, so any thread may call.
#include "platform/com/ComPtr.h"
#include "platform/com/Guid.h"
#include "platform/com/HResult.h"

#include <optional>
#include <string>
#include <string_view>

namespace host {

// What the user reads when the class is not registered.
inline constexpr const char* kNotRegisteredMessage = "Quillory is not registered: run `quillory register`";

struct CreateObjectResult {
    HRESULT hr = S_OK;
    std::string error; // a sentence for the user when hr failed
    explicit operator bool() const { return SUCCEEDED(hr); }
};

// HKCR\<progId>\CLSID, or the CLSID of HKCR\<progId>\CurVer's ProgID.
[[nodiscard]] std::optional<CLSID> ClsidFromProgId(std::string_view progId);
// Default value of HKCR\CLSID\{clsid}\InprocServer32.
[[nodiscard]] std::optional<std::string> InprocServerPath(const CLSID& clsid);

// Creates an instance of the class registered under progId and asks it for
// riid; *ppv receives the interface (null on failure).
[[nodiscard]] CreateObjectResult CreateObjectFromProgId(std::string_view progId, REFIID riid, void** ppv);

template <class T>
[[nodiscard]] CreateObjectResult CreateObjectFromProgId(std::string_view progId, ComPtr<T>& out)
{
    return CreateObjectFromProgId(progId, InterfaceId<T>::value, out.OutVoid());
}

// Unloads every module loaded here whose DllCanUnloadNow answers S_OK;
// returns how many were unloaded.
std::size_t FreeUnusedLibraries();

} // namespace host
