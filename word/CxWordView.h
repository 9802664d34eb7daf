// The page preview: a child window of its own class, "CxWordView", that shows the current
// page of a document at full size with scroll bars when the page is larger than the window.
// Messages reach the virtual handlers below; the window owns the object from WM_CREATE on and
// deletes it on WM_DESTROY.
#pragma once

#include <windows.h>

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

    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

protected:
    bool RegisterWindowClass();
    void UpdateScrollBars();
    void Redraw(bool bErase);
    void Refresh();
    int Scroll(int nBar, WPARAM wParam, int* pOffset);

    HWND m_hWnd;
    CxWordDoc* m_pDoc;
    int m_nOffsetX;  // page x shown at the window's left edge
    int m_nOffsetY;  // page y shown at the window's top edge
};
