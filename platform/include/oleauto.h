// OLE Automation functions (oleaut32): BSTR allocation and VARIANT handling.
#pragma once

#include "oaidl.h"

#define V_VT(v) ((v)->vt)
#define V_I2(v) ((v)->iVal)
#define V_I4(v) ((v)->lVal)
#define V_BOOL(v) ((v)->boolVal)
#define V_ERROR(v) ((v)->scode)
#define V_BSTR(v) ((v)->bstrVal)
#define V_DISPATCH(v) ((v)->pdispVal)
#define V_UNKNOWN(v) ((v)->punkVal)
#define V_VARIANTREF(v) ((v)->pvarVal)

extern "C" {

// A new BSTR holding a copy of the 0-terminated string; NULL for a NULL string or when out of
// memory.
BSTR WINAPI SysAllocString(const OLECHAR* psz);
// A new BSTR of ui characters copied from strIn (ui characters left uninitialised when strIn is
// NULL), always terminated; NULL when out of memory or the length overflows.
BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui);
// Frees a BSTR from SysAlloc*; NULL is ignored.
void WINAPI SysFreeString(BSTR bstrString);
// Characters in the BSTR (from its length prefix, so embedded zeros count); 0 for NULL.
UINT WINAPI SysStringLen(BSTR pbstr);
// Characters in bytes (the raw length prefix); 0 for NULL.
UINT WINAPI SysStringByteLen(BSTR bstr);

// Sets vt to VT_EMPTY without looking at the old contents.
void WINAPI VariantInit(VARIANTARG* pvarg);
// Frees what the variant owns (BSTR freed, interface released; nothing for VT_BYREF) and sets
// it VT_EMPTY. Returns S_OK, E_INVALIDARG for NULL, DISP_E_BADVARTYPE for a type it does not know
// (the variant is then left as it was).
HRESULT WINAPI VariantClear(VARIANTARG* pvarg);
// Clears the destination, then makes it a deep copy of the source (a new BSTR, an AddRef on
// interfaces). On failure the destination is VT_EMPTY.
HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);

}
