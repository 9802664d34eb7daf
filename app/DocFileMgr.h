// The documents collected for a batch run: one record per document, in the order added, with
// the size and last-write time taken when it was added. The list holds the program's
// reference on the image library while it exists.
#pragma once

#include <windows.h>

#include "common/misc/CxList.h"

struct DocFileInfo {
    char szPath[MAX_PATH];   // as given, letter case kept
    int32_t nSize;           // bytes when added; 0 when unreadable
    SYSTEMTIME stModified;   // local last-write time when added; all zero when unreadable
};

class DocFileMgr {
public:
    // Takes the image library (PictureLibLoad).
    DocFileMgr();
    // Frees the records still listed and gives the library back.
    ~DocFileMgr();
    DocFileMgr(const DocFileMgr&) = delete;
    DocFileMgr& operator=(const DocFileMgr&) = delete;

    // True when added or already listed (the same path, letter case counting as the file
    // system counts it); false for a null or empty
    // path, a path too long for a record, or one naming nothing that exists.
    bool AddFile(const char* szPath);
    // Adds the files of the folder matching "*.doc" (the platform's matching: any case, and
    // .docx too); sub-folders are neither searched nor listed. True when any was accepted.
    bool AddFolder(const char* szFolder);
    // Unlinks and frees a record of this list; false for null or a record not listed.
    bool RemoveFile(DocFileInfo* pInfo);
    bool HasFile(const char* szPath);
    int GetCount() const;
    // The record at nIndex (null past the end); GetNext continues from it. AddFile and
    // HasFile move the list's cursor, so a walk does not survive them.
    DocFileInfo* GetAt(int nIndex);
    DocFileInfo* GetNext();

private:
    CxList m_list;
    bool m_bPictureLib;
};
