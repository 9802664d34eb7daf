// The window system's side of the program's Qt forms (user32), for the other platform modules
// (shell32's folder picker) and the tests: the hooks through which tests answer message boxes
// and dialogs in place of a person. The program itself uses <qtwin.h>.
#pragma once

#include <qtwin.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace platform {
namespace ui {

// The Qt widget of a window handle (a platform window's frame, or the widget of WindowOf).
QWidget* WidgetOf(HWND hWnd);

struct MessageBoxRequest {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;  // MB_ buttons | MB_ icon | MB_DEFBUTTONn
};
// Returns the button's ID (IDOK, IDYES ...) in place of the person.
using MessageBoxAnswer = std::function<int(const MessageBoxRequest&)>;
// An empty function shows real message boxes again.
void SetMessageBoxHook(MessageBoxAnswer answer);

struct FileDialogRequest {
    enum Kind { OpenFile, PickFolder } kind;
    HWND owner;
    std::string title;
    std::vector<std::pair<std::string, std::string>> filters;  // description, "*.a;*.b"
    std::string initialDir;
};
// true and a path to confirm, false to cancel.
using FileDialogAnswer = std::function<bool(const FileDialogRequest&, std::string* path)>;
void SetFileDialogHook(FileDialogAnswer answer);
// The hook in force (empty: real dialogs), for the dialogs of other modules.
FileDialogAnswer& CurrentFileDialogHook();

// The Qt name filter for one pair of a Windows filter: the description as shown, followed by
// its patterns made case-insensitive ("*.doc" -> "*.[dD][oO][cC]").
std::string QtNameFilter(const std::string& description, const std::string& patterns);
// Splits a Windows filter ("Desc\0*.a;*.b\0...\0\0") into its pairs.
std::vector<std::pair<std::string, std::string>> ParseFilter(const char* filter);

}  // namespace ui
}  // namespace platform
