// The owner never touches an engine itself: documents go to workers over pipes, one or two at
// a time per worker, and come back as lines of events.
#include "convert/WorkerPool.h"

#include "convert/Procs.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace convert {

namespace {

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// End of input: a worker at rest ends its engine and exits.
void EndInput(int* pFd)
{
    if (*pFd >= 0) {
        close(*pFd);
        *pFd = -1;
    }
}

}  // namespace

WorkerPool::WorkerPool(const PoolSetup& setup) : m_setup(setup)
{
    signal(SIGPIPE, SIG_IGN);
}

WorkerPool::Proc* WorkerPool::Start()
{
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0)
        return nullptr;
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        return nullptr;
    }
    const std::string temp = m_setup.tempDir + "/worker-" + std::to_string(m_started++) + "/";
    mkdir(temp.c_str(), 0700);
    const std::string engineTemp = temp + "tmp";
    mkdir(engineTemp.c_str(), 0700);
    const std::string& exe = m_setup.workerProgram;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
            close(fd);
        return nullptr;
    }
    if (pid == 0) {
        // A process group of its own: Ctrl-C reaches the owner alone, which ends workers in
        // order; and a worker never outlives its owner.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = SIG_DFL;
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            sigaction(s, &sa, nullptr);
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        setenv("FOLIUM_BATCH_WORKER", "1", 1);
        // The engine's own temporary files go to the owner's folder too, which is removed
        // whatever becomes of the engine.
        setenv("TMPDIR", engineTemp.c_str(), 1);
        execl(exe.c_str(), exe.c_str(), "--worker", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    Proc w;
    w.pid = pid;
    w.toFd = toChild[1];
    w.fromFd = fromChild[0];
    m_workerPids.push_back(pid);
    json setup = m_setup.defaults.is_object() ? m_setup.defaults : json::object();
    setup["temp"] = temp;
    setup["engine_memory"] = m_setup.engineMemoryMb;
    setup["engine_documents"] = m_setup.engineDocuments;
    if (m_setup.warm)
        setup["warm"] = true;
    m_procs.push_back(w);
    if (!WriteAll(w.toFd, json{{"setup", setup}}.dump() + "\n")) {
        Stop(m_procs.back(), true);
        m_procs.pop_back();
        return nullptr;
    }
    return &m_procs.back();
}

void WorkerPool::Stop(Proc& w, bool bKill)
{
    if (w.pid <= 0)
        return;
    EndInput(&w.toFd);
    auto killAll = [&] {
        // Its engines first, while they are still its children and so surely this pool's.
        for (int pid : ChildrenOf(w.pid)) {
            w.engines.insert(pid);
            m_enginePids.insert(pid);
            kill(pid, SIGKILL);
        }
        kill(w.pid, SIGKILL);
    };
    if (bKill)
        killAll();
    const auto until = Clock::now() + std::chrono::seconds(bKill ? 5 : 20);
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(w.pid, &status, WNOHANG);
        if (r == w.pid || (r < 0 && errno == ECHILD))
            break;
        if (Clock::now() >= until) {
            killAll();
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
    w.docs.clear();
    // An engine dies with the worker that started it; wait until its own have.
    const auto engineUntil = Clock::now() + std::chrono::seconds(5);
    for (int pid : w.engines)
        while (!ProcessGone(pid) && Clock::now() < engineUntil)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void WorkerPool::Failed(int doc, const std::string& kind, const std::string& message)
{
    m_events.push_back({doc, "failed", {{"doc", doc}, {"event", "failed"}, {"kind", kind}, {"message", message}}});
}

void WorkerPool::Lost(Proc& w, int doc, const std::string& kind, const std::string& message)
{
    std::deque<Slot> docs;
    docs.swap(w.docs);
    Stop(w, true);
    for (Slot& slot : docs) {
        if (slot.doc != doc && !slot.started && !slot.again) {
            slot.again = true;
            m_again.push_back(std::move(slot));
            continue;
        }
        const std::string why = slot.doc == doc || kind != "timed out"
                                    ? message
                                    : "the worker process was ended: another of its documents ran out of time";
        Failed(slot.doc, slot.doc == doc ? kind : "engine failed", why);
    }
}

WorkerPool::Proc* WorkerPool::Choose(Hand* pHand)
{
    for (Proc& w : m_procs)
        if (w.pid > 0 && w.docs.empty())
            return &w;
    if (Live() < m_setup.jobs) {
        m_procs.remove_if([](const Proc& w) { return w.pid <= 0; });
        if (Proc* w = Start())
            return w;
        *pHand = Hand::CannotStart;
        return nullptr;
    }
    if (m_setup.ahead)
        for (Proc& w : m_procs)
            if (w.pid > 0 && w.docs.size() == 1)
                return &w;
    *pHand = Hand::NoneFree;
    return nullptr;
}

void WorkerPool::HandTo(Proc& w, Slot slot)
{
    const int doc = slot.doc;
    const std::string text = slot.line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    slot.deadline = Clock::now() + slot.limit;
    w.docs.push_back(std::move(slot));
    if (WriteAll(w.toFd, text))
        return;
    // A worker that ended with a document in hand: that one is taken to have ended it, as
    // when its end is read; the one just written is handed out again.
    if (w.docs.size() > 1)
        Lost(w, w.docs.front().doc, "engine failed", "the worker process ended unexpectedly");
    else
        Lost(w, doc, "engine failed", "the worker process could not be reached");
}

void WorkerPool::HandAgain()
{
    while (!m_again.empty()) {
        Hand hand = Hand::Taken;
        Proc* w = Choose(&hand);
        if (!w && hand == Hand::NoneFree)
            return;
        Slot slot = std::move(m_again.front());
        m_again.pop_front();
        if (w)
            HandTo(*w, std::move(slot));
        else
            Failed(slot.doc, "engine failed", "no worker process could be started");
    }
}

WorkerPool::Hand WorkerPool::Submit(int doc, const json& job, std::chrono::seconds timeout)
{
    HandAgain();
    if (!m_again.empty())
        return Hand::NoneFree;  // those first
    Hand hand = Hand::Taken;
    Proc* w = Choose(&hand);
    if (!w)
        return hand;
    Slot slot;
    slot.doc = doc;
    slot.line = job;
    slot.line["doc"] = doc;
    slot.limit = timeout;
    HandTo(*w, std::move(slot));
    return Hand::Taken;
}

void WorkerPool::OnLine(Proc& w, const std::string& text)
{
    const json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object())
        return;
    // A line with a field of the wrong type is ignored like one that does not parse.
    try {
        const std::string event = j.value("event", "");
        if (event == "engine") {
            const int pid = j.value("pid", 0);
            w.engines.insert(pid);
            m_enginePids.insert(pid);
            ++m_enginesOfWorker[w.pid];
            m_events.push_back({j.value("doc", -1), event, j});
            return;
        }
        if (event == "ready") {
            w.ready = true;
            m_events.push_back({-1, event, j});
            return;
        }
        const int doc = j.value("doc", -1);
        auto it = std::find_if(w.docs.begin(), w.docs.end(), [&](const Slot& s) { return s.doc == doc; });
        if (doc < 0 || it == w.docs.end())
            return;
        it->started = true;
        if (event == "done" || event == "failed") {
            const bool bFirst = it == w.docs.begin();
            w.docs.erase(it);
            // The next document's time runs from here: until now it waited for this one.
            if (bFirst && !w.docs.empty())
                w.docs.front().deadline = Clock::now() + w.docs.front().limit;
        }
        m_events.push_back({doc, event, j});
    } catch (const json::exception&) {
    }
}

bool WorkerPool::Poll(std::chrono::milliseconds wait, int wakeFd, const std::function<void(const PoolEvent&)>& onEvent)
{
    std::vector<pollfd> fds;
    std::vector<Proc*> owners;
    if (wakeFd >= 0) {
        fds.push_back({wakeFd, POLLIN, 0});
        owners.push_back(nullptr);
    }
    const auto now = Clock::now();
    auto wake = now + wait;
    for (Proc& w : m_procs) {
        if (w.pid <= 0 || w.fromFd < 0)
            continue;
        fds.push_back({w.fromFd, POLLIN, 0});
        owners.push_back(&w);
        if (!w.docs.empty())
            wake = std::min(wake, w.docs.front().deadline);
    }
    // Events a Cancel left go out at once.
    const auto ms = m_events.empty() ? std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count() : 0;
    const int r = poll(fds.data(), fds.size(), int(std::max<long long>(0, ms)));
    if (r < 0 && errno != EINTR)
        return false;
    for (size_t i = 0; r > 0 && i < fds.size(); ++i) {
        if (!owners[i] || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        Proc& w = *owners[i];
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
            // The worker ended (crashed, or killed from outside) in the middle of its work:
            // which of its documents made it end is not known, so each it started fails.
            Lost(w, w.docs.empty() ? -1 : w.docs.front().doc, "engine failed", "the worker process ended unexpectedly");
        }
    }
    const auto later = Clock::now();
    for (Proc& w : m_procs)
        if (w.pid > 0 && !w.docs.empty() && later >= w.docs.front().deadline)
            Lost(w, w.docs.front().doc, "timed out",
                 "not converted within " + std::to_string(w.docs.front().limit.count()) + " seconds");
    HandAgain();
    std::vector<PoolEvent> events;
    events.swap(m_events);
    for (const PoolEvent& e : events)
        onEvent(e);
    return true;
}

bool WorkerPool::Cancel(int doc, const std::string& kind, const std::string& message)
{
    for (Proc& w : m_procs)
        if (w.pid > 0 && std::any_of(w.docs.begin(), w.docs.end(), [&](const Slot& s) { return s.doc == doc; })) {
            Lost(w, doc, kind, message);
            return true;
        }
    for (auto it = m_again.begin(); it != m_again.end(); ++it)
        if (it->doc == doc) {
            m_again.erase(it);
            Failed(doc, kind, message);
            return true;
        }
    return false;
}

void WorkerPool::StopAll(bool bKill)
{
    // End of input to every worker first, so that their engines end side by side.
    if (!bKill)
        for (Proc& w : m_procs)
            EndInput(&w.toFd);
    for (Proc& w : m_procs)
        Stop(w, bKill);
    m_procs.clear();
    m_events.clear();
    m_again.clear();
}

int WorkerPool::Busy() const
{
    int n = int(m_again.size());
    for (const Proc& w : m_procs)
        n += w.pid > 0 ? int(w.docs.size()) : 0;
    return n;
}

bool WorkerPool::HasTurn(int doc) const
{
    for (const Proc& w : m_procs)
        if (w.pid > 0 && !w.docs.empty() && w.docs.front().doc == doc)
            return true;
    return false;
}

void WorkerPool::StartAll()
{
    m_procs.remove_if([](const Proc& w) { return w.pid <= 0; });
    while (Live() < m_setup.jobs)
        if (!Start())
            return;
}

int WorkerPool::Ready() const
{
    int n = 0;
    for (const Proc& w : m_procs)
        n += w.pid > 0 && w.ready;
    return n;
}

int WorkerPool::Live() const
{
    int n = 0;
    for (const Proc& w : m_procs)
        n += w.pid > 0;
    return n;
}

Clock::time_point WorkerPool::NextDeadline() const
{
    auto t = Clock::now() + std::chrono::seconds(1);
    for (const Proc& w : m_procs)
        if (w.pid > 0 && !w.docs.empty())
            t = std::min(t, w.docs.front().deadline);
    return t;
}

std::vector<int> WorkerPool::EnginesPerWorker() const
{
    std::vector<int> out;
    for (int pid : m_workerPids) {
        const auto it = m_enginesOfWorker.find(pid);
        out.push_back(it == m_enginesOfWorker.end() ? 0 : it->second);
    }
    return out;
}

}  // namespace convert
