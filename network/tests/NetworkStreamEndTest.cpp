// A stream that ends is a lost device at once: an RTSP server that stops, an HTTP camera that
// closes its stream (also while the camera takes fewer frames than the stream brings, where
// videorate used to abort on frames without a duration and on the end) and a video file without loop that
// played to its end. Every camera here has a stream time-out of a minute, so only the end of the stream
// itself can report the loss within the seconds the tests allow.

#include "camera/tests/CameraTestSupport.h"
#include "network/tests/NetworkTestSupport.h"
#include "network/tests/RtspTestServer.h"

#include <gtest/gtest.h>

namespace {

using camtest::CLogCapture;
using camtest::CTestDocument;
using camtest::CViewRun;
using M = CCamViewStateMgr;

constexpr int32_t kLongStreamTimeoutSeconds = 60;
constexpr int kLossNoticedMs = 10000; // well before the stream time-out

class NetworkStreamEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_PIPELINE_TEST_UNDER_TSAN();
        gsttest::StartGStreamer();
    }
    camtest::CUnattended m_unattended;

    static CCameraViewTiming QuickRetries() {
        CCameraViewTiming timing;
        timing.deviceRetry = {200, 1000};
        return timing;
    }
};

TEST_F(NetworkStreamEndTest, AStoppedRtspServerIsLostAtOnceAndReconnectedWhenItReturns) {
    CRtspTestServer server(
        {CRtspTestServer::Stream("/cam", "h264", "test:motion?on=600000-600001", 160, 120, 10)});
    server.Start();
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([&server](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        CCamera* camera = camtest::SmallCamera(data, 0, server.Url("/cam"));
        camera->m_fps = 5; // fewer than the stream brings: the tail limits the rate
        camera->m_streamTimeout = kLongStreamTimeoutSeconds;
    });
    CViewRun run(document, QuickRetries());
    run.View().OnInitialUpdate();
    CCameraView& camera = run.Camera(0);
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetStats().frames >= 10; }, 20000)) << log.Dump();

    server.Stop();
    ASSERT_TRUE(
        run.PumpUntil([&] { return log.Count("Capturing device lost.", "Default") == 1; }, kLossNoticedMs))
        << log.Dump();
    EXPECT_EQ(camera.GetState(), M::kUnavailable);
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetStats().deviceRetries >= 2; }, 10000)) << log.Dump();

    server.Start();
    ASSERT_TRUE(
        run.PumpUntil([&] { return log.Count("Capturing device re-connected.", "Default") == 1; }, 20000))
        << log.Dump();
    const int64_t framesBack = camera.GetStats().frames;
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetStats().frames >= framesBack + 5; }, 10000));
    EXPECT_EQ(camera.GetState(), M::kIdle) << "no motion of the re-connection's own\n" << log.Dump();
    EXPECT_EQ(log.Count("Capturing device lost."), 1) << log.Dump();
}

TEST_F(NetworkStreamEndTest, AnHttpCameraClosingItsStreamIsLostAtOnceEvenAtALowerRate) {
    CTestDocument file;
    const std::string frames = nettest::MakeJpegFrames(file.Folder() + "/frames", 10);
    // Every stream ends after 30 frames (3 s); the next request gets another one.
    nettest::CHttpCamera peer({"--mode", "mjpeg", "--frames", frames, "--fps", "10", "--close-after", "30"});
    ASSERT_GT(peer.Port(), 0);
    CLogCapture log;
    CTavrixDoc& document = file.Create([&peer](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        CCamera* slow = camtest::SmallCamera(data, 0, peer.Url());
        slow->m_fps = 4; // videorate holds frames back when the end arrives
        slow->m_streamTimeout = kLongStreamTimeoutSeconds;
        CCamera* full = camtest::SmallCamera(data, 1, peer.Url());
        full->m_fps = 1000; // the stream's own rate
        full->m_streamTimeout = kLongStreamTimeoutSeconds;
    });
    CViewRun run(document, QuickRetries());
    run.View().OnInitialUpdate();
    for (const char* name : {"Default", "Camera_1"}) {
        ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Capturing device lost.", name) == 1; },
                                  3000 + kLossNoticedMs))
            << name << "\n"
            << log.Dump();
        ASSERT_TRUE(
            run.PumpUntil([&] { return log.Count("Capturing device re-connected.", name) >= 1; }, 20000))
            << name << "\n"
            << log.Dump();
    }
    EXPECT_GT(run.Camera(0).GetStats().frames, 5);
    EXPECT_GT(run.Camera(1).GetStats().frames, 20);
}

TEST_F(NetworkStreamEndTest, AVideoFileWithoutLoopIsLostAtItsEndAndNotPlayedAgain) {
    CTestDocument file;
    const std::string clip = nettest::MakeClip(file.Folder() + "/clip.mp4", 30); // two seconds
    CLogCapture log;
    CTavrixDoc& document = file.Create([&clip](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        CCamera* camera = camtest::SmallCamera(data, 0, "file:" + clip);
        camera->m_fps = 5;
        camera->m_streamTimeout = kLongStreamTimeoutSeconds;
    });
    CViewRun run(document, QuickRetries());
    run.View().OnInitialUpdate();
    CCameraView& camera = run.Camera(0);
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Capturing device lost.", "Default") == 1; },
                              2000 + kLossNoticedMs))
        << log.Dump();
    EXPECT_GE(camera.GetStats().frames, 5) << "the clip was played";
    EXPECT_EQ(camera.GetState(), M::kUnavailable);
    // Playing it again would be the loop the name did not ask for.
    run.Pump(3000);
    EXPECT_EQ(camera.GetStats().deviceRetries, 0);
    EXPECT_EQ(log.Count("Capturing device re-connected."), 0) << log.Dump();
    EXPECT_EQ(log.Count("Capturing device lost."), 1) << log.Dump();
}

} // namespace
