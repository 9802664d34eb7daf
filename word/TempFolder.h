// The temporary documents of the Word layer. They go into a private folder made for each run
// inside the temporary folder ("<TempPath>/folium-<pid>-XXXXXX/", mode 0700, locked while the
// run lives), one sub-folder per document ("d<n>/"), named "<base>_temp_<number><ext>" with a
// .doc or .docx extension. The temporary folder itself may be any folder of the user's: only
// these private folders are ever cleaned.
#pragma once

// Whether a file name (no folder) is such a temporary document.
bool IsTempDocumentName(const char* szName);
// Deletes the temporary documents of the folder and nothing else (a user's report.doc in the
// same folder stays). Returns how many were deleted.
int DeleteTempDocuments(const char* szFolder);

// This run's private folder inside szTempPath, with a trailing '/': made on first need
// (mkdtemp, mode 0700) and locked (flock on its ".lock") until clean-up or the process ends.
// False when it cannot be made or does not fit nSize bytes.
bool GetRunTempFolder(const char* szTempPath, char* szOut, int nSize);
// A new folder for one document's temporary files inside this run's private folder of
// szTempPath, with a trailing '/'. False when it cannot be made.
bool MakeDocumentTempFolder(const char* szTempPath, char* szOut, int nSize);
// Removes this run's private folders (whatever temporary folder they were made in) and, in
// szTempPath, those of earlier runs that no live process holds (a crashed run's). Only
// folders of this user, mode 0700, named as ours are touched, links are not followed, and
// inside them only the temporary documents are deleted: a folder that holds anything else
// stays. Returns how many folders were removed.
int CleanTempFolders(const char* szTempPath);
