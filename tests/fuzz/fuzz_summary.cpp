// libFuzzer target: the summary property set decoder over arbitrary bytes (a .doc's
// "\005SummaryInformation" stream is the file's). Checks: it never reads outside the bytes
// (the sanitizers watch), a count is positive or 0, and the application name is text of at
// most the decoder's limit.
#include "FontReport.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly `size` bytes, so that a read past them is a heap overflow.
    std::vector<unsigned char> bytes(data, data + size);
    int pages = -1;
    std::string app;
    const bool ok = wordengine::ParseSummaryInformation(bytes.data(), bytes.size(), &pages, &app);
    if (pages < 0 || app.size() > 2048 || (!ok && (pages != 0 || !app.empty())))
        abort();
    return 0;
}
