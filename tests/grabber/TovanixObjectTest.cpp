// The grabber object as COM sees it: identity, interfaces, reference
// counting, aggregation, the module lock and the settings' save points.
#include "tests/grabber/GrabberFixture.h"

using namespace grabbertest;

namespace {

class TovanixObject : public GrabberTest { };

// An outer object that aggregates a grabber; everything but its own
// interface is the inner object's.
class Outer final : public IUnknown {
public:
    static constexpr IID kOuterOnly = MakeGuid(0x473F686E, 0xEF52, 0x4EA0, 0x98, 0x69, 0xAC, 0xC0, 0xB5, 0x1B, 0x0E, 0xFB);
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid != IID_IUnknown && riid != kOuterOnly)
            return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    IUnknown* inner = nullptr;
    ULONG refs = 1;
};

TEST_F(TovanixObject, AnswersExactlyItsInterfacesWithOneIdentity)
{
    auto object = NewObject();
    ComPtr<IUnknown> identity = object.As<IUnknown>();
    for (const IID& iid : { IID_IUnknown, IID_IDispatch, IID_ITovanix, IID_IObjectWithSite, IID_IOleCommandTarget,
             IID_IProvideClassInfo }) {
        ComPtr<IUnknown> p;
        ASSERT_EQ(object->QueryInterface(iid, p.OutVoid()), S_OK) << GuidToString(iid);
        EXPECT_EQ(p.As<IUnknown>().get(), identity.get()) << GuidToString(iid);
    }
    EXPECT_EQ(object.As<IDispatch>().get(), static_cast<IDispatch*>(object.get())) << "IDispatch is ITovanix itself";
    for (const IID& other : { IID_IClassFactory, IID_IServiceProvider, IID_IWebBrowser2, IID_IHTMLDocument2,
             IID_ITypeInfo, IID_IHtmlDocumentModel }) {
        void* p = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(object->QueryInterface(other, &p), E_NOINTERFACE) << GuidToString(other);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(TovanixObject, EachLiveObjectHoldsOneModuleLockUntilItsLastReleaseAndARefusedOneNone)
{
    const long before = ModuleLockCount();
    ITovanix* a = nullptr;
    ASSERT_EQ(CreateTovanixInstance(nullptr, IID_ITovanix, reinterpret_cast<void**>(&a)), S_OK);
    EXPECT_EQ(ModuleLockCount(), before + 1);
    EXPECT_EQ(a->AddRef(), 2u);
    EXPECT_EQ(a->Release(), 1u);
    EXPECT_EQ(ModuleLockCount(), before + 1);
    EXPECT_EQ(a->Release(), 0u);
    EXPECT_EQ(ModuleLockCount(), before);

    void* p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(CreateTovanixInstance(nullptr, IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(ModuleLockCount(), before);
    EXPECT_EQ(CreateTovanixInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
    {
        // Copies of a lock holder hold one lock each.
        CModuleLockHolder first;
        CModuleLockHolder copy(first);
        EXPECT_EQ(ModuleLockCount(), before + 2);
    }
    EXPECT_EQ(ModuleLockCount(), before);
}

TEST_F(TovanixObject, AggregationOnlyHandsOutTheInnerUnknownAndRunsWithTheOuterIdentity)
{
    Outer outer;
    void* p = reinterpret_cast<void*>(0x1);
    const long before = ModuleLockCount();
    EXPECT_EQ(CreateTovanixInstance(&outer, IID_ITovanix, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(ModuleLockCount(), before);

    IUnknown* inner = nullptr;
    ASSERT_EQ(CreateTovanixInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    outer.inner = inner;
    EXPECT_EQ(ModuleLockCount(), before + 1);

    // The inner unknown answers the grabber's interfaces; those delegate
    // their IUnknown to the outer object.
    ITovanix* tovanix = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_ITovanix, reinterpret_cast<void**>(&tovanix)), S_OK);
    EXPECT_EQ(outer.refs, 2u) << "the reference went to the outer object";
    for (const IID& iid : { Outer::kOuterOnly, IID_IUnknown }) {
        void* viaInterface = nullptr;
        EXPECT_EQ(tovanix->QueryInterface(iid, &viaInterface), S_OK);
        EXPECT_EQ(viaInterface, &outer) << "QueryInterface on an inner interface reaches the outer object";
        outer.Release();
    }
    EXPECT_NE(static_cast<void*>(inner), static_cast<void*>(tovanix)) << "the inner unknown is separate";

    // A grab runs with the outer object as identity and keeps nothing after.
    ULONG refsInRun = 0;
    view->OnDialog("grab", [&](ui::Dialog& d) {
        refsInRun = outer.refs;
        d.PostClose();
    });
    EXPECT_EQ(tovanix->Grab(AsDispatch(Page("http://example.test/")).get()), S_OK);
    EXPECT_GT(refsInRun, 2u) << "the run and the page hold the outer object";
    tovanix->Release();
    EXPECT_EQ(outer.refs, 1u);

    // The object still works and goes when its inner unknown is released.
    EXPECT_EQ(tovanix->Exit(), E_PENDING);
    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(ModuleLockCount(), before);
}

TEST_F(TovanixObject, SettingsAreSavedWhenTakenOffTheSiteAndAgainOnDestruction)
{
    auto object = NewObject();
    auto grabCss = [&]() -> std::vector<std::uint8_t> {
        for (auto& [name, type, data] : Values())
            if (name == "GrabCSS")
                return data;
        return {};
    };
    EXPECT_TRUE(Values().empty()) << "creation only reads";
    InDialog(object, [&] { object->put_GrabCSS(VARIANT_FALSE); });
    EXPECT_TRUE(Values().empty()) << "a run saves nothing";
    object.As<IObjectWithSite>()->SetSite(nullptr);
    EXPECT_EQ(grabCss(), std::vector<std::uint8_t> { 0 });
    InDialog(object, [&] { object->put_GrabCSS(VARIANT_TRUE); });
    object.Reset();
    EXPECT_EQ(grabCss(), std::vector<std::uint8_t> { 1 });
}

TEST_F(TovanixObject, DocumentObjectGivesItsAddressAndModel)
{
    auto model = std::make_shared<html::Document>();
    model->URL = "http://example.test/p?q=\xC3\xA9";
    auto doc = CHtmlDocumentObject::Create(model);
    Bstr url;
    ASSERT_EQ(doc->get_URL(url.Out()), S_OK);
    EXPECT_EQ(url.Utf8(), model->URL);
    EXPECT_EQ(CHtmlDocumentObject::ModelOf(doc.get()), model);
    EXPECT_EQ(CHtmlDocumentObject::ModelOf(Make<PlainDispatch>().get()), nullptr);
    // Script reads the address through dispatch too.
    std::u16string name = u"url";
    OLECHAR* names[] = { name.data() };
    DISPID id = 0;
    ASSERT_EQ(doc->GetIDsOfNames(GUID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(Text(Get(doc.get(), id).result), model->URL);
    EXPECT_FALSE(CHtmlDocumentObject::Create(nullptr));
}

} // namespace
