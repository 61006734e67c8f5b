// The failures of a camera view (recordings that fail, a capture device that is lost) and how it
// recovers from those that pass by itself: a record folder that was missing or a disk that was
// full (the camera is Unable2Rec), a capture device that was lost while the device list still
// shows it (the camera is Unavailable), and one that the device list reports back.
//
// Unable2Rec: the next motion, and every recordRetryMs while motion lasts, checks the record path
// again (on the streaming thread, outside the camera lock); when it is usable, the recording
// failure is cleared and the state manager takes the camera back to Recording (or whatever the
// other inputs give), which starts a new recording. A failed check is logged at most once in
// recordRetryLogMs; so is a recording that fails to start after the check said yes (its failure
// is reported as every recording failure is), as the next try then waits that long.
//
// Unavailable: the re-connection watchdog asks (message 3026) for a new pipeline after 2, 4, ...
// 60 s; a failed attempt stays quiet and waits for the next one. A network camera's attempt fails
// or succeeds later, on its stream (CameraViewStream.cpp); one that refused the credentials is
// tried at the longest delay only.

#include "camera/CameraView.h"

#include "camera/MessageDispatcher.h"
#include "foundation/ErrorReport.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "network/NetworkSource.h"
#include "persistence/NotificationLog.h"
#include "recording/RecordContext.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>

namespace {

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr int64_t kNsPerMs = 1000000;

// A disk with less room than this cannot take a recording's first seconds.
constexpr uint64_t kMinFreeBytes = 256 * 1024;

// Why the record path cannot take a recording now, or empty when it can.
std::string RecordPathProblem(const std::string& path) {
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return "The record path is invalid.";
    }
    if (::access(path.c_str(), W_OK | X_OK) != 0) {
        return "The record path is not writable.";
    }
    struct statvfs disk {};
    if (::statvfs(path.c_str(), &disk) == 0 &&
        static_cast<uint64_t>(disk.f_bavail) * static_cast<uint64_t>(disk.f_frsize) < kMinFreeBytes) {
        return "The disk of the record path is full.";
    }
    return {};
}

} // namespace

// ---- recording failures ----

void CCameraView::AsyncRecContextFailed(CRecContext* rc) {
    TRACE("CCameraView::AsyncRecContextFailed(RC = %p) Enter", static_cast<void*>(rc));
    {
        platform::CAutoLock lock(m_cameraLock);
        TRACE("CCameraView::AsyncRecContextFailed() got crit sec");
        m_stateMgr.SetInput(CCamViewStateMgr::kRecordFailed, true);
        if (rc == m_masterRC) {
            m_masterRC = nullptr;
        }
        PostRedraw();
    }
    TRACE("CCameraView::AsyncRecContextFailed() exit");
}

void CCameraView::DxEventRec(CRecContext* rc, long code, LONG_PTR param1, LONG_PTR /*param2*/) {
    TRACE("CCameraView::DxEventRec() called from rc %p", static_cast<void*>(rc));
    if (code == EC_ERRORABORT) {
        const auto hr = static_cast<HRESULT>(param1);
        if (hr == NS_E_INVALID_REQUEST) {
            TRACE("CCameraView::DxEventRec() Got NS_E_INVALID_REQUEST error. Ignore...");
        } else {
            TRACE("CCameraView::DxEventRec() Wait for crit sec");
            platform::CAutoLock lock(m_cameraLock);
            TRACE("CCameraView::DxEventRec() got crit sec");
            std::string text = "Recording failed because of a fatal error.";
            if (hr == HRESULT_DISK_FULL) {
                text += "(Disk full)";
            } else {
                text += "(hr = " + std::to_string(static_cast<int32_t>(hr)) + ")";
            }
            CNotificationLog::Instance().AddErrorEntry(GetDocumentName(), GetCameraName(), text);
            m_stateMgr.SetInput(CCamViewStateMgr::kRecordFailed, true);
            if (rc == m_masterRC) {
                TRACE("CCameraView::DxEventRec() kill master RC from camview");
                m_masterRC = nullptr;
            }
            if (rc != nullptr) {
                rc->ForceStopRecord();
            }
        }
    }
    TRACE("CCameraView::DxEventRec() finished");
}

// ---- a camera unable to record tries again ----

void CCameraView::RetryRecordingIfDue() {
    if (!m_motionActive.load() || m_stateMgr.GetState() != CCamViewStateMgr::kUnable2Rec) {
        return;
    }
    if (NowNs() - m_lastRecordTryNs.load() >= static_cast<int64_t>(m_timing.recordRetryMs) * kNsPerMs) {
        RetryRecording();
    }
}

void CCameraView::RetryRecording() {
    m_statRecordRetries.fetch_add(1);
    const int64_t now = NowNs();
    const int64_t logNs = static_cast<int64_t>(m_timing.recordRetryLogMs) * kNsPerMs;
    const int64_t startedNs = m_retryStartedNs.load();
    if (startedNs != 0 && now - startedNs < logNs) {
        // The last try found the path usable, yet its recording failed and was reported: another
        // report waits for the log's interval.
        TRACE("CCameraView::RetryRecording() the last try failed to record; waiting");
        return;
    }
    m_lastRecordTryNs.store(now);
    const std::string path = GetRecordPath();
    const std::string problem = RecordPathProblem(path);
    if (!problem.empty()) {
        TRACE("CCameraView::RetryRecording() '%s': %s", path.c_str(), problem.c_str());
        const int64_t lastLog = m_lastRetryLogNs.load();
        if (lastLog == 0 || now - lastLog >= logNs) {
            m_lastRetryLogNs.store(now);
            CNotificationLog::Instance().AddErrorEntry(GetDocumentName(), GetCameraName(),
                                                       "Still unable to record: " + problem);
        }
        return;
    }
    TRACE("CCameraView::RetryRecording() the record path is usable again");
    platform::CAutoLock lock(m_cameraLock);
    if (m_stateMgr.GetState() == CCamViewStateMgr::kUnable2Rec) {
        m_retryStartedNs.store(now); // until the recording runs (Record Begin)
        m_stateMgr.SetInput(CCamViewStateMgr::kRecordFailed, false);
    }
}

// ---- events of the preview pipeline: the device lost and back ----

void CCameraView::NotifyDevicePresence(bool present) {
    m_deviceAbsent.store(!present);
    if (!present) {
        // Nothing to try while the device is gone: its return rebuilds the camera.
        m_deviceWatchdog.Reset();
    }
    if (present != m_deviceLost.load()) {
        return; // nothing new: present and running, or gone and known to be gone
    }
    TRACE("CCameraView::NotifyDevicePresence() device %s", present ? "back" : "gone");
    const LONG_PTR back = present ? 1 : 0;
    if (m_graph == nullptr || !CDxEventRec::PostEvent(m_graph, EC_DEVICE_LOST, 0, back)) {
        // No pipeline whose events could carry the news: handled here.
        DxEvent(EC_DEVICE_LOST, 0, back);
    }
}

void CCameraView::DxEvent(long code, LONG_PTR param1, LONG_PTR param2) {
    TRACE("CCameraView::DxEvent()--> Event code: %#04x Params: %d, %d", static_cast<unsigned>(code),
          static_cast<int>(param1), static_cast<int>(param2));
    if (code == EC_ERRORABORT) {
        // The capture stopped with an error (a camera unplugged, a device that failed): as lost.
        TRACE("CCameraView::DxEvent() error of the preview graph: the capture device is lost");
        code = EC_DEVICE_LOST;
        param2 = 0;
    }
    if (code != EC_DEVICE_LOST) {
        return;
    }
    try {
        if (param2 == 0) {
            DeviceLost();
        } else {
            CNotificationLog::Instance().AddEntry(GetDocumentName(), GetCameraName(),
                                                  "Capturing device re-connected.");
            m_view->PostCameraMessage(ViewMessage::kCameraReconnected, m_cameraId);
        }
    } catch (const CBaseException& e) {
        ReportException(e, GetDocumentName(), GetCameraName());
    }
}

void CCameraView::DeviceLost() {
    TRACE("CCameraView::DeviceLost() called");
    {
        platform::CAutoLock lock(m_cameraLock);
        TRACE("CCameraView::DeviceLost() got crit sec");
        // A network stream that had not delivered frames yet: its start failed.
        const bool startFailed = m_streamPending.exchange(false);
        if (m_deviceLost.exchange(true)) {
            if (!startFailed) {
                // The loss shows up as several errors at once; the first one was handled.
                TRACE("CCameraView::DeviceLost() already lost");
                return;
            }
            // An attempt to re-connect a network camera failed: quietly, the next one follows.
            TRACE("CCameraView::DeviceLost() the re-connection failed: %s",
                  m_stream ? m_stream->GetError().c_str() : "");
        } else {
            CNotificationLog::Instance().AddErrorEntry(GetDocumentName(), GetCameraName(),
                                                       "Capturing device lost.");
            m_stateMgr.SetInput(CCamViewStateMgr::kDeviceAvailable, false);
        }
    }
    const bool refused = m_stream && m_stream->IsAuthFailed();
    if (refused) {
        ReportAuthFailure();
    }
    const bool finished = m_stream && m_stream->IsFinished();
    if (finished) {
        // A video file without loop played to its end: connecting again would only play it once
        // more, a loop nobody asked for. The camera stays Unavailable until it is started anew.
        TRACE("CCameraView::DeviceLost() the video file has ended: no re-connection");
    } else if (!m_deviceAbsent.load()) {
        // A device that is still listed (a pipeline error, a test source that failed, a network
        // camera) comes back only if someone tries: the watchdog does, with growing delays.
        if (refused) {
            m_deviceWatchdog.ScheduleSlowRetry();
        } else {
            m_deviceWatchdog.ScheduleRetry();
        }
    }
    // Stopped without the camera lock: stopping waits for the streaming thread, which may be
    // waiting for that lock with a frame.
    if (m_graph != nullptr && gst_element_set_state(m_graph, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        HideVideoWindow();
        THROW_DIRECTX(E_FAIL, "Unable to stop preview graph.");
    }
    HideVideoWindow();
    TRACE("CCameraView::DeviceLost() finished");
}

void CCameraView::Reconnect() {
    if (m_graph != nullptr && !m_deviceLost.load()) {
        // Running again already (the watchdog was quicker): the pipeline stays.
        TRACE("CCameraView::Reconnect() the device runs already");
        return;
    }
    TearDown();
    try {
        BuildGraph();
    } catch (const CBaseException&) {
        // Listed but not working yet (still busy, still starting): the watchdog tries again.
        if (!m_deviceAbsent.load()) {
            m_deviceWatchdog.ScheduleRetry();
        }
        throw;
    }
    if (m_stream) {
        return; // a network stream: its frames complete the start (CompleteStreamStart)
    }
    m_deviceWatchdog.Reset();
    SetInput(CCamViewStateMgr::kDeviceAvailable, true);
}

void CCameraView::RetryLostDevice() {
    if (m_streamPending.load()) {
        // The stream watch saw the first frames of a network stream.
        CompleteStreamStart();
        return;
    }
    if (!m_deviceLost.load() || m_deviceAbsent.load()) {
        TRACE("CCameraView::RetryLostDevice() nothing to do");
        return;
    }
    TRACE("CCameraView::RetryLostDevice() a new pipeline for the lost device");
    try {
        TearDown();
        BuildGraph();
    } catch (const CBaseException& e) {
        // Still gone: the state stays Unavailable and the next attempt comes later.
        TRACE("CCameraView::RetryLostDevice() failed: %s", e.GetMessage().c_str());
        if (!m_deviceAbsent.load()) {
            m_deviceWatchdog.ScheduleRetry();
        }
        return;
    }
    if (m_stream) {
        // Started, not yet running: its frames complete the re-connection, or its failure is
        // another quiet attempt.
        return;
    }
    m_deviceWatchdog.Reset();
    CNotificationLog::Instance().AddEntry(GetDocumentName(), GetCameraName(),
                                          "Capturing device re-connected.");
    SetInput(CCamViewStateMgr::kDeviceAvailable, true);
}
