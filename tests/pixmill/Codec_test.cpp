#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ByteOrder.h"
#include "Codecs.h"
#include "TempDir.h"

using pixmill::ReadLE16;
using pixmill::ReadLE32;

namespace {

// The library's normal state: the GDI+ factory is current.
class GdiplusFactoryEnvironment : public ::testing::Environment {
public:
    void SetUp() override { InstallFactory(new FCImageHandleFactory_Gdiplus); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new GdiplusFactoryEnvironment);

const BYTE* Bytes(const std::string& s) { return reinterpret_cast<const BYTE*>(s.data()); }

// A 24-bit picture whose pixels differ in every channel.
FCObjImage Picture24(int w, int h)
{
    FCObjImage img;
    EXPECT_TRUE(img.Create(w, h, 24));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            BYTE* p = img.PixelAddress(x, y);
            p[0] = (BYTE)(x * 40);
            p[1] = (BYTE)(y * 50);
            p[2] = (BYTE)(x * 10 + y * 20 + 5);
        }
    return img;
}

// Decodes with a codec directly and hands the first image over.
std::unique_ptr<FCObjImage> Decode(FCImageHandleBase&& codec, const std::string& bytes)
{
    if (!codec.DecodeMemory(Bytes(bytes), (int)bytes.size()))
        return nullptr;
    std::vector<FCObjImage*> images = codec.GetImages(true);
    if (images.empty())
        return nullptr;
    for (size_t i = 1; i < images.size(); ++i)
        delete images[i];
    return std::unique_ptr<FCObjImage>(images[0]);
}

bool SamePixels(const FCObjImage& a, const FCObjImage& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.ColorBits() != b.ColorBits())
        return false;
    const size_t n = (size_t)a.ColorBits() * a.Width() / 8;
    for (int y = 0; y < a.Height(); ++y)
        if (memcmp(a.PixelAddress(0, y), b.PixelAddress(0, y), n) != 0)
            return false;
    return true;
}

TEST(FactoryTypeFromPath, ExtensionsAfterTheLastDot)
{
    struct {
        const char* path;
        FCImageType type;
    } rows[] = {
        {"photo.JPG", IMG_JPG}, {"photo.jpeg", IMG_JPG}, {"scan.TIF", IMG_TIF}, {"scan.tiff", IMG_TIF},
        {"a.tar.bmp", IMG_BMP}, {".png", IMG_PNG},       {"C:\\pics.old\\scan", IMG_UNKNOWN},
        {"README", IMG_UNKNOWN}, {"image.pcx", IMG_PCX}, {"layers.psd", IMG_PSD}, {"x.gif", IMG_GIF},
        {"x.tga", IMG_TGA},     {"x.ico", IMG_ICO},      {"x.xpm", IMG_XPM},     {"x.vxl", IMG_VXL},
        {"x.", IMG_UNKNOWN},     {"x.jpgx", IMG_UNKNOWN}, {nullptr, IMG_UNKNOWN},
    };
    for (auto& r : rows) {
        SCOPED_TRACE(r.path ? r.path : "(null)");
        EXPECT_EQ(r.type, CurrentFactory().TypeFromPath(r.path));
    }
}

TEST(Factories, ChoiceTable)
{
    FCImageHandleFactory_Gdiplus gdip;
    FCImageHandleFactory_IPicture ipic;
    struct {
        FCImageType type;
        const char* gdiplus;  // codec class name, "" for none
        const char* ipicture;
    } rows[] = {
        {IMG_BMP, "Bmp", "Bmp"},   {IMG_JPG, "Gdiplus", "IPicture"}, {IMG_GIF, "Gdiplus", "IPicture"},
        {IMG_TGA, "Tga", "Tga"},   {IMG_TIF, "Gdiplus", ""},         {IMG_PNG, "Gdiplus", ""},
        {IMG_UNKNOWN, "", ""},     {IMG_PCX, "", ""},                {IMG_PSD, "", ""},
        {IMG_ICO, "", ""},         {IMG_XPM, "", ""},                {IMG_VXL, "", ""},
        {(FCImageType)99, "", ""},
    };
    auto name = [](FCImageHandleBase* c) -> std::string {
        std::unique_ptr<FCImageHandleBase> own(c);
        if (!c)
            return "";
        if (dynamic_cast<FCImageHandle_Bmp*>(c))
            return "Bmp";
        if (dynamic_cast<FCImageHandle_Tga*>(c))
            return "Tga";
        if (dynamic_cast<FCImageHandle_Gdiplus*>(c))
            return "Gdiplus";
        if (dynamic_cast<FCImageHandle_IPicture*>(c))
            return "IPicture";
        return "?";
    };
    for (auto& r : rows) {
        SCOPED_TRACE(r.type);
        EXPECT_EQ(r.gdiplus, name(gdip.CreateCodec(r.type)));
        EXPECT_EQ(r.ipicture, name(ipic.CreateCodec(r.type)));
    }
}

TEST(FactoryInstall, NullAndCurrentFactoryChangeNothing)
{
    FCImageHandleFactory* current = &CurrentFactory();
    InstallFactory(nullptr);
    EXPECT_EQ(current, &CurrentFactory());
    InstallFactory(current);
    EXPECT_EQ(current, &CurrentFactory());
}

TEST(BmpWriter, HeadersByteForByte)
{
    TempDir dir;
    FCObjImage img = Picture24(2, 2);
    ASSERT_TRUE(img.WriteToFile((dir / "a.bmp").c_str(), 90));
    std::string f = ReadWhole(dir / "a.bmp");
    ASSERT_EQ(70u, f.size());
    EXPECT_EQ("BM", f.substr(0, 2));
    EXPECT_EQ(70u, ReadLE32(Bytes(f) + 2));
    EXPECT_EQ(0u, ReadLE32(Bytes(f) + 6));
    EXPECT_EQ(54u, ReadLE32(Bytes(f) + 10));
    EXPECT_EQ(0, memcmp(f.data() + 14, &img.GetInfoHeader(), 40));
    EXPECT_EQ(0, memcmp(f.data() + 54, img.GetMemStart(), 16));

    struct {
        int bpp;
        bool bitfields;
        uint32_t offset;
    } rows[] = {{8, false, 1078}, {1, false, 62}, {4, false, 118}, {16, true, 66}, {16, false, 54}, {32, false, 54}};
    for (auto& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.bpp << (r.bitfields ? " bit fields" : ""));
        struct {
            BITMAPINFOHEADER h;
            DWORD masks[3];
        } info = {{40, 3, 2, 1, (WORD)r.bpp, r.bitfields ? (DWORD)BI_BITFIELDS : (DWORD)BI_RGB, 0, 0, 0, 0, 0},
                  {0xF800, 0x07E0, 0x001F}};
        FCObjImage t;
        ASSERT_TRUE(t.CreateFromInfo(&info.h));
        ASSERT_TRUE(t.WriteToFile((dir / "t.bmp").c_str(), -1));
        std::string b = ReadWhole(dir / "t.bmp");
        EXPECT_EQ(r.offset, ReadLE32(Bytes(b) + 10));
        EXPECT_EQ(r.offset + (uint32_t)t.GetPitch() * 2, b.size());
        EXPECT_EQ(b.size(), ReadLE32(Bytes(b) + 2));
        if (r.bitfields) {
            EXPECT_EQ(0xF800u, ReadLE32(Bytes(b) + 54));
        }
    }
}

TEST(BmpReader, RoundTripsEveryDepthWithPaletteAndMasks)
{
    TempDir dir;
    for (int bpp : {1, 4, 8, 16, 24, 32}) {
        SCOPED_TRACE(bpp);
        FCObjImage img;
        ASSERT_TRUE(img.Create(7, 5, (WORD)bpp));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < img.GetPitch(); ++x)
                img.PixelAddress(0, y)[x] = (BYTE)(x * 13 + y * 7);
        if (bpp <= 8) {
            RGBQUAD q = {10, 20, 30, 0};
            img.SetPalette(&q, 1);
        }
        const std::string path = dir / "r.bmp";
        ASSERT_TRUE(img.WriteToFile(path.c_str(), 0));
        FCObjImage back;
        ASSERT_TRUE(back.ReadFromFile(path.c_str()));
        EXPECT_TRUE(SamePixels(img, back));
        if (bpp <= 8) {
            EXPECT_EQ(30, back.GetPaletteEntries()[0].rgbRed);
        }
    }
}

// A minimal BMP file: 40-byte header, optional palette, pixel bytes.
std::string MakeBmp(int w, int h, int bpp, const std::string& pixels, uint32_t offset = 0)
{
    const uint32_t pal = bpp <= 8 ? 4u << bpp : 0;
    std::string f(54 + pal, '\0');
    f[0] = 'B';
    f[1] = 'M';
    pixmill::WriteLE32(reinterpret_cast<uint8_t*>(&f[10]), offset ? offset : 54 + pal);
    pixmill::WriteLE32(reinterpret_cast<uint8_t*>(&f[14]), 40);
    pixmill::WriteLE32(reinterpret_cast<uint8_t*>(&f[18]), (uint32_t)w);
    pixmill::WriteLE32(reinterpret_cast<uint8_t*>(&f[22]), (uint32_t)h);
    pixmill::WriteLE16(reinterpret_cast<uint8_t*>(&f[26]), 1);
    pixmill::WriteLE16(reinterpret_cast<uint8_t*>(&f[28]), (uint16_t)bpp);
    return f + pixels;
}

TEST(BmpReader, RefusesBadHeadersAndLoadsShortFilesWithBlackTopRows)
{
    const std::string good = MakeBmp(2, 2, 24, std::string("\x01\x02\x03\x04\x05\x06\0\0\x07\x08\x09\x0a\x0b\x0c\0\0", 16));
    ASSERT_NE(nullptr, Decode(FCImageHandle_Bmp(), good));

    std::string mb = good;
    mb[0] = 'M';
    mb[1] = 'B';
    std::string offsetAtEnd = good;
    pixmill::WriteLE32(reinterpret_cast<uint8_t*>(&offsetAtEnd[10]), (uint32_t)good.size());
    std::string offsetHuge = good;
    pixmill::WriteLE32(reinterpret_cast<uint8_t*>(&offsetHuge[10]), 0x80000000u);
    std::string coreHeader = good;
    pixmill::WriteLE32(reinterpret_cast<uint8_t*>(&coreHeader[14]), 12);
    std::string topDown = good;
    pixmill::WriteLE32(reinterpret_cast<uint8_t*>(&topDown[22]), (uint32_t)-2);
    std::string rle = good;
    pixmill::WriteLE32(reinterpret_cast<uint8_t*>(&rle[30]), BI_RLE8);
    std::string hugeHeader = MakeBmp(2, 2, 8, "");
    pixmill::WriteLE32(reinterpret_cast<uint8_t*>(&hugeHeader[14]), 0xFFFFFFF0u);
    hugeHeader += std::string(8, '\0');
    std::string shortPalette = MakeBmp(2, 2, 8, "").substr(0, 54 + 100);
    pixmill::WriteLE32(reinterpret_cast<uint8_t*>(&shortPalette[10]), 60);
    std::string bitfieldsCut = MakeBmp(2, 2, 16, "").substr(0, 60);
    pixmill::WriteLE32(reinterpret_cast<uint8_t*>(&bitfieldsCut[30]), BI_BITFIELDS);
    pixmill::WriteLE32(reinterpret_cast<uint8_t*>(&bitfieldsCut[10]), 58);

    struct {
        const char* name;
        std::string bytes;
    } refused[] = {
        {"14 bytes", good.substr(0, 14)},
        {"MB", mb},
        {"offset equals size", offsetAtEnd},
        {"offset beyond 2 GiB", offsetHuge},
        {"core header", coreHeader},
        {"top-down", topDown},
        {"run-length", rle},
        {"header size beyond the file", hugeHeader},
        {"palette cut short", shortPalette},
        {"masks cut short", bitfieldsCut},
        {"header cut short", good.substr(0, 40)},
        {"pixel block above 256 MiB", MakeBmp(10000, 10000, 24, std::string(16, '\0'))},
    };
    for (auto& r : refused) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(nullptr, Decode(FCImageHandle_Bmp(), r.bytes));
    }
    FCImageHandle_Bmp codec;
    EXPECT_FALSE(codec.DecodeMemory(nullptr, 100));

    // Only the bottom row is in the file: the top row stays black.
    auto img = Decode(FCImageHandle_Bmp(), good.substr(0, 54 + 8));
    ASSERT_NE(nullptr, img);
    EXPECT_EQ(0, memcmp(img->PixelAddress(0, 1), "\x01\x02\x03\x04\x05\x06", 6));
    EXPECT_EQ(0, memcmp(img->PixelAddress(0, 0), "\0\0\0\0\0\0", 6));
}

TEST(ReadFromFile, FailuresLeaveTheTargetAsItWas)
{
    TempDir dir;
    FCObjImage img = Picture24(3, 3);
    BYTE* before = img.GetMemStart();
    const std::string empty = dir.Write("empty.bmp", "");
    const std::string junk = dir.Write("junk.png", "not a picture");
    const std::string pcx = dir.Write("x.pcx", "whatever");
    for (const std::string& p : {empty, junk, pcx, dir / "missing.bmp", dir / "noext"}) {
        SCOPED_TRACE(p);
        EXPECT_FALSE(img.ReadFromFile(p.c_str()));
        EXPECT_EQ(before, img.GetMemStart());
    }
    EXPECT_FALSE(img.ReadFromFile(nullptr));
}

TEST(WriteToFile, EmptyImagesUnknownTypesAndBadFoldersCreateNoFile)
{
    TempDir dir;
    FCObjImage empty;
    EXPECT_FALSE(empty.WriteToFile((dir / "e.bmp").c_str(), -1));
    FCObjImage img = Picture24(2, 2);
    EXPECT_FALSE(img.WriteToFile((dir / "x.pcx").c_str(), -1));
    EXPECT_FALSE(img.WriteToFile((dir / "noext").c_str(), -1));
    EXPECT_FALSE(img.WriteToFile(nullptr, -1));
    for (const char* ext : {"bmp", "tga", "png", "jpg", "gif", "tif"}) {
        SCOPED_TRACE(ext);
        EXPECT_FALSE(img.WriteToFile((dir / "missing-folder/x." + ext).c_str(), -1));
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(WriteToFile, NoWriterFollowsALinkOrWritesIntoAnythingButAFile)
{
    // Someone sharing the output folder planted these at the picture's name.
    struct Planted {
        const char* what;
        int (*plant)(const std::string& name, const std::string& victim);
    } planted[] = {
        {"link to a file", [](const std::string& n, const std::string& v) { return symlink(v.c_str(), n.c_str()); }},
        {"dangling link", [](const std::string& n, const std::string& v) { return symlink((v + ".new").c_str(), n.c_str()); }},
        {"named pipe", [](const std::string& n, const std::string&) { return mkfifo(n.c_str(), 0600); }},
    };
    FCObjImage img = Picture24(4, 3);
    for (const char* ext : {"bmp", "tga", "png", "jpg", "gif", "tif"}) {
        for (const Planted& p : planted) {
            SCOPED_TRACE(std::string(ext) + ": " + p.what);
            TempDir dir;
            const std::string victim = dir.Write("victim.txt", "0xdeadbeef");
            const std::string name = dir / (std::string("page_1.") + ext);
            ASSERT_EQ(0, p.plant(name, victim));
            EXPECT_FALSE(img.WriteToFile(name.c_str(), -1));
            EXPECT_EQ("0xdeadbeef", ReadWhole(victim));
            EXPECT_FALSE(std::filesystem::exists(victim + ".new")) << "nothing made through the link";
            EXPECT_TRUE(std::filesystem::is_symlink(name) || std::filesystem::is_fifo(name)) << "left as it was";
        }
        // A regular file at the name is replaced by the picture.
        SCOPED_TRACE(ext);
        TempDir dir;
        const std::string name = dir.Write(std::string("page_1.") + ext, std::string(100000, 'o'));
        ASSERT_TRUE(img.WriteToFile(name.c_str(), -1));
        FCObjImage back;
        if (strcmp(ext, "jpg") != 0 && strcmp(ext, "gif") != 0) {
            ASSERT_TRUE(back.ReadFromFile(name.c_str()));
            EXPECT_EQ(4, back.Width());
        }
        EXPECT_LT(ReadWhole(name).size(), 100000u) << "the old content is gone";
    }
}

TEST(TgaWriter, HeaderIdAndColourMap)
{
    TempDir dir;
    FCObjImage img;
    ASSERT_TRUE(img.Create(300, 2, 8));
    RGBQUAD q = {1, 2, 3, 4};
    img.SetPalette(&q, 1);
    ASSERT_TRUE(img.WriteToFile((dir / "a.tga").c_str(), -1));
    std::string f = ReadWhole(dir / "a.tga");
    ASSERT_EQ(18u + 12 + 768 + 600, f.size());
    const BYTE header[18] = {12, 1, 1, 0, 0, 0, 1, 24, 0, 0, 0, 0, 0x2C, 0x01, 2, 0, 8, 0x20};
    EXPECT_EQ(0, memcmp(f.data(), header, 18));
    EXPECT_EQ("Vexal -- TGA", f.substr(18, 12));
    EXPECT_EQ(std::string("\x01\x02\x03", 3), f.substr(30, 3));  // blue, green, red
    EXPECT_EQ(std::string("\x01\x01\x01", 3), f.substr(33, 3));  // grey entry 1

    struct {
        int bpp, flag;
        BYTE type, mapType;
    } rows[] = {{8, 1, 9, 1}, {16, -1, 2, 0}, {24, -1, 2, 0}, {24, 1, 10, 0}, {32, 1, 10, 0}};
    for (auto& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.bpp << " flag " << r.flag);
        FCObjImage t;
        ASSERT_TRUE(t.Create(3, 2, (WORD)r.bpp));
        ASSERT_TRUE(t.WriteToFile((dir / "t.tga").c_str(), r.flag));
        std::string b = ReadWhole(dir / "t.tga");
        EXPECT_EQ(r.mapType, (BYTE)b[1]);
        EXPECT_EQ(r.type, (BYTE)b[2]);
        EXPECT_EQ(256, ReadLE16(Bytes(b) + 5));
        EXPECT_EQ(24, (BYTE)b[7]);
        EXPECT_EQ(r.bpp, (BYTE)b[16]);
        EXPECT_EQ(0x20, (BYTE)b[17]);
    }
}

TEST(TgaWriter, RefusalsCreateNoFile)
{
    TempDir dir;
    for (int bpp : {1, 4}) {
        FCObjImage t;
        ASSERT_TRUE(t.Create(3, 2, (WORD)bpp));
        EXPECT_FALSE(t.WriteToFile((dir / "t.tga").c_str(), -1));
    }
    // A save flag that is neither uncompressed nor run-length would drop the pixels.
    FCObjImage img = Picture24(2, 2);
    EXPECT_FALSE(img.WriteToFile((dir / "t.tga").c_str(), 90));
    EXPECT_FALSE(img.WriteToFile((dir / "t.tga").c_str(), 0));
    FCObjImage wide;
    ASSERT_TRUE(wide.Create(70000, 1, 8));
    EXPECT_FALSE(wide.WriteToFile((dir / "t.tga").c_str(), -1));
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(TgaWriter, RunLengthRowsUseOnlyRunPackets)
{
    TempDir dir;
    FCObjImage img;
    ASSERT_TRUE(img.Create(300, 2, 24));
    for (int x = 0; x < 300; ++x) {
        memcpy(img.PixelAddress(x, 0), "\x11\x22\x33", 3);
        memcpy(img.PixelAddress(x, 1), (x & 1) ? "\x01\x02\x03" : "\x04\x05\x06", 3);
    }
    ASSERT_TRUE(img.WriteToFile((dir / "r.tga").c_str(), 1));
    std::string f = ReadWhole(dir / "r.tga");
    std::string row0 = f.substr(30, 12);
    EXPECT_EQ(std::string("\xFF\x11\x22\x33\xFF\x11\x22\x33\xAB\x11\x22\x33", 12), row0);
    // Alternating colours: one 0x80 packet per pixel.
    std::string row1 = f.substr(42);
    ASSERT_EQ(300u * 4, row1.size());
    for (int x = 0; x < 300; ++x) {
        SCOPED_TRACE(x);
        EXPECT_EQ(0x80, (BYTE)row1[(size_t)x * 4]);
        EXPECT_EQ((x & 1) ? 1 : 4, (BYTE)row1[(size_t)x * 4 + 1]);
    }
}

TEST(TgaRoundTrip, UncompressedAndRunLengthKeepPixelsAndPalette)
{
    TempDir dir;
    for (int bpp : {8, 16, 24, 32}) {
        for (int flag : {-1, 1}) {
            SCOPED_TRACE(::testing::Message() << bpp << " flag " << flag);
            FCObjImage img;
            ASSERT_TRUE(img.Create(131, 4, (WORD)bpp));
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < img.GetPitch(); ++x)
                    img.PixelAddress(0, y)[x] = (BYTE)((x / 5) * 3 + y);  // runs and changes
            if (bpp == 8) {
                RGBQUAD q = {9, 8, 7, 0};
                img.SetPalette(&q, 1);
            }
            const std::string path = dir / "x.tga";
            ASSERT_TRUE(img.WriteToFile(path.c_str(), flag));
            FCObjImage back;
            ASSERT_TRUE(back.ReadFromFile(path.c_str()));
            EXPECT_TRUE(SamePixels(img, back));
            if (bpp == 8) {
                EXPECT_EQ(7, back.GetPaletteEntries()[0].rgbRed);
            }
        }
    }
}

// An 18-byte TGA header.
std::string TgaHeader(BYTE type, int w, int h, BYTE depth, BYTE desc, BYTE mapType = 0, int mapFirst = 0,
                      int mapLen = 0, BYTE mapEntry = 0, BYTE idLen = 0)
{
    std::string s(18, '\0');
    uint8_t* p = reinterpret_cast<uint8_t*>(&s[0]);
    p[0] = idLen;
    p[1] = mapType;
    p[2] = type;
    pixmill::WriteLE16(p + 3, (uint16_t)mapFirst);
    pixmill::WriteLE16(p + 5, (uint16_t)mapLen);
    p[7] = mapEntry;
    pixmill::WriteLE16(p + 12, (uint16_t)w);
    pixmill::WriteLE16(p + 14, (uint16_t)h);
    p[16] = depth;
    p[17] = desc;
    return s;
}

TEST(TgaReader, DescriptorChoosesTheRowOrder)
{
    const std::string rows = std::string("\x01\x01\x01\x02\x02\x02", 6);
    auto bottomUp = Decode(FCImageHandle_Tga(), TgaHeader(2, 1, 2, 24, 0x00) + rows);
    auto topDown = Decode(FCImageHandle_Tga(), TgaHeader(2, 1, 2, 24, 0x20) + rows);
    ASSERT_NE(nullptr, bottomUp);
    ASSERT_NE(nullptr, topDown);
    EXPECT_EQ(1, bottomUp->PixelAddress(0, 1)[0]);  // first file row at the bottom
    EXPECT_EQ(2, bottomUp->PixelAddress(0, 0)[0]);
    EXPECT_EQ(1, topDown->PixelAddress(0, 0)[0]);
    EXPECT_EQ(2, topDown->PixelAddress(0, 1)[0]);
}

TEST(TgaReader, FifteenBitLoadsAsFiveFiveFive)
{
    auto img = Decode(FCImageHandle_Tga(), TgaHeader(2, 2, 1, 15, 0x20) + std::string("\x1f\x00\xe0\x7f", 4));
    ASSERT_NE(nullptr, img);
    EXPECT_EQ(16, img->ColorBits());
    EXPECT_EQ(0x7C00u, img->GetMask(0));
    EXPECT_EQ(0x03E0u, img->GetMask(1));
    EXPECT_EQ(0x001Fu, img->GetMask(2));
    EXPECT_EQ(0, memcmp(img->PixelAddress(0, 0), "\x1f\x00\xe0\x7f", 4));
}

TEST(TgaReader, ColourMapsIdFieldAndRefusals)
{
    // ID of 3 bytes, a map of two 32-bit entries starting at 5, one row of indexes.
    std::string f = TgaHeader(1, 2, 1, 8, 0x20, 1, 5, 2, 32, 3) + "abc" + std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8) +
                    std::string("\x05\x06", 2);
    auto img = Decode(FCImageHandle_Tga(), f);
    ASSERT_NE(nullptr, img);
    EXPECT_EQ(0, memcmp(img->PixelAddress(0, 0), "\x05\x06", 2));
    const RGBQUAD* pal = img->GetPaletteEntries();
    EXPECT_EQ(1, pal[5].rgbBlue);
    EXPECT_EQ(3, pal[5].rgbRed);
    EXPECT_EQ(4, pal[5].rgbReserved);
    EXPECT_EQ(7, pal[6].rgbRed);
    EXPECT_EQ(0, pal[0].rgbRed);  // entries outside the map are zero, not grey
    EXPECT_EQ(0, pal[200].rgbRed);

    struct {
        const char* name;
        std::string bytes;
    } refused[] = {
        {"map past 256 entries", TgaHeader(1, 1, 1, 8, 0, 1, 250, 10, 24) + std::string(40, '\0')},
        {"16-bit map entries", TgaHeader(2, 1, 1, 24, 0, 0, 0, 0, 16) + "abc"},
        {"15-bit map entries", TgaHeader(2, 1, 1, 24, 0, 0, 0, 0, 15) + "abc"},
        {"map cut short", TgaHeader(1, 1, 1, 8, 0, 1, 0, 256, 24) + std::string(100, '\0')},
        {"zero width", TgaHeader(2, 0, 1, 24, 0) + "abc"},
        {"depth 7", TgaHeader(2, 1, 1, 7, 0) + "abc"},
        {"run-length below 8 bits", TgaHeader(11, 8, 1, 1, 0) + "abc"},
        {"header cut short", TgaHeader(2, 1, 1, 24, 0).substr(0, 17)},
        {"pixel block above 256 MiB", TgaHeader(2, 20000, 20000, 8, 0) + "abc"},
    };
    for (auto& r : refused) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(nullptr, Decode(FCImageHandle_Tga(), r.bytes));
    }
}

TEST(TgaReader, TruncatedAndOverlongPacketsStayInsideTheImage)
{
    // A run packet of 4 pixels in a 3-pixel row: the last one starts the next row.
    std::string f = TgaHeader(10, 3, 2, 24, 0x20) + std::string("\x83\x0a\x0b\x0c\x81\x0d\x0e\x0f", 8);
    auto img = Decode(FCImageHandle_Tga(), f);
    ASSERT_NE(nullptr, img);
    EXPECT_EQ(0, memcmp(img->PixelAddress(0, 0), "\x0a\x0b\x0c\x0a\x0b\x0c\x0a\x0b\x0c", 9));
    EXPECT_EQ(0, memcmp(img->PixelAddress(0, 1), "\x0a\x0b\x0c\x0d\x0e\x0f\x0d\x0e\x0f", 9));

    // A raw packet that claims more pixels than the file has: what is there loads.
    auto cut = Decode(FCImageHandle_Tga(), TgaHeader(10, 3, 2, 24, 0x20) + std::string("\x05\x01\x02\x03\x04", 5));
    ASSERT_NE(nullptr, cut);
    EXPECT_EQ(0, memcmp(cut->PixelAddress(0, 0), "\x01\x02\x03\0\0\0", 6));
    // Uncompressed data cut in the middle of the first row.
    auto shortRow = Decode(FCImageHandle_Tga(), TgaHeader(2, 3, 2, 24, 0x20) + "\x07\x07\x07\x07");
    ASSERT_NE(nullptr, shortRow);
    EXPECT_EQ(7, shortRow->PixelAddress(1, 0)[0]);
    EXPECT_EQ(0, shortRow->PixelAddress(1, 0)[1]);
    // An ID longer than the file.
    EXPECT_NE(nullptr, Decode(FCImageHandle_Tga(), TgaHeader(2, 2, 2, 24, 0, 0, 0, 0, 0, 200)));
}

TEST(GdiplusCodec, RoundTripsThroughEveryEncoder)
{
    TempDir dir;
    FCObjImage img = Picture24(37, 23);
    // PNG, TIFF and BMP keep pixels exactly.
    for (const char* ext : {"png", "tif", "tiff"}) {
        SCOPED_TRACE(ext);
        const std::string path = dir / (std::string("x.") + ext);
        ASSERT_TRUE(img.WriteToFile(path.c_str(), 90));
        FCObjImage back;
        ASSERT_TRUE(back.ReadFromFile(path.c_str()));
        ASSERT_EQ(37, back.Width());
        ASSERT_EQ(23, back.Height());
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 37; ++x) {
                const BYTE* a = img.PixelAddress(x, y);
                const BYTE* b = back.PixelAddress(x, y);
                const int bpp = back.ColorBits() / 8;
                ASSERT_TRUE(a[0] == b[0] && a[1] == b[1] && a[2] == b[2]) << x << "," << y;
                if (bpp == 4) {
                    ASSERT_EQ(255, b[3]);
                }
            }
    }
    // JPEG: close, not exact, on a smooth picture as photographs and pages are.
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) {
            BYTE* p = img.PixelAddress(x, y);
            p[0] = (BYTE)(x * 4);
            p[1] = (BYTE)(y * 5 + 40);
            p[2] = (BYTE)((x + y) * 3 + 20);
        }
    const std::string jpg = dir / "x.jpg";
    ASSERT_TRUE(img.WriteToFile(jpg.c_str(), 90));
    FCObjImage back;
    ASSERT_TRUE(back.ReadFromFile(jpg.c_str()));
    ASSERT_EQ(24, back.ColorBits());
    double err = 0;
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37 * 3; ++x)
            err += std::abs(img.PixelAddress(0, y)[x] - back.PixelAddress(0, y)[x]);
    EXPECT_LT(err / (37 * 23 * 3), 3.0);
}

TEST(GdiplusCodec, JpegQualityIgnoresTheSaveFlag)
{
    TempDir dir;
    FCObjImage img = Picture24(40, 30);
    ASSERT_TRUE(img.WriteToFile((dir / "a.jpg").c_str(), 90));
    ASSERT_TRUE(img.WriteToFile((dir / "b.jpg").c_str(), -1));
    EXPECT_EQ(ReadWhole(dir / "a.jpg"), ReadWhole(dir / "b.jpg"));
}

TEST(GdiplusCodec, GifKeepsTheEightBitPalette)
{
    TempDir dir;
    FCObjImage img;
    ASSERT_TRUE(img.Create(9, 4, 8));
    RGBQUAD pal[256];
    for (int i = 0; i < 256; ++i)
        pal[i] = RGBQUAD{(BYTE)i, (BYTE)(255 - i), (BYTE)(i * 3), 0};
    img.SetPalette(pal, 256);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x)
            *img.PixelAddress(x, y) = (BYTE)(x * 20 + y);
    ASSERT_TRUE(img.WriteToFile((dir / "p.gif").c_str(), 0));
    FCObjImage back;
    ASSERT_TRUE(back.ReadFromFile((dir / "p.gif").c_str()));
    ASSERT_EQ(8, back.ColorBits());
    EXPECT_TRUE(SamePixels(img, back));
    for (int i = 0; i < 256; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pal[i].rgbRed, back.GetPaletteEntries()[i].rgbRed);
        EXPECT_EQ(pal[i].rgbBlue, back.GetPaletteEntries()[i].rgbBlue);
        EXPECT_EQ(255, back.GetPaletteEntries()[i].rgbReserved);  // GDI+ alpha of opaque entries
    }
}

TEST(GdiplusCodec, DecodeMemoryRefusesNullAndEmptyData)
{
    FCImageHandle_Gdiplus codec;
    EXPECT_FALSE(codec.DecodeMemory(nullptr, 10));
    EXPECT_FALSE(codec.DecodeMemory(Bytes("x"), 0));
    EXPECT_FALSE(codec.DecodeMemory(Bytes("garbage!"), 8));
    EXPECT_TRUE(codec.GetImages(false).empty());
    FCImageHandle_Gdiplus none;
    EXPECT_FALSE(none.EncodeFile("/tmp/never.png", 0));  // empty save list
}

TEST(IPictureCodec, DecodesGifAndJpegIntoTwentyFourBits)
{
    TempDir dir;
    FCObjImage img;
    ASSERT_TRUE(img.Create(6, 5, 8));
    RGBQUAD q[2] = {{0, 0, 255, 0}, {255, 0, 0, 0}};
    img.SetPalette(q, 2);
    for (int x = 0; x < 6; ++x)
        *img.PixelAddress(x, 2) = 1;
    ASSERT_TRUE(img.WriteToFile((dir / "p.gif").c_str(), 0));
    auto pic = Decode(FCImageHandle_IPicture(), ReadWhole(dir / "p.gif"));
    ASSERT_NE(nullptr, pic);
    EXPECT_EQ(24, pic->ColorBits());
    EXPECT_EQ(6, pic->Width());
    EXPECT_EQ(0, memcmp(pic->PixelAddress(0, 0), "\x00\x00\xff", 3));  // red: palette entry 0
    EXPECT_EQ(0, memcmp(pic->PixelAddress(3, 2), "\xff\x00\x00", 3));  // blue: entry 1

    FCImageHandle_IPicture codec;
    EXPECT_FALSE(codec.DecodeMemory(Bytes("junk data"), 9));
    EXPECT_FALSE(codec.DecodeMemory(nullptr, 9));
    EXPECT_FALSE(codec.EncodeFile((dir / "x.jpg").c_str(), -1));

    // With the OLE picture factory current, JPEG reads go through it; PNG has no codec.
    FCObjImage rgb = Picture24(8, 8);
    ASSERT_TRUE(rgb.WriteToFile((dir / "p.jpg").c_str(), 0));
    ASSERT_TRUE(rgb.WriteToFile((dir / "p.png").c_str(), 0));
    InstallFactory(new FCImageHandleFactory_IPicture);
    FCObjImage back;
    EXPECT_TRUE(back.ReadFromFile((dir / "p.jpg").c_str()));
    EXPECT_EQ(24, back.ColorBits());
    EXPECT_FALSE(back.ReadFromFile((dir / "p.png").c_str()));
    EXPECT_FALSE(rgb.WriteToFile((dir / "q.jpg").c_str(), 0));
    InstallFactory(new FCImageHandleFactory_Gdiplus);
}

}  // namespace
