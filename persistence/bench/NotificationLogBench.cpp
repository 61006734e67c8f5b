// AddEntry throughput with 1 and 8 threads adding at once (cameras' frame threads, record threads
// and chain threads all log), with the default capacity so that every add also drops the oldest
// entry, and with one listener registered as the shells register theirs.

#include "persistence/NotificationLog.h"

#include <benchmark/benchmark.h>

#include <atomic>

namespace {

CNotificationLog g_log;
std::atomic<uint64_t> g_heard{0};

void Setup(const benchmark::State&) {
    static const int listener =
        g_log.AddListener([](const CLogEntry&) { g_heard.fetch_add(1, std::memory_order_relaxed); });
    (void)listener;
}

void BM_AddEntry(benchmark::State& state) {
    const std::string camera = "Camera_" + std::to_string(state.thread_index());
    for (auto _ : state) {
        g_log.AddEntry("Office", camera, "Changed state to Recording");
    }
    state.counters["entries/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AddEntry)->Setup(Setup)->Threads(1)->Threads(8)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
