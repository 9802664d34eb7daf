// Documents reaching the main window from outside, offscreen with the scripted Word server:
// files and folders on the command line, drops on both views, the refusal of what is no Word
// document (the same message as the open dialog's), and Help opening the shipped manual.
#include "app/DocFileMgr.h"
#include "app/OpenDialog.h"
#include "app/OptionSettings.h"
#include "app/TfmMain.h"
#include "common/misc/WinUtil.h"
#include "word/CxWordUtil.h"

#include "FakeOpener.h"
#include "QtApp.h"
#include "WordFixture.h"
#include "platform/internal/ui.h"
#include "ui_TfmMain.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMimeData>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

class OpenFilesTest : public WordFixture {
protected:
    void SetUp() override
    {
        TestApp();
        WordFixture::SetUp();
        platform::ui::SetMessageBoxHook([this](const platform::ui::MessageBoxRequest& r) {
            boxes.push_back(r);
            return IDOK;
        });
        w = new TfmMain;
        w->show();
        // Conversion folders of this test only (opening a document makes them).
        snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", (m_dir / "out/").c_str());
        snprintf(OptionSettings.TempPath, MAX_PATH, "%s", m_temp.c_str());
        CxWordUtil::SetTempFolder(OptionSettings.TempPath, sizeof OptionSettings.TempPath);
        one = Doc("one.docx", scripted::MakeDocument({"p1", "p2", "p3"}));
        two = Doc("Two.DOC", scripted::MakeDocument({"q1"}));
        text = Doc("notes.txt", "plain text");
        folder = m_dir / "folder";
        mkdir(folder.c_str(), 0755);
        m_dir.Write("folder/x.doc", scripted::MakeDocument({"x"}));
        m_dir.Write("folder/y.docx", scripted::MakeDocument({"y"}));
        m_dir.Write("folder/readme.txt", "not listed");
        missing = m_dir / "missing.docx";
    }
    void TearDown() override
    {
        delete w->wordUtil;  // ends the Word instance the way the shut-down does
        w->wordUtil = nullptr;
        delete w;
        platform::ui::SetMessageBoxHook(nullptr);
        WordFixture::TearDown();
    }
    // Events handled, and an opening in the background ended (or 20 s passed).
    void Settle()
    {
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        while (w->isOpening && clock.elapsed() < 20000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        QApplication::processEvents();
    }
    bool InSingleView() { return w->ui->pcMain->currentWidget() == w->ui->tOne; }
    std::vector<std::string> Rows()
    {
        std::vector<std::string> rows;
        for (int i = 0; i < w->ui->lvFile->topLevelItemCount(); ++i)
            rows.push_back(w->ui->lvFile->topLevelItem(i)->text(0).toStdString());
        return rows;
    }
    std::string Shown() { return w->ui->edtName->text().toStdString(); }
    int Pages() { return w->ui->lvPages->topLevelItemCount(); }
    bool WordStarted() { return w->wordUtil != nullptr; }
    void Refuse(const std::vector<std::string>& paths) { w->RefuseNonDocuments(paths); }
    void SetConverting(bool b) { w->isConverting = b; }
    QMimeData* Files(const std::vector<std::string>& paths)
    {
        auto* data = new QMimeData;
        QList<QUrl> urls;
        for (const auto& p : paths)
            urls << QUrl::fromLocalFile(QString::fromStdString(p));
        data->setUrls(urls);
        return data;
    }
    // Drags the files over the window and drops them; whether the window took the drag.
    bool Drop(const std::vector<std::string>& paths)
    {
        std::unique_ptr<QMimeData> data(Files(paths));
        QPoint at = w->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(at), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &drop);
        Settle();
        return drop.isAccepted();
    }

    TfmMain* w = nullptr;
    std::vector<platform::ui::MessageBoxRequest> boxes;
    std::string one, two, text, folder, missing;
};

namespace {

std::vector<std::string> FolderRows(const std::string& folder)
{
    return {folder + "/x.doc", folder + "/y.docx"};
}

TEST_F(OpenFilesTest, OneDocumentOnTheCommandLineOpensInTheSingleDocumentView)
{
    ASSERT_FALSE(InSingleView());
    w->OpenCommandLine({QString::fromStdString(one)});
    Settle();
    EXPECT_TRUE(InSingleView());
    EXPECT_TRUE(w->ui->mnuViewOne->isChecked());
    EXPECT_EQ(one, Shown());
    EXPECT_EQ(3, Pages());
    EXPECT_TRUE(w->ui->btnAll->isEnabled());
    EXPECT_TRUE(Rows().empty()) << "the batch list stays empty";
    EXPECT_TRUE(boxes.empty());
}

TEST_F(OpenFilesTest, ARelativePathOrAFileAddressNamesTheSameDocument)
{
    char old[MAX_PATH];
    ASSERT_NE(nullptr, getcwd(old, sizeof old));
    ASSERT_EQ(0, chdir(m_dir.Path().c_str()));
    w->OpenCommandLine({"./sub/../one.docx"});
    Settle();
    EXPECT_EQ(0, chdir(old));
    EXPECT_EQ(one, Shown()) << "made absolute against the folder the program was started in";

    w->OpenCommandLine({QUrl::fromLocalFile(QString::fromStdString(two)).toString()});
    Settle();
    EXPECT_EQ(two, Shown());
    EXPECT_EQ(1, Pages());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(OpenFilesTest, SeveralDocumentsOrAFolderGoIntoTheBatchList)
{
    struct Row {
        std::vector<std::string> args;
        std::vector<std::string> rows;
        bool ordered;  // plain files keep their order; a folder's files come as the file system lists them
    } rows[] = {
        {{one, two}, {one, two}, true},
        {{two, one, two}, {two, one}, true},  // named twice, listed once
        {{folder}, FolderRows(folder), false},
        {{one, folder}, {one, folder + "/x.doc", folder + "/y.docx"}, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.rows.back());
        TearDown();
        SetUp();
        QStringList args;
        for (const auto& a : r.args)
            args << QString::fromStdString(a);
        w->OpenCommandLine(args);
        Settle();
        EXPECT_FALSE(InSingleView());
        EXPECT_TRUE(w->ui->mnuViewMore->isChecked());
        auto listed = Rows(), want = r.rows;
        if (!r.ordered) {
            std::sort(listed.begin(), listed.end());
            std::sort(want.begin(), want.end());
        }
        EXPECT_EQ(want, listed);
        EXPECT_TRUE(w->ui->btnConvert->isEnabled());
        EXPECT_FALSE(WordStarted()) << "listing starts no Word";
        EXPECT_TRUE(boxes.empty());
    }
}

TEST_F(OpenFilesTest, WhatIsNoWordDocumentIsRefusedWithOneMessage)
{
    w->OpenCommandLine({QString::fromStdString(text), QString::fromStdString(missing),
                        QString::fromStdString(m_dir / "folder/readme.txt")});
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Error", boxes[0].caption);
    EXPECT_EQ((UINT)(MB_OK | MB_ICONERROR), boxes[0].type);
    EXPECT_EQ(platform::ui::WindowOf(w), boxes[0].owner);
    EXPECT_EQ("These are not Word documents (.doc, .docx):\n\n" + text + "\n" + missing + "\n" + m_dir / "folder/readme.txt",
              boxes[0].text);
    EXPECT_FALSE(InSingleView()) << "nothing taken: the view stays";
    EXPECT_TRUE(Rows().empty());
    EXPECT_FALSE(WordStarted());

    // The documents among them are taken all the same.
    boxes.clear();
    w->OpenCommandLine({QString::fromStdString(text), QString::fromStdString(one)});
    Settle();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("This is not a Word document (.doc, .docx):\n\n" + text, boxes[0].text);
    EXPECT_TRUE(InSingleView());
    EXPECT_EQ(one, Shown());
}

TEST_F(OpenFilesTest, TheDialogRefusesATypedNameWithTheSameMessage)
{
    std::string pick = text;
    platform::ui::SetFileDialogHook([&](const platform::ui::FileDialogRequest&, std::string* path) {
        *path = pick;
        return true;
    });
    w->ui->btnAddFile->click();
    platform::ui::SetFileDialogHook(nullptr);
    EXPECT_TRUE(Rows().empty());
    ASSERT_EQ(1u, boxes.size());
    Refuse({text});  // what a drop or the command line says for that file
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ(boxes[1].text, boxes[0].text);
    EXPECT_EQ(boxes[1].caption, boxes[0].caption);
    EXPECT_EQ(boxes[1].type, boxes[0].type);

    // A folder named like a document is no document either.
    mkdir((m_dir / "folder.docx").c_str(), 0755);
    EXPECT_FALSE(TfmMain::IsWordDocumentPath(m_dir / "folder.docx"));
    struct Row {
        const char* path;
        bool document;
    } names[] = {{"/d/a.doc", true}, {"/d/A.DOCX", true}, {"/d/a.docm", false}, {"/d/a.doc.txt", false},
                 {"/d/.doc", false},   {"/d.doc/a", false}, {"a.Doc", true},        {"", false}};
    for (const Row& r : names)
        EXPECT_EQ(r.document, TfmMain::IsWordDocumentPath(r.path)) << "'" << r.path << "'";
}

TEST_F(OpenFilesTest, TheBatchViewTakesEveryDroppedDocumentAndFolder)
{
    ASSERT_FALSE(InSingleView());
    EXPECT_TRUE(Drop({one}));
    EXPECT_FALSE(InSingleView()) << "one document dropped on the batch view joins its list";
    EXPECT_EQ(std::vector<std::string>{one}, Rows());

    EXPECT_TRUE(Drop({two, text, folder}));
    auto listed = Rows();
    ASSERT_EQ(4u, listed.size());
    EXPECT_EQ(two, listed[1]);
    std::sort(listed.begin() + 2, listed.end());
    EXPECT_EQ(FolderRows(folder), std::vector<std::string>(listed.begin() + 2, listed.end()));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("This is not a Word document (.doc, .docx):\n\n" + text, boxes[0].text);
    EXPECT_FALSE(WordStarted());
}

TEST_F(OpenFilesTest, TheSingleDocumentViewTakesTheFirstDroppedDocument)
{
    w->ui->mnuViewOne->trigger();
    EXPECT_TRUE(Drop({text, folder, two, one}));
    EXPECT_TRUE(InSingleView());
    EXPECT_EQ(two, Shown());
    EXPECT_EQ(1, Pages());
    EXPECT_TRUE(Rows().empty()) << "nothing goes to the batch list";
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("These are not Word documents (.doc, .docx):\n\n" + text + "\n" + folder, boxes[0].text);

    boxes.clear();
    EXPECT_TRUE(Drop({one}));
    EXPECT_EQ(one, Shown()) << "a new drop replaces the document shown";
    EXPECT_EQ(3, Pages());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(OpenFilesTest, OnlyLocalFilesAreTakenAndNotDuringARun)
{
    std::unique_ptr<QMimeData> plain(new QMimeData);
    plain->setText(QString::fromStdString(one));
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, plain.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    EXPECT_FALSE(enter.isAccepted()) << "text is no file";

    std::unique_ptr<QMimeData> web(new QMimeData);
    web->setUrls({QUrl("https://host/a.docx")});
    QDragEnterEvent enterWeb(QPoint(10, 10), Qt::CopyAction, web.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enterWeb);
    EXPECT_FALSE(enterWeb.isAccepted());

    SetConverting(true);
    EXPECT_FALSE(Drop({one}));
    w->OpenPaths({one});
    Settle();
    SetConverting(false);
    EXPECT_TRUE(Rows().empty());
    EXPECT_FALSE(InSingleView());
    EXPECT_FALSE(WordStarted());
    EXPECT_FALSE(w->ui->edtName->acceptDrops()) << "a drop on the name field is the window's";
}

// A document opens on a thread of its own: while its load is held, the window shows the name
// and the busy sign and takes events; the opening then ends as it was left: shown, stopped by
// Cancel (its Word instance ended) or replaced by another document.
TEST_F(OpenFilesTest, AnOpeningKeepsTheWindowUsableAndCanBeStopped)
{
    enum Stop { None, CancelButton, AnotherDocument };
    const struct Case {
        const char* name;
        Stop stop;
        std::string shown;  // empty: the one being held
        int pages;
    } cases[] = {
        {"left to end", None, "", 3},
        {"cancelled", CancelButton, "-", 0},
        {"another document", AnotherDocument, "two", 1},
    };
    int nCase = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A document of its own each time: one opened before is shown without a new load.
        const std::string held1 = Doc("held" + std::to_string(++nCase) + ".docx", scripted::MakeDocument({"p1", "p2", "p3"}));
        std::atomic<bool> held{false}, release{false};
        scripted::TheScript().onLoad = [&](const std::string& path) {
            if (path != held1)
                return;
            held = true;
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        };
        w->OpenCommandLine({QString::fromStdString(held1)});
        QElapsedTimer clock;
        clock.start();
        while (!held && clock.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        ASSERT_TRUE(held) << "the load never started";
        for (int i = 0; i < 10; ++i)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        EXPECT_EQ(held1, Shown());
        EXPECT_TRUE(w->ui->pOpening->isVisible());
        EXPECT_EQ(0, Pages());
        EXPECT_FALSE(w->ui->btnAll->isEnabled()) << "nothing to convert while it opens";
        if (c.stop == CancelButton)
            w->ui->btnCancelOpen->click();
        if (c.stop == AnotherDocument) {
            w->OpenPaths({two});
            EXPECT_EQ(two, Shown()) << "the next document is named at once";
        }
        release = true;
        Settle();
        const std::string shown = c.shown == "two" ? two : c.shown == "-" ? "" : held1;
        EXPECT_EQ(shown, Shown());
        EXPECT_EQ(c.pages, Pages());
        EXPECT_FALSE(w->ui->pOpening->isVisible());
        EXPECT_EQ(c.stop != CancelButton, WordStarted());
        scripted::TheScript().onLoad = nullptr;
    }
}

// Help and the home page entry open files shipped beside the program (a stand-in xdg-open
// first on the search path notes what it was asked to open).
TEST_F(OpenFilesTest, HelpOpensTheShippedManualAndTheHomePageEntryTheReadme)
{
    FakeOpener opener;
    char szFolder[MAX_PATH];
    GetModuleFolder(nullptr, szFolder);
    w->ui->btnHelp->click();
    EXPECT_EQ(std::string(szFolder) + "doc/manual.html\n", opener.Opened(1));
    w->ui->mnuHelpWeb->trigger();
    EXPECT_EQ(std::string(szFolder) + "doc/manual.html\n" + szFolder + "doc/README.md\n", opener.Opened(2));
    EXPECT_TRUE(boxes.empty());
    for (const char* name : {"doc/manual.html", "doc/README.md"})
        EXPECT_TRUE(std::filesystem::is_regular_file(std::string(szFolder) + name)) << name << " is built beside the program";
}

}  // namespace
