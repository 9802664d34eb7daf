// The engine list and taskkill without an engine: stand-in engines are shell processes
// carrying an engine's --accept argument. Only entries that are still that very process,
// started by this program (or its ancestors), are signalled; concurrent updates keep every
// entry.
#include <gtest/gtest.h>

#include "EngineList.h"
#include "TempDir.h"

#include <csignal>
#include <functional>
#include <cstdlib>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using enginelist::Entry;

namespace {

bool Alive(pid_t pid)
{
    unsigned long long st;
    return enginelist::StartTime(pid, &st);
}

// A process whose command line carries the --accept argument of a pipe, waiting on its
// input (a shell builtin, so it has no child of its own to leave behind).
struct FakeEngine {
    pid_t pid = 0;
    int in = -1;
    unsigned long long start = 0;
    explicit FakeEngine(const std::string& pipe)
    {
        std::string accept = enginelist::AcceptArgument(pipe);
        int p[2];
        if (pipe2(p, O_CLOEXEC) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(p[0], 0);
            execl("/bin/sh", "sh", "-c", "read x", "soffice.bin", accept.c_str(), (char*)nullptr);
            _exit(127);
        }
        close(p[0]);
        in = p[1];
        // The start time is final once exec has happened: wait for the command line.
        for (int i = 0; i < 200 && !enginelist::IsListedEngine(Make(pipe)); ++i)
            usleep(5000);
        enginelist::StartTime(pid, &start);
    }
    Entry Make(const std::string& pipe) const
    {
        Entry e;
        e.pid = pid;
        enginelist::StartTime(pid, &e.start);
        e.owner = getpid();
        enginelist::StartTime(getpid(), &e.ownerStart);
        e.pipe = pipe;
        return e;
    }
    ~FakeEngine()
    {
        if (in >= 0)
            close(in);
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // Reaps it if it was killed; true when it still runs.
    bool Running()
    {
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = 0;
            return false;
        }
        return pid > 0 && Alive(pid);
    }
};

class EngineListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = getenv("XDG_RUNTIME_DIR");
        m_saved = old ? old : "";
        std::string p = m_runtime.Path();
        p.pop_back();
        setenv("XDG_RUNTIME_DIR", p.c_str(), 1);
    }
    void TearDown() override
    {
        if (m_saved.empty())
            unsetenv("XDG_RUNTIME_DIR");
        else
            setenv("XDG_RUNTIME_DIR", m_saved.c_str(), 1);
    }
    std::vector<Entry> Listed()
    {
        enginelist::LockedList list;
        EXPECT_TRUE(list.Open());
        return list.Read();
    }
    void WriteList(const std::string& content)
    {
        std::string path = enginelist::ListPath();
        FILE* f = fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(content.c_str(), f);
        fclose(f);
    }
    static std::string Line(const Entry& e)
    {
        return std::to_string(e.pid) + " " + std::to_string(e.start) + " " + std::to_string(e.owner) + " " +
               std::to_string(e.ownerStart) + " " + e.pipe + "\n";
    }
    TempDir m_runtime;
    std::string m_saved;
};

}  // namespace

// Each kind of entry: signalled or not, kept in the list or dropped.
TEST_F(EngineListTest, EndsOnlyVerifiedEnginesOfThisProgram)
{
    struct Row {
        const char* name;
        std::function<Entry(const FakeEngine&)> entry;
        bool signalled;
        bool kept;
    } rows[] = {
        {"ours", [](const FakeEngine& f) { return f.Make("folium-a"); }, true, false},
        // The pid now belongs to a process started at another time: a stale entry.
        {"start time differs",
         [](const FakeEngine& f) {
             Entry e = f.Make("folium-b");
             e.start += 1;
             return e;
         },
         false, false},
        {"other pipe", [](const FakeEngine& f) { Entry e = f.Make("folium-c"); e.pipe = "folium-zz"; return e; },
         false, true},
        // Started by another program (here: by the process itself, no ancestor of ours).
        {"another program's",
         [](const FakeEngine& f) {
             Entry e = f.Make("folium-d");
             e.owner = f.pid;
             e.ownerStart = f.start;
             return e;
         },
         false, true},
        // Our pid, but the program that started it has gone and its pid was reused.
        {"starter's pid reused",
         [](const FakeEngine& f) {
             Entry e = f.Make("folium-e");
             e.ownerStart += 1;
             return e;
         },
         false, true},
    };
    const char* pipes[] = {"folium-a", "folium-b", "folium-c", "folium-d", "folium-e"};
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        const Row& r = rows[i];
        SCOPED_TRACE(r.name);
        FakeEngine fake(pipes[i]);
        ASSERT_TRUE(fake.Running());
        Entry e = r.entry(fake);
        // An old-style line (a bare pid) is never trusted either.
        WriteList(std::to_string(fake.pid) + "\n" + Line(e));
        std::vector<int> ended = enginelist::EndOwnEngines(SIGKILL);
        EXPECT_EQ(ended, r.signalled ? std::vector<int>{fake.pid} : std::vector<int>{});
        for (int k = 0; k < 100 && r.signalled && fake.Running(); ++k)
            usleep(10000);
        EXPECT_EQ(fake.Running(), !r.signalled);
        std::vector<Entry> left = Listed();
        ASSERT_EQ(left.size(), r.kept ? 1u : 0u);
        if (r.kept) {
            EXPECT_EQ(left[0].pid, e.pid);
            EXPECT_EQ(left[0].start, e.start);
            EXPECT_EQ(left[0].owner, e.owner);
            EXPECT_EQ(left[0].ownerStart, e.ownerStart);
            EXPECT_EQ(left[0].pipe, e.pipe);
        }
    }
}

// The taskkill program run through the shell, as the program's exit clean-up runs it: its
// ancestors include this test, so this test's engine is ended, once.
TEST_F(EngineListTest, TaskkillProgram)
{
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = 0;
    std::string taskkill(exe);
    taskkill.resize(taskkill.rfind('/'));
    taskkill += "/taskkill";

    FakeEngine ours("folium-t1"), theirs("folium-t2");
    ASSERT_TRUE(ours.Running());
    Entry other = theirs.Make("folium-t2");
    other.owner = theirs.pid;
    other.ownerStart = theirs.start;
    ASSERT_TRUE(enginelist::Add(ours.Make("folium-t1")));
    ASSERT_TRUE(enginelist::Add(other));

    EXPECT_NE(WEXITSTATUS(system((taskkill + " -F -IM notepad.exe 2>/dev/null").c_str())), 0);
    EXPECT_TRUE(ours.Running());
    EXPECT_EQ(WEXITSTATUS(system((taskkill + " /f /im WinWord.exe >/dev/null").c_str())), 0);
    for (int k = 0; k < 100 && ours.Running(); ++k)
        usleep(10000);
    EXPECT_FALSE(ours.Running());
    EXPECT_TRUE(theirs.Running());
    EXPECT_EQ(WEXITSTATUS(system((taskkill + " -F -IM winword.exe 2>/dev/null").c_str())), 128);
    EXPECT_TRUE(theirs.Running());
    std::vector<Entry> left = Listed();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].pid, theirs.pid);
}

// Many programs adding and removing their engines at once lose no entry: the list is only
// changed under its lock.
TEST_F(EngineListTest, ConcurrentUpdatesKeepEveryEntry)
{
    const int kPrograms = 8;
    int hold[2], ready[2];
    ASSERT_EQ(pipe(hold), 0);
    ASSERT_EQ(pipe(ready), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kPrograms; ++i) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(hold[1]);
            Entry e;
            e.pid = getpid();
            enginelist::StartTime(e.pid, &e.start);
            e.owner = getppid();
            enginelist::StartTime(e.owner, &e.ownerStart);
            e.pipe = "folium-c" + std::to_string(i);
            bool ok = true;
            for (int k = 0; k < 100; ++k) {
                ok = enginelist::Add(e) && ok;
                enginelist::Remove(e.pid, e.start);
            }
            ok = enginelist::Add(e) && ok;
            char c = ok ? 'y' : 'n';
            ssize_t w = write(ready[1], &c, 1);
            (void)w;
            while (read(hold[0], &c, 1) > 0) {
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    close(hold[0]);
    close(ready[1]);
    int oks = 0;
    char c;
    for (int i = 0; i < kPrograms && read(ready[0], &c, 1) == 1; ++i)
        oks += c == 'y';
    EXPECT_EQ(oks, kPrograms);
    std::vector<Entry> left = Listed();
    EXPECT_EQ(left.size(), size_t(kPrograms));
    close(hold[1]);
    for (pid_t p : children)
        waitpid(p, nullptr, 0);
    close(ready[0]);
}

// The client connects only to a socket of this user that no one else may use: not to a
// link, a plain file, or a socket others can reach (someone else may have made it first
// under the engine's name).
TEST(EnginePipeSocket, OnlyAPrivateSocketOfOursIsUsed)
{
    TempDir dir;
    auto makeSocket = [](const std::string& path, mode_t mode) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a = {};
        a.sun_family = AF_UNIX;
        snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        bool ok = fd >= 0 && bind(fd, (sockaddr*)&a, sizeof a) == 0 && chmod(path.c_str(), mode) == 0;
        if (fd >= 0)
            close(fd);
        return ok;
    };
    ASSERT_TRUE(makeSocket(dir / "private", 0600));
    ASSERT_TRUE(makeSocket(dir / "open", 0777));
    ASSERT_TRUE(makeSocket(dir / "group", 0660));
    dir.Write("file", "x");
    chmod((dir / "file").c_str(), 0600);
    ASSERT_EQ(symlink((dir / "private").c_str(), (dir / "link").c_str()), 0);
    struct Row {
        const char* name;
        int state;
    } rows[] = {{"private", 1}, {"absent", 0}, {"open", -1}, {"group", -1}, {"file", -1}, {"link", -1}};
    for (const Row& r : rows)
        EXPECT_EQ(enginelist::PipeSocketState(dir / r.name), r.state) << r.name;
    EXPECT_EQ(enginelist::PipeSocketPath("folium-x"), "/tmp/OSL_PIPE_" + std::to_string(getuid()) + "_folium-x");
}
