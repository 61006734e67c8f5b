#include "actions/ChildReaper.h"

#include <cerrno>
#include <chrono>
#include <sys/wait.h>

CChildReaper& CChildReaper::Instance() {
    static CChildReaper reaper;
    return reaper;
}

CChildReaper::~CChildReaper() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CChildReaper::Watch(pid_t pid) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pids.insert(pid);
    if (!m_thread.joinable()) {
        m_thread = std::thread([this] { Run(); });
    }
    m_wake.notify_all();
}

size_t CChildReaper::Pending() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pids.size();
}

void CChildReaper::Run() {
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_stop) {
        if (m_pids.empty()) {
            m_wake.wait(guard, [this] { return m_stop || !m_pids.empty(); });
            continue;
        }
        for (auto it = m_pids.begin(); it != m_pids.end();) {
            int status = 0;
            pid_t result = ::waitpid(*it, &status, WNOHANG);
            // Collected, or no longer our child to wait for (ECHILD): forget it either way.
            if (result == *it || (result < 0 && errno != EINTR)) {
                it = m_pids.erase(it);
            } else {
                ++it;
            }
        }
        m_wake.wait_for(guard, std::chrono::milliseconds(kPollMs));
    }
}
