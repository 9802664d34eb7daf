#include "PictureLib.h"

namespace {

const char* const kFunctionNames[PL_FunctionCount] = {
    "Pixmill_IsValidImage",
    "Pixmill_GetImageSize",
    "Pixmill_GetImageFileSize",
    "Pixmill_DrawImageOnDC",
    "Pixmill_DrawImageOnDCRect",
    "Pixmill_DrawImageRectOnDCRect",
    "Pixmill_CaptureDCToJPEG",
    "Pixmill_CreateEmptyImageObject",
    "Pixmill_CreateImageObject",
    "Pixmill_CreateImageObjectByFile",
    "Pixmill_GetSizeOfImageObject",
    "Pixmill_ImageObjectLoad",
    "Pixmill_DestroyImageObject",
    "Pixmill_DrawImageObjectOnDC",
    "Pixmill_DrawImageObjectOnDCRect",
    "Pixmill_DrawImageObjectRectOnDCRect",
    "Pixmill_StretchImageObject",
    "Pixmill_GetImageObjectSubBlock",
    "Pixmill_SaveImageObject",
};

// Process-wide and used from the user-interface thread only, hence no lock.
unsigned g_nRefCount = 0;
HMODULE g_hModule = nullptr;
FARPROC g_pFunctions[PL_FunctionCount] = {};

}  // namespace

int PictureLibLoad()
{
    if (g_nRefCount > 0) {
        ++g_nRefCount;
        return 1;
    }
    HMODULE hModule = LoadLibraryA("Pixmill.dll");
    if (!hModule)
        return 0;
    g_hModule = hModule;
    // A missing name leaves its entry null; callers test the entry they use.
    for (int i = 0; i < PL_FunctionCount; ++i)
        g_pFunctions[i] = GetProcAddress(hModule, kFunctionNames[i]);
    g_nRefCount = 1;
    return 1;
}

void PictureLibFree()
{
    if (g_nRefCount == 0)
        return;
    if (--g_nRefCount > 0)
        return;
    FreeLibrary(g_hModule);
    g_hModule = nullptr;
    for (FARPROC& p : g_pFunctions)
        p = nullptr;
}

int PictureLibCaptureDC(HDC hdc, int left, int top, int right, int bottom, const char* szPath, int nQuality)
{
    FARPROC p = g_pFunctions[PL_CaptureDCToJPEG];
    if (!p)
        return 0;
    // Through the generic function type: the table stores every entry as FARPROC.
    return reinterpret_cast<PFN_Pixmill_CaptureDCToJPEG>(reinterpret_cast<void (*)()>(p))(hdc, left, top, right, bottom, szPath, nQuality);
}

unsigned PictureLibRefCount()
{
    return g_nRefCount;
}

FARPROC PictureLibEntry(int nIndex)
{
    if (nIndex < 0 || nIndex >= PL_FunctionCount)
        return nullptr;
    return g_pFunctions[nIndex];
}
