// Page pixels from the engine's PDF export, through poppler.
#include "Engine.h"

// poppler's own classes, not its C++ wrapper: the wrapper makes a new renderer for every page,
// so every page read its fonts and drew its glyphs afresh. One renderer per document keeps
// them, as pdftoppm does, and its bitmap is read in place.
#include <GlobalParams.h>
#include <PDFDoc.h>
#include <SplashOutputDev.h>
#include <Stream.h>
#include <splash/SplashBitmap.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace wordengine {

namespace {

// poppler reports what it finds odd in a file on standard error; a converter's output is no
// place for it.
void QuietErrors(ErrorCategory, Goffset pos, const char* msg)
{
    if (getenv("FOLIUM_ENGINE_VERBOSE"))
        fprintf(stderr, "poppler: %s (at %lld)\n", msg, static_cast<long long>(pos));
}

void InitPoppler()
{
    static std::once_flag once;
    std::call_once(once, []() {
        if (!globalParams)
            globalParams = std::make_unique<GlobalParams>();
        setErrorCallback(QuietErrors);
    });
}

}  // namespace

struct PdfPages::Impl {
    std::unique_ptr<PDFDoc> doc;
    std::unique_ptr<SplashOutputDev> out;  // made on the first page drawn
};

PdfPages::PdfPages(std::shared_ptr<const PdfBytes> pdf) : m_pdf(std::move(pdf)), m_impl(new Impl)
{
    if (!m_pdf || m_pdf->data.empty() || m_pdf->data.size() > size_t(1) << 40)
        return;
    InitPoppler();
    // The stream only reads the bytes, which outlive it (m_pdf); the document owns the stream.
    auto* stream = new MemStream(reinterpret_cast<const char*>(m_pdf->data.data()), 0,
                                 Goffset(m_pdf->data.size()), Object(objNull));
    auto doc = std::make_unique<PDFDoc>(stream);
    if (doc->isOk() && doc->getNumPages() > 0)
        m_impl->doc = std::move(doc);
}

PdfPages::~PdfPages() = default;

int PdfPages::Count() const
{
    return m_impl->doc ? m_impl->doc->getNumPages() : 0;
}

namespace {

// The page's media box; null for a page out of range or without an area.
const PDFRectangle* BoxOf(PDFDoc* doc, int page)
{
    if (!doc || page < 0 || page >= doc->getNumPages())
        return nullptr;
    Page* p = doc->getPage(page + 1);
    const PDFRectangle* box = p ? p->getMediaBox() : nullptr;
    if (!box || !(box->x2 - box->x1 > 0 && box->y2 - box->y1 > 0))
        return nullptr;
    return box;
}

// The whole resolution at which the page comes out at width x height, as pdftoppm rounds its
// pictures up to whole pixels; 0 when there is none.
double WholeResolution(double boxWidth, double boxHeight, int width, int height)
{
    const double r = std::round(width * 72.0 / boxWidth);
    if (r < 1)
        return 0;
    const double w = std::ceil(boxWidth * r / 72.0 - 1e-6), h = std::ceil(boxHeight * r / 72.0 - 1e-6);
    return (std::fabs(w - width) <= 1 && std::fabs(h - height) <= 1) ? r : 0;
}

}  // namespace

bool PdfPages::PageSize(int page, double* widthPt, double* heightPt) const
{
    const PDFRectangle* box = BoxOf(m_impl->doc.get(), page);
    if (!box)
        return false;
    *widthPt = box->x2 - box->x1;
    *heightPt = box->y2 - box->y1;
    return true;
}

bool PdfPages::Rasterise(int page, int width, int height, std::vector<uint32_t>* pixels) const
{
    if (width <= 0 || height <= 0 || width > 32767 || height > 32767 || !pixels)
        return false;
    const PDFRectangle* box = BoxOf(m_impl->doc.get(), page);
    if (!box)
        return false;
    const double boxWidth = box->x2 - box->x1, boxHeight = box->y2 - box->y1;
    if (!m_impl->out) {
        // pdftoppm's renderer: anti-aliased text and vectors, no hinting, on white.
        SplashColor paper;
        paper[0] = paper[1] = paper[2] = paper[3] = 0xff;
        m_impl->out = std::make_unique<SplashOutputDev>(splashModeXBGR8, 4, false, paper, true, splashThinLineDefault);
        m_impl->out->setFontAntialias(true);
        m_impl->out->setVectorAntialias(true);
        m_impl->out->setFreeTypeHinting(false, false);
        m_impl->out->startDoc(m_impl->doc.get());
    }
    double xres = WholeResolution(boxWidth, boxHeight, width, height), yres = xres;
    if (xres == 0) {
        // Any other size: the page stretched onto exactly the requested pixels on each axis.
        xres = width * 72.0 / boxWidth;
        yres = height * 72.0 / boxHeight;
    }
    m_impl->doc->displayPageSlice(m_impl->out.get(), page + 1, xres, yres, 0, false, true, false, 0, 0, width, height);
    SplashBitmap* bitmap = m_impl->out->getBitmap();
    if (!bitmap || bitmap->getWidth() < 1 || bitmap->getHeight() < 1 || bitmap->getMode() != splashModeXBGR8 ||
        bitmap->getRowSize() < bitmap->getWidth() * 4)
        return false;
    const int w = std::min(width, bitmap->getWidth()), h = std::min(height, bitmap->getHeight());
    // Paper white only where poppler gave fewer pixels than asked: every other one is copied.
    if (w < width || h < height)
        pixels->assign(size_t(width) * size_t(height), 0x00ffffffu);
    else
        pixels->resize(size_t(width) * size_t(height));
    // Rows of blue, green, red and a byte that is no colour.
    const SplashColorPtr data = bitmap->getDataPtr();
    for (int y = 0; y < h; ++y) {
        const unsigned char* row = data + size_t(y) * size_t(bitmap->getRowSize());
        uint32_t* dst = pixels->data() + size_t(y) * width;
        std::memcpy(dst, row, size_t(w) * 4);
        for (int x = 0; x < w; ++x)
            dst[x] &= 0x00ffffffu;
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
