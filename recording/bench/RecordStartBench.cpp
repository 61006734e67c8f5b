// Time from a record context's StartRecord to its recording pipeline playing and to the first
// frame reaching the file writer (goal: under 300 ms), for a 640x480 camera at 25 frames a second
// with 2 s of pre-event frames, in each file format. The stop of every recording is not timed.
//
// Counters: to_playing_ms (StartRecord until Record Begin, which the context raises once its
// pipeline plays) and to_first_frame_ms (until the first frame reached the writer;
// the iteration time). Recordings go into a temporary folder that is removed afterwards.

#include "grabber/VideoFormat.h"
#include "recording/PreEventBuffer.h"
#include "recording/RecContextHost.h"
#include "recording/RecordContext.h"
#include "recording/TavrixElements.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;
constexpr REFERENCE_TIME kFrameTime = 400000;
constexpr int32_t kPreEventFrames = 50;

class CBenchHost : public IRecContextHost {
public:
    CBenchHost(const std::string& folder, CRecordSettings settings)
        : m_folder(folder), m_settings(std::move(settings)), m_buffer(kPreEventFrames),
          m_feeder([this] { Feed(); }) {
        while (m_frames.load() < kPreEventFrames + 1) {
            std::this_thread::sleep_for(5ms);
        }
    }
    ~CBenchHost() {
        m_stop.store(true);
        m_feeder.join();
    }

    int32_t GetFrameWidth() override { return kWidth; }
    int32_t GetFrameHeight() override { return kHeight; }
    int32_t GetFrameStride() override { return BgrRowStride(kWidth); }
    REFERENCE_TIME GetFrameDuration() override { return kFrameTime; }
    CPreEventBuffer* GetPreEventBuffer() override { return &m_buffer; }
    std::string GetDocumentName() override { return "Bench"; }
    std::string GetCameraName() override { return "BenchCam"; }
    std::string GetRecordPath() override { return m_folder; }
    CRecordSettings GetRecordSettings() override { return m_settings; }
    std::string GetRecordFileName() override { return m_settings.wmvActive ? "bench.wmv" : "bench.avi"; }
    // Record Begin comes once the pipeline plays.
    void RaiseCameraEvent(int32_t kind, const std::string&) override {
        if (kind != kEventRecordBegin) {
            return;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        m_playingAt = Clock::now();
        ++m_added;
        m_changed.notify_all();
    }
    void AddToRCSet(CRecContext*) override {}
    void RemoveFromRCSet(CRecContext*) override {
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_removed;
        m_changed.notify_all();
    }
    void AsyncRecContextFailed(CRecContext*) override {
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_failed;
        m_changed.notify_all();
    }
    void DxEventRec(CRecContext* rc, long code, LONG_PTR, LONG_PTR) override {
        if (code == EC_ERRORABORT) {
            rc->ForceStopRecord();
        }
    }

    // Waits until `added` recordings started (true) or one failed (false).
    bool WaitForAdded(int added, Clock::time_point* at) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [&] { return m_added >= added || m_failed > 0; });
        *at = m_playingAt;
        return m_failed == 0;
    }
    void WaitForRemoved(int removed) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [&] { return m_removed >= removed || m_failed > 0; });
    }

private:
    void Feed() {
        std::vector<uint8_t> frame(static_cast<size_t>(BgrRowStride(kWidth)) * kHeight);
        auto next = Clock::now();
        for (int32_t n = 0; !m_stop.load(); ++n) {
            std::memset(frame.data(), n & 0xFF, frame.size());
            CMediaSample sample(frame.data(), static_cast<int32_t>(frame.size()));
            if (n > 0) {
                m_buffer.SetLastSampleDuration(kFrameTime);
            }
            m_buffer.AddSample(&sample);
            m_frames.fetch_add(1);
            next += 40ms;
            std::this_thread::sleep_until(next);
        }
    }

    const std::string m_folder;
    const CRecordSettings m_settings;
    CPreEventBuffer m_buffer;
    std::atomic<bool> m_stop{false};
    std::atomic<int32_t> m_frames{0};
    std::mutex m_lock;
    std::condition_variable m_changed;
    Clock::time_point m_playingAt;
    int m_added = 0;
    int m_removed = 0;
    int m_failed = 0;
    std::thread m_feeder;
};

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void BM_RecordStart(benchmark::State& state, CRecordSettings settings) {
    InitGStreamer();
    char folderTemplate[] = "/tmp/tavrix-recbench-XXXXXX";
    if (mkdtemp(folderTemplate) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string folder = folderTemplate;
    double toPlaying = 0;
    double toFirstFrame = 0;
    {
        CBenchHost host(folder, settings);
        int recordings = 0;
        for (auto _ : state) {
            auto* rc = new CRecContext(&host);
            const Clock::time_point start = Clock::now();
            rc->StartRecord();
            Clock::time_point playing;
            if (!host.WaitForAdded(recordings + 1, &playing)) {
                state.SkipWithError("the recording failed to start");
                break;
            }
            while (rc->GetFramesWritten() == 0) {
                std::this_thread::sleep_for(100us);
            }
            const Clock::time_point firstFrame = Clock::now();
            state.SetIterationTime(std::chrono::duration<double>(firstFrame - start).count());
            toPlaying += Ms(playing - start);
            toFirstFrame += Ms(firstFrame - start);
            rc->StopRecord();
            host.WaitForRemoved(++recordings);
            while (CRecContext::GetInstanceCount() > 0) {
                std::this_thread::sleep_for(1ms);
            }
            for (const auto& entry : std::filesystem::directory_iterator(folder)) {
                std::filesystem::remove(entry.path());
            }
        }
        if (recordings > 0) {
            state.counters["to_playing_ms"] = toPlaying / recordings;
            state.counters["to_first_frame_ms"] = toFirstFrame / recordings;
        }
    }
    std::filesystem::remove_all(folder);
}

CRecordSettings Avi(const char* compressor) {
    CRecordSettings settings;
    settings.wmvActive = false;
    settings.compressorDN = compressor;
    return settings;
}

CRecordSettings Wmv() {
    CRecordSettings settings;
    settings.wmvActive = true;
    settings.codec = 0;
    settings.bitRate = 1024;
    return settings;
}

BENCHMARK_CAPTURE(BM_RecordStart, avi_uncompressed, Avi(""))
    ->UseManualTime()
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RecordStart, avi_jpegenc, Avi("jpegenc"))
    ->UseManualTime()
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RecordStart, wmv2, Wmv())->UseManualTime()->Iterations(8)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
