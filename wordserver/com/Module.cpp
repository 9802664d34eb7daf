// The module's entry points: class objects for "Word.Application" and "Word.Document".
#include "ComObjects.h"

#include <oleclasses.h>

#include <new>

using namespace wordserver;

namespace {

class ClassFactory : public com::Object<com::Answers<IClassFactory, &IID_IClassFactory>> {
public:
    explicit ClassFactory(bool document) : m_document(document) { ++g_objects; }
    ~ClassFactory() override { --g_objects; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        IUnknown* obj = m_document ? NewEmbeddedDocument() : static_cast<IUnknown*>(NewApplication());
        if (!obj)
            return E_OUTOFMEMORY;
        HRESULT hr = obj->QueryInterface(riid, ppv);
        obj->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            ++g_locks;
        else if (g_locks > 0)
            --g_locks;
        return S_OK;
    }

private:
    bool m_document;
};

}  // namespace

// Class object for CLSID_WordApplication or CLSID_WordDocument; CLASS_E_CLASSNOTAVAILABLE for
// any other class.
extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid,
                                                                            LPVOID* ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    bool document;
    if (IsEqualCLSID(clsid, CLSID_WordApplication))
        document = false;
    else if (IsEqualCLSID(clsid, CLSID_WordDocument))
        document = true;
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* f = new (std::nothrow) ClassFactory(document);
    if (!f)
        return E_OUTOFMEMORY;
    HRESULT hr = f->QueryInterface(riid, ppv);
    f->Release();
    return hr;
}

// S_OK when no object of the module is alive and no lock is held, else S_FALSE.
extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow(void)
{
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}
