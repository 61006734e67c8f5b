#pragma once
// CRecordingLibrary: keeps the recordings catalogue up to date while Tavrix runs. It listens to
// the camera hub: a Record Begin adds a row "being written", the frames of the recording give its
// thumbnail (the frame with the most changed pixels, else the first one), Motion Start events give
// the moments of motion, and the Record Finish completes the row with what the file holds. At its
// start it reconciles the catalogue with the disk; it applies each open document's retention when
// the document's cameras first appear, after each recording and at least every hour.
//
// Threads: the hub delivers on camera threads, document threads and the user-interface thread;
// those deliveries only copy what they need under m_captureLock and queue the work. Every
// catalogue write, file probe, JPEG encoding and retention pass runs on the library's own worker
// thread. Start and Stop run on the thread that owns the application (the user-interface thread).
// Locks: m_captureLock and m_queueLock are independent and innermost; neither is held while
// calling out (the catalogue has its own lock, taken on the worker only).

#include "camera/CameraHub.h"
#include "library/RecordingCatalogue.h"
#include "library/Retention.h"
#include "library/Thumbnail.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class CRecordingLibrary : public ICameraHubListener {
public:
    struct COptions {
        std::string userDbPath;
        CRetention::FreeSpaceProbe freeSpaceProbe = CRetention::StatvfsFreeBytes;
        int retentionIntervalMs = 3600 * 1000;
        int probeTimeoutMs = 10000;
        CCameraHub* hub = nullptr; // null: the process's hub
    };

    static constexpr const char* kRecoveredFormat = "Recording '%s' was left unfinished by an earlier run: "
                                                    "catalogued with %lld s";

    explicit CRecordingLibrary(COptions options);
    ~CRecordingLibrary();
    CRecordingLibrary(const CRecordingLibrary&) = delete;
    CRecordingLibrary& operator=(const CRecordingLibrary&) = delete;

    // Opens the catalogue and starts listening and the worker (which reconciles first). False,
    // with the reason in error, when the catalogue cannot be opened; the program runs on without.
    bool Start(std::string* error = nullptr);
    // Stops listening, finishes the queued work and ends the worker. Recordings still open are
    // finished with what their files hold.
    void Stop();
    // Until the worker has nothing left to do (tests, the command line).
    void WaitIdle();

    // Reconciles a catalogue with the disk: missing files marked, rows left "being written" by a
    // process that is gone finished and logged, files that came back marked finished. Returns the
    // number of rows changed. Any thread but the catalogue's users must not race on the same rows.
    static int Reconcile(CRecordingCatalogue& catalogue, int probeTimeoutMs = 10000);
    // Completes a row from its file (size, duration, frames, codec); end is the finish time.
    static void CompleteFromFile(CRecording& row, int64_t endUtcMs, int probeTimeoutMs);

    // ICameraHubListener
    void OnCameraEvent(const CCameraEventNote& note) override;
    void OnCameraState(const CCameraStateNote& note) override;
    void OnCameraFrame(const CCameraFrameNote& note) override;

private:
    // A camera's recording in progress and what was seen of the camera before it.
    struct CCapture {
        bool recording = false;
        std::string filePath;
        int64_t beginUtcMs = 0;
        std::string lastEvent;
        int64_t lastMotionStartMs = 0;
        std::vector<int64_t> motionUtcMs;
        CSmallPicture best;
        int32_t bestCount = -2; // below every count: the first frame is taken
    };
    struct CFinished {
        std::string documentPath;
        std::string filePath;
        int64_t endUtcMs = 0;
        std::vector<int64_t> motionUtcMs;
        CSmallPicture best;
    };

    static std::string Key(const std::string& documentPath, int32_t cameraId);
    void OnRecordBegin(const CCameraEventNote& note);
    void OnRecordFinish(const CCameraEventNote& note);
    void Post(std::function<void()> work);
    void Run();
    // Worker thread:
    void WriteBegin(CRecording row);
    void WriteFinish(const CFinished& finished);
    void ApplyRetention(const std::string& documentPath);

    COptions m_options;
    CCameraHub& m_hub;
    CRecordingCatalogue m_catalogue;
    bool m_subscribed = false;

    std::mutex m_captureLock; // guards m_captures, m_documents; innermost
    std::map<std::string, CCapture> m_captures;
    std::set<std::string> m_documents; // documents whose cameras were seen in this run
    std::atomic<int> m_recordingCount{0};

    std::mutex m_queueLock; // guards m_queue, m_stop, m_busy; innermost
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_queue;
    bool m_stop = false;
    bool m_busy = false;
    std::thread m_worker;

    bool m_failureLogged = false; // worker only
};
