// What a recording costs per camera, with the pre-event buffer keeping its frames as BGR (as
// before) or as I420 (as a camera view keeps them now), in one run side by side:
//
// - BM_BufferFrame: appending one frame to a full buffer, the cost every frame pays while the
//   camera is idle (a copy of the BGR frame, or its conversion to I420); CPU time per frame.
// - BM_RecordFrame: the whole cost of recording one frame at 1920x1080 (buffering, the source,
//   conversion, encoding and writing, on every thread of the process), for WMV and MP4;
//   counters cpu_ms_per_frame and core_percent_at_25fps, and of it buffering_ms_per_frame (what
//   an idle camera pays as well) and recording_ms_per_frame (what recording adds). The painting
//   of the test frames is not counted.
// - BM_PreEventMemory: the bytes a 10 s window of 1920x1080 at 25 frames a second takes
//   (measured on 1 s of frames, times ten): counter mb_per_10s.
// - BM_MotionToWriter: a camera at 25 frames a second with a full window; the recording starts
//   with the motion frame. Counters motion_to_writer_ms (the motion frame reaches the multiplexer
//   or the WMV writer: the whole backlog before it is encoded), catch_up_ms (the recording has
//   caught up with the live frames; -1 when it falls behind the camera for 20 s), backlog_speed
//   (frames of backlog encoded per frame time), motion_to_disk_ms (the file on the disk holds the
//   motion frame whole: the file's size, watched every millisecond, passes the end of the motion
//   frame's data as ffprobe finds it in the finished file) and live_add_max_ms (the longest the camera's
//   thread took to hand a live frame to the buffer while the backlog was being encoded: the
//   camera is never held up by the recording).

#include "grabber/VideoFormat.h"
#include "recording/I420Frame.h"
#include "recording/PreEventBuffer.h"
#include "recording/RecContextHost.h"
#include "recording/RecordContainer.h"
#include "recording/RecordContext.h"
#include "recording/TavrixElements.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr REFERENCE_TIME kFrameTime = 400000; // 25 frames a second
enum class EMode { Bgr, I420 };

double CpuMs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// A still scene (a gradient) with a square moving across it, as a camera sees a passer-by.
class CScene {
public:
    CScene(int32_t width, int32_t height)
        : m_width(width), m_height(height), m_stride(BgrRowStride(width)),
          m_background(static_cast<size_t>(m_stride) * height), m_frame(m_background.size()) {
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width * 3; ++x) {
                m_background[static_cast<size_t>(y) * m_stride + x] =
                    static_cast<uint8_t>((x / 3 + y) / 8 + x % 3 * 40);
            }
        }
    }
    const uint8_t* Paint(int32_t n) {
        std::memcpy(m_frame.data(), m_background.data(), m_frame.size());
        const int32_t side = m_height / 8;
        const int32_t left = (n * 16) % std::max(1, m_width - side);
        const int32_t top = m_height / 2;
        for (int32_t y = top; y < top + side; ++y) {
            std::memset(m_frame.data() + static_cast<size_t>(y) * m_stride + 3 * left, 230, 3 * side);
        }
        return m_frame.data();
    }
    int32_t Stride() const { return m_stride; }
    int32_t Bytes() const { return static_cast<int32_t>(m_frame.size()); }

private:
    const int32_t m_width;
    const int32_t m_height;
    const int32_t m_stride;
    std::vector<uint8_t> m_background;
    std::vector<uint8_t> m_frame;
};

void AddFrame(CPreEventBuffer& buffer, EMode mode, const uint8_t* bgr, int32_t width, int32_t height) {
    buffer.SetLastSampleDuration(kFrameTime);
    if (mode == EMode::I420) {
        buffer.AddBgrFrameAsI420(bgr, width, height, BgrRowStride(width));
    } else {
        CMediaSample sample(const_cast<uint8_t*>(bgr), BgrRowStride(width) * height);
        buffer.AddSample(&sample);
    }
}

class CCostHost : public IRecContextHost {
public:
    CCostHost(int32_t width, int32_t height, int32_t window, CRecordSettings settings)
        : m_width(width), m_height(height), m_settings(std::move(settings)), m_buffer(window) {
        char folder[] = "/tmp/tavrix-costbench-XXXXXX";
        m_folder = mkdtemp(folder) != nullptr ? folder : "/tmp";
        m_buffer.SetMemoryCap(int64_t{4} << 30);
    }
    ~CCostHost() {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    int32_t GetFrameWidth() override { return m_width; }
    int32_t GetFrameHeight() override { return m_height; }
    int32_t GetFrameStride() override { return BgrRowStride(m_width); }
    REFERENCE_TIME GetFrameDuration() override { return kFrameTime; }
    CPreEventBuffer* GetPreEventBuffer() override { return &m_buffer; }
    std::string GetDocumentName() override { return "Bench"; }
    std::string GetCameraName() override { return "BenchCam"; }
    std::string GetRecordPath() override { return m_folder; }
    CRecordSettings GetRecordSettings() override { return m_settings; }
    std::string GetRecordFileName() override {
        return "bench." + RecordFileExtension(m_settings.recordContainer, m_settings.wmvActive);
    }
    void RaiseCameraEvent(int32_t kind, const std::string& file) override {
        if (kind == kEventRecordBegin) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_file = file;
        }
    }
    std::string File() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_file;
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
    // False when the recording failed. beforeRemoval sees the finished files before they go.
    bool WaitForEnd(const std::function<void()>& beforeRemoval = nullptr) {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [&] { return m_removed > 0 || m_failed > 0; });
        const bool ok = m_failed == 0;
        m_removed = 0;
        lock.unlock();
        while (CRecContext::GetInstanceCount() > 0) {
            std::this_thread::sleep_for(1ms);
        }
        if (beforeRemoval) {
            beforeRemoval();
        }
        for (const auto& entry : std::filesystem::directory_iterator(m_folder)) {
            std::filesystem::remove(entry.path());
        }
        return ok;
    }
    bool Failed() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_failed > 0;
    }
    CPreEventBuffer& Buffer() { return m_buffer; }

private:
    const int32_t m_width;
    const int32_t m_height;
    const CRecordSettings m_settings;
    CPreEventBuffer m_buffer;
    std::string m_folder;
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_removed = 0;
    int m_failed = 0;
    std::string m_file;
};

// Runs a command and returns what it printed.
std::string Output(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        output.append(chunk, n);
    }
    pclose(pipe);
    return output;
}

// The file offset up to which the finished file must be on the disk for video frame `index`
// (0-based) to be whole there: its packet's end, or for ASF, whose frames run across packets of
// 3200 bytes, the end of the packet in which the next frame begins. The containers written here
// keep the frames where they were first written, so the offsets hold for the growing file too.
int64_t FrameEndOffset(const std::string& file, long index, bool asf) {
    const std::string packets = Output("ffprobe -v quiet -select_streams v:0 -show_entries packet=pos,size "
                                       "-of compact=p=0:nk=0 '" +
                                       file + "' 2>/dev/null");
    std::vector<std::pair<int64_t, int64_t>> found; // pos, size
    size_t at = 0;
    while (at < packets.size()) {
        const size_t end = packets.find('\n', at);
        const std::string line = packets.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? packets.size() : end + 1;
        const size_t size = line.find("size=");
        const size_t pos = line.find("pos=");
        if (size != std::string::npos && pos != std::string::npos) {
            found.emplace_back(std::atoll(line.c_str() + pos + 4), std::atoll(line.c_str() + size + 5));
        }
    }
    if (index < 0 || static_cast<size_t>(index) + 1 >= found.size()) {
        return -1;
    }
    return asf ? found[index + 1].first + 3200 : found[index].first + found[index].second;
}

// Watches the size of the host's record file on the disk (every written byte is in the file
// system once its write call returns; the writers here write unbuffered or flush per packet).
class CDiskWatcher {
public:
    explicit CDiskWatcher(CCostHost& host)
        : m_thread([this, &host] {
              int64_t last = -1;
              while (!m_stop.load()) {
                  const std::string file = host.File();
                  struct stat status {};
                  if (!file.empty() && stat(file.c_str(), &status) == 0 && status.st_size != last) {
                      last = status.st_size;
                      m_sizes.emplace_back(Clock::now(), last);
                  }
                  std::this_thread::sleep_for(1ms);
              }
          }) {}
    ~CDiskWatcher() { Stop(); }
    void Stop() {
        m_stop.store(true);
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    // When the file first reached `bytes` (after Stop); none when it never did.
    Clock::time_point Reached(int64_t bytes) const {
        for (const auto& [time, size] : m_sizes) {
            if (bytes >= 0 && size >= bytes) {
                return time;
            }
        }
        return {};
    }

private:
    std::atomic<bool> m_stop{false};
    std::vector<std::pair<Clock::time_point, int64_t>> m_sizes;
    std::thread m_thread;
};

CRecordSettings Wmv() {
    CRecordSettings settings;
    settings.wmvActive = true;
    settings.bitRate = 4000;
    return settings;
}

CRecordSettings Mp4() {
    CRecordSettings settings;
    settings.recordContainer = static_cast<int32_t>(ERecordContainer::Mp4);
    settings.bitRate = 0;
    return settings;
}

void BM_BufferFrame(benchmark::State& state, EMode mode, int32_t width, int32_t height) {
    CScene scene(width, height);
    CPreEventBuffer buffer(25);
    buffer.SetMemoryCap(int64_t{4} << 30);
    const uint8_t* frame = scene.Paint(1);
    for (int i = 0; i < 30; ++i) {
        AddFrame(buffer, mode, frame, width, height);
    }
    for (auto _ : state) {
        const double start = CpuMs(CLOCK_THREAD_CPUTIME_ID);
        AddFrame(buffer, mode, frame, width, height);
        state.SetIterationTime((CpuMs(CLOCK_THREAD_CPUTIME_ID) - start) / 1e3);
    }
}

void BM_RecordFrame(benchmark::State& state, EMode mode, CRecordSettings settings) {
    InitGStreamer();
    constexpr int32_t kWidth = 1920;
    constexpr int32_t kHeight = 1080;
    constexpr int32_t kFrames = 75;
    CScene scene(kWidth, kHeight);
    CCostHost host(kWidth, kHeight, 2, settings);
    double cpuPerFrame = 0;
    double bufferingPerFrame = 0;
    int recordings = 0;
    for (auto _ : state) {
        int32_t n = 0;
        for (; n < 2; ++n) {
            AddFrame(host.Buffer(), mode, scene.Paint(n), kWidth, kHeight);
        }
        double painting = 0;
        double buffering = 0;
        const double start = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
        auto* rc = new CRecContext(&host);
        rc->StartRecord();
        for (; n < kFrames && !host.Failed(); ++n) {
            // A camera's pace as far as the recording keeps up: at most two frames ahead.
            while (rc->GetFramesWritten() + 2 < n && !host.Failed()) {
                std::this_thread::sleep_for(1ms);
            }
            const double paintStart = CpuMs(CLOCK_THREAD_CPUTIME_ID);
            const uint8_t* frame = scene.Paint(n);
            const double addStart = CpuMs(CLOCK_THREAD_CPUTIME_ID);
            painting += addStart - paintStart;
            AddFrame(host.Buffer(), mode, frame, kWidth, kHeight);
            buffering += CpuMs(CLOCK_THREAD_CPUTIME_ID) - addStart;
        }
        while (rc->GetFramesWritten() + 1 < n && !host.Failed()) {
            std::this_thread::sleep_for(1ms);
        }
        const int64_t written = rc->GetFramesWritten();
        rc->StopRecord();
        if (!host.WaitForEnd() || written <= 0) {
            state.SkipWithError("the recording failed");
            return;
        }
        const double perFrame =
            (CpuMs(CLOCK_PROCESS_CPUTIME_ID) - start - painting) / static_cast<double>(written);
        state.SetIterationTime(perFrame / 1e3);
        cpuPerFrame += perFrame;
        bufferingPerFrame += buffering / static_cast<double>(n - 2);
        ++recordings;
    }
    state.counters["cpu_ms_per_frame"] = cpuPerFrame / recordings;
    state.counters["core_percent_at_25fps"] = cpuPerFrame / recordings * 25 / 10;
    // Of it, what the camera pays while idle too (handing each frame to the buffer), and what
    // recording adds to that.
    state.counters["buffering_ms_per_frame"] = bufferingPerFrame / recordings;
    state.counters["recording_ms_per_frame"] = (cpuPerFrame - bufferingPerFrame) / recordings;
}

void BM_PreEventMemory(benchmark::State& state, EMode mode) {
    constexpr int32_t kWidth = 1920;
    constexpr int32_t kHeight = 1080;
    CScene scene(kWidth, kHeight);
    int64_t held = 0;
    for (auto _ : state) {
        CPreEventBuffer buffer(25); // 1 s at 25 frames a second
        buffer.SetMemoryCap(int64_t{4} << 30);
        for (int32_t n = 0; n < 25; ++n) {
            AddFrame(buffer, mode, scene.Paint(n), kWidth, kHeight);
        }
        held = buffer.GetHeldBytes();
    }
    state.counters["mb_per_10s"] = static_cast<double>(held) * 10 / 1e6;
}

void BM_MotionToWriter(benchmark::State& state, EMode mode, int32_t width, int32_t height, int32_t seconds,
                       CRecordSettings settings) {
    InitGStreamer();
    const int32_t window = seconds * 25;
    CScene scene(width, height);
    double toWriter = 0;
    double toDisk = 0;
    double catchUp = 0;
    double liveAddMax = 0;
    int recordings = 0;
    for (auto _ : state) {
        CCostHost host(width, height, window, settings);
        auto next = Clock::now();
        int32_t n = 0;
        for (; n <= window; ++n) {
            AddFrame(host.Buffer(), mode, scene.Paint(n), width, height);
            next += 40ms;
            std::this_thread::sleep_until(next);
        }
        // The motion frame, then the recording starts as the camera view starts it.
        AddFrame(host.Buffer(), mode, scene.Paint(n++), width, height);
        const Clock::time_point motion = Clock::now();
        auto* rc = new CRecContext(&host);
        rc->StartRecord();
        CDiskWatcher disk(host);
        Clock::time_point reached{};
        Clock::time_point caughtUp{};
        const int32_t added = n;
        // Live frames go on until the recording has caught up, and for two seconds at least (the
        // motion frame must reach the disk while recording, not through the end of the recording).
        while (!host.Failed() && (caughtUp == Clock::time_point{} || n < added + 50) && n < added + 20 * 25) {
            next += 40ms;
            while (Clock::now() < next) {
                const int64_t written = rc->GetFramesWritten();
                if (reached == Clock::time_point{} && written >= window) {
                    reached = Clock::now();
                }
                if (caughtUp == Clock::time_point{} && reached != Clock::time_point{} &&
                    written >= window + (n - added)) {
                    caughtUp = Clock::now();
                }
                std::this_thread::sleep_for(1ms);
            }
            const uint8_t* frame = scene.Paint(n++);
            const Clock::time_point addStart = Clock::now();
            AddFrame(host.Buffer(), mode, frame, width, height);
            if (caughtUp == Clock::time_point{}) {
                liveAddMax = std::max(
                    liveAddMax, std::chrono::duration<double, std::milli>(Clock::now() - addStart).count());
            }
        }
        const std::string file = host.File();
        rc->StopRecord();
        Clock::time_point onDisk{};
        const bool ended = host.WaitForEnd([&] {
            disk.Stop();
            onDisk = disk.Reached(
                FrameEndOffset(file, window - 1, !settings.recordContainer && settings.wmvActive));
        });
        if (!ended || reached == Clock::time_point{} || onDisk == Clock::time_point{}) {
            state.SkipWithError("the recording failed or the motion frame never reached the writer");
            return;
        }
        toWriter += std::chrono::duration<double, std::milli>(reached - motion).count();
        toDisk += std::chrono::duration<double, std::milli>(onDisk - motion).count();
        // A recording slower than the camera never catches up: counted as -1.
        catchUp += caughtUp == Clock::time_point{}
                       ? -1.0
                       : std::chrono::duration<double, std::milli>(caughtUp - motion).count();
        ++recordings;
        state.SetIterationTime(std::chrono::duration<double>(reached - motion).count());
    }
    state.counters["motion_to_writer_ms"] = toWriter / recordings;
    state.counters["motion_to_disk_ms"] = toDisk / recordings;
    state.counters["live_add_max_ms"] = liveAddMax;
    state.counters["catch_up_ms"] = catchUp / recordings;
    // Backlog frames per frame time: above 1 the backlog is encoded faster than real time.
    state.counters["backlog_speed"] = window * 40.0 / (toWriter / recordings);
}

} // namespace

BENCHMARK_CAPTURE(BM_BufferFrame, bgr_copy_640x480, EMode::Bgr, 640, 480)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_BufferFrame, i420_640x480, EMode::I420, 640, 480)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_BufferFrame, bgr_copy_1080p, EMode::Bgr, 1920, 1080)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_BufferFrame, i420_1080p, EMode::I420, 1920, 1080)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_CAPTURE(BM_RecordFrame, wmv_from_bgr_1080p, EMode::Bgr, Wmv())
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RecordFrame, wmv_from_i420_1080p, EMode::I420, Wmv())
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RecordFrame, mp4_from_bgr_1080p, EMode::Bgr, Mp4())
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RecordFrame, mp4_from_i420_1080p, EMode::I420, Mp4())
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(BM_PreEventMemory, bgr_1080p25, EMode::Bgr)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PreEventMemory, i420_1080p25, EMode::I420)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(BM_MotionToWriter, mp4_640x480_2s, EMode::I420, 640, 480, 2, Mp4())
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MotionToWriter, mp4_640x480_10s, EMode::I420, 640, 480, 10, Mp4())
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MotionToWriter, wmv_640x480_2s, EMode::I420, 640, 480, 2, Wmv())
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MotionToWriter, mp4_1080p_2s, EMode::I420, 1920, 1080, 2, Mp4())
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MotionToWriter, mp4_1080p_10s, EMode::I420, 1920, 1080, 10, Mp4())
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MotionToWriter, wmv_1080p_2s, EMode::I420, 1920, 1080, 2, Wmv())
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
