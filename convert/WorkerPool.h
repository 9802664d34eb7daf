// The worker processes of a front end (pagesnap-batch, pagesnap-serve, Pagesnap's batch view):
// each a process of its own with its own engine, started as "<worker program> --worker" and
// spoken to over pipes (convert/Worker.h), at most `jobs` of them, one document each at a time
// (or, `ahead`, a second one that the worker's engine loads while it draws the first).
// The pool turns what they say into events, bounds every document in time, and turns a worker
// that dies or runs out of time into a failed document, ending only that worker and its
// engines; a document it had not started yet is handed to another worker instead.
// Single-threaded: its owner calls Poll in its own loop.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace convert {

struct PoolSetup {
    std::string workerProgram;  // a program that runs WorkerMain for "--worker"
    int jobs = 1;
    std::string tempDir;        // private folder; each worker gets worker-<n>/ in it
    nlohmann::json defaults;    // the setup line's picture settings: format, dpi, quality, pages
    int engineMemoryMb = 0;
    int engineDocuments = 0;
    bool warm = false;          // each worker starts its engine at once and says "ready"
    // Each worker may take a second document while it still converts one: its engine loads
    // the next document while the pages of the last are drawn. For runs of many documents;
    // a service keeps one per worker, so that no request waits behind another's.
    bool ahead = false;
};

// One line of a worker about a document: "opened", "page", "done" or "failed" (a lost or
// late worker gives "failed" with kind "engine failed" or "timed out"), "engine", or "ready"
// (doc -1: a warm worker's engine runs).
struct PoolEvent {
    int doc;
    std::string event;
    nlohmann::json line;
};

class WorkerPool {
public:
    // Ignores SIGPIPE in the process: a worker that died leaves a broken pipe, and writing to
    // it must fail that document rather than end the owner.
    explicit WorkerPool(const PoolSetup& setup);
    ~WorkerPool() { StopAll(true); }
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    enum class Hand { Taken, NoneFree, CannotStart };
    // Hands document doc (any id the owner chooses, not in use) to an idle worker, starting one
    // while fewer than `jobs` live (with `ahead`, to a worker with one document when none is
    // idle). job: the document's line without "doc" (path, prefix and any settings of its
    // own). The document must end (done or failed) within timeout of its turn: of its handing
    // out, or of the end of the document its worker converted before it.
    Hand Submit(int doc, const nlohmann::json& job, std::chrono::seconds timeout);

    // Waits up to wait for what the workers say (or for wakeFd to become readable, when not
    // -1) and hands every event to onEvent, in order. Returns false when poll failed.
    bool Poll(std::chrono::milliseconds wait, int wakeFd, const std::function<void(const PoolEvent&)>& onEvent);

    // Ends the worker converting doc (and its engines): the document fails with kind and
    // message through the next Poll's events. False when no worker has it.
    bool Cancel(int doc, const std::string& kind, const std::string& message);

    // Ends every worker: at rest they end their engines themselves (up to 20 s), with bKill at
    // once. Documents still converting are dropped without events.
    void StopAll(bool bKill);

    // Starts workers until `jobs` live (a service's, warm, before its first request).
    void StartAll();

    // Documents handed in and not ended yet.
    int Busy() const;
    // Whether doc's turn has come: it is the first of its worker's documents (not waiting
    // behind another).
    bool HasTurn(int doc) const;
    // Live workers whose engine runs (warm workers once they said "ready").
    int Ready() const;
    int Live() const;
    // The earliest deadline of a converting document (now + 1 s when none).
    std::chrono::steady_clock::time_point NextDeadline() const;

    // Every worker started, and the engines each reported, in the order they were started.
    const std::vector<int>& WorkerPids() const { return m_workerPids; }
    const std::set<int>& EnginePids() const { return m_enginePids; }
    std::vector<int> EnginesPerWorker() const;

private:
    struct Slot {
        int doc = -1;
        nlohmann::json line;  // as written to the worker, to hand it out again
        std::chrono::seconds limit{0};
        std::chrono::steady_clock::time_point deadline;  // kept for the first of a worker's
        bool started = false;  // it said something of the document (more than an engine)
        bool again = false;    // handed out a second time: not a third
    };
    struct Proc {
        int pid = 0;
        int toFd = -1;
        int fromFd = -1;
        std::string buffer;
        std::deque<Slot> docs;  // in the order handed in; empty when idle
        bool ready = false;
        std::set<int> engines;
    };

    Proc* Start();
    void Stop(Proc& w, bool bKill);
    // Ends worker w because of document doc: it fails with kind and message, and so do the
    // worker's other documents it had started; the rest are handed out again.
    void Lost(Proc& w, int doc, const std::string& kind, const std::string& message);
    void OnLine(Proc& w, const std::string& line);
    // Document doc's "failed" event, for the next Poll to hand out.
    void Failed(int doc, const std::string& kind, const std::string& message);
    // A worker for one more document: an idle one, a new one, or (ahead) one with a single
    // document. Null with *pHand saying why.
    Proc* Choose(Hand* pHand);
    void HandTo(Proc& w, Slot slot);
    void HandAgain();

    PoolSetup m_setup;
    std::list<Proc> m_procs;
    std::vector<int> m_workerPids;
    std::set<int> m_enginePids;
    std::map<int, int> m_enginesOfWorker;
    std::vector<PoolEvent> m_events;  // gathered during a Poll, handed out at its end
    std::deque<Slot> m_again;          // of lost workers, not started: to be handed out again
    int m_started = 0;
};

}  // namespace convert
