// The private folders of the temporary documents and their clean-up.
#include "word/TempFolder.h"

#include <windows.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

bool IsTempDocumentName(const char* szName)
{
    if (!szName)
        return false;
    const char* szDot = strrchr(szName, '.');
    if (!szDot || (stricmp(szDot, ".doc") != 0 && stricmp(szDot, ".docx") != 0))
        return false;
    // Digits right before the extension, "_temp_" right before them.
    const char* p = szDot;
    while (p > szName && isdigit((unsigned char)p[-1]))
        --p;
    if (p == szDot)
        return false;
    static const char kTag[] = "_temp_";
    const size_t nTag = sizeof kTag - 1;
    return (size_t)(p - szName) >= nTag && strncmp(p - nTag, kTag, nTag) == 0;
}

int DeleteTempDocuments(const char* szFolder)
{
    if (!szFolder || !*szFolder)
        return 0;
    size_t nLen = strlen(szFolder);
    const char* szSep = szFolder[nLen - 1] == '/' ? "" : "/";
    char szPattern[MAX_PATH];
    int n = snprintf(szPattern, sizeof szPattern, "%s%s*.doc", szFolder, szSep);
    if (n < 0 || n >= (int)sizeof szPattern)
        return 0;
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA(szPattern, &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return 0;
    int nDeleted = 0;
    do {
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsTempDocumentName(fd.cFileName))
            continue;
        char szPath[MAX_PATH];
        n = snprintf(szPath, sizeof szPath, "%s%s%s", szFolder, szSep, fd.cFileName);
        if (n > 0 && n < (int)sizeof szPath && DeleteFileA(szPath))
            ++nDeleted;
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    return nDeleted;
}

namespace {

const char kRunPrefix[] = "folium-";
const char kLockName[] = ".lock";

struct RunFolder {
    std::string parent;  // the temporary folder, without a trailing '/'
    std::string path;    // the private folder, without a trailing '/'
    int nLockFd;         // holds the flock while the run lives
};

std::vector<RunFolder>& Runs()
{
    static std::vector<RunFolder> runs;
    return runs;
}

std::string ParentOf(const char* szTempPath)
{
    std::string parent = szTempPath ? szTempPath : "";
    while (parent.size() > 1 && parent.back() == '/')
        parent.pop_back();
    return parent;
}

bool CopyOut(const std::string& path, char* szOut, int nSize)
{
    int n = snprintf(szOut, (size_t)nSize, "%s/", path.c_str());
    if (n < 0 || n >= nSize) {
        szOut[0] = '\0';
        return false;
    }
    return true;
}

// "folium-<pid>-XXXXXX": the pid, or 0 for any other name.
pid_t RunFolderPid(const char* szName)
{
    const size_t nPrefix = sizeof kRunPrefix - 1;
    if (strncmp(szName, kRunPrefix, nPrefix) != 0 || !isdigit((unsigned char)szName[nPrefix]))
        return 0;
    char* szEnd = nullptr;
    const long nPid = strtol(szName + nPrefix, &szEnd, 10);
    if (*szEnd != '-' || nPid <= 0 || nPid > 0x7fffffffL || strlen(szEnd + 1) != 6)
        return 0;
    for (const char* p = szEnd + 1; *p; ++p)
        if (!isalnum((unsigned char)*p))
            return 0;
    return (pid_t)nPid;
}

// A folder of this user that nobody else may enter, reached without following a link.
bool IsPrivateFolder(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

// Empties and removes a private folder of a run: the temporary documents of its document
// folders, those folders, its lock file, itself. Anything else keeps its folder.
bool RemoveRunFolder(const std::string& path)
{
    if (!IsPrivateFolder(path))
        return false;
    if (DIR* dir = opendir(path.c_str())) {
        std::vector<std::string> subs;
        while (dirent* e = readdir(dir)) {
            const char* n = e->d_name;
            if (n[0] == 'd' && n[1] && strspn(n + 1, "0123456789") == strlen(n + 1))
                subs.push_back(path + "/" + n);
        }
        closedir(dir);
        for (const std::string& sub : subs) {
            if (!IsPrivateFolder(sub))
                continue;
            DeleteTempDocuments(sub.c_str());
            rmdir(sub.c_str());
        }
    }
    const std::string lock = path + "/" + kLockName;
    struct stat st;
    if (lstat(lock.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        unlink(lock.c_str());
    return rmdir(path.c_str()) == 0;
}

}  // namespace

bool GetRunTempFolder(const char* szTempPath, char* szOut, int nSize)
{
    if (!szTempPath || !*szTempPath || !szOut || nSize <= 0)
        return false;
    szOut[0] = '\0';
    const std::string parent = ParentOf(szTempPath);
    std::vector<RunFolder>& runs = Runs();
    for (size_t i = 0; i < runs.size(); ++i) {
        if (runs[i].parent != parent)
            continue;
        if (IsPrivateFolder(runs[i].path))
            return CopyOut(runs[i].path, szOut, nSize);
        // Removed under us: a new one is made below.
        close(runs[i].nLockFd);
        runs.erase(runs.begin() + (long)i);
        break;
    }
    // The process id in the name tells a later clean-up that this run lives even before the
    // lock is taken.
    std::string tmpl = parent + "/" + kRunPrefix + std::to_string(getpid()) + "-XXXXXX";
    if (tmpl.size() + 2 > (size_t)MAX_PATH)
        return false;
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        return false;
    const std::string path = buf.data();
    const int fd = open((path + "/" + kLockName).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (fd >= 0)
            close(fd);
        RemoveRunFolder(path);
        return false;
    }
    runs.push_back(RunFolder{parent, path, fd});
    return CopyOut(path, szOut, nSize);
}

bool MakeDocumentTempFolder(const char* szTempPath, char* szOut, int nSize)
{
    static unsigned s_nFolders = 0;
    char szRun[MAX_PATH];
    if (!szOut || nSize <= 0 || !GetRunTempFolder(szTempPath, szRun, sizeof szRun))
        return false;
    for (int nTry = 0; nTry < 1000; ++nTry) {
        const std::string path = std::string(szRun) + "d" + std::to_string(++s_nFolders);
        if (mkdir(path.c_str(), 0700) == 0)
            return CopyOut(path, szOut, nSize);
        if (errno != EEXIST)
            break;
    }
    szOut[0] = '\0';
    return false;
}

int CleanTempFolders(const char* szTempPath)
{
    int nRemoved = 0;
    for (const RunFolder& run : Runs()) {
        nRemoved += RemoveRunFolder(run.path);
        close(run.nLockFd);
    }
    Runs().clear();
    if (!szTempPath || !*szTempPath)
        return nRemoved;
    // Folders of earlier runs: removed only when no live process holds them.
    const std::string parent = ParentOf(szTempPath);
    DIR* dir = opendir(parent.c_str());
    if (!dir)
        return nRemoved;
    std::vector<std::string> names;
    while (dirent* e = readdir(dir))
        if (RunFolderPid(e->d_name))
            names.push_back(e->d_name);
    closedir(dir);
    for (const std::string& name : names) {
        const std::string path = parent + "/" + name;
        if (!IsPrivateFolder(path))
            continue;
        const int fd = open((path + "/" + kLockName).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        bool bStale;
        if (fd >= 0)
            bStale = flock(fd, LOCK_EX | LOCK_NB) == 0;  // held while the removal runs
        else
            bStale = errno == ENOENT && kill(RunFolderPid(name.c_str()), 0) != 0 && errno == ESRCH;
        if (bStale)
            nRemoved += RemoveRunFolder(path);
        if (fd >= 0)
            close(fd);
    }
    return nRemoved;
}
