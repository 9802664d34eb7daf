// The temporary documents the Word layer leaves in the temporary folder:
// "<base>_temp_<number><ext>" with a .doc or .docx extension.
#pragma once

// Whether a file name (no folder) is such a temporary document.
bool IsTempDocumentName(const char* szName);
// Deletes the temporary documents of the folder and nothing else (a user's report.doc in the
// same folder stays). Returns how many were deleted.
int DeleteTempDocuments(const char* szFolder);
