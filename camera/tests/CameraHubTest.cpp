// The camera hub as the outside interfaces see it: a real camera with motion registers itself,
// tells its state changes, its events with the recording's file and its frames, and is gone from
// the directory once its document closed.

#include "camera/CameraHub.h"
#include "camera/tests/CameraTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

namespace {

using camtest::CLogCapture;
using camtest::CTestDocument;
using camtest::CViewRun;

class CNoteRecorder : public ICameraHubListener {
public:
    void OnCameraEvent(const CCameraEventNote& note) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_events.push_back(note);
    }
    void OnCameraState(const CCameraStateNote& note) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_states.push_back(note);
    }
    void OnCameraFrame(const CCameraFrameNote& note) override {
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_frames;
        m_lastWidth = note.width;
        m_lastHeight = note.height;
        m_cameraIdOfFrame = note.camera->GetCameraId();
        m_sawMotion = m_sawMotion || note.motion;
    }
    std::vector<CCameraEventNote> Events() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_events;
    }
    std::vector<CCameraStateNote> States() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_states;
    }
    int Frames() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_frames;
    }

    std::mutex m_lock;
    std::vector<CCameraEventNote> m_events;
    std::vector<CCameraStateNote> m_states;
    int m_frames = 0;
    int m_lastWidth = 0;
    int m_lastHeight = 0;
    int m_cameraIdOfFrame = -1;
    bool m_sawMotion = false;
};

class CameraHubTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_PIPELINE_TEST_UNDER_TSAN();
        gsttest::StartGStreamer();
    }
    camtest::CUnattended m_unattended;
};

TEST_F(CameraHubTest, ARecordingCameraTellsItsStatesEventsAndFramesUntilItsDocumentCloses) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        camtest::SmallCamera(data, 0, "test:motion?on=1500-2500");
    });
    CNoteRecorder notes;
    CCameraHub& hub = CCameraHub::Instance();
    hub.Subscribe(&notes, true);
    {
        CViewRun run(document);
        run.View().OnInitialUpdate();
        ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Finished recording") == 1; }, 20000)) << log.Dump();

        bool found = false;
        EXPECT_TRUE(hub.WithCamera(document.GetTitle(), 0, [&](ICameraControl& camera) {
            found = true;
            EXPECT_EQ(camera.GetCameraName(), "Default");
            EXPECT_EQ(camera.GetDocumentPath(), document.GetPathName());
        }));
        EXPECT_TRUE(found);
        EXPECT_FALSE(hub.WithCamera(document.GetTitle(), 7, [](ICameraControl&) {}));
        run.Close();
    }
    int registered = 0;
    hub.ForEachCamera([&](ICameraControl&) { ++registered; });
    EXPECT_EQ(registered, 0) << "a closed document's cameras leave the directory";
    hub.Unsubscribe(&notes);
    const int framesAtUnsubscribe = notes.Frames();

    std::vector<std::string> names;
    for (const CCameraStateNote& state : notes.States()) {
        EXPECT_EQ(state.documentName, document.GetTitle());
        EXPECT_EQ(state.cameraName, "Default");
        names.push_back(state.stateName);
    }
    EXPECT_NE(std::find(names.begin(), names.end(), "Recording"), names.end())
        << ::testing::PrintToString(names);

    std::string begun, finished;
    bool motionStart = false;
    for (const CCameraEventNote& event : notes.Events()) {
        EXPECT_EQ(event.cameraId, 0);
        EXPECT_GT(event.unixTimeMs, 0);
        motionStart = motionStart || event.eventName == "Motion Start";
        if (event.eventName == "Record Begin") {
            begun = event.recordFile;
        } else if (event.eventName == "Record Finish") {
            finished = event.recordFile;
        }
    }
    EXPECT_TRUE(motionStart);
    ASSERT_EQ(file.Recordings().size(), 1u);
    EXPECT_EQ(begun, file.Recordings()[0]);
    EXPECT_EQ(finished, begun);

    EXPECT_GT(notes.Frames(), 10);
    EXPECT_EQ(notes.m_lastWidth, 160);
    EXPECT_EQ(notes.m_lastHeight, 120);
    EXPECT_EQ(notes.m_cameraIdOfFrame, 0);
    EXPECT_TRUE(notes.m_sawMotion);
    EXPECT_EQ(notes.Frames(), framesAtUnsubscribe) << "nothing is delivered after Unsubscribe";
}

} // namespace
