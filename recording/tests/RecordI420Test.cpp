// Frames kept as I420 in the pre-event buffer, as a camera view keeps them, recorded into every
// file format through real pipelines and read back with ffprobe and ffmpeg: each file decodes
// whole, has the codec and size of its format and begins with the pre-event frames; the
// uncompressed AVI still holds an upright BGR picture of the camera's colours.

#include "recording/tests/RecTestHost.h"

#include "recording/I420Frame.h"
#include "recording/RecordContainer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace rectest;

namespace {

constexpr int32_t kWidth = 320;
constexpr int32_t kHeight = 240;
constexpr auto kInterval = 40ms;
constexpr REFERENCE_TIME kFrameTime = 400000;
constexpr int32_t kPreEventFrames = 10;

struct CFormatCase {
    const char* name;
    CRecordSettings settings;
    const char* file;
    const char* formatName;
    const char* codecName;
};

CRecordSettings Avi(const char* compressor) {
    CRecordSettings settings;
    settings.wmvActive = false;
    settings.compressorDN = compressor;
    return settings;
}

CRecordSettings Wmv() {
    CRecordSettings settings;
    settings.wmvActive = true;
    settings.bitRate = 2000;
    return settings;
}

CRecordSettings H264(ERecordContainer container) {
    CRecordSettings settings;
    settings.recordContainer = static_cast<int32_t>(container);
    settings.bitRate = 0;
    return settings;
}

class RecordI420Test : public ::testing::Test {
protected:
    void SetUp() override {
        gsttest::StartGStreamer();
        CNotificationLog::Instance().Clear();
    }
};

// Records from an I420 buffer for `duration` once the pre-event frames are there; returns the
// file, the newest frame at Record Begin and the newest frame at the stop.
struct CI420Recording {
    std::string file;
    int32_t lastAtBegin = -1;
    int32_t lastAtStop = -1;
};

CI420Recording RecordI420(CTestHost& host, std::chrono::milliseconds duration, bool noise = true) {
    CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval, noise, EFeed::I420);
    feeder.WaitForFrame(kPreEventFrames + 2);
    host.SetFeeder(&feeder);
    EXPECT_EQ(host.Buffer().GetFrameFormat(), CPreEventBuffer::EFrameFormat::I420);
    auto* rc = new CRecContext(&host);
    rc->StartRecord();
    std::this_thread::sleep_for(duration);
    CI420Recording recording;
    recording.lastAtStop = feeder.Last();
    rc->StopRecord();
    EXPECT_TRUE(host.WaitForRemoved(1)) << "the recording did not stop";
    feeder.Stop();
    EXPECT_EQ(host.Failures(), 0);
    recording.lastAtBegin = host.LastFrameAtBegin();
    for (const auto& [kind, file] : host.Raised()) {
        if (kind == kEventRecordBegin) {
            recording.file = file;
        }
    }
    return recording;
}

} // namespace

TEST_F(RecordI420Test, I420FramesRecordIntoEveryFormatFromThePreEventFrames) {
    const std::vector<CFormatCase> cases = {
        {"uncompressed AVI", Avi(""), "Cam.avi", "avi", "rawvideo"},
        {"AVI with jpegenc", Avi("jpegenc"), "Cam.avi", "avi", "mjpeg"},
        {"AVI with x264enc", Avi("x264enc"), "Cam.avi", "avi", "h264"},
        {"WMV", Wmv(), "Cam.wmv", "asf", "wmv2"},
        {"MP4", H264(ERecordContainer::Mp4), "Cam.mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264"},
        {"Matroska", H264(ERecordContainer::Matroska), "Cam.mkv", "matroska,webm", "h264"},
    };
    for (const CFormatCase& format : cases) {
        SCOPED_TRACE(format.name);
        CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
        host.SetSettings(format.settings);
        host.SetFileName(format.file);
        const CI420Recording recording = RecordI420(host, 1200ms);
        ASSERT_FALSE(recording.file.empty()) << "no Record Begin";
        const CProbe probe = Probe(recording.file);
        EXPECT_EQ(probe.exitCode, 0);
        EXPECT_EQ(probe.formatName, format.formatName);
        EXPECT_EQ(probe.codecName, format.codecName);
        EXPECT_EQ(probe.width, kWidth);
        EXPECT_EQ(probe.height, kHeight);
        const std::vector<int32_t> numbers = ReadFrameNumbers(recording.file, kWidth, kHeight);
        ASSERT_FALSE(numbers.empty());
        EXPECT_EQ(static_cast<long>(numbers.size()), probe.frames) << "ffprobe and ffmpeg disagree";
        EXPECT_TRUE(Consecutive(numbers));
        EXPECT_LE(numbers.front(), recording.lastAtBegin - kPreEventFrames + 1) << "pre-event frames missing";
        EXPECT_GE(numbers.back(), recording.lastAtStop) << "the last frames are missing";
    }
}

namespace {

// Colour blocks of 16x16 pixels (the chroma of I420 is whole within each block).
constexpr uint8_t kColours[][3] = {{255, 255, 255}, {0, 0, 0},     {0, 0, 255},   {0, 255, 0},
                                   {255, 0, 0},     {0, 255, 255}, {255, 0, 255}, {40, 120, 200}};

void PaintBlocks(std::vector<uint8_t>& frame, int32_t width, int32_t height) {
    const int32_t stride = BgrRowStride(width);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* colour = kColours[(x / 16 + y / 16 * 3) % 8];
            for (int c = 0; c < 3; ++c) {
                frame[static_cast<size_t>(y) * stride + 3 * x + c] = colour[c];
            }
        }
    }
}

} // namespace

// The uncompressed AVI is BGR again, upright, each pixel within a few levels of the camera's.
TEST_F(RecordI420Test, UncompressedAviFromI420HoldsTheCamerasBgrPicture) {
    CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
    host.SetSettings(Avi(""));
    host.SetFileName("Blocks.avi");
    std::vector<uint8_t> picture(static_cast<size_t>(BgrRowStride(kWidth)) * kHeight);
    PaintBlocks(picture, kWidth, kHeight);
    for (int32_t n = 0; n < kPreEventFrames; ++n) {
        host.Buffer().SetLastSampleDuration(kFrameTime);
        host.Buffer().AddBgrFrameAsI420(picture.data(), kWidth, kHeight, BgrRowStride(kWidth));
    }
    auto* rc = new CRecContext(&host);
    rc->StartRecord();
    rc->StopRecord(); // delivers the buffered frames, then ends the file
    ASSERT_TRUE(host.WaitForRemoved(1));
    ASSERT_EQ(host.Failures(), 0);
    const std::string file = host.Folder() + "/Blocks.avi";
    EXPECT_EQ(Probe(file).codecName, "rawvideo");
    const std::string decoded =
        RunCommand("ffmpeg -v error -i '" + file + "' -frames:v 1 -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
    ASSERT_EQ(decoded.size(), static_cast<size_t>(kWidth) * kHeight * 3);
    // Inside each block; at its edges the converter's chroma interpolation blends neighbours.
    int worst = 0;
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            if (x % 16 < 2 || x % 16 > 13 || y % 16 < 2 || y % 16 > 13) {
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                const int got = static_cast<uint8_t>(decoded[(static_cast<size_t>(y) * kWidth + x) * 3 + c]);
                const int want = picture[static_cast<size_t>(y) * BgrRowStride(kWidth) + 3 * x + c];
                worst = std::max(worst, std::abs(got - want));
            }
        }
    }
    EXPECT_LE(worst, 6) << "largest difference of a colour value";
}
