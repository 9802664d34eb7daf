// The processes a run starts, as /proc tells them.
#include "convert/Procs.h"

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace convert {

bool ProcStat(int pid, int* ppid, char* state)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    FILE* f = std::fopen(path, "re");
    if (!f)
        return false;
    char buf[512];
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = 0;
    // "pid (comm) S ppid ...": the name may hold anything, so read after its last ')'.
    const char* p = std::strrchr(buf, ')');
    return p && std::sscanf(p + 1, " %c %d", state, ppid) == 2;
}

std::vector<int> ListProcesses()
{
    std::vector<int> pids;
    DIR* d = opendir("/proc");
    if (!d)
        return pids;
    while (dirent* e = readdir(d)) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (end && !*end && pid > 0)
            pids.push_back(int(pid));
    }
    closedir(d);
    return pids;
}

std::vector<int> ChildrenOf(int parent)
{
    std::vector<int> pids;
    for (int pid : ListProcesses()) {
        int ppid = 0;
        char state = 0;
        if (ProcStat(pid, &ppid, &state) && ppid == parent && state != 'Z')
            pids.push_back(pid);
    }
    return pids;
}

bool ProcessGone(int pid)
{
    int ppid = 0;
    char state = 0;
    return !ProcStat(pid, &ppid, &state) || state == 'Z' || state == 'X';
}

}  // namespace convert
