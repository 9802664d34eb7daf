// A .docx's embedded fonts without the engine: the font table, relationships, the key that
// scrambles a face, and the embedding bits the engine goes by, over good and damaged parts.
#include <gtest/gtest.h>

#include "EmbeddedFonts.h"

#include <algorithm>
#include <map>

using namespace wordengine;

namespace {

const char* kKey = "{62E79491-959F-41E9-B76B-6B32631DEA5C}";

// A face of the sfnt tables named (each 16 bytes of zeros), OS/2's fsType set to bits; its
// table offsets count from `at`, where it starts in its file.
std::string Face(const std::vector<std::string>& tables, int bits, const char* version = "\x00\x01\x00\x00",
                 size_t at0 = 0)
{
    std::string f(version, 4);
    f += char(0);
    f += char(tables.size());
    f += std::string(6, '\0');
    const size_t dataAt = 12 + 16 * tables.size();
    for (size_t i = 0; i < tables.size(); ++i) {
        const size_t at = at0 + dataAt + 16 * i;
        f += tables[i] + std::string(4, '\0');
        f += std::string{char(at >> 24), char(at >> 16), char(at >> 8), char(at)};
        f += std::string{0, 0, 0, 16};
    }
    for (const std::string& t : tables) {
        std::string data(16, '\0');
        if (t == "OS/2") {
            data[8] = char(bits >> 8);
            data[9] = char(bits);
        }
        f += data;
    }
    return f;
}

std::string Scrambled(std::string face)
{
    EXPECT_TRUE(UnscrambleFace(&face, kKey));  // the same XOR both ways
    return face;
}

}  // namespace

TEST(EmbeddedFonts, KeyFromTheGuidsLastByteBack)
{
    std::string zeros(40, '\0');
    ASSERT_TRUE(UnscrambleFace(&zeros, kKey));
    // Bytes 0 and 16 are the GUID's last pair, 15 and 31 its first; past 32 nothing changes.
    EXPECT_EQ(uint8_t(zeros[0]), 0x5C);
    EXPECT_EQ(uint8_t(zeros[1]), 0xEA);
    EXPECT_EQ(uint8_t(zeros[15]), 0x62);
    EXPECT_EQ(uint8_t(zeros[16]), 0x5C);
    EXPECT_EQ(uint8_t(zeros[31]), 0x62);
    EXPECT_EQ(zeros.substr(32), std::string(8, '\0'));
    std::string lower(32, '\0');
    ASSERT_TRUE(UnscrambleFace(&lower, "{62e79491-959f-41e9-b76b-6b32631dea5c}"));
    EXPECT_EQ(lower, zeros.substr(0, 32));
    for (const char* bad : {"", "62E79491-959F-41E9-B76B-6B32631DEA5C", "{62E79491-959F-41E9-B76B-6B32631DEA5G}",
                            "{62E79491-959F-41E9-B76B-6B32631DEA5}"}) {
        std::string s(32, 'x');
        EXPECT_FALSE(UnscrambleFace(&s, bad)) << bad;
        EXPECT_EQ(s, std::string(32, 'x')) << bad << ": changed although refused";
    }
}

TEST(EmbeddedFonts, EmbeddingBits)
{
    const struct {
        const char* what;
        std::string face;
        bool taken;
    } rows[] = {
        {"installable", Face({"OS/2", "head"}, 0x0), true},
        {"editable", Face({"head", "OS/2"}, 0x8), true},
        {"editable, no subsetting", Face({"OS/2"}, 0x108), true},
        {"preview and print", Face({"OS/2"}, 0x4), false},
        {"restricted", Face({"OS/2"}, 0x2), false},
        {"installable, no subsetting", Face({"OS/2"}, 0x100), false},
        {"no OS/2 table", Face({"head"}, 0), true},
        {"OpenType outlines", Face({"OS/2"}, 0x4, "OTTO"), false},
        {"not a font", std::string(64, 'x'), false},
        {"header only", Face({"OS/2"}, 0).substr(0, 12), false},
        {"OS/2 cut short", Face({"OS/2"}, 0).substr(0, 12 + 16 + 9), false},
        {"empty", std::string(), false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(EngineTakesFace(r.face), r.taken) << r.what;
    // A collection: its first face decides.
    std::string ttc = "ttcf";
    ttc += std::string{0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 16};
    // Its tables' offsets count from the start of the collection.
    EXPECT_TRUE(EngineTakesFace(ttc + Face({"OS/2"}, 0x8, "\x00\x01\x00\x00", 16)));
    EXPECT_FALSE(EngineTakesFace(ttc + Face({"OS/2"}, 0x4, "\x00\x01\x00\x00", 16)));
    EXPECT_FALSE(EngineTakesFace(ttc));
}

TEST(EmbeddedFonts, FontTableAndRelationships)
{
    const std::string table =
        "<?xml version=\"1.0\"?><w:fonts xmlns:w=\"w\" xmlns:r=\"r\">"
        "<w:font w:name=\"Plain\"><w:panose1 w:val=\"0\"/></w:font>"
        "<w:font w:name=\"A &amp; B\"><w:embedRegular r:id=\"rId1\" w:fontKey=\"{K1}\"/>"
        "<w:embedBold w:fontKey='{K2}' r:id='rId2' w:subsetted=\"1\"/></w:font>"
        "<w:embedItalic r:id=\"rId9\"/>"  // outside any font
        "<w:font w:name=\"C\"><!-- <w:embedRegular r:id=\"rIdX\"/> --><w:embedBoldItalic r:id=\"rId3\"/></w:font>"
        "</w:fonts>";
    const std::vector<EmbeddedFace> faces = EmbeddedFacesOf(table);
    ASSERT_EQ(faces.size(), 3u);
    EXPECT_EQ(faces[0].family, "A & B");
    EXPECT_EQ(faces[0].relId, "rId1");
    EXPECT_EQ(faces[0].fontKey, "{K1}");
    EXPECT_EQ(faces[1].relId, "rId2");
    EXPECT_EQ(faces[1].fontKey, "{K2}");
    EXPECT_EQ(faces[2].family, "C");
    EXPECT_EQ(faces[2].relId, "rId3");
    EXPECT_TRUE(EmbeddedFacesOf("<w:fonts><w:font w:name=\"X\"><w:embedRegular r:id=").empty());

    const std::string rels = "<Relationships>"
                             "<Relationship Id=\"rId1\" Type=\"t/font\" Target=\"fonts/font1.odttf\"/>"
                             "<Relationship Id=\"rId2\" Type=\"t/font\" Target=\"/word/fonts/font2.odttf\"/>"
                             "<Relationship Id=\"rId3\" Type=\"t/font\" Target=\"../shared/font3.odttf\"/>"
                             "<Relationship Id=\"rId4\" Type=\"t/font\" Target=\"http://x/f\" TargetMode=\"External\"/>"
                             "<Relationship Id=\"rId5\" Type=\"t/fontTable\" Target=\"fontTable.xml\"/>"
                             "</Relationships>";
    const struct {
        const char* id;
        const char* type;
        const char* expected;
    } rows[] = {
        {"rId1", "", "word/fonts/font1.odttf"}, {"rId2", "", "word/fonts/font2.odttf"},
        {"rId3", "", "shared/font3.odttf"},     {"rId4", "", ""},
        {"rId7", "", ""},                       {"", "fontTable", "word/fontTable.xml"},
        {"", "Table", ""},
    };
    for (const auto& r : rows)
        EXPECT_EQ(RelationshipTarget(rels, "word/fontTable.xml", r.id, r.type), r.expected) << r.id << r.type;
    EXPECT_EQ(RelationshipsPartOf("word/fontTable.xml"), "word/_rels/fontTable.xml.rels");
    EXPECT_EQ(RelationshipsPartOf("document.xml"), "_rels/document.xml.rels");
}

// The families whose faces the engine takes, through a whole package; missing or damaged
// parts leave a face out, never the others.
TEST(EmbeddedFonts, FamiliesOfAPackage)
{

    auto relation = [](const std::string& id, const std::string& type, const std::string& target) {
        return "<Relationship Id=\"" + id + "\" Type=\"http://x/relationships/" + type + "\" Target=\"" + target +
               "\"/>";
    };
    std::map<std::string, std::string> package = {
        {"_rels/.rels", "<Relationships>" + relation("r1", "officeDocument", "doc/main.xml") + "</Relationships>"},
        {"doc/_rels/main.xml.rels", "<Relationships>" + relation("r1", "fontTable", "fonts.xml") + "</Relationships>"},
        {"doc/fonts.xml",
         std::string("<w:fonts>") +
             "<w:font w:name=\"Taken\"><w:embedRegular r:id=\"f1\" w:fontKey=\"" + kKey + "\"/>"
             "<w:embedBold r:id=\"f1\" w:fontKey=\"" + kKey + "\"/></w:font>"
             "<w:font w:name=\"Print only\"><w:embedRegular r:id=\"f2\" w:fontKey=\"" + kKey + "\"/></w:font>"
             "<w:font w:name=\"Clear\"><w:embedRegular r:id=\"f3\"/></w:font>"
             "<w:font w:name=\"Missing\"><w:embedRegular r:id=\"f4\"/></w:font>"
             "<w:font w:name=\"Bad key\"><w:embedRegular r:id=\"f1\" w:fontKey=\"{nope}\"/></w:font>"
             "<w:font w:name=\"Not scrambled\"><w:embedRegular r:id=\"f5\" w:fontKey=\"" + kKey + "\"/></w:font>"
             "</w:fonts>"},
        {"doc/_rels/fonts.xml.rels", "<Relationships>" + relation("f1", "font", "f/1.odttf") +
                                         relation("f2", "font", "f/2.odttf") + relation("f3", "font", "f/3.ttf") +
                                         relation("f4", "font", "f/4.odttf") + relation("f5", "font", "f/5.odttf") +
                                         "</Relationships>"},
        {"doc/f/1.odttf", Scrambled(Face({"OS/2"}, 0x8))},
        {"doc/f/2.odttf", Scrambled(Face({"OS/2"}, 0x4))},
        {"doc/f/3.ttf", Face({"OS/2"}, 0)},
        {"doc/f/5.odttf", Face({"OS/2"}, 0)},
    };

    auto reader = [&](const std::string& name, std::string* out) {
        auto it = package.find(name);
        if (it == package.end())
            return false;
        *out = it->second;
        return true;
    };
    bool carries = false;
    EXPECT_EQ(EmbeddedFamilies(reader, &carries), (std::vector<std::string>{"Taken", "Clear"}));
    EXPECT_TRUE(carries);
    package["doc/fonts.xml"] = "<w:fonts><w:font w:name=\"Taken\"/></w:fonts>";
    EXPECT_TRUE(EmbeddedFamilies(reader, &carries).empty());
    EXPECT_FALSE(carries);
    package.erase("_rels/.rels");
    carries = true;
    EXPECT_TRUE(EmbeddedFamilies(reader, &carries).empty());
    EXPECT_FALSE(carries);
}

// The alternatives of a font table (w:altName): one per font that names another; a font naming
// itself, an empty name or an alternative outside any font is none.
TEST(FontAlternatives, FontTable)
{
    const struct {
        const char* xml;
        std::vector<std::pair<std::string, std::string>> want;
    } rows[] = {
        {"<w:fonts><w:font w:name=\"Roboto\"><w:altName w:val=\"Arial\"/><w:family w:val=\"auto\"/></w:font></w:fonts>",
         {{"Roboto", "Arial"}}},
        {"<w:fonts><w:font w:name=\"Georgia\"><w:altName w:val=\"georgia\"/></w:font>"
         "<w:font w:name=\"A &amp; B\"><w:altName w:val=\"&quot;C&quot;\"/></w:font></w:fonts>",
         {{"A & B", "\"C\""}}},
        {"<fonts><font name='X'><altName val=''/></font><altName val='Y'/><font name='Z'/></fonts>", {}},
        {"<w:fonts><w:font w:name=\"ＭＳ 明朝\"><w:altName w:val=\"MS Mincho\"/></w:font>"
         "<w:font w:name=\"P\"><w:panose1 w:val=\"0\"/><w:altName w:val=\"Q\"/></w:font></w:fonts>",
         {{"ＭＳ 明朝", "MS Mincho"}, {"P", "Q"}}},
        {"<w:fonts><w:font w:name=\"Unclosed\"><w:altName w:val=\"Arial", {}},
    };
    for (const auto& r : rows) {
        std::vector<std::pair<std::string, std::string>> got;
        for (const FontAlternative& a : FontAlternativesOf(r.xml))
            got.emplace_back(a.family, a.alternative);
        EXPECT_EQ(got, r.want) << r.xml;
    }
}

// The families a fontconfig file gives rules of their own: what the engine is told to draw.
TEST(FontAlternatives, FamiliesRuledByAFontconfigFile)
{
    const std::string conf =
        "<fontconfig><!-- <alias><family>Commented</family></alias> -->"
        "<alias binding=\"same\"><family>Aptos</family><prefer><family>Carlito</family></prefer></alias>\n"
        "<alias><prefer><family>Preferred Only</family></prefer></alias>"
        "<match target=\"pattern\"><test name=\"family\"><string>Minion &amp; Co</string></test>"
        "<edit name=\"family\" mode=\"prepend\"><string>Liberation Serif</string></edit></match>"
        "<match target=\"pattern\"><test name=\"lang\"><string>ja</string></test></match></fontconfig>";
    EXPECT_EQ(FamiliesRuledBy(conf), (std::vector<std::string>{"Aptos", "Minion & Co"}));
}

// Word falls back to the alternative only for a family it does not have, and only to one it has.
TEST(FontAlternatives, UsedOnlyForAnUnknownFamilyWithAKnownAlternative)
{
    const std::vector<std::string> known = {"Arial", "Carlito", "Tahoma"};
    auto isKnown = [&](const std::string& f) {
        return std::any_of(known.begin(), known.end(), [&](const std::string& k) { return SameFamily(k, f); });
    };
    const struct {
        FontAlternative alt;
        bool used;
    } rows[] = {
        {{"Roboto", "Arial"}, true},
        {{"Proxima Nova", "tahoma"}, true},       // letter case aside
        {{"Carlito", "Arial"}, false},            // the family is there: drawn as itself
        {{"CARLITO", "Arial"}, false},
        {{"Japanese Gothic", "Britannic"}, false},  // nothing known to fall back to
        {{"Roboto", "Tahoma"}, false},            // a family's first alternative counts
    };
    std::vector<FontAlternative> table;
    for (const auto& r : rows)
        table.push_back(r.alt);
    const std::vector<FontAlternative> use = AlternativesToUse(table, isKnown);
    for (const auto& r : rows) {
        const bool got = std::any_of(use.begin(), use.end(), [&](const FontAlternative& u) {
            return u.family == r.alt.family && u.alternative == r.alt.alternative;
        });
        EXPECT_EQ(got, r.used) << r.alt.family << " -> " << r.alt.alternative;
    }
}
