// build/bin/tavrix and the recordings catalogue as a user meets them: a headless run catalogues
// its recording while it is written; killed with SIGKILL mid-recording, the next start finishes
// the row from what the file holds and logs it; "recordings list", "prune" and "import" work on
// the same user database.

#include "TavrixBuildPaths.h"
#include "library/RecordingCatalogue.h"
#include "library/RecordingLibrary.h"
#include "library/tests/LibraryTestSupport.h"
#include "persistence/NotificationLog.h"
#include "persistence/sqlite3x.h"
#include "recording/tests/GstTestSupport.h"
#include "recording/tests/RecTestHost.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

constexpr const char* kTavrix = TAVRIX_BINARY_DIR "/bin/tavrix";
namespace fs = std::filesystem;

class LibraryCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        gsttest::StartGStreamer();
        m_environment = "XDG_CONFIG_HOME='" + m_folder.Path() + "/config' XDG_DATA_HOME='" + m_folder.Path() +
                        "/data' XDG_STATE_HOME='" + m_folder.Path() +
                        "/state' GST_REGISTRY='" TAVRIX_BINARY_DIR "/gst-registry-tests.bin' ";
        m_userDb = m_folder.Path() + "/data/Tavrix/Tavrix.db";
    }
    std::string Run(const std::string& arguments, int* status) {
        return rectest::RunCommand(m_environment + kTavrix + std::string(" ") + arguments + " 2>&1", status);
    }
    pid_t Start(const std::string& arguments, const std::string& out) {
        const pid_t child = fork();
        if (child == 0) {
            const std::string command =
                m_environment + "exec " + kTavrix + " " + arguments + " >'" + out + "' 2>/dev/null";
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return child;
    }
    std::string Document(const std::string& motion) {
        const std::string document = m_folder.Path() + "/Porch.tvrx";
        int status = -1;
        Run("doc create '" + document + "' --camera 'test:motion?on=" + motion + "' --record-path '" +
                m_folder.Path() + "/rec'",
            &status);
        EXPECT_EQ(status, 0);
        for (const auto& [key, value] : {std::pair<const char*, const char*>{"Cameras.0.VideoSize.cx", "160"},
                                         {"Cameras.0.VideoSize.cy", "120"},
                                         {"Cameras.0.FPS", "10"},
                                         {"Cameras.0.MotionPreEventDelay", "500"}}) {
            Run("doc set '" + document + "' " + key + " " + value, &status);
            EXPECT_EQ(status, 0) << key;
        }
        return document;
    }
    // Waits (generously: the machine is shared) until the condition holds.
    static bool WaitFor(const std::function<bool()>& condition, int seconds = 90) {
        for (int i = 0; i < seconds * 10; ++i) {
            if (condition()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return condition();
    }
    // The only catalogued recording; none while there are none or several, or the database is
    // busy.
    std::optional<CRecording> OnlyRow() {
        std::error_code error;
        if (!fs::exists(m_userDb, error)) {
            return std::nullopt;
        }
        try {
            CRecordingCatalogue catalogue;
            catalogue.Open(m_userDb);
            std::vector<CRecording> rows = catalogue.List({});
            if (rows.size() == 1) {
                return rows.front();
            }
        } catch (...) {
            // Busy while the child creates the tables: asked again.
        }
        return std::nullopt;
    }

    libtest::CTempFolder m_folder;
    std::string m_environment;
    std::string m_userDb;
};

TEST_F(LibraryCommandTest, ARecordingCutBySigkillIsFinishedAtTheNextStartAndTheCommandsServeIt) {
    const std::string document = Document("500-600000");
    const pid_t child = Start("--headless --activate '" + document + "'", m_folder.Path() + "/out.txt");
    // Killed once the row is there and the file has a few seconds in it.
    ASSERT_TRUE(WaitFor([&] {
        const std::optional<CRecording> row = OnlyRow();
        std::error_code error;
        return row && row->state == ERecordingState::Writing && fs::file_size(row->filePath, error) > 20000 &&
               !error;
    })) << "no recording catalogued while written";
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    const CRecording cut = *OnlyRow();
    EXPECT_EQ(cut.state, ERecordingState::Writing);
    EXPECT_EQ(cut.writerPid, child);

    // The next start reconciles.
    std::mutex lock;
    std::vector<std::string> texts;
    const int listener = CNotificationLog::Instance().AddListener([&](const CLogEntry& entry) {
        std::lock_guard<std::mutex> guard(lock);
        texts.push_back(entry.text);
    });
    {
        CRecordingLibrary::COptions options;
        options.userDbPath = m_userDb;
        CRecordingLibrary library(options);
        ASSERT_TRUE(library.Start());
        library.WaitIdle();
    }
    CNotificationLog::Instance().RemoveListener(listener);
    const CRecording finished = *OnlyRow();
    EXPECT_EQ(finished.state, ERecordingState::Finished);
    EXPECT_EQ(finished.sizeBytes, static_cast<int64_t>(fs::file_size(cut.filePath)));
    EXPECT_GT(finished.durationMs, 1000);
    EXPECT_GT(finished.endUtcMs, finished.startUtcMs);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("Recording '" + cut.filePath + "' was left unfinished by an earlier run"),
              std::string::npos)
        << texts[0];

    // list
    std::string out = Run("recordings list", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find(finished.startLocal + "\tDefault\t0:00:"), std::string::npos) << out;
    EXPECT_NE(out.find("\t" + cut.filePath + "\n"), std::string::npos) << out;
    out = Run("recordings list --json --camera Default --since 2000-01-01 --document '" + document + "'",
              &status);
    EXPECT_EQ(status, 0) << out;
    const nlohmann::json json = nlohmann::json::parse(out);
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json[0]["path"], cut.filePath);
    EXPECT_EQ(json[0]["container"], "MP4");
    EXPECT_EQ(json[0]["state"], "finished");
    EXPECT_EQ(Run("recordings list --camera Nobody", &status), "");
    Run("recordings list --since yesterday", &status);
    EXPECT_EQ(status, 2);

    // prune: with a retention of 1 day the recording, made 2 days old, goes.
    Run("doc set '" + document + "' Global.RetentionDays 1", &status);
    ASSERT_EQ(status, 0);
    {
        CRecordingCatalogue catalogue;
        catalogue.Open(m_userDb);
        CRecording old = *catalogue.Get(finished.id);
        old.startUtcMs -= 2 * 86400000LL;
        old.startLocal.clear();
        catalogue.Update(old);
    }
    libtest::WriteFile(m_folder.Path() + "/rec/foreign.mp4", 1000);
    const std::string removed = "recording '" + cut.filePath + "' (older than 1 days)";
    out = Run("recordings prune '" + document + "' --dry-run", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("Would remove " + removed), std::string::npos) << out;
    EXPECT_TRUE(fs::exists(cut.filePath));
    out = Run("recordings prune '" + document + "'", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("Removed " + removed), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(cut.filePath));
    EXPECT_TRUE(fs::exists(m_folder.Path() + "/rec/foreign.mp4")) << "files the catalogue does not know stay";
    EXPECT_FALSE(OnlyRow());
    sqlite3x::sqlite3_connection userDb(m_userDb);
    sqlite3x::sqlite3_command logged(userDb, "select count(*) from t_log_entry where log_info = ?;");
    logged.bind(1, "Removed " + removed);
    EXPECT_EQ(logged.executeint(), 1) << "the removal is in the notification log of the user database";

    // import: a file named as the camera's template names its recordings.
    fs::copy_file(TAVRIX_SOURCE_DIR "/README.md", m_folder.Path() + "/rec/Default_01022026_030405.avi");
    out = Run("recordings import '" + document + "'", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Imported 1 recording(s), 0 already catalogued"), std::string::npos) << out;
    const std::optional<CRecording> imported = OnlyRow();
    ASSERT_TRUE(imported);
    EXPECT_EQ(imported->startLocal, "2026-02-01 03:04:05");
    EXPECT_EQ(imported->cameraName, "Default");
    EXPECT_EQ(imported->container, "AVI");
    out = Run("recordings import '" + document + "'", &status);
    EXPECT_NE(out.find("Imported 0 recording(s), 1 already catalogued"), std::string::npos) << out;
    Run("recordings import '" + m_folder.Path() + "/none.tvrx'", &status);
    EXPECT_EQ(status, 1);
    Run("recordings", &status);
    EXPECT_EQ(status, 2);
}

} // namespace
