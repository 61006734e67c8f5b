#pragma once
// CCameraView: the run-time object of one camera of an open document. It owns the camera's
// preview pipeline (capture source, grabber, video output), receives every frame from the grabber,
// hands it to the motion detector (which makes its grey image in the same pass as the comparison
// with the frame before), stamps the date, time and name into it, keeps it in
// the pre-event buffer and draws the changed pixels, pixel count and frame rate after that. It
// drives the camera state manager from motion, schedule, countdown, workstation lock, device
// availability and recording failures; the state manager's reactions start and stop recordings
// (record contexts) and raise the camera events.
//
// The document's view (CTavrixViewCore) creates one per camera through ICameraViewOwner, which
// gives it the document, the way to post messages 3024 (redraw), 3025 (rebuild) and 3026 (retry a
// lost device) to the view and its video output.
//
// A camera recovers by itself: a lost capture device is retried with growing delays by its
// re-connection watchdog (3026 -> RetryLostDevice); a network camera (or a video file) counts as
// lost also when its stream watch sees no frame for ".StreamTimeout" seconds, and its pipeline
// never waits for the network: it starts, and its stream watch posts 3026 once frames arrive,
// which completes the start (and logs the re-connection after a loss); a camera unable to record checks its
// record path again at the next motion, and every recordRetryMs while motion lasts, and records again as soon
// as it can.
//
// Threads: the user-interface thread (construction, options, pipeline operations, NextState,
// Activate/Deactivate, lock changes, window moves, RetryLostDevice); the grabber's streaming
// thread (OnFrame, OnStateChange, the record retries); the preview pipeline's event thread
// (DxEvent, DeviceLost); the schedule service thread (OnScheduleStateChange); the countdown thread
// (OnCountDownTick); the watchdog's thread (posts 3026 only); a network camera's stream watch
// thread (posts 3026 and the loss event, resets the watchdog); record contexts' threads (the
// record side below).
//
// Locks: m_cameraLock (re-entrant) guards every state manager input and update, and with it every
// registered reaction and m_masterRC. Lock order: schedule service lock -> camera lock; countdown
// lock -> motion detector lock -> camera lock; motion detector lock -> camera lock. m_rcLock
// guards the record-context sets only and is never held while waiting. The per-frame work outside
// OnStateChange takes no camera-view lock. The watchdog's lock is innermost.

#include "camera/CamViewStateMgr.h"
#include "camera/CameraHub.h"
#include "camera/CountDownTimer.h"
#include "camera/FrameOverlay.h"
#include "camera/ReconnectWatchdog.h"
#include "camera/RunningAverage.h"
#include "camera/ScheduleService.h"
#include "camera/SnapshotHandle.h"
#include "camera/VideoRenderer.h"
#include "grabber/ITavrixGrabber.h"
#include "motion/MotionDetector.h"
#include "motion/TextOverlay.h"
#include "motion/YuvPlanes.h"
#include "platform/Sync.h"
#include "recording/CameraRecordFacts.h"
#include "recording/DxEventRec.h"
#include "recording/EncodedPreEventBuffer.h"
#include "recording/PreEventBuffer.h"
#include "recording/RecContextHost.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class CCamera;
struct CCaptureFormat;
class CNetworkStreamState;
class CNetworkStreamWatch;
class CPreEventEncoder;
class CRecContext;
class CTavrixDoc;

// What a camera view needs of the document's view that created it.
class ICameraViewOwner {
public:
    virtual CTavrixDoc& GetDocument() = 0;
    // Posts message 3024 or 3025 with the camera id to the document's view; never waits.
    virtual void PostCameraMessage(uint32_t message, int32_t cameraId) = 0;
    // The video output for a new preview pipeline of the camera.
    virtual std::unique_ptr<IVideoRenderer> CreateVideoRenderer(int32_t cameraId) = 0;

protected:
    ~ICameraViewOwner() = default;
};

// Time bases of a camera view; the application uses the defaults, tests shorten them.
struct CCameraViewTiming {
    uint32_t countdownTickMs = 1000;
    uint32_t schedulePassMs = 1000;
    CScheduleService::LocalTimeSource scheduleClock = platform::GetLocalTime;
    // How long building a pipeline waits for the capture format to be settled.
    uint32_t formatTimeoutMs = 5000;
    // A camera unable to record tries again at the next motion and, while motion lasts, this long
    // after its last try; a failed try is logged at most once in recordRetryLogMs.
    uint32_t recordRetryMs = 30000;
    uint32_t recordRetryLogMs = 60000;
    // The delays between attempts to re-connect a lost capture device.
    CReconnectWatchdog::CDelays deviceRetry;
    // A network stream that has delivered frames this long counts as settled: the next loss is
    // retried after the first delay again. Its watch looks at the stream every streamPollMs.
    uint32_t streamHealthyMs = 60000;
    uint32_t streamPollMs = 200;
};

class CCameraView final : public ITavrixGrabberCB,
                          public CMotionDetectorCB,
                          public CDxEventRecDB,
                          public CScheduleServiceCB,
                          public CCountDownTimerCB,
                          public IRecContextHost,
                          public ICameraControl {
public:
    // Frame and recording measurements, for the statistics line of the headless shell and the
    // benchmarks.
    struct CStats {
        int64_t frames = 0;
        int64_t onFrameNs = 0;           // time spent in OnFrame
        int64_t recordingsStarted = 0;   // record contexts that reached their running pipeline
        int64_t startLatencyTotalUs = 0; // first frame with motion -> recording pipeline running
        int64_t startLatencyMaxUs = 0;
        int64_t startLatencyLastUs = -1;
        int64_t recordRetries = 0; // tries of a camera unable to record (also those put off)
        int64_t deviceRetries = 0; // attempts of the watchdog to re-connect the capture device
    };

    CCameraView(ICameraViewOwner* view, int32_t cameraId, CCameraViewTiming timing = {});
    ~CCameraView();
    CCameraView(const CCameraView&) = delete;
    CCameraView& operator=(const CCameraView&) = delete;

    // ---- the preview pipeline (user-interface thread) ----
    void BuildGraph();
    void TearDown();
    void StartGraph();
    void StopGraph();
    // On message 3025: a new pipeline for the re-connected device.
    void Reconnect();
    // Places the video at (x, y) with the frame's size; an exception marks the device unavailable.
    void MoveVideoWindow(int32_t x, int32_t y);
    // The next frame as a picture (at most 2000 ms away); false while the camera is Unavailable.
    bool GetSnapshot(CRgbPicture* picture);
    // The same picture taken on another thread: the handle made here (empty while the camera is
    // Unavailable or has no pipeline) waits for the frame wherever Take is called.
    CSnapshotHandle PrepareSnapshot();
    // The device manager's news whether the capture device is present (user-interface thread):
    // passes a loss or a return to the pipeline's event thread as EC_DEVICE_LOST.
    void NotifyDevicePresence(bool present);
    // On message 3026, the re-connection watchdog's attempt: a new pipeline for a device that was
    // lost, quietly; logs "Capturing device re-connected." when it runs, else the watchdog tries
    // again later. Nothing when the device is no longer lost or the device list says it is gone
    // (its return rebuilds the camera).
    void RetryLostDevice();

    // ---- commands (user-interface thread) ----
    void SetOptions();
    void NextState();
    void Activate() override;
    void Deactivate() override;
    void WindowsLockChanged(bool locked);

    std::string GetStateText() const;
    int32_t GetState() const override { return m_stateMgr.GetState(); }
    // The user's switch (input activated) that the camera's button turns over. User-interface
    // thread only: that thread alone sets the input, so it is read without the camera lock, which
    // a slow chain may hold for seconds.
    bool IsActivated() const override { return m_stateMgr.GetInput(CCamViewStateMgr::kActivated); }
    int32_t GetCameraId() const override { return m_cameraId; }
    // Differs for every camera view the process creates, unlike its address, which a view created
    // after another was destroyed may reuse.
    uint64_t GetInstanceSerial() const { return m_instanceSerial; }
    const std::string& GetDeviceName() const { return m_deviceName; }
    // The detection stream's name as the pipeline was built (empty: detection on the main stream).
    const std::string& GetDetectDeviceName() const { return m_detectDeviceName; }
    // The device's name as shown (a network camera's password masked).
    const std::string& GetDeviceFriendlyName() const { return m_deviceFriendlyName; }
    // A network camera's decoding, e.g. "h264 with vah264dec (hardware)"; empty for other cameras
    // and before the stream is known. User-interface thread.
    std::string GetStreamDecoder() const;
    // A network camera (or video file): its own stream watch notices frames that stop and takes it
    // for lost. User-interface thread.
    bool IsNetworkSource() const { return m_stream != nullptr; }
    int32_t GetCaptureFps() const { return m_captureFps; }
    bool HasGraph() const { return m_graph != nullptr; }
    CMotionDetector& GetMotionDetector() { return m_motionDetector; }
    CStats GetStats() const;
    // Record contexts of this camera that have not ended yet.
    size_t GetRecordContextCount() const;

    // ---- record side (IRecContextHost; record contexts' threads) ----
    int32_t GetFrameWidth() override { return m_frameWidth.load(); }
    int32_t GetFrameHeight() override { return m_frameHeight.load(); }
    int32_t GetFrameStride() override { return m_frameStride.load(); }
    REFERENCE_TIME GetFrameDuration() override { return m_frameDuration.load(); }
    CPreEventBuffer* GetPreEventBuffer() override { return &m_preEventBuffer; }
    // The encoded pre-event time while the camera keeps it so (CameraViewPreEvent.cpp).
    CEncodedPreEventBuffer* GetEncodedPreEventBuffer() override;
    // How the camera keeps its pre-event time now: raw frames (I420), the network camera's own
    // H.264 or H.265 stream (copied from its source's "Encoded" tee, no raw frames kept), or the
    // H.264 of its continuous pre-event encoder (MP4 and Matroska cameras, ".PreEventBuffer").
    enum class EPreEventForm : int32_t { Raw = 0, CameraStream = 1, Encoded = 2 };
    EPreEventForm GetPreEventForm() const { return m_preEventForm.load(); }
    CEncodedPreEventBuffer& GetEncodedBuffer() { return m_encodedBuffer; }
    // The document's title and the camera's name, as log entries carry them.
    std::string GetDocumentName() override;
    std::string GetCameraName() override;
    std::string GetDocumentPath() override;
    std::string GetRecordPath() override;
    CRecordSettings GetRecordSettings() override;
    std::string GetRecordFileName() override;
    void RaiseCameraEvent(int32_t kind, const std::string& eventString) override;
    void AddToRCSet(CRecContext* rc) override;
    void RemoveFromRCSet(CRecContext* rc) override;
    void AsyncRecContextFailed(CRecContext* rc) override;
    void DxEventRec(CRecContext* rc, long code, LONG_PTR param1, LONG_PTR param2) override;

    // ---- callbacks ----
    HRESULT OnFrame(CMediaSample* sample) override;
    void OnStateChange(int32_t oldState, int32_t newState) override;
    void DxEvent(long code, LONG_PTR param1, LONG_PTR param2) override;
    void OnScheduleStateChange(bool active) override;
    void OnCountDownTick(int32_t remainingSeconds) override;

private:
    // Reactions registered with the state manager (under m_cameraLock).
    void LogStateChange(int32_t oldState, int32_t newState);
    void StopRecordOnLeave(int32_t oldState, int32_t newState);
    void StartRecord(int32_t oldState, int32_t newState);
    void StopCountDown(int32_t oldState, int32_t newState);
    void RaiseEvent(int32_t kind);
    // Stops the main record context, if any (takes m_cameraLock).
    void StopRecord();
    // Record retries of a camera unable to record (streaming thread) and the loss of the device
    // (CameraViewRecovery.cpp).
    void RetryRecordingIfDue();
    void RetryRecording();
    void DeviceLost();
    // A network camera whose stream refused the credentials: logged once until a stream runs.
    void ReportAuthFailure();
    // Mends the AVI files a crash left unfinished in the camera's record folder (once per folder).
    void RepairUnfinishedRecordings();
    // Force-stops every running record context and waits until all have ended.
    void StopAllRecordContexts();

    // Pipeline steps (CameraViewGraph.cpp).
    void AttachDevice();
    void InitStillGraph();
    void ClearGraph();
    // The camera's state inputs once its pipeline runs: schedule, device available, update.
    void StartCameraState(const CCamera& camera);
    // The detection stream (".DetectDeviceDN", CameraViewDetect.cpp): added to the pipeline
    // before it runs, watched once it runs, stopped with it; its frames go to the detector.
    void AddDetectStream(const CCamera& camera);
    void StartDetectWatch(const CCamera& camera);
    void StopDetectStream();
    static GstFlowReturn OnDetectSample(GstAppSink* sink, gpointer userData);
    void DetectOnFrame(GstSample* sample);
    // Whether frames go undetected now: an inactive camera while the settings say so.
    bool DetectionSkipped() const;
    // The area mask to the detector: at once for the main stream, scaled to the detection
    // stream's size on its next frame.
    void ApplyMask(const CCamera& camera);
    // Before a network pipeline runs: no frame format, the start pending.
    void PrepareStreamStart();
    // A network pipeline has started: the stream watch waits for its frames.
    void StartStreamWatch(const CCamera& camera);
    // On 3026 once a network stream delivers frames: the frame format, the frame callback and,
    // after a loss, the state and "Capturing device re-connected.".
    void CompleteStreamStart();
    void ResizePreEventBuffer();
    // The pre-event form for the camera's settings and stream (CameraViewPreEvent.cpp, user-
    // interface thread): taps the network stream or starts the encoder as needed.
    void UpdatePreEventForm(const CCamera& camera);
    bool AttachStreamTap();
    // Back to raw frames: the tap removed, the encoder stopped, the encoded units dropped.
    void StopPreEventEncoding();
    // Streaming thread: the frame to the pre-event encoder (push gives it in its own form); false
    // when it must be kept raw.
    bool PushToPreEventEncoder(const std::function<bool(CPreEventEncoder&)>& push);
    static GstPadProbeReturn OnEncodedUnit(GstPad* pad, GstPadProbeInfo* info, gpointer user);
    // Whether the grabber takes I420 for this capture format: network sources and V4L2 cameras
    // whose own format is YUV or JPEG. Others (BGR test sources) keep BGR.
    bool DeliversYuv(const CCaptureFormat& format) const;
    void ApplySchedule(const CCamera& camera);
    void HideVideoWindow();
    // Routes a V4L2 capture card's video input and sets its tuner (SetOptions).
    void ConfigureCrossbarAndTuner(const CCamera& camera);
    // The camera's settings; throws CGeneralEx when the document no longer holds the camera.
    CCamera ReadCamera();

    void PostRedraw();
    void SetInput(int index, bool value);

    // The frame path (CameraViewFrame.cpp). AdoptFrameFormat takes the grabber's format before the
    // frame callback is registered (user-interface thread); the rest runs on the streaming thread.
    void AdoptFrameFormat(const CVideoFormat& format);
    bool YuvPlanesOf(uint8_t* frame, int64_t length, CYuvPlanes& planes) const;
    template <typename Frame>
    void HandleFrame(const Frame& frame, int32_t width, int32_t height);
    template <typename Frame>
    void DrawWatchOverlay(const Frame& frame, CMotionDetector::BinaryImagePtr changed, int32_t viewMode,
                          int64_t interval);

    ICameraViewOwner* const m_view;
    CTavrixDoc& m_document;
    const int32_t m_cameraId;
    const uint64_t m_instanceSerial;
    // Answers the document side of the record contexts' questions (folder, settings, file name)
    // and raises the record events.
    const CCameraRecordFacts m_recordFacts;
    const CCameraViewTiming m_timing;

    CScheduleService m_scheduleService;
    CMotionDetector m_motionDetector;
    CPreEventBuffer m_preEventBuffer;
    // The compact pre-event buffer and what fills it (CameraViewPreEvent.cpp). The encoder is
    // replaced on the user-interface thread and used on the streaming thread under
    // m_encoderLock (innermost); the tap's pad is the user-interface thread's.
    CEncodedPreEventBuffer m_encodedBuffer;
    std::atomic<EPreEventForm> m_preEventForm{EPreEventForm::Raw};
    mutable std::mutex m_encoderLock;
    std::unique_ptr<CPreEventEncoder> m_preEventEncoder;
    std::atomic<bool> m_encoderFailureTold{false};
    GstPad* m_tapPad = nullptr; // reference held while tapped
    gulong m_tapProbe = 0;

    // The preview pipeline (user-interface thread; read by the event thread while it runs).
    GstElement* m_graph = nullptr;         // the pipeline (reference held)
    GstElement* m_captureFilter = nullptr; // the capture source (reference held)
    GstElement* m_grabberElement = nullptr;
    ITavrixGrabber* m_grabber = nullptr; // valid while m_grabberElement is held
    std::unique_ptr<IVideoRenderer> m_renderer;
    std::string m_deviceFriendlyName;

    CRecContext* m_masterRC = nullptr; // guarded by m_cameraLock
    mutable std::mutex m_rcLock;       // guards m_ActiveRC only; never held while waiting
    std::set<CRecContext*> m_ActiveRC;

    CRunningAverage m_fpsAverage{20};
    CRunningAverage m_levelAverage{10};
    int64_t m_lastFrameTime = 0; // monotonic clock, 100-ns units; 0 before the first frame
    CDxEventRec m_graphEvents;
    CCountDownTimer m_countDownTimer;
    std::string m_deviceName;
    std::atomic<int32_t> m_frameWidth{0};
    std::atomic<int32_t> m_frameHeight{0};
    std::atomic<int32_t> m_frameStride{0}; // BGR rows; for I420 frames the BGR rows of their width
    // The frames are I420 (planes as m_frameFormat says) rather than BGR.
    std::atomic<bool> m_frameYuv{false};
    // The grabber's format, written before the frame callback is registered and read by the
    // streaming thread while it is (the grabber's frame lock orders the two).
    CVideoFormat m_frameFormat;
    // BGR of the last I420 frame for the hub's listeners (streaming thread only).
    std::vector<uint8_t> m_hubFrame;
    std::atomic<REFERENCE_TIME> m_frameDuration{0};
    int32_t m_captureFps = 0;
    mutable platform::CCritSec m_cameraLock;
    CCamViewStateMgr m_stateMgr;
    std::atomic<int32_t> m_viewMode{63};

    // Streaming thread only.
    CTextOverlay m_overlay;
    CDateTimeStamp m_dateTime;
    // The camera's name for the overlay and log entries, copied when the options are applied.
    mutable std::mutex m_nameLock;
    std::string m_cameraName;
    // The device was reported lost and has not been rebuilt since.
    std::atomic<bool> m_deviceLost{false};
    // The device list says the capture device is gone (only its return rebuilds the camera).
    std::atomic<bool> m_deviceAbsent{false};
    // The destructor runs: the pipeline goes down without a state change.
    bool m_closing = false;
    // The detector's last report was "Motion active" (streaming thread; read by OnFrame).
    std::atomic<bool> m_motionActive{false};
    // Record retries: when recording was last tried, when a failed try was last logged (monotonic
    // nanoseconds, 0 never).
    std::atomic<int64_t> m_lastRecordTryNs{0};
    std::atomic<int64_t> m_lastRetryLogNs{0};
    // When a try cleared the failure; 0 again once its recording runs (Record Begin).
    std::atomic<int64_t> m_retryStartedNs{0};
    std::atomic<int64_t> m_statRecordRetries{0};
    // Re-connects a lost capture device; stopped first at destruction.
    CReconnectWatchdog m_deviceWatchdog;
    // A network camera's stream (null for other sources; set and reset with the pipeline on the
    // user-interface thread, read by the event thread while the pipeline's events run) and its
    // watch (user-interface thread).
    std::shared_ptr<CNetworkStreamState> m_stream;
    std::unique_ptr<CNetworkStreamWatch> m_streamWatch;
    // A network pipeline runs and waits for its first frames (changed under m_cameraLock).
    std::atomic<bool> m_streamPending{false};
    // The refused credentials have been logged since the last stream that ran.
    std::atomic<bool> m_authReported{false};
    // The detection stream of a network camera (user-interface thread, as m_stream): its name as
    // the pipeline was built, its state and watch. m_detectOnSub: motion is detected on it, not
    // on the main frames; m_detectReady: the main stream's start is complete (the detector's
    // reference reset), so its frames count.
    std::string m_detectDeviceName;
    std::shared_ptr<CNetworkStreamState> m_detectStream;
    std::unique_ptr<CNetworkStreamWatch> m_detectWatch;
    std::atomic<bool> m_detectOnSub{false};
    std::atomic<bool> m_detectReady{false};
    // Guards the camera's mask for the detection stream and the size it was scaled to; taken
    // before the detector's lock (SetMask), never while waiting.
    std::mutex m_detectMaskLock;
    CBinaryImage m_detectMask; // at the main stream's size; empty: no mask
    bool m_detectMaskDirty = false;
    int32_t m_detectWidth = 0;
    int32_t m_detectHeight = 0;

    // Measurements.
    std::atomic<int64_t> m_statFrames{0};
    std::atomic<int64_t> m_statOnFrameNs{0};
    std::atomic<int64_t> m_motionStartNs{0}; // when the detector last reported motion; 0 none
    mutable std::mutex m_statLock;
    CStats m_recordStats;
};
