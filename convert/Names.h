// Picture names of a run: the base each document's pictures carry, unique within the run.
#pragma once

#include <string>
#include <vector>

namespace convert {

// The document's name without folder and without its last extension ("a/report.doc" ->
// "report"), as Pagesnap takes it for its picture names.
std::string BaseName(const std::string& path);

// One base per path, in order: a path keeps its own base unless an earlier path of the list
// has the same one (ASCII letter case ignored); then it takes, as Pagesnap does, the first of
// "<base>_<extension>", "<base>_<extension>2", ... that is neither taken nor any path's own
// base in the list.
std::vector<std::string> AssignBases(const std::vector<std::string>& paths);

// "<base>_<page>.<ext>"
std::string PictureName(const std::string& base, int page, const char* ext);

}  // namespace convert
