// The user's folders hidden from the engine: which they are, which of their folders the
// engine still needs, and hiding them in the engine's own namespaces.
#include "EngineInternal.h"
#include "ProcessInternal.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace wordengine {
namespace detail {

namespace {

// The folders the running engine does not see (empty when it sees everything).
std::mutex g_hiddenMutex;
std::vector<std::string> g_hidden;

}  // namespace

// The folders a document could name that hold the user's files: the home folder and the
// usual places of other users' homes and of mounted media. Only folders that exist, never "/"
// nor one that holds the office suite itself, each once (not inside another), real paths.
std::vector<std::string> FoldersToHide()
{
    std::vector<std::string> candidates = {"/home", "/root", "/media", "/mnt", "/run/media", "/srv"};
    if (const char* home = getenv("HOME"))
        candidates.push_back(home);
    char buf[PATH_MAX];
    const std::string office = realpath(LO_PROGRAM_DIR, buf) ? buf : LO_PROGRAM_DIR;
    std::vector<std::string> out;
    for (const std::string& c : candidates) {
        struct stat sb;
        if (c.empty() || c[0] != '/' || !realpath(c.c_str(), buf) || stat(buf, &sb) != 0 || !S_ISDIR(sb.st_mode))
            continue;
        const std::string real = buf;
        if (real == "/" || (office + "/").compare(0, real.size() + 1, real + "/") == 0)
            continue;
        out.push_back(real);
    }
    std::sort(out.begin(), out.end());
    std::vector<std::string> roots;
    for (const std::string& f : out)
        if (roots.empty() || (f + "/").compare(0, roots.back().size() + 1, roots.back() + "/") != 0)
            roots.push_back(f);
    return roots;
}

// What the engine needs of the hidden folders: its private temporary folder and profile, and
// the folders its fonts come from (those the program adds, the user's own and their
// configuration). Real paths of folders that exist and lie inside one of roots.
std::vector<std::string> FoldersToKeep(const std::vector<std::string>& roots, const std::string& profile,
                                       const std::string& fontConfigBase)
{
    std::vector<std::string> wanted = {g_tempDir, profile};
    for (const std::string& f : ExtraFontFolders())
        wanted.push_back(f);
    const char* home = getenv("HOME");
    const char* data = getenv("XDG_DATA_HOME");
    const char* config = getenv("XDG_CONFIG_HOME");
    if (home && *home == '/') {
        wanted.push_back(std::string(home) + "/.fonts");
        wanted.push_back(std::string(home) + "/.local/share/fonts");
        wanted.push_back(std::string(home) + "/.config/fontconfig");
    }
    if (data && *data == '/')
        wanted.push_back(std::string(data) + "/fonts");
    if (config && *config == '/')
        wanted.push_back(std::string(config) + "/fontconfig");
    if (!fontConfigBase.empty())
        wanted.push_back(fontConfigBase);
    std::vector<std::string> out;
    char buf[PATH_MAX];
    for (const std::string& w : wanted) {
        struct stat sb;
        if (w.empty() || !realpath(w.c_str(), buf) || stat(buf, &sb) != 0 || !S_ISDIR(sb.st_mode))
            continue;
        const std::string real = buf;
        for (const std::string& r : roots)
            if ((real + "/").compare(0, r.size() + 1, r + "/") == 0 && real != r) {
                out.push_back(real);
                break;
            }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

namespace {

// Makes every folder of path (a real path inside a fresh tmpfs); async-signal-safe.
bool MakeFolders(const char* path)
{
    char buf[PATH_MAX];
    size_t n = strlen(path);
    if (n >= sizeof buf)
        return false;
    memcpy(buf, path, n + 1);
    for (size_t i = 1; i <= n; ++i) {
        if (buf[i] != '/' && buf[i] != '\0')
            continue;
        const char c = buf[i];
        buf[i] = '\0';
        if (mkdir(buf, 0700) != 0 && errno != EEXIST)
            return false;
        buf[i] = c;
    }
    return true;
}

}  // namespace

// In the engine's own user, mount and process namespaces (between fork and exec, so only
// system calls): its /proc shows its own processes alone (no /proc/<pid>/root of the user's
// other programs leads around what is hidden), an empty folder lies over each of hide, and
// keep (inside them) are put back. False when any step failed.
bool HideUserFolders(const std::vector<const char*>& hide, const std::vector<const char*>& keep, int* keepFds)
{
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
        return false;
    const unsigned kOpenTreeClone = 1, kRecursive = 0x8000, kEmptyPath = 0x4;
    for (size_t i = 0; i < keep.size(); ++i) {
        keepFds[i] = int(syscall(SYS_open_tree, AT_FDCWD, keep[i], kOpenTreeClone | kRecursive | O_CLOEXEC));
        if (keepFds[i] < 0)
            return false;
    }
    for (const char* h : hide)
        if (mount("tmpfs", h, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=1m") != 0)
            return false;
    for (size_t i = 0; i < keep.size(); ++i) {
        if (!MakeFolders(keep[i]) || syscall(SYS_move_mount, keepFds[i], "", AT_FDCWD, keep[i], kEmptyPath) != 0)
            return false;
        close(keepFds[i]);
    }
    return true;
}

void SetHiddenFolders(const std::vector<std::string>& folders)
{
    std::lock_guard<std::mutex> lock(g_hiddenMutex);
    g_hidden = folders;
}

bool HiddenFromEngine(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_hiddenMutex);
    if (g_hidden.empty())
        return false;
    // A file to be written need not exist yet: its folder decides. Unresolvable: hidden.
    char buf[PATH_MAX];
    std::string real;
    if (realpath(path.c_str(), buf))
        real = buf;
    else if (realpath(path.substr(0, path.find_last_of('/') + 1).c_str(), buf))
        real = buf;
    else
        return true;
    for (const std::string& h : g_hidden)
        if ((real + "/").compare(0, h.size() + 1, h + "/") == 0)
            return true;
    return false;
}

}  // namespace detail
}  // namespace wordengine
