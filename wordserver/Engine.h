// The document engine: one headless LibreOffice process per program process, reached over
// UNO, and the documents loaded in it. Every operation reports an EngineStatus (the engine's
// own failures never throw), and every call into the engine is bounded in time. Running out
// of memory here may throw std::bad_alloc; the COM objects turn it into E_OUTOFMEMORY.
#pragma once

#include "FontReport.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace wordengine {

enum class EngineStatus {
    Ok,
    NotFound,      // the file does not exist
    LoadFailed,    // the engine could not (or would not) open the file as a text document
    NotStarted,    // the engine process could not be started or reached
    Disconnected,  // the engine died, or was restarted since the object was made
    TimedOut,      // a call ran past its limit; the engine was ended
    BadArgument,   // positions or page numbers out of range, bad path
    Failed,        // the engine refused the operation
};

const char* StatusName(EngineStatus s);

class Document;
using DocumentPtr = std::shared_ptr<Document>;

// Process-wide engine lifetime. Every automation object holds one reference; when the last
// goes, the engine process is shut down. The engine itself starts on first need.
void EngineAddRef();
void EngineRelease();
// Starts the engine if it is not running (or died). Ok when it runs.
EngineStatus EngineEnsure();
// Process id of the running engine, 0 when none.
int EnginePid();
// How many times an engine was started in this process (tests watch restarts).
int EngineGeneration();
// Ends the engine now (as on the last release), whatever the reference count.
void EngineShutdown();
// Limit of one engine call in milliseconds (FOLIUM_ENGINE_TIMEOUT_MS, default 60000).
int EngineCallTimeoutMs();

struct LoadOptions {
    bool readOnly = true;
    // May hand out a copy of the same unchanged file that was closed after its whole text was
    // replaced (it behaves as the file would).
    bool reuse = true;
};

// Loads a document (hidden, macros off, every question answered "cancel").
EngineStatus LoadDocument(const std::string& path, const LoadOptions& opts, DocumentPtr* out);

// The process-wide copy slot (what Word keeps on the system clipboard).
bool ClipboardHasContent();
void ClipboardClear();

// One page of a PDF export, kept in memory.
struct PdfBytes {
    std::vector<unsigned char> data;
};

class Document {
public:
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // End position of the whole main text, as Word counts positions.
    EngineStatus ContentEnd(int* end);
    // Start position of page n (from 1); past the last page the last page's start.
    EngineStatus PageStart(int page, int* start);
    // Number of pages in the engine's layout.
    EngineStatus PageCount(int* count);
    // Copies [start, end) into the process-wide slot.
    EngineStatus Copy(int start, int end);
    // Replaces [start, end) by the slot's content; the whole main text keeps the page setup,
    // styles, headers and footers of this document.
    EngineStatus Paste(int start, int end);
    // Writes the document to path in the format the extension names (.doc, .docx, .rtf,
    // .odt; any other keeps the format it was loaded in), encrypted when a password is given.
    EngineStatus SaveAs(const std::string& path, const std::string& password = std::string());
    // Closes the document in the engine; later calls fail.
    void Close();
    // The first page exported to PDF (cached: loaded documents are not changed through this).
    EngineStatus FirstPagePdf(std::shared_ptr<const PdfBytes>* out);
    // Every page exported to PDF once and kept until the document changes: the document's
    // own layout, page by page.
    EngineStatus AllPagesPdf(std::shared_ptr<const PdfBytes>* out);
    // Page `page` (from 1, as the export counts) exported alone: a few early pages of a long
    // document without drawing the rest. Not kept (page 1 is, as FirstPagePdf).
    EngineStatus PagePdf(int page, std::shared_ptr<const PdfBytes>* out);
    // How many pages the export draws (AllPagesPdf's page count), without drawing them.
    // Kept until the document changes.
    EngineStatus DrawnPageCount(int* count);
    // Every page exported to PDF (for checks against the engine's own layout).
    EngineStatus ExportPdf(const std::string& path);
    // How the document's fonts were drawn: what the engine's text layout recorded from the
    // start of the load through the whole layout. Failed when the engine could not record it.
    // embedded (when given): the families whose faces the document carries and the engine took.
    EngineStatus FontUses(std::vector<FontUse>* out, std::vector<std::string>* embedded = nullptr);
    // The page count the file records, and the application it names as the one that saved it
    // (0 and "" when it records none), as the file had them.
    EngineStatus StoredPages(int* pages, std::string* application);
    // Seconds the engine spent loading the document, for finding where a document's time
    // goes: the import of the file (which lays text out as it goes, hidden comments and the
    // facts read from the file included) and the view's layout of every page.
    struct LoadTimes {
        double import = 0;
        double layout = 0;
    };
    LoadTimes LoadSeconds() const;

    bool IsOpen() const;
    const std::string& Path() const { return m_path; }

    struct Impl;

private:
    friend EngineStatus LoadDocument(const std::string&, const LoadOptions&, DocumentPtr*);
    Document();
    // A document handed out again is loaded from its file before it is used otherwise.
    EngineStatus Unstale();
    // Every operation starts here: a stale document is loaded again (unless keepStale), and a
    // closed one answers Disconnected.
    EngineStatus Ready(bool keepStale = false);
    // The export of the pages in the range (null: all), kept in the slot when one is given.
    EngineStatus CachedPdf(std::shared_ptr<const PdfBytes> Impl::*slot, const char* pageRange,
                           std::shared_ptr<const PdfBytes>* out);
    std::unique_ptr<Impl> m_impl;
    std::string m_path;
};

// Rasterises page `page` (from 0) of a PDF to exactly width x height pixels, 32-bit
// 0x00RRGGBB, rows top-down, anti-aliased, on white. False when the PDF or page is unusable.
bool RasterisePdfPage(const PdfBytes& pdf, int page, int width, int height,
                      std::vector<uint32_t>* pixels);
// Page size in PDF points (1/72 inch). False when unusable.
bool PdfPageSize(const PdfBytes& pdf, int page, double* widthPt, double* heightPt);
int PdfPageCount(const PdfBytes& pdf);

// A PDF parsed once, for measuring and drawing its pages again and again. Used from one
// thread at a time.
class PdfPages {
public:
    explicit PdfPages(std::shared_ptr<const PdfBytes> pdf);
    ~PdfPages();
    PdfPages(const PdfPages&) = delete;
    PdfPages& operator=(const PdfPages&) = delete;

    const std::shared_ptr<const PdfBytes>& Bytes() const { return m_pdf; }
    // 0 when the PDF is unusable.
    int Count() const;
    bool PageSize(int page, double* widthPt, double* heightPt) const;
    // As RasterisePdfPage. A size that is the page at a whole resolution (as pdftoppm sizes
    // its pictures) is drawn at exactly that resolution, so that text sits where pdftoppm
    // puts it.
    bool Rasterise(int page, int width, int height, std::vector<uint32_t>* pixels) const;

private:
    struct Impl;
    std::shared_ptr<const PdfBytes> m_pdf;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace wordengine
