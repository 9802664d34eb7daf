// shell32: the folder picker (platform_ui, over Qt Widgets).
#pragma once

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

// An item of the shell's name space. Here every item is a file-system folder; the structure
// is opaque and ends with ILFree.
typedef struct _ITEMIDLIST ITEMIDLIST, *LPITEMIDLIST;
typedef const ITEMIDLIST* LPCITEMIDLIST;
typedef ITEMIDLIST* PIDLIST_ABSOLUTE;
typedef const ITEMIDLIST* PCIDLIST_ABSOLUTE;

typedef int(CALLBACK* BFFCALLBACK)(HWND hwnd, UINT uMsg, LPARAM lParam, LPARAM lpData);

typedef struct _browseinfoA {
    HWND hwndOwner;
    PCIDLIST_ABSOLUTE pidlRoot;  // NULL: the desktop
    LPSTR pszDisplayName;        // MAX_PATH bytes; receives the chosen folder's name
    LPCSTR lpszTitle;
    UINT ulFlags;
    BFFCALLBACK lpfn;
    LPARAM lParam;
    int iImage;
} BROWSEINFOA, *PBROWSEINFOA, *LPBROWSEINFOA;

#define BIF_RETURNONLYFSDIRS 0x00000001

// Shows a modal folder picker owned by hwndOwner and starting at the desktop. Returns the
// chosen item (free it with ILFree) and its display name in pszDisplayName, or NULL when the
// user cancels.
PIDLIST_ABSOLUTE WINAPI SHBrowseForFolderA(LPBROWSEINFOA lpbi);
// Copies the item's file-system path (MAX_PATH bytes) into pszPath; FALSE, with an empty
// pszPath, for a null item or a path that does not fit.
BOOL WINAPI SHGetPathFromIDListA(PCIDLIST_ABSOLUTE pidl, LPSTR pszPath);
// Frees an item from SHBrowseForFolderA.
void WINAPI ILFree(PIDLIST_ABSOLUTE pidl);

#define SHBrowseForFolder SHBrowseForFolderA
#define SHGetPathFromIDList SHGetPathFromIDListA

#ifdef __cplusplus
}
#endif
