// The schedule service against a clock the test moves: the call-back during Start, changes found
// by the service thread, schedule changes, and the stop paths. The pass interval is shortened and
// the tests wait for passes by counting clock reads, never for fixed times.

#include "camera/ScheduleService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kPassMs = 2;
constexpr uint32_t kGiveUpMs = 20000;

class CFakeClock {
public:
    platform::SystemTime Now() {
        std::lock_guard lock(m_lock);
        ++m_reads;
        return m_now;
    }
    void Set(int hour, int minute) {
        std::lock_guard lock(m_lock);
        m_now.hour = static_cast<uint16_t>(hour);
        m_now.minute = static_cast<uint16_t>(minute);
    }
    int Reads() {
        std::lock_guard lock(m_lock);
        return m_reads;
    }
    // Returns once the service has read the clock `passes` more times.
    void WaitForPasses(int passes) {
        const int target = Reads() + passes;
        while (Reads() < target) {
            std::this_thread::yield();
        }
    }
    CScheduleService::LocalTimeSource Source() {
        return [this] { return Now(); };
    }

private:
    std::mutex m_lock;
    platform::SystemTime m_now{2024, 2, 1, 5, 9, 0, 0, 0}; // Monday 2024-02-05, 09:00
    int m_reads = 0;
};

class CCalls : public CScheduleServiceCB {
public:
    void OnScheduleStateChange(bool active) override {
        {
            std::lock_guard lock(m_lock);
            m_calls.push_back(active);
            m_threads.push_back(std::this_thread::get_id());
        }
        if (m_action) {
            m_action(active);
        }
        m_done.fetch_add(1);
    }
    std::vector<bool> Calls() {
        std::lock_guard lock(m_lock);
        return m_calls;
    }
    std::thread::id LastThread() {
        std::lock_guard lock(m_lock);
        return m_threads.back();
    }
    // Waits until `count` call-backs in all have returned; bounded so that a missing call-back
    // fails the test instead of hanging it.
    bool WaitForCalls(int count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGiveUpMs);
        while (m_done.load() < count) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::yield();
        }
        return true;
    }

    std::function<void(bool)> m_action;

private:
    std::mutex m_lock;
    std::vector<bool> m_calls;
    std::vector<std::thread::id> m_threads;
    std::atomic<int> m_done{0};
};

CTimeSchedule OfficeHours() {
    CTimeSchedule schedule;
    CTimeScheduleEntry rule;
    rule.ValidTime = true;
    rule.FromHour = 8;
    rule.TillHour = 17;
    rule.TillMinute = 0;
    schedule.AddEntry(rule);
    return schedule;
}

} // namespace

TEST(ScheduleServiceTest, StartedInsideTheScheduleCallsBackBeforeStartReturnsThenFollowsTheClock) {
    CFakeClock clock;
    CCalls calls;
    CScheduleService service(&calls, clock.Source(), kPassMs);
    const CTimeSchedule office = OfficeHours();
    service.SetSchedule(&office);
    EXPECT_FALSE(service.IsActive());
    service.Start();
    EXPECT_EQ(calls.Calls(), std::vector<bool>{true});
    EXPECT_EQ(calls.LastThread(), std::this_thread::get_id());
    EXPECT_TRUE(service.IsActive());
    service.Start(); // already running: nothing

    clock.Set(17, 0); // the end minute is outside
    ASSERT_TRUE(calls.WaitForCalls(2));
    EXPECT_EQ(calls.Calls(), (std::vector<bool>{true, false}));
    EXPECT_NE(calls.LastThread(), std::this_thread::get_id());
    EXPECT_FALSE(service.IsActive());
    service.Stop();
    EXPECT_FALSE(service.IsRunning());
    service.Stop();
}

TEST(ScheduleServiceTest, StartedOutsideTheScheduleCallsNothingUntilItBecomesActive) {
    CFakeClock clock;
    clock.Set(7, 59);
    CCalls calls;
    CScheduleService service(&calls, clock.Source(), kPassMs);
    const CTimeSchedule office = OfficeHours();
    service.SetSchedule(&office);
    service.Start();
    clock.WaitForPasses(3);
    EXPECT_TRUE(calls.Calls().empty());
    clock.Set(8, 0);
    ASSERT_TRUE(calls.WaitForCalls(1));
    service.Stop();
    EXPECT_EQ(calls.Calls(), std::vector<bool>{true});
}

TEST(ScheduleServiceTest, ScheduleChangesTakeEffectAtTheNextPassAndOnlyStateChangesCallBack) {
    CFakeClock clock;
    CCalls calls;
    CScheduleService service(&calls, clock.Source(), kPassMs);
    service.Start(); // no schedule: always active
    EXPECT_EQ(calls.Calls(), std::vector<bool>{true});

    CTimeSchedule longer = OfficeHours();
    longer.GetEntry(0)->TillHour = 20;
    service.SetSchedule(&longer);
    clock.Set(18, 0);
    clock.WaitForPasses(3);
    EXPECT_EQ(calls.Calls().size(), 1u); // still active under the new schedule
    const CTimeSchedule noRules;
    service.SetSchedule(&noRules); // never active
    ASSERT_TRUE(calls.WaitForCalls(2));
    service.SetSchedule(nullptr);
    ASSERT_TRUE(calls.WaitForCalls(3));
    service.Stop();
    EXPECT_EQ(calls.Calls(), (std::vector<bool>{true, false, true}));

    const int reads = clock.Reads();
    service.Start(); // restart; the state is still active: no call-back
    EXPECT_GT(clock.Reads(), reads);
    service.Stop();
    EXPECT_EQ(calls.Calls().size(), 3u);
}

TEST(ScheduleServiceTest, CallbackMayReadTheStateAndEvenStopTheService) {
    CFakeClock clock;
    clock.Set(6, 0);
    CCalls calls;
    CScheduleService service(&calls, clock.Source(), kPassMs);
    std::atomic<bool> seen{false};
    calls.m_action = [&](bool active) {
        seen = service.IsActive() == active; // re-entrant lock on the service thread
        service.Stop();                      // from its own thread: must not wait for itself
    };
    const CTimeSchedule office = OfficeHours();
    service.SetSchedule(&office);
    service.Start();
    clock.Set(9, 0);
    ASSERT_TRUE(calls.WaitForCalls(1));
    EXPECT_TRUE(seen);
    EXPECT_FALSE(service.IsRunning());
    service.Start(); // joins the thread that stopped itself; still active: no call-back
    service.Stop();
}

TEST(ScheduleServiceTest, RealClockServiceStopsWithoutWaitingForItsPass) {
    CCalls calls;
    {
        CScheduleService neverStarted(&calls);
        neverStarted.Stop(); // does nothing
    }
    CScheduleService service(&calls);
    service.Start();
    EXPECT_EQ(calls.Calls(), std::vector<bool>{true});
    service.Stop(); // the thread is in its one-second wait; the abort ends it
    EXPECT_FALSE(service.IsRunning());
}
