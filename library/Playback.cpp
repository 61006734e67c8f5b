#include "library/Playback.h"

#include "foundation/Tracer.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>

CPlayback::CPlayback(FrameCallback onFrame) : m_onFrame(std::move(onFrame)) {}

CPlayback::~CPlayback() {
    Close();
}

int CPlayback::OnSample(GstAppSink* sink, void* self, bool preroll) {
    auto* playback = static_cast<CPlayback*>(self);
    GstSample* sample = preroll ? gst_app_sink_pull_preroll(sink) : gst_app_sink_pull_sample(sink);
    if (sample == nullptr) {
        return GST_FLOW_EOS;
    }
    GstVideoInfo info;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstVideoFrame frame;
    if (buffer != nullptr && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
        const int64_t ptsMs =
            GST_BUFFER_PTS_IS_VALID(buffer) ? static_cast<int64_t>(GST_BUFFER_PTS(buffer) / GST_MSECOND) : -1;
        if (playback->m_onFrame) {
            playback->m_onFrame(static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                                GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                                GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), ptsMs);
        }
        gst_video_frame_unmap(&frame);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

bool CPlayback::Open(const std::string& path, std::string* error, int timeoutMs) {
    Close();
    const auto fail = [&](const std::string& reason) {
        TRACE("CPlayback::Open() '%s': %s", path.c_str(), reason.c_str());
        if (error != nullptr) {
            *error = reason;
        }
        Close();
        return false;
    };
    GError* uriError = nullptr;
    gchar* uri = gst_filename_to_uri(path.c_str(), &uriError);
    if (uri == nullptr) {
        const std::string reason = uriError != nullptr ? uriError->message : "not a file name";
        g_clear_error(&uriError);
        return fail(reason);
    }
    m_pipeline = gst_element_factory_make("playbin", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    GstElement* audio = gst_element_factory_make("fakesink", nullptr);
    if (m_pipeline == nullptr || sink == nullptr || audio == nullptr) {
        g_free(uri);
        if (sink != nullptr) {
            gst_object_unref(sink);
        }
        if (audio != nullptr) {
            gst_object_unref(audio);
        }
        return fail("GStreamer's playbin or appsink is missing");
    }
    GstCaps* caps = gst_caps_from_string("video/x-raw,format=RGBx");
    g_object_set(sink, "caps", caps, "sync", TRUE, "max-buffers", 2, "drop", FALSE, nullptr);
    gst_caps_unref(caps);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* appSink, gpointer self) {
        return static_cast<GstFlowReturn>(OnSample(appSink, self, false));
    };
    callbacks.new_preroll = [](GstAppSink* appSink, gpointer self) {
        return static_cast<GstFlowReturn>(OnSample(appSink, self, true));
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    g_object_set(m_pipeline, "uri", uri, "video-sink", sink, "audio-sink", audio, nullptr);
    g_free(uri);
    m_rate = 1.0;
    m_ended = false;
    m_playing = false;
    if (gst_element_set_state(m_pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        std::string reason;
        Poll(&reason);
        return fail(reason.empty() ? "the file cannot be played" : reason);
    }
    GstState state = GST_STATE_NULL;
    const GstStateChangeReturn result = gst_element_get_state(
        m_pipeline, &state, nullptr, static_cast<GstClockTime>(timeoutMs) * GST_MSECOND);
    if (result == GST_STATE_CHANGE_FAILURE || state != GST_STATE_PAUSED) {
        std::string reason;
        Poll(&reason);
        return fail(reason.empty() ? "the file cannot be played" : reason);
    }
    return true;
}

void CPlayback::Close() {
    if (m_pipeline != nullptr) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_pipeline);
        m_pipeline = nullptr;
    }
    m_playing = false;
}

void CPlayback::Play() {
    if (m_pipeline == nullptr) {
        return;
    }
    if (m_ended) {
        m_ended = false;
        Seek(0);
    }
    gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
    m_playing = true;
}

void CPlayback::Pause() {
    if (m_pipeline != nullptr) {
        gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
    }
    m_playing = false;
}

bool CPlayback::Seek(int64_t ms) {
    if (m_pipeline == nullptr) {
        return false;
    }
    m_ended = false;
    const gint64 position = std::max<int64_t>(0, ms) * GST_MSECOND;
    return gst_element_seek(m_pipeline, m_rate, GST_FORMAT_TIME,
                            static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                            GST_SEEK_TYPE_SET, position, GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE) != FALSE;
}

bool CPlayback::SetRate(double rate) {
    m_rate = std::clamp(rate, kMinRate, kMaxRate);
    const int64_t position = PositionMs();
    return Seek(position < 0 ? 0 : position);
}

bool CPlayback::StepFrame() {
    if (m_pipeline == nullptr) {
        return false;
    }
    if (m_playing) {
        Pause();
    }
    // A step is taken in PAUSED only: the change from PLAYING may still be under way.
    gst_element_get_state(m_pipeline, nullptr, nullptr, 2 * GST_SECOND);
    return gst_element_send_event(m_pipeline, gst_event_new_step(GST_FORMAT_BUFFERS, 1, 1.0, TRUE, FALSE)) !=
           FALSE;
}

int64_t CPlayback::PositionMs() const {
    gint64 position = 0;
    if (m_pipeline == nullptr || !gst_element_query_position(m_pipeline, GST_FORMAT_TIME, &position)) {
        return -1;
    }
    return position / GST_MSECOND;
}

int64_t CPlayback::DurationMs() const {
    gint64 duration = 0;
    if (m_pipeline == nullptr || !gst_element_query_duration(m_pipeline, GST_FORMAT_TIME, &duration)) {
        return -1;
    }
    return duration / GST_MSECOND;
}

bool CPlayback::Poll(std::string* error) {
    if (m_pipeline == nullptr) {
        return false;
    }
    GstBus* bus = gst_element_get_bus(m_pipeline);
    while (GstMessage* message = gst_bus_pop(bus)) {
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
            m_ended = true;
            m_playing = false;
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            GError* gerror = nullptr;
            gst_message_parse_error(message, &gerror, nullptr);
            if (error != nullptr && gerror != nullptr) {
                *error = gerror->message;
            }
            g_clear_error(&gerror);
            m_playing = false;
        }
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    return m_ended;
}
