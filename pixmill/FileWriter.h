// A file being written by a codec. A write error is remembered, and Close reports it and
// removes the incomplete file, so that a full disk is a failed save rather than a damaged
// picture reported as saved.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace pixmill {

class FileWriter {
public:
    ~FileWriter()
    {
        if (m_pFile)
            Close();
    }
    // Creates or truncates the file for raw byte writing.
    bool Open(const char* szFileName)
    {
        if (!szFileName)
            return false;
        m_pFile = fopen(szFileName, "wb");
        if (!m_pFile)
            return false;
        m_strName = szFileName;
        return true;
    }
    void Write(const void* p, size_t n)
    {
        if (m_pFile && n && fwrite(p, 1, n, m_pFile) != n)
            m_bFailed = true;
    }
    // True when every byte reached the file.
    bool Close()
    {
        if (!m_pFile)
            return false;
        if (fclose(m_pFile) != 0)
            m_bFailed = true;
        m_pFile = nullptr;
        if (m_bFailed)
            remove(m_strName.c_str());
        return !m_bFailed;
    }

private:
    FILE* m_pFile = nullptr;
    bool m_bFailed = false;
    std::string m_strName;
};

}  // namespace pixmill
