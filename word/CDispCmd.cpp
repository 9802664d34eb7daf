// Call-by-name wrapper over IDispatch.
#include "word/CDispCmd.h"

#include <cstring>

CDispCmd::CDispCmd(IDispatch* pDisp) : m_pDisp(pDisp)
{
    if (m_pDisp)
        m_pDisp->AddRef();
}

CDispCmd::~CDispCmd()
{
    if (m_pDisp) {
        m_pDisp->Release();
        m_pDisp = nullptr;
    }
}

HRESULT CDispCmd::Invoke(LPCOLESTR szName, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult)
{
    if (!m_pDisp)
        return E_INVALIDARG;
    // Looked up at every call: ids are not cached.
    LPOLESTR name = const_cast<LPOLESTR>(szName);
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = m_pDisp->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    return m_pDisp->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, wFlags, pParams, pResult, nullptr, nullptr);
}

HRESULT CDispCmd::Call(LPCOLESTR szName, VARIANT* pArgs, int nArgs, VARIANT* pResult, WORD wFlags, DISPID* pNamedIds,
                       int nNamed)
{
    DISPPARAMS params;
    std::memset(&params, 0, sizeof(params));
    params.rgvarg = pArgs;
    params.rgdispidNamedArgs = pNamedIds;
    params.cArgs = UINT(nArgs);
    params.cNamedArgs = UINT(nNamed);
    return Invoke(szName, wFlags, &params, pResult);
}

HRESULT CDispCmd::GetProperty(LPCOLESTR szName, VARIANT* pResult)
{
    DISPPARAMS params;
    std::memset(&params, 0, sizeof(params));
    return Invoke(szName, DISPATCH_PROPERTYGET, &params, pResult);
}

HRESULT CDispCmd::GetPropertyLong(LPCOLESTR szName, int* pOut)
{
    if (!pOut)
        return 1; // nowhere to store: nothing is called
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = GetProperty(szName, &v);
    if (FAILED(hr))
        return hr;
    if (v.vt != VT_I4) {
        VariantClear(&v);
        return 1;
    }
    *pOut = v.lVal;
    return 0;
}

HRESULT CDispCmd::GetPropertyDispatch(LPCOLESTR szName, IDispatch** ppOut)
{
    if (!ppOut)
        return 1;
    *ppOut = nullptr;
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = GetProperty(szName, &v);
    if (FAILED(hr))
        return hr;
    if (v.vt != VT_DISPATCH || !v.pdispVal) {
        VariantClear(&v);
        return 1;
    }
    *ppOut = v.pdispVal; // the variant's reference passes to the caller
    return 0;
}
