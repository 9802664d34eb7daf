// Loading documents without questions, closing them, and keeping a closed template copy
// loaded to hand it out again (parking).
#include "DocumentImpl.h"

#include <com/sun/star/awt/XFontMappingUse.hpp>
#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/XDocumentProperties.hpp>
#include <com/sun/star/document/XDocumentPropertiesSupplier.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/XLoadable.hpp>
#include <com/sun/star/io/XInputStream.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/text/XTextContent.hpp>
#include <com/sun/star/text/XTextFieldsSupplier.hpp>
#include <com/sun/star/ucb/XSimpleFileAccess.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace wordengine {

using namespace detail;

namespace {

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

FileId IdOf(const struct stat& sb)
{
    FileId id;
    id.dev = sb.st_dev;
    id.ino = sb.st_ino;
    id.size = sb.st_size;
    id.mtimeSec = sb.st_mtim.tv_sec;
    id.mtimeNsec = sb.st_mtim.tv_nsec;
    return id;
}

}  // namespace

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

// Documents open in the engine (parked ones included), and the engine that took fonts a
// document carried inside itself. The engine keeps such fonts for the rest of its life: a
// later document asking for the same family would be drawn with another document's face.
std::atomic<int> g_openDocs{0};
int g_fontsGeneration = -1;

// The engine that read a binary Word file. Some such files leave state behind in the engine
// that moves the outlines it traces for text along a path (a text watermark) by a tenth of a
// point, so a later document's watermark came out in other grey levels than when converted
// alone. Such a document is loaded again into a fresh engine.
int g_binaryWordGeneration = -1;

// No document but those parked (which can be let go) holds the engine.
bool EngineHeldByNone()
{
    return g_openDocs <= int(Parked().size()) && TheSlot().content.empty();
}

// Before a load: an engine that took a document's own fonts is replaced once none of the
// documents it holds is open any more (the pages of one document, loaded while it is open,
// keep it).
void ForgetDocumentFonts()
{
    EngineState& st = State();
    if (g_fontsGeneration != st.generation || !st.alive)
        return;
    if (!EngineHeldByNone())
        return;
    if (getenv("FOLIUM_ENGINE_VERBOSE"))
        fprintf(stderr, "wordserver: replacing the engine that took a document's own fonts\n");
    EngineShutdown();
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

void CloseImpl(Document::Impl& d)
{
    if (!d.open)
        return;
    d.open = false;
    --g_openDocs;
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
    d.DropPdf();
    HandBack(d.handed);
    d.handed.clear();
}

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
    ForgetDocumentFonts();
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
    const bool bHidden = HiddenFromEngine(path);
    d.handed = bHidden ? HandIn(path) : std::string();
    if (bHidden && d.handed.empty())
        return EngineStatus::LoadFailed;

    bool wantsFreshEngine = false;
    s = Guarded(d.generation, [&]() -> EngineStatus {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point started = Clock::now();
        Reference<css::task::XInteractionHandler> handler(NewNoQuestionsHandler());
        const OUString url = FileUrl(bHidden ? d.handed : path);
        d.loadFilter = DetectFilter(url, handler);
        if (!IsDocumentFilter(d.loadFilter))
            return EngineStatus::LoadFailed;
        // The model is loaded first and gets its view only after its comments are hidden.
        Reference<css::lang::XMultiComponentFactory> smgr = State().context->getServiceManager();
        Reference<css::frame::XLoadable> loadable(
            smgr->createInstanceWithContext("com.sun.star.text.TextDocument", State().context), UNO_QUERY_THROW);
        Reference<css::lang::XComponent> model(loadable, UNO_QUERY_THROW);
        // From the start of the load through the whole layout: the engine lays text out
        // while it imports, and again when the view formats the pages.
        FontTracking tracking(d.generation);
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
            // A file whose stored count cannot be read still loads: it has none then.
            try {
                ReadStoredPages(model, url, d);
            } catch (const css::lang::DisposedException&) {
                throw;  // the engine is gone
            } catch (const css::uno::Exception& e) {
                LogFailure("stored pages", e.Message);
                d.storedPages = 0;
                d.storedBy.clear();
            }
            try {
                ReadEmbeddedFonts(url, d);
            } catch (const css::lang::DisposedException&) {
                throw;
            } catch (const css::uno::Exception& e) {
                // Unreadable parts: the engine took none of them either.
                LogFailure("embedded fonts", e.Message);
                d.embeddedFonts.clear();
            }
            if (d.carriesFonts)
                g_fontsGeneration = d.generation;
            const bool afterBinary = g_binaryWordGeneration == d.generation;
            if (IsBinaryWordFilter(d.loadFilter))
                g_binaryWordGeneration = d.generation;
            if (afterBinary && EngineHeldByNone() && HoldsFontwork(model)) {
                CloseComponent(model);
                wantsFreshEngine = true;
                return EngineStatus::LoadFailed;
            }
            HideComments(Reference<XTextDocument>(model, UNO_QUERY_THROW));
        } catch (const css::uno::Exception& e) {
            LogFailure("load", e.Message);
            CloseComponent(model);
            return EngineStatus::LoadFailed;
        }
        const Clock::time_point imported = Clock::now();
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
        d.open = true;
        ++g_openDocs;
        // The view's page count formats the whole document (its later pages are otherwise
        // laid out when first drawn), so every font of it is drawn once while recording.
        Reference<css::beans::XPropertySet> vp(d.controller, UNO_QUERY);
        if (vp.is())
            vp->getPropertyValue("PageCount");
        d.fontsTracked = tracking.Finish(&d.fontUses);
        if (UseFontAlternatives(d.textDoc, d) && vp.is()) {
            FontTracking again(d.generation);  // what the alternatives drew
            vp->getPropertyValue("PageCount");
            std::vector<FontUse> more;
            if (again.Finish(&more))
                d.fontUses.insert(d.fontUses.end(), more.begin(), more.end());
        }
        d.loadTimes.import = std::chrono::duration<double>(imported - started).count();
        d.loadTimes.layout = std::chrono::duration<double>(Clock::now() - imported).count();
        CreditAlternatives(&d.fontUses, d.alternativesUsed);
        if (getenv("FOLIUM_ENGINE_VERBOSE")) {
            for (const FontUse& u : d.fontUses) {
                std::string used;
                for (const std::string& f : u.used)
                    used += " [" + f + "]";
                fprintf(stderr, "wordserver: font %s (%d):%s\n", u.requested.c_str(), u.count, used.c_str());
            }
        }
        return EngineStatus::Ok;
    });
    if (s == EngineStatus::Failed)
        s = EngineStatus::LoadFailed;
    if (wantsFreshEngine) {
        if (getenv("FOLIUM_ENGINE_VERBOSE"))
            fprintf(stderr, "wordserver: a fresh engine for a document with text effects\n");
        HandBack(d.handed);
        EngineShutdown();
        return LoadDocument(pathIn, opts, out);
    }
    if (s != EngineStatus::Ok) {
        // A half-made document (loaded, but without its view) is closed in the engine; it
        // is not open to Close, which would leave it loaded there.
        if (d.component.is()) {
            if (!d.open)
                ++g_openDocs;
            d.open = true;
            CloseImpl(d);
        }
        HandBack(d.handed);
        return s;
    }
    *out = doc;
    return EngineStatus::Ok;
}

Document::LoadTimes Document::LoadSeconds() const
{
    return m_impl->loadTimes;
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
            d.DropPdf();
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

EngineStatus Document::Ready(bool keepStale)
{
    if (m_impl->open && !keepStale) {
        EngineStatus u = Unstale();
        if (u != EngineStatus::Ok)
            return u;
    }
    return m_impl->open ? EngineStatus::Ok : EngineStatus::Disconnected;
}

}  // namespace wordengine
