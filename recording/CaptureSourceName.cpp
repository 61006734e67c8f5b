#include "recording/CaptureSourceName.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "recording/MotionPainter.h"

#include <gst/video/video.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace {

constexpr const char* kV4l2Prefix = "v4l2:";
constexpr const char* kTestPrefix = "test:";
constexpr const char* kMotion = "motion";
constexpr int64_t kMaxWindowMs = 1000000000000LL; // about 31 years

[[noreturn]] void ThrowUnparsable(const std::string& displayName) {
    TRACE("CCaptureSourceName::Parse() cannot parse '%s'", MaskPasswords(displayName).c_str());
    THROW_DIRECTX(MK_E_SYNTAX, "Unable to parse device name of capture device.");
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// Reads a decimal number of milliseconds at pos; false when there is none or it is too large.
bool ReadMs(const std::string& text, size_t& pos, int64_t& value) {
    const size_t begin = pos;
    value = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) != 0) {
        value = value * 10 + (text[pos] - '0');
        if (value > kMaxWindowMs) {
            return false;
        }
        ++pos;
    }
    return pos > begin;
}

// "START-END,START-END": every window non-empty; false for anything else.
bool ParseWindows(const std::string& text, std::vector<CMotionWindow>& windows) {
    size_t pos = 0;
    for (;;) {
        CMotionWindow window;
        if (!ReadMs(text, pos, window.startMs) || pos >= text.size() || text[pos] != '-') {
            return false;
        }
        ++pos;
        if (!ReadMs(text, pos, window.endMs) || window.endMs <= window.startMs) {
            return false;
        }
        windows.push_back(window);
        if (pos == text.size()) {
            return true;
        }
        if (text[pos] != ',') {
            return false;
        }
        ++pos;
    }
}

// "on=WINDOWS", "fail=MS" or both joined by "&", each at most once; false for anything else.
bool ParseMotionOptions(const std::string& text, CCaptureSourceName& parsed) {
    bool haveWindows = false;
    bool haveFail = false;
    size_t begin = 0;
    for (;;) {
        const size_t end = std::min(text.find('&', begin), text.size());
        const std::string option = text.substr(begin, end - begin);
        if (StartsWith(option, "on=") && !haveWindows) {
            haveWindows = true;
            if (!ParseWindows(option.substr(3), parsed.motionWindows)) {
                return false;
            }
        } else if (StartsWith(option, "fail=") && !haveFail) {
            haveFail = true;
            size_t pos = 5;
            if (!ReadMs(option, pos, parsed.failAtMs) || pos != option.size()) {
                return false;
            }
        } else {
            return false;
        }
        if (end == text.size()) {
            return true;
        }
        begin = end + 1;
    }
}

// Whether videotestsrc knows the pattern by this nick.
bool IsTestPattern(const std::string& nick) {
    GstElementFactory* factory = gst_element_factory_find("videotestsrc");
    if (factory == nullptr) {
        return false;
    }
    GstPluginFeature* loaded = gst_plugin_feature_load(GST_PLUGIN_FEATURE(factory));
    gst_object_unref(factory);
    if (loaded == nullptr) {
        return false;
    }
    bool known = false;
    const GType type = gst_element_factory_get_element_type(GST_ELEMENT_FACTORY(loaded));
    if (auto* klass = static_cast<GObjectClass*>(g_type_class_ref(type))) {
        GParamSpec* spec = g_object_class_find_property(klass, "pattern");
        if (spec != nullptr && G_IS_PARAM_SPEC_ENUM(spec)) {
            known = g_enum_get_value_by_nick(G_PARAM_SPEC_ENUM(spec)->enum_class, nick.c_str()) != nullptr;
        }
        g_type_class_unref(klass);
    }
    gst_object_unref(loaded);
    return known;
}

// The motion of "test:motion", painted into the BGR frames leaving the source bin.
struct MotionProbeState {
    MotionProbeState(std::vector<CMotionWindow> windows, int64_t failAt, GstElement* src)
        : painter(std::move(windows)), failAtMs(failAt), source(src) {
        gst_video_info_init(&info);
    }
    CMotionPainter painter;
    GstVideoInfo info;
    bool haveInfo = false;
    const int64_t failAtMs;
    GstElement* const source; // the bin's videotestsrc; lives as long as the probe
    bool failed = false;
};

// The source "is unplugged": a read error from the source element, as v4l2src posts when its
// camera goes away, and the stream ends with an error so that no frame follows.
GstPadProbeReturn FailSource(MotionProbeState* state, GstPadProbeInfo* info) {
    if (!state->failed) {
        state->failed = true;
        GST_ELEMENT_ERROR(state->source, RESOURCE, READ,
                          ("Could not read from the capture device: it has been removed."),
                          ("test source failing at %" G_GINT64_FORMAT " ms", state->failAtMs));
    }
    gst_buffer_unref(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = nullptr;
    GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_ERROR;
    return GST_PAD_PROBE_HANDLED;
}

GstPadProbeReturn MotionProbe(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer userData) {
    auto* state = static_cast<MotionProbeState*>(userData);
    if ((GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) != 0) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            state->haveInfo = gst_video_info_from_caps(&state->info, caps) &&
                              GST_VIDEO_INFO_FORMAT(&state->info) == GST_VIDEO_FORMAT_BGR;
        }
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!state->haveInfo || buffer == nullptr || !GST_BUFFER_PTS_IS_VALID(buffer)) {
        return GST_PAD_PROBE_OK;
    }
    const auto timeMs = static_cast<int64_t>(GST_BUFFER_PTS(buffer) / GST_MSECOND);
    if (state->failAtMs >= 0 && timeMs >= state->failAtMs) {
        return FailSource(state, info);
    }
    if (!state->painter.IsInWindow(timeMs)) {
        return GST_PAD_PROBE_OK;
    }
    buffer = gst_buffer_make_writable(buffer);
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READWRITE)) {
        if (map.size >= GST_VIDEO_INFO_SIZE(&state->info)) {
            state->painter.Paint(map.data, GST_VIDEO_INFO_WIDTH(&state->info),
                                 GST_VIDEO_INFO_HEIGHT(&state->info),
                                 GST_VIDEO_INFO_PLANE_STRIDE(&state->info, 0), timeMs);
        }
        gst_buffer_unmap(buffer, &map);
    }
    return GST_PAD_PROBE_OK;
}

[[noreturn]] void ThrowCannotBind() {
    THROW_DIRECTX(REGDB_E_CLASSNOTREG, "Unable to bind to capture device via moniker.");
}

// A live bin "videotestsrc ! capsfilter(BGR)" with a ghost src pad; with motion the probe paints
// into the frames.
GstElement* CreateTestSource(const CCaptureSourceName& parsed, const std::string& name) {
    GstElement* source = gst_element_factory_make("videotestsrc", "source");
    GstElement* filter = gst_element_factory_make("capsfilter", "format");
    if (source == nullptr || filter == nullptr) {
        if (source != nullptr) {
            gst_object_unref(gst_object_ref_sink(source));
        }
        if (filter != nullptr) {
            gst_object_unref(gst_object_ref_sink(filter));
        }
        ThrowCannotBind();
    }
    // The motion source's still picture must not change at all: the colour bars without the
    // noise field that "smpte" has in its corner.
    gst_util_set_object_arg(G_OBJECT(source), "pattern",
                            parsed.kind == CCaptureSourceName::Kind::TestMotion ? "smpte75"
                                                                                : parsed.pattern.c_str());
    g_object_set(source, "is-live", TRUE, nullptr);
    // The rates of a common webcam: a camera asking for more gets the fastest of them.
    const std::string capsText = "video/x-raw,format=" +
                                 (parsed.kind == CCaptureSourceName::Kind::TestMotion ? std::string("BGR") : parsed.format) +
                                 ",framerate=[1/1,30/1]";
    GstCaps* caps = gst_caps_from_string(capsText.c_str());
    g_object_set(filter, "caps", caps, nullptr);
    gst_caps_unref(caps);

    GstElement* bin = gst_bin_new(name.empty() ? nullptr : name.c_str());
    gst_bin_add_many(GST_BIN(bin), source, filter, nullptr);
    gst_element_link(source, filter);
    GstPad* filterSrc = gst_element_get_static_pad(filter, "src");
    if (parsed.kind == CCaptureSourceName::Kind::TestMotion) {
        auto* state = new MotionProbeState(parsed.motionWindows, parsed.failAtMs, source);
        gst_pad_add_probe(
            filterSrc,
            static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            MotionProbe, state, [](gpointer data) { delete static_cast<MotionProbeState*>(data); });
    }
    gst_element_add_pad(bin, gst_ghost_pad_new("src", filterSrc));
    gst_object_unref(filterSrc);
    return bin;
}

} // namespace

CCaptureSourceName CCaptureSourceName::Parse(const std::string& displayName) {
    CCaptureSourceName parsed;
    if (CNetworkSourceName::IsNetworkName(displayName)) {
        parsed.kind = Kind::Network;
        parsed.network = CNetworkSourceName::Parse(displayName);
        return parsed;
    }
    if (StartsWith(displayName, kV4l2Prefix)) {
        parsed.kind = Kind::V4l2;
        parsed.devicePath = displayName.substr(std::char_traits<char>::length(kV4l2Prefix));
        if (parsed.devicePath.size() < 2 || parsed.devicePath.front() != '/' ||
            parsed.devicePath.find('\0') != std::string::npos) {
            ThrowUnparsable(displayName);
        }
        return parsed;
    }
    if (!StartsWith(displayName, kTestPrefix)) {
        ThrowUnparsable(displayName);
    }
    const std::string rest = displayName.substr(std::char_traits<char>::length(kTestPrefix));
    if (rest == kMotion) {
        parsed.kind = Kind::TestMotion;
        return parsed;
    }
    const std::string motionQuery = std::string(kMotion) + "?";
    if (StartsWith(rest, motionQuery.c_str())) {
        parsed.kind = Kind::TestMotion;
        if (!ParseMotionOptions(rest.substr(motionQuery.size()), parsed)) {
            ThrowUnparsable(displayName);
        }
        return parsed;
    }
    // "PATTERN?format=FORMAT": the picture in one of a webcam's own formats.
    const size_t query = rest.find('?');
    const std::string pattern = rest.substr(0, query);
    if (pattern.empty() || !IsTestPattern(pattern)) {
        ThrowUnparsable(displayName);
    }
    if (query != std::string::npos) {
        const std::string option = rest.substr(query + 1);
        const std::string format = StartsWith(option, "format=") ? option.substr(7) : std::string();
        if (format != "BGR" && format != "YUY2" && format != "I420" && format != "NV12") {
            ThrowUnparsable(displayName);
        }
        parsed.format = format;
    }
    parsed.kind = Kind::TestPattern;
    parsed.pattern = pattern;
    return parsed;
}

GstElement* CreateCaptureSource(const std::string& displayName, const std::string& name,
                                const CNetworkSourceSettings& settings) {
    const CCaptureSourceName parsed = CCaptureSourceName::Parse(displayName);
    if (parsed.kind == CCaptureSourceName::Kind::Network) {
        return CreateNetworkSource(parsed.network, settings, name);
    }
    if (parsed.kind == CCaptureSourceName::Kind::V4l2) {
        GstElement* element = gst_element_factory_make("v4l2src", name.empty() ? nullptr : name.c_str());
        if (element == nullptr) {
            ThrowCannotBind();
        }
        g_object_set(element, "device", parsed.devicePath.c_str(), nullptr);
        return element;
    }
    return CreateTestSource(parsed, name);
}
