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

TEST_F(Settings, LongPathsAreCutTo258Characters)
{
    std::string longPath = "/" + std::string(400, 'p');
    WriteIni("[Option]\nOutputPath=" + longPath + "\nTempPath=" + longPath + "\n");
    memset(OptionSettings.OutputPath, 0x7f, sizeof OptionSettings.OutputPath);
    LoadOptionSettings();
    EXPECT_EQ(longPath.substr(0, 258), OptionSettings.OutputPath);
    EXPECT_EQ(longPath.substr(0, 258), OptionSettings.TempPath);
    EXPECT_EQ(0x7f, OptionSettings.OutputPath[259]);  // the read stops inside 259 bytes
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
