// Internal to the platform: gdiplus's bitmaps and codecs, also used by ole32 (pictures).
// GDI+ objects behind the flat interface, and the codecs that fill and write them. The OLE
// picture loader decodes through the same codecs.
#pragma once

#include <gdiplusflat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace platform {
namespace gdiplus {

using namespace Gdiplus;

// Decoded pictures larger than this many bytes (256 MiB: a 600 dpi A4 page at 32 bits fits)
// are refused as out of memory, so that a small hostile header cannot make the decoder claim
// gigabytes.
const int64_t kMaxBitmapBytes = int64_t(1) << 28;

struct Bitmap : GpBitmap {
    int width = 0;
    int height = 0;
    PixelFormat format = PixelFormatUndefined;
    int stride = 0;           // from one row to the next, top row first; negative when bottom-up
    uint8_t* scan0 = nullptr; // the top row
    uint8_t* owned = nullptr; // the pixel memory when the bitmap holds its own (malloc)
    std::vector<ARGB> palette;
    bool locked = false;
    uint8_t* lockCopy = nullptr;  // rows copied top-down for a lock of a bottom-up bitmap

    ~Bitmap()
    {
        free(owned);
        free(lockCopy);
    }
    const uint8_t* Row(int y) const { return scan0 + (ptrdiff_t)y * stride; }
    uint8_t* Row(int y) { return scan0 + (ptrdiff_t)y * stride; }
};

// A bitmap with its own zero-filled top-down pixel memory; null when the size is refused
// or memory runs out.
Bitmap* NewBitmap(int width, int height, PixelFormat format);
// Row size of a format, 4-byte aligned as GDI+ lays them out; 0 when too large.
int StrideOf(int width, PixelFormat format);

// Pixels of row y converted to 0xAARRGGBB (palette formats through the palette, 16-bit
// formats expanded, 48/64-bit formats cut to 8 bits).
void RowToArgb(const Bitmap& bmp, int y, uint32_t* out);

// Decoders of a whole file in memory. Ok, UnknownImageFormat (not this format), or another
// failure status for a damaged or unsupported file.
Status DecodePng(const uint8_t* data, size_t size, Bitmap** out);
Status DecodeJpeg(const uint8_t* data, size_t size, Bitmap** out);
Status DecodeGif(const uint8_t* data, size_t size, Bitmap** out);
Status DecodeTiff(const uint8_t* data, size_t size, Bitmap** out);
Status DecodeBmp(const uint8_t* data, size_t size, Bitmap** out);
// The decoder chosen by the file's signature.
Status DecodeAny(const uint8_t* data, size_t size, Bitmap** out);

// The file an encoder writes, created or replaced at the path: never through a symbolic link
// and never anything but a regular file (those fail, left as they are, so a planted link
// cannot get the file it points at truncated); truncated only once checked. A descriptor
// (read and write when readToo) or -1; a stream opened "wb" or null.
int CreateOutputFile(const char* path, bool readToo);
FILE* OpenOutputStream(const char* path);

// Encoders; the file is created (or replaced) at the path. Win32Error when it cannot be written.
Status EncodePng(const Bitmap& bmp, const char* path);
Status EncodeJpeg(const Bitmap& bmp, const char* path, int quality);
Status EncodeGif(const Bitmap& bmp, const char* path);
Status EncodeTiff(const Bitmap& bmp, const char* path);
Status EncodeBmp(const Bitmap& bmp, const char* path);

// Whether GdiplusStartup is outstanding.
bool IsStarted();

}  // namespace gdiplus
}  // namespace platform
