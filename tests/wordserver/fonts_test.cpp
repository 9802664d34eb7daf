// The fonts Word documents ask for, as the engine draws them: each Word font with its
// metric-compatible clone or the program's stand-in, never with whatever the system falls back
// to. Pages of the same text are compared pixel for pixel.
#include <gtest/gtest.h>

#include "Engine.h"
#include "TempDir.h"
#include "WordServerTest.h"

#include <string>
#include <vector>

using namespace wstest;

namespace {

// The first page of a document as the engine exports it, drawn at 72 dpi; empty when it fails.
std::vector<uint32_t> FirstPage(Word& word, const std::string& src, const std::string& pdf)
{
    IDispatch* doc = word.Open(src);
    if (!doc)
        return {};
    const HRESULT hr = Call(doc, u"SaveAs", DISPATCH_METHOD, {Arg::Str(pdf)}, nullptr);
    Call(doc, u"Close", DISPATCH_METHOD, {}, nullptr);
    doc->Release();
    const std::string bytes = ReadWhole(pdf);
    wordengine::PdfBytes p;
    p.data.assign(bytes.begin(), bytes.end());
    std::vector<uint32_t> px;
    if (FAILED(hr) || !wordengine::RasterisePdfPage(p, 0, 595, 842, &px))
        px.clear();
    return px;
}

// The first page of a text whose every paragraph asks for `family`, drawn by the engine.
std::vector<uint32_t> PageInFont(Word& word, const TempDir& dir, const std::string& family)
{
    const std::string src = dir.Write("font.fodt", InFont(Fodt(Para("Figures, 1234567890. " + Lorem(160, 7))), family));
    return FirstPage(word, src, dir / "font.pdf");
}

// The first page of East Asian text (kana, ideographs, Hangul, with Latin words and digits among
// them) whose every character asks for `family`: the engine takes the font of ideographs from the
// Asian font setting, so a Latin page would never show that font.
std::vector<uint32_t> EastAsianPage(Word& word, const TempDir& dir, const std::string& family)
{
    std::string text;
    for (int i = 0; i < 12; ++i)
        text += "本仕様書の利用は、Creative Commons 4.0 ライセンスの下で許諾されます。"
                "开源合规计划第" + std::to_string(i) + "版。오픈소스 컴플라이언스 프로그램입니다. ";
    std::string body = Para(text, "CJK");
    const std::string src = dir.Write("cjk.fodt", Fodt(body, FontStyle("CJK", family)));
    return FirstPage(word, src, dir / "cjk.pdf");
}

// Where a .docx asks for its font: on the text itself, in the paragraph style, in the header.
enum class Asked { Run, Style, Header };

// A .docx of one page whose text asks for `family` (at `where`); its font table gives the family
// the alternative `alt` when there is one.
std::string DocxInFont(const std::string& family, const std::string& alt, Asked where)
{
    const std::string ns = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
                           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    const std::string pkg = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    const std::string ct = "application/vnd.openxmlformats-officedocument.wordprocessingml.";
    const std::string fonts = "<w:rPr><w:rFonts w:ascii=\"" + family + "\" w:hAnsi=\"" + family + "\"/></w:rPr>";
    std::string body;
    for (int i = 0; i < 6; ++i)
        body += std::string("<w:p><w:pPr><w:pStyle w:val=\"Body\"/></w:pPr><w:r>") + (where == Asked::Run ? fonts : "") +
                "<w:t>Figures, 1234567890. " + Lorem(60, i) + "</w:t></w:r></w:p>";
    const std::string header = "<w:hdr " + ns + "><w:p><w:r>" + fonts + "<w:t>Header of the page. " + Lorem(40, 9) +
                               "</w:t></w:r></w:p></w:hdr>";
    return StoredZip({
        {"[Content_Types].xml",
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/word/document.xml\" ContentType=\"" + ct + "document.main+xml\"/>"
         "<Override PartName=\"/word/styles.xml\" ContentType=\"" + ct + "styles+xml\"/>"
         "<Override PartName=\"/word/header1.xml\" ContentType=\"" + ct + "header+xml\"/>"
         "<Override PartName=\"/word/fontTable.xml\" ContentType=\"" + ct + "fontTable+xml\"/></Types>"},
        {"_rels/.rels", pkg + "<Relationship Id=\"rId1\" Type=\"" + rel + "officeDocument\" Target=\"word/document.xml\"/>"
                              "</Relationships>"},
        {"word/_rels/document.xml.rels",
         pkg + "<Relationship Id=\"rId1\" Type=\"" + rel + "fontTable\" Target=\"fontTable.xml\"/>"
               "<Relationship Id=\"rId2\" Type=\"" + rel + "styles\" Target=\"styles.xml\"/>"
               "<Relationship Id=\"rId3\" Type=\"" + rel + "header\" Target=\"header1.xml\"/></Relationships>"},
        {"word/document.xml", "<w:document " + ns + "><w:body>" + body +
                                  "<w:sectPr>" + (where == Asked::Header ? "<w:headerReference w:type=\"default\" r:id=\"rId3\"/>" : "") +
                                  "<w:pgSz w:w=\"11906\" w:h=\"16838\"/><w:pgMar w:top=\"1440\" w:right=\"1440\" "
                                  "w:bottom=\"1440\" w:left=\"1440\" w:header=\"708\" w:footer=\"708\"/></w:sectPr></w:body></w:document>"},
        {"word/header1.xml", header},
        {"word/styles.xml", "<w:styles " + ns + "><w:style w:type=\"paragraph\" w:styleId=\"Body\"><w:name w:val=\"Body\"/>" +
                                (where == Asked::Style ? fonts : "") + "</w:style></w:styles>"},
        {"word/fontTable.xml", "<w:fonts " + ns + "><w:font w:name=\"" + family + "\">" +
                                   (alt.empty() ? "" : "<w:altName w:val=\"" + alt + "\"/>") + "</w:font></w:fonts>"},
    });
}

std::vector<uint32_t> DocxPage(Word& word, const TempDir& dir, const std::string& family, const std::string& alt,
                               Asked where)
{
    static int n = 0;
    const std::string name = "alt" + std::to_string(++n);
    const std::string src = dir.Write(name + ".docx", DocxInFont(family, alt, where));
    return FirstPage(word, src, dir / (name + ".pdf"));
}

}  // namespace

// A family that is not installed is drawn as Word draws it, with the alternative its font table
// names, wherever the document asks for it; an installed family keeps its own face, and an
// alternative that is missing too changes nothing (converted after the document whose
// alternative was Arial, so that document left nothing behind in the engine either).
TEST(EngineFonts, MissingFamilyDrawnWithTheFontTablesAlternative)
{
    Word word;
    ASSERT_NE(word.docs, nullptr);
    TempDir dir;
    const struct {
        Asked where;
        const char* name;
    } places[] = {{Asked::Run, "text"}, {Asked::Style, "paragraph style"}, {Asked::Header, "header"}};
    const char* missing = "Folium Missing Family";
    for (const auto& p : places) {
        const std::vector<uint32_t> arial = DocxPage(word, dir, "Arial", "", p.where);
        const std::vector<uint32_t> fallback = DocxPage(word, dir, missing, "", p.where);
        ASSERT_FALSE(arial.empty()) << p.name;
        // Arial's clone is installed and is not what a missing family falls back to.
        ASSERT_NE(arial, fallback) << p.name;
        EXPECT_TRUE(DocxPage(word, dir, missing, "Arial", p.where) == arial)
            << p.name << ": a missing family is not drawn with its alternative Arial";
        EXPECT_TRUE(DocxPage(word, dir, missing, "Folium Missing Too", p.where) == fallback)
            << p.name << ": a missing alternative changed the page";
        EXPECT_TRUE(DocxPage(word, dir, "Carlito", "Arial", p.where) == DocxPage(word, dir, "Carlito", "", p.where))
            << p.name << ": an installed family was drawn with its alternative";
    }
}

TEST(EngineFonts, WordFontsAreDrawnWithTheirStandIns)
{
    Word word;
    ASSERT_NE(word.docs, nullptr);
    TempDir dir;
    const std::vector<uint32_t> carlito = PageInFont(word, dir, "Carlito");
    const std::vector<uint32_t> dejavu = PageInFont(word, dir, "DejaVu Sans");
    ASSERT_FALSE(carlito.empty());
    // Carlito is installed and is no fallback: otherwise every row below proves nothing.
    ASSERT_NE(carlito, dejavu);
    const struct {
        const char* word;
        const char* standIn;
    } rows[] = {
        {"Aptos", "Carlito"},           // the program's table
        {"Aptos Display", "Carlito"},   // the program's table
        {"Calibri Light", "Carlito"},   // the program's table
        {"inherit", "Liberation Serif"},  // the program's table: web pages' pasted text
        {"Calibri", "Carlito"},         // metric clone
        {"Cambria", "Caladea"},         // metric clone
        {"Arial", "Liberation Sans"},   // metric clone
        {"Times New Roman", "Liberation Serif"},
        {"Courier New", "Liberation Mono"},
    };
    for (const auto& r : rows) {
        const std::vector<uint32_t> asked = PageInFont(word, dir, r.word);
        ASSERT_FALSE(asked.empty()) << r.word;
        EXPECT_TRUE(asked == PageInFont(word, dir, r.standIn)) << r.word << " is not drawn with " << r.standIn;
        EXPECT_TRUE(asked != dejavu) << r.word << " falls back to DejaVu Sans";
    }
}

// Word's Japanese and Chinese fonts set full-width ideographs in lines of about 1.3 em (measured
// on Word's own PDFs); Noto CJK's lines are 1.45 em and lengthen East Asian documents by pages.
// Each Word family must reach its stand-in, and the stand-in must be installed (else it too
// would fall back, and its row would prove nothing).
TEST(EngineFonts, EastAsianWordFontsAreDrawnWithTheirStandIns)
{
    Word word;
    ASSERT_NE(word.docs, nullptr);
    TempDir dir;
    const std::vector<uint32_t> fallback = EastAsianPage(word, dir, "No Such Family Folium");
    ASSERT_FALSE(fallback.empty());
    const struct {
        const char* word;
        const char* standIn;
    } rows[] = {
        {"MS Gothic", "WenQuanYi Zen Hei Mono"},
        {"ＭＳ ゴシック", "WenQuanYi Zen Hei Mono"},
        {"MS Mincho", "WenQuanYi Zen Hei Mono"},
        {"ＭＳ 明朝", "WenQuanYi Zen Hei Mono"},
        {"MS PGothic", "WenQuanYi Zen Hei"},
        {"ＭＳ Ｐ明朝", "WenQuanYi Zen Hei"},
        {"SimSun", "WenQuanYi Zen Hei Mono"},
        {"宋体", "WenQuanYi Zen Hei Mono"},
        {"PMingLiU", "Noto Serif CJK TC"},
        {"Malgun Gothic", "Noto Sans CJK KR"},
        {"Batang", "Noto Serif CJK KR"},
    };
    for (const auto& r : rows) {
        const std::vector<uint32_t> standIn = EastAsianPage(word, dir, r.standIn);
        ASSERT_FALSE(standIn.empty()) << r.standIn;
        EXPECT_TRUE(standIn != fallback) << r.standIn << " is not installed: it falls back";
        EXPECT_TRUE(EastAsianPage(word, dir, r.word) == standIn) << r.word << " is not drawn with " << r.standIn;
    }
}
