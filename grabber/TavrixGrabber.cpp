#include "grabber/TavrixGrabber.h"

#include <algorithm>
#include <chrono>
#include <cstring>

GST_DEBUG_CATEGORY_EXTERN(tavrix_grabber_debug);
#define GST_CAT_DEFAULT tavrix_grabber_debug

namespace {

constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;

// GStreamer nanoseconds to 100-ns units.
REFERENCE_TIME ToReferenceTime(GstClockTime t) {
    return static_cast<REFERENCE_TIME>(t / 100);
}

} // namespace

CTavrixGrabber::CTavrixGrabber(GstBaseTransform* element, std::function<uint32_t()> snapshotTimeoutMs)
    : m_element(element), m_snapshotTimeoutMs(std::move(snapshotTimeoutMs)) {
    gst_video_info_init(&m_info);
}

CTavrixGrabber::~CTavrixGrabber() {
    if (m_snapshotConverter != nullptr) {
        gst_video_converter_free(m_snapshotConverter);
    }
}

HRESULT CTavrixGrabber::GetInputMediaType(CVideoFormat* format) {
    if (format == nullptr) {
        return E_POINTER;
    }
    std::lock_guard<std::recursive_mutex> lock(m_frameLock);
    if (!m_haveFormat) {
        return VFW_E_NOT_CONNECTED;
    }
    *format = m_format;
    return S_OK;
}

HRESULT CTavrixGrabber::SetFrameCallback(ITavrixGrabberCB* callback) {
    std::lock_guard<std::recursive_mutex> lock(m_frameLock);
    m_callback = callback;
    GST_DEBUG_OBJECT(m_element, "frame callback %p", static_cast<void*>(callback));
    return S_OK;
}

HRESULT CTavrixGrabber::SetSampleBuffer(ALLOCATOR_PROPERTIES properties, uint8_t* buffer) {
    if (gst_pad_is_linked(m_element->sinkpad) || gst_pad_is_linked(m_element->srcpad)) {
        return E_INVALIDARG;
    }
    if (properties.cBuffers != 1 || properties.cbBuffer < 0 || properties.cbPrefix < 0) {
        return E_INVALIDARG;
    }
    if (buffer == nullptr) {
        return E_POINTER;
    }
    std::lock_guard<std::recursive_mutex> lock(m_frameLock);
    m_bufferProperties = properties;
    m_sampleBuffer = buffer;
    return S_OK;
}

HRESULT CTavrixGrabber::TakeSnapshot(CRgbPicture* picture) {
    if (picture == nullptr) {
        return E_POINTER;
    }
    std::unique_lock<std::mutex> lock(m_snapshotLock);
    m_snapshotRequested.store(true, std::memory_order_release);
    const auto timeout = std::chrono::milliseconds(m_snapshotTimeoutMs());
    if (!m_snapshotReadyCond.wait_for(lock, timeout, [this] { return m_snapshotReady; })) {
        GST_INFO_OBJECT(m_element, "no frame for a snapshot within %u ms",
                        static_cast<unsigned>(timeout.count()));
        return E_FAIL;
    }
    m_snapshotReady = false;
    *picture = std::move(*m_snapshot);
    m_snapshot.reset();
    return S_OK;
}

bool CTavrixGrabber::SetCaps(GstCaps* caps) {
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps) || (GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGR &&
                                                   GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_I420)) {
        GST_WARNING_OBJECT(m_element, "refusing caps %" GST_PTR_FORMAT, caps);
        return false;
    }
    std::lock_guard<std::recursive_mutex> lock(m_frameLock);
    m_info = info;
    m_format = CVideoFormat{};
    m_format.width = GST_VIDEO_INFO_WIDTH(&info);
    m_format.height = GST_VIDEO_INFO_HEIGHT(&info);
    m_format.stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    m_format.frameSize = static_cast<int32_t>(GST_VIDEO_INFO_SIZE(&info));
    if (GST_VIDEO_INFO_FPS_N(&info) > 0) {
        m_format.frameDuration100ns = static_cast<REFERENCE_TIME>(gst_util_uint64_scale_int(
            kUnitsPerSecond, GST_VIDEO_INFO_FPS_D(&info), GST_VIDEO_INFO_FPS_N(&info)));
    }
    m_format.SetFormatName(gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info)));
    for (guint plane = 0; plane < GST_VIDEO_INFO_N_PLANES(&info) && plane < 3; ++plane) {
        m_format.planeOffset[plane] = static_cast<int32_t>(GST_VIDEO_INFO_PLANE_OFFSET(&info, plane));
        m_format.planeStride[plane] = GST_VIDEO_INFO_PLANE_STRIDE(&info, plane);
    }
    m_format.fullRange = GST_VIDEO_INFO_COLORIMETRY(&info).range == GST_VIDEO_COLOR_RANGE_0_255;
    if (m_snapshotConverter != nullptr) {
        gst_video_converter_free(m_snapshotConverter); // made for the old format
        m_snapshotConverter = nullptr;
    }
    m_haveFormat = true;
    GST_DEBUG_OBJECT(m_element, "input %dx%d stride %d, %" G_GINT64_FORMAT " per frame", m_format.width,
                     m_format.height, m_format.stride, static_cast<gint64>(m_format.frameDuration100ns));
    return true;
}

void CTavrixGrabber::Stop() {
    std::lock_guard<std::recursive_mutex> lock(m_frameLock);
    m_haveFormat = false;
}

bool CTavrixGrabber::WantsWritableFrames() {
    std::lock_guard<std::recursive_mutex> lock(m_frameLock);
    return m_callback != nullptr;
}

GstFlowReturn CTavrixGrabber::ProcessFrame(GstBuffer* buffer, bool writable) {
    std::lock_guard<std::recursive_mutex> lock(m_frameLock);
    // A callback registered while this frame was already on its way without being made writable
    // sees the next frame; it must not write into a buffer others may share.
    ITavrixGrabberCB* callback = writable ? m_callback : nullptr;
    const bool wantSnapshot = m_snapshotRequested.load(std::memory_order_acquire);
    if (callback == nullptr && !wantSnapshot && m_sampleBuffer == nullptr) {
        return GST_FLOW_OK;
    }
    if (!m_haveFormat) {
        GST_ELEMENT_ERROR(m_element, CORE, NEGOTIATION, (nullptr), ("buffer before caps"));
        return GST_FLOW_NOT_NEGOTIATED;
    }

    // An I420 snapshot is converted from the frame mapped as video, before the map below.
    const bool yuv = GST_VIDEO_INFO_FORMAT(&m_info) == GST_VIDEO_FORMAT_I420;
    if (yuv && wantSnapshot && m_snapshotRequested.exchange(false, std::memory_order_acq_rel)) {
        FillYuvSnapshotLocked(buffer);
    }

    GstMapInfo map;
    const auto flags = static_cast<GstMapFlags>(callback != nullptr ? GST_MAP_READWRITE : GST_MAP_READ);
    if (!gst_buffer_map(buffer, &map, flags)) {
        GST_ELEMENT_ERROR(m_element, RESOURCE, FAILED, (nullptr), ("could not map the frame"));
        return GST_FLOW_ERROR;
    }
    if (map.size < static_cast<gsize>(m_format.frameSize)) {
        gst_buffer_unmap(buffer, &map);
        GST_ELEMENT_ERROR(m_element, STREAM, FORMAT, (nullptr),
                          ("frame of %" G_GSIZE_FORMAT " bytes, expected %d", map.size, m_format.frameSize));
        return GST_FLOW_ERROR;
    }

    // The snapshot shows the frame as it came from upstream, before the callback draws into it.
    if (!yuv && wantSnapshot && m_snapshotRequested.exchange(false, std::memory_order_acq_rel)) {
        FillSnapshotLocked(map);
    }
    if (m_sampleBuffer != nullptr) {
        CopyToSampleBufferLocked(map);
    }

    GstFlowReturn ret = GST_FLOW_OK;
    if (callback != nullptr) {
        CMediaSample sample(map.data, m_format.frameSize);
        if (GST_BUFFER_PTS_IS_VALID(buffer)) {
            const REFERENCE_TIME start = ToReferenceTime(GST_BUFFER_PTS(buffer));
            const REFERENCE_TIME duration = GST_BUFFER_DURATION_IS_VALID(buffer)
                                                ? ToReferenceTime(GST_BUFFER_DURATION(buffer))
                                                : m_format.frameDuration100ns;
            sample.SetTime(start, start + duration);
        }
        sample.SetSyncPoint(!GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT));
        const HRESULT hr = callback->OnFrame(&sample);
        if (FAILED(hr)) {
            GST_ELEMENT_ERROR(m_element, STREAM, FAILED, ("The frame callback failed."),
                              ("OnFrame returned 0x%08X", static_cast<unsigned>(hr)));
            ret = GST_FLOW_ERROR;
        } else if (hr != S_OK) {
            ret = GST_BASE_TRANSFORM_FLOW_DROPPED;
        }
    }
    gst_buffer_unmap(buffer, &map);
    return ret;
}

void CTavrixGrabber::FillSnapshotLocked(const GstMapInfo& map) {
    auto picture = std::make_unique<CRgbPicture>();
    picture->width = m_format.width;
    picture->height = m_format.height;
    picture->stride = BgrRowStride(m_format.width);
    picture->bytes.resize(static_cast<size_t>(picture->stride) * picture->height);
    const size_t rowBytes = static_cast<size_t>(m_format.width) * 3;
    for (int32_t y = 0; y < m_format.height; ++y) {
        std::memcpy(picture->Row(y), map.data + static_cast<size_t>(y) * m_format.stride, rowBytes);
    }
    PublishSnapshotLocked(std::move(picture));
}

void CTavrixGrabber::FillYuvSnapshotLocked(GstBuffer* buffer) {
    auto picture = std::make_unique<CRgbPicture>();
    picture->width = m_format.width;
    picture->height = m_format.height;
    picture->stride = BgrRowStride(m_format.width);
    picture->bytes.resize(static_cast<size_t>(picture->stride) * picture->height);
    GstVideoInfo bgrInfo;
    gst_video_info_set_format(&bgrInfo, GST_VIDEO_FORMAT_BGR, static_cast<guint>(m_format.width),
                              static_cast<guint>(m_format.height));
    // The converter converts only the format: rate and pixel aspect are the input's.
    GST_VIDEO_INFO_FPS_N(&bgrInfo) = GST_VIDEO_INFO_FPS_N(&m_info);
    GST_VIDEO_INFO_FPS_D(&bgrInfo) = GST_VIDEO_INFO_FPS_D(&m_info);
    GST_VIDEO_INFO_PAR_N(&bgrInfo) = GST_VIDEO_INFO_PAR_N(&m_info);
    GST_VIDEO_INFO_PAR_D(&bgrInfo) = GST_VIDEO_INFO_PAR_D(&m_info);
    GST_VIDEO_INFO_INTERLACE_MODE(&bgrInfo) = GST_VIDEO_INFO_INTERLACE_MODE(&m_info);
    if (m_snapshotConverter == nullptr) {
        m_snapshotConverter = gst_video_converter_new(&m_info, &bgrInfo, nullptr);
    }
    GstBuffer* out = gst_buffer_new_wrapped_full(static_cast<GstMemoryFlags>(0), picture->bytes.data(),
                                                 picture->bytes.size(), 0, picture->bytes.size(), nullptr, nullptr);
    GstVideoFrame inFrame;
    GstVideoFrame outFrame;
    bool converted = false;
    if (m_snapshotConverter != nullptr && gst_video_frame_map(&inFrame, &m_info, buffer, GST_MAP_READ)) {
        if (gst_video_frame_map(&outFrame, &bgrInfo, out, GST_MAP_WRITE)) {
            gst_video_converter_frame(m_snapshotConverter, &inFrame, &outFrame);
            gst_video_frame_unmap(&outFrame);
            converted = true;
        }
        gst_video_frame_unmap(&inFrame);
    }
    gst_buffer_unref(out);
    if (!converted) {
        GST_WARNING_OBJECT(m_element, "could not convert the frame for a snapshot");
        m_snapshotRequested.store(true, std::memory_order_release); // the next frame tries again
        return;
    }
    PublishSnapshotLocked(std::move(picture));
}

void CTavrixGrabber::PublishSnapshotLocked(std::unique_ptr<CRgbPicture> picture) {
    {
        std::lock_guard<std::mutex> lock(m_snapshotLock);
        m_snapshot = std::move(picture); // a snapshot nobody took is replaced
        m_snapshotReady = true;
    }
    m_snapshotReadyCond.notify_all();
}

void CTavrixGrabber::CopyToSampleBufferLocked(const GstMapInfo& map) {
    if (m_format.frameSize > m_bufferProperties.cbBuffer) {
        GST_LOG_OBJECT(m_element, "frame of %d bytes does not fit the sample buffer of %d",
                       m_format.frameSize, m_bufferProperties.cbBuffer);
        return;
    }
    std::memcpy(m_sampleBuffer + m_bufferProperties.cbPrefix, map.data,
                static_cast<size_t>(m_format.frameSize));
}
