#include "BatchRun.h"

#include "convert/Procs.h"

#include "TempDir.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace batchtest {

std::string ProgramPath()
{
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return "pagesnap-batch";
    exe[n] = 0;
    std::string path = exe;
    return path.substr(0, path.rfind('/') + 1) + "pagesnap-batch";
}

namespace {

std::string MakeDir(const char* tag)
{
    std::string tmpl = std::string("/tmp/folium-batch-") + tag + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    return mkdtemp(buf.data()) ? std::string(buf.data()) : std::string("/nonexistent");
}

struct PrivateFolders {
    // temp is the runs' own: the test's engine (which makes the documents) keeps its private
    // folder in selfTemp while it runs, so that temp shows only what the runs leave.
    std::string runtime, cache, home, temp, selfTemp;
    PrivateFolders()
    {
        runtime = MakeDir("run");
        cache = MakeDir("cache");
        home = MakeDir("home");
        temp = MakeDir("tmp");
        selfTemp = MakeDir("selftmp");
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        setenv("XDG_CACHE_HOME", cache.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
        setenv("HOME", home.c_str(), 1);
        setenv("TMPDIR", selfTemp.c_str(), 1);
    }
    ~PrivateFolders()
    {
        std::error_code ec;
        for (const std::string& d : {runtime, cache, home, temp, selfTemp})
            std::filesystem::remove_all(d, ec);
    }
};

PrivateFolders& Folders()
{
    static PrivateFolders f;
    return f;
}

}  // namespace

void UsePrivateUserFolders() { Folders(); }
const std::string& PrivateTempDir() { return Folders().temp; }

// Starts argv[0] (a path, or a name found on PATH) with env, its output to files.
int StartCommandTo(const std::vector<std::string>& args, std::vector<std::string> env, const std::string& outFile,
                   const std::string& errFile)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0)
            _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

int StartBatchTo(const std::vector<std::string>& args, const std::string& outFile, const std::string& errFile)
{
    UsePrivateUserFolders();
    std::vector<std::string> argv = {ProgramPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    // The run's environment: TMPDIR is the runs' own folder.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (strncmp(*e, "TMPDIR=", 7) != 0)
            env.push_back(*e);
    env.push_back("TMPDIR=" + Folders().temp);
    return StartCommandTo(argv, env, outFile, errFile);
}

int StartBatch(const std::vector<std::string>& args, const std::string& errFile)
{
    return StartBatchTo(args, "/dev/null", errFile);
}

int WaitBatch(int pid, int timeoutSeconds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (r < 0 || std::chrono::steady_clock::now() >= until) {
            if (r == 0) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
            }
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

namespace {

Result Captured(const std::function<int(const std::string&, const std::string&)>& start, int timeoutSeconds)
{
    TempDir capture;
    Result r;
    const int pid = start(capture / "out", capture / "err");
    r.status = pid > 0 ? WaitBatch(pid, timeoutSeconds) : -1;
    r.out = ReadWhole(capture / "out");
    r.err = ReadWhole(capture / "err");
    return r;
}

}  // namespace

Result RunBatch(const std::vector<std::string>& args, int timeoutSeconds)
{
    return Captured([&](const std::string& out, const std::string& err) { return StartBatchTo(args, out, err); },
                    timeoutSeconds);
}

Result RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env, int timeoutSeconds)
{
    return Captured([&](const std::string& out, const std::string& err) { return StartCommandTo(argv, env, out, err); },
                    timeoutSeconds);
}

std::set<std::string> FilesIn(const std::string& dir)
{
    std::set<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return names;
    while (dirent* e = readdir(d)) {
        struct stat sb;
        // The lists of finished documents every run (every part of a split run) keeps in its output folder is no picture.
        const std::string name = e->d_name;
        if (!(name.rfind(".pagesnap-batch.", 0) == 0 && name.size() >= 20 && name.compare(name.size() - 5, 5, ".done") == 0) &&
            stat((dir + "/" + e->d_name).c_str(), &sb) == 0 && !S_ISDIR(sb.st_mode))
            names.insert(e->d_name);
    }
    closedir(d);
    return names;
}

bool PictureSize(const std::string& path, int* w, int* h)
{
    const std::string s = ReadWhole(path);
    auto u8 = [&](size_t o) { return int(uint8_t(s[o])); };
    auto be32 = [&](size_t o) { return u8(o) << 24 | u8(o + 1) << 16 | u8(o + 2) << 8 | u8(o + 3); };
    auto le32 = [&](size_t o) { return u8(o) | u8(o + 1) << 8 | u8(o + 2) << 16 | u8(o + 3) << 24; };
    if (s.size() > 33 && s.compare(1, 3, "PNG") == 0) {
        *w = be32(16), *h = be32(20);
        return true;
    }
    if (s.size() > 54 && s.compare(0, 2, "BM") == 0) {
        *w = le32(18), *h = std::abs(le32(22));
        return true;
    }
    if (s.size() > 4 && u8(0) == 0xFF && u8(1) == 0xD8) {
        for (size_t i = 2; i + 9 < s.size();) {
            if (u8(i) != 0xFF)
                return false;
            const int m = u8(i + 1);
            if (m == 0xC0 || m == 0xC1 || m == 0xC2) {
                *h = u8(i + 5) << 8 | u8(i + 6);
                *w = u8(i + 7) << 8 | u8(i + 8);
                return true;
            }
            i += 2 + size_t(u8(i + 2) << 8 | u8(i + 3));
        }
    }
    return false;
}

bool ProcessAlive(int pid)
{
    return !convert::ProcessGone(pid);
}

std::vector<int> ProcessesWith(const std::string& text)
{
    std::vector<int> pids;
    for (int pid : convert::ListProcesses()) {
        std::string cmd = ReadWhole("/proc/" + std::to_string(pid) + "/cmdline");
        for (char& c : cmd)
            if (c == 0)
                c = ' ';
        if (cmd.find(text) != std::string::npos && ProcessAlive(pid))
            pids.push_back(pid);
    }
    return pids;
}

nlohmann::json ReadJson(const std::string& path)
{
    return nlohmann::json::parse(ReadWhole(path), nullptr, false);
}

}  // namespace batchtest
