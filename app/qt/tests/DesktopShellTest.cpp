// What the desktop promises its user around documents and cameras: File New names a new document
// ("New document", "Create") and asks before it replaces an existing file, each camera's button
// says what it will do, the keys of File Close and Full Screen work with a camera in focus, and a
// machine without a display is told so before Qt starts.

#include "app/qt/CameraWindow.h"
#include "app/qt/TavrixApp.h"
#include "app/qt/TavrixView.h"
#include "app/qt/tests/MainFrameFixture.h"

#include <QFileDialog>
#include <QLabel>
#include <QMdiArea>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <map>

namespace {

using tavrixtest::MessageBoxes;
using tavrixtest::WaitUntil;
using DesktopShellTest = tavrixtest::MainFrameFixture;

// Runs File New on a name where no camera sheet is expected; a sheet that comes up all the same
// is rejected, so that the test fails on its expectations instead of waiting for a user.
CTavrixView* FileNewWithoutSheet(CMainFrame& frame, const QString& path) {
    bool rejected = false;
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&rejected] {
        if (auto* sheet = qobject_cast<CCameraPropertySheet*>(QApplication::activeModalWidget())) {
            rejected = true;
            sheet->reject();
        }
    });
    timer.start();
    CTavrixView* view = frame.FileNewNamed(path);
    EXPECT_FALSE(rejected) << "no camera sheet was expected";
    return view;
}

TEST_F(DesktopShellTest, FileNewAsksForTheNewDocumentsNameWithCreate) {
    QString title;
    QString accept;
    bool sawDialog = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        sawDialog = true;
        title = dialog->windowTitle();
        accept = dialog->labelText(QFileDialog::Accept);
        dialog->reject();
    });
    EXPECT_EQ(m_frame->FileNew(), nullptr);
    ASSERT_TRUE(sawDialog);
    EXPECT_EQ(title, "New document");
    EXPECT_EQ(accept, "Create");
}

TEST_F(DesktopShellTest, FileNewOnAnExistingDocumentAsksBeforeReplacingIt) {
    const std::string path = MakeDocument("kept.tvrx", {"test:smpte", "test:ball"});
    const QString name = QString::fromStdString(path);

    // "No": nothing is created, the file keeps its two cameras.
    m_answer = false;
    EXPECT_EQ(FileNewWithoutSheet(*m_frame, name), nullptr);
    ASSERT_EQ(m_questions.size(), 1);
    EXPECT_TRUE(m_questions[0].contains("exists already")) << m_questions[0].toStdString();
    EXPECT_TRUE(m_questions[0].contains(name));
    {
        CTavrixDoc kept;
        ASSERT_TRUE(kept.OnOpenDocument(path));
        EXPECT_EQ(kept.GetCameraIds().size(), 2u);
    }

    // "Yes": the new document takes the file's place at its first save.
    m_answer = true;
    tavrixtest::AnswerSheet(true);
    CTavrixView* view = m_frame->FileNewNamed(name);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(m_questions.size(), 2);
    ASSERT_TRUE(m_frame->SaveDocument(view));
    {
        CTavrixDoc replaced;
        ASSERT_TRUE(replaced.OnOpenDocument(path));
        EXPECT_EQ(replaced.GetCameraIds().size(), 1u);
    }

    // While that file is open in a window, no second document is made on it.
    EXPECT_EQ(FileNewWithoutSheet(*m_frame, name), nullptr);
    ASSERT_EQ(m_questions.size(), 3);
    EXPECT_TRUE(m_questions[2].contains("is open")) << m_questions[2].toStdString();
    EXPECT_EQ(m_frame->Views().size(), 1u);

    // A name that names no file is not asked about.
    tavrixtest::AnswerSheet(false);
    EXPECT_EQ(m_frame->FileNewNamed(m_dir.filePath("fresh.tvrx")), nullptr);
    EXPECT_EQ(m_questions.size(), 3);
}

TEST_F(DesktopShellTest, EachCameraButtonSaysWhatItWillDo) {
    MessageBoxes boxes; // the camera without a device reports it
    const std::string path = MakeDocument("buttons.tvrx", {"test:motion", "test:motion"});
    {
        // The second camera's device cannot be found: it stays Unavailable whatever the switch.
        CTavrixDoc document;
        ASSERT_TRUE(document.OnOpenDocument(path));
        document.Edit(
            [](CTavrixDocData& data) { data.m_cameras.Find(1)->m_videoDeviceDN = "usb:/dev/video9"; });
        ASSERT_TRUE(document.OnSaveDocument());
    }
    CTavrixView* view = m_frame->OpenDocument(QString::fromStdString(path));
    ASSERT_NE(view, nullptr);
    CCameraWindow* live = view->FindCameraWindow(0);
    CCameraWindow* missing = view->FindCameraWindow(1);
    ASSERT_NE(live, nullptr);
    ASSERT_NE(missing, nullptr);
    const auto labels = [&] {
        return std::make_pair(live->ActivateButton()->text(), missing->ActivateButton()->text());
    };
    ASSERT_TRUE(WaitUntil([live] { return live->TitleLabel()->text() == "Default - Inactive"; }));
    EXPECT_EQ(labels(), std::make_pair(QString("Activate"), QString("Activate")));

    live->ActivateButton()->click();
    EXPECT_TRUE(WaitUntil([live] { return live->TitleLabel()->text() == "Default - Idle"; }));
    EXPECT_EQ(live->ActivateButton()->text(), "Deactivate");
    missing->ActivateButton()->click();
    EXPECT_EQ(missing->ActivateButton()->text(), "Deactivate") << "switched on, though still Unavailable";
    EXPECT_TRUE(missing->TitleLabel()->text().endsWith("Unavailable"));

    live->ActivateButton()->click();
    EXPECT_TRUE(WaitUntil([live] { return live->TitleLabel()->text() == "Default - Inactive"; }));
    EXPECT_EQ(labels(), std::make_pair(QString("Activate"), QString("Deactivate")));

    // The application's broadcasts relabel every button, also where no state changes.
    m_core.ActivateAllCameras();
    EXPECT_EQ(labels(), std::make_pair(QString("Deactivate"), QString("Deactivate")));
    m_core.DeactivateAllCameras();
    EXPECT_EQ(labels(), std::make_pair(QString("Activate"), QString("Activate")));
    QApplication::processEvents();
    EXPECT_EQ(labels(), std::make_pair(QString("Activate"), QString("Activate")));
}

TEST_F(DesktopShellTest, CloseAndFullScreenKeysWorkWithACameraInFocus) {
    const QString path = QString::fromStdString(MakeDocument("keys.tvrx", {"test:smpte"}));
    m_frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_frame.get()));
    // Opens the document with the focus on its camera's button, as after switching the camera.
    const auto openWithFocus = [&]() -> QWidget* {
        CTavrixView* view = m_frame->OpenDocument(path);
        if (view == nullptr) {
            return nullptr;
        }
        QPushButton* button = view->FindCameraWindow(0)->ActivateButton();
        button->setFocus();
        return WaitUntil([button] { return button->hasFocus(); }) ? button : nullptr;
    };

    QWidget* focused = openWithFocus();
    ASSERT_NE(focused, nullptr);
    EXPECT_TRUE(m_frame->FullScreenAction()->shortcuts().contains(QKeySequence(Qt::Key_F11)));
    QTest::keyClick(focused, Qt::Key_F11);
    EXPECT_TRUE(WaitUntil([this] { return m_frame->isFullScreen(); }));
    EXPECT_TRUE(m_frame->FullScreenAction()->isChecked());
    QTest::keyClick(focused, Qt::Key_F11);
    EXPECT_TRUE(WaitUntil([this] { return !m_frame->isFullScreen(); }));

    // Every key of File Close, Ctrl+W among them, closes the document: the document window's own
    // menu does not claim them too.
    const QList<QKeySequence> keys = m_frame->CloseAction()->shortcuts();
    EXPECT_TRUE(keys.contains(QKeySequence(Qt::CTRL | Qt::Key_W)))
        << QKeySequence::listToString(keys).toStdString();
    for (const QKeySequence& key : keys) {
        if (focused == nullptr) {
            focused = openWithFocus();
        }
        ASSERT_NE(focused, nullptr);
        QSignalSpy closed(m_frame->CloseAction(), &QAction::triggered);
        QTest::keySequence(focused, key);
        focused = nullptr;
        EXPECT_TRUE(WaitUntil([this] { return m_frame->Views().empty(); }, 5000))
            << key.toString().toStdString();
        EXPECT_EQ(closed.count(), 1) << key.toString().toStdString();
        m_frame->CloseAllDocuments();
    }
}

TEST(DesktopShell, ADisplayIsFoundWhereTheEnvironmentNamesOne) {
    const auto has = [](std::map<std::string, std::string> environment) {
        return DesktopShell::HasDisplay([&environment](const char* name) -> const char* {
            const auto found = environment.find(name);
            return found != environment.end() ? found->second.c_str() : nullptr;
        });
    };
    EXPECT_FALSE(has({}));
    EXPECT_FALSE(has({{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}));
    EXPECT_TRUE(has({{"DISPLAY", ":0"}}));
    EXPECT_TRUE(has({{"WAYLAND_DISPLAY", "wayland-0"}}));
    // Platforms without a display server (the tests' offscreen) need none.
    EXPECT_TRUE(has({{"QT_QPA_PLATFORM", "offscreen"}}));
    EXPECT_TRUE(has({{"QT_QPA_PLATFORM", "minimal"}}));
    EXPECT_TRUE(has({{"QT_QPA_PLATFORM", "vnc:size=800x600"}}));
    // A platform that needs one is taken at its word.
    EXPECT_FALSE(has({{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "wayland-0"}}));
    EXPECT_TRUE(has({{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":1"}}));
    EXPECT_FALSE(has({{"QT_QPA_PLATFORM", "wayland-egl"}, {"DISPLAY", ":1"}}));
    EXPECT_TRUE(has({{"QT_QPA_PLATFORM", "wayland;xcb"}, {"DISPLAY", ":1"}}));
    EXPECT_TRUE(has({{"QT_QPA_PLATFORM", "xcb;offscreen"}}));
}

} // namespace
