// Benchmark (not a test): a 30-page document through the engine, phase by phase, in ms.
#include "TempDir.h"
#include "WordServerTest.h"

#include <chrono>
#include <cstdio>

using namespace wstest;
using Clock = std::chrono::steady_clock;

static double Ms(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

int main()
{
    TempDir dir;
    Word word;
    if (!word.docs) {
        fprintf(stderr, "no automation server\n");
        return 1;
    }
    std::string body;
    for (int i = 0; i < 30; ++i)
        body += Para("Page " + std::to_string(i + 1) + ". " + Lorem(330, i), i ? "PBreak" : "");
    std::string tiny = dir / "tiny.docx";
    auto t0 = Clock::now();
    // The first Open starts the engine.
    bool made = MakeDocument(word, dir.Path(), "<text:p>x</text:p>", tiny);
    auto t1 = Clock::now();
    std::string path = dir / "thirty.docx";
    std::string tmpl = dir / "thirty_temp_65536.docx";
    if (!made || !MakeDocument(word, dir.Path(), body, path) || !MakeDocument(word, dir.Path(), body, tmpl)) {
        fprintf(stderr, "could not make the documents\n");
        return 1;
    }
    printf("engine start (with a one-line document): %.1f ms\n", Ms(t0, t1));

    auto t2 = Clock::now();
    IDispatch* doc = word.Open(path);
    auto t3 = Clock::now();
    LONG end = ContentEnd(doc);
    int pages = CountPagesByGoto(doc);
    auto t4 = Clock::now();
    printf("load: %.1f ms\npage count (%d pages, %ld positions): %.1f ms\n", Ms(t2, t3), pages, long(end), Ms(t3, t4));

    HDC screen = GetDC(nullptr);
    double sumSplit = 0, sumEmbed = 0, sumDraw = 0;
    // Parts of the split: page bounds by Goto, copy, opening the template copy, paste, save, close.
    double sumPart[6] = {0, 0, 0, 0, 0, 0};
    for (int p = 1; p <= pages; ++p) {
        auto a = Clock::now();
        IDispatch* g1 = CallObject(doc, u"Goto", {Arg::Long(1), Arg::Long(1), Arg::Long(p), Arg::Omitted()});
        IDispatch* g2 = CallObject(doc, u"Goto", {Arg::Long(1), Arg::Long(1), Arg::Long(p + 1), Arg::Omitted()});
        LONG s = g1 ? GetLong(g1, u"Start") : 0, e = g2 ? GetLong(g2, u"Start") : end;
        if (e <= s)
            e = end;
        if (g1) g1->Release();
        if (g2) g2->Release();
        auto s1 = Clock::now();
        IDispatch* range = CallObject(doc, u"Range", {Arg::Long(s), Arg::Long(e)});
        Call(range, u"Copy", DISPATCH_METHOD, {}, nullptr);
        range->Release();
        auto s2 = Clock::now();
        IDispatch* t = word.Open(tmpl);
        auto s3 = Clock::now();
        IDispatch* all = CallObject(t, u"Range", {});
        Call(all, u"Paste", DISPATCH_METHOD, {}, nullptr);
        all->Release();
        auto s4 = Clock::now();
        std::string out = dir / ("thirty_temp_" + std::to_string(p) + ".docx");
        Call(t, u"SaveAs", DISPATCH_METHOD, {Arg::Str(out)}, nullptr);
        auto s5 = Clock::now();
        Call(t, u"Close", DISPATCH_METHOD, {}, nullptr);
        t->Release();
        auto b = Clock::now();
        const Clock::time_point marks[7] = {a, s1, s2, s3, s4, s5, b};
        for (int k = 0; k < 6; ++k)
            sumPart[k] += Ms(marks[k], marks[k + 1]);
        ILockBytes* lb = nullptr;
        IStorage* stg = nullptr;
        CreateILockBytesOnHGlobal(nullptr, TRUE, &lb);
        StgCreateDocfileOnILockBytes(lb, 0x1012, 0, &stg);
        IOleObject* ole = nullptr;
        std::u16string w = Wide(out);
        OleCreateFromFile(CLSID_NULL, w.c_str(), IID_IOleObject, OLERENDER_DRAW, nullptr, nullptr, stg,
                          reinterpret_cast<void**>(&ole));
        if (ole)
            OleRun(ole);
        auto c = Clock::now();
        if (ole) {
            SIZEL ext = {0, 0};
            ole->GetExtent(DVASPECT_CONTENT, &ext);
            int wpx = int(ext.cx * 96 / 2540), hpx = int(ext.cy * 96 / 2540);
            HDC mem = CreateCompatibleDC(screen);
            HBITMAP bmp = CreateCompatibleBitmap(screen, wpx, hpx);
            HGDIOBJ old = SelectObject(mem, bmp);
            RECT r = {0, 0, wpx, hpx};
            FillRect(mem, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            OleDraw(ole, DVASPECT_CONTENT, mem, &r);
            SelectObject(mem, old);
            DeleteObject(bmp);
            DeleteDC(mem);
            ole->Release();
        }
        auto d = Clock::now();
        if (stg) stg->Release();
        if (lb) lb->Release();
        printf("page %2d: split %.1f ms, embed %.1f ms, draw %.1f ms\n", p, Ms(a, b), Ms(b, c), Ms(c, d));
        sumSplit += Ms(a, b);
        sumEmbed += Ms(b, c);
        sumDraw += Ms(c, d);
    }
    ReleaseDC(nullptr, screen);
    doc->Release();
    if (pages > 0)
        printf("split per page: bounds %.1f, copy %.1f, open template %.1f, paste %.1f, save %.1f, close %.1f ms\n",
               sumPart[0] / pages, sumPart[1] / pages, sumPart[2] / pages, sumPart[3] / pages, sumPart[4] / pages,
               sumPart[5] / pages);
    if (pages > 0)
        printf("average per page: split %.1f ms, embed %.1f ms, draw %.1f ms, total %.1f ms\n", sumSplit / pages,
               sumEmbed / pages, sumDraw / pages, (sumSplit + sumEmbed + sumDraw) / pages);
    return 0;
}
