// The main window offscreen: the resize refusal and rules, view switching and its ticks, the
// close question, and the shut-down's order of work.
#include "app/DocFileMgr.h"
#include "app/OpenDialog.h"
#include "app/OptionSettings.h"
#include "word/TempFolder.h"
#include "app/TfmAbout.h"
#include "app/TfmMain.h"
#include "app/TfmOption.h"
#include "ui_TfmOption.h"
#include "common/misc/WinUtil.h"
#include "word/CxWordUtil.h"
#include "word/CxWordView.h"

#include "QtApp.h"
#include "TempDir.h"
#include "platform/internal/ui.h"
#include "ui_TfmMain.h"

#include <comobject.h>
#include <objbase.h>
#include <oleclasses.h>
#include <windows.h>

#include <QComboBox>
#include <QProgressBar>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>

// A class object for Word.Application that refuses every instance: a Word instance that
// never started, without a word processor on the machine.
class RefusingFactory : public com::Object<com::Answers<IClassFactory, &IID_IClassFactory>> {
public:
    void LastReleased() override {}  // a static object
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void** ppv) override
    {
        if (ppv)
            *ppv = nullptr;
        return E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

class TfmMainTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        CoInitialize(nullptr);
        platform::ui::SetMessageBoxHook([this](const platform::ui::MessageBoxRequest& r) {
            boxes.push_back(r);
            return answer;
        });
        w = new TfmMain;
        w->show();
        Settle();
    }
    void TearDown() override
    {
        delete w;
        platform::ui::SetMessageBoxHook(nullptr);
        CoUninitialize();
    }
    void Settle()
    {
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
    }
    void ViewOne() { w->mnuViewOneClick(); }
    void SetConverting(bool b) { w->isConverting = b; }
    bool HasWordUtil() { return w->wordUtil != nullptr; }
    void MakeWordUtil() { w->wordUtil = new CxWordUtil; }
    bool HasDocFileMgr() { return w->docFileMgr != nullptr; }
    CxWordView* View() { return w->wordView; }

    TfmMain* w = nullptr;
    std::vector<platform::ui::MessageBoxRequest> boxes;
    int answer = IDCANCEL;
};

namespace {

TEST_F(TfmMainTest, StartsInTheMultiDocumentViewWithItsDesignedControls)
{
    EXPECT_EQ("Orvell Folium Converter", w->windowTitle());
    EXPECT_EQ(w->ui->tMore, w->ui->pcMain->currentWidget());
    EXPECT_TRUE(w->ui->mnuViewMore->isChecked());
    EXPECT_FALSE(w->ui->mnuViewOne->isChecked());
    EXPECT_FALSE(w->ui->tOne->isEnabled()) << "the inactive page is disabled";
    EXPECT_FALSE(w->pbMain->isVisible());
    EXPECT_EQ("Convert &Now", w->ui->btnConvert->text());
    EXPECT_EQ("Single Word Document Processing", w->ui->pcMain->tabText(0));
    EXPECT_EQ("Multiple Word Documents Processing", w->ui->pcMain->tabText(1));
    EXPECT_EQ(4, w->ui->lvFile->columnCount()) << "name, size, time and the run's state";
    EXPECT_EQ("State", w->ui->lvFile->headerItem()->text(3));
    EXPECT_EQ(500, w->ui->lvFile->columnWidth(0));
    EXPECT_TRUE(HasDocFileMgr());
    EXPECT_FALSE(HasWordUtil()) << "Word is not started at start";
    ASSERT_NE(nullptr, View());
    EXPECT_TRUE(IsWindow(View()->GetHandle()));
    EXPECT_EQ(w->ui->pWord, platform::ui::WidgetOf(View()->GetHandle())->parentWidget());
}

// Settings that cannot be kept (an installed program, a home that takes nothing) are said to be
// so once, after the window shows; a usable place says nothing (the fixture's window).
TEST_F(TfmMainTest, SaysOnceThatSettingsWillNotBeKept)
{
    EXPECT_TRUE(boxes.empty());
    TempDir t;
    const std::string file = t / "home-file";
    std::ofstream(file) << "x";
    std::map<std::string, std::optional<std::string>> saved;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "TMPDIR"}) {
        const char* v = getenv(name);
        saved[name] = v ? std::optional<std::string>(v) : std::nullopt;
    }
    setenv("HOME", file.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    setenv("TMPDIR", t.Path().c_str(), 1);
    SetSettingsProgramFolder("/usr/lib/folium-converter/");
    const TOptionSettings keep = OptionSettings;  // the fixture's window saves them at its end
    auto* other = new TfmMain;
    other->show();
    Settle();
    Settle();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Information", boxes[0].caption);
    EXPECT_NE(std::string::npos, boxes[0].text.find(file + "/.config/folium-converter/")) << boxes[0].text;
    EXPECT_EQ(platform::ui::WindowOf(other), boxes[0].owner);
    delete other;
    SetSettingsProgramFolder(nullptr);
    OptionSettings = keep;
    for (const auto& [name, value] : saved)
        value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
}

TEST_F(TfmMainTest, ResizeBelowTheMinimumIsRefusedAsAWhole)
{
    w->resize(1000, 700);
    Settle();
    ASSERT_EQ(QSize(1000, 700), w->size());
    struct Row {
        int width, height;
    } rows[] = {{700, 900}, {1200, 500}, {799, 700}, {1000, 599}, {300, 200}};
    for (auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.width << " x " << r.height);
        w->resize(r.width, r.height);
        Settle();
        EXPECT_EQ(QSize(1000, 700), w->size()) << "both dimensions kept";
    }
    w->resize(800, 600);
    Settle();
    EXPECT_EQ(QSize(800, 600), w->size()) << "the minimum itself is accepted";
}

TEST_F(TfmMainTest, GrowingMovesTheConvertButtonsAndKeepsThePreviewNarrower)
{
    ViewOne();
    Settle();
    for (QSize size : {QSize(1200, 800), QSize(1500, 950), QSize(820, 610)}) {
        SCOPED_TRACE(testing::Message() << size.width() << " x " << size.height());
        w->resize(size);
        Settle();
        const int pw = w->ui->tOne->width(), ph = w->ui->tOne->height();
        EXPECT_EQ(160, w->ui->btnSel->x() - w->ui->btnAll->x());
        EXPECT_EQ(160, w->ui->btnOne->x() - w->ui->btnSel->x());
        EXPECT_EQ(pw - 210, w->ui->btnOne->x());
        EXPECT_EQ(ph - 45, w->ui->btnAll->y());
        EXPECT_EQ(ph - 45, w->ui->btnSelPage->y());
        EXPECT_EQ(180, pw - w->ui->pWord->width());
        EXPECT_EQ(ph - 115, w->ui->pWord->height());
        EXPECT_EQ(ph - 115, w->ui->lvPages->height());
        EXPECT_EQ(w->ui->pWord->geometry().right(), w->ui->cbZoom->geometry().right()) << "the zoom box ends with the preview";
        EXPECT_EQ(w->ui->pTop->width() - 120, w->ui->btnExit->x());
        EXPECT_EQ(w->ui->btnExit->x() - 120, w->ui->btnHelp->x());
        // The preview follows its panel with a 1-pixel margin.
        QRect preview = platform::ui::WidgetOf(View()->GetHandle())->geometry();
        EXPECT_EQ(QRect(1, 1, w->ui->pWord->width() - 2, w->ui->pWord->height() - 2), preview);
        QRect sb = w->ui->sbMain->geometry();
        EXPECT_EQ(QRect(sb.left(), sb.top() + 1, sb.width() - 1, 12), w->pbMain->geometry());
    }
}

// The preview's zoom is offered in the single-document view only, and kept from one start of
// the program to the next (the settings file beside the program).
TEST_F(TfmMainTest, TheZoomIsOfferedWithThePreviewAndKeptAcrossStarts)
{
    EXPECT_FALSE(w->ui->mnuViewFitPage->isEnabled()) << "the batch view shows no page";
    ViewOne();
    EXPECT_TRUE(w->ui->mnuViewFitPage->isEnabled());
    EXPECT_EQ(CxWordView::kZoomFitWidth, View()->GetZoom()) << "a new user's zoom";
    w->ui->mnuViewFitPage->trigger();
    EXPECT_EQ(CxWordView::kZoomFitPage, View()->GetZoom());
    w->FormDestroy();  // the program's shut-down writes the settings
    char szFolder[MAX_PATH];
    GetModuleFolder(nullptr, szFolder);
    EXPECT_NE(std::string::npos, ReadWhole(std::string(szFolder) + "folium.ini").find("Zoom=-1\n"));

    auto* next = new TfmMain;
    EXPECT_EQ("Fit Page", next->ui->cbZoom->currentText().toStdString());
    next->ui->cbZoom->setCurrentIndex(next->ui->cbZoom->findData(CxWordView::kZoomFitWidth));
    emit next->ui->cbZoom->activated(next->ui->cbZoom->currentIndex());
    next->FormDestroy();
    delete next;
    EXPECT_EQ(CxWordView::kZoomFitWidth, OptionSettings.Zoom);
}

TEST_F(TfmMainTest, TheBatchViewStretchesItsListAndKeepsButtonsAtTheBottom)
{
    w->resize(1300, 900);
    Settle();
    const int pw = w->ui->tMore->width(), ph = w->ui->tMore->height();
    EXPECT_EQ(pw - 60, w->ui->lvFile->width());
    EXPECT_EQ(ph - 125, w->ui->lvFile->height());
    for (QWidget* b : {(QWidget*)w->ui->btnSelAll, (QWidget*)w->ui->btnClear, (QWidget*)w->ui->btnConvert})
        EXPECT_EQ(ph - 55, b->y()) << b->objectName().toStdString();
    EXPECT_EQ(24, w->ui->btnSelAll->x()) << "left positions stay";
    EXPECT_EQ(788, w->ui->btnConvert->x());
}

TEST_F(TfmMainTest, ATabClickLeavesTheViewMenuTicksAlone)
{
    QTabBar* tabs = w->ui->pcMain->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, Qt::NoModifier, tabs->tabRect(0).center());
    Settle();
    EXPECT_EQ(w->ui->tOne, w->ui->pcMain->currentWidget());
    EXPECT_TRUE(w->ui->tOne->isEnabled());
    EXPECT_FALSE(w->ui->tMore->isEnabled());
    EXPECT_TRUE(w->ui->mnuViewMore->isChecked()) << "still the view last chosen by menu";
    EXPECT_FALSE(w->ui->mnuViewOne->isChecked());

    w->ui->mnuViewOne->trigger();
    EXPECT_TRUE(w->ui->mnuViewOne->isChecked());
    EXPECT_FALSE(w->ui->mnuViewMore->isChecked());
    w->ui->mnuViewOne->trigger();  // choosing the ticked view again keeps its tick
    EXPECT_TRUE(w->ui->mnuViewOne->isChecked());
    w->ui->mnuViewMore->trigger();
    EXPECT_EQ(w->ui->tMore, w->ui->pcMain->currentWidget());
    EXPECT_FALSE(w->ui->mnuViewOne->isChecked());
    EXPECT_TRUE(w->ui->mnuViewMore->isChecked());
}

TEST_F(TfmMainTest, ClosingDuringARunAsksAndOnlyYesCloses)
{
    EXPECT_TRUE(w->close()) << "idle: no question";
    EXPECT_TRUE(boxes.empty());
    w->show();

    SetConverting(true);
    for (int a : {IDCANCEL, IDNO}) {
        SCOPED_TRACE(a);
        answer = a;
        boxes.clear();
        EXPECT_FALSE(w->close());
        EXPECT_TRUE(w->isVisible());
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ("The document conversion is running now, are you sure to quit?", boxes[0].text);
        EXPECT_EQ("Question", boxes[0].caption);
        EXPECT_EQ((UINT)(MB_YESNOCANCEL | MB_ICONQUESTION), boxes[0].type);
        EXPECT_EQ(platform::ui::WindowOf(w), boxes[0].owner);
    }
    answer = IDYES;
    EXPECT_TRUE(w->close());
    SetConverting(false);
}

// The shut-down, observed through its effects: the settings file, a stand-in "taskkill"
// first on the search path that notes its arguments, and the temporary folder.
class ShutdownTest : public TfmMainTest {
protected:
    void SetUp() override
    {
        // The shut-down writes the settings file beside the test program: keep the old one.
        char szFolder[MAX_PATH];
        GetModuleFolder(nullptr, szFolder);
        ini = std::string(szFolder) + "folium.ini";
        hadIni = std::filesystem::exists(ini);
        if (hadIni)
            oldIni = ReadWhole(ini);
        TfmMainTest::SetUp();
        marker = bin / "taskkill-ran";
        std::string script = "#!/bin/sh\necho \"$@\" > '" + marker + "'\n";
        bin.Write("taskkill", script);
        chmod((bin / "taskkill").c_str(), 0755);
        oldPath = getenv("PATH") ? getenv("PATH") : "";
        setenv("PATH", (bin.Path() + ":" + oldPath).c_str(), 1);
        snprintf(OptionSettings.TempPath, MAX_PATH, "%s", temp.Path().c_str());
        CxWordUtil::SetTempFolder(OptionSettings.TempPath, sizeof OptionSettings.TempPath);
        temp.Write("letter_temp_1.docx", "t");
        temp.Write("report.doc", "the user's");
        CoRegisterClassObject(CLSID_WordApplication, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    }
    void TearDown() override
    {
        CoRevokeClassObject(cookie);
        setenv("PATH", oldPath.c_str(), 1);
        TfmMainTest::TearDown();
        if (hadIni)
            std::ofstream(ini, std::ios::binary | std::ios::trunc) << oldIni;
        else
            std::filesystem::remove(ini);
    }
    bool Ran() { return std::filesystem::exists(marker); }

    TempDir bin, temp;
    std::string marker, oldPath, ini, oldIni;
    bool hadIni = false;
    RefusingFactory factory;
    DWORD cookie = 0;
};

TEST_F(ShutdownTest, WithoutAWordInstanceNoTaskkillWhateverTheSetting)
{
    OptionSettings.CleanWord = true;
    OptionSettings.ImageType = 7;
    // The run's private folder with a document's temporary files.
    char docFolder[MAX_PATH];
    ASSERT_TRUE(MakeDocumentTempFolder(temp.Path().c_str(), docFolder, sizeof docFolder));
    std::ofstream(std::string(docFolder) + "letter_temp_1.docx") << "t";
    w->FormDestroy();
    EXPECT_FALSE(Ran());
    EXPECT_FALSE(HasDocFileMgr());
    EXPECT_FALSE(std::filesystem::exists(docFolder)) << "the run's temporary documents go";
    EXPECT_EQ((std::set<std::string>{"letter_temp_1.docx", "report.doc"}), [&] {
        std::set<std::string> names;
        for (auto& e : std::filesystem::directory_iterator(temp.Path()))
            names.insert(e.path().filename().string());
        return names;
    }()) << "the user's files stay, also one named as a temporary document";
    EXPECT_NE(std::string::npos, ReadWhole(ini).find("ImageType=7"))
        << "settings saved";
    w->FormDestroy();  // once only
    EXPECT_FALSE(Ran());
}

TEST_F(ShutdownTest, AWordInstanceIsEndedAndTaskkillRunsOnlyWithCleanWord)
{
    OptionSettings.CleanWord = false;
    MakeWordUtil();
    w->FormDestroy();
    EXPECT_FALSE(HasWordUtil());
    EXPECT_FALSE(Ran()) << "CleanWord off";
}

TEST_F(ShutdownTest, AWordInstanceWithCleanWordRunsTaskkillForWinword)
{
    OptionSettings.CleanWord = true;
    MakeWordUtil();
    w->FormDestroy();
    EXPECT_FALSE(HasWordUtil());
    ASSERT_TRUE(Ran());
    EXPECT_EQ("-F -IM winword.exe\n", ReadWhole(marker));
}

TEST_F(TfmMainTest, TheOpenDialogTakesTheFormLibrarysFilterSyntax)
{
    std::vector<platform::ui::FileDialogRequest> seen;
    std::string pick;
    platform::ui::SetFileDialogHook([&](const platform::ui::FileDialogRequest& r, std::string* path) {
        seen.push_back(r);
        *path = pick;
        return !pick.empty();
    });
    w->dlgOpen->Filter = "Word Documents (*.doc, *.docx)|*.doc;*.docx";
    w->dlgOpen->FileName = "/earlier.doc";
    EXPECT_FALSE(w->dlgOpen->Execute()) << "cancelled";
    EXPECT_EQ("/earlier.doc", w->dlgOpen->FileName);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(platform::ui::WindowOf(w), seen[0].owner) << "owned by the main window";
    ASSERT_EQ(1u, seen[0].filters.size());
    EXPECT_EQ("Word Documents (*.doc, *.docx)", seen[0].filters[0].first);
    EXPECT_EQ("*.doc;*.docx", seen[0].filters[0].second);

    pick = "/docs/Chosen.DOCX";
    w->dlgOpen->Filter = "MS Word Documents (*.doc, *.docx)|*.doc;*.docx|All files|*";
    EXPECT_TRUE(w->dlgOpen->Execute());
    EXPECT_EQ(pick, w->dlgOpen->FileName);
    EXPECT_EQ(std::vector<std::string>{pick}, w->dlgOpen->Files);
    ASSERT_EQ(2u, seen[1].filters.size());
    EXPECT_EQ("*", seen[1].filters[1].second);
    platform::ui::SetFileDialogHook(nullptr);

    EXPECT_EQ(std::string("A\0*.a\0\0", 7), TOpenDialog::SystemFilter("A|*.a"));
}

TEST_F(TfmMainTest, OptionsCommandShowsTheFilledDialogOwnedByTheWindow)
{
    OptionSettings.ImageType = 3;
    snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", "/shown/out");
    QString shownOutput;
    bool pngChecked = false;
    QWidget* parent = nullptr;
    QTimer::singleShot(0, [&] {
        auto* dlg = qobject_cast<TfmOption*>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        shownOutput = dlg->ui->edtDirOutput->text();
        pngChecked = dlg->ui->rbtnPNG->isChecked();
        parent = dlg->parentWidget();
        dlg->ui->rbtnBMP->setChecked(true);
        QTest::mouseClick(dlg->ui->btnCancel, Qt::LeftButton);
    });
    w->ui->mnuToolOption->trigger();  // returns when the dialog closes
    EXPECT_EQ("/shown/out", shownOutput);
    EXPECT_TRUE(pngChecked);
    EXPECT_EQ(w, parent);
    EXPECT_EQ(3, OptionSettings.ImageType) << "cancelled";
    EXPECT_EQ(nullptr, w->findChild<TfmOption*>()) << "destroyed after use";
}

TEST_F(TfmMainTest, AboutBoxIsAFixedDialogClosedByOk)
{
    TfmAbout about(w);
    EXPECT_EQ("About Folium Converter", about.windowTitle());
    EXPECT_EQ(QSize(535, 355), about.size());
    QTimer::singleShot(0, [&] { QTest::mouseClick(about.findChild<QPushButton*>("btnOK"), Qt::LeftButton); });
    EXPECT_EQ(QDialog::Accepted, about.exec());
}

}  // namespace
