#include "motion/MotionDetector.h"

#include "foundation/Tracer.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <new>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

// Counts the heap allocations of the calling thread while a test asks for it, to prove that the
// steady state of frame processing allocates nothing.
namespace {
thread_local bool t_countAllocations = false;
thread_local int t_allocations = 0;

void* Allocate(std::size_t size, std::size_t alignment) {
    if (t_countAllocations) {
        ++t_allocations;
    }
    void* p = nullptr;
    if (posix_memalign(&p, std::max(alignment, sizeof(void*)), size == 0 ? 1 : size) != 0) {
        throw std::bad_alloc();
    }
    return p;
}
} // namespace

void* operator new(std::size_t size) {
    return Allocate(size, alignof(std::max_align_t));
}
void* operator new[](std::size_t size) {
    return Allocate(size, alignof(std::max_align_t));
}
void* operator new(std::size_t size, std::align_val_t a) {
    return Allocate(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return Allocate(size, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

namespace {

constexpr int32_t kWidth = 64;
constexpr int32_t kHeight = 48;

struct Recorder : CMotionDetectorCB {
    void OnStateChange(int32_t oldState, int32_t newState) override {
        changes.emplace_back(oldState, newState);
    }
    std::vector<std::pair<int32_t, int32_t>> changes;
};

using Changes = std::vector<std::pair<int32_t, int32_t>>;

// A detector on a clock the test moves by hand, fed frames of a flat background in which a
// rectangle of pixels may differ.
class DetectorTest : public ::testing::Test {
protected:
    DetectorTest() : detector(&recorder, [this] { return now; }) {
        detector.SetGreyLevel(150);
        detector.SetPixelCount(100);
        detector.SetStartDelay(0);
        detector.SetStopDelay(2000);
        detector.SetErosionLevel(0);
    }

    // Grey image of the background (value base) with a w × h block at (x, y) of value 18000.
    CMotionDetector::GreyImagePtr Image(int32_t x = 0, int32_t y = 0, int32_t w = 0, int32_t h = 0,
                                        int16_t base = 1000, int32_t width = kWidth,
                                        int32_t height = kHeight) {
        auto image = detector.MakeGreyImage();
        image->Create(width, height);
        for (int32_t row = 0; row < height; ++row) {
            for (int32_t col = 0; col < width; ++col) {
                const bool inBlock = col >= x && col < x + w && row >= y && row < y + h;
                image->Row(row)[col] = inBlock ? 18000 : base;
            }
        }
        return image;
    }
    // A frame whose block of n pixels (n ≤ kWidth · kHeight) differs from the background, as a run
    // of whole rows plus a partial row.
    CMotionDetector::GreyImagePtr ImageWithChanged(int32_t n) {
        auto image = Image();
        for (int32_t i = 0; i < n; ++i) {
            image->Row(i / kWidth)[i % kWidth] = 18000;
        }
        return image;
    }
    // Feeds a frame at tick t that differs from the one before (motion: a 20 × 20 block moves,
    // 800 pixels change) or equals it.
    void FrameAt(uint32_t t, bool motion) {
        now = t;
        if (motion) {
            phase = !phase;
        }
        detector.ProcessImage(Image(phase ? 30 : 0, 0, 20, 20));
    }

    bool phase = false;
    uint32_t now = 1000;
    Recorder recorder;
    CMotionDetector detector;
};

} // namespace

TEST_F(DetectorTest, FirstFrameOnlyBecomesTheReference) {
    EXPECT_EQ(detector.ProcessImage(Image(0, 0, 30, 30)), nullptr);
    EXPECT_EQ(detector.GetLastCount(), 0);
    EXPECT_TRUE(recorder.changes.empty());
    auto changed = detector.ProcessImage(Image());
    ASSERT_NE(changed, nullptr);
    // 900 changed; counting stops after the word that reaches 100 + 10 (30 a row: 4 rows).
    EXPECT_EQ(detector.GetLastCount(), 120);
    EXPECT_EQ(changed->CountPixels(1 << 30), 900);
    EXPECT_EQ(recorder.changes, (Changes{{0, 2}}));
}

TEST_F(DetectorTest, CountEqualToPixelCountIsNoMotionOneMoreIsMotion) {
    detector.ProcessImage(Image());
    detector.ProcessImage(ImageWithChanged(100));
    EXPECT_EQ(detector.GetLastCount(), 100);
    EXPECT_EQ(detector.GetState(), CMotionDetector::kNoMotion);
    detector.ProcessImage(Image());
    detector.ProcessImage(ImageWithChanged(101));
    EXPECT_EQ(detector.GetLastCount(), 101);
    EXPECT_EQ(recorder.changes, (Changes{{0, 2}}));
}

TEST_F(DetectorTest, StartDelayNeedsMotionInEveryFrameUntilItElapsed) {
    detector.SetStartDelay(1000);
    FrameAt(9000, false); // reference
    FrameAt(10000, true);
    EXPECT_EQ(recorder.changes, (Changes{{0, 1}}));
    FrameAt(10500, true);
    FrameAt(10999, true);
    EXPECT_EQ(detector.GetState(), CMotionDetector::kWaitingStartDelay);
    FrameAt(11000, true);
    EXPECT_EQ(recorder.changes, (Changes{{0, 1}, {1, 2}}));

    detector.SetStopDelay(0);
    FrameAt(12000, false);
    EXPECT_EQ(detector.GetState(), CMotionDetector::kNoMotion);
    recorder.changes.clear();
    // One still frame during the wait goes back at once, and the wait starts anew.
    FrameAt(20000, true);
    FrameAt(20900, false);
    FrameAt(21000, true);
    FrameAt(21999, true);
    EXPECT_EQ(detector.GetState(), CMotionDetector::kWaitingStartDelay);
    FrameAt(22000, true);
    EXPECT_EQ(recorder.changes, (Changes{{0, 1}, {1, 0}, {0, 1}, {1, 2}}));
}

TEST_F(DetectorTest, StopDelayRunsFromTheLastFrameWithMotion) {
    FrameAt(4000, false);
    FrameAt(5000, true);
    EXPECT_EQ(recorder.changes, (Changes{{0, 2}}));
    FrameAt(5100, false);
    FrameAt(6000, true); // restarts the 2000 ms
    FrameAt(7999, false);
    EXPECT_EQ(detector.GetState(), CMotionDetector::kMotionActive);
    FrameAt(8000, false);
    EXPECT_EQ(recorder.changes, (Changes{{0, 2}, {2, 0}}));
}

TEST_F(DetectorTest, DelaysHoldAcrossTheTickWrap) {
    // A start delay begun just before the wrap: a sum taken modulo 2^32 would end it at once.
    detector.SetStartDelay(1000);
    FrameAt(0xFFFFFE00u, false);
    FrameAt(0xFFFFFF00u, true);
    EXPECT_EQ(detector.GetState(), CMotionDetector::kWaitingStartDelay);
    FrameAt(0xFFFFFF10u, true);
    EXPECT_EQ(detector.GetState(), CMotionDetector::kWaitingStartDelay);
    FrameAt(0xFFFFFF00u + 999, true); // past the wrap
    EXPECT_EQ(detector.GetState(), CMotionDetector::kWaitingStartDelay);
    FrameAt(0xFFFFFF00u + 1000, true);
    EXPECT_EQ(recorder.changes, (Changes{{0, 1}, {1, 2}}));

    // A stop delay begun before the wrap and ending after it: a sum that does not wrap while
    // the tick does would hold it for 49 days.
    detector.SetStopDelay(2000);
    FrameAt(0xFFFFF000u, true);
    FrameAt(0xFFFFF000u + 1999, false);
    EXPECT_EQ(detector.GetState(), CMotionDetector::kMotionActive);
    FrameAt(0xFFFFF000u + 0x1000 + 100, false); // 100 ms after the wrap, 4196 ms after the motion
    EXPECT_EQ(detector.GetState(), CMotionDetector::kNoMotion);
}

TEST_F(DetectorTest, ErosionPassesRemoveNarrowRegions) {
    // Level 0 counts the raw difference.
    detector.SetPixelCount(100000);
    detector.ProcessImage(Image());
    detector.ProcessImage(Image(10, 10, 5, 20));
    EXPECT_EQ(detector.GetLastCount(), 100);
    // Level 5: a 5-wide region vanishes, a 6 × 6 one leaves one pixel, a 6-wide, 20-high one 15.
    detector.SetErosionLevel(5);
    detector.ProcessImage(Image());
    detector.ProcessImage(Image(10, 10, 5, 20));
    EXPECT_EQ(detector.GetLastCount(), 0);
    detector.ProcessImage(Image());
    auto changed = detector.ProcessImage(Image(10, 10, 6, 6));
    EXPECT_EQ(detector.GetLastCount(), 1);
    EXPECT_TRUE(changed->GetPixel(10, 10));
    detector.ProcessImage(Image());
    detector.ProcessImage(Image(10, 10, 6, 20));
    EXPECT_EQ(detector.GetLastCount(), 15);
    // Far more passes than rows leave nothing and stay quick.
    detector.SetErosionLevel(1 << 30);
    detector.ProcessImage(Image());
    detector.ProcessImage(Image(0, 0, kWidth, kHeight));
    EXPECT_EQ(detector.GetLastCount(), 0);
}

TEST_F(DetectorTest, MaskedChangesNeverCountAndAMaskOfAnotherSizeIsIgnored) {
    CBinaryImage mask;
    mask.Create(kWidth, kHeight);
    mask.Fill(false);
    for (int32_t y = 0; y < 20; ++y) {
        for (int32_t x = 0; x < 20; ++x) {
            mask.SetPixel(x, y, true);
        }
    }
    detector.SetMask(mask);
    detector.ProcessImage(Image());
    detector.ProcessImage(Image(0, 0, 20, 20));
    EXPECT_EQ(detector.GetLastCount(), 0);
    EXPECT_TRUE(recorder.changes.empty());
    detector.SetPixelCount(100000);
    detector.ProcessImage(Image(10, 10, 20, 20));
    EXPECT_EQ(detector.GetLastCount(), 300); // the part of the moved block outside the mask

    CBinaryImage wrongSize;
    wrongSize.Create(kWidth / 2, kHeight);
    wrongSize.Fill(true);
    detector.SetMask(wrongSize);
    detector.ProcessImage(Image());
    detector.ProcessImage(Image(0, 0, 20, 20));
    EXPECT_EQ(detector.GetLastCount(), 400);
    detector.ClearMask();
    detector.ProcessImage(Image());
    EXPECT_EQ(detector.GetLastCount(), 400);
}

TEST_F(DetectorTest, GreyLevelConversionAndItsExtremes) {
    detector.SetGreyLevel(150);
    EXPECT_EQ(detector.GetGreyLevel(), 2792);
    detector.SetGreyLevel(2000); // out of range: clamped to the full scale
    EXPECT_EQ(detector.GetGreyLevel(), 18615);
    detector.SetGreyLevel(-5);
    EXPECT_EQ(detector.GetGreyLevel(), 0);

    detector.SetPixelCount(0);
    detector.SetGreyLevel(1000); // no pixel can differ by more than the full scale
    detector.ProcessImage(Image(0, 0, 0, 0, 0));
    auto white = detector.MakeGreyImage();
    white->Create(kWidth, kHeight);
    for (int32_t i = 0; i < kWidth * kHeight; ++i) {
        white->Pixels()[i] = 18615;
    }
    detector.ProcessImage(std::move(white));
    EXPECT_EQ(detector.GetLastCount(), 0);
    EXPECT_TRUE(recorder.changes.empty());

    detector.SetGreyLevel(0); // every pixel that changed at all counts
    detector.SetPixelCount(100000);
    detector.ProcessImage(Image(0, 0, 0, 0, 1000));
    detector.ProcessImage(Image(0, 0, 0, 0, 1001));
    EXPECT_EQ(detector.GetLastCount(), kWidth * kHeight);
}

TEST_F(DetectorTest, ResetMakesTheNextFrameTheReferenceAndKeepsTheState) {
    detector.ProcessImage(Image());
    detector.ProcessImage(Image(0, 0, 20, 20));
    ASSERT_EQ(detector.GetState(), CMotionDetector::kMotionActive);
    detector.Reset();
    EXPECT_EQ(detector.ProcessImage(Image()), nullptr);
    EXPECT_EQ(detector.GetState(), CMotionDetector::kMotionActive);
    EXPECT_EQ(detector.GetLastCount(), 120);
    EXPECT_NE(detector.ProcessImage(Image()), nullptr);
}

// The camera's countdown resets the detector while a frame may be waiting in OnStateChange for the
// camera lock that the countdown's stopper holds: Reset must not wait for the frame.
TEST(MotionDetector, ResetFromAnotherThreadDoesNotWaitForAFrameInProgress) {
    struct ResetInCallback : CMotionDetectorCB {
        void OnStateChange(int32_t, int32_t) override {
            std::promise<void> done;
            std::future<void> finished = done.get_future();
            std::thread other([&] {
                detector->Reset();
                done.set_value();
            });
            resetReturned = finished.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
            other.join();
        }
        CMotionDetector* detector = nullptr;
        bool resetReturned = false;
    } callback;
    uint32_t now = 0;
    CMotionDetector detector(&callback, [&now] { return now; });
    callback.detector = &detector;
    detector.SetGreyLevel(0);
    detector.SetPixelCount(0);
    detector.SetStartDelay(0);
    auto image = [&](int16_t value) {
        auto grey = detector.MakeGreyImage();
        grey->Create(8, 8);
        std::fill(grey->Pixels(), grey->Pixels() + 64, value);
        return grey;
    };
    detector.ProcessImage(image(0));
    detector.ProcessImage(image(100)); // motion: the callback runs with the detector's lock held
    EXPECT_TRUE(callback.resetReturned);
    EXPECT_EQ(detector.ProcessImage(image(100)), nullptr) << "the reset applies to the next frame";
}

TEST_F(DetectorTest, FrameSizeChangeStartsANewReferenceAndEmptyImagesAreIgnored) {
    detector.ProcessImage(Image());
    EXPECT_EQ(detector.ProcessImage(Image(0, 0, 0, 0, 1000, 32, 16)), nullptr);
    EXPECT_NE(detector.ProcessImage(Image(0, 0, 0, 0, 1000, 32, 16)), nullptr);
    EXPECT_EQ(detector.ProcessImage(nullptr), nullptr);
    EXPECT_EQ(
        detector.ProcessImage(CImagePool<CGrayScaleImage>::Unpooled(std::make_unique<CGrayScaleImage>())),
        nullptr);
    EXPECT_NE(detector.ProcessImage(Image(0, 0, 0, 0, 1000, 32, 16)), nullptr);
}

TEST_F(DetectorTest, SteadyStateAllocatesNothing) {
    CBinaryImage mask;
    mask.Create(kWidth, kHeight);
    mask.Fill(false);
    detector.SetMask(mask);
    detector.SetErosionLevel(2);
    std::vector<uint8_t> frame(static_cast<size_t>(kWidth) * kHeight * 3);
    for (int i = 0; i < 20; ++i) {
        std::fill(frame.begin(), frame.end(), static_cast<uint8_t>(i % 2 ? 20 : 200));
        t_countAllocations = i % 10 >= 3; // after the first frames have filled the pools
        CMotionDetector::BinaryImagePtr changed;
        if (i < 10) {
            auto grey = detector.MakeGreyImage();
            grey->FromFrame(frame.data(), kWidth, kHeight);
            changed = detector.ProcessImage(std::move(grey));
        } else { // the camera view's one-pass call, from a new reference on
            if (i == 10) {
                detector.Reset();
            }
            changed = detector.ProcessFrame(frame.data(), kWidth, kHeight);
        }
        const bool gotImage = changed != nullptr;
        changed.reset();
        t_countAllocations = false;
        ASSERT_EQ(gotImage, i % 10 > 0);
        if (i < 10 || gotImage) {
            EXPECT_EQ(detector.GetLastCount(), i == 0 ? 0 : 124); // 62 a row after two passes, stopped at 110
        }
    }
    EXPECT_EQ(t_allocations, 0);
}

TEST_F(DetectorTest, ChangedImageOutlivesTheDetector) {
    CMotionDetector::BinaryImagePtr changed;
    {
        CMotionDetector local(nullptr);
        local.ProcessImage(Image());
        changed = local.ProcessImage(Image(0, 0, 3, 3));
    }
    ASSERT_NE(changed, nullptr);
    EXPECT_EQ(changed->CountPixels(1000), 4); // one erosion pass by default
}

TEST(MotionDetector, StateNamesAndInitialSettings) {
    EXPECT_STREQ(CMotionDetector::GetStateName(0), "No motion");
    EXPECT_STREQ(CMotionDetector::GetStateName(1), "Waiting start delay");
    EXPECT_STREQ(CMotionDetector::GetStateName(2), "Motion active");
    EXPECT_STREQ(CMotionDetector::GetStateName(3), "Unknown State");
    EXPECT_STREQ(CMotionDetector::GetStateName(-1), "Unknown State");
    CMotionDetector detector(nullptr);
    EXPECT_EQ(detector.GetGreyLevel(), 9307);
    EXPECT_EQ(detector.GetPixelCount(), 100);
    EXPECT_EQ(detector.GetStartDelay(), 0);
    EXPECT_EQ(detector.GetStopDelay(), 10000);
    EXPECT_EQ(detector.GetErosionLevel(), 1);
    EXPECT_EQ(detector.GetState(), CMotionDetector::kNoMotion);
    detector.SetStartDelay(-5);
    detector.SetStopDelay(-5);
    detector.SetPixelCount(-5);
    detector.SetErosionLevel(-5);
    EXPECT_EQ(detector.GetStartDelay(), 0);
    EXPECT_EQ(detector.GetStopDelay(), 0);
    EXPECT_EQ(detector.GetPixelCount(), 0);
    EXPECT_EQ(detector.GetErosionLevel(), 0);
}

// The callback runs under the detector's lock; a camera view reading the count from it must not
// deadlock.
TEST(MotionDetector, CallbackMayCallBackIntoTheDetector) {
    struct Reader : CMotionDetectorCB {
        void OnStateChange(int32_t, int32_t) override { count = detector->GetLastCount(); }
        CMotionDetector* detector = nullptr;
        int32_t count = -1;
    } reader;
    CMotionDetector detector(&reader);
    reader.detector = &detector;
    detector.SetErosionLevel(0);
    detector.SetGreyLevel(0);
    for (int16_t value : {0, 100}) {
        auto grey = detector.MakeGreyImage();
        grey->Create(32, 32);
        for (int i = 0; i < 32 * 32; ++i) {
            grey->Pixels()[i] = value;
        }
        detector.ProcessImage(std::move(grey));
    }
    EXPECT_EQ(reader.count, 128); // stopped after the word reaching 110
}

TEST(MotionDetector, TracesStateChangesAndAMisfittingMaskOnce) {
    const std::string prefix = (std::filesystem::temp_directory_path() /
                                ("motion-trace-" + std::to_string(platform::CurrentThreadId()) + "."))
                                   .string();
    setenv("TAVRIX_TRACE", "yes", 1);
    CTracer::Instance().SetFilePrefixForTesting(prefix);
    ASSERT_TRUE(CTracer::Instance().Start());
    {
        CMotionDetector detector(nullptr);
        detector.SetErosionLevel(0);
        CBinaryImage mask;
        mask.Create(16, 16);
        mask.Fill(false);
        detector.SetMask(mask);
        for (int frame = 0; frame < 4; ++frame) {
            auto grey = detector.MakeGreyImage();
            grey->Create(32, 32);
            for (int i = 0; i < 32 * 32; ++i) {
                grey->Pixels()[i] = static_cast<int16_t>(frame % 2 ? 18000 : 0);
            }
            detector.ProcessImage(std::move(grey));
        }
    }
    CTracer::Instance().Stop();
    unsetenv("TAVRIX_TRACE");
    CTracer::Instance().SetFilePrefixForTesting("");
    const std::string file = prefix + std::to_string(platform::CurrentThreadId());
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    const std::string trace = text.str();
    std::filesystem::remove(file);
    EXPECT_NE(trace.find("MotionDetector: State change from 0 to 2"), std::string::npos) << trace;
    const auto first = trace.find("does not fit the frame size");
    ASSERT_NE(first, std::string::npos) << trace;
    EXPECT_EQ(trace.find("does not fit the frame size", first + 1), std::string::npos);
}

// Settings, masks and resets arrive from other threads while frames are processed.
TEST(MotionDetector, ConcurrentSettersWhileProcessing) {
    Recorder recorder;
    CMotionDetector detector(&recorder);
    std::atomic<bool> done{false};
    std::thread ui([&] {
        CBinaryImage mask;
        mask.Create(64, 32);
        mask.Fill(false);
        int i = 0;
        while (!done.load()) {
            detector.SetGreyLevel(i % 1000);
            detector.SetPixelCount(i % 50);
            detector.SetErosionLevel(i % 3);
            if (i % 3 == 0) {
                detector.SetMask(mask);
            } else {
                detector.ClearMask();
            }
            if (i % 7 == 0) {
                detector.Reset();
            }
            (void)detector.GetLastCount();
            ++i;
        }
    });
    for (int frame = 0; frame < 300; ++frame) {
        auto grey = detector.MakeGreyImage();
        grey->Create(64, 32);
        for (int i = 0; i < 64 * 32; ++i) {
            grey->Pixels()[i] = static_cast<int16_t>((i * 7 + frame * 131) % 18615);
        }
        auto changed = detector.ProcessImage(std::move(grey));
        if (changed) {
            EXPECT_EQ(changed->GetWidth(), 64);
        }
    }
    done = true;
    ui.join();
}
