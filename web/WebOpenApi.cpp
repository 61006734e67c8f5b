// The OpenAPI 3 description of /api/v1/, served at /api/v1/openapi.json.
#include "TavrixVersion.h"
#include "web/WebServerImpl.h"

namespace {

nlohmann::json Op(const char* summary, const char* okDescription, bool needsCsrf = false,
                  bool admin = false) {
    nlohmann::json op{
        {"summary", summary},
        {"responses",
         {{"200", {{"description", okDescription}}}, {"401", {{"description", "no session or token"}}}}}};
    if (needsCsrf) {
        op["parameters"] = nlohmann::json::array(
            {{{"name", "X-CSRF-Token"},
              {"in", "header"},
              {"required", false},
              {"description", "required with a session cookie, not with a Bearer token"},
              {"schema", {{"type", "string"}}}}});
        op["responses"]["403"] = {{"description", admin ? "CSRF token missing or wrong, or not an admin"
                                                        : "CSRF token missing or wrong"}};
    }
    return op;
}

nlohmann::json CameraParams() {
    return nlohmann::json::array(
        {{{"name", "document"}, {"in", "path"}, {"required", true}, {"schema", {{"type", "string"}}}},
         {{"name", "id"}, {"in", "path"}, {"required", true}, {"schema", {{"type", "integer"}}}}});
}

} // namespace

nlohmann::json WebOpenApiDocument() {
    nlohmann::json paths;
    nlohmann::json login = Op("Log in: sets the session cookie and returns the CSRF token", "logged in");
    login["security"] = nlohmann::json::array();
    login["requestBody"] = {
        {"required", true},
        {"content",
         {{"application/json",
           {{"schema",
             {{"type", "object"},
              {"required", {"user", "password"}},
              {"properties", {{"user", {{"type", "string"}}}, {"password", {{"type", "string"}}}}}}}}}}}};
    login["responses"]["401"] = {{"description", "wrong user name or password"}};
    login["responses"]["429"] = {{"description", "too many failed logins from this address"}};
    paths["/api/v1/session"] = {{"post", login},
                                {"get", Op("The logged-in user, role and CSRF token", "the session")},
                                {"delete", Op("Log out", "logged out", true)}};
    paths["/api/v1/cameras"] = {
        {"get", Op("Every camera of every open document: document, id, name, state, recording, snapshot and "
                   "stream (URLs relative to the server's base)",
                   "the cameras")}};
    nlohmann::json snapshot = Op("The camera's current picture", "a JPEG");
    snapshot["parameters"] = CameraParams();
    snapshot["responses"]["503"] = {{"description", "the camera delivers no picture"}};
    paths["/api/v1/cameras/{document}/{id}/snapshot"] = {{"get", snapshot}};
    nlohmann::json stream = Op("The live picture as motion JPEG (multipart/x-mixed-replace)", "the stream");
    stream["parameters"] = CameraParams();
    paths["/api/v1/cameras/{document}/{id}/stream"] = {{"get", stream}};
    for (const char* action : {"activate", "deactivate"}) {
        nlohmann::json op =
            Op(action[0] == 'a' ? "Activate the camera (admins)" : "Deactivate the camera (admins)", "queued",
               true, true);
        op["responses"]["202"] = {{"description", "queued for the camera"}};
        for (const nlohmann::json& parameter : CameraParams()) {
            op["parameters"].push_back(parameter);
        }
        paths[std::string("/api/v1/cameras/{document}/{id}/") + action] = {{"post", op}};
    }
    nlohmann::json events = Op("The notification log, newest first, filtered", "the entries");
    events["parameters"] =
        nlohmann::json::array({{{"name", "document"}, {"in", "query"}, {"schema", {{"type", "string"}}}},
                               {{"name", "camera"}, {"in", "query"}, {"schema", {{"type", "string"}}}},
                               {{"name", "text"}, {"in", "query"}, {"schema", {{"type", "string"}}}},
                               {{"name", "limit"}, {"in", "query"}, {"schema", {{"type", "integer"}}}}});
    paths["/api/v1/events"] = {{"get", events}};
    nlohmann::json live =
        Op("New notification log entries as server-sent events (same filters)", "the event stream");
    live["parameters"] = events["parameters"];
    paths["/api/v1/events/stream"] = {{"get", live}};
    paths["/api/v1/fleet"] = {
        {"get", Op("Every Tavrix node on this node's MQTT broker (from its retained topics): name, status, "
                   "online, local, web (the node's own web interface: ./ for this one, its published "
                   "http(s) URL for the others), cameras with state, motion and lastMotion; enabled is "
                   "false when no broker is set",
                   "the fleet")}};
    nlohmann::json openapi = Op("This document", "the OpenAPI document");
    openapi["security"] = nlohmann::json::array();
    paths["/api/v1/openapi.json"] = {{"get", openapi}};
    return nlohmann::json{{"openapi", "3.0.3"},
                          {"info", {{"title", "Tavrix"}, {"version", TAVRIX_VERSION_STRING}}},
                          {"servers", nlohmann::json::array({{{"url", "../.."}}})},
                          {"components",
                           {{"securitySchemes",
                             {{"session", {{"type", "apiKey"}, {"in", "cookie"}, {"name", "tavrix_session"}}},
                              {"token", {{"type", "http"}, {"scheme", "bearer"}}}}}}},
                          {"security", nlohmann::json::array({{{"session", nlohmann::json::array()}},
                                                              {{"token", nlohmann::json::array()}}})},
                          {"paths", paths}};
}
