// The main frame over the real application core: the File New flow (name first, the "Default"
// camera's sheet, Cancel leaves nothing), opening with its error messages and the newer-version
// refusal, Save As, closing with the save prompt, live camera windows with their titles and the
// "Activate" button, snapshots for the mask editor, the notifications list on 2024, the
// "System Info" command, the minimise modes, the event boundary and the recent files.

#include "app/qt/MainFrame.h"
#include "app/TavrixAppCore.h"
#include "app/qt/CameraPropertySheet.h"
#include "app/qt/CameraWindow.h"
#include "app/qt/DispatcherBridge.h"
#include "app/qt/GlobalHotKey.h"
#include "app/qt/NotifyBar.h"
#include "app/qt/NotifyListModel.h"
#include "app/qt/PropGeneralDlg.h"
#include "app/qt/RecentFileList.h"
#include "app/qt/TavrixView.h"
#include "app/qt/UiMessages.h"
#include "app/qt/VideoWidget.h"
#include "app/qt/tests/MainFrameFixture.h"
#include "foundation/ErrorReport.h"
#include "foundation/SystemInfo.h"
#include "persistence/ConfigMgrImpl.h"
#include "persistence/NotificationLog.h"
#include "persistence/TavrixDoc.h"
#include "persistence/sqlite3x.h"
#include "platform/SettingsFile.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

using tavrixtest::AnswerSheet;
using tavrixtest::MessageBoxes;
using tavrixtest::WaitUntil;
using MainFrameTest = tavrixtest::MainFrameFixture;

TEST_F(MainFrameTest, FileNewCancelledLeavesNoDocumentAndNoFile) {
    EXPECT_TRUE(m_frame->NewAction()->isEnabled()) << "the test pictures are capture devices";
    const QString path = m_dir.filePath("new.tvrx");
    AnswerSheet(false);
    EXPECT_EQ(m_frame->FileNewNamed(path), nullptr);
    EXPECT_TRUE(m_frame->Views().empty());
    EXPECT_TRUE(m_core.GetViews().empty());
    EXPECT_FALSE(QFileInfo::exists(path)) << "the file this command created is removed again";
    EXPECT_TRUE(m_recent->Files().isEmpty());
}

TEST_F(MainFrameTest, FileNewWithOkShowsTheDefaultCameraLive) {
    const QString path = m_dir.filePath("fresh.tvrx");
    AnswerSheet(true);
    CTavrixView* view = m_frame->FileNewNamed(path);
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(view->CameraWindows().size(), 1u);
    CTavrixDoc* document = view->Document();
    EXPECT_TRUE(document->IsModified());
    EXPECT_EQ(document->GetCameraName(0), "Default");
    EXPECT_FALSE(document->FindCamera(0)->m_videoDeviceDN.empty()) << "the video page chose a device";
    EXPECT_EQ(m_recent->Files().value(0), QFileInfo(path).absoluteFilePath());
    EXPECT_TRUE(Logged("Document opened"));
    CCameraWindow* window = view->CameraWindows()[0];
    EXPECT_TRUE(WaitUntil([window] { return window->TitleLabel()->text() == "Default - Inactive"; }))
        << window->TitleLabel()->text().toStdString();
    EXPECT_TRUE(WaitUntil([window] { return window->Video()->FramesShown() > 0; }));
    // Closing asks to save the new document; "No" closes without saving.
    EXPECT_TRUE(m_frame->CloseDocument(view));
    ASSERT_EQ(m_questions.size(), 1);
    EXPECT_EQ(m_questions[0], "Save changes to fresh?");
    EXPECT_TRUE(Logged("Document closed"));
}

TEST_F(MainFrameTest, LiveCamerasFollowTheActivateButtonAndTheBroadcasts) {
    CTavrixView* view = m_frame->OpenDocument(
        QString::fromStdString(MakeDocument("two.tvrx", {"test:motion", "test:motion"})));
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(view->CameraWindows().size(), 2u);
    CCameraWindow* first = view->FindCameraWindow(0);
    CCameraWindow* second = view->FindCameraWindow(1);
    const auto titled = [](CCameraWindow* window, const QString& title) {
        return WaitUntil([window, title] { return window->TitleLabel()->text() == title; });
    };
    EXPECT_TRUE(titled(first, "Default - Inactive")) << first->TitleLabel()->text().toStdString();
    EXPECT_TRUE(
        WaitUntil([&] { return first->Video()->FramesShown() > 2 && second->Video()->FramesShown() > 2; }));
    EXPECT_EQ(first->Video()->CurrentFrame().size(), QSize(160, 120));

    first->ActivateButton()->click();
    // Still pictures: no motion, so an active camera is Idle.
    EXPECT_TRUE(titled(first, "Default - Idle")) << first->TitleLabel()->text().toStdString();
    EXPECT_TRUE(titled(second, "Camera_1 - Inactive"));
    m_core.ActivateAllCameras();
    EXPECT_TRUE(titled(second, "Camera_1 - Idle"));
    m_core.DeactivateAllCameras();
    EXPECT_TRUE(titled(first, "Default - Inactive"));
    EXPECT_TRUE(titled(second, "Camera_1 - Inactive"));
}

TEST_F(MainFrameTest, SnapshotForTheMaskEditorComesFromThePoolWithoutBlocking) {
    CTavrixView* view =
        m_frame->OpenDocument(QString::fromStdString(MakeDocument("snap.tvrx", {"test:smpte"})));
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(WaitUntil([view] { return view->FindCameraWindow(0)->Video()->FramesShown() > 0; }));
    std::optional<QImage> picture;
    bool answered = false;
    view->RequestSnapshot(0, [&](std::optional<QImage> image) {
        picture = std::move(image);
        answered = true;
    });
    EXPECT_FALSE(answered) << "the answer comes later, on the GUI thread";
    ASSERT_TRUE(WaitUntil([&] { return answered; }));
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(picture->size(), QSize(160, 120));

    // A camera that does not exist answers with nothing.
    answered = false;
    view->RequestSnapshot(7, [&](std::optional<QImage> image) {
        picture = std::move(image);
        answered = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return answered; }));
    EXPECT_FALSE(picture.has_value());

    // The document closes while a snapshot waits: the answer is dropped, nothing breaks.
    view->RequestSnapshot(0, [](std::optional<QImage>) {});
    EXPECT_TRUE(m_frame->CloseDocument(view));
    QApplication::processEvents();
}

TEST_F(MainFrameTest, OpeningErrorsAreShownAndOpenNothing) {
    MessageBoxes boxes;
    const QString garbage = m_dir.filePath("garbage.tvrx");
    {
        QFile file(garbage);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("this is no database, just text that is long enough to look like a file header......");
    }
    EXPECT_EQ(m_frame->OpenDocument(garbage), nullptr);
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0].rfind("An error occurred during opening the document: '", 0), 0u)
        << boxes.texts[0];

    // A document of a newer version is refused and left as it is.
    const std::string newer = MakeDocument("newer.tvrx", {"test:smpte"});
    {
        sqlite3x::sqlite3_connection connection(newer);
        connection.executenonquery("update t_tavrixdoc_schema set version=2");
    }
    EXPECT_EQ(m_frame->OpenDocument(QString::fromStdString(newer)), nullptr);
    ASSERT_EQ(boxes.texts.size(), 2u);
    EXPECT_EQ(boxes.texts[1], "The format of the file is more recent than this application. Please use a new "
                              "version of Tavrix.");
    EXPECT_TRUE(m_frame->Views().empty());
    EXPECT_TRUE(m_recent->Files().isEmpty());
}

TEST_F(MainFrameTest, SaveAsContinuesOnTheNewFileAndKeepsTheOldOne) {
    const std::string original = MakeDocument("original.tvrx", {"test:smpte"});
    CTavrixView* view = m_frame->OpenDocument(QString::fromStdString(original));
    ASSERT_NE(view, nullptr);
    view->Document()->Edit([](CTavrixDocData& data) { data.m_cameras.Find(0)->m_camName = "Renamed"; });
    const QString copy = m_dir.filePath("copy.tvrx");
    ASSERT_TRUE(m_frame->SaveDocumentAs(view, copy));
    EXPECT_EQ(view->windowTitle(), "copy[*]");
    EXPECT_FALSE(view->Document()->IsModified());
    EXPECT_EQ(m_recent->Files().value(0), copy);
    // The old file keeps what it had; the new one has the change.
    CTavrixDoc old;
    ASSERT_TRUE(old.OnOpenDocument(original));
    EXPECT_EQ(old.GetCameraName(0), "Default");
    CTavrixDoc saved;
    ASSERT_TRUE(saved.OnOpenDocument(copy.toStdString()));
    EXPECT_EQ(saved.GetCameraName(0), "Renamed");
    // Opening a document that is open already brings its window forward.
    EXPECT_EQ(m_frame->OpenDocument(copy), view);
    EXPECT_EQ(m_frame->Views().size(), 1u);
}

TEST_F(MainFrameTest, NotificationListFollowsEveryChangeMessage) {
    CNotifyListModel* model = m_frame->NotifyBar()->Model();
    CNotificationLog::Instance().AddEntry("Doc", "Cam", "first entry");
    ASSERT_TRUE(WaitUntil([model] { return model->rowCount() == CNotificationLog::Instance().GetCount(); }));
    // Entries from a worker thread arrive through the dispatcher too.
    std::thread worker([] {
        for (int i = 0; i < 50; ++i) {
            CNotificationLog::Instance().AddEntry("", "", "from a worker " + std::to_string(i));
        }
    });
    worker.join();
    ASSERT_TRUE(WaitUntil([model] { return model->rowCount() == CNotificationLog::Instance().GetCount(); }));
    const int last = model->rowCount() - 1;
    EXPECT_EQ(model->data(model->index(last, CNotifyListModel::kInformation)).toString(), "from a worker 49");
}

TEST_F(MainFrameTest, SystemInfoIsCopiedToTheClipboard) {
    QSignalSpy finished(m_frame.get(), SIGNAL(SystemInfoFinished(QString)));
    m_frame->CopySystemInfo();
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_EQ(finished.at(0).at(0).toString(), CSystemInfo::kClipboardCopied);
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith("Tavrix System Information"));
    EXPECT_TRUE(m_questions.contains(CSystemInfo::kClipboardCopied));
}

TEST_F(MainFrameTest, MinimiseModesNeverLoseTheWindowAndTheRestoreShowsIt) {
    CConfigMgrImpl& config = CConfigMgrImpl::Instance();
    CMiscSettings misc = config.GetMiscSettings();
    // No hot key can be grabbed here (no X11) and there is no tray: hiding (2) and the tray (1)
    // would leave no way back, so every mode keeps the window, also at a minimised start-up.
    for (int32_t mode : {0, 1, 2}) {
        misc.SetMinimizeMode(mode);
        config.SetMiscSettings(misc);
        m_frame->show();
        m_frame->ApplyMinimizeMode();
        EXPECT_TRUE(m_frame->isVisible()) << "mode " << mode;
        m_frame->hide();
        m_frame->ShowAtStartup(true);
        EXPECT_TRUE(m_frame->isVisible()) << "mode " << mode;
    }
    m_frame->hide();
    m_frame->RestoreWindow();
    EXPECT_TRUE(m_frame->isVisible());
    m_frame->hide();
    m_frame->ShowAtStartup(false);
    EXPECT_TRUE(m_frame->isVisible());
    misc.SetMinimizeMode(0);
    config.SetMiscSettings(misc);
}

TEST_F(MainFrameTest, WithoutAnX11DisplayTheHotKeySaysOnceThatItCannotGrab) {
    EXPECT_FALSE(CGlobalHotKey::PlatformCanGrab()) << "offscreen platform";
    CNotificationLog::Instance().Clear();
    CGlobalHotKey first;
    CGlobalHotKey second;
    EXPECT_FALSE(first.Register(CHotKey(67, 7)));
    EXPECT_FALSE(second.Register(CHotKey(68, 7)));
    int lines = 0;
    for (const std::string& text : LogTexts()) {
        lines += text.find("global hot key") != std::string::npos ? 1 : 0;
    }
    EXPECT_LE(lines, 1) << "at most once per run";
}

// An object whose event handler fails the way a command handler may.
class FailingHandler : public QObject {
protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            THROW_GENERAL("A command failed.");
        }
        return QObject::event(event);
    }
};

TEST(TavrixApp, ExceptionsEscapingAnEventHandlerAreReportedAndTheLoopGoesOn) {
    MessageBoxes boxes;
    CNotificationLog::Instance().Clear();
    FailingHandler handler;
    QCoreApplication::postEvent(&handler, new QEvent(QEvent::User));
    QApplication::processEvents();
    const auto entries = CNotificationLog::Instance().GetEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].text, "A command failed.");
    EXPECT_EQ(entries[0].docName, "");
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], "dialog: A command failed.");
    // Events keep flowing.
    bool ran = false;
    QMetaObject::invokeMethod(
        qApp, [&ran] { ran = true; }, Qt::QueuedConnection);
    QApplication::processEvents();
    EXPECT_TRUE(ran);
}

TEST(RecentFileList, KeepsFourNewestFirstInTheSettingsFileBesideOtherGroups) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("Tavrix.conf").toStdString();
    {
        platform::CSettingsFile file(path);
        file.Load();
        file.WriteDword("MiscSettings", "MiminizeMode", 2);
        ASSERT_TRUE(file.Save());
    }
    CRecentFileList list(path);
    for (const char* name : {"/a.tvrx", "/b.tvrx", "/c.tvrx", "/d.tvrx", "/e.tvrx", "/c.tvrx"}) {
        list.Add(name);
    }
    EXPECT_EQ(list.Files(), (QStringList{"/c.tvrx", "/e.tvrx", "/d.tvrx", "/b.tvrx"}));
    ASSERT_TRUE(list.Save());
    CRecentFileList loaded(path);
    loaded.Load();
    EXPECT_EQ(loaded.Files(), list.Files());
    platform::CSettingsFile file(path);
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(file.ReadDword("MiscSettings", "MiminizeMode"), 2u);
    EXPECT_EQ(file.ReadString("Recent File List", "File1"), "/c.tvrx");
    loaded.Remove("/e.tvrx");
    EXPECT_EQ(loaded.Files().size(), 3);
}

} // namespace
