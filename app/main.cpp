// Pagesnap's entry point.
#include "Look.h"
#include "TfmMain.h"
#include "common/misc/PageMemory.h"
#include "common/misc/WinUtil.h"
#include "convert/Worker.h"
#include <qtwin.h>

#include <objbase.h>
#include <windows.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <unistd.h>

void TakeScreenshots(TfmMain* window, const char* szFolder);

namespace {

// The exit command's helper ("taskkill") ships beside the program: put the program's folder
// first on the search path of the command interpreter.
void PrependProgramFolderToPath()
{
    char szFolder[MAX_PATH];
    if (!GetModuleFolder(nullptr, szFolder))
        return;
    std::string path = szFolder;
    if (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (const char* old = getenv("PATH"))
        path += std::string(":") + old;
    setenv("PATH", path.c_str(), 1);
}

void ShowException(const char* szText)
{
    QMessageBox::critical(nullptr, QApplication::applicationName(), QString::fromUtf8(szText));
}

}  // namespace

int main(int argc, char** argv)
{
    // The batch view's workers are this program started again, never by hand: no window, one
    // engine, documents over standard input (so nothing beside Pagesnap is needed for them).
    if (argc == 2 && std::strcmp(argv[1], "--worker") == 0 && getenv("FOLIUM_BATCH_WORKER"))
        return convert::WorkerMain();
    // The single-document view draws and encodes page after page in this process.
    KeepPageBuffers();
    try {
        QApplication app(argc, argv);
        QApplication::setApplicationName("Orvell Folium Converter");
        // Ties the window to the installed desktop entry (its icon, its name in the task bar).
        QApplication::setDesktopFileName("com.orvell.FoliumConverter");
        CoInitialize(nullptr);  // the Word layer works in this thread's apartment
        PrependProgramFolderToPath();
        platform::ui::SyncScreenMetrics();
        ApplyLook(app);

        fmMain = new TfmMain;
        fmMain->show();
        // Documents named on the command line (a desktop's "Open with") open once the window
        // is up; Qt's own options are gone from the list by now.
        const QStringList files = QApplication::arguments().mid(1);
        if (!files.isEmpty())
            QTimer::singleShot(0, fmMain, [files] { fmMain->OpenCommandLine(files); });
        // The screenshot script's mode only: pictures of the windows, then exit.
        if (const char* szShots = getenv("FOLIUM_SCREENSHOT_DIR"))
            TakeScreenshots(fmMain, szShots);
        app.exec();
        fmMain->FormDestroy();
        // The process ends here at once: nothing of the framework's own clean-up runs.
        fflush(nullptr);
        _exit(0);
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException("");
    }
    fflush(nullptr);
    _exit(0);
}
