// The settings every front end shares: picture format, page lists, resolution bounds, jobs.
#include "convert/Settings.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <set>
#include <thread>

namespace convert {

namespace {

std::string RangeText(int first, int last)
{
    if (last == 0)
        return std::to_string(first) + "-";
    if (first == last)
        return std::to_string(first);
    return std::to_string(first) + "-" + std::to_string(last);
}

}  // namespace

// A whole decimal number within [lo, hi]; nothing else (no sign games, no trailing text).
bool ParseInt(const std::string& s, int lo, int hi, int* out)
{
    if (s.empty() || s.size() > 9)
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    const long v = std::strtol(s.c_str(), nullptr, 10);
    if (v < lo || v > hi)
        return false;
    *out = int(v);
    return true;
}

const char* FormatExtension(ImageFormat f)
{
    switch (f) {
    case ImageFormat::Png: return "png";
    case ImageFormat::Jpg: return "jpg";
    case ImageFormat::Bmp: return "bmp";
    }
    return "png";
}

bool ParseFormat(const std::string& text, ImageFormat* out)
{
    for (ImageFormat f : {ImageFormat::Png, ImageFormat::Jpg, ImageFormat::Bmp})
        if (text == FormatExtension(f) || (f == ImageFormat::Jpg && text == "jpeg")) {
            *out = f;
            return true;
        }
    return false;
}

bool ParsePageList(const std::string& text, std::vector<PageRange>* out, std::string* error)
{
    out->clear();
    size_t pos = 0;
    for (;;) {
        size_t comma = text.find(',', pos);
        const std::string item = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        const size_t dash = item.find('-');
        PageRange r{0, 0};
        bool ok;
        if (dash == std::string::npos) {
            ok = ParseInt(item, 1, INT_MAX / 2, &r.first);
            r.last = r.first;
        } else {
            const std::string a = item.substr(0, dash), b = item.substr(dash + 1);
            // "-3" starts at the first page, "8-" runs to the last; "-" alone is neither.
            ok = !(a.empty() && b.empty());
            if (ok && a.empty())
                r.first = 1;
            else if (ok)
                ok = ParseInt(a, 1, INT_MAX / 2, &r.first);
            if (ok && !b.empty())
                ok = ParseInt(b, 1, INT_MAX / 2, &r.last) && r.last >= r.first;
        }
        if (!ok) {
            *error = "bad page or range '" + item + "' (use e.g. 1-3,5,8-)";
            out->clear();
            return false;
        }
        out->push_back(r);
        if (comma == std::string::npos)
            return true;
        pos = comma + 1;
    }
}

std::vector<int> SelectPages(const std::vector<PageRange>& ranges, int nCount, std::vector<std::string>* pSkipped)
{
    std::vector<int> pages;
    if (ranges.empty()) {
        for (int i = 1; i <= nCount; ++i)
            pages.push_back(i);
        return pages;
    }
    std::set<int> chosen;
    for (const PageRange& r : ranges) {
        const int last = r.last == 0 ? nCount : r.last;
        for (int i = r.first; i <= std::min(last, nCount); ++i)
            chosen.insert(i);
        // What lies past the end is named once per request, as it was asked for.
        if (pSkipped && r.last == 0 && r.first > nCount)
            pSkipped->push_back(RangeText(r.first, 0));
        else if (pSkipped && r.last > nCount)
            pSkipped->push_back(RangeText(std::max(r.first, nCount + 1), r.last));
    }
    pages.assign(chosen.begin(), chosen.end());
    return pages;
}

bool SetEngineFonts(const std::vector<std::string>& dirs, std::string* error)
{
    std::string fonts;
    for (const std::string& dir : dirs) {
        char real[PATH_MAX];
        struct stat sb;
        if (!realpath(dir.c_str(), real) || stat(real, &sb) != 0 || !S_ISDIR(sb.st_mode) ||
            access(real, R_OK | X_OK) != 0 || std::strchr(real, ':')) {
            *error = "--fonts: '" + dir + "' is not a folder that can be read";
            return false;
        }
        fonts += (fonts.empty() ? "" : ":") + std::string(real);
    }
    if (!fonts.empty())
        setenv("FOLIUM_ENGINE_FONTS", fonts.c_str(), 1);
    return true;
}

int DefaultJobs()
{
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : int(std::min(n, 8u));
}

}  // namespace convert
