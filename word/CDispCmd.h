// Calls members of an automation object by name: one name lookup and one IDispatch::Invoke
// per call, no id cache. The wrapper holds a reference of its own beside the caller's.
#pragma once

#include <ole2.h>

class CDispCmd {
public:
    // Stores the target and takes a reference of its own on it.
    explicit CDispCmd(IDispatch* pDisp);
    // Releases the wrapper's own reference.
    ~CDispCmd();
    CDispCmd(const CDispCmd&) = delete;
    CDispCmd& operator=(const CDispCmd&) = delete;

    // GetIDsOfNames for the one name, then Invoke with the id. E_INVALIDARG without a target;
    // the lookup's failure is returned without invoking.
    HRESULT Invoke(LPCOLESTR szName, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult);
    // Invoke with the arguments given last first (element 0 is the last argument).
    HRESULT Call(LPCOLESTR szName, VARIANT* pArgs, int nArgs, VARIANT* pResult, WORD wFlags,
                 DISPID* pNamedIds, int nNamed);
    // A property get without arguments.
    HRESULT GetProperty(LPCOLESTR szName, VARIANT* pResult);
    // 0 with the value in *pOut; 1 when the property is not VT_I4 (*pOut untouched); otherwise
    // the failing HRESULT.
    HRESULT GetPropertyLong(LPCOLESTR szName, int* pOut);
    // 0 with the interface (the caller's reference) in *ppOut; 1 for a null ppOut (no call) or
    // a property that is not an object; otherwise the failing HRESULT. *ppOut is null on failure.
    HRESULT GetPropertyDispatch(LPCOLESTR szName, IDispatch** ppOut);
    // The wrapped interface, without AddRef.
    IDispatch* GetDispatch() const { return m_pDisp; }

private:
    IDispatch* m_pDisp;
};
