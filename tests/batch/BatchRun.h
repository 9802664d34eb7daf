// Running pagesnap-batch from the tests: the program beside the test, its exit status, its
// standard error, and the pictures it leaves.
#pragma once

#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

namespace batchtest {

// The program file: beside the running test.
std::string ProgramPath();

// Private engine, cache, home and temporary folders for this test process and everything it
// starts, made once before the first use (never the real user's).
void UsePrivateUserFolders();
const std::string& PrivateTempDir();

struct Result {
    int status = -1;  // exit status, or 128 + signal
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs the program with args and waits (at most timeoutSeconds, then it is killed and the
// status is -1).
Result RunBatch(const std::vector<std::string>& args, int timeoutSeconds = 300);

// Runs argv (argv[0] a path or a name on PATH) in exactly the environment env, and waits as
// RunBatch does.
Result RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                  int timeoutSeconds = 300);

// Starts it without waiting; its stderr goes to errFile. The process id.
int StartBatch(const std::vector<std::string>& args, const std::string& errFile);
// Waits for a started run; the exit status or 128 + signal, -1 after timeoutSeconds.
int WaitBatch(int pid, int timeoutSeconds);

// Names in a folder (hidden ones included, but for the runs' list of finished documents), not
// sub-folders.
std::set<std::string> FilesIn(const std::string& dir);

// Width and height from a PNG, JPEG or BMP header; false for none of them.
bool PictureSize(const std::string& path, int* w, int* h);

// True while the process exists and is not a zombie.
bool ProcessAlive(int pid);
// Live processes whose command line contains text.
std::vector<int> ProcessesWith(const std::string& text);

nlohmann::json ReadJson(const std::string& path);

}  // namespace batchtest
