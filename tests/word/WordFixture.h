// The fixture of the Word-layer tests: COM initialised, the scripted server installed, a
// temporary folder as the Word layer's temporary folder, and no server object left alive at the end.
#pragma once

#include "ScriptedWord.h"
#include "TempDir.h"

#include "word/CxWordUtil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

class WordFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        scripted::Install();
        m_temp = m_dir / "temp/";
        ::mkdir(m_temp.c_str(), 0755);
        std::snprintf(m_tempFolder, sizeof(m_tempFolder), "%s", m_temp.c_str());
        CxWordUtil::SetTempFolder(m_tempFolder, sizeof(m_tempFolder));
    }
    void TearDown() override
    {
        scripted::Uninstall();
        EXPECT_EQ(scripted::LiveObjects(), 0) << "server objects still referenced";
        CoUninitialize();
        CxWordUtil::SetTempFolder(nullptr, 0);
    }

    // A document file in the test folder.
    std::string Doc(const std::string& name, const std::string& content) { return m_dir.Write(name, content); }
    // A temporary document of the latest document that made one of that name: they go into
    // the run's private folder inside TempPath, one folder per document ("folium-*/d<n>/").
    // Empty when there is none.
    std::string TempFile(const std::string& name) const
    {
        std::string found;
        long best = -1;
        std::error_code ec;
        for (const auto& run : std::filesystem::directory_iterator(m_temp, ec)) {
            if (run.path().filename().string().rfind("folium-", 0) != 0)
                continue;
            for (const auto& doc : std::filesystem::directory_iterator(run.path(), ec)) {
                const std::string d = doc.path().filename().string();
                if (d.size() < 2 || d[0] != 'd' || access((doc.path() / name).c_str(), F_OK) != 0)
                    continue;
                const long n = std::strtol(d.c_str() + 1, nullptr, 10);
                if (n > best) {
                    best = n;
                    found = (doc.path() / name).string();
                }
            }
        }
        return found;
    }

    TempDir m_dir;
    std::string m_temp;
    char m_tempFolder[MAX_PATH] = {}; // the temporary folder the Word layer reads
};
