// The service notifier speaks sd_notify to a socket of the test as systemd's would be: ready once,
// the watchdog fed while a real frame thread delivers, and not fed while that thread is wedged, so
// that systemd would restart the service. The stall check decides from frame counters over time.

#include "app/ServiceNotifier.h"
#include "app/tests/NotifySocket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = CFrameStallCheck::Clock;

IFrameProgress::CCamera Camera(const std::string& key, int64_t frames) {
    return {key, "camera '" + key + "'", frames};
}

TEST(FrameStallCheckTest, ACameraStallsOnlyWhenItsCounterStaysForLongerThanTheLimit) {
    CFrameStallCheck check(1s);
    const Clock::time_point start{};
    EXPECT_TRUE(check.Update({Camera("a", 5), Camera("b", 0)}, start).empty())
        << "first sight is never a stall";
    EXPECT_TRUE(check.Update({Camera("a", 5), Camera("b", 0)}, start + 1s).empty())
        << "at the limit, not past it";
    // Without its first frame a camera is still starting: twice the limit.
    EXPECT_TRUE(check.Update({Camera("a", 6), Camera("b", 0)}, start + 1500ms).empty());
    EXPECT_TRUE(check.Update({Camera("a", 6), Camera("b", 0)}, start + 2100ms) ==
                std::vector<std::string>{"camera 'b'"});
    // A new frame starts the limit again.
    EXPECT_TRUE(check.Update({Camera("a", 7), Camera("b", 1)}, start + 2200ms).empty());
    EXPECT_TRUE(check.Update({Camera("a", 7), Camera("b", 1)}, start + 3000ms).empty());
    EXPECT_TRUE(check.Update({Camera("a", 7), Camera("b", 1)}, start + 3300ms) ==
                (std::vector<std::string>{"camera 'a'", "camera 'b'"}));
}

TEST(FrameStallCheckTest, ACameraLeftOutOfASampleGetsTheWholeLimitWhenItComesBack) {
    CFrameStallCheck check(1s);
    const Clock::time_point start{};
    check.Update({Camera("a", 5)}, start);
    // Unavailable (left out) for a while; its counter has not moved when it comes back.
    EXPECT_TRUE(check.Update({}, start + 5s).empty());
    EXPECT_TRUE(check.Update({Camera("a", 5)}, start + 6s).empty());
    EXPECT_TRUE(check.Update({Camera("a", 5)}, start + 6900ms).empty());
    EXPECT_EQ(check.Update({Camera("a", 5)}, start + 7100ms).size(), 1u);
}

// A frame thread as a camera's streaming thread is: it counts frames as long as nothing holds it;
// the test wedges it by taking the lock every frame needs.
class CFrameThread final : public IFrameProgress {
public:
    CFrameThread() {
        m_thread = std::thread([this] {
            while (!m_stop) {
                {
                    std::lock_guard<std::mutex> frame(m_frameLock);
                    ++m_frames;
                }
                std::this_thread::sleep_for(5ms);
            }
        });
    }
    ~CFrameThread() {
        m_stop = true;
        m_thread.join();
    }
    std::vector<CCamera> SampleFrames() override { return {{"porch", "camera 'Porch'", m_frames.load()}}; }
    std::mutex& FrameLock() { return m_frameLock; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<int64_t> m_frames{0};
    std::mutex m_frameLock;
    std::thread m_thread;
};

class ServiceNotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_socket.IsOpen());
        ::setenv("NOTIFY_SOCKET", m_socket.GetPath().c_str(), 1);
        ::setenv("WATCHDOG_USEC", "1000000", 1);
        ::unsetenv("WATCHDOG_PID");
    }
    void TearDown() override {
        ::unsetenv("NOTIFY_SOCKET");
        ::unsetenv("WATCHDOG_USEC");
    }
    // Delivers the dispatcher's rounds and reads the messages until one contains `text`.
    bool WaitForMessage(const std::string& text, std::chrono::seconds limit = 60s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            m_dispatcher.RunFor(20);
            while (const auto message = m_socket.Receive(0)) {
                m_messages.push_back(*message);
                if (message->find(text) != std::string::npos) {
                    return true;
                }
            }
        }
        return false;
    }
    // Waits for a stretch of `quiet` in which no watchdog message comes.
    bool WaitForWatchdogSilence(std::chrono::milliseconds quiet, std::chrono::seconds limit = 60s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        auto lastFeed = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() < end) {
            m_dispatcher.RunFor(20);
            while (const auto message = m_socket.Receive(0)) {
                m_messages.push_back(*message);
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

    CNotifySocket m_socket;
    CMessageDispatcher m_dispatcher;
    std::vector<std::string> m_messages;
};

TEST_F(ServiceNotifierTest, ReadyOnceThenTheWatchdogIsFedOnlyWhileTheFrameThreadDelivers) {
    auto frames = std::make_unique<CFrameThread>();
    CFrameThread& frameThread = *frames;
    {
        CServiceNotifier notifier(m_dispatcher, std::move(frames));
        ASSERT_TRUE(notifier.IsEnabled());
        EXPECT_EQ(notifier.GetWatchdogInterval(), 1s);
        ASSERT_TRUE(m_socket.Receive(0) == std::nullopt) << "nothing before the documents are open";

        notifier.NotifyReady("Running 1 document");
        ASSERT_TRUE(WaitForMessage("READY=1"));
        EXPECT_EQ(m_messages.front(), "READY=1\nSTATUS=Running 1 document");
        for (int feeds = 0; feeds < 3; ++feeds) {
            ASSERT_TRUE(WaitForMessage("WATCHDOG=1")) << "fed while frames flow";
        }

        {
            std::lock_guard<std::mutex> wedged(frameThread.FrameLock());
            ASSERT_TRUE(WaitForMessage("STATUS=No frames from camera 'Porch'"));
            // Four feeding periods without a feed: systemd's watchdog would run out.
            EXPECT_TRUE(WaitForWatchdogSilence(2s)) << "still fed while the frame thread is wedged";
        }
        ASSERT_TRUE(WaitForMessage("WATCHDOG=1")) << "fed again once frames flow again";
        EXPECT_EQ(m_messages.back(), "WATCHDOG=1\nSTATUS=Running 1 document");
        for (const std::string& message : m_messages) {
            EXPECT_EQ(message.find("READY=1"), message == m_messages.front() ? 0u : std::string::npos);
        }
    }
    ASSERT_TRUE(WaitForMessage("STOPPING=1"));
}

TEST_F(ServiceNotifierTest, WithoutANotifySocketNothingIsSent) {
    ::unsetenv("NOTIFY_SOCKET");
    CServiceNotifier notifier(m_dispatcher, std::make_unique<CFrameThread>());
    EXPECT_FALSE(notifier.IsEnabled());
    EXPECT_EQ(notifier.GetWatchdogInterval(), 0us);
    notifier.NotifyReady("Running 1 document");
    m_dispatcher.RunFor(100);
    EXPECT_EQ(m_socket.Receive(500), std::nullopt);
    EXPECT_EQ(m_dispatcher.GetQueuedCount(), 0u) << "no watchdog rounds";
}

TEST_F(ServiceNotifierTest, WithoutAWatchdogOnlyReadyAndStoppingAreSent) {
    ::unsetenv("WATCHDOG_USEC");
    {
        CServiceNotifier notifier(m_dispatcher, std::make_unique<CFrameThread>());
        EXPECT_TRUE(notifier.IsEnabled());
        EXPECT_EQ(notifier.GetWatchdogInterval(), 0us);
        notifier.NotifyReady("Running 2 documents");
        ASSERT_TRUE(WaitForMessage("READY=1"));
        EXPECT_EQ(m_socket.Receive(1500), std::nullopt) << "no watchdog feeding";
    }
    ASSERT_TRUE(WaitForMessage("STOPPING=1"));
    EXPECT_EQ(m_messages.size(), 2u);
}

} // namespace
