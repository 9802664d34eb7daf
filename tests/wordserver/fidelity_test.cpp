// Pages drawn through the Word layer (CxWordUtil, CxWordDoc) against the engine's own layout of
// the same file: its PDF export rasterised by pdftoppm at 96 dpi, page by page and band by band
// (a wrong page or list number is a few hundred pixels, lost in a page-wide mean). Generated
// documents with what depends on the whole document (page counts, numbering, sections of other
// sizes and orientations, notes and headings carried over pages) and every real document of the
// corpus.
#include <gtest/gtest.h>

#include "PagePixels.h"
#include "TempDir.h"
#include "WordServerTest.h"
#include "Engine.h"
#include "app/OptionSettings.h"
#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace wstest;

namespace {

struct Picture {
    int w = 0, h = 0;
    std::vector<uint32_t> px;  // 0x00RRGGBB, rows top-down
};

// A binary PPM (P6, maxval 255) as pdftoppm writes it; empty on anything else.
Picture ReadPpm(const std::string& path)
{
    Picture p;
    const std::string b = ReadWhole(path);
    int w = 0, h = 0, max = 0, used = 0;
    if (std::sscanf(b.c_str(), "P6 %d %d %d%n", &w, &h, &max, &used) != 3 || max != 255 || w <= 0 || h <= 0)
        return p;
    const size_t start = size_t(used) + 1;  // one whitespace byte after the header
    if (b.size() < start + size_t(w) * h * 3)
        return p;
    p.w = w;
    p.h = h;
    p.px.resize(size_t(w) * h);
    const auto* d = reinterpret_cast<const unsigned char*>(b.data() + start);
    for (size_t i = 0; i < p.px.size(); ++i, d += 3)
        p.px[i] = uint32_t(d[0]) << 16 | uint32_t(d[1]) << 8 | d[2];
    return p;
}

// The engine's pages of `pdf` as pdftoppm draws them at 96 dpi, in page order.
std::vector<Picture> ReferencePages(const std::string& pdf, const std::string& dir)
{
    std::vector<Picture> pages;
    const std::string prefix = dir + "/ref";
    const std::string cmd = "pdftoppm -r 96 '" + pdf + "' '" + prefix + "'";
    if (std::system(cmd.c_str()) != 0)
        return pages;
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strncmp(e->d_name, "ref-", 4) == 0)
                names.push_back(dir + "/" + e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());  // pdftoppm pads the numbers to one width
    for (const std::string& n : names) {
        pages.push_back(ReadPpm(n));
        std::remove(n.c_str());
    }
    return pages;
}

Picture Draw(CxWordDoc& doc, int index, HDC screen)
{
    Picture p;
    POINT size;
    bool drawn = false;
    if (!doc.SelectPage(index))
        return p;
    std::vector<uint32_t> px = PagePixels(doc, index, screen, &size, &drawn);
    if (drawn && !px.empty()) {
        p.w = size.x;
        p.h = size.y;
        p.px = std::move(px);
    }
    return p;
}

const int kBands = 32;

struct PageDiff {
    double share = 1;      // pixels with a channel off by more than 64, over the page
    double worstBand = 1;  // the same over the worst band of 1/32 of the page height
    int band = 0;
};

// Over the area both pictures cover (their sizes may differ by a pixel of rounding).
PageDiff Compare(const Picture& a, const Picture& b)
{
    PageDiff d;
    const int w = std::min(a.w, b.w), h = std::min(a.h, b.h);
    if (w <= 0 || h <= 0)
        return d;
    std::vector<size_t> bad(kBands, 0), all(kBands, 0);
    size_t total = 0;
    for (int y = 0; y < h; ++y) {
        const int band = int((long long)y * kBands / h);
        const uint32_t* ra = a.px.data() + size_t(y) * a.w;
        const uint32_t* rb = b.px.data() + size_t(y) * b.w;
        size_t n = 0;
        for (int x = 0; x < w; ++x) {
            const uint32_t pa = ra[x], pb = rb[x];
            if (pa == pb)
                continue;
            for (int sh = 0; sh < 24; sh += 8) {
                const int c = int((pa >> sh) & 0xff) - int((pb >> sh) & 0xff);
                if (c > 64 || c < -64) {
                    ++n;
                    break;
                }
            }
        }
        bad[size_t(band)] += n;
        all[size_t(band)] += size_t(w);
        total += n;
    }
    d.share = double(total) / (double(w) * h);
    d.worstBand = 0;
    for (int i = 0; i < kBands; ++i) {
        const double s = all[size_t(i)] ? double(bad[size_t(i)]) / all[size_t(i)] : 0;
        if (s > d.worstBand) {
            d.worstBand = s;
            d.band = i;
        }
    }
    return d;
}

// Checks every page of one document; prints its worst page.
void CheckDocument(CxWordUtil& util, Word& word, const std::string& path, const std::string& work, HDC screen)
{
    SCOPED_TRACE(path);
    // The engine's own layout of the same file, and its page count through Goto.
    const std::string pdf = work + "/layout.pdf";
    std::remove(pdf.c_str());
    IDispatch* src = word.Open(path);
    ASSERT_NE(src, nullptr);
    const int byGoto = CountPagesByGoto(src);
    EXPECT_EQ(Call(src, u"SaveAs", DISPATCH_METHOD, {Arg::Str(pdf)}, nullptr), S_OK);
    Call(src, u"Close", DISPATCH_METHOD, {}, nullptr);
    src->Release();
    const std::vector<Picture> ref = ReferencePages(pdf, work);
    ASSERT_FALSE(ref.empty());

    CxWordDoc doc(&util);
    ASSERT_TRUE(doc.Open(path.c_str()));
    EXPECT_TRUE(doc.HasPageView()) << "the pages are drawn from the document's own layout";
    EXPECT_EQ(doc.GetPageCount(), int(ref.size()));
    EXPECT_EQ(doc.GetPageCount(), byGoto);
    PageDiff worst;
    worst.share = worst.worstBand = -1;
    int worstPage = 0;
    for (int i = 0; i < std::min(doc.GetPageCount(), int(ref.size())); ++i) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        const Picture got = Draw(doc, i, screen);
        ASSERT_FALSE(got.px.empty());
        const Picture& want = ref[size_t(i)];
        EXPECT_LE(std::abs(got.w - want.w), 1) << got.w << "x" << got.h << " against " << want.w << "x" << want.h;
        EXPECT_LE(std::abs(got.h - want.h), 1) << got.w << "x" << got.h << " against " << want.w << "x" << want.h;
        const PageDiff d = Compare(got, want);
        EXPECT_LE(d.share, 0.005);
        EXPECT_LE(d.worstBand, 0.02) << "band " << d.band;
        if (d.worstBand > worst.worstBand || (d.worstBand == worst.worstBand && d.share > worst.share)) {
            worst = d;
            worstPage = i + 1;
        }
    }
    // One renderer draws all pages of a document: drawn last to first, after every page was
    // drawn once, each must still be the page alone.
    {
        const std::string bytes = ReadWhole(pdf);
        auto data = std::make_shared<wordengine::PdfBytes>();
        data->data.assign(bytes.begin(), bytes.end());
        wordengine::PdfPages all(data);
        ASSERT_EQ(all.Count(), int(ref.size()));
        for (int i = all.Count() - 1; i >= 0; --i) {
            SCOPED_TRACE("page " + std::to_string(i + 1) + " drawn after later pages");
            const Picture& want = ref[size_t(i)];
            Picture again;
            again.w = want.w;
            again.h = want.h;
            ASSERT_TRUE(all.Rasterise(i, want.w, want.h, &again.px));
            const PageDiff d = Compare(again, want);
            EXPECT_LE(d.share, 0.005);
            EXPECT_LE(d.worstBand, 0.02) << "band " << d.band;
        }
    }
    const char* name = std::strrchr(path.c_str(), '/');
    printf("fidelity %s: %d pages; worst page %d: %.3f%% of its pixels, %.3f%% in band %d\n",
           name ? name + 1 : path.c_str(), doc.GetPageCount(), worstPage, worst.share * 100, worst.worstBand * 100,
           worst.band + 1);
}

// A temporary folder for the Word layer and a work folder for the engine's exports, in dir.
void PrepareFolders(TempDir& dir, std::string* work)
{
    const std::string temp = dir / "temp/";
    ASSERT_EQ(mkdir(temp.c_str(), 0700), 0);
    snprintf(OptionSettings.TempPath, sizeof OptionSettings.TempPath, "%s", temp.c_str());
    CxWordUtil::SetTempFolder(OptionSettings.TempPath, sizeof OptionSettings.TempPath);
    *work = dir / "work";
    ASSERT_EQ(mkdir(work->c_str(), 0700), 0);
}

// Where the real documents are: FOLIUM_CORPUS, else the corpus the build was configured with.
std::string CorpusFolder()
{
    if (const char* env = getenv("FOLIUM_CORPUS"))
        return env;
    struct stat sb;
    if (stat(FOLIUM_CORPUS_DIR, &sb) == 0 && S_ISDIR(sb.st_mode))
        return FOLIUM_CORPUS_DIR;
    return std::string();
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

// Twelve pages with "Page N of M", the third after a blank page the layout inserts.
std::string LongBody()
{
    std::string b = Para("Counted. " + Lorem(60, 170), "PCounted") + Para("Third. " + Lorem(60, 171), "PRestart3");
    for (int i = 0; i < 10; ++i)
        b += Para(Lorem(60, 172 + i), "PBreak");
    return b;
}

}  // namespace

// Page 1 of a long document, drawn before any other page (from an export of that page alone),
// is pixel for pixel the page 1 drawn from the whole document's export, and the count the
// document gives before drawing is the whole export's.
TEST(WordServerFidelity, ALongDocumentsFirstPageAloneIsItsFirstPage)
{
    TempDir dir;
    std::string work;
    ASSERT_NO_FATAL_FAILURE(PrepareFolders(dir, &work));
    CxWordUtil util;
    Word word;
    ASSERT_NE(word.docs, nullptr);
    HDC screen = GetDC(nullptr);
    for (const char* name : {"long.docx", "long.doc"}) {
        SCOPED_TRACE(name);
        const std::string path = dir / name;
        ASSERT_TRUE(MakeDocument(word, dir.Path(), LongBody(), path));
        const std::string pdf = work + "/whole.pdf";
        IDispatch* src = word.Open(path);
        ASSERT_NE(src, nullptr);
        EXPECT_EQ(Call(src, u"SaveAs", DISPATCH_METHOD, {Arg::Str(pdf)}, nullptr), S_OK);
        Call(src, u"Close", DISPATCH_METHOD, {}, nullptr);
        src->Release();
        const std::string bytes = ReadWhole(pdf);
        wordengine::PdfBytes whole;
        whole.data.assign(bytes.begin(), bytes.end());

        CxWordDoc doc(&util);
        ASSERT_TRUE(doc.Open(path.c_str()));
        EXPECT_EQ(doc.GetPageCount(), wordengine::PdfPageCount(whole));
        EXPECT_GT(doc.GetPageCount(), 8) << "long enough to be drawn a page at a time";
        const Picture alone = Draw(doc, 0, screen);
        const Picture second = Draw(doc, 1, screen);
        const Picture again = Draw(doc, 0, screen);
        ASSERT_FALSE(alone.px.empty());
        ASSERT_FALSE(second.px.empty());
        EXPECT_EQ(alone.w, again.w);
        EXPECT_EQ(alone.h, again.h);
        EXPECT_TRUE(alone.px == again.px) << "page 1 alone differs from page 1 of the whole";
        EXPECT_FALSE(alone.px == second.px);
    }
    ReleaseDC(nullptr, screen);
}

// Closed in the engine, a document goes on drawing the pages exported before (the converter
// draws them while the engine loads the next document), while the engine serves another one,
// and draws no page that was never exported.
TEST(WordServerFidelity, ClosedInTheEngineItDrawsWhatWasExported)
{
    TempDir dir;
    std::string work;
    ASSERT_NO_FATAL_FAILURE(PrepareFolders(dir, &work));
    CxWordUtil util;
    Word word;
    ASSERT_NE(word.docs, nullptr);
    HDC screen = GetDC(nullptr);
    const std::string path = dir / "long.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), LongBody(), path));
    CxWordDoc first(&util), whole(&util);
    ASSERT_TRUE(first.Open(path.c_str()));
    ASSERT_TRUE(whole.Open(path.c_str()));
    const Picture alone = Draw(first, 0, screen);  // page 1 exported alone
    const Picture last = Draw(whole, whole.GetPageCount() - 1, screen);  // the whole export
    ASSERT_FALSE(alone.px.empty());
    ASSERT_FALSE(last.px.empty());
    ASSERT_TRUE(first.CloseServer());
    ASSERT_TRUE(whole.CloseServer());
    std::string fonts;
    EXPECT_FALSE(first.GetFontReport(&fonts)) << "nothing more is asked of the engine";

    CxWordDoc other(&util);
    ASSERT_TRUE(other.Open(path.c_str()));
    EXPECT_TRUE(Draw(first, 0, screen).px == alone.px);
    EXPECT_TRUE(Draw(first, 1, screen).px.empty()) << "page 2 was never exported for it";
    EXPECT_TRUE(Draw(whole, whole.GetPageCount() - 1, screen).px == last.px);
    EXPECT_TRUE(Draw(whole, 0, screen).px == alone.px);
    EXPECT_TRUE(Draw(other, 0, screen).px == alone.px);
    ReleaseDC(nullptr, screen);
}

TEST(WordServerFidelity, GeneratedPagesMatchTheEngineLayout)
{
    TempDir dir;
    std::string work;
    ASSERT_NO_FATAL_FAILURE(PrepareFolders(dir, &work));

    const struct Case {
        const char* name;
        std::string body;
    } cases[] = {
        // The table runs from page 2 to page 5.
        {"report.docx", ReportBody()},
        {"sections.docx", SectionsBody()},
        {"numbered.doc", NumberedBody()},
        {"picture.docx", ImageBody()},
        {"comments.docx", CommentsBody()},
        {"comments.doc", CommentsBody()},
        {"headed.docx", Para(Lorem(60, 80)) + HeadedTable(90) + Para(Lorem(60, 81))},
        {"blank.docx", Para("First page. " + Lorem(80, 70)) + Para("Third page. " + Lorem(80, 71), "PRestart3")},
        {"endnote.docx", Para("Noted<text:note text:id=\"en1\" text:note-class=\"endnote\"><text:note-citation>1</text:note-citation><text:note-body><text:p>" + Lorem(30, 101) + "</text:p></text:note-body></text:note> text. " + Lorem(120, 60))},
        {"tracked.docx", TrackedBody()},
        {"tracked.doc", TrackedBody()},
        // "Page N of M" over four pages: M is the whole document's count on every page.
        {"counted.docx", Para("Counted. " + Lorem(200, 110), "PCounted") + Para(Lorem(200, 111), "PBreak") +
                             Para(Lorem(200, 112), "PBreak") + Para(Lorem(200, 113), "PBreak")},
        {"counted.doc", Para("Counted. " + Lorem(200, 110), "PCounted") + Para(Lorem(200, 111), "PBreak") +
                            Para(Lorem(200, 112), "PBreak") + Para(Lorem(200, 113), "PBreak")},
        // A numbered list that starts on page 3, and one that runs from one page to the next
        // and is continued by a later list.
        {"lists.docx", Para(Lorem(300, 120)) + Para(Lorem(200, 121), "PBreak") + Para("Third.", "PBreak") +
                           NumberedList(8, 122) + Para(Lorem(330, 123)) + NumberedList(30, 124) +
                           Para(Lorem(30, 125)) + NumberedList(6, 126, true)},
        // Portrait, landscape, landscape, portrait.
        {"turns.docx", Para(Lorem(150, 130)) + Para("Wide. " + Lorem(150, 131), "PLand") +
                           Para("Still wide. " + Lorem(150, 132), "PBreak") + Para("Upright. " + Lorem(150, 133), "PPort")},
        {"turns.doc", Para(Lorem(150, 130)) + Para("Wide. " + Lorem(150, 131), "PLand") +
                          Para("Still wide. " + Lorem(150, 132), "PBreak") + Para("Upright. " + Lorem(150, 133), "PPort")},
        {"sizes.docx", Para("A4. " + Lorem(100, 140)) + Para("A5. " + Lorem(250, 141), "PA5") +
                           Para("Letter. " + Lorem(150, 142), "PLetter")},
        // A footnote too long for the page it is called on carries over to the next.
        {"footnote.docx", Para(Lorem(420, 150) + Footnote(1, 420) + " " + Lorem(200, 151))},
        {"headings.docx", Para(Lorem(40, 160)) + HeadedTable(120)},
        // Long enough that page 1 is drawn from an export of its own, with a blank page the
        // layout inserts (page 3 after page 1) and "Page N of M".
        {"long.docx", LongBody()},
    };

    CxWordUtil util;
    Word word;
    ASSERT_NE(word.docs, nullptr);
    HDC screen = GetDC(nullptr);
    for (const Case& c : cases) {
        std::string path = dir / c.name;
        ASSERT_TRUE(MakeDocument(word, dir.Path(), c.body, path)) << c.name;
        CheckDocument(util, word, path, work, screen);
    }
    ReleaseDC(nullptr, screen);
}

TEST(WordServerFidelity, CorpusPagesMatchTheEngineLayout)
{
    const std::string corpus = CorpusFolder();
    ASSERT_FALSE(corpus.empty()) << "no corpus: set FOLIUM_CORPUS";
    std::vector<std::string> files;
    if (DIR* d = opendir(corpus.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            for (char& c : n)
                c = char(std::tolower((unsigned char)c));  // names such as REPORT.DOC too
            if ((n.size() > 4 && n.compare(n.size() - 4, 4, ".doc") == 0) ||
                (n.size() > 5 && n.compare(n.size() - 5, 5, ".docx") == 0))
                files.push_back(corpus + "/" + e->d_name);
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());

    TempDir dir;
    std::string work;
    ASSERT_NO_FATAL_FAILURE(PrepareFolders(dir, &work));
    CxWordUtil util;
    Word word;
    ASSERT_NE(word.docs, nullptr);
    HDC screen = GetDC(nullptr);
    for (const std::string& f : files)
        CheckDocument(util, word, f, work, screen);
    ReleaseDC(nullptr, screen);
}
