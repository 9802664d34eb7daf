// What pagesnap-serve reads from the network itself: request fields, the name in
// Content-Disposition, the document's name, and its own command line; and the ZIP it writes.
#include "serve/Params.h"
#include "serve/ServeOptions.h"
#include "serve/Zip.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>

using namespace serve;

TEST(ServeParams, FieldsAreTakenOrRefusedWithAReason)
{
    struct Row {
        std::vector<std::pair<std::string, std::string>> fields;
        bool ok;
        const char* error;  // a part of the message
    };
    const Row rows[] = {
        {{{"format", "jpg"}, {"resolution", "300"}, {"quality", "70"}, {"pages", "1-3,5"}}, true, ""},
        {{{"format", "jpeg"}}, true, ""},
        {{{"format", "gif"}}, false, "format"},
        {{{"resolution", "23"}}, false, "24 to 600"},
        {{{"resolution", "601"}}, false, "resolution"},
        {{{"resolution", "+96"}}, false, "resolution"},
        {{{"quality", "0"}}, false, "quality"},
        {{{"pages", "3-1"}}, false, "pages"},
        {{{"pages", ""}}, false, "pages"},
        {{{"colour", "red"}}, false, "unknown parameter 'colour'"},
        {{{"format", "png"}, {"format", "jpg"}}, false, "twice"},
        {{{"filename", "a.docx"}}, true, ""},
    };
    for (const Row& r : rows) {
        RequestSettings s;
        std::vector<std::string> seen;
        std::string error;
        bool ok = true;
        for (const auto& [name, value] : r.fields)
            ok = ok && TakeField(name, value, &s, &seen, &error);
        EXPECT_EQ(ok, r.ok) << r.fields[0].first << "=" << r.fields[0].second << ": " << error;
        EXPECT_NE(error.find(r.error), std::string::npos) << error;
    }
    RequestSettings s;
    std::vector<std::string> seen;
    std::string error;
    ASSERT_TRUE(TakeField("pages", "4", &s, &seen, &error));
    EXPECT_TRUE(s.SinglePage());
    ASSERT_TRUE(TakeField("format", "bmp", &s, &seen, &error));
    EXPECT_EQ(s.format, convert::ImageFormat::Bmp);
    RequestSettings t;
    seen.clear();
    ASSERT_TRUE(TakeField("pages", "4-", &t, &seen, &error));
    EXPECT_FALSE(t.SinglePage());
}

TEST(ServeParams, DispositionFilename)
{
    const std::pair<const char*, const char*> rows[] = {
        {"attachment; filename=\"Quarterly report.docx\"", "Quarterly report.docx"},
        {"attachment; FileName=a.doc", "a.doc"},
        {"attachment;filename=a.doc ; size=3", "a.doc"},
        {"attachment; name=\"x\"; filename=\"b;c.docx\"", "b;c.docx"},
        {"attachment; filename=\"unterminated", ""},
        {"attachment", ""},
        {"attachment; size", ""},
        {"", ""},
    };
    for (const auto& [header, name] : rows)
        EXPECT_EQ(DispositionFilename(header), name) << header;
}

TEST(ServeParams, DocumentBaseKeepsTheLastPartOrRefuses)
{
    struct Row {
        std::string filename;
        bool ok;
        const char* base;
    };
    const Row rows[] = {
        {"report.docx", true, "report"},
        {"", true, "document"},
        {"../../etc/passwd.docx", true, "passwd"},
        {"C:\\Users\\me\\Letter.doc", true, "Letter"},
        {"Bericht \xC3\xBC" "ber.docx", true, "Bericht \xC3\xBC" "ber"},
        {"archive.tar.docx", true, "archive.tar"},
        {"..", false, ""},
        {"dir/", false, ""},
        {".docx", false, ""},
        {"a\x01" "b.docx", false, ""},
        {"a\x7f.docx", false, ""},
        {"bad\xC3.docx", false, ""},
        {"bad\xC0\xAF.docx", false, ""},
        {"end\xE2\x82", false, ""},
        {std::string(201, 'a'), false, ""},
    };
    for (const Row& r : rows) {
        std::string base = "untouched", error;
        EXPECT_EQ(DocumentBase(r.filename, &base, &error), r.ok) << r.filename << ": " << error;
        if (r.ok)
            EXPECT_EQ(base, r.base) << r.filename;
        else
            EXPECT_EQ(base, "untouched") << r.filename;
    }
}

TEST(ServeOptions, CommandLine)
{
    struct Row {
        std::vector<std::string> args;
        bool ok;
        const char* host;
        int port;
        int jobs;
    };
    const Row rows[] = {
        {{}, true, "127.0.0.1", 8080, 3},
        {{"--listen", "0.0.0.0:9000", "-j", "2"}, true, "0.0.0.0", 9000, 2},
        {{"--listen=[::1]:81"}, true, "::1", 81, 3},
        {{"--listen", "8080"}, false, "", 0, 0},
        {{"--listen", "host:0"}, false, "", 0, 0},
        {{"--queue", "-1"}, false, "", 0, 0},
        {{"--max-size"}, false, "", 0, 0},
        {{"--colour", "red"}, false, "", 0, 0},
    };
    for (const Row& r : rows) {
        ServeOptions o;
        std::string error;
        EXPECT_EQ(ParseServeArguments(r.args, 3, &o, &error), r.ok) << (r.args.empty() ? "" : r.args[0]) << error;
        if (r.ok) {
            EXPECT_EQ(o.host, r.host);
            EXPECT_EQ(o.port, r.port);
            EXPECT_EQ(o.jobs, r.jobs);
        }
    }
}

namespace {

uint32_t Get32(const std::string& s, size_t o)
{
    return uint32_t(uint8_t(s[o])) | uint32_t(uint8_t(s[o + 1])) << 8 | uint32_t(uint8_t(s[o + 2])) << 16 |
           uint32_t(uint8_t(s[o + 3])) << 24;
}

uint16_t Get16(const std::string& s, size_t o) { return uint16_t(uint8_t(s[o]) | uint8_t(s[o + 1]) << 8); }

}  // namespace

// The archive read back through its central directory, as an unzipper finds its entries
// (Python's zipfile reads the service's answers in the engine test).
TEST(ServeZip, EntriesAreFoundThroughTheCentralDirectory)
{
    ZipWriter zip;
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"a_1.png", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(1000, '\0')},
        {"Bericht \xC3\xBC" "ber_2.png", "x"},
        {"report.json", "{}\n"},
    };
    for (const auto& [name, data] : entries)
        ASSERT_TRUE(zip.Add(name, data));
    EXPECT_FALSE(zip.Add("", "x"));
    EXPECT_FALSE(zip.Add(std::string(70000, 'n'), "x"));
    const std::string z = zip.Finish();
    const size_t end = z.size() - 22;
    ASSERT_EQ(Get32(z, end), 0x06054b50u);
    ASSERT_EQ(Get16(z, end + 10), entries.size());
    size_t cd = Get32(z, end + 16);
    ASSERT_EQ(cd + Get32(z, end + 12), end);
    for (const auto& [name, data] : entries) {
        ASSERT_EQ(Get32(z, cd), 0x02014b50u);
        const uint16_t nameLen = Get16(z, cd + 28);
        EXPECT_EQ(z.substr(cd + 46, nameLen), name);
        const uint32_t local = Get32(z, cd + 42);
        ASSERT_EQ(Get32(z, local), 0x04034b50u);
        const size_t at = local + 30 + Get16(z, local + 26) + Get16(z, local + 28);
        EXPECT_EQ(z.substr(at, Get32(z, cd + 20)), data) << name;
        EXPECT_EQ(Get32(z, cd + 16), uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size()))))
            << name;
        cd += 46 + nameLen;
    }
    EXPECT_EQ(ZipWriter().Finish().size(), 22u);
}
