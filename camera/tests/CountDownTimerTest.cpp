// The activation countdown: its ticks, its stop paths, and the final tick meeting a Stop made with
// the camera lock held. The tick interval is shortened so the tests wait only for what they check.

#include "camera/CountDownTimer.h"

#include "foundation/Exceptions.h"

#include <gtest/gtest.h>

#include <atomic>
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
    timer.Stop(); // the worker ended by itself; its stop request is left for nobody
    EXPECT_FALSE(timer.IsRunning());

    ticks.ResetLast();
    timer.Start(0); // nothing to count: one tick with 0, and the restart still ticks
    ticks.WaitForLast();
    EXPECT_EQ(ticks.Values(), (std::vector<int32_t>{2, 1, 0, 0}));
    timer.Stop();
}

TEST(CountDownTimerTest, StopBeforeTheFirstTickEndsTheThreadWithoutTicks) {
    CTicks ticks;
    {
        CCountDownTimer timer(&ticks, kNeverMs);
        timer.Start(10);
        EXPECT_EQ(timer.GetRemaining(), 10);
        timer.Stop();
        EXPECT_FALSE(timer.IsRunning());
        timer.Stop(); // not running: nothing
        timer.Start(120);
    } // destroying a running timer stops it
    EXPECT_TRUE(ticks.Values().empty());
}

TEST(CountDownTimerTest, StopFromInsideTheTickReturnsAndStartThereIsRefused) {
    CTicks ticks;
    CCountDownTimer timer(&ticks, kTickMs);
    std::atomic<bool> refused{false};
    platform::CEvent stopped(true, false);
    ticks.m_action = [&](int32_t remaining) {
        if (remaining == 3) {
            try {
                timer.Start(4);
            } catch (const CGeneralEx& e) {
                refused = e.GetMessage() == "Unable to create count down timer thread.";
            }
            timer.Stop(); // must not wait for its own thread
            stopped.Set();
        }
    };
    timer.Start(5);
    stopped.Wait();
    EXPECT_FALSE(timer.IsRunning());
    EXPECT_TRUE(refused);
    timer.Start(2); // joins the worker that stopped itself
    ticks.WaitForLast();
    EXPECT_EQ(ticks.Values(), (std::vector<int32_t>{4, 3, 1, 0}));
    timer.Stop();
}

// The camera view's final tick takes the camera lock; a deactivation holding that lock stops the
// timer at the same moment. The tick must give up and both must finish. Without a stop, the tick
// waits for the lock.
TEST(CountDownTimerTest, FinalTickGivesUpTheCameraLockOnlyWhenStopped) {
    platform::CCritSec cameraLock;
    CTicks ticks;
    CCountDownTimer timer(&ticks, kTickMs);
    platform::CEvent inFinalTick(true, false);
    std::atomic<int> tookLock{-1};
    ticks.m_action = [&](int32_t remaining) {
        if (remaining == 0) {
            inFinalTick.Set();
            tookLock = timer.LockUnlessStopping(cameraLock).owns_lock();
        }
    };
    {
        platform::CAutoLock camera(cameraLock);
        timer.Start(1);
        inFinalTick.Wait();
        timer.Stop(); // would wait forever if the tick insisted on the camera lock
    }
    EXPECT_EQ(tookLock, 0);

    inFinalTick.Reset();
    ticks.ResetLast();
    {
        std::unique_lock camera(cameraLock);
        timer.Start(1);
        inFinalTick.Wait();
        camera.unlock(); // a user-interface thread done with the lock
        ticks.WaitForLast();
    }
    timer.Stop();
    EXPECT_EQ(tookLock, 1);
}
