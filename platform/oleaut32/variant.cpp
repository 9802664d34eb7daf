// VARIANT handling: what a variant owns (a BSTR, an interface reference) is freed on clear and
// duplicated on copy; by-reference variants own nothing.
#include <oleauto.h>

namespace {

// The plain value types: nothing to free, copied bit for bit.
bool IsPlainType(VARTYPE vt)
{
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_ERROR:
    case VT_BOOL:
        return true;
    default:
        return false;
    }
}

bool IsKnownType(VARTYPE vt)
{
    if (vt & VT_BYREF) {
        const VARTYPE base = vt & ~VT_BYREF;
        return IsPlainType(base) || base == VT_BSTR || base == VT_DISPATCH || base == VT_UNKNOWN ||
               base == VT_VARIANT;
    }
    return IsPlainType(vt) || vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN;
}

} // namespace

extern "C" void WINAPI VariantInit(VARIANTARG* pvarg)
{
    if (pvarg) {
        pvarg->vt = VT_EMPTY;
        pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
    }
}

extern "C" HRESULT WINAPI VariantClear(VARIANTARG* pvarg)
{
    if (!pvarg)
        return E_INVALIDARG;
    if (!IsKnownType(pvarg->vt))
        return DISP_E_BADVARTYPE;
    switch (pvarg->vt) {
    case VT_BSTR:
        SysFreeString(pvarg->bstrVal);
        break;
    case VT_DISPATCH:
        if (pvarg->pdispVal)
            pvarg->pdispVal->Release();
        break;
    case VT_UNKNOWN:
        if (pvarg->punkVal)
            pvarg->punkVal->Release();
        break;
    default:
        break;
    }
    pvarg->vt = VT_EMPTY;
    pvarg->llVal = 0;
    return S_OK;
}

extern "C" HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc)
{
    if (!pvargDest || !pvargSrc)
        return E_INVALIDARG;
    if (pvargDest == pvargSrc)
        return S_OK;
    if (!IsKnownType(pvargSrc->vt))
        return DISP_E_BADVARTYPE;
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr))
        return hr;
    VARIANT copy = *pvargSrc;
    switch (pvargSrc->vt) {
    case VT_BSTR:
        if (pvargSrc->bstrVal) {
            copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
            if (!copy.bstrVal)
                return E_OUTOFMEMORY; // the destination stays VT_EMPTY
        }
        break;
    case VT_DISPATCH:
        if (copy.pdispVal)
            copy.pdispVal->AddRef();
        break;
    case VT_UNKNOWN:
        if (copy.punkVal)
            copy.punkVal->AddRef();
        break;
    default:
        break;
    }
    *pvargDest = copy;
    return S_OK;
}
