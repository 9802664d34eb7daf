// See StaleTemp.h.
#include "common/misc/StaleTemp.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

std::string MachineTag()
{
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    uint32_t h = 2166136261u;  // FNV-1a
    for (const char* p = host; *p; ++p)
        h = (h ^ uint8_t(*p)) * 16777619u;
    char text[9];
    std::snprintf(text, sizeof text, "%08x", h);
    return text;
}

std::string TempNamePrefix(const char* szPrefix)
{
    return szPrefix + std::to_string(getpid()) + "." + MachineTag() + "-";
}

int RemoveStaleTempFiles(const std::string& dir, const char* szPrefix, const char* szProgram, bool bFolders)
{
    DIR* d = opendir(dir.c_str());
    if (!d)
        return 0;
    const std::string machine = "." + MachineTag() + "-";
    const size_t nPrefix = std::strlen(szPrefix), nProgram = std::strlen(szProgram);
    std::vector<std::string> stale;
    while (dirent* e = readdir(d)) {
        const char* name = e->d_name;
        if (std::strncmp(name, szPrefix, nPrefix) != 0)
            continue;
        char* end = nullptr;
        errno = 0;
        const long pid = std::strtol(name + nPrefix, &end, 10);
        if (errno != 0 || pid <= 0 || end == name + nPrefix || !std::isdigit((unsigned char)name[nPrefix]))
            continue;
        // Another machine's run may be alive: only that machine can tell.
        if (*end != '-' && std::strncmp(end, machine.c_str(), machine.size()) != 0)
            continue;
        if (pid == getpid())
            continue;
        char exe[PATH_MAX];
        const std::string link = "/proc/" + std::to_string(pid) + "/exe";
        const ssize_t n = readlink(link.c_str(), exe, sizeof exe - 1);
        if (n < 0 && errno != ENOENT)
            continue;
        if (n > 0) {
            exe[n] = 0;
            const char* slash = std::strrchr(exe, '/');
            if (std::strncmp(slash ? slash + 1 : exe, szProgram, nProgram) == 0)
                continue;
        }
        stale.push_back(name);
    }
    closedir(d);
    int removed = 0;
    for (const std::string& name : stale) {
        struct stat sb;
        const std::string path = dir + "/" + name;
        if (lstat(path.c_str(), &sb) != 0)
            continue;
        std::error_code ec;
        if (bFolders ? S_ISDIR(sb.st_mode) && sb.st_uid == getuid() && std::filesystem::remove_all(path, ec) > 0
                     : S_ISREG(sb.st_mode) && unlink(path.c_str()) == 0)
            ++removed;
    }
    return removed;
}
