// The detection stream of a network camera (".DetectDeviceDN"): a second stream of the camera,
// usually its small sub-stream, on which motion is detected while the main stream is shown,
// stamped, buffered and recorded. It runs in the camera's preview pipeline, from its own source
// bin into an appsink, so that its errors and its end are the pipeline's (the camera's loss), a
// re-connection rebuilds it with the main stream, and the camera's stream watch has a twin for it.
//
//   DetectSource (I420, the camera's rate) -> DetectSink (appsink) -> DetectOnFrame: luma to the
//   motion detector, with the area mask scaled to the stream's size
//
// The changed pixels belong to the other stream's picture: they are not drawn on the shown one.
//
// Threads: AddDetectStream, StartDetectWatch and StopDetectStream on the user-interface thread
// with the pipeline; DetectOnFrame on the detection stream's streaming thread (the only caller of
// the detector's frame work while the stream runs); ApplyMask on the user-interface thread.

#include "camera/CameraView.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "network/NetworkSourceName.h"
#include "network/StreamWatch.h"
#include "persistence/Camera.h"
#include "persistence/ConfigMgrImpl.h"
#include "recording/CaptureSourceName.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <algorithm>

namespace {

// The mask (set bits: ignored pixels) at another size, nearest pixel.
CBinaryImage ScaleMask(const CBinaryImage& mask, int32_t width, int32_t height) {
    CBinaryImage scaled;
    scaled.Create(width, height);
    scaled.Fill(false);
    const int32_t maskWidth = mask.GetWidth();
    const int32_t maskHeight = mask.GetHeight();
    for (int32_t y = 0; y < height; ++y) {
        const int32_t fromY = static_cast<int32_t>(static_cast<int64_t>(y) * maskHeight / height);
        for (int32_t x = 0; x < width; ++x) {
            const int32_t fromX = static_cast<int32_t>(static_cast<int64_t>(x) * maskWidth / width);
            if (mask.GetPixel(fromX, fromY)) {
                scaled.SetPixel(x, y, true);
            }
        }
    }
    return scaled;
}

} // namespace

GstFlowReturn CCameraView::OnDetectSample(GstAppSink* sink, gpointer userData) {
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (sample == nullptr) {
        return GST_FLOW_OK;
    }
    try {
        static_cast<CCameraView*>(userData)->DetectOnFrame(sample);
    } catch (const CBaseException& e) {
        TRACE("CCameraView::OnDetectSample() %s", e.GetMessage().c_str());
    } catch (const std::exception& e) {
        TRACE("CCameraView::OnDetectSample() %s", e.what());
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

void CCameraView::DetectOnFrame(GstSample* sample) {
    if (!m_detectReady.load()) {
        return; // the main stream's start is not complete: no reference yet
    }
    GstVideoInfo info;
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (caps == nullptr || buffer == nullptr || !gst_video_info_from_caps(&info, caps) ||
        GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_I420) {
        return;
    }
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
        return;
    }
    const int32_t width = GST_VIDEO_INFO_WIDTH(&info);
    const int32_t height = GST_VIDEO_INFO_HEIGHT(&info);
    {
        // The mask follows the stream's size (and a changed mask of the camera).
        std::lock_guard<std::mutex> guard(m_detectMaskLock);
        if (m_detectMaskDirty || width != m_detectWidth || height != m_detectHeight) {
            m_detectMaskDirty = false;
            m_detectWidth = width;
            m_detectHeight = height;
            if (m_detectMask.IsEmpty()) {
                m_motionDetector.ClearMask();
            } else {
                m_motionDetector.SetMask(ScaleMask(m_detectMask, width, height));
            }
            TRACE("CCameraView::DetectOnFrame() detecting on %dx%d, mask %s", width, height,
                  m_detectMask.IsEmpty() ? "off" : "scaled");
        }
    }
    const bool skipDetection = DetectionSkipped();
    if (!skipDetection) {
        const bool fullRange = info.colorimetry.range == GST_VIDEO_COLOR_RANGE_0_255;
        m_motionDetector.ProcessLuma(static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                                     width, height, GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0),
                                     fullRange ? imagekernels::LumaRange::kFull
                                               : imagekernels::LumaRange::kStudio);
    }
    gst_video_frame_unmap(&frame);
}

void CCameraView::ApplyMask(const CCamera& camera) {
    if (m_detectOnSub.load()) {
        // Scaled on the detection stream's next frame, once its size is known.
        std::lock_guard<std::mutex> guard(m_detectMaskLock);
        m_detectMask = camera.m_areaMaskEnabled ? camera.m_areaMaskImage : CBinaryImage();
        m_detectMaskDirty = true;
        return;
    }
    if (camera.m_areaMaskEnabled) {
        m_motionDetector.SetMask(camera.m_areaMaskImage);
    } else {
        m_motionDetector.ClearMask();
    }
}

void CCameraView::AddDetectStream(const CCamera& camera) {
    m_detectOnSub.store(false);
    m_detectReady.store(false);
    m_detectStream.reset();
    if (!m_stream || camera.m_detectDeviceDN.empty()) {
        return;
    }
    // Parsing the name gives "Unable to parse device name of capture device."; not a network name
    // (a local device) is refused the same way: it cannot run beside the main stream here.
    GstElement* source =
        CreateCaptureSource(camera.m_detectDeviceDN, "DetectSource", {0, 0, camera.m_fps, true});
    std::shared_ptr<CNetworkStreamState> stream = NetworkStreamStateOf(source);
    if (!stream) {
        gst_object_unref(gst_object_ref_sink(source));
        THROW_DIRECTX(MK_E_SYNTAX, "Unable to parse device name of capture device.");
    }
    GstElement* sink = gst_element_factory_make("appsink", "DetectSink");
    if (sink == nullptr) {
        gst_object_unref(gst_object_ref_sink(source));
        THROW_DIRECTX_INFO(VFW_E_CANNOT_RENDER, "Unable to render the preview graph.", "appsink");
    }
    g_object_set(sink, "sync", FALSE, "max-buffers", 1u, "drop", TRUE, "emit-signals", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &CCameraView::OnDetectSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_bin_add_many(GST_BIN(m_graph), source, sink, nullptr);
    if (!gst_element_link(source, sink)) {
        THROW_DIRECTX_INFO(VFW_E_CANNOT_RENDER, "Unable to render the preview graph.", "detection stream");
    }
    m_detectStream = std::move(stream);
    m_detectOnSub.store(true);
    ApplyMask(camera);
    TRACE("CCameraView::AddDetectStream() motion detected on %s",
          MaskPasswords(camera.m_detectDeviceDN).c_str());
}

void CCameraView::StartDetectWatch(const CCamera& camera) {
    if (!m_detectStream) {
        return;
    }
    const auto timing = CNetworkStreamWatch::CTiming::ForTimeout(
        camera.m_streamTimeout, m_timing.streamHealthyMs, m_timing.streamPollMs);
    GstElement* graph = m_graph; // outlives the watch: ClearGraph stops the watch first
    CNetworkStreamWatch::CCallbacks callbacks;
    callbacks.timedOut = [this, graph] {
        TRACE("CCameraView camera %d: the detection stream sends no frames", m_cameraId);
        if (!CDxEventRec::PostEvent(graph, EC_DEVICE_LOST, 0, 0)) {
            TRACE("CCameraView camera %d: the detection stream's time-out could not be posted", m_cameraId);
        }
    };
    m_detectWatch = std::make_unique<CNetworkStreamWatch>(m_detectStream, timing, std::move(callbacks));
}

void CCameraView::StopDetectStream() {
    if (m_detectWatch) {
        m_detectWatch->Stop();
        m_detectWatch.reset();
    }
    m_detectReady.store(false);
}
