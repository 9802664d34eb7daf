// Which fonts drew a document, from what the engine's text layout recorded while the document
// loaded and laid out, and the page count the file says Word counted. No UNO here: the
// stand-in, pagesnap-batch and the tests share it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace wordengine {

// One mapping the engine's text layout made: the font asked for ("Family" or "Family/Style")
// and the fonts that drew the text, the first for the text and each further one for
// characters the ones before it lack (fallback levels); count: how many layouts mapped it so.
struct FontUse {
    std::string requested;
    std::vector<std::string> used;
    int count = 0;
};

enum class FontKind {
    Same,        // drawn with itself
    Metric,      // drawn with its metric-compatible clone (same widths, so the same lines)
    Substitute,  // drawn with another font
    Embedded,    // drawn with the face the document carries inside itself
};
const char* FontKindName(FontKind k);

// One requested font family of a document.
struct FontReportItem {
    std::string font;                   // the family asked for
    FontKind kind = FontKind::Same;
    std::string drawnWith;              // the family that drew most of its text
    std::vector<std::string> fallback;  // families that drew characters drawnWith lacks
};

// The metric-compatible clone the engine's installation offers for a Word font family
// (case-insensitive), or null.
const char* MetricCloneOf(const std::string& family);

// The family part of "Family/Style".
std::string FontFamilyOf(const std::string& name);

// One item per requested family, sorted by name; families drawn by several mappings are
// merged (the most used first font draws it, the other fonts of every mapping are fallback).
// `embedded`: the families the document brought faces of that the engine takes; one drawn
// with itself is Embedded.
std::vector<FontReportItem> ClassifyFontUses(const std::vector<FontUse>& uses,
                                             const std::vector<std::string>& embedded = {});

// The mappings as the report tells them when families were drawn as their alternatives (see
// AlternativesToUse): the engine first mapped such a family before it was replaced, and then
// its alternative. Each family is credited with what drew its alternative.
struct FontAlternative;
void CreditAlternatives(std::vector<FontUse>* uses, const std::vector<FontAlternative>& used);

// [{"font": ..., "kind": ..., "drawn_with": ..., "fallback": [...]}, ...] on one line.
std::string FontReportJson(const std::vector<FontReportItem>& items);

// A JSON string literal of UTF-8 text (quotes included).
std::string JsonString(const std::string& s);

// Whether the application a file names as its author is Microsoft Word ("Microsoft Office
// Word", "Microsoft Word 9.0", "Microsoft Macintosh Word", ...).
bool SavedByWord(const std::string& application);

}  // namespace wordengine

namespace wordengine {

// What a binary Word file's "\005SummaryInformation" property set says: the page count
// (PIDSI_PAGECOUNT) and the application that saved it (PIDSI_APPNAME, its 8-bit text read as
// Latin-1). False when the bytes are no property set; a value absent or damaged is left at 0
// or "". Every read is bounded by size: the bytes are the file's, untrusted.
bool ParseSummaryInformation(const unsigned char* data, size_t size, int* pages, std::string* application);

}  // namespace wordengine
