// Cost of one trace call with tracing off (one flag test) and on (formatting on the caller's stack,
// one uncontended lock, a copy into the thread's buffer).

#include "foundation/Tracer.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace {

const std::filesystem::path kDir = std::filesystem::temp_directory_path() / "tavrix-tracer-bench";

void StartTracing(const benchmark::State&) {
    std::filesystem::create_directories(kDir);
    setenv("TAVRIX_TRACE", "yes", 1);
    CTracer::Instance().SetFilePrefixForTesting((kDir / "bench.trace.").string());
    CTracer::Instance().Start();
}

void StopTracing(const benchmark::State&) {
    CTracer::Instance().Stop();
    std::filesystem::remove_all(kDir);
}

void BM_TraceDisabled(benchmark::State& state) {
    for (auto _ : state) {
        TRACE("CCameraView::OnStateChange() called %d", 42);
    }
}
BENCHMARK(BM_TraceDisabled);

void BM_TraceEnabled(benchmark::State& state) {
    for (auto _ : state) {
        TRACE("CPreEventBufferIterator::AddedOneSample() enter (%p)", static_cast<void*>(&state));
    }
}
BENCHMARK(BM_TraceEnabled)->Setup(StartTracing)->Teardown(StopTracing)->Threads(1)->Threads(2);

} // namespace

BENCHMARK_MAIN();
