// Page starts through Goto against the engine's own layout, for pages whose start the page
// cursor does not give: endnote pages, pages inserted blank, pages that begin inside a table
// with a repeated heading row or with a content control.
#include <gtest/gtest.h>

#include "TempDir.h"
#include "WordServerTest.h"

#include "Engine.h"

#include <cstdio>
#include <cstring>

using namespace wstest;

namespace {

IDispatch* Goto(IDispatch* doc, LONG page)
{
    return CallObject(doc, u"Goto", {Arg::Long(1), Arg::Long(1), Arg::Long(page), Arg::Omitted()});
}

LONG PageStart(IDispatch* doc, LONG page)
{
    IDispatch* r = Goto(doc, page);
    if (!r)
        return -1;
    LONG s = GetLong(r, u"Start");
    r->Release();
    return s;
}

std::string Endnote(int i, int words)
{
    return "<text:note text:id=\"en" + std::to_string(i) + "\" text:note-class=\"endnote\"><text:note-citation>" +
           std::to_string(i) + "</text:note-citation><text:note-body><text:p>" + Lorem(words, 100 + i) +
           "</text:p></text:note-body></text:note>";
}

// Endnotes go on pages of their own after the text; no position of the main text is there.
std::string EndnotesBody()
{
    return Para("Noted" + Endnote(1, 30) + " text. " + Lorem(120, 60)) + Para(Lorem(150, 61)) +
           Para("More" + Endnote(2, 40) + " text. " + Lorem(150, 62)) + Para(Lorem(150, 63));
}

// Endnotes too long for the page the text ends on: a .docx sets its endnotes after the text as
// Word does (LibreOffice 25.2; earlier versions gave them pages of their own), so they fill
// the next page alone.
std::string LongEndnotesBody()
{
    return Para("Noted" + Endnote(1, 500) + " text. " + Lorem(120, 64)) + Para(Lorem(150, 65)) +
           Para("More" + Endnote(2, 300) + " text. " + Lorem(100, 66));
}

// An odd page number after page 1: the layout puts a blank page between.
std::string BlankPageBody()
{
    return Para("First page. " + Lorem(80, 70)) + Para("Third page. " + Lorem(80, 71), "PRestart3") +
           Para(Lorem(80, 72));
}

std::string HeadedTableBody()
{
    return Para("Before the table. " + Lorem(60, 80)) + HeadedTable(90) + Para("After the table. " + Lorem(60, 81));
}

const char* const kFirstPage = "First page.";

// The second page begins with a paragraph that is one content control.
std::string ControlBody()
{
    return Para(kFirstPage) +
           "<text:p text:style-name=\"PBreak\"><loext:content-control "
           "xmlns:loext=\"urn:org:documentfoundation:names:experimental:office:xmlns:loext:1.0\">Rich text"
           "</loext:content-control></text:p>\n" +
           Para(Lorem(40, 90));
}

int PdfPages(IDispatch* doc, const std::string& pdfPath)
{
    if (Call(doc, u"SaveAs", DISPATCH_METHOD, {Arg::Str(pdfPath)}, nullptr) != S_OK)
        return -1;
    std::string bytes = ReadWhole(pdfPath);
    wordengine::PdfBytes pdf;
    pdf.data.assign(bytes.begin(), bytes.end());
    return wordengine::PdfPageCount(pdf);
}

}  // namespace

// Every page of the layout has a start of its own, later than the page before it, so that
// counting pages through Goto gives the layout's count; past the last page Goto gives the
// last page's start.
TEST(WordServerPages, EveryPageOfTheLayoutHasItsOwnStart)
{
    TempDir dir;
    struct Case {
        const char* name;
        std::string body;
        int minPages;        // what the layout is built to give at least
        LONG secondStart;    // exact start of page 2 where known, else -1
    } cases[] = {
        {"endnotes.docx", LongEndnotesBody(), 2, -1},
        {"endnotes.odt", EndnotesBody(), 2, -1},
        {"blank.odt", BlankPageBody(), 2, -1},
        {"blank.docx", BlankPageBody(), 2, -1},
        {"headed.docx", HeadedTableBody(), 3, -1},
        {"headed.doc", HeadedTableBody(), 3, -1},
        {"control.docx", ControlBody(), 2, LONG(strlen(kFirstPage)) + 1},
        {"control.odt", ControlBody(), 2, LONG(strlen(kFirstPage)) + 1},
    };
    Word word;
    ASSERT_NE(word.docs, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir / c.name;
        ASSERT_TRUE(MakeDocument(word, dir.Path(), c.body, path));
        IDispatch* doc = word.Open(path);
        ASSERT_NE(doc, nullptr);
        const int pdfPages = PdfPages(doc, path + ".pdf");
        EXPECT_GE(pdfPages, c.minPages);
        std::vector<LONG> starts;
        for (int p = 1; p <= pdfPages + 1; ++p)
            starts.push_back(PageStart(doc, p));
        std::string list;
        for (LONG s : starts)
            list += " " + std::to_string(s);
        printf("%s: %d pages, starts%s\n", c.name, pdfPages, list.c_str());
        EXPECT_EQ(starts[0], 0);
        for (int p = 1; p < pdfPages; ++p) {
            SCOPED_TRACE(p + 1);
            EXPECT_GT(starts[size_t(p)], starts[size_t(p) - 1]);
            EXPECT_LE(starts[size_t(p)], ContentEnd(doc));
        }
        EXPECT_EQ(starts[size_t(pdfPages)], starts[size_t(pdfPages) - 1]);
        EXPECT_EQ(CountPagesByGoto(doc), pdfPages);
        if (c.secondStart >= 0 && pdfPages >= 2) {
            EXPECT_EQ(starts[1], c.secondStart);
        }
        Call(doc, u"Close", DISPATCH_METHOD, {}, nullptr);
        doc->Release();
    }
}
