// What a request asks for, read from its query or form fields, and the name its document
// goes by. Everything here comes from the network and is checked before it is used.
#pragma once

#include "convert/Settings.h"

#include <string>
#include <vector>

namespace serve {

struct RequestSettings {
    convert::ImageFormat format = convert::ImageFormat::Png;
    int dpi = 96;
    int quality = 90;
    std::string pagesText;                // as given; empty: every page
    std::vector<convert::PageRange> pages;
    std::string filename;                 // the filename field, when given

    // Exactly one page is asked for ("3", "3-3"): the answer is that picture itself.
    bool SinglePage() const { return pages.size() == 1 && pages[0].first == pages[0].last; }
};

// Takes one field (format, resolution, quality, pages, filename) into *out; false with a
// message for an unknown field, a repeated one or a bad value.
bool TakeField(const std::string& name, const std::string& value, RequestSettings* out, std::vector<std::string>* seen,
               std::string* error);

// The filename parameter of a Content-Disposition header ("attachment; filename="a.docx"",
// also unquoted); "" when it has none. A quoted name ends at the next quote (no escapes).
std::string DispositionFilename(const std::string& header);

// The base of the pictures' names for a document sent as filename: its last path component
// (either slash) without its extension, as pagesnap-batch takes it. "document" for an empty
// filename. False with a message for a name with control characters, bytes that are not
// UTF-8, no name left ("..", "/") or over 200 bytes.
bool DocumentBase(const std::string& filename, std::string* base, std::string* error);

}  // namespace serve
