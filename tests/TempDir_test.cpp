// The test harness's temporary folder.
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = getenv(name))
            m_old = old, m_had = true;
        setenv(name, value, 1);
    }
    ~ScopedEnv()
    {
        if (m_had)
            setenv(m_name, m_old.c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

TEST(TempDirDeathTest, StopsWhenNoFolderCanBeMade)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // In the child only: TMPDIR names a folder that does not exist.
    EXPECT_DEATH(
        {
            setenv("TMPDIR", "/nonexistent-folium-folder", 1);
            TempDir dir;
            fprintf(stderr, "went on in %s\n", dir.Path().c_str());
        },
        "mkdtemp.*failed");
}

TEST(TempDir, MakesAPrivateFolderAndRemovesOnlyWhatIsInIt)
{
    TempDir outer;
    const std::string keep = outer.Write("keep.txt", "0xdeadbeef");
    std::string inner;
    {
        ScopedEnv env("TMPDIR", outer.Path().c_str());
        TempDir dir;
        inner = dir.Path();
        ASSERT_EQ(inner.rfind(outer.Path(), 0), 0u) << inner;
        struct stat st;
        ASSERT_EQ(stat(inner.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        dir.Write("a.txt", "x");
        // A link to a folder outside: removing the link must not empty its target.
        ASSERT_EQ(symlink(outer.Path().c_str(), (dir / "link").c_str()), 0);
    }
    EXPECT_NE(access(inner.c_str(), F_OK), 0) << "the folder is removed";
    EXPECT_EQ(ReadWhole(keep), "0xdeadbeef");
}

}  // namespace
