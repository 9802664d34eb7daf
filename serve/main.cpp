// pagesnap-serve: Word documents to pictures over HTTP, for the programs that show previews.
// cpp-httplib answers the connections on a pool of threads; each request stores its document in
// a private folder of its own, hands it to the conversion side (serve/Converter) and waits for
// it, and the folder goes with the answer.
#include "convert/Settings.h"
#include "convert/Worker.h"
#include "serve/Converter.h"
#include "serve/ServeOptions.h"
#include "serve/Http.h"
#include "EnginePlaces.h"
#include "common/misc/StaleTemp.h"

#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

std::string ReadToken(const std::string& path, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    std::string token;
    if (!in.good() || !std::getline(in, token)) {
        *error = "--token-file: cannot read '" + path + "'";
        return "";
    }
    while (!token.empty() && (token.back() == '\r' || token.back() == ' ' || token.back() == '\t'))
        token.pop_back();
    if (token.size() < 16)
        *error = "--token-file: the token in '" + path + "' is shorter than 16 characters";
    return token;
}

}  // namespace

int main(int argc, char** argv)
{
    // A worker is this program started again by the service, never by hand.
    if (argc == 2 && std::strcmp(argv[1], "--worker") == 0 && getenv("FOLIUM_BATCH_WORKER"))
        return convert::WorkerMain();

    serve::ServeOptions opts;
    std::string error;
    if (!serve::ParseServeArguments(std::vector<std::string>(argv + 1, argv + argc), convert::DefaultJobs(), &opts,
                                    &error)) {
        std::fprintf(stderr, "pagesnap-serve: %s\nTry 'pagesnap-serve --help'.\n", error.c_str());
        return 2;
    }
    if (opts.help) {
        std::fputs(serve::ServeHelpText().c_str(), stdout);
        return 0;
    }
    if (opts.version) {
        std::printf("%s\n", serve::ServeVersionText());
        return 0;
    }
    serve::HttpSetup http;
    http.opts = opts;
    if (!opts.tokenFile.empty()) {
        http.token = ReadToken(opts.tokenFile, &error);
        if (!error.empty()) {
            std::fprintf(stderr, "pagesnap-serve: %s\n", error.c_str());
            return 2;
        }
    }
    if (!convert::SetEngineFonts(opts.fontDirs, &error)) {
        std::fprintf(stderr, "pagesnap-serve: %s\n", error.c_str());
        return 2;
    }
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        std::fprintf(stderr, "pagesnap-serve: cannot find its own program file\n");
        return 1;
    }
    exe[n] = 0;

    // Named after the process and machine, so that the next start removes it when this one is
    // killed before it can.
    const char* tmp = getenv("TMPDIR");
    const std::string tmpBase = tmp && *tmp == '/' ? tmp : "/tmp";
    RemoveStaleTempFiles(tmpBase, "pagesnap-serve-", "pagesnap-serve", true);
    std::string tmpl = tmpBase + "/" + TempNamePrefix("pagesnap-serve-") + "XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        std::fprintf(stderr, "pagesnap-serve: cannot make a temporary folder in %s\n", tmpBase.c_str());
        return 1;
    }
    http.tempDir = tmpl;
    std::filesystem::create_directory(http.tempDir + "/workers");

    // Signals go to one thread that waits for them; every other thread, the workers' too
    // until they exec, has them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stopSignals, s);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    serve::Metrics metrics;
    convert::PoolSetup pool;
    pool.workerProgram = exe;
    pool.jobs = opts.jobs;
    pool.tempDir = http.tempDir + "/workers";
    pool.defaults = nlohmann::json::object();
    pool.engineMemoryMb = opts.engineMemoryMb;
    pool.engineDocuments = opts.engineDocuments;
    pool.warm = true;
    serve::Converter converter(pool, opts.queue, opts.timeoutSeconds, opts.maxPages, &metrics);
    // A reason that stops every engine is said once; the service still answers, 503 with it.
    http.engineProblem = wordengine::EngineStartProblem();
    if (http.engineProblem.empty())
        converter.Start();
    else
        std::fprintf(stderr, "pagesnap-serve: the document engine cannot start: %s\n", http.engineProblem.c_str());

    httplib::Server server;
    serve::SetUpServer(server, http, converter, metrics);
    if (!server.bind_to_port(opts.host, opts.port)) {
        std::fprintf(stderr, "pagesnap-serve: cannot listen on %s:%d: %s\n", opts.host.c_str(), opts.port,
                     std::strerror(errno));
        converter.Stop();
        std::filesystem::remove_all(http.tempDir);
        return 1;
    }
    std::fprintf(stderr, "pagesnap-serve: listening on %s:%d, %d workers\n", opts.host.c_str(), opts.port, opts.jobs);

    int stopSignal = 0;
    std::thread waiter([&] {
        sigwait(&stopSignals, &stopSignal);
        std::fprintf(stderr, "pagesnap-serve: %s: finishing the requests in flight\n", strsignal(stopSignal));
        serve::BeginDraining(http);
        server.stop();
    });
    server.listen_after_bind();
    // listen_after_bind returns once every request thread has answered: the conversions in
    // flight have ended, and the workers can go.
    if (stopSignal == 0) {
        // The server ended by itself (its socket failed): wake the waiter to let it go.
        pthread_kill(waiter.native_handle(), SIGTERM);
    }
    waiter.join();
    converter.Stop();
    std::error_code ec;
    std::filesystem::remove_all(http.tempDir, ec);
    std::fprintf(stderr, "pagesnap-serve: stopped\n");
    return 0;
}
