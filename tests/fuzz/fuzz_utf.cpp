// libFuzzer target: the UTF-8 / UTF-16 conversions. The first byte picks the direction; the
// rest is the text. Checks: the size query equals the converted length, a buffer one short
// is refused untouched, nothing is written past the result, and text that is valid in its
// encoding comes back unchanged from the round trip.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const char16_t kSentinel16 = 0xBEEF;
const char kSentinel8 = '\xEF';

void Fail(const char* what)
{
    fprintf(stderr, "%s\n", what);
    abort();
}

// Independent check of well-formed UTF-8 (RFC 3629).
bool ValidUtf8(const unsigned char* s, size_t n)
{
    for (size_t i = 0; i < n;) {
        unsigned char c = s[i];
        size_t len = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3
                                                                   : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
        if (len == 0 || i + len > n)
            return false;
        for (size_t k = 1; k < len; ++k)
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
        if ((c == 0xE0 && s[i + 1] < 0xA0) || (c == 0xED && s[i + 1] > 0x9F) || (c == 0xF0 && s[i + 1] < 0x90) ||
            (c == 0xF4 && s[i + 1] > 0x8F))
            return false;
        i += len;
    }
    return true;
}

bool ValidUtf16(const char16_t* s, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (s[i] >= 0xD800 && s[i] <= 0xDBFF) {
            if (i + 1 >= n || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

std::vector<char16_t> ToWide(const char* s, int n)
{
    const int need = MultiByteToWideChar(CP_UTF8, 0, s, n, nullptr, 0);
    if (need <= 0)
        Fail("size query of a non-empty text gave nothing");
    std::vector<char16_t> out((size_t)need + 1, kSentinel16);
    if (need > 1 && MultiByteToWideChar(CP_UTF8, 0, s, n, out.data(), need - 1) != 0)
        Fail("MultiByteToWideChar wrote into a buffer one short");
    for (char16_t c : out)
        if (need > 1 && c != kSentinel16)
            Fail("MultiByteToWideChar touched a buffer it refused");
    if (MultiByteToWideChar(CP_UTF8, 0, s, n, out.data(), need) != need)
        Fail("MultiByteToWideChar gave another length than its size query");
    if (out[(size_t)need] != kSentinel16)
        Fail("MultiByteToWideChar wrote past its result");
    out.resize((size_t)need);
    return out;
}

std::vector<char> ToUtf8(const char16_t* s, int n)
{
    const int need = WideCharToMultiByte(CP_UTF8, 0, s, n, nullptr, 0, nullptr, nullptr);
    if (need <= 0)
        Fail("size query of a non-empty wide text gave nothing");
    std::vector<char> out((size_t)need + 1, kSentinel8);
    if (need > 1 && WideCharToMultiByte(CP_UTF8, 0, s, n, out.data(), need - 1, nullptr, nullptr) != 0)
        Fail("WideCharToMultiByte wrote into a buffer one short");
    for (char c : out)
        if (need > 1 && c != kSentinel8)
            Fail("WideCharToMultiByte touched a buffer it refused");
    if (WideCharToMultiByte(CP_UTF8, 0, s, n, out.data(), need, nullptr, nullptr) != need)
        Fail("WideCharToMultiByte gave another length than its size query");
    if (out[(size_t)need] != kSentinel8)
        Fail("WideCharToMultiByte wrote past its result");
    out.resize((size_t)need);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > 4096)
        return 0;
    const bool fromWide = data[0] & 1;
    ++data;
    --size;
    if (!fromWide) {
        const char* s = reinterpret_cast<const char*>(data);
        std::vector<char16_t> wide = ToWide(s, (int)size);
        if (!ValidUtf16(wide.data(), wide.size()))
            Fail("UTF-8 decoding made malformed UTF-16");
        std::vector<char> back = ToUtf8(wide.data(), (int)wide.size());
        if (ValidUtf8(data, size) && (back.size() != size || memcmp(back.data(), data, size) != 0))
            Fail("valid UTF-8 did not come back unchanged");
        // Every character of the result is valid: converting again changes nothing.
        if (ToWide(back.data(), (int)back.size()) != wide)
            Fail("the UTF-8 made from decoded text does not decode to the same text");
    } else {
        if (size < 2)
            return 0;
        std::vector<char16_t> in(size / 2);
        memcpy(in.data(), data, in.size() * 2);
        std::vector<char> narrow = ToUtf8(in.data(), (int)in.size());
        if (!ValidUtf8(reinterpret_cast<const unsigned char*>(narrow.data()), narrow.size()))
            Fail("UTF-16 encoding made malformed UTF-8");
        std::vector<char16_t> back = ToWide(narrow.data(), (int)narrow.size());
        if (ValidUtf16(in.data(), in.size()) && back != in)
            Fail("valid UTF-16 did not come back unchanged");
    }
    return 0;
}
