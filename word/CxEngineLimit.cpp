// See CxEngineLimit.h.
#include "word/CxEngineLimit.h"

#include "EngineList.h"

#include <cstdio>
#include <unistd.h>

bool CxEngineLimit::DocumentDone(int nEnginePid)
{
    ++m_nDone;
    if (m_nDocuments > 0 && m_nDone >= m_nDocuments)
        return true;
    return m_nMemoryMb > 0 && nEnginePid > 0 && ResidentMegabytes(nEnginePid) > m_nMemoryMb;
}

long CxEngineLimit::ResidentMegabytes(int pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", pid);
    FILE* f = std::fopen(path, "re");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    while (kb < 0 && std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld kB", &kb) != 1)
            kb = -1;
    std::fclose(f);
    return kb < 0 ? -1 : kb / 1024;
}

int CxEngineLimit::OwnEngine()
{
    enginelist::LockedList list;
    if (!list.Open())
        return 0;
    for (const enginelist::Entry& e : list.Read())
        if (e.owner == getpid() && enginelist::IsListedEngine(e))
            return e.pid;
    return 0;
}
