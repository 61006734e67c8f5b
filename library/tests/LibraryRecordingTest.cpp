// The recordings library on real cameras: four test cameras with motion record AVI, WMV, MP4 and
// Matroska at once; every recording becomes one finished catalogue row with its container, codec,
// duration, size, frames, motion moments and a thumbnail taken from the camera's own frames.

#include "camera/CameraHub.h"
#include "camera/tests/CameraTestSupport.h"
#include "library/RecordingCatalogue.h"
#include "library/RecordingLibrary.h"
#include "library/tests/LibraryTestSupport.h"

#include <gtest/gtest.h>

namespace {

using camtest::CLogCapture;
using camtest::CTestDocument;
using camtest::CViewRun;

class LibraryRecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_PIPELINE_TEST_UNDER_TSAN();
        gsttest::StartGStreamer();
    }
    camtest::CUnattended m_unattended;
    libtest::CTempFolder m_folder;
};

TEST_F(LibraryRecordingTest, EveryContainerRecordedBecomesAFinishedRowWithAThumbnail) {
    CLogCapture log;
    CTestDocument file;
    CTavrixDoc& document = file.Create([](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        camtest::SmallCamera(data, 0, "test:motion?on=1500-2500"); // AVI
        CCamera* wmv = camtest::SmallCamera(data, 1, "test:motion?on=1500-2500");
        wmv->m_wmvActive = true;
        wmv->m_bitRate = 256;
        camtest::SmallCamera(data, 2, "test:motion?on=1500-2500")->m_recordContainer = 1;
        camtest::SmallCamera(data, 3, "test:motion?on=1500-2500")->m_recordContainer = 2;
    });
    CRecordingLibrary::COptions options;
    options.userDbPath = m_folder.Path() + "/Tavrix.db";
    CRecordingLibrary library(options);
    ASSERT_TRUE(library.Start());
    {
        CViewRun run(document);
        run.View().OnInitialUpdate();
        ASSERT_TRUE(run.PumpUntil([&] { return log.Count("Finished recording") == 4; }, 60000)) << log.Dump();
        run.Close();
    }
    library.WaitIdle();
    library.Stop();

    CRecordingCatalogue catalogue;
    catalogue.Open(options.userDbPath);
    CRecordingFilter filter;
    filter.withThumbnails = true;
    std::vector<CRecording> rows = catalogue.List(filter);
    ASSERT_EQ(rows.size(), 4u);
    std::sort(rows.begin(), rows.end(),
              [](const CRecording& a, const CRecording& b) { return a.cameraId < b.cameraId; });
    const char* containers[] = {"AVI", "WMV", "MP4", "Matroska"};
    for (size_t i = 0; i < rows.size(); ++i) {
        const CRecording& row = rows[i];
        SCOPED_TRACE(row.filePath);
        EXPECT_EQ(row.container, containers[i]);
        EXPECT_FALSE(row.codec.empty());
        EXPECT_EQ(row.state, ERecordingState::Finished);
        EXPECT_EQ(row.documentPath, document.GetPathName());
        EXPECT_EQ(row.documentName, "Office");
        EXPECT_EQ(row.cameraName, i == 0 ? "Default" : "Camera_" + std::to_string(i));
        EXPECT_EQ(row.startEvent, "Motion Start");
        EXPECT_EQ(row.writerPid, 0);
        EXPECT_EQ(row.sizeBytes, static_cast<int64_t>(std::filesystem::file_size(row.filePath)));
        // About 1 s of motion, 1 s before and 0.8 s after it, at 10 frames a second.
        EXPECT_GT(row.durationMs, 1500);
        EXPECT_LT(row.durationMs, 10000);
        EXPECT_GT(row.frames, 10);
        EXPECT_GE(row.endUtcMs, row.startUtcMs);
        EXPECT_FALSE(row.startLocal.empty());
        EXPECT_FALSE(row.endLocal.empty());
        ASSERT_FALSE(row.motionMs.empty());
        EXPECT_LE(row.motionMs.front(), row.durationMs);
        ASSERT_GT(row.thumbnail.size(), 100u);
        EXPECT_EQ(row.thumbnail[0], 0xff);
        EXPECT_EQ(row.thumbnail[1], 0xd8);
    }
    EXPECT_EQ(rows[0].codec, "Uncompressed");
    EXPECT_NE(rows[2].codec.find("264"), std::string::npos) << rows[2].codec;
}

} // namespace
