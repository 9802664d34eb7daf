#include "serve/Zip.h"

#include <zlib.h>

namespace serve {

namespace {

void Put16(std::string& out, uint32_t v)
{
    out.push_back(char(v & 0xff));
    out.push_back(char((v >> 8) & 0xff));
}

void Put32(std::string& out, uint32_t v)
{
    Put16(out, v & 0xffff);
    Put16(out, v >> 16);
}

// 1980-01-01 00:00, the format's earliest time: an archive's bytes depend on its content alone.
constexpr uint32_t kDosTime = 0;
constexpr uint32_t kDosDate = (0 << 9) | (1 << 5) | 1;
constexpr uint32_t kUtf8Names = 1 << 11;

}  // namespace

bool ZipWriter::Add(const std::string& name, const std::string& data)
{
    const uint64_t offset = m_body.size();
    const uint64_t after = offset + 30 + name.size() + data.size();
    if (name.empty() || name.size() > 0xffff || m_count == 0xffff || data.size() >= 0xffffffffull ||
        after >= 0xffffffffull || m_central.size() + 46 + name.size() >= 0xffffffffull)
        return false;
    const uint32_t crc = uint32_t(crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
    const uint32_t size = uint32_t(data.size());
    // Local header.
    Put32(m_body, 0x04034b50);
    Put16(m_body, 10);  // version needed: 1.0, stored
    Put16(m_body, kUtf8Names);
    Put16(m_body, 0);  // stored
    Put16(m_body, kDosTime);
    Put16(m_body, kDosDate);
    Put32(m_body, crc);
    Put32(m_body, size);
    Put32(m_body, size);
    Put16(m_body, uint32_t(name.size()));
    Put16(m_body, 0);
    m_body += name;
    m_body += data;
    // Its central directory record.
    Put32(m_central, 0x02014b50);
    Put16(m_central, (3 << 8) | 20);  // made by: Unix, 2.0
    Put16(m_central, 10);
    Put16(m_central, kUtf8Names);
    Put16(m_central, 0);
    Put16(m_central, kDosTime);
    Put16(m_central, kDosDate);
    Put32(m_central, crc);
    Put32(m_central, size);
    Put32(m_central, size);
    Put16(m_central, uint32_t(name.size()));
    Put16(m_central, 0);  // extra
    Put16(m_central, 0);  // comment
    Put16(m_central, 0);  // disk
    Put16(m_central, 0);  // internal attributes
    Put32(m_central, 0100644u << 16);  // a plain file, rw-r--r--
    Put32(m_central, uint32_t(offset));
    m_central += name;
    ++m_count;
    return true;
}

std::string ZipWriter::Finish() const
{
    std::string out = m_body + m_central;
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, m_count);
    Put16(out, m_count);
    Put32(out, uint32_t(m_central.size()));
    Put32(out, uint32_t(m_body.size()));
    Put16(out, 0);
    return out;
}

}  // namespace serve
