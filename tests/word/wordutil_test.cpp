// The application instance: start-up, documents opened by name, temporary names, the list of
// open documents and the order of the end.
#include "WordFixture.h"

#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"

#include <comobject.h>

#include <algorithm>
#include <memory>

namespace {

using scripted::Calls;
using scripted::CallsOf;

class WordUtilTest : public WordFixture {
protected:
    // The instance uninitialises COM once at its end, as the program's start initialised it.
    std::unique_ptr<CxWordUtil> MakeUtil()
    {
        CoInitialize(nullptr);
        return std::unique_ptr<CxWordUtil>(new CxWordUtil);
    }
};

TEST_F(WordUtilTest, StartsTheApplicationAndTakesItsDocumentsCollection)
{
    auto util = MakeUtil();
    EXPECT_TRUE(util->IsStarted());
    auto docs = CallsOf("Documents");
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_EQ(docs[0].object, "Application");
    EXPECT_EQ(docs[0].flags, DISPATCH_PROPERTYGET);
    EXPECT_TRUE(docs[0].args.empty());
}

TEST_F(WordUtilTest, OpenDocumentObjectPassesThePathAndCloseReleasesIt)
{
    const std::string path = Doc("a.doc", scripted::MakeDocument({"one"}));
    auto util = MakeUtil();
    std::u16string wide(path.begin(), path.end());
    IDispatch* pDoc = util->OpenDocumentObject(wide.c_str());
    ASSERT_NE(pDoc, nullptr);
    auto opens = CallsOf("Open");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].object, "Documents");
    EXPECT_EQ(opens[0].flags, DISPATCH_METHOD);
    ASSERT_EQ(opens[0].args.size(), 1u);
    EXPECT_EQ(opens[0].args[0].vt, VT_BSTR);
    EXPECT_EQ(opens[0].args[0].str, path);

    const int alive = scripted::LiveObjects();
    util->CloseDocumentObject(pDoc);
    auto closes = CallsOf("Close");
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].object, "Document");
    EXPECT_EQ(closes[0].flags, DISPATCH_METHOD);
    EXPECT_TRUE(closes[0].args.empty());
    EXPECT_EQ(scripted::LiveObjects(), alive - 1) << "the caller's reference is released";
    util->CloseDocumentObject(nullptr); // nothing happens
}

TEST_F(WordUtilTest, OpenDocumentObjectFailsWithoutADocument)
{
    auto util = MakeUtil();
    EXPECT_EQ(util->OpenDocumentObject(u"/nonexistent/x.doc"), nullptr);
    scripted::TheScript().failDocumentsOpen = true;
    const std::string path = Doc("a.doc", "x\n");
    std::u16string wide(path.begin(), path.end());
    EXPECT_EQ(util->OpenDocumentObject(wide.c_str()), nullptr);
}

TEST_F(WordUtilTest, WithoutDocumentsCollectionNothingIsOpenedAndWordIsNotCalled)
{
    scripted::TheScript().noDocuments = true;
    auto util = MakeUtil();
    EXPECT_TRUE(util->IsStarted()) << "start-up still counts as a success";
    const std::string path = Doc("a.doc", "x\n");
    std::u16string wide(path.begin(), path.end());
    scripted::ClearCalls();
    EXPECT_EQ(util->OpenDocumentObject(wide.c_str()), nullptr);
    EXPECT_TRUE(Calls().empty());
}

TEST_F(WordUtilTest, AnUnregisteredApplicationLeavesAUsableInstance)
{
    scripted::Uninstall();
    CoInitialize(nullptr);
    // A class object that is not a class factory stands for a server that cannot make objects.
    struct NotAFactory : com::Object<com::Answers<IUnknown>> {
        void LastReleased() override {}
    } broken;
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(u"Word.Application", &clsid), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(clsid, &broken, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
    {
        CxWordUtil util;
        EXPECT_FALSE(util.IsStarted());
        EXPECT_EQ(util.OpenDocumentObject(u"/x.doc"), nullptr);
    }
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(broken.References(), 1u);
}

struct TempNameRow {
    const char* temp;
    const char* source;
    int number;
    const char* expected; // null: fails
};

TEST_F(WordUtilTest, MakeTempNameBuildsTheNameInTheTemporaryFolder)
{
    const TempNameRow rows[] = {
        {"/tools/temp/", "/docs/Report.doc", 3, "/tools/temp/Report_temp_3.doc"},
        {"/scratch", "/docs/Report.doc", 3, "/scratch/Report_temp_3.doc"},
        {"/tools/temp/", "/other/place/Report.doc", 3, "/tools/temp/Report_temp_3.doc"},
        {"/tools/temp/", "/docs/Report", 3, "/tools/temp/Report_temp_3"},
        {"/tools/temp/", "/my.docs/Report", 3, "/tools/temp/Report_temp_3"},
        {"/tools/temp/", "/docs/Report.DOCX", 65536, "/tools/temp/Report_temp_65536.DOCX"},
        {"/tools/temp/", "Report.doc", 12, "/tools/temp/Report_temp_12.doc"},
        {"", "/docs/Report.doc", 3, nullptr},
    };
    for (const TempNameRow& row : rows) {
        SCOPED_TRACE(std::string(row.temp) + " | " + row.source);
        std::snprintf(m_tempFolder, sizeof(m_tempFolder), "%s", row.temp);
        char out[MAX_PATH];
        std::memset(out, 'x', sizeof(out));
        const bool ok = CxWordUtil::MakeTempName(row.source, out, MAX_PATH - 1, row.number);
        ASSERT_EQ(ok, row.expected != nullptr);
        if (row.expected) {
            EXPECT_STREQ(out, row.expected);
        }
    }
}

TEST_F(WordUtilTest, MakeTempNameRefusesBadArgumentsAndNamesThatDoNotFit)
{
    std::snprintf(m_tempFolder, sizeof(m_tempFolder), "/t/");
    char out[64];
    EXPECT_FALSE(CxWordUtil::MakeTempName(nullptr, out, sizeof(out), 1));
    EXPECT_FALSE(CxWordUtil::MakeTempName("", out, sizeof(out), 1));
    EXPECT_FALSE(CxWordUtil::MakeTempName("/a.doc", nullptr, sizeof(out), 1));
    EXPECT_FALSE(CxWordUtil::MakeTempName("/a.doc", out, 0, 1));
    // Without a temporary folder from the caller there are no temporary names.
    CxWordUtil::SetTempFolder(nullptr, 0);
    std::memset(out, '#', sizeof(out));
    EXPECT_FALSE(CxWordUtil::MakeTempName("/a.doc", out, sizeof(out), 1));
    EXPECT_EQ(out[0], 0);
    CxWordUtil::SetTempFolder(m_tempFolder, sizeof(m_tempFolder));

    // "/t/a_temp_1.doc" is 15 characters: 16 bytes fit, 15 do not, and nothing is written past
    // the size given.
    std::memset(out, '#', sizeof(out));
    EXPECT_TRUE(CxWordUtil::MakeTempName("/a.doc", out, 16, 1));
    EXPECT_STREQ(out, "/t/a_temp_1.doc");
    std::memset(out, '#', sizeof(out));
    EXPECT_FALSE(CxWordUtil::MakeTempName("/a.doc", out, 15, 1));
    EXPECT_EQ(out[0], 0) << "a name that does not fit leaves no partial name";
    EXPECT_EQ(out[15], '#');
}

TEST_F(WordUtilTest, MakeTempNameReadsTheSettingAtEveryCall)
{
    char out[MAX_PATH];
    std::snprintf(m_tempFolder, sizeof(m_tempFolder), "/first/");
    ASSERT_TRUE(CxWordUtil::MakeTempName("/d/R.doc", out, MAX_PATH - 1, 1));
    EXPECT_STREQ(out, "/first/R_temp_1.doc");
    std::snprintf(m_tempFolder, sizeof(m_tempFolder), "/second/");
    ASSERT_TRUE(CxWordUtil::MakeTempName("/d/R.doc", out, MAX_PATH - 1, 1));
    EXPECT_STREQ(out, "/second/R_temp_1.doc");
}

int LoadsOf(const std::string& path)
{
    int n = 0;
    for (const auto& c : CallsOf("Load"))
        n += c.args.size() == 1 && c.args[0].str == path;
    return n;
}

TEST_F(WordUtilTest, OpenDocumentGivesTheListedObjectForItsPathAndTellsLetterCasesApart)
{
    const std::string path = Doc("Alpha.doc", scripted::MakeDocument({"a1", "a2"}));
    const std::string lower = Doc("alpha.doc", scripted::MakeDocument({"b1"}));
    auto util = MakeUtil();
    CxWordDoc* first = util->OpenDocument(path.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(util->OpenDocument(path.c_str()), first);
    EXPECT_EQ(util->FindDocument(path.c_str()), first);
    EXPECT_EQ(LoadsOf(path), 1);
    // "alpha.doc" is another file: not found before it is opened, then an object of its own
    // with its own pages.
    EXPECT_EQ(util->FindDocument(lower.c_str()), nullptr);
    CxWordDoc* second = util->OpenDocument(lower.c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->GetPageCount(), 1);
    EXPECT_EQ(first->GetPageCount(), 2);
    EXPECT_EQ(LoadsOf(lower), 1);
    EXPECT_EQ(util->FindDocument(path.c_str()), first);
    EXPECT_EQ(util->FindDocument(lower.c_str()), second);
    EXPECT_EQ(util->FindDocument(nullptr), nullptr);
    EXPECT_EQ(util->FindDocument(""), nullptr);
    EXPECT_EQ(util->OpenDocument(nullptr), nullptr);
    EXPECT_EQ(util->OpenDocument(""), nullptr);
}

TEST_F(WordUtilTest, OneFileThroughTwoPathsGivesTwoObjects)
{
    const std::string path = Doc("Alpha.doc", scripted::MakeDocument({"a1"}));
    const std::string other = m_dir.Path() + "./Alpha.doc";
    auto util = MakeUtil();
    CxWordDoc* a = util->OpenDocument(path.c_str());
    CxWordDoc* b = util->OpenDocument(other.c_str());
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
}

TEST_F(WordUtilTest, AFailedOpenKeepsNothingAndIsTriedAgain)
{
    const std::string missing = m_dir / "missing.doc";
    const std::string path = Doc("Alpha.doc", scripted::MakeDocument({"a1"}));
    auto util = MakeUtil();
    CxWordDoc* a = util->OpenDocument(path.c_str());
    ASSERT_NE(a, nullptr);
    const int alive = scripted::LiveObjects();
    EXPECT_EQ(util->OpenDocument(missing.c_str()), nullptr);
    EXPECT_EQ(util->FindDocument(missing.c_str()), nullptr);
    EXPECT_EQ(scripted::LiveObjects(), alive);

    // The file appears: the same path is loaded now.
    Doc("missing.doc", scripted::MakeDocument({"m1"}));
    CxWordDoc* m = util->OpenDocument(missing.c_str());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(util->FindDocument(path.c_str()), a);
    EXPECT_EQ(util->FindDocument(missing.c_str()), m);
}

TEST_F(WordUtilTest, TheEndDestroysListedDocumentsInOpeningOrderBeforeReleasingTheApplication)
{
    const std::string a = Doc("A.doc", scripted::MakeDocument({"a"}));
    const std::string b = Doc("B.doc", scripted::MakeDocument({"b"}));
    const std::string c = Doc("C.doc", scripted::MakeDocument({"c"}));
    auto util = MakeUtil();
    ASSERT_NE(util->OpenDocument(b.c_str()), nullptr);
    ASSERT_NE(util->OpenDocument(a.c_str()), nullptr);
    ASSERT_NE(util->OpenDocument(c.c_str()), nullptr);
    scripted::ClearCalls();
    util.reset();

    // Each document's source and page embeddings end; the source's is the one loaded from the
    // document's own path.
    std::vector<std::string> order;
    for (const auto& call : Calls()) {
        if (call.member != "destroyed")
            continue;
        if (call.object == "Application")
            order.push_back("application");
        else if (call.args[0].str == a || call.args[0].str == b || call.args[0].str == c)
            order.push_back(call.args[0].str);
    }
    const std::vector<std::string> expected = {b, a, c, "application"};
    EXPECT_EQ(order, expected);
}

} // namespace
