// pagesnap-batch for any user. An engine of root's leaves the office suite's shared folders as
// they were (it once made them unusable to every other user), and a service account converts
// with no home, a read-only home, a runtime folder not its own, or in a service's sandbox.
// Running as another user needs root: as anyone else those parts are skipped.
#include "BatchRun.h"
#include "TempDir.h"
#include "WordServerTest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace batchtest;
namespace fs = std::filesystem;

namespace {

// Every entry of the office suite's shared folders: path, mode, owner, size and change time.
std::set<std::string> SharedState()
{
    std::set<std::string> lines;
    for (const char* root : {"/usr/lib/libreoffice", "/var/spool/libreoffice", "/etc/libreoffice"}) {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            struct stat sb;
            if (lstat(it->path().c_str(), &sb) == 0)
                lines.insert(it->path().string() + " " + std::to_string(sb.st_mode) + " " + std::to_string(sb.st_uid) +
                             " " + std::to_string(sb.st_size) + " " + std::to_string(sb.st_ctim.tv_sec) + "." +
                             std::to_string(sb.st_ctim.tv_nsec));
        }
    }
    return lines;
}

std::string Difference(const std::set<std::string>& a, const std::set<std::string>& b)
{
    std::string text;
    for (const std::string& l : a)
        if (!b.count(l))
            text += "  - " + l + "\n";
    for (const std::string& l : b)
        if (!a.count(l))
            text += "  + " + l + "\n";
    return text;
}

class AnyUser : public ::testing::Test {
protected:
    // A tree every user may read: a copy of the program with its modules (the build may sit in
    // root's home) and a document.
    static void SetUpTestSuite()
    {
        UsePrivateUserFolders();
        // In /tmp itself: the test's own temporary folder is private to it.
        char tmpl[] = "/tmp/folium-anyuser-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        chmod(tmpl, 0755);
        s_base = new Base{std::string(tmpl) + "/"};
        const std::string self = ProgramPath().substr(0, ProgramPath().rfind('/') + 1);
        fs::create_directories(*s_base / "bin");
        for (const char* name : {"pagesnap-batch", "libplatform.so", "libWordServer.so"})
            fs::copy_file(self + name, *s_base / "bin/" + name);
        wstest::Word word;
        ASSERT_TRUE(wstest::MakeDocument(word, s_base->Path(), wstest::Para("A letter to anyone."),
                                         *s_base / "letter.docx"));
        chmod((*s_base / "letter.docx").c_str(), 0644);
        if (const passwd* pw = getpwnam("nobody")) {
            s_uid = pw->pw_uid;
            s_gid = pw->pw_gid;
        }
    }
    static void TearDownTestSuite()
    {
        std::error_code ec;
        if (s_base)
            fs::remove_all(s_base->Path(), ec);
        delete s_base;
        s_base = nullptr;
    }

    // A folder of the unprivileged user's in the shared tree.
    static std::string UserFolder(const std::string& name)
    {
        const std::string dir = *s_base / name;
        fs::create_directories(dir);
        chown(dir.c_str(), s_uid, s_gid);
        return dir;
    }

    // cmd as the unprivileged user, in an environment of PATH and vars alone.
    static Result AsUser(const std::vector<std::string>& vars, const std::vector<std::string>& cmd)
    {
        std::vector<std::string> argv = {"setpriv", "--reuid=" + std::to_string(s_uid),
                                         "--regid=" + std::to_string(s_gid), "--clear-groups", "env", "-i",
                                         "PATH=/usr/bin:/bin"};
        argv.insert(argv.end(), vars.begin(), vars.end());
        argv.insert(argv.end(), cmd.begin(), cmd.end());
        return RunCommand(argv, {"PATH=/usr/bin:/bin"});
    }

    static std::vector<std::string> Environment()
    {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            env.push_back(*e);
        return env;
    }

    static bool CanSwitchUser() { return getuid() == 0 && s_uid != 0; }

    struct Base {
        std::string path;
        const std::string& Path() const { return path; }
        std::string operator/(const std::string& name) const { return path + name; }
    };
    static Base* s_base;
    static uid_t s_uid;
    static gid_t s_gid;
};

AnyUser::Base* AnyUser::s_base = nullptr;
uid_t AnyUser::s_uid = 0;
gid_t AnyUser::s_gid = 0;

// The engine changes nothing in the office suite's shared folders; after it, another user's
// office suite still converts (its shared extension cache was made 0700 by root's engine).
TEST_F(AnyUser, SharedFoldersUntouched)
{
    const std::set<std::string> before = SharedState();
    TempDir out;
    const Result r = RunBatch({"-j", "1", "-o", out.Path(), *s_base / "letter.docx"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(SharedState(), before) << "the engine changed the office suite's folders:\n"
                                     << Difference(before, SharedState());
    if (!CanSwitchUser())
        GTEST_SKIP() << "another user's office suite needs root to switch users";
    const std::string home = UserFolder("soffice-home"), pdf = UserFolder("soffice-pdf");
    const Result s = AsUser({"HOME=" + home},
                            {"soffice", "--headless", "--convert-to", "pdf", "--outdir", pdf, *s_base / "letter.docx"});
    EXPECT_EQ(s.status, 0) << s.out << s.err;
    EXPECT_TRUE(fs::exists(pdf + "/letter.pdf")) << s.out << s.err;
}

// A service account converts whatever its home and runtime folder, and leaves nothing in its
// temporary folder (the profile it had to keep there goes with the engine).
TEST_F(AnyUser, NoUsableHome)
{
    if (!CanSwitchUser())
        GTEST_SKIP() << "needs root to run as an unprivileged user";
    const std::string readOnly = UserFolder("read-only-home");
    chmod(readOnly.c_str(), 0555);
    struct Row {
        const char* name;
        std::vector<std::string> vars;
    } rows[] = {
        {"home-root", {"HOME=/"}},
        {"home-missing", {"HOME=/nonexistent"}},
        {"home-read-only", {"HOME=" + readOnly}},
        {"runtime-not-ours", {"HOME=/nonexistent", "XDG_RUNTIME_DIR=/root"}},
    };
    for (const Row& row : rows) {
        const std::string dir = UserFolder(row.name), tmp = UserFolder(std::string(row.name) + "/tmp");
        std::vector<std::string> vars = row.vars;
        vars.push_back("TMPDIR=" + tmp);
        const Result r =
            AsUser(vars, {*s_base / "bin/pagesnap-batch", "-j", "1", "-o", dir + "/out", *s_base / "letter.docx"});
        EXPECT_EQ(r.status, 0) << row.name << ": " << r.err;
        EXPECT_TRUE(fs::exists(dir + "/out/letter_1.png")) << row.name;
        std::set<std::string> left;
        for (const auto& e : fs::directory_iterator(tmp))
            if (e.path().filename().string().rfind("folium-run-", 0) != 0)  // the engine list's folder stays
                left.insert(e.path().filename());
        EXPECT_TRUE(left.empty()) << row.name << ": left in the temporary folder: " << *left.begin();
    }
}

// The conditions of packaging/systemd's unit: a user of no account (HOME=/), the system read-only
// (ProtectSystem=strict), no homes (ProtectHome), a /tmp of its own (PrivateTmp), and only the
// output folder writable (StateDirectory).
TEST_F(AnyUser, ServiceSandbox)
{
    if (!CanSwitchUser())
        GTEST_SKIP() << "needs root to make the sandbox";
    const std::string state = UserFolder("state");
    const std::string mount = "/run/folium-unit-test-" + std::to_string(getpid());
    ASSERT_EQ(mkdir(mount.c_str(), 0755), 0);
    const std::string user = "--reuid=" + std::to_string(s_uid) + " --regid=" + std::to_string(s_gid);
    const std::string script =
        "mount --bind '" + s_base->Path() + "' " + mount +
        " && mount -t tmpfs -o mode=1777 tmpfs /tmp && mount -t tmpfs -o mode=1777 tmpfs /var/tmp"
        " && for d in /home /root /run/user; do [ ! -d $d ] || mount -t tmpfs -o mode=000 tmpfs $d; done"
        " && mount -o remount,bind,ro / && exec setpriv " +
        user + " --clear-groups env -i PATH=/usr/bin:/bin HOME=/ " + mount + "/bin/pagesnap-batch -j 1 -o " + mount +
        "/state/out --report " + mount + "/state/report.json " + mount + "/letter.docx";
    const Result r = RunCommand({"unshare", "--mount", "sh", "-c", script}, Environment());
    rmdir(mount.c_str());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(state + "/out/letter_1.png")) << r.err;
}

// With too little space for an engine the reason is said once, with the folder, and in the
// report; no document is handed to an engine.
TEST_F(AnyUser, SaysWhyOnce)
{
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to mount a small folder";
    TempDir work;
    const std::string small = work / "small", out = work / "out", report = work / "report.json";
    fs::create_directories(small);
    const std::string script = "mount -t tmpfs -o size=4m tmpfs '" + small + "' && TMPDIR='" + small + "' exec '" +
                               ProgramPath() + "' -o '" + out + "' --report '" + report + "' '" +
                               (*s_base / "letter.docx") + "' '" + (*s_base / "letter.docx") + "2'";
    fs::copy_file(*s_base / "letter.docx", *s_base / "letter.docx2", fs::copy_options::overwrite_existing);
    const Result r = RunCommand({"unshare", "--mount", "sh", "-c", script}, Environment());
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string why = "too little free space in the temporary folder " + small;
    const size_t at = r.err.find(why);
    EXPECT_NE(at, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(why, at + 1), std::string::npos) << "said more than once:\n" << r.err;
    const nlohmann::json j = ReadJson(report);
    ASSERT_FALSE(j.is_discarded());
    EXPECT_NE(j["engine_problem"].get<std::string>().find(why), std::string::npos);
    EXPECT_TRUE(j["processes"]["workers"].empty());
    for (const auto& d : j["documents"])
        EXPECT_EQ(d["status"], "not converted");
}

}  // namespace
