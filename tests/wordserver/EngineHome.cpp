// Every test program that starts the document engine runs with per-user locations of its
// own: the runtime folder (the engine list that taskkill reads), the temporary folder, home,
// configuration and data. Nothing a test does can then touch a real user's engines or
// files, and two test runs at once do not meet. Engine profiles go to
// FOLIUM_TEST_ENGINE_CACHE when set, else to engine-cache in the build tree beside the test
// programs' folder (warm profiles start much faster; each is locked while in use).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class EngineHome {
public:
    EngineHome()
    {
        // A program started by one that set these up shares them (a second converter of
        // the same run, a helper holding an engine).
        if (getenv("FOLIUM_TEST_ENGINE_HOME"))
            return;
        char tmpl[] = "/tmp/folium-enginehome-XXXXXX";
        if (!mkdtemp(tmpl)) {
            perror("engine tests: no private home");
            _exit(2);
        }
        m_root = tmpl;
        setenv("FOLIUM_TEST_ENGINE_HOME", tmpl, 1);
        std::string cache = BuildTreeCache();
        Set("XDG_RUNTIME_DIR", "runtime");
        Set("TMPDIR", "tmp");
        Set("HOME", "home");
        Set("XDG_CONFIG_HOME", "config");
        Set("XDG_DATA_HOME", "data");
        if (!cache.empty() && (mkdir(cache.c_str(), 0700) == 0 || errno == EEXIST))
            setenv("XDG_CACHE_HOME", cache.c_str(), 1);
        else
            Set("XDG_CACHE_HOME", "cache");
    }
    ~EngineHome()
    {
        if (m_root.empty())
            return;
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }

private:
    static std::string BuildTreeCache()
    {
        const char* v = getenv("FOLIUM_TEST_ENGINE_CACHE");
        if (v && *v == '/')
            return v;
        char exe[4096];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0)
            return std::string();
        exe[n] = 0;
        std::string dir(exe);
        dir.resize(dir.rfind('/'));  // bin
        size_t up = dir.rfind('/');
        return up == std::string::npos ? std::string() : dir.substr(0, up) + "/engine-cache";
    }
    void Set(const char* var, const char* sub)
    {
        std::string p = m_root + "/" + sub;
        if (mkdir(p.c_str(), 0700) != 0) {
            perror("engine tests: no private folder");
            _exit(2);
        }
        setenv(var, p.c_str(), 1);
    }
    std::string m_root;
};

EngineHome g_home;

}  // namespace
