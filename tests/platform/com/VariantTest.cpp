#include "platform/com/ComPtr.h"
#include "platform/com/Utf.h"
#include "platform/com/Variant.h"

#include <gtest/gtest.h>

namespace {

class CountingDispatch final : public IDispatch {
public:
    int refs = 1;
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        const bool known = riid == IID_IUnknown || riid == IID_IDispatch;
        *ppv = known ? static_cast<IDispatch*>(this) : nullptr;
        refs += known;
        return known ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, OLECHAR**, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
};

TEST(Bstr, NullIsEmptyAndLengthsAreCounted)
{
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_TRUE(BstrView(nullptr).empty());
    BSTR s = SysAllocStringLen(u"a\0b", 3); // embedded zero survives
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(SysStringByteLen(s), 6u);
    EXPECT_EQ(s[3], 0); // always terminated
    SysFreeString(s);
    Bstr odd = Bstr::Attach(SysAllocStringByteLen("abc", 3));
    EXPECT_EQ(SysStringByteLen(odd.get()), 3u);
    EXPECT_EQ(odd.Length(), 1u);
}

TEST(Utf, RoundTripsNonAsciiAndReplacesInvalid)
{
    std::string s = "http://h\xC3\xA9te.example/\xE2\x82\xAC/\xF0\x9F\x98\x80.gif";
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(s)), s);
    EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), u"\uFFFD");        // truncated at end
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");    // encoded surrogate
    EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");  // lone surrogate
}

TEST(Guid, ParsesAndFormatsBracedForm)
{
    auto g = ParseGuid("{7d3a21b4-5c9e-4f08-a6d2-3b81e0c4f957}");
    ASSERT_TRUE(g);
    EXPECT_EQ(GuidToString(*g), "{7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F957}");
    EXPECT_FALSE(ParseGuid("{7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F95}"));
    EXPECT_FALSE(ParseGuid("{7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F95G}"));
    EXPECT_FALSE(ParseGuid("7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F957}"));
}

TEST(VariantChangeType, NumbersBooleansAndStrings)
{
    Variant out;
    auto one = Variant::FromI4(1);
    ASSERT_EQ(VariantChangeType(&out, &one, 0, VT_BOOL), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE);
    auto text = Variant::FromString(" 42 ");
    ASSERT_EQ(VariantChangeType(&out, &text, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, 42);
    auto half = Variant::FromString("2.5");
    ASSERT_EQ(VariantChangeType(&out, &half, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, 2); // half to even
    auto word = Variant::FromString("False");
    ASSERT_EQ(VariantChangeType(&out, &word, 0, VT_BOOL), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_FALSE);
    auto big = Variant::FromString("99999999999");
    EXPECT_EQ(VariantChangeType(&out, &big, 0, VT_I4), DISP_E_OVERFLOW);
    auto junk = Variant::FromString("12abc");
    Variant keep = Variant::FromI4(7);
    EXPECT_EQ(VariantChangeType(&keep, &junk, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(keep.vt, VT_I4); // untouched on failure
    EXPECT_EQ(keep.lVal, 7);
    auto neg = Variant::FromI4(-5);
    ASSERT_EQ(VariantChangeType(&out, &neg, 0, VT_BSTR), S_OK);
    EXPECT_EQ(Utf16ToUtf8(BstrView(out.bstrVal)), "-5");
}

TEST(VariantChangeType, DispatchFromUnknownEmptyAndNothingElse)
{
    CountingDispatch d;
    {
        auto u = Variant::FromUnknown(&d);
        Variant out;
        ASSERT_EQ(VariantChangeType(&out, &u, 0, VT_DISPATCH), S_OK);
        EXPECT_EQ(out.pdispVal, &d);
        Variant empty;
        ASSERT_EQ(VariantChangeType(&out, &empty, 0, VT_DISPATCH), S_OK);
        EXPECT_EQ(out.pdispVal, nullptr);
        auto n = Variant::FromI4(3);
        EXPECT_EQ(VariantChangeType(&out, &n, 0, VT_DISPATCH), DISP_E_TYPEMISMATCH);
    }
    EXPECT_EQ(d.refs, 1); // every reference taken was given back
}

TEST(Variant, ByRefIsFollowedAndCopiesOwnTheirData)
{
    Variant target = Variant::FromString("x");
    VARIANT ref;
    ref.vt = VT_BYREF | VT_VARIANT;
    ref.pvarVal = &target;
    Variant out;
    ASSERT_EQ(VariantChangeType(&out, &ref, 0, VT_BSTR), S_OK);
    EXPECT_NE(out.bstrVal, target.bstrVal);
    EXPECT_EQ(BstrView(out.bstrVal), u"x");

    Variant copy(target);
    EXPECT_NE(copy.bstrVal, target.bstrVal);
}

} // namespace
