// The exported functions and the library's attachment. Nothing is thrown across the C
// interface: running out of memory inside an export is that export's failure.
#include "Pixmill.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "ImageHandle.h"

namespace {

FCObjImage* AsImage(PIXMILL_IMAGE h) { return static_cast<FCObjImage*>(h); }

// Runs an export's body; an exception (memory exhaustion) becomes the failure result.
template <class R, class F>
R Guard(R failure, F body)
{
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// False when there was no memory to describe the image to GDI.
bool DrawOnDC(const FCObjImage& img, HDC hdc, int x, int y)
{
    BITMAPINFO* pInfo = img.NewBitmapInfo();
    if (!pInfo)
        return false;
    const int nOldMode = SetStretchBltMode(hdc, COLORONCOLOR);
    SetDIBitsToDevice(hdc, x, y, (DWORD)img.Width(), (DWORD)img.Height(), 0, 0, 0, (UINT)img.Height(),
                      img.GetMemStart(), pInfo, DIB_RGB_COLORS);
    SetStretchBltMode(hdc, nOldMode);
    free(pInfo);
    return true;
}

bool DrawRectOnDC(const FCObjImage& img, HDC hdc, const RECT& src, const RECT& dst)
{
    BITMAPINFO* pInfo = img.NewBitmapInfo();
    if (!pInfo)
        return false;
    const int nOldMode = SetStretchBltMode(hdc, COLORONCOLOR);
    // The block is bottom-up: the source's lowest row counts from the bottom of the block.
    StretchDIBits(hdc, dst.left, dst.top, dst.right - dst.left, dst.bottom - dst.top, src.left,
                  img.Height() - src.bottom, src.right - src.left, src.bottom - src.top, img.GetMemStart(), pInfo,
                  DIB_RGB_COLORS, SRCCOPY);
    SetStretchBltMode(hdc, nOldMode);
    free(pInfo);
    return true;
}

// The library is attached: its factory replaces the default one.
__attribute__((constructor)) void AttachLibrary()
{
    try {
        InstallFactory(new FCImageHandleFactory_Gdiplus);
    } catch (...) {
        // Without memory the default factory stays; reads and writes still work through it.
    }
}

}  // namespace

PIXMILL_API int Pixmill_IsValidImage(const char* szFileName)
{
    return Guard(0, [&] {
        FCObjImage img;
        img.ReadFromFile(szFileName);
        return img.IsValid() ? 1 : 0;
    });
}

PIXMILL_API int Pixmill_GetImageSize(const char* szFileName, int* pSize)
{
    if (!pSize)
        return 0;
    return Guard(0, [&] {
        FCObjImage img;
        img.ReadFromFile(szFileName);
        if (!img.IsValid())
            return 0;
        pSize[0] = img.Width();
        pSize[1] = img.Height();
        return 1;
    });
}

PIXMILL_API int Pixmill_GetImageFileSize(const char* szFileName, int* pnFileSize)
{
    if (!pnFileSize || !szFileName)
        return 0;
    FILE* f = fopen(szFileName, "rb");
    if (!f)
        return 0;
    long n = -1;
    if (fseek(f, 0, SEEK_END) == 0)
        n = ftell(f);
    fclose(f);
    // A length that an int32 cannot hold is a failure, not a wrong size.
    if (n < 0 || n > INT32_MAX)
        return 0;
    *pnFileSize = (int)n;
    return 1;
}

PIXMILL_API int Pixmill_DrawImageOnDC(const char* szFileName, HDC hdc, int x, int y)
{
    return Guard(0, [&] {
        FCObjImage img;
        img.ReadFromFile(szFileName);
        if (!img.IsValid())
            return 0;
        return DrawOnDC(img, hdc, x, y) ? 1 : 0;
    });
}

PIXMILL_API int Pixmill_DrawImageOnDCRect(const char* szFileName, HDC hdc, int nLeft, int nTop, int nRight, int nBottom)
{
    return Guard(0, [&] {
        FCObjImage img;
        img.ReadFromFile(szFileName);
        if (!img.IsValid())
            return 0;
        return DrawRectOnDC(img, hdc, RECT{0, 0, img.Width(), img.Height()}, RECT{nLeft, nTop, nRight, nBottom}) ? 1 : 0;
    });
}

PIXMILL_API int Pixmill_DrawImageRectOnDCRect(const char* szFileName, HDC hdc, int nSrcLeft, int nSrcTop,
                                              int nSrcRight, int nSrcBottom, int nDestLeft, int nDestTop,
                                              int nDestRight, int nDestBottom)
{
    return Guard(0, [&] {
        FCObjImage img;
        img.ReadFromFile(szFileName);
        if (!img.IsValid())
            return 0;
        return DrawRectOnDC(img, hdc, RECT{nSrcLeft, nSrcTop, nSrcRight, nSrcBottom},
                            RECT{nDestLeft, nDestTop, nDestRight, nDestBottom})
                   ? 1
                   : 0;
    });
}

PIXMILL_API int Pixmill_CaptureDCToJPEG(HDC hdc, int nLeft, int nTop, int nRight, int nBottom, const char* szFileName,
                                        int nFlag)
{
    return Guard(0, [&] {
        RECT rc = {nLeft, nTop, nRight, nBottom};
        // Palette devices are not captured.
        if (IsRectEmpty(&rc) || GetDeviceCaps(hdc, BITSPIXEL) <= 8)
            return 0;
        HDC hMemDC = CreateCompatibleDC(hdc);
        if (!hMemDC)
            return 0;
        // The size in 64 bits: a rectangle spanning the whole int range has no valid width.
        const int64_t nWidth = (int64_t)nRight - nLeft, nHeight = (int64_t)nBottom - nTop;
        HBITMAP hBitmap = nWidth <= INT32_MAX && nHeight <= INT32_MAX
                              ? CreateCompatibleBitmap(hdc, (int)nWidth, (int)nHeight)
                              : nullptr;
        if (!hBitmap) {
            DeleteDC(hMemDC);
            return 0;
        }
        HGDIOBJ hOld = SelectObject(hMemDC, hBitmap);
        BitBlt(hMemDC, 0, 0, (int)nWidth, (int)nHeight, hdc, nLeft, nTop, SRCCOPY);
        SelectObject(hMemDC, hOld);

        FCObjImage img;
        BITMAP bm;
        if (GetObjectW(hBitmap, sizeof(BITMAP), &bm) && img.Create(bm.bmWidth, bm.bmHeight, 24)) {
            BITMAPINFO* pInfo = img.NewBitmapInfo();
            // Rows GDI could not deliver would be saved as black: that is a failed capture.
            if (!pInfo ||
                GetDIBits(hdc, hBitmap, 0, (UINT)img.Height(), img.GetMemStart(), pInfo, DIB_RGB_COLORS) != img.Height())
                img.Clear();
            free(pInfo);
        }
        DeleteObject(hBitmap);
        DeleteDC(hMemDC);
        if (!img.IsValid())
            return 0;
        return img.WriteToFile(szFileName, nFlag) ? 1 : 0;
    });
}

PIXMILL_API PIXMILL_IMAGE Pixmill_CreateEmptyImageObject(void)
{
    return new (std::nothrow) FCObjImage;
}

PIXMILL_API PIXMILL_IMAGE Pixmill_CreateImageObject(int nWidth, int nHeight, int nBitCount)
{
    return Guard<PIXMILL_IMAGE>(nullptr, [&]() -> PIXMILL_IMAGE {
        if (nBitCount < 0 || nBitCount > 0xFFFF)
            return nullptr;
        std::unique_ptr<FCObjImage> img(new FCObjImage);
        if (!img->Create(nWidth, nHeight, (WORD)nBitCount))
            return nullptr;
        return img.release();
    });
}

PIXMILL_API PIXMILL_IMAGE Pixmill_CreateImageObjectByFile(const char* szFileName)
{
    return Guard<PIXMILL_IMAGE>(nullptr, [&]() -> PIXMILL_IMAGE {
        std::unique_ptr<FCObjImage> img(new FCObjImage);
        if (!img->ReadFromFile(szFileName))
            return nullptr;
        return img.release();
    });
}

PIXMILL_API int Pixmill_GetSizeOfImageObject(PIXMILL_IMAGE hImage, int* pSize)
{
    FCObjImage* img = AsImage(hImage);
    if (!img || !img->IsValid() || !pSize)
        return 0;
    pSize[0] = img->Width();
    pSize[1] = img->Height();
    return 1;
}

PIXMILL_API int Pixmill_ImageObjectLoad(PIXMILL_IMAGE hImage, const char* szFileName)
{
    FCObjImage* img = AsImage(hImage);
    if (!img || !szFileName)
        return 0;
    return Guard(0, [&] { return img->ReadFromFile(szFileName) && img->IsValid() ? 1 : 0; });
}

PIXMILL_API int Pixmill_DestroyImageObject(PIXMILL_IMAGE hImage)
{
    if (!hImage)
        return 0;
    delete AsImage(hImage);
    return 1;
}

PIXMILL_API int Pixmill_DrawImageObjectOnDC(PIXMILL_IMAGE hImage, HDC hdc, int x, int y)
{
    FCObjImage* img = AsImage(hImage);
    if (!img || !img->IsValid())
        return 0;
    return Guard(0, [&] { return DrawOnDC(*img, hdc, x, y) ? 1 : 0; });
}

PIXMILL_API int Pixmill_DrawImageObjectOnDCRect(PIXMILL_IMAGE hImage, HDC hdc, int nLeft, int nTop, int nRight,
                                                int nBottom)
{
    FCObjImage* img = AsImage(hImage);
    if (!img || !img->IsValid())
        return 0;
    return Guard(0, [&] {
        return DrawRectOnDC(*img, hdc, RECT{0, 0, img->Width(), img->Height()}, RECT{nLeft, nTop, nRight, nBottom}) ? 1 : 0;
    });
}

PIXMILL_API int Pixmill_DrawImageObjectRectOnDCRect(PIXMILL_IMAGE hImage, HDC hdc, int nSrcLeft, int nSrcTop,
                                                    int nSrcRight, int nSrcBottom, int nDestLeft, int nDestTop,
                                                    int nDestRight, int nDestBottom)
{
    FCObjImage* img = AsImage(hImage);
    if (!img || !img->IsValid())
        return 0;
    return Guard(0, [&] {
        return DrawRectOnDC(*img, hdc, RECT{nSrcLeft, nSrcTop, nSrcRight, nSrcBottom},
                            RECT{nDestLeft, nDestTop, nDestRight, nDestBottom})
                   ? 1
                   : 0;
    });
}

PIXMILL_API int Pixmill_StretchImageObject(PIXMILL_IMAGE hImage, int nWidth, int nHeight)
{
    FCObjImage* img = AsImage(hImage);
    if (!img || !img->IsValid())
        return 0;
    return Guard(0, [&] {
        img->Stretch(nWidth, nHeight);
        // Sizes <= 0 and images of fewer than 8 bits are left alone; a stretch that was due
        // and left another size ran out of memory (the image is as it was).
        const bool due = nWidth > 0 && nHeight > 0 && img->ColorBits() >= 8;
        return !due || (img->Width() == nWidth && img->Height() == nHeight) ? 1 : 0;
    });
}

PIXMILL_API int Pixmill_GetImageObjectSubBlock(PIXMILL_IMAGE hSrc, PIXMILL_IMAGE hDest, int nLeft, int nTop,
                                               int nRight, int nBottom)
{
    if (!hSrc || !hDest)
        return 0;
    return Guard(0, [&] { return AsImage(hSrc)->GetSubBlock(AsImage(hDest), nLeft, nTop, nRight, nBottom) ? 1 : 0; });
}

PIXMILL_API int Pixmill_SaveImageObject(PIXMILL_IMAGE hImage, const char* szFileName, int nFlag)
{
    FCObjImage* img = AsImage(hImage);
    if (!img || !img->IsValid())
        return 0;
    return Guard(0, [&] { return img->WriteToFile(szFileName, nFlag) ? 1 : 0; });
}
