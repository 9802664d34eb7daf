#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sys/stat.h>

#include "TempDir.h"

namespace {

std::set<std::string> Find(const std::string& pattern)
{
    std::set<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        names.insert(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    EXPECT_EQ((DWORD)ERROR_NO_MORE_FILES, GetLastError());
    EXPECT_TRUE(FindClose(h));
    return names;
}

TEST(FindFile, WindowsMatchingRules)
{
    TempDir dir;
    for (const char* name : {"a.doc", "B.DOC", "c.docx", "d.DOCM", "e.txt", "f.do", "g.doc.bak", "report.docx.txt", "h"})
        dir.Write(name, "x");
    mkdir((dir / "sub.doc").c_str(), 0755);
    struct Row {
        const char* pattern;
        std::set<std::string> expected;
    } rows[] = {
        {"*.doc", {"a.doc", "B.DOC", "c.docx", "d.DOCM", "sub.doc"}},  // short names: .docx -> .DOC
        {"*.docx", {"c.docx"}},
        {"?.DOC", {"a.doc", "B.DOC", "c.docx", "d.DOCM"}},
        {"*.t?t", {"e.txt", "report.docx.txt"}},
        {"h", {"h"}},
        {"*.xls", {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.pattern);
        EXPECT_EQ(r.expected, Find(dir / r.pattern));
    }
}

TEST(FindFile, FindDataDescribesTheFile)
{
    TempDir dir;
    dir.Write("a.doc", std::string(2048, 'x'));
    mkdir((dir / "folder.doc").c_str(), 0755);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir / "*.doc").c_str(), &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    int seen = 0;
    do {
        std::string name = fd.cFileName;
        if (name == "a.doc") {
            EXPECT_EQ(2048u, fd.nFileSizeLow);
            EXPECT_FALSE(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        } else {
            EXPECT_EQ("folder.doc", name);
            EXPECT_TRUE(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        }
        ++seen;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    EXPECT_EQ(2, seen);
}

TEST(FindFile, FailuresAndStaleHandles)
{
    TempDir dir;
    WIN32_FIND_DATAA fd;
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA((dir / "*.doc").c_str(), &fd));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA((dir / "missing/*.doc").c_str(), &fd));
    EXPECT_EQ((DWORD)ERROR_PATH_NOT_FOUND, GetLastError());
    dir.Write("a.doc", "");
    HANDLE h = FindFirstFileA((dir / "*.doc").c_str(), &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_TRUE(FindClose(h));
    EXPECT_FALSE(FindClose(h));
    EXPECT_FALSE(FindNextFileA(h, &fd));
}

}  // namespace
