// Real documents through the Word layer (CxWordUtil, CxWordDoc) and the engine: the page
// count through Goto equals the engine's own PDF export, and every page picture drawn at
// 96 dpi matches that page of the export rendered at the same size.
#include <gtest/gtest.h>

#include "TempDir.h"
#include "WordServerTest.h"
#include "app/OptionSettings.h"
#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"

#include "Engine.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

using namespace wstest;

namespace {

struct Diff {
    double mean = 0;   // mean absolute difference per channel, 0..255
    double share = 0;  // share of pixels with a channel differing by more than 64
};

Diff Compare(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b)
{
    Diff d;
    if (a.size() != b.size() || a.empty())
        return Diff{255, 1};
    double sum = 0;
    size_t big = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        int m = 0;
        for (int sh = 0; sh < 24; sh += 8) {
            int x = int((a[i] >> sh) & 0xff) - int((b[i] >> sh) & 0xff);
            x = x < 0 ? -x : x;
            sum += x;
            m = std::max(m, x);
        }
        big += m > 64;
    }
    d.mean = sum / (3.0 * a.size());
    d.share = double(big) / a.size();
    return d;
}

std::vector<uint32_t> Pixels(HDC dc, HBITMAP bmp, int w, int h)
{
    std::vector<uint32_t> px(size_t(w) * h);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    if (GetDIBits(dc, bmp, 0, h, px.data(), &bi, DIB_RGB_COLORS) != h)
        px.clear();
    for (auto& p : px)
        p &= 0x00ffffff;
    return px;
}

std::string ReportBody()
{
    std::string b = "<text:p text:style-name=\"Heading\">Quarterly report</text:p>\n";
    for (int i = 0; i < 6; ++i)
        b += Para(Lorem(120, i));
    b += List(12);
    for (int i = 6; i < 9; ++i)
        b += Para(Lorem(100, i));
    b += Table(70, 3);
    for (int i = 9; i < 14; ++i)
        b += Para(Lorem(110, i));
    return b;
}

std::string SectionsBody()
{
    return Para(Lorem(150, 20)) + Para(Lorem(150, 21)) + Para("Wide part. " + Lorem(200, 22), "PLand") +
           Para(Lorem(200, 23)) + Para("Upright again. " + Lorem(150, 24), "PPort") + Para(Lorem(100, 25));
}

std::string NumberedBody()
{
    return Para("First page. " + Lorem(60, 30)) + Para("Second page. " + Lorem(60, 31), "PBreak") +
           Para("Third page. " + Lorem(60, 32), "PBreak");
}

std::string ImageBody()
{
    return "<text:p text:style-name=\"Heading\">A picture</text:p>\n" + Para(Lorem(40, 40)) + Image(12, 8) +
           Para(Lorem(60, 41));
}

// Comments on both pages, one of them over a stretch of text: the engine must open, split and
// draw such a document and keep its text.
std::string CommentsBody()
{
    const std::string note = "<office:annotation><dc:creator>Reviewer</dc:creator><text:p>Check this.</text:p>"
                             "</office:annotation>";
    const std::string spanning = "<office:annotation office:name=\"c1\"><dc:creator>Reviewer</dc:creator>"
                                 "<text:p>And this.</text:p></office:annotation>";
    return "<text:p>Noted" + note + " text. " + Lorem(80, 50) + "</text:p>\n" +
           "<text:p text:style-name=\"PBreak\">Second page " + spanning + "with a remark" +
           "<office:annotation-end office:name=\"c1\"/> on it. " + Lorem(60, 51) + "</text:p>\n";
}

// The same comments in a document that records changes and holds a tracked insertion: the
// page copies replace their text without keeping the replaced text as a tracked deletion.
std::string TrackedBody()
{
    const std::string changes =
        "<text:tracked-changes text:track-changes=\"true\"><text:changed-region xml:id=\"ct1\" "
        "text:id=\"ct1\"><text:insertion><office:change-info><dc:creator>Editor</dc:creator>"
        "<dc:date>2024-01-02T03:04:05</dc:date></office:change-info></text:insertion></text:changed-region>"
        "</text:tracked-changes>\n";
    return changes + CommentsBody() + "<text:p text:style-name=\"PBreak\">Third page <text:change-start "
                                      "text:change-id=\"ct1\"/>with inserted words<text:change-end "
                                      "text:change-id=\"ct1\"/> in it. " +
           Lorem(70, 52) + "</text:p>\n";
}

}  // namespace

TEST(WordServerFidelity, PagesMatchTheEngineLayout)
{
    TempDir dir;
    std::string temp = dir / "temp/";
    ASSERT_EQ(mkdir(temp.c_str(), 0700), 0);
    snprintf(OptionSettings.TempPath, sizeof OptionSettings.TempPath, "%s", temp.c_str());

    struct Case {
        const char* name;
        std::string body;
        double maxMean;   // bounds with a margin over what was measured
        double maxShare;
    } cases[] = {
        // The table runs from page 2 to page 5: pages that start or end inside it, or lie
        // wholly inside it, get exactly their rows.
        {"report.docx", ReportBody(), 3.0, 0.02},
        {"sections.docx", SectionsBody(), 3.0, 0.02},
        {"numbered.doc", NumberedBody(), 3.0, 0.02},
        {"picture.docx", ImageBody(), 3.0, 0.02},
        {"comments.docx", CommentsBody(), 3.0, 0.02},
        {"comments.doc", CommentsBody(), 3.0, 0.02},
        // Pages that begin inside the table show its heading row at their top.
        {"headed.docx", Para(Lorem(60, 80)) + HeadedTable(90) + Para(Lorem(60, 81)), 3.0, 0.02},
        // A blank page the engine puts in for an odd page number is no page of the document;
        // an endnote page is one, drawn without its notes (they belong to the text before).
        {"blank.docx", Para("First page. " + Lorem(80, 70)) + Para("Third page. " + Lorem(80, 71), "PRestart3"), 3.0, 0.02},
        {"endnote.docx", Para("Noted<text:note text:id=\"en1\" text:note-class=\"endnote\"><text:note-citation>1</text:note-citation><text:note-body><text:p>" + Lorem(30, 101) + "</text:p></text:note-body></text:note> text. " + Lorem(120, 60)), 3.0, 0.02},
        {"tracked.docx", TrackedBody(), 3.0, 0.02},
        {"tracked.doc", TrackedBody(), 3.0, 0.02},
    };

    CxWordUtil util;
    Word word;
    ASSERT_NE(word.docs, nullptr);
    HDC screen = GetDC(nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir / c.name;
        ASSERT_TRUE(MakeDocument(word, dir.Path(), c.body, path));
        // The engine's own layout of the same file.
        std::string pdfPath = path + ".pdf";
        IDispatch* src = word.Open(path);
        ASSERT_NE(src, nullptr);
        ASSERT_EQ(Call(src, u"SaveAs", DISPATCH_METHOD, {Arg::Str(pdfPath)}, nullptr), S_OK);
        src->Release();
        wordengine::PdfBytes pdf;
        {
            std::string bytes = ReadWhole(pdfPath);
            pdf.data.assign(bytes.begin(), bytes.end());
        }
        int expectedPages = wordengine::PdfPageCount(pdf);
        ASSERT_GT(expectedPages, 0);

        CxWordDoc doc(&util);
        ASSERT_TRUE(doc.Open(path.c_str()));
        EXPECT_EQ(doc.GetPageCount(), expectedPages);
        for (int i = 0; i < doc.GetPageCount(); ++i) {
            SCOPED_TRACE(i);
            POINT size = {0, 0};
            ASSERT_TRUE(doc.SelectPage(i));
            ASSERT_TRUE(doc.GetPageSize(screen, &size));
            ASSERT_GT(size.x, 100);
            ASSERT_GT(size.y, 100);
            HDC mem = CreateCompatibleDC(screen);
            HBITMAP bmp = CreateCompatibleBitmap(screen, size.x, size.y);
            HGDIOBJ old = SelectObject(mem, bmp);
            RECT r = {0, 0, size.x, size.y};
            EXPECT_TRUE(doc.DrawPage(i, mem, &r, &r));
            SelectObject(mem, old);
            std::vector<uint32_t> got = Pixels(mem, bmp, size.x, size.y);
            DeleteObject(bmp);
            DeleteDC(mem);
            std::vector<uint32_t> want;
            ASSERT_TRUE(wordengine::RasterisePdfPage(pdf, i, size.x, size.y, &want));
            Diff d = Compare(got, want);
            printf("fidelity %s page %d (%ldx%ld): mean abs diff %.2f, pixels > 64: %.2f%%\n", c.name, i + 1,
                   long(size.x), long(size.y), d.mean, d.share * 100);
            EXPECT_LT(d.mean, c.maxMean);
            EXPECT_LT(d.share, c.maxShare);
        }
    }
    ReleaseDC(nullptr, screen);
}
