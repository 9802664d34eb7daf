#include <windows.h>

#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "TempDir.h"

namespace {

TEST(PrivateProfile, DefaultsWhenFileSectionOrKeyMissing)
{
    TempDir dir;
    std::string ini = dir.Write("a.ini", "[Other]\nImageType=3\n[Option]\nOutputPath=/x\n");
    std::string missing = dir / "none.ini";
    char buf[32] = "";
    struct Row {
        const char* file;
        const char* section;
        const char* key;
    } rows[] = {{missing.c_str(), "Option", "ImageType"},
                {ini.c_str(), "Nope", "ImageType"},
                {ini.c_str(), "Option", "ImageType"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.file) + " [" + r.section + "] " + r.key);
        EXPECT_EQ(7u, GetPrivateProfileIntA(r.section, r.key, 7, r.file));
        EXPECT_EQ(3u, GetPrivateProfileStringA(r.section, r.key, "def", buf, sizeof buf, r.file));
        EXPECT_STREQ("def", buf);
    }
}

TEST(PrivateProfile, ReadsCaseInsensitivelyAndParsesIntegers)
{
    TempDir dir;
    std::string ini = dir.Write("a.ini",
                                "; comment\r\n[option]\r\n  imagetype = 12abc \r\nneg=-4\r\ntext=\"quoted\"\r\n"
                                "bad=abc\r\n");
    EXPECT_EQ(12u, GetPrivateProfileIntA("Option", "ImageType", 2, ini.c_str()));
    EXPECT_EQ((UINT)-4, GetPrivateProfileIntA("OPTION", "NEG", 2, ini.c_str()));
    EXPECT_EQ(0u, GetPrivateProfileIntA("Option", "bad", 2, ini.c_str()));
    char buf[16];
    EXPECT_EQ(6u, GetPrivateProfileStringA("Option", "text", "", buf, sizeof buf, ini.c_str()));
    EXPECT_STREQ("quoted", buf);
}

TEST(PrivateProfile, StringIsCutToBufferAndTerminated)
{
    TempDir dir;
    std::string ini = dir.Write("a.ini", "[S]\nk=" + std::string(300, 'x') + "\n");
    char buf[260];
    memset(buf, 0x7f, sizeof buf);
    EXPECT_EQ(258u, GetPrivateProfileStringA("S", "k", "", buf, 259, ini.c_str()));
    EXPECT_EQ(std::string(258, 'x'), std::string(buf));
    EXPECT_EQ(0x7f, buf[259]);  // nothing written past the given size
}

TEST(PrivateProfile, WriteCreatesFileAndSection)
{
    TempDir dir;
    std::string ini = dir / "new.ini";
    ASSERT_TRUE(WritePrivateProfileStringA("Option", "ImageType", "2", ini.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("Option", "OutputPath", "/out", ini.c_str()));
    EXPECT_EQ("[Option]\nImageType=2\nOutputPath=/out\n", ReadWhole(ini));
}

TEST(PrivateProfile, WriteReplacesInPlaceAndKeepsEverythingElse)
{
    TempDir dir;
    const std::string before =
        "; settings\n[First]\na=1\n\n[Option]\n# note\nImageType=7\ngarbage line\nCleanWord=5\n\n[Last]\nz=9\n";
    std::string ini = dir.Write("a.ini", before);
    ASSERT_TRUE(WritePrivateProfileStringA("option", "imagetype", "3", ini.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("Option", "TempPath", "/t", ini.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("Last", "y", "8", ini.c_str()));
    EXPECT_EQ("; settings\n[First]\na=1\n\n[Option]\n# note\nimagetype=3\ngarbage line\nCleanWord=5\nTempPath=/t\n"
              "\n[Last]\nz=9\ny=8\n",
              ReadWhole(ini));
}

TEST(PrivateProfile, WriteFailureIsReported)
{
    TempDir dir;
    std::string folderAsFile = dir / "ini";
    mkdir(folderAsFile.c_str(), 0755);
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", folderAsFile.c_str()));
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", (dir / "missing/a.ini").c_str()));
}

std::set<std::string> Names(const std::string& folder)
{
    std::set<std::string> out;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
                out.insert(e->d_name);
        closedir(d);
    }
    return out;
}

// Files of this process may grow to nBytes only while it lives (a full disk, as write()
// sees it: the write that crosses the limit fails).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t nBytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit lim = m_old;
        lim.rlim_cur = nBytes;
        setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old;
    sighandler_t m_oldHandler;
};

TEST(PrivateProfile, AFailedWriteLeavesTheFileAsItWas)
{
    TempDir dir;
    const std::string before = "[Option]\nImageType=3\nOutputPath=/home/u/" + std::string(200, 'o') + "/\n";
    std::string ini = dir.Write("folium.ini", before);
    chmod(ini.c_str(), 0640);
    {
        FileSizeLimit full(before.size() + 8);
        EXPECT_FALSE(WritePrivateProfileStringA("Option", "TempPath", std::string(64, 't').c_str(), ini.c_str()));
    }
    EXPECT_EQ(before, ReadWhole(ini)) << "the settings were rewritten in place after the failed write";
    EXPECT_EQ((std::set<std::string>{"folium.ini"}), Names(dir.Path())) << "no half-written file stays";

    // A write that fits replaces the file and keeps who may read it.
    ASSERT_TRUE(WritePrivateProfileStringA("Option", "ImageType", "1", ini.c_str()));
    EXPECT_NE(std::string::npos, ReadWhole(ini).find("ImageType=1\n"));
    struct stat st;
    ASSERT_EQ(0, stat(ini.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 0777);
    EXPECT_EQ((std::set<std::string>{"folium.ini"}), Names(dir.Path()));
}

TEST(PrivateProfile, WritesInPlaceOnlyWhenTheFolderRefusesANewFile)
{
    TempDir dir;
    std::string ini = dir.Write("folium.ini", "[Option]\nImageType=3\n");
    const bool root = geteuid() == 0;
    // The folder may not be written, the file may: as another user when run as root (whom
    // permissions do not stop), else with the folder made read-only.
    const uid_t other = 65534;
    ASSERT_EQ(0, chmod(dir.Path().c_str(), root ? 0755 : 0555));
    if (root) {
        ASSERT_EQ(0, chown(ini.c_str(), other, other));
    }
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (root && (setgid(other) != 0 || setuid(other) != 0))
            _exit(3);
        const bool ok = WritePrivateProfileStringA("Option", "ImageType", "1", ini.c_str());
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    chmod(dir.Path().c_str(), 0700);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ("[Option]\nImageType=1\n", ReadWhole(ini));
    EXPECT_EQ((std::set<std::string>{"folium.ini"}), Names(dir.Path()));
}

}  // namespace
