// The font report's classification and JSON, the test for Word as the saving application,
// and the summary property set decoder over good and damaged bytes (no engine).
#include <gtest/gtest.h>

#include "EmbeddedFonts.h"
#include "FontReport.h"

#include <cstdint>

using namespace wordengine;

namespace {

std::string Describe(const std::vector<FontReportItem>& items)
{
    std::string out;
    for (const FontReportItem& i : items) {
        out += i.font + ":" + FontKindName(i.kind) + ":" + i.drawnWith;
        for (const std::string& f : i.fallback)
            out += "+" + f;
        out += " ";
    }
    return out;
}

}  // namespace

TEST(FontReport, Classification)
{
    struct Row {
        const char* what;
        std::vector<FontUse> uses;
        const char* expected;
    } rows[] = {
        {"drawn with itself", {{"Liberation Serif", {"Liberation Serif/Regular"}, 3}},
         "Liberation Serif:same:Liberation Serif "},
        {"metric clones, any letter case",
         {{"Calibri", {"Carlito/Regular"}, 1}, {"cambria", {"Caladea/Bold"}, 1}, {"Arial Narrow", {"Liberation Sans Narrow"}, 1},
          {"Helvetica", {"Liberation Sans/Regular"}, 1}, {"Courier", {"Liberation Mono"}, 1}},
         "Arial Narrow:metric:Liberation Sans Narrow Calibri:metric:Carlito cambria:metric:Caladea "
         "Courier:metric:Liberation Mono Helvetica:metric:Liberation Sans "},
        {"not its clone: a substitute", {{"Calibri", {"DejaVu Sans/Book"}, 1}}, "Calibri:substitute:DejaVu Sans "},
        {"another font", {{"Aptos", {"Noto Sans/Regular"}, 2}}, "Aptos:substitute:Noto Sans "},
        {"styles merge into one family, the most used drawing font wins",
         {{"Arial/Bold", {"Liberation Sans/Bold"}, 5}, {"Arial", {"DejaVu Sans"}, 2}, {"Arial", {"Liberation Sans"}, 4}},
         "Arial:metric:Liberation Sans+DejaVu Sans "},
        {"fallback levels, once each and not the drawing font",
         {{"Calibri", {"Carlito", "Noto Sans CJK JP/Regular", "Carlito"}, 1}, {"Calibri", {"Carlito", "Noto Sans Arabic"}, 1}},
         "Calibri:metric:Carlito+Noto Sans CJK JP+Noto Sans Arabic "},
        {"a font with an alternative name is the first name",
         {{"Futura Hv BT;Futura Md BT", {"Noto Sans/Regular"}, 1}}, "Futura Hv BT:substitute:Noto Sans "},
        {"the engine's interface font list is no font of the document",
         {{"Segoe UI;Tahoma;Arial Unicode MS;Lucida Sans Unicode;DejaVu Sans;Albany AMT;Sans Serif", {"Noto Sans"}, 4}}, ""},
        {"nothing drawn, no name", {{"Empty", {}, 1}, {"", {"Noto Sans"}, 1}}, ""},
    };
    for (const Row& r : rows)
        EXPECT_EQ(Describe(ClassifyFontUses(r.uses)), r.expected) << r.what;
}

TEST(FontReport, Json)
{
    struct Row {
        std::vector<FontReportItem> items;
        const char* expected;
    } rows[] = {
        {{}, "[]"},
        {{{"Calibri", FontKind::Metric, "Carlito", {}}},
         R"([{"font": "Calibri", "kind": "metric", "drawn_with": "Carlito", "fallback": []}])"},
        {{{"A \"q\"\\", FontKind::Substitute, "B\n", {"C", "D\x01"}}, {"E", FontKind::Same, "E", {}}},
         R"([{"font": "A \"q\"\\", "kind": "substitute", "drawn_with": "B\n", "fallback": ["C", "D\u0001"]}, )"
         R"({"font": "E", "kind": "same", "drawn_with": "E", "fallback": []}])"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(FontReportJson(r.items), r.expected);
}

TEST(FontReport, SavedByWord)
{
    const struct {
        const char* application;
        bool word;
    } rows[] = {
        {"Microsoft Office Word", true},    {"Microsoft Word 9.0", true},        {"Microsoft Macintosh Word", true},
        {"MICROSOFT WORD 8.0", true},       {"Microsoft Office Outlook", false}, {"LibreOffice/7.4", false},
        {"WordPerfect", false},             {"", false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(SavedByWord(r.application), r.word) << r.application;
}

namespace {

void Put16(std::vector<unsigned char>& b, size_t at, uint32_t v)
{
    if (b.size() < at + 2)
        b.resize(at + 2);
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<unsigned char>& b, size_t at, uint32_t v)
{
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// A summary property set as Word writes one: header, one section at 48 with the page count
// (VT_I4) and the application (VT_LPSTR).
std::vector<unsigned char> SummarySet(int pages, const std::string& app)
{
    std::vector<unsigned char> b(48, 0);
    Put16(b, 0, 0xFFFE);
    Put32(b, 24, 1);
    Put32(b, 44, 48);
    const size_t s = 48;
    Put32(b, s + 4, 2);
    Put32(b, s + 8, 14);
    Put32(b, s + 12, 24);
    Put32(b, s + 16, 18);
    Put32(b, s + 20, 32);
    Put32(b, s + 24, 3);
    Put32(b, s + 28, uint32_t(pages));
    Put32(b, s + 32, 30);
    Put32(b, s + 36, uint32_t(app.size() + 1));
    for (size_t i = 0; i <= app.size(); ++i)
        Put16(b, s + 40 + i, i < app.size() ? uint8_t(app[i]) : 0);
    b.resize(s + 40 + app.size() + 1);
    Put32(b, s, uint32_t(b.size() - s));
    return b;
}

}  // namespace

TEST(FontReport, SummaryInformation)
{
    const std::vector<unsigned char> good = SummarySet(96, "Microsoft Word for Windows 95");
    struct Row {
        const char* what;
        std::vector<unsigned char> bytes;
        bool ok;
        int pages;
        const char* app;
    };
    std::vector<Row> rows = {
        {"as Word writes it", good, true, 96, "Microsoft Word for Windows 95"},
        {"Latin-1 text becomes UTF-8", SummarySet(3, "Microsoft Word \xe9"), true, 3, "Microsoft Word \xc3\xa9"},
        {"empty", {}, false, 0, ""},
        {"not a property set", std::vector<unsigned char>(good.begin() + 1, good.end()), false, 0, ""},
    };
    // Cut anywhere: never read past the end, values only when whole.
    for (size_t n : {size_t(20), size_t(47), size_t(60), size_t(75), size_t(79), size_t(85), good.size() - 1})
        rows.push_back({"cut", std::vector<unsigned char>(good.begin(), good.begin() + long(n)), n >= 56,
                        n >= 80 ? 96 : 0, ""});
    std::vector<unsigned char> far = good;
    Put32(far, 44, 0xFFFFFFF0u);
    rows.push_back({"section far past the end", far, false, 0, ""});
    std::vector<unsigned char> offsets = good;
    Put32(offsets, 48 + 12, 0xFFFFFFF0u);
    Put32(offsets, 48 + 20, 0x7FFFFFFFu);
    rows.push_back({"values far past the end", offsets, true, 0, ""});
    std::vector<unsigned char> longName = good;
    Put32(longName, 48 + 36, 0xFFFFFFFFu);
    rows.push_back({"a name longer than the bytes", longName, true, 96, ""});
    std::vector<unsigned char> many = good;
    Put32(many, 48 + 4, 0x10000000u);
    rows.push_back({"more properties than could fit", many, false, 0, ""});
    std::vector<unsigned char> negative = good;
    Put32(negative, 48 + 28, 0xFFFFFFFFu);
    rows.push_back({"a negative count", negative, true, 0, "Microsoft Word for Windows 95"});

    for (const Row& r : rows) {
        int pages = -1;
        std::string app = "x";
        const bool ok = ParseSummaryInformation(r.bytes.data(), r.bytes.size(), &pages, &app);
        EXPECT_EQ(ok, r.ok) << r.what << " (" << r.bytes.size() << " bytes)";
        EXPECT_EQ(pages, r.pages) << r.what << " (" << r.bytes.size() << " bytes)";
        if (r.ok || r.bytes.size() >= good.size()) {
            EXPECT_EQ(app, r.app) << r.what << " (" << r.bytes.size() << " bytes)";
        }
    }
}

// A family drawn with itself is "embedded" when the document brought a face of it the engine
// took; the document's claim alone, or a clone drawing it, is not.
TEST(FontReport, EmbeddedFamilies)
{
    struct Row {
        const char* what;
        std::vector<FontUse> uses;
        std::vector<std::string> embedded;
        const char* expected;
    } rows[] = {
        {"drawn with its carried face", {{"Zyxwvu Serif", {"Zyxwvu Serif/Regular"}, 2}}, {"zyxwvu serif"},
         "Zyxwvu Serif:embedded:Zyxwvu Serif "},
        {"carried but drawn with another", {{"Zyxwvu Serif", {"Noto Serif/Regular"}, 2}}, {"Zyxwvu Serif"},
         "Zyxwvu Serif:substitute:Noto Serif "},
        {"carried Word font drawn by its clone", {{"Calibri", {"Carlito/Regular"}, 1}}, {"Calibri"},
         "Calibri:metric:Carlito "},
        {"another family carried", {{"Liberation Serif", {"Liberation Serif"}, 1}}, {"Zyxwvu Serif"},
         "Liberation Serif:same:Liberation Serif "},
    };
    for (const Row& r : rows)
        EXPECT_EQ(Describe(ClassifyFontUses(r.uses, r.embedded)), r.expected) << r.what;
}

// A family drawn as its alternative is reported with what drew the alternative, not with the
// fallback the engine mapped it to before it was replaced; other fonts stay as they were.
TEST(FontReport, FamilyDrawnAsItsAlternative)
{
    std::vector<FontUse> uses = {
        {"Roboto", {"Noto Serif"}, 3},
        {"Roboto/Bold", {"Noto Serif/Bold"}, 1},
        {"Arial", {"Liberation Sans"}, 9},
        {"Arial/Bold", {"Liberation Sans/Bold"}, 2},
        {"Oswald", {"Noto Serif"}, 1},
    };
    CreditAlternatives(&uses, {FontAlternative{"Roboto", "Arial"}});
    const std::vector<FontReportItem> items = ClassifyFontUses(uses);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].font, "Arial");
    EXPECT_EQ(items[0].drawnWith, "Liberation Sans");
    EXPECT_EQ(items[1].font, "Oswald");
    EXPECT_EQ(items[1].drawnWith, "Noto Serif");
    EXPECT_EQ(items[2].font, "Roboto");
    EXPECT_EQ(items[2].drawnWith, "Liberation Sans");
    EXPECT_EQ(items[2].kind, FontKind::Substitute);
    EXPECT_TRUE(items[2].fallback.empty());
}
