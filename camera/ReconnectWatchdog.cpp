#include "camera/ReconnectWatchdog.h"

#include "foundation/Tracer.h"

#include <algorithm>

CReconnectWatchdog::CReconnectWatchdog(Attempt attempt, CDelays delays)
    : m_attempt(std::move(attempt)), m_delays{std::max<uint32_t>(delays.firstMs, 1),
                                              std::max(delays.maxMs, std::max<uint32_t>(delays.firstMs, 1))},
      m_nextDelayMs(m_delays.firstMs) {}

CReconnectWatchdog::~CReconnectWatchdog() {
    Stop();
    if (m_thread.joinable()) {
        // Stopped from inside the attempt earlier: the thread has ended or is ending.
        m_thread.join();
    }
}

void CReconnectWatchdog::ScheduleRetry() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_stopped || m_scheduled) {
        return;
    }
    m_scheduled = true;
    m_due = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_nextDelayMs);
    TRACE("CReconnectWatchdog::ScheduleRetry() next attempt in %u ms", m_nextDelayMs);
    m_nextDelayMs = m_nextDelayMs > m_delays.maxMs / 2 ? m_delays.maxMs : m_nextDelayMs * 2;
    if (!m_thread.joinable()) {
        m_thread = std::thread(&CReconnectWatchdog::Worker, this);
    }
    m_wake.notify_all();
}

void CReconnectWatchdog::ScheduleSlowRetry() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_stopped || m_scheduled) {
            return;
        }
        m_nextDelayMs = m_delays.maxMs;
    }
    ScheduleRetry();
}

void CReconnectWatchdog::Reset() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_scheduled = false;
    m_nextDelayMs = m_delays.firstMs;
    m_wake.notify_all();
}

void CReconnectWatchdog::Stop() {
    std::thread worker;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopped = true;
        m_scheduled = false;
        m_wake.notify_all();
        if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
            worker = std::move(m_thread);
        }
    }
    if (worker.joinable()) {
        worker.join();
    }
}

bool CReconnectWatchdog::IsScheduled() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_scheduled;
}

uint32_t CReconnectWatchdog::GetNextDelayMs() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_nextDelayMs;
}

uint64_t CReconnectWatchdog::GetAttemptCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_attempts;
}

void CReconnectWatchdog::Worker() {
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_stopped) {
        if (!m_scheduled) {
            m_wake.wait(lock);
            continue;
        }
        if (std::chrono::steady_clock::now() < m_due) {
            m_wake.wait_until(lock, m_due);
            continue;
        }
        m_scheduled = false;
        ++m_attempts;
        lock.unlock();
        TRACE("CReconnectWatchdog::Worker() attempt");
        if (m_attempt) {
            m_attempt();
        }
        lock.lock();
    }
}
