// Telling documents apart by their bytes: Word formats, other files, password protection, and
// compound files that lie about their own structure.
#include "convert/Sniff.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <strings.h>
#include <dirent.h>
#include <string>
#include <vector>

using namespace convert;

namespace {

void Put16(std::vector<uint8_t>& b, size_t o, uint16_t v)
{
    b[o] = uint8_t(v);
    b[o + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t o, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[o + size_t(i)] = uint8_t(v >> (8 * i));
}

// A compound file of 512-byte sectors: sector 0 the allocation table, 1 the directory, then one
// stream of `streamSectors` sectors per name. The WordDocument stream begins with fibFlags at
// 0x0A.
std::vector<uint8_t> Compound(const std::vector<std::string>& streams, uint16_t fibFlags = 0,
                              uint32_t streamSectors = 8)
{
    const uint32_t nSectors = 2 + uint32_t(streams.size()) * streamSectors;
    std::vector<uint8_t> b(512 * (1 + nSectors), 0);
    const uint8_t magic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(b.data(), magic, 8);
    Put16(b, 0x1A, 3);
    Put16(b, 0x1C, 0xFFFE);
    Put16(b, 0x1E, 9);
    Put16(b, 0x20, 6);
    Put32(b, 0x2C, 1);           // one allocation-table sector
    Put32(b, 0x30, 1);           // directory at sector 1
    Put32(b, 0x38, 4096);        // mini-stream cut-off
    Put32(b, 0x3C, 0xFFFFFFFE);  // no mini table
    Put32(b, 0x44, 0xFFFFFFFE);  // no further table list
    for (int i = 0; i < 109; ++i)
        Put32(b, 0x4C + 4 * size_t(i), 0xFFFFFFFF);
    Put32(b, 0x4C, 0);
    auto sector = [&](uint32_t n) { return size_t(n + 1) * 512; };
    // Allocation table.
    for (uint32_t i = 0; i < 128; ++i)
        Put32(b, sector(0) + 4 * i, 0xFFFFFFFF);
    Put32(b, sector(0) + 0, 0xFFFFFFFD);
    Put32(b, sector(0) + 4, 0xFFFFFFFE);
    for (size_t s = 0; s < streams.size(); ++s) {
        const uint32_t first = 2 + uint32_t(s) * streamSectors;
        for (uint32_t k = 0; k < streamSectors; ++k)
            Put32(b, sector(0) + 4 * (first + k), k + 1 < streamSectors ? first + k + 1 : 0xFFFFFFFE);
    }
    // Directory: the root, then one entry per stream.
    auto entry = [&](size_t index, const std::string& name, uint8_t type, uint32_t start, uint32_t size) {
        const size_t o = sector(1) + 128 * index;
        for (size_t i = 0; i < name.size(); ++i)
            Put16(b, o + 2 * i, uint8_t(name[i]));
        Put16(b, o + 0x40, uint16_t((name.size() + 1) * 2));
        b[o + 0x42] = type;
        Put32(b, o + 0x44, 0xFFFFFFFF);
        Put32(b, o + 0x48, 0xFFFFFFFF);
        Put32(b, o + 0x4C, 0xFFFFFFFF);
        Put32(b, o + 0x74, start);
        Put32(b, o + 0x78, size);
    };
    entry(0, "Root Entry", 5, 0xFFFFFFFE, 0);
    for (size_t s = 0; s < streams.size(); ++s) {
        const uint32_t first = 2 + uint32_t(s) * streamSectors;
        entry(s + 1, streams[s], 2, first, streamSectors * 512);
        if (strcasecmp(streams[s].c_str(), "WordDocument") == 0) {
            Put16(b, sector(first), 0xA5EC);
            Put16(b, sector(first) + 0x0A, fibFlags);
        }
    }
    return b;
}

FileCheck Check(const std::vector<uint8_t>& b) { return CheckDocumentBytes(b.data(), b.size()); }
FileCheck Check(const std::string& s)
{
    return CheckDocumentBytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

TEST(BatchSniff, FormatsByTheirOpeningBytes)
{
    struct Row {
        std::string bytes;
        ErrorKind kind;
    };
    const Row rows[] = {
        {"", ErrorKind::Damaged},
        {"this is plain text, not a document", ErrorKind::NotWord},
        {std::string("PK\x03\x04", 4) + "rest of a package", ErrorKind::None},
        {std::string("PK\x05\x06", 4) + std::string(18, '\0'), ErrorKind::None},
        {"{\\rtf1\\ansi hello}", ErrorKind::None},
        {std::string("\xDB\xA5\x2D\x00", 4) + std::string(60, '\0'), ErrorKind::None},  // Word 2
        {"\xEF\xBB\xBF<?xml version=\"1.0\"?><w:wordDocument "
         "xmlns:w=\"http://schemas.microsoft.com/office/word/2003/wordml\"/>",
         ErrorKind::None},
        {"<html xmlns:w=\"urn:schemas-microsoft-com:office:word\"><body>x</body></html>", ErrorKind::None},
        {"<html><body>a web page</body></html>", ErrorKind::NotWord},
        {"\x89PNG\r\n\x1a\n", ErrorKind::NotWord},
        {"%PDF-1.7", ErrorKind::NotWord},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Check(row.bytes).kind, row.kind) << "bytes: " << row.bytes.substr(0, 40);
}

TEST(BatchSniff, CompoundFilesByTheirStreams)
{
    struct Row {
        const char* what;
        std::vector<uint8_t> bytes;
        ErrorKind kind;
    };
    const Row rows[] = {
        {"Word 97 document", Compound({"1Table", "WordDocument"}), ErrorKind::None},
        {"encrypted .doc", Compound({"WordDocument", "1Table"}, 0x0100), ErrorKind::Password},
        {"obfuscated .doc", Compound({"WordDocument"}, 0x8100), ErrorKind::Password},
        {"other flags only", Compound({"WordDocument"}, 0x0200 | 0x8000), ErrorKind::None},
        {"encrypted .docx", Compound({"EncryptionInfo", "EncryptedPackage"}), ErrorKind::Password},
        {"spreadsheet", Compound({"Workbook"}), ErrorKind::NotWord},
        {"name in other case", Compound({"wordDOCUMENT"}, 0x0100), ErrorKind::Password},
    };
    for (const Row& row : rows) {
        const CompoundInfo info = ReadCompoundFile(row.bytes.data(), row.bytes.size());
        EXPECT_TRUE(info.valid) << row.what;
        EXPECT_EQ(Check(row.bytes).kind, row.kind) << row.what;
    }
}

TEST(BatchSniff, BrokenCompoundFilesAreLeftToTheEngine)
{
    const std::vector<uint8_t> good = Compound({"WordDocument"}, 0x0100);
    struct Row {
        const char* what;
        size_t offset;
        uint32_t value;
    };
    const Row rows[] = {
        {"sector shift 20", 0x1E, 20},
        {"table sectors past the file", 0x2C, 0x7FFFFFFF},
        {"table sector past the file", 0x4C, 5000},
        {"directory past the file", 0x30, 9999},
        {"directory chain loops", 512 + 4, 1},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> b = good;
        if (row.offset == 0x1E)
            Put16(b, row.offset, uint16_t(row.value));
        else
            Put32(b, row.offset, row.value);
        const CompoundInfo info = ReadCompoundFile(b.data(), b.size());
        EXPECT_FALSE(info.valid) << row.what;
        EXPECT_EQ(Check(b).kind, ErrorKind::None) << row.what;
    }
    // Every shorter cut of the file is read without reading past it (the sanitizer build
    // checks the bounds): too short to hold the stream is never taken for encrypted by chance.
    for (size_t n = 0; n < good.size(); n += 7) {
        const std::vector<uint8_t> cut(good.begin(), good.begin() + long(n));
        const CompoundInfo info = ReadCompoundFile(cut.data(), cut.size());
        if (info.valid && info.wordEncrypted) {
            EXPECT_GE(n, 512u * 3) << "cut at " << n;
        }
    }
    // A stream start past the file's sectors is no file information block.
    std::vector<uint8_t> b = good;
    Put32(b, 512 * 2 + 128 + 0x74, 4000);
    const CompoundInfo info = ReadCompoundFile(b.data(), b.size());
    EXPECT_TRUE(info.valid);
    EXPECT_TRUE(info.wordDocument);
    EXPECT_FALSE(info.wordEncrypted);
}

TEST(BatchSniff, FilesOnDisk)
{
    TempDir dir;
    dir.Write("text.doc", "hello");
    dir.Write("empty.docx", "");
    const std::vector<uint8_t> enc = Compound({"EncryptedPackage"});
    dir.Write("locked.docx", std::string(enc.begin(), enc.end()));
    struct Row {
        std::string path;
        ErrorKind kind;
    } rows[] = {
        {dir / "text.doc", ErrorKind::NotWord},
        {dir / "empty.docx", ErrorKind::Damaged},
        {dir / "locked.docx", ErrorKind::Password},
        {dir / "missing.doc", ErrorKind::NotFound},
        {dir.Path(), ErrorKind::NotWord},
    };
    for (const Row& row : rows) {
        const FileCheck c = CheckDocumentFile(row.path);
        EXPECT_EQ(c.kind, row.kind) << row.path;
        EXPECT_FALSE(c.message.empty()) << row.path;
    }
}

// Real documents from public projects: none is refused before the engine sees it.
TEST(BatchSniff, RealDocumentsPass)
{
    const std::string folder = FOLIUM_CORPUS_DIR;
    DIR* d = opendir(folder.c_str());
    if (!d)
        GTEST_SKIP() << "no corpus at " << folder;
    int n = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        const FileCheck c = CheckDocumentFile(folder + "/" + e->d_name);
        EXPECT_EQ(c.kind, ErrorKind::None) << e->d_name << ": " << c.message;
        ++n;
    }
    closedir(d);
    EXPECT_GT(n, 0);
}

}  // namespace
