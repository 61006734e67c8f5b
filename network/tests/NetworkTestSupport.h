#pragma once
// Shared by the network camera tests: JPEG frames and a short clip made with GStreamer, the HTTP
// camera peer (http_camera.py) as a child process, and a source bin run into an appsink.

#include "network/NetworkSource.h"
#include "network/tests/ChildProcess.h"
#include "recording/CaptureSourceName.h"
#include "recording/tests/GstTestSupport.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace nettest {

inline std::string PeerScript() {
    return std::string(TAVRIX_SOURCE_DIR) + "/network/tests/http_camera.py";
}

// Runs a pipeline description to its end (at most 60 s); true when it ended without error.
inline bool RunToEnd(const std::string& description) {
    gsttest::ElementPtr pipeline = gsttest::ParsePipeline(description);
    if (!pipeline) {
        return false;
    }
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline.get());
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ended = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (message != nullptr) {
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return ended;
}

// A folder of count JPEG pictures of a moving ball, 320x240.
inline std::string MakeJpegFrames(const std::string& folder, int count) {
    std::filesystem::create_directories(folder);
    RunToEnd("videotestsrc pattern=ball num-buffers=" + std::to_string(count) +
             " ! video/x-raw,width=320,height=240 ! jpegenc ! multifilesink location=" + folder +
             "/frame%03d.jpg");
    return folder;
}

// An MP4 clip of frames pictures at 15 a second, 160x120.
inline std::string MakeClip(const std::string& path, int frames) {
    RunToEnd(
        "videotestsrc pattern=ball num-buffers=" + std::to_string(frames) +
        " ! video/x-raw,width=160,height=120,framerate=15/1 ! x264enc ! mp4mux ! filesink location=" + path);
    return path;
}

// The HTTP camera peer in one of its modes; Port() after it listens (-1 when it failed).
class CHttpCamera {
public:
    explicit CHttpCamera(std::vector<std::string> arguments) {
        std::vector<std::string> argv = {"/usr/bin/python3", PeerScript()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        m_process = std::make_unique<CChildProcess>(argv);
        m_port = m_process->ReadPort();
    }
    int Port() const { return m_port; }
    std::string Url(const std::string& userInfo = {}) const {
        return "http://" + (userInfo.empty() ? std::string() : userInfo + "@") +
               "127.0.0.1:" + std::to_string(m_port) + "/video.mjpg";
    }

private:
    std::unique_ptr<CChildProcess> m_process;
    int m_port = -1;
};

// A capture source for a display name running into an appsink: frames counted, the first error kept.
class CSourceRun {
public:
    explicit CSourceRun(const std::string& displayName, const CNetworkSourceSettings& settings = {}) {
        m_pipeline = gsttest::Own(gst_pipeline_new(nullptr));
        m_source = CreateCaptureSource(displayName, "CaptureDevice", settings);
        m_sink = gst_element_factory_make("appsink", nullptr);
        g_object_set(m_sink, "sync", TRUE, "max-buffers", 2u, "drop", TRUE, "emit-signals", FALSE, nullptr);
        gst_bin_add_many(GST_BIN(m_pipeline.get()), m_source, m_sink, nullptr);
        gst_element_link(m_source, m_sink);
        m_stream = NetworkStreamStateOf(m_source);
        gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
    }
    ~CSourceRun() { gst_element_set_state(m_pipeline.get(), GST_STATE_NULL); }

    CNetworkStreamState& Stream() { return *m_stream; }
    // Waits until count frames have left the source or the pipeline failed.
    bool WaitForFrames(int64_t count, int timeoutMs = 30000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (m_stream->GetFrames() >= count) {
                return true;
            }
            if (!Error().empty()) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    // The first error message on the bus (empty: none yet).
    std::string Error() {
        GstBus* bus = gst_element_get_bus(m_pipeline.get());
        while (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
            if (m_error.empty()) {
                GError* error = nullptr;
                gchar* debug = nullptr;
                gst_message_parse_error(message, &error, &debug);
                m_error = std::string(error != nullptr ? error->message : "?") + " | " +
                          (debug != nullptr ? debug : "");
                g_clear_error(&error);
                g_free(debug);
            }
            gst_message_unref(message);
        }
        gst_object_unref(bus);
        return m_error;
    }
    bool WaitForError(int timeoutMs = 30000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!Error().empty()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    // The caps of the frames leaving the source.
    GstVideoInfo Format() {
        GstVideoInfo info;
        gst_video_info_init(&info);
        GstPad* pad = gst_element_get_static_pad(m_source, "src");
        if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
            gst_video_info_from_caps(&info, caps);
            gst_caps_unref(caps);
        }
        gst_object_unref(pad);
        return info;
    }
    GstElement* Source() { return m_source; }

private:
    gsttest::ElementPtr m_pipeline;
    GstElement* m_source = nullptr; // owned by the pipeline
    GstElement* m_sink = nullptr;
    std::shared_ptr<CNetworkStreamState> m_stream;
    std::string m_error;
};

} // namespace nettest
