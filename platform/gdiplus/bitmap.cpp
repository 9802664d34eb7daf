// GDI+ start-up, bitmap objects, pixel locking and palettes.
#include <objbase.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <new>

#include "../internal/gdiplus.h"

namespace platform {
namespace gdiplus {

namespace {
std::atomic<int> g_nStarted{0};
std::atomic<ULONG_PTR> g_nNextToken{1};
}  // namespace

bool IsStarted() { return g_nStarted.load() > 0; }

int StrideOf(int width, PixelFormat format)
{
    int64_t s = ((int64_t)width * GetPixelFormatSize(format) + 31) / 32 * 4;
    return (width <= 0 || s <= 0 || s > INT32_MAX) ? 0 : (int)s;
}

Bitmap* NewBitmap(int width, int height, PixelFormat format)
{
    const int stride = StrideOf(width, format);
    if (stride == 0 || height <= 0 || (int64_t)stride * height > kMaxBitmapBytes)
        return nullptr;
    auto* bmp = new (std::nothrow) Bitmap;
    if (!bmp)
        return nullptr;
    bmp->owned = static_cast<uint8_t*>(calloc((size_t)height, (size_t)stride));
    if (!bmp->owned) {
        delete bmp;
        return nullptr;
    }
    bmp->width = width;
    bmp->height = height;
    bmp->format = format;
    bmp->stride = stride;
    bmp->scan0 = bmp->owned;
    return bmp;
}

namespace {

inline uint32_t Expand5(uint32_t v) { return (v << 3) | (v >> 2); }
inline uint32_t Expand6(uint32_t v) { return (v << 2) | (v >> 4); }

}  // namespace

void RowToArgb(const Bitmap& bmp, int y, uint32_t* out)
{
    const uint8_t* p = bmp.Row(y);
    const int w = bmp.width;
    auto pal = [&](unsigned i) -> uint32_t { return i < bmp.palette.size() ? bmp.palette[i] : 0xFF000000u; };
    switch (bmp.format) {
    case PixelFormat1bppIndexed:
        for (int x = 0; x < w; ++x)
            out[x] = pal((p[x >> 3] >> (7 - (x & 7))) & 1);
        break;
    case PixelFormat4bppIndexed:
        for (int x = 0; x < w; ++x)
            out[x] = pal((x & 1) ? (p[x >> 1] & 0x0F) : (p[x >> 1] >> 4));
        break;
    case PixelFormat8bppIndexed:
        for (int x = 0; x < w; ++x)
            out[x] = pal(p[x]);
        break;
    case PixelFormat16bppRGB555:
    case PixelFormat16bppARGB1555:
        for (int x = 0; x < w; ++x) {
            uint32_t v = p[2 * x] | (p[2 * x + 1] << 8);
            uint32_t a = (bmp.format == PixelFormat16bppARGB1555 && !(v & 0x8000)) ? 0 : 0xFF000000u;
            out[x] = a | (Expand5((v >> 10) & 31) << 16) | (Expand5((v >> 5) & 31) << 8) | Expand5(v & 31);
        }
        break;
    case PixelFormat16bppRGB565:
        for (int x = 0; x < w; ++x) {
            uint32_t v = p[2 * x] | (p[2 * x + 1] << 8);
            out[x] = 0xFF000000u | (Expand5((v >> 11) & 31) << 16) | (Expand6((v >> 5) & 63) << 8) | Expand5(v & 31);
        }
        break;
    case PixelFormat24bppRGB:
        for (int x = 0; x < w; ++x, p += 3)
            out[x] = 0xFF000000u | ((uint32_t)p[2] << 16) | ((uint32_t)p[1] << 8) | p[0];
        break;
    case PixelFormat32bppRGB:
        for (int x = 0; x < w; ++x, p += 4)
            out[x] = 0xFF000000u | ((uint32_t)p[2] << 16) | ((uint32_t)p[1] << 8) | p[0];
        break;
    case PixelFormat32bppARGB:
        for (int x = 0; x < w; ++x, p += 4)
            out[x] = ((uint32_t)p[3] << 24) | ((uint32_t)p[2] << 16) | ((uint32_t)p[1] << 8) | p[0];
        break;
    case PixelFormat32bppPARGB:
        for (int x = 0; x < w; ++x, p += 4) {
            uint32_t a = p[3];
            auto un = [a](uint32_t c) -> uint32_t { return a ? (c * 255 + a / 2) / a > 255 ? 255 : (c * 255 + a / 2) / a : 0; };
            out[x] = (a << 24) | (un(p[2]) << 16) | (un(p[1]) << 8) | un(p[0]);
        }
        break;
    case PixelFormat48bppRGB:
        for (int x = 0; x < w; ++x, p += 6)
            out[x] = 0xFF000000u | ((uint32_t)p[5] << 16) | ((uint32_t)p[3] << 8) | p[1];
        break;
    case PixelFormat64bppARGB:
        for (int x = 0; x < w; ++x, p += 8)
            out[x] = ((uint32_t)p[7] << 24) | ((uint32_t)p[5] << 16) | ((uint32_t)p[3] << 8) | p[1];
        break;
    default:
        memset(out, 0, (size_t)w * 4);
        break;
    }
}

namespace {

Bitmap* AsBitmap(GpImage* image) { return static_cast<Bitmap*>(image); }

// The bytes of a file, or an empty result with the status of the failure.
Status ReadWholeFile(const WCHAR* filename, std::vector<uint8_t>& data)
{
    char path[4096];
    if (!filename || WideCharToMultiByte(CP_ACP, 0, filename, -1, path, sizeof(path), nullptr, nullptr) == 0)
        return InvalidParameter;
    FILE* f = fopen(path, "rb");
    if (!f)
        return FileNotFound;
    Status st = Ok;
    if (fseek(f, 0, SEEK_END) != 0) {
        st = Win32Error;
    } else {
        long n = ftell(f);
        if (n < 0 || n > kMaxBitmapBytes || fseek(f, 0, SEEK_SET) != 0) {
            st = n > kMaxBitmapBytes ? OutOfMemory : Win32Error;
        } else {
            try {
                data.resize((size_t)n);
            } catch (...) {
                st = OutOfMemory;
            }
            if (st == Ok && n > 0 && fread(data.data(), 1, (size_t)n, f) != (size_t)n)
                st = Win32Error;
        }
    }
    fclose(f);
    return st;
}

}  // namespace

Status DecodeAny(const uint8_t* data, size_t size, Bitmap** out)
{
    *out = nullptr;
    if (!data || size < 2)
        return UnknownImageFormat;
    if (size >= 8 && memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0)
        return DecodePng(data, size, out);
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return DecodeJpeg(data, size, out);
    if (size >= 6 && (memcmp(data, "GIF87a", 6) == 0 || memcmp(data, "GIF89a", 6) == 0))
        return DecodeGif(data, size, out);
    if (size >= 4 && (memcmp(data, "II*\0", 4) == 0 || memcmp(data, "MM\0*", 4) == 0))
        return DecodeTiff(data, size, out);
    if (data[0] == 'B' && data[1] == 'M')
        return DecodeBmp(data, size, out);
    return UnknownImageFormat;
}

}  // namespace gdiplus
}  // namespace platform

using namespace platform::gdiplus;

namespace Gdiplus {

Status WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output)
{
    if (!token || !input)
        return InvalidParameter;
    if (input->GdiplusVersion != 1)
        return UnsupportedGdiplusVersion;
    // No background thread exists here, so there are no hooks to hand out.
    if (output) {
        output->NotificationHook = nullptr;
        output->NotificationUnhook = nullptr;
    }
    *token = g_nNextToken.fetch_add(1);
    g_nStarted.fetch_add(1);
    return Ok;
}

void WINAPI GdiplusShutdown(ULONG_PTR token)
{
    int n = g_nStarted.load();
    while (token && n > 0 && !g_nStarted.compare_exchange_weak(n, n - 1)) {
    }
}

namespace DllExports {

GpStatus WINAPI GdipCreateBitmapFromFile(const WCHAR* filename, GpBitmap** bitmap)
{
    if (!bitmap || !filename)
        return InvalidParameter;
    *bitmap = nullptr;
    if (!IsStarted())
        return GdiplusNotInitialized;
    std::vector<uint8_t> data;
    Status st = ReadWholeFile(filename, data);
    if (st != Ok)
        return st;
    Bitmap* bmp = nullptr;
    st = DecodeAny(data.data(), data.size(), &bmp);
    *bitmap = bmp;
    return st;
}

GpStatus WINAPI GdipCreateBitmapFromStream(IStream* stream, GpBitmap** bitmap)
{
    if (!bitmap || !stream)
        return InvalidParameter;
    *bitmap = nullptr;
    if (!IsStarted())
        return GdiplusNotInitialized;
    std::vector<uint8_t> data;
    uint8_t chunk[65536];
    for (;;) {
        ULONG nRead = 0;
        HRESULT hr = stream->Read(chunk, sizeof(chunk), &nRead);
        if (FAILED(hr))
            return Win32Error;
        if (nRead == 0)
            break;
        if (data.size() + nRead > (size_t)kMaxBitmapBytes)
            return OutOfMemory;
        try {
            data.insert(data.end(), chunk, chunk + nRead);
        } catch (...) {
            return OutOfMemory;
        }
    }
    Bitmap* bmp = nullptr;
    Status st = DecodeAny(data.data(), data.size(), &bmp);
    *bitmap = bmp;
    return st;
}

GpStatus WINAPI GdipCreateBitmapFromGdiDib(const BITMAPINFO* info, void* bits, GpBitmap** bitmap)
{
    if (!bitmap || !info || !bits)
        return InvalidParameter;
    *bitmap = nullptr;
    if (!IsStarted())
        return GdiplusNotInitialized;
    BITMAPINFOHEADER h;
    memcpy(&h, &info->bmiHeader, sizeof(h));
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN)
        return InvalidParameter;
    const uint8_t* extra = reinterpret_cast<const uint8_t*>(info) + h.biSize;
    PixelFormat format;
    switch (h.biBitCount) {
    case 1: format = PixelFormat1bppIndexed; break;
    case 4: format = PixelFormat4bppIndexed; break;
    case 8: format = PixelFormat8bppIndexed; break;
    case 16: {
        format = PixelFormat16bppRGB555;
        if (h.biCompression == BI_BITFIELDS) {
            DWORD masks[3];
            memcpy(masks, extra, sizeof(masks));
            if (masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F)
                format = PixelFormat16bppRGB565;
            else if (!(masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F))
                return InvalidParameter;
        }
        break;
    }
    case 24: format = PixelFormat24bppRGB; break;
    case 32: format = PixelFormat32bppRGB; break;
    default: return InvalidParameter;
    }
    if (h.biCompression != BI_RGB && !(h.biCompression == BI_BITFIELDS && h.biBitCount == 16))
        return InvalidParameter;
    const int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    const int stride = StrideOf(h.biWidth, format);
    if (stride == 0 || (int64_t)stride * height > INT32_MAX)
        return InvalidParameter;
    auto* bmp = new (std::nothrow) Bitmap;
    if (!bmp)
        return OutOfMemory;
    bmp->width = h.biWidth;
    bmp->height = height;
    bmp->format = format;
    // Bottom-up DIBs start with the bottom row: the top row is the last one.
    uint8_t* base = static_cast<uint8_t*>(bits);
    if (h.biHeight > 0) {
        bmp->scan0 = base + (size_t)(height - 1) * stride;
        bmp->stride = -stride;
    } else {
        bmp->scan0 = base;
        bmp->stride = stride;
    }
    if (h.biBitCount <= 8) {
        const int n = 1 << h.biBitCount;
        const int used = (h.biClrUsed > 0 && h.biClrUsed < (DWORD)n) ? (int)h.biClrUsed : n;
        for (int i = 0; i < used; ++i) {
            RGBQUAD q;
            memcpy(&q, extra + 4 * i, 4);
            bmp->palette.push_back(0xFF000000u | ((uint32_t)q.rgbRed << 16) | ((uint32_t)q.rgbGreen << 8) | q.rgbBlue);
        }
    }
    *bitmap = bmp;
    return Ok;
}

GpStatus WINAPI GdipDisposeImage(GpImage* image)
{
    if (!image)
        return InvalidParameter;
    delete AsBitmap(image);
    return Ok;
}

GpStatus WINAPI GdipGetImageWidth(GpImage* image, UINT* width)
{
    if (!image || !width)
        return InvalidParameter;
    *width = (UINT)AsBitmap(image)->width;
    return Ok;
}

GpStatus WINAPI GdipGetImageHeight(GpImage* image, UINT* height)
{
    if (!image || !height)
        return InvalidParameter;
    *height = (UINT)AsBitmap(image)->height;
    return Ok;
}

GpStatus WINAPI GdipGetImagePixelFormat(GpImage* image, PixelFormat* format)
{
    if (!image || !format)
        return InvalidParameter;
    *format = AsBitmap(image)->format;
    return Ok;
}

GpStatus WINAPI GdipGetImagePaletteSize(GpImage* image, INT* size)
{
    if (!image || !size)
        return InvalidParameter;
    const size_t n = AsBitmap(image)->palette.size();
    // The header's two UINTs, then the entries (the declared one included in the header).
    *size = (INT)(2 * sizeof(UINT) + (n ? n : 1) * sizeof(ARGB));
    return Ok;
}

GpStatus WINAPI GdipGetImagePalette(GpImage* image, ColorPalette* palette, INT size)
{
    if (!image || !palette)
        return InvalidParameter;
    const Bitmap* bmp = AsBitmap(image);
    const size_t n = bmp->palette.size();
    if (size < (INT)(2 * sizeof(UINT) + (n ? n : 1) * sizeof(ARGB)))
        return InvalidParameter;
    UINT flags = 0;
    for (ARGB c : bmp->palette)
        if ((c >> 24) != 0xFF)
            flags |= PaletteFlagsHasAlpha;
    palette->Flags = flags;
    palette->Count = (UINT)n;
    if (n)
        memcpy(palette->Entries, bmp->palette.data(), n * sizeof(ARGB));
    return Ok;
}

GpStatus WINAPI GdipBitmapLockBits(GpBitmap* bitmap, const GpRect* rect, UINT flags, PixelFormat format,
                                   BitmapData* data)
{
    if (!bitmap || !data)
        return InvalidParameter;
    Bitmap* bmp = static_cast<Bitmap*>(bitmap);
    if (bmp->locked)
        return WrongState;
    GpRect r = rect ? *rect : GpRect{0, 0, bmp->width, bmp->height};
    if (r.X < 0 || r.Y < 0 || r.Width <= 0 || r.Height <= 0 || r.X > bmp->width - r.Width ||
        r.Y > bmp->height - r.Height)
        return InvalidParameter;
    if (format != bmp->format)
        return NotImplemented;
    const UINT bpp = GetPixelFormatSize(format);
    if (((int64_t)r.X * bpp) % 8 != 0)
        return NotImplemented;
    const size_t offset = (size_t)r.X * bpp / 8;
    if (bmp->stride > 0) {
        data->Scan0 = bmp->Row(r.Y) + offset;
        data->Stride = bmp->stride;
    } else {
        // Writes into a copy would be lost; DIB-backed bitmaps are read-only here.
        if (flags & ImageLockModeWrite)
            return NotImplemented;
        // Readers get rows top first with a positive stride, as they do on Windows.
        const int stride = -bmp->stride;
        bmp->lockCopy = static_cast<uint8_t*>(malloc((size_t)stride * r.Height));
        if (!bmp->lockCopy)
            return OutOfMemory;
        for (int i = 0; i < r.Height; ++i)
            memcpy(bmp->lockCopy + (size_t)i * stride, bmp->Row(r.Y + i), (size_t)stride);
        data->Scan0 = bmp->lockCopy + offset;
        data->Stride = stride;
    }
    data->Width = (UINT)r.Width;
    data->Height = (UINT)r.Height;
    data->PixelFormat = format;
    data->Reserved = flags;
    bmp->locked = true;
    return Ok;
}

GpStatus WINAPI GdipBitmapUnlockBits(GpBitmap* bitmap, BitmapData* data)
{
    if (!bitmap || !data)
        return InvalidParameter;
    Bitmap* bmp = static_cast<Bitmap*>(bitmap);
    if (!bmp->locked)
        return WrongState;
    free(bmp->lockCopy);
    bmp->lockCopy = nullptr;
    bmp->locked = false;
    return Ok;
}

}  // namespace DllExports
}  // namespace Gdiplus
