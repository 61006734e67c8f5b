// The fast row kernels of every kernel set against the plain one-pixel-at-a-time references, on
// random data at every width where vector steps and scalar tails meet, up to 1920 pixels. The pixel
// rows are allocated to their exact length, so that a read past the readable bytes shows in the
// sanitizer builds, and output rows carry guard values past their end.

#include "motion/ImageKernels.h"
#include "motion/tests/KernelSetTest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

using namespace imagekernels;

namespace {

constexpr int16_t kGreyGuard = 0x5A5A;
constexpr uint32_t kWordGuard = 0xDEADBEEFu;

std::vector<uint32_t> RandomWords(std::mt19937& rng, size_t count, int density) {
    std::vector<uint32_t> words(count);
    for (auto& w : words) {
        uint32_t v = 0xFFFFFFFFu;
        // density 0: all bits; each further AND of a random word halves the set bits.
        for (int i = 0; i < density; ++i) {
            v &= rng();
        }
        w = v;
    }
    return words;
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t count) {
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes) {
        b = static_cast<uint8_t>(rng());
    }
    return bytes;
}

// A grey row for the previous frame. Kind 0: another frame's grey values; kind 1: the new values
// moved by exactly the level or one more, up or down, so that every pixel sits at the strict
// boundary; kind 2: any 16-bit values, as a loaded image may hold.
std::vector<int16_t> PreviousRow(std::mt19937& rng, const std::vector<int16_t>& fresh, int kind,
                                 int32_t level) {
    std::vector<int16_t> row(fresh.size());
    for (size_t x = 0; x < row.size(); ++x) {
        switch (kind) {
        case 0:
            row[x] = static_cast<int16_t>(rng() % 18616);
            break;
        case 1: {
            const int32_t step = level + static_cast<int32_t>(rng() % 2);
            row[x] = static_cast<int16_t>(rng() % 2 ? fresh[x] + step : fresh[x] - step);
            break;
        }
        default:
            row[x] = static_cast<int16_t>(rng());
            break;
        }
    }
    return row;
}

class KernelRows : public KernelSetTest {};

} // namespace

INSTANTIATE_FOR_EVERY_KERNEL_SET(KernelRows);

TEST_P(KernelRows, GreyRowMatchesReferenceWithAndWithoutSlack) {
    std::mt19937 rng(1);
    for (int32_t width : KernelTestWidths()) {
        const size_t rowBytes = static_cast<size_t>(width) * 3;
        const std::vector<uint8_t> slack = RandomBytes(rng, rowBytes + 64);
        const std::vector<uint8_t> tight(slack.begin(),
                                         slack.begin() + static_cast<std::ptrdiff_t>(rowBytes));
        std::vector<int16_t> expected(width);
        GreyRowReference(tight.data(), expected.data(), width);
        for (const std::vector<uint8_t>* bgr : {&slack, &tight}) {
            std::vector<int16_t> grey(static_cast<size_t>(width) + 16, kGreyGuard);
            GreyRow(bgr->data(), grey.data(), width, bgr->size());
            ASSERT_EQ(std::vector<int16_t>(grey.begin(), grey.begin() + width), expected)
                << "width " << width << " readable " << bgr->size();
            ASSERT_EQ(std::vector<int16_t>(grey.begin() + width, grey.end()),
                      std::vector<int16_t>(16, kGreyGuard))
                << "written past the row, width " << width;
        }
    }
}

TEST_P(KernelRows, GreyRowOfExtremeBytes) {
    // All 255 gives the largest value; the vector pack must not saturate or sign-flip it.
    std::vector<uint8_t> bgr(64 * 3, 255);
    std::vector<int16_t> grey(64);
    GreyRow(bgr.data(), grey.data(), 64, bgr.size());
    for (int16_t v : grey) {
        EXPECT_EQ(v, 18615);
    }
}

TEST_P(KernelRows, ThresholdRowMatchesReferenceAtEveryWidthAndLevel) {
    std::mt19937 rng(2);
    const int32_t levels[] = {-5,    -1,    0,     1,     2,     100,   2792, 9307,
                              18614, 18615, 32767, 32768, 65534, 65535, 70000};
    for (int32_t width : KernelTestWidths()) {
        const int32_t words = (width + 31) / 32;
        for (int round = 0; round < 4; ++round) {
            std::vector<int16_t> a(width), b(width);
            for (int32_t x = 0; x < width; ++x) {
                if (round < 2) { // grey values as frames give them
                    a[x] = static_cast<int16_t>(rng() % 18616);
                    b[x] = static_cast<int16_t>(rng() % 18616);
                } else { // any 16-bit values, as a loaded image may hold
                    a[x] = static_cast<int16_t>(rng());
                    b[x] = static_cast<int16_t>(rng());
                }
            }
            std::vector<int32_t> allLevels(std::begin(levels), std::end(levels));
            allLevels.push_back(std::abs(a[0] - b[0]));     // at the distance: clear
            allLevels.push_back(std::abs(a[0] - b[0]) - 1); // one less: set
            for (int32_t level : allLevels) {
                std::vector<uint32_t> expected(words), fast(static_cast<size_t>(words) + 1, kWordGuard);
                ThresholdRowReference(a.data(), b.data(), expected.data(), width, level);
                ThresholdRow(a.data(), b.data(), fast.data(), width, level);
                ASSERT_EQ(fast.back(), kWordGuard) << "written past the row, width " << width;
                fast.pop_back();
                ASSERT_EQ(fast, expected) << "width " << width << " level " << level;
                // Swapping the operands gives the same bits (|a − b| = |b − a|).
                ThresholdRow(b.data(), a.data(), fast.data(), width, level);
                ASSERT_EQ(fast, expected) << "swapped, width " << width << " level " << level;
            }
        }
    }
}

TEST_P(KernelRows, GreyThresholdRowMatchesReferenceInBitsAndGreyValues) {
    std::mt19937 rng(6);
    const int32_t levels[] = {-1, 0, 1, 2, 100, 2792, 9307, 18614, 18615, 65534, 65535};
    for (int32_t width : KernelTestWidths()) {
        const size_t rowBytes = static_cast<size_t>(width) * 3;
        const int32_t words = (width + 31) / 32;
        const std::vector<uint8_t> slack = RandomBytes(rng, rowBytes + 100);
        const std::vector<uint8_t> tight(slack.begin(),
                                         slack.begin() + static_cast<std::ptrdiff_t>(rowBytes));
        std::vector<int16_t> fresh(width);
        GreyRowReference(tight.data(), fresh.data(), width);
        for (int32_t level : levels) {
            for (int kind = 0; kind < 3; ++kind) {
                const std::vector<int16_t> previous = PreviousRow(rng, fresh, kind, level);
                std::vector<int16_t> expectedGrey = previous;
                std::vector<uint32_t> expectedBits(words);
                GreyThresholdRowReference(tight.data(), expectedGrey.data(), expectedBits.data(), width,
                                          level);
                ASSERT_EQ(expectedGrey, fresh);
                for (const std::vector<uint8_t>* bgr : {&slack, &tight}) {
                    std::vector<int16_t> grey = previous;
                    grey.resize(static_cast<size_t>(width) + 16, kGreyGuard);
                    std::vector<uint32_t> bits(static_cast<size_t>(words) + 1, kWordGuard);
                    GreyThresholdRow(bgr->data(), bgr->size(), grey.data(), bits.data(), width, level);
                    ASSERT_EQ(bits.back(), kWordGuard) << "bits written past the row, width " << width;
                    bits.pop_back();
                    ASSERT_EQ(bits, expectedBits) << "width " << width << " level " << level << " kind "
                                                  << kind << " readable " << bgr->size();
                    ASSERT_EQ(std::vector<int16_t>(grey.begin() + width, grey.end()),
                              std::vector<int16_t>(16, kGreyGuard))
                        << "grey written past the row, width " << width;
                    grey.resize(static_cast<size_t>(width));
                    ASSERT_EQ(grey, fresh) << "width " << width << " level " << level;
                }
            }
        }
    }
}

TEST_P(KernelRows, ErodeImageMatchesTheReferenceRowsAndWorksInPlace) {
    std::mt19937 rng(3);
    for (int32_t width : KernelTestWidths()) {
        const int32_t words = (width + 31) / 32;
        for (int32_t height : {1, 2, 3, 6}) {
            const size_t count = static_cast<size_t>(words) * height;
            for (int density = 0; density < 3; ++density) {
                // Dirty padding bits must not leak into the last pixel of a row.
                const std::vector<uint32_t> source = RandomWords(rng, count, density);
                std::vector<uint32_t> clean = source, expected(count);
                for (int32_t y = 0; y < height; ++y) {
                    clean[static_cast<size_t>(y + 1) * words - 1] &= LastWordMask(width);
                }
                for (int32_t y = 0; y < height; ++y) {
                    const uint32_t* next =
                        y + 1 < height ? &clean[static_cast<size_t>(y + 1) * words] : nullptr;
                    ErodeRowReference(&clean[static_cast<size_t>(y) * words], next,
                                      &expected[static_cast<size_t>(y) * words], width);
                }
                std::vector<uint32_t> out(count + 1, kWordGuard);
                ErodeImage(source.data(), out.data(), words, height, LastWordMask(width));
                ASSERT_EQ(out.back(), kWordGuard) << "written past the image, width " << width;
                out.pop_back();
                ASSERT_EQ(out, expected) << "width " << width << " height " << height;
                // In place, from a buffer of the image's exact size.
                std::vector<uint32_t> inPlace = source;
                ErodeImage(inPlace.data(), inPlace.data(), words, height, LastWordMask(width));
                ASSERT_EQ(inPlace, expected) << "in place, width " << width << " height " << height;
            }
        }
    }
}

TEST(ImageKernels, TheBestSupportedSetIsChosenAndUnsupportedSetsAreRefused) {
    EXPECT_TRUE(KernelSetSupported(KernelSet::kPlain));
#if defined(__x86_64__)
    EXPECT_TRUE(KernelSetSupported(KernelSet::kSse2));
    const KernelSet best = __builtin_cpu_supports("avx2") ? KernelSet::kAvx2 : KernelSet::kSse2;
    EXPECT_EQ(KernelSetSupported(KernelSet::kAvx2), best == KernelSet::kAvx2);
    EXPECT_EQ(ActiveKernelSet(), best);
#endif
    const KernelSet before = ActiveKernelSet();
    for (KernelSet set : {KernelSet::kPlain, KernelSet::kSse2, KernelSet::kAvx2}) {
        if (!KernelSetSupported(set)) {
            EXPECT_FALSE(UseKernelSet(set));
            EXPECT_EQ(ActiveKernelSet(), before);
        }
    }
    ASSERT_TRUE(UseKernelSet(KernelSet::kPlain));
    EXPECT_EQ(ActiveKernelSet(), KernelSet::kPlain);
    ASSERT_TRUE(UseKernelSet(before));
}

TEST(ImageKernels, CountBitsStopsAtTheSameWordAsTheReference) {
    std::mt19937 rng(4);
    for (size_t count : {0u, 1u, 3u, 4u, 5u, 17u, 300u}) {
        for (int density = 0; density < 6; ++density) {
            auto words = RandomWords(rng, count, density);
            // Runs of zero words, as eroded difference images have.
            for (size_t i = 0; i < count; i += 3) {
                words[i] = 0;
            }
            for (int32_t limit : {-3, 0, 1, 31, 32, 33, 110, 210, 1000, 100000}) {
                ASSERT_EQ(CountBits(words.data(), count, limit),
                          CountBitsReference(words.data(), count, limit))
                    << "count " << count << " density " << density << " limit " << limit;
            }
        }
    }
}

TEST(ImageKernels, AbsDiffAndAndNotMatchPlainLoops) {
    std::mt19937 rng(5);
    for (size_t count : {1u, 7u, 8u, 9u, 33u, 100u}) {
        std::vector<int16_t> a(count), b(count);
        for (size_t i = 0; i < count; ++i) {
            a[i] = static_cast<int16_t>(rng());
            b[i] = static_cast<int16_t>(rng());
        }
        auto diff = a;
        AbsDiffRow(diff.data(), b.data(), count);
        for (size_t i = 0; i < count; ++i) {
            ASSERT_EQ(diff[i], static_cast<int16_t>(std::abs(a[i] - b[i])));
        }
        auto words = RandomWords(rng, count, 1), mask = RandomWords(rng, count, 1);
        auto masked = words;
        AndNotWords(masked.data(), mask.data(), count);
        for (size_t i = 0; i < count; ++i) {
            ASSERT_EQ(masked[i], words[i] & ~mask[i]);
        }
    }
}
