// BSTR allocation: a uint32 byte count, the UTF-16 characters and a 0 terminator in one block;
// the BSTR points at the first character, as on Windows.
#include <oleauto.h>

#include <cstdlib>
#include <cstring>

namespace {

const size_t kPrefix = sizeof(uint32_t);

uint32_t* Prefix(BSTR b)
{
    return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(b) - kPrefix);
}

size_t Length(const OLECHAR* s)
{
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

} // namespace

extern "C" BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui)
{
    // The byte count must fit the 32-bit prefix.
    if (ui > (UINT32_MAX - kPrefix - sizeof(OLECHAR)) / sizeof(OLECHAR))
        return nullptr;
    const size_t bytes = size_t(ui) * sizeof(OLECHAR);
    char* block = static_cast<char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
    if (!block)
        return nullptr;
    const uint32_t count = uint32_t(bytes);
    std::memcpy(block, &count, kPrefix);
    BSTR b = reinterpret_cast<BSTR>(block + kPrefix);
    if (strIn)
        std::memcpy(b, strIn, bytes);
    b[ui] = 0;
    return b;
}

extern "C" BSTR WINAPI SysAllocString(const OLECHAR* psz)
{
    if (!psz)
        return nullptr;
    const size_t n = Length(psz);
    if (n > UINT32_MAX)
        return nullptr;
    return SysAllocStringLen(psz, UINT(n));
}

extern "C" void WINAPI SysFreeString(BSTR bstrString)
{
    if (bstrString)
        std::free(Prefix(bstrString));
}

extern "C" UINT WINAPI SysStringByteLen(BSTR bstr)
{
    if (!bstr)
        return 0;
    uint32_t count;
    std::memcpy(&count, Prefix(bstr), kPrefix);
    return count;
}

extern "C" UINT WINAPI SysStringLen(BSTR pbstr)
{
    return SysStringByteLen(pbstr) / sizeof(OLECHAR);
}
