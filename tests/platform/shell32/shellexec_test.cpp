#include <shellapi.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>
#include <thread>

#include "TempDir.h"

namespace {

// Puts a stand-in xdg-open first on PATH that records its argument, then sleeps: the caller
// must come back at once all the same.
TEST(Shell, OpenHandsTheTargetToTheDesktopOpenerWithoutWaiting)
{
    TempDir dir;
    std::string log = dir / "opened.txt";
    dir.Write("xdg-open", "#!/bin/sh\nexec >/dev/null 2>&1 </dev/null\nprintf '%s' \"$1\" > '" + log + "'\nsleep 5\n");
    chmod((dir / "xdg-open").c_str(), 0755);
    std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (dir.Path() + ":" + oldPath).c_str(), 1);

    auto start = std::chrono::steady_clock::now();
    HINSTANCE h = ShellExecuteA(nullptr, "open", "file:///tmp/out folder", "", "", SW_SHOW);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GT(reinterpret_cast<INT_PTR>(h), 32);
    EXPECT_LT(elapsed, std::chrono::seconds(2));
    for (int i = 0; i < 100 && ReadWhole(log).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ("file:///tmp/out folder", ReadWhole(log));

    EXPECT_LE(reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "print", "x", "", "", SW_SHOW)), 32);
    EXPECT_LE(reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", "", "", "", SW_SHOW)), 32);
    setenv("PATH", "/nonexistent", 1);
    EXPECT_LE(reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", "x", "", "", SW_SHOW)), 32);
    setenv("PATH", oldPath.c_str(), 1);
}

}  // namespace
