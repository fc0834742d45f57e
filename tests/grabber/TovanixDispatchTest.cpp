// The scripting contract as a browser's script engine sees it: names to
// identifiers, and Invoke with every kind of argument the engine can pass.
#include "tests/grabber/GrabberFixture.h"

#include "grabber/TovanixTypeInfo.h"

#include <map>

using namespace grabbertest;

namespace {

enum : DISPID {
    kGrab = 1, kRootFolder = 3, kGrabFlash = 4, kGrabImage = 5, kExit = 6, kShowHelp = 7, kAutoClose = 8,
    kShowOptions = 9, kShowAbout = 10, kGrabQT = 11, kGrabRP = 12, kGrabMP = 13, kGrabCSS = 14,
    kGrabScript = 15, kSave = 16, kGetData = 17, kLoadText = 18, kSaveInplace = 19, kSelectAll = 20,
    kIsSaved = 21, kBrowseForFolder = 22, kSetDlgSize = 23, kSetData = 24, kCreateXmlDom = 25,
    kStartDownloading = 26, kCheckSavedUrl = 27,
};

const std::map<std::u16string, DISPID> kAllNames = {
    { u"Grab", 1 }, { u"RootFolder", 3 }, { u"get_RootFolder", 3 }, { u"put_RootFolder", 3 },
    { u"GrabFlash", 4 }, { u"get_GrabFlash", 4 }, { u"put_GrabFlash", 4 },
    { u"GrabImage", 5 }, { u"get_GrabImage", 5 }, { u"put_GrabImage", 5 },
    { u"Exit", 6 }, { u"ShowHelp", 7 }, { u"AutoClose", 8 }, { u"get_AutoClose", 8 }, { u"put_AutoClose", 8 },
    { u"ShowOptions", 9 }, { u"ShowAbout", 10 },
    { u"GrabQT", 11 }, { u"get_GrabQT", 11 }, { u"put_GrabQT", 11 },
    { u"GrabRP", 12 }, { u"get_GrabRP", 12 }, { u"put_GrabRP", 12 },
    { u"GrabMP", 13 }, { u"get_GrabMP", 13 }, { u"put_GrabMP", 13 },
    { u"GrabCSS", 14 }, { u"get_GrabCSS", 14 }, { u"put_GrabCSS", 14 },
    { u"GrabScript", 15 }, { u"get_GrabScript", 15 }, { u"put_GrabScript", 15 },
    { u"Save", 16 }, { u"GetData", 17 }, { u"LoadText", 18 }, { u"SaveInplace", 19 },
    { u"SelectAll", 20 }, { u"get_SelectAll", 20 }, { u"put_SelectAll", 20 },
    { u"IsSaved", 21 }, { u"get_IsSaved", 21 }, { u"BrowseForFolder", 22 }, { u"SetDlgSize", 23 },
    { u"SetData", 24 }, { u"CreateXmlDom", 25 }, { u"StartDownloading", 26 }, { u"CheckSavedUrl", 27 },
};

HRESULT IdsOf(IDispatch* d, std::vector<std::u16string> names, std::vector<DISPID>& ids)
{
    std::vector<OLECHAR*> ptrs;
    for (auto& n : names)
        ptrs.push_back(n.data());
    ids.assign(names.size(), 12345);
    return d->GetIDsOfNames(GUID_NULL, ptrs.data(), static_cast<UINT>(ptrs.size()), 0, ids.data());
}

std::u16string Upper(std::u16string s)
{
    for (auto& c : s)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return s;
}

class TovanixDispatch : public GrabberTest {
protected:
    // Runs `body` with the grab dialog open, through dispatch only.
    void WithDialogOpen(const std::function<void(IDispatch*)>& body)
    {
        auto object = NewObject();
        bool ran = false;
        GrabWith(object, "http://example.test/page.html", [&](ui::Dialog& d) {
            body(object.get());
            ran = true;
            d.PostClose();
        });
        ASSERT_TRUE(ran);
    }
};

// ---- GetIDsOfNames ----------------------------------------------------

TEST_F(TovanixDispatch, EveryNameGivesItsIdentifierInAnyLetterCase)
{
    auto object = NewObject();
    ASSERT_EQ(kAllNames.size(), 47u);
    for (const auto& [name, id] : kAllNames) {
        SCOPED_TRACE(Bstr(name).Utf8());
        std::u16string lower = name;
        for (auto& c : lower)
            if (c >= u'A' && c <= u'Z')
                c = static_cast<char16_t>(c - u'A' + u'a');
        std::vector<DISPID> ids;
        ASSERT_EQ(IdsOf(object.get(), { name, lower, Upper(name) }, ids), S_OK);
        EXPECT_EQ(ids, (std::vector<DISPID> { id, id, id }));
    }
}

TEST_F(TovanixDispatch, UnknownNamesAndNearMissesAreRefusedAndStopTheLookup)
{
    auto object = NewObject();
    // Accessor prefixes exist only for read-and-write properties and IsSaved;
    // methods never get them, IsSaved never gets a setter.
    for (std::u16string bad : { u"Unknown", u"put_IsSaved", u"get_Grab", u"put_Save", u"get_Exit",
             u"RootFolder ", u"", u"GrabFlash\u0130", u"set_GrabFlash", u"DebugMode" }) {
        std::vector<DISPID> ids;
        EXPECT_EQ(IdsOf(object.get(), { bad }, ids), DISP_E_UNKNOWNNAME) << Bstr(bad).Utf8();
    }
    std::vector<DISPID> ids;
    EXPECT_EQ(IdsOf(object.get(), { u"rootfolder", u"Nope", u"Exit" }, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids, (std::vector<DISPID> { 3, DISPID_UNKNOWN, 12345 })) << "names after the unknown one are not looked up";
}

// ---- Invoke: dispatch errors -----------------------------------------

TEST_F(TovanixDispatch, MissingParametersAndTooManyArgumentsAreRefusedFirstAndTheResultIsEmptied)
{
    auto object = NewObject();
    Variant result = Variant::FromI4(7);
    EXPECT_EQ(object->Invoke(kExit, GUID_NULL, 0, DISPATCH_METHOD, nullptr, &result, nullptr, nullptr),
        DISP_E_BADVARTYPE);
    // Five arguments, even to an unknown member, are too many before anything else.
    Call five { 99, DISPATCH_METHOD, {} };
    for (int i = 0; i < 5; ++i)
        five.args.push_back(Variant::FromI4(i));
    EXPECT_EQ(Invoke(object.get(), five).hr, DISP_E_BADPARAMCOUNT);
    // A failed call leaves the caller's result empty, whatever it held.
    DISPPARAMS none;
    for (auto [id, flags, hr] : { std::tuple { DISPID(2), WORD(DISPATCH_METHOD), DISP_E_MEMBERNOTFOUND },
             std::tuple { DISPID(kIsSaved), WORD(DISPATCH_PROPERTYGET), E_PENDING } }) {
        VARIANT stale;
        stale.vt = VT_I4;
        stale.lVal = 99;
        EXPECT_EQ(object->Invoke(id, GUID_NULL, 0, flags, &none, &stale, nullptr, nullptr), hr) << id;
        EXPECT_EQ(stale.vt, VT_EMPTY) << id;
    }
}

TEST_F(TovanixDispatch, NamedArgumentsOtherThanOnePropertyPutAreRefused)
{
    auto object = NewObject();
    Variant arg = Variant::FromBool(true);
    DISPID named[2] = { DISPID_PROPERTYPUT, 0 };
    DISPPARAMS p;
    p.rgvarg = &arg;
    p.cArgs = 1;
    p.rgdispidNamedArgs = named;
    p.cNamedArgs = 2;
    EXPECT_EQ(object->Invoke(kGrabFlash, GUID_NULL, 0, DISPATCH_PROPERTYPUT, &p, nullptr, nullptr, nullptr), DISP_E_NONAMEDARGS);
    named[0] = 0;
    p.cNamedArgs = 1;
    EXPECT_EQ(object->Invoke(kGrabFlash, GUID_NULL, 0, DISPATCH_PROPERTYPUT, &p, nullptr, nullptr, nullptr), DISP_E_NONAMEDARGS);
    p.rgdispidNamedArgs = nullptr;
    EXPECT_EQ(object->Invoke(kGrabFlash, GUID_NULL, 0, DISPATCH_PROPERTYPUT, &p, nullptr, nullptr, nullptr), DISP_E_NONAMEDARGS);
    // Named arguments are checked before the member is looked up.
    named[0] = 5;
    p.rgdispidNamedArgs = named;
    EXPECT_EQ(object->Invoke(2, GUID_NULL, 0, DISPATCH_METHOD, &p, nullptr, nullptr, nullptr), DISP_E_NONAMEDARGS);
    // The one accepted form reaches the member (which wants the dialog).
    named[0] = DISPID_PROPERTYPUT;
    EXPECT_EQ(object->Invoke(kGrabFlash, GUID_NULL, 0, DISPATCH_PROPERTYPUT, &p, nullptr, nullptr, nullptr), E_PENDING);
}

// Without the dialog a call that passes the dispatch checks answers
// E_PENDING, so every row tells "refused by dispatch" from "reached".
TEST_F(TovanixDispatch, WrongMemberFlagsOrArgumentCountsAreRefusedBeforeTheMember)
{
    auto object = NewObject();
    const Variant t = Variant::FromBool(true);
    struct Row {
        Call call;
        HRESULT hr;
        const char* why;
    };
    std::vector<Row> rows;
    for (DISPID id : { 2, 0, -1, -3, 28, 1000, 0x7FFFFFFF }) {
        rows.push_back({ { id }, DISP_E_MEMBERNOTFOUND, "identifier outside the table" });
        rows.push_back({ { id, DISPATCH_PROPERTYGET }, DISP_E_MEMBERNOTFOUND, "identifier outside the table" });
    }
    const std::vector<Row> fixed = {
        { { kSave, DISPATCH_METHOD, { Str("u") } }, DISP_E_BADPARAMCOUNT, "Save with one argument" },
        { { kSave, DISPATCH_METHOD, { Str("u"), Str("t"), Str("x") } }, DISP_E_BADPARAMCOUNT, "Save with three" },
        { { kSave, DISPATCH_METHOD, { Str("u"), Str("t") } }, E_PENDING, "Save with two" },
        { { kSave, DISPATCH_PROPERTYGET, { Str("u"), Str("t") } }, E_PENDING, "a method is called with get flags" },
        { { kSave, 0, { Str("u"), Str("t") } }, E_PENDING, "a method is called with no flags" },
        { { kExit, DISPATCH_METHOD, { Str("extra") } }, DISP_E_BADPARAMCOUNT, "Exit with an argument" },
        { { kSetDlgSize, DISPATCH_METHOD, { Variant::FromI4(1) } }, DISP_E_BADPARAMCOUNT, "SetDlgSize with one" },
        { { kSaveInplace, DISPATCH_METHOD, { Str("a"), Str("b"), Str("c"), Str("d") } }, DISP_E_BADPARAMCOUNT,
            "SaveInplace with four" },
        { { kGrabFlash, DISPATCH_METHOD }, DISP_E_MEMBERNOTFOUND, "property called as a method" },
        { { kRootFolder, 0 }, DISP_E_MEMBERNOTFOUND, "property without flags" },
        { { kGrabFlash, DISPATCH_PROPERTYGET, { t } }, DISP_E_BADPARAMCOUNT, "get with an argument" },
        { { kGrabFlash, DISPATCH_PROPERTYPUT }, DISP_E_BADPARAMCOUNT, "put without a value" },
        { { kGrabFlash, DISPATCH_PROPERTYPUT, { t, t } }, DISP_E_BADPARAMCOUNT, "put with two values" },
        { { kGrabFlash, DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT, { t } }, DISP_E_BADPARAMCOUNT,
            "get wins over put: the value is one argument too many" },
        { { kIsSaved, DISPATCH_PROPERTYPUT, { t } }, DISP_E_BADPARAMCOUNT, "IsSaved is read whatever the flags" },
        { { kIsSaved, 0 }, E_PENDING, "IsSaved is read with no flags" },
    };
    rows.insert(rows.end(), fixed.begin(), fixed.end());
    for (const auto& row : rows)
        EXPECT_EQ(Invoke(object.get(), row.call).hr, row.hr) << row.why << " (member " << row.call.id << ")";
}

TEST_F(TovanixDispatch, ArgumentsThatCannotBeConvertedNameTheirReversedIndex)
{
    auto object = NewObject();
    Variant big;
    big.vt = VT_R8;
    big.dblVal = 1e12;
    struct Row {
        Call call;
        UINT argErr;
        const char* why;
    };
    const std::vector<Row> rows = {
        // Save(url, type): arguments reversed, so type is index 0, url index 1.
        { { kSave, DISPATCH_METHOD, { Variant::FromError(1), Str("type") } }, 1, "bad url" },
        { { kSave, DISPATCH_METHOD, { Str("url"), Variant::FromError(1) } }, 0, "bad type" },
        { { kSetDlgSize, DISPATCH_METHOD, { Variant::FromI4(5), Str("wide") } }, 0, "text that is no number" },
        { { kGetData, DISPATCH_METHOD, { big } }, 0, "a number out of range is a failed conversion, not an overflow" },
        { { kSelectAll, DISPATCH_PROPERTYPUT, { Str("maybe") }, true }, 0, "text that is no flag" },
    };
    for (const auto& row : rows) {
        auto r = Invoke(object.get(), row.call);
        EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH) << row.why;
        EXPECT_EQ(r.argErr, row.argErr) << row.why;
    }
    // Grab wants a dispatch: a number is refused, nothing is shown.
    EXPECT_EQ(Invoke(object.get(), { kGrab, DISPATCH_METHOD, { Variant::FromI4(3) } }).hr, DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(view->MessageBoxes().empty());
    // Without puArgErr nothing is written anywhere.
    Variant bad = Variant::FromError(1);
    DISPPARAMS p;
    p.rgvarg = &bad;
    p.cArgs = 1;
    EXPECT_EQ(object->Invoke(kCheckSavedUrl, GUID_NULL, 0, DISPATCH_METHOD, &p, nullptr, nullptr, nullptr), DISP_E_TYPEMISMATCH);
}

TEST_F(TovanixDispatch, ByReferenceArgumentsOfTheDeclaredTypeOrVariantAreFollowed)
{
    auto object = NewObject();
    // CheckSavedUrl needs no dialog: by-reference BSTR and by-reference variant.
    BSTR url = SysAllocString(u"http://x/");
    VARIANT byrefBstr;
    byrefBstr.vt = VT_BYREF | VT_BSTR;
    byrefBstr.pbstrVal = &url;
    DISPPARAMS p;
    p.rgvarg = &byrefBstr;
    p.cArgs = 1;
    Variant result;
    EXPECT_EQ(object->Invoke(kCheckSavedUrl, GUID_NULL, 0, DISPATCH_METHOD, &p, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_UI4);

    Variant inner = Variant::FromI4(800);
    VARIANT byrefVariant;
    byrefVariant.vt = VT_BYREF | VT_VARIANT;
    byrefVariant.pvarVal = &inner;
    VARIANT args[2] = { byrefVariant, byrefVariant }; // dY, dX
    p.rgvarg = args;
    p.cArgs = 2;
    EXPECT_EQ(object->Invoke(kSetDlgSize, GUID_NULL, 0, DISPATCH_METHOD, &p, nullptr, nullptr, nullptr), S_OK);

    // A reference to a value of another type is not converted.
    LONG number = 5;
    VARIANT byrefI4;
    byrefI4.vt = VT_BYREF | VT_I4;
    byrefI4.plVal = &number;
    p.rgvarg = &byrefI4;
    p.cArgs = 1;
    UINT argErr = 77;
    EXPECT_EQ(object->Invoke(kCheckSavedUrl, GUID_NULL, 0, DISPATCH_METHOD, &p, nullptr, nullptr, &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    // A variant reference is followed once: a reference to a reference of
    // another type is refused; so is a null reference.
    VARIANT viaVariant;
    viaVariant.vt = VT_BYREF | VT_VARIANT;
    viaVariant.pvarVal = &byrefI4;
    p.rgvarg = &viaVariant;
    EXPECT_EQ(object->Invoke(kCheckSavedUrl, GUID_NULL, 0, DISPATCH_METHOD, &p, nullptr, nullptr, &argErr), DISP_E_TYPEMISMATCH);
    viaVariant.pvarVal = nullptr;
    EXPECT_EQ(object->Invoke(kCheckSavedUrl, GUID_NULL, 0, DISPATCH_METHOD, &p, nullptr, nullptr, &argErr), DISP_E_TYPEMISMATCH);
    byrefBstr.pbstrVal = nullptr;
    p.rgvarg = &byrefBstr;
    EXPECT_EQ(object->Invoke(kCheckSavedUrl, GUID_NULL, 0, DISPATCH_METHOD, &p, nullptr, nullptr, &argErr), DISP_E_TYPEMISMATCH);
    SysFreeString(url);
}

// ---- Invoke: results and conversions with the dialog open ---------------

TEST_F(TovanixDispatch, ResultsCarryTheirDeclaredTypes)
{
    WithDialogOpen([](IDispatch* d) {
        const std::vector<std::pair<Call, VARTYPE>> rows = {
            { { kGrabFlash, DISPATCH_PROPERTYGET }, VT_BOOL }, { { kRootFolder, DISPATCH_PROPERTYGET }, VT_BSTR },
            { { kSave, DISPATCH_METHOD, { Str("http://a/"), Str("img") } }, VT_I4 }, { { kIsSaved }, VT_BOOL },
            { { kCheckSavedUrl, DISPATCH_METHOD, { Str("http://a/") } }, VT_UI4 }, { { kCreateXmlDom }, VT_DISPATCH },
            { { kGrabCSS, DISPATCH_PROPERTYPUT, { Variant::FromBool(false) }, true }, VT_EMPTY }, // a setter gives nothing back
            { { kExit }, VT_EMPTY },
        };
        for (const auto& [call, vt] : rows) {
            auto r = Invoke(d, call);
            EXPECT_EQ(r.hr, S_OK) << "member " << call.id;
            EXPECT_EQ(r.result.vt, vt) << "member " << call.id;
            // The values of a fresh grab: flags on, nothing saved yet.
            if (vt == VT_BOOL) {
                EXPECT_EQ(r.result.boolVal, call.id == kIsSaved ? VARIANT_FALSE : VARIANT_TRUE) << "member " << call.id;
            } else if (vt == VT_I4 || vt == VT_UI4) {
                EXPECT_EQ(r.result.lVal, 0) << "member " << call.id;
            } else if (vt == VT_DISPATCH) {
                EXPECT_NE(r.result.pdispVal, nullptr);
            }
        }
    });
}

TEST_F(TovanixDispatch, ScriptValuesConvertToFlagsAsAutomationDoes)
{
    WithDialogOpen([](IDispatch* d) {
        Variant zeroReal;
        zeroReal.vt = VT_R8;
        zeroReal.dblVal = 0.0;
        const std::vector<std::pair<Variant, VARIANT_BOOL>> cases = { { Variant::FromI4(0), VARIANT_FALSE },
            { Variant::FromI4(-5), VARIANT_TRUE }, { Str("true"), VARIANT_TRUE }, { Str("False"), VARIANT_FALSE },
            { Str("2"), VARIANT_TRUE }, { zeroReal, VARIANT_FALSE } };
        for (const auto& [value, expected] : cases) {
            ASSERT_EQ(Put(d, kSelectAll, value).hr, S_OK);
            EXPECT_EQ(Get(d, kSelectAll).result.boolVal, expected);
        }
    });
}

TEST_F(TovanixDispatch, EveryFlagPropertyReachesItsOwnSettingAndOnlyVariantTrueStoresOn)
{
    auto object = NewObject();
    const std::vector<std::pair<DISPID, std::uint8_t CTovanixSettings::*>> flags = {
        { kGrabFlash, &CTovanixSettings::GrabFlash }, { kGrabImage, &CTovanixSettings::GrabPictures },
        { kAutoClose, &CTovanixSettings::AutoClose }, { kGrabQT, &CTovanixSettings::GrabQuickTime },
        { kGrabRP, &CTovanixSettings::GrabRealPlayer }, { kGrabMP, &CTovanixSettings::GrabMediaPlayer },
        { kGrabCSS, &CTovanixSettings::GrabCSS }, { kGrabScript, &CTovanixSettings::GrabScripts },
        { kSelectAll, &CTovanixSettings::SelectAll },
    };
    GrabWith(object, "http://example.test/", [&](ui::Dialog& dlg) {
        for (const auto& [id, member] : flags) {
            // Turn exactly one flag over and check nothing else moved.
            const CTovanixSettings before = Impl(object).Settings();
            const bool wasOn = before.*member != 0;
            ASSERT_EQ(Put(object.get(), id, Variant::FromBool(!wasOn)).hr, S_OK);
            const CTovanixSettings after = Impl(object).Settings();
            EXPECT_EQ(after.*member, wasOn ? 0 : 1) << id;
            for (const auto& [otherId, other] : flags) {
                if (otherId != id) {
                    EXPECT_EQ(after.*other, before.*other) << id << " moved " << otherId;
                }
            }
            EXPECT_EQ(Get(object.get(), id).result.boolVal, wasOn ? VARIANT_FALSE : VARIANT_TRUE);
        }
        // A number 1 through dispatch converts to VARIANT_TRUE and stores on;
        // the same 1 passed directly is no VARIANT_TRUE and stores off.
        EXPECT_EQ(Put(object.get(), kGrabFlash, Variant::FromI4(1)).hr, S_OK);
        EXPECT_EQ(Impl(object).Settings().GrabFlash, 1);
        EXPECT_EQ(object->put_GrabFlash(1), S_OK);
        EXPECT_EQ(Impl(object).Settings().GrabFlash, 0);
        EXPECT_EQ(object->put_GrabFlash(VARIANT_TRUE), S_OK);
        EXPECT_EQ(Impl(object).Settings().GrabFlash, 1);
        dlg.PostClose();
    });
}

TEST_F(TovanixDispatch, EveryMemberThatNeedsTheDialogAnswersPendingWithoutIt)
{
    auto object = NewObject();
    const std::vector<Call> calls = {
        { kRootFolder, DISPATCH_PROPERTYGET }, { kRootFolder, DISPATCH_PROPERTYPUT, { Str("/tmp") }, true },
        { kGrabFlash, DISPATCH_PROPERTYGET }, { kGrabImage, DISPATCH_PROPERTYGET }, { kExit }, { kShowHelp },
        { kAutoClose, DISPATCH_PROPERTYGET }, { kShowOptions }, { kShowAbout }, { kGrabQT, DISPATCH_PROPERTYGET },
        { kGrabRP, DISPATCH_PROPERTYGET }, { kGrabMP, DISPATCH_PROPERTYGET }, { kGrabCSS, DISPATCH_PROPERTYGET },
        { kGrabScript, DISPATCH_PROPERTYGET }, { kSave, DISPATCH_METHOD, { Str("u"), Str("t") } },
        { kGetData, DISPATCH_METHOD, { Variant::FromI4(0) } }, { kLoadText, DISPATCH_METHOD, { Str("u") } },
        { kSaveInplace, DISPATCH_METHOD, { Str("u"), Str("t"), Str("v") } }, { kSelectAll, DISPATCH_PROPERTYGET },
        { kSelectAll, DISPATCH_PROPERTYPUT, { Variant::FromBool(false) }, true }, { kIsSaved, DISPATCH_PROPERTYGET },
        { kBrowseForFolder }, { kSetData, DISPATCH_METHOD, { Variant::FromI4(0), Str("x") } },
    };
    const CTovanixSettings before = Impl(object).Settings();
    for (const auto& c : calls) {
        auto r = Invoke(object.get(), c);
        EXPECT_EQ(r.hr, E_PENDING) << "member " << c.id;
        EXPECT_EQ(r.result.vt, VT_EMPTY) << "member " << c.id;
    }
    EXPECT_TRUE(Impl(object).SaveSet().empty());
    EXPECT_EQ(Impl(object).Settings().SelectAll, before.SelectAll);
    EXPECT_EQ(Impl(object).Settings().RootFolder, before.RootFolder);
    EXPECT_TRUE(view->MessageBoxes().empty());
    EXPECT_TRUE(view->FolderBrowserTitles().empty());
}

// ---- Type information ----------------------------------------------------

TEST_F(TovanixDispatch, TypeInformationNamesTheSameMembers)
{
    auto object = NewObject();
    UINT count = 0;
    EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(object->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);
    ASSERT_EQ(object->GetTypeInfo(0, 0, &info), S_OK);
    GUID guid;
    EXPECT_EQ(info->GetGuid(&guid), S_OK);
    EXPECT_EQ(guid, IID_ITovanix);
    const OLECHAR* names[] = { u"saveinplace", u"VALUE", u"url" };
    MEMBERID ids[3] = {};
    EXPECT_EQ(info->GetIDsOfNames(names, 3, ids), S_OK);
    EXPECT_EQ(ids[0], 19);
    EXPECT_EQ(ids[1], 2);
    EXPECT_EQ(ids[2], 0);
    BSTR got[4] = {};
    UINT n = 0;
    ASSERT_EQ(info->GetNames(16, got, 4, &n), S_OK);
    ASSERT_EQ(n, 3u);
    EXPECT_EQ(Bstr::Attach(got[0]).Utf8(), "Save");
    EXPECT_EQ(Bstr::Attach(got[1]).Utf8(), "url");
    EXPECT_EQ(Bstr::Attach(got[2]).Utf8(), "type");
    EXPECT_EQ(info->GetNames(2, got, 4, &n), TYPE_E_ELEMENTNOTFOUND);
    info->Release();

    auto classInfo = ComPtr<ITovanix>(object).As<IProvideClassInfo>();
    ASSERT_TRUE(classInfo);
    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(classInfo->GetClassInfo(&coclass), S_OK);
    EXPECT_EQ(coclass->GetGuid(&guid), S_OK);
    EXPECT_EQ(GuidToString(guid), "{7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F957}");
    ITypeInfo* again = nullptr;
    classInfo->GetClassInfo(&again);
    EXPECT_EQ(again, coclass) << "loaded once, then the same";
    coclass->Release();
    again->Release();
}

} // namespace
