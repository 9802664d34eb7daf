#include <windows.h>

#include <gtest/gtest.h>

#include "TempDir.h"

namespace {

TEST(Modules, DllNameIsFoundBesideTheProgram)
{
    for (const char* name : {"TestModule.dll", "TESTMODULE.DLL", "TestModule"}) {
        SCOPED_TRACE(name);
        HMODULE h = LoadLibraryA(name);
        if (std::string(name) == "TESTMODULE.DLL") {
            EXPECT_EQ(nullptr, h);  // file names on this platform keep their case
            continue;
        }
        ASSERT_NE(nullptr, h);
        auto fn = reinterpret_cast<int (*)()>(GetProcAddress(h, "TestModuleAnswer"));
        ASSERT_NE(nullptr, fn);
        EXPECT_EQ(42, fn());
        EXPECT_EQ(nullptr, GetProcAddress(h, "NoSuchExport"));
        EXPECT_EQ((DWORD)ERROR_PROC_NOT_FOUND, GetLastError());
        char path[MAX_PATH];
        ASSERT_GT(GetModuleFileNameA(h, path, MAX_PATH), 0u);
        EXPECT_NE(nullptr, strstr(path, "/libTestModule.so"));
        EXPECT_TRUE(FreeLibrary(h));
    }
    // A system library is never taken from the search path.
    EXPECT_EQ(nullptr, LoadLibraryA("c.dll"));
    EXPECT_EQ((DWORD)ERROR_MOD_NOT_FOUND, GetLastError());
}

TEST(Modules, ProgramFileNameAndShortBuffers)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(n, strlen(path));
    EXPECT_NE(nullptr, strstr(path, "platform_kernel32_test"));
    char small[8];
    memset(small, 0x7f, sizeof small);
    EXPECT_EQ(5u, GetModuleFileNameA(nullptr, small, 5));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(4u, strlen(small));
    EXPECT_EQ(0x7f, small[5]);
}

}  // namespace
