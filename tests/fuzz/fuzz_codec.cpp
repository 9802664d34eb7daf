// libFuzzer targets over the library's decoders of untrusted bytes. One source, one target per
// decoder, chosen at build time:
//   FUZZ_BMP, FUZZ_TGA        the library's own parsers, on the bytes as given
//   FUZZ_IPICTURE             the OLE picture codec (stream, OleLoadPicture, GetDIBits)
//   FUZZ_STREAM               the GDI+ codec on bytes in memory (a stream on global memory,
//                             GdipCreateBitmapFromStream, which tells PNG, JPEG, GIF and TIFF
//                             apart by their first bytes)
//   FUZZ_EXT="png" etc.       FCObjImage::ReadFromFile of a file of that extension, which the
//                             library's factory hands to the GDI+ codec
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "Codecs.h"

namespace {

#ifdef FUZZ_EXT
// One file per process, rewritten for every input.
const std::string& InputPath()
{
    static const std::string path = [] {
        const char* dir = getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/folium-fuzz-" + std::to_string(getpid()) + "." FUZZ_EXT;
    }();
    return path;
}

struct Cleanup {
    ~Cleanup() { remove(InputPath().c_str()); }
} g_cleanup;
#endif

void TouchCorners(const FCObjImage& img)
{
    const int w = img.Width() - 1, h = img.Height() - 1;
    const int nLast = img.GetPitch() - 1;
    volatile BYTE sum = 0;
    sum = sum + img.PixelAddress(0, 0)[0] + img.PixelAddress(0, h)[0] + img.PixelAddress(w, 0)[0] +
          img.PixelAddress(w, h)[0] + img.PixelAddress(0, 0)[nLast] + img.PixelAddress(0, h)[nLast];
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InstallFactory(new FCImageHandleFactory_Gdiplus);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
#if defined(FUZZ_BMP) || defined(FUZZ_TGA) || defined(FUZZ_IPICTURE) || defined(FUZZ_STREAM)
#if defined(FUZZ_BMP)
    FCImageHandle_Bmp codec;
#elif defined(FUZZ_TGA)
    FCImageHandle_Tga codec;
#elif defined(FUZZ_STREAM)
    FCImageHandle_Gdiplus codec;
#else
    FCImageHandle_IPicture codec;
#endif
    if (codec.DecodeMemory(data, (int)size)) {
        // The corners of what was decoded: a bad row table or pitch shows there.
        for (FCObjImage* img : codec.GetImages(false))
            TouchCorners(*img);
    }
#else
    FILE* f = fopen(InputPath().c_str(), "wb");
    if (!f)
        return 0;
    fwrite(data, 1, size, f);
    fclose(f);
    FCObjImage img;
    if (img.ReadFromFile(InputPath().c_str()))
        TouchCorners(img);
#endif
    return 0;
}
