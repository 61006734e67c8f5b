// Recordings of a camera of a real document, named by its template: a camera name cannot take
// a recording out of the record folder, and folders written in the template are made.

#include "recording/tests/RecTestHost.h"

#include "persistence/Camera.h"
#include "persistence/TavrixDoc.h"
#include "recording/CameraRecordFacts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

using namespace rectest;

namespace {

constexpr int32_t kWidth = 160;
constexpr int32_t kHeight = 120;

// 1796612709 s: 7 December 2026, whatever the time zone's day.
constexpr int64_t kRecordTime = 1796612709;

class CDocumentHost : public CTestHost {
public:
    CDocumentHost(CTavrixDoc& document, int32_t cameraId)
        : CTestHost(kWidth, kHeight, 400000, 5), m_facts(document, cameraId) {}
    std::string GetDocumentName() override { return m_facts.GetDocumentName(); }
    std::string GetCameraName() override { return m_facts.GetCameraName(); }
    std::string GetRecordPath() override { return m_facts.GetRecordPath(); }
    CRecordSettings GetRecordSettings() override { return m_facts.GetRecordSettings(); }
    std::string GetRecordFileName() override { return m_facts.GetRecordFileName(kRecordTime); }

private:
    CCameraRecordFacts m_facts;
};

class RecordFileNamesTest : public ::testing::Test {
protected:
    void SetUp() override {
        gsttest::StartGStreamer();
        CNotificationLog::Instance().Clear();
        char root[] = "/tmp/tavrix-names-XXXXXX";
        ASSERT_NE(mkdtemp(root), nullptr);
        m_root = root;
        // Deep enough that three folders up is still inside the test's own folder.
        m_folder = m_root + "/a/b/c/records";
        std::filesystem::create_directories(m_folder);
    }
    void TearDown() override { std::filesystem::remove_all(m_root); }

    // Records a moment with camera 0 named name and template nameTemplate; returns the file
    // (empty when the start failed).
    std::string RecordWith(const std::string& name, const std::string& nameTemplate) {
        CTavrixDoc document;
        EXPECT_TRUE(document.OnNewDocument(m_root + "/Site.tvrx"));
        document.Edit([&](CTavrixDocData& data) {
            data.m_commonFilePath = m_folder;
            CCamera* camera = data.m_cameras.Find(0);
            camera->m_camName = name;
            camera->m_wmvActive = false;
            camera->m_fileNameTemplate = nameTemplate;
        });
        CDocumentHost host(document, 0);
        CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, std::chrono::milliseconds(40));
        feeder.WaitForFrame(6);
        auto* rc = new CRecContext(&host);
        rc->StartRecord();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (host.Failures() > 0) {
            EXPECT_TRUE(CTestHost::WaitForNoContexts(20000));
            return {};
        }
        rc->StopRecord();
        EXPECT_TRUE(host.WaitForRemoved(1));
        feeder.Stop();
        for (const auto& [kind, file] : host.Raised()) {
            if (kind == kEventRecordBegin) {
                return file;
            }
        }
        return {};
    }

    std::string m_root;
    std::string m_folder;
};

TEST_F(RecordFileNamesTest, ACameraNameCannotTakeTheRecordingOutOfTheRecordFolder) {
    const std::string file = RecordWith("../../../escaped", CCamera::kDefaultFileNameTemplate);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(std::filesystem::path(file).parent_path(), std::filesystem::path(m_folder));
    EXPECT_EQ(std::filesystem::path(file).filename().string().rfind(".._.._.._escaped_", 0), 0u) << file;
    EXPECT_GT(Probe(file).frames, 0);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_root)) {
        if (entry.is_regular_file() && entry.path().extension() == ".avi") {
            EXPECT_EQ(entry.path().parent_path(), std::filesystem::path(m_folder)) << entry.path();
        }
    }
}

TEST_F(RecordFileNamesTest, FoldersWrittenInTheTemplateAreCreated) {
    const std::string file = RecordWith("Door", "%n/%y-%m-%d_%h%i%s.%t");
    ASSERT_FALSE(file.empty()) << "the start failed";
    EXPECT_EQ(std::filesystem::path(file).parent_path(), std::filesystem::path(m_folder + "/Door"));
    EXPECT_EQ(std::filesystem::path(file).filename().string().rfind("2026-12-0", 0), 0u) << file;
    EXPECT_GT(Probe(file).frames, 0);
}

TEST_F(RecordFileNamesTest, ATemplateLeavingTheFolderFailsTheStartWithItsReason) {
    const std::string file = RecordWith("Door", "../%n.%t");
    EXPECT_TRUE(file.empty());
    EXPECT_TRUE(LogHas("Unable to set record file name.")) << "the failure is reported";
    EXPECT_TRUE(LogHas("would leave the record folder")) << "with its reason";
    EXPECT_FALSE(std::filesystem::exists(m_root + "/a/b/c/Door.avi"));
}

} // namespace
