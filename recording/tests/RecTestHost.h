#pragma once
// A real host for record contexts, as a camera view is one: a real pre-event buffer fed at camera
// rate by a thread that generates BGR frames carrying their frame number in sixteen 16x16 blocks
// (readable after lossy compression), a record folder, record settings, and a log of everything
// the record contexts tell their host. Plus helpers that read recorded files back with ffprobe and
// ffmpeg, the tools a user would check a recording with.

#include "grabber/VideoFormat.h"
#include "persistence/NotificationLog.h"
#include "recording/PreEventBuffer.h"
#include "recording/RecContextHost.h"
#include "recording/RecordContext.h"
#include "recording/tests/GstTestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace rectest {

using namespace std::chrono_literals;

constexpr int kNumberBits = 16;
constexpr int kBlock = 16; // pixels of one number block
constexpr int kNumberTop = 8;

// Paints frame number n into a BGR frame: white blocks for 1 bits in a band near the top, the rest
// a moving gradient with a little noise that changes with n (so that encoders have something to
// spend bits on, more the more they may spend).
inline void PaintFrame(std::vector<uint8_t>& frame, int32_t width, int32_t height, int32_t n, bool noise) {
    const int32_t stride = BgrRowStride(width);
    std::mt19937 random(static_cast<uint32_t>(n) * 2654435761u);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = frame.data() + static_cast<size_t>(y) * stride;
        for (int32_t x = 0; x < width * 3; ++x) {
            const int gradient = 64 + ((x / 3 + y + 4 * n) % 128);
            row[x] = noise ? static_cast<uint8_t>(gradient + static_cast<int>(random() % 24)) : 96;
        }
    }
    for (int bit = 0; bit < kNumberBits; ++bit) {
        const uint8_t value = ((n >> bit) & 1) != 0 ? 255 : 0;
        for (int y = kNumberTop; y < kNumberTop + kBlock && y < height; ++y) {
            uint8_t* row = frame.data() + static_cast<size_t>(y) * stride;
            for (int x = bit * kBlock; x < (bit + 1) * kBlock && x < width; ++x) {
                row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = value;
            }
        }
    }
}

// Reads the frame number from a grey picture (one byte a pixel, width bytes a row).
inline int32_t ReadNumber(const uint8_t* grey, int32_t width) {
    int32_t n = 0;
    const int y = kNumberTop + kBlock / 2;
    for (int bit = 0; bit < kNumberBits; ++bit) {
        const int x = bit * kBlock + kBlock / 2;
        if (x >= width) {
            break; // a narrow picture carries the low bits only
        }
        if (grey[static_cast<size_t>(y) * width + x] > 128) {
            n |= 1 << bit;
        }
    }
    return n;
}

// How a feeder hands its frames to the pre-event buffer: copied as BGR, or converted to I420 as a
// camera view keeps them.
enum class EFeed { Bgr, I420 };

// The camera side: frames into the pre-event buffer at a steady rate.
class CFrameFeeder {
public:
    CFrameFeeder(CPreEventBuffer& buffer, int32_t width, int32_t height, std::chrono::milliseconds interval,
                 bool noise = true, EFeed feed = EFeed::Bgr)
        : m_buffer(buffer), m_width(width), m_height(height), m_interval(interval), m_noise(noise),
          m_feed(feed), m_thread([this] { Run(); }) {}
    ~CFrameFeeder() { Stop(); }
    void Stop() {
        m_stop.store(true);
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    // The number of the newest frame in the buffer (-1 before the first).
    int32_t Last() const { return m_last.load(); }
    void WaitForFrame(int32_t n) const {
        while (m_last.load() < n) {
            std::this_thread::sleep_for(1ms);
        }
    }

private:
    void Run() {
        std::vector<uint8_t> frame(static_cast<size_t>(BgrRowStride(m_width)) * m_height);
        auto next = std::chrono::steady_clock::now();
        for (int32_t n = 0; !m_stop.load(); ++n) {
            PaintFrame(frame, m_width, m_height, n, m_noise);
            CMediaSample sample(frame.data(), static_cast<int32_t>(frame.size()));
            if (n > 0) {
                m_buffer.SetLastSampleDuration(
                    std::chrono::duration_cast<std::chrono::microseconds>(m_interval).count() * 10);
            }
            if (m_feed == EFeed::I420) {
                m_buffer.AddBgrFrameAsI420(frame.data(), m_width, m_height, BgrRowStride(m_width));
            } else {
                m_buffer.AddSample(&sample);
            }
            m_last.store(n);
            next += m_interval;
            std::this_thread::sleep_until(next);
        }
    }

    CPreEventBuffer& m_buffer;
    const int32_t m_width;
    const int32_t m_height;
    const std::chrono::milliseconds m_interval;
    const bool m_noise;
    const EFeed m_feed;
    std::atomic<bool> m_stop{false};
    std::atomic<int32_t> m_last{-1};
    std::thread m_thread;
};

struct CHostEvent {
    CRecContext* rc;
    long code;
    LONG_PTR param1;
    LONG_PTR param2;
};

class CTestHost : public IRecContextHost {
public:
    CTestHost(int32_t width, int32_t height, REFERENCE_TIME frameDuration, int32_t preEventFrames)
        : m_width(width), m_height(height), m_frameDuration(frameDuration), m_buffer(preEventFrames) {
        char folder[] = "/tmp/tavrix-rec-XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            ADD_FAILURE() << "no temporary folder";
        }
        m_folder = folder;
        m_recordPath = m_folder;
    }
    ~CTestHost() {
        EXPECT_TRUE(WaitForNoContexts(20000)) << "a record context did not delete itself";
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    // ---- IRecContextHost ----
    int32_t GetFrameWidth() override { return m_width; }
    int32_t GetFrameHeight() override { return m_height; }
    int32_t GetFrameStride() override { return BgrRowStride(m_width); }
    REFERENCE_TIME GetFrameDuration() override { return m_frameDuration; }
    CPreEventBuffer* GetPreEventBuffer() override { return &m_buffer; }
    std::string GetDocumentName() override { return "RecDoc"; }
    std::string GetCameraName() override { return "RecCam"; }
    std::string GetRecordPath() override {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_recordPath;
    }
    CRecordSettings GetRecordSettings() override {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_settings;
    }
    std::string GetRecordFileName() override {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_fileName;
    }
    void RaiseCameraEvent(int32_t kind, const std::string& eventString) override {
        Called("RaiseCameraEvent");
        if (kind == kEventRecordBegin) {
            m_lastAtBegin.store(m_feederLast ? m_feederLast() : -1);
        }
        std::lock_guard<std::mutex> lock(m_lock);
        m_raised.emplace_back(kind, eventString);
        m_changed.notify_all();
    }
    void AddToRCSet(CRecContext* rc) override {
        Called("AddToRCSet");
        std::lock_guard<std::mutex> lock(m_setLock);
        m_active.insert(rc);
        ++m_added;
    }
    void RemoveFromRCSet(CRecContext* rc) override {
        Called("RemoveFromRCSet");
        {
            std::lock_guard<std::mutex> lock(m_setLock);
            m_removed += static_cast<int>(m_active.erase(rc));
        }
        std::lock_guard<std::mutex> lock(m_lock);
        m_changed.notify_all();
    }
    void AsyncRecContextFailed(CRecContext*) override {
        Called("AsyncRecContextFailed");
        std::lock_guard<std::recursive_mutex> cameraLock(m_cameraLock);
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_failures;
        m_changed.notify_all();
    }
    void DxEventRec(CRecContext* rc, long code, LONG_PTR param1, LONG_PTR param2) override {
        Called("DxEventRec");
        std::lock_guard<std::recursive_mutex> cameraLock(m_cameraLock);
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_events.push_back({rc, code, param1, param2});
            m_changed.notify_all();
        }
        // As the camera view does: a failed recording is stopped at once.
        if (code == EC_ERRORABORT && m_forceStopOnError) {
            rc->ForceStopRecord();
        }
    }

    // ---- test side ----
    CPreEventBuffer& Buffer() { return m_buffer; }
    const std::string& Folder() const { return m_folder; }
    void SetRecordPath(const std::string& path) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_recordPath = path;
    }
    void SetSettings(const CRecordSettings& settings) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_settings = settings;
    }
    void SetFileName(const std::string& name) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_fileName = name;
    }
    void SetFeeder(const CFrameFeeder* feeder) {
        m_feederLast = [feeder] { return feeder->Last(); };
    }
    void SetForceStopOnError(bool on) { m_forceStopOnError = on; }
    // The host's record-context set lock, held as the camera view holds it while it force-stops
    // every context: no context can leave the set meanwhile.
    std::mutex& SetLock() { return m_setLock; }

    int Added() const { return m_added.load(); }
    int Removed() const { return m_removed.load(); }
    int Failures() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_failures;
    }
    // The newest frame when the recording raised Record Begin (its iterator was open then).
    int32_t LastFrameAtBegin() const { return m_lastAtBegin.load(); }
    // The camera view's lock: held by the view while it starts and stops recordings, taken by
    // the failure report and the event handler.
    std::recursive_mutex& CameraLock() { return m_cameraLock; }
    // Every call the contexts made, in order.
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(m_callLock);
        return m_calls;
    }
    std::vector<std::pair<int32_t, std::string>> Raised() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_raised;
    }
    std::vector<CHostEvent> Events() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_events;
    }

    // Waits until `removed` contexts have left the set (their files are complete then) or
    // `failures` starts have failed.
    bool WaitForRemoved(int removed, uint32_t timeoutMs = 20000) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_removed.load() >= removed; });
    }
    bool WaitForFailures(int failures, uint32_t timeoutMs = 20000) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_failures >= failures; });
    }
    bool WaitForEvent(long code, uint32_t timeoutMs = 20000) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (const CHostEvent& event : m_events) {
                if (event.code == code) {
                    return true;
                }
            }
            return false;
        });
    }
    // Every record context has deleted itself.
    static bool WaitForNoContexts(uint32_t timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (CRecContext::GetInstanceCount() > 0) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    // The files in the record folder.
    std::vector<std::string> Files() const {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder)) {
            files.push_back(entry.path().string());
        }
        return files;
    }

private:
    const int32_t m_width;
    const int32_t m_height;
    const REFERENCE_TIME m_frameDuration;
    CPreEventBuffer m_buffer;
    std::string m_folder;

    std::mutex m_lock; // everything below except the set
    std::condition_variable m_changed;
    std::string m_recordPath;
    CRecordSettings m_settings;
    std::string m_fileName = "RecCam_test.avi";
    std::vector<std::pair<int32_t, std::string>> m_raised;
    std::vector<CHostEvent> m_events;
    int m_failures = 0;
    std::atomic<bool> m_forceStopOnError{true};
    std::function<int32_t()> m_feederLast;

    std::mutex m_setLock; // never held together with m_lock
    std::set<CRecContext*> m_active;
    std::atomic<int> m_added{0};
    std::atomic<int> m_removed{0};
    std::atomic<int32_t> m_lastAtBegin{-1};

    std::recursive_mutex m_cameraLock; // taken before m_lock
    std::mutex m_callLock;             // innermost
    std::vector<std::string> m_calls;

    void Called(const char* what) {
        std::lock_guard<std::mutex> lock(m_callLock);
        m_calls.emplace_back(what);
    }
};

// ---- reading recordings back ----

inline std::string RunCommand(const std::string& command, int* exitCode = nullptr) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        output.append(chunk, n);
    }
    const int status = pclose(pipe);
    if (exitCode != nullptr) {
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return output;
}

struct CProbe {
    int exitCode = -1;
    std::string formatName;
    std::string codecName;
    int width = 0;
    int height = 0;
    long frames = -1; // frames ffprobe decoded
};

// ffprobe -count_frames: decodes every frame of the first video stream.
inline CProbe Probe(const std::string& file) {
    CProbe probe;
    const std::string output =
        RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                   "stream=codec_name,width,height,nb_read_frames:format=format_name -of default=nw=1 '" +
                       file + "' 2>/dev/null",
                   &probe.exitCode);
    size_t position = 0;
    while (position < output.size()) {
        const size_t end = output.find('\n', position);
        const std::string line = output.substr(position, end - position);
        position = end == std::string::npos ? output.size() : end + 1;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "codec_name") {
            probe.codecName = value;
        } else if (key == "format_name") {
            probe.formatName = value;
        } else if (key == "width") {
            probe.width = std::atoi(value.c_str());
        } else if (key == "height") {
            probe.height = std::atoi(value.c_str());
        } else if (key == "nb_read_frames") {
            probe.frames = std::atol(value.c_str());
        }
    }
    return probe;
}

// Decodes every frame with ffmpeg (no frame dropped or repeated for timing) and reads the frame
// numbers painted into them.
inline std::vector<int32_t> ReadFrameNumbers(const std::string& file, int32_t width, int32_t height) {
    const std::string grey = RunCommand("ffmpeg -v error -i '" + file +
                                        "' -fps_mode passthrough -f rawvideo -pix_fmt gray - 2>/dev/null");
    std::vector<int32_t> numbers;
    const size_t frameBytes = static_cast<size_t>(width) * height;
    for (size_t offset = 0; offset + frameBytes <= grey.size(); offset += frameBytes) {
        numbers.push_back(ReadNumber(reinterpret_cast<const uint8_t*>(grey.data()) + offset, width));
    }
    return numbers;
}

// Whether the numbers run first, first + 1, ... without a gap or a repeat.
inline ::testing::AssertionResult Consecutive(const std::vector<int32_t>& numbers) {
    for (size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] != numbers[i - 1] + 1) {
            return ::testing::AssertionFailure()
                   << "frame " << i << " is number " << numbers[i] << " after " << numbers[i - 1];
        }
    }
    return ::testing::AssertionSuccess();
}

inline bool LogHas(const std::string& text) {
    for (const CLogEntry& entry : CNotificationLog::Instance().GetEntries()) {
        if (entry.text.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace rectest
