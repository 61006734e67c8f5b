// Cost of appending one 640x480 BGR frame to a full pre-event buffer (2 s at 25 frames a second)
// with 0, 1 and 3 iterators open, each drained by a reader thread as a recording's source element
// drains it.
//
// BM_AddSample is the camera's steady state: between two frames the readers catch up (a camera
// delivers a frame every 33-40 ms, a reader copies one in well under a millisecond), and only
// AddSample itself is timed. Its counter allocs_per_frame counts the heap allocations AddSample
// makes; it must stay 0. BM_AddSampleFreeRunning appends back to back while the readers race for
// the same frames: the worst case of lock contention, where readers fall behind, the list grows
// (overruns allocate new elements) and forced reuse takes frames from them.

#include "recording/PreEventBuffer.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <new>
#include <thread>
#include <vector>

namespace {

thread_local bool t_countAllocations = false;
std::atomic<int64_t> g_allocations{0};

} // namespace

// Counting allocations on the writer's thread needs the global allocation functions replaced.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
    if (t_countAllocations) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    if (t_countAllocations) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
    return std::malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;
constexpr int32_t kFrameBytes = kWidth * kHeight * 3;
constexpr int32_t kBufferFrames = 50;

class CReaders {
public:
    CReaders(CPreEventBuffer& buffer, int count) : m_buffer(buffer) {
        for (int r = 0; r < count; ++r) {
            CPreEventBufferIterator* it = buffer.StartIterator();
            m_iterators.push_back(it);
            m_threads.emplace_back([it, this] {
                std::vector<uint8_t> out(kFrameBytes);
                for (;;) {
                    CMediaSample target(out.data(), kFrameBytes);
                    REFERENCE_TIME duration = -1;
                    it->GetSample(&target, &duration);
                    if (duration == -1) {
                        return;
                    }
                    m_delivered.fetch_add(1, std::memory_order_relaxed);
                }
            });
        }
    }
    ~CReaders() {
        for (CPreEventBufferIterator* it : m_iterators) {
            it->AbortIterator();
        }
        for (std::thread& t : m_threads) {
            t.join();
        }
        for (CPreEventBufferIterator* it : m_iterators) {
            m_buffer.StopIterator(it);
        }
    }
    void WaitUntilCaughtUp() {
        for (CPreEventBufferIterator* it : m_iterators) {
            while (it->GetSamplesToGet() > 0) {
                std::this_thread::yield();
            }
        }
    }
    double DeliveredPerFrame(int64_t frames) const {
        return m_iterators.empty() ? 0.0
                                   : static_cast<double>(m_delivered.load()) / static_cast<double>(frames) /
                                         static_cast<double>(m_iterators.size());
    }

private:
    CPreEventBuffer& m_buffer;
    std::vector<CPreEventBufferIterator*> m_iterators;
    std::vector<std::thread> m_threads;
    std::atomic<int64_t> m_delivered{0};
};

double ThreadCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void FillAndRecycle(CPreEventBuffer& buffer, CMediaSample& sample) {
    for (int32_t i = 0; i < kBufferFrames + 1; ++i) {
        buffer.AddSample(&sample); // fill and recycle once: steady state from here on
    }
}

void BM_AddSample(benchmark::State& state) {
    CPreEventBuffer buffer(kBufferFrames);
    std::vector<uint8_t> frame(kFrameBytes, 0x40);
    CMediaSample sample(frame.data(), kFrameBytes);
    FillAndRecycle(buffer, sample);
    CReaders readers(buffer, static_cast<int>(state.range(0)));
    readers.WaitUntilCaughtUp();

    int64_t allocations = 0;
    double threadCpuSeconds = 0;
    for (auto _ : state) {
        g_allocations.store(0);
        t_countAllocations = true;
        const double cpuStart = ThreadCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        buffer.SetLastSampleDuration(400000);
        buffer.AddSample(&sample);
        const auto stop = std::chrono::steady_clock::now();
        threadCpuSeconds += ThreadCpuSeconds() - cpuStart;
        t_countAllocations = false;
        allocations += g_allocations.load();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
        readers.WaitUntilCaughtUp();
    }
    // CPU time of the capture thread inside AddSample: unlike the wall time, not inflated when
    // other processes take the machine's cores.
    state.counters["thread_cpu_us"] =
        benchmark::Counter(threadCpuSeconds * 1e6 / static_cast<double>(state.iterations()));
    state.SetBytesProcessed(state.iterations() * kFrameBytes);
    state.counters["allocs_per_frame"] =
        benchmark::Counter(static_cast<double>(allocations) / static_cast<double>(state.iterations()));
    state.counters["delivered_per_frame"] = benchmark::Counter(readers.DeliveredPerFrame(state.iterations()));
}

void BM_AddSampleFreeRunning(benchmark::State& state) {
    CPreEventBuffer buffer(kBufferFrames);
    std::vector<uint8_t> frame(kFrameBytes, 0x40);
    CMediaSample sample(frame.data(), kFrameBytes);
    FillAndRecycle(buffer, sample);
    CReaders readers(buffer, static_cast<int>(state.range(0)));
    readers.WaitUntilCaughtUp();
    for (auto _ : state) {
        buffer.SetLastSampleDuration(400000);
        buffer.AddSample(&sample);
    }
    state.SetBytesProcessed(state.iterations() * kFrameBytes);
    state.counters["delivered_per_frame"] = benchmark::Counter(readers.DeliveredPerFrame(state.iterations()));
    state.counters["list_frames"] = benchmark::Counter(buffer.GetCurrentSize());
}

} // namespace

BENCHMARK(BM_AddSample)->ArgName("iterators")->Arg(0)->Arg(1)->Arg(3)->UseManualTime();
BENCHMARK(BM_AddSampleFreeRunning)->ArgName("iterators")->Arg(0)->Arg(1)->Arg(3)->UseRealTime();

BENCHMARK_MAIN();
