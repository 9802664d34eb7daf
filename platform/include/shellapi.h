// shell32: the shell's verbs.
#pragma once

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

#define SE_ERR_FNF 2
#define SE_ERR_NOASSOC 31

// "open" (or a null verb) hands the target, a path, a "file://" address or a web address, to
// the desktop's opener (xdg-open), started detached so the caller never waits for it. Returns
// a value greater than 32 when the opener was started, else an SE_ERR_ code.
HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                               LPCSTR lpDirectory, INT nShowCmd);

#ifdef __cplusplus
}
#endif
