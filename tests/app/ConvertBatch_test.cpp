// The batch view on worker processes (the scripted worker: the real worker over the scripted
// word processor): each row's state, the totals, a failing or lost document, the window
// responsive during a run, and Cancel ending every worker at once.
#include "TfmConvert.h"

#include "ScriptedWord.h"
#include "TempDir.h"
#include "convert/Procs.h"

#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <dirent.h>
#include <unistd.h>

#include <set>

namespace {

class BatchView : public TfmConvertTest {
protected:
    void SetUp() override
    {
        TfmConvertTest::SetUp();
        OptionSettings.ImageType = 1;
        OptionSettings.Resolution = 96;
        OptionSettings.DocumentsAtOnce = 2;
        snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", out.Path().c_str());
        snprintf(OptionSettings.TempPath, MAX_PATH, "%s", temp.Path().c_str());
    }
    void TearDown() override
    {
        unsetenv("FOLIUM_TEST_SCRIPT");
        TfmConvertTest::TearDown();
    }
    std::string Doc(const std::string& name, const std::vector<std::string>& pages)
    {
        return docs.Write(name, "{\\rtf1 scripted}\n" + scripted::MakeDocument(pages));
    }
    std::string State(int row) { return Files()->topLevelItem(row)->text(3).toStdString(); }
    // Spins the event loop until cond holds (or a few seconds pass).
    template <class F> bool Until(F cond)
    {
        QElapsedTimer t;
        t.start();
        while (!cond() && t.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);  // the run's timer wakes it
        return cond();
    }

    TempDir docs, out, temp;
};

TEST_F(BatchView, EachRowTellsItsDocumentsEndAndTheTotalsAreShown)
{
    setenv("FOLIUM_TEST_SCRIPT", "pageView crashOn=lost", 1);
    const std::string gone = Doc("gone.doc", {"g1"});
    const struct {
        std::string path;
        const char* state;
        bool ticked;  // after the run
    } rows[] = {
        {Doc("two.doc", {"t1", "t2"}), "Done: 2 pages", false},
        {gone, "Failed: not found: cannot be found: No such file or directory", true},
        {docs.Write("notes.doc", "plain text\n"), "Failed: not a Word document: the file's content is not in a Word format",
         true},
        {Doc("lost.doc", {"l1"}), "Failed: engine failed: the worker process ended unexpectedly", true},
        {Doc("one.docx", {"o1"}), "Done: 1 page", false},
    };
    std::vector<std::string> paths;
    for (const auto& r : rows)
        paths.push_back(r.path);
    AddFiles(paths);
    unlink(gone.c_str());
    ConvertNow();
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(rows[i].path);
        EXPECT_EQ(rows[i].state, State(i));
        EXPECT_EQ(rows[i].ticked, Ticked(Files(), i));
    }
    EXPECT_EQ((std::set<std::string>{"two_1.bmp", "two_2.bmp", "one_1.bmp"}), FilesIn(out.Path()))
        << "no hidden picture is left";
    const std::string total = w->ui->lblTotal->text().toStdString();
    EXPECT_EQ(0u, total.find("2 of 5 documents converted, 3 failed, 3 pages in 00:")) << total;
    EXPECT_NE(std::string::npos, total.find(" pages/s)")) << total;
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("The conversion was done, please browse the \"" + out.Path() +
                  "\" folder for the generated image files.\n\n3 documents could not be opened.",
              boxes[0].text);
    EXPECT_EQ((std::vector<int>{0, 20, 40, 60, 80, 100}), progress);
    EXPECT_EQ("Convert", w->ui->btnConvert->text().toStdString());
    EXPECT_TRUE(w->ui->btnDel->isEnabled());
}

// The window is not held while documents convert: Convert returns at once and becomes Cancel,
// at most "documents at once" workers run, and Cancel ends them all at once. Finished documents
// keep their pictures; the others leave none, nor any hidden one, and stay ticked.
TEST_F(BatchView, CancelEndsEveryWorkerAtOnceAndLeavesNoUnfinishedPicture)
{
    setenv("FOLIUM_TEST_SCRIPT", "pageView hangOn=slow", 1);
    out.Write("slow1_1.bmp", "earlier");
    AddFiles({Doc("quick.doc", {"q1"}), Doc("slow1.doc", {"s1"}), Doc("slow2.doc", {"s2"}), Doc("slow3.doc", {"s3"})});
    const std::vector<int> before = convert::ChildrenOf(getpid());
    StartConvert();
    ASSERT_TRUE(Running());
    EXPECT_EQ("Cancel", w->ui->btnConvert->text().toStdString());
    EXPECT_TRUE(w->ui->btnConvert->isEnabled());
    EXPECT_FALSE(w->ui->btnDel->isEnabled()) << "the run's rows stay";
    EXPECT_FALSE(w->ui->btnAddFile->isEnabled());
    EXPECT_FALSE(w->ui->mnuToolOption->isEnabled()) << "the run's format and folder stay";
    ASSERT_TRUE(Until([&] { return State(0) == "Done: 1 page" && State(2) == "Converting"; }))
        << State(0) << " / " << State(2);
    EXPECT_EQ("Converting", State(1)) << "its engine hangs while it loads";
    EXPECT_EQ("Waiting", State(3)) << "two documents at once";
    std::vector<int> workers;
    for (int pid : convert::ChildrenOf(getpid()))
        if (std::find(before.begin(), before.end(), pid) == before.end())
            workers.push_back(pid);
    EXPECT_EQ(2u, workers.size());

    QElapsedTimer t;
    t.start();
    w->ui->btnConvert->click();
    EXPECT_FALSE(Running());
    EXPECT_LT(t.elapsed(), 3000);
    for (int pid : workers)
        EXPECT_TRUE(convert::ProcessGone(pid)) << pid;
    const char* states[] = {"Done: 1 page", "Cancelled", "Cancelled", "Cancelled"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(states[i], State(i)) << i;
        EXPECT_EQ(i > 0, Ticked(Files(), i)) << i;
    }
    EXPECT_EQ((std::set<std::string>{"quick_1.bmp", "slow1_1.bmp"}), FilesIn(out.Path()));
    EXPECT_EQ("earlier", ReadWhole(out / "slow1_1.bmp"));
    EXPECT_EQ(0u, w->ui->lblTotal->text().toStdString().find("Cancelled: 1 of 4 documents converted"));
    EXPECT_TRUE(boxes.empty()) << "a cancelled run is not reported as done";
    EXPECT_EQ("Convert", w->ui->btnConvert->text().toStdString());
    EXPECT_TRUE(w->ui->btnDel->isEnabled());
    EXPECT_TRUE(w->ui->mnuToolOption->isEnabled());
}

// What stops every engine is said before any worker starts, and nothing is converted.
TEST_F(BatchView, AnEngineThatCannotStartIsSaidAndStartsNoWorker)
{
    SetEngineProblem("the office suite (LibreOffice Writer) is missing");
    AddFiles({Doc("a.doc", {"a1"})});
    const size_t nChildren = convert::ChildrenOf(getpid()).size();
    ConvertNow();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("The document engine cannot start: the office suite (LibreOffice Writer) is missing.", boxes[0].text);
    EXPECT_EQ(nChildren, convert::ChildrenOf(getpid()).size());
    EXPECT_TRUE(FilesIn(out.Path()).empty());
    EXPECT_TRUE(Ticked(Files(), 0));
}

}  // namespace
