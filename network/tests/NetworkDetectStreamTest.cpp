// A network camera that detects motion on a second stream (".DetectDeviceDN"): motion in the
// small sub-stream records the main stream at the main stream's size; the area mask drawn at the
// main size covers the sub-stream's pixels too; the sub-stream's password appears in no log
// entry; and losing the sub-stream is the camera's loss, both streams coming back together.

#include "camera/tests/CameraTestSupport.h"
#include "network/tests/NetworkTestSupport.h"
#include "network/tests/RtspTestServer.h"

#include <gtest/gtest.h>

namespace {

using camtest::CLogCapture;
using camtest::CTestDocument;
using camtest::CViewRun;
using M = CCamViewStateMgr;

const char kSubPassword[] = "Sub-Secr3t";

class NetworkDetectStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_PIPELINE_TEST_UNDER_TSAN();
        gsttest::StartGStreamer();
    }
    camtest::CUnattended m_unattended;

    // The main stream is still; the sub-stream moves 3 s after each client's PLAY, for a second.
    static std::vector<CRtspTestServer::CStream> Streams() {
        return {CRtspTestServer::Stream("/main", "h264", "test:motion?on=600000-600001", 640, 480, 10),
                CRtspTestServer::Stream("/sub", "h264", "test:motion?on=3000-4000", 320, 240, 10)
                    .WithLogin("viewer", kSubPassword)};
    }
    static CCamera* TwoStreamCamera(CTavrixDocData& data, int32_t id, const CRtspTestServer& server) {
        CCamera* camera = camtest::SmallCamera(data, id, server.Url("/main"));
        camera->m_videoSizeCx = 0; // the main stream's own size
        camera->m_videoSizeCy = 0;
        camera->m_detectDeviceDN = server.Url("/sub", "viewer", kSubPassword);
        camera->m_streamTimeout = 60;
        return camera;
    }
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
};

TEST_F(NetworkDetectStreamTest, MotionInTheSubStreamRecordsTheMainStreamAtItsSizeAndTheMaskCoversIt) {
    CRtspTestServer server(Streams());
    server.Start();
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([&server](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        TwoStreamCamera(data, 0, server);
        // The same streams, the whole main picture masked: the mask, scaled to the sub-stream,
        // hides its motion.
        CCamera* masked = TwoStreamCamera(data, 1, server);
        masked->m_areaMaskImage.Create(640, 480);
        masked->m_areaMaskImage.Fill(true);
        masked->m_areaMaskEnabled = true;
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Finished recording", "Default") == 1; }, 40000))
        << log.Dump();
    run.Pump(1500);
    EXPECT_EQ(run.Camera(0).GetFrameWidth(), 640) << "the main stream is shown";
    EXPECT_EQ(log.Count("Started recording", "Camera_1"), 0) << log.Dump();
    EXPECT_EQ(run.Camera(1).GetState(), M::kIdle);
    run.Close();

    const std::vector<std::string> files = StartedFiles(log, "Default");
    ASSERT_EQ(files.size(), 1u);
    const rectest::CProbe probe = rectest::Probe(files[0]);
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_EQ(probe.width, 640);
    EXPECT_EQ(probe.height, 480);
    EXPECT_GE(probe.frames, 15);
    for (const CLogEntry& entry : log.Entries()) {
        EXPECT_EQ(entry.text.find(kSubPassword), std::string::npos) << entry.text;
    }
}

TEST_F(NetworkDetectStreamTest, ALostSubStreamIsTheCamerasLossAndBothStreamsComeBack) {
    // The sub-stream on a server of its own, so that it alone can go away.
    CRtspTestServer mainServer({Streams()[0]});
    CRtspTestServer subServer({Streams()[1]});
    mainServer.Start();
    subServer.Start();
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([&](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        CCamera* camera = TwoStreamCamera(data, 0, mainServer);
        camera->m_detectDeviceDN = subServer.Url("/sub", "viewer", kSubPassword);
    });
    CCameraViewTiming timing;
    timing.deviceRetry = {200, 1000};
    CViewRun run(document, timing);
    run.View().OnInitialUpdate();
    CCameraView& camera = run.Camera(0);
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetStats().frames >= 10; }, 20000)) << log.Dump();

    subServer.Stop();
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Capturing device lost.", "Default") == 1; }, 10000))
        << log.Dump();
    EXPECT_EQ(camera.GetState(), M::kUnavailable);
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetStats().deviceRetries >= 2; }, 10000)) << log.Dump();
    subServer.Start();
    ASSERT_TRUE(
        run.PumpUntil([&] { return log.Count("Capturing device re-connected.", "Default") == 1; }, 20000))
        << log.Dump();
    // The re-connected sub-stream is the reference; its own motion (3 s after the new PLAY)
    // records the main stream again.
    const int recorded = log.Count("Finished recording", "Default");
    ASSERT_TRUE(
        run.PumpUntil([&] { return log.Count("Finished recording", "Default") == recorded + 1; }, 20000))
        << log.Dump();
    for (const CLogEntry& entry : log.Entries()) {
        EXPECT_EQ(entry.text.find(kSubPassword), std::string::npos) << entry.text;
    }
}

} // namespace
