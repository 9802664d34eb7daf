// Temporary files that a program writes next to its results (a picture under a hidden name,
// renamed into place when whole) and that a killed run leaves behind. Their names carry the
// writer's process id and machine, <prefix><pid>.<machine>-..., so that a later run can tell
// the leftovers of runs that are gone from files a live run is still writing, even in a
// folder that several machines share.
#pragma once

#include <string>

// This machine's part of such names: 8 hex digits of a hash of its host name.
std::string MachineTag();

// "<prefix><pid>.<machine>-" for this process.
std::string TempNamePrefix(const char* szPrefix);

// Removes the regular files in dir named <prefix><pid>.<machine>-... of this machine (or
// <prefix><pid>-..., as earlier versions named them) whose process is gone: no process of that
// id whose program's name starts with szProgram. Files of a live process, of one the user may
// not look at, of another machine, and every other name are left alone. With bFolders it
// removes such folders of this user instead, with all they hold. The number removed.
int RemoveStaleTempFiles(const std::string& dir, const char* szPrefix, const char* szProgram, bool bFolders = false);
