// build/bin/tavrix as a user runs it: documents created with "doc create", run headless with
// their log on standard output, ended by --duration or a signal; wrong input ends cleanly.

#include "TavrixBuildPaths.h"
#include "persistence/sqlite3x.h"
#include "recording/tests/RecTestHost.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace {

constexpr const char* kTavrix = TAVRIX_BINARY_DIR "/bin/tavrix";

class HeadlessTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/tavrix-headless-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        m_folder = folder;
        // Private settings, user database and trace folders; a private GStreamer registry.
        m_environment = "XDG_CONFIG_HOME='" + m_folder + "/config' XDG_DATA_HOME='" + m_folder +
                        "/data' XDG_STATE_HOME='" + m_folder +
                        "/state' GST_REGISTRY='" TAVRIX_BINARY_DIR "/gst-registry-tests.bin' ";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    std::string Run(const std::string& arguments, int* exitCode, const std::string& errFile = "/dev/null") {
        return rectest::RunCommand(
            m_environment + kTavrix + std::string(" ") + arguments + " 2>'" + errFile + "'", exitCode);
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    // Lines of four tab-separated fields, the first a local time.
    static ::testing::AssertionResult AllEchoLines(const std::string& output) {
        std::istringstream lines(output);
        std::string line;
        const std::regex pattern(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\t[^\t]*\t[^\t]*\t[^\t]+)");
        while (std::getline(lines, line)) {
            if (!std::regex_match(line, pattern)) {
                return ::testing::AssertionFailure() << "not an echo line: " << line;
            }
        }
        return ::testing::AssertionSuccess();
    }

    std::string m_folder;
    std::string m_environment;
};

TEST_F(HeadlessTest, ADocumentRunsForItsDurationAndRecordsItsMotion) {
    const std::string document = m_folder + "/Porch.tvrx";
    int status = -1;
    Run("doc create '" + document + "' --camera 'test:motion?on=1000-2000' --record-path '" + m_folder +
            "/rec'",
        &status);
    ASSERT_EQ(status, 0);
    for (const auto& [key, value] : {std::pair<const char*, const char*>{"Cameras.0.VideoSize.cx", "160"},
                                     {"Cameras.0.VideoSize.cy", "120"},
                                     {"Cameras.0.FPS", "10"},
                                     {"Cameras.0.MotionPreEventDelay", "500"},
                                     {"Cameras.0.MotionStopDelay", "500"}}) {
        Run("doc set '" + document + "' " + key + " " + value, &status);
        ASSERT_EQ(status, 0) << key;
    }
    const std::string output =
        Run("--headless --activate --duration 4 --stats '" + document + "'", &status, m_folder + "/err.txt");
    EXPECT_EQ(status, 0) << output << ReadFile(m_folder + "/err.txt");
    EXPECT_TRUE(AllEchoLines(output)) << output;
    for (const char* text :
         {"\t\t\tTavrix started\n", "\tPorch\t\tDocument opened\n",
          "\tPorch\tDefault\tChanged camera state from '...' to 'Inactive'\n",
          "\tPorch\tDefault\tChanged camera state from 'Inactive' to 'Idle'\n",
          "\tPorch\tDefault\tChanged camera state from 'Idle' to 'Recording'\n",
          "\tPorch\tDefault\tStarted recording to '", "\tPorch\tDefault\tFinished recording to '",
          "\tPorch\t\tDocument closed\n", "\t\t\tTavrix stopped\n"}) {
        EXPECT_NE(output.find(text), std::string::npos) << text << " in\n" << output;
    }
    EXPECT_LT(output.find("Document closed"), output.find("Tavrix stopped"));
    const std::string errors = ReadFile(m_folder + "/err.txt");
    EXPECT_NE(errors.find("stats\tPorch\tDefault\tframes="), std::string::npos) << errors;
    EXPECT_NE(errors.find("process\twall_s="), std::string::npos);
    EXPECT_EQ(errors.find("tavrix: error"), std::string::npos) << errors;

    const auto recordings = std::filesystem::directory_iterator(m_folder + "/rec");
    int files = 0;
    for (const auto& entry : recordings) {
        ++files;
        const rectest::CProbe probe = rectest::Probe(entry.path().string());
        EXPECT_EQ(probe.formatName, "mov,mp4,m4a,3gp,3g2,mj2") << "a new camera records MP4";
        EXPECT_EQ(probe.codecName, "h264");
        EXPECT_GT(probe.frames, 10);
    }
    EXPECT_EQ(files, 1);

    // The log is kept in the user database: the next run adds its entries to it.
    const std::string database = m_folder + "/data/Tavrix/Tavrix.db";
    const auto rows = [&database] {
        sqlite3x::sqlite3_connection connection(database);
        return connection.executeint("select count(*) from t_log_entry;");
    };
    const int first = rows();
    EXPECT_EQ(first, std::count(output.begin(), output.end(), '\n'));
    const std::string again = Run("--headless --duration 0.5 '" + document + "'", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(rows(), first + std::count(again.begin(), again.end(), '\n'));
    // The user's unattended setting is not changed by a headless run.
    EXPECT_NE(ReadFile(m_folder + "/config/Kestrova/Tavrix.conf").find("UnattendedMode=0"),
              std::string::npos);
}

TEST_F(HeadlessTest, SigtermEndsTheRunCleanly) {
    const std::string document = m_folder + "/Yard.tvrx";
    int status = -1;
    Run("doc create '" + document + "' --camera test:smpte --record-path '" + m_folder + "'", &status);
    ASSERT_EQ(status, 0);
    const std::string out = m_folder + "/out.txt";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string command =
            m_environment + "exec " + kTavrix + " --headless '" + document + "' >'" + out + "' 2>/dev/null";
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Until the camera is up.
    for (int i = 0; i < 100 && ReadFile(out).find("to 'Inactive'") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_NE(ReadFile(out).find("to 'Inactive'"), std::string::npos) << ReadFile(out);
    kill(child, SIGTERM);
    int wstatus = 0;
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    EXPECT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 0);
    const std::string output = ReadFile(out);
    EXPECT_NE(output.find("\tYard\t\tDocument closed\n"), std::string::npos) << output;
    EXPECT_NE(output.find("\t\t\tTavrix stopped\n"), std::string::npos) << output;
}

TEST_F(HeadlessTest, BadDocumentsAndCommandLinesEndWithClearErrors) {
    int status = -1;
    const std::string errors = m_folder + "/err.txt";
    std::ofstream(m_folder + "/broken.tvrx") << "not a document at all, only some text of some length";
    const std::string output = Run("--headless --duration 1 '" + m_folder + "/broken.tvrx'", &status, errors);
    EXPECT_EQ(status, 1);
    EXPECT_NE(ReadFile(errors).find("could not be opened"), std::string::npos) << ReadFile(errors);
    EXPECT_NE(output.find("Tavrix stopped"), std::string::npos) << "the shutdown still runs";

    Run("--headless --duration 1 '" + m_folder + "/missing.tvrx'", &status, errors);
    EXPECT_EQ(status, 1);
    Run("--headless", &status, errors);
    EXPECT_EQ(status, 2);
    EXPECT_NE(ReadFile(errors).find("Usage: tavrix"), std::string::npos);
    Run("doc show '" + m_folder + "/broken.tvrx'", &status, errors);
    EXPECT_EQ(status, 1);
    EXPECT_NE(ReadFile(errors).find("is not a Tavrix document"), std::string::npos);

    // A camera whose device does not parse: reported on standard error and in the log, the run goes on.
    const std::string document = m_folder + "/Cellar.tvrx";
    Run("doc create '" + document + "'", &status);
    ASSERT_EQ(status, 0);
    Run("doc set '" + document + "' Cameras.0.VideoDeviceDN 'usb:/dev/video0'", &status);
    ASSERT_EQ(status, 0);
    const std::string run = Run("--headless --activate --duration 1 '" + document + "'", &status, errors);
    EXPECT_EQ(status, 0);
    EXPECT_NE(run.find("\tCellar\tDefault\tUnable to parse device name of capture device."),
              std::string::npos)
        << run;
    EXPECT_NE(run.find("\tCellar\tDefault\tChanged camera state from '...' to 'Unavailable'"),
              std::string::npos);
    EXPECT_NE(ReadFile(errors).find("tavrix: error in Cellar, camera Default: Unable to parse device name"),
              std::string::npos)
        << ReadFile(errors);
}

} // namespace
