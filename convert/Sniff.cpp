// File classification by content. The compound-file reader follows the allocation table
// with every sector number, chain length and offset checked: the bytes are untrusted.
#include "convert/Sniff.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace convert {

namespace {

const uint8_t kCompoundMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
const uint32_t kEndOfChain = 0xFFFFFFFEu;
const uint32_t kMaxRegularSector = 0xFFFFFFFAu;
// Files past this are handed to the engine unread: the check is a convenience, not a gate.
const size_t kMaxRead = 256u << 20;

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }

struct Compound {
    const uint8_t* data;
    size_t size;
    unsigned shift;
    size_t sectorSize;
    size_t sectorCount;  // whole sectors after the header
    std::vector<uint32_t> fat;

    // The sector's bytes, or null when it lies outside the file.
    const uint8_t* Sector(uint32_t n) const
    {
        if (n > kMaxRegularSector || n >= sectorCount)
            return nullptr;
        return data + (size_t(n) + 1) * sectorSize;
    }

    bool ReadFat()
    {
        const uint32_t nFatSectors = U32(data + 0x2C);
        uint32_t difat = U32(data + 0x44);
        const uint32_t nDifat = U32(data + 0x48);
        if (nFatSectors > sectorCount || nDifat > sectorCount)
            return false;
        std::vector<uint32_t> fatSectors;
        for (int i = 0; i < 109 && fatSectors.size() < nFatSectors; ++i)
            fatSectors.push_back(U32(data + 0x4C + 4 * i));
        const size_t perDifat = sectorSize / 4 - 1;
        for (uint32_t d = 0; d < nDifat && fatSectors.size() < nFatSectors; ++d) {
            const uint8_t* s = Sector(difat);
            if (!s)
                return false;
            for (size_t i = 0; i < perDifat && fatSectors.size() < nFatSectors; ++i)
                fatSectors.push_back(U32(s + 4 * i));
            difat = U32(s + 4 * perDifat);
        }
        if (fatSectors.size() < nFatSectors)
            return false;
        fat.reserve(fatSectors.size() * (sectorSize / 4));
        for (uint32_t fs : fatSectors) {
            const uint8_t* s = Sector(fs);
            if (!s)
                return false;
            for (size_t i = 0; i < sectorSize / 4; ++i)
                fat.push_back(U32(s + 4 * i));
        }
        return true;
    }

    // The sectors of the chain from start; false for a chain that leaves the file or loops.
    bool Chain(uint32_t start, std::vector<uint32_t>* out) const
    {
        out->clear();
        uint32_t n = start;
        while (n != kEndOfChain) {
            if (!Sector(n) || n >= fat.size() || out->size() >= sectorCount)
                return false;
            out->push_back(n);
            n = fat[n];
        }
        return true;
    }
};

// The entry's name (UTF-16, length in bytes with the terminator) equals ascii, letter case ignored.
bool EntryNameIs(const uint8_t* entry, const char* ascii)
{
    const size_t n = std::strlen(ascii);
    const uint16_t bytes = U16(entry + 0x40);
    if (bytes != (n + 1) * 2)
        return false;
    for (size_t i = 0; i < n; ++i) {
        const uint16_t c = U16(entry + 2 * i);
        const char a = ascii[i];
        if (c != uint8_t(a) && !(a >= 'A' && a <= 'Z' && c == uint8_t(a - 'A' + 'a')) &&
            !(a >= 'a' && a <= 'z' && c == uint8_t(a - 'a' + 'A')))
            return false;
    }
    return true;
}

bool StartsWith(const uint8_t* data, size_t size, const char* text)
{
    const size_t n = std::strlen(text);
    return size >= n && std::memcmp(data, text, n) == 0;
}

// Word's own markup (WordprocessingML 2003, or a web page saved by Word), found in its opening.
bool IsWordMarkup(const uint8_t* data, size_t size)
{
    size_t i = 0;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        i = 3;
    while (i < size && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n'))
        ++i;
    if (i >= size || data[i] != '<')
        return false;
    std::string head(reinterpret_cast<const char*>(data), std::min(size, size_t(8192)));
    for (char& c : head)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return head.find("schemas.microsoft.com/office/word") != std::string::npos ||
           head.find("urn:schemas-microsoft-com:office:word") != std::string::npos;
}

}  // namespace

const char* ErrorKindName(ErrorKind k)
{
    switch (k) {
    case ErrorKind::None: return "";
    case ErrorKind::NotFound: return "not found";
    case ErrorKind::NotWord: return "not a Word document";
    case ErrorKind::Password: return "password-protected";
    case ErrorKind::Damaged: return "damaged";
    case ErrorKind::TimedOut: return "timed out";
    case ErrorKind::EngineFailed: return "engine failed";
    case ErrorKind::WriteFailed: return "write failed";
    }
    return "";
}

CompoundInfo ReadCompoundFile(const uint8_t* data, size_t size)
{
    CompoundInfo info;
    if (!data || size < 512 || std::memcmp(data, kCompoundMagic, 8) != 0)
        return info;
    Compound c;
    c.data = data;
    c.size = size;
    c.shift = U16(data + 0x1E);
    if (c.shift != 9 && c.shift != 12)
        return info;
    c.sectorSize = size_t(1) << c.shift;
    // Version 4 files keep a 4096-byte header sector; the rest is whole sectors after it.
    if (size < c.sectorSize)
        return info;
    c.sectorCount = size / c.sectorSize - 1;
    if (!c.ReadFat())
        return info;

    std::vector<uint32_t> dir;
    if (!c.Chain(U32(data + 0x30), &dir) || dir.empty())
        return info;
    uint32_t wordStart = 0;
    uint64_t wordSize = 0;
    for (uint32_t s : dir) {
        const uint8_t* sector = c.Sector(s);
        for (size_t off = 0; off + 128 <= c.sectorSize; off += 128) {
            const uint8_t* e = sector + off;
            const uint8_t type = e[0x42];
            if (type != 2)  // streams only
                continue;
            if (EntryNameIs(e, "EncryptedPackage"))
                info.encryptedPackage = true;
            else if (EntryNameIs(e, "WordDocument") && !info.wordDocument) {
                info.wordDocument = true;
                wordStart = U32(e + 0x74);
                wordSize = U32(e + 0x78);  // the high half is unreliable in version 3 files
            }
        }
    }
    info.valid = true;
    // The file information block opens the stream; streams under 4096 bytes live in the
    // mini stream, which no real Word document's main stream does.
    if (info.wordDocument && wordSize >= 4096) {
        if (const uint8_t* fib = c.Sector(wordStart)) {
            const uint16_t flags = U16(fib + 0x0A);
            info.wordEncrypted = (flags & 0x0100) != 0;  // fEncrypted (covers obfuscation too)
        }
    }
    return info;
}

FileCheck CheckDocumentBytes(const uint8_t* data, size_t size)
{
    FileCheck r;
    if (size == 0) {
        r.kind = ErrorKind::Damaged;
        r.message = "the file is empty";
        return r;
    }
    if (size >= 8 && std::memcmp(data, kCompoundMagic, 8) == 0) {
        const CompoundInfo info = ReadCompoundFile(data, size);
        if (!info.valid)
            return r;  // the engine may still read it; if not, it is damaged
        if (info.encryptedPackage || info.wordEncrypted) {
            r.kind = ErrorKind::Password;
            r.message = "the document is protected by a password";
        } else if (!info.wordDocument) {
            r.kind = ErrorKind::NotWord;
            r.message = "a compound file without a Word document stream";
        }
        return r;
    }
    // Word 2007 and later (a ZIP package), RTF, Word 1 and 2 and Word for DOS, Word's XML.
    if (StartsWith(data, size, "PK\x03\x04") || StartsWith(data, size, "PK\x05\x06") ||
        StartsWith(data, size, "{\\rtf") || IsWordMarkup(data, size))
        return r;
    if (size >= 2) {
        const uint16_t ident = U16(data);
        if (ident == 0xA5DB || ident == 0xA59B || ident == 0xBE31)
            return r;
    }
    r.kind = ErrorKind::NotWord;
    r.message = "the file's content is not in a Word format";
    return r;
}

FileCheck CheckDocumentFile(const std::string& path)
{
    FileCheck r;
    struct stat sb;
    if (stat(path.c_str(), &sb) != 0) {
        r.kind = ErrorKind::NotFound;
        r.message = std::string("cannot be found: ") + std::strerror(errno);
        return r;
    }
    if (!S_ISREG(sb.st_mode)) {
        r.kind = ErrorKind::NotWord;
        r.message = "not a regular file";
        return r;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        r.kind = ErrorKind::NotFound;
        r.message = std::string("cannot be read: ") + std::strerror(errno);
        return r;
    }
    const size_t want = size_t(std::min<off_t>(sb.st_size, off_t(kMaxRead)));
    std::vector<uint8_t> bytes(want);
    size_t got = 0;
    while (got < want) {
        const ssize_t n = read(fd, bytes.data() + got, want - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    close(fd);
    if (sb.st_size > off_t(kMaxRead) && got >= 8 && std::memcmp(bytes.data(), kCompoundMagic, 8) == 0)
        return r;  // too large to read whole: left to the engine
    return CheckDocumentBytes(bytes.data(), got);
}

}  // namespace convert
