// The conversion side of pagesnap-serve: a queue of documents in front of the conversion core's
// pool of workers, run by a thread of its own. Request threads hand a document in and wait for
// its end; nothing else touches the pool.
#pragma once

#include "convert/DocReport.h"
#include "convert/WorkerPool.h"
#include "serve/Metrics.h"
#include "serve/Params.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace serve {

// One document of one request.
struct Job {
    std::string path;    // the document, in the request's private folder
    std::string folder;  // that folder: pictures go to <folder>/p-<page>.<ext>
    RequestSettings settings;
    convert::DocResult result;  // path and base set by the request
    bool finished = false;
    std::chrono::steady_clock::time_point queued;
};

class Converter {
public:
    // pool: the workers (warm); queue: documents that may wait beyond the busy workers.
    Converter(const convert::PoolSetup& pool, int queue, int timeoutSeconds, int maxPages, Metrics* pMetrics);
    ~Converter() { Stop(); }

    void Start();
    // Converts what is queued, then ends every worker and its engine.
    void Stop();

    // A request takes a place before it reads its body and gives it back after its answer; false
    // when workers and queue are all taken (the request is refused at once).
    bool Admit();
    void Release();

    // Queues the job and waits for its end (done or failed; a late one fails as timed out).
    void Convert(const std::shared_ptr<Job>& job);

    PoolGauges Gauges() const;
    // Some engine runs, and a request would be taken.
    bool Ready() const;

private:
    void Loop();
    void Wake();
    void OnEvent(const convert::PoolEvent& e);
    void End(int id, std::shared_ptr<Job> job);

    convert::WorkerPool m_pool;
    const int m_jobs;
    const int m_queue;
    const int m_timeout;
    const int m_maxPages;
    Metrics* m_pMetrics;

    mutable std::mutex m_mutex;
    std::condition_variable m_ended;
    std::deque<std::pair<int, std::shared_ptr<Job>>> m_waiting;
    std::map<int, std::shared_ptr<Job>> m_running;  // touched by the loop's thread alone
    int m_nextId = 0;
    int m_admitted = 0;
    bool m_stopping = false;

    std::thread m_thread;
    int m_wake[2] = {-1, -1};
    std::atomic<int> m_workers{0};
    std::atomic<int> m_busy{0};
    std::atomic<int> m_ready{0};
    std::atomic<long> m_enginesStarted{0};
    std::atomic<long> m_enginesReplaced{0};
};

}  // namespace serve
