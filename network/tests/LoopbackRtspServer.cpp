#include "network/tests/LoopbackRtspServer.h"

#include <glib.h>

#include <memory>
#include <stdexcept>

namespace {

std::string Escape(const std::string& text) {
    std::unique_ptr<char, decltype(&g_free)> escaped(g_uri_escape_string(text.c_str(), nullptr, FALSE),
                                                     g_free);
    return escaped.get();
}

} // namespace

CLoopbackRtspServer::CLoopbackRtspServer(CPicture picture) : m_picture(std::move(picture)) {
    if (!gst_is_initialized()) {
        gst_init(nullptr, nullptr);
    }
    m_context = g_main_context_new();
    m_loop = g_main_loop_new(m_context, FALSE);
    m_thread = std::thread([this] {
        g_main_context_push_thread_default(m_context);
        g_main_loop_run(m_loop);
        g_main_context_pop_thread_default(m_context);
    });
    Start();
}

CLoopbackRtspServer::~CLoopbackRtspServer() {
    Stop();
    g_main_loop_quit(m_loop);
    m_thread.join();
    g_main_loop_unref(m_loop);
    g_main_context_unref(m_context);
}

void CLoopbackRtspServer::AddMount(const std::string& mount, const std::string& launch, bool secured) {
    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, ("( " + launch + " )").c_str());
    // One pipeline for every client of a mount, as a camera encodes once for all its viewers.
    gst_rtsp_media_factory_set_shared(factory, TRUE);
    gst_rtsp_media_factory_add_role(factory, secured ? "user" : "anonymous",
                                    GST_RTSP_PERM_MEDIA_FACTORY_ACCESS, G_TYPE_BOOLEAN, TRUE,
                                    GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE, nullptr);
    if (secured) { // anyone may find the mount, only the user may play it: 401 for the others
        gst_rtsp_media_factory_add_role(factory, "anonymous", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                                        G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT,
                                        G_TYPE_BOOLEAN, FALSE, nullptr);
    }
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(m_server);
    gst_rtsp_mount_points_add_factory(mounts, mount.c_str(), factory);
    g_object_unref(mounts);
}

void CLoopbackRtspServer::Start() {
    if (m_server != nullptr) {
        return;
    }
    m_server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(m_server, "127.0.0.1");
    gst_rtsp_server_set_service(m_server, std::to_string(m_port).c_str()); // 0 at first: any free port

    GstRTSPAuth* auth = gst_rtsp_auth_new();
    GstRTSPToken* anonymous =
        gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "anonymous", nullptr);
    gst_rtsp_auth_set_default_token(auth, anonymous);
    gst_rtsp_token_unref(anonymous);
    GstRTSPToken* user =
        gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "user", nullptr);
    gchar* basic = gst_rtsp_auth_make_basic(kUser, kPassword);
    gst_rtsp_auth_add_basic(auth, basic, user);
    g_free(basic);
    gst_rtsp_token_unref(user);
    gst_rtsp_server_set_auth(m_server, auth);
    g_object_unref(auth);

    const std::string picture = "videotestsrc is-live=true pattern=" + m_picture.pattern +
                                " ! video/x-raw,format=I420,width=" + std::to_string(m_picture.width) +
                                ",height=" + std::to_string(m_picture.height) +
                                ",framerate=" + std::to_string(m_picture.fps) + "/1";
    const std::string h264 =
        picture + " ! x264enc tune=zerolatency speed-preset=ultrafast " +
        (m_picture.quantizer > 0 ? "pass=quant quantizer=" + std::to_string(m_picture.quantizer) + " "
                                 : std::string()) +
        "key-int-max=" + std::to_string(m_picture.fps) + " ! rtph264pay name=pay0 pt=96 config-interval=1";
    AddMount("/h264", h264, false);
    AddMount("/secure", h264, true);
    AddMount("/mjpeg", picture + " ! jpegenc ! rtpjpegpay name=pay0 pt=26", false);
    AddMount("/audio",
             "audiotestsrc is-live=true ! audio/x-raw,rate=8000,channels=1 ! mulawenc ! rtppcmupay "
             "name=pay0 pt=0",
             false);

    GError* error = nullptr;
    GSource* source = gst_rtsp_server_create_source(m_server, nullptr, &error);
    if (source == nullptr) {
        const std::string message = error != nullptr ? error->message : "unknown";
        g_clear_error(&error);
        g_object_unref(m_server);
        m_server = nullptr;
        throw std::runtime_error("the RTSP test server cannot listen: " + message);
    }
    m_sourceId = g_source_attach(source, m_context);
    g_source_unref(source);
    m_port = gst_rtsp_server_get_bound_port(m_server);
}

void CLoopbackRtspServer::Stop() {
    if (m_server == nullptr) {
        return;
    }
    // The clients and the listening source live on the server's context: drop them there.
    struct CStop {
        CLoopbackRtspServer* self = nullptr;
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
    } stop;
    stop.self = this;
    g_main_context_invoke(
        m_context,
        [](gpointer data) -> gboolean {
            auto* s = static_cast<CStop*>(data);
            GSource* listening = g_main_context_find_source_by_id(s->self->m_context, s->self->m_sourceId);
            if (listening != nullptr) {
                g_source_destroy(listening);
            }
            GList* dropped = gst_rtsp_server_client_filter(
                s->self->m_server,
                [](GstRTSPServer*, GstRTSPClient* client, gpointer) {
                    gst_rtsp_client_close(client);
                    return GST_RTSP_FILTER_REMOVE;
                },
                nullptr);
            g_list_free_full(dropped, g_object_unref);
            std::lock_guard<std::mutex> guard(s->lock);
            s->finished = true;
            s->done.notify_all();
            return G_SOURCE_REMOVE;
        },
        &stop);
    std::unique_lock<std::mutex> lock(stop.lock);
    stop.done.wait(lock, [&] { return stop.finished; });
    lock.unlock();
    g_object_unref(m_server);
    m_server = nullptr;
    m_sourceId = 0;
}

std::string CLoopbackRtspServer::Url(const std::string& mount, const std::string& user,
                                     const std::string& password) const {
    std::string credentials;
    if (!user.empty()) {
        credentials = Escape(user) + (password.empty() ? "" : ":" + Escape(password)) + "@";
    }
    return "rtsp://" + credentials + "127.0.0.1:" + std::to_string(m_port) + mount;
}
