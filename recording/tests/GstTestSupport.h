#pragma once
// Shared by the tests of the GStreamer elements, the capture sources and the device manager:
// GStreamer started once per test process with a private registry in the build folder and the
// build's plugin folder, plus small helpers to run real pipelines with bounded waits.

#include "recording/TavrixElements.h"
#include "TavrixBuildPaths.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

// Tests in which GStreamer's own threads (pipeline streaming threads, the device monitor) hand
// data to the test skip themselves under ThreadSanitizer: GLib's locks and queues are built on
// futexes that ThreadSanitizer does not see, so every hand-over (bus messages, appsink samples,
// devices) would be reported as a race. They run in the plain and the AddressSanitizer builds.
#if defined(__SANITIZE_THREAD__)
#define SKIP_PIPELINE_TEST_UNDER_TSAN()                                                                      \
    GTEST_SKIP() << "streaming threads synchronise through GLib futexes, invisible to ThreadSanitizer"
#else
#define SKIP_PIPELINE_TEST_UNDER_TSAN()                                                                      \
    do {                                                                                                     \
    } while (0)
#endif

namespace gsttest {

inline void StartGStreamer() {
    static std::once_flag once;
    std::call_once(once, [] {
        // No user registry or user plugins may interfere.
        setenv("GST_REGISTRY", TAVRIX_BINARY_DIR "/gst-registry-tests.bin", 1);
        setenv("GST_PLUGIN_PATH", TAVRIX_PLUGIN_DIR, 1);
        InitGStreamer();
    });
}

struct ObjectUnref {
    void operator()(gpointer object) const {
        if (object != nullptr) {
            gst_object_unref(object);
        }
    }
};
using ElementPtr = std::unique_ptr<GstElement, ObjectUnref>;

// Takes ownership of a floating or full reference.
inline ElementPtr Own(GstElement* element) {
    return ElementPtr(element != nullptr ? GST_ELEMENT(gst_object_ref_sink(element)) : nullptr);
}

inline ElementPtr ParsePipeline(const std::string& description) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    EXPECT_EQ(error, nullptr) << (error ? error->message : "") << " in " << description;
    g_clear_error(&error);
    return Own(pipeline);
}

inline GstElement* ByName(GstElement* pipeline, const char* name) {
    GstElement* element = gst_bin_get_by_name(GST_BIN(pipeline), name);
    if (element != nullptr) {
        gst_object_unref(element); // the pipeline keeps it alive
    }
    return element;
}

struct BusOutcome {
    GstMessageType type = GST_MESSAGE_UNKNOWN; // GST_MESSAGE_EOS, GST_MESSAGE_ERROR or UNKNOWN on time-out
    std::string error;                         // the error's message and debug text
};

// Waits for EOS or an error on the pipeline's bus, at most timeoutMs.
inline BusOutcome WaitForEnd(GstElement* pipeline, uint32_t timeoutMs) {
    BusOutcome outcome;
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message =
        gst_bus_timed_pop_filtered(bus, static_cast<GstClockTime>(timeoutMs) * GST_MSECOND,
                                   static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (message != nullptr) {
        outcome.type = GST_MESSAGE_TYPE(message);
        if (outcome.type == GST_MESSAGE_ERROR) {
            GError* error = nullptr;
            gchar* debug = nullptr;
            gst_message_parse_error(message, &error, &debug);
            outcome.error = std::string(error ? error->message : "") + " | " + (debug ? debug : "");
            g_clear_error(&error);
            g_free(debug);
        }
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    return outcome;
}

// Plays the pipeline until EOS or an error (at most timeoutMs), then stops it.
inline BusOutcome RunToEnd(GstElement* pipeline, uint32_t timeoutMs) {
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    BusOutcome outcome = WaitForEnd(pipeline, timeoutMs);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return outcome;
}

} // namespace gsttest
