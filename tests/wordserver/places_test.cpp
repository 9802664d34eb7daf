// Where the engine keeps its things for users whose home or runtime folder cannot hold them,
// and the reason given when no engine can start. No engine is started here.
#include "EnginePlaces.h"
#include "EngineVersion.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace wordengine;

namespace {

// Sets variables for one case (null: unset) and puts the old values back after it.
class Env {
public:
    explicit Env(const std::map<std::string, const char*>& vars)
    {
        for (const auto& [name, value] : vars) {
            const char* old = getenv(name.c_str());
            m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            value ? setenv(name.c_str(), value, 1) : unsetenv(name.c_str());
        }
    }
    ~Env()
    {
        for (const auto& [name, old] : m_saved)
            old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str());
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

mode_t ModeOf(const std::string& path)
{
    struct stat sb;
    return stat(path.c_str(), &sb) == 0 ? sb.st_mode & 07777 : 0;
}

}  // namespace

// The profile folder: the cache folder when it is ours to write, nothing (the engine then
// keeps one in its private temporary folder) for a home that is "/", missing, or a folder
// another user could write into; nothing is made in a folder that does not exist.
TEST(EnginePlaces, ProfileBase)
{
    TempDir t;
    const std::string home = t / "home", cache = t / "cache", shared = t / "shared", gone = t / "gone";
    mkdir(home.c_str(), 0700);
    mkdir(cache.c_str(), 0700);
    mkdir(shared.c_str(), 0700);
    mkdir((shared + "/folium-engine").c_str(), 0777);
    chmod((shared + "/folium-engine").c_str(), 0777);
    struct Row {
        const char* name;
        const char* home;
        const char* cache;
        std::string want;
    } rows[] = {
        {"home's .cache", home.c_str(), nullptr, home + "/.cache/folium-engine"},
        {"XDG_CACHE_HOME first", home.c_str(), cache.c_str(), cache + "/folium-engine"},
        {"home of /", "/", nullptr, ""},
        {"home that does not exist", gone.c_str(), nullptr, ""},
        {"cache that does not exist", home.c_str(), gone.c_str(), ""},
        {"profiles others may write", home.c_str(), shared.c_str(), ""},
    };
    for (const Row& r : rows) {
        Env env({{"HOME", r.home}, {"XDG_CACHE_HOME", r.cache}});
        EXPECT_EQ(ProfileBase(), r.want) << r.name;
        if (!r.want.empty())
            EXPECT_EQ(ModeOf(r.want), 0700u) << r.name;
    }
    EXPECT_EQ(ModeOf(gone), 0u) << "a missing home was made";
}

// The engine list's folder: the runtime folder when it is ours alone, else a private one in
// the temporary folder; never one that others may write.
TEST(EnginePlaces, RuntimeFolder)
{
    TempDir t;
    const std::string own = t / "run", open = t / "open", tmp = t / "tmp", gone = t / "gone";
    mkdir(own.c_str(), 0700);
    mkdir(open.c_str(), 0777);
    chmod(open.c_str(), 0777);
    mkdir(tmp.c_str(), 0700);
    const std::string fallback = tmp + "/folium-run-" + std::to_string(getuid());
    struct Row {
        const char* name;
        const char* runtime;
        std::string want;
    } rows[] = {
        {"own runtime folder", own.c_str(), own},
        {"no runtime folder", nullptr, fallback},
        {"runtime folder others may write", open.c_str(), fallback},
        {"runtime folder that does not exist", gone.c_str(), fallback},
    };
    for (const Row& r : rows) {
        Env env({{"XDG_RUNTIME_DIR", r.runtime}, {"TMPDIR", tmp.c_str()}});
        EXPECT_EQ(RuntimeFolder(), r.want) << r.name;
        EXPECT_EQ(ModeOf(r.want), 0700u) << r.name;
    }
    // A fallback someone else made writable is refused, not used.
    chmod(fallback.c_str(), 0777);
    Env env({{"XDG_RUNTIME_DIR", nullptr}, {"TMPDIR", tmp.c_str()}});
    EXPECT_EQ(RuntimeFolder(), "");
}

// A temporary folder that cannot be written is named, with the reason, in one sentence.
TEST(EnginePlaces, StartProblem)
{
    TempDir t;
    const std::string cache = t / "cache", file = t / "file";
    mkdir(cache.c_str(), 0700);
    FILE* f = fopen(file.c_str(), "w");
    ASSERT_TRUE(f);
    fclose(f);
    struct Row {
        const char* name;
        std::string tmp;
        std::string want;  // part of the answer; empty: no problem
    } rows[] = {
        {"usable", t.Path(), ""},
        {"missing", t / "gone", "the temporary folder cannot be written: " + t / "gone" + ": No such file"},
        {"a file", file, "the temporary folder cannot be written: " + file + ": Not a directory"},
    };
    for (const Row& r : rows) {
        Env env({{"TMPDIR", r.tmp.c_str()}, {"XDG_CACHE_HOME", cache.c_str()}});
        const std::string problem = EngineStartProblem();
        if (r.want.empty())
            EXPECT_EQ(problem, "") << r.name;
        else
            EXPECT_NE(problem.find(r.want), std::string::npos) << r.name << ": " << problem;
    }
}

// An engine older than the one needed is named with both versions; a newer or equal one, or a
// version that cannot be read, is no reason to stop.
TEST(EngineVersion, OlderThanNeededIsAProblem)
{
    struct Row {
        const char* found;
        const char* needed;
        bool problem;
    } rows[] = {
        {"7.4.7.2", "25.2", true},     {"24.8.6.2", "25.2", true},  {"25.1.9.9", "25.2", true},
        {"25.2.3.2", "25.2", false},   {"25.2", "25.2", false},     {"25.8.1.1", "25.2", false},
        {"26.2.0.1", "25.2", false},   {"25.2.0.3", "25.2.3", true}, {"25", "25.2", true},
        {"", "25.2", false},           {"abc", "25.2", false},      {"25..2", "25.2", false},
        {"25.2.", "25.2", false},      {"7.4.7.2", "", false},
    };
    for (const Row& r : rows) {
        const std::string why = EngineVersionProblem("LibreOffice", r.found, r.needed);
        EXPECT_EQ(!why.empty(), r.problem) << r.found << " against " << r.needed << ": " << why;
        if (r.problem) {
            EXPECT_NE(why.find(std::string("LibreOffice ") + r.found + " is installed"), std::string::npos) << why;
            EXPECT_NE(why.find(std::string("needs ") + r.needed + " or later"), std::string::npos) << why;
        }
    }
}

// The suite installed here is read (the program depends on it at the version needed).
TEST(EngineVersion, InstalledSuiteIsReadAndRecentEnough)
{
    const EngineVersionInfo engine = InstalledEngine();
    if (access("/usr/lib/libreoffice/program/soffice.bin", X_OK) != 0)
        GTEST_SKIP() << "no office suite installed";
    EXPECT_EQ(engine.name, "LibreOffice");
    EXPECT_FALSE(engine.version.empty());
    EXPECT_EQ(EngineVersionProblem(engine.name, engine.version, NeededEngineVersion()), "") << engine.version;
}
