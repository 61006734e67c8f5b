// Record contexts recording real frames through real pipelines into real files, read back with
// ffprobe and ffmpeg: every file must decode whole, begin with the pre-event frames and run on
// without a gap until the stop.

#include "recording/tests/RecTestHost.h"

#include "camera/tests/TraceCapture.h"
#include "recording/DxEventRec.h"
#include "recording/RecordContext.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

using namespace rectest;

namespace {

constexpr int32_t kWidth = 320;
constexpr int32_t kHeight = 240;
constexpr auto kInterval = 40ms; // 25 frames a second
constexpr REFERENCE_TIME kFrameTime = 400000;
constexpr int32_t kPreEventFrames = 10;

class RecordContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        gsttest::StartGStreamer();
        CNotificationLog::Instance().Clear();
    }

    static CRecordSettings Avi(const std::string& compressor = {}, const std::string& data = {}) {
        CRecordSettings settings;
        settings.wmvActive = false;
        settings.compressorDN = compressor;
        settings.compressorData.assign(data.begin(), data.end());
        return settings;
    }
    static CRecordSettings Wmv(int32_t codec, int32_t bitRate) {
        CRecordSettings settings;
        settings.wmvActive = true;
        settings.codec = codec;
        settings.bitRate = bitRate;
        return settings;
    }

    // Records for about `duration` after the pre-event buffer has filled, then stops normally.
    // Returns the file and the frame numbers at the start and the stop.
    struct CRecording {
        std::string file;
        int32_t lastBeforeStart = -1;
        int32_t lastAtStarted = -1;
        int32_t lastAtStop = -1;
    };
    static CRecording Record(CTestHost& host, CFrameFeeder& feeder, std::chrono::milliseconds duration) {
        CRecording recording;
        feeder.WaitForFrame(kPreEventFrames + 2);
        host.SetFeeder(&feeder);
        recording.lastBeforeStart = feeder.Last();
        auto* rc = new CRecContext(&host);
        rc->StartRecord();
        std::this_thread::sleep_for(duration);
        recording.lastAtStop = feeder.Last();
        rc->StopRecord();
        EXPECT_TRUE(host.WaitForRemoved(1)) << "the recording did not stop";
        recording.lastAtStarted = host.LastFrameAtAdd();
        const auto files = host.Files();
        EXPECT_EQ(files.size(), 1u);
        if (!files.empty()) {
            recording.file = files.front();
        }
        return recording;
    }
};

TEST_F(RecordContextTest, UncompressedAviBeginsWithThePreEventFramesAndRunsToTheStop) {
    CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
    host.SetSettings(Avi());
    host.SetFileName("Door_071226_030509.avi");
    CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
    const CRecording recording = Record(host, feeder, 600ms);
    feeder.Stop();

    EXPECT_EQ(recording.file, host.Folder() + "/Door_071226_030509.avi");
    const CProbe probe = Probe(recording.file);
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_EQ(probe.formatName, "avi");
    EXPECT_EQ(probe.codecName, "rawvideo");
    EXPECT_EQ(probe.width, kWidth);
    EXPECT_EQ(probe.height, kHeight);

    const std::vector<int32_t> numbers = ReadFrameNumbers(recording.file, kWidth, kHeight);
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(static_cast<long>(numbers.size()), probe.frames);
    EXPECT_TRUE(Consecutive(numbers));
    // The iterator opened between the start call and the host hearing of the started recording,
    // kPreEventFrames frames back from the newest then. The numbers also prove that the picture
    // is upright: they are read from the top of each decoded frame.
    EXPECT_GE(numbers.front(), recording.lastBeforeStart - kPreEventFrames + 1);
    EXPECT_LE(numbers.front(), recording.lastAtStarted - kPreEventFrames + 1);
    EXPECT_GE(numbers.back(), recording.lastAtStop);

    EXPECT_EQ(host.Added(), 1);
    EXPECT_EQ(host.Removed(), 1);
    EXPECT_EQ(host.Failures(), 0);
    const auto raised = host.Raised();
    ASSERT_EQ(raised.size(), 2u);
    EXPECT_EQ(raised[0], std::make_pair(kEventRecordBegin, recording.file));
    EXPECT_EQ(raised[1], std::make_pair(kEventRecordFinish, recording.file));
    EXPECT_TRUE(LogHas("Started recording to '" + recording.file + "'"));
    EXPECT_TRUE(LogHas("Finished recording to '" + recording.file + "'"));
}

} // namespace
