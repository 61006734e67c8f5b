// The compact pre-event buffer: whatever it holds begins with a key frame and covers the window
// (and no more than one group of pictures beyond it), so the first frame of every file decodes;
// a reader gets the buffered units, then the new ones, and ends when flushed, aborted or when the
// stream changes; an open reader holds units back from the window but not past the memory cap.
// And the continuous encoder of a local camera fills it with real H.264, within that bound.

#include "recording/EncodedPreEventBuffer.h"
#include "recording/PreEventEncoder.h"
#include "recording/RecordContainer.h"
#include "recording/tests/GstTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr GstClockTime kUnitNs = 100 * GST_MSECOND; // 10 units a second
constexpr int kGroup = 10;                          // a key frame every second

class EncodedPreEventBufferTest : public ::testing::Test {
protected:
    void SetUp() override {
        gsttest::StartGStreamer();
        GstCaps* caps = gst_caps_from_string("video/x-h264,stream-format=byte-stream,alignment=au");
        m_buffer.SetCaps(caps);
        gst_caps_unref(caps);
    }
    // Unit n: 1000 bytes holding n, a key frame every kGroup.
    void AddUnits(int from, int count, int group = kGroup) {
        for (int n = from; n < from + count; ++n) {
            GstBuffer* unit = gst_buffer_new_allocate(nullptr, 1000, nullptr);
            gst_buffer_memset(unit, 0, static_cast<guint8>(n), 1000);
            GST_BUFFER_PTS(unit) = GST_BUFFER_DTS(unit) = static_cast<GstClockTime>(n) * kUnitNs;
            if (n % group != 0) {
                GST_BUFFER_FLAG_SET(unit, GST_BUFFER_FLAG_DELTA_UNIT);
            }
            m_buffer.Add(unit);
            gst_buffer_unref(unit);
        }
    }
    static int NumberOf(GstBuffer* unit) {
        guint8 first = 0;
        gst_buffer_extract(unit, 0, &first, 1);
        return first;
    }
    static bool IsKey(GstBuffer* unit) { return !GST_BUFFER_FLAG_IS_SET(unit, GST_BUFFER_FLAG_DELTA_UNIT); }

    CEncodedPreEventBuffer m_buffer;
};

TEST_F(EncodedPreEventBufferTest, HoldsTheWindowFromTheKeyFrameBeforeItAndNothingBeforeTheFirstKeyFrame) {
    m_buffer.SetWindow(2 * 10000000LL); // 2 s
    AddUnits(5, 5);                     // delta units before any key frame: undecodable
    EXPECT_EQ(m_buffer.GetUnitCount(), 0);
    AddUnits(10, 10);
    for (int from = 20; from < 100; from += 7) {
        AddUnits(from, 7);
        ASSERT_TRUE(m_buffer.StartsWithKeyFrame()) << from;
        const REFERENCE_TIME held = m_buffer.GetHeldDuration();
        if (from + 6 >= 30) {
            // At least the window, at most one group of pictures more.
            EXPECT_GE(held, 2 * 10000000LL) << from;
            EXPECT_LT(held, 3 * 10000000LL) << from;
        }
    }
    EXPECT_LE(m_buffer.GetHeldBytes(), 31 * 1000);
    m_buffer.Clear();
    EXPECT_EQ(m_buffer.GetHeldBytes(), 0);
}

TEST_F(EncodedPreEventBufferTest, AReaderGetsTheBufferedUnitsThenTheNewOnesAndEndsAfterItsFlush) {
    m_buffer.SetWindow(10000000LL);
    AddUnits(0, 25); // holds 10..24
    auto reader = m_buffer.OpenReader();
    std::vector<int> read;
    std::thread consumer([&] {
        while (GstBuffer* unit = reader->Next()) {
            read.push_back(NumberOf(unit));
            gst_buffer_unref(unit);
        }
    });
    AddUnits(25, 30); // while the reader is open nothing it has not read is trimmed
    reader->Flush();
    AddUnits(55, 5); // after the flush: not for this reader
    consumer.join();
    ASSERT_FALSE(read.empty());
    EXPECT_EQ(read.front(), 10) << "begins at the key frame before the window";
    for (size_t i = 1; i < read.size(); ++i) {
        ASSERT_EQ(read[i], read[i - 1] + 1) << "no unit lost or repeated";
    }
    EXPECT_EQ(read.back(), 54);
    m_buffer.CloseReader(reader);
    EXPECT_LT(m_buffer.GetHeldDuration(), 2 * 10000000LL) << "trimmed to the window once the reader is gone";
}

TEST_F(EncodedPreEventBufferTest, AnAbortAStreamChangeOrTheMemoryCapNeverLeaveAReaderOutsideAKeyFrame) {
    m_buffer.SetWindow(10000000LL);
    AddUnits(0, 15);
    {
        auto reader = m_buffer.OpenReader();
        reader->Abort();
        EXPECT_EQ(reader->Next(), nullptr);
        m_buffer.CloseReader(reader);
    }
    {
        // A reader far behind: the cap drops whole groups; the reader goes on at a key frame.
        auto reader = m_buffer.OpenReader();
        GstBuffer* first = reader->Next();
        ASSERT_NE(first, nullptr);
        gst_buffer_unref(first);
        m_buffer.SetMemoryCap(25 * 1000);
        AddUnits(15, 40);
        EXPECT_LE(m_buffer.GetHeldBytes(), 25 * 1000 + kGroup * 1000);
        GstBuffer* next = reader->Next();
        ASSERT_NE(next, nullptr);
        EXPECT_TRUE(IsKey(next)) << NumberOf(next);
        gst_buffer_unref(next);
        EXPECT_GT(m_buffer.GetReaderSkips(), 0);
        // Another stream (other caps): the units of the old one are gone and the reader ends.
        GstCaps* caps = gst_caps_from_string("video/x-h265,stream-format=byte-stream,alignment=au");
        m_buffer.SetCaps(caps);
        gst_caps_unref(caps);
        EXPECT_EQ(m_buffer.GetUnitCount(), 0);
        EXPECT_EQ(m_buffer.GetCodec(), "h265");
        EXPECT_EQ(reader->Next(), nullptr);
        m_buffer.CloseReader(reader);
    }
    {
        // A reader opened on an empty buffer waits for the next key frame.
        auto reader = m_buffer.OpenReader();
        AddUnits(101, 4); // deltas: dropped
        AddUnits(110, 3);
        GstBuffer* unit = reader->Next();
        ASSERT_NE(unit, nullptr);
        EXPECT_EQ(NumberOf(unit), 110);
        gst_buffer_unref(unit);
        reader->Flush();
        int rest = 0;
        while (GstBuffer* more = reader->Next()) {
            ++rest;
            gst_buffer_unref(more);
        }
        EXPECT_EQ(rest, 2);
        m_buffer.CloseReader(reader);
    }
}

TEST(PreEventEncoderTest, EncodesFramesIntoH264ThatBeginsAtAKeyFrameAndStaysWithinTheWindow) {
    SKIP_PIPELINE_TEST_UNDER_TSAN();
    gsttest::StartGStreamer();
    if (FindH264Encoder().empty()) {
        GTEST_SKIP() << "no H.264 encoder";
    }
    constexpr int kWidth = 320;
    constexpr int kHeight = 240;
    constexpr REFERENCE_TIME kFrame = 400000; // 25 a second
    CEncodedPreEventBuffer buffer;
    buffer.SetWindow(10000000LL); // 1 s
    {
        CPreEventEncoder encoder(buffer);
        CPreEventEncoder::CSettings settings;
        settings.width = kWidth;
        settings.height = kHeight;
        settings.frameTime = kFrame;
        settings.encoder = "x264enc";
        encoder.Start(settings);
        std::vector<uint8_t> frame(static_cast<size_t>(kWidth) * 3 * kHeight);
        int pushed = 0;
        for (int n = 0; n < 150; ++n) { // 6 s of frames, key frames every 2 s
            for (size_t i = 0; i < frame.size(); ++i) {
                frame[i] = static_cast<uint8_t>((i / 3 + static_cast<size_t>(n) * 7) % 251);
            }
            pushed += encoder.PushBgrFrame(frame.data(), kWidth * 3, n * kFrame) ? 1 : 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (encoder.GetUnitsEncoded() < pushed - 3 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_FALSE(encoder.HasFailed()) << encoder.GetError();
        EXPECT_GE(encoder.GetUnitsEncoded(), 100);
    }
    EXPECT_EQ(buffer.GetCodec(), "h264");
    EXPECT_TRUE(buffer.StartsWithKeyFrame());
    // The window plus at most one key-frame interval (2 s).
    EXPECT_GE(buffer.GetHeldDuration(), 10000000LL);
    EXPECT_LE(buffer.GetHeldDuration(), 3 * 10000000LL);
    EXPECT_LE(buffer.GetUnitCount(), 3 * 25 + 1);
}

} // namespace
