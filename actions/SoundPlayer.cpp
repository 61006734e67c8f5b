#include "actions/SoundPlayer.h"

#include "foundation/Tracer.h"

#include <gst/gst.h>

#include <chrono>
#include <cstdlib>

namespace {
// playbin flags: audio and software volume only, so a video file given as sound opens no window.
constexpr guint kPlayFlagAudio = 1 << 1;
constexpr guint kPlayFlagSoftVolume = 1 << 4;
} // namespace

struct CSoundPlayer::Request {
    CSoundPlayer* player;
    std::string path;
};

CSoundPlayer& CSoundPlayer::Instance() {
    static CSoundPlayer player;
    return player;
}

CSoundPlayer::CSoundPlayer() {
    gst_init(nullptr, nullptr);
    m_context = g_main_context_new();
    m_loop = g_main_loop_new(m_context, FALSE);
    m_thread = std::thread([this] {
        g_main_context_push_thread_default(m_context);
        g_main_loop_run(m_loop);
        ReleaseCurrent(false, false);
        g_main_context_pop_thread_default(m_context);
    });
}

CSoundPlayer::~CSoundPlayer() {
    g_main_loop_quit(m_loop);
    if (m_thread.joinable()) {
        m_thread.join();
    }
    g_main_loop_unref(m_loop);
    g_main_context_unref(m_context);
}

void CSoundPlayer::Play(const std::string& path) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_outstanding;
    }
    GSource* source = g_idle_source_new();
    g_source_set_callback(source, G_SOURCE_FUNC(&CSoundPlayer::OnRequest), new Request{this, path},
                          [](gpointer data) { delete static_cast<Request*>(data); });
    g_source_attach(source, m_context);
    g_source_unref(source);
}

int CSoundPlayer::OnRequest(void* data) {
    auto* request = static_cast<Request*>(data);
    request->player->Start(request->path);
    return G_SOURCE_REMOVE;
}

void CSoundPlayer::Start(const std::string& path) {
    if (m_pipeline) {
        TRACE("CSoundPlayer: a new sound replaces the one playing");
        ReleaseCurrent(false, false);
    }
    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(path.c_str(), &error);
    GstElement* pipeline = uri ? gst_element_factory_make("playbin", nullptr) : nullptr;
    if (!pipeline) {
        TRACE("CSoundPlayer: cannot play '%s': %s", path.c_str(), error ? error->message : "no playbin");
        g_clear_error(&error);
        g_free(uri);
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_failed;
        --m_outstanding;
        m_idle.notify_all();
        return;
    }
    g_object_set(pipeline, "uri", uri, "flags", kPlayFlagAudio | kPlayFlagSoftVolume, nullptr);
    g_free(uri);
    if (const char* sinkName = std::getenv("TAVRIX_AUDIO_SINK"); sinkName && *sinkName) {
        if (GstElement* sink = gst_element_factory_make(sinkName, nullptr)) {
            g_object_set(pipeline, "audio-sink", sink, nullptr);
        }
    }
    m_pipeline = pipeline;
    GstBus* bus = gst_element_get_bus(pipeline);
    m_watch = gst_bus_create_watch(bus);
    g_source_set_callback(m_watch, G_SOURCE_FUNC(&CSoundPlayer::OnBusMessage), this, nullptr);
    g_source_attach(m_watch, m_context);
    gst_object_unref(bus);
    TRACE("CSoundPlayer: playing '%s'", path.c_str());
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        TRACE("CSoundPlayer: '%s' refused to play", path.c_str());
        ReleaseCurrent(false, true);
    }
}

int CSoundPlayer::OnBusMessage(GstBus*, GstMessage* message, void* data) {
    auto* player = static_cast<CSoundPlayer*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS:
        TRACE("CSoundPlayer: sound ended");
        player->ReleaseCurrent(true, false);
        return G_SOURCE_REMOVE;
    case GST_MESSAGE_ERROR: {
        GError* error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        TRACE("CSoundPlayer: sound failed: %s", error ? error->message : "unknown error");
        g_clear_error(&error);
        player->ReleaseCurrent(false, true);
        return G_SOURCE_REMOVE;
    }
    default:
        return G_SOURCE_CONTINUE;
    }
}

void CSoundPlayer::ReleaseCurrent(bool finished, bool failed) {
    if (!m_pipeline) {
        return;
    }
    if (m_watch) {
        g_source_destroy(m_watch);
        g_source_unref(m_watch);
        m_watch = nullptr;
    }
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    gst_object_unref(m_pipeline);
    m_pipeline = nullptr;
    std::lock_guard<std::mutex> guard(m_lock);
    m_finished += finished ? 1 : 0;
    m_failed += failed ? 1 : 0;
    --m_outstanding;
    m_idle.notify_all();
}

bool CSoundPlayer::WaitIdle(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_idle.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [this] { return m_outstanding == 0; });
}

uint32_t CSoundPlayer::FinishedCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_finished;
}

uint32_t CSoundPlayer::FailedCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_failed;
}
