// user32: the rectangle helpers and device contexts of the screen and of windows. The window
// manager itself (window classes, messages, scroll bars, message boxes, cursors) lives in the
// platform's user-interface library (platform_ui, over Qt Widgets); its section is below.
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

// ---- The window manager (platform_ui) ----------------------------------------------------
#ifdef __cplusplus
extern "C" {
#endif

typedef int* LPINT;
typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagWNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
} WNDCLASSA, *PWNDCLASSA, *LPWNDCLASSA;

typedef struct tagCREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTA, *LPCREATESTRUCTA;

typedef struct tagPAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
} PAINTSTRUCT, *PPAINTSTRUCT, *LPPAINTSTRUCT;

// Class styles
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_DBLCLKS 0x0008

// Window styles
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_VSCROLL 0x00200000L
#define WS_HSCROLL 0x00100000L

// Window long indexes
#define GWL_STYLE (-16)
#define GWL_USERDATA (-21)
#define GWLP_USERDATA (-21)

// Messages
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_SIZE 0x0005
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_ERASEBKGND 0x0014
#define WM_NCDESTROY 0x0082
#define WM_KEYDOWN 0x0100
#define WM_COMMAND 0x0111
#define WM_HSCROLL 0x0114
#define WM_VSCROLL 0x0115
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_MOUSEWHEEL 0x020A
#define WM_USER 0x0400

// WM_SIZE kinds
#define SIZE_RESTORED 0

// Mouse key state in wParam
#define MK_LBUTTON 0x0001
#define MK_RBUTTON 0x0002
#define MK_SHIFT 0x0004
#define MK_CONTROL 0x0008

// WM_MOUSEWHEEL: the keys in the low word of wParam, the distance (multiples of WHEEL_DELTA,
// positive away from the user) in the high word.
#define WHEEL_DELTA 120
#define GET_WHEEL_DELTA_WPARAM(wParam) ((short)HIWORD(wParam))
#define GET_KEYSTATE_WPARAM(wParam) (LOWORD(wParam))

// Virtual keys (WM_KEYDOWN's wParam; digits and letters are their ASCII capitals)
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_DELETE 0x2E
#define VK_ADD 0x6B
#define VK_SUBTRACT 0x6D
#define VK_OEM_PLUS 0xBB
#define VK_OEM_MINUS 0xBD

// Scroll bars and scroll requests (low word of wParam of WM_HSCROLL / WM_VSCROLL)
#define SB_HORZ 0
#define SB_VERT 1
#define SB_LINEUP 0
#define SB_LINELEFT 0
#define SB_LINEDOWN 1
#define SB_LINERIGHT 1
#define SB_PAGEUP 2
#define SB_PAGELEFT 2
#define SB_PAGEDOWN 3
#define SB_PAGERIGHT 3
#define SB_THUMBPOSITION 4
#define SB_THUMBTRACK 5
#define SB_TOP 6
#define SB_LEFT 6
#define SB_BOTTOM 7
#define SB_RIGHT 7
#define SB_ENDSCROLL 8

// ShowWindow
#ifndef SW_HIDE
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#endif

// Message boxes
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_TYPEMASK 0x0000000FL
#define MB_ICONHAND 0x00000010L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_ICONMASK 0x000000F0L
#define MB_DEFBUTTON1 0x00000000L
#define MB_DEFBUTTON2 0x00000100L
#define MB_DEFBUTTON3 0x00000200L
#define MB_DEFMASK 0x00000F00L

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

// Cursors
#define IDC_ARROW ((LPCSTR)(ULONG_PTR)32512)
#define IDC_WAIT ((LPCSTR)(ULONG_PTR)32514)

// Registers a window class of this process (names compare without regard to case); returns
// its atom, 0 when the name is taken or the class lacks a name or window procedure.
ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass);
// TRUE and the class's attributes when a class of that name is registered.
BOOL WINAPI GetClassInfoA(HINSTANCE hInstance, LPCSTR lpClassName, LPWNDCLASSA lpWndClass);
// Creates a window of a registered class as a child of hWndParent (a window of the platform,
// or NULL for a top-level window). The procedure receives WM_CREATE (lParam a CREATESTRUCTA
// carrying lpParam) and then WM_SIZE; -1 from WM_CREATE destroys the window and gives NULL.
// WS_HSCROLL / WS_VSCROLL give standard scroll bars, shown while their range is not empty.
HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X,
                            int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam);
// Sends WM_DESTROY and WM_NCDESTROY and removes the window; FALSE for no window.
BOOL WINAPI DestroyWindow(HWND hWnd);
// TRUE while the handle names a live window.
BOOL WINAPI IsWindow(HWND hWnd);
// Calls the window's procedure at once and returns its result (0 for no window).
LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
// Default handling: WM_PAINT validates (BeginPaint / EndPaint), WM_ERASEBKGND fills with the
// class brush and gives 1, WM_CLOSE destroys the window; anything else gives 0.
LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
// GWL_USERDATA (the pointer-sized value of the window; the LONG forms carry its low 32 bits)
// and GWL_STYLE. Set returns the previous value; 0 for no window.
LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex);
LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong);
LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex);
LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
// The client area (0, 0, width, height), without visible scroll bars.
BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect);
// Moves and sizes a window in its parent's coordinates; a changed client size sends WM_SIZE
// at once. bRepaint invalidates the window.
BOOL WINAPI MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint);
// SW_HIDE hides, anything else shows; returns whether the window was visible before.
BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow);
BOOL WINAPI IsWindowVisible(HWND hWnd);
// Adds a rectangle (NULL: the whole client area) to the update region; bErase asks for
// WM_ERASEBKGND at the next BeginPaint.
BOOL WINAPI InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase);
// Sends WM_PAINT at once when the update region is not empty.
BOOL WINAPI UpdateWindow(HWND hWnd);
// The device context of the client area for painting, clipped to nothing narrower than the
// client; validates the update region and erases it first when asked.
HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint);
BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint);
// Standard scroll bars. A range with nMinPos == nMaxPos hides the bar. SetScrollPos clamps to
// the range and returns the previous position. GetScrollRange fails (zeros) for a window
// without that bar's style.
BOOL WINAPI SetScrollRange(HWND hWnd, int nBar, int nMinPos, int nMaxPos, BOOL bRedraw);
BOOL WINAPI GetScrollRange(HWND hWnd, int nBar, LPINT lpMinPos, LPINT lpMaxPos);
int WINAPI SetScrollPos(HWND hWnd, int nBar, int nPos, BOOL bRedraw);
int WINAPI GetScrollPos(HWND hWnd, int nBar);

// Resolution awareness (Windows 10). A window made while its thread's context is per-monitor
// aware has its client area in the screen's device pixels: GetClientRect, WM_SIZE, mouse
// positions and its device contexts count device pixels, and its device contexts give the
// device resolution for LOGPIXELSX/Y (192 on a screen of two device pixels a point). Its
// position and size as given to CreateWindowExA and MoveWindow stay in the parent's units.
// Other windows count the desktop's logical pixels.
DECLARE_HANDLE(DPI_AWARENESS_CONTEXT);
#define DPI_AWARENESS_CONTEXT_UNAWARE ((DPI_AWARENESS_CONTEXT)(LONG_PTR)-1)
#define DPI_AWARENESS_CONTEXT_SYSTEM_AWARE ((DPI_AWARENESS_CONTEXT)(LONG_PTR)-2)
#define DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE ((DPI_AWARENESS_CONTEXT)(LONG_PTR)-3)
#define DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 ((DPI_AWARENESS_CONTEXT)(LONG_PTR)-4)
// Returns the context it replaces (the system-aware one at start); null for a value that is
// none of the above.
DPI_AWARENESS_CONTEXT WINAPI SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT dpiContext);
// The resolution a window's device contexts give; 0 for no window.
UINT WINAPI GetDpiForWindow(HWND hwnd);

// Keyboard focus: the window that receives WM_KEYDOWN. Returns the window that had it (null
// when none of the platform's windows had it).
HWND WINAPI SetFocus(HWND hWnd);
HWND WINAPI GetFocus(void);
// The high bit (a negative value) when the key is down: VK_SHIFT, VK_CONTROL, VK_MENU.
SHORT WINAPI GetKeyState(int nVirtKey);
// Message box owned by hWnd (NULL: no owner) with the MB_ buttons and icon; returns the ID of
// the button chosen, the cancelling button for Escape or close (IDOK for MB_OK), 0 on failure.
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
// IDC_ARROW and IDC_WAIT of the system (hInstance NULL); NULL for anything else.
HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName);
// Makes the cursor the application's cursor (the wait cursor overrides every window's own
// until another is set); returns the previous one.
HCURSOR WINAPI SetCursor(HCURSOR hCursor);
HCURSOR WINAPI GetCursor(void);

#define RegisterClass RegisterClassA
#define GetClassInfo GetClassInfoA
#define CreateWindowEx CreateWindowExA
#define SendMessage SendMessageA
#define DefWindowProc DefWindowProcA
#define GetWindowLong GetWindowLongA
#define SetWindowLong SetWindowLongA
#define GetWindowLongPtr GetWindowLongPtrA
#define SetWindowLongPtr SetWindowLongPtrA
#define MessageBox MessageBoxA
#define LoadCursor LoadCursorA

#ifdef __cplusplus
}
#endif
