// The compact pre-event buffer of a camera view. A camera recorded into MP4 or Matroska keeps its
// pre-event time as H.264 or H.265 access units instead of raw frames when it can:
//
// - a network camera sending H.264 or H.265: its own stream, tapped at the source's "Encoded"
//   tee (a probe on the tee's input, no element added); no raw frame is kept and a recording
//   copies the camera's stream (no decoder or encoder for it). The frames it shows and detects
//   motion on are still decoded, but the stamped date and name cannot go into a copied stream;
// - any other camera (local, a video file, a network camera sending JPEG) whose ".PreEventBuffer"
//   asks for it (or automatically from 1280x720 up): a continuous H.264 encoder of the stamped
//   frames (CPreEventEncoder), with the recording's settings; a recording copies its units and
//   the encoder goes on.
//
// Everything else (AVI, WMV, a camera left raw, a failed encoder) keeps raw I420 frames.

#include "camera/CameraView.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "network/NetworkSource.h"
#include "persistence/Camera.h"
#include "persistence/NotificationLog.h"
#include "recording/PreEventEncoder.h"
#include "recording/RecordContainer.h"

namespace {

// From this size up a local camera keeps its pre-event time encoded unless told otherwise.
constexpr int64_t kEncodedFromPixels = 1280LL * 720;

bool WantsEncoding(const CCamera& camera, int32_t width, int32_t height) {
    switch (camera.m_preEventBufferMode) {
    case CCamera::kPreEventRaw:
        return false;
    case CCamera::kPreEventEncoded:
        return true;
    default:
        return static_cast<int64_t>(width) * height >= kEncodedFromPixels;
    }
}

} // namespace

CEncodedPreEventBuffer* CCameraView::GetEncodedPreEventBuffer() {
    switch (m_preEventForm.load()) {
    case EPreEventForm::CameraStream:
        return &m_encodedBuffer;
    case EPreEventForm::Encoded: {
        std::lock_guard<std::mutex> lock(m_encoderLock);
        return m_preEventEncoder && !m_preEventEncoder->HasFailed() ? &m_encodedBuffer : nullptr;
    }
    default:
        return nullptr;
    }
}

void CCameraView::UpdatePreEventForm(const CCamera& camera) {
    m_encodedBuffer.SetWindow(static_cast<REFERENCE_TIME>(camera.m_motionPreEventDelay) * 10000);
    const EPreEventForm before = m_preEventForm.load();
    EPreEventForm wanted = EPreEventForm::Raw;
    const int32_t width = m_frameWidth.load();
    const int32_t height = m_frameHeight.load();
    if (IsH264Container(camera.m_recordContainer) && m_graph != nullptr && width > 0 && height > 0) {
        if (m_stream && (m_tapPad != nullptr || AttachStreamTap())) {
            wanted = EPreEventForm::CameraStream;
        } else if (WantsEncoding(camera, width, height)) {
            // Local cameras, video files and cameras sending JPEG, whose recordings encode anyway.
            wanted = EPreEventForm::Encoded;
        }
    }
    if (wanted != before) {
        StopPreEventEncoding(); // units of another source (or none) from here on
        if (wanted == EPreEventForm::CameraStream) {
            AttachStreamTap();
        }
    }
    if (wanted == EPreEventForm::Encoded) {
        CPreEventEncoder::CSettings settings;
        settings.width = width;
        settings.height = height;
        settings.frameTime = m_frameDuration.load();
        settings.bitsPerSecond = static_cast<int64_t>(camera.m_bitRate) * 1024;
        settings.encoder = camera.m_h264Encoder;
        settings.preset = camera.m_h264Preset;
        std::unique_ptr<CPreEventEncoder> encoder;
        {
            std::lock_guard<std::mutex> lock(m_encoderLock);
            if (m_preEventEncoder && m_preEventEncoder->GetSettings() == settings &&
                !m_preEventEncoder->HasFailed()) {
                m_preEventForm.store(wanted);
                return; // runs as it should
            }
            encoder = std::move(m_preEventEncoder);
        }
        encoder.reset(); // the old one's units no longer fit the new stream
        m_encodedBuffer.Clear();
        encoder = std::make_unique<CPreEventEncoder>(m_encodedBuffer);
        try {
            encoder->Start(settings);
            m_encoderFailureTold.store(false);
            std::lock_guard<std::mutex> lock(m_encoderLock);
            m_preEventEncoder = std::move(encoder);
        } catch (const CBaseException& e) {
            encoder.reset();
            wanted = EPreEventForm::Raw;
            CNotificationLog::Instance().AddEntry(GetDocumentName(), GetCameraName(),
                                                  "The pre-event time cannot be kept encoded (" +
                                                      e.GetMessage() + "); the camera keeps raw frames.");
        }
    }
    m_preEventForm.store(wanted);
    if (wanted != EPreEventForm::Raw && before == EPreEventForm::Raw) {
        // Raw frames are no longer kept: their memory goes now (the buffer keeps its length and
        // takes frames again should the encoded form end).
        const int32_t size = m_preEventBuffer.GetBufferSize();
        m_preEventBuffer.SetBufferSize(0);
        m_preEventBuffer.SetBufferSize(size);
    }
    TRACE("CCameraView::UpdatePreEventForm() camera %d: %d", m_cameraId, static_cast<int>(wanted));
}

bool CCameraView::AttachStreamTap() {
    if (m_tapPad != nullptr) {
        return true;
    }
    if (m_captureFilter == nullptr || !GST_IS_BIN(m_captureFilter)) {
        return false;
    }
    GstElement* tee = gst_bin_get_by_name(GST_BIN(m_captureFilter), kEncodedTeeName);
    if (tee == nullptr) {
        return false; // not known yet, or a source without one (a video file)
    }
    GstPad* pad = gst_element_get_static_pad(tee, "sink");
    gst_object_unref(tee);
    if (pad == nullptr) {
        return false;
    }
    GstCaps* caps = gst_pad_get_current_caps(pad);
    m_encodedBuffer.Clear();
    if (caps != nullptr) {
        m_encodedBuffer.SetCaps(caps);
        gst_caps_unref(caps);
    }
    if (m_encodedBuffer.GetCodec().empty()) {
        gst_object_unref(pad); // JPEG: the decoded frames are kept raw
        return false;
    }
    m_tapProbe = gst_pad_add_probe(
        pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        &CCameraView::OnEncodedUnit, this, nullptr);
    m_tapPad = pad;
    TRACE("CCameraView::AttachStreamTap() camera %d keeps its %s stream", m_cameraId,
          m_encodedBuffer.GetCodec().c_str());
    return true;
}

GstPadProbeReturn CCameraView::OnEncodedUnit(GstPad*, GstPadProbeInfo* info, gpointer user) {
    auto* self = static_cast<CCameraView*>(user);
    if ((GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
        self->m_encodedBuffer.Add(GST_PAD_PROBE_INFO_BUFFER(info));
    } else if ((GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) != 0) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (event != nullptr && GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            self->m_encodedBuffer.SetCaps(caps);
        }
    }
    return GST_PAD_PROBE_OK;
}

void CCameraView::StopPreEventEncoding() {
    if (m_tapPad != nullptr) {
        gst_pad_remove_probe(m_tapPad, m_tapProbe);
        gst_object_unref(m_tapPad);
        m_tapPad = nullptr;
        m_tapProbe = 0;
    }
    m_preEventForm.store(EPreEventForm::Raw);
    std::unique_ptr<CPreEventEncoder> encoder;
    {
        std::lock_guard<std::mutex> lock(m_encoderLock);
        encoder = std::move(m_preEventEncoder);
    }
    encoder.reset();
    m_encodedBuffer.Clear();
}

bool CCameraView::PushToPreEventEncoder(const std::function<bool(CPreEventEncoder&)>& push) {
    std::lock_guard<std::mutex> lock(m_encoderLock);
    if (!m_preEventEncoder) {
        return false;
    }
    if (push(*m_preEventEncoder)) {
        return true;
    }
    if (m_preEventEncoder->HasFailed() && !m_encoderFailureTold.exchange(true)) {
        CNotificationLog::Instance().AddEntry(GetDocumentName(), GetCameraName(),
                                              "The pre-event encoder stopped (" +
                                                  m_preEventEncoder->GetError() +
                                                  "); the camera keeps raw frames.");
    }
    return false;
}
