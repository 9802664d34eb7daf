// A fresh folder for one test under $TMPDIR (else /tmp), removed with everything in it
// afterwards. When no folder can be made the test program stops at once: going on in a
// shared folder would let the clean-up delete what is not the test's.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir()
    {
        const char* base = getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/folium-test-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) {
            fprintf(stderr, "TempDir: mkdtemp(%s) failed: %s\n", tmpl.c_str(), strerror(errno));
            abort();
        }
        m_path = buf.data();
        m_path += "/";
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder with a trailing '/'.
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + name; }

    std::string Write(const std::string& name, const std::string& content) const
    {
        std::ofstream(m_path + name, std::ios::binary) << content;
        return m_path + name;
    }

private:
    std::string m_path;
};

// The file's bytes; "" when it cannot be read (a /proc file of a process that has just ended
// fails its read with ESRCH, which the stream library throws).
inline std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    try {
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
        return std::string();
    }
}
