// user32: the rectangle helpers and device contexts of the screen and of windows. The window
// manager itself (window classes, messages, scroll bars, message boxes) lives in the
// platform's user-interface library and is declared in winuser_ui.h.
#pragma once

#include "windef.h"
#include "wingdi.h"

#ifdef __cplusplus
extern "C" {
#endif

// NULL: the screen's device context (a 32-bit device of the desktop's resolution, with no
// drawable surface). A window: the device context of its client area.
HDC WINAPI GetDC(HWND hWnd);
// Releases a device context from GetDC; returns 1 when it was released.
int WINAPI ReleaseDC(HWND hWnd, HDC hDC);
// Fills a rectangle (device units, clipped to the surface) with a brush's colour.
int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr);
// TRUE when right <= left or bottom <= top (or the pointer is null).
BOOL WINAPI IsRectEmpty(const RECT* lprc);
// The overlap of two rectangles; FALSE and an all-zero result when they do not overlap.
BOOL WINAPI IntersectRect(LPRECT lprcDst, const RECT* lprcSrc1, const RECT* lprcSrc2);
BOOL WINAPI SetRect(LPRECT lprc, int xLeft, int yTop, int xRight, int yBottom);

#ifdef __cplusplus
}
#endif
