// The parent process of a run. It touches no engine itself: documents go to workers over
// pipes, one at a time per worker, and come back as lines of events.
#include "batch/Runner.h"

#include "batch/FontNote.h"
#include "batch/Names.h"
#include "batch/Procs.h"
#include "batch/Resume.h"
#include "batch/Sniff.h"
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

struct Picture {
    int page;
    std::string temp;  // as the worker wrote it
    std::string file;  // its final name
    int width;
    int height;
};

struct Document {
    std::string path;
    std::string base;
    // Done: finished by an earlier run into the same folder (--resume).
    enum State { Waiting, Running, Converted, Failed, Done } state = Waiting;
    std::string key;  // what names its pictures (DoneLog::Key)
    int pageCount = -1;
    json fonts;            // the engine's font report; null when it gave none
    int storedPages = -1;  // the page count Word stored (0: none); -1 when not told
    std::vector<std::string> skipped;
    std::vector<Picture> pictures;
    ErrorKind kind = ErrorKind::None;
    std::string message;
    Clock::time_point start;
    double seconds = 0;
    bool checked = false;
    FileCheck check;
};

// A document's pictures as the report and the finished-documents log list them.
nlohmann::ordered_json Written(const Document& d)
{
    nlohmann::ordered_json written = nlohmann::ordered_json::array();
    for (const Picture& p : d.pictures)
        written.push_back({{"page", p.page}, {"file", p.file}, {"width", p.width}, {"height", p.height}});
    return written;
}

struct WorkerProc {
    int pid = 0;
    int toFd = -1;
    int fromFd = -1;
    std::string buffer;
    int doc = -1;  // the document it converts, -1 when idle
    Clock::time_point deadline;
    std::set<int> engines;  // the engines it reported or was seen to own
};

class Run_ {
public:
    Run_(const Options& o, const std::string& exe) : m_opts(o), m_exe(exe) {}
    int Go();

private:
    bool Prepare(std::string* error);
    void Loop();
    bool Dispatch();
    WorkerProc* StartWorker();
    void StopWorker(WorkerProc& w, bool bKill);
    void OnLine(WorkerProc& w, const std::string& line);
    void OnEvent(WorkerProc& w, const json& j);
    void OnWorkerLost(WorkerProc& w, ErrorKind kind, const std::string& message);
    void Finish(int nDoc, ErrorKind kind, const std::string& message);
    void RemoveTempFiles(const std::string& prefix);
    std::string DocPrefix(int nDoc) const;
    void Interrupted();
    void Cleanup();
    void Progress(bool bFinal);
    void FinishedLine(int nDoc);
    ordered_json Report() const;
    void WriteReport();
    int Pending() const;

    Options m_opts;
    std::string m_exe;
    std::string m_runTag;   // hidden name prefix of this run's temporary pictures
    std::string m_tempDir;  // private temporary folder
    std::vector<Document> m_docs;
    std::vector<WorkerProc> m_workers;
    std::vector<int> m_workerPids;
    std::set<int> m_enginePids;
    std::map<int, int> m_enginesOfWorker;  // worker pid -> engines it reported
    size_t m_next = 0;
    int m_finished = 0;
    int m_pagesWritten = 0;
    int m_workerCount = 0;
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

    // Font folders reach the workers' engines through their environment, as absolute paths.
    std::string fonts;
    for (const std::string& dir : m_opts.fontDirs) {
        char real[PATH_MAX];
        struct stat sb;
        if (!realpath(dir.c_str(), real) || stat(real, &sb) != 0 || !S_ISDIR(sb.st_mode) ||
            access(real, R_OK | X_OK) != 0 || std::strchr(real, ':')) {
            *error = "--fonts: '" + dir + "' is not a folder that can be read";
            return false;
        }
        fonts += (fonts.empty() ? "" : ":") + std::string(real);
    }
    if (!fonts.empty())
        setenv("FOLIUM_ENGINE_FONTS", fonts.c_str(), 1);

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

WorkerProc* Run_::StartWorker()
{
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0)
        return nullptr;
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        return nullptr;
    }
    const std::string temp = m_tempDir + "/worker-" + std::to_string(m_workerCount++) + "/";
    mkdir(temp.c_str(), 0700);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        close(toChild[0]);
        close(toChild[1]);
        close(fromChild[0]);
        close(fromChild[1]);
        return nullptr;
    }
    if (pid == 0) {
        // A process group of its own: Ctrl-C reaches the run alone, which ends workers in order.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = SIG_DFL;
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            sigaction(s, &sa, nullptr);
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        setenv("FOLIUM_BATCH_WORKER", "1", 1);
        // The engine's own temporary files go to the run's folder too, which is removed
        // whatever becomes of the engine.
        const std::string engineTemp = temp + "tmp";
        mkdir(engineTemp.c_str(), 0700);
        setenv("TMPDIR", engineTemp.c_str(), 1);
        execl(m_exe.c_str(), m_exe.c_str(), "--worker", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    WorkerProc w;
    w.pid = pid;
    w.toFd = toChild[1];
    w.fromFd = fromChild[0];
    m_workerPids.push_back(pid);
    const json setup = {{"setup",
                         {{"format", FormatExtension(m_opts.format)},
                          {"dpi", m_opts.dpi},
                          {"quality", m_opts.quality},
                          {"pages", m_opts.pagesText},
                          {"temp", temp},
                          {"engine_memory", m_opts.engineMemoryMb},
                          {"engine_documents", m_opts.engineDocuments}}}};
    const std::string line = setup.dump() + "\n";
    if (write(w.toFd, line.data(), line.size()) != ssize_t(line.size())) {
        m_workers.push_back(w);
        StopWorker(m_workers.back(), true);
        m_workers.pop_back();
        return nullptr;
    }
    m_workers.push_back(w);
    return &m_workers.back();
}

// End of input: a worker at rest ends its engine and exits.
void EndInput(WorkerProc& w)
{
    if (w.toFd >= 0) {
        close(w.toFd);
        w.toFd = -1;
    }
}

void Run_::StopWorker(WorkerProc& w, bool bKill)
{
    if (w.pid <= 0)
        return;
    EndInput(w);
    if (bKill) {
        // Its engines first, while they are still its children and so surely this run's.
        for (int pid : ChildrenOf(w.pid)) {
            w.engines.insert(pid);
            m_enginePids.insert(pid);
            kill(pid, SIGKILL);
        }
        kill(w.pid, SIGKILL);
    }
    const auto until = Clock::now() + std::chrono::seconds(bKill ? 5 : 20);
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(w.pid, &status, WNOHANG);
        if (r == w.pid || (r < 0 && errno == ECHILD))
            break;
        if (Clock::now() >= until) {
            for (int pid : ChildrenOf(w.pid)) {
                w.engines.insert(pid);
                m_enginePids.insert(pid);
                kill(pid, SIGKILL);
            }
            kill(w.pid, SIGKILL);
            waitpid(w.pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (w.fromFd >= 0) {
        close(w.fromFd);
        w.fromFd = -1;
    }
    w.pid = 0;
    // An engine dies with the worker that started it; wait until its own have (another
    // worker's engine lives on until that worker is stopped).
    const auto engineUntil = Clock::now() + std::chrono::seconds(5);
    for (int pid : w.engines)
        while (!ProcessGone(pid) && Clock::now() < engineUntil)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

int Run_::Pending() const
{
    int n = 0;
    for (const WorkerProc& w : m_workers)
        n += w.pid > 0 && w.doc >= 0;
    return n;
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

void Run_::OnLine(WorkerProc& w, const std::string& line)
{
    const json j = json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object())
        return;
    // A line with a field of the wrong type is ignored like one that does not parse.
    try {
        OnEvent(w, j);
    } catch (const json::exception&) {
    }
}

void Run_::OnEvent(WorkerProc& w, const json& j)
{
    const std::string event = j.value("event", "");
    if (event == "engine") {
        w.engines.insert(j.value("pid", 0));
        m_enginePids.insert(j.value("pid", 0));
        ++m_enginesOfWorker[w.pid];
        return;
    }
    const int nDoc = j.value("doc", -1);
    if (nDoc < 0 || nDoc != w.doc)
        return;
    Document& d = m_docs[size_t(nDoc)];
    if (event == "opened") {
        d.pageCount = j.value("pages", 0);
        if (j.contains("fonts") && j["fonts"].is_array())
            d.fonts = j["fonts"];
        if (j.contains("stored_pages") && j["stored_pages"].is_number_integer())
            d.storedPages = j["stored_pages"].get<int>();
        d.skipped = j.value("skipped", std::vector<std::string>());
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
        Picture p;
        p.page = j.value("page", 0);
        p.temp = j.value("file", "");
        p.width = j.value("width", 0);
        p.height = j.value("height", 0);
        p.file = m_opts.outputDir + "/" + PictureName(d.base, p.page, FormatExtension(m_opts.format));
        // Only a file of this document's own temporary names is ever renamed.
        const std::string prefix = m_opts.outputDir + "/" + DocPrefix(nDoc);
        if (p.temp.compare(0, prefix.size(), prefix) == 0)
            d.pictures.push_back(p);
    } else if (event == "done") {
        w.doc = -1;
        Finish(nDoc, ErrorKind::None, "");
    } else if (event == "failed") {
        w.doc = -1;
        const std::string kindName = j.value("kind", "");
        ErrorKind kind = ErrorKind::EngineFailed;
        for (ErrorKind k : {ErrorKind::NotFound, ErrorKind::NotWord, ErrorKind::Password, ErrorKind::Damaged,
                            ErrorKind::TimedOut, ErrorKind::EngineFailed, ErrorKind::WriteFailed})
            if (kindName == ErrorKindName(k))
                kind = k;
        Finish(nDoc, kind, j.value("message", ""));
    }
}

void Run_::OnWorkerLost(WorkerProc& w, ErrorKind kind, const std::string& message)
{
    const int nDoc = w.doc;
    StopWorker(w, true);
    w.doc = -1;
    if (nDoc >= 0)
        Finish(nDoc, kind, message);
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
        WorkerProc* pFree = nullptr;
        for (WorkerProc& w : m_workers)
            if (w.pid > 0 && w.doc < 0)
                pFree = &w;
        int nLive = 0;
        for (WorkerProc& w : m_workers)
            nLive += w.pid > 0;
        if (!pFree && nLive < m_opts.jobs) {
            // Dead slots are dropped before a new worker takes one.
            m_workers.erase(std::remove_if(m_workers.begin(), m_workers.end(),
                                           [](const WorkerProc& w) { return w.pid <= 0; }),
                            m_workers.end());
            pFree = StartWorker();
            if (!pFree) {
                ++m_next;
                d.start = Clock::now();
                Finish(nDoc, ErrorKind::EngineFailed, "no worker process could be started");
                bAny = true;
                continue;
            }
        }
        if (!pFree)
            break;
        ++m_next;
        d.state = Document::Running;
        d.start = Clock::now();
        pFree->doc = nDoc;
        pFree->deadline = d.start + std::chrono::seconds(m_opts.timeoutSeconds);
        const json job = {{"doc", nDoc}, {"path", d.path}, {"prefix", m_opts.outputDir + "/" + DocPrefix(nDoc)}};
        const std::string line = job.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
        if (write(pFree->toFd, line.data(), line.size()) != ssize_t(line.size()))
            OnWorkerLost(*pFree, ErrorKind::EngineFailed, "the worker process could not be reached");
        bAny = true;
    }
    return bAny;
}

void Run_::Loop()
{
    for (;;) {
        Dispatch();
        if (Pending() == 0 && m_next >= m_docs.size())
            return;
        std::vector<pollfd> fds;
        std::vector<WorkerProc*> owners;
        fds.push_back({g_signalPipe[0], POLLIN, 0});
        owners.push_back(nullptr);
        Clock::time_point wake = Clock::now() + std::chrono::seconds(1);
        for (WorkerProc& w : m_workers) {
            if (w.pid <= 0 || w.fromFd < 0)
                continue;
            fds.push_back({w.fromFd, POLLIN, 0});
            owners.push_back(&w);
            if (w.doc >= 0)
                wake = std::min(wake, w.deadline);
        }
        if (m_tty)
            wake = std::min(wake, Clock::now() + std::chrono::milliseconds(250));
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now()).count();
        const int r = poll(fds.data(), fds.size(), int(std::max<long long>(0, ms)));
        if (g_signal) {
            Interrupted();
            return;
        }
        if (r < 0 && errno != EINTR)
            return;
        for (size_t i = 1; r > 0 && i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            WorkerProc& w = *owners[i];
            char buf[65536];
            const ssize_t n = read(w.fromFd, buf, sizeof buf);
            if (n > 0) {
                w.buffer.append(buf, size_t(n));
                size_t nl;
                while ((nl = w.buffer.find('\n')) != std::string::npos) {
                    const std::string line = w.buffer.substr(0, nl);
                    w.buffer.erase(0, nl + 1);
                    OnLine(w, line);
                }
            } else if (n == 0 || errno != EINTR) {
                // The worker ended (crashed, or killed from outside) in the middle of its work.
                OnWorkerLost(w, ErrorKind::EngineFailed, "the worker process ended unexpectedly");
            }
        }
        const auto now = Clock::now();
        for (WorkerProc& w : m_workers)
            if (w.pid > 0 && w.doc >= 0 && now >= w.deadline)
                OnWorkerLost(w, ErrorKind::TimedOut,
                             "not converted within " + std::to_string(m_opts.timeoutSeconds) + " seconds");
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
        ordered_json jd;
        jd["path"] = d.path;
        jd["base"] = d.base;
        const char* status = d.state == Document::Converted ? "converted"
                             : d.state == Document::Failed  ? "failed"
                             : d.state == Document::Done    ? "converted earlier"
                                                            : "not converted";
        jd["status"] = status;
        jd["pages"] = d.pageCount >= 0 ? ordered_json(d.pageCount) : ordered_json(nullptr);
        const ordered_json written = Written(d);
        jd["written"] = written;
        jd["skipped_pages"] = d.skipped;
        if (d.fonts.is_array()) {
            // Each font in the engine's order of fields, whatever order its line had.
            ordered_json fonts = ordered_json::array();
            for (const json& f : d.fonts) {
                if (!f.is_object())
                    continue;
                ordered_json item;
                for (const char* key : {"font", "kind", "drawn_with", "fallback"})
                    if (f.contains(key))
                        item[key] = ordered_json(f[key]);
                fonts.push_back(std::move(item));
            }
            jd["fonts"] = std::move(fonts);
        } else {
            jd["fonts"] = nullptr;
        }
        jd["stored_pages"] = d.storedPages > 0 ? ordered_json(d.storedPages) : ordered_json(nullptr);
        jd["pages_differ"] = PagesDiffer(d.storedPages, d.pageCount);
        jd["seconds"] = d.seconds;
        if (d.state == Document::Failed)
            jd["error"] = {{"kind", ErrorKindName(d.kind)}, {"message", d.message}};
        else
            jd["error"] = nullptr;
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
    ordered_json perWorker = ordered_json::array();
    for (int pid : m_workerPids) {
        const auto it = m_enginesOfWorker.find(pid);
        perWorker.push_back(it == m_enginesOfWorker.end() ? 0 : it->second);
    }
    r["processes"] = {{"workers", m_workerPids}, {"engines", m_enginePids}, {"engines_per_worker", perWorker}};
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
    // End of input to every worker first, so that their engines end side by side.
    if (!m_interrupted)
        for (WorkerProc& w : m_workers)
            EndInput(w);
    for (WorkerProc& w : m_workers)
        StopWorker(w, m_interrupted);
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
    for (WorkerProc& w : m_workers) {
        const int nDoc = w.doc;
        StopWorker(w, true);
        w.doc = -1;
        if (nDoc >= 0)
            m_docs[size_t(nDoc)].state = Document::Waiting;  // reported as not converted
    }
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
