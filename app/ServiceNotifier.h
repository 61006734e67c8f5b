#pragma once
// CServiceNotifier tells the service manager (systemd) how the headless shell is doing, through
// sd_notify: "READY=1" once the documents are open, "WATCHDOG=1" at half the watchdog interval
// while the frame threads of the running cameras deliver frames, "STOPPING=1" when the run ends.
// A camera whose frame counter has not moved for half the watchdog interval is taken for a wedged
// frame thread: the watchdog is no longer fed (the status line names the camera) and systemd
// restarts the service when the interval runs out. Without NOTIFY_SOCKET (not started as a notify
// service) nothing is sent and no thread is started: the program behaves as without systemd.
//
// Threads: constructed, told and destroyed on the delivering thread of the dispatcher (the
// headless shell's main thread). A timer thread of its own posts each watchdog round to the
// dispatcher, so the round (and the camera sampling) runs on the delivering thread: a wedged main
// loop stops the feeding as well.

#include "camera/MessageDispatcher.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CTavrixAppCore;

// The frame counters the watchdog looks at.
class IFrameProgress {
public:
    struct CCamera {
        std::string key;  // tells cameras apart between samples
        std::string name; // for the status line: document and camera
        int64_t frames = 0;
    };
    // The counters of the cameras whose frame threads should be delivering now (delivering thread).
    virtual std::vector<CCamera> SampleFrames() = 0;
    virtual ~IFrameProgress() = default;
};

// The cameras of every open document of the application that have a pipeline and are not marked
// unavailable (a lost device is the camera's own business, not a wedged thread).
class CAppFrameProgress final : public IFrameProgress {
public:
    explicit CAppFrameProgress(CTavrixAppCore& app) : m_app(app) {}
    std::vector<CCamera> SampleFrames() override;

private:
    CTavrixAppCore& m_app;
};

// Which cameras have stalled: a counter that has not moved for longer than the limit (twice the
// limit for a camera still waiting for its first frame). A camera seen for the first time, or
// again after it was left out, gets the whole limit for its next frame.
class CFrameStallCheck {
public:
    using Clock = std::chrono::steady_clock;
    explicit CFrameStallCheck(Clock::duration limit) : m_limit(limit) {}
    // The names of the stalled cameras after this sample.
    std::vector<std::string> Update(const std::vector<IFrameProgress::CCamera>& cameras,
                                    Clock::time_point now);

private:
    struct CSeen {
        int64_t frames = 0;
        Clock::time_point changed;
    };
    Clock::duration m_limit;
    std::map<std::string, CSeen> m_seen;
};

class CServiceNotifier {
public:
    // Reads NOTIFY_SOCKET and WATCHDOG_USEC (WATCHDOG_PID, when set, must name this process).
    CServiceNotifier(CMessageDispatcher& dispatcher, std::unique_ptr<IFrameProgress> frames);
    // Sends "STOPPING=1" (when ready was sent) and stops the timer thread.
    ~CServiceNotifier();
    CServiceNotifier(const CServiceNotifier&) = delete;
    CServiceNotifier& operator=(const CServiceNotifier&) = delete;

    // The headless shell's hook: a notifier over the application's cameras, ready at once.
    static std::unique_ptr<CServiceNotifier> StartFor(CTavrixAppCore& app, CMessageDispatcher& dispatcher,
                                                      size_t openDocuments);

    // Whether a service manager listens (NOTIFY_SOCKET is set).
    bool IsEnabled() const { return m_enabled; }
    // Zero when the service has no watchdog.
    std::chrono::microseconds GetWatchdogInterval() const { return m_watchdog; }

    // "READY=1" with a status line; the watchdog rounds begin.
    void NotifyReady(const std::string& status);
    // A reload (SIGHUP) begins ("RELOADING=1") and has ended ("READY=1" with the new status line),
    // as systemd wants it of a service that reloads; nothing before NotifyReady.
    void NotifyReloading();
    void NotifyReloaded(const std::string& status);

private:
    struct CShared; // what the timer thread and the posted rounds share

    void TimerLoop();
    void WatchdogRound();
    void Send(const std::string& state);

    CMessageDispatcher& m_dispatcher;
    std::unique_ptr<IFrameProgress> m_frames;
    bool m_enabled = false;
    std::chrono::microseconds m_watchdog{0};
    bool m_ready = false;
    CFrameStallCheck m_stallCheck;
    std::string m_readyStatus;
    std::vector<std::string> m_stalled; // the stalled cameras of the last round
    std::shared_ptr<CShared> m_shared;
    std::thread m_timer;
};
