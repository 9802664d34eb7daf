// Internal to the platform: gdi32's objects, also used by user32 (window DCs) and ole32 (pictures).
// GDI objects behind the handles. Every surface is a 32-bit top-down pixel array, one
// uint32_t 0x00RRGGBB per pixel (bytes blue, green, red, 0 as in a 32-bit DIB).
#pragma once

#include <windows.h>

namespace platform {
namespace gdi {

struct GdiObject {
    DWORD type;  // OBJ_BITMAP, OBJ_BRUSH, OBJ_DC, OBJ_MEMDC
    bool stock = false;
};

struct Dc;

struct Bitmap : GdiObject {
    int width = 0;
    int height = 0;
    uint32_t* bits = nullptr;  // width * height pixels, top row first
    Dc* selectedIn = nullptr;  // the memory DC holding it, if any (not tracked for stock)
};

struct Brush : GdiObject {
    COLORREF color = 0;
};

struct Dc : GdiObject {
    Bitmap* bitmap = nullptr;  // the drawing surface; null for the screen
    Brush* brush = nullptr;
    int mapMode = MM_TEXT;
    int stretchMode = BLACKONWHITE;
    HWND hwnd = nullptr;  // the window of a window DC
    int dpi = 0;          // LOGPIXELSX/Y of a window DC counting device pixels; 0: the screen's
};

// Live-object registry: a handle is used only while it names a live object of the kind.
void Register(GdiObject* obj);
void Unregister(GdiObject* obj);
Dc* AsDc(HDC h);
Bitmap* AsBitmap(HGDIOBJ h);
Brush* AsBrush(HGDIOBJ h);

// A new 32-bit bitmap, zero-filled; null for non-positive or too large sizes.
Bitmap* NewBitmap(int width, int height);
void FreeBitmap(Bitmap* bmp);

// A device context drawing on the given surface (null: no surface), registered.
Dc* NewDc(DWORD type, Bitmap* surface, HWND hwnd);
void FreeDc(Dc* dc);

// The screen's metrics: 96 dpi and 1920 x 1080 until the window system reports others.
void SetScreenMetrics(int width, int height, int dpi);
int ScreenDpi();

// Colour of a COLORREF as a surface pixel.
inline uint32_t PixelOf(COLORREF c) { return ((uint32_t)GetRValue(c) << 16) | ((uint32_t)GetGValue(c) << 8) | GetBValue(c); }
inline COLORREF ColorOf(uint32_t px) { return RGB((px >> 16) & 0xff, (px >> 8) & 0xff, px & 0xff); }

}  // namespace gdi
}  // namespace platform
