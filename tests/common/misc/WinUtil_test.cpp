#include "common/misc/WinUtil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>

#include "TempDir.h"

namespace {

TEST(WinUtil, ModuleFolderEndsWithTheSeparator)
{
    char szFolder[MAX_PATH];
    memset(szFolder, 0x7f, sizeof szFolder);
    ASSERT_EQ(1, GetModuleFolder(nullptr, szFolder));
    std::string folder(szFolder);
    EXPECT_EQ('/', folder.front());
    EXPECT_EQ('/', folder.back());
    EXPECT_EQ(0, access((folder + "common_misc_test").c_str(), 0));
    EXPECT_EQ(0, GetModuleFolder(nullptr, nullptr));
}

TEST(WinUtil, FileLength)
{
    TempDir dir;
    struct Row {
        std::string path;
        int result;
        int32_t size;
    } rows[] = {
        {dir.Write("empty.doc", ""), 1, 0},
        {dir.Write("k.doc", std::string(2048, 'x')), 1, 2048},
        {dir.Path(), 0, 0},
        {dir / "missing.doc", 0, 0},
        {"", 0, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.path);
        int32_t size = 0x5eed;
        EXPECT_EQ(r.result, GetFileLength(r.path.c_str(), &size));
        EXPECT_EQ(r.size, size);
    }
    int32_t size = 7;
    EXPECT_EQ(0, GetFileLength(nullptr, &size));
    EXPECT_EQ(0, size);
}

TEST(WinUtil, WriteTimeIsLocalCalendarTime)
{
    setenv("TZ", "UTC-1", 1);
    tzset();
    TempDir dir;
    std::string f = dir.Write("a.doc", "x");
    struct timeval tv[2] = {{1614834367, 0}, {1614834367, 0}};  // 2021-03-04 05:06:07 UTC
    utimes(f.c_str(), tv);
    SYSTEMTIME st;
    ASSERT_NE(0, GetFileWriteTime(f.c_str(), &st));
    EXPECT_EQ(2021, st.wYear);
    EXPECT_EQ(3, st.wMonth);
    EXPECT_EQ(4, st.wDay);
    EXPECT_EQ(6, st.wHour);
    EXPECT_EQ(6, st.wMinute);
    EXPECT_EQ(7, st.wSecond);
    unsetenv("TZ");
    tzset();
}

TEST(WinUtil, FailedTimeLeavesTheOutputUntouched)
{
    TempDir dir;
    std::string f = dir.Write("a.doc", "x");
    SYSTEMTIME sentinel;
    memset(&sentinel, 0xef, sizeof sentinel);
    SYSTEMTIME st = sentinel;
    EXPECT_EQ(0, GetFileTimeLocal(f.c_str(), 3, &st));
    EXPECT_EQ(0, GetFileTimeLocal(dir.Path().c_str(), 2, &st));
    EXPECT_EQ(0, GetFileTimeLocal((dir / "missing").c_str(), 2, &st));
    // Held without sharing by someone else: the time cannot be read.
    HANDLE h = CreateFileA(f.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(0, GetFileWriteTime(f.c_str(), &st));
    CloseHandle(h);
    EXPECT_EQ(0, memcmp(&sentinel, &st, sizeof st));
    EXPECT_NE(0, GetFileWriteTime(f.c_str(), &st));
}

TEST(WinUtil, ShellOpenRefusesEmptyTargets)
{
    EXPECT_EQ(0, ShellOpen(nullptr));
    EXPECT_EQ(0, ShellOpen(""));
}

}  // namespace
