// What the engine's document sources share: the inner state of a loaded document
// (Document::Impl), the copy slot, and the helpers each of them uses. Internal to wordserver/.
#pragma once

#include "EmbeddedFonts.h"
#include "EngineInternal.h"
#include "TextMap.h"

#include <com/sun/star/awt/XFontMappingUse.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/datatransfer/XTransferable.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/text/XPageCursor.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/text/XTextViewCursor.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>

#include <initializer_list>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace wordengine {

using namespace css::text;
using css::beans::PropertyValue;
using css::uno::Any;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

// Identity of a file's content as far as the file system tells it.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    long long mtimeSec = 0;
    long mtimeNsec = 0;
    bool operator==(const FileId& o) const
    {
        return dev == o.dev && ino == o.ino && size == o.size && mtimeSec == o.mtimeSec && mtimeNsec == o.mtimeNsec;
    }
};

struct Document::Impl {
    int generation = -1;
    bool open = false;
    Reference<css::lang::XComponent> component;
    Reference<XTextDocument> textDoc;
    Reference<css::frame::XModel> model;
    Reference<css::frame::XController> controller;
    Reference<XTextViewCursor> viewCursor;
    Reference<XPageCursor> pageCursor;
    OUString loadFilter;
    TextMap map;
    std::shared_ptr<const PdfBytes> firstPage;
    std::shared_ptr<const PdfBytes> allPages;
    int drawnPages = 0;  // pages the export draws, once counted (0: not yet)
    // What the document was loaded from, so that it can be handed out again (see ParkedDoc).
    FileId file;
    LoadOptions options;
    // The engine's own link to (or copy of) the file, which it opened (see HandIn).
    std::string handed;
    int fileEnd = -1;       // end of the file's main text, known once it was replaced whole
    bool replaced = false;  // the whole main text was replaced by a paste, and nothing else
    bool otherEdit = false; // changed in any other way
    bool stale = false;     // handed out again: holds an earlier paste, not the file's text
    // Recorded at load (Loading.cpp): the text layout's font mappings, and what the file
    // stored about its pages before the engine's layout replaced it.
    bool fontsTracked = false;
    std::vector<FontUse> fontUses;
    std::vector<std::string> embeddedFonts;  // families whose carried faces the engine took
    bool carriesFonts = false;               // its font table lists embedded faces
    std::vector<FontAlternative> fontAlternatives;  // its font table's alternatives (w:altName)
    std::vector<FontAlternative> alternativesUsed;  // those drawn in place of a missing family
    int storedPages = 0;
    std::string storedBy;
    LoadTimes loadTimes;

    void EnsureMap()
    {
        if (!map.Built())
            map.Build(textDoc);
    }
    // The view's cursors, made on first need: only finding page starts and copying use them,
    // and making them costs the engine a good part of a small document's drawing.
    void EnsureCursors()
    {
        if (pageCursor.is())
            return;
        Reference<XTextViewCursorSupplier> vcs(controller, UNO_QUERY_THROW);
        viewCursor = vcs->getViewCursor();
        pageCursor.set(viewCursor, UNO_QUERY_THROW);
    }
    // Page starts found so far (index page - 1), and the layout pages that are pages of the
    // document: the engine lays out a blank page where a page must fall on the other side
    // (an odd page number after an odd page), which neither Word nor a printout shows.
    std::vector<int> pageStarts;
    std::vector<int> layoutPages;

    // Exports and their page count, which hold until the document changes or goes.
    void DropPdf()
    {
        firstPage.reset();
        allPages.reset();
        drawnPages = 0;
    }
    void Changed()
    {
        map.Clear();
        DropPdf();
        pageStarts.clear();
        layoutPages.clear();
    }

    // Pages (PageStarts.cpp).
    int LayoutPageCount();
    int PageOf(int pos);
    int FirstOnPage(int n, int from);
    int FindPageStart(int n, int prev);

    // Selection and copying (Copy.cpp).
    void Select(const Reference<XTextRange>& a, const Reference<XTextRange>& b);
    static OUString RowsBlockName(const TextMap::TableSpan& t, int r1, int r2);
    static int HeadingRows(const Reference<XTextTable>& table);
    Reference<css::datatransfer::XTransferable> SelectionContent();
    EngineStatus CopyPieces(int start, int end, std::vector<Reference<css::datatransfer::XTransferable>>* out,
                            int* dropFrom, int* dropCount, int* headingRows);

    // PDF of pages (Export.cpp).
    bool StorePdf(const std::string& path, const char* pageRange);
};

namespace detail {

// What Range.Copy leaves behind: the engine's transferables of the range, in order (rows of a
// table the range begins or ends inside are a piece of their own), and the page setup in
// force where the copied range starts, so that a pasted page keeps its page style and number.
struct Slot {
    int generation = -1;
    std::vector<Reference<css::datatransfer::XTransferable>> content;
    // The document the content was copied from. The engine aborts when it destroys copied
    // content after the document it came from, so a source closed while its content is held
    // stays loaded until the content goes (see ReleaseImpl).
    const void* source = nullptr;
    OUString pageStyle;
    int pageNumber = 0;
    bool startsWithTable = false;  // the first piece is rows of a table
    // Rows of the first table to remove after pasting, and its repeating heading rows.
    int dropFrom = 0, dropCount = 0, headingRows = 0;
};

// Copy slot (CopySlot.cpp).
Slot& TheSlot();
// Closes the document kept for the slot's content, if any.
void CloseHeldSource();
// Closes a document in the engine, unless the slot holds content copied from it.
void ReleaseImpl(std::unique_ptr<Document::Impl> impl);

// Records which fonts the engine's text layout draws with while a document loads and lays
// out (DocumentFacts.cpp). The engine records for the whole process at once, and only one
// document loads at a time (the engine mutex), so what is recorded between the start and
// Finish is that document's.
class FontTracking {
public:
    explicit FontTracking(int generation);
    // Stops recording whatever happened: the engine would otherwise record every later layout.
    ~FontTracking();
    FontTracking(const FontTracking&) = delete;
    FontTracking& operator=(const FontTracking&) = delete;
    // False when the engine offers no recording.
    bool Finish(std::vector<FontUse>* out);

private:
    Reference<css::awt::XFontMappingUse> m_toolkit;
    bool m_active = false;
};

// The families of a .docx at url whose embedded faces the engine takes, into d (DocumentFacts.cpp).
void ReadEmbeddedFonts(const OUString& url, Document::Impl& d);

// Draws each family of the font table that is missing with its alternative, where that is
// known and the layout (d.fontUses as recorded) drew the family with another face: the
// document's styles and text ask for the alternative from then on (FontAlternatives.cpp).
// True when the document changed and must be laid out again; failures leave it as it was.
bool UseFontAlternatives(const Reference<XTextDocument>& doc, Document::Impl& d);

// The page count and the saving application the file at url stored, into d (DocumentFacts.cpp).
// Read before the document has a view: the engine's layout replaces the page count in the
// properties with its own.
void ReadStoredPages(const Reference<css::uno::XInterface>& model, const OUString& url, Document::Impl& d);

// Whether the document holds text drawn along a path (a text watermark, WordArt), as
// outlines the engine traces from the font (DocumentFacts.cpp).
bool HoldsFontwork(const Reference<css::uno::XInterface>& model);

// Loading (Loading.cpp): closes a document in the engine, whatever state it is in.
void CloseImpl(Document::Impl& d);

// Filters (Filters.cpp).
Reference<css::task::XInteractionHandler> NewNoQuestionsHandler();
bool IsDocumentFilter(const OUString& filter);
bool IsBinaryWordFilter(const OUString& filter);
const char* FilterForPath(const std::string& path);
OUString DetectFilter(const OUString& url, const Reference<css::task::XInteractionHandler>& handler);

// UNO helpers (UnoHelpers.cpp).
PropertyValue Prop(const char* name, const Any& value);
Sequence<PropertyValue> Props(std::initializer_list<PropertyValue> list);
std::string AbsolutePath(const std::string& path);
void CloseComponent(const Reference<css::lang::XComponent>& comp);
bool StopRecordingChanges(const Reference<css::uno::XInterface>& doc);

}  // namespace detail
}  // namespace wordengine
