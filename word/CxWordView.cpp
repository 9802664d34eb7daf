// The page preview window.
#include "CxWordView.h"

#include "CxWordDoc.h"

namespace {

const char kClassName[] = "CxWordView";
const int kLineStep = 5;
const int kPageStep = 200;

}  // namespace

CxWordView::CxWordView() : m_hWnd(nullptr), m_pDoc(nullptr), m_nOffsetX(0), m_nOffsetY(0) {}

CxWordView::~CxWordView() {}

int CxWordView::OnCreate(WPARAM, LPARAM) { return 0; }

int CxWordView::OnSize(WPARAM, LPARAM)
{
    UpdateScrollBars();
    return 0;
}

int CxWordView::OnLButtonDown(WPARAM, LPARAM) { return 0; }
int CxWordView::OnLButtonUp(WPARAM, LPARAM) { return 0; }
int CxWordView::OnMouseMove(WPARAM, LPARAM) { return 0; }
int CxWordView::OnCommand(WPARAM, LPARAM) { return 0; }
int CxWordView::OnDestroy(WPARAM, LPARAM) { return 0; }

int CxWordView::OnHScroll(WPARAM wParam, LPARAM) { return Scroll(SB_HORZ, wParam, &m_nOffsetX); }

int CxWordView::OnVScroll(WPARAM wParam, LPARAM) { return Scroll(SB_VERT, wParam, &m_nOffsetY); }

int CxWordView::Scroll(int nBar, WPARAM wParam, int* pOffset)
{
    int nMin = 0, nMax = 0;
    if (!GetScrollRange(m_hWnd, nBar, &nMin, &nMax))
        return -1;
    int nPos = GetScrollPos(m_hWnd, nBar);
    int nNew = nPos;
    switch (LOWORD(wParam)) {
    case SB_LINEUP:
        if (nPos > 0)
            nNew = nPos - kLineStep;
        break;
    case SB_LINEDOWN:
        if (nPos < nMax)
            nNew = nPos + kLineStep;
        break;
    case SB_PAGEUP:
        if (nPos > 0)
            nNew = nPos - kPageStep;
        break;
    case SB_PAGEDOWN:
        if (nPos < nMax)
            nNew = nPos + kPageStep;
        break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: nNew = HIWORD(wParam); break;
    case SB_TOP: nNew = 0; break;
    case SB_BOTTOM: nNew = nMax; break;
    default: break;
    }
    if (nNew < 0)
        nNew = 0;
    if (nNew > nMax)
        nNew = nMax;
    if (nNew != nPos) {
        SetScrollPos(m_hWnd, nBar, nNew, TRUE);
        *pOffset = nNew;
        Redraw(true);
    }
    return 0;
}

int CxWordView::OnPaint(WPARAM, LPARAM)
{
    RECT rcClient;
    GetClientRect(m_hWnd, &rcClient);
    int cw = rcClient.right - rcClient.left, ch = rcClient.bottom - rcClient.top;
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(m_hWnd, &ps);
    if (!hdc)
        return 0;
    HDC hMemDC = CreateCompatibleDC(hdc);
    HBITMAP hBitmap = hMemDC ? CreateCompatibleBitmap(hdc, cw, ch) : nullptr;
    if (hBitmap) {  // nothing to draw into for an empty client area
        HGDIOBJ hOld = SelectObject(hMemDC, hBitmap);
        if (m_pDoc) {
            FillRect(hMemDC, &rcClient, (HBRUSH)GetStockObject(WHITE_BRUSH));
            RECT rcSrc = {m_nOffsetX, m_nOffsetY, m_nOffsetX + cw, m_nOffsetY + ch};
            m_pDoc->DrawPage(m_pDoc->GetCurrentPage(), hMemDC, &rcSrc, &rcClient);
        } else {
            FillRect(hMemDC, &rcClient, (HBRUSH)GetStockObject(LTGRAY_BRUSH));
        }
        BitBlt(hdc, 0, 0, cw, ch, hMemDC, 0, 0, SRCCOPY);
        SelectObject(hMemDC, hOld);
        DeleteObject(hBitmap);
    }
    if (hMemDC)
        DeleteDC(hMemDC);
    EndPaint(m_hWnd, &ps);
    return 0;
}

bool CxWordView::RegisterWindowClass()
{
    HINSTANCE hInst = GetModuleHandleA(nullptr);
    WNDCLASSA wc;
    if (GetClassInfoA(hInst, kClassName, &wc))
        return true;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = CxWordView::WindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = hInst;
    wc.hIcon = nullptr;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = kClassName;
    return RegisterClassA(&wc) != 0;
}

bool CxWordView::Create(HWND hParent, const RECT* pRect)
{
    if (!RegisterWindowClass())
        return false;
    RECT rc = {0, 0, 0, 0};
    if (pRect)
        rc = *pRect;
    m_hWnd = CreateWindowExA(0, kClassName, "", WS_CHILD | WS_HSCROLL | WS_VSCROLL, rc.left, rc.top,
                             rc.right - rc.left, rc.bottom - rc.top, hParent, nullptr, GetModuleHandleA(nullptr), this);
    if (!IsWindow(m_hWnd))
        return false;
    UpdateScrollBars();
    ShowWindow(m_hWnd, SW_SHOW);
    UpdateWindow(m_hWnd);
    return true;
}

void CxWordView::SetDocument(CxWordDoc* pDoc)
{
    if (pDoc == m_pDoc)
        return;
    m_pDoc = pDoc;
    if (m_pDoc)
        m_pDoc->SelectPage(0);
    Refresh();
}

void CxWordView::ShowPage(int nIndex)
{
    if (!m_pDoc)
        return;
    if ((unsigned)nIndex >= (unsigned)m_pDoc->GetPageCount())
        return;
    m_pDoc->SelectPage(nIndex);
    Refresh();
}

void CxWordView::UpdateScrollBars()
{
    if (!m_pDoc) {
        SetScrollRange(m_hWnd, SB_HORZ, 0, 0, TRUE);
        SetScrollRange(m_hWnd, SB_VERT, 0, 0, TRUE);
        return;
    }
    HDC hdc = GetDC(m_hWnd);
    POINT size = {0, 0};
    if (!m_pDoc->GetPageSize(hdc, &size))
        size.x = size.y = 0;  // no extent: nothing to scroll
    bool bChanged = false;
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    int cw = rc.right - rc.left;
    if (cw < size.x) {
        SetScrollRange(m_hWnd, SB_HORZ, 0, size.x - cw, TRUE);
        if (m_nOffsetX > size.x - cw) {
            m_nOffsetX = size.x - cw;
            bChanged = true;
        }
    } else {
        SetScrollRange(m_hWnd, SB_HORZ, 0, 0, TRUE);
        if (m_nOffsetX != 0) {
            m_nOffsetX = 0;
            bChanged = true;
        }
    }
    // Showing or hiding the horizontal bar changes the client height: measure it again.
    GetClientRect(m_hWnd, &rc);
    int ch = rc.bottom - rc.top;
    if (ch < size.y) {
        SetScrollRange(m_hWnd, SB_VERT, 0, size.y - ch, TRUE);
        if (m_nOffsetY > size.y - ch) {
            m_nOffsetY = size.y - ch;
            bChanged = true;
        }
    } else {
        SetScrollRange(m_hWnd, SB_VERT, 0, 0, TRUE);
        if (m_nOffsetY != 0) {
            m_nOffsetY = 0;
            bChanged = true;
        }
    }
    if (bChanged)
        Redraw(true);
    ReleaseDC(m_hWnd, hdc);
}

void CxWordView::Redraw(bool bErase)
{
    InvalidateRect(m_hWnd, nullptr, bErase ? TRUE : FALSE);
    UpdateWindow(m_hWnd);
}

void CxWordView::Refresh()
{
    if (!m_pDoc)
        return;
    UpdateScrollBars();
    Redraw(true);
}

LRESULT CALLBACK CxWordView::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    // A pointer does not fit the 32-bit LONG of GWL_USERDATA on 64-bit systems: use the
    // pointer-sized form.
    CxWordView* pView = reinterpret_cast<CxWordView*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    switch (uMsg) {
    case WM_CREATE: {
        auto* pcs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        pView = pcs ? static_cast<CxWordView*>(pcs->lpCreateParams) : nullptr;
        if (pView) {
            pView->m_hWnd = hWnd;  // handlers of the first WM_SIZE already need it
            pView->OnCreate(wParam, lParam);
            SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pView));
        }
        break;
    }
    case WM_DESTROY:
        if (pView) {
            pView->OnDestroy(wParam, lParam);
            delete pView;
            SetWindowLongPtrA(hWnd, GWLP_USERDATA, 0);
        }
        break;
    case WM_SIZE: if (pView) pView->OnSize(wParam, lParam); break;
    case WM_PAINT: if (pView) pView->OnPaint(wParam, lParam); break;
    case WM_COMMAND: if (pView) pView->OnCommand(wParam, lParam); break;
    case WM_HSCROLL: if (pView) pView->OnHScroll(wParam, lParam); break;
    case WM_VSCROLL: if (pView) pView->OnVScroll(wParam, lParam); break;
    case WM_MOUSEMOVE: if (pView) pView->OnMouseMove(wParam, lParam); break;
    case WM_LBUTTONDOWN: if (pView) pView->OnLButtonDown(wParam, lParam); break;
    case WM_LBUTTONUP: if (pView) pView->OnLButtonUp(wParam, lParam); break;
    default: break;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}
