// The detector's results must not depend on the path that computes them: for every kernel set, the
// camera view's one-pass call (ProcessFrame) and the two-pass one (FromFrame + ProcessImage) give,
// frame after frame, the very changed-pixel image, count and state that the same detection gives
// when written with the one-pixel-at-a-time reference kernels only. Frames at widths from 1 to
// 1920, packed and with odd row strides, are allocated to their exact size so that a read past the
// frame shows in the sanitizer builds.

#include "motion/ImageKernels.h"
#include "motion/MotionDetector.h"
#include "motion/tests/KernelSetTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

using namespace imagekernels;

namespace {

struct Settings {
    int32_t greyLevelPerMille = 150;
    int32_t pixelCount = 200;
    int32_t erosionLevel = 1;
    bool masked = false;
};

// The detection of one camera written with the reference kernels only.
class ReferenceDetection {
public:
    ReferenceDetection(int32_t width, int32_t height, const Settings& settings, const CBinaryImage& mask)
        : m_width(width), m_height(height), m_words(CBinaryImage::WordsPerRow(width)), m_settings(settings),
          m_mask(mask) {}

    void Reset() { m_reference.clear(); }

    // False for a frame that only becomes the reference; else bits and count of its changes.
    bool Process(const uint8_t* frame, int32_t stride, std::vector<uint32_t>& bits, int32_t& count) {
        std::vector<int16_t> grey(static_cast<size_t>(m_width) * m_height);
        for (int32_t y = 0; y < m_height; ++y) {
            GreyRowReference(frame + static_cast<size_t>(y) * stride, &grey[static_cast<size_t>(y) * m_width],
                             m_width);
        }
        const bool compared = !m_reference.empty();
        if (compared) {
            const int32_t level = m_settings.greyLevelPerMille * 18615 / 1000;
            bits.assign(static_cast<size_t>(m_words) * m_height, 0);
            for (int32_t y = 0; y < m_height; ++y) {
                const size_t at = static_cast<size_t>(y) * m_width;
                ThresholdRowReference(&m_reference[at], &grey[at], Row(bits, y), m_width, level);
            }
            for (int32_t pass = 0; pass < std::min(m_settings.erosionLevel, m_height); ++pass) {
                std::vector<uint32_t> eroded(bits.size());
                for (int32_t y = 0; y < m_height; ++y) {
                    ErodeRowReference(Row(bits, y), y + 1 < m_height ? Row(bits, y + 1) : nullptr,
                                      Row(eroded, y), m_width);
                }
                bits.swap(eroded);
            }
            if (m_settings.masked) {
                for (size_t i = 0; i < bits.size(); ++i) {
                    bits[i] &= ~m_mask.Words()[i];
                }
            }
            count = CountBitsReference(bits.data(), bits.size(), m_settings.pixelCount + 10);
        }
        m_reference.swap(grey);
        return compared;
    }

private:
    uint32_t* Row(std::vector<uint32_t>& bits, int32_t y) const {
        return bits.data() + static_cast<size_t>(y) * m_words;
    }

    int32_t m_width, m_height, m_words;
    Settings m_settings;
    const CBinaryImage& m_mask;
    std::vector<int16_t> m_reference;
};

// Frames of a textured background with noise of up to ±48 per byte (around the default grey
// level of 2792 = 73 · 38) and a bright block that moves and grows; the bytes between rows hold
// noise too.
class FrameSource {
public:
    FrameSource(int32_t width, int32_t height, int32_t stride, uint32_t seed)
        : m_width(width), m_height(height), m_stride(stride), m_rng(seed),
          m_background(static_cast<size_t>(stride) * (height - 1) + static_cast<size_t>(width) * 3) {
        for (auto& b : m_background) {
            b = static_cast<uint8_t>(m_rng());
        }
    }
    // Exactly (height − 1) · stride + width · 3 bytes.
    std::vector<uint8_t> Next() {
        std::vector<uint8_t> frame = m_background;
        std::uniform_int_distribution<int> noise(-48, 48);
        for (auto& b : frame) {
            b = static_cast<uint8_t>(std::clamp(b + noise(m_rng), 0, 255));
        }
        const int32_t size = 1 + m_frame % 9;
        const int32_t x0 = (m_frame * 7) % m_width, y0 = m_frame % m_height;
        for (int32_t y = y0; y < std::min(m_height, y0 + size); ++y) {
            for (int32_t x = x0; x < std::min(m_width, x0 + size * 2); ++x) {
                uint8_t* p = &frame[static_cast<size_t>(y) * m_stride + 3 * static_cast<size_t>(x)];
                p[0] = 250;
                p[1] = 240;
                p[2] = 230;
            }
        }
        ++m_frame;
        return frame;
    }

private:
    int32_t m_width, m_height, m_stride;
    std::mt19937 m_rng;
    std::vector<uint8_t> m_background;
    int32_t m_frame = 0;
};

void Configure(CMotionDetector& detector, const Settings& settings, const CBinaryImage& mask) {
    detector.SetGreyLevel(settings.greyLevelPerMille);
    detector.SetPixelCount(settings.pixelCount);
    detector.SetStartDelay(0);
    detector.SetStopDelay(0);
    detector.SetErosionLevel(settings.erosionLevel);
    if (settings.masked) {
        detector.SetMask(mask);
    } else {
        detector.ClearMask();
    }
}

CBinaryImage RandomMask(int32_t width, int32_t height, std::mt19937& rng) {
    CBinaryImage mask;
    mask.Create(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            mask.SetPixel(x, y, rng() % 4 == 0);
        }
    }
    return mask;
}

std::vector<uint32_t> WordsOf(const CBinaryImage& image) {
    return std::vector<uint32_t>(image.Words(), image.Words() + image.WordCount());
}

// Runs frames through both entry points of the detector and the reference, comparing after each.
void ExpectSameDetection(int32_t width, int32_t height, int32_t stride, const Settings& settings, int frames,
                         uint32_t seed) {
    SCOPED_TRACE(::testing::Message()
                 << width << "x" << height << " stride " << stride << " level " << settings.greyLevelPerMille
                 << " erosion " << settings.erosionLevel << (settings.masked ? " masked" : ""));
    std::mt19937 rng(seed);
    const CBinaryImage mask = RandomMask(width, height, rng);
    CMotionDetector onePass(nullptr, [] { return 1000u; });
    CMotionDetector twoPasses(nullptr, [] { return 1000u; });
    Configure(onePass, settings, mask);
    Configure(twoPasses, settings, mask);
    ReferenceDetection reference(width, height, settings, mask);
    FrameSource source(width, height, stride, seed);
    for (int f = 0; f < frames; ++f) {
        if (f == 3) { // the frame after a reset only becomes the reference again
            onePass.Reset();
            twoPasses.Reset();
            reference.Reset();
        }
        const std::vector<uint8_t> frame = source.Next();
        std::vector<uint32_t> bits;
        int32_t count = 0;
        const bool compared = reference.Process(frame.data(), stride, bits, count);

        auto fromOnePass = onePass.ProcessFrame(frame.data(), width, height, stride);
        auto grey = twoPasses.MakeGreyImage();
        grey->FromFrame(frame.data(), width, height, stride);
        auto fromTwoPasses = twoPasses.ProcessImage(std::move(grey));

        ASSERT_EQ(fromOnePass != nullptr, compared) << "frame " << f;
        ASSERT_EQ(fromTwoPasses != nullptr, compared) << "frame " << f;
        if (!compared) {
            continue;
        }
        ASSERT_EQ(WordsOf(*fromOnePass), bits) << "one pass, frame " << f;
        ASSERT_EQ(WordsOf(*fromTwoPasses), bits) << "two passes, frame " << f;
        ASSERT_EQ(onePass.GetLastCount(), count) << "frame " << f;
        ASSERT_EQ(twoPasses.GetLastCount(), count) << "frame " << f;
        ASSERT_EQ(onePass.GetState(), twoPasses.GetState()) << "frame " << f;
    }
}

class DetectionIdentity : public KernelSetTest {};

} // namespace

INSTANTIATE_FOR_EVERY_KERNEL_SET(DetectionIdentity);

TEST_P(DetectionIdentity, EveryWidthAndStrideGivesTheReferenceResultsFrameAfterFrame) {
    const int32_t heights[] = {1, 2, 3, 5, 4};
    const int32_t levels[] = {150, 0, 1, 999, 1000};
    uint32_t seed = 1;
    int caseIndex = 0;
    for (int32_t width : KernelTestWidths()) {
        // Packed, padded to 4 bytes as bitmaps are, and two odd strides.
        for (int32_t stride : {width * 3, (width * 3 + 3) & ~3, width * 3 + 1, width * 3 + 5}) {
            Settings settings;
            settings.greyLevelPerMille = levels[caseIndex % 5];
            settings.erosionLevel = caseIndex % 3;
            settings.masked = caseIndex % 2 == 1;
            settings.pixelCount = (caseIndex * 37) % 60;
            ExpectSameDetection(width, heights[caseIndex % 5], stride, settings, 6, seed++);
            if (HasFatalFailure()) {
                return;
            }
            ++caseIndex;
        }
    }
}

TEST_P(DetectionIdentity, CameraSizedFramesGiveTheReferenceResults) {
    Settings settings; // the camera defaults
    settings.masked = true;
    ExpectSameDetection(640, 480, 640 * 3, settings, 5, 100);
    settings.erosionLevel = 2;
    ExpectSameDetection(1920, 12, 1920 * 3 + 7, settings, 5, 101);
}
