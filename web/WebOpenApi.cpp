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

nlohmann::json QueryParam(const char* name, const char* type, const char* description) {
    return {{"name", name}, {"in", "query"}, {"description", description}, {"schema", {{"type", type}}}};
}

void AddRecordingPaths(nlohmann::json& paths) {
    nlohmann::json list = Op("The recordings catalogue, newest first, filtered and paged: {total, offset, limit, "
                             "recordings: [{id, document, camera, fileName, container, mime, playable, start, "
                             "startUtcMs, durationMs, sizeBytes, state, keep, file, download, thumbnail}]}",
                             "a page of recordings");
    list["parameters"] = nlohmann::json::array(
        {QueryParam("document", "string", "the document's title"), QueryParam("camera", "string", "camera name"),
         QueryParam("since", "integer", "start at or after, ms since 1970 UTC"),
         QueryParam("until", "integer", "start before, ms since 1970 UTC"),
         QueryParam("offset", "integer", "rows skipped"), QueryParam("limit", "integer", "at most (1-1000, 100)"),
         QueryParam("file", "string", "only the recording with exactly this file path (as an event reported it)")});
    list["responses"]["400"] = {{"description", "a filter is no number"}};
    paths["/api/v1/recordings"] = {{"get", list}};
    const nlohmann::json id = {{"name", "id"}, {"in", "path"}, {"required", true}, {"schema", {{"type", "integer"}}}};
    nlohmann::json one = Op("One recording by its catalogue id", "the recording");
    one["parameters"] = nlohmann::json::array({id});
    one["responses"]["404"] = {{"description", "no such recording"}};
    nlohmann::json remove = Op("Delete the recording's file and its row (admins)", "deleted", true, true);
    remove["parameters"].push_back(id);
    remove["responses"]["409"] = {{"description", "being written, or marked keep"}};
    paths["/api/v1/recordings/{id}"] = {{"get", one}, {"delete", remove}};
    nlohmann::json file = Op("The recording's file; Range requests (one byte range) answer 206", "the whole file");
    file["parameters"] = nlohmann::json::array(
        {id, QueryParam("download", "integer", "1: Content-Disposition attachment"),
         {{"name", "Range"}, {"in", "header"}, {"schema", {{"type", "string"}}}}});
    file["responses"]["206"] = {{"description", "the range asked for, with Content-Range"}};
    file["responses"]["404"] = {{"description", "no such recording, or its file is gone"}};
    file["responses"]["409"] = {{"description", "the recording is being written"}};
    file["responses"]["416"] = {{"description", "the range lies outside the file"}};
    paths["/api/v1/recordings/{id}/file"] = {{"get", file}};
    nlohmann::json thumbnail = Op("The recording's thumbnail", "a JPEG");
    thumbnail["parameters"] = nlohmann::json::array({id});
    thumbnail["responses"]["404"] = {{"description", "no such recording or no thumbnail"}};
    paths["/api/v1/recordings/{id}/thumbnail"] = {{"get", thumbnail}};
    nlohmann::json keep = Op("Keep the recording: retention never removes it (admins)", "kept", true, true);
    keep["parameters"].push_back(id);
    nlohmann::json unkeep = Op("Let retention remove the recording again (admins)", "not kept", true, true);
    unkeep["parameters"].push_back(id);
    paths["/api/v1/recordings/{id}/keep"] = {{"post", keep}, {"delete", unkeep}};
    nlohmann::json setRetention =
        Op("Change the retention of a document open in this Tavrix (admins): the values are set in the "
           "open document and written into its file at once; keys left out keep their value",
           "the document's retention now: {document, retentionDays, retentionMaxGiB, minFreeGiB}", true, true);
    const auto range = [](const char* description, int32_t maximum) {
        return nlohmann::json{
            {"type", "integer"}, {"minimum", 0}, {"maximum", maximum}, {"description", description}};
    };
    setRetention["requestBody"] = {
        {"required", true},
        {"content",
         {{"application/json",
           {{"schema",
             {{"type", "object"},
              {"required", nlohmann::json::array({"document"})},
              {"properties",
               {{"document", {{"type", "string"}, {"description", "the document's title or file"}}},
                {"retentionDays", range("Global.RetentionDays: days, 0 keeps recordings for ever", 36500)},
                {"retentionMaxGiB", range("Global.RetentionMaxGiB: GiB, 0 for no limit", 1048576)},
                {"minFreeGiB", range("Global.MinFreeGiB: GiB, 0 for no minimum", 1048576)}}}}}}}}}};
    setRetention["responses"]["400"] = {{"description", "a value is missing its document, no integer or out of range"}};
    setRetention["responses"]["404"] = {{"description", "no catalogued or open document of that name"}};
    setRetention["responses"]["409"] = {
        {"description", "the document is not open in this Tavrix, or its name is ambiguous, or it cannot be written"}};
    setRetention["responses"]["503"] = {{"description", "the user interface did not answer in time"}};
    paths["/api/v1/recordings/retention"] = {
        {"get", Op("Retention of each catalogued document: document, open (whether this Tavrix has it open, so "
                   "that an admin may change it), recordings, usedBytes, retentionDays, retentionMaxGiB, "
                   "minFreeGiB, freeBytes",
                   "the documents")},
        {"put", setRetention},
        {"post", setRetention}};
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
    AddRecordingPaths(paths);
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
