// What every front end asks of a conversion: the picture format, the resolution, the pages,
// the JPEG quality, and how many documents go at once.
#pragma once

#include <string>
#include <vector>

namespace convert {

enum class ImageFormat { Png, Jpg, Bmp };

// "png", "jpg", "bmp"
const char* FormatExtension(ImageFormat f);
// "png", "jpg" (also "jpeg") or "bmp"; false for anything else, leaving *out as it was.
bool ParseFormat(const std::string& text, ImageFormat* out);

constexpr int kMinDpi = 24;
constexpr int kMaxDpi = 600;

// An engine is replaced between documents past these (see pagesnap-batch's help text for how
// they were chosen).
constexpr int kDefaultEngineMemoryMb = 1024;
constexpr int kDefaultEngineDocuments = 250;

// A whole decimal number within [lo, hi]; nothing else (no sign, no spaces, no trailing text).
bool ParseInt(const std::string& s, int lo, int hi, int* out);

// One item of a page list: first..last (from 1); last 0 means "to the end".
struct PageRange {
    int first;
    int last;
};

// Parses "1-3,5,8-" (also "-3"): false with a message naming the bad item.
bool ParsePageList(const std::string& text, std::vector<PageRange>* out, std::string* error);

// The pages of the list that exist in a document of nCount pages, ascending, each once; the
// requested pages past the end go to *pSkipped as ranges of text ("9", "12-14", "20-").
std::vector<int> SelectPages(const std::vector<PageRange>& ranges, int nCount, std::vector<std::string>* pSkipped);

// Hands the folders of --fonts to the engines that workers start from now on (through the
// environment, as absolute paths). False, naming the folder as "--fonts: ...", when one is not a
// folder that can be read.
bool SetEngineFonts(const std::vector<std::string>& dirs, std::string* error);

// The number of cores, at most 8 (at least 1).
int DefaultJobs();

}  // namespace convert
