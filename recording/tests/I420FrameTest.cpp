// The I420 form of buffered frames: GStreamer's layout, the fast conversion bit-identical to the
// reference at every width and odd strides, the BT.601 values of pure colours, and the
// pre-event buffer keeping I420 frames in half the memory of BGR ones.

#include "recording/I420Frame.h"
#include "recording/PreEventBuffer.h"

#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

std::vector<uint8_t> Convert(const std::vector<uint8_t>& bgr, int32_t stride, int32_t width, int32_t height,
                             bool fast) {
    const CI420Layout layout = CI420Layout::For(width, height);
    std::vector<uint8_t> out(layout.size, 0);
    if (fast) {
        i420::BgrToI420(bgr.data(), stride, layout, out.data());
    } else {
        i420::BgrToI420Reference(bgr.data(), stride, layout, out.data());
    }
    return out;
}

class CFastConversion {
public:
    CFastConversion() { i420::UseFastConversion(true); }
    ~CFastConversion() { i420::UseFastConversion(true); }
};

} // namespace

TEST(I420FrameTest, LayoutIsGStreamersForEverySize) {
    std::vector<std::pair<int, int>> sizes = {{1920, 1080}, {641, 479}, {1280, 720}, {3, 1}};
    for (int width = 1; width <= 40; ++width) {
        for (int height = 1; height <= 5; ++height) {
            sizes.emplace_back(width, height);
        }
    }
    for (const auto& [width, height] : sizes) {
        GstVideoInfo info;
        ASSERT_TRUE(gst_video_info_set_format(&info, GST_VIDEO_FORMAT_I420, width, height));
        const CI420Layout layout = CI420Layout::For(width, height);
        EXPECT_EQ(layout.size, GST_VIDEO_INFO_SIZE(&info)) << width << "x" << height;
        for (int plane = 0; plane < 3; ++plane) {
            EXPECT_EQ(layout.stride[plane], GST_VIDEO_INFO_PLANE_STRIDE(&info, plane))
                << width << "x" << height;
            EXPECT_EQ(layout.offset[plane], GST_VIDEO_INFO_PLANE_OFFSET(&info, plane))
                << width << "x" << height;
        }
    }
    EXPECT_EQ(CI420Layout::For(0, 10).size, 0u);
    EXPECT_EQ(CI420Layout::For(10, -1).size, 0u);
}

TEST(I420FrameTest, FastConversionGivesTheReferenceBytesAtEveryWidthAndOddStrides) {
    if (!i420::FastConversionSupported()) {
        GTEST_SKIP() << "no fast conversion on this processor";
    }
    CFastConversion restore;
    std::mt19937 random(20261208);
    std::vector<int> widths;
    for (int width = 1; width <= 97; ++width) {
        widths.push_back(width);
    }
    widths.insert(widths.end(), {639, 640, 1279, 1920});
    for (int width : widths) {
        for (int height : {1, 2, 3, 8}) {
            for (int extra : {0, 1, 7}) {
                const int32_t stride = width * 3 + extra;
                std::vector<uint8_t> bgr(static_cast<size_t>(stride) * height);
                for (uint8_t& byte : bgr) {
                    byte = static_cast<uint8_t>(random());
                }
                ASSERT_EQ(Convert(bgr, stride, width, height, true),
                          Convert(bgr, stride, width, height, false))
                    << width << "x" << height << " stride " << stride;
            }
        }
    }
}

TEST(I420FrameTest, PureColoursGetTheirStudioRangeValues) {
    struct CColour {
        uint8_t b, g, r, y, u, v;
    };
    // BT.601 at studio range, in the 8-bit fixed point of the conversion (pure green 144.5 -> 144).
    const CColour colours[] = {{255, 255, 255, 235, 128, 128},
                               {0, 0, 0, 16, 128, 128},
                               {0, 0, 255, 82, 90, 240},
                               {0, 255, 0, 144, 54, 34},
                               {255, 0, 0, 41, 240, 110}};
    for (bool fast : {true, false}) {
        for (const CColour& colour : colours) {
            constexpr int kSide = 18;
            std::vector<uint8_t> bgr(kSide * kSide * 3);
            for (size_t i = 0; i < bgr.size(); i += 3) {
                bgr[i] = colour.b;
                bgr[i + 1] = colour.g;
                bgr[i + 2] = colour.r;
            }
            const std::vector<uint8_t> out = Convert(bgr, kSide * 3, kSide, kSide, fast);
            const CI420Layout layout = CI420Layout::For(kSide, kSide);
            EXPECT_EQ(out[layout.offset[0] + 17], colour.y);
            EXPECT_EQ(out[layout.offset[1] + 8], colour.u);
            EXPECT_EQ(out[layout.offset[2] + 8], colour.v);
        }
    }
}

TEST(I420FrameTest, PreEventBufferKeepsI420FramesInHalfTheMemoryOfBgr) {
    constexpr int32_t kWidth = 64;
    constexpr int32_t kHeight = 48;
    const int32_t bgrBytes = kWidth * 3 * kHeight;
    const CI420Layout layout = CI420Layout::For(kWidth, kHeight);
    ASSERT_EQ(layout.size * 2, static_cast<size_t>(bgrBytes));

    std::vector<uint8_t> bgr(static_cast<size_t>(bgrBytes), 200);
    CPreEventBuffer raw(100);
    raw.SetMemoryCap(4LL * bgrBytes);
    CPreEventBuffer compact(100);
    compact.SetMemoryCap(4LL * bgrBytes);
    for (int n = 0; n < 20; ++n) {
        CMediaSample sample(bgr.data(), bgrBytes);
        raw.AddSample(&sample);
        compact.AddBgrFrameAsI420(bgr.data(), kWidth, kHeight, kWidth * 3);
    }
    EXPECT_EQ(raw.GetFrameFormat(), CPreEventBuffer::EFrameFormat::AsAdded);
    int32_t width = 0;
    int32_t height = 0;
    EXPECT_EQ(compact.GetFrameFormat(&width, &height), CPreEventBuffer::EFrameFormat::I420);
    EXPECT_EQ(width, kWidth);
    EXPECT_EQ(height, kHeight);
    EXPECT_EQ(raw.GetWindow(), 4);
    EXPECT_EQ(compact.GetWindow(), 8) << "the same memory holds twice the frames";

    // The frames come out as the I420 conversion of what went in.
    std::vector<uint8_t> expected(layout.size, 0);
    i420::BgrToI420Reference(bgr.data(), kWidth * 3, layout, expected.data());
    CPreEventBufferIterator* it = compact.StartIterator();
    std::vector<uint8_t> out(layout.size, 0);
    CMediaSample sample(out.data(), static_cast<int32_t>(out.size()));
    REFERENCE_TIME duration = -1;
    it->GetSample(&sample, &duration);
    EXPECT_NE(duration, -1);
    EXPECT_EQ(out, expected);
    compact.StopIterator(it);

    // Nothing is kept of a frame without pixels or size.
    CPreEventBuffer empty(4);
    empty.AddBgrFrameAsI420(nullptr, kWidth, kHeight, kWidth * 3);
    empty.AddBgrFrameAsI420(bgr.data(), 0, kHeight, kWidth * 3);
    EXPECT_EQ(empty.GetCurrentSize(), 0);
}

// A camera that decodes to YUV hands its I420 planes to the buffer as they are: whatever their
// strides and places (a decoder's padded rows, planes apart), the buffered frame is GStreamer's
// layout of the same pixels, ready for the encoders.
TEST(I420FrameTest, I420FramesOfAnyStridesAreBufferedInTheStandardLayout) {
    std::mt19937 rng(21);
    for (auto [width, height] : std::vector<std::pair<int32_t, int32_t>>{{64, 48}, {317, 241}, {1, 1}}) {
        const CI420Layout layout = CI420Layout::For(width, height);
        const int32_t chromaWidth = (width + 1) / 2;
        const int32_t chromaRows = (height + 1) / 2;
        const int32_t strides[3] = {width + 37, chromaWidth + 5, chromaWidth + 11};
        std::vector<uint8_t> y(static_cast<size_t>(strides[0]) * height);
        std::vector<uint8_t> u(static_cast<size_t>(strides[1]) * chromaRows);
        std::vector<uint8_t> v(static_cast<size_t>(strides[2]) * chromaRows);
        for (auto* plane : {&y, &u, &v}) {
            for (auto& b : *plane) {
                b = static_cast<uint8_t>(rng());
            }
        }
        CPreEventBuffer buffer(2);
        const uint8_t* const planes[3] = {y.data(), u.data(), v.data()};
        buffer.AddI420Frame(planes, strides, width, height);
        int32_t bufferedWidth = 0;
        ASSERT_EQ(buffer.GetFrameFormat(&bufferedWidth), CPreEventBuffer::EFrameFormat::I420);
        EXPECT_EQ(bufferedWidth, width);
        CPreEventBufferIterator* it = buffer.StartIterator();
        std::vector<uint8_t> out(layout.size, 0);
        CMediaSample sample(out.data(), static_cast<int32_t>(out.size()));
        REFERENCE_TIME duration = -1;
        it->GetSample(&sample, &duration);
        buffer.StopIterator(it);
        const std::vector<uint8_t>* source[3] = {&y, &u, &v};
        const int32_t rows[3] = {height, chromaRows, chromaRows};
        const int32_t rowBytes[3] = {width, chromaWidth, chromaWidth};
        for (int p = 0; p < 3; ++p) {
            for (int32_t r = 0; r < rows[p]; ++r) {
                for (int32_t x = 0; x < rowBytes[p]; ++x) {
                    ASSERT_EQ(out[layout.offset[p] + static_cast<size_t>(r) * layout.stride[p] + x],
                              (*source[p])[static_cast<size_t>(r) * strides[p] + x])
                        << "plane " << p << " at " << x << "," << r << " of " << width << "x" << height;
                }
            }
        }
    }
    // Planes that do not fit the width are not kept.
    CPreEventBuffer buffer(2);
    std::vector<uint8_t> plane(64 * 64, 0);
    const uint8_t* const planes[3] = {plane.data(), plane.data(), plane.data()};
    const int32_t shortLuma[3] = {63, 32, 32};
    buffer.AddI420Frame(planes, shortLuma, 64, 48);
    const uint8_t* const missing[3] = {plane.data(), nullptr, plane.data()};
    const int32_t strides[3] = {64, 32, 32};
    buffer.AddI420Frame(missing, strides, 64, 48);
    EXPECT_EQ(buffer.GetCurrentSize(), 0);
}

// The way back for the hub's listeners: BT.601 studio and full range back to the BGR colours
// (within the rounding of two conversions), chroma shared by each 2x2 block.
TEST(I420FrameTest, I420ToBgrGivesBackTheColoursOfTheConversion) {
    constexpr int32_t kWidth = 6, kHeight = 2;
    const uint8_t colours[3][3] = {{0, 255, 0}, {0, 0, 255}, {40, 128, 200}}; // BGR, one per 2x2 block
    std::vector<uint8_t> bgr(kWidth * 3 * kHeight);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            for (int c = 0; c < 3; ++c) {
                bgr[static_cast<size_t>(y * kWidth + x) * 3 + c] = colours[x / 2][c];
            }
        }
    }
    const CI420Layout layout = CI420Layout::For(kWidth, kHeight);
    std::vector<uint8_t> i420(layout.size);
    i420::BgrToI420Reference(bgr.data(), kWidth * 3, layout, i420.data());
    const uint8_t* const planes[3] = {i420.data(), i420.data() + layout.offset[1], i420.data() + layout.offset[2]};
    std::vector<uint8_t> back(bgr.size());
    i420::I420ToBgr(planes, layout.stride, kWidth, kHeight, false, back.data(), kWidth * 3);
    for (size_t i = 0; i < bgr.size(); ++i) {
        EXPECT_NEAR(back[i], bgr[i], 3) << "byte " << i;
    }
    // Full range: Y 0..255, as JPEG decoders give it. White and black stay exact.
    const int32_t none[3] = {1, 1, 1};
    uint8_t pixel[3] = {};
    const uint8_t neutral[3] = {255, 128, 128};
    const uint8_t* const whitePlanes[3] = {&neutral[0], &neutral[1], &neutral[2]};
    i420::I420ToBgr(whitePlanes, none, 1, 1, true, pixel, 3);
    EXPECT_EQ(pixel[0], 255);
    EXPECT_EQ(pixel[1], 255);
    EXPECT_EQ(pixel[2], 255);
}
