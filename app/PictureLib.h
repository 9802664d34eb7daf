// Run-time binding of the image library Pixmill: the library is loaded by name when the
// document list is made and released when it is destroyed; the converter reaches it only
// through these functions.
#pragma once

#include <windows.h>

// The library's exports, in the order they are looked up.
enum PictureLibFunction {
    PL_IsValidImage,
    PL_GetImageSize,
    PL_GetImageFileSize,
    PL_DrawImageOnDC,
    PL_DrawImageOnDCRect,
    PL_DrawImageRectOnDCRect,
    PL_CaptureDCToJPEG,
    PL_CreateEmptyImageObject,
    PL_CreateImageObject,
    PL_CreateImageObjectByFile,
    PL_GetSizeOfImageObject,
    PL_ImageObjectLoad,
    PL_DestroyImageObject,
    PL_DrawImageObjectOnDC,
    PL_DrawImageObjectOnDCRect,
    PL_DrawImageObjectRectOnDCRect,
    PL_StretchImageObject,
    PL_GetImageObjectSubBlock,
    PL_SaveImageObject,
    PL_FunctionCount
};

typedef int (*PFN_Pixmill_CaptureDCToJPEG)(HDC hdc, int left, int top, int right, int bottom, const char* szPath,
                                          int nSaveFlag);

// 1 when the library is bound (now or already), 0 when "Pixmill.dll" cannot be loaded.
// Every successful call must be balanced by PictureLibFree.
int PictureLibLoad();
// Drops one reference; the last one unloads the library and clears the function table.
void PictureLibFree();
// Forwards to Pixmill_CaptureDCToJPEG; 0 while that function is not bound.
int PictureLibCaptureDC(HDC hdc, int left, int top, int right, int bottom, const char* szPath, int nQuality);

// The binding's state, for its tests: the reference count and one table entry (null while
// unbound or when the library lacks the name).
unsigned PictureLibRefCount();
FARPROC PictureLibEntry(int nIndex);
