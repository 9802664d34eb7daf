#include "serve/Converter.h"

#include <fcntl.h>
#include <unistd.h>

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace serve {

Converter::Converter(const convert::PoolSetup& pool, int queue, int timeoutSeconds, int maxPages, Metrics* pMetrics)
    : m_pool(pool), m_jobs(pool.jobs), m_queue(queue), m_timeout(timeoutSeconds), m_maxPages(maxPages),
      m_pMetrics(pMetrics)
{
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wake[0] = m_wake[1] = -1;
}

void Converter::Start()
{
    m_thread = std::thread([this] { Loop(); });
}

void Converter::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_thread.joinable())
            return;
        m_stopping = true;
    }
    Wake();
    m_thread.join();
    for (int fd : m_wake)
        if (fd >= 0)
            close(fd);
    m_wake[0] = m_wake[1] = -1;
}

void Converter::Wake()
{
    if (m_wake[1] >= 0) {
        const char c = 1;
        ssize_t n = write(m_wake[1], &c, 1);
        (void)n;
    }
}

bool Converter::Admit()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping || m_admitted >= m_jobs + m_queue)
        return false;
    ++m_admitted;
    return true;
}

void Converter::Release()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_admitted > 0)
        --m_admitted;
}

void Converter::Convert(const std::shared_ptr<Job>& job)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    job->queued = Clock::now();
    m_waiting.emplace_back(m_nextId++, job);
    lock.unlock();
    Wake();
    lock.lock();
    // The pool ends every document within the timeout; the margin covers a worker that has to
    // be killed, and is never the usual end.
    const auto until = Clock::now() + std::chrono::seconds(m_timeout + 60);
    if (!m_ended.wait_until(lock, until, [&] { return job->finished; })) {
        job->result.kind = convert::ErrorKind::TimedOut;
        job->result.message = "not converted within " + std::to_string(m_timeout) + " seconds";
    }
}

void Converter::End(int id, std::shared_ptr<Job> job)
{
    m_running.erase(id);
    job->result.seconds = std::chrono::duration<double>(Clock::now() - job->queued).count();
    if (m_pMetrics)
        m_pMetrics->Document(job->result.kind == convert::ErrorKind::None, int(job->result.pictures.size()),
                             job->result.seconds);
    std::lock_guard<std::mutex> lock(m_mutex);
    job->finished = true;
    m_ended.notify_all();
}

void Converter::OnEvent(const convert::PoolEvent& e)
{
    if (e.event == "engine") {
        ++m_enginesStarted;
        return;
    }
    const auto it = m_running.find(e.doc);
    if (it == m_running.end())
        return;
    std::shared_ptr<Job> job = it->second;
    const json& j = e.line;
    try {
        if (e.event == "opened") {
            job->result.Opened(j);
        } else if (e.event == "page") {
            job->result.Page(j, job->folder + "/p-", job->folder,
                             convert::FormatExtension(job->settings.format));
        } else if (e.event == "done") {
            End(e.doc, job);
        } else if (e.event == "failed") {
            job->result.kind = convert::ErrorKindFromName(j.value("kind", ""));
            job->result.message = j.value("message", "");
            job->result.pictures.clear();
            End(e.doc, job);
        }
    } catch (const json::exception&) {
        // A line of the wrong shape says nothing; the document still ends by its deadline.
    }
}

void Converter::Loop()
{
    m_pool.StartAll();
    for (;;) {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_waiting.empty()) {
            const int id = m_waiting.front().first;
            std::shared_ptr<Job> job = m_waiting.front().second;
            const RequestSettings& s = job->settings;
            const json line = {{"path", job->path},
                               {"prefix", job->folder + "/p-"},
                               {"format", convert::FormatExtension(s.format)},
                               {"dpi", s.dpi},
                               {"quality", s.quality},
                               {"pages", s.pagesText},
                               {"max_pages", m_maxPages}};
            const auto hand = m_pool.Submit(id, line, std::chrono::seconds(m_timeout));
            if (hand == convert::WorkerPool::Hand::NoneFree)
                break;
            m_waiting.pop_front();
            lock.unlock();
            m_running[id] = job;
            if (hand == convert::WorkerPool::Hand::CannotStart) {
                job->result.kind = convert::ErrorKind::EngineFailed;
                job->result.message = "no worker process could be started";
                End(id, job);
            }
            lock.lock();
        }
        const bool bDone = m_stopping && m_waiting.empty() && m_running.empty();
        lock.unlock();
        if (bDone)
            break;
        m_pool.Poll(std::chrono::milliseconds(500), m_wake[0], [this](const convert::PoolEvent& e) { OnEvent(e); });
        char buf[64];
        while (m_wake[0] >= 0 && read(m_wake[0], buf, sizeof buf) > 0) {
        }
        if (!m_stopping)
            m_pool.StartAll();  // a worker lost with its document is replaced at once, warm
        m_workers = m_pool.Live();
        m_busy = m_pool.Busy();
        m_ready = m_pool.Ready();
        long replaced = 0;
        const std::vector<int> perWorker = m_pool.EnginesPerWorker();
        for (size_t i = 0; i < perWorker.size(); ++i)
            replaced += std::max(0, perWorker[i] - 1) + (i >= size_t(m_jobs) && perWorker[i] > 0 ? 1 : 0);
        m_enginesReplaced = replaced;
    }
    m_pool.StopAll(false);
    m_workers = 0;
    m_busy = 0;
    m_ready = 0;
}

PoolGauges Converter::Gauges() const
{
    PoolGauges g;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        g.queued = int(m_waiting.size());
    }
    g.workers = m_workers;
    g.busy = m_busy;
    g.enginesStarted = m_enginesStarted;
    g.enginesReplaced = m_enginesReplaced;
    return g;
}

bool Converter::Ready() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_stopping && m_ready > 0 && m_admitted < m_jobs + m_queue;
}

}  // namespace serve
