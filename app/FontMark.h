// The mark a document gets when its fonts were drawn with other fonts or Word counted other
// pages than the conversion: a short text and the list for its tooltip. It never stops a
// conversion; a server that tells nothing (Word itself) gives no mark.
#pragma once

#include <QString>

#include <string>

class CxWordDoc;

struct FontMark {
    QString text;     // e.g. "Fonts replaced; Word counted 4 pages"
    QString tooltip;  // one line per replaced font, then Word's count
    bool IsEmpty() const { return text.isEmpty(); }
};

// From the engine's font report (a JSON array; anything else says nothing), Word's stored count
// (a count of 1 or less says nothing: a stored 1 is often stale) and the pages converted. Only
// fonts drawn with another font than their own or its metric clone are replaced.
FontMark FontMarkOf(const std::string& fontReport, int nStoredPages, int nPages);
// As asked of an open document.
FontMark FontMarkOf(CxWordDoc* pDoc);
