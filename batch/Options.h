// The command line of pagesnap-batch: options, the page list and the help text.
#pragma once

#include "convert/Settings.h"

#include <functional>
#include <istream>
#include <string>
#include <utility>
#include <vector>

namespace batch {

using convert::ImageFormat;
using convert::PageRange;
using convert::kDefaultEngineMemoryMb;
using convert::kDefaultEngineDocuments;
using convert::DefaultJobs;
using convert::FormatExtension;
using convert::ParsePageList;
using convert::SelectPages;

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

std::string HelpText();
const char* VersionText();

}  // namespace batch
