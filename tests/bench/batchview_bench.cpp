// The documents of a folder through the batch view, driven as its tests drive it (Convert, the
// run to its end), against pagesnap-batch -j 2 with the same settings (PNG, 96 dpi, two
// documents at once), in turns: the seconds of each, their ratio pair by pair, and whether the
// pictures are the same files. Prints figures; run by hand:
//   batchview_bench <folder> [pairs, default 3]
#include "QtApp.h"
#include "TempDir.h"
#include "bench/ConvertBench.h"
#include "app/OptionSettings.h"
#include "platform/internal/ui.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

void Renew(const std::string& dir)
{
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
}

// The pictures of a folder, name to bytes (hidden files left out).
std::map<std::string, std::string> Pictures(const std::string& dir)
{
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (e.is_regular_file() && name[0] != '.')
            out[name] = ReadWhole(e.path().string());
    }
    return out;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: batchview_bench <folder> [pairs]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int pairs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    // The folder's Word documents in name order, as pagesnap-batch takes a folder.
    std::vector<std::string> paths;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        std::string ext = e.path().extension().string();
        for (char& c : ext)
            c = char(tolower((unsigned char)c));
        if (e.is_regular_file() && (ext == ".doc" || ext == ".docx"))
            paths.push_back(e.path().string());
    }
    std::sort(paths.begin(), paths.end());

    TestApp();
    CoInitialize(nullptr);
    platform::ui::SetMessageBoxHook([](const platform::ui::MessageBoxRequest&) { return IDCANCEL; });
    TempDir view, batch, temp;
    TfmMain* w = new TfmMain;
    ConvertBench bench(w);
    snprintf(OptionSettings.OutputPath, MAX_PATH, "%s", view.Path().c_str());
    snprintf(OptionSettings.TempPath, MAX_PATH, "%s", temp.Path().c_str());
    OptionSettings.ImageType = 3;
    OptionSettings.Resolution = 96;
    OptionSettings.DocumentsAtOnce = 2;
    bench.AddFiles(paths);
    if (const char* szWorker = getenv("BATCHVIEW_BENCH_WORKER"))  // e.g. pagesnap-batch, to compare workers
        bench.SetWorker(szWorker);

    char szFolder[MAX_PATH];
    GetModuleFolder(nullptr, szFolder);
    const std::string cmd = std::string("'") + szFolder + "pagesnap-batch' -j 2 -f png -r 96 -o '" + batch.Path() +
                            "' '" + folder + "' >/dev/null 2>&1";
    auto runView = [&] {
        Renew(view.Path());
        bench.SelectAll();
        const double t = Now();
        bench.Convert();
        const double seconds = Now() - t - 0.2;  // the full progress bar stays up 200 ms at the end
        // Its workers end their engines after the run, on their own: not while the next is timed.
        bench.EndWorkers();
        return seconds;
    };
    auto runBatch = [&] {
        Renew(batch.Path());
        const double t = Now();
        const int rc = system(cmd.c_str());
        (void)rc;  // 1 when a document failed, as some of a corpus do
        return Now() - t;
    };
    printf("%zu documents of %s; PNG, 96 dpi, 2 at once; a warm-up pair first\n", paths.size(), folder.c_str());
    runView();
    runBatch();
    std::vector<double> tv, tb, ratio;
    for (int i = 0; i < pairs; ++i) {
        const double a = runView();
        const double b = runBatch();
        tv.push_back(a);
        tb.push_back(b);
        ratio.push_back(a / b);
        printf("pair %d: batch view %.2f s, pagesnap-batch %.2f s, ratio %.3f\n", i + 1, a, b, a / b);
        fflush(stdout);
    }
    printf("median: batch view %.2f s, pagesnap-batch %.2f s, ratio %.3f (min %.3f, max %.3f)\n", Median(tv),
           Median(tb), Median(ratio), *std::min_element(ratio.begin(), ratio.end()),
           *std::max_element(ratio.begin(), ratio.end()));

    // The last pair's pictures: by name, then by content for names the two runs give differently
    // (the view keeps a base that differs from an earlier one's only in letter case).
    const auto pv = Pictures(view.Path()), pb = Pictures(batch.Path());
    int same = 0, differ = 0;
    std::multiset<std::string> onlyView, onlyBatch;
    for (const auto& [name, bytes] : pb) {
        const auto it = pv.find(name);
        if (it == pv.end())
            onlyBatch.insert(bytes);
        else if (it->second == bytes)
            ++same;
        else
            ++differ, printf("  different file: %s\n", name.c_str());
    }
    for (const auto& [name, bytes] : pv)
        if (!pb.count(name))
            onlyView.insert(bytes);
    printf("pictures: pagesnap-batch %zu, batch view %zu; same name and bytes %d, same name other bytes %d, "
           "named differently %zu (%s)\n",
           pb.size(), pv.size(), same, differ, onlyBatch.size(),
           onlyBatch == onlyView ? "the same bytes under the other names" : "NOT the same bytes");
    bench.StopEngine();
    delete w;
    platform::ui::SetMessageBoxHook(nullptr);
    return 0;
}
