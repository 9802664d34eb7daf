#include <gtest/gtest.h>

#include <gdiplusflat.h>
#include <objbase.h>
#include <windows.h>

#include <png.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "TempDir.h"
#include "../TestImages.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;
using namespace testimages;

namespace {

std::u16string Wide(const std::string& s)
{
    std::u16string w((size_t)s.size() + 1, u'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, &w[0], (int)w.size());
    w.resize(n > 0 ? (size_t)n - 1 : 0);
    return w;
}

class Gdip : public ::testing::Test {
protected:
    void SetUp() override
    {
        GdiplusStartupInput in = {1, nullptr, FALSE, FALSE};
        ASSERT_EQ(Ok, GdiplusStartup(&token, &in, nullptr));
    }
    void TearDown() override { GdiplusShutdown(token); }

    // Decodes bytes through a file, as GdipCreateBitmapFromFile sees them.
    GpBitmap* Load(const std::string& bytes, Status expect = Ok)
    {
        const std::string path = dir.Write("in.bin", bytes);
        GpBitmap* bmp = reinterpret_cast<GpBitmap*>(0xdeadbeef);
        EXPECT_EQ(expect, GdipCreateBitmapFromFile(reinterpret_cast<const WCHAR*>(Wide(path).c_str()), &bmp));
        if (expect != Ok) {
            EXPECT_EQ(nullptr, bmp);
        }
        return expect == Ok ? bmp : nullptr;
    }
    static PixelFormat FormatOf(GpBitmap* b)
    {
        PixelFormat f = 0;
        GdipGetImagePixelFormat(b, &f);
        return f;
    }
    static std::vector<ARGB> PaletteOf(GpBitmap* b)
    {
        INT size = 0;
        GdipGetImagePaletteSize(b, &size);
        std::vector<BYTE> block((size_t)size);
        auto* pal = reinterpret_cast<ColorPalette*>(block.data());
        if (GdipGetImagePalette(b, pal, size) != Ok)
            return {};
        return std::vector<ARGB>(pal->Entries, pal->Entries + pal->Count);
    }
    // Row y of a read lock in the bitmap's own format.
    static std::string LockedRow(GpBitmap* b, int y, int bytes)
    {
        UINT w = 0, h = 0;
        GdipGetImageWidth(b, &w);
        GdipGetImageHeight(b, &h);
        Rect rc = {0, 0, (INT)w, (INT)h};
        BitmapData d = {};
        if (GdipBitmapLockBits(b, &rc, ImageLockModeRead, FormatOf(b), &d) != Ok)
            return "<lock failed>";
        std::string row(static_cast<const char*>(d.Scan0) + (size_t)y * d.Stride, (size_t)bytes);
        GdipBitmapUnlockBits(b, &d);
        return row;
    }

    ULONG_PTR token = 0;
    TempDir dir;
};

TEST_F(Gdip, PngColourTypesGiveTheirPixelFormats)
{
    PngRecipe pal;
    pal.colorType = PNG_COLOR_TYPE_PALETTE;
    pal.palette = {{255, 0, 0}, {0, 0, 255}};
    pal.trans = {128};
    pal.rows = {{0, 1}, {1, 0}};
    PngRecipe pal4 = pal;
    pal4.depth = 4;
    pal4.rows = {{0x10}, {0x01}};
    PngRecipe pal1 = pal;
    pal1.depth = 1;
    pal1.rows = {{0x40}, {0x80}};
    PngRecipe pal2 = pal;
    pal2.depth = 2;
    pal2.rows = {{0x40}, {0x10}};
    PngRecipe grey;
    grey.colorType = PNG_COLOR_TYPE_GRAY;
    grey.rows = {{0, 200}, {7, 255}};
    PngRecipe grey1 = grey;
    grey1.depth = 1;
    grey1.rows = {{0x40}, {0x80}};
    PngRecipe rgb;
    rgb.rows = {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}};
    PngRecipe rgba;
    rgba.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    rgba.rows = {{1, 2, 3, 40, 5, 6, 7, 80}, {9, 10, 11, 120, 13, 14, 15, 160}};
    PngRecipe greyAlpha;
    greyAlpha.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
    greyAlpha.rows = {{50, 60, 70, 80}, {90, 100, 110, 120}};
    PngRecipe rgb16;
    rgb16.depth = 16;
    rgb16.rows = {std::vector<png_byte>(12, 1), std::vector<png_byte>(12, 2)};
    PngRecipe rgba16 = rgb16;
    rgba16.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    rgba16.rows = {std::vector<png_byte>(16, 1), std::vector<png_byte>(16, 2)};
    PngRecipe grey16 = grey;
    grey16.depth = 16;
    grey16.rows = {{1, 2, 3, 4}, {5, 6, 7, 8}};

    struct {
        const char* name;
        const PngRecipe& recipe;
        PixelFormat format;
        std::string firstRow;  // bytes of the top row as locked
    } rows[] = {
        {"palette 8", pal, PixelFormat8bppIndexed, std::string("\x00\x01", 2)},
        {"palette 4", pal4, PixelFormat4bppIndexed, std::string("\x10", 1)},
        {"palette 2 widened", pal2, PixelFormat8bppIndexed, std::string("\x01\x00", 2)},
        {"palette 1", pal1, PixelFormat1bppIndexed, std::string("\x40", 1)},
        {"grey 8", grey, PixelFormat8bppIndexed, std::string("\x00\xc8", 2)},
        {"grey 1", grey1, PixelFormat1bppIndexed, std::string("\x40", 1)},
        {"rgb", rgb, PixelFormat24bppRGB, std::string("\x03\x02\x01\x06\x05\x04", 6)},
        {"rgba", rgba, PixelFormat32bppARGB, std::string("\x03\x02\x01\x28\x07\x06\x05\x50", 8)},
        {"grey alpha", greyAlpha, PixelFormat32bppARGB, std::string("\x32\x32\x32\x3c\x46\x46\x46\x50", 8)},
        {"rgb 16", rgb16, PixelFormat48bppRGB, std::string(12, '\x01')},
        {"rgba 16", rgba16, PixelFormat64bppARGB, std::string(16, '\x01')},
        {"grey 16", grey16, PixelFormat48bppRGB, std::string("\x02\x01\x02\x01\x02\x01\x04\x03\x04\x03\x04\x03", 12)},
    };
    for (auto& r : rows) {
        SCOPED_TRACE(r.name);
        GpBitmap* b = Load(MakePng(r.recipe));
        ASSERT_NE(nullptr, b);
        UINT w = 0, h = 0;
        GdipGetImageWidth(b, &w);
        GdipGetImageHeight(b, &h);
        EXPECT_EQ(2u, w);
        EXPECT_EQ(2u, h);
        EXPECT_EQ(r.format, FormatOf(b));
        EXPECT_EQ(r.firstRow, LockedRow(b, 0, (int)r.firstRow.size()));
        GdipDisposeImage(b);
    }
}

TEST_F(Gdip, PalettesCarryAlphaFromTransparency)
{
    PngRecipe pal;
    pal.colorType = PNG_COLOR_TYPE_PALETTE;
    pal.palette = {{255, 0, 0}, {0, 0, 255}, {1, 2, 3}};
    pal.trans = {128, 0};
    pal.rows = {{0, 1}, {1, 2}};
    GpBitmap* b = Load(MakePng(pal));
    ASSERT_NE(nullptr, b);
    EXPECT_EQ((std::vector<ARGB>{0x80FF0000u, 0x000000FFu, 0xFF010203u}), PaletteOf(b));
    GdipDisposeImage(b);

    PngRecipe grey;
    grey.colorType = PNG_COLOR_TYPE_GRAY;
    grey.depth = 4;
    grey.transGrey = 3;
    grey.rows = {{0x03}, {0x30}};
    b = Load(MakePng(grey));
    ASSERT_NE(nullptr, b);
    std::vector<ARGB> p = PaletteOf(b);
    ASSERT_EQ(16u, p.size());
    EXPECT_EQ(0xFF000000u, p[0]);
    EXPECT_EQ(0x00333333u, p[3]);
    EXPECT_EQ(0xFFFFFFFFu, p[15]);
    GdipDisposeImage(b);

    // GIF: the transparent index has alpha 0; the frame sits on the logical screen.
    std::vector<GifColorType> colors = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
    b = Load(MakeGif(2, 1, colors, {1, 2}, 0, 4, 3, 1, 1));
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(PixelFormat8bppIndexed, FormatOf(b));
    UINT w = 0;
    GdipGetImageWidth(b, &w);
    EXPECT_EQ(4u, w);
    p = PaletteOf(b);
    ASSERT_GE(p.size(), 3u);
    EXPECT_EQ(0x000A141Eu, p[0]);
    EXPECT_EQ(0xFF28323Cu, p[1]);
    EXPECT_EQ(std::string("\x00\x00\x00\x00", 4), LockedRow(b, 0, 4));
    EXPECT_EQ(std::string("\x00\x01\x02\x00", 4), LockedRow(b, 1, 4));
    GdipDisposeImage(b);
}

TEST_F(Gdip, BmpDepthsAndMasks)
{
    struct {
        const char* name;
        std::string bytes;
        PixelFormat format;
        std::string topRow;
    } rows[] = {
        {"565", MakeBmp(2, 1, 16, 3, {0xF800, 0x07E0, 0x001F}, std::string("\x1f\x00\x00\xf8", 4)),
         PixelFormat16bppRGB565, std::string("\x1f\x00\x00\xf8", 4)},
        {"555", MakeBmp(2, 1, 16, 0, {}, std::string("\x1f\x00\x00\x7c", 4)), PixelFormat16bppRGB555,
         std::string("\x1f\x00\x00\x7c", 4)},
        {"32 plain", MakeBmp(1, 2, 32, 0, {}, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)),
         PixelFormat32bppRGB, std::string("\x05\x06\x07\x08", 4)},
        {"24 top-down", MakeBmp(1, -2, 24, 0, {}, std::string("\x01\x02\x03\x00\x05\x06\x07\x00", 8)),
         PixelFormat24bppRGB, std::string("\x01\x02\x03", 3)},
        {"8 with palette", MakeBmp(2, 1, 8, 0, std::vector<uint32_t>(256, 0x123456), std::string("\x05\x06\0\0", 4)),
         PixelFormat8bppIndexed, std::string("\x05\x06", 2)},
    };
    for (auto& r : rows) {
        SCOPED_TRACE(r.name);
        GpBitmap* b = Load(r.bytes);
        ASSERT_NE(nullptr, b);
        EXPECT_EQ(r.format, FormatOf(b));
        EXPECT_EQ(r.topRow, LockedRow(b, 0, (int)r.topRow.size()));
        GdipDisposeImage(b);
    }
    Load(MakeBmp(2, 1, 16, 3, {0x0F00, 0x00F0, 0x000F}, std::string(4, '\0')), NotImplemented);
    Load(MakeBmp(2, 1, 8, 1, {}, std::string(4, '\0')), NotImplemented);  // run-length
}

TEST_F(Gdip, BadInputsAndMissingFiles)
{
    GpBitmap* b = reinterpret_cast<GpBitmap*>(0xdeadbeef);
    EXPECT_EQ(FileNotFound, GdipCreateBitmapFromFile(reinterpret_cast<const WCHAR*>(Wide(dir / "none.png").c_str()), &b));
    EXPECT_EQ(nullptr, b);
    EXPECT_EQ(InvalidParameter, GdipCreateBitmapFromFile(nullptr, &b));
    Load("definitely not a picture", UnknownImageFormat);
    Load("", UnknownImageFormat);
    std::string png = MakePng(PngRecipe{2, 2, 8, PNG_COLOR_TYPE_RGB, {}, {}, -1, {{1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}}});
    Load(png.substr(0, png.size() / 2), GenericError);
    std::string gif = MakeGif(2, 2, {{1, 1, 1}}, {0, 0, 0, 0});
    Load(gif.substr(0, 13), GenericError);  // signature and screen, no colour map
    Load(std::string("II*\0\x08\0\0\0", 8), GenericError);  // TIFF without a directory
    EXPECT_EQ(InvalidParameter, GdipDisposeImage(nullptr));
    UINT w;
    EXPECT_EQ(InvalidParameter, GdipGetImageWidth(nullptr, &w));
}

TEST_F(Gdip, LockingServesTheOwnFormatOnlyAndOneLockAtATime)
{
    GpBitmap* b = Load(MakePng(PngRecipe{2, 2, 8, PNG_COLOR_TYPE_RGB, {}, {}, -1, {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}}}));
    ASSERT_NE(nullptr, b);
    Rect all = {0, 0, 2, 2};
    BitmapData d = {};
    EXPECT_EQ(NotImplemented, GdipBitmapLockBits(b, &all, ImageLockModeRead, PixelFormat32bppARGB, &d));
    Rect outside = {1, 1, 2, 2};
    EXPECT_EQ(InvalidParameter, GdipBitmapLockBits(b, &outside, ImageLockModeRead, PixelFormat24bppRGB, &d));
    Rect part = {1, 1, 1, 1};
    ASSERT_EQ(Ok, GdipBitmapLockBits(b, &part, ImageLockModeRead, PixelFormat24bppRGB, &d));
    EXPECT_EQ(0, memcmp(d.Scan0, "\x0c\x0b\x0a", 3));
    EXPECT_EQ(1u, d.Width);
    EXPECT_GT(d.Stride, 0);
    BitmapData d2 = {};
    EXPECT_EQ(WrongState, GdipBitmapLockBits(b, &all, ImageLockModeRead, PixelFormat24bppRGB, &d2));
    EXPECT_EQ(Ok, GdipBitmapUnlockBits(b, &d));
    EXPECT_EQ(WrongState, GdipBitmapUnlockBits(b, &d));
    GdipDisposeImage(b);
}

TEST_F(Gdip, DibBitmapsReferToTheCallersBottomUpRows)
{
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD pal[2];
    } info = {{40, 2, 2, 1, 24, BI_RGB, 0, 0, 0, 0, 0}, {}};
    BYTE bits[16] = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};  // bottom row first
    GpBitmap* b = nullptr;
    ASSERT_EQ(Ok, GdipCreateBitmapFromGdiDib(reinterpret_cast<BITMAPINFO*>(&info), bits, &b));
    EXPECT_EQ(PixelFormat24bppRGB, FormatOf(b));
    EXPECT_EQ(std::string("\x07\x08\x09\x0a\x0b\x0c", 6), LockedRow(b, 0, 6));
    bits[8] = 99;  // the bitmap sees the caller's memory
    EXPECT_EQ(99, (BYTE)LockedRow(b, 0, 1)[0]);
    Rect all = {0, 0, 2, 2};
    BitmapData d = {};
    EXPECT_EQ(NotImplemented, GdipBitmapLockBits(b, &all, ImageLockModeWrite, PixelFormat24bppRGB, &d));
    GdipDisposeImage(b);

    info.h.biBitCount = 12;
    EXPECT_EQ(InvalidParameter, GdipCreateBitmapFromGdiDib(reinterpret_cast<BITMAPINFO*>(&info), bits, &b));
    info.h.biBitCount = 24;
    info.h.biCompression = BI_RLE8;
    EXPECT_EQ(InvalidParameter, GdipCreateBitmapFromGdiDib(reinterpret_cast<BITMAPINFO*>(&info), bits, &b));
    EXPECT_EQ(InvalidParameter, GdipCreateBitmapFromGdiDib(nullptr, bits, &b));
}

TEST_F(Gdip, EncodersAreFoundByMimeTypeAndSaveWhatWasGiven)
{
    UINT n = 0, size = 0;
    ASSERT_EQ(Ok, GdipGetImageEncodersSize(&n, &size));
    ASSERT_EQ(5u, n);
    std::vector<BYTE> block(size);
    auto* codecs = reinterpret_cast<ImageCodecInfo*>(block.data());
    EXPECT_EQ(InvalidParameter, GdipGetImageEncoders(n, size - 1, codecs));
    ASSERT_EQ(Ok, GdipGetImageEncoders(n, size, codecs));
    std::vector<std::u16string> mimes;
    for (UINT i = 0; i < n; ++i) {
        // Every string lies inside the caller's block.
        const BYTE* m = reinterpret_cast<const BYTE*>(codecs[i].MimeType);
        EXPECT_TRUE(m >= block.data() && m < block.data() + size);
        mimes.push_back(reinterpret_cast<const char16_t*>(codecs[i].MimeType));
    }
    EXPECT_EQ((std::vector<std::u16string>{u"image/bmp", u"image/jpeg", u"image/gif", u"image/tiff", u"image/png"}),
              mimes);

    struct {
        BITMAPINFOHEADER h;
    } info = {{40, 3, 2, 1, 24, BI_RGB, 0, 0, 0, 0, 0}};
    BYTE bits[24];
    for (int i = 0; i < 24; ++i)
        bits[i] = (BYTE)(i * 10);
    GpBitmap* src = nullptr;
    ASSERT_EQ(Ok, GdipCreateBitmapFromGdiDib(reinterpret_cast<BITMAPINFO*>(&info), bits, &src));
    const char* exts[] = {"bmp", "jpg", "gif", "tif", "png"};
    for (UINT i = 0; i < n; ++i) {
        SCOPED_TRACE(exts[i]);
        const std::string path = dir / (std::string("out.") + exts[i]);
        ASSERT_EQ(Ok, GdipSaveImageToFile(src, reinterpret_cast<const WCHAR*>(Wide(path).c_str()), &codecs[i].Clsid,
                                          nullptr));
        GpBitmap* back = Load(ReadWhole(path));
        ASSERT_NE(nullptr, back);
        UINT w = 0;
        GdipGetImageWidth(back, &w);
        EXPECT_EQ(3u, w);
        if (i == 0 || i == 3 || i == 4) {  // lossless and not quantised: the top row is exact
            EXPECT_EQ(std::string("\x78\x82\x8c", 3), LockedRow(back, 0, 3)) << FormatOf(back);  // the last DIB row
        }
        GdipDisposeImage(back);
    }
    // A folder that does not exist: failure, and nothing is left behind.
    EXPECT_EQ(Win32Error, GdipSaveImageToFile(src, reinterpret_cast<const WCHAR*>(Wide(dir / "no/x.png").c_str()),
                                              &codecs[4].Clsid, nullptr));
    CLSID unknown = {};
    EXPECT_NE(Ok, GdipSaveImageToFile(src, reinterpret_cast<const WCHAR*>(Wide(dir / "u.png").c_str()), &unknown, nullptr));
    EXPECT_FALSE(std::filesystem::exists(dir / "u.png"));

    // Quality as an encoder parameter changes the JPEG; without one it is 75.
    ULONG q = 75;
    EncoderParameters params = {1, {{EncoderQuality, 1, 4, &q}}};
    const std::string def = dir / "def.jpg", q75 = dir / "q75.jpg", q20 = dir / "q20.jpg";
    GdipSaveImageToFile(src, reinterpret_cast<const WCHAR*>(Wide(def).c_str()), &codecs[1].Clsid, nullptr);
    GdipSaveImageToFile(src, reinterpret_cast<const WCHAR*>(Wide(q75).c_str()), &codecs[1].Clsid, &params);
    q = 20;
    GdipSaveImageToFile(src, reinterpret_cast<const WCHAR*>(Wide(q20).c_str()), &codecs[1].Clsid, &params);
    EXPECT_EQ(ReadWhole(def), ReadWhole(q75));
    EXPECT_NE(ReadWhole(def), ReadWhole(q20));
    GdipDisposeImage(src);
}

TEST_F(Gdip, PngOf24BitRowsKeepsEveryPixel)
{
    // Every width up to a few steps of the row routines (5 and 16 pixels) and past them; the
    // picture all grey, or with one pixel whose blue, green or red alone differs, at every
    // column of the middle row and at the first and last pixel of the picture. Written as RGB,
    // as the program has always written its pictures, every pixel must come back.
    CLSID png = {};
    {
        UINT n = 0, size = 0;
        GdipGetImageEncodersSize(&n, &size);
        std::vector<BYTE> block(size);
        auto* codecs = reinterpret_cast<ImageCodecInfo*>(block.data());
        ASSERT_EQ(Ok, GdipGetImageEncoders(n, size, codecs));
        png = codecs[4].Clsid;
    }
    const int h = 3;
    for (int w = 1; w <= 40; ++w) {
        struct Odd {
            int x, y, channel;  // channel -1: none
        };
        std::vector<Odd> odds = {{0, 0, -1}};
        for (int c = 0; c < 3; ++c) {
            for (int x = 0; x < w; ++x)
                odds.push_back({x, 1, c});
            odds.push_back({0, 0, c});
            odds.push_back({w - 1, h - 1, c});
        }
        for (const Odd& odd : odds) {
            SCOPED_TRACE(::testing::Message() << "width " << w << " pixel " << odd.x << "," << odd.y << " channel "
                                              << odd.channel);
            const int pitch = (w * 3 + 3) & ~3;
            std::vector<BYTE> bits((size_t)pitch * h, 0xEE);  // padding: never part of a pixel
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    memset(&bits[(size_t)y * pitch + 3 * x], (BYTE)(x * 37 + y * 101), 3);
            // Bottom-up: picture row y is DIB row h - 1 - y.
            if (odd.channel >= 0)
                bits[(size_t)(h - 1 - odd.y) * pitch + 3 * odd.x + odd.channel] ^= 0x40;
            BITMAPINFOHEADER info = {40, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
            GpBitmap* src = nullptr;
            ASSERT_EQ(Ok, GdipCreateBitmapFromGdiDib(reinterpret_cast<BITMAPINFO*>(&info), bits.data(), &src));
            // A new file each time: replacing one makes the file system flush it first.
            const std::string path = dir / "rows.png";
            std::remove(path.c_str());
            ASSERT_EQ(Ok, GdipSaveImageToFile(src, reinterpret_cast<const WCHAR*>(Wide(path).c_str()), &png, nullptr));
            GdipDisposeImage(src);

            png_image image;
            memset(&image, 0, sizeof image);
            image.version = PNG_IMAGE_VERSION;
            ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str())) << image.message;
            EXPECT_EQ((unsigned)PNG_FORMAT_FLAG_COLOR, image.format & PNG_FORMAT_FLAG_COLOR);
            image.format = PNG_FORMAT_BGR;
            // Read bottom-up with the DIB's pitch: the same bytes where pixels are.
            std::vector<BYTE> back(bits.size(), 0xEE);
            ASSERT_TRUE(png_image_finish_read(&image, nullptr, back.data(), -pitch, nullptr)) << image.message;
            ASSERT_EQ(bits, back);
        }
    }
}

TEST_F(Gdip, StreamsDecodeLikeFiles)
{
    std::string png = MakePng(PngRecipe{2, 2, 8, PNG_COLOR_TYPE_RGB, {}, {}, -1, {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}}});
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, png.size());
    memcpy(GlobalLock(h), png.data(), png.size());
    GlobalUnlock(h);
    IStream* s = nullptr;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(h, TRUE, &s));
    GpBitmap* b = nullptr;
    ASSERT_EQ(Ok, GdipCreateBitmapFromStream(s, &b));
    EXPECT_EQ(PixelFormat24bppRGB, FormatOf(b));
    GdipDisposeImage(b);
    s->Release();
}

TEST(GdiplusStartupState, CallsBeforeStartupFail)
{
    GpBitmap* b = reinterpret_cast<GpBitmap*>(0xdeadbeef);
    EXPECT_EQ(GdiplusNotInitialized, GdipCreateBitmapFromFile(u"/tmp/x.png", &b));
    EXPECT_EQ(nullptr, b);
    ULONG_PTR t = 0;
    GdiplusStartupInput v2 = {2, nullptr, FALSE, FALSE};
    EXPECT_EQ(UnsupportedGdiplusVersion, GdiplusStartup(&t, &v2, nullptr));
    GdiplusStartupInput v1 = {1, nullptr, FALSE, FALSE};
    GdiplusStartupOutput out = {reinterpret_cast<NotificationHookProc>(1), nullptr};
    ASSERT_EQ(Ok, GdiplusStartup(&t, &v1, &out));
    EXPECT_EQ(nullptr, out.NotificationHook);
    GdiplusShutdown(t);
    EXPECT_EQ(GdiplusNotInitialized, GdipCreateBitmapFromFile(u"/tmp/x.png", &b));
}

}  // namespace
