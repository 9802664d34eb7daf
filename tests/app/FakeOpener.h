// A stand-in xdg-open first on the search path for the life of the object: it notes each
// address it is asked to open, one a line, so that a test reads what the program opened.
#pragma once

#include "TempDir.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

class FakeOpener {
public:
    FakeOpener() : m_marker(m_bin / "opened"), m_oldPath(getenv("PATH") ? getenv("PATH") : "")
    {
        m_bin.Write("xdg-open", "#!/bin/sh\necho \"$1\" >> '" + m_marker + "'\n");
        chmod((m_bin / "xdg-open").c_str(), 0755);
        setenv("PATH", (m_bin.Path() + ":" + m_oldPath).c_str(), 1);
    }
    ~FakeOpener() { setenv("PATH", m_oldPath.c_str(), 1); }
    FakeOpener(const FakeOpener&) = delete;
    FakeOpener& operator=(const FakeOpener&) = delete;

    // What was opened once `lines` addresses came (the opener runs detached), or after 5 s.
    std::string Opened(size_t lines)
    {
        for (int i = 0; i < 100; ++i) {
            std::string text = ReadWhole(m_marker);
            if ((size_t)std::count(text.begin(), text.end(), '\n') >= lines)
                return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return ReadWhole(m_marker);
    }

private:
    TempDir m_bin;
    std::string m_marker;
    std::string m_oldPath;
};
