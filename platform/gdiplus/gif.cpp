// GIF through giflib: the first frame, on the logical screen.
#include <gif_lib.h>

#include <cstring>

#include "../internal/gdiplus.h"

#include <unistd.h>

namespace platform {
namespace gdiplus {

namespace {

struct MemReader {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int n)
{
    auto* r = static_cast<MemReader*>(gif->UserData);
    if (n <= 0)
        return 0;
    size_t k = r->size - r->pos < (size_t)n ? r->size - r->pos : (size_t)n;
    memcpy(out, r->data + r->pos, k);
    r->pos += k;
    return (int)k;
}

struct GifCloser {
    GifFileType* gif;
    ~GifCloser()
    {
        int err;
        if (gif)
            DGifCloseFile(gif, &err);
    }
};

}  // namespace

Status DecodeGif(const uint8_t* data, size_t size, Bitmap** out)
{
    *out = nullptr;
    MemReader reader = {data, size, 0};
    int err = 0;
    GifCloser g{DGifOpen(&reader, ReadFromMemory, &err)};
    GifFileType* gif = g.gif;
    if (!gif)
        return GenericError;  // the signature was there; the screen or colour map is not
    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR)
            return GenericError;
        if (type == TERMINATE_RECORD_TYPE)
            return GenericError;  // no frame at all
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR)
                return GenericError;
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
                GraphicsControlBlock gcb;
                if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK)
                    transparent = gcb.TransparentColor;
            }
            while (ext) {
                if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR)
                    return GenericError;
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE)
            continue;
        if (DGifGetImageDesc(gif) == GIF_ERROR)
            return GenericError;
        const GifImageDesc& d = gif->Image;
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        if (!map || d.Width <= 0 || d.Height <= 0)
            return GenericError;
        // The logical screen; a file that declares none shows the frame alone.
        int w = gif->SWidth > 0 ? gif->SWidth : d.Left + d.Width;
        int h = gif->SHeight > 0 ? gif->SHeight : d.Top + d.Height;
        Bitmap* bmp = NewBitmap(w, h, PixelFormat8bppIndexed);
        if (!bmp)
            return OutOfMemory;
        for (int i = 0; i < map->ColorCount && i < 256; ++i) {
            const GifColorType& c = map->Colors[i];
            uint32_t a = i == transparent ? 0 : 0xFF;
            bmp->palette.push_back((a << 24) | ((uint32_t)c.Red << 16) | ((uint32_t)c.Green << 8) | c.Blue);
        }
        const uint8_t fill = (uint8_t)(transparent >= 0 ? transparent : gif->SBackGroundColor);
        for (int y = 0; y < h; ++y)
            memset(bmp->Row(y), fill, (size_t)w);
        // Lines are read in file order (interlaced frames in four passes), then placed.
        std::vector<uint8_t> line((size_t)d.Width);
        static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
        const int passes = d.Interlace ? 4 : 1;
        bool ok = true;
        for (int p = 0; p < passes && ok; ++p) {
            const int start = d.Interlace ? kStart[p] : 0, step = d.Interlace ? kStep[p] : 1;
            for (int row = start; row < d.Height; row += step) {
                if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) {
                    ok = false;  // a cut frame keeps the lines it has
                    break;
                }
                const int y = d.Top + row;
                if (y < 0 || y >= h || d.Left >= w)
                    continue;
                const int n = d.Left + d.Width <= w ? d.Width : w - d.Left;
                memcpy(bmp->Row(y) + d.Left, line.data(), (size_t)n);
            }
        }
        *out = bmp;
        return Ok;
    }
}

Status EncodeGif(const Bitmap& bmp, const char* path)
{
    const int w = bmp.width, h = bmp.height;
    if (w > 0xFFFF || h > 0xFFFF)
        return InvalidParameter;
    std::vector<uint8_t> indexes;
    std::vector<uint32_t> argb((size_t)w);
    std::vector<GifColorType> colors;
    int transparent = -1;
    try {
        indexes.resize((size_t)w * h);
        if (bmp.format == PixelFormat1bppIndexed || bmp.format == PixelFormat4bppIndexed ||
            bmp.format == PixelFormat8bppIndexed) {
            const int depth = (int)GetPixelFormatSize(bmp.format);
            for (int y = 0; y < h; ++y) {
                const uint8_t* p = bmp.Row(y);
                uint8_t* d = &indexes[(size_t)y * w];
                for (int x = 0; x < w; ++x)
                    d[x] = depth == 8 ? p[x] : depth == 4 ? ((x & 1) ? p[x >> 1] & 15 : p[x >> 1] >> 4)
                                                          : (p[x >> 3] >> (7 - (x & 7))) & 1;
            }
            colors.resize(256);
            for (size_t i = 0; i < bmp.palette.size() && i < 256; ++i) {
                const ARGB c = bmp.palette[i];
                colors[i] = GifColorType{(GifByteType)(c >> 16), (GifByteType)(c >> 8), (GifByteType)c};
                if ((c >> 24) == 0 && transparent < 0)
                    transparent = (int)i;
            }
        } else {
            // Colour pictures are reduced to 256 colours by giflib's median cut.
            std::vector<GifByteType> r((size_t)w * h), g((size_t)w * h), b((size_t)w * h);
            for (int y = 0; y < h; ++y) {
                RowToArgb(bmp, y, argb.data());
                for (int x = 0; x < w; ++x) {
                    const size_t i = (size_t)y * w + x;
                    r[i] = (GifByteType)(argb[x] >> 16);
                    g[i] = (GifByteType)(argb[x] >> 8);
                    b[i] = (GifByteType)argb[x];
                }
            }
            colors.resize(256);
            int n = 256;
            if (GifQuantizeBuffer((unsigned)w, (unsigned)h, &n, r.data(), g.data(), b.data(), indexes.data(),
                                  colors.data()) == GIF_ERROR)
                return GenericError;
        }
    } catch (...) {
        return OutOfMemory;
    }

    int err = 0;
    const int fd = CreateOutputFile(path, false);
    GifFileType* gif = fd >= 0 ? EGifOpenFileHandle(fd, &err) : nullptr;
    if (!gif) {
        if (fd >= 0)
            close(fd);
        return Win32Error;
    }
    ColorMapObject* map = GifMakeMapObject(256, colors.data());
    bool ok = map != nullptr;
    EGifSetGifVersion(gif, true);
    if (ok)
        ok = EGifPutScreenDesc(gif, w, h, 8, 0, map) == GIF_OK;
    if (ok && transparent >= 0) {
        GraphicsControlBlock gcb = {};
        gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
        gcb.DelayTime = 0;
        gcb.TransparentColor = transparent;
        GifByteType ext[4];
        const size_t n = EGifGCBToExtension(&gcb, ext);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, (int)n, ext) == GIF_OK;
    }
    if (ok)
        ok = EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < h; ++y)
        ok = EGifPutLine(gif, &indexes[(size_t)y * w], w) == GIF_OK;
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &err) == GIF_ERROR)
        ok = false;
    if (!ok) {
        remove(path);
        return Win32Error;
    }
    return Ok;
}

}  // namespace gdiplus
}  // namespace platform
