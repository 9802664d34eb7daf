// Not a header of the Windows SDK: the window handles of the program's Qt widgets, which on
// Windows a widget's winId() gives.
#pragma once

#include <windows.h>

class QWidget;

namespace platform {
namespace ui {

// The window handle of one of the program's Qt widgets (a form, a panel), made on first use
// and ended with the widget. Such a window has no window procedure: messages sent to it give
// 0; it can own message boxes and dialogs and be the parent of platform windows.
HWND WindowOf(QWidget* widget);
// The Qt widget of a window handle (a platform window's frame, or the widget of WindowOf).
QWidget* WidgetOf(HWND hWnd);
// Hands the primary screen's size and logical resolution to the GDI core, once a
// QGuiApplication exists (also done when the first window is made).
void SyncScreenMetrics();

}  // namespace ui
}  // namespace platform
