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

// Whether the text holds a control character (below blank, or DEL): no path setting may.
bool HasControlChar(const char* szText);

// Reads the settings file; missing file, section or keys give the defaults (program folder
// + "output/" and + "temp/", JPG, CleanWord on), and so does a path holding a control
// character. Paths of up to 259 bytes are read whole. Always true.
bool LoadOptionSettings();
// Writes the four keys into section Option; a path holding a control character is not
// written. Write failures are ignored. Always true.
bool SaveOptionSettings();
