// A main window driven through its conversion commands, with every message box answered and
// the progress bar's positions recorded. The batch view's workers are the scripted worker
// (the real worker over the scripted word processor) unless a test names another program.
#pragma once

#include "QtApp.h"
#include "app/DocFileMgr.h"
#include "app/OptionSettings.h"
#include "app/TfmMain.h"
#include "word/CxWordUtil.h"
#include "word/CxWordView.h"
#include "common/misc/WinUtil.h"
#include "platform/internal/ui.h"
#include "ui_TfmMain.h"

#include <windows.h>

#include <dirent.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

// The names in a folder (not "." and "..").
inline std::set<std::string> FilesIn(const std::string& dir)
{
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
                names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

class TfmConvertTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        CoInitialize(nullptr);
        platform::ui::SetMessageBoxHook([this](const platform::ui::MessageBoxRequest& r) {
            boxes.push_back(r);
            return IDCANCEL;
        });
        w = new TfmMain;
#ifdef SCRIPTED_WORKER
        w->workerProgram = SCRIPTED_WORKER;
#endif
        // No real engine is asked about, nor its folders made, for the scripted worker.
        w->engineProblem = [] { return std::string(); };
        QObject::connect(w->pbMain, &QProgressBar::valueChanged, [this](int v) { progress.push_back(v); });
    }
    void TearDown() override
    {
        delete w;  // without the program's shut-down: the settings file stays as it was
        platform::ui::SetMessageBoxHook(nullptr);
        CoUninitialize();
    }

    QTreeWidget* Pages() { return w->ui->lvPages; }
    QTreeWidget* Files() { return w->ui->lvFile; }
    void AddFiles(const std::vector<std::string>& paths)
    {
        for (const auto& p : paths)
            w->docFileMgr->AddFile(p.c_str());
        w->AppendFileRows();
        w->UpdateButtons();
    }
    int DocCount() { return w->docFileMgr->GetCount(); }
    bool Ticked(QTreeWidget* list, int row) { return list->topLevelItem(row)->checkState(0) == Qt::Checked; }
    void Tick(QTreeWidget* list, int row, bool on) { list->topLevelItem(row)->setCheckState(0, on ? Qt::Checked : Qt::Unchecked); }
    bool HasWordUtil() { return w->wordUtil != nullptr; }
    bool Load(const std::string& path) { return w->LoadDocument(path.c_str()); }
    CxWordView* View() { return w->wordView; }
    void ViewOne() { w->mnuViewOneClick(); }
    void Del() { w->btnDelClick(); }
    // Convert in the batch view, and the run to its end (the event loop turning meanwhile).
    void ConvertNow()
    {
        w->btnConvertClick();
        WaitForRun();
    }
    void StartConvert() { w->btnConvertClick(); }
    bool Running() { return w->batchRun != nullptr; }
    void SetEngineProblem(const std::string& why) { w->engineProblem = [why] { return why; }; }
    // The batch view's workers as Pagesnap runs them (itself, with the engine's own check).
    void UsePagesnapWorkers()
    {
        char szFolder[MAX_PATH];
        GetModuleFolder(nullptr, szFolder);
        w->workerProgram = std::string(szFolder) + "Pagesnap";
        w->engineProblem = nullptr;
    }
    // Waits for the last run's workers, which end their engines after the run on their own.
    void EndWorkers() { w->StopBatchRun(); }
    int BatchEngines() { return w->batchEngines; }
    void WaitForRun(int nMs = 60000)
    {
        QElapsedTimer t;
        t.start();
        while (Running() && t.elapsed() < nMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);  // the run's timer wakes it
        ASSERT_FALSE(Running()) << "the run did not end within " << nMs << " ms";
    }
    void ConvertAll() { w->btnAllClick(); }
    void ConvertSelected() { w->btnSelClick(); }
    void ConvertThis() { w->btnOneClick(); }
    // Ends the Word instance the window made (before a scripted server goes away).
    void EndWord()
    {
        delete w->wordUtil;
        w->wordUtil = nullptr;
        w->currentDoc = nullptr;
    }
    static bool OutputName(const char* doc, int page, char* out, int size)
    {
        return TfmMain::MakeOutputName(doc, page, out, size);
    }

    TfmMain* w = nullptr;
    std::vector<platform::ui::MessageBoxRequest> boxes;
    std::vector<int> progress;
};
