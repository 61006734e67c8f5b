// Camera views on real preview pipelines: activation with and without countdown, schedules,
// workstation lock, pipeline and recording failures, lost and returning devices, the overlay and
// snapshots, motion detection of inactive cameras.

#include "camera/VideoRenderer.h"
#include "camera/tests/CameraTestSupport.h"
#include "foundation/Exceptions.h"
#include "persistence/ConfigMgrImpl.h"

#include "recording/MediaSubtypes.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using camtest::CLogCapture;
using camtest::CTestDocument;
using camtest::CViewRun;
using M = CCamViewStateMgr;

class CameraViewStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_PIPELINE_TEST_UNDER_TSAN();
        gsttest::StartGStreamer();
    }
    camtest::CUnattended m_unattended;
};

TEST_F(CameraViewStateTest, CountdownShowsItsSecondsThenGoesIdleAndNextStateDuringItDeactivates) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create(
        [](CTavrixDocData& data) { camtest::SmallCamera(data, 0, "test:motion")->m_motionCountdown = 10; });
    std::atomic<int> refreshes{0};
    CTavrixViewCore::CHooks hooks;
    hooks.cameraChanged = [&refreshes](CCameraView&) { ++refreshes; };
    CCameraViewTiming timing;
    timing.countdownTickMs = 40;
    CViewRun run(document, timing, hooks);
    run.View().OnInitialUpdate();
    ASSERT_TRUE(run.PumpUntil([&] { return refreshes.load() == 1; }, 5000)) << "'...' to 'Inactive'";
    ASSERT_EQ(run.Camera(0).GetState(), M::kInactive);

    refreshes = 0;
    run.View().OnCameraButton(0);
    EXPECT_EQ(run.Camera(0).GetState(), M::kCntDown);
    EXPECT_EQ(run.Camera(0).GetStateText().rfind("CntDown (", 0), 0u) << run.Camera(0).GetStateText();
    ASSERT_TRUE(run.PumpUntil([&] { return run.Camera(0).GetState() == M::kIdle; }, 5000));
    run.Pump(100);
    // The change to CntDown, nine seconds left (9 down to 1), and the change to Idle.
    EXPECT_EQ(refreshes.load(), 11);
    EXPECT_EQ(log.Count("Changed camera state from 'Inactive' to 'CntDown'"), 1);
    EXPECT_EQ(log.Count("Changed camera state from 'CntDown' to 'Idle'"), 1);

    // Off, on again, and off while counting down: Inactive, and the countdown ends.
    run.View().OnCameraButton(0);
    run.View().OnCameraButton(0);
    ASSERT_EQ(run.Camera(0).GetState(), M::kCntDown);
    run.Pump(100);
    run.View().OnCameraButton(0);
    EXPECT_EQ(run.Camera(0).GetState(), M::kInactive);
    EXPECT_EQ(run.Camera(0).GetStateText(), "Inactive");
    run.Pump(600);
    EXPECT_EQ(run.Camera(0).GetState(), M::kInactive) << log.Dump();
    EXPECT_EQ(log.Count("Changed camera state from 'CntDown' to 'Idle'"), 1);
    EXPECT_EQ(log.Count("Changed camera state from 'CntDown' to 'Inactive'"), 1);
}

TEST_F(CameraViewStateTest, ScheduleSwitchesBetweenOffScheduleAndIdle) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        CTimeSchedule* office = data.AddSchedule();
        CTimeScheduleEntry* hours = office->GetEntry(0);
        hours->ValidTime = true;
        hours->FromHour = 8;
        hours->TillHour = 17;
        hours->FromMinute = 0;
        hours->TillMinute = 0;
        camtest::SmallCamera(data, 0, "test:motion")->m_timeScheduleId = office->GetId();
    });
    std::atomic<int> hour{20};
    CViewRun run(document, camtest::HourClockTiming(hour));
    run.View().OnInitialUpdate();
    EXPECT_EQ(run.Camera(0).GetState(), M::kOffSchedule);
    hour = 10;
    ASSERT_TRUE(run.PumpUntil([&] { return run.Camera(0).GetState() == M::kIdle; }, 3000));
    hour = 18;
    ASSERT_TRUE(run.PumpUntil([&] { return run.Camera(0).GetState() == M::kOffSchedule; }, 3000));
    // The schedule's thread logs a change just after making it.
    ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Changed camera state from 'Idle' to 'Off Schedule'") == 1; },
                              3000));
    EXPECT_EQ(log.Texts("Default"),
              (std::vector<std::string>{"Changed camera state from '...' to 'Inactive'",
                                        "Changed camera state from 'Inactive' to 'Off Schedule'",
                                        "Changed camera state from 'Off Schedule' to 'Idle'",
                                        "Changed camera state from 'Idle' to 'Off Schedule'"}));
}

TEST_F(CameraViewStateTest, WorkstationLockReachesOnlyCamerasThatFollowIt) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        camtest::SmallCamera(data, 0, "test:motion")->m_activateOnWindowsLock = true;
        camtest::SmallCamera(data, 1, "test:motion");
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    run.View().OnUpdate(ViewHint::kWindowsLocked);
    EXPECT_EQ(run.Camera(0).GetState(), M::kIdle);
    EXPECT_EQ(run.Camera(1).GetState(), M::kInactive);
    EXPECT_EQ(log.Texts("Camera_1").size(), 1u) << "only its first state";
    run.View().OnUpdate(3);
    run.View().OnUpdate(0);
    EXPECT_EQ(run.Camera(0).GetState(), M::kIdle) << "other hints change nothing";
    run.View().OnUpdate(ViewHint::kWindowsUnlocked);
    EXPECT_EQ(run.Camera(0).GetState(), M::kInactive);

    // An unlock without a lock switches off a camera the user switched on.
    run.View().OnCameraButton(0);
    EXPECT_EQ(run.Camera(0).GetState(), M::kIdle);
    run.View().OnUpdate(ViewHint::kWindowsUnlocked);
    EXPECT_EQ(run.Camera(0).GetState(), M::kInactive);
    EXPECT_EQ(log.Count("Windows locked.", "Default"), 1);
    EXPECT_EQ(log.Count("Windows unlocked.", "Default"), 2);
    EXPECT_EQ(log.Count("Windows", "Camera_1"), 0);

    // Activate and deactivate all cameras.
    run.View().OnUpdate(ViewHint::kActivateAll);
    EXPECT_EQ(run.Camera(0).GetState(), M::kIdle);
    EXPECT_EQ(run.Camera(1).GetState(), M::kIdle);
    run.View().OnUpdate(ViewHint::kDeactivateAll);
    EXPECT_EQ(run.Camera(0).GetState(), M::kInactive);
    EXPECT_EQ(run.Camera(1).GetState(), M::kInactive);
}

TEST_F(CameraViewStateTest, RecordingErrorsMakeTheCameraUnableToRecordExceptAnInvalidRequest) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        camtest::SmallCamera(data, 0, "test:motion");
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    CCameraView& camera = run.Camera(0);
    ASSERT_EQ(camera.GetState(), M::kIdle);

    camera.DxEventRec(nullptr, EC_ERRORABORT, static_cast<LONG_PTR>(NS_E_INVALID_REQUEST), 0);
    camera.DxEventRec(nullptr, EC_COMPLETE, 0, 0);
    EXPECT_EQ(camera.GetState(), M::kIdle);
    EXPECT_EQ(log.Count("Recording failed"), 0);

    camera.DxEventRec(nullptr, EC_ERRORABORT, static_cast<LONG_PTR>(HRESULT_DISK_FULL), 0);
    EXPECT_EQ(camera.GetState(), M::kUnable2Rec);
    EXPECT_EQ(log.Count("Recording failed because of a fatal error.(Disk full)", "Default"), 1);
    run.View().OnCameraButton(0);
    EXPECT_EQ(camera.GetState(), M::kInactive);
    run.View().OnCameraButton(0);
    EXPECT_EQ(camera.GetState(), M::kIdle);

    camera.DxEventRec(nullptr, EC_ERRORABORT, static_cast<LONG_PTR>(E_FAIL), 0);
    EXPECT_EQ(camera.GetState(), M::kUnable2Rec);
    EXPECT_EQ(log.Count("Recording failed because of a fatal error.(hr = -2147467259)", "Default"), 1);
}

TEST_F(CameraViewStateTest, CamerasWithoutAUsableDeviceAreUnavailableAndTheOthersRun) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        camtest::SmallCamera(data, 0, "");
        camtest::SmallCamera(data, 1, "nonsense");
        camtest::SmallCamera(data, 2, "v4l2:/dev/no-such-video-device");
        camtest::SmallCamera(data, 3, "test:smpte");
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    EXPECT_EQ(run.Camera(0).GetState(), M::kUnavailable);
    EXPECT_EQ(run.Camera(1).GetState(), M::kUnavailable);
    EXPECT_EQ(run.Camera(2).GetState(), M::kUnavailable);
    EXPECT_EQ(run.Camera(3).GetState(), M::kInactive);
    EXPECT_EQ(log.Count("Illegal device string for capture device.", "Default"), 1) << log.Dump();
    EXPECT_EQ(log.Count("Unable to parse device name of capture device.", "Camera_1"), 1);
    EXPECT_EQ(log.Count("Unable to bind to capture device via moniker.", "Camera_2"), 1);
    EXPECT_EQ(log.Count("Changed camera state from '...' to 'Unavailable'", "Default"), 1);
    for (const CLogEntry& entry : log.Entries()) {
        if (entry.camName != "") {
            EXPECT_EQ(entry.docName, "Office");
        }
    }
    CRgbPicture picture;
    EXPECT_FALSE(run.Camera(0).GetSnapshot(&picture));

    // The camera device appears: the camera is rebuilt (and fails again, as the node is not real).
    run.View().OnDevicesChanged({{"v4l2:/dev/no-such-video-device", "Door camera"}});
    ASSERT_TRUE(
        run.PumpUntil([&] { return log.Count("Unable to bind to capture device via moniker.") == 2; }, 3000))
        << log.Dump();
    EXPECT_EQ(log.Count("Capturing device re-connected.", "Camera_2"), 1);
    EXPECT_EQ(run.Camera(2).GetState(), M::kUnavailable);
}

TEST_F(CameraViewStateTest, AFailingSourceMakesTheCameraUnavailableAndItsReturnRestoresIt) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        camtest::SmallCamera(data, 0, "test:motion?fail=1000");
        CSEventActionChain* chain = data.AddChain();
        chain->SetName("Alarm");
        data.m_cameras.Find(0)->m_eoEvent = chain->GetId();
    });
    CViewRun run(document);
    run.View().OnInitialUpdate();
    ASSERT_EQ(run.Camera(0).GetState(), M::kIdle);
    ASSERT_TRUE(run.PumpUntil([&] { return run.Camera(0).GetState() == M::kUnavailable; }, 5000))
        << log.Dump();
    run.Pump(300);
    EXPECT_EQ(log.Count("Capturing device lost.", "Default"), 1) << log.Dump();
    EXPECT_EQ(log.Count("Changed camera state from 'Idle' to 'Unavailable'", "Default"), 1);
    EXPECT_EQ(log.Count("Activate chain 'Alarm' for event 'Error Occurred'", "Default"), 1);
    EXPECT_TRUE(run.Camera(0).HasGraph()) << "a lost device keeps its pipeline until it returns";

    // The device is back, working: the device list says so.
    document.Edit([](CTavrixDocData& data) { data.m_cameras.Find(0)->m_videoDeviceDN = "test:motion"; });
    run.View().OnDevicesChanged({});
    ASSERT_TRUE(run.PumpUntil([&] { return run.Camera(0).GetState() == M::kIdle; }, 5000)) << log.Dump();
    EXPECT_EQ(log.Count("Capturing device re-connected.", "Default"), 1);
    EXPECT_EQ(run.Camera(0).GetDeviceName(), "test:motion");
    const int64_t frames = run.Camera(0).GetStats().frames;
    run.Pump(500);
    EXPECT_GT(run.Camera(0).GetStats().frames, frames + 2) << "frames flow again";
    // A second report of the same state changes nothing.
    run.View().OnDevicesChanged({});
    run.Pump(100);
    EXPECT_EQ(log.Count("Capturing device re-connected."), 1);
}

TEST_F(CameraViewStateTest, ShownFramesCarryTheOverlayAndSnapshotsDoNot) {
    CTestDocument file;
    CTavrixDoc& document =
        file.Create([](CTavrixDocData& data) { camtest::SmallCamera(data, 0, "test:motion?on=0-100000"); });
    struct Shown {
        std::mutex lock;
        std::vector<uint8_t> frame;
        int stride = 0;
        int count = 0;
    };
    auto shown = std::make_shared<Shown>();
    CTavrixViewCore::CHooks hooks;
    hooks.createRenderer = [shown](int32_t) {
        return std::make_unique<CFrameConsumerRenderer>(
            [shown](const uint8_t* bgr, int32_t, int32_t height, int32_t stride) {
                std::lock_guard<std::mutex> lock(shown->lock);
                shown->frame.assign(bgr, bgr + static_cast<size_t>(stride) * height);
                shown->stride = stride;
                ++shown->count;
            });
    };
    CViewRun run(document, {}, hooks);
    run.View().OnInitialUpdate();
    // The frames shown after `count` more have arrived.
    const auto nextFrame = [&](int more, std::vector<uint8_t>& frame, int& stride) {
        int target = 0;
        {
            std::lock_guard<std::mutex> lock(shown->lock);
            target = shown->count + more;
        }
        const bool arrived = run.PumpUntil(
            [&] {
                std::lock_guard<std::mutex> lock(shown->lock);
                return shown->count >= target;
            },
            5000);
        std::lock_guard<std::mutex> lock(shown->lock);
        frame = shown->frame;
        stride = shown->stride;
        return arrived;
    };
    const auto redPixels = [](const std::vector<uint8_t>& frame, int stride) {
        int red = 0;
        for (int y = 30; y < 90; ++y) {
            for (int x = 0; x < 160; ++x) {
                const uint8_t* p = frame.data() + y * stride + x * 3;
                red += p[0] == 0 && p[1] == 0 && p[2] == 255 ? 1 : 0;
            }
        }
        return red;
    };
    std::vector<uint8_t> frame;
    int stride = 0;
    // Switched off, the camera shows its picture with date, time and name, but no changed pixels
    // and no count: it does not watch.
    ASSERT_TRUE(nextFrame(15, frame, stride));
    ASSERT_EQ(run.Camera(0).GetState(), CCamViewStateMgr::kInactive);
    ASSERT_EQ(static_cast<int>(frame.size()), stride * 120);
    EXPECT_GT(camtest::GreenPixels(frame.data(), 160, stride, 0, 32), 50) << "date, time and name at the top";
    EXPECT_EQ(redPixels(frame, stride), 0) << "no changed pixels while Inactive";

    run.View().OnCameraButton(0);
    ASSERT_TRUE(run.PumpUntil([&] { return run.Camera(0).GetState() != CCamViewStateMgr::kInactive; }, 5000));
    ASSERT_TRUE(nextFrame(15, frame, stride));
    ASSERT_EQ(static_cast<int>(frame.size()), stride * 120);
    EXPECT_GT(camtest::GreenPixels(frame.data(), 160, stride, 0, 32), 50) << "date, time and name at the top";
    EXPECT_GT(camtest::GreenPixels(frame.data(), 160, stride, 95, 120), 50)
        << "pixel count and frame rate below";
    EXPECT_GT(redPixels(frame, stride), 100) << "the changed pixels are painted red";

    CRgbPicture picture;
    ASSERT_TRUE(run.Camera(0).GetSnapshot(&picture));
    EXPECT_EQ(picture.width, 160);
    EXPECT_EQ(picture.height, 120);
    EXPECT_EQ(camtest::GreenPixels(picture.bytes.data(), 160, picture.stride, 0, 120), 0)
        << "a snapshot is the picture as the camera delivered it";
}

TEST_F(CameraViewStateTest, InactiveCamerasDetectMotionUnlessTheSettingSaysOtherwise) {
    CTestDocument file;
    CTavrixDoc& document =
        file.Create([](CTavrixDocData& data) { camtest::SmallCamera(data, 0, "test:motion?on=0-100000"); });
    struct Restore {
        CMiscSettings saved = CConfigMgrImpl::Instance().GetMiscSettings();
        ~Restore() { CConfigMgrImpl::Instance().SetMiscSettings(saved); }
    } restore;
    CMiscSettings disabled = restore.saved;
    disabled.SetDisableMDWhenInactive(true);
    CConfigMgrImpl::Instance().SetMiscSettings(disabled);

    CViewRun run(document);
    run.View().OnInitialUpdate();
    run.Pump(800);
    CCameraView& camera = run.Camera(0);
    EXPECT_EQ(camera.GetState(), M::kInactive);
    EXPECT_EQ(camera.GetMotionDetector().GetLastCount(), 0);
    EXPECT_EQ(camera.GetMotionDetector().GetState(), CMotionDetector::kNoMotion);

    CConfigMgrImpl::Instance().SetMiscSettings(restore.saved);
    run.Pump(800);
    EXPECT_GT(camera.GetMotionDetector().GetLastCount(), 200);
    EXPECT_EQ(camera.GetMotionDetector().GetState(), CMotionDetector::kMotionActive);
    EXPECT_EQ(camera.GetState(), M::kInactive) << "motion alone does not activate";
}

TEST_F(CameraViewStateTest, ChangedSettingsRebuildAddAndRemoveCameraViews) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        camtest::SmallCamera(data, 0, "test:smpte");
        camtest::SmallCamera(data, 1, "test:ball");
    });
    std::vector<int32_t> created;
    std::vector<int32_t> destroyed;
    CTavrixViewCore::CHooks hooks;
    hooks.cameraViewCreated = [&created](CCameraView& view) { created.push_back(view.GetCameraId()); };
    hooks.cameraViewDestroyed = [&destroyed](CCameraView& view) { destroyed.push_back(view.GetCameraId()); };
    CViewRun run(document, {}, hooks);
    run.View().OnInitialUpdate();
    EXPECT_EQ(created, (std::vector<int32_t>{0, 1}));

    // Camera 0 gets another size, camera 1 is removed, a camera 2 is added.
    document.Edit([](CTavrixDocData& data) {
        data.m_cameras.Find(0)->m_videoSizeCx = 320;
        data.m_cameras.Find(0)->m_videoSizeCy = 240;
        data.m_cameras.Remove(1);
        camtest::SmallCamera(data, 2, "test:motion");
    });
    run.View().RefreshCameraViews();
    EXPECT_EQ(run.View().GetCameraViewIds(), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(destroyed, std::vector<int32_t>{1});
    EXPECT_EQ(created, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(run.Camera(0).GetFrameWidth(), 320);
    EXPECT_EQ(run.Camera(0).GetFrameHeight(), 240);
    EXPECT_EQ(run.Camera(2).GetState(), M::kInactive) << "only a just opened document activates at start-up";

    // Nothing changed: the pipelines keep running, the options are applied again.
    CCameraView* same = &run.Camera(0);
    const int64_t frames = same->GetStats().frames;
    run.View().RefreshCameraViews();
    EXPECT_EQ(&run.Camera(0), same);
    run.Pump(400);
    EXPECT_GT(same->GetStats().frames, frames);
    EXPECT_EQ(run.Camera(0).GetFrameWidth(), 320);
}

// A video output whose window cannot be placed (a GUI window that went away).
class CUnplaceableRenderer : public CNullVideoRenderer {
public:
    void Place(int32_t, int32_t, int32_t width, int32_t) override {
        if (width > 1) {
            THROW_GENERAL("Unable to place the video window.");
        }
    }
};

TEST_F(CameraViewStateTest, AVideoWindowThatCannotBePlacedMakesTheCameraUnavailable) {
    CTestDocument file;
    CTavrixDoc& document =
        file.Create([](CTavrixDocData& data) { camtest::SmallCamera(data, 0, "test:smpte"); });
    CTavrixViewCore::CHooks hooks;
    hooks.createRenderer = [](int32_t) { return std::make_unique<CUnplaceableRenderer>(); };
    CViewRun run(document, {}, hooks);
    run.View().OnInitialUpdate();
    ASSERT_EQ(run.Camera(0).GetState(), M::kInactive);
    EXPECT_THROW(run.Camera(0).MoveVideoWindow(10, 20), CGeneralEx);
    EXPECT_EQ(run.Camera(0).GetState(), M::kUnavailable);
}

} // namespace

// A camera whose own format is YUV (here a test picture in a webcam's YUY2) is detected on luma and
// stamped in I420 without a BGR frame of its own: the window still gets BGR with the green texts
// and the red changed pixels, the snapshot is the plain picture, and the moving ball is motion.
TEST_F(CameraViewStateTest, AYuvCameraIsDetectedOnLumaAndShownWithItsOverlayInBgr) {
    CTestDocument file;
    CTavrixDoc& document =
        file.Create([](CTavrixDocData& data) {
            CCamera* camera = camtest::SmallCamera(data, 0, "test:ball?format=YUY2");
            for (const CMediaSubtypeInfo& subtype : GetMediaSubtypes()) {
                if (std::string(subtype.name) == "YUY2") {
                    camera->m_mediaSubtype = subtype.guid; // the webcam's own format, as a user picks it
                }
            }
        });
    struct Shown {
        std::mutex lock;
        std::vector<uint8_t> frame;
        int stride = 0;
        int count = 0;
    };
    auto shown = std::make_shared<Shown>();
    CTavrixViewCore::CHooks hooks;
    hooks.createRenderer = [shown](int32_t) {
        return std::make_unique<CFrameConsumerRenderer>(
            [shown](const uint8_t* bgr, int32_t, int32_t height, int32_t stride) {
                std::lock_guard<std::mutex> lock(shown->lock);
                shown->frame.assign(bgr, bgr + static_cast<size_t>(stride) * height);
                shown->stride = stride;
                ++shown->count;
            });
    };
    CViewRun run(document, {}, hooks);
    run.View().OnInitialUpdate();
    run.View().OnCameraButton(0);
    ASSERT_TRUE(run.PumpUntil([&] { return run.Camera(0).GetState() != CCamViewStateMgr::kInactive; }, 5000));
    ASSERT_TRUE(run.PumpUntil(
        [&] {
            std::lock_guard<std::mutex> lock(shown->lock);
            return shown->count >= 15;
        },
        5000));
    EXPECT_EQ(run.Camera(0).GetFrameStride(), 160 * 3) << "a recording takes BGR rows of the width";
    std::vector<uint8_t> frame;
    int stride = 0;
    {
        std::lock_guard<std::mutex> lock(shown->lock);
        frame = shown->frame;
        stride = shown->stride;
    }
    ASSERT_EQ(static_cast<int>(frame.size()), stride * 120);
    EXPECT_GT(camtest::GreenishPixels(frame.data(), 160, stride, 0, 32), 50) << "date, time and name at the top";
    int reddish = 0;
    for (int y = 30; y < 90; ++y) {
        for (int x = 0; x < 160; ++x) {
            const uint8_t* p = frame.data() + y * stride + x * 3;
            reddish += p[2] >= 200 && p[1] <= 60 && p[0] <= 60 ? 1 : 0;
        }
    }
    EXPECT_GT(reddish, 10) << "the moving ball's changed pixels are painted red";
    ASSERT_TRUE(run.PumpUntil([&] { return run.Camera(0).GetMotionDetector().GetState() ==
                                           CMotionDetector::kMotionActive; },
                              5000));

    CRgbPicture picture;
    ASSERT_TRUE(run.Camera(0).GetSnapshot(&picture));
    EXPECT_EQ(picture.width, 160);
    EXPECT_EQ(picture.height, 120);
    EXPECT_EQ(camtest::GreenishPixels(picture.bytes.data(), 160, picture.stride, 0, 120), 0)
        << "a snapshot is the picture as the camera delivered it";
}
