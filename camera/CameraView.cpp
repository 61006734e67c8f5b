#include "camera/CameraView.h"

#include "camera/MessageDispatcher.h"
#include "foundation/ErrorReport.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "network/StreamWatch.h"
#include "persistence/Camera.h"
#include "persistence/ConfigMgrImpl.h"
#include "persistence/NotificationLog.h"
#include "persistence/TavrixDoc.h"
#include "recording/AviRepair.h"
#include "recording/PreEventEncoder.h"
#include "recording/RecordContext.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace {

int64_t MonotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr uint32_t kRecordContextPollMs = 100;

std::atomic<uint64_t> g_nextInstanceSerial{1};

} // namespace

CCameraView::CCameraView(ICameraViewOwner* view, int32_t cameraId, CCameraViewTiming timing)
    : m_view(view), m_document(view->GetDocument()), m_cameraId(cameraId),
      m_instanceSerial(g_nextInstanceSerial.fetch_add(1, std::memory_order_relaxed)),
      m_recordFacts(m_document, cameraId), m_timing(std::move(timing)),
      m_scheduleService(this, m_timing.scheduleClock, m_timing.schedulePassMs), m_motionDetector(this),
      m_preEventBuffer(1), m_countDownTimer(this, m_timing.countdownTickMs), m_stateMgr(this),
      m_deviceWatchdog([this] { m_view->PostCameraMessage(ViewMessage::kCameraRetryDevice, m_cameraId); },
                       m_timing.deviceRetry) {
    m_cameraName = m_document.GetCameraName(m_cameraId);
    m_preEventBuffer.SetNoticeFunction([this](const std::string& text) {
        CNotificationLog::Instance().AddEntry(GetDocumentName(), GetCameraName(), text);
    });
    using M = CCamViewStateMgr;
    m_stateMgr.Register(M::kAnyState, M::kAnyState, [this](int32_t o, int32_t n) { LogStateChange(o, n); });
    m_stateMgr.RegisterOnLeave(M::kRecording, [this](int32_t o, int32_t n) { StopRecordOnLeave(o, n); });
    m_stateMgr.RegisterOnEnter(M::kRecording, [this](int32_t o, int32_t n) { StartRecord(o, n); });
    m_stateMgr.RegisterOnLeave(M::kCntDown, [this](int32_t o, int32_t n) { StopCountDown(o, n); });
    m_stateMgr.RegisterOnEnter(M::kInactive, [this](int32_t, int32_t) { RaiseEvent(EventKind::Deactivate); });
    m_stateMgr.RegisterOnEnter(M::kOffSchedule,
                               [this](int32_t, int32_t) { RaiseEvent(EventKind::Deactivate); });
    m_stateMgr.RegisterOnEnter(M::kIdle, [this](int32_t, int32_t) { RaiseEvent(EventKind::Activate); });
    m_stateMgr.RegisterOnEnter(M::kUnable2Rec,
                               [this](int32_t, int32_t) { RaiseEvent(EventKind::ErrorOccurred); });
    m_stateMgr.RegisterOnEnter(M::kUnavailable,
                               [this](int32_t, int32_t) { RaiseEvent(EventKind::ErrorOccurred); });
    RepairUnfinishedRecordings();
    // Last: the outside interfaces may use the camera from now on.
    CCameraHub::Instance().RegisterCamera(this);
}

void CCameraView::RepairUnfinishedRecordings() {
    // Once per record folder and run of the program: AVI and WMV files a crash left unfinished there
    // become ordinary files again before this camera records anything.
    static std::mutex s_lock;
    static std::set<std::string> s_folders;
    const std::string folder = m_recordFacts.GetRecordPath();
    {
        std::lock_guard<std::mutex> lock(s_lock);
        if (folder.empty() || !s_folders.insert(folder).second) {
            return;
        }
    }
    for (const avirepair::CResult& result : avirepair::RepairFolder(folder)) {
        const std::string text =
            result.repaired
                ? "Repaired the unfinished recording '" + result.file +
                      "': " + std::to_string(result.frames) + " frames indexed."
                : "Could not repair the unfinished recording '" + result.file + "': " + result.problem + ".";
        CNotificationLog::Instance().AddEntry(GetDocumentName(), GetCameraName(), text);
    }
}

CCameraView::~CCameraView() {
    TRACE("CCameraView::~CCameraView() camera %d", m_cameraId);
    CCameraHub::Instance().UnregisterCamera(this);
    m_deviceWatchdog.Stop();
    m_closing = true;
    TearDown();
    StopRecord();
    StopAllRecordContexts();
    m_countDownTimer.Stop();
    m_scheduleService.Stop();
}

// ---- state ----

void CCameraView::SetInput(int index, bool value) {
    platform::CAutoLock lock(m_cameraLock);
    m_stateMgr.SetInput(index, value);
}

void CCameraView::PostRedraw() {
    m_view->PostCameraMessage(ViewMessage::kCameraChanged, m_cameraId);
}

void CCameraView::LogStateChange(int32_t oldState, int32_t newState) {
    CNotificationLog::Instance().AddEntry(GetDocumentName(), GetCameraName(),
                                          std::string("Changed camera state from '") +
                                              CCamViewStateMgr::GetStateName(oldState) + "' to '" +
                                              CCamViewStateMgr::GetStateName(newState) + "'");
    CCameraHub& hub = CCameraHub::Instance();
    if (hub.HasListeners()) {
        CCameraStateNote note;
        note.documentName = GetDocumentName();
        note.documentPath = GetDocumentPath();
        note.cameraId = m_cameraId;
        note.cameraName = GetCameraName();
        note.oldState = oldState;
        note.newState = newState;
        note.stateName = CCamViewStateMgr::GetStateName(newState);
        note.unixTimeMs = CCameraHub::NowUnixMs();
        hub.PublishState(note);
    }
    PostRedraw();
}

void CCameraView::StopRecordOnLeave(int32_t /*oldState*/, int32_t newState) {
    // A failure ends its recording itself (DxEventRec, AsyncRecContextFailed).
    if (newState != CCamViewStateMgr::kUnable2Rec) {
        StopRecord();
    }
}

void CCameraView::StopCountDown(int32_t /*oldState*/, int32_t /*newState*/) {
    m_countDownTimer.Stop();
    // Whatever ended the countdown (deactivation, the schedule, the device, its last tick), none
    // runs any more: a later activation must not find the camera counting down with no countdown.
    // The new state is the same with the input cleared (the table gives CntDown only with it set).
    m_stateMgr.SetInputValue(CCamViewStateMgr::kCountdownRunning, false);
}

void CCameraView::RaiseEvent(int32_t kind) {
    try {
        // Queued on the camera's chain queue: no action holds this thread or the camera lock.
        m_document.PostChain(m_cameraId, kind);
    } catch (const CBaseException& e) {
        ReportException(e, GetDocumentName(), GetCameraName());
    }
}

std::string CCameraView::GetStateText() const {
    const int32_t state = m_stateMgr.GetState();
    std::string text = CCamViewStateMgr::GetStateName(state);
    if (state == CCamViewStateMgr::kCntDown) {
        text += " (" + std::to_string(m_countDownTimer.GetRemaining()) + ")";
    }
    return text;
}

std::string CCameraView::GetDocumentName() {
    return m_document.GetTitle();
}

std::string CCameraView::GetCameraName() {
    std::lock_guard<std::mutex> lock(m_nameLock);
    return m_cameraName;
}

std::string CCameraView::GetDocumentPath() {
    return m_document.GetPathName();
}

CCamera CCameraView::ReadCamera() {
    std::optional<CCamera> camera = m_document.FindCamera(m_cameraId);
    if (!camera) {
        THROW_GENERAL_INFO("The camera does not exist in the document.", std::to_string(m_cameraId));
    }
    return std::move(*camera);
}

// ---- commands ----

void CCameraView::SetOptions() {
    TRACE("CCameraView::SetOptions() entered");
    const CCamera camera = ReadCamera();
    {
        std::lock_guard<std::mutex> lock(m_nameLock);
        m_cameraName = camera.m_camName;
    }
    m_motionDetector.SetGreyLevel(camera.m_motionGreyLevel);
    m_motionDetector.SetPixelCount(camera.m_motionShortTermPixelCount);
    m_motionDetector.SetStartDelay(camera.m_motionStartDelay);
    m_motionDetector.SetStopDelay(camera.m_motionStopDelay);
    m_motionDetector.SetErosionLevel(camera.m_motionErosionLevel);
    ApplyMask(camera);
    ApplySchedule(camera);
    if (m_frameDuration.load() != 0) {
        ResizePreEventBuffer();
    }
    ConfigureCrossbarAndTuner(camera);
    m_viewMode.store(camera.m_viewMode);
    TRACE("CCameraView::SetOptions() finished");
}

void CCameraView::ApplySchedule(const CCamera& camera) {
    if (camera.m_timeScheduleId == -1) {
        m_scheduleService.SetSchedule(nullptr);
    } else {
        // A schedule the document does not hold counts as none.
        const std::optional<CTimeSchedule> schedule = m_document.FindSchedule(camera.m_timeScheduleId);
        m_scheduleService.SetSchedule(schedule ? &*schedule : nullptr);
    }
}

void CCameraView::ResizePreEventBuffer() {
    const REFERENCE_TIME duration = m_frameDuration.load();
    if (duration <= 0) {
        return;
    }
    const std::optional<CCamera> camera = m_document.FindCamera(m_cameraId);
    if (!camera) {
        return;
    }
    UpdatePreEventForm(*camera);
    const int64_t frames = static_cast<int64_t>(camera->m_motionPreEventDelay) * 10000 / duration;
    const int32_t size = static_cast<int32_t>(std::clamp<int64_t>(frames, 0, INT32_MAX));
    if (size != m_preEventBuffer.GetBufferSize()) {
        TRACE("CCameraView::ResizePreEventBuffer() %d frames", size);
        m_preEventBuffer.SetBufferSize(size);
    }
}

void CCameraView::NextState() {
    TRACE("CCameraView::NextState() called");
    platform::CAutoLock lock(m_cameraLock);
    TRACE("CCameraView::NextState() got crit sec");
    using M = CCamViewStateMgr;
    if (m_stateMgr.GetInput(M::kRecordFailed)) {
        m_stateMgr.SetInputValue(M::kActivated, false);
        m_stateMgr.SetInputValue(M::kRecordFailed, false);
        m_stateMgr.Update();
    } else if (m_stateMgr.GetInput(M::kActivated)) {
        m_stateMgr.SetInput(M::kActivated, false);
        m_stateMgr.SetInput(M::kCountdownRunning, false);
    } else {
        const std::optional<CCamera> camera = m_document.FindCamera(m_cameraId);
        const int32_t countdown = camera ? camera->m_motionCountdown : 0;
        if (countdown != 0) {
            m_countDownTimer.Start(countdown);
            m_stateMgr.SetInputValue(M::kCountdownRunning, true);
        }
        m_stateMgr.SetInputValue(M::kActivated, true);
        m_stateMgr.Update();
    }
    TRACE("CCameraView::NextState() finished");
}

void CCameraView::Activate() {
    SetInput(CCamViewStateMgr::kActivated, true);
}

void CCameraView::Deactivate() {
    SetInput(CCamViewStateMgr::kActivated, false);
}

void CCameraView::WindowsLockChanged(bool locked) {
    const bool follows = m_document.Read([this](const CTavrixDocData& data) {
        const CCamera* camera = data.m_cameras.Find(m_cameraId);
        return camera != nullptr && camera->m_activateOnWindowsLock;
    });
    if (!follows) {
        return;
    }
    CNotificationLog::Instance().AddEntry(GetDocumentName(), GetCameraName(),
                                          locked ? "Windows locked." : "Windows unlocked.");
    if (locked) {
        Activate();
    } else {
        Deactivate();
    }
}

// ---- callbacks ----

void CCameraView::OnStateChange(int32_t oldState, int32_t newState) {
    TRACE("CCameraView::OnStateChange() called");
    const bool motionStarts =
        newState == CMotionDetector::kMotionActive && oldState != CMotionDetector::kMotionActive;
    if (motionStarts) {
        m_motionStartNs.store(MonotonicNs());
    }
    m_motionActive.store(newState == CMotionDetector::kMotionActive);
    {
        platform::CAutoLock lock(m_cameraLock);
        TRACE("CCameraView::OnStateChange() got crit sec");
        m_stateMgr.SetInput(CCamViewStateMgr::kMotion, newState == CMotionDetector::kMotionActive);
        TRACE("CCameraView::OnStateChange() release crit sec");
    }
    if (motionStarts && m_stateMgr.GetState() == CCamViewStateMgr::kUnable2Rec) {
        // New motion: perhaps the record folder or the disk is usable again.
        RetryRecording();
    }
    const int32_t state = m_stateMgr.GetState();
    if (state == CCamViewStateMgr::kIdle || state == CCamViewStateMgr::kRecording) {
        if (oldState != CMotionDetector::kMotionActive && newState == CMotionDetector::kMotionActive) {
            RaiseEvent(EventKind::MotionStart);
        } else if (oldState == CMotionDetector::kMotionActive && newState != CMotionDetector::kMotionActive) {
            RaiseEvent(EventKind::MotionStop);
        }
    }
    TRACE("CCameraView::OnStateChange() finished");
}

void CCameraView::OnScheduleStateChange(bool /*active*/) {
    TRACE("CCameraView::OnScheduleStateChange() called");
    platform::CAutoLock lock(m_cameraLock);
    TRACE("CCameraView::OnScheduleStateChange() got crit sec");
    m_stateMgr.SetInput(CCamViewStateMgr::kInSchedule, m_scheduleService.IsActive());
    TRACE("CCameraView::OnScheduleStateChange() finished");
}

void CCameraView::OnCountDownTick(int32_t remainingSeconds) {
    if (remainingSeconds > 0) {
        PostRedraw();
        return;
    }
    m_motionDetector.Reset();
    // A stop of the countdown (with the camera lock held) may be waiting for this thread: give up
    // rather than wait for the lock then.
    std::unique_lock<platform::CCritSec> lock = m_countDownTimer.LockUnlessStopping(m_cameraLock);
    if (!lock.owns_lock()) {
        return;
    }
    m_stateMgr.SetInput(CCamViewStateMgr::kCountdownRunning, false);
}

// ---- recording ----

void CCameraView::StartRecord(int32_t /*oldState*/, int32_t /*newState*/) {
    TRACE("CCameraView::StartRecord() entered");
    m_lastRecordTryNs.store(MonotonicNs());
    auto* rc = new CRecContext(this);
    m_masterRC = rc;
    // Returns once the context is in m_ActiveRC; its start may still fail (AsyncRecContextFailed).
    rc->StartRecord();
}

void CCameraView::StopRecord() {
    platform::CAutoLock lock(m_cameraLock);
    TRACE("CCameraView::StopRecord() entered");
    if (m_masterRC != nullptr) {
        TRACE("CCameraView::StopRecord() main rc %p found, stop it", static_cast<void*>(m_masterRC));
        CRecContext* rc = m_masterRC;
        m_masterRC = nullptr;
        rc->StopRecord();
    }
    TRACE("CCameraView::StopRecord() finished");
}

void CCameraView::StopAllRecordContexts() {
    {
        std::lock_guard<std::mutex> lock(m_rcLock);
        TRACE("Stop all RCs");
        for (CRecContext* rc : m_ActiveRC) {
            if (rc != nullptr) {
                rc->ForceStopRecord();
            }
        }
    }
    TRACE("Signalled all RCs to stop");
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_rcLock);
            // A context leaves the set with its last call to this camera view.
            if (m_ActiveRC.empty()) {
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kRecordContextPollMs));
    }
    TRACE("Finished stopping");
}

size_t CCameraView::GetRecordContextCount() const {
    std::lock_guard<std::mutex> lock(m_rcLock);
    return m_ActiveRC.size();
}

std::string CCameraView::GetRecordPath() {
    return m_recordFacts.GetRecordPath();
}

CRecordSettings CCameraView::GetRecordSettings() {
    return m_recordFacts.GetRecordSettings();
}

std::string CCameraView::GetRecordFileName() {
    return m_recordFacts.GetRecordFileName(static_cast<int64_t>(std::time(nullptr)));
}

void CCameraView::RaiseCameraEvent(int32_t kind, const std::string& eventString) {
    if (kind == EventKind::RecordBegin) {
        m_retryStartedNs.store(0); // a try of a camera unable to record has succeeded
        // The recording pipeline runs: the end of the way from the first frame with motion.
        const int64_t motionNs = m_motionStartNs.exchange(0);
        if (motionNs != 0) {
            const int64_t latencyUs = (MonotonicNs() - motionNs) / 1000;
            std::lock_guard<std::mutex> stats(m_statLock);
            ++m_recordStats.recordingsStarted;
            m_recordStats.startLatencyTotalUs += latencyUs;
            m_recordStats.startLatencyMaxUs = std::max(m_recordStats.startLatencyMaxUs, latencyUs);
            m_recordStats.startLatencyLastUs = latencyUs;
        }
    }
    m_recordFacts.RaiseCameraEvent(kind, eventString);
}

void CCameraView::AddToRCSet(CRecContext* rc) {
    std::lock_guard<std::mutex> lock(m_rcLock);
    TRACE("Add %p to m_ActiveRC", static_cast<void*>(rc));
    m_ActiveRC.insert(rc);
}

void CCameraView::RemoveFromRCSet(CRecContext* rc) {
    {
        // A context that ends by itself (a failure) may still be the main one. Checked before it
        // leaves the set: once the set is empty the camera view may go away.
        platform::CAutoLock lock(m_cameraLock);
        if (rc == m_masterRC) {
            TRACE("CCameraView::RemoveFromRCSet() kill master RC from camview");
            m_masterRC = nullptr;
        }
    }
    std::lock_guard<std::mutex> lock(m_rcLock);
    const size_t erased = m_ActiveRC.erase(rc);
    TRACE("Remove %p from m_ActiveRC %d", static_cast<void*>(rc), static_cast<int>(erased));
}

CCameraView::CStats CCameraView::GetStats() const {
    CStats stats;
    {
        std::lock_guard<std::mutex> lock(m_statLock);
        stats = m_recordStats;
    }
    stats.frames = m_statFrames.load();
    stats.onFrameNs = m_statOnFrameNs.load();
    stats.recordRetries = m_statRecordRetries.load();
    stats.deviceRetries = static_cast<int64_t>(m_deviceWatchdog.GetAttemptCount());
    return stats;
}
