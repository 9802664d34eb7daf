// An embedded Word document: loaded by IPersistFile::Load, measured by IOleObject::GetExtent,
// drawn by IViewObject::Draw (its first page, from the engine's PDF export through poppler),
// and its Document automation object for IDispatch.
#include "ComObjects.h"

#include <oleclasses.h>

#include <new>
#include <vector>

namespace wordserver {

using namespace wordengine;

namespace {

class EmbeddedDocument : public IPersistFile,
                         public IOleObject,
                         public IViewObject,
                         public IRunnableObject,
                         public ServerObject {
public:
    EmbeddedDocument() = default;
    ~EmbeddedDocument() override
    {
        if (m_dispatch)
            m_dispatch->Release();
    }

    // IUnknown (shared by every interface)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPersistFile) ||
            IsEqualIID(riid, IID_IPersist))
            *ppv = static_cast<IPersistFile*>(this);
        else if (IsEqualIID(riid, IID_IOleObject))
            *ppv = static_cast<IOleObject*>(this);
        else if (IsEqualIID(riid, IID_IViewObject))
            *ppv = static_cast<IViewObject*>(this);
        else if (IsEqualIID(riid, IID_IRunnableObject))
            *ppv = static_cast<IRunnableObject*>(this);
        else if (IsEqualIID(riid, IID_IDispatch)) {
            // The document's automation object, as Word gives it for an embedding.
            if (!m_doc)
                return E_NOINTERFACE;
            if (!m_dispatch) {
                m_dispatch = NewDocument(m_doc);
                if (!m_dispatch)
                    return E_OUTOFMEMORY;
            }
            m_dispatch->AddRef();
            *ppv = m_dispatch;
            return S_OK;
        }
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG n = --m_refs;
        if (n == 0)
            delete this;
        return n;
    }

    // IPersist / IPersistFile
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override
    {
        if (!clsid)
            return E_POINTER;
        *clsid = CLSID_WordDocument;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR fileName, DWORD) override
    {
        if (!fileName || !*fileName)
            return E_INVALIDARG;
        if (m_doc)
            return E_UNEXPECTED;  // one document per object
        DocumentPtr doc;
        LoadOptions opts;
        opts.readOnly = true;  // the source is only read
        EngineStatus s = LoadDocument(ToUtf8(fileName), opts, &doc);
        if (s != EngineStatus::Ok)
            return EmbeddingError(s);
        m_doc = doc;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* name) override
    {
        if (name)
            *name = nullptr;
        return E_NOTIMPL;
    }

    // IOleObject: only the extent is served; the rest is what an object without a site says.
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override
    {
        if (site)
            *site = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Close(DWORD) override
    {
        if (m_doc)
            m_doc->Close();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** mk) override
    {
        if (mk)
            *mk = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject** data) override
    {
        if (data)
            *data = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG, struct tagMSG*, IOleClientSite*, LONG, HWND, LPCRECT) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** e) override
    {
        if (e)
            *e = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override { return GetClassID(clsid); }
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR* type) override
    {
        if (type)
            *type = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override
    {
        if (!size)
            return E_POINTER;
        if (aspect != DVASPECT_CONTENT)
            return DV_E_DVASPECT;
        std::shared_ptr<const PdfBytes> pdf;
        HRESULT hr = FirstPage(&pdf);
        if (FAILED(hr))
            return hr;
        double w = 0, h = 0;
        if (!PdfPageSize(*pdf, 0, &w, &h))
            return E_FAIL;
        // Points (1/72 inch) to HIMETRIC (1/100 mm).
        size->cx = LONG(w * 2540.0 / 72.0 + 0.5);
        size->cy = LONG(h * 2540.0 / 72.0 + 0.5);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD* conn) override
    {
        if (conn)
            *conn = 0;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** e) override
    {
        if (e)
            *e = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD* status) override
    {
        if (!status)
            return E_POINTER;
        *status = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetColorScheme(struct tagLOGPALETTE*) override { return E_NOTIMPL; }

    // IViewObject
    HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC hdcDraw,
                                   LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                   ULONG_PTR) override
    {
        if (aspect != DVASPECT_CONTENT)
            return DV_E_DVASPECT;
        if (!hdcDraw || !bounds)
            return E_INVALIDARG;
        LONG left = std::min(bounds->left, bounds->right), right = std::max(bounds->left, bounds->right);
        LONG top = std::min(bounds->top, bounds->bottom), bottom = std::max(bounds->top, bounds->bottom);
        long long w = (long long)right - left, h = (long long)bottom - top;
        if (w <= 0 || h <= 0)
            return S_OK;  // nothing to draw into
        if (w > 32767 || h > 32767)
            return E_INVALIDARG;
        std::shared_ptr<const PdfBytes> pdf;
        HRESULT hr = FirstPage(&pdf);
        if (FAILED(hr))
            return hr;
        std::vector<uint32_t> pixels;
        if (!RasterisePdfPage(*pdf, 0, int(w), int(h), &pixels))
            return E_FAIL;
        BITMAPINFO bmi = {};
        bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bmi.bmiHeader.biWidth = LONG(w);
        bmi.bmiHeader.biHeight = -LONG(h);  // top-down
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        bmi.bmiHeader.biCompression = BI_RGB;
        int lines = SetDIBitsToDevice(hdcDraw, left, top, DWORD(w), DWORD(h), 0, 0, 0, UINT(h),
                                      pixels.data(), &bmi, DIB_RGB_COLORS);
        return lines > 0 ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                          struct tagLOGPALETTE** set) override
    {
        if (set)
            *set = nullptr;
        return S_FALSE;  // no particular palette
    }
    HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD* f) override
    {
        if (f)
            *f = 0;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD, DWORD, IAdviseSink*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD*, DWORD*, IAdviseSink** sink) override
    {
        if (sink)
            *sink = nullptr;
        return E_NOTIMPL;
    }

    // IRunnableObject: loading already runs the document in the engine.
    HRESULT STDMETHODCALLTYPE GetRunningClass(LPCLSID clsid) override { return GetClassID(clsid); }
    HRESULT STDMETHODCALLTYPE Run(LPBINDCTX) override
    {
        if (!m_doc)
            return OLE_E_BLANK;
        return m_doc->IsOpen() ? S_OK : OLE_E_NOTRUNNING;
    }
    BOOL STDMETHODCALLTYPE IsRunning() override { return m_doc && m_doc->IsOpen(); }
    HRESULT STDMETHODCALLTYPE LockRunning(BOOL, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetContainedObject(BOOL) override { return S_OK; }

private:
    HRESULT FirstPage(std::shared_ptr<const PdfBytes>* pdf)
    {
        if (!m_doc)
            return OLE_E_BLANK;
        return EmbeddingError(m_doc->FirstPagePdf(pdf));
    }

    std::atomic<ULONG> m_refs{1};
    DocumentPtr m_doc;
    IDispatch* m_dispatch = nullptr;
};

}  // namespace

IUnknown* NewEmbeddedDocument()
{
    return static_cast<IPersistFile*>(new (std::nothrow) EmbeddedDocument);
}

}  // namespace wordserver
