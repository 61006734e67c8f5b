// The "tavrixsource" element in real pipelines: the one format it offers, the time stamps it
// builds from the callback's durations, samples without a frame, the end of the stream, and a
// recording into an AVI file checked by FFmpeg frame by frame.

#include "recording/TavrixElements.h"
#include "recording/tests/GstTestSupport.h"
#include "source/ITavrixSource.h"

#include "foundation/Exceptions.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kWidth = 318;
constexpr int kHeight = 241;
constexpr int kStride = 956;
constexpr REFERENCE_TIME kUntouched = -12345; // the step leaves the sample and duration alone

struct Step {
    HRESULT hr = S_OK;
    REFERENCE_TIME duration = 400000;
    uint8_t fill = 0;
};

// Answers GetSampleCB from a script; when the script is exhausted, with `whenDone`.
class ScriptedCallback final : public ITavrixSourceCB {
public:
    explicit ScriptedCallback(std::deque<Step> steps, Step whenDone = {TAVRIX_S_END_OF_STREAM, kUntouched, 0})
        : m_steps(std::move(steps)), m_whenDone(whenDone) {}

    HRESULT GetSampleCB(CMediaSample* sample, REFERENCE_TIME* duration) override {
        ++m_calls;
        EXPECT_EQ(sample->GetSize(), kStride * kHeight);
        Step step = m_whenDone;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!m_steps.empty()) {
                step = m_steps.front();
                m_steps.pop_front();
            }
        }
        if (step.duration != kUntouched) {
            // Pixel (x, y) = (fill, x, y) so that frames and their rows can be told apart.
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    uint8_t* p = sample->GetPointer() + y * kStride + x * 3;
                    p[0] = step.fill;
                    p[1] = static_cast<uint8_t>(x);
                    p[2] = static_cast<uint8_t>(y);
                }
            }
            *duration = step.duration;
        }
        return step.hr;
    }
    int Calls() const { return m_calls; }

private:
    std::mutex m_lock;
    std::deque<Step> m_steps;
    Step m_whenDone;
    std::atomic<int> m_calls{0};
};

struct Frame {
    GstClockTime pts = GST_CLOCK_TIME_NONE;
    GstClockTime duration = GST_CLOCK_TIME_NONE;
    uint8_t fill = 0;
};

class TavrixSourceTest : public ::testing::Test {
protected:
    void SetUp() override { gsttest::StartGStreamer(); }
    void TearDown() override {
        if (m_pipeline) {
            gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
        }
    }

    // tavrixsource ! <caps> ! appsink, with the source configured.
    ITavrixSource* Build(const std::string& caps = "video/x-raw", REFERENCE_TIME frameTime = 400000) {
        m_pipeline =
            gsttest::ParsePipeline("tavrixsource name=s ! " + caps + " ! appsink name=out sync=false");
        ITavrixSource* source = GetSourceControl(gsttest::ByName(m_pipeline.get(), "s"));
        EXPECT_EQ(source->SetVideoSize(kWidth, kHeight), S_OK);
        EXPECT_EQ(source->SetFrameTime(frameTime), S_OK);
        return source;
    }

    // Plays and collects frames until EOS (or 10 s).
    std::vector<Frame> PlayAndCollect() {
        gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
        auto* sink = GST_APP_SINK(gsttest::ByName(m_pipeline.get(), "out"));
        std::vector<Frame> frames;
        while (GstSample* sample = gst_app_sink_try_pull_sample(sink, 10 * GST_SECOND)) {
            GstBuffer* buffer = gst_sample_get_buffer(sample);
            Frame frame;
            frame.pts = GST_BUFFER_PTS(buffer);
            frame.duration = GST_BUFFER_DURATION(buffer);
            GstMapInfo map;
            gst_buffer_map(buffer, &map, GST_MAP_READ);
            EXPECT_GE(map.size, static_cast<gsize>(kStride * kHeight));
            frame.fill = map.data[0];
            // The last pixel of the last row carries its coordinates: the layout is the promised one.
            const uint8_t* last = map.data + (kHeight - 1) * kStride + (kWidth - 1) * 3;
            EXPECT_EQ(last[1], static_cast<uint8_t>(kWidth - 1));
            EXPECT_EQ(last[2], static_cast<uint8_t>(kHeight - 1));
            gst_buffer_unmap(buffer, &map);
            frames.push_back(frame);
            gst_sample_unref(sample);
        }
        EXPECT_TRUE(gst_app_sink_is_eos(sink)) << "stream did not end within 10 s";
        return frames;
    }

    // Callbacks outlive the pipeline, which TearDown stops first.
    ScriptedCallback& Script(std::deque<Step> steps,
                             Step whenDone = {TAVRIX_S_END_OF_STREAM, kUntouched, 0}) {
        m_callbacks.push_back(std::make_unique<ScriptedCallback>(std::move(steps), whenDone));
        return *m_callbacks.back();
    }

    std::vector<std::unique_ptr<ScriptedCallback>> m_callbacks;
    gsttest::ElementPtr m_pipeline;
};

TEST_F(TavrixSourceTest, SettingsOutsideTheirRangeAreRefused) {
    gsttest::ElementPtr element = gsttest::Own(CreateSourceElement());
    ITavrixSource* source = GetSourceControl(element.get());
    EXPECT_EQ(source->SetVideoSize(0, 240), E_INVALIDARG);
    EXPECT_EQ(source->SetVideoSize(320, -1), E_INVALIDARG);
    EXPECT_EQ(source->SetVideoSize(16385, 240), E_INVALIDARG);
    EXPECT_EQ(source->SetVideoSize(1, 1), S_OK);
    EXPECT_EQ(source->SetFrameTime(-1), E_INVALIDARG);
    EXPECT_EQ(source->SetFrameTime(0), S_OK);
    EXPECT_EQ(source->SetSampleCallback(nullptr), S_OK);

    gsttest::ElementPtr identity = gsttest::Own(gst_element_factory_make("identity", nullptr));
    EXPECT_THROW(GetSourceControl(identity.get()), CGeneralEx);
}

TEST_F(TavrixSourceTest, OffersExactlyTheSetSizeAndFrameRate) {
    struct Case {
        REFERENCE_TIME frameTime;
        int fpsN;
        int fpsD;
    };
    for (const Case& c : {Case{333333, 30, 1}, Case{400000, 25, 1}, Case{10000000, 1, 1},
                          Case{20000000, 1, 2}, Case{333667, 10000000, 333667}, Case{0, 0, 1}}) {
        gsttest::ElementPtr element = gsttest::Own(CreateSourceElement());
        ITavrixSource* source = GetSourceControl(element.get());
        source->SetVideoSize(kWidth, kHeight);
        source->SetFrameTime(c.frameTime);
        GstPad* pad = gst_element_get_static_pad(element.get(), "src");
        GstCaps* caps = gst_pad_query_caps(pad, nullptr);
        ASSERT_TRUE(gst_caps_is_fixed(caps)) << c.frameTime;
        const GstStructure* s = gst_caps_get_structure(caps, 0);
        int width = 0;
        int height = 0;
        int fpsN = -1;
        int fpsD = -1;
        gst_structure_get_int(s, "width", &width);
        gst_structure_get_int(s, "height", &height);
        gst_structure_get_fraction(s, "framerate", &fpsN, &fpsD);
        EXPECT_STREQ(gst_structure_get_string(s, "format"), "BGR");
        EXPECT_EQ(width, kWidth);
        EXPECT_EQ(height, kHeight);
        EXPECT_EQ(fpsN, c.fpsN) << c.frameTime;
        EXPECT_EQ(fpsD, c.fpsD) << c.frameTime;
        gst_caps_unref(caps);
        gst_object_unref(pad);
    }
}

TEST_F(TavrixSourceTest, RefusesAnotherSizeAndAcceptsTheSetOne) {
    SKIP_PIPELINE_TEST_UNDER_TSAN();
    ITavrixSource* source = Build("video/x-raw,width=320,height=240");
    ScriptedCallback& callback = Script({});
    source->SetSampleCallback(&callback);
    const gsttest::BusOutcome refused = gsttest::RunToEnd(m_pipeline.get(), 10000);
    EXPECT_EQ(refused.type, GST_MESSAGE_ERROR);
    EXPECT_NE(refused.error.find("not-negotiated"), std::string::npos) << refused.error;

    source = Build("video/x-raw,format=BGR,width=318,height=241");
    ScriptedCallback& oneFrame = Script({Step{S_OK, 400000, 1}});
    source->SetSampleCallback(&oneFrame);
    EXPECT_EQ(PlayAndCollect().size(), 1u);
}

TEST_F(TavrixSourceTest, DoesNotStartWithoutAVideoSize) {
    SKIP_PIPELINE_TEST_UNDER_TSAN();
    m_pipeline = gsttest::ParsePipeline("tavrixsource name=s ! fakesink");
    ScriptedCallback& callback = Script({});
    GetSourceControl(gsttest::ByName(m_pipeline.get(), "s"))->SetSampleCallback(&callback);
    EXPECT_EQ(gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    const gsttest::BusOutcome outcome = gsttest::WaitForEnd(m_pipeline.get(), 1000);
    EXPECT_EQ(outcome.type, GST_MESSAGE_ERROR);
    EXPECT_NE(outcome.error.find("The video size of the source was not set."), std::string::npos);
    EXPECT_EQ(callback.Calls(), 0);
}

TEST_F(TavrixSourceTest, StampsEachFrameWithItsDurationAndRestartsAtZero) {
    SKIP_PIPELINE_TEST_UNDER_TSAN();
    ITavrixSource* source = Build();
    ScriptedCallback& first = Script({Step{S_OK, 100000, 1}, Step{S_OK, 200000, 2}, Step{S_OK, 300000, 3}});
    source->SetSampleCallback(&first);
    std::vector<Frame> frames = PlayAndCollect();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].pts, 0u);
    EXPECT_EQ(frames[0].duration, 10 * GST_MSECOND);
    EXPECT_EQ(frames[1].pts, 10 * GST_MSECOND);
    EXPECT_EQ(frames[1].duration, 20 * GST_MSECOND);
    EXPECT_EQ(frames[2].pts, 30 * GST_MSECOND);
    EXPECT_EQ(frames[2].duration, 30 * GST_MSECOND);

    gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
    ScriptedCallback& second = Script({Step{S_OK, 400000, 4}, Step{S_OK, 400000, 5}});
    source->SetSampleCallback(&second);
    frames = PlayAndCollect();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].pts, 0u) << "a new start begins at 0 again";
    EXPECT_EQ(frames[1].pts, 40 * GST_MSECOND);
}

TEST_F(TavrixSourceTest, ASampleWithoutAFrameDeliversNothing) {
    SKIP_PIPELINE_TEST_UNDER_TSAN();
    ITavrixSource* source = Build("video/x-raw", 100000);
    ScriptedCallback& callback =
        Script({Step{S_OK, 100000, 1}, Step{S_FALSE, kUntouched, 0}, Step{S_OK, 100000, 2},
                Step{S_OK, kUntouched, 0}, Step{S_OK, 100000, 3}});
    source->SetSampleCallback(&callback);
    const std::vector<Frame> frames = PlayAndCollect();
    ASSERT_EQ(frames.size(), 3u) << "no stale duplicate for the empty samples";
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].fill, i + 1);
        EXPECT_EQ(frames[i].pts, i * 10 * GST_MSECOND) << "no gap for the empty samples";
    }
    EXPECT_EQ(callback.Calls(), 6);
}

TEST_F(TavrixSourceTest, WaitsInsteadOfSpinningWhileThereIsNoFrame) {
    SKIP_PIPELINE_TEST_UNDER_TSAN();
    ITavrixSource* source = Build("video/x-raw", 200000); // 20 ms a frame
    ScriptedCallback& empty = Script({}, Step{S_FALSE, kUntouched, 0});
    source->SetSampleCallback(&empty);
    gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_GT(empty.Calls(), 0);
    EXPECT_LT(empty.Calls(), 60) << "asked again about once a frame time, not in a loop";
    // Stopping interrupts the pause between two attempts.
    EXPECT_EQ(gst_element_set_state(m_pipeline.get(), GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
}

TEST_F(TavrixSourceTest, WithoutCallbackNothingComesUntilOneIsSet) {
    SKIP_PIPELINE_TEST_UNDER_TSAN();
    ITavrixSource* source = Build("video/x-raw", 100000);
    gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
    auto* sink = GST_APP_SINK(gsttest::ByName(m_pipeline.get(), "out"));
    EXPECT_EQ(gst_app_sink_try_pull_sample(sink, 50 * GST_MSECOND), nullptr);
    ScriptedCallback& callback = Script({Step{S_OK, 100000, 9}});
    source->SetSampleCallback(&callback);
    GstSample* sample = gst_app_sink_try_pull_sample(sink, 10 * GST_SECOND);
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(GST_BUFFER_PTS(gst_sample_get_buffer(sample)), 0u);
    gst_sample_unref(sample);
}

TEST_F(TavrixSourceTest, AnErrorFromTheCallbackFailsTheStream) {
    SKIP_PIPELINE_TEST_UNDER_TSAN();
    ITavrixSource* source = Build();
    ScriptedCallback& failing = Script({Step{S_OK, 400000, 1}}, Step{E_UNEXPECTED, kUntouched, 0});
    source->SetSampleCallback(&failing);
    const gsttest::BusOutcome outcome = gsttest::RunToEnd(m_pipeline.get(), 10000);
    EXPECT_EQ(outcome.type, GST_MESSAGE_ERROR);
    EXPECT_NE(outcome.error.find("0x8000FFFF"), std::string::npos) << outcome.error;
}

std::string RunCommand(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        size_t n = 0;
        while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
            output.append(chunk, n);
        }
        pclose(pipe);
    }
    return output;
}

TEST_F(TavrixSourceTest, EndOfStreamLeavesACompleteAviFile) {
    SKIP_PIPELINE_TEST_UNDER_TSAN();
    char dir[] = "/tmp/tavrix-source-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/rec.avi";
    m_pipeline = gsttest::ParsePipeline("tavrixsource name=s ! avimux ! filesink location=" + file);
    ITavrixSource* source = GetSourceControl(gsttest::ByName(m_pipeline.get(), "s"));
    source->SetVideoSize(kWidth, kHeight);
    source->SetFrameTime(400000);
    std::deque<Step> steps;
    for (int i = 0; i < 25; ++i) {
        steps.push_back(Step{S_OK, 400000, static_cast<uint8_t>(10 * i)});
    }
    ScriptedCallback& callback = Script(steps);
    source->SetSampleCallback(&callback);
    const gsttest::BusOutcome outcome = gsttest::RunToEnd(m_pipeline.get(), 20000);
    ASSERT_EQ(outcome.type, GST_MESSAGE_EOS) << outcome.error;

    const std::string probe = RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                         "stream=nb_read_frames,width,height,duration -of default=nw=1 '" +
                                         file + "' 2>&1");
    EXPECT_NE(probe.find("nb_read_frames=25"), std::string::npos) << probe;
    EXPECT_NE(probe.find("duration=1.000000"), std::string::npos) << probe;
    EXPECT_NE(probe.find("width=318"), std::string::npos) << probe;
    EXPECT_NE(probe.find("height=241"), std::string::npos) << probe;

    // Every frame decodes to what the callback wrote, upright.
    const std::string raw =
        RunCommand("ffmpeg -v error -i '" + file + "' -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
    const size_t frameBytes = static_cast<size_t>(kWidth) * kHeight * 3;
    ASSERT_EQ(raw.size(), 25 * frameBytes);
    for (int i = 0; i < 25; ++i) {
        const auto* frame = reinterpret_cast<const uint8_t*>(raw.data()) + i * frameBytes;
        EXPECT_EQ(frame[0], 10 * i) << "frame " << i;
        const uint8_t* last = frame + frameBytes - 3;
        EXPECT_EQ(last[1], static_cast<uint8_t>(kWidth - 1)) << "frame " << i;
        EXPECT_EQ(last[2], static_cast<uint8_t>(kHeight - 1)) << "frame " << i;
    }
    std::remove(file.c_str());
    rmdir(dir);
}

} // namespace

namespace {

// Lends frames of its own (the fill byte in every pixel), one of them too small; counts releases.
class LendingCallback final : public ITavrixSourceCB {
public:
    LendingCallback() {
        for (uint8_t fill : {7, 8, 9, 10}) {
            const size_t size = fill == 9 ? 100 : static_cast<size_t>(kStride) * kHeight;
            m_frames.emplace_back(size, fill);
        }
    }
    HRESULT GetSampleCB(CMediaSample*, REFERENCE_TIME*) override {
        ADD_FAILURE() << "a lending callback is never asked to copy";
        return E_FAIL;
    }
    HRESULT LendSampleCB(CTavrixLentFrame* frame, REFERENCE_TIME* duration) override {
        const size_t next = m_next++;
        if (next >= m_frames.size()) {
            return TAVRIX_S_END_OF_STREAM;
        }
        frame->data = m_frames[next].data();
        frame->size = m_frames[next].size();
        frame->owner = this;
        frame->release = [](void* owner) { static_cast<LendingCallback*>(owner)->m_released.fetch_add(1); };
        *duration = 400000;
        return S_OK;
    }
    const uint8_t* Data(size_t i) const { return m_frames[i].data(); }
    int Released() const { return m_released.load(); }

private:
    std::vector<std::vector<uint8_t>> m_frames;
    std::atomic<size_t> m_next{0};
    std::atomic<int> m_released{0};
};

} // namespace

// Lent frames travel in buffers that wrap the lender's bytes (no copy, read-only), stamped like
// copied ones; a frame smaller than the format is skipped; every lent frame is released once,
// after the pipeline lets go of it.
TEST_F(TavrixSourceTest, LentFramesAreWrappedWithoutACopyAndReleasedOnce) {
    SKIP_PIPELINE_TEST_UNDER_TSAN();
    ITavrixSource* source = Build();
    LendingCallback lender;
    source->SetSampleCallback(&lender);
    gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
    auto* sink = GST_APP_SINK(gsttest::ByName(m_pipeline.get(), "out"));
    std::vector<uint8_t> fills;
    std::vector<GstClockTime> times;
    while (GstSample* sample = gst_app_sink_try_pull_sample(sink, 10 * GST_SECOND)) {
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        ASSERT_TRUE(gst_buffer_map(buffer, &map, GST_MAP_READ));
        EXPECT_EQ(map.size, static_cast<gsize>(kStride * kHeight));
        fills.push_back(map.data[0]);
        times.push_back(GST_BUFFER_PTS(buffer));
        const size_t lent = map.data[0] == 7 ? 0 : map.data[0] == 8 ? 1 : 3;
        EXPECT_EQ(map.data, lender.Data(lent)) << "the buffer wraps the lent bytes";
        gst_buffer_unmap(buffer, &map);
        EXPECT_FALSE(gst_buffer_is_writable(buffer) &&
                     gst_memory_is_writable(gst_buffer_peek_memory(buffer, 0)))
            << "lent bytes are read-only";
        gst_sample_unref(sample);
    }
    EXPECT_TRUE(gst_app_sink_is_eos(sink));
    EXPECT_EQ(fills, (std::vector<uint8_t>{7, 8, 10})) << "the short frame is skipped";
    EXPECT_EQ(times, (std::vector<GstClockTime>{0, 40 * GST_MSECOND, 80 * GST_MSECOND}));
    gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
    m_pipeline.reset();
    // The last buffer may be let go of by a streaming thread that is still winding down.
    for (int waited = 0; lender.Released() < 4 && waited < 500; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(lender.Released(), 4) << "each lent frame is released once";
}
