#include "module/ModuleIds.h"
#include "tests/module/ModuleFixture.h"

#include <algorithm>
#include <fstream>

namespace {

constexpr const char* kClsid = "{7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F957}";
constexpr const char* kAppId = "{9C4F1E27-3B6A-4D90-8E5B-F2A7C6D13E48}";

std::string Str(const std::string& path, const std::string& name, const std::string& text)
{
    return "VAL " + path + " | " + name + " | 1 | " + text;
}

class Registration : public LoadedModule {
protected:
    // The whole machine hive after one registration, written out by hand.
    std::vector<std::string> Expected() const
    {
        const std::string m = ModuleFile();
        const std::string c = std::string("Software\\Classes\\");
        const std::string cls = c + "CLSID\\" + kClsid;
        const std::string ext = std::string("Software\\Microsoft\\Internet Explorer\\Extensions\\") + kClsid;
        const std::string tlb = c + "TypeLib\\" + kAppId;
        std::vector<std::string> lines {
            "KEY Software",
            "KEY Software\\Classes",
            "KEY " + c + "AppID",
            "KEY " + c + "AppID\\" + kAppId,
            Str(c + "AppID\\" + kAppId, "", "QVTovanix"),
            "KEY " + c + "AppID\\QVTovanix.DLL",
            Str(c + "AppID\\QVTovanix.DLL", "AppID", kAppId),
            "KEY Software\\Microsoft",
            "KEY Software\\Microsoft\\Internet Explorer",
            "KEY Software\\Microsoft\\Internet Explorer\\Extensions",
            "KEY " + ext,
            Str(ext, "", "Quillory"),
            Str(ext, "ButtonText", "Grab"),
            Str(ext, "Clsid", "{1FBA04EE-3024-11d2-8F1F-0000F87ABD16}"),
            Str(ext, "Default Visible", "Yes"),
            Str(ext, "HotIcon", m + ",201"),
            Str(ext, "Icon", m + ",202"),
            Str(ext, "MenuStatusBar", "Grab pictures, flash ainimations, scripts, css"),
            Str(ext, "MenuText", "Quillory..."),
            Str(ext, "ClsidExtension", kClsid),
            "KEY " + c + "QVTovanix.Tovanix.1",
            Str(c + "QVTovanix.Tovanix.1", "", "CTovanix Object"),
            "KEY " + c + "QVTovanix.Tovanix.1\\CLSID",
            Str(c + "QVTovanix.Tovanix.1\\CLSID", "", kClsid),
            "KEY " + c + "QVTovanix.Tovanix",
            Str(c + "QVTovanix.Tovanix", "", "CTovanix Object"),
            "KEY " + c + "QVTovanix.Tovanix\\CLSID",
            Str(c + "QVTovanix.Tovanix\\CLSID", "", kClsid),
            "KEY " + c + "QVTovanix.Tovanix\\CurVer",
            Str(c + "QVTovanix.Tovanix\\CurVer", "", "QVTovanix.Tovanix.1"),
            "KEY " + c + "CLSID",
            "KEY " + cls,
            Str(cls, "", "CTovanix Object"),
            Str(cls, "AppID", kAppId),
            "KEY " + cls + "\\ProgID",
            Str(cls + "\\ProgID", "", "QVTovanix.Tovanix.1"),
            "KEY " + cls + "\\VersionIndependentProgID",
            Str(cls + "\\VersionIndependentProgID", "", "QVTovanix.Tovanix"),
            "KEY " + cls + "\\Programmable",
            "KEY " + cls + "\\InprocServer32",
            Str(cls + "\\InprocServer32", "", m),
            Str(cls + "\\InprocServer32", "ThreadingModel", "apartment"),
            "KEY " + cls + "\\TypeLib",
            Str(cls + "\\TypeLib", "", kAppId),
            "KEY " + c + "TypeLib",
            "KEY " + tlb,
            "KEY " + tlb + "\\1.0",
            Str(tlb + "\\1.0", "", "QVTovanix 1.0 Type Library"),
            "KEY " + tlb + "\\1.0\\0",
            "KEY " + tlb + "\\1.0\\0\\linux",
            Str(tlb + "\\1.0\\0\\linux", "", m),
            "KEY " + tlb + "\\1.0\\FLAGS",
            Str(tlb + "\\1.0\\FLAGS", "", "0"),
            "KEY " + tlb + "\\1.0\\HELPDIR",
            Str(tlb + "\\1.0\\HELPDIR", "", std::filesystem::path(m).parent_path().string()),
        };
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    static void SetString(HKEY root, const std::string& key, const char* name, const std::string& value)
    {
        RegKey k;
        ASSERT_EQ(k.Create(root, key.c_str()), ERROR_SUCCESS);
        ASSERT_EQ(k.SetStringValue(name, value), ERROR_SUCCESS);
    }
};

TEST_F(Registration, WritesExactlyTheClassProgIdsAppIdTypeLibAndExtensionKey)
{
    ASSERT_EQ(registerServer(), S_OK);
    EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE), Expected());
    // Registration is machine-wide: the user's hive gets nothing.
    EXPECT_TRUE(Dump(HKEY_CURRENT_USER).empty());
}

TEST_F(Registration, SecondRegistrationReplacesExtensionAndClassKeysWhole)
{
    ASSERT_EQ(registerServer(), S_OK);
    const std::string ext = std::string("Software\\Microsoft\\Internet Explorer\\Extensions\\") + kClsid;
    const std::string cls = std::string("CLSID\\") + kClsid;
    SetString(HKEY_LOCAL_MACHINE, ext, "Exec", "/bin/false");
    SetString(HKEY_LOCAL_MACHINE, ext + "\\Stale", nullptr, "x");
    SetString(HKEY_CLASSES_ROOT, cls + "\\LocalServer32", nullptr, "/bin/false");
    SetString(HKEY_CLASSES_ROOT, cls + "\\Programmable\\Old", nullptr, "x");
    SetString(HKEY_CLASSES_ROOT, cls + "\\InprocServer32", nullptr, "/stale/path.so");

    ASSERT_EQ(registerServer(), S_OK);
    EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE), Expected());
}

TEST_F(Registration, UnregistrationRemovesItsKeysButKeepsAppIdAndClsid)
{
    // Another program's class shares HKCR\CLSID and the Extensions key.
    const std::string other = "{11111111-2222-3333-4444-555555555555}";
    SetString(HKEY_CLASSES_ROOT, "CLSID\\" + other, nullptr, "Other");
    SetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer\\Extensions\\" + other, "ButtonText", "Other");

    ASSERT_EQ(registerServer(), S_OK);
    ASSERT_EQ(unregisterServer(), S_OK);
    std::vector<std::string> expected {
        "KEY Software",
        "KEY Software\\Classes",
        "KEY Software\\Classes\\AppID",
        "KEY Software\\Classes\\CLSID",
        "KEY Software\\Classes\\CLSID\\" + other,
        Str("Software\\Classes\\CLSID\\" + other, "", "Other"),
        "KEY Software\\Classes\\TypeLib",
        "KEY Software\\Microsoft",
        "KEY Software\\Microsoft\\Internet Explorer",
        "KEY Software\\Microsoft\\Internet Explorer\\Extensions",
        "KEY Software\\Microsoft\\Internet Explorer\\Extensions\\" + other,
        Str("Software\\Microsoft\\Internet Explorer\\Extensions\\" + other, "ButtonText", "Other"),
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE), expected);
}

TEST_F(Registration, UnregisteringWhatWasNeverRegisteredSucceeds)
{
    EXPECT_EQ(unregisterServer(), S_OK);
    ASSERT_EQ(registerServer(), S_OK);
    ASSERT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(unregisterServer(), S_OK);
}

TEST_F(Registration, TypeLibKeyStaysWhileAnotherVersionIsRegistered)
{
    const std::string tlb = std::string("TypeLib\\") + kAppId;
    SetString(HKEY_CLASSES_ROOT, tlb + "\\2.0", nullptr, "QVTovanix 2.0 Type Library");
    ASSERT_EQ(registerServer(), S_OK);
    ASSERT_EQ(unregisterServer(), S_OK);
    RegKey k;
    EXPECT_EQ(k.Open(HKEY_CLASSES_ROOT, (tlb + "\\2.0").c_str(), KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(k.Open(HKEY_CLASSES_ROOT, (tlb + "\\1.0").c_str(), KEY_READ), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registration, UnwritableMachineHiveFailsWithoutClaimingSuccess)
{
    std::ofstream(dir / "blocker") << "x";
    testsupport::ScopedEnv broken("QUILLORY_REGISTRY_MACHINE", (dir / "blocker" / "machine.reg").string());
    EXPECT_TRUE(FAILED(registerServer()));
}

} // namespace
