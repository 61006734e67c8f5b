#pragma once
// CLiveFeeds: the live pictures of the web interface. Listens to the camera hub's frames and keeps,
// per camera that someone watches, one feed: frames are taken at most at the stream's rate while
// the feed has viewers or a snapshot is wanted, copied on the camera's streaming thread (nothing
// more happens there), and encoded by the feed's own worker thread: ONE JPEG per frame, shared by
// every viewer of that camera. Each encoded frame is handed to the frame sink (the web server),
// which fans it out to its clients.
//
// Threads: OnCameraFrame on the cameras' streaming threads; the rest from any thread; the sink is
// called on a feed's worker thread.
// Locks: m_lock (the feed map) -> CLiveFeed::m_lock; neither is held while calling the sink.

#include "camera/CameraHub.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One encoded frame of a camera.
struct CLiveFrame {
    std::string key;                         // the feed's key: document title + "\n" + camera id
    std::shared_ptr<const std::string> part; // the multipart/x-mixed-replace part: headers + JPEG
    std::shared_ptr<const std::string> jpeg; // the reduced JPEG alone
    std::shared_ptr<const std::string> full; // a full-size JPEG when a snapshot was wanted, else null
    int64_t frameUnixMs = 0;                 // when the camera delivered the frame
    int64_t frameSteadyNs = 0;               // the same on the steady clock (latency figures)
};

struct CLiveFeedOptions {
    int32_t maxWidth = 640; // stream frames at most this wide
    int32_t fps = 10;       // and at most this often
    int quality = 70;
};

class CLiveFeed {
public:
    using Sink = std::function<void(const std::shared_ptr<const CLiveFrame>&)>;
    CLiveFeed(std::string key, ICameraControl* camera, int32_t cameraId, const CLiveFeedOptions& options,
              Sink sink);
    ~CLiveFeed();
    CLiveFeed(const CLiveFeed&) = delete;
    CLiveFeed& operator=(const CLiveFeed&) = delete;

    void AddViewer();
    void RemoveViewer();
    // The next frame is also encoded at full size (CLiveFrame::full).
    void WantSnapshot();
    // Streaming thread: copies the frame when it is due.
    void OnFrame(const CCameraFrameNote& note);
    bool Matches(const CCameraFrameNote& note) const;
    std::shared_ptr<const CLiveFrame> Latest() const;
    int64_t EncodedFrames() const;
    int64_t DroppedFrames() const;

    static constexpr const char* kBoundary = "tavrixframe";

private:
    void Work();
    void EncodeAndPublish(const std::vector<uint8_t>& bgr, int32_t width, int32_t height, int64_t unixMs,
                          int64_t steadyNs, bool full);

    const std::string m_key;
    ICameraControl* const m_camera;
    const int32_t m_cameraId;
    const CLiveFeedOptions m_options;
    const Sink m_sink;

    mutable std::mutex m_lock; // guards everything below
    std::condition_variable m_wake;
    bool m_stopping = false;
    int m_viewers = 0;
    bool m_snapshotWanted = false;
    int64_t m_nextDueNs = 0;
    bool m_hasPending = false;
    bool m_pendingFull = false;
    std::vector<uint8_t> m_pending; // tightly packed BGR
    int32_t m_pendingWidth = 0;
    int32_t m_pendingHeight = 0;
    int64_t m_pendingUnixMs = 0;
    int64_t m_pendingSteadyNs = 0;
    std::shared_ptr<const CLiveFrame> m_latest;
    int64_t m_encoded = 0;
    int64_t m_dropped = 0;
    std::thread m_worker;
};

class CLiveFeeds : public ICameraHubListener {
public:
    CLiveFeeds(const CLiveFeedOptions& options, CLiveFeed::Sink sink);
    ~CLiveFeeds();
    CLiveFeeds(const CLiveFeeds&) = delete;
    CLiveFeeds& operator=(const CLiveFeeds&) = delete;

    static std::string Key(const std::string& document, int32_t cameraId);
    // The feed of a registered camera (created on first use); null when no such camera runs.
    std::shared_ptr<CLiveFeed> Feed(const std::string& document, int32_t cameraId);
    std::shared_ptr<CLiveFeed> Find(const std::string& key) const;
    // Frames encoded by every feed.
    int64_t EncodedFrames() const;

    void OnCameraFrame(const CCameraFrameNote& note) override;

private:
    const CLiveFeedOptions m_options;
    const CLiveFeed::Sink m_sink;
    mutable std::mutex m_lock; // guards m_feeds
    std::map<std::string, std::shared_ptr<CLiveFeed>> m_feeds;
    std::map<ICameraControl*, std::shared_ptr<CLiveFeed>> m_byCamera;
};
