// The file-open dialog (comdlg32) over Qt's own file dialog.
#include <commdlg.h>

#include "../internal/ui.h"

#include <QApplication>
#include <QFileDialog>

#include <cstring>

namespace {

DWORD s_lastError = 0;

}  // namespace

namespace platform {
namespace ui {

FileDialogAnswer& CurrentFileDialogHook()
{
    static FileDialogAnswer hook;
    return hook;
}

void SetFileDialogHook(FileDialogAnswer answer) { CurrentFileDialogHook() = std::move(answer); }

std::vector<std::pair<std::string, std::string>> ParseFilter(const char* filter)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    if (!filter)
        return pairs;
    while (*filter) {
        std::string desc = filter;
        filter += desc.size() + 1;
        if (!*filter)
            break;  // a description without patterns ends the list, as on Windows
        std::string patterns = filter;
        filter += patterns.size() + 1;
        pairs.emplace_back(desc, patterns);
    }
    return pairs;
}

std::string QtNameFilter(const std::string& description, const std::string& patterns)
{
    std::string out = description + " (";
    bool first = true;
    size_t start = 0;
    while (start <= patterns.size()) {
        size_t end = patterns.find(';', start);
        if (end == std::string::npos)
            end = patterns.size();
        std::string p = patterns.substr(start, end - start);
        start = end + 1;
        while (!p.empty() && p.front() == ' ')
            p.erase(0, 1);
        while (!p.empty() && p.back() == ' ')
            p.pop_back();
        if (p.empty())
            continue;
        if (!first)
            out += ' ';
        first = false;
        for (char c : p) {
            unsigned char u = (unsigned char)c;
            if (isalpha(u) && u < 0x80) {
                out += '[';
                out += (char)tolower(u);
                out += (char)toupper(u);
                out += ']';
            } else {
                out += c;
            }
        }
    }
    return out + ")";
}

}  // namespace ui
}  // namespace platform

BOOL WINAPI GetOpenFileNameA(LPOPENFILENAMEA lpofn)
{
    s_lastError = 0;
    if (!lpofn || lpofn->lStructSize < offsetof(OPENFILENAMEA, pvReserved) || !lpofn->lpstrFile || !lpofn->nMaxFile) {
        s_lastError = CDERR_STRUCTSIZE;
        return FALSE;
    }
    platform::ui::FileDialogRequest req;
    req.kind = platform::ui::FileDialogRequest::OpenFile;
    req.owner = lpofn->hwndOwner;
    req.title = lpofn->lpstrTitle ? lpofn->lpstrTitle : "Open";
    req.filters = platform::ui::ParseFilter(lpofn->lpstrFilter);
    req.initialDir = lpofn->lpstrInitialDir ? lpofn->lpstrInitialDir : "";

    std::string path;
    int filterIndex = lpofn->nFilterIndex ? (int)lpofn->nFilterIndex : 1;
    if (auto& hook = platform::ui::CurrentFileDialogHook()) {
        if (!hook(req, &path))
            return FALSE;
    } else {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
            s_lastError = CDERR_INITIALIZATION;
            return FALSE;
        }
        QFileDialog dlg(platform::ui::WidgetOf(lpofn->hwndOwner), QString::fromUtf8(req.title.c_str()),
                        QString::fromUtf8(req.initialDir.c_str()));
        dlg.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        QStringList filters;
        for (auto& f : req.filters)
            filters << QString::fromUtf8(platform::ui::QtNameFilter(f.first, f.second).c_str());
        if (!filters.isEmpty()) {
            dlg.setNameFilters(filters);
            if (filterIndex >= 1 && filterIndex <= filters.size())
                dlg.selectNameFilter(filters[filterIndex - 1]);
        }
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return FALSE;
        path = dlg.selectedFiles().first().toUtf8().toStdString();
        int i = filters.indexOf(dlg.selectedNameFilter());
        if (i >= 0)
            filterIndex = i + 1;
    }
    if (path.empty())
        return FALSE;
    if (path.size() + 1 > lpofn->nMaxFile) {
        s_lastError = FNERR_BUFFERTOOSMALL;
        return FALSE;
    }
    memcpy(lpofn->lpstrFile, path.c_str(), path.size() + 1);
    size_t slash = path.find_last_of('/');
    size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.find_last_of('.');
    lpofn->nFileOffset = (WORD)nameAt;
    lpofn->nFileExtension = (WORD)(dot != std::string::npos && dot >= nameAt ? dot + 1 : path.size());
    lpofn->nFilterIndex = (DWORD)filterIndex;
    if (lpofn->lpstrFileTitle && lpofn->nMaxFileTitle) {
        std::string name = path.substr(nameAt);
        if (name.size() + 1 <= lpofn->nMaxFileTitle)
            memcpy(lpofn->lpstrFileTitle, name.c_str(), name.size() + 1);
        else
            lpofn->lpstrFileTitle[0] = '\0';
    }
    return TRUE;
}

DWORD WINAPI CommDlgExtendedError(void) { return s_lastError; }
