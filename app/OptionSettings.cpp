#include "OptionSettings.h"

#include "common/misc/WinUtil.h"
#include "convert/Settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

TOptionSettings OptionSettings;

namespace {

std::string s_programFolder;  // set by tests only

std::string WithoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string HomeFolder()
{
    const char* home = getenv("HOME");
    if (home && *home == '/')
        return WithoutTrailingSlashes(home);
    struct passwd* pw = getpwuid(getuid());
    return WithoutTrailingSlashes(pw && pw->pw_dir ? pw->pw_dir : "/tmp");
}

// An XDG base folder: the variable when it holds an absolute path, else the home's default.
std::string BaseFolder(const char* szVariable, const char* szDefault)
{
    const char* value = getenv(szVariable);
    if (value && *value == '/')
        return WithoutTrailingSlashes(value);
    return HomeFolder() + "/" + szDefault;
}

// The pictures folder as xdg-user-dir PICTURES answers: the user-dirs.dirs entry ("$HOME/x"
// or "/x"), else the variable from the environment, else the home folder.
std::string PicturesFolder(const std::string& configFolder)
{
    const std::string home = HomeFolder();
    std::ifstream in(configFolder + "/user-dirs.dirs");
    std::string line, value;
    bool found = false;
    while (std::getline(in, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, 17, "XDG_PICTURES_DIR=") != 0)
            continue;
        value = line.substr(start + 17);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        found = true;  // the last assignment wins, as in the shell
    }
    if (!found) {
        const char* env = getenv("XDG_PICTURES_DIR");
        value = env ? env : "";
    }
    if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/'))
        value = home + value.substr(5);
    if (value.empty() || value[0] != '/')
        value = home;
    return WithoutTrailingSlashes(value);
}

// Whether this user may make path: the nearest of its folders that exists can be written.
bool CanMake(const std::string& path)
{
    std::string p = WithoutTrailingSlashes(path);
    while (!p.empty()) {
        struct stat sb;
        if (stat(p.c_str(), &sb) == 0)
            return S_ISDIR(sb.st_mode) && access(p.c_str(), W_OK | X_OK) == 0;
        const size_t slash = p.rfind('/');
        p = slash == std::string::npos ? "" : slash == 0 ? "/" : p.substr(0, slash);
    }
    return false;
}

// A folder of this user's under the temporary folder, for defaults that the home folder
// cannot take (a service account's home of "/" or none at all).
std::string UserTempFolder()
{
    const char* tmp = getenv("TMPDIR");
    return WithoutTrailingSlashes(tmp && *tmp == '/' ? tmp : "/tmp") + "/folium-converter-" +
           std::to_string(getuid()) + "/";
}

bool Put(char* szOut, const std::string& value)
{
    if (!szOut)
        return true;
    int n = snprintf(szOut, MAX_PATH, "%s", value.c_str());
    return n >= 0 && n < MAX_PATH;
}

void ProgramFolder(char* szFolder)
{
    if (!s_programFolder.empty())
        snprintf(szFolder, MAX_PATH, "%s", s_programFolder.c_str());
    else
        GetModuleFolder(nullptr, szFolder);
}

// Makes a folder and its parents (private to the user where new).
void MakeFolders(const std::string& path)
{
    for (size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
        std::string part = path.substr(0, pos);
        if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return;
        if (pos == std::string::npos)
            return;
    }
}

// A key kept only once set: written when the value differs from what the file gives (its own
// value, or the default when it has none), so that other files keep their keys as they were.
void WriteIntIfChanged(const char* szKey, int nValue, int nDefault, const char* szFile)
{
    if ((int)GetPrivateProfileIntA("Option", szKey, nDefault, szFile) == nValue)
        return;
    char szValue[16];
    snprintf(szValue, sizeof szValue, "%d", nValue);
    WritePrivateProfileStringA("Option", szKey, szValue, szFile);
}

bool SettingsFile(char* szFile, char* szOutput, char* szTemp)
{
    char szFolder[MAX_PATH];
    ProgramFolder(szFolder);
    return GetSettingsLocations(szFolder, szFile, szOutput, szTemp);
}

}  // namespace

int DefaultDocumentsAtOnce() { return convert::DefaultJobs(); }

void EnsureWorkFolders()
{
    for (const char* szFolder : {OptionSettings.OutputPath, OptionSettings.TempPath}) {
        std::error_code ec;
        if (*szFolder && access(szFolder, 0) != 0)
            std::filesystem::create_directories(szFolder, ec);
    }
}

bool GetDefaultFolders(char* szOutput, char* szTemp)
{
    char szIni[MAX_PATH];
    return SettingsFile(szIni, szOutput, szTemp);
}

void SetSettingsProgramFolder(const char* szFolder) { s_programFolder = szFolder ? szFolder : ""; }

bool ProgramFolderKeepsSettings(const char* szFolder)
{
    if (!szFolder || !*szFolder)
        return false;
    if (strncmp(szFolder, "/usr/", 5) == 0)
        return false;
    return access(szFolder, W_OK) == 0;
}

bool GetSettingsLocations(const char* szProgramFolder, char* szIni, char* szOutput, char* szTemp)
{
    std::string ini, output, temp;
    if (ProgramFolderKeepsSettings(szProgramFolder)) {
        ini = std::string(szProgramFolder) + "folium.ini";
        output = std::string(szProgramFolder) + "output/";
        temp = std::string(szProgramFolder) + "temp/";
    } else {
        const std::string config = BaseFolder("XDG_CONFIG_HOME", ".config");
        ini = config + "/folium-converter/folium.ini";
        output = PicturesFolder(config) + "/Folium Converter/";
        temp = BaseFolder("XDG_CACHE_HOME", ".cache") + "/folium-converter/temp/";
        if (!CanMake(output))
            output = UserTempFolder() + "output/";
        if (!CanMake(temp))
            temp = UserTempFolder() + "temp/";
    }
    if (Put(szIni, ini) && Put(szOutput, output) && Put(szTemp, temp))
        return true;
    for (char* sz : {szIni, szOutput, szTemp})
        if (sz)
            *sz = '\0';
    return false;
}

bool HasControlChar(const char* szText)
{
    for (const char* p = szText; p && *p; ++p)
        if ((unsigned char)*p < ' ' || *p == 0x7f)
            return true;
    return false;
}

bool SettingsCanBeKept(char* szFolder)
{
    char szFile[MAX_PATH];
    if (!SettingsFile(szFile, nullptr, nullptr))
        return false;
    std::string folder(szFile);
    folder.erase(folder.rfind('/') + 1);
    if (szFolder)
        snprintf(szFolder, MAX_PATH, "%s", folder.c_str());
    struct stat sb;
    if (stat(szFile, &sb) == 0)
        return access(szFile, W_OK) == 0;
    return CanMake(folder);
}

void PassFontsToEngine()
{
    // The engine takes absolute folders, ':' between them: anything else is not passed.
    const char* szFonts = OptionSettings.FontsPath;
    if (szFonts[0] == '/' && !strchr(szFonts, ':'))
        setenv("FOLIUM_ENGINE_FONTS", szFonts, 1);
    else
        unsetenv("FOLIUM_ENGINE_FONTS");
}

bool LoadOptionSettings()
{
    char szFile[MAX_PATH], szOutput[MAX_PATH], szTemp[MAX_PATH];
    SettingsFile(szFile, szOutput, szTemp);
    OptionSettings.ImageType = (int)GetPrivateProfileIntA("Option", "ImageType", 2, szFile);
    GetPrivateProfileStringA("Option", "OutputPath", szOutput, OptionSettings.OutputPath, MAX_PATH, szFile);
    GetPrivateProfileStringA("Option", "TempPath", szTemp, OptionSettings.TempPath, MAX_PATH, szFile);
    if (HasControlChar(OptionSettings.OutputPath))
        snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", szOutput);
    if (HasControlChar(OptionSettings.TempPath))
        snprintf(OptionSettings.TempPath, MAX_PATH, "%s", szTemp);
    OptionSettings.CleanWord = GetPrivateProfileIntA("Option", "CleanWord", 1, szFile) != 0;
    GetPrivateProfileStringA("Option", "FontsPath", "", OptionSettings.FontsPath, MAX_PATH, szFile);
    if (HasControlChar(OptionSettings.FontsPath))
        OptionSettings.FontsPath[0] = '\0';
    // The batch converter's defaults; a value that is no count (negative, huge) gives them too.
    const UINT nMemory = GetPrivateProfileIntA("Option", "EngineMemory", 1024, szFile);
    const UINT nDocuments = GetPrivateProfileIntA("Option", "EngineDocuments", 250, szFile);
    OptionSettings.EngineMemory = nMemory <= (1u << 20) ? int(nMemory) : 1024;
    OptionSettings.EngineDocuments = nDocuments <= 100000000u ? int(nDocuments) : 250;
    // Out of range (a hand-edited file) gives the default, not the nearest bound: a typo of
    // 3000 is no wish for 600 dpi.
    const int nDpi = (int)GetPrivateProfileIntA("Option", "Resolution", kDefaultResolution, szFile);
    OptionSettings.Resolution = nDpi >= kMinResolution && nDpi <= kMaxResolution ? nDpi : kDefaultResolution;
    const int nQuality = (int)GetPrivateProfileIntA("Option", "JpegQuality", kDefaultJpegQuality, szFile);
    OptionSettings.JpegQuality =
        nQuality >= kMinJpegQuality && nQuality <= kMaxJpegQuality ? nQuality : kDefaultJpegQuality;
    const int nZoom = (int)GetPrivateProfileIntA("Option", "Zoom", kZoomDefault, szFile);
    OptionSettings.Zoom = CxWordView::IsZoom(nZoom) ? nZoom : kZoomDefault;
    const int nJobs = (int)GetPrivateProfileIntA("Option", "DocumentsAtOnce", DefaultDocumentsAtOnce(), szFile);
    OptionSettings.DocumentsAtOnce = nJobs >= 1 && nJobs <= kMaxDocumentsAtOnce ? nJobs : DefaultDocumentsAtOnce();
    return true;
}

bool SaveOptionSettings()
{
    char szFile[MAX_PATH];
    if (!SettingsFile(szFile, nullptr, nullptr))
        return true;  // nowhere to write
    if (const char* szSlash = strrchr(szFile, '/'))
        MakeFolders(std::string(szFile, (size_t)(szSlash - szFile)));
    char szValue[16];
    snprintf(szValue, sizeof szValue, "%d", OptionSettings.ImageType);
    WritePrivateProfileStringA("Option", "ImageType", szValue, szFile);
    // A line break in a value would end its line and start other keys: such a value is not
    // written (the file keeps the one it had).
    if (!HasControlChar(OptionSettings.OutputPath))
        WritePrivateProfileStringA("Option", "OutputPath", OptionSettings.OutputPath, szFile);
    if (!HasControlChar(OptionSettings.TempPath))
        WritePrivateProfileStringA("Option", "TempPath", OptionSettings.TempPath, szFile);
    WritePrivateProfileStringA("Option", "CleanWord", OptionSettings.CleanWord ? "1" : "0", szFile);
    // Only a fonts folder that was set, or changed, is written: other files keep their four keys.
    char szFonts[MAX_PATH];
    GetPrivateProfileStringA("Option", "FontsPath", "", szFonts, MAX_PATH, szFile);
    if (!HasControlChar(OptionSettings.FontsPath) && strcmp(szFonts, OptionSettings.FontsPath) != 0)
        WritePrivateProfileStringA("Option", "FontsPath", OptionSettings.FontsPath, szFile);
    WriteIntIfChanged("Resolution", OptionSettings.Resolution, kDefaultResolution, szFile);
    WriteIntIfChanged("JpegQuality", OptionSettings.JpegQuality, kDefaultJpegQuality, szFile);
    WriteIntIfChanged("Zoom", OptionSettings.Zoom, kZoomDefault, szFile);
    WriteIntIfChanged("DocumentsAtOnce", OptionSettings.DocumentsAtOnce, DefaultDocumentsAtOnce(), szFile);
    return true;
}
