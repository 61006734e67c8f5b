// How a camera view recovers by itself from failures that pass: a record folder that was missing
// or a disk that was full (the camera is Unable2Rec), and a capture device that was lost while the
// device list still shows it (the camera is Unavailable).
//
// Unable2Rec: the next motion, and every recordRetryMs while motion lasts, checks the record path
// again (on the streaming thread, outside the camera lock); when it is usable, the recording
// failure is cleared and the state manager takes the camera back to Recording (or whatever the
// other inputs give), which starts a new recording. A failed check is logged at most once in
// recordRetryLogMs; so is a recording that fails to start after the check said yes (its failure
// is reported as every recording failure is), as the next try then waits that long.
//
// Unavailable: the re-connection watchdog asks (message 3026) for a new pipeline after 2, 4, ...
// 60 s; a failed attempt stays quiet and waits for the next one.

#include "camera/CameraView.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "persistence/NotificationLog.h"

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
            CNotificationLog::Instance().AddEntry(GetDocumentName(), GetCameraName(),
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

void CCameraView::RetryLostDevice() {
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
    m_deviceWatchdog.Reset();
    CNotificationLog::Instance().AddEntry(GetDocumentName(), GetCameraName(),
                                          "Capturing device re-connected.");
    SetInput(CCamViewStateMgr::kDeviceAvailable, true);
}
