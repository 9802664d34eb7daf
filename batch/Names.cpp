#include "batch/Names.h"

#include <set>

namespace batch {

namespace {

// Names compared as a case-insensitive file system would compare them (ASCII).
std::string Folded(const std::string& s)
{
    std::string f = s;
    for (char& c : f)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return f;
}

}  // namespace

std::string BaseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

std::vector<std::string> AssignBases(const std::vector<std::string>& paths)
{
    std::set<std::string> own;
    for (const std::string& p : paths)
        own.insert(Folded(BaseName(p)));
    std::set<std::string> taken;
    std::vector<std::string> bases;
    for (const std::string& p : paths) {
        const std::string base = BaseName(p);
        std::string chosen = base;
        if (taken.count(Folded(base))) {
            // Another document's own base is reserved for it even when it comes later.
            for (int k = 2;; ++k) {
                chosen = base + "-" + std::to_string(k);
                if (!taken.count(Folded(chosen)) && !own.count(Folded(chosen)))
                    break;
            }
        }
        taken.insert(Folded(chosen));
        bases.push_back(chosen);
    }
    return bases;
}

std::string PictureName(const std::string& base, int page, const char* ext)
{
    return base + "_" + std::to_string(page) + "." + ext;
}

}  // namespace batch
