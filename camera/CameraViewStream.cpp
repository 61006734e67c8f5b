// The network side of a camera view: a network camera (or a video file) whose pipeline started
// without waiting for the network, its stream watch, the completion of its start once frames
// arrive, and credentials the camera refused.
//
//   InitStillGraph: PrepareStreamStart, PLAYING, StartStreamWatch: watch thread polls the frame count
//     frames arrive      -> 3026 -> RetryLostDevice -> CompleteStreamStart (user-interface thread)
//     no frame for .StreamTimeout s, or an error from the source -> EC_DEVICE_LOST -> DeviceLost
//     frames for streamHealthyMs -> the re-connection watchdog starts again at its first delay

#include "camera/CameraView.h"

#include "camera/MessageDispatcher.h"
#include "foundation/Tracer.h"
#include "network/StreamWatch.h"
#include "persistence/Camera.h"
#include "persistence/NotificationLog.h"

#include <algorithm>

namespace {

constexpr REFERENCE_TIME kDefaultFrameDuration = 400000; // 25 frames a second

} // namespace

std::string CCameraView::GetStreamDecoder() const {
    return m_stream ? m_stream->GetDecoderDescription() : std::string();
}

void CCameraView::PrepareStreamStart() {
    // No format until frames arrive: nothing is drawn into or recorded from a frame of the last
    // stream's size.
    m_frameWidth.store(0);
    m_frameHeight.store(0);
    m_frameStride.store(0);
    // Pending before the pipeline runs: a source that fails at once (a refused connection on
    // loopback) may report it on the event thread before the watch is started, and that failure
    // must count as the failed start it is (the next attempt scheduled), not as a loss already
    // handled.
    m_streamPending.store(true);
}

void CCameraView::StartStreamWatch(const CCamera& camera) {
    const auto timing = CNetworkStreamWatch::CTiming::ForTimeout(
        camera.m_streamTimeout, m_timing.streamHealthyMs, m_timing.streamPollMs);
    GstElement* graph = m_graph; // outlives the watch: ClearGraph stops the watch first
    CNetworkStreamWatch::CCallbacks callbacks;
    callbacks.firstFrame = [this] { m_view->PostCameraMessage(ViewMessage::kCameraRetryDevice, m_cameraId); };
    callbacks.timedOut = [this, graph] {
        // As an error of the pipeline would: the loss is handled on the pipeline's event thread.
        if (!CDxEventRec::PostEvent(graph, EC_DEVICE_LOST, 0, 0)) {
            TRACE("CCameraView camera %d: the stream's time-out could not be posted", m_cameraId);
        }
    };
    callbacks.healthy = [this] {
        if (!m_deviceLost.load()) {
            m_deviceWatchdog.Reset();
        }
    };
    m_streamWatch = std::make_unique<CNetworkStreamWatch>(m_stream, timing, std::move(callbacks));
    if (!m_deviceLost.load()) {
        // The first start: the camera shows its real state while it connects; a stream that never
        // answers is then lost like any other.
        StartCameraState(camera);
    }
}

void CCameraView::CompleteStreamStart() {
    if (m_graph == nullptr || m_grabber == nullptr || !m_streamWatch) {
        return;
    }
    CVideoFormat videoFormat;
    if (FAILED(m_grabber->GetInputMediaType(&videoFormat))) {
        return; // the watch asks again
    }
    const CCamera camera = ReadCamera();
    bool reconnected = false;
    {
        platform::CAutoLock lock(m_cameraLock);
        if (!m_streamPending.exchange(false)) {
            return; // lost again meanwhile: the watchdog has the next attempt
        }
        reconnected = m_deviceLost.exchange(false);
    }
    m_streamWatch->Started();
    REFERENCE_TIME frameDuration = videoFormat.frameDuration100ns;
    if (frameDuration <= 0) {
        // A stream of variable rate (MJPEG over HTTP): the rate asked for, else 25 a second.
        frameDuration =
            camera.m_fps > 0 && camera.m_fps < 1000 ? 10000000LL / camera.m_fps : kDefaultFrameDuration;
    }
    AdoptFrameFormat(videoFormat);
    m_frameDuration.store(frameDuration);
    m_captureFps = camera.m_fps;
    TRACE("CCameraView::CompleteStreamStart() frames %s %dx%d, %lld00 ns each, %s", videoFormat.formatName,
          videoFormat.width, videoFormat.height, static_cast<long long>(frameDuration),
          GetStreamDecoder().c_str());
    // The first frames of the new stream are the reference of motion detection: a re-connection
    // (a picture that changed while the camera was away) raises no motion by itself.
    m_motionDetector.Reset();
    m_detectReady.store(m_detectOnSub.load());
    if (reconnected) {
        // Frames from before the loss (seconds or minutes old, perhaps of another size) do not
        // begin the next recording.
        m_preEventBuffer.SetBufferSize(0);
    }
    m_lastFrameTime = 0;
    m_grabber->SetFrameCallback(this);
    if (m_renderer) {
        m_renderer->Place(0, 0, 1, 1);
        m_renderer->Show(true);
    }
    ResizePreEventBuffer();
    m_authReported.store(false);
    if (reconnected) {
        StartCameraState(camera);
        CNotificationLog::Instance().AddEntry(GetDocumentName(), GetCameraName(),
                                              "Capturing device re-connected.");
        if (m_deviceLost.load()) {
            // Lost again while the state was set: the loss has the last word.
            SetInput(CCamViewStateMgr::kDeviceAvailable, false);
        }
    }
}

void CCameraView::ReportAuthFailure() {
    if (m_authReported.exchange(true)) {
        return;
    }
    CNotificationLog::Instance().AddErrorEntry(
        GetDocumentName(), GetCameraName(),
        "Camera '" + GetCameraName() + "': authentication failed at '" + m_deviceFriendlyName +
            "'. Trying again every " + std::to_string(m_timing.deviceRetry.maxMs / 1000) + " s.");
}
