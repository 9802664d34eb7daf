// Private-profile (INI) files. The file is read whole for every call, as Windows does for
// files it does not map; a write rewrites the file with one line changed or added.
#include "kernel_private.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
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

    // Write a sibling file and rename it over the old one, so that a failed write never
    // leaves a half-written settings file; fall back to writing in place when the folder
    // does not let us create the sibling.
    std::string tmp = std::string(lpFileName) + ".tmp~";
    FILE* f = fopen(tmp.c_str(), "wb");
    if (f) {
        bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
        ok = (fclose(f) == 0) && ok;
        if (ok && rename(tmp.c_str(), lpFileName) == 0)
            return TRUE;
        unlink(tmp.c_str());
    }
    f = fopen(lpFileName, "wb");
    if (!f) {
        platform::SetLastErrorFromErrno(errno);
        return FALSE;
    }
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (fclose(f) == 0) && ok;
    if (!ok)
        SetLastError(ERROR_ACCESS_DENIED);
    return ok ? TRUE : FALSE;
}
