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
// the font table lists any embedded face at all, taken or not.
std::vector<std::string> EmbeddedFamilies(const std::function<bool(const std::string&, std::string*)>& readPart,
                                          bool* carries = nullptr);

}  // namespace wordengine
