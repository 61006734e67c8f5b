// The schedule service against a clock the test moves: the call-back during Start, changes found
// by the service thread, schedule changes, and the stop paths. The pass interval is shortened and
// the tests wait for passes by counting clock reads, never for fixed times.

#include "camera/ScheduleService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
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

namespace {

// A clock that walks through real instants a minute per read and answers in the local time of the
// time zone the test set, so that the service meets a daylight-saving change as it would at night.
class CWalkingClock {
public:
    CWalkingClock(time_t from, time_t till) : m_now(from), m_till(till) {}
    platform::SystemTime Now() {
        std::lock_guard lock(m_lock);
        m_read = m_now;
        if (m_now < m_till) {
            m_now += 60;
        }
        return platform::LocalTimeFromUnix(m_read);
    }
    time_t LastRead() {
        std::lock_guard lock(m_lock);
        return m_read;
    }
    bool Finished() {
        std::lock_guard lock(m_lock);
        return m_now >= m_till;
    }

private:
    std::mutex m_lock;
    time_t m_now;
    const time_t m_till;
    time_t m_read = 0;
};

class CTimeZone {
public:
    explicit CTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            m_old = old;
            m_hadOld = true;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~CTimeZone() {
        if (m_hadOld) {
            setenv("TZ", m_old.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::string m_old;
    bool m_hadOld = false;
};

time_t Utc(int year, int month, int day, int hour, int minute = 0) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    return timegm(&fields);
}

CTimeSchedule Nightly(int fromHour, int tillHour) {
    CTimeSchedule schedule;
    CTimeScheduleEntry rule;
    rule.ValidTime = true;
    rule.FromHour = fromHour;
    rule.FromMinute = 0;
    rule.TillHour = tillHour;
    rule.TillMinute = 0;
    schedule.AddEntry(rule);
    return schedule;
}

// Runs a service over the night and returns each change with the UTC instant it was found at.
std::vector<std::pair<bool, time_t>> ChangesOverNight(const CTimeSchedule& schedule, time_t from,
                                                      time_t till) {
    CWalkingClock clock(from, till);
    std::mutex lock;
    std::vector<std::pair<bool, time_t>> changes;
    struct CRecorder : CScheduleServiceCB {
        std::function<void(bool)> record;
        void OnScheduleStateChange(bool active) override { record(active); }
    } recorder;
    recorder.record = [&](bool active) {
        std::lock_guard guard(lock);
        changes.emplace_back(active, clock.LastRead());
    };
    CScheduleService service(
        &recorder, [&clock] { return clock.Now(); }, 1);
    service.SetSchedule(&schedule);
    service.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGiveUpMs * 3);
    while (!clock.Finished() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    service.Stop();
    EXPECT_TRUE(clock.Finished()) << "the service stopped reading the clock";
    std::lock_guard guard(lock);
    return changes;
}

} // namespace

TEST(ScheduleServiceTest, OvernightRuleHoldsFromEveningToMorningAcrossBothDaylightSavingChanges) {
    const CTimeZone berlin("Europe/Berlin");
    using Changes = std::vector<std::pair<bool, time_t>>;
    const CTimeSchedule night = Nightly(22, 6);
    // 29 March 2026: 02:00 CET becomes 03:00 CEST. 22:00 CET is 21:00 UTC, 06:00 CEST 04:00 UTC:
    // seven hours of real time.
    EXPECT_EQ(ChangesOverNight(night, Utc(2026, 3, 28, 18), Utc(2026, 3, 29, 8)),
              (Changes{{true, Utc(2026, 3, 28, 21)}, {false, Utc(2026, 3, 29, 4)}}));
    // 25 October 2026: 03:00 CEST becomes 02:00 CET. 22:00 CEST is 20:00 UTC, 06:00 CET 05:00 UTC:
    // nine hours, without a gap in the repeated hour.
    EXPECT_EQ(ChangesOverNight(night, Utc(2026, 10, 24, 18), Utc(2026, 10, 25, 8)),
              (Changes{{true, Utc(2026, 10, 24, 20)}, {false, Utc(2026, 10, 25, 5)}}));

    // Wall-clock rules: the hour that does not exist in spring never comes, the one that comes
    // twice in autumn is covered both times.
    const CTimeSchedule skipped = Nightly(2, 3);
    EXPECT_EQ(ChangesOverNight(skipped, Utc(2026, 3, 28, 22), Utc(2026, 3, 29, 4)), Changes{});
    EXPECT_EQ(ChangesOverNight(skipped, Utc(2026, 10, 24, 22), Utc(2026, 10, 25, 4)),
              (Changes{{true, Utc(2026, 10, 25, 0)}, {false, Utc(2026, 10, 25, 2)}}));
}
