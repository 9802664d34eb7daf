// Message boxes, the file-open dialog and the folder picker: answered by the test hooks, and
// the real message box answered with the keyboard.
#include <commdlg.h>
#include <shlobj.h>
#include <windows.h>

#include "QtApp.h"
#include "platform/internal/ui.h"

#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstring>

namespace {

using platform::ui::FileDialogRequest;
using platform::ui::MessageBoxRequest;

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }
    void TearDown() override
    {
        platform::ui::SetMessageBoxHook(nullptr);
        platform::ui::SetFileDialogHook(nullptr);
    }
};

TEST_F(DialogTest, MessageBoxHookSeesTheBoxAndAnswersIt)
{
    QWidget owner;
    HWND h = platform::ui::WindowOf(&owner);
    MessageBoxRequest seen{};
    platform::ui::SetMessageBoxHook([&](const MessageBoxRequest& r) {
        seen = r;
        return IDNO;
    });
    EXPECT_EQ(IDNO, MessageBoxA(h, "Sure?", "Question", MB_YESNOCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(h, seen.owner);
    EXPECT_EQ("Sure?", seen.text);
    EXPECT_EQ("Question", seen.caption);
    EXPECT_EQ((UINT)(MB_YESNOCANCEL | MB_ICONQUESTION), seen.type);
    MessageBoxA(nullptr, nullptr, nullptr, MB_OK);
    EXPECT_EQ("Error", seen.caption) << "Windows' caption for none";
    EXPECT_EQ("", seen.text);
}

// The real box: Escape gives the cancelling button, Return the default one.
TEST_F(DialogTest, RealMessageBoxMapsKeysToButtonIds)
{
    struct Row {
        UINT type;
        Qt::Key key;
        int expected;
    } rows[] = {
        {MB_YESNOCANCEL | MB_ICONQUESTION, Qt::Key_Escape, IDCANCEL},
        {MB_OK | MB_ICONHAND, Qt::Key_Escape, IDOK},
        {MB_OKCANCEL | MB_ICONASTERISK, Qt::Key_Return, IDOK},
        {MB_YESNO | MB_DEFBUTTON2, Qt::Key_Return, IDNO},
        {MB_RETRYCANCEL | MB_ICONEXCLAMATION, Qt::Key_Escape, IDCANCEL},
    };
    for (auto& r : rows) {
        SCOPED_TRACE(r.type);
        QString caption;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            caption = box->windowTitle();
            icon = box->icon();
            QTest::keyClick(box, r.key);
        });
        EXPECT_EQ(r.expected, MessageBoxA(nullptr, "text", "Cap", r.type));
        EXPECT_EQ("Cap", caption);
        if ((r.type & MB_ICONMASK) == MB_ICONQUESTION) {
            EXPECT_EQ(QMessageBox::Question, icon);
        }
        if ((r.type & MB_ICONMASK) == MB_ICONHAND) {
            EXPECT_EQ(QMessageBox::Critical, icon);
        }
    }
}

TEST_F(DialogTest, WindowsFiltersBecomeCaseInsensitiveQtFilters)
{
    auto pairs = platform::ui::ParseFilter("Word Documents (*.doc, *.docx)\0*.doc;*.docx\0All\0*\0\0");
    ASSERT_EQ(2u, pairs.size());
    EXPECT_EQ("Word Documents (*.doc, *.docx)", pairs[0].first);
    EXPECT_EQ("*.doc;*.docx", pairs[0].second);
    EXPECT_EQ("*", pairs[1].second);
    EXPECT_TRUE(platform::ui::ParseFilter(nullptr).empty());
    EXPECT_TRUE(platform::ui::ParseFilter("Lonely\0\0").empty());

    std::string qt = platform::ui::QtNameFilter(pairs[0].first, pairs[0].second);
    EXPECT_EQ("Word Documents (*.doc, *.docx) (*.[dD][oO][cC] *.[dD][oO][cC][xX])", qt);
    // The patterns as Qt reads them (the last parenthesised group), matched with case.
    QString patterns = QString::fromStdString(qt).section('(', -1).chopped(1);
    auto matches = [&](const char* name) {
        for (const QString& p : patterns.split(' '))
            if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(p)).match(name).hasMatch())
                return true;
        return false;
    };
    EXPECT_TRUE(matches("REPORT.DOC"));
    EXPECT_TRUE(matches("a.Docx"));
    EXPECT_FALSE(matches("a.odt"));
    EXPECT_FALSE(matches("a.doc.bak"));
}

TEST_F(DialogTest, OpenDialogFillsTheStructureOrFailsCleanly)
{
    FileDialogRequest seen{};
    std::string answer = "/tmp/some dir/Report.v2.DOCX";
    platform::ui::SetFileDialogHook([&](const FileDialogRequest& r, std::string* path) {
        seen = r;
        *path = answer;
        return true;
    });
    char file[MAX_PATH] = "";
    char title[MAX_PATH];
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.lpstrFilter = "Word Documents (*.doc, *.docx)\0*.doc;*.docx\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrFileTitle = title;
    ofn.nMaxFileTitle = sizeof title;
    ofn.Flags = OFN_FILEMUSTEXIST;
    ASSERT_TRUE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(FileDialogRequest::OpenFile, seen.kind);
    ASSERT_EQ(1u, seen.filters.size());
    EXPECT_STREQ(answer.c_str(), file);
    EXPECT_STREQ("Report.v2.DOCX", title);
    EXPECT_EQ(14, ofn.nFileOffset);
    EXPECT_STREQ("DOCX", file + ofn.nFileExtension);
    EXPECT_EQ(1u, ofn.nFilterIndex);

    char small[10];
    memset(small, 0x5a, sizeof small);
    ofn.lpstrFile = small;
    ofn.nMaxFile = sizeof small;
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_EQ((DWORD)FNERR_BUFFERTOOSMALL, CommDlgExtendedError());
    EXPECT_EQ(0x5a, small[0]) << "nothing written past a refusal";

    platform::ui::SetFileDialogHook([](const FileDialogRequest&, std::string*) { return false; });
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(0u, CommDlgExtendedError()) << "a cancel is no error";
}

TEST_F(DialogTest, FolderPickerGivesAnItemWithItsPath)
{
    FileDialogRequest seen{};
    platform::ui::SetFileDialogHook([&](const FileDialogRequest& r, std::string* path) {
        seen = r;
        *path = "/home/u/My Docs";
        return true;
    });
    QWidget owner;
    char name[MAX_PATH] = "";
    BROWSEINFOA bi{};
    bi.hwndOwner = platform::ui::WindowOf(&owner);
    bi.pszDisplayName = name;
    bi.lpszTitle = "Add Document Directory";
    PIDLIST_ABSOLUTE item = SHBrowseForFolderA(&bi);
    ASSERT_NE(nullptr, item);
    EXPECT_EQ(FileDialogRequest::PickFolder, seen.kind);
    EXPECT_EQ("Add Document Directory", seen.title);
    EXPECT_EQ(bi.hwndOwner, seen.owner);
    EXPECT_FALSE(seen.initialDir.empty()) << "starts at the desktop";
    EXPECT_STREQ("My Docs", name);
    char path[MAX_PATH];
    ASSERT_TRUE(SHGetPathFromIDListA(item, path));
    EXPECT_STREQ("/home/u/My Docs", path);
    ILFree(item);

    strcpy(path, "x");
    EXPECT_FALSE(SHGetPathFromIDListA(nullptr, path));
    EXPECT_STREQ("", path);

    platform::ui::SetFileDialogHook([&](const FileDialogRequest&, std::string* p) {
        *p = "/" + std::string(300, 'a');
        return true;
    });
    item = SHBrowseForFolderA(&bi);
    ASSERT_NE(nullptr, item);
    EXPECT_EQ(MAX_PATH - 1, (int)strlen(name)) << "display name cut to its buffer";
    EXPECT_FALSE(SHGetPathFromIDListA(item, path)) << "a path too long for MAX_PATH";
    ILFree(item);

    platform::ui::SetFileDialogHook([](const FileDialogRequest&, std::string*) { return false; });
    EXPECT_EQ(nullptr, SHBrowseForFolderA(&bi));
}

}  // namespace
