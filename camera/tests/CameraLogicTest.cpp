// The camera view's pure pieces: the overlay averages and texts, the choice of the capture format
// and the document view's decision whether a camera needs a new pipeline.

#include "camera/CaptureFormat.h"
#include "camera/FrameOverlay.h"
#include "camera/RunningAverage.h"
#include "camera/TavrixViewCore.h"
#include "persistence/Camera.h"
#include "recording/MediaSubtypes.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <regex>

namespace {

TEST(RunningAverageTest, HoldsOneValueLessThanItsSlotsAndDropsTheOldest) {
    CRunningAverage average(4); // holds 3
    EXPECT_EQ(average.Count(), 0);
    EXPECT_EQ(average.Average(), 0);
    average.Add(10);
    EXPECT_EQ(average.Average(), 10);
    average.Add(20);
    average.Add(33);
    EXPECT_EQ(average.Count(), 3);
    EXPECT_EQ(average.Average(), 21); // 63 / 3, integer division
    average.Add(1);                   // drops 10
    EXPECT_EQ(average.Count(), 3);
    EXPECT_EQ(average.Average(), 18); // 54 / 3
    for (int i = 0; i < 10; ++i) {    // around the ring several times
        average.Add(7);
    }
    EXPECT_EQ(average.Average(), 7);
    EXPECT_EQ(average.Count(), 3);
    average.Clear();
    EXPECT_EQ(average.Count(), 0);
}

TEST(RunningAverageTest, FrameRateAndPixelCountRingsCoverNineteenAndNineValues) {
    CRunningAverage fps(20);
    CRunningAverage level(10);
    for (int i = 1; i <= 100; ++i) {
        fps.Add(i);
        level.Add(i);
    }
    EXPECT_EQ(fps.Count(), 19);
    EXPECT_EQ(fps.Average(), (82 + 100) / 2); // the last 19: 82..100
    EXPECT_EQ(level.Count(), 9);
    EXPECT_EQ(level.Average(), 96); // 92..100
    CRunningAverage big(3);
    big.Add(2000000000);
    big.Add(2000000000);
    EXPECT_EQ(big.Average(), 2000000000) << "the sum does not overflow";
    EXPECT_EQ(CRunningAverage(0).Size(), 2);
}

TEST(FrameOverlayTest, TextsAndPlacesFollowTheFrame) {
    EXPECT_EQ(FrameOverlay::PixelCountText(7), "  7 PC");
    EXPECT_EQ(FrameOverlay::PixelCountText(1234), " 1234 PC");
    EXPECT_EQ(FrameOverlay::FrameRateText(25), " 25 FPS");
    EXPECT_EQ(FrameOverlay::FrameRateText(5), " 5 FPS");
    EXPECT_EQ(FrameOverlay::FrameRateText(125), " 125 FPS");
    EXPECT_EQ(FrameOverlay::TimePosition(480), (FrameOverlay::Position{10, 450}));
    EXPECT_EQ(FrameOverlay::NamePosition(480), (FrameOverlay::Position{10, 465}));
    EXPECT_EQ(FrameOverlay::kPixelCountPosition, (FrameOverlay::Position{10, 10}));
    EXPECT_EQ(FrameOverlay::kFrameRatePosition, (FrameOverlay::Position{80, 10}));
}

TEST(FrameOverlayTest, FrameRateOfAnIntervalIsThousandByWholeMillisecondsOrNoneUnderOne) {
    const std::pair<int64_t, int32_t> cases[] = {
        {400000, 25},  // 40 ms
        {333333, 30},  // 33 ms
        {70000, 142},  // 7 ms
        {19999, 1000}, // 1 ms
        {9999, -1},    // under 1 ms: no rate (and no division by 0)
        {0, -1},       {-400000, -1}, {10000000, 1}, {25000000, 0}, // 2500 ms: 0.4 frames a second, truncated
    };
    for (const auto& [interval, fps] : cases) {
        EXPECT_EQ(FrameOverlay::FrameRateOfInterval(interval), fps) << interval;
    }
}

TEST(FrameOverlayTest, DateAndTimeAreTheShortDateAndTwentyFourHours) {
    // 2026-12-07 15:05:09 local time.
    std::tm local{};
    local.tm_year = 126;
    local.tm_mon = 11;
    local.tm_mday = 7;
    local.tm_hour = 15;
    local.tm_min = 5;
    local.tm_sec = 9;
    local.tm_isdst = -1;
    const std::time_t moment = std::mktime(&local);
    const std::string text = FrameOverlay::DateTimeText(moment);
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(.*\b(07|7|12)\D+(07|7|12)\D+(26|2026) 15:05:09)")))
        << text;
    CDateTimeStamp stamp;
    const std::string& first = stamp.Text(moment);
    EXPECT_EQ(&stamp.Text(moment), &first) << "formatted once a second";
    EXPECT_NE(stamp.Text(moment + 1), text);
}

class CaptureFormatTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gst_init(nullptr, nullptr); }

    static CCaptureFormat Select(const char* offered, CCaptureFormatRequest request) {
        GstCaps* caps = offered != nullptr ? gst_caps_from_string(offered) : nullptr;
        CCaptureFormat format = CCaptureFormat::Select(caps, request);
        if (caps != nullptr) {
            gst_caps_unref(caps);
        }
        return format;
    }
    static CCaptureFormatRequest Request(int32_t width, int32_t height, int32_t fps,
                                         const GUID& subtype = MEDIASUBTYPE_RGB24) {
        CCaptureFormatRequest request;
        request.subtype = subtype;
        request.width = width;
        request.height = height;
        request.fps = fps;
        return request;
    }
    static GUID Subtype(const char* name) {
        for (const CMediaSubtypeInfo& info : GetMediaSubtypes()) {
            if (std::string(info.name) == name) {
                return info.guid;
            }
        }
        return GUID{};
    }
};

constexpr const char* kTestSource = "video/x-raw,format=BGR,width=[1,2147483647],height=[1,2147483647],"
                                    "framerate=[1/1,30/1]";
constexpr const char* kWebcam = "image/jpeg,width=1280,height=720,framerate={30/1,15/1};"
                                "video/x-raw,format=YUY2,width=640,height=480,framerate={30/1,20/1,5/1};"
                                "video/x-raw,format=YUY2,width=320,height=240,framerate={30/1,5/1}";

TEST_F(CaptureFormatTest, TheRequestedFormatIsAskedForWhenOffered) {
    const CCaptureFormat format = Select(kTestSource, Request(640, 480, 25));
    ASSERT_EQ(format.outcome, CCaptureFormat::Outcome::Selected);
    EXPECT_FALSE(format.jpeg);
    GstCaps* wanted = gst_caps_from_string("video/x-raw,format=BGR,width=640,height=480,framerate=25/1");
    EXPECT_TRUE(gst_caps_is_subset(format.caps.get(), wanted)) << format.ToString();
    EXPECT_TRUE(gst_caps_is_fixed(format.caps.get()));
    gst_caps_unref(wanted);
}

TEST_F(CaptureFormatTest, ARateTheSourceCannotDeliverFallsBackToWhatItOffers) {
    // The default of 1000 frames a second: the fastest the source offers, never 1000.
    CCaptureFormat format = Select(kTestSource, Request(320, 240, 1000));
    ASSERT_EQ(format.outcome, CCaptureFormat::Outcome::Selected);
    EXPECT_EQ(format.fpsNumerator, 30);
    EXPECT_EQ(format.fpsDenominator, 1);
    // A list: the fastest rate not above the request, else the slowest.
    const GUID yuy2 = Subtype("YUY2");
    format = Select(kWebcam, Request(640, 480, 25, yuy2));
    EXPECT_EQ(format.fpsNumerator, 20);
    format = Select(kWebcam, Request(640, 480, 2, yuy2));
    EXPECT_EQ(format.fpsNumerator, 5);
    format = Select(kWebcam, Request(640, 480, 0, yuy2));
    EXPECT_EQ(format.fpsNumerator, 30) << "no limit: the fastest";
    // A range without a real bound counts as 30 at most.
    format = Select("video/x-raw,format=BGR,width=320,height=240,framerate=[0/1,2147483647/1]",
                    Request(320, 240, 1000));
    EXPECT_EQ(format.fpsNumerator, 30);
    format =
        Select("video/x-raw,format=BGR,width=320,height=240,framerate=[10/1,60/1]", Request(320, 240, 5));
    EXPECT_EQ(format.fpsNumerator, 10) << "below the range: its slowest";
}

TEST_F(CaptureFormatTest, TheFirstOfferedFormatOfTheSubtypeAndSizeIsChosen) {
    const CCaptureFormat jpeg = Select(kWebcam, Request(1280, 720, 30, Subtype("MJPG")));
    ASSERT_EQ(jpeg.outcome, CCaptureFormat::Outcome::Selected);
    EXPECT_TRUE(jpeg.jpeg);
    EXPECT_TRUE(gst_structure_has_name(gst_caps_get_structure(jpeg.caps.get(), 0), "image/jpeg"));
    const CCaptureFormat small = Select(kWebcam, Request(320, 240, 30, Subtype("YUY2")));
    ASSERT_EQ(small.outcome, CCaptureFormat::Outcome::Selected);
    int width = 0;
    gst_structure_get_int(gst_caps_get_structure(small.caps.get(), 0), "width", &width);
    EXPECT_EQ(width, 320);
}

TEST_F(CaptureFormatTest, NothingSuitableStartsWithTheSourcesDefaultsItCanDecode) {
    // The default RGB24 on a camera that has only YUY2 and JPEG: its defaults, raw video first.
    CCaptureFormat format = Select(kWebcam, Request(640, 480, 30));
    EXPECT_EQ(format.outcome, CCaptureFormat::Outcome::NoSuitableType);
    EXPECT_EQ(format.ToString(), "video/x-raw");
    EXPECT_FALSE(format.jpeg);
    format = Select("image/jpeg,width=640,height=480,framerate=30/1", Request(640, 480, 30));
    EXPECT_EQ(format.outcome, CCaptureFormat::Outcome::NoSuitableType);
    EXPECT_TRUE(format.jpeg);
    // A size the source does not have, and sizes no source is asked for.
    EXPECT_EQ(Select(kWebcam, Request(800, 600, 30, Subtype("YUY2"))).outcome,
              CCaptureFormat::Outcome::NoSuitableType);
    EXPECT_EQ(Select(kTestSource, Request(0, 240, 30)).outcome, CCaptureFormat::Outcome::NoSuitableType);
    EXPECT_EQ(Select(kTestSource, Request(100000, 100000, 30)).outcome,
              CCaptureFormat::Outcome::NoSuitableType);
    // A subtype GStreamer cannot decode here, and an unknown one.
    EXPECT_EQ(Select("video/x-dv,width=720,height=576", Request(720, 576, 25, Subtype("dvsd"))).outcome,
              CCaptureFormat::Outcome::NoSuitableType);
    EXPECT_EQ(Select(kTestSource, Request(320, 240, 30, GUID{1, 2, 3, {}})).outcome,
              CCaptureFormat::Outcome::NoSuitableType);
}

TEST_F(CaptureFormatTest, ASourceWithoutFormatsIsLeftToItsDefaults) {
    EXPECT_EQ(Select(nullptr, Request(320, 240, 30)).outcome, CCaptureFormat::Outcome::NoConfiguration);
    EXPECT_EQ(Select("ANY", Request(320, 240, 30)).outcome, CCaptureFormat::Outcome::NoConfiguration);
    EXPECT_EQ(Select("EMPTY", Request(320, 240, 30)).outcome, CCaptureFormat::Outcome::NoConfiguration);
    EXPECT_EQ(Select(nullptr, Request(320, 240, 30)).ToString(), "(source defaults)");
}

TEST(DocViewDecisionTest, AnotherDeviceSizeOrRateGivesANewPipelineElseItRuns) {
    CCamera camera;
    camera.m_videoDeviceDN = "test:ball";
    camera.m_videoSizeCx = 640;
    camera.m_videoSizeCy = 480;
    camera.m_fps = 25;
    using A = CTavrixViewCore::RefreshAction;
    EXPECT_EQ(CTavrixViewCore::DecideRefresh("test:ball", 640, 480, 25, camera), A::Start);
    EXPECT_EQ(CTavrixViewCore::DecideRefresh("test:smpte", 640, 480, 25, camera), A::Rebuild);
    EXPECT_EQ(CTavrixViewCore::DecideRefresh("test:ball", 480, 640, 25, camera), A::Rebuild);
    EXPECT_EQ(CTavrixViewCore::DecideRefresh("test:ball", 640, 481, 25, camera), A::Rebuild);
    EXPECT_EQ(CTavrixViewCore::DecideRefresh("test:ball", 640, 480, 30, camera), A::Rebuild);
    // A camera that has no pipeline yet (0 x 0) always gets one.
    EXPECT_EQ(CTavrixViewCore::DecideRefresh("", 0, 0, 0, camera), A::Rebuild);
}

} // namespace
