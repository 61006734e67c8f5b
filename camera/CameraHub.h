#pragma once
// CCameraHub: where the running cameras meet the parts of Tavrix that serve them to the outside
// world (the web server, the MQTT client, the recordings catalogue). One per process.
//
// - The camera directory: every camera view registers itself for as long as it exists. The
//   directory hands out ICameraControl pointers only inside ForEachCamera / WithCamera, under the
//   hub's camera lock, so a camera cannot be destroyed while a caller uses it; the calls made there
//   must be quick. Activate and Deactivate must run on the user-interface thread: callers on other
//   threads post them with RunOnUiThread (the message dispatcher's delivering thread in both
//   shells).
// - The document directory: every open document registers itself (through its view's
//   CHubDocument) for as long as it is open. Its retention values are read and changed on the
//   user-interface thread only, so that the document's own copy in memory and its file agree: a
//   change made to the file from elsewhere would be overwritten by the document's next save.
// - Notes: listeners receive every camera event that a document raises (Activate, Motion Start,
//   Record Begin, Record Finish with its file, ...), every state change of a camera, and, when they
//   ask for them, every frame. A note is delivered on the thread that raised it, after the fact,
//   with no camera or document lock held; listeners must return quickly (copy what they need and
//   queue the work) and must not subscribe or unsubscribe from inside a delivery. Unsubscribe
//   returns once no delivery to that listener is under way any more.
//
// Threads: everything may be called from any thread, except where a method says otherwise.
// Locks: the listener lock, the camera lock and the document lock are independent and innermost; neither is
// held while a camera or document lock is taken, except that the camera views take the camera
// lock in their constructor and destructor only.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

// What the hub's users may ask of a running camera.
class ICameraControl {
public:
    // The document's title (its file name without folder and ".tvrx"), as log entries carry it.
    virtual std::string GetDocumentName() = 0;
    // The document's file, empty while the document was never saved.
    virtual std::string GetDocumentPath() = 0;
    virtual int32_t GetCameraId() const = 0;
    virtual std::string GetCameraName() = 0;
    // The state of the camera state manager (CCamViewStateMgr::k...); its name with
    // CCamViewStateMgr::GetStateName.
    virtual int32_t GetState() const = 0;
    // User-interface thread only.
    virtual bool IsActivated() const = 0;
    virtual void Activate() = 0;
    virtual void Deactivate() = 0;

protected:
    ~ICameraControl() = default;
};

// The retention values of a document ("Global.RetentionDays", "Global.RetentionMaxGiB",
// "Global.MinFreeGiB").
struct CDocumentRetention {
    int32_t days = 0;
    int32_t maxGiB = 0;
    int32_t minFreeGiB = 0;
    bool operator==(const CDocumentRetention&) const = default;
};

// What the hub's users may ask of an open document.
class IDocumentControl {
public:
    // The document's title (its file name without folder and ".tvrx").
    virtual std::string GetDocumentName() = 0;
    // The document's file, empty while the document was never saved.
    virtual std::string GetDocumentPath() = 0;
    // User-interface thread only.
    virtual CDocumentRetention GetRetention() = 0;
    // User-interface thread only: sets the values in the open document and writes them into its
    // file at once; false, with the reason in error and nothing changed, when that fails.
    virtual bool SetRetention(const CDocumentRetention& values, std::string& error) = 0;

protected:
    ~IDocumentControl() = default;
};

// A camera event as a document raised it.
struct CCameraEventNote {
    std::string documentName; // the document's title
    std::string documentPath;
    int32_t cameraId = -1;
    std::string cameraName;
    int32_t kind = 0;       // EventKind::...
    std::string eventName;  // "Motion Start", "Record Finish", ...
    std::string recordFile; // Record Begin / Record Finish: the recording; else empty
    int64_t unixTimeMs = 0; // when it was raised
};

// A camera's state change.
struct CCameraStateNote {
    std::string documentName;
    std::string documentPath;
    int32_t cameraId = -1;
    std::string cameraName;
    int32_t oldState = 0;
    int32_t newState = 0;
    std::string stateName; // the new state's name ("Idle", "Recording", ...)
    int64_t unixTimeMs = 0;
};

// A frame as the camera keeps it for recording: BGR, 3 bytes a pixel, top row first, the time and
// name stamped in, before the changed pixels and figures are drawn for the live picture. Valid only
// during the delivery: a listener copies what it needs.
struct CCameraFrameNote {
    ICameraControl* camera = nullptr; // valid during the delivery only
    const uint8_t* bgr = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    int64_t unixTimeMs = 0;
    int32_t changedPixels = -1; // the detector's count for this frame; -1 when it did not run
    bool motion = false;        // the detector reports motion
    // A frame that is not BGR (a camera that decodes to YUV) comes with bgr null and this, which
    // makes the BGR picture on the first call (on the streaming thread, during the delivery) and
    // returns it with its stride: listeners that skip the frame never pay for the conversion.
    const uint8_t* (*makeBgr)(void* context, int32_t* stride) = nullptr;
    void* makeBgrContext = nullptr;

    // The BGR picture and its stride (null when there is none).
    const uint8_t* Bgr(int32_t* bgrStride) const {
        if (bgr != nullptr || makeBgr == nullptr) {
            *bgrStride = stride;
            return bgr;
        }
        return makeBgr(makeBgrContext, bgrStride);
    }
};

class ICameraHubListener {
public:
    virtual void OnCameraEvent(const CCameraEventNote& /*note*/) {}
    virtual void OnCameraState(const CCameraStateNote& /*note*/) {}
    // Only for listeners subscribed with frames = true; on the camera's streaming thread, which
    // holds the frame meanwhile: the quicker, the better.
    virtual void OnCameraFrame(const CCameraFrameNote& /*note*/) {}

protected:
    ~ICameraHubListener() = default;
};

class CCameraHub {
public:
    static CCameraHub& Instance();

    // ---- the camera directory ----
    // Called by a camera view in its constructor and destructor.
    void RegisterCamera(ICameraControl* camera);
    void UnregisterCamera(ICameraControl* camera);
    // Calls fn for every registered camera under the camera lock, in the order of registration.
    void ForEachCamera(const std::function<void(ICameraControl&)>& fn);
    // Calls fn with the camera of that document (by title or path) and id; false when none is
    // registered.
    bool WithCamera(const std::string& document, int32_t cameraId,
                    const std::function<void(ICameraControl&)>& fn);
    // ---- the document directory ----
    void RegisterDocument(IDocumentControl* document);
    void UnregisterDocument(IDocumentControl* document);
    // Calls fn for every registered document under the document lock; the calls must be quick.
    void ForEachDocument(const std::function<void(IDocumentControl&)>& fn);
    // Calls fn, under the document lock, with the one open document whose title or path is
    // document; returns how many match (fn runs only when exactly one does).
    int WithDocument(const std::string& document, const std::function<void(IDocumentControl&)>& fn);

    // Queues fn for the user-interface thread (never waits).
    static void RunOnUiThread(std::function<void()> fn);

    // ---- notes ----
    // The listener must stay alive until Unsubscribe returned.
    void Subscribe(ICameraHubListener* listener, bool frames = false);
    void Unsubscribe(ICameraHubListener* listener);
    bool HasListeners() const { return m_listenerCount.load(std::memory_order_relaxed) > 0; }
    bool WantsFrames() const { return m_frameListenerCount.load(std::memory_order_relaxed) > 0; }

    void PublishEvent(const CCameraEventNote& note);
    void PublishState(const CCameraStateNote& note);
    void PublishFrame(const CCameraFrameNote& note);

    static int64_t NowUnixMs();

    CCameraHub() = default;
    CCameraHub(const CCameraHub&) = delete;
    CCameraHub& operator=(const CCameraHub&) = delete;

private:
    struct CListener {
        ICameraHubListener* listener;
        bool frames;
    };

    mutable std::shared_mutex m_listenerLock; // guards m_listeners; held during deliveries (shared)
    std::vector<CListener> m_listeners;
    std::atomic<int> m_listenerCount{0};
    std::atomic<int> m_frameListenerCount{0};

    std::mutex m_cameraLock; // guards m_cameras
    std::vector<ICameraControl*> m_cameras;

    std::mutex m_documentLock; // guards m_documents
    std::vector<IDocumentControl*> m_documents;
};
