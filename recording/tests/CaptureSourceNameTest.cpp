// Display names of capture sources parsed back into sources, and the "test:motion" source whose
// motion at known times drives tests and demos.

#include "recording/CaptureSourceName.h"
#include "recording/MotionPainter.h"
#include "recording/tests/GstTestSupport.h"

#include "foundation/Exceptions.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Kind = CCaptureSourceName::Kind;

class CaptureSourceNameTest : public ::testing::Test {
protected:
    void SetUp() override { gsttest::StartGStreamer(); }
};

TEST_F(CaptureSourceNameTest, ParsesEveryKindOfName) {
    CCaptureSourceName v4l2 = CCaptureSourceName::Parse("v4l2:/dev/v4l/by-id/usb-Cam_123-video-index0");
    EXPECT_EQ(v4l2.kind, Kind::V4l2);
    EXPECT_EQ(v4l2.devicePath, "/dev/v4l/by-id/usb-Cam_123-video-index0");

    CCaptureSourceName ball = CCaptureSourceName::Parse("test:ball");
    EXPECT_EQ(ball.kind, Kind::TestPattern);
    EXPECT_EQ(ball.pattern, "ball");
    EXPECT_EQ(ball.format, "BGR");
    CCaptureSourceName webcam = CCaptureSourceName::Parse("test:ball?format=YUY2");
    EXPECT_EQ(webcam.kind, Kind::TestPattern);
    EXPECT_EQ(webcam.pattern, "ball");
    EXPECT_EQ(webcam.format, "YUY2");

    CCaptureSourceName still = CCaptureSourceName::Parse("test:motion");
    EXPECT_EQ(still.kind, Kind::TestMotion);
    EXPECT_TRUE(still.motionWindows.empty());

    CCaptureSourceName motion = CCaptureSourceName::Parse("test:motion?on=0-1500,20000-25000");
    EXPECT_EQ(motion.kind, Kind::TestMotion);
    EXPECT_EQ(motion.motionWindows, (std::vector<CMotionWindow>{{0, 1500}, {20000, 25000}}));
    EXPECT_EQ(motion.failAtMs, -1);

    CCaptureSourceName failing = CCaptureSourceName::Parse("test:motion?on=0-100&fail=2500");
    EXPECT_EQ(failing.motionWindows, (std::vector<CMotionWindow>{{0, 100}}));
    EXPECT_EQ(failing.failAtMs, 2500);
    EXPECT_EQ(CCaptureSourceName::Parse("test:motion?fail=0").failAtMs, 0);
    EXPECT_TRUE(CCaptureSourceName::Parse("test:motion?fail=7&on=1-2").motionWindows.size() == 1);
}

TEST_F(CaptureSourceNameTest, RefusesMalformedNamesWithTheDeviceMessage) {
    for (const char* name : {"",
                             "v4l2:",
                             "v4l2:video0",
                             "v4l2:/",
                             "usb:/dev/video0",
                             "test:",
                             "test:no-such-pattern",
                             "TEST:smpte",
                             "test:ball?",
                             "test:ball?format=RGB16",
                             "test:ball?format=",
                             "test:ball?fmt=I420",
                             "test:?format=I420",
                             "test:motion?",
                             "test:motion?on=",
                             "test:motion?on=5-5",
                             "test:motion?on=6-5",
                             "test:motion?on=1-2,",
                             "test:motion?on=1-2x",
                             "test:motion?on=-1-2",
                             "test:motion?on=1-2,,3-4",
                             "test:motion?off=1-2",
                             "test:motion?on=1000000000001-1000000000002",
                             "test:motion?on=1-99999999999999999999",
                             "test:motion?fail=",
                             "test:motion?fail=x",
                             "test:motion?fail=5&fail=6",
                             "test:motion?on=1-2&on=3-4",
                             "test:motion?on=1-2&",
                             "test:motion?&",
                             "test:motion?fail=-1",
                             "test:motion?fail=5ms"}) {
        try {
            CCaptureSourceName::Parse(name);
            ADD_FAILURE() << "accepted '" << name << "'";
        } catch (const CDirectXEx& e) {
            EXPECT_EQ(e.GetMessage(), "Unable to parse device name of capture device.") << name;
            EXPECT_EQ(e.GetHResult(), MK_E_SYNTAX) << name;
        }
    }
    EXPECT_THROW(gsttest::Own(CreateCaptureSource("nonsense")), CDirectXEx);
}

TEST_F(CaptureSourceNameTest, CreatesTheNamedSource) {
    gsttest::ElementPtr v4l2 = gsttest::Own(CreateCaptureSource("v4l2:/dev/video7", "cam"));
    ASSERT_TRUE(v4l2);
    EXPECT_STREQ(GST_OBJECT_NAME(v4l2.get()), "cam");
    gchar* device = nullptr;
    g_object_get(v4l2.get(), "device", &device, nullptr);
    EXPECT_STREQ(device, "/dev/video7");
    g_free(device);

    // A test source offers BGR at any size and at the rates of a common webcam.
    gsttest::ElementPtr test = gsttest::Own(CreateCaptureSource("test:smpte"));
    GstPad* pad = gst_element_get_static_pad(test.get(), "src");
    ASSERT_NE(pad, nullptr);
    GstCaps* caps = gst_pad_query_caps(pad, nullptr);
    GstCaps* wanted = gst_caps_from_string("video/x-raw,format=BGR,width=318,height=241,framerate=7/1");
    EXPECT_TRUE(gst_caps_can_intersect(caps, wanted)) << gst_caps_to_string(caps);
    GstCaps* yuv = gst_caps_from_string("video/x-raw,format=I420");
    EXPECT_FALSE(gst_caps_can_intersect(caps, yuv));
    gst_caps_unref(yuv);
    GstCaps* fast = gst_caps_from_string("video/x-raw,format=BGR,framerate=31/1");
    EXPECT_FALSE(gst_caps_can_intersect(caps, fast)) << "no test source spins faster than 30 frames a second";
    gst_caps_unref(fast);
    gst_caps_unref(wanted);
    gst_caps_unref(caps);
    gst_object_unref(pad);
    GstElement* inner = gst_bin_get_by_name(GST_BIN(test.get()), "source");
    gboolean live = FALSE;
    g_object_get(inner, "is-live", &live, nullptr);
    EXPECT_TRUE(live) << "paced like a camera";
    gst_object_unref(inner);

    // In a webcam's own format when the name asks for it.
    gsttest::ElementPtr webcam = gsttest::Own(CreateCaptureSource("test:ball?format=YUY2"));
    GstPad* webcamPad = gst_element_get_static_pad(webcam.get(), "src");
    GstCaps* offered = gst_pad_query_caps(webcamPad, nullptr);
    GstCaps* yuy2 = gst_caps_from_string("video/x-raw,format=YUY2,width=640,height=480,framerate=15/1");
    EXPECT_TRUE(gst_caps_can_intersect(offered, yuy2)) << gst_caps_to_string(offered);
    GstCaps* bgr = gst_caps_from_string("video/x-raw,format=BGR");
    EXPECT_FALSE(gst_caps_can_intersect(offered, bgr));
    gst_caps_unref(bgr);
    gst_caps_unref(yuy2);
    gst_caps_unref(offered);
    gst_object_unref(webcamPad);
}

std::vector<uint8_t> Frame(int width, int height, int stride, uint8_t fill) {
    std::vector<uint8_t> frame(static_cast<size_t>(stride) * height, fill);
    (void)width;
    return frame;
}

TEST(MotionPainterTest, PaintsOnlyInsideTheWindowsAndAlwaysChangesTheFrame) {
    CMotionPainter painter({{100, 200}, {500, 600}});
    EXPECT_FALSE(painter.IsInWindow(99));
    EXPECT_TRUE(painter.IsInWindow(100));
    EXPECT_TRUE(painter.IsInWindow(199));
    EXPECT_FALSE(painter.IsInWindow(200));
    EXPECT_TRUE(painter.IsInWindow(550));

    const int width = 318;
    const int height = 241;
    const int stride = 956;
    std::vector<uint8_t> outside = Frame(width, height, stride, 0x80);
    EXPECT_FALSE(painter.Paint(outside.data(), width, height, stride, 250));
    EXPECT_EQ(outside, Frame(width, height, stride, 0x80));

    std::vector<uint8_t> previous;
    for (int64_t t = 100; t < 200; t += 33) {
        std::vector<uint8_t> frame = Frame(width, height, stride, 0x80);
        ASSERT_TRUE(painter.Paint(frame.data(), width, height, stride, t));
        size_t changed = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width * 3; ++x) {
                changed += frame[y * stride + x] != 0x80 ? 1 : 0;
            }
            for (int x = width * 3; x < stride; ++x) {
                ASSERT_EQ(frame[y * stride + x], 0x80) << "row padding written at row " << y;
            }
        }
        EXPECT_EQ(changed, static_cast<size_t>(width / 4) * 3 * (height / 2))
            << "a block of a quarter by a half";
        if (!previous.empty()) {
            size_t differing = 0;
            for (size_t i = 0; i < frame.size(); ++i) {
                differing += frame[i] != previous[i] ? 1 : 0;
            }
            EXPECT_GE(differing, changed) << "the block flips between white and black";
        }
        previous = frame;
    }
    EXPECT_FALSE(painter.Paint(nullptr, width, height, stride, 150));
    EXPECT_FALSE(painter.Paint(previous.data(), width, height, width, 150)) << "stride too small";
}

// Grey levels of the frames of a non-live run of the motion source, by frame.
struct RunFrames {
    std::vector<GstClockTime> pts;
    std::vector<std::vector<uint8_t>> bytes;
};

RunFrames RunMotionSource(const std::string& displayName, const std::string& caps, int frames) {
    RunFrames run;
    gsttest::ElementPtr pipeline = gsttest::Own(gst_pipeline_new(nullptr));
    GstElement* source = CreateCaptureSource(displayName, "cam");
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", "out");
    GstCaps* wanted = gst_caps_from_string(caps.c_str());
    g_object_set(filter, "caps", wanted, nullptr);
    gst_caps_unref(wanted);
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), source, filter, sink, nullptr);
    EXPECT_TRUE(gst_element_link_many(source, filter, sink, nullptr));
    // Frame-exact time stamps without waiting for the clock.
    GstElement* inner = gst_bin_get_by_name(GST_BIN(source), "source");
    g_object_set(inner, "is-live", FALSE, "num-buffers", frames, nullptr);
    gst_object_unref(inner);

    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)) {
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        gst_buffer_map(buffer, &map, GST_MAP_READ);
        run.pts.push_back(GST_BUFFER_PTS(buffer));
        run.bytes.emplace_back(map.data, map.data + map.size);
        gst_buffer_unmap(buffer, &map);
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return run;
}

TEST_F(CaptureSourceNameTest, MotionSourceIsStillOutsideItsWindowsAndMovesInside) {
    SKIP_PIPELINE_TEST_UNDER_TSAN();
    const RunFrames run =
        RunMotionSource("test:motion?on=200-400", "video/x-raw,width=318,height=241,framerate=25/1", 30);
    ASSERT_EQ(run.bytes.size(), 30u);
    for (size_t i = 1; i < run.bytes.size(); ++i) {
        const int64_t ms = static_cast<int64_t>(run.pts[i] / GST_MSECOND);
        const int64_t previousMs = static_cast<int64_t>(run.pts[i - 1] / GST_MSECOND);
        const bool moving = (ms >= 200 && ms < 400) || (previousMs >= 200 && previousMs < 400);
        // Only the pixels count: the padding at the end of each 954-byte row is never written.
        bool differs = false;
        for (int y = 0; y < 241 && !differs; ++y) {
            differs = std::memcmp(run.bytes[i].data() + y * 956, run.bytes[i - 1].data() + y * 956, 954) != 0;
        }
        EXPECT_EQ(differs, moving) << "frame " << i << " at " << ms << " ms";
    }
}

TEST_F(CaptureSourceNameTest, MotionSourceFollowsTheRequestedSizeAndRate) {
    SKIP_PIPELINE_TEST_UNDER_TSAN();
    const RunFrames run =
        RunMotionSource("test:motion?on=0-1000", "video/x-raw,width=64,height=48,framerate=7/1", 3);
    ASSERT_EQ(run.bytes.size(), 3u);
    EXPECT_EQ(run.bytes[0].size(), static_cast<size_t>(64 * 3 * 48));
    EXPECT_EQ(run.pts[1], gst_util_uint64_scale(GST_SECOND, 1, 7));
    EXPECT_NE(run.bytes[0], run.bytes[1]);
}

TEST_F(CaptureSourceNameTest, FailingSourceReportsAReadErrorAndDeliversNothingAfterIt) {
    SKIP_PIPELINE_TEST_UNDER_TSAN();
    gsttest::ElementPtr pipeline = gsttest::Own(gst_pipeline_new(nullptr));
    GstElement* source = CreateCaptureSource("test:motion?fail=200", "cam");
    GstElement* sink = gst_element_factory_make("appsink", "out");
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), source, sink, nullptr);
    ASSERT_TRUE(gst_element_link(source, sink));
    GstElement* inner = gst_bin_get_by_name(GST_BIN(source), "source");
    g_object_set(inner, "is-live", FALSE, nullptr);
    gst_object_unref(inner);
    GstCaps* caps = gst_caps_from_string("video/x-raw,width=32,height=24,framerate=10/1");
    gst_app_sink_set_caps(GST_APP_SINK(sink), caps);
    gst_caps_unref(caps);

    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    std::vector<GstClockTime> pts;
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), GST_SECOND)) {
        pts.push_back(GST_BUFFER_PTS(gst_sample_get_buffer(sample)));
        gst_sample_unref(sample);
    }
    const gsttest::BusOutcome outcome = gsttest::WaitForEnd(pipeline.get(), 5000);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    EXPECT_EQ(pts.size(), 2u) << "frames at 0 and 100 ms, none from 200 ms on";
    ASSERT_EQ(outcome.type, GST_MESSAGE_ERROR);
    EXPECT_NE(outcome.error.find("it has been removed"), std::string::npos) << outcome.error;
}

} // namespace
