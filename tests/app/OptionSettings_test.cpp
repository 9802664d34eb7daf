#include "app/OptionSettings.h"
#include "common/misc/WinUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "TempDir.h"

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        GetModuleFolder(nullptr, m_szFolder);
        m_ini = std::string(m_szFolder) + "folium.ini";
        std::filesystem::remove_all(m_ini);
        memset(&OptionSettings, 0, sizeof OptionSettings);
    }
    void TearDown() override { std::filesystem::remove_all(m_ini); }
    void WriteIni(const std::string& text) { std::ofstream(m_ini, std::ios::binary) << text; }

    char m_szFolder[MAX_PATH];
    std::string m_ini;
};

TEST_F(Settings, FirstStartGivesDefaultsAndExitWritesAllFourKeys)
{
    ASSERT_TRUE(LoadOptionSettings());
    EXPECT_EQ(2, OptionSettings.ImageType);
    EXPECT_EQ(std::string(m_szFolder) + "output/", OptionSettings.OutputPath);
    EXPECT_EQ(std::string(m_szFolder) + "temp/", OptionSettings.TempPath);
    EXPECT_TRUE(OptionSettings.CleanWord);
    EXPECT_NE(0, access(m_ini.c_str(), 0));  // loading creates nothing
    ASSERT_TRUE(SaveOptionSettings());
    EXPECT_EQ("[Option]\nImageType=2\nOutputPath=" + std::string(m_szFolder) + "output/\nTempPath=" +
                  std::string(m_szFolder) + "temp/\nCleanWord=1\n",
              ReadWhole(m_ini));
}

TEST_F(Settings, OddValuesSurviveAsThePartsSay)
{
    WriteIni("garbage\n=\n[Option]\nImageType=7\nCleanWord=5\nOutputPath=  /out dir  \n[x\n");
    LoadOptionSettings();
    EXPECT_EQ(7, OptionSettings.ImageType);
    EXPECT_TRUE(OptionSettings.CleanWord);
    EXPECT_STREQ("/out dir", OptionSettings.OutputPath);
    EXPECT_EQ(std::string(m_szFolder) + "temp/", OptionSettings.TempPath);
    SaveOptionSettings();
    TOptionSettings loaded = OptionSettings;
    memset(&OptionSettings, 0, sizeof OptionSettings);
    LoadOptionSettings();
    EXPECT_EQ(7, OptionSettings.ImageType);
    EXPECT_TRUE(OptionSettings.CleanWord);
    EXPECT_STREQ(loaded.OutputPath, OptionSettings.OutputPath);
    std::string text = ReadWhole(m_ini);
    EXPECT_EQ(0u, text.find("garbage\n=\n[Option]\nImageType=7\nCleanWord=1\n"));
}

TEST_F(Settings, PathsOf259BytesComeBackWholeLongerOnesAreCutThere)
{
    // The dialog accepts up to 259 bytes (the buffer less its terminator): such a path is read
    // back whole, not one byte short.
    const std::string fits = "/" + std::string(258, 'f');
    strcpy(OptionSettings.OutputPath, fits.c_str());
    strcpy(OptionSettings.TempPath, fits.c_str());
    ASSERT_TRUE(SaveOptionSettings());
    memset(&OptionSettings, 0x7f, sizeof OptionSettings);
    LoadOptionSettings();
    EXPECT_EQ(fits, OptionSettings.OutputPath);
    EXPECT_EQ(fits, OptionSettings.TempPath);

    std::string longPath = "/" + std::string(400, 'p');
    WriteIni("[Option]\nOutputPath=" + longPath + "\nTempPath=" + longPath + "\n");
    memset(&OptionSettings, 0x7f, sizeof OptionSettings);
    LoadOptionSettings();
    EXPECT_EQ(longPath.substr(0, 259), OptionSettings.OutputPath);
    EXPECT_EQ(longPath.substr(0, 259), OptionSettings.TempPath);
}

TEST_F(Settings, PathsWithControlCharactersAreNeitherWrittenNorRead)
{
    WriteIni("[Option]\nOutputPath=/kept/out\nTempPath=/kept/temp\n");
    LoadOptionSettings();
    // A line break would end the value's line and add keys and sections of its own.
    strcpy(OptionSettings.OutputPath, "/x\n[Evil]\nImageType=1");
    strcpy(OptionSettings.TempPath, "/t\rCleanWord=0");
    OptionSettings.ImageType = 3;
    ASSERT_TRUE(SaveOptionSettings());
    EXPECT_EQ("[Option]\nOutputPath=/kept/out\nTempPath=/kept/temp\nImageType=3\nCleanWord=1\n", ReadWhole(m_ini));

    // Read: a control character inside a path value gives the default.
    const struct {
        const char* line;
        std::string expected;
    } rows[] = {
        {"OutputPath=/a\tb", std::string(m_szFolder) + "output/"},
        {"OutputPath=/a\x1b[0mb", std::string(m_szFolder) + "output/"},
        {"OutputPath=/a\x7f", std::string(m_szFolder) + "output/"},
        {"OutputPath=/a b/\xc3\xa9", "/a b/\xc3\xa9"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.line);
        WriteIni(std::string("[Option]\n") + r.line + "\n");
        LoadOptionSettings();
        EXPECT_EQ(r.expected, OptionSettings.OutputPath);
    }
}

TEST_F(Settings, UnwritableSettingsFileIsSilent)
{
    mkdir(m_ini.c_str(), 0755);  // a folder where the file should be: reads give defaults, writes fail
    EXPECT_TRUE(LoadOptionSettings());
    EXPECT_EQ(2, OptionSettings.ImageType);
    OptionSettings.ImageType = 3;
    EXPECT_TRUE(SaveOptionSettings());
    OptionSettings.ImageType = 0;
    LoadOptionSettings();
    EXPECT_EQ(2, OptionSettings.ImageType);
}

}  // namespace
