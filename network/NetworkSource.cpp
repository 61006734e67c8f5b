#include "network/NetworkSource.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "network/FileLoop.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace {

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

[[noreturn]] void ThrowCannotBind(const char* factory) {
    THROW_DIRECTX_INFO(REGDB_E_CLASSNOTREG, "Unable to bind to capture device via moniker.", factory);
}

// ---- the bin ----

// Everything the bin's callbacks need; owned by the bin (freed with it).
struct CSourceData {
    CNetworkSourceName name;
    CNetworkSourceSettings settings;
    std::shared_ptr<CNetworkStreamState> state = std::make_shared<CNetworkStreamState>();
    GstElement* bin = nullptr;  // the owner (not a reference)
    GstElement* tail = nullptr; // the tail's first element, owned by the bin
    std::mutex lock;            // guards linked; innermost
    bool linked = false;        // the video stream has been linked to the tail
    // The streaming thread's: the time stamp of the last frame that entered the tail.
    GstClockTime lastPts = GST_CLOCK_TIME_NONE;
};

} // namespace

// A GstBin that looks at its children's errors before passing them on: it keeps the first one (and
// whether the camera refused the credentials) in the stream state and masks passwords in them.
struct TavrixNetSrc {
    GstBin parent;
    CSourceData* data;
};
struct TavrixNetSrcClass {
    GstBinClass parent_class;
};

G_DEFINE_TYPE(TavrixNetSrc, tavrix_net_src, GST_TYPE_BIN)

namespace {

bool MentionsRefusal(const std::string& text) {
    for (const char* word : {"401", "403", "Unauthorized", "Forbidden", "authenticat"}) {
        if (text.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

void HandleMessage(GstBin* bin, GstMessage* message) {
    auto* self = reinterpret_cast<TavrixNetSrc*>(bin);
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR && self->data != nullptr) {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        const std::string text = MaskPasswords(error != nullptr ? error->message : "");
        const std::string details = MaskPasswords(debug != nullptr ? debug : "");
        const bool refused = (error != nullptr && error->domain == GST_RESOURCE_ERROR &&
                              error->code == GST_RESOURCE_ERROR_NOT_AUTHORIZED) ||
                             MentionsRefusal(text) || MentionsRefusal(details);
        if (refused) {
            self->data->state->SetAuthFailed();
        }
        self->data->state->SetError(text);
        TRACE("CNetworkSource: error from %s: %s (%s)%s", GST_MESSAGE_SRC_NAME(message), text.c_str(),
              details.c_str(), refused ? ", credentials refused" : "");
        GError* masked =
            g_error_new_literal(error != nullptr ? error->domain : GST_CORE_ERROR,
                                error != nullptr ? error->code : GST_CORE_ERROR_FAILED, text.c_str());
        GstMessage* replacement = gst_message_new_error(GST_MESSAGE_SRC(message), masked, details.c_str());
        g_error_free(masked);
        g_clear_error(&error);
        g_free(debug);
        gst_message_unref(message);
        message = replacement;
    }
    GST_BIN_CLASS(tavrix_net_src_parent_class)->handle_message(bin, message);
}

} // namespace

static void tavrix_net_src_finalize(GObject* object) {
    auto* self = reinterpret_cast<TavrixNetSrc*>(object);
    delete self->data;
    self->data = nullptr;
    G_OBJECT_CLASS(tavrix_net_src_parent_class)->finalize(object);
}

static void tavrix_net_src_class_init(TavrixNetSrcClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = tavrix_net_src_finalize;
    GST_BIN_CLASS(klass)->handle_message = HandleMessage;
}

static void tavrix_net_src_init(TavrixNetSrc* self) {
    self->data = nullptr;
}

namespace {

// Makes an element into the bin; throws when the factory is missing.
GstElement* Add(GstElement* bin, const char* factory, const char* name = nullptr) {
    GstElement* element = gst_element_factory_make(factory, name);
    if (element == nullptr) {
        ThrowCannotBind(factory);
    }
    gst_bin_add(GST_BIN(bin), element);
    return element;
}

bool HasProperty(GstElement* element, const char* property) {
    return g_object_class_find_property(G_OBJECT_GET_CLASS(element), property) != nullptr;
}

GstPadProbeReturn CountFrames(GstPad* /*pad*/, GstPadProbeInfo* /*info*/, gpointer userData) {
    static_cast<CNetworkStreamState*>(userData)->CountFrame(NowNs());
    return GST_PAD_PROBE_OK;
}

// A frame without a duration (JPEG pictures over HTTP come when they come, at no stated rate)
// gets the time since the frame before it: videorate aborts on a frame of a variable-rate stream
// that has none.
void GiveDuration(CSourceData& data, GstPadProbeInfo* info) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (buffer == nullptr || !GST_BUFFER_PTS_IS_VALID(buffer)) {
        return;
    }
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const GstClockTime last = data.lastPts;
    data.lastPts = pts;
    if (GST_BUFFER_DURATION_IS_VALID(buffer) && GST_BUFFER_DURATION(buffer) != 0) {
        return;
    }
    const int32_t fps = data.settings.fps > 0 && data.settings.fps < 1000 ? data.settings.fps : 25;
    GstClockTime duration = GST_SECOND / static_cast<GstClockTime>(fps);
    if (GST_CLOCK_TIME_IS_VALID(last) && pts > last) {
        duration = pts - last;
    }
    buffer = gst_buffer_make_writable(buffer);
    GST_BUFFER_DURATION(buffer) = duration;
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
}

// Where decoded frames enter the tail: frames get a duration when they have none, and the end of
// the stream becomes an error of the bin instead (the camera's loss), the end itself dropped so
// that the tail's elements never see it.
GstPadProbeReturn TailEntry(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer userData) {
    auto& data = *static_cast<CSourceData*>(userData);
    if ((GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
        GiveDuration(data, info);
        return GST_PAD_PROBE_OK;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (event == nullptr || GST_EVENT_TYPE(event) != GST_EVENT_EOS) {
        return GST_PAD_PROBE_OK;
    }
    if (!data.state->HasEnded()) {
        const bool file = data.name.IsFile();
        const char* text = file ? "The video file has ended." : "The camera closed the stream.";
        data.state->SetEnded(file);
        data.state->SetError(text);
        TRACE("CNetworkSource: end of stream after %lld frames: %s",
              static_cast<long long>(data.state->GetFrames()), text);
        GST_ELEMENT_ERROR(data.bin, RESOURCE, READ, ("%s", text), (nullptr));
    }
    return GST_PAD_PROBE_DROP;
}

// [videorate] ! videoscale ! videoconvert ! capsfilter, the ghost pad "src" on its end.
void BuildTail(CSourceData& data) {
    GstElement* bin = data.bin;
    const int32_t fps = data.settings.fps;
    GstElement* rate = fps > 0 && fps < 1000 ? Add(bin, "videorate", "NetRate") : nullptr;
    GstElement* scale = Add(bin, "videoscale", "NetScale");
    GstElement* convert = Add(bin, "videoconvert", "NetConvert");
    GstElement* format = Add(bin, "capsfilter", "NetFormat");
    std::string caps = data.settings.yuv ? "video/x-raw,format=I420" : "video/x-raw,format=BGR";
    if (data.settings.width > 0 && data.settings.height > 0) {
        caps += ",width=" + std::to_string(data.settings.width) +
                ",height=" + std::to_string(data.settings.height);
    }
    GstCaps* formatCaps = gst_caps_from_string(caps.c_str());
    g_object_set(format, "caps", formatCaps, nullptr);
    gst_caps_unref(formatCaps);
    if (rate != nullptr) {
        g_object_set(rate, "max-rate", fps, "drop-only", TRUE, nullptr);
    }
    const bool linked = rate != nullptr ? gst_element_link_many(rate, scale, convert, format, nullptr)
                                        : gst_element_link_many(scale, convert, format, nullptr);
    if (!linked) {
        ThrowCannotBind("videoconvert");
    }
    GstPad* out = gst_element_get_static_pad(format, "src");
    gst_pad_add_probe(out, GST_PAD_PROBE_TYPE_BUFFER, CountFrames, data.state.get(), nullptr);
    gst_element_add_pad(bin, gst_ghost_pad_new("src", out));
    gst_object_unref(out);
    data.tail = rate != nullptr ? rate : scale;
    GstPad* in = gst_element_get_static_pad(data.tail, "sink");
    // Only videorate needs the durations.
    const auto types =
        rate != nullptr
            ? static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_BUFFER)
            : GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM;
    gst_pad_add_probe(in, types, TailEntry, &data, nullptr);
    gst_object_unref(in);
}

// A pad that is not the camera's picture (audio, a second video) ends in a fakesink.
void Discard(CSourceData& data, GstPad* pad) {
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (sink == nullptr) {
        return;
    }
    g_object_set(sink, "async", FALSE, "sync", FALSE, nullptr);
    gst_bin_add(GST_BIN(data.bin), sink);
    gst_element_sync_state_with_parent(sink);
    GstPad* sinkPad = gst_element_get_static_pad(sink, "sink");
    gst_pad_link(pad, sinkPad);
    gst_object_unref(sinkPad);
}

// Claims the tail for the first video pad; false when it is taken.
bool ClaimTail(CSourceData& data) {
    std::lock_guard<std::mutex> guard(data.lock);
    if (data.linked) {
        return false;
    }
    data.linked = true;
    return true;
}

void PostStreamError(CSourceData& data, const std::string& text) {
    GST_ELEMENT_ERROR(data.bin, STREAM, CODEC_NOT_FOUND, ("%s", text.c_str()), (nullptr));
}

// pad ! elements... ! tail, the new elements added to the bin and started.
void LinkChain(CSourceData& data, GstPad* pad, const std::vector<GstElement*>& chain) {
    for (GstElement* element : chain) {
        gst_bin_add(GST_BIN(data.bin), element);
    }
    bool linked = true;
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
        linked = linked && gst_element_link(chain[i], chain[i + 1]);
    }
    linked = linked && gst_element_link(chain.back(), data.tail);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        gst_element_sync_state_with_parent(*it);
    }
    GstPad* sinkPad = gst_element_get_static_pad(chain.front(), "sink");
    linked = linked && GST_PAD_LINK_SUCCESSFUL(gst_pad_link(pad, sinkPad));
    gst_object_unref(sinkPad);
    if (!linked) {
        PostStreamError(data, "The camera's stream cannot be decoded.");
    }
}

// tee "Encoded" ! decoder for an encoded stream; null elements when the codec has no decoder.
bool AppendDecoder(CSourceData& data, const std::string& codec, std::vector<GstElement*>& chain) {
    const CDecoderChoice decoder = ChooseDecoder(codec);
    if (decoder.factory.empty()) {
        return false;
    }
    GstElement* tee = gst_element_factory_make("tee", kEncodedTeeName);
    GstElement* element = gst_element_factory_make(decoder.factory.c_str(), "Decoder");
    if (tee == nullptr || element == nullptr) {
        for (GstElement* made : {tee, element}) {
            if (made != nullptr) {
                gst_object_unref(gst_object_ref_sink(made));
            }
        }
        return false;
    }
    g_object_set(tee, "allow-not-linked", TRUE, nullptr);
    if (HasProperty(element, "output-corrupt")) {
        // Pictures from before the first key frame are grey smears: they would look like motion.
        g_object_set(element, "output-corrupt", FALSE, nullptr);
    }
    chain.push_back(tee);
    chain.push_back(element);
    data.state->SetDecoder(codec, decoder);
    TRACE("CNetworkSource: %s decoded with %s", codec.c_str(), decoder.Describe().c_str());
    return true;
}

void OnRtspPad(GstElement* /*source*/, GstPad* pad, gpointer userData) {
    auto& data = *static_cast<CSourceData*>(userData);
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (caps == nullptr) {
        caps = gst_pad_query_caps(pad, nullptr);
    }
    const GstStructure* structure = gst_caps_get_structure(caps, 0);
    const gchar* media = structure != nullptr ? gst_structure_get_string(structure, "media") : nullptr;
    const gchar* encoding =
        structure != nullptr ? gst_structure_get_string(structure, "encoding-name") : nullptr;
    const std::string encodingName = encoding != nullptr ? encoding : "";
    const bool video = media != nullptr && std::strcmp(media, "video") == 0;
    gst_caps_unref(caps);
    if (!video || !ClaimTail(data)) {
        Discard(data, pad);
        return;
    }
    std::vector<GstElement*> chain;
    std::string codec;
    if (encodingName == "H264") {
        codec = "h264";
        chain = {gst_element_factory_make("rtph264depay", nullptr),
                 gst_element_factory_make("h264parse", nullptr)};
    } else if (encodingName == "H265") {
        codec = "h265";
        chain = {gst_element_factory_make("rtph265depay", nullptr),
                 gst_element_factory_make("h265parse", nullptr)};
    } else if (encodingName == "JPEG") {
        codec = "jpeg";
        chain = {gst_element_factory_make("rtpjpegdepay", nullptr)};
    }
    bool complete = !chain.empty();
    for (GstElement* element : chain) {
        complete = complete && element != nullptr;
    }
    if (complete && HasProperty(chain.front(), "wait-for-keyframe")) {
        g_object_set(chain.front(), "wait-for-keyframe", TRUE, nullptr);
    }
    if (!complete || !AppendDecoder(data, codec, chain)) {
        for (GstElement* element : chain) {
            if (element != nullptr) {
                gst_object_unref(gst_object_ref_sink(element));
            }
        }
        PostStreamError(data, "The camera sends " +
                                  (encodingName.empty() ? std::string("a stream") : encodingName) +
                                  ", which cannot be decoded here.");
        Discard(data, pad);
        return;
    }
    LinkChain(data, pad, chain);
}

void OnMultipartPad(GstElement* /*demux*/, GstPad* pad, gpointer userData) {
    auto& data = *static_cast<CSourceData*>(userData);
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (caps == nullptr) {
        caps = gst_pad_query_caps(pad, nullptr);
    }
    const GstStructure* structure = gst_caps_get_structure(caps, 0);
    const bool jpeg = structure != nullptr && gst_structure_has_name(structure, "image/jpeg");
    gst_caps_unref(caps);
    if (!jpeg || !ClaimTail(data)) {
        if (!jpeg) {
            PostStreamError(data, "The camera's HTTP stream holds no JPEG pictures.");
        }
        Discard(data, pad);
        return;
    }
    std::vector<GstElement*> chain;
    if (!AppendDecoder(data, "jpeg", chain)) {
        PostStreamError(data, "No JPEG decoder.");
        Discard(data, pad);
        return;
    }
    LinkChain(data, pad, chain);
}

void OnFilePad(GstElement* /*decodebin*/, GstPad* pad, gpointer userData) {
    auto& data = *static_cast<CSourceData*>(userData);
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (caps == nullptr) {
        caps = gst_pad_query_caps(pad, nullptr);
    }
    const GstStructure* structure = gst_caps_get_structure(caps, 0);
    const bool video = structure != nullptr && g_str_has_prefix(gst_structure_get_name(structure), "video/");
    gst_caps_unref(caps);
    if (!video || !ClaimTail(data)) {
        Discard(data, pad);
        return;
    }
    if (data.name.loop) {
        LoopAtEnd(pad, data.bin);
    }
    GstPad* sinkPad = gst_element_get_static_pad(data.tail, "sink");
    if (!GST_PAD_LINK_SUCCESSFUL(gst_pad_link(pad, sinkPad))) {
        PostStreamError(data, "The video file cannot be decoded.");
    }
    gst_object_unref(sinkPad);
}

// The file's decoder, as decodebin picks it.
void OnFileElement(GstBin* /*bin*/, GstBin* /*subBin*/, GstElement* element, gpointer userData) {
    auto& data = *static_cast<CSourceData*>(userData);
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory == nullptr) {
        return;
    }
    const gchar* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    if (klass != nullptr && std::strstr(klass, "Decoder") != nullptr &&
        std::strstr(klass, "Video") != nullptr) {
        const std::string name = GST_OBJECT_NAME(factory);
        data.state->SetDecoder("file", {name, name.rfind("va", 0) == 0});
    }
}

void BuildRtsp(CSourceData& data) {
    GstElement* source = Add(data.bin, "rtspsrc", "Network");
    g_object_set(source, "location", data.name.location.c_str(), "latency", 200u, nullptr);
    gst_util_set_object_arg(G_OBJECT(source), "protocols", data.name.udp ? "udp" : "tcp");
    if (data.name.hasUser) {
        g_object_set(source, "user-id", data.name.user.c_str(), "user-pw", data.name.password.c_str(),
                     nullptr);
    }
    g_signal_connect(source, "pad-added", G_CALLBACK(OnRtspPad), &data);
}

void BuildHttp(CSourceData& data) {
    GstElement* source = Add(data.bin, "souphttpsrc", "Network");
    GstElement* demux = Add(data.bin, "multipartdemux", "Demux");
    g_object_set(source, "location", data.name.location.c_str(), "is-live", TRUE, "do-timestamp", TRUE,
                 nullptr);
    if (data.name.hasUser) {
        g_object_set(source, "user-id", data.name.user.c_str(), "user-pw", data.name.password.c_str(),
                     nullptr);
    }
    if (!gst_element_link(source, demux)) {
        ThrowCannotBind("multipartdemux");
    }
    g_signal_connect(demux, "pad-added", G_CALLBACK(OnMultipartPad), &data);
}

void BuildFile(CSourceData& data) {
    GstElement* source = Add(data.bin, "uridecodebin", "Network");
    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(data.name.location.c_str(), &error);
    if (uri == nullptr) {
        g_clear_error(&error);
        THROW_DIRECTX(MK_E_SYNTAX, "Unable to parse device name of capture device.");
    }
    g_object_set(source, "uri", uri, nullptr);
    g_free(uri);
    g_signal_connect(source, "pad-added", G_CALLBACK(OnFilePad), &data);
    g_signal_connect(source, "deep-element-added", G_CALLBACK(OnFileElement), &data);
}

} // namespace

void CNetworkStreamState::CountFrame(int64_t nowNs) {
    int64_t expected = 0;
    m_firstFrameNs.compare_exchange_strong(expected, nowNs, std::memory_order_acq_rel);
    m_lastFrameNs.store(nowNs, std::memory_order_release);
    m_frames.fetch_add(1, std::memory_order_acq_rel);
}

void CNetworkStreamState::SetDecoder(const std::string& codec, const CDecoderChoice& decoder) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_decoder = codec + " with " + decoder.Describe();
}

std::string CNetworkStreamState::GetDecoderDescription() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_decoder;
}

void CNetworkStreamState::SetEnded(bool finished) {
    m_finished.store(finished);
    m_ended.store(true);
}

void CNetworkStreamState::SetError(const std::string& text) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_error.empty()) {
        m_error = MaskPasswords(text);
    }
}

std::string CNetworkStreamState::GetError() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_error;
}

GstElement* CreateNetworkSource(const CNetworkSourceName& name, const CNetworkSourceSettings& settings,
                                const std::string& elementName) {
    auto* self = static_cast<TavrixNetSrc*>(g_object_new(
        tavrix_net_src_get_type(), "name", elementName.empty() ? nullptr : elementName.c_str(), nullptr));
    auto* data = new CSourceData;
    data->name = name;
    data->settings = settings;
    data->bin = GST_ELEMENT(self);
    self->data = data;
    try {
        BuildTail(*data);
        if (name.IsRtsp()) {
            BuildRtsp(*data);
        } else if (name.IsHttp()) {
            BuildHttp(*data);
        } else {
            BuildFile(*data);
        }
    } catch (...) {
        gst_object_unref(gst_object_ref_sink(self));
        throw;
    }
    TRACE("CreateNetworkSource() %s",
          MaskPasswords(name.IsFile() ? "file:" + name.location : name.location).c_str());
    return GST_ELEMENT(self);
}

std::shared_ptr<CNetworkStreamState> NetworkStreamStateOf(GstElement* source) {
    if (source == nullptr || !G_TYPE_CHECK_INSTANCE_TYPE(source, tavrix_net_src_get_type())) {
        return nullptr;
    }
    const auto* self = reinterpret_cast<TavrixNetSrc*>(source);
    return self->data != nullptr ? self->data->state : nullptr;
}
