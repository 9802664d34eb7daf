#include <windows.h>

#include <gtest/gtest.h>

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

}  // namespace
