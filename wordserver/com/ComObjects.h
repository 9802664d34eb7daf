// The automation objects of the Word stand-in (Application, Documents, Document, Range) and
// the embedded-document object, over the engine in Engine.h. Every object holds one engine
// reference for its life. A COM method whose work can throw (allocation, mostly) runs it
// through ComGuard, and Invoke guards every automation call, so nothing thrown leaves one.
#pragma once

#include <windows.h>
#include <comobject.h>
#include <oaidl.h>
#include <objbase.h>
#include <oleauto.h>
#include <oleidl.h>
#include <unknwn.h>

#include "Engine.h"

#include <atomic>
#include <new>
#include <string>

namespace wordserver {

// Live objects and server locks of the module (for DllCanUnloadNow).
extern std::atomic<long> g_objects;
extern std::atomic<long> g_locks;

// UTF-16 to UTF-8 (unpaired surrogates become U+FFFD).
std::string ToUtf8(const OLECHAR* s);
std::string ToUtf8(const OLECHAR* s, size_t n);
// UTF-8 to a new BSTR (bytes that are no UTF-8 become U+FFFD); null when out of memory.
BSTR BstrFromUtf8(const std::string& s);

// Runs a COM method's work: E_OUTOFMEMORY when it runs out of memory, E_FAIL for anything
// else thrown.
template <class F>
HRESULT ComGuard(F&& work) noexcept
{
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

// The HRESULT a failed engine operation gives to an automation caller.
HRESULT AutomationError(wordengine::EngineStatus s, EXCEPINFO* excep);
// ... and to an embedding caller.
HRESULT EmbeddingError(wordengine::EngineStatus s);

// Holds one engine reference and counts the object for DllCanUnloadNow.
class ServerObject {
public:
    ServerObject()
    {
        wordengine::EngineAddRef();
        ++g_objects;
    }
    virtual ~ServerObject()
    {
        --g_objects;
        wordengine::EngineRelease();
    }
    ServerObject(const ServerObject&) = delete;
    ServerObject& operator=(const ServerObject&) = delete;
};

// One dispatch member: its name (matched case-insensitively), id, whether it is a property
// (get) or a method, and how many positional arguments it takes.
struct Member {
    const char* name;
    DISPID id;
    bool property;
    UINT minArgs;
    UINT maxArgs;
};

// IDispatch by a member table; subclasses implement Call.
class DispatchBase : public com::Object<com::Answers<IDispatch, &IID_IDispatch>>, public ServerObject {
public:
    DispatchBase(const Member* members, size_t count) : m_members(members), m_count(count) {}

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT cNames, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;

protected:
    // args[0] is the first positional argument (already reversed from the OLE order);
    // count is within the member's bounds. result may be null.
    virtual HRESULT Call(DISPID id, VARIANT** args, UINT count, VARIANT* result, EXCEPINFO* excep,
                         UINT* argErr) = 0;

private:
    const Member* m_members;
    size_t m_count;
};

// Argument readers: S_OK with the value, DISP_E_PARAMNOTFOUND when the argument is omitted
// (VT_ERROR DISP_E_PARAMNOTFOUND, or VT_EMPTY), DISP_E_TYPEMISMATCH otherwise. By-reference
// values and variants are followed.
HRESULT ArgLong(const VARIANT* v, LONG* out);
HRESULT ArgString(const VARIANT* v, std::string* out);

// Factories. Each returns an object with one reference, or null.
IDispatch* NewApplication();
IDispatch* NewDocument(const wordengine::DocumentPtr& doc);
IUnknown* NewEmbeddedDocument();

}  // namespace wordserver
