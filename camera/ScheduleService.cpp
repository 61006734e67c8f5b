#include "camera/ScheduleService.h"

#include "foundation/Exceptions.h"

#include <new>
#include <system_error>

CScheduleService::CScheduleService(CScheduleServiceCB* callback, LocalTimeSource clock,
                                   uint32_t passIntervalMs)
    : m_Callback(callback), m_Clock(clock ? std::move(clock) : LocalTimeSource(platform::GetLocalTime)),
      m_PassIntervalMs(passIntervalMs) {}

CScheduleService::~CScheduleService() {
    Stop();
    std::lock_guard guard(m_StartStopLock);
    if (m_Thread.joinable()) {
        m_Thread.join(); // a thread stopped from its own callback is on its way out
    }
}

void CScheduleService::SetSchedule(const CTimeSchedule* schedule) {
    platform::CAutoLock lock(m_Lock);
    if (schedule != nullptr) {
        m_Schedule = *schedule;
        m_ScheduleSet = true;
    } else {
        m_ScheduleSet = false;
    }
}

bool CScheduleService::IsActive() {
    platform::CAutoLock lock(m_Lock);
    return m_Active;
}

void CScheduleService::Evaluate() {
    const platform::SystemTime now = m_Clock();
    // Without a schedule the camera is always active.
    const bool active = m_ScheduleSet ? m_Schedule.IsActiveAt(now) : true;
    if (active == m_Active) {
        return;
    }
    m_Active = active;
    if (m_Callback != nullptr) {
        m_Callback->OnScheduleStateChange(active);
    }
}

void CScheduleService::Start() {
    if (OnWorkerThread()) {
        return; // the service thread is running this very call
    }
    std::lock_guard guard(m_StartStopLock);
    if (m_Running.load()) {
        return;
    }
    if (m_Thread.joinable()) {
        m_Thread.join();
    }
    m_AbortEvent.reset(new (std::nothrow) platform::CEvent(false, false));
    if (!m_AbortEvent) {
        THROW_GENERAL("Unable to create schedule thread abort event.");
    }
    {
        // Under the lock as well: SetSchedule and IsActive may come from other threads meanwhile.
        platform::CAutoLock lock(m_Lock);
        Evaluate();
    }
    m_Running.store(true); // before the thread can call back and stop itself
    try {
        m_Thread = std::thread(&CScheduleService::Worker, this);
    } catch (const std::system_error&) {
        m_Running.store(false);
        m_AbortEvent.reset();
        THROW_GENERAL("Unable to create schedule thread.");
    }
    m_WorkerId.store(m_Thread.get_id());
}

void CScheduleService::Stop() {
    if (OnWorkerThread()) {
        // From inside the callback: the thread ends after this evaluation; joined later.
        if (m_Running.load()) {
            m_AbortEvent->Set();
            m_Running.store(false);
        }
        return;
    }
    std::lock_guard guard(m_StartStopLock);
    if (!m_Running.load()) {
        return;
    }
    m_AbortEvent->Set();
    m_Thread.join();
    m_WorkerId.store(std::thread::id());
    m_AbortEvent.reset();
    m_Running.store(false);
}

void CScheduleService::Worker() {
    m_WorkerId.store(std::this_thread::get_id());
    do {
        platform::CAutoLock lock(m_Lock);
        Evaluate();
    } while (!platform::WaitForObject(*m_AbortEvent, m_PassIntervalMs));
}
