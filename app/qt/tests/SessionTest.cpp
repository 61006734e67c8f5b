// Coming back as it was left: the session kept in the settings file (documents, placement, active
// cameras, main window), restoring it over the real application core, the reopen option, and the
// XDG autostart entry of "Start Tavrix when I log in".

#include "app/qt/CameraWindow.h"
#include "app/qt/OptionsDlg.h"
#include "app/qt/SessionState.h"
#include "app/qt/TavrixView.h"
#include "app/qt/tests/MainFrameFixture.h"
#include "platform/SettingsFile.h"

#include <QCheckBox>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using tavrixtest::WaitUntil;
using SessionTest = tavrixtest::MainFrameFixture;

TEST(SessionState, KeepsDocumentsPlacementAndActiveCamerasBesideTheOtherGroups) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("Tavrix.conf").toStdString();
    {
        platform::CSettingsFile file(path);
        ASSERT_TRUE(file.Load());
        file.WriteString("Recent File List", "File1", "/keep/me.tvrx");
        ASSERT_TRUE(file.Save());
    }
    EXPECT_TRUE(CSessionState::ReopenDocuments(path)) << "on by default";
    EXPECT_TRUE(CSessionState::Load(path).documents.empty());

    CSessionState session;
    session.mainWindowGeometry = QByteArray("\x01\x02geometry\xff", 11);
    session.documents.push_back({"/docs/a b.tvrx", QRect(10, 20, 300, 200), false, {0, 3}});
    session.documents.push_back({"/docs/two.tvrx", QRect(), true, {}});
    ASSERT_TRUE(session.Save(path));
    CSessionState loaded = CSessionState::Load(path);
    EXPECT_EQ(loaded.mainWindowGeometry, session.mainWindowGeometry);
    EXPECT_EQ(loaded.documents, session.documents);

    // A shorter session leaves nothing of the longer one behind.
    session.documents.pop_back();
    ASSERT_TRUE(session.Save(path));
    EXPECT_EQ(CSessionState::Load(path).documents, session.documents);

    ASSERT_TRUE(CSessionState::SetReopenDocuments(path, false));
    EXPECT_FALSE(CSessionState::ReopenDocuments(path));
    platform::CSettingsFile file(path);
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(file.ReadString("Recent File List", "File1"), "/keep/me.tvrx");

    // A damaged entry is skipped, not trusted.
    file.WriteString(CSessionState::kGroup, "Document1Placement", "a,b");
    file.WriteString(CSessionState::kGroup, "Document1ActiveCameras", "1,x,-4,2");
    ASSERT_TRUE(file.Save());
    loaded = CSessionState::Load(path);
    ASSERT_EQ(loaded.documents.size(), 1u);
    EXPECT_TRUE(loaded.documents[0].maximized);
    EXPECT_EQ(loaded.documents[0].activeCameras, (std::vector<int32_t>{1, 2}));
}

TEST_F(SessionTest, DocumentsAndTheCamerasThatWatchedComeBackAfterARestart) {
    const QString first = QString::fromStdString(MakeDocument("first.tvrx", {"test:smpte", "test:smpte"}));
    const QString second = QString::fromStdString(MakeDocument("second.tvrx", {"test:smpte"}));
    CTavrixView* one = m_frame->OpenDocument(first);
    CTavrixView* two = m_frame->OpenDocument(second);
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);
    one->FindCameraWindow(1)->ActivateButton()->click();
    QMdiSubWindow* twoWindow = m_frame->MdiArea()->subWindowList().at(1);
    twoWindow->showNormal();
    twoWindow->setGeometry(30, 40, 420, 330);

    const CSessionState session = m_frame->CaptureSession();
    ASSERT_EQ(session.documents.size(), 2u);
    EXPECT_EQ(session.documents[0].path, QFileInfo(first).absoluteFilePath());
    EXPECT_EQ(session.documents[0].activeCameras, std::vector<int32_t>{1});
    EXPECT_FALSE(session.documents[1].maximized);
    EXPECT_EQ(session.documents[1].placement, QRect(30, 40, 420, 330));
    EXPECT_TRUE(session.documents[1].activeCameras.empty());

    // Kept in the settings file, all documents closed, then brought back as a start would.
    const std::string settings = m_dir.filePath("session.conf").toStdString();
    ASSERT_TRUE(session.Save(settings));
    ASSERT_TRUE(m_frame->CloseAllDocuments(false));
    const QString gone = m_dir.filePath("gone.tvrx");
    CSessionState restored = CSessionState::Load(settings);
    restored.documents.push_back({gone, QRect(), true, {0}});
    EXPECT_EQ(m_frame->RestoreSession(restored), 2);

    const std::vector<CTavrixView*> views = m_frame->Views();
    ASSERT_EQ(views.size(), 2u);
    CTavrixView* back =
        views[0]->windowFilePath() == QFileInfo(first).absoluteFilePath() ? views[0] : views[1];
    CTavrixView* other = back == views[0] ? views[1] : views[0];
    EXPECT_FALSE(back->Core()->FindCameraView(0)->IsActivated());
    EXPECT_TRUE(back->Core()->FindCameraView(1)->IsActivated()) << "it watched at exit";
    EXPECT_TRUE(
        WaitUntil([back] { return back->FindCameraWindow(1)->ActivateButton()->text() == "Deactivate"; }));
    EXPECT_FALSE(other->Core()->FindCameraView(0)->IsActivated());
    QMdiSubWindow* otherWindow = nullptr;
    for (QMdiSubWindow* sub : m_frame->MdiArea()->subWindowList()) {
        if (sub->widget() == other) {
            otherWindow = sub;
        }
    }
    ASSERT_NE(otherWindow, nullptr);
    EXPECT_FALSE(otherWindow->isMaximized());
    EXPECT_EQ(otherWindow->geometry(), QRect(30, 40, 420, 330));
    EXPECT_TRUE(Logged("The document '" + gone.toStdString() +
                       "' that was open at exit no longer exists; it was not reopened."));
}

TEST(Autostart, OptionsWriteAndRemoveTheXdgEntry) {
    QTemporaryDir dir;
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    EXPECT_EQ(Autostart::EntryPath(), dir.path() + "/autostart/tavrix.desktop");
    EXPECT_FALSE(Autostart::IsEnabled());
    ASSERT_TRUE(Autostart::SetEnabled(true, "/opt/my \"tavrix\"/bin/tavrix"));
    EXPECT_TRUE(Autostart::IsEnabled());
    QFile entry(Autostart::EntryPath());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("Type=Application\n"));
    EXPECT_TRUE(text.contains("Exec=\"/opt/my \\\"tavrix\\\"/bin/tavrix\"\n")) << text.toStdString();

    // The Options dialog shows the entry and removes it when unticked.
    {
        CConfigMgrImpl config(dir.filePath("options.conf").toStdString());
        COptionsDlg dialog(config);
        EXPECT_TRUE(dialog.StartupOptions()->AutostartField()->isChecked());
        EXPECT_TRUE(dialog.StartupOptions()->ReopenField()->isChecked());
        dialog.StartupOptions()->AutostartField()->setChecked(false);
        QString message;
        EXPECT_TRUE(dialog.StartupOptions()->Store(message)) << message.toStdString();
    }
    EXPECT_FALSE(QFile::exists(Autostart::EntryPath()));
    EXPECT_TRUE(Autostart::SetEnabled(false, QString())) << "nothing to remove is no failure";
    if (old.isEmpty()) {
        qunsetenv("XDG_CONFIG_HOME");
    } else {
        qputenv("XDG_CONFIG_HOME", old);
    }
}

} // namespace
