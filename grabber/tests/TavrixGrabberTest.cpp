// The "tavrixgrabber" element driven through GstHarness (a test clock, buffers pushed by hand) and
// in real pipelines, at an odd frame size where row-stride mistakes show.

#include "grabber/ITavrixGrabber.h"
#include "recording/TavrixElements.h"
#include "recording/tests/GstTestSupport.h"

#include "foundation/Exceptions.h"

#include <gst/check/gstharness.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 318; // odd sizes: BGR rows are padded to 956 bytes
constexpr int kHeight = 241;
constexpr int kStride = 956;
constexpr const char* kCaps = "video/x-raw,format=BGR,width=318,height=241,framerate=25/1";

class CallbackFn final : public ITavrixGrabberCB {
public:
    explicit CallbackFn(std::function<HRESULT(CMediaSample*)> fn) : m_fn(std::move(fn)) {}
    HRESULT OnFrame(CMediaSample* sample) override { return m_fn(sample); }

private:
    std::function<HRESULT(CMediaSample*)> m_fn;
};

// A frame whose every pixel (x, y) holds the bytes (x, y, seed) and whose row padding is 0xEE.
GstBuffer* MakeFrame(uint8_t seed, GstClockTime pts = 0) {
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, static_cast<gsize>(kStride) * kHeight, nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    std::memset(map.data, 0xEE, map.size);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* p = map.data + y * kStride + x * 3;
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = seed;
        }
    }
    gst_buffer_unmap(buffer, &map);
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DURATION(buffer) = 40 * GST_MSECOND;
    return buffer;
}

std::vector<uint8_t> Bytes(GstBuffer* buffer) {
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_READ);
    std::vector<uint8_t> bytes(map.data, map.data + map.size);
    gst_buffer_unmap(buffer, &map);
    return bytes;
}

class TavrixGrabberTest : public ::testing::Test {
protected:
    void SetUp() override {
        gsttest::StartGStreamer();
        m_element = gsttest::Own(CreateGrabberElement());
        m_grabber = GetGrabberControl(m_element.get());
    }
    void TearDown() override {
        if (m_harness != nullptr) {
            gst_harness_teardown(m_harness);
        }
    }
    GstHarness* Harness() {
        m_harness = gst_harness_new_with_element(m_element.get(), "sink", "src");
        gst_harness_set_src_caps_str(m_harness, kCaps);
        return m_harness;
    }

    gsttest::ElementPtr m_element;
    ITavrixGrabber* m_grabber = nullptr;
    GstHarness* m_harness = nullptr;
};

TEST_F(TavrixGrabberTest, RefusesVideoOtherThanBgrAndI420) {
    GstHarness* h = gst_harness_new_with_element(m_element.get(), "sink", "src");
    m_harness = h;
    gst_harness_set_src_caps_str(h, "video/x-raw,format=NV12,width=320,height=240,framerate=25/1");
    EXPECT_EQ(gst_harness_push(h, gst_buffer_new_allocate(nullptr, 320 * 240 * 3 / 2, nullptr)),
              GST_FLOW_NOT_NEGOTIATED);
    CVideoFormat format;
    EXPECT_EQ(m_grabber->GetInputMediaType(&format), VFW_E_NOT_CONNECTED);

    // A real pipeline cannot link an RGBx source to it either.
    gsttest::ElementPtr src = gsttest::Own(gst_element_factory_make("videotestsrc", nullptr));
    gsttest::ElementPtr grabber = gsttest::Own(CreateGrabberElement("other"));
    GstCaps* rgbx = gst_caps_from_string("video/x-raw,format=RGBx");
    EXPECT_FALSE(gst_element_link_filtered(src.get(), grabber.get(), rgbx));
    gst_caps_unref(rgbx);
}

// A camera that decodes to YUV hands its I420 frames over as they are: the format names the
// planes and the range, the callback's changes go downstream, and a snapshot is still BGR.
TEST_F(TavrixGrabberTest, I420FramesKeepTheirPlanesAndSnapshotsComeAsBgr) {
    constexpr int kW = 317, kH = 241; // odd: chroma rounded up, rows padded to 4 bytes
    GstVideoInfo info;
    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_I420, kW, kH);
    CallbackFn callback([](CMediaSample* sample) {
        sample->GetPointer()[0] = 235; // the first luma byte: white
        return S_OK;
    });
    m_grabber->SetFrameCallback(&callback);
    GstHarness* h = gst_harness_new_with_element(m_element.get(), "sink", "src");
    m_harness = h;
    gst_harness_set_src_caps_str(h, "video/x-raw,format=I420,width=317,height=241,framerate=25/1,"
                                    "colorimetry=bt601");
    auto grey = [&] {
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr);
        GstMapInfo map;
        gst_buffer_map(buffer, &map, GST_MAP_WRITE);
        std::memset(map.data, 126, GST_VIDEO_INFO_PLANE_OFFSET(&info, 1)); // studio luma of grey 128
        std::memset(map.data + GST_VIDEO_INFO_PLANE_OFFSET(&info, 1), 128,
                    map.size - GST_VIDEO_INFO_PLANE_OFFSET(&info, 1));
        gst_buffer_unmap(buffer, &map);
        return buffer;
    };
    GstBuffer* out = gst_harness_push_and_pull(h, grey());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(Bytes(out)[0], 235);
    EXPECT_EQ(Bytes(out)[1], 126);
    gst_buffer_unref(out);
    CVideoFormat format;
    ASSERT_EQ(m_grabber->GetInputMediaType(&format), S_OK);
    EXPECT_TRUE(format.IsI420());
    EXPECT_FALSE(format.fullRange);
    EXPECT_EQ(format.stride, 320);
    EXPECT_EQ(format.planeStride[1], 160);
    EXPECT_EQ(format.planeOffset[1], 320 * 242);
    EXPECT_EQ(format.planeOffset[2], 320 * 242 + 160 * 121);
    EXPECT_EQ(format.frameSize, static_cast<int32_t>(GST_VIDEO_INFO_SIZE(&info)));

    CRgbPicture picture;
    auto snapshot = std::async(std::launch::async, [&] { return m_grabber->TakeSnapshot(&picture); });
    while (snapshot.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        gst_buffer_unref(gst_harness_push_and_pull(h, grey()));
    }
    ASSERT_EQ(snapshot.get(), S_OK);
    ASSERT_EQ(picture.width, kW);
    ASSERT_EQ(picture.height, kH);
    for (int y = 0; y < kH; y += 7) {
        for (int x = 0; x < kW; x += 13) {
            const uint8_t* p = picture.Row(y) + x * 3;
            ASSERT_NEAR(p[0], 128, 2) << x << "," << y << " (the snapshot is taken before the callback)";
            ASSERT_NEAR(p[1], 128, 2);
            ASSERT_NEAR(p[2], 128, 2);
        }
    }
}

TEST_F(TavrixGrabberTest, ReportsTheNegotiatedFormatOnlyWhileNegotiated) {
    CVideoFormat format;
    EXPECT_EQ(m_grabber->GetInputMediaType(&format), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(m_grabber->GetInputMediaType(nullptr), E_POINTER);

    GstHarness* h = Harness();
    ASSERT_EQ(gst_harness_push(h, MakeFrame(1)), GST_FLOW_OK);
    ASSERT_EQ(m_grabber->GetInputMediaType(&format), S_OK);
    EXPECT_EQ(format.width, kWidth);
    EXPECT_EQ(format.height, kHeight);
    EXPECT_EQ(format.stride, kStride);
    EXPECT_EQ(format.frameSize, kStride * kHeight);
    EXPECT_EQ(format.frameDuration100ns, 400000);
    EXPECT_STREQ(format.formatName, "BGR");

    gst_element_set_state(m_element.get(), GST_STATE_NULL);
    EXPECT_EQ(m_grabber->GetInputMediaType(&format), VFW_E_NOT_CONNECTED);
}

TEST_F(TavrixGrabberTest, PassesFramesThroughUntouchedWithoutCallback) {
    GstHarness* h = Harness();
    GstBuffer* in = MakeFrame(7);
    const std::vector<uint8_t> expected = Bytes(in);
    ASSERT_EQ(gst_harness_push(h, in), GST_FLOW_OK);
    GstBuffer* out = gst_harness_pull(h);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out, in) << "the same buffer goes on, not a copy";
    EXPECT_EQ(Bytes(out), expected);
    gst_buffer_unref(out);
}

TEST_F(TavrixGrabberTest, CallbackSeesEveryFrameAndItsEditsReachDownstream) {
    int calls = 0;
    CallbackFn callback([&](CMediaSample* sample) {
        ++calls;
        EXPECT_EQ(sample->GetSize(), kStride * kHeight);
        REFERENCE_TIME start = 0;
        REFERENCE_TIME end = 0;
        EXPECT_TRUE(sample->GetTime(&start, &end));
        EXPECT_EQ(start, (calls - 1) * 400000);
        EXPECT_EQ(end, start + 400000);
        // Mark the last pixel of every row: right only when the stride is honoured.
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* p = sample->GetPointer() + y * kStride + (kWidth - 1) * 3;
            p[0] = 0x11;
            p[1] = 0x22;
            p[2] = 0x33;
        }
        return S_OK;
    });
    ASSERT_EQ(m_grabber->SetFrameCallback(&callback), S_OK);
    GstHarness* h = Harness();
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(gst_harness_push(h, MakeFrame(static_cast<uint8_t>(i), i * 40 * GST_MSECOND)), GST_FLOW_OK);
        GstBuffer* out = gst_harness_pull(h);
        ASSERT_NE(out, nullptr);
        const std::vector<uint8_t> bytes = Bytes(out);
        gst_buffer_unref(out);
        for (int y = 0; y < kHeight; ++y) {
            const uint8_t* row = bytes.data() + y * kStride;
            ASSERT_EQ(row[(kWidth - 1) * 3 + 2], 0x33) << "row " << y;
            ASSERT_EQ(row[(kWidth - 2) * 3 + 2], i) << "row " << y << ": neighbour untouched";
            ASSERT_EQ(row[kStride - 1], 0xEE) << "row " << y << ": padding untouched";
        }
    }
    EXPECT_EQ(calls, 3);
}

TEST_F(TavrixGrabberTest, CallbackNeverWritesIntoAFrameSharedWithOthers) {
    CallbackFn callback([](CMediaSample* sample) {
        std::memset(sample->GetPointer(), 0, static_cast<size_t>(sample->GetSize()));
        return S_OK;
    });
    m_grabber->SetFrameCallback(&callback);
    GstHarness* h = Harness();
    GstBuffer* shared = MakeFrame(9);
    const std::vector<uint8_t> original = Bytes(shared);
    gst_buffer_ref(shared); // another branch holds it too
    ASSERT_EQ(gst_harness_push(h, shared), GST_FLOW_OK);
    GstBuffer* out = gst_harness_pull(h);
    ASSERT_NE(out, nullptr);
    EXPECT_NE(out, shared);
    EXPECT_EQ(Bytes(out), std::vector<uint8_t>(original.size(), 0));
    EXPECT_EQ(Bytes(shared), original);
    gst_buffer_unref(out);
    gst_buffer_unref(shared);
}

TEST_F(TavrixGrabberTest, SFalseDropsTheFrameAndAnErrorFailsTheStream) {
    int calls = 0;
    HRESULT nextError = S_OK;
    CallbackFn callback([&](CMediaSample*) {
        ++calls;
        if (nextError != S_OK) {
            return nextError;
        }
        return calls % 2 == 0 ? S_FALSE : S_OK;
    });
    m_grabber->SetFrameCallback(&callback);
    GstHarness* h = Harness();
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(m_element.get(), bus);

    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(gst_harness_push(h, MakeFrame(static_cast<uint8_t>(i))), GST_FLOW_OK);
    }
    EXPECT_EQ(gst_harness_buffers_received(h), 2u) << "every second frame dropped";
    EXPECT_EQ(gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR), nullptr);

    nextError = E_OUTOFMEMORY;
    EXPECT_EQ(gst_harness_push(h, MakeFrame(5)), GST_FLOW_ERROR);
    EXPECT_EQ(gst_harness_buffers_received(h), 2u);
    GstMessage* error = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    ASSERT_NE(error, nullptr) << "a failed flow is explained on the bus";
    gchar* debug = nullptr;
    gst_message_parse_error(error, nullptr, &debug);
    EXPECT_NE(std::string(debug).find("0x8007000E"), std::string::npos) << debug;
    g_free(debug);
    gst_message_unref(error);
    gst_element_set_bus(m_element.get(), nullptr);
    gst_object_unref(bus);
}

TEST_F(TavrixGrabberTest, SnapshotShowsTheNextFrameAsItArrivedTopDown) {
    CallbackFn callback([](CMediaSample* sample) {
        std::memset(sample->GetPointer(), 0, static_cast<size_t>(sample->GetSize())); // draws over everything
        return S_OK;
    });
    m_grabber->SetFrameCallback(&callback);
    GstHarness* h = Harness();
    ASSERT_EQ(gst_harness_push(h, MakeFrame(1)), GST_FLOW_OK); // before the request: not in the snapshot

    CRgbPicture picture;
    auto snapshot = std::async(std::launch::async, [&] { return m_grabber->TakeSnapshot(&picture); });
    // Frames keep coming until the request has been served.
    while (snapshot.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        ASSERT_EQ(gst_harness_push(h, MakeFrame(2)), GST_FLOW_OK);
    }
    ASSERT_EQ(snapshot.get(), S_OK);
    ASSERT_EQ(picture.width, kWidth);
    ASSERT_EQ(picture.height, kHeight);
    ASSERT_GE(picture.stride, kWidth * 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; x += 37) {
            const uint8_t* p = picture.Row(y) + x * 3;
            ASSERT_EQ(p[0], static_cast<uint8_t>(x)) << x << "," << y;
            ASSERT_EQ(p[1], static_cast<uint8_t>(y)) << x << "," << y;
            ASSERT_EQ(p[2], 2) << x << "," << y;
        }
    }
}

TEST_F(TavrixGrabberTest, SnapshotTimesOutButTheNextFrameIsStillKeptForTheNextRequest) {
    guint timeoutMs = 0;
    g_object_get(m_element.get(), "snapshot-timeout", &timeoutMs, nullptr);
    EXPECT_EQ(timeoutMs, 2000u);
    g_object_set(m_element.get(), "snapshot-timeout", 30u, nullptr);

    GstHarness* h = Harness();
    CRgbPicture picture;
    EXPECT_EQ(m_grabber->TakeSnapshot(&picture), E_FAIL);
    EXPECT_TRUE(picture.IsEmpty());
    EXPECT_EQ(m_grabber->TakeSnapshot(nullptr), E_POINTER);

    ASSERT_EQ(gst_harness_push(h, MakeFrame(42)), GST_FLOW_OK); // serves the request that timed out
    ASSERT_EQ(gst_harness_push(h, MakeFrame(43)), GST_FLOW_OK); // no request pending: ignored
    g_object_set(m_element.get(), "snapshot-timeout", 0u, nullptr);
    ASSERT_EQ(m_grabber->TakeSnapshot(&picture), S_OK) << "kept until now, returned at once";
    EXPECT_EQ(picture.Row(0)[2], 42);
    EXPECT_EQ(m_grabber->TakeSnapshot(&picture), E_FAIL) << "taken: nothing left";
}

TEST_F(TavrixGrabberTest, SampleBufferResultsAndDelivery) {
    std::vector<uint8_t> memory(16 + kStride * kHeight, 0);
    ALLOCATOR_PROPERTIES props;
    props.cBuffers = 2;
    props.cbBuffer = kStride * kHeight;
    props.cbPrefix = 16;
    EXPECT_EQ(m_grabber->SetSampleBuffer(props, memory.data()), E_INVALIDARG);
    props.cBuffers = 1;
    EXPECT_EQ(m_grabber->SetSampleBuffer(props, nullptr), E_POINTER);
    props.cbPrefix = -1;
    EXPECT_EQ(m_grabber->SetSampleBuffer(props, memory.data()), E_INVALIDARG);
    props.cbPrefix = 16;
    EXPECT_EQ(m_grabber->SetSampleBuffer(props, memory.data()), S_OK);

    GstHarness* h = Harness();
    EXPECT_EQ(m_grabber->SetSampleBuffer(props, memory.data()), E_INVALIDARG) << "linked";
    GstBuffer* frame = MakeFrame(77);
    const std::vector<uint8_t> expected = Bytes(frame);
    ASSERT_EQ(gst_harness_push(h, frame), GST_FLOW_OK);
    EXPECT_TRUE(std::all_of(memory.begin(), memory.begin() + 16, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), memory.begin() + 16));
}

TEST_F(TavrixGrabberTest, ChangingTheCallbackWaitsForTheFrameInProgress) {
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    CallbackFn blocking([&](CMediaSample*) {
        entered.set_value();
        released.wait();
        return S_OK;
    });
    m_grabber->SetFrameCallback(&blocking);
    GstHarness* h = Harness();
    std::thread streaming([&] { gst_harness_push(h, MakeFrame(1)); });
    entered.get_future().wait();

    std::atomic<bool> changed{false};
    std::thread control([&] {
        m_grabber->SetFrameCallback(nullptr);
        changed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(changed.load()) << "returned while the callback still ran";
    release.set_value();
    control.join();
    streaming.join();
    EXPECT_TRUE(changed.load());
}

TEST_F(TavrixGrabberTest, CallbackMayAskForTheFormatAndRemoveItself) {
    int calls = 0;
    CallbackFn callback([&](CMediaSample*) {
        ++calls;
        CVideoFormat format;
        EXPECT_EQ(m_grabber->GetInputMediaType(&format), S_OK);
        EXPECT_EQ(format.width, kWidth);
        m_grabber->SetFrameCallback(nullptr);
        return S_OK;
    });
    m_grabber->SetFrameCallback(&callback);
    GstHarness* h = Harness();
    ASSERT_EQ(gst_harness_push(h, MakeFrame(1)), GST_FLOW_OK);
    ASSERT_EQ(gst_harness_push(h, MakeFrame(2)), GST_FLOW_OK);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(gst_harness_buffers_received(h), 2u);
}

TEST_F(TavrixGrabberTest, RealPipelineDeliversEveryFrameToTheCallback) {
    SKIP_PIPELINE_TEST_UNDER_TSAN();
    gsttest::ElementPtr pipeline =
        gsttest::ParsePipeline(std::string("videotestsrc num-buffers=30 pattern=ball ! ") + kCaps +
                               " ! tavrixgrabber name=g ! fakesink");
    ASSERT_TRUE(pipeline);
    ITavrixGrabber* grabber = GetGrabberControl(gsttest::ByName(pipeline.get(), "g"));
    int frames = 0;
    CallbackFn callback([&](CMediaSample* sample) {
        EXPECT_EQ(sample->GetSize(), kStride * kHeight);
        ++frames;
        return S_OK;
    });
    grabber->SetFrameCallback(&callback);
    const gsttest::BusOutcome outcome = gsttest::RunToEnd(pipeline.get(), 20000);
    EXPECT_EQ(outcome.type, GST_MESSAGE_EOS) << outcome.error;
    EXPECT_EQ(frames, 30);
}

TEST_F(TavrixGrabberTest, ControlOfAnotherElementIsRefused) {
    gsttest::ElementPtr identity = gsttest::Own(gst_element_factory_make("identity", nullptr));
    EXPECT_THROW(GetGrabberControl(identity.get()), CGeneralEx);
    EXPECT_THROW(GetGrabberControl(nullptr), CGeneralEx);
}

TEST_F(TavrixGrabberTest, MissingFactoryGivesTheRegistrationMessage) {
    GstRegistry* registry = gst_registry_get();
    GstPluginFeature* feature = gst_registry_lookup_feature(registry, "tavrixgrabber");
    ASSERT_NE(feature, nullptr);
    gst_registry_remove_feature(registry, feature);
    try {
        CreateGrabberElement();
        ADD_FAILURE() << "no exception";
    } catch (const CDirectXEx& e) {
        EXPECT_EQ(e.GetMessage(), "Could not create TavrixGrabber (TavrixGrabber.ax registered?).");
        EXPECT_EQ(e.GetHResult(), REGDB_E_CLASSNOTREG);
    }
    gst_registry_add_feature(registry, feature);
    gst_object_unref(feature);
    gsttest::Own(CreateGrabberElement());
}

} // namespace
