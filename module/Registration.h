#pragma once
// What registration writes into, and removes from, the registry: the
// module's registration script (application identifier and browser
// extension key), the class with its two ProgIDs, and the type library.
//
// Keys that unregistration never removes: HKEY_CLASSES_ROOT\AppID,
// HKEY_CLASSES_ROOT\CLSID, and the browser's Extensions key with its
// parents, which other programs share.
//
// Thread: any; the module serialises the calls.
#include "platform/com/HResult.h"

#include <string>

namespace registration {

enum class Mode { Register, Unregister };

// The module registration script: HKCR\AppID\{appid} and
// HKCR\AppID\QVTovanix.DLL, and the browser extension key under
// HKLM\Software\Microsoft\Internet Explorer\Extensions (replaced whole).
// `modulePath` is the library's full path (the icons point into it).
[[nodiscard]] HRESULT RunModuleScript(Mode mode, const std::string& modulePath);

// The ProgID keys and HKCR\CLSID\{clsid} (replaced whole).
[[nodiscard]] HRESULT RegisterClass(const std::string& modulePath);
[[nodiscard]] HRESULT UnregisterClass();

// HKCR\TypeLib\{libid}\1.0.
[[nodiscard]] HRESULT RegisterTypeLib(const std::string& modulePath);
[[nodiscard]] HRESULT UnregisterTypeLib();

// Full sequences, stopping at the first failure and returning it; steps
// already done stay done.
[[nodiscard]] HRESULT RegisterServer(const std::string& modulePath);
[[nodiscard]] HRESULT UnregisterServer();

} // namespace registration
