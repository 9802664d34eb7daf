// The batch view's document list.
#include "app/DocFileMgr.h"
#include "app/PictureLib.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Paths(DocFileMgr& m)
{
    std::vector<std::string> out;
    for (DocFileInfo* p = m.GetAt(0); p; p = m.GetNext())
        out.push_back(p->szPath);
    return out;
}

TEST(DocFileMgrTest, AddFileKeepsOneRecordPerPathAndTellsLetterCasesApart)
{
    TempDir dir;
    std::string a = dir.Write("Alpha.DOC", std::string(2048, 'x'));
    DocFileMgr m;
    EXPECT_TRUE(m.AddFile(a.c_str()));
    EXPECT_TRUE(m.AddFile(a.c_str())) << "already listed counts as success";
    ASSERT_EQ(1, m.GetCount());
    DocFileInfo* p = m.GetAt(0);
    EXPECT_STREQ(a.c_str(), p->szPath);
    EXPECT_EQ(2048, p->nSize);
    EXPECT_GE(p->stModified.wYear, 2000);

    // The file system tells "ALPHA.doc" from "Alpha.DOC": two documents, two records, each
    // with its own size.
    std::string upper = dir.Write("ALPHA.doc", "other");
    EXPECT_TRUE(m.HasFile(a.c_str()));
    EXPECT_FALSE(m.HasFile(upper.c_str())) << "another spelling is not listed";
    EXPECT_TRUE(m.AddFile(upper.c_str()));
    ASSERT_EQ(2, m.GetCount());
    EXPECT_STREQ(upper.c_str(), m.GetAt(1)->szPath);
    EXPECT_EQ(5, m.GetAt(1)->nSize);
    // A spelling naming no file is refused, not taken for a listed one.
    EXPECT_FALSE(m.AddFile((dir / "alpha.doc").c_str()));
    EXPECT_EQ(2, m.GetCount());

    // Paths are compared as text: another spelling of the same file is another record.
    std::string doubled = dir.Path() + "/Alpha.DOC";
    EXPECT_TRUE(m.AddFile(doubled.c_str()));
    EXPECT_EQ(3, m.GetCount());
}

TEST(DocFileMgrTest, AddFileRefusesWhatCannotBeListed)
{
    TempDir dir;
    DocFileMgr m;
    std::string tooLong = dir.Path() + std::string(300, 'n') + ".doc";
    std::string missing = dir / "missing.doc";
    const char* refused[] = {nullptr, "", missing.c_str(), tooLong.c_str()};
    for (const char* path : refused) {
        SCOPED_TRACE(path ? path : "(null)");
        EXPECT_FALSE(m.AddFile(path));
    }
    EXPECT_EQ(0, m.GetCount());
    EXPECT_EQ(nullptr, m.GetAt(0));
    EXPECT_EQ(nullptr, m.GetAt(-1));
    EXPECT_FALSE(m.HasFile(nullptr));
}

TEST(DocFileMgrTest, AddFolderTakesDocumentsOnlyAndOnlyNewOnesOnRescan)
{
    TempDir dir;
    dir.Write("one.doc", "1");
    dir.Write("two.DOCX", "22");
    dir.Write("notes.txt", "no");
    mkdir((dir / "folder.doc").c_str(), 0755);
    mkdir((dir / "sub").c_str(), 0755);
    dir.Write("sub/deep.doc", "nested");
    std::string folder = dir.Path().substr(0, dir.Path().size() - 1);  // no trailing separator

    DocFileMgr m;
    EXPECT_TRUE(m.AddFolder(folder.c_str()));
    std::vector<std::string> got = Paths(m);
    EXPECT_EQ((std::set<std::string>{dir / "one.doc", dir / "two.DOCX"}), std::set<std::string>(got.begin(), got.end()));

    dir.Write("three.doc", "333");
    EXPECT_TRUE(m.AddFolder(folder.c_str())) << "already listed ones count as accepted";
    ASSERT_EQ(3, m.GetCount());
    EXPECT_EQ(dir / "three.doc", m.GetAt(2)->szPath) << "new ones at the end";

    TempDir empty;
    empty.Write("readme.txt", "x");
    EXPECT_FALSE(m.AddFolder(empty.Path().c_str()));
    EXPECT_FALSE(m.AddFolder((dir / "nothing-here").c_str()));
    EXPECT_FALSE(m.AddFolder(nullptr));
    EXPECT_EQ(3, m.GetCount());
}

TEST(DocFileMgrTest, AddFolderListsNamesThatDifferOnlyInLetterCaseEach)
{
    TempDir dir;
    dir.Write("Report.doc", "1");
    dir.Write("report.doc", "22");
    dir.Write("REPORT.Docx", "333");
    DocFileMgr m;
    EXPECT_TRUE(m.AddFolder(dir.Path().c_str()));
    std::vector<std::string> got = Paths(m);
    EXPECT_EQ((std::set<std::string>{dir / "Report.doc", dir / "report.doc", dir / "REPORT.Docx"}),
              std::set<std::string>(got.begin(), got.end()));
    EXPECT_EQ(3u, got.size());
}

TEST(DocFileMgrTest, RemovingTheSecondOfThreeKeepsTheOrder)
{
    TempDir dir;
    DocFileMgr m;
    for (const char* n : {"a.doc", "b.doc", "c.doc"})
        ASSERT_TRUE(m.AddFile(dir.Write(n, n).c_str()));
    DocFileInfo* second = m.GetAt(1);
    EXPECT_TRUE(m.RemoveFile(second));
    EXPECT_EQ((std::vector<std::string>{dir / "a.doc", dir / "c.doc"}), Paths(m));
    EXPECT_FALSE(m.RemoveFile(nullptr));
    DocFileInfo stranger{};
    EXPECT_FALSE(m.RemoveFile(&stranger)) << "not a record of this list";
    EXPECT_EQ(2, m.GetCount());
}

TEST(DocFileMgrTest, GivesBackExactlyTheImageLibraryReferenceItTook)
{
    unsigned before = PictureLibRefCount();
    {
        DocFileMgr m;
        unsigned during = PictureLibRefCount();
        EXPECT_TRUE(during == before || during == before + 1);
    }
    EXPECT_EQ(before, PictureLibRefCount());
}

}  // namespace
