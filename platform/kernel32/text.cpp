// Code-page conversion: the ANSI code page is UTF-8, wide text is UTF-16.
#include "kernel_private.h"

#include <string>

namespace {

const char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at s[i] (n bytes available); advances i. Invalid or truncated
// sequences, overlong forms and surrogates give U+FFFD and consume one byte.
char32_t DecodeUtf8(const unsigned char* s, size_t n, size_t& i)
{
    unsigned char c = s[i];
    if (c < 0x80) {
        ++i;
        return c;
    }
    int len = (c >= 0xF0 && c <= 0xF4) ? 4 : (c >= 0xE0) ? 3 : (c >= 0xC2 && c <= 0xDF) ? 2 : 0;
    if (len == 0 || c > 0xF4 || i + (size_t)len > n) {
        ++i;
        return kReplacement;
    }
    char32_t cp = c & (0xFF >> (len + 1));
    for (int k = 1; k < len; ++k) {
        unsigned char cc = s[i + (size_t)k];
        if ((cc & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += (size_t)len;
    return cp;
}

bool ValidCodePage(UINT cp) { return cp == CP_ACP || cp == CP_UTF8; }

}  // namespace

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar)
{
    if (!ValidCodePage(CodePage) || !lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = cbMultiByte == -1 ? strlen(lpMultiByteStr) + 1 : (size_t)cbMultiByte;
    const auto* s = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    std::u16string out;
    out.reserve(n);
    for (size_t i = 0; i < n;) {
        char32_t cp = DecodeUtf8(s, n, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back((char16_t)(0xD800 + (cp >> 10)));
            out.push_back((char16_t)(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back((char16_t)cp);
        }
    }
    if (cchWideChar == 0)
        return (int)out.size();
    if (out.size() > (size_t)cchWideChar) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpWideCharStr, out.data(), out.size() * sizeof(char16_t));
    return (int)out.size();
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR, LPBOOL lpUsedDefaultChar)
{
    if (!ValidCodePage(CodePage) || !lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && !lpMultiByteStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = 0;
    if (cchWideChar == -1) {
        while (lpWideCharStr[n])
            ++n;
        ++n;
    } else {
        n = (size_t)cchWideChar;
    }
    if (lpUsedDefaultChar)
        *lpUsedDefaultChar = FALSE;
    std::string out;
    out.reserve(n * 3);
    for (size_t i = 0; i < n; ++i) {
        char32_t cp = lpWideCharStr[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && lpWideCharStr[i + 1] >= 0xDC00 && lpWideCharStr[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lpWideCharStr[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;  // lone surrogate
        }
        if (cp < 0x80) {
            out.push_back((char)cp);
        } else if (cp < 0x800) {
            out.push_back((char)(0xC0 | (cp >> 6)));
            out.push_back((char)(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back((char)(0xE0 | (cp >> 12)));
            out.push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back((char)(0x80 | (cp & 0x3F)));
        } else {
            out.push_back((char)(0xF0 | (cp >> 18)));
            out.push_back((char)(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back((char)(0x80 | (cp & 0x3F)));
        }
    }
    if (cbMultiByte == 0)
        return (int)out.size();
    if (out.size() > (size_t)cbMultiByte) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpMultiByteStr, out.data(), out.size());
    return (int)out.size();
}
