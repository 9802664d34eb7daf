// Conversion through the real engine and the real image library.
#include "TfmConvert.h"

#include "TempDir.h"
#include "WordServerTest.h"
#include "word/TempFolder.h"
#include "common/misc/WinUtil.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <set>

using namespace wstest;

namespace {

// Width and height from a picture file's header, by format.
bool PictureSize(const std::string& path, const std::string& ext, int* w, int* h, int* bpp)
{
    std::string s = ReadWhole(path);
    auto be32 = [&](size_t o) { return (int)((uint8_t)s[o] << 24 | (uint8_t)s[o + 1] << 16 | (uint8_t)s[o + 2] << 8 | (uint8_t)s[o + 3]); };
    auto le32 = [&](size_t o) { return (int)((uint8_t)s[o] | (uint8_t)s[o + 1] << 8 | (uint8_t)s[o + 2] << 16 | (uint8_t)s[o + 3] << 24); };
    if (ext == "bmp" && s.size() > 54 && s.compare(0, 2, "BM") == 0) {
        *w = le32(18), *h = le32(22), *bpp = (uint8_t)s[28];
        return true;
    }
    if (ext == "png" && s.size() > 33 && s.compare(1, 3, "PNG") == 0) {
        *w = be32(16), *h = be32(20), *bpp = 0;
        return true;
    }
    if (ext == "jpg" && s.size() > 4 && (uint8_t)s[0] == 0xFF && (uint8_t)s[1] == 0xD8) {
        for (size_t i = 2; i + 9 < s.size();) {  // walk the segments to the frame header
            if ((uint8_t)s[i] != 0xFF)
                return false;
            uint8_t m = (uint8_t)s[i + 1];
            if (m == 0xC0 || m == 0xC1 || m == 0xC2) {
                *h = (uint8_t)s[i + 5] << 8 | (uint8_t)s[i + 6];
                *w = (uint8_t)s[i + 7] << 8 | (uint8_t)s[i + 8];
                *bpp = 0;
                return true;
            }
            i += 2 + ((uint8_t)s[i + 2] << 8 | (uint8_t)s[i + 3]);
        }
    }
    return false;
}

std::set<std::string> FilesIn(const std::string& dir)
{
    std::set<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}

class Conversion : public TfmConvertTest {
protected:
    static void SetUpTestSuite()
    {
        Word word;
        ASSERT_TRUE(MakeDocument(word, s_docs->Path(), PagesBody(4), *s_docs / "four.docx"));
        ASSERT_TRUE(MakeDocument(word, s_docs->Path(), PagesBody(3), *s_docs / "three.doc"));
        s_docs->Write("broken.doc", "this is plain text, not a document");
    }
    static std::string PagesBody(int n)
    {
        std::string body = Para("Page 1. " + Lorem(40, 1));
        for (int i = 2; i <= n; ++i)
            body += Para("Page " + std::to_string(i) + ". " + Lorem(40, i), "PBreak");
        return body;
    }
    void SetUp() override
    {
        TfmConvertTest::SetUp();
        UsePagesnapWorkers();
        OptionSettings.DocumentsAtOnce = 2;
        snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", out.Path().c_str());
        snprintf(OptionSettings.TempPath, MAX_PATH, "%s", temp.Path().c_str());
        CxWordUtil::SetTempFolder(OptionSettings.TempPath, sizeof OptionSettings.TempPath);
    }
    // The engine is the process's: a window's Word instance left behind would keep it for the
    // next test.
    void TearDown() override
    {
        EndWord();
        TfmConvertTest::TearDown();
    }
    void ExpectPictures(const std::string& base, const std::vector<int>& pages, const std::string& ext)
    {
        for (int p : pages) {
            SCOPED_TRACE(base + "_" + std::to_string(p) + "." + ext);
            int pw = 0, ph = 0, bpp = 0;
            ASSERT_TRUE(PictureSize(out / (base + "_" + std::to_string(p) + "." + ext), ext, &pw, &ph, &bpp));
            EXPECT_EQ(794, pw);  // A4 at 96 dpi
            EXPECT_EQ(1123, ph);
            if (ext == "bmp") {
                EXPECT_EQ(24, bpp);
            }
        }
    }

    static TempDir* s_docs;
    TempDir out, temp;
};
TempDir* Conversion::s_docs = new TempDir;

TEST_F(Conversion, BatchConvertsEveryPageOfEveryTickedDocumentAndSkipsTheBroken)
{
    OptionSettings.ImageType = 3;
    AddFiles({*s_docs / "four.docx", *s_docs / "broken.doc", *s_docs / "three.doc"});
    ASSERT_EQ(3, Files()->topLevelItemCount());
    ConvertNow();
    EXPECT_EQ((std::set<std::string>{"four_1.png", "four_2.png", "four_3.png", "four_4.png", "three_1.png",
                                     "three_2.png", "three_3.png"}),
              FilesIn(out.Path()));
    ExpectPictures("four", {1, 2, 3, 4}, "png");
    ExpectPictures("three", {1, 2, 3}, "png");
    EXPECT_EQ((std::vector<int>{0, 33, 66, 100}), progress);
    EXPECT_FALSE(Ticked(Files(), 0));
    EXPECT_TRUE(Ticked(Files(), 1)) << "the document that failed stays ticked";
    EXPECT_FALSE(Ticked(Files(), 2));
    EXPECT_FALSE(w->pbMain->isVisible());
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Conversion Done", boxes[0].caption);
    EXPECT_EQ("The conversion was done, please browse the \"" + out.Path() +
                  "\" folder for the generated image files.\n\n1 document could not be opened.",
              boxes[0].text);
    Tick(Files(), 1, false);

    // No tick: the bar shows and hides, the message comes, nothing is written. The documents
    // were converted by workers: Pagesnap's own engine was never started.
    out.~TempDir();
    new (&out) TempDir;
    snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", out.Path().c_str());
    progress.clear();
    ConvertNow();
    EXPECT_FALSE(HasWordUtil());
    EXPECT_EQ((std::vector<int>{0, 100}), progress);
    EXPECT_EQ(2u, boxes.size());
    EXPECT_TRUE(FilesIn(out.Path()).empty());

    // The stand-in draws the documents' own pages: nothing was split, so the temporary folder
    // holds nothing of this run once its workers have gone, and the clean-up finds nothing.
    EndWorkers();
    EndWord();
    EXPECT_EQ(0, CleanTempFolders(temp.Path().c_str()));
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::is_empty(temp.Path(), ec));
}

TEST_F(Conversion, SingleDocumentViewConvertsTickedAllAndThisPage)
{
    ASSERT_FALSE(Load(*s_docs / "missing.docx"));
    ASSERT_TRUE(Load(*s_docs / "four.docx"));
    ASSERT_EQ(4, Pages()->topLevelItemCount());
    EXPECT_EQ("Page: 3", Pages()->topLevelItem(2)->text(0));
    EXPECT_TRUE(w->ui->btnAll->isEnabledTo(w->ui->tOne));

    OptionSettings.ImageType = 1;
    Tick(Pages(), 1, true);
    Tick(Pages(), 3, true);
    ConvertSelected();
    EXPECT_EQ((std::set<std::string>{"four_2.bmp", "four_4.bmp"}), FilesIn(out.Path()));
    ExpectPictures("four", {2, 4}, "bmp");
    EXPECT_EQ((std::vector<int>{0, 50, 100}), progress);
    EXPECT_FALSE(Ticked(Pages(), 1));
    EXPECT_FALSE(Ticked(Pages(), 3));

    OptionSettings.ImageType = 2;
    progress.clear();
    Tick(Pages(), 0, true);
    ConvertAll();
    ExpectPictures("four", {1, 2, 3, 4}, "jpg");
    EXPECT_EQ((std::vector<int>{0, 25, 50, 75, 100}), progress);
    EXPECT_TRUE(Ticked(Pages(), 0)) << "Convert All Pages keeps the ticks";

    // This page without a selection: page 1, and its row becomes the selected one.
    remove((out / "four_1.jpg").c_str());
    progress.clear();
    ConvertThis();
    ExpectPictures("four", {1}, "jpg");
    EXPECT_EQ(Pages()->topLevelItem(0), Pages()->currentItem());
    EXPECT_TRUE(progress.empty()) << "not a run";
    EXPECT_EQ(3u, boxes.size());
}

// Past a limit (documents, or resident memory: 1 MB is less than any engine) a worker's engine
// is replaced between documents of a run and the pictures are the same; while a document is
// shown it lives in Pagesnap's own engine, which is then replaced only once another document
// takes its place.
TEST_F(Conversion, EngineReplacedBetweenDocumentsPastItsLimits)
{
    OptionSettings.DocumentsAtOnce = 1;  // one worker: both documents on its engines
    const struct {
        int memory, documents;
        bool replaced;
    } rows[] = {{0, 0, false}, {0, 1, true}, {1, 0, true}};
    OptionSettings.ImageType = 3;
    AddFiles({*s_docs / "four.docx", *s_docs / "three.doc"});
    for (const auto& row : rows) {
        SCOPED_TRACE("EngineMemory=" + std::to_string(row.memory) + " EngineDocuments=" + std::to_string(row.documents));
        EndWord();
        OptionSettings.EngineMemory = row.memory;
        OptionSettings.EngineDocuments = row.documents;
        std::filesystem::remove_all(out.Path() + "four_1.png");
        Tick(Files(), 0, true);
        Tick(Files(), 1, true);
        ConvertNow();
        ExpectPictures("four", {1, 2, 3, 4}, "png");
        ExpectPictures("three", {1, 2, 3}, "png");
        EXPECT_EQ(row.replaced ? 2 : 1, BatchEngines());
        EXPECT_FALSE(HasWordUtil());
    }

    ASSERT_TRUE(Load(*s_docs / "four.docx"));
    const int shown = CxEngineLimit::OwnEngine();
    ASSERT_GT(shown, 0);
    Tick(Files(), 1, true);
    ConvertNow();
    EXPECT_EQ(shown, CxEngineLimit::OwnEngine()) << "replaced under the shown document";
    ASSERT_TRUE(Load(*s_docs / "three.doc"));
    EXPECT_NE(shown, CxEngineLimit::OwnEngine());
    EXPECT_EQ(3, Pages()->topLevelItemCount());
    OptionSettings.EngineMemory = OptionSettings.EngineDocuments = 0;
}

// Pagesnap and pagesnap-batch make the same pictures at a resolution other than the screen's:
// the same pixels per page (the page's extent times the resolution, a part pixel counting
// whole), the same drawing and, for PNG, the same file.
TEST_F(Conversion, PicturesAtAResolutionAreThoseOfPagesnapBatch)
{
    char szFolder[MAX_PATH];
    GetModuleFolder(nullptr, szFolder);
    const std::string batch = std::string(szFolder) + "pagesnap-batch";
    ASSERT_EQ(0, access(batch.c_str(), X_OK)) << batch;
    const struct {
        int type;
        const char* ext;
        int dpi, quality;
        int width, height;  // A4
    } rows[] = {{3, "png", 150, 90, 1241, 1754}, {2, "jpg", 200, 60, 1654, 2339}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.ext << " at " << row.dpi << " dpi, quality " << row.quality);
        TempDir batchOut;
        const std::string cmd = "'" + batch + "' -j 1 -r " + std::to_string(row.dpi) + " -q " +
                                std::to_string(row.quality) + " -f " + row.ext + " -o '" + batchOut.Path() + "' '" +
                                (*s_docs / "three.doc") + "' >/dev/null 2>&1";
        ASSERT_EQ(0, system(cmd.c_str())) << cmd;

        OptionSettings.ImageType = row.type;
        OptionSettings.Resolution = row.dpi;
        OptionSettings.JpegQuality = row.quality;
        ASSERT_TRUE(Load(*s_docs / "three.doc"));
        ConvertAll();
        for (int page = 1; page <= 3; ++page) {
            SCOPED_TRACE(page);
            const std::string name = "three_" + std::to_string(page) + "." + row.ext;
            int w = 0, h = 0, bpp = 0, bw = 0, bh = 0;
            ASSERT_TRUE(PictureSize(out / name, row.ext, &w, &h, &bpp));
            ASSERT_TRUE(PictureSize(batchOut / name, row.ext, &bw, &bh, &bpp));
            EXPECT_EQ(row.width, w);
            EXPECT_EQ(row.height, h);
            EXPECT_EQ(bw, w);
            EXPECT_EQ(bh, h);
            EXPECT_TRUE(ReadWhole(out / name) == ReadWhole(batchOut / name)) << "the same file";
        }
    }
}

// The batch view's pictures are pagesnap-batch's with the same settings, file for file, on
// real documents (several at once, on Pagesnap's own workers).
TEST_F(Conversion, BatchViewPicturesAreThoseOfPagesnapBatch)
{
    char szFolder[MAX_PATH];
    GetModuleFolder(nullptr, szFolder);
    const std::string batch = std::string(szFolder) + "pagesnap-batch";
    const std::string corpus = FOLIUM_CORPUS_DIR;
    std::vector<std::string> docs;
    for (const char* name : {"Headers.docx", "Bug47958.doc", "CoverPage.docx"})
        if (access((corpus + "/" + name).c_str(), R_OK) == 0)
            docs.push_back(corpus + "/" + name);
    if (docs.size() < 2)
        GTEST_SKIP() << "the corpus is not at " << corpus;
    AddFiles(docs);
    const struct {
        int type;
        const char* ext;
        int dpi, quality;
    } rows[] = {{3, "png", 150, 90}, {2, "jpg", 96, 60}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.ext << " at " << row.dpi << " dpi, quality " << row.quality);
        TempDir batchOut;
        std::string cmd = "'" + batch + "' -j 2 -r " + std::to_string(row.dpi) + " -q " + std::to_string(row.quality) +
                          " -f " + row.ext + " -o '" + batchOut.Path() + "'";
        for (const std::string& d : docs)
            cmd += " '" + d + "'";
        cmd += " >/dev/null 2>&1";
        ASSERT_EQ(0, system(cmd.c_str())) << cmd;
        std::filesystem::remove(batchOut / ".pagesnap-batch.done");

        out.~TempDir();
        new (&out) TempDir;
        snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", out.Path().c_str());
        OptionSettings.ImageType = row.type;
        OptionSettings.Resolution = row.dpi;
        OptionSettings.JpegQuality = row.quality;
        for (int i = 0; i < Files()->topLevelItemCount(); ++i)
            Tick(Files(), i, true);
        ConvertNow();
        const std::set<std::string> names = FilesIn(batchOut.Path());
        EXPECT_GE(names.size(), docs.size());
        EXPECT_EQ(names, FilesIn(out.Path()));
        for (const std::string& name : names)
            EXPECT_TRUE(ReadWhole(out / name) == ReadWhole(batchOut / name)) << name << ": not the same file";
    }
}

}  // namespace
