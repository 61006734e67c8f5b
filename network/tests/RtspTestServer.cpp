#include "network/tests/RtspTestServer.h"

#include "recording/CaptureSourceName.h"

#include <gst/rtsp-server/rtsp-server.h>

#include <atomic>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>

// A media factory whose media is a test source encoded as the stream asks.
struct TavrixTestFactory {
    GstRTSPMediaFactory parent;
    CRtspTestServer::CStream* stream;
};
struct TavrixTestFactoryClass {
    GstRTSPMediaFactoryClass parent_class;
};

G_DEFINE_TYPE(TavrixTestFactory, tavrix_test_factory, GST_TYPE_RTSP_MEDIA_FACTORY)

namespace {

// The encoding part of a stream's media: raw BGR frames in, RTP payload "pay0" out.
std::string EncodeDescription(const CRtspTestServer::CStream& stream) {
    const std::string keyInterval = std::to_string(stream.fps);
    if (stream.codec == "mjpeg") {
        return "video/x-raw,format=I420 ! jpegenc quality=80 ! rtpjpegpay name=pay0 pt=26";
    }
    if (stream.codec == "h265") {
        return "video/x-raw,format=I420 ! x265enc tune=zerolatency speed-preset=ultrafast bitrate=800 "
               "key-int-max=" +
               keyInterval + " ! rtph265pay name=pay0 pt=96 config-interval=-1";
    }
    const std::string rate = stream.quantizer > 0 ? "pass=quant quantizer=" + std::to_string(stream.quantizer)
                                                  : std::string("bitrate=800");
    return "x264enc tune=zerolatency speed-preset=ultrafast " + rate + " key-int-max=" + keyInterval +
           " ! video/x-h264,profile=constrained-baseline ! rtph264pay name=pay0 pt=96 config-interval=-1";
}

GstElement* MakeBin(const std::string& description) {
    GError* error = nullptr;
    GstElement* bin = gst_parse_bin_from_description(description.c_str(), FALSE, &error);
    g_clear_error(&error);
    return bin;
}

} // namespace

static GstElement* tavrix_test_factory_create_element(GstRTSPMediaFactory* factory,
                                                      const GstRTSPUrl* /*url*/) {
    const CRtspTestServer::CStream& stream = *reinterpret_cast<TavrixTestFactory*>(factory)->stream;
    if (stream.codec == "audio") {
        return MakeBin("audiotestsrc is-live=true ! audio/x-raw,rate=8000,channels=1 ! mulawenc ! "
                       "rtppcmupay name=pay0 pt=0");
    }
    const std::string format = "video/x-raw,format=BGR,width=" + std::to_string(stream.width) +
                               ",height=" + std::to_string(stream.height) +
                               ",framerate=" + std::to_string(stream.fps) + "/1";
    GstElement* bin = MakeBin("capsfilter name=serverformat caps=\"" + format + "\" ! videoconvert ! " +
                              EncodeDescription(stream));
    if (bin == nullptr) {
        return nullptr;
    }
    GstElement* source = nullptr;
    try {
        source = CreateCaptureSource(stream.picture);
    } catch (...) {
        gst_object_unref(gst_object_ref_sink(bin));
        return nullptr;
    }
    gst_bin_add(GST_BIN(bin), source);
    GstElement* filter = gst_bin_get_by_name(GST_BIN(bin), "serverformat");
    gst_element_link(source, filter);
    gst_object_unref(filter);
    return bin;
}

static void tavrix_test_factory_class_init(TavrixTestFactoryClass* klass) {
    GST_RTSP_MEDIA_FACTORY_CLASS(klass)->create_element = tavrix_test_factory_create_element;
}

static void tavrix_test_factory_init(TavrixTestFactory* self) {
    self->stream = nullptr;
}

struct CRtspTestServer::CImpl {
    std::vector<CStream> streams;
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    std::thread thread;
    GstRTSPServer* server = nullptr;
    GSource* listening = nullptr; // on the loop's context
    int32_t port = 0;
    std::atomic<int32_t> connections{0};

    // Runs work on the loop's thread and waits for it.
    void Invoke(const std::function<void()>& work) {
        std::promise<void> done;
        struct CCall {
            const std::function<void()>* work;
            std::promise<void>* done;
        } call{&work, &done};
        g_main_context_invoke(
            context,
            [](gpointer data) -> gboolean {
                auto* c = static_cast<CCall*>(data);
                (*c->work)();
                c->done->set_value();
                return G_SOURCE_REMOVE;
            },
            &call);
        done.get_future().wait();
    }
};

CRtspTestServer::CRtspTestServer(std::vector<CStream> streams) : m_impl(std::make_unique<CImpl>()) {
    CImpl& impl = *m_impl;
    impl.streams = std::move(streams);
    impl.context = g_main_context_new();
    impl.loop = g_main_loop_new(impl.context, FALSE);
    impl.server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(impl.server, "127.0.0.1");
    gst_rtsp_server_set_service(impl.server, "0");
    g_signal_connect(impl.server, "client-connected",
                     G_CALLBACK(+[](GstRTSPServer*, GstRTSPClient*, gpointer data) {
                         static_cast<CImpl*>(data)->connections.fetch_add(1);
                     }),
                     &impl);

    GstRTSPAuth* auth = gst_rtsp_auth_new();
    GstRTSPToken* anonymous =
        gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "anonymous", nullptr);
    gst_rtsp_auth_set_default_token(auth, anonymous);
    gst_rtsp_token_unref(anonymous);
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(impl.server);
    for (size_t i = 0; i < impl.streams.size(); ++i) {
        CStream& stream = impl.streams[i];
        auto* factory =
            static_cast<TavrixTestFactory*>(g_object_new(tavrix_test_factory_get_type(), nullptr));
        factory->stream = &stream;
        GstRTSPMediaFactory* media = GST_RTSP_MEDIA_FACTORY(factory);
        gst_rtsp_media_factory_set_shared(media, stream.shared ? TRUE : FALSE);
        gst_rtsp_media_factory_set_protocols(
            media, static_cast<GstRTSPLowerTrans>(GST_RTSP_LOWER_TRANS_TCP | GST_RTSP_LOWER_TRANS_UDP));
        const std::string role = stream.user.empty() ? "anonymous" : "user" + std::to_string(i);
        if (!stream.user.empty()) {
            GstRTSPToken* token =
                gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, role.c_str(), nullptr);
            gchar* basic = gst_rtsp_auth_make_basic(stream.user.c_str(), stream.password.c_str());
            gst_rtsp_auth_add_basic(auth, basic, token);
            g_free(basic);
            gst_rtsp_token_unref(token);
        }
        if (!stream.user.empty()) {
            // Anonymous clients see the path (and are asked for credentials) but cannot play it.
            gst_rtsp_media_factory_add_role(media, "anonymous", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                                            G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT,
                                            G_TYPE_BOOLEAN, FALSE, nullptr);
        }
        gst_rtsp_media_factory_add_role(media, role.c_str(), GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                                        G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT,
                                        G_TYPE_BOOLEAN, TRUE, nullptr);
        gst_rtsp_mount_points_add_factory(mounts, stream.path.c_str(), media);
    }
    g_object_unref(mounts);
    gst_rtsp_server_set_auth(impl.server, auth);
    g_object_unref(auth);
    impl.thread = std::thread([&impl] {
        g_main_context_push_thread_default(impl.context);
        g_main_loop_run(impl.loop);
        g_main_context_pop_thread_default(impl.context);
    });
}

CRtspTestServer::~CRtspTestServer() {
    Stop();
    g_main_loop_quit(m_impl->loop);
    m_impl->thread.join();
    g_object_unref(m_impl->server);
    g_main_loop_unref(m_impl->loop);
    g_main_context_unref(m_impl->context);
}

void CRtspTestServer::Start() {
    CImpl& impl = *m_impl;
    impl.Invoke([&impl] {
        if (impl.listening != nullptr) {
            return;
        }
        if (impl.port != 0) {
            gst_rtsp_server_set_service(impl.server, std::to_string(impl.port).c_str());
        }
        GError* error = nullptr;
        impl.listening = gst_rtsp_server_create_source(impl.server, nullptr, &error);
        if (impl.listening == nullptr) {
            g_clear_error(&error);
            return;
        }
        g_source_attach(impl.listening, impl.context);
        impl.port = gst_rtsp_server_get_bound_port(impl.server);
    });
    if (impl.listening == nullptr) {
        throw std::runtime_error("the RTSP test server cannot listen");
    }
}

void CRtspTestServer::Stop() {
    CImpl& impl = *m_impl;
    impl.Invoke([&impl] {
        if (impl.listening != nullptr) {
            g_source_destroy(impl.listening);
            g_source_unref(impl.listening);
            impl.listening = nullptr;
        }
        GList* kept = gst_rtsp_server_client_filter(
            impl.server,
            [](GstRTSPServer*, GstRTSPClient* client, gpointer) {
                gst_rtsp_client_close(client);
                return GST_RTSP_FILTER_REMOVE;
            },
            nullptr);
        g_list_free_full(kept, g_object_unref);
    });
}

bool CRtspTestServer::IsRunning() const {
    bool running = false;
    m_impl->Invoke([&] { running = m_impl->listening != nullptr; });
    return running;
}

int32_t CRtspTestServer::Port() const {
    return m_impl->port;
}

std::string CRtspTestServer::Url(const std::string& path, const std::string& user,
                                 const std::string& password) const {
    auto escape = [](const std::string& text) {
        gchar* escaped = g_uri_escape_string(text.c_str(), nullptr, FALSE);
        std::string result = escaped;
        g_free(escaped);
        return result;
    };
    std::string url = "rtsp://";
    if (!user.empty()) {
        url += escape(user) + (password.empty() ? std::string() : ":" + escape(password)) + "@";
    }
    return url + "127.0.0.1:" + std::to_string(m_impl->port) + path;
}

std::vector<CRtspTestServer::CStream> CRtspTestServer::ProbeStreams(int32_t width, int32_t height,
                                                                    int32_t fps, const std::string& pattern,
                                                                    int32_t quantizer) {
    CStream h264 = Stream("/h264", "h264", "test:" + pattern, width, height, fps);
    h264.shared = true;
    h264.quantizer = quantizer;
    CStream secure = h264.WithLogin(kUser, kPassword);
    secure.path = "/secure";
    CStream mjpeg = h264;
    mjpeg.path = "/mjpeg";
    mjpeg.codec = "mjpeg";
    CStream audio = h264;
    audio.path = "/audio";
    audio.codec = "audio";
    return {h264, secure, mjpeg, audio};
}

int32_t CRtspTestServer::GetConnectionCount() const {
    return m_impl->connections.load();
}
