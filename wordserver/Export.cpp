// Writing a document out: SaveAs by the file name's extension, and PDF of its pages (kept in
// memory for drawing them).
#include "DocumentImpl.h"

#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/view/XRenderable.hpp>

#include <atomic>
#include <vector>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace wordengine {

using namespace detail;

namespace {

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

// The PDF settings of every page the engine writes: the pages are drawn from this PDF, so a
// document's pictures go in as they are (the defaults bring any picture finer than 300 dpi
// down to 300 dpi and store it as JPEG when that is smaller, which leaves ringing around the
// strokes of a screenshot), and nothing goes in that the pages do not show (tags, which make
// the file about twice as large, bookmarks, comments, form fields as widgets).
Sequence<PropertyValue> PageFilterData(const char* pageRange)
{
    std::vector<PropertyValue> data = {
        Prop("UseLosslessCompression", Any(true)),
        Prop("ReduceImageResolution", Any(false)),
        Prop("UseTaggedPDF", Any(false)),
        Prop("PDFUACompliance", Any(false)),
        Prop("ExportBookmarks", Any(false)),
        Prop("ExportNotes", Any(false)),
        Prop("ExportNotesInMargin", Any(false)),
        Prop("ExportNotesPages", Any(false)),
        Prop("ExportFormFields", Any(false)),
        Prop("IsAddStream", Any(false)),
        Prop("EmbedStandardFonts", Any(false)),
    };
    if (pageRange)
        data.push_back(Prop("PageRange", Any(OUString::createFromAscii(pageRange))));
    return Sequence<PropertyValue>(data.data(), sal_Int32(data.size()));
}

}  // namespace

bool Document::Impl::StorePdf(const std::string& path, const char* pageRange)
{
    Reference<css::frame::XStorable> st(component, UNO_QUERY_THROW);
    st->storeToURL(FileUrl(path), Props({Prop("FilterName", Any(OUString("writer_pdf_Export"))),
                                         Prop("FilterData", Any(PageFilterData(pageRange)))}));
    return true;
}

EngineStatus Document::SaveAs(const std::string& pathIn, const std::string& password)
{
    EngineStatus ready = Ready();
    if (ready != EngineStatus::Ok)
        return ready;
    Impl& d = *m_impl;
    if (pathIn.empty())
        return EngineStatus::BadArgument;
    std::string path = AbsolutePath(pathIn);
    return Guarded(d.generation, [&]() -> EngineStatus {
        const char* f = FilterForPath(path);
        OUString filter = f ? OUString::createFromAscii(f) : d.loadFilter;
        Reference<css::frame::XStorable> st(d.component, UNO_QUERY_THROW);
        Sequence<PropertyValue> args = Props({Prop("FilterName", Any(filter)), Prop("Overwrite", Any(true))});
        // A PDF saved is the pages as drawn: the same settings.
        if (filter == "writer_pdf_Export" && password.empty())
            args = Props({Prop("FilterName", Any(filter)), Prop("Overwrite", Any(true)),
                          Prop("FilterData", Any(PageFilterData(nullptr)))});
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
        // Into a folder hidden from the engine: written where it can write, then moved there.
        const bool bHidden = HiddenFromEngine(path);
        const std::string outbox = bHidden ? Outbox(path) : std::string();
        if (bHidden && outbox.empty())
            return EngineStatus::Failed;
        try {
            st->storeToURL(FileUrl(bHidden ? outbox : path), args);
        } catch (const css::io::IOException&) {
            HandBack(outbox);
            return EngineStatus::Failed;
        }
        return !bHidden || Deliver(outbox, path) ? EngineStatus::Ok : EngineStatus::Failed;
    });
}

EngineStatus Document::FirstPagePdf(std::shared_ptr<const PdfBytes>* out)
{
    return CachedPdf(&Impl::firstPage, "1", out);
}

EngineStatus Document::PagePdf(int page, std::shared_ptr<const PdfBytes>* out)
{
    if (page < 1)
        return EngineStatus::BadArgument;
    if (page == 1)
        return FirstPagePdf(out);
    const std::string range = std::to_string(page);
    return CachedPdf(nullptr, range.c_str(), out);
}

EngineStatus Document::AllPagesPdf(std::shared_ptr<const PdfBytes>* out)
{
    return CachedPdf(&Impl::allPages, nullptr, out);
}

EngineStatus Document::CachedPdf(std::shared_ptr<const PdfBytes> Impl::*slot, const char* pageRange,
                                 std::shared_ptr<const PdfBytes>* out)
{
    EngineStatus ready = Ready();
    if (ready != EngineStatus::Ok)
        return ready;
    Impl& d = *m_impl;
    if (slot && d.*slot) {
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
    if (slot)
        d.*slot = pdf;
    *out = pdf;
    return EngineStatus::Ok;
}

EngineStatus Document::DrawnPageCount(int* count)
{
    EngineStatus ready = Ready();
    if (ready != EngineStatus::Ok)
        return ready;
    Impl& d = *m_impl;
    if (d.drawnPages > 0) {
        *count = d.drawnPages;
        return EngineStatus::Ok;
    }
    return Guarded(d.generation, [&]() -> EngineStatus {
        // The export's own count, asked with the export's settings: the pages of the layout
        // less the blank ones the engine inserts (an odd page after an odd page), which the
        // export leaves out. It costs a look at the layout, not the drawing of every page.
        Reference<css::view::XRenderable> renderable(d.component, UNO_QUERY_THROW);
        const int n = renderable->getRendererCount(
            Any(d.model), Props({Prop("IsSkipEmptyPages", Any(true)), Prop("ExportNotesPages", Any(false)),
                                 Prop("ExportNotesInMargin", Any(false)), Prop("ExportPlaceholders", Any(false))}));
        if (n <= 0)
            return EngineStatus::Failed;
        d.drawnPages = *count = n;
        return EngineStatus::Ok;
    });
}

EngineStatus Document::ExportPdf(const std::string& path)
{
    EngineStatus ready = Ready();
    if (ready != EngineStatus::Ok)
        return ready;
    Impl& d = *m_impl;
    std::string abs = AbsolutePath(path);
    return Guarded(d.generation, [&]() -> EngineStatus {
        d.StorePdf(abs, nullptr);
        return EngineStatus::Ok;
    });
}

}  // namespace wordengine
