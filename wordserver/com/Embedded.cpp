// An embedded Word document: loaded by IPersistFile::Load, measured by IOleObject::GetExtent,
// drawn by IViewObject::Draw (its first page, from the engine's PDF export through poppler),
// and its Document automation object for IDispatch. For the print aspect (DVASPECT_DOCPRINT)
// IViewObject2::GetExtent and IViewObject::Draw serve any page, lindex counting from 1, as the
// document itself lays it out: the whole document is exported once and its pages drawn from
// that export (page 1 of a long document first on its own). Closed, it still draws the pages
// exported before, so that the engine can take another document while they are drawn.
#include "ComObjects.h"

#include <oleclasses.h>

#include <list>
#include <memory>
#include <new>
#include <vector>

namespace wordserver {

using namespace wordengine;

namespace {

class EmbeddedDocument : public com::Object<com::Answers<IPersistFile, &IID_IPersistFile, &IID_IPersist>,
                                            com::Answers<IOleObject, &IID_IOleObject>,
                                            com::Answers<IViewObject2, &IID_IViewObject2, &IID_IViewObject>,
                                            com::Answers<IRunnableObject, &IID_IRunnableObject>>,
                         public ServerObject {
public:
    EmbeddedDocument() = default;
    ~EmbeddedDocument() override
    {
        if (m_dispatch)
            m_dispatch->Release();
    }

    // The document's automation object for IDispatch, as Word gives it for an embedding.
    HRESULT QueryOther(REFIID riid, void** ppv) override
    {
        if (!IsEqualIID(riid, IID_IDispatch) || !m_doc)
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
        return ComGuard([&]() -> HRESULT {
            DocumentPtr doc;
            LoadOptions opts;
            opts.readOnly = true;  // the source is only read
            EngineStatus s = LoadDocument(ToUtf8(fileName), opts, &doc);
            if (s != EngineStatus::Ok)
                return EmbeddingError(s);
            m_doc = doc;
            return S_OK;
        });
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
        return ComGuard([&]() -> HRESULT {
            if (m_doc)
                m_doc->Close();
            return S_OK;
        });
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
        return ComGuard([&]() -> HRESULT {
            std::shared_ptr<const PdfBytes> pdf;
            HRESULT hr = FirstPage(&pdf);
            if (FAILED(hr))
                return hr;
            double w = 0, h = 0;
            if (!PdfPageSize(*pdf, 0, &w, &h))
                return E_FAIL;
            *size = Himetric(w, h);
            return S_OK;
        });
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
    HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG lindex, void*, DVTARGETDEVICE*, HDC, HDC hdcDraw,
                                   LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                   ULONG_PTR) override
    {
        if (aspect != DVASPECT_CONTENT && aspect != DVASPECT_DOCPRINT)
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
        return ComGuard([&]() -> HRESULT {
            const std::vector<uint32_t>* pixels = nullptr;
            std::vector<uint32_t> first;
            if (aspect == DVASPECT_DOCPRINT) {
                HRESULT hr = PagePixels(lindex, int(w), int(h), &pixels);
                if (FAILED(hr))
                    return hr;
            } else {
                std::shared_ptr<const PdfBytes> pdf;
                HRESULT hr = FirstPage(&pdf);
                if (FAILED(hr))
                    return hr;
                if (!RasterisePdfPage(*pdf, 0, int(w), int(h), &first))
                    return E_FAIL;
                pixels = &first;
            }
            BITMAPINFO bmi = {};
            bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
            bmi.bmiHeader.biWidth = LONG(w);
            bmi.bmiHeader.biHeight = -LONG(h);  // top-down
            bmi.bmiHeader.biPlanes = 1;
            bmi.bmiHeader.biBitCount = 32;
            bmi.bmiHeader.biCompression = BI_RGB;
            int lines = SetDIBitsToDevice(hdcDraw, left, top, DWORD(w), DWORD(h), 0, 0, 0, UINT(h),
                                          pixels->data(), &bmi, DIB_RGB_COLORS);
            return lines > 0 ? S_OK : E_FAIL;
        });
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

    // IViewObject2: the extent of one page of the print aspect.
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG lindex, DVTARGETDEVICE*, LPSIZEL size) override
    {
        if (!size)
            return E_POINTER;
        if (aspect != DVASPECT_DOCPRINT)
            return DV_E_DVASPECT;
        return ComGuard([&]() -> HRESULT {
            PdfPages* pages = nullptr;
            int index = 0;
            HRESULT hr = PagesFor(lindex, &pages, &index);
            if (FAILED(hr))
                return hr;
            double w = 0, h = 0;
            if (!pages->PageSize(index, &w, &h))
                return E_FAIL;
            *size = Himetric(w, h);
            return S_OK;
        });
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
    // Points (1/72 inch) to HIMETRIC (1/100 mm).
    static SIZEL Himetric(double widthPt, double heightPt)
    {
        SIZEL s;
        s.cx = LONG(widthPt * 2540.0 / 72.0 + 0.5);
        s.cy = LONG(heightPt * 2540.0 / 72.0 + 0.5);
        return s;
    }

    HRESULT FirstPage(std::shared_ptr<const PdfBytes>* pdf)
    {
        if (!m_doc)
            return OLE_E_BLANK;
        return EmbeddingError(m_doc->FirstPagePdf(pdf));
    }

    // The document's own layout, exported on first need. The engine keeps the export until the
    // document changes; a new export here drops the pages drawn from the old one.
    HRESULT Pages(PdfPages** pages)
    {
        if (!m_doc)
            return OLE_E_BLANK;
        if (!m_doc->IsOpen()) {
            // Closed (IOleObject::Close): as an OLE object back in its loaded state draws from
            // its cache, the pages come from the export made before.
            if (!m_pages || m_pages->Count() < 1)
                return OLE_E_NOTRUNNING;
            *pages = m_pages.get();
            return S_OK;
        }
        std::shared_ptr<const PdfBytes> pdf;
        HRESULT hr = EmbeddingError(m_doc->AllPagesPdf(&pdf));
        if (FAILED(hr))
            return hr;
        if (!m_pages || m_pages->Bytes() != pdf) {
            m_drawn.clear();
            m_pages.reset();
            m_pages.reset(new PdfPages(pdf));
        }
        if (m_pages->Count() < 1)
            return E_FAIL;
        *pages = m_pages.get();
        return S_OK;
    }

    // The export a page is drawn from, and its index there. Before the whole document is
    // exported, page 1 of a long one comes from an export of that page alone: a thumbnail or
    // a first look does not wait for the drawing of every page. Any other page brings the
    // whole export, which then serves every page.
    HRESULT PagesFor(LONG page, PdfPages** pages, int* index)
    {
        if (!m_doc)
            return OLE_E_BLANK;
        if (!m_pages && !m_doc->IsOpen()) {
            if (page != 1 || !m_first || m_first->Count() != 1)
                return OLE_E_NOTRUNNING;
            *pages = m_first.get();
            *index = 0;
            return S_OK;
        }
        if (!m_pages) {
            int count = 0;
            HRESULT hr = EmbeddingError(m_doc->DrawnPageCount(&count));
            if (FAILED(hr))
                return hr;
            if (page < 1 || page > count)
                return DV_E_LINDEX;
            if (page == 1 && count > kShortDocument) {
                std::shared_ptr<const PdfBytes> pdf;
                hr = FirstPage(&pdf);
                if (FAILED(hr))
                    return hr;
                if (!m_first || m_first->Bytes() != pdf) {
                    m_drawn.clear();
                    m_first.reset(new PdfPages(pdf));
                }
                if (m_first->Count() != 1)
                    return E_FAIL;
                *pages = m_first.get();
                *index = 0;
                return S_OK;
            }
        }
        HRESULT hr = Pages(pages);
        if (FAILED(hr))
            return hr;
        if (page < 1 || page > (*pages)->Count())
            return DV_E_LINDEX;
        *index = int(page - 1);
        return S_OK;
    }

    // Pixels of a page at a size, from the few drawn last: a preview paints the page it shows
    // again at every scroll, and goes back and forth between pages.
    HRESULT PagePixels(LONG page, int w, int h, const std::vector<uint32_t>** pixels)
    {
        PdfPages* pages = nullptr;
        int index = 0;
        HRESULT hr = PagesFor(page, &pages, &index);
        if (FAILED(hr))
            return hr;
        for (auto it = m_drawn.begin(); it != m_drawn.end(); ++it) {
            if (it->page == page && it->w == w && it->h == h) {
                m_drawn.splice(m_drawn.begin(), m_drawn, it);
                *pixels = &m_drawn.front().pixels;
                return S_OK;
            }
        }
        DrawnPage drawn{page, w, h, {}};
        if (!pages->Rasterise(index, w, h, &drawn.pixels))
            return E_FAIL;
        m_drawn.push_front(std::move(drawn));
        if (m_drawn.size() > kDrawnPages)
            m_drawn.pop_back();
        *pixels = &m_drawn.front().pixels;
        return S_OK;
    }

    struct DrawnPage {
        LONG page;
        int w, h;
        std::vector<uint32_t> pixels;
    };
    static constexpr size_t kDrawnPages = 4;
    // Up to this many pages the whole export costs about what one page's does.
    static constexpr int kShortDocument = 8;
    std::unique_ptr<PdfPages> m_pages;
    std::unique_ptr<PdfPages> m_first;  // page 1 exported alone
    std::list<DrawnPage> m_drawn;

    DocumentPtr m_doc;
    IDispatch* m_dispatch = nullptr;
};

}  // namespace

IUnknown* NewEmbeddedDocument()
{
    return static_cast<IPersistFile*>(new (std::nothrow) EmbeddedDocument);
}

}  // namespace wordserver
