// Device contexts of the screen and of windows, rectangles and filling.
#include "../internal/gdi.h"
#include "user_private.h"

#include <algorithm>

using namespace platform::gdi;

namespace platform {

static WindowDcHooks s_hooks;

void SetWindowDcHooks(const WindowDcHooks& hooks) { s_hooks = hooks; }

}  // namespace platform

namespace {

Dc* ScreenDc()
{
    static Dc* screen = [] {
        Dc* dc = NewDc(OBJ_DC, nullptr, nullptr);
        dc->stock = true;
        return dc;
    }();
    return screen;
}

}  // namespace

HDC WINAPI GetDC(HWND hWnd)
{
    if (!hWnd)
        return reinterpret_cast<HDC>(ScreenDc());
    return platform::s_hooks.getDc ? platform::s_hooks.getDc(hWnd) : nullptr;
}

int WINAPI ReleaseDC(HWND hWnd, HDC hDC)
{
    Dc* dc = AsDc(hDC);
    if (!dc)
        return 0;
    if (dc == ScreenDc())
        return 1;
    return platform::s_hooks.releaseDc ? platform::s_hooks.releaseDc(hWnd, hDC) : 0;
}

int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr)
{
    Dc* dc = AsDc(hDC);
    Brush* brush = AsBrush(hbr);
    if (!dc || !brush || !lprc || !dc->bitmap)
        return 0;
    Bitmap* b = dc->bitmap;
    int left = std::max<LONG>(lprc->left, 0), top = std::max<LONG>(lprc->top, 0);
    int right = std::min<LONG>(lprc->right, b->width), bottom = std::min<LONG>(lprc->bottom, b->height);
    uint32_t px = PixelOf(brush->color);
    for (int y = top; y < bottom; ++y)
        std::fill(b->bits + (size_t)y * b->width + left, b->bits + (size_t)y * b->width + std::max(left, right), px);
    return 1;
}

BOOL WINAPI IsRectEmpty(const RECT* lprc) { return !lprc || lprc->right <= lprc->left || lprc->bottom <= lprc->top; }

BOOL WINAPI SetRect(LPRECT lprc, int xLeft, int yTop, int xRight, int yBottom)
{
    if (!lprc)
        return FALSE;
    lprc->left = xLeft;
    lprc->top = yTop;
    lprc->right = xRight;
    lprc->bottom = yBottom;
    return TRUE;
}

BOOL WINAPI IntersectRect(LPRECT lprcDst, const RECT* lprcSrc1, const RECT* lprcSrc2)
{
    if (!lprcDst || !lprcSrc1 || !lprcSrc2)
        return FALSE;
    RECT r;
    r.left = std::max(lprcSrc1->left, lprcSrc2->left);
    r.top = std::max(lprcSrc1->top, lprcSrc2->top);
    r.right = std::min(lprcSrc1->right, lprcSrc2->right);
    r.bottom = std::min(lprcSrc1->bottom, lprcSrc2->bottom);
    if (IsRectEmpty(&r) || IsRectEmpty(lprcSrc1) || IsRectEmpty(lprcSrc2)) {
        SetRect(lprcDst, 0, 0, 0, 0);
        return FALSE;
    }
    *lprcDst = r;
    return TRUE;
}
