// Starting the engine process, and listing, waiting for, killing and reaping it.
#include "EngineInternal.h"
#include "EngineList.h"
#include "ProcessInternal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sched.h>
#include <climits>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace wordengine {
namespace detail {

using namespace std::chrono;

namespace {

// The running engine: a pidfd opened while it was still our unreaped child, so signals go
// to that process and no other, and its entry in the engine list.
std::atomic<int> g_pidfd{-1};
enginelist::Entry g_listed;

}  // namespace

// Kills the engine through its pidfd; a plain kill() only where the kernel has no pidfds
// (the pid is then our unreaped child, which cannot have been reused).
void KillEngine(int pid)
{
    int fd = g_pidfd.load();
    if (fd >= 0) {
        enginelist::PidfdSignal(fd, SIGKILL);
        return;
    }
    kill(pid, SIGKILL);
}

// ---- process -------------------------------------------------------------------------

// A pipe name no one can guess (the engine's socket lives in the shared /tmp).
std::string NewPipeName()
{
    unsigned char r[16];
    size_t got = 0;
    while (got < sizeof r) {
        ssize_t n = getrandom(r + got, sizeof r - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::string();
        got += size_t(n);
    }
    static const char hex[] = "0123456789abcdef";
    std::string name = "folium-";
    for (unsigned char c : r) {
        name += hex[c >> 4];
        name += hex[c & 15];
    }
    return name;
}

namespace {

// Writes a whole short text to a file (async-signal-safe: used between fork and exec).
bool WriteProcFile(const char* path, const char* text)
{
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    size_t len = strlen(text);
    bool ok = write(fd, text, len) == ssize_t(len);
    close(fd);
    return ok;
}

// An engine whose namespaces could not be made as they should exits with this code; the next
// start then runs it without them, as where the system allows none.
const int kNamespacesFailed = 126;
std::atomic<bool> g_noNamespaces{false};

// Starts soffice.bin itself (not the launcher script, whose child would escape the engine
// list). The child gets umask 077 (its pipe socket and files are the user's alone), namespaces
// of its own where the system allows them (user, network: a document's links cannot reach the
// network; process and mount: the user's folders are hidden from it, see HideUserFolders),
// the private temporary folder as TMPDIR, and the folder's lock. The engine dies with the
// thread that forked it (see Spawn), so a crashed program leaves none.
int SpawnHere(const std::string& pipeName, const std::string& profile, const std::string& fontConfig)
{
    std::string exe = std::string(LO_PROGRAM_DIR) + "/soffice.bin";
    std::string accept = enginelist::AcceptArgument(pipeName);
    std::string inst = "-env:UserInstallation=" + ToUtf8(FileUrl(profile));
    // The office suite keeps a cache of extensions shared by all users beside its program
    // (/var/spool/libreoffice/uno_packages/cache) and makes it on first start. Made by an
    // engine of root's, with the engine's umask, no other user's office could start; the
    // engine gets a cache of its own in the profile instead and never writes there.
    std::string sharedCache = "-env:UNO_SHARED_PACKAGES_CACHE=" + ToUtf8(FileUrl(profile + "/shared"));
    std::vector<std::string> args = {exe,      "--headless",  "--invisible",  "--norestore", "--nologo",
                                     "--nodefault", "--nolockcheck", accept, inst, sharedCache};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The environment, with TMPDIR pointing into the private folder and the engine's own
    // font configuration.
    std::vector<std::string> env;
    const char* ownFontConfig = getenv("FONTCONFIG_FILE");
    for (char** e = environ; e && *e; ++e)
        if (strncmp(*e, "TMPDIR=", 7) != 0 && strncmp(*e, "FONTCONFIG_FILE=", 16) != 0)
            env.push_back(*e);
    env.push_back("TMPDIR=" + g_tempDir + "/tmp");
    env.push_back("FONTCONFIG_FILE=" + fontConfig);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const std::string uidMap = std::to_string(getuid()) + " " + std::to_string(getuid()) + " 1\n";
    const std::string gidMap = std::to_string(getgid()) + " " + std::to_string(getgid()) + " 1\n";
    // FOLIUM_ENGINE_NETWORK=1 leaves the engine on the network (diagnosis only).
    const bool isolate = getenv("FOLIUM_ENGINE_NETWORK") == nullptr;
    // FOLIUM_ENGINE_FOLDERS=1 leaves the user's folders visible to it (diagnosis only).
    const bool hideFolders = isolate && getenv("FOLIUM_ENGINE_FOLDERS") == nullptr && !g_noNamespaces;
    std::vector<std::string> hide, keep;
    if (hideFolders) {
        hide = FoldersToHide();
        std::string base = ownFontConfig && *ownFontConfig == '/' ? ownFontConfig : "";
        base = base.substr(0, base.rfind('/'));
        keep = FoldersToKeep(hide, profile, base);
    }
    std::vector<const char*> hideC, keepC;
    for (auto& h : hide)
        hideC.push_back(h.c_str());
    for (auto& k : keep)
        keepC.push_back(k.c_str());
    std::vector<int> keepFds(keep.size() + 1, -1);
    bool quiet = getenv("FOLIUM_ENGINE_VERBOSE") == nullptr;
    const int tempLock = g_tempLockFd;
    pid_t parent = getpid();

    // The engine is this process's own child even in a process namespace of its own (its
    // memory, start time and command line are read through its pid); the bare system call
    // forks as fork() does, and the child makes no library calls that could need a lock.
    pid_t pid = -1;
    bool ownProcesses = false;
    if (hideFolders) {
        pid = pid_t(syscall(SYS_clone, CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS | CLONE_NEWPID | SIGCHLD, nullptr,
                            nullptr, nullptr, nullptr));
        ownProcesses = pid >= 0;
    }
    if (pid < 0)
        pid = fork();
    if (pid < 0)
        return 0;
    if (pid > 0)
        SetHiddenFolders(ownProcesses ? hide : std::vector<std::string>());
    if (pid == 0) {
        umask(077);
        // A user namespace mapping only ourselves makes the other namespaces possible
        // without privileges; where none is allowed the engine runs as before.
        const bool mapped = ownProcesses || (isolate && unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0);
        if (mapped) {
            if (!WriteProcFile("/proc/self/setgroups", "deny") ||
                !WriteProcFile("/proc/self/uid_map", uidMap.c_str()) ||
                !WriteProcFile("/proc/self/gid_map", gidMap.c_str()))
                _exit(127);
        }
        if (ownProcesses && !HideUserFolders(hideC, keepC, keepFds.data()))
            _exit(kNamespacesFailed);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // In a process namespace of its own the parent is outside it and shows as 0.
        if (getppid() != (ownProcesses ? 0 : parent))
            _exit(127);
        // Its working folder may be one of those hidden: nothing is reached through it.
        if (chdir("/") != 0)
            _exit(127);
        int nul = open("/dev/null", O_RDWR);
        if (nul >= 0) {
            dup2(nul, 0);
            if (quiet) {
                dup2(nul, 1);
                dup2(nul, 2);
            }
        }
        // The temporary folder's lock goes with the engine as descriptor 3.
        if (tempLock >= 0) {
            if (tempLock != 3)
                dup2(tempLock, 3);
            fcntl(3, F_SETFD, 0);
        }
        for (int fd = tempLock >= 0 ? 4 : 3; fd < 1024; ++fd)
            close(fd);
        execve(exe.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

}  // namespace

// The parent-death signal follows the thread that forked, not the process: every engine is
// forked by one thread that lives as long as the process, so an engine started from a
// short-lived thread (a worker) stays up after that thread ends, and still dies with the
// process.
int Spawn(const std::string& pipeName, const std::string& profile, const std::string& fontConfig)
{
    struct Spawner {
        std::mutex callers;  // one request at a time
        std::mutex m;
        std::condition_variable cv;
        const std::string* pipe = nullptr;
        const std::string* profile = nullptr;
        const std::string* fontConfig = nullptr;
        bool pending = false;
        int result = 0;
    };
    static Spawner* sp = [] {
        auto* s = new Spawner;  // lives for the process, as its thread does
        std::thread([s] {
            std::unique_lock<std::mutex> lock(s->m);
            for (;;) {
                s->cv.wait(lock, [s] { return s->pending; });
                s->result = SpawnHere(*s->pipe, *s->profile, *s->fontConfig);
                s->pending = false;
                s->cv.notify_all();
            }
        }).detach();
        return s;
    }();
    std::lock_guard<std::mutex> one(sp->callers);
    std::unique_lock<std::mutex> lock(sp->m);
    sp->pipe = &pipeName;
    sp->profile = &profile;
    sp->fontConfig = &fontConfig;
    sp->pending = true;
    sp->cv.notify_all();
    sp->cv.wait(lock, [] { return !sp->pending; });
    return sp->result;
}

bool NamespacesFailed(int exitCode)
{
    if (exitCode != kNamespacesFailed || g_noNamespaces)
        return false;
    g_noNamespaces = true;
    return true;
}

// Records a new engine: its pidfd (replacing the last one) and its entry in the list.
void Adopt(int pid, const std::string& pipeName)
{
    int old = g_pidfd.exchange(enginelist::PidfdOpen(pid));
    if (old >= 0)
        close(old);
    enginelist::Entry e;
    e.pid = pid;
    enginelist::StartTime(pid, &e.start);
    e.owner = getpid();
    enginelist::StartTime(e.owner, &e.ownerStart);
    e.pipe = pipeName;
    g_listed = e;
    enginelist::Add(e);
}

// Forgets the engine: its list entry and its pidfd (once it has been reaped).
void Unlist(int pid)
{
    if (g_listed.pid == pid && pid > 0)
        enginelist::Remove(g_listed.pid, g_listed.start);
    g_listed = enginelist::Entry();
    int old = g_pidfd.exchange(-1);
    if (old >= 0)
        close(old);
}

// Waits up to ms for pid to end; reaps it. True when it ended.
bool WaitExit(int pid, int ms, int* exitCode)
{
    auto end = steady_clock::now() + milliseconds(ms);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            if (exitCode)
                *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return true;
        }
        if (r < 0 && errno == ECHILD)
            return true;
        if (steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
}

void KillAndReap(int pid)
{
    if (pid <= 0)
        return;
    if (!WaitExit(pid, 0, nullptr)) {
        KillEngine(pid);
        WaitExit(pid, 5000, nullptr);
    }
    Unlist(pid);
}

}  // namespace detail
}  // namespace wordengine
