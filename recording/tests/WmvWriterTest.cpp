// The WMV writer on its own: frames handed in as the appsink hands them, the file finished
// without an end-of-stream (as a stop after a stuck pipeline does), and the failures of Open with
// the record context's messages.

#include "recording/WmvWriter.h"

#include "foundation/Exceptions.h"
#include "recording/tests/RecTestHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace rectest;

namespace {

class WmvWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        gsttest::StartGStreamer();
        char folder[] = "/tmp/tavrix-wmv-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    // A BGR sample as the appsink hands it: the frame's caps and its buffer with a time stamp.
    static GstSample* Frame(int32_t width, int32_t height, int32_t n) {
        std::vector<uint8_t> pixels(static_cast<size_t>(BgrRowStride(width)) * height);
        PaintFrame(pixels, width, height, n, true);
        GstBuffer* buffer = gst_buffer_new_memdup(pixels.data(), pixels.size());
        GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(n) * 40 * GST_MSECOND;
        GstCaps* caps =
            gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", "width", G_TYPE_INT, width,
                                "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, 25, 1, nullptr);
        GstSample* sample = gst_sample_new(buffer, caps, nullptr, nullptr);
        gst_buffer_unref(buffer);
        gst_caps_unref(caps);
        return sample;
    }

    std::string m_folder;
};

TEST_F(WmvWriterTest, ListsTheWmvCodecsNewestFirstWithOneDefaultFormat) {
    const std::vector<CWmvWriter::CCodecInfo> codecs = CWmvWriter::GetCodecs();
    ASSERT_EQ(codecs.size(), 2u);
    EXPECT_EQ(codecs[0].name, "avenc_wmv2");
    EXPECT_EQ(codecs[1].name, "avenc_wmv1");
    EXPECT_EQ(codecs[0].formats, std::vector<std::string>{""});
}

TEST_F(WmvWriterTest, FinishWithoutEndOfStreamLeavesACompleteFile) {
    const std::string file = m_folder + "/direct.wmv";
    CWmvWriter writer;
    writer.Open(file, 1, 0, 500 * 1024, 160, 120, 400000);
    for (int32_t n = 0; n < 30; ++n) {
        GstSample* sample = Frame(160, 120, n);
        EXPECT_EQ(writer.OnSample(sample), GST_FLOW_OK);
        gst_sample_unref(sample);
    }
    EXPECT_EQ(writer.GetFramesWritten(), 30);
    EXPECT_EQ(writer.Finish(), S_OK);
    EXPECT_TRUE(writer.IsFinished());
    EXPECT_EQ(writer.Finish(), S_OK) << "a second finish does nothing";

    // Frames after the end are refused.
    GstSample* late = Frame(160, 120, 30);
    EXPECT_EQ(writer.OnSample(late), GST_FLOW_ERROR);
    gst_sample_unref(late);

    const CProbe probe = Probe(file);
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_EQ(probe.codecName, "wmv1");
    EXPECT_EQ(probe.frames, 30);
    const std::vector<int32_t> numbers = ReadFrameNumbers(file, 160, 120);
    ASSERT_EQ(numbers.size(), 30u);
    EXPECT_EQ(numbers.front(), 0);
    EXPECT_TRUE(Consecutive(numbers));
}

TEST_F(WmvWriterTest, FramesOfAnotherSizeAreRefused) {
    CWmvWriter writer;
    writer.Open(m_folder + "/size.wmv", 0, 0, 500 * 1024, 160, 120, 400000);
    GstSample* sample = Frame(162, 120, 0);
    EXPECT_EQ(writer.OnSample(sample), GST_FLOW_ERROR);
    gst_sample_unref(sample);
    EXPECT_EQ(writer.Finish(), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST_F(WmvWriterTest, OpenFailsWithTheRecordContextsMessagesAndLeavesNothingOpen) {
    struct CCase {
        std::string file;
        int32_t codec;
        int32_t format;
        int64_t bitRate;
        REFERENCE_TIME frameTime;
        const char* message;
        HRESULT hr;
    };
    const CCase cases[] = {
        {m_folder + "/a.wmv", -1, 0, 1024, 400000, "Unable to get format info", E_INVALIDARG},
        {m_folder + "/a.wmv", 2, 0, 1024, 400000, "Unable to get format info", E_INVALIDARG},
        {m_folder + "/a.wmv", 0, 1, 1024, 400000, "Unable to get format info", E_INVALIDARG},
        {m_folder + "/a.wmv", 0, 0, 0, 400000, "Could not configure ASF writer filter", E_INVALIDARG},
        {m_folder + "/a.wmv", 0, 0, 1024, 0, "Could not configure ASF writer filter", E_INVALIDARG},
        {m_folder + "/missing/a.wmv", 0, 0, 1024, 400000, "Failed to set target filename",
         HRESULT_PATH_NOT_FOUND},
    };
    for (const CCase& c : cases) {
        CWmvWriter writer;
        try {
            writer.Open(c.file, c.codec, c.format, c.bitRate, 160, 120, c.frameTime);
            ADD_FAILURE() << "no exception for " << c.message;
        } catch (const CDirectXEx& exception) {
            EXPECT_EQ(exception.GetMessage(), c.message);
            EXPECT_EQ(exception.GetHResult(), c.hr) << c.message;
            EXPECT_EQ(exception.First().file, ".\\WmvWriter");
        }
        EXPECT_TRUE(writer.IsFinished());
    }
    EXPECT_FALSE(std::filesystem::exists(m_folder + "/a.wmv"));
}

} // namespace
