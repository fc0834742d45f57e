#include "module/ModuleIds.h"
#include "module/VersionInfo.h"
#include "platform/com/ComPtr.h"
#include "tests/module/ModuleFixture.h"

namespace {

class ClassObject : public LoadedModule {
protected:
    ComPtr<IClassFactory> Factory()
    {
        ComPtr<IClassFactory> f;
        EXPECT_EQ(getClassObject(CLSID_Tovanix, IID_IClassFactory, f.OutVoid()), S_OK);
        return f;
    }
};

// An outer object for aggregation that only counts references.
class Outer final : public IUnknown {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    ULONG refs = 1;
};

TEST_F(ClassObject, OnlyTheGrabberClassIsServed)
{
    const std::tuple<GUID, IID, HRESULT> refused[] = { { CLSID_Options, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE },
        { GUID_NULL, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE }, { CLSID_Tovanix, IID_IDispatch, E_NOINTERFACE } };
    for (const auto& [clsid, iid, hr] : refused) {
        void* p = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(getClassObject(clsid, iid, &p), hr) << GuidToString(clsid);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(getClassObject(CLSID_Tovanix, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(ClassObject, CanUnloadNowFollowsObjectLifetimesAndServerLocks)
{
    ASSERT_EQ(canUnloadNow(), S_OK);
    ComPtr<IUnknown> object;
    {
        ComPtr<IClassFactory> factory = Factory();
        ASSERT_TRUE(factory);
        // A held class object keeps the code it points into loaded.
        EXPECT_EQ(canUnloadNow(), S_FALSE);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.OutVoid()), S_OK);
    }
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    ComPtr<IUnknown> second = object;
    object.Reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    second.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);

    // Server locks outlive the class object; an unmatched unlock is refused.
    ASSERT_EQ(Factory()->LockServer(1), S_OK);
    ASSERT_EQ(Factory()->LockServer(1), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    ComPtr<IClassFactory> factory = Factory();
    EXPECT_EQ(factory->LockServer(0), S_OK);
    EXPECT_EQ(factory->LockServer(0), S_OK);
    EXPECT_EQ(factory->LockServer(0), E_UNEXPECTED);
    factory.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(ClassObject, AggregationOnlyForIUnknown)
{
    ComPtr<IClassFactory> factory = Factory();
    ASSERT_TRUE(factory);
    Outer outer;
    void* p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    ComPtr<IUnknown> inner;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, inner.OutVoid()), S_OK);
    ASSERT_TRUE(inner);
    factory.Reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    inner.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
    EXPECT_EQ(outer.refs, 1u);
}

TEST_F(ClassObject, ObjectSavesItsSettingsWhenReleased)
{
    ComPtr<IUnknown> object;
    ASSERT_EQ(Factory()->CreateInstance(nullptr, IID_IUnknown, object.OutVoid()), S_OK);
    object.Reset();
    RegKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\Vornel\\Plugins\\Internet Explorer\\Quillory", KEY_READ),
        ERROR_SUCCESS);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKey(key.get(), nullptr, &values), ERROR_SUCCESS);
    EXPECT_EQ(values, 11u);
}

TEST(ModuleFile, ExportsItsEntryPointsWithCLinkageAndAVersionRecordReading3600)
{
    void* lib = dlopen(QUILLORY_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    for (const char* name : { "DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer",
             "QVTovanixVersionInfo" })
        EXPECT_NE(dlsym(lib, name), nullptr) << name;
    dlclose(lib);
    const auto info = ReadVersionInfo(QUILLORY_MODULE_PATH);
    ASSERT_TRUE(info);
    EXPECT_EQ(FormatProductVersion(*info), "3.6.0.0");
    EXPECT_EQ(info->fileVersionMS, (3u << 16) | 6u);
    EXPECT_EQ(std::string(info->originalFilename), "QVTovanix.dll");
    EXPECT_FALSE(ReadVersionInfo("/nonexistent/libqvtovanix.so"));
}

} // namespace
