// The worker: the Word layer over the stand-in (one engine for this process), the page drawn at
// the run's resolution, and the picture encoded through GDI+ with the run's JPEG quality.
#include "convert/Worker.h"

#include "common/misc/GdipEncoder.h"
#include "common/misc/PageMemory.h"
#include "word/TempFolder.h"
#include "convert/Settings.h"
#include "convert/Procs.h"
#include "convert/Sniff.h"
#include "word/CxEngineLimit.h"
#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"

#include <objbase.h>
#include <windows.h>

#include <gdiplusflat.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using json = nlohmann::json;
using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace convert {

namespace {

// The answers go to a descriptor of their own: standard output is pointed at standard error
// so that nothing a library prints can break a line of the protocol.
int g_answerFd = -1;
std::mutex g_answerLock;  // the drawing thread answers too

void Send(const json& j)
{
    std::string line = j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    std::lock_guard<std::mutex> guard(g_answerLock);
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        const ssize_t n = write(g_answerFd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            _exit(3);  // the run is gone: nothing to report to
        p += n;
        left -= size_t(n);
    }
}

// What decides one document's pictures: the worker's setup gives them, a document's line may
// give its own (a service's requests differ).
struct Job {
    ImageFormat format = ImageFormat::Png;
    int dpi = 96;
    int quality = 90;
    std::vector<PageRange> pages;
    int maxPages = 0;  // at most this many pictures (0: any); later pages are skipped
};

// Reads the fields of a setup or document line into *job, keeping what the line leaves out.
// False for a field of the wrong type or out of range.
bool ReadJob(const json& j, Job* job)
{
    try {
        if (j.contains("format") && !ParseFormat(j["format"].get<std::string>(), &job->format))
            return false;
        job->dpi = j.value("dpi", job->dpi);
        job->quality = j.value("quality", job->quality);
        job->maxPages = j.value("max_pages", job->maxPages);
        if (j.contains("pages")) {
            const std::string pages = j["pages"].get<std::string>();
            std::string error;
            job->pages.clear();
            if (!pages.empty() && !ParsePageList(pages, &job->pages, &error))
                return false;
        }
    } catch (const json::exception&) {
        return false;
    }
    return job->dpi >= kMinDpi && job->dpi <= kMaxDpi && job->quality >= 1 && job->quality <= 100 &&
           job->maxPages >= 0;
}

// The pages past the first nMax of the list, as ranges of text ("41-57", "60").
std::vector<std::string> PagesPast(const std::vector<int>& pages, size_t nMax)
{
    std::vector<std::string> out;
    for (size_t i = nMax; i < pages.size();) {
        size_t k = i;
        while (k + 1 < pages.size() && pages[k + 1] == pages[k] + 1)
            ++k;
        out.push_back(k == i ? std::to_string(pages[i]) : std::to_string(pages[i]) + "-" + std::to_string(pages[k]));
        i = k + 1;
    }
    return out;
}

struct Setup {
    Job defaults;
    std::string temp;
    int engineMemoryMb = 0;   // an engine past this resident size is replaced; 0: never
    int engineDocuments = 0;  // an engine that converted this many is replaced; 0: never
    bool warm = false;        // start the engine before the first document (a service's)
};

// A document the engine has laid out, with the pages to draw of it.
struct Loaded {
    int nDoc = -1;
    std::string prefix;
    Job job;
    std::unique_ptr<CxWordDoc> doc;
    std::vector<int> pages;
    json opened;
    bool bDetached = false;  // closed in the engine: drawn from its export alone
};

void Fail(int nDoc, ErrorKind kind, const std::string& message)
{
    Send({{"doc", nDoc}, {"event", "failed"}, {"kind", ErrorKindName(kind)}, {"message", message}});
}

bool ChildAlive(int pid)
{
    int ppid = 0;
    char state = 0;
    return ProcStat(pid, &ppid, &state) && ppid == getpid() && state != 'Z';
}

class Worker {
public:
    explicit Worker(const Setup& s) : m_setup(s), m_limit(s.engineMemoryMb, s.engineDocuments)
    {
        m_drawer = std::thread([this] { DrawerMain(); });
    }
    ~Worker()
    {
        {
            std::lock_guard<std::mutex> guard(m_drawLock);
            m_bEnd = true;
        }
        m_drawWake.notify_all();
        m_drawer.join();
        delete m_pUtil;
    }

    // Starts the engine now rather than with the first document, so that a service's first
    // request does not wait for it; says "ready" when it runs.
    void Warm()
    {
        if (!m_pUtil)
            m_pUtil = new CxWordUtil;
        if (!m_pUtil->IsStarted()) {
            delete m_pUtil;
            m_pUtil = nullptr;
            return;
        }
        // The engine starts with its first document: a one-line one of our own, which also
        // brings the loading and layout code in.
        const std::string path = m_setup.temp + "warm.rtf";
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f)
            return;
        std::fputs("{\\rtf1\\ansi warm\\par}", f);
        std::fclose(f);
        {
            CxWordDoc doc(m_pUtil);
            const bool bOpened = doc.Open(path.c_str()) && doc.GetPageCount() > 0;
            doc.Close();
            unlink(path.c_str());
            ReportEngines(-1);
            if (!bOpened || EngineLost())
                return;
        }
        DeleteTempDocuments(m_setup.temp.c_str());
        Send({{"doc", -1}, {"event", "ready"}});
    }

    void Convert(int nDoc, const std::string& path, const std::string& prefix, const Job& job)
    {
        ConvertOne(nDoc, path, prefix, job);
        RecycleEngine();
    }

private:
    void ConvertOne(int nDoc, const std::string& path, const std::string& prefix, const Job& job);
    void DrawPages(Loaded& loaded);
    void HandToDrawer(std::unique_ptr<Loaded> loaded);
    void DrawerMain();
    void WaitForDrawer();
    void ReportEngines(int nDoc);
    bool EngineLost() const;
    void RecycleEngine();
    static bool SavePicture(HDC hdc, HBITMAP hbm, int w, int h, const Job& job, const std::string& path);

    Setup m_setup;
    CxWordUtil* m_pUtil = nullptr;
    std::set<int> m_engines;
    int m_lastEngine = 0;
    CxEngineLimit m_limit;

    // A document closed in the engine has its pages drawn and written on a thread of its own
    // while the engine loads the next one: the engine and the drawing each take a core.
    std::thread m_drawer;
    std::mutex m_drawLock;
    std::condition_variable m_drawWake;
    std::unique_ptr<Loaded> m_pToDraw;  // handed over, not yet taken
    bool m_bDrawing = false;
    bool m_bEnd = false;
};

void Worker::HandToDrawer(std::unique_ptr<Loaded> loaded)
{
    std::unique_lock<std::mutex> lock(m_drawLock);
    // One document waits at most: the engine gets no further ahead of the drawing than that.
    m_drawWake.wait(lock, [this] { return !m_pToDraw; });
    m_pToDraw = std::move(loaded);
    m_drawWake.notify_all();
}

void Worker::DrawerMain()
{
    for (;;) {
        std::unique_ptr<Loaded> loaded;
        {
            std::unique_lock<std::mutex> lock(m_drawLock);
            m_drawWake.wait(lock, [this] { return m_pToDraw || m_bEnd; });
            if (!m_pToDraw)
                return;
            loaded = std::move(m_pToDraw);
            m_bDrawing = true;
        }
        m_drawWake.notify_all();
        DrawPages(*loaded);
        loaded.reset();
        {
            std::lock_guard<std::mutex> guard(m_drawLock);
            m_bDrawing = false;
        }
        m_drawWake.notify_all();
    }
}

void Worker::WaitForDrawer()
{
    std::unique_lock<std::mutex> lock(m_drawLock);
    m_drawWake.wait(lock, [this] { return !m_pToDraw && !m_bDrawing; });
}

// Between documents, never within one: an engine grows with every document it converts (about
// 2 MB each), so one that reached the memory or document limit ends with the Word layer, and
// the next document starts a fresh one on the same warm profile.
void Worker::RecycleEngine()
{
    if (!m_pUtil || !m_limit.DocumentDone(m_lastEngine))
        return;
    // A document being drawn still holds the engine (the server's objects keep it running):
    // it ends once they are released.
    WaitForDrawer();
    delete m_pUtil;
    m_pUtil = nullptr;
    m_limit.Replaced();
}

void Worker::ReportEngines(int nDoc)
{
    for (int pid : ChildrenOf(getpid())) {
        if (m_engines.insert(pid).second)
            Send({{"doc", nDoc}, {"event", "engine"}, {"pid", pid}});
        m_lastEngine = pid;
    }
}

bool Worker::EngineLost() const
{
    return m_lastEngine == 0 || !ChildAlive(m_lastEngine);
}

bool Worker::SavePicture(HDC hdc, HBITMAP hbm, int w, int h, const Job& job, const std::string& path)
{
    BITMAPINFO bi;
    std::memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;  // bottom-up, as GDI hands rows out
    bi.bmiHeader.biPlanes = 1;
    // The JPEG compressor takes 32-bit rows as they are, saving a repacking of every pixel; the
    // PNG and BMP writers are quickest from (and BMP files stay) 24-bit rows.
    const int bpp = job.format == ImageFormat::Jpg ? 32 : 24;
    bi.bmiHeader.biBitCount = WORD(bpp);
    bi.bmiHeader.biCompression = BI_RGB;
    const size_t stride = (size_t(w) * size_t(bpp / 8) + 3) & ~size_t(3);
    std::vector<uint8_t> bits(stride * size_t(h));
    if (GetDIBits(hdc, hbm, 0, UINT(h), bits.data(), &bi, DIB_RGB_COLORS) != h)
        return false;
    GpBitmap* pBitmap = nullptr;
    if (GdipCreateBitmapFromGdiDib(&bi, bits.data(), &pBitmap) != Ok || !pBitmap)
        return false;

    const char16_t* mime = job.format == ImageFormat::Jpg   ? u"image/jpeg"
                           : job.format == ImageFormat::Bmp ? u"image/bmp"
                                                                 : u"image/png";
    CLSID clsid;
    const bool bFound = GetEncoderClsid(mime, &clsid);
    WCHAR wszPath[4096];
    bool ok = bFound && MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wszPath, 4096) > 0;
    if (ok) {
        ULONG quality = ULONG(job.quality);
        EncoderParameters params;
        params.Count = 1;
        params.Parameter[0].Guid = EncoderQuality;
        params.Parameter[0].NumberOfValues = 1;
        params.Parameter[0].Type = 4;  // EncoderParameterValueTypeLong
        params.Parameter[0].Value = &quality;
        ok = GdipSaveImageToFile(pBitmap, wszPath, &clsid,
                                 job.format == ImageFormat::Jpg ? &params : nullptr) == Ok;
    }
    GdipDisposeImage(pBitmap);
    return ok;
}

void Worker::ConvertOne(int nDoc, const std::string& path, const std::string& prefix, const Job& job)
{
    const FileCheck check = CheckDocumentFile(path);
    if (check.kind != ErrorKind::None) {
        Fail(nDoc, check.kind, check.message);
        return;
    }
    // The Word layer keeps paths in buffers of MAX_PATH bytes and refuses longer ones: said
    // so here rather than taken for a document the engine cannot read.
    if (path.size() >= MAX_PATH) {
        Fail(nDoc, ErrorKind::NotFound,
             "the path is longer than " + std::to_string(MAX_PATH - 1) + " bytes and cannot be opened");
        return;
    }
    if (!m_pUtil)
        m_pUtil = new CxWordUtil;
    if (!m_pUtil->IsStarted()) {
        // The next document tries a fresh start.
        delete m_pUtil;
        m_pUtil = nullptr;
        Fail(nDoc, ErrorKind::EngineFailed, "the document engine could not be started");
        return;
    }
    auto loaded = std::make_unique<Loaded>();
    loaded->nDoc = nDoc;
    loaded->prefix = prefix;
    loaded->job = job;
    loaded->doc.reset(new CxWordDoc(m_pUtil));
    CxWordDoc& doc = *loaded->doc;
    const bool bOpened = doc.Open(path.c_str());
    ReportEngines(nDoc);
    if (!bOpened || doc.GetPageCount() <= 0) {
        if (EngineLost())
            Fail(nDoc, ErrorKind::EngineFailed, "the document engine ended while loading the document");
        else
            Fail(nDoc, ErrorKind::Damaged,
                 bOpened ? "the document has no pages" : "the document engine cannot read the document");
        loaded.reset();
        DeleteTempDocuments(m_setup.temp.c_str());
        return;
    }
    const int nCount = doc.GetPageCount();
    std::vector<std::string> skipped;
    std::vector<int>& pages = loaded->pages;
    pages = SelectPages(job.pages, nCount, &skipped);
    if (job.maxPages > 0 && pages.size() > size_t(job.maxPages)) {
        const std::vector<std::string> past = PagesPast(pages, size_t(job.maxPages));
        skipped.insert(skipped.end(), past.begin(), past.end());
        pages.resize(size_t(job.maxPages));
    }
    json& opened = loaded->opened;
    opened = {{"doc", nDoc}, {"event", "opened"}, {"pages", nCount}, {"skipped", skipped}};
    // What the engine says of the document's fonts and of Word's own page count; a server
    // that does not say leaves them out (null in the report).
    std::string fonts;
    if (doc.GetFontReport(&fonts)) {
        json parsed = json::parse(fonts, nullptr, false);
        if (parsed.is_array())
            opened["fonts"] = std::move(parsed);
    }
    const int nStored = doc.GetStoredPageCount();
    if (nStored >= 0)
        opened["stored_pages"] = nStored;

    // The last page asked for is measured while the engine holds the document: that makes the
    // export every page asked for is drawn from (page 1 of a long document alone is exported
    // on its own; any later page has the whole document exported once). Then the document is
    // closed in the engine and its pages drawn from that export on the drawing thread.
    SIZEL last = {0, 0};
    if (!pages.empty() && doc.SelectPage(pages.back() - 1) && doc.GetPageExtent(&last) && doc.CloseServer()) {
        loaded->bDetached = true;
        HandToDrawer(std::move(loaded));
    } else {
        DrawPages(*loaded);  // here, with the engine at hand (and its failures told apart)
        loaded.reset();
    }
    // Page documents of the split path (a server without the fast path) go with the document.
    DeleteTempDocuments(m_setup.temp.c_str());
}

// Sends the document's "opened", draws and writes its pages, and ends it (done or failed);
// closes it. On the drawing thread for a document closed in the engine: a page its export
// cannot draw fails as the engine's, so that the run tries the document again on a fresh one.
void Worker::DrawPages(Loaded& loaded)
{
    const int nDoc = loaded.nDoc;
    const Job& job = loaded.job;
    CxWordDoc& doc = *loaded.doc;
    Send(loaded.opened);
    auto failKind = [&] {
        if (loaded.bDetached)
            return ErrorKind::EngineFailed;
        ReportEngines(nDoc);
        return EngineLost() ? ErrorKind::EngineFailed : ErrorKind::Damaged;
    };
    HDC hScreen = GetDC(nullptr);
    HDC hMem = hScreen ? CreateCompatibleDC(hScreen) : nullptr;
    bool bFailed = !hMem;
    for (size_t i = 0; i < loaded.pages.size() && !bFailed; ++i) {
        const int nPage = loaded.pages[i];
        SIZEL extent = {0, 0};
        if (!doc.SelectPage(nPage - 1) || !doc.GetPageExtent(&extent) || extent.cx <= 0 || extent.cy <= 0) {
            Fail(nDoc, failKind(), "page " + std::to_string(nPage) + " could not be laid out");
            bFailed = true;
            break;
        }
        // HIMETRIC (0.01 mm) to pixels at the run's resolution, a part pixel at the edge
        // counting whole so that the picture covers the page (A4 is 794 x 1123 at 96 dpi,
        // as Pagesnap makes it, and 1588 x 2246 at 192).
        const int w = int((int64_t(extent.cx) * job.dpi + 2539) / 2540);
        const int h = int((int64_t(extent.cy) * job.dpi + 2539) / 2540);
        HBITMAP hbm = w > 0 && h > 0 ? CreateCompatibleBitmap(hScreen, w, h) : nullptr;
        if (!hbm) {
            Fail(nDoc, ErrorKind::EngineFailed, "no picture of " + std::to_string(w) + " x " + std::to_string(h) +
                                                    " pixels can be made for page " + std::to_string(nPage));
            bFailed = true;
            break;
        }
        HGDIOBJ hOld = SelectObject(hMem, hbm);
        RECT r = {0, 0, w, h};
        const bool bDrawn = doc.RenderPage(nPage - 1, hMem, &r);
        SelectObject(hMem, hOld);
        const std::string file = loaded.prefix + std::to_string(nPage) + "." + FormatExtension(job.format);
        if (!bDrawn) {
            Fail(nDoc, failKind(), "page " + std::to_string(nPage) + " could not be drawn");
            bFailed = true;
        } else if (!SavePicture(hMem, hbm, w, h, job, file)) {
            Fail(nDoc, ErrorKind::WriteFailed, "page " + std::to_string(nPage) + " could not be written to " + file);
            bFailed = true;
        } else {
            Send({{"doc", nDoc}, {"event", "page"}, {"page", nPage}, {"file", file}, {"width", w}, {"height", h}});
        }
        DeleteObject(hbm);
    }
    if (hMem)
        DeleteDC(hMem);
    else
        Fail(nDoc, ErrorKind::EngineFailed, "no drawing surface");
    if (hScreen)
        ReleaseDC(nullptr, hScreen);
    doc.Close();
    if (!bFailed)
        Send({{"doc", nDoc}, {"event", "done"}});
}

bool ReadLine(std::string* line)
{
    line->clear();
    for (;;) {
        char c;
        const ssize_t n = read(0, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return !line->empty();
        if (c == '\n')
            return true;
        line->push_back(c);
    }
}

}  // namespace

int WorkerMain()
{
    g_answerFd = fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (g_answerFd < 0)
        return 3;
    dup2(2, 1);
    KeepPageBuffers();

    std::string line;
    Setup setup;
    {
        if (!ReadLine(&line))
            return 3;
        const json j = json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.is_object() || !j.contains("setup") || !j["setup"].is_object())
            return 3;
        const json& s = j["setup"];
        if (!ReadJob(s, &setup.defaults))
            return 3;
        try {
            setup.temp = s.value("temp", "");
            setup.engineMemoryMb = s.value("engine_memory", 0);
            setup.engineDocuments = s.value("engine_documents", 0);
            setup.warm = s.value("warm", false);
        } catch (const json::exception&) {
            return 3;
        }
        if (setup.temp.empty())
            return 3;
    }
    // The Word layer's temporary page documents go to this worker's private folder (the Word
    // layer reads the buffer at every use: it lives as long as the worker).
    static char szTempPath[MAX_PATH];
    std::snprintf(szTempPath, sizeof szTempPath, "%s", setup.temp.c_str());
    CxWordUtil::SetTempFolder(szTempPath, sizeof szTempPath);

    CoInitialize(nullptr);
    GdiplusStartupInput input;
    std::memset(&input, 0, sizeof input);
    input.GdiplusVersion = 1;
    ULONG_PTR token = 0;
    GdiplusStartup(&token, &input, nullptr);

    Worker* pWorker = new Worker(setup);
    if (setup.warm)
        pWorker->Warm();
    while (ReadLine(&line)) {
        const json j = json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.is_object() || !j.contains("doc"))
            continue;
        int nDoc = -1;
        std::string path, prefix;
        try {
            nDoc = j.value("doc", -1);
            path = j.value("path", "");
            prefix = j.value("prefix", "");
        } catch (const json::exception&) {
            continue;
        }
        Job job = setup.defaults;
        if (!ReadJob(j, &job)) {
            Send({{"doc", nDoc}, {"event", "failed"}, {"kind", ErrorKindName(ErrorKind::EngineFailed)},
                  {"message", "the document's settings could not be read"}});
            continue;
        }
        pWorker->Convert(nDoc, path, prefix, job);
    }
    // Releasing the Word layer ends this worker's engine.
    delete pWorker;
    GdiplusShutdown(token);
    return 0;
}

}  // namespace convert
