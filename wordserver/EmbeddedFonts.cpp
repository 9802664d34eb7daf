// Embedded fonts of a .docx: its font table, the relationships to the face parts, and the
// embedding bits the engine goes by.
#include "EmbeddedFonts.h"

#include <algorithm>
#include <cstdint>

namespace wordengine {

namespace {

// One element's start tag: its local name (the prefix dropped) and attributes, the same.
struct Tag {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    bool closing = false;

    std::string Attribute(const char* local) const
    {
        for (const auto& a : attributes)
            if (a.first == local)
                return a.second;
        return std::string();
    }
};

std::string LocalName(const std::string& qualified)
{
    const size_t colon = qualified.find(':');
    return colon == std::string::npos ? qualified : qualified.substr(colon + 1);
}

std::string Unescape(const std::string& s)
{
    static const struct {
        const char* entity;
        char c;
    } kEntities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        bool done = false;
        if (s[i] == '&')
            for (const auto& e : kEntities) {
                const std::string ent(e.entity);
                if (s.compare(i, ent.size(), ent) == 0) {
                    out += e.c;
                    i += ent.size() - 1;
                    done = true;
                    break;
                }
            }
        if (!done)
            out += s[i];
    }
    return out;
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The next start or end tag at or after *pos; false at the end of the text.
bool NextTag(const std::string& xml, size_t* pos, Tag* tag)
{
    for (;;) {
        const size_t lt = xml.find('<', *pos);
        if (lt == std::string::npos || lt + 1 >= xml.size())
            return false;
        const size_t gt = xml.find('>', lt);
        if (gt == std::string::npos)
            return false;
        *pos = gt + 1;
        const char first = xml[lt + 1];
        if (first == '?' || first == '!')
            continue;  // declarations, comments
        *tag = Tag();
        size_t i = lt + 1;
        if (first == '/') {
            tag->closing = true;
            ++i;
        }
        const size_t nameEnd = std::min(xml.find_first_of(" \t\r\n/>", i), gt);
        tag->name = LocalName(xml.substr(i, nameEnd - i));
        i = nameEnd;
        while (i < gt) {
            while (i < gt && (IsSpace(xml[i]) || xml[i] == '/'))
                ++i;
            const size_t eq = xml.find('=', i);
            if (i >= gt || eq == std::string::npos || eq >= gt)
                break;
            std::string key = xml.substr(i, eq - i);
            while (!key.empty() && IsSpace(key.back()))
                key.pop_back();
            size_t q = eq + 1;
            while (q < gt && IsSpace(xml[q]))
                ++q;
            if (q >= gt || (xml[q] != '"' && xml[q] != '\''))
                break;
            const size_t close = xml.find(xml[q], q + 1);
            if (close == std::string::npos || close > gt)
                break;
            tag->attributes.emplace_back(LocalName(key), Unescape(xml.substr(q + 1, close - q - 1)));
            i = close + 1;
        }
        return true;
    }
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

uint32_t Be(const std::string& d, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | uint8_t(d[at + size_t(i)]);
    return v;
}

}  // namespace

std::vector<EmbeddedFace> EmbeddedFacesOf(const std::string& fontTableXml)
{
    std::vector<EmbeddedFace> faces;
    std::string family;
    size_t pos = 0;
    Tag tag;
    while (NextTag(fontTableXml, &pos, &tag)) {
        if (tag.name == "font") {
            family = tag.closing ? std::string() : tag.Attribute("name");
        } else if (!tag.closing && !family.empty() &&
                   (tag.name == "embedRegular" || tag.name == "embedBold" || tag.name == "embedItalic" ||
                    tag.name == "embedBoldItalic")) {
            EmbeddedFace face;
            face.family = family;
            face.relId = tag.Attribute("id");
            face.fontKey = tag.Attribute("fontKey");
            if (!face.relId.empty())
                faces.push_back(std::move(face));
        }
    }
    return faces;
}

std::string RelationshipsPartOf(const std::string& part)
{
    const size_t slash = part.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? part : part.substr(slash + 1);
    return folder + "_rels/" + name + ".rels";
}

std::string RelationshipTarget(const std::string& relsXml, const std::string& ownerPart, const std::string& id,
                               const std::string& typeTail)
{
    size_t pos = 0;
    Tag tag;
    while (NextTag(relsXml, &pos, &tag)) {
        if (tag.closing || tag.name != "Relationship" || tag.Attribute("TargetMode") == "External")
            continue;
        const std::string type = tag.Attribute("Type");
        const bool match = !id.empty() ? tag.Attribute("Id") == id
                                       : type.size() > typeTail.size() &&
                                             type.compare(type.size() - typeTail.size() - 1, std::string::npos,
                                                          "/" + typeTail) == 0;
        if (!match)
            continue;
        std::string target = tag.Attribute("Target");
        if (target.empty())
            return std::string();
        if (target[0] == '/')
            return target.substr(1);
        const size_t slash = ownerPart.rfind('/');
        std::string path = slash == std::string::npos ? std::string() : ownerPart.substr(0, slash);
        // "../" climbs out of the owner's folder.
        while (target.compare(0, 3, "../") == 0) {
            target.erase(0, 3);
            const size_t up = path.rfind('/');
            path = up == std::string::npos ? std::string() : path.substr(0, up);
        }
        return path.empty() ? target : path + "/" + target;
    }
    return std::string();
}

bool UnscrambleFace(std::string* data, const std::string& fontKey)
{
    // "{62E79491-959F-41E9-B76B-6B32631DEA5C}": 32 hex digits, the key is their bytes from
    // the last one back.
    std::string digits;
    for (char c : fontKey)
        if (c != '{' && c != '}' && c != '-')
            digits += c;
    if (digits.size() != 32 || fontKey.size() != 38)
        return false;
    unsigned char key[16];
    for (int i = 0; i < 16; ++i) {
        const int hi = HexValue(digits[size_t(30 - 2 * i)]), lo = HexValue(digits[size_t(31 - 2 * i)]);
        if (hi < 0 || lo < 0)
            return false;
        key[i] = static_cast<unsigned char>(hi * 16 + lo);
    }
    for (size_t i = 0; i < 32 && i < data->size(); ++i)
        (*data)[i] = char(uint8_t((*data)[i]) ^ key[i % 16]);
    return true;
}

bool EngineTakesFace(const std::string& face)
{
    size_t base = 0;
    if (face.size() >= 16 && face.compare(0, 4, "ttcf") == 0)
        base = Be(face, 12, 4);  // a collection: its first face, as the engine takes it
    if (base > face.size() || face.size() - base < 12)
        return false;
    const uint32_t version = Be(face, base, 4);
    if (version != 0x00010000 && version != 0x4F54544F /* OTTO */ && version != 0x74727565 /* true */)
        return false;
    const uint32_t tables = Be(face, base + 4, 2);
    for (uint32_t t = 0; t < tables; ++t) {
        const size_t rec = base + 12 + size_t(t) * 16;
        if (rec + 16 > face.size())
            return false;
        if (face.compare(rec, 4, "OS/2") != 0)
            continue;
        const size_t at = Be(face, rec + 8, 4);
        if (at > face.size() || face.size() - at < 10)
            return false;
        const uint32_t fsType = Be(face, at + 8, 2);
        return fsType == 0 || (fsType & 0x8) != 0;
    }
    return true;  // no OS/2 table: no restriction recorded
}

std::vector<std::string> EmbeddedFamilies(const std::function<bool(const std::string&, std::string*)>& readPart,
                                          bool* carries, std::string* fontTable)
{
    std::vector<std::string> families;
    if (carries)
        *carries = false;
    if (fontTable)
        fontTable->clear();
    std::string rels, mainRels, table, tableRels;
    if (!readPart("_rels/.rels", &rels))
        return families;
    const std::string main = RelationshipTarget(rels, "", "", "officeDocument");
    if (main.empty() || !readPart(RelationshipsPartOf(main), &mainRels))
        return families;
    const std::string tablePart = RelationshipTarget(mainRels, main, "", "fontTable");
    if (tablePart.empty() || !readPart(tablePart, &table))
        return families;
    if (fontTable)
        *fontTable = table;
    const std::vector<EmbeddedFace> faces = EmbeddedFacesOf(table);
    if (carries)
        *carries = !faces.empty();
    if (faces.empty() || !readPart(RelationshipsPartOf(tablePart), &tableRels))
        return families;
    for (const EmbeddedFace& f : faces) {
        if (std::find(families.begin(), families.end(), f.family) != families.end())
            continue;
        const std::string part = RelationshipTarget(tableRels, tablePart, f.relId);
        std::string data;
        if (part.empty() || !readPart(part, &data))
            continue;
        if (!f.fontKey.empty() && !UnscrambleFace(&data, f.fontKey))
            continue;
        if (EngineTakesFace(data))
            families.push_back(f.family);
    }
    return families;
}

bool SameFamily(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

std::vector<FontAlternative> FontAlternativesOf(const std::string& fontTableXml)
{
    std::vector<FontAlternative> out;
    std::string family;
    size_t pos = 0;
    Tag tag;
    while (NextTag(fontTableXml, &pos, &tag)) {
        if (tag.name == "font") {
            family = tag.closing ? std::string() : tag.Attribute("name");
        } else if (!tag.closing && tag.name == "altName" && !family.empty()) {
            const std::string alt = tag.Attribute("val");
            if (!alt.empty() && !SameFamily(alt, family))
                out.push_back(FontAlternative{family, alt});
        }
    }
    return out;
}

std::vector<std::string> FamiliesRuledBy(const std::string& fontconfigXml)
{
    std::vector<std::string> families;
    // In an alias before anything but its family; in a match rule's test of the family.
    enum { Outside, AliasHead, FamilyTest } where = Outside;
    size_t pos = 0;
    Tag tag;
    while (NextTag(fontconfigXml, &pos, &tag)) {
        if (tag.closing) {
            if (tag.name == "alias" || tag.name == "test")
                where = Outside;
            continue;
        }
        if (tag.name == "alias") {
            where = AliasHead;
        } else if (tag.name == "test") {
            where = tag.Attribute("name") == "family" ? FamilyTest : Outside;
        } else if ((where == AliasHead && tag.name == "family") || (where == FamilyTest && tag.name == "string")) {
            const size_t end = fontconfigXml.find('<', pos);
            if (end != std::string::npos)
                families.push_back(Unescape(fontconfigXml.substr(pos, end - pos)));
            where = Outside;
        } else if (where == AliasHead) {
            where = Outside;  // prefer, accept, default: an alias names its family first
        }
    }
    return families;
}

std::vector<FontAlternative> AlternativesToUse(const std::vector<FontAlternative>& table,
                                               const std::function<bool(const std::string&)>& known)
{
    std::vector<FontAlternative> use;
    for (const FontAlternative& a : table) {
        if (std::any_of(use.begin(), use.end(), [&](const FontAlternative& u) { return SameFamily(u.family, a.family); }))
            continue;
        if (!known(a.family) && known(a.alternative))
            use.push_back(a);
    }
    return use;
}

}  // namespace wordengine
