// Small picture files made at test time with the codec libraries themselves, in the exact
// forms (bit depths, colour types, transparency) the tests need.
#pragma once

#include <png.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gif_lib.h>

namespace testimages {

struct PngRecipe {
    int width = 2, height = 2, depth = 8, colorType = PNG_COLOR_TYPE_RGB;
    std::vector<png_color> palette;
    std::vector<png_byte> trans;       // palette alpha
    int transGrey = -1;                // grey value made transparent
    std::vector<std::vector<png_byte>> rows;  // packed as the PNG stores them
};

inline void AppendToString(png_structp png, png_bytep data, png_size_t n)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), n);
}
inline void NoFlush(png_structp) {}

inline std::string MakePng(const PngRecipe& s)
{
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return "";
    }
    png_set_write_fn(png, &out, AppendToString, NoFlush);
    png_set_IHDR(png, info, s.width, s.height, s.depth, s.colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!s.palette.empty())
        png_set_PLTE(png, info, s.palette.data(), (int)s.palette.size());
    if (!s.trans.empty())
        png_set_tRNS(png, info, s.trans.data(), (int)s.trans.size(), nullptr);
    if (s.transGrey >= 0) {
        png_color_16 c = {};
        c.gray = (png_uint_16)s.transGrey;
        png_set_tRNS(png, info, nullptr, 0, &c);
    }
    png_write_info(png, info);
    for (const auto& r : s.rows)
        png_write_row(png, r.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// A one-frame GIF: 8-bit indexes, the given colours, optionally a transparent index and a
// logical screen larger than the frame placed at (left, top).
inline std::string MakeGif(int w, int h, const std::vector<GifColorType>& colors, const std::vector<uint8_t>& pixels,
                           int transparent = -1, int screenW = 0, int screenH = 0, int left = 0, int top = 0,
                           int background = 0)
{
    char tmpl[] = "/tmp/folium-gif-XXXXXX";
    int fd = mkstemp(tmpl);
    int err = 0;
    GifFileType* gif = EGifOpenFileHandle(fd, &err);
    std::vector<GifColorType> full(colors);
    full.resize(256);
    ColorMapObject* map = GifMakeMapObject(256, full.data());
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, screenW ? screenW : w, screenH ? screenH : h, 8, background, map);
    if (transparent >= 0) {
        GraphicsControlBlock gcb = {};
        gcb.TransparentColor = transparent;
        GifByteType ext[4];
        size_t n = EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, (int)n, ext);
    }
    EGifPutImageDesc(gif, left, top, w, h, false, nullptr);
    for (int y = 0; y < h; ++y)
        EGifPutLine(gif, const_cast<GifPixelType*>(&pixels[(size_t)y * w]), w);
    EGifCloseFile(gif, &err);
    GifFreeMapObject(map);
    FILE* f = fopen(tmpl, "rb");
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        out.append(buf, n);
    fclose(f);
    remove(tmpl);
    return out;
}

// A BMP with a 40-byte header, optional bit fields and palette, rows bottom-up as given.
inline std::string MakeBmp(int w, int h, int bpp, unsigned compression, const std::vector<uint32_t>& extra,
                           const std::string& pixels)
{
    std::string f(54, '\0');
    auto put32 = [&f](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            f[at + i] = (char)(v >> (8 * i));
    };
    f[0] = 'B';
    f[1] = 'M';
    put32(10, (uint32_t)(54 + 4 * extra.size()));
    put32(14, 40);
    put32(18, (uint32_t)w);
    put32(22, (uint32_t)h);
    f[26] = 1;
    f[28] = (char)bpp;
    put32(30, compression);
    for (uint32_t v : extra) {
        f.append(4, '\0');
        put32(f.size() - 4, v);
    }
    f += pixels;
    put32(2, (uint32_t)f.size());
    return f;
}

}  // namespace testimages
