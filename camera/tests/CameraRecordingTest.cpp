// Cameras that record: test sources with motion at known times drive real preview pipelines, the
// recordings are real files read back with ffprobe and ffmpeg, and the notification log tells the
// camera's story.

#include "actions/CSEA_InvokeCommand.h"
#include "camera/tests/CameraTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace {

using camtest::CLogCapture;
using camtest::CTestDocument;
using camtest::CViewRun;

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kMotionTop = kHeight / 4; // the test source's moving block: the middle half
constexpr int kMotionBottom = kHeight * 3 / 4;

class CameraRecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_PIPELINE_TEST_UNDER_TSAN();
        gsttest::StartGStreamer();
    }
    camtest::CUnattended m_unattended;

    // Chains with one command action each: "Recorded" for the record events writes the event's
    // file name as a line into eventsFile; "Moved" for motion and errors runs /bin/true.
    static void BindChains(CTavrixDocData& data, CCamera& camera,
                           const std::string& eventsFile = "/dev/null") {
        CSEventActionChain* recorded = data.AddChain();
        recorded->SetName("Recorded");
        auto write = std::make_unique<CSEA_InvokeCommand>();
        write->SetStringProp("Command", "/bin/sh");
        write->SetStringProp("Parameters", "-c 'echo \"$1\" >> \"$0\"' '" + eventsFile + "' %r");
        recorded->AddAction(std::move(write));
        CSEventActionChain* moved = data.AddChain();
        moved->SetName("Moved");
        auto nothing = std::make_unique<CSEA_InvokeCommand>();
        nothing->SetStringProp("Command", "/bin/true");
        moved->AddAction(std::move(nothing));
        camera.m_rbEvent = recorded->GetId();
        camera.m_rfEvent = recorded->GetId();
        camera.m_msEvent = moved->GetId();
        camera.m_eoEvent = moved->GetId();
    }

    static std::vector<std::string> Lines(const std::string& path) {
        std::vector<std::string> lines;
        std::ifstream file(path);
        for (std::string line; std::getline(file, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // The path inside "Started recording to '...'" entries of a camera, in order.
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

    // Whether the texts hold the wanted ones in this order (others may come between).
    static ::testing::AssertionResult InOrder(const std::vector<std::string>& texts,
                                              const std::vector<std::string>& wanted) {
        auto at = texts.begin();
        for (const std::string& text : wanted) {
            at = std::find(at, texts.end(), text);
            if (at == texts.end()) {
                return ::testing::AssertionFailure() << "missing or out of order: " << text;
            }
            ++at;
        }
        return ::testing::AssertionSuccess();
    }
};

TEST_F(CameraRecordingTest, EveryMotionEventGivesOneRecordingThatBeginsWithThePreEventFrames) {
    CLogCapture log;
    CTestDocument file;
    const std::string events = file.Folder() + "/events.txt";
    CTavrixDoc& document = file.Create([&events](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        CCamera* avi = camtest::SmallCamera(data, 0, "test:motion?on=1500-2500,4500-5500");
        BindChains(data, *avi, events);
        // A second camera at the same time, recording WMV.
        CCamera* wmv = camtest::SmallCamera(data, 1, "test:motion?on=2000-3000");
        wmv->m_wmvActive = true;
        wmv->m_bitRate = 256;
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    ASSERT_TRUE(run.PumpUntil(
        [&] {
            return log.Count("Finished recording", "Default") == 2 &&
                   log.Count("Finished recording", "Camera_1") == 1;
        },
        20000))
        << log.Dump();

    const std::vector<std::string> aviFiles = StartedFiles(log, "Default");
    const std::vector<std::string> wmvFiles = StartedFiles(log, "Camera_1");
    ASSERT_EQ(aviFiles.size(), 2u);
    ASSERT_EQ(wmvFiles.size(), 1u);
    EXPECT_EQ(file.Recordings().size(), 3u);

    // About 1 s before the motion, 1 s of motion and the 0.8 s stop delay, at 10 frames a second.
    for (const std::string& avi : aviFiles) {
        const rectest::CProbe probe = rectest::Probe(avi);
        EXPECT_EQ(probe.exitCode, 0) << avi;
        EXPECT_EQ(probe.formatName, "avi");
        EXPECT_EQ(probe.codecName, "rawvideo");
        EXPECT_EQ(probe.width, kWidth);
        EXPECT_EQ(probe.height, kHeight);
        EXPECT_GE(probe.frames, 22) << avi;
        EXPECT_LE(probe.frames, 36) << avi;

        const auto frames = camtest::DecodeFrames(avi, kWidth, kHeight);
        ASSERT_EQ(static_cast<long>(frames.size()), probe.frames);
        // The still picture before the motion: the pre-event frames.
        size_t still = 1;
        while (still < frames.size() &&
               camtest::SameRows(frames[0], frames[still], kWidth, kMotionTop, kMotionBottom)) {
            ++still;
        }
        EXPECT_GE(still, 8u) << "about 1000 ms of frames from before the motion";
        EXPECT_LE(still, 13u);
        // Time and name are in the recorded frames, pixel count and frame rate are not.
        const int rowBytes = kWidth * 3;
        EXPECT_GT(camtest::GreenishPixels(frames[0].data(), kWidth, rowBytes, 0, 32), 50);
        EXPECT_EQ(camtest::GreenishPixels(frames[0].data(), kWidth, rowBytes, kHeight - 30, kHeight), 0);
    }
    const rectest::CProbe wmv = rectest::Probe(wmvFiles[0]);
    EXPECT_EQ(wmv.exitCode, 0);
    EXPECT_EQ(wmv.formatName, "asf");
    EXPECT_EQ(wmv.codecName, "wmv2");
    EXPECT_GE(wmv.frames, 22);
    EXPECT_LE(wmv.frames, 36);

    const std::vector<std::string> texts = log.Texts("Default");
    EXPECT_TRUE(InOrder(
        texts,
        {"Changed camera state from '...' to 'Inactive'", "Changed camera state from 'Inactive' to 'Idle'",
         "Changed camera state from 'Idle' to 'Recording'", "Started recording to '" + aviFiles[0] + "'",
         "Activate chain 'Recorded' for event 'Record Begin'",
         "Changed camera state from 'Recording' to 'Idle'", "Finished recording to '" + aviFiles[0] + "'",
         "Activate chain 'Recorded' for event 'Record Finish'",
         "Changed camera state from 'Idle' to 'Recording'", "Started recording to '" + aviFiles[1] + "'",
         "Finished recording to '" + aviFiles[1] + "'"}))
        << log.Dump();
    EXPECT_EQ(log.Count("Activate chain 'Moved' for event 'Motion Start'", "Default"), 2);
    // The record chains ran with the file's name: Begin and Finish of each recording.
    EXPECT_TRUE(run.PumpUntil([&] { return Lines(events).size() == 4; }, 5000)) << log.Dump();
    EXPECT_EQ(Lines(events), (std::vector<std::string>{aviFiles[0], aviFiles[0], aviFiles[1], aviFiles[1]}));
    EXPECT_EQ(log.Count("Activate chain", "Camera_1"), 0) << "the WMV camera binds no chain";
    EXPECT_EQ(log.Count("Error", "*"), 0) << log.Dump();
}

TEST_F(CameraRecordingTest, StopRightAfterStartAndClosingWhileRecordingLeavePlayableFiles) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        camtest::SmallCamera(data, 0, "test:motion?on=1200-60000");
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    ASSERT_TRUE(
        run.PumpUntil([&] { return run.Camera(0).GetState() == CCamViewStateMgr::kRecording; }, 10000))
        << log.Dump();
    // Switched off the moment it started recording.
    run.View().OnCameraButton(0);
    EXPECT_EQ(run.Camera(0).GetState(), CCamViewStateMgr::kInactive);
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Finished recording") == 1; }, 10000)) << log.Dump();

    // On again while the motion goes on, and the document closed in the middle of the recording.
    run.View().OnCameraButton(0);
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Started recording") == 2; }, 10000)) << log.Dump();
    run.Pump(500);
    run.Close();
    EXPECT_EQ(log.Count("Finished recording"), 2) << "the close waits for the recording to end";
    EXPECT_EQ(log.Count("Document closed"), 1);

    const std::vector<std::string> files = file.Recordings();
    ASSERT_EQ(files.size(), 2u);
    for (const std::string& recording : files) {
        const rectest::CProbe probe = rectest::Probe(recording);
        EXPECT_EQ(probe.exitCode, 0) << recording;
        EXPECT_EQ(probe.formatName, "avi");
        // At least the pre-event frames (1000 ms at 10 frames a second).
        EXPECT_GE(probe.frames, 9) << recording;
    }
}

TEST_F(CameraRecordingTest, AnInvalidRecordPathMakesTheCameraUnableToRecordWithoutAFile) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([&file](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        data.m_commonFilePath = file.Folder() + "/no-such-folder";
        CCamera* camera = camtest::SmallCamera(data, 0, "test:motion?on=800-1800");
        BindChains(data, *camera);
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    // The camera hears of the failed start first; the report reaches the log right after.
    ASSERT_TRUE(run.PumpUntil(
        [&] {
            return run.Camera(0).GetState() == CCamViewStateMgr::kUnable2Rec &&
                   log.Count("The record path is invalid.") > 0;
        },
        10000))
        << log.Dump();
    EXPECT_EQ(run.Camera(0).GetStateText(), "Unable2Rec");
    EXPECT_EQ(log.Count("The record path is invalid.", "Default"), 1) << log.Dump();
    EXPECT_EQ(log.Count("Changed camera state from 'Recording' to 'Unable2Rec'", "Default"), 1);
    EXPECT_EQ(log.Count("Activate chain 'Moved' for event 'Error Occurred'", "Default"), 1);
    EXPECT_EQ(log.Count("Started recording"), 0);
    EXPECT_TRUE(file.Recordings().empty());
    EXPECT_FALSE(std::filesystem::exists(file.Folder() + "/no-such-folder"));

    // Switching it off clears the failure; on again it waits for motion.
    run.View().OnCameraButton(0);
    EXPECT_EQ(run.Camera(0).GetState(), CCamViewStateMgr::kInactive);
    run.Pump(2500); // the motion and its stop delay are over
    run.View().OnCameraButton(0);
    EXPECT_EQ(run.Camera(0).GetState(), CCamViewStateMgr::kIdle);
}

TEST_F(CameraRecordingTest, AFullDiskMakesTheCameraUnableToRecordAndKeepsTheFileSoFar) {
    camtest::CSmallDisk disk("1m");
    if (!disk.Mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([&disk](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        data.m_commonFilePath = disk.Folder();
        // 57600 bytes a frame: the megabyte is full after the pre-event frames and a few more.
        camtest::SmallCamera(data, 0, "test:motion?on=800-60000");
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    ASSERT_TRUE(
        run.PumpUntil([&] { return run.Camera(0).GetState() == CCamViewStateMgr::kUnable2Rec; }, 15000))
        << log.Dump();
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Finished recording") == 1; }, 10000)) << log.Dump();
    EXPECT_EQ(log.Count("Recording failed because of a fatal error.(Disk full)", "Default"), 1) << log.Dump();

    const std::vector<std::string> files = CTestDocument::FilesIn(disk.Folder());
    ASSERT_EQ(files.size(), 1u);
    const rectest::CProbe probe = rectest::Probe(files[0]);
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_GE(probe.frames, 5) << "the frames that fitted stay playable";
    run.Close();
    EXPECT_EQ(log.Count("Finished recording"), 1) << "a stopped recording is not stopped again";
}

} // namespace
