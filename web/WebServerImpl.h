#pragma once
// The inside of CWebServer, shared by its source files (WebServer.cpp: start, stop, routing,
// sessions and files; WebApi.cpp: the API's handlers; WebStreams.cpp: the MJPEG streams, snapshots
// and server-sent events). Everything here lives on the server's thread unless marked.

#include "mqtt/FleetView.h"
#include "library/RecordingCatalogue.h"
#include "persistence/NotificationLog.h"
#include "web/WebServer.h"
#include "web/WebUsers.h"

#include <libsoup/soup.h>
#include <nlohmann/json.hpp>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

struct CWebIdentity {
    std::string user;
    EWebRole role = EWebRole::Viewer;
    std::string csrf; // empty for a token
    bool byToken = false;
    std::string session; // the session id, empty for a token
};

struct CWebSession {
    std::string user;
    std::string csrf;
    int64_t lastUsedMs = 0;
};

struct CWebFile {
    std::string content;
    std::string mime;
    bool needsSession = false;
};

// A login whose password is being checked on a worker thread.
struct CLoginJob {
    CWebServer::CImpl* impl = nullptr;
    SoupServerMessage* msg = nullptr; // referenced until the check is done
    std::string name, password, address, dbPath;
    std::optional<CWebUser> user;
    std::string error;
    bool gone = false; // the client went away meanwhile
    gulong finishedHandler = 0;
};

struct CStreamClient;
struct CEventClient;

// A byte range of a file, both ends included.
struct CWebByteRange {
    int64_t first = 0;
    int64_t last = 0;
};
struct CSnapshotWaiter;

// A request answered by work that runs on the user-interface thread (the open documents live
// there). The message waits paused; the work's answer comes back to the server's thread through
// an idle source on the server's context. The server detaches its calls when it stops (impl and
// context null), so a late answer finds nobody and is dropped; a call the user-interface thread
// has not started within the time limit is answered 503 and its work never runs.
struct CUiCall {
    struct CAnswer {
        int status = 0;
        nlohmann::json body;
    };
    std::mutex lock; // guards impl, context, started, timedOut and answer
    CWebServer::CImpl* impl = nullptr;
    GMainContext* context = nullptr; // referenced while not null
    bool started = false;            // the work runs or ran
    bool timedOut = false;           // answered 503; the work must not run any more
    CAnswer answer;
    // Server's thread only:
    SoupServerMessage* msg = nullptr; // referenced
    gulong finishedHandler = 0;
    bool gone = false; // the client went away
    bool done = false; // answered (or let go)
    GSource* timeout = nullptr;
};

struct CWebServer::CImpl {
    CWebServerOptions options;
    std::string base; // "/" or "/prefix/"
    bool tls = false;
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    SoupServer* server = nullptr;
    std::unique_ptr<CWebUsers> users;
    std::unique_ptr<CLiveFeeds> feeds;
    std::unique_ptr<CFleetView> fleet; // the other nodes on the broker, when one is given
    int logListener = -1;
    std::map<std::string, CWebFile> files;
    std::map<std::string, CWebSession> sessions;
    std::string userDbPath;
    std::map<std::string, std::deque<int64_t>> loginFailures; // address -> times (ms)
    std::map<std::string, int> loginsInFlight;                // address -> checks under way
    std::multimap<std::string, CStreamClient*> streams;
    std::set<CEventClient*> eventClients;
    std::multimap<std::string, CSnapshotWaiter*> snapshots;
    CWebServerStats stats;
    std::unique_ptr<CRecordingCatalogue> catalogue; // opened on first use
    std::set<std::shared_ptr<CUiCall>> uiCalls;     // requests waiting for the user-interface thread

    // ---- WebServer.cpp ----
    // Creates the server and listens; the reason when it cannot, else empty.
    std::string Listen(int& port);
    // Runs the loop until Stop, then ends every connection.
    void Serve();
    void Handle(SoupServerMessage* msg, const std::string& path);
    std::optional<CWebIdentity> Authenticate(SoupServerMessage* msg);
    bool CheckCsrf(SoupServerMessage* msg, const CWebIdentity& who);
    void ServeFile(SoupServerMessage* msg, const std::string& name);
    void LoadFiles(const std::string& dir);
    bool LoginAllowed(const std::string& address);
    void NoteLoginFailure(const std::string& address);
    std::string CookieFor(const std::string& id, bool clear) const;
    std::string NewSession(const std::string& user, std::string& csrf);
    // Queues fn on the server's thread (from any thread).
    void Post(std::function<void()> fn);

    // ---- WebApi.cpp ----
    void HandleApi(SoupServerMessage* msg, const std::string& rel, const std::optional<CWebIdentity>& who);
    void Login(SoupServerMessage* msg);
    static void CheckPasswordOnWorker(GTask* task, gpointer source, gpointer data, GCancellable* cancellable);
    static void OnPasswordChecked(GObject* source, GAsyncResult* result, gpointer data);
    void FinishLogin(SoupServerMessage* msg, const CLoginJob& job);
    void Logout(SoupServerMessage* msg, const CWebIdentity& who);
    void ListCameras(SoupServerMessage* msg);
    void ListEvents(SoupServerMessage* msg);
    void HandleCamera(SoupServerMessage* msg, const std::vector<std::string>& parts, const CWebIdentity& who);

    // ---- WebFleet.cpp ----
    void ListFleet(SoupServerMessage* msg);
    // ---- WebRecordings.cpp ----
    void ListRecordings(SoupServerMessage* msg);
    // "api/v1/recordings/" + rel: one recording, its file, thumbnail, keep; the retention settings.
    void HandleRecordings(SoupServerMessage* msg, const std::string& rel, const CWebIdentity& who);
    void ListRetention(SoupServerMessage* msg, CRecordingCatalogue& cat);
    // PUT/POST api/v1/recordings/retention: an admin changes an open document's retention.
    void ChangeRetention(SoupServerMessage* msg, CRecordingCatalogue& cat, const CWebIdentity& who);

    // ---- user-interface thread calls (WebRecordings.cpp) ----
    // Pauses the message and runs work on the user-interface thread; its answer is the reply.
    void AnswerFromUiThread(SoupServerMessage* msg, std::function<CUiCall::CAnswer()> work);
    void FinishUiCall(const std::shared_ptr<CUiCall>& call, const CUiCall::CAnswer& answer);
    // On stopping: answers 503 to the calls still waiting and detaches them.
    void DetachUiCalls();
    void ServeRecordingFile(SoupServerMessage* msg, const CRecording& row);
    // The catalogue, opened on first use; null (and the reply sent) when it cannot be opened.
    CRecordingCatalogue* Catalogue(SoupServerMessage* msg);
    static nlohmann::json RecordingJson(const CRecording& recording);

    // ---- WebStreams.cpp ----
    void StartStream(SoupServerMessage* msg, const std::string& document, int32_t cameraId);
    void StartSnapshot(SoupServerMessage* msg, const std::string& document, int32_t cameraId);
    void StartEvents(SoupServerMessage* msg);
    // A frame encoded by a feed; on the server's thread.
    void OnFrame(const std::shared_ptr<const CLiveFrame>& frame);
    void OnLogEntry(const CLogEntry& entry);
    void CloseAllStreams();
    void EndStreamsOfGoneCameras();
    void CountStreams(CWebServerStats& stats) const;

    static void Reply(SoupServerMessage* msg, int status, const nlohmann::json& body);
    static void ReplyError(SoupServerMessage* msg, int status, const std::string& text);
    static void ReplyBytes(SoupServerMessage* msg, int status, const std::string& mime,
                           const std::string& body);
    static void SetCommonHeaders(SoupServerMessage* msg);
    static void Redirect(SoupServerMessage* msg, const std::string& location);
};

// The OpenAPI document of /api/v1/.
nlohmann::json WebOpenApiDocument();
// The fleet as api/v1/fleet gives it; localNode's page is the relative "./".
nlohmann::json WebFleetJson(const CFleetTable& table, const std::string& localNode, bool enabled,
                            bool connected, const std::string& broker);
// A log entry as the API gives it.
nlohmann::json WebEventJson(const CLogEntry& entry);
// A request's path segments, each percent-decoded; nullopt when a segment does not decode.
std::optional<std::vector<std::string>> WebSplitPath(const std::string& rel);
int64_t WebNowMs();
// The Content-Type of a recording's file, from its container and name.
std::string WebRecordingMime(const CRecording& recording);
// A "Range: bytes=..." header over a file of size bytes: the one range to send, or nullopt for the
// whole file (no byte range, or several); unsatisfiable is set when the answer must be 416.
std::optional<CWebByteRange> WebParseRange(const std::string& header, int64_t size, bool& unsatisfiable);
