// Application, Documents, Document and Range: the members the Word layer calls by name.
#include "ComObjects.h"

#include <new>

namespace wordserver {

using namespace wordengine;

namespace {

// ---- Range -------------------------------------------------------------------------------

enum : DISPID { kStart = 1, kEnd, kCopy, kPaste };
const Member kRangeMembers[] = {
    {"Start", kStart, true, 0, 0},
    {"End", kEnd, true, 0, 0},
    {"Copy", kCopy, false, 0, 0},
    {"Paste", kPaste, false, 0, 0},
};

class Range : public DispatchBase {
public:
    Range(DocumentPtr doc, int start, int end)
        : DispatchBase(kRangeMembers, sizeof kRangeMembers / sizeof *kRangeMembers),
          m_doc(std::move(doc)), m_start(start), m_end(end)
    {
    }

protected:
    HRESULT Call(DISPID id, VARIANT**, UINT, VARIANT* result, EXCEPINFO* excep, UINT*) override
    {
        switch (id) {
        case kStart:
        case kEnd:
            if (result) {
                result->vt = VT_I4;
                result->lVal = id == kStart ? m_start : m_end;
            }
            return S_OK;
        case kCopy: return AutomationError(m_doc->Copy(m_start, m_end), excep);
        case kPaste: {
            EngineStatus s = m_doc->Paste(m_start, m_end);
            return AutomationError(s, excep);
        }
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    DocumentPtr m_doc;
    int m_start, m_end;
};

IDispatch* NewRange(const DocumentPtr& doc, int start, int end)
{
    return new (std::nothrow) Range(doc, start, end);
}

HRESULT ReturnObject(IDispatch* obj, VARIANT* result)
{
    if (!obj)
        return E_OUTOFMEMORY;
    if (result) {
        result->vt = VT_DISPATCH;
        result->pdispVal = obj;
    } else {
        obj->Release();
    }
    return S_OK;
}

// ---- Document ------------------------------------------------------------------------------

enum : DISPID { kClose = 1, kSaveAs, kRange, kGoto, kComputeStatistics, kFontReport, kStoredPageCount };
const Member kDocumentMembers[] = {
    {"Close", kClose, false, 0, 3},    // SaveChanges, OriginalFormat, RouteDocument: ignored
    {"SaveAs", kSaveAs, false, 1, 16}, // FileName, FileFormat, LockComments, Password; rest ignored
    {"Range", kRange, false, 0, 2},    // Start, End
    {"Goto", kGoto, false, 0, 4},      // What, Which, Count, Name
    {"ComputeStatistics", kComputeStatistics, false, 1, 2},  // Statistic, IncludeFootnotesAndEndnotes: ignored
    // The stand-in's own (Word has neither): the fonts the engine drew the document with, and
    // the page count the file says Word counted.
    {"FontReport", kFontReport, true, 0, 0},
    {"StoredPageCount", kStoredPageCount, true, 0, 0},
};

const LONG kGoToPage = 1;      // wdGoToPage
const LONG kGoToAbsolute = 1;  // wdGoToAbsolute
const LONG kStatisticPages = 2;  // wdStatisticPages

class DocumentObject : public DispatchBase {
public:
    explicit DocumentObject(DocumentPtr doc)
        : DispatchBase(kDocumentMembers, sizeof kDocumentMembers / sizeof *kDocumentMembers),
          m_doc(std::move(doc))
    {
    }

protected:
    HRESULT Call(DISPID id, VARIANT** args, UINT count, VARIANT* result, EXCEPINFO* excep,
                 UINT* argErr) override
    {
        switch (id) {
        case kClose:
            if (!m_doc->IsOpen())
                return AutomationError(EngineStatus::Disconnected, excep);
            m_doc->Close();
            return S_OK;
        case kSaveAs: {
            std::string path;
            HRESULT hr = ArgString(args[0], &path);
            if (hr != S_OK) {
                *argErr = 0;
                return hr == DISP_E_PARAMNOTFOUND ? DISP_E_PARAMNOTFOUND : DISP_E_TYPEMISMATCH;
            }
            // Word's fourth argument, Password, encrypts the file.
            std::string password;
            if (count >= 4) {
                hr = ArgString(args[3], &password);
                if (hr == DISP_E_TYPEMISMATCH) {
                    *argErr = 3;
                    return hr;
                }
            }
            return AutomationError(m_doc->SaveAs(path, password), excep);
        }
        case kRange: {
            int end = 0;
            EngineStatus s = m_doc->ContentEnd(&end);
            if (s != EngineStatus::Ok)
                return AutomationError(s, excep);
            LONG a = 0, b = end;
            for (UINT i = 0; i < count; ++i) {
                LONG v;
                HRESULT hr = ArgLong(args[i], &v);
                if (hr == DISP_E_TYPEMISMATCH) {
                    *argErr = i;
                    return hr;
                }
                if (hr == S_OK)
                    (i == 0 ? a : b) = v;
            }
            // Word orders reversed bounds and clamps them to the text.
            if (a > b)
                std::swap(a, b);
            a = std::max<LONG>(0, std::min<LONG>(a, end));
            b = std::max<LONG>(0, std::min<LONG>(b, end));
            return ReturnObject(NewRange(m_doc, a, b), result);
        }
        case kGoto: {
            LONG v[3] = {kGoToPage, kGoToAbsolute, 1};
            for (UINT i = 0; i < count && i < 3; ++i) {
                HRESULT hr = ArgLong(args[i], &v[i]);
                if (hr == DISP_E_TYPEMISMATCH) {
                    *argErr = i;
                    return hr;
                }
            }
            if (count == 4) {
                std::string name;
                HRESULT hr = ArgString(args[3], &name);
                if (hr == DISP_E_TYPEMISMATCH) {
                    *argErr = 3;
                    return hr;
                }
                if (hr == S_OK && !name.empty())
                    return AutomationError(EngineStatus::BadArgument, excep);
            }
            // Only pages, counted from the start, are served.
            if (v[0] != kGoToPage || v[1] != kGoToAbsolute || v[2] < 1)
                return AutomationError(EngineStatus::BadArgument, excep);
            int start = 0;
            EngineStatus s = m_doc->PageStart(v[2], &start);
            if (s != EngineStatus::Ok)
                return AutomationError(s, excep);
            return ReturnObject(NewRange(m_doc, start, start), result);
        }
        case kComputeStatistics: {
            LONG what = 0;
            HRESULT hr = ArgLong(args[0], &what);
            if (hr != S_OK) {
                *argErr = 0;
                return hr == DISP_E_PARAMNOTFOUND ? DISP_E_PARAMNOTFOUND : DISP_E_TYPEMISMATCH;
            }
            // Only pages are counted: the pages as the document is drawn, found without drawing
            // them (a long document's first page need not wait for its last).
            if (what != kStatisticPages)
                return AutomationError(EngineStatus::BadArgument, excep);
            int pages = 0;
            EngineStatus s = m_doc->DrawnPageCount(&pages);
            if (s != EngineStatus::Ok)
                return AutomationError(s, excep);
            if (result) {
                result->vt = VT_I4;
                result->lVal = pages;
            }
            return S_OK;
        }
        case kFontReport: {
            std::vector<FontUse> uses;
            std::vector<std::string> embedded;
            EngineStatus s = m_doc->FontUses(&uses, &embedded);
            if (s != EngineStatus::Ok)
                return AutomationError(s, excep);
            if (result) {
                BSTR b = BstrFromUtf8(FontReportJson(ClassifyFontUses(uses, embedded)));
                if (!b)
                    return E_OUTOFMEMORY;
                result->vt = VT_BSTR;
                result->bstrVal = b;
            }
            return S_OK;
        }
        case kStoredPageCount: {
            int pages = 0;
            std::string application;
            EngineStatus s = m_doc->StoredPages(&pages, &application);
            if (s != EngineStatus::Ok)
                return AutomationError(s, excep);
            if (result) {
                result->vt = VT_I4;
                result->lVal = SavedByWord(application) ? pages : 0;
            }
            return S_OK;
        }
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    DocumentPtr m_doc;
};

// ---- Documents -----------------------------------------------------------------------------

enum : DISPID { kOpen = 1 };
const Member kDocumentsMembers[] = {
    {"Open", kOpen, false, 1, 16},  // FileName; Word's further options are ignored
};

class Documents : public DispatchBase {
public:
    Documents() : DispatchBase(kDocumentsMembers, 1) {}

protected:
    HRESULT Call(DISPID id, VARIANT** args, UINT, VARIANT* result, EXCEPINFO* excep,
                 UINT* argErr) override
    {
        if (id != kOpen)
            return DISP_E_MEMBERNOTFOUND;
        std::string path;
        HRESULT hr = ArgString(args[0], &path);
        if (hr != S_OK) {
            *argErr = 0;
            return hr;
        }
        // A dead engine is replaced here: the next document needs a running one.
        DocumentPtr doc;
        LoadOptions opts;
        opts.readOnly = true;  // edits stay in the engine until SaveAs writes elsewhere
        EngineStatus s = LoadDocument(path, opts, &doc);
        if (s != EngineStatus::Ok)
            return AutomationError(s, excep);
        return ReturnObject(NewDocument(doc), result);
    }
};

// ---- Application ---------------------------------------------------------------------------

enum : DISPID { kDocuments = 1 };
const Member kApplicationMembers[] = {
    {"Documents", kDocuments, true, 0, 0},
};

class Application : public DispatchBase {
public:
    Application() : DispatchBase(kApplicationMembers, 1) {}

protected:
    HRESULT Call(DISPID id, VARIANT**, UINT, VARIANT* result, EXCEPINFO*, UINT*) override
    {
        if (id != kDocuments)
            return DISP_E_MEMBERNOTFOUND;
        return ReturnObject(new (std::nothrow) Documents, result);
    }
};

}  // namespace

IDispatch* NewApplication()
{
    return new (std::nothrow) Application;
}

IDispatch* NewDocument(const DocumentPtr& doc)
{
    return new (std::nothrow) DocumentObject(doc);
}

}  // namespace wordserver
