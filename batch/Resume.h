// What earlier runs into an output folder finished, for --resume, and what they left behind.
// Every run appends one line to OUT/.pagesnap-batch.done for each document whose pictures are
// all in place, written only after the last rename: a run killed at any moment leaves at most a
// torn last line, which is ignored, and its document is converted again.
#pragma once

#include <nlohmann/json.hpp>

#include <map>
#include <string>

namespace batch {

class DoneLog {
public:
    ~DoneLog();

    // Reads the log of the folder (none: nothing finished) and opens it for appending; without
    // keep it starts empty. False when it cannot be written.
    bool Open(const std::string& outDir, bool keep);

    // What names a document's pictures: its absolute path, size and modification time, its
    // base name and the settings that decide the pictures. Empty when the file cannot be read.
    static std::string Key(const std::string& path, const std::string& base, const nlohmann::json& settings);

    // The pictures of a document finished under this key, when every one is still there:
    // the report's "written" list and the page count.
    bool Finished(const std::string& key, nlohmann::json* written, int* pages) const;

    // Records a finished document (flushed to the disk before it returns). False on failure.
    bool Add(const std::string& key, const nlohmann::json& written, int pages);

private:
    int m_fd = -1;
    std::map<std::string, nlohmann::json> m_done;
};

// Removes temporary pictures of pagesnap-batch runs in the folder whose run is gone (killed,
// crashed): names of the form .pagesnap-batch-<pid>-... where no pagesnap-batch process has that
// id. Never touches anything else. The number removed.
int RemoveStaleTempPictures(const std::string& outDir);

}  // namespace batch
