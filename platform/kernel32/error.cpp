// Last-error code per thread, and the errno mapping used by the kernel functions.
#include "kernel_private.h"

#include <cerrno>

static thread_local DWORD t_lastError = ERROR_SUCCESS;

DWORD WINAPI GetLastError(void) { return t_lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

namespace platform {

void SetLastErrorFromErrno(int err)
{
    DWORD code;
    switch (err) {
    case ENOENT: code = ERROR_FILE_NOT_FOUND; break;
    case ENOTDIR: code = ERROR_PATH_NOT_FOUND; break;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: code = ERROR_ACCESS_DENIED; break;
    case EEXIST: code = ERROR_FILE_EXISTS; break;
    case ENOMEM: code = ERROR_NOT_ENOUGH_MEMORY; break;
    case EWOULDBLOCK: code = ERROR_SHARING_VIOLATION; break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: code = ERROR_DISK_FULL; break;
    case ENAMETOOLONG:
    case EINVAL: code = ERROR_INVALID_PARAMETER; break;
    default: code = ERROR_ACCESS_DENIED; break;
    }
    t_lastError = code;
}

}  // namespace platform
