// An in-process server module for the class-registry tests: one class whose objects answer
// IPersist::GetClassID, counted so that the module can say whether it may be unloaded.
#include <ole2.h>

#include <atomic>

namespace {

const CLSID kClass = {0xF0110000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
std::atomic<int> gObjects{0};
std::atomic<int> gClassObjectRequests{0};

struct Object final : IPersist {
    std::atomic<ULONG> refs{1};
    Object() { ++gObjects; }
    ~Object() { --gObjects; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPersist)) {
            *ppv = static_cast<IPersist*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG n = --refs;
        if (n == 0)
            delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* p) override
    {
        *p = kClass;
        return S_OK;
    }
};

struct Factory final : IClassFactory {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; } // static object
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        Object* o = new Object;
        HRESULT hr = o->QueryInterface(riid, ppv);
        o->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory gFactory;

} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    ++gClassObjectRequests;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, kClass))
        return CLASS_E_CLASSNOTAVAILABLE;
    return gFactory.QueryInterface(riid, ppv);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow(void)
{
    return gObjects == 0 ? S_OK : S_FALSE;
}

// How many class objects were asked for since the module was loaded.
extern "C" __attribute__((visibility("default"))) int OleTestServerRequests(void)
{
    return gClassObjectRequests;
}
