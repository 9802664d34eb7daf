// The benchmarks' hold on the main window's private parts, as the window's own tests have.
#pragma once

#include "app/DocFileMgr.h"
#include "app/TfmMain.h"
#include "common/misc/WinUtil.h"
#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"

#include <QCoreApplication>

#include <chrono>
#include <string>
#include <vector>

class ConvertBench {
public:
    // The batch view's workers are Pagesnap beside the benchmark (its "--worker").
    explicit ConvertBench(TfmMain* w) : m_w(w)
    {
        char szFolder[MAX_PATH];
        if (GetModuleFolder(nullptr, szFolder))
            m_w->workerProgram = std::string(szFolder) + "Pagesnap";
    }

    // The engine starts with the first document opened: open one so that a timed run does
    // not carry the start-up. Returns the seconds it took.
    double StartEngine(const std::string& doc)
    {
        const auto t = std::chrono::steady_clock::now();
        m_w->wordUtil = new CxWordUtil;
        CxWordDoc d(m_w->wordUtil);
        d.Open(doc.c_str());
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
    }
    void AddFiles(const std::vector<std::string>& paths)
    {
        for (const auto& p : paths)
            m_w->docFileMgr->AddFile(p.c_str());
        m_w->AppendFileRows();
        m_w->UpdateButtons();
    }
    // Waits for the last run's workers, which end their engines after the run on their own.
    void EndWorkers() { m_w->StopBatchRun(); }
    // Another worker program (a comparison: pagesnap-batch's own worker).
    void SetWorker(const std::string& program) { m_w->workerProgram = program; }
    void SelectAll() { m_w->SetAllFileTicks(true); }
    // The batch view's Convert, and its run to the end (the run goes on in the event loop).
    void Convert()
    {
        m_w->btnConvertClick();
        while (m_w->batchRun)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);  // the run's timer wakes it
    }
    CxWordUtil* Util() { return m_w->wordUtil; }
    // The single-document view: a document shown, its preview, one page's picture.
    bool Load(const std::string& path) { return m_w->LoadDocument(path.c_str()); }
    // ... or opened as the window opens it, in the background.
    void BeginOpen(const std::string& path) { m_w->BeginOpen(path); }
    bool Opening() const { return m_w->isOpening; }
    void ViewOne() { m_w->mnuViewOneClick(); }
    class CxWordView* View() { return m_w->wordView; }
    bool ConvertPage(int nIndex) { return m_w->ConvertPageInto(m_w->currentDoc, nIndex); }
    void StopEngine()
    {
        delete m_w->wordUtil;
        m_w->wordUtil = nullptr;
    }

private:
    TfmMain* m_w;
};
