// The shell's "open" verb through the desktop's opener.
#include <shellapi.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

HINSTANCE WINAPI ShellExecuteA(HWND, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR, LPCSTR, INT)
{
    if (!lpFile || !*lpFile)
        return reinterpret_cast<HINSTANCE>((INT_PTR)SE_ERR_FNF);
    if (lpOperation && *lpOperation && strcasecmp(lpOperation, "open") != 0)
        return reinterpret_cast<HINSTANCE>((INT_PTR)SE_ERR_NOASSOC);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);  // its own session: our signals stay ours
    char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(lpFile), nullptr};
    pid_t pid = 0;
    int err = posix_spawnp(&pid, "xdg-open", nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    if (err != 0)
        return reinterpret_cast<HINSTANCE>((INT_PTR)SE_ERR_NOASSOC);
    // Reap the opener in the background so the caller never waits and no zombie stays.
    std::thread([pid] {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return reinterpret_cast<HINSTANCE>((INT_PTR)42);
}
