// The fixture of the Word-layer tests: COM initialised, the scripted server installed, a
// temporary folder as the Word layer's temporary folder, and no server object left alive at the end.
#pragma once

#include "ScriptedWord.h"
#include "TempDir.h"

#include "word/CxWordUtil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
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
    std::string TempFile(const std::string& name) const { return m_temp + name; }

    TempDir m_dir;
    std::string m_temp;
    char m_tempFolder[MAX_PATH] = {}; // the temporary folder the Word layer reads
};
