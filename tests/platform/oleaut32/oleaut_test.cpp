// BSTR and VARIANT handling: layout, ownership on clear and copy, refused types.
#include <comobject.h>
#include <ole2.h>

#include "Unscripted.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Lives on the test's stack; answers nothing but IUnknown.
struct CountedUnknown : com::Object<com::Answers<IDispatch>> {
    void LastReleased() override {}
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return Unscripted("Dispatch.GetTypeInfoCount"); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Unscripted("Dispatch.GetTypeInfo"); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return Unscripted("Dispatch.GetIDsOfNames"); }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return Unscripted("Dispatch.Invoke");
    }
};

uint32_t PrefixOf(BSTR b)
{
    uint32_t n;
    std::memcpy(&n, reinterpret_cast<const char*>(b) - 4, 4);
    return n;
}

TEST(BstrTest, CarriesItsByteCountBeforeTheCharactersAndATerminator)
{
    BSTR b = SysAllocString(u"Word");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 4u);
    EXPECT_EQ(SysStringByteLen(b), 8u);
    EXPECT_EQ(PrefixOf(b), 8u);
    EXPECT_EQ(std::u16string(b), u"Word");
    EXPECT_EQ(b[4], 0);
    SysFreeString(b);

    BSTR empty = SysAllocString(u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    EXPECT_EQ(empty[0], 0);
    SysFreeString(empty);
}

TEST(BstrTest, LengthComesFromThePrefixSoEmbeddedZerosCount)
{
    const char16_t text[] = {u'a', 0, u'b'};
    BSTR b = SysAllocStringLen(text, 3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(b[2], u'b');
    EXPECT_EQ(b[3], 0);
    SysFreeString(b);

    BSTR blank = SysAllocStringLen(nullptr, 5);
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(SysStringLen(blank), 5u);
    EXPECT_EQ(blank[5], 0);
    SysFreeString(blank);
}

TEST(BstrTest, NullAndImpossibleLengthsGiveNull)
{
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    // The byte count would not fit the 32-bit prefix.
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
}

TEST(VariantTest, ClearFreesWhatTheVariantOwns)
{
    CountedUnknown obj;
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);

    v.vt = VT_DISPATCH;
    v.pdispVal = &obj;
    obj.AddRef();
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(obj.References(), 1u);
    EXPECT_EQ(v.vt, VT_EMPTY);

    v.vt = VT_UNKNOWN;
    v.punkVal = &obj;
    obj.AddRef();
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(obj.References(), 1u);

    // A BSTR is freed (the sanitizer build reports it otherwise).
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"owned");
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);

    // Null members and by-reference values own nothing.
    v.vt = VT_DISPATCH;
    v.pdispVal = nullptr;
    EXPECT_EQ(VariantClear(&v), S_OK);
    IDispatch* ref = &obj;
    v.vt = VT_DISPATCH | VT_BYREF;
    v.ppdispVal = &ref;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(obj.References(), 1u);
    EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(VariantTest, ClearRefusesUnknownTypesAndLeavesThemAlone)
{
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
    for (VARTYPE vt : {VARTYPE(VT_VARIANT), VARTYPE(0x7f), VARTYPE(VT_ARRAY | VT_I4)}) {
        SCOPED_TRACE(vt);
        VARIANT v;
        v.vt = vt;
        v.lVal = LONG(0xdeadbeef);
        EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
        EXPECT_EQ(v.vt, vt);
        EXPECT_EQ(v.lVal, LONG(0xdeadbeef));
    }
}

TEST(VariantTest, CopyDuplicatesStringsAndAddsInterfaceReferences)
{
    const char16_t text[] = {u'x', 0, u'y'};
    VARIANT src, dst;
    VariantInit(&src);
    VariantInit(&dst);
    src.vt = VT_BSTR;
    src.bstrVal = SysAllocStringLen(text, 3);
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    ASSERT_EQ(dst.vt, VT_BSTR);
    EXPECT_NE(dst.bstrVal, src.bstrVal);
    ASSERT_EQ(SysStringLen(dst.bstrVal), 3u);
    EXPECT_EQ(std::memcmp(dst.bstrVal, text, sizeof(text)), 0);
    VariantClear(&src);

    // The destination's old contents are released before the copy.
    CountedUnknown obj;
    src.vt = VT_DISPATCH;
    src.pdispVal = &obj;
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_EQ(obj.References(), 2u);
    EXPECT_EQ(dst.pdispVal, &obj);
    VariantClear(&dst);
    EXPECT_EQ(obj.References(), 1u);

    src.vt = VT_I4;
    src.lVal = 77;
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_EQ(dst.vt, VT_I4);
    EXPECT_EQ(dst.lVal, 77);
    EXPECT_EQ(VariantCopy(&dst, &dst), S_OK);
    EXPECT_EQ(dst.lVal, 77);
}

TEST(VariantTest, CopyOfAnUnknownTypeLeavesTheDestinationAlone)
{
    VARIANT src, dst;
    src.vt = 0x7f;
    dst.vt = VT_I4;
    dst.lVal = LONG(0xdeadbeef);
    EXPECT_EQ(VariantCopy(&dst, &src), DISP_E_BADVARTYPE);
    EXPECT_EQ(dst.vt, VT_I4);
    EXPECT_EQ(dst.lVal, LONG(0xdeadbeef));
    EXPECT_EQ(VariantCopy(nullptr, &src), E_INVALIDARG);
    EXPECT_EQ(VariantCopy(&dst, nullptr), E_INVALIDARG);
}

} // namespace
