// The command line of pagesnap-batch: options, the page list and the help text.
#pragma once

#include <functional>
#include <istream>
#include <string>
#include <utility>
#include <vector>

namespace batch {

enum class ImageFormat { Png, Jpg, Bmp };

const char* FormatExtension(ImageFormat f);

// One item of --pages: first..last (from 1); last 0 means "to the end".
struct PageRange {
    int first;
    int last;
};

// An engine is replaced between documents past these (see the help text for how they were chosen).
constexpr int kDefaultEngineMemoryMb = 1024;
constexpr int kDefaultEngineDocuments = 250;

struct Options {
    std::string outputDir = ".";
    ImageFormat format = ImageFormat::Png;
    int dpi = 96;
    std::vector<PageRange> pages;  // empty: every page
    std::string pagesText;         // --pages as given
    int quality = 90;
    int jobs = 1;
    int timeoutSeconds = 300;
    std::string reportPath;  // empty: none; "-" standard output
    std::vector<std::string> fontDirs;  // --fonts, as given, in order
    int engineMemoryMb = kDefaultEngineMemoryMb;      // --engine-memory; 0: no limit
    int engineDocuments = kDefaultEngineDocuments;    // --engine-documents; 0: no limit
    bool resume = false;                // --resume: skip what an earlier run into the folder finished
    std::string filesFrom;              // --files-from: a file of paths, one a line; "-" standard input
    int shardIndex = 0;                 // --shard K/N: this run converts document i of the input
    int shardCount = 1;                 //   when i % N == K
    std::vector<std::string> inputs;
    bool help = false;
    bool version = false;
};

// Parses "1-3,5,8-" (also "-3"): false with a message naming the bad item.
bool ParsePageList(const std::string& text, std::vector<PageRange>* out, std::string* error);

// The pages of the list that exist in a document of nCount pages, ascending, each once; the
// requested pages past the end go to *pSkipped as ranges of text ("9", "12-14", "20-").
std::vector<int> SelectPages(const std::vector<PageRange>& ranges, int nCount, std::vector<std::string>* pSkipped);

// Parses argv (without argv[0]). False with a message naming the bad argument. jobs defaults
// to nDefaultJobs.
bool ParseArguments(const std::vector<std::string>& args, int nDefaultJobs, Options* out, std::string* error);

// The value of --shard: "K/N" (0 <= K < N), "auto" (a Slurm job array's task among its tasks)
// or "auto/N" (K from a Kubernetes indexed Job's JOB_COMPLETION_INDEX, else from the Slurm
// array). env looks up the environment. False with a message saying what is missing or wrong.
bool ParseShard(const std::string& text, const std::function<const char*(const char*)>& env, int* pIndex,
                int* pCount, std::string* error);

// Appends the paths of a --files-from list (one a line; a final '\r' of a line and empty lines
// are dropped) from in to inputs.
void ReadPathList(std::istream& in, std::vector<std::string>* inputs);

// The number of cores, at most 8 (at least 1).
int DefaultJobs();

std::string HelpText();
const char* VersionText();

}  // namespace batch
