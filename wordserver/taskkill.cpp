// taskkill for Folium Converter: "taskkill -F -IM winword.exe" ends the document engines that
// the calling program (this process's parent chain) started, and nothing else: each listed
// engine is checked to still be that very engine before it is signalled, so a stale entry
// whose process id now belongs to another process (the user's own office suite, another
// converter's engine) is never hit. -F kills at once; without it the engines are asked to end.
#include "EngineList.h"

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    bool force = false;
    std::string image;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        for (char& c : a)
            c = char(tolower((unsigned char)c));
        if (a == "-f" || a == "/f")
            force = true;
        else if ((a == "-im" || a == "/im") && i + 1 < argc)
            image = argv[++i];
    }
    std::string lower = image;
    for (char& c : lower)
        c = char(tolower((unsigned char)c));
    if (lower != "winword.exe") {
        fprintf(stderr, "ERROR: The process \"%s\" not found.\n", image.c_str());
        return 128;
    }
    std::vector<int> ended = enginelist::EndOwnEngines(force ? SIGKILL : SIGTERM);
    for (int pid : ended)
        printf("SUCCESS: The process with PID %d has been terminated.\n", pid);
    if (ended.empty()) {
        fprintf(stderr, "ERROR: The process \"%s\" not found.\n", image.c_str());
        return 128;
    }
    return 0;
}
