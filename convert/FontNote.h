// The short note a finished document's progress line gets about its fonts and pages.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace convert {

// "fonts replaced: Aptos -> DejaVu Sans, Segoe UI -> DejaVu Sans; Word counted 4 pages", or
// "" when there is nothing to say. fonts: the engine's report (an array of {"font", "kind",
// "drawn_with", ...}, anything else says nothing); only fonts drawn with another font than
// their own or its metric clone are replaced. storedPages: Word's count (0 or less: none);
// a stored 1 is often stale and says nothing.
std::string FontNote(const nlohmann::json& fonts, int storedPages, int pageCount);

// Whether Word's stored count disagrees with the pages converted (only a count above 1).
bool PagesDiffer(int storedPages, int pageCount);

}  // namespace convert
