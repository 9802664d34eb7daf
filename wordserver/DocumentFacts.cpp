// What a document tells beside its pages: the fonts the engine's layout drew its text with,
// the page count and application Word stored in the file, and whether it holds text effects.
#include "DocumentImpl.h"
#include "EmbeddedFonts.h"

#include <com/sun/star/awt/XFontMappingUse.hpp>
#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/beans/XPropertySetInfo.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/document/XDocumentProperties.hpp>
#include <com/sun/star/document/XDocumentPropertiesSupplier.hpp>
#include <com/sun/star/drawing/XDrawPageSupplier.hpp>
#include <com/sun/star/drawing/XShapes.hpp>
#include <com/sun/star/io/XInputStream.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/ucb/XSimpleFileAccess.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace wordengine {

using namespace detail;

namespace {

// A binary Word file's summary property set, read with the engine's own compound file
// reader: its filter does not carry the page count and application into the properties.
void ReadSummaryInformation(const OUString& url, Document::Impl& d)
{
    Reference<css::lang::XMultiComponentFactory> smgr = State().context->getServiceManager();
    Reference<css::ucb::XSimpleFileAccess> files(
        smgr->createInstanceWithContext("com.sun.star.ucb.SimpleFileAccess", State().context), UNO_QUERY_THROW);
    Reference<css::io::XInputStream> file = files->openFileRead(url);
    // No temporary copy of the file: its stream seeks.
    Sequence<Any> args(2);
    args.getArray()[0] <<= file;
    args.getArray()[1] <<= true;
    Reference<css::container::XNameAccess> storage(
        smgr->createInstanceWithArgumentsAndContext("com.sun.star.embed.OLESimpleStorage", args, State().context),
        UNO_QUERY_THROW);
    const OUString name = OUString(u'\x0005') + "SummaryInformation";
    Reference<css::io::XInputStream> stream;
    if (storage->hasByName(name))
        storage->getByName(name) >>= stream;
    if (stream.is()) {
        // Word writes a few hundred bytes; a larger set is cut, which its reader allows.
        Sequence<sal_Int8> bytes;
        const sal_Int32 got = stream->readBytes(bytes, 64 * 1024);
        ParseSummaryInformation(reinterpret_cast<const unsigned char*>(bytes.getConstArray()),
                                size_t(std::max<sal_Int32>(0, std::min(got, bytes.getLength()))), &d.storedPages,
                                &d.storedBy);
        stream->closeInput();
    }
    file->closeInput();
}

}  // namespace

namespace detail {

FontTracking::FontTracking(int generation)
{
    static Reference<css::awt::XFontMappingUse> toolkit;
    static int toolkitGeneration = -1;
    if (toolkitGeneration != generation) {
        toolkit.clear();
        toolkitGeneration = generation;
        Reference<css::lang::XMultiComponentFactory> smgr = State().context->getServiceManager();
        toolkit.set(smgr->createInstanceWithContext("com.sun.star.awt.Toolkit", State().context), UNO_QUERY);
    }
    m_toolkit = toolkit;
    if (m_toolkit.is()) {
        m_toolkit->startTrackingFontMappingUse();
        m_active = true;
    }
}

FontTracking::~FontTracking()
{
    if (!m_active)
        return;
    try {
        m_toolkit->finishTrackingFontMappingUse();
    } catch (...) {
    }
}

bool FontTracking::Finish(std::vector<FontUse>* out)
{
    if (!m_active)
        return false;
    m_active = false;
    const Sequence<css::awt::XFontMappingUseItem> items = m_toolkit->finishTrackingFontMappingUse();
    out->clear();
    out->reserve(size_t(items.getLength()));
    for (const css::awt::XFontMappingUseItem& item : items) {
        FontUse u;
        u.requested = ToUtf8(item.originalFont);
        for (const OUString& used : item.usedFonts)
            u.used.push_back(ToUtf8(used));
        u.count = int(item.count);
        out->push_back(std::move(u));
    }
    return true;
}

void ReadEmbeddedFonts(const OUString& url, Document::Impl& d)
{
    d.embeddedFonts.clear();
    d.carriesFonts = false;
    d.fontAlternatives.clear();
    if (!d.loadFilter.startsWith("MS Word 2007") && !d.loadFilter.startsWith("Office Open XML"))
        return;
    Reference<css::lang::XMultiComponentFactory> smgr = State().context->getServiceManager();
    Reference<css::ucb::XSimpleFileAccess> files(
        smgr->createInstanceWithContext("com.sun.star.ucb.SimpleFileAccess", State().context), UNO_QUERY_THROW);
    Reference<css::io::XInputStream> file = files->openFileRead(url);
    Sequence<Any> args(1);
    args.getArray()[0] <<= file;
    Reference<css::container::XNameAccess> zip(
        smgr->createInstanceWithArgumentsAndContext("com.sun.star.packages.zip.ZipFileAccess", args, State().context),
        UNO_QUERY_THROW);
    // A font file of Word's is a few megabytes at most; a larger part is left unread.
    const sal_Int32 kMaxPart = 64 << 20;
    std::string table;
    d.embeddedFonts = EmbeddedFamilies([&](const std::string& name, std::string* out) {
        const OUString n = FromUtf8(name);
        Reference<css::io::XInputStream> in;
        if (!zip->hasByName(n) || !(zip->getByName(n) >>= in) || !in.is())
            return false;
        out->clear();
        Sequence<sal_Int8> bytes;
        sal_Int32 got;
        while ((got = in->readBytes(bytes, 1 << 16)) > 0) {
            if (sal_Int32(out->size()) > kMaxPart - got) {
                in->closeInput();
                return false;
            }
            out->append(reinterpret_cast<const char*>(bytes.getConstArray()), size_t(got));
        }
        in->closeInput();
        return true;
    }, &d.carriesFonts, &table);
    file->closeInput();
    d.fontAlternatives = FontAlternativesOf(table);
    if (getenv("FOLIUM_ENGINE_VERBOSE"))
        for (const std::string& f : d.embeddedFonts)
            fprintf(stderr, "wordserver: embedded font %s\n", f.c_str());
}

void ReadStoredPages(const Reference<css::uno::XInterface>& model, const OUString& url, Document::Impl& d)
{
    // Word 6 and later write compound files; Word 2 (the filter "MS WinWord 5") does not.
    if (d.loadFilter.startsWith("MS Word 9") || d.loadFilter == "MS WinWord 6.0") {
        ReadSummaryInformation(url, d);
    } else {
        // The OOXML filter reads docProps/app.xml's <Pages> and <Application> into these.
        Reference<css::document::XDocumentPropertiesSupplier> dps(model, UNO_QUERY);
        Reference<css::document::XDocumentProperties> props = dps.is() ? dps->getDocumentProperties() : nullptr;
        if (!props.is())
            return;
        d.storedBy = ToUtf8(props->getGenerator());
        for (const css::beans::NamedValue& v : props->getDocumentStatistics()) {
            sal_Int32 n = 0;
            if (v.Name == "PageCount" && (v.Value >>= n) && n > 0)
                d.storedPages = int(n);
        }
    }
    if (getenv("FOLIUM_ENGINE_VERBOSE"))
        fprintf(stderr, "wordserver: stored pages %d, saved by \"%s\"\n", d.storedPages, d.storedBy.c_str());
}

// A shape whose text is drawn as outlines along a path: Word's text watermarks and WordArt.
// Groups are looked into, to a bounded depth and count (the file is untrusted).
static bool ShapesHoldFontwork(const Reference<css::container::XIndexAccess>& shapes, int depth, int* budget)
{
    const sal_Int32 n = shapes.is() ? shapes->getCount() : 0;
    for (sal_Int32 i = 0; i < n && --*budget > 0; ++i) {
        Reference<css::drawing::XShapes> group(shapes->getByIndex(i), UNO_QUERY);
        if (group.is()) {
            if (depth < 8 && ShapesHoldFontwork(Reference<css::container::XIndexAccess>(group, UNO_QUERY), depth + 1, budget))
                return true;
            continue;
        }
        Reference<css::beans::XPropertySet> shape(shapes->getByIndex(i), UNO_QUERY);
        Reference<css::beans::XPropertySetInfo> info = shape.is() ? shape->getPropertySetInfo() : nullptr;
        if (!info.is() || !info->hasPropertyByName("CustomShapeGeometry"))
            continue;
        Sequence<PropertyValue> geometry;
        shape->getPropertyValue("CustomShapeGeometry") >>= geometry;
        for (const PropertyValue& g : geometry) {
            Sequence<PropertyValue> path;
            if (g.Name != "TextPath" || !(g.Value >>= path))
                continue;
            for (const PropertyValue& p : path) {
                bool on = false;
                if (p.Name == "TextPath" && (p.Value >>= on) && on)
                    return true;
            }
        }
    }
    return false;
}

bool HoldsFontwork(const Reference<css::uno::XInterface>& model)
{
    Reference<css::drawing::XDrawPageSupplier> pages(model, UNO_QUERY);
    if (!pages.is())
        return false;
    int budget = 100000;
    // A text document has one draw page, offered only through this interface that the type
    // library marks deprecated.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Reference<css::container::XIndexAccess> shapes(pages->getDrawPage(), UNO_QUERY);
#pragma GCC diagnostic pop
    return ShapesHoldFontwork(shapes, 0, &budget);
}

}  // namespace detail

EngineStatus Document::FontUses(std::vector<FontUse>* out, std::vector<std::string>* embedded)
{
    EngineStatus s = Ready();
    if (s != EngineStatus::Ok)
        return s;
    if (!m_impl->fontsTracked)
        return EngineStatus::Failed;
    *out = m_impl->fontUses;
    if (embedded)
        *embedded = m_impl->embeddedFonts;
    return EngineStatus::Ok;
}

EngineStatus Document::StoredPages(int* pages, std::string* application)
{
    EngineStatus s = Ready();
    if (s != EngineStatus::Ok)
        return s;
    *pages = m_impl->storedPages;
    *application = m_impl->storedBy;
    return EngineStatus::Ok;
}

}  // namespace wordengine
