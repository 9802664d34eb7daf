// Not a test: a second program with an engine of its own, for the tests that check that one
// program's clean-up leaves another's engine alone. Opens the document given, prints the
// engine's pid, and holds it until its input closes. Usage: wordserver_engine_holder <doc>
#include "WordServerTest.h"

#include <cstdio>
#include <unistd.h>

using namespace wstest;

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    int pid = 0;
    {
        Word word;
        IDispatch* doc = word.docs ? word.Open(argv[1]) : nullptr;
        std::vector<int> pids = ListedLivePids();
        if (doc && pids.size() == 1)
            pid = pids[0];
        printf("%d\n", pid);
        fflush(stdout);
        char c;
        while (read(0, &c, 1) > 0) {
        }
        if (doc)
            doc->Release();
    }
    return pid ? 0 : 1;
}
