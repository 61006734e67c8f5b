// Recordings that copy an encoded stream, through the whole runtime on real pipelines:
// - network cameras of the RTSP test server sending H.264 and H.265 record MP4 and Matroska files holding the
//   camera's own stream (its profile, no decoder or encoder in the recording pipeline) that
//   begin with a key frame, decode whole and begin with the still pre-event frames;
// - a local `test:motion` camera keeping its pre-event time encoded records the same way from its
//   continuous encoder, while a small camera left on automatic keeps raw frames.

#include "camera/tests/CameraTestSupport.h"
#include "network/tests/RtspTestServer.h"
#include "persistence/Camera.h"
#include "recording/PreEventEncoder.h"
#include "recording/RecordContainer.h"
#include "recording/RecordContext.h"
#include "recording/tests/RecTestHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace {

using camtest::CLogCapture;
using camtest::CTestDocument;
using camtest::CViewRun;

// What the recording pipelines built during a test held.
class CPipelineWatch {
public:
    CPipelineWatch() {
        CRecContext::SetPipelineObserver([this](GstElement* pipeline, bool copy) { Look(pipeline, copy); });
    }
    ~CPipelineWatch() { CRecContext::SetPipelineObserver(nullptr); }
    int Copies() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_copies;
    }
    // Decoders or encoders in any copying recording pipeline.
    std::string CodersInCopies() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_coders;
    }

private:
    void Look(GstElement* pipeline, bool copy) {
        GstIterator* it = gst_bin_iterate_recurse(GST_BIN(pipeline));
        GValue item = G_VALUE_INIT;
        std::string coders;
        while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            GstElement* element = GST_ELEMENT(g_value_get_object(&item));
            GstElementFactory* factory = gst_element_get_factory(element);
            const gchar* klass = factory != nullptr
                                     ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS)
                                     : "";
            if (klass != nullptr &&
                (std::strstr(klass, "Decoder") != nullptr || std::strstr(klass, "Encoder") != nullptr)) {
                coders += std::string(GST_OBJECT_NAME(factory)) + " ";
            }
            g_value_reset(&item);
        }
        g_value_unset(&item);
        gst_iterator_free(it);
        std::lock_guard<std::mutex> lock(m_lock);
        if (copy) {
            ++m_copies;
            m_coders += coders;
        }
    }
    mutable std::mutex m_lock;
    int m_copies = 0;
    std::string m_coders;
};

std::vector<std::string> StartedFiles(const CLogCapture& log, const std::string& camera) {
    std::vector<std::string> files;
    const std::string prefix = "Started recording to '";
    for (const std::string& text : log.Texts(camera)) {
        if (text.rfind(prefix, 0) == 0 && text.back() == '\'') {
            files.push_back(text.substr(prefix.size(), text.size() - prefix.size() - 1));
        }
    }
    return files;
}

// The first frame's key flag, the stream's profile, and what FFmpeg reports decoding it whole.
struct CStreamFacts {
    std::string firstKeyFrame; // "1" for a key frame
    std::string profile;
    std::string decodeErrors;
};

CStreamFacts Facts(const std::string& file) {
    CStreamFacts facts;
    const std::string frames = rectest::RunCommand(
        "ffprobe -v error -select_streams v:0 -show_entries frame=key_frame -of csv=p=0 '" + file +
        "' 2>/dev/null | head -1");
    facts.firstKeyFrame = frames.substr(0, frames.find_first_of("\r\n,"));
    const std::string profile = rectest::RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
                                                    "stream=profile -of default=nw=1:nk=1 '" +
                                                    file + "' 2>/dev/null");
    facts.profile = profile.substr(0, profile.find_first_of("\r\n"));
    facts.decodeErrors = rectest::RunCommand("ffmpeg -v error -i '" + file + "' -f null - 2>&1");
    return facts;
}

double Difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int64_t sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        sum += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
    }
    return static_cast<double>(sum) / static_cast<double>(a.size());
}

// Frames at the start of the file that show the still picture of the first one.
size_t StillFrames(const std::vector<std::vector<uint8_t>>& frames) {
    size_t still = 1;
    while (still < frames.size() && Difference(frames[0], frames[still]) < 3.0) {
        ++still;
    }
    return still;
}

class RecordCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_PIPELINE_TEST_UNDER_TSAN();
        gsttest::StartGStreamer();
    }
    camtest::CUnattended m_unattended;
};

TEST_F(RecordCopyTest, RtspCamerasRecordTheirOwnH264AndH265FromAKeyFrameBeforeThePreEventTime) {
    if (gst_element_factory_find("x265enc") == nullptr) {
        GTEST_SKIP() << "no H.265 encoder for the test server";
    }
    // The picture moves 3 s after each client's PLAY, for a second; a key frame every second.
    CRtspTestServer server(
        {CRtspTestServer::Stream("/h264", "h264", "test:motion?on=3000-4000", 160, 120, 10),
         CRtspTestServer::Stream("/h265", "h265", "test:motion?on=3000-4000", 160, 120, 10)});
    server.Start();
    CPipelineWatch watch;
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([&server](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        camtest::SmallCamera(data, 0, server.Url("/h264"))->m_recordContainer =
            static_cast<int32_t>(ERecordContainer::Mp4);
        camtest::SmallCamera(data, 1, server.Url("/h265"))->m_recordContainer =
            static_cast<int32_t>(ERecordContainer::Matroska);
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
    EXPECT_EQ(run.Camera(0).GetPreEventForm(), CCameraView::EPreEventForm::CameraStream);
    EXPECT_EQ(run.Camera(1).GetPreEventForm(), CCameraView::EPreEventForm::CameraStream);
    EXPECT_EQ(run.Camera(0).GetPreEventBuffer()->GetCurrentSize(), 0) << "no raw frames kept";
    run.Close();

    EXPECT_EQ(watch.Copies(), 2);
    EXPECT_EQ(watch.CodersInCopies(), "") << "no decoder or encoder runs for a copy";
    struct CExpected {
        const char* camera;
        const char* codec;
        const char* format;
    };
    const CExpected cameras[] = {{"Default", "h264", "mov,mp4,m4a,3gp,3g2,mj2"},
                                 {"Camera_1", "hevc", "matroska,webm"}};
    for (const auto& [camera, codec, format] : cameras) {
        const std::vector<std::string> files = StartedFiles(log, camera);
        ASSERT_EQ(files.size(), 1u) << camera;
        const rectest::CProbe probe = rectest::Probe(files[0]);
        EXPECT_EQ(probe.exitCode, 0) << files[0];
        EXPECT_EQ(probe.formatName, format);
        EXPECT_EQ(probe.codecName, codec);
        EXPECT_EQ(probe.width, 160);
        // About 1-2 s before the motion (from the key frame before the window), 1 s of motion
        // and the 0.8 s stop delay, at 10 frames a second.
        EXPECT_GE(probe.frames, 24) << files[0];
        EXPECT_LE(probe.frames, 50) << files[0];
        const CStreamFacts facts = Facts(files[0]);
        EXPECT_EQ(facts.firstKeyFrame, "1") << camera << ": the first frame is a key frame";
        EXPECT_EQ(facts.decodeErrors, "") << camera;
        const auto frames = camtest::DecodeFrames(files[0], 160, 120);
        ASSERT_EQ(static_cast<long>(frames.size()), probe.frames) << "ffmpeg and ffprobe disagree";
        EXPECT_GE(StillFrames(frames), 9u) << camera << ": the pre-event frames";
        EXPECT_LT(StillFrames(frames), frames.size()) << camera << ": and the motion after them";
    }
    // No stamped name in a copied stream: the file's title names the camera.
    const std::string title = rectest::RunCommand("ffprobe -v error -show_entries format_tags=title -of "
                                                  "default=nw=1:nk=1 '" +
                                                  StartedFiles(log, "Camera_1")[0] + "' 2>/dev/null");
    EXPECT_EQ(title.substr(0, title.find('\n')), "Camera_1");
    // The camera's own stream: the test server's constrained baseline profile, which the
    // recording's own encoder would not write.
    EXPECT_EQ(Facts(StartedFiles(log, "Default")[0]).profile, "Constrained Baseline");
    EXPECT_EQ(log.Count("Error", "*"), 0) << log.Dump();
}

TEST_F(RecordCopyTest, ALocalCameraKeepingItsPreEventTimeEncodedRecordsFromItsContinuousEncoder) {
    if (FindH264Encoder().empty()) {
        GTEST_SKIP() << "no H.264 encoder";
    }
    CPipelineWatch watch;
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        CCamera* encoded = camtest::SmallCamera(data, 0, "test:motion?on=2500-3500");
        encoded->m_recordContainer = static_cast<int32_t>(ERecordContainer::Matroska);
        encoded->m_preEventBufferMode = CCamera::kPreEventEncoded;
        encoded->m_h264Encoder = "x264enc";
        // Automatic: 160x120 is below 1280x720, so raw frames.
        camtest::SmallCamera(data, 1, "test:motion?on=2500-3500")->m_recordContainer =
            static_cast<int32_t>(ERecordContainer::Mp4);
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    ASSERT_TRUE(run.PumpUntil(
        [&] {
            return log.Count("Finished recording", "Default") == 1 &&
                   log.Count("Finished recording", "Camera_1") == 1;
        },
        30000))
        << log.Dump();
    EXPECT_EQ(run.Camera(0).GetPreEventForm(), CCameraView::EPreEventForm::Encoded);
    EXPECT_EQ(run.Camera(1).GetPreEventForm(), CCameraView::EPreEventForm::Raw);
    EXPECT_EQ(run.Camera(0).GetPreEventBuffer()->GetCurrentSize(), 0) << "no raw frames kept";
    EXPECT_GT(run.Camera(0).GetEncodedBuffer().GetHeldBytes(), 0);
    EXPECT_LT(run.Camera(0).GetEncodedBuffer().GetHeldDuration(), 4 * 10000000LL)
        << "the 1 s window and at most one 2 s group of pictures more";
    run.Close();

    EXPECT_EQ(watch.Copies(), 1) << "only the encoded camera copies";
    EXPECT_EQ(watch.CodersInCopies(), "");
    const std::vector<std::string> files = StartedFiles(log, "Default");
    ASSERT_EQ(files.size(), 1u);
    const rectest::CProbe probe = rectest::Probe(files[0]);
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_EQ(probe.formatName, "matroska,webm");
    EXPECT_EQ(probe.codecName, "h264");
    EXPECT_GE(probe.frames, 22) << files[0];
    EXPECT_LE(probe.frames, 50) << files[0];
    const CStreamFacts facts = Facts(files[0]);
    EXPECT_EQ(facts.firstKeyFrame, "1");
    EXPECT_EQ(facts.decodeErrors, "");
    const auto frames = camtest::DecodeFrames(files[0], 160, 120);
    ASSERT_EQ(static_cast<long>(frames.size()), probe.frames);
    EXPECT_GE(StillFrames(frames), 9u) << "at least the 1 s of pre-event frames";
    EXPECT_EQ(log.Count("Error", "*"), 0) << log.Dump();
}

// A record context copying from an encoded buffer, on its own: a stop while it still waits for
// its first key frame and a forced stop in the middle of the stream both end the recording (Record
// Finish, the context gone) without waiting for units that may never come; the forced one leaves a
// file that decodes from its first frame.
class CEncodedTestHost : public rectest::CTestHost {
public:
    CEncodedTestHost() : CTestHost(160, 120, 400000, 1) {
        CRecordSettings settings;
        settings.recordContainer = static_cast<int32_t>(ERecordContainer::Mp4);
        SetSettings(settings);
        SetFileName("Copy.mp4");
        m_encoded.SetWindow(10000000LL);
    }
    ~CEncodedTestHost() { EXPECT_TRUE(WaitForNoContexts(20000)); }
    CEncodedPreEventBuffer* GetEncodedPreEventBuffer() override { return &m_encoded; }
    CEncodedPreEventBuffer& Encoded() { return m_encoded; }
    bool FinishRaised() {
        for (const auto& [kind, file] : Raised()) {
            if (kind == kEventRecordFinish) {
                return true;
            }
        }
        return false;
    }

private:
    CEncodedPreEventBuffer m_encoded;
};

TEST_F(RecordCopyTest, ACopyEndsOnAStopBeforeItsFirstKeyFrameAndOnAForcedStopMidStream) {
    if (FindH264Encoder().empty()) {
        GTEST_SKIP() << "no H.264 encoder";
    }
    CNotificationLog::Instance().Clear();
    {
        CEncodedTestHost host;
        GstCaps* caps = gst_caps_from_string("video/x-h264,stream-format=byte-stream,alignment=au");
        host.Encoded().SetCaps(caps);
        gst_caps_unref(caps);
        auto* rc = new CRecContext(&host);
        rc->StartRecord();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_TRUE(rc->IsCopy());
        rc->StopRecord();
        EXPECT_TRUE(host.WaitForRemoved(1, 10000)) << "the stop does not wait for a key frame";
        EXPECT_TRUE(host.FinishRaised());
    }
    {
        CEncodedTestHost host;
        CPreEventEncoder encoder(host.Encoded());
        CPreEventEncoder::CSettings settings;
        settings.width = 160;
        settings.height = 120;
        settings.frameTime = 400000;
        settings.encoder = "x264enc";
        encoder.Start(settings);
        std::atomic<bool> stop{false};
        std::thread camera([&] {
            std::vector<uint8_t> frame(160 * 3 * 120);
            for (int n = 0; !stop.load(); ++n) {
                for (size_t i = 0; i < frame.size(); ++i) {
                    frame[i] = static_cast<uint8_t>((i / 3 + static_cast<size_t>(n) * 5) % 200);
                }
                encoder.PushBgrFrame(frame.data(), 160 * 3, n * 400000LL);
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        auto* rc = new CRecContext(&host);
        rc->StartRecord();
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        rc->ForceStopRecord();
        EXPECT_TRUE(host.WaitForRemoved(1, 10000));
        stop.store(true);
        camera.join();
        EXPECT_TRUE(host.FinishRaised());
        const std::string file = host.Folder() + "/Copy.mp4";
        const rectest::CProbe probe = rectest::Probe(file);
        EXPECT_EQ(probe.exitCode, 0) << file;
        EXPECT_GE(probe.frames, 25) << "the pre-event second and the recorded one";
        EXPECT_EQ(Facts(file).firstKeyFrame, "1");
        EXPECT_EQ(Facts(file).decodeErrors, "");
    }
}

} // namespace
