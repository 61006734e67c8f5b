#include "persistence/TavrixDoc.h"

#include "actions/CSEA_PlaySnd.h"
#include "actions/CSEA_SendFTP.h"
#include "foundation/ErrorReport.h"
#include "persistence/ConfigStore.h"
#include "persistence/NotificationLog.h"
#include "platform/Paths.h"

#include "TempDirFixture.h"

#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <thread>

namespace {

class TavrixDocTest : public TempDirFixture {
protected:
    void SetUp() override {
        TempDirFixture::SetUp();
        SetErrorDisplay(&m_display);
        CNotificationLog::Instance().Clear();
    }
    void TearDown() override {
        SetErrorDisplay(nullptr);
        CNotificationLog::Instance().Clear();
        TempDirFixture::TearDown();
    }
    std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    // A saved document with one camera (id 0, "Default") at path.
    void MakeSavedDocument(const std::string& path) {
        CTavrixDoc doc;
        ASSERT_TRUE(doc.OnNewDocument(path));
        ASSERT_TRUE(doc.OnSaveDocument());
    }
    // Runs one statement on a document file from outside, as a hand edit would.
    void Tamper(const std::string& path, const std::string& sql) {
        sqlite3x::sqlite3_connection db(path);
        db.executenonquery(sql);
    }
    // Opening must fail with exactly this message and leave the file byte for byte as it was.
    void ExpectOpenRefused(const std::string& path, const std::string& message) {
        const std::string before = ReadFile(path);
        m_display.messages.clear();
        CTavrixDoc doc;
        EXPECT_FALSE(doc.OnOpenDocument(path));
        EXPECT_FALSE(doc.IsOpen());
        ASSERT_EQ(m_display.messages.size(), 1u);
        EXPECT_EQ(m_display.messages[0], message);
        EXPECT_EQ(ReadFile(path), before);
    }
    std::vector<std::string> Log() {
        std::vector<std::string> texts;
        for (const auto& entry : CNotificationLog::Instance().GetEntries()) {
            texts.push_back(entry.docName + "|" + entry.camName + "|" + entry.text);
        }
        return texts;
    }
    RecordingDisplay m_display;
};

// A camera with every field away from its default.
CCamera UnusualCamera() {
    CCamera c;
    c.m_motionGreyLevel = 151;
    c.m_motionShortTermPixelCount = 201;
    c.m_motionStartDelay = 5;
    c.m_motionStopDelay = 2001;
    c.m_motionPreEventDelay = 2002;
    c.m_motionErosionLevel = 3;
    c.m_motionCountdown = 7;
    c.m_viewMode = 12;
    c.m_timeScheduleId = 9;
    c.m_videoDeviceDN = "v4l2:/dev/v4l/by-id/usb-cam-video-index0";
    c.m_compressorDN = "x264enc";
    c.m_camName = "007";
    c.m_fileNameTemplate = "%o-%n_%y.%t";
    c.m_activateOnWindowsLock = true;
    c.m_appendVideoFiles = true;
    c.m_fps = 2500;
    c.m_videoSizeCx = 640;
    c.m_videoSizeCy = 480;
    GUID::FromString("{32595559-0000-0010-8000-00aa00389b71}", c.m_mediaSubtype); // YUY2
    c.m_hasCrossbar = true;
    c.m_videoInputPin = 2;
    c.m_hasTuner = true;
    c.m_tvFormat = 0x10;
    c.m_inputType = 1;
    c.m_inputConnection = 3;
    c.m_channel = 44;
    c.m_countryCode = 1;
    const std::string state = "bitrate=512 speed-preset=2";
    c.m_compressorData.assign(state.begin(), state.end());
    c.m_codec = 1;
    c.m_codecFormat = 2;
    c.m_bitRate = 333;
    c.m_wmvActive = false;
    c.m_areaMaskEnabled = true;
    c.m_areaMaskImage.Create(37, 5);
    c.m_areaMaskImage.Fill(false);
    c.m_areaMaskImage.SetPixel(1, 0, true);
    c.m_areaMaskImage.SetPixel(36, 4, true);
    for (int32_t kind = 1; kind <= 7; ++kind) {
        c.SetChainId(kind, 100 + kind);
    }
    return c;
}

} // namespace

TEST_F(TavrixDocTest, ANewDocumentHasOneDefaultCameraAndAFileWithVersionOne) {
    const std::string path = Path("New.tvrx");
    CTavrixDoc doc;
    ASSERT_TRUE(doc.OnNewDocument(path));
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.GetTitle(), "New");
    EXPECT_EQ(doc.GetCameraIds(), std::vector<int32_t>{0});
    CCamera expected;
    expected.SetId(0);
    expected.m_camName = "Default";
    EXPECT_TRUE(*doc.FindCamera(0) == expected) << "all defaults of a new camera";
    EXPECT_FALSE(doc.GetActivateAtStartup());
    EXPECT_TRUE(platform::IsDirectory(doc.GetCommonFilePath()));

    sqlite3x::sqlite3_connection file(path);
    EXPECT_EQ(file.executeint("select max(version) from t_tavrixdoc_schema"), 1);
    EXPECT_EQ(file.executeint("select count(*) from t_config_data"), 0) << "nothing written before the save";
}

TEST_F(TavrixDocTest, DefaultsOfANewCamera) {
    const CCamera c;
    EXPECT_EQ(c.m_motionGreyLevel, 150);
    EXPECT_EQ(c.m_motionShortTermPixelCount, 200);
    EXPECT_EQ(c.m_motionStartDelay, 0);
    EXPECT_EQ(c.m_motionStopDelay, 2000);
    EXPECT_EQ(c.m_motionPreEventDelay, 2000);
    EXPECT_EQ(c.m_motionErosionLevel, 1);
    EXPECT_EQ(c.m_motionCountdown, 0);
    EXPECT_EQ(c.m_viewMode, 63);
    EXPECT_EQ(c.m_timeScheduleId, -1);
    EXPECT_EQ(c.m_fileNameTemplate, "%n_%d%m%y_%h%i%s.%t");
    EXPECT_EQ(c.m_fps, 1000);
    EXPECT_EQ(c.m_videoSizeCx, 320);
    EXPECT_EQ(c.m_videoSizeCy, 240);
    EXPECT_EQ(c.m_mediaSubtype.ToString(), "{e436eb7d-524f-11ce-9f53-0020af0ba770}");
    EXPECT_EQ(c.m_tvFormat, 16);
    EXPECT_EQ(c.m_countryCode, 49);
    EXPECT_EQ(c.m_bitRate, 1024);
    EXPECT_TRUE(c.m_wmvActive);
    EXPECT_TRUE(c.m_areaMaskImage.IsEmpty());
    EXPECT_TRUE(c.m_compressorData.empty());
    for (int32_t kind = 0; kind <= 8; ++kind) {
        EXPECT_EQ(c.GetChainId(kind), -1);
    }
}

TEST_F(TavrixDocTest, SaveAndOpenReproduceEveryField) {
    const std::string path = Path("Office.tvrx");
    CTavrixDoc doc;
    ASSERT_TRUE(doc.OnNewDocument(path));
    doc.Edit([](CTavrixDocData& data) {
        data.m_activateAtStartup = true;
        data.m_commonFilePath = "/srv/recordings/0123";
        CCamera* second = data.AddCamera();
        const int32_t id = second->GetId();
        *second = UnusualCamera();
        second->SetId(id);
        data.AddChain()->AddAction(std::make_unique<CSEA_PlaySnd>());
        data.AddSchedule();
        CTimeSchedule* schedule = data.AddSchedule();
        schedule->SetName("Weekdays");
        schedule->GetEntry(0)->DoW = 31;
        schedule->GetEntry(schedule->AddEntry())->FromHour = 8;
    });
    ASSERT_TRUE(doc.OnSaveDocument());
    EXPECT_FALSE(doc.IsModified());
    doc.OnCloseDocument();

    CTavrixDoc reopened;
    ASSERT_TRUE(reopened.OnOpenDocument(path)) << (m_display.messages.empty() ? "" : m_display.messages[0]);
    EXPECT_FALSE(reopened.IsModified());
    EXPECT_TRUE(reopened.GetActivateAtStartup());
    EXPECT_EQ(reopened.GetCommonFilePath(), "/srv/recordings/0123");
    EXPECT_EQ(reopened.GetCameraIds(), (std::vector<int32_t>{0, 1}));
    CCamera expected = UnusualCamera();
    expected.SetId(1);
    const auto loaded = reopened.FindCamera(1);
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(*loaded == expected);
    EXPECT_EQ(loaded->m_camName, "007");
    EXPECT_EQ(loaded->m_mediaSubtype, expected.m_mediaSubtype);
    EXPECT_EQ(loaded->m_compressorData, expected.m_compressorData);
    EXPECT_TRUE(loaded->m_areaMaskImage.GetPixel(36, 4));
    EXPECT_EQ(reopened.FindCamera(0)->m_camName, "Default");
    ASSERT_TRUE(reopened.FindChain(0));
    EXPECT_EQ(reopened.FindChain(0)->GetName(), "EventActionChain_0");
    EXPECT_EQ(reopened.FindChain(0)->GetActionCount(), 1u);
    const auto schedule = reopened.FindSchedule(1);
    ASSERT_TRUE(schedule);
    EXPECT_EQ(schedule->GetName(), "Weekdays");
    ASSERT_EQ(schedule->GetEntryCount(), 2u);
    EXPECT_EQ(schedule->GetEntry(0)->DoW, 31);
    EXPECT_EQ(schedule->GetEntry(1)->FromHour, 8);
    EXPECT_EQ(reopened.FindSchedule(0)->GetName(), "Schedule_0");
    EXPECT_EQ(reopened.Read([](const CTavrixDocData& d) { return d.m_cameras.GetNextId(); }), 2);
    EXPECT_EQ(reopened.Read([](const CTavrixDocData& d) { return d.m_schedules.GetNextId(); }), 2);
    EXPECT_TRUE(m_display.messages.empty());
}

TEST_F(TavrixDocTest, ACameraIsSavedInTheFixedKeyOrder) {
    const std::string path = Path("Order.tvrx");
    MakeSavedDocument(path);
    sqlite3x::sqlite3_connection db(path);
    sqlite3x::sqlite3_command command(db, "select id from t_config_data order by rowid");
    auto reader = command.executereader();
    std::vector<std::string> keys;
    while (reader.read()) {
        keys.push_back(reader.getstring(0));
    }
    const std::vector<std::string> expected = {"Global.ActivateAtStartup",
                                               "Global.CommonFilePath",
                                               "Cameras.count",
                                               "Cameras.0.id",
                                               "Cameras.0.CamName",
                                               "Cameras.0.VideoDeviceDN",
                                               "Cameras.0.MotionGreyLevel",
                                               "Cameras.0.MotionShortTermPixelCount",
                                               "Cameras.0.MotionStartDelay",
                                               "Cameras.0.MotionStopDelay",
                                               "Cameras.0.MotionErosionLevel",
                                               "Cameras.0.MotionCountdown",
                                               "Cameras.0.ViewMode",
                                               "Cameras.0.CompressorDN",
                                               "Cameras.0.MotionPreEventDelay",
                                               "Cameras.0.FileNameTemplate",
                                               "Cameras.0.TimeScheduleId",
                                               "Cameras.0.AreaMaskEnabled",
                                               "Cameras.0.ActivateOnWindowsLock",
                                               "Cameras.0.AppendVideoFiles",
                                               "Cameras.0.FPS",
                                               "Cameras.0.VideoSize.cx",
                                               "Cameras.0.VideoSize.cy",
                                               "Cameras.0.MediaSubtype",
                                               "Cameras.0.hasCrossbar",
                                               "Cameras.0.VideoInputPin",
                                               "Cameras.0.hasTuner",
                                               "Cameras.0.TVFormat",
                                               "Cameras.0.InputType",
                                               "Cameras.0.InputConnection",
                                               "Cameras.0.Channel",
                                               "Cameras.0.CountryCode",
                                               "Cameras.0.Codec",
                                               "Cameras.0.CodecFormat",
                                               "Cameras.0.BitRate",
                                               "Cameras.0.WMVActive",
                                               "Cameras.0.RecordContainer",
                                               "Cameras.0.StreamTimeout",
                                               "Cameras.0.DetectDeviceDN",
                                               "Cameras.0.H264Encoder",
                                               "Cameras.0.H264Preset",
                                               "Cameras.0.PreEventBuffer",
                                               "Cameras.0.AEvent",
                                               "Cameras.0.DEvent",
                                               "Cameras.0.MSEvent",
                                               "Cameras.0.MPEvent",
                                               "Cameras.0.RBEvent",
                                               "Cameras.0.RFEvent",
                                               "Cameras.0.EOEvent",
                                               "Cameras.0.AreaMaskImage.ImageAvailable",
                                               "Cameras.0.CompressorData.RawData",
                                               "Schedules.count",
                                               "EventActionChains.count",
                                               "Global.RetentionDays",
                                               "Global.RetentionMaxGiB",
                                               "Global.MinFreeGiB"};
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(db.executestring(
                  "select typeof(blob_value) from t_config_data where id='Cameras.0.CompressorData.RawData'"),
              "blob")
        << "an empty compressor state is a zero-length blob";
}

TEST_F(TavrixDocTest, DamagedFilesAreRefusedWithTheirTextAndKept) {
    const std::string prefix = "An error occurred during opening the document: '";
    struct Case {
        const char* name;
        const char* sql;
        std::string message;
    };
    const Case cases[] = {
        {"missing", "delete from t_config_data where id = 'Cameras.0.FPS'", prefix + "nothing to read'"},
        {"guid15",
         "update t_config_data set blob_value = x'000102030405060708090a0b0c0d0e' where id = "
         "'Cameras.0.MediaSubtype'",
         prefix + "type mismatch (GUID expected)'"},
        {"hugecount", "update t_config_data set int_value = 2147483647 where id = 'Cameras.count'",
         prefix + "nothing to read'"},
        {"wrongkind",
         "update t_config_data set int_value = null, string_value = 'fast' where id = 'Cameras.0.FPS'",
         prefix + "type mismatch (integer expected)'"},
        {"notable", "drop table t_config_data", prefix + "no such table: t_config_data'"},
        {"newer", "insert into t_tavrixdoc_schema values(2)",
         "The format of the file is more recent than this application. Please use a new version of Tavrix."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Path(std::string(c.name) + ".tvrx");
        MakeSavedDocument(path);
        Tamper(path, c.sql);
        ExpectOpenRefused(path, c.message);
    }
}

TEST_F(TavrixDocTest, AnOlderVersionIsAcceptedUnchanged) {
    const std::string path = Path("old.tvrx");
    MakeSavedDocument(path);
    Tamper(path, "delete from t_tavrixdoc_schema");
    CTavrixDoc doc;
    EXPECT_TRUE(doc.OnOpenDocument(path));
}

TEST_F(TavrixDocTest, AFailedSaveLeavesTheFileExactlyAsBefore) {
    const std::string path = Path("Keep.tvrx");
    MakeSavedDocument(path);
    Tamper(path, "create trigger refuse before insert on t_config_data when new.string_value = 'boom' "
                 "begin select raise(abort, 'disk says no'); end");
    const auto dump = [&] {
        sqlite3x::sqlite3_connection db(path);
        sqlite3x::sqlite3_command c(db, "select id, quote(int_value), quote(string_value), quote(blob_value) "
                                        "from t_config_data order by rowid");
        std::string text;
        auto reader = c.executereader();
        while (reader.read()) {
            for (int i = 0; i < 4; ++i) {
                text += reader.getstring(i) + ";";
            }
        }
        return text;
    };
    const std::string before = dump();

    CTavrixDoc doc;
    ASSERT_TRUE(doc.OnOpenDocument(path));
    doc.Edit([](CTavrixDocData& d) {
        d.m_cameras.Find(0)->m_motionGreyLevel = 99;
        d.AddCamera()->m_camName = "boom";
    });
    EXPECT_FALSE(doc.OnSaveDocument());
    EXPECT_TRUE(doc.IsModified());
    ASSERT_EQ(m_display.messages.size(), 1u);
    EXPECT_EQ(m_display.messages[0], "An error occurred during saving the document: 'disk says no'");
    EXPECT_EQ(dump(), before);
    doc.OnCloseDocument();
    EXPECT_FALSE(doc.OnSaveDocument());
    EXPECT_EQ(m_display.messages.at(1),
              "An error occurred during saving the document: 'database is not open'");
}

TEST_F(TavrixDocTest, WriteRetentionWritesJustItsKeysAtOnce) {
    const std::string path = Path("Yard.tvrx");
    MakeSavedDocument(path);
    CTavrixDoc doc;
    ASSERT_TRUE(doc.OnOpenDocument(path));
    doc.Edit([](CTavrixDocData& d) { d.m_cameras.Find(0)->m_camName = "Unsaved"; });
    std::string error;
    ASSERT_TRUE(doc.WriteRetention(3, 40, 6, error)) << error;
    EXPECT_TRUE(doc.IsModified()) << "the other change is still unsaved";
    EXPECT_EQ(doc.Read([](const CTavrixDocData& d) { return d.m_retentionMaxGiB; }), 40);
    // A dialog's copy taken before the write does not bring the old values back.
    CTavrixDocData dialog = doc.GetData();
    ASSERT_TRUE(doc.WriteRetention(4, 41, 7, error)) << "written twice, read once: " << error;
    dialog.m_cameras.Find(0)->m_camName = "Renamed";
    doc.SetData(dialog);
    EXPECT_EQ(doc.Read([](const CTavrixDocData& d) { return d.m_retentionDays; }), 4);
    EXPECT_EQ(doc.GetCameraName(0), "Renamed");
    dialog = doc.GetData();
    dialog.m_retentionDays = 5;
    doc.SetData(dialog);
    EXPECT_EQ(doc.Read([](const CTavrixDocData& d) { return d.m_retentionDays; }), 5) << "a fresh copy's edit counts";
    ASSERT_TRUE(doc.WriteRetention(4, 41, 7, error)) << error;
    {
        CTavrixDoc other;
        ASSERT_TRUE(other.OnOpenDocument(path));
        const auto values = other.Read([](const CTavrixDocData& d) {
            return std::vector<int32_t>{d.m_retentionDays, d.m_retentionMaxGiB, d.m_minFreeGiB};
        });
        EXPECT_EQ(values, (std::vector<int32_t>{4, 41, 7}));
        EXPECT_EQ(other.GetCameraName(0), "Default") << "nothing else was written";
        sqlite3x::sqlite3_connection db(path);
        EXPECT_EQ(db.executeint("select count(*) from t_config_data where id = 'Global.RetentionDays'"), 1);
        other.OnCloseDocument();
    }
    // A failed write changes nothing, in the file or in memory.
    Tamper(path, "create trigger refuse before insert on t_config_data when new.int_value = 99 "
                 "begin select raise(abort, 'disk says no'); end");
    EXPECT_FALSE(doc.WriteRetention(99, 1, 1, error));
    EXPECT_EQ(error, "disk says no");
    EXPECT_EQ(doc.Read([](const CTavrixDocData& d) { return d.m_retentionDays; }), 4);
    doc.OnCloseDocument();
    CTavrixDoc again;
    ASSERT_TRUE(again.OnOpenDocument(path));
    EXPECT_EQ(again.Read([](const CTavrixDocData& d) { return d.m_retentionDays; }), 4);
    again.OnCloseDocument();
    EXPECT_FALSE(again.WriteRetention(1, 1, 1, error)) << "a closed document";
}

TEST_F(TavrixDocTest, NewOnAnExistingDocumentStartsEmptyAndTheFirstSaveReplacesIt) {
    const std::string path = Path("Reused.tvrx");
    {
        CTavrixDoc doc;
        ASSERT_TRUE(doc.OnNewDocument(path));
        doc.Edit([](CTavrixDocData& d) {
            d.AddCamera();
            d.AddCamera();
        });
        ASSERT_TRUE(doc.OnSaveDocument());
    }
    CTavrixDoc doc;
    ASSERT_TRUE(doc.OnNewDocument(path));
    EXPECT_EQ(doc.GetCameraIds(), std::vector<int32_t>{0});
    ASSERT_TRUE(doc.OnSaveDocument());
    doc.OnCloseDocument();
    CTavrixDoc reopened;
    ASSERT_TRUE(reopened.OnOpenDocument(path));
    EXPECT_EQ(reopened.GetCameraIds(), std::vector<int32_t>{0});
}

TEST_F(TavrixDocTest, SaveAsWritesANewFileAndContinuesOnIt) {
    const std::string first = Path("First.tvrx");
    const std::string second = Path("Second.tvrx");
    CTavrixDoc doc;
    ASSERT_TRUE(doc.OnNewDocument(first));
    ASSERT_TRUE(doc.OnSaveDocument());
    const std::string firstBefore = ReadFile(first);
    doc.Edit([](CTavrixDocData& d) { d.m_cameras.Find(0)->m_camName = "Renamed"; });
    ASSERT_TRUE(doc.OnSaveDocumentAs(second));
    EXPECT_EQ(doc.GetTitle(), "Second");
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(ReadFile(first), firstBefore) << "the old file keeps its content";
    // Saving again goes to the new file.
    doc.Edit([](CTavrixDocData& d) { d.m_cameras.Find(0)->m_bitRate = 77; });
    ASSERT_TRUE(doc.OnSaveDocument());
    doc.OnCloseDocument();
    CTavrixDoc reopened;
    ASSERT_TRUE(reopened.OnOpenDocument(second));
    EXPECT_EQ(reopened.FindCamera(0)->m_camName, "Renamed");
    EXPECT_EQ(reopened.FindCamera(0)->m_bitRate, 77);
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(m_dir), std::filesystem::directory_iterator()), 4)
        << "no temporary file left beside config and data";
}

TEST_F(TavrixDocTest, AFailedSaveAsChangesNothing) {
    const std::string path = Path("Stay.tvrx");
    CTavrixDoc doc;
    ASSERT_TRUE(doc.OnNewDocument(path));
    EXPECT_FALSE(doc.OnSaveDocumentAs(Path("no/such/folder/Other.tvrx")));
    EXPECT_EQ(doc.GetPathName(), path);
    EXPECT_TRUE(doc.IsOpen());
    ASSERT_TRUE(doc.OnSaveDocument());
}

TEST_F(TavrixDocTest, ADocumentGivenAPasswordIsSavedReadableByItsOwnerOnly) {
    const std::string path = (m_dir / "shared.tvrx").string();
    const std::string copy = (m_dir / "copy.tvrx").string();
    MakeSavedDocument(path);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    CTavrixDoc doc;
    ASSERT_TRUE(doc.OnOpenDocument(path));
    const auto mode = [](const std::string& file) {
        struct stat status {};
        ::stat(file.c_str(), &status);
        return status.st_mode & 0777;
    };
    // Without a password the mode the user chose stays.
    ASSERT_TRUE(doc.OnSaveDocument());
    EXPECT_EQ(mode(path), 0644u);
    // A network camera's address with a password.
    doc.Edit([](CTavrixDocData& data) { data.m_cameras.Find(0)->m_videoDeviceDN = "rtsp://u:p@cam/live"; });
    ASSERT_TRUE(doc.OnSaveDocument());
    EXPECT_EQ(mode(path), 0600u);
    // An FTP password, saved over a shared file of another name.
    doc.Edit([](CTavrixDocData& data) {
        data.m_cameras.Find(0)->m_videoDeviceDN = "rtsp://cam/live";
        CSEventActionChain* chain = data.AddChain();
        auto ftp = std::make_unique<CSEA_SendFTP>();
        ftp->SetStringProp("FTPPass", "secret");
        chain->AddAction(std::move(ftp));
    });
    { std::ofstream shared(copy); }
    ASSERT_EQ(::chmod(copy.c_str(), 0664), 0);
    ASSERT_TRUE(doc.OnSaveDocumentAs(copy));
    EXPECT_EQ(mode(copy), 0600u);
}

TEST_F(TavrixDocTest, TheTitleIsTheFileNameWithoutFolderAndExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"Office.tvrx", "Office"}, {"a.b.tvrx", "a.b"}, {"noext", "noext"}, {"Shed.TVRX", "Shed.TVRX"}};
    for (const auto& [file, title] : cases) {
        CTavrixDoc doc;
        ASSERT_TRUE(doc.OnNewDocument(Path(file)));
        EXPECT_EQ(doc.GetTitle(), title);
    }
}

TEST_F(TavrixDocTest, DeletionGuardsRefuseWhatACameraUses) {
    CTavrixDocData data;
    CCamera* camera = data.AddCamera();
    EXPECT_EQ(camera->m_camName, "Camera_0");
    EXPECT_EQ(data.AddSchedule()->GetName(), "Schedule_0");
    EXPECT_EQ(data.AddSchedule()->GetEntryCount(), 1u);
    CSEventActionChain* chain = data.AddChain();
    EXPECT_EQ(chain->GetName(), "EventActionChain_0");
    data.AddChain();
    camera->m_timeScheduleId = 1;
    camera->SetChainId(EventKind::RecordFinish, 0);

    std::string message;
    EXPECT_FALSE(data.DeleteSchedule(1, message));
    EXPECT_EQ(message, "The schedule cannot be deleted because it is used in a camera definition.");
    EXPECT_TRUE(data.m_schedules.Find(1));
    EXPECT_TRUE(data.DeleteSchedule(0, message));
    EXPECT_EQ(message, "");
    EXPECT_FALSE(data.DeleteChain(0, message));
    EXPECT_EQ(message, "The action chain cannot be deleted because it is used in a camera definition.");
    EXPECT_TRUE(data.DeleteChain(1, message));
    EXPECT_FALSE(data.DeleteChain(1, message)) << "already gone";
}

TEST_F(TavrixDocTest, ActivateChainLogsAndRunsTheBoundChain) {
    CTavrixDoc doc;
    ASSERT_TRUE(doc.OnNewDocument(Path("Office.tvrx")));
    doc.Edit([](CTavrixDocData& d) {
        d.m_cameras.Find(0)->m_camName = "Door";
        CSEventActionChain* empty = d.AddChain(); // id 0
        empty->SetName("Quiet");
        CSEventActionChain* sound = d.AddChain(); // id 1
        sound->SetName("Siren");
        sound->AddAction(std::make_unique<CSEA_PlaySnd>());
        d.m_cameras.Find(0)->SetChainId(EventKind::Deactivate, 0);
        d.m_cameras.Find(0)->SetChainId(EventKind::RecordFinish, 1);
        d.m_cameras.Find(0)->SetChainId(EventKind::ErrorOccurred, 55); // names no chain
    });

    EXPECT_TRUE(doc.ActivateChain(0, EventKind::MotionStart)) << "-1: nothing to run";
    EXPECT_TRUE(doc.ActivateChain(0, 9)) << "no such event kind";
    EXPECT_TRUE(doc.ActivateChain(7, EventKind::Deactivate)) << "no such camera";
    EXPECT_TRUE(Log().empty());

    EXPECT_TRUE(doc.ActivateChain(0, EventKind::Deactivate));
    EXPECT_EQ(Log(), std::vector<std::string>{"Office|Door|Activate chain 'Quiet' for event 'Deacticvate'"});

    CSEventRecord record;
    record.fileName = "/rec/Door.avi";
    EXPECT_FALSE(doc.ActivateChain(0, EventKind::RecordFinish, record)) << "the sound action fails here";
    EXPECT_EQ(record.document, &doc);
    EXPECT_EQ(record.cameraId, 0);
    EXPECT_EQ(record.kind, EventKind::RecordFinish);
    EXPECT_EQ(record.fileName, "/rec/Door.avi");
    EXPECT_NEAR(static_cast<double>(record.time), static_cast<double>(std::time(nullptr)), 5.0);
    EXPECT_EQ(record.GetDocumentTitle(), "Office");
    EXPECT_EQ(record.GetCameraName(), "Door");
    const auto log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], "Office|Door|Activate chain 'Siren' for event 'Record Finish'");
    EXPECT_EQ(log[2].rfind("Office|Door|Play Sound Event Action: ", 0), 0u);

    EXPECT_FALSE(doc.ActivateChain(0, EventKind::ErrorOccurred));
    EXPECT_EQ(Log().back(), "Office|Door|Unable to activate chain 55 for event 'Error Occurred': the "
                            "document holds no such chain");
}

TEST_F(TavrixDocTest, WorkersReadWhileTheUserEditsAndSaves) {
    CTavrixDoc doc;
    ASSERT_TRUE(doc.OnNewDocument(Path("Busy.tvrx")));
    doc.Edit([](CTavrixDocData& d) {
        d.AddChain();
        d.m_cameras.Find(0)->SetChainId(EventKind::MotionStart, 0);
    });
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t) {
        workers.emplace_back([&] {
            while (!stop.load()) {
                doc.ActivateChain(0, EventKind::MotionStart);
                if (auto camera = doc.FindCamera(0)) {
                    EXPECT_FALSE(camera->m_camName.empty());
                }
                reads.fetch_add(1);
            }
        });
    }
    for (int i = 0; i < 30; ++i) {
        CTavrixDocData copy = doc.GetData();
        copy.m_cameras.Find(0)->m_camName = "Cam" + std::to_string(i);
        doc.SetData(copy);
        ASSERT_TRUE(doc.OnSaveDocument());
    }
    while (reads.load() < 30) {
        std::this_thread::yield();
    }
    stop = true;
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(doc.FindCamera(0)->m_camName, "Cam29");
}
