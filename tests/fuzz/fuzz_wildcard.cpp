// libFuzzer target: the file search's name matching against a plain dynamic-programming
// matcher. The input is "<pattern>\0<name>"; any disagreement is a finding.
#include "kernel_private.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// match[i][j]: pattern from i matches name from j.
bool Reference(const std::string& p, const std::string& n)
{
    std::vector<std::vector<char>> m(p.size() + 1, std::vector<char>(n.size() + 1, 0));
    m[p.size()][n.size()] = 1;
    for (size_t i = p.size(); i-- > 0;) {
        for (size_t j = n.size() + 1; j-- > 0;) {
            if (p[i] == '*')
                m[i][j] = m[i + 1][j] || (j < n.size() && m[i][j + 1]);
            else if (j < n.size() && (p[i] == '?' || tolower((unsigned char)p[i]) == tolower((unsigned char)n[j])))
                m[i][j] = m[i + 1][j + 1];
        }
    }
    return m[0][0];
}

bool ReferenceWithShortName(const std::string& p, const std::string& n)
{
    if (Reference(p, n))
        return true;
    const size_t dot = n.rfind('.');
    if (dot == std::string::npos || dot == 0 || n.size() - dot - 1 <= 3)
        return false;
    return Reference(p, n.substr(0, dot + 4));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 512)
        return 0;
    const std::string in(reinterpret_cast<const char*>(data), size);
    const size_t nul = in.find('\0');
    if (nul == std::string::npos)
        return 0;
    const std::string pattern = in.substr(0, nul);
    std::string name = in.substr(nul + 1);
    name = name.substr(0, name.find('\0'));

    const bool got = platform::WildMatch(pattern.c_str(), name.c_str());
    const bool gotAll = platform::NameMatches(pattern.c_str(), name.c_str());
    if (got != Reference(pattern, name) || gotAll != ReferenceWithShortName(pattern, name)) {
        fprintf(stderr, "pattern \"%s\" name \"%s\": WildMatch %d NameMatches %d\n", pattern.c_str(), name.c_str(),
                got, gotAll);
        abort();
    }
    return 0;
}
