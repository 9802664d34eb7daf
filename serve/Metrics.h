// The counters pagesnap-serve shows at /metrics, in Prometheus' text format (0.0.4).
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace serve {

// What the conversion side knows at the moment of asking.
struct PoolGauges {
    int queued = 0;
    int workers = 0;
    int busy = 0;
    long enginesStarted = 0;
    long enginesReplaced = 0;
};

class Metrics {
public:
    Metrics();
    void Request(int status);
    // A document ended: converted with pages pictures, or failed; seconds from queue to end.
    void Document(bool bConverted, int pages, double seconds);
    std::string Text(const PoolGauges& g) const;

private:
    mutable std::mutex m_mutex;
    std::map<int, long> m_requests;
    long m_converted = 0;
    long m_failed = 0;
    long m_pages = 0;
    std::vector<double> m_bounds;
    std::vector<long> m_buckets;  // cumulative counts are made when shown
    double m_sum = 0;
    long m_count = 0;
};

}  // namespace serve
