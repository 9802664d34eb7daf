// pagesnap-batch over documents the engine makes for the test: pages and sizes, quality, bad
// input, parallel runs and an interrupted run. Each test starts the program as a user would.
#include "BatchRun.h"
#include "TempDir.h"
#include "WordServerTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace batchtest;
using nlohmann::json;

namespace {

// n pages, the first naming the document so that no two documents draw alike.
std::string PagesBody(const std::string& name, int n, bool bImage = false)
{
    std::string body = wstest::Para(name + ", page 1. " + wstest::Lorem(60, 1));
    if (bImage)
        body += wstest::Image(12, 8);
    for (int i = 2; i <= n; ++i)
        body += wstest::Para("Page " + std::to_string(i) + ". " + wstest::Lorem(60, i), "PBreak");
    return body;
}

class Batch : public ::testing::Test {
protected:
    static void SetUpTestSuite() { UsePrivateUserFolders(); }

    // Documents made by the engine in this test's folder: name -> pages.
    void Make(const std::map<std::string, int>& docs, bool bImage = false, const std::string& password = "")
    {
        wstest::Word word;
        for (const auto& [name, pages] : docs)
            ASSERT_TRUE(wstest::MakeDocument(word, src.Path(), PagesBody(name, pages, bImage), src / name, password))
                << name;
    }

    // No process of this run is left, nor any engine on this test's private profile folders,
    // nor a temporary file of the run.
    void ExpectCleanAfter(const json& report, const std::string& outDir)
    {
        ASSERT_TRUE(report.contains("processes"));
        for (const char* kind : {"workers", "engines"})
            for (int pid : report["processes"][kind].get<std::vector<int>>())
                EXPECT_FALSE(ProcessAlive(pid)) << kind << " " << pid << " still runs";
        EXPECT_TRUE(ProcessesWith(getenv("XDG_CACHE_HOME")).empty()) << "an engine on the private profile runs";
        for (const std::string& f : FilesIn(outDir))
            EXPECT_NE(f.rfind(".pagesnap-batch-", 0), 0u) << "temporary picture left: " << f;
        EXPECT_TRUE(FilesIn(PrivateTempDir()).empty());
        std::error_code ec;
        EXPECT_TRUE(std::filesystem::is_empty(PrivateTempDir(), ec)) << "temporary folder left in " << PrivateTempDir();
    }

    // A resumed run over src into out finds all n documents finished and starts no worker.
    void ExpectAllFinishedEarlier(int n)
    {
        const Result again = RunBatch({"--resume", "-o", out.Path(), "--report", work / "again.json", src.Path()});
        EXPECT_EQ(again.status, 0) << again.err;
        const json report = ReadJson(work / "again.json");
        EXPECT_EQ(report["totals"]["converted_earlier"], n);
        EXPECT_TRUE(report["processes"]["workers"].empty());
    }

    // The report's pictures are exactly the visible files of the output folder.
    void ExpectReportMatchesFiles(const json& report, const std::string& outDir)
    {
        std::set<std::string> listed;
        for (const json& d : report["documents"])
            for (const json& w : d["written"]) {
                const std::string file = w["file"];
                listed.insert(file.substr(file.rfind('/') + 1));
                int width = 0, height = 0;
                EXPECT_TRUE(PictureSize(file, &width, &height)) << file;
                EXPECT_EQ(width, w["width"].get<int>()) << file;
                EXPECT_EQ(height, w["height"].get<int>()) << file;
            }
        EXPECT_EQ(FilesIn(outDir), listed);
    }

    TempDir src;
    TempDir out;
    TempDir work;
};

// --pages with ranges and open ends, pages past the end skipped with a warning, and the
// resolution reaching the picture: A4 at 192 dpi.
TEST_F(Batch, PagesAndResolution)
{
    Make({{"three.docx", 3}});
    const Result r = RunBatch({"-r", "192", "-p", "2-,9,5-6", "-j", "1", "-o", out.Path(), "--report",
                               work / "report.json", src / "three.docx"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FilesIn(out.Path()), (std::set<std::string>{"three_2.png", "three_3.png"}));
    for (const char* name : {"three_2.png", "three_3.png"}) {
        int w = 0, h = 0;
        ASSERT_TRUE(PictureSize(out / name, &w, &h)) << name;
        EXPECT_EQ(w, 1588) << name;
        EXPECT_EQ(h, 2246) << name;
    }
    EXPECT_NE(r.err.find("warning"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("9,5-6"), std::string::npos) << r.err;

    const json report = ReadJson(work / "report.json");
    ASSERT_FALSE(report.is_discarded());
    ASSERT_EQ(report["documents"].size(), 1u);
    const json& d = report["documents"][0];
    EXPECT_EQ(d["status"], "converted");
    EXPECT_EQ(d["pages"], 3);
    EXPECT_EQ(d["skipped_pages"], json({"9", "5-6"}));
    EXPECT_TRUE(d["error"].is_null());
    EXPECT_EQ(report["totals"]["pages_written"], 2);
    EXPECT_EQ(report["totals"]["failed"], 0);
    // The suite that laid the pages out, as its About box names it.
    EXPECT_EQ(report["engine"]["name"], "LibreOffice") << report["engine"];
    ASSERT_TRUE(report["engine"]["version"].is_string()) << report["engine"];
    EXPECT_TRUE(std::regex_match(report["engine"]["version"].get<std::string>(), std::regex(R"(\d+\.\d+\.\d+\.\d+)")))
        << report["engine"];
    ExpectReportMatchesFiles(report, out.Path());
    ExpectCleanAfter(report, out.Path());
}

// The quality reaches the JPEG encoder, and the report on standard output parses.
TEST_F(Batch, JpegQuality)
{
    Make({{"pic.docx", 1}}, true);
    std::map<int, size_t> sizes;
    for (int q : {30, 95}) {
        TempDir o;
        const Result r = RunBatch({"-f", "jpg", "-q", std::to_string(q), "-j", "1", "-o", o.Path(), "--report", "-",
                                   src / "pic.docx"});
        ASSERT_EQ(r.status, 0) << r.err;
        const json report = json::parse(r.out, nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << r.out;
        EXPECT_EQ(report["options"]["quality"], q);
        ExpectReportMatchesFiles(report, o.Path());
        const std::string jpg = ReadWhole(o / "pic_1.jpg");
        ASSERT_GT(jpg.size(), 2u);
        EXPECT_EQ(uint8_t(jpg[0]), 0xFF);
        EXPECT_EQ(uint8_t(jpg[1]), 0xD8);
        sizes[q] = jpg.size();
    }
    EXPECT_LT(sizes[30] * 3 / 2, sizes[95]) << "q30 " << sizes[30] << " bytes, q95 " << sizes[95];
}

// A folder of a good document, a text file named .doc, an empty .docx and password-protected
// .docx and .doc files, plus a missing path: status 1, pictures for the good one only, each failure's kind.
TEST_F(Batch, BadInput)
{
    Make({{"good.docx", 2}});
    Make({{"locked.docx", 1}, {"locked.doc", 1}}, false, "secret");
    src.Write("text.doc", "just some text, no document at all\n");
    src.Write("empty.docx", "");
    const Result r = RunBatch({"-o", out.Path(), "-j", "2", "--report", work / "report.json", src.Path(),
                               src / "missing.doc"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(FilesIn(out.Path()), (std::set<std::string>{"good_1.png", "good_2.png"}));
    const json report = ReadJson(work / "report.json");
    ASSERT_FALSE(report.is_discarded());
    const std::map<std::string, std::string> expected = {
        {"good.docx", ""},
        {"text.doc", "not a Word document"},
        {"empty.docx", "damaged"},
        {"locked.docx", "password-protected"},
        {"locked.doc", "password-protected"},
        {"missing.doc", "not found"},
    };
    std::set<std::string> seen;
    for (const json& d : report["documents"]) {
        const std::string path = d["path"];
        const std::string name = path.substr(path.rfind('/') + 1);
        seen.insert(name);
        ASSERT_TRUE(expected.count(name)) << name;
        const std::string& kind = expected.at(name);
        if (kind.empty()) {
            EXPECT_EQ(d["status"], "converted") << name;
            EXPECT_EQ(d["written"].size(), 2u) << name;
        } else {
            EXPECT_EQ(d["status"], "failed") << name;
            EXPECT_EQ(d["error"]["kind"], kind) << name << ": " << d["error"].dump();
            EXPECT_FALSE(d["error"]["message"].get<std::string>().empty()) << name;
            EXPECT_TRUE(d["written"].empty()) << name;
            EXPECT_NE(r.err.find(name), std::string::npos) << "no progress line for " << name;
        }
    }
    EXPECT_EQ(seen.size(), expected.size());
    EXPECT_EQ(report["totals"]["converted"], 1);
    EXPECT_EQ(report["totals"]["failed"], 5);
    ExpectReportMatchesFiles(report, out.Path());
    ExpectCleanAfter(report, out.Path());
}

// DejaVu Serif with its family's names, in ASCII and in UTF-16 (big-endian), renamed to
// "Zyxwvu Serif", which no system has; empty when the font is not installed.
std::string ZyxwvuSerif()
{
    std::string font = ReadWhole("/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf");
    for (const std::string& from : {std::string("DejaVu"), std::string("\0D\0e\0j\0a\0V\0u", 12)}) {
        const std::string to = from.size() == 6 ? "Zyxwvu" : std::string("\0Z\0y\0x\0w\0v\0u", 12);
        for (size_t at = font.find(from); at != std::string::npos; at = font.find(from, at))
            font.replace(at, from.size(), to);
    }
    return font;
}

// --fonts adds a folder to the fonts the engine draws with: a document asking for a font that
// only that folder holds (DejaVu Serif under another name) is drawn as one asking for a font no
// one has (the fallback) without the folder, and with it is not.
TEST_F(Batch, FontsFolderIsDrawnWith)
{
    const std::string font = ZyxwvuSerif();
    ASSERT_FALSE(font.empty());
    TempDir fonts;
    fonts.Write("ZyxwvuSerif.ttf", font);
    {
        wstest::Word word;
        const std::string body = wstest::Para("Set in a licensed face. " + wstest::Lorem(80, 3));
        ASSERT_TRUE(wstest::MakeDocument(word, src.Path(), body, src / "licensed.docx", "", "", "Zyxwvu Serif"));
        ASSERT_TRUE(wstest::MakeDocument(word, src.Path(), body, src / "unknown.docx", "", "", "Qwmpf Serif"));
    }
    for (bool withFolder : {false, true}) {
        TempDir o;
        std::vector<std::string> args = {"-j", "1", "-o", o.Path(), src / "licensed.docx", src / "unknown.docx"};
        if (withFolder)
            args.insert(args.begin(), {"--fonts", fonts.Path()});
        const Result r = RunBatch(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ReadWhole(o / "licensed_1.png") != ReadWhole(o / "unknown_1.png"), withFolder)
            << (withFolder ? "the added font was not used" : "the font was there without its folder");
    }
    const Result bad = RunBatch({"--fonts", src / "missing", "-o", out.Path(), src / "unknown.docx"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("--fonts"), std::string::npos) << bad.err;
}

// A .docx of one paragraph in `family`, carrying `face` (when not empty) as Word embeds a font:
// word/fonts/font1.odttf, its first 32 bytes scrambled with the font table's key.
std::string DocxWithFont(const std::string& family, std::string face)
{
    const std::string key = "{62E79491-959F-41E9-B76B-6B32631DEA5C}";
    // The key's bytes are the GUID's hex pairs from the last one back.
    const std::string hex = "62E79491959F41E9B76B6B32631DEA5C";
    for (size_t i = 0; i < 32 && i < face.size(); ++i)
        face[i] = char(face[i] ^ std::stoi(hex.substr(30 - 2 * (i % 16), 2), nullptr, 16));
    const std::string ns = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
                           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    const std::string pkg = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    std::vector<std::pair<std::string, std::string>> parts = {
        {"[Content_Types].xml",
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Default Extension=\"odttf\" ContentType=\"application/vnd.openxmlformats-officedocument.obfuscatedFont\"/>"
         "<Override PartName=\"/word/document.xml\" ContentType=\"application/"
         "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
         "<Override PartName=\"/word/fontTable.xml\" ContentType=\"application/"
         "vnd.openxmlformats-officedocument.wordprocessingml.fontTable+xml\"/></Types>"},
        {"_rels/.rels", pkg + "<Relationship Id=\"rId1\" Type=\"" + rel +
                            "officeDocument\" Target=\"word/document.xml\"/></Relationships>"},
        {"word/_rels/document.xml.rels",
         pkg + "<Relationship Id=\"rId1\" Type=\"" + rel + "fontTable\" Target=\"fontTable.xml\"/></Relationships>"},
        {"word/document.xml",
         "<w:document " + ns + "><w:body><w:p><w:r><w:rPr><w:rFonts w:ascii=\"" + family + "\" w:hAnsi=\"" +
             family + "\"/><w:sz w:val=\"28\"/></w:rPr><w:t>Set in a face of its own. " + wstest::Lorem(80, 5) +
             "</w:t></w:r></w:p><w:sectPr><w:pgSz w:w=\"11906\" w:h=\"16838\"/></w:sectPr></w:body></w:document>"},
        {"word/fontTable.xml", "<w:fonts " + ns + "><w:font w:name=\"" + family + "\">" +
                                   (face.empty() ? "" : "<w:embedRegular r:id=\"rIdF\" w:fontKey=\"" + key + "\"/>") +
                                   "</w:font></w:fonts>"},
    };
    if (!face.empty()) {
        parts.push_back({"word/_rels/fontTable.xml.rels",
                         pkg + "<Relationship Id=\"rIdF\" Type=\"" + rel + "font\" Target=\"fonts/font1.odttf\"/>"
                               "</Relationships>"});
        parts.push_back({"word/fonts/font1.odttf", face});
    }
    return wstest::StoredZip(parts);
}

// The font's OS/2 embedding bits (fsType) set to `bits`; unchanged when it has no OS/2 table.
std::string WithEmbeddingBits(std::string font, int bits)
{
    auto be = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 8) | uint8_t(font[at + size_t(i)]);
        return v;
    };
    for (uint32_t t = 0; t < be(4, 2); ++t)
        if (font.compare(12 + 16 * t, 4, "OS/2") == 0) {
            const size_t at = be(12 + 16 * t + 8, 4) + 8;
            font[at] = char(bits >> 8);
            font[at + 1] = char(bits & 0xff);
        }
    return font;
}

// A font a .docx carries inside itself draws its text, as the same font installed would, when
// its embedding bits allow it (installable or editable); the report says "embedded". One the
// bits forbid (preview and print, restricted) is not used, as the engine decides. A document
// after one that brought a font is drawn as if that document had never been there.
TEST_F(Batch, EmbeddedFontsDrawTheirDocumentOnly)
{
    const std::string font = ZyxwvuSerif();
    ASSERT_FALSE(font.empty());
    TempDir fonts;
    fonts.Write("ZyxwvuSerif.ttf", font);
    const struct {
        const char* name;
        int bits;  // -1: no font carried
        bool drawn;
    } rows[] = {
        {"installable.docx", 0x0, true}, {"plain.docx", -1, false},       {"editable.docx", 0x8, true},
        {"preview.docx", 0x4, false},    {"restricted.docx", 0x2, false}, {"plain2.docx", -1, false},
    };
    std::vector<std::string> args = {"-j", "1", "-o", out.Path(), "--report", work / "report.json"};
    for (const auto& row : rows) {
        src.Write(row.name, DocxWithFont("Zyxwvu Serif", row.bits < 0 ? "" : WithEmbeddingBits(font, row.bits)));
        args.push_back(src / row.name);
    }
    const Result r = RunBatch(args);
    ASSERT_EQ(r.status, 0) << r.err;
    // The same text with the font installed, and with the fallback of a font no one has.
    TempDir installed, fallback;
    src.Write("alone.docx", DocxWithFont("Zyxwvu Serif", ""));
    ASSERT_EQ(RunBatch({"--fonts", fonts.Path(), "-o", installed.Path(), src / "alone.docx"}).status, 0);
    ASSERT_EQ(RunBatch({"-o", fallback.Path(), src / "alone.docx"}).status, 0);
    const std::string withFont = ReadWhole(installed / "alone_1.png"), without = ReadWhole(fallback / "alone_1.png");
    ASSERT_FALSE(withFont.empty());
    ASSERT_NE(withFont, without) << "the installed font draws as the fallback";
    const json report = ReadJson(work / "report.json");
    ASSERT_EQ(report["documents"].size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const std::string base = std::string(rows[i].name).substr(0, std::string(rows[i].name).find('.'));
        const std::string page = ReadWhole(out / (base + "_1.png"));
        EXPECT_TRUE(page == (rows[i].drawn ? withFont : without))
            << rows[i].name << (rows[i].drawn ? ": not drawn with its own font" : ": drawn with a font it does not have");
        std::string kind;
        for (const json& f : report["documents"][i]["fonts"])
            if (f["font"] == "Zyxwvu Serif")
                kind = f["kind"];
        EXPECT_EQ(kind, rows[i].drawn ? "embedded" : "substitute") << rows[i].name;
    }
    ExpectCleanAfter(report, out.Path());
}

// A paragraph with text inserted and deleted, tracked, by each of the authors.
std::string TrackedBody(const std::vector<std::string>& authors)
{
    std::string regions, text;
    for (size_t i = 0; i < authors.size(); ++i) {
        const std::string id = "ct" + std::to_string(i);
        const char* kind = i % 2 ? "deletion" : "insertion";
        regions += "<text:changed-region xml:id=\"" + id + "\" text:id=\"" + id + "\"><text:" + kind +
                   "><office:change-info><dc:creator>" + authors[i] +
                   "</dc:creator><dc:date>2024-01-01T00:00:00</dc:date></office:change-info>" +
                   (i % 2 ? "<text:p>Words " + authors[i] + " struck out.</text:p>" : "") + "</text:" + kind +
                   "></text:changed-region>";
        text += i % 2 ? "<text:change text:change-id=\"" + id + "\"/> "
                      : "<text:change-start text:change-id=\"" + id + "\"/>Words " + authors[i] +
                            " added. <text:change-end text:change-id=\"" + id + "\"/>";
    }
    return "<text:tracked-changes>" + regions + "</text:tracked-changes><text:p>Reviewed: " + text + "</text:p>" +
           wstest::Para(wstest::Lorem(40, 9));
}

// Tracked changes look the same whatever the engine converted before (their colours once
// followed the order in which the engine met their authors).
TEST_F(Batch, TrackedChangesLookTheSameAfterOtherDocuments)
{
    {
        wstest::Word word;
        ASSERT_TRUE(wstest::MakeDocument(word, src.Path(), TrackedBody({"Alice"}), src / "alice.docx"));
        ASSERT_TRUE(wstest::MakeDocument(word, src.Path(), TrackedBody({"Bob", "Carol"}), src / "bob.docx"));
    }
    TempDir alone, after;
    ASSERT_EQ(RunBatch({"-j", "1", "-o", alone.Path(), src / "bob.docx"}).status, 0);
    ASSERT_EQ(RunBatch({"-j", "1", "-o", after.Path(), src / "alice.docx", src / "bob.docx"}).status, 0);
    const std::string first = ReadWhole(alone / "bob_1.png");
    ASSERT_FALSE(first.empty());
    EXPECT_TRUE(first == ReadWhole(after / "bob_1.png")) << "bob.docx drawn differently after alice.docx";
}

// Text watermarks come out in the same grey levels whatever the engine read before: some
// binary Word files (these two among them) leave state in the engine that moved the traced
// outlines of a later document's watermark.
TEST_F(Batch, TextWatermarksLookTheSameAfterOtherDocuments)
{
    const std::string corpus = FOLIUM_CORPUS_DIR;
    const char* const before[] = {"o_kurs.doc", "parentinvguid.doc"};
    const char* const marked[] = {"watermark.doc", "SectionWithWatermark.docx"};
    for (const char* f : {before[0], before[1], marked[0], marked[1]})
        if (access((corpus + "/" + f).c_str(), R_OK) != 0)
            GTEST_SKIP() << "no " << f << " in " << corpus;
    for (const char* m : marked) {
        const std::string base = std::string(m).substr(0, std::string(m).find('.'));
        TempDir alone;
        ASSERT_EQ(RunBatch({"-j", "1", "-p", "1", "-o", alone.Path(), corpus + "/" + m}).status, 0);
        const std::string first = ReadWhole(alone / (base + "_1.png"));
        ASSERT_FALSE(first.empty()) << m;
        for (const char* b : before) {
            TempDir after;
            ASSERT_EQ(RunBatch({"-j", "1", "-p", "1", "-o", after.Path(), corpus + "/" + b, corpus + "/" + m}).status, 0);
            EXPECT_TRUE(first == ReadWhole(after / (base + "_1.png"))) << m << " drawn differently after " << b;
        }
    }
}

// An engine past its document or memory limit is replaced between documents: the report counts
// the engines each worker used, and the pictures are those of one engine for the whole run.
TEST_F(Batch, EnginesAreReplacedPastTheirLimits)
{
    Make({{"a.docx", 2}, {"b.docx", 1}, {"c.docx", 2}});
    const struct {
        std::vector<std::string> limits;
        int engines;
    } rows[] = {
        {{"--engine-documents", "0", "--engine-memory", "0"}, 1},
        {{"--engine-documents", "2", "--engine-memory", "0"}, 2},
        {{"--engine-documents", "0", "--engine-memory", "1"}, 3},  // every engine is past 1 MB
    };
    std::map<std::string, std::string> first;
    for (const auto& row : rows) {
        TempDir o;
        std::vector<std::string> args = {"-j", "1", "-o", o.Path(), "--report", o / "report.json", src.Path()};
        args.insert(args.begin(), row.limits.begin(), row.limits.end());
        const Result r = RunBatch(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const json report = ReadJson(o / "report.json");
        EXPECT_EQ(report["processes"]["engines_per_worker"], json({row.engines})) << row.limits[1] << row.limits[3];
        for (const std::string& f : FilesIn(o.Path())) {
            if (f == "report.json")
                continue;
            if (first.count(f))
                EXPECT_TRUE(first[f] == ReadWhole(o / f)) << f << " differs after a replaced engine";
            else
                first[f] = ReadWhole(o / f);
        }
        ExpectCleanAfter(report, o.Path());
    }
    EXPECT_EQ(first.size(), 5u);
}

// A run killed with SIGKILL, then resumed, ends with the pictures of one uninterrupted run: the
// documents it finished are skipped, its temporary pictures and folder are removed (nothing else
// is), and a second resume finds everything done without starting a worker.
TEST_F(Batch, KilledRunResumes)
{
    Make({{"a.docx", 6}, {"b.docx", 6}, {"c.docx", 6}, {"d.docx", 6}, {"e.docx", 6}});
    TempDir ref;
    ASSERT_EQ(RunBatch({"-j", "1", "-o", ref.Path(), src.Path()}).status, 0);
    out.Write(".pagesnap-batch-notes.txt", "not a picture of a run");
    out.Write(".pagesnap-batch-999999999-3-7.png", "left by a run that is gone");
    const int pid = StartBatch({"-j", "1", "-o", out.Path(), src.Path()}, work / "killed.err");
    ASSERT_GT(pid, 0);
    int finished = 0;
    for (int i = 0; i < 6000 && finished == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const std::string log = ReadWhole(out / ".pagesnap-batch.done");
        finished = int(std::count(log.begin(), log.end(), '\n'));
    }
    kill(pid, SIGKILL);
    WaitBatch(pid, 30);
    ASSERT_GE(finished, 1) << ReadWhole(work / "killed.err");
    const std::string log = ReadWhole(out / ".pagesnap-batch.done");
    ASSERT_LT(std::count(log.begin(), log.end(), '\n'), 5) << "the run ended before it was killed";

    const Result r = RunBatch({"-j", "1", "--resume", "-o", out.Path(), "--report", work / "r.json", src.Path()});
    ASSERT_EQ(r.status, 0) << r.err;
    const json report = ReadJson(work / "r.json");
    EXPECT_GE(report["totals"]["converted_earlier"].get<int>(), finished);
    EXPECT_EQ(report["totals"]["converted_earlier"].get<int>() + report["totals"]["converted"].get<int>(), 5);
    std::set<std::string> pictures;
    for (const std::string& f : FilesIn(out.Path()))
        if (f[0] != '.')
            pictures.insert(f);
    EXPECT_EQ(pictures, FilesIn(ref.Path()));
    for (const std::string& f : FilesIn(ref.Path()))
        EXPECT_TRUE(ReadWhole(ref / f) == ReadWhole(out / f)) << f;
    EXPECT_EQ(FilesIn(out.Path()).count(".pagesnap-batch-999999999-3-7.png"), 0u) << "stale picture kept";
    EXPECT_EQ(FilesIn(out.Path()).count(".pagesnap-batch-notes.txt"), 1u) << "removed what is no picture of a run";
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::is_empty(PrivateTempDir(), ec)) << "the killed run's temporary folder is left";

    ExpectAllFinishedEarlier(5);
}

// Two parts of a split run, side by side into one folder, give the pictures of one run: each
// document in exactly one part, under the name the whole input gives it (a.doc and a.docx fall
// in different parts); a resumed whole run finds everything finished by the parts.
TEST_F(Batch, ShardsTogetherMakeOneRun)
{
    Make({{"a.doc", 1}, {"a.docx", 1}, {"b.docx", 2}, {"c.docx", 1}, {"d.docx", 1}});
    TempDir ref;
    ASSERT_EQ(RunBatch({"-j", "1", "-o", ref.Path(), src.Path()}).status, 0);
    std::vector<int> pids;
    for (const char* shard : {"0/2", "1/2"})
        pids.push_back(StartBatch({"-j", "1", "--shard", shard, "-o", out.Path(), "--report", work / "r-{shard}.json",
                                   src.Path()},
                                  work / (std::string("err-") + shard[0])));
    for (int pid : pids)
        EXPECT_EQ(WaitBatch(pid, 300), 0) << ReadWhole(work / "err-0") << ReadWhole(work / "err-1");
    EXPECT_EQ(FilesIn(out.Path()), FilesIn(ref.Path()));
    for (const std::string& f : FilesIn(ref.Path()))
        EXPECT_TRUE(ReadWhole(ref / f) == ReadWhole(out / f)) << f;
    std::multiset<std::string> paths;
    for (const char* report : {"r-0.json", "r-1.json"}) {
        const json r = ReadJson(work / report);
        EXPECT_EQ(r["totals"]["documents_in_input"], 5) << report;
        for (const json& d : r["documents"])
            paths.insert(d["path"].get<std::string>());
    }
    EXPECT_EQ(paths.size(), 5u);
    EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()).size(), 5u) << "a document in both parts";

    ExpectAllFinishedEarlier(5);
}

// Damaged documents, made from good ones by a seeded generator: bytes flipped in a .doc, in
// the XML of a .docx (stored uncompressed, so the flips land in its markup), or either cut short.
// Each gets a result (converted or failed) within its time, the run says some failed, and no
// engine is left.
TEST_F(Batch, DamagedDocumentsEachGetAResult)
{
    Make({{"good.doc", 2}});
    ASSERT_TRUE(wstest::WriteDocx(src / "good.docx", {"A first paragraph.", "A second one, " + wstest::Lorem(60, 4)},
                                  "", 0));
    const unsigned seed = 20261210;
    std::mt19937 random(seed);
    TempDir damaged;
    for (const std::string ext : {"doc", "docx"}) {
        const std::string good = ReadWhole(src / ("good." + ext));
        ASSERT_GT(good.size(), 1024u);
        for (int i = 0; i < 6; ++i) {
            std::string bad = good;
            if (i % 3 == 2) {
                bad.resize(std::uniform_int_distribution<size_t>(16, bad.size() - 1)(random));
            } else {
                // Past the first 512 bytes: the header still says Word, the content is broken.
                for (int k = 0; k < 24; ++k)
                    bad[std::uniform_int_distribution<size_t>(512, bad.size() - 1)(random)] ^= char(1 + random() % 255);
            }
            damaged.Write("bad" + std::to_string(i) + "." + ext, bad);
        }
    }
    const Result r = RunBatch({"-j", "2", "-t", "120", "-o", out.Path(), "--report", work / "report.json",
                               damaged.Path(), src / "good.doc"});
    EXPECT_EQ(r.status, 1) << "seed " << seed << ": " << r.err;
    const json report = ReadJson(work / "report.json");
    ASSERT_EQ(report["documents"].size(), 13u) << "seed " << seed;
    std::map<std::string, int> kinds;
    for (const json& d : report["documents"]) {
        const std::string status = d["status"];
        EXPECT_TRUE(status == "converted" || status == "failed") << "seed " << seed << ": " << d.dump();
        ++kinds[status == "failed" && d["error"].is_object() ? d["error"]["kind"].get<std::string>() : status];
    }
    std::printf("damaged run: %zu documents in %.1f s:", report["documents"].size(),
                report["totals"]["seconds"].get<double>());
    for (const auto& [kind, n] : kinds)
        std::printf(" %s %d;", kind.c_str(), n);
    std::printf("\n");
    EXPECT_EQ(report["documents"][12]["status"], "converted") << "the good document after the damaged ones";
    ExpectCleanAfter(report, out.Path());
}

// Two workers give the same pictures, byte for byte, as one; documents sharing a base name
// keep apart by the documented rule.
TEST_F(Batch, TwoJobsMatchOneJob)
{
    Make({{"a.docx", 3}, {"b.doc", 2}, {"c.docx", 1}, {"report.docx", 2}});
    Make({{"report.doc", 1}}, true);
    const std::vector<std::string> docs = {src / "a.docx", src / "b.doc", src / "report.docx", src / "c.docx",
                                           src / "report.doc"};
    std::map<int, std::map<std::string, std::string>> pictures;
    for (int jobs : {1, 2}) {
        TempDir o;
        std::vector<std::string> args = {"-j", std::to_string(jobs), "-f", "bmp", "-o", o.Path(), "--report",
                                         work / "report.json"};
        args.insert(args.end(), docs.begin(), docs.end());
        const Result r = RunBatch(args);
        ASSERT_EQ(r.status, 0) << r.err;
        for (const std::string& f : FilesIn(o.Path()))
            pictures[jobs][f] = ReadWhole(o / f);
        const json report = ReadJson(work / "report.json");
        EXPECT_EQ(report["processes"]["workers"].size(), size_t(jobs));
        ExpectReportMatchesFiles(report, o.Path());
        ExpectCleanAfter(report, o.Path());
    }
    const std::set<std::string> expected = {"a_1.bmp", "a_2.bmp", "a_3.bmp", "b_1.bmp", "b_2.bmp", "c_1.bmp",
                                            "report_1.bmp", "report_2.bmp", "report_doc_1.bmp"};
    std::set<std::string> names;
    for (const auto& [name, bytes] : pictures[1])
        names.insert(name);
    EXPECT_EQ(names, expected);
    ASSERT_EQ(pictures[1].size(), pictures[2].size());
    for (const auto& [name, bytes] : pictures[1])
        EXPECT_TRUE(pictures[2][name] == bytes) << name << " differs between -j 1 and -j 2";
    // The second report (with its picture) is not the first one's first page.
    EXPECT_TRUE(pictures[1]["report_doc_1.bmp"] != pictures[1]["report_1.bmp"]) << "report_doc_1 is report_1";
}

// SIGTERM in the middle of a run, and a document over its time limit: no engine process is
// left, no temporary file, and no document has a partial set of pictures.
TEST_F(Batch, InterruptedAndTimedOut)
{
    Make({{"long.docx", 12}});
    std::vector<std::string> docs;
    for (int i = 0; i < 6; ++i) {
        const std::string name = src / ("copy" + std::to_string(i) + ".docx");
        std::filesystem::copy_file(src / "long.docx", name);
        docs.push_back(name);
    }
    {
        std::vector<std::string> args = {"-j", "2", "-o", out.Path(), "--report", work / "report.json"};
        args.insert(args.end(), docs.begin(), docs.end());
        const int pid = StartBatch(args, work / "err.txt");
        ASSERT_GT(pid, 0);
        // Once the first document is done the others are under way.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(240);
        while (ReadWhole(work / "err.txt").find("[1/") == std::string::npos &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_NE(ReadWhole(work / "err.txt").find("[1/"), std::string::npos) << ReadWhole(work / "err.txt");
        kill(pid, SIGTERM);
        EXPECT_EQ(WaitBatch(pid, 60), 128 + SIGTERM) << ReadWhole(work / "err.txt");
        const json report = ReadJson(work / "report.json");
        ASSERT_FALSE(report.is_discarded());
        EXPECT_TRUE(report["interrupted"].get<bool>());
        EXPECT_GE(report["processes"]["engines"].size(), 1u);
        int nConverted = 0;
        for (const json& d : report["documents"]) {
            if (d["status"] == "converted") {
                ++nConverted;
                EXPECT_EQ(d["written"].size(), 12u);
            } else {
                EXPECT_TRUE(d["written"].empty()) << d.dump();
            }
        }
        EXPECT_GE(nConverted, 1);
        EXPECT_LT(nConverted, 6);
        ExpectReportMatchesFiles(report, out.Path());
        ExpectCleanAfter(report, out.Path());
    }
    {
        TempDir o;
        // Twelve pages at 600 dpi (35 million pixels each) take well over the second allowed,
        // however quickly the engine starts.
        const Result r = RunBatch({"-t", "1", "-r", "600", "-j", "1", "-o", o.Path(), "--report",
                                   work / "report2.json", src / "long.docx"});
        EXPECT_EQ(r.status, 1) << r.err;
        const json report = ReadJson(work / "report2.json");
        ASSERT_FALSE(report.is_discarded());
        EXPECT_EQ(report["documents"][0]["error"]["kind"], "timed out");
        EXPECT_TRUE(FilesIn(o.Path()).empty());
        ExpectCleanAfter(report, o.Path());
    }
}

}  // namespace

// Each document's fonts and Word's stored page count reach the report, and the progress line
// notes replaced fonts (not metric clones) and a count of Word's that differs.
TEST_F(Batch, FontsAndWordsPageCount)
{
    {
        wstest::Word word;
        ASSERT_TRUE(wstest::MakeDocument(
            word, src.Path(), wstest::Para("Calibri text.", "FCalibri") + wstest::Para("Zzyzx text.", "FZzyzx"),
            src / "fonts.docx", "", wstest::FontStyle("FCalibri", "Calibri") + wstest::FontStyle("FZzyzx", "Zzyzx Sans")));
    }
    ASSERT_TRUE(wstest::WriteDocx(src / "counted.docx", {"One page."}, "Microsoft Office Word", 5));
    const Result r = RunBatch({"-j", "1", "-r", "24", "-o", out.Path(), "--report", work / "report.json",
                               src / "counted.docx", src / "fonts.docx"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json report = ReadJson(work / "report.json");
    ASSERT_EQ(report["documents"].size(), 2u);

    struct Row {
        const char* name;
        json storedPages;
        bool differ;
        const char* note;     // on the document's progress line
        const char* notNote;  // never on it
    } rows[] = {
        {"counted.docx", 5, true, "written (", "fonts replaced"},
        {"fonts.docx", nullptr, false, "; fonts replaced: Zzyzx Sans -> ", "Calibri"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const json* d = nullptr;
        for (const json& doc : report["documents"])
            if (doc["path"].get<std::string>().find(row.name) != std::string::npos)
                d = &doc;
        ASSERT_NE(d, nullptr);
        for (const char* key : {"fonts", "stored_pages", "pages_differ"})
            EXPECT_TRUE(d->contains(key)) << key;
        EXPECT_TRUE((*d)["fonts"].is_array()) << *d;
        EXPECT_EQ((*d)["stored_pages"], row.storedPages);
        EXPECT_EQ((*d)["pages_differ"], row.differ);
        std::string line;
        std::istringstream lines(r.err);
        for (std::string l; std::getline(lines, l);)
            if (l.rfind("[", 0) == 0 && l.find(std::string(row.name) + ": ") != std::string::npos)
                line = l;
        EXPECT_NE(line.find(row.note), std::string::npos) << line;
        EXPECT_EQ(line.find(row.notNote), std::string::npos) << line;
    }
    EXPECT_NE(r.err.find("counted.docx: 1 page written"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("; Word counted 5 pages"), std::string::npos) << r.err;
}
