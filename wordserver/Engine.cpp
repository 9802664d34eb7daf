// Documents in the engine: loading without questions, positions and pages, copy and paste
// through the engine's own transferables, saving by extension, PDF export of pages.
#include "EngineInternal.h"
#include "TextMap.h"

#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/datatransfer/XTransferable.hpp>
#include <com/sun/star/datatransfer/XTransferableSupplier.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XTypeDetection.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/frame/XLoadable.hpp>
#include <com/sun/star/text/XTextFieldsSupplier.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionDisapprove.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/task/XInteractionRequest.hpp>
#include <com/sun/star/text/XPageCursor.hpp>
#include <com/sun/star/text/XParagraphCursor.hpp>
#include <com/sun/star/text/XTextContent.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/text/XTextViewCursor.hpp>
#include <com/sun/star/text/XTextViewCursorSupplier.hpp>
#include <com/sun/star/util/CloseVetoException.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/table/XTableRows.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>
#include <cppuhelper/implbase1.hxx>

#include <atomic>
#include <cerrno>
#include <initializer_list>
#include <utility>
#include <vector>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wordengine {

using namespace detail;
using namespace css::text;
using css::beans::PropertyValue;
using css::uno::Any;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

namespace {

// Answers every question the engine would put to a person with "cancel": passwords,
// repair offers, filter options, link updates. A load that needs an answer then fails.
class NoQuestionsHandler : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
public:
    void SAL_CALL handle(const Reference<css::task::XInteractionRequest>& request) override
    {
        if (!request.is())
            return;
        const Sequence<Reference<css::task::XInteractionContinuation>> conts =
            request->getContinuations();
        Reference<css::task::XInteractionContinuation> pick;
        for (sal_Int32 i = 0; i < conts.getLength() && !pick.is(); ++i)
            if (Reference<css::task::XInteractionAbort>(conts[i], UNO_QUERY).is())
                pick = conts[i];
        if (!pick.is()) {
            for (sal_Int32 i = 0; i < conts.getLength() && !pick.is(); ++i)
                if (Reference<css::task::XInteractionDisapprove>(conts[i], UNO_QUERY).is())
                    pick = conts[i];
        }
        if (pick.is())
            pick->select();
    }
};

PropertyValue Prop(const char* name, const Any& value)
{
    PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

Sequence<PropertyValue> Props(std::initializer_list<PropertyValue> list)
{
    return Sequence<PropertyValue>(list.begin(), sal_Int32(list.size()));
}

// Import filters of word-processing documents; anything else (plain text, HTML, a
// spreadsheet) is not a Word document and is refused.
bool IsDocumentFilter(const OUString& filter)
{
    static const char* const known[] = {
        "MS Word 97", "MS Word 97 Vorlage", "MS Word 95", "MS Word 95 Vorlage",
        "MS WinWord 6.0", "MS WinWord 5", "MS Word 2007 XML", "MS Word 2007 XML Template",
        "MS Word 2007 XML VBA", "Office Open XML Text", "Office Open XML Text Template",
        "Rich Text Format", "writer8", "writer8_template", "StarOffice XML (Writer)",
        "OpenDocument Text Flat XML", "MS Word 2003 XML", "WordPerfect",
    };
    for (const char* k : known)
        if (filter.equalsAscii(k))
            return true;
    return false;
}

// Export filter by the file name's extension; null when the extension names none.
const char* FilterForPath(const std::string& path)
{
    size_t dot = path.find_last_of('.');
    size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return nullptr;
    std::string ext = path.substr(dot + 1);
    if (strcasecmp(ext.c_str(), "doc") == 0)
        return "MS Word 97";
    if (strcasecmp(ext.c_str(), "docx") == 0)
        return "MS Word 2007 XML";
    if (strcasecmp(ext.c_str(), "rtf") == 0)
        return "Rich Text Format";
    if (strcasecmp(ext.c_str(), "odt") == 0)
        return "writer8";
    if (strcasecmp(ext.c_str(), "pdf") == 0)
        return "writer_pdf_Export";
    return nullptr;
}

std::string AbsolutePath(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd))
        return path;
    return std::string(cwd) + "/" + path;
}

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

// Closes the document kept for the slot's content, if any.
void CloseHeldSource();

Slot& TheSlot()
{
    static auto* s = new Slot;
    return *s;
}

bool ReadFile(const std::string& path, std::vector<unsigned char>* out)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    out->clear();
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out->insert(out->end(), buf, buf + n);
    fclose(f);
    return true;
}


// Closes a component the engine made for us, whatever state it is in.
void CloseComponent(const Reference<css::lang::XComponent>& comp)
{
    if (!comp.is())
        return;
    try {
        Reference<css::util::XCloseable> c(comp, UNO_QUERY);
        if (c.is())
            c->close(true);
        else
            comp->dispose();
    } catch (const css::uno::Exception&) {
        try {
            comp->dispose();
        } catch (const css::uno::Exception&) {
        }
    }
}

// The import filter that fits a file's content (not its name); empty when none does.
OUString DetectFilter(const OUString& url, const Reference<css::task::XInteractionHandler>& handler)
{
    Reference<css::lang::XMultiComponentFactory> smgr = State().context->getServiceManager();
    Reference<css::document::XTypeDetection> detection(
        smgr->createInstanceWithContext("com.sun.star.document.TypeDetection", State().context), UNO_QUERY_THROW);
    Sequence<PropertyValue> desc = Props({Prop("URL", Any(url)), Prop("InteractionHandler", Any(handler))});
    const OUString type = detection->queryTypeByDescriptor(desc, true);
    if (type.isEmpty())
        return OUString();
    OUString filter;
    for (const PropertyValue& p : std::as_const(desc))
        if (p.Name == "FilterName")
            p.Value >>= filter;
    if (filter.isEmpty()) {
        Reference<css::container::XNameAccess> types(detection, UNO_QUERY_THROW);
        Sequence<PropertyValue> props;
        if (types->hasByName(type) && (types->getByName(type) >>= props))
            for (const PropertyValue& p : std::as_const(props))
                if (p.Name == "PreferredFilter")
                    p.Value >>= filter;
    }
    return filter;
}

// Turns off change recording, so that edits change the text instead of being tracked.
// True when the document was recording.
bool StopRecordingChanges(const Reference<css::uno::XInterface>& doc)
{
    Reference<css::beans::XPropertySet> props(doc, UNO_QUERY);
    if (!props.is())
        return false;
    bool recording = false;
    props->getPropertyValue("RecordChanges") >>= recording;
    if (recording)
        props->setPropertyValue("RecordChanges", Any(false));
    return recording;
}

// Hides the mark of every comment in a document that has no view yet. A view makes a margin
// window for every comment it can see, out of interface files that a headless installation
// does not have, and the whole engine dies of it; a comment whose mark is hidden text gets no
// window. The mark takes no room on the page, and Word draws pages without comments too.
void HideComments(const Reference<XTextDocument>& doc)
{
    Reference<XTextFieldsSupplier> fs(doc, UNO_QUERY);
    if (!fs.is())
        return;
    Reference<css::container::XEnumerationAccess> fields = fs->getTextFields();
    if (!fields.is())
        return;
    int hidden = 0;
    // Hiding a mark while the document records changes would be a tracked change of its own,
    // and the engine dies building the view of it; the document keeps its setting.
    const bool recording = StopRecordingChanges(doc);
    Reference<css::container::XEnumeration> en = fields->createEnumeration();
    while (en->hasMoreElements()) {
        Reference<css::lang::XServiceInfo> si(en->nextElement(), UNO_QUERY);
        if (!si.is() || !(si->supportsService("com.sun.star.text.TextField.Annotation") ||
                          si->supportsService("com.sun.star.text.textfield.Annotation")))
            continue;
        Reference<XTextContent> field(si, UNO_QUERY);
        Reference<XTextRange> anchor = field.is() ? field->getAnchor() : Reference<XTextRange>();
        if (!anchor.is())
            continue;
        // The mark is the last character of the range a comment covers.
        Reference<XTextCursor> cur = anchor->getText()->createTextCursorByRange(anchor->getEnd());
        if (!cur->goLeft(1, true))
            continue;
        Reference<css::beans::XPropertySet>(cur, UNO_QUERY_THROW)->setPropertyValue("CharHidden", Any(true));
        ++hidden;
    }
    if (recording)
        Reference<css::beans::XPropertySet>(doc, UNO_QUERY_THROW)->setPropertyValue("RecordChanges", Any(true));
    if (hidden && getenv("FOLIUM_ENGINE_VERBOSE"))
        fprintf(stderr, "wordserver: %d comments hidden\n", hidden);
}

}  // namespace

bool ClipboardHasContent()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    Slot& s = TheSlot();
    return !s.content.empty() && s.generation == State().generation && State().alive;
}

void ClipboardClear()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    Slot& s = TheSlot();
    try {
        s.content.clear();
    } catch (...) {
    }
    s.generation = -1;
    s.source = nullptr;
    s.pageStyle.clear();
    s.pageNumber = 0;
    s.startsWithTable = false;
    s.dropFrom = s.dropCount = s.headingRows = 0;
    CloseHeldSource();
}

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

static FileId IdOf(const struct stat& sb)
{
    FileId id;
    id.dev = sb.st_dev;
    id.ino = sb.st_ino;
    id.size = sb.st_size;
    id.mtimeSec = sb.st_mtim.tv_sec;
    id.mtimeNsec = sb.st_mtim.tv_nsec;
    return id;
}

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
    // What the document was loaded from, so that it can be handed out again (see ParkedDoc).
    FileId file;
    LoadOptions options;
    int fileEnd = -1;       // end of the file's main text, known once it was replaced whole
    bool replaced = false;  // the whole main text was replaced by a paste, and nothing else
    bool otherEdit = false; // changed in any other way
    bool stale = false;     // handed out again: holds an earlier paste, not the file's text

    void EnsureMap()
    {
        if (!map.Built())
            map.Build(textDoc);
    }
    // Page starts found so far (index page - 1), and the layout pages that are pages of the
    // document: the engine lays out a blank page where a page must fall on the other side
    // (an odd page number after an odd page), which neither Word nor a printout shows.
    std::vector<int> pageStarts;
    std::vector<int> layoutPages;

    void Changed()
    {
        map.Clear();
        firstPage.reset();
        allPages.reset();
        pageStarts.clear();
        layoutPages.clear();
    }
    int LayoutPageCount()
    {
        if (layoutPages.empty()) {
            // The view's own count includes pages the body text does not reach (endnotes).
            sal_Int32 viewCount = 0;
            Reference<css::beans::XPropertySet> vp(controller, UNO_QUERY);
            if (vp.is())
                vp->getPropertyValue("PageCount") >>= viewCount;
            pageCursor->jumpToLastPage();
            const int count = std::max<int>(pageCursor->getPage(), int(viewCount));
            // The cursor cannot go to a blank page.
            for (int k = 1; k <= count && k <= 32767; ++k)
                if (k == 1 || pageCursor->jumpToPage(sal_Int16(k)))
                    layoutPages.push_back(k);
        }
        return int(layoutPages.size());
    }
    // The layout page that holds a position (0 when the position has no place).
    int PageOf(int pos)
    {
        Reference<XTextRange> r = map.RangeAt(pos);
        if (!r.is())
            return 0;
        viewCursor->gotoRange(r, false);
        return pageCursor->getPage();
    }
    // First position in [from, map.End()) that the layout puts on page n or later;
    // map.End() when there is none. Positions run through the layout in order.
    int FirstOnPage(int n, int from)
    {
        int lo = from, hi = map.End();
        while (lo < hi) {
            int mid = lo + (hi - lo) / 2;
            if (PageOf(mid) >= n)
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    }
    // Start of layout page n, the page before it starting at prev. The page cursor
    // gives it for most pages; where it lands outside the main text (an endnote page, a
    // frame), inside a repeated table heading, or not past the previous page, the layout is
    // searched for the first position on the page. A page that holds no main text at all
    // (an inserted blank page, endnotes) starts just before the next text, so that it still
    // has a start of its own: its copy is only that mark and draws as a blank page.
    int FindPageStart(int n, int prev)
    {
        int pos = -1;
        if (pageCursor->jumpToPage(sal_Int16(n))) {
            pageCursor->jumpToStartOfPage();
            if (pageCursor->getPage() == n)
                pos = map.PositionOf(viewCursor->getStart());
        }
        if (pos > prev)
            return pos;
        int t = FirstOnPage(n, prev + 1);
        const bool empty = t < map.End() && PageOf(t) > n && t - 1 > prev;
        if (getenv("FOLIUM_ENGINE_VERBOSE"))
            fprintf(stderr, "wordserver: page %d: cursor gave %d after %d; layout gives %d%s\n", n, pos, prev, t,
                    empty ? ", a page without text" : "");
        return empty ? t - 1 : t;
    }
    // Selects [a, b) in the controller, across tables where needed.
    void Select(const Reference<XTextRange>& a, const Reference<XTextRange>& b)
    {
        Reference<XText> ta = a->getText(), tb = b->getText();
        Reference<css::view::XSelectionSupplier> sel(controller, UNO_QUERY_THROW);
        if (ta == tb) {
            Reference<XTextCursor> cur = ta->createTextCursorByRange(a);
            cur->gotoRange(b, true);
            sel->select(Any(Reference<XTextRange>(cur, UNO_QUERY)));
        } else {
            throw css::uno::RuntimeException("selection across texts");
        }
    }
    // Name of the block of cells that covers rows r1..r2 of a table from its leftmost to its
    // rightmost column, such as "A3:C7"; a row whose first column is merged into the row
    // above starts further right, so the columns are taken over all the rows.
    static OUString RowsBlockName(const TextMap::TableSpan& t, int r1, int r2)
    {
        auto column = [](const OUString& name) {
            sal_Int32 i = 0;
            while (i < name.getLength() && ((name[i] >= 'A' && name[i] <= 'Z') || (name[i] >= 'a' && name[i] <= 'z')))
                ++i;
            return name.copy(0, i);
        };
        auto before = [](const OUString& x, const OUString& y) {
            return x.getLength() != y.getLength() ? x.getLength() < y.getLength() : x.compareTo(y) < 0;
        };
        auto row = [&](const OUString& name) { return name.copy(column(name).getLength()); };
        OUString left = column(t.firstCell[size_t(r1)]), right = column(t.lastCell[size_t(r2)]);
        for (int r = r1; r <= r2; ++r) {
            if (t.firstCell[size_t(r)].indexOf('.') >= 0 || t.lastCell[size_t(r)].indexOf('.') >= 0)
                return t.firstCell[size_t(r1)] + ":" + t.lastCell[size_t(r2)];
            OUString l = column(t.firstCell[size_t(r)]), rt = column(t.lastCell[size_t(r)]);
            if (before(l, left))
                left = l;
            if (before(right, rt))
                right = rt;
        }
        return left + row(t.firstCell[size_t(r1)]) + ":" + right + row(t.lastCell[size_t(r2)]);
    }
    // Rows at the top of a table that repeat on every page it runs over (0 when none).
    static int HeadingRows(const Reference<XTextTable>& table)
    {
        Reference<css::beans::XPropertySet> props(table, UNO_QUERY);
        bool repeat = false;
        sal_Int32 count = 0;
        if (!props.is() || !(props->getPropertyValue("RepeatHeadline") >>= repeat) || !repeat)
            return 0;
        props->getPropertyValue("HeaderRowCount") >>= count;
        return int(count);
    }
    Reference<css::datatransfer::XTransferable> SelectionContent()
    {
        Reference<css::datatransfer::XTransferableSupplier> ts(controller, UNO_QUERY_THROW);
        Reference<css::datatransfer::XTransferable> t = ts->getTransferable();
        if (!t.is())
            throw css::uno::RuntimeException("no content for the selection");
        return t;
    }
    // The content of [start, end) as transferables in order. A selection cannot run from the
    // main text into a table cell or out of one, so the rows of a table that the range
    // begins or ends inside are a piece of their own (selected as a block of cells), and the
    // main text between is another; tables wholly inside a run of main text go with it.
    // Rows [*dropFrom, *dropFrom + *dropCount) of the first table pasted are copied only to
    // keep the block whole; its first *headingRows rows repeat on every page.
    EngineStatus CopyPieces(int start, int end, std::vector<Reference<css::datatransfer::XTransferable>>* out,
                            int* dropFrom, int* dropCount, int* headingRows)
    {
        *dropFrom = *dropCount = *headingRows = 0;
        Reference<css::view::XSelectionSupplier> sel(controller, UNO_QUERY_THROW);
        int pos = start;
        do {
            const int ti = map.TableAt(pos);
            if (ti >= 0 && pos < end) {
                const TextMap::TableSpan& t = map.Table(ti);
                const int r1 = map.RowAt(ti, pos);
                const int r2 = map.RowAt(ti, std::min(end, t.end) - 1);
                Reference<css::table::XCellRange> cells(t.table, UNO_QUERY_THROW);
                // Rows that begin a page below the table's first page show its repeated
                // heading rows above them. A block of cells must be whole, so the rows
                // between are copied too and removed after the paste; a block that starts
                // in a repeating heading row cannot be selected, so the table stops
                // repeating it for the moment of the copy.
                const int heading = r1 > 0 && pos == start && out->empty() ? HeadingRows(t.table) : 0;
                int from = r1;
                Reference<css::beans::XPropertySet> tableProps(t.table, UNO_QUERY);
                if (heading > 0 && heading <= r1 && tableProps.is()) {
                    from = 0;
                    *dropFrom = heading;
                    *dropCount = r1 - heading;
                    *headingRows = heading;
                    tableProps->setPropertyValue("RepeatHeadline", Any(false));
                }
                Reference<css::table::XCellRange> rows;
                bool selected = false;
                try {
                    rows = cells->getCellRangeByName(RowsBlockName(t, from, r2));
                    selected = rows.is() && sel->select(Any(rows));
                    if (selected)
                        out->push_back(SelectionContent());
                } catch (const css::uno::RuntimeException& e) {
                    LogFailure("rows", e.Message);
                    selected = false;
                }
                if (from != r1)
                    tableProps->setPropertyValue("RepeatHeadline", Any(true));
                if (!selected) {
                    *dropFrom = *dropCount = *headingRows = 0;
                    // Rows whose cells make no block (cells merged across them): the copy
                    // keeps what lies in the text the range starts in.
                    LogFailure("rows are no block of cells; clipped", OUString());
                    Reference<XTextRange> a = map.RangeAt(pos), b = map.LastEndInTextOf(pos, std::min(end, t.end));
                    if (!a.is() || !b.is())
                        return EngineStatus::Failed;
                    Select(a, b);
                    out->push_back(SelectionContent());
                }
                pos = t.end;
                continue;
            }
            // Main text up to the end, or up to a table the end lies inside.
            int stop = end;
            const int te = end > pos ? map.TableAt(end - 1) : -1;
            if (te >= 0 && map.Table(te).start > pos)
                stop = map.Table(te).start;
            Reference<XTextRange> a = map.RangeAt(pos), b = map.RangeAt(stop, true);
            if (!a.is() || !b.is())
                return EngineStatus::Failed;
            if (a->getText() != b->getText()) {
                LogFailure("range crosses texts; clipped", OUString());
                b = map.LastEndInTextOf(pos, stop);
                if (!b.is())
                    return EngineStatus::Failed;
            }
            Select(a, b);
            out->push_back(SelectionContent());
            pos = stop;
        } while (pos < end);
        return EngineStatus::Ok;
    }
    bool StorePdf(const std::string& path, const char* pageRange)
    {
        Reference<css::frame::XStorable> st(component, UNO_QUERY_THROW);
        Sequence<PropertyValue> args;
        if (pageRange) {
            Sequence<PropertyValue> filterData = Props({Prop("PageRange", Any(OUString::createFromAscii(pageRange)))});
            args = Props({Prop("FilterName", Any(OUString("writer_pdf_Export"))),
                          Prop("FilterData", Any(filterData))});
        } else {
            args = Props({Prop("FilterName", Any(OUString("writer_pdf_Export")))});
        }
        st->storeToURL(FileUrl(path), args);
        return true;
    }
};

Document::Document() : m_impl(new Impl) {}

Document::~Document()
{
    Close();
}

bool Document::IsOpen() const
{
    return m_impl->open;
}

namespace {

// Documents closed after their whole main text was replaced by a paste, kept loaded. The
// program opens the same template copy for every page of a document, pastes the page over all
// of it, saves and closes it: handing the loaded copy out again saves loading the whole file
// and deleting all its text for every page. Until its text is replaced again, such a document
// answers as its file would: its end is the file's, and anything else reloads it first.
struct ParkedDoc {
    std::string path;
    std::unique_ptr<Document::Impl> impl;
};

std::vector<ParkedDoc>& Parked()
{
    static auto* v = new std::vector<ParkedDoc>;
    return *v;
}

const size_t kMaxParked = 2;

void CloseImpl(Document::Impl& d)
{
    if (!d.open)
        return;
    d.open = false;
    Guarded(d.generation, [&]() -> EngineStatus {
        d.map.Clear();
        d.pageCursor.clear();
        d.viewCursor.clear();
        d.controller.clear();
        CloseComponent(d.component);
        return EngineStatus::Ok;
    });
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    try {
        d.map.Clear();
        d.pageCursor.clear();
        d.viewCursor.clear();
        d.controller.clear();
        d.model.clear();
        d.textDoc.clear();
        d.component.clear();
    } catch (...) {
    }
    d.firstPage.reset();
    d.allPages.reset();
}

std::unique_ptr<Document::Impl>& HeldSource()
{
    static auto* held = new std::unique_ptr<Document::Impl>;
    return *held;
}

void CloseHeldSource()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    std::unique_ptr<Document::Impl> held = std::move(HeldSource());
    if (held)
        CloseImpl(*held);
}

// Closes a document in the engine, unless the slot holds content copied from it: then it
// stays loaded, out of reach, until that content is replaced or cleared.
void ReleaseImpl(std::unique_ptr<Document::Impl> impl)
{
    if (!impl)
        return;
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    Slot& slot = TheSlot();
    if (impl->open && slot.source == impl.get() && !slot.content.empty()) {
        CloseHeldSource();
        HeldSource() = std::move(impl);
        return;
    }
    CloseImpl(*impl);
}

// Closes parked documents, oldest first, until at most `keep` are left.
void DropParked(size_t keep)
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    auto& v = Parked();
    while (v.size() > keep) {
        std::unique_ptr<Document::Impl> impl = std::move(v.front().impl);
        v.erase(v.begin());
        ReleaseImpl(std::move(impl));
    }
}

}  // namespace

namespace detail {
void ParkedClear()
{
    DropParked(0);
}
}  // namespace detail

EngineStatus LoadDocument(const std::string& pathIn, const LoadOptions& opts, DocumentPtr* out)
{
    if (!out)
        return EngineStatus::BadArgument;
    out->reset();
    if (pathIn.empty())
        return EngineStatus::BadArgument;
    std::string path = AbsolutePath(pathIn);
    struct stat sb;
    if (stat(path.c_str(), &sb) != 0)
        return errno == ENOENT || errno == ENOTDIR ? EngineStatus::NotFound : EngineStatus::LoadFailed;
    // The engine opens an empty file as a new empty document; Word does not.
    if (!S_ISREG(sb.st_mode) || sb.st_size == 0 || access(path.c_str(), R_OK) != 0)
        return EngineStatus::LoadFailed;

    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    EngineStatus s = EngineEnsure();
    if (s != EngineStatus::Ok)
        return s;
    const FileId id = IdOf(sb);
    if (opts.reuse) {
        auto& parked = Parked();
        for (auto it = parked.begin(); it != parked.end(); ++it) {
            Document::Impl& p = *it->impl;
            if (it->path == path && p.file == id && p.options.readOnly == opts.readOnly &&
                p.generation == State().generation) {
                DocumentPtr doc(new Document);
                doc->m_path = path;
                doc->m_impl = std::move(it->impl);
                parked.erase(it);
                *out = doc;
                return EngineStatus::Ok;
            }
        }
    }
    DocumentPtr doc(new Document);
    doc->m_path = path;
    Document::Impl& d = *doc->m_impl;
    d.generation = State().generation;
    d.file = id;
    d.options = opts;

    s = Guarded(d.generation, [&]() -> EngineStatus {
        Reference<css::task::XInteractionHandler> handler(new NoQuestionsHandler);
        const OUString url = FileUrl(path);
        d.loadFilter = DetectFilter(url, handler);
        if (!IsDocumentFilter(d.loadFilter))
            return EngineStatus::LoadFailed;
        // The model is loaded first and gets its view only after its comments are hidden.
        Reference<css::lang::XMultiComponentFactory> smgr = State().context->getServiceManager();
        Reference<css::frame::XLoadable> loadable(
            smgr->createInstanceWithContext("com.sun.star.text.TextDocument", State().context), UNO_QUERY_THROW);
        Reference<css::lang::XComponent> model(loadable, UNO_QUERY_THROW);
        try {
            loadable->load(Props({
                Prop("URL", Any(url)),
                Prop("FilterName", Any(d.loadFilter)),
                Prop("Hidden", Any(true)),
                Prop("ReadOnly", Any(opts.readOnly)),
                Prop("MacroExecutionMode", Any(sal_Int16(css::document::MacroExecMode::NEVER_EXECUTE))),
                Prop("UpdateDocMode", Any(sal_Int16(css::document::UpdateDocMode::NO_UPDATE))),
                Prop("InteractionHandler", Any(handler)),
                Prop("Silent", Any(true)),
            }));
            HideComments(Reference<XTextDocument>(model, UNO_QUERY_THROW));
        } catch (const css::uno::Exception& e) {
            LogFailure("load", e.Message);
            CloseComponent(model);
            return EngineStatus::LoadFailed;
        }
        Reference<css::lang::XComponent> comp;
        try {
            comp = State().loader->loadComponentFromURL(
                "private:object", "_blank", 0,
                Props({Prop("Model", Any(model)), Prop("Hidden", Any(true)), Prop("ReadOnly", Any(opts.readOnly))}));
        } catch (const css::uno::Exception& e) {
            LogFailure("view", e.Message);
        }
        if (!comp.is()) {
            CloseComponent(model);
            return EngineStatus::LoadFailed;
        }
        d.component = comp;
        d.textDoc.set(comp, UNO_QUERY);
        d.model.set(comp, UNO_QUERY);
        if (!d.textDoc.is() || !d.model.is() || !d.model->getCurrentController().is()) {
            CloseComponent(comp);
            d.component.clear();
            d.textDoc.clear();
            d.model.clear();
            return EngineStatus::LoadFailed;
        }
        d.controller = d.model->getCurrentController();
        Reference<XTextViewCursorSupplier> vcs(d.controller, UNO_QUERY_THROW);
        d.viewCursor = vcs->getViewCursor();
        d.pageCursor.set(d.viewCursor, UNO_QUERY_THROW);
        d.open = true;
        return EngineStatus::Ok;
    });
    if (s == EngineStatus::Failed)
        s = EngineStatus::LoadFailed;
    if (s != EngineStatus::Ok) {
        // A half-made document (loaded, but no view or cursor) is closed in the engine; it
        // is not open to Close, which would leave it loaded there.
        if (d.component.is()) {
            d.open = true;
            CloseImpl(d);
        }
        return s;
    }
    *out = doc;
    return EngineStatus::Ok;
}


void Document::Close()
{
    Impl& d = *m_impl;
    if (!d.open)
        return;
    if (d.replaced && !d.otherEdit && d.fileEnd >= 0) {
        std::lock_guard<std::recursive_mutex> lock(EngineMutex());
        if (State().alive && State().generation == d.generation) {
            d.stale = true;
            d.firstPage.reset();
            d.allPages.reset();
            Parked().push_back(ParkedDoc{m_path, std::move(m_impl)});
            m_impl.reset(new Impl);
            DropParked(kMaxParked);
            return;
        }
    }
    std::unique_ptr<Impl> impl = std::move(m_impl);
    m_impl.reset(new Impl);
    ReleaseImpl(std::move(impl));
}

EngineStatus Document::Unstale()
{
    if (!m_impl->stale)
        return EngineStatus::Ok;
    LoadOptions opts = m_impl->options;
    opts.reuse = false;
    DocumentPtr again;
    EngineStatus s = LoadDocument(m_path, opts, &again);
    if (s != EngineStatus::Ok)
        return s;
    std::swap(m_impl, again->m_impl);
    // The stale copy is closed for good, not parked again.
    again->m_impl->replaced = false;
    again->Close();
    return EngineStatus::Ok;
}

EngineStatus Document::ContentEnd(int* end)
{
    Impl& d = *m_impl;
    if (!d.open)
        return EngineStatus::Disconnected;
    return Guarded(d.generation, [&]() -> EngineStatus {
        if (d.stale) {
            *end = d.fileEnd;
            return EngineStatus::Ok;
        }
        d.EnsureMap();
        *end = d.map.End();
        return EngineStatus::Ok;
    });
}

EngineStatus Document::PageCount(int* count)
{
    if (m_impl->open) {
        EngineStatus u = Unstale();
        if (u != EngineStatus::Ok)
            return u;
    }
    Impl& d = *m_impl;
    if (!d.open)
        return EngineStatus::Disconnected;
    return Guarded(d.generation, [&]() -> EngineStatus {
        *count = d.LayoutPageCount();
        return *count > 0 ? EngineStatus::Ok : EngineStatus::Failed;
    });
}

EngineStatus Document::PageStart(int page, int* start)
{
    if (m_impl->open) {
        EngineStatus u = Unstale();
        if (u != EngineStatus::Ok)
            return u;
    }
    Impl& d = *m_impl;
    if (!d.open)
        return EngineStatus::Disconnected;
    if (page < 1)
        return EngineStatus::BadArgument;
    return Guarded(d.generation, [&]() -> EngineStatus {
        d.EnsureMap();
        const int count = d.LayoutPageCount();
        if (count <= 0)
            return EngineStatus::Failed;
        // Past the last page: the last page's start, as Word's Goto gives. Everything before
        // the second page belongs to the first, whatever the cursor finds there.
        const int n = std::min(page, count);
        if (d.pageStarts.empty())
            d.pageStarts.push_back(0);
        while (int(d.pageStarts.size()) < n) {
            const size_t next = d.pageStarts.size();
            d.pageStarts.push_back(d.FindPageStart(d.layoutPages[next], d.pageStarts.back()));
        }
        *start = d.pageStarts[size_t(n) - 1];
        return EngineStatus::Ok;
    });
}

EngineStatus Document::Copy(int start, int end)
{
    if (m_impl->open) {
        EngineStatus u = Unstale();
        if (u != EngineStatus::Ok)
            return u;
    }
    Impl& d = *m_impl;
    if (!d.open)
        return EngineStatus::Disconnected;
    EngineStatus status = Guarded(d.generation, [&]() -> EngineStatus {
        d.EnsureMap();
        if (start < 0 || end < start || end > d.map.End())
            return EngineStatus::BadArgument;
        Reference<XTextRange> a = d.map.RangeAt(start);
        if (!a.is())
            return EngineStatus::Failed;
        // The page setup in force where the range starts.
        Reference<css::view::XSelectionSupplier> sel(d.controller, UNO_QUERY_THROW);
        sel->select(Any(a));
        OUString style;
        int pageNumber = 0;
        try {
            Reference<css::beans::XPropertySet> vcProps(d.viewCursor, UNO_QUERY);
            if (vcProps.is())
                vcProps->getPropertyValue("PageStyleName") >>= style;
        } catch (const css::uno::RuntimeException& e) {
            LogFailure("page style", e.Message);
        }
        try {
            pageNumber = d.pageCursor->getPage();
        } catch (const css::uno::RuntimeException& e) {
            LogFailure("page number", e.Message);
        }
        std::vector<Reference<css::datatransfer::XTransferable>> pieces;
        int dropFrom = 0, dropCount = 0, headingRows = 0;
        EngineStatus s = d.CopyPieces(start, end, &pieces, &dropFrom, &dropCount, &headingRows);
        if (s != EngineStatus::Ok)
            return s;
        Slot& slot = TheSlot();
        slot.content = std::move(pieces);
        slot.generation = d.generation;
        slot.source = &d;
        slot.pageStyle = style;
        slot.pageNumber = pageNumber;
        slot.startsWithTable = d.map.TableAt(start) >= 0 && start < end;
        slot.dropFrom = dropFrom;
        slot.dropCount = dropCount;
        slot.headingRows = headingRows;
        return EngineStatus::Ok;
    });
    // The content it held is gone: a closed document kept for it can go too.
    if (status == EngineStatus::Ok)
        CloseHeldSource();
    return status;
}

EngineStatus Document::Paste(int start, int end)
{
    // A document handed out again may have all of its text replaced as it stands.
    if (m_impl->open && m_impl->stale && !(start == 0 && end == m_impl->fileEnd)) {
        EngineStatus u = Unstale();
        if (u != EngineStatus::Ok)
            return u;
    }
    Impl& d = *m_impl;
    if (!d.open)
        return EngineStatus::Disconnected;
    return Guarded(d.generation, [&]() -> EngineStatus {
        Slot& slot = TheSlot();
        if (slot.content.empty() || slot.generation != d.generation)
            return EngineStatus::Failed;
        // A document handed out again is replaced whole: its old text needs no positions.
        if (!d.stale)
            d.EnsureMap();
        const bool whole = start == 0 && end == (d.stale ? d.fileEnd : d.map.End());
        if (!whole && (start < 0 || end < start || end > d.map.End()))
            return EngineStatus::BadArgument;
        // A document that records changes would keep what the paste replaces as a tracked
        // deletion (the page copy would show both), and removing its hidden comments that way
        // makes the engine build comment windows it cannot make headless, which kills it.
        StopRecordingChanges(d.component);
        Reference<css::datatransfer::XTransferableSupplier> ts(d.controller, UNO_QUERY_THROW);
        Reference<XText> body = d.textDoc->getText();
        if (!whole) {
            d.otherEdit = true;
            Reference<XTextRange> a = d.map.RangeAt(start), b = d.map.RangeAt(end, true);
            if (!a.is() || !b.is())
                return EngineStatus::Failed;
            if (a->getText() != b->getText())
                b = d.map.LastEndInTextOf(start, end);
            if (!b.is())
                return EngineStatus::Failed;
            d.Select(a, b);
            // Each piece goes where the one before it ended.
            for (const auto& piece : slot.content)
                ts->insertTransferable(piece);
            d.Changed();
            return EngineStatus::Ok;
        }

        if (!d.replaced && !d.otherEdit)
            d.fileEnd = d.map.End();
        d.replaced = true;
        d.stale = false;
        // The whole main text: remove its tables, empty it (the one paragraph left keeps
        // the first page's attributes), paste, then drop the empty paragraph that the
        // paste leaves after the last pasted mark.
        {
            Reference<css::container::XEnumerationAccess> ea(body, UNO_QUERY_THROW);
            Reference<css::container::XEnumeration> en = ea->createEnumeration();
            std::vector<Reference<XTextContent>> tables;
            while (en->hasMoreElements()) {
                Reference<XTextTable> t(en->nextElement(), UNO_QUERY);
                if (t.is())
                    tables.emplace_back(t, UNO_QUERY);
            }
            for (auto& t : tables)
                body->removeTextContent(t);
        }
        Reference<XTextCursor> all = body->createTextCursor();
        all->gotoStart(false);
        all->gotoEnd(true);
        all->setString(OUString());
        Reference<css::view::XSelectionSupplier> sel(d.controller, UNO_QUERY_THROW);
        all->gotoStart(false);
        sel->select(Any(Reference<XTextRange>(all, UNO_QUERY)));
        for (size_t i = 0; i < slot.content.size(); ++i) {
            // A piece after a table goes into the paragraph the table was put before.
            if (i > 0)
                sel->select(Any(body->getEnd()));
            ts->insertTransferable(slot.content[i]);
        }
        // Rows pasted first go before the paragraph left in the emptied text, which would
        // push them down a line: that paragraph goes.
        if (slot.startsWithTable) {
            Reference<css::container::XEnumerationAccess> ea(body, UNO_QUERY_THROW);
            Reference<css::container::XEnumeration> en = ea->createEnumeration();
            Reference<XTextRange> lead;
            if (en->hasMoreElements())
                lead.set(en->nextElement(), UNO_QUERY);
            Reference<XTextTable> next;
            if (en->hasMoreElements())
                next.set(en->nextElement(), UNO_QUERY);
            if (lead.is() && next.is() && !Reference<XTextTable>(lead, UNO_QUERY).is() && lead->getString().isEmpty())
                Reference<css::lang::XComponent>(lead, UNO_QUERY_THROW)->dispose();
            if (next.is() && slot.dropCount > 0)
                next->getRows()->removeByIndex(slot.dropFrom, slot.dropCount);
            Reference<css::beans::XPropertySet> np(next, UNO_QUERY);
            if (np.is() && slot.headingRows > 0) {
                np->setPropertyValue("RepeatHeadline", Any(true));
                np->setPropertyValue("HeaderRowCount", Any(sal_Int32(slot.headingRows)));
            }
        }

        Reference<css::container::XEnumerationAccess> ea(body, UNO_QUERY_THROW);
        Reference<css::container::XEnumeration> en = ea->createEnumeration();
        Reference<css::uno::XInterface> first, last, beforeLast;
        while (en->hasMoreElements()) {
            Reference<css::uno::XInterface> e(en->nextElement(), UNO_QUERY);
            if (!first.is())
                first = e;
            beforeLast = last;
            last = e;
        }
        Reference<XTextRange> lastPara(last, UNO_QUERY);
        bool lastIsTable = Reference<XTextTable>(last, UNO_QUERY).is();
        bool prevIsTable = Reference<XTextTable>(beforeLast, UNO_QUERY).is();
        if (lastPara.is() && !lastIsTable && beforeLast.is() && !prevIsTable &&
            lastPara->getString().isEmpty()) {
            Reference<XTextCursor> tail = body->createTextCursorByRange(body->getEnd());
            if (tail->goLeft(1, true))
                tail->setString(OUString());
        }
        // The pasted page keeps the page style and number it had in its source.
        Reference<css::beans::XPropertySet> fp(first, UNO_QUERY);
        if (fp.is() && !slot.pageStyle.isEmpty()) {
            try {
                fp->setPropertyValue("PageDescName", Any(slot.pageStyle));
                if (slot.pageNumber > 0)
                    fp->setPropertyValue("PageNumberOffset", Any(sal_Int16(slot.pageNumber)));
            } catch (const css::uno::Exception&) {
                // A style the copy lacks: its first page's setup stays.
            }
        }
        d.Changed();
        return EngineStatus::Ok;
    });
}

EngineStatus Document::SaveAs(const std::string& pathIn, const std::string& password)
{
    if (m_impl->open) {
        EngineStatus u = Unstale();
        if (u != EngineStatus::Ok)
            return u;
    }
    Impl& d = *m_impl;
    if (!d.open)
        return EngineStatus::Disconnected;
    if (pathIn.empty())
        return EngineStatus::BadArgument;
    std::string path = AbsolutePath(pathIn);
    return Guarded(d.generation, [&]() -> EngineStatus {
        const char* f = FilterForPath(path);
        OUString filter = f ? OUString::createFromAscii(f) : d.loadFilter;
        Reference<css::frame::XStorable> st(d.component, UNO_QUERY_THROW);
        Sequence<PropertyValue> args = Props({Prop("FilterName", Any(filter)), Prop("Overwrite", Any(true))});
        if (!password.empty()) {
            // The OOXML export encrypts only with the password in its encryption data (and
            // fails without a crypto type); given as "Password" it writes the file in the clear.
            css::beans::NamedValue key[2];
            key[0].Name = "OOXPassword";
            key[0].Value <<= FromUtf8(password);
            key[1].Name = "CryptoType";
            key[1].Value <<= OUString("Standard");
            args.realloc(3);
            if (filter == "MS Word 2007 XML")
                args[2] = Prop("EncryptionData", Any(Sequence<css::beans::NamedValue>(key, 2)));
            else
                args[2] = Prop("Password", Any(FromUtf8(password)));
        }
        try {
            st->storeToURL(FileUrl(path), args);
        } catch (const css::io::IOException&) {
            return EngineStatus::Failed;
        }
        return EngineStatus::Ok;
    });
}

EngineStatus Document::FirstPagePdf(std::shared_ptr<const PdfBytes>* out)
{
    return CachedPdf(&Impl::firstPage, "1", out);
}

EngineStatus Document::AllPagesPdf(std::shared_ptr<const PdfBytes>* out)
{
    return CachedPdf(&Impl::allPages, nullptr, out);
}

EngineStatus Document::CachedPdf(std::shared_ptr<const PdfBytes> Impl::*slot, const char* pageRange,
                                 std::shared_ptr<const PdfBytes>* out)
{
    if (m_impl->open) {
        EngineStatus u = Unstale();
        if (u != EngineStatus::Ok)
            return u;
    }
    Impl& d = *m_impl;
    if (!d.open)
        return EngineStatus::Disconnected;
    if (d.*slot) {
        *out = d.*slot;
        return EngineStatus::Ok;
    }
    std::string dir = PrivateTempDir();
    if (dir.empty())
        return EngineStatus::Failed;
    static std::atomic<unsigned> counter{0};
    std::string file = dir + "/page-" + std::to_string(counter++) + ".pdf";
    EngineStatus s = Guarded(d.generation, [&]() -> EngineStatus {
        d.StorePdf(file, pageRange);
        return EngineStatus::Ok;
    });
    if (s != EngineStatus::Ok) {
        unlink(file.c_str());
        return s;
    }
    auto pdf = std::make_shared<PdfBytes>();
    bool ok = ReadFile(file, &pdf->data);
    unlink(file.c_str());
    if (!ok || pdf->data.empty())
        return EngineStatus::Failed;
    d.*slot = pdf;
    *out = pdf;
    return EngineStatus::Ok;
}

EngineStatus Document::ExportPdf(const std::string& path)
{
    if (m_impl->open) {
        EngineStatus u = Unstale();
        if (u != EngineStatus::Ok)
            return u;
    }
    Impl& d = *m_impl;
    if (!d.open)
        return EngineStatus::Disconnected;
    std::string abs = AbsolutePath(path);
    return Guarded(d.generation, [&]() -> EngineStatus {
        d.StorePdf(abs, nullptr);
        return EngineStatus::Ok;
    });
}

}  // namespace wordengine
