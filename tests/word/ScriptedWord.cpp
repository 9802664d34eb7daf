// The scripted automation server of the Word-layer tests.
#include "ScriptedWord.h"

#include "Unscripted.h"
#include "oleclasses.h"
#include <comobject.h>

#include <strings.h>
#include <unistd.h>

#include <cstdlib>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>

namespace scripted {
namespace {

std::atomic<int> gLive{0};
std::vector<Call> gCalls;
Script gScript;
// Embeddings get serial numbers; those below gDeadBelow belong to an engine that died.
int gEmbeddingSerial = 0;
int gDeadBelow = 0;
int gPrintDraws = 0;
std::vector<Page> gClipboard;
bool gClipboardFull = false;
DWORD gCookies[2] = {0, 0};

std::string Utf8(const OLECHAR* s)
{
    std::string out;
    if (!s)
        return out;
    int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return out;
    out.resize(size_t(n));
    WideCharToMultiByte(CP_UTF8, 0, s, -1, &out[0], n, nullptr, nullptr);
    out.resize(size_t(n) - 1);
    return out;
}

std::vector<Arg> RecordArgs(const DISPPARAMS* p)
{
    std::vector<Arg> args;
    if (!p)
        return args;
    for (UINT i = 0; i < p->cArgs; ++i) {
        const VARIANT& v = p->rgvarg[i];
        Arg a;
        a.vt = v.vt;
        if (v.vt == VT_I4)
            a.i4 = v.lVal;
        else if (v.vt == VT_ERROR)
            a.scode = v.scode;
        else if (v.vt == VT_BSTR)
            a.str = Utf8(v.bstrVal);
        args.push_back(a);
    }
    return args;
}

bool ReadFile(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

// Counts itself among the live objects.
class Counted {
public:
    Counted() { ++gLive; }
    virtual ~Counted() { --gLive; }
};

// The document model shared by a Document object and the embedding that holds it.
struct Model {
    std::vector<Page> pages;
    std::string path;

    LONG Length() const
    {
        LONG n = 0;
        for (const Page& p : pages)
            n += LONG(p.text.size());
        return n;
    }
    LONG PageStart(size_t index) const
    {
        LONG n = 0;
        for (size_t i = 0; i < index && i < pages.size(); ++i)
            n += LONG(pages[i].text.size());
        return n;
    }
    // The fragments of the pages within [start, end).
    std::vector<Page> Slice(LONG start, LONG end) const
    {
        std::vector<Page> out;
        LONG pos = 0;
        for (const Page& p : pages) {
            const LONG ps = pos, pe = pos + LONG(p.text.size());
            pos = pe;
            const LONG s = std::max(ps, start), e = std::min(pe, end);
            if (s >= e)
                continue;
            Page f = p;
            f.text = p.text.substr(size_t(s - ps), size_t(e - s));
            out.push_back(f);
        }
        return out;
    }
};

typedef std::shared_ptr<Model> ModelPtr;

// Members by name: each object kind lists its members; ids are positions + 1.
struct Member {
    const char* name;
    bool property; // property get, else method
};

class DispBase : public com::Object<com::Answers<IDispatch, &IID_IDispatch>>, public Counted {
public:
    DispBase(const char* kind, const std::vector<Member>& members) : m_kind(kind), m_members(members) {}

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override
    {
        if (pctinfo)
            *pctinfo = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** pp) override
    {
        if (pp)
            *pp = nullptr;
        return Unscripted("Dispatch.GetTypeInfo");
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) override
    {
        if (!rgszNames || !rgDispId || cNames != 1)
            return E_INVALIDARG;
        Call c;
        c.object = m_kind;
        c.member = Utf8(rgszNames[0]);
        c.lookup = true;
        gCalls.push_back(c);
        for (size_t i = 0; i < m_members.size(); ++i) {
            if (strcasecmp(m_members[i].name, c.member.c_str()) == 0) {
                rgDispId[0] = DISPID(i + 1);
                return S_OK;
            }
        }
        rgDispId[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD wFlags, DISPPARAMS* p, VARIANT* pResult,
                                     EXCEPINFO*, UINT*) override
    {
        if (id < 1 || size_t(id) > m_members.size())
            return DISP_E_MEMBERNOTFOUND;
        const Member& m = m_members[size_t(id) - 1];
        Call c;
        c.object = m_kind;
        c.member = m.name;
        c.flags = wFlags;
        c.args = RecordArgs(p);
        gCalls.push_back(c);
        if (!p)
            return E_INVALIDARG;
        if (!(wFlags & (m.property ? DISPATCH_PROPERTYGET : DISPATCH_METHOD)))
            return DISP_E_MEMBERNOTFOUND;
        if (p->cNamedArgs != 0)
            return DISP_E_NONAMEDARGS;
        if (pResult)
            VariantInit(pResult);
        return Do(m.name, *p, pResult);
    }

protected:
    virtual HRESULT Do(const std::string& name, const DISPPARAMS& p, VARIANT* pResult) = 0;

    // The positional argument i (0 = first), read from the end of the array.
    static const VARIANT* ArgAt(const DISPPARAMS& p, UINT i) { return i < p.cArgs ? &p.rgvarg[p.cArgs - 1 - i] : nullptr; }
    static HRESULT ArgI4(const DISPPARAMS& p, UINT i, LONG& out)
    {
        const VARIANT* v = ArgAt(p, i);
        if (!v)
            return DISP_E_BADPARAMCOUNT;
        if (v->vt != VT_I4)
            return DISP_E_TYPEMISMATCH;
        out = v->lVal;
        return S_OK;
    }
    static HRESULT ArgString(const DISPPARAMS& p, UINT i, std::string& out)
    {
        const VARIANT* v = ArgAt(p, i);
        if (!v)
            return DISP_E_BADPARAMCOUNT;
        if (v->vt != VT_BSTR)
            return DISP_E_TYPEMISMATCH;
        out = Utf8(v->bstrVal);
        return S_OK;
    }
    static void SetDispatch(VARIANT* pResult, IDispatch* pDisp)
    {
        if (pResult) {
            pResult->vt = VT_DISPATCH;
            pResult->pdispVal = pDisp; // the caller's reference
        } else {
            pDisp->Release();
        }
    }
    static void SetI4(VARIANT* pResult, LONG n)
    {
        if (pResult) {
            pResult->vt = VT_I4;
            pResult->lVal = n;
        }
    }

private:
    std::string m_kind;
    std::vector<Member> m_members;
};

class RangeObject final : public DispBase {
public:
    RangeObject(ModelPtr model, LONG start, LONG end)
        : DispBase("Range", {{"Start", true}, {"End", true}, {"Copy", false}, {"Paste", false}}), m_model(model),
          m_start(start), m_end(end)
    {
    }

protected:
    HRESULT Do(const std::string& name, const DISPPARAMS& p, VARIANT* pResult) override
    {
        if (p.cArgs != 0)
            return DISP_E_BADPARAMCOUNT;
        if (name == "Start") {
            SetI4(pResult, m_start);
            return S_OK;
        }
        if (name == "End") {
            SetI4(pResult, m_end);
            return S_OK;
        }
        if (name == "Copy") {
            if (gScript.failCopy)
                return DISP_E_EXCEPTION;
            gClipboard = m_model->Slice(m_start, m_end);
            gClipboardFull = true;
            return S_OK;
        }
        // Paste: only the whole main text is replaced here.
        if (!gClipboardFull)
            return DISP_E_EXCEPTION;
        if (m_start != 0 || m_end != m_model->Length())
            return Unscripted("Range.Paste over part of the text");
        m_model->pages = gClipboard;
        return S_OK;
    }

private:
    ModelPtr m_model;
    LONG m_start;
    LONG m_end;
};

class DocumentObject final : public DispBase {
public:
    explicit DocumentObject(ModelPtr model)
        : DispBase("Document", {{"Close", false}, {"SaveAs", false}, {"Range", false}, {"Goto", false}}),
          m_model(model)
    {
    }

protected:
    HRESULT Do(const std::string& name, const DISPPARAMS& p, VARIANT* pResult) override
    {
        if (name == "Close")
            return p.cArgs == 0 ? S_OK : DISP_E_BADPARAMCOUNT;
        if (name == "SaveAs") {
            std::string path;
            HRESULT hr = p.cArgs == 1 ? ArgString(p, 0, path) : DISP_E_BADPARAMCOUNT;
            if (FAILED(hr))
                return hr;
            if (gScript.failSaveAs)
                return DISP_E_EXCEPTION;
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out << FormatDocument(m_model->pages);
            return out ? S_OK : DISP_E_EXCEPTION;
        }
        if (name == "Range") {
            LONG start = 0, end = m_model->Length();
            if (p.cArgs == 2) {
                HRESULT hr = ArgI4(p, 0, start);
                if (SUCCEEDED(hr))
                    hr = ArgI4(p, 1, end);
                if (FAILED(hr))
                    return hr;
            } else if (p.cArgs != 0) {
                return DISP_E_BADPARAMCOUNT;
            }
            if (start < 0 || end < start || end > m_model->Length())
                return DISP_E_EXCEPTION;
            SetDispatch(pResult, new RangeObject(m_model, start, end));
            return S_OK;
        }
        // Goto (What, Which, Count, Name): only pages, absolute, Name omitted.
        if (p.cArgs != 4)
            return DISP_E_BADPARAMCOUNT;
        LONG what = 0, which = 0, count = 0;
        HRESULT hr = ArgI4(p, 0, what);
        if (SUCCEEDED(hr))
            hr = ArgI4(p, 1, which);
        if (SUCCEEDED(hr))
            hr = ArgI4(p, 2, count);
        if (FAILED(hr))
            return hr;
        const VARIANT* nameArg = ArgAt(p, 3);
        if (nameArg->vt != VT_ERROR || nameArg->scode != DISP_E_PARAMNOTFOUND)
            return DISP_E_TYPEMISMATCH;
        if (what != 1 || which != 1 || count < 1)
            return E_INVALIDARG;
        if (gScript.gotoFailFrom > 0 && count >= gScript.gotoFailFrom)
            return DISP_E_EXCEPTION;
        size_t index = size_t(count - 1);
        if (index >= m_model->pages.size()) {
            if (gScript.gotoPastEndFails || m_model->pages.empty())
                return DISP_E_EXCEPTION;
            index = m_model->pages.size() - 1; // as the word processor: stays on the last page
        }
        const LONG start = m_model->PageStart(index);
        SetDispatch(pResult, new RangeObject(m_model, start, start));
        return S_OK;
    }

private:
    ModelPtr m_model;
};

bool LoadModel(const std::string& path, Model& model)
{
    if (!gScript.crashOn.empty() && path.find(gScript.crashOn) != std::string::npos)
        _exit(9);
    if (!gScript.hangOn.empty() && path.find(gScript.hangOn) != std::string::npos)
        for (;;)
            pause();
    std::string content;
    if (!ReadFile(path, content))
        return false;
    model.pages = ParseDocument(content);
    model.path = path;
    return true;
}

class DocumentsObject final : public DispBase {
public:
    DocumentsObject() : DispBase("Documents", {{"Open", false}}) {}

protected:
    HRESULT Do(const std::string&, const DISPPARAMS& p, VARIANT* pResult) override
    {
        std::string path;
        HRESULT hr = p.cArgs == 1 ? ArgString(p, 0, path) : DISP_E_BADPARAMCOUNT;
        if (FAILED(hr))
            return hr;
        if (gScript.failDocumentsOpen)
            return DISP_E_EXCEPTION;
        auto model = std::make_shared<Model>();
        if (!LoadModel(path, *model))
            return DISP_E_EXCEPTION;
        SetDispatch(pResult, new DocumentObject(model));
        return S_OK;
    }
};

class ApplicationObject final : public DispBase {
public:
    ApplicationObject() : DispBase("Application", {{"Documents", true}}) {}
    ~ApplicationObject()
    {
        Call c;
        c.object = "Application";
        c.member = "destroyed";
        gCalls.push_back(c);
    }

protected:
    HRESULT Do(const std::string&, const DISPPARAMS& p, VARIANT* pResult) override
    {
        if (p.cArgs != 0)
            return DISP_E_BADPARAMCOUNT;
        if (gScript.noDocuments)
            return S_OK; // VT_EMPTY
        SetDispatch(pResult, new DocumentsObject);
        return S_OK;
    }
};

void Record(const char* member)
{
    Call c;
    c.object = "Embedded";
    c.member = member;
    gCalls.push_back(c);
}

// An embedded document: loaded from a file, its automation object is a Document.
class EmbeddedObject final : public com::Object<com::Answers<IPersistFile, &IID_IPersistFile, &IID_IPersist>,
                                                 com::Answers<IRunnableObject, &IID_IRunnableObject>,
                                                 com::Answers<IOleObject, &IID_IOleObject>,
                                                 com::Answers<IViewObject2, &IID_IViewObject>>,
                             public Counted {
public:
    EmbeddedObject() : m_model(std::make_shared<Model>()), m_serial(++gEmbeddingSerial) {}
    ~EmbeddedObject() override
    {
        if (m_pDoc)
            m_pDoc->Release();
        Call c;
        c.object = "Embedded";
        c.member = "destroyed";
        Arg a;
        a.vt = VT_BSTR;
        a.str = m_model->path;
        c.args.push_back(a);
        gCalls.push_back(c);
    }

    // The page view only when the script has the server draw pages; the document's
    // automation object for IDispatch.
    HRESULT QueryOther(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IViewObject2) && (gScript.pageView || gScript.pageViewRefusesPrint)) {
            AddRef();
            *ppv = static_cast<IViewObject2*>(this);
            return S_OK;
        }
        if (IsEqualIID(riid, IID_IDispatch) && m_pDoc) {
            m_pDoc->AddRef();
            *ppv = m_pDoc;
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    // IPersistFile
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* p) override
    {
        if (!p)
            return E_POINTER;
        *p = CLSID_WordDocument;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR pszFileName, DWORD) override
    {
        Call c;
        c.object = "Embedded";
        c.member = "Load";
        Arg a;
        a.vt = VT_BSTR;
        a.str = Utf8(pszFileName);
        c.args.push_back(a);
        gCalls.push_back(c);
        if (gScript.onLoad)
            gScript.onLoad(a.str);
        if (gScript.failLoads > 0) {
            --gScript.failLoads;
            return RPC_E_DISCONNECTED;
        }
        if (gScript.failLoad || m_pDoc || !LoadModel(a.str, *m_model))
            return STG_E_FILENOTFOUND;
        m_pDoc = new DocumentObject(m_model);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR, BOOL) override { return Unscripted("Embedded.Save"); }
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return Unscripted("Embedded.SaveCompleted"); }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR*) override { return Unscripted("Embedded.GetCurFile"); }

    // IRunnableObject
    HRESULT STDMETHODCALLTYPE GetRunningClass(LPCLSID p) override { return GetClassID(p); }
    HRESULT STDMETHODCALLTYPE Run(LPBINDCTX) override
    {
        Record("Run");
        if (!m_pDoc)
            return OLE_E_BLANK;
        m_running = true;
        return S_OK;
    }
    BOOL STDMETHODCALLTYPE IsRunning() override { return m_running; }
    HRESULT STDMETHODCALLTYPE LockRunning(BOOL, BOOL) override { return Unscripted("Embedded.LockRunning"); }
    HRESULT STDMETHODCALLTYPE SetContainedObject(BOOL) override { return S_OK; }

    // IOleObject: only the extent is served.
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite*) override { return Unscripted("Embedded.SetClientSite"); }
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite**) override { return Unscripted("Embedded.GetClientSite"); }
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return Unscripted("Embedded.SetHostNames"); }
    // Closed, it still draws its pages: as an OLE object in its loaded state, from its cache.
    HRESULT STDMETHODCALLTYPE Close(DWORD dwSaveOption) override
    {
        Record("Close");
        return dwSaveOption == OLECLOSE_NOSAVE ? S_OK : Unscripted("Embedded.Close saving");
    }
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return Unscripted("Embedded.SetMoniker"); }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return Unscripted("Embedded.GetMoniker"); }
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return Unscripted("Embedded.InitFromData"); }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override { return Unscripted("Embedded.GetClipboardData"); }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG, struct tagMSG*, IOleClientSite*, LONG, HWND, LPCRECT) override
    {
        return Unscripted("Embedded.DoVerb");
    }
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB**) override { return Unscripted("Embedded.EnumVerbs"); }
    HRESULT STDMETHODCALLTYPE Update() override { return Unscripted("Embedded.Update"); }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return Unscripted("Embedded.IsUpToDate"); }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* p) override { return GetClassID(p); }
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR*) override { return Unscripted("Embedded.GetUserType"); }
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL*) override { return Unscripted("Embedded.SetExtent"); }
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD dwDrawAspect, SIZEL* psizel) override
    {
        Record("GetExtent");
        if (!psizel)
            return E_POINTER;
        if (dwDrawAspect != DVASPECT_CONTENT)
            return DV_E_DVASPECT;
        if (!m_running || m_model->pages.empty())
            return OLE_E_BLANK;
        psizel->cx = m_model->pages[0].cx;
        psizel->cy = m_model->pages[0].cy;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD*) override { return Unscripted("Embedded.Advise"); }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return Unscripted("Embedded.Unadvise"); }
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA**) override { return Unscripted("Embedded.EnumAdvise"); }
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD*) override { return Unscripted("Embedded.GetMiscStatus"); }
    HRESULT STDMETHODCALLTYPE SetColorScheme(struct tagLOGPALETTE*) override { return Unscripted("Embedded.SetColorScheme"); }

    // IViewObject: the first page (any page for the print aspect) as one colour over the bounds.
    HRESULT STDMETHODCALLTYPE Draw(DWORD dwDrawAspect, LONG lindex, void*, DVTARGETDEVICE*, HDC, HDC hdcDraw,
                                   LPCRECTL lprcBounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                   ULONG_PTR) override
    {
        Record(dwDrawAspect == DVASPECT_DOCPRINT ? "DrawPrint" : "Draw");
        if (dwDrawAspect == DVASPECT_DOCPRINT &&
            (++gPrintDraws == gScript.dieAtPrintDraw || gScript.dieAtPrintDraw < 0))
            gDeadBelow = gEmbeddingSerial + 1;
        if (m_serial < gDeadBelow)
            return RPC_E_DISCONNECTED;
        if (!lprcBounds)
            return E_INVALIDARG;
        size_t page = 0;
        if (dwDrawAspect == DVASPECT_DOCPRINT && gScript.pageView) {
            if (lindex < 1 || size_t(lindex) > m_model->pages.size())
                return DV_E_LINDEX;
            page = size_t(lindex) - 1;
        } else if (dwDrawAspect != DVASPECT_CONTENT) {
            return DV_E_DVASPECT;
        }
        if (!m_running || m_model->pages.empty())
            return OLE_E_BLANK;
        const std::string& text = m_model->pages[page].text;
        const COLORREF c = PageColour(text.substr(0, text.find('\n')));
        const uint32_t pixel = (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) | GetBValue(c);
        BITMAPINFO bmi = {};
        bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bmi.bmiHeader.biWidth = 1;
        bmi.bmiHeader.biHeight = 1;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        bmi.bmiHeader.biCompression = BI_RGB;
        const int w = lprcBounds->right - lprcBounds->left, h = lprcBounds->bottom - lprcBounds->top;
        if (!StretchDIBits(hdcDraw, lprcBounds->left, lprcBounds->top, w, h, 0, 0, 1, 1, &pixel, &bmi,
                           DIB_RGB_COLORS, SRCCOPY))
            return VIEW_E_DRAW;
        return S_OK;
    }
    // IViewObject2: the extent of a page of the print aspect.
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD dwDrawAspect, LONG lindex, DVTARGETDEVICE*, LPSIZEL psizel) override
    {
        Record("GetPrintExtent");
        if (!psizel)
            return E_POINTER;
        if (m_serial < gDeadBelow)
            return RPC_E_DISCONNECTED;
        if (dwDrawAspect != DVASPECT_DOCPRINT || !gScript.pageView)
            return DV_E_DVASPECT;
        if (!m_running)
            return OLE_E_BLANK;
        if (lindex < 1 || size_t(lindex) > m_model->pages.size())
            return DV_E_LINDEX;
        psizel->cx = m_model->pages[size_t(lindex) - 1].cx;
        psizel->cy = m_model->pages[size_t(lindex) - 1].cy;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, struct tagLOGPALETTE**) override
    {
        return Unscripted("Embedded.GetColorSet");
    }
    HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD*) override { return Unscripted("Embedded.Freeze"); }
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override { return Unscripted("Embedded.Unfreeze"); }
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD, DWORD, IAdviseSink*) override { return Unscripted("Embedded.SetAdvise"); }
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD*, DWORD*, IAdviseSink**) override { return Unscripted("Embedded.GetAdvise"); }

private:
    ModelPtr m_model;
    DocumentObject* m_pDoc = nullptr;
    bool m_running = false;
    int m_serial;
};

class Factory final : public com::Object<com::Answers<IClassFactory, &IID_IClassFactory>>, public Counted {
public:
    explicit Factory(bool embedded) : m_embedded(embedded) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (pOuter)
            return CLASS_E_NOAGGREGATION;
        IUnknown* p = m_embedded ? static_cast<IUnknown*>(static_cast<IPersistFile*>(new EmbeddedObject))
                                 : static_cast<IUnknown*>(new ApplicationObject);
        HRESULT hr = p->QueryInterface(riid, ppv);
        p->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    bool m_embedded;
};

} // namespace

void Install()
{
    gCalls.clear();
    gScript = Script();
    gDeadBelow = 0;
    gPrintDraws = 0;
    gClipboard.clear();
    gClipboardFull = false;
    Factory* app = new Factory(false);
    Factory* doc = new Factory(true);
    CoRegisterClassObject(CLSID_WordApplication, app, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &gCookies[0]);
    CoRegisterClassObject(CLSID_WordDocument, doc, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &gCookies[1]);
    app->Release();
    doc->Release();
}

void Uninstall()
{
    for (DWORD& c : gCookies) {
        if (c)
            CoRevokeClassObject(c);
        c = 0;
    }
    gClipboard.clear();
    gClipboardFull = false;
}

Script& TheScript() { return gScript; }
const std::vector<Call>& Calls() { return gCalls; }
void ClearCalls() { gCalls.clear(); }
int LiveObjects() { return gLive.load(); }

std::vector<Call> CallsOf(const std::string& member)
{
    std::vector<Call> out;
    for (const Call& c : gCalls)
        if (!c.lookup && strcasecmp(c.member.c_str(), member.c_str()) == 0)
            out.push_back(c);
    return out;
}

std::vector<Page> ParseDocument(const std::string& content)
{
    std::vector<Page> pages;
    std::istringstream in(content);
    std::string line;
    bool bFirst = true;
    while (std::getline(in, line)) {
        if (bFirst && line.compare(0, 5, "{\\rtf") == 0) {
            bFirst = false;
            continue;
        }
        bFirst = false;
        if (line.compare(0, 6, "#page ") == 0) {
            Page p;
            std::istringstream(line.substr(6)) >> p.cx >> p.cy;
            pages.push_back(p);
            continue;
        }
        if (pages.empty())
            pages.push_back(Page());
        pages.back().text += line + "\n";
    }
    if (pages.empty())
        pages.push_back(Page());
    return pages;
}

std::string FormatDocument(const std::vector<Page>& pages)
{
    std::string out;
    for (const Page& p : pages) {
        out += "#page " + std::to_string(p.cx) + " " + std::to_string(p.cy) + "\n" + p.text;
        if (!p.text.empty() && p.text.back() != '\n')
            out += "\n";
    }
    return out;
}

std::string MakeDocument(const std::vector<std::string>& firstLines, LONG cx, LONG cy)
{
    std::vector<Page> pages;
    for (const std::string& l : firstLines) {
        Page p;
        p.cx = cx;
        p.cy = cy;
        p.text = l + "\nmore text\n";
        pages.push_back(p);
    }
    return FormatDocument(pages);
}

bool ScriptFromText(const std::string& text, Script* pScript)
{
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        const size_t eq = word.find('=');
        const std::string key = word.substr(0, eq);
        const std::string value = eq == std::string::npos ? "1" : word.substr(eq + 1);
        if (key == "pageView")
            pScript->pageView = value != "0";
        else if (key == "failLoads")
            pScript->failLoads = std::atoi(value.c_str());
        else if (key == "dieAtPrintDraw")
            pScript->dieAtPrintDraw = std::atoi(value.c_str());
        else if (key == "hangOn")
            pScript->hangOn = value;
        else if (key == "crashOn")
            pScript->crashOn = value;
        else
            return false;
    }
    return true;
}

COLORREF PageColour(const std::string& firstLine)
{
    uint32_t h = 2166136261u;
    for (unsigned char c : firstLine)
        h = (h ^ c) * 16777619u;
    h &= 0x007f7f7f; // never white, never the white page behind
    return h;
}

} // namespace scripted
