// Classifying the engine's font mappings, and the report's JSON.
#include "FontReport.h"

#include "EmbeddedFonts.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace wordengine {

namespace {

// Word's fonts and the clones with the same advance widths that a Debian machine installs
// (fonts-crosextra-carlito, fonts-crosextra-caladea, fonts-liberation2): text drawn with them
// breaks into the same lines and pages as in Word.
const struct {
    const char* word;
    const char* clone;
} kMetricClones[] = {
    {"Calibri", "Carlito"},
    {"Cambria", "Caladea"},
    {"Arial", "Liberation Sans"},
    {"Helvetica", "Liberation Sans"},
    {"Times New Roman", "Liberation Serif"},
    {"Times", "Liberation Serif"},
    {"Courier New", "Liberation Mono"},
    {"Courier", "Liberation Mono"},
    {"Arial Narrow", "Liberation Sans Narrow"},
};

// Word keeps one alternative name with a font; the engine's interface lists a dozen.
const long kMaxAlternatives = 4;

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b)
{
    return SameFamily(a, b);  // family names compare without regard to ASCII case
}

bool Contains(const std::string& hay, const char* needle)
{
    std::string h, n(needle);
    for (char c : hay)
        h += Lower(c);
    for (char& c : n)
        c = Lower(c);
    return h.find(n) != std::string::npos;
}

}  // namespace

const char* FontKindName(FontKind k)
{
    switch (k) {
    case FontKind::Same: return "same";
    case FontKind::Metric: return "metric";
    case FontKind::Substitute: return "substitute";
    case FontKind::Embedded: return "embedded";
    }
    return "substitute";
}

const char* MetricCloneOf(const std::string& family)
{
    for (const auto& m : kMetricClones)
        if (SameName(family, m.word))
            return m.clone;
    return nullptr;
}

std::string FontFamilyOf(const std::string& name)
{
    // Style names have no slash; a family name might.
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(0, slash);
}

std::vector<FontReportItem> ClassifyFontUses(const std::vector<FontUse>& uses, const std::vector<std::string>& embedded)
{
    struct Family {
        std::string name;
        std::map<std::string, long long> first;  // first font's family -> layouts
        std::vector<std::string> others;         // fallback families, in the order met
    };
    // Keyed by the lower-case family so that "Calibri" and "calibri" are one font.
    std::map<std::string, Family> families;
    for (const FontUse& u : uses) {
        // A document's font may come with alternative names ("Futura Hv BT;Futura Md BT",
        // from a binary Word file): it is the first. A long list ("Segoe UI;Tahoma;Arial
        // Unicode MS;...") is the engine's own interface font, drawn while its hidden window
        // is made, not a font of the document.
        std::string name = FontFamilyOf(u.requested);
        if (std::count(name.begin(), name.end(), ';') >= kMaxAlternatives)
            continue;
        name = name.substr(0, name.find(';'));
        if (name.empty() || u.used.empty())
            continue;
        std::string key;
        for (char c : name)
            key += Lower(c);
        Family& f = families[key];
        if (f.name.empty())
            f.name = name;
        f.first[FontFamilyOf(u.used[0])] += std::max(u.count, 1);
        for (size_t i = 1; i < u.used.size(); ++i) {
            const std::string other = FontFamilyOf(u.used[i]);
            if (std::none_of(f.others.begin(), f.others.end(), [&](const std::string& o) { return SameName(o, other); }))
                f.others.push_back(other);
        }
    }
    std::vector<FontReportItem> items;
    for (auto& kv : families) {
        Family& f = kv.second;
        FontReportItem item;
        item.font = f.name;
        long long best = -1;
        for (const auto& c : f.first)
            if (c.second > best) {
                best = c.second;
                item.drawnWith = c.first;
            }
        // The first fonts of the less used mappings drew some of its text too.
        for (const auto& c : f.first)
            if (c.first != item.drawnWith &&
                std::none_of(f.others.begin(), f.others.end(), [&](const std::string& o) { return SameName(o, c.first); }))
                f.others.push_back(c.first);
        for (const std::string& o : f.others)
            if (!SameName(o, item.drawnWith))
                item.fallback.push_back(o);
        const char* clone = MetricCloneOf(item.font);
        if (SameName(item.drawnWith, item.font))
            item.kind = std::any_of(embedded.begin(), embedded.end(),
                                    [&](const std::string& e) { return SameName(e, item.font); })
                            ? FontKind::Embedded
                            : FontKind::Same;
        else if (clone && SameName(item.drawnWith, clone))
            item.kind = FontKind::Metric;
        else
            item.kind = FontKind::Substitute;
        items.push_back(std::move(item));
    }
    return items;
}

void CreditAlternatives(std::vector<FontUse>* uses, const std::vector<FontAlternative>& used)
{
    for (const FontAlternative& a : used) {
        uses->erase(std::remove_if(uses->begin(), uses->end(),
                                   [&](const FontUse& u) { return SameName(FontFamilyOf(u.requested), a.family); }),
                    uses->end());
        std::vector<FontUse> credited;
        for (const FontUse& u : *uses)
            if (SameName(FontFamilyOf(u.requested), a.alternative)) {
                FontUse c = u;
                const std::string style = u.requested.substr(FontFamilyOf(u.requested).size());
                c.requested = a.family + style;
                credited.push_back(std::move(c));
            }
        uses->insert(uses->end(), credited.begin(), credited.end());
    }
}

std::string JsonString(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

std::string FontReportJson(const std::vector<FontReportItem>& items)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        const FontReportItem& it = items[i];
        if (i)
            out += ", ";
        out += "{\"font\": " + JsonString(it.font) + ", \"kind\": \"" + FontKindName(it.kind) +
               "\", \"drawn_with\": " + JsonString(it.drawnWith) + ", \"fallback\": [";
        for (size_t k = 0; k < it.fallback.size(); ++k)
            out += (k ? ", " : "") + JsonString(it.fallback[k]);
        out += "]}";
    }
    return out + "]";
}

bool SavedByWord(const std::string& application)
{
    return Contains(application, "microsoft") && Contains(application, "word");
}

}  // namespace wordengine
