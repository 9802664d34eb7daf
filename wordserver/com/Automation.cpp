// Application, Documents, Document and Range: the members the Word layer calls by name.
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

namespace {

// ---- Range -------------------------------------------------------------------------------

enum : DISPID { kStart = 1, kEnd, kCopy, kPaste };
const Member kRangeMembers[] = {
    {"Start", kStart, true, 0, 0},
    {"End", kEnd, true, 0, 0},
    {"Copy", kCopy, false, 0, 0},
    {"Paste", kPaste, false, 0, 0},
};

class Range : public DispatchBase {
public:
    Range(DocumentPtr doc, int start, int end)
        : DispatchBase(kRangeMembers, sizeof kRangeMembers / sizeof *kRangeMembers),
          m_doc(std::move(doc)), m_start(start), m_end(end)
    {
    }

protected:
    HRESULT Call(DISPID id, VARIANT**, UINT, VARIANT* result, EXCEPINFO* excep, UINT*) override
    {
        switch (id) {
        case kStart:
        case kEnd:
            if (result) {
                result->vt = VT_I4;
                result->lVal = id == kStart ? m_start : m_end;
            }
            return S_OK;
        case kCopy: return AutomationError(m_doc->Copy(m_start, m_end), excep);
        case kPaste: {
            EngineStatus s = m_doc->Paste(m_start, m_end);
            return AutomationError(s, excep);
        }
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    DocumentPtr m_doc;
    int m_start, m_end;
};

IDispatch* NewRange(const DocumentPtr& doc, int start, int end)
{
    return new (std::nothrow) Range(doc, start, end);
}

HRESULT ReturnObject(IDispatch* obj, VARIANT* result)
{
    if (!obj)
        return E_OUTOFMEMORY;
    if (result) {
        result->vt = VT_DISPATCH;
        result->pdispVal = obj;
    } else {
        obj->Release();
    }
    return S_OK;
}

// ---- Document ------------------------------------------------------------------------------

enum : DISPID { kClose = 1, kSaveAs, kRange, kGoto, kFontReport, kStoredPageCount };
const Member kDocumentMembers[] = {
    {"Close", kClose, false, 0, 3},    // SaveChanges, OriginalFormat, RouteDocument: ignored
    {"SaveAs", kSaveAs, false, 1, 16}, // FileName, FileFormat, LockComments, Password; rest ignored
    {"Range", kRange, false, 0, 2},    // Start, End
    {"Goto", kGoto, false, 0, 4},      // What, Which, Count, Name
    // The stand-in's own (Word has neither): the fonts the engine drew the document with, and
    // the page count the file says Word counted.
    {"FontReport", kFontReport, true, 0, 0},
    {"StoredPageCount", kStoredPageCount, true, 0, 0},
};

const LONG kGoToPage = 1;      // wdGoToPage
const LONG kGoToAbsolute = 1;  // wdGoToAbsolute

class DocumentObject : public DispatchBase {
public:
    explicit DocumentObject(DocumentPtr doc)
        : DispatchBase(kDocumentMembers, sizeof kDocumentMembers / sizeof *kDocumentMembers),
          m_doc(std::move(doc))
    {
    }

protected:
    HRESULT Call(DISPID id, VARIANT** args, UINT count, VARIANT* result, EXCEPINFO* excep,
                 UINT* argErr) override
    {
        switch (id) {
        case kClose:
            if (!m_doc->IsOpen())
                return AutomationError(EngineStatus::Disconnected, excep);
            m_doc->Close();
            return S_OK;
        case kSaveAs: {
            std::string path;
            HRESULT hr = ArgString(args[0], &path);
            if (hr != S_OK) {
                *argErr = 0;
                return hr == DISP_E_PARAMNOTFOUND ? DISP_E_PARAMNOTFOUND : DISP_E_TYPEMISMATCH;
            }
            // Word's fourth argument, Password, encrypts the file.
            std::string password;
            if (count >= 4) {
                hr = ArgString(args[3], &password);
                if (hr == DISP_E_TYPEMISMATCH) {
                    *argErr = 3;
                    return hr;
                }
            }
            return AutomationError(m_doc->SaveAs(path, password), excep);
        }
        case kRange: {
            int end = 0;
            EngineStatus s = m_doc->ContentEnd(&end);
            if (s != EngineStatus::Ok)
                return AutomationError(s, excep);
            LONG a = 0, b = end;
            for (UINT i = 0; i < count; ++i) {
                LONG v;
                HRESULT hr = ArgLong(args[i], &v);
                if (hr == DISP_E_TYPEMISMATCH) {
                    *argErr = i;
                    return hr;
                }
                if (hr == S_OK)
                    (i == 0 ? a : b) = v;
            }
            // Word orders reversed bounds and clamps them to the text.
            if (a > b)
                std::swap(a, b);
            a = std::max<LONG>(0, std::min<LONG>(a, end));
            b = std::max<LONG>(0, std::min<LONG>(b, end));
            return ReturnObject(NewRange(m_doc, a, b), result);
        }
        case kGoto: {
            LONG v[3] = {kGoToPage, kGoToAbsolute, 1};
            for (UINT i = 0; i < count && i < 3; ++i) {
                HRESULT hr = ArgLong(args[i], &v[i]);
                if (hr == DISP_E_TYPEMISMATCH) {
                    *argErr = i;
                    return hr;
                }
            }
            if (count == 4) {
                std::string name;
                HRESULT hr = ArgString(args[3], &name);
                if (hr == DISP_E_TYPEMISMATCH) {
                    *argErr = 3;
                    return hr;
                }
                if (hr == S_OK && !name.empty())
                    return AutomationError(EngineStatus::BadArgument, excep);
            }
            // Only pages, counted from the start, are served.
            if (v[0] != kGoToPage || v[1] != kGoToAbsolute || v[2] < 1)
                return AutomationError(EngineStatus::BadArgument, excep);
            int start = 0;
            EngineStatus s = m_doc->PageStart(v[2], &start);
            if (s != EngineStatus::Ok)
                return AutomationError(s, excep);
            return ReturnObject(NewRange(m_doc, start, start), result);
        }
        case kFontReport: {
            std::vector<FontUse> uses;
            EngineStatus s = m_doc->FontUses(&uses);
            if (s != EngineStatus::Ok)
                return AutomationError(s, excep);
            if (result) {
                BSTR b = BstrFromUtf8(FontReportJson(ClassifyFontUses(uses)));
                if (!b)
                    return E_OUTOFMEMORY;
                result->vt = VT_BSTR;
                result->bstrVal = b;
            }
            return S_OK;
        }
        case kStoredPageCount: {
            int pages = 0;
            std::string application;
            EngineStatus s = m_doc->StoredPages(&pages, &application);
            if (s != EngineStatus::Ok)
                return AutomationError(s, excep);
            if (result) {
                result->vt = VT_I4;
                result->lVal = SavedByWord(application) ? pages : 0;
            }
            return S_OK;
        }
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    DocumentPtr m_doc;
};

// ---- Documents -----------------------------------------------------------------------------

enum : DISPID { kOpen = 1 };
const Member kDocumentsMembers[] = {
    {"Open", kOpen, false, 1, 16},  // FileName; Word's further options are ignored
};

class Documents : public DispatchBase {
public:
    Documents() : DispatchBase(kDocumentsMembers, 1) {}

protected:
    HRESULT Call(DISPID id, VARIANT** args, UINT, VARIANT* result, EXCEPINFO* excep,
                 UINT* argErr) override
    {
        if (id != kOpen)
            return DISP_E_MEMBERNOTFOUND;
        std::string path;
        HRESULT hr = ArgString(args[0], &path);
        if (hr != S_OK) {
            *argErr = 0;
            return hr;
        }
        // A dead engine is replaced here: the next document needs a running one.
        DocumentPtr doc;
        LoadOptions opts;
        opts.readOnly = true;  // edits stay in the engine until SaveAs writes elsewhere
        EngineStatus s = LoadDocument(path, opts, &doc);
        if (s != EngineStatus::Ok)
            return AutomationError(s, excep);
        return ReturnObject(NewDocument(doc), result);
    }
};

// ---- Application ---------------------------------------------------------------------------

enum : DISPID { kDocuments = 1 };
const Member kApplicationMembers[] = {
    {"Documents", kDocuments, true, 0, 0},
};

class Application : public DispatchBase {
public:
    Application() : DispatchBase(kApplicationMembers, 1) {}

protected:
    HRESULT Call(DISPID id, VARIANT**, UINT, VARIANT* result, EXCEPINFO*, UINT*) override
    {
        if (id != kDocuments)
            return DISP_E_MEMBERNOTFOUND;
        return ReturnObject(new (std::nothrow) Documents, result);
    }
};

}  // namespace

IDispatch* NewApplication()
{
    return new (std::nothrow) Application;
}

IDispatch* NewDocument(const DocumentPtr& doc)
{
    return new (std::nothrow) DocumentObject(doc);
}

}  // namespace wordserver
