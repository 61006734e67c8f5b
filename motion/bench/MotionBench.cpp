// Time per frame of the whole per-frame motion detection (grey conversion + ProcessImage with the
// camera defaults: grey level 150, pixel count 200, one erosion pass, mask on) at 640×480 and
// 1920×1080, single-threaded, on realistic frames (sensor noise and a moving object), and the same
// work written the usual OpenCV way (cvtColor, absdiff, threshold, erode 2×2, mask, countNonZero)
// when OpenCV is present. Also the parts on their own and the popcount question.

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
#include <random>
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

void BM_TavrixDetection(benchmark::State& state) {
    const Frames& frames =
        FramesOf(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    CMotionDetector detector(nullptr);
    SetUpDetector(detector, frames);
    int64_t i = 0;
    int64_t counted = 0;
    for (auto _ : state) {
        auto grey = detector.MakeGreyImage();
        grey->FromFrame(frames.Frame(i++), frames.width, frames.height, frames.stride);
        auto changed = detector.ProcessImage(std::move(grey));
        benchmark::DoNotOptimize(changed.get());
        counted += detector.GetLastCount();
    }
    state.counters["lastCount"] = benchmark::Counter(static_cast<double>(counted) / static_cast<double>(i));
    state.SetItemsProcessed(i);
}
BENCHMARK(BM_TavrixDetection)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

void BM_TavrixGreyConversion(benchmark::State& state) {
    const Frames& frames =
        FramesOf(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    CGrayScaleImage grey;
    int64_t i = 0;
    for (auto _ : state) {
        grey.FromFrame(frames.Frame(i++), frames.width, frames.height, frames.stride);
        benchmark::DoNotOptimize(grey.GetData());
    }
}
BENCHMARK(BM_TavrixGreyConversion)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

void BM_TavrixProcessImage(benchmark::State& state) {
    const Frames& frames =
        FramesOf(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
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
BENCHMARK(BM_TavrixProcessImage)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

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

void BM_OpenCvDetection(benchmark::State& state) {
    cv::setNumThreads(0);
    const Frames& frames =
        FramesOf(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    const int threshold8 = kGreyLevelPerMille * 255 / 1000;
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2, 2));
    cv::Mat active(frames.height, frames.width, CV_8UC1); // 255 where motion counts
    for (int32_t y = 0; y < frames.height; ++y) {
        for (int32_t x = 0; x < frames.width; ++x) {
            active.at<uint8_t>(y, x) = frames.mask.GetPixel(x, y) ? 0 : 255;
        }
    }
    cv::Mat grey, previous, diff, binary, eroded;
    int64_t i = 0;
    int64_t counted = 0;
    for (auto _ : state) {
        const cv::Mat frame(frames.height, frames.width, CV_8UC3, const_cast<uint8_t*>(frames.Frame(i++)),
                            static_cast<size_t>(frames.stride));
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        if (!previous.empty()) {
            cv::absdiff(grey, previous, diff);
            cv::threshold(diff, binary, threshold8, 255, cv::THRESH_BINARY);
            cv::erode(binary, eroded, kernel);
            cv::bitwise_and(eroded, active, eroded);
            counted += cv::countNonZero(eroded);
        }
        cv::swap(grey, previous);
    }
    state.counters["count"] = benchmark::Counter(static_cast<double>(counted) / static_cast<double>(i));
    state.SetItemsProcessed(i);
}
BENCHMARK(BM_OpenCvDetection)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

#endif

} // namespace

BENCHMARK_MAIN();
