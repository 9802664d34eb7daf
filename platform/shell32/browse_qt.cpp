// The folder picker over Qt's own file dialog.
#include <shlobj.h>

#include "../internal/ui.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

#include <cstring>
#include <new>
#include <string>

struct _ITEMIDLIST {
    std::string path;
};

PIDLIST_ABSOLUTE WINAPI SHBrowseForFolderA(LPBROWSEINFOA lpbi)
{
    if (!lpbi)
        return nullptr;
    platform::ui::FileDialogRequest req;
    req.kind = platform::ui::FileDialogRequest::PickFolder;
    req.owner = lpbi->hwndOwner;
    req.title = lpbi->lpszTitle ? lpbi->lpszTitle : "";
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty() || !QDir(desktop).exists())
        desktop = QDir::homePath();
    req.initialDir = desktop.toUtf8().toStdString();

    std::string path;
    if (auto& hook = platform::ui::CurrentFileDialogHook()) {
        if (!hook(req, &path))
            return nullptr;
    } else {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
            return nullptr;
        QString dir = QFileDialog::getExistingDirectory(platform::ui::WidgetOf(lpbi->hwndOwner),
                                                        QString::fromUtf8(req.title.c_str()), desktop,
                                                        QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
        if (dir.isEmpty())
            return nullptr;
        path = dir.toUtf8().toStdString();
    }
    if (path.empty())
        return nullptr;
    auto* item = new (std::nothrow) _ITEMIDLIST{path};
    if (!item)
        return nullptr;
    if (lpbi->pszDisplayName) {
        size_t slash = path.find_last_of('/');
        std::string name = (slash == std::string::npos || slash + 1 == path.size()) ? path : path.substr(slash + 1);
        if (name.size() >= MAX_PATH)
            name.resize(MAX_PATH - 1);
        memcpy(lpbi->pszDisplayName, name.c_str(), name.size() + 1);
    }
    return item;
}

BOOL WINAPI SHGetPathFromIDListA(PCIDLIST_ABSOLUTE pidl, LPSTR pszPath)
{
    if (!pszPath)
        return FALSE;
    pszPath[0] = '\0';
    if (!pidl || pidl->path.size() >= MAX_PATH)
        return FALSE;
    memcpy(pszPath, pidl->path.c_str(), pidl->path.size() + 1);
    return TRUE;
}

void WINAPI ILFree(PIDLIST_ABSOLUTE pidl) { delete pidl; }
