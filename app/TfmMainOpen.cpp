// Opening a document for the single-document view without holding up the window. The engine
// loads and lays out a long document for seconds (180 pages: about five); that runs on a thread
// of its own while the window shows the document's name, a busy bar with the time taken, and a
// Cancel button. Cancel, or another document, ends the engine, which ends the opening at once;
// a fresh engine serves the next document. The Word objects are used by one thread at a time:
// by the opening thread until it ends, then by the window's.
#include "TfmMain.h"
#include "ui_TfmMain.h"
#include "word/CxEngineLimit.h"
#include "word/CxWordUtil.h"
#include "word/CxWordView.h"

#include <objbase.h>

#include <QElapsedTimer>
#include <QMetaObject>
#include <QTimer>

#include <csignal>
#include <sys/types.h>

void TfmMain::BeginOpen(const std::string& path)
{
    if (isConverting)
        return;
    ui->edtName->setText(QString::fromStdString(path));
    if (isOpening) {
        // This one starts once the thread of the one before has ended.
        pendingOpen = path;
        CancelOpen();
        return;
    }
    // The shown document stays in the engine but leaves the view: the window does not draw
    // from the engine while the thread works in it.
    wordView->SetDocument(nullptr);
    ui->lvPages->clear();
    ui->lblFontMark->setVisible(false);
    currentDoc = nullptr;
    if (!PrepareOpen(path.c_str())) {
        ui->edtName->clear();
        UpdateButtons();
        return;
    }
    isOpening = true;
    openCancelled = false;
    ShowOpening(true);
    UpdateButtons();
    CxWordUtil* pUtil = wordUtil;
    openThread = std::thread([this, pUtil, path] {
        CoInitialize(nullptr);
        CxWordDoc* pDoc = pUtil->OpenDocument(path.c_str());
        CoUninitialize();
        QMetaObject::invokeMethod(this, [this, pDoc] { OpenDone(pDoc); }, Qt::QueuedConnection);
    });
}

void TfmMain::CancelOpen()
{
    if (!isOpening || openCancelled)
        return;
    openCancelled = true;
    ui->lblOpening->setText("Stopping...");
    ui->btnCancelOpen->setEnabled(false);
    // The engine this program started ends now; the thread's call into it returns at once.
    // (Before the engine runs there is nothing to end: the opening runs on and is dropped.)
    if (const int pid = CxEngineLimit::OwnEngine())
        kill(pid_t(pid), SIGKILL);
}

void TfmMain::OpenDone(CxWordDoc* pDoc)
{
    if (openThread.joinable())
        openThread.join();
    isOpening = false;
    ShowOpening(false);
    if (openCancelled) {
        // Its documents went with the engine: a new Word instance starts for the next one.
        delete wordUtil;
        wordUtil = nullptr;
        engineDue = false;
        if (pendingOpen.empty())
            ui->edtName->clear();
    } else if (pDoc) {
        ShowOpened(pDoc);
    } else {
        ui->edtName->clear();
    }
    UpdateButtons();
    if (!pendingOpen.empty()) {
        std::string next;
        next.swap(pendingOpen);
        BeginOpen(next);
    }
}

void TfmMain::StopOpening()
{
    pendingOpen.clear();
    CancelOpen();
    if (openThread.joinable())
        openThread.join();
    isOpening = false;
}

void TfmMain::ShowOpening(bool bOpening)
{
    if (!openClock) {
        openClock = new QElapsedTimer;
        openTicker = new QTimer(this);
        openTicker->setInterval(1000);
        connect(openTicker, &QTimer::timeout, this, [this] { OpeningTick(); });
        connect(ui->btnCancelOpen, &QPushButton::clicked, this, [this] { CancelOpen(); });
    }
    ui->btnCancelOpen->setEnabled(true);
    if (bOpening) {
        openClock->start();
        openTicker->start();
        OpeningTick();
        tOneResize();  // centred over the preview
        ui->pOpening->raise();
    } else {
        openTicker->stop();
    }
    ui->pOpening->setVisible(bOpening);
}

void TfmMain::OpeningTick()
{
    if (openCancelled)
        return;
    const qint64 nSeconds = openClock->elapsed() / 1000;
    ui->lblOpening->setText(nSeconds ? QString("Opening the document... %1 s").arg(nSeconds)
                                     : QString("Opening the document..."));
}
