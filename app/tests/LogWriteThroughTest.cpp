// build/bin/tavrix killed while it runs: the notification log of the run must already be in the
// user database, not only after a clean exit.

#include "TavrixBuildPaths.h"
#include "persistence/sqlite3x.h"
#include "recording/tests/RecTestHost.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* kTavrix = TAVRIX_BINARY_DIR "/bin/tavrix";

class LogWriteThroughTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/tavrix-logkill-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        m_folder = folder;
        m_environment = "XDG_CONFIG_HOME='" + m_folder + "/config' XDG_DATA_HOME='" + m_folder +
                        "/data' XDG_STATE_HOME='" + m_folder +
                        "/state' GST_REGISTRY='" TAVRIX_BINARY_DIR "/gst-registry-tests.bin' ";
        m_database = m_folder + "/data/Tavrix/Tavrix.db";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    // The texts of t_log_entry in load order, read as another program would; empty while the
    // database does not exist yet or is busy.
    std::vector<std::string> StoredTexts() const {
        std::vector<std::string> texts;
        try {
            sqlite3x::sqlite3_connection db;
            db.open(m_database, sqlite3x::open_mode::readonly);
            db.setbusytimeout(2000);
            sqlite3x::sqlite3_command select(db, "select log_info from t_log_entry order by log_date, rowid");
            auto reader = select.executereader();
            while (reader.read()) {
                texts.push_back(reader.getstring(0));
            }
        } catch (const sqlite3x::database_error&) {
            texts.clear();
        }
        return texts;
    }
    static int Count(const std::vector<std::string>& texts, const std::string& text) {
        return static_cast<int>(std::count(texts.begin(), texts.end(), text));
    }

    std::string m_folder;
    std::string m_environment;
    std::string m_database;
};

} // namespace

TEST_F(LogWriteThroughTest, ARunKilledWithSigkillLeavesItsLogInTheUserDatabase) {
    const std::string document = m_folder + "/Shed.tvrx";
    int status = -1;
    rectest::RunCommand(m_environment + kTavrix + " doc create '" + document +
                            "' --camera test:smpte --record-path '" + m_folder + "' >/dev/null 2>&1",
                        &status);
    ASSERT_EQ(status, 0);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string command =
            m_environment + "exec " + kTavrix + " --headless --activate '" + document + "' >/dev/null 2>&1";
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // The entries arrive while the program runs (generous: the machine is shared).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    std::vector<std::string> texts;
    while (std::chrono::steady_clock::now() < deadline) {
        texts = StoredTexts();
        if (Count(texts, "Changed camera state from 'Inactive' to 'Idle'") > 0) {
            break;
        }
        int wstatus = 0;
        if (waitpid(child, &wstatus, WNOHANG) == child) {
            FAIL() << "tavrix ended by itself";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    kill(child, SIGKILL);
    int wstatus = 0;
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    ASSERT_TRUE(WIFSIGNALED(wstatus));

    texts = StoredTexts();
    EXPECT_EQ(Count(texts, "Tavrix started"), 1);
    EXPECT_EQ(Count(texts, "Document opened"), 1);
    EXPECT_EQ(Count(texts, "Changed camera state from 'Inactive' to 'Idle'"), 1);
    EXPECT_EQ(Count(texts, "Tavrix stopped"), 0) << "no clean exit happened";

    // The next run loads them and its clean exit keeps them, with its own entries after them.
    rectest::RunCommand(
        m_environment + kTavrix + " --headless --duration 0.5 '" + document + "' >/dev/null 2>&1", &status);
    EXPECT_EQ(status, 0);
    const std::vector<std::string> after = StoredTexts();
    ASSERT_GE(after.size(), texts.size());
    EXPECT_TRUE(std::equal(texts.begin(), texts.end(), after.begin()));
    EXPECT_EQ(after.back(), "Tavrix stopped");
    EXPECT_EQ(Count(after, "Tavrix started"), 2);
}
