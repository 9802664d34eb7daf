// The private folders of the temporary documents and their clean-up.
#include "word/TempFolder.h"

#include "TempDir.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

TEST(TempFolderTest, RecognisesOnlyThisProgramsTemporaryDocuments)
{
    struct Row {
        const char* name;
        bool temp;
    } rows[] = {
        {"report_temp_1.doc", true},     {"report_temp_65536.docx", true}, {"A.B_temp_12.DOC", true},
        {"_temp_3.doc", true},           {"report.doc", false},            {"report_temp_.doc", false},
        {"report_temp_1.txt", false},    {"report_temp_1.doc.bak", false}, {"report_temp_x1.doc", false},
        {"report_tmp_1.doc", false},     {"temp_1.doc", false},            {"report_temp_1.docm", false},
    };
    for (auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.temp, IsTempDocumentName(r.name));
    }
    EXPECT_FALSE(IsTempDocumentName(nullptr));
}

TEST(TempFolderTest, CleaningLeavesAUsersDocumentsAlone)
{
    TempDir dir;
    for (const char* n : {"letter_temp_65536.docx", "letter_temp_1.docx", "letter_temp_2.docx", "memo_temp_1.doc"})
        dir.Write(n, "t");
    dir.Write("report.doc", "mine");
    dir.Write("report.docx", "mine too");
    dir.Write("keep_temp_1.txt", "other kind");
    mkdir((dir / "old_temp_1.doc").c_str(), 0755);

    EXPECT_EQ(4, DeleteTempDocuments(dir.Path().c_str()));
    std::set<std::string> left;
    for (auto& e : std::filesystem::directory_iterator(dir.Path()))
        left.insert(e.path().filename().string());
    EXPECT_EQ((std::set<std::string>{"report.doc", "report.docx", "keep_temp_1.txt", "old_temp_1.doc"}), left);

    std::string noSlash = dir.Path().substr(0, dir.Path().size() - 1);
    dir.Write("x_temp_9.doc", "t");
    EXPECT_EQ(1, DeleteTempDocuments(noSlash.c_str()));
    EXPECT_EQ(0, DeleteTempDocuments((dir / "missing").c_str()));
    EXPECT_EQ(0, DeleteTempDocuments(""));
    EXPECT_EQ(0, DeleteTempDocuments(nullptr));
}

std::set<std::string> Entries(const std::string& folder)
{
    std::set<std::string> names;
    std::error_code ec;
    for (auto& e : std::filesystem::directory_iterator(folder, ec))
        names.insert(e.path().filename().string());
    return names;
}

// A process id that no process has now: a child's, after it ended.
pid_t DeadPid()
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

TEST(TempFolderTest, TheRunsFolderIsPrivateLockedAndHoldsAFolderPerDocument)
{
    TempDir temp;
    char run[MAX_PATH], again[MAX_PATH], d1[MAX_PATH], d2[MAX_PATH];
    ASSERT_TRUE(GetRunTempFolder(temp.Path().c_str(), run, sizeof run));
    const std::string prefix = temp.Path() + "folium-" + std::to_string(getpid()) + "-";
    EXPECT_EQ(0u, std::string(run).rfind(prefix, 0)) << run;
    struct stat st;
    ASSERT_EQ(0, lstat(run, &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);
    ASSERT_TRUE(GetRunTempFolder(temp.Path().c_str(), again, sizeof again));
    EXPECT_STREQ(run, again) << "one per run and temporary folder";
    // Locked while the run lives: another open of its lock cannot take it.
    const int fd = open((std::string(run) + ".lock").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_NE(0, flock(fd, LOCK_EX | LOCK_NB));
    close(fd);

    ASSERT_TRUE(MakeDocumentTempFolder(temp.Path().c_str(), d1, sizeof d1));
    ASSERT_TRUE(MakeDocumentTempFolder(temp.Path().c_str(), d2, sizeof d2));
    EXPECT_STRNE(d1, d2);
    EXPECT_EQ(0u, std::string(d1).rfind(run, 0));
    ASSERT_EQ(0, lstat(d1, &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);

    char small[8];
    EXPECT_FALSE(GetRunTempFolder(temp.Path().c_str(), small, sizeof small)) << "does not fit";
    EXPECT_FALSE(MakeDocumentTempFolder((temp / "missing/").c_str(), d1, sizeof d1));
    EXPECT_FALSE(GetRunTempFolder("", run, sizeof run));
    EXPECT_EQ(1, CleanTempFolders(temp.Path().c_str()));
    EXPECT_TRUE(Entries(temp.Path()).empty());
}

TEST(TempFolderTest, CleanUpRemovesOnlyFoldersOfOursThatNoLiveRunHolds)
{
    TempDir temp;
    TempDir elsewhere;
    const std::string victim = elsewhere.Write("victim_temp_1.doc", "0xdeadbeef");
    // The user's own files in the temporary folder, named as temporary documents were.
    temp.Write("report_temp_1.doc", "user's");
    temp.Write("report_temp_65536.docx", "user's");

    // This run's folders, one with a file the program did not make.
    char d1[MAX_PATH], d2[MAX_PATH];
    ASSERT_TRUE(MakeDocumentTempFolder(temp.Path().c_str(), d1, sizeof d1));
    ASSERT_TRUE(MakeDocumentTempFolder(temp.Path().c_str(), d2, sizeof d2));
    for (const char* d : {d1, d2})
        for (const char* n : {"a_temp_1.doc", "a_temp_65536.doc"})
            std::ofstream(std::string(d) + n) << "ours";
    std::ofstream(std::string(d2) + "notes.txt") << "not ours";

    // Folders of other runs.
    struct Other {
        std::string name;
        mode_t mode;
        bool lockFile;
        bool held;
        bool removed;
    };
    const pid_t dead = DeadPid();
    const std::string deadName = "folium-" + std::to_string(dead);
    const std::vector<Other> others = {
        {deadName + "-crash1", 0700, true, false, true},        // crashed: its lock is free
        {deadName + "-nolock", 0700, false, false, true},       // crashed before locking, process gone
        {"folium-" + std::to_string(getppid()) + "-nolock", 0700, false, false, false},  // alive, not locked yet
        {deadName + "-livelk", 0700, true, true, false},        // a live run holds its lock
        {deadName + "-shared", 0755, true, false, false},       // not a private folder: not ours
        {"folium-x-abcdef", 0700, true, false, false},          // not a name of ours
        {"other-folder", 0700, true, false, false},
    };
    std::vector<int> held;
    for (const Other& o : others) {
        const std::string path = temp / o.name;
        ASSERT_EQ(0, mkdir(path.c_str(), o.mode));
        chmod(path.c_str(), o.mode);
        ASSERT_EQ(0, mkdir((path + "/d1").c_str(), 0700));
        std::ofstream(path + "/d1/b_temp_1.doc") << "stale";
        if (o.lockFile) {
            const int fd = open((path + "/.lock").c_str(), O_RDWR | O_CREAT, 0600);
            ASSERT_GE(fd, 0);
            if (o.held) {
                ASSERT_EQ(0, flock(fd, LOCK_EX | LOCK_NB));
                held.push_back(fd);
            } else {
                close(fd);
            }
        }
    }
    // A link named as a run folder, aimed at a folder of temporary-looking documents.
    ASSERT_EQ(0, symlink(elsewhere.Path().c_str(), (temp / (deadName + "-linked")).c_str()));

    // Two stale folders go; this run's own stays for the file it did not make.
    EXPECT_EQ(2, CleanTempFolders(temp.Path().c_str()));
    for (int fd : held)
        close(fd);

    std::set<std::string> expected = {"report_temp_1.doc", "report_temp_65536.docx", deadName + "-linked"};
    for (const Other& o : others)
        if (!o.removed)
            expected.insert(o.name);
    // This run's folder with the foreign file stays, holding only that file.
    std::string d2Folder(d2);
    d2Folder.pop_back();
    const std::string runFolder = d2Folder.substr(0, d2Folder.rfind('/'));
    expected.insert(runFolder.substr(runFolder.rfind('/') + 1));
    EXPECT_EQ(expected, Entries(temp.Path()));
    EXPECT_EQ((std::set<std::string>{"notes.txt"}), Entries(d2Folder));
    EXPECT_EQ(std::set<std::string>{d2Folder.substr(d2Folder.rfind('/') + 1)}, Entries(runFolder));
    EXPECT_EQ("user's", ReadWhole(temp / "report_temp_1.doc"));
    EXPECT_EQ("0xdeadbeef", ReadWhole(victim));
    for (const Other& o : others)
        if (!o.removed) {
            EXPECT_EQ("stale", ReadWhole(temp / (o.name + "/d1/b_temp_1.doc"))) << o.name;
        }
}

}  // namespace
