// The engine process: start (private profile, private pipe), connect over UNO, bound every
// call with a watchdog, shut down, and keep the pid file that "taskkill" reads.
#include "EngineInternal.h"

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
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
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef LO_PROGRAM_DIR
#define LO_PROGRAM_DIR "/usr/lib/libreoffice/program"
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
                    kill(pid, SIGKILL);
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

// ---- pid file --------------------------------------------------------------------------

std::string PidFilePath()
{
    const char* dir = getenv("XDG_RUNTIME_DIR");
    std::string d = (dir && *dir) ? dir : "/tmp";
    return d + "/folium-engine-" + std::to_string(getuid()) + ".pids";
}

// Opens the pid file, refusing links and files of another user (it may sit in /tmp).
int OpenPidFile()
{
    int fd = open(PidFilePath().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    struct stat sb;
    if (fstat(fd, &sb) != 0 || sb.st_uid != getuid() || !S_ISREG(sb.st_mode)) {
        close(fd);
        return -1;
    }
    if (flock(fd, LOCK_EX) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string ReadAllFd(int fd)
{
    std::string s;
    char buf[4096];
    lseek(fd, 0, SEEK_SET);
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        s.append(buf, size_t(n));
    }
    return s;
}

void PidFileAdd(int pid)
{
    int fd = OpenPidFile();
    if (fd < 0)
        return;
    std::string line = std::to_string(pid) + "\n";
    lseek(fd, 0, SEEK_END);
    ssize_t w = write(fd, line.data(), line.size());
    (void)w;
    close(fd);
}

void PidFileRemove(int pid)
{
    int fd = OpenPidFile();
    if (fd < 0)
        return;
    std::string all = ReadAllFd(fd), kept;
    size_t pos = 0;
    while (pos < all.size()) {
        size_t nl = all.find('\n', pos);
        if (nl == std::string::npos)
            nl = all.size();
        std::string line = all.substr(pos, nl - pos);
        if (!line.empty() && atoi(line.c_str()) != pid)
            kept += line + "\n";
        pos = nl + 1;
    }
    if (ftruncate(fd, 0) == 0) {
        lseek(fd, 0, SEEK_SET);
        ssize_t w = write(fd, kept.data(), kept.size());
        (void)w;
    }
    close(fd);
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

// A profile folder that no other engine uses: profiles are reused (a warm profile starts
// in a fraction of the time of a new one), and one is locked while its engine runs.
std::string TakeProfile()
{
    std::string base = CacheDir() + "/folium-engine";
    if (!MakeDirs(base))
        return std::string();
    for (int i = 0; i < 64; ++i) {
        std::string dir = base + "/profile-" + std::to_string(i);
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
            continue;
        int fd = open((dir + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
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

// Starts soffice.bin itself (not the launcher script, whose child would escape the pid
// list). The engine dies with the thread that started it, so a crashed program leaves none.
int Spawn(const std::string& pipeName, const std::string& profile)
{
    std::string exe = std::string(LO_PROGRAM_DIR) + "/soffice.bin";
    std::string accept = "--accept=pipe,name=" + pipeName + ";urp;StarOffice.ComponentContext";
    std::string inst = "-env:UserInstallation=" + ToUtf8(FileUrl(profile));
    std::vector<std::string> args = {exe,       "--headless", "--invisible", "--norestore",
                                     "--nologo", "--nodefault", "--nolockcheck", accept, inst};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    bool quiet = getenv("FOLIUM_ENGINE_VERBOSE") == nullptr;
    pid_t parent = getpid();

    pid_t pid = fork();
    if (pid < 0)
        return 0;
    if (pid == 0) {
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
        for (int fd = 3; fd < 1024; ++fd)
            close(fd);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    return pid;
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
        kill(pid, SIGKILL);
        WaitExit(pid, 5000, nullptr);
    }
    PidFileRemove(pid);
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

std::atomic<unsigned> g_pipeCounter{0};

EngineStatus Start()
{
    EngineState& st = State();
    std::string profile = TakeProfile();
    if (profile.empty())
        return EngineStatus::NotStarted;

    Reference<css::uno::XComponentContext> local;
    try {
        local = LocalContext();
    } catch (const css::uno::Exception&) {
        ReleaseProfile();
        return EngineStatus::NotStarted;
    } catch (...) {
        ReleaseProfile();
        return EngineStatus::NotStarted;
    }

    std::string pipeName = "folium-" + std::to_string(getpid()) + "-" +
                           std::to_string(g_pipeCounter++) + "-" +
                           std::to_string(steady_clock::now().time_since_epoch().count() % 1000000007);
    auto deadline = steady_clock::now() + milliseconds(StartTimeoutMs());
    int restarts = 0;
    int pid = Spawn(pipeName, profile);
    if (pid <= 0) {
        ReleaseProfile();
        return EngineStatus::NotStarted;
    }
    PidFileAdd(pid);

    Reference<css::uno::XComponentContext> remote;
    try {
        Reference<css::bridge::XUnoUrlResolver> resolver =
            css::bridge::UnoUrlResolver::create(local);
        rtl::OUString url = "uno:pipe,name=" + FromUtf8(pipeName) + ";urp;StarOffice.ComponentContext";
        while (!remote.is()) {
            try {
                remote.set(resolver->resolve(url), css::uno::UNO_QUERY);
                if (!remote.is())
                    break;
            } catch (const css::connection::NoConnectException&) {
                int code = 0;
                if (WaitExit(pid, 0, &code)) {
                    PidFileRemove(pid);
                    // A new profile makes the engine ask for one restart (exit code 81).
                    if (code != 81 || ++restarts > 3) {
                        pid = 0;
                        break;
                    }
                    pid = Spawn(pipeName, profile);
                    if (pid <= 0)
                        break;
                    PidFileAdd(pid);
                }
                if (steady_clock::now() >= deadline)
                    break;
                std::this_thread::sleep_for(milliseconds(50));
            }
        }
        if (remote.is()) {
            // Everything past the connection is bounded by the watchdog.
            st.pid = pid;
            WatchdogArm(StartTimeoutMs());
            Reference<css::frame::XDesktop2> desktop = css::frame::Desktop::create(remote);
            st.desktop.set(desktop, css::uno::UNO_QUERY_THROW);
            st.loader.set(desktop, css::uno::UNO_QUERY_THROW);
            if (WatchdogDisarm())
                throw css::uno::RuntimeException("engine start timed out");
        }
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
    ReleaseProfile();
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
    if (!WaitExit(pid, 5000, nullptr))
        kill(pid, SIGKILL);
    KillAndReap(pid);
    st.pid = 0;
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
