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
    pid_t m_child = -1;
    std::string m_messages;
};

TEST_F(ServiceWatchdogTest, ReadyAfterOpeningAndTheWatchdogIsFedOnlyWhileTheFrameThreadRuns) {
    const std::string environment = disttest::PrivateEnvironment(m_folder.Path());
    const std::string tavrix = TAVRIX_BINARY_DIR "/bin/tavrix";
    const std::string document = m_folder.Path() + "/Porch.tvrx";
    int status = -1;
    rectest::RunCommand(environment + Quote(tavrix) + " doc create " + Quote(document) +
                            " --camera test:ball --record-path " + Quote(m_folder.Path()),
                        &status);
    ASSERT_EQ(status, 0);
    disttest::MakeSmallAndQuick(
        [&](const std::string& arguments, int* code) {
            return rectest::RunCommand(environment + Quote(tavrix) + " " + arguments, code);
        },
        document);

    const std::string errors = m_folder.Path() + "/err.txt";
    m_child = ::fork();
    ASSERT_GE(m_child, 0);
    if (m_child == 0) {
        // As systemd starts a Type=notify service with WatchdogSec=3.
        const std::string command = environment + "NOTIFY_SOCKET=" + Quote(m_socket.GetPath()) +
                                    " WATCHDOG_USEC=3000000 exec " + Quote(tavrix) +
                                    " --headless --duration 300 " + Quote(document) + " >/dev/null 2>" +
                                    Quote(errors);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
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
    ::kill(m_child, SIGTERM);
    EXPECT_TRUE(WaitForMessage("STOPPING=1")) << m_messages;
    int childStatus = 0;
    ASSERT_EQ(::waitpid(m_child, &childStatus, 0), m_child);
    m_child = -1;
    EXPECT_TRUE(WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0) << childStatus;
}

} // namespace
