// The batch view's worker for its tests: the conversion core's own worker over the scripted
// word processor instead of the engine, so that pictures, names and failures go through the
// real worker code in a process of its own. FOLIUM_TEST_SCRIPT tells it what to do wrong (see
// scripted::ScriptFromText: "pageView dieAtPrintDraw=3 hangOn=slow crashOn=lost"); at its end
// it appends "loads <n>" to FOLIUM_TEST_LOG, when set: how often documents were loaded.
#include "ScriptedWord.h"
#include "convert/Worker.h"

#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 2 || std::strcmp(argv[1], "--worker") != 0 || !getenv("FOLIUM_BATCH_WORKER"))
        return 2;
    CoInitialize(nullptr);
    scripted::Install();
    const char* szScript = getenv("FOLIUM_TEST_SCRIPT");
    if (szScript && !scripted::ScriptFromText(szScript, &scripted::TheScript())) {
        std::fprintf(stderr, "scripted_worker: cannot read the script '%s'\n", szScript);
        return 2;
    }
    const int rc = convert::WorkerMain();
    if (const char* szLog = getenv("FOLIUM_TEST_LOG")) {
        if (FILE* f = std::fopen(szLog, "a")) {
            std::fprintf(f, "loads %zu\n", scripted::CallsOf("Load").size());
            std::fclose(f);
        }
    }
    return rc;
}
