#include "WinUtil.h"

#include <shellapi.h>

#include <climits>
#include <cstdio>
#include <sys/stat.h>

int GetModuleFolder(HMODULE hModule, char* szFolder)
{
    if (!szFolder)
        return 0;
    char szPath[MAX_PATH] = "";
    GetModuleFileNameA(hModule, szPath, MAX_PATH);
    char szDrive[_MAX_DRIVE], szDir[_MAX_DIR];
    _splitpath(szPath, szDrive, szDir, nullptr, nullptr);
    snprintf(szFolder, MAX_PATH, "%s%s", szDrive, szDir);
    return 1;
}

int GetFileLength(const char* szPath, int32_t* nSize)
{
    if (nSize)
        *nSize = 0;
    if (!szPath || !*szPath || !nSize)
        return 0;
    FILE* f = fopen(szPath, "r");
    if (!f)
        return 0;
    // fopen accepts a folder here, where the Windows runtime refuses it.
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || fseeko(f, 0, SEEK_END) != 0) {
        fclose(f);
        return 0;
    }
    off_t end = ftello(f);
    fclose(f);
    if (end < 0 || end > INT32_MAX)
        return 0;  // a size that does not fit the 32-bit count is a failure, not a wrapped number
    *nSize = (int32_t)end;
    return 1;
}

int GetFileTimeLocal(const char* szPath, int nKind, SYSTEMTIME* stTime)
{
    if (!stTime || nKind < 0 || nKind > 2 || !szPath)
        return 0;
    HANDLE hFile = CreateFileA(szPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return 0;
    FILETIME ftTimes[3];
    if (!GetFileTime(hFile, &ftTimes[0], &ftTimes[1], &ftTimes[2])) {
        CloseHandle(hFile);
        return 0;
    }
    FILETIME ftLocal;
    SYSTEMTIME st;
    int nResult = FileTimeToLocalFileTime(&ftTimes[nKind], &ftLocal) && FileTimeToSystemTime(&ftLocal, &st);
    if (nResult)
        *stTime = st;
    CloseHandle(hFile);
    return nResult;
}

int GetFileWriteTime(const char* szPath, SYSTEMTIME* stTime) { return GetFileTimeLocal(szPath, 2, stTime); }

int ShellOpen(const char* szTarget)
{
    if (!szTarget || !*szTarget)
        return 0;
    ShellExecuteA(nullptr, "open", szTarget, "", "", SW_SHOW);
    return 1;
}
