// Capture of one A4 page at 96 dpi (794 x 1123) from a memory device context holding a
// rendered text page, written through Pixmill_CaptureDCToJPEG as the converter does, beside
// the references: a memcpy of the pixel block plus writing it, TurboJPEG's tjCompress2 on the
// same pixels at the same quality, and libpng on the same pixels at its default settings (the
// file size) and at the capture's zlib settings (the speed); PNG also of the page with a blue
// title, which is not all grey.
#include <benchmark/benchmark.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>
#include <turbojpeg.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Pixmill.h"

namespace {

const int kWidth = 794, kHeight = 1123;

const char* kText =
    "The quick brown fox jumps over the lazy dog. Folium Converter turns each page of a Word document into "
    "one picture, in BMP, JPG or PNG format, named after the document and the page number. Pages are drawn "
    "by the document engine at the screen's resolution on white, then captured from a memory device context "
    "and written by the image library in the format the file's extension names. 0123456789 (a, b, c) - "
    "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut labore. ";

struct Page {
    ~Page()
    {
        std::error_code ec;
        if (!dir.empty())
            std::filesystem::remove_all(dir, ec);
    }
    HDC dc = nullptr;
    HBITMAP bmp = nullptr;
    std::string dir;
    decltype(&Pixmill_CaptureDCToJPEG) capture = nullptr;
    std::vector<unsigned char> bgr;  // the page as 24-bit rows, bottom-up like a DIB
    int pitch = 0;
};

// Draws anti-aliased text on white with FreeType: a title, then 11-pixel body text with
// margins of one inch, as a rendered document page looks. All black, or with a blue title (a
// page that is not all grey).
void RenderText(HDC dc, bool blueTitle)
{
    RECT all = {0, 0, kWidth, kHeight};
    FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    FT_Library lib;
    FT_Face face;
    if (FT_Init_FreeType(&lib) != 0 ||
        FT_New_Face(lib, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 0, &face) != 0) {
        fprintf(stderr, "DejaVuSans.ttf not found: the page stays blank\n");
        return;
    }
    // Into a plain array first: one SetDIBitsToDevice for the whole page.
    std::vector<uint32_t> px((size_t)kWidth * kHeight, 0x00FFFFFF);
    auto draw = [&](int size, int top, int lines, bool blue) {
        FT_Set_Pixel_Sizes(face, 0, (FT_UInt)size);
        const int lineHeight = size * 3 / 2, left = 96, right = kWidth - 96;
        int x = left, y = top + size, line = 0;
        for (size_t i = 0; line < lines; i = (i + 1) % strlen(kText)) {
            if (FT_Load_Char(face, (FT_ULong)(unsigned char)kText[i], FT_LOAD_RENDER) != 0)
                continue;
            FT_GlyphSlot g = face->glyph;
            if (x + (g->advance.x >> 6) > right) {
                x = left;
                y += lineHeight;
                ++line;
            }
            for (unsigned r = 0; r < g->bitmap.rows; ++r)
                for (unsigned c = 0; c < g->bitmap.width; ++c) {
                    const int px_ = x + g->bitmap_left + (int)c, py = y - g->bitmap_top + (int)r;
                    if (px_ < 0 || py < 0 || px_ >= kWidth || py >= kHeight)
                        continue;
                    const unsigned v = 255 - g->bitmap.buffer[r * (unsigned)g->bitmap.pitch + c];
                    px[(size_t)py * kWidth + px_] = blue ? (v << 16) | (v << 8) | 0xFF : (v << 16) | (v << 8) | v;
                }
            x += (int)(g->advance.x >> 6);
        }
        return y + lineHeight;
    };
    int y = draw(24, 96, 1, blueTitle);
    y = draw(11, y + 20, 52, false);
    BITMAPINFO bi = {};
    bi.bmiHeader = {40, kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    SetDIBitsToDevice(dc, 0, 0, kWidth, kHeight, 0, 0, 0, kHeight, px.data(), &bi, DIB_RGB_COLORS);
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
}

void MakePage(Page& p, bool blueTitle)
{
    p.dc = CreateCompatibleDC(nullptr);
    p.bmp = CreateCompatibleBitmap(p.dc, kWidth, kHeight);
    SelectObject(p.dc, p.bmp);
    RenderText(p.dc, blueTitle);
    char tmpl[] = "/tmp/pixmill-bench-XXXXXX";
    p.dir = std::string(mkdtemp(tmpl)) + "/";
    HMODULE m = LoadLibraryA("Pixmill.dll");
    p.capture = reinterpret_cast<decltype(&Pixmill_CaptureDCToJPEG)>(
        reinterpret_cast<void*>(GetProcAddress(m, "Pixmill_CaptureDCToJPEG")));
    p.pitch = (kWidth * 3 + 3) & ~3;
    p.bgr.resize((size_t)p.pitch * kHeight);
    BITMAPINFO bi = {};
    bi.bmiHeader = {40, kWidth, kHeight, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    GetDIBits(p.dc, p.bmp, 0, kHeight, p.bgr.data(), &bi, DIB_RGB_COLORS);
}

// The black text page; with a blue title, the same page in colour. Made once, removed at exit.
Page& ThePage(bool blueTitle = false)
{
    static std::unique_ptr<Page> pages[2];
    std::unique_ptr<Page>& page = pages[blueTitle ? 1 : 0];
    if (!page) {
        page.reset(new Page);
        MakePage(*page, blueTitle);
    }
    return *page;
}

// Every page is a new file, as in a conversion run: rewriting one file would measure the
// file system's flush of a truncated file instead.
void RemoveUntimed(benchmark::State& state, const std::string& path)
{
    state.PauseTiming();
    remove(path.c_str());
    state.ResumeTiming();
}

void Report(benchmark::State& state, const std::string& path)
{
    state.counters["MP/s"] =
        benchmark::Counter((double)kWidth * kHeight / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    if (!path.empty())
        state.counters["bytes"] = (double)std::filesystem::file_size(path);
}

void Capture(benchmark::State& state, const char* name, bool blueTitle = false)
{
    Page& p = ThePage(blueTitle);
    const std::string path = p.dir + name;
    for (auto _ : state) {
        RemoveUntimed(state, path);
        if (!p.capture || !p.capture(p.dc, 0, 0, kWidth, kHeight, path.c_str(), 90)) {
            state.SkipWithError("capture failed");
            break;
        }
    }
    Report(state, path);
}

void BM_CaptureBmp(benchmark::State& state) { Capture(state, "page_1.bmp"); }
void BM_CapturePng(benchmark::State& state) { Capture(state, "page_1.png"); }
void BM_CaptureJpg(benchmark::State& state) { Capture(state, "page_1.jpg"); }
void BM_CapturePngBlueTitle(benchmark::State& state) { Capture(state, "page_2.png", true); }

// What the BMP path cannot beat: copying the 24-bit pixel block once and writing it out.
void BM_MemcpyPlusWrite(benchmark::State& state)
{
    Page& p = ThePage();
    std::vector<unsigned char> copy(p.bgr.size());
    const std::string path = p.dir + "memcpy.raw";
    for (auto _ : state) {
        RemoveUntimed(state, path);
        memcpy(copy.data(), p.bgr.data(), p.bgr.size());
        FILE* f = fopen(path.c_str(), "wb");
        fwrite(copy.data(), 1, copy.size(), f);
        fclose(f);
    }
    Report(state, path);
}

// TurboJPEG on the same 24-bit pixels, at GDI+'s default quality that the capture uses and with
// the fast integer DCT (TurboJPEG's default here), as the capture compresses at that quality.
void BM_TjCompress2(benchmark::State& state)
{
    Page& p = ThePage();
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    for (auto _ : state) {
        if (tjCompress2(tj, p.bgr.data(), kWidth, p.pitch, kHeight, TJPF_BGR, &jpeg, &size, TJSAMP_420, 75,
                        TJFLAG_BOTTOMUP | TJFLAG_FASTDCT) != 0) {
            state.SkipWithError(tjGetErrorStr2(tj));
            break;
        }
    }
    state.counters["bytes"] = (double)size;
    state.counters["MP/s"] =
        benchmark::Counter((double)kWidth * kHeight / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    tjFree(jpeg);
    tjDestroy(tj);
}

// libpng on the same pixels written as RGB rows: at its default filters and compression (the
// size the capture is held to), and unfiltered at zlib level 3 as the capture's encoder
// compresses (the speed it is held to).
void EncodePlainPng(benchmark::State& state, const char* name, bool defaults)
{
    Page& p = ThePage();
    const std::string path = p.dir + name;
    for (auto _ : state) {
        RemoveUntimed(state, path);
        FILE* f = fopen(path.c_str(), "wb");
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        if (!defaults) {
            png_set_filter(png, 0, PNG_FILTER_NONE);
            png_set_compression_level(png, 3);
        }
        png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_bgr(png);
        png_write_info(png, info);
        for (int y = 0; y < kHeight; ++y)
            png_write_row(png, p.bgr.data() + (size_t)(kHeight - 1 - y) * p.pitch);
        png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
        fclose(f);
    }
    Report(state, path);
}

void BM_PngLibpngDefaults(benchmark::State& state) { EncodePlainPng(state, "defaults.png", true); }
void BM_PngLibpngLevel3(benchmark::State& state) { EncodePlainPng(state, "level3.png", false); }

BENCHMARK(BM_CaptureBmp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyPlusWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CaptureJpg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TjCompress2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CapturePng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CapturePngBlueTitle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngLibpngLevel3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngLibpngDefaults)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
