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

bool HasControlChar(const char* szText)
{
    for (const char* p = szText; p && *p; ++p)
        if ((unsigned char)*p < ' ' || *p == 0x7f)
            return true;
    return false;
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
    return true;
}

bool SaveOptionSettings()
{
    char szFile[MAX_PATH];
    SettingsFile(szFile, nullptr, nullptr);
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
    return true;
}
