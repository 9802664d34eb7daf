// Files: open with share modes, times, copy, delete.
#include "kernel_private.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

FILETIME FileTimeFromTimespec(const struct timespec& ts)
{
    // 100 ns intervals between 1601-01-01 and 1970-01-01.
    const int64_t kEpochDelta = 116444736000000000LL;
    int64_t v = (int64_t)ts.tv_sec * 10000000LL + ts.tv_nsec / 100 + kEpochDelta;
    if (v < 0)
        v = 0;
    FILETIME ft;
    ft.dwLowDateTime = (DWORD)((uint64_t)v & 0xffffffffu);
    ft.dwHighDateTime = (DWORD)((uint64_t)v >> 32);
    return ft;
}

}  // namespace platform

using namespace platform;

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD dwFlags, HANDLE)
{
    if (!lpFileName || !*lpFileName) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // O_NONBLOCK only for the open itself: opening a FIFO for writing would wait for a reader.
    int flags = O_CLOEXEC | O_NONBLOCK;
    bool read = (dwDesiredAccess & GENERIC_READ) != 0, write = (dwDesiredAccess & GENERIC_WRITE) != 0;
    flags |= (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    const bool noFollow = (dwFlags & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    if (noFollow)
        flags |= O_NOFOLLOW;
    bool truncate = false;
    switch (dwCreationDisposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT; truncate = true; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: truncate = true; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    int fd = open(lpFileName, flags, 0666);
    if (fd < 0) {
        SetLastErrorFromErrno(errno == ELOOP ? EACCES : errno);
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || (noFollow && !S_ISREG(st.st_mode))) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);  // folders need backup semantics on Windows
        return INVALID_HANDLE_VALUE;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // Share modes as advisory locks: no sharing takes an exclusive lock, read sharing a
    // shared one, so handles (and other processes that lock) exclude each other.
    int lockOp = (dwShareMode & (FILE_SHARE_WRITE | FILE_SHARE_DELETE)) ? 0
                 : (dwShareMode & FILE_SHARE_READ)                      ? LOCK_SH
                                                                         : LOCK_EX;
    if (lockOp && flock(fd, lockOp | LOCK_NB) != 0) {
        close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    if (truncate && S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) {
        SetLastErrorFromErrno(errno);
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    auto* obj = new FileObject;
    obj->type = KernelObjectType::File;
    obj->fd = fd;
    return RegisterHandle(obj);
}

BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime, LPFILETIME lpLastWriteTime)
{
    auto* obj = static_cast<FileObject*>(LookupHandle(hFile, KernelObjectType::File));
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    struct statx sx;
    if (statx(obj->fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    auto ts = [](const struct statx_timestamp& t) {
        struct timespec s;
        s.tv_sec = t.tv_sec;
        s.tv_nsec = t.tv_nsec;
        return FileTimeFromTimespec(s);
    };
    if (lpCreationTime)
        *lpCreationTime = (sx.stx_mask & STATX_BTIME) ? ts(sx.stx_btime) : ts(sx.stx_ctime);
    if (lpLastAccessTime)
        *lpLastAccessTime = ts(sx.stx_atime);
    if (lpLastWriteTime)
        *lpLastWriteTime = ts(sx.stx_mtime);
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPVOID)
{
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    auto* obj = static_cast<FileObject*>(LookupHandle(hFile, KernelObjectType::File));
    if (!obj) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!lpBuffer && nNumberOfBytesToWrite) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const char* p = static_cast<const char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        ssize_t n = write(obj->fd, p + done, nNumberOfBytesToWrite - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            SetLastErrorFromErrno(n == 0 ? ENOSPC : errno);
            if (lpNumberOfBytesWritten)
                *lpNumberOfBytesWritten = done;
            return FALSE;
        }
        done += (DWORD)n;
    }
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = done;
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    auto* obj = static_cast<FileObject*>(LookupHandle(hObject, KernelObjectType::File));
    if (!obj || !UnregisterHandle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    close(obj->fd);  // also drops the share lock
    delete obj;
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName)
{
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct stat st;
    if (lstat(lpFileName, &st) == 0 && S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(lpFileName) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists)
{
    if (!lpExistingFileName || !lpNewFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int in = open(lpExistingFileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // a FIFO is refused below, not waited on
    if (in < 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    struct stat st;
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(in);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // The new name is never followed through a link, and only a regular file there is
    // replaced (truncated once it is known to be one): a link planted at the name cannot
    // make the copy overwrite the file it points at.
    int out = open(lpNewFileName, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (bFailIfExists ? O_EXCL : 0),
                   st.st_mode & 0777);
    if (out < 0) {
        SetLastErrorFromErrno(errno == ELOOP ? EACCES : errno);
        close(in);
        return FALSE;
    }
    struct stat outSt;
    if (fstat(out, &outSt) != 0 || !S_ISREG(outSt.st_mode) || ftruncate(out, 0) != 0) {
        close(out);
        close(in);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    fcntl(out, F_SETFL, fcntl(out, F_GETFL) & ~O_NONBLOCK);
    char buf[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        for (ssize_t off = 0; off < n;) {
            ssize_t w = write(out, buf + off, (size_t)(n - off));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            off += w;
        }
        if (!ok)
            break;
    }
    if (ok) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};  // CopyFile keeps the write time
        futimens(out, times);
    }
    close(in);
    if (close(out) != 0)
        ok = false;
    if (!ok) {
        unlink(lpNewFileName);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags)
{
    if (!lpExistingFileName || !lpNewFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct stat st;
    if (!(dwFlags & MOVEFILE_REPLACE_EXISTING) && lstat(lpNewFileName, &st) == 0) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (rename(lpExistingFileName, lpNewFileName) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}
