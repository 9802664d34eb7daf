// The command line of pagesnap-serve.
#pragma once

#include "convert/Settings.h"

#include <string>
#include <vector>

namespace serve {

struct ServeOptions {
    std::string host = "127.0.0.1";
    int port = 8080;
    int jobs = 1;
    int queue = 16;
    int maxSizeMb = 64;
    int maxPages = 500;
    int timeoutSeconds = 120;
    int readTimeoutSeconds = 30;
    int idleTimeoutSeconds = 5;
    int engineMemoryMb = convert::kDefaultEngineMemoryMb;
    int engineDocuments = convert::kDefaultEngineDocuments;
    std::vector<std::string> fontDirs;
    std::string tokenFile;
    bool help = false;
    bool version = false;
};

// Parses argv (without argv[0]); false with a message naming the bad argument.
bool ParseServeArguments(const std::vector<std::string>& args, int nDefaultJobs, ServeOptions* out, std::string* error);

std::string ServeHelpText();
const char* ServeVersionText();

}  // namespace serve
