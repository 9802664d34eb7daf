// Clean-up of the temporary folder at exit.
#include "TempFolder.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>

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
