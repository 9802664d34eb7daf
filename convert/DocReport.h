// One document's conversion as every front end reports it: what the worker told of it (pages,
// fonts, Word's own count, skipped pages, pictures, the failure) and the report's JSON object
// for it, so that pagesnap-batch's report and pagesnap-serve's report.json say the same.
#pragma once

#include "convert/Sniff.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace convert {

struct Picture {
    int page;
    std::string temp;  // as the worker wrote it
    std::string file;  // its final name
    int width;
    int height;
};

struct DocResult {
    std::string path;
    std::string base;
    int pageCount = -1;
    nlohmann::json fonts;  // the engine's font report; null when it gave none
    int storedPages = -1;  // the page count Word stored (0: none); -1 when not told
    std::vector<std::string> skipped;
    std::vector<Picture> pictures;
    ErrorKind kind = ErrorKind::None;
    std::string message;
    double seconds = 0;

    // Takes in a worker's "opened" line.
    void Opened(const nlohmann::json& line);
    // Takes in a worker's "page" line, named <dir>/<base>_<page>.<ext>; a file outside this
    // document's own temporary names (tempPrefix) is never taken. False when it was not.
    bool Page(const nlohmann::json& line, const std::string& tempPrefix, const std::string& dir, const char* ext);
};

// The kind of a worker's "failed" line ("engine failed" for a name it does not know).
ErrorKind ErrorKindFromName(const std::string& name);

// The pictures as the report lists them: page, file, width, height.
nlohmann::ordered_json Written(const DocResult& d);

// The report's object for a document; status: "converted", "failed", ...
nlohmann::ordered_json DocumentReport(const DocResult& d, const char* status);

}  // namespace convert
