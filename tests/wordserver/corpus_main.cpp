// Check over a folder of real documents (not a test; run by hand): for each file, the page
// count through the Word layer against the engine's own PDF export, and whether every page
// converts (split, embedded and drawn). Usage: wordserver_corpus <folder>
#include "TempDir.h"
#include "WordServerTest.h"
#include "app/OptionSettings.h"
#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"

#include "Engine.h"

#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <algorithm>
#include <sys/stat.h>

using namespace wstest;

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    std::vector<std::string> files;
    if (DIR* d = opendir(argv[1])) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            std::string low = n;
            std::transform(low.begin(), low.end(), low.begin(), ::tolower);
            if (low.size() > 4 && (low.substr(low.size() - 4) == ".doc" || low.substr(low.size() - 5) == ".docx"))
                files.push_back(std::string(argv[1]) + "/" + n);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    TempDir dir;
    std::string temp = dir / "temp/";
    mkdir(temp.c_str(), 0700);
    snprintf(OptionSettings.TempPath, sizeof OptionSettings.TempPath, "%s", temp.c_str());
    CxWordUtil::SetTempFolder(OptionSettings.TempPath, sizeof OptionSettings.TempPath);
    CxWordUtil util;
    Word word;
    HDC screen = GetDC(nullptr);
    int exceptions = 0;
    for (const std::string& f : files) {
        auto t0 = std::chrono::steady_clock::now();
        std::string name = f.substr(f.rfind('/') + 1);
        int expected = -1;
        IDispatch* src = word.Open(f);
        if (src) {
            std::string pdfPath = dir / "ref.pdf";
            if (SUCCEEDED(Call(src, u"SaveAs", DISPATCH_METHOD, {Arg::Str(pdfPath)}, nullptr))) {
                std::string bytes = ReadWhole(pdfPath);
                wordengine::PdfBytes pdf;
                pdf.data.assign(bytes.begin(), bytes.end());
                expected = wordengine::PdfPageCount(pdf);
            }
            src->Release();
        }
        CxWordDoc doc(&util);
        bool opened = doc.Open(f.c_str());
        int pages = opened ? doc.GetPageCount() : -1;
        int drawn = 0;
        POINT size = {0, 0};
        if (opened && doc.GetPageSize(screen, &size)) {
            for (int i = 0; i < pages; ++i) {
                HDC mem = CreateCompatibleDC(screen);
                HBITMAP bmp = CreateCompatibleBitmap(screen, size.x, size.y);
                HGDIOBJ old = SelectObject(mem, bmp);
                RECT r = {0, 0, size.x, size.y};
                // A page converts when it was split off and embedded: its own index is current.
                if (doc.DrawPage(i, mem, &r, &r) && doc.GetCurrentPage() == i)
                    ++drawn;
                SelectObject(mem, old);
                DeleteObject(bmp);
                DeleteDC(mem);
            }
        }
        doc.Close();
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        bool ok = opened && pages == expected && drawn == pages;
        if (!ok)
            ++exceptions;
        printf("%s %s: opened %d, pages %d, engine pdf pages %d, converted %d, %.0f ms\n", ok ? "ok  " : "EXC ",
               name.c_str(), opened, pages, expected, drawn, ms);
        fflush(stdout);
    }
    ReleaseDC(nullptr, screen);
    printf("%zu files, %d exceptions\n", files.size(), exceptions);
    return 0;
}
