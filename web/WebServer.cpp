#include "web/WebServer.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "mqtt/MqttNode.h"
#include "platform/Paths.h"
#include "web/WebServerImpl.h"

#include <glib/gstdio.h>

#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <future>
#include <sstream>

namespace {

std::string MimeOf(const std::string& name) {
    const auto ends = [&](const char* suffix) {
        const size_t n = std::strlen(suffix);
        return name.size() >= n && name.compare(name.size() - n, n, suffix) == 0;
    };
    if (ends(".html"))
        return "text/html; charset=utf-8";
    if (ends(".css"))
        return "text/css; charset=utf-8";
    if (ends(".js"))
        return "text/javascript; charset=utf-8";
    if (ends(".svg"))
        return "image/svg+xml";
    if (ends(".png"))
        return "image/png";
    if (ends(".ico"))
        return "image/x-icon";
    return "application/octet-stream";
}

std::string NormaliseBase(std::string base) {
    if (base.empty() || base[0] != '/') {
        base.insert(base.begin(), '/');
    }
    if (base.back() != '/') {
        base += '/';
    }
    return base;
}

void HandleAny(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*, gpointer data) {
    auto* impl = static_cast<CWebServer::CImpl*>(data);
    try {
        impl->Handle(msg, path != nullptr ? path : "/");
    } catch (const CBaseException& e) {
        TRACE("CWebServer: request failed: %s", e.GetMessage().c_str());
        CWebServer::CImpl::ReplyError(msg, SOUP_STATUS_INTERNAL_SERVER_ERROR, e.GetMessage());
    } catch (const std::exception& e) {
        TRACE("CWebServer: request failed: %s", e.what());
        CWebServer::CImpl::ReplyError(msg, SOUP_STATUS_INTERNAL_SERVER_ERROR, "internal error");
    }
}

} // namespace

int64_t WebNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::optional<std::vector<std::string>> WebSplitPath(const std::string& rel) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t slash = rel.find('/', start);
        const std::string raw =
            rel.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        char* decoded = g_uri_unescape_string(raw.c_str(), nullptr);
        if (decoded == nullptr) {
            return std::nullopt;
        }
        parts.emplace_back(decoded);
        g_free(decoded);
        if (slash == std::string::npos) {
            return parts;
        }
        start = slash + 1;
    }
}

CWebServer::CWebServer() = default;

CWebServer::~CWebServer() {
    Stop();
}

std::string CWebServer::WebPagesDir() {
    // PREFIX/bin/tavrix -> PREFIX/share/tavrix/www; the build copies the pages to the same place
    // beside build/bin, so an installed and a built program find them alike.
    return platform::DirName(platform::DirName(platform::ExecutablePath())) + "/share/tavrix/www";
}

bool CWebServer::IsLoopback(const std::string& address) {
    GInetAddress* inet = g_inet_address_new_from_string(address.c_str());
    if (inet == nullptr) {
        return address == "localhost";
    }
    const bool loopback = g_inet_address_get_is_loopback(inet);
    g_object_unref(inet);
    return loopback;
}

bool CWebServer::ParseListen(const std::string& text, std::string& address, int& port) {
    std::string portText = text;
    address = "127.0.0.1";
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        address = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
            address = address.substr(1, address.size() - 2);
        }
        GInetAddress* inet = g_inet_address_new_from_string(address.c_str());
        if (inet == nullptr) {
            return false;
        }
        g_object_unref(inet);
    }
    if (portText.empty() || portText.size() > 5 ||
        portText.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    port = std::stoi(portText);
    return port >= 1 && port <= 65535;
}

std::string CWebServer::GetUrl() const {
    return m_url;
}

void CWebServer::Start(const CWebServerOptions& options) {
    if (IsRunning()) {
        THROW_GENERAL("The web server runs already");
    }
    auto impl = std::make_unique<CImpl>();
    impl->options = options;
    impl->base = NormaliseBase(options.basePath);
    impl->tls = !options.tlsCertificate.empty() || !options.tlsKey.empty();
    const std::string dbPath =
        options.userDbPath.empty() ? CWebUsers::DefaultPath(false) : options.userDbPath;
    impl->users = std::make_unique<CWebUsers>(dbPath);
    impl->userDbPath = dbPath;
    if (!IsLoopback(options.address) && impl->users->Count() == 0) {
        THROW_GENERAL("The web server does not listen on " + options.address +
                      ": no web user is defined, and without one only loopback is served. "
                      "Add one with 'tavrix user add NAME --admin', or listen on 127.0.0.1");
    }
    impl->LoadFiles(options.wwwDir.empty() ? WebPagesDir() : options.wwwDir);

    std::promise<std::string> started;
    std::future<std::string> result = started.get_future();
    CImpl* raw = impl.get();
    m_impl = std::move(impl);
    m_thread = std::thread([this, raw, &started] {
        raw->context = g_main_context_new();
        g_main_context_push_thread_default(raw->context);
        int port = 0;
        const std::string error = raw->Listen(port);
        m_port = port;
        started.set_value(error);
        if (!error.empty()) {
            if (raw->server != nullptr) {
                g_object_unref(raw->server);
                raw->server = nullptr;
            }
            g_main_context_pop_thread_default(raw->context);
            g_main_context_unref(raw->context);
            raw->context = nullptr;
            return;
        }
        raw->Serve();
        g_main_context_pop_thread_default(raw->context);
    });
    const std::string error = result.get();
    if (!error.empty()) {
        m_thread.join();
        m_impl.reset();
        THROW_GENERAL(error);
    }
    m_url = UrlFor(m_impl->options.address);
    m_publicUrl = PublicUrl(options.publicUrl);
    StartFleet();
    // The MQTT node of this process tells the broker where this server is.
    CMqttNode::WithCurrent([this](CMqttNode* node) {
        if (node != nullptr) {
            node->SetWebUrl(m_publicUrl);
            m_announced = true;
        }
    });
}

std::string CWebServer::UrlFor(const std::string& host) const {
    return std::string(m_impl->tls ? "https://" : "http://") +
           (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
           std::to_string(m_port.load()) + m_impl->base;
}

std::string CWebServer::PublicUrl(std::string configured) const {
    if (!configured.empty()) {
        if (configured.rfind("http://", 0) == 0 || configured.rfind("https://", 0) == 0) {
            return configured.back() == '/' ? configured : configured + "/";
        }
        CNotificationLog::Instance().AddErrorEntry(
            "", "", "The web interface's public URL '" + configured + "' is no http:// or https:// URL; ignored");
    }
    const std::string& address = m_impl->options.address;
    if (address == "0.0.0.0" || address == "::") {
        // Every address of the machine: the others know it by its name.
        return UrlFor(g_get_host_name());
    }
    return m_url;
}

void CWebServer::StartFleet() {
    if (!m_impl->options.fleet.Enabled()) {
        return;
    }
    // Its own connection, so that the server sees the fleet whatever the node does; its news
    // go to the trace: the node's connection already tells the log about the broker.
    m_impl->fleet = std::make_unique<CFleetView>(m_impl->options.fleet, [](const std::string& text, bool) {
        TRACE("CWebServer: fleet view: %s", text.c_str());
    });
    std::string error;
    if (!m_impl->fleet->Start(&error)) {
        CNotificationLog::Instance().AddErrorEntry("", "", "The web interface shows no fleet: " + error);
        m_impl->fleet.reset();
    }
}

std::string CWebServer::CImpl::Listen(int& port) {
    std::string error;
    GError* gerror = nullptr;
    GTlsCertificate* certificate = nullptr;
    if (tls) {
        certificate =
            g_tls_certificate_new_from_files(options.tlsCertificate.c_str(), options.tlsKey.c_str(), &gerror);
        if (certificate == nullptr) {
            error = std::string("The TLS certificate or key cannot be used: ") +
                    (gerror ? gerror->message : "unknown error");
        }
    }
    if (error.empty()) {
        server = soup_server_new("server-header", "Tavrix", nullptr);
        if (certificate != nullptr) {
            soup_server_set_tls_certificate(server, certificate);
        }
        soup_server_add_handler(server, nullptr, HandleAny, this, nullptr);
        GInetAddress* inet = g_inet_address_new_from_string(
            options.address == "localhost" ? "127.0.0.1" : options.address.c_str());
        if (inet == nullptr) {
            error = "'" + options.address + "' is no IP address";
        } else {
            GSocketAddress* socketAddress =
                g_inet_socket_address_new(inet, static_cast<guint16>(options.port));
            const auto listenOptions =
                tls ? SOUP_SERVER_LISTEN_HTTPS : static_cast<SoupServerListenOptions>(0);
            if (!soup_server_listen(server, socketAddress, listenOptions, &gerror)) {
                error = "The web server cannot listen on " + options.address + ":" +
                        std::to_string(options.port) + ": " + (gerror ? gerror->message : "unknown error");
            }
            g_object_unref(socketAddress);
            g_object_unref(inet);
        }
    }
    if (certificate != nullptr) {
        g_object_unref(certificate);
    }
    g_clear_error(&gerror);
    if (!error.empty()) {
        return error;
    }
    GSList* uris = soup_server_get_uris(server);
    if (uris != nullptr) {
        port = g_uri_get_port(static_cast<GUri*>(uris->data));
    }
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    feeds =
        std::make_unique<CLiveFeeds>(options.live, [this](const std::shared_ptr<const CLiveFrame>& frame) {
            Post([this, frame] { OnFrame(frame); });
        });
    logListener = CNotificationLog::Instance().AddListener(
        [this](const CLogEntry& entry) { Post([this, entry] { OnLogEntry(entry); }); });
    loop = g_main_loop_new(context, FALSE);
    return {};
}

void CWebServer::CImpl::Serve() {
    // Streams of cameras that went (their document closed) are ended now and then.
    GSource* sweep = g_timeout_source_new_seconds(2);
    g_source_set_callback(
        sweep,
        [](gpointer data) -> gboolean {
            static_cast<CImpl*>(data)->EndStreamsOfGoneCameras();
            return G_SOURCE_CONTINUE;
        },
        this, nullptr);
    g_source_attach(sweep, context);
    g_main_loop_run(loop);
    g_source_destroy(sweep);
    g_source_unref(sweep);
    CNotificationLog::Instance().RemoveListener(logListener);
    feeds.reset(); // joins the encoders; frames they posted meanwhile are dropped below
    // Ends the streams and closes every connection before the server goes.
    CloseAllStreams();
    g_object_unref(server);
    server = nullptr;
    g_main_loop_unref(loop);
    loop = nullptr;
}

void CWebServer::CImpl::Post(std::function<void()> fn) {
    auto* call = new std::function<void()>(std::move(fn));
    g_main_context_invoke_full(
        context, G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        call, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

void CWebServer::Stop() {
    if (!m_thread.joinable()) {
        return;
    }
    if (m_announced) {
        CMqttNode::WithCurrent([this](CMqttNode* node) {
            if (node != nullptr) {
                node->ClearWebUrl(m_publicUrl);
            }
        });
        m_announced = false;
    }
    if (m_impl->fleet) {
        m_impl->fleet->Stop();
    }
    GMainLoop* loop = m_impl->loop;
    m_impl->Post([loop] { g_main_loop_quit(loop); });
    m_thread.join();
    if (m_impl->context != nullptr) {
        // Calls posted after the loop ended are freed here without running.
        while (g_main_context_pending(m_impl->context)) {
            g_main_context_iteration(m_impl->context, FALSE);
        }
        g_main_context_unref(m_impl->context);
        m_impl->context = nullptr;
    }
    m_impl.reset();
    m_port = 0;
}

CWebServerStats CWebServer::GetStats() {
    if (!m_thread.joinable()) {
        return {};
    }
    std::promise<CWebServerStats> result;
    CImpl* impl = m_impl.get();
    impl->Post([impl, &result] {
        CWebServerStats stats = impl->stats;
        stats.streamClients = impl->streams.size();
        impl->CountStreams(stats);
        if (impl->feeds) {
            stats.framesEncoded = impl->feeds->EncodedFrames();
        }
        result.set_value(stats);
    });
    return result.get_future().get();
}

// ---- requests ----

void CWebServer::CImpl::SetCommonHeaders(SoupServerMessage* msg) {
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(msg);
    soup_message_headers_replace(headers, "X-Content-Type-Options", "nosniff");
    soup_message_headers_replace(headers, "X-Frame-Options", "DENY");
    soup_message_headers_replace(headers, "Referrer-Policy", "no-referrer");
    soup_message_headers_replace(headers, "Cache-Control", "no-store");
    soup_message_headers_replace(headers, "Content-Security-Policy",
                                 "default-src 'self'; img-src 'self' blob: data:; style-src 'self'; "
                                 "script-src 'self'; connect-src 'self'; frame-ancestors 'none'");
}

void CWebServer::CImpl::ReplyBytes(SoupServerMessage* msg, int status, const std::string& mime,
                                   const std::string& body) {
    SetCommonHeaders(msg);
    soup_server_message_set_status(msg, static_cast<guint>(status), nullptr);
    soup_server_message_set_response(msg, mime.c_str(), SOUP_MEMORY_COPY, body.data(), body.size());
}

void CWebServer::CImpl::Reply(SoupServerMessage* msg, int status, const nlohmann::json& body) {
    ReplyBytes(msg, status, "application/json",
               body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void CWebServer::CImpl::ReplyError(SoupServerMessage* msg, int status, const std::string& text) {
    Reply(msg, status, nlohmann::json{{"error", text}});
}

void CWebServer::CImpl::Redirect(SoupServerMessage* msg, const std::string& location) {
    SetCommonHeaders(msg);
    soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Location", location.c_str());
    soup_server_message_set_status(msg, SOUP_STATUS_SEE_OTHER, nullptr);
    soup_server_message_set_response(msg, "text/plain", SOUP_MEMORY_STATIC, "", 0);
}

void CWebServer::CImpl::Handle(SoupServerMessage* msg, const std::string& path) {
    if (path.compare(0, base.size(), base) != 0) {
        if (path + "/" == base) {
            // The base without its slash: the relative links of the pages need it.
            // Relative, as every link: the host a reverse proxy is reached by is not known here.
            const std::string last = path.substr(path.rfind('/') + 1);
            Redirect(msg, last + "/");
            return;
        }
        ReplyError(msg, SOUP_STATUS_NOT_FOUND, "not found");
        return;
    }
    const std::string rel = path.substr(base.size());
    const std::optional<CWebIdentity> who = Authenticate(msg);
    if (rel.compare(0, 4, "api/") == 0) {
        HandleApi(msg, rel, who);
        return;
    }
    const std::string method = soup_server_message_get_method(msg);
    if (method != "GET" && method != "HEAD") {
        ReplyError(msg, SOUP_STATUS_METHOD_NOT_ALLOWED, "method not allowed");
        return;
    }
    ServeFile(msg, rel.empty() ? "index.html" : rel);
}

void CWebServer::CImpl::ServeFile(SoupServerMessage* msg, const std::string& name) {
    // Only the files read at start: a name from the request never reaches the file system.
    const auto it = files.find(name);
    if (it == files.end()) {
        ReplyError(msg, SOUP_STATUS_NOT_FOUND, "not found");
        return;
    }
    if (it->second.needsSession && !Authenticate(msg)) {
        Redirect(msg, "login.html");
        return;
    }
    ReplyBytes(msg, SOUP_STATUS_OK, it->second.mime, it->second.content);
}

void CWebServer::CImpl::LoadFiles(const std::string& dir) {
    DIR* folder = opendir(dir.c_str());
    if (folder == nullptr) {
        THROW_GENERAL("The web pages are missing: '" + dir + "' cannot be read");
    }
    while (dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') {
            continue;
        }
        std::ifstream in(dir + "/" + name, std::ios::binary);
        if (!in) {
            continue;
        }
        std::ostringstream content;
        content << in.rdbuf();
        CWebFile file;
        file.content = content.str();
        file.mime = MimeOf(name);
        // The pages showing cameras or events send an anonymous visitor to the login page; the login
        // page, the script and the style hold nothing of the installation.
        file.needsSession =
            name != "login.html" && name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0;
        files[name] = std::move(file);
    }
    closedir(folder);
    if (files.count("index.html") == 0) {
        THROW_GENERAL("The web pages are missing: no index.html in '" + dir + "'");
    }
}
