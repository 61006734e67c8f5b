#pragma once
// The activation countdown of one camera: a worker thread that counts seconds down and calls the
// camera view back once a second with the seconds that remain (N-1, ..., 0); the camera view
// redraws its title on each tick and ends the countdown at 0.
//
// Threads: Start and Stop come from the user-interface thread or from whatever thread makes the
// camera leave its countdown state, with the camera lock held; the tick runs on the worker with
// the timer lock held; GetRemaining comes from the user-interface thread while it draws.
//
// Stop and the final tick: Stop, called with the camera lock held, waits for the worker, while
// the final tick needs the camera lock. So the tick takes the camera lock through
// LockUnlessStopping, which gives up as soon as a stop has been requested: the tick then returns
// without touching the camera (whoever stopped the countdown has already decided the camera's
// state), the worker ends, and Stop's wait ends. Stop called from inside the tick does not wait;
// the finished worker is joined by the next Start or by the destructor.

#include "platform/Sync.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

class CCountDownTimerCB {
public:
    virtual ~CCountDownTimerCB() = default;
    // One tick, on the countdown thread with the timer lock held: the seconds that remain.
    virtual void OnCountDownTick(int32_t remainingSeconds) = 0;
};

class CCountDownTimer {
public:
    // tickIntervalMs: the time between ticks, a second in the application (shorter in tests).
    // Throws CGeneralEx when the abort event cannot be created.
    explicit CCountDownTimer(CCountDownTimerCB* callback, uint32_t tickIntervalMs = 1000);
    ~CCountDownTimer();
    CCountDownTimer(const CCountDownTimer&) = delete;
    CCountDownTimer& operator=(const CCountDownTimer&) = delete;

    // Starts counting down from seconds (a running countdown is stopped first). A count below 1
    // counts as 1: one tick, with 0. Throws CGeneralEx when the thread cannot be created, or
    // when called from inside a tick of this timer.
    void Start(int32_t seconds);
    // Ends the countdown and waits for the worker, unless called on the worker itself. Does
    // nothing when not running.
    void Stop();
    int32_t GetRemaining() const { return m_Remaining.load(); }
    bool IsRunning() const { return m_Running.load(); }
    bool IsStopRequested() const { return m_StopRequested.load(); }

    // For the tick: takes lock, polling, unless a stop is requested before it can be had. The
    // returned guard does not own the lock when the tick must give up.
    std::unique_lock<platform::CCritSec> LockUnlessStopping(platform::CCritSec& lock);

private:
    void Worker();
    void StopAndJoin(); // with m_StartStopLock held, not on the worker
    bool OnWorkerThread() const { return std::this_thread::get_id() == m_WorkerId.load(); }

    CCountDownTimerCB* const m_Callback;
    const uint32_t m_TickIntervalMs;
    std::atomic<int32_t> m_Remaining{0};
    std::atomic<bool> m_Running{false};
    std::atomic<bool> m_StopRequested{false};
    platform::CCritSec m_TimerLock;                 // held during each tick; taken before the camera lock
    std::unique_ptr<platform::CEvent> m_AbortEvent; // auto reset
    // Serialises Start and Stop from different threads; never taken on the worker, so a Stop
    // that waits for the worker while holding it cannot block the worker.
    std::mutex m_StartStopLock;
    std::thread m_Thread;
    std::atomic<std::thread::id> m_WorkerId{};
};
