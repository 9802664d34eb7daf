// The page preview: a child window of its own class, "CxWordView", that shows the current
// page of a document at a zoom (fit page, fit width or a percentage of its full size) with
// scroll bars when the page is larger than the window. Messages reach the virtual handlers
// below; the window owns the object from WM_CREATE on and deletes it on WM_DESTROY.
#pragma once

#include <windows.h>

#include <functional>

class CxWordDoc;

class CxWordView {
public:
    CxWordView();
    // Handlers in the order of their slots; each returns 0 unless said otherwise.
    virtual ~CxWordView();
    virtual int OnCreate(WPARAM wParam, LPARAM lParam);
    virtual int OnSize(WPARAM wParam, LPARAM lParam);
    virtual int OnLButtonDown(WPARAM wParam, LPARAM lParam);
    virtual int OnLButtonUp(WPARAM wParam, LPARAM lParam);
    virtual int OnMouseMove(WPARAM wParam, LPARAM lParam);
    virtual int OnCommand(WPARAM wParam, LPARAM lParam);
    // -1 when the scroll bar's range cannot be read.
    virtual int OnHScroll(WPARAM wParam, LPARAM lParam);
    virtual int OnVScroll(WPARAM wParam, LPARAM lParam);
    virtual int OnDestroy(WPARAM wParam, LPARAM lParam);
    virtual int OnPaint(WPARAM wParam, LPARAM lParam);
    // Wheel: scrolls; with Ctrl, zooms. Keys: Page Up/Down, Home/End go through the pages,
    // Ctrl +/- zoom, Ctrl 0 is full size, the arrows scroll.
    virtual int OnMouseWheel(WPARAM wParam, LPARAM lParam);
    virtual int OnKeyDown(WPARAM wParam, LPARAM lParam);

    // Zoom: a percentage of the page's full size, or one of the fits.
    static constexpr int kZoomFitPage = -1;
    static constexpr int kZoomFitWidth = -2;
    static constexpr int kMinZoom = 25;
    static constexpr int kMaxZoom = 400;
    static bool IsZoom(int nZoom)
    {
        return nZoom == kZoomFitPage || nZoom == kZoomFitWidth || (nZoom >= kMinZoom && nZoom <= kMaxZoom);
    }

    CxWordView(const CxWordView&) = delete;
    CxWordView& operator=(const CxWordView&) = delete;

    // Creates the (visible) window inside hParent at pRect (null: an empty rectangle); true
    // when the window exists afterwards.
    bool Create(HWND hParent, const RECT* pRect);
    // Shows the document from page 0; the document already shown keeps its page.
    void SetDocument(CxWordDoc* pDoc);
    // Makes a page (zero-based) current and shows it; indexes outside the document are ignored.
    void ShowPage(int nIndex);
    CxWordDoc* GetDocument() const { return m_pDoc; }
    HWND GetHandle() const { return m_hWnd; }

    // Sets the zoom (kept for every page and document shown later); values that are no zoom
    // are ignored.
    void SetZoom(int nZoom);
    int GetZoom() const { return m_nZoom; }
    // The next larger or smaller of the zoom steps (25 % to 400 %), from the percentage the
    // page is shown at; false at the end of the steps.
    bool ZoomIn();
    bool ZoomOut();
    // Moves to the page nDelta pages away (clamped to the document); false when it stays.
    bool StepPage(int nDelta);
    // The page's size as shown, in pixels of the window; false without a measurable page.
    bool GetShownSize(POINT* pSize);
    // The percentage of its full size the page is shown at; 0 without a page.
    int GetShownPercent();
    // Called after the page or the zoom changed from the window's own input (keys, wheel),
    // for the owner to follow.
    void SetChangeHandler(std::function<void()> handler) { m_onChange = std::move(handler); }

    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

protected:
    bool RegisterWindowClass();
    void UpdateScrollBars();
    void Redraw(bool bErase);
    void Refresh();
    int Scroll(int nBar, WPARAM wParam, int* pOffset);
    bool StepZoom(bool bIn);
    void ScrollBy(int nBar, int nDelta);
    void Changed();
    void DropPicture();
    // The shown page's picture at the shown size, drawn once and kept until the page, the
    // size or the document changes; null when the page cannot be drawn.
    HBITMAP PagePicture(HDC hdc, POINT size);

    HWND m_hWnd;
    CxWordDoc* m_pDoc;
    int m_nOffsetX;  // page x shown at the window's left edge
    int m_nOffsetY;  // page y shown at the window's top edge
    int m_nZoom;     // a percentage, kZoomFitPage or kZoomFitWidth
    std::function<void()> m_onChange;
    // The kept page picture and what it shows.
    HBITMAP m_hPicture;
    CxWordDoc* m_pPictureDoc;
    int m_nPicturePage;
    POINT m_PictureSize;
    bool m_bPictureFailed;
    bool m_bUpdatingBars = false;
};
