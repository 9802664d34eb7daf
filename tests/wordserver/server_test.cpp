// The automation server against the real engine: the dispatch surface, positions, copy and
// paste, bad inputs, embedding, and the engine's lifetime (release, crash, hang, taskkill).
#include <gtest/gtest.h>

#include "TempDir.h"
#include "WordServerTest.h"

#include <oleclasses.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <fcntl.h>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

using namespace wstest;

namespace {

const DWORD kSentinel = 0xdeadbeef;

// Positions of this body as Word counts them: "Hello" 6, "World" 6, a 2 x 2 table of "rNcM"
// cells (5 each) with two row marks, "End" 4.
const char* const kSmallBody = "<text:p>Hello</text:p><text:p>World</text:p>";
std::string SmallBody()
{
    return std::string(kSmallBody) + Table(2, 2) + Para("End");
}
const LONG kSmallEnd = 6 + 6 + 4 * 5 + 2 + 4;

// pids the engine of this process listed, started between two readings.
std::vector<int> NewPids(const std::vector<int>& before)
{
    std::vector<int> now = ListedLivePids(), added;
    for (int p : now)
        if (std::find(before.begin(), before.end(), p) == before.end())
            added.push_back(p);
    return added;
}

// Range(start, end).Copy of a document, expected to succeed.
void CopyRange(IDispatch* doc, LONG start, LONG end)
{
    IDispatch* range = CallObject(doc, u"Range", {Arg::Long(start), Arg::Long(end)});
    ASSERT_NE(range, nullptr);
    EXPECT_EQ(Call(range, u"Copy", DISPATCH_METHOD, {}, nullptr), S_OK);
    range->Release();
}

// Range().Paste over the whole main text of a document, expected to succeed.
void PasteOverAll(IDispatch* doc)
{
    IDispatch* all = CallObject(doc, u"Range", {});
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(Call(all, u"Paste", DISPATCH_METHOD, {}, nullptr), S_OK);
    all->Release();
}

IDispatch* Goto(IDispatch* doc, LONG page, HRESULT* hr = nullptr)
{
    return CallObject(doc, u"Goto", {Arg::Long(1), Arg::Long(1), Arg::Long(page), Arg::Omitted()}, hr);
}

}  // namespace

// Member names are matched without regard to case; unknown names and wrong argument kinds
// are refused before anything reaches the engine.
TEST(WordServerDispatch, NamesAndArgumentChecks)
{
    Word word;
    ASSERT_NE(word.app, nullptr);
    ASSERT_NE(word.docs, nullptr);

    struct Row {
        IDispatch* obj;
        const char16_t* name;
        HRESULT expected;
    } rows[] = {
        {word.app, u"Documents", S_OK},  {word.app, u"DOCUMENTS", S_OK}, {word.app, u"documents", S_OK},
        {word.app, u"Quit", DISP_E_UNKNOWNNAME}, {word.app, u"Document", DISP_E_UNKNOWNNAME},
        {word.docs, u"open", S_OK},      {word.docs, u"OpEn", S_OK},     {word.docs, u"Add", DISP_E_UNKNOWNNAME},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.name, r.name + std::char_traits<char16_t>::length(r.name)).c_str());
        DISPID id = DISPID(kSentinel);
        LPOLESTR names[1] = {const_cast<LPOLESTR>(r.name)};
        EXPECT_EQ(r.obj->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), r.expected);
        if (r.expected == S_OK)
            EXPECT_GE(id, 0);
        else
            EXPECT_EQ(id, DISPID_UNKNOWN);
    }

    // Wrong kinds and counts for Open; none of them starts a load.
    EXPECT_EQ(Call(word.docs, u"Open", DISPATCH_METHOD, {Arg::Long(3)}, nullptr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Call(word.docs, u"Open", DISPATCH_METHOD, {}, nullptr), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(word.docs, u"Open", DISPATCH_METHOD, {Arg::Omitted()}, nullptr), DISP_E_PARAMNOTFOUND);
    // Documents is a property: read it, never call or write it.
    EXPECT_EQ(Call(word.app, u"Documents", DISPATCH_PROPERTYPUT, {Arg::Long(1)}, nullptr), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Call(word.app, u"Documents", DISPATCH_PROPERTYGET, {Arg::Long(1)}, nullptr), DISP_E_BADPARAMCOUNT);

    // A non-null interface id in GetIDsOfNames and Invoke is refused.
    DISPID id = 0;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(u"Documents")};
    EXPECT_EQ(word.app->GetIDsOfNames(IID_IDispatch, names, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(word.app->Invoke(1, IID_IDispatch, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    // An id that was never handed out.
    EXPECT_EQ(word.app->Invoke(777, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
}

// Positions, ranges and Goto on a small document converted to .docx by the engine.
TEST(WordServerDocument, PositionsRangesAndGoto)
{
    TempDir dir;
    Word word;
    std::string path = dir / "small.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), SmallBody(), path));
    IDispatch* doc = word.Open(path);
    ASSERT_NE(doc, nullptr);

    EXPECT_EQ(ContentEnd(doc), kSmallEnd);

    struct Row {
        std::vector<Arg> args;
        HRESULT hr;
        LONG start, end;
    } rows[] = {
        {{Arg::Long(6), Arg::Long(11)}, S_OK, 6, 11},
        {{Arg::Long(11), Arg::Long(6)}, S_OK, 6, 11},           // reversed bounds are ordered
        {{Arg::Long(-5), Arg::Long(100000)}, S_OK, 0, kSmallEnd},  // clamped to the text
        {{Arg::Long(12)}, S_OK, 12, kSmallEnd},                 // End omitted: the text's end
        {{Arg::Omitted(), Arg::Long(5)}, S_OK, 0, 5},
        {{Arg::Str("6"), Arg::Long(11)}, DISP_E_TYPEMISMATCH, -1, -1},
        {{Arg::Long(1), Arg::Long(2), Arg::Long(3)}, DISP_E_BADPARAMCOUNT, -1, -1},
    };
    for (size_t i = 0; i < sizeof rows / sizeof *rows; ++i) {
        SCOPED_TRACE(i);
        HRESULT hr;
        IDispatch* r = CallObject(doc, u"Range", rows[i].args, &hr);
        EXPECT_EQ(hr, rows[i].hr);
        if (rows[i].hr != S_OK) {
            EXPECT_EQ(r, nullptr);
            continue;
        }
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(GetLong(r, u"Start"), rows[i].start);
        EXPECT_EQ(GetLong(r, u"end"), rows[i].end);
        r->Release();
    }

    // One page: page 1 and any later number start at 0.
    for (LONG page : {1, 2, 50}) {
        SCOPED_TRACE(page);
        IDispatch* r = Goto(doc, page);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(GetLong(r, u"Start"), 0);
        r->Release();
    }
    EXPECT_EQ(CountPagesByGoto(doc), 1);
    HRESULT hr;
    // Only absolute page numbers from 1 are served.
    EXPECT_EQ(CallObject(doc, u"Goto", {Arg::Long(2), Arg::Long(1), Arg::Long(1), Arg::Omitted()}, &hr), nullptr);
    EXPECT_EQ(hr, DISP_E_EXCEPTION);
    EXPECT_EQ(Goto(doc, 0, &hr), nullptr);
    EXPECT_EQ(hr, DISP_E_EXCEPTION);
    EXPECT_EQ(CallObject(doc, u"Goto", {Arg::Long(1), Arg::Long(1), Arg::Str("x"), Arg::Omitted()}, &hr), nullptr);
    EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);

    // Close ends the document: later calls fail.
    EXPECT_EQ(Call(doc, u"Close", DISPATCH_METHOD, {}, nullptr), S_OK);
    EXPECT_EQ(Goto(doc, 1, &hr), nullptr);
    EXPECT_TRUE(FAILED(hr));
    doc->Release();
}

// Copy a range and paste it over the whole text of another document: the result holds
// exactly the range, with no empty paragraph left behind, in the format of its extension.
TEST(WordServerDocument, CopyPasteAndSaveAs)
{
    TempDir dir;
    Word word;
    std::string src = dir / "src.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), SmallBody(), src));
    std::string tmpl = dir / "template.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), Para(Lorem(400, 1)) + Para(Lorem(50, 2)), tmpl));

    struct Row {
        LONG start, end;
        const char* out;
        LONG expectedEnd;
    } rows[] = {
        {6, 12, "world.docx", 6},          // "World" and its mark
        {0, 12, "two.doc", 12},            // two paragraphs, Word 97 format
        {0, 6, "hello.rtf", 6},
        {0, kSmallEnd, "all.odt", kSmallEnd},
        // Ranges that begin or end inside the table take the rows they touch; a text that
        // ends with a table still ends with a paragraph mark after it.
        {6, 23, "into.docx", 6 + 11 + 1},      // "World", the first row
        {23, kSmallEnd, "outof.docx", 11 + 4}, // the second row, "End"
        {12, 23, "row.doc", 11 + 1},           // the first row alone
        {17, 28, "rows.docx", 22 + 1},         // from the second cell into the next row
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.out);
        IDispatch* source = word.Open(src);
        ASSERT_NE(source, nullptr);
        CopyRange(source, r.start, r.end);

        IDispatch* target = word.Open(tmpl);
        ASSERT_NE(target, nullptr);
        PasteOverAll(target);
        std::string out = dir / r.out;
        EXPECT_EQ(Call(target, u"SaveAs", DISPATCH_METHOD, {Arg::Str(out)}, nullptr), S_OK);
        Call(target, u"Close", DISPATCH_METHOD, {}, nullptr);
        target->Release();
        Call(source, u"Close", DISPATCH_METHOD, {}, nullptr);
        source->Release();

        IDispatch* back = word.Open(out);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(ContentEnd(back), r.expectedEnd);
        Call(back, u"Close", DISPATCH_METHOD, {}, nullptr);
        back->Release();
    }
    // The template itself was never written.
    IDispatch* t = word.Open(tmpl);
    ASSERT_NE(t, nullptr);
    EXPECT_GT(ContentEnd(t), 400);
    t->Release();

    // SaveAs wants a file name.
    IDispatch* s = word.Open(src);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(Call(s, u"SaveAs", DISPATCH_METHOD, {Arg::Long(1)}, nullptr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Call(s, u"SaveAs", DISPATCH_METHOD, {}, nullptr), DISP_E_BADPARAMCOUNT);
    // A path below a plain file cannot be written: a failed call.
    EXPECT_EQ(Call(s, u"SaveAs", DISPATCH_METHOD, {Arg::Str(src + "/x.docx")}, nullptr), DISP_E_EXCEPTION);
    s->Release();
}

// A file opened again after its whole text was replaced and it was closed unsaved reads as
// the file, whatever is asked of it first; a file changed on disk is read anew.
TEST(WordServerDocument, ReopenedFileReadsAsTheFile)
{
    TempDir dir;
    Word word;
    std::string src = dir / "src.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), SmallBody(), src));
    std::string tmpl = dir / "template.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), Para(Lorem(400, 1)) + Para("Last", "PBreak"), tmpl));
    IDispatch* first = word.Open(tmpl);
    ASSERT_NE(first, nullptr);
    const LONG fileEnd = ContentEnd(first);
    ASSERT_GT(fileEnd, 400);
    IDispatch* lastPage = Goto(first, 2);
    ASSERT_NE(lastPage, nullptr);
    const LONG lastStart = GetLong(lastPage, u"Start");
    lastPage->Release();
    Call(first, u"Close", DISPATCH_METHOD, {}, nullptr);
    first->Release();

    // Replaces the template's text by "Hello", leaves it unsaved, closed.
    auto pasteHello = [&]() {
        IDispatch* source = word.Open(src);
        ASSERT_NE(source, nullptr);
        CopyRange(source, 0, 6);
        source->Release();
        IDispatch* t = word.Open(tmpl);
        ASSERT_NE(t, nullptr);
        PasteOverAll(t);
        EXPECT_EQ(ContentEnd(t), 6);
        Call(t, u"Close", DISPATCH_METHOD, {}, nullptr);
        t->Release();
    };

    struct Row {
        const char* what;
        std::function<void(IDispatch*)> check;
    } rows[] = {
        {"end of the whole text", [&](IDispatch* t) { EXPECT_EQ(ContentEnd(t), fileEnd); }},
        {"goto", [&](IDispatch* t) {
             IDispatch* g = Goto(t, 2);
             ASSERT_NE(g, nullptr);
             EXPECT_EQ(GetLong(g, u"Start"), lastStart);
             g->Release();
         }},
        {"save", [&](IDispatch* t) {
             std::string out = dir / "saved.docx";
             EXPECT_EQ(Call(t, u"SaveAs", DISPATCH_METHOD, {Arg::Str(out)}, nullptr), S_OK);
             IDispatch* back = word.Open(out);
             ASSERT_NE(back, nullptr);
             EXPECT_EQ(ContentEnd(back), fileEnd);
             back->Release();
         }},
        {"paste over part", [&](IDispatch* t) {
             IDispatch* part = CallObject(t, u"Range", {Arg::Long(0), Arg::Long(0)});
             ASSERT_NE(part, nullptr);
             EXPECT_EQ(Call(part, u"Paste", DISPATCH_METHOD, {}, nullptr), S_OK);
             part->Release();
             EXPECT_EQ(ContentEnd(t), fileEnd + 6);
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        pasteHello();
        IDispatch* t = word.Open(tmpl);
        ASSERT_NE(t, nullptr);
        r.check(t);
        Call(t, u"Close", DISPATCH_METHOD, {}, nullptr);
        t->Release();
    }

    // The file changes on disk after a paste: the next open reads the new file.
    pasteHello();
    ASSERT_TRUE(MakeDocument(word, dir.Path(), Para("Short"), tmpl));
    IDispatch* t = word.Open(tmpl);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(ContentEnd(t), 6);
    IDispatch* g = Goto(t, 1);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(GetLong(g, u"Start"), 0);
    g->Release();
    t->Release();
}

// Content copied from a document stays pasteable after that document is closed, and replacing
// or dropping it later leaves the engine running.
TEST(WordServerDocument, CopiedContentOutlivesItsDocument)
{
    TempDir dir;
    Word word;
    struct Row {
        const char* name;
        std::string body;
    } rows[] = {
        {"picture.docx", Para(Lorem(40, 3)) + Image(10, 6) + Para(Lorem(30, 4))},
        {"table.doc", Para(Lorem(40, 5)) + Table(4, 3) + List(3)},
    };
    std::string tmpl = dir / "template.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), Para("Template"), tmpl));
    const std::vector<int> pids = ListedLivePids();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::string src = dir / r.name;
        ASSERT_TRUE(MakeDocument(word, dir.Path(), r.body, src));
        IDispatch* source = word.Open(src);
        ASSERT_NE(source, nullptr);
        const LONG end = ContentEnd(source);
        CopyRange(source, 0, end);
        EXPECT_EQ(Call(source, u"Close", DISPATCH_METHOD, {}, nullptr), S_OK);
        source->Release();

        IDispatch* t = word.Open(tmpl);
        ASSERT_NE(t, nullptr);
        PasteOverAll(t);
        EXPECT_EQ(ContentEnd(t), end);
        Call(t, u"Close", DISPATCH_METHOD, {}, nullptr);
        t->Release();
    }
    // The last content is replaced by a copy from the template, then the engine ends with it.
    IDispatch* t = word.Open(tmpl);
    ASSERT_NE(t, nullptr);
    CopyRange(t, 0, 3);
    t->Release();
    EXPECT_EQ(ListedLivePids(), pids);
}

// A copy that begins in the second row of a cell merged over two rows takes both columns of
// the rows it touches: the merged cell's part in the second row comes as an empty cell.
TEST(WordServerDocument, CopyFromRowsUnderAMergedCell)
{
    TempDir dir;
    Word word;
    const std::string cell = "<table:table-cell table:style-name=\"Cell\" office:value-type=\"string\"";
    const std::string table = "<table:table table:name=\"Merged\" table:style-name=\"Tab\">"
                              "<table:table-column table:number-columns-repeated=\"2\"/><table:table-row>" +
                              cell + " table:number-rows-spanned=\"2\"><text:p>a1</text:p></table:table-cell>" + cell +
                              "><text:p>b1</text:p></table:table-cell></table:table-row><table:table-row>"
                              "<table:covered-table-cell/>" + cell + "><text:p>b2</text:p></table:table-cell>"
                              "</table:table-row><table:table-row>" + cell + "><text:p>a3</text:p></table:table-cell>" +
                              cell + "><text:p>b3</text:p></table:table-cell></table:table-row></table:table>";
    std::string src = dir / "merged.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), Para("Top") + table + Para("End"), src));
    std::string tmpl = dir / "template.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), Para(Lorem(40, 3)), tmpl));

    IDispatch* source = word.Open(src);
    ASSERT_NE(source, nullptr);
    const LONG end = ContentEnd(source);
    // "Top" 4; row 1 "a1" "b1" 6 + 1; row 2 "b2" 3 + 1; row 3 "a3" "b3" 6 + 1; "End" 4.
    ASSERT_EQ(end, 4 + 7 + 4 + 7 + 4);
    CopyRange(source, 11, end);
    IDispatch* target = word.Open(tmpl);
    ASSERT_NE(target, nullptr);
    PasteOverAll(target);
    const LONG pasted = ContentEnd(target);
    // Row 2 an empty cell and "b2" 1 + 3 + 1; row 3 7; "End" 4.
    EXPECT_EQ(pasted, 5 + 7 + 4);
    Call(target, u"Close", DISPATCH_METHOD, {}, nullptr);
    target->Release();
    Call(source, u"Close", DISPATCH_METHOD, {}, nullptr);
    source->Release();
}

// Rows copied from below a table's repeating heading row come with that row above them, as
// the page they begin shows it; the source keeps its heading repeating.
TEST(WordServerDocument, CopyFromInsideATableWithAHeadingRow)
{
    TempDir dir;
    Word word;
    auto row = [](const std::string& a, const std::string& b) {
        const std::string cell = "<table:table-cell table:style-name=\"Cell\" office:value-type=\"string\"><text:p>";
        return "<table:table-row>" + cell + a + "</text:p></table:table-cell>" + cell + b +
               "</text:p></table:table-cell></table:table-row>";
    };
    const std::string table = "<table:table table:name=\"Headed\" table:style-name=\"Tab\">"
                              "<table:table-column table:number-columns-repeated=\"2\"/><table:table-header-rows>" +
                              row("h1", "h2") + "</table:table-header-rows>" + row("r1c1", "r1c2") +
                              row("r2c1", "r2c2") + row("r3c1", "r3c2") + "</table:table>";
    std::string src = dir / "headed.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), Para("Top") + table + Para("End"), src));
    std::string tmpl = dir / "template.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), Para(Lorem(40, 3)), tmpl));

    IDispatch* source = word.Open(src);
    ASSERT_NE(source, nullptr);
    // "Top" 4; heading 3 + 3 + 1; three rows 5 + 5 + 1; "End" 4.
    const LONG end = ContentEnd(source);
    ASSERT_EQ(end, 4 + 7 + 3 * 11 + 4);
    struct Row {
        LONG start;
        LONG pasted;
    } rows[] = {
        {4 + 7 + 11, 7 + 2 * 11 + 4},  // from the second row: the heading row comes along
        {4 + 7, 7 + 3 * 11 + 4},       // from the first row under it: the same
        {4, 7 + 3 * 11 + 4},           // from the heading row itself
        {0, end},                      // the whole text
        {4 + 7 + 11, 7 + 2 * 11 + 4},  // again: the source's heading row still repeats
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.start);
        CopyRange(source, r.start, end);
        IDispatch* target = word.Open(tmpl);
        ASSERT_NE(target, nullptr);
        PasteOverAll(target);
        EXPECT_EQ(ContentEnd(target), r.pasted);
        Call(target, u"Close", DISPATCH_METHOD, {}, nullptr);
        target->Release();
    }
    Call(source, u"Close", DISPATCH_METHOD, {}, nullptr);
    source->Release();
}

// Files the engine cannot or must not open fail quickly, with no question asked and no
// engine left behind; the next valid document still opens.
TEST(WordServerBadInput, FailedOpensLeaveNothingBehind)
{
    setenv("FOLIUM_ENGINE_TIMEOUT_MS", "20000", 1);  // a question waiting for a person would hang
    TempDir dir;
    std::vector<int> before = ListedLivePids();
    std::string good = dir / "good.docx";
    {
        Word word;
        ASSERT_TRUE(MakeDocument(word, dir.Path(), SmallBody(), good));
        std::string locked = dir / "locked.doc";
        ASSERT_TRUE(MakeDocument(word, dir.Path(), SmallBody(), locked, "secret"));
        ASSERT_TRUE(MakeDocument(word, dir.Path(), SmallBody(), dir / "locked.docx", "secret"));
        // The engine writes the password into the file: without it the file does not open.
        std::string bytes = ReadWhole(good);
        ASSERT_GT(bytes.size(), 200u);
        dir.Write("empty.docx", "");
        dir.Write("text.doc", "This is just text, not a Word document.\nSecond line.\n");
        dir.Write("truncated.docx", bytes.substr(0, bytes.size() / 2));

        const char* bad[] = {"missing.docx", "empty.docx", "text.doc", "truncated.docx", "locked.doc", "locked.docx"};
        for (const char* name : bad) {
            SCOPED_TRACE(name);
            HRESULT hr = S_OK;
            IDispatch* doc = word.Open(dir / name, &hr);
            EXPECT_EQ(doc, nullptr);
            EXPECT_TRUE(FAILED(hr));
            if (doc)
                doc->Release();
            // Embedding fails the same way.
            IUnknown* obj = reinterpret_cast<IUnknown*>(uintptr_t(kSentinel));
            std::u16string w = Wide(dir / name);
            hr = OleCreateFromFile(CLSID_NULL, w.c_str(), IID_IUnknown, OLERENDER_DRAW, nullptr, nullptr, nullptr,
                                   reinterpret_cast<void**>(&obj));
            EXPECT_TRUE(FAILED(hr));
            // Next valid document opens.
            IDispatch* ok = word.Open(good);
            EXPECT_NE(ok, nullptr);
            if (ok)
                ok->Release();
        }

        // Valid documents: one with no characters, and a path with spaces and non-ASCII letters.
        std::string emptyDoc = dir / "no characters.docx";
        ASSERT_TRUE(MakeDocument(word, dir.Path(), "<text:p/>", emptyDoc));
        IDispatch* e = word.Open(emptyDoc);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(ContentEnd(e), 1);
        EXPECT_EQ(CountPagesByGoto(e), 1);
        e->Release();
        std::string odd = dir / "Übersicht und Größe — été.docx";
        ASSERT_TRUE(MakeDocument(word, dir.Path(), SmallBody(), odd));
        IDispatch* o = word.Open(odd);
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(ContentEnd(o), kSmallEnd);
        o->Release();
        EXPECT_FALSE(NewPids(before).empty());  // the engine runs while referenced
    }
    // Everything released: the engine has ended.
    EXPECT_TRUE(NewPids(before).empty());
    unsetenv("FOLIUM_ENGINE_TIMEOUT_MS");
}

// Embedding: load, extent, drawing, and the Document behind IDispatch.
TEST(WordServerEmbedding, ExtentDrawAndDispatch)
{
    TempDir dir;
    Word word;
    std::string path = dir / "embed.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), "<text:p text:style-name=\"Heading\">Title</text:p>" + SmallBody(), path));

    ILockBytes* bytes = nullptr;
    ASSERT_EQ(CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes), S_OK);
    IStorage* stg = nullptr;
    ASSERT_EQ(StgCreateDocfileOnILockBytes(bytes, 0x1012, 0, &stg), S_OK);
    IOleObject* ole = nullptr;
    std::u16string w = Wide(path);
    ASSERT_EQ(OleCreateFromFile(CLSID_NULL, w.c_str(), IID_IOleObject, OLERENDER_DRAW, nullptr, nullptr, stg,
                                reinterpret_cast<void**>(&ole)),
              S_OK);
    EXPECT_EQ(OleRun(ole), S_OK);

    SIZEL size = {LONG(kSentinel), LONG(kSentinel)};
    EXPECT_EQ(ole->GetExtent(DVASPECT_ICON, &size), DV_E_DVASPECT);
    EXPECT_EQ(size.cx, LONG(kSentinel));
    EXPECT_EQ(ole->GetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_NEAR(size.cx, 21000, 2);  // A4 in HIMETRIC
    EXPECT_NEAR(size.cy, 29700, 2);

    IDispatch* disp = nullptr;
    ASSERT_EQ(ole->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)), S_OK);
    EXPECT_EQ(ContentEnd(disp), 6 + kSmallEnd);
    disp->Release();

    // Draw at 96 dpi into a white bitmap: the margins stay white, the title is dark.
    const int W = 794, H = 1123;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, W, H);
    HGDIOBJ old = SelectObject(mem, bmp);
    RECT r = {0, 0, W, H};
    FillRect(mem, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    EXPECT_EQ(OleDraw(ole, DVASPECT_CONTENT, mem, &r), S_OK);
    std::vector<uint32_t> px(size_t(W) * H);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = W;
    bi.bmiHeader.biHeight = -H;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    SelectObject(mem, old);
    ASSERT_EQ(GetDIBits(mem, bmp, 0, H, px.data(), &bi, DIB_RGB_COLORS), H);
    auto dark = [&](int x0, int y0, int x1, int y1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                n += (px[size_t(y) * W + x] & 0xff) < 128;
        return n;
    };
    EXPECT_EQ(dark(0, 0, 60, H), 0);           // left margin (2 cm = 75 px)
    EXPECT_EQ(dark(W - 60, 0, W, H), 0);       // right margin
    EXPECT_GT(dark(75, 90, 400, 200), 50);     // header and title near the top
    EXPECT_GT(dark(75, H - 80, 400, H - 40), 5);  // footer page number

    // Zero-sized bounds draw nothing; a foreign aspect is refused.
    RECT empty = {10, 10, 10, 50};
    EXPECT_EQ(OleDraw(ole, DVASPECT_CONTENT, mem, &empty), S_OK);
    IViewObject* view = nullptr;
    ASSERT_EQ(ole->QueryInterface(IID_IViewObject, reinterpret_cast<void**>(&view)), S_OK);
    RECTL rl = {0, 0, 10, 10};
    EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, mem, &rl, nullptr, nullptr, 0), DV_E_DVASPECT);
    view->Release();

    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    ole->Release();
    stg->Release();
    bytes->Release();
}

// A dead engine turns into failed calls, and the next Open starts a fresh one.
TEST(WordServerLifetime, CrashedEngineIsReplaced)
{
    TempDir dir;
    std::vector<int> before = ListedLivePids();
    Word word;
    std::string path = dir / "a.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), SmallBody(), path));
    IDispatch* doc = word.Open(path);
    ASSERT_NE(doc, nullptr);
    std::vector<int> pids = NewPids(before);
    ASSERT_EQ(pids.size(), 1u);
    kill(pids[0], SIGKILL);

    HRESULT hr = S_OK;
    EXPECT_EQ(Goto(doc, 1, &hr), nullptr);
    EXPECT_EQ(hr, RPC_E_DISCONNECTED);
    EXPECT_EQ(Call(doc, u"SaveAs", DISPATCH_METHOD, {Arg::Str(dir / "x.docx")}, nullptr), RPC_E_DISCONNECTED);
    doc->Release();

    IDispatch* again = word.Open(path);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(ContentEnd(again), kSmallEnd);
    std::vector<int> now = NewPids(before);
    ASSERT_EQ(now.size(), 1u);
    EXPECT_NE(now[0], pids[0]);
    again->Release();
}

// A hung engine: the call fails once its limit passes, the engine is ended, and the next
// Open works.
TEST(WordServerLifetime, HungEngineTimesOut)
{
    TempDir dir;
    std::vector<int> before = ListedLivePids();
    Word word;
    std::string path = dir / "a.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), SmallBody(), path));
    IDispatch* doc = word.Open(path);
    ASSERT_NE(doc, nullptr);
    std::vector<int> pids = NewPids(before);
    ASSERT_EQ(pids.size(), 1u);

    setenv("FOLIUM_ENGINE_TIMEOUT_MS", "1500", 1);
    kill(pids[0], SIGSTOP);
    HRESULT hr = S_OK;
    EXPECT_EQ(Goto(doc, 1, &hr), nullptr);
    EXPECT_EQ(hr, RPC_E_TIMEOUT);
    EXPECT_FALSE(PidAlive(pids[0]));
    unsetenv("FOLIUM_ENGINE_TIMEOUT_MS");
    doc->Release();

    IDispatch* again = word.Open(path);
    ASSERT_NE(again, nullptr);
    IDispatch* r = Goto(again, 1);
    EXPECT_NE(r, nullptr);
    if (r)
        r->Release();
    again->Release();
}

namespace {

// Another program with an engine of its own (wordserver_engine_holder beside this one).
struct OtherProgram {
    pid_t pid = 0;
    int in = -1;          // closing it ends the program
    int enginePid = 0;
    explicit OtherProgram(const std::string& doc)
    {
        char exe[4096];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0)
            return;
        exe[n] = 0;
        std::string holder(exe);
        holder.resize(holder.rfind('/'));
        holder += "/wordserver_engine_holder";
        int toChild[2], fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            execl(holder.c_str(), holder.c_str(), doc.c_str(), (char*)nullptr);
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        in = toChild[1];
        FILE* out = fdopen(fromChild[0], "r");
        if (out) {
            if (fscanf(out, "%d", &enginePid) != 1)
                enginePid = 0;
            fclose(out);
        }
    }
    ~OtherProgram()
    {
        if (in >= 0)
            close(in);
        int status;
        if (pid > 0)
            waitpid(pid, &status, 0);
    }
};

std::string ProgramFolder()
{
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return std::string();
    exe[n] = 0;
    std::string folder(exe);
    folder.resize(folder.rfind('/'));
    return folder;
}

}  // namespace

// "taskkill -F -IM winword.exe" ends exactly the engines this program started; another
// program's engine in the same list lives on, and so does its entry. Another image name
// kills nothing.
TEST(WordServerLifetime, TaskkillEndsListedEngines)
{
    TempDir dir;
    std::vector<int> before = ListedLivePids();
    Word word;
    std::string path = dir / "a.docx";
    ASSERT_TRUE(MakeDocument(word, dir.Path(), SmallBody(), path));
    IDispatch* doc = word.Open(path);
    ASSERT_NE(doc, nullptr);
    std::vector<int> pids = NewPids(before);
    ASSERT_EQ(pids.size(), 1u);
    OtherProgram other(path);
    ASSERT_GT(other.enginePid, 0);
    ASSERT_TRUE(PidAlive(other.enginePid));

    std::string taskkill = ProgramFolder() + "/taskkill";
    EXPECT_NE(system((taskkill + " -F -IM notepad.exe >/dev/null 2>&1").c_str()), 0);
    EXPECT_TRUE(PidAlive(pids[0]));
    EXPECT_EQ(system((taskkill + " -F -IM WINWORD.EXE >/dev/null 2>&1").c_str()), 0);
    for (int i = 0; i < 100 && PidAlive(pids[0]); ++i)
        usleep(20000);  // SIGKILL is delivered asynchronously; reaping follows the next call
    HRESULT hr = S_OK;
    EXPECT_EQ(Goto(doc, 1, &hr), nullptr);
    EXPECT_EQ(hr, RPC_E_DISCONNECTED);
    EXPECT_FALSE(PidAlive(pids[0]));
    EXPECT_TRUE(NewPids(before).empty());
    doc->Release();

    // The other program's engine and its entry are untouched; a second run finds nothing of
    // this program's to end.
    EXPECT_TRUE(PidAlive(other.enginePid));
    const char* rt = getenv("XDG_RUNTIME_DIR");
    std::string list = ReadWhole(std::string(rt) + "/folium-engine-" + std::to_string(getuid()) + ".pids");
    EXPECT_EQ(list.compare(0, std::to_string(other.enginePid).size() + 1, std::to_string(other.enginePid) + " "), 0)
        << list;
    EXPECT_NE(system((taskkill + " -F -IM winword.exe >/dev/null 2>&1").c_str()), 0);
    EXPECT_TRUE(PidAlive(other.enginePid));
}
