#pragma once
// An RTSP server on 127.0.0.1 for the probe's tests and the network benchmark, built on GStreamer's
// RTSP server library. It serves live test pictures at the mounts:
//   /h264     H.264 (x264, a key frame every second)
//   /mjpeg    JPEG (RTP/JPEG)
//   /secure   the H.264 stream, only with the user and password given (basic authentication)
//   /audio    sound only
// at the size and rate asked for. The server runs its own GLib main loop on a thread of its own;
// Stop closes the listening socket and drops every client, as a server that goes away does, and
// Start brings it back on the same port.
//
// Threads: every member from the test's thread.

#include <gst/rtsp-server/rtsp-server.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

struct CRtspTestPicture {
    int width = 320;
    int height = 240;
    int fps = 25;
    std::string pattern = "ball"; // videotestsrc's pattern
    // H.264 at this constant quantizer (every frame of a still picture decodes the same); 0: the
    // encoder's bit rate control.
    int quantizer = 0;
};

class CLoopbackRtspServer {
public:
    using CPicture = CRtspTestPicture;
    static constexpr const char* kUser = "ann";
    static constexpr const char* kPassword = "s3cr:t@x";

    explicit CLoopbackRtspServer(CPicture picture = {});
    ~CLoopbackRtspServer();
    CLoopbackRtspServer(const CLoopbackRtspServer&) = delete;
    CLoopbackRtspServer& operator=(const CLoopbackRtspServer&) = delete;

    // Listens again after Stop, on the same port.
    void Start();
    // Closes the listening socket and every client connection.
    void Stop();

    int Port() const { return m_port; }
    // "rtsp://127.0.0.1:PORT/mount", with "user:password@" (percent-encoded) when given.
    std::string Url(const std::string& mount, const std::string& user = {},
                    const std::string& password = {}) const;

private:
    void AddMount(const std::string& mount, const std::string& launch, bool secured);

    CPicture m_picture;
    GMainContext* m_context = nullptr;
    GMainLoop* m_loop = nullptr;
    GstRTSPServer* m_server = nullptr;
    guint m_sourceId = 0;
    int m_port = 0;
    std::thread m_thread;
};
