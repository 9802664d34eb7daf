// Where the engine keeps its things, for any user: a service account with no home folder, a
// read-only home or a runtime folder that is not its own still gets an engine, with private
// folders under the temporary folder instead. No UNO here: the engine, the taskkill tool and
// pagesnap-batch (which checks before it starts any worker) share it.
#pragma once

#include <string>

namespace wordengine {

// A folder of ours that no one else may change: a real folder (no link), owned by this user,
// writable by no one else. A profile holds the engine's configuration and macros, so one that
// another user could have written into is not used.
bool PrivateFolder(const std::string& path);

// The base of temporary folders: TMPDIR when it is an absolute path, else /tmp.
std::string TempBase();

// The folder of reusable engine profiles, <cache>/folium-engine (made 0700 when missing), where
// <cache> is XDG_CACHE_HOME or the home folder's .cache. Empty when that place cannot hold
// them: no home folder, a home of "/", a folder that is not this user's, cannot be written,
// or could be written by others. The engine then keeps a profile in its private temporary
// folder, which goes when the engine ends. Nothing is made outside an existing folder of ours.
std::string ProfileBase();

// The folder of the engine list: XDG_RUNTIME_DIR when it is this user's and no one else may
// write it, else <TempBase>/folium-run-<uid> (made 0700, and used only when it is ours), which
// a program and the taskkill it starts share. Empty when neither can be had.
std::string RuntimeFolder();

// Why no engine can start here, as one sentence that names the reason and the path: the
// office suite missing, not runnable or older than the version needed, a temporary or profile folder that cannot be
// written, too little free space. Empty when nothing the program can see stands in the way.
std::string EngineStartProblem();

}  // namespace wordengine
