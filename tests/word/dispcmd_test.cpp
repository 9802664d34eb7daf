// The call-by-name wrapper against an automation object that records exactly what it receives.
#include "word/CDispCmd.h"

#include "Unscripted.h"

#include <comobject.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// An IDispatch with one known member, "Value", whose result the test sets.
class RecordingDispatch final : public com::Object<com::Answers<IDispatch>> {
public:
    struct Lookup {
        bool nullIid;
        std::u16string name;
        UINT count;
        LCID lcid;
    };
    struct InvokeRec {
        DISPID id;
        bool nullIid;
        LCID lcid;
        WORD flags;
        DISPPARAMS params;
        VARIANT* result;
        bool excepInfo;
        bool argErr;
    };

    std::vector<Lookup> lookups;
    std::vector<InvokeRec> invokes;
    HRESULT invokeResult = S_OK;
    VARIANT value{}; // copied into the result slot

    RecordingDispatch() { VariantInit(&value); }
    ~RecordingDispatch() override { VariantClear(&value); }
    void LastReleased() override {} // owned by the test
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return Unscripted("Dispatch.GetTypeInfoCount"); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Unscripted("Dispatch.GetTypeInfo"); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT n, LCID lcid, DISPID* ids) override
    {
        lookups.push_back({IsEqualIID(riid, IID_NULL), names[0], n, lcid});
        if (std::u16string(names[0]) != u"Value") {
            ids[0] = DISPID_UNKNOWN;
            return DISP_E_UNKNOWNNAME;
        }
        ids[0] = 7;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* p, VARIANT* result,
                                     EXCEPINFO* ei, UINT* argErr) override
    {
        invokes.push_back({id, IsEqualIID(riid, IID_NULL), lcid, flags, *p, result, ei != nullptr, argErr != nullptr});
        if (FAILED(invokeResult))
            return invokeResult;
        if (result)
            VariantCopy(result, &value);
        return invokeResult;
    }
};

TEST(DispCmdTest, NullTargetFailsEveryOperationWithoutCalling)
{
    CDispCmd cmd(nullptr);
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(cmd.Invoke(u"Value", DISPATCH_METHOD, nullptr, &v), E_INVALIDARG);
    EXPECT_EQ(cmd.Call(u"Value", nullptr, 0, &v, DISPATCH_METHOD, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(cmd.GetProperty(u"Value", &v), E_INVALIDARG);
    int n = int(0xdeadbeef);
    EXPECT_EQ(cmd.GetPropertyLong(u"Value", &n), E_INVALIDARG);
    EXPECT_EQ(n, int(0xdeadbeef));
    IDispatch* pOut = reinterpret_cast<IDispatch*>(uintptr_t(0xdeadbeef));
    EXPECT_EQ(cmd.GetPropertyDispatch(u"Value", &pOut), E_INVALIDARG);
    EXPECT_EQ(pOut, nullptr);
    EXPECT_EQ(cmd.GetDispatch(), nullptr);
    EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(DispCmdTest, HoldsItsOwnReferenceForItsLifetime)
{
    RecordingDispatch d;
    {
        CDispCmd cmd(&d);
        EXPECT_EQ(d.References(), 2u);
        EXPECT_EQ(cmd.GetDispatch(), &d);
        EXPECT_EQ(d.References(), 2u) << "GetDispatch must not add a reference";
    }
    EXPECT_EQ(d.References(), 1u);
}

TEST(DispCmdTest, CallLooksTheNameUpThenInvokesWithTheArgumentsAsGiven)
{
    RecordingDispatch d;
    CDispCmd cmd(&d);
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_I4;
    args[0].lVal = 20; // the last argument
    args[1].vt = VT_I4;
    args[1].lVal = 10;
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(cmd.Call(u"Value", args, 2, &result, DISPATCH_METHOD, nullptr, 0), S_OK);
    ASSERT_EQ(cmd.Call(u"Value", nullptr, 0, nullptr, DISPATCH_METHOD, nullptr, 0), S_OK);

    ASSERT_EQ(d.lookups.size(), 2u) << "the id is looked up for every call";
    for (const auto& l : d.lookups) {
        EXPECT_TRUE(l.nullIid);
        EXPECT_EQ(l.name, u"Value");
        EXPECT_EQ(l.count, 1u);
        EXPECT_EQ(l.lcid, LCID(LOCALE_USER_DEFAULT));
    }
    ASSERT_EQ(d.invokes.size(), 2u);
    const auto& first = d.invokes[0];
    EXPECT_EQ(first.id, 7);
    EXPECT_TRUE(first.nullIid);
    EXPECT_EQ(first.lcid, LCID(LOCALE_SYSTEM_DEFAULT));
    EXPECT_EQ(first.flags, DISPATCH_METHOD);
    EXPECT_EQ(first.params.rgvarg, args);
    EXPECT_EQ(first.params.cArgs, 2u);
    EXPECT_EQ(first.params.rgdispidNamedArgs, nullptr);
    EXPECT_EQ(first.params.cNamedArgs, 0u);
    EXPECT_EQ(first.result, &result);
    EXPECT_FALSE(first.excepInfo);
    EXPECT_FALSE(first.argErr);
    EXPECT_EQ(d.invokes[1].result, nullptr);
    EXPECT_EQ(d.invokes[1].params.cArgs, 0u);
}

TEST(DispCmdTest, UnknownNameReturnsTheLookupFailureAndIsNeverInvoked)
{
    RecordingDispatch d;
    CDispCmd cmd(&d);
    EXPECT_EQ(cmd.Call(u"Nothing", nullptr, 0, nullptr, DISPATCH_METHOD, nullptr, 0), DISP_E_UNKNOWNNAME);
    int n = 5;
    EXPECT_EQ(cmd.GetPropertyLong(u"Nothing", &n), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(d.lookups.size(), 2u);
    EXPECT_TRUE(d.invokes.empty());
}

TEST(DispCmdTest, GetPropertyIsAPropertyGetWithoutArguments)
{
    RecordingDispatch d;
    d.value.vt = VT_I4;
    d.value.lVal = 42;
    CDispCmd cmd(&d);
    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(cmd.GetProperty(u"Value", &v), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 42);
    ASSERT_EQ(d.invokes.size(), 1u);
    EXPECT_EQ(d.invokes[0].flags, DISPATCH_PROPERTYGET);
    EXPECT_EQ(d.invokes[0].params.cArgs, 0u);
    EXPECT_EQ(d.invokes[0].params.rgvarg, nullptr);
    EXPECT_EQ(d.invokes[0].params.cNamedArgs, 0u);
}

// The values a property can yield, and what the typed getters make of them.
enum class Yield { Long, String, Object, Empty, Failure };

void SetYield(RecordingDispatch& d, Yield y, IDispatch* object)
{
    VariantClear(&d.value);
    switch (y) {
    case Yield::Long:
        d.value.vt = VT_I4;
        d.value.lVal = 1234;
        break;
    case Yield::String:
        d.value.vt = VT_BSTR;
        d.value.bstrVal = SysAllocString(u"text");
        break;
    case Yield::Object:
        d.value.vt = VT_DISPATCH;
        d.value.pdispVal = object;
        object->AddRef();
        break;
    case Yield::Empty:
        break;
    case Yield::Failure:
        d.invokeResult = DISP_E_EXCEPTION;
        break;
    }
}

TEST(DispCmdTest, GetPropertyLongStoresOnlyA32BitInteger)
{
    struct Row {
        Yield yield;
        HRESULT expected;
        int out;
    } rows[] = {
        {Yield::Long, 0, 1234},
        {Yield::String, 1, int(0xdeadbeef)},
        {Yield::Object, 1, int(0xdeadbeef)},
        {Yield::Empty, 1, int(0xdeadbeef)},
        {Yield::Failure, DISP_E_EXCEPTION, int(0xdeadbeef)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.yield));
        RecordingDispatch object;
        RecordingDispatch d;
        SetYield(d, row.yield, &object);
        const ULONG objectRefs = object.References();
        CDispCmd cmd(&d);
        int n = int(0xdeadbeef);
        EXPECT_EQ(cmd.GetPropertyLong(u"Value", &n), row.expected);
        EXPECT_EQ(n, row.out);
        // A result of the wrong type is cleared: an object's reference is given back.
        EXPECT_EQ(object.References(), objectRefs);
        VariantClear(&d.value);
    }
}

TEST(DispCmdTest, GetPropertyDispatchPassesTheObjectReferenceToTheCaller)
{
    struct Row {
        Yield yield;
        HRESULT expected;
        bool gotObject;
    } rows[] = {
        {Yield::Object, 0, true},
        {Yield::Long, 1, false},
        {Yield::String, 1, false},
        {Yield::Empty, 1, false},
        {Yield::Failure, DISP_E_EXCEPTION, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.yield));
        RecordingDispatch object;
        RecordingDispatch d;
        SetYield(d, row.yield, &object);
        const ULONG objectRefs = object.References();
        CDispCmd cmd(&d);
        IDispatch* pOut = reinterpret_cast<IDispatch*>(uintptr_t(0xdeadbeef));
        EXPECT_EQ(cmd.GetPropertyDispatch(u"Value", &pOut), row.expected);
        if (row.gotObject) {
            EXPECT_EQ(pOut, &object);
            EXPECT_EQ(object.References(), objectRefs + 1) << "one reference for the caller";
            pOut->Release();
        } else {
            EXPECT_EQ(pOut, nullptr);
            EXPECT_EQ(object.References(), objectRefs);
        }
        VariantClear(&d.value);
    }
}

TEST(DispCmdTest, GetPropertyDispatchWithoutOutCallsNothing)
{
    RecordingDispatch d;
    CDispCmd cmd(&d);
    EXPECT_EQ(cmd.GetPropertyDispatch(u"Value", nullptr), 1);
    EXPECT_TRUE(d.lookups.empty());
    EXPECT_TRUE(d.invokes.empty());
}

} // namespace
