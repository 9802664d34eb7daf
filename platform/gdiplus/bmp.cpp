// BMP, read and written by the platform itself: uncompressed DIBs.
#include <algorithm>
#include <cstring>

#include "../internal/gdiplus.h"

namespace platform {
namespace gdiplus {

namespace {

uint32_t Le32(const uint8_t* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24); }
uint16_t Le16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = (uint8_t)(v >> (8 * i));
}
void Put16(uint8_t* p, uint16_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

}  // namespace

Status DecodeBmp(const uint8_t* data, size_t size, Bitmap** out)
{
    *out = nullptr;
    if (size < 14 + 40 || data[0] != 'B' || data[1] != 'M')
        return UnknownImageFormat;
    const uint32_t offset = Le32(data + 10);
    const uint32_t hsize = Le32(data + 14);
    const int32_t width = (int32_t)Le32(data + 18);
    const int32_t rawHeight = (int32_t)Le32(data + 22);
    const int bpp = Le16(data + 28);
    const uint32_t compression = Le32(data + 30);
    const uint32_t clrUsed = Le32(data + 46);
    if (hsize < 40 || (uint64_t)hsize + 14 > size || offset >= size || width <= 0 || rawHeight == 0 ||
        rawHeight == INT32_MIN)
        return GenericError;
    const int height = rawHeight < 0 ? -rawHeight : rawHeight;
    PixelFormat format;
    switch (bpp) {
    case 1: format = PixelFormat1bppIndexed; break;
    case 4: format = PixelFormat4bppIndexed; break;
    case 8: format = PixelFormat8bppIndexed; break;
    case 16: format = PixelFormat16bppRGB555; break;
    case 24: format = PixelFormat24bppRGB; break;
    case 32: format = PixelFormat32bppRGB; break;
    default: return NotImplemented;
    }
    // Bit fields follow the 40-byte header (or sit inside a larger one at the same place).
    if (compression == 3) {
        if (size < 14 + 40 + 12 || (bpp != 16 && bpp != 32))
            return NotImplemented;
        const uint32_t r = Le32(data + 54), g = Le32(data + 58), b = Le32(data + 62);
        if (bpp == 16 && r == 0xF800 && g == 0x07E0 && b == 0x001F)
            format = PixelFormat16bppRGB565;
        else if (bpp == 16 && !(r == 0x7C00 && g == 0x03E0 && b == 0x001F))
            return NotImplemented;
        else if (bpp == 32 && !(r == 0xFF0000 && g == 0xFF00 && b == 0xFF))
            return NotImplemented;
    } else if (compression != 0) {
        return NotImplemented;  // run-length and embedded JPEG/PNG BMPs
    }
    Bitmap* bmp = NewBitmap(width, height, format);
    if (!bmp)
        return OutOfMemory;
    if (bpp <= 8) {
        size_t n = (size_t)1 << bpp;
        if (clrUsed > 0 && clrUsed < n)
            n = clrUsed;
        const uint64_t palStart = 14 + (uint64_t)hsize + (compression == 3 ? 12 : 0);
        for (size_t i = 0; i < n && palStart + 4 * i + 4 <= size; ++i) {
            const uint8_t* q = data + palStart + 4 * i;
            bmp->palette.push_back(0xFF000000u | ((uint32_t)q[2] << 16) | ((uint32_t)q[1] << 8) | q[0]);
        }
    }
    // Rows the file lacks stay zero.
    const size_t rowBytes = (size_t)bmp->stride;
    for (int i = 0; i < height; ++i) {
        const uint64_t at = offset + (uint64_t)i * rowBytes;
        if (at >= size)
            break;
        const size_t n = size - at < rowBytes ? (size_t)(size - at) : rowBytes;
        const int y = rawHeight > 0 ? height - 1 - i : i;
        memcpy(bmp->Row(y), data + at, n);
    }
    *out = bmp;
    return Ok;
}

Status EncodeBmp(const Bitmap& bmp, const char* path)
{
    int bpp = (int)GetPixelFormatSize(bmp.format);
    const bool indexed = bmp.format == PixelFormat1bppIndexed || bmp.format == PixelFormat4bppIndexed ||
                         bmp.format == PixelFormat8bppIndexed;
    const bool direct = indexed || bmp.format == PixelFormat16bppRGB555 || bmp.format == PixelFormat16bppRGB565 ||
                        bmp.format == PixelFormat24bppRGB || bmp.format == PixelFormat32bppRGB ||
                        bmp.format == PixelFormat32bppARGB;
    if (!direct)
        bpp = 32;  // other formats are written as 32-bit B, G, R, A
    const bool bitfields = bmp.format == PixelFormat16bppRGB565;
    const int stride = StrideOf(bmp.width, bpp == 32 ? PixelFormat32bppARGB : bmp.format);
    const uint32_t colors = indexed ? (1u << bpp) : 0;
    const uint32_t headerBytes = 14 + 40 + (bitfields ? 12 : 0) + 4 * colors;
    const uint64_t fileSize = headerBytes + (uint64_t)stride * bmp.height;
    if (stride == 0 || fileSize > 0xFFFFFFFFu)
        return InvalidParameter;
    FILE* f = OpenOutputStream(path);
    if (!f)
        return Win32Error;
    std::vector<uint8_t> head(headerBytes, 0);
    head[0] = 'B';
    head[1] = 'M';
    Put32(&head[2], (uint32_t)fileSize);
    Put32(&head[10], headerBytes);
    Put32(&head[14], 40);
    Put32(&head[18], (uint32_t)bmp.width);
    Put32(&head[22], (uint32_t)bmp.height);
    Put16(&head[26], 1);
    Put16(&head[28], (uint16_t)bpp);
    Put32(&head[30], bitfields ? 3 : 0);
    if (bitfields) {
        Put32(&head[54], 0xF800);
        Put32(&head[58], 0x07E0);
        Put32(&head[62], 0x001F);
    }
    for (uint32_t i = 0; i < colors && i < bmp.palette.size(); ++i)
        Put32(&head[54 + 4 * i], bmp.palette[i] & 0x00FFFFFFu);
    bool ok = fwrite(head.data(), 1, head.size(), f) == head.size();
    std::vector<uint8_t> row((size_t)stride, 0);
    for (int y = bmp.height - 1; ok && y >= 0; --y) {
        if (direct)
            memcpy(row.data(), bmp.Row(y), std::min<size_t>((size_t)stride, (size_t)StrideOf(bmp.width, bmp.format)));
        else
            RowToArgb(bmp, y, reinterpret_cast<uint32_t*>(row.data()));
        ok = fwrite(row.data(), 1, row.size(), f) == row.size();
    }
    if (fclose(f) != 0)
        ok = false;
    if (!ok) {
        remove(path);
        return Win32Error;
    }
    return Ok;
}

}  // namespace gdiplus
}  // namespace platform
