// The pool of worker processes, over a worker without an engine (fake_worker.cpp): documents
// reach free workers and their events come back in order, a worker that dies or runs out of
// time fails only its own document, and a document may carry settings of its own.
#include "convert/WorkerPool.h"
#include "convert/Procs.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace convert;
using json = nlohmann::json;

namespace {

PoolSetup FakeSetup(const std::string& temp, int jobs)
{
    PoolSetup s;
    s.workerProgram = FAKE_WORKER;
    s.jobs = jobs;
    s.tempDir = temp;
    s.defaults = {{"format", "png"}, {"dpi", 96}, {"quality", 90}, {"pages", ""}};
    return s;
}

// Runs documents through the pool until each has ended; the events of each, in order.
std::map<int, std::vector<PoolEvent>> RunAll(WorkerPool& pool, const std::vector<json>& jobs, int timeoutSeconds)
{
    std::map<int, std::vector<PoolEvent>> events;
    size_t next = 0;
    int ended = 0;
    for (int round = 0; round < 2000 && ended < int(jobs.size()); ++round) {
        while (next < jobs.size() &&
               pool.Submit(int(next), jobs[next], std::chrono::seconds(timeoutSeconds)) == WorkerPool::Hand::Taken)
            ++next;
        pool.Poll(std::chrono::milliseconds(50), -1, [&](const PoolEvent& e) {
            events[e.doc].push_back(e);
            ended += e.event == "done" || e.event == "failed";
        });
    }
    return events;
}

}  // namespace

TEST(WorkerPool, EachDocumentEndsOnceWhateverItsWorkerDoes)
{
    struct Row {
        const char* path;
        const char* last;  // the document's last event
        const char* kind;  // its kind when failed
    };
    const Row rows[] = {
        {"a.docx", "done", ""},
        {"crash", "failed", "engine failed"},
        {"b.docx", "done", ""},
        {"hang", "failed", "timed out"},
        {"engine", "done", ""},
        {"c.docx", "done", ""},
    };
    // With a second document handed to a busy worker (ahead), a document waiting behind one
    // that crashed or hung goes to another worker and ends as it would have alone.
    for (const bool bAhead : {false, true}) {
        SCOPED_TRACE(bAhead ? "ahead" : "one at a time");
        TempDir temp;
        // One worker, ahead: "engine" waits behind "hang" in the same worker.
        PoolSetup setup = FakeSetup(temp.Path(), bAhead ? 1 : 2);
        setup.ahead = bAhead;
        WorkerPool pool(setup);
        std::vector<json> jobs;
        for (const Row& r : rows)
            jobs.push_back({{"path", r.path}, {"prefix", "p-"}});
        auto events = RunAll(pool, jobs, 2);
        for (size_t i = 0; i < std::size(rows); ++i) {
            SCOPED_TRACE(rows[i].path);
            const std::vector<PoolEvent>& e = events[int(i)];
            ASSERT_FALSE(e.empty());
            int ends = 0;
            for (const PoolEvent& x : e)
                ends += x.event == "done" || x.event == "failed";
            EXPECT_EQ(ends, 1);
            EXPECT_EQ(e.back().event, rows[i].last) << e.back().line.dump();
            if (*rows[i].kind) {
                EXPECT_EQ(e.back().line.value("kind", ""), rows[i].kind);
            }
        }
        // A crashed or timed-out worker was replaced; at most two ever worked at once.
        EXPECT_GE(pool.WorkerPids().size(), 3u);
        EXPECT_LE(pool.Live(), 2);
        EXPECT_EQ(pool.EnginePids().size(), 1u);  // the "engine" document's report
        EXPECT_EQ(pool.Busy(), 0);
        const std::vector<int> pids = pool.WorkerPids();
        pool.StopAll(false);
        for (int pid : pids)
            EXPECT_TRUE(ProcessGone(pid)) << pid;
    }
}

TEST(WorkerPool, ADocumentsOwnSettingsOverrideTheSetupForItAlone)
{
    TempDir temp;
    WorkerPool pool(FakeSetup(temp.Path(), 1));
    const std::vector<json> jobs = {
        {{"path", "a.docx"}, {"prefix", "a-"}, {"format", "jpg"}, {"dpi", 300}, {"pages", "2"}},
        {{"path", "b.docx"}, {"prefix", "b-"}},
    };
    auto events = RunAll(pool, jobs, 10);
    auto settingsOf = [&](int doc) {
        for (const PoolEvent& e : events[doc])
            if (e.event == "page")
                return e.line["settings"];
        return json();
    };
    EXPECT_EQ(settingsOf(0)["format"], "jpg");
    EXPECT_EQ(settingsOf(0)["dpi"], 300);
    EXPECT_EQ(settingsOf(0)["pages"], "2");
    EXPECT_EQ(settingsOf(1)["format"], "png");
    EXPECT_EQ(settingsOf(1)["dpi"], 96);
    EXPECT_EQ(pool.WorkerPids().size(), 1u);  // one worker served both
}

TEST(WorkerPool, CancelFailsTheDocumentAndFreesItsSlot)
{
    TempDir temp;
    WorkerPool pool(FakeSetup(temp.Path(), 1));
    ASSERT_EQ(pool.Submit(7, {{"path", "hang"}, {"prefix", "h-"}}, std::chrono::seconds(60)), WorkerPool::Hand::Taken);
    EXPECT_EQ(pool.Submit(8, {{"path", "a.docx"}, {"prefix", "a-"}}, std::chrono::seconds(60)),
              WorkerPool::Hand::NoneFree);
    EXPECT_FALSE(pool.Cancel(8, "timed out", "x"));
    EXPECT_TRUE(pool.Cancel(7, "timed out", "the client went away"));
    std::vector<PoolEvent> got;
    pool.Poll(std::chrono::milliseconds(0), -1, [&](const PoolEvent& e) { got.push_back(e); });
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].doc, 7);
    EXPECT_EQ(got[0].line.value("message", ""), "the client went away");
    EXPECT_EQ(pool.Busy(), 0);
    EXPECT_EQ(pool.Submit(8, {{"path", "a.docx"}, {"prefix", "a-"}}, std::chrono::seconds(60)),
              WorkerPool::Hand::Taken);
}

TEST(WorkerPool, AMissingWorkerProgramFailsEachDocument)
{
    TempDir temp;
    PoolSetup s = FakeSetup(temp.Path(), 1);
    s.workerProgram = temp.Path() + "/no-such-program";
    WorkerPool pool(s);
    auto events = RunAll(pool, {{{"path", "a.docx"}, {"prefix", "a-"}}}, 10);
    ASSERT_FALSE(events[0].empty());
    EXPECT_EQ(events[0].back().event, "failed");
    EXPECT_EQ(events[0].back().line.value("kind", ""), "engine failed");
}
