// A fresh folder under /tmp for one test, removed with everything in it afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/folium-test-XXXXXX";
        const char* p = mkdtemp(tmpl);
        m_path = p ? p : "/tmp";
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

inline std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
