// gdi32: memory device contexts and bitmaps, BitBlt, mapping modes and DIB transfers.
// Every device surface is 32 bits per pixel (blue, green, red, unused): the screen is a
// 32-bit device, and a bitmap compatible with any device context is a 32-bit bitmap.
#pragma once

#include "windef.h"

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 2)
typedef struct tagBITMAPFILEHEADER {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
} BITMAPFILEHEADER, *LPBITMAPFILEHEADER, *PBITMAPFILEHEADER;
#pragma pack(pop)

typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER, *LPBITMAPINFOHEADER, *PBITMAPINFOHEADER;

typedef struct tagRGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
} RGBQUAD, *LPRGBQUAD;

typedef struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO, *LPBITMAPINFO, *PBITMAPINFO;

typedef struct tagBITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
} BITMAP, *PBITMAP, *LPBITMAP;

#define BI_RGB 0L
#define BI_RLE8 1L
#define BI_RLE4 2L
#define BI_BITFIELDS 3L

#define DIB_RGB_COLORS 0
#define DIB_PAL_COLORS 1

#define SRCCOPY 0x00CC0020u

// GetDeviceCaps indexes
#define HORZSIZE 4
#define VERTSIZE 6
#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define PLANES 14
#define NUMCOLORS 24
#define LOGPIXELSX 88
#define LOGPIXELSY 90

// Mapping modes
#define MM_TEXT 1
#define MM_LOMETRIC 2
#define MM_HIMETRIC 3

// Stretch modes
#define BLACKONWHITE 1
#define WHITEONBLACK 2
#define COLORONCOLOR 3
#define HALFTONE 4

// Stock objects
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5

// GetObjectType results
#define OBJ_BRUSH 2
#define OBJ_DC 3
#define OBJ_BITMAP 7
#define OBJ_MEMDC 10

// A memory device context compatible with hdc (NULL: the screen), holding a 1 x 1 stock
// bitmap until another is selected.
HDC WINAPI CreateCompatibleDC(HDC hdc);
// A 32-bit bitmap of cx x cy pixels, zero-filled (black). NULL for sizes <= 0 or too large.
HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy);
// Selects a bitmap into a memory DC (a bitmap lives in one DC at a time) or a brush;
// returns the previous object of that kind, or NULL on failure.
HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h);
// Deletes a memory DC made by CreateCompatibleDC; its selected bitmap is left alive.
BOOL WINAPI DeleteDC(HDC hdc);
// Deletes a bitmap or brush; a bitmap still selected into a DC and stock objects are refused.
BOOL WINAPI DeleteObject(HGDIOBJ ho);
HGDIOBJ WINAPI GetStockObject(int i);
// A solid brush of the colour.
HBRUSH WINAPI CreateSolidBrush(COLORREF color);
DWORD WINAPI GetObjectType(HGDIOBJ h);
// Fills a BITMAP (c >= sizeof(BITMAP)) for a bitmap; returns the bytes written, 0 on failure.
int WINAPI GetObjectW(HANDLE h, int c, LPVOID pv);
int WINAPI GetObjectA(HANDLE h, int c, LPVOID pv);
// BITSPIXEL 32, PLANES 1, LOGPIXELSX/Y the screen resolution (96 unless a display reports
// another), HORZRES/VERTRES the screen size in pixels.
int WINAPI GetDeviceCaps(HDC hdc, int index);

// Copies a rectangle between device surfaces (device units), clipped to both; SRCCOPY only.
BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop);
COLORREF WINAPI GetPixel(HDC hdc, int x, int y);
COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color);

// MM_TEXT and MM_HIMETRIC (0.01 mm per unit, y up). Returns the previous mode, 0 on failure.
int WINAPI SetMapMode(HDC hdc, int iMode);
int WINAPI GetMapMode(HDC hdc);
// Logical to device points in the DC's mapping mode, rounded to nearest (halves away from 0).
BOOL WINAPI LPtoDP(HDC hdc, LPPOINT lppt, int c);
int WINAPI SetStretchBltMode(HDC hdc, int mode);
int WINAPI GetStretchBltMode(HDC hdc);

// Reads rows [start, start + cLines) of a bitmap (row 0 the bottom one for a bottom-up DIB)
// into a DIB of 1, 4, 8 (nearest entry of the given colour table), 16 (5-5-5 or bit fields),
// 24 or 32 bits; the DIB's bottom row is the bitmap's bottom row. Returns the number of rows
// copied, 0 on failure.
int WINAPI GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits, LPBITMAPINFO lpbmi, UINT usage);
// Draws rows of a DIB (1/4/8/16/24/32 bits, BI_RGB or BI_BITFIELDS, DIB_RGB_COLORS) 1:1 at
// (xDest, yDest). The buffer holds the DIB's scan lines [StartScan, StartScan + cLines).
// Clipped to the DIB and the surface. Returns the number of scan lines given, 0 on failure.
int WINAPI SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc,
                             UINT StartScan, UINT cLines, const void* lpvBits, const BITMAPINFO* lpbmi,
                             UINT ColorUse);
// Draws a source rectangle of a DIB (ySrc counted from the bottom row of a bottom-up DIB)
// into a destination rectangle, nearest neighbour (COLORONCOLOR); negative destination sizes
// mirror. Returns the number of scan lines of the destination, 0 on failure.
int WINAPI StretchDIBits(HDC hdc, int xDest, int yDest, int DestWidth, int DestHeight, int xSrc, int ySrc,
                         int SrcWidth, int SrcHeight, const void* lpBits, const BITMAPINFO* lpbmi,
                         UINT iUsage, DWORD rop);

#ifdef __cplusplus
}
#endif
