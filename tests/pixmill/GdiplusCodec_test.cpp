// What the GDI+ codec makes of the pixel formats GDI+ hands over.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "Codecs.h"
#include "TempDir.h"
#include "platform/TestImages.h"

using namespace testimages;

namespace {

std::unique_ptr<FCObjImage> DecodeGdiplus(const std::string& bytes)
{
    FCImageHandle_Gdiplus codec;
    if (!codec.DecodeMemory(reinterpret_cast<const BYTE*>(bytes.data()), (int)bytes.size()))
        return nullptr;
    std::vector<FCObjImage*> images = codec.GetImages(true);
    return images.empty() ? nullptr : std::unique_ptr<FCObjImage>(images[0]);
}

TEST(GdiplusDecode, ThirtyTwoBitAlphaIsKeptAndRgbBecomesOpaque)
{
    PngRecipe rgba;
    rgba.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    rgba.rows = {{1, 2, 3, 40, 5, 6, 7, 0}, {9, 10, 11, 120, 13, 14, 15, 255}};
    auto img = DecodeGdiplus(MakePng(rgba));
    ASSERT_NE(nullptr, img);
    EXPECT_EQ(32, img->ColorBits());
    EXPECT_EQ((DWORD)BI_RGB, img->GetInfoHeader().biCompression);
    EXPECT_EQ(0, memcmp(img->PixelAddress(0, 0), "\x03\x02\x01\x28\x07\x06\x05\x00", 8));
    EXPECT_EQ(0, memcmp(img->PixelAddress(0, 1), "\x0b\x0a\x09\x78", 4));

    // A 32-bit BMP is PixelFormat32bppRGB: whatever its fourth bytes held, they become 255.
    auto rgb = DecodeGdiplus(MakeBmp(2, 1, 32, 0, {}, std::string("\x01\x02\x03\x04\x05\x06\x07\x00", 8)));
    ASSERT_NE(nullptr, rgb);
    EXPECT_EQ(0, memcmp(rgb->PixelAddress(0, 0), "\x01\x02\x03\xff\x05\x06\x07\xff", 8));
}

TEST(GdiplusDecode, IndexedGifKeepsItsPaletteWithAlpha)
{
    std::vector<GifColorType> colors = {{10, 20, 30}, {40, 50, 60}};
    auto img = DecodeGdiplus(MakeGif(3, 1, colors, {1, 0, 1}, 0));
    ASSERT_NE(nullptr, img);
    EXPECT_EQ(8, img->ColorBits());
    EXPECT_EQ(0, memcmp(img->PixelAddress(0, 0), "\x01\x00\x01", 3));
    const RGBQUAD* pal = img->GetPaletteEntries();
    EXPECT_EQ(30, pal[0].rgbBlue);
    EXPECT_EQ(10, pal[0].rgbRed);
    EXPECT_EQ(0, pal[0].rgbReserved);  // the transparent entry
    EXPECT_EQ(60, pal[1].rgbBlue);
    EXPECT_EQ(255, pal[1].rgbReserved);

    PngRecipe one;
    one.colorType = PNG_COLOR_TYPE_PALETTE;
    one.depth = 1;
    one.width = 9;
    one.height = 1;
    one.palette = {{1, 2, 3}, {4, 5, 6}};
    one.rows = {{0xA5, 0x80}};
    auto mono = DecodeGdiplus(MakePng(one));
    ASSERT_NE(nullptr, mono);
    EXPECT_EQ(1, mono->ColorBits());
    EXPECT_EQ(0, memcmp(mono->PixelAddress(0, 0), "\xa5\x80", 2));
    EXPECT_EQ(6, mono->GetPaletteEntries()[1].rgbBlue);
}

TEST(GdiplusDecode, SixteenBitFormatsGetBitFieldHeaders)
{
    struct {
        const char* name;
        std::string bytes;
        DWORD red, green, blue;
    } rows[] = {
        {"565", MakeBmp(2, 1, 16, 3, {0xF800, 0x07E0, 0x001F}, std::string("\x1f\x00\x00\xf8", 4)), 0xF800, 0x07E0,
         0x001F},
        {"555", MakeBmp(2, 1, 16, 0, {}, std::string("\x1f\x00\x00\x7c", 4)), 0x7C00, 0x03E0, 0x001F},
    };
    for (auto& r : rows) {
        SCOPED_TRACE(r.name);
        auto img = DecodeGdiplus(r.bytes);
        ASSERT_NE(nullptr, img);
        EXPECT_EQ(16, img->ColorBits());
        EXPECT_EQ((DWORD)BI_BITFIELDS, img->GetInfoHeader().biCompression);
        EXPECT_EQ(r.red, img->GetMask(0));
        EXPECT_EQ(r.green, img->GetMask(1));
        EXPECT_EQ(r.blue, img->GetMask(2));
        EXPECT_EQ(0, memcmp(img->PixelAddress(0, 0), r.bytes.data() + r.bytes.size() - 4, 4));
    }
}

TEST(GdiplusDecode, WideSamplesAreRefused)
{
    PngRecipe rgb16;
    rgb16.depth = 16;
    rgb16.rows = {std::vector<png_byte>(12, 1), std::vector<png_byte>(12, 2)};
    EXPECT_EQ(nullptr, DecodeGdiplus(MakePng(rgb16)));
    PngRecipe rgba16 = rgb16;
    rgba16.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    rgba16.rows = {std::vector<png_byte>(16, 1), std::vector<png_byte>(16, 2)};
    EXPECT_EQ(nullptr, DecodeGdiplus(MakePng(rgba16)));
}

TEST(GdiplusEncode, TiffPathsGetTheTiffEncoderAndSixteenBitImagesSaveAsTheyLook)
{
    InstallFactory(new FCImageHandleFactory_Gdiplus);
    TempDir dir;
    struct {
        BITMAPINFOHEADER h;
        DWORD masks[3];
    } info = {{40, 2, 1, 1, 16, BI_BITFIELDS, 0, 0, 0, 0, 0}, {0xF800, 0x07E0, 0x001F}};
    FCObjImage img;
    ASSERT_TRUE(img.CreateFromInfo(&info.h));
    memcpy(img.PixelAddress(0, 0), "\x00\xf8\x1f\x00", 4);  // red, blue
    ASSERT_TRUE(img.WriteToFile((dir / "scan.tif").c_str(), 0));
    EXPECT_EQ(std::string("II*\0", 4), ReadWhole(dir / "scan.tif").substr(0, 4));
    ASSERT_TRUE(img.WriteToFile((dir / "scan.png").c_str(), 0));
    FCObjImage back;
    ASSERT_TRUE(back.ReadFromFile((dir / "scan.png").c_str()));
    ASSERT_EQ(24, back.ColorBits());
    EXPECT_EQ(0, memcmp(back.PixelAddress(0, 0), "\x00\x00\xff\xff\x00\x00", 6));
}

}  // namespace
