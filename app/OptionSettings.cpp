#include "OptionSettings.h"

#include "common/misc/WinUtil.h"

#include <cstdio>

TOptionSettings OptionSettings;

namespace {

void SettingsFile(char* szFile, char* szOutput, char* szTemp)
{
    char szFolder[MAX_PATH];
    GetModuleFolder(nullptr, szFolder);
    snprintf(szFile, MAX_PATH, "%s%s", szFolder, "folium.ini");
    if (szOutput)
        snprintf(szOutput, MAX_PATH, "%s%s", szFolder, "output/");
    if (szTemp)
        snprintf(szTemp, MAX_PATH, "%s%s", szFolder, "temp/");
}

}  // namespace

bool LoadOptionSettings()
{
    char szFile[MAX_PATH], szOutput[MAX_PATH], szTemp[MAX_PATH];
    SettingsFile(szFile, szOutput, szTemp);
    OptionSettings.ImageType = (int)GetPrivateProfileIntA("Option", "ImageType", 2, szFile);
    GetPrivateProfileStringA("Option", "OutputPath", szOutput, OptionSettings.OutputPath, MAX_PATH - 1, szFile);
    GetPrivateProfileStringA("Option", "TempPath", szTemp, OptionSettings.TempPath, MAX_PATH - 1, szFile);
    OptionSettings.CleanWord = GetPrivateProfileIntA("Option", "CleanWord", 1, szFile) != 0;
    return true;
}

bool SaveOptionSettings()
{
    char szFile[MAX_PATH];
    SettingsFile(szFile, nullptr, nullptr);
    char szValue[16];
    snprintf(szValue, sizeof szValue, "%d", OptionSettings.ImageType);
    WritePrivateProfileStringA("Option", "ImageType", szValue, szFile);
    WritePrivateProfileStringA("Option", "OutputPath", OptionSettings.OutputPath, szFile);
    WritePrivateProfileStringA("Option", "TempPath", OptionSettings.TempPath, szFile);
    WritePrivateProfileStringA("Option", "CleanWord", OptionSettings.CleanWord ? "1" : "0", szFile);
    return true;
}
