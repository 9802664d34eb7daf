// The document list of the batch view.
#include "DocFileMgr.h"

#include "PictureLib.h"
#include "common/misc/WinUtil.h"

#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Whether two paths name the same entry as the file system tells names apart: letter case
// counts here (Report.doc and report.doc are two files), not on Windows.
bool SamePath(const char* a, const char* b)
{
#ifdef _WIN32
    return stricmp(a, b) == 0;
#else
    return strcmp(a, b) == 0;
#endif
}

}  // namespace

DocFileMgr::DocFileMgr()
{
    // Only a reference that was taken is given back: an unbalanced free would release
    // somebody else's.
    m_bPictureLib = PictureLibLoad() != 0;
}

DocFileMgr::~DocFileMgr()
{
    m_list.RemoveAll(true);  // records are calloc'ed
    if (m_bPictureLib)
        PictureLibFree();
}

bool DocFileMgr::AddFile(const char* szPath)
{
    if (!szPath || !*szPath)
        return false;
    if (strlen(szPath) >= sizeof(DocFileInfo::szPath))
        return false;
    if (access(szPath, 0) != 0)
        return false;
    if (HasFile(szPath))
        return true;
    auto* pInfo = static_cast<DocFileInfo*>(calloc(1, sizeof(DocFileInfo)));
    if (!pInfo)
        return false;
    strcpy(pInfo->szPath, szPath);
    GetFileLength(szPath, &pInfo->nSize);
    GetFileWriteTime(szPath, &pInfo->stModified);
    if (!m_list.Add(pInfo)) {
        free(pInfo);
        return false;
    }
    return true;
}

bool DocFileMgr::AddFolder(const char* szFolder)
{
    if (!szFolder)
        return false;
    size_t nLen = strlen(szFolder);
    const char* szSep = (nLen > 0 && szFolder[nLen - 1] == '/') ? "" : "/";
    char szPattern[MAX_PATH];
    int n = snprintf(szPattern, sizeof szPattern, "%s%s*.doc", szFolder, szSep);
    if (n < 0 || n >= (int)sizeof szPattern)
        return false;
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA(szPattern, &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return false;
    int nAdded = 0;
    do {
        // A folder named like a document is no document to convert.
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        char szPath[MAX_PATH];
        n = snprintf(szPath, sizeof szPath, "%s%s%s", szFolder, szSep, fd.cFileName);
        if (n < 0 || n >= (int)sizeof szPath)
            continue;  // a cut name would name another file
        if (AddFile(szPath))
            ++nAdded;
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    return nAdded > 0;
}

bool DocFileMgr::RemoveFile(DocFileInfo* pInfo)
{
    if (!pInfo)
        return false;
    if (!m_list.Remove(pInfo, false))
        return false;
    free(pInfo);
    return true;
}

bool DocFileMgr::HasFile(const char* szPath)
{
    if (!szPath)
        return false;
    for (auto* p = static_cast<DocFileInfo*>(m_list.GetFirst()); p; p = static_cast<DocFileInfo*>(m_list.GetNext()))
        if (SamePath(p->szPath, szPath))
            return true;
    return false;
}

int DocFileMgr::GetCount() const { return (int)m_list.GetCount(); }

DocFileInfo* DocFileMgr::GetAt(int nIndex)
{
    if (nIndex < 0)
        return nullptr;
    return static_cast<DocFileInfo*>(m_list.GetAt((uint32_t)nIndex));
}

DocFileInfo* DocFileMgr::GetNext() { return static_cast<DocFileInfo*>(m_list.GetNext()); }
