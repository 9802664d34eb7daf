// Device contexts: memory DCs, device capabilities and mapping modes.
#include "../internal/gdi.h"

#include <new>

namespace platform {
namespace gdi {

namespace {

int s_screenWidth = 1920, s_screenHeight = 1080, s_dpi = 96;

Bitmap* StockBitmap()
{
    static Bitmap* stock = [] {
        Bitmap* b = NewBitmap(1, 1);
        b->stock = true;
        return b;
    }();
    return stock;
}

}  // namespace

void SetScreenMetrics(int width, int height, int dpi)
{
    if (width > 0)
        s_screenWidth = width;
    if (height > 0)
        s_screenHeight = height;
    if (dpi > 0)
        s_dpi = dpi;
}

int ScreenDpi() { return s_dpi; }

Dc* NewDc(DWORD type, Bitmap* surface, HWND hwnd)
{
    auto* dc = new (std::nothrow) Dc;
    if (!dc)
        return nullptr;
    dc->type = type;
    dc->bitmap = surface;
    dc->brush = reinterpret_cast<Brush*>(GetStockObject(WHITE_BRUSH));
    dc->hwnd = hwnd;
    Register(dc);
    return dc;
}

void FreeDc(Dc* dc)
{
    Unregister(dc);
    if (dc->type == OBJ_MEMDC && dc->bitmap && !dc->bitmap->stock && dc->bitmap->selectedIn == dc)
        dc->bitmap->selectedIn = nullptr;
    delete dc;
}

}  // namespace gdi
}  // namespace platform

using namespace platform::gdi;

HDC WINAPI CreateCompatibleDC(HDC hdc)
{
    if (hdc && !AsDc(hdc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<HDC>(NewDc(OBJ_MEMDC, StockBitmap(), nullptr));
}

BOOL WINAPI DeleteDC(HDC hdc)
{
    Dc* dc = AsDc(hdc);
    if (!dc || dc->type != OBJ_MEMDC)
        return FALSE;
    FreeDc(dc);
    return TRUE;
}

int WINAPI GetDeviceCaps(HDC hdc, int index)
{
    Dc* dc = AsDc(hdc);
    if (!dc)
        return 0;
    switch (index) {
    case BITSPIXEL: return 32;
    case PLANES: return 1;
    case NUMCOLORS: return -1;
    case LOGPIXELSX:
    case LOGPIXELSY: return dc->dpi > 0 ? dc->dpi : s_dpi;
    case HORZRES: return s_screenWidth;
    case VERTRES: return s_screenHeight;
    case HORZSIZE: return (int)(s_screenWidth * 254L / (s_dpi * 10L));
    case VERTSIZE: return (int)(s_screenHeight * 254L / (s_dpi * 10L));
    default: return 0;
    }
}

int WINAPI SetMapMode(HDC hdc, int iMode)
{
    Dc* dc = AsDc(hdc);
    if (!dc || (iMode != MM_TEXT && iMode != MM_HIMETRIC))
        return 0;
    int old = dc->mapMode;
    dc->mapMode = iMode;
    return old;
}

int WINAPI GetMapMode(HDC hdc)
{
    Dc* dc = AsDc(hdc);
    return dc ? dc->mapMode : 0;
}

namespace {

// a * b / c rounded to nearest, halves away from zero (MulDiv).
LONG MulDivRound(int64_t a, int64_t b, int64_t c)
{
    int64_t p = a * b;
    int64_t q = (p >= 0 ? p + c / 2 : p - c / 2) / c;
    return (LONG)q;
}

}  // namespace

BOOL WINAPI LPtoDP(HDC hdc, LPPOINT lppt, int c)
{
    Dc* dc = AsDc(hdc);
    if (!dc || (!lppt && c > 0) || c < 0)
        return FALSE;
    if (dc->mapMode == MM_TEXT)
        return TRUE;
    const int dpi = dc->dpi > 0 ? dc->dpi : s_dpi;
    for (int i = 0; i < c; ++i) {  // MM_HIMETRIC: 2540 units an inch, y axis up
        lppt[i].x = MulDivRound(lppt[i].x, dpi, 2540);
        lppt[i].y = MulDivRound(-(int64_t)lppt[i].y, dpi, 2540);
    }
    return TRUE;
}

int WINAPI SetStretchBltMode(HDC hdc, int mode)
{
    Dc* dc = AsDc(hdc);
    if (!dc || mode < BLACKONWHITE || mode > HALFTONE)
        return 0;
    int old = dc->stretchMode;
    dc->stretchMode = mode;
    return old;
}

int WINAPI GetStretchBltMode(HDC hdc)
{
    Dc* dc = AsDc(hdc);
    return dc ? dc->stretchMode : 0;
}
