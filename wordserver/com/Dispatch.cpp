// What every automation object of the server shares: the object and lock counts, strings
// between UTF-16 and UTF-8, engine failures as COM errors, arguments, and IDispatch answered
// from a table of members.
#include "ComObjects.h"

#include <new>

namespace wordserver {

using namespace wordengine;

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

std::string ToUtf8(const OLECHAR* s, size_t n)
{
    std::string out;
    if (!s)
        return out;
    for (size_t i = 0; i < n; ++i) {
        uint32_t c = uint16_t(s[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && uint16_t(s[i + 1]) >= 0xDC00 &&
            uint16_t(s[i + 1]) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint16_t(s[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

BSTR BstrFromUtf8(const std::string& s)
{
    std::u16string w;
    w.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        uint32_t c = 0xFFFD;
        size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size()) {
            ++i;  // a stray or cut byte becomes U+FFFD
        } else {
            c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
            bool ok = true;
            for (size_t k = 1; k < len; ++k) {
                const unsigned char t = static_cast<unsigned char>(s[i + k]);
                ok = ok && (t >> 6) == 2;
                c = (c << 6) | (t & 0x3F);
            }
            if (!ok || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
                c = 0xFFFD;
            i += ok ? len : 1;
        }
        if (c >= 0x10000) {
            w += char16_t(0xD800 + ((c - 0x10000) >> 10));
            w += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            w += char16_t(c);
        }
    }
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(w.data()), UINT(w.size()));
}

std::string ToUtf8(const OLECHAR* s)
{
    size_t n = 0;
    if (s)
        while (s[n])
            ++n;
    return ToUtf8(s, n);
}

HRESULT AutomationError(EngineStatus s, EXCEPINFO* excep)
{
    HRESULT scode;
    switch (s) {
    case EngineStatus::Ok: return S_OK;
    case EngineStatus::NotStarted: return CO_E_SERVER_EXEC_FAILURE;
    case EngineStatus::Disconnected: return RPC_E_DISCONNECTED;
    case EngineStatus::TimedOut: return RPC_E_TIMEOUT;
    case EngineStatus::NotFound: scode = STG_E_FILENOTFOUND; break;
    case EngineStatus::BadArgument: scode = E_INVALIDARG; break;
    default: scode = E_FAIL; break;
    }
    // A failure inside the document is an automation exception, as Word raises it.
    if (excep) {
        *excep = EXCEPINFO();
        excep->scode = scode;
    }
    return DISP_E_EXCEPTION;
}

HRESULT EmbeddingError(EngineStatus s)
{
    switch (s) {
    case EngineStatus::Ok: return S_OK;
    case EngineStatus::NotFound: return STG_E_FILENOTFOUND;
    case EngineStatus::NotStarted: return CO_E_SERVER_EXEC_FAILURE;
    case EngineStatus::Disconnected: return RPC_E_DISCONNECTED;
    case EngineStatus::TimedOut: return RPC_E_TIMEOUT;
    case EngineStatus::BadArgument: return E_INVALIDARG;
    default: return E_FAIL;
    }
}

// ---- arguments -------------------------------------------------------------------------

namespace {

const VARIANT* Deref(const VARIANT* v)
{
    // A by-reference variant may point at another; a few steps are all a caller makes.
    for (int i = 0; v && i < 4 && v->vt == (VT_BYREF | VT_VARIANT); ++i)
        v = v->pvarVal;
    return v;
}

bool Omitted(const VARIANT* v)
{
    return v->vt == VT_EMPTY || (v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND);
}

}  // namespace

HRESULT ArgLong(const VARIANT* v, LONG* out)
{
    v = Deref(v);
    if (!v)
        return DISP_E_TYPEMISMATCH;
    if (Omitted(v))
        return DISP_E_PARAMNOTFOUND;
    switch (v->vt) {
    case VT_I4: *out = v->lVal; return S_OK;
    case VT_I2: *out = v->iVal; return S_OK;
    case VT_BYREF | VT_I4:
        if (!v->plVal)
            return DISP_E_TYPEMISMATCH;
        *out = *v->plVal;
        return S_OK;
    case VT_BYREF | VT_I2:
        if (!v->piVal)
            return DISP_E_TYPEMISMATCH;
        *out = *v->piVal;
        return S_OK;
    default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ArgString(const VARIANT* v, std::string* out)
{
    v = Deref(v);
    if (!v)
        return DISP_E_TYPEMISMATCH;
    if (Omitted(v))
        return DISP_E_PARAMNOTFOUND;
    BSTR b;
    if (v->vt == VT_BSTR)
        b = v->bstrVal;
    else if (v->vt == (VT_BYREF | VT_BSTR) && v->pbstrVal)
        b = *v->pbstrVal;
    else
        return DISP_E_TYPEMISMATCH;
    *out = ToUtf8(b, b ? SysStringLen(b) : 0);
    return S_OK;
}

// ---- IDispatch by table --------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE DispatchBase::GetTypeInfoCount(UINT* pctinfo)
{
    if (!pctinfo)
        return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DispatchBase::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo)
{
    if (ppTInfo)
        *ppTInfo = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DispatchBase::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT cNames, LCID,
                                                      DISPID* ids)
{
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids || cNames == 0)
        return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i)
        ids[i] = DISPID_UNKNOWN;
    const OLECHAR* n = names[0];
    if (!n)
        return DISP_E_UNKNOWNNAME;
    for (size_t m = 0; m < m_count; ++m) {
        const char* a = m_members[m].name;
        size_t k = 0;
        for (;; ++k) {
            char16_t c = n[k];
            char d = a[k];
            if (c >= 'A' && c <= 'Z')
                c = char16_t(c - 'A' + 'a');
            if (d >= 'A' && d <= 'Z')
                d = char(d - 'A' + 'a');
            if (c != char16_t(static_cast<unsigned char>(d)))
                break;
            if (d == 0) {
                ids[0] = m_members[m].id;
                // Named arguments are not supported: their names stay unknown.
                return cNames > 1 ? DISP_E_UNKNOWNNAME : S_OK;
            }
        }
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT STDMETHODCALLTYPE DispatchBase::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                               VARIANT* result, EXCEPINFO* excep, UINT* argErr)
{
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    const Member* member = nullptr;
    for (size_t m = 0; m < m_count; ++m)
        if (m_members[m].id == id)
            member = &m_members[m];
    if (!member)
        return DISP_E_MEMBERNOTFOUND;
    // Properties are read with a property get (a caller may add the method flag, as script
    // hosts do); methods are called. Nothing here is writable.
    bool ok = member->property ? (flags & DISPATCH_PROPERTYGET) != 0 : (flags & DISPATCH_METHOD) != 0;
    if (!ok || (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
        return DISP_E_MEMBERNOTFOUND;
    UINT count = params ? params->cArgs : 0;
    if (count > 0 && (!params || !params->rgvarg))
        return E_INVALIDARG;
    if (params && params->cNamedArgs > 0)
        return DISP_E_NONAMEDARGS;
    if (count < member->minArgs || count > member->maxArgs)
        return DISP_E_BADPARAMCOUNT;
    VARIANT* args[16] = {};
    for (UINT i = 0; i < count; ++i)
        args[i] = &params->rgvarg[count - 1 - i];
    if (result)
        VariantInit(result);
    UINT localErr = 0;
    HRESULT hr;
    try {
        hr = Call(id, args, count, result, excep, &localErr);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    } catch (...) {
        hr = E_UNEXPECTED;
    }
    // puArgErr counts from the end, as in the OLE array.
    if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND) && argErr)
        *argErr = count - 1 - localErr;
    return hr;
}

}  // namespace wordserver
