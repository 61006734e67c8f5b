// The fast row kernels against the plain one-pixel-at-a-time references, on random data at the
// widths where vector steps and scalar tails meet.

#include "motion/ImageKernels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace imagekernels;

namespace {

const int32_t kWidths[] = {1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 47, 48, 63, 64, 65, 95, 127, 128, 129, 640};

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

} // namespace

TEST(ImageKernels, GreyRowMatchesReferenceWithAndWithoutSlack) {
    std::mt19937 rng(1);
    for (int32_t width : kWidths) {
        std::vector<uint8_t> bgr(static_cast<size_t>(width) * 3 + 64);
        for (auto& b : bgr) {
            b = static_cast<uint8_t>(rng());
        }
        std::vector<int16_t> expected(width), fast(width, -1), tight(width, -1);
        GreyRowReference(bgr.data(), expected.data(), width);
        GreyRow(bgr.data(), fast.data(), width, bgr.size());
        GreyRow(bgr.data(), tight.data(), width, static_cast<size_t>(width) * 3);
        EXPECT_EQ(fast, expected) << "width " << width;
        EXPECT_EQ(tight, expected) << "width " << width;
    }
}

TEST(ImageKernels, GreyRowOfExtremeBytes) {
    // All 255 gives the largest value; the vector pack must not saturate or sign-flip it.
    std::vector<uint8_t> bgr(64 * 3, 255);
    std::vector<int16_t> grey(64);
    GreyRow(bgr.data(), grey.data(), 64, bgr.size());
    for (int16_t v : grey) {
        EXPECT_EQ(v, 18615);
    }
}

TEST(ImageKernels, ThresholdRowMatchesReferenceAtEveryWidthAndLevel) {
    std::mt19937 rng(2);
    const int32_t levels[] = {-5,    -1,    0,     1,     2,     100,   2792, 9307,
                              18614, 18615, 32767, 32768, 65534, 65535, 70000};
    for (int32_t width : kWidths) {
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
                std::vector<uint32_t> expected(words), fast(words, 0xDEADBEEFu);
                ThresholdRowReference(a.data(), b.data(), expected.data(), width, level);
                ThresholdRow(a.data(), b.data(), fast.data(), width, level);
                ASSERT_EQ(fast, expected) << "width " << width << " level " << level;
                // Swapping the operands gives the same bits (|a − b| = |b − a|).
                ThresholdRow(b.data(), a.data(), fast.data(), width, level);
                ASSERT_EQ(fast, expected) << "swapped, width " << width << " level " << level;
            }
        }
    }
}

TEST(ImageKernels, ErodeRowMatchesReferenceAndWorksInPlace) {
    std::mt19937 rng(3);
    for (int32_t width : kWidths) {
        const int32_t words = (width + 31) / 32;
        for (int density = 0; density < 3; ++density) {
            auto row = RandomWords(rng, words, density);
            auto next = RandomWords(rng, words, density);
            // Dirty padding bits must not leak into the last pixel.
            std::vector<uint32_t> expected(words), fast(words);
            auto cleanRow = row, cleanNext = next;
            cleanRow.back() &= LastWordMask(width);
            cleanNext.back() &= LastWordMask(width);
            ErodeRowReference(cleanRow.data(), cleanNext.data(), expected.data(), width);
            ErodeRow(row.data(), next.data(), fast.data(), words, LastWordMask(width));
            ASSERT_EQ(fast, expected) << "width " << width;
            ErodeRow(row.data(), next.data(), row.data(), words, LastWordMask(width));
            ASSERT_EQ(row, expected) << "in place, width " << width;
            ErodeRow(next.data(), nullptr, fast.data(), words, LastWordMask(width));
            ASSERT_EQ(fast, std::vector<uint32_t>(words, 0)) << "last row, width " << width;
        }
    }
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
