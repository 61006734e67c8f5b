#include "network/StreamWatch.h"

#include "foundation/Tracer.h"

#include <algorithm>
#include <chrono>

namespace {

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr int64_t kNsPerMs = 1000000;

} // namespace

CNetworkStreamWatch::CNetworkStreamWatch(std::shared_ptr<CNetworkStreamState> stream, CTiming timing,
                                         CCallbacks callbacks)
    : m_stream(std::move(stream)), m_timing(timing), m_callbacks(std::move(callbacks)) {
    m_thread = std::thread(&CNetworkStreamWatch::Worker, this);
}

CNetworkStreamWatch::~CNetworkStreamWatch() {
    Stop();
}

void CNetworkStreamWatch::Started() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_started = true;
}

void CNetworkStreamWatch::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopped = true;
        m_wake.notify_all();
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CNetworkStreamWatch::Worker() {
    const int64_t begunNs = NowNs();
    bool timedOut = false;
    bool healthy = false;
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_stopped) {
        m_wake.wait_for(lock, std::chrono::milliseconds(m_timing.pollMs));
        if (m_stopped) {
            break;
        }
        const bool started = m_started;
        lock.unlock();
        const int64_t now = NowNs();
        const int64_t frames = m_stream->GetFrames();
        const int64_t lastNs = frames > 0 ? m_stream->GetLastFrameNs() : begunNs;
        if (frames > 0 && !started && !timedOut && m_callbacks.firstFrame) {
            m_callbacks.firstFrame();
        }
        if (!timedOut && now - lastNs >= static_cast<int64_t>(m_timing.timeoutMs) * kNsPerMs) {
            timedOut = true;
            TRACE("CNetworkStreamWatch: no frame for %u ms (%lld frames so far)", m_timing.timeoutMs,
                  static_cast<long long>(frames));
            if (m_callbacks.timedOut) {
                m_callbacks.timedOut();
            }
        }
        const int64_t firstNs = m_stream->GetFirstFrameNs();
        if (!healthy && !timedOut && firstNs != 0 &&
            now - firstNs >= static_cast<int64_t>(m_timing.healthyMs) * kNsPerMs) {
            healthy = true;
            if (m_callbacks.healthy) {
                m_callbacks.healthy();
            }
        }
        lock.lock();
    }
}

CNetworkStreamWatch::CTiming CNetworkStreamWatch::CTiming::ForTimeout(int32_t timeoutSeconds,
                                                                      uint32_t healthyMs, uint32_t pollMs) {
    constexpr int32_t kMaxTimeoutSeconds = 3600;
    return {static_cast<uint32_t>(std::clamp(timeoutSeconds, 1, kMaxTimeoutSeconds)) * 1000, healthyMs,
            pollMs};
}
