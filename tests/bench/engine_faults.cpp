// Faults and load for the batch conversion (main window offscreen, completion message
// answered), run by hand; prints figures, not a test. Runs with per-user folders of its own.
//   engine_faults kill [runs]  a 30-page document converted `runs` times (default 20), the
//                              engine killed with SIGKILL at a random moment of each run:
//                              does the run finish, which pages are written, what is reported
//   engine_faults pair         two programs converting the same folder into the same output
//                              folder with the same temporary folder at once: both finish,
//                              every picture equals the one a run alone writes, no engine left
#include "QtApp.h"
#include "TempDir.h"
#include "WordServerTest.h"
#include "bench/ConvertBench.h"
#include "app/OptionSettings.h"
#include "app/TfmMain.h"
#include "platform/internal/ui.h"
#include "word/CxWordUtil.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace wstest;
namespace fs = std::filesystem;

namespace {

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Renew(const std::string& dir)
{
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
}


// A BMP picture: 0 missing or unreadable, 1 all white (nothing drawn), 2 drawn.
int PictureState(const std::string& path)
{
    std::string b = ReadWhole(path);
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M')
        return 0;
    auto u32 = [&](size_t o) {
        return uint32_t((unsigned char)b[o]) | uint32_t((unsigned char)b[o + 1]) << 8 |
               uint32_t((unsigned char)b[o + 2]) << 16 | uint32_t((unsigned char)b[o + 3]) << 24;
    };
    uint32_t off = u32(10);
    int32_t w = int32_t(u32(18)), h = int32_t(u32(22));
    int bpp = (unsigned char)b[28] | (unsigned char)b[29] << 8;
    if (w <= 0 || h == 0 || (bpp != 24 && bpp != 32))
        return 0;
    size_t rows = size_t(h < 0 ? -h : h), stride = (size_t(w) * (bpp / 8) + 3) / 4 * 4;
    if (off > b.size() || rows * stride > b.size() - off)
        return 0;
    for (size_t y = 0; y < rows; ++y)
        for (size_t x = 0; x < size_t(w) * (bpp / 8); ++x) {
            if (bpp == 32 && x % 4 == 3)
                continue;
            if ((unsigned char)b[off + y * stride + x] != 0xff)
                return 2;
        }
    return 1;
}

// Engines of this harness still running: soffice processes whose TMPDIR lies in ours.
int EnginesLeft()
{
    const char* t = getenv("TMPDIR");
    std::string mine = std::string("TMPDIR=") + (t ? t : "/tmp") + "/folium-engine-";
    int n = 0;
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            int pid = atoi(e->d_name);
            if (pid <= 0 || !PidAlive(pid))
                continue;
            std::string env = ReadWhole("/proc/" + std::string(e->d_name) + "/environ");
            std::string cmd = ReadWhole("/proc/" + std::string(e->d_name) + "/cmdline");
            if (cmd.find("soffice") != std::string::npos && env.find(mine) != std::string::npos)
                ++n;
        }
        closedir(d);
    }
    return n;
}

std::string g_lastMessage;

TfmMain* NewWindow()
{
    platform::ui::SetMessageBoxHook([](const platform::ui::MessageBoxRequest& r) {
        g_lastMessage = r.text;
        return IDCANCEL;
    });
    return new TfmMain;
}

struct RunResult {
    double seconds = 0;
    int drawn = 0, blank = 0, missing = 0;
    std::vector<int> failedPages;
};

RunResult Convert(ConvertBench& bench, const std::string& out, const std::string& base, int pages)
{
    Renew(out);
    g_lastMessage.clear();
    RunResult r;
    double t = Now();
    bench.SelectAll();
    bench.Convert();
    r.seconds = Now() - t;
    for (int p = 1; p <= pages; ++p) {
        int s = PictureState(out + base + "_" + std::to_string(p) + ".bmp");
        if (s == 2) {
            ++r.drawn;
            continue;
        }
        (s == 1 ? r.blank : r.missing)++;
        r.failedPages.push_back(p);
    }
    return r;
}

int KillRuns(int runs)
{
    TempDir docs, out, temp;
    const int kPages = 30;
    std::string doc = docs / "thirty.docx";
    {
        Word word;
        if (!MakeDocument(word, docs.Path(), MixedPagesBody(kPages), doc)) {
            fprintf(stderr, "cannot make the document\n");
            return 1;
        }
    }
    TfmMain* w = NewWindow();  // loads the settings: ours go over them
    snprintf(OptionSettings.TempPath, MAX_PATH, "%s", temp.Path().c_str());
    CxWordUtil::SetTempFolder(OptionSettings.TempPath, sizeof OptionSettings.TempPath);
    snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", out.Path().c_str());
    OptionSettings.ImageType = 1;
    ConvertBench bench(w);
    bench.AddFiles({doc});

    // The first run carries the engine's start; the kill moments spread over the fastest
    // warm run, and a kill comes only while a run is going on.
    RunResult first = Convert(bench, out.Path(), "thirty", kPages);
    double fastest = 1e9;
    for (int i = 0; i < 2; ++i) {
        RunResult warm = Convert(bench, out.Path(), "thirty", kPages);
        fastest = std::min(fastest, warm.seconds);
        printf("clean run: %.1f s, pages drawn %d/%d\n", warm.seconds, warm.drawn, kPages);
    }
    printf("first run (engine start included): %.1f s, pages drawn %d/%d; message: %s\n", first.seconds,
           first.drawn, kPages, g_lastMessage.c_str());
    const std::string okMessage = g_lastMessage;
    // An engine killed while idle, between two runs.
    if (getenv("FAULTS_IDLE_KILL")) {
        for (int pid : ListedLivePids())
            kill(pid, SIGKILL);
        usleep(200000);
        RunResult r = Convert(bench, out.Path(), "thirty", kPages);
        printf("after an idle kill: %.1f s, pages drawn %d/%d; message: %s\n", r.seconds, r.drawn, kPages,
               g_lastMessage.c_str());
        r = Convert(bench, out.Path(), "thirty", kPages);
        printf("and the run after: %.1f s, pages drawn %d/%d\n", r.seconds, r.drawn, kPages);
    }
    std::mt19937 rng(20261209);
    std::uniform_real_distribution<double> when(0.0, 0.9 * fastest);
    int finished = 0, totalFailed = 0, reported = 0, runsWithFailures = 0, kills = 0;
    // Runs go on until `runs` of them had the engine killed (a run may end before its moment).
    for (int run = 1; kills < runs && run <= 2 * runs; ++run) {
        double at = when(rng);
        int killed = 0;
        std::atomic<bool> running{true};
        std::thread killer([&] {
            auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(at);
            while (running && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (!running)
                return;
            for (int pid : ListedLivePids()) {
                kill(pid, SIGKILL);
                killed = pid;
            }
        });
        RunResult r = Convert(bench, out.Path(), "thirty", kPages);
        running = false;
        killer.join();
        if (!killed) {
            printf("run %2d: ended in %.1f s before its kill moment %.2f s; not counted\n", run, r.seconds, at);
            continue;
        }
        ++kills;
        ++finished;
        int failed = int(r.failedPages.size());
        totalFailed += failed;
        bool told = g_lastMessage != okMessage;
        runsWithFailures += failed > 0;
        reported += failed > 0 && told;
        std::string list;
        for (int p : r.failedPages)
            list += (list.empty() ? "" : ",") + std::to_string(p);
        printf("run %2d: kill at %5.2f s (%s), finished in %5.1f s, drawn %2d, blank %2d, missing %2d, "
               "failed pages [%s], failure reported: %s\n",
               run, at, killed ? "engine killed" : "after the run: no kill", r.seconds, r.drawn, r.blank, r.missing,
               list.c_str(), failed == 0 ? "-" : told ? "yes" : "NO");
        fflush(stdout);
        // The next run starts with a running engine, as the first of a batch would.
        Convert(bench, out.Path(), "thirty", kPages);
    }
    bench.StopEngine();
    printf("summary: %d runs with the engine killed, %d finished; %d of them lost pages, %d pages in all (%.1f per "
           "run); failures reported in %d of %d runs with failures; engines left %d\n",
           kills, finished, runsWithFailures, totalFailed, kills ? double(totalFailed) / kills : 0.0, reported,
           runsWithFailures, EnginesLeft());
    return 0;
}

// One program of the pair: converts every document of a folder, prints how it went.
int ConvertFolder(const std::string& docs, const std::string& out, const std::string& temp)
{
    TfmMain* w = NewWindow();  // loads the settings: ours go over them
    snprintf(OptionSettings.TempPath, MAX_PATH, "%s", temp.c_str());
    CxWordUtil::SetTempFolder(OptionSettings.TempPath, sizeof OptionSettings.TempPath);
    snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", out.c_str());
    OptionSettings.ImageType = 1;
    std::vector<std::string> paths;
    for (const auto& e : fs::directory_iterator(docs))
        paths.push_back(e.path().string());
    std::sort(paths.begin(), paths.end());
    ConvertBench bench(w);
    bench.AddFiles(paths);
    double t = Now();
    bench.SelectAll();
    bench.Convert();
    bench.StopEngine();
    printf("program %d: %.1f s; message: %s\n", getpid(), Now() - t, g_lastMessage.c_str());
    fflush(stdout);
    return 0;
}

int Pair(const char* self)
{
    TempDir docs, out, temp, alone;
    std::map<std::string, int> pages;
    {
        Word word;
        const int sizes[] = {3, 5, 8, 12};
        for (int i = 0; i < 4; ++i) {
            std::string name = "doc" + std::to_string(i) + (i % 2 ? ".doc" : ".docx");
            if (!MakeDocument(word, docs.Path(), MixedPagesBody(sizes[i]), docs / name))
                return 1;
            pages["doc" + std::to_string(i)] = sizes[i];
        }
    }
    // The pictures a program alone writes.
    auto spawn = [&](const std::string& o) {
        pid_t pid = fork();
        if (pid == 0) {
            execl(self, self, "one", docs.Path().c_str(), o.c_str(), temp.Path().c_str(), (char*)nullptr);
            _exit(127);
        }
        return pid;
    };
    int status = 0;
    waitpid(spawn(alone.Path()), &status, 0);
    double t = Now();
    pid_t a = spawn(out.Path()), b = spawn(out.Path());
    int sa = 0, sb = 0;
    waitpid(a, &sa, 0);
    waitpid(b, &sb, 0);
    double both = Now() - t;
    int same = 0, differ = 0, missing = 0;
    for (const auto& d : pages)
        for (int p = 1; p <= d.second; ++p) {
            std::string name = d.first + "_" + std::to_string(p) + ".bmp";
            std::string x = ReadWhole(out.Path() + name), y = ReadWhole(alone.Path() + name);
            if (x.empty() || y.empty())
                ++missing;
            else if (x == y)
                ++same;
            else
                ++differ;
        }
    int leftovers = 0;
    for (const auto& e : fs::directory_iterator(temp.Path()))
        ++leftovers, printf("left in the temporary folder: %s\n", e.path().filename().c_str());
    printf("pair: both finished in %.1f s (exit %d, %d); pictures identical to a run alone %d, different %d, "
           "missing %d; engines left %d; files left in the temporary folder %d\n",
           both, WIFEXITED(sa) ? WEXITSTATUS(sa) : -1, WIFEXITED(sb) ? WEXITSTATUS(sb) : -1, same, differ, missing,
           EnginesLeft(), leftovers);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    TestApp();
    CoInitialize(nullptr);
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "kill")
        return KillRuns(argc > 2 ? atoi(argv[2]) : 20);
    if (mode == "pair") {
        char self[4096];
        ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0)
            return 1;
        self[n] = 0;
        return Pair(self);
    }
    if (mode == "one" && argc == 5)
        return ConvertFolder(argv[2], argv[3], argv[4]);
    fprintf(stderr, "usage: %s kill [runs] | pair\n", argv[0]);
    return 2;
}
