// Network sources against real servers on loopback: the RTSP test server (H.264 and MJPEG, with
// and without a password), the HTTP camera peer (MJPEG with basic and digest authentication, a
// camera that never answers, one that answers garbage) and video files played as cameras.

#include "network/tests/NetworkTestSupport.h"
#include "network/tests/RtspTestServer.h"

#include <gtest/gtest.h>

namespace {

using nettest::CHttpCamera;
using nettest::CSourceRun;

class NetworkSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_PIPELINE_TEST_UNDER_TSAN();
        gsttest::StartGStreamer();
        m_folder = std::filesystem::temp_directory_path() / ("tavrix-net-" + std::to_string(getpid()));
        std::filesystem::create_directories(m_folder);
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }
    std::filesystem::path m_folder;
};

TEST_F(NetworkSourceTest, RtspH264H265AndMjpegDecodeToBgrAtTheCamerasSizeOrTheAskedOne) {
    CRtspTestServer server({CRtspTestServer::Stream("/h264"), CRtspTestServer::Stream("/mjpeg", "mjpeg"),
                            CRtspTestServer::Stream("/h265", "h265"),
                            CRtspTestServer::Stream("/udp", "h264", "test:smpte", 176, 144, 10)});
    server.Start();
    {
        CSourceRun run(server.Url("/h264"));
        ASSERT_TRUE(run.WaitForFrames(10)) << run.Error();
        const GstVideoInfo info = run.Format();
        EXPECT_EQ(GST_VIDEO_INFO_FORMAT(&info), GST_VIDEO_FORMAT_BGR);
        EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&info), 320);
        EXPECT_EQ(GST_VIDEO_INFO_HEIGHT(&info), 240);
        EXPECT_EQ(run.Stream().GetDecoderDescription().rfind("h264 with ", 0), 0u)
            << run.Stream().GetDecoderDescription();
        // The encoded stream can be taken before the decoder.
        GstElement* tee = gst_bin_get_by_name(GST_BIN(run.Source()), kEncodedTeeName);
        ASSERT_NE(tee, nullptr);
        gst_object_unref(tee);
    }
    {
        CSourceRun run(server.Url("/mjpeg"), {160, 120, 5});
        ASSERT_TRUE(run.WaitForFrames(10)) << run.Error();
        const GstVideoInfo info = run.Format();
        EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&info), 160);
        EXPECT_EQ(GST_VIDEO_INFO_HEIGHT(&info), 120);
        EXPECT_EQ(GST_VIDEO_INFO_FPS_N(&info), 5);
        EXPECT_NE(run.Stream().GetDecoderDescription().find("jpeg with "), std::string::npos);
    }
    {
        CSourceRun run(server.Url("/h265"));
        ASSERT_TRUE(run.WaitForFrames(10)) << run.Error();
        const GstVideoInfo info = run.Format();
        EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&info), 320);
        EXPECT_EQ(run.Stream().GetDecoderDescription().rfind("h265 with ", 0), 0u)
            << run.Stream().GetDecoderDescription();
    }
    {
        CSourceRun run(server.Url("/udp") + "?transport=udp");
        ASSERT_TRUE(run.WaitForFrames(5)) << run.Error();
        const GstVideoInfo info = run.Format();
        EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&info), 176);
    }
}

TEST_F(NetworkSourceTest, RtspCredentialsAreSentAndAWrongPasswordIsReportedAsRefused) {
    CRtspTestServer server({CRtspTestServer::Stream("/cam").WithLogin("viewer", "s3cret")});
    server.Start();
    {
        CSourceRun run(server.Url("/cam", "viewer", "s3cret"));
        ASSERT_TRUE(run.WaitForFrames(5)) << run.Error();
        EXPECT_FALSE(run.Stream().IsAuthFailed());
    }
    for (const std::string& url : {server.Url("/cam", "viewer", "wrong"), server.Url("/cam")}) {
        SCOPED_TRACE(url);
        CSourceRun run(url);
        ASSERT_TRUE(run.WaitForError()) << "frames: " << run.Stream().GetFrames();
        EXPECT_TRUE(run.Stream().IsAuthFailed()) << run.Error();
        EXPECT_EQ(run.Error().find("wrong"), std::string::npos) << run.Error();
        EXPECT_EQ(run.Stream().GetFrames(), 0);
    }
}

TEST_F(NetworkSourceTest, HttpMjpegWithBasicAndDigestAuthentication) {
    const std::string frames = nettest::MakeJpegFrames((m_folder / "frames").string(), 10);
    CHttpCamera basic({"--frames", frames, "--fps", "10", "--user", "admin", "--password", "pw"});
    CHttpCamera digest(
        {"--frames", frames, "--fps", "10", "--user", "admin", "--password", "pw", "--digest"});
    ASSERT_GT(basic.Port(), 0);
    ASSERT_GT(digest.Port(), 0);
    for (const CHttpCamera* camera : {&basic, &digest}) {
        CSourceRun run(camera->Url("admin:pw"));
        ASSERT_TRUE(run.WaitForFrames(5)) << run.Error();
        const GstVideoInfo info = run.Format();
        EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&info), 320);
    }
    CSourceRun refused(basic.Url("admin:nope"));
    ASSERT_TRUE(refused.WaitForError());
    EXPECT_TRUE(refused.Stream().IsAuthFailed()) << refused.Error();
    // 403: the camera refuses this user whatever the password.
    CHttpCamera forbidding({"--frames", frames, "--forbid"});
    ASSERT_GT(forbidding.Port(), 0);
    CSourceRun forbidden(forbidding.Url("admin:pw"));
    ASSERT_TRUE(forbidden.WaitForError());
    EXPECT_TRUE(forbidden.Stream().IsAuthFailed()) << forbidden.Error();
    EXPECT_EQ(forbidden.Stream().GetFrames(), 0);
}

TEST_F(NetworkSourceTest, ACameraThatSendsGarbageFailsOrStaysWithoutFrames) {
    CHttpCamera garbage({"--mode", "garbage"});
    ASSERT_GT(garbage.Port(), 0);
    CSourceRun run(garbage.Url());
    // Either an error or nothing at all: never a frame, and the process goes on.
    run.WaitForError(5000);
    EXPECT_EQ(run.Stream().GetFrames(), 0);
    CSourceRun rtsp("rtsp://127.0.0.1:" + std::to_string(garbage.Port()) + "/live");
    rtsp.WaitForError(5000);
    EXPECT_EQ(rtsp.Stream().GetFrames(), 0);
}

TEST_F(NetworkSourceTest, AVideoFilePlaysAtItsOwnRateAndLoopsWhenAsked) {
    const std::string clip = nettest::MakeClip((m_folder / "clip.mp4").string(), 15); // one second
    ASSERT_TRUE(std::filesystem::exists(clip));
    CSourceRun looped("file:" + clip + "?loop=1");
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(looped.WaitForFrames(40, 30000)) << looped.Error();
    // 40 frames of a 15-frame clip: played more than twice, at its own pace (not all at once).
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2000));
    EXPECT_NE(looped.Stream().GetDecoderDescription(), "");
    const GstVideoInfo info = looped.Format();
    EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&info), 160);

    CSourceRun once("file:" + clip);
    ASSERT_TRUE(once.WaitForFrames(15)) << once.Error();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(once.Stream().GetFrames(), 15) << "without loop=1 the file ends";
}

} // namespace
