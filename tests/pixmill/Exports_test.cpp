// The library as the converter sees it: loaded by name, functions looked up by name.
#include <gtest/gtest.h>

#include <windows.h>

#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Pixmill.h"
#include "TempDir.h"

namespace {

struct Api {
    HMODULE module = nullptr;
#define PIXMILL_FN(name) decltype(&::name) name = nullptr
    PIXMILL_FN(Pixmill_IsValidImage);
    PIXMILL_FN(Pixmill_GetImageSize);
    PIXMILL_FN(Pixmill_GetImageFileSize);
    PIXMILL_FN(Pixmill_DrawImageOnDC);
    PIXMILL_FN(Pixmill_DrawImageOnDCRect);
    PIXMILL_FN(Pixmill_DrawImageRectOnDCRect);
    PIXMILL_FN(Pixmill_CaptureDCToJPEG);
    PIXMILL_FN(Pixmill_CreateEmptyImageObject);
    PIXMILL_FN(Pixmill_CreateImageObject);
    PIXMILL_FN(Pixmill_CreateImageObjectByFile);
    PIXMILL_FN(Pixmill_GetSizeOfImageObject);
    PIXMILL_FN(Pixmill_ImageObjectLoad);
    PIXMILL_FN(Pixmill_DestroyImageObject);
    PIXMILL_FN(Pixmill_DrawImageObjectOnDC);
    PIXMILL_FN(Pixmill_DrawImageObjectOnDCRect);
    PIXMILL_FN(Pixmill_DrawImageObjectRectOnDCRect);
    PIXMILL_FN(Pixmill_StretchImageObject);
    PIXMILL_FN(Pixmill_GetImageObjectSubBlock);
    PIXMILL_FN(Pixmill_SaveImageObject);
#undef PIXMILL_FN
};

template <class T>
void Bind(HMODULE m, T& fn, const char* name)
{
    fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

class PixmillExports : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        api.module = LoadLibraryA("Pixmill.dll");
        ASSERT_NE(nullptr, api.module);
#define BIND(name) Bind(api.module, api.name, #name)
        BIND(Pixmill_IsValidImage);
        BIND(Pixmill_GetImageSize);
        BIND(Pixmill_GetImageFileSize);
        BIND(Pixmill_DrawImageOnDC);
        BIND(Pixmill_DrawImageOnDCRect);
        BIND(Pixmill_DrawImageRectOnDCRect);
        BIND(Pixmill_CaptureDCToJPEG);
        BIND(Pixmill_CreateEmptyImageObject);
        BIND(Pixmill_CreateImageObject);
        BIND(Pixmill_CreateImageObjectByFile);
        BIND(Pixmill_GetSizeOfImageObject);
        BIND(Pixmill_ImageObjectLoad);
        BIND(Pixmill_DestroyImageObject);
        BIND(Pixmill_DrawImageObjectOnDC);
        BIND(Pixmill_DrawImageObjectOnDCRect);
        BIND(Pixmill_DrawImageObjectRectOnDCRect);
        BIND(Pixmill_StretchImageObject);
        BIND(Pixmill_GetImageObjectSubBlock);
        BIND(Pixmill_SaveImageObject);
#undef BIND
    }
    static void TearDownTestSuite() { FreeLibrary(api.module); }

    // A memory DC of w x h holding a bitmap whose pixel (x, y) is Colour(x, y).
    struct Surface {
        HDC dc = nullptr;
        HBITMAP bmp = nullptr;
        HGDIOBJ old = nullptr;
        Surface(int w, int h, bool pattern = true)
        {
            dc = CreateCompatibleDC(nullptr);
            bmp = CreateCompatibleBitmap(dc, w, h);
            old = SelectObject(dc, bmp);
            if (pattern)
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        SetPixel(dc, x, y, Colour(x, y));
        }
        ~Surface()
        {
            SelectObject(dc, old);
            DeleteObject(bmp);
            DeleteDC(dc);
        }
    };
    static COLORREF Colour(int x, int y) { return RGB(x * 20 + 5, y * 30 + 7, (x * y * 11) & 0xff); }

    static Api api;
    TempDir dir;
};
Api PixmillExports::api;

TEST_F(PixmillExports, AllNineteenAreExported)
{
    const void* fns[] = {
        (void*)api.Pixmill_IsValidImage,           (void*)api.Pixmill_GetImageSize,
        (void*)api.Pixmill_GetImageFileSize,       (void*)api.Pixmill_DrawImageOnDC,
        (void*)api.Pixmill_DrawImageOnDCRect,      (void*)api.Pixmill_DrawImageRectOnDCRect,
        (void*)api.Pixmill_CaptureDCToJPEG,        (void*)api.Pixmill_CreateEmptyImageObject,
        (void*)api.Pixmill_CreateImageObject,      (void*)api.Pixmill_CreateImageObjectByFile,
        (void*)api.Pixmill_GetSizeOfImageObject,   (void*)api.Pixmill_ImageObjectLoad,
        (void*)api.Pixmill_DestroyImageObject,     (void*)api.Pixmill_DrawImageObjectOnDC,
        (void*)api.Pixmill_DrawImageObjectOnDCRect, (void*)api.Pixmill_DrawImageObjectRectOnDCRect,
        (void*)api.Pixmill_StretchImageObject,     (void*)api.Pixmill_GetImageObjectSubBlock,
        (void*)api.Pixmill_SaveImageObject,
    };
    for (size_t i = 0; i < sizeof(fns) / sizeof(fns[0]); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NE(nullptr, fns[i]);
    }
    // The library's C++ insides stay inside.
    EXPECT_EQ(nullptr, GetProcAddress(api.module, "_Z14CurrentFactoryv"));
}

TEST_F(PixmillExports, CaptureWritesFilesWhosePixelsMatchTheDeviceContext)
{
    const int w = 11, h = 7;
    Surface src(w, h);
    struct {
        const char* name;
        int flag;
        int meanTolerance;  // exact formats 0; JPEG is lossy and subsamples colour
    } rows[] = {{"c.bmp", 90, 0}, {"c.png", 90, 0}, {"c.tga", -1, 0}, {"c.tga", 1, 0}, {"c.jpg", 90, 16},
                {"c.tif", 90, 0}, {"c.BMP", 0, 0}};
    for (auto& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.name << " flag " << r.flag);
        const std::string path = dir / r.name;
        ASSERT_EQ(1, api.Pixmill_CaptureDCToJPEG(src.dc, 0, 0, w, h, path.c_str(), r.flag));
        void* img = api.Pixmill_CreateImageObjectByFile(path.c_str());
        ASSERT_NE(nullptr, img);
        Surface dst(w, h, false);
        ASSERT_EQ(1, api.Pixmill_DrawImageObjectOnDC(img, dst.dc, 0, 0));
        int sum = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                COLORREF a = Colour(x, y), b = GetPixel(dst.dc, x, y);
                sum += std::abs(GetRValue(a) - GetRValue(b)) + std::abs(GetGValue(a) - GetGValue(b)) +
                       std::abs(GetBValue(a) - GetBValue(b));
            }
        EXPECT_LE(sum / (w * h * 3), r.meanTolerance);
        if (r.meanTolerance == 0) {
            EXPECT_EQ(0, sum);
        }
        api.Pixmill_DestroyImageObject(img);
    }
    // The BMP is a plain 24-bit DIB.
    std::string bmp = ReadWhole(dir / "c.bmp");
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(54 + 36 * 7, (int)bmp.size());
    EXPECT_EQ(24, (unsigned char)bmp[28]);
    EXPECT_EQ(0, bmp[30]);
}

TEST_F(PixmillExports, CaptureOfAnOffsetRectangleAndTheSaveFlagOfFormatsThatIgnoreIt)
{
    Surface src(20, 20);
    const std::string a = dir / "a.png", b = dir / "b.png";
    ASSERT_EQ(1, api.Pixmill_CaptureDCToJPEG(src.dc, 5, 6, 9, 8, a.c_str(), 90));
    ASSERT_EQ(1, api.Pixmill_CaptureDCToJPEG(src.dc, 5, 6, 9, 8, b.c_str(), -1));
    EXPECT_EQ(ReadWhole(a), ReadWhole(b));
    void* img = api.Pixmill_CreateImageObjectByFile(a.c_str());
    int size[2] = {0, 0};
    ASSERT_EQ(1, api.Pixmill_GetSizeOfImageObject(img, size));
    EXPECT_EQ(4, size[0]);
    EXPECT_EQ(2, size[1]);
    Surface dst(4, 2, false);
    api.Pixmill_DrawImageObjectOnDC(img, dst.dc, 0, 0);
    EXPECT_EQ(Colour(5, 6), GetPixel(dst.dc, 0, 0));
    EXPECT_EQ(Colour(8, 7), GetPixel(dst.dc, 3, 1));
    api.Pixmill_DestroyImageObject(img);
}

// Pages of several kinds captured through the export, read back by libpng and TurboJPEG
// directly rather than by the library's own readers: BMP rows byte for byte (padding zero),
// PNG pixels exactly (as RGB, a page of greys too), and JPEG as close
// as TurboJPEG's own compression of the same pixels at the default quality (fast DCT).
TEST_F(PixmillExports, CapturedPagesDecodeAsTheirPixelsWithIndependentDecoders)
{
    enum Kind { kText, kColour, kGreyButTheLastPixel, kWhite };
    struct Row {
        int w, h;
        Kind kind;
    } rows[] = {
        {1, 1, kText},    {2, 3, kColour}, {17, 5, kText},   {33, 9, kGreyButTheLastPixel},
        {37, 8, kColour}, {50, 4, kWhite}, {211, 31, kText}, {794, 24, kGreyButTheLastPixel},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.w << " x " << r.h << " kind " << r.kind);
        // The page as B, G, R rows from the top, and on a device context.
        std::vector<uint8_t> bgr((size_t)r.w * 3 * r.h);
        uint32_t seed = 0xdeadbeef;
        for (size_t i = 0; i < (size_t)r.w * r.h; ++i) {
            seed = seed * 1664525u + 1013904223u;
            uint8_t v = r.kind == kWhite ? 255 : (seed >> 24) < 160 ? 255 : (uint8_t)(seed >> 16);
            uint8_t px[3] = {v, v, v};
            if (r.kind == kColour)
                px[0] = (uint8_t)(seed >> 8), px[2] = (uint8_t)(seed >> 3);
            if (r.kind == kGreyButTheLastPixel && i + 1 == (size_t)r.w * r.h)
                px[1] = (uint8_t)(v ^ 1);
            memcpy(&bgr[3 * i], px, 3);
        }
        Surface src(r.w, r.h, false);
        for (int y = 0; y < r.h; ++y)
            for (int x = 0; x < r.w; ++x) {
                const uint8_t* p = &bgr[3 * ((size_t)y * r.w + x)];
                SetPixel(src.dc, x, y, RGB(p[2], p[1], p[0]));
            }

        // BMP: the rows bottom-up, each padded with zeros to four bytes.
        const std::string bmpPath = dir / "p.bmp";
        ASSERT_EQ(1, api.Pixmill_CaptureDCToJPEG(src.dc, 0, 0, r.w, r.h, bmpPath.c_str(), 90));
        const size_t pitch = ((size_t)r.w * 3 + 3) & ~(size_t)3;
        std::string want(pitch * r.h, '\0');
        for (int y = 0; y < r.h; ++y)
            memcpy(&want[(size_t)(r.h - 1 - y) * pitch], &bgr[(size_t)y * r.w * 3], (size_t)r.w * 3);
        const std::string bmp = ReadWhole(bmpPath);
        ASSERT_EQ(54 + want.size(), bmp.size());
        EXPECT_EQ(r.w, (int)((uint8_t)bmp[18] | (uint8_t)bmp[19] << 8));
        EXPECT_EQ(r.h, (int)((uint8_t)bmp[22] | (uint8_t)bmp[23] << 8));
        EXPECT_TRUE(bmp.compare(54, std::string::npos, want) == 0);

        // PNG through libpng's own reader.
        const std::string pngPath = dir / "p.png";
        ASSERT_EQ(1, api.Pixmill_CaptureDCToJPEG(src.dc, 0, 0, r.w, r.h, pngPath.c_str(), 90));
        png_image image;
        memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&image, pngPath.c_str())) << image.message;
        EXPECT_EQ((unsigned)PNG_FORMAT_FLAG_COLOR, image.format & PNG_FORMAT_FLAG_COLOR) << "pages stay RGB";
        image.format = PNG_FORMAT_BGR;
        std::vector<uint8_t> png(PNG_IMAGE_SIZE(image), 0xEE);
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, png.data(), 0, nullptr)) << image.message;
        ASSERT_EQ((png_uint_32)r.w, image.width);
        ASSERT_EQ((png_uint_32)r.h, image.height);
        EXPECT_TRUE(png == bgr);

        // JPEG through TurboJPEG, beside TurboJPEG's compression of the same rows at quality 75.
        const std::string jpgPath = dir / "p.jpg";
        ASSERT_EQ(1, api.Pixmill_CaptureDCToJPEG(src.dc, 0, 0, r.w, r.h, jpgPath.c_str(), 90));
        const std::string jpg = ReadWhole(jpgPath);
        tjhandle tj = tjInitDecompress();
        tjhandle tc = tjInitCompress();
        unsigned char* ref = nullptr;
        unsigned long refSize = 0;
        ASSERT_EQ(0, tjCompress2(tc, bgr.data(), r.w, 0, r.h, TJPF_BGR, &ref, &refSize, TJSAMP_420, 75,
                                 TJFLAG_FASTDCT));
        std::vector<uint8_t> got(bgr.size(), 0xEE), expect(bgr.size(), 0xEE);
        int w = 0, h = 0, sub = 0, space = 0;
        ASSERT_EQ(0, tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(jpg.data()), jpg.size(), &w, &h,
                                         &sub, &space));
        EXPECT_EQ(r.w, w);
        EXPECT_EQ(r.h, h);
        EXPECT_EQ(TJSAMP_420, sub);
        ASSERT_EQ(0, tjDecompress2(tj, reinterpret_cast<const unsigned char*>(jpg.data()), jpg.size(), got.data(), r.w,
                                   0, r.h, TJPF_BGR, 0));
        ASSERT_EQ(0, tjDecompress2(tj, ref, refSize, expect.data(), r.w, 0, r.h, TJPF_BGR, 0));
        EXPECT_TRUE(got == expect);
        tjFree(ref);
        tjDestroy(tc);
        tjDestroy(tj);
    }
}

TEST_F(PixmillExports, CaptureRefusalsCreateNoFile)
{
    Surface src(8, 8);
    struct {
        const char* name;
        int l, t, r, b, flag;
    } rows[] = {
        {"e.bmp", 4, 0, 4, 8, 90}, {"e.bmp", 0, 5, 8, 2, 90}, {"x.pcx", 0, 0, 8, 8, 90},
        {"noext", 0, 0, 8, 8, 90}, {"t.tga", 0, 0, 8, 8, 90},  // a TGA flag that would drop the pixels
        {"huge.bmp", INT_MIN, 0, INT_MAX, 8, 90},
    };
    for (auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(0, api.Pixmill_CaptureDCToJPEG(src.dc, r.l, r.t, r.r, r.b, (dir / r.name).c_str(), r.flag));
    }
    EXPECT_EQ(0, api.Pixmill_CaptureDCToJPEG(nullptr, 0, 0, 8, 8, (dir / "n.bmp").c_str(), 90));
    EXPECT_EQ(0, api.Pixmill_CaptureDCToJPEG(src.dc, 0, 0, 8, 8, nullptr, 90));
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(PixmillExports, PathExportsMeasureAndDrawFiles)
{
    Surface src(64, 48);
    const std::string png = dir / "s.png";
    ASSERT_EQ(1, api.Pixmill_CaptureDCToJPEG(src.dc, 0, 0, 64, 48, png.c_str(), 0));
    EXPECT_EQ(1, api.Pixmill_IsValidImage(png.c_str()));
    EXPECT_EQ(0, api.Pixmill_IsValidImage((dir / "missing.png").c_str()));
    EXPECT_EQ(0, api.Pixmill_IsValidImage(dir.Write("bad.png", "nope").c_str()));

    int size[2] = {(int)0xdeadbeef, (int)0xdeadbeef};
    EXPECT_EQ(0, api.Pixmill_GetImageSize(png.c_str(), nullptr));
    EXPECT_EQ(0, api.Pixmill_GetImageSize((dir / "missing.png").c_str(), size));
    EXPECT_EQ((int)0xdeadbeef, size[0]);
    EXPECT_EQ(1, api.Pixmill_GetImageSize(png.c_str(), size));
    EXPECT_EQ(64, size[0]);
    EXPECT_EQ(48, size[1]);

    int n = (int)0xdeadbeef;
    EXPECT_EQ(0, api.Pixmill_GetImageFileSize((dir / "missing.png").c_str(), &n));
    EXPECT_EQ((int)0xdeadbeef, n);
    EXPECT_EQ(0, api.Pixmill_GetImageFileSize(png.c_str(), nullptr));
    EXPECT_EQ(1, api.Pixmill_GetImageFileSize(dir.Write("zero.bin", "").c_str(), &n));
    EXPECT_EQ(0, n);
    EXPECT_EQ(1, api.Pixmill_GetImageFileSize(png.c_str(), &n));
    EXPECT_EQ((int)std::filesystem::file_size(png), n);

    Surface dst(100, 100, false);
    EXPECT_EQ(1, api.Pixmill_DrawImageOnDC(png.c_str(), dst.dc, 10, 20));
    EXPECT_EQ(Colour(0, 0), GetPixel(dst.dc, 10, 20));
    EXPECT_EQ(Colour(63, 47), GetPixel(dst.dc, 73, 67));
    EXPECT_EQ(0, api.Pixmill_DrawImageOnDC((dir / "missing.png").c_str(), dst.dc, 0, 0));

    // Scaled to twice the size: each source pixel covers 2 x 2 destination pixels.
    Surface big(128, 96, false);
    EXPECT_EQ(1, api.Pixmill_DrawImageOnDCRect(png.c_str(), big.dc, 0, 0, 128, 96));
    EXPECT_EQ(Colour(3, 2), GetPixel(big.dc, 7, 5));
    EXPECT_EQ(Colour(63, 47), GetPixel(big.dc, 127, 95));

    Surface part(10, 10, false);
    EXPECT_EQ(1, api.Pixmill_DrawImageRectOnDCRect(png.c_str(), part.dc, 30, 20, 35, 25, 0, 0, 5, 5));
    EXPECT_EQ(Colour(30, 20), GetPixel(part.dc, 0, 0));
    EXPECT_EQ(Colour(34, 24), GetPixel(part.dc, 4, 4));
    EXPECT_EQ(0, api.Pixmill_DrawImageRectOnDCRect(nullptr, part.dc, 0, 0, 1, 1, 0, 0, 1, 1));
}

TEST_F(PixmillExports, ImageObjectsCreateLoadResizeCutSaveAndDestroy)
{
    EXPECT_EQ(nullptr, api.Pixmill_CreateImageObject(100, 100, 12));
    EXPECT_EQ(nullptr, api.Pixmill_CreateImageObject(0, 100, 24));
    void* grey = api.Pixmill_CreateImageObject(100, 100, 8);
    ASSERT_NE(nullptr, grey);
    // Pixels are zero, entry 0 of the grey ramp is black.
    Surface dst(100, 100, false);
    FillRect(dst.dc, nullptr, nullptr);
    RECT all = {0, 0, 100, 100};
    FillRect(dst.dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(1, api.Pixmill_DrawImageObjectOnDC(grey, dst.dc, 0, 0));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(dst.dc, 50, 50));
    // The grey ramp, as the BMP writer stores the palette.
    ASSERT_EQ(1, api.Pixmill_SaveImageObject(grey, (dir / "ramp.bmp").c_str(), 0));
    const std::string ramp = ReadWhole(dir / "ramp.bmp");
    ASSERT_GE(ramp.size(), 54u + 1024);
    for (int i = 0; i < 256; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(std::string({(char)i, (char)i, (char)i, '\0'}), ramp.substr(54 + 4 * (size_t)i, 4));
    }

    void* empty = api.Pixmill_CreateEmptyImageObject();
    ASSERT_NE(nullptr, empty);
    int size[2] = {(int)0xdeadbeef, 0};
    EXPECT_EQ(0, api.Pixmill_GetSizeOfImageObject(empty, size));
    EXPECT_EQ((int)0xdeadbeef, size[0]);
    EXPECT_EQ(0, api.Pixmill_DrawImageObjectOnDC(empty, dst.dc, 0, 0));
    EXPECT_EQ(0, api.Pixmill_DrawImageObjectOnDCRect(empty, dst.dc, 0, 0, 5, 5));
    EXPECT_EQ(0, api.Pixmill_DrawImageObjectRectOnDCRect(empty, dst.dc, 0, 0, 1, 1, 0, 0, 5, 5));
    EXPECT_EQ(0, api.Pixmill_StretchImageObject(empty, 5, 5));
    EXPECT_EQ(0, api.Pixmill_SaveImageObject(empty, (dir / "e.bmp").c_str(), -1));
    EXPECT_EQ(0, api.Pixmill_GetImageObjectSubBlock(empty, grey, 0, 0, 5, 5));
    EXPECT_EQ(0, api.Pixmill_GetSizeOfImageObject(grey, nullptr));

    // Load into an existing object; a failed load leaves it as it was.
    Surface src(6, 4);
    const std::string bmp = dir / "s.bmp";
    ASSERT_EQ(1, api.Pixmill_CaptureDCToJPEG(src.dc, 0, 0, 6, 4, bmp.c_str(), 0));
    EXPECT_EQ(1, api.Pixmill_ImageObjectLoad(empty, bmp.c_str()));
    EXPECT_EQ(1, api.Pixmill_GetSizeOfImageObject(empty, size));
    EXPECT_EQ(6, size[0]);
    EXPECT_EQ(0, api.Pixmill_ImageObjectLoad(empty, (dir / "missing.bmp").c_str()));
    EXPECT_EQ(0, api.Pixmill_ImageObjectLoad(empty, nullptr));
    EXPECT_EQ(1, api.Pixmill_GetSizeOfImageObject(empty, size));
    EXPECT_EQ(6, size[0]);
    EXPECT_EQ(nullptr, api.Pixmill_CreateImageObjectByFile((dir / "missing.bmp").c_str()));

    // Stretch: 4-bit images and sizes <= 0 are left alone, still with result 1.
    void* four = api.Pixmill_CreateImageObject(10, 10, 4);
    EXPECT_EQ(1, api.Pixmill_StretchImageObject(four, 20, 20));
    EXPECT_EQ(1, api.Pixmill_StretchImageObject(empty, 0, 20));
    api.Pixmill_GetSizeOfImageObject(four, size);
    EXPECT_EQ(10, size[0]);
    api.Pixmill_GetSizeOfImageObject(empty, size);
    EXPECT_EQ(6, size[0]);
    EXPECT_EQ(1, api.Pixmill_StretchImageObject(empty, 12, 8));
    api.Pixmill_GetSizeOfImageObject(empty, size);
    EXPECT_EQ(12, size[0]);
    EXPECT_EQ(8, size[1]);
    // A stretch there is no memory for fails and leaves the image as it was.
    EXPECT_EQ(0, api.Pixmill_StretchImageObject(empty, 1 << 20, 1 << 20));
    size[0] = size[1] = (int)0xdeadbeef;
    EXPECT_EQ(1, api.Pixmill_GetSizeOfImageObject(empty, size));
    EXPECT_EQ(12, size[0]);
    EXPECT_EQ(8, size[1]);

    // Sub-blocks: never into itself; the destination changes only on success.
    EXPECT_EQ(0, api.Pixmill_GetImageObjectSubBlock(empty, empty, 0, 0, 2, 2));
    EXPECT_EQ(0, api.Pixmill_GetImageObjectSubBlock(empty, nullptr, 0, 0, 2, 2));
    EXPECT_EQ(0, api.Pixmill_GetImageObjectSubBlock(empty, grey, 50, 50, 60, 60));
    api.Pixmill_GetSizeOfImageObject(grey, size);
    EXPECT_EQ(100, size[0]);
    EXPECT_EQ(1, api.Pixmill_GetImageObjectSubBlock(empty, grey, 2, 2, 6, 5));
    api.Pixmill_GetSizeOfImageObject(grey, size);
    EXPECT_EQ(4, size[0]);
    EXPECT_EQ(3, size[1]);

    EXPECT_EQ(1, api.Pixmill_SaveImageObject(grey, (dir / "g.tga").c_str(), 1));
    EXPECT_EQ(0, api.Pixmill_SaveImageObject(grey, (dir / "g.pcx").c_str(), 1));
    EXPECT_EQ(0, api.Pixmill_SaveImageObject(grey, nullptr, 1));
    EXPECT_EQ(1, api.Pixmill_IsValidImage((dir / "g.tga").c_str()));

    EXPECT_EQ(0, api.Pixmill_DestroyImageObject(nullptr));
    EXPECT_EQ(1, api.Pixmill_DestroyImageObject(grey));
    EXPECT_EQ(1, api.Pixmill_DestroyImageObject(four));
    EXPECT_EQ(1, api.Pixmill_DestroyImageObject(empty));
    EXPECT_EQ(1, api.Pixmill_DestroyImageObject(api.Pixmill_CreateEmptyImageObject()));
}

TEST_F(PixmillExports, NullHandlesFailAtOnce)
{
    Surface dst(4, 4, false);
    int size[2];
    EXPECT_EQ(0, api.Pixmill_GetSizeOfImageObject(nullptr, size));
    EXPECT_EQ(0, api.Pixmill_ImageObjectLoad(nullptr, "x.bmp"));
    EXPECT_EQ(0, api.Pixmill_DrawImageObjectOnDC(nullptr, dst.dc, 0, 0));
    EXPECT_EQ(0, api.Pixmill_DrawImageObjectOnDCRect(nullptr, dst.dc, 0, 0, 1, 1));
    EXPECT_EQ(0, api.Pixmill_DrawImageObjectRectOnDCRect(nullptr, dst.dc, 0, 0, 1, 1, 0, 0, 1, 1));
    EXPECT_EQ(0, api.Pixmill_StretchImageObject(nullptr, 2, 2));
    EXPECT_EQ(0, api.Pixmill_GetImageObjectSubBlock(nullptr, nullptr, 0, 0, 1, 1));
    EXPECT_EQ(0, api.Pixmill_SaveImageObject(nullptr, "x.bmp", 0));
}

TEST_F(PixmillExports, DrawingTheUpperHalfOfAnImage)
{
    Surface src(8, 6);
    const std::string bmp = dir / "h.bmp";
    ASSERT_EQ(1, api.Pixmill_CaptureDCToJPEG(src.dc, 0, 0, 8, 6, bmp.c_str(), 0));
    void* img = api.Pixmill_CreateImageObjectByFile(bmp.c_str());
    Surface dst(8, 3, false);
    EXPECT_EQ(1, api.Pixmill_DrawImageObjectRectOnDCRect(img, dst.dc, 0, 0, 8, 3, 0, 0, 8, 3));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(Colour(x, y), GetPixel(dst.dc, x, y)) << x << "," << y;
    Surface whole(4, 3, false);
    EXPECT_EQ(1, api.Pixmill_DrawImageObjectOnDCRect(img, whole.dc, 0, 0, 4, 3));
    EXPECT_EQ(Colour(0, 0), GetPixel(whole.dc, 0, 0));
    EXPECT_EQ(Colour(6, 4), GetPixel(whole.dc, 3, 2));
    // The stretch mode of the DC is restored.
    EXPECT_EQ(BLACKONWHITE, GetStretchBltMode(whole.dc));
    api.Pixmill_DestroyImageObject(img);
}

}  // namespace
