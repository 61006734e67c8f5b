// Network cameras as cameras of a document, end to end on real pipelines: an RTSP camera whose
// picture moves records whole AVI and WMV files that begin with the pre-event frames; a camera
// whose server goes away is lost, retried and re-connected without motion of its own; wrong
// credentials, a server that never answers and a looping video file; and a document of dead
// cameras opens without waiting for them.

#include "camera/tests/CameraTestSupport.h"
#include "network/tests/NetworkTestSupport.h"
#include "network/tests/RtspTestServer.h"

#include <gtest/gtest.h>

namespace {

using camtest::CLogCapture;
using camtest::CTestDocument;
using camtest::CViewRun;
using M = CCamViewStateMgr;

class NetworkCameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_PIPELINE_TEST_UNDER_TSAN();
        gsttest::StartGStreamer();
    }
    camtest::CUnattended m_unattended;

    // The paths of a camera's "Started recording to '...'" entries.
    static std::vector<std::string> StartedFiles(const CLogCapture& log, const std::string& camera) {
        std::vector<std::string> files;
        const std::string prefix = "Started recording to '";
        for (const std::string& text : log.Texts(camera)) {
            if (text.rfind(prefix, 0) == 0 && text.back() == '\'') {
                files.push_back(text.substr(prefix.size(), text.size() - prefix.size() - 1));
            }
        }
        return files;
    }
    // Index of the first entry of the camera containing text at or after from, or -1.
    static int IndexOf(const CLogCapture& log, const std::string& camera, const std::string& text,
                       int from = 0) {
        const std::vector<CLogEntry> entries = log.Entries();
        for (size_t i = static_cast<size_t>(from); i < entries.size(); ++i) {
            if (entries[i].camName == camera && entries[i].text.find(text) != std::string::npos) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    static CCameraViewTiming QuickRetries() {
        CCameraViewTiming timing;
        timing.deviceRetry = {200, 1000};
        return timing;
    }
};

TEST_F(NetworkCameraTest, AnRtspCameraWithMotionRecordsWholeAviAndWmvFilesBeginningWithThePreEventFrames) {
    // The picture moves 3 s after each client's PLAY, for a second.
    CRtspTestServer server(
        {CRtspTestServer::Stream("/porch", "h264", "test:motion?on=3000-4000", 160, 120, 10)});
    server.Start();
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([&server](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        camtest::SmallCamera(data, 0, server.Url("/porch"));
        CCamera* wmv = camtest::SmallCamera(data, 1, server.Url("/porch"));
        wmv->m_wmvActive = true;
        wmv->m_bitRate = 256;
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    ASSERT_TRUE(run.PumpUntil(
        [&] {
            return log.Count("Finished recording", "Default") == 1 &&
                   log.Count("Finished recording", "Camera_1") == 1;
        },
        40000))
        << log.Dump();
    EXPECT_EQ(run.Camera(0).GetStreamDecoder().rfind("h264 with ", 0), 0u)
        << run.Camera(0).GetStreamDecoder();
    run.Close();

    const std::vector<std::string> avi = StartedFiles(log, "Default");
    const std::vector<std::string> wmv = StartedFiles(log, "Camera_1");
    ASSERT_EQ(avi.size(), 1u);
    ASSERT_EQ(wmv.size(), 1u);
    // About 1 s before the motion, 1 s of motion and the 0.8 s stop delay, at 10 frames a second.
    const rectest::CProbe aviProbe = rectest::Probe(avi[0]);
    EXPECT_EQ(aviProbe.exitCode, 0);
    EXPECT_EQ(aviProbe.formatName, "avi");
    EXPECT_EQ(aviProbe.width, 160);
    EXPECT_GE(aviProbe.frames, 22);
    const rectest::CProbe wmvProbe = rectest::Probe(wmv[0]);
    EXPECT_EQ(wmvProbe.exitCode, 0);
    EXPECT_EQ(wmvProbe.formatName, "asf");
    EXPECT_GE(wmvProbe.frames, 22);
    // The pre-event frames: the first ones show the still picture, unlike those of the motion.
    const auto frames = camtest::DecodeFrames(avi[0], 160, 120);
    ASSERT_GE(frames.size(), 22u);
    auto difference = [](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
        int64_t sum = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            sum += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
        }
        return sum / static_cast<int64_t>(a.size());
    };
    EXPECT_LT(difference(frames[0], frames[5]), 4) << "still before the motion";
    EXPECT_GT(difference(frames[0], frames[14]), difference(frames[0], frames[5]));
}

TEST_F(NetworkCameraTest, AServerThatGoesAwayIsLostRetriedAndReconnectedWithoutMotionOfItsOwn) {
    CRtspTestServer server(
        {CRtspTestServer::Stream("/cam", "h264", "test:motion?on=4000-5000", 160, 120, 10)});
    server.Start();
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([&server](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        CCamera* camera = camtest::SmallCamera(data, 0, server.Url("/cam"));
        camera->m_streamTimeout = 2;
    });
    CViewRun run(document, QuickRetries());
    run.View().OnInitialUpdate();
    CCameraView& camera = run.Camera(0);
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Finished recording", "Default") == 1; }, 30000))
        << log.Dump();

    server.Stop();
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Capturing device lost.", "Default") == 1; }, 20000))
        << log.Dump();
    EXPECT_EQ(camera.GetState(), M::kUnavailable);
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetStats().deviceRetries >= 3; }, 20000)) << log.Dump();
    EXPECT_EQ(log.Count("Capturing device lost."), 1) << "failed attempts are quiet";

    server.Start();
    ASSERT_TRUE(
        run.PumpUntil([&] { return log.Count("Capturing device re-connected.", "Default") == 1; }, 20000))
        << log.Dump();
    const int reconnected = IndexOf(log, "Default", "Capturing device re-connected.");
    EXPECT_EQ(camera.GetState(), M::kIdle) << "the state from before the loss";
    // The re-connected picture is the reference: 3 s without motion, then the picture's own motion
    // (4 s after the new PLAY) records again.
    run.Pump(2500);
    EXPECT_EQ(IndexOf(log, "Default", "Started recording", reconnected), -1) << log.Dump();
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Finished recording", "Default") == 2; }, 20000))
        << log.Dump();
    run.Close();
    for (const std::string& recording : StartedFiles(log, "Default")) {
        const rectest::CProbe probe = rectest::Probe(recording);
        EXPECT_EQ(probe.exitCode, 0) << recording;
        EXPECT_GE(probe.frames, 15) << recording;
    }
}

TEST_F(NetworkCameraTest, WrongCredentialsAreLoggedWithoutThePasswordAndRetriedAtTheSlowestRate) {
    CRtspTestServer server({CRtspTestServer::Stream("/cam").WithLogin("admin", "right")});
    server.Start();
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([&server](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        data.m_cameras.Find(0)->m_camName = "Gate";
        camtest::SmallCamera(data, 0, server.Url("/cam", "admin", "Wr0ngPa55"));
    });
    CCameraViewTiming timing = QuickRetries();
    CViewRun run(document, timing);
    run.View().OnInitialUpdate();
    CCameraView& camera = run.Camera(0);
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("authentication failed", "Gate") == 1; }, 20000))
        << log.Dump();
    EXPECT_EQ(camera.GetState(), M::kUnavailable);
    EXPECT_EQ(log.Count("Capturing device lost.", "Gate"), 1);
    // Every attempt fails the same way: logged once, each attempt after the longest delay.
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetStats().deviceRetries >= 2; }, 20000)) << log.Dump();
    EXPECT_EQ(log.Count("authentication failed"), 1);
    for (const CLogEntry& entry : log.Entries()) {
        EXPECT_EQ(entry.text.find("Wr0ngPa55"), std::string::npos) << entry.text;
    }
    EXPECT_NE(log.Dump().find("admin:****@"), std::string::npos) << log.Dump();
    EXPECT_EQ(camera.GetDeviceFriendlyName().find("Wr0ngPa55"), std::string::npos);
}

TEST_F(NetworkCameraTest, AServerThatAcceptsAndNeverAnswersIsLostAfterTheStreamTimeout) {
    nettest::CHttpCamera silent({"--mode", "silent"});
    ASSERT_GT(silent.Port(), 0);
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([&silent](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        CCamera* rtsp =
            camtest::SmallCamera(data, 0, "rtsp://127.0.0.1:" + std::to_string(silent.Port()) + "/x");
        rtsp->m_streamTimeout = 2;
        CCamera* http = camtest::SmallCamera(data, 1, silent.Url());
        http->m_streamTimeout = 2;
    });
    CViewRun run(document, QuickRetries());
    const auto opening = std::chrono::steady_clock::now();
    run.View().OnInitialUpdate();
    // Opening never waits for the network (its own time-outs are 20 s).
    EXPECT_LT(std::chrono::steady_clock::now() - opening, std::chrono::seconds(10));
    ASSERT_TRUE(run.PumpUntil(
        [&] {
            return log.Count("Capturing device lost.", "Default") == 1 &&
                   log.Count("Capturing device lost.", "Camera_1") == 1;
        },
        30000))
        << log.Dump();
    EXPECT_EQ(run.Camera(0).GetState(), M::kUnavailable);
    EXPECT_EQ(run.Camera(1).GetState(), M::kUnavailable);
    ASSERT_TRUE(run.PumpUntil([&] { return run.Camera(1).GetStats().deviceRetries >= 2; }, 30000))
        << log.Dump();
    EXPECT_EQ(log.Count("Capturing device lost."), 2);
}

TEST_F(NetworkCameraTest, AVideoFileCameraLoopsItsClip) {
    CTestDocument file;
    const std::string clip = nettest::MakeClip(file.Folder() + "/clip.mp4", 15); // one second
    CLogCapture log;
    CTavrixDoc& document = file.Create([&clip](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        CCamera* camera = camtest::SmallCamera(data, 0, "file:" + clip + "?loop=1");
        camera->m_videoSizeCx = 0; // the clip's own size
        camera->m_videoSizeCy = 0;
        camera->m_fps = 1000;
        camera->m_streamTimeout = 2;
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    CCameraView& camera = run.Camera(0);
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetStats().frames >= 45; }, 30000)) << log.Dump();
    EXPECT_EQ(camera.GetFrameWidth(), 160);
    EXPECT_NE(camera.GetState(), M::kUnavailable); // the ball moves: Idle or Recording
    EXPECT_EQ(log.Count("Capturing device lost."), 0) << log.Dump();
}

} // namespace
