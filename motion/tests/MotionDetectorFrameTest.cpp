// The camera view's one-pass entry point of the motion detector (the identity of its results with
// the two-pass one is in DetectionIdentityTest.cpp).

#include "foundation/Exceptions.h"
#include "motion/MotionDetector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

// The camera view's one-pass call keeps the life cycle of the reference: the first frame, the frame
// after Reset and a frame of another size only become the reference; a frame FromFrame refuses
// throws the same error and leaves the reference as it was.
TEST(MotionDetector, ProcessFrameKeepsTheReferenceLifeCycle) {
    constexpr int32_t kWidth = 64, kHeight = 48;
    CMotionDetector detector(nullptr, [] { return 1000u; });
    detector.SetGreyLevel(150);
    detector.SetPixelCount(100);
    detector.SetStopDelay(2000);
    detector.SetErosionLevel(0);
    auto frameOf = [](int32_t width, int32_t height, uint8_t value) {
        return std::vector<uint8_t>(static_cast<size_t>(width) * height * 3, value);
    };
    const auto dark = frameOf(kWidth, kHeight, 10), bright = frameOf(kWidth, kHeight, 200);
    EXPECT_EQ(detector.ProcessFrame(dark.data(), kWidth, kHeight), nullptr);
    EXPECT_EQ(detector.GetLastCount(), 0);
    auto changed = detector.ProcessFrame(bright.data(), kWidth, kHeight);
    ASSERT_NE(changed, nullptr);
    EXPECT_EQ(changed->GetWidth(), kWidth);
    EXPECT_EQ(detector.GetLastCount(), 128); // all changed; counting stops after the word reaching 110
    EXPECT_EQ(detector.GetState(), CMotionDetector::kMotionActive);

    EXPECT_THROW(detector.ProcessFrame(nullptr, kWidth, kHeight), CGeneralEx);
    EXPECT_THROW(detector.ProcessFrame(dark.data(), kWidth, kHeight, kWidth * 3 - 1), CGeneralEx);
    changed = detector.ProcessFrame(bright.data(), kWidth, kHeight); // still compared with the bright frame
    ASSERT_NE(changed, nullptr);
    EXPECT_EQ(detector.GetLastCount(), 0);

    detector.Reset();
    EXPECT_EQ(detector.ProcessFrame(dark.data(), kWidth, kHeight), nullptr);
    EXPECT_EQ(detector.GetState(), CMotionDetector::kMotionActive) << "Reset keeps the state";
    EXPECT_NE(detector.ProcessFrame(dark.data(), kWidth, kHeight), nullptr);

    const auto small = frameOf(32, 16, 10);
    EXPECT_EQ(detector.ProcessFrame(small.data(), 32, 16), nullptr);
    changed = detector.ProcessFrame(small.data(), 32, 16);
    ASSERT_NE(changed, nullptr);
    EXPECT_EQ(changed->GetWidth(), 32);
    EXPECT_EQ(changed->GetHeight(), 16);
    // The two entry points share one reference.
    auto grey = detector.MakeGreyImage();
    grey->FromFrame(bright.data(), kWidth, kHeight);
    EXPECT_EQ(detector.ProcessImage(std::move(grey)), nullptr);
    EXPECT_NE(detector.ProcessFrame(dark.data(), kWidth, kHeight), nullptr);
    EXPECT_EQ(detector.GetLastCount(), 128);
}
