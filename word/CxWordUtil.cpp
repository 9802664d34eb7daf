// The word-processor application instance and its list of open documents.
#include "word/CxWordUtil.h"

#include "common/misc/CxList.h"
#include "word/CDispCmd.h"
#include "word/CxWordDoc.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Whether two paths name the same entry as the file system tells names apart: letter case
// counts here (Report.doc and report.doc are two documents), not on Windows.
bool SamePath(const char* a, const char* b)
{
#ifdef _WIN32
    return stricmp(a, b) == 0;
#else
    return std::strcmp(a, b) == 0;
#endif
}

} // namespace

CxWordUtil::CxWordUtil() : m_pApp(nullptr), m_pAppDisp(nullptr), m_pDocuments(nullptr), m_pDocList(new CxList)
{
    StartApplication();
}

CxWordUtil::~CxWordUtil()
{
    // Documents go first, while the application is still referenced.
    CloseAllDocuments();
    ReleaseApplication();
    delete m_pDocList;
    m_pDocList = nullptr;
    CoUninitialize();
}

bool CxWordUtil::StartApplication()
{
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(u"Word.Application", &clsid)))
        return false;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                IID_IUnknown, reinterpret_cast<void**>(&m_pApp))) ||
        !m_pApp) {
        m_pApp = nullptr;
        ReleaseApplication();
        return false;
    }
    IDispatch* pDisp = nullptr;
    if (FAILED(m_pApp->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pDisp))) || !pDisp) {
        ReleaseApplication();
        return false;
    }
    m_pAppDisp = new CDispCmd(pDisp);
    IDispatch* pDocs = nullptr;
    if (m_pAppDisp->GetPropertyDispatch(u"Documents", &pDocs) == 0 && pDocs)
        m_pDocuments = new CDispCmd(pDocs);
    // Without a Documents collection the instance goes on: loading by embedding still works.
    return true;
}

void CxWordUtil::ReleaseApplication()
{
    if (m_pDocuments) {
        if (IDispatch* p = m_pDocuments->GetDispatch())
            p->Release(); // the property get's reference
        delete m_pDocuments;
        m_pDocuments = nullptr;
    }
    if (m_pAppDisp) {
        if (IDispatch* p = m_pAppDisp->GetDispatch())
            p->Release(); // the QueryInterface reference
        delete m_pAppDisp;
        m_pAppDisp = nullptr;
    }
    if (m_pApp) {
        m_pApp->Release();
        m_pApp = nullptr;
    }
}

IDispatch* CxWordUtil::OpenDocumentObject(const WCHAR* szPath)
{
    if (!m_pAppDisp || !m_pDocuments || !szPath)
        return nullptr;
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocString(szPath);
    if (!arg.bstrVal)
        return nullptr;
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = m_pDocuments->Call(u"Open", &arg, 1, &result, DISPATCH_METHOD, nullptr, 0);
    SysFreeString(arg.bstrVal);
    if (FAILED(hr))
        return nullptr;
    if (result.vt != VT_DISPATCH || !result.pdispVal) {
        VariantClear(&result); // whatever else came back is not kept
        return nullptr;
    }
    return result.pdispVal;
}

void CxWordUtil::CloseDocumentObject(IDispatch* pDoc)
{
    if (!pDoc)
        return;
    {
        CDispCmd doc(pDoc);
        doc.Call(u"Close", nullptr, 0, nullptr, DISPATCH_METHOD, nullptr, 0);
        pDoc->Release(); // the caller's reference; the wrapper releases its own
    }
}

namespace {
const char* g_szTempFolder = nullptr;
size_t g_nTempFolderSize = 0;
}  // namespace

void CxWordUtil::SetTempFolder(const char* szFolder, size_t nSize)
{
    g_szTempFolder = szFolder && nSize > 0 ? szFolder : nullptr;
    g_nTempFolderSize = g_szTempFolder ? nSize : 0;
}

const char* CxWordUtil::GetTempFolder()
{
    if (!g_szTempFolder || strnlen(g_szTempFolder, g_nTempFolderSize) >= g_nTempFolderSize)
        return nullptr;
    return g_szTempFolder;
}

bool CxWordUtil::MakeTempName(const char* szSrc, char* szOut, int nSize, int nNumber)
{
    const char* szFolder = GetTempFolder();
    if (!szFolder) {
        if (szOut && nSize > 0)
            szOut[0] = 0;
        return false;
    }
    return MakeTempNameIn(szFolder, szSrc, szOut, nSize, nNumber);
}

bool CxWordUtil::MakeTempNameIn(const char* szFolder, const char* szSrc, char* szOut, int nSize, int nNumber)
{
    if (!szSrc || !*szSrc || !szOut || nSize <= 0)
        return false;
    szOut[0] = 0;
    const char* szTemp = szFolder ? szFolder : "";
    const size_t nTemp = strnlen(szTemp, MAX_PATH);
    if (nTemp == 0 || nTemp >= MAX_PATH)
        return false;

    // Base name and extension (with its dot) of the source; its folder takes no part.
    const char* szName = std::strrchr(szSrc, '/');
    szName = szName ? szName + 1 : szSrc;
    const char* szDot = std::strrchr(szName, '.');
    const std::string base = szDot ? std::string(szName, size_t(szDot - szName)) : std::string(szName);
    const char* szExt = szDot ? szDot : "";

    const char* szSep = szTemp[nTemp - 1] == '/' ? "" : "/";
    const int n = std::snprintf(szOut, size_t(nSize), "%.*s%s%s_temp_%d%s", int(nTemp), szTemp, szSep, base.c_str(),
                                nNumber, szExt);
    if (n < 0 || n >= nSize) {
        szOut[0] = 0; // a cut name would name another file
        return false;
    }
    return true;
}

CxWordDoc* CxWordUtil::FindDocument(const char* szPath)
{
    if (!szPath || !*szPath || !m_pDocList)
        return nullptr;
    for (void* p = m_pDocList->GetFirst(); p; p = m_pDocList->GetNext()) {
        CxWordDoc* pDoc = static_cast<CxWordDoc*>(p);
        if (SamePath(pDoc->GetPath(), szPath))
            return pDoc;
    }
    return nullptr;
}

CxWordDoc* CxWordUtil::OpenDocument(const char* szPath)
{
    if (!szPath || !*szPath || !m_pDocList)
        return nullptr;
    if (CxWordDoc* pDoc = FindDocument(szPath))
        return pDoc;
    CxWordDoc* pDoc = new CxWordDoc(this);
    if (!pDoc->Open(szPath) || !m_pDocList->Add(pDoc)) {
        delete pDoc;
        return nullptr;
    }
    return pDoc;
}

void CxWordUtil::CloseAllDocuments()
{
    if (!m_pDocList)
        return;
    for (void* p = m_pDocList->GetFirst(); p; p = m_pDocList->GetNext())
        delete static_cast<CxWordDoc*>(p);
    m_pDocList->RemoveAll(false);
}
