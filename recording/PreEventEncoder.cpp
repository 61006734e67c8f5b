#include "recording/PreEventEncoder.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "recording/EncodedPreEventBuffer.h"
#include "recording/I420Frame.h"
#include "recording/RecordContainer.h"
#include "recording/RecordPipeline.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <cstring>

namespace {

// Frames queued before the encoder; more are dropped, oldest first (the camera never waits).
constexpr guint64 kQueuedFrames = 3;

[[noreturn]] void ThrowCannotStart(const std::string& why) {
    THROW_DIRECTX_INFO(E_FAIL, "Unable to start the recording graph.", "pre-event encoder: " + why);
}

} // namespace

CPreEventEncoder::~CPreEventEncoder() {
    if (m_pipeline != nullptr) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        GstBus* bus = gst_element_get_bus(m_pipeline);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        gst_object_unref(m_pipeline);
    }
    if (m_pool != nullptr) {
        gst_buffer_pool_set_active(m_pool, FALSE);
        gst_object_unref(m_pool);
    }
    if (m_lastCaps != nullptr) {
        gst_caps_unref(m_lastCaps);
    }
}

void CPreEventEncoder::Start(const CSettings& settings) {
    m_settings = settings;
    const CI420Layout layout = CI420Layout::For(settings.width, settings.height);
    if (layout.size == 0) {
        ThrowCannotStart("no frame size");
    }
    m_encoderName = FindH264Encoder(settings.encoder);
    if (m_encoderName.empty()) {
        THROW_DIRECTX_INFO(MK_E_NOOBJECT, "Unable to parse device name of compressor.",
                           "no H.264 encoder present");
    }
    const REFERENCE_TIME frameTime = settings.frameTime > 0 ? settings.frameTime : 400000;
    m_pipeline = gst_pipeline_new("PreEventEncoder");
    gst_object_ref_sink(m_pipeline);
    GstBus* bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_sync_handler(bus, &CPreEventEncoder::OnBusMessage, this, nullptr);
    gst_object_unref(bus);

    m_source = gst_element_factory_make("appsrc", "Frames");
    GstElement* convert = gst_element_factory_make("videoconvert", "Convert");
    GstElement* encoder = gst_element_factory_make(m_encoderName.c_str(), "Compressor");
    GstElement* parse = gst_element_factory_make("h264parse", "Parser");
    GstElement* sink = gst_element_factory_make("appsink", "Units");
    GstElement* elements[] = {m_source, convert, encoder, parse, sink};
    bool made = true;
    for (GstElement* element : elements) {
        made = made && element != nullptr;
    }
    if (!made) {
        for (GstElement* element : elements) {
            if (element != nullptr) {
                gst_object_unref(gst_object_ref_sink(element));
            }
        }
        m_source = nullptr;
        ThrowCannotStart("an element is missing");
    }
    for (GstElement* element : elements) {
        gst_bin_add(GST_BIN(m_pipeline), element);
    }

    // The camera's measured rate, as a fraction of frames a second.
    const int fpsNumerator = static_cast<int>(10000000LL * 1000 / frameTime);
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT,
                                        settings.width, "height", G_TYPE_INT, settings.height, "framerate",
                                        GST_TYPE_FRACTION, fpsNumerator, 1000, nullptr);
    g_object_set(m_source, "caps", caps, "format", GST_FORMAT_TIME, "is-live", TRUE, "do-timestamp", FALSE,
                 "max-buffers", kQueuedFrames, "block", FALSE, nullptr);
    gst_util_set_object_arg(G_OBJECT(m_source), "leaky-type", "downstream");
    ConfigureH264Encoder(encoder, settings.bitsPerSecond, frameTime, settings.preset);
    g_object_set(sink, "sync", FALSE, "emit-signals", TRUE, "enable-last-sample", FALSE, nullptr);
    g_signal_connect(sink, "new-sample", G_CALLBACK(&CPreEventEncoder::OnSample), this);

    m_pool = gst_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(m_pool);
    gst_buffer_pool_config_set_params(config, caps, static_cast<guint>(layout.size), 2, 0);
    gst_caps_unref(caps);
    if (!gst_buffer_pool_set_config(m_pool, config) || !gst_buffer_pool_set_active(m_pool, TRUE)) {
        ThrowCannotStart("no frame memory");
    }
    if (!gst_element_link_many(m_source, convert, encoder, parse, sink, nullptr)) {
        ThrowCannotStart(m_encoderName + " cannot be linked");
    }
    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE || m_failed.load()) {
        ThrowCannotStart(GetError().empty() ? m_encoderName + " does not run" : GetError());
    }
    TRACE("CPreEventEncoder %p: %dx%d with %s", static_cast<void*>(this), settings.width, settings.height,
          m_encoderName.c_str());
}

template <typename Fill>
bool CPreEventEncoder::PushFilled(int64_t time100ns, const Fill& fill) {
    if (m_failed.load(std::memory_order_relaxed) || m_source == nullptr) {
        return false;
    }
    GstBuffer* buffer = nullptr;
    if (gst_buffer_pool_acquire_buffer(m_pool, &buffer, nullptr) != GST_FLOW_OK || buffer == nullptr) {
        return false;
    }
    const CI420Layout layout = CI420Layout::For(m_settings.width, m_settings.height);
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE) || map.size < layout.size) {
        gst_buffer_unref(buffer);
        return false;
    }
    fill(layout, map.data);
    gst_buffer_unmap(buffer, &map);
    if (m_baseTime100ns < 0) {
        m_baseTime100ns = time100ns;
    }
    GST_BUFFER_PTS(buffer) =
        static_cast<GstClockTime>(std::max<int64_t>(time100ns - m_baseTime100ns, 0)) * 100;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(buffer) = static_cast<GstClockTime>(m_settings.frameTime) * 100;
    if (gst_app_src_push_buffer(GST_APP_SRC(m_source), buffer) != GST_FLOW_OK) {
        return false;
    }
    m_pushed.fetch_add(1, std::memory_order_relaxed);
    return true;
}

bool CPreEventEncoder::PushBgrFrame(const uint8_t* bgr, int32_t stride, int64_t time100ns) {
    if (bgr == nullptr || stride < m_settings.width * 3) {
        return false;
    }
    return PushFilled(time100ns, [&](const CI420Layout& layout, uint8_t* out) {
        i420::BgrToI420(bgr, stride, layout, out);
    });
}

bool CPreEventEncoder::PushI420Frame(const uint8_t* const planes[3], const int32_t strides[3],
                                     int64_t time100ns) {
    const int32_t chromaWidth = (m_settings.width + 1) / 2;
    if (planes[0] == nullptr || planes[1] == nullptr || planes[2] == nullptr || strides[0] < m_settings.width ||
        strides[1] < chromaWidth || strides[2] < chromaWidth) {
        return false;
    }
    return PushFilled(time100ns, [&](const CI420Layout& layout, uint8_t* out) {
        const int32_t rows[3] = {layout.height, (layout.height + 1) / 2, (layout.height + 1) / 2};
        const int32_t rowBytes[3] = {layout.width, chromaWidth, chromaWidth};
        for (int p = 0; p < 3; ++p) {
            for (int32_t y = 0; y < rows[p]; ++y) {
                std::memcpy(out + layout.offset[p] + static_cast<size_t>(y) * layout.stride[p],
                            planes[p] + static_cast<size_t>(y) * static_cast<size_t>(strides[p]),
                            static_cast<size_t>(rowBytes[p]));
            }
        }
    });
}

GstFlowReturn CPreEventEncoder::OnSample(GstElement* sink, gpointer user) {
    auto* self = static_cast<CPreEventEncoder*>(user);
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (sample == nullptr) {
        return GST_FLOW_EOS;
    }
    GstCaps* caps = gst_sample_get_caps(sample);
    if (caps != nullptr && (self->m_lastCaps == nullptr || !gst_caps_is_equal(caps, self->m_lastCaps))) {
        if (self->m_lastCaps != nullptr) {
            gst_caps_unref(self->m_lastCaps);
        }
        self->m_lastCaps = gst_caps_ref(caps);
        self->m_target.SetCaps(caps);
    }
    if (GstBuffer* unit = gst_sample_get_buffer(sample)) {
        self->m_target.Add(unit);
        self->m_encoded.fetch_add(1, std::memory_order_relaxed);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

GstBusSyncReply CPreEventEncoder::OnBusMessage(GstBus*, GstMessage* message, gpointer user) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        auto* self = static_cast<CPreEventEncoder*>(user);
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        {
            std::lock_guard<std::mutex> lock(self->m_errorLock);
            if (self->m_error.empty()) {
                self->m_error = error != nullptr ? error->message : "error";
            }
        }
        TRACE("CPreEventEncoder %p: %s (%s)", user, error != nullptr ? error->message : "?",
              debug != nullptr ? debug : "");
        g_clear_error(&error);
        g_free(debug);
        self->m_failed.store(true);
    }
    return GST_BUS_DROP; // the bus frees it; nobody pops this pipeline's bus
}

std::string CPreEventEncoder::GetError() const {
    std::lock_guard<std::mutex> lock(m_errorLock);
    return m_error;
}
