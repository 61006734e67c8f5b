#pragma once
// CWebServer: the web interface and JSON API (/api/v1/) of Tavrix on libsoup 3. It runs on a thread
// of its own with its own GLib main context, since the headless shell has no GLib main loop (and
// the desktop's must not carry the streams). Work for the user-interface thread (activating a
// camera) is handed over with CCameraHub::RunOnUiThread.
//
// Security: every page holding data and every /api/v1/ path needs a session (cookie, plus a CSRF
// token for state-changing requests) or a user's API token (Authorization: Bearer), except the
// login itself and the OpenAPI document. Logins are rate-limited per address. Files are served
// from a list read at start, never by a path taken from a request.
//
// Threads: Start and Stop from one owning thread; everything else happens on the server's thread.
// The live feeds call in from their workers (posting to the server's context), the notification
// log from any thread (the same way).

#include "mqtt/MqttSettings.h"
#include "web/LiveFeeds.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

struct CWebServerOptions {
    std::string address = "127.0.0.1";
    int port = 8080; // 0: any free port (tests)
    std::string basePath = "/";
    std::string tlsCertificate; // PEM files; both or neither
    std::string tlsKey;
    std::string userDbPath; // empty: the settings' "UserDbPath"
    std::string wwwDir;     // empty: the installed pages (WebPagesDir)
    CLiveFeedOptions live;
    int loginFailuresAllowed = 5; // per address within loginWindowSeconds
    int loginWindowSeconds = 60;
    // The broker whose other nodes the fleet page and api/v1/fleet show; no host: no fleet.
    CMqttSettings fleet;
    // How other machines reach this server ("https://cams.example.com/gate/"); empty: its own
    // address, the host name for a wildcard address.
    std::string publicUrl;
    // How long a request that the user-interface thread answers (a retention change) waits for
    // that thread to take it; then 503, and the change is not made.
    int uiCallTimeoutMs = 15000;
};

// Figures for tests and benchmarks (taken on the server's thread).
struct CWebServerStats {
    size_t streamClients = 0;
    size_t streamClientsWriting = 0;
    size_t queuedFrames = 0;   // frames waiting for a client that is still writing the one before
    int64_t framesEncoded = 0; // by every feed together
    int64_t framesSent = 0;
    int64_t framesDropped = 0; // replaced before a slow client took them
    int64_t lastFrameLatencyNs = 0;
    int64_t totalFrameLatencyNs = 0;
    int64_t latencySamples = 0;
};

class CWebServer {
public:
    CWebServer();
    ~CWebServer();
    CWebServer(const CWebServer&) = delete;
    CWebServer& operator=(const CWebServer&) = delete;

    // Starts listening; throws CGeneralEx with the reason (no user defined for a non-loopback
    // address, the address in use, unreadable TLS files, no pages).
    void Start(const CWebServerOptions& options);
    void Stop();
    bool IsRunning() const { return m_thread.joinable(); }
    // The port listened on (the chosen one for port 0).
    int GetPort() const { return m_port; }
    // "http://ADDR:PORT/base/"
    std::string GetUrl() const;
    // The URL other machines use: the option publicUrl, or GetUrl with the host name for a
    // wildcard address. Published to the broker by the MQTT node of this process, if one runs.
    std::string GetPublicUrl() const { return m_publicUrl; }
    CWebServerStats GetStats();

    // Where the pages are: PREFIX/share/tavrix/www beside the executable's folder.
    static std::string WebPagesDir();
    static bool IsLoopback(const std::string& address);
    // "[ADDR:]PORT" of the command line; false when it is no valid address and port.
    static bool ParseListen(const std::string& text, std::string& address, int& port);

    struct CImpl;

private:
    std::string UrlFor(const std::string& host) const;
    std::string PublicUrl(std::string configured) const;
    void StartFleet();

    std::unique_ptr<CImpl> m_impl;
    std::thread m_thread;
    std::atomic<int> m_port{0};
    std::string m_url;
    std::string m_publicUrl;
    bool m_announced = false; // the public URL was given to the MQTT node
};
