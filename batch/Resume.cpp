// The finished-documents log and the clean-up of stale temporary pictures (see Resume.h).
#include "batch/Resume.h"

#include "common/misc/StaleTemp.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using json = nlohmann::json;

namespace batch {

namespace {

const char kLogPrefix[] = ".pagesnap-batch.";  // .pagesnap-batch.done, .pagesnap-batch.shard-K-of-N.done
const char kTempPrefix[] = ".pagesnap-batch-";

}  // namespace

DoneLog::~DoneLog()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool DoneLog::Open(const std::string& outDir, const std::string& name, bool keep)
{
    const std::string path = outDir + "/" + name;
    if (keep) {
        std::vector<std::string> logs;
        if (DIR* d = opendir(outDir.c_str())) {
            while (dirent* e = readdir(d)) {
                const std::string n = e->d_name;
                if (n.compare(0, sizeof kLogPrefix - 1, kLogPrefix) == 0 && n.size() >= 20 &&
                    n.compare(n.size() - 5, 5, ".done") == 0)
                    logs.push_back(outDir + "/" + n);
            }
            closedir(d);
        }
        for (const std::string& log : logs) {
            std::ifstream in(log, std::ios::binary);
            std::string line;
            while (std::getline(in, line)) {
                const json j = json::parse(line, nullptr, false);
                if (!j.is_discarded() && j.is_object() && j.contains("key") && j["key"].is_string())
                    m_done[j["key"].get<std::string>()] = j;
            }
        }
    }
    m_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | (keep ? 0 : O_TRUNC), 0644);
    return m_fd >= 0;
}

std::string DoneLog::Key(const std::string& path, const std::string& base, const json& settings)
{
    char real[PATH_MAX];
    struct stat sb;
    if (!realpath(path.c_str(), real) || stat(real, &sb) != 0)
        return std::string();
    return json::array({real, sb.st_size, sb.st_mtim.tv_sec, sb.st_mtim.tv_nsec, base, settings})
        .dump(-1, ' ', false, json::error_handler_t::replace);
}

bool DoneLog::Finished(const std::string& key, json* written, int* pages) const
{
    const auto it = m_done.find(key);
    if (key.empty() || it == m_done.end())
        return false;
    try {
        const json& w = it->second.at("written");
        for (const json& p : w) {
            struct stat sb;
            const std::string file = p.at("file");
            if (stat(file.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode) || sb.st_size == 0)
                return false;
        }
        *written = w;
        *pages = it->second.at("pages");
        return true;
    } catch (const json::exception&) {
        return false;
    }
}

bool DoneLog::Add(const std::string& key, const json& written, int pages)
{
    if (m_fd < 0 || key.empty())
        return false;
    const std::string line =
        json({{"key", key}, {"pages", pages}, {"written", written}}).dump(-1, ' ', false, json::error_handler_t::replace) +
        "\n";
    // One write of the whole line: O_APPEND keeps lines of concurrent runs apart.
    const ssize_t n = write(m_fd, line.data(), line.size());
    return n == ssize_t(line.size()) && fdatasync(m_fd) == 0;
}

std::string TempPicturePrefix() { return TempNamePrefix(kTempPrefix); }

int RemoveStaleTempPictures(const std::string& outDir) { return RemoveStaleTempFiles(outDir, kTempPrefix, "pagesnap-batch"); }

}  // namespace batch
