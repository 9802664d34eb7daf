// The main window: a top panel with the banner and the Help and Exit buttons, the menus, the
// single-document and multi-document views on two tabs, and the status strip with the run's
// progress bar. It owns the Word instance (once made), the preview and the document list.
#pragma once

#include "app/FontMark.h"
#include "word/CxEngineLimit.h"

#include <QMainWindow>
#include <QSize>
#include <QStringList>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

class QProgressBar;
class QTreeWidget;
struct HDC__;
struct DocFileInfo;
class CxWordDoc;
class CxWordUtil;
class CxWordView;
class DocFileMgr;
class TOpenDialog;
struct BatchRun;
namespace convert {
struct PoolEvent;
}

namespace Ui {
class TfmMain;
}

class TfmMain : public QMainWindow {
    Q_OBJECT

public:
    explicit TfmMain(QWidget* parent = nullptr);
    ~TfmMain() override;

    // The designed controls, by their names (ui->btnAll, ui->lvPages ...), and the progress
    // bar that lies over the status strip.
    Ui::TfmMain* ui;
    QProgressBar* pbMain;
    // The file-open dialog shared by the open and add commands (single selection).
    TOpenDialog* dlgOpen;

    // The shut-down: settings saved, Word instance ended (and its processes, when CleanWord
    // is on), document list destroyed, temporary documents deleted. Ending the process is the
    // caller's part.
    void FormDestroy();

    // Documents and folders handed to the program on its command line: one Word document
    // alone opens in the single-document view; several documents, or any folder, go into the
    // batch list in the batch view. Arguments may be paths (relative to the current folder)
    // or file:// addresses.
    void OpenCommandLine(const QStringList& arguments);
    void OpenPaths(const std::vector<std::string>& paths);
    // Dropped documents and folders: the single-document view takes the first document, the
    // batch view takes every document and folder.
    void DropPaths(const std::vector<std::string>& paths);
    // Whether a document is being opened in the background.
    bool IsOpening() const { return isOpening; }
    // True for a path that names a Word document (.doc, .docx, any case) and no folder.
    static bool IsWordDocumentPath(const std::string& path);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormCloseQuery(bool& CanClose);
    void FormCanResize(int& NewWidth, int& NewHeight, bool& Resize);
    void FormResize();
    void pTopResize();
    void tOneResize();
    void tMoreResize();
    void pWordResize();
    void pcMainChange();
    void mnuViewOneClick();
    void mnuViewMoreClick();
    // The preview's zoom (View menu, the zoom box, the preview's own keys and wheel): shown
    // in the box and kept in the settings.
    void SetZoom(int nZoom);
    void cbZoomChange();
    void ZoomChanged();
    // The page list follows the page the preview moved to by its keys.
    void PreviewChanged();
    // Page Up/Down and Home/End in the page list go through the pages as in the preview.
    bool PageListKey(int nKey);
    void mnuToolOptionClick();
    void btnHelpClick();
    void mnuHelpWebClick();
    void mnuHelpAboutClick();
    void btnExitClick();
    void InitMain();
    void ExitMain();
    void CleanTempFolder();
    // One message box for the paths that were not taken because they are no Word documents;
    // nothing for an empty list.
    void RefuseNonDocuments(const std::vector<std::string>& paths);
    void OpenOneDocument(const std::string& path);
    void AddToBatch(const std::vector<std::string>& paths);

    // Conversion (TfmMainConvert.cpp).
    void ConnectConvertCommands();
    // "<OutputPath>/<base name><suffix>_<page number>.<bmp|png|jpg>"; false when it does not
    // fit.
    static bool MakeOutputName(const char* szDocPath, int nPageNo, char* szOut, int nSize, const char* szSuffix = "");
    // The picture name of a page in this run: the plain name unless another document wrote
    // that name earlier in the run, then "<base>_<extension>_<page>" (and a number after the
    // extension should that be taken too).
    bool MakeRunOutputName(const char* szDocPath, int nPageNo, char* szOut, int nSize);
    // Writes the picture under a temporary name in the output folder and renames it into
    // place once complete; nothing is left at either name on failure.
    bool WritePicture(HDC__* hdc, int nWidth, int nHeight, const char* szPath);
    void BeginRun();
    // True when the page's picture was written; a failure is counted for the message.
    bool ConvertPage(CxWordDoc* pDoc, int nIndex);
    bool ConvertPageInto(CxWordDoc* pDoc, int nIndex);
    // The pixels of the current page's picture at nDpi; false when it cannot be measured.
    static bool PagePixels(CxWordDoc* pDoc, int nDpi, struct tagPOINT* pSize);
    // Rows whose conversion failed keep their tick.
    void RunOverRows(QTreeWidget* pList, bool bCheckedOnly, const std::function<bool(int)>& convert);
    void ConvertAllPages();
    void ConvertCheckedPages();
    void ConvertCheckedDocuments();
    // The batch view's run (TfmMainBatch.cpp): the ticked documents go to worker processes,
    // several at once, each with its own engine; a timer takes in what they say, so the window
    // stays responsive and Convert becomes Cancel. Ended by its last document or by Cancel.
    void StartBatchRun();
    void PollBatchRun();
    void DispatchBatch();
    void OnBatchEvent(const convert::PoolEvent& e);
    // A document's end: kind empty when its worker converted it, else the failure it gave.
    void FinishBatchDocument(size_t nDoc, const std::string& kind, const std::string& message);
    void EndBatchRun(bool bCancelled);
    // At shut-down: a run's workers are ended and its unfinished pictures removed.
    void StopBatchRun();
    void ShowBatchTotal(bool bForce);
    void ShowProgress(bool bStarting);
    void UpdateButtons();
    void ShowDoneMessage();
    void RunCommand(void (TfmMain::*run)());
    // Opens the document and shows it, all in this thread; false when it cannot be opened.
    bool LoadDocument(const char* szPath);
    // Its two halves: the view let go of the shown document and the engine made ready
    // (false: no engine), then the opened document shown with its pages.
    bool PrepareOpen(const char* szPath);
    void ShowOpened(CxWordDoc* pDoc);
    // Opening in the background (TfmMainOpen.cpp): the engine loads and lays out a long
    // document for seconds, on a thread of its own, while the window shows the document's
    // name and a busy sign, and takes Cancel or another document.
    void BeginOpen(const std::string& path);
    void CancelOpen();
    void OpenDone(CxWordDoc* pDoc);
    void ShowOpening(bool bOpening);
    void OpeningTick();
    // Waits for the opening thread after ending its engine (the shut-down).
    void StopOpening();
    void FillPageList();
    void btnBrowseClick();
    void mnuFileOpenOneClick();
    void lvPagesClick();
    void btnSelPageClick();
    void btnAllClick();
    void btnSelClick();
    void btnOneClick();
    void btnAddFileClick();
    void btnAddDirClick();
    void AppendFileRows();
    void AddFileRow(DocFileInfo* pInfo);
    void btnDelClick();
    void SetAllFileTicks(bool bTicked);
    void btnConvertClick();

    // The engine, started on first use and replaced between documents past its limits.
    bool EnsureWordUtil();  // false when the engine cannot be had (said once)
    void EngineDocumentDone();
    void ReplaceEngineIfDue();

    bool isConverting;
    // The opening thread, while a document opens; the Word objects are the thread's until it
    // ends, then the window's again.
    bool isOpening = false;
    bool openCancelled = false;
    std::thread openThread;
    std::string pendingOpen;  // the document to open once a stopped opening has ended
    class QElapsedTimer* openClock = nullptr;
    class QTimer* openTicker = nullptr;
    CxWordUtil* wordUtil;
    CxEngineLimit engineLimit{0, 0};
    bool engineDue = false;  // past its limits, replaced at the next chance
    bool engineChecked = false;  // the suite's version was looked at
    std::string engineTooOld;    // why the suite will not do; empty when it will
    CxWordView* wordView;
    CxWordDoc* currentDoc;
    BatchRun* batchRun = nullptr;  // the batch view's run, while one goes on
    int batchEngines = 0;          // engines the last run's workers started (replaced ones too)
    // The program started as a worker (empty: this program's own file) and why no engine can
    // start (unset: the engine's own check); tests set both.
    std::string workerProgram;
    std::function<std::string()> engineProblem;
    DocFileMgr* docFileMgr;
    bool selectAllNext;
    bool destroyed;
    // The current run's results: pages that failed, the documents they belong to, documents
    // that could not be opened, the pictures written and the name suffix each document takes.
    int failedPages = 0;
    std::set<std::string> failedDocuments;
    int unopenedDocuments = 0;
    std::set<std::string> runPictures;
    std::map<std::string, std::string> runSuffixes;
    QSize acceptedSize;  // the last size FormCanResize let through

    friend class TfmMainTest;
    friend class OpenFilesTest;
    friend class TfmConvertTest;
    friend class ConvertBench;
};

// The one main window.
extern TfmMain* fmMain;

// The manual and the read-me shipped with the program, in "doc/" beside it.
extern const char kHelpFile[];
extern const char kHomeFile[];
