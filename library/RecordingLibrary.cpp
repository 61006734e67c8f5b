#include "library/RecordingLibrary.h"

#include "foundation/ErrorReport.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "library/MediaProbe.h"
#include "persistence/NotificationLog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace {

// How far before a Record Begin a Motion Start still counts as the recording's first motion.
constexpr int64_t kMotionBeforeBeginMs = 60000;

std::string ProcessName(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

// Whether the process that wrote a row still runs as this program.
bool WriterRuns(int32_t pid) {
    if (pid <= 0 || pid == ::getpid()) {
        return false;
    }
    if (::kill(pid, 0) != 0 && errno != EPERM) {
        return false;
    }
    return ProcessName(pid) == ProcessName(::getpid());
}

} // namespace

CRecordingLibrary::CRecordingLibrary(COptions options)
    : m_options(std::move(options)),
      m_hub(m_options.hub != nullptr ? *m_options.hub : CCameraHub::Instance()) {}

CRecordingLibrary::~CRecordingLibrary() {
    Stop();
}

bool CRecordingLibrary::Start(std::string* error) {
    try {
        m_catalogue.Open(m_options.userDbPath);
    } catch (const CUserDbEx& e) {
        TRACE("CRecordingLibrary::Start() no catalogue: %s", e.First().info.c_str());
        if (error != nullptr) {
            *error = e.First().info;
        }
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_stop = false;
    }
    m_worker = std::thread([this] { Run(); });
    Post([this] {
        const int changed = Reconcile(m_catalogue, m_options.probeTimeoutMs);
        TRACE("CRecordingLibrary reconciled the catalogue: %d row(s) changed", changed);
    });
    m_hub.Subscribe(this, true);
    m_subscribed = true;
    return true;
}

void CRecordingLibrary::Stop() {
    if (m_subscribed) {
        m_hub.Unsubscribe(this);
        m_subscribed = false;
    }
    if (!m_worker.joinable()) {
        return;
    }
    // Recordings whose finish never came (a camera that failed while recording) are finished with
    // what their files hold.
    std::vector<CFinished> open;
    {
        std::lock_guard<std::mutex> lock(m_captureLock);
        for (auto& [key, capture] : m_captures) {
            if (capture.recording) {
                CFinished finished;
                finished.documentPath = key.substr(0, key.rfind('\n'));
                finished.filePath = capture.filePath;
                finished.endUtcMs = CCameraHub::NowUnixMs();
                finished.motionUtcMs = capture.motionUtcMs;
                finished.best = std::move(capture.best);
                open.push_back(std::move(finished));
                capture.recording = false;
            }
        }
        m_recordingCount.store(0);
    }
    for (CFinished& finished : open) {
        Post([this, finished = std::move(finished)] { WriteFinish(finished); });
    }
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_worker.join();
    m_catalogue.Close();
}

void CRecordingLibrary::WaitIdle() {
    std::unique_lock<std::mutex> lock(m_queueLock);
    m_idle.wait(lock, [this] { return (m_queue.empty() && !m_busy) || !m_worker.joinable(); });
}

void CRecordingLibrary::Post(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_queue.push_back(std::move(work));
    }
    m_wake.notify_one();
}

void CRecordingLibrary::Run() {
    auto nextRetention =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_options.retentionIntervalMs);
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock<std::mutex> lock(m_queueLock);
            m_busy = false;
            if (m_queue.empty()) {
                m_idle.notify_all();
            }
            m_wake.wait_until(lock, nextRetention, [this] { return m_stop || !m_queue.empty(); });
            if (m_queue.empty() && m_stop) {
                m_idle.notify_all();
                return;
            }
            if (!m_queue.empty()) {
                work = std::move(m_queue.front());
                m_queue.pop_front();
                m_busy = true;
            }
        }
        try {
            if (work) {
                work();
            } else {
                nextRetention = std::chrono::steady_clock::now() +
                                std::chrono::milliseconds(m_options.retentionIntervalMs);
                std::set<std::string> documents;
                {
                    std::lock_guard<std::mutex> lock(m_captureLock);
                    documents = m_documents;
                }
                for (const std::string& document : documents) {
                    ApplyRetention(document);
                }
            }
            m_failureLogged = false;
        } catch (const CBaseException& e) {
            TRACE("CRecordingLibrary worker: %s %s", e.GetMessage().c_str(), e.First().info.c_str());
            if (!m_failureLogged) {
                m_failureLogged = true;
                ReportException(e, "", "");
            }
        } catch (const std::exception& e) {
            TRACE("CRecordingLibrary worker: %s", e.what());
        }
    }
}

std::string CRecordingLibrary::Key(const std::string& documentPath, int32_t cameraId) {
    return documentPath + "\n" + std::to_string(cameraId);
}

// ---- hub deliveries (any thread) ----

void CRecordingLibrary::OnCameraState(const CCameraStateNote& note) {
    if (note.documentPath.empty()) {
        return;
    }
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(m_captureLock);
        first = m_documents.insert(note.documentPath).second;
    }
    if (first) {
        // The document's first camera appeared: its retention runs once now.
        const std::string document = note.documentPath;
        Post([this, document] { ApplyRetention(document); });
    }
}

void CRecordingLibrary::OnCameraEvent(const CCameraEventNote& note) {
    if (note.eventName == "Record Begin") {
        OnRecordBegin(note);
        return;
    }
    if (note.eventName == "Record Finish") {
        OnRecordFinish(note);
        return;
    }
    std::lock_guard<std::mutex> lock(m_captureLock);
    CCapture& capture = m_captures[Key(note.documentPath, note.cameraId)];
    capture.lastEvent = note.eventName;
    if (note.eventName == "Motion Start") {
        capture.lastMotionStartMs = note.unixTimeMs;
        if (capture.recording) {
            capture.motionUtcMs.push_back(note.unixTimeMs);
        }
    }
}

void CRecordingLibrary::OnRecordBegin(const CCameraEventNote& note) {
    if (note.recordFile.empty()) {
        return;
    }
    CRecording row;
    row.documentPath = note.documentPath;
    row.documentName = note.documentName;
    row.cameraId = note.cameraId;
    row.cameraName = note.cameraName;
    row.filePath = note.recordFile;
    row.container = MediaProbe::ContainerOfFile(note.recordFile);
    row.startUtcMs = note.unixTimeMs;
    row.state = ERecordingState::Writing;
    row.writerPid = static_cast<int32_t>(::getpid());
    {
        std::lock_guard<std::mutex> lock(m_captureLock);
        CCapture& capture = m_captures[Key(note.documentPath, note.cameraId)];
        row.startEvent = capture.lastEvent.empty() ? note.eventName : capture.lastEvent;
        if (!capture.recording) {
            m_recordingCount.fetch_add(1);
        }
        capture.recording = true;
        capture.filePath = note.recordFile;
        capture.beginUtcMs = note.unixTimeMs;
        capture.motionUtcMs.clear();
        if (capture.lastMotionStartMs != 0 &&
            note.unixTimeMs - capture.lastMotionStartMs < kMotionBeforeBeginMs) {
            capture.motionUtcMs.push_back(capture.lastMotionStartMs);
        }
        capture.best = CSmallPicture{};
        capture.bestCount = -2;
        m_documents.insert(note.documentPath);
    }
    Post([this, row = std::move(row)]() mutable { WriteBegin(std::move(row)); });
}

void CRecordingLibrary::OnRecordFinish(const CCameraEventNote& note) {
    CFinished finished;
    finished.documentPath = note.documentPath;
    finished.filePath = note.recordFile;
    finished.endUtcMs = note.unixTimeMs;
    {
        std::lock_guard<std::mutex> lock(m_captureLock);
        CCapture& capture = m_captures[Key(note.documentPath, note.cameraId)];
        if (capture.recording) {
            m_recordingCount.fetch_sub(1);
            capture.recording = false;
            if (finished.filePath.empty()) {
                finished.filePath = capture.filePath;
            }
            finished.motionUtcMs = std::move(capture.motionUtcMs);
            finished.best = std::move(capture.best);
            capture.best = CSmallPicture{};
        }
    }
    if (finished.filePath.empty()) {
        return;
    }
    Post([this, finished = std::move(finished)] { WriteFinish(finished); });
}

void CRecordingLibrary::OnCameraFrame(const CCameraFrameNote& note) {
    if (m_recordingCount.load(std::memory_order_relaxed) == 0 || note.camera == nullptr) {
        return;
    }
    const std::string key = Key(note.camera->GetDocumentPath(), note.camera->GetCameraId());
    {
        std::lock_guard<std::mutex> lock(m_captureLock);
        const auto found = m_captures.find(key);
        if (found == m_captures.end() || !found->second.recording ||
            note.changedPixels <= found->second.bestCount) {
            return;
        }
    }
    // A better frame: shrunk outside the lock (a few thousand pixels), swapped in under it.
    int32_t stride = 0;
    const uint8_t* bgr = note.Bgr(&stride); // a YUV camera's frame is converted only now
    if (bgr == nullptr) {
        return;
    }
    CSmallPicture picture;
    Thumbnail::Shrink(bgr, note.width, note.height, stride, picture);
    std::lock_guard<std::mutex> lock(m_captureLock);
    const auto found = m_captures.find(key);
    if (found != m_captures.end() && found->second.recording &&
        note.changedPixels > found->second.bestCount) {
        found->second.best = std::move(picture);
        found->second.bestCount = note.changedPixels;
    }
}

// ---- worker thread ----

void CRecordingLibrary::WriteBegin(CRecording row) {
    row.startLocal = CRecordingCatalogue::LocalText(row.startUtcMs);
    m_catalogue.Insert(row);
}

void CRecordingLibrary::CompleteFromFile(CRecording& row, int64_t endUtcMs, int probeTimeoutMs) {
    const CMediaFacts facts = MediaProbe::Probe(row.filePath, probeTimeoutMs);
    if (row.container.empty()) {
        row.container = MediaProbe::ContainerOfFile(row.filePath);
    }
    if (!facts.codec.empty()) {
        row.codec = facts.codec;
    }
    row.sizeBytes = facts.sizeBytes;
    row.durationMs = facts.durationMs;
    if (row.durationMs <= 0 && facts.exists && row.startUtcMs > 0) {
        // Nothing readable (a file cut short): the time it was written over, at most a day.
        const int64_t written =
            (facts.modifiedUnixMs != 0 ? facts.modifiedUnixMs : endUtcMs) - row.startUtcMs;
        row.durationMs = std::clamp<int64_t>(written, 0, 86400000);
    }
    row.frames = facts.frames;
    row.endUtcMs = endUtcMs;
    row.endLocal = CRecordingCatalogue::LocalText(endUtcMs);
    row.state = facts.exists ? ERecordingState::Finished : ERecordingState::Missing;
    row.writerPid = 0;
}

void CRecordingLibrary::WriteFinish(const CFinished& finished) {
    std::optional<CRecording> row = m_catalogue.FindByPath(finished.filePath);
    if (!row) {
        TRACE("CRecordingLibrary::WriteFinish() '%s' is not catalogued", finished.filePath.c_str());
        return;
    }
    CompleteFromFile(*row, finished.endUtcMs, m_options.probeTimeoutMs);
    // The file's first frame lies its duration before the finish (the pre-event seconds included).
    const int64_t fileStart = finished.endUtcMs - row->durationMs;
    row->motionMs.clear();
    for (const int64_t moment : finished.motionUtcMs) {
        row->motionMs.push_back(std::clamp<int64_t>(moment - fileStart, 0, row->durationMs));
    }
    if (!finished.best.empty()) {
        row->thumbnail = Thumbnail::EncodeJpeg(finished.best);
    }
    m_catalogue.Update(*row);
    ApplyRetention(finished.documentPath);
}

void CRecordingLibrary::ApplyRetention(const std::string& documentPath) {
    if (documentPath.empty()) {
        return;
    }
    std::string error;
    const std::optional<CRetentionSettings> settings = CRetention::ReadDocument(documentPath, &error);
    if (!settings) {
        TRACE("CRecordingLibrary::ApplyRetention() %s", error.c_str());
        return;
    }
    CRetention retention(m_catalogue, m_options.freeSpaceProbe);
    retention.Run(*settings);
}

int CRecordingLibrary::Reconcile(CRecordingCatalogue& catalogue, int probeTimeoutMs) {
    int changed = 0;
    for (CRecording& row : catalogue.ListAll()) {
        const bool exists = MediaProbe::Stat(row.filePath).exists;
        if (row.state == ERecordingState::Writing) {
            if (WriterRuns(row.writerPid)) {
                continue; // another Tavrix writes it now
            }
            const CMediaFacts facts = MediaProbe::Stat(row.filePath);
            CompleteFromFile(row, facts.exists ? facts.modifiedUnixMs : row.startUtcMs, probeTimeoutMs);
            // A file cut short may tell less than it holds (an MP4's first fragments only): it was
            // written at least from its Record Begin to its last change.
            if (facts.exists && facts.modifiedUnixMs > row.startUtcMs) {
                row.durationMs = std::max(row.durationMs, facts.modifiedUnixMs - row.startUtcMs);
            }
            catalogue.Update(row);
            if (exists) {
                char text[1024];
                std::snprintf(text, sizeof text, kRecoveredFormat, row.filePath.c_str(),
                              static_cast<long long>(row.durationMs / 1000));
                CNotificationLog::Instance().AddEntry(row.documentName, row.cameraName, text);
            }
            ++changed;
        } else if (row.state == ERecordingState::Finished && !exists) {
            catalogue.SetState(row.id, ERecordingState::Missing);
            ++changed;
        } else if (row.state == ERecordingState::Missing && exists) {
            catalogue.SetState(row.id, ERecordingState::Finished);
            ++changed;
        }
    }
    return changed;
}
