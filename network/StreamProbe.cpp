#include "network/StreamProbe.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "network/NetworkSource.h"
#include "network/StreamProbeTarget.h"
#include "recording/TavrixElements.h"

#include <gst/pbutils/pbutils.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Outcome = CStreamProbeResult::Outcome;

constexpr const char* kDone = "tavrix-probe-done";
constexpr const char* kNoVideo = "tavrix-probe-no-video";
constexpr const char* kCancel = "tavrix-probe-cancel";
// Without a frame rate in the caps, the rate is measured over this many frames or this long.
constexpr size_t kFramesToMeasure = 12;
constexpr std::chrono::milliseconds kMeasureFor{1500};
// The jitter buffer's latency: the first frame comes this much after the first packet.
constexpr guint kRtspLatencyMs = 100;

// What the pipeline's threads find out; guarded by lock.
struct CProbeSession {
    std::mutex lock;
    GstBus* bus = nullptr; // owned by the pipeline, valid while it lives
    std::string codec;
    std::string codecKey; // "h264", "h265", "jpeg" as the camera's source names them; else empty
    std::string decoder;
    bool sawVideo = false;
    bool posted = false;
    int width = 0;
    int height = 0;
    int capsRateN = 0;
    int capsRateD = 1;
    int encodedRateN = 0;
    int encodedRateD = 1;
    std::vector<GstClockTime> pts;
    std::vector<Clock::time_point> arrivals;
    const CStreamProbeTarget* target = nullptr;
    std::chrono::milliseconds timeout{0};

    void Post(const char* name) {
        gst_bus_post(bus, gst_message_new_application(nullptr, gst_structure_new_empty(name)));
    }
};

bool IsEncodedVideo(const GstStructure* s) {
    const char* name = gst_structure_get_name(s);
    return (g_str_has_prefix(name, "video/") && !g_str_equal(name, "video/x-raw")) ||
           g_str_equal(name, "image/jpeg");
}

void OnSourceSetup(GstElement*, GstElement* source, CProbeSession* session) {
    GObjectClass* klass = G_OBJECT_GET_CLASS(source);
    const CStreamProbeTarget& target = *session->target;
    if (!target.user.empty() && g_object_class_find_property(klass, "user-id") != nullptr) {
        g_object_set(source, "user-id", target.user.c_str(), "user-pw", target.password.c_str(), nullptr);
    }
    if (g_object_class_find_property(klass, "protocols") != nullptr) { // rtspsrc
        gst_util_set_object_arg(G_OBJECT(source), "protocols", target.udp ? "udp" : "tcp");
        const guint64 timeoutUs = static_cast<guint64>(session->timeout.count()) * 1000;
        g_object_set(source, "latency", kRtspLatencyMs, "tcp-timeout", timeoutUs, nullptr);
    } else if (g_object_class_find_property(klass, "timeout") != nullptr) { // souphttpsrc
        const guint seconds = static_cast<guint>((session->timeout.count() + 999) / 1000);
        g_object_set(source, "timeout", seconds, nullptr);
    }
}

gboolean OnAutoplugContinue(GstElement*, GstPad*, GstCaps* caps, CProbeSession* session) {
    if (gst_caps_get_size(caps) > 0 && IsEncodedVideo(gst_caps_get_structure(caps, 0))) {
        gchar* description = gst_pb_utils_get_codec_description(caps);
        const GstStructure* s = gst_caps_get_structure(caps, 0);
        std::lock_guard<std::mutex> guard(session->lock);
        if (description != nullptr) {
            session->codec = description;
        }
        const char* media = gst_structure_get_name(s);
        session->codecKey = g_str_equal(media, "video/x-h264")   ? "h264"
                            : g_str_equal(media, "video/x-h265") ? "h265"
                            : g_str_equal(media, "image/jpeg")   ? "jpeg"
                                                                 : "";
        int n = 0;
        int d = 1;
        if (gst_structure_get_fraction(s, "framerate", &n, &d) && n > 0 && d > 0) {
            session->encodedRateN = n;
            session->encodedRateD = d;
        }
        g_free(description);
    }
    return TRUE;
}

void OnDeepElementAdded(GstBin*, GstBin*, GstElement* element, CProbeSession* session) {
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory == nullptr) {
        return;
    }
    if (g_str_equal(GST_OBJECT_NAME(factory), "multipartdemux")) {
        // An MJPEG camera's stream never ends its list of parts: without this the decoder would
        // wait for more streams before it shows the first.
        g_object_set(element, "single-stream", TRUE, nullptr);
    }
    const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    if (klass != nullptr && strstr(klass, "Decoder") != nullptr && strstr(klass, "Video") != nullptr) {
        std::lock_guard<std::mutex> guard(session->lock);
        session->decoder = GST_OBJECT_NAME(factory);
    }
}

bool HaveEnoughFrames(const CProbeSession& s) {
    return s.capsRateN > 0 || s.pts.size() >= kFramesToMeasure ||
           Clock::now() - s.arrivals.front() >= kMeasureFor;
}

GstPadProbeReturn OnFrame(GstPad* pad, GstPadProbeInfo* info, CProbeSession* session) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    std::lock_guard<std::mutex> guard(session->lock);
    if (session->posted) {
        return GST_PAD_PROBE_OK;
    }
    if (session->pts.empty()) {
        GstCaps* caps = gst_pad_get_current_caps(pad);
        if (caps != nullptr) {
            const GstStructure* s = gst_caps_get_structure(caps, 0);
            gst_structure_get_int(s, "width", &session->width);
            gst_structure_get_int(s, "height", &session->height);
            if (!gst_structure_get_fraction(s, "framerate", &session->capsRateN, &session->capsRateD) ||
                session->capsRateD <= 0) {
                session->capsRateN = 0;
            }
            gst_caps_unref(caps);
        }
    }
    session->pts.push_back(GST_BUFFER_PTS(buffer));
    session->arrivals.push_back(Clock::now());
    if (HaveEnoughFrames(*session)) {
        session->posted = true;
        session->Post(kDone);
    }
    return GST_PAD_PROBE_OK;
}

GstElement* AddFakeSink(GstElement* pipeline, GstPad* pad) {
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(pipeline), sink);
    gst_element_sync_state_with_parent(sink); // before the link: the first buffer may follow at once
    GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
    gst_pad_link(pad, sinkPad);
    gst_object_unref(sinkPad);
    return sink;
}

void OnPadAdded(GstElement* decodebin, GstPad* pad, CProbeSession* session) {
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (caps == nullptr) {
        caps = gst_pad_query_caps(pad, nullptr);
    }
    const bool video = caps != nullptr && gst_caps_get_size(caps) > 0 &&
                       g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "video/");
    if (caps != nullptr) {
        gst_caps_unref(caps);
    }
    GstElement* pipeline = GST_ELEMENT(gst_element_get_parent(decodebin));
    bool first = false;
    if (video) {
        std::lock_guard<std::mutex> guard(session->lock);
        first = !session->sawVideo;
        session->sawVideo = true;
    }
    GstElement* sink = AddFakeSink(pipeline, pad);
    if (first) {
        GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
        gst_pad_add_probe(sinkPad, GST_PAD_PROBE_TYPE_BUFFER, reinterpret_cast<GstPadProbeCallback>(OnFrame),
                          session, nullptr);
        gst_object_unref(sinkPad);
    }
    gst_object_unref(pipeline);
}

void OnNoMorePads(GstElement*, CProbeSession* session) {
    std::lock_guard<std::mutex> guard(session->lock);
    if (!session->sawVideo && !session->posted) {
        session->posted = true;
        session->Post(kNoVideo);
    }
}

std::string Seconds(std::chrono::milliseconds ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", std::ceil(static_cast<double>(ms.count()) / 1000.0));
    return text;
}

CStreamProbeResult Failure(Outcome outcome, std::string detail) {
    CStreamProbeResult result;
    result.outcome = outcome;
    result.detail = std::move(detail);
    return result;
}

// Sorts a pipeline error into the probe's outcomes. GStreamer's own message goes into the text
// only for errors without a class of their own, and with the password masked.
CStreamProbeResult FromError(GError* error, const CStreamProbeTarget& target) {
    const std::string& name = target.shown;
    if (error->domain == GST_RESOURCE_ERROR) {
        switch (error->code) {
        case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
            return Failure(Outcome::AuthenticationFailed,
                           "Authentication failed: " + name + " refused the user name or password.");
        case GST_RESOURCE_ERROR_NOT_FOUND:
            return Failure(Outcome::NotFound, "Not found: " + name + " names no stream.");
        case GST_RESOURCE_ERROR_OPEN_READ:
        case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
        case GST_RESOURCE_ERROR_OPEN_WRITE:
            return Failure(Outcome::Unreachable,
                           "Unreachable: no connection to " + name + " (host unknown, down or refusing).");
        default:
            break;
        }
    }
    if ((error->domain == GST_STREAM_ERROR &&
         (error->code == GST_STREAM_ERROR_TYPE_NOT_FOUND || error->code == GST_STREAM_ERROR_CODEC_NOT_FOUND ||
          error->code == GST_STREAM_ERROR_WRONG_TYPE || error->code == GST_STREAM_ERROR_DEMUX ||
          error->code == GST_STREAM_ERROR_DECODE || error->code == GST_STREAM_ERROR_FORMAT)) ||
        (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_MISSING_PLUGIN)) {
        return Failure(Outcome::NotVideo,
                       "Not a video stream: " + name + " holds no video that can be decoded.");
    }
    std::string message = error->message != nullptr ? error->message : "unknown error";
    if (!target.password.empty()) {
        for (size_t at = message.find(target.password); at != std::string::npos;
             at = message.find(target.password, at)) {
            message.replace(at, target.password.size(), "****");
        }
    }
    return Failure(Outcome::Failed, name + " could not be read: " + message);
}

double MeasuredRate(const CProbeSession& s) {
    if (s.capsRateN > 0) {
        return static_cast<double>(s.capsRateN) / s.capsRateD;
    }
    if (s.encodedRateN > 0) {
        return static_cast<double>(s.encodedRateN) / s.encodedRateD;
    }
    const size_t n = s.pts.size();
    if (n < 3) {
        return 0;
    }
    // Frames of a file come as fast as they decode: their time stamps tell the rate. A live stream
    // without time stamps is measured by arrival.
    if (GST_CLOCK_TIME_IS_VALID(s.pts.front()) && GST_CLOCK_TIME_IS_VALID(s.pts.back()) &&
        s.pts.back() > s.pts.front()) {
        return static_cast<double>(n - 1) * GST_SECOND / static_cast<double>(s.pts.back() - s.pts.front());
    }
    const std::chrono::duration<double> span = s.arrivals.back() - s.arrivals.front();
    return span.count() > 0 ? static_cast<double>(n - 1) / span.count() : 0;
}

CStreamProbeResult Success(CProbeSession& session) {
    std::lock_guard<std::mutex> guard(session.lock);
    CStreamProbeResult result;
    result.outcome = Outcome::Ok;
    result.codec = session.codec.empty() ? "Uncompressed video" : session.codec;
    // A network camera decodes with the decoder its source chooses (hardware when it works here),
    // which may not be the one the probe's generic pipeline took: report the camera's.
    const CDecoderChoice choice =
        session.codecKey.empty() ? CDecoderChoice{} : ChooseDecoder(session.codecKey);
    result.decoder = !choice.factory.empty() ? choice.Describe() : session.decoder;
    result.width = session.width;
    result.height = session.height;
    result.framesPerSecond = MeasuredRate(session);
    return result;
}

// Waits on the bus until the first frames, an error, the end, a cancel or the deadline.
// `cancelled` is set when the probe was cancelled; the result is then meaningless.
CStreamProbeResult Watch(GstBus* bus, CProbeSession& session, Clock::time_point deadline, bool& cancelled) {
    const CStreamProbeTarget& target = *session.target;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        GstMessage* message =
            left.count() > 0
                ? gst_bus_timed_pop_filtered(bus, static_cast<GstClockTime>(left.count()),
                                             static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS |
                                                                         GST_MESSAGE_APPLICATION))
                : nullptr;
        if (message == nullptr) {
            std::lock_guard<std::mutex> guard(session.lock);
            if (session.pts.empty()) {
                return Failure(Outcome::TimedOut, "Timed out: no picture from " + target.shown + " within " +
                                                      Seconds(session.timeout) + " seconds.");
            }
            break; // frames came, but too few to measure the rate: report what there is
        }
        std::unique_ptr<GstMessage, decltype(&gst_message_unref)> hold(message, gst_message_unref);
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            TRACE("CStreamProbe: error from %s: domain %s code %d", GST_OBJECT_NAME(GST_MESSAGE_SRC(message)),
                  g_quark_to_string(error->domain), error->code);
            CStreamProbeResult result = FromError(error, target);
            g_error_free(error);
            return result;
        }
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
            std::lock_guard<std::mutex> guard(session.lock);
            if (session.pts.empty()) {
                return Failure(Outcome::NotVideo,
                               "Not a video stream: " + target.shown + " ended without a picture.");
            }
            break;
        }
        const char* name = gst_structure_get_name(gst_message_get_structure(message));
        if (g_str_equal(name, kCancel)) {
            cancelled = true;
            return {};
        }
        if (g_str_equal(name, kNoVideo)) {
            return Failure(Outcome::NotVideo, "Not a video stream: " + target.shown + " holds no video.");
        }
        if (g_str_equal(name, kDone)) {
            break;
        }
    }
    return Success(session);
}

CStreamProbeResult ProbeTarget(const CStreamProbeTarget& target, std::chrono::milliseconds timeout,
                               const std::function<void(GstBus*)>& onBus, bool& cancelled) {
    if (target.kind == CStreamProbeTarget::Kind::File &&
        !g_file_test(target.filePath.c_str(), G_FILE_TEST_EXISTS)) {
        return Failure(Outcome::NotFound, "Not found: there is no file " + target.filePath + ".");
    }
    CProbeSession session;
    session.target = &target;
    session.timeout = timeout;
    const Clock::time_point deadline = Clock::now() + timeout;

    GstElement* pipeline = gst_pipeline_new("stream-probe");
    GstElement* decode = gst_element_factory_make("uridecodebin", nullptr);
    if (decode == nullptr) {
        gst_object_unref(pipeline);
        return Failure(Outcome::Failed, "GStreamer's uridecodebin is missing.");
    }
    g_object_set(decode, "uri", target.uri.c_str(), nullptr);
    gst_bin_add(GST_BIN(pipeline), decode);
    session.bus = gst_element_get_bus(pipeline);
    g_signal_connect(decode, "source-setup", G_CALLBACK(OnSourceSetup), &session);
    g_signal_connect(decode, "autoplug-continue", G_CALLBACK(OnAutoplugContinue), &session);
    g_signal_connect(decode, "pad-added", G_CALLBACK(OnPadAdded), &session);
    g_signal_connect(decode, "no-more-pads", G_CALLBACK(OnNoMorePads), &session);
    g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(OnDeepElementAdded), &session);
    onBus(session.bus);

    gst_element_set_state(pipeline, GST_STATE_PLAYING); // failures arrive on the bus
    CStreamProbeResult result = Watch(session.bus, session, deadline, cancelled);

    onBus(nullptr);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(session.bus);
    gst_object_unref(pipeline);
    return result;
}

CStreamProbeResult Probe(const std::string& displayName, std::chrono::milliseconds timeout,
                         const std::function<void(GstBus*)>& onBus, bool& cancelled) {
    const Clock::time_point start = Clock::now();
    CStreamProbeResult result;
    try {
        InitGStreamer();
        const CStreamProbeTarget target = CStreamProbeTarget::Parse(displayName);
        TRACE("CStreamProbe: probing %s", target.shown.c_str());
        result = ProbeTarget(target, timeout, onBus, cancelled);
    } catch (const CBaseException& e) {
        result = Failure(Outcome::InvalidName, e.GetMessage());
    }
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    TRACE("CStreamProbe: %s after %lld ms", result.Describe().c_str(),
          static_cast<long long>(result.elapsed.count()));
    return result;
}

} // namespace

std::string CStreamProbeResult::Describe() const {
    if (!IsOk()) {
        return detail;
    }
    std::string text = codec;
    if (width > 0 && height > 0) {
        text += ", " + std::to_string(width) + "×" + std::to_string(height);
    }
    if (framesPerSecond > 0) {
        char rate[32];
        const bool whole = std::fabs(framesPerSecond - std::round(framesPerSecond)) < 0.05;
        std::snprintf(rate, sizeof rate, whole ? "%.0f" : "%.2f", framesPerSecond);
        text += std::string(", ") + rate + " frames a second";
    }
    if (!decoder.empty()) {
        text += ", decoded by " + decoder;
    }
    return text;
}

CStreamProbe::~CStreamProbe() {
    Cancel();
}

void CStreamProbe::Start(const std::string& displayName, Callback callback,
                         std::chrono::milliseconds timeout) {
    Cancel();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_cancelled = false;
    }
    m_thread = std::thread(&CStreamProbe::Work, this, displayName, std::move(callback), timeout);
}

void CStreamProbe::Cancel() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_cancelled = true;
        if (m_bus != nullptr) {
            gst_bus_post(m_bus, gst_message_new_application(nullptr, gst_structure_new_empty(kCancel)));
        }
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

CStreamProbeResult CStreamProbe::Run(const std::string& displayName, std::chrono::milliseconds timeout) {
    bool cancelled = false;
    return Probe(
        displayName, timeout, [](GstBus*) {}, cancelled);
}

void CStreamProbe::SetBus(GstBus* bus) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bus = bus;
    if (bus != nullptr && m_cancelled) {
        gst_bus_post(bus, gst_message_new_application(nullptr, gst_structure_new_empty(kCancel)));
    }
}

void CStreamProbe::Work(std::string displayName, Callback callback, std::chrono::milliseconds timeout) {
    bool cancelled = false;
    const CStreamProbeResult result = Probe(
        displayName, timeout, [this](GstBus* bus) { SetBus(bus); }, cancelled);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        cancelled = cancelled || m_cancelled;
    }
    if (!cancelled && callback) {
        callback(result);
    }
}
