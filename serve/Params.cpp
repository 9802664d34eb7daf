#include "serve/Params.h"

#include "convert/Names.h"

#include <algorithm>

namespace serve {

namespace {

// Well-formed UTF-8: no stray continuation bytes, no overlong two-byte forms, no truncation.
bool ValidUtf8(const std::string& s)
{
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        if (c < 0x80)
            n = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            n = 1;
        else if ((c & 0xF0) == 0xE0)
            n = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            n = 3;
        else
            return false;
        if (s.size() - i <= n)
            return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n + 1;
    }
    return true;
}

}  // namespace

bool TakeField(const std::string& name, const std::string& value, RequestSettings* out, std::vector<std::string>* seen,
               std::string* error)
{
    static const char* const kFields[] = {"format", "resolution", "quality", "pages", "filename"};
    if (std::find(std::begin(kFields), std::end(kFields), name) == std::end(kFields)) {
        *error = "unknown parameter '" + name.substr(0, 64) + "' (format, resolution, quality, pages, filename)";
        return false;
    }
    if (std::find(seen->begin(), seen->end(), name) != seen->end()) {
        *error = "parameter '" + name + "' given twice";
        return false;
    }
    seen->push_back(name);
    bool ok = true;
    std::string why;
    if (name == "format") {
        ok = convert::ParseFormat(value, &out->format);
        why = "png, jpg or bmp";
    } else if (name == "resolution") {
        ok = convert::ParseInt(value, convert::kMinDpi, convert::kMaxDpi, &out->dpi);
        why = "24 to 600";
    } else if (name == "quality") {
        ok = convert::ParseInt(value, 1, 100, &out->quality);
        why = "1 to 100";
    } else if (name == "pages") {
        std::string e;
        ok = value.size() <= 1000 && convert::ParsePageList(value, &out->pages, &e);
        out->pagesText = ok ? value : std::string();
        why = "e.g. 1-3,5,8-";
    } else {
        out->filename = value;
    }
    if (!ok)
        *error = "parameter '" + name + "': bad value '" + value.substr(0, 64) + "' (" + why + ")";
    return ok;
}

std::string DispositionFilename(const std::string& header)
{
    // Parameters after the first ';', each name=value; the name's case is ignored.
    size_t pos = header.find(';');
    while (pos != std::string::npos && pos < header.size()) {
        ++pos;
        while (pos < header.size() && (header[pos] == ' ' || header[pos] == '\t'))
            ++pos;
        const size_t eq = header.find('=', pos);
        if (eq == std::string::npos)
            return "";
        std::string key = header.substr(pos, eq - pos);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
            key.pop_back();
        std::transform(key.begin(), key.end(), key.begin(), [](char c) { return char(std::tolower((unsigned char)c)); });
        size_t v = eq + 1;
        while (v < header.size() && (header[v] == ' ' || header[v] == '\t'))
            ++v;
        std::string value;
        size_t next;
        if (v < header.size() && header[v] == '"') {
            const size_t close = header.find('"', v + 1);
            if (close == std::string::npos)
                return "";
            value = header.substr(v + 1, close - v - 1);
            next = header.find(';', close);
        } else {
            next = header.find(';', v);
            value = header.substr(v, next == std::string::npos ? std::string::npos : next - v);
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
                value.pop_back();
        }
        if (key == "filename")
            return value;
        pos = next;
    }
    return "";
}

bool DocumentBase(const std::string& filename, std::string* base, std::string* error)
{
    if (filename.size() > 200) {
        *error = "the file name is longer than 200 bytes";
        return false;
    }
    for (char c : filename)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            *error = "the file name holds control characters";
            return false;
        }
    if (!ValidUtf8(filename)) {
        *error = "the file name is not UTF-8";
        return false;
    }
    if (filename.empty()) {
        *base = "document";
        return true;
    }
    // A client may send the whole path it had (some send C:\...); only the last part names it.
    const size_t slash = filename.find_last_of("/\\");
    const std::string last = slash == std::string::npos ? filename : filename.substr(slash + 1);
    std::string b = convert::BaseName(last);
    if (last.empty() || last == "." || last == ".." || b.empty() || b == "." || b == "..") {
        *error = "the file name '" + filename + "' names no file";
        return false;
    }
    *base = b;
    return true;
}

}  // namespace serve
