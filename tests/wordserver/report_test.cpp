// The stand-in's own members against the real engine: the fonts a document was drawn with
// and the page count its file says Word counted, through the automation object and through
// the Word layer's embedding.
#include <gtest/gtest.h>

#include "TempDir.h"
#include "WordServerTest.h"
#include "app/OptionSettings.h"
#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>

using namespace wstest;
using nlohmann::json;

namespace {

std::string Text(IDispatch* obj, const char16_t* name, HRESULT* hr)
{
    VARIANT v;
    VariantInit(&v);
    *hr = Call(obj, name, DISPATCH_PROPERTYGET, {}, &v);
    std::string out;
    if (*hr == S_OK && v.vt == VT_BSTR)
        for (UINT i = 0; i < SysStringLen(v.bstrVal); ++i)
            out += char(v.bstrVal[i] < 0x80 ? v.bstrVal[i] : '?');
    VariantClear(&v);
    return out;
}

class Fonts : public ::testing::Test {
protected:
    void SetUp() override
    {
        temp = dir / "temp/";
        mkdir(temp.c_str(), 0700);
        snprintf(OptionSettings.TempPath, sizeof OptionSettings.TempPath, "%s", temp.c_str());
        CxWordUtil::SetTempFolder(OptionSettings.TempPath, sizeof OptionSettings.TempPath);
    }
    TempDir dir;
    std::string temp;
};

}  // namespace

// A document asking for Aptos (not on the machine), Calibri (its clone Carlito is) and a font
// no machine has: each is named with its kind and the font that drew it, alike through the
// automation object and the embedding, and again for a second document of the same fonts
// after the engine's caches hold them.
TEST_F(Fonts, ReportNamesEachFontWithItsKindAndDrawingFont)
{
    const std::string styles =
        FontStyle("FAptos", "Aptos") + FontStyle("FCalibri", "Calibri") + FontStyle("FZzyzx", "Zzyzx Sans");
    Word word;
    ASSERT_NE(word.docs, nullptr);
    CxWordUtil util;
    struct Row {
        const char* font;
        const char* kind;
        const char* drawnWith;  // null: any font but itself
    } rows[] = {
        {"Calibri", "metric", "Carlito"},
        {"Aptos", "substitute", nullptr},
        {"Zzyzx Sans", "substitute", nullptr},
    };
    for (const char* name : {"first.docx", "second.docx"}) {
        const std::string path = dir / name;
        const std::string body = Para(std::string(name) + " in Aptos.", "FAptos") +
                                 Para("Calibri text " + Lorem(30, 2), "FCalibri") + Para("Zzyzx text.", "FZzyzx");
        ASSERT_TRUE(MakeDocument(word, dir.Path(), body, path, "", styles)) << name;

        IDispatch* doc = word.Open(path);
        ASSERT_NE(doc, nullptr) << name;
        HRESULT hr = E_FAIL;
        const std::string byName = Text(doc, u"fontREPORT", &hr);
        EXPECT_EQ(hr, S_OK) << name;
        Call(doc, u"Close", DISPATCH_METHOD, {}, nullptr);
        doc->Release();

        CxWordDoc embedded(&util);
        ASSERT_TRUE(embedded.Open(path.c_str())) << name;
        std::string byEmbedding;
        EXPECT_TRUE(embedded.GetFontReport(&byEmbedding)) << name;
        EXPECT_EQ(byEmbedding, byName) << name << ": the embedding answers as the automation object";

        const json report = json::parse(byName, nullptr, false);
        ASSERT_TRUE(report.is_array()) << name << ": " << byName;
        for (const Row& r : rows) {
            SCOPED_TRACE(std::string(name) + ", " + r.font + " in " + byName);
            const json* item = nullptr;
            for (const json& i : report)
                if (i.value("font", "") == r.font)
                    item = &i;
            ASSERT_NE(item, nullptr) << "not reported";
            EXPECT_EQ(item->value("kind", ""), r.kind);
            const std::string drawn = item->value("drawn_with", "");
            if (r.drawnWith)
                EXPECT_EQ(drawn, r.drawnWith);
            else
                EXPECT_TRUE(!drawn.empty() && drawn != r.font) << drawn;
            EXPECT_TRUE(item->contains("fallback") && (*item)["fallback"].is_array());
        }
    }
}

// Word's count where the file's app.xml says Word saved it (a stored 1 too: it is told, not
// judged), 0 where another application saved it or the file says nothing; the engine's own
// files record their count but are not Word's. Through the automation object and, for each
// row, the Word layer's embedding.
TEST_F(Fonts, StoredPageCountOnlyFromWord)
{
    Word word;
    ASSERT_NE(word.docs, nullptr);
    CxWordUtil util;
    struct Row {
        const char* name;
        const char* application;  // "" : no app.xml; null: the engine writes the file
        int pages;
        int expected;
    } rows[] = {
        {"word.docx", "Microsoft Office Word", 4, 4},
        {"word-one.docx", "Microsoft Office Word", 1, 1},
        {"mac.docx", "Microsoft Macintosh Word", 12, 12},
        {"other.docx", "LibreOffice/7.4.7.2$Linux_X86_64 LibreOffice_project/40$Build-2", 4, 0},
        {"outlook.docx", "Microsoft Office Outlook", 4, 0},
        {"none.docx", "", 0, 0},
        {"engine.docx", nullptr, 0, 0},
        {"engine.doc", nullptr, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string path = dir / r.name;
        if (r.application)
            ASSERT_TRUE(WriteDocx(path, {"One short page."}, r.application, r.pages));
        else
            ASSERT_TRUE(MakeDocument(word, dir.Path(), Para("One short page.") + Para("Two", "PBreak"), path));
        IDispatch* doc = word.Open(path);
        ASSERT_NE(doc, nullptr);
        EXPECT_EQ(GetLong(doc, u"StoredPageCount"), r.expected);
        Call(doc, u"Close", DISPATCH_METHOD, {}, nullptr);
        doc->Release();

        CxWordDoc embedded(&util);
        ASSERT_TRUE(embedded.Open(path.c_str()));
        EXPECT_EQ(embedded.GetStoredPageCount(), r.expected);
    }
}

// A real Word 95 file whose summary says 96 pages (when the corpus of real files is here).
TEST_F(Fonts, StoredPageCountOfABinaryWordFile)
{
    const std::string path = std::string(FOLIUM_CORPUS_DIR) + "/Bug50955.doc";
    struct stat sb;
    if (stat(path.c_str(), &sb) != 0)
        GTEST_SKIP() << path << " is not here";
    CxWordUtil util;
    CxWordDoc doc(&util);
    ASSERT_TRUE(doc.Open(path.c_str()));
    EXPECT_EQ(doc.GetStoredPageCount(), 96);
}
