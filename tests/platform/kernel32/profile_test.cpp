#include <windows.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
