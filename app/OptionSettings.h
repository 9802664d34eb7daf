// The four user settings, read from "folium.ini" in the program's folder at start and written
// back at exit.
#pragma once

#include <windows.h>

struct TOptionSettings {
    int ImageType;             // 1 BMP, 3 PNG, anything else JPG
    char OutputPath[MAX_PATH]; // where pictures are written
    char TempPath[MAX_PATH];   // where the temporary page documents go
    bool CleanWord;            // end the document engine's processes at exit
};

extern TOptionSettings OptionSettings;

// Reads the settings file; missing file, section or keys give the defaults (program folder
// + "output/" and + "temp/", JPG, CleanWord on). Always true.
bool LoadOptionSettings();
// Writes the four keys into section Option; write failures are ignored. Always true.
bool SaveOptionSettings();
