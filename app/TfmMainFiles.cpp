// The main window's documents from outside: the command line and dropped files.
#include "TfmMain.h"

#include "DocFileMgr.h"
#include <qtwin.h>
#include "ui_TfmMain.h"

#include <windows.h>

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <cctype>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

bool IsFolder(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsExistingWordDocument(const std::string& path)
{
    struct stat st;
    return TfmMain::IsWordDocumentPath(path) && stat(path.c_str(), &st) == 0;
}

// Splits paths into Word documents and folders (in their order) and the rest; true when a
// folder is among them.
bool SortPaths(const std::vector<std::string>& paths, std::vector<std::string>& taken, std::vector<std::string>& refused)
{
    bool bFolders = false;
    for (const std::string& path : paths) {
        if (IsExistingWordDocument(path)) {
            taken.push_back(path);
        } else if (IsFolder(path)) {
            taken.push_back(path);
            bFolders = true;
        } else {
            refused.push_back(path);
        }
    }
    return bFolders;
}

std::vector<std::string> LocalFiles(const QMimeData* data)
{
    std::vector<std::string> paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            paths.push_back(url.toLocalFile().toStdString());
    return paths;
}

}  // namespace

bool TfmMain::IsWordDocumentPath(const std::string& path)
{
    size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.' || dot == 0 || path[dot - 1] == '/')
        return false;  // no extension, or a hidden file's name only
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = (char)tolower((unsigned char)c);
    return (ext == "doc" || ext == "docx") && !IsFolder(path);
}

void TfmMain::RefuseNonDocuments(const std::vector<std::string>& paths)
{
    if (paths.empty())
        return;
    std::string text = paths.size() == 1 ? "This is not a Word document (.doc, .docx):\n"
                                         : "These are not Word documents (.doc, .docx):\n";
    const size_t kShown = 10;  // a long list would outgrow the screen
    for (size_t i = 0; i < paths.size() && i < kShown; ++i)
        text += "\n" + paths[i];
    if (paths.size() > kShown)
        text += "\n... and " + std::to_string(paths.size() - kShown) + " more";
    MessageBoxA(platform::ui::WindowOf(this), text.c_str(), "Error", MB_OK | MB_ICONERROR);
}

void TfmMain::OpenOneDocument(const std::string& path)
{
    mnuViewOneClick();
    BeginOpen(path);
}

void TfmMain::AddToBatch(const std::vector<std::string>& paths)
{
    mnuViewMoreClick();
    SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    for (const std::string& path : paths) {
        if (IsFolder(path))
            docFileMgr->AddFolder(path.c_str());
        else
            docFileMgr->AddFile(path.c_str());
    }
    AppendFileRows();
    UpdateButtons();
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

void TfmMain::OpenCommandLine(const QStringList& arguments)
{
    std::vector<std::string> paths;
    for (const QString& arg : arguments) {
        if (arg.isEmpty())
            continue;
        QString path = arg.startsWith("file:", Qt::CaseInsensitive) ? QUrl(arg).toLocalFile() : arg;
        if (path.isEmpty())
            path = arg;  // an address of no local file: refused below by its name
        paths.push_back(QDir::cleanPath(QFileInfo(path).absoluteFilePath()).toStdString());
    }
    OpenPaths(paths);
}

void TfmMain::OpenPaths(const std::vector<std::string>& paths)
{
    if (isConverting)
        return;
    std::vector<std::string> taken, refused;
    const bool bFolders = SortPaths(paths, taken, refused);
    RefuseNonDocuments(refused);
    if (taken.size() == 1 && !bFolders)
        OpenOneDocument(taken[0]);
    else if (!taken.empty())
        AddToBatch(taken);
}

void TfmMain::DropPaths(const std::vector<std::string>& paths)
{
    if (isConverting)
        return;
    std::vector<std::string> taken, refused;
    const bool bFolders = SortPaths(paths, taken, refused);
    if (ui->pcMain->currentWidget() != ui->tOne) {
        RefuseNonDocuments(refused);
        if (!taken.empty())
            AddToBatch(taken);
        return;
    }
    // The single-document view shows one document: the first one dropped. A folder is no
    // document for it.
    if (bFolders) {
        std::vector<std::string> documents;
        refused.clear();
        for (const std::string& path : paths)
            (IsExistingWordDocument(path) ? documents : refused).push_back(path);
        taken.swap(documents);
    }
    RefuseNonDocuments(refused);
    if (!taken.empty())
        OpenOneDocument(taken[0]);
}

void TfmMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (!isConverting && !LocalFiles(event->mimeData()).empty())
        event->acceptProposedAction();
}

void TfmMain::dropEvent(QDropEvent* event)
{
    std::vector<std::string> paths = LocalFiles(event->mimeData());
    if (paths.empty())
        return;
    event->acceptProposedAction();
    // Opening may start the engine: let the drag source finish first.
    QTimer::singleShot(0, this, [this, paths] { DropPaths(paths); });
}
