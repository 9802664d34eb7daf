// Kernel objects behind HANDLE values: one header per object so that a handle of the wrong
// kind, or one already closed, is refused instead of being used.
#pragma once

#include <windows.h>

#include <dirent.h>
#include <string>

namespace platform {

enum class KernelObjectType : uint32_t { File = 0x46494c45, Find = 0x46494e44 };

struct KernelObject {
    KernelObjectType type;
};

struct FileObject : KernelObject {
    int fd = -1;
};

struct FindObject : KernelObject {
    DIR* dir = nullptr;
    std::string folder;   // with trailing '/'
    std::string pattern;  // file-name part of the search
};

// Registers a new object as a live handle / looks one up by handle and kind / forgets it.
HANDLE RegisterHandle(KernelObject* obj);
KernelObject* LookupHandle(HANDLE h, KernelObjectType type);
bool UnregisterHandle(HANDLE h);

// File-name matching of the file search: '*' any run, '?' exactly one character, everything
// else with ASCII letter case ignored. NameMatches also tries the short-name form (the
// extension cut to three characters), which is why "*.doc" finds "report.docx".
bool WildMatch(const char* pattern, const char* name);
bool NameMatches(const char* pattern, const char* name);

// Sets the last error from an errno value.
void SetLastErrorFromErrno(int err);
// Converts a POSIX time to a FILETIME.
FILETIME FileTimeFromTimespec(const struct timespec& ts);

}  // namespace platform
