// The program's connection to the word processor: its application object, its Documents
// collection, the names of the temporary page documents, and the documents kept open for the
// single-document view.
#pragma once

#include <ole2.h>

#include <cstddef>

class CDispCmd;
class CxList;
class CxWordDoc;

class CxWordUtil {
public:
    // Creates the document list and starts the application; usable even when that fails.
    CxWordUtil();
    // Destroys the listed documents in opening order, releases the application, then
    // CoUninitialize once.
    virtual ~CxWordUtil();
    CxWordUtil(const CxWordUtil&) = delete;
    CxWordUtil& operator=(const CxWordUtil&) = delete;

    // Opens the file through the Documents collection; the document (one reference owned by the
    // caller) or null.
    IDispatch* OpenDocumentObject(const WCHAR* szPath);
    // Closes the document and releases the caller's reference; null does nothing.
    void CloseDocumentObject(IDispatch* pDoc);
    // "<temporary folder>[/]<base>_temp_<number><ext>" into szOut (nSize bytes, terminator
    // included). False for a null/empty source, null out, size 0, no or an empty temporary folder
    // or a name that does not fit (szOut then holds an empty string).
    static bool MakeTempName(const char* szSrc, char* szOut, int nSize, int nNumber);
    // The same name in the folder given ("<szFolder>[/]<base>_temp_<number><ext>").
    static bool MakeTempNameIn(const char* szFolder, const char* szSrc, char* szOut, int nSize, int nNumber);
    // The temporary folder: the caller's buffer of nSize bytes (the program's setting), read at
    // every use so that a changed setting takes effect. Null: none.
    static void SetTempFolder(const char* szFolder, size_t nSize);
    // The temporary folder set, or null when none is set or it is not terminated in its buffer.
    static const char* GetTempFolder();

    // The listed document of that path (letter case counting as the file system counts it), or a newly opened one added to the
    // list; null for a null/empty path or a document that fails to open.
    CxWordDoc* OpenDocument(const char* szPath);
    CxWordDoc* FindDocument(const char* szPath);
    void CloseAllDocuments();

    // Whether the application started (an application object is held).
    bool IsStarted() const { return m_pApp != nullptr; }

protected:
    bool StartApplication();
    void ReleaseApplication();

    IUnknown* m_pApp;
    CDispCmd* m_pAppDisp;
    CDispCmd* m_pDocuments;
    CxList* m_pDocList;
};
