#include "module/Registration.h"

#include "module/ModuleIds.h"
#include "platform/registry/Registry.h"

#include <filesystem>
#include <initializer_list>
#include <utility>

namespace registration {

namespace {

constexpr const char* kExtensionsKey = "Software\\Microsoft\\Internet Explorer\\Extensions";

HRESULT FromWin32(LONG err) { return HResultFromWin32(static_cast<std::uint32_t>(err)); }

// A missing key is what removal wants anyway.
LONG DeleteTreeIfPresent(HKEY root, const std::string& subKey)
{
    const LONG r = RegDeleteTree(root, subKey.c_str());
    return r == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : r;
}

struct Value {
    const char* name; // nullptr: the default value
    std::string data;
};

// Creates (or opens) root\subKey and sets its string values in order.
LONG WriteKey(HKEY root, const std::string& subKey, std::initializer_list<Value> values)
{
    RegKey key;
    if (LONG r = key.Create(root, subKey.c_str(), KEY_READ | KEY_WRITE); r != ERROR_SUCCESS)
        return r;
    for (const auto& v : values) {
        if (LONG r = key.SetStringValue(v.name, v.data); r != ERROR_SUCCESS)
            return r;
    }
    return ERROR_SUCCESS;
}

// Runs the steps in order and stops at the first failure.
template <class... Steps>
LONG Sequence(Steps&&... steps)
{
    LONG r = ERROR_SUCCESS;
    ((r == ERROR_SUCCESS ? (r = steps(), 0) : 0), ...);
    return r;
}

std::string AppIdText() { return GuidToString(APPID_QVTovanix); }
std::string ClsidText() { return GuidToString(CLSID_Tovanix); }
std::string ClassKey() { return "CLSID\\" + ClsidText(); }
std::string ExtensionKey() { return std::string(kExtensionsKey) + "\\" + ClsidText(); }
std::string TypeLibKey() { return "TypeLib\\" + GuidToString(LIBID_QVTovanix); }

} // namespace

HRESULT RunModuleScript(Mode mode, const std::string& modulePath)
{
    const std::string appIdKey = "AppID\\" + AppIdText();
    const std::string dllAppIdKey = "AppID\\QVTovanix.DLL";
    if (mode == Mode::Unregister) {
        return FromWin32(Sequence(
            [&] { return DeleteTreeIfPresent(HKEY_CLASSES_ROOT, appIdKey); },
            [&] { return DeleteTreeIfPresent(HKEY_CLASSES_ROOT, dllAppIdKey); },
            [&] { return DeleteTreeIfPresent(HKEY_LOCAL_MACHINE, ExtensionKey()); }));
    }
    return FromWin32(Sequence(
        [&] { return WriteKey(HKEY_CLASSES_ROOT, appIdKey, { { nullptr, "QVTovanix" } }); },
        [&] { return WriteKey(HKEY_CLASSES_ROOT, dllAppIdKey, { { "AppID", AppIdText() } }); },
        // The extension key is replaced whole, so a second registration
        // leaves exactly one key with exactly these values.
        [&] { return DeleteTreeIfPresent(HKEY_LOCAL_MACHINE, ExtensionKey()); },
        [&] {
            return WriteKey(HKEY_LOCAL_MACHINE, ExtensionKey(),
                {
                    { nullptr, "Quillory" },
                    { "ButtonText", "Grab" },
                    { "Clsid", "{1FBA04EE-3024-11d2-8F1F-0000F87ABD16}" },
                    { "Default Visible", "Yes" },
                    { "HotIcon", modulePath + ",201" },
                    { "Icon", modulePath + ",202" },
                    { "MenuStatusBar", "Grab pictures, flash ainimations, scripts, css" },
                    { "MenuText", "Quillory..." },
                    { "ClsidExtension", ClsidText() },
                });
        }));
}

HRESULT RegisterClass(const std::string& modulePath)
{
    const std::string classKey = ClassKey();
    return FromWin32(Sequence(
        [&] { return WriteKey(HKEY_CLASSES_ROOT, kProgId, { { nullptr, kClassFriendlyName } }); },
        [&] { return WriteKey(HKEY_CLASSES_ROOT, std::string(kProgId) + "\\CLSID", { { nullptr, ClsidText() } }); },
        [&] { return WriteKey(HKEY_CLASSES_ROOT, kVersionIndependentProgId, { { nullptr, kClassFriendlyName } }); },
        [&] {
            return WriteKey(HKEY_CLASSES_ROOT, std::string(kVersionIndependentProgId) + "\\CLSID",
                { { nullptr, ClsidText() } });
        },
        [&] {
            return WriteKey(HKEY_CLASSES_ROOT, std::string(kVersionIndependentProgId) + "\\CurVer",
                { { nullptr, kProgId } });
        },
        [&] { return DeleteTreeIfPresent(HKEY_CLASSES_ROOT, classKey); },
        [&] { return WriteKey(HKEY_CLASSES_ROOT, classKey, { { nullptr, kClassFriendlyName } }); },
        [&] { return WriteKey(HKEY_CLASSES_ROOT, classKey + "\\ProgID", { { nullptr, kProgId } }); },
        [&] {
            return WriteKey(HKEY_CLASSES_ROOT, classKey + "\\VersionIndependentProgID",
                { { nullptr, kVersionIndependentProgId } });
        },
        [&] { return DeleteTreeIfPresent(HKEY_CLASSES_ROOT, classKey + "\\Programmable"); },
        [&] { return WriteKey(HKEY_CLASSES_ROOT, classKey + "\\Programmable", {}); },
        [&] {
            return WriteKey(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32",
                { { nullptr, modulePath }, { "ThreadingModel", "apartment" } });
        },
        [&] { return WriteKey(HKEY_CLASSES_ROOT, classKey, { { "AppID", AppIdText() } }); },
        [&] {
            return WriteKey(HKEY_CLASSES_ROOT, classKey + "\\TypeLib", { { nullptr, GuidToString(LIBID_QVTovanix) } });
        }));
}

HRESULT UnregisterClass()
{
    return FromWin32(Sequence(
        [&] { return DeleteTreeIfPresent(HKEY_CLASSES_ROOT, kProgId); },
        [&] { return DeleteTreeIfPresent(HKEY_CLASSES_ROOT, kVersionIndependentProgId); },
        [&] { return DeleteTreeIfPresent(HKEY_CLASSES_ROOT, ClassKey()); }));
}

HRESULT RegisterTypeLib(const std::string& modulePath)
{
    // The type information is code inside the module, so the module file
    // itself stands where a type library file would be named.
    const std::string version = TypeLibKey() + "\\1.0";
    const std::string helpDir = std::filesystem::path(modulePath).parent_path().string();
    return FromWin32(Sequence(
        [&] { return WriteKey(HKEY_CLASSES_ROOT, version, { { nullptr, kTypeLibHelpString } }); },
        [&] { return WriteKey(HKEY_CLASSES_ROOT, version + "\\0\\linux", { { nullptr, modulePath } }); },
        [&] { return WriteKey(HKEY_CLASSES_ROOT, version + "\\FLAGS", { { nullptr, "0" } }); },
        [&] { return WriteKey(HKEY_CLASSES_ROOT, version + "\\HELPDIR", { { nullptr, helpDir } }); }));
}

HRESULT UnregisterTypeLib()
{
    LONG r = DeleteTreeIfPresent(HKEY_CLASSES_ROOT, TypeLibKey() + "\\1.0");
    if (r != ERROR_SUCCESS)
        return FromWin32(r);
    // The library's key goes too once no other version is registered in it.
    RegKey lib;
    if (lib.Open(HKEY_CLASSES_ROOT, TypeLibKey().c_str(), KEY_READ) != ERROR_SUCCESS)
        return S_OK;
    DWORD subKeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKey(lib.get(), &subKeys, &values) != ERROR_SUCCESS || subKeys != 0 || values != 0)
        return S_OK;
    lib.Close();
    return FromWin32(DeleteTreeIfPresent(HKEY_CLASSES_ROOT, TypeLibKey()));
}

HRESULT RegisterServer(const std::string& modulePath)
{
    if (modulePath.empty())
        return E_UNEXPECTED;
    HRESULT hr = RunModuleScript(Mode::Register, modulePath);
    if (SUCCEEDED(hr))
        hr = RegisterClass(modulePath);
    if (SUCCEEDED(hr))
        hr = RegisterTypeLib(modulePath);
    return hr;
}

HRESULT UnregisterServer()
{
    HRESULT hr = UnregisterClass();
    if (SUCCEEDED(hr))
        hr = UnregisterTypeLib();
    if (SUCCEEDED(hr))
        hr = RunModuleScript(Mode::Unregister, {});
    return hr;
}

} // namespace registration
