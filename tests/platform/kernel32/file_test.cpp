#include <windows.h>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

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

// What a name may be made to point at by someone sharing the folder: the writes below must
// fail there and leave the pointed-at file as it was.
struct PlantedRow {
    const char* what;
    void (*plant)(const std::string& name, const std::string& victim);
};
const PlantedRow kPlanted[] = {
    {"symbolic link to a file", [](const std::string& n, const std::string& v) { ASSERT_EQ(0, symlink(v.c_str(), n.c_str())); }},
    {"dangling symbolic link", [](const std::string& n, const std::string& v) {
         ASSERT_EQ(0, symlink((v + ".new").c_str(), n.c_str()));
     }},
    {"named pipe", [](const std::string& n, const std::string&) { ASSERT_EQ(0, mkfifo(n.c_str(), 0600)); }},
};

TEST(Files, CopyNeverWritesThroughALinkOrIntoAnythingButAFile)
{
    for (const PlantedRow& row : kPlanted) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        std::string src = dir.Write("src.doc", "document");
        std::string victim = dir.Write("victim.txt", "0xdeadbeef");
        std::string dst = dir / "dst.doc";
        row.plant(dst, victim);
        for (BOOL failIfExists : {FALSE, TRUE}) {
            EXPECT_FALSE(CopyFileA(src.c_str(), dst.c_str(), failIfExists));
            EXPECT_EQ("0xdeadbeef", ReadWhole(victim));
            EXPECT_NE(0, access((victim + ".new").c_str(), F_OK)) << "nothing made through the link";
            struct stat st;
            EXPECT_EQ(0, lstat(dst.c_str(), &st)) << "what was planted stays";
        }
    }
}

TEST(Files, CopyFromANamedPipeFailsWithoutWaiting)
{
    TempDir dir;
    ASSERT_EQ(0, mkfifo((dir / "pipe.doc").c_str(), 0600));
    EXPECT_FALSE(CopyFileA((dir / "pipe.doc").c_str(), (dir / "copy.doc").c_str(), FALSE));
    EXPECT_NE(0, access((dir / "copy.doc").c_str(), F_OK));
}

TEST(Files, CreateWithoutFollowingLinksRefusesThemAndTruncatesNothing)
{
    for (const PlantedRow& row : kPlanted) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        std::string victim = dir.Write("victim.txt", "0xdeadbeef");
        std::string name = dir / "picture.bmp";
        row.plant(name, victim);
        for (DWORD disposition : {CREATE_ALWAYS, OPEN_ALWAYS, TRUNCATE_EXISTING, CREATE_NEW}) {
            HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            EXPECT_EQ(INVALID_HANDLE_VALUE, h) << "disposition " << disposition;
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
            EXPECT_EQ("0xdeadbeef", ReadWhole(victim));
            EXPECT_NE(0, access((victim + ".new").c_str(), F_OK));
        }
    }
    // A regular file is replaced: truncated, then written.
    TempDir dir;
    std::string name = dir.Write("picture.bmp", "older and longer");
    HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD n = 0xdeadbeef;
    EXPECT_TRUE(WriteFile(h, "new", 3, &n, nullptr));
    EXPECT_EQ(3u, n);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ("new", ReadWhole(name));
}

TEST(Files, WriteReportsAFullDisk)
{
    TempDir dir;
    std::string name = dir / "big.bin";
    HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old;
    lim.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &lim);
    std::string data(300, 'x');
    DWORD n = 0xdeadbeef;
    const BOOL ok = WriteFile(h, data.data(), (DWORD)data.size(), &n, nullptr);
    const DWORD err = GetLastError();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok);
    EXPECT_EQ((DWORD)ERROR_DISK_FULL, err);
    EXPECT_EQ(100u, n) << "what did reach the file";
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr)) << "a closed handle";
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
}

TEST(Files, MoveReplacesOnlyWhenAskedAndNeverThroughALink)
{
    TempDir dir;
    std::string a = dir.Write("a.tmp", "new picture");
    std::string b = dir.Write("b.jpg", "old picture");
    EXPECT_FALSE(MoveFileExA(a.c_str(), b.c_str(), 0));
    EXPECT_EQ("old picture", ReadWhole(b));
    EXPECT_TRUE(MoveFileExA(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ("new picture", ReadWhole(b));
    EXPECT_NE(0, access(a.c_str(), F_OK));
    // A link at the new name is replaced itself; the file it pointed at stays.
    std::string victim = dir.Write("victim.txt", "0xdeadbeef");
    std::string c = dir.Write("c.tmp", "third");
    std::string link = dir / "link.jpg";
    ASSERT_EQ(0, symlink(victim.c_str(), link.c_str()));
    EXPECT_TRUE(MoveFileExA(c.c_str(), link.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ("third", ReadWhole(link));
    EXPECT_EQ("0xdeadbeef", ReadWhole(victim));
    EXPECT_FALSE(MoveFileExA((dir / "missing").c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
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
