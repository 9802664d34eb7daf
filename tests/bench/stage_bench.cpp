// Where a document's time goes, stage by stage, converted as a worker converts it: the engine
// loads the file, lays the whole document out and exports its pages to PDF once; each page is
// drawn from that PDF (poppler) into a memory bitmap and encoded through GDI+, here both as PNG
// and as JPG. Prints one line per document, the totals with each stage's share of a PNG run
// and of a JPG run, and the documents that took longest. Prints figures; not a test.
//   stage_bench [-r DPI] [-q QUALITY] [--keep-pdf DIR] [FILE|FOLDER...]
// (default: the corpus of real documents, 96 dpi, the program's JPEG quality 90). The engine is
// a private one, with folders of its own (EngineHome.cpp).
#include "TempDir.h"
#include "common/misc/GdipEncoder.h"
#include "common/misc/PageMemory.h"
#include "wordserver/Engine.h"

#include <windows.h>

#include <gdiplusflat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;
using namespace wordengine;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

enum Stage { kImport, kLayout, kExport, kDraw, kPng, kJpg, kOther, kStages };
const char* const kStageNames[kStages] = {"import", "layout", "export", "draw", "png", "jpg", "other"};
const char* const kStageWhat[kStages] = {
    "the engine reads the file (it lays text out as it imports; comments hidden, stored facts read)",
    "the view's layout of every page, and the export's page count (DrawnPageCount)",
    "every page to PDF with the pages' export settings (AllPagesPdf)",
    "the PDF parsed, each page drawn by poppler and copied into a 32-bit memory bitmap",
    "each page taken out of the bitmap as 24-bit rows and encoded as PNG into a file",
    "each page taken out of the bitmap as 32-bit rows and encoded as JPG into a file",
    "the rest of the load (engine start or replacement, handing the file in) and the close",
};

double Since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

struct Row {
    std::string name;
    int pages = 0;
    double s[kStages] = {};
    long long pdfBytes = 0, pngBytes = 0, jpgBytes = 0;
    double PngRun() const { return s[kImport] + s[kLayout] + s[kExport] + s[kDraw] + s[kPng] + s[kOther]; }
    double JpgRun() const { return PngRun() - s[kPng] + s[kJpg]; }
};

bool IsWordFile(const fs::path& p)
{
    const std::string ext = p.extension().string();
    return strcasecmp(ext.c_str(), ".doc") == 0 || strcasecmp(ext.c_str(), ".docx") == 0;
}

// The bitmap's rows at bpp bits (bottom-up, as GDI hands them out) encoded to path as the worker
// saves a picture. The file's size, or -1.
long long Encode(HDC hdc, HBITMAP hbm, int w, int h, int bpp, const char16_t* mime, ULONG quality,
                 const std::string& path)
{
    BITMAPINFO bi;
    std::memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = WORD(bpp);
    bi.bmiHeader.biCompression = BI_RGB;
    const size_t stride = (size_t(w) * size_t(bpp / 8) + 3) & ~size_t(3);
    std::vector<uint8_t> bits(stride * size_t(h));
    if (GetDIBits(hdc, hbm, 0, UINT(h), bits.data(), &bi, DIB_RGB_COLORS) != h)
        return -1;
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromGdiDib(&bi, bits.data(), &bitmap) != Ok || !bitmap)
        return -1;
    CLSID clsid;
    WCHAR wpath[4096];
    bool ok = GetEncoderClsid(mime, &clsid) && MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wpath, 4096) > 0;
    if (ok) {
        EncoderParameters params;
        params.Count = 1;
        params.Parameter[0].Guid = EncoderQuality;
        params.Parameter[0].NumberOfValues = 1;
        params.Parameter[0].Type = 4;  // EncoderParameterValueTypeLong
        params.Parameter[0].Value = &quality;
        ok = GdipSaveImageToFile(bitmap, wpath, &clsid, bpp == 32 ? &params : nullptr) == Ok;
    }
    GdipDisposeImage(bitmap);
    std::error_code ec;
    const long long size = ok ? (long long)fs::file_size(path, ec) : -1;
    unlink(path.c_str());
    return ec ? -1 : size;
}

// One document through every stage; false (with the reason) when it cannot be converted.
bool Convert(const std::string& path, int dpi, ULONG quality, const std::string& scratch,
             const std::string& keepPdf, Row* row, std::string* why)
{
    LoadOptions opts;
    opts.reuse = false;
    DocumentPtr doc;
    Clock::time_point t = Clock::now();
    EngineStatus st = LoadDocument(path, opts, &doc);
    const double load = Since(t);
    if (st != EngineStatus::Ok) {
        *why = std::string("load: ") + StatusName(st);
        return false;
    }
    const Document::LoadTimes lt = doc->LoadSeconds();
    row->s[kImport] = lt.import;
    row->s[kLayout] = lt.layout;
    row->s[kOther] = std::max(0.0, load - lt.import - lt.layout);

    t = Clock::now();
    int count = 0;
    st = doc->DrawnPageCount(&count);
    row->s[kLayout] += Since(t);
    std::shared_ptr<const PdfBytes> pdf;
    if (st == EngineStatus::Ok) {
        t = Clock::now();
        st = doc->AllPagesPdf(&pdf);
        row->s[kExport] = Since(t);
    }
    if (st != EngineStatus::Ok) {
        *why = std::string("export: ") + StatusName(st);
        return false;
    }
    row->pdfBytes = (long long)pdf->data.size();
    if (!keepPdf.empty()) {
        const std::string out = keepPdf + "/" + fs::path(path).stem().string() + ".pdf";
        if (FILE* f = fopen(out.c_str(), "wb")) {
            fwrite(pdf->data.data(), 1, pdf->data.size(), f);
            fclose(f);
        }
    }

    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    t = Clock::now();
    PdfPages pages(pdf);
    row->pages = pages.Count();
    row->s[kDraw] += Since(t);
    bool ok = row->pages > 0;
    for (int i = 0; ok && i < row->pages; ++i) {
        // The page's size in HIMETRIC, then in pixels as the worker sizes its pictures.
        t = Clock::now();
        double wPt = 0, hPt = 0;
        ok = pages.PageSize(i, &wPt, &hPt);
        const long long cx = (long long)(wPt * 2540.0 / 72.0 + 0.5), cy = (long long)(hPt * 2540.0 / 72.0 + 0.5);
        const int w = int((cx * dpi + 2539) / 2540), h = int((cy * dpi + 2539) / 2540);
        std::vector<uint32_t> pixels;
        ok = ok && w > 0 && h > 0 && pages.Rasterise(i, w, h, &pixels);
        HBITMAP hbm = ok ? CreateCompatibleBitmap(screen, w, h) : nullptr;
        ok = hbm != nullptr;
        if (ok) {
            HGDIOBJ old = SelectObject(mem, hbm);
            BITMAPINFO bmi;
            std::memset(&bmi, 0, sizeof bmi);
            bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
            bmi.bmiHeader.biWidth = w;
            bmi.bmiHeader.biHeight = -h;  // top-down
            bmi.bmiHeader.biPlanes = 1;
            bmi.bmiHeader.biBitCount = 32;
            bmi.bmiHeader.biCompression = BI_RGB;
            ok = SetDIBitsToDevice(mem, 0, 0, DWORD(w), DWORD(h), 0, 0, 0, UINT(h), pixels.data(), &bmi,
                                   DIB_RGB_COLORS) > 0;
            SelectObject(mem, old);
        }
        row->s[kDraw] += Since(t);
        if (!ok) {
            *why = "page " + std::to_string(i + 1) + " could not be drawn";
            break;
        }
        t = Clock::now();
        const long long png = Encode(mem, hbm, w, h, 24, u"image/png", quality, scratch + "page.png");
        row->s[kPng] += Since(t);
        t = Clock::now();
        const long long jpg = Encode(mem, hbm, w, h, 32, u"image/jpeg", quality, scratch + "page.jpg");
        row->s[kJpg] += Since(t);
        DeleteObject(hbm);
        ok = png > 0 && jpg > 0;
        if (!ok)
            *why = "page " + std::to_string(i + 1) + " could not be encoded";
        row->pngBytes += png;
        row->jpgBytes += jpg;
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    t = Clock::now();
    doc->Close();
    doc.reset();
    row->s[kOther] += Since(t);
    return ok;
}

void PrintRow(const Row& r)
{
    printf("%-34.34s %4d", r.name.c_str(), r.pages);
    for (int k = 0; k < kStages; ++k)
        printf(" %7.3f", r.s[k]);
    printf(" %8.3f %8.3f\n", r.PngRun(), r.JpgRun());
}

void PrintHeader()
{
    printf("%-34s %4s", "document", "pp");
    for (int k = 0; k < kStages; ++k)
        printf(" %7s", kStageNames[k]);
    printf(" %8s %8s\n", "PNG run", "JPG run");
}

}  // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    KeepPageBuffers();  // as the conversion worker does: its drawing and encoding costs
    int dpi = 96;
    ULONG quality = 90;
    std::string keepPdf;
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-r" && i + 1 < argc)
            dpi = atoi(argv[++i]);
        else if (a == "-q" && i + 1 < argc)
            quality = ULONG(atoi(argv[++i]));
        else if (a == "--keep-pdf" && i + 1 < argc)
            keepPdf = argv[++i];
        else if (!a.empty() && a[0] == '-') {
            fprintf(stderr, "usage: stage_bench [-r DPI] [-q QUALITY] [--keep-pdf DIR] [FILE|FOLDER...]\n");
            return 2;
        } else
            inputs.push_back(a);
    }
    if (inputs.empty())
        inputs.push_back(FOLIUM_CORPUS_DIR);
    std::vector<std::string> paths;
    for (const std::string& in : inputs) {
        std::error_code ec;
        if (!fs::is_directory(in, ec)) {
            paths.push_back(in);
            continue;
        }
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(in, ec))
            if (e.is_regular_file() && IsWordFile(e.path()))
                found.push_back(e.path().string());
        std::sort(found.begin(), found.end());
        paths.insert(paths.end(), found.begin(), found.end());
    }
    if (dpi < 24 || dpi > 600 || quality < 1 || quality > 100 || paths.empty()) {
        fprintf(stderr, "stage_bench: nothing to do (resolution 24 to 600, quality 1 to 100, documents)\n");
        return 2;
    }

    GdiplusStartupInput input;
    std::memset(&input, 0, sizeof input);
    input.GdiplusVersion = 1;
    ULONG_PTR token = 0;
    GdiplusStartup(&token, &input, nullptr);
    TempDir scratch;
    EngineAddRef();
    Clock::time_point t = Clock::now();
    if (EngineEnsure() != EngineStatus::Ok) {
        fprintf(stderr, "stage_bench: the engine does not start\n");
        EngineRelease();
        return 1;
    }
    printf("engine start: %.2f s (not counted below); %zu documents at %d dpi, JPEG quality %lu\n\n", Since(t),
           paths.size(), dpi, (unsigned long)quality);

    PrintHeader();
    std::vector<Row> rows;
    Row total;
    total.name = "total";
    for (const std::string& path : paths) {
        Row r;
        r.name = fs::path(path).filename().string();
        std::string why;
        if (!Convert(path, dpi, quality, scratch.Path(), keepPdf, &r, &why)) {
            printf("%-34.34s failed (%s): not counted\n", r.name.c_str(), why.c_str());
            continue;
        }
        PrintRow(r);
        rows.push_back(r);
        total.pages += r.pages;
        for (int k = 0; k < kStages; ++k)
            total.s[k] += r.s[k];
        total.pdfBytes += r.pdfBytes;
        total.pngBytes += r.pngBytes;
        total.jpgBytes += r.jpgBytes;
    }
    EngineRelease();
    GdiplusShutdown(token);

    printf("\n%zu documents, %d pages; PDF %.2f MB, PNG %.2f MB, JPG %.2f MB\n\n", rows.size(), total.pages,
           total.pdfBytes / 1e6, total.pngBytes / 1e6, total.jpgBytes / 1e6);
    printf("%-8s %9s %8s %8s  %s\n", "stage", "seconds", "PNG run", "JPG run", "what it includes");
    for (int k = 0; k < kStages; ++k) {
        char png[16] = "       -", jpg[16] = "       -";
        if (k != kJpg)
            snprintf(png, sizeof png, "%7.1f%%", 100.0 * total.s[k] / total.PngRun());
        if (k != kPng)
            snprintf(jpg, sizeof jpg, "%7.1f%%", 100.0 * total.s[k] / total.JpgRun());
        printf("%-8s %9.2f %s %s  %s\n", kStageNames[k], total.s[k], png, jpg, kStageWhat[k]);
    }
    printf("a PNG run %.2f s, a JPG run %.2f s\n\nlongest (PNG run):\n", total.PngRun(), total.JpgRun());
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.PngRun() > b.PngRun(); });
    PrintHeader();
    for (size_t i = 0; i < rows.size() && i < 5; ++i)
        PrintRow(rows[i]);
    return 0;
}
