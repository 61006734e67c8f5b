// Cameras come back by themselves after failures that pass, on real preview pipelines: a record
// folder created after the first event, a full disk that gets room again, a capture device lost
// while it stays listed, a countdown cut short by anything but its end, a pipeline rebuilt in the
// middle of a recording; and a closing document logs its end after its cameras' last word.

#include "actions/CSEA_InvokeCommand.h"
#include "camera/tests/CameraTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

namespace {

using camtest::CLogCapture;
using camtest::CTestDocument;
using camtest::CViewRun;
using M = CCamViewStateMgr;

class CameraRecoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_PIPELINE_TEST_UNDER_TSAN();
        gsttest::StartGStreamer();
    }
    camtest::CUnattended m_unattended;

    // Index of the first entry of the camera ("" for the document) whose text begins with text,
    // or -1.
    static int IndexOf(const CLogCapture& log, const std::string& camera, const std::string& text) {
        const std::vector<CLogEntry> entries = log.Entries();
        for (size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].camName == camera && entries[i].text.rfind(text, 0) == 0) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
};

// ---- a camera unable to record ----

TEST_F(CameraRecoveryTest, ARecordFolderCreatedAfterTheFirstEventIsRecordedIntoAtTheNextMotion) {
    CLogCapture log;
    CTestDocument file;
    const std::string folder = file.Folder() + "/created-later";
    CTavrixDoc& document = file.Create([&folder](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        data.m_commonFilePath = folder;
        camtest::SmallCamera(data, 0, "test:motion?on=800-1300,3000-3500,5200-5700,7400-7900");
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    CCameraView& camera = run.Camera(0);

    // The first event fails; the next two find the folder still missing and say so once.
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetStats().recordRetries >= 2; }, 15000)) << log.Dump();
    EXPECT_EQ(camera.GetState(), M::kUnable2Rec);
    EXPECT_EQ(log.Count("Still unable to record: The record path is invalid.", "Default"), 1) << log.Dump();
    EXPECT_EQ(log.Count("Started recording"), 0);

    // The folder appears: the fourth motion is recorded.
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Finished recording", "Default") == 1; }, 15000))
        << log.Dump();
    EXPECT_EQ(log.Count("Changed camera state from 'Unable2Rec' to 'Recording'", "Default"), 1);
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetState() == M::kIdle; }, 5000)) << log.Dump();
    const std::vector<std::string> files = CTestDocument::FilesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    const rectest::CProbe probe = rectest::Probe(files[0]);
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_GE(probe.frames, 9) << "at least the pre-event frames";
}

TEST_F(CameraRecoveryTest, AFullDiskIsTriedAgainWhileMotionLastsAndRecordedIntoOnceItHasRoom) {
    camtest::CSmallDisk disk("1m");
    if (!disk.Mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([&disk](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        data.m_commonFilePath = disk.Folder();
        camtest::SmallCamera(data, 0, "test:motion?on=800-120000");
    });
    CCameraViewTiming timing;
    timing.recordRetryMs = 200; // the log's minute stays a minute
    CViewRun run(document, timing);
    run.View().OnInitialUpdate();
    CCameraView& camera = run.Camera(0);

    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("(Disk full)") == 1; }, 15000)) << log.Dump();
    // The same motion goes on: tried again and again, logged once.
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetStats().recordRetries >= 4; }, 15000)) << log.Dump();
    EXPECT_EQ(camera.GetState(), M::kUnable2Rec);
    EXPECT_EQ(log.Count("Still unable to record: The disk of the record path is full.", "Default"), 1)
        << log.Dump();
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Finished recording") == 1; }, 10000)) << log.Dump();

    // Room again: the motion that lasts is recorded into a new file.
    for (const std::string& recording : CTestDocument::FilesIn(disk.Folder())) {
        std::filesystem::remove(recording);
    }
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Started recording") == 2; }, 15000)) << log.Dump();
    EXPECT_EQ(log.Count("Changed camera state from 'Unable2Rec' to 'Recording'", "Default"), 1);
    run.Close();
    const std::vector<std::string> files = CTestDocument::FilesIn(disk.Folder());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(rectest::Probe(files[0]).exitCode, 0);
}

TEST_F(CameraRecoveryTest, ARecordingThatFailsAgainAfterTheCheckIsReportedAtMostOnceInTheInterval) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        // The folder is fine, the compressor is not.
        CCamera* camera = camtest::SmallCamera(data, 0, "test:motion?on=800-1300,3000-3500,5200-5700");
        camera->m_compressorDN = "tavrixnosuchencoder";
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    CCameraView& camera = run.Camera(0);
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetStats().recordRetries >= 2; }, 15000)) << log.Dump();
    run.Pump(300);
    // The first event and the first try are reported; the second try waits for the minute.
    EXPECT_EQ(log.Count("Unable to parse device name of compressor.", "Default"), 2) << log.Dump();
    EXPECT_EQ(log.Count("Changed camera state from 'Unable2Rec' to 'Recording'", "Default"), 1);
    EXPECT_EQ(log.Count("Still unable to record"), 0);
    EXPECT_EQ(camera.GetState(), M::kUnable2Rec);
}

// ---- a lost capture device ----

TEST_F(CameraRecoveryTest, ALostDeviceThatStaysListedIsReconnectedByItsWatchdog) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        // Fails a second after each start, as a flaky camera would.
        camtest::SmallCamera(data, 0, "test:motion?fail=1000");
    });
    CCameraViewTiming timing;
    timing.deviceRetry = {100, 400};
    CViewRun run(document, timing);
    run.View().OnInitialUpdate();
    CCameraView& camera = run.Camera(0);

    ASSERT_TRUE(
        run.PumpUntil([&] { return log.Count("Capturing device re-connected.", "Default") == 1; }, 15000))
        << log.Dump();
    EXPECT_GE(log.Count("Capturing device lost.", "Default"), 1);
    EXPECT_GT(IndexOf(log, "Default", "Changed camera state from 'Unavailable' to 'Idle'"),
              IndexOf(log, "Default", "Capturing device lost."))
        << log.Dump();
    // And again after the next failure: the watchdog starts afresh.
    ASSERT_TRUE(
        run.PumpUntil([&] { return log.Count("Capturing device re-connected.", "Default") == 2; }, 15000))
        << log.Dump();

    // While the device cannot be opened the attempts go on quietly; once it can, it is back.
    document.Edit([](CTavrixDocData& data) {
        data.m_cameras.Find(0)->m_videoDeviceDN = "v4l2:/dev/tavrix-no-such-video-device";
    });
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Capturing device lost.", "Default") == 3; }, 15000))
        << log.Dump();
    EXPECT_EQ(camera.GetState(), M::kUnavailable);
    const int64_t attempts = camera.GetStats().deviceRetries;
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetStats().deviceRetries >= attempts + 3; }, 15000))
        << log.Dump();
    EXPECT_EQ(camera.GetState(), M::kUnavailable);
    EXPECT_EQ(log.Count("Unable to bind"), 0) << "failed attempts are not reported";
    document.Edit([](CTavrixDocData& data) { data.m_cameras.Find(0)->m_videoDeviceDN = "test:motion"; });
    ASSERT_TRUE(
        run.PumpUntil([&] { return log.Count("Capturing device re-connected.", "Default") == 3; }, 15000))
        << log.Dump();
    EXPECT_TRUE(run.PumpUntil([&] { return camera.GetState() == M::kIdle; }, 5000));
    const int64_t frames = camera.GetStats().frames;
    EXPECT_TRUE(run.PumpUntil([&] { return camera.GetStats().frames > frames + 2; }, 5000)) << "frames flow";
}

// ---- the countdown ----

TEST_F(CameraRecoveryTest, ACountdownCutShortByAnythingButItsEndLeavesNoCountdownBehind) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        CTimeSchedule* office = data.AddSchedule();
        CTimeScheduleEntry* hours = office->GetEntry(0);
        hours->ValidTime = true;
        hours->FromHour = 8;
        hours->TillHour = 17;
        hours->FromMinute = 0;
        hours->TillMinute = 0;
        CCamera* camera = camtest::SmallCamera(data, 0, "test:motion");
        camera->m_motionCountdown = 120; // never ends within the test
        camera->m_activateOnWindowsLock = true;
        camera->m_timeScheduleId = office->GetId();
    });
    std::atomic<int> hour{10};
    CViewRun run(document, camtest::HourClockTiming(hour));
    run.View().OnInitialUpdate();
    CCameraView& camera = run.Camera(0);
    ASSERT_EQ(camera.GetState(), M::kInactive);

    // "Deactivate all" during the countdown, then "Activate all".
    run.View().OnCameraButton(0);
    ASSERT_EQ(camera.GetState(), M::kCntDown);
    run.View().OnUpdate(ViewHint::kDeactivateAll);
    EXPECT_EQ(camera.GetState(), M::kInactive);
    run.View().OnUpdate(ViewHint::kActivateAll);
    EXPECT_EQ(camera.GetStateText(), "Idle");

    // An unlock and a lock.
    run.View().OnCameraButton(0);
    ASSERT_EQ(camera.GetState(), M::kInactive);
    run.View().OnCameraButton(0);
    ASSERT_EQ(camera.GetState(), M::kCntDown);
    run.View().OnUpdate(ViewHint::kWindowsUnlocked);
    run.View().OnUpdate(ViewHint::kWindowsLocked);
    EXPECT_EQ(camera.GetStateText(), "Idle");

    // The schedule ends and begins again.
    run.View().OnCameraButton(0);
    run.View().OnCameraButton(0);
    ASSERT_EQ(camera.GetState(), M::kCntDown);
    hour = 18;
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetState() == M::kOffSchedule; }, 5000));
    hour = 10;
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetState() != M::kOffSchedule; }, 5000));
    EXPECT_EQ(camera.GetStateText(), "Idle");

    // The device is lost and comes back.
    run.View().OnCameraButton(0);
    run.View().OnCameraButton(0);
    ASSERT_EQ(camera.GetState(), M::kCntDown);
    camera.DxEvent(EC_ERRORABORT, 0, 0);
    EXPECT_EQ(camera.GetState(), M::kUnavailable);
    run.View().OnDevicesChanged({});
    ASSERT_TRUE(run.PumpUntil([&] { return camera.GetState() != M::kUnavailable; }, 5000)) << log.Dump();
    EXPECT_EQ(camera.GetStateText(), "Idle");

    EXPECT_EQ(log.Count("to 'CntDown'"), 4) << "only the four button presses count down\n" << log.Dump();
}

// ---- a rebuilt pipeline ----

TEST_F(CameraRecoveryTest, ChangedSettingsDuringARecordingEndItAndTheMotionThatGoesOnStartsTheNext) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        camtest::SmallCamera(data, 0, "test:motion?on=800-120000");
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Started recording") == 1; }, 10000)) << log.Dump();

    // Another frame rate: a new pipeline.
    document.Edit([](CTavrixDocData& data) { data.m_cameras.Find(0)->m_fps = 8; });
    run.View().RefreshCameraViews();
    EXPECT_EQ(run.Camera(0).GetCaptureFps(), 8);
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Finished recording") == 1; }, 10000)) << log.Dump();
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Started recording") == 2; }, 10000))
        << "the motion of the new pipeline is recorded\n"
        << log.Dump();
    EXPECT_EQ(run.Camera(0).GetState(), M::kRecording);
    EXPECT_EQ(log.Count("Changed camera state from 'Recording' to 'Idle'"), 1) << log.Dump();
    EXPECT_EQ(log.Count("Changed camera state from 'Idle' to 'Recording'"), 2);
    run.Close();
    const std::vector<std::string> files = file.Recordings();
    ASSERT_EQ(files.size(), 2u);
    for (const std::string& recording : files) {
        EXPECT_EQ(rectest::Probe(recording).exitCode, 0) << recording;
    }
}

// ---- closing ----

TEST_F(CameraRecoveryTest, DocumentClosedIsLoggedAfterItsRecordingsFinishedAndTheirChainsRan) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        CCamera* camera = camtest::SmallCamera(data, 0, "test:motion?on=800-120000");
        CSEventActionChain* chain = data.AddChain();
        chain->SetName("Finished");
        auto nothing = std::make_unique<CSEA_InvokeCommand>();
        nothing->SetStringProp("Command", "/bin/true");
        chain->AddAction(std::move(nothing));
        camera->m_rfEvent = chain->GetId();
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Started recording") == 1; }, 10000)) << log.Dump();
    run.Close();

    const std::vector<CLogEntry> entries = log.Entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().text, "Document closed") << log.Dump();
    EXPECT_EQ(entries.back().camName, "");
    const int finished = IndexOf(log, "Default", "Finished recording to '");
    const int chain = IndexOf(log, "Default", "Activate chain 'Finished' for event 'Record Finish'");
    // The chain runs on the document's chain queue: its action, not only its activation, comes first.
    const int ran = IndexOf(log, "Default", "Invoke Command Event Action: Started '/bin/true'");
    const int closed = IndexOf(log, "", "Document closed");
    EXPECT_GE(finished, 0) << log.Dump();
    EXPECT_GT(chain, finished) << log.Dump();
    EXPECT_GT(ran, chain) << log.Dump();
    EXPECT_GT(closed, ran) << log.Dump();
}

} // namespace
