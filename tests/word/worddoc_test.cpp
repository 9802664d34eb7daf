// Documents: loading by embedding, page counting, page splitting, measuring and drawing,
// against the scripted server.
#include "WordFixture.h"

#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"

#include <gtest/gtest-spi.h>
#include <oleclasses.h>

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>

namespace {

using scripted::Call;
using scripted::Calls;
using scripted::CallsOf;

std::vector<std::string> PageLines(int count, const char* tag = "page")
{
    std::vector<std::string> lines;
    for (int i = 1; i <= count; ++i)
        lines.push_back(std::string(tag) + " " + std::to_string(i));
    return lines;
}

class WordDocTest : public WordFixture {
protected:
    void SetUp() override
    {
        WordFixture::SetUp();
        CoInitialize(nullptr); // balanced by the instance's end
        m_util.reset(new CxWordUtil);
    }
    void TearDown() override
    {
        m_util.reset();
        WordFixture::TearDown();
    }

    // Opens a document of the given pages (first lines "page n") named name.
    std::unique_ptr<CxWordDoc> Open(const std::string& name, int pages)
    {
        m_path = Doc(name, scripted::MakeDocument(PageLines(pages)));
        std::unique_ptr<CxWordDoc> doc(new CxWordDoc(m_util.get()));
        if (!doc->Open(m_path.c_str()))
            return nullptr;
        return doc;
    }

    int SavesOf(const std::string& path)
    {
        int n = 0;
        for (const Call& c : CallsOf("SaveAs"))
            n += c.args.size() == 1 && c.args[0].str == path;
        return n;
    }

    std::unique_ptr<CxWordUtil> m_util;
    std::string m_path;
};

TEST_F(WordDocTest, GotoCarriesItsFourArgumentsLastFirst)
{
    auto doc = Open("Goto.doc", 2);
    ASSERT_NE(doc, nullptr);
    auto gotos = CallsOf("Goto");
    ASSERT_GE(gotos.size(), 3u); // counting: 1, 2, 3
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const Call& c = gotos[i];
        EXPECT_EQ(c.object, "Document");
        EXPECT_EQ(c.flags, DISPATCH_METHOD);
        ASSERT_EQ(c.args.size(), 4u);
        EXPECT_EQ(c.args[0].vt, VT_ERROR); // Name, omitted
        EXPECT_EQ(c.args[0].scode, DISP_E_PARAMNOTFOUND);
        EXPECT_EQ(c.args[1].vt, VT_I4); // Count
        EXPECT_EQ(c.args[1].i4, LONG(i + 1));
        EXPECT_EQ(c.args[2].vt, VT_I4); // Which: absolute
        EXPECT_EQ(c.args[2].i4, 1);
        EXPECT_EQ(c.args[3].vt, VT_I4); // What: page
        EXPECT_EQ(c.args[3].i4, 1);
    }
}

TEST_F(WordDocTest, EveryInvokeFollowsALookupOfItsNameWithTheRightKindOfCall)
{
    auto doc = Open("Kinds.doc", 3);
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(doc->SelectPage(2));
    const auto& calls = Calls();
    size_t invokes = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        const Call& c = calls[i];
        if (c.lookup || c.object == "Embedded")
            continue;
        ++invokes;
        SCOPED_TRACE(c.object + "." + c.member);
        ASSERT_GT(i, 0u);
        EXPECT_TRUE(calls[i - 1].lookup);
        EXPECT_EQ(strcasecmp(calls[i - 1].member.c_str(), c.member.c_str()), 0);
        const bool property = c.member == "Start" || c.member == "End" || c.member == "Documents";
        EXPECT_EQ(c.flags, property ? DISPATCH_PROPERTYGET : DISPATCH_METHOD);
    }
    EXPECT_GT(invokes, 10u);
}

struct CountRow {
    const char* name;
    int pages;
    int gotoFailFrom;
    bool pastEndFails;
    int expected;
};

TEST_F(WordDocTest, CountsPagesByGotoUntilTheStartStopsAdvancing)
{
    const CountRow rows[] = {
        {"one page", 1, 0, false, 1},
        {"five pages", 5, 0, false, 5},
        {"goto fails at page 1", 3, 1, false, 0},
        {"goto past the end fails", 4, 0, true, 4},
        {"goto fails at page 3", 5, 3, false, 2},
    };
    for (const CountRow& row : rows) {
        SCOPED_TRACE(row.name);
        scripted::TheScript().gotoFailFrom = row.gotoFailFrom;
        scripted::TheScript().gotoPastEndFails = row.pastEndFails;
        auto doc = Open("Count.doc", row.pages);
        ASSERT_NE(doc, nullptr) << "a document whose Goto fails still loads";
        EXPECT_EQ(doc->GetPageCount(), row.expected);
        EXPECT_EQ(doc->GetCurrentPage(), row.expected > 0 ? 0 : -1);
        if (row.expected == 0) {
            EXPECT_FALSE(doc->SelectPage(0));
        }
        scripted::TheScript() = scripted::Script();
    }
}

TEST_F(WordDocTest, OpenEmbedsTheFileAndSelectsTheFirstPage)
{
    auto doc = Open("First.doc", 3);
    ASSERT_NE(doc, nullptr);
    EXPECT_STREQ(doc->GetPath(), m_path.c_str());
    EXPECT_EQ(doc->GetPageCount(), 3);
    EXPECT_EQ(doc->GetCurrentPage(), 0);
    auto loads = CallsOf("Load");
    ASSERT_EQ(loads.size(), 2u); // the source, then page 1's document
    EXPECT_EQ(loads[0].args[0].str, m_path);
    EXPECT_EQ(loads[1].args[0].str, TempFile("First_temp_1.doc"));
    EXPECT_EQ(CallsOf("Run").size(), 2u);
    const auto page = scripted::ParseDocument(ReadWhole(TempFile("First_temp_1.doc")));
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page[0].text, "page 1\nmore text\n");
}

TEST_F(WordDocTest, OpenFailsCleanlyWithoutTheDocument)
{
    CxWordDoc doc(m_util.get());
    scripted::ClearCalls();
    EXPECT_FALSE(doc.Open(""));
    EXPECT_FALSE(doc.Open(nullptr));
    EXPECT_TRUE(Calls().empty()) << "an empty path is refused before anything is called";

    EXPECT_FALSE(doc.Open((m_dir / "missing.doc").c_str()));
    const std::string wrongType = Doc("notes.txt", "text\n");
    EXPECT_FALSE(doc.Open(wrongType.c_str()));
    scripted::TheScript().failLoad = true;
    const std::string path = Doc("Refused.doc", scripted::MakeDocument({"x"}));
    EXPECT_FALSE(doc.Open(path.c_str()));
    EXPECT_EQ(doc.GetPageCount(), 0);
    EXPECT_EQ(scripted::LiveObjects(), 4) << "only the application, its collection and the two class objects";
}

TEST_F(WordDocTest, APathThatDoesNotFitIsRefusedInsteadOfCut)
{
    std::string longPath = m_dir.Path() + std::string(300, 'a') + ".doc";
    CxWordDoc doc(m_util.get());
    scripted::ClearCalls();
    EXPECT_FALSE(doc.Open(longPath.c_str()));
    EXPECT_TRUE(Calls().empty());
    EXPECT_STREQ(doc.GetPath(), "");
}

TEST_F(WordDocTest, OpeningAnotherFileStartsAfresh)
{
    auto doc = Open("First.doc", 3);
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(doc->SelectPage(2));
    const std::string second = Doc("Second.doc", scripted::MakeDocument(PageLines(2, "second")));
    ASSERT_TRUE(doc->Open(second.c_str()));
    EXPECT_STREQ(doc->GetPath(), second.c_str());
    EXPECT_EQ(doc->GetPageCount(), 2);
    EXPECT_EQ(doc->GetCurrentPage(), 0);
    const auto page = scripted::ParseDocument(ReadWhole(TempFile("Second_temp_1.doc")));
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page[0].text, "second 1\nmore text\n");
    // The first document's embeddings are gone: only the second's source and page remain.
    int alive = 0;
    for (const Call& c : Calls())
        alive += c.member == "Load" ? 1 : c.member == "destroyed" && c.object == "Embedded" ? -1 : 0;
    EXPECT_EQ(alive, 2);
}

TEST_F(WordDocTest, SelectingTheCurrentPageDoesNothing)
{
    auto doc = Open("Same.doc", 3);
    ASSERT_NE(doc, nullptr);
    scripted::ClearCalls();
    EXPECT_TRUE(doc->SelectPage(0));
    EXPECT_TRUE(Calls().empty());
}

TEST_F(WordDocTest, GoingBackToAPageSplitsItAgain)
{
    auto doc = Open("Back.doc", 4);
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(doc->SelectPage(1));
    const std::string page2 = TempFile("Back_temp_2.doc");
    ASSERT_TRUE(doc->SelectPage(2));
    ASSERT_TRUE(doc->SelectPage(1));
    EXPECT_EQ(SavesOf(page2), 2);
    EXPECT_EQ(SavesOf(TempFile("Back_temp_3.doc")), 1);
    EXPECT_EQ(doc->GetCurrentPage(), 1);
}

TEST_F(WordDocTest, EachPageDocumentHoldsExactlyItsPage)
{
    auto doc = Open("Split.doc", 3);
    ASSERT_NE(doc, nullptr);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(doc->SelectPage(i));
        const auto page = scripted::ParseDocument(ReadWhole(TempFile("Split_temp_" + std::to_string(i + 1) + ".doc")));
        ASSERT_EQ(page.size(), 1u);
        EXPECT_EQ(page[0].text, "page " + std::to_string(i + 1) + "\nmore text\n");
    }
}

TEST_F(WordDocTest, TheSourceRangeIsPassedEndFirstAndTheLastPageRunsToTheContentEnd)
{
    // Pages are 17 characters each ("page n\nmore text\n"): page 3 of 3 is [34, 51).
    auto doc = Open("Range.doc", 3);
    ASSERT_NE(doc, nullptr);
    scripted::ClearCalls();
    ASSERT_TRUE(doc->SelectPage(2));
    std::vector<Call> ranges;
    for (const Call& c : CallsOf("Range"))
        if (c.args.size() == 2)
            ranges.push_back(c);
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0].flags, DISPATCH_METHOD);
    EXPECT_EQ(ranges[0].args[0].vt, VT_I4);
    EXPECT_EQ(ranges[0].args[0].i4, 51); // End
    EXPECT_EQ(ranges[0].args[1].i4, 34); // Start
    // The copy's whole text is replaced: a Range without arguments, then Paste.
    EXPECT_EQ(CallsOf("Copy").size(), 1u);
    EXPECT_EQ(CallsOf("Paste").size(), 1u);
}

TEST_F(WordDocTest, SelectingOutsideTheDocumentFailsAndChangesNothing)
{
    auto doc = Open("Outside.doc", 3);
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(doc->SelectPage(1));
    scripted::ClearCalls();
    EXPECT_FALSE(doc->SelectPage(3));
    EXPECT_FALSE(doc->SelectPage(-1));
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(doc->GetCurrentPage(), 1);
}

TEST_F(WordDocTest, ATemplateCopyLeftByAnotherDocumentIsNeitherUsedNorTouched)
{
    // Another Report.doc, from another folder, left its template copy in the temporary folder
    // (or a user keeps a file of that name there).
    const std::string planted = m_dir.Write("temp/Reuse_temp_65536.doc", scripted::MakeDocument({"older"}, 29700, 21000));
    auto doc = Open("Reuse.doc", 2);
    ASSERT_NE(doc, nullptr);
    const std::string templ = TempFile("Reuse_temp_65536.doc");
    ASSERT_NE(templ, "");
    EXPECT_EQ(ReadWhole(templ), ReadWhole(m_path));
    EXPECT_EQ(ReadWhole(planted), scripted::MakeDocument({"older"}, 29700, 21000));
    auto opens = CallsOf("Open");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].args[0].str, templ);

    // Written once per document: later pages reuse it as it is.
    const std::string marked = scripted::MakeDocument({"marked"});
    { std::ofstream(templ, std::ios::binary) << marked; }
    ASSERT_TRUE(doc->SelectPage(1));
    EXPECT_EQ(ReadWhole(templ), marked);
    const auto page = scripted::ParseDocument(ReadWhole(TempFile("Reuse_temp_2.doc")));
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page[0].text, "page 2\nmore text\n");
}

TEST_F(WordDocTest, TemporaryDocumentsGoIntoAPrivateFolderAndNoPlantedLinkIsFollowed)
{
    // The temporary folder is shared: someone planted links under the names the split used to
    // write, aimed at a file of the user's.
    const std::string victim = m_dir.Write("victim.txt", "0xdeadbeef");
    for (const char* name : {"Priv_temp_65536.doc", "Priv_temp_1.doc", "Priv_temp_2.doc"})
        ASSERT_EQ(symlink(victim.c_str(), (m_temp + name).c_str()), 0);
    auto doc = Open("Priv.doc", 2);
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(doc->SelectPage(1));
    EXPECT_EQ(ReadWhole(victim), "0xdeadbeef");
    const std::string page = TempFile("Priv_temp_2.doc");
    ASSERT_NE(page, "");
    EXPECT_EQ(scripted::ParseDocument(ReadWhole(page))[0].text, "page 2\nmore text\n");
    // The document's folder and the run's folder above it: this user's only.
    const std::string docFolder = page.substr(0, page.rfind('/'));
    const std::string runFolder = docFolder.substr(0, docFolder.rfind('/'));
    EXPECT_EQ(runFolder.substr(0, m_temp.size()), m_temp);
    for (const std::string& folder : {docFolder, runFolder}) {
        SCOPED_TRACE(folder);
        struct stat st;
        ASSERT_EQ(lstat(folder.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
}

TEST_F(WordDocTest, DocumentsOfOneNameFromTwoFoldersKeepEachTheirTemplate)
{
    // Two Twin.doc of different page setups: portrait and landscape.
    mkdir((m_dir / "a").c_str(), 0755);
    mkdir((m_dir / "b").c_str(), 0755);
    const std::string a = Doc("a/Twin.doc", scripted::MakeDocument({"alpha 1", "alpha 2"}, 21000, 29700));
    const std::string b = Doc("b/Twin.doc", scripted::MakeDocument({"beta 1", "beta 2"}, 29700, 21000));
    CxWordDoc first(m_util.get()), second(m_util.get());
    ASSERT_TRUE(first.Open(a.c_str()));
    ASSERT_TRUE(second.Open(b.c_str()));
    // Each split, in turns, is made on its own document's copy.
    struct Step {
        CxWordDoc* doc;
        int page;
        const char* text;
        std::string source;
    } steps[] = {{&first, 1, "alpha 2\nmore text\n", a},
                 {&second, 1, "beta 2\nmore text\n", b},
                 {&first, 0, "alpha 1\nmore text\n", a},
                 {&second, 0, "beta 1\nmore text\n", b}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.text);
        scripted::ClearCalls();
        ASSERT_TRUE(step.doc->SelectPage(step.page));
        auto opens = CallsOf("Open");
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(ReadWhole(opens[0].args[0].str), ReadWhole(step.source))
            << "the copy the page is pasted into is this document's own";
        auto saves = CallsOf("SaveAs");
        ASSERT_EQ(saves.size(), 1u);
        const auto pages = scripted::ParseDocument(ReadWhole(saves[0].args[0].str));
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(pages[0].text, step.text);
    }
}

TEST_F(WordDocTest, WithoutATemplateCopyNoPageDocumentIsWritten)
{
    // The temporary folder is gone: the copy cannot be made, and nothing is opened or saved.
    m_path = Doc("NoTemp.doc", scripted::MakeDocument(PageLines(2)));
    std::snprintf(m_tempFolder, sizeof(m_tempFolder), "%s", (m_dir / "gone/").c_str());
    CxWordDoc doc(m_util.get());
    ASSERT_TRUE(doc.Open(m_path.c_str()));
    EXPECT_EQ(doc.GetCurrentPage(), 0) << "the page is current although it could not be split";
    EXPECT_TRUE(CallsOf("Open").empty());
    EXPECT_TRUE(CallsOf("SaveAs").empty());
}

TEST_F(WordDocTest, TemporaryDocumentsStayAfterTheDocumentEnds)
{
    {
        auto doc = Open("Stay.doc", 2);
        ASSERT_NE(doc, nullptr);
        ASSERT_TRUE(doc->SelectPage(1));
        doc->Close();
        doc->Close(); // a second Close does nothing more
    }
    EXPECT_EQ(access(TempFile("Stay_temp_65536.doc").c_str(), 0), 0);
    EXPECT_EQ(access(TempFile("Stay_temp_1.doc").c_str(), 0), 0);
    EXPECT_EQ(access(TempFile("Stay_temp_2.doc").c_str(), 0), 0);
}

// The measuring and drawing tests draw into memory bitmaps of the screen's resolution.
class PageDrawTest : public WordDocTest {
protected:
    void SetUp() override
    {
        WordDocTest::SetUp();
        m_screen = CreateCompatibleDC(nullptr);
        ASSERT_EQ(GetDeviceCaps(m_screen, LOGPIXELSX), 96);
    }
    void TearDown() override
    {
        DeleteDC(m_screen);
        WordDocTest::TearDown();
    }

    // Draws page index into a fresh w x h bitmap; returns the colour at (x, y).
    COLORREF DrawAndRead(CxWordDoc& doc, int index, int w, int h, int x, int y, bool* drawn = nullptr)
    {
        HDC dc = CreateCompatibleDC(m_screen);
        HBITMAP bm = CreateCompatibleBitmap(m_screen, w, h);
        HGDIOBJ old = SelectObject(dc, bm);
        SetPixel(dc, x, y, RGB(1, 2, 3)); // proves a draw reached the pixel
        RECT r = {0, 0, w, h};
        const bool ok = doc.DrawPage(index, dc, &r, &r);
        if (drawn)
            *drawn = ok;
        const COLORREF c = GetPixel(dc, x, y);
        SelectObject(dc, old);
        DeleteObject(bm);
        DeleteDC(dc);
        return c;
    }

    HDC m_screen = nullptr;
};

TEST_F(PageDrawTest, AnA4PageMeasures794By1123AtScreenResolution)
{
    auto doc = Open("A4.doc", 2);
    ASSERT_NE(doc, nullptr);
    SetMapMode(m_screen, MM_HIMETRIC);
    POINT size = {0, 0};
    ASSERT_TRUE(doc->GetPageSize(m_screen, &size));
    EXPECT_EQ(size.x, 794);
    EXPECT_EQ(size.y, 1123) << "positive although HIMETRIC's y axis points up";
    EXPECT_EQ(GetMapMode(m_screen), MM_TEXT);
}

// A landscape page in a portrait document gives a landscape picture: each page is measured
// once, when it is first current, and keeps its size when it is shown again.
TEST_F(PageDrawTest, EachPageKeepsItsOwnSize)
{
    scripted::Page portrait, landscape;
    portrait.text = "portrait\n";
    landscape.cx = 29700;
    landscape.cy = 21000;
    landscape.text = "landscape\n";
    m_path = Doc("Mixed.doc", scripted::FormatDocument({portrait, landscape}));
    CxWordDoc doc(m_util.get());
    ASSERT_TRUE(doc.Open(m_path.c_str()));
    POINT size;
    ASSERT_TRUE(doc.GetPageSize(m_screen, &size));
    EXPECT_EQ(size.x, 794);
    EXPECT_EQ(size.y, 1123);
    ASSERT_TRUE(doc.SelectPage(1));
    POINT later = {0, 0};
    ASSERT_TRUE(doc.GetPageSize(m_screen, &later));
    EXPECT_EQ(later.x, 1123);
    EXPECT_EQ(later.y, 794);
    EXPECT_EQ(DrawAndRead(doc, 1, 1123, 794, 1000, 700), scripted::PageColour("landscape"));
    ASSERT_TRUE(doc.SelectPage(0));
    ASSERT_TRUE(doc.GetPageSize(m_screen, &size));
    EXPECT_EQ(size.x, 794);
    EXPECT_EQ(CallsOf("GetExtent").size(), 2u) << "one measurement per page";
}

TEST_F(PageDrawTest, DrawPageSelectsAndDrawsTheRequestedPage)
{
    auto doc = Open("Draw.doc", 3);
    ASSERT_NE(doc, nullptr);
    POINT size;
    ASSERT_TRUE(doc->GetPageSize(m_screen, &size));
    for (int i : {0, 2, 1}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(DrawAndRead(*doc, i, size.x, size.y, 100, 100), scripted::PageColour("page " + std::to_string(i + 1)));
        EXPECT_EQ(doc->GetCurrentPage(), i);
    }
}

TEST_F(PageDrawTest, DrawingTheCurrentPageNeitherSplitsNorEmbedsAgain)
{
    auto doc = Open("Again.doc", 2);
    ASSERT_NE(doc, nullptr);
    DrawAndRead(*doc, 0, 794, 1123, 1, 1);
    scripted::ClearCalls();
    EXPECT_EQ(DrawAndRead(*doc, 0, 794, 1123, 1, 1), scripted::PageColour("page 1"));
    EXPECT_TRUE(CallsOf("Load").empty());
    EXPECT_TRUE(CallsOf("SaveAs").empty());
    EXPECT_EQ(CallsOf("Draw").size(), 1u);
}

// Another page is never drawn in place of the one asked for.
TEST_F(PageDrawTest, AnIndexPastTheCountDrawsNothing)
{
    auto doc = Open("Past.doc", 3);
    ASSERT_NE(doc, nullptr);
    ASSERT_TRUE(doc->SelectPage(1));
    POINT size;
    ASSERT_TRUE(doc->GetPageSize(m_screen, &size));
    for (int index : {3, 99, -1}) {
        SCOPED_TRACE(index);
        bool drawn = true;
        EXPECT_EQ(DrawAndRead(*doc, index, size.x, size.y, 10, 10, &drawn), RGB(1, 2, 3));
        EXPECT_FALSE(drawn);
        EXPECT_EQ(doc->GetCurrentPage(), 1);
    }
}

TEST_F(PageDrawTest, WithoutAnEmbeddedPageThereIsNoSizeAndNothingIsDrawn)
{
    scripted::TheScript().gotoFailFrom = 1;
    auto doc = Open("Empty.doc", 2);
    ASSERT_NE(doc, nullptr);
    POINT size = {int(0xdeadbeef), int(0xdeadbeef)};
    EXPECT_FALSE(doc->GetPageSize(m_screen, &size));
    bool drawn = true;
    EXPECT_EQ(DrawAndRead(*doc, 0, 50, 50, 5, 5, &drawn), RGB(1, 2, 3));
    EXPECT_FALSE(drawn);
}

TEST_F(PageDrawTest, TheDrawSourceOriginSelectsThePartShown)
{
    // The page is drawn on white, then the part from the source origin lands at the target.
    auto doc = Open("Part.doc", 1);
    ASSERT_NE(doc, nullptr);
    POINT size;
    ASSERT_TRUE(doc->GetPageSize(m_screen, &size));
    HDC dc = CreateCompatibleDC(m_screen);
    HBITMAP bm = CreateCompatibleBitmap(m_screen, 200, 200);
    HGDIOBJ old = SelectObject(dc, bm);
    RECT src = {size.x - 50, size.y - 50, 0, 0};
    RECT dst = {10, 10, 110, 110};
    ASSERT_TRUE(doc->DrawPage(0, dc, &src, &dst));
    EXPECT_EQ(GetPixel(dc, 20, 20), scripted::PageColour("page 1")); // inside the page
    EXPECT_EQ(GetPixel(dc, 80, 80), RGB(0, 0, 0)) << "beyond the page nothing is copied";
    EXPECT_EQ(GetPixel(dc, 5, 5), RGB(0, 0, 0)) << "outside the target nothing is drawn";
    SelectObject(dc, old);
    DeleteObject(bm);
    DeleteDC(dc);
}

TEST_F(PageDrawTest, APageTooLargeForABitmapIsNotReportedAsDrawn)
{
    m_path = Doc("Huge.doc", scripted::MakeDocument({"huge"}, 5000000, 5000000));
    CxWordDoc doc(m_util.get());
    ASSERT_TRUE(doc.Open(m_path.c_str()));
    POINT size;
    ASSERT_TRUE(doc.GetPageSize(m_screen, &size));
    EXPECT_GT(size.x, 100000);
    HDC dc = CreateCompatibleDC(m_screen);
    RECT r = {0, 0, 10, 10};
    EXPECT_FALSE(doc.DrawPage(0, dc, &r, &r));
    DeleteDC(dc);
}

// A split that cannot write its page document must not show the page of another document that
// left a file of the same name.
struct FailedSplitRow {
    const char* name;
    bool failOpen;
    bool failCopy;
    bool failSaveAs;
};

TEST_F(PageDrawTest, AFailedSplitDrawsNothingRatherThanAnOldPageDocument)
{
    const FailedSplitRow rows[] = {
        {"copy cannot be opened", true, false, false},
        {"page cannot be copied", false, true, false},
        {"page cannot be saved", false, false, true},
    };
    for (const FailedSplitRow& row : rows) {
        SCOPED_TRACE(row.name);
        auto doc = Open("Stale.doc", 3);
        ASSERT_NE(doc, nullptr);
        POINT size;
        ASSERT_TRUE(doc->GetPageSize(m_screen, &size));
        // Another document of the same name left its page 2.
        m_dir.Write("temp/Stale_temp_2.doc", scripted::MakeDocument({"someone else"}));
        scripted::TheScript().failDocumentsOpen = row.failOpen;
        scripted::TheScript().failCopy = row.failCopy;
        scripted::TheScript().failSaveAs = row.failSaveAs;
        scripted::ClearCalls();
        EXPECT_TRUE(doc->SelectPage(1));
        EXPECT_EQ(doc->GetCurrentPage(), 1);
        EXPECT_NE(access(TempFile("Stale_temp_2.doc").c_str(), 0), 0);
        if (row.failCopy) {
            EXPECT_TRUE(CallsOf("SaveAs").empty()) << "the copy is not saved without the page on it";
        }
        bool drawn = true;
        EXPECT_EQ(DrawAndRead(*doc, 1, size.x, size.y, 100, 100, &drawn), RGB(1, 2, 3));
        EXPECT_FALSE(drawn);
        scripted::TheScript() = scripted::Script();
    }
}

} // namespace

// A server that draws the document's own pages: nothing is split, saved or embedded; every page
// is counted, measured and drawn from the source's embedding.
TEST_F(PageDrawTest, APageViewDrawsPagesWithoutSplitting)
{
    scripted::TheScript().pageView = true;
    scripted::Page portrait, landscape, last;
    portrait.text = "portrait\n";
    landscape.cx = 29700;
    landscape.cy = 21000;
    landscape.text = "landscape\n";
    last.text = "last\n";
    m_path = Doc("View.doc", scripted::FormatDocument({portrait, landscape, last}));
    scripted::ClearCalls();
    CxWordDoc doc(m_util.get());
    ASSERT_TRUE(doc.Open(m_path.c_str()));
    EXPECT_TRUE(doc.HasPageView());
    EXPECT_EQ(doc.GetPageCount(), 3);
    const struct {
        int index;
        LONG w, h;
        const char* colour;
    } rows[] = {{1, 1123, 794, "landscape"}, {2, 794, 1123, "last"}, {0, 794, 1123, "portrait"}, {1, 1123, 794, "landscape"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.index);
        ASSERT_TRUE(doc.SelectPage(row.index));
        POINT size = {0, 0};
        ASSERT_TRUE(doc.GetPageSize(m_screen, &size));
        EXPECT_EQ(size.x, row.w);
        EXPECT_EQ(size.y, row.h);
        EXPECT_EQ(DrawAndRead(doc, row.index, size.x, size.y, size.x - 1, size.y - 1), scripted::PageColour(row.colour));
    }
    bool drawn = true;
    EXPECT_EQ(DrawAndRead(doc, 3, 50, 50, 5, 5, &drawn), RGB(1, 2, 3));
    EXPECT_FALSE(drawn);
    for (const char* member : {"Goto", "Copy", "Paste", "SaveAs", "Open", "Draw", "GetExtent"})
        EXPECT_TRUE(CallsOf(member).empty()) << member;
    EXPECT_EQ(CallsOf("Load").size(), 1u) << "only the source is embedded";
    EXPECT_EQ(CallsOf("DrawPrint").size(), 4u);
}

// Asked once after loading: a page view that does not serve the print aspect leaves the split.
TEST_F(PageDrawTest, APageViewWithoutThePrintAspectLeavesTheSplit)
{
    scripted::TheScript().pageViewRefusesPrint = true;
    auto doc = Open("Refused.doc", 2);
    ASSERT_NE(doc, nullptr);
    EXPECT_FALSE(doc->HasPageView());
    EXPECT_EQ(doc->GetPageCount(), 2);
    EXPECT_EQ(CallsOf("GetPrintExtent").size(), 1u);
    POINT size;
    ASSERT_TRUE(doc->GetPageSize(m_screen, &size));
    EXPECT_EQ(DrawAndRead(*doc, 1, size.x, size.y, 10, 10), scripted::PageColour("page 2"));
    EXPECT_FALSE(CallsOf("SaveAs").empty());
}

// The scripted server fails the test on a call the test did not script, naming it, instead of
// answering it quietly.
TEST_F(WordDocTest, AnUnscriptedCallFailsTheTestWithItsName)
{
    IOleObject* ole = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_WordDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                               reinterpret_cast<void**>(&ole)),
              S_OK);
    HRESULT hr = S_OK;
    EXPECT_NONFATAL_FAILURE(hr = ole->Update(), "unscripted call: Embedded.Update");
    EXPECT_EQ(hr, E_NOTIMPL);
    IViewObject* view = nullptr;
    ASSERT_EQ(ole->QueryInterface(IID_IViewObject, reinterpret_cast<void**>(&view)), S_OK);
    EXPECT_NONFATAL_FAILURE(view->Freeze(DVASPECT_CONTENT, -1, nullptr, nullptr), "unscripted call: Embedded.Freeze");
    view->Release();
    ole->Release();
}

// Word has no members for the fonts or its stored count: asked by name, they fail, and a
// document not open has nothing to ask.
TEST_F(WordDocTest, FontReportAndStoredCountFailWhereTheServerDoesNotAnswer)
{
    std::unique_ptr<CxWordDoc> doc = Open("Fonts.doc", 2);
    ASSERT_TRUE(doc);
    std::string json = "unchanged";
    EXPECT_FALSE(doc->GetFontReport(&json));
    EXPECT_EQ(json, "unchanged");
    EXPECT_EQ(doc->GetStoredPageCount(), -1);
    EXPECT_FALSE(doc->GetFontReport(nullptr));

    CxWordDoc closed(m_util.get());
    EXPECT_FALSE(closed.GetFontReport(&json));
    EXPECT_EQ(closed.GetStoredPageCount(), -1);
}
