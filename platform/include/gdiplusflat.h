// GDI+ (flat interface): start-up, bitmaps from files, streams and DIBs, pixel locking,
// palettes, encoders found by MIME type, saving. Types live in namespace Gdiplus and the
// functions in Gdiplus::DllExports, as in the Windows SDK, so that callers read the same.
// Decoding and encoding are done by libpng, libjpeg-turbo, giflib and libtiff; BMP by the
// platform itself.
#pragma once

#include "guiddef.h"
#include "objidl.h"
#include "windef.h"
#include "wingdi.h"

namespace Gdiplus {

enum Status {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    InsufficientBuffer = 5,
    NotImplemented = 6,
    Win32Error = 7,
    WrongState = 8,
    Aborted = 9,
    FileNotFound = 10,
    ValueOverflow = 11,
    AccessDenied = 12,
    UnknownImageFormat = 13,
    FontFamilyNotFound = 14,
    FontStyleNotFound = 15,
    NotTrueTypeFont = 16,
    UnsupportedGdiplusVersion = 17,
    GdiplusNotInitialized = 18,
};
typedef Status GpStatus;

typedef INT PixelFormat;
typedef DWORD ARGB;

// Pixel formats: bits 8-15 the depth, flags above (indexed 0x10000, GDI 0x20000, alpha
// 0x40000, premultiplied 0x80000, extended 0x100000).
#define PixelFormatUndefined 0
#define PixelFormat1bppIndexed 0x30101
#define PixelFormat4bppIndexed 0x30402
#define PixelFormat8bppIndexed 0x30803
#define PixelFormat16bppGrayScale 0x101004
#define PixelFormat16bppRGB555 0x21005
#define PixelFormat16bppRGB565 0x21006
#define PixelFormat16bppARGB1555 0x61007
#define PixelFormat24bppRGB 0x21808
#define PixelFormat32bppRGB 0x22009
#define PixelFormat32bppARGB 0x26200A
#define PixelFormat32bppPARGB 0xE200B
#define PixelFormat48bppRGB 0x10300C
#define PixelFormat64bppARGB 0x34400D
#define PixelFormat64bppPARGB 0x1A400E
#define PixelFormat32bppCMYK 0x200F

// Bits per pixel of a pixel format.
inline UINT GetPixelFormatSize(PixelFormat f) { return (UINT)((f >> 8) & 0xff); }

enum ImageLockMode { ImageLockModeRead = 1, ImageLockModeWrite = 2, ImageLockModeUserInputBuf = 4 };

enum PaletteFlags { PaletteFlagsHasAlpha = 1, PaletteFlagsGrayScale = 2, PaletteFlagsHalftone = 4 };

struct ColorPalette {
    UINT Flags;
    UINT Count;
    ARGB Entries[1];  // Count entries, 0xAARRGGBB (bytes blue, green, red, alpha)
};

struct Rect {
    INT X, Y, Width, Height;
};
typedef Rect GpRect;

class BitmapData {
public:
    UINT Width;
    UINT Height;
    INT Stride;  // bytes from one row to the next, top row first
    INT PixelFormat;  // a PixelFormat value (the type name is taken by the member here)
    void* Scan0;
    UINT_PTR Reserved;
};

struct ImageCodecInfo {
    CLSID Clsid;
    GUID FormatID;
    const WCHAR* CodecName;
    const WCHAR* DllName;
    const WCHAR* FormatDescription;
    const WCHAR* FilenameExtension;
    const WCHAR* MimeType;
    DWORD Flags;
    DWORD Version;
    DWORD SigCount;
    DWORD SigSize;
    const BYTE* SigPattern;
    const BYTE* SigMask;
};

struct EncoderParameter {
    GUID Guid;
    ULONG NumberOfValues;
    ULONG Type;
    void* Value;
};

// Parameter GUIDs understood by the encoders: EncoderQuality (one ULONG 0-100, JPEG only).
extern "C" const GUID EncoderQuality;

struct EncoderParameters {
    UINT Count;
    EncoderParameter Parameter[1];
};

typedef void(WINAPI* DebugEventProc)(int level, CHAR* message);

struct GdiplusStartupInput {
    UINT32 GdiplusVersion;
    DebugEventProc DebugEventCallback;
    BOOL SuppressBackgroundThread;
    BOOL SuppressExternalCodecs;
};

typedef Status(WINAPI* NotificationHookProc)(ULONG_PTR* token);
typedef void(WINAPI* NotificationUnhookProc)(ULONG_PTR token);

struct GdiplusStartupOutput {
    NotificationHookProc NotificationHook;
    NotificationUnhookProc NotificationUnhook;
};

// Opaque GDI+ objects; a bitmap is an image.
class GpImage {
protected:
    GpImage() = default;
};
class GpBitmap : public GpImage {
protected:
    GpBitmap() = default;
};

extern "C" {
// Starts the library for one user (version 1 only); Ok and a token for GdiplusShutdown.
// Calls may nest: objects of the flat interface work while any start is outstanding.
Status WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output);
void WINAPI GdiplusShutdown(ULONG_PTR token);
}

namespace DllExports {
extern "C" {
// A bitmap decoded from a PNG, JPEG, GIF (first frame), TIFF (first page) or BMP file. Pixel
// formats: palette images and grey images of up to 8 bits stay indexed (1, 4 or 8 bits, palette
// alpha from the file); 8-bit colour without alpha is 24bppRGB, with alpha 32bppARGB; 16-bit
// samples are 48bppRGB or 64bppARGB; BMPs of 16 bits keep 5-5-5 or 5-6-5.
// FileNotFound for a missing file, UnknownImageFormat for bytes no decoder takes.
GpStatus WINAPI GdipCreateBitmapFromFile(const WCHAR* filename, GpBitmap** bitmap);
// As GdipCreateBitmapFromFile, from the stream's bytes between its current position and end.
GpStatus WINAPI GdipCreateBitmapFromStream(IStream* stream, GpBitmap** bitmap);
// A bitmap over a DIB (1, 4, 8, 16, 24 or 32 bits, BI_RGB or BI_BITFIELDS at 16); like GDI+ on
// Windows it refers to the caller's pixel memory, which must outlive the bitmap.
GpStatus WINAPI GdipCreateBitmapFromGdiDib(const BITMAPINFO* gdiBitmapInfo, void* gdiBitmapData, GpBitmap** bitmap);
GpStatus WINAPI GdipDisposeImage(GpImage* image);
GpStatus WINAPI GdipGetImageWidth(GpImage* image, UINT* width);
GpStatus WINAPI GdipGetImageHeight(GpImage* image, UINT* height);
GpStatus WINAPI GdipGetImagePixelFormat(GpImage* image, PixelFormat* format);
// Bytes of the palette block (header and entries); 0 entries for a bitmap without palette.
GpStatus WINAPI GdipGetImagePaletteSize(GpImage* image, INT* size);
GpStatus WINAPI GdipGetImagePalette(GpImage* image, ColorPalette* palette, INT size);
// Locks a rectangle for reading in the bitmap's own pixel format (conversions are not served:
// NotImplemented); the data points into the bitmap, rows top first with a positive stride.
GpStatus WINAPI GdipBitmapLockBits(GpBitmap* bitmap, const GpRect* rect, UINT flags, PixelFormat format,
                                   BitmapData* lockedBitmapData);
GpStatus WINAPI GdipBitmapUnlockBits(GpBitmap* bitmap, BitmapData* lockedBitmapData);
// The encoders: image/bmp, image/jpeg, image/gif, image/tiff, image/png.
GpStatus WINAPI GdipGetImageEncodersSize(UINT* numEncoders, UINT* size);
GpStatus WINAPI GdipGetImageEncoders(UINT numEncoders, UINT size, ImageCodecInfo* encoders);
// Writes the image with the encoder of that class. JPEG quality is 75 unless the parameters
// carry EncoderQuality. Win32Error when the file cannot be written (no partial file is left).
GpStatus WINAPI GdipSaveImageToFile(GpImage* image, const WCHAR* filename, const CLSID* clsidEncoder,
                                    const EncoderParameters* encoderParams);
}
}  // namespace DllExports

}  // namespace Gdiplus
