// The parent process of a run. It touches no engine itself: documents go to workers over
// pipes, one at a time per worker, and come back as lines of events.
#include "batch/Runner.h"

#include "convert/DocReport.h"
#include "convert/FontNote.h"
#include "convert/Names.h"
#include "convert/Procs.h"
#include "batch/Resume.h"
#include "convert/Sniff.h"
#include "convert/WorkerPool.h"
#include "EnginePlaces.h"
#include "EngineVersion.h"
#include "common/misc/StaleTemp.h"

#include <windows.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <poll.h>
#include <set>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace batch {

using namespace convert;

namespace {

// ---- signals ---------------------------------------------------------------------------

int g_signalPipe[2] = {-1, -1};
volatile sig_atomic_t g_signal = 0;

void OnSignal(int sig)
{
    if (!g_signal)
        g_signal = sig;
    const int saved = errno;
    const char c = char(sig);
    ssize_t n = write(g_signalPipe[1], &c, 1);
    (void)n;
    errno = saved;
}

void InstallSignals()
{
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_signalPipe[0] = g_signalPipe[1] = -1;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    // A worker that died leaves a broken pipe: the write fails instead of ending the run.
    signal(SIGPIPE, SIG_IGN);
}

// ---- processes -------------------------------------------------------------------------


// ---- documents -------------------------------------------------------------------------

struct Document : DocResult {
    // Done: finished by an earlier run into the same folder (--resume).
    enum State { Waiting, Running, Converted, Failed, Done } state = Waiting;
    std::string key;  // what names its pictures (DoneLog::Key)
    Clock::time_point start;
    bool checked = false;
    FileCheck check;
};

class Run_ {
public:
    Run_(const Options& o, const std::string& exe) : m_opts(o), m_exe(exe) {}
    int Go();

private:
    bool Prepare(std::string* error);
    void Loop();
    bool Dispatch();
    void OnEvent(const convert::PoolEvent& e);
    void Finish(int nDoc, ErrorKind kind, const std::string& message);
    void RemoveTempFiles(const std::string& prefix);
    std::string DocPrefix(int nDoc) const;
    void Interrupted();
    void Cleanup();
    void Progress(bool bFinal);
    void FinishedLine(int nDoc);
    ordered_json Report() const;
    void WriteReport();

    Options m_opts;
    std::string m_exe;
    std::string m_runTag;   // hidden name prefix of this run's temporary pictures
    std::string m_tempDir;  // private temporary folder
    std::vector<Document> m_docs;
    std::unique_ptr<convert::WorkerPool> m_pPool;
    size_t m_next = 0;
    int m_finished = 0;
    int m_pagesWritten = 0;
    Clock::time_point m_start;
    Clock::time_point m_lastDraw;
    bool m_tty = false;
    bool m_interrupted = false;
    std::string m_engineProblem;  // why no engine can start here; empty when nothing stops one
    DoneLog m_done;
    int m_nDone = 0;  // documents an earlier run finished
    size_t m_inputCount = 0;  // documents of the whole input, every shard's
};

std::string Run_::DocPrefix(int nDoc) const { return m_runTag + std::to_string(nDoc) + "-"; }

bool Run_::Prepare(std::string* error)
{
    std::vector<std::string> warnings;
    std::vector<std::string> inputs = m_opts.inputs;
    if (!m_opts.filesFrom.empty()) {
        std::ifstream file;
        if (m_opts.filesFrom != "-")
            file.open(m_opts.filesFrom, std::ios::binary);
        std::istream& in = m_opts.filesFrom == "-" ? std::cin : file;
        if (!in.good()) {
            *error = "--files-from: cannot read '" + m_opts.filesFrom + "'";
            return false;
        }
        ReadPathList(in, &inputs);
    }
    const std::vector<std::string> paths = GatherDocuments(inputs, &warnings);
    for (const std::string& w : warnings)
        std::fprintf(stderr, "pagesnap-batch: warning: %s\n", w.c_str());
    // Names are given over the whole input, so parts of one run never take each other's.
    const std::vector<std::string> bases = AssignBases(paths);
    m_inputCount = paths.size();
    for (size_t i = 0; i < paths.size(); ++i) {
        if (int(i % size_t(m_opts.shardCount)) != m_opts.shardIndex)
            continue;
        Document d;
        d.path = paths[i];
        d.base = bases[i];
        m_docs.push_back(d);
    }

    if (!SetEngineFonts(m_opts.fontDirs, error))
        return false;

    std::error_code ec;
    fs::create_directories(m_opts.outputDir, ec);
    if (!fs::is_directory(m_opts.outputDir, ec) || access(m_opts.outputDir.c_str(), W_OK | X_OK) != 0) {
        *error = "--output: cannot make or write the folder '" + m_opts.outputDir + "'";
        return false;
    }
    m_runTag = TempPicturePrefix();
    // Pictures of runs that were killed before they could remove them.
    if (const int n = RemoveStaleTempPictures(m_opts.outputDir))
        std::fprintf(stderr, "pagesnap-batch: removed %d temporary pictures of earlier runs that ended unfinished\n", n);
    const std::string logName = m_opts.shardCount > 1 ? ".pagesnap-batch.shard-" + std::to_string(m_opts.shardIndex) +
                                                            "-of-" + std::to_string(m_opts.shardCount) + ".done"
                                                      : std::string(".pagesnap-batch.done");
    if (!m_done.Open(m_opts.outputDir, logName, m_opts.resume)) {
        *error = "--output: cannot write the list of finished documents in '" + m_opts.outputDir + "'";
        return false;
    }
    const json settings = {FormatExtension(m_opts.format), m_opts.dpi, m_opts.quality, m_opts.pagesText};
    for (Document& d : m_docs) {
        d.key = DoneLog::Key(d.path, d.base, settings);
        json written;
        if (m_opts.resume && m_done.Finished(d.key, &written, &d.pageCount)) {
            d.state = Document::Done;
            for (const json& p : written)
                d.pictures.push_back({p.at("page"), "", p.at("file"), p.at("width"), p.at("height")});
            ++m_nDone;
        }
    }
    if (m_nDone > 0)
        std::fprintf(stderr, "pagesnap-batch: %d of %zu documents were finished by an earlier run (--resume)\n",
                     m_nDone, m_docs.size());

    const char* tmp = getenv("TMPDIR");
    // Named after the run's process and machine, so that the next run removes it when this one
    // is killed before it can.
    const std::string tmpBase = tmp && *tmp == '/' ? tmp : "/tmp";
    RemoveStaleTempFiles(tmpBase, "pagesnap-batch-", "pagesnap-batch", true);
    std::string tmpl = tmpBase + "/" + TempNamePrefix("pagesnap-batch-") + "XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) {
        *error = "cannot make a temporary folder in " + tmpl.substr(0, tmpl.rfind('/'));
        return false;
    }
    m_tempDir = buf.data();
    return true;
}

void Run_::RemoveTempFiles(const std::string& prefix)
{
    DIR* d = opendir(m_opts.outputDir.c_str());
    if (!d)
        return;
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0)
            names.push_back(e->d_name);
    closedir(d);
    for (const std::string& n : names)
        unlink((m_opts.outputDir + "/" + n).c_str());
}

void Run_::Finish(int nDoc, ErrorKind kind, const std::string& message)
{
    Document& d = m_docs[size_t(nDoc)];
    d.seconds = std::chrono::duration<double>(Clock::now() - d.start).count();
    if (kind == ErrorKind::None) {
        // Into place only now that every page is there; a rename that fails takes the
        // document's pictures of this run with it.
        for (size_t i = 0; i < d.pictures.size(); ++i) {
            Picture& p = d.pictures[i];
            if (rename(p.temp.c_str(), p.file.c_str()) != 0) {
                const std::string why = p.file + ": " + std::strerror(errno);
                for (size_t k = 0; k < i; ++k)
                    unlink(d.pictures[k].file.c_str());
                kind = ErrorKind::WriteFailed;
                d.message = "cannot rename a picture into place: " + why;
                break;
            }
        }
    }
    RemoveTempFiles(DocPrefix(nDoc));
    if (kind == ErrorKind::None) {
        d.state = Document::Converted;
        m_pagesWritten += int(d.pictures.size());
        m_done.Add(d.key, Written(d), d.pageCount);
    } else {
        d.state = Document::Failed;
        d.kind = kind;
        if (d.message.empty())
            d.message = message;
        d.pictures.clear();
    }
    ++m_finished;
    FinishedLine(nDoc);
}

void Run_::OnEvent(const convert::PoolEvent& e)
{
    const json& j = e.line;
    const std::string& event = e.event;
    const int nDoc = e.doc;
    if (event == "engine" || nDoc < 0 || size_t(nDoc) >= m_docs.size())
        return;
    Document& d = m_docs[size_t(nDoc)];
    if (event == "opened") {
        d.Opened(j);
        if (!d.skipped.empty()) {
            std::string list;
            for (const std::string& s : d.skipped)
                list += (list.empty() ? "" : ",") + s;
            if (m_tty)
                std::fputs("\r\33[K", stderr);
            std::fprintf(stderr, "pagesnap-batch: warning: %s: pages %s past its end (%d pages), skipped\n",
                         d.path.c_str(), list.c_str(), d.pageCount);
        }
    } else if (event == "page") {
        d.Page(j, m_opts.outputDir + "/" + DocPrefix(nDoc), m_opts.outputDir, FormatExtension(m_opts.format));
    } else if (event == "done") {
        Finish(nDoc, ErrorKind::None, "");
    } else if (event == "failed") {
        const ErrorKind kind = ErrorKindFromName(j.value("kind", ""));
        Finish(nDoc, kind, j.value("message", ""));
    }
}

bool Run_::Dispatch()
{
    bool bAny = false;
    while (m_next < m_docs.size()) {
        const int nDoc = int(m_next);
        Document& d = m_docs[m_next];
        if (d.state == Document::Done) {
            ++m_next;
            ++m_finished;
            continue;
        }
        // What can be told without an engine is told here, without starting one (once: the
        // document may wait here for a free worker).
        if (!d.checked) {
            d.check = CheckDocumentFile(d.path);
            d.checked = true;
        }
        const FileCheck& check = d.check;
        if (check.kind != ErrorKind::None) {
            ++m_next;
            d.start = Clock::now();
            Finish(nDoc, check.kind, check.message);
            bAny = true;
            continue;
        }
        if (!m_pPool) {
            convert::PoolSetup setup;
            setup.workerProgram = m_exe;
            setup.jobs = m_opts.jobs;
            setup.tempDir = m_tempDir;
            setup.defaults = {{"format", FormatExtension(m_opts.format)},
                              {"dpi", m_opts.dpi},
                              {"quality", m_opts.quality},
                              {"pages", m_opts.pagesText}};
            setup.engineMemoryMb = m_opts.engineMemoryMb;
            setup.engineDocuments = m_opts.engineDocuments;
            setup.ahead = true;
            m_pPool.reset(new convert::WorkerPool(setup));
        }
        const json job = {{"path", d.path}, {"prefix", m_opts.outputDir + "/" + DocPrefix(nDoc)}};
        d.start = Clock::now();
        const convert::WorkerPool::Hand hand = m_pPool->Submit(nDoc, job, std::chrono::seconds(m_opts.timeoutSeconds));
        if (hand == convert::WorkerPool::Hand::NoneFree)
            break;
        ++m_next;
        bAny = true;
        if (hand == convert::WorkerPool::Hand::CannotStart) {
            Finish(nDoc, ErrorKind::EngineFailed, "no worker process could be started");
            continue;
        }
        d.state = Document::Running;
    }
    return bAny;
}

void Run_::Loop()
{
    for (;;) {
        Dispatch();
        if ((!m_pPool || m_pPool->Busy() == 0) && m_next >= m_docs.size())
            return;
        const auto wait = std::chrono::milliseconds(m_tty ? 250 : 1000);
        const bool ok = m_pPool->Poll(wait, g_signalPipe[0], [this](const convert::PoolEvent& e) {
            // A line with a field of the wrong type is ignored like one that does not parse.
            try {
                OnEvent(e);
            } catch (const json::exception&) {
            }
        });
        if (g_signal) {
            Interrupted();
            return;
        }
        if (!ok)
            return;
        Progress(false);
    }
}

void Run_::FinishedLine(int nDoc)
{
    const Document& d = m_docs[size_t(nDoc)];
    const std::string note =
        d.state == Document::Converted ? FontNote(d.fonts, d.storedPages, d.pageCount) : std::string();
    if (m_tty) {
        // The redrawn line gives the counts; failures and notes are kept above it.
        if (d.state == Document::Failed) {
            std::fprintf(stderr, "\r\33[K%s: %s: %s\n", d.path.c_str(), ErrorKindName(d.kind), d.message.c_str());
        } else if (!note.empty()) {
            std::fprintf(stderr, "\r\33[K%s: %s\n", d.path.c_str(), note.c_str());
        }
        Progress(true);
        return;
    }
    if (d.state == Document::Converted)
        std::fprintf(stderr, "[%d/%zu] %s: %zu %s written (%.1f s)%s%s\n", m_finished, m_docs.size(),
                     d.path.c_str(), d.pictures.size(), d.pictures.size() == 1 ? "page" : "pages", d.seconds,
                     note.empty() ? "" : "; ", note.c_str());
    else
        std::fprintf(stderr, "[%d/%zu] %s: failed, %s: %s\n", m_finished, m_docs.size(), d.path.c_str(),
                     ErrorKindName(d.kind), d.message.c_str());
    std::fflush(stderr);
}

void Run_::Progress(bool bForce)
{
    if (!m_tty)
        return;
    const auto now = Clock::now();
    if (!bForce && now - m_lastDraw < std::chrono::milliseconds(200))
        return;
    m_lastDraw = now;
    const double elapsed = std::chrono::duration<double>(now - m_start).count();
    const double rate = elapsed > 0 ? m_pagesWritten / elapsed : 0;
    char left[32] = "--:--";
    if (m_finished > 0) {
        const double rest = elapsed / m_finished * double(m_docs.size() - size_t(m_finished));
        std::snprintf(left, sizeof left, "%02d:%02d", int(rest) / 60, int(rest) % 60);
    }
    std::fprintf(stderr, "\r\33[Kdocuments %d/%zu, pages %d, %.1f pages/s, %s left", m_finished, m_docs.size(),
                 m_pagesWritten, rate, left);
    std::fflush(stderr);
}

ordered_json Run_::Report() const
{
    ordered_json docs = ordered_json::array();
    int nConverted = 0, nFailed = 0;
    for (const Document& d : m_docs) {
        const char* status = d.state == Document::Converted ? "converted"
                             : d.state == Document::Failed  ? "failed"
                             : d.state == Document::Done    ? "converted earlier"
                                                            : "not converted";
        ordered_json jd = DocumentReport(d, status);
        nConverted += d.state == Document::Converted;
        nFailed += d.state == Document::Failed;
        docs.push_back(jd);
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - m_start).count();
    ordered_json r;
    r["program"] = VersionText();
    r["options"] = {{"output", m_opts.outputDir},
                    {"format", FormatExtension(m_opts.format)},
                    {"resolution", m_opts.dpi},
                    {"pages", m_opts.pagesText.empty() ? ordered_json(nullptr) : ordered_json(m_opts.pagesText)},
                    {"quality", m_opts.quality},
                    {"jobs", m_opts.jobs},
                    {"timeout", m_opts.timeoutSeconds},
                    {"fonts", m_opts.fontDirs},
                    {"engine_memory", m_opts.engineMemoryMb},
                    {"engine_documents", m_opts.engineDocuments},
                    {"shard", {{"index", m_opts.shardIndex}, {"count", m_opts.shardCount}}}};
    r["naming"] = "<base>_<page>.<ext>; a base already used by an earlier document of the run "
                  "becomes <base>_<extension>, then <base>_<extension><k> from k = 2 (letter case ignored)";
    r["documents"] = docs;
    r["totals"] = {{"documents", m_docs.size()},
                   {"documents_in_input", m_inputCount},
                   {"converted", nConverted},
                   {"failed", nFailed},
                   {"converted_earlier", m_nDone},
                   {"not_converted", int(m_docs.size()) - nConverted - nFailed - m_nDone},
                   {"pages_written", m_pagesWritten},
                   {"seconds", elapsed},
                   {"pages_per_second", elapsed > 0 ? m_pagesWritten / elapsed : 0.0}};
    // How many engines each worker went through (replaced past their limits, or lost).
    if (m_pPool)
        r["processes"] = {{"workers", m_pPool->WorkerPids()},
                          {"engines", m_pPool->EnginePids()},
                          {"engines_per_worker", m_pPool->EnginesPerWorker()}};
    else
        r["processes"] = {{"workers", ordered_json::array()},
                          {"engines", ordered_json::array()},
                          {"engines_per_worker", ordered_json::array()}};
    // The suite that laid out the pages: the same document lays out differently in another.
    const wordengine::EngineVersionInfo engine = wordengine::InstalledEngine();
    r["engine"] = {{"name", engine.name.empty() ? ordered_json(nullptr) : ordered_json(engine.name)},
                   {"version", engine.version.empty() ? ordered_json(nullptr) : ordered_json(engine.version)}};
    r["engine_problem"] = m_engineProblem.empty() ? ordered_json(nullptr) : ordered_json(m_engineProblem);
    r["interrupted"] = m_interrupted;
    return r;
}

void Run_::WriteReport()
{
    if (m_opts.reportPath.empty())
        return;
    const std::string text = Report().dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    if (m_opts.reportPath == "-") {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return;
    }
    std::ofstream out(m_opts.reportPath, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.good())
        std::fprintf(stderr, "pagesnap-batch: cannot write the report %s\n", m_opts.reportPath.c_str());
}

void Run_::Cleanup()
{
    if (m_pPool)
        m_pPool->StopAll(m_interrupted);
    RemoveTempFiles(m_runTag);
    std::error_code ec;
    if (!m_tempDir.empty())
        fs::remove_all(m_tempDir, ec);
}

void Run_::Interrupted()
{
    m_interrupted = true;
    if (m_tty)
        std::fputs("\r\33[K", stderr);
    std::fprintf(stderr, "pagesnap-batch: interrupted (%s), stopping\n", strsignal(g_signal));
    if (m_pPool)
        m_pPool->StopAll(true);
    for (Document& d : m_docs)
        if (d.state == Document::Running)
            d.state = Document::Waiting;  // reported as not converted
    for (Document& d : m_docs)
        if (d.state == Document::Waiting)
            d.pictures.clear();
}

int Run_::Go()
{
    m_start = m_lastDraw = Clock::now();
    m_tty = isatty(2);
    InstallSignals();
    std::string error;
    if (!Prepare(&error)) {
        std::fprintf(stderr, "pagesnap-batch: %s\n", error.c_str());
        Cleanup();
        return 2;
    }
    // A reason that stops every engine is said once, and no document is handed to one.
    m_engineProblem = wordengine::EngineStartProblem();
    if (m_engineProblem.empty())
        Loop();
    else
        std::fprintf(stderr, "pagesnap-batch: the document engine cannot start: %s\n", m_engineProblem.c_str());
    if (m_tty && m_engineProblem.empty())
        std::fputs("\n", stderr);
    Cleanup();
    WriteReport();
    if (m_interrupted) {
        const int sig = g_signal;
        signal(sig, SIG_DFL);
        raise(sig);
        return 128 + sig;
    }
    for (const Document& d : m_docs)
        if (d.state != Document::Converted && d.state != Document::Done)
            return 1;
    return 0;
}

}  // namespace

std::vector<std::string> GatherDocuments(const std::vector<std::string>& inputs, std::vector<std::string>* pWarnings)
{
    std::vector<std::string> out;
    std::set<std::string> seen;
    auto add = [&](const std::string& path) {
        char real[PATH_MAX];
        const std::string key = realpath(path.c_str(), real) ? std::string(real) : path;
        if (seen.insert(key).second)
            out.push_back(path);
    };
    for (const std::string& input : inputs) {
        struct stat sb;
        if (stat(input.c_str(), &sb) != 0 || !S_ISDIR(sb.st_mode)) {
            add(input);
            continue;
        }
        // The document list's folder search: "*.doc" as the platform matches it.
        const char* szSep = !input.empty() && input.back() == '/' ? "" : "/";
        const std::string pattern = input + szSep + "*.doc";
        std::vector<std::string> names;
        WIN32_FIND_DATAA fd;
        HANDLE hFind = pattern.size() < MAX_PATH ? FindFirstFileA(pattern.c_str(), &fd) : INVALID_HANDLE_VALUE;
        if (hFind != INVALID_HANDLE_VALUE) {
            do {
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    names.push_back(fd.cFileName);
            } while (FindNextFileA(hFind, &fd));
            FindClose(hFind);
        }
        std::sort(names.begin(), names.end());
        if (names.empty() && pWarnings)
            pWarnings->push_back("no Word documents in the folder " + input);
        for (const std::string& n : names)
            add(input + szSep + n);
    }
    return out;
}

int Run(const Options& opts, const std::string& selfExe)
{
    Run_ run(opts, selfExe);
    return run.Go();
}

}  // namespace batch
