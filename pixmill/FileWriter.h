// A file being written by a codec. A write error is remembered, and Close reports it and
// removes the incomplete file, so that a full disk is a failed save rather than a damaged
// picture reported as saved. The name is never followed through a symbolic link: a link (or
// anything but a regular file) planted at it makes the save fail and is left as it is, so
// the file it points at is neither truncated nor written.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace pixmill {

class FileWriter {
public:
    ~FileWriter()
    {
        if (m_hFile != INVALID_HANDLE_VALUE)
            Close();
    }
    // Creates or replaces the file for raw byte writing.
    bool Open(const char* szFileName)
    {
        if (!szFileName)
            return false;
        m_hFile = CreateFileA(szFileName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (m_hFile == INVALID_HANDLE_VALUE)
            return false;
        m_strName = szFileName;
        m_buffer.reserve(kBufferSize);
        return true;
    }
    void Write(const void* p, size_t n)
    {
        if (m_hFile == INVALID_HANDLE_VALUE || m_bFailed || !n)
            return;
        if (m_buffer.size() + n > kBufferSize) {
            Flush();
            if (n >= kBufferSize) {
                WriteThrough(p, n);
                return;
            }
        }
        const char* c = static_cast<const char*>(p);
        m_buffer.insert(m_buffer.end(), c, c + n);
    }
    // True when every byte reached the file.
    bool Close()
    {
        if (m_hFile == INVALID_HANDLE_VALUE)
            return false;
        Flush();
        if (!CloseHandle(m_hFile))
            m_bFailed = true;
        m_hFile = INVALID_HANDLE_VALUE;
        if (m_bFailed)
            DeleteFileA(m_strName.c_str());
        return !m_bFailed;
    }

private:
    static const size_t kBufferSize = 1 << 16;

    void Flush()
    {
        if (!m_buffer.empty())
            WriteThrough(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
    }
    void WriteThrough(const void* p, size_t n)
    {
        const char* c = static_cast<const char*>(p);
        while (n > 0 && !m_bFailed) {
            const DWORD nChunk = n > 0x40000000u ? 0x40000000u : (DWORD)n;
            DWORD nDone = 0;
            if (!WriteFile(m_hFile, c, nChunk, &nDone, nullptr) || nDone != nChunk)
                m_bFailed = true;
            c += nChunk;
            n -= nChunk;
        }
    }

    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    bool m_bFailed = false;
    std::string m_strName;
    std::vector<char> m_buffer;
};

}  // namespace pixmill
