// Start-up and shutdown of the application without windows, and its broadcasts to every open
// document's view.

#include "actions/CSEA_InvokeCommand.h"
#include "app/ServiceNotifier.h"
#include "app/TavrixAppCore.h"
#include "camera/tests/PrivateXdgFolders.h"
#include "persistence/ConfigMgrImpl.h"
#include "persistence/NotificationLog.h"
#include "persistence/TavrixDoc.h"
#include "persistence/UserDbMgrImpl.h"
#include "persistence/sqlite3x.h"
#include "recording/tests/GstTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

namespace {

class AppCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_PIPELINE_TEST_UNDER_TSAN();
        gsttest::StartGStreamer();
        CNotificationLog::Instance().Clear();
        char folder[] = "/tmp/tavrix-appcore-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        m_folder = folder;
    }
    void TearDown() override {
        CNotificationLog::Instance().Clear();
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    static std::vector<std::string> Texts() {
        std::vector<std::string> texts;
        for (const CLogEntry& entry : CNotificationLog::Instance().GetEntries()) {
            texts.push_back(entry.text);
        }
        return texts;
    }
    static size_t IndexOf(const std::vector<std::string>& texts, const std::string& text) {
        return static_cast<size_t>(std::find(texts.begin(), texts.end(), text) - texts.begin());
    }
    // Unattended, without the lock monitor and the device watch.
    static CTavrixAppCore::COptions QuietOptions() {
        CTavrixAppCore::COptions options;
        options.unattended = true;
        options.monitorLock = false;
        options.watchDevices = false;
        return options;
    }
    // A document with a test camera that follows the workstation lock.
    std::string LockDocument(const std::string& name) {
        const std::string path = m_folder + "/" + name + ".tvrx";
        CTavrixDoc document;
        EXPECT_TRUE(document.OnNewDocument(path));
        document.Edit([this](CTavrixDocData& data) {
            data.m_commonFilePath = m_folder;
            CCamera* camera = data.m_cameras.Find(0);
            camera->m_videoDeviceDN = "test:smpte";
            camera->m_videoSizeCx = 160;
            camera->m_videoSizeCy = 120;
            camera->m_fps = 10;
            camera->m_activateOnWindowsLock = true;
        });
        EXPECT_TRUE(document.OnSaveDocument());
        return path;
    }
    std::string m_folder;
};

TEST_F(AppCoreTest, StartupAndShutdownRunInOrderAndKeepTheLog) {
    CMessageDispatcher dispatcher;
    CTavrixAppCore app(dispatcher);
    CTavrixAppCore::COptions options;
    options.tracingStarted = true;
    options.unattended = true;
    ASSERT_TRUE(app.InitInstance(options));
    EXPECT_TRUE(CConfigMgrImpl::Instance().GetNotificationSettings().GetUnattendedMode());
    EXPECT_TRUE(app.HasCaptureDevice()) << "the test pictures are always there";
    std::vector<std::string> texts = Texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Tavrix started");
    EXPECT_EQ(texts[1], "Trace facility started.");
    EXPECT_LT(IndexOf(texts, "Device 'Test picture: colour bars' has been added to the system."),
              texts.size());

    app.ExitInstance();
    texts = Texts();
    EXPECT_EQ(texts.back(), "Tavrix stopped");
    app.ExitInstance(); // once only
    EXPECT_EQ(Texts().size(), texts.size());
    // The log went into the user database and the settings into their file, the user's own
    // unattended setting unchanged.
    sqlite3x::sqlite3_connection database(CNotificationSettings::DefaultUserDbPath());
    EXPECT_EQ(database.executeint("select count(*) from t_log_entry;"), static_cast<int>(texts.size()));
    EXPECT_FALSE(CConfigMgrImpl::Instance().GetNotificationSettings().GetUnattendedMode());
    EXPECT_TRUE(std::filesystem::exists(CConfigMgrImpl::Instance().GetSettingsPath()));
}

TEST_F(AppCoreTest, WithoutItsUserDatabaseTheApplicationRunsAndSaysItKeepsNoLog) {
    CNotificationSettings settings = CConfigMgrImpl::Instance().GetNotificationSettings();
    const std::string savedPath = settings.GetUserDbPath();
    std::ofstream(m_folder + "/file") << "x";
    settings.SetUserDbPath(m_folder + "/file/Tavrix.db"); // under a file: cannot be created
    CConfigMgrImpl::Instance().SetNotificationSettings(settings);
    CConfigMgrImpl::Instance().SaveAll();

    CMessageDispatcher dispatcher;
    CTavrixAppCore app(dispatcher);
    CTavrixAppCore::COptions options;
    options.unattended = true;
    ASSERT_TRUE(app.InitInstance(options));
    const std::vector<std::string> texts = Texts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[0].rfind("CUserDbMgrImpl::Open", 0), 0u) << texts[0];
    EXPECT_EQ(texts[1], CTavrixAppCore::kUserDbUnavailableText);
    EXPECT_EQ(texts[2], "Tavrix started");
    EXPECT_EQ(IndexOf(texts, "Trace facility started."), texts.size()) << "tracing was off";
    app.ExitInstance();
    EXPECT_EQ(Texts().back(), "Tavrix stopped");

    settings.SetUserDbPath(savedPath);
    CConfigMgrImpl::Instance().SetNotificationSettings(settings);
    CConfigMgrImpl::Instance().SaveAll();
}

TEST_F(AppCoreTest, LockAndActivationReachEveryCameraOfEveryDocument) {
    const std::string first = LockDocument("First");
    const std::string second = LockDocument("Second");
    CMessageDispatcher dispatcher;
    CTavrixAppCore app(dispatcher);
    ASSERT_TRUE(app.InitInstance(QuietOptions()));
    EXPECT_EQ(app.OpenDocument(m_folder + "/missing.tvrx"), nullptr);
    EXPECT_FALSE(std::filesystem::exists(m_folder + "/missing.tvrx"))
        << "no file is created for a wrong name";
    EXPECT_EQ(app.OpenDocument(m_folder), nullptr);
    ASSERT_NE(app.OpenDocument(first), nullptr);
    ASSERT_NE(app.OpenDocument(second), nullptr);
    const std::vector<CTavrixViewCore*> views = app.GetViews();
    ASSERT_EQ(views.size(), 2u);
    const auto states = [&views] {
        return std::vector<int32_t>{views[0]->FindCameraView(0)->GetState(),
                                    views[1]->FindCameraView(0)->GetState()};
    };
    const std::vector<int32_t> inactive{CCamViewStateMgr::kInactive, CCamViewStateMgr::kInactive};
    const std::vector<int32_t> idle{CCamViewStateMgr::kIdle, CCamViewStateMgr::kIdle};
    EXPECT_EQ(states(), inactive);
    app.OnLockMessage(1);
    EXPECT_EQ(states(), idle);
    app.OnLockMessage(3);
    app.OnLockMessage(0);
    EXPECT_EQ(states(), idle) << "other wParams change nothing";
    app.OnLockMessage(2);
    EXPECT_EQ(states(), inactive);
    app.ActivateAllCameras();
    EXPECT_EQ(states(), idle);
    app.DeactivateAllCameras();
    EXPECT_EQ(states(), inactive);

    const std::vector<std::string> texts = Texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Windows locked."), 2);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Windows unlocked."), 2);
    app.CloseDocument(views[0]);
    EXPECT_EQ(app.GetViews().size(), 1u);
    // A new document (File New) joins the broadcasts as well.
    auto created = std::make_unique<CTavrixDoc>();
    ASSERT_TRUE(created->OnNewDocument(m_folder + "/Third.tvrx"));
    created->Edit([](CTavrixDocData& data) { data.m_cameras.Find(0)->m_videoDeviceDN = "test:ball"; });
    CTavrixViewCore* third = app.AddDocument(std::move(created));
    ASSERT_NE(third, nullptr);
    app.ActivateAllCameras();
    EXPECT_EQ(third->FindCameraView(0)->GetState(), CCamViewStateMgr::kIdle);
    EXPECT_EQ(app.AddDocument(nullptr), nullptr);
    app.ExitInstance();
    const std::vector<std::string> after = Texts();
    EXPECT_EQ(std::count(after.begin(), after.end(), "Document closed"), 3);
    EXPECT_EQ(after.back(), "Tavrix stopped");
}

TEST_F(AppCoreTest, TheWatchdogNeverTakesAReopenedDocumentsCameraForTheClosedOne) {
    // A reload closes a document and opens it again at once: the new view often gets the closed
    // one's address. Its camera must still count as new, or a frame count that happens to equal
    // the closed camera's last one reads as a stalled camera.
    const std::string path = LockDocument("Reopened");
    CMessageDispatcher dispatcher;
    CTavrixAppCore app(dispatcher);
    ASSERT_TRUE(app.InitInstance(QuietOptions()));
    CAppFrameProgress progress(app);
    std::vector<std::string> keys;
    for (int round = 0; round < 4; ++round) {
        CTavrixViewCore* view = app.OpenDocument(path);
        ASSERT_NE(view, nullptr);
        view->OnUpdate(ViewHint::kActivateAll);
        const std::vector<IFrameProgress::CCamera> cameras = progress.SampleFrames();
        ASSERT_EQ(cameras.size(), 1u);
        keys.push_back(cameras[0].key);
        app.CloseDocument(view);
        EXPECT_TRUE(progress.SampleFrames().empty());
    }
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), keys.size())
        << ::testing::PrintToString(keys);
    app.ExitInstance();
}

TEST_F(AppCoreTest, ADocumentsProgramsAreCheckedBeforeItRunsAndLoggedWithoutACheck) {
    // A camera switched on at opening, whose Activate chain touches a marker file.
    const std::string path = LockDocument("Programs");
    const std::string marker = m_folder + "/ran";
    {
        CTavrixDoc document;
        ASSERT_TRUE(document.OnOpenDocument(path));
        document.Edit([&marker](CTavrixDocData& data) {
            data.m_activateAtStartup = true;
            CSEventActionChain* chain = data.AddChain();
            chain->SetName("Alarm");
            auto action = std::make_unique<CSEA_InvokeCommand>();
            action->SetStringProp("Command", "/usr/bin/touch");
            action->SetStringProp("Parameters", marker);
            chain->AddAction(std::move(action));
            data.m_cameras.Find(0)->SetChainId(1, chain->GetId());
        });
        ASSERT_TRUE(document.OnSaveDocument());
    }
    CMessageDispatcher dispatcher;
    CTavrixAppCore app(dispatcher);
    ASSERT_TRUE(app.InitInstance(QuietOptions()));

    // The log holds the entries of earlier runs too (kept in the user database): only what
    // follows counts.
    const auto since = [](size_t first) {
        std::vector<std::string> texts = Texts();
        texts.erase(texts.begin(),
                    texts.begin() + static_cast<std::ptrdiff_t>(std::min(first, texts.size())));
        return texts;
    };
    size_t first = Texts().size();

    // A check that refuses: the document neither opens nor runs anything.
    std::vector<CChainProgram> shown;
    app.SetProgramsCheck([&shown](const CTavrixDoc&, const std::vector<CChainProgram>& programs) {
        shown = programs;
        return false;
    });
    EXPECT_EQ(app.OpenDocument(path), nullptr);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].command, "/usr/bin/touch");
    EXPECT_TRUE(app.GetViews().empty());
    std::vector<std::string> texts = since(first);
    EXPECT_EQ(IndexOf(texts, "Document opened"), texts.size());
    EXPECT_LT(IndexOf(texts, CTavrixAppCore::kProgramsRefusedText), texts.size());

    // Without a check (the headless shell) each program is logged before the document runs.
    app.SetProgramsCheck({});
    first = Texts().size();
    ASSERT_NE(app.OpenDocument(path), nullptr);
    texts = since(first);
    const size_t logged =
        IndexOf(texts, "Event 'Activate' starts the program '/usr/bin/touch' with the parameters '" + marker +
                           "' (chain 'Alarm')");
    ASSERT_LT(logged, texts.size());
    EXPECT_LT(logged, IndexOf(texts, "Document opened"));
    for (int i = 0; i < 200 && !std::filesystem::exists(marker); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(std::filesystem::exists(marker)) << "the program ran";
    app.ExitInstance();
}

TEST(AppCoreVersionTest, TheRefusalNamesTheInstalledVersion) {
    EXPECT_EQ(
        CTavrixAppCore::VersionMessage("1.18"),
        "This application needs at least DirectX 9.0 (installed: 1.18). Please install prior using this "
        "application !");
    EXPECT_EQ(CTavrixAppCore::kMinimumGStreamerVersion, 0x11400u);
    EXPECT_EQ(CTavrixAppCore::VersionMessage(std::string(30, '9')).find(std::string(21, '9')),
              std::string::npos);
}

} // namespace
