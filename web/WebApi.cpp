// The JSON API under /api/v1/: session, cameras, activation, events and the OpenAPI document.
#include "camera/CamViewStateMgr.h"
#include "camera/CameraHub.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "persistence/NotificationLog.h"
#include "web/WebServerImpl.h"

#include <cstdio>

namespace {

std::string Escape(const std::string& segment) {
    char* escaped = g_uri_escape_string(segment.c_str(), nullptr, FALSE);
    std::string text(escaped);
    g_free(escaped);
    return text;
}

std::string QueryValue(SoupServerMessage* msg, const char* name) {
    GUri* uri = soup_server_message_get_uri(msg);
    const char* query = g_uri_get_query(uri);
    if (query == nullptr) {
        return {};
    }
    GHashTable* table = g_uri_parse_params(query, -1, "&", G_URI_PARAMS_NONE, nullptr);
    if (table == nullptr) {
        return {};
    }
    const char* value = static_cast<const char*>(g_hash_table_lookup(table, name));
    std::string text = value != nullptr ? value : "";
    g_hash_table_unref(table);
    return text;
}

bool ContainsNoCase(const std::string& text, const std::string& part) {
    if (part.empty()) {
        return true;
    }
    gchar* a = g_utf8_casefold(text.c_str(), -1);
    gchar* b = g_utf8_casefold(part.c_str(), -1);
    const bool found = a != nullptr && b != nullptr && std::strstr(a, b) != nullptr;
    g_free(a);
    g_free(b);
    return found;
}

} // namespace

nlohmann::json WebEventJson(const CLogEntry& entry) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u", entry.time.year, entry.time.month,
                  entry.time.day, entry.time.hour, entry.time.minute, entry.time.second);
    return nlohmann::json{{"time", stamp},
                          {"document", entry.docName},
                          {"camera", entry.camName},
                          {"text", entry.text},
                          {"error", entry.error}};
}

bool WebEventMatches(const CLogEntry& entry, const std::string& document, const std::string& camera,
                     const std::string& text) {
    return (document.empty() || entry.docName == document) && (camera.empty() || entry.camName == camera) &&
           ContainsNoCase(entry.text, text);
}

std::string WebQueryValue(SoupServerMessage* msg, const char* name) {
    return QueryValue(msg, name);
}

void CWebServer::CImpl::HandleApi(SoupServerMessage* msg, const std::string& rel,
                                  const std::optional<CWebIdentity>& who) {
    const std::string method = soup_server_message_get_method(msg);
    if (rel == "api/v1/session" && method == "POST") {
        Login(msg);
        return;
    }
    if (rel == "api/v1/openapi.json" && method == "GET") {
        Reply(msg, SOUP_STATUS_OK, WebOpenApiDocument());
        return;
    }
    if (!who) {
        SetCommonHeaders(msg);
        soup_message_headers_replace(soup_server_message_get_response_headers(msg), "WWW-Authenticate",
                                     "Bearer realm=\"Tavrix\"");
        ReplyError(msg, SOUP_STATUS_UNAUTHORIZED, "log in first, or send an API token");
        return;
    }
    const bool changes = method != "GET" && method != "HEAD";
    if (changes && !CheckCsrf(msg, *who)) {
        ReplyError(msg, SOUP_STATUS_FORBIDDEN, "the CSRF token (header X-CSRF-Token) is missing or wrong");
        return;
    }
    if (rel == "api/v1/session") {
        if (method == "DELETE") {
            Logout(msg, *who);
        } else if (method == "GET") {
            Reply(msg, SOUP_STATUS_OK,
                  nlohmann::json{
                      {"user", who->user}, {"role", CWebUsers::RoleName(who->role)}, {"csrf", who->csrf}});
        } else {
            ReplyError(msg, SOUP_STATUS_METHOD_NOT_ALLOWED, "method not allowed");
        }
        return;
    }
    if (rel == "api/v1/cameras" && method == "GET") {
        ListCameras(msg);
        return;
    }
    if (rel == "api/v1/events" && method == "GET") {
        ListEvents(msg);
        return;
    }
    if (rel == "api/v1/fleet" && method == "GET") {
        ListFleet(msg);
        return;
    }
    if (rel == "api/v1/events/stream" && method == "GET") {
        StartEvents(msg);
        return;
    }
    if (rel == "api/v1/recordings" && method == "GET") {
        ListRecordings(msg);
        return;
    }
    if (rel.compare(0, 18, "api/v1/recordings/") == 0) {
        HandleRecordings(msg, rel.substr(18), *who);
        return;
    }
    if (rel.compare(0, 15, "api/v1/cameras/") == 0) {
        const std::optional<std::vector<std::string>> parts = WebSplitPath(rel.substr(15));
        if (parts && parts->size() == 3) {
            HandleCamera(msg, *parts, *who);
            return;
        }
    }
    ReplyError(msg, SOUP_STATUS_NOT_FOUND, "not found");
}

void CWebServer::CImpl::Login(SoupServerMessage* msg) {
    const std::string address =
        soup_server_message_get_remote_host(msg) ? soup_server_message_get_remote_host(msg) : "";
    if (!LoginAllowed(address)) {
        SetCommonHeaders(msg);
        soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Retry-After",
                                     std::to_string(options.loginWindowSeconds).c_str());
        ReplyError(msg, 429, "too many failed logins from this address; try again later");
        return;
    }
    SoupMessageBody* body = soup_server_message_get_request_body(msg);
    GBytes* bytes = soup_message_body_flatten(body);
    gsize size = 0;
    const char* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    nlohmann::json request = nlohmann::json::parse(data, data + size, nullptr, false);
    g_bytes_unref(bytes);
    if (!request.is_object() || !request.contains("user") || !request["user"].is_string() ||
        !request.contains("password") || !request["password"].is_string()) {
        ReplyError(msg, SOUP_STATUS_BAD_REQUEST, "expected {\"user\": NAME, \"password\": PASSWORD}");
        return;
    }
    // The password check (Argon2id, tens of milliseconds) runs on a worker, so that the streams
    // of the server's thread go on meanwhile; the attempt counts against the address until then.
    auto* job = new CLoginJob;
    job->impl = this;
    job->msg = msg;
    job->name = request["user"].get<std::string>();
    job->password = request["password"].get<std::string>();
    job->address = address;
    job->dbPath = userDbPath;
    ++loginsInFlight[address];
    g_object_ref(msg);
    job->finishedHandler = g_signal_connect(
        msg, "finished",
        G_CALLBACK(+[](SoupServerMessage*, gpointer data) { static_cast<CLoginJob*>(data)->gone = true; }),
        job);
    soup_server_message_pause(msg);
    GTask* task = g_task_new(nullptr, nullptr, OnPasswordChecked, job);
    g_task_set_task_data(task, job, nullptr);
    g_task_run_in_thread(task, CheckPasswordOnWorker);
    g_object_unref(task);
}

void CWebServer::CImpl::CheckPasswordOnWorker(GTask* task, gpointer, gpointer data, GCancellable*) {
    auto* job = static_cast<CLoginJob*>(data);
    try {
        CWebUsers users(job->dbPath);
        job->user = users.CheckPassword(job->name, job->password);
    } catch (const CBaseException& e) {
        job->error = e.GetMessage();
    }
    job->password.assign(job->password.size(), '\0');
    g_task_return_boolean(task, TRUE);
}

void CWebServer::CImpl::OnPasswordChecked(GObject*, GAsyncResult*, gpointer data) {
    std::unique_ptr<CLoginJob> job(static_cast<CLoginJob*>(data));
    CImpl* impl = job->impl;
    if (--impl->loginsInFlight[job->address] <= 0) {
        impl->loginsInFlight.erase(job->address);
    }
    SoupServerMessage* msg = job->msg;
    g_signal_handler_disconnect(msg, job->finishedHandler);
    if (!job->gone) {
        impl->FinishLogin(msg, *job);
        soup_server_message_unpause(msg);
    }
    g_object_unref(msg);
}

void CWebServer::CImpl::FinishLogin(SoupServerMessage* msg, const CLoginJob& job) {
    if (!job.error.empty()) {
        ReplyError(msg, SOUP_STATUS_INTERNAL_SERVER_ERROR, job.error);
        return;
    }
    if (!job.user) {
        NoteLoginFailure(job.address);
        // The name only: a password typed into the name field is still cut to what a name can be.
        CNotificationLog::Instance().AddEntry(
            "", "",
            "Web login failed for user '" + (CWebUsers::IsValidName(job.name) ? job.name : std::string("?")) +
                "' from " + job.address);
        ReplyError(msg, SOUP_STATUS_UNAUTHORIZED, "wrong user name or password");
        return;
    }
    std::string csrf;
    const std::string id = NewSession(job.user->name, csrf);
    TRACE("CWebServer: user '%s' logged in from %s", job.user->name.c_str(), job.address.c_str());
    SetCommonHeaders(msg);
    soup_message_headers_append(soup_server_message_get_response_headers(msg), "Set-Cookie",
                                CookieFor(id, false).c_str());
    Reply(msg, SOUP_STATUS_OK,
          nlohmann::json{
              {"user", job.user->name}, {"role", CWebUsers::RoleName(job.user->role)}, {"csrf", csrf}});
}

void CWebServer::CImpl::Logout(SoupServerMessage* msg, const CWebIdentity& who) {
    if (!who.session.empty()) {
        sessions.erase(who.session);
    }
    SetCommonHeaders(msg);
    soup_message_headers_append(soup_server_message_get_response_headers(msg), "Set-Cookie",
                                CookieFor({}, true).c_str());
    Reply(msg, SOUP_STATUS_OK, nlohmann::json{{"user", who.user}, {"loggedOut", true}});
}

void CWebServer::CImpl::ListCameras(SoupServerMessage* msg) {
    nlohmann::json cameras = nlohmann::json::array();
    CCameraHub::Instance().ForEachCamera([&cameras](ICameraControl& camera) {
        const std::string document = camera.GetDocumentName();
        const int32_t id = camera.GetCameraId();
        const int32_t state = camera.GetState();
        const std::string prefix = "api/v1/cameras/" + Escape(document) + "/" + std::to_string(id) + "/";
        cameras.push_back(nlohmann::json{{"document", document},
                                         {"id", id},
                                         {"name", camera.GetCameraName()},
                                         {"state", CCamViewStateMgr::GetStateName(state)},
                                         {"recording", state == CCamViewStateMgr::kRecording},
                                         {"active", state != CCamViewStateMgr::kInactive},
                                         {"snapshot", prefix + "snapshot"},
                                         {"stream", prefix + "stream"},
                                         {"activate", prefix + "activate"},
                                         {"deactivate", prefix + "deactivate"}});
    });
    Reply(msg, SOUP_STATUS_OK, cameras);
}

void CWebServer::CImpl::ListEvents(SoupServerMessage* msg) {
    const std::string document = QueryValue(msg, "document");
    const std::string camera = QueryValue(msg, "camera");
    const std::string text = QueryValue(msg, "text");
    size_t limit = 200;
    const std::string limitText = QueryValue(msg, "limit");
    if (!limitText.empty()) {
        limit = static_cast<size_t>(std::clamp(std::atoi(limitText.c_str()), 1, 10000));
    }
    const std::vector<CLogEntry> entries = CNotificationLog::Instance().GetEntries();
    nlohmann::json result = nlohmann::json::array();
    // Newest first.
    for (auto it = entries.rbegin(); it != entries.rend() && result.size() < limit; ++it) {
        if (WebEventMatches(*it, document, camera, text)) {
            result.push_back(WebEventJson(*it));
        }
    }
    Reply(msg, SOUP_STATUS_OK, result);
}

void CWebServer::CImpl::HandleCamera(SoupServerMessage* msg, const std::vector<std::string>& parts,
                                     const CWebIdentity& who) {
    const std::string& document = parts[0];
    const std::string& idText = parts[1];
    const std::string& action = parts[2];
    if (idText.empty() || idText.size() > 9 || idText.find_first_not_of("0123456789") != std::string::npos) {
        ReplyError(msg, SOUP_STATUS_NOT_FOUND, "no such camera");
        return;
    }
    const int32_t cameraId = std::stoi(idText);
    bool exists = false;
    CCameraHub::Instance().WithCamera(document, cameraId, [&exists](ICameraControl&) { exists = true; });
    if (!exists) {
        ReplyError(msg, SOUP_STATUS_NOT_FOUND, "no such camera");
        return;
    }
    const std::string method = soup_server_message_get_method(msg);
    if (action == "stream" && method == "GET") {
        StartStream(msg, document, cameraId);
    } else if (action == "snapshot" && method == "GET") {
        StartSnapshot(msg, document, cameraId);
    } else if ((action == "activate" || action == "deactivate") && method == "POST") {
        if (who.role != EWebRole::Admin) {
            ReplyError(msg, SOUP_STATUS_FORBIDDEN, "only an admin may " + action + " cameras");
            return;
        }
        const bool activate = action == "activate";
        // Activation belongs to the user-interface thread; the camera is looked up again there, as
        // it may have gone meanwhile.
        CCameraHub::RunOnUiThread([document, cameraId, activate] {
            CCameraHub::Instance().WithCamera(document, cameraId, [activate](ICameraControl& camera) {
                if (activate) {
                    camera.Activate();
                } else {
                    camera.Deactivate();
                }
            });
        });
        TRACE("CWebServer: user '%s' asked to %s camera %d of '%s'", who.user.c_str(), action.c_str(),
              cameraId, document.c_str());
        Reply(msg, SOUP_STATUS_ACCEPTED,
              nlohmann::json{{"document", document}, {"id", cameraId}, {"queued", action}});
    } else {
        ReplyError(msg, SOUP_STATUS_NOT_FOUND, "not found");
    }
}
