#pragma once
// CReconnectWatchdog: brings a lost source back by itself. After a loss its owner asks for a
// retry (ScheduleRetry); once the current delay has passed the watchdog calls the owner's attempt
// on a thread of its own. The attempt only sets the re-connection going (a camera view posts a
// request to rebuild its pipeline on the user-interface thread) and must not block for long; the
// owner then reports the outcome: another ScheduleRetry after a failed attempt, each one waiting
// twice as long as the one before (2, 4, 8, ... s, at most 60 s), or Reset after a success, so
// that the next loss starts again at the first delay. One attempt at a time: a retry asked for
// while one is scheduled changes nothing, so an attempt still under way is never overtaken.
//
// Used by the camera view for its capture device; network sources use the same.
//
// Threads: ScheduleRetry, Reset and Stop from any of the owner's threads; the attempt runs on the
// watchdog's thread with no lock of the watchdog held, so it may take the owner's locks and call
// ScheduleRetry or Reset itself. m_lock is innermost: nothing is called while it is held. Stop
// (and the destructor) wait for the watchdog's thread, unless called from inside the attempt.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

// The waits of a re-connection watchdog.
struct CReconnectDelays {
    uint32_t firstMs = 2000; // after a loss
    uint32_t maxMs = 60000;  // the doubling stops here
};

class CReconnectWatchdog {
public:
    using CDelays = CReconnectDelays;
    using Attempt = std::function<void()>;

    explicit CReconnectWatchdog(Attempt attempt, CDelays delays = {});
    // Stop.
    ~CReconnectWatchdog();
    CReconnectWatchdog(const CReconnectWatchdog&) = delete;
    CReconnectWatchdog& operator=(const CReconnectWatchdog&) = delete;

    // Schedules one attempt after the current delay, unless one is scheduled already; the attempt
    // after it waits twice as long (up to the maximum) unless Reset comes between. Does nothing
    // after Stop.
    void ScheduleRetry();
    // The same at the longest delay (a source that refused its credentials: no use hurrying); the
    // attempts after it stay at the longest delay until Reset.
    void ScheduleSlowRetry();
    // The source works again: a scheduled attempt is dropped and the next ScheduleRetry waits the
    // first delay.
    void Reset();
    // Ends the watchdog's thread; no attempt starts after it returns. Waits for an attempt under
    // way, unless called from inside it.
    void Stop();

    bool IsScheduled() const;
    // The delay that the next ScheduleRetry waits.
    uint32_t GetNextDelayMs() const;
    // Attempts made so far.
    uint64_t GetAttemptCount() const;

private:
    void Worker();

    const Attempt m_attempt;
    const CDelays m_delays;
    mutable std::mutex m_lock; // guards everything below; innermost, never held while calling out
    std::condition_variable m_wake;
    bool m_scheduled = false;
    std::chrono::steady_clock::time_point m_due;
    uint32_t m_nextDelayMs;
    uint64_t m_attempts = 0;
    bool m_stopped = false;
    std::thread m_thread; // started by the first ScheduleRetry
};
