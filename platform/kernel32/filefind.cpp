// File search with Windows matching rules.
#include "kernel_private.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace platform {

bool WildMatch(const char* pat, const char* name)
{
    const char* starPat = nullptr;
    const char* starName = nullptr;
    while (*name) {
        if (*pat == '*') {
            starPat = ++pat;
            starName = name;
        } else if (*pat == '?' || (*pat && tolower((unsigned char)*pat) == tolower((unsigned char)*name))) {
            ++pat;
            ++name;
        } else if (starPat) {
            pat = starPat;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*pat == '*')
        ++pat;
    return *pat == '\0';
}

bool NameMatches(const char* pattern, const char* name)
{
    if (WildMatch(pattern, name))
        return true;
    const char* dot = strrchr(name, '.');
    if (!dot || dot == name || strlen(dot + 1) <= 3)
        return false;
    std::string shortForm(name, (size_t)(dot - name) + 4);
    return WildMatch(pattern, shortForm.c_str());
}

}  // namespace platform

namespace {

bool FillFindData(const std::string& folder, const char* name, LPWIN32_FIND_DATAA data)
{
    size_t len = strlen(name);
    if (len >= MAX_PATH)
        return false;  // cannot be represented in the record
    struct stat st;
    if (stat((folder + name).c_str(), &st) != 0)
        return false;
    memset(data, 0, sizeof *data);
    DWORD attr = 0;
    if (S_ISDIR(st.st_mode))
        attr |= FILE_ATTRIBUTE_DIRECTORY;
    if (!(st.st_mode & S_IWUSR))
        attr |= FILE_ATTRIBUTE_READONLY;
    if (name[0] == '.' && strcmp(name, ".") && strcmp(name, ".."))
        attr |= FILE_ATTRIBUTE_HIDDEN;
    data->dwFileAttributes = attr ? attr : FILE_ATTRIBUTE_NORMAL;
    data->ftCreationTime = platform::FileTimeFromTimespec(st.st_ctim);
    data->ftLastAccessTime = platform::FileTimeFromTimespec(st.st_atim);
    data->ftLastWriteTime = platform::FileTimeFromTimespec(st.st_mtim);
    uint64_t size = S_ISDIR(st.st_mode) ? 0 : (uint64_t)st.st_size;
    data->nFileSizeHigh = (DWORD)(size >> 32);
    data->nFileSizeLow = (DWORD)(size & 0xffffffffu);
    memcpy(data->cFileName, name, len + 1);
    return true;
}

bool NextMatch(platform::FindObject* find, LPWIN32_FIND_DATAA data)
{
    while (struct dirent* ent = readdir(find->dir)) {
        if (platform::NameMatches(find->pattern.c_str(), ent->d_name) && FillFindData(find->folder, ent->d_name, data))
            return true;
    }
    return false;
}

}  // namespace

using namespace platform;

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData)
{
    if (!lpFileName || !lpFindFileData || !*lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path(lpFileName);
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
    std::string pattern = slash == std::string::npos ? path : path.substr(slash + 1);
    if (pattern.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto* find = new FindObject;
    find->type = KernelObjectType::Find;
    find->dir = dir;
    find->folder = folder;
    find->pattern = pattern;
    if (!NextMatch(find, lpFindFileData)) {
        closedir(dir);
        delete find;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return RegisterHandle(find);
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData)
{
    auto* find = static_cast<FindObject*>(LookupHandle(hFindFile, KernelObjectType::Find));
    if (!find || !lpFindFileData) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!NextMatch(find, lpFindFileData)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile)
{
    auto* find = static_cast<FindObject*>(LookupHandle(hFindFile, KernelObjectType::Find));
    if (!find || !UnregisterHandle(hFindFile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    closedir(find->dir);
    delete find;
    return TRUE;
}
