// The options dialog: filling, validation with its messages and focus, trimming, storing
// only on OK, and the two folder buttons.
#include "app/OptionSettings.h"
#include "app/TfmOption.h"

#include "QtApp.h"
#include "TempDir.h"
#include "platform/internal/ui.h"
#include "ui_TfmOption.h"

#include <windows.h>

#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class TfmOptionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        platform::ui::SetMessageBoxHook([this](const platform::ui::MessageBoxRequest& r) {
            boxes.push_back(r);
            return IDOK;
        });
        // Sentinels: what must survive a refusal.
        OptionSettings.ImageType = 3;
        strcpy(OptionSettings.OutputPath, "/sentinel/out");
        strcpy(OptionSettings.TempPath, "/sentinel/temp");
        OptionSettings.CleanWord = false;
        OptionSettings.Resolution = 150;
        OptionSettings.JpegQuality = 42;
        OptionSettings.DocumentsAtOnce = 3;
        dlg = new TfmOption;
        dlg->UpdateData(false);
        dlg->show();
        QApplication::setActiveWindow(dlg);
    }
    void TearDown() override
    {
        delete dlg;
        platform::ui::SetMessageBoxHook(nullptr);
        platform::ui::SetFileDialogHook(nullptr);
    }
    void ExpectUntouched()
    {
        EXPECT_EQ(3, OptionSettings.ImageType);
        EXPECT_STREQ("/sentinel/out", OptionSettings.OutputPath);
        EXPECT_STREQ("/sentinel/temp", OptionSettings.TempPath);
        EXPECT_FALSE(OptionSettings.CleanWord);
        EXPECT_EQ(150, OptionSettings.Resolution);
        EXPECT_EQ(42, OptionSettings.JpegQuality);
        EXPECT_EQ(3, OptionSettings.DocumentsAtOnce);
    }

    TfmOption* dlg = nullptr;
    std::vector<platform::ui::MessageBoxRequest> boxes;
    TempDir dir;
};

TEST_F(TfmOptionTest, FillsTheControlsFromTheSettings)
{
    EXPECT_EQ("Set Options ...", dlg->windowTitle());
    EXPECT_EQ(QSize(552, 475), dlg->size());
    EXPECT_EQ("/sentinel/out", dlg->ui->edtDirOutput->text());
    EXPECT_EQ("/sentinel/temp", dlg->ui->edtTempDir->text());
    EXPECT_FALSE(dlg->ui->cbCleanWord->isChecked());
    struct Row {
        int type;
        QRadioButton* expected;
    } rows[] = {{1, dlg->ui->rbtnBMP}, {2, dlg->ui->rbtnJPG}, {3, dlg->ui->rbtnPNG},
                {7, dlg->ui->rbtnJPG}, {0, dlg->ui->rbtnJPG}, {-1, dlg->ui->rbtnJPG}};
    for (auto& r : rows) {
        SCOPED_TRACE(r.type);
        OptionSettings.ImageType = r.type;
        EXPECT_TRUE(dlg->UpdateData(false));
        EXPECT_TRUE(r.expected->isChecked());
        EXPECT_EQ(r.type, OptionSettings.ImageType) << "filling changes nothing";
    }
}

TEST_F(TfmOptionTest, BothPathsWrongShowsOnlyTheOutputMessageThenTheTemporaryOne)
{
    dlg->ui->edtDirOutput->setText("/no/such/output");
    dlg->ui->edtTempDir->setText("/no/such/temp");
    EXPECT_FALSE(dlg->UpdateData(true));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Invalid output path.", boxes[0].text);
    EXPECT_EQ("Error", boxes[0].caption);
    EXPECT_EQ((UINT)(MB_OK | MB_ICONERROR), boxes[0].type);
    EXPECT_EQ(platform::ui::WindowOf(dlg), boxes[0].owner) << "owned by the dialog";
    EXPECT_EQ(dlg->ui->edtDirOutput, dlg->focusWidget());
    ExpectUntouched();

    boxes.clear();
    dlg->ui->edtDirOutput->setText(QString::fromStdString(dir.Path()));
    EXPECT_FALSE(dlg->UpdateData(true));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Invalid temporary file path.", boxes[0].text);
    EXPECT_EQ(dlg->ui->edtTempDir, dlg->focusWidget());
    ExpectUntouched();

    boxes.clear();
    dlg->ui->edtTempDir->setText("   ");
    EXPECT_FALSE(dlg->UpdateData(true)) << "blank is no path";
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Invalid temporary file path.", boxes[0].text);
}

TEST_F(TfmOptionTest, TrimmedPathsAndExistingFilesAreStored)
{
    std::string file = dir.Write("not-a-folder.txt", "x");
    std::string folder = dir.Path().substr(0, dir.Path().size() - 1);
    dlg->ui->edtDirOutput->setText(QString::fromStdString(" \t" + folder + "  \n"));
    dlg->ui->edtTempDir->setText(QString::fromStdString("\x01" + file + " "));
    dlg->ui->rbtnBMP->setChecked(true);
    dlg->ui->cbCleanWord->setChecked(true);
    EXPECT_TRUE(dlg->UpdateData(true));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(folder, OptionSettings.OutputPath);
    EXPECT_EQ(file, OptionSettings.TempPath) << "any existing path passes";
    EXPECT_EQ(1, OptionSettings.ImageType);
    EXPECT_TRUE(OptionSettings.CleanWord);
    dlg->ui->rbtnPNG->setChecked(true);
    EXPECT_TRUE(dlg->UpdateData(true));
    EXPECT_EQ(3, OptionSettings.ImageType);
}

// The extra fonts folder may stay empty; given, it must be an absolute folder without ':' (the
// engine's separator), else the message, the focus on the field and nothing stored.
TEST_F(TfmOptionTest, ExtraFontsFolderIsAFolderOrNothing)
{
    strcpy(OptionSettings.FontsPath, "/sentinel/fonts");
    const std::string folder = dir.Path().substr(0, dir.Path().size() - 1);
    const std::string file = dir.Write("font.ttf", "x");
    std::filesystem::create_directory(dir / "a:b");
    const struct {
        std::string text, stored;  // stored: empty when refused
        bool ok;
    } rows[] = {
        {"  ", "", true},
        {" " + folder + " ", folder, true},
        {folder + "/missing", "", false},
        {file, "", false},
        {"relative", "", false},
        {dir / "a:b", "", false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        boxes.clear();
        dlg->ui->edtDirOutput->setText(QString::fromStdString(folder));
        dlg->ui->edtTempDir->setText(QString::fromStdString(folder));
        dlg->ui->edtFontsDir->setText(QString::fromStdString(r.text));
        EXPECT_EQ(r.ok, dlg->UpdateData(true));
        if (r.ok) {
            EXPECT_TRUE(boxes.empty());
            EXPECT_EQ(r.stored, OptionSettings.FontsPath);
        } else {
            ASSERT_EQ(1u, boxes.size());
            EXPECT_EQ("Invalid extra fonts folder.", boxes[0].text);
            EXPECT_EQ(dlg->ui->edtFontsDir, dlg->focusWidget());
            EXPECT_STREQ("/sentinel/fonts", OptionSettings.FontsPath);
        }
        strcpy(OptionSettings.FontsPath, "/sentinel/fonts");
    }
}

TEST_F(TfmOptionTest, APathTooLongForTheSettingIsRefusedNotCut)
{
    std::string deep = dir.Path();
    while (deep.size() < 300) {
        deep += "abcdefghijklmnopqrstuvwxyz/";
        std::filesystem::create_directory(deep);
    }
    dlg->ui->edtDirOutput->setText(QString::fromStdString(deep));
    dlg->ui->edtTempDir->setText(QString::fromStdString(dir.Path()));
    EXPECT_FALSE(dlg->UpdateData(true));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Invalid output path.", boxes[0].text);
    ExpectUntouched();
}

TEST_F(TfmOptionTest, PathsOf259BytesAreTakenWhole)
{
    std::string deep = dir.Path();
    while (deep.size() + 27 < 259) {
        deep += "abcdefghijklmnopqrstuvwxyz/";
        std::filesystem::create_directory(deep);
    }
    deep += std::string(259 - deep.size(), 'z');
    std::filesystem::create_directory(deep);
    ASSERT_EQ(259u, deep.size());
    dlg->ui->edtDirOutput->setText(QString::fromStdString(deep));
    dlg->ui->edtTempDir->setText(QString::fromStdString(deep));
    EXPECT_TRUE(dlg->UpdateData(true));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(deep, OptionSettings.OutputPath);
    EXPECT_EQ(deep, OptionSettings.TempPath);
}

TEST_F(TfmOptionTest, AFolderNameWithAControlCharacterIsRefused)
{
    // Real folders whose names hold a line break, a tab and an escape: they exist, and are
    // still no setting the settings file can keep.
    const char* names[] = {"a\nb", "a\tb", "a\x1b" "b"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const std::string folder = dir / name;
        ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
        boxes.clear();
        dlg->ui->edtDirOutput->setText(QString::fromStdString(dir.Path()));
        dlg->ui->edtTempDir->setText(QString::fromStdString(folder));
        EXPECT_FALSE(dlg->UpdateData(true));
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ("Invalid temporary file path.", boxes[0].text);
        boxes.clear();
        dlg->ui->edtDirOutput->setText(QString::fromStdString(folder));
        EXPECT_FALSE(dlg->UpdateData(true));
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ("Invalid output path.", boxes[0].text);
        ExpectUntouched();
    }
}

// Resolution, JPEG quality and documents at once: shown from the settings, stored on OK (a
// number typed and not yet confirmed counts), kept to their ranges; the quality is offered
// while JPG is chosen.
TEST_F(TfmOptionTest, ResolutionAndQualityAreFilledAndStoredInRange)
{
    EXPECT_EQ(150, dlg->ui->spnResolution->value());
    EXPECT_EQ(42, dlg->ui->spnQuality->value());
    EXPECT_EQ(3, dlg->ui->spnJobs->value());
    EXPECT_FALSE(dlg->ui->spnQuality->isEnabled()) << "PNG is chosen";
    dlg->ui->rbtnJPG->setChecked(true);
    EXPECT_TRUE(dlg->ui->spnQuality->isEnabled());
    dlg->ui->edtDirOutput->setText(QString::fromStdString(dir.Path()));
    dlg->ui->edtTempDir->setText(QString::fromStdString(dir.Path()));
    const struct {
        const char *dpiTyped, *qualityTyped, *jobsTyped;
        int dpi, quality, jobs;
    } rows[] = {{"300", "75", "1", 300, 75, 1}, {"72", "1", "64", 72, 1, 64}, {"600", "100", "8", 600, 100, 8},
                {"50", "5", "0", 600, 5, 8},  // below the range: the value it had
                {"96", "90", "65", 96, 90, 8}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.dpiTyped << " dpi, quality " << r.qualityTyped << ", " << r.jobsTyped
                                        << " at once");
        dlg->show();
        dlg->ui->spnResolution->findChild<QLineEdit*>()->setText(r.dpiTyped);
        dlg->ui->spnQuality->findChild<QLineEdit*>()->setText(r.qualityTyped);
        dlg->ui->spnJobs->findChild<QLineEdit*>()->setText(r.jobsTyped);
        QTest::mouseClick(dlg->ui->btnOK, Qt::LeftButton);
        EXPECT_EQ(QDialog::Accepted, dlg->result());
        EXPECT_EQ(r.dpi, OptionSettings.Resolution);
        EXPECT_EQ(r.quality, OptionSettings.JpegQuality);
        EXPECT_EQ(r.jobs, OptionSettings.DocumentsAtOnce);
        dlg->UpdateData(false);
        EXPECT_EQ(r.dpi, dlg->ui->spnResolution->value());
        EXPECT_EQ(r.jobs, dlg->ui->spnJobs->value());
    }
}

TEST_F(TfmOptionTest, JpgForSevenStaysSevenUnlessConfirmed)
{
    OptionSettings.ImageType = 7;
    dlg->UpdateData(false);
    EXPECT_TRUE(dlg->ui->rbtnJPG->isChecked());
    QTest::mouseClick(dlg->ui->btnCancel, Qt::LeftButton);
    EXPECT_EQ(QDialog::Rejected, dlg->result());
    EXPECT_EQ(7, OptionSettings.ImageType);

    dlg->show();
    dlg->ui->edtDirOutput->setText(QString::fromStdString(dir.Path()));
    dlg->ui->edtTempDir->setText(QString::fromStdString(dir.Path()));
    QTest::mouseClick(dlg->ui->btnOK, Qt::LeftButton);
    EXPECT_EQ(QDialog::Accepted, dlg->result());
    EXPECT_EQ(2, OptionSettings.ImageType);
}

TEST_F(TfmOptionTest, CancelAndAFailedOkStoreNothing)
{
    dlg->ui->edtDirOutput->setText(QString::fromStdString(dir.Path()));
    dlg->ui->edtTempDir->setText(QString::fromStdString(dir.Path()));
    dlg->ui->rbtnBMP->setChecked(true);
    dlg->ui->cbCleanWord->setChecked(true);
    QTest::mouseClick(dlg->ui->btnCancel, Qt::LeftButton);
    EXPECT_FALSE(dlg->isVisible());
    ExpectUntouched();

    dlg->show();
    dlg->ui->edtDirOutput->setText("/no/such/output");
    QTest::mouseClick(dlg->ui->btnOK, Qt::LeftButton);
    EXPECT_TRUE(dlg->isVisible()) << "stays open on a wrong path";
    ExpectUntouched();
}

TEST_F(TfmOptionTest, FolderButtonsPickIntoTheirFields)
{
    std::vector<std::string> titles;
    std::string pick = "/picked/folder";
    bool confirm = true;
    platform::ui::SetFileDialogHook([&](const platform::ui::FileDialogRequest& r, std::string* path) {
        titles.push_back(r.title);
        EXPECT_EQ(platform::ui::FileDialogRequest::PickFolder, r.kind);
        EXPECT_EQ(platform::ui::WindowOf(dlg), r.owner);
        *path = pick;
        return confirm;
    });
    QTest::mouseClick(dlg->ui->btnOutputBrowse, Qt::LeftButton);
    EXPECT_EQ("/picked/folder", dlg->ui->edtDirOutput->text());
    EXPECT_EQ("/sentinel/temp", dlg->ui->edtTempDir->text());
    pick = "/picked/temp";
    QTest::mouseClick(dlg->ui->btnTempBrowse, Qt::LeftButton);
    EXPECT_EQ("/picked/temp", dlg->ui->edtTempDir->text());
    confirm = false;
    QTest::mouseClick(dlg->ui->btnTempBrowse, Qt::LeftButton);
    EXPECT_EQ("/picked/temp", dlg->ui->edtTempDir->text()) << "cancel changes nothing";
    EXPECT_EQ((std::vector<std::string>{"Choose Output Directory", "Choose Temporary Directory",
                                        "Choose Temporary Directory"}),
              titles);
    ExpectUntouched();
}

TEST_F(TfmOptionTest, TabOrderFollowsTheDesign)
{
    // The format group is one tab stop (arrows move between its buttons); the resolution and
    // quality boxes beside it, then the rest; documents at once beside the last.
    std::vector<std::string> stops;
    for (QWidget* w = dlg->ui->rbtnBMP->nextInFocusChain(); w != dlg->ui->rbtnBMP; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && !qobject_cast<QRadioButton*>(w) && dlg->isAncestorOf(w) &&
            !qobject_cast<QAbstractSpinBox*>(w->parentWidget()))  // a spin box's own edit is no stop of its own
            stops.push_back(w->objectName().toStdString());
    EXPECT_EQ((std::vector<std::string>{"spnResolution", "spnQuality", "edtDirOutput", "btnOutputBrowse", "edtTempDir", "btnTempBrowse",
                                        "edtFontsDir", "btnFontsBrowse", "btnOK",
                                        "btnCancel", "cbCleanWord", "spnJobs"}),
              stops);
}

}  // namespace

// A new user opens Options before converting anything: the default folders are not made yet,
// and the dialog takes them (making them) where any other missing folder is refused.
TEST_F(TfmOptionTest, TheDefaultFoldersAreTakenBeforeTheFirstConversionMadeThem)
{
    const std::string prog = dir / "prog/";
    ASSERT_EQ(0, mkdir(prog.c_str(), 0755));
    SetSettingsProgramFolder(prog.c_str());
    const struct {
        std::string output, temp;
        bool ok;
    } rows[] = {
        {prog + "elsewhere/", prog + "temp/", false},
        {prog + "output/", prog + "temp/", true},
        {prog + "output", prog + "temp", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.output);
        boxes.clear();
        dlg->ui->edtDirOutput->setText(QString::fromStdString(row.output));
        dlg->ui->edtTempDir->setText(QString::fromStdString(row.temp));
        EXPECT_EQ(row.ok, dlg->UpdateData(true));
        EXPECT_EQ(row.ok ? 0u : 1u, boxes.size());
        if (row.ok) {
            EXPECT_EQ(0, access(row.output.c_str(), 0));
            EXPECT_EQ(0, access(row.temp.c_str(), 0));
        } else {
            ExpectUntouched();
            EXPECT_NE(0, access(row.output.c_str(), 0)) << "a folder the user named is not made";
        }
    }
    SetSettingsProgramFolder(nullptr);
}
