// A ZIP archive of stored (uncompressed) entries in memory: the pictures of a request are PNG,
// JPEG or BMP files, and the first two do not shrink any further.
#pragma once

#include <cstdint>
#include <string>

namespace serve {

class ZipWriter {
public:
    // Adds an entry; false when the archive would pass the classic format's limits (4 GiB,
    // 65535 entries) or the name is empty or longer than 65535 bytes. Names are UTF-8.
    bool Add(const std::string& name, const std::string& data);
    // The whole archive: the entries, the central directory and its end record.
    std::string Finish() const;

private:
    std::string m_body;
    std::string m_central;
    uint16_t m_count = 0;
};

}  // namespace serve
