// The hooks through which the window system serves device contexts of windows: GetDC and
// ReleaseDC of the core library forward window handles to them.
#pragma once

#include <windows.h>

namespace platform {

struct WindowDcHooks {
    HDC (*getDc)(HWND) = nullptr;
    int (*releaseDc)(HWND, HDC) = nullptr;
};

void SetWindowDcHooks(const WindowDcHooks& hooks);

}  // namespace platform
