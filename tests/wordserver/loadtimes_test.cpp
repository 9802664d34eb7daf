// The engine's own interface: how long a load took, split into the import of the file and the
// view's layout of its pages (what stage_bench reports), for one short and one long document.
#include <gtest/gtest.h>

#include "TempDir.h"
#include "wordserver/Engine.h"

#include <chrono>
#include <string>

using namespace wordengine;

namespace {

// An RTF document of `pages` pages, each a line of text ended by a page break.
std::string Rtf(int pages)
{
    std::string s = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Liberation Serif;}}\\f0\\fs24 ";
    for (int i = 1; i <= pages; ++i)
        s += "Page " + std::to_string(i) + (i < pages ? "\\page " : "\\par}");
    return s;
}

struct Engine {
    Engine() { EngineAddRef(); }
    ~Engine() { EngineRelease(); }
};

}  // namespace

TEST(WordEngineLoadTimes, SplitsTheLoadIntoImportAndLayout)
{
    Engine engine;
    ASSERT_EQ(EngineEnsure(), EngineStatus::Ok);
    TempDir dir;
    const struct {
        int pages;
    } rows[] = {{1}, {40}};
    for (const auto& row : rows) {
        const std::string path = dir.Write("pages" + std::to_string(row.pages) + ".rtf", Rtf(row.pages));
        LoadOptions opts;
        opts.reuse = false;
        DocumentPtr doc;
        const auto t = std::chrono::steady_clock::now();
        ASSERT_EQ(LoadDocument(path, opts, &doc), EngineStatus::Ok) << row.pages << " pages";
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
        int count = 0;
        ASSERT_EQ(doc->PageCount(&count), EngineStatus::Ok);
        EXPECT_EQ(count, row.pages);
        const Document::LoadTimes lt = doc->LoadSeconds();
        EXPECT_GT(lt.import, 0.0) << row.pages << " pages";
        EXPECT_GT(lt.layout, 0.0) << row.pages << " pages";
        // Parts of the load, measured inside it: together never more than the whole call.
        EXPECT_LE(lt.import + lt.layout, wall) << row.pages << " pages";
        doc->Close();
    }
}
