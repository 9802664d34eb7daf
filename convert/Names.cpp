#include "convert/Names.h"

#include <set>

namespace convert {

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

namespace {

// The extension of a path's name, without its dot ("" when it has none).
std::string Extension(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

}  // namespace

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
            // As Pagesnap names them: "<base>_<extension>", then "<base>_<extension><k>" from
            // k = 2 ("<base>_<k>" without an extension). Another document's own base is
            // reserved for it even when it comes later.
            const std::string ext = Extension(p);
            for (int k = ext.empty() ? 2 : 1;; ++k) {
                chosen = base + "_" + ext + (k > 1 ? std::to_string(k) : std::string());
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

}  // namespace convert
