// The main window's conversion: one page, one document, the three runs with their progress
// display and button states, the completion message, and the commands of both views.
#include "TfmMain.h"

#include "DocFileMgr.h"
#include "OpenDialog.h"
#include "OptionSettings.h"
#include "PictureLib.h"
#include "common/misc/GdipEncoder.h"
#include "common/misc/StaleTemp.h"
#include "common/misc/WinUtil.h"
#include <qtwin.h>
#include "ui_TfmMain.h"
#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"
#include "word/CxWordView.h"
#include "EngineVersion.h"

#include <windows.h>
#include <gdiplusflat.h>
#include <io.h>
#include <shlobj.h>

#include <QIcon>
#include <QProgressBar>
#include <QStyle>
#include <QTreeWidget>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

namespace {

const char* ImageExtension(int nImageType) { return nImageType == 1 ? "bmp" : nImageType == 3 ? "png" : "jpg"; }

// Pictures are written under hidden names that carry the process and machine, then renamed.
const char kTempPrefix[] = ".~folium-";

void SetWaitCursor() { SetCursor(LoadCursorA(nullptr, IDC_WAIT)); }
void SetNormalCursor() { SetCursor(LoadCursorA(nullptr, IDC_ARROW)); }

// JPEG pictures at the chosen quality. The image library's writer gives every JPEG the
// encoder's default quality, whatever it is handed: JPEG goes straight to the encoder, with
// the quality as its parameter (as pagesnap-batch writes them).
bool SaveJpeg(HDC hdc, int nWidth, int nHeight, const char* szPath, int nQuality)
{
    using namespace Gdiplus;
    using namespace Gdiplus::DllExports;
    static const bool s_bStarted = [] {
        GdiplusStartupInput input;
        memset(&input, 0, sizeof input);
        input.GdiplusVersion = 1;
        ULONG_PTR token = 0;
        return GdiplusStartup(&token, &input, nullptr) == Ok;  // for the program's life
    }();
    if (!s_bStarted || nWidth <= 0 || nHeight <= 0)
        return false;
    // The rows as the encoder takes them: 32 bits, bottom-up, read from a copy of the surface.
    HDC hCopy = CreateCompatibleDC(hdc);
    HBITMAP hBitmap = hCopy ? CreateCompatibleBitmap(hdc, nWidth, nHeight) : nullptr;
    BITMAPINFO bi;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = nWidth;
    bi.bmiHeader.biHeight = nHeight;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<BYTE> bits;
    bool ok = false;
    if (hBitmap) {
        HGDIOBJ hOld = SelectObject(hCopy, hBitmap);
        BitBlt(hCopy, 0, 0, nWidth, nHeight, hdc, 0, 0, SRCCOPY);
        SelectObject(hCopy, hOld);
        try {
            bits.resize(size_t(nWidth) * 4 * size_t(nHeight));
            ok = GetDIBits(hCopy, hBitmap, 0, UINT(nHeight), bits.data(), &bi, DIB_RGB_COLORS) == nHeight;
        } catch (const std::bad_alloc&) {
            ok = false;
        }
        DeleteObject(hBitmap);
    }
    if (hCopy)
        DeleteDC(hCopy);
    GpBitmap* pBitmap = nullptr;
    if (!ok || GdipCreateBitmapFromGdiDib(&bi, bits.data(), &pBitmap) != Ok || !pBitmap)
        return false;
    CLSID clsid;
    const bool bFound = GetEncoderClsid(u"image/jpeg", &clsid);
    WCHAR wszPath[MAX_PATH];
    ok = bFound && MultiByteToWideChar(CP_ACP, 0, szPath, -1, wszPath, MAX_PATH) > 0;
    if (ok) {
        ULONG quality = ULONG(nQuality);
        EncoderParameters params;
        params.Count = 1;
        params.Parameter[0].Guid = EncoderQuality;
        params.Parameter[0].NumberOfValues = 1;
        params.Parameter[0].Type = 4;  // EncoderParameterValueTypeLong
        params.Parameter[0].Value = &quality;
        ok = GdipSaveImageToFile(pBitmap, wszPath, &clsid, &params) == Ok;
    }
    GdipDisposeImage(pBitmap);
    return ok;
}

}  // namespace

bool TfmMain::MakeOutputName(const char* szDocPath, int nPageNo, char* szOut, int nSize, const char* szSuffix)
{
    char szName[_MAX_FNAME];
    _splitpath(szDocPath, nullptr, nullptr, szName, nullptr);
    int n = snprintf(szOut, (size_t)nSize, "%s/%s%s_%d.%s", OptionSettings.OutputPath, szName, szSuffix ? szSuffix : "",
                     nPageNo, ImageExtension(OptionSettings.ImageType));
    if (n < 0 || n >= nSize) {
        szOut[0] = '\0';  // a name that does not fit is never shortened into another file's name
        return false;
    }
    return true;
}

bool TfmMain::MakeRunOutputName(const char* szDocPath, int nPageNo, char* szOut, int nSize)
{
    // report.doc and report.docx (or two report.doc of different folders) in one run: the
    // later document's pages take "<base>_<extension>_<page>" where the plain name is already
    // one of this run's pictures, and keep that suffix for the rest of the document.
    std::string& suffix = runSuffixes[szDocPath];
    char szExt[_MAX_EXT];
    _splitpath(szDocPath, nullptr, nullptr, nullptr, szExt);
    const std::string ext = szExt[0] == '.' ? szExt + 1 : szExt;
    for (int k = 1; k < 1000; ++k) {
        if (!MakeOutputName(szDocPath, nPageNo, szOut, nSize, suffix.c_str()))
            return false;
        if (!runPictures.count(szOut))
            return true;
        suffix = "_" + ext + (k > 1 || ext.empty() ? std::to_string(k + (ext.empty() ? 1 : 0)) : "");
    }
    szOut[0] = '\0';
    return false;
}

bool TfmMain::WritePicture(HDC hdc, int nWidth, int nHeight, const char* szPath)
{
    // The temporary name: hidden, in the picture's own folder (so that the rename replaces the
    // picture in one step), made exclusively and without following a link planted there.
    static unsigned s_nSerial = 0;
    const char* szSlash = strrchr(szPath, '/');
    const int nFolder = szSlash ? (int)(szSlash - szPath) + 1 : 0;
    char szTemp[MAX_PATH];
    bool bMade = false;
    for (int nTry = 0; nTry < 100 && !bMade; ++nTry) {
        int n = snprintf(szTemp, sizeof szTemp, "%.*s%s%u.%s", nFolder, szPath, TempNamePrefix(kTempPrefix).c_str(),
                         ++s_nSerial, ImageExtension(OptionSettings.ImageType));
        if (n < 0 || n >= (int)sizeof szTemp)
            return false;
        HANDLE hFile = CreateFileA(szTemp, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (hFile != INVALID_HANDLE_VALUE) {
            CloseHandle(hFile);
            bMade = true;
        } else if (GetLastError() != ERROR_FILE_EXISTS) {
            return false;
        }
    }
    if (!bMade)
        return false;
    // Pixmill missing, a full disk or a folder removed during the run: no picture at all, and
    // the one of an earlier run stays as it was.
    const bool bWritten = ImageExtension(OptionSettings.ImageType)[0] == 'j'
                              ? SaveJpeg(hdc, nWidth, nHeight, szTemp, OptionSettings.JpegQuality)
                              : PictureLibCaptureDC(hdc, 0, 0, nWidth, nHeight, szTemp, OptionSettings.JpegQuality) != 0;
    if (!bWritten ||
        !MoveFileExA(szTemp, szPath, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(szTemp);
        return false;
    }
    return true;
}

void TfmMain::BeginRun()
{
    // Pictures of a run that crashed or was killed before it could rename or remove them.
    RemoveStaleTempFiles(OptionSettings.OutputPath, kTempPrefix, "Pagesnap");
    failedPages = 0;
    failedDocuments.clear();
    unopenedDocuments = 0;
    runPictures.clear();
    runSuffixes.clear();
}

bool TfmMain::PagePixels(CxWordDoc* pDoc, int nDpi, POINT* pSize)
{
    SIZEL extent;
    if (!pDoc || !pSize || nDpi <= 0 || !pDoc->GetPageExtent(&extent))
        return false;
    // HIMETRIC (0.01 mm) to pixels, a part pixel at the edge counting whole so that the
    // picture covers the page: the rule of pagesnap-batch, so that both make the same sizes.
    const long long w = ((long long)extent.cx * nDpi + 2539) / 2540;
    const long long h = ((long long)extent.cy * nDpi + 2539) / 2540;
    if (w <= 0 || h <= 0 || w > INT32_MAX || h > INT32_MAX)
        return false;
    pSize->x = (LONG)w;
    pSize->y = (LONG)h;
    return true;
}

bool TfmMain::ConvertPageInto(CxWordDoc* pDoc, int nIndex)
{
    if (!pDoc->SelectPage(nIndex))
        return false;
    char szPath[MAX_PATH];
    if (!MakeRunOutputName(pDoc->GetPath(), nIndex + 1, szPath, MAX_PATH))
        return false;
    HDC hScreen = GetDC(nullptr);
    if (!hScreen)
        return false;
    POINT size;
    bool ok = PagePixels(pDoc, OptionSettings.Resolution, &size);
    HDC hMem = ok ? CreateCompatibleDC(hScreen) : nullptr;
    HBITMAP hBitmap = hMem ? CreateCompatibleBitmap(hScreen, size.x, size.y) : nullptr;
    ok = hBitmap != nullptr;
    if (ok) {
        RECT r = {0, 0, size.x, size.y};
        HGDIOBJ hOld = SelectObject(hMem, hBitmap);
        // The whole page drawn at the picture's size (not the screen's, then cut); a page that
        // was not drawn leaves no picture (it would be a white one).
        ok = pDoc->RenderPage(nIndex, hMem, &r) && WritePicture(hMem, size.x, size.y, szPath);
        SelectObject(hMem, hOld);
        DeleteObject(hBitmap);
    }
    if (hMem)
        DeleteDC(hMem);
    ReleaseDC(nullptr, hScreen);
    if (ok)
        runPictures.insert(szPath);
    return ok;
}

bool TfmMain::ConvertPage(CxWordDoc* pDoc, int nIndex)
{
    if (!pDoc)
        return false;
    if (ConvertPageInto(pDoc, nIndex))
        return true;
    ++failedPages;
    failedDocuments.insert(pDoc->GetPath());
    return false;
}

// The common frame of the three runs over the rows of a list.
void TfmMain::RunOverRows(QTreeWidget* pList, bool bCheckedOnly, const std::function<bool(int)>& convert)
{
    isConverting = true;
    ShowProgress(true);
    const int nRows = pList->topLevelItemCount();
    int nItems = nRows;
    if (bCheckedOnly) {
        nItems = 0;
        for (int i = 0; i < nRows; ++i)
            nItems += pList->topLevelItem(i)->checkState(0) == Qt::Checked;
    }
    int nDone = 0;
    for (int i = 0; i < nRows && nItems > 0; ++i) {
        QTreeWidgetItem* pRow = pList->topLevelItem(i);
        if (!pRow || (bCheckedOnly && pRow->checkState(0) != Qt::Checked))
            continue;
        const bool ok = convert(i);
        ++nDone;
        pbMain->setValue(nDone * 100 / nItems);
        pbMain->repaint();  // no events are processed during a run: paint the step now
        if (bCheckedOnly && ok)
            pRow->setCheckState(0, Qt::Unchecked);  // a failed row stays ticked for another try
    }
    isConverting = false;
    ShowProgress(false);
}

void TfmMain::ConvertAllPages()
{
    if (!currentDoc)
        return;
    EnsureWorkFolders();
    BeginRun();
    RunOverRows(ui->lvPages, false, [this](int i) { return ConvertPage(currentDoc, i); });
}

void TfmMain::ConvertCheckedPages()
{
    if (!currentDoc)
        return;
    EnsureWorkFolders();
    BeginRun();
    RunOverRows(ui->lvPages, true, [this](int i) { return ConvertPage(currentDoc, i); });
}

void TfmMain::ConvertCheckedDocuments() { StartBatchRun(); }

void TfmMain::ShowProgress(bool bStarting)
{
    if (bStarting) {
        pbMain->setValue(0);
        pbMain->show();
        pbMain->repaint();
    } else {
        pbMain->setValue(100);
        pbMain->repaint();
        Sleep(200);  // let the full bar be seen
        pbMain->hide();
    }
    UpdateButtons();
}

void TfmMain::UpdateButtons()
{
    bool bPages = currentDoc && ui->lvPages->topLevelItemCount() > 0 && !isConverting && !isOpening;
    bool bFiles = ui->lvFile->topLevelItemCount() > 0 && !isConverting;
    ui->btnAll->setEnabled(bPages);
    ui->btnSel->setEnabled(bPages);
    ui->btnOne->setEnabled(bPages);
    // During a batch run Convert cancels it, and the list keeps the documents it converts.
    ui->btnConvert->setEnabled(bFiles || batchRun);
    for (QWidget* pButton : {(QWidget*)ui->btnAddFile, (QWidget*)ui->btnAddDir, (QWidget*)ui->btnDel})
        pButton->setEnabled(!isConverting);
    ui->mnuFileAddMore->setEnabled(!isConverting);
    ui->mnuFileAddFolder->setEnabled(!isConverting);
    // A run's pictures take the format and folder it began with: not changed under it.
    ui->mnuToolOption->setEnabled(!isConverting);
    ui->btnAll->setText("Convert All Pages");
    ui->btnSel->setText("Convert Selected Pages");
    ui->btnOne->setText("Convert This Page");
    ui->btnConvert->setText(batchRun ? "Cancel" : "Convert");
}

void TfmMain::ShowDoneMessage()
{
    char szText[1024];
    int n = snprintf(szText, sizeof szText,
                     "The conversion was done, please browse the \"%s\" folder for the generated image files.",
                     OptionSettings.OutputPath);
    // Failures are told, never passed off as done: how many pages of how many documents, and
    // the documents that could not be opened at all.
    const bool bFailed = failedPages > 0 || unopenedDocuments > 0;
    if (failedPages > 0 && n > 0 && n < (int)sizeof szText) {
        const int nDocs = (int)failedDocuments.size();
        n += snprintf(szText + n, sizeof szText - (size_t)n, "\n\n%d page%s of %d document%s could not be converted.",
                      failedPages, failedPages == 1 ? "" : "s", nDocs, nDocs == 1 ? "" : "s");
    }
    if (unopenedDocuments > 0 && n > 0 && n < (int)sizeof szText)
        snprintf(szText + n, sizeof szText - (size_t)n, "%s%d document%s could not be opened.",
                 failedPages > 0 ? " " : "\n\n", unopenedDocuments, unopenedDocuments == 1 ? "" : "s");
    int nAnswer = MessageBoxA(platform::ui::WindowOf(this), szText, "Conversion Done",
                              MB_OKCANCEL | (bFailed ? MB_ICONWARNING : MB_ICONINFORMATION));
    if (nAnswer == IDOK) {
        // A file URL of the folder: "Folium Converter" must reach the opener as one name.
        std::string target = "file://";
        for (const char* p = OptionSettings.OutputPath; *p; ++p) {
            const unsigned char c = (unsigned char)*p;
            if (isalnum(c) || strchr("/-._~", c)) {
                target += (char)c;
            } else {
                char hex[4];
                snprintf(hex, sizeof hex, "%%%02X", c);
                target += hex;
            }
        }
        ShellOpen(target.c_str());
    }
}

// ---- single-document view ------------------------------------------------------------------

bool TfmMain::LoadDocument(const char* szPath)
{
    SetWaitCursor();
    CxWordDoc* pDoc = PrepareOpen(szPath) ? wordUtil->OpenDocument(szPath) : nullptr;
    if (!pDoc) {
        UpdateButtons();
        SetNormalCursor();
        return false;
    }
    ShowOpened(pDoc);
    SetNormalCursor();
    return true;
}

bool TfmMain::PrepareOpen(const char* szPath)
{
    EnsureWorkFolders();
    // The shown document is closed when another replaces it: the engine's chance to be replaced.
    if (engineDue && currentDoc && strcmp(currentDoc->GetPath(), szPath) != 0) {
        wordView->SetDocument(nullptr);
        ui->lvPages->clear();
        ui->lblFontMark->setVisible(false);
        currentDoc = nullptr;
        ReplaceEngineIfDue();
    }
    return EnsureWordUtil() && wordUtil;
}

void TfmMain::ShowOpened(CxWordDoc* pDoc)
{
    const bool bOther = pDoc != currentDoc;
    wordView->SetDocument(pDoc);
    FillPageList();
    currentDoc = pDoc;
    const FontMark mark = FontMarkOf(pDoc);
    ui->lblFontMark->setText(mark.text);
    ui->lblFontMark->setToolTip(mark.tooltip);
    ui->lblFontMark->setVisible(!mark.IsEmpty());
    if (bOther)
        EngineDocumentDone();
    UpdateButtons();
}

bool TfmMain::EnsureWordUtil()
{
    if (wordUtil)
        return true;
    // An office suite older than the engine needs is said once, naming both versions, and no
    // engine is started (pagesnap-batch gives the same reason as its engine_problem).
    if (!engineChecked) {
        engineChecked = true;
        const wordengine::EngineVersionInfo engine = wordengine::InstalledEngine();
        engineTooOld = wordengine::EngineVersionProblem(engine.name, engine.version, wordengine::NeededEngineVersion());
        if (!engineTooOld.empty()) {
            std::string text = engineTooOld;
            text[0] = char(toupper((unsigned char)text[0]));
            MessageBoxA(platform::ui::WindowOf(this), (text + ".").c_str(), "Document engine", MB_OK | MB_ICONWARNING);
        }
    }
    if (!engineTooOld.empty())
        return false;
    PassFontsToEngine();
    engineLimit = CxEngineLimit(OptionSettings.EngineMemory, OptionSettings.EngineDocuments);
    wordUtil = new CxWordUtil;
    return true;
}

void TfmMain::EngineDocumentDone()
{
    if (wordUtil && engineLimit.DocumentDone(engineLimit.WatchesMemory() ? CxEngineLimit::OwnEngine() : 0))
        engineDue = true;
}

// Only while no document is shown: the shown one lives in the engine, and its view and page
// list with it. Otherwise the engine is replaced once that document is closed.
void TfmMain::ReplaceEngineIfDue()
{
    if (!engineDue || !wordUtil || currentDoc)
        return;
    delete wordUtil;
    wordUtil = nullptr;
    engineDue = false;
}

void TfmMain::FillPageList()
{
    CxWordDoc* pDoc = wordView->GetDocument();
    if (!pDoc)
        return;
    ui->lvPages->clear();
    for (int i = 0; i < pDoc->GetPageCount(); ++i) {
        auto* pRow = new QTreeWidgetItem(ui->lvPages);
        pRow->setText(0, QString::asprintf("Page: %d", i + 1));
        pRow->setCheckState(0, Qt::Unchecked);
    }
}

void TfmMain::btnBrowseClick()
{
    const std::string name = ui->edtName->text().toStdString();
    if (!name.empty()) {
        BeginOpen(name);
        return;
    }
    dlgOpen->Filter = "Word Documents (*.doc, *.docx)|*.doc;*.docx";
    if (dlgOpen->Execute())
        BeginOpen(dlgOpen->FileName);
}

void TfmMain::mnuFileOpenOneClick()
{
    dlgOpen->Filter = "Word Documents (*.doc, *.docx)|*.doc;*.docx";
    if (dlgOpen->Execute())
        BeginOpen(dlgOpen->FileName);
}

void TfmMain::lvPagesClick()
{
    QTreeWidgetItem* pRow = ui->lvPages->currentItem();
    if (currentDoc && pRow && pRow->isSelected())
        wordView->ShowPage(ui->lvPages->indexOfTopLevelItem(pRow));
}

void TfmMain::btnSelPageClick()
{
    int nRows = ui->lvPages->topLevelItemCount();
    if (nRows == 0)
        return;
    for (int i = 0; i < nRows; ++i)
        ui->lvPages->topLevelItem(i)->setCheckState(0, selectAllNext ? Qt::Checked : Qt::Unchecked);
    ui->btnSelPage->setText(selectAllNext ? "Clear &All" : "Select &All");
    selectAllNext = !selectAllNext;
}

void TfmMain::RunCommand(void (TfmMain::*run)())
{
    SetWaitCursor();
    (this->*run)();
    SetNormalCursor();
    ShowDoneMessage();
}

void TfmMain::btnAllClick()
{
    if (!currentDoc || ui->lvPages->topLevelItemCount() == 0 || isConverting)
        return;
    RunCommand(&TfmMain::ConvertAllPages);
}

void TfmMain::btnSelClick()
{
    if (!currentDoc || ui->lvPages->topLevelItemCount() == 0 || isConverting)
        return;
    RunCommand(&TfmMain::ConvertCheckedPages);
}

void TfmMain::btnOneClick()
{
    if (!currentDoc || ui->lvPages->topLevelItemCount() == 0)
        return;
    QTreeWidgetItem* pRow = ui->lvPages->currentItem();
    if (!pRow || !pRow->isSelected()) {
        pRow = ui->lvPages->topLevelItem(0);
        const QSignalBlocker block(ui->lvPages);  // selecting here does not move the preview
        ui->lvPages->setCurrentItem(pRow);
    }
    EnsureWorkFolders();
    BeginRun();
    ConvertPage(currentDoc, ui->lvPages->indexOfTopLevelItem(pRow));
    ShowDoneMessage();
}

// ---- multi-document view -------------------------------------------------------------------

void TfmMain::btnAddFileClick()
{
    dlgOpen->Filter = "MS Word Documents (*.doc, *.docx)|*.doc;*.docx";
    if (!dlgOpen->Execute() || dlgOpen->Files.empty())
        return;
    SetWaitCursor();
    for (const std::string& path : dlgOpen->Files)
        docFileMgr->AddFile(path.c_str());
    AppendFileRows();
    UpdateButtons();
    SetNormalCursor();
}

void TfmMain::btnAddDirClick()
{
    char szFolder[MAX_PATH] = "";
    BROWSEINFOA bi = {};
    bi.hwndOwner = platform::ui::WindowOf(this);
    bi.pszDisplayName = szFolder;
    bi.lpszTitle = "Add Document Directory";
    PIDLIST_ABSOLUTE pidl = SHBrowseForFolderA(&bi);
    if (!pidl)
        return;
    // A pick without a file-system path (a virtual folder) adds nothing.
    bool bPath = SHGetPathFromIDListA(pidl, szFolder);
    ILFree(pidl);
    if (!bPath)
        return;
    SetWaitCursor();
    docFileMgr->AddFolder(szFolder);
    AppendFileRows();
    UpdateButtons();
    SetNormalCursor();
}

void TfmMain::AppendFileRows()
{
    int nShown = ui->lvFile->topLevelItemCount();
    if (nShown >= docFileMgr->GetCount())
        return;
    ui->lvFile->setUpdatesEnabled(false);
    for (DocFileInfo* pInfo = docFileMgr->GetAt(nShown); pInfo; pInfo = docFileMgr->GetNext())
        AddFileRow(pInfo);
    ui->lvFile->setUpdatesEnabled(true);
}

void TfmMain::AddFileRow(DocFileInfo* pInfo)
{
    if (!pInfo)
        return;
    auto* pRow = new QTreeWidgetItem(ui->lvFile);
    pRow->setText(0, QString::fromUtf8(pInfo->szPath));
    pRow->setText(1, QString::asprintf("%d", pInfo->nSize));
    const SYSTEMTIME& st = pInfo->stModified;
    pRow->setText(2, QString::asprintf("%02d/%02d/%04d %02d:%02d:%02d", st.wMonth, st.wDay, st.wYear, st.wHour,
                                       st.wMinute, st.wSecond));
    pRow->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(pInfo)));
    pRow->setCheckState(0, Qt::Checked);
}

void TfmMain::btnDelClick()
{
    ui->lvFile->setUpdatesEnabled(false);
    for (int i = 0; i < ui->lvFile->topLevelItemCount();) {
        QTreeWidgetItem* pRow = ui->lvFile->topLevelItem(i);
        if (pRow->checkState(0) != Qt::Checked) {
            ++i;
            continue;
        }
        docFileMgr->RemoveFile(static_cast<DocFileInfo*>(pRow->data(0, Qt::UserRole).value<void*>()));
        delete pRow;
    }
    ui->lvFile->setUpdatesEnabled(true);
    UpdateButtons();
}

void TfmMain::SetAllFileTicks(bool bTicked)
{
    for (int i = 0; i < ui->lvFile->topLevelItemCount(); ++i)
        ui->lvFile->topLevelItem(i)->setCheckState(0, bTicked ? Qt::Checked : Qt::Unchecked);
}

void TfmMain::btnConvertClick()
{
    if (batchRun) {
        EndBatchRun(true);
        return;
    }
    if (isConverting)
        return;
    // The run goes on after this returns; its end shows the completion message.
    ConvertCheckedDocuments();
}

void TfmMain::ConnectConvertCommands()
{
    connect(ui->btnBrowse, &QPushButton::clicked, this, [this] { btnBrowseClick(); });
    connect(ui->mnuFileOpenOne, &QAction::triggered, this, [this] { mnuFileOpenOneClick(); });
    // Mouse clicks only: moving the selection with the keyboard keeps the preview's page.
    connect(ui->lvPages, &QTreeWidget::itemClicked, this, [this] { lvPagesClick(); });
    connect(ui->btnSelPage, &QPushButton::clicked, this, [this] { btnSelPageClick(); });
    connect(ui->btnAll, &QPushButton::clicked, this, [this] { btnAllClick(); });
    connect(ui->btnSel, &QPushButton::clicked, this, [this] { btnSelClick(); });
    connect(ui->btnOne, &QPushButton::clicked, this, [this] { btnOneClick(); });
    connect(ui->btnAddFile, &QPushButton::clicked, this, [this] { btnAddFileClick(); });
    connect(ui->mnuFileAddMore, &QAction::triggered, this, [this] { btnAddFileClick(); });
    connect(ui->btnAddDir, &QPushButton::clicked, this, [this] { btnAddDirClick(); });
    connect(ui->mnuFileAddFolder, &QAction::triggered, this, [this] { btnAddDirClick(); });
    connect(ui->btnDel, &QPushButton::clicked, this, [this] { btnDelClick(); });
    connect(ui->btnSelAll, &QPushButton::clicked, this, [this] { SetAllFileTicks(true); });
    connect(ui->btnClear, &QPushButton::clicked, this, [this] { SetAllFileTicks(false); });
    connect(ui->btnConvert, &QPushButton::clicked, this, [this] { btnConvertClick(); });
}
