// The batch view's run on the conversion core that pagesnap-batch uses: the ticked documents go
// to worker processes (this program started again with "--worker"), each with its own engine,
// several at once. The window stays responsive: a timer takes in what the workers say, the rows
// show each document's state and a line below them the totals. A worker writes its pictures
// under hidden names in the output folder; they are renamed into place, under the names the view
// has always given them, once their whole document has converted, so the pictures are those of
// pagesnap-batch with the same settings and a document that fails or is cancelled leaves none.
#include "TfmMain.h"

#include "DocFileMgr.h"
#include "FontMark.h"
#include "OptionSettings.h"
#include "common/misc/StaleTemp.h"
#include "convert/WorkerPool.h"
#include <qtwin.h>
#include "ui_TfmMain.h"
#include "EnginePlaces.h"

#include <windows.h>

#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <thread>
#include <unistd.h>

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

const int kStateColumn = 3;
// A document whose engine or worker was lost is tried again on a fresh one, a few times, so that
// a lost engine costs no document; one that fails every time is then reported.
const int kMaxTries = 4;
// As pagesnap-batch's default: a document that takes longer fails, and its worker with it.
const std::chrono::seconds kDocumentTimeout(300);
// Often enough that an idle worker gets its next document at once, rarely enough to cost nothing.
const int kPollMs = 10;
// Hidden picture names, as the single-document view's, so that the clean-up of a run that
// crashed finds them; and the workers' private folder in the temporary folder.
const char kPicturePrefix[] = ".~folium-";
const char kWorkersPrefix[] = ".pagesnap-workers-";

const char* Extension(int nImageType) { return nImageType == 1 ? "bmp" : nImageType == 3 ? "png" : "jpg"; }

std::string OwnProgram()
{
    char szExe[4096];
    const ssize_t n = readlink("/proc/self/exe", szExe, sizeof szExe - 1);
    if (n <= 0)
        return "";
    szExe[n] = '\0';
    return szExe;
}

// Workers at rest end their engines themselves, which takes a moment: a run's end hands its pool
// to a thread of its own rather than have the window wait. Joined before the next run and at
// shut-down.
std::vector<std::thread>& Stoppers()
{
    static std::vector<std::thread> s_threads;
    return s_threads;
}

void JoinStoppers()
{
    for (std::thread& t : Stoppers())
        if (t.joinable())
            t.join();
    Stoppers().clear();
}

// Removes the files of folder whose names start with prefix (a run's or a document's hidden
// pictures, including one a worker was writing when it was stopped).
void RemoveHidden(const std::string& folder, const std::string& prefix)
{
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) == 0)
            fs::remove(e.path(), ec);
    }
}

QString Duration(double seconds)
{
    const int s = int(seconds + 0.5);
    return QString::asprintf("%02d:%02d", s / 60, s % 60);
}

}  // namespace

struct BatchDoc {
    enum State { Waiting, Converting, Converted, Failed, Cancelled };
    QTreeWidgetItem* row = nullptr;
    std::string path;
    State state = Waiting;
    int pageCount = -1;  // as the worker opened it; -1 before
    int tries = 0;
    std::vector<std::pair<int, std::string>> pictures;  // page, hidden name, as the worker wrote them
    FontMark mark;
};

struct BatchRun {
    std::unique_ptr<convert::WorkerPool> pool;
    std::vector<BatchDoc> docs;
    std::deque<size_t> queue;  // documents waiting for a worker, in order
    std::string folder;        // the output folder, as the run began
    std::string hidden;        // the run's hidden picture names begin so
    std::string tempDir;       // the workers' private folder
    int finished = 0;
    int converted = 0;
    int pagesDone = 0;
    Clock::time_point start;
    Clock::time_point lastTotal;
    QTimer* timer = nullptr;

    std::string DocPrefix(size_t nDoc) const { return hidden + "d" + std::to_string(nDoc) + "-"; }
};

void TfmMain::StartBatchRun()
{
    EnsureWorkFolders();
    BeginRun();
    std::vector<BatchDoc> docs;
    for (int i = 0; i < ui->lvFile->topLevelItemCount(); ++i) {
        QTreeWidgetItem* pRow = ui->lvFile->topLevelItem(i);
        auto* pInfo = static_cast<DocFileInfo*>(pRow->data(0, Qt::UserRole).value<void*>());
        if (pRow->checkState(0) != Qt::Checked || !pInfo)
            continue;
        BatchDoc d;
        d.row = pRow;
        d.path = pInfo->szPath;
        docs.push_back(d);
    }
    if (docs.empty()) {
        ShowProgress(true);
        ShowProgress(false);
        ShowDoneMessage();
        return;
    }
    // What stops every engine here (the office suite missing or too old, a folder it cannot
    // write) is said before any worker starts.
    const std::string problem = engineProblem ? engineProblem() : wordengine::EngineStartProblem();
    if (!problem.empty()) {
        std::string text = "The document engine cannot start: " + problem + ".";
        MessageBoxA(platform::ui::WindowOf(this), text.c_str(), "Document engine", MB_OK | MB_ICONWARNING);
        return;
    }
    JoinStoppers();

    // Names are the view's: a document whose name an earlier one of the run took gets
    // "<base>_<extension>" (MakeRunOutputName). They are settled here, in the list's order,
    // since documents now finish in any order.
    for (const BatchDoc& d : docs) {
        char szName[MAX_PATH];
        if (MakeRunOutputName(d.path.c_str(), 1, szName, MAX_PATH))
            runPictures.insert(szName);
    }

    auto* run = new BatchRun;
    run->docs = std::move(docs);
    for (size_t i = 0; i < run->docs.size(); ++i)
        run->queue.push_back(i);
    run->folder = OptionSettings.OutputPath;
    static unsigned s_nRun = 0;
    run->hidden = TempNamePrefix(kPicturePrefix) + "b" + std::to_string(++s_nRun) + "-";
    // The workers' folder: in the temporary folder of the options when it takes one whose
    // paths fit the Word layer's buffers, else in the system's.
    RemoveStaleTempFiles(OptionSettings.TempPath, kWorkersPrefix, "Pagesnap", true);
    for (const std::string& base : {std::string(OptionSettings.TempPath), wordengine::TempBase()}) {
        std::string tmpl = base + (base.empty() || base.back() != '/' ? "/" : "") + TempNamePrefix(kWorkersPrefix) + "XXXXXX";
        if (tmpl.size() + 32 < MAX_PATH && mkdtemp(tmpl.data())) {
            run->tempDir = tmpl;
            break;
        }
    }

    PassFontsToEngine();  // the workers' engines take the extra fonts folder from it
    convert::PoolSetup setup;
    setup.workerProgram = workerProgram.empty() ? OwnProgram() : workerProgram;
    setup.jobs = std::max(1, std::min(OptionSettings.DocumentsAtOnce, int(run->docs.size())));
    setup.tempDir = run->tempDir;
    setup.defaults = {{"format", Extension(OptionSettings.ImageType)},
                      {"dpi", OptionSettings.Resolution},
                      {"quality", OptionSettings.JpegQuality},
                      {"pages", ""}};
    setup.engineMemoryMb = OptionSettings.EngineMemory;
    setup.engineDocuments = OptionSettings.EngineDocuments;
    setup.ahead = true;
    run->pool.reset(new convert::WorkerPool(setup));
    run->start = run->lastTotal = Clock::now();

    batchRun = run;
    isConverting = true;
    for (const BatchDoc& d : run->docs) {
        d.row->setText(kStateColumn, "Waiting");
        d.row->setToolTip(kStateColumn, QString());
    }
    ShowProgress(true);
    ShowBatchTotal(true);
    if (run->tempDir.empty()) {
        // Nowhere for the workers' files: every document fails, said as such.
        while (!run->queue.empty()) {
            const size_t i = run->queue.front();
            run->queue.pop_front();
            run->docs[i].state = BatchDoc::Converting;
            FinishBatchDocument(i, "engine failed", "no temporary folder can be made for the workers");
        }
        EndBatchRun(false);
        return;
    }
    run->timer = new QTimer(this);
    run->timer->setInterval(kPollMs);
    connect(run->timer, &QTimer::timeout, this, [this] { PollBatchRun(); });
    DispatchBatch();
    run->timer->start();
}

void TfmMain::DispatchBatch()
{
    BatchRun* run = batchRun;
    while (run && !run->queue.empty()) {
        const size_t i = run->queue.front();
        BatchDoc& d = run->docs[i];
        const json job = {{"path", d.path}, {"prefix", run->folder + "/" + run->DocPrefix(i)}};
        const convert::WorkerPool::Hand hand = run->pool->Submit(int(i), job, kDocumentTimeout);
        if (hand == convert::WorkerPool::Hand::NoneFree)
            break;
        run->queue.pop_front();
        d.state = BatchDoc::Converting;
        ++d.tries;
        if (hand == convert::WorkerPool::Hand::CannotStart) {
            d.tries = kMaxTries;
            FinishBatchDocument(i, "engine failed", "no worker process could be started");
            continue;
        }
        // Behind another document of its worker it waits, as far as the user is concerned:
        // at most "documents at once" convert.
        d.row->setText(kStateColumn, run->pool->HasTurn(int(i)) ? "Converting" : "Waiting");
    }
}

void TfmMain::PollBatchRun()
{
    BatchRun* run = batchRun;
    if (!run)
        return;
    const bool ok = run->pool->Poll(std::chrono::milliseconds(0), -1, [this](const convert::PoolEvent& e) {
        // A line with a field of the wrong type is ignored like one that does not parse.
        try {
            OnBatchEvent(e);
        } catch (const json::exception&) {
        }
    });
    for (size_t i = 0; batchRun == run && i < run->docs.size(); ++i) {
        BatchDoc& d = run->docs[i];
        if (d.state == BatchDoc::Converting && d.row->text(kStateColumn) == "Waiting" && run->pool->HasTurn(int(i)))
            d.row->setText(kStateColumn, "Converting");
    }
    DispatchBatch();
    ShowBatchTotal(false);
    if (!ok || (run->pool->Busy() == 0 && run->queue.empty()))
        EndBatchRun(false);
}

void TfmMain::OnBatchEvent(const convert::PoolEvent& e)
{
    BatchRun* run = batchRun;
    if (!run || e.doc < 0 || size_t(e.doc) >= run->docs.size())
        return;
    const size_t i = size_t(e.doc);
    BatchDoc& d = run->docs[i];
    if (d.state != BatchDoc::Converting)
        return;
    const json& j = e.line;
    if (e.event == "opened") {
        d.pageCount = j.value("pages", -1);
        const std::string fonts = j.contains("fonts") ? j["fonts"].dump() : std::string();
        d.mark = FontMarkOf(fonts, j.value("stored_pages", -1), d.pageCount);
        d.row->setText(kStateColumn, QString::asprintf("Converting: 0 of %d pages", d.pageCount));
    } else if (e.event == "page") {
        const std::string file = j.value("file", "");
        const int nPage = j.value("page", 0);
        // Only this document's own hidden names are ever renamed.
        const std::string prefix = run->folder + "/" + run->DocPrefix(i);
        if (nPage <= 0 || file.compare(0, prefix.size(), prefix) != 0 || file.find('/', prefix.size()) != std::string::npos)
            return;
        d.pictures.emplace_back(nPage, file);
        ++run->pagesDone;
        d.row->setText(kStateColumn, QString::asprintf("Converting: %d of %d pages", int(d.pictures.size()), d.pageCount));
    } else if (e.event == "done") {
        FinishBatchDocument(i, "", "");
    } else if (e.event == "failed") {
        FinishBatchDocument(i, j.value("kind", "engine failed"), j.value("message", ""));
    }
}

void TfmMain::FinishBatchDocument(size_t nDoc, const std::string& kind, const std::string& message)
{
    BatchRun* run = batchRun;
    BatchDoc& d = run->docs[nDoc];
    if (kind.empty()) {
        // Into place under the view's names; a picture that cannot be is a page not converted.
        const std::string suffix = runSuffixes[d.path];
        int nFailed = 0;
        for (const auto& p : d.pictures) {
            char szName[MAX_PATH];
            if (!MakeOutputName(d.path.c_str(), p.first, szName, MAX_PATH, suffix.c_str()) ||
                !MoveFileExA(p.second.c_str(), szName, MOVEFILE_REPLACE_EXISTING)) {
                DeleteFileA(p.second.c_str());
                ++nFailed;
            }
        }
        if (nFailed > 0) {
            failedPages += nFailed;
            failedDocuments.insert(d.path);
            d.state = BatchDoc::Failed;
            d.row->setText(kStateColumn, QString::asprintf("Failed: %d of %d pages could not be written", nFailed,
                                                           int(d.pictures.size())));
        } else {
            d.state = BatchDoc::Converted;
            ++run->converted;
            d.row->setText(kStateColumn, QString::asprintf("Done: %d %s", int(d.pictures.size()),
                                                           d.pictures.size() == 1 ? "page" : "pages"));
            d.row->setCheckState(0, Qt::Unchecked);  // a failed row stays ticked for another try
        }
    } else {
        // Nothing of a failed attempt stays, not even a picture its worker was writing.
        RemoveHidden(run->folder, run->DocPrefix(nDoc));
        d.pictures.clear();
        if (kind == "engine failed" && d.tries < kMaxTries) {
            d.state = BatchDoc::Waiting;
            d.pageCount = -1;
            run->queue.push_back(nDoc);
            d.row->setText(kStateColumn, "Waiting to be tried again");
            d.row->setToolTip(kStateColumn, QString::fromStdString(message));
            return;
        }
        d.state = BatchDoc::Failed;
        // Told as the view always told it: pages of a document that opened, else a document
        // that could not be opened.
        if (d.pageCount > 0) {
            failedPages += d.pageCount;
            failedDocuments.insert(d.path);
        } else {
            ++unopenedDocuments;
        }
        const QString text = QString::fromStdString("Failed: " + kind + (message.empty() ? "" : ": " + message));
        d.row->setText(kStateColumn, text);
        d.row->setToolTip(kStateColumn, text);
    }
    // The document's mark: an icon by its name, the list in its tooltip.
    d.row->setIcon(0, d.mark.IsEmpty() ? QIcon() : style()->standardIcon(QStyle::SP_MessageBoxWarning));
    d.row->setToolTip(0, d.mark.tooltip);
    ++run->finished;
    pbMain->setValue(run->finished * 100 / int(run->docs.size()));
}

void TfmMain::ShowBatchTotal(bool bForce)
{
    BatchRun* run = batchRun;
    if (!run)
        return;
    const auto now = Clock::now();
    if (!bForce && now - run->lastTotal < std::chrono::milliseconds(250))
        return;
    run->lastTotal = now;
    const double elapsed = std::chrono::duration<double>(now - run->start).count();
    const int nDocs = int(run->docs.size());
    QString left = "--:--";
    if (run->finished > 0)
        left = Duration(elapsed / run->finished * (nDocs - run->finished));
    ui->lblTotal->setText(QString::asprintf("Documents %d of %d, %d pages, %.1f pages/s, ", run->finished, nDocs,
                                            run->pagesDone, elapsed > 0 ? run->pagesDone / elapsed : 0.0) +
                          left + " left");
}

void TfmMain::EndBatchRun(bool bCancelled)
{
    BatchRun* run = batchRun;
    if (!run)
        return;
    batchRun = nullptr;  // the completion message below runs an event loop of its own
    if (run->timer) {
        run->timer->stop();
        run->timer->deleteLater();
    }
    bool bUnfinished = false;
    for (const BatchDoc& d : run->docs)
        bUnfinished = bUnfinished || d.state == BatchDoc::Waiting || d.state == BatchDoc::Converting;
    if (bUnfinished) {
        // Every worker at once, with its engine; then whatever they had written of this run.
        run->pool->StopAll(true);
        RemoveHidden(run->folder, run->hidden);
        for (BatchDoc& d : run->docs) {
            if (d.state != BatchDoc::Waiting && d.state != BatchDoc::Converting)
                continue;
            if (bCancelled) {
                d.state = BatchDoc::Cancelled;
                d.row->setText(kStateColumn, "Cancelled");
            } else {
                // The workers could no longer be watched: not converted, and said so.
                d.state = BatchDoc::Failed;
                d.row->setText(kStateColumn, "Failed: the worker processes could not be watched");
                if (d.pageCount > 0) {
                    failedPages += d.pageCount;
                    failedDocuments.insert(d.path);
                } else {
                    ++unopenedDocuments;
                }
            }
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - run->start).count();
    const int nFailed = run->finished - run->converted;
    QString total = QString::asprintf("%s%d of %d documents converted", bCancelled ? "Cancelled: " : "",
                                      run->converted, int(run->docs.size()));
    if (nFailed > 0)
        total += QString::asprintf(", %d failed", nFailed);
    total += QString::asprintf(", %d pages in ", run->pagesDone) + Duration(elapsed) +
             QString::asprintf(" (%.1f pages/s)", elapsed > 0 ? run->pagesDone / elapsed : 0.0);
    ui->lblTotal->setText(total);

    batchEngines = int(run->pool->EnginePids().size());
    convert::WorkerPool* pPool = run->pool.release();
    const std::string tempDir = run->tempDir;
    Stoppers().emplace_back([pPool, tempDir] {
        pPool->StopAll(false);
        delete pPool;
        std::error_code ec;
        if (!tempDir.empty())
            fs::remove_all(tempDir, ec);
    });
    delete run;
    isConverting = false;
    ShowProgress(false);
    if (!bCancelled)
        ShowDoneMessage();
}

void TfmMain::StopBatchRun()
{
    if (batchRun)
        EndBatchRun(true);
    JoinStoppers();
}
