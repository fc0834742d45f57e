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

// Every name script may use: read-and-write properties also answer to
// get_/put_ forms, IsSaved to get_ only, methods to their bare name.
std::map<std::u16string, DISPID> AllNames()
{
    std::map<std::u16string, DISPID> names;
    const std::tuple<std::u16string, DISPID, int> members[] = { { u"Grab", 1, 0 }, { u"RootFolder", 3, 2 },
        { u"GrabFlash", 4, 2 }, { u"GrabImage", 5, 2 }, { u"Exit", 6, 0 }, { u"ShowHelp", 7, 0 }, { u"AutoClose", 8, 2 },
        { u"ShowOptions", 9, 0 }, { u"ShowAbout", 10, 0 }, { u"GrabQT", 11, 2 }, { u"GrabRP", 12, 2 },
        { u"GrabMP", 13, 2 }, { u"GrabCSS", 14, 2 }, { u"GrabScript", 15, 2 }, { u"Save", 16, 0 }, { u"GetData", 17, 0 },
        { u"LoadText", 18, 0 }, { u"SaveInplace", 19, 0 }, { u"SelectAll", 20, 2 }, { u"IsSaved", 21, 1 },
        { u"BrowseForFolder", 22, 0 }, { u"SetDlgSize", 23, 0 }, { u"SetData", 24, 0 }, { u"CreateXmlDom", 25, 0 },
        { u"StartDownloading", 26, 0 }, { u"CheckSavedUrl", 27, 0 } };
    for (const auto& [name, id, accessors] : members) {
        names[name] = id;
        if (accessors >= 1)
            names[u"get_" + name] = id;
        if (accessors == 2)
            names[u"put_" + name] = id;
    }
    return names;
}

HRESULT IdsOf(IDispatch* d, std::vector<std::u16string> names, std::vector<DISPID>& ids)
{
    std::vector<OLECHAR*> ptrs;
    for (auto& n : names)
        ptrs.push_back(n.data());
    ids.assign(names.size(), 12345);
    return d->GetIDsOfNames(GUID_NULL, ptrs.data(), static_cast<UINT>(ptrs.size()), 0, ids.data());
}

// Invoke with hand-made parameters (already in reversed order), for what a Call cannot express.
struct Raw {
    DISPID id;
    WORD flags;
    std::vector<VARIANT> args;
    std::vector<DISPID> named {};
    bool nullNamed = false; // a count of named arguments without the array
};
HRESULT RawInvoke(IDispatch* d, Raw r, UINT* argErr = nullptr, VARIANT* result = nullptr)
{
    DISPPARAMS p;
    p.rgvarg = r.args.empty() ? nullptr : r.args.data();
    p.cArgs = static_cast<UINT>(r.args.size());
    p.rgdispidNamedArgs = r.named.empty() || r.nullNamed ? nullptr : r.named.data();
    p.cNamedArgs = static_cast<UINT>(r.named.size());
    return d->Invoke(r.id, GUID_NULL, 0, r.flags, &p, result, nullptr, argErr);
}

class TovanixDispatch : public GrabberTest { };

TEST_F(TovanixDispatch, EveryNameGivesItsIdentifierInAnyLetterCase)
{
    auto object = NewObject();
    const auto names = AllNames();
    ASSERT_EQ(names.size(), 47u);
    for (const auto& [name, id] : names) {
        SCOPED_TRACE(Bstr(name).Utf8());
        std::u16string lower = name, upper = name;
        for (std::size_t i = 0; i < name.size(); ++i) {
            lower[i] = name[i] >= u'A' && name[i] <= u'Z' ? name[i] - u'A' + u'a' : name[i];
            upper[i] = name[i] >= u'a' && name[i] <= u'z' ? name[i] - u'a' + u'A' : name[i];
        }
        std::vector<DISPID> ids;
        ASSERT_EQ(IdsOf(object.get(), { name, lower, upper }, ids), S_OK);
        EXPECT_EQ(ids, (std::vector<DISPID> { id, id, id }));
    }
}

TEST_F(TovanixDispatch, UnknownNamesAndNearMissesAreRefusedAndStopTheLookup)
{
    auto object = NewObject();
    std::vector<DISPID> ids;
    // Accessor prefixes exist only for read-and-write properties and IsSaved.
    for (std::u16string bad : { u"Unknown", u"put_IsSaved", u"get_Grab", u"put_Save", u"get_Exit",
             u"RootFolder ", u"", u"GrabFlash\u0130", u"set_GrabFlash", u"DebugMode" })
        EXPECT_EQ(IdsOf(object.get(), { bad }, ids), DISP_E_UNKNOWNNAME) << Bstr(bad).Utf8();
    EXPECT_EQ(IdsOf(object.get(), { u"rootfolder", u"Nope", u"Exit" }, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids, (std::vector<DISPID> { 3, DISPID_UNKNOWN, 12345 })) << "names after the unknown one are not looked up";
}

// Without the dialog a call that passes the dispatch checks answers
// E_PENDING, so every row tells "refused by dispatch" from "reached".
TEST_F(TovanixDispatch, MalformedParametersAreRefusedBeforeTheMemberAndTheResultIsEmptied)
{
    auto object = NewObject();
    Variant result = Variant::FromI4(7);
    EXPECT_EQ(object->Invoke(kExit, GUID_NULL, 0, DISPATCH_METHOD, nullptr, &result, nullptr, nullptr), DISP_E_BADVARTYPE);
    const VARIANT t = Variant::FromBool(true);
    const std::vector<std::pair<Raw, HRESULT>> rows = {
        // Five arguments, even to an unknown member, are too many before anything else.
        { { 99, DISPATCH_METHOD, std::vector<VARIANT>(5, t) }, DISP_E_BADPARAMCOUNT },
        // Named arguments are refused except one DISPID_PROPERTYPUT, before the member is looked up.
        { { kGrabFlash, DISPATCH_PROPERTYPUT, { t }, { DISPID_PROPERTYPUT, 0 } }, DISP_E_NONAMEDARGS },
        { { kGrabFlash, DISPATCH_PROPERTYPUT, { t }, { 0 } }, DISP_E_NONAMEDARGS },
        { { kGrabFlash, DISPATCH_PROPERTYPUT, { t }, { DISPID_PROPERTYPUT }, true }, DISP_E_NONAMEDARGS },
        { { 2, DISPATCH_METHOD, { t }, { 5 } }, DISP_E_NONAMEDARGS },
        { { kGrabFlash, DISPATCH_PROPERTYPUT, { t }, { DISPID_PROPERTYPUT } }, E_PENDING },
        // A failed call leaves the caller's result empty, whatever it held (checked for these two).
        { { 2, DISPATCH_METHOD, {} }, DISP_E_MEMBERNOTFOUND },
        { { kIsSaved, DISPATCH_PROPERTYGET, {} }, E_PENDING },
    };
    for (const auto& [raw, hr] : rows) {
        VARIANT stale;
        stale.vt = VT_I4;
        stale.lVal = 99;
        EXPECT_EQ(RawInvoke(object.get(), raw, nullptr, &stale), hr) << "member " << raw.id;
        if (raw.args.empty()) {
            EXPECT_EQ(stale.vt, VT_EMPTY) << "member " << raw.id;
        }
    }
}

TEST_F(TovanixDispatch, WrongMemberFlagsOrArgumentCountsAreRefusedBeforeTheMember)
{
    auto object = NewObject();
    const Variant t = Variant::FromBool(true);
    struct Row {
        Call call;
        HRESULT hr;
        const char* why;
    };
    std::vector<Row> rows = {
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
    for (DISPID id : { 2, 0, -1, -3, 28, 1000, 0x7FFFFFFF })
        for (WORD flags : { DISPATCH_METHOD, DISPATCH_PROPERTYGET })
            rows.push_back({ { id, flags }, DISP_E_MEMBERNOTFOUND, "identifier outside the table" });
    for (const auto& row : rows)
        EXPECT_EQ(Invoke(object.get(), row.call).hr, row.hr) << row.why << " (member " << row.call.id << ")";
}

TEST_F(TovanixDispatch, ArgumentsThatCannotBeConvertedNameTheirReversedIndex)
{
    auto object = NewObject();
    Variant big;
    big.vt = VT_R8;
    big.dblVal = 1e12;
    const std::vector<std::tuple<Call, UINT, const char*>> rows = {
        // Save(url, type): arguments reversed, so type is index 0, url index 1.
        { { kSave, DISPATCH_METHOD, { Variant::FromError(1), Str("type") } }, 1, "bad url" },
        { { kSave, DISPATCH_METHOD, { Str("url"), Variant::FromError(1) } }, 0, "bad type" },
        { { kSetDlgSize, DISPATCH_METHOD, { Variant::FromI4(5), Str("wide") } }, 0, "text that is no number" },
        { { kGetData, DISPATCH_METHOD, { big } }, 0, "a number out of range is a failed conversion, not an overflow" },
        { { kSelectAll, DISPATCH_PROPERTYPUT, { Str("maybe") }, true }, 0, "text that is no flag" },
    };
    for (const auto& [call, argErr, why] : rows) {
        auto r = Invoke(object.get(), call);
        EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH) << why;
        EXPECT_EQ(r.argErr, argErr) << why;
    }
    // Grab wants a dispatch: a number is refused, nothing is shown.
    EXPECT_EQ(Invoke(object.get(), { kGrab, DISPATCH_METHOD, { Variant::FromI4(3) } }).hr, DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(view->MessageBoxes().empty());
    // Without puArgErr nothing is written anywhere.
    EXPECT_EQ(RawInvoke(object.get(), { kCheckSavedUrl, DISPATCH_METHOD, { Variant::FromError(1) } }),
        DISP_E_TYPEMISMATCH);
}

TEST_F(TovanixDispatch, ByReferenceArgumentsOfTheDeclaredTypeOrVariantAreFollowedOnce)
{
    auto object = NewObject();
    BSTR url = SysAllocString(u"http://x/");
    Variant inner = Variant::FromI4(800);
    LONG number = 5;
    VARIANT byrefBstr, byrefVariant, byrefI4, viaVariant, nullBstr, nullVariant;
    byrefBstr.vt = nullBstr.vt = VT_BYREF | VT_BSTR;
    byrefBstr.pbstrVal = &url;
    nullBstr.pbstrVal = nullptr;
    byrefVariant.vt = viaVariant.vt = nullVariant.vt = VT_BYREF | VT_VARIANT;
    byrefVariant.pvarVal = &inner;
    byrefI4.vt = VT_BYREF | VT_I4;
    byrefI4.plVal = &number;
    viaVariant.pvarVal = &byrefI4;
    nullVariant.pvarVal = nullptr;
    // CheckSavedUrl needs no dialog, so a followed reference answers S_OK.
    const std::vector<std::tuple<DISPID, std::vector<VARIANT>, HRESULT, const char*>> rows = {
        { kCheckSavedUrl, { byrefBstr }, S_OK, "reference to a BSTR" },
        { kSetDlgSize, { byrefVariant, byrefVariant }, S_OK, "references to variants" },
        { kCheckSavedUrl, { byrefI4 }, DISP_E_TYPEMISMATCH, "a reference to another type is not converted" },
        { kCheckSavedUrl, { viaVariant }, DISP_E_TYPEMISMATCH, "a variant reference is followed only once" },
        { kCheckSavedUrl, { nullVariant }, DISP_E_TYPEMISMATCH, "null variant reference" },
        { kCheckSavedUrl, { nullBstr }, DISP_E_TYPEMISMATCH, "null BSTR reference" },
    };
    for (const auto& [id, args, hr, why] : rows) {
        UINT argErr = 77;
        Variant result;
        EXPECT_EQ(RawInvoke(object.get(), { id, DISPATCH_METHOD, args }, &argErr, &result), hr) << why;
        if (FAILED(hr)) {
            EXPECT_EQ(argErr, 0u) << why;
        } else if (id == kCheckSavedUrl) {
            EXPECT_EQ(result.vt, VT_UI4);
        }
    }
    SysFreeString(url);
}

TEST_F(TovanixDispatch, ResultsCarryTheirDeclaredTypes)
{
    auto object = NewObject();
    InDialog(object, [&] {
        const std::vector<std::pair<Call, VARTYPE>> rows = {
            { { kGrabFlash, DISPATCH_PROPERTYGET }, VT_BOOL }, { { kRootFolder, DISPATCH_PROPERTYGET }, VT_BSTR },
            { { kSave, DISPATCH_METHOD, { Str("http://a/"), Str("img") } }, VT_I4 }, { { kIsSaved }, VT_BOOL },
            { { kCheckSavedUrl, DISPATCH_METHOD, { Str("http://a/") } }, VT_UI4 }, { { kCreateXmlDom }, VT_DISPATCH },
            { { kGrabCSS, DISPATCH_PROPERTYPUT, { Variant::FromBool(false) }, true }, VT_EMPTY }, // a setter gives nothing back
            { { kExit }, VT_EMPTY },
        };
        for (const auto& [call, vt] : rows) {
            SCOPED_TRACE(call.id);
            auto r = Invoke(object.get(), call);
            EXPECT_EQ(r.hr, S_OK);
            EXPECT_EQ(r.result.vt, vt);
            // The values of a fresh grab: flags on, nothing saved yet.
            if (vt == VT_BOOL) {
                EXPECT_EQ(r.result.boolVal, call.id == kIsSaved ? VARIANT_FALSE : VARIANT_TRUE);
            } else if (vt == VT_I4 || vt == VT_UI4) {
                EXPECT_EQ(r.result.lVal, 0);
            } else if (vt == VT_DISPATCH) {
                EXPECT_NE(r.result.pdispVal, nullptr);
            }
        }
    });
}

TEST_F(TovanixDispatch, EveryFlagPropertyReachesItsOwnSettingAndScriptValuesConvertAsAutomationDoes)
{
    auto object = NewObject();
    const std::vector<std::pair<DISPID, std::uint8_t CTovanixSettings::*>> flags = {
        { kGrabFlash, &CTovanixSettings::GrabFlash }, { kGrabImage, &CTovanixSettings::GrabPictures },
        { kAutoClose, &CTovanixSettings::AutoClose }, { kGrabQT, &CTovanixSettings::GrabQuickTime },
        { kGrabRP, &CTovanixSettings::GrabRealPlayer }, { kGrabMP, &CTovanixSettings::GrabMediaPlayer },
        { kGrabCSS, &CTovanixSettings::GrabCSS }, { kGrabScript, &CTovanixSettings::GrabScripts },
        { kSelectAll, &CTovanixSettings::SelectAll },
    };
    Variant zeroReal;
    zeroReal.vt = VT_R8;
    zeroReal.dblVal = 0.0;
    const std::vector<std::pair<Variant, VARIANT_BOOL>> values = { { Variant::FromI4(0), VARIANT_FALSE },
        { Variant::FromI4(-5), VARIANT_TRUE }, { Str("true"), VARIANT_TRUE }, { Str("False"), VARIANT_FALSE },
        { Str("2"), VARIANT_TRUE }, { zeroReal, VARIANT_FALSE } };
    InDialog(object, [&] {
        for (const auto& [id, member] : flags) {
            // Turn exactly one flag over and check nothing else moved.
            const CTovanixSettings before = Impl(object).Settings();
            const bool wasOn = before.*member != 0;
            ASSERT_EQ(Put(object.get(), id, Variant::FromBool(!wasOn)).hr, S_OK);
            const CTovanixSettings after = Impl(object).Settings();
            EXPECT_EQ(after.*member, wasOn ? 0 : 1) << id;
            for (const auto& [otherId, other] : flags)
                EXPECT_TRUE(otherId == id || after.*other == before.*other) << id << " moved " << otherId;
            EXPECT_EQ(Get(object.get(), id).result.boolVal, wasOn ? VARIANT_FALSE : VARIANT_TRUE);
        }
        for (const auto& [value, expected] : values) {
            ASSERT_EQ(Put(object.get(), kSelectAll, value).hr, S_OK);
            EXPECT_EQ(Get(object.get(), kSelectAll).result.boolVal, expected);
        }
        // A number 1 through dispatch converts to VARIANT_TRUE and stores on;
        // the same 1 passed directly is no VARIANT_TRUE and stores off.
        EXPECT_EQ(Put(object.get(), kGrabFlash, Variant::FromI4(1)).hr, S_OK);
        EXPECT_EQ(Impl(object).Settings().GrabFlash, 1);
        EXPECT_EQ(object->put_GrabFlash(1), S_OK);
        EXPECT_EQ(Impl(object).Settings().GrabFlash, 0);
        EXPECT_EQ(object->put_GrabFlash(VARIANT_TRUE), S_OK);
        EXPECT_EQ(Impl(object).Settings().GrabFlash, 1);
    });
}

TEST_F(TovanixDispatch, EveryMemberThatNeedsTheDialogAnswersPendingWithoutIt)
{
    auto object = NewObject();
    std::vector<Call> calls = {
        { kRootFolder, DISPATCH_PROPERTYPUT, { Str("/tmp") }, true }, { kExit }, { kShowHelp }, { kShowOptions },
        { kShowAbout }, { kSave, DISPATCH_METHOD, { Str("u"), Str("t") } },
        { kGetData, DISPATCH_METHOD, { Variant::FromI4(0) } }, { kLoadText, DISPATCH_METHOD, { Str("u") } },
        { kSaveInplace, DISPATCH_METHOD, { Str("u"), Str("t"), Str("v") } },
        { kSelectAll, DISPATCH_PROPERTYPUT, { Variant::FromBool(false) }, true }, { kBrowseForFolder },
        { kSetData, DISPATCH_METHOD, { Variant::FromI4(0), Str("x") } },
    };
    for (DISPID id : { kRootFolder, kGrabFlash, kGrabImage, kAutoClose, kGrabQT, kGrabRP, kGrabMP, kGrabCSS, kGrabScript,
             kSelectAll, kIsSaved })
        calls.push_back({ id, DISPATCH_PROPERTYGET });
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
    EXPECT_EQ(std::vector<MEMBERID>(ids, ids + 3), (std::vector<MEMBERID> { 19, 2, 0 }));
    BSTR got[4] = {};
    UINT n = 0;
    ASSERT_EQ(info->GetNames(16, got, 4, &n), S_OK);
    std::vector<std::string> saveNames;
    for (UINT i = 0; i < n; ++i)
        saveNames.push_back(Bstr::Attach(got[i]).Utf8());
    EXPECT_EQ(saveNames, (std::vector<std::string> { "Save", "url", "type" }));
    EXPECT_EQ(info->GetNames(2, got, 4, &n), TYPE_E_ELEMENTNOTFOUND);
    info->Release();

    auto classInfo = object.As<IProvideClassInfo>();
    ASSERT_TRUE(classInfo);
    ITypeInfo* coclass = nullptr;
    ITypeInfo* again = nullptr;
    ASSERT_EQ(classInfo->GetClassInfo(&coclass), S_OK);
    EXPECT_EQ(coclass->GetGuid(&guid), S_OK);
    EXPECT_EQ(GuidToString(guid), "{7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F957}");
    classInfo->GetClassInfo(&again);
    EXPECT_EQ(again, coclass) << "loaded once, then the same";
    coclass->Release();
    again->Release();
}

} // namespace
