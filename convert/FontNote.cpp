#include "convert/FontNote.h"

namespace convert {

namespace {
// More than this many replaced fonts end in "and N more": the line stays one line.
const size_t kNamedFonts = 3;
}  // namespace

bool PagesDiffer(int storedPages, int pageCount)
{
    return storedPages > 1 && pageCount > 0 && storedPages != pageCount;
}

std::string FontNote(const nlohmann::json& fonts, int storedPages, int pageCount)
{
    std::string replaced;
    size_t named = 0, more = 0;
    if (fonts.is_array()) {
        for (const nlohmann::json& f : fonts) {
            if (!f.is_object() || f.value("kind", "") != "substitute")
                continue;
            if (named == kNamedFonts) {
                ++more;
                continue;
            }
            replaced += (named++ ? ", " : "") + f.value("font", std::string("?")) + " -> " +
                        f.value("drawn_with", std::string("?"));
        }
    }
    std::string note;
    if (named) {
        note = "fonts replaced: " + replaced;
        if (more)
            note += " and " + std::to_string(more) + " more";
    }
    if (PagesDiffer(storedPages, pageCount))
        note += (note.empty() ? "" : "; ") + std::string("Word counted ") + std::to_string(storedPages) + " pages";
    return note;
}

}  // namespace convert
