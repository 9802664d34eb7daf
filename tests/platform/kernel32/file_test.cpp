#include <windows.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>
#include <fcntl.h>

#include <cstring>
#include <vector>

#include "TempDir.h"

namespace {

TEST(Files, CopyKeepsContentAndWriteTime)
{
    TempDir dir;
    std::string src = dir.Write("src.doc", "content");
    struct timeval tv[2] = {{1000000000, 0}, {1000000000, 0}};
    utimes(src.c_str(), tv);
    std::string dst = dir / "dst.doc";
    ASSERT_TRUE(CopyFileA(src.c_str(), dst.c_str(), FALSE));
    EXPECT_EQ("content", ReadWhole(dst));
    struct stat st;
    stat(dst.c_str(), &st);
    EXPECT_EQ(1000000000, st.st_mtime);
    dir.Write("src.doc", "new");
    EXPECT_FALSE(CopyFileA(src.c_str(), dst.c_str(), TRUE));
    EXPECT_EQ((DWORD)ERROR_FILE_EXISTS, GetLastError());
    EXPECT_EQ("content", ReadWhole(dst));
    EXPECT_TRUE(CopyFileA(src.c_str(), dst.c_str(), FALSE));
    EXPECT_EQ("new", ReadWhole(dst));
    EXPECT_FALSE(CopyFileA((dir / "missing").c_str(), dst.c_str(), FALSE));
}

TEST(Files, DeleteRefusesFoldersAndMissingFiles)
{
    TempDir dir;
    std::string f = dir.Write("a.doc", "x");
    mkdir((dir / "folder").c_str(), 0755);
    EXPECT_TRUE(DeleteFileA(f.c_str()));
    EXPECT_NE(0, access(f.c_str(), 0));
    EXPECT_FALSE(DeleteFileA(f.c_str()));
    EXPECT_FALSE(DeleteFileA((dir / "folder").c_str()));
    EXPECT_EQ(0, access((dir / "folder").c_str(), 0));
}

TEST(Files, OpenWithoutSharingExcludesOtherOpens)
{
    TempDir dir;
    std::string f = dir.Write("a.doc", "x");
    HANDLE h1 = CreateFileA(f.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h1);
    HANDLE h2 = CreateFileA(f.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h2);
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    EXPECT_TRUE(CloseHandle(h1));
    EXPECT_FALSE(CloseHandle(h1));
    h2 = CreateFileA(f.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, h2);
    CloseHandle(h2);
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(dir.Path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA((dir / "none").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

TEST(Files, WriteTimeThroughFileTimeConversions)
{
    TempDir dir;
    std::string f = dir.Write("a.doc", "x");
    // 2021-03-04 05:06:07.5 UTC
    struct timespec ts[2] = {{1614834367, 500000000}, {1614834367, 500000000}};
    utimensat(AT_FDCWD, f.c_str(), ts, 0);
    HANDLE h = CreateFileA(f.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    FILETIME ftWrite = {0xdeadbeef, 0xdeadbeef};
    ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &ftWrite));
    CloseHandle(h);
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&ftWrite, &st));
    EXPECT_EQ(2021, st.wYear);
    EXPECT_EQ(3, st.wMonth);
    EXPECT_EQ(4, st.wDay);
    EXPECT_EQ(4, st.wDayOfWeek);  // Thursday
    EXPECT_EQ(5, st.wHour);
    EXPECT_EQ(6, st.wMinute);
    EXPECT_EQ(7, st.wSecond);
    EXPECT_EQ(500, st.wMilliseconds);
}

TEST(Files, SystemTimeCalendarEdges)
{
    struct Row {
        uint64_t ticks;
        int y, m, d, dow;
    } rows[] = {
        {0, 1601, 1, 1, 1},
        {116444736000000000ULL, 1970, 1, 1, 4},
        {(116444736000000000ULL + 951782400ULL * 10000000ULL), 2000, 2, 29, 2},
        {(116444736000000000ULL + 4107542400ULL * 10000000ULL), 2100, 3, 1, 1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.y);
        FILETIME ft = {(DWORD)(r.ticks & 0xffffffff), (DWORD)(r.ticks >> 32)};
        SYSTEMTIME st;
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
        EXPECT_EQ(r.y, st.wYear);
        EXPECT_EQ(r.m, st.wMonth);
        EXPECT_EQ(r.d, st.wDay);
        EXPECT_EQ(r.dow, st.wDayOfWeek);
    }
    FILETIME neg = {0, 0x80000000u};
    SYSTEMTIME untouched;
    memset(&untouched, 0xab, sizeof untouched);
    EXPECT_FALSE(FileTimeToSystemTime(&neg, &untouched));
    EXPECT_EQ(0xabab, untouched.wYear);
}

TEST(Files, LocalTimeAppliesTheZoneOffset)
{
    setenv("TZ", "UTC-2", 1);  // two hours east of UTC
    tzset();
    uint64_t ticks = 116444736000000000ULL;
    FILETIME ft = {(DWORD)(ticks & 0xffffffff), (DWORD)(ticks >> 32)}, local;
    ASSERT_TRUE(FileTimeToLocalFileTime(&ft, &local));
    SYSTEMTIME st;
    FileTimeToSystemTime(&local, &st);
    EXPECT_EQ(2, st.wHour);
    unsetenv("TZ");
    tzset();
}

TEST(Memory, PagesAreZeroedAndReleasedOnce)
{
    auto* p = static_cast<unsigned char*>(VirtualAlloc(nullptr, 10000, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % 4096);
    for (int i = 0; i < 10000; ++i)
        ASSERT_EQ(0, p[i]) << i;
    p[9999] = 1;
    EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
    EXPECT_FALSE(VirtualFree(p, 0, MEM_RELEASE));
    EXPECT_EQ(nullptr, VirtualAlloc(nullptr, 0, MEM_COMMIT, PAGE_READWRITE));
}

TEST(Memory, ReusedBlocksAreZeroedAgainAndReleasedOnce)
{
    // Large blocks freed are handed out again: each must read as zero whatever its last user
    // wrote, sizes that differ must not share a block, and a block freed twice is refused.
    const size_t sizes[] = {1 << 20, (1 << 20) + 1, 3 << 20, 1 << 20, 100000, 70 << 20};
    for (int round = 0; round < 3; ++round) {
        std::vector<unsigned char*> blocks;
        for (size_t n : sizes) {
            auto* p = static_cast<unsigned char*>(VirtualAlloc(nullptr, n, MEM_COMMIT, PAGE_READWRITE));
            ASSERT_NE(nullptr, p) << n;
            for (size_t i = 0; i < n; i += 509)
                ASSERT_EQ(0, p[i]) << "round " << round << " size " << n << " byte " << i;
            ASSERT_EQ(0, p[n - 1]) << "round " << round << " size " << n;
            memset(p, 0xAB, n);
            blocks.push_back(p);
        }
        for (unsigned char* p : blocks)
            EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
        for (unsigned char* p : blocks)
            EXPECT_FALSE(VirtualFree(p, 0, MEM_RELEASE));
    }
}

TEST(Crt, SplitPathCutsEveryPartToItsBuffer)
{
    char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
    _splitpath("/opt/folium/Pagesnap", drive, dir, fname, ext);
    EXPECT_STREQ("", drive);
    EXPECT_STREQ("/opt/folium/", dir);
    EXPECT_STREQ("Pagesnap", fname);
    EXPECT_STREQ("", ext);
    _splitpath("/a.b/report.final.docx", nullptr, dir, fname, ext);
    EXPECT_STREQ("/a.b/", dir);
    EXPECT_STREQ("report.final", fname);
    EXPECT_STREQ(".docx", ext);
    std::string longDir = "/" + std::string(400, 'd') + "/x.doc";
    _splitpath(longDir.c_str(), drive, dir, fname, ext);
    EXPECT_EQ(255u, strlen(dir));
    EXPECT_STREQ("x", fname);
    EXPECT_EQ(0, stricmp("ABC.doc", "abc.DOC"));
}

}  // namespace
