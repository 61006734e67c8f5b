#include "web/LiveFeeds.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "web/JpegEncoder.h"

#include <chrono>
#include <cstring>

namespace {

int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

CLiveFeed::CLiveFeed(std::string key, ICameraControl* camera, int32_t cameraId,
                     const CLiveFeedOptions& options, Sink sink)
    : m_key(std::move(key)), m_camera(camera), m_cameraId(cameraId), m_options(options),
      m_sink(std::move(sink)) {
    m_worker = std::thread([this] { Work(); });
}

CLiveFeed::~CLiveFeed() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_worker.join();
}

void CLiveFeed::AddViewer() {
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_viewers;
}

void CLiveFeed::RemoveViewer() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_viewers > 0) {
        --m_viewers;
    }
}

void CLiveFeed::WantSnapshot() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_snapshotWanted = true;
}

bool CLiveFeed::Matches(const CCameraFrameNote& note) const {
    return note.camera == m_camera && note.camera->GetCameraId() == m_cameraId;
}

std::shared_ptr<const CLiveFrame> CLiveFeed::Latest() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_latest;
}

int64_t CLiveFeed::EncodedFrames() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_encoded;
}

int64_t CLiveFeed::DroppedFrames() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dropped;
}

void CLiveFeed::OnFrame(const CCameraFrameNote& note) {
    if (note.width <= 0 || note.height <= 0) {
        return;
    }
    const int64_t now = SteadyNs();
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_viewers == 0 && !m_snapshotWanted) {
        return;
    }
    const int64_t interval = 1000000000LL / std::max<int32_t>(1, m_options.fps);
    if (!m_snapshotWanted && now < m_nextDueNs) {
        return;
    }
    int32_t stride = 0;
    const uint8_t* bgr = note.Bgr(&stride); // a YUV camera's frame is converted only now
    if (bgr == nullptr || stride < note.width * 3) {
        return;
    }
    m_nextDueNs = std::max(m_nextDueNs + interval, now);
    if (m_hasPending) {
        ++m_dropped; // the worker has not taken the one before: the newer replaces it
    }
    const size_t rowBytes = static_cast<size_t>(note.width) * 3;
    m_pending.resize(rowBytes * static_cast<size_t>(note.height));
    for (int32_t y = 0; y < note.height; ++y) {
        std::memcpy(m_pending.data() + rowBytes * static_cast<size_t>(y),
                    bgr + static_cast<size_t>(stride) * static_cast<size_t>(y), rowBytes);
    }
    m_pendingWidth = note.width;
    m_pendingHeight = note.height;
    m_pendingUnixMs = note.unixTimeMs;
    m_pendingSteadyNs = now;
    m_pendingFull = m_pendingFull || m_snapshotWanted;
    m_snapshotWanted = false;
    m_hasPending = true;
    m_wake.notify_one();
}

void CLiveFeed::Work() {
    std::vector<uint8_t> working;
    for (;;) {
        int32_t width = 0;
        int32_t height = 0;
        int64_t unixMs = 0;
        int64_t steadyNs = 0;
        bool full = false;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_wake.wait(lock, [this] { return m_stopping || m_hasPending; });
            if (m_stopping) {
                return;
            }
            working.swap(m_pending);
            width = m_pendingWidth;
            height = m_pendingHeight;
            unixMs = m_pendingUnixMs;
            steadyNs = m_pendingSteadyNs;
            full = m_pendingFull;
            m_pendingFull = false;
            m_hasPending = false;
        }
        try {
            EncodeAndPublish(working, width, height, unixMs, steadyNs, full);
        } catch (const CBaseException& e) {
            TRACE("CLiveFeed::Work() %s: frame not encoded: %s", m_key.c_str(), e.GetMessage().c_str());
        }
    }
}

void CLiveFeed::EncodeAndPublish(const std::vector<uint8_t>& bgr, int32_t width, int32_t height,
                                 int64_t unixMs, int64_t steadyNs, bool full) {
    int32_t outWidth = 0;
    int32_t outHeight = 0;
    JpegEncoder::FitSize(width, height, m_options.maxWidth, outWidth, outHeight);
    auto frame = std::make_shared<CLiveFrame>();
    frame->key = m_key;
    frame->frameUnixMs = unixMs;
    frame->frameSteadyNs = steadyNs;
    auto jpeg = std::make_shared<std::string>(
        JpegEncoder::Encode(bgr.data(), width, height, width * 3, outWidth, outHeight, m_options.quality));
    if (full) {
        frame->full = (outWidth == width && outHeight == height)
                          ? jpeg
                          : std::make_shared<const std::string>(
                                JpegEncoder::Encode(bgr.data(), width, height, width * 3, width, height, 85));
    }
    auto part = std::make_shared<std::string>();
    part->reserve(jpeg->size() + 128);
    *part += "--";
    *part += kBoundary;
    *part += "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(jpeg->size()) + "\r\n\r\n";
    *part += *jpeg;
    *part += "\r\n";
    frame->jpeg = std::move(jpeg);
    frame->part = std::move(part);
    std::shared_ptr<const CLiveFrame> published = frame;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_latest = published;
        ++m_encoded;
    }
    if (m_sink) {
        m_sink(published);
    }
}

// ---- CLiveFeeds ----

CLiveFeeds::CLiveFeeds(const CLiveFeedOptions& options, CLiveFeed::Sink sink)
    : m_options(options), m_sink(std::move(sink)) {
    CCameraHub::Instance().Subscribe(this, true);
}

CLiveFeeds::~CLiveFeeds() {
    // Returns once no frame is being delivered to this listener.
    CCameraHub::Instance().Unsubscribe(this);
    std::map<std::string, std::shared_ptr<CLiveFeed>> feeds;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        feeds.swap(m_feeds);
        m_byCamera.clear();
    }
    feeds.clear(); // joins the workers, outside the lock
}

std::string CLiveFeeds::Key(const std::string& document, int32_t cameraId) {
    return document + "\n" + std::to_string(cameraId);
}

std::shared_ptr<CLiveFeed> CLiveFeeds::Feed(const std::string& document, int32_t cameraId) {
    ICameraControl* found = nullptr;
    std::string title;
    CCameraHub::Instance().WithCamera(document, cameraId, [&](ICameraControl& camera) {
        found = &camera;
        title = camera.GetDocumentName();
    });
    if (found == nullptr) {
        return nullptr;
    }
    const std::string key = Key(title, cameraId);
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_feeds.find(key);
    if (it != m_feeds.end() && m_byCamera.count(found) != 0 && m_byCamera[found] == it->second) {
        return it->second;
    }
    // A new camera under this key (the document was reopened): a new feed for it.
    auto feed = std::make_shared<CLiveFeed>(key, found, cameraId, m_options, m_sink);
    if (it != m_feeds.end()) {
        for (auto byCamera = m_byCamera.begin(); byCamera != m_byCamera.end();) {
            byCamera = byCamera->second == it->second ? m_byCamera.erase(byCamera) : std::next(byCamera);
        }
    }
    m_feeds[key] = feed;
    m_byCamera[found] = feed;
    return feed;
}

std::shared_ptr<CLiveFeed> CLiveFeeds::Find(const std::string& key) const {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_feeds.find(key);
    return it == m_feeds.end() ? nullptr : it->second;
}

void CLiveFeeds::OnCameraFrame(const CCameraFrameNote& note) {
    std::shared_ptr<CLiveFeed> feed;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        auto it = m_byCamera.find(note.camera);
        if (it == m_byCamera.end()) {
            return;
        }
        feed = it->second;
    }
    if (feed->Matches(note)) {
        feed->OnFrame(note);
    }
}

int64_t CLiveFeeds::EncodedFrames() const {
    std::lock_guard<std::mutex> lock(m_lock);
    int64_t total = 0;
    for (const auto& [key, feed] : m_feeds) {
        total += feed->EncodedFrames();
    }
    return total;
}
