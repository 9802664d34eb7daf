#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ObjImage.h"

namespace {

// Fills every byte of the pixel block with a pattern that differs per row and column.
void FillPattern(FCObjImage& img)
{
    for (int y = 0; y < img.Height(); ++y)
        for (int x = 0; x < img.GetPitch(); ++x)
            img.PixelAddress(0, y)[x] = (BYTE)(y * 31 + x * 7 + 1);
}

TEST(ObjImageCreate, RefusesBadSizesAndDepthsAndLeavesTheImageAsItWas)
{
    FCObjImage img;
    ASSERT_TRUE(img.Create(4, 3, 24));
    BYTE* before = img.GetMemStart();
    struct {
        int w, h, bpp;
    } rows[] = {{0, 10, 24}, {10, 0, 24}, {10, 10, 2}, {-1, 10, 8}, {10, -5, 8}, {10, 10, 0}, {10, 10, 48},
                // pitch x height beyond 32 bits
                {0x7FFFFFFF, 1, 32}, {65536, 65536, 32}, {40000, 20000, 24}};
    for (auto& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.w << "x" << r.h << "x" << r.bpp);
        EXPECT_FALSE(img.Create(r.w, r.h, (WORD)r.bpp));
        EXPECT_EQ(4, img.Width());
        EXPECT_EQ(3, img.Height());
        EXPECT_EQ(before, img.GetMemStart());
    }
}

TEST(ObjImageCreate, HeaderPitchRowsAndZeroFill)
{
    FCObjImage img;
    ASSERT_TRUE(img.Create(3, 2, 24));
    const BITMAPINFOHEADER& h = img.GetInfoHeader();
    EXPECT_EQ(40u, h.biSize);
    EXPECT_EQ(1, h.biPlanes);
    EXPECT_EQ(0u, h.biSizeImage);
    EXPECT_EQ(12, img.GetPitch());
    // Bottom-up: the top row is the last one of the block.
    EXPECT_EQ(img.GetMemStart() + 12, img.PixelAddress(0, 0));
    EXPECT_EQ(img.GetMemStart(), img.PixelAddress(0, 1));
    EXPECT_EQ(img.GetMemStart() + 12 + 6, img.PixelAddress(2, 0));
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(0, img.GetMemStart()[i]);

    struct {
        int w, bpp, pitch;
    } pitches[] = {{1, 1, 4}, {33, 1, 8}, {7, 4, 4}, {9, 4, 8}, {5, 8, 8}, {3, 16, 8}, {1, 24, 4}, {5, 32, 20}};
    for (auto& p : pitches) {
        SCOPED_TRACE(::testing::Message() << p.w << " px at " << p.bpp);
        FCObjImage t;
        ASSERT_TRUE(t.Create(p.w, 1, (WORD)p.bpp));
        EXPECT_EQ(p.pitch, t.GetPitch());
    }
    FCObjImage four;
    ASSERT_TRUE(four.Create(8, 1, 4));
    EXPECT_EQ(four.PixelAddress(0, 0) + 2, four.PixelAddress(5, 0));  // the byte holding the pixel
}

TEST(ObjImageCreate, SixteenBitMasksAndBitFieldHeaders)
{
    FCObjImage img;
    ASSERT_TRUE(img.Create(2, 2, 16));
    EXPECT_EQ((DWORD)BI_RGB, img.GetInfoHeader().biCompression);
    EXPECT_EQ(0x7C00u, img.GetMask(0));
    EXPECT_EQ(0x03E0u, img.GetMask(1));
    EXPECT_EQ(0x001Fu, img.GetMask(2));

    struct {
        BITMAPINFOHEADER h;
        DWORD masks[3];
    } info = {};
    info.h.biSize = 40;
    info.h.biWidth = 2;
    info.h.biHeight = 2;
    info.h.biBitCount = 16;
    info.h.biCompression = BI_BITFIELDS;
    info.h.biXPelsPerMeter = 3780;
    info.h.biYPelsPerMeter = 2835;
    info.h.biClrUsed = 7;
    info.masks[0] = 0xF800;
    info.masks[1] = 0x07E0;
    info.masks[2] = 0x001F;
    ASSERT_TRUE(img.CreateFromInfo(&info.h));
    EXPECT_EQ((DWORD)BI_BITFIELDS, img.GetInfoHeader().biCompression);
    EXPECT_EQ(0xF800u, img.GetMask(0));
    EXPECT_EQ(0x07E0u, img.GetMask(1));
    EXPECT_EQ(3780, img.GetInfoHeader().biXPelsPerMeter);
    EXPECT_EQ(2835, img.GetInfoHeader().biYPelsPerMeter);
    EXPECT_EQ(0u, img.GetInfoHeader().biClrUsed);

    // Bit fields at 32 bits mean plain 32-bit.
    info.h.biBitCount = 32;
    ASSERT_TRUE(img.CreateFromInfo(&info.h));
    EXPECT_EQ((DWORD)BI_RGB, img.GetInfoHeader().biCompression);
    EXPECT_EQ(0u, img.GetMask(0));

    // Top-down, compressed and null headers are refused.
    info.h.biHeight = -2;
    EXPECT_FALSE(img.CreateFromInfo(&info.h));
    info.h.biHeight = 2;
    info.h.biCompression = BI_RLE8;
    EXPECT_FALSE(img.CreateFromInfo(&info.h));
    EXPECT_FALSE(img.CreateFromInfo(nullptr));
    EXPECT_EQ(32, img.ColorBits());
}

TEST(ObjImagePalette, GreyRampsAndCopyRules)
{
    struct {
        int bpp;
        std::vector<int> levels;
    } rows[] = {{1, {0, 255}}, {4, {0, 17, 34, 51, 68, 85, 102, 119, 136, 153, 170, 187, 204, 221, 238, 255}}};
    for (auto& r : rows) {
        SCOPED_TRACE(r.bpp);
        FCObjImage img;
        ASSERT_TRUE(img.Create(2, 2, (WORD)r.bpp));
        ASSERT_EQ((int)r.levels.size(), img.PaletteSize());
        for (size_t i = 0; i < r.levels.size(); ++i) {
            const RGBQUAD& q = img.GetPaletteEntries()[i];
            EXPECT_EQ(r.levels[i], q.rgbRed);
            EXPECT_EQ(r.levels[i], q.rgbGreen);
            EXPECT_EQ(r.levels[i], q.rgbBlue);
            EXPECT_EQ(0, q.rgbReserved);
        }
    }
    FCObjImage eight;
    ASSERT_TRUE(eight.Create(1, 1, 8));
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(i, eight.GetPaletteEntries()[i].rgbGreen);

    // Get/Set touch only existing entries; the rest of the caller's buffer stays untouched.
    RGBQUAD pal[300];
    for (auto& q : pal)
        memcpy(&q, "\xef\xbe\xad\xde", 4);
    FCObjImage two;
    ASSERT_TRUE(two.Create(1, 1, 1));
    EXPECT_TRUE(two.GetPalette(pal, 300));
    DWORD sentinel;
    memcpy(&sentinel, &pal[2], 4);
    EXPECT_EQ(0xdeadbeefu, sentinel);
    EXPECT_FALSE(two.GetPalette(nullptr, 2));
    FCObjImage rgb;
    ASSERT_TRUE(rgb.Create(1, 1, 24));
    EXPECT_FALSE(rgb.GetPalette(pal, 2));
    EXPECT_FALSE(rgb.SetPalette(pal, 2));
    FCObjImage empty;
    EXPECT_FALSE(empty.SetPalette(pal, 2));

    // CopyPaletteFrom needs the same depth.
    RGBQUAD red = {0, 0, 255, 9};
    ASSERT_TRUE(eight.SetPalette(&red, 1));
    FCObjImage other8, other4;
    ASSERT_TRUE(other8.Create(1, 1, 8));
    ASSERT_TRUE(other4.Create(1, 1, 4));
    other8.CopyPaletteFrom(eight);
    other4.CopyPaletteFrom(eight);
    EXPECT_EQ(255, other8.GetPaletteEntries()[0].rgbRed);
    EXPECT_EQ(9, other8.GetPaletteEntries()[0].rgbReserved);
    EXPECT_EQ(0, other4.GetPaletteEntries()[0].rgbRed);
}

TEST(ObjImage, MakeOpaqueSetsOnlyTheFourthByteOfThirtyTwoBitPixels)
{
    FCObjImage img;
    ASSERT_TRUE(img.Create(3, 2, 32));
    FillPattern(img);
    std::vector<BYTE> before(img.GetMemStart(), img.GetMemStart() + 24);
    img.MakeOpaque();
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(i % 4 == 3 ? 255 : before[i], img.GetMemStart()[i]) << i;
    FCObjImage rgb;
    ASSERT_TRUE(rgb.Create(4, 1, 24));
    rgb.MakeOpaque();
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(0, rgb.GetMemStart()[i]);
}

TEST(ObjImageCopy, CopiesPixelsPaletteMasksPositionAndIgnoresEmptySources)
{
    FCObjImage src;
    ASSERT_TRUE(src.Create(5, 3, 8));
    FillPattern(src);
    RGBQUAD q = {1, 2, 3, 4};
    src.SetPalette(&q, 1);
    src.m_nPosX = 7;
    src.m_nPosY = -2;
    FCObjImage copy(src);
    ASSERT_TRUE(copy.IsValid());
    EXPECT_EQ(0, memcmp(src.GetMemStart(), copy.GetMemStart(), (size_t)src.GetPitch() * 3));
    EXPECT_EQ(3, copy.GetPaletteEntries()[0].rgbRed);
    EXPECT_EQ(4, copy.GetPaletteEntries()[0].rgbReserved);
    EXPECT_EQ(7, copy.m_nPosX);
    EXPECT_EQ(-2, copy.m_nPosY);
    EXPECT_NE(src.GetMemStart(), copy.GetMemStart());

    FCObjImage empty;
    copy.CopyFrom(empty);
    EXPECT_TRUE(copy.IsValid());
    EXPECT_EQ(5, copy.Width());
    copy.CopyFrom(copy);
    EXPECT_TRUE(copy.IsValid());
}

TEST(ObjImageSubBlock, ClipsToTheImageAndCarriesPaletteAndPosition)
{
    FCObjImage img;
    ASSERT_TRUE(img.Create(10, 10, 24));
    FillPattern(img);
    FCObjImage block;
    ASSERT_TRUE(img.GetSubBlock(&block, -5, -5, 2, 3));
    EXPECT_EQ(2, block.Width());
    EXPECT_EQ(3, block.Height());
    EXPECT_EQ(0, block.m_nPosX);
    EXPECT_EQ(0, block.m_nPosY);
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(0, memcmp(img.PixelAddress(0, y), block.PixelAddress(0, y), 6)) << y;

    ASSERT_TRUE(img.GetSubBlock(&block, 4, 6, 7, 8));
    EXPECT_EQ(4, block.m_nPosX);
    EXPECT_EQ(6, block.m_nPosY);
    EXPECT_EQ(0, memcmp(img.PixelAddress(4, 7), block.PixelAddress(0, 1), 9));

    EXPECT_FALSE(img.GetSubBlock(&block, 20, 20, 30, 30));
    EXPECT_EQ(3, block.Width());  // unchanged by the refusal
    EXPECT_FALSE(img.GetSubBlock(&img, 0, 0, 2, 2));
    EXPECT_FALSE(img.GetSubBlock(nullptr, 0, 0, 2, 2));

    FCObjImage four;
    ASSERT_TRUE(four.Create(8, 8, 4));
    EXPECT_FALSE(four.GetSubBlock(&block, 0, 0, 2, 2));

    FCObjImage pal8;
    ASSERT_TRUE(pal8.Create(4, 4, 8));
    RGBQUAD q = {9, 8, 7, 6};
    pal8.SetPalette(&q, 1);
    ASSERT_TRUE(pal8.GetSubBlock(&block, 1, 1, 3, 3));
    EXPECT_EQ(7, block.GetPaletteEntries()[0].rgbRed);
}

// Source column of each destination pixel of a one-row 8-bit image whose pixel x holds x.
std::vector<int> StretchRow(int from, int to)
{
    FCObjImage img;
    EXPECT_TRUE(img.Create(from, 1, 8));
    for (int x = 0; x < from; ++x)
        *img.PixelAddress(x, 0) = (BYTE)x;
    img.Stretch(to, 1);
    std::vector<int> cols;
    for (int x = 0; x < img.Width(); ++x)
        cols.push_back(*img.PixelAddress(x, 0));
    return cols;
}

TEST(ObjImageStretch, NearestNeighbourColumnsAndRows)
{
    EXPECT_EQ((std::vector<int>{0, 0, 1, 1, 2, 2, 3, 3}), StretchRow(4, 8));
    EXPECT_EQ((std::vector<int>{0, 2, 5}), StretchRow(8, 3));
    EXPECT_EQ((std::vector<int>{0}), StretchRow(5, 1));

    FCObjImage img;
    ASSERT_TRUE(img.Create(2, 2, 24));
    memcpy(img.PixelAddress(0, 0), "\x01\x02\x03\x04\x05\x06", 6);
    memcpy(img.PixelAddress(0, 1), "\x11\x12\x13\x14\x15\x16", 6);
    img.m_nPosX = 3;
    img.Stretch(4, 4);
    ASSERT_EQ(4, img.Width());
    EXPECT_EQ(0, memcmp(img.PixelAddress(0, 1), "\x01\x02\x03\x01\x02\x03\x04\x05\x06\x04\x05\x06", 12));
    EXPECT_EQ(0, memcmp(img.PixelAddress(0, 2), "\x11\x12\x13\x11\x12\x13\x14\x15\x16\x14\x15\x16", 12));
    EXPECT_EQ(3, img.m_nPosX);

    FCObjImage wide;
    ASSERT_TRUE(wide.Create(3, 1, 32));
    memcpy(wide.PixelAddress(0, 0), "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c", 12);
    wide.Stretch(2, 1);
    EXPECT_EQ(0, memcmp(wide.PixelAddress(0, 0), "\x01\x02\x03\x04\x05\x06\x07\x08", 8));
}

TEST(ObjImageStretch, DoesNothingForLowDepthsBadSizesOrTheSameSize)
{
    struct {
        int bpp, w, h;
    } rows[] = {{4, 8, 8}, {1, 8, 8}, {24, 0, 5}, {24, 5, -1}, {24, 4, 4}};
    for (auto& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.bpp << " " << r.w << "x" << r.h);
        FCObjImage img;
        ASSERT_TRUE(img.Create(4, 4, (WORD)r.bpp));
        BYTE* before = img.GetMemStart();
        img.Stretch(r.w, r.h);
        EXPECT_EQ(4, img.Width());
        EXPECT_EQ(before, img.GetMemStart());
    }
    // Same size keeps even the 5-6-5 masks.
    struct {
        BITMAPINFOHEADER h;
        DWORD masks[3];
    } info = {{40, 4, 4, 1, 16, BI_BITFIELDS, 0, 0, 0, 0, 0}, {0xF800, 0x07E0, 0x001F}};
    FCObjImage img;
    ASSERT_TRUE(img.CreateFromInfo(&info.h));
    img.Stretch(4, 4);
    EXPECT_EQ(0xF800u, img.GetMask(0));
    img.Stretch(2, 2);
    EXPECT_EQ(0x7C00u, img.GetMask(0));
}

TEST(ObjImageTransfer, StoreThenLoadReproducesPixelsAndPosition)
{
    struct {
        int bpp;
    } rows[] = {{8}, {16}, {24}, {32}};
    for (auto& r : rows) {
        SCOPED_TRACE(r.bpp);
        FCObjImage img;
        ASSERT_TRUE(img.Create(5, 3, (WORD)r.bpp));
        FillPattern(img);
        RGBQUAD q = {1, 2, 3, 0};
        img.SetPalette(&q, 1);
        img.m_nPosX = 11;
        img.m_nPosY = -4;
        const int n = 60 + img.GetPitch() * 3;
        std::vector<BYTE> buf((size_t)n + 4, 0xAB);
        EXPECT_EQ(n, img.Transfer(true, buf.data()));
        EXPECT_EQ(0xAB, buf[(size_t)n]);  // nothing written past the form
        FCObjImage back;
        EXPECT_EQ(n, back.Transfer(false, buf.data()));
        ASSERT_TRUE(back.IsValid());
        EXPECT_EQ(0, memcmp(img.GetMemStart(), back.GetMemStart(), (size_t)img.GetPitch() * 3));
        EXPECT_EQ(11, back.m_nPosX);
        EXPECT_EQ(-4, back.m_nPosY);
        if (r.bpp == 8) {
            EXPECT_EQ(0, back.GetPaletteEntries()[0].rgbRed);
        }  // the grey palette, not the custom one
    }
}

TEST(ObjImageTransfer, LoadingARefusedHeaderWritesNothing)
{
    std::vector<BYTE> buf(200, 0);
    BITMAPINFOHEADER h = {40, 4, -4, 1, 24, 0, 0, 0, 0, 0, 0};  // top-down: refused
    memcpy(buf.data(), &h, sizeof(h));
    FCObjImage img;
    ASSERT_TRUE(img.Create(2, 2, 8));
    img.m_nPosX = 5;
    EXPECT_EQ(0, img.Transfer(false, buf.data()));
    EXPECT_EQ(2, img.Width());
    EXPECT_EQ(5, img.m_nPosX);
    FCObjImage empty;
    EXPECT_EQ(0, empty.Transfer(false, buf.data()));
    EXPECT_FALSE(empty.IsValid());
    EXPECT_EQ(0, empty.Transfer(true, buf.data()));
    FCObject base;
    EXPECT_EQ(0, base.Transfer(true, buf.data()));
}

TEST(ObjImage, NewBitmapInfoCarriesHeaderAndPaletteOrMasks)
{
    FCObjImage img;
    ASSERT_TRUE(img.Create(3, 3, 4));
    RGBQUAD q = {5, 6, 7, 8};
    img.SetPalette(&q, 1);
    BITMAPINFO* p = img.NewBitmapInfo();
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(0, memcmp(p, &img.GetInfoHeader(), 40));
    EXPECT_EQ(0, memcmp(reinterpret_cast<BYTE*>(p) + 40, img.GetPaletteEntries(), 64));
    free(p);
    ASSERT_TRUE(img.Create(3, 3, 16));
    p = img.NewBitmapInfo();
    DWORD masks[3];
    memcpy(masks, reinterpret_cast<BYTE*>(p) + 40, 12);
    EXPECT_EQ(0x7C00u, masks[0]);
    EXPECT_EQ(0x001Fu, masks[2]);
    free(p);
    img.Clear();
    EXPECT_EQ(nullptr, img.NewBitmapInfo());
    EXPECT_EQ(0, img.Width());
}

}  // namespace
