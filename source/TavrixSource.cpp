#include "source/TavrixSource.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <numeric>

GST_DEBUG_CATEGORY_EXTERN(tavrix_source_debug);
#define GST_CAT_DEFAULT tavrix_source_debug

namespace {

constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;
constexpr int kMaxDimension = 16384;
// Marks a duration the callback did not touch: it had no frame to give.
constexpr REFERENCE_TIME kNoDuration = std::numeric_limits<REFERENCE_TIME>::min();
constexpr REFERENCE_TIME kMinRetry100ns = 50000;    // 5 ms
constexpr REFERENCE_TIME kMaxRetry100ns = 10000000; // 1 s

} // namespace

CTavrixSource::CTavrixSource(GstBaseSrc* element) : m_element(element) {
    gst_video_info_init(&m_info);
}

HRESULT CTavrixSource::SetSampleCallback(ITavrixSourceCB* callback) {
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_callback = callback;
    return S_OK;
}

HRESULT CTavrixSource::SetVideoSize(int width, int height) {
    if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_width = width;
    m_height = height;
    return S_OK;
}

HRESULT CTavrixSource::SetFrameTime(REFERENCE_TIME timePerFrame) {
    if (timePerFrame < 0) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_frameTime = timePerFrame;
    return S_OK;
}

HRESULT CTavrixSource::SetPixelFormat(int format) {
    if (format != kTavrixFormatBgr && format != kTavrixFormatI420) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_format = format;
    return S_OK;
}

void CTavrixSource::FrameRateFromFrameTime(REFERENCE_TIME timePerFrame, int* numerator, int* denominator) {
    if (timePerFrame <= 0) {
        *numerator = 0;
        *denominator = 1;
        return;
    }
    const REFERENCE_TIME rounded = (kUnitsPerSecond + timePerFrame / 2) / timePerFrame;
    if (rounded > 0 && rounded <= std::numeric_limits<int>::max() &&
        kUnitsPerSecond / rounded == timePerFrame) {
        *numerator = static_cast<int>(rounded);
        *denominator = 1;
        return;
    }
    REFERENCE_TIME num = kUnitsPerSecond;
    REFERENCE_TIME den = timePerFrame;
    const REFERENCE_TIME divisor = std::gcd(num, den);
    num /= divisor;
    den /= divisor;
    // A frame time longer than 10^7 units a frame overflows nothing; one beyond int range is
    // reduced to the nearest fraction GStreamer can carry.
    if (den > std::numeric_limits<int>::max()) {
        gst_util_double_to_fraction(static_cast<double>(num) / static_cast<double>(den), numerator,
                                    denominator);
        return;
    }
    *numerator = static_cast<int>(num);
    *denominator = static_cast<int>(den);
}

GstCaps* CTavrixSource::FixedCaps(int width, int height, REFERENCE_TIME frameTime, int format) const {
    int fpsN = 0;
    int fpsD = 1;
    FrameRateFromFrameTime(frameTime, &fpsN, &fpsD);
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
                                        format == kTavrixFormatI420 ? "I420" : "BGR", "width", G_TYPE_INT,
                                        width, "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION,
                                        fpsN, fpsD, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1,
                                        "interlace-mode", G_TYPE_STRING, "progressive", nullptr);
    if (format == kTavrixFormatI420) {
        // The application converts with the BT.601 matrix at studio range at every size; without
        // this, converters and encoders would take a high-definition picture for BT.709.
        gst_caps_set_simple(caps, "colorimetry", G_TYPE_STRING, "bt601", "chroma-site", G_TYPE_STRING, "jpeg",
                            nullptr);
    }
    return caps;
}

bool CTavrixSource::Start() {
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        if (m_width <= 0 || m_height <= 0) {
            GST_ELEMENT_ERROR(m_element, CORE, NEGOTIATION, ("The video size of the source was not set."),
                              ("SetVideoSize was not called before starting"));
            return false;
        }
        m_activeWidth = m_width;
        m_activeHeight = m_height;
        m_activeFrameTime = m_frameTime;
        m_activeFormat = m_format;
        m_started = true;
    }
    {
        std::lock_guard<std::mutex> lock(m_streamLock);
        m_streamTime = 0;
        m_frameCount = 0;
        gst_video_info_init(&m_info);
        m_lends = true;
    }
    {
        std::lock_guard<std::mutex> lock(m_waitLock);
        m_flushing = false;
    }
    GST_DEBUG_OBJECT(m_element, "started");
    return true;
}

void CTavrixSource::Stop() {
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_started = false;
}

GstCaps* CTavrixSource::GetCaps(GstCaps* filter) {
    GstCaps* caps = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        const int width = m_started ? m_activeWidth : m_width;
        const int height = m_started ? m_activeHeight : m_height;
        const REFERENCE_TIME frameTime = m_started ? m_activeFrameTime : m_frameTime;
        const int format = m_started ? m_activeFormat : m_format;
        if (width > 0 && height > 0) {
            caps = FixedCaps(width, height, frameTime, format);
        }
    }
    if (caps == nullptr) {
        caps = gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(m_element));
    }
    if (filter != nullptr) {
        GstCaps* intersection = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = intersection;
    }
    return caps;
}

bool CTavrixSource::SetCaps(GstCaps* caps) {
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps)) {
        GST_WARNING_OBJECT(m_element, "refusing caps %" GST_PTR_FORMAT, caps);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        const GstVideoFormat offered =
            m_activeFormat == kTavrixFormatI420 ? GST_VIDEO_FORMAT_I420 : GST_VIDEO_FORMAT_BGR;
        if (GST_VIDEO_INFO_FORMAT(&info) != offered) {
            GST_WARNING_OBJECT(m_element, "refusing caps %" GST_PTR_FORMAT, caps);
            return false;
        }
        if (GST_VIDEO_INFO_WIDTH(&info) != m_activeWidth || GST_VIDEO_INFO_HEIGHT(&info) != m_activeHeight) {
            GST_WARNING_OBJECT(m_element, "refusing size %dx%d, offering %dx%d", GST_VIDEO_INFO_WIDTH(&info),
                               GST_VIDEO_INFO_HEIGHT(&info), m_activeWidth, m_activeHeight);
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(m_streamLock);
    m_info = info;
    GST_DEBUG_OBJECT(m_element, "negotiated %" GST_PTR_FORMAT, caps);
    return true;
}

bool CTavrixSource::DecideAllocation(GstQuery* query) {
    GstCaps* caps = nullptr;
    gst_query_parse_allocation(query, &caps, nullptr);
    GstVideoInfo info;
    if (caps == nullptr || !gst_video_info_from_caps(&info, caps)) {
        return false;
    }
    guint size = static_cast<guint>(GST_VIDEO_INFO_SIZE(&info));
    guint minBuffers = 0;
    guint maxBuffers = 0;
    const bool update = gst_query_get_n_allocation_pools(query) > 0;
    if (update) {
        GstBufferPool* proposed = nullptr;
        guint proposedSize = 0;
        gst_query_parse_nth_allocation_pool(query, 0, &proposed, &proposedSize, &minBuffers, &maxBuffers);
        if (proposed != nullptr) {
            gst_object_unref(proposed);
        }
        size = std::max(size, proposedSize);
    }
    // Our own pool, so that every buffer has the plain layout the callback is promised.
    GstBufferPool* pool = gst_video_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, caps, size, minBuffers, maxBuffers);
    if (!gst_buffer_pool_set_config(pool, config)) {
        gst_object_unref(pool);
        return false;
    }
    if (update) {
        gst_query_set_nth_allocation_pool(query, 0, pool, size, minBuffers, maxBuffers);
    } else {
        gst_query_add_allocation_pool(query, pool, size, minBuffers, maxBuffers);
    }
    gst_object_unref(pool);
    return true;
}

bool CTavrixSource::PauseBeforeRetry(REFERENCE_TIME frameTime) {
    const REFERENCE_TIME pause100ns = std::clamp(frameTime, kMinRetry100ns, kMaxRetry100ns);
    std::unique_lock<std::mutex> lock(m_waitLock);
    m_waitCond.wait_for(lock, std::chrono::microseconds(pause100ns / 10), [this] { return m_flushing; });
    return !m_flushing;
}

bool CTavrixSource::NextCallback(ITavrixSourceCB** callback, REFERENCE_TIME* frameTime,
                                 GstFlowReturn* result) {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_waitLock);
            if (m_flushing) {
                *result = GST_FLOW_FLUSHING;
                return false;
            }
        }
        {
            std::lock_guard<std::mutex> lock(m_stateLock);
            *callback = m_callback;
            *frameTime = m_activeFrameTime;
        }
        if (*callback != nullptr) {
            return true;
        }
        if (!PauseBeforeRetry(*frameTime)) {
            *result = GST_FLOW_FLUSHING;
            return false;
        }
    }
}

void CTavrixSource::Stamp(GstBuffer* buffer, REFERENCE_TIME duration) {
    duration = std::max<REFERENCE_TIME>(duration, 0);
    std::lock_guard<std::mutex> lock(m_streamLock);
    const REFERENCE_TIME start = m_streamTime;
    m_streamTime = start + duration;
    GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(start) * 100;
    GST_BUFFER_DTS(buffer) = GST_BUFFER_PTS(buffer);
    GST_BUFFER_DURATION(buffer) = static_cast<GstClockTime>(duration) * 100;
    GST_BUFFER_OFFSET(buffer) = m_frameCount;
    GST_BUFFER_OFFSET_END(buffer) = m_frameCount + 1;
    ++m_frameCount;
    GST_BUFFER_FLAG_UNSET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
}

GstFlowReturn CTavrixSource::Create(GstBuffer** out) {
    gsize frameSize = 0;
    {
        std::lock_guard<std::mutex> lock(m_streamLock);
        frameSize = GST_VIDEO_INFO_SIZE(&m_info);
    }
    if (frameSize == 0) {
        GST_ELEMENT_ERROR(m_element, CORE, NEGOTIATION, (nullptr), ("no format negotiated"));
        return GST_FLOW_NOT_NEGOTIATED;
    }
    if (m_lends) {
        const GstFlowReturn result = CreateLent(out);
        if (result != GST_FLOW_CUSTOM_SUCCESS) {
            return result;
        }
        GST_DEBUG_OBJECT(m_element, "the callback does not lend its frames: copying them");
        m_lends = false;
    }
    GstBuffer* buffer = nullptr;
    GstFlowReturn result =
        GST_BASE_SRC_GET_CLASS(m_element)->alloc(m_element, 0, static_cast<guint>(frameSize), &buffer);
    if (result != GST_FLOW_OK) {
        return result;
    }
    result = Fill(buffer);
    if (result != GST_FLOW_OK) {
        gst_buffer_unref(buffer);
        return result;
    }
    *out = buffer;
    return GST_FLOW_OK;
}

GstFlowReturn CTavrixSource::CreateLent(GstBuffer** out) {
    gsize frameSize = 0;
    {
        std::lock_guard<std::mutex> lock(m_streamLock);
        frameSize = GST_VIDEO_INFO_SIZE(&m_info);
    }
    for (;;) {
        ITavrixSourceCB* callback = nullptr;
        REFERENCE_TIME frameTime = 0;
        GstFlowReturn result = GST_FLOW_OK;
        if (!NextCallback(&callback, &frameTime, &result)) {
            return result;
        }
        CTavrixLentFrame frame;
        REFERENCE_TIME duration = kNoDuration;
        const HRESULT hr = callback->LendSampleCB(&frame, &duration);
        if (hr == E_NOTIMPL) {
            return GST_FLOW_CUSTOM_SUCCESS;
        }
        const bool lent = hr == S_OK && duration != kNoDuration && frame.data != nullptr;
        if (!lent || frame.size < frameSize) {
            if (frame.release != nullptr) {
                frame.release(frame.owner);
            }
        }
        if (hr == TAVRIX_S_END_OF_STREAM) {
            GST_DEBUG_OBJECT(m_element, "the callback ended the stream");
            return GST_FLOW_EOS;
        }
        if (FAILED(hr)) {
            GST_ELEMENT_ERROR(m_element, STREAM, FAILED, ("The frame callback of the source failed."),
                              ("LendSampleCB returned 0x%08X", static_cast<unsigned>(hr)));
            return GST_FLOW_ERROR;
        }
        if (!lent) {
            // No frame: deliver nothing and ask again after a frame time.
            if (!PauseBeforeRetry(frameTime)) {
                return GST_FLOW_FLUSHING;
            }
            continue;
        }
        if (frame.size < frameSize) {
            GST_WARNING_OBJECT(m_element,
                               "skipping a lent frame of %" G_GSIZE_FORMAT " bytes for %" G_GSIZE_FORMAT,
                               frame.size, frameSize);
            continue;
        }
        // Read-only: other recordings may read the same bytes; whoever would write gets a copy.
        GstBuffer* buffer =
            gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, const_cast<uint8_t*>(frame.data),
                                        frame.size, 0, frameSize, frame.owner, frame.release);
        Stamp(buffer, duration);
        *out = buffer;
        return GST_FLOW_OK;
    }
}

GstFlowReturn CTavrixSource::Fill(GstBuffer* buffer) {
    gsize frameSize = 0;
    {
        std::lock_guard<std::mutex> lock(m_streamLock);
        frameSize = GST_VIDEO_INFO_SIZE(&m_info);
    }
    if (frameSize == 0) {
        GST_ELEMENT_ERROR(m_element, CORE, NEGOTIATION, (nullptr), ("no format negotiated"));
        return GST_FLOW_NOT_NEGOTIATED;
    }
    for (;;) {
        ITavrixSourceCB* callback = nullptr;
        REFERENCE_TIME frameTime = 0;
        GstFlowReturn result = GST_FLOW_OK;
        if (!NextCallback(&callback, &frameTime, &result)) {
            return result;
        }
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
            GST_ELEMENT_ERROR(m_element, RESOURCE, FAILED, (nullptr), ("could not map the output buffer"));
            return GST_FLOW_ERROR;
        }
        if (map.size < frameSize) {
            gst_buffer_unmap(buffer, &map);
            GST_ELEMENT_ERROR(
                m_element, RESOURCE, FAILED, (nullptr),
                ("buffer of %" G_GSIZE_FORMAT " bytes for a frame of %" G_GSIZE_FORMAT, map.size, frameSize));
            return GST_FLOW_ERROR;
        }
        CMediaSample sample(map.data, static_cast<int32_t>(frameSize));
        REFERENCE_TIME duration = kNoDuration;
        const HRESULT hr = callback->GetSampleCB(&sample, &duration);
        gst_buffer_unmap(buffer, &map);

        if (hr == TAVRIX_S_END_OF_STREAM) {
            GST_DEBUG_OBJECT(m_element, "the callback ended the stream");
            return GST_FLOW_EOS;
        }
        if (FAILED(hr)) {
            GST_ELEMENT_ERROR(m_element, STREAM, FAILED, ("The frame callback of the source failed."),
                              ("GetSampleCB returned 0x%08X", static_cast<unsigned>(hr)));
            return GST_FLOW_ERROR;
        }
        if (hr != S_OK || duration == kNoDuration) {
            // No frame: deliver nothing and ask again after a frame time.
            if (!PauseBeforeRetry(frameTime)) {
                return GST_FLOW_FLUSHING;
            }
            continue;
        }
        Stamp(buffer, duration);
        return GST_FLOW_OK;
    }
}

void CTavrixSource::Unlock() {
    {
        std::lock_guard<std::mutex> lock(m_waitLock);
        m_flushing = true;
    }
    m_waitCond.notify_all();
}

void CTavrixSource::UnlockStop() {
    std::lock_guard<std::mutex> lock(m_waitLock);
    m_flushing = false;
}
