// Codecs over platform services: GDI+ for JPEG, GIF, TIFF and PNG (and BMP when asked), and
// the OLE picture loader for JPEG and GIF.
#include <objbase.h>
#include <olectl.h>
#include <windows.h>

#include <gdiplusflat.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "Codecs.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

// Paths and MIME types reach GDI+ as UTF-16 in the ANSI code page's conversion.
std::vector<WCHAR> ToWide(const char* s)
{
    std::vector<WCHAR> w;
    if (!s)
        return w;
    int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
    if (n <= 0)
        return w;
    w.resize((size_t)n);
    if (MultiByteToWideChar(CP_ACP, 0, s, -1, w.data(), n) <= 0)
        w.clear();
    return w;
}

bool SameWide(const WCHAR* a, const WCHAR* b)
{
    if (!a || !b)
        return false;
    while (*a && *a == *b)
        ++a, ++b;
    return *a == *b;
}

const char* MimeOf(FCImageType type)
{
    switch (type) {
    case IMG_BMP: return "image/bmp";
    case IMG_JPG: return "image/jpeg";
    case IMG_GIF: return "image/gif";
    case IMG_TIF: return "image/tiff";
    case IMG_PNG: return "image/png";
    default: return nullptr;
    }
}

// The class identifier of the encoder for the MIME type; all zero when there is none.
CLSID FindEncoder(const char* szMime)
{
    CLSID clsid;
    memset(&clsid, 0, sizeof(clsid));
    std::vector<WCHAR> mime = ToWide(szMime);
    UINT nCount = 0, nBytes = 0;
    if (mime.empty() || GdipGetImageEncodersSize(&nCount, &nBytes) != Ok || nBytes == 0)
        return clsid;
    std::unique_ptr<BYTE[]> block(new BYTE[nBytes]);
    ImageCodecInfo* pInfo = reinterpret_cast<ImageCodecInfo*>(block.get());
    if (GdipGetImageEncoders(nCount, nBytes, pInfo) != Ok)
        return clsid;
    for (UINT i = 0; i < nCount; ++i) {
        if (SameWide(pInfo[i].MimeType, mime.data())) {
            clsid = pInfo[i].Clsid;
            break;
        }
    }
    return clsid;
}

struct FormatInfo {
    PixelFormat format;
    WORD depth;
    DWORD compression;
    DWORD masks[3];
};

const FormatInfo kFormats[] = {
    {PixelFormat1bppIndexed, 1, BI_RGB, {0, 0, 0}},
    {PixelFormat4bppIndexed, 4, BI_RGB, {0, 0, 0}},
    {PixelFormat8bppIndexed, 8, BI_RGB, {0, 0, 0}},
    {PixelFormat16bppRGB555, 16, BI_BITFIELDS, {0x7C00, 0x03E0, 0x001F}},
    {PixelFormat16bppARGB1555, 16, BI_BITFIELDS, {0x7C00, 0x03E0, 0x001F}},
    {PixelFormat16bppRGB565, 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F}},
    {PixelFormat24bppRGB, 24, BI_RGB, {0, 0, 0}},
    {PixelFormat32bppRGB, 32, BI_RGB, {0, 0, 0}},
    {PixelFormat32bppARGB, 32, BI_RGB, {0, 0, 0}},
    {PixelFormat32bppPARGB, 32, BI_RGB, {0, 0, 0}},
};

}  // namespace

FCImageHandle_Gdiplus::FCImageHandle_Gdiplus()
{
    GdiplusStartupInput input = {1, nullptr, FALSE, FALSE};
    // A failed start shows in the calls that follow, which then fail.
    GdiplusStartup(&m_nToken, &input, nullptr);
}

FCImageHandle_Gdiplus::~FCImageHandle_Gdiplus()
{
    GdiplusShutdown(m_nToken);
}

bool FCImageHandle_Gdiplus::DecodeBitmap(void* pBitmapObject)
{
    GpBitmap* pBitmap = static_cast<GpBitmap*>(pBitmapObject);
    UINT nWidth = 0, nHeight = 0;
    PixelFormat format = 0;
    if (GdipGetImageWidth(pBitmap, &nWidth) != Ok || GdipGetImageHeight(pBitmap, &nHeight) != Ok ||
        GdipGetImagePixelFormat(pBitmap, &format) != Ok)
        return false;
    const FormatInfo* pFormat = nullptr;
    for (const FormatInfo& f : kFormats)
        if (f.format == format)
            pFormat = &f;
    if (!pFormat || nWidth > INT32_MAX || nHeight > INT32_MAX)
        return false;

    struct {
        BITMAPINFOHEADER bmih;
        DWORD masks[3];
    } info;
    memset(&info, 0, sizeof(info));
    info.bmih.biSize = sizeof(BITMAPINFOHEADER);
    info.bmih.biWidth = (LONG)nWidth;
    info.bmih.biHeight = (LONG)nHeight;
    info.bmih.biPlanes = 1;
    info.bmih.biBitCount = pFormat->depth;
    info.bmih.biCompression = pFormat->compression;
    memcpy(info.masks, pFormat->masks, sizeof(info.masks));
    std::unique_ptr<FCObjImage> img(new FCObjImage);
    if (!img->CreateFromInfo(&info.bmih))
        return false;

    if (pFormat->depth <= 8) {
        INT nPalBytes = 0;
        if (GdipGetImagePaletteSize(pBitmap, &nPalBytes) != Ok || nPalBytes < (INT)sizeof(ColorPalette))
            return false;
        std::unique_ptr<BYTE[]> palBlock(new BYTE[(size_t)nPalBytes]);
        ColorPalette* pPal = reinterpret_cast<ColorPalette*>(palBlock.get());
        if (GdipGetImagePalette(pBitmap, pPal, nPalBytes) != Ok)
            return false;
        // The entries' bytes are blue, green, red, alpha: alpha lands in the reserved byte.
        UINT nCount = pPal->Count;
        const UINT nRoom = (UINT)(((size_t)nPalBytes - offsetof(ColorPalette, Entries)) / sizeof(ARGB));
        if (nCount > nRoom)
            nCount = nRoom;
        img->SetPalette(reinterpret_cast<const RGBQUAD*>(pPal->Entries), (int)nCount);
    }

    Rect rc = {0, 0, (INT)nWidth, (INT)nHeight};
    BitmapData data;
    memset(&data, 0, sizeof(data));
    if (GdipBitmapLockBits(pBitmap, &rc, ImageLockModeRead, format, &data) != Ok)
        return false;
    // Rows are copied only from a lock that lies the expected way.
    bool ok = data.Scan0 && data.Stride > 0;
    if (ok) {
        const size_t nCopy = (size_t)(data.Stride < img->GetPitch() ? data.Stride : img->GetPitch());
        const BYTE* pSrc = static_cast<const BYTE*>(data.Scan0);
        for (int y = 0; y < img->Height(); ++y)
            memcpy(img->PixelAddress(0, y), pSrc + (size_t)y * data.Stride, nCopy);
    }
    GdipBitmapUnlockBits(pBitmap, &data);
    if (!ok)
        return false;
    if (format == PixelFormat32bppRGB)
        img->MakeOpaque();
    Adopt(img.release());
    return true;
}

bool FCImageHandle_Gdiplus::DecodeFile(const char* szFileName)
{
    std::vector<WCHAR> path = ToWide(szFileName);
    if (path.empty())
        return false;
    GpBitmap* pBitmap = nullptr;
    if (GdipCreateBitmapFromFile(path.data(), &pBitmap) != Ok || !pBitmap)
        return false;
    bool ok = DecodeBitmap(pBitmap);
    GdipDisposeImage(pBitmap);
    return ok;
}

bool FCImageHandle_Gdiplus::DecodeMemory(const BYTE* pData, int nSize)
{
    if (!pData || nSize <= 0)
        return false;
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE, (SIZE_T)nSize);
    if (!hMem)
        return false;
    void* p = GlobalLock(hMem);
    if (!p) {
        GlobalFree(hMem);
        return false;
    }
    memcpy(p, pData, (size_t)nSize);
    GlobalUnlock(hMem);
    IStream* pStream = nullptr;
    if (CreateStreamOnHGlobal(hMem, TRUE, &pStream) != S_OK || !pStream) {
        GlobalFree(hMem);  // the stream did not take it
        return false;
    }
    GpBitmap* pBitmap = nullptr;
    bool ok = false;
    if (GdipCreateBitmapFromStream(pStream, &pBitmap) == Ok && pBitmap) {
        ok = DecodeBitmap(pBitmap);
        GdipDisposeImage(pBitmap);
    }
    pStream->Release();
    return ok;
}

bool FCImageHandle_Gdiplus::EncodeFile(const char* szFileName, int nFlag)
{
    if (m_SaveImageList.empty() || !m_SaveImageList[0]->IsValid())
        return false;
    const FCObjImage& img = *m_SaveImageList[0];
    const char* szMime = MimeOf(CurrentFactory().TypeFromPath(szFileName));
    if (!szMime)
        return false;
    std::vector<WCHAR> path = ToWide(szFileName);
    if (path.empty())
        return false;
    const CLSID clsid = FindEncoder(szMime);
    std::unique_ptr<BITMAPINFO, decltype(&free)> info(img.NewBitmapInfo(), &free);
    if (!info)
        return false;
    GpBitmap* pBitmap = nullptr;
    if (GdipCreateBitmapFromGdiDib(info.get(), img.GetMemStart(), &pBitmap) != Ok || !pBitmap)
        return false;
    // The save flag is not an encoder parameter: JPEG files get the encoder's default quality.
    const Status st = GdipSaveImageToFile(pBitmap, path.data(), &clsid, nullptr);
    GdipDisposeImage(pBitmap);
    return st == Ok;
}

bool FCImageHandle_IPicture::DecodeMemory(const BYTE* pData, int nSize)
{
    if (!pData || nSize <= 0)
        return false;
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE, (SIZE_T)nSize);
    if (!hMem)
        return false;
    void* p = GlobalLock(hMem);
    if (!p) {
        GlobalFree(hMem);
        return false;
    }
    memcpy(p, pData, (size_t)nSize);
    GlobalUnlock(hMem);
    std::unique_ptr<FCObjImage> img(new FCObjImage);

    IStream* pStream = nullptr;
    if (CreateStreamOnHGlobal(hMem, TRUE, &pStream) == S_OK && pStream) {
        IPicture* pPicture = nullptr;
        if (OleLoadPicture(pStream, nSize, FALSE, IID_IPicture, reinterpret_cast<void**>(&pPicture)) == S_OK &&
            pPicture) {
            OLE_HANDLE hHandle = 0;
            BITMAP bm;
            memset(&bm, 0, sizeof(bm));
            if (pPicture->get_Handle(&hHandle) == S_OK &&
                GetObjectW(reinterpret_cast<HANDLE>(hHandle), sizeof(BITMAP), &bm) &&
                img->Create(bm.bmWidth, bm.bmHeight, 24)) {
                HDC hdc = GetDC(nullptr);
                BITMAPINFO* pInfo = img->NewBitmapInfo();
                // A bitmap GDI cannot read leaves an image without pixels: refused below.
                if (!pInfo || GetDIBits(hdc, reinterpret_cast<HBITMAP>(hHandle), 0, (UINT)img->Height(),
                                        img->GetMemStart(), pInfo, DIB_RGB_COLORS) == 0)
                    img->Clear();
                free(pInfo);
                ReleaseDC(nullptr, hdc);
            }
            pPicture->Release();
        }
        pStream->Release();
    } else {
        GlobalFree(hMem);
    }
    if (!img->IsValid())
        return false;
    Adopt(img.release());
    return true;
}
