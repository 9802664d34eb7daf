// Where the engine keeps its things (see EnginePlaces.h).
#include "EnginePlaces.h"

#include "EngineVersion.h"
#include "ProcessInternal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace wordengine {

namespace {

// Free space an engine needs where it keeps its profile and temporary files.
const unsigned long long kNeedBytes = 32ull << 20;

std::string Absolute(const char* value)
{
    std::string path = value && *value == '/' ? value : "";
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// Makes the folders of rel (0700) one by one below root, an existing folder of this user's
// that the user may write; false when root is not that or a folder cannot be made.
bool MakeBelow(const std::string& root, const std::string& rel)
{
    struct stat sb;
    if (root.size() < 2 || stat(root.c_str(), &sb) != 0 || !S_ISDIR(sb.st_mode) || sb.st_uid != getuid() ||
        access(root.c_str(), W_OK | X_OK) != 0)
        return false;
    std::string cur = root;
    for (size_t pos = 0; pos < rel.size();) {
        size_t end = rel.find('/', pos);
        if (end == std::string::npos)
            end = rel.size();
        cur += "/" + rel.substr(pos, end - pos);
        if (mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        pos = end + 1;
    }
    return true;
}

// Why nothing can be written in dir (a folder is made and removed again); empty when it can.
std::string CannotWrite(const std::string& dir)
{
    std::string tmpl = dir + "/.folium-probe-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data()))
        return strerror(errno);
    rmdir(buf.data());
    return std::string();
}

// Why dir will not do for the engine's files; empty when it will.
std::string Unusable(const char* what, const std::string& dir)
{
    const std::string why = CannotWrite(dir);
    if (!why.empty())
        return std::string("the ") + what + " cannot be written: " + dir + ": " + why;
    struct statvfs vfs;
    if (statvfs(dir.c_str(), &vfs) == 0) {
        const unsigned long long free = (unsigned long long)vfs.f_bavail * vfs.f_frsize;
        if (free < kNeedBytes)
            return std::string("too little free space in the ") + what + " " + dir + ": " +
                   std::to_string(free >> 20) + " MB free, the document engine needs " +
                   std::to_string(kNeedBytes >> 20) + " MB";
    }
    return std::string();
}

}  // namespace

bool PrivateFolder(const std::string& path)
{
    struct stat sb;
    return lstat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode) && sb.st_uid == getuid() &&
           (sb.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string TempBase()
{
    const std::string t = Absolute(getenv("TMPDIR"));
    return t.empty() ? "/tmp" : t;
}

std::string ProfileBase()
{
    std::string root = Absolute(getenv("XDG_CACHE_HOME"));
    std::string rel = "folium-engine";
    if (root.empty()) {
        root = Absolute(getenv("HOME"));
        if (root.empty()) {
            const struct passwd* pw = getpwuid(getuid());
            root = Absolute(pw ? pw->pw_dir : nullptr);
        }
        rel = ".cache/folium-engine";
    }
    if (!MakeBelow(root, rel))
        return std::string();
    const std::string base = root + "/" + rel;
    return PrivateFolder(base) ? base : std::string();
}

std::string RuntimeFolder()
{
    const std::string xdg = Absolute(getenv("XDG_RUNTIME_DIR"));
    if (!xdg.empty() && PrivateFolder(xdg) && access(xdg.c_str(), W_OK | X_OK) == 0)
        return xdg;
    const std::string dir = TempBase() + "/folium-run-" + std::to_string(getuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return std::string();
    return PrivateFolder(dir) ? dir : std::string();
}

std::string EngineStartProblem()
{
    const std::string exe = std::string(LO_PROGRAM_DIR) + "/soffice.bin";
    if (access(exe.c_str(), X_OK) != 0)
        return "the office suite (LibreOffice Writer) is missing or cannot be run: " + exe + ": " +
               strerror(errno);
    const EngineVersionInfo engine = InstalledEngine();
    std::string why = EngineVersionProblem(engine.name, engine.version, NeededEngineVersion());
    if (!why.empty())
        return why;
    why = Unusable("temporary folder", TempBase());
    const std::string profiles = ProfileBase();
    if (why.empty() && !profiles.empty())
        why = Unusable("engine's profile folder", profiles);
    return why;
}

}  // namespace wordengine
