// The main window's creation, layout rules, view switching, small commands and shut-down.
#include "TfmMain.h"

#include "Look.h"
#include "DocFileMgr.h"
#include "OpenDialog.h"
#include "OptionSettings.h"
#include "word/TempFolder.h"
#include "TfmAbout.h"
#include "TfmOption.h"
#include "common/misc/WinUtil.h"
#include <qtwin.h>
#include "ui_TfmMain.h"
#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"
#include "word/CxWordView.h"

#include <windows.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QProgressBar>
#include <QResizeEvent>
#include <QScreen>
#include <QTreeWidget>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

TfmMain* fmMain = nullptr;

const char kHelpFile[] = "doc/manual.html";
const char kHomeFile[] = "doc/README.md";

namespace {

const int kMinWidth = 800;
const int kMinHeight = 600;

}  // namespace

TfmMain::TfmMain(QWidget* parent)
    : QMainWindow(parent), ui(new Ui::TfmMain), pbMain(nullptr), dlgOpen(nullptr), isConverting(false), wordUtil(nullptr),
      wordView(nullptr), currentDoc(nullptr), docFileMgr(nullptr), selectAllNext(true), destroyed(false)
{
    ui->setupUi(this);
    // The Word layer names its temporary documents in the folder of the settings.
    CxWordUtil::SetTempFolder(OptionSettings.TempPath, sizeof OptionSettings.TempPath);
    setWindowTitle("Orvell Folium Converter");
    dlgOpen = new TOpenDialog(platform::ui::WindowOf(this));
    // A name typed into the dialog can be any file: it gets the refusal that drops get.
    dlgOpen->Accept = [this](const std::string& path) {
        if (IsWordDocumentPath(path))
            return true;
        RefuseNonDocuments({path});
        return false;
    };
    // Documents dropped anywhere on the window, the name field included, are the window's.
    setAcceptDrops(true);
    ui->edtName->setAcceptDrops(false);
    ui->Image1->setPixmap(MakeBanner(445, 64));
    ui->sbMain->setFixedHeight(19);
    // The bar lies over the status strip (FormResize), hidden until a run starts.
    pbMain = new QProgressBar(this);
    pbMain->setObjectName("pbMain");
    pbMain->setRange(0, 100);
    pbMain->setTextVisible(true);
    pbMain->setFormat("%p%");
    pbMain->setAlignment(Qt::AlignCenter);
    pbMain->hide();
    ui->lvPages->setColumnWidth(0, 110);
    ui->lvFile->setColumnWidth(0, 500);
    ui->lvFile->setColumnWidth(1, 80);
    ui->lvFile->setColumnWidth(2, 120);

    // The designed client size: menu bar and status strip around 100 + 487 pixels of panels.
    resize(946, menuBar()->sizeHint().height() + 100 + 487 + 19);
    acceptedSize = size();
    if (QScreen* s = screen())  // opens centred on the desktop
        move(s->availableGeometry().center() - rect().center());

    for (QObject* o : {(QObject*)ui->pTop, (QObject*)ui->tOne, (QObject*)ui->tMore, (QObject*)ui->pWord})
        o->installEventFilter(this);
    connect(ui->pcMain, &QTabWidget::currentChanged, this, [this] { pcMainChange(); });
    connect(ui->mnuViewOne, &QAction::triggered, this, [this] { mnuViewOneClick(); });
    connect(ui->mnuViewMore, &QAction::triggered, this, [this] { mnuViewMoreClick(); });
    connect(ui->mnuToolOption, &QAction::triggered, this, [this] { mnuToolOptionClick(); });
    connect(ui->mnuHelpContent, &QAction::triggered, this, [this] { btnHelpClick(); });
    connect(ui->btnHelp, &QPushButton::clicked, this, [this] { btnHelpClick(); });
    connect(ui->mnuHelpWeb, &QAction::triggered, this, [this] { mnuHelpWebClick(); });
    connect(ui->mnuHelpAbout, &QAction::triggered, this, [this] { mnuHelpAboutClick(); });
    connect(ui->mnuFileExit, &QAction::triggered, this, [this] { btnExitClick(); });
    connect(ui->btnExit, &QPushButton::clicked, this, [this] { btnExitClick(); });
    ConnectConvertCommands();
    // The zoom box: the two fits, then the steps of Ctrl +/-.
    ui->cbZoom->addItem("Fit Page", CxWordView::kZoomFitPage);
    ui->cbZoom->addItem("Fit Width", CxWordView::kZoomFitWidth);
    for (int z : {25, 50, 75, 100, 125, 150, 200, 300, 400})
        ui->cbZoom->addItem(QString::asprintf("%d %%", z), z);
    connect(ui->cbZoom, &QComboBox::activated, this, [this] { cbZoomChange(); });
    connect(ui->mnuViewFitPage, &QAction::triggered, this, [this] { SetZoom(CxWordView::kZoomFitPage); });
    connect(ui->mnuViewFitWidth, &QAction::triggered, this, [this] { SetZoom(CxWordView::kZoomFitWidth); });
    connect(ui->mnuViewActualSize, &QAction::triggered, this, [this] { SetZoom(100); });
    // Ctrl+Plus is Ctrl+Shift+= on most keyboards: Ctrl+= zooms in too.
    ui->mnuViewZoomIn->setShortcuts({QKeySequence("Ctrl++"), QKeySequence("Ctrl+=")});
    connect(ui->mnuViewZoomIn, &QAction::triggered, this, [this] {
        if (wordView && wordView->ZoomIn())
            ZoomChanged();
    });
    connect(ui->mnuViewZoomOut, &QAction::triggered, this, [this] {
        if (wordView && wordView->ZoomOut())
            ZoomChanged();
    });
    ui->lvPages->installEventFilter(this);

    FormCreate();
}

TfmMain::~TfmMain()
{
    StopBatchRun();
    // The preview belongs to its window, which ends with pWord.
    wordView = nullptr;
    if (!destroyed) {  // made and dropped without the program's shut-down (tests)
        delete docFileMgr;
        docFileMgr = nullptr;
    }
    delete dlgOpen;
    delete ui;
    if (fmMain == this)
        fmMain = nullptr;
}

void TfmMain::FormCreate()
{
    InitMain();
    if (wordView) {
        RECT rc = {0, 0, ui->pWord->width(), ui->pWord->height()};
        rc.left += 3;
        rc.top += 3;
        rc.right -= 3;
        rc.bottom -= 3;
        wordView->Create(platform::ui::WindowOf(ui->pWord), &rc);
        wordView->SetChangeHandler([this] { PreviewChanged(); });
    }
    SetZoom(OptionSettings.Zoom);
    docFileMgr = new DocFileMgr;
    mnuViewMoreClick();
}

void TfmMain::InitMain()
{
    LoadOptionSettings();
    // Said once, after the window shows: a service account or a read-only home keeps nothing.
    char szFolder[MAX_PATH];
    if (!SettingsCanBeKept(szFolder)) {
        const std::string text = std::string("Settings cannot be saved in ") + szFolder +
                                 ": they will not be kept after Pagesnap ends. Pictures go to " +
                                 OptionSettings.OutputPath + ".";
        QTimer::singleShot(0, this, [this, text] {
            MessageBoxA(platform::ui::WindowOf(this), text.c_str(), "Information", MB_OK | MB_ICONINFORMATION);
        });
    }
    isConverting = false;
    wordUtil = nullptr;
    currentDoc = nullptr;
    wordView = new CxWordView;
}

void TfmMain::FormDestroy()
{
    if (destroyed)
        return;
    destroyed = true;
    StopOpening();
    StopBatchRun();
    ExitMain();
    if (docFileMgr) {
        delete docFileMgr;
        docFileMgr = nullptr;
    }
    CleanTempFolder();
}

void TfmMain::ExitMain()
{
    SaveOptionSettings();
    if (wordUtil) {
        delete wordUtil;
        wordUtil = nullptr;
        currentDoc = nullptr;
        if (OptionSettings.CleanWord) {
            // Ends the engine processes this program started (the helper beside the program).
            int rc = system("taskkill -F -IM winword.exe");
            (void)rc;
        }
    }
}

void TfmMain::CleanTempFolder() { CleanTempFolders(OptionSettings.TempPath); }

void TfmMain::closeEvent(QCloseEvent* event)
{
    bool CanClose = true;
    FormCloseQuery(CanClose);
    if (CanClose)
        event->accept();
    else
        event->ignore();
}

void TfmMain::FormCloseQuery(bool& CanClose)
{
    if (!isConverting) {
        CanClose = true;
        return;
    }
    int answer = MessageBoxA(platform::ui::WindowOf(this),
                             "The document conversion is running now, are you sure to quit?", "Question",
                             MB_YESNOCANCEL | MB_ICONQUESTION);
    CanClose = answer == IDYES;
}

void TfmMain::resizeEvent(QResizeEvent* event)
{
    int NewWidth = event->size().width(), NewHeight = event->size().height();
    bool Resize = true;
    FormCanResize(NewWidth, NewHeight, Resize);
    if (!Resize && acceptedSize.isValid()) {
        // Refused as a whole: back to the last accepted size in both dimensions.
        QSize keep = acceptedSize;
        QTimer::singleShot(0, this, [this, keep] {
            if (size() != keep)
                resize(keep);
        });
        return;
    }
    acceptedSize = event->size();
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TfmMain::FormCanResize(int& NewWidth, int& NewHeight, bool& Resize)
{
    Resize = NewWidth >= kMinWidth && NewHeight >= kMinHeight;
}

void TfmMain::FormResize()
{
    // The top panel and the tabs fill the central area as aligned panels do.
    QWidget* c = centralWidget();
    ui->pTop->setGeometry(0, 0, c->width(), ui->pTop->height());
    ui->pcMain->setGeometry(0, ui->pTop->height(), c->width(), std::max(0, c->height() - ui->pTop->height()));
    QRect sb = ui->sbMain->geometry();
    pbMain->setGeometry(sb.left(), sb.top() + 1, sb.width() - 1, 12);
    pbMain->raise();
}

void TfmMain::pTopResize()
{
    int w = ui->pTop->width();
    ui->btnExit->move(w - 120, ui->btnExit->y());
    ui->btnHelp->move(ui->btnExit->x() - 120, ui->btnHelp->y());
}

void TfmMain::tOneResize()
{
    int w = ui->tOne->width(), h = ui->tOne->height();
    ui->lvPages->resize(ui->lvPages->width(), h - 115);
    ui->pWord->resize(w - 180, h - 115);
    ui->btnSelPage->move(ui->btnSelPage->x(), h - 45);
    ui->btnAll->move(w - 530, h - 45);
    ui->btnSel->move(w - 370, h - 45);
    ui->btnOne->move(w - 210, h - 45);
    // The opening's busy sign sits in the middle of the preview.
    ui->pOpening->move(ui->pWord->x() + (ui->pWord->width() - ui->pOpening->width()) / 2,
                       ui->pWord->y() + (ui->pWord->height() - ui->pOpening->height()) / 2);
    // The zoom box ends where the preview ends.
    ui->cbZoom->move(w - 28 - ui->cbZoom->width(), ui->cbZoom->y());
    ui->lblZoom->move(ui->cbZoom->x() - 46, ui->lblZoom->y());
}

void TfmMain::tMoreResize()
{
    int w = ui->tMore->width(), h = ui->tMore->height();
    ui->lvFile->resize(w - 60, h - 125);
    for (QWidget* b : {(QWidget*)ui->btnSelAll, (QWidget*)ui->btnClear, (QWidget*)ui->lblTotal, (QWidget*)ui->btnConvert})
        b->move(b->x(), h - 55);
}

void TfmMain::pWordResize()
{
    if (!wordView)
        return;
    MoveWindow(wordView->GetHandle(), 1, 1, ui->pWord->width() - 2, ui->pWord->height() - 2, TRUE);
}

bool TfmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->lvPages && event->type() == QEvent::KeyPress &&
        PageListKey(static_cast<QKeyEvent*>(event)->key()))
        return true;
    if (event->type() == QEvent::Resize) {
        if (watched == ui->pTop)
            pTopResize();
        else if (watched == ui->tOne)
            tOneResize();
        else if (watched == ui->tMore)
            tMoreResize();
        else if (watched == ui->pWord)
            pWordResize();
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfmMain::pcMainChange()
{
    // Only the active page takes input; the menu ticks stay as the menu last set them.
    ui->tOne->setEnabled(ui->pcMain->currentWidget() == ui->tOne);
    ui->tMore->setEnabled(ui->pcMain->currentWidget() == ui->tMore);
    // The zoom is the preview's: offered where the preview is.
    const bool bOne = ui->pcMain->currentWidget() == ui->tOne;
    for (QAction* a : {ui->mnuViewFitPage, ui->mnuViewFitWidth, ui->mnuViewActualSize, ui->mnuViewZoomIn,
                       ui->mnuViewZoomOut})
        a->setEnabled(bOne);
}

void TfmMain::SetZoom(int nZoom)
{
    if (!CxWordView::IsZoom(nZoom))
        return;
    if (wordView)
        wordView->SetZoom(nZoom);
    ZoomChanged();
}

void TfmMain::cbZoomChange()
{
    const QVariant zoom = ui->cbZoom->currentData();
    if (zoom.isValid())
        SetZoom(zoom.toInt());
}

void TfmMain::ZoomChanged()
{
    const int nZoom = wordView ? wordView->GetZoom() : OptionSettings.Zoom;
    OptionSettings.Zoom = nZoom;
    const int nIndex = ui->cbZoom->findData(nZoom);
    if (nIndex >= 0) {
        ui->cbZoom->setCurrentIndex(nIndex);
    } else {
        // A step between the box's entries (33 %, 67 %): shown, not offered.
        ui->cbZoom->setCurrentIndex(-1);
        ui->cbZoom->setPlaceholderText(QString::asprintf("%d %%", nZoom));
    }
}

void TfmMain::PreviewChanged()
{
    ZoomChanged();
    CxWordDoc* pDoc = wordView ? wordView->GetDocument() : nullptr;
    if (!pDoc || pDoc != currentDoc)
        return;
    QTreeWidgetItem* pRow = ui->lvPages->topLevelItem(pDoc->GetCurrentPage());
    if (pRow) {
        const QSignalBlocker block(ui->lvPages);
        ui->lvPages->setCurrentItem(pRow);
        ui->lvPages->scrollToItem(pRow);
    }
}

bool TfmMain::PageListKey(int nKey)
{
    if (!wordView || !currentDoc || wordView->GetDocument() != currentDoc)
        return false;
    int nDelta;
    switch (nKey) {
    case Qt::Key_PageUp: nDelta = -1; break;
    case Qt::Key_PageDown: nDelta = 1; break;
    case Qt::Key_Home: nDelta = -(1 << 30); break;
    case Qt::Key_End: nDelta = 1 << 30; break;
    default: return false;
    }
    wordView->StepPage(nDelta);
    PreviewChanged();
    return true;
}

void TfmMain::mnuViewOneClick()
{
    ui->pcMain->setCurrentWidget(ui->tOne);
    pcMainChange();
    ui->mnuViewOne->setChecked(true);
    ui->mnuViewMore->setChecked(false);
}

void TfmMain::mnuViewMoreClick()
{
    ui->pcMain->setCurrentWidget(ui->tMore);
    pcMainChange();
    ui->mnuViewOne->setChecked(false);
    ui->mnuViewMore->setChecked(true);
}

void TfmMain::mnuToolOptionClick()
{
    TfmOption fmOption(this);
    fmOption.UpdateData(false);
    fmOption.exec();
}

namespace {

// Opens a file shipped in the program's folder with the desktop's opener; a missing file is
// said, not handed to an opener that would fail out of sight.
void OpenShippedFile(QWidget* owner, const char* szName)
{
    char szFolder[MAX_PATH], szPath[MAX_PATH];
    GetModuleFolder(nullptr, szFolder);
    int n = snprintf(szPath, sizeof szPath, "%s%s", szFolder, szName);
    if (n > 0 && n < (int)sizeof szPath && access(szPath, 0) == 0) {
        ShellOpen(szPath);
        return;
    }
    char szText[MAX_PATH + 64];
    snprintf(szText, sizeof szText, "The file \"%s%s\" is missing.", szFolder, szName);
    MessageBoxA(platform::ui::WindowOf(owner), szText, "Error", MB_OK | MB_ICONERROR);
}

}  // namespace

void TfmMain::btnHelpClick() { OpenShippedFile(this, kHelpFile); }

void TfmMain::mnuHelpWebClick() { OpenShippedFile(this, kHomeFile); }

void TfmMain::mnuHelpAboutClick()
{
    TfmAbout fmAbout(this);
    fmAbout.exec();
}

void TfmMain::btnExitClick() { close(); }
