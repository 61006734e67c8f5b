// Detection on the luma plane of YUV frames: the luma kernels of every kernel set against their
// references at every width up to 1920 (rows allocated to their exact length, guards past the
// output), the grey-level image at odd strides, and the promise that makes a grey level mean the
// same on both kinds of frames: a picture converted to I420 (BT.601, studio range, as the camera
// decoders and our pre-event buffer write it) gives the decisions of its BGR frame wherever the
// change is not within the mapping's rounding of the level.

#include "foundation/Exceptions.h"
#include "motion/BinaryImage.h"
#include "motion/GrayScaleImage.h"
#include "motion/ImageKernels.h"
#include "motion/MotionDetector.h"
#include "motion/tests/KernelSetTest.h"
#include "recording/I420Frame.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

using namespace imagekernels;

namespace {

constexpr int16_t kGreyGuard = 0x5A5A;
constexpr uint32_t kWordGuard = 0xDEADBEEFu;

std::vector<uint8_t> RandomLuma(std::mt19937& rng, size_t count) {
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes) {
        b = static_cast<uint8_t>(rng());
    }
    return bytes;
}

class LumaRows : public KernelSetTest {};

} // namespace

INSTANTIATE_FOR_EVERY_KERNEL_SET(LumaRows);

TEST(LumaMapping, StudioAndFullRangeEndsAreBlackAndWhiteOfTheBgrScale) {
    EXPECT_EQ(GreyOfLuma(16, LumaRange::kStudio), 0);
    EXPECT_EQ(GreyOfLuma(0, LumaRange::kStudio), 0); // footroom clamps to black
    EXPECT_EQ(GreyOfLuma(235, LumaRange::kStudio), CGrayScaleImage::kFullScale);
    EXPECT_EQ(GreyOfLuma(255, LumaRange::kStudio), CGrayScaleImage::kFullScale); // headroom to white
    EXPECT_EQ(GreyOfLuma(0, LumaRange::kFull), 0);
    EXPECT_EQ(GreyOfLuma(255, LumaRange::kFull), CGrayScaleImage::kFullScale);
    // A neutral grey lands within half a studio luma step of its BGR grey.
    for (int v = 0; v <= 255; ++v) {
        const int y = 16 + (219 * v + 127) / 255;
        EXPECT_LE(std::abs(GreyOfLuma(static_cast<uint8_t>(y), LumaRange::kStudio) - 73 * v), 43) << v;
        EXPECT_EQ(GreyOfLuma(static_cast<uint8_t>(v), LumaRange::kFull), 73 * v);
    }
}

TEST_P(LumaRows, LumaRowAndLumaThresholdRowMatchTheReferences) {
    std::mt19937 rng(11);
    const int32_t levels[] = {-1, 0, 1, 84, 85, 86, 2792, 9307, 18614, 18615, 65534, 65535};
    for (int32_t width : KernelTestWidths()) {
        const int32_t words = (width + 31) / 32;
        const std::vector<uint8_t> luma = RandomLuma(rng, static_cast<size_t>(width)); // exact length
        for (LumaRange range : {LumaRange::kStudio, LumaRange::kFull}) {
            std::vector<int16_t> fresh(width);
            LumaRowReference(luma.data(), fresh.data(), width, range);
            std::vector<int16_t> grey(static_cast<size_t>(width) + 16, kGreyGuard);
            LumaRow(luma.data(), grey.data(), width, range);
            ASSERT_EQ(std::vector<int16_t>(grey.begin(), grey.begin() + width), fresh) << "width " << width;
            ASSERT_EQ(grey[static_cast<size_t>(width)], kGreyGuard) << "written past the row " << width;
            for (int32_t level : levels) {
                // The previous row: another frame's values, or this one's moved by the level or one more.
                std::vector<int16_t> previous(width);
                for (int32_t x = 0; x < width; ++x) {
                    previous[x] = rng() % 2 ? static_cast<int16_t>(rng() % 18616)
                                            : static_cast<int16_t>(fresh[x] + (rng() % 2 ? 1 : -1) *
                                                                                  (level + static_cast<int32_t>(rng() % 2)));
                }
                std::vector<int16_t> expectedGrey = previous;
                std::vector<uint32_t> expectedBits(words);
                LumaThresholdRowReference(luma.data(), expectedGrey.data(), expectedBits.data(), width, level,
                                          range);
                ASSERT_EQ(expectedGrey, fresh);
                std::vector<int16_t> fastGrey = previous;
                fastGrey.resize(static_cast<size_t>(width) + 16, kGreyGuard);
                std::vector<uint32_t> bits(static_cast<size_t>(words) + 1, kWordGuard);
                LumaThresholdRow(luma.data(), fastGrey.data(), bits.data(), width, level, range);
                ASSERT_EQ(bits.back(), kWordGuard) << "bits written past the row, width " << width;
                bits.pop_back();
                ASSERT_EQ(bits, expectedBits) << "width " << width << " level " << level;
                ASSERT_EQ(fastGrey[static_cast<size_t>(width)], kGreyGuard) << "grey past the row " << width;
                fastGrey.resize(static_cast<size_t>(width));
                ASSERT_EQ(fastGrey, fresh) << "width " << width << " level " << level;
            }
        }
    }
}

TEST(LumaGreyImage, OddStridesKeepRowsAndBadPlanesThrowWithoutChange) {
    std::mt19937 rng(12);
    for (int32_t width : {1, 31, 33, 97, 641}) {
        const int32_t height = 5;
        for (int32_t stride : {width, width + 1, width + 13}) {
            // Exactly the bytes the plane must hold: (height − 1) · stride + width.
            const std::vector<uint8_t> first = RandomLuma(rng, static_cast<size_t>(height - 1) * stride + width);
            const std::vector<uint8_t> second = RandomLuma(rng, first.size());
            CGrayScaleImage image;
            image.FromLuma(first.data(), width, height, stride, LumaRange::kStudio);
            CBinaryImage changed;
            image.UpdateFromLuma(second.data(), width, height, stride, LumaRange::kStudio, 500, changed);
            for (int32_t y = 0; y < height; ++y) {
                for (int32_t x = 0; x < width; ++x) {
                    const size_t at = static_cast<size_t>(y) * stride + x;
                    const int16_t before = GreyOfLuma(first[at], LumaRange::kStudio);
                    const int16_t after = GreyOfLuma(second[at], LumaRange::kStudio);
                    ASSERT_EQ(image.Row(y)[x], after);
                    ASSERT_EQ(changed.GetPixel(x, y), std::abs(after - before) > 500)
                        << x << "," << y << " stride " << stride;
                }
            }
        }
    }
    CGrayScaleImage image;
    const std::vector<uint8_t> plane(64 * 4, 100);
    image.FromLuma(plane.data(), 64, 4, 0, LumaRange::kFull);
    CBinaryImage changed;
    EXPECT_THROW(image.UpdateFromLuma(nullptr, 64, 4, 0, LumaRange::kFull, 10, changed), CGeneralEx);
    EXPECT_THROW(image.UpdateFromLuma(plane.data(), 64, 4, 63, LumaRange::kFull, 10, changed), CGeneralEx);
    EXPECT_THROW(image.UpdateFromLuma(plane.data(), 32, 4, 0, LumaRange::kFull, 10, changed), CGeneralEx);
    EXPECT_THROW(image.FromLuma(plane.data(), 0, 4, 0, LumaRange::kFull), CGeneralEx);
    EXPECT_EQ(image.Row(3)[63], 7300); // unchanged by the refused planes
}

// The detector on the Y plane of the I420 conversion of a frame and on the BGR frame itself: for
// neutral pictures every pixel whose grey change lies more than the mapping's rounding (half a luma
// step, 43, and a rounding step of the converter, for both frames) away from the level gets the same decision, and the counts agree
// within the pixels near the level.
TEST(LumaDetection, DecisionsOnLumaAgreeWithTheBgrFramesOfTheSamePicture) {
    std::mt19937 rng(13);
    for (int32_t width : {64, 333, 640}) {
        const int32_t height = 48;
        const CI420Layout layout = CI420Layout::For(width, height);
        const int32_t bgrStride = (width * 3 + 3) & ~3;
        for (int32_t perMille : {20, 150, 500}) {
            CMotionDetector onBgr(nullptr, [] { return 0u; });
            CMotionDetector onLuma(nullptr, [] { return 0u; });
            for (CMotionDetector* d : {&onBgr, &onLuma}) {
                d->SetGreyLevel(perMille);
                d->SetErosionLevel(0);
                d->SetPixelCount(1 << 30);
            }
            const int32_t level = onBgr.GetGreyLevel();
            std::vector<uint8_t> previousGrey;
            for (int frame = 0; frame < 4; ++frame) {
                // Neutral grey blocks of 2x2 pixels (one chroma sample each), random brightness.
                std::vector<uint8_t> bgr(static_cast<size_t>(bgrStride) * height);
                std::vector<uint8_t> grey(static_cast<size_t>(width) * height);
                for (int32_t y = 0; y < height; y += 2) {
                    for (int32_t x = 0; x < width; x += 2) {
                        const auto v = static_cast<uint8_t>(rng());
                        for (int32_t dy = 0; dy < 2 && y + dy < height; ++dy) {
                            for (int32_t dx = 0; dx < 2 && x + dx < width; ++dx) {
                                grey[static_cast<size_t>(y + dy) * width + x + dx] = v;
                                uint8_t* p = &bgr[static_cast<size_t>(y + dy) * bgrStride + 3 * (x + dx)];
                                p[0] = p[1] = p[2] = v;
                            }
                        }
                    }
                }
                std::vector<uint8_t> i420(layout.size);
                i420::BgrToI420(bgr.data(), bgrStride, layout, i420.data());
                auto a = onBgr.ProcessFrame(bgr.data(), width, height, bgrStride);
                auto b = onLuma.ProcessLuma(i420.data() + layout.offset[0], width, height, layout.stride[0],
                                            LumaRange::kStudio);
                ASSERT_EQ(a == nullptr, b == nullptr);
                if (a) {
                    int32_t nearLevel = 0;
                    for (int32_t y = 0; y < height; ++y) {
                        for (int32_t x = 0; x < width; ++x) {
                            const size_t at = static_cast<size_t>(y) * width + x;
                            const int32_t change = 73 * std::abs(grey[at] - previousGrey[at]);
                            if (std::abs(change - level) <= 170) {
                                ++nearLevel;
                                continue;
                            }
                            ASSERT_EQ(a->GetPixel(x, y), b->GetPixel(x, y))
                                << "width " << width << " level " << level << " at " << x << "," << y;
                        }
                    }
                    EXPECT_LE(std::abs(onBgr.GetLastCount() - onLuma.GetLastCount()), nearLevel);
                }
                previousGrey = grey;
            }
        }
    }
}
