// What the sources of the engine process share: its folders, and starting, killing and
// reaping it. Internal to wordserver/.
#pragma once

// LibreOffice's program folder (the build sets it).
#ifndef LO_PROGRAM_DIR
#define LO_PROGRAM_DIR "/usr/lib/libreoffice/program"
#endif

#include <string>
#include <vector>

namespace wordengine {
namespace detail {

// ---- folders (EngineFolders.cpp) -------------------------------------------------------

// The running engine's private temporary folder and the descriptor of its flock (-1 when
// there is none); the engine gets the lock too.
extern std::string g_tempDir;
extern int g_tempLockFd;

// Makes a new private temporary folder (mode 0700, locked), after removing stale ones of
// engines that are gone. False when none can be made.
bool MakePrivateTemp();
// Removes the private temporary folder and gives up its lock.
void RemovePrivateTemp();

// Takes a profile folder no other engine uses and locks it; empty when there is none.
std::string TakeProfile();
// Gives up the lock on the profile taken.
void ReleaseProfile();

// ---- fonts (EngineFonts.cpp) -------------------------------------------------------------

// The font folders the program adds for the engine (FOLIUM_ENGINE_FONTS, absolute paths
// separated by ':').
std::vector<std::string> ExtraFontFolders();
// Writes the engine's font configuration into the private temporary folder: the system's,
// the stand-ins for Word fonts and the added folders, with its caches in the profile. The
// file's path, or empty when it could not be written.
std::string WriteFontConfig(const std::string& profile);

// ---- the user's folders hidden from the engine (EngineHiding.cpp) -----------------------

// The folders a document could name that hold the user's files: the home folder and the
// usual places of other users' homes and of mounted media (real paths, none inside another).
std::vector<std::string> FoldersToHide();
// What the engine needs of the hidden folders roots: its private temporary folder and
// profile, and the folders its fonts come from.
std::vector<std::string> FoldersToKeep(const std::vector<std::string>& roots, const std::string& profile,
                                       const std::string& fontConfigBase);
// In the engine's own namespaces, between fork and exec (system calls only): hides every
// folder of hide and puts back those of keep (keepFds: room for one descriptor each). False
// on any failure.
bool HideUserFolders(const std::vector<const char*>& hide, const std::vector<const char*>& keep, int* keepFds);
// Records the folders the running engine does not see (see HiddenFromEngine).
void SetHiddenFolders(const std::vector<std::string>& folders);

// ---- the process (EngineSpawn.cpp) -----------------------------------------------------

// A pipe name no one can guess; empty when no random bytes were to be had.
std::string NewPipeName();
// Starts the engine on that pipe and profile, with the private temporary folder and the font
// configuration; its pid, or 0 when it could not be started.
int Spawn(const std::string& pipeName, const std::string& profile, const std::string& fontConfig);
// True when an engine ended with exitCode because its namespaces could not be made (the
// first time only): later engines run without them.
bool NamespacesFailed(int exitCode);
// Records a new engine: its pidfd and its entry in the engine list.
void Adopt(int pid, const std::string& pipeName);
// Forgets the engine: its list entry and its pidfd (once it has been reaped).
void Unlist(int pid);
// Waits up to ms for pid to end; reaps it. True when it ended.
bool WaitExit(int pid, int ms, int* exitCode);
// Kills the engine (through its pidfd where there is one).
void KillEngine(int pid);
// Kills pid unless it has ended, reaps it and forgets it.
void KillAndReap(int pid);

}  // namespace detail
}  // namespace wordengine
