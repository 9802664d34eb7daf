// The fixture of the Word-layer tests: COM initialised, the scripted server installed, a
// temporary folder as TempPath, and no server object left alive at the end.
#pragma once

#include "ScriptedWord.h"
#include "TempDir.h"

#include "app/OptionSettings.h"

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
        std::snprintf(OptionSettings.TempPath, sizeof(OptionSettings.TempPath), "%s", m_temp.c_str());
    }
    void TearDown() override
    {
        scripted::Uninstall();
        EXPECT_EQ(scripted::LiveObjects(), 0) << "server objects still referenced";
        CoUninitialize();
    }

    // A document file in the test folder.
    std::string Doc(const std::string& name, const std::string& content) { return m_dir.Write(name, content); }
    std::string TempFile(const std::string& name) const { return m_temp + name; }

    TempDir m_dir;
    std::string m_temp;
};
