// The grabber object created as a browser creates it: by ProgID through the
// registry and the module's own class object.
#include "host/ObjectFactory.h"
#include "module/ModuleIds.h"
#include "tests/module/ModuleFixture.h"

namespace {

class ObjectThroughRegistry : public LoadedModule { };

TEST_F(ObjectThroughRegistry, ClassIsCreatedFromTheRegisteredFileOnlyWhileRegistered)
{
    for (int registered : { 0, 1, 0 }) {
        SCOPED_TRACE(registered ? "registered" : "not registered");
        if (registered) {
            ASSERT_EQ(registerServer(), S_OK);
        } else if (host::InprocServerPath(CLSID_Tovanix)) {
            ASSERT_EQ(unregisterServer(), S_OK);
        }
        ComPtr<IDispatch> object;
        const auto result = host::CreateObjectFromProgId("QVTovanix.Tovanix", object);
        if (!registered) {
            EXPECT_EQ(result.hr, REGDB_E_CLASSNOTREG);
            EXPECT_EQ(result.error, "Quillory is not registered: run `quillory register`");
            EXPECT_FALSE(object);
            continue;
        }
        EXPECT_EQ(host::InprocServerPath(CLSID_Tovanix), ModuleFile());
        ASSERT_TRUE(result) << result.error;
        ASSERT_TRUE(object);
        // The object came from the same module whose lock count this test sees.
        EXPECT_EQ(canUnloadNow(), S_FALSE);
        object.Reset();
        EXPECT_EQ(canUnloadNow(), S_OK);
        host::FreeUnusedLibraries();
    }
}

TEST_F(ObjectThroughRegistry, VersionIndependentProgIdFollowsCurVerAndACurVerLoopEndsTheLookup)
{
    ASSERT_EQ(registerServer(), S_OK);
    ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "QVTovanix.Tovanix\\CLSID"), ERROR_SUCCESS);
    EXPECT_EQ(host::ClsidFromProgId("QVTovanix.Tovanix"), CLSID_Tovanix);
    EXPECT_EQ(host::ClsidFromProgId("QVTovanix.Tovanix.1"), CLSID_Tovanix);
    RegKey k;
    for (auto [from, to] : { std::pair("Loop.A\\CurVer", "Loop.B"), std::pair("Loop.B\\CurVer", "Loop.A") }) {
        ASSERT_EQ(k.Create(HKEY_CLASSES_ROOT, from), ERROR_SUCCESS);
        ASSERT_EQ(k.SetStringValue(nullptr, to), ERROR_SUCCESS);
    }
    EXPECT_FALSE(host::ClsidFromProgId("Loop.A"));
}

TEST_F(ObjectThroughRegistry, MissingModuleFileIsReportedWithTheRegisterHint)
{
    ASSERT_EQ(registerServer(), S_OK);
    RegKey k;
    ASSERT_EQ(k.Open(HKEY_CLASSES_ROOT, ("CLSID\\" + GuidToString(CLSID_Tovanix) + "\\InprocServer32").c_str()),
        ERROR_SUCCESS);
    ASSERT_EQ(k.SetStringValue(nullptr, (dir / "gone.so").string()), ERROR_SUCCESS);
    ComPtr<IUnknown> object;
    const auto result = host::CreateObjectFromProgId("QVTovanix.Tovanix", object);
    EXPECT_TRUE(FAILED(result.hr));
    EXPECT_NE(result.error.find("gone.so"), std::string::npos);
    EXPECT_NE(result.error.find("quillory register"), std::string::npos);
}

} // namespace
