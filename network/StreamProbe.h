#pragma once
// CStreamProbe: looks at the stream a network camera's or a video file's display name names
// (rtsp://, rtsps://, http://, https://, file:) and reports what it carries (codec, picture size,
// frame rate, the decoder GStreamer picks) or why it could not be read (unreachable, not found,
// authentication failed, not a video stream, no answer within the time allowed). The camera sheet's
// "Test" button uses it; it never blocks its caller.
//
// The probe plays the stream into a small pipeline (uridecodebin to fakesink) on a thread of its
// own until the first decoded frames arrive, then tears it down. Texts it reports name the camera
// with its password masked ("USER:****@").
//
// Threads: Start, Cancel and the destructor from one owner thread (the dialog's). The callback runs
// on the probe's own thread, once per Start that was not cancelled; it must not call back into the
// probe (post to your own thread instead). Start and the destructor wait for an earlier probe's
// thread to end after cancelling it, which takes a pipeline's teardown (milliseconds).
// m_lock guards m_bus and m_cancelled and is innermost.

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <gst/gst.h>

struct CStreamProbeResult {
    enum class Outcome {
        Ok,                   // the fields below describe the stream
        InvalidName,          // not an address the probe reads
        Unreachable,          // no connection to the host (refused, no route, unknown name)
        NotFound,             // the server or file system has nothing at that address
        AuthenticationFailed, // 401 or 403: user or password refused, or missing
        NotVideo,             // the stream holds no video that GStreamer decodes
        TimedOut,             // no picture within the time allowed
        Failed                // anything else; `detail` says what GStreamer said
    };
    Outcome outcome = Outcome::Failed;
    std::string codec;   // as GStreamer describes the encoded video ("H.264 (High Profile)")
    std::string decoder; // the decoder element chosen ("avdec_h264"); empty for raw video
    int width = 0;       // of the decoded picture
    int height = 0;
    double framesPerSecond = 0; // 0: the stream gives none and too few frames came to measure it
    std::string detail;         // the reason in words, password masked; empty for Ok
    std::chrono::milliseconds elapsed{0};

    bool IsOk() const { return outcome == Outcome::Ok; }
    // One line for the user: "H.264 (High Profile), 1920×1080, 25 frames a second (decoder
    // avdec_h264)" or "Authentication failed: ...".
    std::string Describe() const;
};

class CStreamProbe {
public:
    using Callback = std::function<void(const CStreamProbeResult&)>;
    static constexpr std::chrono::milliseconds kDefaultTimeout{8000};

    CStreamProbe() = default;
    // Cancels a probe under way and waits for its thread.
    ~CStreamProbe();
    CStreamProbe(const CStreamProbe&) = delete;
    CStreamProbe& operator=(const CStreamProbe&) = delete;

    // Starts probing displayName; an earlier probe still under way is cancelled first (its callback
    // does not run). The callback runs on the probe's thread with the result, at the latest about
    // `timeout` after Start.
    void Start(const std::string& displayName, Callback callback,
               std::chrono::milliseconds timeout = kDefaultTimeout);
    // Stops the probe under way, if any; its callback does not run.
    void Cancel();
    // Probes on the calling thread and returns the result (tools and tests).
    static CStreamProbeResult Run(const std::string& displayName,
                                  std::chrono::milliseconds timeout = kDefaultTimeout);

private:
    void Work(std::string displayName, Callback callback, std::chrono::milliseconds timeout);
    // The pipeline's bus while one runs, so that Cancel can wake the thread.
    void SetBus(GstBus* bus);

    std::mutex m_lock; // innermost
    GstBus* m_bus = nullptr;
    bool m_cancelled = false;
    std::thread m_thread;
};
