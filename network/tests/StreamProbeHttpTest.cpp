// The probe on HTTP cameras (the MJPEG camera peer, http_camera.py, on loopback): the stream's
// size and rate with the right login (basic and digest), "authentication failed" with a wrong one,
// and a camera that answers nonsense or nothing told apart from one that is away.

#include "network/StreamProbe.h"
#include "network/tests/NetworkTestSupport.h"
#include "recording/TavrixElements.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Outcome = CStreamProbeResult::Outcome;

class StreamProbeHttpTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        InitGStreamer();
        s_frames = nettest::MakeJpegFrames(
            (std::filesystem::temp_directory_path() / ("tavrix-probe-jpeg-" + std::to_string(getpid())))
                .string(),
            10);
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(s_frames); }
    static inline std::string s_frames;
};

TEST_F(StreamProbeHttpTest, MjpegWithBasicOrDigestLoginReportsSizeAndRateAndAWrongLoginIsRefused) {
    for (const bool digest : {false, true}) {
        std::vector<std::string> arguments = {"--mode", "mjpeg",  "--frames", s_frames,     "--fps",
                                              "10",     "--user", "ann",      "--password", "pa:ss"};
        if (digest) {
            arguments.push_back("--digest");
        }
        nettest::CHttpCamera camera(arguments);
        ASSERT_GT(camera.Port(), 0);
        const CStreamProbeResult right = CStreamProbe::Run(camera.Url("ann:pa%3Ass"), 20s);
        ASSERT_EQ(right.outcome, Outcome::Ok) << right.Describe() << (digest ? " (digest)" : " (basic)");
        EXPECT_NE(right.codec.find("JPEG"), std::string::npos) << right.codec;
        EXPECT_EQ(right.width, 320);
        EXPECT_EQ(right.height, 240);
        EXPECT_NEAR(right.framesPerSecond, 10.0, 4.0) << "measured by arrival: the stream gives no rate";

        const CStreamProbeResult wrong = CStreamProbe::Run(camera.Url("ann:wrong-pw"), 20s);
        EXPECT_EQ(wrong.outcome, Outcome::AuthenticationFailed) << wrong.Describe();
        EXPECT_EQ(wrong.Describe().find("wrong-pw"), std::string::npos) << wrong.Describe();
    }
}

TEST_F(StreamProbeHttpTest, GarbageIsNotVideoAndSilenceTimesOut) {
    nettest::CHttpCamera garbage({"--mode", "garbage"});
    ASSERT_GT(garbage.Port(), 0);
    const CStreamProbeResult noise = CStreamProbe::Run(garbage.Url(), 20s);
    EXPECT_TRUE(noise.outcome == Outcome::NotVideo || noise.outcome == Outcome::Failed) << noise.Describe();
    EXPECT_FALSE(noise.IsOk());

    nettest::CHttpCamera silent({"--mode", "silent"});
    ASSERT_GT(silent.Port(), 0);
    const CStreamProbeResult nothing = CStreamProbe::Run(silent.Url(), 3s);
    EXPECT_EQ(nothing.outcome, Outcome::TimedOut) << nothing.Describe();
}

} // namespace
