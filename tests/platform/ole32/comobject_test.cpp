// The reference-counting base of the COM objects: which IIDs an object answers, with which
// interface, how the count moves, and what the last release does.
#include <comobject.h>
#include <ole2.h>

#include <gtest/gtest.h>

namespace {

int gAlive = 0;

// Two interfaces, the second answering for its base too, and IDispatch through QueryOther.
class Two final : public com::Object<com::Answers<IPersist, &IID_IPersist>,
                                     com::Answers<IViewObject2, &IID_IViewObject2, &IID_IViewObject>> {
public:
    Two() { ++gAlive; }
    ~Two() override { --gAlive; }
    IUnknown* other = nullptr;  // what IDispatch answers with
    HRESULT QueryOther(REFIID riid, void** ppv) override
    {
        if (!IsEqualIID(riid, IID_IDispatch) || !other)
            return E_NOINTERFACE;
        other->AddRef();
        *ppv = other;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Draw(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, HDC, LPCRECTL, LPCRECTL,
                                   BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, struct tagLOGPALETTE**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD, DWORD, IAdviseSink*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD*, DWORD*, IAdviseSink**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD, LONG, DVTARGETDEVICE*, LPSIZEL) override { return E_NOTIMPL; }
};

// Lives on the stack: the last release leaves it alone.
struct OnStack final : com::Object<com::Answers<IUnknown>> {
    int lastReleased = 0;
    void LastReleased() override { ++lastReleased; }
};

struct QueryRow {
    const char* name;
    const IID* iid;
    HRESULT expected;
    int which;  // 0 none, 1 IPersist, 2 IViewObject2, 3 the other object
};

TEST(ComObjectTest, AnswersEachListedIidWithItsInterfaceAndOthersThroughQueryOther)
{
    Two* obj = new Two;
    OnStack other;
    obj->other = &other;
    const QueryRow rows[] = {
        {"IUnknown", &IID_IUnknown, S_OK, 1},        {"IPersist", &IID_IPersist, S_OK, 1},
        {"IViewObject", &IID_IViewObject, S_OK, 2}, {"IViewObject2", &IID_IViewObject2, S_OK, 2},
        {"IDispatch", &IID_IDispatch, S_OK, 3},      {"IPersistFile", &IID_IPersistFile, E_NOINTERFACE, 0},
        {"IClassFactory", &IID_IClassFactory, E_NOINTERFACE, 0},
    };
    for (const QueryRow& r : rows) {
        void* p = reinterpret_cast<void*>(0xdeadbeef);
        const ULONG before = obj->References(), otherBefore = other.References();
        EXPECT_EQ(obj->QueryInterface(*r.iid, &p), r.expected) << r.name;
        void* want = r.which == 1   ? static_cast<void*>(static_cast<IPersist*>(obj))
                     : r.which == 2 ? static_cast<void*>(static_cast<IViewObject2*>(obj))
                     : r.which == 3 ? static_cast<void*>(static_cast<IUnknown*>(&other))
                                    : nullptr;
        EXPECT_EQ(p, want) << r.name;
        EXPECT_EQ(obj->References(), before + (r.which == 1 || r.which == 2 ? 1u : 0u)) << r.name;
        EXPECT_EQ(other.References(), otherBefore + (r.which == 3 ? 1u : 0u)) << r.name;
        if (p)
            static_cast<IUnknown*>(p)->Release();
        EXPECT_EQ(obj->References(), before) << r.name;
    }
    EXPECT_EQ(obj->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    // Every interface pointer shares the one count and the object goes with the last release.
    IViewObject* view = nullptr;
    ASSERT_EQ(obj->QueryInterface(IID_IViewObject, reinterpret_cast<void**>(&view)), S_OK);
    EXPECT_EQ(view->AddRef(), 3u);
    EXPECT_EQ(view->Release(), 2u);
    EXPECT_EQ(view->Release(), 1u);
    EXPECT_EQ(gAlive, 1);
    EXPECT_EQ(static_cast<IPersist*>(obj)->Release(), 0u);
    EXPECT_EQ(gAlive, 0);
    EXPECT_EQ(other.lastReleased, 0);
    EXPECT_EQ(other.Release(), 0u);
    EXPECT_EQ(other.lastReleased, 1);
}

}  // namespace
