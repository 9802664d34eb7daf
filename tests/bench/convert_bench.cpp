// Pages per second of the batch conversion (main window offscreen, completion message answered)
// against the pipeline a Linux user would otherwise run on the same files: the office suite's
// headless PDF export followed by pdftoppm at 96 dpi. Prints figures; not a test.
#include "QtApp.h"
#include "TempDir.h"
#include "WordServerTest.h"
#include "bench/ConvertBench.h"
#include "app/OptionSettings.h"
#include "app/PictureLib.h"
#include "app/TfmMain.h"
#include "platform/internal/ui.h"
#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace wstest;
namespace fs = std::filesystem;

namespace {

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int CountFiles(const std::string& dir, const std::string& ext)
{
    int n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.path().extension() == ext)
            ++n;
    return n;
}

void Renew(const std::string& dir)
{
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
}

}  // namespace

struct Split {
    double open = 0, select = 0, embed = 0, draw = 0, png = 0, jpg = 0;
    int pages = 0;
    int fast = 0;  // pages drawn from the document's own layout
};

// Showing a page in the single-document view: select it, then paint the preview's client area
// (600 x 800) from the page, as the view's paint does. First every page once, then back and
// forth between two pages shown before.
static void TimePreview(CxWordUtil* util, const std::string& path)
{
    CxWordDoc doc(util);
    if (!doc.Open(path.c_str()))
        return;
    HDC hScreen = GetDC(nullptr);
    HDC hMem = CreateCompatibleDC(hScreen);
    HBITMAP hBitmap = CreateCompatibleBitmap(hScreen, 600, 800);
    HGDIOBJ hOld = SelectObject(hMem, hBitmap);
    RECT client = {0, 0, 600, 800};
    auto show = [&](int i) {
        double t = Now();
        doc.SelectPage(i);
        POINT size;
        doc.GetPageSize(hScreen, &size);
        RECT src = {0, 100, 600, 900};
        doc.DrawPage(i, hMem, &src, &client);
        return Now() - t;
    };
    const int n = doc.GetPageCount();
    double fresh = 0, again = 0, worstFresh = 0, worstAgain = 0;
    for (int i = 0; i < n; ++i) {
        double d = show(i);
        fresh += d;
        worstFresh = std::max(worstFresh, d);
    }
    const int rounds = 20;
    for (int k = 0; k < rounds; ++k) {
        double d = show(n - 1 - (k % 2));
        again += d;
        worstAgain = std::max(worstAgain, d);
    }
    printf("\npreview (%d-page document, %s): a page not shown before %.1f ms (worst %.1f), a page shown before "
           "%.1f ms (worst %.1f)\n",
           n, doc.HasPageView() ? "own layout" : "split", fresh * 1000 / n, worstFresh * 1000, again * 1000 / rounds,
           worstAgain * 1000);
    SelectObject(hMem, hOld);
    DeleteObject(hBitmap);
    DeleteDC(hMem);
    ReleaseDC(nullptr, hScreen);
}

// The steps of one page conversion timed apart: open and count, split and embed (SelectPage),
// draw into a memory bitmap, encode to each format.
static Split TimeSteps(CxWordUtil* util, const std::vector<std::string>& docs, const std::string& outDir)
{
    Split s;
    HDC hScreen = GetDC(nullptr);
    for (const auto& path : docs) {
        double t = Now();
        CxWordDoc doc(util);
        if (!doc.Open(path.c_str()))
            continue;
        s.open += Now() - t;
        for (int i = 0; i < doc.GetPageCount(); ++i) {
            t = Now();
            if (!doc.SelectPage(i))
                continue;
            POINT size;
            if (!doc.GetPageSize(hScreen, &size))
                continue;
            s.select += Now() - t;
            if (!doc.HasPageView()) {
                // Embedding the page's document once more shows its share of the select step.
                t = Now();
                doc.EmbedPageDocument(i + 1);
                s.embed += Now() - t;
            }
            s.fast += doc.HasPageView();
            t = Now();
            RECT r = {0, 0, size.x, size.y};
            HDC hMem = CreateCompatibleDC(hScreen);
            HBITMAP hBitmap = CreateCompatibleBitmap(hScreen, size.x, size.y);
            HGDIOBJ hOld = SelectObject(hMem, hBitmap);
            doc.DrawPage(i, hMem, &r, &r);
            s.draw += Now() - t;
            t = Now();
            PictureLibCaptureDC(hMem, 0, 0, size.x, size.y, (outDir + "split.png").c_str(), 90);
            s.png += Now() - t;
            t = Now();
            PictureLibCaptureDC(hMem, 0, 0, size.x, size.y, (outDir + "split.jpg").c_str(), 90);
            s.jpg += Now() - t;
            SelectObject(hMem, hOld);
            DeleteObject(hBitmap);
            DeleteDC(hMem);
            ++s.pages;
        }
    }
    ReleaseDC(nullptr, hScreen);
    return s;
}

int main()
{
    setvbuf(stdout, nullptr, _IOLBF, 0);  // figures show as they come when redirected
    TestApp();
    CoInitialize(nullptr);
    TempDir docs, out, temp, peer;

    // About 100 pages: many short documents and a few long ones, both file formats.
    const std::vector<int> sizes = {1, 1, 1, 2, 2, 3, 3, 4, 5, 6, 8, 12, 20, 32};
    std::vector<std::string> paths;
    int expected = 0;
    {
        Word word;
        for (size_t i = 0; i < sizes.size(); ++i) {
            std::string name = "doc" + std::to_string(i) + "_" + std::to_string(sizes[i]) + (i % 3 == 2 ? ".doc" : ".docx");
            if (!MakeDocument(word, docs.Path(), MixedPagesBody(sizes[i]), docs / name)) {
                fprintf(stderr, "cannot make %s\n", name.c_str());
                return 1;
            }
            paths.push_back(docs / name);
            expected += sizes[i];
        }
    }
    printf("set: %zu documents, %d pages\n", paths.size(), expected);

    platform::ui::SetMessageBoxHook([](const platform::ui::MessageBoxRequest&) { return IDCANCEL; });
    TfmMain* w = new TfmMain;
    ConvertBench bench(w);
    snprintf(OptionSettings.TempPath, MAX_PATH, "%s", temp.Path().c_str());
    CxWordUtil::SetTempFolder(OptionSettings.TempPath, sizeof OptionSettings.TempPath);
    snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", out.Path().c_str());
    double startup = bench.StartEngine(paths[0]);
    printf("engine start-up with a first document: %.2f s (left out of the figures below)\n", startup);
    bench.AddFiles(paths);

    struct Format {
        int type;
        const char* ext;
        const char* pdftoppm;
    };
    const std::string profile = "file://" + peer.Path() + "profile";
    const std::string pdfDir = peer / "pdf";
    for (Format f : {Format{3, ".png", "-png"}, Format{2, ".jpg", "-jpeg"}}) {
        Renew(out.Path());
        OptionSettings.ImageType = f.type;
        bench.SelectAll();
        double t = Now();
        bench.Convert();
        double batch = Now() - t - 0.2;  // the full progress bar stays up 200 ms at the end
        int written = CountFiles(out.Path(), f.ext);

        Renew(pdfDir);
        std::string cmd = "soffice -env:UserInstallation=" + profile + " --headless --convert-to pdf --outdir '" + pdfDir + "'";
        for (const auto& p : paths)
            cmd += " '" + p + "'";
        cmd += " >/dev/null 2>&1";
        t = Now();
        int rc = system(cmd.c_str());
        double toPdf = Now() - t;
        Renew(peer / "img");
        t = Now();
        for (const auto& p : paths) {
            std::string base = fs::path(p).stem().string();
            std::string c = std::string("pdftoppm -r 96 ") + f.pdftoppm + " '" + pdfDir + "/" + base + ".pdf' '" +
                            peer.Path() + "img/" + base + "' >/dev/null 2>&1";
            rc |= system(c.c_str());
        }
        double toImg = Now() - t;
        int peerPages = CountFiles(peer / "img", f.ext);

        double ours = written / batch, theirs = peerPages / (toPdf + toImg);
        printf("\n%s output\n", f.ext + 1);
        printf("  batch:  %3d pictures in %6.2f s = %6.2f pages/s\n", written, batch, ours);
        printf("  peer:   %3d pictures in %6.2f s = %6.2f pages/s (PDF export %.2f s, rasterising %.2f s)%s\n", peerPages,
               toPdf + toImg, theirs, toPdf, toImg, rc ? " [a peer command failed]" : "");
        printf("  ratio batch/peer: %.2f (%.2f with the engine start-up counted in the batch)\n", ours / theirs,
               (written / (batch + startup)) / theirs);
    }

    // Where a page's time goes, on the same files through the same engine.
    Split s = TimeSteps(bench.Util(), paths, temp.Path());
    if (s.pages > 0) {
        double per = 1000.0 / s.pages;
        printf("\nper page (%d pages, %d from the document's own layout): open+count %.1f ms, select+measure %.1f ms "
               "(of which embedding a split page %.1f ms), draw %.1f ms, PNG encode %.1f ms, JPG encode %.1f ms\n",
               s.pages, s.fast, s.open * per, s.select * per, s.embed * per, s.draw * per, s.png * per, s.jpg * per);
    }
    TimePreview(bench.Util(), paths.back());

    bench.StopEngine();
    delete w;
    platform::ui::SetMessageBoxHook(nullptr);
    return 0;
}
