// The page preview window.
#include "CxWordView.h"

#include "CxWordDoc.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

const char kClassName[] = "CxWordView";
const int kLineStep = 5;
const int kPageStep = 200;
const int kWheelStep = 60;  // pixels a wheel notch scrolls
const int kKeyStep = 40;    // pixels an arrow key scrolls
// The zoom steps of Ctrl +/- and Ctrl + wheel.
const int kZoomSteps[] = {25, 33, 50, 67, 75, 100, 125, 150, 200, 300, 400};
// The page picture is kept whole: past this many pixels (a large page at 400 % on a screen of
// twice the density) the zoom is held back rather than the memory spent.
const double kMaxPicturePixels = 40e6;

}  // namespace

CxWordView::CxWordView()
    : m_hWnd(nullptr), m_pDoc(nullptr), m_nOffsetX(0), m_nOffsetY(0), m_nZoom(100), m_hPicture(nullptr),
      m_pPictureDoc(nullptr), m_nPicturePage(-1), m_PictureSize{0, 0}, m_bPictureFailed(false)
{
}

CxWordView::~CxWordView() { DropPicture(); }

int CxWordView::OnCreate(WPARAM, LPARAM) { return 0; }

int CxWordView::OnSize(WPARAM, LPARAM)
{
    UpdateScrollBars();
    return 0;
}

int CxWordView::OnLButtonDown(WPARAM, LPARAM)
{
    SetFocus(m_hWnd);  // the keys of the preview go to the page shown
    return 0;
}
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
            // The page is drawn once at its shown size; scrolling copies another part of it.
            POINT size;
            HBITMAP hPicture = GetShownSize(&size) ? PagePicture(hdc, size) : nullptr;
            HDC hPicDC = hPicture ? CreateCompatibleDC(hdc) : nullptr;
            if (hPicDC) {
                HGDIOBJ hOldPic = SelectObject(hPicDC, hPicture);
                const int nWidth = std::max(0, std::min<int>(cw, size.x - m_nOffsetX));
                const int nHeight = std::max(0, std::min<int>(ch, size.y - m_nOffsetY));
                BitBlt(hMemDC, 0, 0, nWidth, nHeight, hPicDC, m_nOffsetX, m_nOffsetY, SRCCOPY);
                SelectObject(hPicDC, hOldPic);
                DeleteDC(hPicDC);
            }
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

HBITMAP CxWordView::PagePicture(HDC hdc, POINT size)
{
    const int nPage = m_pDoc->GetCurrentPage();
    if (m_pPictureDoc == m_pDoc && m_nPicturePage == nPage && m_PictureSize.x == size.x &&
        m_PictureSize.y == size.y)
        return m_bPictureFailed ? nullptr : m_hPicture;
    DropPicture();
    m_pPictureDoc = m_pDoc;
    m_nPicturePage = nPage;
    m_PictureSize = size;
    m_bPictureFailed = true;
    HDC hPicDC = CreateCompatibleDC(hdc);
    HBITMAP hPicture = hPicDC ? CreateCompatibleBitmap(hdc, size.x, size.y) : nullptr;
    if (hPicture) {
        HGDIOBJ hOld = SelectObject(hPicDC, hPicture);
        RECT r = {0, 0, size.x, size.y};
        // A page that cannot be drawn leaves the white background.
        m_bPictureFailed = !m_pDoc->RenderPage(nPage, hPicDC, &r);
        SelectObject(hPicDC, hOld);
        if (m_bPictureFailed)
            DeleteObject(hPicture);
        else
            m_hPicture = hPicture;
    }
    if (hPicDC)
        DeleteDC(hPicDC);
    return m_hPicture;
}

void CxWordView::DropPicture()
{
    if (m_hPicture)
        DeleteObject(m_hPicture);
    m_hPicture = nullptr;
    m_pPictureDoc = nullptr;
    m_nPicturePage = -1;
    m_PictureSize = POINT{0, 0};
    m_bPictureFailed = false;
}

bool CxWordView::GetShownSize(POINT* pSize)
{
    if (!m_pDoc || !pSize)
        return false;
    // The full size is measured in the window's own pixels, so that a screen of more pixels to
    // the inch shows the page sharper, not smaller.
    HDC hdc = GetDC(m_hWnd);
    POINT full = {0, 0};
    const bool bMeasured = m_pDoc->GetPageSize(hdc, &full);
    ReleaseDC(m_hWnd, hdc);
    if (!bMeasured || full.x <= 0 || full.y <= 0)
        return false;
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    const int cw = rc.right - rc.left, ch = rc.bottom - rc.top;
    double scale = m_nZoom / 100.0;
    if (m_nZoom == kZoomFitWidth && cw > 0)
        scale = double(cw) / full.x;
    else if (m_nZoom == kZoomFitPage && cw > 0 && ch > 0)
        scale = std::min(double(cw) / full.x, double(ch) / full.y);
    else if (m_nZoom < 0)
        scale = 1.0;  // a fit in a window of no size
    scale = std::min(scale, std::sqrt(kMaxPicturePixels / (double(full.x) * full.y)));
    long nWidth = std::max(1L, std::lround(full.x * scale));
    long nHeight = std::max(1L, std::lround(full.y * scale));
    // Never larger than the fit asks: a part pixel more would bring a bar.
    if (m_nZoom < 0 && cw > 0)
        nWidth = std::min<long>(nWidth, cw);
    if (m_nZoom == kZoomFitPage && ch > 0)
        nHeight = std::min<long>(nHeight, ch);
    pSize->x = nWidth;
    pSize->y = nHeight;
    return true;
}

int CxWordView::GetShownPercent()
{
    POINT size;
    HDC hdc = m_pDoc ? GetDC(m_hWnd) : nullptr;
    POINT full = {0, 0};
    const bool bMeasured = hdc && m_pDoc->GetPageSize(hdc, &full);
    if (hdc)
        ReleaseDC(m_hWnd, hdc);
    if (!bMeasured || full.x <= 0 || !GetShownSize(&size))
        return 0;
    return int(std::lround(100.0 * size.x / full.x));
}

void CxWordView::SetZoom(int nZoom)
{
    if (!IsZoom(nZoom) || nZoom == m_nZoom)
        return;
    // The part of the page at the window's top left stays there.
    POINT before = {0, 0}, after = {0, 0};
    const bool bBefore = GetShownSize(&before);
    m_nZoom = nZoom;
    if (bBefore && GetShownSize(&after)) {
        m_nOffsetX = int(std::lround(double(m_nOffsetX) * after.x / before.x));
        m_nOffsetY = int(std::lround(double(m_nOffsetY) * after.y / before.y));
    }
    if (!m_pDoc)
        return;
    UpdateScrollBars();
    SetScrollPos(m_hWnd, SB_HORZ, m_nOffsetX, TRUE);
    SetScrollPos(m_hWnd, SB_VERT, m_nOffsetY, TRUE);
    Redraw(true);
}

bool CxWordView::StepZoom(bool bIn)
{
    int nNow = m_pDoc ? GetShownPercent() : 0;
    if (nNow <= 0)
        nNow = m_nZoom > 0 ? m_nZoom : 100;
    int nNext = 0;
    if (bIn) {
        for (int z : kZoomSteps)
            if (z > nNow) {
                nNext = z;
                break;
            }
    } else {
        for (auto it = std::rbegin(kZoomSteps); it != std::rend(kZoomSteps); ++it)
            if (*it < nNow) {
                nNext = *it;
                break;
            }
    }
    if (nNext == 0)
        return false;
    const int nBefore = GetShownPercent();
    SetZoom(nNext);
    // A zoom held back by the picture's size is no step.
    return !m_pDoc || GetShownPercent() != nBefore;
}

bool CxWordView::ZoomIn() { return StepZoom(true); }

bool CxWordView::ZoomOut() { return StepZoom(false); }

bool CxWordView::StepPage(int nDelta)
{
    if (!m_pDoc || m_pDoc->GetPageCount() <= 0)
        return false;
    const long long nTarget =
        std::clamp<long long>((long long)m_pDoc->GetCurrentPage() + nDelta, 0, m_pDoc->GetPageCount() - 1);
    if (nTarget == m_pDoc->GetCurrentPage())
        return false;
    // Another page is read from its top.
    m_nOffsetY = 0;
    SetScrollPos(m_hWnd, SB_VERT, 0, TRUE);
    ShowPage(int(nTarget));
    return m_pDoc->GetCurrentPage() == nTarget;
}

void CxWordView::ScrollBy(int nBar, int nDelta)
{
    int nMin = 0, nMax = 0;
    if (!GetScrollRange(m_hWnd, nBar, &nMin, &nMax))
        return;
    int* pOffset = nBar == SB_HORZ ? &m_nOffsetX : &m_nOffsetY;
    const int nNew = std::clamp(*pOffset + nDelta, 0, nMax);
    if (nNew == *pOffset)
        return;
    SetScrollPos(m_hWnd, nBar, nNew, TRUE);
    *pOffset = nNew;
    Redraw(true);
}

void CxWordView::Changed()
{
    if (m_onChange)
        m_onChange();
}

int CxWordView::OnMouseWheel(WPARAM wParam, LPARAM)
{
    const int nDelta = GET_WHEEL_DELTA_WPARAM(wParam);
    if (nDelta == 0)
        return 0;
    if (GET_KEYSTATE_WPARAM(wParam) & MK_CONTROL) {
        if (nDelta > 0 ? ZoomIn() : ZoomOut())
            Changed();
        return 0;
    }
    ScrollBy(SB_VERT, -nDelta * kWheelStep / WHEEL_DELTA);
    return 0;
}

int CxWordView::OnKeyDown(WPARAM wParam, LPARAM)
{
    const bool bCtrl = GetKeyState(VK_CONTROL) < 0;
    bool bChanged = false;
    switch (wParam) {
    case VK_PRIOR: bChanged = StepPage(-1); break;
    case VK_NEXT: bChanged = StepPage(1); break;
    case VK_HOME: bChanged = StepPage(-(1 << 30)); break;
    case VK_END: bChanged = StepPage(1 << 30); break;
    case VK_UP: ScrollBy(SB_VERT, -kKeyStep); break;
    case VK_DOWN: ScrollBy(SB_VERT, kKeyStep); break;
    case VK_LEFT: ScrollBy(SB_HORZ, -kKeyStep); break;
    case VK_RIGHT: ScrollBy(SB_HORZ, kKeyStep); break;
    case VK_ADD:
    case VK_OEM_PLUS: bChanged = bCtrl && ZoomIn(); break;
    case VK_SUBTRACT:
    case VK_OEM_MINUS: bChanged = bCtrl && ZoomOut(); break;
    case '0':
        if (bCtrl && m_nZoom != 100) {
            SetZoom(100);
            bChanged = true;
        }
        break;
    default: break;
    }
    if (bChanged)
        Changed();
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
    // The window counts the screen's device pixels: on a screen of two pixels a point the page
    // is drawn with twice the pixels, sharp, rather than drawn at half and enlarged.
    DPI_AWARENESS_CONTEXT hOldContext = SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    m_hWnd = CreateWindowExA(0, kClassName, "", WS_CHILD | WS_HSCROLL | WS_VSCROLL, rc.left, rc.top,
                             rc.right - rc.left, rc.bottom - rc.top, hParent, nullptr, GetModuleHandleA(nullptr), this);
    if (hOldContext)
        SetThreadDpiAwarenessContext(hOldContext);
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
    DropPicture();
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
    // Showing or hiding a bar resizes the client area, which sends WM_SIZE back here, and a
    // fit's page size follows the client area: measured again below until nothing moves.
    if (m_bUpdatingBars)
        return;
    m_bUpdatingBars = true;
    bool bChanged = false;
    for (int nPass = 0; nPass < 3; ++nPass) {
        RECT rc;
        GetClientRect(m_hWnd, &rc);
        const RECT rcBefore = rc;
        POINT size = {0, 0};
        if (!GetShownSize(&size))
            size.x = size.y = 0;  // no extent: nothing to scroll
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
        GetClientRect(m_hWnd, &rc);
        if (rc.right == rcBefore.right && rc.bottom == rcBefore.bottom)
            break;
    }
    m_bUpdatingBars = false;
    if (bChanged)
        Redraw(true);
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
    case WM_MOUSEWHEEL: if (pView) pView->OnMouseWheel(wParam, lParam); break;
    case WM_KEYDOWN: if (pView) pView->OnKeyDown(wParam, lParam); break;
    default: break;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}
