// The engine process: start (private profile, private pipe, private temporary folder, no
// network), connect over UNO, bound every call with a watchdog, shut down, and keep the list
// of running engines that "taskkill" reads.
#include "EngineInternal.h"
#include "EngineList.h"

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNameReplace.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/util/XChangesBatch.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <cppuhelper/bootstrap.hxx>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef LO_PROGRAM_DIR
#define LO_PROGRAM_DIR "/usr/lib/libreoffice/program"
#endif
#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

namespace wordengine {
namespace detail {

using namespace std::chrono;

std::recursive_mutex& EngineMutex()
{
    static auto* m = new std::recursive_mutex;  // never destroyed: used until the very end
    return *m;
}

EngineState& State()
{
    static auto* s = new EngineState;
    return *s;
}

namespace {

int g_refs = 0;            // automation references (EngineAddRef/EngineRelease)
int g_profileLockFd = -1;  // flock held on the profile in use
// The running engine: a pidfd opened while it was still our unreaped child, so signals go
// to that process and no other, and its entry in the engine list.
std::atomic<int> g_pidfd{-1};
enginelist::Entry g_listed;
// The engine's private temporary folder and the flock that marks it in use (the engine
// holds it too, so the folder counts as stale only once both are gone).
std::string g_tempDir;
int g_tempLockFd = -1;

// ---- strings -------------------------------------------------------------------------

}  // namespace

std::string ToUtf8(const rtl::OUString& s)
{
    rtl::OString o = rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8);
    return std::string(o.getStr(), o.getLength());
}

rtl::OUString FromUtf8(const std::string& s)
{
    return rtl::OStringToOUString(rtl::OString(s.data(), s.size()), RTL_TEXTENCODING_UTF8);
}

rtl::OUString FileUrl(const std::string& absolutePath)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : absolutePath) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
            url += char(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return rtl::OUString::createFromAscii(url.c_str());
}

namespace {

// Kills the engine through its pidfd; a plain kill() only where the kernel has no pidfds
// (the pid is then our unreaped child, which cannot have been reused).
void KillEngine(int pid)
{
    int fd = g_pidfd.load();
    if (fd >= 0) {
        syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0);
        return;
    }
    kill(pid, SIGKILL);
}

// ---- watchdog --------------------------------------------------------------------------

struct Watchdog {
    std::mutex m;
    std::condition_variable cv;
    bool armed = false;
    bool fired = false;
    int pid = 0;
    steady_clock::time_point deadline;
    std::thread thread;

    void Run()
    {
        std::unique_lock<std::mutex> lock(m);
        for (;;) {
            if (!armed) {
                cv.wait(lock);
                continue;
            }
            if (cv.wait_until(lock, deadline) == std::cv_status::timeout && armed &&
                steady_clock::now() >= deadline) {
                // The blocked call returns once the link breaks.
                if (pid > 0)
                    KillEngine(pid);
                fired = true;
                armed = false;
            }
        }
    }
};

Watchdog& Dog()
{
    static Watchdog* w = [] {
        auto* d = new Watchdog;  // lives for the process: its thread never ends
        d->thread = std::thread([d] { d->Run(); });
        d->thread.detach();
        return d;
    }();
    return *w;
}

}  // namespace

void WatchdogArm(int ms)
{
    Watchdog& w = Dog();
    std::lock_guard<std::mutex> lock(w.m);
    w.armed = true;
    w.fired = false;
    w.pid = State().pid;
    w.deadline = steady_clock::now() + milliseconds(ms);
    w.cv.notify_all();
}

bool WatchdogDisarm()
{
    Watchdog& w = Dog();
    std::lock_guard<std::mutex> lock(w.m);
    w.armed = false;
    bool fired = w.fired;
    w.fired = false;
    w.cv.notify_all();
    return fired;
}

namespace {

// ---- private temporary folder -------------------------------------------------------

std::string TempBase()
{
    const char* t = getenv("TMPDIR");
    return std::string(t && *t == '/' ? t : "/tmp");
}

// Removes everything inside the folder open as dirfd, never following a link.
void RemoveContents(int dirfd)
{
    int dup = fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
    if (dup < 0)
        return;
    DIR* d = fdopendir(dup);
    if (!d) {
        close(dup);
        return;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    }
    closedir(d);
    for (const std::string& n : names) {
        if (unlinkat(dirfd, n.c_str(), 0) == 0)
            continue;
        int sub = openat(dirfd, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0) {
            RemoveContents(sub);
            close(sub);
        }
        unlinkat(dirfd, n.c_str(), AT_REMOVEDIR);
    }
}

// Removes this user's folium-engine-XXXXXX folders that no live engine (or its program)
// holds any more: those of engines that were killed with their program.
void RemoveStaleTempDirs(const std::string& base)
{
    DIR* d = opendir(base.c_str());
    if (!d)
        return;
    int basefd = dirfd(d);
    const std::string prefix = "folium-engine-";
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() == prefix.size() + 6 && n.compare(0, prefix.size(), prefix) == 0)
            names.push_back(n);
    }
    for (const std::string& n : names) {
        int fd = openat(basefd, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat sb;
        if (fstat(fd, &sb) == 0 && sb.st_uid == getuid() && flock(fd, LOCK_EX | LOCK_NB) == 0) {
            RemoveContents(fd);
            unlinkat(basefd, n.c_str(), AT_REMOVEDIR);
        }
        close(fd);
    }
    closedir(d);
}

void RemovePrivateTemp()
{
    if (g_tempLockFd >= 0) {
        RemoveContents(g_tempLockFd);
        rmdir(g_tempDir.c_str());
        close(g_tempLockFd);
    }
    g_tempLockFd = -1;
    g_tempDir.clear();
}

// A new private folder (mode 0700, locked), after removing stale ones. False when none can
// be made.
bool MakePrivateTemp()
{
    RemovePrivateTemp();
    const std::string base = TempBase();
    RemoveStaleTempDirs(base);
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string tmpl = base + "/folium-engine-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back(0);
        if (!mkdtemp(buf.data()))
            return false;
        int fd = open(buf.data(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat sb;
        // Another program's clean-up may take a folder between its making and its locking:
        // a folder removed meanwhile has no links left, and a new one is made.
        if (flock(fd, LOCK_EX) != 0 || fstat(fd, &sb) != 0 || sb.st_nlink == 0 ||
            sb.st_uid != getuid() || mkdirat(fd, "tmp", 0700) != 0) {
            close(fd);
            continue;
        }
        g_tempDir = buf.data();
        g_tempLockFd = fd;
        return true;
    }
    return false;
}

// ---- profile -------------------------------------------------------------------------

std::string CacheDir()
{
    const char* x = getenv("XDG_CACHE_HOME");
    if (x && *x == '/')
        return x;
    const char* home = getenv("HOME");
    if (!home || *home != '/') {
        struct passwd* pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : "/tmp";
    }
    return std::string(home) + "/.cache";
}

bool MakeDirs(const std::string& path)
{
    std::string cur;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        cur = path.substr(0, pos);
        if (mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// A folder of ours that no one else may change: a real folder (no link), owned by this user,
// writable by no one else. A profile holds the engine's configuration and macros, so one that
// another user could have written into is not used.
bool PrivateFolder(const std::string& path)
{
    struct stat sb;
    return lstat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode) && sb.st_uid == getuid() &&
           (sb.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A profile folder that no other engine uses: profiles are reused (a warm profile starts
// in a fraction of the time of a new one), and one is locked while its engine runs.
std::string TakeProfile()
{
    std::string base = CacheDir() + "/folium-engine";
    if (!MakeDirs(base) || !PrivateFolder(base))
        return std::string();
    for (int i = 0; i < 64; ++i) {
        std::string dir = base + "/profile-" + std::to_string(i);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
            continue;
        if (!PrivateFolder(dir))
            continue;
        int fd = open((dir + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            g_profileLockFd = fd;
            return dir;
        }
        close(fd);
    }
    return std::string();
}

void ReleaseProfile()
{
    if (g_profileLockFd >= 0) {
        close(g_profileLockFd);
        g_profileLockFd = -1;
    }
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

// Starts soffice.bin itself (not the launcher script, whose child would escape the engine
// list). The child gets umask 077 (its pipe socket and files are the user's alone), a
// network namespace of its own where the system allows one (a document's links cannot
// reach the network), the private temporary folder as TMPDIR, and the folder's lock. The
// engine dies with the thread that forked it (see Spawn), so a crashed program leaves none.
int SpawnHere(const std::string& pipeName, const std::string& profile)
{
    std::string exe = std::string(LO_PROGRAM_DIR) + "/soffice.bin";
    std::string accept = enginelist::AcceptArgument(pipeName);
    std::string inst = "-env:UserInstallation=" + ToUtf8(FileUrl(profile));
    std::vector<std::string> args = {exe,       "--headless", "--invisible", "--norestore",
                                     "--nologo", "--nodefault", "--nolockcheck", accept, inst};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The environment, with TMPDIR pointing into the private folder.
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
        if (strncmp(*e, "TMPDIR=", 7) != 0)
            env.push_back(*e);
    env.push_back("TMPDIR=" + g_tempDir + "/tmp");
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const std::string uidMap = std::to_string(getuid()) + " " + std::to_string(getuid()) + " 1\n";
    const std::string gidMap = std::to_string(getgid()) + " " + std::to_string(getgid()) + " 1\n";
    // FOLIUM_ENGINE_NETWORK=1 leaves the engine on the network (diagnosis only).
    const bool isolate = getenv("FOLIUM_ENGINE_NETWORK") == nullptr;
    bool quiet = getenv("FOLIUM_ENGINE_VERBOSE") == nullptr;
    const int tempLock = g_tempLockFd;
    pid_t parent = getpid();

    pid_t pid = fork();
    if (pid < 0)
        return 0;
    if (pid == 0) {
        umask(077);
        // A user namespace mapping only ourselves makes the network namespace possible
        // without privileges; where neither is allowed the engine runs as before.
        if (isolate && unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0) {
            if (!WriteProcFile("/proc/self/setgroups", "deny") ||
                !WriteProcFile("/proc/self/uid_map", uidMap.c_str()) ||
                !WriteProcFile("/proc/self/gid_map", gidMap.c_str()))
                _exit(127);
        }
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
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

// The parent-death signal follows the thread that forked, not the process: every engine is
// forked by one thread that lives as long as the process, so an engine started from a
// short-lived thread (a worker) stays up after that thread ends, and still dies with the
// process.
int Spawn(const std::string& pipeName, const std::string& profile)
{
    struct Spawner {
        std::mutex callers;  // one request at a time
        std::mutex m;
        std::condition_variable cv;
        const std::string* pipe = nullptr;
        const std::string* profile = nullptr;
        bool pending = false;
        int result = 0;
    };
    static Spawner* sp = [] {
        auto* s = new Spawner;  // lives for the process, as its thread does
        std::thread([s] {
            std::unique_lock<std::mutex> lock(s->m);
            for (;;) {
                s->cv.wait(lock, [s] { return s->pending; });
                s->result = SpawnHere(*s->pipe, *s->profile);
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
    sp->pending = true;
    sp->cv.notify_all();
    sp->cv.wait(lock, [] { return !sp->pending; });
    return sp->result;
}

// Records a new engine: its pidfd (replacing the last one) and its entry in the list.
void Adopt(int pid, const std::string& pipeName)
{
    int old = g_pidfd.exchange(int(syscall(SYS_pidfd_open, pid, 0)));
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

Reference<css::uno::XComponentContext> LocalContext()
{
    static Reference<css::uno::XComponentContext>* ctx = nullptr;
    if (!ctx) {
        setenv("URE_BOOTSTRAP", "vnd.sun.star.pathname:" LO_PROGRAM_DIR "/fundamentalrc", 0);
        ctx = new Reference<css::uno::XComponentContext>(
            cppu::defaultBootstrap_InitialComponentContext());
    }
    return *ctx;
}

int StartTimeoutMs()
{
    const char* v = getenv("FOLIUM_ENGINE_START_TIMEOUT_MS");
    int ms = v ? atoi(v) : 0;
    return ms > 0 ? ms : 60000;
}

// Turns off what would let a document make the engine fetch or read anything it names:
// pictures and other content linked from outside the document are not loaded. False when
// the setting could not be made (the engine is then not used).
bool BlockExternalContent(const Reference<css::uno::XComponentContext>& remote)
{
    Reference<css::lang::XMultiServiceFactory> provider = css::configuration::theDefaultProvider::get(remote);
    css::beans::NamedValue path("nodepath", css::uno::Any(rtl::OUString("/org.openoffice.Office.Common/Security/Scripting")));
    css::uno::Sequence<css::uno::Any> args(1);
    args[0] <<= path;
    Reference<css::container::XNameReplace> node(
        provider->createInstanceWithArguments("com.sun.star.configuration.ConfigurationUpdateAccess", args),
        css::uno::UNO_QUERY_THROW);
    node->replaceByName("BlockUntrustedRefererLinks", css::uno::Any(true));
    Reference<css::util::XChangesBatch>(node, css::uno::UNO_QUERY_THROW)->commitChanges();
    bool on = false;
    return (node->getByName("BlockUntrustedRefererLinks") >>= on) && on;
}

EngineStatus Start()
{
    EngineState& st = State();
    std::string profile = TakeProfile();
    if (profile.empty())
        return EngineStatus::NotStarted;
    const std::string pipeName = NewPipeName();
    if (pipeName.empty() || !MakePrivateTemp()) {
        ReleaseProfile();
        return EngineStatus::NotStarted;
    }

    Reference<css::uno::XComponentContext> local;
    try {
        local = LocalContext();
    } catch (...) {
        RemovePrivateTemp();
        ReleaseProfile();
        return EngineStatus::NotStarted;
    }

    auto deadline = steady_clock::now() + milliseconds(StartTimeoutMs());
    int restarts = 0;
    int pid = Spawn(pipeName, profile);
    if (pid <= 0) {
        RemovePrivateTemp();
        ReleaseProfile();
        return EngineStatus::NotStarted;
    }
    Adopt(pid, pipeName);
    const std::string socketPath = enginelist::PipeSocketPath(pipeName);

    Reference<css::uno::XComponentContext> remote;
    try {
        Reference<css::bridge::XUnoUrlResolver> resolver =
            css::bridge::UnoUrlResolver::create(local);
        rtl::OUString url = "uno:pipe,name=" + FromUtf8(pipeName) + ";urp;StarOffice.ComponentContext";
        while (!remote.is()) {
            // Connect only to a socket of ours: /tmp is shared, and whatever answers on the
            // pipe is trusted with every document.
            int sock = enginelist::PipeSocketState(socketPath);
            if (sock < 0)
                break;
            if (sock > 0) {
                try {
                    remote.set(resolver->resolve(url), css::uno::UNO_QUERY);
                    if (!remote.is())
                        break;
                } catch (const css::connection::NoConnectException&) {
                }
            }
            if (remote.is())
                break;
            int code = 0;
            if (WaitExit(pid, 0, &code)) {
                Unlist(pid);
                // A new profile makes the engine ask for one restart (exit code 81).
                if (code != 81 || ++restarts > 3) {
                    pid = 0;
                    break;
                }
                pid = Spawn(pipeName, profile);
                if (pid <= 0)
                    break;
                Adopt(pid, pipeName);
            }
            if (steady_clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(milliseconds(50));
        }
        if (remote.is()) {
            // Everything past the connection is bounded by the watchdog.
            st.pid = pid;
            WatchdogArm(StartTimeoutMs());
            bool blocked = BlockExternalContent(remote);
            Reference<css::frame::XDesktop2> desktop = css::frame::Desktop::create(remote);
            st.desktop.set(desktop, css::uno::UNO_QUERY_THROW);
            st.loader.set(desktop, css::uno::UNO_QUERY_THROW);
            if (WatchdogDisarm())
                throw css::uno::RuntimeException("engine start timed out");
            if (!blocked)
                throw css::uno::RuntimeException("external content could not be blocked");
        }
    } catch (const css::uno::Exception& e) {
        LogFailure("start", e.Message);
        WatchdogDisarm();
        remote.clear();
        st.desktop.clear();
        st.loader.clear();
    } catch (...) {
        WatchdogDisarm();
        remote.clear();
        st.desktop.clear();
        st.loader.clear();
    }
    if (!remote.is() || !st.desktop.is()) {
        if (pid > 0)
            KillAndReap(pid);
        st.pid = 0;
        RemovePrivateTemp();
        ReleaseProfile();
        return EngineStatus::NotStarted;
    }
    st.context = remote;
    st.pid = pid;
    st.alive = true;
    st.generation++;
    return EngineStatus::Ok;
}

void DropProxies()
{
    EngineState& st = State();
    // Releasing proxies of a dead link is harmless; of a live one it frees the remote side.
    try {
        st.loader.clear();
        st.desktop.clear();
        st.context.clear();
    } catch (...) {
    }
}

}  // namespace

void LogFailure(const char* what, const rtl::OUString& message)
{
    if (getenv("FOLIUM_ENGINE_VERBOSE"))
        fprintf(stderr, "wordserver: %s: %s\n", what, ToUtf8(message).c_str());
}

bool ProcessAlive()
{
    EngineState& st = State();
    if (st.pid <= 0)
        return false;
    int status = 0;
    pid_t r = waitpid(st.pid, &status, WNOHANG);
    return r == 0;
}

bool ProbeLink()
{
    EngineState& st = State();
    if (!st.alive || !st.context.is())
        return false;
    WatchdogArm(5000);
    bool ok = true;
    try {
        ok = st.context->getServiceManager().is();
    } catch (...) {
        ok = false;
    }
    if (WatchdogDisarm())
        ok = false;
    return ok;
}

void MarkDead()
{
    EngineState& st = State();
    int pid = st.pid;
    st.alive = false;
    ParkedClear();
    DropProxies();
    KillAndReap(pid);
    st.pid = 0;
    RemovePrivateTemp();
    ReleaseProfile();
}

std::string PrivateTempDir()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    return State().alive ? g_tempDir : std::string();
}

}  // namespace detail

using namespace detail;

const char* StatusName(EngineStatus s)
{
    switch (s) {
    case EngineStatus::Ok: return "Ok";
    case EngineStatus::NotFound: return "NotFound";
    case EngineStatus::LoadFailed: return "LoadFailed";
    case EngineStatus::NotStarted: return "NotStarted";
    case EngineStatus::Disconnected: return "Disconnected";
    case EngineStatus::TimedOut: return "TimedOut";
    case EngineStatus::BadArgument: return "BadArgument";
    case EngineStatus::Failed: return "Failed";
    }
    return "?";
}

int EngineCallTimeoutMs()
{
    const char* v = getenv("FOLIUM_ENGINE_TIMEOUT_MS");
    int ms = v ? atoi(v) : 0;
    return ms > 0 ? ms : 60000;
}

EngineStatus EngineEnsure()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    EngineState& st = State();
    if (st.alive && ProcessAlive())
        return EngineStatus::Ok;
    if (st.alive)
        MarkDead();
    return Start();
}

int EnginePid()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    return State().alive ? State().pid : 0;
}

int EngineGeneration()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    return State().generation;
}

void ClipboardClear();

void EngineShutdown()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    EngineState& st = State();
    ClipboardClear();
    ParkedClear();
    if (!st.alive) {
        if (st.pid > 0)
            MarkDead();
        return;
    }
    int pid = st.pid;
    // Ask the engine to end; the link drops while it does, which is expected.
    WatchdogArm(5000);
    try {
        if (st.desktop.is())
            st.desktop->terminate();
    } catch (...) {
    }
    WatchdogDisarm();
    st.alive = false;
    DropProxies();
    WaitExit(pid, 5000, nullptr);
    KillAndReap(pid);
    st.pid = 0;
    RemovePrivateTemp();
    ReleaseProfile();
}

void EngineAddRef()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    ++g_refs;
}

void EngineRelease()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    if (g_refs > 0 && --g_refs == 0)
        EngineShutdown();
}

}  // namespace wordengine
