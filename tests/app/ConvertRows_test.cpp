#include "TfmConvert.h"

#include "TempDir.h"

namespace {

TEST_F(TfmConvertTest, OutputNamesFollowDocumentPageAndFormat)
{
    struct Row {
        const char* out;
        int type;
        const char* doc;
        int page;
        const char* expected;
    } rows[] = {
        {"/out", 3, "/docs/Report.final.docx", 3, "/out/Report.final_3.png"},
        {"/out/", 1, "a.doc", 10, "/out//a_10.bmp"},
        {"/o", 2, "/d/x.y.doc", 1, "/o/x.y_1.jpg"},
        {"/o", 0, "/d/noext", 1, "/o/noext_1.jpg"},
        {"/o", 7, "/d/a.doc", 2, "/o/a_2.jpg"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.expected);
        strcpy(OptionSettings.OutputPath, r.out);
        OptionSettings.ImageType = r.type;
        char name[MAX_PATH];
        ASSERT_TRUE(OutputName(r.doc, r.page, name, MAX_PATH));
        EXPECT_STREQ(r.expected, name);
    }
    // A name that does not fit the path buffer is refused, never cut into another name.
    std::string longOut = "/" + std::string(250, 'o');
    strcpy(OptionSettings.OutputPath, longOut.c_str());
    char name[MAX_PATH + 8];
    memset(name, 0x7f, sizeof name);
    EXPECT_FALSE(OutputName("/d/long-document-name.doc", 1, name, MAX_PATH));
    EXPECT_EQ('\0', name[0]);
    EXPECT_EQ(0x7f, name[MAX_PATH]);
}

TEST_F(TfmConvertTest, TheListViewMirrorsTheDocumentList)
{
    TempDir dir;
    std::string a = dir.Write("a.doc", std::string(2048, 'x'));
    std::string b = dir.Write("b.docx", "bb");
    std::string c = dir.Write("c.doc", "c");
    AddFiles({a});
    ASSERT_EQ(1, Files()->topLevelItemCount());
    EXPECT_EQ(QString::fromStdString(a), Files()->topLevelItem(0)->text(0));
    EXPECT_EQ("2048", Files()->topLevelItem(0)->text(1));
    EXPECT_TRUE(Files()->topLevelItem(0)->text(2).contains(QRegularExpression("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d$")));
    EXPECT_TRUE(Ticked(Files(), 0));
    EXPECT_TRUE(w->ui->btnConvert->isEnabled());
    EXPECT_EQ("Convert", w->ui->btnConvert->text());

    // New rows are ticked: deleting right after adding removes them.
    Del();
    EXPECT_EQ(0, Files()->topLevelItemCount());
    EXPECT_EQ(0, DocCount());
    EXPECT_FALSE(w->ui->btnConvert->isEnabled());

    AddFiles({a, b, c, b});  // the repeated path adds no row
    ASSERT_EQ(3, Files()->topLevelItemCount());
    Tick(Files(), 0, false);
    Tick(Files(), 2, false);
    Del();  // only the second is ticked
    ASSERT_EQ(2, Files()->topLevelItemCount());
    EXPECT_EQ(2, DocCount());
    EXPECT_EQ(QString::fromStdString(a), Files()->topLevelItem(0)->text(0));
    EXPECT_EQ(QString::fromStdString(c), Files()->topLevelItem(1)->text(0));
    Del();  // nothing ticked: nothing changes
    EXPECT_EQ(2, Files()->topLevelItemCount());
    AddFiles({b});
    ASSERT_EQ(3, Files()->topLevelItemCount());
    EXPECT_EQ(QString::fromStdString(b), Files()->topLevelItem(2)->text(0));
}

TEST_F(TfmConvertTest, SingleDocumentCommandsDoNothingWithoutADocument)
{
    TempDir dir;
    strcpy(OptionSettings.OutputPath, dir.Path().c_str());
    ConvertAll();
    ConvertSelected();
    ConvertThis();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(progress.empty());
    EXPECT_FALSE(HasWordUtil());
}

}  // namespace
