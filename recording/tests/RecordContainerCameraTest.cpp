// Cameras watching a `test:motion` picture record MP4 and Matroska through the whole runtime
// (camera views, motion detection, pre-event buffer, record contexts): every file decodes whole,
// holds H.264 of the camera's size and begins with the still frames from before the motion.

#include "camera/tests/CameraTestSupport.h"
#include "recording/RecordContainer.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using camtest::CLogCapture;
using camtest::CTestDocument;
using camtest::CViewRun;

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kMotionTop = kHeight / 4; // the test source's moving block: the middle half
constexpr int kMotionBottom = kHeight * 3 / 4;

// Whether rows [top, bottom) of two RGB frames show the same picture within H.264's loss (the
// moving block differs by far more).
bool SimilarRows(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int top, int bottom) {
    const size_t row = static_cast<size_t>(kWidth) * 3;
    long difference = 0;
    for (size_t i = top * row; i < bottom * row; ++i) {
        difference += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
    }
    return difference < 4L * static_cast<long>((bottom - top) * row);
}

// The path inside the camera's "Started recording to '...'" entries.
std::vector<std::string> StartedFiles(const CLogCapture& log, const std::string& camera) {
    std::vector<std::string> files;
    const std::string prefix = "Started recording to '";
    for (const std::string& text : log.Texts(camera)) {
        if (text.rfind(prefix, 0) == 0 && text.back() == '\'') {
            files.push_back(text.substr(prefix.size(), text.size() - prefix.size() - 1));
        }
    }
    return files;
}

TEST(RecordContainerCameraTest, TestMotionCamerasRecordMp4AndMatroskaFromThePreEventFrames) {
    SKIP_PIPELINE_TEST_UNDER_TSAN();
    gsttest::StartGStreamer();
    camtest::CUnattended unattended;
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        CCamera* mp4 = camtest::SmallCamera(data, 0, "test:motion?on=1500-2500");
        mp4->m_recordContainer = static_cast<int32_t>(ERecordContainer::Mp4);
        CCamera* mkv = camtest::SmallCamera(data, 1, "test:motion?on=1500-2500");
        mkv->m_recordContainer = static_cast<int32_t>(ERecordContainer::Matroska);
        mkv->m_bitRate = 0; // constant quality
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    ASSERT_TRUE(run.PumpUntil(
        [&] {
            return log.Count("Finished recording", "Default") == 1 &&
                   log.Count("Finished recording", "Camera_1") == 1;
        },
        20000))
        << log.Dump();

    const std::pair<const char*, const char*> cameras[] = {{"Default", "mov,mp4,m4a,3gp,3g2,mj2"},
                                                           {"Camera_1", "matroska,webm"}};
    for (const auto& [camera, format] : cameras) {
        const std::vector<std::string> files = StartedFiles(log, camera);
        ASSERT_EQ(files.size(), 1u) << camera;
        const rectest::CProbe probe = rectest::Probe(files[0]);
        EXPECT_EQ(probe.exitCode, 0) << files[0];
        EXPECT_EQ(probe.formatName, format);
        EXPECT_EQ(probe.codecName, "h264");
        EXPECT_EQ(probe.width, kWidth);
        EXPECT_EQ(probe.height, kHeight);
        // About 1 s before the motion, 1 s of motion and the 0.8 s stop delay, at 10 frames a second.
        EXPECT_GE(probe.frames, 22) << files[0];
        EXPECT_LE(probe.frames, 36) << files[0];
        const auto frames = camtest::DecodeFrames(files[0], kWidth, kHeight);
        ASSERT_EQ(static_cast<long>(frames.size()), probe.frames) << "ffmpeg and ffprobe disagree";
        // The still picture before the motion: the pre-event frames.
        size_t still = 1;
        while (still < frames.size() && SimilarRows(frames[0], frames[still], kMotionTop, kMotionBottom)) {
            ++still;
        }
        EXPECT_GE(still, 8u) << camera << ": about 1000 ms of frames from before the motion";
        EXPECT_LE(still, 13u) << camera;
    }
    EXPECT_EQ(file.Recordings().size(), 2u);
    EXPECT_EQ(log.Count("Error", "*"), 0) << log.Dump();
}

} // namespace
