#include "ImageHandle.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "Codecs.h"

bool FCImageHandleBase::DecodeFile(const char* szFileName)
{
    if (!szFileName)
        return false;
    FILE* f = fopen(szFileName, "rb");
    if (!f)
        return false;
    bool ok = false;
    long nLen = -1;
    if (fseek(f, 0, SEEK_END) == 0)
        nLen = ftell(f);
    // The length travels as a signed 32-bit count.
    if (nLen > 0 && nLen <= INT32_MAX && fseek(f, 0, SEEK_SET) == 0) {
        BYTE* pData = static_cast<BYTE*>(malloc((size_t)nLen));
        if (pData && fread(pData, 1, (size_t)nLen, f) == (size_t)nLen)
            ok = DecodeMemory(pData, (int)nLen);
        free(pData);
    }
    fclose(f);
    return ok;
}

std::vector<FCObjImage*> FCImageHandle::GetImages(bool bTakeOwnership)
{
    std::vector<FCObjImage*> images = m_Objects;
    if (bTakeOwnership)
        m_Objects.clear();
    return images;
}

FCImageType FCImageHandleFactory::TypeFromPath(const char* szFileName) const
{
    if (!szFileName)
        return IMG_UNKNOWN;
    const char* pDot = strrchr(szFileName, '.');
    std::string ext = pDot ? pDot + 1 : "";
    for (char& c : ext)
        c = (char)tolower((unsigned char)c);
    static const struct {
        const char* ext;
        FCImageType type;
    } kTable[] = {
        {"bmp", IMG_BMP}, {"pcx", IMG_PCX}, {"jpg", IMG_JPG},  {"jpeg", IMG_JPG}, {"gif", IMG_GIF},
        {"tga", IMG_TGA}, {"tif", IMG_TIF}, {"tiff", IMG_TIF}, {"png", IMG_PNG},  {"psd", IMG_PSD},
        {"ico", IMG_ICO}, {"xpm", IMG_XPM}, {"vxl", IMG_VXL},
    };
    for (const auto& e : kTable)
        if (ext == e.ext)
            return e.type;
    return IMG_UNKNOWN;
}

FCImageHandleBase* FCImageHandleFactory_Gdiplus::CreateCodec(FCImageType type) const
{
    switch (type) {
    case IMG_BMP: return new (std::nothrow) FCImageHandle_Bmp;
    case IMG_TGA: return new (std::nothrow) FCImageHandle_Tga;
    case IMG_JPG:
    case IMG_GIF:
    case IMG_TIF:
    case IMG_PNG: return new (std::nothrow) FCImageHandle_Gdiplus;
    default: return nullptr;
    }
}

FCImageHandleBase* FCImageHandleFactory_IPicture::CreateCodec(FCImageType type) const
{
    switch (type) {
    case IMG_BMP: return new (std::nothrow) FCImageHandle_Bmp;
    case IMG_TGA: return new (std::nothrow) FCImageHandle_Tga;
    case IMG_JPG:
    case IMG_GIF: return new (std::nothrow) FCImageHandle_IPicture;
    default: return nullptr;
    }
}

namespace {

// Set while the library is attached; only replaced during attachment, hence no lock.
FCImageHandleFactory* g_pFactory = nullptr;
bool g_bFactoryMade = false;

void DestroyCurrentFactory()
{
    delete g_pFactory;
    g_pFactory = nullptr;
}

void MakeDefaultFactory()
{
    if (g_bFactoryMade) {
        // Destroyed by the exit routine while something still reads or writes: serve it.
        if (!g_pFactory)
            g_pFactory = new FCImageHandleFactory_IPicture;
        return;
    }
    g_bFactoryMade = true;
    g_pFactory = new FCImageHandleFactory_IPicture;
    // In a shared library this runs when the library is unloaded.
    atexit(DestroyCurrentFactory);
}

}  // namespace

FCImageHandleFactory& CurrentFactory()
{
    MakeDefaultFactory();
    return *g_pFactory;
}

void InstallFactory(FCImageHandleFactory* pFactory)
{
    MakeDefaultFactory();
    if (!pFactory || pFactory == g_pFactory)
        return;
    delete g_pFactory;
    g_pFactory = pFactory;
}

bool FCObjImage::ReadFromFile(const char* szFileName)
{
    FCImageHandleFactory& factory = CurrentFactory();
    std::unique_ptr<FCImageHandleBase> codec(factory.CreateCodec(factory.TypeFromPath(szFileName)));
    if (!codec)
        return false;
    if (!codec->DecodeFile(szFileName))
        return false;
    std::vector<FCObjImage*> images = codec->GetImages(false);
    if (images.empty())
        return false;
    CopyFrom(*images[0]);
    // A copy that could not get its memory is a failed read, not an empty success.
    return IsValid();
}

bool FCObjImage::WriteToFile(const char* szFileName, int nFlag) const
{
    if (!IsValid() || !szFileName)
        return false;
    FCImageHandleFactory& factory = CurrentFactory();
    std::unique_ptr<FCImageHandleBase> codec(factory.CreateCodec(factory.TypeFromPath(szFileName)));
    if (!codec)
        return false;
    codec->m_SaveImageList.push_back(this);
    return codec->EncodeFile(szFileName, nFlag);
}
