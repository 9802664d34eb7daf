// One document: loading by embedding, counting pages, drawing a page from the source's own
// layout or splitting it into a document of its own, and measuring and drawing the page.
#include "word/CxWordDoc.h"

#include "word/CDispCmd.h"
#include "word/CxWordUtil.h"
#include "word/TempFolder.h"

#include <windows.h>

#include <cstring>

namespace {

// Word's Goto constants: wdGoToPage and wdGoToAbsolute.
const LONG kGoToPage = 1;
const LONG kGoToAbsolute = 1;
const LONG kStatisticPages = 2;  // wdStatisticPages
// Wide path buffer: 260 characters, of which 259 may be used including the terminator.
const int kWidePath = MAX_PATH;
const int kTemplateNumber = 65536;

// Converts an ANSI path for Word or OLE; false when it does not convert or fit.
bool ConvertPath(const char* szPath, WCHAR* wszOut)
{
    wszOut[0] = 0;
    if (!szPath)
        return false;
    return MultiByteToWideChar(CP_ACP, 0, szPath, -1, wszOut, kWidePath - 1) > 0;
}

void SetI4(VARIANT& v, LONG n)
{
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
}

// The dispatch result of a call, or null (anything else that came back is freed).
IDispatch* TakeDispatch(HRESULT hr, VARIANT& result)
{
    if (SUCCEEDED(hr) && result.vt == VT_DISPATCH && result.pdispVal)
        return result.pdispVal;
    if (SUCCEEDED(hr))
        VariantClear(&result);
    return nullptr;
}

template <class T>
void ReleaseAndNull(T*& p)
{
    if (p) {
        p->Release();
        p = nullptr;
    }
}

} // namespace

CxWordDoc::CxWordDoc(CxWordUtil* pOwner)
    : m_pOwner(pOwner), m_pSrcDisp(nullptr), m_pSrcOle(nullptr), m_pSrcUnk(nullptr), m_pSrcView(nullptr), m_pSrcBytes(nullptr),
      m_pPageBytes(nullptr), m_pSrcStg(nullptr), m_pPageStg(nullptr), m_pPageOle(nullptr), m_pPageUnk(nullptr),
      m_nCurrPage(-1), m_nPageStart(0), m_nContentEnd(0), m_nPageCount(0), m_bTemplateMade(false)
{
    m_szPath[0] = 0;
    m_szPagePath[0] = 0;
    m_szTempFolder[0] = 0;
}

CxWordDoc::~CxWordDoc()
{
    Close();
}

bool CxWordDoc::Open(const char* szPath)
{
    if (!szPath || !*szPath)
        return false;
    // A longer path would be cut into the name of another file.
    if (std::strlen(szPath) >= sizeof(m_szPath))
        return false;
    // Opening again starts afresh: nothing of an earlier document is kept or taken for current.
    Close();
    m_nCurrPage = -1;
    m_nPageStart = 0;
    m_nContentEnd = 0;
    m_nPageCount = 0;
    m_PageSizes.clear();
    m_bTemplateMade = false;
    m_szPagePath[0] = 0;
    m_szTempFolder[0] = 0; // a document opened again starts a folder of its own
    std::strcpy(m_szPath, szPath);
    return LoadDocument();
}

bool CxWordDoc::GetFontReport(std::string* pJson)
{
    if (!pJson || !m_pSrcDisp)
        return false;
    VARIANT v;
    VariantInit(&v);
    if (FAILED(m_pSrcDisp->GetProperty(u"FontReport", &v)))
        return false;
    bool ok = v.vt == VT_BSTR;
    if (ok) {
        const int nWide = int(SysStringLen(v.bstrVal));
        const int nBytes = nWide ? WideCharToMultiByte(CP_UTF8, 0, v.bstrVal, nWide, nullptr, 0, nullptr, nullptr) : 0;
        ok = nWide == 0 || nBytes > 0;
        if (ok) {
            pJson->assign(size_t(nBytes), '\0');
            if (nBytes)
                WideCharToMultiByte(CP_UTF8, 0, v.bstrVal, nWide, &(*pJson)[0], nBytes, nullptr, nullptr);
        }
    }
    VariantClear(&v);
    return ok;
}

int CxWordDoc::GetStoredPageCount()
{
    int n = -1;
    if (!m_pSrcDisp || m_pSrcDisp->GetPropertyLong(u"StoredPageCount", &n) != 0 || n < 0)
        return -1;
    return n;
}

bool CxWordDoc::LoadDocument()
{
    WCHAR wszPath[kWidePath];
    if (!ConvertPath(m_szPath, wszPath))
        return false;
    bool ok = CreateILockBytesOnHGlobal(nullptr, TRUE, &m_pSrcBytes) == S_OK && m_pSrcBytes;
    ok = ok && StgCreateDocfileOnILockBytes(m_pSrcBytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                            &m_pSrcStg) == S_OK && m_pSrcStg;
    ok = ok && SUCCEEDED(OleCreateFromFile(CLSID_NULL, wszPath, IID_IOleObject, OLERENDER_DRAW, nullptr, nullptr,
                                           m_pSrcStg, reinterpret_cast<void**>(&m_pSrcOle))) && m_pSrcOle;
    ok = ok && SUCCEEDED(m_pSrcOle->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&m_pSrcUnk))) && m_pSrcUnk;
    if (ok)
        OleRun(m_pSrcUnk);
    IDispatch* pDisp = nullptr;
    ok = ok && SUCCEEDED(m_pSrcUnk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pDisp))) && pDisp;
    if (ok)
        m_pSrcDisp = new CDispCmd(pDisp);
    if (!ok) {
        Close();
        return false;
    }

    // A server that draws the document's own pages makes the page split unneeded: asked once.
    IViewObject2* pView = nullptr;
    if (SUCCEEDED(m_pSrcUnk->QueryInterface(IID_IViewObject2, reinterpret_cast<void**>(&pView))) && pView) {
        SIZEL extent = {0, 0};
        if (pView->GetExtent(DVASPECT_DOCPRINT, 1, nullptr, &extent) == S_OK && extent.cx > 0 && extent.cy > 0)
            m_pSrcView = pView;
        else
            pView->Release();
    }
    if (m_pSrcView) {
        // The text positions are only needed to split: not measured here, where that would
        // walk the whole text.
        m_nPageCount = CountLayoutPages();
    } else {
        IDispatch* pContent = GetContentRange(m_pSrcDisp);
        if (!pContent) {
            Close();
            return false;
        }
        m_nContentEnd = GetRangeEnd(pContent);
        pContent->Release();
        m_nPageCount = CountPages();
    }
    m_PageSizes.assign(m_nPageCount > 0 ? size_t(m_nPageCount) : 0, POINT{0, 0});
    SelectPage(0);
    return true;
}

void CxWordDoc::ReleaseSourceDispatch()
{
    if (m_pSrcDisp) {
        if (IDispatch* p = m_pSrcDisp->GetDispatch())
            p->Release(); // the QueryInterface reference
    }
    delete m_pSrcDisp;
    m_pSrcDisp = nullptr;
}

void CxWordDoc::Close()
{
    ReleasePageObject();
    ReleaseSourceDispatch();
    ReleaseAndNull(m_pSrcView);
    ReleaseAndNull(m_pSrcUnk);
    ReleaseAndNull(m_pSrcOle);
    ReleaseAndNull(m_pSrcStg);
    ReleaseAndNull(m_pSrcBytes);
}

bool CxWordDoc::CloseServer()
{
    if (!m_pSrcView || !m_pSrcOle)
        return false;
    // The automation object asks the server; without it only the page view is left.
    ReleaseSourceDispatch();
    return SUCCEEDED(m_pSrcOle->Close(OLECLOSE_NOSAVE));
}

void CxWordDoc::ReleasePageObject()
{
    ReleaseAndNull(m_pPageUnk);
    ReleaseAndNull(m_pPageOle);
    ReleaseAndNull(m_pPageStg);
    ReleaseAndNull(m_pPageBytes);
}

IDispatch* CxWordDoc::GoToPage(int nPageNo)
{
    if (!m_pSrcDisp)
        return nullptr;
    // Arguments last first: Name (omitted), Count, Which, What.
    VARIANT args[4];
    VariantInit(&args[0]);
    args[0].vt = VT_ERROR;
    args[0].scode = DISP_E_PARAMNOTFOUND;
    SetI4(args[1], nPageNo);
    SetI4(args[2], kGoToAbsolute);
    SetI4(args[3], kGoToPage);
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = m_pSrcDisp->Call(u"Goto", args, 4, &result, DISPATCH_METHOD, nullptr, 0);
    return TakeDispatch(hr, result);
}

IDispatch* CxWordDoc::GetContentRange(CDispCmd* pDoc)
{
    if (!pDoc)
        return nullptr;
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = pDoc->Call(u"Range", nullptr, 0, &result, DISPATCH_METHOD, nullptr, 0);
    return TakeDispatch(hr, result);
}

IDispatch* CxWordDoc::GetRange(CDispCmd* pDoc, int nStart, int nEnd)
{
    if (!pDoc)
        return nullptr;
    VARIANT args[2];
    SetI4(args[0], nEnd);
    SetI4(args[1], nStart);
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = pDoc->Call(u"Range", args, 2, &result, DISPATCH_METHOD, nullptr, 0);
    if (hr != S_OK) {
        if (SUCCEEDED(hr))
            VariantClear(&result);
        return nullptr;
    }
    return TakeDispatch(hr, result);
}

int CxWordDoc::GetRangeStart(IDispatch* pRange)
{
    if (!pRange)
        return -1;
    CDispCmd range(pRange);
    int n = -1;
    return range.GetPropertyLong(u"Start", &n) == 0 ? n : -1;
}

int CxWordDoc::GetRangeEnd(IDispatch* pRange)
{
    if (!pRange)
        return -1;
    CDispCmd range(pRange);
    int n = -1;
    return range.GetPropertyLong(u"End", &n) == 0 ? n : -1;
}

bool CxWordDoc::CopyRange(IDispatch* pRange)
{
    if (!pRange)
        return false;
    CDispCmd range(pRange);
    return SUCCEEDED(range.Call(u"Copy", nullptr, 0, nullptr, DISPATCH_METHOD, nullptr, 0));
}

bool CxWordDoc::PasteRange(IDispatch* pRange)
{
    if (!pRange)
        return false;
    CDispCmd range(pRange);
    return SUCCEEDED(range.Call(u"Paste", nullptr, 0, nullptr, DISPATCH_METHOD, nullptr, 0));
}

int CxWordDoc::CountPages()
{
    int nCount = 1;
    IDispatch* pRange = GoToPage(1);
    if (!pRange)
        return 0;
    int nPrev = GetRangeStart(pRange);
    pRange->Release();
    for (;;) {
        pRange = GoToPage(nCount + 1);
        if (!pRange)
            return nCount;
        const int nStart = GetRangeStart(pRange);
        pRange->Release();
        if (nStart == nPrev)
            return nCount;
        nPrev = nStart;
        ++nCount;
    }
}

// Pages of the source's layout: the document counts them itself, without drawing them, so
// that its first page can be drawn before the rest; a server that does not count answers the
// print aspect for page 1 up to the last.
int CxWordDoc::CountLayoutPages()
{
    VARIANT arg, result;
    SetI4(arg, kStatisticPages);
    VariantInit(&result);
    if (m_pSrcDisp->Call(u"ComputeStatistics", &arg, 1, &result, DISPATCH_METHOD, nullptr, 0) == S_OK &&
        result.vt == VT_I4 && result.lVal > 0 && result.lVal <= 32767)
        return int(result.lVal);
    VariantClear(&result);
    int nCount = 0;
    SIZEL extent;
    while (nCount < 32767 && m_pSrcView->GetExtent(DVASPECT_DOCPRINT, nCount + 1, nullptr, &extent) == S_OK)
        ++nCount;
    return nCount;
}

bool CxWordDoc::SelectPage(int nIndex)
{
    if (nIndex == m_nCurrPage)
        return true;
    if (nIndex < 0 || nIndex >= m_nPageCount)
        return false;
    if (m_pSrcView) {
        m_nCurrPage = nIndex;
        return true;
    }
    IDispatch* pRange = GoToPage(nIndex + 1);
    if (!pRange)
        return false;
    const int nStart = GetRangeStart(pRange);
    pRange->Release();

    int nEnd = m_nContentEnd;
    pRange = GoToPage(nIndex + 2);
    if (pRange) {
        nEnd = GetRangeStart(pRange);
        pRange->Release();
        if (nEnd <= nStart)
            nEnd = m_nContentEnd;
    }
    MakePageDocument(nStart, nEnd, nIndex + 1);
    EmbedPageDocument(nIndex + 1);
    m_nPageStart = nStart;
    m_nCurrPage = nIndex;
    return true;
}

bool CxWordDoc::TempDocumentName(int nNumber, char* szOut)
{
    // The temporary folder may be any folder of the user's: the documents go into a private
    // folder of this run, one per document, never over a file someone else put there.
    const char* szTempPath = CxWordUtil::GetTempFolder();
    if (!m_szTempFolder[0] && (!szTempPath || !MakeDocumentTempFolder(szTempPath, m_szTempFolder, MAX_PATH)))
        return false;
    return CxWordUtil::MakeTempNameIn(m_szTempFolder, m_szPath, szOut, MAX_PATH - 1, nNumber);
}

bool CxWordDoc::MakePageDocument(int nStart, int nEnd, int nPageNo)
{
    char szPage[MAX_PATH];
    if (!TempDocumentName(nPageNo, szPage))
        return false;
    // This document's page document from before (made before an edit) must not stand in for a
    // split that fails below.
    DeleteFileA(szPage);

    char szTemplate[MAX_PATH];
    if (!TempDocumentName(kTemplateNumber, szTemplate))
        return false;
    // The template copy is written once per document, as a new file (no link followed), and
    // reused for its later pages.
    if (!m_bTemplateMade) {
        if (!CopyFileA(m_szPath, szTemplate, TRUE))
            return false;
        m_bTemplateMade = true;
    }
    WCHAR wszTemplate[kWidePath];
    if (!ConvertPath(szTemplate, wszTemplate) || !m_pOwner)
        return false;
    IDispatch* pDoc = m_pOwner->OpenDocumentObject(wszTemplate);
    if (!pDoc)
        return false;

    // Without the page on the clipboard, or without the copy's text to replace, the copy is not
    // saved: it would hold the wrong content.
    bool bSaved = false;
    IDispatch* pSrcRange = GetRange(m_pSrcDisp, nStart, nEnd);
    const bool bCopied = CopyRange(pSrcRange);
    ReleaseAndNull(pSrcRange);
    if (bCopied) {
        IDispatch* pTarget = nullptr;
        {
            CDispCmd doc(pDoc);
            pTarget = GetContentRange(&doc);
        }
        const bool bPasted = PasteRange(pTarget);
        ReleaseAndNull(pTarget);
        if (bPasted)
            bSaved = SaveDocumentAs(pDoc, szPage);
    }
    m_pOwner->CloseDocumentObject(pDoc);
    return bSaved;
}

bool CxWordDoc::SaveDocumentAs(IDispatch* pDoc, const char* szPath)
{
    WCHAR wszPath[kWidePath];
    if (!pDoc || !ConvertPath(szPath, wszPath))
        return false;
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocString(wszPath);
    if (!arg.bstrVal)
        return false;
    CDispCmd doc(pDoc);
    HRESULT hr = doc.Call(u"SaveAs", &arg, 1, nullptr, DISPATCH_METHOD, nullptr, 0);
    SysFreeString(arg.bstrVal);
    return SUCCEEDED(hr);
}

bool CxWordDoc::EmbedPageDocument(int nPageNo)
{
    ReleasePageObject();
    WCHAR wszPage[kWidePath];
    bool ok = TempDocumentName(nPageNo, m_szPagePath) && ConvertPath(m_szPagePath, wszPage);
    ok = ok && CreateILockBytesOnHGlobal(nullptr, TRUE, &m_pPageBytes) == S_OK && m_pPageBytes;
    ok = ok && StgCreateDocfileOnILockBytes(m_pPageBytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                            &m_pPageStg) == S_OK && m_pPageStg;
    ok = ok && SUCCEEDED(OleCreateFromFile(CLSID_NULL, wszPage, IID_IOleObject, OLERENDER_DRAW, nullptr, nullptr,
                                           m_pPageStg, reinterpret_cast<void**>(&m_pPageOle))) && m_pPageOle;
    ok = ok && SUCCEEDED(m_pPageOle->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&m_pPageUnk))) &&
         m_pPageUnk;
    if (!ok) {
        ReleasePageObject();
        return false;
    }
    OleRun(m_pPageUnk);
    return true;
}

bool CxWordDoc::GetPageExtent(SIZEL* pExtent)
{
    if (!pExtent || m_nCurrPage < 0)
        return false;
    SIZEL extent = {0, 0};
    HRESULT hr = E_FAIL;
    if (m_pSrcView)
        hr = m_pSrcView->GetExtent(DVASPECT_DOCPRINT, m_nCurrPage + 1, nullptr, &extent);
    else if (m_pPageOle)
        hr = m_pPageOle->GetExtent(DVASPECT_CONTENT, &extent);
    if (hr != S_OK || extent.cx <= 0 || extent.cy <= 0)
        return false;
    *pExtent = extent;
    return true;
}

bool CxWordDoc::GetPageSize(HDC hdc, POINT* pSize)
{
    if (!pSize || m_nCurrPage < 0 || size_t(m_nCurrPage) >= m_PageSizes.size())
        return false;
    // Sizes are kept for one resolution: a device of another (a window on a denser screen)
    // measures them again.
    const int nDpi = GetDeviceCaps(hdc, LOGPIXELSX);
    if (m_nSizesDpi != 0 && nDpi != m_nSizesDpi)
        m_PageSizes.assign(m_PageSizes.size(), POINT{0, 0});
    if (nDpi > 0)
        m_nSizesDpi = nDpi;
    POINT& known = m_PageSizes[size_t(m_nCurrPage)];
    if (known.x != 0 && known.y != 0) {
        *pSize = known;
        return true;
    }
    SIZEL extent;
    if (!GetPageExtent(&extent))
        return false;
    POINT pt = {extent.cx, extent.cy};
    SetMapMode(hdc, MM_HIMETRIC);
    LPtoDP(hdc, &pt, 1);
    pt.y = -pt.y; // the HIMETRIC y axis points up
    SetMapMode(hdc, MM_TEXT);
    // An empty extent is no size: the caller would make an empty picture of it.
    if (pt.x <= 0 || pt.y <= 0)
        return false;
    known = pt;
    *pSize = pt;
    return true;
}

bool CxWordDoc::RenderPage(int nIndex, HDC hdc, const RECT* pDst)
{
    if (!hdc || !pDst)
        return false;
    if (nIndex != m_nCurrPage && !SelectPage(nIndex))
        return false;
    if (m_pSrcView) {
        // The page view paints every pixel of the rectangle, paper included.
        RECTL bounds = {pDst->left, pDst->top, pDst->right, pDst->bottom};
        return SUCCEEDED(m_pSrcView->Draw(DVASPECT_DOCPRINT, m_nCurrPage + 1, nullptr, nullptr, nullptr, hdc,
                                          &bounds, nullptr, nullptr, 0));
    }
    if (!m_pPageUnk)
        return false; // the page could not be split: no picture rather than a blank one
    FillRect(hdc, pDst, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    return SUCCEEDED(OleDraw(m_pPageUnk, DVASPECT_CONTENT, hdc, pDst));
}

bool CxWordDoc::DrawPage(int nIndex, HDC hdc, const RECT* pSrc, const RECT* pDst)
{
    if (!pSrc || !pDst)
        return false;
    // Another page than the one asked for is never drawn in its place.
    if (nIndex != m_nCurrPage && !SelectPage(nIndex))
        return false;
    POINT size;
    if (!GetPageSize(hdc, &size))
        return false;
    RECT r = {0, 0, size.x, size.y};
    // The whole page at its own size: straight into the target.
    if (pSrc->left == 0 && pSrc->top == 0 && pDst->right - pDst->left == size.x &&
        pDst->bottom - pDst->top == size.y)
        return RenderPage(nIndex, hdc, pDst);
    HDC hdcMem = CreateCompatibleDC(hdc);
    HBITMAP hbm = hdcMem ? CreateCompatibleBitmap(hdc, size.x, size.y) : nullptr;
    if (!hbm) {
        // Nothing could be drawn: not reported as drawn.
        if (hdcMem)
            DeleteDC(hdcMem);
        return false;
    }
    HGDIOBJ hOld = SelectObject(hdcMem, hbm);
    const bool bDrawn = RenderPage(nIndex, hdcMem, &r);
    if (bDrawn)
        BitBlt(hdc, pDst->left, pDst->top, pDst->right - pDst->left, pDst->bottom - pDst->top, hdcMem, pSrc->left,
               pSrc->top, SRCCOPY);
    SelectObject(hdcMem, hOld);
    DeleteObject(hbm);
    DeleteDC(hdcMem);
    return bDrawn;
}
