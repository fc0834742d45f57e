#include "module/ModuleIds.h"
#include "tests/module/ModuleFixture.h"

#include <fstream>
#include <set>

namespace {

constexpr const char* kClsid = "{7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F957}";
constexpr const char* kAppId = "{9C4F1E27-3B6A-4D90-8E5B-F2A7C6D13E48}";
const std::string kClasses = "Software\\Classes\\";
const std::string kExtensions = "Software\\Microsoft\\Internet Explorer\\Extensions\\";

using StringValue = std::tuple<std::string, std::string, std::string>; // key, name, text

// The lines Dump() gives for a hive of string values and empty keys; every
// parent key is listed too.
std::vector<std::string> Hive(const std::vector<StringValue>& values, const std::vector<std::string>& emptyKeys)
{
    std::set<std::string> lines;
    auto addKey = [&](const std::string& path) {
        for (auto i = path.find('\\');; i = path.find('\\', i + 1)) {
            lines.insert("KEY " + path.substr(0, i));
            if (i == std::string::npos)
                break;
        }
    };
    for (const auto& [key, name, text] : values) {
        addKey(key);
        lines.insert("VAL " + key + " | " + name + " | 1 | " + text);
    }
    for (const auto& key : emptyKeys)
        addKey(key);
    return { lines.begin(), lines.end() };
}

class Registration : public LoadedModule {
protected:
    // The whole machine hive after one registration, written out by hand.
    static std::vector<std::string> Expected()
    {
        const std::string m = ModuleFile();
        const std::string c = kClasses, cls = c + "CLSID\\" + kClsid, ext = kExtensions + kClsid;
        const std::string tlb = c + "TypeLib\\" + kAppId + "\\1.0";
        return Hive({ { c + "AppID\\" + kAppId, "", "QVTovanix" }, { c + "AppID\\QVTovanix.DLL", "AppID", kAppId },
                        { ext, "", "Quillory" }, { ext, "ButtonText", "Grab" },
                        { ext, "Clsid", "{1FBA04EE-3024-11d2-8F1F-0000F87ABD16}" }, { ext, "Default Visible", "Yes" },
                        { ext, "HotIcon", m + ",201" }, { ext, "Icon", m + ",202" },
                        { ext, "MenuStatusBar", "Grab pictures, flash ainimations, scripts, css" },
                        { ext, "MenuText", "Quillory..." }, { ext, "ClsidExtension", kClsid },
                        { c + "QVTovanix.Tovanix.1", "", "CTovanix Object" }, { c + "QVTovanix.Tovanix.1\\CLSID", "", kClsid },
                        { c + "QVTovanix.Tovanix", "", "CTovanix Object" }, { c + "QVTovanix.Tovanix\\CLSID", "", kClsid },
                        { c + "QVTovanix.Tovanix\\CurVer", "", "QVTovanix.Tovanix.1" },
                        { cls, "", "CTovanix Object" }, { cls, "AppID", kAppId },
                        { cls + "\\ProgID", "", "QVTovanix.Tovanix.1" },
                        { cls + "\\VersionIndependentProgID", "", "QVTovanix.Tovanix" },
                        { cls + "\\InprocServer32", "", m }, { cls + "\\InprocServer32", "ThreadingModel", "apartment" },
                        { cls + "\\TypeLib", "", kAppId }, { tlb, "", "QVTovanix 1.0 Type Library" },
                        { tlb + "\\0\\linux", "", m }, { tlb + "\\FLAGS", "", "0" },
                        { tlb + "\\HELPDIR", "", std::filesystem::path(m).parent_path().string() } },
            { cls + "\\Programmable" });
    }

    static void SetString(HKEY root, const std::string& key, const char* name, const std::string& value)
    {
        RegKey k;
        ASSERT_EQ(k.Create(root, key.c_str()), ERROR_SUCCESS);
        ASSERT_EQ(k.SetStringValue(name, value), ERROR_SUCCESS);
    }
};

TEST_F(Registration, WritesExactlyTheClassProgIdsAppIdTypeLibAndExtensionKeyAndReplacesThemWhole)
{
    ASSERT_EQ(registerServer(), S_OK);
    EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE), Expected());
    // Registration is machine-wide: the user's hive gets nothing.
    EXPECT_TRUE(Dump(HKEY_CURRENT_USER).empty());

    // A second registration leaves nothing of what was added or changed below its keys.
    const std::string cls = std::string("CLSID\\") + kClsid;
    SetString(HKEY_LOCAL_MACHINE, kExtensions + kClsid, "Exec", "/bin/false");
    SetString(HKEY_LOCAL_MACHINE, kExtensions + kClsid + "\\Stale", nullptr, "x");
    SetString(HKEY_CLASSES_ROOT, cls + "\\LocalServer32", nullptr, "/bin/false");
    SetString(HKEY_CLASSES_ROOT, cls + "\\Programmable\\Old", nullptr, "x");
    SetString(HKEY_CLASSES_ROOT, cls + "\\InprocServer32", nullptr, "/stale/path.so");
    ASSERT_EQ(registerServer(), S_OK);
    EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE), Expected());
}

TEST_F(Registration, UnregistrationRemovesItsKeysButKeepsSharedKeysOtherClassesAndOtherTypeLibVersions)
{
    // Another program's class shares HKCR\CLSID and the Extensions key; a
    // later version of the type library shares its key.
    const std::string other = "{11111111-2222-3333-4444-555555555555}";
    const std::string otherTlb = kClasses + "TypeLib\\" + kAppId + "\\2.0";
    SetString(HKEY_CLASSES_ROOT, "CLSID\\" + other, nullptr, "Other");
    SetString(HKEY_LOCAL_MACHINE, kExtensions + other, "ButtonText", "Other");
    SetString(HKEY_LOCAL_MACHINE, otherTlb, nullptr, "QVTovanix 2.0 Type Library");

    EXPECT_EQ(unregisterServer(), S_OK) << "unregistering what was never registered";
    ASSERT_EQ(registerServer(), S_OK);
    ASSERT_EQ(unregisterServer(), S_OK);
    EXPECT_EQ(Dump(HKEY_LOCAL_MACHINE),
        Hive({ { kClasses + "CLSID\\" + other, "", "Other" }, { kExtensions + other, "ButtonText", "Other" },
                 { otherTlb, "", "QVTovanix 2.0 Type Library" } },
            { kClasses + "AppID" }));
    EXPECT_EQ(unregisterServer(), S_OK) << "unregistering twice";
}

TEST_F(Registration, UnwritableMachineHiveFailsWithoutClaimingSuccess)
{
    std::ofstream(dir / "blocker") << "x";
    testsupport::ScopedEnv broken("QUILLORY_REGISTRY_MACHINE", (dir / "blocker" / "machine.reg").string());
    EXPECT_TRUE(FAILED(registerServer()));
}

} // namespace
