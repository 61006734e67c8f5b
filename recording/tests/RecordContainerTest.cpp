// Recordings into MP4 and Matroska (H.264) through real pipelines, read back with ffprobe and
// ffmpeg, and the ".RecordContainer" key of real document files: documents written before the
// key existed record AVI and WMV exactly as before, and keep doing so once saved again.

#include "recording/tests/RecTestHost.h"

#include "persistence/Camera.h"
#include "persistence/TavrixDoc.h"
#include "persistence/sqlite3x.h"
#include "recording/CameraRecordFacts.h"
#include "recording/RecordContainer.h"
#include "recording/RecordContext.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

using namespace rectest;

namespace {

constexpr int32_t kWidth = 320;
constexpr int32_t kHeight = 240;
constexpr auto kInterval = 40ms; // 25 frames a second
constexpr REFERENCE_TIME kFrameTime = 400000;
constexpr int32_t kPreEventFrames = 10;
constexpr const char* kMp4Format = "mov,mp4,m4a,3gp,3g2,mj2";

struct CRecording {
    std::string file;
    int32_t lastAtStarted = -1;
    int32_t lastAtStop = -1;
};

// Records for `duration` once the pre-event buffer is full, then stops normally.
CRecording Record(CTestHost& host, std::chrono::milliseconds duration) {
    CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
    CRecording recording;
    feeder.WaitForFrame(kPreEventFrames + 2);
    host.SetFeeder(&feeder);
    auto* rc = new CRecContext(&host);
    rc->StartRecord();
    std::this_thread::sleep_for(duration);
    recording.lastAtStop = feeder.Last();
    if (host.Failures() > 0) {
        ADD_FAILURE() << "the recording failed to start";
        feeder.Stop();
        return recording;
    }
    rc->StopRecord();
    EXPECT_TRUE(host.WaitForRemoved(1)) << "the recording did not stop";
    feeder.Stop();
    recording.lastAtStarted = host.LastFrameAtBegin();
    for (const auto& [kind, file] : host.Raised()) {
        if (kind == kEventRecordBegin) {
            recording.file = file;
        }
    }
    EXPECT_FALSE(recording.file.empty()) << "no Record Begin";
    EXPECT_TRUE(LogHas("Finished recording to '" + recording.file + "'"));
    return recording;
}

// The file decodes whole, begins with the pre-event frames and runs on to the stop.
void ExpectWhole(const CRecording& recording, const char* format, const char* codec) {
    const CProbe probe = Probe(recording.file);
    EXPECT_EQ(probe.exitCode, 0) << recording.file;
    EXPECT_EQ(probe.formatName, format);
    EXPECT_EQ(probe.codecName, codec);
    EXPECT_EQ(probe.width, kWidth);
    EXPECT_EQ(probe.height, kHeight);
    const std::vector<int32_t> numbers = ReadFrameNumbers(recording.file, kWidth, kHeight);
    ASSERT_FALSE(numbers.empty()) << recording.file;
    EXPECT_EQ(static_cast<long>(numbers.size()), probe.frames) << "ffprobe and ffmpeg disagree";
    EXPECT_TRUE(Consecutive(numbers));
    EXPECT_LE(numbers.front(), recording.lastAtStarted - kPreEventFrames + 1) << "pre-event frames missing";
    EXPECT_GE(numbers.back(), recording.lastAtStop) << "the last frames are missing";
}

// One "key=value" line of ffprobe's default output.
std::string Field(const std::string& output, const std::string& key) {
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(key + "=", 0) == 0) {
            return line.substr(key.size() + 1);
        }
    }
    return {};
}

CRecordSettings Container(ERecordContainer container, int32_t bitRate) {
    CRecordSettings settings;
    settings.recordContainer = static_cast<int32_t>(container);
    settings.bitRate = bitRate;
    return settings;
}

class RecordContainerTest : public ::testing::Test {
protected:
    void SetUp() override {
        gsttest::StartGStreamer();
        CNotificationLog::Instance().Clear();
    }
};

// MP4 as browsers and phones want it: H.264 in 4:2:0 at a profile they all decode, a key frame
// every two seconds, and at the stop an ordinary (not fragmented) file whose index gives the
// frame count at once.
TEST_F(RecordContainerTest, Mp4DecodesWholeFromThePreEventFramesAndPlaysInBrowsers) {
    CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
    host.SetSettings(Container(ERecordContainer::Mp4, 0)); // constant quality
    host.SetFileName("Door.mp4");
    const CRecording recording = Record(host, 2200ms);
    ExpectWhole(recording, kMp4Format, "h264");

    const std::string stream =
        RunCommand("ffprobe -v error -select_streams v:0 -show_entries "
                   "stream=pix_fmt,profile,level,nb_frames:frame=key_frame -of default=nw=1 '" +
                   recording.file + "'");
    EXPECT_EQ(Field(stream, "pix_fmt"), "yuv420p") << stream;
    const std::string profile = Field(stream, "profile");
    EXPECT_TRUE(profile == "High" || profile == "Main" || profile == "Constrained Baseline") << stream;
    EXPECT_LE(std::atoi(Field(stream, "level").c_str()), 41) << stream;
    // A fragmented file has no frame count in its header: the finished file is an ordinary one.
    const long frames = std::atol(Field(stream, "nb_frames").c_str());
    EXPECT_EQ(frames, Probe(recording.file).frames) << "the finished file's index counts every frame";
    // A key frame every 50 frames (two seconds at 25 frames a second), the first one first.
    EXPECT_EQ(Field(stream, "key_frame"), "1") << "the file does not begin with a key frame";
    long keyFrames = 0;
    for (size_t at = stream.find("key_frame=1"); at != std::string::npos;
         at = stream.find("key_frame=1", at + 1)) {
        ++keyFrames;
    }
    EXPECT_EQ(keyFrames, (frames + 49) / 50) << stream;
}

// Matroska at a bit rate: decodes whole, and the bit rate (".BitRate", 1024 bit/s units) is obeyed.
TEST_F(RecordContainerTest, MatroskaDecodesWholeFromThePreEventFramesAtItsBitRate) {
    CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
    host.SetSettings(Container(ERecordContainer::Matroska, 2000));
    host.SetFileName("Door.mkv");
    const CRecording recording = Record(host, 1200ms);
    ExpectWhole(recording, "matroska,webm", "h264");
    const long frames = Probe(recording.file).frames;
    ASSERT_GT(frames, 0);
    const double bytesPerFrame = static_cast<double>(std::filesystem::file_size(recording.file)) / frames;
    const double target = 2000.0 * 1024 / 8 / 25;
    // Rate control needs a few frames to settle on short recordings; x264 stays well inside this.
    EXPECT_GT(bytesPerFrame, 0.3 * target);
    EXPECT_LT(bytesPerFrame, 2.0 * target);
    std::printf("Matroska bytes per frame: %.0f (target %.0f)\n", bytesPerFrame, target);
}

// The chosen encoder records; one that does not work here gives way to the automatic choice and
// says so in the camera's log.
TEST_F(RecordContainerTest, TheChosenEncoderRecordsAndOneNotWorkingHereFallsBackWithALogLine) {
    for (const char* encoder : {"x264enc", "nosuchh264enc"}) {
        SCOPED_TRACE(encoder);
        CNotificationLog::Instance().Clear();
        CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
        CRecordSettings settings = Container(ERecordContainer::Mp4, 0);
        settings.h264Encoder = encoder;
        settings.h264Preset = 1; // ultrafast
        host.SetSettings(settings);
        host.SetFileName("Chosen.mp4");
        const CRecording recording = Record(host, 800ms);
        ExpectWhole(recording, kMp4Format, "h264");
        EXPECT_EQ(LogHas("H.264 encoder 'nosuchh264enc' does not work here; recording with '" +
                         FindH264Encoder() + "'."),
                  std::string(encoder) == "nosuchh264enc");
    }
}

TEST_F(RecordContainerTest, AnUnknownContainerFailsTheStartWithItsReason) {
    CTestHost host(kWidth, kHeight, kFrameTime, kPreEventFrames);
    CRecordSettings settings;
    settings.recordContainer = 7;
    host.SetSettings(settings);
    CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, kInterval);
    feeder.WaitForFrame(2);
    auto* rc = new CRecContext(&host);
    rc->StartRecord();
    ASSERT_TRUE(host.WaitForFailures(1));
    ASSERT_TRUE(CTestHost::WaitForNoContexts(5000));
    feeder.Stop();
    EXPECT_TRUE(LogHas("unknown record container 7")) << "the reason is reported";
    EXPECT_TRUE(host.Raised().empty());
    EXPECT_TRUE(std::filesystem::is_empty(host.Folder())) << "a failed start leaves no file";
}

// A host answering from a camera of a real document.
class CDocumentHost : public CTestHost {
public:
    CDocumentHost(CTavrixDoc& document, int32_t cameraId)
        : CTestHost(kWidth, kHeight, kFrameTime, kPreEventFrames), m_facts(document, cameraId) {}
    std::string GetRecordPath() override { return m_facts.GetRecordPath(); }
    CRecordSettings GetRecordSettings() override { return m_facts.GetRecordSettings(); }
    std::string GetRecordFileName() override { return m_facts.GetRecordFileName(1796612709); }

private:
    CCameraRecordFacts m_facts;
};

class RecordContainerDocumentTest : public RecordContainerTest {
protected:
    void SetUp() override {
        RecordContainerTest::SetUp();
        char folder[] = "/tmp/tavrix-container-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        m_file = m_folder + "/Garage.tvrx";
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    // Records camera `id` of the open document and returns the file.
    std::string RecordCamera(CTavrixDoc& document, int32_t id) {
        CDocumentHost host(document, id);
        return Record(host, 400ms).file;
    }
    std::string m_folder;
    std::string m_file;
};

// New cameras record MP4 (named .mp4 by %t); an AVI camera and a WMV camera of a document written
// before the key existed read 0 and record as before, also after the document is saved again.
TEST_F(RecordContainerDocumentTest, OldDocumentsRecordAsBeforeAndNewCamerasRecordMp4) {
    {
        CTavrixDoc document;
        ASSERT_TRUE(document.OnNewDocument(m_file));
        document.Edit([&](CTavrixDocData& data) {
            data.m_commonFilePath = m_folder;
            CCamera* avi = data.m_cameras.Find(0);
            EXPECT_EQ(avi->m_recordContainer, kNewCameraRecordContainer) << "the new document's camera";
            avi->m_camName = "Avi";
            avi->m_wmvActive = false;
            avi->m_compressorDN = "jpegenc";
            CCamera* wmv = data.AddCamera();
            EXPECT_EQ(wmv->m_recordContainer, kNewCameraRecordContainer) << "a camera added later";
            wmv->m_camName = "Wmv";
            wmv->m_wmvActive = true;
            CCamera* mkv = data.AddCamera();
            mkv->m_camName = "Mkv";
            mkv->m_recordContainer = static_cast<int32_t>(ERecordContainer::Matroska);
            for (CCamera* camera : {avi, wmv, mkv}) {
                camera->m_fileNameTemplate = "%n.%t";
            }
        });
        ASSERT_TRUE(document.OnSaveDocument());
        document.OnCloseDocument();
    }
    {
        // As a document of the earlier version: no ".RecordContainer" key at all.
        sqlite3x::sqlite3_connection connection(m_file);
        connection.executenonquery("delete from t_config_data where id like 'Cameras.%.RecordContainer';");
        connection.executenonquery("delete from t_config_data where id like 'Cameras.%.H264%';");
    }
    for (int round = 0; round < 2; ++round) {
        CTavrixDoc document;
        ASSERT_TRUE(document.OnOpenDocument(m_file));
        for (int32_t id : {0, 1, 2}) {
            EXPECT_EQ(document.FindCamera(id)->m_recordContainer, 0) << "camera " << id << " round " << round;
            EXPECT_EQ(document.FindCamera(id)->m_h264Encoder, "") << "automatic, as before the key existed";
            EXPECT_EQ(document.FindCamera(id)->m_h264Preset, 3) << "veryfast, as before the key existed";
        }
        const std::string avi = RecordCamera(document, 0);
        EXPECT_EQ(avi, m_folder + "/Avi.avi");
        EXPECT_EQ(Probe(avi).codecName, "mjpeg");
        const std::string wmv = RecordCamera(document, 1);
        EXPECT_EQ(wmv, m_folder + "/Wmv.wmv");
        const CProbe wmvProbe = Probe(wmv);
        EXPECT_EQ(wmvProbe.formatName, "asf");
        EXPECT_EQ(wmvProbe.codecName, "wmv2");
        std::filesystem::remove(avi);
        std::filesystem::remove(wmv);
        // Saved by this version: the key is written as 0 and the cameras stay as they were.
        document.SetModifiedFlag(true);
        ASSERT_TRUE(document.OnSaveDocument());
        document.OnCloseDocument();
    }
    {
        sqlite3x::sqlite3_connection connection(m_file);
        EXPECT_EQ(connection.executeint(
                      "select int_value from t_config_data where id = 'Cameras.0.RecordContainer';"),
                  0);
    }
    // The key chooses the container; %t follows it.
    CTavrixDoc document;
    ASSERT_TRUE(document.OnOpenDocument(m_file));
    document.Edit([](CTavrixDocData& data) {
        data.m_cameras.Find(0)->m_recordContainer = static_cast<int32_t>(ERecordContainer::Mp4);
        data.m_cameras.Find(2)->m_recordContainer = static_cast<int32_t>(ERecordContainer::Matroska);
    });
    const std::string mp4 = RecordCamera(document, 0);
    EXPECT_EQ(mp4, m_folder + "/Avi.mp4");
    const CProbe mp4Probe = Probe(mp4);
    EXPECT_EQ(mp4Probe.formatName, kMp4Format);
    EXPECT_EQ(mp4Probe.codecName, "h264");
    const std::string mkv = RecordCamera(document, 2);
    EXPECT_EQ(mkv, m_folder + "/Mkv.mkv");
    EXPECT_EQ(Probe(mkv).formatName, "matroska,webm");
    document.OnCloseDocument();
}

} // namespace
