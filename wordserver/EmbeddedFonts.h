// Fonts a .docx carries inside itself (word/fonts/*.odttf, listed in its font table), and
// whether the engine draws with them. No UNO here: the engine reads the parts, this decides.
// Every part is the document's, untrusted: all reads are bounded by the bytes given.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace wordengine {

// One embedded face of the font table: the family it belongs to, the relationship naming
// its part and the key its first 32 bytes are scrambled with ("{GUID}", or empty).
struct EmbeddedFace {
    std::string family;
    std::string relId;
    std::string fontKey;
};

// The embedRegular/Bold/Italic/BoldItalic elements of a font table part, in order.
std::vector<EmbeddedFace> EmbeddedFacesOf(const std::string& fontTableXml);

// The target of relationship `id` (or, with an empty id, of the first whose type ends in
// "/" + typeTail) of a relationships part, resolved against the folder of the part it
// belongs to ("word/document.xml" + "fonts/a.odttf" -> "word/fonts/a.odttf"). Empty when none.
std::string RelationshipTarget(const std::string& relsXml, const std::string& ownerPart, const std::string& id,
                               const std::string& typeTail = std::string());

// The relationships part of a part ("word/fontTable.xml" -> "word/_rels/fontTable.xml.rels").
std::string RelationshipsPartOf(const std::string& part);

// Unscrambles an embedded face as Office Open XML prescribes: the key's 16 bytes, read from
// the end of the GUID string, XORed over the first 32 bytes. False when the key is no GUID.
bool UnscrambleFace(std::string* data, const std::string& fontKey);

// Whether the engine draws with a face of these bytes: it takes a face only when its OS/2
// embedding bits allow installing or editing (fsType 0, or the editable bit), and refuses
// restricted and preview-and-print faces. A file it cannot read as a font is no face.
bool EngineTakesFace(const std::string& face);

// The families of a .docx whose embedded faces the engine draws with. readPart gives a part's
// bytes by its name in the package (false when it has none). carries (when given): whether
// the font table lists any embedded face at all, taken or not. fontTable (when given): the font
// table part's text, empty when the package has none.
std::vector<std::string> EmbeddedFamilies(const std::function<bool(const std::string&, std::string*)>& readPart,
                                          bool* carries = nullptr, std::string* fontTable = nullptr);

// A family of a font table and the font Word draws its text with where the family is not
// installed (w:altName).
struct FontAlternative {
    std::string family;
    std::string alternative;
};

// The font elements of a font table that name an alternative, in order; none that names itself.
std::vector<FontAlternative> FontAlternativesOf(const std::string& fontTableXml);

// The families a fontconfig file gives a rule of their own: the first family of each alias and
// the family a match rule tests for.
std::vector<std::string> FamiliesRuledBy(const std::string& fontconfigXml);

// The alternatives to draw with: those whose family is unknown and whose alternative is known
// (installed, or given a stand-in), as Word falls back to it only when the family is missing.
std::vector<FontAlternative> AlternativesToUse(const std::vector<FontAlternative>& table,
                                               const std::function<bool(const std::string&)>& known);

// Whether two family names are the same font (letter case aside, as fontconfig compares).
bool SameFamily(const std::string& a, const std::string& b);

}  // namespace wordengine
