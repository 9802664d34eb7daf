#include "convert/DocReport.h"

#include "convert/FontNote.h"
#include "convert/Names.h"

using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;

namespace convert {

void DocResult::Opened(const json& j)
{
    pageCount = j.value("pages", 0);
    if (j.contains("fonts") && j["fonts"].is_array())
        fonts = j["fonts"];
    if (j.contains("stored_pages") && j["stored_pages"].is_number_integer())
        storedPages = j["stored_pages"].get<int>();
    skipped = j.value("skipped", std::vector<std::string>());
}

bool DocResult::Page(const json& j, const std::string& tempPrefix, const std::string& dir, const char* ext)
{
    Picture p;
    p.page = j.value("page", 0);
    p.temp = j.value("file", "");
    p.width = j.value("width", 0);
    p.height = j.value("height", 0);
    p.file = dir + "/" + PictureName(base, p.page, ext);
    if (p.temp.compare(0, tempPrefix.size(), tempPrefix) != 0 || p.temp.find("/../") != std::string::npos)
        return false;
    pictures.push_back(p);
    return true;
}

ErrorKind ErrorKindFromName(const std::string& name)
{
    for (ErrorKind k : {ErrorKind::NotFound, ErrorKind::NotWord, ErrorKind::Password, ErrorKind::Damaged,
                        ErrorKind::TimedOut, ErrorKind::EngineFailed, ErrorKind::WriteFailed})
        if (name == ErrorKindName(k))
            return k;
    return ErrorKind::EngineFailed;
}

ordered_json Written(const DocResult& d)
{
    ordered_json written = ordered_json::array();
    for (const Picture& p : d.pictures)
        written.push_back({{"page", p.page}, {"file", p.file}, {"width", p.width}, {"height", p.height}});
    return written;
}

ordered_json DocumentReport(const DocResult& d, const char* status)
{
    ordered_json jd;
    jd["path"] = d.path;
    jd["base"] = d.base;
    jd["status"] = status;
    jd["pages"] = d.pageCount >= 0 ? ordered_json(d.pageCount) : ordered_json(nullptr);
    jd["written"] = Written(d);
    jd["skipped_pages"] = d.skipped;
    if (d.fonts.is_array()) {
        // Each font in the engine's order of fields, whatever order its line had.
        ordered_json fonts = ordered_json::array();
        for (const json& f : d.fonts) {
            if (!f.is_object())
                continue;
            ordered_json item;
            for (const char* key : {"font", "kind", "drawn_with", "fallback"})
                if (f.contains(key))
                    item[key] = ordered_json(f[key]);
            fonts.push_back(std::move(item));
        }
        jd["fonts"] = std::move(fonts);
    } else {
        jd["fonts"] = nullptr;
    }
    jd["stored_pages"] = d.storedPages > 0 ? ordered_json(d.storedPages) : ordered_json(nullptr);
    jd["pages_differ"] = PagesDiffer(d.storedPages, d.pageCount);
    jd["seconds"] = d.seconds;
    if (d.kind != ErrorKind::None)
        jd["error"] = {{"kind", ErrorKindName(d.kind)}, {"message", d.message}};
    else
        jd["error"] = nullptr;
    return jd;
}

}  // namespace convert
