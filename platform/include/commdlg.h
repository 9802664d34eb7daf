// comdlg32: the file-open dialog (platform_ui, over Qt Widgets).
#pragma once

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef UINT_PTR(CALLBACK* LPOFNHOOKPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagOFNA {
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    LPCSTR lpstrFilter;      // "Description\0*.a;*.b\0...\0\0"
    LPSTR lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;      // 1-based pair chosen first; receives the pair in use
    LPSTR lpstrFile;         // initial name in, chosen path out
    DWORD nMaxFile;
    LPSTR lpstrFileTitle;    // receives the name without its folder, if given
    DWORD nMaxFileTitle;
    LPCSTR lpstrInitialDir;
    LPCSTR lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    LPCSTR lpstrDefExt;
    LPARAM lCustData;
    LPOFNHOOKPROC lpfnHook;
    LPCSTR lpTemplateName;
    void* pvReserved;
    DWORD dwReserved;
    DWORD FlagsEx;
} OPENFILENAMEA, *LPOPENFILENAMEA;

#define OFN_HIDEREADONLY 0x00000004
#define OFN_PATHMUSTEXIST 0x00000800
#define OFN_FILEMUSTEXIST 0x00001000
#define OFN_ENABLESIZING 0x00800000

#define FNERR_BUFFERTOOSMALL 0x3003
#define CDERR_INITIALIZATION 0x0002
#define CDERR_STRUCTSIZE 0x0001

// Shows a modal file-open dialog owned by hwndOwner. The filter pairs match names without
// regard to case, as on Windows. TRUE with the full path in lpstrFile (and nFileOffset,
// nFileExtension, lpstrFileTitle, nFilterIndex) when the user chose an existing file; FALSE
// on cancel (CommDlgExtendedError 0) or when the path does not fit nMaxFile
// (FNERR_BUFFERTOOSMALL).
BOOL WINAPI GetOpenFileNameA(LPOPENFILENAMEA lpofn);
// The reason of the last failed dialog call, 0 after a cancel.
DWORD WINAPI CommDlgExtendedError(void);

#define GetOpenFileName GetOpenFileNameA

#ifdef __cplusplus
}
#endif
