// Time per frame of the whole per-frame motion detection (grey conversion + comparison with the
// camera defaults: grey level 150, pixel count 200, one erosion pass, mask on) at 640×480 and
// 1920×1080, single-threaded, on realistic frames (sensor noise and a moving object), and the same
// work written the usual OpenCV way (cvtColor, absdiff, threshold, erode 2×2, mask, countNonZero)
// when OpenCV is present. BM_DetectionVsOpenCv runs both on the same frames in turn and reports
// the medians of their thread CPU times and their ratio side by side, for each kernel set, so that
// the load of a shared machine falls on both alike. Also the parts on their own and the popcount
// question.

#include "motion/BinaryImage.h"
#include "motion/GrayScaleImage.h"
#include "motion/ImageKernels.h"
#include "motion/MotionDetector.h"

#include <benchmark/benchmark.h>

#ifdef TAVRIX_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kFrameCount = 8;
constexpr int32_t kGreyLevelPerMille = 150;
constexpr int32_t kPixelCount = 200;

// A textured background with per-frame sensor noise (±6 per channel) and a bright object, an
// eighth of the width wide, that moves 12 pixels a frame.
struct Frames {
    Frames(int32_t w, int32_t h) : width(w), height(h), stride(w * 3) {
        std::mt19937 rng(42);
        std::vector<uint8_t> background(static_cast<size_t>(stride) * h);
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                uint8_t* p = &background[static_cast<size_t>(y) * stride + 3 * x];
                p[0] = static_cast<uint8_t>((x * 7 + y * 3) % 200 + 20);
                p[1] = static_cast<uint8_t>((x * 2 + y * 5) % 180 + 30);
                p[2] = static_cast<uint8_t>((x + y) % 160 + 40);
            }
        }
        std::uniform_int_distribution<int> noise(-6, 6);
        const int32_t objectW = w / 8, objectH = h / 4;
        for (int f = 0; f < kFrameCount; ++f) {
            std::vector<uint8_t> frame = background;
            for (auto& b : frame) {
                b = static_cast<uint8_t>(std::clamp(b + noise(rng), 0, 255));
            }
            const int32_t ox = (w / 4 + 12 * f) % (w - objectW), oy = h / 2;
            for (int32_t y = oy; y < oy + objectH; ++y) {
                for (int32_t x = ox; x < ox + objectW; ++x) {
                    uint8_t* p = &frame[static_cast<size_t>(y) * stride + 3 * x];
                    p[0] = 230;
                    p[1] = 220;
                    p[2] = 200;
                }
            }
            frames.push_back(std::move(frame));
        }
        // The mask ignores the upper left quarter.
        mask.Create(w, h);
        mask.Fill(false);
        for (int32_t y = 0; y < h / 2; ++y) {
            for (int32_t x = 0; x < w / 2; ++x) {
                mask.SetPixel(x, y, true);
            }
        }
    }
    const uint8_t* Frame(int64_t i) const { return frames[static_cast<size_t>(i % kFrameCount)].data(); }

    int32_t width, height, stride;
    std::vector<std::vector<uint8_t>> frames;
    CBinaryImage mask;
};

const Frames& FramesOf(int32_t w, int32_t h) {
    static const Frames vga(640, 480);
    static const Frames hd(1920, 1080);
    return w == 640 && h == 480 ? vga : hd;
}

void SetUpDetector(CMotionDetector& detector, const Frames& frames) {
    detector.SetGreyLevel(kGreyLevelPerMille);
    detector.SetPixelCount(kPixelCount);
    detector.SetStartDelay(0);
    detector.SetStopDelay(2000);
    detector.SetErosionLevel(1);
    detector.SetMask(frames.mask);
}

// Chooses a kernel set for one benchmark and restores the previous one afterwards.
class KernelSetScope {
public:
    KernelSetScope(benchmark::State& state, imagekernels::KernelSet set)
        : m_previous(imagekernels::ActiveKernelSet()) {
        if (!imagekernels::UseKernelSet(set)) {
            state.SkipWithError("kernel set not supported on this machine");
        }
        state.SetLabel(imagekernels::KernelSetName(set));
    }
    ~KernelSetScope() { imagekernels::UseKernelSet(m_previous); }
    KernelSetScope(const KernelSetScope&) = delete;
    KernelSetScope& operator=(const KernelSetScope&) = delete;

private:
    imagekernels::KernelSet m_previous;
};

void SizesAndKernelSets(benchmark::internal::Benchmark* b) {
    for (const auto& size : {std::pair{640, 480}, std::pair{1920, 1080}}) {
        for (auto set : {imagekernels::KernelSet::kSse2, imagekernels::KernelSet::kAvx2}) {
            b->Args({size.first, size.second, static_cast<int64_t>(set)});
        }
    }
}

// The camera view's per-frame call, with the kernel set given as the third argument.
void BM_TavrixDetection(benchmark::State& state) {
    const Frames& frames =
        FramesOf(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    KernelSetScope kernels(state, static_cast<imagekernels::KernelSet>(state.range(2)));
    CMotionDetector detector(nullptr);
    SetUpDetector(detector, frames);
    int64_t i = 0;
    int64_t counted = 0;
    for (auto _ : state) {
        auto changed = detector.ProcessFrame(frames.Frame(i++), frames.width, frames.height, frames.stride);
        benchmark::DoNotOptimize(changed.get());
        counted += detector.GetLastCount();
    }
    state.counters["lastCount"] = benchmark::Counter(static_cast<double>(counted) / static_cast<double>(i));
    state.SetItemsProcessed(i);
}
BENCHMARK(BM_TavrixDetection)->Apply(SizesAndKernelSets)->Unit(benchmark::kMicrosecond);

// The same detection on the luma plane of the same frames (BT.601 studio range, as a camera's
// decoder gives it): what a camera that decodes to YUV costs, with no BGR frame made for it.
void BM_TavrixLumaDetection(benchmark::State& state) {
    const Frames& frames =
        FramesOf(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    KernelSetScope kernels(state, static_cast<imagekernels::KernelSet>(state.range(2)));
    std::vector<std::vector<uint8_t>> lumaPlanes;
    for (int f = 0; f < kFrameCount; ++f) {
        std::vector<uint8_t> luma(static_cast<size_t>(frames.width) * static_cast<size_t>(frames.height));
        const uint8_t* bgr = frames.Frame(f);
        for (size_t i = 0; i < luma.size(); ++i) {
            const uint8_t* p = bgr + 3 * i;
            luma[i] = static_cast<uint8_t>(((66 * p[2] + 129 * p[1] + 25 * p[0] + 128) >> 8) + 16);
        }
        lumaPlanes.push_back(std::move(luma));
    }
    CMotionDetector detector(nullptr);
    SetUpDetector(detector, frames);
    int64_t i = 0;
    int64_t counted = 0;
    for (auto _ : state) {
        auto changed = detector.ProcessLuma(lumaPlanes[static_cast<size_t>(i++ % kFrameCount)].data(), frames.width,
                                            frames.height, frames.width, imagekernels::LumaRange::kStudio);
        benchmark::DoNotOptimize(changed.get());
        counted += detector.GetLastCount();
    }
    state.counters["lastCount"] = benchmark::Counter(static_cast<double>(counted) / static_cast<double>(i));
    state.SetItemsProcessed(i);
}
BENCHMARK(BM_TavrixLumaDetection)->Apply(SizesAndKernelSets)->Unit(benchmark::kMicrosecond);

void BM_TavrixGreyConversion(benchmark::State& state) {
    const Frames& frames =
        FramesOf(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    KernelSetScope kernels(state, static_cast<imagekernels::KernelSet>(state.range(2)));
    CGrayScaleImage grey;
    int64_t i = 0;
    for (auto _ : state) {
        grey.FromFrame(frames.Frame(i++), frames.width, frames.height, frames.stride);
        benchmark::DoNotOptimize(grey.GetData());
    }
}
BENCHMARK(BM_TavrixGreyConversion)->Apply(SizesAndKernelSets)->Unit(benchmark::kMicrosecond);

void BM_TavrixProcessImage(benchmark::State& state) {
    const Frames& frames =
        FramesOf(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    KernelSetScope kernels(state, static_cast<imagekernels::KernelSet>(state.range(2)));
    CMotionDetector detector(nullptr);
    SetUpDetector(detector, frames);
    std::vector<CGrayScaleImage> greys(kFrameCount);
    for (int f = 0; f < kFrameCount; ++f) {
        greys[static_cast<size_t>(f)].FromFrame(frames.Frame(f), frames.width, frames.height, frames.stride);
    }
    int64_t i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto grey = detector.MakeGreyImage();
        *grey = greys[static_cast<size_t>(i++ % kFrameCount)];
        state.ResumeTiming();
        auto changed = detector.ProcessImage(std::move(grey));
        benchmark::DoNotOptimize(changed.get());
    }
}
BENCHMARK(BM_TavrixProcessImage)->Apply(SizesAndKernelSets)->Unit(benchmark::kMicrosecond);

// Counting all bits of a dense image: the portable bit trick against the POPCNT instruction behind
// a run-time check. The detector counts at most pixelCount + 10 + 31 bits (the slider stops at
// 1000) and skips zero words, so counting is never a large part of a frame either way.
__attribute__((target("popcnt"))) int64_t CountWithPopcnt(const uint32_t* words, size_t count) {
    int64_t total = 0;
    for (size_t i = 0; i < count; ++i) {
        total += __builtin_popcount(words[i]);
    }
    return total;
}

CBinaryImage DenseImage(int32_t w, int32_t h) {
    CBinaryImage image;
    image.Create(w, h);
    std::mt19937 rng(7);
    for (size_t i = 0; i < image.WordCount(); ++i) {
        image.Words()[i] = rng();
    }
    return image;
}

void BM_CountDenseBitTrick(benchmark::State& state) {
    const CBinaryImage image = DenseImage(1920, 1080);
    for (auto _ : state) {
        benchmark::DoNotOptimize(imagekernels::CountBits(image.Words(), image.WordCount(), INT32_MAX));
    }
}
BENCHMARK(BM_CountDenseBitTrick)->Unit(benchmark::kMicrosecond);

void BM_CountDensePopcnt(benchmark::State& state) {
    if (!__builtin_cpu_supports("popcnt")) {
        state.SkipWithError("no POPCNT on this machine");
        return;
    }
    const CBinaryImage image = DenseImage(1920, 1080);
    for (auto _ : state) {
        benchmark::DoNotOptimize(CountWithPopcnt(image.Words(), image.WordCount()));
    }
}
BENCHMARK(BM_CountDensePopcnt)->Unit(benchmark::kMicrosecond);

#ifdef TAVRIX_HAVE_OPENCV

// The detection written the usual OpenCV way, on 8-bit grey images.
class OpenCvDetector {
public:
    explicit OpenCvDetector(const Frames& frames)
        : m_frames(frames), m_kernel(cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2, 2))),
          m_active(frames.height, frames.width, CV_8UC1) {
        for (int32_t y = 0; y < frames.height; ++y) {
            for (int32_t x = 0; x < frames.width; ++x) {
                m_active.at<uint8_t>(y, x) = frames.mask.GetPixel(x, y) ? 0 : 255; // 255 where motion counts
            }
        }
    }
    // The changed-pixel count of the frame (0 for the first).
    int64_t Process(const uint8_t* frame) {
        const cv::Mat bgr(m_frames.height, m_frames.width, CV_8UC3, const_cast<uint8_t*>(frame),
                          static_cast<size_t>(m_frames.stride));
        int64_t count = 0;
        cv::cvtColor(bgr, m_grey, cv::COLOR_BGR2GRAY);
        if (!m_previous.empty()) {
            cv::absdiff(m_grey, m_previous, m_diff);
            cv::threshold(m_diff, m_binary, kThreshold8, 255, cv::THRESH_BINARY);
            cv::erode(m_binary, m_eroded, m_kernel);
            cv::bitwise_and(m_eroded, m_active, m_eroded);
            count = cv::countNonZero(m_eroded);
        }
        cv::swap(m_grey, m_previous);
        return count;
    }

private:
    static constexpr int kThreshold8 = kGreyLevelPerMille * 255 / 1000;
    const Frames& m_frames;
    cv::Mat m_kernel, m_active, m_grey, m_previous, m_diff, m_binary, m_eroded;
};

void BM_OpenCvDetection(benchmark::State& state) {
    cv::setNumThreads(0);
    const Frames& frames =
        FramesOf(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    OpenCvDetector detector(frames);
    int64_t i = 0;
    int64_t counted = 0;
    for (auto _ : state) {
        counted += detector.Process(frames.Frame(i++));
    }
    state.counters["count"] = benchmark::Counter(static_cast<double>(counted) / static_cast<double>(i));
    state.SetItemsProcessed(i);
}
BENCHMARK(BM_OpenCvDetection)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

int64_t ThreadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

double MedianUs(std::vector<int64_t> ns) {
    if (ns.empty()) {
        return 0;
    }
    std::nth_element(ns.begin(), ns.begin() + static_cast<std::ptrdiff_t>(ns.size() / 2), ns.end());
    return static_cast<double>(ns[ns.size() / 2]) / 1000.0;
}

// Tavrix and OpenCV on the same frame in turn, each timed on the thread's CPU clock: tavrix_us and
// opencv_us are the medians per frame, ratio is tavrix_us / opencv_us. Tavrix runs through the
// camera view's call ("one pass": fused with AVX2; with SSE2 it takes the two passes, which are
// faster there) or in two passes (grey image, then the comparison: the way the detector worked
// before it had the fused call and the AVX2 set).
void BM_DetectionVsOpenCv(benchmark::State& state) {
    cv::setNumThreads(0);
    const Frames& frames =
        FramesOf(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    const auto set = static_cast<imagekernels::KernelSet>(state.range(2));
    const bool onePass = state.range(3) != 0;
    KernelSetScope kernels(state, set);
    state.SetLabel(std::string(imagekernels::KernelSetName(set)) + (onePass ? " one pass" : " two passes"));
    CMotionDetector tavrix(nullptr);
    SetUpDetector(tavrix, frames);
    OpenCvDetector openCv(frames);
    std::vector<int64_t> tavrixNs, openCvNs;
    int64_t i = 0;
    for (auto _ : state) {
        const uint8_t* frame = frames.Frame(i++);
        const int64_t t0 = ThreadCpuNs();
        CMotionDetector::BinaryImagePtr changed;
        if (onePass) {
            changed = tavrix.ProcessFrame(frame, frames.width, frames.height, frames.stride);
        } else {
            auto grey = tavrix.MakeGreyImage();
            grey->FromFrame(frame, frames.width, frames.height, frames.stride);
            changed = tavrix.ProcessImage(std::move(grey));
        }
        benchmark::DoNotOptimize(changed.get());
        const int64_t t1 = ThreadCpuNs();
        benchmark::DoNotOptimize(openCv.Process(frame));
        const int64_t t2 = ThreadCpuNs();
        if (i > 1) { // the first frame only makes the references
            tavrixNs.push_back(t1 - t0);
            openCvNs.push_back(t2 - t1);
        }
    }
    const double tavrixUs = MedianUs(std::move(tavrixNs));
    const double openCvUs = MedianUs(std::move(openCvNs));
    state.counters["tavrix_us"] = tavrixUs;
    state.counters["opencv_us"] = openCvUs;
    state.counters["ratio"] = openCvUs > 0 ? tavrixUs / openCvUs : 0;
}

void SizesKernelSetsAndPasses(benchmark::internal::Benchmark* b) {
    for (const auto& size : {std::pair{640, 480}, std::pair{1920, 1080}}) {
        for (auto set : {imagekernels::KernelSet::kSse2, imagekernels::KernelSet::kAvx2}) {
            for (int onePass : {0, 1}) {
                b->Args({size.first, size.second, static_cast<int64_t>(set), onePass});
            }
        }
    }
}
BENCHMARK(BM_DetectionVsOpenCv)->Apply(SizesKernelSetsAndPasses)->Unit(benchmark::kMicrosecond);

#endif

} // namespace

BENCHMARK_MAIN();
