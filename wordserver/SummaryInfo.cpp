// The page count and the saving application in a binary Word file's summary property set
// (the OLE property set format: a header, a section list, one section of id/offset pairs and
// typed values). The bytes come from the file: nothing here reads past `size`.
#include "FontReport.h"

#include <algorithm>
#include <cstdint>

namespace wordengine {

namespace {

// Little-endian reads that fail rather than read past the end.
struct Bytes {
    const unsigned char* p;
    size_t n;
    bool U16(size_t at, uint16_t* v) const
    {
        if (at > n || n - at < 2)
            return false;
        *v = uint16_t(p[at] | (p[at + 1] << 8));
        return true;
    }
    bool U32(size_t at, uint32_t* v) const
    {
        if (at > n || n - at < 4)
            return false;
        *v = uint32_t(p[at]) | (uint32_t(p[at + 1]) << 8) | (uint32_t(p[at + 2]) << 16) | (uint32_t(p[at + 3]) << 24);
        return true;
    }
};

const uint32_t kPageCount = 14;  // PIDSI_PAGECOUNT
const uint32_t kAppName = 18;    // PIDSI_APPNAME
const uint16_t kVtI4 = 3;
const uint16_t kVtLpstr = 30;
// A section holds a few dozen properties; more than this is damage.
const uint32_t kMaxProperties = 4096;
// An application name longer than this is not one.
const uint32_t kMaxName = 1024;

std::string Latin1ToUtf8(const unsigned char* s, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n && s[i]; ++i) {
        if (s[i] < 0x80) {
            out += char(s[i]);
        } else {
            out += char(0xC0 | (s[i] >> 6));
            out += char(0x80 | (s[i] & 0x3F));
        }
    }
    return out;
}

}  // namespace

bool ParseSummaryInformation(const unsigned char* data, size_t size, int* pages, std::string* application)
{
    *pages = 0;
    application->clear();
    if (!data)
        return false;
    const Bytes b{data, size};
    // Header: byte order 0xFFFE, version, system, class id, section count; then the first
    // section's format id (16 bytes) and offset.
    uint16_t order = 0;
    uint32_t sections = 0, section = 0;
    if (!b.U16(0, &order) || order != 0xFFFE || !b.U32(24, &sections) || sections < 1 || !b.U32(44, &section))
        return false;
    uint32_t sectionSize = 0, count = 0;
    if (!b.U32(section, &sectionSize) || !b.U32(size_t(section) + 4, &count))
        return false;
    // Offsets inside the section count from its start and stay inside it (and the bytes).
    const size_t end = std::min<size_t>(size, size_t(section) + sectionSize);
    if (count > kMaxProperties)
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t id = 0, offset = 0;
        const size_t entry = size_t(section) + 8 + size_t(i) * 8;
        if (entry + 8 > end || !b.U32(entry, &id) || !b.U32(entry + 4, &offset))
            break;
        const size_t at = size_t(section) + offset;
        uint16_t type = 0;
        if (at + 4 > end || !b.U16(at, &type))
            continue;
        if (id == kPageCount && type == kVtI4) {
            uint32_t v = 0;
            if (at + 8 <= end && b.U32(at + 4, &v) && int32_t(v) > 0)
                *pages = int(int32_t(v));
        } else if (id == kAppName && type == kVtLpstr) {
            uint32_t len = 0;
            if (at + 8 <= end && b.U32(at + 4, &len) && len <= kMaxName && len <= end - (at + 8))
                *application = Latin1ToUtf8(data + at + 8, len);
        }
    }
    return true;
}

}  // namespace wordengine
