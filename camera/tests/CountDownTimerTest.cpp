// The activation countdown: its ticks, its stop paths, and the final tick meeting a Stop made with
// the camera lock held. The tick interval is shortened so the tests wait only for what they check.

#include "camera/CountDownTimer.h"

#include "foundation/Exceptions.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kTickMs = 5;
constexpr uint32_t kNeverMs = 600000;
constexpr uint32_t kGiveUpMs = 20000;

// Records the ticks and the thread they ran on; an optional action runs inside each tick.
class CTicks : public CCountDownTimerCB {
public:
    void OnCountDownTick(int32_t remainingSeconds) override {
        {
            std::lock_guard lock(m_lock);
            m_values.push_back(remainingSeconds);
            m_thread = std::this_thread::get_id();
        }
        if (m_action) {
            m_action(remainingSeconds);
        }
        if (remainingSeconds == 0) {
            m_last.Set();
        }
    }
    std::vector<int32_t> Values() {
        std::lock_guard lock(m_lock);
        return m_values;
    }
    std::thread::id Thread() {
        std::lock_guard lock(m_lock);
        return m_thread;
    }
    // Bounded so that a countdown that never ends fails the test instead of hanging it.
    void WaitForLast() { ASSERT_TRUE(m_last.Wait(kGiveUpMs)) << "no final tick"; }
    void ResetLast() { m_last.Reset(); }

    std::function<void(int32_t)> m_action;

private:
    std::mutex m_lock;
    std::vector<int32_t> m_values;
    std::thread::id m_thread;
    platform::CEvent m_last{true, false};
};

} // namespace

TEST(CountDownTimerTest, TicksFromNMinusOneDownToZeroOnItsOwnThreadThenEnds) {
    CTicks ticks;
    CCountDownTimer timer(&ticks, kTickMs);
    timer.Start(3);
    EXPECT_TRUE(timer.IsRunning());
    ticks.WaitForLast();
    EXPECT_EQ(ticks.Values(), (std::vector<int32_t>{2, 1, 0}));
    EXPECT_NE(ticks.Thread(), std::this_thread::get_id());
    EXPECT_EQ(timer.GetRemaining(), 0);
    timer.Stop();
    EXPECT_FALSE(timer.IsRunning());
    EXPECT_EQ(ticks.Values().size(), 3u);
}

TEST(CountDownTimerTest, RemainingReadsTheStartValueBeforeTheFirstTick) {
    CTicks ticks;
    CCountDownTimer timer(&ticks, kNeverMs);
    timer.Start(10);
    EXPECT_EQ(timer.GetRemaining(), 10);
    timer.Stop(); // long before the first tick: ends the thread without any tick
    EXPECT_TRUE(ticks.Values().empty());
    EXPECT_FALSE(timer.IsRunning());
    timer.Stop(); // not running: nothing
}

TEST(CountDownTimerTest, StopFromInsideTheTickReturnsAndNoFurtherTickComes) {
    CTicks ticks;
    CCountDownTimer timer(&ticks, kTickMs);
    platform::CEvent stopped(true, false);
    ticks.m_action = [&](int32_t remaining) {
        if (remaining == 3) {
            timer.Stop(); // must not wait for its own thread
            stopped.Set();
        }
    };
    timer.Start(5);
    stopped.Wait();
    EXPECT_FALSE(timer.IsRunning());

    // The timer can be started again; the stopped worker is joined on the way.
    timer.Start(2);
    ticks.WaitForLast();
    EXPECT_EQ(ticks.Values(), (std::vector<int32_t>{4, 3, 1, 0}));
    timer.Stop();
}

TEST(CountDownTimerTest, RestartAfterACountdownThatEndedByItselfStillTicks) {
    CTicks ticks;
    CCountDownTimer timer(&ticks, kTickMs);
    timer.Start(1);
    ticks.WaitForLast();
    timer.Stop(); // the worker has already ended: the stop request finds nobody to take it
    ticks.ResetLast();
    timer.Start(2);
    ticks.WaitForLast();
    EXPECT_EQ(ticks.Values(), (std::vector<int32_t>{0, 1, 0}));
    timer.Stop();
}

TEST(CountDownTimerTest, StartWithNothingToCountTicksZeroOnce) {
    CTicks ticks;
    CCountDownTimer timer(&ticks, kTickMs);
    timer.Start(0);
    ticks.WaitForLast();
    EXPECT_EQ(ticks.Values(), (std::vector<int32_t>{0}));
    timer.Stop();
}

TEST(CountDownTimerTest, StartFromInsideTheTickIsRefused) {
    CTicks ticks;
    CCountDownTimer timer(&ticks, kTickMs);
    bool refused = false;
    ticks.m_action = [&](int32_t) {
        try {
            timer.Start(4);
        } catch (const CGeneralEx& e) {
            refused = e.GetMessage() == "Unable to create count down timer thread.";
        }
    };
    timer.Start(1);
    ticks.WaitForLast();
    timer.Stop();
    EXPECT_TRUE(refused);
}

// The camera view's final tick takes the camera lock; a deactivation holding that lock stops the
// timer at the same moment. The tick must give up and both must finish.
TEST(CountDownTimerTest, FinalTickGivesUpWhenStopHoldsTheCameraLock) {
    platform::CCritSec cameraLock;
    CTicks ticks;
    CCountDownTimer timer(&ticks, kTickMs);
    platform::CEvent inFinalTick(true, false);
    bool tookLock = true;
    ticks.m_action = [&](int32_t remaining) {
        if (remaining == 0) {
            inFinalTick.Set();
            auto guard = timer.LockUnlessStopping(cameraLock);
            tookLock = guard.owns_lock();
        }
    };
    {
        platform::CAutoLock camera(cameraLock);
        timer.Start(1);
        inFinalTick.Wait();
        timer.Stop(); // would wait forever if the tick insisted on the camera lock
    }
    EXPECT_FALSE(tookLock);
    EXPECT_FALSE(timer.IsRunning());
}

TEST(CountDownTimerTest, FinalTickTakesTheCameraLockWhenNobodyStops) {
    platform::CCritSec cameraLock;
    CTicks ticks;
    CCountDownTimer timer(&ticks, kTickMs);
    bool tookLock = false;
    platform::CEvent holding(true, false);
    platform::CEvent release(true, false);
    std::thread ui([&] {
        // Holds the camera lock for a moment during the final tick, then lets it go.
        platform::CAutoLock camera(cameraLock);
        holding.Set();
        release.Wait();
    });
    holding.Wait();
    ticks.m_action = [&](int32_t remaining) {
        if (remaining == 0) {
            release.Set();
            auto guard = timer.LockUnlessStopping(cameraLock);
            tookLock = guard.owns_lock();
        }
    };
    timer.Start(1);
    ticks.WaitForLast();
    ui.join();
    timer.Stop();
    EXPECT_TRUE(tookLock);
}

TEST(CountDownTimerTest, DestroyingARunningTimerStopsIt) {
    CTicks ticks;
    {
        CCountDownTimer timer(&ticks, kNeverMs);
        timer.Start(120);
    }
    EXPECT_TRUE(ticks.Values().empty());
}
