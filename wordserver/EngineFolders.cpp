// The engine's folders: its private temporary folder and the profile folders it reuses.
#include "EngineInternal.h"
#include "EnginePlaces.h"
#include "ProcessInternal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace wordengine {
namespace detail {

namespace {

int g_profileLockFd = -1;  // flock held on the profile in use

}  // namespace

// The engine's private temporary folder and the flock that marks it in use (the engine
// holds it too, so the folder counts as stale only once both are gone).
std::string g_tempDir;
int g_tempLockFd = -1;

namespace {

// ---- private temporary folder -------------------------------------------------------

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

}  // namespace

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

// A profile folder that no other engine uses: profiles are reused (a warm profile starts
// in a fraction of the time of a new one), and one is locked while its engine runs. Where
// the user has no place for them (a service account), a new one in the private temporary
// folder, which goes with the engine.
std::string TakeProfile()
{
    const std::string base = ProfileBase();
    if (base.empty()) {
        if (g_tempDir.empty())
            return std::string();
        const std::string dir = g_tempDir + "/profile";
        return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST ? dir : std::string();
    }
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

std::string PrivateTempDir()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    return State().alive ? g_tempDir : std::string();
}

namespace {

// A new folder in the private temporary folder: empty when none could be made.
std::string NewSlot(const char* kind)
{
    static unsigned counter = 0;
    const std::string dir = PrivateTempDir();
    if (dir.empty())
        return std::string();
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string slot = dir + "/" + kind + "-" + std::to_string(++counter);
        if (mkdir(slot.c_str(), 0700) == 0)
            return slot;
        if (errno != EEXIST)
            break;
    }
    return std::string();
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Copies the whole file; the copy is removed when it could not be completed.
bool CopyFile(const std::string& from, const std::string& to, mode_t mode)
{
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    bool ok = out >= 0;
    char buf[65536];
    while (ok) {
        const ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = write(out, buf + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            ok = w > 0;
            done += w > 0 ? w : 0;
        }
    }
    close(in);
    if (out >= 0 && close(out) != 0)
        ok = false;
    if (!ok && out >= 0)
        unlink(to.c_str());
    return ok;
}

}  // namespace

std::string HandIn(const std::string& path)
{
    const std::string slot = NewSlot("in");
    if (slot.empty())
        return std::string();
    const std::string handed = slot + "/" + BaseName(path);
    if (link(path.c_str(), handed.c_str()) == 0 || CopyFile(path, handed, 0600))
        return handed;
    rmdir(slot.c_str());
    return std::string();
}

void HandBack(const std::string& handed)
{
    if (handed.empty())
        return;
    unlink(handed.c_str());
    rmdir(handed.substr(0, handed.find_last_of('/')).c_str());
}

std::string Outbox(const std::string& path)
{
    const std::string slot = NewSlot("out");
    return slot.empty() ? std::string() : slot + "/" + BaseName(path);
}

bool Deliver(const std::string& written, const std::string& path)
{
    bool ok = rename(written.c_str(), path.c_str()) == 0;
    if (!ok && errno == EXDEV)
        ok = CopyFile(written, path, 0600);
    HandBack(written);
    return ok;
}

}  // namespace detail
}  // namespace wordengine
