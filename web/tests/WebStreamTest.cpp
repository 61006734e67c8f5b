// The live pictures: MJPEG streams at a reduced size, one encode shared by every viewer, a client
// that never reads, and many viewers at once.
#include "web/tests/WebTestSupport.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

namespace {

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

TEST(WebStreamTest, StreamIsReducedInSizeAndEachFrameEncodedOnceForAllViewers) {
    CScriptedCamera camera("Yard", 1, "Gate", 1280, 720, 25);
    CWebFixtureServer server;
    std::string session, csrf;
    ASSERT_TRUE(server.Login("bob", CWebFixtureServer::kViewerPassword, session, csrf));
    constexpr int kViewers = 5;
    std::vector<int> sockets;
    for (int i = 0; i < kViewers; ++i) {
        sockets.push_back(
            RawGet(server.Server().GetPort(), "/api/v1/cameras/Yard/1/stream", session + "\r\n"));
        ASSERT_GE(sockets.back(), 0);
    }
    const int64_t publishedBefore = camera.Published();
    for (int socket : sockets) {
        std::string jpeg;
        EXPECT_EQ(ReadStreamParts(socket, 8, std::chrono::seconds(60), &jpeg), 8);
        int width = 0, height = 0;
        ASSERT_TRUE(JpegSize(jpeg, width, height));
        EXPECT_EQ(width, 640);
        EXPECT_EQ(height, 360);
    }
    const CWebServerStats stats = server.Server().GetStats();
    const int64_t published = camera.Published() - publishedBefore;
    EXPECT_EQ(stats.streamClients, static_cast<size_t>(kViewers));
    // More frames went out than the camera made, and never more were encoded than it made: the
    // viewers share the encodes.
    EXPECT_GE(stats.framesSent, 8 * kViewers);
    EXPECT_LE(stats.framesEncoded, camera.Published());
    EXPECT_GT(stats.framesSent, stats.framesEncoded);
    EXPECT_LT(stats.framesEncoded, published + 30) << "frames are taken at the stream's rate at most";
    for (int socket : sockets) {
        ::close(socket);
    }
    EXPECT_TRUE(WaitFor([&] { return server.Server().GetStats().streamClients == 0; }))
        << "closed viewers are let go";
}

TEST(WebStreamTest, AClientThatNeverReadsNeitherGrowsMemoryNorStallsOtherViewers) {
    // Noise makes large JPEGs, which fill the slow client's socket buffers quickly.
    CScriptedCamera camera("Yard", 2, "Noise", 1280, 720, 25, true);
    CWebFixtureServer server([](CWebServerOptions& options) { options.live.fps = 25; });
    std::string session, csrf;
    ASSERT_TRUE(server.Login("bob", CWebFixtureServer::kViewerPassword, session, csrf));
    const int slow = RawGet(server.Server().GetPort(), "/api/v1/cameras/Yard/2/stream", session + "\r\n");
    ASSERT_GE(slow, 0);
    int small = 4096;
    ::setsockopt(slow, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    // The slow client's buffers fill up and it is left with frames replaced for it alone.
    ASSERT_TRUE(WaitFor(
        [&] {
            const CWebServerStats stats = server.Server().GetStats();
            return stats.framesDropped > 10;
        },
        std::chrono::seconds(120)));
    const long residentBefore = ResidentKb();
    const int fast = RawGet(server.Server().GetPort(), "/api/v1/cameras/Yard/2/stream", session + "\r\n");
    ASSERT_GE(fast, 0);
    EXPECT_EQ(ReadStreamParts(fast, 40, std::chrono::seconds(120)), 40)
        << "the reading viewer keeps getting frames";
    const CWebServerStats stats = server.Server().GetStats();
    EXPECT_EQ(stats.streamClients, 2u);
    EXPECT_LE(stats.queuedFrames, 2u) << "at most the newest frame waits per client";
    // 40 frames of noise are about 10 MB; a server keeping them for the slow client would grow.
    EXPECT_LT(ResidentKb() - residentBefore, 8 * 1024);
    ::close(fast);
    ::close(slow);
}

TEST(WebStreamTest, FiftyViewersOfOneCameraAllGetTheLivePicture) {
    CScriptedCamera camera("Yard", 3, "Drive", 640, 360, 15);
    CWebFixtureServer server;
    std::string session, csrf;
    ASSERT_TRUE(server.Login("bob", CWebFixtureServer::kViewerPassword, session, csrf));
    constexpr int kViewers = 50;
    std::vector<std::thread> viewers;
    std::atomic<int> satisfied{0};
    for (int i = 0; i < kViewers; ++i) {
        viewers.emplace_back([&] {
            const int socket =
                RawGet(server.Server().GetPort(), "/api/v1/cameras/Yard/3/stream", session + "\r\n");
            if (socket >= 0 && ReadStreamParts(socket, 5, std::chrono::seconds(120)) == 5) {
                ++satisfied;
            }
            if (socket >= 0) {
                ::close(socket);
            }
        });
    }
    for (std::thread& viewer : viewers) {
        viewer.join();
    }
    EXPECT_EQ(satisfied.load(), kViewers);
}

TEST(WebStreamTest, TheStreamOfACameraThatGoesEnds) {
    auto camera = std::make_unique<CScriptedCamera>("Shed", 5, "Door", 320, 240, 15);
    CWebFixtureServer server;
    std::string session, csrf;
    ASSERT_TRUE(server.Login("bob", CWebFixtureServer::kViewerPassword, session, csrf));
    const int socket = RawGet(server.Server().GetPort(), "/api/v1/cameras/Shed/5/stream", session + "\r\n");
    ASSERT_EQ(ReadStreamParts(socket, 2, std::chrono::seconds(60)), 2);
    camera.reset(); // its document closed
    // The server ends the answer (the last chunk), then the viewer is let go.
    EXPECT_TRUE(
        WaitFor([&] { return server.Server().GetStats().streamClients == 0; }, std::chrono::seconds(60)));
    ::close(socket);
}

TEST(WebStreamTest, SnapshotOfACameraWithoutFramesAnswers503) {
    CScriptedCamera camera("Yard", 4, "Dark", 320, 240, 0);
    CWebFixtureServer server;
    std::string session, csrf;
    ASSERT_TRUE(server.Login("bob", CWebFixtureServer::kViewerPassword, session, csrf));
    const CHttpReply reply = HttpRequest("GET", server.Url("api/v1/cameras/Yard/4/snapshot"), {}, {session});
    EXPECT_EQ(reply.status, 503);
    EXPECT_EQ(HttpRequest("GET", server.Url("api/v1/cameras/Nowhere/4/snapshot"), {}, {session}).status, 404);
}

} // namespace
