// PNG through libpng.
#include <png.h>

#include <cstring>
#include <memory>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "../internal/gdiplus.h"

namespace platform {
namespace gdiplus {

namespace {

struct MemReader {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t n)
{
    auto* r = static_cast<MemReader*>(png_get_io_ptr(png));
    if (r->size - r->pos < n)
        png_error(png, "truncated");
    memcpy(out, r->data + r->pos, n);
    r->pos += n;
}

void Silent(png_structp, png_const_charp) {}

// Everything the decoder allocates lives here, so that a longjmp from libpng leaks nothing.
struct DecodeState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    Bitmap* bmp = nullptr;
    png_bytep* rows = nullptr;
    std::vector<ARGB> palette;
    ~DecodeState()
    {
        png_destroy_read_struct(&png, &info, nullptr);
        delete bmp;
        delete[] rows;
    }
};

uint32_t Grey(int v) { return 0xFF000000u | ((uint32_t)v << 16) | ((uint32_t)v << 8) | (uint32_t)v; }

// Runs libpng; the error longjmp lands here. Returns the status; st.bmp holds the result.
Status RunDecode(DecodeState& st, MemReader& reader)
{
    if (setjmp(png_jmpbuf(st.png)))
        return GenericError;
    png_set_read_fn(st.png, &reader, ReadFromMemory);
    png_set_user_limits(st.png, 100000, 100000);
    png_read_info(st.png, st.info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(st.png, st.info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);

    png_bytep trans = nullptr;
    int nTrans = 0;
    png_color_16p transColor = nullptr;
    const bool hasTrns = png_get_tRNS(st.png, st.info, &trans, &nTrans, &transColor) != 0;

    PixelFormat format;
    std::vector<ARGB>& palette = st.palette;  // not a local: libpng may longjmp past this frame
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp plte = nullptr;
        int nPlte = 0;
        png_get_PLTE(st.png, st.info, &plte, &nPlte);
        for (int i = 0; i < nPlte; ++i) {
            uint32_t a = (hasTrns && trans && i < nTrans) ? trans[i] : 0xFF;
            palette.push_back((a << 24) | ((uint32_t)plte[i].red << 16) | ((uint32_t)plte[i].green << 8) | plte[i].blue);
        }
        if (depth == 2)
            png_set_packing(st.png);
        format = depth == 1 ? PixelFormat1bppIndexed : depth == 4 ? PixelFormat4bppIndexed : PixelFormat8bppIndexed;
    } else if (colorType == PNG_COLOR_TYPE_GRAY && depth <= 8) {
        const int levels = 1 << depth;
        for (int i = 0; i < levels; ++i)
            palette.push_back(Grey(i * 255 / (levels - 1)));
        if (hasTrns && transColor && transColor->gray < levels)
            palette[transColor->gray] &= 0x00FFFFFFu;
        if (depth == 2)
            png_set_packing(st.png);
        format = depth == 1 ? PixelFormat1bppIndexed : depth == 4 ? PixelFormat4bppIndexed : PixelFormat8bppIndexed;
    } else {
        const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) || hasTrns;
        if (hasTrns)
            png_set_tRNS_to_alpha(st.png);
        if (!(colorType & PNG_COLOR_MASK_COLOR))
            png_set_gray_to_rgb(st.png);
        png_set_bgr(st.png);
        if (depth == 16) {
            png_set_swap(st.png);  // 16-bit samples little-endian, as GDI+ holds them
            format = alpha ? PixelFormat64bppARGB : PixelFormat48bppRGB;
        } else {
            format = alpha ? PixelFormat32bppARGB : PixelFormat24bppRGB;
        }
    }
    if (interlace != PNG_INTERLACE_NONE)
        png_set_interlace_handling(st.png);
    png_read_update_info(st.png, st.info);

    st.bmp = NewBitmap((int)width, (int)height, format);
    if (!st.bmp)
        return OutOfMemory;
    st.bmp->palette = palette;
    st.rows = new (std::nothrow) png_bytep[height];
    if (!st.rows)
        return OutOfMemory;
    for (png_uint_32 y = 0; y < height; ++y)
        st.rows[y] = st.bmp->Row((int)y);
    png_read_image(st.png, st.rows);
    return Ok;
}

}  // namespace

Status DecodePng(const uint8_t* data, size_t size, Bitmap** out)
{
    *out = nullptr;
    DecodeState st;
    st.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Silent, Silent);
    if (!st.png)
        return OutOfMemory;
    st.info = png_create_info_struct(st.png);
    if (!st.info)
        return OutOfMemory;
    MemReader reader = {data, size, 0};
    Status s = RunDecode(st, reader);
    if (s != Ok)
        return s;
    *out = st.bmp;
    st.bmp = nullptr;
    return Ok;
}

namespace {

// B, G, R pixels to R, G, B, a whole row at a time.
void SwapRow24(const uint8_t* in, int width, uint8_t* out)
{
    for (int x = 0; x < width; ++x, in += 3, out += 3) {
        const uint8_t b = in[0];
        out[0] = in[2];
        out[1] = in[1];
        out[2] = b;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// The same with byte shuffles: five pixels a step, reading and writing 16 bytes, so the last
// five pixels (whose 16-byte block would pass the row's end) go the plain way.
__attribute__((target("ssse3"))) void SwapRow24Ssse3(const uint8_t* in, int width, uint8_t* out)
{
    const __m128i swap = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    const size_t n = (size_t)width * 3;
    size_t i = 0;
    for (; i + 16 <= n; i += 15)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)), swap));
    SwapRow24(in + i, (int)((n - i) / 3), out + i);
}
#endif

// The row routines for this processor.
struct RowOps {
    void (*swap24)(const uint8_t*, int, uint8_t*) = SwapRow24;
    RowOps()
    {
#if defined(__x86_64__) || defined(__i386__)
        if (__builtin_cpu_supports("ssse3")) {
            swap24 = SwapRow24Ssse3;
        }
#endif
    }
};

struct EncodeState {
    FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<uint8_t> row;
    std::vector<uint32_t> argb;
    ~EncodeState()
    {
        png_destroy_write_struct(&png, &info);
        if (file)
            fclose(file);
    }
};

Status RunEncode(EncodeState& st, const Bitmap& bmp)
{
    if (setjmp(png_jmpbuf(st.png)))
        return Win32Error;
    png_init_io(st.png, st.file);
    // What this encoder writes are rendered pages: white paper and anti-aliased text. On such
    // pictures unfiltered rows at zlib level 3 come out smaller than libpng's defaults
    // (adaptive filters, level 6) in about half the time; filters only pay on photographs.
    png_set_filter(st.png, 0, PNG_FILTER_NONE);
    png_set_compression_level(st.png, 3);
    // One IDAT chunk for a typical page, reaching the file in one write.
    png_set_compression_buffer_size(st.png, 256 * 1024);

    const bool indexed = bmp.format == PixelFormat1bppIndexed || bmp.format == PixelFormat4bppIndexed ||
                         bmp.format == PixelFormat8bppIndexed;
    static const RowOps ops;
    enum { kDirect, kSwapped, kStripFiller, kFromArgb, kFromRgb } mode = kDirect;
    if (indexed) {
        const int depth = (int)GetPixelFormatSize(bmp.format);
        png_set_IHDR(st.png, st.info, bmp.width, bmp.height, depth, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_color plte[256];
        png_byte trans[256];
        int n = (int)bmp.palette.size();
        if (n > (1 << depth))
            n = 1 << depth;
        if (n == 0) {
            // A palette format without colours: black, so the file stays readable.
            n = 1;
            plte[0] = png_color{0, 0, 0};
            trans[0] = 255;
        }
        int lastTrans = -1;
        for (int i = 0; i < (int)bmp.palette.size() && i < n; ++i) {
            const ARGB c = bmp.palette[i];
            plte[i].red = (png_byte)(c >> 16);
            plte[i].green = (png_byte)(c >> 8);
            plte[i].blue = (png_byte)c;
            trans[i] = (png_byte)(c >> 24);
            if (trans[i] != 255)
                lastTrans = i;
        }
        png_set_PLTE(st.png, st.info, plte, n);
        if (lastTrans >= 0)
            png_set_tRNS(st.png, st.info, trans, lastTrans + 1, nullptr);
    } else if (bmp.format == PixelFormat24bppRGB) {
        // Rows are put in PNG order here rather than by libpng's byte-at-a-time transform.
        png_set_IHDR(st.png, st.info, bmp.width, bmp.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        mode = kSwapped;
    } else if (bmp.format == PixelFormat32bppARGB) {
        png_set_IHDR(st.png, st.info, bmp.width, bmp.height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_bgr(st.png);
    } else if (bmp.format == PixelFormat32bppRGB) {
        png_set_IHDR(st.png, st.info, bmp.width, bmp.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_bgr(st.png);
        mode = kStripFiller;
    } else {
        // 16-bit, premultiplied and wide formats go through 8-bit ARGB, keeping alpha only
        // where the format has it.
        const bool alpha = bmp.format == PixelFormat16bppARGB1555 || bmp.format == PixelFormat32bppPARGB ||
                           bmp.format == PixelFormat64bppARGB || bmp.format == PixelFormat64bppPARGB;
        png_set_IHDR(st.png, st.info, bmp.width, bmp.height, 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_bgr(st.png);
        mode = alpha ? kFromArgb : kFromRgb;
    }
    png_write_info(st.png, st.info);
    if (mode == kStripFiller)
        png_set_filler(st.png, 0, PNG_FILLER_AFTER);
    if (mode == kFromArgb || mode == kFromRgb) {
        st.argb.resize((size_t)bmp.width);
        st.row.resize((size_t)bmp.width * 4);
    }
    if (mode == kSwapped)
        st.row.resize((size_t)bmp.width * 3);
    for (int y = 0; y < bmp.height; ++y) {
        if (mode == kSwapped) {
            ops.swap24(bmp.Row(y), bmp.width, st.row.data());
            png_write_row(st.png, st.row.data());
        } else if (mode == kFromArgb) {
            RowToArgb(bmp, y, st.argb.data());
            memcpy(st.row.data(), st.argb.data(), st.row.size());  // 0xAARRGGBB little-endian is B, G, R, A
            png_write_row(st.png, st.row.data());
        } else if (mode == kFromRgb) {
            RowToArgb(bmp, y, st.argb.data());
            for (int x = 0; x < bmp.width; ++x) {
                st.row[3 * x] = (uint8_t)st.argb[x];
                st.row[3 * x + 1] = (uint8_t)(st.argb[x] >> 8);
                st.row[3 * x + 2] = (uint8_t)(st.argb[x] >> 16);
            }
            png_write_row(st.png, st.row.data());
        } else {
            png_write_row(st.png, const_cast<png_bytep>(bmp.Row(y)));
        }
    }
    png_write_end(st.png, st.info);
    return Ok;
}

}  // namespace

Status EncodePng(const Bitmap& bmp, const char* path)
{
    EncodeState st;
    st.file = OpenOutputStream(path);
    if (!st.file)
        return Win32Error;
    Status s = OutOfMemory;
    st.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, Silent, Silent);
    if (st.png) {
        st.info = png_create_info_struct(st.png);
        if (st.info)
            s = RunEncode(st, bmp);
    }
    const bool closed = fclose(st.file) == 0;
    st.file = nullptr;
    if (s == Ok && !closed)
        s = Win32Error;
    if (s != Ok)
        remove(path);
    return s;
}

}  // namespace gdiplus
}  // namespace platform
