// Pixel copies between device surfaces.
#include "../internal/gdi.h"

#include <algorithm>
#include <cstring>

using namespace platform::gdi;

BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop)
{
    Dc* dst = AsDc(hdc);
    Dc* src = AsDc(hdcSrc);
    if (!dst || !src || rop != SRCCOPY || !dst->bitmap || !src->bitmap)
        return FALSE;
    if (cx <= 0 || cy <= 0)
        return TRUE;  // nothing to copy
    Bitmap* d = dst->bitmap;
    Bitmap* s = src->bitmap;
    // Clip the rectangle against both surfaces, moving both origins together.
    int64_t dx = x, dy = y, sx = x1, sy = y1, w = cx, h = cy;
    int64_t shiftX = std::max<int64_t>({0, -dx, -sx}), shiftY = std::max<int64_t>({0, -dy, -sy});
    dx += shiftX, sx += shiftX, w -= shiftX;
    dy += shiftY, sy += shiftY, h -= shiftY;
    w = std::min<int64_t>({w, d->width - dx, s->width - sx});
    h = std::min<int64_t>({h, d->height - dy, s->height - sy});
    if (w <= 0 || h <= 0)
        return TRUE;
    for (int64_t row = 0; row < h; ++row)
        memmove(d->bits + (dy + row) * d->width + dx, s->bits + (sy + row) * s->width + sx, (size_t)w * 4);
    return TRUE;
}

COLORREF WINAPI GetPixel(HDC hdc, int x, int y)
{
    Dc* dc = AsDc(hdc);
    if (!dc || !dc->bitmap || x < 0 || y < 0 || x >= dc->bitmap->width || y >= dc->bitmap->height)
        return (COLORREF)0xFFFFFFFF;  // CLR_INVALID
    return ColorOf(dc->bitmap->bits[(size_t)y * dc->bitmap->width + x]);
}

COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color)
{
    Dc* dc = AsDc(hdc);
    if (!dc || !dc->bitmap || x < 0 || y < 0 || x >= dc->bitmap->width || y >= dc->bitmap->height)
        return (COLORREF)-1;
    dc->bitmap->bits[(size_t)y * dc->bitmap->width + x] = PixelOf(color);
    return color & 0x00ffffff;
}
