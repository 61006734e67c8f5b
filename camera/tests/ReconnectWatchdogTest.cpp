// The re-connection watchdog: its attempts come no earlier than their delays, the delays double up
// to the maximum and start again after a success, one attempt is scheduled at a time, and Stop
// leaves no attempt behind. Lower bounds of time only: a loaded machine makes attempts late, never
// early.

#include "camera/ReconnectWatchdog.h"

#include "platform/Sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kGiveUpMs = 20000;

// Counts the attempts and when they came.
class CAttempts {
public:
    void operator()() {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_times.push_back(Clock::now());
        }
        m_came.Set();
    }
    bool WaitForOne() { return m_came.Wait(kGiveUpMs); }
    size_t Count() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_times.size();
    }
    Clock::time_point Last() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_times.back();
    }

private:
    std::mutex m_lock;
    std::vector<Clock::time_point> m_times;
    platform::CEvent m_came{false, false}; // auto reset
};

int64_t MsSince(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

TEST(ReconnectWatchdogTest, EachFailedAttemptWaitsTwiceAsLongUpToTheMaximumAndASuccessStartsAgain) {
    // The application's: 2, 4, 8, 16, 32, 60, 60, ... seconds.
    EXPECT_EQ(CReconnectDelays{}.firstMs, 2000u);
    EXPECT_EQ(CReconnectDelays{}.maxMs, 60000u);

    CAttempts attempts;
    CReconnectWatchdog watchdog([&attempts] { attempts(); }, {20, 100});
    EXPECT_EQ(watchdog.GetNextDelayMs(), 20u);
    EXPECT_FALSE(watchdog.IsScheduled());

    // Every attempt fails: the owner asks again each time.
    for (const uint32_t delay : {20u, 40u, 80u, 100u, 100u}) {
        EXPECT_EQ(watchdog.GetNextDelayMs(), delay);
        const Clock::time_point asked = Clock::now();
        watchdog.ScheduleRetry();
        EXPECT_TRUE(watchdog.IsScheduled());
        ASSERT_TRUE(attempts.WaitForOne()) << "no attempt after " << delay << " ms";
        EXPECT_GE(MsSince(asked, attempts.Last()), static_cast<int64_t>(delay));
    }
    EXPECT_EQ(attempts.Count(), 5u);
    EXPECT_EQ(watchdog.GetAttemptCount(), 5u);

    // Re-connected: the next loss starts from the first delay again.
    watchdog.Reset();
    EXPECT_EQ(watchdog.GetNextDelayMs(), 20u);
    watchdog.ScheduleRetry();
    ASSERT_TRUE(attempts.WaitForOne());
    EXPECT_EQ(watchdog.GetNextDelayMs(), 40u);
}

TEST(ReconnectWatchdogTest, ARetryAskedForWhileOneIsScheduledChangesNothing) {
    CAttempts attempts;
    CReconnectWatchdog watchdog([&attempts] { attempts(); }, {50, 1000});
    watchdog.ScheduleRetry();
    watchdog.ScheduleRetry();
    watchdog.ScheduleRetry();
    EXPECT_EQ(watchdog.GetNextDelayMs(), 100u) << "moved on once";
    ASSERT_TRUE(attempts.WaitForOne());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(attempts.Count(), 1u);
    EXPECT_FALSE(watchdog.IsScheduled());
}

TEST(ReconnectWatchdogTest, ASlowRetryWaitsTheLongestDelayAndTheNextOnesStayThereUntilReset) {
    CAttempts attempts;
    CReconnectWatchdog watchdog([&attempts] { attempts(); }, {50, 400});
    const Clock::time_point asked = Clock::now();
    watchdog.ScheduleSlowRetry();
    EXPECT_TRUE(watchdog.IsScheduled());
    EXPECT_EQ(watchdog.GetNextDelayMs(), 400u);
    ASSERT_TRUE(attempts.WaitForOne());
    EXPECT_GE(attempts.Last() - asked, std::chrono::milliseconds(400));
    watchdog.ScheduleRetry();
    EXPECT_EQ(watchdog.GetNextDelayMs(), 400u);
    watchdog.Reset();
    EXPECT_EQ(watchdog.GetNextDelayMs(), 50u);
}

TEST(ReconnectWatchdogTest, ResetDropsAScheduledAttempt) {
    CAttempts attempts;
    CReconnectWatchdog watchdog([&attempts] { attempts(); }, {1000, 1000});
    watchdog.ScheduleRetry();
    watchdog.Reset();
    EXPECT_FALSE(watchdog.IsScheduled());
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(attempts.Count(), 0u);
}

TEST(ReconnectWatchdogTest, AnAttemptMayAskForTheNextOneItself) {
    std::atomic<int> calls{0};
    platform::CEvent third(true, false);
    CReconnectWatchdog* self = nullptr;
    CReconnectWatchdog watchdog(
        [&] {
            if (++calls < 3) {
                self->ScheduleRetry(); // failed again
            } else {
                third.Set();
            }
        },
        {10, 40});
    self = &watchdog;
    watchdog.ScheduleRetry();
    ASSERT_TRUE(third.Wait(kGiveUpMs));
    EXPECT_EQ(calls.load(), 3);
    EXPECT_EQ(watchdog.GetNextDelayMs(), 40u);
}

TEST(ReconnectWatchdogTest, StopWaitsForAnAttemptUnderWayAndNoneComesAfterIt) {
    platform::CEvent inside(true, false);
    platform::CEvent release(true, false);
    std::atomic<int> calls{0};
    std::atomic<bool> finished{false};
    CReconnectWatchdog watchdog(
        [&] {
            ++calls;
            inside.Set();
            release.Wait(kGiveUpMs);
            finished = true;
        },
        {10, 10});
    watchdog.ScheduleRetry();
    ASSERT_TRUE(inside.Wait(kGiveUpMs));
    std::thread stopper([&] { watchdog.Stop(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(finished.load());
    release.Set();
    stopper.join();
    EXPECT_TRUE(finished.load()) << "Stop returned while the attempt ran";

    watchdog.ScheduleRetry();
    EXPECT_FALSE(watchdog.IsScheduled()) << "nothing after Stop";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(calls.load(), 1);
}

TEST(ReconnectWatchdogTest, DestroyingAWatchdogThatNeverRanOrWasStoppedInsideItsAttemptIsClean) {
    {
        CReconnectWatchdog idle([] {});
    }
    platform::CEvent done(true, false);
    {
        CReconnectWatchdog* self = nullptr;
        CReconnectWatchdog watchdog(
            [&] {
                self->Stop(); // from inside: does not wait for itself
                done.Set();
            },
            {10, 10});
        self = &watchdog;
        watchdog.ScheduleRetry();
        ASSERT_TRUE(done.Wait(kGiveUpMs));
    }
    SUCCEED();
}

} // namespace
