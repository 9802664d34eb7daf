// The batch conversion over every document of a folder, one document per run: the page count
// the Word layer gives, the pictures the run writes, and the time each took. Lists the
// documents where the two differ or that fail. Run by hand: some documents take minutes.
//   corpus_batch <folder> [max pages, default 60] [time budget in seconds, default 1500]
#include "QtApp.h"
#include "TempDir.h"
#include "app/DocFileMgr.h"
#include "app/OptionSettings.h"
#include "app/TfmMain.h"
#include "common/misc/WinUtil.h"
#include "platform/internal/ui.h"
#include "ui_TfmMain.h"
#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"

#include <windows.h>

#include <QTreeWidget>

#include <algorithm>
#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int CountFiles(const std::string& dir)
{
    int n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        n += e.is_regular_file();
    return n;
}

}  // namespace

// Reaches the main window's private parts, as the window's own tests do.
class ConvertBench {
public:
    // The batch view's workers are Pagesnap beside the benchmark (its "--worker").
    explicit ConvertBench(TfmMain* w) : m_w(w)
    {
        char szFolder[MAX_PATH];
        if (GetModuleFolder(nullptr, szFolder))
            m_w->workerProgram = std::string(szFolder) + "Pagesnap";
    }
    void StartEngine() { m_w->wordUtil = new CxWordUtil; }
    void StopEngine()
    {
        delete m_w->wordUtil;
        m_w->wordUtil = nullptr;
    }
    CxWordUtil* Util() { return m_w->wordUtil; }
    void AddFiles(const std::vector<std::string>& paths)
    {
        for (const auto& p : paths)
            m_w->docFileMgr->AddFile(p.c_str());
        m_w->AppendFileRows();
        m_w->UpdateButtons();
    }
    int Rows() { return m_w->ui->lvFile->topLevelItemCount(); }
    void TickOnly(int row)
    {
        for (int i = 0; i < Rows(); ++i)
            m_w->ui->lvFile->topLevelItem(i)->setCheckState(0, i == row ? Qt::Checked : Qt::Unchecked);
    }
    // The batch view's Convert, and its run to the end (the run goes on in the event loop).
    void Convert()
    {
        m_w->btnConvertClick();
        while (m_w->batchRun)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);  // the run's timer wakes it
    }

private:
    TfmMain* m_w;
};

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: corpus_batch <folder> [max pages] [time budget s]\n");
        return 2;
    }
    const int maxPages = argc > 2 ? atoi(argv[2]) : 60;
    const double budget = argc > 3 ? atof(argv[3]) : 1500;
    if (!getenv("FOLIUM_ENGINE_TIMEOUT_MS"))
        setenv("FOLIUM_ENGINE_TIMEOUT_MS", "120000", 1);  // one engine call at most two minutes

    std::vector<std::string> paths;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(argv[1], ec))
        if (e.is_regular_file())
            paths.push_back(e.path().string());
    std::sort(paths.begin(), paths.end());

    TestApp();
    CoInitialize(nullptr);
    platform::ui::SetMessageBoxHook([](const platform::ui::MessageBoxRequest&) { return IDCANCEL; });
    TempDir out, temp;
    TfmMain* w = new TfmMain;
    ConvertBench bench(w);
    snprintf(OptionSettings.TempPath, MAX_PATH, "%s", temp.Path().c_str());
    CxWordUtil::SetTempFolder(OptionSettings.TempPath, sizeof OptionSettings.TempPath);
    snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", out.Path().c_str());
    OptionSettings.ImageType = 3;
    bench.StartEngine();
    bench.AddFiles(paths);
    if (bench.Rows() != (int)paths.size())
        printf("note: %d of %zu files became rows\n", bench.Rows(), paths.size());

    const double start = Now();
    std::vector<std::string> differ, failed, skipped;
    int totalPages = 0, totalPictures = 0;
    printf("%-70s %6s %8s %8s %8s\n", "file", "pages", "pictures", "count s", "batch s");
    for (size_t i = 0; i < paths.size(); ++i) {
        std::string name = fs::path(paths[i]).filename().string();
        if (Now() - start > budget) {
            skipped.push_back(name + " (time budget spent)");
            continue;
        }
        double t = Now();
        int pages = -1;
        {
            CxWordDoc doc(bench.Util());
            if (doc.Open(paths[i].c_str()))
                pages = doc.GetPageCount();
        }
        double countTime = Now() - t;
        if (pages > maxPages) {
            printf("%-70s %6d %8s %8.1f %8s\n", name.c_str(), pages, "-", countTime, "skipped");
            skipped.push_back(name + " (" + std::to_string(pages) + " pages)");
            fflush(stdout);
            continue;
        }
        fs::remove_all(out.Path(), ec);
        fs::create_directories(out.Path(), ec);
        bench.TickOnly((int)i);
        t = Now();
        bench.Convert();
        double batchTime = Now() - t - 0.2;  // less the 200 ms the full bar stays up
        int pictures = CountFiles(out.Path());
        printf("%-70s %6d %8d %8.1f %8.1f\n", name.c_str(), pages, pictures, countTime, batchTime);
        fflush(stdout);
        if (pages < 0)
            failed.push_back(name + (pictures ? " (no page count, " + std::to_string(pictures) + " pictures)" : ""));
        else if (pages != pictures)
            differ.push_back(name + ": " + std::to_string(pages) + " pages, " + std::to_string(pictures) + " pictures");
        else if (pages == 0)
            failed.push_back(name + " (0 pages)");
        totalPages += std::max(pages, 0);
        totalPictures += pictures;
    }

    printf("\n%zu files, %d pages counted, %d pictures written, %.0f s\n", paths.size(), totalPages, totalPictures,
           Now() - start);
    printf("page count and pictures differ (%zu):\n", differ.size());
    for (const auto& s : differ)
        printf("  %s\n", s.c_str());
    printf("failed to open (%zu):\n", failed.size());
    for (const auto& s : failed)
        printf("  %s\n", s.c_str());
    printf("skipped (%zu):\n", skipped.size());
    for (const auto& s : skipped)
        printf("  %s\n", s.c_str());

    bench.StopEngine();
    delete w;
    platform::ui::SetMessageBoxHook(nullptr);
    return 0;
}
