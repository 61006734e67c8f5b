#include "camera/TavrixViewCore.h"

#include "foundation/ErrorReport.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "persistence/Camera.h"
#include "persistence/NotificationLog.h"
#include "persistence/TavrixDoc.h"
#include "recording/CaptureSourceName.h"

#include <algorithm>

CTavrixViewCore::RefreshAction CTavrixViewCore::DecideRefresh(const std::string& deviceName,
                                                              int32_t frameWidth, int32_t frameHeight,
                                                              int32_t captureFps, const CCamera& camera) {
    // A size of 0 asks for the camera's own size (network cameras), which any frame size matches.
    const bool ownSize = camera.m_videoSizeCx <= 0 || camera.m_videoSizeCy <= 0;
    if (deviceName != camera.m_videoDeviceDN ||
        (!ownSize && (frameWidth != camera.m_videoSizeCx || frameHeight != camera.m_videoSizeCy)) ||
        captureFps != camera.m_fps) {
        return RefreshAction::Rebuild;
    }
    return RefreshAction::Start;
}

CTavrixViewCore::CTavrixViewCore(CTavrixDoc& document, CMessageDispatcher& dispatcher,
                                 CCameraViewTiming timing, CHooks hooks)
    : m_document(document), m_dispatcher(dispatcher), m_timing(std::move(timing)), m_hooks(std::move(hooks)) {
    m_targetId = m_dispatcher.Register(this);
}

CTavrixViewCore::~CTavrixViewCore() {
    // Messages still on their way to this view are dropped from here on.
    m_dispatcher.Unregister(m_targetId);
    for (auto& [cameraId, cameraView] : m_cameraViews) {
        if (m_hooks.cameraViewDestroyed) {
            m_hooks.cameraViewDestroyed(*cameraView);
        }
        cameraView.reset();
    }
    m_cameraViews.clear();
    // The cameras raise no more events: the chains they queued (the last recordings' Record Finish
    // among them) run now, within the runner's grace time, and are cut short after it.
    m_document.GetChainRunner().Stop(CEventChainRunner::Clock::now() + CEventChainRunner::kStopGrace);
    // Only now: each camera view waited for its recordings to finish and their record chains have
    // run, and all of that belongs to the document's story before its end.
    CNotificationLog::Instance().AddEntry(m_document.GetTitle(), "", "Document closed");
}

void CTavrixViewCore::Report(const CBaseException& exception, int32_t cameraId) {
    ReportException(exception, m_document.GetTitle(), m_document.GetCameraName(cameraId));
}

template <class F>
void CTavrixViewCore::Guarded(int32_t cameraId, F&& operation) {
    try {
        operation();
    } catch (const CBaseException& exception) {
        Report(exception, cameraId);
    }
}

void CTavrixViewCore::OnInitialUpdate() {
    CNotificationLog::Instance().AddEntry(m_document.GetTitle(), "", "Document opened");
    UpdateCameraViews(true);
}

void CTavrixViewCore::RefreshCameraViews() {
    UpdateCameraViews(false);
}

void CTavrixViewCore::UpdateCameraViews(bool justOpened) {
    const std::vector<int32_t> cameraIds = m_document.GetCameraIds();
    const auto exists = [&cameraIds](int32_t id) {
        return std::find(cameraIds.begin(), cameraIds.end(), id) != cameraIds.end();
    };

    // 1. Camera views whose camera still exists follow its settings.
    for (auto& [cameraId, cameraView] : m_cameraViews) {
        if (!exists(cameraId)) {
            continue;
        }
        CCameraView& view = *cameraView;
        const int32_t id = cameraId;
        Guarded(id, [&] {
            const std::optional<CCamera> camera = m_document.FindCamera(id);
            if (!camera) {
                return;
            }
            if (DecideRefresh(view.GetDeviceName(), view.GetFrameWidth(), view.GetFrameHeight(),
                              view.GetCaptureFps(), *camera) == RefreshAction::Rebuild ||
                view.GetDetectDeviceName() != camera->m_detectDeviceDN) {
                TRACE("CTavrixViewCore::UpdateCameraViews() camera %d gets a new pipeline", id);
                view.TearDown();
                view.BuildGraph();
            } else {
                view.StartGraph();
            }
        });
        // The options apply also when the pipeline could not be built: they are the camera's
        // when its device comes back.
        Guarded(id, [&] { view.SetOptions(); });
    }

    // 2. Camera views whose camera is gone.
    for (auto it = m_cameraViews.begin(); it != m_cameraViews.end();) {
        if (exists(it->first)) {
            ++it;
            continue;
        }
        TRACE("CTavrixViewCore::UpdateCameraViews() camera %d removed", it->first);
        if (m_hooks.cameraViewDestroyed) {
            m_hooks.cameraViewDestroyed(*it->second);
        }
        it = m_cameraViews.erase(it);
    }

    // 3. Cameras without a camera view.
    const bool activate = justOpened && m_document.GetActivateAtStartup();
    for (const int32_t cameraId : cameraIds) {
        if (m_cameraViews.count(cameraId) != 0) {
            continue;
        }
        std::unique_ptr<CCameraView> created;
        Guarded(cameraId, [&] { created = std::make_unique<CCameraView>(this, cameraId, m_timing); });
        if (!created) {
            continue;
        }
        CCameraView& view = *created;
        m_cameraViews.emplace(cameraId, std::move(created));
        if (m_hooks.cameraViewCreated) {
            m_hooks.cameraViewCreated(view);
        }
        // Each step on its own: a camera whose device is missing still gets its options and its
        // activation, and is ready when the device comes back.
        Guarded(cameraId, [&] { view.BuildGraph(); });
        Guarded(cameraId, [&] { view.SetOptions(); });
        if (activate) {
            view.Activate();
        }
    }
}

void CTavrixViewCore::OnUpdate(int hint) {
    TRACE("CTavrixViewCore::OnUpdate() hint %d", hint);
    for (auto& [cameraId, cameraView] : m_cameraViews) {
        switch (hint) {
        case ViewHint::kActivateAll:
            cameraView->Activate();
            break;
        case ViewHint::kDeactivateAll:
            cameraView->Deactivate();
            break;
        case ViewHint::kWindowsLocked:
            cameraView->WindowsLockChanged(true);
            break;
        case ViewHint::kWindowsUnlocked:
            cameraView->WindowsLockChanged(false);
            break;
        default:
            return;
        }
    }
}

void CTavrixViewCore::OnCameraButton(int32_t cameraId) {
    if (CCameraView* view = FindCameraView(cameraId)) {
        Guarded(cameraId, [view] { view->NextState(); });
    }
}

void CTavrixViewCore::OnDevicesChanged(const std::map<std::string, std::string>& devices) {
    for (auto& [cameraId, cameraView] : m_cameraViews) {
        const std::string& deviceName = cameraView->GetDeviceName();
        bool present = true;
        try {
            // Cameras come and go; generated sources are always there.
            if (CCaptureSourceName::Parse(deviceName).kind == CCaptureSourceName::Kind::V4l2) {
                present = devices.count(deviceName) != 0;
            }
        } catch (const CBaseException&) {
            continue; // a name that names no device: nothing can come back
        }
        CCameraView* view = cameraView.get(); // structured bindings cannot be captured before clang 16
        Guarded(cameraId, [view, present] { view->NotifyDevicePresence(present); });
    }
}

void CTavrixViewCore::OnMessage(uint32_t message, uintptr_t wParam, intptr_t /*lParam*/) {
    const auto cameraId = static_cast<int32_t>(wParam);
    CCameraView* view = FindCameraView(cameraId);
    if (view == nullptr) {
        return;
    }
    if (message == ViewMessage::kCameraChanged) {
        if (m_hooks.cameraChanged) {
            m_hooks.cameraChanged(*view);
        }
    } else if (message == ViewMessage::kCameraReconnected) {
        TRACE("CTavrixViewCore::OnMessage() reconnect camera %d", cameraId);
        Guarded(cameraId, [view] { view->Reconnect(); });
    } else if (message == ViewMessage::kCameraRetryDevice) {
        Guarded(cameraId, [view] { view->RetryLostDevice(); });
    }
}

CCameraView* CTavrixViewCore::FindCameraView(int32_t cameraId) {
    const auto found = m_cameraViews.find(cameraId);
    return found != m_cameraViews.end() ? found->second.get() : nullptr;
}

std::vector<int32_t> CTavrixViewCore::GetCameraViewIds() const {
    std::vector<int32_t> ids;
    for (const auto& [cameraId, cameraView] : m_cameraViews) {
        ids.push_back(cameraId);
    }
    return ids;
}

void CTavrixViewCore::PostCameraMessage(uint32_t message, int32_t cameraId) {
    m_dispatcher.Post(m_targetId, message, static_cast<uintptr_t>(cameraId));
}

std::unique_ptr<IVideoRenderer> CTavrixViewCore::CreateVideoRenderer(int32_t cameraId) {
    if (m_hooks.createRenderer) {
        return m_hooks.createRenderer(cameraId);
    }
    return std::make_unique<CNullVideoRenderer>();
}
