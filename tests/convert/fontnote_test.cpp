// The note of a finished document's progress line: replaced fonts and Word's own page count.
#include "convert/FontNote.h"

#include <gtest/gtest.h>

using nlohmann::json;
using namespace convert;

TEST(FontNote, SaysWhatWasReplacedAndWhatWordCounted)
{
    auto font = [](const char* name, const char* kind, const char* drawn) {
        return json{{"font", name}, {"kind", kind}, {"drawn_with", drawn}, {"fallback", json::array()}};
    };
    const json mixed = json::array({font("Calibri", "metric", "Carlito"), font("Aptos", "substitute", "Carlito"),
                                    font("Arial", "same", "Arial"), font("Segoe UI", "substitute", "DejaVu Sans")});
    const json many = json::array({font("A", "substitute", "X"), font("B", "substitute", "X"),
                                   font("C", "substitute", "X"), font("D", "substitute", "X"),
                                   font("E", "substitute", "X")});
    struct Row {
        const char* what;
        json fonts;
        int stored;
        int pages;
        const char* expected;
    } rows[] = {
        {"substitutes only, not clones", mixed, 0, 3, "fonts replaced: Aptos -> Carlito, Segoe UI -> DejaVu Sans"},
        {"and Word's count", mixed, 4, 3,
         "fonts replaced: Aptos -> Carlito, Segoe UI -> DejaVu Sans; Word counted 4 pages"},
        {"Word's count alone", json::array({font("Calibri", "metric", "Carlito")}), 4, 3, "Word counted 4 pages"},
        {"the same count", mixed.at(0), 3, 3, ""},
        {"a stored 1 is often stale", json::array(), 1, 3, ""},
        {"no count", json::array(), 0, 3, ""},
        {"unknown count", json::array(), -1, 3, ""},
        {"no report", nullptr, 0, 3, ""},
        {"a long list is cut", many, 0, 1, "fonts replaced: A -> X, B -> X, C -> X and 2 more"},
        {"items that are no objects", json::array({1, "x", nullptr}), 0, 1, ""},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(FontNote(r.fonts, r.stored, r.pages), r.expected) << r.what;
        EXPECT_EQ(PagesDiffer(r.stored, r.pages), r.stored > 1 && r.stored != r.pages) << r.what;
    }
}
