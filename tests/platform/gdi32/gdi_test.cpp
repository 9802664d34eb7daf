#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// A memory DC holding a w x h bitmap, released at the end of the test.
struct MemSurface {
    HDC dc;
    HBITMAP bmp;
    HGDIOBJ old;
    MemSurface(int w, int h)
    {
        HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        bmp = CreateCompatibleBitmap(screen, w, h);
        old = SelectObject(dc, bmp);
        ReleaseDC(nullptr, screen);
    }
    ~MemSurface()
    {
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
    }
};

BITMAPINFO Info(int w, int h, int bpp)
{
    BITMAPINFO bi;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = (WORD)bpp;
    bi.bmiHeader.biCompression = BI_RGB;
    return bi;
}

TEST(Gdi, ScreenIsA32BitDeviceAt96Dpi)
{
    HDC screen = GetDC(nullptr);
    ASSERT_NE(nullptr, screen);
    EXPECT_EQ(32, GetDeviceCaps(screen, BITSPIXEL));
    EXPECT_EQ(96, GetDeviceCaps(screen, LOGPIXELSX));
    EXPECT_EQ(96, GetDeviceCaps(screen, LOGPIXELSY));
    EXPECT_EQ(1, ReleaseDC(nullptr, screen));
}

TEST(Gdi, HimetricA4MapsToPixelsRoundedToNearest)
{
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(MM_TEXT, SetMapMode(screen, MM_HIMETRIC));
    POINT pt = {21000, 29700};
    ASSERT_TRUE(LPtoDP(screen, &pt, 1));
    EXPECT_EQ(794, pt.x);
    EXPECT_EQ(-1123, pt.y);
    EXPECT_EQ(MM_HIMETRIC, SetMapMode(screen, MM_TEXT));
    POINT same = {21000, 29700};
    LPtoDP(screen, &same, 1);
    EXPECT_EQ(21000, same.x);
    ReleaseDC(nullptr, screen);
}

TEST(Gdi, BitmapSelectionRules)
{
    MemSurface a(4, 3);
    BITMAP bm;
    ASSERT_EQ((int)sizeof bm, GetObjectW(a.bmp, sizeof bm, &bm));
    EXPECT_EQ(4, bm.bmWidth);
    EXPECT_EQ(3, bm.bmHeight);
    EXPECT_EQ(32, bm.bmBitsPixel);
    EXPECT_FALSE(DeleteObject(a.bmp));  // still selected
    HDC other = CreateCompatibleDC(nullptr);
    EXPECT_EQ(nullptr, SelectObject(other, a.bmp));  // one DC at a time
    DeleteDC(other);
    EXPECT_EQ(nullptr, CreateCompatibleBitmap(nullptr, 0, 10));
    EXPECT_FALSE(DeleteObject(GetStockObject(WHITE_BRUSH)));
}

TEST(Gdi, FillRectAndBitBltClip)
{
    MemSurface src(10, 10), dst(6, 6);
    RECT all = {0, 0, 10, 10};
    FillRect(src.dc, &all, (HBRUSH)GetStockObject(LTGRAY_BRUSH));
    RECT inner = {2, 2, 4, 4};
    FillRect(src.dc, &inner, (HBRUSH)GetStockObject(WHITE_BRUSH));
    ASSERT_TRUE(BitBlt(dst.dc, -1, -1, 20, 20, src.dc, 0, 0, SRCCOPY));
    // dst(x, y) = src(x + 1, y + 1)
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(dst.dc, 1, 1));
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(dst.dc, 2, 2));
    EXPECT_EQ(RGB(192, 192, 192), GetPixel(dst.dc, 3, 3));
    EXPECT_EQ(RGB(192, 192, 192), GetPixel(dst.dc, 0, 0));
    EXPECT_EQ(RGB(192, 192, 192), GetPixel(dst.dc, 5, 5));
}

TEST(Gdi, GetDIBitsOf32BitBitmapInto24BitBottomUpDib)
{
    MemSurface s(3, 2);
    SetPixel(s.dc, 0, 0, RGB(1, 2, 3));
    SetPixel(s.dc, 2, 0, RGB(4, 5, 6));
    SetPixel(s.dc, 0, 1, RGB(7, 8, 9));
    SelectObject(s.dc, s.old);  // read it out of the DC, as a capture does
    BITMAPINFO bi = Info(3, 2, 24);
    // pitch = 12: row 0 of the DIB is the bottom row of the bitmap
    std::vector<BYTE> bits(24, 0xEE);
    HDC screen = GetDC(nullptr);
    ASSERT_EQ(2, GetDIBits(screen, s.bmp, 0, 2, bits.data(), &bi, DIB_RGB_COLORS));
    ReleaseDC(nullptr, screen);
    const std::vector<BYTE> expected = {9, 8, 7, 0, 0, 0, 0, 0, 0, 0xEE, 0xEE, 0xEE,
                                        3, 2, 1, 0, 0, 0, 6, 5, 4, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(expected, bits);
    s.old = SelectObject(s.dc, s.bmp);
}

TEST(Gdi, DibDepthsDrawTheSameColours)
{
    // One 2 x 1 image, red then blue, in every depth the transfers take.
    struct Row {
        int bpp;
        DWORD compression;
        std::vector<BYTE> bits;
        std::vector<RGBQUAD> colors;  // palette or masks
    } rows[] = {
        {1, BI_RGB, {0x40, 0, 0, 0}, {{0, 0, 255, 0}, {255, 0, 0, 0}}},
        {4, BI_RGB, {0x01, 0, 0, 0}, {{0, 0, 255, 0}, {255, 0, 0, 0}}},
        {8, BI_RGB, {5, 6, 0, 0}, {}},
        {16, BI_RGB, {0x00, 0x7C, 0x1F, 0x00}, {}},
        {16, BI_BITFIELDS, {0x00, 0xF8, 0x1F, 0x00}, {}},
        {24, BI_RGB, {0, 0, 255, 255, 0, 0, 0, 0}, {}},
        {32, BI_RGB, {0, 0, 255, 0, 255, 0, 0, 0}, {}},
    };
    for (auto& r : rows) {
        SCOPED_TRACE(r.bpp * 10 + (int)r.compression);
        std::vector<BYTE> block(sizeof(BITMAPINFOHEADER) + 256 * 4, 0);
        auto* bi = reinterpret_cast<BITMAPINFO*>(block.data());
        bi->bmiHeader = Info(2, 1, r.bpp).bmiHeader;
        bi->bmiHeader.biCompression = r.compression;
        if (r.bpp == 8) {
            bi->bmiColors[5] = {0, 0, 255, 0};
            bi->bmiColors[6] = {255, 0, 0, 0};
        }
        for (size_t i = 0; i < r.colors.size(); ++i)
            bi->bmiColors[i] = r.colors[i];
        if (r.compression == BI_BITFIELDS) {  // 5-6-5
            DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
            memcpy(bi->bmiColors, masks, sizeof masks);
        }
        MemSurface s(2, 1);
        ASSERT_EQ(1, SetDIBitsToDevice(s.dc, 0, 0, 2, 1, 0, 0, 0, 1, r.bits.data(), bi, DIB_RGB_COLORS));
        EXPECT_EQ(RGB(255, 0, 0), GetPixel(s.dc, 0, 0));
        EXPECT_EQ(RGB(0, 0, 255), GetPixel(s.dc, 1, 0));
        // And back: the DIB written by GetDIBits decodes to the same pixels.
        SelectObject(s.dc, s.old);
        std::vector<BYTE> out(r.bits.size(), 0);
        ASSERT_EQ(1, GetDIBits(s.dc, s.bmp, 0, 1, out.data(), bi, DIB_RGB_COLORS));
        EXPECT_EQ(r.bits, out);
        s.old = SelectObject(s.dc, s.bmp);
    }
}

// A 1 x 4 bottom-up 8-bit DIB whose rows, from the top, are grey levels 10, 20, 30, 40.
struct GreyColumn {
    std::vector<BYTE> block = std::vector<BYTE>(sizeof(BITMAPINFOHEADER) + 256 * 4);
    BYTE bits[16] = {40, 0, 0, 0, 30, 0, 0, 0, 20, 0, 0, 0, 10, 0, 0, 0};
    GreyColumn()
    {
        auto* bi = Bi();
        bi->bmiHeader = Info(1, 4, 8).bmiHeader;
        for (int i = 0; i < 256; ++i)
            bi->bmiColors[i] = {(BYTE)i, (BYTE)i, (BYTE)i, 0};
    }
    BITMAPINFO* Bi() { return reinterpret_cast<BITMAPINFO*>(block.data()); }
};

int Grey(HDC dc, int x, int y) { return GetRValue(GetPixel(dc, x, y)); }

TEST(Gdi, StretchDIBitsTakesTheSourceRectangleFromTheBottom)
{
    GreyColumn g;
    MemSurface s(2, 4);
    // Source rows 1..2 from the top are scan lines 1..2 from the bottom: ySrc = 4 - 3 = 1.
    ASSERT_EQ(4, StretchDIBits(s.dc, 0, 0, 2, 4, 0, 1, 1, 2, g.bits, g.Bi(), DIB_RGB_COLORS, SRCCOPY));
    const int expected[4] = {20, 20, 30, 30};
    for (int y = 0; y < 4; ++y) {
        SCOPED_TRACE(y);
        EXPECT_EQ(expected[y], Grey(s.dc, 0, y));
        EXPECT_EQ(expected[y], Grey(s.dc, 1, y));
    }
    // Negative height mirrors.
    MemSurface m(1, 4);
    StretchDIBits(m.dc, 0, 4, 1, -4, 0, 0, 1, 4, g.bits, g.Bi(), DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(10, Grey(m.dc, 0, 3));
    EXPECT_EQ(40, Grey(m.dc, 0, 0));
}

TEST(Gdi, SetDIBitsToDeviceBandsAndClipping)
{
    GreyColumn g;
    MemSurface s(1, 4);
    RECT all = {0, 0, 1, 4};
    FillRect(s.dc, &all, (HBRUSH)GetStockObject(BLACK_BRUSH));
    // Only scan lines 2..3 (the top two rows) are in the buffer.
    ASSERT_EQ(2, SetDIBitsToDevice(s.dc, 0, 0, 1, 4, 0, 0, 2, 2, g.bits + 8, g.Bi(), DIB_RGB_COLORS));
    EXPECT_EQ(10, Grey(s.dc, 0, 0));
    EXPECT_EQ(20, Grey(s.dc, 0, 1));
    EXPECT_EQ(0, Grey(s.dc, 0, 2));
    // Drawing partly outside the surface touches only what is inside.
    SetDIBitsToDevice(s.dc, 0, -2, 1, 4, 0, 0, 0, 4, g.bits, g.Bi(), DIB_RGB_COLORS);
    EXPECT_EQ(30, Grey(s.dc, 0, 0));
    EXPECT_EQ(40, Grey(s.dc, 0, 1));
    // Refused headers draw nothing.
    BITMAPINFO bad = Info(1, 4, 7);
    EXPECT_EQ(0, SetDIBitsToDevice(s.dc, 0, 0, 1, 4, 0, 0, 0, 4, g.bits, &bad, DIB_RGB_COLORS));
    EXPECT_EQ(30, Grey(s.dc, 0, 0));
}

// The conversion of surface pixels into DIB rows as GetDIBits has always done it, one pixel
// at a time with the formulas written out: the whole-row conversion must give the same bytes.
struct ReferenceDib {
    int bpp;
    uint32_t masks[3];
    std::vector<RGBQUAD> colors;

    static uint32_t Reduce(uint32_t c8, uint32_t mask)
    {
        if (!mask)
            return 0;
        int shift = 0;
        while (!((mask >> shift) & 1))
            ++shift;
        const uint64_t max = mask >> shift;
        return (uint32_t)((c8 * max + 127) / 255) << shift;
    }
    unsigned Nearest(uint32_t px) const
    {
        int r = (px >> 16) & 0xff, g = (px >> 8) & 0xff, b = px & 0xff;
        unsigned best = 0;
        int bestDist = INT32_MAX;
        for (size_t i = 0; i < colors.size(); ++i) {
            int dr = colors[i].rgbRed - r, dg = colors[i].rgbGreen - g, db = colors[i].rgbBlue - b;
            if (dr * dr + dg * dg + db * db < bestDist) {
                bestDist = dr * dr + dg * dg + db * db;
                best = (unsigned)i;
            }
        }
        return best;
    }
    void Row(const uint32_t* in, int n, BYTE* row) const
    {
        for (int x = 0; x < n; ++x) {
            const uint32_t px = in[x];
            const uint32_t v = Reduce((px >> 16) & 0xff, masks[0]) | Reduce((px >> 8) & 0xff, masks[1]) |
                               Reduce(px & 0xff, masks[2]);
            switch (bpp) {
            case 1: {
                const BYTE bit = (BYTE)(0x80 >> (x & 7));
                row[x >> 3] = Nearest(px) ? (BYTE)(row[x >> 3] | bit) : (BYTE)(row[x >> 3] & ~bit);
                break;
            }
            case 4: {
                BYTE& byte = row[x >> 1];
                byte = (x & 1) ? (BYTE)((byte & 0xF0) | Nearest(px)) : (BYTE)((byte & 0x0F) | (Nearest(px) << 4));
                break;
            }
            case 8: row[x] = (BYTE)Nearest(px); break;
            case 16: row[2 * x] = (BYTE)v, row[2 * x + 1] = (BYTE)(v >> 8); break;
            case 24: row[3 * x] = (BYTE)px, row[3 * x + 1] = (BYTE)(px >> 8), row[3 * x + 2] = (BYTE)(px >> 16); break;
            case 32:
                for (int i = 0; i < 4; ++i)
                    row[4 * x + i] = (BYTE)(v >> (8 * i));
                break;
            }
        }
    }
};

TEST(Gdi, GetDIBitsGivesTheBytesOfThePixelByPixelConversionForEveryDepth)
{
    // A surface of short runs of colours (the indexed depths look each run up once) and
    // single odd pixels, read into DIBs of odd and even widths, wider and narrower than it.
    const int kSurfaceWidth = 53, kHeight = 5;
    std::vector<uint32_t> px((size_t)kSurfaceWidth * kHeight);
    uint32_t seed = 12345;
    for (size_t i = 0; i < px.size(); ++i) {
        if (i % 3 == 0)
            seed = seed * 1103515245u + 12345u;
        px[i] = (i % 7 == 0 ? seed >> 3 : seed) & 0x00FFFFFF;
    }
    MemSurface s(kSurfaceWidth, kHeight);
    BITMAPINFO top = Info(kSurfaceWidth, -kHeight, 32);
    ASSERT_EQ(kHeight, SetDIBitsToDevice(s.dc, 0, 0, kSurfaceWidth, kHeight, 0, 0, 0, kHeight, px.data(), &top,
                                         DIB_RGB_COLORS));
    SelectObject(s.dc, s.old);

    std::vector<RGBQUAD> two = {{0, 0, 0, 0}, {255, 255, 255, 0}}, sixteen, grey, fewer;
    for (int i = 0; i < 16; ++i)
        sixteen.push_back({(BYTE)(i * 17), (BYTE)(255 - i * 13), (BYTE)(i * 5), 0});
    for (int i = 0; i < 256; ++i)
        grey.push_back({(BYTE)i, (BYTE)(i ^ 0x55), (BYTE)(255 - i), 0});
    for (int i = 0; i < 40; ++i)
        fewer.push_back({(BYTE)(i * 6), (BYTE)(i * 3), (BYTE)(250 - i * 6), 0});
    struct Case {
        int bpp;
        DWORD compression;
        uint32_t masks[3];  // bit fields; for BI_RGB the depth's defaults
        std::vector<RGBQUAD> colors;
    } cases[] = {
        {1, BI_RGB, {}, two},
        {4, BI_RGB, {}, sixteen},
        {8, BI_RGB, {}, grey},
        {8, BI_RGB, {}, fewer},  // biClrUsed below the full table
        {16, BI_RGB, {0x7C00, 0x03E0, 0x001F}, {}},
        {16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}, {}},
        {16, BI_BITFIELDS, {0x000F, 0x00F0, 0x0F00}, {}},
        {16, BI_BITFIELDS, {0x0003, 0x0000, 0xFFFC}, {}},  // a channel without bits
        {24, BI_RGB, {}, {}},
        {32, BI_RGB, {0xFF0000, 0xFF00, 0xFF}, {}},
        {32, BI_BITFIELDS, {0xFF0000, 0xFF00, 0xFF}, {}},
        {32, BI_BITFIELDS, {0x3FF00000, 0x000FFC00, 0x000003FF}, {}},
        {32, BI_BITFIELDS, {0x000000FF, 0x0000FF00, 0x00FF0000}, {}},
        {32, BI_BITFIELDS, {0xFF000000, 0x00000001, 0x00000000}, {}},
    };
    const int widths[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 47, 53, 60};
    for (const Case& c : cases) {
        for (int w : widths) {
            for (bool topDown : {false, true}) {
                // Scans 1..3 of 5 only, so rows outside the range stay untouched too.
                const UINT start = 1, lines = 3;
                char what[96];
                snprintf(what, sizeof what, "bpp %d compression %u masks %x/%x/%x colours %zu width %d %s", c.bpp,
                         (unsigned)c.compression, c.masks[0], c.masks[1], c.masks[2], c.colors.size(), w,
                         topDown ? "top-down" : "bottom-up");
                SCOPED_TRACE(what);
                std::vector<BYTE> block(sizeof(BITMAPINFOHEADER) + 256 * 4, 0);
                auto* bi = reinterpret_cast<BITMAPINFO*>(block.data());
                bi->bmiHeader = Info(w, topDown ? -kHeight : kHeight, c.bpp).bmiHeader;
                bi->bmiHeader.biCompression = c.compression;
                if (c.bpp <= 8) {
                    bi->bmiHeader.biClrUsed = c.colors.size() < (1u << c.bpp) ? (DWORD)c.colors.size() : 0;
                    memcpy(bi->bmiColors, c.colors.data(), c.colors.size() * 4);
                } else if (c.compression == BI_BITFIELDS) {
                    memcpy(bi->bmiColors, c.masks, sizeof c.masks);
                }
                const size_t pitch = ((size_t)c.bpp * w + 31) / 32 * 4;
                // Sentinel bytes everywhere, and after the block.
                std::vector<BYTE> got(pitch * lines + 16, 0xEE), want = got;
                ASSERT_EQ((int)lines, GetDIBits(s.dc, s.bmp, start, lines, got.data(), bi, DIB_RGB_COLORS));

                ReferenceDib ref{c.bpp, {c.masks[0], c.masks[1], c.masks[2]}, c.colors};
                const int n = std::min(w, kSurfaceWidth);
                for (UINT line = start; line < start + lines; ++line) {
                    const int y = topDown ? (int)line : kHeight - 1 - (int)line;
                    ref.Row(px.data() + (size_t)y * kSurfaceWidth, n, want.data() + (line - start) * pitch);
                }
                for (size_t i = 0; i < got.size(); ++i)
                    ASSERT_EQ(want[i], got[i]) << "byte " << i << " (row " << i / pitch << ", offset " << i % pitch << ")";
            }
        }
    }
    s.old = SelectObject(s.dc, s.bmp);
}

}  // namespace
