// Who is asking: sessions (cookie and CSRF token), API tokens, and the login rate limit.
#include "foundation/Exceptions.h"
#include "web/WebServerImpl.h"

#include <cstring>

namespace {

constexpr const char* kCookieName = "tavrix_session";
constexpr int64_t kSessionIdleMs = 12LL * 3600 * 1000;
constexpr size_t kMaxSessions = 1000;

} // namespace

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
