#include "recording/RecordContainer.h"

#include <gst/gst.h>

#include <mutex>

bool IsKnownRecordContainer(int32_t value) {
    return value >= static_cast<int32_t>(ERecordContainer::AsWmvActive) &&
           value <= static_cast<int32_t>(ERecordContainer::Matroska);
}

bool IsH264Container(int32_t value) {
    return value == static_cast<int32_t>(ERecordContainer::Mp4) ||
           value == static_cast<int32_t>(ERecordContainer::Matroska);
}

std::string RecordFileExtension(int32_t container, bool wmvActive) {
    switch (static_cast<ERecordContainer>(container)) {
    case ERecordContainer::Mp4:
        return "mp4";
    case ERecordContainer::Matroska:
        return "mkv";
    default:
        return wmvActive ? "wmv" : "avi";
    }
}

std::string RecordContainerName(int32_t container) {
    switch (static_cast<ERecordContainer>(container)) {
    case ERecordContainer::AsWmvActive:
        return "AVI/WMV";
    case ERecordContainer::Mp4:
        return "MP4";
    case ERecordContainer::Matroska:
        return "Matroska";
    default:
        return "unknown container " + std::to_string(container);
    }
}

namespace {

// Encodes two small frames with the encoder; false when it cannot (a VA encoder registered for a
// device that refuses to work, a driver that fails at the first frame).
bool EncodesTestFrames(const char* factory) {
    const std::string description =
        std::string("videotestsrc num-buffers=2 ! video/x-raw,format=NV12,width=320,"
                    "height=240,framerate=15/1 ! ") +
        factory + " ! fakesink";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (pipeline == nullptr || error != nullptr) {
        g_clear_error(&error);
        if (pipeline != nullptr) {
            gst_object_unref(pipeline);
        }
        return false;
    }
    bool ended = false;
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        GstBus* bus = gst_element_get_bus(pipeline);
        GstMessage* message = gst_bus_timed_pop_filtered(
            bus, 10 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        ended = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
        if (message != nullptr) {
            gst_message_unref(message);
        }
        gst_object_unref(bus);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ended;
}

} // namespace

std::vector<std::string> WorkingH264Encoders() {
    static std::once_flag once;
    static std::vector<std::string> working;
    std::call_once(once, [] {
        // Hardware first: they take the work off the processor. Each must prove it works here.
        for (const char* hardware : {"vah264lpenc", "vah264enc"}) {
            GstElementFactory* factory = gst_element_factory_find(hardware);
            if (factory == nullptr) {
                continue;
            }
            gst_object_unref(factory);
            if (EncodesTestFrames(hardware)) {
                working.emplace_back(hardware);
            }
        }
        GstElementFactory* x264 = gst_element_factory_find("x264enc");
        if (x264 != nullptr) {
            gst_object_unref(x264);
            working.emplace_back("x264enc");
        }
    });
    return working;
}

std::string FindH264Encoder(const std::string& preferred) {
    const std::vector<std::string> working = WorkingH264Encoders();
    for (const std::string& name : working) {
        if (name == preferred) {
            return name;
        }
    }
    return working.empty() ? std::string() : working.front();
}

const char* X264PresetName(int32_t preset) {
    static const char* const kNames[] = {"ultrafast", "superfast", "veryfast", "faster",  "fast",
                                         "medium",    "slow",      "slower",   "veryslow"};
    return preset >= 1 && preset <= 9 ? kNames[preset - 1] : "veryfast";
}
