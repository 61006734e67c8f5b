#include "app/ServiceNotifier.h"

#include "app/TavrixAppCore.h"
#include "camera/CamViewStateMgr.h"
#include "camera/CameraView.h"
#include "camera/TavrixViewCore.h"
#include "foundation/Tracer.h"
#include "persistence/TavrixDoc.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

std::vector<IFrameProgress::CCamera> CAppFrameProgress::SampleFrames() {
    std::vector<CCamera> cameras;
    for (CTavrixViewCore* view : m_app.GetViews()) {
        for (const int32_t cameraId : view->GetCameraViewIds()) {
            CCameraView* camera = view->FindCameraView(cameraId);
            // A network camera's frames stop when its network does: its own stream watch takes it
            // for lost after its .StreamTimeout and re-connects it, no reason to restart the service.
            if (camera == nullptr || !camera->HasGraph() || camera->IsNetworkSource() ||
                camera->GetState() == CCamViewStateMgr::kUnavailable) {
                continue;
            }
            CCamera sample;
            // Not the view's address: a document re-opened by a reload may get the closed one's,
            // and its camera would be compared with the closed camera's count.
            sample.key = std::to_string(camera->GetInstanceSerial());
            sample.name =
                "camera '" + camera->GetCameraName() + "' of '" + view->GetDocument().GetTitle() + "'";
            sample.frames = camera->GetStats().frames;
            cameras.push_back(std::move(sample));
        }
    }
    return cameras;
}

std::vector<std::string> CFrameStallCheck::Update(const std::vector<IFrameProgress::CCamera>& cameras,
                                                  Clock::time_point now) {
    std::map<std::string, CSeen> seen;
    std::vector<std::string> stalled;
    for (const IFrameProgress::CCamera& camera : cameras) {
        CSeen entry{camera.frames, now};
        if (const auto before = m_seen.find(camera.key);
            before != m_seen.end() && before->second.frames == camera.frames) {
            entry.changed = before->second.changed;
            // A camera that has not delivered its first frame is still starting (a document just
            // opened or re-opened by a reload; a device being opened): that may take longer than
            // the gap between two frames.
            const Clock::duration limit = camera.frames == 0 ? 2 * m_limit : m_limit;
            if (now - entry.changed > limit) {
                stalled.push_back(camera.name);
            }
        }
        seen[camera.key] = entry;
    }
    // Cameras left out (no pipeline, unavailable) start afresh when they come back.
    m_seen = std::move(seen);
    return stalled;
}

struct CServiceNotifier::CShared {
    std::mutex lock; // guards stop; held by the timer while it posts, so taken before the dispatcher's
    std::condition_variable wake;
    bool stop = false;
    std::atomic<bool> roundQueued{false};
    // Read and cleared on the delivering thread only.
    CServiceNotifier* owner = nullptr;
};

CServiceNotifier::CServiceNotifier(CMessageDispatcher& dispatcher, std::unique_ptr<IFrameProgress> frames)
    : m_dispatcher(dispatcher), m_frames(std::move(frames)),
      m_stallCheck(CFrameStallCheck::Clock::duration::zero()), m_shared(std::make_shared<CShared>()) {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    m_enabled = socket != nullptr && *socket != '\0';
    uint64_t watchdogUs = 0;
    if (m_enabled && sd_watchdog_enabled(0, &watchdogUs) > 0 && watchdogUs > 0) {
        m_watchdog = std::chrono::microseconds(watchdogUs);
        // A frame thread is taken for wedged after half the interval without a frame, so that the
        // last feeding is at most that long before systemd's limit.
        m_stallCheck = CFrameStallCheck(m_watchdog / 2);
    }
    m_shared->owner = this;
    TRACE("CServiceNotifier() notify %d watchdog %lld us", m_enabled ? 1 : 0,
          static_cast<long long>(m_watchdog.count()));
}

CServiceNotifier::~CServiceNotifier() {
    m_shared->owner = nullptr;
    if (m_timer.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_shared->lock);
            m_shared->stop = true;
        }
        m_shared->wake.notify_all();
        m_timer.join();
    }
    if (m_ready) {
        Send("STOPPING=1\nSTATUS=Stopping");
    }
}

std::unique_ptr<CServiceNotifier>
CServiceNotifier::StartFor(CTavrixAppCore& app, CMessageDispatcher& dispatcher, size_t openDocuments) {
    auto notifier = std::make_unique<CServiceNotifier>(dispatcher, std::make_unique<CAppFrameProgress>(app));
    notifier->NotifyReady("Running " + std::to_string(openDocuments) +
                          (openDocuments == 1 ? " document" : " documents"));
    return notifier;
}

void CServiceNotifier::NotifyReady(const std::string& status) {
    if (!m_enabled || m_ready) {
        return;
    }
    m_ready = true;
    m_readyStatus = status;
    Send("READY=1\nSTATUS=" + status);
    if (m_watchdog.count() > 0) {
        m_timer = std::thread([this] { TimerLoop(); });
    }
}

void CServiceNotifier::NotifyReloading() {
    if (m_enabled && m_ready) {
        Send("RELOADING=1\nSTATUS=Reloading");
    }
}

void CServiceNotifier::NotifyReloaded(const std::string& status) {
    if (m_enabled && m_ready) {
        m_readyStatus = status;
        Send("READY=1\nSTATUS=" + status);
    }
}

void CServiceNotifier::TimerLoop() {
    const std::shared_ptr<CShared> shared = m_shared;
    const auto period = m_watchdog / 2;
    std::unique_lock<std::mutex> lock(shared->lock);
    while (!shared->wake.wait_for(lock, period, [&shared] { return shared->stop; })) {
        // One round at a time: rounds that a busy main loop could not run are not piled up.
        if (!shared->roundQueued.exchange(true)) {
            m_dispatcher.PostCall([shared] {
                shared->roundQueued = false;
                if (shared->owner != nullptr) {
                    shared->owner->WatchdogRound();
                }
            });
        }
    }
}

void CServiceNotifier::WatchdogRound() {
    const std::vector<std::string> stalled =
        m_stallCheck.Update(m_frames->SampleFrames(), CFrameStallCheck::Clock::now());
    for (const std::string& name : stalled) {
        if (std::find(m_stalled.begin(), m_stalled.end(), name) == m_stalled.end()) {
            std::fprintf(
                stderr,
                "tavrix: %s has delivered no frame for %.1f s: the service watchdog is no longer fed\n",
                name.c_str(), static_cast<double>(m_watchdog.count()) / 2e6);
            std::fflush(stderr);
        }
    }
    if (stalled.empty()) {
        Send(m_stalled.empty() ? "WATCHDOG=1" : "WATCHDOG=1\nSTATUS=" + m_readyStatus);
    } else if (stalled != m_stalled) {
        Send("STATUS=No frames from " + stalled.front() + (stalled.size() > 1 ? " and others" : ""));
    }
    m_stalled = stalled;
}

void CServiceNotifier::Send(const std::string& state) {
    const int result = sd_notify(0, state.c_str());
    if (result < 0) {
        TRACE("CServiceNotifier::Send() '%s' failed: %d", state.c_str(), result);
    }
}
