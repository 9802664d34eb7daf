// The mark of a document whose fonts were replaced or whose page count differs from Word's.
#include "app/FontMark.h"

#include <gtest/gtest.h>

TEST(FontMark, TextAndTooltip)
{
    const std::string report =
        R"([{"font": "Aptos", "kind": "substitute", "drawn_with": "Carlito", "fallback": []},)"
        R"( {"font": "Calibri", "kind": "metric", "drawn_with": "Carlito", "fallback": []},)"
        R"( {"font": "Segoe UI", "kind": "substitute", "drawn_with": "DejaVu Sans", "fallback": ["Noto Sans"]}])";
    const std::string clonesOnly = R"([{"font": "Arial", "kind": "metric", "drawn_with": "Liberation Sans"}])";
    struct Row {
        const char* what;
        std::string report;
        int stored, pages;
        const char* text;
        const char* tooltip;
    } rows[] = {
        {"replaced fonts", report, 0, 2, "\u26a0 Fonts replaced", "Fonts replaced:\nAptos \u2192 Carlito\nSegoe UI \u2192 DejaVu Sans"},
        {"and Word's count", report, 4, 2, "\u26a0 Fonts replaced; Word counted 4 pages",
         "Fonts replaced:\nAptos \u2192 Carlito\nSegoe UI \u2192 DejaVu Sans\nWord counted 4 pages"},
        {"Word's count alone", clonesOnly, 4, 2, "\u26a0 Word counted 4 pages", "Word counted 4 pages"},
        {"clones, the same count", clonesOnly, 2, 2, "", ""},
        {"a stored 1 says nothing", clonesOnly, 1, 3, "", ""},
        {"no report (Word itself)", "", -1, 3, "", ""},
        {"not a report", "{\"font\": 1}", 0, 3, "", ""},
    };
    for (const Row& r : rows) {
        const FontMark m = FontMarkOf(r.report, r.stored, r.pages);
        EXPECT_EQ(m.text.toStdString(), r.text) << r.what;
        EXPECT_EQ(m.tooltip.toStdString(), r.tooltip) << r.what;
        EXPECT_EQ(m.IsEmpty(), std::string(r.text).empty()) << r.what;
    }
}
