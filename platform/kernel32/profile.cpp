// Private-profile (INI) files. The file is read whole for every call, as Windows does for
// files it does not map; a write replaces the file by one with one line changed or added.
#include "kernel_private.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
        --e;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// The lines of the file without their line ends; false when the file cannot be read.
bool ReadLines(const char* file, std::vector<std::string>& lines)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return true;
}

// "[name]" (blanks around allowed): the section name, else false.
bool SectionOf(const std::string& line, std::string& name)
{
    std::string t = Trim(line);
    if (t.size() < 2 || t[0] != '[')
        return false;
    size_t close = t.find(']');
    if (close == std::string::npos)
        return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

// "key=value": the trimmed key and value, else false.
bool KeyOf(const std::string& line, std::string& key, std::string& value)
{
    size_t eq = line.find('=');
    if (eq == std::string::npos)
        return false;
    key = Trim(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    return !key.empty();
}

// Finds the value of section/key; false when the file, section or key is missing.
bool LookupValue(const char* section, const char* key, const char* file, std::string& value)
{
    if (!section || !key || !file)
        return false;
    std::vector<std::string> lines;
    if (!ReadLines(file, lines))
        return false;
    bool inSection = false;
    for (const auto& line : lines) {
        std::string name, k, v;
        if (SectionOf(line, name)) {
            inSection = SameName(name, section);
            continue;
        }
        if (inSection && KeyOf(line, k, v) && SameName(k, key)) {
            if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
                v = v.substr(1, v.size() - 2);
            value = v;
            return true;
        }
    }
    return false;
}

bool WriteAll(int fd, const std::string& text)
{
    for (size_t off = 0; off < text.size();) {
        ssize_t n = write(fd, text.data() + off, text.size() - off);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        off += (size_t)n;
    }
    return true;
}

// Writes the whole text into a new file beside the old one and renames it over the old one,
// so that a failed write (a full disk) leaves the old file as it was. Only when the folder
// does not let us create that file at all (no permission) is the file rewritten in place,
// as the folder's owner allowed; a file that could be created but not written never leads
// to rewriting the original. errno tells why on failure.
bool ReplaceFileText(const char* file, const std::string& text)
{
    struct stat old;
    const bool existed = stat(file, &old) == 0;
    if (existed && !S_ISREG(old.st_mode)) {
        errno = EISDIR;
        return false;
    }
    static unsigned s_serial = 0;
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = std::string(file) + "." + std::to_string(getpid()) + "." + std::to_string(++s_serial) + "~";
        fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        if (errno != EACCES && errno != EPERM)
            return false;
        fd = open(file, O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0)
            return false;
        bool ok = WriteAll(fd, text);
        const int err = errno;
        if (close(fd) != 0 && ok)
            return false;
        errno = err;
        return ok;
    }
    if (existed)
        fchmod(fd, old.st_mode & 07777);  // the settings keep who may read them
    bool ok = WriteAll(fd, text) && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(tmp.c_str(), file) == 0)
        return true;
    if (ok)
        err = errno;
    unlink(tmp.c_str());
    errno = err;
    return false;
}

}  // namespace

UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName)
{
    std::string value;
    if (!LookupValue(lpAppName, lpKeyName, lpFileName, value))
        return (UINT)nDefault;
    // Leading decimal number with an optional sign; anything else reads as 0.
    const char* p = value.c_str();
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = (*p == '-');
        ++p;
    }
    UINT n = 0;
    while (*p >= '0' && *p <= '9') {
        n = n * 10u + (UINT)(*p - '0');
        ++p;
    }
    return negative ? (UINT)(0u - n) : n;
}

DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                      LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName)
{
    if (!lpReturnedString || nSize == 0)
        return 0;
    std::string value;
    if (!LookupValue(lpAppName, lpKeyName, lpFileName, value))
        value = Trim(lpDefault ? lpDefault : "");
    size_t n = value.size();
    if (n > nSize - 1)
        n = nSize - 1;
    memcpy(lpReturnedString, value.data(), n);
    lpReturnedString[n] = '\0';
    return (DWORD)n;
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName)
{
    if (!lpAppName || !lpKeyName || !lpString || !lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<std::string> lines;
    ReadLines(lpFileName, lines);  // a missing file starts empty

    const std::string newLine = std::string(lpKeyName) + "=" + lpString;
    bool inSection = false;
    bool sectionFound = false;
    size_t insertAt = 0;  // after the last non-blank line of the section
    bool done = false;
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        std::string name, k, v;
        if (SectionOf(lines[i], name)) {
            if (inSection)
                break;  // the section ended without the key
            inSection = SameName(name, lpAppName);
            if (inSection) {
                sectionFound = true;
                insertAt = i + 1;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (KeyOf(lines[i], k, v) && SameName(k, lpKeyName)) {
            lines[i] = newLine;
            done = true;
        } else if (!Trim(lines[i]).empty()) {
            insertAt = i + 1;
        }
    }
    if (!done) {
        if (sectionFound) {
            lines.insert(lines.begin() + (long)insertAt, newLine);
        } else {
            lines.push_back(std::string("[") + lpAppName + "]");
            lines.push_back(newLine);
        }
    }

    std::string text;
    for (const auto& l : lines)
        text += l + "\n";

    if (!ReplaceFileText(lpFileName, text)) {
        platform::SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}
