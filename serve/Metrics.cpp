#include "serve/Metrics.h"

#include <cstdio>

namespace serve {

Metrics::Metrics() : m_bounds{0.5, 1, 2, 5, 10, 30, 60, 120, 300}, m_buckets(m_bounds.size() + 1, 0) {}

void Metrics::Request(int status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_requests[status];
}

void Metrics::Document(bool bConverted, int pages, double seconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    (bConverted ? m_converted : m_failed) += 1;
    m_pages += pages;
    size_t i = 0;
    while (i < m_bounds.size() && seconds > m_bounds[i])
        ++i;
    ++m_buckets[i];
    m_sum += seconds;
    ++m_count;
}

std::string Metrics::Text(const PoolGauges& g) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string out;
    char line[256];
    auto add = [&](const char* fmt, auto... args) {
        std::snprintf(line, sizeof line, fmt, args...);
        out += line;
    };
    out += "# HELP pagesnap_requests_total HTTP requests answered, by status code.\n"
           "# TYPE pagesnap_requests_total counter\n";
    for (const auto& [code, n] : m_requests)
        add("pagesnap_requests_total{code=\"%d\"} %ld\n", code, n);
    out += "# HELP pagesnap_documents_total Documents converted or failed.\n"
           "# TYPE pagesnap_documents_total counter\n";
    add("pagesnap_documents_total{result=\"converted\"} %ld\n", m_converted);
    add("pagesnap_documents_total{result=\"failed\"} %ld\n", m_failed);
    out += "# HELP pagesnap_pages_total Pictures of pages made.\n# TYPE pagesnap_pages_total counter\n";
    add("pagesnap_pages_total %ld\n", m_pages);
    out += "# HELP pagesnap_conversion_seconds Time from a document's queueing to its last picture.\n"
           "# TYPE pagesnap_conversion_seconds histogram\n";
    long cumulative = 0;
    for (size_t i = 0; i < m_bounds.size(); ++i) {
        cumulative += m_buckets[i];
        add("pagesnap_conversion_seconds_bucket{le=\"%g\"} %ld\n", m_bounds[i], cumulative);
    }
    cumulative += m_buckets.back();
    add("pagesnap_conversion_seconds_bucket{le=\"+Inf\"} %ld\n", cumulative);
    add("pagesnap_conversion_seconds_sum %.6f\n", m_sum);
    add("pagesnap_conversion_seconds_count %ld\n", m_count);
    out += "# HELP pagesnap_queue_length Documents waiting for a worker.\n# TYPE pagesnap_queue_length gauge\n";
    add("pagesnap_queue_length %d\n", g.queued);
    out += "# HELP pagesnap_workers Worker processes running.\n# TYPE pagesnap_workers gauge\n";
    add("pagesnap_workers %d\n", g.workers);
    out += "# HELP pagesnap_workers_busy Workers converting a document.\n# TYPE pagesnap_workers_busy gauge\n";
    add("pagesnap_workers_busy %d\n", g.busy);
    out += "# HELP pagesnap_engines_started_total Document engines started.\n"
           "# TYPE pagesnap_engines_started_total counter\n";
    add("pagesnap_engines_started_total %ld\n", g.enginesStarted);
    out += "# HELP pagesnap_engines_replaced_total Engines replaced past their limits or after a failure.\n"
           "# TYPE pagesnap_engines_replaced_total counter\n";
    add("pagesnap_engines_replaced_total %ld\n", g.enginesReplaced);
    return out;
}

}  // namespace serve
