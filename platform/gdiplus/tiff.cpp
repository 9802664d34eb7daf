// TIFF through libtiff: the first page.
#include <tiffio.h>

#include <cstring>
#include <mutex>

#include "../internal/gdiplus.h"

#include <unistd.h>

namespace platform {
namespace gdiplus {

namespace {

struct MemFile {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

tmsize_t MemRead(thandle_t h, void* buf, tmsize_t n)
{
    auto* m = static_cast<MemFile*>(h);
    if (n <= 0 || m->pos >= m->size)
        return 0;
    size_t k = m->size - m->pos < (size_t)n ? m->size - m->pos : (size_t)n;
    memcpy(buf, m->data + m->pos, k);
    m->pos += k;
    return (tmsize_t)k;
}
tmsize_t MemWrite(thandle_t, void*, tmsize_t) { return 0; }
toff_t MemSeek(thandle_t h, toff_t off, int whence)
{
    auto* m = static_cast<MemFile*>(h);
    uint64_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->size : 0;
    uint64_t p = base + off;
    if (p > m->size)
        p = m->size;
    m->pos = (size_t)p;
    return (toff_t)p;
}
int MemClose(thandle_t) { return 0; }
toff_t MemSize(thandle_t h) { return static_cast<MemFile*>(h)->size; }
int MemMap(thandle_t, void**, toff_t*) { return 0; }
void MemUnmap(thandle_t, void*, toff_t) {}

// libtiff reports through process-wide handlers; nothing here is shown to anyone.
void QuietLibtiff()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

struct TiffCloser {
    TIFF* tif;
    ~TiffCloser()
    {
        if (tif)
            TIFFClose(tif);
    }
};

}  // namespace

Status DecodeTiff(const uint8_t* data, size_t size, Bitmap** out)
{
    *out = nullptr;
    QuietLibtiff();
    MemFile mem = {data, size, 0};
    TiffCloser t{TIFFClientOpen("memory", "rm", &mem, MemRead, MemWrite, MemSeek, MemClose, MemSize, MemMap, MemUnmap)};
    if (!t.tif)
        return GenericError;  // the signature was there; the directory is not
    uint32_t w = 0, h = 0;
    uint16_t bits = 8, samples = 1, photometric = 0, planar = PLANARCONFIG_CONTIG;
    if (!TIFFGetField(t.tif, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(t.tif, TIFFTAG_IMAGELENGTH, &h))
        return GenericError;
    TIFFGetFieldDefaulted(t.tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t.tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(t.tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(t.tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if (w == 0 || h == 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF || (uint64_t)w * h * 4 > (uint64_t)kMaxBitmapBytes)
        return OutOfMemory;

    // 16-bit colour samples stay 16-bit (48- or 64-bit pixels), as GDI+ hands them over.
    if (bits == 16 && photometric == PHOTOMETRIC_RGB && planar == PLANARCONFIG_CONTIG && (samples == 3 || samples == 4)) {
        const bool alpha = samples == 4;
        Bitmap* bmp = NewBitmap((int)w, (int)h, alpha ? PixelFormat64bppARGB : PixelFormat48bppRGB);
        if (!bmp)
            return OutOfMemory;
        const tmsize_t lineSize = TIFFScanlineSize(t.tif);
        std::vector<uint16_t> line;
        if (lineSize < (tmsize_t)((size_t)w * samples * 2)) {
            delete bmp;
            return GenericError;
        }
        line.resize((size_t)lineSize / 2 + 1);
        for (uint32_t y = 0; y < h; ++y) {
            if (TIFFReadScanline(t.tif, line.data(), y, 0) < 0)
                break;
            uint16_t* d = reinterpret_cast<uint16_t*>(bmp->Row((int)y));
            for (uint32_t x = 0; x < w; ++x) {
                const uint16_t* s = &line[(size_t)x * samples];
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
                if (alpha)
                    d[3] = s[3];
                d += samples;
            }
        }
        *out = bmp;
        return Ok;
    }

    Bitmap* bmp = NewBitmap((int)w, (int)h, PixelFormat32bppARGB);
    if (!bmp)
        return OutOfMemory;
    std::vector<uint32_t> raster;
    try {
        raster.resize((size_t)w * h);
    } catch (...) {
        delete bmp;
        return OutOfMemory;
    }
    if (!TIFFReadRGBAImageOriented(t.tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0)) {
        delete bmp;
        return GenericError;
    }
    // libtiff's packing is R in the low byte; GDI+ rows are B, G, R, A.
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* d = bmp->Row((int)y);
        const uint32_t* s = &raster[(size_t)y * w];
        for (uint32_t x = 0; x < w; ++x, d += 4) {
            d[0] = (uint8_t)TIFFGetB(s[x]);
            d[1] = (uint8_t)TIFFGetG(s[x]);
            d[2] = (uint8_t)TIFFGetR(s[x]);
            d[3] = (uint8_t)TIFFGetA(s[x]);
        }
    }
    *out = bmp;
    return Ok;
}

Status EncodeTiff(const Bitmap& bmp, const char* path)
{
    QuietLibtiff();
    const bool indexed = bmp.format == PixelFormat1bppIndexed || bmp.format == PixelFormat4bppIndexed ||
                         bmp.format == PixelFormat8bppIndexed;
    const bool alpha = bmp.format == PixelFormat32bppARGB || bmp.format == PixelFormat32bppPARGB ||
                       bmp.format == PixelFormat16bppARGB1555 || bmp.format == PixelFormat64bppARGB;
    const int fd = CreateOutputFile(path, true);
    TIFF* tif = fd >= 0 ? TIFFFdOpen(fd, path, "w") : nullptr;
    if (!tif) {
        if (fd >= 0)
            close(fd);
        return Win32Error;
    }
    const int w = bmp.width, h = bmp.height;
    const int depth = indexed ? (int)GetPixelFormatSize(bmp.format) : 8;
    const int samples = indexed ? 1 : alpha ? 4 : 3;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, (uint32_t)w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, (uint32_t)h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, (uint16_t)depth);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, (uint16_t)samples);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<uint16_t> cmap[3];
    if (indexed) {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
        const size_t n = (size_t)1 << depth;
        for (auto& c : cmap)
            c.assign(n, 0);
        for (size_t i = 0; i < n && i < bmp.palette.size(); ++i) {
            const ARGB c = bmp.palette[i];
            cmap[0][i] = (uint16_t)(((c >> 16) & 0xFF) * 257);
            cmap[1][i] = (uint16_t)(((c >> 8) & 0xFF) * 257);
            cmap[2][i] = (uint16_t)((c & 0xFF) * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, cmap[0].data(), cmap[1].data(), cmap[2].data());
    } else {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        if (alpha) {
            uint16_t extra = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
    }
    std::vector<uint8_t> line((size_t)w * 4 + 8);
    std::vector<uint32_t> argb((size_t)w);
    bool ok = true;
    for (int y = 0; ok && y < h; ++y) {
        if (indexed) {
            memcpy(line.data(), bmp.Row(y), ((size_t)w * depth + 7) / 8);
        } else {
            RowToArgb(bmp, y, argb.data());
            uint8_t* d = line.data();
            for (int x = 0; x < w; ++x) {
                *d++ = (uint8_t)(argb[x] >> 16);
                *d++ = (uint8_t)(argb[x] >> 8);
                *d++ = (uint8_t)argb[x];
                if (alpha)
                    *d++ = (uint8_t)(argb[x] >> 24);
            }
        }
        ok = TIFFWriteScanline(tif, line.data(), (uint32_t)y, 0) >= 0;
    }
    if (ok)
        ok = TIFFWriteDirectory(tif) != 0;
    TIFFClose(tif);
    if (!ok) {
        remove(path);
        return Win32Error;
    }
    return Ok;
}

}  // namespace gdiplus
}  // namespace platform
