// Pixmill's exported functions: plain C, undecorated names, integers of 32 bits, results 1/0
// or a handle that is null on failure. Image handles are opaque and end only through
// Pixmill_DestroyImageObject.
#pragma once

#include <windows.h>

#if defined(PIXMILL_BUILD)
#define PIXMILL_API extern "C" __attribute__((visibility("default")))
#else
#define PIXMILL_API extern "C"
#endif

typedef void* PIXMILL_IMAGE;

PIXMILL_API int Pixmill_IsValidImage(const char* szFileName);
PIXMILL_API int Pixmill_GetImageSize(const char* szFileName, int* pSize);
PIXMILL_API int Pixmill_GetImageFileSize(const char* szFileName, int* pnFileSize);
PIXMILL_API int Pixmill_DrawImageOnDC(const char* szFileName, HDC hdc, int x, int y);
PIXMILL_API int Pixmill_DrawImageOnDCRect(const char* szFileName, HDC hdc, int nLeft, int nTop, int nRight, int nBottom);
PIXMILL_API int Pixmill_DrawImageRectOnDCRect(const char* szFileName, HDC hdc, int nSrcLeft, int nSrcTop,
                                              int nSrcRight, int nSrcBottom, int nDestLeft, int nDestTop,
                                              int nDestRight, int nDestBottom);
PIXMILL_API int Pixmill_CaptureDCToJPEG(HDC hdc, int nLeft, int nTop, int nRight, int nBottom, const char* szFileName,
                                        int nFlag);
PIXMILL_API PIXMILL_IMAGE Pixmill_CreateEmptyImageObject(void);
PIXMILL_API PIXMILL_IMAGE Pixmill_CreateImageObject(int nWidth, int nHeight, int nBitCount);
PIXMILL_API PIXMILL_IMAGE Pixmill_CreateImageObjectByFile(const char* szFileName);
PIXMILL_API int Pixmill_GetSizeOfImageObject(PIXMILL_IMAGE hImage, int* pSize);
PIXMILL_API int Pixmill_ImageObjectLoad(PIXMILL_IMAGE hImage, const char* szFileName);
PIXMILL_API int Pixmill_DestroyImageObject(PIXMILL_IMAGE hImage);
PIXMILL_API int Pixmill_DrawImageObjectOnDC(PIXMILL_IMAGE hImage, HDC hdc, int x, int y);
PIXMILL_API int Pixmill_DrawImageObjectOnDCRect(PIXMILL_IMAGE hImage, HDC hdc, int nLeft, int nTop, int nRight,
                                                int nBottom);
PIXMILL_API int Pixmill_DrawImageObjectRectOnDCRect(PIXMILL_IMAGE hImage, HDC hdc, int nSrcLeft, int nSrcTop,
                                                    int nSrcRight, int nSrcBottom, int nDestLeft, int nDestTop,
                                                    int nDestRight, int nDestBottom);
PIXMILL_API int Pixmill_StretchImageObject(PIXMILL_IMAGE hImage, int nWidth, int nHeight);
PIXMILL_API int Pixmill_GetImageObjectSubBlock(PIXMILL_IMAGE hSrc, PIXMILL_IMAGE hDest, int nLeft, int nTop,
                                               int nRight, int nBottom);
PIXMILL_API int Pixmill_SaveImageObject(PIXMILL_IMAGE hImage, const char* szFileName, int nFlag);
