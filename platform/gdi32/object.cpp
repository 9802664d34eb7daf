// GDI objects: the registry, bitmaps, brushes, selection and deletion.
#include "../internal/gdi.h"

#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

namespace platform {
namespace gdi {

namespace {

std::mutex s_lock;
std::unordered_set<GdiObject*>& Live()
{
    static auto* live = new std::unordered_set<GdiObject*>;
    return *live;
}

template <class T>
T* Lookup(const void* h, DWORD t1, DWORD t2 = 0)
{
    auto* obj = static_cast<GdiObject*>(const_cast<void*>(h));
    std::lock_guard<std::mutex> guard(s_lock);
    if (!obj || !Live().count(obj) || (obj->type != t1 && obj->type != t2))
        return nullptr;
    return static_cast<T*>(obj);
}

// Largest bitmap we make: 1 GiB of pixels.
const int64_t kMaxPixels = (int64_t)1 << 28;

}  // namespace

void Register(GdiObject* obj)
{
    std::lock_guard<std::mutex> guard(s_lock);
    Live().insert(obj);
}

void Unregister(GdiObject* obj)
{
    std::lock_guard<std::mutex> guard(s_lock);
    Live().erase(obj);
}

Dc* AsDc(HDC h) { return Lookup<Dc>(h, OBJ_DC, OBJ_MEMDC); }
Bitmap* AsBitmap(HGDIOBJ h) { return Lookup<Bitmap>(h, OBJ_BITMAP); }
Brush* AsBrush(HGDIOBJ h) { return Lookup<Brush>(h, OBJ_BRUSH); }

Bitmap* NewBitmap(int width, int height)
{
    if (width <= 0 || height <= 0 || (int64_t)width * height > kMaxPixels)
        return nullptr;
    auto* bmp = new (std::nothrow) Bitmap;
    if (!bmp)
        return nullptr;
    bmp->type = OBJ_BITMAP;
    bmp->width = width;
    bmp->height = height;
    bmp->bits = new (std::nothrow) uint32_t[(size_t)width * (size_t)height]();
    if (!bmp->bits) {
        delete bmp;
        return nullptr;
    }
    Register(bmp);
    return bmp;
}

void FreeBitmap(Bitmap* bmp)
{
    Unregister(bmp);
    delete[] bmp->bits;
    delete bmp;
}

}  // namespace gdi
}  // namespace platform

using namespace platform::gdi;

namespace {

Brush* StockBrush(int i)
{
    static Brush* brushes[5] = {};
    static std::once_flag once;
    std::call_once(once, [] {
        const COLORREF colors[5] = {RGB(255, 255, 255), RGB(192, 192, 192), RGB(128, 128, 128), RGB(64, 64, 64), RGB(0, 0, 0)};
        for (int k = 0; k < 5; ++k) {
            brushes[k] = new Brush;
            brushes[k]->type = OBJ_BRUSH;
            brushes[k]->stock = true;
            brushes[k]->color = colors[k];
            Register(brushes[k]);
        }
    });
    return (i >= 0 && i < 5) ? brushes[i] : nullptr;
}

}  // namespace

HGDIOBJ WINAPI GetStockObject(int i) { return StockBrush(i); }

HBRUSH WINAPI CreateSolidBrush(COLORREF color)
{
    auto* brush = new (std::nothrow) Brush;
    if (!brush)
        return nullptr;
    brush->type = OBJ_BRUSH;
    brush->color = color & 0x00ffffff;
    Register(brush);
    return reinterpret_cast<HBRUSH>(brush);
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy)
{
    if (hdc && !AsDc(hdc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    Bitmap* bmp = NewBitmap(cx, cy);
    if (!bmp)
        SetLastError(ERROR_INVALID_PARAMETER);
    return reinterpret_cast<HBITMAP>(bmp);
}

DWORD WINAPI GetObjectType(HGDIOBJ h)
{
    if (Bitmap* b = AsBitmap(h))
        return b->type;
    if (Brush* b = AsBrush(h))
        return b->type;
    if (Dc* d = AsDc(static_cast<HDC>(h)))
        return d->type;
    return 0;
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h)
{
    Dc* dc = AsDc(hdc);
    if (!dc)
        return nullptr;
    if (Bitmap* bmp = AsBitmap(h)) {
        // Only memory DCs hold bitmaps, and a bitmap lives in one DC at a time.
        if (dc->type != OBJ_MEMDC || (!bmp->stock && bmp->selectedIn && bmp->selectedIn != dc))
            return nullptr;
        Bitmap* old = dc->bitmap;
        if (old && !old->stock)
            old->selectedIn = nullptr;
        dc->bitmap = bmp;
        if (!bmp->stock)
            bmp->selectedIn = dc;
        return old;
    }
    if (Brush* brush = AsBrush(h)) {
        Brush* old = dc->brush;
        dc->brush = brush;
        return old;
    }
    return nullptr;
}

BOOL WINAPI DeleteObject(HGDIOBJ ho)
{
    if (Bitmap* bmp = AsBitmap(ho)) {
        if (bmp->stock || bmp->selectedIn)
            return FALSE;
        FreeBitmap(bmp);
        return TRUE;
    }
    if (Brush* brush = AsBrush(ho)) {
        if (brush->stock)
            return FALSE;
        Unregister(brush);
        delete brush;
        return TRUE;
    }
    return FALSE;
}

int WINAPI GetObjectW(HANDLE h, int c, LPVOID pv)
{
    Bitmap* bmp = AsBitmap(h);
    if (!bmp || !pv || c < (int)sizeof(BITMAP))
        return 0;
    BITMAP bm;
    memset(&bm, 0, sizeof bm);
    bm.bmType = 0;
    bm.bmWidth = bmp->width;
    bm.bmHeight = bmp->height;
    bm.bmWidthBytes = bmp->width * 4;
    bm.bmPlanes = 1;
    bm.bmBitsPixel = 32;
    bm.bmBits = nullptr;  // device-dependent bitmaps do not expose their bits
    memcpy(pv, &bm, sizeof bm);
    return (int)sizeof bm;
}

int WINAPI GetObjectA(HANDLE h, int c, LPVOID pv) { return GetObjectW(h, c, pv); }
