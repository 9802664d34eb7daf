// The encoder list (found by MIME type, as on Windows) and saving.
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../internal/gdiplus.h"

namespace Gdiplus {
// {1D5BE4B5-FA4A-452D-9CDD-5DB35105E7EB}
extern "C" const GUID EncoderQuality = {0x1d5be4b5, 0xfa4a, 0x452d, {0x9c, 0xdd, 0x5d, 0xb3, 0x51, 0x05, 0xe7, 0xeb}};
}

namespace platform {
namespace gdiplus {
namespace {

enum EncoderKind { kBmp, kJpeg, kGif, kTiff, kPng };

struct EncoderEntry {
    EncoderKind kind;
    CLSID clsid;  // the class identifiers Windows gives its built-in encoders
    GUID format;
    const char16_t* name;
    const char16_t* ext;
    const char16_t* mime;
};

const EncoderEntry kEncoders[] = {
    {kBmp, {0x557cf400, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}},
     {0xb96b3cab, 0x0728, 0x11d3, {0x9d, 0x7b, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}}, u"Built-in BMP Codec",
     u"*.BMP;*.DIB;*.RLE", u"image/bmp"},
    {kJpeg, {0x557cf401, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}},
     {0xb96b3cae, 0x0728, 0x11d3, {0x9d, 0x7b, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}}, u"Built-in JPEG Codec",
     u"*.JPG;*.JPEG;*.JPE;*.JFIF", u"image/jpeg"},
    {kGif, {0x557cf402, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}},
     {0xb96b3cb0, 0x0728, 0x11d3, {0x9d, 0x7b, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}}, u"Built-in GIF Codec", u"*.GIF",
     u"image/gif"},
    {kTiff, {0x557cf405, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}},
     {0xb96b3cb1, 0x0728, 0x11d3, {0x9d, 0x7b, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}}, u"Built-in TIFF Codec",
     u"*.TIF;*.TIFF", u"image/tiff"},
    {kPng, {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}},
     {0xb96b3caf, 0x0728, 0x11d3, {0x9d, 0x7b, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}}, u"Built-in PNG Codec", u"*.PNG",
     u"image/png"},
};
const UINT kEncoderCount = sizeof(kEncoders) / sizeof(kEncoders[0]);

size_t Len16(const char16_t* s)
{
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

// The strings of one record, placed after the records in the caller's block.
size_t StringBytes(const EncoderEntry& e)
{
    // Codec name and format description (the same text), extensions, MIME type.
    return (2 * (Len16(e.name) + 1) + Len16(e.ext) + 1 + Len16(e.mime) + 1) * sizeof(char16_t);
}

const EncoderEntry* FindEncoder(const CLSID* clsid)
{
    for (const EncoderEntry& e : kEncoders)
        if (clsid && IsEqualGUID(e.clsid, *clsid))
            return &e;
    return nullptr;
}

}  // namespace
}  // namespace gdiplus
}  // namespace platform

using namespace platform::gdiplus;

namespace Gdiplus {
namespace DllExports {

GpStatus WINAPI GdipGetImageEncodersSize(UINT* numEncoders, UINT* size)
{
    if (!numEncoders || !size)
        return InvalidParameter;
    size_t total = 0;
    for (const EncoderEntry& e : kEncoders)
        total += sizeof(ImageCodecInfo) + StringBytes(e);
    *numEncoders = kEncoderCount;
    *size = (UINT)total;
    return Ok;
}

GpStatus WINAPI GdipGetImageEncoders(UINT numEncoders, UINT size, ImageCodecInfo* encoders)
{
    UINT n = 0, need = 0;
    GdipGetImageEncodersSize(&n, &need);
    if (!encoders || numEncoders != n || size < need)
        return InvalidParameter;
    char16_t* strings = reinterpret_cast<char16_t*>(encoders + n);
    auto put = [&strings](const char16_t* s) {
        const size_t len = Len16(s) + 1;
        memcpy(strings, s, len * sizeof(char16_t));
        const char16_t* where = strings;
        strings += len;
        return where;
    };
    for (UINT i = 0; i < n; ++i) {
        const EncoderEntry& e = kEncoders[i];
        ImageCodecInfo& info = encoders[i];
        memset(&info, 0, sizeof(info));
        info.Clsid = e.clsid;
        info.FormatID = e.format;
        info.CodecName = put(e.name);
        info.DllName = nullptr;
        info.FormatDescription = put(e.name);
        info.FilenameExtension = put(e.ext);
        info.MimeType = put(e.mime);
        info.Flags = 0x10007;  // encoder | decoder | supports bitmap | built in
        info.Version = 1;
    }
    return Ok;
}

GpStatus WINAPI GdipSaveImageToFile(GpImage* image, const WCHAR* filename, const CLSID* clsidEncoder,
                                    const EncoderParameters* params)
{
    if (!image || !filename || !clsidEncoder)
        return InvalidParameter;
    const EncoderEntry* enc = FindEncoder(clsidEncoder);
    if (!enc)
        return FileNotFound;  // what Windows answers for an unknown encoder class
    char path[4096];
    if (WideCharToMultiByte(CP_ACP, 0, filename, -1, path, sizeof(path), nullptr, nullptr) == 0)
        return InvalidParameter;
    int quality = 75;
    if (params) {
        for (UINT i = 0; i < params->Count; ++i) {
            const EncoderParameter& p = params->Parameter[i];
            if (IsEqualGUID(p.Guid, EncoderQuality) && p.NumberOfValues == 1 && p.Value) {
                ULONG q;
                memcpy(&q, p.Value, sizeof(q));
                if (q > 100)
                    return InvalidParameter;
                quality = (int)q;
            }
        }
    }
    const Bitmap& bmp = *static_cast<Bitmap*>(image);
    if (bmp.locked)
        return WrongState;
    switch (enc->kind) {
    case kBmp: return EncodeBmp(bmp, path);
    case kJpeg: return EncodeJpeg(bmp, path, quality);
    case kGif: return EncodeGif(bmp, path);
    case kTiff: return EncodeTiff(bmp, path);
    case kPng: return EncodePng(bmp, path);
    }
    return GenericError;
}

}  // namespace DllExports
}  // namespace Gdiplus

namespace platform {
namespace gdiplus {

int CreateOutputFile(const char* path, bool readToo)
{
    if (!path || !*path)
        return -1;
    // O_NONBLOCK only for the open: a FIFO at the name would otherwise wait for a reader.
    int fd = open(path, (readToo ? O_RDWR : O_WRONLY) | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ftruncate(fd, 0) != 0) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

FILE* OpenOutputStream(const char* path)
{
    int fd = CreateOutputFile(path, false);
    if (fd < 0)
        return nullptr;
    FILE* f = fdopen(fd, "wb");
    if (!f)
        close(fd);
    return f;
}

}  // namespace gdiplus
}  // namespace platform
