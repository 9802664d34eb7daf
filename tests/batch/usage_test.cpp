// The program's answers to bad command lines: status 2 and a message naming the argument,
// before anything is written.
#include "BatchRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace batchtest;

namespace {

TEST(BatchUsage, BadArgumentsExitTwoAndNameTheArgument)
{
    TempDir dir;
    const std::string doc = dir.Write("a.doc", "x");
    struct Row {
        std::vector<std::string> args;
        std::string named;
    };
    const Row rows[] = {
        {{}, "no FILE or FOLDER"},
        {{"-r", "700", doc}, "'700'"},
        {{"-f", "tiff", doc}, "'tiff'"},
        {{"--pages", "4-2", doc}, "'4-2'"},
        {{"-q", "abc", doc}, "'abc'"},
        {{"--frobnicate", doc}, "'--frobnicate'"},
        {{doc, "--report"}, "'--report' needs a value"},
        // The output folder cannot be made under a file.
        {{"-o", doc + "/sub", doc}, doc + "/sub"},
    };
    for (const Row& row : rows) {
        std::string line;
        for (const std::string& a : row.args)
            line += a + " ";
        const Result r = RunBatch(row.args, 60);
        EXPECT_EQ(r.status, 2) << line << "\n" << r.err;
        EXPECT_NE(r.err.find(row.named), std::string::npos) << line << "\n" << r.err;
        EXPECT_TRUE(r.out.empty()) << line;
    }
    // Nothing was written beside the document.
    EXPECT_EQ(FilesIn(dir.Path()), (std::set<std::string>{"a.doc"}));
}

TEST(BatchUsage, HelpAndVersion)
{
    Result r = RunBatch({"--help"}, 60);
    EXPECT_EQ(r.status, 0);
    for (const char* text : {"Usage: pagesnap-batch", "--resolution", "<base>_<extension>", "Exit status"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
    r = RunBatch({"--version"}, 60);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("pagesnap-batch"), std::string::npos);
    // A worker is not started by hand: the hidden option alone is an unknown one.
    r = RunBatch({"--worker"}, 60);
    EXPECT_EQ(r.status, 2);
}

// Documents that need no engine to be refused: the run reports them and exits 1.
TEST(BatchUsage, RefusedDocumentsWithoutAnEngine)
{
    TempDir dir, out;
    dir.Write("notes.doc", "plain text");
    const Result r = RunBatch({"-o", out.Path(), "--report", "-", dir / "notes.doc", dir / "gone.docx"}, 60);
    EXPECT_EQ(r.status, 1) << r.err;
    const nlohmann::json report = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << r.out;
    ASSERT_EQ(report["documents"].size(), 2u);
    EXPECT_EQ(report["documents"][0]["error"]["kind"], "not a Word document");
    EXPECT_EQ(report["documents"][1]["error"]["kind"], "not found");
    EXPECT_TRUE(report["processes"]["workers"].empty());
    EXPECT_TRUE(FilesIn(out.Path()).empty());
    EXPECT_NE(r.err.find("[2/2]"), std::string::npos) << r.err;

    // A path the Word layer cannot hold is refused by the worker before any engine starts.
    std::string deep = dir.Path();
    while (deep.size() < 300)
        deep += std::string(40, 'd') + "/";
    std::filesystem::create_directories(deep);
    std::ofstream(deep + "long.docx") << "PK\x03\x04 a package";
    const Result rl = RunBatch({"-o", out.Path(), "--report", "-", deep + "long.docx"}, 60);
    EXPECT_EQ(rl.status, 1) << rl.err;
    const nlohmann::json rep = nlohmann::json::parse(rl.out, nullptr, false);
    ASSERT_FALSE(rep.is_discarded()) << rl.out;
    EXPECT_EQ(rep["documents"][0]["error"]["kind"], "not found");
    EXPECT_NE(rep["documents"][0]["error"]["message"].get<std::string>().find("longer"), std::string::npos);
    EXPECT_EQ(rep["processes"]["workers"].size(), 1u);
    EXPECT_TRUE(rep["processes"]["engines"].empty());
}

}  // namespace
