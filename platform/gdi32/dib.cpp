// Device-independent bitmaps: reading DIB rows onto surfaces and writing surface rows as DIBs.
#include "../internal/gdi.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

using namespace platform::gdi;

namespace {

// DIB pixels are little-endian whatever the host.
inline uint32_t LoadLe32(const BYTE* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;  // mask >> shift
};

struct DibLayout {
    int width = 0;
    int height = 0;  // absolute
    bool topDown = false;
    int bpp = 0;
    size_t pitch = 0;
    const RGBQUAD* colors = nullptr;
    int numColors = 0;
    Channel ch[3];  // red, green, blue of 16- and 32-bit pixels
};

Channel MakeChannel(uint32_t mask)
{
    Channel c;
    c.mask = mask;
    if (mask) {
        while (!((mask >> c.shift) & 1))
            ++c.shift;
        c.max = mask >> c.shift;
    }
    return c;
}

bool ParseDib(const BITMAPINFO* bmi, DibLayout& L)
{
    if (!bmi)
        return false;
    const BITMAPINFOHEADER& h = bmi->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > 1024 || h.biWidth <= 0 || h.biHeight == 0 ||
        h.biHeight == INT32_MIN)
        return false;
    int bpp = h.biBitCount;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return false;
    if (h.biCompression != BI_RGB && !(h.biCompression == BI_BITFIELDS && (bpp == 16 || bpp == 32)))
        return false;
    L.width = h.biWidth;
    L.height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    L.topDown = h.biHeight < 0;
    L.bpp = bpp;
    L.pitch = (((size_t)bpp * (size_t)L.width + 31) / 32) * 4;
    if (L.pitch > SIZE_MAX / (size_t)L.height)
        return false;
    const BYTE* afterHeader = reinterpret_cast<const BYTE*>(bmi) + h.biSize;
    if (bpp <= 8) {
        int full = 1 << bpp;
        L.numColors = (h.biClrUsed > 0 && h.biClrUsed < (DWORD)full) ? (int)h.biClrUsed : full;
        L.colors = reinterpret_cast<const RGBQUAD*>(afterHeader);
    } else if (h.biCompression == BI_BITFIELDS) {
        // The masks follow a 40-byte header, and sit at the same offset inside larger ones.
        const DWORD* m = reinterpret_cast<const DWORD*>(reinterpret_cast<const BYTE*>(bmi) + 40);
        for (int i = 0; i < 3; ++i)
            L.ch[i] = MakeChannel(m[i]);
    } else if (bpp == 16) {
        L.ch[0] = MakeChannel(0x7C00), L.ch[1] = MakeChannel(0x03E0), L.ch[2] = MakeChannel(0x001F);
    } else if (bpp == 32) {
        L.ch[0] = MakeChannel(0xFF0000), L.ch[1] = MakeChannel(0xFF00), L.ch[2] = MakeChannel(0xFF);
    }
    return true;
}

inline uint32_t Expand(uint32_t v, const Channel& c)
{
    if (!c.max)
        return 0;
    uint32_t x = (v & c.mask) >> c.shift;
    return (uint32_t)(((uint64_t)x * 255 + c.max / 2) / c.max);
}

inline uint32_t Reduce(uint32_t c8, const Channel& c) { return (uint32_t)(((uint64_t)c8 * c.max + 127) / 255) << c.shift; }

// Pixels x0 .. x0 + n - 1 of one DIB row as surface pixels.
void ReadRow(const DibLayout& L, const BYTE* row, int x0, int n, uint32_t* out)
{
    auto color = [&](unsigned idx) -> uint32_t {
        if ((int)idx >= L.numColors)
            return 0;
        const RGBQUAD& q = L.colors[idx];
        return ((uint32_t)q.rgbRed << 16) | ((uint32_t)q.rgbGreen << 8) | q.rgbBlue;
    };
    switch (L.bpp) {
    case 1:
        for (int i = 0; i < n; ++i) {
            int x = x0 + i;
            out[i] = color((row[x >> 3] >> (7 - (x & 7))) & 1);
        }
        break;
    case 4:
        for (int i = 0; i < n; ++i) {
            int x = x0 + i;
            out[i] = color((x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4));
        }
        break;
    case 8:
        for (int i = 0; i < n; ++i)
            out[i] = color(row[x0 + i]);
        break;
    case 16:
        for (int i = 0; i < n; ++i) {
            const BYTE* p = row + (size_t)(x0 + i) * 2;
            uint32_t v = (uint32_t)p[0] | ((uint32_t)p[1] << 8);
            out[i] = (Expand(v, L.ch[0]) << 16) | (Expand(v, L.ch[1]) << 8) | Expand(v, L.ch[2]);
        }
        break;
    case 24:
        for (int i = 0; i < n; ++i) {
            const BYTE* p = row + (size_t)(x0 + i) * 3;
            out[i] = ((uint32_t)p[2] << 16) | ((uint32_t)p[1] << 8) | p[0];
        }
        break;
    case 32:
        if (L.ch[0].mask == 0xFF0000 && L.ch[1].mask == 0xFF00 && L.ch[2].mask == 0xFF) {
            // The surface's own layout: the row as it is, without the fourth byte. Whole pages
            // come this way.
            for (int i = 0; i < n; ++i)
                out[i] = LoadLe32(row + (size_t)(x0 + i) * 4) & 0x00FFFFFF;
            break;
        }
        for (int i = 0; i < n; ++i) {
            const uint32_t v = LoadLe32(row + (size_t)(x0 + i) * 4);
            out[i] = (Expand(v, L.ch[0]) << 16) | (Expand(v, L.ch[1]) << 8) | Expand(v, L.ch[2]);
        }
        break;
    }
}

// Nearest colour-table entry by squared distance.
unsigned NearestIndex(const DibLayout& L, uint32_t px)
{
    int r = (px >> 16) & 0xff, g = (px >> 8) & 0xff, b = px & 0xff;
    unsigned best = 0;
    int bestDist = INT_MAX;
    for (int i = 0; i < L.numColors; ++i) {
        int dr = L.colors[i].rgbRed - r, dg = L.colors[i].rgbGreen - g, db = L.colors[i].rgbBlue - b;
        int d = dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = (unsigned)i;
        }
    }
    return best;
}

// 32-bit surface pixels to B, G, R bytes. Four pixels make three 32-bit words; the bytes past
// the last pixel (the row's padding) are never written.
void PackBgr(const uint32_t* in, int n, BYTE* out)
{
    int x = 0;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (; x + 4 <= n; x += 4, out += 12) {
        const uint32_t w[3] = {(in[x] & 0xFFFFFF) | (in[x + 1] << 24), ((in[x + 1] >> 8) & 0xFFFF) | (in[x + 2] << 16),
                               ((in[x + 2] >> 16) & 0xFF) | (in[x + 3] << 8)};
        memcpy(out, w, 12);
    }
#endif
    for (; x < n; ++x, out += 3) {
        out[0] = (BYTE)in[x];
        out[1] = (BYTE)(in[x] >> 8);
        out[2] = (BYTE)(in[x] >> 16);
    }
}

#if defined(__x86_64__) || defined(__i386__)
// The same with byte shuffles, sixteen pixels (48 bytes) a step.
__attribute__((target("ssse3"))) void PackBgrSsse3(const uint32_t* in, int n, BYTE* out)
{
    const __m128i drop = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int x = 0;
    for (; x + 16 <= n; x += 16, out += 48) {
        const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x)), drop);
        const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x + 4)), drop);
        const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x + 8)), drop);
        const __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x + 12)), drop);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(a, _mm_slli_si128(b, 12)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
    }
    PackBgr(in + x, n - x, out);
}
#endif

// Surface rows into DIB rows of one layout. The channel scalings of 16- and 32-bit pixels are
// tabulated once per call, so that each row is one plain loop per depth.
class RowWriter {
public:
    explicit RowWriter(const DibLayout& L) : L_(L)
    {
        plain32_ = L.bpp == 32 && L.ch[0].mask == 0xFF0000 && L.ch[1].mask == 0xFF00 && L.ch[2].mask == 0xFF;
        if ((L.bpp == 16 || L.bpp == 32) && !plain32_) {
            for (uint32_t c = 0; c < 256; ++c) {
                red_[c] = Reduce(c, L.ch[0]);
                green_[c] = Reduce(c, L.ch[1]);
                blue_[c] = Reduce(c, L.ch[2]);
            }
        }
#if defined(__x86_64__) || defined(__i386__)
        static const bool ssse3 = __builtin_cpu_supports("ssse3");
        pack_ = ssse3 ? PackBgrSsse3 : PackBgr;
#endif
    }

    // n surface pixels into the first n pixels of one DIB row; the rest of the row, padding
    // included, keeps its bytes.
    void Write(const uint32_t* in, int n, BYTE* row) const
    {
        switch (L_.bpp) {
        case 1:
        case 4:
        case 8: WriteIndexed(in, n, row); break;
        case 16:
            for (int x = 0; x < n; ++x) {
                const uint32_t v = Masked(in[x]);
                row[2 * x] = (BYTE)v;
                row[2 * x + 1] = (BYTE)(v >> 8);
            }
            break;
        case 24: pack_(in, n, row); break;
        case 32:
            if (plain32_) {
                for (int x = 0; x < n; ++x, row += 4) {
                    const uint32_t v = in[x] & 0x00FFFFFF;
                    row[0] = (BYTE)v, row[1] = (BYTE)(v >> 8), row[2] = (BYTE)(v >> 16), row[3] = 0;
                }
            } else {
                for (int x = 0; x < n; ++x, row += 4) {
                    const uint32_t v = Masked(in[x]);
                    row[0] = (BYTE)v, row[1] = (BYTE)(v >> 8), row[2] = (BYTE)(v >> 16), row[3] = (BYTE)(v >> 24);
                }
            }
            break;
        }
    }

private:
    uint32_t Masked(uint32_t px) const { return red_[(px >> 16) & 0xff] | green_[(px >> 8) & 0xff] | blue_[px & 0xff]; }

    void WriteIndexed(const uint32_t* in, int n, BYTE* row) const
    {
        // Runs of one colour are common: the nearest entry is looked up once per run.
        uint32_t lastPx = 0xFFFFFFFF;
        unsigned lastIdx = 0;
        auto index = [&](uint32_t px) {
            if (px != lastPx) {
                lastPx = px;
                lastIdx = NearestIndex(L_, px);
            }
            return lastIdx;
        };
        if (L_.bpp == 8) {
            for (int x = 0; x < n; ++x)
                row[x] = (BYTE)index(in[x]);
        } else if (L_.bpp == 4) {
            for (int x = 0; x < n; ++x) {
                BYTE& byte = row[x >> 1];
                const unsigned idx = index(in[x]);
                byte = (x & 1) ? (BYTE)((byte & 0xF0) | idx) : (BYTE)((byte & 0x0F) | (idx << 4));
            }
        } else {
            for (int x = 0; x < n; ++x) {
                const BYTE bit = (BYTE)(0x80 >> (x & 7));
                row[x >> 3] = index(in[x]) ? (BYTE)(row[x >> 3] | bit) : (BYTE)(row[x >> 3] & ~bit);
            }
        }
    }

    const DibLayout& L_;
    bool plain32_ = false;
    uint32_t red_[256] = {}, green_[256] = {}, blue_[256] = {};
    void (*pack_)(const uint32_t*, int, BYTE*) = PackBgr;
};

}  // namespace

int WINAPI GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits, LPBITMAPINFO lpbmi, UINT usage)
{
    Bitmap* bmp = AsBitmap(hbm);
    DibLayout L;
    if (!AsDc(hdc) || !bmp || !lpvBits || usage != DIB_RGB_COLORS || !ParseDib(lpbmi, L))
        return 0;
    BYTE* bits = static_cast<BYTE*>(lpvBits);
    int n = std::min(L.width, bmp->width);
    int copied = 0;
    const RowWriter writer(L);
    for (uint64_t s = start; s < (uint64_t)start + cLines && s < (uint64_t)L.height; ++s) {
        // Scan 0 of a bottom-up DIB is the bitmap's bottom row.
        int64_t y = L.topDown ? (int64_t)s : (int64_t)bmp->height - 1 - (int64_t)s;
        if (y < 0 || y >= bmp->height)
            continue;
        writer.Write(bmp->bits + (size_t)y * bmp->width, n, bits + (s - start) * L.pitch);
        ++copied;
    }
    return copied;
}

int WINAPI SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc, UINT StartScan,
                             UINT cLines, const void* lpvBits, const BITMAPINFO* lpbmi, UINT ColorUse)
{
    Dc* dc = AsDc(hdc);
    DibLayout L;
    if (!dc || !dc->bitmap || !lpvBits || ColorUse != DIB_RGB_COLORS || !ParseDib(lpbmi, L))
        return 0;
    Bitmap* surf = dc->bitmap;
    const BYTE* bits = static_cast<const BYTE*>(lpvBits);
    // Columns present in both the DIB and the surface.
    int64_t i0 = std::max<int64_t>({0, -(int64_t)xSrc, -(int64_t)xDest});
    int64_t i1 = std::min<int64_t>({(int64_t)w, (int64_t)L.width - xSrc, (int64_t)surf->width - xDest});
    for (int64_t j = 0; j < (int64_t)h && i1 > i0; ++j) {
        int64_t dy = (int64_t)yDest + j;
        if (dy < 0 || dy >= surf->height)
            continue;
        // Bottom-up: destination row j shows DIB scan ySrc + h - 1 - j, counted from the bottom.
        int64_t scan = L.topDown ? (int64_t)ySrc + j : (int64_t)ySrc + (int64_t)h - 1 - j;
        if (scan < (int64_t)StartScan || scan >= (int64_t)StartScan + cLines || scan >= L.height)
            continue;
        const BYTE* row = bits + (size_t)(scan - StartScan) * L.pitch;
        ReadRow(L, row, (int)(xSrc + i0), (int)(i1 - i0), surf->bits + (size_t)dy * surf->width + xDest + i0);
    }
    return (int)std::min<int64_t>(cLines, L.height);
}

int WINAPI StretchDIBits(HDC hdc, int xDest, int yDest, int DestWidth, int DestHeight, int xSrc, int ySrc, int SrcWidth,
                         int SrcHeight, const void* lpBits, const BITMAPINFO* lpbmi, UINT iUsage, DWORD rop)
{
    Dc* dc = AsDc(hdc);
    DibLayout L;
    if (!dc || !dc->bitmap || !lpBits || iUsage != DIB_RGB_COLORS || rop != SRCCOPY || !ParseDib(lpbmi, L) ||
        SrcWidth <= 0 || SrcHeight <= 0 || DestWidth == 0 || DestHeight == 0 || DestWidth == INT_MIN ||
        DestHeight == INT_MIN)
        return 0;
    Bitmap* surf = dc->bitmap;
    const BYTE* bits = static_cast<const BYTE*>(lpBits);
    int64_t aw = DestWidth < 0 ? -(int64_t)DestWidth : DestWidth;
    int64_t ah = DestHeight < 0 ? -(int64_t)DestHeight : DestHeight;

    std::vector<uint32_t> srcRow((size_t)L.width);
    int64_t loadedRow = -1;
    for (int64_t j = 0; j < ah; ++j) {
        int64_t dy = DestHeight > 0 ? (int64_t)yDest + j : (int64_t)yDest - 1 - j;
        if (dy < 0 || dy >= surf->height)
            continue;
        int64_t idx = j * SrcHeight / ah;  // row of the source rectangle, from its top
        int64_t rowIndex = L.topDown ? (int64_t)ySrc + idx : (int64_t)ySrc + SrcHeight - 1 - idx;
        if (rowIndex < 0 || rowIndex >= L.height)
            continue;
        if (rowIndex != loadedRow) {
            ReadRow(L, bits + (size_t)rowIndex * L.pitch, 0, L.width, srcRow.data());
            loadedRow = rowIndex;
        }
        uint32_t* out = surf->bits + (size_t)dy * surf->width;
        for (int64_t i = 0; i < aw; ++i) {
            int64_t dx = DestWidth > 0 ? (int64_t)xDest + i : (int64_t)xDest - 1 - i;
            if (dx < 0 || dx >= surf->width)
                continue;
            int64_t sx = (int64_t)xSrc + i * SrcWidth / aw;
            if (sx < 0 || sx >= L.width)
                continue;
            out[dx] = srcRow[(size_t)sx];
        }
    }
    return (int)ah;
}
