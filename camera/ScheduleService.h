#pragma once
// Checks one camera's time schedule against the local clock once a second on a thread of its own
// and calls the camera view back whenever the answer changes. One per camera view, which sets the
// schedule when its options are applied, starts the service while it builds its pipeline and
// stops it when it clears the pipeline or is destroyed.
//
// Threads: SetSchedule, IsActive, Start and Stop come from the camera view's threads; the
// callback runs on the service thread (or, for the first evaluation, on the caller of Start) with
// the service lock held. The callback may call IsActive (the lock is re-entrant) and takes the
// camera lock inside: lock order service lock -> camera lock.

#include "camera/TimeSchedule.h"
#include "platform/Sync.h"
#include "platform/Time.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class CScheduleServiceCB {
public:
    virtual ~CScheduleServiceCB() = default;
    // The schedule's state changed to active.
    virtual void OnScheduleStateChange(bool active) = 0;
};

class CScheduleService {
public:
    using LocalTimeSource = std::function<platform::SystemTime()>;

    // clock: the local time (tests set their own); passIntervalMs: the wait between two
    // evaluations, a second in the application.
    explicit CScheduleService(CScheduleServiceCB* callback, LocalTimeSource clock = platform::GetLocalTime,
                              uint32_t passIntervalMs = 1000);
    ~CScheduleService();
    CScheduleService(const CScheduleService&) = delete;
    CScheduleService& operator=(const CScheduleService&) = delete;

    // Copies the schedule; null means none (always active). Takes effect at the next evaluation.
    void SetSchedule(const CTimeSchedule* schedule);
    // The last evaluated state.
    bool IsActive();
    // Evaluates once on the calling thread (calling back when the schedule says active), then
    // starts the service thread. Does nothing when already running. Throws CGeneralEx when the
    // abort event or the thread cannot be created; the service is then not running.
    void Start();
    // Ends the thread and waits for it. Does nothing when not running. Called from inside the
    // callback it does not wait (the thread ends after the current evaluation).
    void Stop();
    bool IsRunning() const { return m_Running.load(); }

private:
    void Evaluate(); // with m_Lock held
    void Worker();
    bool OnWorkerThread() const { return std::this_thread::get_id() == m_WorkerId.load(); }

    CScheduleServiceCB* const m_Callback;
    const LocalTimeSource m_Clock;
    const uint32_t m_PassIntervalMs;
    // Guards the schedule, whether one is set, and the state. Taken before the camera lock.
    platform::CCritSec m_Lock;
    CTimeSchedule m_Schedule;
    bool m_ScheduleSet = false;
    bool m_Active = false;
    std::unique_ptr<platform::CEvent> m_AbortEvent; // auto reset, created by Start
    // Serialises Start and Stop; never taken on the service thread. Re-entrant, because the
    // first evaluation calls back from inside Start.
    std::recursive_mutex m_StartStopLock;
    std::thread m_Thread;
    std::atomic<std::thread::id> m_WorkerId{};
    std::atomic<bool> m_Running{false};
};
