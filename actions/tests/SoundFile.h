#pragma once
// A sound file for the sound tests, made by GStreamer itself.

#include <gst/gst.h>

#include <string>

// Writes a short WAV file with a test tone.
inline bool MakeSoundFile(const std::string& path) {
    gst_init(nullptr, nullptr);
    std::string description =
        "audiotestsrc num-buffers=10 ! audio/x-raw,rate=8000,channels=1 ! wavenc ! filesink location=\"" +
        path + "\"";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (!pipeline) {
        g_clear_error(&error);
        return false;
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 10 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    bool ok = message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (message) {
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
}
