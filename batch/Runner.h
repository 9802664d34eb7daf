// The run of pagesnap-batch: gathers the documents, hands them to worker processes (each with
// its own engine), enforces the per-document time limit, renames finished pictures into place,
// shows progress and writes the report.
#pragma once

#include "batch/Options.h"

#include <string>
#include <vector>

namespace batch {

// The documents named by the inputs, in order: a file as given (missing ones too, so that
// they are reported), a folder's files matching *.doc as the platform matches them (also
// .docx), sorted by name; a document named twice is listed once.
std::vector<std::string> GatherDocuments(const std::vector<std::string>& inputs, std::vector<std::string>* pWarnings);

// Runs the conversion; the exit status (0 all converted, 1 any failed). On SIGINT/SIGTERM it
// cleans up and ends the process by that signal.
int Run(const Options& opts, const std::string& selfExe);

}  // namespace batch
