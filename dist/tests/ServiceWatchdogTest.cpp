// The headless program as systemd runs it with Type=notify and WatchdogSec: a child tavrix whose
// NOTIFY_SOCKET is a socket of the test. It is ready after opening its document, feeds the watchdog
// while its camera delivers frames, stops feeding while the camera's streaming thread is wedged (the
// test stops that one thread with ptrace, as a hung driver call would hold it) and feeds again once
// the thread goes on; SIGTERM ends it with "STOPPING=1".

#include "TavrixBuildPaths.h"
#include "app/tests/NotifySocket.h"
#include "dist/tests/DistTestSupport.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

using namespace std::chrono_literals;
using disttest::Quote;
using disttest::ReadFile;

class ServiceWatchdogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_socket.IsOpen());
        ASSERT_FALSE(m_folder.Path().empty());
    }
    void TearDown() override {
        if (m_child > 0) {
            ::kill(m_child, SIGKILL);
            ::waitpid(m_child, nullptr, 0);
        }
    }
    // A document of one small, quick camera watching `device`.
    bool CreateDocument(const std::string& document, const std::string& device) {
        int status = -1;
        rectest::RunCommand(m_environment + Quote(m_tavrix) + " doc create " + Quote(document) +
                                " --camera " + Quote(device) + " --record-path " + Quote(m_folder.Path()),
                            &status);
        disttest::MakeSmallAndQuick(
            [this](const std::string& arguments, int* code) {
                return rectest::RunCommand(m_environment + Quote(m_tavrix) + " " + arguments, code);
            },
            document);
        return status == 0;
    }
    // The headless program as systemd starts a Type=notify service with WatchdogSec=3.
    void StartService(const std::string& document, const std::string& output, const std::string& errors) {
        m_child = ::fork();
        ASSERT_GE(m_child, 0);
        if (m_child == 0) {
            const std::string command = m_environment + "NOTIFY_SOCKET=" + Quote(m_socket.GetPath()) +
                                        " WATCHDOG_USEC=3000000 exec " + Quote(m_tavrix) +
                                        " --headless --duration 300 " + Quote(document) + " >" +
                                        Quote(output) + " 2>" + Quote(errors);
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    // Ends the child with SIGTERM: "STOPPING=1" and exit status 0.
    void StopService() {
        ::kill(m_child, SIGTERM);
        EXPECT_TRUE(WaitForMessage("STOPPING=1")) << m_messages;
        int childStatus = 0;
        ASSERT_EQ(::waitpid(m_child, &childStatus, 0), m_child);
        m_child = -1;
        EXPECT_TRUE(WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0) << childStatus;
    }
    // Reads messages until one contains `text`.
    bool WaitForMessage(const std::string& text, std::chrono::seconds limit = 60s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (const auto message = m_socket.Receive(100)) {
                m_messages += *message + "|";
                if (message->find(text) != std::string::npos) {
                    return true;
                }
            }
        }
        return false;
    }
    // Waits for a stretch of `quiet` without "WATCHDOG=1".
    bool WaitForWatchdogSilence(std::chrono::milliseconds quiet, std::chrono::seconds limit = 60s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        auto lastFeed = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() < end) {
            if (const auto message = m_socket.Receive(100)) {
                m_messages += *message + "|";
                if (message->find("WATCHDOG=1") != std::string::npos) {
                    lastFeed = std::chrono::steady_clock::now();
                }
            }
            if (std::chrono::steady_clock::now() - lastFeed >= quiet) {
                return true;
            }
        }
        return false;
    }
    // The thread of the child whose name ends in ":src": the camera source's streaming thread.
    pid_t StreamingThread() {
        for (int attempt = 0; attempt < 100; ++attempt) {
            for (const auto& task :
                 std::filesystem::directory_iterator("/proc/" + std::to_string(m_child) + "/task")) {
                std::string name = ReadFile(task.path().string() + "/comm");
                while (!name.empty() && name.back() == '\n') {
                    name.pop_back();
                }
                if (name.size() > 4 && name.compare(name.size() - 4, 4, ":src") == 0) {
                    return static_cast<pid_t>(std::stol(task.path().filename().string()));
                }
            }
            std::this_thread::sleep_for(100ms);
        }
        return -1;
    }

    CNotifySocket m_socket;
    disttest::CTempFolder m_folder{"tavrix-watchdog"};
    const std::string m_environment = disttest::PrivateEnvironment(m_folder.Path());
    const std::string m_tavrix = TAVRIX_BINARY_DIR "/bin/tavrix";
    pid_t m_child = -1;
    std::string m_messages;
};

TEST_F(ServiceWatchdogTest, ReadyAfterOpeningAndTheWatchdogIsFedOnlyWhileTheFrameThreadRuns) {
    const std::string document = m_folder.Path() + "/Porch.tvrx";
    ASSERT_TRUE(CreateDocument(document, "test:ball"));
    const std::string errors = m_folder.Path() + "/err.txt";
    StartService(document, "/dev/null", errors);
    ASSERT_TRUE(WaitForMessage("READY=1")) << m_messages;
    EXPECT_EQ(m_messages.rfind("READY=1\nSTATUS=Running 1 document|", 0), 0u) << m_messages;
    for (int feeds = 0; feeds < 2; ++feeds) {
        ASSERT_TRUE(WaitForMessage("WATCHDOG=1")) << "fed while frames flow: " << m_messages;
    }

    // The streaming thread stops; every other thread of the child goes on.
    const pid_t thread = StreamingThread();
    ASSERT_GT(thread, 0);
    if (::ptrace(PTRACE_SEIZE, thread, nullptr, nullptr) != 0) {
        GTEST_SKIP() << "this machine does not let the test stop a thread (ptrace refused)";
    }
    ASSERT_EQ(::ptrace(PTRACE_INTERRUPT, thread, nullptr, nullptr), 0);
    int threadStatus = 0;
    ASSERT_EQ(::waitpid(thread, &threadStatus, __WALL), thread);
    // Three feeding periods without a feed: systemd's watchdog would have run out.
    const bool silent = WaitForWatchdogSilence(4500ms);
    const std::string stalledStatus = "STATUS=No frames from camera 'Default' of 'Porch'";
    EXPECT_TRUE(m_messages.find(stalledStatus) != std::string::npos || WaitForMessage(stalledStatus, 5s))
        << m_messages;
    ASSERT_EQ(::ptrace(PTRACE_DETACH, thread, nullptr, nullptr), 0);
    EXPECT_TRUE(silent) << "the watchdog was still fed while the frame thread was wedged: " << m_messages;
    EXPECT_NE(
        ReadFile(errors).find("tavrix: camera 'Default' of 'Porch' has delivered no frame for 1.5 s: the "
                              "service watchdog is no longer fed"),
        std::string::npos)
        << ReadFile(errors);

    ASSERT_TRUE(WaitForMessage("WATCHDOG=1")) << "fed again once frames flow: " << m_messages;
    StopService();
}

TEST_F(ServiceWatchdogTest, AnUnpluggedCameraDoesNotStopTheFeeding) {
    // The camera fails after a second, as an unplugged one does: it is marked unavailable and its
    // frames stop, which is the camera's own business, not a wedged thread.
    const std::string document = m_folder.Path() + "/Cellar.tvrx";
    ASSERT_TRUE(CreateDocument(document, "test:motion?on=60000-61000&fail=1000"));
    const std::string output = m_folder.Path() + "/out.txt";
    StartService(document, output, "/dev/null");
    ASSERT_TRUE(WaitForMessage("READY=1")) << m_messages;
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (ReadFile(output).find("to 'Unavailable'") == std::string::npos &&
           std::chrono::steady_clock::now() < end) {
        WaitForMessage("WATCHDOG=1", 1s);
    }
    ASSERT_NE(ReadFile(output).find("to 'Unavailable'"), std::string::npos) << ReadFile(output);
    m_messages.clear();
    // Fed for more than the stall limit (1.5 s) after the frames stopped.
    for (int feeds = 0; feeds < 4; ++feeds) {
        ASSERT_TRUE(WaitForMessage("WATCHDOG=1", 20s))
            << "not fed after the camera was unplugged: " << m_messages;
    }
    EXPECT_EQ(m_messages.find("STATUS=No frames"), std::string::npos) << m_messages;
    StopService();
}

// systemctl reload (SIGHUP): systemd hears "RELOADING=1" and then "READY=1" again, and the
// watchdog is fed on by the cameras of the re-opened document.
TEST_F(ServiceWatchdogTest, AReloadIsAnnouncedAndTheWatchdogFollowsTheReopenedDocument) {
    const std::string document = m_folder.Path() + "/Porch.tvrx";
    ASSERT_TRUE(CreateDocument(document, "test:ball"));
    const std::string output = m_folder.Path() + "/out.txt";
    StartService(document, output, "/dev/null");
    ASSERT_TRUE(WaitForMessage("READY=1")) << m_messages;
    ASSERT_TRUE(WaitForMessage("WATCHDOG=1")) << m_messages;
    int status = -1;
    rectest::RunCommand(
        m_environment + Quote(m_tavrix) + " doc set " + Quote(document) + " Cameras.0.CamName Door", &status);
    ASSERT_EQ(status, 0);

    m_messages.clear();
    ::kill(m_child, SIGHUP);
    ASSERT_TRUE(WaitForMessage("RELOADING=1")) << m_messages;
    ASSERT_TRUE(WaitForMessage("READY=1\nSTATUS=Running 1 document")) << m_messages;
    EXPECT_LT(m_messages.find("RELOADING=1"), m_messages.find("READY=1")) << m_messages;
    for (int feeds = 0; feeds < 3; ++feeds) {
        ASSERT_TRUE(WaitForMessage("WATCHDOG=1", 20s)) << "fed after the reload: " << m_messages;
    }
    // The re-opened camera is a new camera to the stall check, whatever its frame count.
    EXPECT_EQ(m_messages.find("STATUS=No frames"), std::string::npos) << m_messages;
    EXPECT_NE(ReadFile(output).find("\tPorch\tDoor\tChanged camera state from '...' to 'Inactive'"),
              std::string::npos)
        << ReadFile(output);
    StopService();
}

} // namespace