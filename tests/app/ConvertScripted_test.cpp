// Whole conversions through the scripted word processor and the real image library: every page
// has a result, failures are reported and keep their rows ticked, pictures are complete or
// absent, and documents of one base name do not overwrite each other's pictures.
#include "common/misc/StaleTemp.h"
#include "TfmConvert.h"

#include "FakeOpener.h"
#include "ScriptedWord.h"
#include "TempDir.h"
#include "app/PictureLib.h"
#include "word/CxWordDoc.h"

#include <QComboBox>
#include <QKeyEvent>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

namespace {

// The middle pixel of a 24-bit BMP file as a COLORREF, or 0xdeadbeef when it is no such file.
COLORREF MiddlePixel(const std::string& path)
{
    const std::string s = ReadWhole(path);
    if (s.size() < 54 || s.compare(0, 2, "BM") != 0)
        return 0xdeadbeef;
    auto le32 = [&](size_t o) { return (int)((uint8_t)s[o] | (uint8_t)s[o + 1] << 8 | (uint8_t)s[o + 2] << 16 | (uint8_t)s[o + 3] << 24); };
    const int w = le32(18), h = le32(22), off = le32(10);
    const size_t stride = ((size_t)w * 3 + 3) & ~(size_t)3;
    const size_t at = (size_t)off + (size_t)(h - 1 - h / 2) * stride + (size_t)(w / 2) * 3;
    if (w <= 0 || h <= 0 || at + 3 > s.size())
        return 0xdeadbeef;
    return RGB((uint8_t)s[at + 2], (uint8_t)s[at + 1], (uint8_t)s[at]);
}

const std::string kDone = "The conversion was done, please browse the \"";
const std::string kDoneEnd = "\" folder for the generated image files.";

class ScriptedConversion : public TfmConvertTest {
protected:
    void SetUp() override
    {
        TfmConvertTest::SetUp();
        m_libRefs = PictureLibRefCount();
        scripted::Install();
        OptionSettings.ImageType = 1;
        snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", out.Path().c_str());
        snprintf(OptionSettings.TempPath, MAX_PATH, "%s", temp.Path().c_str());
        CxWordUtil::SetTempFolder(OptionSettings.TempPath, sizeof OptionSettings.TempPath);
    }
    void TearDown() override
    {
        EndWord();
        scripted::Uninstall();
        // The image library is back for the window's document list, whatever a case did.
        while (PictureLibRefCount() < m_libRefs)
            PictureLibLoad();
        TfmConvertTest::TearDown();
    }
    std::string Doc(const std::string& name, const std::vector<std::string>& pages, LONG cx = 21000, LONG cy = 29700)
    {
        const size_t slash = name.rfind('/');
        if (slash != std::string::npos)
            mkdir((docs / name.substr(0, slash)).c_str(), 0755);
        // The first line lets the batch view's worker take the file for a Word document.
        return docs.Write(name, "{\\rtf1 scripted}\n" + scripted::MakeDocument(pages, cx, cy));
    }
    std::string Message(const std::string& extra = "") { return kDone + out.Path() + kDoneEnd + extra; }

    TempDir docs, out, temp;
    unsigned m_libRefs = 0;  // the image library's references with the window made
};

TEST_F(ScriptedConversion, DocumentsOfOneBaseNameKeepEachTheirPictures)
{
    // Left by runs that are gone: this machine's are removed, another machine's (the folder
    // may be shared) and names of no run are kept.
    out.Write(".~folium-999999999-1.bmp", "x");
    out.Write(".~folium-999999999." + MachineTag() + "-2.bmp", "x");
    out.Write(".~folium-999999999.0badc0de-3.bmp", "x");
    out.Write(".~folium-notes", "x");
    AddFiles({Doc("a/report.doc", {"r1 one", "r1 two"}), Doc("b/report.docx", {"r2 one", "r2 two", "r2 three"}),
              Doc("c/report.doc", {"r3 one"}), Doc("other.doc", {"o one"})});
    ConvertNow();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(Message(), boxes[0].text) << "everything converted: the message as it always was";
    EXPECT_EQ((std::set<std::string>{"report_1.bmp", "report_2.bmp", "report_docx_1.bmp", "report_docx_2.bmp",
                                     "report_docx_3.bmp", "report_doc_1.bmp", "other_1.bmp",
                                     ".~folium-999999999.0badc0de-3.bmp", ".~folium-notes"}),
              FilesIn(out.Path()))
        << "no temporary picture is left either";
    const struct {
        const char* file;
        const char* firstLine;
    } rows[] = {{"report_1.bmp", "r1 one"},      {"report_2.bmp", "r1 two"},        {"report_docx_1.bmp", "r2 one"},
                {"report_docx_2.bmp", "r2 two"}, {"report_docx_3.bmp", "r2 three"}, {"report_doc_1.bmp", "r3 one"},
                {"other_1.bmp", "o one"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.file);
        EXPECT_EQ(scripted::PageColour(r.firstLine), MiddlePixel(out / r.file));
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(Ticked(Files(), i)) << i;

    // A new run starts afresh: the plain names are free again.
    Tick(Files(), 1, true);
    ConvertNow();
    EXPECT_EQ(scripted::PageColour("r2 one"), MiddlePixel(out / "report_1.bmp"));
    EXPECT_EQ(scripted::PageColour("r2 three"), MiddlePixel(out / "report_3.bmp"));
    EXPECT_EQ(scripted::PageColour("r2 one"), MiddlePixel(out / "report_docx_1.bmp")) << "from the run before";
}

struct FaultRow {
    const char* what;
    std::string extra;  // what the message adds
    bool goodConverts;  // the unaffected document still gets its picture
    bool badConverts;   // ... and so does the other, untouched by the fault
};

TEST_F(ScriptedConversion, FailedPagesLeaveNoPictureAreReportedAndKeepTheirRowsTicked)
{
    // The batch view's workers encode the pictures themselves, as pagesnap-batch's do: the image
    // library is the single-document view's alone (its missing library: the test after this).
    const FaultRow rows[] = {
        {"image library missing", "", true, true},
        {"page too large to draw", "\n\n2 pages of 1 document could not be converted.", true, false},
        {"document gone before the run", "\n\n1 document could not be opened.", true, false},
        {"output folder is a file", "\n\n3 pages of 2 documents could not be converted.", false, false},
        {"disk full", "\n\n3 pages of 2 documents could not be converted.", false, false},
    };
    for (const FaultRow& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir base;
        docs.~TempDir();
        new (&docs) TempDir;
        out.~TempDir();
        new (&out) TempDir;
        snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", out.Path().c_str());
        const std::string what = row.what;
        const LONG side = what == "page too large to draw" ? 600000 : 21000;  // 22677 pixels square
        const std::string bad = Doc("bad.doc", {"bad one", "bad two"}, side, side);
        const std::string good = Doc("good.doc", {"good one"});
        // Pictures of an earlier run stay as they were when their page fails now.
        out.Write("bad_1.bmp", "0xdeadbeef earlier picture");
        while (Files()->topLevelItemCount())
            Tick(Files(), 0, true), Del();
        AddFiles({bad, good});
        if (what == "image library missing") {
            while (PictureLibRefCount())
                PictureLibFree();
        } else if (what == "document gone before the run") {
            unlink(bad.c_str());
        } else if (what == "output folder is a file") {
            const std::string file = base.Write("plain-file", "x");
            snprintf(OptionSettings.OutputPath, MAX_PATH, "%s/", file.c_str());
        }
        boxes.clear();
        // A full disk as write() sees it: no file of this process may grow past 1 MB, less
        // than one page's picture.
        rlimit oldLimit;
        getrlimit(RLIMIT_FSIZE, &oldLimit);
        sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);
        if (what == "disk full") {
            rlimit lim = oldLimit;
            lim.rlim_cur = 1 << 20;
            setrlimit(RLIMIT_FSIZE, &lim);
        }
        ConvertNow();
        setrlimit(RLIMIT_FSIZE, &oldLimit);
        signal(SIGXFSZ, oldHandler);
        while (PictureLibRefCount() < m_libRefs)
            PictureLibLoad();

        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(kDone + OptionSettings.OutputPath + kDoneEnd + row.extra, boxes[0].text);
        EXPECT_EQ((UINT)(row.badConverts ? MB_ICONINFORMATION : MB_ICONWARNING), boxes[0].type & MB_ICONMASK);
        EXPECT_EQ(!row.badConverts, Ticked(Files(), 0)) << "a failed document stays ticked";
        EXPECT_EQ(!row.goodConverts, Ticked(Files(), 1));
        std::set<std::string> expected = {"bad_1.bmp"};
        if (row.goodConverts)
            expected.insert("good_1.bmp");
        if (row.badConverts)
            expected.insert("bad_2.bmp");
        if (what != "output folder is a file") {
            EXPECT_EQ(expected, FilesIn(out.Path())) << "no white, partial or temporary picture";
            if (row.badConverts)
                EXPECT_EQ(scripted::PageColour("bad one"), MiddlePixel(out / "bad_1.bmp"));
            else
                EXPECT_EQ("0xdeadbeef earlier picture", ReadWhole(out / "bad_1.bmp"));
        }
        if (row.goodConverts) {
            EXPECT_EQ(scripted::PageColour("good one"), MiddlePixel(out / "good_1.bmp"));
        }
    }
}

TEST_F(ScriptedConversion, SingleDocumentViewKeepsFailedPagesTicked)
{
    ASSERT_TRUE(Load(Doc("view.doc", {"v one", "v two", "v three"})));
    ASSERT_EQ(3, Pages()->topLevelItemCount());
    Tick(Pages(), 0, true);
    Tick(Pages(), 2, true);
    while (PictureLibRefCount())
        PictureLibFree();
    ConvertSelected();
    while (PictureLibRefCount() < m_libRefs)
        PictureLibLoad();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(Message("\n\n2 pages of 1 document could not be converted."), boxes[0].text);
    EXPECT_TRUE(Ticked(Pages(), 0));
    EXPECT_FALSE(Ticked(Pages(), 1));
    EXPECT_TRUE(Ticked(Pages(), 2));
    EXPECT_TRUE(FilesIn(out.Path()).empty());

    // With the library back the same ticks convert, and the counts start afresh.
    ConvertSelected();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ(Message(), boxes[1].text);
    EXPECT_EQ((UINT)MB_ICONINFORMATION, boxes[1].type & MB_ICONMASK);
    EXPECT_FALSE(Ticked(Pages(), 0));
    EXPECT_FALSE(Ticked(Pages(), 2));
    EXPECT_EQ((std::set<std::string>{"view_1.bmp", "view_3.bmp"}), FilesIn(out.Path()));
    EXPECT_EQ(scripted::PageColour("v three"), MiddlePixel(out / "view_3.bmp"));

    // This page alone, failing: one page of one document.
    while (PictureLibRefCount())
        PictureLibFree();
    ConvertThis();
    while (PictureLibRefCount() < m_libRefs)
        PictureLibLoad();
    ASSERT_EQ(3u, boxes.size());
    EXPECT_EQ(Message("\n\n1 page of 1 document could not be converted."), boxes[2].text);
}

}  // namespace

// The engine dies while a document loads and in the middle of it (at its third page), or at
// every page: the document is given to a worker again (on a fresh engine), so a lost engine
// costs no page; a document that fails every time is reported after a few tries.
TEST_F(ScriptedConversion, AnEngineLostMidDocumentCostsNoPage)
{
    const struct {
        const char* what;
        const char* script;  // the workers'
        std::set<std::string> files;
        std::string extra;
        int loads;  // documents the worker loaded
    } rows[] = {
        {"dies once", "pageView failLoads=1 dieAtPrintDraw=3",
         {"five_1.bmp", "five_2.bmp", "five_3.bmp", "five_4.bmp", "five_5.bmp"}, "", 3},
        {"dies at every draw", "pageView dieAtPrintDraw=-1", {}, "\n\n5 pages of 1 document could not be converted.", 4},
    };
    OptionSettings.DocumentsAtOnce = 1;  // every try on the same worker, its script going on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        out.~TempDir();
        new (&out) TempDir;
        snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", out.Path().c_str());
        TempDir logs;
        setenv("FOLIUM_TEST_SCRIPT", row.script, 1);
        setenv("FOLIUM_TEST_LOG", (logs / "log").c_str(), 1);
        while (Files()->topLevelItemCount())
            Tick(Files(), 0, true), Del();
        AddFiles({Doc("five.doc", {"f1", "f2", "f3", "f4", "f5"})});
        boxes.clear();
        ConvertNow();
        unsetenv("FOLIUM_TEST_SCRIPT");
        unsetenv("FOLIUM_TEST_LOG");
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(Message(row.extra), boxes[0].text);
        EXPECT_EQ(row.files, FilesIn(out.Path()));
        for (const std::string& f : row.files)
            EXPECT_EQ(scripted::PageColour("f" + f.substr(5, 1)), MiddlePixel(out / f)) << f;
        // The worker says how often it loaded once it has ended (after the run, on its own).
        for (int i = 0; i < 500 && ReadWhole(logs / "log").empty(); ++i)
            usleep(10000);
        EXPECT_EQ("loads " + std::to_string(row.loads) + "\n", ReadWhole(logs / "log"))
            << "loaded again after each loss of the engine, a few times at most";
    }
}

// OK on the completion message opens the output folder: a name with a space ("Folium
// Converter", the installed default) reaches the opener whole, as a file URL.
TEST_F(ScriptedConversion, TheOutputFolderOpensWithItsNameWhole)
{
    FakeOpener opener;
    std::string base = out.Path();
    if (base.back() != '/')
        base += '/';
    const std::string folder = base + "Folium Converter";
    ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
    snprintf(OptionSettings.OutputPath, MAX_PATH, "%s/", folder.c_str());
    platform::ui::SetMessageBoxHook([](const platform::ui::MessageBoxRequest&) { return IDOK; });
    AddFiles({Doc("one.doc", {"o1"})});
    ConvertNow();
    EXPECT_EQ("file://" + base + "Folium%20Converter/\n", opener.Opened(1));
    EXPECT_EQ(0, access((folder + "/one_1.bmp").c_str(), 0));
}

namespace {

// Width and height of a BMP or JPEG file (the JPEG's first frame header); {0, 0} for neither.
std::pair<int, int> PictureSize(const std::string& path)
{
    const std::string s = ReadWhole(path);
    auto u8 = [&](size_t o) { return o < s.size() ? (int)(uint8_t)s[o] : 0; };
    if (s.compare(0, 2, "BM") == 0 && s.size() >= 26)
        return {u8(18) | u8(19) << 8 | u8(20) << 16 | u8(21) << 24, u8(22) | u8(23) << 8 | u8(24) << 16 | u8(25) << 24};
    for (size_t i = 2; i + 9 < s.size(); ++i)
        if (u8(i) == 0xff && u8(i + 1) == 0xc0)
            return {u8(i + 7) << 8 | u8(i + 8), u8(i + 5) << 8 | u8(i + 6)};
    return {0, 0};
}

// The first value of a JPEG file's first quantisation table: the larger, the coarser.
int FirstQuantiser(const std::string& path)
{
    const std::string s = ReadWhole(path);
    for (size_t i = 2; i + 5 < s.size(); ++i)
        if ((uint8_t)s[i] == 0xff && (uint8_t)s[i + 1] == 0xdb)
            return (uint8_t)s[i + 5];
    return -1;
}

// The resolution of the options gives the pictures' pixels by pagesnap-batch's rule: the page's
// extent in HIMETRIC times the resolution, a part pixel counting whole.
TEST_F(ScriptedConversion, PicturesHaveThePixelsOfTheChosenResolution)
{
    const struct {
        int dpi;
        LONG cx, cy;
        int width, height;
    } rows[] = {
        {96, 21000, 29700, 794, 1123},    // A4
        {300, 21000, 29700, 2481, 3508},  // A4 for print
        {72, 21590, 27940, 612, 792},     // Letter
        {96, 10010, 10010, 379, 379},     // 378.3 pixels: the part pixel counts whole
        {600, 2540, 1270, 600, 300},
    };
    OptionSettings.ImageType = 1;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.dpi << " dpi, " << row.cx << " x " << row.cy);
        OptionSettings.Resolution = row.dpi;
        const std::string name = "r" + std::to_string(row.dpi) + "_" + std::to_string(row.cx);
        ASSERT_TRUE(Load(Doc(name + ".doc", {"res one", "res two"}, row.cx, row.cy)));
        ConvertThis();
        const auto size = PictureSize(out / (name + "_1.bmp"));
        EXPECT_EQ(row.width, size.first);
        EXPECT_EQ(row.height, size.second);
        EXPECT_EQ(scripted::PageColour("res one"), MiddlePixel(out / (name + "_1.bmp")));
    }
}

// JPEG pictures are written at the quality of the options (not the encoder's default).
TEST_F(ScriptedConversion, JpegPicturesTakeTheChosenQuality)
{
    OptionSettings.ImageType = 2;
    OptionSettings.Resolution = 96;
    ASSERT_TRUE(Load(Doc("q.doc", {"quality"})));
    int previous = 1000;
    for (int quality : {10, 50, 75, 90, 100}) {
        SCOPED_TRACE(quality);
        OptionSettings.JpegQuality = quality;
        ConvertThis();
        const std::string path = out / "q_1.jpg";
        EXPECT_EQ((std::pair<int, int>{794, 1123}), PictureSize(path));
        const int q = FirstQuantiser(path);
        EXPECT_LT(q, previous) << "a higher quality quantises finer";
        if (quality == 100)
            EXPECT_EQ(1, q);
        previous = q;
    }
}

// The single-document view: the zoom box and the View menu set the preview's zoom and keep it
// in the settings; Page Up/Down, Home and End in the page list go through the pages and the
// list follows.
TEST_F(ScriptedConversion, ZoomAndPageKeysOfTheSingleDocumentView)
{
    ViewOne();
    w->show();
    ASSERT_TRUE(Load(Doc("keys.doc", {"k1", "k2", "k3", "k4"})));
    CxWordView* view = View();
    const struct {
        QAction* action;
        int zoom;
        const char* shown;
    } zooms[] = {{w->ui->mnuViewFitPage, CxWordView::kZoomFitPage, "Fit Page"},
                 {w->ui->mnuViewActualSize, 100, "100 %"},
                 {w->ui->mnuViewZoomIn, 125, "125 %"},
                 {w->ui->mnuViewZoomOut, 100, "100 %"},
                 {w->ui->mnuViewZoomOut, 75, "75 %"},
                 {w->ui->mnuViewFitWidth, CxWordView::kZoomFitWidth, "Fit Width"}};
    for (const auto& z : zooms) {
        SCOPED_TRACE(z.shown);
        z.action->trigger();
        EXPECT_EQ(z.zoom, view->GetZoom());
        EXPECT_EQ(z.zoom, OptionSettings.Zoom);
        EXPECT_EQ(z.shown, w->ui->cbZoom->currentText().toStdString());
    }
    w->ui->cbZoom->setCurrentIndex(w->ui->cbZoom->findData(200));
    emit w->ui->cbZoom->activated(w->ui->cbZoom->currentIndex());
    EXPECT_EQ(200, view->GetZoom());

    const struct {
        Qt::Key key;
        int page;
    } keys[] = {{Qt::Key_PageDown, 1}, {Qt::Key_PageDown, 2}, {Qt::Key_PageUp, 1}, {Qt::Key_End, 3},
                {Qt::Key_PageDown, 3}, {Qt::Key_Home, 0},     {Qt::Key_PageUp, 0}};
    for (const auto& k : keys) {
        SCOPED_TRACE(testing::Message() << "key " << k.key << " to page " << k.page + 1);
        QKeyEvent press(QEvent::KeyPress, k.key, Qt::NoModifier);
        QApplication::sendEvent(Pages(), &press);
        EXPECT_EQ(k.page, view->GetDocument()->GetCurrentPage());
        EXPECT_EQ(Pages()->topLevelItem(k.page), Pages()->currentItem()) << "the list follows";
        EXPECT_EQ(200, view->GetZoom()) << "the zoom stays from page to page";
    }
}

}  // namespace
