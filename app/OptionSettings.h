// The four user settings, read from "folium.ini" at start and written back at exit. The file
// and the default folders sit beside the program when its folder takes them (a build folder,
// a portable copy); an installed program keeps them where the desktop keeps a user's files.
#pragma once

#include "word/CxWordView.h"

#include <windows.h>

struct TOptionSettings {
    int ImageType;             // 1 BMP, 3 PNG, anything else JPG
    char OutputPath[MAX_PATH]; // where pictures are written
    char TempPath[MAX_PATH];   // where the temporary page documents go
    bool CleanWord;            // end the document engine's processes at exit
    char FontsPath[MAX_PATH];  // a folder of fonts the engine adds to the system's; empty: none
    // The engine is replaced between documents past this resident size (MB) or number of
    // documents; 0: never. Read from the file only (EngineMemory, EngineDocuments).
    int EngineMemory;
    int EngineDocuments;
    // Pictures: pixels per inch (72 to 600) and JPEG quality (1 to 100). Kept in the file only
    // once they differ from what it gives (Resolution, JpegQuality), as FontsPath is.
    int Resolution;
    int JpegQuality;
    // The preview's zoom: kZoomFitPage, kZoomFitWidth or a percentage (Zoom).
    int Zoom;
    // Documents the batch view converts at once, each by a worker with its own engine (1 to
    // kMaxDocumentsAtOnce; default the cores, at most 8). Kept as DocumentsAtOnce once set.
    int DocumentsAtOnce;
};

const int kMinResolution = 72, kMaxResolution = 600, kDefaultResolution = 96;
const int kMinJpegQuality = 1, kMaxJpegQuality = 100, kDefaultJpegQuality = 90;
// As pagesnap-batch's --jobs.
const int kMaxDocumentsAtOnce = 64;
int DefaultDocumentsAtOnce();
// A new user sees the page as wide as the preview: the whole line of text, no bar across.
const int kZoomDefault = CxWordView::kZoomFitWidth;

extern TOptionSettings OptionSettings;

// Hands the extra fonts folder to the document engine (FOLIUM_ENGINE_FONTS) for its next start.
void PassFontsToEngine();

// A new user converts with the default folders beside the program, which nobody has made
// yet: makes the output and temporary folders when they are missing.
void EnsureWorkFolders();

// Whether the text holds a control character (below blank, or DEL): no path setting may.
bool HasControlChar(const char* szText);

// Reads the settings file; missing file, section or keys give the defaults (see
// GetSettingsLocations; JPG, CleanWord on), and so does a path holding a control character.
// Paths of up to 259 bytes are read whole. Always true.
bool LoadOptionSettings();
// Writes the four keys into section Option, making the file's folder when missing; a path
// holding a control character is not written. Write failures are ignored. Always true.
bool SaveOptionSettings();

// Whether the settings file can be written (or made): false for a home folder that is missing,
// "/" or read-only. The file's folder (ending with '/') goes to szFolder when given.
bool SettingsCanBeKept(char* szFolder);

// Whether a program folder (ending with '/') keeps the settings beside the program: it is
// writable and is not one of the system's folders (under /usr), where the package manager
// owns every file even for a user who may write there.
bool ProgramFolderKeepsSettings(const char* szFolder);
// The settings file and the default output and temporary folders (both ending with '/') for a
// program in szProgramFolder. Beside the program: "folium.ini", "output/", "temp/". Otherwise:
// $XDG_CONFIG_HOME/folium-converter/folium.ini (default ~/.config), "Folium Converter/" in the
// user's pictures folder (as xdg-user-dir PICTURES names it: the home folder when there is
// none) and $XDG_CACHE_HOME/folium-converter/temp/ (default ~/.cache); a default folder this
// user cannot make (no usable home) is $TMPDIR/folium-converter-<uid>/output/ or temp/. False, with empty
// strings, when a path does not fit in MAX_PATH.
bool GetSettingsLocations(const char* szProgramFolder, char* szIni, char* szOutput, char* szTemp);
// The default output and temporary folders of the running program (see GetSettingsLocations).
bool GetDefaultFolders(char* szOutput, char* szTemp);
// Tests: the folder taken as the program's (null: the running program's own).
void SetSettingsProgramFolder(const char* szFolder);
