// The single-document view's preview over real documents: milliseconds to show a page (the
// page drawn at the preview's size) at 100 % and at fit width, with the pictures' resolution
// set to 96 and to 300 dpi, and to scroll (a part of the page kept, copied), against the time
// to make a page's picture at that resolution. The window is that of a 1400 x 1000 screen.
// Run with QT_SCALE_FACTOR=2 for a screen of two device pixels a point. Prints figures; not a
// test. Arguments: documents (default: three long ones of the corpus).
#include "QtApp.h"
#include "TempDir.h"
#include "bench/ConvertBench.h"
#include "app/OptionSettings.h"
#include "app/TfmMain.h"
#include "platform/internal/ui.h"
#include "word/CxWordDoc.h"
#include "word/CxWordView.h"

#include <windows.h>

#include <QApplication>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double Ms(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i)
        paths.push_back(argv[i]);
    if (paths.empty())
        for (const char* name : {"bug65649.docx", "Bug50955.doc", "HC031-Complicated-Document.docx"})
            paths.push_back(std::string(FOLIUM_CORPUS_DIR) + "/" + name);
    TestApp();
    CoInitialize(nullptr);
    TempDir out, temp;
    platform::ui::SetMessageBoxHook([](const platform::ui::MessageBoxRequest&) { return IDCANCEL; });
    TfmMain* w = new TfmMain;
    ConvertBench bench(w);
    snprintf(OptionSettings.TempPath, MAX_PATH, "%s", temp.Path().c_str());
    CxWordUtil::SetTempFolder(OptionSettings.TempPath, sizeof OptionSettings.TempPath);
    snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", out.Path().c_str());
    OptionSettings.ImageType = 3;
    w->resize(1400, 1000 - 60);  // a maximised window less the desktop's panel
    w->show();
    bench.ViewOne();
    for (int i = 0; i < 10; ++i)
        QApplication::processEvents();
    CxWordView* view = bench.View();
    RECT rc;
    GetClientRect(view->GetHandle(), &rc);
    printf("preview client area %ld x %ld device pixels, %u dpi, device pixel ratio %.1f\n", rc.right, rc.bottom,
           GetDpiForWindow(view->GetHandle()), w->devicePixelRatioF());

    const int kPages = 12;
    printf("engine started in %.1f s\n", bench.StartEngine(paths.back()));
    for (const std::string& path : paths) {
        // Opened as the window opens a document: the time until page 1 is on the screen, and
        // the longest the window went without handling its events meanwhile.
        const auto t = std::chrono::steady_clock::now();
        bench.BeginOpen(path);
        double worst = Ms(t);
        while (bench.Opening()) {
            QThread::msleep(5);
            const auto e = std::chrono::steady_clock::now();
            QApplication::processEvents();
            worst = std::max(worst, Ms(e));
        }
        QApplication::processEvents();  // page 1 drawn
        const double first = Ms(t);
        CxWordDoc* doc = view->GetDocument();
        if (!doc) {
            printf("%s: cannot be opened\n", path.c_str());
            continue;
        }
        printf("\n%s: page 1 shown after %.0f ms; the window answered within %.0f ms at worst\n", path.c_str(), first,
               worst);
        const int pages = std::min(kPages, doc->GetPageCount());
        printf("\n%s (%d pages, the first %d timed)\n", path.c_str(), doc->GetPageCount(), pages);
        for (int dpi : {96, 300}) {
            OptionSettings.Resolution = dpi;
            for (int zoom : {100, CxWordView::kZoomFitWidth}) {
                view->SetZoom(zoom);
                view->ShowPage(0);  // the first drawing of the zoom is not counted
                std::vector<double> show, scroll;
                for (int i = 1; i < pages; ++i) {
                    SendMessageA(view->GetHandle(), WM_VSCROLL, MAKEWPARAM(SB_TOP, 0), 0);
                    auto t = std::chrono::steady_clock::now();
                    view->ShowPage(i);
                    show.push_back(Ms(t));
                    t = std::chrono::steady_clock::now();
                    SendMessageA(view->GetHandle(), WM_VSCROLL, MAKEWPARAM(SB_PAGEDOWN, 0), 0);
                    scroll.push_back(Ms(t));
                }
                view->ShowPage(0);
                POINT shown = {0, 0};
                view->GetShownSize(&shown);
                printf("  pictures at %3d dpi, preview %-9s (%4ld x %4ld): show a page %6.1f ms (median; slowest %6.1f), "
                       "scroll %5.1f ms\n",
                       dpi, zoom == 100 ? "100 %" : "fit width", shown.x, shown.y, Median(show),
                       show.empty() ? 0.0 : *std::max_element(show.begin(), show.end()), Median(scroll));
            }
            std::vector<double> picture;
            for (int i = 0; i < std::min(pages, 4); ++i) {
                const auto t = std::chrono::steady_clock::now();
                bench.ConvertPage(i);
                picture.push_back(Ms(t));
            }
            printf("  a page's PNG picture at %3d dpi: %6.1f ms (median of %zu)\n", dpi, Median(picture), picture.size());
        }
    }
    view->SetDocument(nullptr);
    bench.StopEngine();
    delete w;  // without the program's shut-down: the settings file stays as it was
    platform::ui::SetMessageBoxHook(nullptr);
    return 0;
}
