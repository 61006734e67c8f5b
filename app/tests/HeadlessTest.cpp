// build/bin/tavrix as a user runs it: documents created with "doc create", run headless with
// their log on standard output, ended by --duration or a signal; wrong input ends cleanly.

#include "TavrixBuildPaths.h"
#include "actions/CSEA_InvokeCommand.h"
#include "persistence/TavrixDoc.h"
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

    // Starts "tavrix ARGUMENTS" as a child process, its standard output into out.
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
    // Waits (generously: the machine is shared) until the file holds the text.
    static bool WaitForText(const std::string& path, const std::string& text, int seconds = 60) {
        for (int i = 0; i < seconds * 10 && ReadFile(path).find(text) == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return ReadFile(path).find(text) != std::string::npos;
    }
    // A document with one small test camera whose picture moves in the given windows.
    std::string MotionDocument(const std::string& name, const std::string& motion) {
        const std::string document = m_folder + "/" + name + ".tvrx";
        int status = -1;
        Run("doc create '" + document + "' --camera 'test:motion?on=" + motion + "' --record-path '" +
                m_folder + "/rec'",
            &status);
        EXPECT_EQ(status, 0);
        for (const auto& [key, value] : {std::pair<const char*, const char*>{"Cameras.0.VideoSize.cx", "160"},
                                         {"Cameras.0.VideoSize.cy", "120"},
                                         {"Cameras.0.FPS", "10"},
                                         {"Cameras.0.MotionPreEventDelay", "500"},
                                         {"Cameras.0.MotionStopDelay", "500"}}) {
            Run("doc set '" + document + "' " + key + " " + value, &status);
            EXPECT_EQ(status, 0) << key;
        }
        return document;
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

// SIGHUP re-opens exactly the documents whose files changed: the others, their cameras and their
// recording go on untouched; a damaged file leaves its running document alone.
TEST_F(HeadlessTest, SighupReopensTheChangedDocumentsAndLeavesTheOthersRunning) {
    const std::string hall = MotionDocument("Hall", "500-600000");
    const std::string yard = MotionDocument("Yard", "600000-600001");
    const std::string out = m_folder + "/out.txt";
    const pid_t child = Start("--headless --activate '" + hall + "' '" + yard + "'", out);
    ASSERT_GT(child, 0);
    ASSERT_TRUE(WaitForText(out, "\tHall\tDefault\tStarted recording to '")) << ReadFile(out);
    ASSERT_TRUE(WaitForText(out, "\tYard\tDefault\tChanged camera state from 'Inactive' to 'Idle'"))
        << ReadFile(out);
    const auto count = [&](const std::string& text) {
        const std::string output = ReadFile(out);
        size_t n = 0;
        for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) {
            ++n;
        }
        return n;
    };
    const auto waitForCount = [&](const std::string& text, size_t n) {
        for (int i = 0; i < 600 && count(text) < n; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return count(text) >= n;
    };
    const std::string none = "\t\t\tSIGHUP: settings read again, 0 documents re-opened\n";

    // Nothing changed (the yard's file only touched): nothing is re-opened.
    std::filesystem::last_write_time(yard, std::filesystem::file_time_type::clock::now());
    kill(child, SIGHUP);
    ASSERT_TRUE(waitForCount(none, 1)) << ReadFile(out);

    // The yard's camera is renamed on disk: the yard is re-opened with it, the hall records on.
    int status = -1;
    Run("doc set '" + yard + "' Cameras.0.CamName Gate", &status);
    ASSERT_EQ(status, 0);
    kill(child, SIGHUP);
    ASSERT_TRUE(WaitForText(out, "\t\t\tSIGHUP: settings read again, 1 document re-opened\n"))
        << ReadFile(out);
    EXPECT_EQ(count("\tYard\t\tDocument closed\n"), 1u);
    EXPECT_EQ(count("\tYard\t\tThe document file changed: document re-opened\n"), 1u);
    EXPECT_TRUE(WaitForText(out, "\tYard\tGate\tChanged camera state from 'Inactive' to 'Idle'"))
        << ReadFile(out);
    EXPECT_EQ(count("\tHall\t\tDocument closed\n"), 0u);
    EXPECT_EQ(count("\tHall\tDefault\tFinished recording to '"), 0u) << "the hall's recording was not cut";

    // A damaged file: the running yard stays.
    std::ofstream(yard, std::ios::trunc) << "not a document";
    kill(child, SIGHUP);
    ASSERT_TRUE(waitForCount(none, 2)) << ReadFile(out);
    EXPECT_TRUE(WaitForText(out, "\tYard\t\tThe document file changed but cannot be opened"))
        << ReadFile(out);
    EXPECT_EQ(count("\tYard\t\tDocument closed\n"), 1u);

    kill(child, SIGTERM);
    int wstatus = 0;
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    ASSERT_TRUE(WIFEXITED(wstatus)) << "ended by signal " << (WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0);
    EXPECT_EQ(WEXITSTATUS(wstatus), 0);
    const std::string output = ReadFile(out);
    EXPECT_EQ(count("\tHall\tDefault\tStarted recording to '"), 1u) << output;
    EXPECT_EQ(count("\tHall\tDefault\tFinished recording to '"), 1u) << output;
    EXPECT_NE(output.find("\t\t\tTavrix stopped\n"), std::string::npos) << output;
    EXPECT_TRUE(AllEchoLines(output));
}

TEST_F(HeadlessTest, FailuresAreWrittenToStandardErrorAsWellAsEchoed) {
    // A camera that is unplugged a while after it starts.
    const std::string document = MotionDocument("Shed", "500-1000");
    int status = -1;
    Run("doc set '" + document + "' Cameras.0.VideoDeviceDN 'test:motion?on=500-1000&fail=2500'", &status);
    ASSERT_EQ(status, 0);
    const std::string errFile = m_folder + "/err.txt";
    const std::string output = Run("--headless --activate --duration 4 '" + document + "'", &status, errFile);
    EXPECT_EQ(status, 0) << output;
    const std::string errors = ReadFile(errFile);
    EXPECT_NE(output.find("\tShed\tDefault\tCapturing device lost.\n"), std::string::npos) << output;
    EXPECT_NE(errors.find("tavrix: error in Shed, camera Default: Capturing device lost.\n"),
              std::string::npos)
        << errors;
    // Ordinary entries stay on standard output only.
    EXPECT_EQ(errors.find("Document opened"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("Changed camera state"), std::string::npos) << errors;
}

TEST_F(HeadlessTest, WithoutADisplayTheDesktopSaysSoAndEndsWithoutACrashReport) {
    const std::string errors = m_folder + "/err.txt";
    const std::vector<std::string> reports{TAVRIX_BINARY_DIR "/bin/tavrix.report",
                                           m_folder + "/state/Tavrix/tavrix.report"};
    const auto sizes = [&reports] {
        std::vector<uintmax_t> result;
        for (const std::string& report : reports) {
            std::error_code missing;
            const uintmax_t size = std::filesystem::file_size(report, missing);
            result.push_back(missing ? 0 : size);
        }
        return result;
    };
    const std::vector<uintmax_t> before = sizes();
    int status = -1;
    const std::string saved = m_environment;
    m_environment = "env -u DISPLAY -u WAYLAND_DISPLAY -u WAYLAND_SOCKET -u QT_QPA_PLATFORM " + saved;
    Run("", &status, errors);
    EXPECT_EQ(status, 1);
    std::string text = ReadFile(errors);
    EXPECT_NE(text.find("no display found"), std::string::npos) << text;
    EXPECT_NE(text.find("'tavrix --headless FILE.tvrx...'"), std::string::npos) << text;

    // A display that is named but not there: Qt cannot start, the program says so and ends the same way.
    if (!std::filesystem::exists("/tmp/.X11-unix/X97")) {
        m_environment = "env -u WAYLAND_DISPLAY -u WAYLAND_SOCKET QT_QPA_PLATFORM=xcb DISPLAY=:97 " + saved;
        Run("", &status, errors);
        EXPECT_EQ(status, 1);
        text = ReadFile(errors);
        EXPECT_NE(text.find("the desktop application cannot start"), std::string::npos) << text;
        EXPECT_NE(text.find("--headless"), std::string::npos) << text;
    }
    m_environment = saved;
    EXPECT_EQ(sizes(), before) << "no crash report was written";
}

TEST_F(HeadlessTest, EveryProgramOfTheChainsIsLoggedWhenTheDocumentOpensAndRuns) {
    const std::string document = MotionDocument("Plans", "600000-600001");
    const std::string marker = m_folder + "/ran";
    {
        CTavrixDoc doc;
        ASSERT_TRUE(doc.OnOpenDocument(document));
        doc.Edit([&marker](CTavrixDocData& data) {
            CSEventActionChain* chain = data.AddChain();
            chain->SetName("Alarm");
            auto action = std::make_unique<CSEA_InvokeCommand>();
            action->SetStringProp("Command", "/usr/bin/touch");
            action->SetStringProp("Parameters", "'" + marker + "'");
            chain->AddAction(std::move(action));
            data.m_cameras.Find(0)->SetChainId(1, chain->GetId());
        });
        ASSERT_TRUE(doc.OnSaveDocument());
    }
    int status = -1;
    const std::string output = Run("--headless --activate --duration 3 '" + document + "'", &status);
    EXPECT_EQ(status, 0);
    const size_t logged =
        output.find("\tPlans\tDefault\tEvent 'Activate' starts the program '/usr/bin/touch' "
                    "with the parameters ''" +
                    marker + "'' (chain 'Alarm')\n");
    ASSERT_NE(logged, std::string::npos) << output;
    EXPECT_LT(logged, output.find("\tPlans\t\tDocument opened\n"));
    // The command line is the consent: the program runs.
    for (int i = 0; i < 100 && !std::filesystem::exists(marker); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(std::filesystem::exists(marker)) << output;
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
    // Asked for, the usage goes to standard output and the command succeeds.
    for (const char* help : {"--help", "-h"}) {
        const std::string usage = Run(help, &status, errors);
        EXPECT_EQ(status, 0) << help;
        EXPECT_EQ(usage.rfind("Usage: tavrix", 0), 0u) << usage;
        EXPECT_NE(usage.find("tavrix doc set FILE KEY VALUE\n"), std::string::npos) << usage;
    }
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
