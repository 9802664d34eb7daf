// libFuzzer target: what pagesnap-serve reads from a request itself. The first byte picks the
// reader; the rest is its input ("<name>\0<value>" for a field). Checked: a document's base
// never holds a path separator or a control character and is never "." or "..", a name taken
// from Content-Disposition is a part of the header, and a taken field leaves settings in range.
#include "serve/Params.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string in(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string error;
    switch (data[0] % 3) {
    case 0: {
        std::string base;
        if (serve::DocumentBase(in, &base, &error)) {
            if (base.empty() || base == "." || base == ".." || base.find_first_of("/\\") != std::string::npos)
                abort();
            for (char c : base)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                    abort();
        }
        break;
    }
    case 1:
        if (in.find(serve::DispositionFilename(in)) == std::string::npos)
            abort();
        break;
    default: {
        const size_t nul = in.find('\0');
        serve::RequestSettings s;
        std::vector<std::string> seen;
        const std::string name = in.substr(0, nul), value = nul == std::string::npos ? "" : in.substr(nul + 1);
        if (serve::TakeField(name, value, &s, &seen, &error) &&
            (s.dpi < 24 || s.dpi > 600 || s.quality < 1 || s.quality > 100))
            abort();
        break;
    }
    }
    return 0;
}
