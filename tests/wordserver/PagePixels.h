// A page as the Word layer draws it, read back as pixels, for the tests that look at pages.
#pragma once

#include "word/CxWordDoc.h"

#include <windows.h>

#include <cstdint>
#include <vector>

// Draws page `index` of an open document at its own size (GetPageSize) and reads it back:
// 0x00RRGGBB, rows top-down, *size set. Empty when the page has no size or its pixels cannot
// be read; *drawn says whether DrawPage reported the page drawn.
inline std::vector<uint32_t> PagePixels(CxWordDoc& doc, int index, HDC screen, POINT* size, bool* drawn)
{
    std::vector<uint32_t> px;
    *drawn = false;
    *size = {0, 0};
    if (!doc.GetPageSize(screen, size) || size->x <= 0 || size->y <= 0)
        return px;
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, size->x, size->y);
    HGDIOBJ old = SelectObject(mem, bmp);
    RECT r = {0, 0, size->x, size->y};
    *drawn = doc.DrawPage(index, mem, &r, &r);
    SelectObject(mem, old);
    px.assign(size_t(size->x) * size_t(size->y), 0xdeadbeef);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = size->x;
    bi.bmiHeader.biHeight = -size->y;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    if (GetDIBits(mem, bmp, 0, UINT(size->y), px.data(), &bi, DIB_RGB_COLORS) != size->y)
        px.clear();
    for (uint32_t& v : px)
        v &= 0x00ffffff;
    DeleteObject(bmp);
    DeleteDC(mem);
    return px;
}
