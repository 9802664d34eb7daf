// Small wrappers over the platform: a module's folder, a file's size and times, and handing
// a target to the shell. Each returns 1 on success and 0 on failure, and shows nothing.
#pragma once

#include <windows.h>

// The folder of the module's file with its trailing separator ("/opt/folium/"). 0 when
// szFolder (a 260-byte buffer) is null.
int GetModuleFolder(HMODULE hModule, char* szFolder);
// The size of a regular file in bytes. nSize is set to 0 first; folders, missing files and
// files larger than 2 GiB - 1 fail.
int GetFileLength(const char* szPath, int32_t* nSize);
// nKind 0 creation, 1 last access, 2 last write, as local calendar time. The file is opened
// without sharing, so a file that another handle holds exclusively fails; on failure stTime
// is left untouched.
int GetFileTimeLocal(const char* szPath, int nKind, SYSTEMTIME* stTime);
int GetFileWriteTime(const char* szPath, SYSTEMTIME* stTime);
// Opens a path, a "file://" address of a folder or a web address with the desktop's opener,
// without waiting for it. 0 for a null or empty target.
int ShellOpen(const char* szTarget);
