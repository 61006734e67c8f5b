#pragma once
// CRtspTestServer: a real RTSP server on loopback for the tests and the network benchmark
// (GStreamer's RTSP server library), serving generated pictures as H.264, H.265 or MJPEG streams,
// or sound only, each on its own path and optionally behind a user name and password (basic
// authentication; 401 for a wrong or missing login). By default every client gets its own stream,
// started when it connects, so that a picture like "test:motion?on=2000-3000" moves 2 s after the
// client's PLAY; a shared stream is encoded once for all its clients, as a camera does for its
// viewers (four benchmark cameras on one path cost one encoder). Stop closes every session and
// stops listening (a camera switched off); Start listens again on the same port.
//
// Threads: the server runs its own GLib main loop on a thread of its own; the methods are called
// from the test's thread and wait for the loop where needed.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CRtspTestServer {
public:
    struct CStream {
        std::string path = "/h264";
        std::string codec = "h264";        // "h264", "h265", "mjpeg" or "audio" (sound only)
        std::string picture = "test:ball"; // a display name of a test source (see CaptureSourceName.h)
        int32_t width = 320;
        int32_t height = 240;
        int32_t fps = 15;
        std::string user; // not empty: the path asks for user and password
        std::string password;
        bool shared = false;   // one stream for every client of the path
        int32_t quantizer = 0; // H.264 at this constant quantizer (a still picture decodes the
                               // same in every frame); 0: the encoder's bit rate control

        CStream WithLogin(const std::string& name, const std::string& secret) const {
            CStream copy = *this;
            copy.user = name;
            copy.password = secret;
            return copy;
        }
    };
    static CStream Stream(const std::string& path, const std::string& codec = "h264",
                          const std::string& picture = "test:ball", int32_t width = 320, int32_t height = 240,
                          int32_t fps = 15) {
        CStream stream;
        stream.path = path;
        stream.codec = codec;
        stream.picture = picture;
        stream.width = width;
        stream.height = height;
        stream.fps = fps;
        return stream;
    }

    // The paths the stream probe's tests, the camera sheet's tests and the benchmark use, at one
    // size and rate: /h264, /secure (the H.264 picture, only for kUser with kPassword), /mjpeg and
    // /audio; shared streams of videotestsrc's pattern.
    static constexpr const char* kUser = "ann";
    static constexpr const char* kPassword = "s3cr:t@x";
    static std::vector<CStream> ProbeStreams(int32_t width = 320, int32_t height = 240, int32_t fps = 25,
                                             const std::string& pattern = "ball", int32_t quantizer = 0);

    // InitGStreamer must have run. Listens once Start is called.
    explicit CRtspTestServer(std::vector<CStream> streams);
    ~CRtspTestServer();
    CRtspTestServer(const CRtspTestServer&) = delete;
    CRtspTestServer& operator=(const CRtspTestServer&) = delete;

    // Listens on 127.0.0.1 (the first time on a free port, later on the same one).
    void Start();
    // Closes every client and stops listening.
    void Stop();
    bool IsRunning() const;
    int32_t Port() const;
    // "rtsp://[user[:password]@]127.0.0.1:PORT/path", user and password percent-encoded (user
    // empty: none).
    std::string Url(const std::string& path, const std::string& user = {},
                    const std::string& password = {}) const;
    // Clients that have connected so far.
    int32_t GetConnectionCount() const;

private:
    struct CImpl;
    std::unique_ptr<CImpl> m_impl;
};
