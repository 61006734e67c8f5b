#pragma once
// CNetworkStreamWatch: watches the frames of one network source's stream for its camera. It
// tells the camera when the first frame has arrived (again and again until the camera says it
// has taken the stream), when no frame has arrived for the stream time-out (once), and when the
// stream has delivered frames without a gap for the healthy time (once), so that the camera can
// count its re-connections as settled.
//
// Threads: constructed and stopped by the camera's user-interface thread; the callbacks run on the
// watch's own thread, with no lock of the watch held, and must not block (they post). m_lock is
// innermost.

#include "network/NetworkSource.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class CNetworkStreamWatch {
public:
    struct CCallbacks {
        std::function<void()> firstFrame; // until Started
        std::function<void()> timedOut;
        std::function<void()> healthy;
    };
    struct CTiming {
        uint32_t timeoutMs = 20000;
        uint32_t healthyMs = 60000;
        uint32_t pollMs = 200;
        // A camera's watch: its .StreamTimeout in seconds (held to 1..3600) as the time-out.
        static CTiming ForTimeout(int32_t timeoutSeconds, uint32_t healthyMs, uint32_t pollMs);
    };

    CNetworkStreamWatch(std::shared_ptr<CNetworkStreamState> stream, CTiming timing, CCallbacks callbacks);
    // Stop.
    ~CNetworkStreamWatch();
    CNetworkStreamWatch(const CNetworkStreamWatch&) = delete;
    CNetworkStreamWatch& operator=(const CNetworkStreamWatch&) = delete;

    // The camera has taken the stream: firstFrame is not called again.
    void Started();
    // Ends the thread; no callback runs after it returns.
    void Stop();

private:
    void Worker();

    const std::shared_ptr<CNetworkStreamState> m_stream;
    const CTiming m_timing;
    const CCallbacks m_callbacks;
    std::mutex m_lock; // guards the flags below; innermost
    std::condition_variable m_wake;
    bool m_stopped = false;
    bool m_started = false;
    std::thread m_thread;
};
