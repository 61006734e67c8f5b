#pragma once
// What the web tests share: a camera scripted through the real camera hub (no webcam here: it
// registers like a camera view and publishes BGR frames from its own thread), the user interface
// thread's dispatcher run on a thread of the test, a real server on loopback with a fresh user
// database, and plain HTTP clients (libcurl, and raw sockets for the clients that misbehave).

#include "camera/CameraHub.h"
#include "web/WebServer.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CScriptedCamera : public ICameraControl {
public:
    // noise: every frame random pixels (large JPEGs); else a moving bar.
    CScriptedCamera(std::string document, int32_t id, std::string name, int32_t width, int32_t height,
                    int fps, bool noise = false);
    ~CScriptedCamera();

    std::string GetDocumentName() override { return m_document; }
    std::string GetDocumentPath() override { return "/tmp/" + m_document + ".tvrx"; }
    int32_t GetCameraId() const override { return m_id; }
    std::string GetCameraName() override { return m_name; }
    int32_t GetState() const override { return m_state.load(); }
    bool IsActivated() const override { return m_state.load() != 1; }
    void Activate() override;
    void Deactivate() override;

    int64_t Published() const { return m_published.load(); }
    int Activations() const { return m_activations.load(); }
    int Deactivations() const { return m_deactivations.load(); }
    // Publishes one frame now (benchmarks drive the camera themselves with fps 0).
    void PublishOne();

private:
    const std::string m_document;
    const int32_t m_id;
    const std::string m_name;
    const int32_t m_width, m_height;
    const bool m_noise;
    std::vector<uint8_t> m_frame;
    std::atomic<int32_t> m_state{0};
    std::atomic<int64_t> m_published{0};
    std::atomic<int> m_activations{0}, m_deactivations{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    uint32_t m_seed = 12345;
};

// Runs the process's message dispatcher (the user interface thread's calls) on a thread.
class CUiThread {
public:
    CUiThread();
    ~CUiThread();

private:
    std::thread m_thread;
};

struct CHttpReply {
    long status = 0;
    std::string body;
    std::multimap<std::string, std::string> headers; // names in lower case
    std::string Header(const std::string& name) const;
};

CHttpReply HttpRequest(const std::string& method, const std::string& url, const std::string& body = {},
                       const std::vector<std::string>& headers = {});

// A raw HTTP/1.1 GET on a socket; returns the socket (or -1).
int RawGet(int port, const std::string& path, const std::string& extraHeaders);
// Reads from a socket until count parts of the MJPEG stream arrived or the time is up; the number.
int ReadStreamParts(int socket, int count, std::chrono::milliseconds limit, std::string* lastJpeg = nullptr);
// Width and height from a JPEG's start-of-frame; false when there is none.
bool JpegSize(const std::string& jpeg, int& width, int& height);

// A server on loopback over a fresh user database with the admin "alice" and the viewer "bob".
class CWebFixtureServer {
public:
    explicit CWebFixtureServer(const std::function<void(CWebServerOptions&)>& adjust = {});
    ~CWebFixtureServer();
    std::string Url(const std::string& rel) const { return m_server.GetUrl() + rel; }
    CWebServer& Server() { return m_server; }
    const std::string& Dir() const { return m_dir; }
    // Logs in; the cookie header line ("Cookie: tavrix_session=...") and the CSRF token.
    bool Login(const std::string& user, const std::string& password, std::string& cookie, std::string& csrf);

    static constexpr const char* kAdminPassword = "alice-secret-1";
    static constexpr const char* kViewerPassword = "bob-secret-22";

private:
    std::string m_dir;
    CWebServer m_server;
};

std::string MakeWebTempDir();
void RemoveTree(const std::string& dir);
// Waits for the condition with a generous limit (the machine is shared and slow).
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::seconds(30));
