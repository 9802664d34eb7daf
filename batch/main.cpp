// pagesnap-batch: Word documents to pictures from the command line, several at once.
#include "batch/Options.h"
#include "batch/Runner.h"
#include "convert/Worker.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    // A worker is this program started again by a run, never by hand.
    if (argc == 2 && std::strcmp(argv[1], "--worker") == 0 && getenv("FOLIUM_BATCH_WORKER"))
        return convert::WorkerMain();

    std::vector<std::string> args(argv + 1, argv + argc);
    batch::Options opts;
    std::string error;
    if (!batch::ParseArguments(args, convert::DefaultJobs(), &opts, &error)) {
        std::fprintf(stderr, "pagesnap-batch: %s\nTry 'pagesnap-batch --help'.\n", error.c_str());
        return 2;
    }
    if (opts.help) {
        std::fputs(batch::HelpText().c_str(), stdout);
        return 0;
    }
    if (opts.version) {
        std::printf("%s\n", batch::VersionText());
        return 0;
    }
    // Workers are this same program: its file, not a name looked up on the search path.
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        std::fprintf(stderr, "pagesnap-batch: cannot find its own program file\n");
        return 1;
    }
    exe[n] = 0;
    return batch::Run(opts, exe);
}
