// Page pixels from the engine's PDF export, through poppler.
#include "Engine.h"

#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace wordengine {

namespace {

std::unique_ptr<poppler::document> Open(const PdfBytes& pdf)
{
    if (pdf.data.empty())
        return nullptr;
    // poppler takes a mutable buffer but only reads it.
    auto* bytes = reinterpret_cast<char*>(const_cast<unsigned char*>(pdf.data.data()));
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_raw_data(bytes, int(pdf.data.size())));
    if (!doc || doc->is_locked())
        return nullptr;
    return doc;
}

}  // namespace

struct PdfPages::Impl {
    std::unique_ptr<poppler::document> doc;
};

PdfPages::PdfPages(std::shared_ptr<const PdfBytes> pdf) : m_pdf(std::move(pdf)), m_impl(new Impl)
{
    if (m_pdf)
        m_impl->doc = Open(*m_pdf);
}

PdfPages::~PdfPages() = default;

int PdfPages::Count() const
{
    return m_impl->doc ? m_impl->doc->pages() : 0;
}

namespace {

std::unique_ptr<poppler::page> PageOf(poppler::document* doc, int page, poppler::rectf* box)
{
    if (!doc || page < 0 || page >= doc->pages())
        return nullptr;
    std::unique_ptr<poppler::page> p(doc->create_page(page));
    if (!p)
        return nullptr;
    *box = p->page_rect(poppler::media_box);
    if (!(box->width() > 0 && box->height() > 0))
        return nullptr;
    return p;
}

// The whole resolution at which the page comes out at width x height, as pdftoppm rounds its
// pictures up to whole pixels; 0 when there is none.
double WholeResolution(const poppler::rectf& box, int width, int height)
{
    const double r = std::round(width * 72.0 / box.width());
    if (r < 1)
        return 0;
    const double w = std::ceil(box.width() * r / 72.0 - 1e-6), h = std::ceil(box.height() * r / 72.0 - 1e-6);
    return (std::fabs(w - width) <= 1 && std::fabs(h - height) <= 1) ? r : 0;
}

}  // namespace

bool PdfPages::PageSize(int page, double* widthPt, double* heightPt) const
{
    poppler::rectf box;
    if (!PageOf(m_impl->doc.get(), page, &box))
        return false;
    *widthPt = box.width();
    *heightPt = box.height();
    return true;
}

bool PdfPages::Rasterise(int page, int width, int height, std::vector<uint32_t>* pixels) const
{
    if (width <= 0 || height <= 0 || width > 32767 || height > 32767 || !pixels)
        return false;
    poppler::rectf box;
    std::unique_ptr<poppler::page> p = PageOf(m_impl->doc.get(), page, &box);
    if (!p)
        return false;
    poppler::page_renderer renderer;
    renderer.set_render_hints(poppler::page_renderer::antialiasing |
                              poppler::page_renderer::text_antialiasing);
    renderer.set_paper_color(0xffffffff);
    renderer.set_image_format(poppler::image::format_argb32);
    double xres = WholeResolution(box, width, height), yres = xres;
    if (xres == 0) {
        // Any other size: the page stretched onto exactly the requested pixels on each axis.
        xres = width * 72.0 / box.width();
        yres = height * 72.0 / box.height();
    }
    poppler::image img = renderer.render_page(p.get(), xres, yres, 0, 0, width, height);
    if (!img.is_valid() || img.width() < 1 || img.height() < 1)
        return false;
    const int w = std::min(width, img.width()), h = std::min(height, img.height());
    // Paper white only where poppler gave fewer pixels than asked: every other one is copied.
    if (w < width || h < height)
        pixels->assign(size_t(width) * size_t(height), 0x00ffffffu);
    else
        pixels->resize(size_t(width) * size_t(height));
    const char* data = img.const_data();
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * img.bytes_per_row());
        uint32_t* dst = pixels->data() + size_t(y) * width;
        for (int x = 0; x < w; ++x)
            dst[x] = row[x] & 0x00ffffffu;
    }
    return true;
}

namespace {

// The free functions below serve one-off uses: the bytes are only borrowed.
PdfPages Borrow(const PdfBytes& pdf)
{
    return PdfPages(std::shared_ptr<const PdfBytes>(&pdf, [](const PdfBytes*) {}));
}

}  // namespace

int PdfPageCount(const PdfBytes& pdf)
{
    return Borrow(pdf).Count();
}

bool PdfPageSize(const PdfBytes& pdf, int page, double* widthPt, double* heightPt)
{
    return Borrow(pdf).PageSize(page, widthPt, heightPt);
}

bool RasterisePdfPage(const PdfBytes& pdf, int page, int width, int height, std::vector<uint32_t>* pixels)
{
    return Borrow(pdf).Rasterise(page, width, height, pixels);
}

}  // namespace wordengine
