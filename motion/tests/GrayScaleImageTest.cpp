#include "motion/GrayScaleImage.h"

#include "foundation/Exceptions.h"
#include "motion/BinaryImage.h"
#include "motion/ImageKernels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// A BGR frame with rows stride bytes apart; the padding bytes hold a marker that must survive.
struct Frame {
    Frame(int32_t w, int32_t h, int32_t strideBytes, uint8_t pad = 0xA5)
        : width(w), height(h), stride(strideBytes), bytes(static_cast<size_t>(strideBytes) * h, pad) {}
    uint8_t* Pixel(int32_t x, int32_t y) { return bytes.data() + static_cast<size_t>(y) * stride + 3 * x; }
    int32_t width, height, stride;
    std::vector<uint8_t> bytes;
};

int32_t Padded(int32_t width) {
    return (width * 3 + 3) & ~3;
}

int16_t GreyOfPixel(int32_t b, int32_t g, int32_t r) {
    return static_cast<int16_t>(11 * b + 59 * g + 3 * r);
}

} // namespace

TEST(GrayScaleImage, PureColoursGiveTheirWeightsTimes255) {
    struct Case {
        uint8_t b, g, r;
        int16_t grey;
    } cases[] = {
        {255, 255, 255, 18615}, {0, 0, 255, 765}, {255, 0, 0, 2805}, {0, 255, 0, 15045}, {0, 0, 0, 0}};
    for (const Case& c : cases) {
        // 20 pixels: the vector steps and the scalar tail both see the colour.
        std::vector<uint8_t> frame;
        for (int i = 0; i < 20; ++i) {
            frame.insert(frame.end(), {c.b, c.g, c.r});
        }
        CGrayScaleImage image;
        image.FromFrame(frame.data(), 20, 1);
        for (int x = 0; x < 20; ++x) {
            EXPECT_EQ(image.Row(0)[x], c.grey) << int(c.b) << "," << int(c.g) << "," << int(c.r);
        }
    }
}

TEST(GrayScaleImage, ToFrameScalesBackTo255AndClampsStrangeValues) {
    CGrayScaleImage image;
    image.Create(4, 1);
    image.Row(0)[0] = 18615;
    image.Row(0)[1] = 9307; // 9307 · 255 / 18615 = 127.49 -> 127
    image.Row(0)[2] = -100;
    image.Row(0)[3] = 30000;
    std::vector<uint8_t> frame(12, 7);
    image.ToFrame(frame.data());
    EXPECT_EQ(frame, (std::vector<uint8_t>{255, 255, 255, 127, 127, 127, 0, 0, 0, 255, 255, 255}));
}

TEST(GrayScaleImage, PaddedStridesAtOddWidthsKeepRowOrderAndPadding) {
    std::mt19937 rng(7);
    for (int32_t width : {1, 31, 33, 65, 67}) {
        const int32_t height = 5;
        Frame frame(width, height, Padded(width));
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                uint8_t* p = frame.Pixel(x, y);
                p[0] = static_cast<uint8_t>(rng());
                p[1] = static_cast<uint8_t>(rng());
                p[2] = static_cast<uint8_t>(rng());
            }
        }
        CGrayScaleImage image;
        image.FromFrame(frame.bytes.data(), width, height, frame.stride);
        ASSERT_EQ(image.GetWidth(), width);
        ASSERT_EQ(image.GetHeight(), height);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t* p = frame.Pixel(x, y);
                ASSERT_EQ(image.Row(y)[x], GreyOfPixel(p[0], p[1], p[2])) << width << " " << x << "," << y;
            }
        }
        // ToFrame writes pixels only, never the padding bytes between rows.
        Frame out(width, height, Padded(width), 0x5A);
        image.ToFrame(out.bytes.data(), out.stride);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t i = width * 3; i < out.stride; ++i) {
                ASSERT_EQ(out.bytes[static_cast<size_t>(y) * out.stride + i], 0x5A);
            }
            const uint8_t* p = out.Pixel(width - 1, y);
            const uint8_t expected = static_cast<uint8_t>(image.Row(y)[width - 1] * 255 / 18615);
            EXPECT_EQ(p[0], expected);
            EXPECT_EQ(p[2], expected);
        }
    }
}

TEST(GrayScaleImage, CreateKeepsBufferAndContentWhenTheSizeIsUnchanged) {
    CGrayScaleImage image;
    EXPECT_TRUE(image.IsEmpty());
    image.Create(33, 2);
    EXPECT_EQ(image.GetSize(), 33u * 2 * 2);
    image.Row(1)[32] = 1234;
    const void* data = image.GetData();
    image.Create(33, 2);
    EXPECT_EQ(image.GetData(), data);
    EXPECT_EQ(image.Row(1)[32], 1234);
    image.Create(32, 2);
    EXPECT_EQ(image.GetSize(), 32u * 2 * 2);
    image.Free();
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.GetHeight(), 0);
    image.Create(0, 10);
    EXPECT_TRUE(image.IsEmpty());
    image.Create(-4, 10);
    EXPECT_TRUE(image.IsEmpty());
}

TEST(GrayScaleImage, BadFramesThrowAndLeaveNoHalfMadeImage) {
    CGrayScaleImage image;
    std::vector<uint8_t> frame(100 * 3);
    EXPECT_THROW(image.FromFrame(nullptr, 10, 10), CGeneralEx);
    EXPECT_THROW(image.FromFrame(frame.data(), 0, 10), CGeneralEx);
    EXPECT_THROW(image.FromFrame(frame.data(), 10, -1), CGeneralEx);
    EXPECT_THROW(image.FromFrame(frame.data(), 10, 10, 29), CGeneralEx);
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_THROW(image.Create(1 << 20, 1 << 20), CGeneralEx);
    EXPECT_TRUE(image.IsEmpty());
    CGrayScaleImage a, b;
    a.Create(9, 1);
    b.Create(8, 1);
    EXPECT_THROW(a.AbsDiff(b), CGeneralEx);
}

TEST(GrayScaleImage, UpdateFromFrameReplacesTheValuesAndMarksTheChangedPixels) {
    const int32_t width = 37, height = 3;
    Frame before(width, height, width * 3 + 1, 0), after(width, height, width * 3 + 1, 0);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = before.Pixel(x, y);
            p[0] = p[1] = p[2] = 100;
            // Pixel x moves by x grey steps of 73 (all three bytes up by x).
            uint8_t* q = after.Pixel(x, y);
            q[0] = q[1] = q[2] = static_cast<uint8_t>(100 + x);
        }
    }
    CGrayScaleImage image, expected;
    image.FromFrame(before.bytes.data(), width, height, before.stride);
    expected.FromFrame(after.bytes.data(), width, height, after.stride);
    CBinaryImage changed;
    image.UpdateFromFrame(after.bytes.data(), width, height, after.stride, 73 * 30, changed);
    ASSERT_EQ(changed.GetWidth(), width);
    ASSERT_EQ(changed.GetHeight(), height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            ASSERT_EQ(image.Row(y)[x], expected.Row(y)[x]) << x << "," << y;
            EXPECT_EQ(changed.GetPixel(x, y), x > 30) << x << "," << y; // strictly above the level
        }
        EXPECT_EQ(changed.Row(y)[1] & ~imagekernels::LastWordMask(width), 0u) << "padding bits stay clear";
    }
}

TEST(GrayScaleImage, UpdateFromFrameRefusesOtherSizesAndBadFramesWithoutChangingAnything) {
    std::vector<uint8_t> frame(10 * 4 * 3, 50);
    CGrayScaleImage image;
    CBinaryImage changed;
    EXPECT_THROW(image.UpdateFromFrame(frame.data(), 10, 4, 0, 100, changed), CGeneralEx) << "empty image";
    image.FromFrame(frame.data(), 10, 4);
    image.Row(0)[0] = 7;
    changed.Create(3, 3);
    EXPECT_THROW(image.UpdateFromFrame(frame.data(), 10, 3, 0, 100, changed), CGeneralEx);
    EXPECT_THROW(image.UpdateFromFrame(frame.data(), 9, 4, 0, 100, changed), CGeneralEx);
    EXPECT_THROW(image.UpdateFromFrame(nullptr, 10, 4, 0, 100, changed), CGeneralEx);
    EXPECT_THROW(image.UpdateFromFrame(frame.data(), 10, 4, 29, 100, changed), CGeneralEx);
    EXPECT_EQ(image.Row(0)[0], 7);
    EXPECT_EQ(image.GetWidth(), 10);
    EXPECT_EQ(changed.GetWidth(), 3);
}
