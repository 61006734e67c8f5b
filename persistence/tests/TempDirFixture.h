#pragma once
// A test fixture with a fresh temporary folder per test; XDG_CONFIG_HOME and XDG_DATA_HOME point
// into it so that no test reads or writes the user's own settings or user database.

#include "foundation/ErrorReport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

class TempDirFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavrix-persistence-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        std::filesystem::create_directories(m_dir / "config");
        std::filesystem::create_directories(m_dir / "data");
        ::setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    std::filesystem::path m_dir;
};

// An error display that collects the dialogs and message boxes shown, for tests that check them.
class RecordingDisplay : public IErrorDisplay {
public:
    void ShowErrorDialog(const CErrorEntry& entry) override { dialogs.push_back(entry); }
    void ShowMessageBox(const std::string& text) override { messages.push_back(text); }
    std::vector<CErrorEntry> dialogs;
    std::vector<std::string> messages;
};
