// One word-processor document given by its path: loaded by embedding, its pages counted, any
// page made current, then measured and drawn. When the embedding draws any page of its own
// layout (IViewObject2 with the print aspect), pages are drawn from it directly; otherwise a
// page is made current by writing it out as a one-page document and embedding that.
#pragma once

#include <ole2.h>

#include <string>
#include <vector>

class CDispCmd;
class CxWordUtil;

class CxWordDoc {
public:
    explicit CxWordDoc(CxWordUtil* pOwner);
    ~CxWordDoc();
    CxWordDoc(const CxWordDoc&) = delete;
    CxWordDoc& operator=(const CxWordDoc&) = delete;

    // Loads the document, counts its pages and selects page 0. False for a null/empty path or
    // when the document cannot be loaded (nothing is held then).
    bool Open(const char* szPath);
    // Releases everything; may run more than once. Temporary documents stay on disk.
    void Close();

    const char* GetPath() const { return m_szPath; }
    int GetPageCount() const { return m_nPageCount; }
    int GetCurrentPage() const { return m_nCurrPage; }

    // Makes the page (zero-based) current; without a page view, splits it into its own
    // document and embeds that. True at once for the current page; false for an index outside
    // the document or when the page cannot be located (nothing changes then).
    bool SelectPage(int nIndex);
    // The current page's extent in device pixels of hdc, measured once per page (pages of one
    // document may differ in size and orientation). False when it cannot be measured.
    bool GetPageSize(HDC hdc, POINT* pSize);
    // The current page's extent in HIMETRIC (0.01 mm). False when it cannot be measured.
    bool GetPageExtent(SIZEL* pExtent);
    // Draws the page (selecting it first when it is not current) on white into hdc: from the
    // page picture at pSrc's left/top into pDst. False when the page could not be selected,
    // measured or drawn.
    bool DrawPage(int nIndex, HDC hdc, const RECT* pSrc, const RECT* pDst);
    // Draws the whole page (selecting it first) scaled to fill pDst of hdc, on white. False
    // when the page could not be selected or drawn.
    bool RenderPage(int nIndex, HDC hdc, const RECT* pDst);
    // Asked of the document's server by name, members of the stand-in's own that Word does not
    // have: the fonts the document was drawn with, a JSON array of
    // {"font", "kind", "drawn_with", "fallback"}; and the page count its file says Word
    // counted (0 when the file records none or Word did not save it). False / -1 when the
    // server does not answer them or nothing is open.
    bool GetFontReport(std::string* pJson);
    int GetStoredPageCount();
    // Whether pages are drawn straight from the document's own layout.
    bool HasPageView() const { return m_pSrcView != nullptr; }
    // Ends the document in its server (IOleObject::Close) but keeps the page view, which goes
    // on drawing the pages the server had laid out for drawing (those measured or drawn
    // before), as a closed OLE object draws from its cache: the server is free for another
    // document meanwhile. False (nothing changes) without a page view.
    bool CloseServer();

    bool EmbedPageDocument(int nPageNo);
    void ReleasePageObject();

protected:
    bool LoadDocument();
    int CountPages();
    int CountLayoutPages();
    IDispatch* GoToPage(int nPageNo);
    IDispatch* GetContentRange(CDispCmd* pDoc);
    IDispatch* GetRange(CDispCmd* pDoc, int nStart, int nEnd);
    int GetRangeStart(IDispatch* pRange);
    int GetRangeEnd(IDispatch* pRange);
    bool CopyRange(IDispatch* pRange);
    bool PasteRange(IDispatch* pRange);
    bool MakePageDocument(int nStart, int nEnd, int nPageNo);
    bool SaveDocumentAs(IDispatch* pDoc, const char* szPath);
    void ReleaseSourceDispatch();

    CxWordUtil* m_pOwner;
    CDispCmd* m_pSrcDisp;
    IOleObject* m_pSrcOle;
    IUnknown* m_pSrcUnk;
    IViewObject2* m_pSrcView; // the source's own pages, when its server draws them
    ILockBytes* m_pSrcBytes;
    ILockBytes* m_pPageBytes;
    IStorage* m_pSrcStg;
    IStorage* m_pPageStg;
    IOleObject* m_pPageOle;
    IUnknown* m_pPageUnk;
    char m_szPath[MAX_PATH];
    char m_szPagePath[MAX_PATH];
    int m_nCurrPage;
    int m_nPageStart;
    int m_nContentEnd;
    int m_nPageCount;
    std::vector<POINT> m_PageSizes; // per page, {0, 0} until measured
    int m_nSizesDpi = 0;            // the resolution they were measured at; 0: not yet
    bool m_bTemplateMade; // this document's template copy was written by this object
    // The private folder of this document's temporary documents, made on first need.
    char m_szTempFolder[MAX_PATH];
    bool TempDocumentName(int nNumber, char* szOut);
};
