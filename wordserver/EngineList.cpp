#include "EngineList.h"

#include "EnginePlaces.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

namespace enginelist {

namespace {

bool ReadSmallFile(const std::string& path, std::string* out)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    out->clear();
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out->append(buf, size_t(n));
        if (out->size() > (1u << 20))
            break;
    }
    close(fd);
    return true;
}

// Fields of /proc/<pid>/stat after the command name (which may hold spaces and parentheses):
// [0] is the state (field 3), [1] the parent (field 4), [19] the start time (field 22).
bool StatFields(int pid, std::vector<std::string>* fields)
{
    if (pid <= 0)
        return false;
    std::string s;
    if (!ReadSmallFile("/proc/" + std::to_string(pid) + "/stat", &s))
        return false;
    size_t p = s.rfind(')');
    if (p == std::string::npos)
        return false;
    fields->clear();
    size_t i = p + 1;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\n'))
            ++i;
        size_t j = i;
        while (j < s.size() && s[j] != ' ' && s[j] != '\n')
            ++j;
        if (j > i)
            fields->push_back(s.substr(i, j - i));
        i = j;
    }
    return fields->size() > 19;
}

bool ParseEntry(const std::string& line, Entry* e)
{
    char pipe[256];
    int pid = 0, owner = 0;
    unsigned long long start = 0, ownerStart = 0;
    if (sscanf(line.c_str(), "%d %llu %d %llu %255s", &pid, &start, &owner, &ownerStart, pipe) != 5)
        return false;
    if (pid <= 0 || owner <= 0)
        return false;
    e->pid = pid;
    e->start = start;
    e->owner = owner;
    e->ownerStart = ownerStart;
    e->pipe = pipe;
    return true;
}

bool EngineGone(const Entry& e)
{
    unsigned long long st = 0;
    return !StartTime(e.pid, &st) || st != e.start;
}

}  // namespace

std::string ListPath()
{
    const std::string dir = wordengine::RuntimeFolder();
    return dir.empty() ? std::string() : dir + "/folium-engine-" + std::to_string(getuid()) + ".pids";
}

std::string AcceptArgument(const std::string& pipe)
{
    return "--accept=pipe,name=" + pipe + ";urp;StarOffice.ComponentContext";
}

std::string PipeSocketPath(const std::string& pipe)
{
    std::string dir = access("/tmp", W_OK) == 0 ? "/tmp" : "/var/tmp";
    return dir + "/OSL_PIPE_" + std::to_string(getuid()) + "_" + pipe;
}

int PipeSocketState(const std::string& path)
{
    struct stat sb;
    if (lstat(path.c_str(), &sb) != 0)
        return errno == ENOENT ? 0 : -1;
    if (!S_ISSOCK(sb.st_mode) || sb.st_uid != getuid() || (sb.st_mode & 077) != 0)
        return -1;
    return 1;
}

bool StartTime(int pid, unsigned long long* start)
{
    std::vector<std::string> f;
    if (!StatFields(pid, &f) || f[0] == "Z" || f[0] == "X")
        return false;
    *start = strtoull(f[19].c_str(), nullptr, 10);
    return true;
}

bool ParentOf(int pid, int* parent)
{
    std::vector<std::string> f;
    if (!StatFields(pid, &f))
        return false;
    *parent = atoi(f[1].c_str());
    return true;
}

bool IsListedEngine(const Entry& e)
{
    if (e.pid <= 0 || e.pipe.empty())
        return false;
    unsigned long long st = 0;
    if (!StartTime(e.pid, &st) || st != e.start)
        return false;
    struct stat sb;
    std::string proc = "/proc/" + std::to_string(e.pid);
    if (stat(proc.c_str(), &sb) != 0 || sb.st_uid != getuid())
        return false;
    std::string cmd;
    if (!ReadSmallFile(proc + "/cmdline", &cmd))
        return false;
    const std::string want = AcceptArgument(e.pipe);
    size_t i = 0;
    while (i < cmd.size()) {
        size_t z = cmd.find('\0', i);
        if (z == std::string::npos)
            z = cmd.size();
        if (cmd.compare(i, z - i, want) == 0)
            return true;
        i = z + 1;
    }
    return false;
}

bool OwnedByUs(const Entry& e)
{
    int pid = getpid();
    for (int depth = 0; pid > 0 && depth < 64; ++depth) {
        unsigned long long st = 0;
        if (pid == e.owner && StartTime(pid, &st) && st == e.ownerStart)
            return true;
        int parent = 0;
        if (!ParentOf(pid, &parent) || parent == pid)
            break;
        pid = parent;
    }
    return false;
}

int PidfdOpen(int pid)
{
    return int(syscall(SYS_pidfd_open, pid, 0));
}

bool PidfdSignal(int pidfd, int sig)
{
    return syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0) == 0;
}

bool SignalVerified(const Entry& e, int sig)
{
    // The pidfd pins the process: once it is open, the checks below are about the process
    // that will receive the signal, even if the pid is reused meanwhile.
    int pidfd = PidfdOpen(e.pid);
    if (pidfd < 0 && errno != ENOSYS)
        return false;
    bool ok = IsListedEngine(e);
    if (ok) {
        if (pidfd >= 0)
            ok = PidfdSignal(pidfd, sig);
        else
            ok = kill(e.pid, sig) == 0;  // kernels before 5.3: checked just before
    }
    if (pidfd >= 0)
        close(pidfd);
    return ok;
}

LockedList::~LockedList()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool LockedList::Open()
{
    int fd = open(ListPath().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat sb;
    if (fstat(fd, &sb) != 0 || sb.st_uid != getuid() || !S_ISREG(sb.st_mode)) {
        close(fd);
        return false;
    }
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(fd);
            return false;
        }
    }
    m_fd = fd;
    return true;
}

std::vector<Entry> LockedList::Read()
{
    std::vector<Entry> out;
    if (m_fd < 0)
        return out;
    std::string s;
    char buf[4096];
    if (lseek(m_fd, 0, SEEK_SET) != 0)
        return out;
    for (;;) {
        ssize_t n = read(m_fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        s.append(buf, size_t(n));
    }
    size_t pos = 0;
    while (pos < s.size()) {
        size_t nl = s.find('\n', pos);
        if (nl == std::string::npos)
            nl = s.size();
        Entry e;
        if (ParseEntry(s.substr(pos, nl - pos), &e))
            out.push_back(e);
        pos = nl + 1;
    }
    return out;
}

bool LockedList::Write(const std::vector<Entry>& entries)
{
    if (m_fd < 0)
        return false;
    std::string s;
    for (const Entry& e : entries)
        s += std::to_string(e.pid) + " " + std::to_string(e.start) + " " + std::to_string(e.owner) + " " +
             std::to_string(e.ownerStart) + " " + e.pipe + "\n";
    if (ftruncate(m_fd, 0) != 0 || lseek(m_fd, 0, SEEK_SET) != 0)
        return false;
    size_t done = 0;
    while (done < s.size()) {
        ssize_t n = write(m_fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

bool Add(const Entry& e)
{
    LockedList list;
    if (!list.Open())
        return false;
    std::vector<Entry> kept;
    for (const Entry& x : list.Read())
        if (!EngineGone(x) && !(x.pid == e.pid && x.start == e.start))
            kept.push_back(x);
    kept.push_back(e);
    return list.Write(kept);
}

void Remove(int pid, unsigned long long start)
{
    LockedList list;
    if (!list.Open())
        return;
    std::vector<Entry> kept;
    for (const Entry& x : list.Read())
        if (!EngineGone(x) && !(x.pid == pid && x.start == start))
            kept.push_back(x);
    list.Write(kept);
}

std::vector<int> EndOwnEngines(int sig)
{
    std::vector<int> ended;
    LockedList list;
    if (!list.Open())
        return ended;
    std::vector<Entry> kept;
    for (const Entry& e : list.Read()) {
        if (EngineGone(e))
            continue;
        if (OwnedByUs(e) && SignalVerified(e, sig)) {
            ended.push_back(e.pid);
            continue;
        }
        kept.push_back(e);
    }
    list.Write(kept);
    return ended;
}

}  // namespace enginelist
