// The long answers of the web server: MJPEG streams, snapshots waiting for the next frame and the
// server-sent events of the notification log. A client that does not read never makes the server
// keep more than the frame it is writing to it and the newest one after it: older frames are
// dropped for that client alone.
#include "camera/CameraHub.h"
#include "foundation/Tracer.h"
#include "web/WebServerImpl.h"

#include <chrono>

bool WebEventMatches(const CLogEntry& entry, const std::string& document, const std::string& camera,
                     const std::string& text);
std::string WebQueryValue(SoupServerMessage* msg, const char* name);

namespace {

constexpr guint kSnapshotTimeoutSeconds = 5;
constexpr size_t kMaxEventBacklog = 256 * 1024;

int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Appends text without copying: the bytes keep the shared string alive.
void AppendShared(SoupServerMessage* msg, const std::shared_ptr<const std::string>& text) {
    auto* keep = new std::shared_ptr<const std::string>(text);
    GBytes* bytes = g_bytes_new_with_free_func(
        (*keep)->data(), (*keep)->size(),
        [](gpointer data) { delete static_cast<std::shared_ptr<const std::string>*>(data); }, keep);
    soup_message_body_append_bytes(soup_server_message_get_response_body(msg), bytes);
    g_bytes_unref(bytes);
    soup_server_message_unpause(msg);
}

void StartChunked(SoupServerMessage* msg, const char* contentType) {
    CWebServer::CImpl::SetCommonHeaders(msg);
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(msg);
    soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
    soup_message_headers_replace(headers, "Content-Type", contentType);
    // Written chunks are let go instead of being kept for the whole answer.
    soup_message_body_set_accumulate(soup_server_message_get_response_body(msg), FALSE);
    soup_server_message_set_status(msg, SOUP_STATUS_OK, nullptr);
}

} // namespace

struct CStreamClient {
    CWebServer::CImpl* impl = nullptr;
    SoupServerMessage* msg = nullptr;
    std::string key;
    std::string document;
    int32_t cameraId = -1;
    bool ending = false;
    std::shared_ptr<CLiveFeed> feed;
    bool writing = false;
    int64_t inFlightSteadyNs = 0;
    std::shared_ptr<const CLiveFrame> next;
};

struct CEventClient {
    CWebServer::CImpl* impl = nullptr;
    SoupServerMessage* msg = nullptr;
    std::string document, camera, text;
    bool writing = false;
    std::string pending;
};

struct CSnapshotWaiter {
    CWebServer::CImpl* impl = nullptr;
    SoupServerMessage* msg = nullptr;
    std::string key;
    std::shared_ptr<CLiveFeed> feed;
    GSource* timeout = nullptr;
};

// ---- MJPEG ----

namespace {

void SendFrame(CStreamClient* client, const std::shared_ptr<const CLiveFrame>& frame) {
    client->writing = true;
    client->inFlightSteadyNs = frame->frameSteadyNs;
    ++client->impl->stats.framesSent;
    AppendShared(client->msg, frame->part);
}

void OnStreamChunkWritten(SoupServerMessage*, gpointer data) {
    auto* client = static_cast<CStreamClient*>(data);
    CWebServerStats& stats = client->impl->stats;
    stats.lastFrameLatencyNs = SteadyNs() - client->inFlightSteadyNs;
    stats.totalFrameLatencyNs += stats.lastFrameLatencyNs;
    ++stats.latencySamples;
    client->writing = false;
    if (client->next && !client->ending) {
        std::shared_ptr<const CLiveFrame> next = std::move(client->next);
        client->next.reset();
        SendFrame(client, next);
    }
}

void OnStreamFinished(SoupServerMessage* msg, gpointer data) {
    auto* client = static_cast<CStreamClient*>(data);
    g_signal_handlers_disconnect_by_data(msg, client);
    auto& streams = client->impl->streams;
    for (auto it = streams.begin(); it != streams.end(); ++it) {
        if (it->second == client) {
            streams.erase(it);
            break;
        }
    }
    client->feed->RemoveViewer();
    delete client;
}

} // namespace

void CWebServer::CImpl::StartStream(SoupServerMessage* msg, const std::string& document, int32_t cameraId) {
    std::shared_ptr<CLiveFeed> feed = feeds->Feed(document, cameraId);
    if (!feed) {
        ReplyError(msg, SOUP_STATUS_NOT_FOUND, "no such camera");
        return;
    }
    StartChunked(msg, (std::string("multipart/x-mixed-replace; boundary=") + CLiveFeed::kBoundary).c_str());
    auto* client = new CStreamClient;
    client->impl = this;
    client->msg = msg;
    client->feed = feed;
    client->key = CLiveFeeds::Key(document, cameraId);
    client->document = document;
    client->cameraId = cameraId;
    if (std::shared_ptr<const CLiveFrame> latest = feed->Latest()) {
        client->key = latest->key;
    }
    feed->AddViewer();
    g_signal_connect(msg, "wrote-chunk", G_CALLBACK(OnStreamChunkWritten), client);
    g_signal_connect(msg, "finished", G_CALLBACK(OnStreamFinished), client);
    streams.emplace(client->key, client);
    // The picture the feed has already, at once, instead of a blank until the next frame.
    if (std::shared_ptr<const CLiveFrame> latest = feed->Latest()) {
        SendFrame(client, latest);
    } else {
        soup_server_message_pause(msg);
    }
}

void CWebServer::CImpl::OnFrame(const std::shared_ptr<const CLiveFrame>& frame) {
    const auto range = streams.equal_range(frame->key);
    for (auto it = range.first; it != range.second; ++it) {
        CStreamClient* client = it->second;
        if (client->ending) {
            continue;
        }
        if (client->writing) {
            if (client->next) {
                ++stats.framesDropped;
            }
            client->next = frame; // replaces what this slow client has not taken
        } else {
            SendFrame(client, frame);
        }
    }
    if (frame->full) {
        const auto waiting = snapshots.equal_range(frame->key);
        std::vector<CSnapshotWaiter*> done;
        for (auto it = waiting.first; it != waiting.second; ++it) {
            done.push_back(it->second);
        }
        snapshots.erase(waiting.first, waiting.second);
        for (CSnapshotWaiter* waiter : done) {
            g_signal_handlers_disconnect_by_data(waiter->msg, waiter);
            g_source_destroy(waiter->timeout);
            g_source_unref(waiter->timeout);
            ReplyBytes(waiter->msg, SOUP_STATUS_OK, "image/jpeg", *frame->full);
            soup_server_message_unpause(waiter->msg);
            delete waiter;
        }
    }
}

// ---- snapshots ----

namespace {

void ForgetWaiter(CSnapshotWaiter* waiter) {
    auto& snapshots = waiter->impl->snapshots;
    for (auto it = snapshots.begin(); it != snapshots.end(); ++it) {
        if (it->second == waiter) {
            snapshots.erase(it);
            break;
        }
    }
    g_signal_handlers_disconnect_by_data(waiter->msg, waiter);
    g_source_destroy(waiter->timeout);
    g_source_unref(waiter->timeout);
    delete waiter;
}

void OnSnapshotFinished(SoupServerMessage*, gpointer data) {
    ForgetWaiter(static_cast<CSnapshotWaiter*>(data));
}

gboolean OnSnapshotTimeout(gpointer data) {
    auto* waiter = static_cast<CSnapshotWaiter*>(data);
    SoupServerMessage* msg = waiter->msg;
    CWebServer::CImpl::ReplyError(msg, SOUP_STATUS_SERVICE_UNAVAILABLE, "the camera delivers no picture");
    ForgetWaiter(waiter);
    soup_server_message_unpause(msg);
    return G_SOURCE_REMOVE;
}

} // namespace

void CWebServer::CImpl::StartSnapshot(SoupServerMessage* msg, const std::string& document, int32_t cameraId) {
    std::shared_ptr<CLiveFeed> feed = feeds->Feed(document, cameraId);
    if (!feed) {
        ReplyError(msg, SOUP_STATUS_NOT_FOUND, "no such camera");
        return;
    }
    auto* waiter = new CSnapshotWaiter;
    waiter->impl = this;
    waiter->msg = msg;
    waiter->feed = feed;
    waiter->key = CLiveFeeds::Key(document, cameraId);
    if (std::shared_ptr<const CLiveFrame> latest = feed->Latest()) {
        waiter->key = latest->key;
    }
    waiter->timeout = g_timeout_source_new_seconds(kSnapshotTimeoutSeconds);
    g_source_set_callback(waiter->timeout, OnSnapshotTimeout, waiter, nullptr);
    g_source_attach(waiter->timeout, context);
    g_signal_connect(msg, "finished", G_CALLBACK(OnSnapshotFinished), waiter);
    snapshots.emplace(waiter->key, waiter);
    soup_server_message_pause(msg);
    feed->WantSnapshot();
}

// ---- server-sent events ----

namespace {

void SendEvents(CEventClient* client) {
    auto text = std::make_shared<const std::string>(std::move(client->pending));
    client->pending.clear();
    client->writing = true;
    AppendShared(client->msg, text);
}

void OnEventChunkWritten(SoupServerMessage*, gpointer data) {
    auto* client = static_cast<CEventClient*>(data);
    client->writing = false;
    if (!client->pending.empty()) {
        SendEvents(client);
    }
}

void OnEventsFinished(SoupServerMessage* msg, gpointer data) {
    auto* client = static_cast<CEventClient*>(data);
    g_signal_handlers_disconnect_by_data(msg, client);
    client->impl->eventClients.erase(client);
    delete client;
}

} // namespace

void CWebServer::CImpl::StartEvents(SoupServerMessage* msg) {
    StartChunked(msg, "text/event-stream; charset=utf-8");
    auto* client = new CEventClient;
    client->impl = this;
    client->msg = msg;
    client->document = WebQueryValue(msg, "document");
    client->camera = WebQueryValue(msg, "camera");
    client->text = WebQueryValue(msg, "text");
    g_signal_connect(msg, "wrote-chunk", G_CALLBACK(OnEventChunkWritten), client);
    g_signal_connect(msg, "finished", G_CALLBACK(OnEventsFinished), client);
    eventClients.insert(client);
    client->pending = ": connected\n\n";
    SendEvents(client);
}

void CWebServer::CImpl::OnLogEntry(const CLogEntry& entry) {
    if (eventClients.empty()) {
        return;
    }
    const std::string line =
        "data: " + WebEventJson(entry).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
        "\n\n";
    for (CEventClient* client : eventClients) {
        if (!WebEventMatches(entry, client->document, client->camera, client->text)) {
            continue;
        }
        if (client->pending.size() + line.size() > kMaxEventBacklog) {
            continue; // a client that reads nothing loses entries, never the server its memory
        }
        client->pending += line;
        if (!client->writing) {
            SendEvents(client);
        }
    }
}

// ---- shutdown and figures ----

void CWebServer::CImpl::CloseAllStreams() {
    DetachUiCalls();
    for (auto& [key, client] : streams) {
        soup_message_body_complete(soup_server_message_get_response_body(client->msg));
        soup_server_message_unpause(client->msg);
    }
    for (CEventClient* client : eventClients) {
        soup_message_body_complete(soup_server_message_get_response_body(client->msg));
        soup_server_message_unpause(client->msg);
    }
    std::vector<CSnapshotWaiter*> waiting;
    for (auto& [key, waiter] : snapshots) {
        waiting.push_back(waiter);
    }
    for (CSnapshotWaiter* waiter : waiting) {
        SoupServerMessage* msg = waiter->msg;
        ReplyError(msg, SOUP_STATUS_SERVICE_UNAVAILABLE, "the server is stopping");
        ForgetWaiter(waiter);
        soup_server_message_unpause(msg);
    }
    soup_server_disconnect(server);
    while (g_main_context_iteration(context, FALSE)) {
    }
    // What the disconnection did not finish is let go without touching its messages.
    for (auto& [key, client] : streams) {
        client->feed->RemoveViewer();
        delete client;
    }
    streams.clear();
    for (CEventClient* client : eventClients) {
        delete client;
    }
    eventClients.clear();
}

void CWebServer::CImpl::EndStreamsOfGoneCameras() {
    for (auto& [key, client] : streams) {
        if (client->ending ||
            CCameraHub::Instance().WithCamera(client->document, client->cameraId, [](ICameraControl&) {})) {
            continue;
        }
        // The stream's end: the browser shows the last picture and the page's list drops the camera.
        client->ending = true;
        client->next.reset();
        soup_message_body_complete(soup_server_message_get_response_body(client->msg));
        soup_server_message_unpause(client->msg);
    }
}

void CWebServer::CImpl::CountStreams(CWebServerStats& result) const {
    for (const auto& [key, client] : streams) {
        if (client->writing) {
            ++result.streamClientsWriting;
        }
        if (client->next) {
            ++result.queuedFrames;
        }
    }
}
