// JPEG through libjpeg-turbo.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "../internal/gdiplus.h"

// INT32 comes from windef.h; this tells jmorecfg.h not to declare its own.
#define XMD_H
#include <jpeglib.h>

namespace platform {
namespace gdiplus {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

void OnError(j_common_ptr cinfo)
{
    longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void OnMessage(j_common_ptr, int) {}

struct DecodeState {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    Bitmap* bmp = nullptr;
    uint8_t* cmyk = nullptr;
    DecodeState() { memset(&cinfo, 0, sizeof(cinfo)); }
    ~DecodeState()
    {
        jpeg_destroy_decompress(&cinfo);
        delete bmp;
        free(cmyk);
    }
};

Status RunDecode(DecodeState& st, const uint8_t* data, size_t size)
{
    if (setjmp(st.err.jump))
        return GenericError;
    jpeg_create_decompress(&st.cinfo);
    jpeg_mem_src(&st.cinfo, data, (unsigned long)size);
    if (jpeg_read_header(&st.cinfo, TRUE) != JPEG_HEADER_OK)
        return UnknownImageFormat;
    const bool grey = st.cinfo.jpeg_color_space == JCS_GRAYSCALE;
    const bool cmyk = st.cinfo.jpeg_color_space == JCS_CMYK || st.cinfo.jpeg_color_space == JCS_YCCK;
    st.cinfo.out_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_EXT_BGR;
    if ((int64_t)st.cinfo.image_width * st.cinfo.image_height * 4 > kMaxBitmapBytes)
        return OutOfMemory;
    jpeg_start_decompress(&st.cinfo);
    const int w = (int)st.cinfo.output_width, h = (int)st.cinfo.output_height;
    st.bmp = NewBitmap(w, h, grey ? PixelFormat8bppIndexed : PixelFormat24bppRGB);
    if (!st.bmp)
        return OutOfMemory;
    if (grey) {
        st.bmp->palette.resize(256);
        for (uint32_t i = 0; i < 256; ++i)
            st.bmp->palette[i] = 0xFF000000u | (i << 16) | (i << 8) | i;
    }
    if (cmyk) {
        st.cmyk = static_cast<uint8_t*>(malloc((size_t)w * 4));
        if (!st.cmyk)
            return OutOfMemory;
    }
    // Adobe writes CMYK inverted; that is what nearly every CMYK JPEG is.
    const bool inverted = st.cinfo.saw_Adobe_marker;
    while (st.cinfo.output_scanline < st.cinfo.output_height) {
        const int y = (int)st.cinfo.output_scanline;
        JSAMPROW row = cmyk ? st.cmyk : st.bmp->Row(y);
        if (jpeg_read_scanlines(&st.cinfo, &row, 1) != 1)
            break;
        if (cmyk) {
            uint8_t* d = st.bmp->Row(y);
            for (int x = 0; x < w; ++x) {
                int c = st.cmyk[4 * x], m = st.cmyk[4 * x + 1], yy = st.cmyk[4 * x + 2], k = st.cmyk[4 * x + 3];
                if (!inverted) {
                    c = 255 - c;
                    m = 255 - m;
                    yy = 255 - yy;
                    k = 255 - k;
                }
                d[3 * x] = (uint8_t)(yy * k / 255);
                d[3 * x + 1] = (uint8_t)(m * k / 255);
                d[3 * x + 2] = (uint8_t)(c * k / 255);
            }
        }
    }
    jpeg_finish_decompress(&st.cinfo);
    return Ok;
}

}  // namespace

Status DecodeJpeg(const uint8_t* data, size_t size, Bitmap** out)
{
    *out = nullptr;
    DecodeState st;
    st.cinfo.err = jpeg_std_error(&st.err.pub);
    st.err.pub.error_exit = OnError;
    st.err.pub.emit_message = OnMessage;
    Status s = RunDecode(st, data, size);
    if (s != Ok)
        return s;
    *out = st.bmp;
    st.bmp = nullptr;
    return Ok;
}

namespace {

// The compressed stream reaches the file in large blocks: a page's JPEG in one or two writes
// instead of one per 4 KiB. A failed write shows in the file's error flag.
struct FileDestination {
    jpeg_destination_mgr pub;
    FILE* file = nullptr;
    JOCTET* buffer = nullptr;
    size_t size = 0;
};

void InitDestination(j_compress_ptr cinfo)
{
    auto* d = reinterpret_cast<FileDestination*>(cinfo->dest);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = d->size;
}

boolean EmptyDestination(j_compress_ptr cinfo)
{
    auto* d = reinterpret_cast<FileDestination*>(cinfo->dest);
    fwrite(d->buffer, 1, d->size, d->file);
    InitDestination(cinfo);
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    auto* d = reinterpret_cast<FileDestination*>(cinfo->dest);
    fwrite(d->buffer, 1, d->size - d->pub.free_in_buffer, d->file);
}

const size_t kDestinationBytes = 256 * 1024;

struct EncodeState {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    FILE* file = nullptr;
    FileDestination dest;
    uint8_t* row = nullptr;
    uint32_t* argb = nullptr;
    EncodeState() { memset(&cinfo, 0, sizeof(cinfo)); }
    ~EncodeState()
    {
        jpeg_destroy_compress(&cinfo);
        free(dest.buffer);
        free(row);
        free(argb);
    }
};

Status RunEncode(EncodeState& st, const Bitmap& bmp, int quality)
{
    if (setjmp(st.err.jump))
        return Win32Error;
    jpeg_create_compress(&st.cinfo);
    st.dest.file = st.file;
    st.dest.size = kDestinationBytes;
    st.dest.buffer = static_cast<JOCTET*>(malloc(st.dest.size));
    if (!st.dest.buffer)
        return OutOfMemory;
    st.dest.pub.init_destination = InitDestination;
    st.dest.pub.empty_output_buffer = EmptyDestination;
    st.dest.pub.term_destination = TermDestination;
    st.cinfo.dest = &st.dest.pub;
    st.cinfo.image_width = (JDIMENSION)bmp.width;
    st.cinfo.image_height = (JDIMENSION)bmp.height;
    // 24- and 32-bit rows go to the compressor as they are; others through B, G, R rows.
    bool direct = true;
    if (bmp.format == PixelFormat24bppRGB) {
        st.cinfo.input_components = 3;
        st.cinfo.in_color_space = JCS_EXT_BGR;
    } else if (bmp.format == PixelFormat32bppRGB || bmp.format == PixelFormat32bppARGB) {
        st.cinfo.input_components = 4;
        st.cinfo.in_color_space = JCS_EXT_BGRX;
    } else {
        direct = false;
        st.cinfo.input_components = 3;
        st.cinfo.in_color_space = JCS_EXT_BGR;
        st.row = static_cast<uint8_t*>(malloc((size_t)bmp.width * 3));
        st.argb = static_cast<uint32_t*>(malloc((size_t)bmp.width * 4));
        if (!st.row || !st.argb)
            return OutOfMemory;
    }
    jpeg_set_defaults(&st.cinfo);
    jpeg_set_quality(&st.cinfo, quality, TRUE);
    // The fast integer DCT, as TurboJPEG compresses by default: about a tenth faster, and at
    // these qualities its mean error is that of the accurate one (1.885 against 1.883 levels on
    // a text page at 75). Above them its rounding starts to show, so they keep the accurate one.
    if (quality < 90)
        st.cinfo.dct_method = JDCT_IFAST;
    jpeg_start_compress(&st.cinfo, TRUE);
    while (st.cinfo.next_scanline < st.cinfo.image_height) {
        const int y = (int)st.cinfo.next_scanline;
        if (direct) {
            // A band of rows a call: the compressor takes a whole row group at once.
            JSAMPROW rows[32];
            int n = 0;
            for (; n < 32 && y + n < bmp.height; ++n)
                rows[n] = const_cast<JSAMPROW>(bmp.Row(y + n));
            jpeg_write_scanlines(&st.cinfo, rows, (JDIMENSION)n);
            continue;
        }
        RowToArgb(bmp, y, st.argb);
        for (int x = 0; x < bmp.width; ++x) {
            st.row[3 * x] = (uint8_t)st.argb[x];
            st.row[3 * x + 1] = (uint8_t)(st.argb[x] >> 8);
            st.row[3 * x + 2] = (uint8_t)(st.argb[x] >> 16);
        }
        JSAMPROW row = st.row;
        jpeg_write_scanlines(&st.cinfo, &row, 1);
    }
    jpeg_finish_compress(&st.cinfo);
    return Ok;
}

}  // namespace

Status EncodeJpeg(const Bitmap& bmp, const char* path, int quality)
{
    if (bmp.width > JPEG_MAX_DIMENSION || bmp.height > JPEG_MAX_DIMENSION)
        return InvalidParameter;
    EncodeState st;
    st.cinfo.err = jpeg_std_error(&st.err.pub);
    st.err.pub.error_exit = OnError;
    st.err.pub.emit_message = OnMessage;
    st.file = OpenOutputStream(path);
    if (!st.file)
        return Win32Error;
    Status s = RunEncode(st, bmp, quality);
    const bool ok = !ferror(st.file);
    const bool closed = fclose(st.file) == 0;
    if (s == Ok && (!ok || !closed))
        s = Win32Error;
    if (s != Ok)
        remove(path);
    return s;
}

}  // namespace gdiplus
}  // namespace platform
