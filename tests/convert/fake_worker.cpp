// A worker that speaks the worker protocol without an engine, for the pool's tests. What it does
// with a document is chosen by the document's path:
//   crash   ends the process without a word
//   hang    never answers
//   engine  reports an engine process (its own pid) first
// anything else: opened with 3 pages, one page line per page of the settings (the document's
// own or the setup's), then done. Each page line carries the settings it was given.
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>

using json = nlohmann::json;

int main(int argc, char** argv)
{
    if (argc != 2 || std::strcmp(argv[1], "--worker") != 0 || !getenv("FOLIUM_BATCH_WORKER"))
        return 2;
    std::string line;
    if (!std::getline(std::cin, line))
        return 3;
    const json setup = json::parse(line, nullptr, false);
    if (setup.is_discarded() || !setup.contains("setup"))
        return 3;
    while (std::getline(std::cin, line)) {
        const json j = json::parse(line, nullptr, false);
        const int doc = j.value("doc", -1);
        const std::string path = j.value("path", "");
        if (path == "crash")
            _exit(9);
        if (path == "hang") {
            for (;;)
                pause();
        }
        if (path == "engine")
            std::cout << json{{"doc", doc}, {"event", "engine"}, {"pid", getpid()}}.dump() << std::endl;
        json s = setup["setup"];
        for (const char* key : {"format", "dpi", "quality", "pages"})
            if (j.contains(key))
                s[key] = j[key];
        std::cout << json{{"doc", doc}, {"event", "opened"}, {"pages", 3}}.dump() << std::endl;
        std::cout << json{{"doc", doc}, {"event", "page"}, {"page", 1}, {"file", j.value("prefix", "") + "1"},
                          {"settings", s}}.dump()
                  << std::endl;
        std::cout << json{{"doc", doc}, {"event", "done"}}.dump() << std::endl;
    }
    return 0;
}
