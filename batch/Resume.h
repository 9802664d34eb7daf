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

    // Opens the log name of the folder for appending (without keep emptied first); with keep it
    // first reads every run's log there, the parts' of a split run too (.pagesnap-batch*.done).
    // False when it cannot be written.
    bool Open(const std::string& outDir, const std::string& name, bool keep);

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

// The hidden name prefix of this process's temporary pictures: .pagesnap-batch-<pid>.<host>-
// where host is a hash of the machine's name, since runs on several machines may share a folder.
std::string TempPicturePrefix();

// Removes temporary pictures of pagesnap-batch runs in the folder whose run is gone (killed,
// crashed): names of the form .pagesnap-batch-<pid>.<host>-... of this machine (or, as older
// runs named them, .pagesnap-batch-<pid>-...) where no pagesnap-batch process has that id.
// Never touches anything else, nor another machine's. The number removed.
int RemoveStaleTempPictures(const std::string& outDir);

}  // namespace batch
