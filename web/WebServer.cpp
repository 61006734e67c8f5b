#include "web/WebServer.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
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

constexpr const char* kCookieName = "tavrix_session";
constexpr int64_t kSessionIdleMs = 12LL * 3600 * 1000;
constexpr size_t kMaxSessions = 1000;

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
        std::string error;
        GError* gerror = nullptr;
        GTlsCertificate* certificate = nullptr;
        if (raw->tls) {
            certificate = g_tls_certificate_new_from_files(raw->options.tlsCertificate.c_str(),
                                                           raw->options.tlsKey.c_str(), &gerror);
            if (certificate == nullptr) {
                error = std::string("The TLS certificate or key cannot be used: ") +
                        (gerror ? gerror->message : "unknown error");
            }
        }
        if (error.empty()) {
            raw->server = soup_server_new("server-header", "Tavrix", nullptr);
            if (certificate != nullptr) {
                soup_server_set_tls_certificate(raw->server, certificate);
            }
            soup_server_add_handler(raw->server, nullptr, HandleAny, raw, nullptr);
            GInetAddress* inet = g_inet_address_new_from_string(
                raw->options.address == "localhost" ? "127.0.0.1" : raw->options.address.c_str());
            if (inet == nullptr) {
                error = "'" + raw->options.address + "' is no IP address";
            } else {
                GSocketAddress* socketAddress =
                    g_inet_socket_address_new(inet, static_cast<guint16>(raw->options.port));
                const auto listenOptions =
                    raw->tls ? SOUP_SERVER_LISTEN_HTTPS : static_cast<SoupServerListenOptions>(0);
                if (!soup_server_listen(raw->server, socketAddress, listenOptions, &gerror)) {
                    error = "The web server cannot listen on " + raw->options.address + ":" +
                            std::to_string(raw->options.port) + ": " +
                            (gerror ? gerror->message : "unknown error");
                }
                g_object_unref(socketAddress);
                g_object_unref(inet);
            }
        }
        if (certificate != nullptr) {
            g_object_unref(certificate);
        }
        g_clear_error(&gerror);
        if (error.empty()) {
            GSList* uris = soup_server_get_uris(raw->server);
            if (uris != nullptr) {
                m_port = g_uri_get_port(static_cast<GUri*>(uris->data));
            }
            g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
            raw->feeds = std::make_unique<CLiveFeeds>(raw->options.live,
                                                      [raw](const std::shared_ptr<const CLiveFrame>& frame) {
                                                          raw->Post([raw, frame] { raw->OnFrame(frame); });
                                                      });
            raw->logListener = CNotificationLog::Instance().AddListener(
                [raw](const CLogEntry& entry) { raw->Post([raw, entry] { raw->OnLogEntry(entry); }); });
            raw->loop = g_main_loop_new(raw->context, FALSE);
        }
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
        g_main_loop_run(raw->loop);
        CNotificationLog::Instance().RemoveListener(raw->logListener);
        raw->feeds.reset(); // joins the encoders; frames they posted meanwhile are dropped below
        // Ends the streams and closes every connection before the server goes.
        raw->CloseAllStreams();
        g_object_unref(raw->server);
        raw->server = nullptr;
        g_main_loop_unref(raw->loop);
        raw->loop = nullptr;
        g_main_context_pop_thread_default(raw->context);
    });
    const std::string error = result.get();
    if (!error.empty()) {
        m_thread.join();
        m_impl.reset();
        THROW_GENERAL(error);
    }
    m_url = std::string(m_impl->tls ? "https://" : "http://") +
            (m_impl->options.address.find(':') != std::string::npos ? "[" + m_impl->options.address + "]"
                                                                    : m_impl->options.address) +
            ":" + std::to_string(m_port.load()) + m_impl->base;
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

// ---- who is asking ----

std::string CWebServer::CImpl::CookieFor(const std::string& id, bool clear) const {
    std::string cookie =
        std::string(kCookieName) + "=" + (clear ? "" : id) + "; Path=" + base + "; HttpOnly; SameSite=Strict";
    if (clear) {
        cookie += "; Max-Age=0";
    }
    if (tls) {
        cookie += "; Secure";
    }
    return cookie;
}

std::optional<CWebIdentity> CWebServer::CImpl::Authenticate(SoupServerMessage* msg) {
    SoupMessageHeaders* headers = soup_server_message_get_request_headers(msg);
    if (const char* authorization = soup_message_headers_get_one(headers, "Authorization")) {
        const std::string value = authorization;
        if (value.compare(0, 7, "Bearer ") != 0) {
            return std::nullopt;
        }
        const std::optional<CWebUser> user = users->CheckToken(value.substr(7));
        if (!user) {
            return std::nullopt;
        }
        return CWebIdentity{user->name, user->role, {}, true, {}};
    }
    const char* cookieHeader = soup_message_headers_get_list(headers, "Cookie");
    if (cookieHeader == nullptr) {
        return std::nullopt;
    }
    std::string id;
    GHashTable* cookies = soup_header_parse_semi_param_list(cookieHeader);
    if (const char* value = static_cast<const char*>(g_hash_table_lookup(cookies, kCookieName))) {
        id = value;
    }
    soup_header_free_param_list(cookies);
    const auto it = sessions.find(id);
    if (id.empty() || it == sessions.end()) {
        return std::nullopt;
    }
    const int64_t now = WebNowMs();
    if (now - it->second.lastUsedMs > kSessionIdleMs) {
        sessions.erase(it);
        return std::nullopt;
    }
    // A removed user's sessions end with the next request.
    const std::optional<CWebUser> user = users->Find(it->second.user);
    if (!user) {
        sessions.erase(it);
        return std::nullopt;
    }
    it->second.lastUsedMs = now;
    return CWebIdentity{user->name, user->role, it->second.csrf, false, id};
}

bool CWebServer::CImpl::CheckCsrf(SoupServerMessage* msg, const CWebIdentity& who) {
    if (who.byToken) {
        return true; // a token is no ambient credential a foreign page could borrow
    }
    const char* token =
        soup_message_headers_get_one(soup_server_message_get_request_headers(msg), "X-CSRF-Token");
    return token != nullptr && !who.csrf.empty() && who.csrf == token;
}

bool CWebServer::CImpl::LoginAllowed(const std::string& address) {
    const auto inFlight = loginsInFlight.find(address);
    const int checking = inFlight == loginsInFlight.end() ? 0 : inFlight->second;
    auto it = loginFailures.find(address);
    if (it == loginFailures.end()) {
        return checking < options.loginFailuresAllowed;
    }
    const int64_t cutoff = WebNowMs() - static_cast<int64_t>(options.loginWindowSeconds) * 1000;
    while (!it->second.empty() && it->second.front() < cutoff) {
        it->second.pop_front();
    }
    const int failures = static_cast<int>(it->second.size());
    if (failures == 0) {
        loginFailures.erase(it);
    }
    return failures + checking < options.loginFailuresAllowed;
}

void CWebServer::CImpl::NoteLoginFailure(const std::string& address) {
    if (loginFailures.size() > 10000) {
        loginFailures.clear(); // bounded memory under a flood of addresses
    }
    loginFailures[address].push_back(WebNowMs());
}

std::string CWebServer::CImpl::NewSession(const std::string& user, std::string& csrf) {
    if (sessions.size() >= kMaxSessions) {
        auto oldest = sessions.begin();
        for (auto it = sessions.begin(); it != sessions.end(); ++it) {
            if (it->second.lastUsedMs < oldest->second.lastUsedMs) {
                oldest = it;
            }
        }
        sessions.erase(oldest);
    }
    const std::string id = CWebUsers::RandomHex(32);
    csrf = CWebUsers::RandomHex(32);
    sessions[id] = CWebSession{user, csrf, WebNowMs()};
    return id;
}
