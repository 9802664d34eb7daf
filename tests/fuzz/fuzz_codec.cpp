// libFuzzer targets over the library's decoders of untrusted bytes. One source, one target per
// decoder, chosen at build time:
//   FUZZ_BMP, FUZZ_TGA        the library's own parsers, on the bytes as given
//   FUZZ_IPICTURE             the OLE picture codec (stream, OleLoadPicture, GetDIBits)
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
#if defined(FUZZ_BMP) || defined(FUZZ_TGA) || defined(FUZZ_IPICTURE)
#if defined(FUZZ_BMP)
    FCImageHandle_Bmp codec;
#elif defined(FUZZ_TGA)
    FCImageHandle_Tga codec;
#else
    FCImageHandle_IPicture codec;
#endif
    if (codec.DecodeMemory(data, (int)size)) {
        // Touch every row of what was decoded, so that a bad row table shows.
        for (FCObjImage* img : codec.GetImages(false)) {
            volatile BYTE sum = 0;
            for (int y = 0; y < img->Height(); ++y)
                sum = sum + img->PixelAddress(0, y)[0] + img->PixelAddress(img->Width() - 1, y)[0];
        }
    }
#else
    FILE* f = fopen(InputPath().c_str(), "wb");
    if (!f)
        return 0;
    fwrite(data, 1, size, f);
    fclose(f);
    FCObjImage img;
    if (img.ReadFromFile(InputPath().c_str())) {
        volatile BYTE sum = 0;
        for (int y = 0; y < img.Height(); ++y)
            sum = sum + img.PixelAddress(img.Width() - 1, y)[0];
    }
#endif
    return 0;
}
