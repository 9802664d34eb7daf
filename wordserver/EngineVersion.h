// Which office suite the engine is and whether it is new enough. No UNO: pagesnap-batch and
// Pagesnap ask before any engine starts. Pages are laid out to match Word's only from
// ENGINE_MIN_VERSION on (an older suite draws them measurably further from Word's).
#pragma once

#include <string>

namespace wordengine {

struct EngineVersionInfo {
    std::string name;     // "LibreOffice"; empty when the suite's setup could not be read
    std::string version;  // "25.2.3.2"
};

// The installed suite's name and version, from the setup data it ships beside its program
// folder (what its About box shows). Empty fields when that cannot be read.
EngineVersionInfo InstalledEngine();

// The lowest version the program works with ("25.2").
const char* NeededEngineVersion();

// Why the suite of version found is too old for needed, as one sentence naming both; empty
// when it is recent enough or found is not a version (nothing to go by).
std::string EngineVersionProblem(const std::string& name, const std::string& found, const std::string& needed);

}  // namespace wordengine
