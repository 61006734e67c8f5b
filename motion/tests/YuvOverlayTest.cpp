// The overlay drawn into I420 frames (cameras that decode to YUV): the texts and the changed pixels
// land on the same pixels as in a BGR frame, in the BT.601 form of their colours at the frame's
// range, with the chroma of the blocks they touch; nothing outside them changes.

#include "motion/BinaryImage.h"
#include "motion/TextOverlay.h"
#include "motion/YuvPlanes.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// An I420 frame of a flat grey, planes apart with padded rows.
struct CTestYuvFrame {
    CTestYuvFrame(int32_t width, int32_t height, bool fullRange)
        : y(static_cast<size_t>(width + 3) * height, 100),
          u(static_cast<size_t>((width + 1) / 2 + 5) * ((height + 1) / 2), 128),
          v(u.size(), 128) {
        planes.y = y.data();
        planes.u = u.data();
        planes.v = v.data();
        planes.strideY = width + 3;
        planes.strideU = (width + 1) / 2 + 5;
        planes.strideV = planes.strideU;
        planes.fullRange = fullRange;
    }
    std::vector<uint8_t> y, u, v;
    CYuvPlanes planes;
};

} // namespace

TEST(YuvOverlay, ColoursAreTheBt601FormsOfGreenRedAndBlack) {
    const CYuvColour green = YuvColourOf(0, 255, 0, false);
    EXPECT_EQ(green.y, 145);
    EXPECT_EQ(green.u, 54);
    EXPECT_EQ(green.v, 34);
    const CYuvColour red = YuvColourOf(0, 0, 255, false);
    EXPECT_EQ(red.y, 81);
    EXPECT_EQ(red.u, 90);
    EXPECT_EQ(red.v, 240);
    const CYuvColour black = YuvColourOf(0, 0, 0, false);
    EXPECT_EQ(black.y, 16);
    EXPECT_EQ(black.u, 128);
    const CYuvColour white = YuvColourOf(255, 255, 255, true);
    EXPECT_EQ(white.y, 255);
    EXPECT_EQ(white.u, 128);
    EXPECT_EQ(white.v, 128);
}

TEST(YuvOverlay, TextLandsOnTheSamePixelsAsInABgrFrame) {
    constexpr int32_t kWidth = 101, kHeight = 37; // odd: the last chroma column and row are half used
    for (bool transparent : {false, true}) {
        for (bool fullRange : {false, true}) {
            std::vector<uint8_t> bgr(static_cast<size_t>(kWidth) * 3 * kHeight, 77);
            CTestYuvFrame yuv(kWidth, kHeight, fullRange);
            CTextOverlay overlay;
            overlay.Init(kWidth, kHeight, transparent);
            overlay.DrawText(bgr.data(), 90, 30, "Cam 9", 0); // clipped at the right and top
            overlay.DrawText(yuv.planes, 90, 30, "Cam 9");
            overlay.DrawText(bgr.data(), -3, 0, "12:34");
            overlay.DrawText(yuv.planes, -3, 0, "12:34");
            const CYuvColour green = YuvColourOf(0, 255, 0, fullRange);
            const CYuvColour black = YuvColourOf(0, 0, 0, fullRange);
            int textPixels = 0;
            for (int32_t y = 0; y < kHeight; ++y) {
                for (int32_t x = 0; x < kWidth; ++x) {
                    const uint8_t* p = &bgr[static_cast<size_t>(y * kWidth + x) * 3];
                    const uint8_t luma = yuv.y[static_cast<size_t>(y) * yuv.planes.strideY + x];
                    const uint8_t u = yuv.u[static_cast<size_t>(y / 2) * yuv.planes.strideU + x / 2];
                    if (p[1] == 255 && p[0] == 0) {
                        ++textPixels;
                        ASSERT_EQ(luma, green.y) << x << "," << y;
                        ASSERT_EQ(u, green.u) << "a block with text shows the text's colour";
                    } else if (p[1] == 0 && p[0] == 0) {
                        ASSERT_EQ(luma, black.y) << x << "," << y;
                    } else {
                        ASSERT_EQ(luma, 100) << "untouched at " << x << "," << y;
                    }
                }
            }
            EXPECT_GT(textPixels, 20);
            // The padding past each row is never written.
            for (int32_t y = 0; y < kHeight; ++y) {
                for (int32_t x = kWidth; x < yuv.planes.strideY; ++x) {
                    ASSERT_EQ(yuv.y[static_cast<size_t>(y) * yuv.planes.strideY + x], 100);
                }
            }
        }
    }
}

TEST(YuvOverlay, ChangedPixelsArePaintedRedWithTheirChroma) {
    constexpr int32_t kWidth = 67, kHeight = 5;
    CBinaryImage changed;
    changed.Create(kWidth, kHeight);
    changed.Fill(false);
    changed.SetPixel(0, 0, true);
    changed.SetPixel(66, 4, true);
    changed.SetPixel(33, 2, true);
    CTestYuvFrame yuv(kWidth, kHeight, false);
    changed.DrawToFrame(yuv.planes);
    const CYuvColour red = YuvColourOf(0, 0, 255, false);
    int redPixels = 0;
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const uint8_t luma = yuv.y[static_cast<size_t>(y) * yuv.planes.strideY + x];
            if (changed.GetPixel(x, y)) {
                ++redPixels;
                EXPECT_EQ(luma, red.y);
                EXPECT_EQ(yuv.v[static_cast<size_t>(y / 2) * yuv.planes.strideV + x / 2], red.v);
            } else {
                EXPECT_EQ(luma, 100);
            }
        }
    }
    EXPECT_EQ(redPixels, 3);
}
