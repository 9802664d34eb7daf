#include "app/OptionSettings.h"
#include "common/misc/WinUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

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

// The engine's limits are read, never written: absent or no count gives the batch converter's.
TEST_F(Settings, EngineLimitsAreReadWithTheirDefaults)
{
    const struct {
        const char* lines;
        int memory, documents;
    } rows[] = {{"", 1024, 250},
                {"EngineMemory=0\nEngineDocuments=1\n", 0, 1},
                {"EngineMemory=-5\nEngineDocuments=99999999999\n", 1024, 250},
                {"EngineMemory=300\nEngineDocuments=x\n", 300, 0}};
    for (const auto& row : rows) {
        WriteIni(std::string("[Option]\n") + row.lines);
        LoadOptionSettings();
        EXPECT_EQ(row.memory, OptionSettings.EngineMemory) << row.lines;
        EXPECT_EQ(row.documents, OptionSettings.EngineDocuments) << row.lines;
        SaveOptionSettings();
        EXPECT_EQ(row.lines[0] != '\0', ReadWhole(m_ini).find("Engine") != std::string::npos)
            << "written: " << ReadWhole(m_ini);
    }
}

// Resolution, JPEG quality and the preview's zoom: read with their defaults (a value out of
// range gives the default too), and kept in the file only once they differ from what it gives.
TEST_F(Settings, PictureAndZoomKeysAreReadInRangeAndWrittenOnlyOnceSet)
{
    const struct {
        const char* lines;
        int dpi, quality, zoom;
    } rows[] = {
        {"", 96, 90, CxWordView::kZoomFitWidth},
        {"Resolution=300\nJpegQuality=55\nZoom=150\n", 300, 55, 150},
        {"Resolution=72\nJpegQuality=1\nZoom=-1\n", 72, 1, CxWordView::kZoomFitPage},
        {"Resolution=600\nJpegQuality=100\nZoom=400\n", 600, 100, 400},
        {"Resolution=71\nJpegQuality=0\nZoom=24\n", 96, 90, CxWordView::kZoomFitWidth},
        {"Resolution=601\nJpegQuality=101\nZoom=-3\n", 96, 90, CxWordView::kZoomFitWidth},
        {"Resolution=x\nJpegQuality=-90\nZoom=\n", 96, 90, CxWordView::kZoomFitWidth},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lines);
        WriteIni(std::string("[Option]\n") + row.lines);
        LoadOptionSettings();
        EXPECT_EQ(row.dpi, OptionSettings.Resolution);
        EXPECT_EQ(row.quality, OptionSettings.JpegQuality);
        EXPECT_EQ(row.zoom, OptionSettings.Zoom);
    }

    // Untouched defaults leave a file without the keys as it was.
    std::filesystem::remove(m_ini);
    LoadOptionSettings();
    SaveOptionSettings();
    const std::string plain = ReadWhole(m_ini);
    for (const char* key : {"Resolution", "JpegQuality", "Zoom"})
        EXPECT_EQ(std::string::npos, plain.find(key)) << plain;

    // Set once, they are written and read back; set back to the defaults, they are written too
    // (the file holds other values that would otherwise come back).
    OptionSettings.Resolution = 300;
    OptionSettings.JpegQuality = 40;
    OptionSettings.Zoom = CxWordView::kZoomFitPage;
    SaveOptionSettings();
    EXPECT_EQ(plain + "Resolution=300\nJpegQuality=40\nZoom=-1\n", ReadWhole(m_ini));
    memset(&OptionSettings, 0, sizeof OptionSettings);
    LoadOptionSettings();
    EXPECT_EQ(300, OptionSettings.Resolution);
    EXPECT_EQ(40, OptionSettings.JpegQuality);
    EXPECT_EQ(CxWordView::kZoomFitPage, OptionSettings.Zoom);
    OptionSettings.Resolution = 96;
    OptionSettings.JpegQuality = 90;
    OptionSettings.Zoom = CxWordView::kZoomFitWidth;
    SaveOptionSettings();
    LoadOptionSettings();
    EXPECT_EQ(96, OptionSettings.Resolution);
    EXPECT_EQ(90, OptionSettings.JpegQuality);
    EXPECT_EQ(CxWordView::kZoomFitWidth, OptionSettings.Zoom);
}

// Documents at once: the cores (at most 8) unless the file says 1 to 64; kept in the file only
// once set.
TEST_F(Settings, DocumentsAtOnceIsReadInRangeAndWrittenOnlyOnceSet)
{
    const int def = DefaultDocumentsAtOnce();
    ASSERT_GE(def, 1);
    ASSERT_LE(def, 8);
    const struct {
        const char* lines;
        int jobs;
    } rows[] = {{"", def}, {"DocumentsAtOnce=3\n", 3}, {"DocumentsAtOnce=1\n", 1}, {"DocumentsAtOnce=64\n", 64},
                {"DocumentsAtOnce=0\n", def}, {"DocumentsAtOnce=65\n", def}, {"DocumentsAtOnce=-2\n", def},
                {"DocumentsAtOnce=x\n", def}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lines);
        WriteIni(std::string("[Option]\n") + row.lines);
        LoadOptionSettings();
        EXPECT_EQ(row.jobs, OptionSettings.DocumentsAtOnce);
    }

    std::filesystem::remove(m_ini);
    LoadOptionSettings();
    SaveOptionSettings();
    const std::string plain = ReadWhole(m_ini);
    EXPECT_EQ(std::string::npos, plain.find("DocumentsAtOnce")) << plain;
    OptionSettings.DocumentsAtOnce = def == 5 ? 6 : 5;
    SaveOptionSettings();
    EXPECT_EQ(plain + "DocumentsAtOnce=" + std::to_string(OptionSettings.DocumentsAtOnce) + "\n", ReadWhole(m_ini));
    const int set = OptionSettings.DocumentsAtOnce;
    memset(&OptionSettings, 0, sizeof OptionSettings);
    LoadOptionSettings();
    EXPECT_EQ(set, OptionSettings.DocumentsAtOnce);
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

// An installed program: its folder takes no settings, so they live in the user's folders. The
// user's folders are temporary ones here (HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME), never the
// real user's.
class UserFolders : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : kVariables) {
            const char* value = getenv(name);
            if (value)
                m_saved[name] = value;
        }
        setenv("HOME", m_home.Path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_home / "config").c_str(), 1);
        setenv("XDG_CACHE_HOME", (m_home / "cache").c_str(), 1);
        unsetenv("XDG_PICTURES_DIR");
        memset(&OptionSettings, 0, sizeof OptionSettings);
    }
    void TearDown() override
    {
        SetSettingsProgramFolder(nullptr);
        for (const char* name : kVariables) {
            auto it = m_saved.find(name);
            if (it != m_saved.end())
                setenv(name, it->second.c_str(), 1);
            else
                unsetenv(name);
        }
    }
    std::string Home() const { return m_home.Path().substr(0, m_home.Path().size() - 1); }
    void WriteUserDirs(const std::string& text)
    {
        std::filesystem::create_directories(m_home / "config");
        std::ofstream(m_home / "config/user-dirs.dirs", std::ios::binary) << text;
    }

    static constexpr const char* kVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_PICTURES_DIR",
                                                 "TMPDIR"};
    // An installed program's folder: a system folder, never written even by a user who may.
    static constexpr const char* kInstalled = "/usr/lib/folium-converter/";
    TempDir m_home;
    std::map<std::string, std::string> m_saved;
};

TEST_F(UserFolders, OnlyAWritableFolderOutsideTheSystemKeepsTheSettings)
{
    TempDir portable;
    struct Row {
        std::string folder;
        bool keeps;
    } rows[] = {
        {portable.Path(), true},  // a build folder or a portable copy
        {"/usr/lib/folium-converter/", false},
        {"/usr/local/lib/folium-converter/", false},
        {portable.Path() + "missing/", false},
        {"", false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.keeps, ProgramFolderKeepsSettings(r.folder.c_str())) << "folder '" << r.folder << "'";
    EXPECT_FALSE(ProgramFolderKeepsSettings(nullptr));

    char ini[MAX_PATH], output[MAX_PATH], temp[MAX_PATH];
    ASSERT_TRUE(GetSettingsLocations(portable.Path().c_str(), ini, output, temp));
    EXPECT_EQ(portable / "folium.ini", ini);
    EXPECT_EQ(portable / "output/", output);
    EXPECT_EQ(portable / "temp/", temp);
}

TEST_F(UserFolders, InstalledProgramUsesTheXdgFoldersAndThePicturesFolder)
{
    const std::string home = Home();
    struct Row {
        const char* userDirs;    // user-dirs.dirs; null: no file
        const char* picturesEnv; // XDG_PICTURES_DIR; null: unset
        std::string output;
    } rows[] = {
        {nullptr, nullptr, home + "/Folium Converter/"},  // no pictures folder: the home folder
        {"XDG_PICTURES_DIR=\"$HOME/Bilder\"\n", nullptr, home + "/Bilder/Folium Converter/"},
        {"# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_PICTURES_DIR=\"/srv/pics/\"\n", nullptr,
         "/srv/pics/Folium Converter/"},
        {"XDG_PICTURES_DIR=\"$HOME/\"\n", nullptr, home + "/Folium Converter/"},
        {"#XDG_PICTURES_DIR=\"/nope\"\n", nullptr, home + "/Folium Converter/"},
        {"XDG_PICTURES_DIR=\"$HOMEWORK\"\n", nullptr, home + "/Folium Converter/"},  // not $HOME
        {nullptr, "/env/pictures", "/env/pictures/Folium Converter/"},
        {"XDG_PICTURES_DIR=\"$HOME/Pictures\"\n", "/env/pictures", home + "/Pictures/Folium Converter/"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.output);
        std::filesystem::remove(m_home / "config/user-dirs.dirs");
        if (r.userDirs)
            WriteUserDirs(r.userDirs);
        if (r.picturesEnv)
            setenv("XDG_PICTURES_DIR", r.picturesEnv, 1);
        else
            unsetenv("XDG_PICTURES_DIR");
        char ini[MAX_PATH], output[MAX_PATH], temp[MAX_PATH];
        ASSERT_TRUE(GetSettingsLocations(kInstalled, ini, output, temp));
        EXPECT_EQ(home + "/config/folium-converter/folium.ini", ini);
        EXPECT_EQ(r.output, output);
        EXPECT_EQ(home + "/cache/folium-converter/temp/", temp);
    }

    // Unset or relative base folders fall back to the home's defaults.
    unsetenv("XDG_CONFIG_HOME");
    setenv("XDG_CACHE_HOME", "relative/cache", 1);
    char ini[MAX_PATH], output[MAX_PATH], temp[MAX_PATH];
    ASSERT_TRUE(GetSettingsLocations(kInstalled, ini, output, temp));
    EXPECT_EQ(home + "/.config/folium-converter/folium.ini", ini);
    EXPECT_EQ(home + "/.cache/folium-converter/temp/", temp);
}

// A home that can take nothing (a service account's, here a file): the default folders are the
// user's own under the temporary folder, and the settings are known not to be kept.
TEST_F(UserFolders, NoUsableHomeGivesFoldersUnderTheTemporaryFolder)
{
    const std::string file = m_home / "not-a-folder";
    std::ofstream(file) << "x";
    setenv("HOME", file.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_CACHE_HOME");
    setenv("TMPDIR", Home().c_str(), 1);
    char ini[MAX_PATH], output[MAX_PATH], temp[MAX_PATH], folder[MAX_PATH];
    ASSERT_TRUE(GetSettingsLocations(kInstalled, ini, output, temp));
    const std::string fallback = Home() + "/folium-converter-" + std::to_string(getuid()) + "/";
    EXPECT_EQ(file + "/.config/folium-converter/folium.ini", ini);
    EXPECT_EQ(fallback + "output/", output);
    EXPECT_EQ(fallback + "temp/", temp);
    SetSettingsProgramFolder(kInstalled);
    EXPECT_FALSE(SettingsCanBeKept(folder));
    EXPECT_EQ(file + "/.config/folium-converter/", folder);
    setenv("HOME", Home().c_str(), 1);
    EXPECT_TRUE(SettingsCanBeKept(folder));
}

TEST_F(UserFolders, LocationsThatDoNotFitFailEmpty)
{
    setenv("XDG_CACHE_HOME", ("/" + std::string(250, 'c')).c_str(), 1);
    char ini[MAX_PATH], output[MAX_PATH], temp[MAX_PATH + 4];
    memset(temp, 0x7f, sizeof temp);
    EXPECT_FALSE(GetSettingsLocations(kInstalled, ini, output, temp));
    EXPECT_STREQ("", ini);
    EXPECT_STREQ("", output);
    EXPECT_STREQ("", temp);
    EXPECT_EQ(0x7f, temp[MAX_PATH]) << "nothing written past the buffer";
}

TEST_F(UserFolders, InstalledProgramLoadsAndSavesInTheConfigFolder)
{
    SetSettingsProgramFolder(kInstalled);
    const std::string home = Home();
    const std::string ini = home + "/config/folium-converter/folium.ini";
    ASSERT_TRUE(LoadOptionSettings());
    EXPECT_EQ(home + "/Folium Converter/", OptionSettings.OutputPath);
    EXPECT_EQ(home + "/cache/folium-converter/temp/", OptionSettings.TempPath);
    EXPECT_EQ(2, OptionSettings.ImageType);
    EXPECT_FALSE(std::filesystem::exists(home + "/config")) << "loading creates nothing";

    OptionSettings.ImageType = 3;
    OptionSettings.CleanWord = false;
    ASSERT_TRUE(SaveOptionSettings());  // makes the folder it needs
    EXPECT_EQ("[Option]\nImageType=3\nOutputPath=" + home + "/Folium Converter/\nTempPath=" + home +
                  "/cache/folium-converter/temp/\nCleanWord=0\n",
              ReadWhole(ini));
    EXPECT_FALSE(std::filesystem::exists(kInstalled + std::string("folium.ini")));

    memset(&OptionSettings, 0, sizeof OptionSettings);
    LoadOptionSettings();
    EXPECT_EQ(3, OptionSettings.ImageType) << "read back from the config folder";
    EXPECT_FALSE(OptionSettings.CleanWord);
}

}  // namespace
