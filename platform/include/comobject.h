// Not a header of the Windows SDK: the one reference-counting base of the COM objects this
// project makes itself (platform, Word stand-in, test doubles), as WRL's RuntimeClass is on
// Windows. An object is born with one reference, the one its maker hands out; the last
// Release deletes it.
//
//   class Stream final : public com::Object<com::Answers<IStream, &IID_IStream, &IID_ISequentialStream>>
//
// QueryInterface answers IUnknown with the first interface, each interface for the IIDs its
// entry lists (its own and its bases'), and anything else through QueryOther.
#pragma once

#include "unknwn.h"

#include <atomic>

namespace com {

// One interface of an object, and the IIDs it answers to.
template <class I, const IID*... Iids>
struct Answers {
    using Interface = I;
    static bool Match(REFIID riid) { return (IsEqualIID(riid, *Iids) || ...); }
};

template <class First, class... Rest>
class Object : public First::Interface, public Rest::Interface... {
public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        void* p = IsEqualIID(riid, IID_IUnknown) ? static_cast<typename First::Interface*>(this) : Find<First, Rest...>(riid);
        if (!p)
            return QueryOther(riid, ppv);
        AddRef();
        *ppv = p;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG n = --m_refs;
        if (n == 0)
            LastReleased();
        return n;
    }
    // The count as it stands (for tests that watch it).
    ULONG References() const { return m_refs; }

protected:
    virtual ~Object() = default;
    // An IID none of the entries answers; *ppv is null. An override that answers sets *ppv
    // to an interface it has added a reference to.
    virtual HRESULT QueryOther(REFIID, void**) { return E_NOINTERFACE; }
    // What the last Release does; an object that does not live on the heap (a test's stand-in
    // on the stack) does nothing here.
    virtual void LastReleased() { delete this; }

private:
    template <class E, class... More>
    void* Find(REFIID riid)
    {
        if (E::Match(riid))
            return static_cast<typename E::Interface*>(this);
        if constexpr (sizeof...(More) > 0)
            return Find<More...>(riid);
        else
            return nullptr;
    }

    std::atomic<ULONG> m_refs{1};
};

}  // namespace com
