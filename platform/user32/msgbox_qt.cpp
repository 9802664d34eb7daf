// Message boxes and the application's cursor.
#include "../internal/ui.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {

platform::ui::MessageBoxAnswer& Hook()
{
    static platform::ui::MessageBoxAnswer hook;
    return hook;
}

struct Cursor {
    Qt::CursorShape shape;
};
Cursor s_arrow{Qt::ArrowCursor};
Cursor s_wait{Qt::WaitCursor};
HCURSOR s_current = reinterpret_cast<HCURSOR>(&s_arrow);
bool s_overriding = false;

}  // namespace

namespace platform {
namespace ui {

void SetMessageBoxHook(MessageBoxAnswer answer) { Hook() = std::move(answer); }

}  // namespace ui
}  // namespace platform

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    const char* caption = lpCaption ? lpCaption : "Error";  // Windows' caption for NULL
    if (Hook())
        return Hook()({hWnd, lpText ? lpText : "", caption, uType});
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return 0;

    struct ButtonSpec {
        QMessageBox::StandardButton button;
        int id;
    };
    std::vector<ButtonSpec> buttons;
    int escapeId = IDCANCEL;
    switch (uType & MB_TYPEMASK) {
    case MB_OK: buttons = {{QMessageBox::Ok, IDOK}}; escapeId = IDOK; break;
    case MB_OKCANCEL: buttons = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}}; break;
    case MB_ABORTRETRYIGNORE:
        buttons = {{QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
        escapeId = 0;
        break;
    case MB_YESNOCANCEL:
        buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    case MB_YESNO: buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}}; escapeId = 0; break;
    case MB_RETRYCANCEL: buttons = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}}; break;
    default: return 0;
    }
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (uType & MB_ICONMASK) {
    case MB_ICONHAND: icon = QMessageBox::Critical; break;
    case MB_ICONQUESTION: icon = QMessageBox::Question; break;
    case MB_ICONEXCLAMATION: icon = QMessageBox::Warning; break;
    case MB_ICONASTERISK: icon = QMessageBox::Information; break;
    }
    QMessageBox box(icon, QString::fromUtf8(caption), QString::fromUtf8(lpText ? lpText : ""), QMessageBox::NoButton,
                    platform::ui::WidgetOf(hWnd));
    box.setWindowModality(Qt::ApplicationModal);
    std::vector<std::pair<QAbstractButton*, int>> made;
    for (auto& b : buttons)
        made.emplace_back(box.addButton(b.button), b.id);
    size_t def = ((uType & MB_DEFMASK) >> 8);
    if (def < made.size())
        box.setDefaultButton(static_cast<QPushButton*>(made[def].first));
    for (auto& m : made)
        if (m.second == escapeId)
            box.setEscapeButton(m.first);
    box.exec();
    for (auto& m : made)
        if (box.clickedButton() == m.first)
            return m.second;
    return escapeId ? escapeId : IDCANCEL;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName)
{
    if (hInstance)
        return nullptr;  // no cursor resources of our own
    if (lpCursorName == IDC_ARROW)
        return reinterpret_cast<HCURSOR>(&s_arrow);
    if (lpCursorName == IDC_WAIT)
        return reinterpret_cast<HCURSOR>(&s_wait);
    return nullptr;
}

HCURSOR WINAPI SetCursor(HCURSOR hCursor)
{
    HCURSOR old = s_current;
    if (hCursor != reinterpret_cast<HCURSOR>(&s_arrow) && hCursor != reinterpret_cast<HCURSOR>(&s_wait) && hCursor)
        return old;  // not a cursor of ours
    s_current = hCursor;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return old;
    bool wait = hCursor == reinterpret_cast<HCURSOR>(&s_wait);
    if (wait && !s_overriding) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        s_overriding = true;
    } else if (!wait && s_overriding) {
        QGuiApplication::restoreOverrideCursor();
        s_overriding = false;
    }
    return old;
}

HCURSOR WINAPI GetCursor(void) { return s_current; }
