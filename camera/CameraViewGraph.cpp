// The preview pipeline of a camera view: the capture source named by the camera's display name,
// the capture format it is asked for, decoding and conversion to BGR, the grabber and the video
// output; crossbar and tuner of V4L2 capture cards. Its events (device lost and back) are in
// CameraViewRecovery.cpp.
//
//   source ! capsfilter(capture format) [! jpegdec] ! videoconvert ! capsfilter(BGR)
//          ! tavrixgrabber ! video output
//
// GStreamer settles the formats while the pipeline starts, so the pipeline runs before the
// grabber's format is read (a media graph would connect its formats while it is built). A network
// source (or a video file) is not waited for: its pipeline starts, and the format is read once
// its stream watch has seen frames (CompleteStreamStart), so that no camera holds the
// user-interface thread on the network.

#include "camera/CameraView.h"

#include "camera/CaptureFormat.h"
#include "camera/MessageDispatcher.h"
#include "foundation/ErrorReport.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "network/StreamWatch.h"
#include "persistence/Camera.h"
#include "persistence/NotificationLog.h"
#include "recording/CaptureSourceName.h"
#include "recording/DxDeviceMgr.h"
#include "recording/TavrixElements.h"
#include "recording/V4l2VideoInputs.h"

#include <gst/video/video.h>

#include <chrono>
#include <thread>

namespace {

constexpr size_t kMaxFriendlyName = 256;
constexpr REFERENCE_TIME kDefaultFrameDuration = 400000; // 25 frames a second
constexpr uint32_t kFormatPollMs = 5;

// The text of the first error on a bus, or empty.
std::string PopErrorText(GstBus* bus) {
    std::string text;
    if (bus == nullptr) {
        return text;
    }
    while (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
        if (text.empty()) {
            GError* error = nullptr;
            gchar* debug = nullptr;
            gst_message_parse_error(message, &error, &debug);
            text = error != nullptr ? error->message : "";
            g_clear_error(&error);
            g_free(debug);
        }
        gst_message_unref(message);
    }
    return text;
}

std::string PipelineErrorText(GstElement* pipeline) {
    GstBus* bus = gst_element_get_bus(pipeline);
    std::string text = PopErrorText(bus);
    if (bus != nullptr) {
        gst_object_unref(bus);
    }
    return text;
}

// Routes a V4L2 card's inputs and standard as the camera's settings say; other sources have
// nothing to route. Drivers refuse a new input or standard while the device streams: such a
// change stops the pipeline (given one) for a moment and is applied again.
CVideoInputOutcome RouteVideoInputs(GstElement* source, GstElement* pipeline, const CCamera& camera) {
    const std::unique_ptr<IV4l2Device> device = V4l2DeviceOfElement(source);
    if (!device) {
        return {};
    }
    const CVideoInputSettings settings{camera.m_hasCrossbar, camera.m_videoInputPin, camera.m_hasTuner,
                                       camera.m_inputConnection, camera.m_tvFormat};
    CVideoInputOutcome outcome = CV4l2VideoInputs::Apply(*device, settings);
    if (outcome.busy && pipeline != nullptr) {
        GstState current = GST_STATE_VOID_PENDING;
        GstState pending = GST_STATE_VOID_PENDING;
        gst_element_get_state(pipeline, &current, &pending, 0);
        gst_element_set_state(pipeline, GST_STATE_READY); // the device stays open
        outcome = CV4l2VideoInputs::Apply(*device, settings);
        gst_element_set_state(pipeline, pending != GST_STATE_VOID_PENDING ? pending : current);
    }
    return outcome;
}

} // namespace

// ---- building ----

bool CCameraView::DeliversYuv(const CCaptureFormat& format) const {
    if (m_stream) {
        return true; // decoded to I420 by the source bin
    }
    if (format.jpeg) {
        return true; // the JPEG decoder gives YUV
    }
    if (!format.caps) {
        return false;
    }
    const GstStructure* structure =
        gst_caps_get_size(format.caps.get()) > 0 ? gst_caps_get_structure(format.caps.get(), 0) : nullptr;
    const gchar* name = structure != nullptr ? gst_structure_get_string(structure, "format") : nullptr;
    if (name == nullptr) {
        return false;
    }
    const GstVideoFormat videoFormat = gst_video_format_from_string(name);
    const GstVideoFormatInfo* info = gst_video_format_get_info(videoFormat);
    return info != nullptr && GST_VIDEO_FORMAT_INFO_IS_YUV(info);
}

void CCameraView::BuildGraph() {
    if (m_graph != nullptr || m_captureFilter != nullptr) {
        TearDown(); // a new pipeline replaces the old one
    }
    AttachDevice();
    try {
        InitStillGraph();
    } catch (const CBaseException&) {
        // A pipeline that cannot run leaves the camera without pictures: it shows Unavailable
        // (rather than no state at all) and is rebuilt when its device is reported back; a
        // network camera, which no device list reports, is tried again by its watchdog.
        m_deviceLost.store(true);
        SetInput(CCamViewStateMgr::kDeviceAvailable, false);
        if (m_stream && !m_deviceAbsent.load()) {
            m_deviceWatchdog.ScheduleRetry();
        }
        throw;
    }
}

void CCameraView::AttachDevice() {
    try {
        const CCamera camera = ReadCamera();
        m_deviceName = camera.m_videoDeviceDN;
        m_detectDeviceName = camera.m_detectDeviceDN;
        if (m_deviceName.empty()) {
            THROW_GENERAL("Illegal device string for capture device.");
        }
        // Parsing the name gives "Unable to parse device name of capture device.". A network
        // source scales and limits its rate itself (0: the camera's own size and rate).
        m_stream.reset();
        GstElement* source = CreateCaptureSource(
            m_deviceName, "CaptureDevice", {camera.m_videoSizeCx, camera.m_videoSizeCy, camera.m_fps, true});
        m_captureFilter = GST_ELEMENT(gst_object_ref_sink(source));
        m_stream = NetworkStreamStateOf(m_captureFilter);

        // Binding opens the device: a camera that is not there fails here.
        GstBus* bus = gst_bus_new();
        gst_element_set_bus(m_captureFilter, bus);
        const GstStateChangeReturn opened = gst_element_set_state(m_captureFilter, GST_STATE_READY);
        const std::string errorText = opened == GST_STATE_CHANGE_FAILURE ? PopErrorText(bus) : std::string();
        gst_element_set_bus(m_captureFilter, nullptr);
        gst_object_unref(bus);
        if (opened == GST_STATE_CHANGE_FAILURE) {
            THROW_DIRECTX_INFO(HRESULT_DEVICE_NOT_CONNECTED, "Unable to bind to capture device via moniker.",
                               errorText);
        }
        std::string friendlyName = CDxDeviceMgrImpl::Instance().GetDeviceFriendlyName(m_deviceName);
        if (friendlyName.empty()) {
            friendlyName = MaskPasswords(m_deviceName);
        }
        if (friendlyName.size() > kMaxFriendlyName) {
            friendlyName.resize(kMaxFriendlyName);
        }
        m_deviceFriendlyName = friendlyName;
    } catch (const CBaseException&) {
        if (m_captureFilter != nullptr) {
            gst_element_set_state(m_captureFilter, GST_STATE_NULL);
            gst_object_unref(m_captureFilter);
            m_captureFilter = nullptr;
        }
        // The device's return (NotifyDevicePresence) rebuilds the camera.
        m_deviceLost.store(true);
        SetInput(CCamViewStateMgr::kDeviceAvailable, false);
        throw;
    }
}

void CCameraView::InitStillGraph() {
    TRACE("CCameraView::InitStillGraph() entered");
    if (m_captureFilter == nullptr) {
        THROW_GENERAL("Unable to attach to capture device.");
    }
    const CCamera camera = ReadCamera();
    m_graph = gst_pipeline_new("PreviewGraph");
    if (m_graph == nullptr) {
        THROW_DIRECTX(E_OUTOFMEMORY, "Unable to create the preview graph.");
    }
    gst_object_ref_sink(m_graph);
    m_graphEvents.Start(m_graph, this);

    if (!gst_bin_add(GST_BIN(m_graph), GST_ELEMENT(gst_object_ref(m_captureFilter)))) {
        THROW_DIRECTX(E_FAIL, "Could not add capture device in graph.");
    }
    GstElement* grabber = CreateGrabberElement("TavrixGrabber");
    m_grabberElement = GST_ELEMENT(gst_object_ref_sink(grabber));
    m_grabber = GetGrabberControl(m_grabberElement);
    if (!gst_bin_add(GST_BIN(m_graph), GST_ELEMENT(gst_object_ref(m_grabberElement)))) {
        THROW_DIRECTX(E_FAIL, "Unable to add TavrixGrabber to preview graph.");
    }

    m_captureFps = camera.m_fps;

    // Format selection among what the opened device offers.
    CCaptureFormatRequest request;
    request.subtype = camera.m_mediaSubtype;
    request.width = camera.m_videoSizeCx;
    request.height = camera.m_videoSizeCy;
    request.fps = camera.m_fps;
    CCaptureFormat format;
    if (m_stream) {
        format.outcome = CCaptureFormat::Outcome::Selected; // the source bin converts and scales
    } else if (GstPad* pad = gst_element_get_static_pad(m_captureFilter, "src")) {
        GstCaps* offered = gst_pad_query_caps(pad, nullptr);
        format = CCaptureFormat::Select(offered, request);
        if (offered != nullptr) {
            gst_caps_unref(offered);
        }
        gst_object_unref(pad);
    }
    if (format.outcome == CCaptureFormat::Outcome::NoConfiguration) {
        CNotificationLog::Instance().AddEntry(GetDocumentName(), GetCameraName(),
                                              "Unable to obtain video grabber configuration interface. "
                                              "Capture will start with hardware defaults.");
    } else if (format.outcome == CCaptureFormat::Outcome::NoSuitableType) {
        CNotificationLog::Instance().AddEntry(GetDocumentName(), GetCameraName(),
                                              "Unable to find suitable media type for configuring the video "
                                              "grabber. Capture will start with hardware defaults.");
    }
    TRACE("CCameraView::InitStillGraph() capture format %s", format.ToString().c_str());

    // The rest of the chain up to the video output.
    m_renderer = m_view->CreateVideoRenderer(m_cameraId);
    if (!m_renderer) {
        m_renderer = std::make_unique<CNullVideoRenderer>();
    }
    // Each element belongs to the pipeline as soon as it is made, so that a later failure leaks
    // none (the pipeline is new and every name unique: adding does not fail in practice).
    const auto add = [this](const char* factory, const char* name) {
        GstElement* element = gst_element_factory_make(factory, name);
        if (element == nullptr || !gst_bin_add(GST_BIN(m_graph), element)) {
            THROW_DIRECTX_INFO(VFW_E_CANNOT_RENDER, "Unable to render the preview graph.", factory);
        }
        return element;
    };
    GstElement* captureFormat = add("capsfilter", "CaptureFormat");
    GstElement* decoder = format.jpeg ? add("jpegdec", "Decoder") : nullptr;
    GstElement* convert = add("videoconvert", "Convert");
    GstElement* grabberFormat = add("capsfilter", "GrabberFormat");
    // The display's own conversion: frames pass untouched where the output takes the grabber's
    // format (no window), and are converted only for a window that shows BGR.
    GstElement* displayConvert = add("videoconvert", "DisplayConvert");
    GstElement* sink = m_renderer->CreateSink();
    if (sink == nullptr || !gst_bin_add(GST_BIN(m_graph), sink)) {
        THROW_DIRECTX_INFO(VFW_E_CANNOT_RENDER, "Unable to render the preview graph.", "video output");
    }
    if (format.caps) {
        g_object_set(captureFormat, "caps", format.caps.get(), nullptr);
    }
    // Detection on luma where the picture comes as YUV: no BGR frame is made for it.
    GstCaps* grabberCaps =
        gst_caps_from_string(DeliversYuv(format) ? "video/x-raw,format=I420" : "video/x-raw,format=BGR");
    g_object_set(grabberFormat, "caps", grabberCaps, nullptr);
    gst_caps_unref(grabberCaps);
    const bool linked =
        gst_element_link(m_captureFilter, captureFormat) &&
        (decoder == nullptr ? gst_element_link(captureFormat, convert)
                            : gst_element_link_many(captureFormat, decoder, convert, nullptr)) &&
        gst_element_link_many(convert, grabberFormat, m_grabberElement, displayConvert, sink, nullptr);
    if (!linked) {
        THROW_DIRECTX(VFW_E_CANNOT_RENDER, "Unable to render the preview graph.");
    }

    CDxDeviceMgrImpl::Instance().ForceVideoDeviceCaps(m_deviceName, m_captureFilter, m_graph);
    // Input and standard before the device streams; SetOptions, which follows, reports problems.
    RouteVideoInputs(m_captureFilter, nullptr, camera);

    // Run; the formats are settled while the pipeline starts. A network camera that was lost
    // stays lost until its stream delivers frames.
    AddDetectStream(camera);
    if (!m_stream) {
        m_deviceLost.store(false);
    } else {
        PrepareStreamStart();
    }
    if (gst_element_set_state(m_graph, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        m_streamPending.store(false); // no start under way: the caller's retry builds anew
        THROW_DIRECTX_INFO(E_FAIL, "Unable to run preview graph.", MaskPasswords(PipelineErrorText(m_graph)));
    }
    if (m_stream) {
        StartStreamWatch(camera);
        StartDetectWatch(camera);
        TRACE("CCameraView::InitStillGraph() network stream started");
        return;
    }
    CVideoFormat videoFormat;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timing.formatTimeoutMs);
    while (FAILED(m_grabber->GetInputMediaType(&videoFormat))) {
        if (m_deviceLost.load() || std::chrono::steady_clock::now() > deadline) {
            THROW_DIRECTX(VFW_E_NOT_CONNECTED, "Unable to get the media type of the TavrixGrabber.");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kFormatPollMs));
    }
    REFERENCE_TIME frameDuration = videoFormat.frameDuration100ns;
    if (frameDuration <= 0) {
        // A source of variable rate: the rate asked for, else 25 frames a second.
        frameDuration = format.fpsNumerator > 0 && format.fpsDenominator > 0
                            ? 10000000LL * format.fpsDenominator / format.fpsNumerator
                            : kDefaultFrameDuration;
    }
    AdoptFrameFormat(videoFormat);
    m_frameDuration.store(frameDuration);
    TRACE("CCameraView::InitStillGraph() frames %s %dx%d, stride %d, %lld00 ns each", videoFormat.formatName,
          videoFormat.width, videoFormat.height, videoFormat.stride, static_cast<long long>(frameDuration));
    // The first frame of this pipeline starts the frame-time measurement afresh.
    m_lastFrameTime = 0;
    m_grabber->SetFrameCallback(this);

    m_renderer->Place(0, 0, 1, 1);
    m_renderer->Show(true);

    ResizePreEventBuffer();
    StartCameraState(camera);
    TRACE("CCameraView::InitStillGraph() finished");
}

void CCameraView::StartCameraState(const CCamera& camera) {
    // The schedule's first evaluation calls back from inside Start and updates the state: with the
    // camera's schedule and the device already counted as available, the first state the camera
    // shows is its real one (not Unavailable with an Error Occurred event on every start).
    ApplySchedule(camera);
    {
        platform::CAutoLock lock(m_cameraLock);
        m_stateMgr.SetInputValue(CCamViewStateMgr::kDeviceAvailable, true);
    }
    m_scheduleService.Start();
    {
        // Asked before the camera lock is taken: the service thread calls back into the camera
        // (taking the camera lock) while it holds its own lock.
        const bool inSchedule = m_scheduleService.IsActive();
        platform::CAutoLock lock(m_cameraLock);
        m_stateMgr.SetInputValue(CCamViewStateMgr::kInSchedule, inSchedule);
        m_stateMgr.SetInputValue(CCamViewStateMgr::kDeviceAvailable, true);
        m_stateMgr.Update();
    }
}

// ---- running and stopping ----

void CCameraView::StartGraph() {
    if (m_graph != nullptr && gst_element_set_state(m_graph, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        THROW_DIRECTX_INFO(E_FAIL, "Unable to start the preview graph.", PipelineErrorText(m_graph));
    }
}

void CCameraView::StopGraph() {
    TRACE("CCameraView::StopGraph() entered");
    if (m_graph != nullptr) {
        TRACE("CCameraView::StopGraph() we have graphs");
        // READY keeps the device open and the bus alive for the device's events.
        gst_element_set_state(m_graph, GST_STATE_READY);
    }
    StopRecord();
    TRACE("CCameraView::StopGraph() finished");
}

void CCameraView::HideVideoWindow() {
    if (!m_renderer) {
        return;
    }
    try {
        m_renderer->Place(0, 0, 1, 1);
        m_renderer->Show(false);
    } catch (const CBaseException& e) {
        TRACE("CCameraView::HideVideoWindow() %s", e.GetMessage().c_str());
    }
}

void CCameraView::ClearGraph() {
    TRACE("CCameraView::ClearGraph() entered");
    if (m_graph != nullptr) {
        HideVideoWindow();
    }
    m_scheduleService.Stop();
    if (m_graph != nullptr) {
        if (m_grabber != nullptr) {
            m_grabber->SetFrameCallback(nullptr);
        }
        // The stream watch and the event thread first, so that no device-lost reaction changes
        // the pipeline's state while it goes down.
        if (m_streamWatch) {
            m_streamWatch->Stop();
            m_streamWatch.reset();
        }
        StopDetectStream();
        m_streamPending.store(false);
        m_graphEvents.Stop();
        StopPreEventEncoding(); // the stream's tap goes with the pipeline
        gst_element_set_state(m_graph, GST_STATE_NULL);
        gst_object_unref(m_graph);
        m_graph = nullptr;
    }
    if (m_grabberElement != nullptr) {
        gst_object_unref(m_grabberElement);
        m_grabberElement = nullptr;
        m_grabber = nullptr;
    }
    m_renderer.reset();
    m_motionDetector.Reset();
    if (!m_closing) {
        // No picture, so no motion: the camera leaves Recording now (ending the recording), and the
        // next motion of a new pipeline is new motion that starts a new recording, as the motion
        // input and the detector agree again.
        m_motionDetector.EndMotion();
    }
    StopRecord();
    TRACE("CCameraView::ClearGraph() finished");
}

void CCameraView::TearDown() {
    ClearGraph();
    if (m_captureFilter != nullptr) {
        gst_element_set_state(m_captureFilter, GST_STATE_NULL);
        gst_object_unref(m_captureFilter);
        m_captureFilter = nullptr;
    }
}

void CCameraView::MoveVideoWindow(int32_t x, int32_t y) {
    if (!m_renderer) {
        return;
    }
    try {
        m_renderer->Place(x, y, m_frameWidth.load(), m_frameHeight.load());
    } catch (const CBaseException&) {
        SetInput(CCamViewStateMgr::kDeviceAvailable, false);
        throw;
    }
}

bool CCameraView::GetSnapshot(CRgbPicture* picture) {
    if (picture == nullptr || m_stateMgr.GetState() == CCamViewStateMgr::kUnavailable ||
        m_grabber == nullptr) {
        return false;
    }
    return SUCCEEDED(m_grabber->TakeSnapshot(picture));
}

CSnapshotHandle CCameraView::PrepareSnapshot() {
    if (m_stateMgr.GetState() == CCamViewStateMgr::kUnavailable || m_grabber == nullptr) {
        return CSnapshotHandle();
    }
    return CSnapshotHandle(m_grabberElement, m_grabber);
}

// ---- crossbar and tuner ----

void CCameraView::ConfigureCrossbarAndTuner(const CCamera& camera) {
    if (m_graph == nullptr || m_captureFilter == nullptr) {
        return;
    }
    const CVideoInputOutcome outcome = RouteVideoInputs(m_captureFilter, m_graph, camera);
    TRACE("CCameraView::ConfigureCrossbarAndTuner() %d video inputs", outcome.inputCount);
    if (outcome.crossbarFound && !camera.m_hasCrossbar) {
        CNotificationLog::Instance().AddEntry(GetDocumentName(), GetCameraName(),
                                              "Crossbar found, but not configured in camera settings.");
    }
    if (outcome.crossbarError != 0) {
        THROW_DIRECTX_INFO(E_FAIL, "Unable to route crossbar",
                           "input " + std::to_string(camera.m_videoInputPin));
    }
    if (outcome.tunerFound) {
        if (camera.m_hasTuner) {
            TRACE("CCameraView::ConfigureCrossbarAndTuner() tuner set to input %d, channel %d",
                  camera.m_inputConnection, camera.m_channel);
        } else {
            CNotificationLog::Instance().AddEntry(GetDocumentName(), GetCameraName(),
                                                  "Tuner found, but not configured in camera settings.");
        }
    }
}
