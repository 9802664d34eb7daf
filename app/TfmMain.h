// The main window: a top panel with the banner and the Help and Exit buttons, the menus, the
// single-document and multi-document views on two tabs, and the status strip with the run's
// progress bar. It owns the Word instance (once made), the preview and the document list.
#pragma once

#include <QMainWindow>
#include <QSize>

#include <functional>

class QProgressBar;
class QTreeWidget;
struct DocFileInfo;
class CxWordDoc;
class CxWordUtil;
class CxWordView;
class DocFileMgr;
class TOpenDialog;

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

protected:
    void closeEvent(QCloseEvent* event) override;
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
    void mnuToolOptionClick();
    void btnHelpClick();
    void mnuHelpWebClick();
    void mnuHelpAboutClick();
    void btnExitClick();
    void InitMain();
    void ExitMain();
    void CleanTempFolder();

    // Conversion (TfmMainConvert.cpp).
    void ConnectConvertCommands();
    // "<OutputPath>/<base name>_<page number>.<bmp|png|jpg>"; false when it does not fit.
    static bool MakeOutputName(const char* szDocPath, int nPageNo, char* szOut, int nSize);
    void ConvertPage(CxWordDoc* pDoc, int nIndex);
    void ConvertDocument(const char* szPath);
    void RunOverRows(QTreeWidget* pList, bool bCheckedOnly, const std::function<void(int)>& convert);
    void ConvertAllPages();
    void ConvertCheckedPages();
    void ConvertCheckedDocuments();
    void ShowProgress(bool bStarting);
    void UpdateButtons();
    void ShowDoneMessage();
    void RunCommand(void (TfmMain::*run)());
    bool LoadDocument(const char* szPath);
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

    bool isConverting;
    CxWordUtil* wordUtil;
    CxWordView* wordView;
    CxWordDoc* currentDoc;
    DocFileMgr* docFileMgr;
    bool selectAllNext;
    bool destroyed;
    QSize acceptedSize;  // the last size FormCanResize let through

    friend class TfmMainTest;
    friend class TfmConvertTest;
    friend class ConvertBench;
};

// The one main window.
extern TfmMain* fmMain;

// The product's web addresses.
extern const char kHelpAddress[];
extern const char kHomeAddress[];
