#include "camera/CountDownTimer.h"

#include "foundation/Exceptions.h"

#include <chrono>
#include <new>
#include <system_error>

CCountDownTimer::CCountDownTimer(CCountDownTimerCB* callback, uint32_t tickIntervalMs)
    : m_Callback(callback), m_TickIntervalMs(tickIntervalMs) {
    m_AbortEvent.reset(new (std::nothrow) platform::CEvent(false, false));
    if (!m_AbortEvent) {
        THROW_GENERAL("Unable to create schedule thread abort event.");
    }
}

CCountDownTimer::~CCountDownTimer() {
    Stop();
    std::lock_guard guard(m_StartStopLock);
    if (m_Thread.joinable()) {
        m_Thread.join(); // a worker that stopped itself is on its way out
    }
}

void CCountDownTimer::Start(int32_t seconds) {
    if (OnWorkerThread()) {
        THROW_GENERAL("Unable to create count down timer thread.");
    }
    std::lock_guard guard(m_StartStopLock);
    StopAndJoin();
    if (m_Thread.joinable()) {
        m_Thread.join();
    }
    m_Remaining.store(seconds < 1 ? 1 : seconds);
    m_StopRequested.store(false);
    // A stop that came after the worker had ended by itself left the event signalled.
    m_AbortEvent->Reset();
    m_Running.store(true); // before the thread can tick and stop itself
    try {
        m_Thread = std::thread(&CCountDownTimer::Worker, this);
    } catch (const std::system_error&) {
        m_Running.store(false);
        THROW_GENERAL("Unable to create count down timer thread.");
    }
    m_WorkerId.store(m_Thread.get_id());
}

void CCountDownTimer::Stop() {
    if (OnWorkerThread()) {
        // Inside the tick: the worker ends when the tick returns; joined later.
        if (m_Running.load()) {
            m_StopRequested.store(true);
            m_Running.store(false);
        }
        return;
    }
    std::lock_guard guard(m_StartStopLock);
    StopAndJoin();
}

void CCountDownTimer::StopAndJoin() {
    if (!m_Running.load()) {
        return;
    }
    m_StopRequested.store(true);
    m_AbortEvent->Set();
    if (m_Thread.joinable()) {
        m_Thread.join();
    }
    m_WorkerId.store(std::thread::id());
    m_Running.store(false);
}

std::unique_lock<platform::CCritSec> CCountDownTimer::LockUnlessStopping(platform::CCritSec& lock) {
    std::unique_lock<platform::CCritSec> guard(lock, std::try_to_lock);
    while (!guard.owns_lock() && !m_StopRequested.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        guard.try_lock();
    }
    return guard;
}

void CCountDownTimer::Worker() {
    m_WorkerId.store(std::this_thread::get_id());
    for (;;) {
        if (platform::WaitForObject(*m_AbortEvent, m_TickIntervalMs)) {
            return;
        }
        int32_t remaining;
        {
            platform::CAutoLock lock(m_TimerLock);
            remaining = m_Remaining.load() - 1;
            m_Remaining.store(remaining);
            if (m_Callback) {
                m_Callback->OnCountDownTick(remaining);
            }
        }
        if (remaining <= 0 || m_StopRequested.load()) {
            return;
        }
    }
}
