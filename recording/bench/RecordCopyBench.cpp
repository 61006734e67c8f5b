// What copying an encoded stream saves, per camera at 1920x1080 and 25 frames a second, in one
// run side by side:
//
// - BM_RecordPath/copy: a recording that copies H.264 access units (a network camera's own
//   stream, or a local camera's pre-event encoder) into MP4: the record context, appsrc,
//   h264parse, mp4mux, the file. Counters cpu_ms_per_frame and core_percent_at_25fps (CPU of
//   the whole process per recorded frame), start_to_first_frame_ms (the recording is started
//   until its first frame, the oldest pre-event one, reaches the multiplexer).
// - BM_RecordPath/encode: the same frames kept raw (I420, the conversion from the camera's BGR
//   counted) and encoded by the recording (x264enc veryfast, 4 Mbit/s) into MP4. For a network
//   camera the decoding runs in both cases (motion detection needs the pictures), so the
//   difference is what a copy saves.
// - BM_PreEventMemory/raw|encoded_4mbit|encoded_quality: the bytes of a 10 s window: raw I420
//   frames, and the continuous encoder's units at 4 Mbit/s and at constant quality (a camera
//   picture with sensor noise), counted on 3 s of frames and scaled to 10 s (mb_per_10s) and to
//   the 12 s a 10 s window may hold with a key frame every 2 s (mb_worst); plus the encoder's own
//   CPU, which a camera keeping its pre-event time encoded spends all the time
//   (encoder_core_percent_at_25fps).

#include "grabber/VideoFormat.h"
#include "recording/EncodedPreEventBuffer.h"
#include "recording/PreEventBuffer.h"
#include "recording/PreEventEncoder.h"
#include "recording/RecContextHost.h"
#include "recording/RecordContainer.h"
#include "recording/RecordContext.h"
#include "recording/TavrixElements.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr REFERENCE_TIME kFrameTime = 400000; // 25 frames a second
constexpr int32_t kFrames = 75;               // 3 s

double CpuMs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// A still scene with a square moving across it and a camera sensor's noise.
class CNoisyScene {
public:
    CNoisyScene() : m_stride(BgrRowStride(kWidth)), m_frame(static_cast<size_t>(m_stride) * kHeight) {
        std::mt19937 random(7);
        for (auto& noise : m_noise) {
            noise.resize(m_frame.size());
            for (uint8_t& value : noise) {
                value = static_cast<uint8_t>(random() % 7);
            }
        }
    }
    const uint8_t* Paint(int32_t n) {
        const std::vector<uint8_t>& noise = m_noise[static_cast<size_t>(n) % 3];
        for (int32_t y = 0; y < kHeight; ++y) {
            uint8_t* row = m_frame.data() + static_cast<size_t>(y) * m_stride;
            const uint8_t* grain = noise.data() + static_cast<size_t>(y) * m_stride;
            for (int32_t x = 0; x < kWidth * 3; ++x) {
                row[x] = static_cast<uint8_t>((x / 3 + y) / 8 + x % 3 * 40 + grain[x]);
            }
        }
        const int32_t side = kHeight / 8;
        const int32_t left = (n * 16) % (kWidth - side);
        for (int32_t y = kHeight / 2; y < kHeight / 2 + side; ++y) {
            std::memset(m_frame.data() + static_cast<size_t>(y) * m_stride + 3 * left, 230, 3 * side);
        }
        return m_frame.data();
    }
    int32_t Stride() const { return m_stride; }

private:
    const int32_t m_stride;
    std::vector<uint8_t> m_frame;
    std::vector<uint8_t> m_noise[3];
};

class CCopyHost : public IRecContextHost {
public:
    CCopyHost(CRecordSettings settings, CEncodedPreEventBuffer* encoded)
        : m_settings(std::move(settings)), m_encoded(encoded), m_buffer(kFrames) {
        char folder[] = "/tmp/tavrix-copybench-XXXXXX";
        m_folder = mkdtemp(folder) != nullptr ? folder : "/tmp";
        m_buffer.SetMemoryCap(int64_t{4} << 30);
    }
    ~CCopyHost() {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    int32_t GetFrameWidth() override { return kWidth; }
    int32_t GetFrameHeight() override { return kHeight; }
    int32_t GetFrameStride() override { return BgrRowStride(kWidth); }
    REFERENCE_TIME GetFrameDuration() override { return kFrameTime; }
    CPreEventBuffer* GetPreEventBuffer() override { return &m_buffer; }
    CEncodedPreEventBuffer* GetEncodedPreEventBuffer() override { return m_encoded; }
    std::string GetDocumentName() override { return "Bench"; }
    std::string GetCameraName() override { return "BenchCam"; }
    std::string GetRecordPath() override { return m_folder; }
    CRecordSettings GetRecordSettings() override { return m_settings; }
    std::string GetRecordFileName() override { return "bench.mp4"; }
    void RaiseCameraEvent(int32_t, const std::string&) override {}
    void AddToRCSet(CRecContext*) override {}
    void RemoveFromRCSet(CRecContext*) override {
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_ended;
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
    bool WaitForEnd() {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [&] { return m_ended > 0 || m_failed > 0; });
        const bool ok = m_failed == 0;
        m_ended = 0;
        lock.unlock();
        while (CRecContext::GetInstanceCount() > 0) {
            std::this_thread::sleep_for(1ms);
        }
        for (const auto& entry : std::filesystem::directory_iterator(m_folder)) {
            std::filesystem::remove(entry.path());
        }
        return ok;
    }

private:
    const CRecordSettings m_settings;
    CEncodedPreEventBuffer* const m_encoded;
    CPreEventBuffer m_buffer;
    std::string m_folder;
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_ended = 0;
    int m_failed = 0;
};

// Encodes kFrames frames of the scene into buffer, one at a time; the process CPU per frame.
double EncodeInto(CEncodedPreEventBuffer& buffer, CNoisyScene& scene, int64_t bitsPerSecond) {
    CPreEventEncoder encoder(buffer);
    CPreEventEncoder::CSettings settings;
    settings.width = kWidth;
    settings.height = kHeight;
    settings.frameTime = kFrameTime;
    settings.bitsPerSecond = bitsPerSecond;
    settings.encoder = "x264enc";
    encoder.Start(settings);
    double cpu = 0;
    for (int32_t n = 0; n < kFrames; ++n) {
        const uint8_t* frame = scene.Paint(n);
        const double start = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
        if (!encoder.PushBgrFrame(frame, scene.Stride(), n * kFrameTime)) {
            return -1;
        }
        while (encoder.GetUnitsEncoded() < n + 1 && !encoder.HasFailed()) {
            std::this_thread::sleep_for(200us);
        }
        cpu += CpuMs(CLOCK_PROCESS_CPUTIME_ID) - start;
    }
    return encoder.HasFailed() ? -1 : cpu / kFrames;
}

CRecordSettings Mp4(int32_t kbits) {
    CRecordSettings settings;
    settings.recordContainer = static_cast<int32_t>(ERecordContainer::Mp4);
    settings.bitRate = kbits;
    settings.h264Encoder = "x264enc";
    return settings;
}

void BM_RecordPath(benchmark::State& state, bool copy) {
    InitGStreamer();
    CNoisyScene scene;
    CEncodedPreEventBuffer encoded;
    encoded.SetWindow(100 * 10000000LL);
    if (copy && EncodeInto(encoded, scene, 4000 * 1024) < 0) {
        state.SkipWithError("no H.264 encoder");
        return;
    }
    CCopyHost host(Mp4(4000), copy ? &encoded : nullptr);
    double cpuPerFrame = 0;
    double firstFrameMs = 0;
    int recordings = 0;
    for (auto _ : state) {
        double conversion = 0;
        if (!copy) {
            for (int32_t n = 0; n < kFrames; ++n) {
                const uint8_t* frame = scene.Paint(n);
                const double start = CpuMs(CLOCK_THREAD_CPUTIME_ID);
                host.GetPreEventBuffer()->SetLastSampleDuration(kFrameTime);
                host.GetPreEventBuffer()->AddBgrFrameAsI420(frame, kWidth, kHeight, scene.Stride());
                conversion += CpuMs(CLOCK_THREAD_CPUTIME_ID) - start;
            }
        }
        const double start = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
        const auto started = std::chrono::steady_clock::now();
        auto* rc = new CRecContext(&host);
        rc->StartRecord();
        while (rc->GetFramesWritten() == 0 && std::chrono::steady_clock::now() - started < 10s) {
            std::this_thread::sleep_for(100us);
        }
        firstFrameMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        rc->StopRecord(); // the stop flushes what is buffered: every frame, as fast as it goes
        if (!host.WaitForEnd()) {
            state.SkipWithError("the recording failed");
            return;
        }
        const double perFrame = (CpuMs(CLOCK_PROCESS_CPUTIME_ID) - start + conversion) / kFrames;
        state.SetIterationTime(perFrame / 1e3);
        cpuPerFrame += perFrame;
        ++recordings;
    }
    state.counters["cpu_ms_per_frame"] = cpuPerFrame / recordings;
    state.counters["core_percent_at_25fps"] = cpuPerFrame / recordings * 25 / 10;
    state.counters["start_to_first_frame_ms"] = firstFrameMs / recordings;
}

enum class EMemory { Raw, Encoded4Mbit, EncodedQuality };

void BM_PreEventMemory(benchmark::State& state, EMemory kind) {
    InitGStreamer();
    CNoisyScene scene;
    int64_t held = 0;
    double seconds = 0;
    double encoderCpu = 0;
    for (auto _ : state) {
        if (kind == EMemory::Raw) {
            CPreEventBuffer buffer(kFrames);
            buffer.SetMemoryCap(int64_t{4} << 30);
            for (int32_t n = 0; n < kFrames; ++n) {
                buffer.SetLastSampleDuration(kFrameTime);
                buffer.AddBgrFrameAsI420(scene.Paint(n), kWidth, kHeight, scene.Stride());
            }
            held = buffer.GetHeldBytes();
            seconds = kFrames * kFrameTime / 1e7;
        } else {
            CEncodedPreEventBuffer buffer;
            buffer.SetWindow(100 * 10000000LL);
            encoderCpu = EncodeInto(buffer, scene, kind == EMemory::Encoded4Mbit ? 4000 * 1024 : 0);
            if (encoderCpu < 0) {
                state.SkipWithError("no H.264 encoder");
                return;
            }
            held = buffer.GetHeldBytes();
            seconds = kFrames * kFrameTime / 1e7;
        }
    }
    state.counters["mb_per_10s"] = static_cast<double>(held) / seconds * 10 / 1e6;
    if (kind != EMemory::Raw) {
        state.counters["mb_worst"] = static_cast<double>(held) / seconds * 12 / 1e6;
        state.counters["encoder_core_percent_at_25fps"] = encoderCpu * 25 / 10;
    }
}

} // namespace

BENCHMARK_CAPTURE(BM_RecordPath, copy, true)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RecordPath, encode, false)
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PreEventMemory, raw, EMemory::Raw)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PreEventMemory, encoded_4mbit, EMemory::Encoded4Mbit)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PreEventMemory, encoded_quality, EMemory::EncodedQuality)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
