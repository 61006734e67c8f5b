// Record contexts recording real frames through real pipelines into real files, read back with
// ffprobe and ffmpeg: every file must decode whole, begin with the pre-event frames and run on
// without a gap until the stop.

#include "recording/tests/RecTestHost.h"

#include "actions/CSEventActionChain.h"
#include "actions/CSEventRecord.h"
#include "camera/tests/TraceCapture.h"
#include "foundation/Exceptions.h"
#include "persistence/Camera.h"
#include "persistence/TavrixDoc.h"
#include "recording/CameraRecordFacts.h"
#include "recording/DxEventRec.h"
#include "recording/RecordContainer.h"
#include "recording/RecordContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

using namespace rectest;

namespace {

constexpr int32_t kWidth = 320;
constexpr int32_t kHeight = 240;
constexpr auto kInterval = 40ms; // 25 frames a second
constexpr REFERENCE_TIME kFrameTime = 400000;
constexpr int32_t kPreEventFrames = 10;

class RecordContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        gsttest::StartGStreamer();
        CNotificationLog::Instance().Clear();
    }

    static CRecordSettings Avi(const std::string& compressor = {}, const std::string& data = {}) {
        CRecordSettings settings;
        settings.wmvActive = false;
        settings.compressorDN = compressor;
        settings.compressorData.assign(data.begin(), data.end());
        return settings;
    }
    static CRecordSettings Wmv(int32_t codec, int32_t bitRate) {
        CRecordSettings settings;
        settings.wmvActive = true;
        settings.codec = codec;
        settings.bitRate = bitRate;
        return settings;
    }

    // Records for about `duration` after the pre-event buffer has filled, then stops normally.
    // Returns the file and the frame numbers at the start and the stop.
    struct CRecording {
        std::string file;
        int32_t lastBeforeStart = -1;
        int32_t lastAtStarted = -1;
        int32_t lastAtStop = -1;
    };
    static CRecording Record(CTestHost& host, CFrameFeeder& feeder, std::chrono::milliseconds duration) {
        CRecording recording;
        feeder.WaitForFrame(kPreEventFrames + 2);
        host.SetFeeder(&feeder);
        recording.lastBeforeStart = feeder.Last();
        auto* rc = new CRecContext(&host);
        rc->StartRecord();
        std::this_thread::sleep_for(duration);
        recording.lastAtStop = feeder.Last();
        if (host.Failures() > 0) {
            // The context has deleted itself.
            ADD_FAILURE() << "the recording failed to start";
            return recording;
        }
        rc->StopRecord();
        EXPECT_TRUE(host.WaitForRemoved(1)) << "the recording did not stop";
        recording.lastAtStarted = host.LastFrameAtBegin();
        EXPECT_EQ(host.Calls().back(), "RemoveFromRCSet") << "a call to the host after leaving its set";
        for (const auto& [kind, file] : host.Raised()) {
            if (kind == kEventRecordBegin) {
                recording.file = file;
            }
        }
        EXPECT_FALSE(recording.file.empty()) << "no Record Begin";
        return recording;
    }
};

// The file, the host's notices, the log and the trace of one ordinary recording.
TEST_F(RecordContextTest, UncompressedAviBeginsWithThePreEventFramesAndRunsToTheStop) {
    CTraceCapture traces;
    CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
    host.SetSettings(Avi());
    host.SetFileName("Door_071226_030509.avi");
    CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
    const CRecording recording = Record(host, feeder, 600ms);
    feeder.Stop();

    EXPECT_EQ(recording.file, host.Folder() + "/Door_071226_030509.avi");
    const CProbe probe = Probe(recording.file);
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_EQ(probe.formatName, "avi");
    EXPECT_EQ(probe.codecName, "rawvideo");
    EXPECT_EQ(probe.width, kWidth);
    EXPECT_EQ(probe.height, kHeight);

    const std::vector<int32_t> numbers = ReadFrameNumbers(recording.file, kWidth, kHeight);
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(static_cast<long>(numbers.size()), probe.frames);
    EXPECT_TRUE(Consecutive(numbers));
    // The iterator opened between the start call and Record Begin, kPreEventFrames frames back
    // from the newest then. The numbers also prove that the picture
    // is upright: they are read from the top of each decoded frame.
    EXPECT_GE(numbers.front(), recording.lastBeforeStart - kPreEventFrames + 1);
    EXPECT_LE(numbers.front(), recording.lastAtStarted - kPreEventFrames + 1);
    EXPECT_GE(numbers.back(), recording.lastAtStop);

    EXPECT_EQ(host.Added(), 1);
    EXPECT_EQ(host.Removed(), 1);
    EXPECT_EQ(host.Failures(), 0);
    const auto raised = host.Raised();
    ASSERT_EQ(raised.size(), 2u);
    EXPECT_EQ(raised[0], std::make_pair(kEventRecordBegin, recording.file));
    EXPECT_EQ(raised[1], std::make_pair(kEventRecordFinish, recording.file));
    EXPECT_TRUE(LogHas("Started recording to '" + recording.file + "'"));
    EXPECT_TRUE(LogHas("Finished recording to '" + recording.file + "'"));

    // Each thread traces its steps in order: the caller, the start thread, the stop thread.
    ASSERT_TRUE(CTestHost::WaitForNoContexts(5000));
    const std::string trace = traces.Finish();
    const std::vector<std::vector<const char*>> threads = {
        {"CRecContext::StartRecord() enter RC", "CRecContext::StartRecord() exit RC"},
        {"CRecContext::AsyncStart() started RC", "CRecContext::StartRecordBlocking() entered",
         "CRecContext::StartRecordBlocking() got crit sec", "CRecContext::StartRecordBlocking() finished",
         "CRecContext::AsyncStart() exit thread RC"},
        {"CRecContext::AsyncStop() started RC", "CRecContext::StopRecordBlocking() entered",
         "CRecContext::StopRecordBlocking() got m_StartStopCritSec",
         "CRecContext::StopRecordBlocking() start flushing the iterator",
         "CRecContext::StopRecordBlocking() finished flushing the iterator",
         "CRecContext::StopRecordGraph() entered", "CRecContext::StopRecordGraph() stop the record graph.",
         "CRecContext::StopRecordGraph() stop finished.",
         "CRecContext::StopRecordGraph() Stop abort event receiver.",
         "CRecContext::StopRecordGraph() stop abort event receiver finished.",
         "CRecContext::StopRecordGraph() finished", "CRecContext::AsyncStop() exit thread RC"}};
    for (const auto& steps : threads) {
        size_t at = 0;
        for (const char* step : steps) {
            const size_t found = trace.find(step, at);
            EXPECT_NE(found, std::string::npos) << "missing or out of order: " << step;
            at = found == std::string::npos ? at : found;
        }
    }
    EXPECT_NE(trace.find("CRecContext::GetSampleCB() entered"), std::string::npos);
    EXPECT_NE(trace.find("CRecContext::DxEvent() --> Rec DX Event code: 0x01 Params: 0, 0"),
              std::string::npos);
    EXPECT_EQ(trace.find("rc started twice"), std::string::npos);
}

TEST_F(RecordContextTest, WmvFilesDecodeWholeAndFollowTheBitRate) {
    struct CResult {
        long frames;
        double bytesPerFrame;
        std::string codec;
    };
    auto recordWmv = [&](int32_t codec, int32_t bitRate) {
        CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
        host.SetSettings(Wmv(codec, bitRate));
        host.SetFileName("RecCam.wmv");
        CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
        const CRecording recording = Record(host, feeder, 1500ms);
        feeder.Stop();
        const CProbe probe = Probe(recording.file);
        EXPECT_EQ(probe.exitCode, 0);
        EXPECT_EQ(probe.formatName, "asf");
        const std::vector<int32_t> numbers = ReadFrameNumbers(recording.file, kWidth, kHeight);
        EXPECT_EQ(static_cast<long>(numbers.size()), probe.frames) << "ffprobe and ffmpeg disagree";
        EXPECT_TRUE(Consecutive(numbers));
        if (!numbers.empty()) {
            EXPECT_LE(numbers.front(), recording.lastAtStarted - kPreEventFrames + 1);
            EXPECT_GE(numbers.back(), recording.lastAtStop) << "the last frames are missing";
        }
        const double size = static_cast<double>(std::filesystem::file_size(recording.file));
        return CResult{probe.frames, probe.frames > 0 ? size / probe.frames : 0.0, probe.codecName};
    };
    const CResult low = recordWmv(0, 100);   // 100 x 1024 bit/s
    const CResult high = recordWmv(0, 2000); // 2000 x 1024 bit/s
    const CResult wmv1 = recordWmv(1, 1000);
    EXPECT_EQ(low.codec, "wmv2");
    EXPECT_EQ(wmv1.codec, "wmv1");
    // 2000 kbit/s at 25 frames a second is about 10 KB a frame.
    const double target = 2000.0 * 1024 / 8 / 25;
    EXPECT_GT(high.bytesPerFrame, 0.6 * target);
    EXPECT_LT(high.bytesPerFrame, 1.4 * target);
    EXPECT_GT(high.bytesPerFrame, 3 * low.bytesPerFrame) << "the bit rate is not followed";
    std::printf("WMV2 bytes per frame: %.0f at 100, %.0f at 2000 (target %.0f); WMV1 at 1000: %.0f\n",
                low.bytesPerFrame, high.bytesPerFrame, target, wmv1.bytesPerFrame);
}

// The compressors of the AVI path: each file decodes whole and holds every frame in order.
class RecordContextEncoderTest : public RecordContextTest,
                                 public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(RecordContextEncoderTest, AviWithCompressorDecodesWhole) {
    const auto [factory, codec] = GetParam();
    if (GstElementFactory* found = gst_element_factory_find(factory)) {
        gst_object_unref(found);
    } else {
        GTEST_SKIP() << factory << " is not installed";
    }
    CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
    // x264enc's defaults look 40 frames ahead; the stored state makes it quick.
    host.SetSettings(
        Avi(factory, std::string(factory) == "x264enc" ? "speed-preset=ultrafast tune=zerolatency" : ""));
    CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
    const CRecording recording = Record(host, feeder, 500ms);
    feeder.Stop();
    const CProbe probe = Probe(recording.file);
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_EQ(probe.formatName, "avi");
    EXPECT_EQ(probe.codecName, codec);
    const std::vector<int32_t> numbers = ReadFrameNumbers(recording.file, kWidth, kHeight);
    EXPECT_EQ(static_cast<long>(numbers.size()), probe.frames);
    EXPECT_GE(numbers.size(), static_cast<size_t>(kPreEventFrames));
    EXPECT_TRUE(Consecutive(numbers));
    if (!numbers.empty()) {
        EXPECT_LE(numbers.front(), recording.lastAtStarted - kPreEventFrames + 1);
        EXPECT_GE(numbers.back(), recording.lastAtStop);
    }
    EXPECT_FALSE(LogHas("Compressor '")) << "the stored state did not apply cleanly";
}

INSTANTIATE_TEST_SUITE_P(Compressors, RecordContextEncoderTest,
                         ::testing::Values(std::make_pair("jpegenc", "mjpeg"),
                                           std::make_pair("x264enc", "h264"),
                                           std::make_pair("avenc_mpeg4", "mpeg4")));

// Frame types of the first video stream in the order stored ("IPPP..."), and whether the stream
// says it has B-frames (ffprobe's has_b_frames: frames to hold back for reordering).
std::string FrameTypes(const std::string& file, int* hasBFrames) {
    const std::string stream =
        RunCommand("ffprobe -v error -select_streams v:0 -show_entries stream=has_b_frames "
                   "-of default=nw=1:nk=1 '" +
                   file + "' 2>/dev/null");
    *hasBFrames = stream.empty() ? -1 : std::atoi(stream.c_str());
    std::string types = RunCommand("ffprobe -v error -select_streams v:0 -show_entries frame=pict_type "
                                   "-of default=nw=1:nk=1 '" +
                                   file + "' 2>/dev/null");
    types.erase(std::remove(types.begin(), types.end(), '\n'), types.end());
    return types;
}

// AVI keeps one time stamp per frame in storage order: an H.264 AVI has no B-frames, even when
// the stored encoder state asks for them (x264enc's own presets use three); MP4 neither, as its
// encoder is set for low latency.
TEST_F(RecordContextTest, H264RecordingsHaveNoBFrames) {
    if (GstElementFactory* found = gst_element_factory_find("x264enc")) {
        gst_object_unref(found);
    } else {
        GTEST_SKIP() << "x264enc is not installed";
    }
    struct CCase {
        const char* name;
        CRecordSettings settings;
        const char* file;
    };
    CRecordSettings mp4;
    mp4.recordContainer = static_cast<int32_t>(ERecordContainer::Mp4);
    mp4.bitRate = 0;
    mp4.h264Encoder = "x264enc";
    const CCase cases[] = {
        {"AVI, x264enc's defaults", Avi("x264enc"), "b.avi"},
        {"AVI, stored state asks for B-frames", Avi("x264enc", "bframes=3 b-adapt=false"), "b.avi"},
        {"MP4", mp4, "b.mp4"}};
    for (const CCase& format : cases) {
        SCOPED_TRACE(format.name);
        CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
        host.SetSettings(format.settings);
        host.SetFileName(format.file);
        CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
        const CRecording recording = Record(host, feeder, 1000ms);
        feeder.Stop();
        int hasBFrames = -1;
        const std::string types = FrameTypes(recording.file, &hasBFrames);
        EXPECT_GE(types.size(), static_cast<size_t>(kPreEventFrames));
        EXPECT_EQ(types.find('B'), std::string::npos) << types;
        EXPECT_EQ(types.front(), 'I');
        EXPECT_EQ(hasBFrames, 0);
        EXPECT_TRUE(Consecutive(ReadFrameNumbers(recording.file, kWidth, kHeight)));
    }
}

TEST_F(RecordContextTest, OddFrameSizesRecordUprightInBothFormats) {
    constexpr int32_t kOddWidth = 321;
    constexpr int32_t kOddHeight = 241;
    for (const bool wmv : {false, true}) {
        CTestHost host(kOddWidth, kOddHeight, kFrameTime, kPreEventFrames);
        host.SetSettings(wmv ? Wmv(0, 1000) : Avi());
        host.SetFileName(wmv ? "odd.wmv" : "odd.avi");
        CFrameFeeder feeder(host.Buffer(), kOddWidth, kOddHeight, kInterval);
        const CRecording recording = Record(host, feeder, 300ms);
        feeder.Stop();
        const CProbe probe = Probe(recording.file);
        EXPECT_EQ(probe.exitCode, 0) << recording.file;
        // The WMV encoders need even sizes: the last column and row are repeated.
        EXPECT_EQ(probe.width, wmv ? kOddWidth + 1 : kOddWidth);
        EXPECT_EQ(probe.height, wmv ? kOddHeight + 1 : kOddHeight);
        const std::vector<int32_t> numbers = ReadFrameNumbers(recording.file, probe.width, probe.height);
        EXPECT_EQ(static_cast<long>(numbers.size()), probe.frames);
        EXPECT_GE(numbers.size(), static_cast<size_t>(kPreEventFrames));
        EXPECT_TRUE(Consecutive(numbers)) << recording.file;
    }
}

TEST_F(RecordContextTest, StopRightAfterStartWaitsForTheStartAndKeepsThePreEventFrames) {
    for (const bool wmv : {false, true}) {
        CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
        host.SetSettings(wmv ? Wmv(0, 1000) : Avi());
        host.SetFileName(wmv ? "quick.wmv" : "quick.avi");
        CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
        feeder.WaitForFrame(kPreEventFrames + 2);
        host.SetFeeder(&feeder);
        auto* rc = new CRecContext(&host);
        rc->StartRecord();
        rc->StopRecord();
        ASSERT_TRUE(host.WaitForRemoved(1));
        const std::string file = host.Folder() + (wmv ? "/quick.wmv" : "/quick.avi");
        const std::vector<int32_t> numbers = ReadFrameNumbers(file, kWidth, kHeight);
        EXPECT_EQ(static_cast<long>(numbers.size()), Probe(file).frames);
        EXPECT_GE(numbers.size(), static_cast<size_t>(kPreEventFrames)) << file;
        EXPECT_TRUE(Consecutive(numbers));
        if (!numbers.empty()) {
            EXPECT_LE(numbers.front(), host.LastFrameAtBegin() - kPreEventFrames + 1);
        }
        EXPECT_EQ(host.Raised().size(), 2u);
    }
}

// ForceStopRecord twice, and ForceStopRecord after StopRecord: one stop each time, and the file
// (cut short, as a forced stop drops the frames not yet written) still decodes whole.
TEST_F(RecordContextTest, RepeatedStopRequestsStopOnce) {
    for (const bool stopFirst : {false, true}) {
        CTraceCapture traces;
        CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
        host.SetSettings(stopFirst ? Wmv(0, 500) : Avi());
        host.SetFileName(stopFirst ? "twice.wmv" : "twice.avi");
        CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
        feeder.WaitForFrame(kPreEventFrames + 2);
        auto* rc = new CRecContext(&host);
        rc->StartRecord();
        std::this_thread::sleep_for(200ms);
        {
            // As the camera view stops all its recordings: under its set lock, so that none can
            // leave the set (and delete itself) in between.
            std::lock_guard<std::mutex> lock(host.SetLock());
            stopFirst ? rc->StopRecord() : rc->ForceStopRecord();
            rc->ForceStopRecord();
        }
        ASSERT_TRUE(host.WaitForRemoved(1));
        ASSERT_TRUE(CTestHost::WaitForNoContexts(5000));
        const std::string trace = traces.Finish();
        EXPECT_EQ(trace.find("CRecContext::ForceStopRecord no active stopping thread found. Start one...") !=
                      std::string::npos,
                  !stopFirst);
        EXPECT_NE(trace.find("CRecContext::ForceStopRecord Stop already in progress. Keep calm..."),
                  std::string::npos);
        const size_t firstStop = trace.find("CRecContext::AsyncStop() started");
        EXPECT_NE(firstStop, std::string::npos);
        EXPECT_EQ(trace.find("CRecContext::AsyncStop() started", firstStop + 1), std::string::npos);
        EXPECT_EQ(host.Raised().size(), 2u);
        const std::string file = host.Folder() + (stopFirst ? "/twice.wmv" : "/twice.avi");
        const CProbe probe = Probe(file);
        EXPECT_EQ(probe.exitCode, 0);
        EXPECT_GT(probe.frames, 0);
        const std::vector<int32_t> numbers = ReadFrameNumbers(file, kWidth, kHeight);
        EXPECT_EQ(static_cast<long>(numbers.size()), probe.frames);
        EXPECT_TRUE(Consecutive(numbers));
    }
}

// A start that fails tells the host, reports the failure, raises no Record Begin, leaves no file
// and deletes the context.
TEST_F(RecordContextTest, FailedStartsAreReportedAndLeaveNothingBehind) {
    struct CCase {
        const char* what;
        std::function<void(CTestHost&)> setUp;
        const char* message;
    };
    const CCase cases[] = {
        {"missing record folder", [](CTestHost& host) { host.SetRecordPath(host.Folder() + "/missing"); },
         "The record path is invalid."},
        {"record path is a file",
         [](CTestHost& host) {
             const std::string file = host.Folder() + "/plain";
             std::fclose(std::fopen(file.c_str(), "w"));
             host.SetRecordPath(file);
         },
         "The record path is invalid."},
        {"empty record path", [](CTestHost& host) { host.SetRecordPath(""); }, "The record path is invalid."},
        {"unknown compressor", [](CTestHost& host) { host.SetSettings(Avi("nosuchencoder")); },
         "Unable to parse device name of compressor."},
        {"not an encoder", [](CTestHost& host) { host.SetSettings(Avi("filesink")); },
         "Unable to attach to compressor filter."},
        {"empty file name", [](CTestHost& host) { host.SetFileName(""); }, "Unable to set record file name."},
        {"file name too long", [](CTestHost& host) { host.SetFileName(std::string(300, 'x') + ".avi"); },
         "Unable to set record file name."},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.what);
        CNotificationLog::Instance().Clear();
        CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
        host.SetSettings(Avi());
        c.setUp(host);
        CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
        auto* rc = new CRecContext(&host);
        rc->StartRecord();
        ASSERT_TRUE(host.WaitForFailures(1));
        ASSERT_TRUE(CTestHost::WaitForNoContexts(5000));
        EXPECT_EQ(host.Failures(), 1);
        EXPECT_EQ(host.Added(), 1);
        EXPECT_EQ(host.Removed(), 1);
        EXPECT_EQ(host.Calls().back(), "RemoveFromRCSet") << "a call to the host after leaving its set";
        EXPECT_TRUE(host.Raised().empty()) << "Record Begin raised for a failed start";
        EXPECT_TRUE(LogHas(c.message)) << c.message;
        EXPECT_FALSE(LogHas("Started recording to"));
        for (const std::string& file : host.Files()) {
            EXPECT_EQ(file, host.Folder() + "/plain") << "a failed start left a file";
        }
    }
}

// The camera view asks a recording to stop while its start is still running (both under the
// view's lock); the start then fails. The waiting stop has nothing to do, the context still
// deletes itself, and nothing calls the host once the context has left the host's set.
TEST_F(RecordContextTest, AStopRequestedDuringAFailingStartIsHarmless) {
    CTraceCapture traces;
    CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
    host.SetSettings(Avi("nosuchencoder"));
    CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
    {
        std::lock_guard<std::recursive_mutex> cameraLock(host.CameraLock());
        auto* rc = new CRecContext(&host);
        rc->StartRecord();
        rc->StopRecord();
    }
    ASSERT_TRUE(host.WaitForFailures(1));
    ASSERT_TRUE(CTestHost::WaitForNoContexts(5000));
    EXPECT_EQ(host.Added(), 1);
    EXPECT_EQ(host.Removed(), 1);
    EXPECT_TRUE(host.Raised().empty());
    EXPECT_EQ(host.Calls().back(), "RemoveFromRCSet");
    EXPECT_TRUE(host.Files().empty());
    EXPECT_NE(traces.Finish().find("CRecContext::StopRecordBlocking() start failed, nothing to stop"),
              std::string::npos);
}

// A failing Record Begin or Record Finish chain is reported; the recording is not undone.
TEST_F(RecordContextTest, AFailingEventChainDoesNotUndoTheRecording) {
    class CThrowingHost : public CTestHost {
    public:
        using CTestHost::CTestHost;
        void RaiseCameraEvent(int32_t kind, const std::string& eventString) override {
            CTestHost::RaiseCameraEvent(kind, eventString);
            THROW_GENERAL("The chain failed.");
        }
    };
    CThrowingHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
    host.SetSettings(Avi());
    CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
    const CRecording recording = Record(host, feeder, 200ms);
    feeder.Stop();
    EXPECT_EQ(host.Failures(), 0);
    EXPECT_EQ(host.Raised().size(), 2u);
    EXPECT_TRUE(LogHas("The chain failed."));
    EXPECT_GE(Probe(recording.file).frames, kPreEventFrames);
}

TEST_F(RecordContextTest, ARecordingNeverOverwritesAnEarlierFileOfTheSameName) {
    CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
    host.SetSettings(Avi());
    host.SetFileName("same.avi");
    CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
    feeder.WaitForFrame(kPreEventFrames + 2);
    auto* first = new CRecContext(&host);
    auto* second = new CRecContext(&host);
    first->StartRecord();
    second->StartRecord();
    std::this_thread::sleep_for(200ms);
    first->StopRecord();
    second->StopRecord();
    ASSERT_TRUE(host.WaitForRemoved(2));
    feeder.Stop();
    for (const char* name : {"/same.avi", "/same_1.avi"}) {
        const std::string file = host.Folder() + name;
        const CProbe probe = Probe(file);
        EXPECT_EQ(probe.exitCode, 0) << file;
        EXPECT_GE(probe.frames, kPreEventFrames) << file;
        EXPECT_TRUE(Consecutive(ReadFrameNumbers(file, kWidth, kHeight))) << file;
    }
    EXPECT_EQ(host.Raised().size(), 4u);
}

TEST_F(RecordContextTest, UnusableCompressorStateIsLoggedAndTheRecordingGoesOn) {
    CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
    host.SetSettings(Avi("jpegenc", "quality=40 no-such-setting=1 quality=abc"));
    CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
    const CRecording recording = Record(host, feeder, 200ms);
    feeder.Stop();
    EXPECT_TRUE(LogHas("Compressor 'jpegenc': unknown setting 'no-such-setting' was ignored"));
    EXPECT_TRUE(
        LogHas("Compressor 'jpegenc': value 'abc' of setting 'quality' is not valid and was ignored"));
    EXPECT_EQ(Probe(recording.file).codecName, "mjpeg");
    EXPECT_EQ(host.Failures(), 0);
}

// A camera of a real document records into the document's record folder, under the name its
// template gives, with its own record settings, and raises the chains bound to Record Begin and
// Record Finish.
TEST_F(RecordContextTest, ACameraOfARealDocumentRecordsAndRaisesItsRecordEvents) {
    class CDocumentHost : public CTestHost {
    public:
        CDocumentHost(CTavrixDoc& document, int32_t cameraId)
            : CTestHost(kWidth, kHeight, kFrameTime, kPreEventFrames), m_facts(document, cameraId) {}
        std::string GetDocumentName() override { return m_facts.GetDocumentName(); }
        std::string GetCameraName() override { return m_facts.GetCameraName(); }
        std::string GetRecordPath() override { return m_facts.GetRecordPath(); }
        CRecordSettings GetRecordSettings() override { return m_facts.GetRecordSettings(); }
        std::string GetRecordFileName() override { return m_facts.GetRecordFileName(1796612709); }
        void RaiseCameraEvent(int32_t kind, const std::string& eventString) override {
            CTestHost::RaiseCameraEvent(kind, eventString);
            m_facts.RaiseCameraEvent(kind, eventString);
        }

    private:
        CCameraRecordFacts m_facts;
    };

    char folderTemplate[] = "/tmp/tavrix-recdoc-XXXXXX";
    ASSERT_NE(mkdtemp(folderTemplate), nullptr);
    const std::string folder = folderTemplate;
    {
        CTavrixDoc document;
        ASSERT_TRUE(document.OnNewDocument(folder + "/Garage.tvrx"));
        document.Edit([&](CTavrixDocData& data) {
            data.m_commonFilePath = folder;
            CSEventActionChain* chain = data.AddChain();
            CCamera* camera = data.m_cameras.Find(0);
            camera->m_camName = "Door";
            camera->m_recordContainer = 0; // AVI, as m_wmvActive says
            camera->m_wmvActive = false;
            camera->m_compressorDN = "jpegenc";
            camera->m_fileNameTemplate = "%n_%o_%y.%t";
            camera->SetChainId(EventKind::RecordBegin, chain->GetId());
            camera->SetChainId(EventKind::RecordFinish, chain->GetId());
        });
        {
            CDocumentHost host(document, 0);
            CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
            const CRecording recording = Record(host, feeder, 200ms);
            feeder.Stop();
            // 1796612709 is in 2026 in every time zone.
            EXPECT_EQ(recording.file, folder + "/Door_Garage_2026.avi");
            EXPECT_EQ(Probe(recording.file).codecName, "mjpeg");
            EXPECT_TRUE(LogHas("Activate chain 'EventActionChain_0' for event 'Record Begin'"));
            EXPECT_TRUE(LogHas("Activate chain 'EventActionChain_0' for event 'Record Finish'"));
            bool named = false;
            for (const CLogEntry& entry : CNotificationLog::Instance().GetEntries()) {
                named = named || (entry.docName == "Garage" && entry.camName == "Door" &&
                                  entry.text == "Started recording to '" + recording.file + "'");
            }
            EXPECT_TRUE(named) << "the log entry names the document and the camera";
        }
        // A camera removed from the document cannot start a recording.
        document.Edit([](CTavrixDocData& data) { data.m_cameras.Remove(0); });
        CDocumentHost host(document, 0);
        auto* rc = new CRecContext(&host);
        rc->StartRecord();
        ASSERT_TRUE(host.WaitForFailures(1));
        ASSERT_TRUE(CTestHost::WaitForNoContexts(5000)); // the report follows the host's notice
        EXPECT_TRUE(LogHas("The camera does not exist in the document."));
    }
    std::filesystem::remove_all(folder);
}

// A small file system of its own, mounted for the test (needs root, as in the build container).
class CSmallDisk {
public:
    CSmallDisk(const std::string& folder, const char* size) : m_folder(folder + "/small") {
        std::filesystem::create_directory(m_folder);
        const std::string options = std::string("size=") + size;
        if (geteuid() == 0 && mount("tmpfs", m_folder.c_str(), "tmpfs", 0, options.c_str()) == 0) {
            m_mounted = true;
        } else {
            m_error = std::strerror(errno);
        }
    }
    ~CSmallDisk() {
        if (m_mounted) {
            umount2(m_folder.c_str(), MNT_DETACH);
        }
    }
    bool Mounted() const { return m_mounted; }
    const std::string& Folder() const { return m_folder; }
    const std::string& Error() const { return m_error; }

private:
    std::string m_folder;
    bool m_mounted = false;
    std::string m_error;
};

// The disk fills up while recording: the host hears of it once, as a full disk, stops the
// recording, and what was written stays playable.
TEST_F(RecordContextTest, AFullDiskIsReportedOnceAndTheFileSoFarStaysPlayable) {
    struct CCase {
        const char* name;
        CRecordSettings settings;
        const char* size;
    };
    const CCase cases[] = {{"full.avi", Avi(), "2m"}, {"full.wmv", Wmv(0, 4000), "256k"}};
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Few pre-event frames, so that the disk fills with live frames, after the start.
        constexpr int32_t kFewFrames = 3;
        CTestHost host(kWidth, kHeight, kFrameTime, kFewFrames);
        CSmallDisk disk(host.Folder(), c.size);
        if (!disk.Mounted()) {
            GTEST_SKIP() << "cannot mount a small tmpfs (" << disk.Error()
                         << "); run as root, e.g. in the build container";
        }
        host.SetRecordPath(disk.Folder());
        host.SetSettings(c.settings);
        host.SetFileName(c.name);
        CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
        feeder.WaitForFrame(kFewFrames + 2);
        auto* rc = new CRecContext(&host);
        rc->StartRecord();
        // The host force-stops the recording when the error arrives, as the camera view does.
        ASSERT_TRUE(host.WaitForEvent(EC_ERRORABORT, 30000)) << "the disk never filled up";
        ASSERT_TRUE(host.WaitForRemoved(1));
        feeder.Stop();
        int errors = 0;
        for (const CHostEvent& event : host.Events()) {
            if (event.code == EC_ERRORABORT) {
                ++errors;
                EXPECT_EQ(static_cast<HRESULT>(event.param1), HRESULT_DISK_FULL);
            }
        }
        EXPECT_EQ(errors, 1) << "one failure, one report";
        EXPECT_EQ(host.Raised().size(), 2u);

        const std::string file = disk.Folder() + "/" + c.name;
        const CProbe probe = Probe(file);
        EXPECT_EQ(probe.exitCode, 0);
        EXPECT_GT(probe.frames, 0);
        const std::vector<int32_t> numbers = ReadFrameNumbers(file, kWidth, kHeight);
        EXPECT_FALSE(numbers.empty());
        EXPECT_TRUE(Consecutive(numbers));
        std::printf("%s: %zu frames readable after the disk filled up\n", c.name, numbers.size());
    }
}

} // namespace
