// The WMV writer on its own: frames handed in as the appsink hands them, the file finished
// without an end-of-stream (as a stop after a stuck pipeline does), and the failures of Open with
// the record context's messages.

#include "recording/WmvWriter.h"

#include "camera/tests/TraceCapture.h"
#include "foundation/Exceptions.h"
#include "recording/tests/RecTestHost.h"

extern "C" {
#include <libavutil/log.h>
}

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
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

// Standard error of this process, caught in a file while the object lives.
class CStderrCapture {
public:
    explicit CStderrCapture(const std::string& file) : m_file(file) {
        std::fflush(stderr);
        m_saved = dup(STDERR_FILENO);
        const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    ~CStderrCapture() { Finish(); }
    std::string Finish() {
        if (m_saved >= 0) {
            std::fflush(stderr);
            dup2(m_saved, STDERR_FILENO);
            close(m_saved);
            m_saved = -1;
            std::ifstream in(m_file);
            std::stringstream text;
            text << in.rdbuf();
            m_text = text.str();
        }
        return m_text;
    }

private:
    std::string m_file;
    int m_saved = -1;
    std::string m_text;
};

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// A camera picture as a surveillance camera sees one: eight still colour bars and one object
// moving across them.
GstSample* BarsWithMovingBox(int32_t width, int32_t height, int32_t n, int32_t framesPerSecond) {
    static const uint8_t kBars[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                                        {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
    const int32_t stride = BgrRowStride(width);
    std::vector<uint8_t> pixels(static_cast<size_t>(stride) * height);
    const int32_t boxX = (n * 3) % (width - 80);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const bool box = x >= boxX && x < boxX + 80 && y >= 100 && y < 180;
            const uint8_t* colour = box ? kBars[5] : kBars[x * 8 / width];
            uint8_t* pixel = pixels.data() + static_cast<size_t>(y) * stride + x * 3;
            pixel[0] = box ? 40 : colour[0];
            pixel[1] = box ? 40 : colour[1];
            pixel[2] = colour[2];
        }
    }
    GstBuffer* buffer = gst_buffer_new_memdup(pixels.data(), pixels.size());
    GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(static_cast<guint64>(n), GST_SECOND, framesPerSecond);
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", "width", G_TYPE_INT,
                                        width, "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION,
                                        framesPerSecond, 1, nullptr);
    GstSample* sample = gst_sample_new(buffer, caps, nullptr, nullptr);
    gst_buffer_unref(buffer);
    gst_caps_unref(caps);
    return sample;
}

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

// A low bit rate is obeyed, not just aimed at: 100 x 1024 bit/s at 640x480 and 15 frames a
// second gives a file of about that rate (the average alone gave 55% more). The encoder's rate
// control complaints reach standard error once each at most.
TEST_F(WmvWriterTest, ALowBitRateIsObeyedAtFullSize) {
    constexpr int32_t kFps = 15;
    constexpr int32_t kFrames = 150; // ten seconds
    const int64_t bitsPerSecond = 100 * 1024;
    const std::string file = m_folder + "/low.wmv";
    CStderrCapture errors(m_folder + "/stderr.txt");
    {
        CWmvWriter writer;
        writer.Open(file, 0, 0, bitsPerSecond, 640, 480, 10000000 / kFps);
        for (int32_t n = 0; n < kFrames; ++n) {
            GstSample* sample = BarsWithMovingBox(640, 480, n, kFps);
            ASSERT_EQ(writer.OnSample(sample), GST_FLOW_OK);
            gst_sample_unref(sample);
        }
        ASSERT_EQ(writer.Finish(), S_OK);
    }
    const std::string errorText = errors.Finish();
    EXPECT_EQ(Probe(file).frames, kFrames);
    const double seconds = static_cast<double>(kFrames) / kFps;
    const double bitRate = static_cast<double>(std::filesystem::file_size(file)) * 8 / seconds;
    std::printf("WMV2 640x480 at %lld bit/s: %.0f bit/s\n", static_cast<long long>(bitsPerSecond), bitRate);
    EXPECT_LT(bitRate, 1.15 * bitsPerSecond) << "the bit rate is exceeded";
    EXPECT_GT(bitRate, 0.5 * bitsPerSecond) << "far below the rate: the picture looks worse than it need";
    std::map<std::string, int> lines;
    std::istringstream in(errorText);
    for (std::string line; std::getline(in, line);) {
        EXPECT_EQ(++lines[line], 1) << "repeated on standard error: " << line;
    }
}

// FFmpeg's chatter stays off standard error; its errors appear there, each text once a minute;
// with tracing on, everything goes to the trace instead.
TEST_F(WmvWriterTest, FfmpegKeepsErrorsOnlyAndTracesItsMessagesWhenTracingIsOn) {
    {
        CWmvWriter writer; // Open sets FFmpeg's logging up
        writer.Open(m_folder + "/log.wmv", 0, 0, 500 * 1024, 160, 120, 400000);
    }
    EXPECT_EQ(av_log_get_level(), AV_LOG_ERROR);
    {
        CStderrCapture errors(m_folder + "/stderr.txt");
        av_log(nullptr, AV_LOG_INFO, "warning, clipping 3 dct coefficients to -127..127\n");
        av_log(nullptr, AV_LOG_WARNING, "a warning of the test\n");
        for (int i = 0; i < 5; ++i) {
            av_log(nullptr, AV_LOG_ERROR, "an error of the test\n");
        }
        const std::string text = errors.Finish();
        EXPECT_EQ(text.find("clipping"), std::string::npos) << text;
        EXPECT_EQ(text.find("a warning of the test"), std::string::npos) << text;
        EXPECT_EQ(Occurrences(text, "an error of the test"), 1u) << text;
    }
    {
        CTraceCapture traces;
        CStderrCapture errors(m_folder + "/stderr-traced.txt");
        av_log(nullptr, AV_LOG_INFO, "warning, clipping 4 dct coefficients to -127..127\n");
        av_log(nullptr, AV_LOG_ERROR, "a traced error of the test\n");
        av_log(nullptr, AV_LOG_DEBUG, "a debug line of the test\n");
        const std::string text = errors.Finish();
        const std::string trace = traces.Finish();
        EXPECT_TRUE(text.empty()) << text;
        EXPECT_NE(trace.find("FFmpeg: warning, clipping 4 dct coefficients"), std::string::npos);
        EXPECT_NE(trace.find("FFmpeg: a traced error of the test"), std::string::npos);
        EXPECT_EQ(trace.find("a debug line"), std::string::npos);
    }
}

} // namespace
