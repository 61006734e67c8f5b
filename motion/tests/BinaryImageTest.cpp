#include "motion/BinaryImage.h"

#include "foundation/Exceptions.h"
#include "motion/GrayScaleImage.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

CBinaryImage MakeImage(int32_t width, int32_t height, const std::vector<std::pair<int, int>>& set) {
    CBinaryImage image;
    image.Create(width, height);
    image.Fill(false);
    for (auto [x, y] : set) {
        image.SetPixel(x, y, true);
    }
    return image;
}

std::set<std::pair<int, int>> SetPixels(const CBinaryImage& image) {
    std::set<std::pair<int, int>> pixels;
    for (int y = 0; y < image.GetHeight(); ++y) {
        for (int x = 0; x < image.GetWidth(); ++x) {
            if (image.GetPixel(x, y)) {
                pixels.insert({x, y});
            }
        }
    }
    return pixels;
}

void ExpectPaddingClear(const CBinaryImage& image) {
    const int32_t used = image.GetWidth() % 32;
    if (used == 0) {
        return;
    }
    for (int y = 0; y < image.GetHeight(); ++y) {
        EXPECT_EQ(image.Row(y)[image.GetWordsPerRow() - 1] & (0xFFFFFFFFu >> used), 0u) << "row " << y;
    }
}

CGrayScaleImage Grey(int32_t width, int32_t height, int16_t value) {
    CGrayScaleImage image;
    image.Create(width, height);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
        image.Pixels()[i] = value;
    }
    return image;
}

} // namespace

TEST(BinaryImage, WordsPerRowAndBufferSize) {
    CBinaryImage image;
    image.Create(32, 3);
    EXPECT_EQ(image.GetWordsPerRow(), 1);
    EXPECT_EQ(image.GetSize(), 12u);
    image.Create(33, 3);
    EXPECT_EQ(image.GetWordsPerRow(), 2);
    EXPECT_EQ(image.GetSize(), 24u);
    image.Create(31, 1);
    EXPECT_EQ(image.GetWordsPerRow(), 1);
    // The word count of the widest possible row does not overflow.
    EXPECT_EQ(CBinaryImage::WordsPerRow(INT32_MAX), 67108864);
}

TEST(BinaryImage, ThresholdIsStrictAndSymmetricAtEveryWidth) {
    for (int32_t width : {31, 32, 33, 64, 65}) {
        // Pixel x differs by 100 from the reference, upwards at even x, downwards at odd x.
        CGrayScaleImage a = Grey(width, 3, 5000), b = Grey(width, 3, 5000);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < width; ++x) {
                b.Row(y)[x] = static_cast<int16_t>(x % 2 == 0 ? 5100 : 4900);
            }
        }
        CBinaryImage d;
        d.Threshold(a, b, 100);
        EXPECT_TRUE(SetPixels(d).empty()) << "level equal to the difference, width " << width;
        ExpectPaddingClear(d);
        d.Threshold(a, b, 99);
        EXPECT_EQ(SetPixels(d).size(), static_cast<size_t>(width) * 3) << "width " << width;
        ExpectPaddingClear(d);
        EXPECT_EQ(d.GetWordsPerRow(), (width + 31) / 32);
    }
}

TEST(BinaryImage, ThresholdBitOrderPutsTheLeftmostPixelInBit31) {
    for (int32_t width : {31, 32, 33, 64, 65}) {
        CGrayScaleImage a = Grey(width, 2, 0), b = Grey(width, 2, 0);
        b.Row(1)[0] = 1000;
        b.Row(1)[width - 1] = 1000;
        CBinaryImage d;
        d.Threshold(a, b, 10);
        EXPECT_EQ(d.Row(1)[0] & 0x80000000u, 0x80000000u);
        EXPECT_EQ(SetPixels(d), (std::set<std::pair<int, int>>{{0, 1}, {width - 1, 1}})) << width;
    }
}

TEST(BinaryImage, ThresholdOfImagesOfDifferentSizesThrows) {
    CGrayScaleImage a = Grey(32, 2, 0), b = Grey(33, 2, 0), empty;
    CBinaryImage d;
    EXPECT_THROW(d.Threshold(a, b, 1), CGeneralEx);
    EXPECT_THROW(d.Threshold(empty, empty, 1), CGeneralEx);
}

TEST(BinaryImage, ErodeShapes) {
    CBinaryImage out;
    // A single pixel vanishes.
    out.Erode(MakeImage(40, 5, {{10, 2}}));
    EXPECT_TRUE(SetPixels(out).empty());
    // A 2×2 block leaves one pixel at its first column and first row, also across a word border.
    out.Erode(MakeImage(40, 5, {{31, 1}, {32, 1}, {31, 2}, {32, 2}}));
    EXPECT_EQ(SetPixels(out), (std::set<std::pair<int, int>>{{31, 1}}));
    // A 3-wide, 2-high bar gives two pixels.
    out.Erode(MakeImage(40, 5, {{5, 0}, {6, 0}, {7, 0}, {5, 1}, {6, 1}, {7, 1}}));
    EXPECT_EQ(SetPixels(out), (std::set<std::pair<int, int>>{{5, 0}, {6, 0}}));
    // A diagonal line vanishes.
    out.Erode(MakeImage(40, 5, {{1, 1}, {2, 2}, {3, 3}}));
    EXPECT_TRUE(SetPixels(out).empty());
}

TEST(BinaryImage, ErodeClearsTheLastRowAndTheLastPixelOfEveryRow) {
    for (int32_t width : {31, 32, 33, 64, 65}) {
        CBinaryImage full;
        full.Create(width, 4);
        full.Fill(true);
        CBinaryImage out;
        out.Erode(full);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < width; ++x) {
                EXPECT_EQ(out.GetPixel(x, y), y < 3 && x < width - 1) << width << " " << x << "," << y;
            }
        }
        ExpectPaddingClear(out);
        // In place gives the same, and a second pass shrinks by one more column and row.
        full.Erode(full);
        EXPECT_EQ(SetPixels(full), SetPixels(out));
        full.Erode(full);
        EXPECT_EQ(SetPixels(full).size(), static_cast<size_t>(width - 2) * 2);
    }
}

TEST(BinaryImage, CountPixelsStopsAtTheFirstWordReachingTheLimit) {
    CBinaryImage image;
    image.Create(640, 4);
    image.Fill(false);
    for (int x = 0; x < 500; ++x) {
        image.SetPixel(x, 0, true);
    }
    const int32_t count = image.CountPixels(110);
    EXPECT_GE(count, 110);
    EXPECT_LE(count, 141);
    EXPECT_EQ(count, 128); // four full words
    EXPECT_EQ(image.CountPixels(100000), 500);
    EXPECT_EQ(image.CountPixels(500), 500);
    EXPECT_EQ(image.CountPixels(501), 500);
    image.SetPixel(639, 3, true); // the very last word counts too
    EXPECT_EQ(image.CountPixels(100000), 501);
}

TEST(BinaryImage, ApplyMaskClearsMaskedPixelsAndRefusesAnotherSize) {
    CBinaryImage d = MakeImage(33, 2, {{0, 0}, {32, 0}, {5, 1}});
    const CBinaryImage mask = MakeImage(33, 2, {{32, 0}, {6, 1}});
    EXPECT_TRUE(d.ApplyMask(mask));
    EXPECT_EQ(SetPixels(d), (std::set<std::pair<int, int>>{{0, 0}, {5, 1}}));
    // A mask of another size (a camera whose video size changed) is not read at all.
    const CBinaryImage small = MakeImage(32, 2, {{0, 0}});
    EXPECT_FALSE(d.ApplyMask(small));
    EXPECT_EQ(SetPixels(d), (std::set<std::pair<int, int>>{{0, 0}, {5, 1}}));
    EXPECT_FALSE(d.ApplyMask(CBinaryImage{}));
}

TEST(BinaryImage, DrawToFramePaintsSetPixelsRedOnPaddedRows) {
    for (int32_t width : {33, 65}) {
        const int32_t stride = (width * 3 + 3) & ~3;
        std::vector<uint8_t> frame(static_cast<size_t>(stride) * 3, 0x77);
        const CBinaryImage d = MakeImage(width, 3, {{0, 0}, {width - 1, 2}, {32, 1}});
        d.DrawToFrame(frame.data(), stride);
        size_t red = 0;
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < width; ++x) {
                const uint8_t* p = &frame[static_cast<size_t>(y) * stride + 3 * x];
                if (d.GetPixel(x, y)) {
                    EXPECT_EQ(p[0], 0);
                    EXPECT_EQ(p[1], 0);
                    EXPECT_EQ(p[2], 255);
                    ++red;
                } else {
                    EXPECT_EQ(p[0], 0x77);
                }
            }
            for (int i = width * 3; i < stride; ++i) {
                EXPECT_EQ(frame[static_cast<size_t>(y) * stride + i], 0x77);
            }
        }
        EXPECT_EQ(red, 3u);
    }
}

TEST(BinaryImage, BitmapRoundTripKeepsEveryBitAndRowOrder) {
    std::mt19937 rng(13);
    for (int32_t width : {32, 64, 31, 33, 65, 100}) {
        CBinaryImage image;
        image.Create(width, 6);
        image.Fill(false);
        for (int y = 0; y < 6; ++y) {
            for (int x = 0; x < width; ++x) {
                image.SetPixel(x, y, rng() % 3 == 0);
            }
        }
        image.SetPixel(0, 0, true);
        CMonoBitmap bitmap;
        image.ToBitmap(bitmap);
        EXPECT_EQ(bitmap.rowBytes, image.GetWordsPerRow() * 4);
        EXPECT_TRUE(bitmap.GetPixel(0, 0)); // top row first, leftmost pixel = MSB of byte 0
        EXPECT_EQ(bitmap.bits[0] & 0x80, 0x80);
        for (int y = 0; y < 6; ++y) {
            for (int x = 0; x < width; ++x) {
                ASSERT_EQ(bitmap.GetPixel(x, y), image.GetPixel(x, y));
            }
        }
        CBinaryImage back;
        back.FromBitmap(bitmap);
        EXPECT_EQ(SetPixels(back), SetPixels(image)) << width;
        ExpectPaddingClear(back);
    }
}

TEST(BinaryImage, FromBitmapHonoursShortSixteenBitAlignedRows) {
    // Width 33 in 16-bit aligned rows: 6 bytes a row, where the image has 8.
    CMonoBitmap bitmap;
    bitmap.width = 33;
    bitmap.height = 3;
    bitmap.rowBytes = 6;
    bitmap.bits.assign(18, 0);
    bitmap.SetPixel(32, 0, true);
    bitmap.SetPixel(0, 1, true);
    bitmap.SetPixel(17, 2, true);
    bitmap.bits[5] = 0xFF; // row 0's bits past the width: dropped
    bitmap.SetPixel(32, 0, true);
    CBinaryImage image;
    image.FromBitmap(bitmap);
    EXPECT_EQ(SetPixels(image), (std::set<std::pair<int, int>>{{32, 0}, {0, 1}, {17, 2}}));
    ExpectPaddingClear(image);
}

TEST(BinaryImage, FromBitmapRejectsShortBitmapsAndEmptiesOnEmpty) {
    CMonoBitmap bitmap;
    bitmap.width = 40;
    bitmap.height = 2;
    bitmap.rowBytes = 4; // needs 5
    bitmap.bits.assign(8, 0);
    CBinaryImage image = MakeImage(8, 8, {{1, 1}});
    EXPECT_THROW(image.FromBitmap(bitmap), CGeneralEx);
    bitmap.rowBytes = 6;
    EXPECT_THROW(image.FromBitmap(bitmap), CGeneralEx); // 12 bytes needed, 8 given
    image.FromBitmap(CMonoBitmap{});
    EXPECT_TRUE(image.IsEmpty());
    CMonoBitmap out;
    out.width = 3;
    image.ToBitmap(out);
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_TRUE(out.bits.empty());
}

TEST(BinaryImage, AssignmentCopiesOrEmpties) {
    const CBinaryImage a = MakeImage(70, 3, {{69, 2}});
    CBinaryImage b;
    b = a;
    EXPECT_EQ(SetPixels(b), SetPixels(a));
    EXPECT_NE(b.GetData(), a.GetData());
    b = CBinaryImage{};
    EXPECT_TRUE(b.IsEmpty());
}
