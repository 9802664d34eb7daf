// The command line of pagesnap-batch: arguments, page lists, picture names.
#include "convert/Names.h"
#include "batch/Options.h"
#include "batch/Resume.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <unistd.h>
#include <string>
#include <vector>

using namespace batch;
using namespace convert;

namespace {

std::string Join(const std::vector<std::string>& v)
{
    std::string s;
    for (const std::string& x : v)
        s += (s.empty() ? "" : " ") + x;
    return s;
}

TEST(BatchArguments, RejectionsNameTheBadArgument)
{
    struct Row {
        std::vector<std::string> args;
        const char* named;  // what the message must contain
    };
    const Row rows[] = {
        {{}, "no FILE or FOLDER"},
        {{"-r", "23", "a.doc"}, "'23'"},
        {{"-r", "601", "a.doc"}, "'601'"},
        {{"--resolution=9x", "a.doc"}, "'9x'"},
        {{"-q", "0", "a.doc"}, "'0'"},
        {{"-q", "101", "a.doc"}, "'101'"},
        {{"-f", "gif", "a.doc"}, "'gif'"},
        {{"-j", "0", "a.doc"}, "--jobs"},
        {{"-j", "-2", "a.doc"}, "'-2'"},
        {{"-t", "0", "a.doc"}, "--timeout"},
        {{"--bogus", "a.doc"}, "'--bogus'"},
        {{"-x", "a.doc"}, "'-x'"},
        {{"a.doc", "-o"}, "'-o' needs a value"},
        {{"--report", "", "a.doc"}, "--report"},
        {{"-p", "3-1", "a.doc"}, "'3-1'"},
        {{"-p", "1,,2", "a.doc"}, "''"},
        {{"-p", "0", "a.doc"}, "'0'"},
        {{"-p", "-", "a.doc"}, "'-'"},
        {{"-p", "2-x", "a.doc"}, "'2-x'"},
        {{"--fonts", "a:b", "a.doc"}, "'a:b'"},
        {{"--files-from", ""}, "--files-from"},
        {{"--engine-memory", "-1", "a.doc"}, "'-1'"},
        {{"--engine-documents=x", "a.doc"}, "'x'"},
    };
    for (const Row& row : rows) {
        Options o;
        o.outputDir = "sentinel";
        std::string error;
        EXPECT_FALSE(ParseArguments(row.args, 4, &o, &error)) << "args: " << Join(row.args);
        EXPECT_NE(error.find(row.named), std::string::npos) << "args: " << Join(row.args) << " message: " << error;
        EXPECT_EQ(o.outputDir, "sentinel") << "options changed by a rejected line: " << Join(row.args);
    }
}

TEST(BatchArguments, EveryOptionInEveryForm)
{
    Options o;
    std::string error;
    ASSERT_TRUE(ParseArguments({"-o", "out", "-f", "jpg", "-r", "192", "-p", "1-3,5,8-", "-q", "30", "-j", "2", "-t",
                                "5", "--report", "-", "a.doc", "dir"},
                               4, &o, &error))
        << error;
    EXPECT_EQ(o.outputDir, "out");
    EXPECT_EQ(o.format, ImageFormat::Jpg);
    EXPECT_EQ(o.dpi, 192);
    EXPECT_EQ(o.pagesText, "1-3,5,8-");
    ASSERT_EQ(o.pages.size(), 3u);
    EXPECT_EQ(o.quality, 30);
    EXPECT_EQ(o.jobs, 2);
    EXPECT_EQ(o.timeoutSeconds, 5);
    EXPECT_EQ(o.reportPath, "-");
    EXPECT_EQ(o.inputs, (std::vector<std::string>{"a.doc", "dir"}));

    // A list of paths is input enough; --fonts repeats; the engine limits take 0 for none.
    ASSERT_TRUE(ParseArguments({"--files-from", "-", "--fonts", "f1", "--fonts=f2", "--engine-memory", "0",
                                "--engine-documents=7"},
                               4, &o, &error))
        << error;
    EXPECT_EQ(o.engineMemoryMb, 0);
    EXPECT_EQ(o.engineDocuments, 7);
    EXPECT_EQ(o.filesFrom, "-");
    EXPECT_EQ(o.fontDirs, (std::vector<std::string>{"f1", "f2"}));
    EXPECT_TRUE(o.inputs.empty());
    std::istringstream list("a.doc\r\n\nwith space.docx\n/abs/dir\nlast.doc");
    ReadPathList(list, &o.inputs);
    EXPECT_EQ(o.inputs, (std::vector<std::string>{"a.doc", "with space.docx", "/abs/dir", "last.doc"}));

    ASSERT_TRUE(ParseArguments({"--output=o2", "--format=bmp", "--resolution=600", "-j8", "-q100", "--timeout", "1",
                                "--", "-named-like-an-option.doc"},
                               4, &o, &error))
        << error;
    EXPECT_EQ(o.outputDir, "o2");
    EXPECT_EQ(o.format, ImageFormat::Bmp);
    EXPECT_EQ(o.dpi, 600);
    EXPECT_EQ(o.jobs, 8);
    EXPECT_EQ(o.quality, 100);
    EXPECT_EQ(o.inputs, (std::vector<std::string>{"-named-like-an-option.doc"}));
}

// The part of a split run, given or taken from a scheduler's environment.
TEST(BatchArguments, ShardFromTheLineOrTheScheduler)
{
    struct Row {
        const char* text;
        std::map<std::string, std::string> env;
        int index, count;   // -1: refused
        const char* named;  // what the refusal says
    };
    const std::map<std::string, std::string> slurm = {
        {"SLURM_ARRAY_TASK_ID", "7"}, {"SLURM_ARRAY_TASK_MIN", "5"}, {"SLURM_ARRAY_TASK_COUNT", "4"}};
    const Row rows[] = {
        {"0/1", {}, 0, 1, ""},
        {"3/4", slurm, 3, 4, ""},
        {"auto", slurm, 2, 4, ""},
        {"auto", {{"SLURM_ARRAY_TASK_ID", "12"}, {"SLURM_ARRAY_TASK_STEP", "4"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}, 3, 4, ""},
        {"auto/8", {{"JOB_COMPLETION_INDEX", "5"}, {"SLURM_ARRAY_TASK_ID", "1"}}, 5, 8, ""},
        {"auto/8", {{"SLURM_ARRAY_TASK_ID", "6"}}, 6, 8, ""},
        {"4/4", {}, -1, -1, "does not exist"},
        {"auto/4", {{"JOB_COMPLETION_INDEX", "4"}}, -1, -1, "part 4 of 4"},
        {"auto", {{"JOB_COMPLETION_INDEX", "1"}}, -1, -1, "SLURM_ARRAY_TASK_COUNT"},
        {"auto/3", {}, -1, -1, "JOB_COMPLETION_INDEX"},
        {"auto/3", {{"JOB_COMPLETION_INDEX", "x"}}, -1, -1, "JOB_COMPLETION_INDEX"},
        {"-1/2", {}, -1, -1, "bad value"},
        {"1/0", {}, -1, -1, "bad value"},
        {"2", {}, -1, -1, "bad value"},
        {"a/b", {}, -1, -1, "bad value"},
    };
    for (const Row& row : rows) {
        int index = 0xdead, count = 0xbeef;
        std::string error;
        const bool ok = ParseShard(
            row.text,
            [&](const char* name) -> const char* {
                const auto it = row.env.find(name);
                return it == row.env.end() ? nullptr : it->second.c_str();
            },
            &index, &count, &error);
        ASSERT_EQ(ok, row.index >= 0) << row.text << ": " << error;
        if (ok) {
            EXPECT_EQ(index, row.index) << row.text;
            EXPECT_EQ(count, row.count) << row.text;
        } else {
            EXPECT_NE(error.find(row.named), std::string::npos) << row.text << ": " << error;
            EXPECT_EQ(index, 0xdead) << row.text << ": changed on refusal";
        }
    }
    Options o;
    std::string error;
    ASSERT_TRUE(ParseArguments({"--shard", "2/3", "--report", "r-{shard}.json", "a.doc"}, 1, &o, &error)) << error;
    EXPECT_EQ(o.reportPath, "r-2.json");
}

// Temporary pictures of runs that are gone are removed, of this machine only: another
// machine's run sharing the folder may still be writing.
TEST(BatchResume, StaleTempPicturesOfThisMachineOnly)
{
    TempDir dir;
    const std::string ours = TempPicturePrefix();
    const std::string gone = ".pagesnap-batch-999999999" + ours.substr(ours.find('.', 2));
    const std::pair<std::string, bool> rows[] = {
        {ours + "0-1.png", false},  // this process's own
        {gone + "3-7.png", true},
        {".pagesnap-batch-999999999-3-7.png", true},  // named as older runs named them
        {".pagesnap-batch-999999999.0badc0de-3-7.png", false},
        {".pagesnap-batch-notes.txt", false},
        {".pagesnap-batch.done", false},
        {"report_1.png", false},
    };
    for (const auto& row : rows)
        dir.Write(row.first, "x");
    EXPECT_EQ(RemoveStaleTempPictures(dir.Path()), 2);
    for (const auto& row : rows)
        EXPECT_EQ(access((dir / row.first).c_str(), F_OK) != 0, row.second) << row.first;
}

TEST(BatchArguments, DefaultsAndHelp)
{
    Options o;
    std::string error;
    ASSERT_TRUE(ParseArguments({"a.doc"}, 3, &o, &error));
    EXPECT_EQ(o.outputDir, ".");
    EXPECT_EQ(o.format, ImageFormat::Png);
    EXPECT_EQ(o.dpi, 96);
    EXPECT_EQ(o.quality, 90);
    EXPECT_EQ(o.jobs, 3);
    EXPECT_EQ(o.timeoutSeconds, 300);
    EXPECT_TRUE(o.pages.empty());
    EXPECT_TRUE(o.reportPath.empty());
    // Help and version need no input.
    ASSERT_TRUE(ParseArguments({"--help"}, 3, &o, &error));
    EXPECT_TRUE(o.help);
    ASSERT_TRUE(ParseArguments({"--version"}, 3, &o, &error));
    EXPECT_TRUE(o.version);
    const int n = DefaultJobs();
    EXPECT_GE(n, 1);
    EXPECT_LE(n, 8);
}

TEST(BatchPages, ListsSelectAndSkip)
{
    struct Row {
        const char* list;  // "" for every page
        int count;
        std::vector<int> pages;
        std::vector<std::string> skipped;
    };
    const Row rows[] = {
        {"", 3, {1, 2, 3}, {}},
        {"1-3,5,8-", 10, {1, 2, 3, 5, 8, 9, 10}, {}},
        {"1-3,5,8-", 4, {1, 2, 3}, {"5", "8-"}},
        {"-2", 5, {1, 2}, {}},
        {"2-4,3,4", 5, {2, 3, 4}, {}},
        {"12-14", 13, {12, 13}, {"14"}},
        {"9-", 9, {9}, {}},
        {"4-6", 2, {}, {"4-6"}},
        {"2", 1, {}, {"2"}},
    };
    for (const Row& row : rows) {
        std::vector<PageRange> ranges;
        std::string error;
        if (*row.list) {
            ASSERT_TRUE(ParsePageList(row.list, &ranges, &error)) << row.list << ": " << error;
        }
        std::vector<std::string> skipped;
        EXPECT_EQ(SelectPages(ranges, row.count, &skipped), row.pages) << row.list << " of " << row.count;
        EXPECT_EQ(skipped, row.skipped) << row.list << " of " << row.count;
    }
}

TEST(BatchNames, SharedBasesGetTheFirstFreeSuffix)
{
    struct Row {
        std::vector<std::string> paths;
        std::vector<std::string> bases;
    };
    const Row rows[] = {
        {{"a/report.doc", "b/report.docx"}, {"report", "report_docx"}},
        {{"a/report.doc", "b/report.doc", "c/report.doc"}, {"report", "report_doc", "report_doc2"}},
        // A later document's own name is kept for it.
        {{"report.doc", "report.docx", "report_docx.doc"}, {"report", "report_docx2", "report_docx"}},
        {{"Report.doc", "report.docx", "REPORT.DOC"}, {"Report", "report_docx", "REPORT_DOC"}},
        {{"a/noext", "b/noext"}, {"noext", "noext_2"}},
        {{"x/archive.tar.doc", "noext", "dir.d/plain"}, {"archive.tar", "noext", "plain"}},
        {{"one.doc", "two.doc"}, {"one", "two"}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(AssignBases(row.paths), row.bases) << Join(row.paths);
    EXPECT_EQ(PictureName("report_docx", 7, "png"), "report_docx_7.png");
}

}  // namespace
