// An in-process server module for the class-registry tests: one class whose objects answer
// IPersist::GetClassID, counted so that the module can say whether it may be unloaded.
#include <comobject.h>
#include <ole2.h>

#include <atomic>

namespace {

const CLSID kClass = {0xF0110000, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
std::atomic<int> gObjects{0};
std::atomic<int> gClassObjectRequests{0};

struct Instance final : com::Object<com::Answers<IPersist, &IID_IPersist>> {
    Instance() { ++gObjects; }
    ~Instance() override { --gObjects; }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* p) override
    {
        *p = kClass;
        return S_OK;
    }
};

struct Factory final : com::Object<com::Answers<IClassFactory, &IID_IClassFactory>> {
    void LastReleased() override {} // static object
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        Instance* o = new Instance;
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
