// Page pixels from the engine's PDF export, through poppler.
#include "Engine.h"

#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

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

int PdfPageCount(const PdfBytes& pdf)
{
    auto doc = Open(pdf);
    return doc ? doc->pages() : 0;
}

bool PdfPageSize(const PdfBytes& pdf, int page, double* widthPt, double* heightPt)
{
    auto doc = Open(pdf);
    if (!doc || page < 0 || page >= doc->pages())
        return false;
    std::unique_ptr<poppler::page> p(doc->create_page(page));
    if (!p)
        return false;
    poppler::rectf r = p->page_rect(poppler::media_box);
    *widthPt = r.width();
    *heightPt = r.height();
    return *widthPt > 0 && *heightPt > 0;
}

bool RasterisePdfPage(const PdfBytes& pdf, int page, int width, int height,
                      std::vector<uint32_t>* pixels)
{
    if (width <= 0 || height <= 0 || width > 32767 || height > 32767 || !pixels)
        return false;
    auto doc = Open(pdf);
    if (!doc || page < 0 || page >= doc->pages())
        return false;
    std::unique_ptr<poppler::page> p(doc->create_page(page));
    if (!p)
        return false;
    poppler::rectf r = p->page_rect(poppler::media_box);
    if (r.width() <= 0 || r.height() <= 0)
        return false;
    poppler::page_renderer renderer;
    renderer.set_render_hints(poppler::page_renderer::antialiasing |
                              poppler::page_renderer::text_antialiasing);
    renderer.set_paper_color(0xffffffff);
    renderer.set_image_format(poppler::image::format_argb32);
    // Resolution that maps the page onto exactly the requested pixels on each axis.
    double xres = width * 72.0 / r.width(), yres = height * 72.0 / r.height();
    poppler::image img = renderer.render_page(p.get(), xres, yres, 0, 0, width, height);
    if (!img.is_valid() || img.width() < 1 || img.height() < 1)
        return false;
    pixels->assign(size_t(width) * size_t(height), 0x00ffffffu);
    int w = std::min(width, img.width()), h = std::min(height, img.height());
    const char* data = img.const_data();
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * img.bytes_per_row());
        uint32_t* dst = pixels->data() + size_t(y) * width;
        for (int x = 0; x < w; ++x)
            dst[x] = row[x] & 0x00ffffffu;
    }
    return true;
}

}  // namespace wordengine
